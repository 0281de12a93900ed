#include <unistd.h>

#include <cstdio>

#include "platform/notify.h"

namespace qm::plat {

void default_notifier(const char* text) noexcept {
    std::fprintf(stderr, "Error: %s\n", text);
}

bool stderr_is_terminal() noexcept { return ::isatty(fileno(stderr)) != 0; }
bool stdout_is_terminal() noexcept { return ::isatty(fileno(stdout)) != 0; }

}  // namespace qm::plat
