#include "platform/side.h"

#include <windows.h>

#include <type_traits>

namespace qm::plat {

static_assert(std::is_same_v<Handle, HANDLE>, "platform/win32/side.h names HANDLE otherwise than <windows.h>");

bool close_handle(Handle h) noexcept { return CloseHandle(h) != 0; }
bool close_find(Handle h) noexcept { return FindClose(h) != 0; }

}  // namespace qm::plat
