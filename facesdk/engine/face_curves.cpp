// The lower-face curves of a shape record.
//
// Divisions: curve tracers; valley candidates; scoring a candidate; the builder.
#include "facesdk/engine/face_curves.h"

#include <algorithm>
#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/lower_face.h"
#include "facesdk/engine/shape_prepare.h"

// ---- Curve tracers --------------------------------------------------------------------------

namespace {

enum class TracePick { LargestLast, LargestFirst, SmallestFirst };

void traceCurve(const uint8_t *patch, int32_t w, int32_t h, int32_t startColumn,
                int32_t startRow, int32_t first, int32_t last, TracePick pick, int32_t *out)
{
    first = std::clamp(first, 0, w - 1);
    last = std::clamp(last, first, w - 1);
    startColumn = std::clamp(startColumn, first, last);
    out[startColumn] = std::clamp(startRow, 0, h - 1);
    const auto next = [&](int32_t column, int32_t previous) {
        int32_t best = -1;
        for (int32_t row = previous - 1; row <= previous + 1; ++row) {
            const int32_t r = std::clamp(row, 0, h - 1);
            if (best < 0) {
                best = r;
                continue;
            }
            const uint8_t v = patch[size_t(r) * w + column], b = patch[size_t(best) * w + column];
            if ((pick == TracePick::LargestLast && v >= b) ||
                (pick == TracePick::LargestFirst && v > b) ||
                (pick == TracePick::SmallestFirst && v < b))
                best = r;
        }
        return best;
    };
    for (int32_t x = startColumn - 1; x >= first; --x)
        out[x] = next(x, out[x + 1]);
    for (int32_t x = startColumn + 1; x <= last; ++x)
        out[x] = next(x, out[x - 1]);
    for (int32_t x = 0; x < first; ++x)
        out[x] = out[first];
    for (int32_t x = last + 1; x < w; ++x)
        out[x] = out[last];
}

}  // namespace

void traceUpperRidge(const uint8_t *patch, int32_t w, int32_t h, int32_t startColumn,
                     int32_t startRow, int32_t first, int32_t last, int32_t *out)
{
    traceCurve(patch, w, h, startColumn, startRow, first, last, TracePick::LargestLast, out);
}

void traceLowerRidge(const uint8_t *patch, int32_t w, int32_t h, int32_t startColumn,
                     int32_t startRow, int32_t first, int32_t last, int32_t *out)
{
    traceCurve(patch, w, h, startColumn, startRow, first, last, TracePick::LargestFirst, out);
}

void traceValley(const uint8_t *patch, int32_t w, int32_t h, int32_t startColumn,
                 int32_t startRow, int32_t first, int32_t last, int32_t *out)
{
    traceCurve(patch, w, h, startColumn, startRow, first, last, TracePick::SmallestFirst, out);
}

// ---- Valley candidates ----------------------------------------------------------------------

namespace {

// 1 when P[y] is not below any profile value within d rows (clipped to the profile).
bool localPeak(const int32_t *P, int32_t h, int32_t y, int32_t d)
{
    for (int32_t k = std::max(0, y - d); k <= std::min(h - 1, y + d); ++k)
        if (P[y] < P[k])
            return false;
    return true;
}

// The bright row on one side of valley v (direction -1 up, +1 down, stopping at row `end`), or
// -1 when no row of that side has a positive profile value.
int32_t findPeak(const int32_t *P, int32_t h, int32_t v, int32_t d, int32_t from, int32_t end,
                 int32_t direction)
{
    for (int32_t y = from; direction < 0 ? y >= end : y <= end; y += direction)
        if (localPeak(P, h, y, d) && int64_t(10) * P[v] < int64_t(9) * P[y])
            return y;
    int32_t best = -1;
    for (int32_t y = from; direction < 0 ? y >= end : y <= end; y += direction)
        if (P[y] > 0 && (best < 0 || P[y] > P[best]))
            best = y;
    return best;
}

// The shape tests that reject a shallow or too narrow valley.
bool rejectValley(const int32_t *P, int32_t w, int32_t h, int32_t valley, int32_t above,
                  int32_t below)
{
    const int64_t o = int64_t(w) + 20 - P[valley] / w;
    const int64_t v = o ? P[above] / o : 0, u = o ? P[valley] / o : 0, x = o ? P[below] / o : 0;
    const int64_t t = int64_t(below - above) * 100;
    const int64_t lo = std::min(v, x), hi = std::max(v, x), u100 = 100 * u;
    return (t >= 48 * h || (u100 >= 75 * lo && (u100 >= 80 * lo || u100 >= 66 * hi))) &&
           (t >= 38 * h || (u100 >= 77 * lo && (u100 >= 82 * lo || u100 >= 70 * hi))) &&
           (t >= 30 * h || (u100 >= 80 * lo && (u100 >= 88 * lo || u100 >= 78 * hi))) &&
           (t >= 56 * h || u100 >= 56 * lo) && (t >= 53 * h || u100 >= 70 * lo) &&
           (t >= 66 * h || u100 >= 58 * lo);
}

}  // namespace

