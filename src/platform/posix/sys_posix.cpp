#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/paths.h"
#include "platform/sys.h"

namespace qm::plat {

int set_env(const char* name, const char* value) noexcept {
    if (!name || !*name || std::strchr(name, '=')) return 0;
    if (!value) return ::unsetenv(name) == 0 ? 1 : 0;
    return ::setenv(name, value, 1) == 0 ? 1 : 0;
}

unsigned windows_dir(char* out, size_t size) noexcept {
    char buf[4096];
    const char* w = std::getenv("WINDIR");
    if (w && *w) {
        std::snprintf(buf, sizeof buf, "%s", w);
    } else {
        const char* home = std::getenv("HOME");
        std::snprintf(buf, sizeof buf, "%s/.quillmar", home && *home ? home : "/tmp");
        ::mkdir(buf, 0777);
        std::snprintf(buf, sizeof buf, "%s/.quillmar/windows", home && *home ? home : "/tmp");
        ::mkdir(buf, 0777);
    }
    const size_t n = std::strlen(buf);
    if (n + 1 > size) return static_cast<unsigned>(n + 1);
    std::memcpy(out, buf, n + 1);
    return static_cast<unsigned>(n);
}

unsigned short_path(const char* path, char* out, size_t size) noexcept {
    NativePath p(path);
    struct stat st;
    if (!p.ok() || ::stat(p.c_str(), &st) != 0) return 0;
    const size_t n = std::strlen(path);
    if (n + 1 > size) return static_cast<unsigned>(n + 1);
    std::memcpy(out, path, n + 1);
    return static_cast<unsigned>(n);
}

}  // namespace qm::plat
