// Windows side of the file-system operations: the C runtime's own calls, so that
// every error number is the one the runtime reports.
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/utime.h>
#include <windows.h>
#include <winternl.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/fs.h"
#include "platform/win32/errmap.h"

namespace qm::plat {

namespace {
int err() noexcept { return last_crt_error(); }
}  // namespace

int path_stat(const char* path, PathStat* out) noexcept {
    // The runtime's stat refuses a directory named with a trailing separator ("etc/"),
    // which is how archives name directories; look the name up without it.
    char trimmed[MAX_PATH * 4];
    size_t len = std::strlen(path);
    if (len >= sizeof trimmed) return kENAMETOOLONG;
    std::memcpy(trimmed, path, len + 1);
    while (len > 1 && (trimmed[len - 1] == '/' || trimmed[len - 1] == '\\') &&
           trimmed[len - 2] != ':')
        trimmed[--len] = '\0';
    struct _stat64 st;
    if (::_stat64(trimmed, &st) != 0) return err();
    out->is_dir = (st.st_mode & _S_IFDIR) != 0;
    out->mtime = static_cast<int64_t>(st.st_mtime);
    out->size = static_cast<int64_t>(st.st_size);
    return 0;
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
    return 0;
}

int make_dir(const char* path) noexcept {
    fault::run_before_make_dir(path);
    return ::_mkdir(path) == 0 ? 0 : err();
}

int change_mode(const char* path, unsigned mode) noexcept {
    return ::_chmod(path, static_cast<int>(mode)) == 0 ? 0 : err();
}

void set_attributes_normal(const char* path) noexcept {
    (void)SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
}

int set_file_time(const char* path, int64_t t) noexcept {
    if (int e = fault::check(fault::Op::SetTime)) return e;
    struct __utimbuf64 ut;
    ut.actime = ut.modtime = static_cast<__time64_t>(t);
    return ::_utime64(path, &ut) == 0 ? 0 : err();
}

int change_dir(const char* path) noexcept { return ::_chdir(path) == 0 ? 0 : err(); }

int replace_file(const char* from, const char* to) noexcept {
    if (int e = fault::check(fault::Op::Rename)) return e;
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return 0;
    return last_win32_error();
}

int remove_file(const char* path) noexcept { return ::_unlink(path) == 0 ? 0 : err(); }

bool FdTraits::close(int fd) noexcept { return ::_close(fd) == 0; }

int OutFile::create(const char* path) noexcept {
    if (int e = fault::check(fault::Op::Create)) return e;
    int fd = ::_open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return err();
    fd_.reset(fd);
    return 0;
}

int OutFile::create_new(const char* path) noexcept {
    if (fault::armed(fault::Op::Create)) return kEEXIST;
    int fd = ::_open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return err();
    fd_.reset(fd);
    return 0;
}

namespace {
using SetInformationFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);

// The system's own call, looked up at run time: the DLL imports from kernel32 and the
// other user-mode libraries only.
SetInformationFn set_information() noexcept {
    static SetInformationFn fn = [] {
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        return ntdll ? reinterpret_cast<SetInformationFn>(reinterpret_cast<void*>(
                           GetProcAddress(ntdll, "NtSetInformationFile")))
                     : nullptr;
    }();
    return fn;
}

// SetFileAttributesA(FILE_ATTRIBUTE_NORMAL) on an open file: the same request to the
// file system without looking the path up again (times given as 0 stay as they are).
bool reset_attributes(int fd) noexcept {
    const SetInformationFn fn = set_information();
    const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (!fn || h == INVALID_HANDLE_VALUE) return false;
    FILE_BASIC_INFORMATION info = {};
    info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    IO_STATUS_BLOCK io;
    return NT_SUCCESS(fn(h, &io, &info, sizeof info, FileBasicInformation));
}
}  // namespace

OutFile::Finish OutFile::finish_new(const char* path, unsigned mode, int64_t t) noexcept {
    Finish r;
    // The times through the runtime, so that they are converted exactly as utime does.
    r.time = set_time(t);
    // The runtime's chmod would only set or clear the read-only attribute, and the reset
    // to normal attributes that follows it clears it again: the reset alone leaves the
    // same file.
    const bool reset = reset_attributes(fd_.get());
    r.close = close();
    // Should the reset on the open file fail, the path is tried, and when that fails too
    // the chmod tells why, as it would have.
    if (!reset && !SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL)) {
        r.mode = change_mode(path, mode);
        if (r.mode == 0) set_attributes_normal(path);
    }
    return r;
}

int OutFile::create_temp_beside(const char* path, char* tmp_name, size_t tmp_size) noexcept {
    if (int e = fault::check(fault::Op::Create)) return e;
    // The directory part of path (so the final rename stays on its volume), not its
    // file name (beside a name near the limit a longer one could not be created).
    const char* base = path;
    for (const char* q = path; *q; ++q)
        if (*q == '\\' || *q == '/' || (*q == ':' && q == path + 1)) base = q + 1;
    const int dir_len = static_cast<int>(base - path);
    static unsigned serial = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        int n = std::snprintf(tmp_name, tmp_size, "%.*s.qm%05lu~%u", dir_len, path,
                              GetCurrentProcessId() % 100000ul, ++serial);
        if (n < 0 || static_cast<size_t>(n) >= tmp_size) return kENAMETOOLONG;
        int fd = ::_open(tmp_name, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                         _S_IREAD | _S_IWRITE);
        if (fd >= 0) {
            fd_.reset(fd);
            return 0;
        }
        if (errno != EEXIST) return err();
    }
    return kEEXIST;
}

int OutFile::write(const void* data, size_t size) noexcept {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        if (int e = fault::check(fault::Op::Write)) return e;
        unsigned chunk = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
        int n = ::_write(fd_.get(), p, chunk);
        if (n < 0) return err();
        if (n == 0) return kENOSPC;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

int OutFile::set_time(int64_t t) noexcept {
    if (int e = fault::check(fault::Op::SetTime)) return e;
    struct __utimbuf64 ut;
    ut.actime = ut.modtime = static_cast<__time64_t>(t);
    return ::_futime64(fd_.get(), &ut) == 0 ? 0 : err();
}

int OutFile::close() noexcept {
    if (!fd_) return 0;
    return fd_.reset() ? 0 : err();
}

int InFile::open(const char* path) noexcept {
    int fd = ::_open(path, _O_RDONLY | _O_BINARY);
    if (fd < 0) return err();
    fd_.reset(fd);
    return 0;
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

int InFile::read_exact(void* buffer, size_t size) noexcept {
    char* p = static_cast<char*>(buffer);
    while (size > 0) {
        if (int e = fault::check(fault::Op::Read)) return e;
        unsigned chunk = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
        int n = ::_read(fd_.get(), p, chunk);
        if (n < 0) return err();
        if (n == 0) return kEIO;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

}  // namespace qm::plat
