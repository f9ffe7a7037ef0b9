/*
 * The tracking pass: every frame looks for each tracked face around its last box, scans its
 * share of a full scan spread over a cycle of frames, merges the new faces with the tracked
 * ones, adapts to the scene, refines the faces it missed, smooths their boxes, and ranks and
 * numbers them.
 *
 * Divisions: scan geometry; the partial full scan; one frame (interval, cycle, local search,
 * full-scan share, merging, scene adaptation, refinement, upkeep, numbering).
 */
#include "facesdk/detect/passes.h"

#include "facesdk/base/fixed_scale.h"
#include "facesdk/detect/faces.h"
#include "facesdk/detect/frame.h"
#include "facesdk/detect/window.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

int32_t wrapRoll(int32_t roll)
{
    while (roll > 180)
        roll -= 360;
    while (roll < -179)
        roll += 360;
    return roll;
}

/* Points the scan context at the set now in use, over its search rectangle. */
void pointScanAtFrame(FaceDetector *d)
{
    FrameBuffers &set = d->frame;
    d->scanImage = &set.working;
    d->scanIntegral = reinterpret_cast<const uint32_t *>(set.integral.data);
    d->scanSquared = reinterpret_cast<const uint32_t *>(set.squared.data);
    std::memcpy(d->scanRect, set.searchRect, sizeof d->scanRect);
}

/* The neighbours of a roll on the 16-angle ring. */
void ringNeighbours(const FaceDetector *d, int32_t roll, int32_t *previous, int32_t *next)
{
    const DetectorListNode *head = &d->rollRing;
    *previous = *next = roll;
    for (const DetectorListNode *n = head->next; n != head; n = n->next) {
        const RollRingNode *node = reinterpret_cast<const RollRingNode *>(n);
        if (node->angle != roll)
            continue;
        const DetectorListNode *p = n->previous == head ? head->previous : n->previous;
        const DetectorListNode *x = n->next == head ? head->next : n->next;
        *previous = reinterpret_cast<const RollRingNode *>(p)->angle;
        *next = reinterpret_cast<const RollRingNode *>(x)->angle;
        return;
    }
}

} // namespace

/* ---- scan geometry ---- */

void regionForScale(FaceDetector *d, uint32_t scale, int32_t base, int32_t out[4])
{
    const int32_t w = productQ10HalfUp(scale, base);
    /* the faces tracked into this frame count, also while they are detached for their local
     * search */
    d->coarseStep = d->trackedFaces == 0 ? 2 : d->baseStep;
    std::memset(out, 0, 16);
    if ((d->flags & kDetectorFlagSizeRange) && d->trackedMinSize <= d->trackedMaxSize &&
        (uint32_t(w) < d->trackedMinSize || uint32_t(w) > d->trackedMaxSize))
        return;
    const SkinPrefilter &p = d->frame.prefilter;
    if ((p.lightingClass == 1 || p.lightingClass == 2) && w <= (p.medianLuma < 10 ? 30 : 10))
        return;
    std::memcpy(out, d->frame.searchRect, 16);
    const int32_t m = std::max(2, productQ10HalfUp(w, 49)), s = d->coarseStep;
    if (m < s) {
        const int32_t k = std::max(1, (d->baseStep * 1024 / m + 1023) / 1024);
        const int32_t dx = ((d->jitter % k) * s) / k, dy = ((d->jitter / k) * s) / k;
        out[0] += dx;
        out[2] -= dx;
        out[1] += dy;
        out[3] -= dy;
    }
}

/* ---- the partial full scan ---- */

