#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/sys.h"

namespace qm::plat {

int set_env(const char* name, const char* value) noexcept {
    // Windows refuses a value of 32,767 characters or more; Wine's SetEnvironmentVariableA
    // reads past its own buffer on such a value and crashes the process. Refused here,
    // with the platform's own answer.
    if (value && std::strlen(value) >= 32767) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return SetEnvironmentVariableA(name, value) ? 1 : 0;
}

unsigned windows_dir(char* out, size_t size) noexcept {
    return GetWindowsDirectoryA(out, static_cast<UINT>(size));
}

unsigned short_path(const char* path, char* out, size_t size) noexcept {
    return GetShortPathNameA(path, out, static_cast<DWORD>(size));
}

}  // namespace qm::plat
