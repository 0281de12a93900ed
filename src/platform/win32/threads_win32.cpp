#include "platform/threads.h"

#include <windows.h>
#include <process.h>

namespace qm::plat {

namespace {

// The thread's start: the Thread outlives the thread, which join() waits for. Through
// the runtime's _beginthreadex, so the runtime's per-thread data is set up and freed.
unsigned __stdcall run(void* thread) noexcept {
    static_cast<Thread*>(thread)->enter();
    return 0;
}

}  // namespace

bool Thread::start(Body body, void* context) noexcept {
    join();
    body_ = body;
    context_ = context;
    const uintptr_t h = _beginthreadex(nullptr, 0, &run, this, 0, nullptr);
    if (h == 0) return false;
    state_.thread.reset(reinterpret_cast<Handle>(h));
    return true;
}

void Thread::join() noexcept {
    if (!state_.thread) return;
    WaitForSingleObject(state_.thread.get(), INFINITE);
    state_.thread.reset();
}

Semaphore::Semaphore(unsigned initial) noexcept {
    state_.count.store(static_cast<long>(initial));
    state_.semaphore.reset(CreateSemaphoreA(nullptr, 0, 0x7FFFFFFF, nullptr));
}

Semaphore::~Semaphore() = default;

bool Semaphore::ok() const noexcept { return static_cast<bool>(state_.semaphore); }

void Semaphore::post(unsigned count) noexcept {
    if (count == 0) return;
    const long before = state_.count.fetch_add(static_cast<long>(count));
    // Only the threads asleep need the system: as many as waited, at most count.
    const long sleeping = before < 0 ? -before : 0;
    const long wake = sleeping < static_cast<long>(count) ? sleeping : static_cast<long>(count);
    if (wake > 0) ReleaseSemaphore(state_.semaphore.get(), wake, nullptr);
}

void Semaphore::wait() noexcept {
    // A moment's look first: a job or a result is often only microseconds away.
    for (int spin = 0; spin < 200; ++spin) {
        long c = state_.count.load(std::memory_order_relaxed);
        if (c > 0 && state_.count.compare_exchange_weak(c, c - 1)) return;
        YieldProcessor();
    }
    if (state_.count.fetch_sub(1) > 0) return;
    WaitForSingleObject(state_.semaphore.get(), INFINITE);
}

unsigned processor_count() noexcept {
    DWORD_PTR process = 0, system = 0;
    unsigned n = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
        for (; process; process &= process - 1) ++n;
    if (n == 0) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        n = info.dwNumberOfProcessors;
    }
    return n > 0 ? n : 1u;
}

}  // namespace qm::plat
