/*
 * Face records: the list, scan-context snapshots and crops, candidates with their colour
 * statistics and verification, grouping and merging.
 *
 * Divisions: the face list; scan-context snapshots and crops; rotated resampling; candidates;
 * colour statistics; verification; grouping; merging.
 */
#include "facesdk/detect/faces.h"

#include "facesdk/base/bilinear.h"
#include "facesdk/detect/frame.h"
#include "facesdk/detect/window.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

/* ---- the face list ---- */

int32_t recountFaces(FaceDetector *detector)
{
    int32_t count = 0;
    for (DetectorListNode *link = detector->faces.next; link != &detector->faces; link = link->next)
        ++count;
    detector->faceCount = count;
    return count;
}

void spliceFaces(DetectorListNode *to, DetectorListNode *from)
{
    while (from->next != from) {
        DetectorListNode *link = from->next;
        detectorListUnlink(link);
        detectorListAppend(to, link);
    }
}

static void freeProfile(FaceDetector *detector, MotionProfile *profile)
{
    allocatorFree(detector->allocator, profile->sums);
    profile->sums = nullptr;
    profile->count = 0;
    profile->valid = 0;
}

void freeFace(FaceDetector *detector, DetectedFace *face)
{
    if (!face)
        return;
    if (face->link.next && face->link.next != &face->link)
        detectorListUnlink(&face->link);
    EngineAllocator *allocator = detector->allocator;
    allocatorFree(allocator, face->boxRing);
    allocatorFree(allocator, face->rollRing);
    allocatorFree(allocator, face->eyeRing[0]);
    allocatorFree(allocator, face->eyeRing[1]);
    freeProfile(detector, &face->rowProfile);
    freeProfile(detector, &face->columnProfile);
    allocatorFree(allocator, face);
    recountFaces(detector);
}

void freeFaceList(FaceDetector *detector, DetectorListNode *head)
{
    while (head->next != head)
        freeFace(detector, faceOfLink(head->next));
}

void freeFacesWhere(FaceDetector *detector, bool (*drop)(const DetectedFace *face))
{
    DetectorListNode *head = &detector->faces;
    for (DetectedFace *f = firstFaceIn(head); f;) {
        DetectedFace *next = nextFaceIn(head, f);
        if (drop(f))
            freeFace(detector, f);
        f = next;
    }
    recountFaces(detector);
}

void freeAllFaces(FaceDetector *detector)
{
    freeFaceList(detector, &detector->faces);
    detector->faceCount = 0;
}

/* ---- scan-context snapshots and crops ---- */

SavedScan saveScan(const FaceDetector *d)
{
    SavedScan s;
    s.image = d->scanImage;
    s.integral = d->scanIntegral;
    s.squared = d->scanSquared;
    std::memcpy(s.rect, d->scanRect, sizeof s.rect);
    s.base = d->modelBase;
    s.roll = d->roll;
    s.view = d->view;
    s.scale = d->scale;
    s.inverseSquaredScale = d->inverseSquaredScale;
    s.shift1 = d->normShift1;
    s.shift2 = d->normShift2;
    s.normalisation = d->normalisation;
    s.tolerance = d->cascadeTolerance;
    s.threshold = d->scoreThreshold;
    s.skinEnabled = d->frame.prefilter.enabled;
    s.refinement = d->rollRefinementAllowed;
    s.options = d->scanOptions;
    return s;
}

void restoreScan(FaceDetector *d, const SavedScan &s)
{
    d->scanImage = s.image;
    d->scanIntegral = s.integral;
    d->scanSquared = s.squared;
    std::memcpy(d->scanRect, s.rect, sizeof s.rect);
    d->modelBase = s.base;
    d->roll = s.roll;
    d->view = s.view;
    d->scale = s.scale;
    d->inverseSquaredScale = s.inverseSquaredScale;
    d->normShift1 = s.shift1;
    d->normShift2 = s.shift2;
    d->normalisation = s.normalisation;
    d->cascadeTolerance = s.tolerance;
    d->scoreThreshold = s.threshold;
    d->frame.prefilter.enabled = s.skinEnabled;
    d->rollRefinementAllowed = s.refinement;
    d->scanOptions = s.options;
}

