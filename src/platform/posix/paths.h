// On POSIX a path the library builds or receives may use "\" as its separator (the
// install scripts and the library's own formats are Windows-born); every POSIX call
// sees it with "/" instead.
#pragma once

#include <atomic>
#include <cstddef>

#include "platform/errors.h"
#include "platform/result.h"

namespace qm::plat {

// The failure of the system call that has just failed, as its errno says at once.
inline CallResult failed_now(FileStep step) noexcept { return failed_with(step, last_crt_error()); }

// Gives the unnamed file fd (O_TMPFILE) the name `name`, relative to dir_fd, never
// replacing what has it: 0, or the errno value. Through the descriptor's entry in /proc
// where the process lacks the right to link a descriptor directly; no_direct (may be
// null) remembers that, so the direct link is not tried again.
int link_unnamed_file(int fd, int dir_fd, const char* name, std::atomic<bool>* no_direct) noexcept;

class NativePath {
public:
    explicit NativePath(const char* path) noexcept;
    bool ok() const noexcept { return ok_; }
    const char* c_str() const noexcept { return buf_; }
    // Drops trailing "/" (never the root itself).
    void trim_trailing_separators() noexcept;

private:
    static constexpr size_t kMax = 4096;  // PATH_MAX on Linux
    char buf_[kMax];
    bool ok_ = false;
};

// The directory dir (an O_PATH descriptor), opened refusing a link anywhere on the way
// where the system can tell, so that nothing is written or removed through one however
// the way changes afterwards; -1 and errno on failure. (whole_file_posix.cpp)
int open_dir_without_links(const char* dir) noexcept;

}  // namespace qm::plat
