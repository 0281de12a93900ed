#include "platform/threads.h"

#include <errno.h>
#include <sched.h>
#include <unistd.h>

namespace qm::plat {

namespace {

// The thread's start: the Thread outlives the thread, which join() waits for.
void* run(void* thread) noexcept {
    static_cast<Thread*>(thread)->enter();
    return nullptr;
}

}  // namespace

bool Thread::start(Body body, void* context) noexcept {
    join();
    body_ = body;
    context_ = context;
    state_.started = pthread_create(&state_.id, nullptr, &run, this) == 0;
    return state_.started;
}

void Thread::join() noexcept {
    if (!state_.started) return;
    pthread_join(state_.id, nullptr);
    state_.started = false;
}

Semaphore::Semaphore(unsigned initial) noexcept { state_.ok = sem_init(&state_.sem, 0, initial) == 0; }

Semaphore::~Semaphore() {
    if (state_.ok) sem_destroy(&state_.sem);
}

bool Semaphore::ok() const noexcept { return state_.ok; }

void Semaphore::post(unsigned count) noexcept {
    while (count-- > 0) sem_post(&state_.sem);
}

void Semaphore::wait() noexcept {
    while (sem_wait(&state_.sem) != 0 && errno == EINTR) {
    }
}

unsigned processor_count() noexcept {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return static_cast<unsigned>(CPU_COUNT(&set));
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<unsigned>(n) : 1u;
}

}  // namespace qm::plat
