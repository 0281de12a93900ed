#include "platform/fault.h"

namespace qm::plat::fault {

namespace {
struct Slot {
    bool armed = false;
    int pass = 0;
    int error = 0;
    int times = 0;
};
Slot g_slots[static_cast<int>(Op::Count_)];
bool g_any = false;
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
    Slot& s = g_slots[static_cast<int>(op)];
    s.armed = true;
    s.pass = pass;
    s.error = error;
    s.times = times;
    g_any = true;
}

void disarm_all() noexcept {
    for (Slot& s : g_slots) s = Slot{};
    g_any = g_hook != nullptr;
    g_before_make_dir = nullptr;
}

void set_hook(Hook hook, void* context) noexcept {
    g_hook = hook;
    g_hook_context = context;
    g_any = hook != nullptr || any_slot_armed();
}

int check(Op op) noexcept {
    if (!g_any) return 0;
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
    Slot& s = g_slots[static_cast<int>(op)];
    // Still to fail, so the check that let this one go ahead took a pass.
    if (s.armed && s.times != 0) ++s.pass;
}

}  // namespace qm::plat::fault
