// Row bands on the engine's worker pool.
//
// The first round of bands in an operation's scope queues a serving job for each worker of the
// pool that has a processor of its own and releases the pool; the serving jobs stay with the
// board until the scope ends, so the pool is released once per operation, not once per round,
// and no job is allocated per round.
// A round is posted on the board: its function, context and count, its bands cut into one
// share per thread, and the round's number. The calling thread wakes sleeping servers with one
// call and takes bands itself. Servers that just left a round watch the board a little while
// before they sleep, as rounds follow each other closely and a wake-up is slow on a busy or
// virtual machine. Nothing takes a lock: a server joins a round only while it is open with
// bands left; when every band is taken the calling thread closes the round and watches for the
// servers that joined it to leave, sleeping only if that takes long. Sleepers sleep on a word
// of the board, so a wake-up is one system call and no woken thread queues for a lock. When the
// scope that named the workers ends, the servers are told to go and the pool is waited for, so
// nothing of an operation outlives it.
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

// The threads a round's bands are shared out to: the calling thread and the pool's workers.
constexpr int32_t kMostShares = kEngineWorkers + 1;

// One thread's share of a round: bands front .. back - 1, packed as front << 32 | back. Its
// thread takes bands from the front; a thread whose share is done takes from the back of
// another's. A thread keeps its share from round to round, so the rows it worked on last are
// mostly the rows it works on next, still in its processor's caches. Shares sit a cache line
// apart.
struct BandShare {
    std::atomic<uint64_t> range;
    char apart[64 - sizeof(std::atomic<uint64_t>)];
};

struct BandWorkers {
    WorkerPool *pool;               // its workers run the serving jobs
    EngineAllocator *allocator;     // of this record
    std::atomic<uint64_t> round;    // number of the open round; 0 while none is open
    uint64_t rounds;                // rounds posted so far (the calling thread's)
    std::atomic<uint32_t> posts;    // word servers sleep on: changes with every round and the end
    std::atomic<uint32_t> sleeping; // servers asleep on posts, or about to be
    std::atomic<uint32_t> joined;   // word the calling thread sleeps on: servers inside a round,
                                    // or about to check they are
    std::atomic<bool> callerAsleep; // the calling thread sleeps on joined, or is about to
    bool serving;                   // serving jobs are queued or running for the present scope
    std::atomic<bool> ending;       // the scope is ending: servers go
    std::atomic<int32_t> servers;   // serving jobs started in the present scope
    BandFunction band;              // the open round: what each band calls,
    void *context;                  //   with what,
    std::atomic<int32_t> count;     //   how many bands (read by watching servers),
    std::atomic<int32_t> taken;     //   how many are taken,
    int32_t shareCount;             //   and how many shares they are cut into
    BandShare shares[kMostShares];
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
    if (!workers || workers == outer_ || !workers->serving)
        return;
    workers->ending.store(true);
    workers->posts.fetch_add(1);
    sys::wakeAllOnWord(&workers->posts);
    // Serving jobs that had not started yet end as soon as they start.
    workerPoolWait(workers->pool);
    workers->serving = false;
    workers->ending.store(false);
}

int32_t bandThreads()
{
    return tScopeThreads;
}

// ---- Running bands --------------------------------------------------------------------------

namespace {

// How long a server that left a round watches the board for the next before it sleeps, and
// how long the calling thread watches for the last server to leave a round before it sleeps.
// The stages of a large picture post their rounds a few hundred microseconds apart, and a
// server has a processor of its own, so it watches that long rather than wake late.
constexpr std::chrono::microseconds kWatchForNextRound{400};
constexpr std::chrono::microseconds kWatchForLastServer{200};

// The band at the front (or the back) of a share, or -1 when the share is done.
int32_t takeFromShare(BandShare &share, bool front)
{
    uint64_t range = share.range.load(std::memory_order_relaxed);
    for (;;) {
        const uint32_t first = uint32_t(range >> 32), end = uint32_t(range);
        if (first >= end)
            return -1;
        const uint64_t rest = front ? uint64_t(first + 1) << 32 | end : uint64_t(first) << 32 | (end - 1);
        if (share.range.compare_exchange_weak(range, rest, std::memory_order_relaxed))
            return int32_t(front ? first : end - 1);
    }
}

// Runs the bands of share `mine` (none when it is past the round's shares), then those left in
// the others, until every band is taken.
void takeBands(BandWorkers *workers, int32_t mine)
{
    const int32_t shares = workers->shareCount;
    for (;;) {
        int32_t k = mine < shares ? takeFromShare(workers->shares[mine], true) : -1;
        for (int32_t i = 1; k < 0 && i <= shares; ++i)
            k = takeFromShare(workers->shares[(mine + i) % shares], false);
        if (k < 0)
            return;
        workers->taken.fetch_add(1, std::memory_order_relaxed);
        workers->band(workers->context, k);
    }
}

// Calls `ready` until it answers true, for at most `limit`; answers whether it did.
template <class Ready>
bool watch(std::chrono::microseconds limit, Ready &&ready)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    for (int spin = 0;; ++spin) {
        if (ready())
            return true;
        if ((spin & 63) == 63 && std::chrono::steady_clock::now() >= end)
            return false;
        sys::cpuRelax();
    }
}

