#include "platform/posix/paths.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace qm::plat {

int link_unnamed_file(int fd, int dir_fd, const char* name, std::atomic<bool>* no_direct) noexcept {
    if (!no_direct || !no_direct->load(std::memory_order_relaxed)) {
        if (::linkat(fd, "", dir_fd, name, AT_EMPTY_PATH) == 0) return 0;
        if (errno != ENOENT && errno != EPERM) return errno;
        if (no_direct) no_direct->store(true, std::memory_order_relaxed);
    }
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, proc, dir_fd, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

NativePath::NativePath(const char* path) noexcept {
    buf_[0] = '\0';
    if (!path) return;
    size_t i = 0;
    for (; path[i] != '\0'; ++i) {
        if (i + 1 >= kMax) {
            buf_[0] = '\0';
            return;
        }
        buf_[i] = path[i] == '\\' ? '/' : path[i];
    }
    buf_[i] = '\0';
    ok_ = true;
}

void NativePath::trim_trailing_separators() noexcept {
    size_t n = 0;
    while (buf_[n]) ++n;
    while (n > 1 && buf_[n - 1] == '/') buf_[--n] = '\0';
}

}  // namespace qm::plat
