// POSIX side of the whole-file write. A new file is an unnamed file (O_TMPFILE) in its
// directory that gets its name with linkat once complete: a process that dies leaves
// nothing, and the name never shows a part. A replaced file is the same unnamed file,
// given the old file's owner, group and mode, flushed, linked in under a temporary name
// beside the old one and renamed over it; the directory is then flushed. In a batched
// scope the flush is one syncfs for every file staged before it, and the directories
// are synced with the scope's end. Where the file system has no unnamed files, the
// file is written under the temporary name from the start. A temporary is locked
// (flock) while its writer lives, which tells a stale one from one being written.
// Within a scope, a write is created and named relative to a directory the scope keeps
// open.
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/fs.h"
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

// Gives the unnamed file fd the name path (paths.h); a scope remembers that the process
// may not link a descriptor directly.
int link_unnamed(int fd, int dir_fd, const char* name, WholeFileScope* scope) noexcept {
    return link_unnamed_file(fd, dir_fd, name, scope ? &scope->side().no_direct_link : nullptr);
}

// rename that never replaces: renameat2 where the file system has it, else link and unlink.
int rename_new(int from_dir, const char* from, int to_dir, const char* to) noexcept {
    if (::renameat2(from_dir, from, to_dir, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
    if (::linkat(from_dir, from, to_dir, to, 0) != 0) return errno;
    ::unlinkat(from_dir, from, 0);
    return 0;
}
int rename_new(int dir_fd, const char* from, const char* to) noexcept { return rename_new(dir_fd, from, dir_fd, to); }

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
// is written through one, however the way changes afterwards. -1 and errno on failure.
int open_without_links(const char* dir, WholeFileScope* scope) noexcept {
    constexpr int kFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    if (!scope || !scope->side().no_openat2.load(std::memory_order_relaxed)) {
        struct open_how how = {};
        how.flags = kFlags;
        how.resolve = RESOLVE_NO_SYMLINKS;
        const long fd = ::syscall(SYS_openat2, AT_FDCWD, dir, &how, sizeof how);
        if (fd >= 0 || errno != ENOSYS) return static_cast<int>(fd);
        if (scope) scope->side().no_openat2.store(true, std::memory_order_relaxed);
    }
    return open_way_without_links(dir);
}

// Whether the directory open at dir_fd is on the file system a batched scope syncs: the
// first one opened chooses it, and a descriptor to sync it by is opened then, before any
// file there is made, so that a sync reports every failure to write one of them.
bool on_flush_device(WholeFileScopeState& st, int dir_fd) noexcept {
    struct stat d;
    if (::fstat(dir_fd, &d) != 0) return false;
    if (!st.flush_device_known.load(std::memory_order_acquire)) {
        const std::lock_guard<std::mutex> hold(st.flush_mutex);
        if (!st.flush_device_known.load(std::memory_order_relaxed)) {
            st.flush_fd.reset(::openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!st.flush_fd) return false;  // the next directory tries again
            struct statfs fs;
            constexpr long kTmpfs = 0x01021994, kRamfs = 0x858458f6;  // linux/magic.h
            st.flush_in_memory.store(::fstatfs(st.flush_fd.get(), &fs) == 0 &&
                                         (fs.f_type == kTmpfs || fs.f_type == kRamfs),
                                     std::memory_order_relaxed);
            st.flush_dev.store(d.st_dev, std::memory_order_relaxed);
            st.flush_device_known.store(true, std::memory_order_release);
        }
    }
    return st.flush_dev.load(std::memory_order_relaxed) == d.st_dev;
}

// The directory dir for a write, into handles: the scope's open one (opened and kept
// there when it has none), or the write's own. False and errno on failure.
bool open_directory(const char* dir, WholeFileScope* scope, WholeFileHandles& handles) noexcept {
    if (!scope) {
        handles.own_dir.reset(open_without_links(dir, nullptr));
        handles.dir = handles.own_dir.get();
        return handles.dir >= 0;
    }
    WholeFileScopeState& st = scope->side();
    {
        const std::lock_guard<std::mutex> hold(st.mutex);
        // Members come directory by directory: the last one found is looked at first.
        for (size_t i = 0; i < WholeFileScopeState::kOpenDirectories; ++i) {
            const size_t at = (st.last + i) % WholeFileScopeState::kOpenDirectories;
            const auto& d = st.open[at];
            if (d && d->path == dir) {
                st.last = at;
                handles.shared_dir = d;
                handles.dir = d->fd.get();
                return true;
            }
        }
    }
    // Opened outside the lock: another thread may open the same directory meanwhile, and
    // then both are kept for a while, which is harmless.
    unique_fd fd(open_without_links(dir, scope));
    if (!fd) return false;
    std::shared_ptr<OpenDirectory> d;
    try {
        d = std::make_shared<OpenDirectory>();
        d->path = dir;
    } catch (...) {
        // No room to keep it: the write's own.
        handles.own_dir = std::move(fd);
        handles.dir = handles.own_dir.get();
        return true;
    }
    d->on_flush_device = scope->batched() && on_flush_device(st, fd.get());
    d->fd = std::move(fd);
    handles.shared_dir = d;
    handles.dir = d->fd.get();
    const std::lock_guard<std::mutex> hold(st.mutex);
    // The oldest gives way; a write still using it keeps it open until it ends.
    st.open[st.next] = std::move(d);
    st.last = st.next;
    st.next = (st.next + 1) % WholeFileScopeState::kOpenDirectories;
    return true;
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

void flush_directory(int dir_fd, const char* path) noexcept {
    unique_fd fd;
    if (dir_fd >= 0) {
        // The kept directory is an O_PATH descriptor, which fsync refuses.
        fd.reset(::openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    } else {
        char dir[4096];
        directory_of(path, dir, sizeof dir);
        fd.reset(::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    if (!fd) return;
    // A failure here no longer puts the content at risk: not reported.
    (void)::fsync(fd.get());
}

// A name as the calls take it: relative to the open directory, or as given.
const char* as_named(const char* path, int dir_fd) noexcept { return dir_fd >= 0 ? path + base_offset(path) : path; }

// fsync, the step a test may fail or end the process at.
int flush_file(int fd) noexcept {
    if (int e = fault::check(fault::Op::Flush)) return e;
    return ::fsync(fd) == 0 ? 0 : err();
}

// Makes a file staged with ticket durable: 0 once a sync begun after it is done,
// beginning one when none is. Whatever was staged meanwhile rides along. A failed sync
// says nothing of which file it lost, so from then on each file flushes itself.
int flush_covering(WholeFileScopeState& st, uint64_t ticket) noexcept {
    if (st.flushes_done.load(std::memory_order_acquire) > ticket) return 0;
    const std::lock_guard<std::mutex> hold(st.flush_mutex);
    if (st.flushes_done.load(std::memory_order_relaxed) > ticket) return 0;
    if (st.flush_failed.load(std::memory_order_relaxed) || !st.flush_fd) return kEIO;
    const uint64_t n = st.flushes_begun.fetch_add(1) + 1;
    // The names given until now are made durable by this sync as well.
    const bool named = st.named_since_flush.exchange(false);
    int e = fault::check(fault::Op::Flush);
    if (e == 0 && !st.flush_in_memory.load(std::memory_order_relaxed) && ::syncfs(st.flush_fd.get()) != 0) e = err();
    if (e != 0) {
        st.flush_failed.store(true);
        if (named) st.named_since_flush.store(true);
        return e;
    }
    st.flushes_done.store(n, std::memory_order_release);
    return 0;
}

}  // namespace

int open_dir_without_links(const char* dir) noexcept { return open_without_links(dir, nullptr); }
WholeFileScope::~WholeFileScope() {
    // The names given since the last sync, made durable before the walk's caller hears
    // that it is done; a failure here no longer puts any content at risk.
    WholeFileScopeState& st = side_;
    if (!batched() || !st.named_since_flush.load() || !st.flush_fd) return;
    if (fault::check(fault::Op::Flush) == 0 && !st.flush_in_memory.load()) (void)::syncfs(st.flush_fd.get());
}

int WholeFileScope::flush() noexcept {
    if (!batched() || !side_.flush_device_known.load(std::memory_order_acquire)) return 0;
    return flush_covering(side_, side_.flushes_begun.load());
}

bool whole_file_remove_stale(const char* path) noexcept {
    NativePath p(path);
    return p.ok() && remove_if_stale(AT_FDCWD, p.c_str());
}

bool whole_file_settle_backup(const char* backup, const char* path) noexcept {
    NativePath b(backup), p(path);
    if (!b.ok() || !p.ok()) return false;
    const int e = rename_new(AT_FDCWD, b.c_str(), p.c_str());
    if (e == 0) return true;
    // Only where the name is there again may the old content go.
    return e == EEXIST && remove_if_stale(AT_FDCWD, b.c_str());
}

WholeFile::~WholeFile() { discard(); }

void WholeFile::discard() noexcept {
    const int dir_fd = handles_.dir >= 0 ? handles_.dir : AT_FDCWD;
    if (temp_named_) ::unlinkat(dir_fd, as_named(temp_, handles_.dir), 0);
    handles_.file.reset();
    temp_named_ = unnamed_ = fallback_ = timed_ = staged_ = tried_ = aside_ = false;
    handles_.own_dir.reset();
    handles_.shared_dir.reset();
    handles_.dir = -1;
}

bool WholeFile::holds_content() const noexcept { return handles_.file && staged_ && (unnamed_ || temp_named_); }

int WholeFile::open_side(const char* path, Intent intent, WholeFileScope* scope, bool no_links_on_the_way) noexcept {
    NativePath p(path);
    if (!p.ok()) return kENAMETOOLONG;
    std::memcpy(path_, p.c_str(), std::strlen(p.c_str()) + 1);  // both hold any native path
    if (path_[base_offset(path_)] == '\0') return kEISDIR;
    if (scope) scope->sweep_once(path_);

    char dir_path[sizeof path_];
    directory_of(path_, dir_path, sizeof dir_path);
    if (no_links_on_the_way && path_[0] != '/' && !open_directory(dir_path, scope, handles_))
        return errno == ENOENT || errno == ENOTDIR ? kENOENT : err();
    const int dir_fd = handles_.dir >= 0 ? handles_.dir : AT_FDCWD;
    // 0666: the file has no name, so nobody can open it, and its mode tells the default
    // a new file gets (umask, default ACL).
    int fd = handles_.dir >= 0 ? ::openat(handles_.dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666)
                               : ::open(dir_path, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
        handles_.file.reset(fd);
        unnamed_ = true;
        side_.batched = scope && handles_.shared_dir && handles_.shared_dir->on_flush_device;
        return 0;
    }
    if (errno == ENOENT || errno == ENOTDIR) return kENOENT;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return err();

    // No unnamed files here: the temporary name from the start, private until complete.
    fallback_ = true;
    for (unsigned k = 0; k < 16; ++k) {
        if (!whole_file_temp_name(path_, k, temp_, sizeof temp_)) return kENAMETOOLONG;
        for (int attempt = 0; attempt < 2; ++attempt) {
            fd = ::openat(dir_fd, as_named(temp_, handles_.dir), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          0600);
            if (fd >= 0) {
                (void)::flock(fd, LOCK_EX | LOCK_NB);
                handles_.file.reset(fd);
                temp_named_ = true;
                return 0;
            }
            if (errno != EEXIST) return err();
            if (!remove_if_stale(dir_fd, as_named(temp_, handles_.dir))) break;
        }
    }
    return kEEXIST;
}

int WholeFile::open_aside(const char* path, const char* aside, WholeFileScope* scope) noexcept {
    NativePath p(path), a(aside);
    if (!p.ok() || !a.ok()) return kENAMETOOLONG;
    std::memcpy(path_, p.c_str(), std::strlen(p.c_str()) + 1);
    std::memcpy(temp_, a.c_str(), std::strlen(a.c_str()) + 1);
    if (path_[base_offset(path_)] == '\0' || temp_[base_offset(temp_)] == '\0') return kEISDIR;
    char dir_path[sizeof path_];
    directory_of(temp_, dir_path, sizeof dir_path);
    if (temp_[0] != '/' && !open_directory(dir_path, scope, handles_))
        return errno == ENOENT || errno == ENOTDIR ? kENOENT : err();
    const int dir_fd = handles_.dir >= 0 ? handles_.dir : AT_FDCWD;
    // 0666, as an unnamed file is made: the mode tells the default a new file gets.
    const int fd = ::openat(dir_fd, as_named(temp_, handles_.dir), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            0666);
    if (fd < 0) return errno == ENOTDIR ? kENOENT : err();
    handles_.file.reset(fd);
    temp_named_ = aside_ = true;
    side_.batched = scope && handles_.shared_dir && handles_.shared_dir->on_flush_device;
    return 0;
}

CallResult WholeFile::keep_aside() noexcept {
    temp_named_ = false;  // it stays under its name: the caller's to place or remove
    const int closed = handles_.file.reset() ? 0 : err();
    discard();
    if (closed != 0) return failed_with(FileStep::Write, closed);
    return {};
}

int WholeFile::write(const void* data, size_t size) noexcept {
    if (!handles_.file) return kEBADF;
    return write_fully(handles_.file.get(), static_cast<const char*>(data), size);
}

bool WholeFile::look_at_name() noexcept {
    const int dir_fd = handles_.dir >= 0 ? handles_.dir : AT_FDCWD;
    struct statx x;
    side_.looked = ::statx(dir_fd, as_named(path_, handles_.dir), AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT,
                           STATX_TYPE | STATX_MODE | STATX_UID | STATX_GID | STATX_MTIME | STATX_SIZE, &x) == 0;
    if (!side_.looked) return false;
    struct stat& st = side_.at_name;
    st = {};
    st.st_mode = x.stx_mode;
    st.st_uid = x.stx_uid;
    st.st_gid = x.stx_gid;
    st.st_size = static_cast<off_t>(x.stx_size);
    st.st_mtime = static_cast<time_t>(x.stx_mtime.tv_sec);
    side_.fixed_mode = (x.stx_attributes & x.stx_attributes_mask & (STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND)) != 0;
    return true;
}

namespace {

void describe(const struct stat& st, PathStat* out) noexcept {
    out->is_link = S_ISLNK(st.st_mode);
    out->is_dir = S_ISDIR(st.st_mode);
    out->mtime = static_cast<int64_t>(st.st_mtime);
    out->size = static_cast<int64_t>(st.st_size);
    out->read_only = !S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

}  // namespace

int WholeFile::look(PathStat* out) noexcept {
    if (!look_at_name()) return errno == ENOENT || errno == ENOTDIR ? kENOENT : err();
    describe(side_.at_name, out);
    return 0;
}

void WholeFile::found_at_name(const OwnerLook& owner) noexcept {
    if (!owner.known) return;
    side_.at_name = {};
    side_.at_name.st_mode = static_cast<mode_t>(owner.mode);
    side_.at_name.st_uid = static_cast<uid_t>(owner.uid);
    side_.at_name.st_gid = static_cast<gid_t>(owner.gid);
    side_.looked = true;
}

// The stage's settle used the look and left it as it was: the chmod and the settle of the
// commit work from it as from a look just made.
bool WholeFile::kept_look(PathStat* out) noexcept {
    side_.looked = true;
    describe(side_.at_name, out);
    return true;
}

bool WholeFile::way_proven() const noexcept { return handles_.dir >= 0; }

int WholeFile::make_writable(unsigned mode) noexcept {
    if (!side_.looked) return change_mode(path_, mode);
    const mode_t m = side_.at_name.st_mode & 07777;
    const mode_t want = (mode & 0200) ? (m | 0200) : (m & ~mode_t(0222));
    // A chmod that changes nothing cannot fail for the file's owner on the writable file
    // system the write was just begun on, unless the file refuses any change of mode.
    const uid_t me = scope_ ? scope_->side().euid : ::geteuid();
    if (want == m && side_.at_name.st_uid == me && !side_.fixed_mode) return 0;
    const int dir_fd = handles_.dir >= 0 ? handles_.dir : AT_FDCWD;
    if (::fchmodat(dir_fd, as_named(path_, handles_.dir), want, 0) != 0) return err();
    side_.at_name.st_mode = (side_.at_name.st_mode & ~mode_t(07777)) | want;
    return 0;
}

CallResult WholeFile::settle(bool replacing) noexcept {
    const int fd = handles_.file.get();
    const int dir_fd = handles_.dir >= 0 ? handles_.dir : AT_FDCWD;
    const WholeFileEnd& end = end_;
    OpenDirectory* shared = handles_.shared_dir.get();
    WholeFileState& f = side_;

    // What the name holds now (as the stage's look just found it): a regular file's
    // identity is kept; a link, or anything else, is replaced by the file and never
    // followed.
    struct stat old;
    bool have_old = false;
    if (replacing && f.looked) {
        old = f.at_name;
        have_old = S_ISREG(old.st_mode);
    } else if (replacing) {
        have_old = ::fstatat(dir_fd, as_named(path_, handles_.dir), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
                   S_ISREG(old.st_mode);
    }
    f.looked = false;
    // The file as created: its mode is the default a new file gets, and its owner and
    // group the ones a new file gets, the same for every one in a directory the scope
    // keeps open.
    const bool as_created = shared && (unnamed_ || aside_) && !fallback_;
    if (!f.known) {
        const int cached = as_created ? shared->new_mode.load(std::memory_order_acquire) : -1;
        if (cached >= 0) {
            f.mode = static_cast<mode_t>(cached);
            f.uid = shared->new_uid.load(std::memory_order_relaxed);
            f.gid = shared->new_gid.load(std::memory_order_relaxed);
        } else {
            struct stat cur;
            if (::fstat(fd, &cur) != 0) return fail(FileStep::Mode, err());
            f.mode = cur.st_mode & 07777;
            f.uid = cur.st_uid;
            f.gid = cur.st_gid;
            if (as_created) {
                shared->new_uid.store(f.uid, std::memory_order_relaxed);
                shared->new_gid.store(f.gid, std::memory_order_relaxed);
                shared->new_mode.store(static_cast<int>(f.mode), std::memory_order_release);
            }
        }
        f.known = true;
    }
    mode_t base = f.mode;
    if (have_old)
        base = old.st_mode & 07777;
    else if (fallback_)
        base = 0666 & ~current_umask();
    mode_t want = base;
    if (end.mode_kind == WholeFileEnd::Mode::Runtime)
        want = ((end.mode & 0200) ? base : (base & ~mode_t(0222))) | 0200;
    else if (end.mode_kind == WholeFileEnd::Mode::Exact)
        want = static_cast<mode_t>(end.mode) & 07777;

    bool changed = false;
    if (have_old && (old.st_uid != f.uid || old.st_gid != f.gid)) {
        // Where the process may not give both, it gives what it may.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            (void)::fchown(fd, old.st_uid, static_cast<gid_t>(-1));
            (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
        }
        // What it became, set-id bits that a change of owner clears included: the mode
        // goes on after it.
        struct stat cur;
        if (::fstat(fd, &cur) != 0) return fail(FileStep::Mode, err());
        f.mode = cur.st_mode & 07777;
        f.uid = cur.st_uid;
        f.gid = cur.st_gid;
        changed = true;
    }
    if (want != f.mode) {
        if (::fchmod(fd, want) != 0) return fail(FileStep::Mode, err());
        f.mode = want;
        changed = true;
    }

    // A file staged once already (a new file whose name was taken, now replacing what
    // took it) has its times.
    if (end.times_kind != WholeFileEnd::Times::Keep && !timed_) {
        if (int e = fault::check(fault::Op::SetTime)) return fail(FileStep::Time, e);
        struct timespec ts[2];
        if (end.times_kind == WholeFileEnd::Times::Seconds) {
            ts[0].tv_sec = ts[1].tv_sec = static_cast<time_t>(end.seconds);
            ts[0].tv_nsec = ts[1].tv_nsec = 0;
        } else {
            ts[0] = from_filetime(end.times.access);
            ts[1] = from_filetime(end.times.write);
        }
        if (::futimens(fd, ts) != 0) return fail(FileStep::Time, err());
        changed = true;
    }
    timed_ = true;

    // The content reaches the disk before it takes an old file's place (or, named from
    // the start, before the temporary becomes the file). In a batched scope the sync its
    // naming waits for does it: what the file is now is what a sync begun from here on
    // writes, and its write-back starts at once, beside the others'.
    if (f.batched) {
        if (changed || !f.ticketed) f.ticket = scope_->side().flushes_begun.load();
        f.ticketed = true;
        if (replacing && changed && !scope_->side().flush_in_memory.load(std::memory_order_relaxed))
            (void)::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
        return {};
    }
    if (replacing || fallback_)
        if (int e = flush_file(fd)) return fail(FileStep::Write, e);
    return {};
}

int WholeFile::make_durable() noexcept {
    if (!side_.batched) return 0;  // flushed when it was staged
    if (flush_covering(scope_->side(), side_.ticket) == 0) return 0;
    return flush_file(handles_.file.get());
}

CallResult WholeFile::name_new() noexcept {
    const int dir_fd = handles_.dir >= 0 ? handles_.dir : AT_FDCWD;
    if (int e = naming_fault()) return fail(FileStep::Place, e);
    const int e = unnamed_ ? link_unnamed(handles_.file.get(), dir_fd, as_named(path_, handles_.dir), scope_)
                           : rename_new(dir_fd, as_named(temp_, handles_.dir), as_named(path_, handles_.dir));
    if (e == EEXIST) return failed_with(FileStep::Place, kEEXIST);  // the content stays for publish_replacing
    if (e != 0) return fail(FileStep::Place, err(e));
    unnamed_ = temp_named_ = false;
    const int closed = handles_.file.reset() ? 0 : err();
    discard();
    if (closed != 0) return failed_with(FileStep::Write, closed);
    return {};
}

CallResult WholeFile::name_replacing() noexcept {
    const int fd = handles_.file.get();
    const int dir_fd = handles_.dir >= 0 ? handles_.dir : AT_FDCWD;
    if (int e = make_durable()) return fail(FileStep::Write, e);
    if (int e = naming_fault()) return fail(FileStep::Place, e);
    if (unnamed_) {
        // Named only now that it is complete; locked first, so that it is never taken
        // for one a killed run left.
        (void)::flock(fd, LOCK_EX | LOCK_NB);
        int e = EEXIST;
        for (unsigned k = 0; k < 16 && e == EEXIST; ++k) {
            if (!whole_file_temp_name(path_, k, temp_, sizeof temp_)) return fail(FileStep::Place, kENAMETOOLONG);
            const char* name = as_named(temp_, handles_.dir);
            e = link_unnamed(fd, dir_fd, name, scope_);
            if (e == EEXIST && remove_if_stale(dir_fd, name)) e = link_unnamed(fd, dir_fd, name, scope_);
        }
        if (e != 0) return fail(FileStep::Place, err(e));
        unnamed_ = false;
        temp_named_ = true;
    }
    if (::renameat(dir_fd, as_named(temp_, handles_.dir), dir_fd, as_named(path_, handles_.dir)) != 0)
        return fail(FileStep::Place, err());
    temp_named_ = false;
    if (side_.batched)
        scope_->side().named_since_flush.store(true);
    else
        flush_directory(handles_.dir, path_);
    const int closed = handles_.file.reset() ? 0 : err();
    discard();
    if (closed != 0) return failed_with(FileStep::Write, closed);
    return {};
}

namespace {

// The directory of a native path for a step of a whole package's commit, reached as the
// scope's writes reach theirs, into h; the name to hand the calls (relative to h.dir).
const char* reach(const char* native, WholeFileScope* scope, WholeFileHandles& h, bool& ok) noexcept {
    ok = true;
    if (native[0] == '/') return native;
    char dir[4096];
    directory_of(native, dir, sizeof dir);
    ok = open_directory(dir, scope, h);
    return as_named(native, h.dir);
}

int dir_of(const WholeFileHandles& h) noexcept { return h.dir >= 0 ? h.dir : AT_FDCWD; }

int reach_error() noexcept { return errno == ENOENT || errno == ENOTDIR ? kENOENT : err(); }

bool same_file(const struct stat& a, const struct stat& b) noexcept { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

CallResult place_aside(const char* aside, const char* path, WholeFileScope* scope) noexcept {
    NativePath a(aside), p(path);
    if (!a.ok() || !p.ok()) return failed_with(FileStep::Place, kENAMETOOLONG);
    if (int e = fault::check(fault::Op::Rename)) return failed_with(FileStep::Place, e);
    WholeFileHandles from, to;
    bool ok_from = false, ok_to = false;
    const char* from_name = reach(a.c_str(), scope, from, ok_from);
    const char* to_name = ok_from ? reach(p.c_str(), scope, to, ok_to) : nullptr;
    if (!ok_from || !ok_to) return failed_with(FileStep::Place, reach_error());
    const int e = rename_new(dir_of(from), from_name, dir_of(to), to_name);
    return e == 0 ? CallResult{} : failed_with(FileStep::Place, err(e));
}

CallResult place_aside_replacing(const char* aside, const char* path, const char* backup, const WholeFileEnd&,
                                 WholeFileScope* scope) noexcept {
    NativePath a(aside), p(path), b(backup);
    if (!a.ok() || !p.ok() || !b.ok()) return failed_with(FileStep::Place, kENAMETOOLONG);
    if (int e = fault::check(fault::Op::Rename)) return failed_with(FileStep::Place, e);
    WholeFileHandles from, to, kept;
    bool ok_from = false, ok_to = false, ok_kept = false;
    const char* from_name = reach(a.c_str(), scope, from, ok_from);
    const char* to_name = ok_from ? reach(p.c_str(), scope, to, ok_to) : nullptr;
    const char* kept_name = ok_to ? reach(b.c_str(), scope, kept, ok_kept) : nullptr;
    if (!ok_from || !ok_to || !ok_kept) return failed_with(FileStep::Place, reach_error());
    // The old file (or link) gets a second name first, so that the name never goes
    // missing; where the system lets no second name be made, it is moved aside instead.
    bool moved = false;
    if (::linkat(dir_of(to), to_name, dir_of(kept), kept_name, 0) != 0) {
        if (errno == EEXIST || errno == ENOENT) return failed_now(FileStep::Place);
        if (::renameat2(dir_of(to), to_name, dir_of(kept), kept_name, RENAME_NOREPLACE) != 0)
            return failed_now(FileStep::Place);
        moved = true;
    }
    if (::renameat(dir_of(from), from_name, dir_of(to), to_name) != 0) {
        const CallResult r = failed_now(FileStep::Place);
        if (moved)
            (void)::renameat(dir_of(kept), kept_name, dir_of(to), to_name);
        else
            (void)::unlinkat(dir_of(kept), kept_name, 0);
        return r;
    }
    return {};
}

CallResult restore_backup(const char* backup, const char* path, bool, WholeFileScope* scope) noexcept {
    // Nothing here ever changed the old file's mode: read-only needs no restoring.
    NativePath b(backup), p(path);
    if (!b.ok() || !p.ok()) return failed_with(FileStep::Place, kENAMETOOLONG);
    WholeFileHandles kept, to;
    bool ok_kept = false, ok_to = false;
    const char* kept_name = reach(b.c_str(), scope, kept, ok_kept);
    if (!ok_kept) return errno == ENOENT || errno == ENOTDIR ? CallResult{} : failed_with(FileStep::Place, err());
    struct stat old;
    if (::fstatat(dir_of(kept), kept_name, &old, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? CallResult{} : failed_now(FileStep::Place);
    const char* to_name = reach(p.c_str(), scope, to, ok_to);
    if (!ok_to) return failed_with(FileStep::Place, reach_error());
    if (::renameat(dir_of(kept), kept_name, dir_of(to), to_name) != 0) return failed_now(FileStep::Place);
    // Two names of one file (the second name made, the new file not yet in place): the
    // rename leaves both, and the second goes.
    struct stat left;
    if (::fstatat(dir_of(kept), kept_name, &left, AT_SYMLINK_NOFOLLOW) == 0 && same_file(old, left))
        (void)::unlinkat(dir_of(kept), kept_name, 0);
    return {};
}

CallResult remove_ours(const char* path) noexcept {
    NativePath p(path);
    if (!p.ok()) return failed_with(FileStep::Remove, kENAMETOOLONG);
    if (int e = fault::check(fault::Op::Remove)) return failed_with(FileStep::Remove, e);
    // A path through a file (another program's, where a directory of ours was to be)
    // names nothing: there is nothing of ours to remove.
    if (::unlink(p.c_str()) == 0 || errno == ENOENT || errno == ENOTDIR) return {};
    return failed_now(FileStep::Remove);
}

}  // namespace qm::plat
