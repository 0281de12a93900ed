// What the two sides of the whole-file write share with its portable part.
#pragma once

#include <cstddef>

namespace qm::plat {

// Removes the temporary at path when no running writer holds it. True when the name is
// free afterwards.
bool whole_file_remove_stale(const char* path) noexcept;
// The name the old content of path takes while a replace puts the new file in its place
// (Windows hands it to ReplaceFileA): ".qm", the eight hex digits of the temporaries,
// "~~" and the file name, so that what a replace ended midway leaves tells whose it
// is. False when it does not fit size or one name's limit.
bool whole_file_backup_name(const char* path, char* out, size_t size) noexcept;
// What an ended replace left at backup (the old content of path) settled: it becomes
// path again when nothing has that name, and is removed otherwise. Left alone while a
// running writer holds it. True when backup is gone.
bool whole_file_settle_backup(const char* backup, const char* path) noexcept;

}  // namespace qm::plat
