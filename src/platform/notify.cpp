#include "platform/notify.h"

#include <atomic>

namespace qm::plat {

namespace {
// Where a host program (the tool: stderr; a test: its capture) has the texts instead of
// the box. The library alone never sets it; atomic, as an export may run on any thread.
std::atomic<Notifier> g_notifier{nullptr};
}  // namespace

void notify_error(const char* text) noexcept {
    const char* t = text ? text : "";
    if (const Notifier n = g_notifier.load())
        n(t);
    else
        default_notifier(t);
}

bool notifier_replaced() noexcept { return g_notifier.load() != nullptr; }

Notifier set_notifier(Notifier n) noexcept { return g_notifier.exchange(n); }

}  // namespace qm::plat
