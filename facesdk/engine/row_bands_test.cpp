#include "facesdk/engine/row_bands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "sys/threads/thread_faults.h"
#include "sys/threads/threads.h"

namespace {

// Every band of many rounds runs once, whatever thread takes it, in one operation's scope after
// another; the workers take bands of their own; and nothing of the rounds is left allocated when
// a scope ends.
TEST(RowBands, EveryBandRunsOnceInEveryRound)
{
    CountingAllocator counter;
    BandWorkers *workers = nullptr;
    ASSERT_EQ(bandWorkersCreate(counter.allocator(), &workers), kResultOk);
    const size_t engineBlocks = counter.liveBlocks();
    const std::thread::id caller = std::this_thread::get_id();
    for (int operation = 0; operation < 3; ++operation) {
        const BandWorkersScope scope(workers);
        EXPECT_EQ(bandThreads(), std::min(kEngineWorkers + 1, sys::processorsAvailable()));
        for (int32_t count : {2, 3, 5, 15, 40}) {
            std::vector<std::atomic<int>> runs(static_cast<size_t>(count));
            for (int round = 0; round < 20; ++round)
                forEachBand(count, [&](int32_t k) { runs[size_t(k)].fetch_add(1); });
            for (int32_t k = 0; k < count; ++k)
                EXPECT_EQ(runs[size_t(k)].load(), 20) << count << " bands, band " << k;
        }
        // A band that the calling thread takes waits until a worker has taken another.
        std::atomic<bool> workerBand{false};
        forEachBand(2, [&](int32_t) {
            if (std::this_thread::get_id() != caller)
                workerBand = true;
            else
                while (!workerBand)
                    std::this_thread::yield();
        });
        EXPECT_TRUE(workerBand);
    }
    EXPECT_EQ(counter.liveBlocks(), engineBlocks);
    bandWorkersRelease(workers);
    EXPECT_EQ(counter.liveBlocks(), 0u);
    EXPECT_EQ(counter.badFrees, 0);
}

// A round does not wait for workers that have not come: with every worker held before it
// runs, the calling thread does all the bands and the rounds end; the workers, let go, find
// their rounds over and take nothing, and the scope's end waits for them.
TEST(RowBands, RoundsEndWithoutTheWorkersThatDidNotCome)
{
    sys::ThreadFaults faults;
    faults.holdNewThreads = true;
    sys::armThreadFaults(faults);
    BandWorkers *workers = nullptr;
    ASSERT_EQ(bandWorkersCreate(defaultAllocator(), &workers), kResultOk);
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> elsewhere{0}, runs{0};
    std::thread release;
    {
        const BandWorkersScope scope(workers);
        for (int round = 0; round < 5; ++round)
            forEachBand(8, [&](int32_t) {
                runs.fetch_add(1);
                if (std::this_thread::get_id() != caller)
                    elsewhere.fetch_add(1);
            });
        EXPECT_EQ(runs.load(), 40);
        release = std::thread([] { sys::releaseHeldThreads(); });
    }
    release.join();
    sys::disarmThreadFaults();
    EXPECT_EQ(elsewhere.load(), 0);
    EXPECT_EQ(runs.load(), 40);
    bandWorkersRelease(workers);
}

// Rows cut into bands cover every row once; 4:2:0 loops get bands that start at even rows.
TEST(RowBands, BandsCoverTheRowsOnce)
{
    BandWorkers *workers = nullptr;
    ASSERT_EQ(bandWorkersCreate(defaultAllocator(), &workers), kResultOk);
    {
        const BandWorkersScope scope(workers);
        for (bool even : {false, true})
            for (int32_t rows : {1, 2, 3, 97, 1000, 1001}) {
                std::vector<std::atomic<int>> seen(static_cast<size_t>(rows));
                forEachRowBand(
                    7, rows, 1 << 20,
                    [&](int32_t first, int32_t end) {
                        if (even && first != 7) {
                            EXPECT_EQ((first - 7) % 2, 0) << rows;
                        }
                        for (int32_t y = first; y < end; ++y)
                            seen[size_t(y - 7)].fetch_add(1);
                    },
                    even);
                for (int32_t y = 0; y < rows; ++y)
                    ASSERT_EQ(seen[size_t(y)].load(), 1) << rows << " rows, row " << y;
            }
    }
    bandWorkersRelease(workers);
}

}  // namespace
