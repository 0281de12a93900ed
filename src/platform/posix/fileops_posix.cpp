#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/fileops.h"
#include "platform/fs.h"
#include "platform/posix/filetime.h"
#include "platform/posix/paths.h"
#include "platform/whole_file.h"

namespace qm::plat {

namespace {

bool same_file(const struct stat& a, const struct stat& b) noexcept {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// An existing regular file opened for reading, with its status; FIFOs and devices are
// not files to copy or to time, and must not block the open.
unique_fd open_regular(const char* native, struct stat* st) noexcept {
    unique_fd fd(::open(native, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd && (::fstat(fd.get(), st) != 0 || !S_ISREG(st->st_mode))) fd.reset();
    return fd;
}

// Writes the content of in through out, which ends with the mode of st and the times
// the source has once it has been read (what a copy of its times made after the copy
// would give the copy).
bool fill(int in, struct stat st, WholeFile& out) noexcept {
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        if (out.write(buffer, static_cast<size_t>(n)) != 0) return false;
    }
    if (::fstat(in, &st) != 0) return false;
    WholeFileEnd end;
    end.mode_kind = WholeFileEnd::Mode::Exact;
    end.mode = st.st_mode & 07777;
    end.times_kind = WholeFileEnd::Times::Exact;
    end.times.access = to_filetime(st.st_atim.tv_sec, st.st_atim.tv_nsec);
    end.times.write = to_filetime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    return out.commit(end).ok();
}

// MoveFileA of a file to another volume: a copy that never replaces an existing to,
// then the removal of the original; undone when the original cannot be removed.
bool move_across_volumes(const NativePath& from, const NativePath& to) noexcept {
    struct stat st;
    unique_fd in = open_regular(from.c_str(), &st);
    if (!in) return false;  // a directory does not move to another volume
    WholeFile out;
    if (out.begin(to.c_str(), WholeFile::Intent::New, nullptr) != 0 || !fill(in.get(), st, out)) return false;
    if (::unlink(from.c_str()) != 0) {
        (void)::unlink(to.c_str());
        return false;
    }
    return true;
}

}  // namespace

int compare_file_time(uint64_t a, uint64_t b) noexcept { return a < b ? -1 : (a > b ? 1 : 0); }

bool ExclusiveFile::open(const char* path, Access) noexcept {
    file_.reset();
    if (!path) return false;
    NativePath p(path);
    struct stat st;
    if (!p.ok()) return false;
    // A descriptor open for reading is enough to set the times of a file one owns.
    unique_fd fd = open_regular(p.c_str(), &st);
    if (!fd) return false;
    file_ = std::move(fd);
    return true;
}

bool ExclusiveFile::get_times(FileTimes* out) const noexcept {
    if (!file_) return false;
    const int fd = file_.get();
    out->creation = 0;
    // One statx gives all three where it can; fstat where it cannot.
    struct statx sx;
    constexpr unsigned kTimes = STATX_ATIME | STATX_MTIME;
    if (::statx(fd, "", AT_EMPTY_PATH, kTimes | STATX_BTIME, &sx) == 0 && (sx.stx_mask & kTimes) == kTimes) {
        out->access = to_filetime(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
        out->write = to_filetime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
        if (sx.stx_mask & STATX_BTIME) out->creation = to_filetime(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
        return true;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    out->access = to_filetime(st.st_atim.tv_sec, st.st_atim.tv_nsec);
    out->write = to_filetime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    return true;
}

bool ExclusiveFile::set_times(const FileTimes& t) noexcept {
    if (!file_) return false;
    if (fault::check(fault::Op::SetTime) != 0) return false;
    const struct timespec times[2] = {from_filetime(t.access), from_filetime(t.write)};
    return ::futimens(file_.get(), times) == 0;
}

bool copy_file_replace(const char* from, const char* to, WholeFileScope* scope) noexcept {
    if (!from || !to) return false;
    NativePath a(from), b(to);
    if (!a.ok() || !b.ok()) return false;
    struct stat src;
    unique_fd in = open_regular(a.c_str(), &src);
    if (!in) return false;
    // The name itself is looked at, never what a link there points to: a link is
    // replaced by the copy, its destination left alone.
    struct stat dst;
    WholeFile::Intent intent = WholeFile::Intent::New;
    if (::lstat(b.c_str(), &dst) == 0) {
        // As on Windows: a file is not its own destination, and neither a directory nor a
        // read-only file is replaced.
        if (!S_ISLNK(dst.st_mode) && (same_file(src, dst) || S_ISDIR(dst.st_mode) || !(dst.st_mode & 0200)))
            return false;
        intent = WholeFile::Intent::Replace;
    } else if (errno != ENOENT) {
        return false;
    }
    WholeFile out;
    return out.begin(to, intent, scope) == 0 && fill(in.get(), src, out);
}

bool move_file(const char* from, const char* to) noexcept {
    if (!from || !to) return false;
    NativePath a(from), b(to);
    if (!a.ok() || !b.ok()) return false;
    if (const int e = fault::check(fault::Op::Rename)) return e == kEXDEV && move_across_volumes(a, b);
    if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) == 0) return true;
    int e = errno;
    if (e == EINVAL || e == ENOSYS || e == EOPNOTSUPP) {
        // A file system without the no-replace rename: look first.
        struct stat st;
        if (::lstat(b.c_str(), &st) == 0 || errno != ENOENT) return false;
        if (::rename(a.c_str(), b.c_str()) == 0) return true;
        e = errno;
    }
    return e == EXDEV && move_across_volumes(a, b);
}

int delete_file(const char* path) noexcept {
    if (!path) return 0;
    NativePath p(path);
    struct stat st;
    if (!p.ok() || ::lstat(p.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return 0;
    if (!S_ISLNK(st.st_mode) && !(st.st_mode & 0200)) return 0;  // read-only, as on Windows
    return ::unlink(p.c_str()) == 0 ? 1 : 0;
}

}  // namespace qm::plat
