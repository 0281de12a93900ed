// Work done on worker threads in a bounded window while one thread hands it out and
// takes the results back strictly in the order it handed them out: the writes of an
// expansion or a guarded copy run side by side, and every effect the caller sees (a
// name given, a line logged, a failure shown) happens in order. With fewer than two
// threads nothing is started and each job runs on the caller's thread as it is handed
// out, through the same code.
//
// A pipeline may also commit: a second step run strictly in hand-out order, one job at a
// time, by whichever worker finished the job that is next (the caller's thread would
// otherwise do every commit while the workers wait for it). While the caller says the
// commits need something done once for many jobs (the flush that makes a batch of
// replaced files durable before any is renamed), they come a batch at a time: with
// workers, half a window of finished jobs in a row, while the other half is worked on;
// without, the whole window, committed when it is full. Whenever the caller waits for a
// job that no full batch would reach, what is finished is committed at once. Otherwise
// each job is committed as soon as it and those before it are finished (without workers:
// as it is handed out). A commit that answers false halts the pipeline: no later job is
// committed, each is handed back as it is.
//
// The one retry rule: a job whose work or commit failed in a way the jobs worked beside
// it may have caused (their files took the room it needed) is done again as if nothing
// had run beside it. It waits, and so does every commit after it; once every job handed
// out after it has finished its work, their work is let go (drop), the job is worked and
// committed again alone, then each later one in turn, on the thread that takes them
// back, before the workers go on. What it comes to then is its outcome, as
// one-after-another would have had it. Without workers the rule holds for a window
// worked before its commits in the same way.
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
    static constexpr unsigned kBatch = Window / 2;  // with workers
    // Runs on a worker: touches nothing but its job.
    using Work = void (*)(Job& job, void* context) noexcept;
    // Runs after the job's work, in order; false halts.
    using Commit = bool (*)(Job& job, void* context) noexcept;
    // Whether the job's work (or, once committed, its commit) failed for want of what the
    // jobs beside it took (room).
    using Again = bool (*)(const Job& job, void* context) noexcept;
    // Whether the commits are worth gathering into batches now; asked often, from any
    // thread. Null: never.
    using Batching = bool (*)(void* context) noexcept;

    Pipeline(unsigned threads, Work work, void* context, Commit commit = nullptr, Again again = nullptr,
             Work drop = nullptr, Batching batching = nullptr) noexcept
        : work_(work), commit_(commit), again_(again), drop_(drop), batching_(batching), context_(context) {
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
    static constexpr unsigned window() noexcept { return Window; }
    bool empty() const noexcept { return given_ == taken_; }
    // Without workers a window is held only while its commits wait for a batch.
    bool full() const noexcept { return given_ - taken_ >= (started_ > 0 || batched() ? Window : 1u); }

    // After a halt, with every job taken back: the next jobs handed out commit again.
    void resume() noexcept { halted_ = false; }

    // The next job's slot, to fill in before give(); room first (full() is false).
    Job& next() noexcept { return slots_[given_ % Window].job; }
    void give() noexcept {
        Slot& s = slots_[given_++ % Window];
        if (started_ > 0) {
            // Jobs are coming again: the commits wait for batches.
            if (urgent_.load(std::memory_order_relaxed)) urgent_.store(false);
            jobs_.post();
            return;
        }
        work_(s.job, context_);
        if (!batched()) commit_through(given_);
    }
    // The oldest job handed out, finished (and done again alone where the retry rule
    // says so). With the window full, the caller waits for the half of it at once rather
    // than for each job: one wake for many jobs, not one each.
    Job& take() noexcept {
        const uint64_t i = taken_++;
        Slot& s = slots_[i % Window];
        if (started_ == 0) {
            // This job not committed yet: it and every one handed out after it, in order,
            // the window at once (those after it are then handed back committed).
            if (committed_ <= i) commit_through(given_);
            return s.job;
        }
        if (i < alone_until_) return s.job;
        if (i == ahead_) {
            ahead_ = kNone;
        } else {
            if (ahead_ == kNone && given_ - i == Window) {
                // The end of the first batch: committed as one.
                ahead_ = i + kBatch - 1;
                slots_[ahead_ % Window].done.wait();
            } else if (commit_ && given_ - i < kBatch) {
                // No full batch reaches this job: what is finished is committed now, and
                // whatever finishes from here on; by this thread too, as the workers may
                // all be idle.
                urgent_.store(true);
                commit_ready();
            }
            s.done.wait();
        }
        if (again_at_.load() == i) again_alone(i);
        return s.job;
    }

private:
    struct Slot {
        Job job;
        Semaphore done;
        std::atomic<bool> ready{false};  // worked, waiting for its commit
    };
    static void run(void* self) noexcept {
        auto* p = static_cast<Pipeline*>(self);
        for (;;) {
            p->jobs_.wait();
            if (p->stop_.load()) return;
            Slot& s = p->slots_[p->next_job_.fetch_add(1) % Window];
            p->work_(s.job, p->context_);
            if (p->commit_) {
                s.ready.store(true);
                p->commit_ready();
            } else {
                s.done.post();
            }
        }
    }

    // Commits the finished jobs that are next, in order: a batch of them once kBatch are
    // finished in a row, or every one while the caller waits or no batch is wanted. One
    // thread commits at a time; one that finds the place taken leaves its job to the
    // thread there, which looks once more after it lets go (both sides sequentially
    // consistent, so one of the two sees the other: a finished job is never left
    // uncommitted that a batch or the caller's wait calls for). A job the retry rule takes
    // is left, with every one after it, to the thread that takes it back: those after it
    // are passed on as they finish, batch or not.
    void commit_ready() noexcept {
        for (;;) {
            if (committing_.exchange(true)) return;
            while (may_commit()) {
                const uint64_t at = next_commit_.load(std::memory_order_relaxed);
                Slot& n = slots_[at % Window];
                if (!n.ready.load()) break;
                n.ready.store(false, std::memory_order_relaxed);
                if (!halted_ && again_at_.load(std::memory_order_relaxed) == kNone) {
                    // Asked before the commit (the work found no room) and after it (the
                    // commit did).
                    bool go_on = true;
                    if (!(again_ && again_(n.job, context_))) go_on = commit_(n.job, context_);
                    if (again_ && again_(n.job, context_))
                        again_at_.store(at);
                    else
                        halted_ = !go_on;
                }
                next_commit_.fetch_add(1, std::memory_order_relaxed);
                n.done.post();
            }
            committing_.store(false);
            if (!slots_[next_commit_.load() % Window].ready.load() || !may_commit()) return;
        }
    }

    bool batched() const noexcept { return commit_ && batching_ && batching_(context_); }

    bool may_commit() const noexcept {
        return urgent_.load() || again_at_.load() != kNone || !batched() || batch_ready();
    }

    // Whether the kBatch jobs from the next one to commit on are all finished.
    bool batch_ready() const noexcept {
        const uint64_t n = next_commit_.load();
        for (uint64_t k = n; k < n + kBatch; ++k)
            if (!slots_[k % Window].ready.load()) return false;
        return true;
    }

    // Without workers: every job handed out before end and not committed yet, in order,
    // under the retry rule (the jobs after one that found no room were worked beside it).
    void commit_through(uint64_t end) noexcept {
        for (; commit_ && committed_ < end; ++committed_) {
            Job& job = slots_[committed_ % Window].job;
            if (halted_) continue;
            const bool beside = committed_ + 1 < given_;
            bool go_on = true;
            if (!(beside && again_ && again_(job, context_))) go_on = commit_(job, context_);
            if (beside && again_ && again_(job, context_)) {
                alone_from(committed_);
                committed_ = given_;
                return;
            }
            halted_ = !go_on;
        }
    }

    // The job at i and each later one worked and committed again alone, in turn, the work
    // of those after it let go first.
    void alone_from(uint64_t i) noexcept {
        if (drop_)
            for (uint64_t j = i + 1; j < given_; ++j) drop_(slots_[j % Window].job, context_);
        for (uint64_t j = i; j < given_; ++j) {
            Job& job = slots_[j % Window].job;
            work_(job, context_);
            if (!halted_) halted_ = !commit_(job, context_);
        }
    }

    // The retry rule for the job at i, on the taking thread: every later job's work done
    // and let go, then i and each later one worked and committed in turn.
    void again_alone(uint64_t i) noexcept {
        for (uint64_t j = i + 1; j < given_; ++j)
            if (j != ahead_) slots_[j % Window].done.wait();
        ahead_ = kNone;
        alone_from(i);
        again_at_.store(kNone);
        alone_until_ = given_;
    }

    Work work_;
    Commit commit_;
    Again again_;
    Work drop_;
    Batching batching_;
    void* context_;
    std::array<Slot, Window> slots_;
    std::array<Thread, kMaxWorkers> threads_;
    unsigned started_ = 0;
    Semaphore jobs_;
    std::atomic<uint64_t> next_job_{0};
    std::atomic<bool> stop_{false};
    std::atomic<bool> committing_{false};
    std::atomic<uint64_t> next_commit_{0};
    bool halted_ = false;        // by the thread that commits
    std::atomic<uint64_t> again_at_{kNone};  // the job the retry rule holds, set by the thread that commits
    std::atomic<bool> urgent_{false};        // the caller waits for a job no full batch reaches
    uint64_t alone_until_ = 0;   // jobs before it were done again alone: taken back as they are
    static constexpr uint64_t kNone = ~uint64_t{0};
    uint64_t given_ = 0;
    uint64_t taken_ = 0;
    uint64_t ahead_ = kNone;  // a job whose end take() has waited for ahead of its turn
    uint64_t committed_ = 0;  // without workers: the jobs committed so far
};

// How many threads write an operation's files: QUILLMAR_THREADS as the environment holds
// it now (1: the calling thread alone), else what suits the machine.
unsigned writing_threads() noexcept;
// The same for a value of the variable (null: unset) on a machine of that many processors:
// a count of decimal digits, blanks around it dropped, from 1 (above kMaxWorkers: that
// many); anything else (empty, 0, a sign, more than one word) as unset, the processors
// but at most 4.
unsigned writing_threads_from(const char* value, unsigned processors) noexcept;

}  // namespace qm::plat
