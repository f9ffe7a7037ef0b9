/*
 * The still pass: the scan of one pair of scales with its neighbour vote, coarse-to-fine
 * refinement and skin bitmap; the loop over all pairs; the still detection; the face score.
 *
 * Divisions: pair scan; all pairs; still pass; face score.
 */
#include "facesdk/detect/passes.h"

#include "facesdk/base/fixed_scale.h"
#include "facesdk/detect/faces.h"
#include "facesdk/detect/frame.h"
#include "facesdk/detect/window.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kAskCoarse = 10;   /* new normalisation, variant 0, with the view and roll checks */
constexpr int kAskSecondScale = 11;

/* ---- pair scan ---- */

struct PairScan {
    FaceDetector *d;
    uint32_t a, b;
    int32_t u, u2, half, half2, overlapLimit, threshold, F;
    int32_t I, J, fine, colStep, rowStep;
    int32_t firstCol, lastCol, firstRow, lastRow, startRow, startCol;
    int64_t columns, rows;
    bool partial;
    int32_t endRow, endCol;
    uint8_t *bitmap;
    int32_t bitmapRows, bitmapBytes;
    DetectedFace *blockers[64];
    int blockerCount;
    int32_t rollIn, viewIn;
    /* What is per scale or per position, kept across the (roll, view) entries of a position:
     * the detector's scale is scale a, and its stored normalisation is that of the window at
     * (normColumn, normRow) at scale a. */
    bool scaleIsA;
    bool normalisationReady;
    int32_t normColumn, normRow;
};

enum Outcome { kNextPosition, kRefine, kCandidateMoved, kEndScan, kRefineEnd };

bool prefilterActive(const FaceDetector *d)
{
    return d->frame.prefilter.enabled && d->frame.prefilter.mode != 0;
}

/* The grid steps of step 3: coarse in *coarse, fine in *fine. */
void gridSteps(const FaceDetector *d, int32_t *coarse, int32_t *fine)
{
    const int32_t G = d->baseStep, f = d->fineStep, g = d->coarseStep, e = d->searchEffort;
    const int32_t grown = (G * 1536 + 512) >> 10;
    *coarse = g;
    *fine = f;
    if (e >= 0)
        return;
    if (prefilterActive(d)) {
        *fine = e > -40 ? f - (G - f) * e / 40 : G;
        if (e <= -80)
            *coarse = *fine = grown;
        else if (e < -40)
            *coarse = *fine = G - (grown - G) * (e + 40) / 40;
    } else {
        *coarse = e <= -80 ? grown : G - (grown - G) * e / 80;
    }
}

void markBlocking(PairScan &s, int32_t r)
{
    s.blockerCount = 0;
    DetectorListNode *head = &s.d->faces;
    for (DetectedFace *f = firstFaceIn(head); f && s.blockerCount < 64; f = nextFaceIn(head, f)) {
        if (f->missedFrames > 1)
            continue;
        if (!(std::max(r, f->box[1]) < std::min(r + s.u, f->box[1] + f->box[3] - 1)))
            continue;
        if (f->view != 0 && !(s.u <= productQ10HalfUp(f->box[2], 614)))
            continue;
        s.blockers[s.blockerCount++] = f;
    }
}

/* A blocking face overlapping the window at (c, r): c moves past it. */
bool blocked(PairScan &s, int32_t &c, int32_t r)
{
    const int32_t window[4] = {c, r, s.u, s.u};
    for (int i = 0; i < s.blockerCount; ++i) {
        const DetectedFace *f = s.blockers[i];
        if (int64_t(overlapArea(window, f->box)) > s.overlapLimit) {
            while (c < f->box[0] + f->box[2] - 1 - s.colStep)
                c += s.colStep;
            c = std::min(c, s.lastCol - 1);
            return true;
        }
    }
    return false;
}

bool bitmapClear(const PairScan &s, int32_t c, int32_t r)
{
    if (!s.bitmap)
        return false;
    const int32_t cell = int32_t(((int64_t(c) - s.firstCol) * (1024 / s.I) + 512) >> 10);
    const int32_t row = std::min(s.bitmapRows - 1, int32_t(((int64_t(r) - s.startRow) * (1024 / s.I) + 512) >> 10));
    if (cell < 0 || row < 0 || cell >= s.bitmapBytes * 8)
        return true;
    return !(s.bitmap[size_t(row) * s.bitmapBytes + (cell >> 3)] & (0x80 >> (cell & 7)));
}

