#include "facesdk/workers/worker_pool.h"

#include "facesdk/base/result_codes.h"
#include "sys/threads/thread_faults.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

namespace {

// A counting allocator that several worker threads may use at once; it can fail its N-th
// allocation and answers null for size 0 like the default allocator.
struct SharedCountingAllocator {
    EngineAllocator base{&kOps}; // table of operations; always the first entry
    std::mutex lock;
    std::map<void *, uint32_t> live;
    int allocations = 0;
    int failAt = 0;
    int badFrees = 0;

    EngineAllocator *allocator() { return &base; }
    size_t liveBlocks()
    {
        std::lock_guard<std::mutex> guard(lock);
        return live.size();
    }

    static SharedCountingAllocator *self(EngineAllocator *a) { return reinterpret_cast<SharedCountingAllocator *>(a); }
    static void release(EngineAllocator *) {}
    static void *alloc(EngineAllocator *a, uint32_t size)
    {
        SharedCountingAllocator *c = self(a);
        std::lock_guard<std::mutex> guard(c->lock);
        if (++c->allocations == c->failAt || size == 0)
            return nullptr;
        void *block = std::malloc(size);
        c->live[block] = size;
        return block;
    }
    static void free(EngineAllocator *a, void *block)
    {
        if (!block)
            return;
        SharedCountingAllocator *c = self(a);
        std::lock_guard<std::mutex> guard(c->lock);
        if (c->live.erase(block) == 0) {
            ++c->badFrees;
            return;
        }
        std::free(block);
    }
    static constexpr EngineAllocatorOps kOps = {release, alloc, free};
};

struct Log {
    std::mutex lock;
    std::vector<std::pair<uint32_t, int>> runs; // (thread id, job index) in the order they ran
};

struct LoggedJob {
    Log *log;
    int index;
    std::atomic<int> *calls;
};

int loggedJob(void *argument)
{
    LoggedJob *job = static_cast<LoggedJob *>(argument);
    job->calls->fetch_add(1);
    std::lock_guard<std::mutex> guard(job->log->lock);
    job->log->runs.emplace_back(sys::threadMethods()->currentId(), job->index);
    return 0;
}

class WorkerPoolTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        sys::disarmThreadFaults();
        EXPECT_EQ(memory.liveBlocks(), 0u);
        EXPECT_EQ(memory.badFrees, 0);
    }
    SharedCountingAllocator memory;
};

TEST_F(WorkerPoolTest, CreateRefusesFewerThanTwoWorkersAndAcceptsTwo)
{
    WorkerPool *pool = reinterpret_cast<WorkerPool *>(1);
    EXPECT_EQ(workerPoolCreate(memory.allocator(), 1, &pool), kResultBadArgument);
    EXPECT_EQ(pool, nullptr);
    EXPECT_EQ(memory.allocations, 0);
    ASSERT_EQ(workerPoolCreate(memory.allocator(), 2, &pool), kResultOk);
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(workerPoolWait(pool), kResultOk); // before a start: returns at once
    EXPECT_EQ(workerPoolDestroy(pool), kResultOk);
    EXPECT_EQ(workerPoolFree(pool), kResultOk);
    EXPECT_EQ(workerPoolFree(nullptr), kResultOk);
}

TEST_F(WorkerPoolTest, FailedAllocationOrThreadStartLeavesNothingBehind)
{
    for (int failAt : {1, 2}) {
        memory.allocations = 0;
        memory.failAt = failAt;
        WorkerPool *pool = reinterpret_cast<WorkerPool *>(1);
        EXPECT_EQ(workerPoolCreate(memory.allocator(), 4, &pool), kResultNoMemory) << failAt;
        EXPECT_EQ(pool, nullptr);
        EXPECT_EQ(memory.liveBlocks(), 0u);
    }
    memory.failAt = 0;
    for (int startAt : {1, 3}) {
        sys::ThreadFaults faults;
        faults.failStartAt = startAt;
        sys::armThreadFaults(faults);
        WorkerPool *pool = reinterpret_cast<WorkerPool *>(1);
        EXPECT_EQ(workerPoolCreate(memory.allocator(), 4, &pool), kResultFailed) << startAt;
        EXPECT_EQ(pool, nullptr);
        EXPECT_EQ(sys::threadStartsSinceArming(), startAt);
        EXPECT_EQ(memory.liveBlocks(), 0u);
        sys::disarmThreadFaults();
    }
}

