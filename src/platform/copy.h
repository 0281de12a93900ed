// Whole-file copy and delete with the Windows rules (CopyFileA with replacing allowed,
// DeleteFileA), for the configuration steps that move product files into place.
#pragma once

namespace qm::plat {

// Copies from onto to, replacing an existing file; the copy keeps the source's
// last-write time and read-only state. Fails when the source is missing or a directory,
// when to is a directory or a read-only file, or when both name the same file. On POSIX
// the new file is complete before it takes the name, so a failed copy leaves to as it was.
bool copy_file_replace(const char* from, const char* to) noexcept;

// Deletes a file; fails for a read-only file or a directory.
bool delete_file(const char* path) noexcept;

}  // namespace qm::plat