int buildBitmap(PairScan &s)
{
    FaceDetector *d = s.d;
    const FrameBuffers &set = d->frame;
    const int32_t cells = int32_t((s.lastCol - s.firstCol + s.I - 1) / s.I) + 1;
    s.bitmapRows = std::max(1, int32_t((s.lastRow - s.startRow + s.I - 1) / s.I) + 1);
    s.bitmapBytes = (cells + 7) / 8;
    s.bitmap = static_cast<uint8_t *>(allocatorAlloc(d->allocator, uint32_t(s.bitmapBytes * s.bitmapRows)));
    if (!s.bitmap)
        return kResultNoMemory;
    std::memset(s.bitmap, 0, size_t(s.bitmapBytes) * s.bitmapRows);
    const int32_t U = int32_t((uint32_t(d->modelBase) * s.a) >> 11);
    const uint64_t need = (uint64_t(U) * U * uint32_t(set.prefilter.threshold)) >> 16;
    const uint32_t *skin = reinterpret_cast<const uint32_t *>(set.skinIntegral.data);
    const int32_t mw = int32_t(set.skinIntegral.width), mh = int32_t(set.skinIntegral.height);
    for (int32_t row = 0; row < s.bitmapRows; ++row)
        for (int32_t cell = 0; cell < cells; ++cell) {
            const int32_t c = s.firstCol + cell * s.I, r = s.startRow + row * s.I;
            const int32_t x = (c - 1) >> 1, y = (r - 1) >> 1;
            if (!skin || U <= 0 || x < 0 || y < 0 || x + U >= mw || y + U >= mh)
                continue;
            const uint32_t sum = skin[size_t(y + U) * mw + x + U] - skin[size_t(y) * mw + x + U] -
                                 skin[size_t(y + U) * mw + x] + skin[size_t(y) * mw + x];
            if (sum >= need)
                s.bitmap[size_t(row) * s.bitmapBytes + (cell >> 3)] |= uint8_t(0x80 >> (cell & 7));
        }
    return kResultOk;
}

struct Vote {
    int32_t sum, count, bx, by, size, best;
};

void tally(Vote &v, int answer, int32_t x, int32_t y, int32_t size)
{
    if (answer < 1)
        return;
    v.sum += answer;
    ++v.count;
    if (answer > v.best) {
        v.best = answer;
        v.bx = x;
        v.by = y;
        v.size = size;
    }
}

/* Asks one (roll, view) entry at (c, r). On a candidate, c moves past it. `votes` counts the
 * positive windows of the whole position: it runs on across the entries asked there. */
