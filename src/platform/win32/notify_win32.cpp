#include <windows.h>

#include "platform/notify.h"

namespace qm::plat {

void default_notifier(const char* text) noexcept {
    MessageBoxA(nullptr, text, "Error", MB_OK);
}

}  // namespace qm::plat