int scanPartial(FaceDetector *d, int32_t roll, int32_t view)
{
    const ScaleList &list = d->scales;
    const int32_t pairs = list.count / 2;
    int64_t *work = static_cast<int64_t *>(allocatorAlloc(d->allocator, uint32_t(8 * std::max(pairs, 1))));
    if (!work)
        return kResultNoMemory;
    int64_t g = 0;
    for (int32_t j = 0; j < pairs; ++j) {
        const int32_t base = j < list.count22 / 2 ? 22 : 14;
        int32_t rect[4];
        regionForScale(d, list.entries[2 * j], base, rect);
        const int32_t w = productQ10HalfUp(list.entries[2 * j], base);
        const int32_t m = std::max(2, productQ10HalfUp(w, 49)), step = std::max(m, d->coarseStep);
        const int32_t sx = rect[2] - 2 * m - w - 3, sy = rect[3] - 2 * m - w - 3;
        work[j] = sx > 0 && sy > 0 ? int64_t(sx / step) * (sy / step) : 0;
        g += work[j];
    }
    const int64_t F = d->working.framesPerFullScan, S = d->working.perFrameShare;
    const int64_t c = F * 100 - S, n = c / 100, o = n ? (n * g * 100 / c) / n : 0, R = g - o * n;
    const int64_t t = S / 100, p = d->frameIndex;
    int64_t W;
    if (F == 1)
        W = g;
    else if (p < t)
        W = 0;
    else if (p == t)
        W = p * 100 == S ? R + o : R;
    else
        W = o;
    int32_t first = 0;
    int64_t start = 0;
    if (F > 1 && p > t) {
        const int64_t offset = (p - t - (S == t * 100 ? 0 : 1)) * o + R;
        int64_t before = 0;
        for (first = 0; first < pairs && before + work[first] <= offset; ++first)
            before += work[first];
        start = offset - before;
    }
    int rc = kResultOk;
    for (int32_t j = first; j < pairs && W > 0 && d->candidateCount < int32_t(d->maxFaces); ++j) {
        const int32_t base = j < list.count22 / 2 ? 22 : 14;
        setWindowModel(d, base, base == 22 ? roll : (axisRoll(roll) ? roll : 0), view);
        int32_t rect[4];
        regionForScale(d, list.entries[2 * j], base, rect);
        rc = scanScalePair(d, list.entries[2 * j], list.entries[2 * j + 1], rect, W, start);
        if (rc != kResultOk)
            break;
        W = W + start - work[j];
        start = 0;
        if (W < 1)
            break;
    }
    allocatorFree(d->allocator, work);
    if (d->callback(d->callbackUser, 1, 1) != 0)
        return kResultCancelled;
    return rc;
}

/* ---- one frame ---- */