Outcome askEntry(PairScan &s, int32_t &c, int32_t r, int32_t roll, int32_t view, bool refining, int *code,
                 bool *leave, int32_t *votes)
{
    FaceDetector *d = s.d;
    d->roll = roll;
    d->view = view;
    if (!s.scaleIsA) {
        setScanScale(d, s.a);
        s.scaleIsA = true;
    }
    /* the window's normalisation does not depend on the entry: the first entry at a position
     * computes it, the others reuse it */
    const bool reuse = s.normalisationReady && s.normColumn == c && s.normRow == r;
    const int q = evaluateWindow(d, c, r, reuse ? kAskCoarse & ~kWindowNormalise : kAskCoarse);
    if (q != kWindowOutside) {
        s.normalisationReady = true;
        s.normColumn = c;
        s.normRow = r;
    }
    if (q < 1) {
        if (q == kWindowFlat)
            *leave = true;
        return refining ? kRefineEnd : kNextPosition;
    }
    const int t = evaluateWindow(d, c, r, s.F);
    if (t < 1)
        return refining ? kRefineEnd : kNextPosition;
    Vote v{t, *votes + 1, c, r, s.u, t};
    const bool fineSearch = d->scanOptions & 0x2;
    const int32_t h = s.half;
    const int32_t diagonal[4][2] = {{-h, -h}, {h, -h}, {-h, h}, {h, h}};
    if (s.F & kWindowNormalise)
        s.normalisationReady = false; /* the neighbours normalise their own windows */
    for (auto &o : diagonal)
        tally(v, evaluateWindow(d, c + o[0], r + o[1], s.F), c + o[0], r + o[1], s.u);
    if (fineSearch) {
        const int32_t axis[4][2] = {{0, -h}, {-h, 0}, {0, h}, {h, 0}};
        for (auto &o : axis)
            tally(v, evaluateWindow(d, c + o[0], r + o[1], s.F), c + o[0], r + o[1], s.u);
    }
    setScanScale(d, s.b);
    s.scaleIsA = false;
    s.normalisationReady = false;
    const int32_t bx = v.bx, by = v.by, h2 = s.half2;
    tally(v, evaluateWindow(d, bx, by, kAskSecondScale), bx, by, s.u2);
    const int32_t axis2[4][2] = {{0, -h2}, {-h2, 0}, {h2, 0}, {0, h2}};
    for (auto &o : axis2)
        tally(v, evaluateWindow(d, bx + o[0], by + o[1], s.F), bx + o[0], by + o[1], s.u2);
    if (fineSearch) {
        const int32_t diagonal2[4][2] = {{-h2, -h2}, {-h2, h2}, {h2, -h2}, {h2, h2}};
        for (auto &o : diagonal2)
            tally(v, evaluateWindow(d, bx + o[0], by + o[1], s.F), bx + o[0], by + o[1], s.u2);
    }
    *votes = v.count;
    const int32_t longer = std::max(d->previousWidth, d->previousHeight);
    int32_t o = v.sum;
    if (longer < 120)
        o = int32_t((int64_t(o) * (1024 + longer * 1024 / 120) + 512) >> 10);
    setScanScale(d, s.a);
    s.scaleIsA = true;
    if (o < s.threshold)
        return refining ? kNextPosition : kRefine;

    const int32_t box[4] = {v.bx - 1, v.by - 1, v.size, v.size};
    const int rc = addCandidate(d, box, o, 0, 0, v.count, nullptr);
    s.scaleIsA = false; /* verification works in a crop of its own */
    d->roll = roll;
    d->view = view;
    if (rc == kResultOk) {
        if (++d->candidateCount >= int32_t(d->maxFaces)) {
            *code = kResultOk;
            return kEndScan;
        }
    } else if (rc != kResultNotFound) {
        *code = rc;
        return kEndScan;
    }
    while (c < v.bx - 1 + v.size - s.I)
        c += s.I;
    c = std::min(c, s.lastCol - 1);
    return refining ? kRefineEnd : kCandidateMoved;
}

/* The (roll, view) entries asked at each position of this scan. */
int entriesOf(const PairScan &s, int32_t *rolls, int32_t *views)
{
    const FaceDetector *d = s.d;
    if (d->flags & kDetectorFlagTracking) {
        rolls[0] = s.rollIn;
        views[0] = s.viewIn;
        return 1;
    }
    int n = 0;
    for (int32_t i = 0; i < d->searchCount && n < 64; ++i) {
        int32_t roll = d->searchRolls[i];
        const int32_t view = d->searchViews[i];
        if (d->flags & kDetectorFlagRollHint)
            roll = snapRoll(roll, d->rollHint);
        if (d->modelBase != 22 && !(axisRoll(roll) && view == 0))
            continue;
        rolls[n] = roll;
        views[n] = view;
        ++n;
    }
    return n;
}

/* Asks every entry at (c, r) outside refinement. */
Outcome askPosition(PairScan &s, int32_t &c, int32_t r, const int32_t *rolls, const int32_t *views, int entries,
                    int *code, int32_t *refineRoll, int32_t *refineView)
{
    Outcome last = kNextPosition;
    int32_t votes = 0;
    for (int e = 0; e < entries; ++e) {
        bool leave = false;
        const Outcome outcome = askEntry(s, c, r, rolls[e], views[e], false, code, &leave, &votes);
        if (outcome == kEndScan)
            return outcome;
        if (outcome == kRefine) {
            *refineRoll = rolls[e];
            *refineView = views[e];
            return kRefine;
        }
        if (outcome == kCandidateMoved)
            last = kCandidateMoved;
        if (leave)
            break;
    }
    return last;
}

} // namespace

