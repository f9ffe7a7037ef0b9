// Row bands on the engine's worker pool.
//
// A round of bands is one round of the pool: one job per worker (fewer when there are fewer
// bands), each of which, like the calling thread, takes the next band number from a shared
// counter until none is left. A worker that wakes late finds the bands taken and ends at once.
#include "facesdk/engine/row_bands.h"

#include <algorithm>
#include <atomic>

#include "facesdk/base/result_codes.h"

// ---- The scope ------------------------------------------------------------------------------

namespace {

thread_local WorkerPool *tScopePool = nullptr;

}  // namespace

BandWorkersScope::BandWorkersScope(WorkerPool *pool) : outer_(tScopePool)
{
    tScopePool = pool;
}

BandWorkersScope::~BandWorkersScope()
{
    tScopePool = outer_;
}

int32_t bandThreads()
{
    return tScopePool ? tScopePool->count + 1 : 1;
}

// ---- Running bands --------------------------------------------------------------------------

namespace {

struct BandRound {
    std::atomic<int32_t> next;  // the next band to take
    int32_t count;
    BandFunction band;
    void *context;
};

void takeBands(BandRound *round)
{
    for (;;) {
        const int32_t k = round->next.fetch_add(1, std::memory_order_relaxed);
        if (k >= round->count)
            return;
        round->band(round->context, k);
    }
}

// The pool job: its argument block holds the round's address.
int bandJob(void *argument)
{
    takeBands(*static_cast<BandRound **>(argument));
    return kResultOk;
}

}  // namespace

void runBands(int32_t count, BandFunction band, void *context)
{
    WorkerPool *pool = tScopePool;
    if (!pool || count <= 1) {
        for (int32_t k = 0; k < count; ++k)
            band(context, k);
        return;
    }
    BandRound round;
    round.next.store(0, std::memory_order_relaxed);
    round.count = count;
    round.band = band;
    round.context = context;
    BandRound *address = &round;
    const int32_t helpers = std::min(pool->count, count - 1);
    for (int32_t i = 0; i < helpers; ++i)
        if (workerPoolSubmit(pool, bandJob, &address, sizeof address) != kResultOk)
            break;
    // The pool's own threads see no scope: bands they run share nothing out again.
    const BandWorkersScope onlyHere(nullptr);
    workerPoolStart(pool);
    takeBands(&round);
    workerPoolWait(pool);
}

// ---- Cutting rows into bands ----------------------------------------------------------------

int32_t rowBandCount(int32_t rows, int64_t pixelsPerRow)
{
    const int32_t threads = bandThreads();
    if (threads <= 1 || rows < 2 || int64_t(rows) * pixelsPerRow < kLeastBandedPixels)
        return 1;
    return std::min({rows / 2, 3 * threads, kMostRowBands});
}

int32_t rowBandStart(int32_t first, int32_t rows, int32_t count, int32_t k, bool even)
{
    if (k <= 0)
        return first;
    if (k >= count)
        return first + rows;
    const int32_t offset = int32_t(int64_t(rows) * k / count);
    return first + (even ? offset & ~1 : offset);
}
