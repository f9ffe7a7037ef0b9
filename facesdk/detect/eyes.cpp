/*
 * Eye localisation: the upper face resampled upright and searched with the eye cascade at
 * three or four sizes, the hits voted into two eye boxes, the boxes scored with the eye
 * verification cascade, smoothed over frames, and the face's roll taken from the eye line.
 *
 * Divisions: eye windows; hit search; combining hits; eye scores; one face; smoothing; all
 * faces; one region.
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

constexpr int kMaxEyeHits = 256;   /* hits kept per face; later ones are dropped */
constexpr int32_t kEyeHitScore = 100;

struct EyeHit {
    int32_t box[4];                /* x, y, size, size in search coordinates */
    int32_t score;
};

} // namespace

/* ---- eye windows ---- */

int evaluateEyeWindow(FaceDetector *detector, int32_t x, int32_t y, int model)
{
    if (model != 0 && model != 1)
        return -105;
    /* The eye cascades are asked like the verification cascade: a new normalisation, no view
     * or roll checks, tolerance 0; only the model differs. */
    const CascadeModel *verify = detector->cascades.verify;
    detector->cascades.verify = model == 0 ? detector->cascades.eye : detector->cascades.eyeVerify;
    const int answer = evaluateVerifyWindow(detector, x, y);
    detector->cascades.verify = verify;
    return answer;
}

/* ---- hit search ---- */

