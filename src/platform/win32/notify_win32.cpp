#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/notify.h"

namespace qm::plat {

void default_notifier(const char* text) noexcept {
    MessageBoxA(nullptr, text, "Error", MB_OK);
}

bool stderr_is_terminal() noexcept { return ::_isatty(::_fileno(stderr)) != 0; }
bool stdout_is_terminal() noexcept { return ::_isatty(::_fileno(stdout)) != 0; }

}  // namespace qm::plat