TEST_F(WorkerPoolTest, DestroyAndFreeRightAfterCreateRunNoQueuedJobAndFreeEveryCopy)
{
    WorkerPool *pool = nullptr;
    ASSERT_EQ(workerPoolCreate(memory.allocator(), 4, &pool), kResultOk);
    Log log;
    std::atomic<int> calls{0};
    for (int i = 0; i < 10; ++i) {
        LoggedJob job{&log, i, &calls};
        ASSERT_EQ(workerPoolSubmit(pool, loggedJob, &job, sizeof job), kResultOk);
    }
    EXPECT_EQ(memory.liveBlocks(), 2u + 2u * 10u); // pool, worker array, entry and copy per job
    EXPECT_EQ(workerPoolDestroy(pool), kResultOk);
    EXPECT_EQ(workerPoolFree(pool), kResultOk);
    EXPECT_EQ(calls.load(), 0);
}

TEST_F(WorkerPoolTest, JobsRunOnceEachOnPrivateCopiesAndInSubmissionOrderPerWorker)
{
    WorkerPool *pool = nullptr;
    ASSERT_EQ(workerPoolCreate(memory.allocator(), 4, &pool), kResultOk);
    Log log;
    std::atomic<int> calls{0};
    const int jobs = 200;
    LoggedJob job{&log, 0, &calls};
    for (int i = 0; i < jobs; ++i) {
        job.index = i; // one block on the stack, reused for every submit
        ASSERT_EQ(workerPoolSubmit(pool, loggedJob, &job, sizeof job), kResultOk);
    }
    ASSERT_EQ(workerPoolStart(pool), kResultOk);
    ASSERT_EQ(workerPoolWait(pool), kResultOk);
    EXPECT_EQ(calls.load(), jobs);
    EXPECT_EQ(memory.liveBlocks(), 2u); // every entry and copy freed after its job
    ASSERT_EQ(workerPoolDestroy(pool), kResultOk);
    ASSERT_EQ(workerPoolFree(pool), kResultOk);

    std::map<uint32_t, int> lastIndexOfThread;
    std::vector<int> seen;
    for (const auto &run : log.runs) {
        auto last = lastIndexOfThread.find(run.first);
        if (last != lastIndexOfThread.end()) {
            EXPECT_LT(last->second, run.second) << "thread " << run.first;
        }
        lastIndexOfThread[run.first] = run.second;
        seen.push_back(run.second);
    }
    std::sort(seen.begin(), seen.end());
    for (int i = 0; i < jobs; ++i)
        ASSERT_EQ(seen[i], i);
}

TEST_F(WorkerPoolTest, OnePoolServesManyRoundsOnTheThreadsItStarted)
{
    sys::ThreadFaults counting; // no fault: only counts the starts
    sys::armThreadFaults(counting);
    WorkerPool *pool = nullptr;
    ASSERT_EQ(workerPoolCreate(memory.allocator(), 4, &pool), kResultOk);
    EXPECT_EQ(sys::threadStartsSinceArming(), 4);
    Log log;
    std::atomic<int> calls{0};
    int submitted = 0;
    for (int round = 0; round < 50; ++round) {
        const int jobs = round % 7; // rounds of 0 to 6 jobs, fewer and more than the workers
        for (int i = 0; i < jobs; ++i) {
            LoggedJob job{&log, submitted++, &calls};
            ASSERT_EQ(workerPoolSubmit(pool, loggedJob, &job, sizeof job), kResultOk);
        }
        ASSERT_EQ(workerPoolStart(pool), kResultOk);
        ASSERT_EQ(workerPoolWait(pool), kResultOk);
        ASSERT_EQ(calls.load(), submitted) << "round " << round; // every job of the round ended
        EXPECT_EQ(memory.liveBlocks(), 2u);
    }
    EXPECT_EQ(sys::threadStartsSinceArming(), 4);
    std::map<uint32_t, int> jobsOfThread;
    for (const auto &run : log.runs)
        ++jobsOfThread[run.first];
    EXPECT_LE(jobsOfThread.size(), 4u);
    ASSERT_EQ(workerPoolDestroy(pool), kResultOk);
    ASSERT_EQ(workerPoolFree(pool), kResultOk);
    EXPECT_EQ(workerPoolStart(nullptr), kResultBadArgument);
}