namespace {

struct EyeSearch {
    FaceDetector *d;
    EyeHit *hits;
    int hitCount;
    int32_t exclusionX, exclusionY, exclusionRadius;
    int32_t earlyAccept;           /* 0: none */
    const int32_t *polygonX;       /* direct mode: window centres must lie in this quadrilateral */
    const int32_t *polygonY;
    const int32_t *bounds;         /* the search bounds: windows lie inside them */
};

/* Asks the window with its corner at (x, y) (0-based) of size M, inside the search bounds and
 * centred in `half`; adds to sum. A window need not lie inside its half: an eye sits about a
 * sixth of the bounds from the middle, and windows a third of the bounds wide that had to stay
 * in their half could not reach past it towards the middle, so the hits, and the eye placed at
 * their mean, would lean outwards. */
void askEye(EyeSearch &s, const int32_t half[4], int32_t x, int32_t y, int32_t M, int32_t O, int64_t *sum)
{
    const int32_t *b = s.bounds;
    if (x < b[0] || y < b[1] || x + M > b[0] + b[2] || y + M > b[1] + b[3])
        return;
    if (x + M / 2 < half[0] || y + M / 2 < half[1] || x + M / 2 >= half[0] + half[2] || y + M / 2 >= half[1] + half[3])
        return;
    const int64_t cx = x + M / 2 - s.exclusionX, cy = y + M / 2 - s.exclusionY;
    if (cx * cx + cy * cy < int64_t(s.exclusionRadius) * s.exclusionRadius)
        return;
    if (s.polygonX && !insideConvexPolygon(x + M / 2, y + M / 2, 4, s.polygonX, s.polygonY))
        return;
    const int d = evaluateEyeWindow(s.d, x + 1, y + 1, 0);
    if (d <= 0)
        return;
    *sum += d;
    int32_t best = d, bx = x, by = y;
    const int32_t around[4][2] = {{-O, -O}, {O, -O}, {-O, O}, {O, O}};
    for (auto &o : around) {
        const int p = evaluateEyeWindow(s.d, x + o[0] + 1, y + o[1] + 1, 0);
        if (p > 0) {
            *sum += p;
            if (p > best) {
                best = p;
                bx = x + o[0];
                by = y + o[1];
            }
        }
    }
    if (d >= kEyeHitScore && s.hitCount < kMaxEyeHits) {
        EyeHit &hit = s.hits[s.hitCount++];
        hit.box[0] = bx;
        hit.box[1] = by;
        hit.box[2] = hit.box[3] = M;
        hit.score = d;
    }
}

/* Searches one half from its centre outwards in square rings of step N. */
void searchHalf(EyeSearch &s, const int32_t half[4], int32_t M, int32_t N, int32_t O)
{
    const int32_t mx = half[0] + (half[2] - M) / 2, my = half[1] + (half[3] - M) / 2;
    int64_t sum = 0;
    for (int32_t ring = 0; ring < 99; ++ring) {
        const int32_t k = ring * N;
        if (mx - k < half[0] - M && mx + k > half[0] + half[2] && my - k < half[1] - M && my + k > half[1] + half[3])
            break; /* the ring lies wholly outside the half */
        for (int32_t dy = -ring; dy <= ring; ++dy)
            for (int32_t dx = -ring; dx <= ring; ++dx) {
                if (std::abs(dx) != ring && std::abs(dy) != ring)
                    continue;
                askEye(s, half, mx + dx * N, my + dy * N, M, O, &sum);
                if (s.earlyAccept && sum > s.earlyAccept)
                    return;
            }
    }
}

/* ---- combining hits ---- */

/* The eye box around a peak point: the mean centre of the hits containing it, the size of
 * the strongest of them; width 0 when no hit contains it. */
void boxAtPeak(const EyeHit *hits, int count, int32_t px, int32_t py, int32_t out[4])
{
    int64_t sx = 0, sy = 0;
    int n = 0;
    int32_t size = 0, strongest = 0;
    for (int i = 0; i < count; ++i) {
        const int32_t *b = hits[i].box;
        if (px < b[0] || py < b[1] || px >= b[0] + b[2] || py >= b[1] + b[3])
            continue;
        sx += b[0] + b[2] / 2;
        sy += b[1] + b[3] / 2;
        ++n;
        if (hits[i].score > strongest) {
            strongest = hits[i].score;
            size = b[2];
        }
    }
    if (n == 0) {
        std::memset(out, 0, 16);
        return;
    }
    /* the mean rounded to nearest: truncated, it put every eye up and to the left */
    out[0] = std::max<int32_t>(0, int32_t((sx + n / 2) / n) - size / 2);
    out[1] = std::max<int32_t>(0, int32_t((sy + n / 2) / n) - size / 2);
    out[2] = out[3] = size;
}

bool shouldSwap(int32_t roll, const int32_t e1[4], const int32_t e2[4], int32_t xc, int32_t yc)
{
    const bool miss1 = e1[2] == 0, miss2 = e2[2] == 0;
    const int32_t x1 = miss1 ? 0 : e1[0] + e1[2] / 2, y1 = miss1 ? 0 : e1[1] + e1[3] / 2;
    const int32_t x2 = miss2 ? 0 : e2[0] + e2[2] / 2, y2 = miss2 ? 0 : e2[1] + e2[3] / 2;
    switch (roll) {
    case 0: case 30: case 45: case -45: case -30:
        return (miss1 && x2 < xc) || (miss2 && xc < x1) || x2 < x1;
    case 135: case 150: case 180: case -150: case -135:
        return (miss1 && xc < x2) || (miss2 && x1 < xc) || x1 < x2;
    case 60: case 90: case 120:
        return !((miss1 && y2 < yc) || (miss2 && yc < y1) || y1 < y2);
    case -120: case -90: case -60:
        return !((miss1 && y2 < yc) || (miss2 && y1 < yc) || y2 < y1);
    default:
        return false;
    }
}

/* Votes the hits into the two eye boxes (search coordinates). 0 or -3. */
int combineEyeHits(FaceDetector *d, const EyeHit *hits, int count, const int32_t rect[4], int32_t roll, int32_t eye1[4],
                   int32_t eye2[4])
{
    std::memset(eye1, 0, 16);
    std::memset(eye2, 0, 16);
    const int32_t b = std::max(rect[2], rect[3]), c = std::min(b, 42);
    if (b <= 0)
        return kResultOk;
    const int32_t scale = c * 1024 / b;
    const int32_t mw = std::max(1, productQ10HalfUp(rect[2], scale));
    const int32_t mh = std::max(1, productQ10HalfUp(rect[3], scale));
    const int32_t h = std::max(3, productQ10HalfUp(std::max(mw, mh), 128));
    uint32_t *map = static_cast<uint32_t *>(allocatorAlloc(d->allocator, uint32_t((mw + 1) * (mh + 1) * 4)));
    if (!map)
        return kResultNoMemory;
    /* map[(y + 1) * (mw + 1) + x + 1] integrates the votes; row and column 0 stay 0 */
    std::memset(map, 0, size_t(mw + 1) * (mh + 1) * 4);
    for (int i = 0; i < count; ++i) {
        const int32_t *hb = hits[i].box;
        const int32_t size = std::min(h, std::max(1, hb[2] * scale >> 10));
        const int32_t cx = ((hb[0] - rect[0]) * 2 + hb[2]) * scale >> 11;
        const int32_t cy = ((hb[1] - rect[1]) * 2 + hb[3]) * scale >> 11;
        for (int32_t y = cy - size / 2; y < cy - size / 2 + size; ++y)
            for (int32_t x = cx - size / 2; x < cx - size / 2 + size; ++x)
                if (x >= 0 && y >= 0 && x < mw && y < mh)
                    map[size_t(y + 1) * (mw + 1) + x + 1] += uint32_t(hits[i].score);
    }
    for (int32_t y = 1; y <= mh; ++y)
        for (int32_t x = 1; x <= mw; ++x)
            map[size_t(y) * (mw + 1) + x] += map[size_t(y - 1) * (mw + 1) + x] + map[size_t(y) * (mw + 1) + x - 1] -
                                             map[size_t(y - 1) * (mw + 1) + x - 1];
    auto windowSum = [&](int32_t x, int32_t y) {
        return map[size_t(y + h) * (mw + 1) + x + h] - map[size_t(y) * (mw + 1) + x + h] -
               map[size_t(y + h) * (mw + 1) + x] + map[size_t(y) * (mw + 1) + x];
    };
    const int32_t separation = productQ10HalfUp(c, 410);
    int32_t peaks[2][2];
    uint32_t best[2] = {0, 0};
    bool found[2] = {false, false};
    for (int pass = 0; pass < 2; ++pass)
        for (int32_t y = 0; y + h <= mh; ++y)
            for (int32_t x = 0; x + h <= mw; ++x) {
                const int32_t px = x + h / 2, py = y + h / 2;
                if (pass == 1) {
                    const int64_t dx = px - peaks[0][0], dy = py - peaks[0][1];
                    if (!found[0] || dx * dx + dy * dy <= int64_t(separation) * separation)
                        continue;
                }
                const uint32_t sum = windowSum(x, y);
                if (sum > best[pass]) {
                    best[pass] = sum;
                    peaks[pass][0] = px;
                    peaks[pass][1] = py;
                    found[pass] = true;
                }
            }
    allocatorFree(d->allocator, map);
    int32_t *out[2] = {eye2, eye1};
    for (int pass = 0; pass < 2; ++pass)
        if (found[pass])
            boxAtPeak(hits, count, rect[0] + peaks[pass][0] * b / c, rect[1] + peaks[pass][1] * b / c, out[pass]);
    if (shouldSwap(roll, eye1, eye2, rect[0] + rect[2] / 2, rect[1] + rect[3] / 2))
        for (int i = 0; i < 4; ++i)
            std::swap(eye1[i], eye2[i]);
    return kResultOk;
}

/* ---- eye scores ---- */

int32_t measureEyeScore(FaceDetector *d, const int32_t box[4], int32_t roll, int32_t *history, int32_t *count)
{
    const SavedScan saved = saveScan(d);
    d->modelBase = 14;
    d->roll = roll;
    d->view = 0;
    const uint32_t scale = uint32_t(productQ10HalfUp(box[2], 74898));
    setScanScale(d, scale);
    const int32_t o = std::max(1, int32_t(((scale + 512) >> 10) >> 1));
    const int32_t x = box[0] + 1, y = box[1] + 1;
    const int32_t at[5][2] = {{x, y}, {x - o, y + o}, {x - o, y - o}, {x + o, y + o}, {x + o, y - o}};
    int32_t A = 0;
    for (auto &p : at) {
        const int answer = evaluateEyeWindow(d, p[0], p[1], 1);
        if (answer > 0)
            A += answer;
    }
    restoreScan(d, saved);
    int32_t score;
    if (A <= 220) {
        score = -1;
    } else {
        const int32_t a = productQ10HalfUp(std::max(1, A - 220), 102);
        if (d->flags & kDetectorFlagTracking)
            score = a > 81 ? ((a * 2700 - 218188) >> 10) + 50 : productQ10HalfUp(a, 650);
        else
            score = a > 61 ? ((a * 1300 - 78788) >> 10) + 50 : productQ10HalfUp(a, 850);
    }
    std::memmove(history + 1, history, sizeof(int32_t) * 2);
    history[0] = score;
    *count = std::min(*count + 1, 3);
    return score;
}

int32_t nearestRightAngle(int32_t roll)
{
    int32_t best = 0;
    for (int32_t angle : {0, 90, -90, 180}) {
        int32_t dist = std::abs(roll - angle), bestDist = std::abs(roll - best);
        dist = std::min(dist, 360 - dist);
        bestDist = std::min(bestDist, 360 - bestDist);
        if (dist < bestDist)
            best = angle;
    }
    return best;
}

} // namespace

