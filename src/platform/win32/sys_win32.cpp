#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/sys.h"
#include "platform/win32/errmap.h"

namespace qm::plat {

CallResult set_env(const char* name, const char* value) noexcept {
    // Windows refuses a value of 32,767 characters or more; Wine's SetEnvironmentVariableA
    // reads past its own buffer on such a value and crashes the process. Refused here,
    // with the platform's own answer.
    if (value && std::strlen(value) >= 32767) return failed_with_code(FileStep::None, ERROR_INVALID_PARAMETER);
    return SetEnvironmentVariableA(name, value) ? CallResult{} : failed_now(FileStep::None);
}

CallResult windows_dir(char* out, size_t size, unsigned* length) noexcept {
    *length = GetWindowsDirectoryA(out, static_cast<UINT>(size));
    return *length != 0 ? CallResult{} : failed_now(FileStep::None);
}

CallResult short_path(const char* path, char* out, size_t size, unsigned* length) noexcept {
    *length = GetShortPathNameA(path, out, static_cast<DWORD>(size));
    return *length != 0 ? CallResult{} : failed_now(FileStep::None);
}

}  // namespace qm::plat
