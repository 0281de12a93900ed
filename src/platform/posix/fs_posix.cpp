// POSIX side of the file-system operations: the runtime calls the Windows build uses,
// with the Windows semantics kept where they differ (chmod, "\" as a separator).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/fs.h"
#include "platform/posix/paths.h"

namespace qm::plat {

namespace {
int err() noexcept { return last_crt_error(); }
}  // namespace

int path_stat(const char* path, PathStat* out) noexcept {
    NativePath p(path);
    if (!p.ok()) return kENAMETOOLONG;
    // As on Windows, "name/" is looked up as "name", whatever kind of file it is.
    p.trim_trailing_separators();
    struct stat st;
    if (::stat(p.c_str(), &st) != 0) {
        // The Windows runtime reports a path through a file as absent, not as ENOTDIR.
        return errno == ENOTDIR ? kENOENT : err();
    }
    out->is_dir = S_ISDIR(st.st_mode);
    out->mtime = static_cast<int64_t>(st.st_mtime);
    out->size = static_cast<int64_t>(st.st_size);
    out->read_only = (st.st_mode & S_IWUSR) == 0;
    return 0;
}

int entry_stat(const char* path, EntryStat* out) noexcept {
    NativePath p(path);
    if (!p.ok()) return kENAMETOOLONG;
    p.trim_trailing_separators();
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0) return errno == ENOTDIR ? kENOENT : err();
    out->kind = S_ISREG(st.st_mode)   ? EntryStat::Kind::File
                : S_ISDIR(st.st_mode) ? EntryStat::Kind::Directory
                : S_ISLNK(st.st_mode) ? EntryStat::Kind::Link
                                      : EntryStat::Kind::Other;
    out->executable = (st.st_mode & 0111) != 0;
    out->mtime = static_cast<int64_t>(st.st_mtime);
    out->size = static_cast<int64_t>(st.st_size);
    out->read_only = !S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
    out->owner = OwnerLook{true, static_cast<uint32_t>(st.st_mode), static_cast<uint32_t>(st.st_uid),
                           static_cast<uint32_t>(st.st_gid)};
    return 0;
}

int path_lstat(const char* path, PathStat* out) noexcept {
    EntryStat e;
    if (int r = entry_stat(path, &e)) return r;
    out->is_link = e.kind == EntryStat::Kind::Link;
    out->is_dir = e.kind == EntryStat::Kind::Directory;
    out->mtime = e.mtime;
    out->size = e.size;
    out->read_only = e.read_only;
    out->owner = e.owner;
    return 0;
}

int make_dir(const char* path) noexcept {
    fault::run_before_make_dir(path);
    NativePath p(path);
    if (!p.ok()) return kENAMETOOLONG;
    if (::mkdir(p.c_str(), 0777) == 0) return 0;
    return errno == ENOTDIR ? kENOENT : err();  // as the Windows runtime reports a path through a file
}

int remove_dir(const char* path) noexcept {
    NativePath p(path);
    if (!p.ok()) return kENAMETOOLONG;
    p.trim_trailing_separators();
    if (::rmdir(p.c_str()) == 0) return 0;
    // Linux says EEXIST or ENOTEMPTY for a directory that holds something.
    return errno == EEXIST ? kENOTEMPTY : errno == ENOTDIR ? kENOENT : err();
}

bool names_fold_case() noexcept { return false; }

int change_mode(const char* path, unsigned mode) noexcept {
    NativePath p(path);
    if (!p.ok()) return kENAMETOOLONG;
    struct stat st;
    if (::stat(p.c_str(), &st) != 0) return err();
    // Only the owner-write bit has an effect, as with the Windows runtime's read-only
    // attribute: it turns write permission on or off, all other bits stay.
    mode_t m = st.st_mode & 07777;
    m = (mode & 0200) ? (m | 0200) : (m & ~mode_t(0222));
    return ::chmod(p.c_str(), m) == 0 ? 0 : err();
}

int change_dir(const char* path) noexcept {
    NativePath p(path);
    if (!p.ok()) return kENAMETOOLONG;
    return ::chdir(p.c_str()) == 0 ? 0 : err();
}

bool close_descriptor(int fd) noexcept { return ::close(fd) == 0; }

CallResult InFile::open(const char* path) noexcept {
    NativePath p(path);
    if (!p.ok()) return failed_with(FileStep::Open, kENAMETOOLONG);
    int fd = ::open(p.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return failed_now(FileStep::Open);
    fd_.reset(fd);
    return {};
}

bool InFile::is_regular() noexcept {
    struct stat st;
    return ::fstat(fd_.get(), &st) == 0 && S_ISREG(st.st_mode);
}

int InFile::size(int64_t* out) noexcept {
    struct stat st;
    if (::fstat(fd_.get(), &st) != 0) return err();
    *out = static_cast<int64_t>(st.st_size);
    return 0;
}

int InFile::version(Version* out) noexcept {
    struct stat st;
    if (::fstat(fd_.get(), &st) != 0) return err();
    out->size = static_cast<int64_t>(st.st_size);
    out->written = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    out->changed = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return 0;
}

int InFile::read_some(void* buffer, size_t size, size_t* got) noexcept {
    for (;;) {
        const ssize_t n = ::read(fd_.get(), buffer, size);
        if (n >= 0) {
            *got = static_cast<size_t>(n);
            return 0;
        }
        if (errno != EINTR) return err();
    }
}

// Anonymous memory, in small pages: huge pages (MADV_HUGEPAGE) made the copy faster when
// the system had them free and up to five times slower when it first had to compact
// memory for them (308 MB: 100 to 820 ms, against 150 to 240 ms in small pages). Its
// pages are all there before the read (MAP_POPULATE): the read would fault each one in
// on its own, which in a virtual machine costs about as much as the copy (63.5 MB: 173
// ms faulted page by page, 90 ms populated).
int FileImage::reserve(size_t size) noexcept {
    if (size == 0) return 0;
    void* m = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (m == MAP_FAILED) return kENOMEM;
    bytes_ = static_cast<unsigned char*>(m);
    size_ = size;
    return 0;
}

void FileImage::seal() noexcept { (void)::mprotect(bytes_, size_, PROT_READ); }

void FileImage::release() noexcept {
    if (bytes_) ::munmap(bytes_, size_);
    bytes_ = nullptr;
    size_ = 0;
}

}  // namespace qm::plat