/* ---- one face ---- */

namespace {

/* (x, y) turned by the roll about (cx, cy), rounded. */
void turnPoint(int32_t roll, int32_t cx, int32_t cy, int32_t *x, int32_t *y)
{
    const int64_t c = sinDeg(roll + 90), s = sinDeg(roll), dx = *x - cx, dy = *y - cy;
    *x = cx + int32_t((c * dx - s * dy + 0x8000) >> 16);
    *y = cy + int32_t((s * dx + c * dy + 0x8000) >> 16);
}

/* The two halves of the search bounds, cut along their longer side. */
void halvesOf(const int32_t bounds[4], int32_t halves[2][4])
{
    const bool across = bounds[2] >= bounds[3];
    for (int h = 0; h < 2; ++h)
        std::memcpy(halves[h], bounds, 16);
    const int axis = across ? 0 : 1, half = bounds[2 + axis] / 2;
    halves[0][2 + axis] = half;
    halves[1][axis] += half;
    halves[1][2 + axis] -= half;
}

/* Searches the halves of the bounds at the scales around E. */
void searchScales(EyeSearch &search, const int32_t bounds[4], int32_t E, int scaleCount, bool tracking)
{
    FaceDetector *d = search.d;
    const int32_t k = (scaleCount - 1) / 2;
    int32_t sizes[4];
    sizes[k] = E;
    for (int i = k - 1; i >= 0; --i)
        sizes[i] = productQ10HalfUp(sizes[i + 1], 1126);
    for (int i = k + 1; i < scaleCount; ++i)
        sizes[i] = productQ10HalfUp(sizes[i - 1], 931);
    int32_t halves[2][4];
    halvesOf(bounds, halves);
    search.bounds = bounds;
    d->modelBase = 14;
    d->view = 0;
    d->scoreThreshold = 100;
    for (int i = 0; i < scaleCount; ++i) {
        const uint32_t scale = uint32_t(productQ10HalfUp(sizes[i], 74898));
        const int32_t M = productQ10HalfUp(14, scale);
        if (M < 14)
            continue;
        const int32_t N = std::max(1, productQ10HalfUp(M, tracking ? 123 : 61)), O = std::max(1, N >> 1);
        setScanScale(d, scale);
        for (auto &half : halves)
            searchHalf(search, half, M, N, O);
    }
}

bool boxInside(const int32_t box[4], const int32_t bounds[4])
{
    return box[0] >= bounds[0] && box[1] >= bounds[1] && box[0] + box[2] <= bounds[0] + bounds[2] &&
           box[1] + box[3] <= bounds[1] + bounds[3];
}

} // namespace

