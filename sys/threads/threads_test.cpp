#include "sys/threads/thread_faults.h"
#include "sys/threads/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

namespace {

void addOne(void *arg) { static_cast<std::atomic<int> *>(arg)->fetch_add(1); }

void recordId(void *arg) { *static_cast<uint32_t *>(arg) = sys::threadMethods()->currentId(); }

TEST(Threads, StartJoinReleaseRunsTheRoutineOnItsOwnThread)
{
    uint32_t seen = 0, id = 0;
    sys::SysThread *thread = nullptr;
    ASSERT_EQ(sys::threadMethods()->start(recordId, &seen, &thread, &id), sys::kThreadOk);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(sys::threadMethods()->join(thread), sys::kThreadOk);
    EXPECT_EQ(sys::threadMethods()->release(thread), sys::kThreadOk);
    EXPECT_EQ(seen, id);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, sys::threadMethods()->currentId());
}

// Ended threads wait a while for the next start: a start after another ended runs on its own
// id, every routine runs once, a second join is refused, and routines started together run at
// the same time (each waits for all of them), released or joined.
TEST(Threads, StartsOneAfterAnotherAndTogetherEachRunTheirRoutine)
{
    const sys::SysThreadMethods *threads = sys::threadMethods();
    std::set<uint32_t> ids;
    for (int k = 0; k < 20; ++k) {
        uint32_t seen = 0, id = 0;
        sys::SysThread *thread = nullptr;
        ASSERT_EQ(threads->start(recordId, &seen, &thread, &id), sys::kThreadOk);
        ASSERT_EQ(threads->join(thread), sys::kThreadOk);
        EXPECT_EQ(threads->join(thread), sys::kThreadError);
        EXPECT_EQ(threads->release(thread), sys::kThreadOk);
        EXPECT_EQ(seen, id);
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 20u);

    struct Together {
        std::atomic<int> arrived{0};
        std::atomic<int> done{0};
        int count = 0;
    } together;
    together.count = 12;
    const auto meet = [](void *arg) {
        auto *t = static_cast<Together *>(arg);
        t->arrived.fetch_add(1);
        while (t->arrived.load() < t->count)
            std::this_thread::yield();
        t->done.fetch_add(1);
    };
    std::vector<sys::SysThread *> started(size_t(together.count), nullptr);
    for (sys::SysThread *&thread : started)
        ASSERT_EQ(threads->start(meet, &together, &thread, nullptr), sys::kThreadOk);
    for (size_t k = 0; k < started.size(); ++k) {
        if (k % 2 == 0) {
            EXPECT_EQ(threads->join(started[k]), sys::kThreadOk);
        }
        EXPECT_EQ(threads->release(started[k]), sys::kThreadOk);
    }
    // Released threads run on to their end.
    for (int wait = 0; wait < 5000 && together.done.load() < together.count; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(together.done.load(), together.count);
}

TEST(Threads, ArmedFaultsRefuseTheChosenStartAndReportJoinFailure)
{
    std::atomic<int> runs{0};
    sys::ThreadFaults faults;
    faults.failStartAt = 2;
    faults.failJoin = true;
    sys::armThreadFaults(faults);
    sys::SysThread *first = nullptr, *second = reinterpret_cast<sys::SysThread *>(1);
    EXPECT_EQ(sys::threadMethods()->start(addOne, &runs, &first, nullptr), sys::kThreadOk);
    EXPECT_EQ(sys::threadMethods()->start(addOne, &runs, &second, nullptr), sys::kThreadError);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(sys::threadMethods()->join(first), sys::kThreadError);
    EXPECT_EQ(runs.load(), 1); // the failed join still waited for the thread
    sys::threadMethods()->release(first);
    EXPECT_EQ(sys::threadStartsSinceArming(), 2);
    sys::disarmThreadFaults();
    EXPECT_EQ(sys::threadMethods(), sys::defaultThreadMethods());
}

} // namespace

// Two threads hand a turn to and fro 20,000 times through one word, each sleeping on it until
// the other moves it on: a wake lost between a check and its sleep would stop the game.
TEST(Threads, SleepersOnAWordWakeWhenItChanges)
{
    std::atomic<uint32_t> turn{0};
    constexpr uint32_t kTurns = 20000;
    auto play = [&turn](uint32_t mine) {
        for (uint32_t t = mine; t < kTurns; t += 2) {
            for (uint32_t seen = turn.load(); seen != t; seen = turn.load())
                sys::waitOnWord(&turn, seen);
            turn.store(t + 1);
            sys::wakeAllOnWord(&turn);
        }
    };
    std::thread other(play, 1u);
    play(0);
    other.join();
    EXPECT_EQ(turn.load(), kTurns);

    // A word that no longer holds the expected value does not put the caller to sleep.
    sys::waitOnWord(&turn, kTurns + 1);
    sys::wakeOneOnWord(&turn);  // nobody sleeps: nothing happens
}