bool allocateCrop(FaceDetector *detector, CropImage *crop, uint32_t width, uint32_t height)
{
    std::memset(crop, 0, sizeof *crop);
    const uint32_t pixels = width * height;
    if (pixels == 0)
        return false;
    crop->plane.block = allocatorAlloc(detector->allocator, pixels);
    crop->integral = static_cast<uint32_t *>(allocatorAlloc(detector->allocator, pixels * 4));
    crop->squared = static_cast<uint32_t *>(allocatorAlloc(detector->allocator, pixels * 4));
    if (!crop->plane.block || !crop->integral || !crop->squared) {
        freeCrop(detector, crop);
        return false;
    }
    crop->plane.data = static_cast<uint8_t *>(crop->plane.block);
    crop->plane.width = width;
    crop->plane.height = height;
    crop->plane.allocated = crop->plane.owned = 1;
    return true;
}

void freeCrop(FaceDetector *detector, CropImage *crop)
{
    allocatorFree(detector->allocator, crop->plane.block);
    allocatorFree(detector->allocator, crop->integral);
    allocatorFree(detector->allocator, crop->squared);
    std::memset(crop, 0, sizeof *crop);
}

void scanCrop(FaceDetector *detector, CropImage *crop, int32_t roll, int32_t view)
{
    const int32_t whole[4] = {0, 0, int32_t(crop->plane.width), int32_t(crop->plane.height)};
    detector->scanImage = &crop->plane;
    detector->scanIntegral = crop->integral;
    detector->scanSquared = crop->squared;
    std::memcpy(detector->scanRect, whole, sizeof whole);
    detector->roll = roll;
    detector->view = view;
    integrateSumAndSquares(crop->plane.data, crop->plane.width, crop->integral, crop->squared, whole,
                           lumaRemapTable(detector->frame.prefilter.lightingClass), detector->squaresShift, false);
}

static int32_t bitLength(uint32_t v)
{
    int32_t bits = 0;
    while (v) {
        ++bits;
        v >>= 1;
    }
    return bits;
}

void setVarianceShifts(FaceDetector *detector, int32_t w)
{
    const int32_t room = 18 - detector->squaresShift;
    const int32_t pre = std::min(std::max(0, 2 * bitLength(uint32_t(w) * uint32_t(w)) - 18), room);
    detector->normShift1 = pre;
    detector->normShift2 = room - pre;
}

void setScanScale(FaceDetector *detector, uint32_t scale)
{
    detector->scale = scale;
    const uint64_t squared = uint64_t(scale) * scale;
    detector->inverseSquaredScale = int32_t(std::max<uint64_t>(squared ? (uint64_t(1) << 30) / squared : 1, 1));
    setVarianceShifts(detector, int32_t((uint64_t(scale) * uint32_t(detector->modelBase)) >> 10));
}

/* ---- rotated resampling ---- */

void resampleRotated(const DetectorPlane *src, DetectorPlane *dst, int32_t roll, int32_t x0, int32_t y0, int32_t cx,
                     int32_t cy, int32_t step)
{
    const int32_t r = roll < 0 ? roll + 360 : roll;
    const int64_t c = sinDeg(r + 90) >> 6, s = sinDeg(r) >> 6; /* Q10 */
    const int32_t width = int32_t(src->width), height = int32_t(src->height);
    const bool direct = step == 1024 && axisRoll(roll);
    for (uint32_t j = 0; j < dst->height; ++j) {
        uint8_t *row = dst->data + size_t(j) * dst->width;
        for (uint32_t i = 0; i < dst->width; ++i) {
            const int64_t vx = int64_t(step) * i + int64_t(x0 - cx) * 1024;
            const int64_t vy = int64_t(step) * j + int64_t(y0 - cy) * 1024;
            const int64_t X = int64_t(cx) * 1024 + ((c * vx) >> 10) - ((s * vy) >> 10);
            const int64_t Y = int64_t(cy) * 1024 + ((s * vx) >> 10) + ((c * vy) >> 10);
            const int64_t px = X >> 10, py = Y >> 10;
            uint8_t value = 128;
            if (direct) {
                if (px >= 0 && py >= 0 && px < width && py < height)
                    value = src->data[size_t(py) * width + size_t(px)];
            } else if (px > 0 && py > 0 && px + 1 < width && py + 1 < height) {
                const int64_t fx = X - px * 1024, fy = Y - py * 1024;
                const uint8_t *p = src->data + size_t(py) * width + size_t(px);
                value = uint8_t(bilinearQ10CornerWeights(p[0], p[1], p[width], p[width + 1], fx, fy));
            }
            row[i] = value;
        }
    }
}

