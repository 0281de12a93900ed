#include "platform/notify.h"

namespace qm::plat {

namespace {
Notifier g_notifier = nullptr;
}

void notify_error(const char* text) noexcept {
    (g_notifier ? g_notifier : default_notifier)(text ? text : "");
}

Notifier set_notifier(Notifier n) noexcept {
    Notifier old = g_notifier;
    g_notifier = n;
    return old;
}

}  // namespace qm::plat