int findEyes(FaceDetector *d, DetectedFace *face, const int32_t box[4], bool scores, bool allFaces)
{
    const bool tracking = d->flags & kDetectorFlagTracking;
    DetectedFacePublic &pub = face->report;
    const int32_t gap = rollDistance(pub.roll, face->creationRoll);
    const int32_t r = gap >= 16 && gap <= 19 ? pub.roll : face->creationRoll;
    const int scaleCount = tracking ? 3 : 4;
    const int32_t width = box[2], height = box[3];
    int32_t E = productQ10HalfUp(width, 341);
    std::memset(pub.firstEyeBox, 0, 16);
    std::memset(pub.secondEyeBox, 0, 16);
    const int32_t minFace = std::max<int32_t>(int32_t(d->working.minFaceSize), 14);
    if (!((E >= 14 && width >= 51) || width >= minFace)) {
        pub.eyeScore = pub.firstEyeScore = pub.secondEyeScore = -100;
        return -1;
    }
    const SavedScan saved = saveScan(d);
    d->roll = nearestRightAngle(face->creationRoll);
    const int32_t W = int32_t(d->frame.working.width), H = int32_t(d->frame.working.height);
    const bool axis = axisRoll(r);
    const bool direct = !allFaces && axis && E >= 14 && width >= 51 && d->frame.integral.data &&
                        d->frame.integral.width == d->frame.working.width &&
                        d->frame.integral.height == d->frame.working.height && boxInside(box, d->frame.searchRect);

    /* the searched part of the face: its width, 0.7 of its height from just above the box */
    const int32_t x0 = box[0];
    const int32_t y0 = box[1] + productQ10HalfUp(height, 280) - ((height * 717 + 512) >> 11);
    const int32_t cx = box[0] + width / 2, cy = box[1] + height / 2;
    const int32_t lighting = d->frame.prefilter.lightingClass;
    const bool resampled = !direct && ((width * height > 5202 && lighting != 1 && lighting != 2) || width < 51);
    const int32_t f = resampled ? 52224 / width : 1024;
    const int32_t step = resampled ? width * 1024 / 51 : 1024;
    const int32_t Wc = (productQ10HalfUp(width, f) + 1) & ~1;
    const int32_t Hc = (int32_t((int64_t(productQ10HalfUp(height, 717)) * f + 512) >> 10) + 1) & ~1;
    CropImage crop{};
    EyeHit *hits = static_cast<EyeHit *>(allocatorAlloc(d->allocator, sizeof(EyeHit) * kMaxEyeHits));
    if (!hits || (!direct && !allocateCrop(d, &crop, uint32_t(Wc), uint32_t(Hc)))) {
        allocatorFree(d->allocator, hits);
        restoreScan(d, saved);
        return kResultNoMemory;
    }
    EyeSearch search{d, hits, 0, 0, 0, 0, face->foundByTracking ? (tracking ? 800 : 1600) : 0, nullptr, nullptr};
    int32_t bounds[4], xs[4], ys[4];
    if (direct) {
        /* the frame itself, inside the searched part turned with the face */
        const int32_t h7 = productQ10HalfUp(height, 717);
        const int32_t cornersX[4] = {x0, x0 + width, x0 + width, x0}, cornersY[4] = {y0, y0, y0 + h7, y0 + h7};
        int32_t lowX = W, lowY = H, highX = 0, highY = 0;
        for (int i = 0; i < 4; ++i) {
            xs[i] = cornersX[i];
            ys[i] = cornersY[i];
            turnPoint(r, cx, cy, &xs[i], &ys[i]);
            lowX = std::min(lowX, xs[i]);
            lowY = std::min(lowY, ys[i]);
            highX = std::max(highX, xs[i]);
            highY = std::max(highY, ys[i]);
        }
        bounds[0] = std::max(lowX, 0);
        bounds[1] = std::max(lowY, 0);
        bounds[2] = std::min(highX, W) - bounds[0];
        bounds[3] = std::min(highY, H) - bounds[1];
        search.exclusionX = cx;
        search.exclusionY = box[1] + productQ10HalfUp(height, 614);
        turnPoint(r, cx, cy, &search.exclusionX, &search.exclusionY);
        search.exclusionRadius = productQ10HalfUp(height, 189);
        search.polygonX = xs;
        search.polygonY = ys;
        d->scanImage = &d->frame.working;
        d->scanIntegral = reinterpret_cast<const uint32_t *>(d->frame.integral.data);
        d->scanSquared = reinterpret_cast<const uint32_t *>(d->frame.squared.data);
        std::memcpy(d->scanRect, d->frame.searchRect, sizeof d->scanRect);
    } else {
        resampleRotated(&d->frame.working, &crop.plane, r, x0, y0, cx, cy, step);
        scanCrop(d, &crop, 0, 0);
        if (resampled)
            E = 17;
        const int32_t whole[4] = {0, 0, Wc, Hc};
        std::memcpy(bounds, whole, 16);
        search.exclusionX = Wc / 2;
        search.exclusionY = productQ10HalfUp(Wc, 614);
        search.exclusionRadius = productQ10HalfUp(Wc, 189);
    }
    searchScales(search, bounds, E, scaleCount, tracking);

    /* the eye boxes in search coordinates: the frame (direct) or the upright crop */
    const int32_t searchRoll = direct ? d->roll : 0;
    int32_t eye1[4], eye2[4];
    int rc = combineEyeHits(d, hits, search.hitCount, direct ? box : bounds, direct ? r : 0, eye1, eye2);
    if (rc == kResultOk && scores) {
        int32_t *boxes[2] = {eye1, eye2};
        int32_t *values[2] = {&pub.firstEyeScore, &pub.secondEyeScore};
        for (int e = 0; e < 2; ++e) {
            if (boxes[e][2] == 0)
                continue;
            const int32_t score =
                measureEyeScore(d, boxes[e], searchRoll, face->eyeScoreHistory[e], &face->eyeScoreCount[e]);
            *values[e] = score;
            if (score != -100)
                face->eyeTally[e] += score < 1 ? -1 : 1;
        }
    }
    if (rc == kResultOk) {
        int32_t *boxes[2] = {eye1, eye2};
        int32_t *outs[2] = {pub.firstEyeBox, pub.secondEyeBox};
        for (int e = 0; e < 2; ++e) {
            int32_t *eb = boxes[e], placed[4];
            if (eb[2] == 0)
                continue;
            if (direct) {
                std::memcpy(placed, eb, 16);
            } else {
                /* back from the crop: scale, turn about the face centre, place */
                const int32_t rr = r < 0 ? r + 360 : r;
                const int64_t c = sinDeg(rr + 90), s = sinDeg(rr);
                const int64_t vx = (int64_t(eb[0]) * 2 + eb[2]) * step / 2 + int64_t(x0 - cx) * 1024;
                const int64_t vy = (int64_t(eb[1]) * 2 + eb[3]) * step / 2 + int64_t(y0 - cy) * 1024;
                const int64_t ex = int64_t(cx) * 1024 + ((c * vx - s * vy + 0x8000) >> 16);
                const int64_t ey = int64_t(cy) * 1024 + ((s * vx + c * vy + 0x8000) >> 16);
                const int32_t size = int32_t(int64_t(eb[2]) * step >> 10);
                /* the corner rounded to nearest, not truncated (another step up and left) */
                placed[0] = roundQ10(int32_t(ex - int64_t(size) * 512));
                placed[1] = roundQ10(int32_t(ey - int64_t(size) * 512));
                placed[2] = placed[3] = size;
            }
            const int32_t whole[4] = {0, 0, W, H};
            if (placed[2] <= 0 || !boxInside(placed, whole))
                continue;
            std::memcpy(outs[e], placed, 16);
        }
    }
    restoreScan(d, saved);
    if (!direct)
        freeCrop(d, &crop);
    allocatorFree(d->allocator, hits);
    return rc;
}