int findValleyCandidates(EngineAllocator *allocator, const int32_t *profile, int32_t w, int32_t h,
                         ValleyCandidate **candidates, int32_t *count)
{
    if (!allocator || !profile || w <= 0 || h <= 0 || !candidates || !count)
        return kResultBadArgument;
    *candidates = nullptr;
    *count = 0;
    const int32_t *P = profile;
    const int32_t d = std::max(1, h / 10);
    auto *found = static_cast<ValleyCandidate *>(
        allocatorAlloc(allocator, uint32_t(h) * sizeof(ValleyCandidate)));
    if (!found)
        return kResultNoMemory;
    int32_t n = 0;
    for (int32_t y = d; y <= h - d - 1; ++y) {
        bool minimum = true;
        for (int32_t k = y - d; k <= y + d && minimum; ++k)
            minimum = P[y] <= P[k];
        if (!minimum)
            continue;
        const int32_t valley = y;
        while (y + 1 <= h - d - 1 && P[y + 1] == P[valley])
            ++y;
        // A side without any bright row leaves the valley without a band: it is dropped.
        const int32_t above = findPeak(P, h, valley, d, valley, d, -1);
        const int32_t below = findPeak(P, h, valley, d, valley + 1, h - d - 1, +1);
        if (above < 0 || below < 0 || rejectValley(P, w, h, valley, above, below))
            continue;
        found[n++] = {valley, above, below, 1024, 0, 0};
    }
    if (n == 0) {
        allocatorFree(allocator, found);
        return kResultNothingToDo;
    }
    auto *out = static_cast<ValleyCandidate *>(
        allocatorAlloc(allocator, uint32_t(n) * sizeof(ValleyCandidate)));
    if (!out) {
        allocatorFree(allocator, found);
        return kResultBadArgument;
    }
    std::memcpy(out, found, size_t(n) * sizeof(ValleyCandidate));
    allocatorFree(allocator, found);
    *candidates = out;
    *count = n;
    return kResultOk;
}

// ---- Scoring a candidate --------------------------------------------------------------------

