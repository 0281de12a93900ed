// Windows side of the file-system operations: the C runtime's own calls, so that
// every error number is the one the runtime reports.
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/fs.h"
#include "platform/win32/errmap.h"

namespace qm::plat {

namespace {
int err() noexcept { return last_crt_error(); }
}  // namespace

namespace {
// The runtime's stat refuses a directory named with a trailing separator ("etc/"),
// which is how archives name directories; the name is looked up without it.
bool without_trailing_separators(const char* path, char (&out)[MAX_PATH * 4]) noexcept {
    size_t len = std::strlen(path);
    if (len >= sizeof out) return false;
    std::memcpy(out, path, len + 1);
    while (len > 1 && (out[len - 1] == '/' || out[len - 1] == '\\') && out[len - 2] != ':') out[--len] = '\0';
    return true;
}
}  // namespace

int path_stat(const char* path, PathStat* out) noexcept {
    char trimmed[MAX_PATH * 4];
    if (!without_trailing_separators(path, trimmed)) return kENAMETOOLONG;
    struct _stat64 st;
    if (::_stat64(trimmed, &st) != 0) return err();
    out->is_dir = (st.st_mode & _S_IFDIR) != 0;
    out->mtime = static_cast<int64_t>(st.st_mtime);
    out->size = static_cast<int64_t>(st.st_size);
    out->read_only = (st.st_mode & _S_IWRITE) == 0;
    return 0;
}

int path_lstat(const char* path, PathStat* out) noexcept {
    char trimmed[MAX_PATH * 4];
    if (!without_trailing_separators(path, trimmed)) return kENAMETOOLONG;
    // The attributes are the name's own; the runtime's stat would follow a reparse point.
    WIN32_FILE_ATTRIBUTE_DATA data;
    const DWORD attributes =
        GetFileAttributesExA(trimmed, GetFileExInfoStandard, &data) ? data.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        out->is_link = true;
        out->is_dir = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        out->mtime = 0;
        out->size = 0;
        return 0;
    }
    out->is_link = false;
    return path_stat(path, out);
}

int entry_stat(const char* path, EntryStat* out) noexcept {
    // A reparse point (a symbolic link, a junction) is reported, never followed.
    const DWORD attrs = GetFileAttributesA(path);
    if (attrs == INVALID_FILE_ATTRIBUTES) return last_win32_error();
    if (attrs & FILE_ATTRIBUTE_REPARSE_POINT) {
        out->kind = EntryStat::Kind::Link;
        return 0;
    }
    struct _stat64 st;
    if (::_stat64(path, &st) != 0) return err();
    out->kind = (st.st_mode & _S_IFDIR)   ? EntryStat::Kind::Directory
                : (st.st_mode & _S_IFREG) ? EntryStat::Kind::File
                                          : EntryStat::Kind::Other;
    out->executable = out->kind == EntryStat::Kind::File && (st.st_mode & _S_IEXEC) != 0;
    out->mtime = static_cast<int64_t>(st.st_mtime);
    out->size = static_cast<int64_t>(st.st_size);
    out->read_only = (st.st_mode & _S_IWRITE) == 0;
    return 0;
}

int make_dir(const char* path) noexcept {
    fault::run_before_make_dir(path);
    return ::_mkdir(path) == 0 ? 0 : err();
}

int remove_dir(const char* path) noexcept {
    // Without its trailing separators, as the POSIX side asks: "d/" where a file is
    // named d is an invalid name to RemoveDirectoryA, not a file in the way.
    const auto separator = [](char ch) { return ch == '/' || ch == '\\'; };
    char trimmed[4096];
    size_t n = std::strlen(path);
    if (n > 1 && n < sizeof trimmed && separator(path[n - 1])) {
        std::memcpy(trimmed, path, n + 1);
        while (n > 1 && separator(trimmed[n - 1]) && trimmed[n - 2] != ':') trimmed[--n] = '\0';
        path = trimmed;
    }
    // RemoveDirectoryA removes a directory junction itself, never what it leads to.
    if (RemoveDirectoryA(path)) return 0;
    const DWORD e = GetLastError();
    // A file where the directory was is no directory to remove, as POSIX's ENOTDIR.
    if (e == ERROR_DIRECTORY) return kENOENT;
    return e == ERROR_DIR_NOT_EMPTY ? kENOTEMPTY : crt_error_from_win32(e);
}

bool names_fold_case() noexcept { return true; }

int change_mode(const char* path, unsigned mode) noexcept {
    return ::_chmod(path, static_cast<int>(mode)) == 0 ? 0 : err();
}

int change_dir(const char* path) noexcept { return ::_chdir(path) == 0 ? 0 : err(); }

bool close_descriptor(int fd) noexcept { return ::_close(fd) == 0; }

CallResult InFile::open(const char* path) noexcept {
    int fd = ::_open(path, _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        // The runtime's number for the message, and the system's own code that the open
        // met (a sharing violation is a refused access to the runtime).
        const int e = err();
        const DWORD code = GetLastError();
        return CallResult{FileStep::Open, e, code != 0 ? code : win32_from_crt(e)};
    }
    fd_.reset(fd);
    return {};
}

bool InFile::is_regular() noexcept {
    // A disk file; a console, a pipe or a serial port is not one, whatever it is named.
    const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd_.get()));
    struct _stat64 st;
    return h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_DISK &&
           ::_fstat64(fd_.get(), &st) == 0 && (st.st_mode & _S_IFREG) != 0;
}

int InFile::size(int64_t* out) noexcept {
    struct _stat64 st;
    if (::_fstat64(fd_.get(), &st) != 0) return err();
    *out = static_cast<int64_t>(st.st_size);
    return 0;
}

int InFile::version(Version* out) noexcept {
    // The open file's own record: the runtime's stat keeps whole seconds only.
    BY_HANDLE_FILE_INFORMATION info;
    const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd_.get()));
    if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &info)) return last_win32_error();
    out->size = static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    out->written = static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                        info.ftLastWriteTime.dwLowDateTime);
    out->changed = 0;  // Windows keeps no change time that this record shows
    return 0;
}

int InFile::read_some(void* buffer, size_t size, size_t* got) noexcept {
    const unsigned chunk = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
    const int n = ::_read(fd_.get(), buffer, chunk);
    if (n < 0) return err();
    *got = static_cast<size_t>(n);
    return 0;
}

int FileImage::reserve(size_t size) noexcept {
    if (size == 0) return 0;
    void* m = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!m) return kENOMEM;
    bytes_ = static_cast<unsigned char*>(m);
    size_ = size;
    return 0;
}

void FileImage::seal() noexcept {
    DWORD was = 0;
    if (bytes_) (void)VirtualProtect(bytes_, size_, PAGE_READONLY, &was);
}

void FileImage::release() noexcept {
    if (bytes_) VirtualFree(bytes_, 0, MEM_RELEASE);
    bytes_ = nullptr;
    size_ = 0;
}

}  // namespace qm::plat
