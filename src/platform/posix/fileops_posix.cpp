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

// An existing regular file opened for reading, with its status. FIFOs and devices are
// not files to copy or to time and must not block the open; anything but a regular file
// is refused the access, as a directory is on Windows.
CallResult open_source(const char* native, unique_fd* fd, struct stat* st) noexcept {
    fd->reset(::open(native, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!*fd) return failed_now(FileStep::Open);
    if (::fstat(fd->get(), st) != 0) {
        const CallResult r = failed_now(FileStep::Read);
        fd->reset();
        return r;
    }
    if (S_ISREG(st->st_mode)) return {};
    fd->reset();
    return failed_with(FileStep::Open, kEACCES);
}

// Writes the content of in through out and stages it with the mode of st and the times
// the source has once it has been read (what a copy of its times made after the copy
// would give the copy).
CallResult fill(int in, struct stat st, WholeFile& out) noexcept {
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failed_now(FileStep::Read);
        if (n == 0) break;
        if (const int e = out.write(buffer, static_cast<size_t>(n))) return failed_with(FileStep::Write, e);
    }
    if (::fstat(in, &st) != 0) return failed_now(FileStep::Read);
    WholeFileEnd end;
    end.mode_kind = WholeFileEnd::Mode::Exact;
    end.mode = st.st_mode & 07777;
    end.times_kind = WholeFileEnd::Times::Exact;
    end.times.access = to_filetime(st.st_atim.tv_sec, st.st_atim.tv_nsec);
    end.times.write = to_filetime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    return out.stage(end);
}

// MoveFileA of a file to another volume: a copy that never replaces an existing to,
// then the removal of the original; undone when the original cannot be removed.
CallResult move_across_volumes(const NativePath& from, const NativePath& to) noexcept {
    struct stat st;
    unique_fd in;
    if (CallResult r = open_source(from.c_str(), &in, &st); !r.ok()) {
        // A directory does not move to another volume.
        return failed_with(FileStep::Place, kEXDEV);
    }
    WholeFile out;
    if (const int e = out.begin(to.c_str(), WholeFile::Intent::New, nullptr)) return failed_with(FileStep::Place, e);
    CallResult r = fill(in.get(), st, out);
    if (r.ok()) r = out.publish();
    if (!r.ok()) return r;
    if (::unlink(from.c_str()) != 0) {
        const CallResult kept = failed_now(FileStep::Place);
        (void)::unlink(to.c_str());
        return kept;
    }
    return {};
}

}  // namespace

int compare_file_time(uint64_t a, uint64_t b) noexcept { return a < b ? -1 : (a > b ? 1 : 0); }

CallResult ExclusiveFile::open(const char* path, Access) noexcept {
    file_.reset();
    if (!path) return failed_with(FileStep::Open, kEINVAL);
    NativePath p(path);
    if (!p.ok()) return failed_with(FileStep::Open, kENAMETOOLONG);
    // A descriptor open for reading is enough to set the times of a file one owns.
    struct stat st;
    return open_source(p.c_str(), &file_, &st);
}

CallResult ExclusiveFile::get_times(FileTimes* out) const noexcept {
    if (!file_) return failed_with(FileStep::Read, kEBADF);
    const int fd = file_.get();
    out->creation = 0;
    // One statx gives all three where it can; fstat where it cannot.
    struct statx sx;
    constexpr unsigned kTimes = STATX_ATIME | STATX_MTIME;
    if (::statx(fd, "", AT_EMPTY_PATH, kTimes | STATX_BTIME, &sx) == 0 && (sx.stx_mask & kTimes) == kTimes) {
        out->access = to_filetime(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
        out->write = to_filetime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
        if (sx.stx_mask & STATX_BTIME) out->creation = to_filetime(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
        return {};
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) return failed_now(FileStep::Read);
    out->access = to_filetime(st.st_atim.tv_sec, st.st_atim.tv_nsec);
    out->write = to_filetime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    return {};
}

CallResult ExclusiveFile::set_times(const FileTimes& t) noexcept {
    if (!file_) return failed_with(FileStep::Time, kEBADF);
    if (const int e = fault::check(fault::Op::SetTime)) return failed_with(FileStep::Time, e);
    const struct timespec times[2] = {from_filetime(t.access), from_filetime(t.write)};
    return ::futimens(file_.get(), times) == 0 ? CallResult{} : failed_now(FileStep::Time);
}

CallResult FileCopy::stage_side(const char* from, const char* to, WholeFileScope* scope) noexcept {
    if (!from || !to) return failed_with(FileStep::Open, kEINVAL);
    NativePath a(from), b(to);
    if (!a.ok() || !b.ok()) return failed_with(FileStep::Open, kENAMETOOLONG);
    struct stat src;
    unique_fd in;
    if (CallResult r = open_source(a.c_str(), &in, &src); !r.ok()) return r;
    // The name itself is looked at, never what a link there points to: a link is
    // replaced by the copy, its destination left alone.
    struct stat dst;
    WholeFile::Intent intent = WholeFile::Intent::New;
    if (::lstat(b.c_str(), &dst) == 0) {
        // As on Windows: a file is not its own destination, and neither a directory nor a
        // read-only file is replaced.
        if (!S_ISLNK(dst.st_mode) && (same_file(src, dst) || S_ISDIR(dst.st_mode) || !(dst.st_mode & 0200)))
            return failed_with(FileStep::Open, kEACCES);
        intent = WholeFile::Intent::Replace;
    } else if (errno != ENOENT) {
        return failed_now(FileStep::Open);
    }
    if (const int e = out_.begin(to, intent, scope)) return failed_with(FileStep::Create, e);
    return fill(in.get(), src, out_);
}

CallResult move_file(const char* from, const char* to) noexcept {
    if (!from || !to) return failed_with(FileStep::Place, kEINVAL);
    NativePath a(from), b(to);
    if (!a.ok() || !b.ok()) return failed_with(FileStep::Place, kENAMETOOLONG);
    if (const int e = fault::check(fault::Op::Rename))
        return e == kEXDEV ? move_across_volumes(a, b) : failed_with(FileStep::Place, e);
    if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) == 0) return {};
    int e = errno;
    if (e == EINVAL || e == ENOSYS || e == EOPNOTSUPP) {
        // A file system without the no-replace rename: look first.
        struct stat st;
        if (::lstat(b.c_str(), &st) == 0) return failed_with(FileStep::Place, kEEXIST);
        if (errno != ENOENT) return failed_now(FileStep::Place);
        if (::rename(a.c_str(), b.c_str()) == 0) return {};
        e = errno;
    }
    return e == EXDEV ? move_across_volumes(a, b) : failed_with(FileStep::Place, from_native_errno(e));
}

CallResult delete_file(const char* path) noexcept {
    if (!path) return failed_with(FileStep::Remove, kEINVAL);
    NativePath p(path);
    if (!p.ok()) return failed_with(FileStep::Remove, kENAMETOOLONG);
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0) return failed_now(FileStep::Remove);
    // A directory, and a read-only file, as on Windows.
    if (S_ISDIR(st.st_mode) || (!S_ISLNK(st.st_mode) && !(st.st_mode & 0200)))
        return failed_with(FileStep::Remove, kEACCES);
    return ::unlink(p.c_str()) == 0 ? CallResult{} : failed_now(FileStep::Remove);
}

}  // namespace qm::plat
