// Whole-file operations of the file utilities, with the Windows semantics they rely
// on: exclusive opens of existing files, the three file times in the Windows form, a
// copy that replaces, a move that never replaces, and a delete of one file.
// "\" separates path components on both sides.
// Unlike the rest of the platform layer (0 or an error number), these answer as the
// Win32 calls they stand for (true or nonzero on success), because the exports hand
// those results on as they are; the failed call's error is then failed_call_error()'s
// (session.h).
#pragma once

#include <cstdint>

#include "platform/side.h"

namespace qm::plat {

// Each time is a count of 100-nanosecond units since 1 January 1601 (the Windows
// file-time form). On POSIX, creation is the birth time where the file system keeps
// one, else 0.
struct FileTimes {
    uint64_t creation = 0;
    uint64_t access = 0;
    uint64_t write = 0;
};

// CompareFileTime: -1 when a is earlier, 0 when equal, 1 when later.
int compare_file_time(uint64_t a, uint64_t b) noexcept;

// An existing regular file, opened without sharing (CreateFileA, share mode 0,
// OPEN_EXISTING): on Windows the open fails while anyone else holds the file, and
// nobody else can open it meanwhile. POSIX has no such open; there it succeeds whoever
// else holds the file. A directory never opens.
class ExclusiveFile {
public:
    enum class Access {
        Read,      // to read its times (GENERIC_READ)
        SetTimes,  // to set its times (FILE_WRITE_ATTRIBUTES)
    };
    bool open(const char* path, Access access) noexcept;
    bool get_times(FileTimes* out) const noexcept;
    // POSIX cannot set a creation time: there the access and write times are set.
    bool set_times(const FileTimes& times) noexcept;

private:
    unique_file file_;  // the side's open file (platform/side.h)
};

// CopyFileA(from, to, FALSE): the whole file onto to, replacing an existing file, with
// the source's attributes (POSIX: mode) and times (as they are after the copy read it:
// no copy of the times is needed after it); false when the copy failed. Written
// through the whole-file write (whole_file.h), so a failed or interrupted copy leaves
// to as it was, a replaced to keeps its identity, and a link at to is replaced, never
// written through. A read-only destination (POSIX: without the owner-write bit) and a
// directory are not replaced, and a file is never copied onto itself. The copy is
// written within scope (whole_file.h; null: on its own).
class WholeFileScope;
bool copy_file_replace(const char* from, const char* to, WholeFileScope* scope = nullptr) noexcept;

// MoveFileA: renames a file or a directory, or moves a file to another volume; never
// replaces an existing to. False on any failure, with nothing changed.
bool move_file(const char* from, const char* to) noexcept;

// DeleteFileA: removes one file; a directory, a read-only file (no owner-write bit on
// POSIX) and a missing file give 0. The platform's result: nonzero on success.
int delete_file(const char* path) noexcept;

}  // namespace qm::plat
