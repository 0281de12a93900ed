#include "platform/fault.h"

#include <atomic>

namespace qm::plat::fault {

namespace {
struct Slot {
    bool armed = false;
    int pass = 0;
    int error = 0;
    int times = 0;
};
Slot g_slots[static_cast<int>(Op::Count_)];
// Set while a test arms anything: the disarmed check costs one load. Staging threads
// check while the test's thread arms, so the slots are taken in turn.
std::atomic<bool> g_any{false};
std::atomic_flag g_busy = ATOMIC_FLAG_INIT;

struct Turn {
    Turn() noexcept {
        while (g_busy.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~Turn() { g_busy.clear(std::memory_order_release); }
};
Hook g_hook = nullptr;
void* g_hook_context = nullptr;

bool any_slot_armed() noexcept {
    for (const Slot& s : g_slots)
        if (s.armed) return true;
    return false;
}
BeforeMakeDir g_before_make_dir = nullptr;
}  // namespace

void before_make_dir(BeforeMakeDir action) noexcept { g_before_make_dir = action; }

void run_before_make_dir(const char* path) noexcept {
    if (g_before_make_dir) g_before_make_dir(path);
}

void arm(Op op, int pass, int error, int times) noexcept {
    const Turn turn;
    Slot& s = g_slots[static_cast<int>(op)];
    s.armed = true;
    s.pass = pass;
    s.error = error;
    s.times = times;
    g_any = true;
}

void disarm_all() noexcept {
    const Turn turn;
    for (Slot& s : g_slots) s = Slot{};
    g_any = g_hook != nullptr;
    g_before_make_dir = nullptr;
}

void set_hook(Hook hook, void* context) noexcept {
    const Turn turn;
    g_hook = hook;
    g_hook_context = context;
    g_any = hook != nullptr || any_slot_armed();
}

int check(Op op) noexcept {
    if (!g_any) return 0;
    // The hook too: a test's look at the disk sees one step at a time.
    const Turn turn;
    if (g_hook) g_hook(op, g_hook_context);
    Slot& s = g_slots[static_cast<int>(op)];
    if (!s.armed) return 0;
    if (s.pass > 0) {
        --s.pass;
        return 0;
    }
    if (s.times == 0) return 0;
    if (s.times > 0) --s.times;
    return s.error;
}

void refund(Op op) noexcept {
    if (!g_any) return;
    const Turn turn;
    Slot& s = g_slots[static_cast<int>(op)];
    // Still to fail, so the check that let this one go ahead took a pass.
    if (s.armed && s.times != 0) ++s.pass;
}

}  // namespace qm::plat::fault
