// Threads of the library's own, started and joined within one call (never at load), and
// the one way they meet: a counting semaphore. What runs on them touches no session and
// no library-global state.
#pragma once

#include "platform/side.h"

namespace qm::plat {

class Thread {
public:
    using Body = void (*)(void* context) noexcept;
    Thread() noexcept = default;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    ~Thread() { join(); }
    // False when the system gives no thread: the caller does the work itself.
    bool start(Body body, void* context) noexcept;
    // Waits for the body to return; nothing when the thread never started.
    void join() noexcept;
    // What the side's start routine runs on the new thread.
    void enter() noexcept { body_(context_); }

private:
    ThreadState state_;
    Body body_ = nullptr;
    void* context_ = nullptr;
};

class Semaphore {
public:
    explicit Semaphore(unsigned initial = 0) noexcept;
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;
    ~Semaphore();
    bool ok() const noexcept;
    void post(unsigned count = 1) noexcept;
    void wait() noexcept;

private:
    SemaphoreState state_;
};

// The processors this process may run on (at least 1).
unsigned processor_count() noexcept;

}  // namespace qm::plat