namespace {

// The patch planes and the per-column scratch of the scoring.
struct CurvePatch {
    int32_t w, h;
    const uint8_t *chroma;    // raw second chroma
    const uint8_t *filtered;  // five-row vertical mean of it
    int32_t *response;        // h
    int32_t *ratio, *edgeUp, *edgeDown;  // w each
};

int32_t at(const CurvePatch &p, int32_t row, int32_t column)
{
    return p.chroma[size_t(row) * p.w + column];
}

// Traces the three curves of the candidate into U, D, L and finds its range and score.
void scoreCandidate(const CurvePatch &p, ValleyCandidate *c, int32_t *U, int32_t *D, int32_t *L)
{
    const int32_t w = p.w, h = p.h;
    const int32_t spanFirst = w / 5, spanLast = w * 4 / 5 - 1;
    c->firstColumn = c->lastColumn = 0;
    if (spanLast < spanFirst)
        return;
    const uint8_t *F = p.filtered;
    int32_t start = spanFirst;
    for (int32_t x = spanFirst; x <= spanLast; ++x)
        if (F[size_t(c->valleyRow) * w + x] < F[size_t(c->valleyRow) * w + start])
            start = x;
    traceValley(F, w, h, start, c->valleyRow, 0, w - 1, D);
    int32_t upStart = -1, lowStart = -1;
    for (int32_t x = spanFirst; x <= spanLast; ++x) {
        if (c->peakAbove < D[x] &&
            (upStart < 0 || F[size_t(c->peakAbove) * w + x] > F[size_t(c->peakAbove) * w + upStart]))
            upStart = x;
        if (D[x] < c->peakBelow &&
            (lowStart < 0 || F[size_t(c->peakBelow) * w + x] > F[size_t(c->peakBelow) * w + lowStart]))
            lowStart = x;
    }
    if (upStart < 0 || lowStart < 0)
        return;
    traceUpperRidge(F, w, h, upStart, c->peakAbove, 0, w - 1, U);
    traceLowerRidge(F, w, h, lowStart, c->peakBelow, 0, w - 1, L);

    const int32_t n = (h + 11) / 20;
    int32_t maxUp = INT32_MIN, maxDown = INT32_MIN;
    for (int32_t m = 0; m < w; ++m) {
        const int32_t bright = std::min(at(p, U[m], m), at(p, L[m], m));
        p.ratio[m] = bright == 128 ? 1024 : (at(p, D[m], m) - 128) * 1024 / (bright - 128);
        columnKernelResponse(p.chroma, F, w, h, m, n, p.response);
        int32_t low = INT32_MAX, high = INT32_MIN;
        for (int32_t y = std::min(U[m], D[m]); y <= std::max(U[m], D[m]); ++y)
            low = std::min(low, p.response[y]);
        for (int32_t y = std::min(D[m], L[m]); y <= std::max(D[m], L[m]); ++y)
            high = std::max(high, p.response[y]);
        p.edgeUp[m] = -low;
        p.edgeDown[m] = high;
    }
    const auto ordered = [&](int32_t m) { return U[m] < D[m] && D[m] < L[m]; };
    int32_t first = -1, last = -1;
    for (int32_t m = 0; m <= w - 2 && first < 0; ++m)
        if (ordered(m))
            first = m;
    for (int32_t m = w - 2; m >= 1 && last < 0; --m)
        if (ordered(m))
            last = m;
    if (first < 0 || last < 0 || first > last)
        return;
    for (int32_t m = first; m <= last; ++m) {
        maxUp = std::max(maxUp, p.edgeUp[m]);
        maxDown = std::max(maxDown, p.edgeDown[m]);
    }
    const auto weak = [&](int32_t m) {
        return p.edgeUp[m] <= 2 * maxUp / 3 && p.edgeDown[m] <= 2 * maxDown / 3;
    };
    while (first <= last && weak(first))
        ++first;
    while (last >= first && weak(last))
        --last;
    if (first > last)
        return;
    const int32_t leftLimit = std::min(2 * std::max(p.ratio[first], 0), 819);
    while (first > 0 && p.ratio[first] > leftLimit && ordered(first))
        --first;
    const int32_t rightLimit = std::min(2 * std::max(p.ratio[last], 0), 819);
    while (last < w - 1 && p.ratio[last] > rightLimit && ordered(last))
        ++last;
    c->firstColumn = first;
    c->lastColumn = last;
    if (first < last) {
        int64_t sum = 0;
        for (int32_t m = first; m <= last; ++m)
            sum += p.ratio[m];
        c->score = int32_t(sum / (last - first + 1));
    }
}

}  // namespace

// ---- The builder ----------------------------------------------------------------------------

