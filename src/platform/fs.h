// File-system operations of the platform layer. Results that carry an error number
// use the C runtime numbering of errors.h on both sides; "\" and "/" both separate
// path components on both sides.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/result.h"
#include "platform/unique_handle.h"

namespace qm::plat {

// What a file that replaces another takes over from it, as a look at its name found it:
// on POSIX its permission bits, owner and group (known false: not looked at, or Windows,
// where the replacement asks the file itself).
struct OwnerLook {
    bool known = false;
    uint32_t mode = 0;  // the type and permission bits
    uint32_t uid = 0, gid = 0;
};

struct PathStat {
    bool is_dir = false;
    bool is_link = false;  // path_lstat only: a symbolic link, junction or mount point
    int64_t mtime = 0;  // seconds since 1970, as the runtime's stat reports it
    int64_t size = 0;
    bool read_only = false;  // the runtime's stat shows no owner write (Windows: the attribute)
    OwnerLook owner{};  // path_lstat only
};

// stat: 0, or the error number (kENOENT when the path is absent).
int path_stat(const char* path, PathStat* out) noexcept;
// The same for the name itself, never what a link there points to: a symbolic link (on
// Windows any reparse point: a junction, a mount point) is reported as is_link.
int path_lstat(const char* path, PathStat* out) noexcept;
// What is at a path, a link there not followed: for walking a tree to pack it.
struct EntryStat {
    enum class Kind { File, Directory, Link, Other } kind = Kind::Other;  // Other: a device, FIFO, socket
    bool executable = false;  // POSIX: any execute bit; Windows: what the runtime's stat says
    int64_t mtime = 0;
    int64_t size = 0;
    bool read_only = false;  // no owner write (Windows: the attribute)
    OwnerLook owner{};
};
// 0, or the error number.
int entry_stat(const char* path, EntryStat* out) noexcept;
// mkdir of one directory: 0 or error number.
int make_dir(const char* path) noexcept;
// rmdir of one empty directory: 0 or error number (kENOTEMPTY for one that holds
// anything, kENOENT for none). A link is never followed to the directory it leads to.
int remove_dir(const char* path) noexcept;
// Whether two names that differ only in the letter case of A to Z (or, Windows, in
// trailing dots and blanks of a component) name the same file: Windows, not POSIX.
bool names_fold_case() noexcept;
// chmod as the Windows runtime does it: only the owner-write bit (0200) counts; without
// it the file becomes read-only, with it writable. 0 or error number.
int change_mode(const char* path, unsigned mode) noexcept;
// chdir: 0 or error number.
int change_dir(const char* path) noexcept;

// A file's bytes in memory of the process's own, read-only, for as long as the image
// lives: a snapshot that no other writer can change or cut short under the walk.
class FileImage {
public:
    FileImage() noexcept = default;
    FileImage(const FileImage&) = delete;
    FileImage& operator=(const FileImage&) = delete;
    ~FileImage() { release(); }

    const unsigned char* data() const noexcept { return bytes_; }

private:
    friend class InFile;
    // The side's: writable memory of size bytes (0, or kENOMEM); read-only once sealed.
    int reserve(size_t size) noexcept;
    void seal() noexcept;
    void release() noexcept;
    unsigned char* bytes_ = nullptr;
    size_t size_ = 0;
};

// What InFile::load answers, beside 0 and the runtime's error numbers, for a file that
// another program changed while it was read: its length or its times moved, or it ended
// before its length.
constexpr int kChangedWhileRead = -1;

// A file read whole: opened for reading with every sharing allowed ("rb"), its size
// taken from the open file (fstat), then read to its end.
class InFile {
public:
    // Never waits: a FIFO without a writer or a device opens at once. FileStep::Open,
    // with the system's code (a package another program holds: its sharing refusal).
    CallResult open(const char* path) noexcept;
    // Whether the open file is a regular file (not a directory, FIFO or device).
    bool is_regular() noexcept;
    int size(int64_t* out) noexcept;
    // Reads exactly size bytes; 0, or the error number (kEIO when the file was shorter).
    int read_exact(void* buffer, size_t size) noexcept;
    // The first size bytes (the size the file has) as an image: 0, the error number
    // (kENOMEM when there is no memory for it), or kChangedWhileRead.
    int load(size_t size, FileImage* out) noexcept;

private:
    // What tells one version of the open file from another.
    struct Version {
        int64_t size = -1;
        int64_t written = 0;  // the last write's time, as finely as the side keeps it
        int64_t changed = 0;  // the last change of its length or status, where the side keeps one
        bool operator==(const Version& o) const noexcept {
            return size == o.size && written == o.written && changed == o.changed;
        }
    };
    int version(Version* out) noexcept;  // the side's: 0 or the error number
    // The side's: one read of at most size bytes into buffer; *got 0 at the file's end.
    int read_some(void* buffer, size_t size, size_t* got) noexcept;
    // Reads until size bytes or the file's end (*got says how far); 0 or the error number.
    int fill(void* buffer, size_t size, size_t* got) noexcept;
    unique_fd fd_;
};

}  // namespace qm::plat