/* ---- smoothing ---- */

namespace {

void centreOf(const int32_t box[4], int32_t *x, int32_t *y)
{
    *x = box[0] * 1024 + box[2] * 512;
    *y = box[1] * 1024 + box[3] * 512;
}

bool insideBox(const int32_t inner[4], const int32_t outer[4])
{
    return inner[0] >= outer[0] && inner[1] >= outer[1] && inner[0] + inner[2] <= outer[0] + outer[2] &&
           inner[1] + inner[3] <= outer[1] + outer[3];
}

} // namespace

void smoothEyeBoxes(FaceDetector *d, DetectedFace *face)
{
    DetectedFacePublic &pub = face->report;
    int32_t *eyes[2] = {pub.firstEyeBox, pub.secondEyeBox};
    const int32_t s = face->eyeDistance ? (face->eyeDistance * 512 + 512) >> 10
                                        : productQ10HalfUp(face->box[2], 232);
    const int32_t W = int32_t(d->frame.working.width), H = int32_t(d->frame.working.height);
    for (int32_t *eye : eyes) {
        if (eye[2] == 0)
            continue;
        const int32_t x = std::max(0, (eye[0] * 1024 + eye[2] * 512 - s * 512 + 512) >> 10);
        const int32_t y = std::max(0, (eye[1] * 1024 + eye[3] * 512 - s * 512 + 512) >> 10);
        eye[0] = x;
        eye[1] = y;
        eye[2] = std::min(s, W - x);
        eye[3] = std::min(s, H - y);
    }
    int32_t before[2][4];
    std::memcpy(before[0], eyes[0], 16);
    std::memcpy(before[1], eyes[1], 16);
    if (eyes[0][2] && eyes[1][2]) {
        for (int e = 0; e < 2; ++e) {
            int32_t(*ring)[4] = face->eyeRing[e];
            int32_t &count = face->eyeRingCount[e];
            if (count > 0 && overlapArea(ring[(count - 1) % kEyeBoxRing], eyes[e]) == 0)
                count = 0;
            std::memcpy(ring[count % kEyeBoxRing], eyes[e], 16);
            ++count;
            if (count < 2)
                continue;
            const int n = std::min(count, kEyeBoxRing);
            int64_t sum[4] = {0, 0, 0, 0};
            for (int i = 0; i < n; ++i)
                for (int k = 0; k < 4; ++k)
                    sum[k] += ring[(count - 1 - i) % kEyeBoxRing][k];
            int32_t average[4];
            for (int k = 0; k < 4; ++k)
                average[k] = int32_t(sum[k] / n);
            const uint64_t averageArea = uint64_t(uint32_t(average[2])) * uint32_t(average[3]);
            if (uint64_t(overlapArea(average, eyes[e])) * 1024 < averageArea * 614)
                for (int k = 0; k < 4; ++k)
                    eyes[e][k] = (3 * average[k] + eyes[e][k]) / 4;
            else
                std::memcpy(eyes[e], average, 16);
        }
    } else {
        face->eyeRingCount[0] = face->eyeRingCount[1] = 0;
    }
    if (eyes[0][2] && eyes[1][2] && overlapArea(eyes[0], eyes[1]) > 0) {
        std::memcpy(eyes[0], before[0], 16);
        std::memcpy(eyes[1], before[1], 16);
    } else {
        for (int e = 0; e < 2; ++e)
            if (eyes[e][2] && !insideBox(eyes[e], face->smoothed))
                std::memcpy(eyes[e], before[e], 16);
    }
    for (int e = 0; e < 2; ++e) {
        if (eyes[e][2] == 0) {
            pub.eyeCentres[2 * e] = pub.eyeCentres[2 * e + 1] = 0;
            continue;
        }
        centreOf(eyes[e], &pub.eyeCentres[2 * e], &pub.eyeCentres[2 * e + 1]);
    }
}