int scanScalePair(FaceDetector *d, uint32_t a, uint32_t b, const int32_t rect[4], int64_t count, int64_t start)
{
    if (rect[2] == 0 || rect[3] == 0)
        return kResultOk;
    const bool tracking = d->flags & kDetectorFlagTracking;
    PairScan s{};
    s.d = d;
    s.a = a;
    s.b = b;
    s.rollIn = d->roll;
    s.viewIn = d->view;
    s.F = tracking ? 11 : 9;
    d->rollRefinementAllowed = !tracking || d->frame.prefilter.lightingClass == 0;
    const int32_t base = d->modelBase;
    s.u = int32_t((uint32_t(base) * a) >> 10);
    const int32_t v = std::max(2, productQ10HalfUp(s.u, 49));
    s.half = std::max(1, v >> 1);
    s.overlapLimit = productQ10HalfUp(int64_t(s.u) * s.u, 205);
    s.threshold = windowThreshold(d, s.u);
    int32_t coarse, fine;
    gridSteps(d, &coarse, &fine);
    s.fine = fine;
    s.firstCol = rect[0] + v + 1;
    s.lastCol = rect[0] + rect[2] - 1 - v - s.u;
    s.firstRow = rect[1] + v + 1;
    s.lastRow = rect[1] + rect[3] - 1 - v - s.u;
    const int32_t spanX = rect[2] - 2 * v - s.u - 3, spanY = rect[3] - 2 * v - s.u - 3;
    if (spanX <= 0 || spanY <= 0)
        return kResultOk;
    s.I = std::max(coarse, v);
    s.columns = spanX / s.I;
    s.rows = spanY / s.I;
    if (s.columns == 0 || s.rows == 0)
        return kResultOk;
    s.J = std::max<int32_t>(1, int32_t((a + 512) >> 10));
    if (prefilterActive(d)) {
        const int32_t mode = std::max(d->frame.prefilter.mode, 1);
        const int32_t K = tracking ? d->frame.prefilter.coverage[0] : d->frame.prefilter.coverage[0] / mode;
        s.colStep = std::max({s.J, fine, s.J + (((s.I - s.J) * K + 512) >> 10)});
        s.rowStep = std::max({s.J, fine, s.J + (((s.I - s.J) * ((K * 768 + 512) >> 10) + 512) >> 10)});
    } else {
        s.colStep = s.rowStep = s.I;
    }
    s.u2 = int32_t((uint32_t(base) * b) >> 10);
    s.half2 = std::max(1, (s.u2 * 49 + 512) >> 11);

    s.startRow = s.firstRow + int32_t(start / s.columns) * s.I;
    s.startCol = s.firstCol + int32_t(start % s.columns) * s.I;
    s.partial = count + start < s.columns * s.rows;
    if (s.partial) {
        s.endRow = s.startRow + int32_t((count + start) / s.columns) * s.I;
        s.endCol = s.startCol + int32_t((count + start) % s.columns) * s.I;
    }
    if (prefilterActive(d)) {
        const int rc = buildBitmap(s);
        if (rc != kResultOk)
            return rc;
    }

    int32_t rolls[64], views[64];
    const int entries = entriesOf(s, rolls, views);
    int code = kResultOk;
    bool ended = false;
    for (int32_t r = s.startRow; r < s.lastRow && !ended; r += s.rowStep) {
        markBlocking(s, r);
        for (int32_t c = s.startCol; c < s.lastCol && !ended;) {
            if (s.partial && r > s.endRow && c > s.endCol) {
                ended = true;
                break;
            }
            if (bitmapClear(s, c, r) || blocked(s, c, r)) {
                c += s.colStep;
                continue;
            }
            int32_t refineRoll = 0, refineView = 0;
            const Outcome outcome = askPosition(s, c, r, rolls, views, entries, &code, &refineRoll, &refineView);
            if (outcome == kEndScan) {
                ended = true;
                break;
            }
            if (outcome != kRefine) {
                c += s.colStep;
                continue;
            }
            /* refinement of the cell (c, r) .. (c + I - 1, r + I - 1) at the fine step */
            int32_t lastRefined = c;
            bool done = false;
            for (int32_t rr = r; rr < r + s.I && !done; rr += s.J) {
                for (int32_t cc = rr == r ? c + s.J : c; cc < c + s.I && !done; cc += s.J) {
                    lastRefined = cc;
                    int32_t moved = cc;
                    if (blocked(s, moved, rr)) {
                        done = true;
                        break;
                    }
                    bool leave = false;
                    int32_t votes = 0;
                    const Outcome o =
                        askEntry(s, moved, rr, refineRoll, refineView, true, &code, &leave, &votes);
                    if (o == kEndScan) {
                        ended = true;
                        done = true;
                    } else if (o == kRefineEnd) {
                        lastRefined = moved;
                        done = true;
                    }
                }
            }
            if (ended)
                break;
            int32_t next = lastRefined;
            while (next < c + s.I)
                next += s.colStep;
            c = next;
        }
    }
    allocatorFree(d->allocator, s.bitmap);
    d->roll = s.rollIn;
    d->view = s.viewIn;
    return code;
}

