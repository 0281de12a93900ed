#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/ini.h"
#include "platform/win32/errmap.h"

namespace qm::plat {

namespace {

// Whether WritePrivateProfileStringA may rewrite the file. It rewrites the whole file in
// place and does not look at its own writes: under Wine a disk that fills up half-way
// leaves the INI cut short and the call reports success. A write is therefore only
// started where the disk has room for the file as it may come out: twice its present
// size (line ends may be rewritten), the new text, and a margin for the file system's
// allocation. Windows refuses to write a read-only INI; Wine, run by a user whom the
// host's permissions do not stop, writes it: refused here so that both behave alike.
CallResult may_rewrite(const char* section, const char* key, const char* value, const char* file) noexcept {
    char target[MAX_PATH * 4];
    if (!std::strchr(file, '\\') && !std::strchr(file, '/')) {  // a bare name: the Windows directory
        char windir[MAX_PATH];
        const UINT n = GetWindowsDirectoryA(windir, sizeof windir);
        if (n == 0 || n >= sizeof windir) return {};
        const int m = std::snprintf(target, sizeof target, "%s\\%s", windir, file);
        if (m < 0 || static_cast<size_t>(m) >= sizeof target) return {};
    } else {
        const DWORD n = GetFullPathNameA(file, sizeof target, target, nullptr);
        if (n == 0 || n >= sizeof target) return {};
    }
    uint64_t size = 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(target, GetFileExInfoStandard, &data)) {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) return failed_with_code(FileStep::Open, ERROR_ACCESS_DENIED);
        size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    char* slash = std::strrchr(target, '\\');
    if (!slash) return {};
    slash[1] = '\0';
    ULARGE_INTEGER free_to_caller;
    if (!GetDiskFreeSpaceExA(target, &free_to_caller, nullptr, nullptr)) return {};  // the write will tell
    auto len = [](const char* s) -> uint64_t { return s ? std::strlen(s) : 0; };
    if (free_to_caller.QuadPart >= 2 * size + len(section) + len(key) + len(value) + 64 * 1024) return {};
    return failed_with_code(FileStep::Write, ERROR_DISK_FULL);
}

}  // namespace

unsigned ini_read(const char* section, const char* key, const char* def, char* out,
                  size_t size, const char* file) noexcept {
    if (size == 0) return 0;
    return GetPrivateProfileStringA(section, key, def, out, static_cast<DWORD>(size), file);
}

CallResult ini_write(const char* section, const char* key, const char* value, const char* file) noexcept {
    if (!file) return failed_with_code(FileStep::Open, ERROR_INVALID_PARAMETER);
    if (const CallResult r = may_rewrite(section, key, value, file); !r.ok()) return r;
    return WritePrivateProfileStringA(section, key, value, file) ? CallResult{} : failed_now(FileStep::Write);
}

}  // namespace qm::plat
