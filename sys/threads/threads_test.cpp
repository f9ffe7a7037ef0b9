#include "sys/threads/thread_faults.h"
#include "sys/threads/threads.h"

#include <gtest/gtest.h>

#include <atomic>

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