namespace {

struct Frame {
    FaceDetector *d;
    bool cancelled;
    bool limitHit;
    int failure;                 /* kResultNoMemory once a scan could not allocate its work */
    int32_t cycleRoll, cycleView;
    DetectorListNode tracked;    /* the tracked faces, detached while the new ones are found */
};

bool report(Frame &f, int amount)
{
    if (f.d->callback(f.d->callbackUser, 1, amount) != 0)
        f.cancelled = true;
    return !f.cancelled;
}

void adaptInterval(FaceDetector *d)
{
    const bool history = d->timingInUse;
    const bool faces = recountFaces(d) > 0;
    DetectorSettings &w = d->working;
    if (d->flags & kDetectorFlagAdaptiveScan) {
        if (!faces) {
            d->cycleCounter = 0;
            if (history && w.framesPerFullScan != 1)
                d->frameTimeCount = 1;
            w.framesPerFullScan = d->minFramesPerFullScan;
            w.perFrameShare = 1;
            if (history)
                adaptScanInterval(d, false);
        } else if (d->frameIndex >= int32_t(w.framesPerFullScan)) {
            if (history) {
                adaptScanInterval(d, true);
            } else {
                if (++d->cycleCounter >= 2) {
                    const uint32_t earned = uint32_t(std::max(d->cycleCounter - 2, 0));
                    w.framesPerFullScan =
                        std::min(d->configured.framesPerFullScan, std::max(d->minFramesPerFullScan, earned));
                }
                if (w.framesPerFullScan > 1)
                    w.perFrameShare = d->configured.perFrameShare;
            }
            d->frameIndex = int32_t(w.framesPerFullScan);
        }
    } else if (history) {
        adaptScanInterval(d, true);
    }
}

void startCycle(FaceDetector *d, bool faces)
{
    d->frameIndex = 0;
    if (d->flags & kDetectorFlagSizeRange) {
        const uint32_t oldMin = d->trackedMinSize, oldMax = d->trackedMaxSize;
        if (faces || d->holdCountdown == 0) {
            d->trackedMinSize = 0x7fffffff;
            d->trackedMaxSize = 0;
        }
        if (faces) {
            uint32_t low, high;
            trackedSizeRange(d, &low, &high);
            if (low <= high) {
                d->trackedMinSize = low - uint32_t(productQ10HalfUp(low, 154));
                d->trackedMaxSize = high + uint32_t(productQ10HalfUp(high, 307));
            } else if (d->holdCountdown > 0) {
                d->trackedMinSize = oldMin;
                d->trackedMaxSize = oldMax;
            }
        }
    }
    if (d->passesRun > 0) {
        if (d->cycleCounter == 1) {
        } else if (d->cycleCounter == 2) {
            d->coarseStep = 1;
            d->rescan = 0;
        } else {
            d->rollIndex = d->rollIndex + 1 >= d->searchCount ? 0 : d->rollIndex + 1;
            d->coarseStep = d->baseStep;
        }
    }
    const int32_t e = std::max(1, d->baseStep >> 1);
    d->jitter = (d->jitter + 1) % (e * e);
}

int32_t dominantBias(FaceDetector *d)
{
    if (d->flags & kDetectorFlagNoTurnToRoll)
        return 0;
    const DetectedFace *best = nullptr;
    for (DetectedFace *f = firstFaceIn(&d->faces); f; f = nextFaceIn(&d->faces, f))
        if (f->missedFrames <= 2 && f->framesTracked >= 10 && (!best || f->report.score > best->report.score))
            best = f;
    if (!best)
        return 0;
    const int32_t r = best->report.roll;
    if (r >= -45 && r <= 45)
        return 0;
    if (r >= -135 && r <= -46)
        return -90;
    if (r >= 56 && r <= 135)
        return 90;
    return 180;
}

/* The search rectangle with the percentages turned for a quarter-turn bias. */
void biasedSearchRect(FaceDetector *d, int32_t out[4])
{
    DetectorSettings &w = d->working;
    const bool turned = d->rollBias == 90 || d->rollBias == -90;
    if (turned)
        std::swap(w.searchWidthPercent, w.searchHeightPercent);
    searchRectangle(d, out);
    if (turned)
        std::swap(w.searchWidthPercent, w.searchHeightPercent);
}

/* The box E around a face box: about 1.2 times the square around it plus a margin. */
void searchBoxAround(const FaceDetector *d, const int32_t box[4], int32_t E[4])
{
    const int32_t W = int32_t(d->frame.working.width), H = int32_t(d->frame.working.height);
    int32_t q[4];
    squareAroundFace(0, 0, W, H, box, q);
    const int32_t e = productQ10HalfUp(q[2], 1229);
    E[0] = std::max(0, q[0] - 1 + q[2] / 2 - e / 2 - e / 4);
    E[1] = std::max(0, q[1] - 1 + q[3] / 2 - e / 2 - e / 4);
    E[2] = std::min(e + 1 + 2 * (e / 4), W - E[0] - 1);
    E[3] = std::min(e + 1 + 2 * (e / 4), H - E[1] - 1);
}

void widenToFaces(Frame &f, int32_t rect[4])
{
    for (DetectedFace *face = firstFaceIn(&f.d->faces); face; face = nextFaceIn(&f.d->faces, face)) {
        int32_t E[4];
        searchBoxAround(f.d, face->box, E);
        const int32_t right = std::max(rect[0] + rect[2], E[0] + E[2]);
        const int32_t bottom = std::max(rect[1] + rect[3], E[1] + E[3]);
        rect[0] = std::min(rect[0], E[0]);
        rect[1] = std::min(rect[1], E[1]);
        rect[2] = right - rect[0];
        rect[3] = bottom - rect[1];
    }
}

int32_t flatnessFor(int32_t high)
{
    return high > 70 ? 14 : high > 60 ? 15 : high > 50 ? 16 : high > 40 ? 17 : high > 30 ? 18 : 19;
}

/* Looks for one tracked face around its last box; true when found (and merged). */
bool searchTrackedFace(Frame &fr, DetectedFace *face)
{
    FaceDetector *d = fr.d;
    const uint32_t flags = d->flags;
    /* the search sizes start from the square around the face; the region prepared for it is
     * the larger box E around that square */
    const int32_t W = int32_t(d->frame.working.width), H = int32_t(d->frame.working.height);
    int32_t square[4], E[4];
    squareAroundFace(0, 0, W, H, face->alternateBox[2] ? face->alternateBox : face->box, square);
    searchBoxAround(d, face->alternateBox[2] ? face->alternateBox : face->box, E);
    if (d->alternateBuild) {
        swapFrameBuffers(d);
        pointScanAtFrame(d);
    } else {
        prepareSearchRegion(d, E, false);
    }
    SkinPrefilter &p = d->frame.prefilter;
    const int32_t keptShift = p.flatnessShift, keptThreshold = p.threshold;
    p.flatnessShift = flatnessFor(face->lumaHigh);

    bool stable = face->missedFrames < 3 && face->confirmations > 4;
    const int32_t r0 = face->creationRoll, view = face->view;
    int32_t r1 = r0;
    if (view == 0 && face->missedFrames <= 1 && face->framesTracked > 5) {
        r1 = snapRoll(rollDistance(r0, face->report.roll) <= 20 ? face->report.roll : r0, 0);
        if (r1 != r0)
            stable = false;
    }
    const bool noHalf = flags & kDetectorFlagNoHalfProfile, noProfile = flags & kDetectorFlagNoProfile;
    int32_t alternateView = 0;
    if (!noHalf && !noProfile)
        alternateView = view == -90 ? -45 : view == -45 ? -90 : view == 45 ? 90 : view == 90 ? 45 : 0;
    const int32_t small = d->smallStep;
    struct Try {
        int32_t roll, view, step;
    } tries[12];
    int n = 0;
    tries[n++] = {r1, 0, small};
    if (r1 != r0)
        tries[n++] = {r0, 0, small};
    if ((view == 45 || view == -45) && !noHalf)
        tries[n++] = {r0, view, small};
    if ((view == 90 || view == -90) && !noProfile)
        tries[n++] = {r0, view, small};
    if (alternateView != 0)
        tries[n++] = {r0, alternateView, small};
    int32_t previous, next;
    ringNeighbours(d, r0, &previous, &next);
    for (int32_t neighbour : {previous, next})
        tries[n++] = {neighbour, view != 0 && !axisRoll(neighbour) ? 0 : view, small == 1 ? 1 : 5};
    if (!noHalf) {
        tries[n++] = {r0, 45, small};
        tries[n++] = {r0, -45, small};
    }
    if (!noProfile) {
        tries[n++] = {r0, 90, small};
        tries[n++] = {r0, -90, small};
    }
    bool found = false;
    for (int i = 0; i < n && !found; ++i)
        found = searchAroundFace(d, square, tries[i].roll, tries[i].view, tries[i].step, stable) == 1;
    if (d->alternateBuild)
        swapFrameBuffers(d);
    p.flatnessShift = keptShift;
    p.threshold = keptThreshold;
    if (found)
        mergeIntoOverlapping(d, face, nullptr, true, false, false);
    report(fr, 1);
    return found;
}

/* This frame's share of the full scan. -3 when the neighbourhood rolls cannot be allocated
 * (nothing scanned), else 0. */
int scanNewFaces(Frame &fr)
{
    FaceDetector *d = fr.d;
    if (d->hasAlternate) {
        swapFrameBuffers(d);
        pointScanAtFrame(d);
    }
    d->faceAdded = 0;
    int32_t roll = fr.cycleRoll, view = fr.cycleView;
    bool rollsLost = false;
    if ((d->flags & kDetectorFlagRollCycle) && (firstFaceIn(&fr.tracked) || d->holdCountdown > 0)) {
        DetectedFace *best = nullptr;
        bool wide = false;
        /* the tracked faces were all counted missed at the end of the last frame: those seen
         * in it have 1 */
        for (DetectedFace *f = firstFaceIn(&fr.tracked); f; f = nextFaceIn(&fr.tracked, f)) {
            if (f->missedFrames > 1)
                continue;
            const bool isWide = f->box[2] > 22;
            if (!best || (isWide && !wide) || (isWide == wide && f->confirmations > best->confirmations)) {
                best = f;
                wide = isWide;
            }
        }
        if (best && (!d->rollCycle || best->creationRoll != d->neighbourRoll)) {
            if (!d->rollCycle)
                d->rollCycle = static_cast<int32_t *>(allocatorAlloc(d->allocator, 4 * sizeof(int32_t)));
            rollsLost = !d->rollCycle;
            if (d->rollCycle) {
                int32_t previous, next;
                ringNeighbours(d, best->creationRoll, &previous, &next);
                const int32_t rolls[4] = {best->creationRoll, previous, best->creationRoll, next};
                std::memcpy(d->rollCycle, rolls, sizeof rolls);
                d->neighbourRoll = best->creationRoll;
            }
        }
        if (d->rollCycle) {
            roll = d->rollCycle[d->neighbourIndex++ & 3];
            view = 0;
        }
    }
    if (rollsLost) {
        if (d->hasAlternate)
            swapFrameBuffers(d);
        return kResultNoMemory;
    }
    auto scan = [&fr, d](int32_t r, int32_t v) {
        const int rc = scanPartial(d, r, v);
        if (rc == kResultCancelled)
            fr.cancelled = true;
        else if (rc == kResultNoMemory)
            fr.failure = kResultNoMemory;
    };
    scan(roll, view);
    if (d->timingInUse) {
        int32_t scanned[16] = {roll};
        int scannedCount = 1;
        for (int i = 1; scannedCount <= d->extraRolls && i < d->searchCount && !fr.cancelled; ++i) {
            const int32_t index = (d->rollIndex + i) % d->searchCount;
            const int32_t extra = wrapRoll(d->searchRolls[index] + d->rollBias);
            if (std::find(scanned, scanned + scannedCount, extra) != scanned + scannedCount || scannedCount >= 16)
                continue;
            scanned[scannedCount++] = extra;
            scan(extra, d->searchViews[index]);
        }
    }
    if (d->hasAlternate)
        swapFrameBuffers(d);
    return kResultOk;
}

void adaptScene(Frame &fr, bool cycleStart)
{
    FaceDetector *d = fr.d;
    SkinPrefilter &p = d->frame.prefilter;
    int counts[5] = {0, 0, 0, 0, 0}; /* normal, dark, dim, -, bright-flat by class */
    bool anyDark = false, anySkin = false, anyRed = false, counted = false;
    for (DetectedFace *f = firstFaceIn(&d->faces); f; f = nextFaceIn(&d->faces, f)) {
        if (f->missedFrames != 0 || f->framesTracked == 0)
            continue;
        counted = true;
        const int32_t mean = f->lumaMean, deviation = f->lumaDeviation;
        int cls;
        if (mean < 20)
            cls = 1;
        else if (mean < 40)
            cls = 2;
        else if (deviation < 20)
            cls = mean > 150 ? 4 : 0;
        else if (deviation < 40)
            cls = p.medianLuma < 20 ? 1 : p.medianLuma < 40 ? 2 : 0;
        else
            cls = 0;
        ++counts[cls];
        anyDark |= mean < 40;
        if (p.enabled) {
            const uint64_t all = uint64_t(f->skinCounts[0]) + f->skinCounts[1] + f->skinCounts[2];
            anyRed |= uint64_t(f->skinCounts[2]) * 100 > all * 70 && f->lumaHigh > 15;
            anySkin |= uint64_t(f->skinCounts[1] + f->skinCounts[2]) * 100 > all * 70 && f->lumaHigh > 7;
        }
    }
    if (counted) {
        if (anyDark)
            setSkinPrefilter(d, 0);
        else if (anySkin)
            setSkinPrefilter(d, 1);
        else if (anyRed)
            setSkinPrefilter(d, 2);
        int best = 1;
        for (int cls : {2, 4, 0})
            if (counts[cls] > counts[best])
                best = cls;
        p.lightingClass = best;
    }
    if (cycleStart && recountFaces(d) == 0) {
        if (p.medianLuma < 20) {
            p.lightingClass = 1;
            setSkinPrefilter(d, 0);
        } else if (p.medianLuma < 40) {
            p.lightingClass = 2;
            setSkinPrefilter(d, 0);
        } else {
            ++d->emptyCycles;
            if (d->emptyCycles <= 5) {
                p.lightingClass = 0;
                setSkinPrefilter(d, d->emptyCycles & 1 ? 2 : 1);
            } else if (d->emptyCycles == 6) {
                p.lightingClass = 4;
                setSkinPrefilter(d, 1);
            } else {
                p.lightingClass = 4;
                setSkinPrefilter(d, 0);
                d->emptyCycles = 0;
            }
        }
    } else if (cycleStart) {
        d->emptyCycles = 0;
    }
}

void refineMissed(Frame &fr)
{
    FaceDetector *d = fr.d;
    DetectorListNode missed;
    detectorListInit(&missed);
    for (DetectedFace *f = firstFaceIn(&d->faces); f;) {
        DetectedFace *next = nextFaceIn(&d->faces, f);
        if (f->missedFrames > 0) {
            detectorListUnlink(&f->link);
            detectorListAppend(&missed, &f->link);
        }
        f = next;
    }
    recountFaces(d);
    while (!fr.cancelled && missed.next != &missed) {
        DetectedFace *f = faceOfLink(missed.next);
        detectorListUnlink(&f->link);
        detectorListAppend(&d->faces, &f->link); /* refined in the list, so merging finds the others */
        if (refineTrackedBox(d, f) > 0)
            mergeIntoOverlapping(d, f, nullptr, false, false, true);
        report(fr, 1);
    }
    spliceFaces(&d->faces, &missed);
    recountFaces(d);
}

void keepNearestFaces(FaceDetector *d)
{
    if (d->maxTrackedFaces == 0)
        return;
    const int64_t W = d->frame.working.width, H = d->frame.working.height;
    DetectorListNode kept;
    detectorListInit(&kept);
    for (uint32_t i = 0; i < d->maxTrackedFaces; ++i) {
        DetectedFace *nearest = nullptr;
        int64_t best = 0;
        for (DetectedFace *f = firstFaceIn(&d->faces); f; f = nextFaceIn(&d->faces, f)) {
            const int64_t dx = f->box[0] + f->box[2] / 2 - W / 2, dy = f->box[1] + f->box[3] / 2 - H / 2;
            if (!nearest || dx * dx + dy * dy < best) {
                nearest = f;
                best = dx * dx + dy * dy;
            }
        }
        if (!nearest)
            break;
        detectorListUnlink(&nearest->link);
        detectorListAppend(&kept, &nearest->link);
    }
    freeFaceList(d, &d->faces);
    spliceFaces(&d->faces, &kept);
    recountFaces(d);
}

void nextRegionOfInterest(FaceDetector *d)
{
    const int32_t W = int32_t(d->frame.working.width), H = int32_t(d->frame.working.height);
    int32_t *roi = d->trackingRegion;
    if (recountFaces(d) == 0) {
        roi[0] = roi[1] = 0;
        roi[2] = W;
        roi[3] = H;
        return;
    }
    int32_t x0 = W / 2, y0 = H / 2, x1 = W / 2, y1 = H / 2;
    for (DetectedFace *f = firstFaceIn(&d->faces); f; f = nextFaceIn(&d->faces, f)) {
        const int32_t *b = f->alternateBox[2] ? f->alternateBox : f->box;
        const int32_t a = productQ10HalfUp(b[2], 2458);
        const int32_t x = std::max(0, b[0] + b[2] / 2 - a / 2), y = std::max(0, b[1] + b[3] / 2 - a / 2);
        x0 = std::min(x0, x);
        y0 = std::min(y0, y);
        x1 = std::max(x1, std::min(W, x + a));
        y1 = std::max(y1, std::min(H, y + a));
    }
    x0 &= ~1;
    y0 &= ~1;
    x1 = std::min(W, (x1 + 1) & ~1);
    y1 = std::min(H, (y1 + 1) & ~1);
    roi[0] = x0;
    roi[1] = y0;
    roi[2] = x1 - x0;
    roi[3] = y1 - y0;
}

/* Removes duplicates and swallowed faces, sets the next frame's region of interest from the
 * faces that remain, and numbers and rates them. */
void numberFaces(FaceDetector *d)
{
    d->candidateCount = 0;
    removeDuplicateFaces(d);
    removeSwallowedFaces(d);
    nextRegionOfInterest(d);
    for (DetectedFace *f = firstFaceIn(&d->faces); f; f = nextFaceIn(&d->faces, f)) {
        if (f->report.id == 0)
            f->report.id = d->nextFaceId++;
        int32_t score = std::min(100, productQ10HalfUp(f->score, 102)) + 20 * f->positives;
        score += 50 * ((f->report.firstEyeBox[2] != 0) + (f->report.secondEyeBox[2] != 0));
        if (f->missedFrames < 10)
            score += (10 - f->missedFrames) * 20;
        f->report.score = score;
        if (rollDistance(f->creationRoll, f->report.roll) > 20)
            f->report.roll = f->creationRoll;
        if (f->framesTracked == 0) {
            d->rememberedRoll = f->creationRoll;
            d->rescan = 1;
        }
        ++f->missedFrames;
        ++f->framesTracked;
        ++d->candidateCount;
    }
}

} // namespace