/* ---- all pairs ---- */

namespace {

/* Windows of pair i at the coarse step over the search rectangle; 0 in the dark classes'
 * skipped sizes. */
int64_t pairWork(const FaceDetector *d, int32_t i, const int32_t rect[4], int32_t coarse)
{
    const ScaleList &list = d->scales;
    const int32_t base = i < list.count22 / 2 ? 22 : 14;
    const int32_t w = productQ10HalfUp(list.entries[2 * i], base);
    const SkinPrefilter &p = d->frame.prefilter;
    if ((p.lightingClass == 1 || p.lightingClass == 2) && w <= (p.medianLuma < 10 ? 30 : 10))
        return 0;
    const int32_t m = std::max(2, productQ10HalfUp(w, 49)), step = std::max(m, coarse);
    const int32_t sx = rect[2] - 2 * m - w - 3, sy = rect[3] - 2 * m - w - 3;
    if (sx <= 0 || sy <= 0)
        return 0;
    return int64_t(sx / step) * (sy / step);
}

/* Progress estimate of pair i: its work in units of pair 0's. */
int32_t pairEstimate(const FaceDetector *d, int32_t i, const int32_t rect[4])
{
    if (i == 0)
        return 1;
    int64_t unit = pairWork(d, 0, rect, d->coarseStep);
    if (unit == 0)
        unit = 1;
    return int32_t(pairWork(d, i, rect, d->coarseStep) / unit);
}

} // namespace

int scanAllPairs(FaceDetector *d, int32_t roll, int32_t view)
{
    const ScaleList &list = d->scales;
    int32_t search[4];
    std::memcpy(search, d->frame.searchRect, sizeof search);
    for (int32_t i = 0; 2 * i + 1 < list.count; ++i) {
        if (d->candidateCount >= int32_t(d->maxFaces))
            return kResultOk;
        int32_t base = 22;
        if (i < list.count22 / 2) {
            setWindowModel(d, 22, roll, view);
        } else {
            if (!(axisRoll(roll) && view == 0))
                continue;
            setWindowModel(d, 14, roll, 0);
            base = 14;
        }
        int32_t rect[4];
        std::memcpy(rect, search, sizeof rect);
        const SkinPrefilter &p = d->frame.prefilter;
        const int32_t w = productQ10HalfUp(base, list.entries[2 * i]);
        if ((p.lightingClass == 1 || p.lightingClass == 2) && w <= (p.medianLuma < 10 ? 30 : 10))
            rect[2] = rect[3] = 0;
        const int rc = scanScalePair(d, list.entries[2 * i], list.entries[2 * i + 1], rect, 0x7fffffff, 0);
        if (rc != kResultOk)
            return rc;
        if (d->callback(d->callbackUser, 1, pairEstimate(d, i, search)) != 0)
            return kResultCancelled;
    }
    return kResultOk;
}

/* ---- still pass ---- */