int buildLowerCurves(InnerEngine *inner, const EngineImage *image, const FaceListEntry *entry,
                     FaceShapeRecord *record)
{
    if (!inner || !image || !entry || !record)
        return kResultBadArgument;
    if (const int usable = checkPartEntry(*entry, *image); usable != kResultOk)
        return usable;
    const FaceWork &face = entry->face;
    const int32_t step = patchStepForImage(*image);
    const int32_t curveScale = unscaleQ10(face.box.width, step);
    int32_t angle = 0;
    VXL_POINT point{}, full{};
    lowerFaceGeometry(face, &angle, &point, &full);
    const VXL_POINT centre{unscaleQ10(point.x, step), unscaleQ10(point.y, step)};
    const int32_t w = unscaleQ10(full.x, step), h = unscaleQ10(full.y, step);
    if (w <= 0 || h <= 0)
        return kResultNothingToDo;

    EngineAllocator *allocator = inner->allocator;
    uint8_t *luma = nullptr, *chroma = nullptr;
    const int sampled =
        extractPatchPlanes(inner, image, centre, {w, h}, angle, step, &luma, &chroma);
    if (sampled != kResultOk)
        return sampled;

    ValleyCandidate *candidates = nullptr;
    int32_t candidateCount = 0;
    // Scratch: profile and response (h each), filtered patch, three curves and three columns.
    const uint32_t scratchBytes = uint32_t(8 * h) + uint32_t(w) * h + uint32_t(24 * w);
    auto *scratch = static_cast<uint8_t *>(allocatorAlloc(allocator, scratchBytes));
    int result = kResultNoMemory;
    if (scratch) {
        auto *profile = reinterpret_cast<int32_t *>(scratch);
        auto *response = profile + h;
        auto *U = response + h, *D = U + w, *L = D + w;
        auto *ratio = L + w, *edgeUp = ratio + w, *edgeDown = edgeUp + w;
        auto *filtered = reinterpret_cast<uint8_t *>(edgeDown + w);
        for (int32_t y = 0; y < h; ++y) {
            int32_t sum = 0;
            for (int32_t x = 0; x < w; ++x)
                sum += chroma[size_t(y) * w + x];
            profile[y] = sum - w * 128;
        }
        result = findValleyCandidates(allocator, profile, w, h, &candidates, &candidateCount);
        if (result == kResultOk) {
            verticalMeanFilter(chroma, w, h, filtered);
            const CurvePatch patch{w, h, chroma, filtered, response, ratio, edgeUp, edgeDown};
            int32_t best = 0;
            for (int32_t k = 0; k < candidateCount; ++k) {
                scoreCandidate(patch, &candidates[k], U, D, L);
                if (candidates[k].score < candidates[best].score)
                    best = k;
            }
            ValleyCandidate winner = candidates[best];
            scoreCandidate(patch, &winner, U, D, L);
            auto *curves = static_cast<int32_t *>(allocatorAlloc(allocator, uint32_t(4 * w)));
            auto *lower = static_cast<int32_t *>(allocatorAlloc(allocator, uint32_t(4 * w)));
            auto *dark = static_cast<int32_t *>(allocatorAlloc(allocator, uint32_t(4 * w)));
            if (!curves || !lower || !dark) {
                allocatorFree(allocator, curves);
                allocatorFree(allocator, lower);
                allocatorFree(allocator, dark);
                result = kResultNoMemory;
            } else {
                for (int32_t *old : {record->lowerCurveDark, record->lowerCurveUpper,
                                     record->lowerCurveLower})
                    allocatorFree(allocator, old);
                std::memcpy(curves, U, size_t(w) * 4);
                std::memcpy(lower, L, size_t(w) * 4);
                std::memcpy(dark, D, size_t(w) * 4);
                record->lowerCurveUpper = curves;
                record->lowerCurveLower = lower;
                record->lowerCurveDark = dark;
                record->curveFirstColumn = winner.firstColumn;
                record->curveLastColumn = winner.lastColumn;
                record->curveColumns = w;
                record->curveScale = curveScale;
                record->curvesReady = winner.firstColumn < winner.lastColumn ? 1 : 0;
                result = record->curvesReady ? kResultOk : kResultNothingToDo;
            }
        }
    }
    allocatorFree(allocator, candidates);
    allocatorFree(allocator, scratch);
    allocatorFree(allocator, luma);
    allocatorFree(allocator, chroma);
    return result;
}
