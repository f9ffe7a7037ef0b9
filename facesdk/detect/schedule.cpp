/*
 * Tracking schedule, primary face and the geometric helpers the passes share.
 *
 * Divisions: schedule; primary face; tracked sizes; squares and the eye line; polygons;
 * crops.
 */
#include "facesdk/detect/faces.h"

#include "facesdk/base/bilinear.h"
#include "facesdk/detect/frame.h"
#include "facesdk/detect/window.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

/* ---- schedule ---- */

void adaptScanInterval(FaceDetector *detector, bool allowGrow)
{
    DetectorSettings &working = detector->working;
    const DetectorSettings &configured = detector->configured;
    if (detector->scanModeBits == 0)
        detector->scanModeBits = detector->scanOptions;
    if (detector->timingMissing) {
        if (!allowGrow)
            working.framesPerFullScan = configured.framesPerFullScan;
        working.perFrameShare = configured.perFrameShare;
        detector->extraRolls = 0;
        detector->frameTimeCount = 1;
        working.boxSmoothing = configured.boxSmoothing;
        detector->timingInUse = 0;
        return;
    }
    const uint64_t a = detector->frameTimeAverage, b = detector->lastFrameInterval;
    bool changed = false;
    if (a < b * 80 / 100) {
        if (working.framesPerFullScan < 2) {
            if (detector->extraRolls < detector->distinctRolls) {
                ++detector->extraRolls;
                changed = true;
            } else if (!(detector->scanModeBits & 0x2)) {
                detector->scanModeBits |= 0x2;
                changed = true;
            }
        } else {
            if (--working.framesPerFullScan == 1)
                working.perFrameShare = 1;
            changed = true;
        }
    } else if (a >= b) {
        if (detector->scanModeBits & 0x2) {
            detector->scanModeBits &= ~0x2u;
            changed = true;
        } else if (detector->extraRolls > 0) {
            --detector->extraRolls;
            changed = true;
        } else if (allowGrow && working.framesPerFullScan < configured.framesPerFullScan) {
            if (++working.framesPerFullScan > 1)
                working.perFrameShare = configured.perFrameShare;
            changed = true;
        }
    }
    if (changed)
        detector->frameTimeCount = 1;
    if (detector->extraRolls > 0) {
        working.framesPerFullScan = 1;
        working.perFrameShare = 1;
    }
    detector->scanOptions = detector->scanModeBits;
}

/* ---- primary face ---- */

void choosePrimaryFace(FaceDetector *detector)
{
    DetectorListNode *head = &detector->faces;
    const int32_t count = recountFaces(detector);
    if (detector->modeChanged || !(detector->flags & kDetectorFlagTracking) || detector->passesRun == 0 || count == 0) {
        detector->primaryId = 0;
        detector->primaryHold = 20;
    }
    detector->modeChanged = 0;
    if (count == 0)
        return;
    const int64_t W = detector->frame.working.width, H = detector->frame.working.height;
    const int64_t half = std::max(W / 2, H / 2), R = half * half;
    DetectedFace *winner = nullptr;
    int64_t bestValue = 0, bestDistance = 0;
    bool primaryPresent = false;
    for (DetectedFace *f = firstFaceIn(head); f; f = nextFaceIn(head, f)) {
        /* the box next-face reports for this frame; the public record still holds the box of
         * the last walk */
        const int32_t *b = f->smoothed;
        const int64_t dx = b[0] + b[2] / 2 - W / 2, dy = b[1] + b[3] / 2 - H / 2;
        const int64_t distance = dx * dx + dy * dy;
        const int64_t value = int64_t(b[2]) * f->report.score + R - distance;
        if (!winner || value > bestValue || (value == bestValue && value > 0 && distance < bestDistance)) {
            winner = f;
            bestValue = value;
            bestDistance = distance;
        }
        primaryPresent |= detector->primaryId != 0 && f->report.id == detector->primaryId;
    }
    if (count != detector->lastFaceCount || !primaryPresent) {
        detector->primaryId = winner->report.id;
        detector->lastFaceCount = count;
        detector->primaryHold = 20;
    } else if (winner->report.id == detector->primaryId) {
        detector->primaryHold = 20;
    } else if (--detector->primaryHold <= 0) {
        detector->primaryId = winner->report.id;
        detector->primaryHold = 20;
    }
}