namespace {

/* Frees every face whose skin sum misses the share (Q16) of its box. */
bool skinShareReached(const FaceDetector *d, const DetectedFace *f, int32_t threshold)
{
    const DetectorPlane &skin = d->frame.skinIntegral;
    const uint32_t *sums = reinterpret_cast<const uint32_t *>(skin.data);
    const int32_t x = f->box[0] / 2, y = f->box[1] / 2, w = f->box[2] >> 1, h = f->box[3] >> 1;
    const int32_t mw = int32_t(skin.width), mh = int32_t(skin.height);
    if (!sums || w <= 0 || h <= 0 || x + w >= mw || y + h >= mh)
        return false;
    const uint32_t sum = sums[size_t(y + h) * mw + x + w] - sums[size_t(y) * mw + x + w] -
                         sums[size_t(y + h) * mw + x] + sums[size_t(y) * mw + x];
    return uint64_t(sum) >= ((uint64_t((uint32_t(f->box[2]) * uint32_t(f->box[3])) >> 2) * uint32_t(threshold)) >> 16);
}

void keepSkinnyFaces(FaceDetector *d)
{
    DetectorListNode *head = &d->faces;
    const SkinPrefilter &p = d->frame.prefilter;
    for (int32_t threshold : {p.mode2Threshold, p.mode1Threshold}) {
        bool some = false;
        for (DetectedFace *f = firstFaceIn(head); f && !some; f = nextFaceIn(head, f))
            some = skinShareReached(d, f, threshold);
        if (!some)
            continue;
        for (DetectedFace *f = firstFaceIn(head); f;) {
            DetectedFace *next = nextFaceIn(head, f);
            if (!skinShareReached(d, f, threshold))
                freeFace(d, f);
            f = next;
        }
        return;
    }
}

int finishWithFaces(FaceDetector *d, int rc)
{
    if (recountFaces(d) > 0)
        groupCandidates(d);
    d->callback(d->callbackUser, 2, 0);
    return rc;
}

} // namespace

int detectStill(FaceDetector *d)
{
    int32_t search[4];
    searchRectangle(d, search);
    std::memcpy(d->frame.searchRect, search, sizeof search);
    d->candidateCount = 0;
    const ScaleList &list = d->scales;
    int64_t f = 1;
    for (int32_t i = 1; 2 * i + 1 < list.count; ++i)
        f += pairEstimate(d, i, search);
    f *= d->searchCount;
    int64_t total = f + f * 25 / 100;
    if (d->flags & kDetectorFlagSecondPass)
        total *= 2;
    if (d->callback(d->callbackUser, 0, int32_t(std::min<int64_t>(total, 0x7fffffff))) != 0)
        return kResultCancelled;

    sceneStatistics(d);
    buildSkinMap(d, true);
    prepareSearchRegion(d, search, false);
    if (d->callback(d->callbackUser, 1, int32_t(f * 25 / 100)) != 0)
        return kResultCancelled;
    SkinPrefilter &p = d->frame.prefilter;
    if (p.enabled)
        setSkinPrefilter(d, p.coverage[1] > 512 ? 2 : p.coverage[2] > 10 ? 1 : 0);

    int rc = scanAllPairs(d, 0, 0);
    if (rc != kResultOk)
        return finishWithFaces(d, rc);
    groupCandidates(d);

    if ((d->flags & kDetectorFlagSecondPass) && recountFaces(d) == 0 && p.medianLuma >= 40) {
        const int32_t oldClass = p.lightingClass, oldMode = p.mode;
        p.lightingClass = 4;
        setSkinPrefilter(d, 1);
        if (p.lightingClass != oldClass || p.mode != oldMode) {
            bool built = false;
            if (oldMode == 0) {
                buildSkinMap(d, true);
                built = true;
            }
            if (p.lightingClass != oldClass || built)
                prepareSearchRegion(d, search, false);
            setSkinPrefilter(d, 0);
            rc = scanAllPairs(d, 0, 0);
            if (rc != kResultOk)
                return finishWithFaces(d, rc);
            keepSkinnyFaces(d);
            groupCandidates(d);
        }
    }
    locateEyes(d, nullptr);
    scoreFaces(d, nullptr);
    d->callback(d->callbackUser, 2, 0);
    return rc;
}

