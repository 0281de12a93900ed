#include "platform/notify.h"

namespace qm::plat {

namespace {
Notifier g_notifier = nullptr;
NoticeHook g_hook = nullptr;
}

void notify_error(const char* text) noexcept {
    const char* t = text ? text : "";
    const bool hidden = g_hook && g_hook(t, g_notifier == nullptr);
    if (g_notifier)
        g_notifier(t);
    else if (!hidden)
        default_notifier(t);
}

void set_notice_hook(NoticeHook hook) noexcept { g_hook = hook; }

Notifier set_notifier(Notifier n) noexcept {
    Notifier old = g_notifier;
    g_notifier = n;
    return old;
}

}  // namespace qm::plat
