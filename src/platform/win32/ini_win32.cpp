#include <windows.h>

#include "platform/ini.h"

namespace qm::plat {

unsigned ini_read(const char* section, const char* key, const char* def, char* out,
                  size_t size, const char* file) noexcept {
    if (size == 0) return 0;
    return GetPrivateProfileStringA(section, key, def, out, static_cast<DWORD>(size), file);
}

bool ini_write(const char* section, const char* key, const char* value, const char* file) noexcept {
    return WritePrivateProfileStringA(section, key, value, file) != FALSE;
}

}  // namespace qm::plat