/* ---- candidates ---- */

static bool allocateHistories(FaceDetector *detector, DetectedFace *face)
{
    EngineAllocator *a = detector->allocator;
    face->boxRing = static_cast<int32_t(*)[4]>(allocatorAlloc(a, 160));
    face->rollRing = static_cast<int32_t *>(allocatorAlloc(a, 40));
    face->eyeRing[0] = static_cast<int32_t(*)[4]>(allocatorAlloc(a, 80));
    face->eyeRing[1] = static_cast<int32_t(*)[4]>(allocatorAlloc(a, 80));
    return face->boxRing && face->rollRing && face->eyeRing[0] && face->eyeRing[1];
}

int addCandidate(FaceDetector *detector, const int32_t box[4], int32_t score, int32_t voteSum, int32_t foundByTracking,
                 int32_t positives, DetectedFace **out)
{
    const uint32_t W = detector->frame.working.width, H = detector->frame.working.height;
    if (box[0] < 0 || box[1] < 0 || box[2] <= 0 || box[3] <= 0 || uint32_t(box[0]) + uint32_t(box[2]) > W ||
        uint32_t(box[1]) + uint32_t(box[3]) > H)
        return kResultBadArgument;
    DetectedFace *face = static_cast<DetectedFace *>(allocatorAlloc(detector->allocator, sizeof(DetectedFace)));
    if (!face)
        return kResultNoMemory;
    std::memset(face, 0, sizeof *face);
    face->report.recordSize = 128;
    face->link.next = face->link.previous = &face->link;
    if (!allocateHistories(detector, face)) {
        freeFace(detector, face);
        return kResultNoMemory;
    }
    face->foundByTracking = foundByTracking;
    std::memcpy(face->box, box, 16);
    std::memcpy(face->smoothed, box, 16);
    std::memcpy(face->chosenBox, box, 16);
    std::memcpy(face->creationBox, box, 16);
    std::memcpy(face->report.box, box, 16);
    face->creationArea = uint32_t(box[2]) * uint32_t(box[3]);
    face->creationRoll = face->report.roll = detector->roll;
    face->view = face->report.view = detector->view;
    face->score = score;
    face->confirmations = (detector->flags & kDetectorFlagConfirmAtOnce) ? 2 : 1;
    face->secondaryScore = voteSum;
    face->report.score = int32_t(std::min<uint32_t>(uint32_t(score), 100));
    face->positives = positives;
    detectorListAppend(&detector->faces, &face->link);
    recountFaces(detector);
    candidateColourStats(detector, face);
    if (!((detector->flags & kDetectorFlagTracking) && foundByTracking) &&
        verifyCandidate(detector, face, false) != 0) {
        freeFace(detector, face);
        return kResultNotFound;
    }
    detector->faceAdded = 1;
    if (out)
        *out = face;
    return kResultOk;
}

int boxesSimilar(const int32_t box[4], const int32_t ref[4], int32_t tolerance)
{
    const int64_t tx = (int64_t(tolerance) * ref[2]) >> 10, ty = (int64_t(tolerance) * ref[3]) >> 10;
    return std::llabs(int64_t(box[0]) - ref[0]) < tx &&
           std::llabs(int64_t(box[0]) + box[2] - ref[0] - ref[2]) < tx &&
           std::llabs(int64_t(box[1]) - ref[1]) < ty &&
           std::llabs(int64_t(box[1]) + box[3] - ref[1] - ref[3]) < ty;
}

/* ---- colour statistics ---- */

