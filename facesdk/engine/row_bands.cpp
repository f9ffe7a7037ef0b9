// Row bands on the engine's worker pool.
//
// The first round of bands in an operation's scope queues one serving job per worker of the
// pool and releases the pool; the serving jobs stay with the board until the scope ends, so the
// pool is released once per operation, not once per round, and no job is allocated per round.
// A round is posted on the board: its function, context and count, a counter of the next band,
// and the round's number. The calling thread wakes the sleeping servers with one call and takes
// bands itself. Servers that just left a round watch the board a little while before they
// sleep, as rounds follow each other closely and a wake-up is slow on a busy or virtual
// machine. A server joins a round under the board's lock and only while it is open with bands
// left; when every band is taken the calling thread closes the round and waits only for the
// servers that joined it to leave. When the scope that named the workers ends, the servers are
// told to go and the pool is waited for, so nothing of an operation outlives it.
#include "facesdk/engine/row_bands.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <new>

#include "facesdk/base/result_codes.h"
#include "facesdk/workers/worker_pool.h"
#include "sys/threads/threads.h"

// ---- The workers and the scope --------------------------------------------------------------

struct BandWorkers {
    WorkerPool *pool;               // its workers run the serving jobs
    EngineAllocator *allocator;     // of this record
    sys::SysLock lock;              // guards the fields below but next
    sys::SysCondition posted;       // signalled for a sleeping server: a round or the end
    sys::SysCondition lastLeft;     // signalled when the last joined server leaves a round
    std::atomic<uint64_t> round;    // number of the open round; 0 while none is open
    uint64_t rounds;                // rounds posted so far
    int32_t joined;                 // servers inside the open round
    int32_t sleeping;               // servers asleep on posted
    bool serving;                   // serving jobs are queued or running for the present scope
    std::atomic<bool> ending;       // the scope is ending: servers go
    BandFunction band;              // the open round: what each band calls,
    void *context;                  //   with what,
    int32_t count;                  //   how many bands,
    std::atomic<int32_t> next;      //   and the next band to take
};

namespace {

thread_local BandWorkers *tScopeWorkers = nullptr;
thread_local int32_t tScopeThreads = 1;  // threads bands run on under the innermost scope

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
    : outer_(tScopeWorkers), outerThreads_(tScopeThreads)
{
    tScopeWorkers = workers;
    // More bands at once than processors would only take turns on them.
    tScopeThreads = workers ? std::min(workers->pool->count + 1, sys::processorsAvailable()) : 1;
}

BandWorkersScope::~BandWorkersScope()
{
    BandWorkers *workers = tScopeWorkers;
    tScopeWorkers = outer_;
    tScopeThreads = outerThreads_;
    if (!workers || workers == outer_)
        return;
    {
        sys::SysLockGuard board(workers->lock);
        if (!workers->serving)
            return;
        workers->ending.store(true, std::memory_order_relaxed);
        workers->posted.notify_all();
    }
    // Serving jobs that had not started yet end as soon as they start.
    workerPoolWait(workers->pool);
    sys::SysLockGuard board(workers->lock);
    workers->serving = false;
    workers->ending.store(false, std::memory_order_relaxed);
}

int32_t bandThreads()
{
    return tScopeThreads;
}

// ---- Running bands --------------------------------------------------------------------------

namespace {

// How long a server that left a round watches the board for the next before it sleeps.
constexpr std::chrono::microseconds kWatchForNextRound{100};

void takeBands(BandWorkers *workers)
{
    for (;;) {
        const int32_t k = workers->next.fetch_add(1, std::memory_order_relaxed);
        if (k >= workers->count)
            return;
        workers->band(workers->context, k);
    }
}

// A round a server may join: open, not yet seen by it, with bands left.
bool joinable(const BandWorkers *workers, uint64_t seen)
{
    const uint64_t round = workers->round.load(std::memory_order_relaxed);
    return round != 0 && round != seen &&
           workers->next.load(std::memory_order_relaxed) < workers->count;
}

// A serving job: joins round after round until the scope ends.
int serveRounds(void *argument)
{
    BandWorkers *workers = *static_cast<BandWorkers *const *>(argument);
    uint64_t seen = 0;
    for (;;) {
        // Watch the board a little while without the lock, then sleep on it.
        const auto watchEnd = std::chrono::steady_clock::now() + kWatchForNextRound;
        for (int spin = 0; !workers->ending.load(std::memory_order_relaxed); ++spin) {
            const uint64_t round = workers->round.load(std::memory_order_acquire);
            if (round != 0 && round != seen)
                break;
            if ((spin & 63) == 63 && std::chrono::steady_clock::now() >= watchEnd)
                break;
            sys::cpuRelax();
        }
        sys::SysLockGuard board(workers->lock);
        while (!workers->ending.load(std::memory_order_relaxed) && !joinable(workers, seen)) {
            ++workers->sleeping;
            workers->posted.wait(board);
            --workers->sleeping;
        }
        if (workers->ending.load(std::memory_order_relaxed))
            return kResultOk;
        seen = workers->round.load(std::memory_order_relaxed);
        ++workers->joined;
        board.unlock();
        takeBands(workers);
        board.lock();
        if (--workers->joined == 0)
            workers->lastLeft.notify_one();
    }
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
    bool release = false;
    {
        sys::SysLockGuard board(workers->lock);
        workers->band = band;
        workers->context = context;
        workers->count = count;
        workers->next.store(0, std::memory_order_relaxed);
        workers->joined = 0;
        workers->round.store(++workers->rounds, std::memory_order_release);
        if (!workers->serving) {
            // The scope's first round: queue the servers (a job the pool refuses leaves its
            // share to the others) and release the pool once.
            workers->serving = true;
            for (int32_t i = 0; i < workers->pool->count; ++i)
                if (workerPoolSubmit(workers->pool, serveRounds, &workers, sizeof workers) != kResultOk)
                    break;
            release = true;
        } else if (workers->sleeping > 0) {
            workers->posted.notify_all();
        }
    }
    if (release)
        workerPoolStart(workers->pool);
    {
        // The servers see no scope: bands they run share nothing out again; nor do the bands
        // this thread runs now.
        const BandWorkersScope onlyHere(nullptr);
        takeBands(workers);
    }
    sys::SysLockGuard board(workers->lock);
    workers->round.store(0, std::memory_order_relaxed);
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
