// POSIX side of the journal: made as an unnamed file in its directory, 0600, locked and
// written whole before it gets its name, so that nobody ever sees it unlocked or in part
// under that name; where the file system has no unnamed files, made under its name
// exclusively and locked at once. Read back only when it is a regular file of the
// caller's own with one name, and only once its lock can be taken.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/journal_file.h"
#include "platform/posix/paths.h"

namespace qm::plat {

namespace {

int write_all(int fd, const char* p, size_t size) noexcept {
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? last_crt_error() : kENOSPC;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

// The directory part of a native path ("." for none).
void directory_part(const char* path, char* out, size_t size) noexcept {
    const char* slash = std::strrchr(path, '/');
    const size_t n = !slash ? 1 : slash == path ? 1 : static_cast<size_t>(slash - path);
    if (n >= size) {
        out[0] = '\0';
        return;
    }
    std::memcpy(out, !slash ? "." : path, n);
    out[n] = '\0';
}

}  // namespace

JournalFile::~JournalFile() = default;

CallResult JournalFile::create(const char* path, const void* data, size_t size) noexcept {
    state_.file.reset();
    if (int e = fault::check(fault::Op::Journal)) return failed_with(FileStep::Create, e);
    NativePath p(path);
    if (!p.ok() || std::strlen(p.c_str()) >= sizeof path_) return failed_with(FileStep::Create, kENAMETOOLONG);
    std::memcpy(path_, p.c_str(), std::strlen(p.c_str()) + 1);
    char dir[sizeof path_];
    directory_part(path_, dir, sizeof dir);
    bool unnamed = true;
    unique_fd fd(::open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (!fd) {
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return failed_now(FileStep::Create);
        unnamed = false;
        fd.reset(::open(path_, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600));
        if (!fd) return failed_now(FileStep::Create);
    }
    // Held before anyone can see it under its name (an unnamed file), or at once.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || ::fchmod(fd.get(), 0600) != 0) {
        const CallResult r = failed_now(FileStep::Create);
        if (!unnamed) ::unlink(path_);
        return r;
    }
    int e = write_all(fd.get(), static_cast<const char*>(data), size);
    if (e == 0 && ::fsync(fd.get()) != 0) e = last_crt_error();
    if (e == 0 && unnamed) {
        const int l = link_unnamed_file(fd.get(), AT_FDCWD, path_, nullptr);
        if (l != 0) return failed_with(FileStep::Place, from_native_errno(l));
    }
    if (e != 0) {
        if (!unnamed) ::unlink(path_);
        return failed_with(FileStep::Write, e);
    }
    // The name itself made durable, as the content is.
    const unique_fd d(::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (d) (void)::fsync(d.get());
    state_.file = std::move(fd);
    return {};
}

JournalFile::Found JournalFile::open_existing(const char* path, int64_t* size, const char** why,
                                              int* error) noexcept {
    state_.file.reset();
    *why = nullptr;
    *error = 0;
    NativePath p(path);
    if (!p.ok() || std::strlen(p.c_str()) >= sizeof path_) {
        *error = kENAMETOOLONG;
        return Found::Failed;
    }
    std::memcpy(path_, p.c_str(), std::strlen(p.c_str()) + 1);
    // O_NONBLOCK: a FIFO at the name opens at once (and is refused) instead of waiting.
    unique_fd fd(::open(path_, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) {
        if (errno == ENOENT) return Found::Absent;
        if (errno == ELOOP) {
            *why = "a link";
            return Found::Refused;
        }
        if (errno == EISDIR || errno == ENXIO) {
            *why = errno == EISDIR ? "a directory" : "not a regular file";
            return Found::Refused;
        }
        *error = last_crt_error();
        return Found::Failed;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) {
        *error = last_crt_error();
        return Found::Failed;
    }
    *why = !S_ISREG(st.st_mode)        ? "not a regular file"
           : st.st_nlink != 1          ? "a file with more than one link"
           : st.st_uid != ::geteuid()  ? "a file another user owns"
                                       : nullptr;
    if (*why) return Found::Refused;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return Found::Held;
        *error = last_crt_error();
        return Found::Failed;
    }
    *size = static_cast<int64_t>(st.st_size);
    state_.file = std::move(fd);
    return Found::Opened;
}

CallResult JournalFile::read(void* out, size_t size) noexcept {
    if (!state_.file) return failed_with(FileStep::Read, kEBADF);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(state_.file.get(), static_cast<char*>(out) + done, size - done,
                                  static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failed_now(FileStep::Read);
        if (n == 0) return failed_with(FileStep::Read, kEIO);
        done += static_cast<size_t>(n);
    }
    return {};
}

CallResult JournalFile::mark(int64_t offset, char byte) noexcept {
    if (!state_.file) return failed_with(FileStep::Write, kEBADF);
    if (int e = fault::check(fault::Op::Journal)) return failed_with(FileStep::Write, e);
    const ssize_t n = ::pwrite(state_.file.get(), &byte, 1, static_cast<off_t>(offset));
    if (n != 1) return failed_with(FileStep::Write, n < 0 ? last_crt_error() : kENOSPC);
    return ::fsync(state_.file.get()) == 0 ? CallResult{} : failed_now(FileStep::Write);
}

CallResult JournalFile::remove() noexcept {
    if (!state_.file) return {};
    if (int e = fault::check(fault::Op::Journal)) return failed_with(FileStep::Remove, e);
    const CallResult r = ::unlink(path_) == 0 || errno == ENOENT ? CallResult{} : failed_now(FileStep::Remove);
    state_.file.reset();
    return r;
}

}  // namespace qm::plat