namespace {

struct ColourSample {
    uint8_t luma, cb, cr, skin;
};

/* The samples of a face's middle region: all pixels of a small region, a 10 x 10 grid of a
 * larger one. Answers the count (at most `capacity`). */
int sampleMiddle(const FaceDetector *detector, const DetectedFace *face, ColourSample *out, int capacity)
{
    const DetectorPlane &image = detector->frame.working;
    const uint32_t W = image.width, H = image.height;
    const int32_t w = face->box[2], h = face->box[3];
    const int32_t rw = std::min(w, std::max(10, (w * 410 + 512) >> 10));
    const int32_t rh = std::min(h, std::max(10, (h * 410 + 512) >> 10));
    const int32_t left = face->box[0] + (w - rw) / 2, top = face->box[1] + (h - rh) / 2;
    const uint8_t *luma = image.data;
    const uint8_t *pairs = luma + size_t(W) * H;
    const uint8_t *skin = detector->frame.skinMap.data;
    int n = 0;
    auto take = [&](int32_t x, int32_t y) {
        if (n >= capacity || x < 0 || y < 0 || uint32_t(x) >= W || uint32_t(y) >= H)
            return;
        ColourSample &s = out[n++];
        s.luma = luma[size_t(y) * W + x];
        const uint8_t *pair = pairs + size_t(y >> 1) * W + (x & ~1);
        s.cb = pair[0];
        s.cr = pair[1];
        s.skin = skin ? skin[size_t(y >> 1) * (W >> 1) + (x >> 1)] : 0;
    };
    if (std::min(rw, rh) < 20) {
        for (int32_t y = 0; y < rh; ++y)
            for (int32_t x = 0; x < rw; ++x)
                take(left + x, top + y);
    } else {
        for (int32_t ky = 0; ky < 10; ++ky)
            for (int32_t kx = 0; kx < 10; ++kx)
                take(left + int32_t((int64_t(kx) * rw * 65536 / 10) >> 16),
                     top + int32_t((int64_t(ky) * rh * 65536 / 10) >> 16));
    }
    return n;
}

} // namespace

void candidateColourStats(FaceDetector *detector, DetectedFace *face)
{
    /* at most 19 x 19 pixels of a small region, or the 10 x 10 grid */
    ColourSample samples[400];
    const SkinPrefilter &prefilter = detector->frame.prefilter;
    face->colourValid = (detector->flags & kDetectorFlagSkinPrefilter) && prefilter.medianLuma >= 40;
    const int n = sampleMiddle(detector, face, samples, 400);
    const bool skinOn = prefilter.enabled && detector->frame.skinMap.data;
    uint32_t histogram[256] = {};
    uint32_t counted = 0;
    uint64_t sum = 0, squares = 0;
    for (int i = 0; i < n; ++i) {
        const ColourSample &s = samples[i];
        if (skinOn) {
            ++face->skinCounts[std::min<int>(s.skin, 2)];
            if (s.skin >= prefilter.mode) {
                ++histogram[s.luma];
                ++counted;
            }
        } else {
            ++histogram[s.luma];
            ++counted;
        }
        sum += s.luma;
        squares += uint64_t(s.luma) * s.luma;
    }
    if (counted > 0) {
        face->lumaLow = histogramPoint(histogram, counted * 154 >> 10);
        face->lumaHigh = histogramPoint(histogram, counted * 1004 >> 10);
    }
    if (n > 1) {
        face->lumaMean = int32_t(sum / uint64_t(n));
        const uint64_t spread = squares * uint64_t(n) - sum * sum;
        face->lumaDeviation = int32_t(isqrt64(spread / (uint64_t(n) * uint64_t(n - 1))));
    }
    if (face->lumaMean < 20)
        face->colourValid = 0;
    if (!face->colourValid)
        return;
    face->cbMin = face->crMin = 255;
    face->cbMax = face->crMax = 0;
    const int32_t high = std::min(face->lumaHigh, 240);
    for (int i = 0; i < n; ++i) {
        const ColourSample &s = samples[i];
        if (s.luma < face->lumaLow || s.luma > high)
            continue;
        if (skinOn && prefilter.mode != 0 && s.skin < prefilter.mode)
            continue;
        /* true minimum and maximum: every sample may widen both ends, so the range always
         * holds the face's own chroma */
        face->cbMin = std::min<uint32_t>(face->cbMin, s.cb);
        face->cbMax = std::max<uint32_t>(face->cbMax, s.cb);
        face->crMin = std::min<uint32_t>(face->crMin, s.cr);
        face->crMax = std::max<uint32_t>(face->crMax, s.cr);
    }
}

