#include "platform/posix/paths.h"

namespace qm::plat {

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
