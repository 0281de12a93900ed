#include <cstdio>

#include "platform/notify.h"

namespace qm::plat {

void default_notifier(const char* text) noexcept {
    std::fprintf(stderr, "Error: %s\n", text);
}

}  // namespace qm::plat
