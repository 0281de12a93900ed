#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/sys.h"

namespace qm::plat {

namespace {
// The value as the process environment held it when the library was loaded: taken by
// a static initialiser, which runs at load, before any export can be called.
struct LoadTimeRoot {
    char value[32768];
    bool defined = false;
    LoadTimeRoot() noexcept {
        // Cleared first: whether the variable is defined is read from the error the call
        // leaves, and an earlier failure must not speak for it.
        SetLastError(0);
        DWORD n = GetEnvironmentVariableA("NMSROOT", value, sizeof value);
        defined = n > 0 && n < sizeof value;
        if (!defined) {
            // Defined but empty reads as length 0 with no error.
            defined = n == 0 && GetLastError() != ERROR_ENVVAR_NOT_FOUND;
            value[0] = '\0';
        }
    }
};
const LoadTimeRoot g_root;
}  // namespace

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

const char* nmsroot_at_load() noexcept { return g_root.defined ? g_root.value : nullptr; }

unsigned windows_dir(char* out, size_t size) noexcept {
    return GetWindowsDirectoryA(out, static_cast<UINT>(size));
}

unsigned short_path(const char* path, char* out, size_t size) noexcept {
    return GetShortPathNameA(path, out, static_cast<DWORD>(size));
}

}  // namespace qm::plat
