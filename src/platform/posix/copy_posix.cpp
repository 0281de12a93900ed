// POSIX side of the whole-file copy and delete, with the Windows refusals kept: a
// read-only file is neither replaced nor deleted, and a file is never copied onto itself
// (which, replacing the target first, would lose the only copy).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/alloc.h"
#include "platform/copy.h"
#include "platform/posix/paths.h"
#include "platform/posix/replace.h"
#include "platform/unique_handle.h"

namespace qm::plat {

namespace {

bool read_only(const struct stat& st) noexcept { return (st.st_mode & 0200) == 0; }

}  // namespace

bool copy_file_replace(const char* from, const char* to) noexcept {
    NativePath src(from), dst(to);
    if (!src.ok() || !dst.ok()) return false;
    unique_fd in(::open(src.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return false;
    struct stat s;
    if (::fstat(in.get(), &s) != 0 || !S_ISREG(s.st_mode)) return false;
    struct stat d;
    if (::stat(dst.c_str(), &d) == 0) {
        if (!S_ISREG(d.st_mode) || read_only(d)) return false;
        if (d.st_dev == s.st_dev && d.st_ino == s.st_ino) return false;
    } else if (errno != ENOENT) {
        return false;
    }

    constexpr size_t kChunk = 64 * 1024;
    auto buf = try_make_array<char>(kChunk);
    if (!buf) return false;
    ReplacingFile out;
    if (out.open(dst.c_str()) != 0) return false;
    while (true) {
        ssize_t n = ::read(in.get(), buf.get(), kChunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        if (out.write(buf.get(), static_cast<size_t>(n)) != 0) return false;
    }
    const int64_t mtime = static_cast<int64_t>(s.st_mtime);
    return out.commit(&s.st_mode, &mtime) == 0;
}

bool delete_file(const char* path) noexcept {
    NativePath p(path);
    struct stat st;
    if (!p.ok() || ::lstat(p.c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && read_only(st))) return false;
    return ::unlink(p.c_str()) == 0;
}

}  // namespace qm::plat
