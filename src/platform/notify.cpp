#include "platform/notify.h"

namespace qm::plat {

namespace {
Notifier g_notifier = nullptr;
}

void notify_error(const char* text) noexcept {
    const char* t = text ? text : "";
    if (g_notifier)
        g_notifier(t);
    else
        default_notifier(t);
}

bool notifier_replaced() noexcept { return g_notifier != nullptr; }

Notifier set_notifier(Notifier n) noexcept {
    Notifier old = g_notifier;
    g_notifier = n;
    return old;
}

}  // namespace qm::plat