int detectTracking(FaceDetector *d)
{
    Frame fr{};
    fr.d = d;
    detectorListInit(&fr.tracked);
    fr.limitHit = d->maxFaces != 0x7fffffff && d->candidateCount >= int32_t(d->maxFaces);
    d->alternateBuild = 0;
    d->faceAdded = 0;
    adaptInterval(d);
    const int32_t fpfs = int32_t(d->working.framesPerFullScan);
    d->trackedFaces = recountFaces(d);
    const bool faces = d->trackedFaces > 0;

    fr.cancelled = d->callback(d->callbackUser, 0, -1) != 0;
    if (!fr.cancelled && (d->frameIndex == 0 || d->frameIndex == fpfs || faces)) {
        if (!fr.limitHit) {
            if (!d->regionOnly)
                sceneStatistics(d);
            buildSkinMap(d, d->frameIndex >= fpfs);
        } else {
            buildSkinMap(d, false);
        }
    }
    report(fr, 1);

    if (d->flags & (kDetectorFlagSizeRange | kDetectorFlagRollCycle))
        d->holdCountdown = faces ? d->holdFrames : std::max(0, d->holdCountdown - 1);
    const bool cycleStart = d->frameIndex >= fpfs;
    if (cycleStart)
        startCycle(d, faces);

    d->rollBias = dominantBias(d);
    fr.cycleRoll = wrapRoll(d->searchRolls[d->rollIndex] + d->rollBias);
    fr.cycleView = d->searchViews[d->rollIndex];
    if ((d->flags & kDetectorFlagAdaptiveScan) && d->rescan && d->cycleCounter > 2 && d->frameIndex == 0) {
        fr.cycleRoll = d->rememberedRoll;
        fr.cycleView = 0;
        d->working.framesPerFullScan = d->minFramesPerFullScan;
        d->coarseStep = 1;
        d->working.perFrameShare = 1;
        d->rescan = 0;
    }
    if (d->flags & kDetectorFlagRollHint)
        fr.cycleRoll = snapRoll(fr.cycleRoll, d->rollHint);

    const int32_t share = int32_t(d->working.perFrameShare);
    if (d->frameIndex <= share / 100 && d->frameIndex * 100 != share && !fr.limitHit && !fr.cancelled) {
        int32_t rect[4];
        biasedSearchRect(d, rect);
        widenToFaces(fr, rect);
        const int32_t W = int32_t(d->frame.working.width), H = int32_t(d->frame.working.height);
        rect[2] = std::min(rect[2], W - rect[0]);
        rect[3] = std::min(rect[3], H - rect[1]);
        prepareSearchRegion(d, rect, true);
        d->alternateBuild = d->hasAlternate;
        if (!d->hasAlternate)
            pointScanAtFrame(d);
        report(fr, 1);
    }

    /* local search of every tracked face */
    spliceFaces(&fr.tracked, &d->faces);
    recountFaces(d);
    for (DetectedFace *f = firstFaceIn(&fr.tracked); f && !fr.cancelled;) {
        DetectedFace *next = nextFaceIn(&fr.tracked, f);
        searchTrackedFace(fr, f);
        f = next;
    }

    if (!fr.limitHit && !fr.cancelled && scanNewFaces(fr) == kResultNoMemory) {
        /* the tracked faces go back into the list before the frame is given up */
        spliceFaces(&d->faces, &fr.tracked);
        recountFaces(d);
        return kResultNoMemory;
    }

    /* merging: the new faces among themselves, then the tracked ones into them */
    for (DetectedFace *f = firstFaceIn(&d->faces); f; f = nextFaceIn(&d->faces, f))
        if (f->box[2] != 0 && !fr.cancelled)
            mergeIntoOverlapping(d, f, nullptr, false, true, true);
    freeFacesWhere(d, [](const DetectedFace *f) { return f->box[2] == 0; });
    if (recountFaces(d) > 0 && !fr.cancelled)
        for (DetectedFace *f = firstFaceIn(&fr.tracked); f;) {
            DetectedFace *next = nextFaceIn(&fr.tracked, f);
            mergeIntoOverlapping(d, f, nullptr, false, false, true);
            f = next;
        }
    spliceFaces(&d->faces, &fr.tracked);
    recountFaces(d);
    removeDuplicateFaces(d);

    adaptScene(fr, cycleStart);
    if (!fr.cancelled)
        refineMissed(fr);
    keepNearestFaces(d);

    const int32_t W = int32_t(d->frame.working.width), H = int32_t(d->frame.working.height);
    smoothTrackedBoxes(d, W, H);
    if (d->flags & (kDetectorFlagEyeScores | kDetectorFlagEyeBoxes))
        if (locateEyes(d, nullptr) == kResultCancelled)
            fr.cancelled = true;
    scoreFaces(d, nullptr);
    numberFaces(d);

    if (d->configured.framesPerFullScan > 1 && d->alternateBuild && d->hasAlternate) {
        d->alternate.prefilter = d->frame.prefilter;
        std::swap(d->frame.working, d->alternate.working);
        std::swap(d->frame.skinMap, d->alternate.skinMap);
        std::swap(d->skinRegion, d->alternateSkinRegion);
    }
    ++d->frameIndex;
    if (d->callback(d->callbackUser, 2, 0) != 0)
        fr.cancelled = true;
    return fr.cancelled ? kResultCancelled : fr.failure;
}