/* ---- verification ---- */

int verifyCandidate(FaceDetector *detector, DetectedFace *face, bool force)
{
    const int32_t T = detector->cascadeTolerance;
    const int32_t roll = face->report.roll;
    const bool strict = face->view != 0 && (face->box[2] > 1000 || T < 0);
    if (!force && !strict) {
        if (face->view != 0 || face->framesTracked != 0)
            return 0;
        if (T >= 0 && axisRoll(roll))
            return 0;
    }
    const SavedScan saved = saveScan(detector);
    setWindowModel(detector, 22, 0, face->view);
    detector->frame.prefilter.enabled = 0;

    const int32_t W = int32_t(detector->frame.working.width), H = int32_t(detector->frame.working.height);
    const int32_t m = std::max(1, ((face->box[2] * 49 + 512) >> 10) / 2);
    const int32_t x0 = std::max(0, face->box[0] - m), y0 = std::max(0, face->box[1] - m);
    const int32_t n = std::min(W - x0 - 1, face->box[2] + 2 * m);
    const int32_t k = std::min(H - y0 - 1, face->box[3] + 2 * m);
    CropImage crop;
    if (!allocateCrop(detector, &crop, 26, 26)) {
        restoreScan(detector, saved);
        return kResultNoMemory;
    }
    resampleRotated(&detector->frame.working, &crop.plane, roll, x0, y0, x0 + n / 2, y0 + k / 2, n * 1024 / 25);
    scanCrop(detector, &crop, 0, face->view);
    detector->scale = 1024;
    detector->inverseSquaredScale = 1024;

    const int32_t threshold = T >= 0 ? 150 : (154112 - (T * 1024 / 100) * 150) >> 10;
    const int flags = kWindowVariant1 | kWindowNormalise | 0x8 | kWindowNoChecks; /* 27 */
    int32_t sum = 0, passes = 0, bestX = 2, bestY = 2, best;
    auto ask = [&](int32_t x, int32_t y) {
        const int answer = evaluateWindow(detector, x, y, flags);
        if (answer > 0) {
            sum += answer;
            ++passes;
        }
        if (answer > best) {
            best = answer;
            bestX = x;
            bestY = y;
        }
    };
    best = evaluateWindow(detector, 2, 2, flags);
    if (best > 0) {
        sum = best;
        passes = 1;
    }
    ask(1, 3);
    ask(1, 1);
    ask(3, 3);
    ask(3, 1);
    if (sum > 1) {
        ask(2, bestY);
        ask(bestX, 2);
    }
    restoreScan(detector, saved);
    freeCrop(detector, &crop);

    if (sum < threshold)
        return -1;
    if (bestX != 2 || bestY != 2) {
        const int64_t c = sinDeg(face->creationRoll + 90), s = sinDeg(face->creationRoll);
        auto turned = [](int64_t v, int32_t d) { return (((v * (int64_t(d) * 1024)) >> 10) + 32) >> 6; };
        const int32_t dx = bestX - 2, dy = bestY - 2;
        int32_t moved[4] = {face->box[0] + int32_t((turned(c, dx) - turned(s, dy) + 512) >> 10),
                            face->box[1] + int32_t((turned(s, dx) + turned(c, dy) + 512) >> 10), face->box[2],
                            face->box[3]};
        clipRect(0, 0, W, H, moved, face->box);
    }
    face->score = sum;
    face->positives = passes;
    face->report.score = std::min(sum, 100);
    return 0;
}

/* ---- grouping ---- */

static uint32_t boxArea(const int32_t box[4]) { return uint32_t(box[2]) * uint32_t(box[3]); }

