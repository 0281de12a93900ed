// File-system operations of the platform layer. Results that carry an error number
// use the C runtime numbering of errors.h on both sides; "\" and "/" both separate
// path components on both sides.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/unique_handle.h"

namespace qm::plat {

struct PathStat {
    bool is_dir = false;
    int64_t mtime = 0;  // seconds since 1970, as the runtime's stat reports it
    int64_t size = 0;
};

// stat: 0, or the error number (kENOENT when the path is absent).
int path_stat(const char* path, PathStat* out) noexcept;
// What is at a path, a link there not followed: for walking a tree to pack it.
struct EntryStat {
    enum class Kind { File, Directory, Link, Other } kind = Kind::Other;  // Other: a device, FIFO, socket
    bool executable = false;  // POSIX: any execute bit; Windows: what the runtime's stat says
    int64_t mtime = 0;
    int64_t size = 0;
};
// 0, or the error number.
int entry_stat(const char* path, EntryStat* out) noexcept;
// mkdir of one directory: 0 or error number.
int make_dir(const char* path) noexcept;
// chmod as the Windows runtime does it: only the owner-write bit (0200) counts; without
// it the file becomes read-only, with it writable. 0 or error number.
int change_mode(const char* path, unsigned mode) noexcept;
// Clears read-only and every other attribute (SetFileAttributes NORMAL); result ignored by callers.
void set_attributes_normal(const char* path) noexcept;
// utime with access and modification time both t (seconds since 1970). 0 or error number.
int set_file_time(const char* path, int64_t t) noexcept;
// chdir: 0 or error number.
int change_dir(const char* path) noexcept;
// Renames from onto to, replacing an existing file. 0 or error number.
int replace_file(const char* from, const char* to) noexcept;
// Removes a file. 0 or error number.
int remove_file(const char* path) noexcept;

// A file being written: created (or truncated), written, closed. Every call gives 0 or
// an error number; the destructor closes a file still open.
struct FdTraits {
    using pointer = int;
    static constexpr int invalid() noexcept { return -1; }
    static bool is_valid(int fd) noexcept { return fd >= 0; }
    static bool close(int fd) noexcept;
};
using unique_fd = unique_handle<FdTraits>;

class OutFile {
public:
    // Creates path or truncates it ("wb").
    int create(const char* path) noexcept;
    // Creates path only where nothing of that name exists yet (an exclusive create). Any
    // error means "not created", and the caller takes the long way; kEEXIST also stands
    // for a create that fault injection wants to see go the long way.
    int create_new(const char* path) noexcept;
    // Creates a new, uniquely and shortly named file in the directory of path (never an
    // existing one); its name is written to tmp_name. 0 or error number.
    int create_temp_beside(const char* path, char* tmp_name, size_t tmp_size) noexcept;
    int write(const void* data, size_t size) noexcept;
    // Sets access and modification time on the open file (saves a path lookup). 0 or error number.
    int set_time(int64_t t) noexcept;
    int close() noexcept;
    bool is_open() const noexcept { return static_cast<bool>(fd_); }

    // Completes a file that create_new made and that has been written: leaves it as
    // change_mode(path, mode), set_attributes_normal(path) and set_file_time(path, t) after
    // close() would, doing on the open file what the platform allows, and closes it. Each
    // step's error number (0 when it went well); every step is tried.
    struct Finish {
        int close = 0;
        int mode = 0;
        int time = 0;
    };
    Finish finish_new(const char* path, unsigned mode, int64_t t) noexcept;

private:
    unique_fd fd_;
};

// A file read whole: opened for reading with every sharing allowed ("rb"), its size
// taken from the open file (fstat), then read in one call.
class InFile {
public:
    // Never waits: a FIFO without a writer or a device opens at once.
    int open(const char* path) noexcept;
    // Whether the open file is a regular file (not a directory, FIFO or device).
    bool is_regular() noexcept;
    int size(int64_t* out) noexcept;
    // Reads exactly size bytes; 0, or the error number (kEIO when the file was shorter).
    int read_exact(void* buffer, size_t size) noexcept;

private:
    unique_fd fd_;
};

}  // namespace qm::plat
