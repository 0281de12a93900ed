// POSIX side of removal: the directory a name is in is opened refusing a link on the
// way, and the name is looked at, opened and deleted relative to it, never following a
// link there; a file is deleted only while its name still holds the file that was
// opened and looked at.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/errors.h"
#include "platform/host.h"
#include "platform/posix/paths.h"
#include "platform/removable.h"

namespace qm::plat {

namespace {

// A failure the side decides itself, named by the system's number for it.
CallResult failure(FileStep step, int native) noexcept { return failed_with(step, from_native_errno(native)); }

// path's directory, opened without a link on the way (none: the current directory),
// and its last component into name. False with errno set.
bool open_parent(const char* path, unique_fd& dir, char* name, size_t size) noexcept {
    NativePath p(path);
    if (!p.ok()) {
        errno = ENAMETOOLONG;
        return false;
    }
    p.trim_trailing_separators();
    const char* full = p.c_str();
    const char* slash = std::strrchr(full, '/');
    const char* base = slash ? slash + 1 : full;
    const size_t len = std::strlen(base);
    if (len == 0 || len >= size) {
        errno = len == 0 ? ENOENT : ENAMETOOLONG;
        return false;
    }
    std::memcpy(name, base, len + 1);
    dir.reset();
    if (!slash) return true;
    char parent[4096];
    const size_t n = slash == full ? 1 : static_cast<size_t>(slash - full);  // "/x": the root
    std::memcpy(parent, full, n);
    parent[n] = '\0';
    dir.reset(open_dir_without_links(parent));
    return static_cast<bool>(dir);
}

int at(const unique_fd& dir) noexcept { return dir ? dir.get() : AT_FDCWD; }

}  // namespace

CallResult RemovableFile::open(const char* path) noexcept {
    close();
    if (!open_parent(path, state_.dir, state_.name, sizeof state_.name)) {
        link_ = errno == ELOOP;  // a link on the way
        return failed_now(FileStep::Open);
    }
    // Only a regular file is opened: opening a device or a FIFO may do something.
    struct stat st;
    if (::fstatat(at(state_.dir), state_.name, &st, AT_SYMLINK_NOFOLLOW) != 0) return failed_now(FileStep::Open);
    link_ = S_ISLNK(st.st_mode);
    if (link_) return failure(FileStep::Open, ELOOP);
    if (S_ISREG(st.st_mode)) {
        const int fd = ::openat(at(state_.dir), state_.name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            link_ = errno == ELOOP;  // a link took the name meanwhile
            return failed_now(FileStep::Open);
        }
        state_.file.reset(fd);
        if (::fstat(fd, &st) != 0) {
            const int e = errno;
            close();
            return failure(FileStep::Open, e);
        }
    }
    regular_ = S_ISREG(st.st_mode);
    read_only_ = (st.st_mode & S_IWUSR) == 0;
    size_ = static_cast<int64_t>(st.st_size);
    mtime_ = static_cast<int64_t>(st.st_mtime);
    return {};
}

CallResult RemovableFile::read_exact(void* buffer, size_t size) noexcept {
    auto* p = static_cast<char*>(buffer);
    while (size > 0) {
        const ssize_t n = ::read(state_.file.get(), p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failed_now(FileStep::Read);
        if (n == 0) return failure(FileStep::Read, EIO);
        p += n;
        size -= static_cast<size_t>(n);
    }
    return {};
}

CallResult RemovableFile::remove() noexcept {
    CallResult r;
    struct stat held, named;
    if (!state_.file) {
        r = failure(FileStep::Remove, EBADF);
    } else if (::fstat(state_.file.get(), &held) != 0 ||
               ::fstatat(at(state_.dir), state_.name, &named, AT_SYMLINK_NOFOLLOW) != 0) {
        r = failed_now(FileStep::Remove);
    } else if (held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
        r = failure(FileStep::Remove, EEXIST);  // another file has the name now: it is not ours to delete
    } else if (::unlinkat(at(state_.dir), state_.name, 0) != 0) {
        r = failed_now(FileStep::Remove);
    }
    close();
    return r;
}

void RemovableFile::close() noexcept {
    state_.file.reset();
    state_.dir.reset();
    link_ = regular_ = read_only_ = false;
    size_ = mtime_ = 0;
}

CallResult remove_empty_directory(const char* path) noexcept {
    unique_fd dir;
    char name[256];
    if (!open_parent(path, dir, name, sizeof name)) return failed_now(FileStep::Remove);
    struct stat st;
    if (::fstatat(at(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) return failed_now(FileStep::Remove);
    if (!S_ISDIR(st.st_mode)) return failure(FileStep::Remove, ENOTDIR);
    if (::unlinkat(at(dir), name, AT_REMOVEDIR) != 0)
        return errno == EEXIST ? failure(FileStep::Remove, ENOTEMPTY) : failed_now(FileStep::Remove);
    return {};
}

}  // namespace qm::plat
