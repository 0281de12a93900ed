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
std::atomic_flag g_hook_busy = ATOMIC_FLAG_INIT;
thread_local bool t_in_hook = false;

// One thread at a time on flag.
struct Turn {
    explicit Turn(std::atomic_flag& flag = g_busy) noexcept : flag_(flag) {
        while (flag_.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~Turn() { flag_.clear(std::memory_order_release); }
    std::atomic_flag& flag_;
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
    Hook hook = nullptr;
    void* context = nullptr;
    {
        const Turn turn;
        hook = g_hook;
        context = g_hook_context;
    }
    // A test's look at the disk sees one step at a time; a hook may change the hooks,
    // and what it calls itself is not looked at again.
    if (hook && !t_in_hook) {
        const Turn one_hook(g_hook_busy);
        t_in_hook = true;
        hook(op, context);
        t_in_hook = false;
    }
    const Turn turn;
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
