// Row bands on the engine's worker pool.
//
// A round of bands is posted on the workers' board: its function, context and count, a counter
// of the next band, and the round's number. The calling thread queues one job per worker
// (fewer when there are fewer bands), releases the pool and takes bands itself; each job, like
// the calling thread, takes the next band number until none is left. The calling thread does
// not wait for the workers to go idle: a worker can be slow to be scheduled on a busy machine,
// and the round would wait for it only to hear that the bands were all taken. It waits only for
// the workers that joined the round to leave it: a job joins under the board's lock, and only
// while its round is still open; when every band is taken the calling thread closes the round,
// so a job that starts later finds another number on the board and ends at once.
#include "facesdk/engine/row_bands.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "facesdk/base/result_codes.h"
#include "facesdk/workers/worker_pool.h"
#include "sys/threads/threads.h"

// ---- The workers and the scope --------------------------------------------------------------

struct BandWorkers {
    WorkerPool *pool;               // its workers take the rounds' jobs
    EngineAllocator *allocator;     // of this record
    sys::SysLock lock;              // guards round and joined
    sys::SysCondition lastLeft;     // signalled when the last joined worker leaves a round
    uint64_t round;                 // number of the open round; 0 while none is open
    uint64_t rounds;                // rounds posted so far
    int32_t joined;                 // workers inside the open round
    BandFunction band;              // the open round: what each band calls,
    void *context;                  //   with what,
    int32_t count;                  //   how many bands,
    std::atomic<int32_t> next;      //   and the next band to take
};

namespace {

thread_local BandWorkers *tScopeWorkers = nullptr;

}  // namespace

int bandWorkersCreate(EngineAllocator *allocator, BandWorkers **workers)
{
    if (!workers)
        return kResultBadArgument;
    *workers = nullptr;
    void *block = allocatorAlloc(allocator, sizeof(BandWorkers));
    if (!block)
        return kResultNoMemory;
    std::memset(block, 0, sizeof(BandWorkers));
    BandWorkers *made = new (block) BandWorkers();
    made->allocator = allocator;
    const int pooled = workerPoolCreate(allocator, kEngineWorkers, &made->pool);
    if (pooled != kResultOk) {
        made->~BandWorkers();
        allocatorFree(allocator, made);
        return pooled;
    }
    *workers = made;
    return kResultOk;
}

void bandWorkersRelease(BandWorkers *workers)
{
    if (!workers)
        return;
    // Jobs still queued are freed without running; a running one is in no open round.
    workerPoolDestroy(workers->pool);
    workerPoolFree(workers->pool);
    EngineAllocator *allocator = workers->allocator;
    workers->~BandWorkers();
    allocatorFree(allocator, workers);
}

BandWorkersScope::BandWorkersScope(BandWorkers *workers)
    : outer_(tScopeWorkers), roundsBefore_(workers ? workers->rounds : 0)
{
    tScopeWorkers = workers;
}

BandWorkersScope::~BandWorkersScope()
{
    BandWorkers *workers = tScopeWorkers;
    tScopeWorkers = outer_;
    // Jobs of rounds that ended before their workers came may still be queued: release the
    // workers once more and wait until they are idle, so that the queue is empty.
    if (workers && workers != outer_ && workers->rounds != roundsBefore_) {
        workerPoolStart(workers->pool);
        workerPoolWait(workers->pool);
    }
}

int32_t bandThreads()
{
    return tScopeWorkers ? tScopeWorkers->pool->count + 1 : 1;
}

// ---- Running bands --------------------------------------------------------------------------

namespace {

// What a job carries: the board and the round it was queued for.
struct RoundTicket {
    BandWorkers *workers;
    uint64_t round;
};

void takeBands(BandWorkers *workers)
{
    for (;;) {
        const int32_t k = workers->next.fetch_add(1, std::memory_order_relaxed);
        if (k >= workers->count)
            return;
        workers->band(workers->context, k);
    }
}

int helperJob(void *argument)
{
    const RoundTicket ticket = *static_cast<const RoundTicket *>(argument);
    BandWorkers *workers = ticket.workers;
    {
        sys::SysLockGuard board(workers->lock);
        if (workers->round != ticket.round)
            return kResultOk;  // the round ended before this worker came
        ++workers->joined;
    }
    takeBands(workers);
    sys::SysLockGuard board(workers->lock);
    if (--workers->joined == 0)
        workers->lastLeft.notify_one();
    return kResultOk;
}

}  // namespace

void runBands(int32_t count, BandFunction band, void *context)
{
    BandWorkers *workers = tScopeWorkers;
    if (!workers || count <= 1) {
        for (int32_t k = 0; k < count; ++k)
            band(context, k);
        return;
    }
    RoundTicket ticket{workers, 0};
    {
        sys::SysLockGuard board(workers->lock);
        ticket.round = workers->round = ++workers->rounds;
        workers->joined = 0;
        workers->band = band;
        workers->context = context;
        workers->count = count;
        workers->next.store(0, std::memory_order_relaxed);
    }
    const int32_t helpers = std::min(workers->pool->count, count - 1);
    for (int32_t i = 0; i < helpers; ++i)
        if (workerPoolSubmit(workers->pool, helperJob, &ticket, sizeof ticket) != kResultOk)
            break;
    workerPoolStart(workers->pool);
    {
        // The workers see no scope: bands they run share nothing out again; nor do the bands
        // this thread runs now.
        const BandWorkersScope onlyHere(nullptr);
        takeBands(workers);
    }
    sys::SysLockGuard board(workers->lock);
    workers->round = 0;
    workers->lastLeft.wait(board, [workers] { return workers->joined == 0; });
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
