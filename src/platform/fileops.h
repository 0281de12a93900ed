// Whole-file operations of the file utilities, with the Windows semantics they rely
// on: exclusive opens of existing files, the three file times in the Windows form, a
// copy that replaces, a move that never replaces, and a delete of one file.
// "\" separates path components on both sides. Each answers with its CallResult: the
// step that failed and the code the Win32 call it stands for gave then.
#pragma once

#include <cstdint>

#include "platform/result.h"
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
    CallResult open(const char* path, Access access) noexcept;  // FileStep::Open
    CallResult get_times(FileTimes* out) const noexcept;        // FileStep::Read
    // POSIX cannot set a creation time: there the access and write times are set.
    CallResult set_times(const FileTimes& times) noexcept;      // FileStep::Time

private:
    unique_file file_;  // the side's open file (platform/side.h)
};

// MoveFileA: renames a file or a directory, or moves a file to another volume; never
// replaces an existing to. On any failure nothing is changed (FileStep::Place).
CallResult move_file(const char* from, const char* to) noexcept;

// DeleteFileA: removes one file; a directory, a read-only file (no owner-write bit on
// POSIX) and a missing file are not removed (FileStep::Remove).
CallResult delete_file(const char* path) noexcept;

}  // namespace qm::plat
