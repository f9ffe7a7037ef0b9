#include "facesdk/workers/single_worker.h"

#include "facesdk/base/result_codes.h"
#include "sys/threads/thread_faults.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <condition_variable>
#include <mutex>

namespace {

// Argument block of the test jobs: the first int is where an abandoned job gets -1.
struct Block {
    int32_t result = 0;
    std::atomic<int> calls{0};
};

int countCall(void *argument)
{
    Block *block = static_cast<Block *>(argument);
    block->calls.fetch_add(1);
    block->result = 1;
    return 0;
}

// A job that runs until the test opens its gate.
struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false;
    bool open = false;

    void waitEntered()
    {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [this] { return entered; });
    }
    void release()
    {
        std::lock_guard<std::mutex> guard(lock);
        open = true;
        changed.notify_all();
    }
};

struct GatedBlock {
    int32_t result = 0;
    Gate *gate;
};

int gatedJob(void *argument)
{
    GatedBlock *block = static_cast<GatedBlock *>(argument);
    Gate *gate = block->gate;
    std::unique_lock<std::mutex> guard(gate->lock);
    gate->entered = true;
    gate->changed.notify_all();
    gate->changed.wait(guard, [gate] { return gate->open; });
    block->result = 2;
    return 0;
}

class SingleWorkerTest : public ::testing::Test {
protected:
    void TearDown() override { sys::disarmThreadFaults(); }
};

TEST_F(SingleWorkerTest, CreateCodes)
{
    EXPECT_EQ(workerCreate(nullptr), kResultBadArgument);
    sys::ThreadFaults faults;
    faults.failStartAt = 1;
    sys::armThreadFaults(faults);
    SingleWorker *worker = reinterpret_cast<SingleWorker *>(1);
    EXPECT_EQ(workerCreate(&worker), kResultFailed);
    EXPECT_EQ(worker, nullptr);
    sys::disarmThreadFaults();
    ASSERT_EQ(workerCreate(&worker), kResultOk);
    ASSERT_NE(worker, nullptr);
    EXPECT_EQ(workerJoin(worker), kResultOk);
}

TEST_F(SingleWorkerTest, PostWaitRunsTheJobAndWaitHandsThePointerOnce)
{
    SingleWorker *worker = nullptr;
    ASSERT_EQ(workerCreate(&worker), kResultOk);
    EXPECT_EQ(workerWait(worker), nullptr); // nothing posted
    Block block;
    EXPECT_EQ(workerPost(nullptr, countCall, &block), kResultBadArgument);
    EXPECT_EQ(workerPost(worker, countCall, nullptr), kResultBadArgument);
    for (int round = 1; round <= 3; ++round) {
        ASSERT_EQ(workerPost(worker, countCall, &block), kResultOk);
        EXPECT_EQ(workerWait(worker), &block);
        EXPECT_EQ(workerWait(worker), nullptr);
        EXPECT_EQ(block.calls.load(), round);
    }
    EXPECT_EQ(workerWait(nullptr), nullptr);
    EXPECT_EQ(workerDestroy(worker), kResultOk);
    EXPECT_EQ(block.result, 1); // collected: destroy writes nothing
    EXPECT_EQ(workerDestroy(nullptr), kResultBadArgument);
    EXPECT_EQ(workerJoin(nullptr), kResultBadArgument);
}

TEST_F(SingleWorkerTest, PostWhileRunningIsRefusedAndLeavesTheRunningJobAlone)
{
    SingleWorker *worker = nullptr;
    ASSERT_EQ(workerCreate(&worker), kResultOk);
    Gate gate;
    GatedBlock running{0, &gate};
    ASSERT_EQ(workerPost(worker, gatedJob, &running), kResultOk);
    gate.waitEntered();
    Block other;
    EXPECT_EQ(workerPost(worker, countCall, &other), kResultCancelled);
    gate.release();
    EXPECT_EQ(workerWait(worker), &running);
    EXPECT_EQ(running.result, 2);
    EXPECT_EQ(other.calls.load(), 0);
    EXPECT_EQ(workerJoin(worker), kResultOk);
}

// Creates a worker whose thread does not run until the held threads are released, so that
// posts pile up in its slot deterministically.
SingleWorker *createHeldWorker()
{
    sys::ThreadFaults faults;
    faults.holdNewThreads = true;
    sys::armThreadFaults(faults);
    SingleWorker *worker = nullptr;
    EXPECT_EQ(workerCreate(&worker), kResultOk);
    return worker;
}

