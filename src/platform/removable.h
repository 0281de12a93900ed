// Removing what a package installed: a file is opened first, never through a link at
// its name or on its way, looked at (what it is, its size, time and bytes), and only
// then, when the caller decides so, deleted: the very file that was looked at, never
// whatever took its name meanwhile. A directory is removed only when it is empty.
// "\" separates path components on both sides.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/host.h"
#include "platform/result.h"
#include "platform/side.h"

namespace qm::plat {

// Every call answers with its CallResult: the runtime's number (for the text) and the
// Win32 code of the call that failed, which an export leaves as its last error (32
// ERROR_SHARING_VIOLATION for a file another program holds open).

// Another program holds the file open and does not let it be deleted.
inline bool held_open(const CallResult& r) noexcept {
    return r.code == win32::kSharingViolation || r.code == win32::kLockViolation;
}

class RemovableFile {
public:
    RemovableFile() noexcept = default;
    RemovableFile(const RemovableFile&) = delete;
    RemovableFile& operator=(const RemovableFile&) = delete;

    // Opens the file at path for reading and for deleting, letting nobody else write or
    // delete it while it is open (Windows; POSIX has no such open). A link at the name is
    // not opened (a failure, with link() true), nor is anything reached through a link on
    // the way (POSIX: refused by the system; Windows: the caller looks at the way first).
    // FileStep::Open.
    CallResult open(const char* path) noexcept;
    bool link() const noexcept { return link_; }
    // What the open file is.
    bool is_regular() const noexcept { return regular_; }
    bool read_only() const noexcept { return read_only_; }  // POSIX: no owner-write bit
    int64_t size() const noexcept { return size_; }
    int64_t mtime() const noexcept { return mtime_; }  // seconds since 1970, as stat has it
    // The next size bytes of it; kEIO when it ends before them (FileStep::Read).
    CallResult read_exact(void* buffer, size_t size) noexcept;
    // Deletes the open file; refused (number kEEXIST) where its name now holds another.
    // The file is closed either way (FileStep::Remove).
    CallResult remove() noexcept;
    void close() noexcept;

private:
    RemovableFileState state_;  // the side's (platform/side.h)
    bool link_ = false;
    bool regular_ = false;
    bool read_only_ = false;
    int64_t size_ = 0;
    int64_t mtime_ = 0;
};

// Removes the empty directory at path, never one a link stands for (the link is not
// removed either). A directory that holds anything gives kENOTEMPTY (145
// ERROR_DIR_NOT_EMPTY); FileStep::Remove.
CallResult remove_empty_directory(const char* path) noexcept;

}  // namespace qm::plat
