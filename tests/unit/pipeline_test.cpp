// The ordered pipeline the expansion and the guarded copy run on: whatever the number of
// threads, jobs are committed one at a time strictly in hand-out order, handed back in
// that order, and a commit that answers false leaves every later job uncommitted (until
// the caller resumes with nothing in flight); a job whose work found no room beside
// others is done again alone, the later ones' work let go first. Without workers a
// window is worked before any of it is committed while batches are wanted, each job
// committed as it is worked otherwise. Runs natively, under ThreadSanitizer and under
// Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "platform/pipeline.h"

namespace {

struct Job {
    int index = -1;
    int worked = -1;
    bool committed = false;
};

struct Shared {
    int halt_at = -1;                  // the commit that answers false; -1: none
    std::atomic<int> committing{0};    // commits running now: never more than one
    bool overlapped = false;
    std::vector<int> order;            // the commits, as they came
    std::atomic<int> worked{0};        // jobs worked so far
    std::vector<int> worked_then;      // at each commit, as they came
};

void work(Job& j, void* context) noexcept {
    // Uneven work, so that later jobs often finish first.
    volatile int spin = (j.index * 7919) % 5000;
    while (spin > 0) spin = spin - 1;
    j.worked = j.index;
    static_cast<Shared*>(context)->worked.fetch_add(1);
}

bool commit(Job& j, void* context) noexcept {
    auto& s = *static_cast<Shared*>(context);
    if (s.committing.fetch_add(1) != 0) s.overlapped = true;
    s.order.push_back(j.index);
    s.worked_then.push_back(s.worked.load());
    j.committed = true;
    s.committing.fetch_sub(1);
    return j.index != s.halt_at;
}

bool always(void*) noexcept { return true; }

TEST(Pipeline, CommitsInOrderOneAtATimeAndNothingAfterAHalt) {
    constexpr int kJobs = 300;
    for (const bool batches : {false, true})
    for (const unsigned threads : {1u, 2u, 4u}) {
        for (const int halt_at : {-1, 0, 63, 200}) {
            Shared shared;
            shared.halt_at = halt_at;
            std::vector<int> taken;
            {
                qm::plat::Pipeline<Job> p(threads, &work, &shared, &commit, nullptr, nullptr,
                                          batches ? &always : nullptr);
                const auto take = [&] {
                    Job& j = p.take();
                    EXPECT_EQ(j.worked, j.index) << "handed back before its work was done";
                    EXPECT_EQ(j.committed, halt_at < 0 || j.index <= halt_at || j.index == kJobs) << j.index;
                    taken.push_back(j.index);
                };
                for (int i = 0; i < kJobs; ++i) {
                    if (p.full()) take();
                    Job& j = p.next();
                    j = Job{i};
                    p.give();
                }
                while (!p.empty()) take();
                if (halt_at >= 0) {  // resumed with nothing in flight: the next job commits
                    p.resume();
                    p.next() = Job{kJobs};
                    p.give();
                    take();
                }
            }
            const int extra = halt_at >= 0 ? 1 : 0;
            const int committed = halt_at < 0 ? kJobs : halt_at + 1;
            ASSERT_EQ(shared.order.size(), static_cast<size_t>(committed + extra)) << threads << " " << halt_at;
            for (int i = 0; i < committed; ++i) EXPECT_EQ(shared.order[i], i) << threads << " " << halt_at;
            ASSERT_EQ(taken.size(), static_cast<size_t>(kJobs + extra));
            for (int i = 0; i < kJobs + extra; ++i) EXPECT_EQ(taken[i], i);
            EXPECT_FALSE(shared.overlapped) << threads;
            if (threads == 1) {
                // A batch is the window: every job of it worked before its first commit;
                // without batches, each job committed once it is worked.
                constexpr int kWindow = qm::plat::Pipeline<Job>::window();
                for (int i = 0; i < committed; ++i) {
                    const int window_end = std::min(kJobs, (i / kWindow + 1) * kWindow);
                    EXPECT_EQ(shared.worked_then[i], batches ? window_end : i + 1) << i;
                }
            }
        }
    }
}

// A disk with room for one staged file: a job's work stages one (or finds no room), its
// commit gives it its name (the room comes back once it is named, as on a disk where
// the named files are accounted elsewhere), a dropped job lets its staged file go.
struct Room {
    std::atomic<int> staged{0};
    std::vector<int> committed;  // in order, each with its work done
    int failed_commits = 0;
};

struct RoomJob {
    int index = -1;
    bool holds = false;    // its staged file
    bool no_room = false;  // its staging found none
};

void stage_in_room(RoomJob& j, void* context) noexcept {
    auto& r = *static_cast<Room*>(context);
    j.holds = r.staged.fetch_add(1) == 0;
    if (!j.holds) r.staged.fetch_sub(1);
    j.no_room = !j.holds;
    volatile int spin = (j.index * 7919) % 3000;  // uneven, so that others stage meanwhile
    while (spin > 0) spin = spin - 1;
}

bool name_in_room(RoomJob& j, void* context) noexcept {
    auto& r = *static_cast<Room*>(context);
    if (!j.holds) {
        ++r.failed_commits;
        return true;
    }
    r.committed.push_back(j.index);
    j.holds = false;
    r.staged.fetch_sub(1);
    return true;
}

bool found_no_room(const RoomJob& j, void*) noexcept { return j.no_room; }

void let_go(RoomJob& j, void* context) noexcept {
    if (j.holds) static_cast<Room*>(context)->staged.fetch_sub(1);
    j.holds = false;
}

TEST(Pipeline, AJobThatFoundNoRoomBesideOthersIsDoneAgainAloneAndSoAreTheLaterOnes) {
    constexpr int kJobs = 200;
    for (const bool batches : {false, true})
    for (const unsigned threads : {1u, 2u, 4u}) {
        Room room;
        {
            qm::plat::Pipeline<RoomJob> p(threads, &stage_in_room, &room, &name_in_room, &found_no_room, &let_go,
                                          batches ? &always : nullptr);
            for (int i = 0; i < kJobs; ++i) {
                if (p.full()) (void)p.take();
                p.next() = RoomJob{i};
                p.give();
            }
            while (!p.empty()) (void)p.take();
        }
        // One after another, each job finds the room free: so does each one here.
        EXPECT_EQ(room.failed_commits, 0) << threads;
        ASSERT_EQ(room.committed.size(), static_cast<size_t>(kJobs)) << threads;
        for (int i = 0; i < kJobs; ++i) EXPECT_EQ(room.committed[i], i) << threads;
        EXPECT_EQ(room.staged.load(), 0) << threads << ": every staged file named or let go";
    }
}

}  // namespace

