// Work done on worker threads in a bounded window while one thread hands it out and
// takes the results back strictly in the order it handed them out: the writes of an
// expansion or a guarded copy run side by side, and every effect the caller sees (a
// name given, a line logged, a failure shown) happens in order. With fewer than two
// threads nothing is started and each job runs on the caller's thread as it is handed
// out, through the same code.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "platform/threads.h"

namespace qm::plat {

template <typename Job, unsigned Window = 64>
class Pipeline {
public:
    static constexpr unsigned kMaxWorkers = 16;
    // Runs on a worker: touches nothing but its job.
    using Work = void (*)(Job& job, void* context) noexcept;

    Pipeline(unsigned threads, Work work, void* context) noexcept : work_(work), context_(context) {
        if (threads < 2 || !jobs_.ok()) return;
        for (Slot& s : slots_)
            if (!s.done.ok()) return;
        const unsigned wanted = threads < kMaxWorkers ? threads : kMaxWorkers;
        while (started_ < wanted && threads_[started_].start(&Pipeline::run, this)) ++started_;
    }
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;
    // What was handed out and not taken back is finished first (a worker may hold it),
    // then dropped with its job; every worker is joined.
    ~Pipeline() {
        while (!empty()) (void)take();
        stop_.store(true);
        jobs_.post(started_);
        for (unsigned i = 0; i < started_; ++i) threads_[i].join();
    }

    unsigned workers() const noexcept { return started_; }
    bool empty() const noexcept { return given_ == taken_; }
    bool full() const noexcept { return given_ - taken_ == (started_ > 0 ? Window : 1u); }

    // The next job's slot, to fill in before give(); room first (full() is false).
    Job& next() noexcept { return slots_[given_ % Window].job; }
    void give() noexcept {
        Slot& s = slots_[given_++ % Window];
        if (started_ == 0)
            work_(s.job, context_);
        else
            jobs_.post();
    }
    // The oldest job handed out, finished.
    Job& take() noexcept {
        Slot& s = slots_[taken_++ % Window];
        if (started_ > 0) s.done.wait();
        return s.job;
    }

private:
    struct Slot {
        Job job;
        Semaphore done;
    };
    static void run(void* self) noexcept {
        auto* p = static_cast<Pipeline*>(self);
        for (;;) {
            p->jobs_.wait();
            if (p->stop_.load()) return;
            Slot& s = p->slots_[p->next_job_.fetch_add(1) % Window];
            p->work_(s.job, p->context_);
            s.done.post();
        }
    }

    Work work_;
    void* context_;
    std::array<Slot, Window> slots_;
    std::array<Thread, kMaxWorkers> threads_;
    unsigned started_ = 0;
    Semaphore jobs_;
    std::atomic<uint64_t> next_job_{0};
    std::atomic<bool> stop_{false};
    uint64_t given_ = 0;
    uint64_t taken_ = 0;
};

// How many threads write an operation's files: QUILLMAR_THREADS as the environment holds
// it now (1: the calling thread alone), else what suits the machine.
unsigned writing_threads() noexcept;

}  // namespace qm::plat