/* Overlap above percent of both areas (u32 products). */
static bool overlapsBoth(uint32_t overlap, const int32_t a[4], const int32_t b[4], uint32_t percent)
{
    const uint64_t scaled = uint64_t(overlap) * 100;
    return scaled > uint64_t(percent) * boxArea(a) && scaled > uint64_t(percent) * boxArea(b);
}

void groupCandidates(FaceDetector *detector)
{
    DetectorListNode *head = &detector->faces;
    for (DetectedFace *f = firstFaceIn(head); f; f = nextFaceIn(head, f))
        f->report.id = 0;
    int32_t groups = 0;
    for (DetectedFace *r = firstFaceIn(head); r; r = nextFaceIn(head, r)) {
        if (r->report.id != 0)
            continue;
        r->report.id = ++groups;
        for (DetectedFace *s = firstFaceIn(head); s; s = nextFaceIn(head, s))
            if (s != r && s->report.id == 0 && s->creationRoll == r->creationRoll &&
                overlapsBoth(overlapArea(r->box, s->box), r->box, s->box, 40))
                s->report.id = r->report.id;
    }

    DetectorListNode result;
    detectorListInit(&result);
    for (int32_t group = 1; group <= groups && head->next != head; ++group) {
        DetectedFace *chosen = nullptr;
        for (DetectedFace *f = firstFaceIn(head); f; f = nextFaceIn(head, f))
            if (f->report.id == group && f->view == 0 && f->score > 0 && (!chosen || f->score > chosen->score))
                chosen = f;
        if (!chosen)
            for (DetectedFace *f = firstFaceIn(head); f; f = nextFaceIn(head, f))
                if (f->report.id == group && f->score > 0 && (!chosen || f->score > chosen->score))
                    chosen = f;
        if (!chosen) {
            /* a group without a positive score is dropped on its own; the later groups'
             * faces stay */
            for (DetectedFace *s = firstFaceIn(head); s;) {
                DetectedFace *next = nextFaceIn(head, s);
                if (s->report.id == group)
                    freeFace(detector, s);
                s = next;
            }
            continue;
        }
        for (DetectedFace *s = firstFaceIn(head); s;) {
            DetectedFace *next = nextFaceIn(head, s);
            if (s->report.id == group && s != chosen) {
                const uint64_t cw = uint64_t(uint32_t(chosen->box[2])) * 100, sw = uint32_t(s->box[2]);
                if (sw * 80 < cw && cw < sw * 120) {
                    const uint64_t ws = uint32_t(s->score), wc = uint32_t(chosen->score);
                    for (int i = 0; i < 4; ++i) {
                        const uint64_t sum = uint32_t(s->box[i]) * ws + uint32_t(chosen->box[i]) * wc;
                        chosen->box[i] = int32_t(sum / (ws + wc));
                    }
                }
                freeFace(detector, s);
            }
            s = next;
        }
        std::memcpy(chosen->chosenBox, chosen->box, 16);
        std::memcpy(chosen->smoothed, chosen->box, 16);
        detectorListUnlink(&chosen->link);
        detectorListAppend(&result, &chosen->link);
    }
    spliceFaces(head, &result);

    for (DetectedFace *a = firstFaceIn(head); a; a = nextFaceIn(head, a))
        for (DetectedFace *b = firstFaceIn(head); b; b = nextFaceIn(head, b)) {
            if (a == b)
                continue;
            const uint64_t o = uint64_t(overlapArea(a->box, b->box)) * 100;
            if (!(o > 40 * uint64_t(boxArea(a->box)) || o > 40 * uint64_t(boxArea(b->box))))
                continue;
            if ((a->view == 0) != (b->view == 0))
                (a->view == 0 ? b : a)->score = 0;
            else if (uint64_t(uint32_t(a->score)) * boxArea(a->box) <= uint64_t(uint32_t(b->score)) * boxArea(b->box))
                a->score = 0;
            else
                b->score = 0;
        }
    freeFacesWhere(detector, [](const DetectedFace *f) { return f->score == 0; });
}

/* ---- merging ---- */

/* Drops a merged record: freed, or with keepRecords only its current width cleared. */
static void dropMerged(FaceDetector *detector, DetectedFace *face, bool keepRecords)
{
    if (keepRecords)
        face->box[2] = 0;
    else
        freeFace(detector, face);
}