/* ---- all faces ---- */

/* Mean of the last min(count, 10) rolls of the ring, in whole degrees. The rolls are taken
 * relative to the newest, so that rolls on both sides of 180 (179 and -179) average near 180
 * rather than near 0. */
int32_t meanRoll(const int32_t *ring, int32_t count)
{
    const int n = std::min(count, kRollRing);
    const int32_t newest = ring[(count - 1) % kRollRing];
    int64_t sum = 0;
    for (int i = 0; i < n; ++i) {
        int32_t delta = ring[(count - 1 - i) % kRollRing] - newest;
        delta = delta > 180 ? delta - 360 : delta <= -180 ? delta + 360 : delta;
        sum += delta;
    }
    int32_t mean = newest + int32_t(((sum * 1024 / n) + 512) >> 10);
    return mean > 180 ? mean - 360 : mean <= -180 ? mean + 360 : mean;
}

int locateEyes(FaceDetector *d, DetectedFace *only)
{
    const uint32_t flags = d->flags;
    if (!(flags & (kDetectorFlagEyeScores | kDetectorFlagEyeBoxes)))
        return kResultUnsupported;
    const bool tracking = flags & kDetectorFlagTracking;
    DetectorListNode *head = &d->faces;
    for (DetectedFace *f = only ? only : firstFaceIn(head); f; f = only ? nullptr : nextFaceIn(head, f)) {
        if (f->view == 90 || f->view == -90)
            continue;
        const uint32_t w = uint32_t(f->box[2]);
        if (w < d->minAnalysisFaceSize || (d->maxAnalysisFaceSize && w > d->maxAnalysisFaceSize))
            continue;
        if (f->missedFrames > 2 || f->relativeMotion[0] > 205)
            continue;
        if (f->missedFrames >= 1) {
            const uint64_t area = uint64_t(uint32_t(f->box[2])) * uint32_t(f->box[3]);
            if (area * 100 > uint64_t(f->creationArea) * 120 || area * 100 < uint64_t(f->creationArea) * 80)
                continue;
        }
        const int32_t *box = tracking && !only && boxesSimilar(f->smoothed, f->box, 154) ? f->smoothed : f->box;
        if (d->alternateBuild)
            swapFrameBuffers(d);
        findEyes(d, f, box, flags & kDetectorFlagEyeScores, !only);
        if (d->alternateBuild)
            swapFrameBuffers(d);
        for (int e = 0; e < 2; ++e)
            f->eyeTally[e] = std::min(2, std::max(-2, f->eyeTally[e]));
        DetectedFacePublic &pub = f->report;
        int32_t angle, distance;
        eyeLineAngle(pub.firstEyeBox, pub.secondEyeBox, f->box, pub.roll, &angle, &distance);
        pub.roll = angle;
        f->eyeDistance = distance;
        smoothEyeBoxes(d, f);
        eyeLineAngle(pub.firstEyeBox, pub.secondEyeBox, f->box, pub.roll, &angle, &distance);
        pub.roll = angle;
        f->eyeDistance = distance;
        if (pub.firstEyeBox[2] == 0 || pub.secondEyeBox[2] == 0)
            f->rollCount = 0;
        f->rollRing[f->rollCount % kRollRing] = pub.roll;
        ++f->rollCount;
        if (f->rollCount >= 4)
            pub.roll = meanRoll(f->rollRing, f->rollCount);
        if (d->callback(d->callbackUser, 1, 1) != 0)
            return kResultCancelled;
    }
    return kResultOk;
}