/* ---- tracked sizes ---- */

void trackedSizeRange(const FaceDetector *detector, uint32_t *minSize, uint32_t *maxSize)
{
    uint32_t low = 0x7fffffff, high = 0;
    bool established = false;
    DetectorListNode *head = const_cast<DetectorListNode *>(&detector->faces);
    for (DetectedFace *f = firstFaceIn(head); f; f = nextFaceIn(head, f)) {
        low = std::min<uint32_t>(low, uint32_t(std::min(f->box[2], f->box[3])));
        high = std::max<uint32_t>(high, uint32_t(std::max(f->box[2], f->box[3])));
        if (f->missedFrames > 1) {
            const uint32_t side = isqrt32(f->creationArea);
            if (side < low)
                low = side;
            else if (side > high)
                high = side;
        }
        established |= f->missedFrames <= 5 && f->framesTracked >= 2;
    }
    if (!established) {
        low = 0x7fffffff;
        high = 0;
    }
    *minSize = low;
    *maxSize = high;
}

/* ---- squares and the eye line ---- */

void squareAroundFace(int32_t x0, int32_t y0, int32_t width, int32_t height, const int32_t box[4], int32_t out[4])
{
    const int32_t g = (box[2] + box[3]) >> 2;
    const int32_t cx = std::min(std::max(box[0] + box[2] / 2, x0), width - 2);
    const int32_t cy = std::min(std::max(box[1] + box[3] / 2, y0), height - 2);
    int32_t r = g;
    r = std::min(r, cx - x0);
    r = std::min(r, cy - y0);
    r = std::min(r, width - 1 - cx);
    r = std::min(r, height - 1 - cy);
    r = std::max(r, 0);
    const int32_t side = 2 * g == (box[2] + box[3]) >> 1 ? 2 * r : 2 * r + 1;
    out[0] = cx - r;
    out[1] = cy - r;
    out[2] = side;
    out[3] = side;
}

namespace {

struct SineTable {
    int32_t values[91];
    SineTable()
    {
        for (int k = 0; k <= 90; ++k)
            values[k] = sinDeg(k);
    }
};

const int32_t *sineTable()
{
    static const SineTable table;
    return table.values;
}

} // namespace

void eyeLineAngle(const int32_t first[4], const int32_t second[4], const int32_t ref[4], int32_t expectedRoll,
                  int32_t *angle, int32_t *distance)
{
    const int32_t dx = (second[0] + second[2] / 2) - (first[0] + first[2] / 2);
    const int32_t dy = (second[1] + second[3] / 2) - (first[1] + first[3] / 2);
    const uint64_t D = uint64_t(int64_t(dx) * dx + int64_t(dy) * dy);
    const int32_t length = int32_t(isqrt64(D));
    int32_t a = 0;
    if (D != 0) {
        const uint64_t v2 = uint64_t(int64_t(dy) * dy);
        const uint32_t ratio = uint32_t(std::min<uint64_t>(v2 * 65536 / D, 0xffffffffu));
        const int32_t acute = nearestIndex(sineTable(), 90, int32_t(isqrt32(ratio) << 8));
        if (dx >= 0)
            a = dy >= 0 ? acute : -acute;
        else
            a = dy >= 0 ? 180 - acute : -(180 - acute);
        if (a == -180)
            a = 180;
    }
    if (rollDistance(a, expectedRoll) > 20 || length <= (ref[2] * 256 + 512) >> 10) {
        *angle = expectedRoll;
        *distance = 0;
        return;
    }
    *angle = a;
    *distance = length;
}