namespace {

// QUILLMAR_THREADS, read one way: a count, blanks around it dropped (as around
// QUILLMAR_SELECT's names), from 1 to the most the pipeline runs; anything else is unset.
struct ThreadsValue {
    const char* value;  // null: unset
    unsigned processors;
    unsigned threads;
};
const ThreadsValue kThreadsValues[] = {
    {nullptr, 2, 2}, {nullptr, 8, 4}, {"", 2, 2},     {"3", 2, 3},   {" 3", 2, 3},  {"3 ", 2, 3},
    {"\t 3 \t", 2, 3}, {"1", 8, 1},     {"16", 2, 16},  {"17", 2, 16}, {"99999999999999999999", 2, 16},
    {"0", 8, 4},     {"-3", 2, 2},    {"+3", 2, 2},   {"3x", 2, 2},  {"3 4", 2, 2},
};

class ThreadsVariable : public ::testing::TestWithParam<ThreadsValue> {};

TEST_P(ThreadsVariable, IsReadAsACountWithBlanksAroundDropped) {
    const ThreadsValue& k = GetParam();
    EXPECT_EQ(qm::plat::writing_threads_from(k.value, k.processors), k.threads)
        << "\"" << (k.value ? k.value : "(unset)") << "\" on " << k.processors << " processors";
}

INSTANTIATE_TEST_SUITE_P(Values, ThreadsVariable, ::testing::ValuesIn(kThreadsValues));

}  // namespace