/* ---- face score ---- */

int scoreFaces(FaceDetector *d, DetectedFace *only)
{
    if (!(d->flags & kDetectorFlagFaceScore))
        return 0;
    DetectorListNode *head = &d->faces;
    for (DetectedFace *f = only ? only : firstFaceIn(head); f; f = only ? nullptr : nextFaceIn(head, f)) {
        if (f->missedFrames != 0 || f->relativeMotion[0] > 205)
            continue;
        if (uint32_t(f->box[2]) < d->minAnalysisFaceSize ||
            (d->maxAnalysisFaceSize && uint32_t(f->box[2]) > d->maxAnalysisFaceSize))
            continue;
        if (d->alternateBuild)
            swapFrameBuffers(d);
        measureFaceScore(d, f);
        if (d->alternateBuild)
            swapFrameBuffers(d);
        f->faceScoreTally = std::min(2, std::max(-2, f->faceScoreTally));
    }
    return 1;
}

int measureFaceScore(FaceDetector *d, DetectedFace *face)
{
    int32_t box[4];
    std::memcpy(box, boxesSimilar(face->smoothed, face->box, 154) ? face->smoothed : face->box, sizeof box);
    if (box[2] >= 30) {
        int32_t anchored[4];
        eyeAnchoredBox(d, anchored, face, box, 0);
        std::memcpy(box, anchored, sizeof box);
    }
    if (box[2] <= 13) {
        face->faceScoreMeasured = -100;
        return -1;
    }
    CropImage crop;
    if (!allocateCrop(d, &crop, 22, 22))
        return kResultNoMemory;
    const int32_t W = int32_t(d->frame.working.width), H = int32_t(d->frame.working.height);
    const int32_t E = 3 * box[2] / 14;
    const int32_t x0 = std::max(0, box[0] - E), y0 = std::max(0, box[1] - E);
    const int32_t w0 = std::min(box[2] + 2 * E, W - x0 - 1), h0 = std::min(box[3] + 2 * E, H - y0 - 1);
    const SavedScan saved = saveScan(d);
    resampleRotated(&d->frame.working, &crop.plane, face->report.roll, x0, y0, x0 + (w0 + 1) / 2, y0 + (h0 + 1) / 2,
                    w0 * 1024 / 21);
    scanCrop(d, &crop, 0, 0);
    d->modelBase = 14;
    d->scoreThreshold = 400;
    int32_t O = 0;
    for (uint32_t scale : {1024u, 1126u}) {
        if (((scale * 14 + 512) >> 10) < 14)
            continue;
        setScanScale(d, scale);
        const int32_t dd = std::max(1, int32_t(((scale + 512) >> 10) >> 1));
        const int32_t at[5][2] = {{4, 4}, {4 - dd, 4 - dd}, {4 + dd, 4 - dd}, {4 - dd, 4 + dd}, {4 + dd, 4 + dd}};
        int32_t sum = 0;
        for (auto &p : at) {
            const int answer = evaluateVerifyWindow(d, p[0], p[1]);
            if (answer > 0)
                sum += answer;
        }
        O = std::max(O, sum);
    }
    int32_t score;
    if (O < 200) {
        score = -1;
        --face->faceScoreTally;
    } else if (O < 400) {
        score = 0;
    } else {
        const int32_t P = std::max(1, (O - 400) * 100 / 1600);
        if (d->flags & kDetectorFlagTracking)
            score = P > 36 ? ((P * 800 - 28288) >> 10) + 50 : (P * 1400 + 512) >> 10;
        else
            score = P > 28 ? ((P * 700 - 19088) >> 10) + 50 : (P * 1850 + 512) >> 10;
        score = std::max(score, 1);
        ++face->faceScoreTally;
    }
    face->faceScoreMeasured = score;
    std::memmove(face->faceScoreHistory + 1, face->faceScoreHistory, sizeof(int32_t) * 6);
    face->faceScoreHistory[0] = score;
    face->faceScoreCount = std::min(face->faceScoreCount + 1, 7);
    restoreScan(d, saved);
    freeCrop(d, &crop);
    return kResultOk;
}