void eyeAnchoredBox(const FaceDetector *detector, int32_t out[4], const DetectedFace *face, const int32_t box[4],
                    int32_t factor)
{
    std::memcpy(out, box, 16);
    const int32_t L = face->eyeDistance;
    if (!(face->lumaMean > 100 && face->lumaMean < 200) || face->report.firstEyeBox[2] == 0 ||
        face->report.secondEyeBox[2] == 0 || L == 0)
        return;
    const int32_t a = (L * (factor ? factor : 2028) + 512) >> 10;
    const int32_t u = (L * 724 + 512) >> 10;
    int32_t m = face->report.roll % 360;
    if (m < 0)
        m += 360;
    const int32_t e = m <= 45 ? 45 - m : 405 - m;
    const int32_t *eye = face->report.firstEyeBox;
    const int32_t ex = eye[0] + eye[2] / 2, ey = eye[1] + eye[3] / 2;
    const int32_t halfSide = (a * 512 + 512) >> 10;
    out[0] = std::max(0, int32_t((int64_t(u) * sinDeg(e)) >> 16) + ex - halfSide);
    out[1] = std::max(0, ey + int32_t((int64_t(u) * sinDeg(e + 90)) >> 16) - halfSide);
    out[2] = std::min(a, int32_t(detector->frame.working.width) - out[0] - 1);
    out[3] = std::min(a, int32_t(detector->frame.working.height) - out[1] - 1);
}

/* ---- polygons ---- */

int insideConvexPolygon(int32_t x, int32_t y, int count, const int32_t *xs, const int32_t *ys)
{
    int crossings = 0;
    for (int j = 0; j < count; ++j) {
        const int p = j == 0 ? count - 1 : j - 1;
        const int32_t ya = ys[j], yb = ys[p];
        if (!((ya <= y && y < yb) || (yb <= y && y < ya)))
            continue;
        const int64_t edgeX = int64_t(xs[j]) * 1024 + int64_t(y - ya) * (xs[p] - xs[j]) * 1024 / (yb - ya);
        if (int64_t(x) * 1024 < edgeX && ++crossings > 1)
            return 0;
    }
    return crossings == 1;
}

/* ---- crops ---- */

int cropRotated(const DetectorPlane *src, const int32_t rect[4], DetectorPlane *dst, int32_t angle)
{
    const int32_t n = int32_t(dst->width), m = int32_t(dst->height);
    if (n <= 0 || m <= 0 || !dst->data)
        return 0;
    const int64_t c = sinDeg(angle + 90), s = sinDeg(angle); /* Q16 */
    const int64_t centreX = (int64_t(rect[0]) << 16) + (int64_t(rect[2]) << 15);
    const int64_t centreY = (int64_t(rect[1]) << 16) + (int64_t(rect[3]) << 15);
    const int32_t W = int32_t(src->width), H = int32_t(src->height);
    for (int32_t i = 0; i < m; ++i) {
        for (int32_t j = 0; j < n; ++j) {
            const int64_t u = int64_t(j - n / 2) * rect[2] * 256 / n; /* 1/256 pixel */
            const int64_t v = int64_t(i - m / 2) * rect[3] * 256 / m;
            const int64_t X = centreX + ((c * u + s * v) >> 8);
            const int64_t Y = centreY + ((c * v - s * u) >> 8);
            const int64_t px = X >> 16, py = Y >> 16;
            uint8_t value = 0;
            if (px > 0 && py > 0 && px <= W - 2 && py <= H - 2) {
                const int64_t fx = X & 0xffff, fy = Y & 0xffff;
                const uint8_t *p = src->data + size_t(py) * W + size_t(px);
                value = uint8_t(bilinearQ16Truncated(p[0], p[1], p[W], p[W + 1], fx, fy));
            }
            dst->data[size_t(i) * n + j] = value;
        }
    }
    return 1;
}

int resizeNearest(const DetectorPlane *src, DetectorPlane *dst)
{
    if (!dst->width || !dst->height)
        return 1;
    const uint64_t sx = uint64_t(src->width) * 65536 / dst->width, sy = uint64_t(src->height) * 65536 / dst->height;
    for (uint32_t j = 0; j < dst->height; ++j)
        for (uint32_t i = 0; i < dst->width; ++i)
            dst->data[size_t(j) * dst->width + i] =
                src->data[size_t((j * sy) >> 16) * src->width + size_t((i * sx) >> 16)];
    return 1;
}
