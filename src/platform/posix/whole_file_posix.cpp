// POSIX side of the whole-file write. A new file is an unnamed file (O_TMPFILE) in its
// directory that gets its name with linkat once complete: a process that dies leaves
// nothing, and the name never shows a part. A replaced file is the same unnamed file,
// flushed, given the old file's owner, group and mode, linked in under a temporary name
// beside the old one and renamed over it; the directory is then flushed. Where the
// file system has no unnamed files, the file is written under the temporary name from
// the start. A temporary is locked (flock) while its writer lives, which tells a stale
// one from one being written.
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/posix/filetime.h"
#include "platform/posix/paths.h"
#include "platform/unique_handle.h"
#include "platform/whole_file.h"
#include "platform/whole_file_internal.h"

namespace qm::plat {

namespace {

int err() noexcept { return last_crt_error(); }
int err(int e) noexcept { return from_native_errno(e); }

size_t base_offset(const char* path) noexcept {
    const char* slash = std::strrchr(path, '/');
    return slash ? static_cast<size_t>(slash - path) + 1 : 0;
}

// The directory part of path ("." for none), for open and fsync.
void directory_of(const char* path, char* out, size_t size) noexcept {
    const size_t b = base_offset(path);
    // Copied, not formatted: this runs for every file.
    const size_t n = b == 0 ? 1 : (b == 1 ? 1 : b - 1);
    if (n >= size) {
        out[0] = '\0';
        return;
    }
    std::memcpy(out, b == 0 ? "." : path, n);
    out[n] = '\0';
}

// The umask, for a file that could not be created with the default mode; read without
// changing it where /proc tells it.
mode_t current_umask() noexcept {
    unique_fd fd(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
    if (fd) {
        char buf[4096];
        const ssize_t n = ::read(fd.get(), buf, sizeof buf - 1);
        fd.reset();
        if (n > 0) {
            buf[n] = '\0';
            if (const char* u = std::strstr(buf, "\nUmask:")) return static_cast<mode_t>(std::strtoul(u + 7, nullptr, 8));
        }
    }
    const mode_t m = ::umask(022);
    ::umask(m);
    return m;
}

// Gives the unnamed file fd the name path. The descriptor's own entry in /proc where
// the process lacks the right to link a descriptor directly.
int link_unnamed(int fd, int dir_fd, const char* name) noexcept {
    static bool direct_refused = false;
    if (!direct_refused) {
        if (::linkat(fd, "", dir_fd, name, AT_EMPTY_PATH) == 0) return 0;
        if (errno != ENOENT && errno != EPERM) return errno;
        direct_refused = true;
    }
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, proc, dir_fd, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

// rename that never replaces: renameat2 where the file system has it, else link and unlink.
int rename_new(int dir_fd, const char* from, const char* to) noexcept {
    if (::renameat2(dir_fd, from, dir_fd, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
    if (::linkat(dir_fd, from, dir_fd, to, 0) != 0) return errno;
    ::unlinkat(dir_fd, from, 0);
    return 0;
}

// A temporary that nobody holds is what a killed run left: removed. One that its writer
// still holds (locked) stays. True when the name is free now.
bool remove_if_stale(int dir_fd, const char* temp) noexcept {
    const unique_fd fd(::openat(dir_fd, temp, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) return errno == ENOENT;
    struct stat held, named;
    return ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0 && ::fstat(fd.get(), &held) == 0 && S_ISREG(held.st_mode) &&
           ::fstatat(dir_fd, temp, &named, AT_SYMLINK_NOFOLLOW) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino && ::unlinkat(dir_fd, temp, 0) == 0;
}

// Within a scope, the directory last written into, relative to the current directory,
// held open: members come directory by directory, and the names of the next ones are
// then looked up from it alone.
struct OpenDirectory {
    char path[4096] = "";
    unique_fd fd;
    // The mode a new file gets there (umask, default ACL), once the first one showed it.
    mode_t new_mode = 0;
    bool new_mode_known = false;
} g_directory;

void forget_directory() noexcept {
    g_directory.fd.reset();
    g_directory.path[0] = '\0';
    g_directory.new_mode_known = false;
}

// Without openat2: the way walked one directory at a time, none of them a link (a link
// is opened as itself and is no directory: ENOTDIR).
int open_way_without_links(const char* dir) noexcept {
    constexpr int kFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    char part[4096];
    unique_fd way;  // the directory reached so far; none: the current one
    const char* p = dir;
    do {
        const char* end = std::strchr(p, '/');
        const size_t n = end ? static_cast<size_t>(end - p) : std::strlen(p);
        const int at = way ? way.get() : AT_FDCWD;
        int fd = -1;
        if (n >= sizeof part) {
            errno = ENAMETOOLONG;
        } else if (n > 0) {
            std::memcpy(part, p, n);
            part[n] = '\0';
            fd = ::openat(at, part, kFlags);
        } else {
            fd = ::openat(at, ".", kFlags);
        }
        const int saved = errno;
        way.reset(fd);
        errno = saved;
        if (fd < 0) return -1;
        p = end ? end + 1 : nullptr;
    } while (p && *p);
    return way.release();
}

// dir opened refusing a link on the way (where the system can tell), so that nothing
// is written through one, however the way changes afterwards. *own: the caller closes it.
int open_directory(const char* dir, bool* own) noexcept {
    *own = false;
    if (g_directory.fd && std::strcmp(g_directory.path, dir) == 0) return g_directory.fd.get();
    constexpr int kFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    static bool have_openat2 = true;
    long fd = -1;
    if (have_openat2) {
        struct open_how how = {};
        how.flags = kFlags;
        how.resolve = RESOLVE_NO_SYMLINKS;
        fd = ::syscall(SYS_openat2, AT_FDCWD, dir, &how, sizeof how);
        if (fd < 0 && errno == ENOSYS) have_openat2 = false;
    }
    if (!have_openat2) fd = open_way_without_links(dir);
    if (fd < 0) return -1;
    if (!whole_file_in_scope()) {
        *own = true;
        return static_cast<int>(fd);
    }
    forget_directory();
    g_directory.fd.reset(static_cast<int>(fd));
    std::snprintf(g_directory.path, sizeof g_directory.path, "%s", dir);
    return g_directory.fd.get();
}

int write_fully(int fd, const char* p, size_t size) noexcept {
    while (size > 0) {
        if (int e = fault::check(fault::Op::Write)) return e;
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return err();
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

void flush_directory(const char* path) noexcept {
    char dir[4096];
    directory_of(path, dir, sizeof dir);
    const unique_fd fd(::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) return;
    // A failure here no longer puts the content at risk: not reported.
    (void)::fsync(fd.get());
}

}  // namespace

void whole_file_forget_directory() noexcept { forget_directory(); }

bool whole_file_remove_stale(const char* path) noexcept {
    NativePath p(path);
    return p.ok() && remove_if_stale(AT_FDCWD, p.c_str());
}

WholeFile::~WholeFile() { discard(); }

int WholeFile::dir() const noexcept { return handles_.dir >= 0 ? handles_.dir : AT_FDCWD; }

// A name as the calls take it: relative to the open directory, or as given.
static const char* as_named(const char* path, int dir_fd) noexcept {
    return dir_fd >= 0 ? path + base_offset(path) : path;
}

void WholeFile::discard() noexcept {
    if (temp_named_) ::unlinkat(dir(), as_named(temp_, handles_.dir), 0);
    handles_.file.reset();
    temp_named_ = unnamed_ = fallback_ = timed_ = false;
    handles_.own_dir.reset();
    handles_.dir = -1;
}

bool WholeFile::holds_content() const noexcept { return handles_.file && (unnamed_ || temp_named_); }

int WholeFile::open_side(const char* path, Intent intent, bool no_links_on_the_way) noexcept {
    NativePath p(path);
    if (!p.ok()) return kENAMETOOLONG;
    std::memcpy(path_, p.c_str(), std::strlen(p.c_str()) + 1);  // both hold any native path
    if (path_[base_offset(path_)] == '\0') return kEISDIR;
    whole_file_sweep_once(path_);

    char dir_path[sizeof path_];
    directory_of(path_, dir_path, sizeof dir_path);
    if (no_links_on_the_way && path_[0] != '/') {
        bool own = false;
        handles_.dir = open_directory(dir_path, &own);
        if (handles_.dir < 0) return errno == ENOENT || errno == ENOTDIR ? kENOENT : err();
        if (own) handles_.own_dir.reset(handles_.dir);
    }
    // 0666: the file has no name, so nobody can open it, and its mode tells the default
    // a new file gets (umask, default ACL).
    int fd = handles_.dir >= 0 ? ::openat(handles_.dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666)
                               : ::open(dir_path, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
        handles_.file.reset(fd);
        unnamed_ = true;
        return 0;
    }
    if (errno == ENOENT || errno == ENOTDIR) return kENOENT;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return err();

    // No unnamed files here: the temporary name from the start, private until complete.
    fallback_ = true;
    for (unsigned k = 0; k < 16; ++k) {
        if (!whole_file_temp_name(path_, k, temp_, sizeof temp_)) return kENAMETOOLONG;
        for (int attempt = 0; attempt < 2; ++attempt) {
            fd = ::openat(dir(), as_named(temp_, handles_.dir),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd >= 0) {
                (void)::flock(fd, LOCK_EX | LOCK_NB);
                handles_.file.reset(fd);
                temp_named_ = true;
                return 0;
            }
            if (errno != EEXIST) return err();
            if (!remove_if_stale(dir(), as_named(temp_, handles_.dir))) break;
        }
    }
    return kEEXIST;
}

int WholeFile::write(const void* data, size_t size) noexcept {
    if (!handles_.file) return kEBADF;
    return write_fully(handles_.file.get(), static_cast<const char*>(data), size);
}

WholeFileResult WholeFile::commit(const WholeFileEnd& end) noexcept {
    return place(end, intent_ == Intent::Replace);
}

WholeFileResult WholeFile::commit_replacing(const WholeFileEnd& end) noexcept {
    if (!holds_content()) return {WholeFileStep::Place, kEBADF};
    return place(end, true);
}

WholeFileResult WholeFile::place(const WholeFileEnd& end, bool replacing) noexcept {
    if (!handles_.file) return {WholeFileStep::Write, kEBADF};
    const int fd = handles_.file.get();
    auto fail = [this](WholeFileStep step, int e) {
        discard();
        return WholeFileResult{step, e};
    };

    // What the name holds now: a regular file's identity is kept; a link, or anything
    // else, is replaced by the file and never followed.
    struct stat old;
    const bool have_old = replacing && ::fstatat(dir(), as_named(path_, handles_.dir), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode);
    // The file as created: its mode is the default a new file gets, the same for every
    // one in the directory a scope keeps open; owner and group matter only to a replacement.
    struct stat cur;
    const bool known = !replacing && handles_.dir >= 0 && handles_.dir == g_directory.fd.get() && g_directory.new_mode_known;
    if (known) {
        cur.st_mode = g_directory.new_mode;
    } else {
        if (::fstat(fd, &cur) != 0) return fail(WholeFileStep::Mode, err());
        if (handles_.dir >= 0 && handles_.dir == g_directory.fd.get() && unnamed_ && !fallback_) {
            g_directory.new_mode = cur.st_mode & 07777;
            g_directory.new_mode_known = true;
        }
    }
    mode_t base = cur.st_mode & 07777;
    if (have_old)
        base = old.st_mode & 07777;
    else if (fallback_)
        base = 0666 & ~current_umask();
    mode_t want = base;
    if (end.mode_kind == WholeFileEnd::Mode::Runtime)
        want = ((end.mode & 0200) ? base : (base & ~mode_t(0222))) | 0200;
    else if (end.mode_kind == WholeFileEnd::Mode::Exact)
        want = static_cast<mode_t>(end.mode) & 07777;

    if (have_old && (old.st_uid != cur.st_uid || old.st_gid != cur.st_gid)) {
        // Where the process may not give both, it gives what it may.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            (void)::fchown(fd, old.st_uid, static_cast<gid_t>(-1));
            (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
        }
    }
    // A change of owner clears the set-id bits: the mode goes on after it.
    if ((want != (cur.st_mode & 07777) || have_old) && ::fchmod(fd, want) != 0)
        return fail(WholeFileStep::Mode, err());

    // A second commit, after the first found the name taken, has its times already and
    // is the same attempt to place the file.
    if (end.times_kind != WholeFileEnd::Times::Keep && !timed_) {
        if (int e = fault::check(fault::Op::SetTime)) return fail(WholeFileStep::Time, e);
        struct timespec ts[2];
        if (end.times_kind == WholeFileEnd::Times::Seconds) {
            ts[0].tv_sec = ts[1].tv_sec = static_cast<time_t>(end.seconds);
            ts[0].tv_nsec = ts[1].tv_nsec = 0;
        } else {
            ts[0] = from_filetime(end.times.access);
            ts[1] = from_filetime(end.times.write);
        }
        if (::futimens(fd, ts) != 0) return fail(WholeFileStep::Time, err());
    }
    const bool again = timed_;
    timed_ = true;

    // The content reaches the disk before it takes an old file's place. A new file
    // needs no flush: until the name is written it is not there, and after a crash that
    // loses its data it still carries its source's time, never a newer one.
    if ((replacing || fallback_) && ::fsync(fd) != 0) return fail(WholeFileStep::Write, err());

    if (int e = again ? 0 : fault::check(fault::Op::Rename)) return fail(WholeFileStep::Place, e);
    if (!replacing) {
        const int e = unnamed_ ? link_unnamed(fd, dir(), as_named(path_, handles_.dir))
                               : rename_new(dir(), as_named(temp_, handles_.dir), as_named(path_, handles_.dir));
        if (e == EEXIST) return {WholeFileStep::Place, kEEXIST};  // the content stays for commit_replacing
        if (e != 0) return fail(WholeFileStep::Place, err(e));
        unnamed_ = temp_named_ = false;
    } else {
        if (unnamed_) {
            // Named only now that it is complete; locked first, so that it is never
            // taken for one a killed run left.
            (void)::flock(fd, LOCK_EX | LOCK_NB);
            int e = EEXIST;
            for (unsigned k = 0; k < 16 && e == EEXIST; ++k) {
                if (!whole_file_temp_name(path_, k, temp_, sizeof temp_)) return fail(WholeFileStep::Place, kENAMETOOLONG);
                const char* name = as_named(temp_, handles_.dir);
                e = link_unnamed(fd, dir(), name);
                if (e == EEXIST && remove_if_stale(dir(), name)) e = link_unnamed(fd, dir(), name);
            }
            if (e != 0) return fail(WholeFileStep::Place, err(e));
            unnamed_ = false;
            temp_named_ = true;
        }
        if (::renameat(dir(), as_named(temp_, handles_.dir), dir(), as_named(path_, handles_.dir)) != 0)
            return fail(WholeFileStep::Place, err());
        temp_named_ = false;
        flush_directory(path_);
    }
    const int closed = handles_.file.reset() ? 0 : err();
    discard();
    if (closed != 0) return {WholeFileStep::Write, closed};
    return {};
}

}  // namespace qm::plat
