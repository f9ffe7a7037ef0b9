#include "vizoruv/platform/platform_workers.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "sys/threads/thread_faults.h"

namespace {

// A worker function that runs until the test lets it go.
std::atomic<bool> gLetGo{false};
std::atomic<int> gRuns{0};

void heldWorker(VXLPlatformWin*) {
    gRuns.fetch_add(1);
    while (!gLetGo.load())
        std::this_thread::yield();
}

struct WorkerTest : ::testing::Test {
    void SetUp() override {
        gLetGo = false;
        gRuns = 0;
    }
};

TEST_F(WorkerTest, StartIsRefusedWhileTheLastThreadRuns) {
    WorkerRecord worker(nullptr, heldWorker);
    EXPECT_FALSE(worker.running());
    worker.wait();  // never ran: counts as ended
    ASSERT_TRUE(worker.start());
    EXPECT_TRUE(worker.running());
    EXPECT_FALSE(worker.start());
    EXPECT_NE(worker.lastThreadId(), 0u);
    EXPECT_FALSE(worker.isCurrentThread());
    gLetGo = true;
    worker.wait();
    EXPECT_FALSE(worker.running());
    ASSERT_TRUE(worker.start());  // every run is a new thread
    worker.wait();
    EXPECT_EQ(gRuns.load(), 2);
}

TEST_F(WorkerTest, WaitersOnSeveralThreadsAllReturnWhenTheRunEnds) {
    WorkerRecord worker(nullptr, heldWorker);
    ASSERT_TRUE(worker.start());
    std::atomic<int> returned{0};
    std::thread a([&] { worker.wait(); ++returned; });
    std::thread b([&] { worker.wait(); ++returned; });
    gLetGo = true;
    a.join();
    b.join();
    EXPECT_EQ(returned.load(), 2);
}

TEST_F(WorkerTest, AThreadThatCannotBeStartedIsReportedAndLeavesTheWorkerIdle) {
    WorkerRecord worker(nullptr, heldWorker);
    sys::ThreadFaults faults;
    faults.failStartAt = 1;
    sys::armThreadFaults(faults);
    EXPECT_FALSE(worker.start());
    sys::disarmThreadFaults();
    EXPECT_FALSE(worker.running());
    worker.wait();
    gLetGo = true;
    EXPECT_TRUE(worker.start());
    worker.wait();
    EXPECT_EQ(gRuns.load(), 1);
}

TEST_F(WorkerTest, TheWorkerKnowsItsOwnThread) {
    static std::atomic<bool> seenOwnThread{false};
    static WorkerRecord* self = nullptr;
    WorkerRecord worker(nullptr, [](VXLPlatformWin*) { seenOwnThread = self->isCurrentThread(); });
    self = &worker;
    ASSERT_TRUE(worker.start());
    worker.wait();
    EXPECT_TRUE(seenOwnThread.load());
}

TEST(MainThread, TheTestRunnerIsTheMainThreadAndOthersAreNot) {
    bool isMain = false;
    ASSERT_TRUE(isMainThread(&isMain));
    EXPECT_TRUE(isMain);
    bool other = true, known = false;
    std::thread([&] { known = isMainThread(&other); }).join();
    EXPECT_TRUE(known);
    EXPECT_FALSE(other);
}

TEST(MainThread, AProbeThatCannotTellIsReported) {
    setMainThreadProbe([](bool*) { return false; });
    bool isMain = true;
    EXPECT_FALSE(isMainThread(&isMain));
    EXPECT_FALSE(isMain);
    setMainThreadProbe(nullptr);
    EXPECT_TRUE(isMainThread(&isMain));
}

}  // namespace