std::atomic<int> zeroLengthCalls{0};
std::atomic<int> zeroLengthNonNull{0};
int countZeroLength(void *argument)
{
    zeroLengthCalls.fetch_add(1);
    if (argument)
        zeroLengthNonNull.fetch_add(1);
    return 0;
}

TEST_F(WorkerPoolTest, SubmitChecksArgumentsAndQueuesNothingWhenMemoryRunsOut)
{
    WorkerPool *pool = nullptr;
    ASSERT_EQ(workerPoolCreate(memory.allocator(), 2, &pool), kResultOk);
    int block = 7;
    EXPECT_EQ(workerPoolSubmit(nullptr, countZeroLength, &block, sizeof block), kResultBadArgument);
    EXPECT_EQ(workerPoolSubmit(pool, nullptr, &block, sizeof block), kResultBadArgument);
    EXPECT_EQ(workerPoolSubmit(pool, countZeroLength, nullptr, 4), kResultBadArgument);

    const size_t before = memory.liveBlocks();
    for (int which : {1, 2}) { // the copy, then the entry
        memory.failAt = memory.allocations + which;
        EXPECT_EQ(workerPoolSubmit(pool, countZeroLength, &block, sizeof block), kResultNoMemory);
        EXPECT_EQ(memory.liveBlocks(), before);
    }
    memory.failAt = 0;
    zeroLengthCalls = 0;
    zeroLengthNonNull = 0;
    ASSERT_EQ(workerPoolSubmit(pool, countZeroLength, &block, 0), kResultOk);
    ASSERT_EQ(workerPoolStart(pool), kResultOk);
    ASSERT_EQ(workerPoolWait(pool), kResultOk);
    EXPECT_EQ(zeroLengthCalls.load(), 1); // only the job that was queued ran
    EXPECT_EQ(zeroLengthNonNull.load(), 0);
    workerPoolDestroy(pool);
    workerPoolFree(pool);
}

int addBand(void *first, void *, void *, int32_t fourth, int32_t fifth, int32_t sixth, void *,
            int32_t eighth, int32_t ninth, int32_t tenth)
{
    static_cast<std::atomic<int> *>(first)->fetch_add(fourth + fifth + sixth + eighth + ninth + tenth);
    return 0;
}

TEST_F(WorkerPoolTest, BandJobsCallTheirFunctionWithTheTenArguments)
{
    WorkerPool *pool = nullptr;
    ASSERT_EQ(workerPoolMethods()->create(memory.allocator(), 4, &pool), kResultOk);
    std::atomic<int> total{0};
    for (int band = 0; band < 8; ++band) {
        BandJob job{&total, nullptr, nullptr, band, 1, 2, nullptr, 3, 4, 5, addBand};
        ASSERT_EQ(workerPoolMethods()->submit(pool, runJob, &job, sizeof job), kResultOk);
    }
    workerPoolMethods()->start(pool);
    workerPoolMethods()->wait(pool);
    workerPoolMethods()->destroy(pool);
    workerPoolMethods()->free(pool);
    EXPECT_EQ(total.load(), (0 + 1 + 2 + 3 + 4 + 5 + 6 + 7) + 8 * 15);
}

} // namespace