// A round a server may join: open, not yet seen by it, with bands left.
bool joinable(const BandWorkers *workers, uint64_t seen)
{
    const uint64_t round = workers->round.load();
    return round != 0 && round != seen && workers->taken.load(std::memory_order_relaxed) <
                                                workers->count.load(std::memory_order_relaxed);
}

// A server leaves a round (or gives up joining one); the last to leave wakes a sleeping caller.
void leaveRound(BandWorkers *workers)
{
    if (workers->joined.fetch_sub(1) == 1 && workers->callerAsleep.load())
        sys::wakeOneOnWord(&workers->joined);
}

// A serving job: joins round after round until the scope ends. Nothing takes a lock: a server
// counts itself in, then checks that the round it saw is still open. The calling thread closes a
// round before it waits for the count to fall to 0, so a server either is waited for or sees
// the round closed and takes nothing from it; the round's fields cannot change under a server
// that is counted in.
int serveRounds(void *argument)
{
    BandWorkers *workers = *static_cast<BandWorkers *const *>(argument);
    const int32_t mine = 1 + workers->servers.fetch_add(1, std::memory_order_relaxed);
    uint64_t seen = 0;
    for (;;) {
        const bool posted = watch(kWatchForNextRound, [&] {
            return workers->ending.load(std::memory_order_relaxed) || joinable(workers, seen);
        });
        if (!posted) {
            workers->sleeping.fetch_add(1);
            for (;;) {
                const uint32_t posts = workers->posts.load();
                if (workers->ending.load() || joinable(workers, seen))
                    break;
                sys::waitOnWord(&workers->posts, posts);
            }
            workers->sleeping.fetch_sub(1);
        }
        if (workers->ending.load(std::memory_order_relaxed))
            return kResultOk;
        const uint64_t round = workers->round.load();
        workers->joined.fetch_add(1);
        if (round != 0 && workers->round.load() == round) {
            seen = round;
            takeBands(workers, mine);
        }
        leaveRound(workers);
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
    // No server is counted in while no round is open, so the fields are this thread's.
    workers->band = band;
    workers->context = context;
    workers->count.store(count, std::memory_order_relaxed);
    workers->taken.store(0, std::memory_order_relaxed);
    workers->shareCount = std::min(tScopeThreads, count);
    for (int32_t p = 0; p < workers->shareCount; ++p) {
        const uint64_t first = uint64_t(int64_t(count) * p / workers->shareCount);
        const uint64_t end = uint64_t(int64_t(count) * (p + 1) / workers->shareCount);
        workers->shares[p].range.store(first << 32 | end, std::memory_order_relaxed);
    }
    workers->round.store(++workers->rounds);
    workers->posts.fetch_add(1);
    if (!workers->serving) {
        // The scope's first round: queue the servers (a job the pool refuses leaves its share to
        // the others) and release the pool once. No more servers than processors besides this
        // thread's: a thread more would take turns with one holding a band, and the round would
        // wait for that band through a whole turn.
        workers->serving = true;
        workers->servers.store(0, std::memory_order_relaxed);
        for (int32_t i = 0; i < std::min(workers->pool->count, tScopeThreads - 1); ++i)
            if (workerPoolSubmit(workers->pool, serveRounds, &workers, sizeof workers) != kResultOk)
                break;
        workerPoolStart(workers->pool);
    } else if (workers->sleeping.load() > 0) {
        sys::wakeAllOnWord(&workers->posts);
    }
    {
        // The servers see no scope: bands they run share nothing out again; nor do the bands
        // this thread runs now.
        const BandWorkersScope onlyHere(nullptr);
        takeBands(workers, 0);
    }
    workers->round.store(0);
    if (watch(kWatchForLastServer, [workers] { return workers->joined.load() == 0; }))
        return;
    workers->callerAsleep.store(true);
    for (uint32_t inside = workers->joined.load(); inside != 0; inside = workers->joined.load())
        sys::waitOnWord(&workers->joined, inside);
    workers->callerAsleep.store(false);
}

// ---- Cutting rows into bands ----------------------------------------------------------------

namespace {

// Where each band of a share begins and ends within it, in sixths.
constexpr int64_t kTaper[kBandsPerShare + 1] = {0, 3, 5, 6};

}  // namespace

int32_t rowBandCount(int32_t rows, int64_t pixelsPerRow)
{
    const int32_t threads = bandThreads();
    if (threads <= 1 || rows < 2 || int64_t(rows) * pixelsPerRow < kLeastBandedPixels)
        return 1;
    return std::min({rows / 2, kBandsPerShare * threads, kMostRowBands});
}

int32_t rowBandStart(int32_t first, int32_t rows, int32_t count, int32_t k, bool even)
{
    if (k <= 0)
        return first;
    if (k >= count)
        return first + rows;
    int32_t offset;
    if (count % kBandsPerShare == 0) {
        // Tapered within each share, a half, a third and a sixth of its rows: the bands taken
        // last, from the back of a share, are the short ones, so the threads end a round close
        // together.
        const int64_t shares = count / kBandsPerShare, share = k / kBandsPerShare;
        const int64_t start = rows * share / shares, length = rows * (share + 1) / shares - start;
        offset = int32_t(start + length * kTaper[k % kBandsPerShare] / kTaper[kBandsPerShare]);
    } else {
        offset = int32_t(int64_t(rows) * k / count);
    }
    return first + (even ? offset & ~1 : offset);
}
