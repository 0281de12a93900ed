#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/paths.h"
#include "platform/sys.h"

namespace qm::plat {

CallResult set_env(const char* name, const char* value) noexcept {
    if (!name || !*name || std::strchr(name, '=')) return failed_with(FileStep::None, kEINVAL);
    const int r = value ? ::setenv(name, value, 1) : ::unsetenv(name);
    return r == 0 ? CallResult{} : failed_now(FileStep::None);
}

CallResult windows_dir(char* out, size_t size, unsigned* length) noexcept {
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
    *length = static_cast<unsigned>(n + 1 > size ? n + 1 : n);
    if (n + 1 <= size) std::memcpy(out, buf, n + 1);
    return {};
}

CallResult short_path(const char* path, char* out, size_t size, unsigned* length) noexcept {
    *length = 0;
    NativePath p(path);
    if (!p.ok()) return failed_with(FileStep::None, kENAMETOOLONG);
    struct stat st;
    if (::stat(p.c_str(), &st) != 0) return failed_now(FileStep::None);
    const size_t n = std::strlen(path);
    *length = static_cast<unsigned>(n + 1 > size ? n + 1 : n);
    if (n + 1 <= size) std::memcpy(out, path, n + 1);
    return {};
}

}  // namespace qm::plat