static void takeOver(const FaceDetector *detector, DetectedFace *survivor, DetectedFace *merged)
{
    std::memcpy(survivor->smoothed, merged->smoothed, 16);
    std::memcpy(survivor->chosenBox, merged->chosenBox, 16);
    std::memcpy(survivor->previous, merged->previous, 16);
    std::memcpy(survivor->motion, merged->motion, sizeof survivor->motion);
    std::memcpy(survivor->relativeMotion, merged->relativeMotion, sizeof survivor->relativeMotion);
    survivor->carried = merged->carried;
    survivor->framesTracked = merged->framesTracked;
    survivor->report.id = merged->report.id;
    survivor->report.roll = merged->report.roll;
    survivor->eyeDistance = merged->eyeDistance;
    survivor->rollHistoryFill = merged->rollHistoryFill;
    std::memcpy(survivor->alternateBox, merged->alternateBox, 16);
    survivor->report.reserved2[1] = merged->report.reserved2[1];
    survivor->confirmations += merged->confirmations;
    const uint32_t flags = detector->flags;
    if ((flags & kDetectorFlagTracking) && (flags & kDetectorFlagFaceScore)) {
        survivor->faceScoreTally += merged->faceScoreTally;
        survivor->faceScoreCount = merged->faceScoreCount;
        std::memcpy(survivor->faceScoreHistory, merged->faceScoreHistory, sizeof survivor->faceScoreHistory);
    }
    if ((flags & kDetectorFlagTracking) && (flags & kDetectorFlagEyeScores)) {
        for (int e = 0; e < 2; ++e) {
            survivor->eyeTally[e] += merged->eyeTally[e];
            survivor->eyeScoreCount[e] = merged->eyeScoreCount[e];
        }
        std::memcpy(survivor->eyeScoreHistory, merged->eyeScoreHistory, sizeof survivor->eyeScoreHistory);
    }
    std::swap(survivor->boxRing, merged->boxRing);
    std::swap(survivor->boxRingCount, merged->boxRingCount);
    std::swap(survivor->rollRing, merged->rollRing);
    std::swap(survivor->rollCount, merged->rollCount);
    std::swap(survivor->eyeRing, merged->eyeRing);
    std::swap(survivor->eyeRingCount, merged->eyeRingCount);
}

void mergeIntoOverlapping(FaceDetector *detector, DetectedFace *face, DetectedFace **out, bool force,
                          bool keepRecords, bool needOverlap15)
{
    DetectedFace *p = nullptr;
    uint32_t best = 0;
    for (DetectedFace *f = firstFaceIn(&detector->faces); f; f = nextFaceIn(&detector->faces, f)) {
        if (f == face || f->box[2] == 0)
            continue;
        const uint32_t o = overlapArea(face->box, f->box);
        if (!p || o > best) {
            p = f;
            best = o;
        }
    }
    if (!p)
        return;
    const uint64_t o = uint64_t(best) * 100;
    if (needOverlap15) {
        if (!(o > 15 * uint64_t(boxArea(face->box)) || o > 15 * uint64_t(boxArea(p->box))))
            return;
    } else if (best == 0) {
        return;
    }
    if (force || overlapsBoth(best, face->box, p->box, 40)) {
        DetectedFace *survivor = p, *merged = face;
        if (keepRecords && p->view != 0)
            std::swap(survivor, merged);
        takeOver(detector, survivor, merged);
        dropMerged(detector, merged, keepRecords);
        if (out)
            *out = survivor;
        return;
    }
    const int32_t faceSide = (face->box[2] + face->box[3]) / 2, pSide = (p->box[2] + p->box[3]) / 2;
    const int32_t created = face->creationBox[2];
    if (face->confirmations > 4 && std::abs(faceSide - created) < std::abs(pSide - created)) {
        face->confirmations -= 2;
        dropMerged(detector, p, keepRecords);
        if (out)
            *out = face;
    } else {
        dropMerged(detector, face, keepRecords);
        if (out)
            *out = p;
    }
}