// Releases the held threads a little later, from another thread, while the test blocks.
std::thread releaseHeldThreadsSoon()
{
    return std::thread([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        sys::releaseHeldThreads();
    });
}

TEST_F(SingleWorkerTest, ASecondPostBeforeTheFirstStartsReplacesIt)
{
    SingleWorker *worker = createHeldWorker();
    Block first, second;
    ASSERT_EQ(workerPost(worker, countCall, &first), kResultOk);
    ASSERT_EQ(workerPost(worker, countCall, &second), kResultOk);
    sys::releaseHeldThreads();
    EXPECT_EQ(workerWait(worker), &second);
    EXPECT_EQ(first.calls.load(), 0);
    EXPECT_EQ(second.calls.load(), 1);
    EXPECT_EQ(workerJoin(worker), kResultOk);
}

TEST_F(SingleWorkerTest, JoinWithAPostedJobThatHasNotStartedDropsIt)
{
    SingleWorker *worker = createHeldWorker();
    Block block;
    ASSERT_EQ(workerPost(worker, countCall, &block), kResultOk);
    std::thread releaser = releaseHeldThreadsSoon();
    EXPECT_EQ(workerJoin(worker), kResultOk);
    releaser.join();
    EXPECT_EQ(block.calls.load(), 0);
    EXPECT_EQ(block.result, 0);
}

TEST_F(SingleWorkerTest, DestroyWritesMinusOneIntoAPostedUntakenJob)
{
    SingleWorker *worker = createHeldWorker();
    Block block;
    ASSERT_EQ(workerPost(worker, countCall, &block), kResultOk);
    std::thread releaser = releaseHeldThreadsSoon();
    EXPECT_EQ(workerDestroy(worker), kResultOk);
    releaser.join();
    EXPECT_EQ(block.result, -1);
    EXPECT_EQ(block.calls.load(), 0);
}

TEST_F(SingleWorkerTest, DestroyWritesMinusOneIntoAFinishedJobThatWasNotCollected)
{
    SingleWorker *worker = nullptr;
    ASSERT_EQ(workerCreate(&worker), kResultOk);
    Block block;
    ASSERT_EQ(workerPost(worker, countCall, &block), kResultOk);
    while (block.calls.load() == 0 || worker->state.load() != kWorkerIdle)
        std::this_thread::yield();
    EXPECT_EQ(workerDestroy(worker), kResultOk);
    EXPECT_EQ(block.result, -1);
}

TEST_F(SingleWorkerTest, DestroyWhileAJobRunsReturnsAtOnceAndTheThreadReclaimsTheRecord)
{
    SingleWorker *worker = nullptr;
    ASSERT_EQ(workerCreate(&worker), kResultOk);
    Gate gate;
    GatedBlock running{0, &gate};
    ASSERT_EQ(workerPost(worker, gatedJob, &running), kResultOk);
    gate.waitEntered();
    EXPECT_EQ(workerDestroy(worker), kResultOk); // does not wait for the job
    {
        std::lock_guard<std::mutex> guard(gate.lock); // the job holds it while it touches its block
        EXPECT_EQ(running.result, 0);                 // the running job owns its block: no -1
    }
    gate.release();
    // The job ends on its own and its thread then frees the record.
    for (;;) {
        std::lock_guard<std::mutex> guard(gate.lock);
        if (running.result == 2)
            break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

TEST_F(SingleWorkerTest, FailedThreadEndingIsReportedAndTheRecordStillReleased)
{
    sys::ThreadFaults faults;
    faults.failJoin = true;
    sys::armThreadFaults(faults);
    SingleWorker *joined = nullptr, *destroyed = nullptr;
    ASSERT_EQ(workerCreate(&joined), kResultOk);
    ASSERT_EQ(workerCreate(&destroyed), kResultOk);
    EXPECT_EQ(workerJoin(joined), kResultFailed);
    EXPECT_EQ(workerDestroy(destroyed), kResultFailed);
}

TEST_F(SingleWorkerTest, TableRunsThreeWorkersInTheFittersOrder)
{
    const SingleWorkerMethods *methods = singleWorkerMethods();
    SingleWorker *workers[3] = {};
    Block blocks[3];
    for (auto &worker : workers)
        ASSERT_EQ(methods->create(&worker), kResultOk);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(methods->post(workers[i], countCall, &blocks[i]), kResultOk);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(methods->wait(workers[i]), &blocks[i]);
    for (auto &worker : workers)
        EXPECT_EQ(methods->join(worker), kResultOk);
    for (const Block &block : blocks)
        EXPECT_EQ(block.calls.load(), 1);
}

} // namespace