/* ---- one region ---- */

int regionEyeScore(FaceDetector *d, const int32_t box[4], int32_t roll, int32_t *score)
{
    DetectedFace *face = static_cast<DetectedFace *>(allocatorAlloc(d->allocator, sizeof(DetectedFace)));
    if (!face)
        return kResultNoMemory;
    std::memset(face, 0, sizeof *face);
    std::memcpy(face->box, box, 16);
    std::memcpy(face->smoothed, box, 16);
    face->report.roll = face->creationRoll = roll;
    face->creationArea = uint32_t(box[2]) * uint32_t(box[3]);
    const int rc = findEyes(d, face, box, true, false);
    int32_t answer = 0;
    const DetectedFacePublic &pub = face->report;
    if (rc == kResultOk && std::min(box[2], box[3]) >= 42 && (pub.firstEyeBox[2] || pub.secondEyeBox[2])) {
        const int32_t a = pub.firstEyeBox[2] ? pub.firstEyeScore : 0, b = pub.secondEyeBox[2] ? pub.secondEyeScore : 0;
        if (a == 0 || b == 0)
            answer = a ? a : b;
        else if (a < 0 && b < 0)
            answer = -1;
        else
            answer = std::max(a, b);
    }
    allocatorFree(d->allocator, face);
    *score = std::min(answer, 100);
    return rc == kResultNoMemory ? kResultNoMemory : kResultOk;
}
