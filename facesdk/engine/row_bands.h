// Row bands: how the engine's loops share their rows out to the engine's worker pool.
//
// Every engine keeps one worker pool for its lifetime (innerEngineCreate makes it with
// bandWorkersCreate, the release of the engine ends it). While an engine operation runs, a
// BandWorkersScope on the calling thread names those workers; the loops below the operation cut
// their rows into bands and run them on the pool's workers and on the calling thread together,
// and return when every band is done. Without a scope (a routine called on its own, a thread of
// the pool itself, an engine whose workers could not be started) the bands run one after
// another on the calling thread.
//
// Bands must write disjoint memory and may read what no band writes; their results never
// depend on how the rows were cut, so the number of threads cannot change a picture.
//
// Divisions: the workers and the scope; running bands; cutting rows into bands.
#pragma once

#include <cstdint>
#include <utility>

#include "facesdk/base/allocator.h"

// ---- The workers and the scope --------------------------------------------------------------

// Workers of every engine's pool; the calling thread works with them.
constexpr int32_t kEngineWorkers = 4;

// An engine's worker pool and the board its rounds of bands are posted on.
struct BandWorkers;

// A pool of kEngineWorkers threads and its board, from the allocator. 0 with *workers set; -3
// when memory runs out; -1 when a thread cannot be started. *workers is null unless 0.
int bandWorkersCreate(EngineAllocator *allocator, BandWorkers **workers);
// Ends the threads and frees the pool and the board; null does nothing.
void bandWorkersRelease(BandWorkers *workers);

// Names the workers (null: none) for band loops on the constructing thread until it is
// destroyed; scopes nest, the innermost wins. When the scope that named the workers ends, the
// jobs its rounds queued have ended, so nothing of an operation outlives it.
class BandWorkersScope {
public:
    explicit BandWorkersScope(BandWorkers *workers);
    ~BandWorkersScope();
    BandWorkersScope(const BandWorkersScope &) = delete;
    BandWorkersScope &operator=(const BandWorkersScope &) = delete;

private:
    BandWorkers *outer_;
    int32_t outerThreads_;
};

// Threads that bands run on at this moment on this thread: the pool's workers and the calling
// thread, no more than the processors the process may use; 1 without a scope's workers.
int32_t bandThreads();

// ---- Running bands --------------------------------------------------------------------------

using BandFunction = void (*)(void *context, int32_t band);

// Calls band(context, k) once for every k in 0 .. count - 1, spread over the scope's workers
// and the calling thread, and returns when all have ended. Each thread first takes the bands of
// its own share, consecutive bands in increasing order, and the same share every round, then
// what is left of the others'; a pool that refuses a job leaves its bands to the others, and a
// worker that wakes after the bands are done takes none.
void runBands(int32_t count, BandFunction band, void *context);

// The same for a callable: fn(k).
template <class Fn>
void forEachBand(int32_t count, Fn &&fn)
{
    runBands(
        count, [](void *context, int32_t k) { (*static_cast<Fn *>(context))(k); },
        static_cast<void *>(&fn));
}

// ---- Cutting rows into bands ----------------------------------------------------------------

// Work below which a loop is not worth sharing out: a round's wake-ups would cost more than the
// threads save. Work is counted in pixels of the simplest loops (a byte read and written); a
// loop whose pixel costs more counts each several times, one that reads more than it writes
// counts what it reads.
constexpr int64_t kLeastBandedPixels = 1 << 16;

// Bands rowBandCount cuts for each thread: its share of a round (see rowBandStart).
constexpr int32_t kBandsPerShare = 3;

// The most bands rowBandCount answers: a few per thread, so that a slow thread holds the others
// up little. Loops that keep something per band may size arrays by it.
constexpr int32_t kMostRowBands = kBandsPerShare * (kEngineWorkers + 1);

// How many bands to cut `rows` rows of `pixelsPerRow` (their work, as above) into: 1 when the
// work is small or there is no pool, else up to kMostRowBands.
int32_t rowBandCount(int32_t rows, int64_t pixelsPerRow);

// The first row of band k of `count` over rows first .. first + rows - 1 (k = count gives the
// end). With even, every band but the first starts an even distance from first. When count is
// a multiple of kBandsPerShare, each share's three bands take a half, a third and a sixth of
// its rows.
int32_t rowBandStart(int32_t first, int32_t rows, int32_t count, int32_t k, bool even = false);

// Calls fn(y0, y1) for consecutive row ranges that together cover first .. first + rows - 1,
// banded as rowBandCount says. With even, every range but the first starts an even distance
// from first (for loops that pair rows, as 4:2:0 chroma does).
template <class Fn>
void forEachRowBand(int32_t first, int32_t rows, int64_t pixelsPerRow, Fn &&fn, bool even = false)
{
    if (rows <= 0)
        return;
    const int32_t count = rowBandCount(rows, pixelsPerRow);
    if (count <= 1) {
        fn(first, first + rows);
        return;
    }
    forEachBand(count, [&](int32_t k) {
        fn(rowBandStart(first, rows, count, k, even), rowBandStart(first, rows, count, k + 1, even));
    });
}
