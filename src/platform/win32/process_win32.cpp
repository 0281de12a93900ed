#include <windows.h>

#include "platform/process.h"

namespace qm::plat {

unsigned launch(const char* command_line, int show) noexcept {
    return WinExec(command_line, static_cast<UINT>(show));
}

}  // namespace qm::plat
