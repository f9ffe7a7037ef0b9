// Face narrowing on the warp grid: the per-run pass over the faces, the per-face deformation,
// and its tables.
#include "facesdk/engine/face_narrowing.h"

#include <algorithm>
#include <cstdlib>

#include "facesdk/base/integer_math.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/inner_engine.h"

namespace {

constexpr int32_t kSideKnots[17] = {0,   102, 184, 256, 358, 512, 666, 799, 881,
                                    973, 1024, 942, 870, 758, 481, 256, 0};
constexpr int32_t kVerticalKnots[16] = {0,   61,  123, 184, 246, 358,  492,  645,
                                        768, 840, 891, 942, 983, 1004, 1014, 1024};
constexpr int32_t kWeightEntries = 256;
// The vertical weight peaks at 682/1024 of the affected height.
constexpr int32_t kWeightPeak = 682;

// A value in 1/256 pixel rounded to the nearest whole pixel.
int32_t nearestPixel(int32_t v) { return (((v + (v >> 31)) >> 7) + 1) >> 1; }

// g / 2^20 rounded.
int32_t shiftOf(int64_t g)
{
    return int32_t(((((g >> 10) + (g < 0 ? -1 : 0)) >> 9) + 1) >> 1);
}

// (u, v) relative to (cx, cy), turned by the 16.16 sine and cosine.
VXL_POINT turnAbout(int32_t cx, int32_t cy, int32_t u, int32_t v, int32_t s, int32_t c)
{
    return {cx + roundQ16(u * c - v * s), cy + roundQ16(v * c + u * s)};
}

}  // namespace

int pointInQuad(VXL_POINT p, const VXL_POINT quad[4])
{
    for (int k = 0; k < 4; ++k) {
        const VXL_POINT &a = quad[k], &b = quad[(k + 1) & 3];
        if ((b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x) <= 0)
            return 0;
    }
    return 1;
}

int32_t *warpSideProfile(InnerEngine *inner, int32_t n, int32_t amplitude)
{
    if (n < 1 || n > (1 << 20))
        return nullptr;
    auto *table = static_cast<int32_t *>(allocatorAlloc(inner->allocator, uint32_t(n) * 4));
    if (!table)
        return nullptr;
    const int64_t capped = std::min<int64_t>(amplitude, int64_t(n) * 1024 / 3);
    int32_t knots[17];
    for (int k = 0; k < 17; ++k)
        knots[k] = int32_t((kSideKnots[k] * capped) >> 10);
    const int64_t step = 16384 / int64_t(n);
    for (int32_t j = 0; j < n; ++j) {
        const int64_t at = j * step;
        const int64_t q = at >> 10, fraction = at & 1023;
        table[j] = knots[q] + int32_t((fraction * (knots[q + 1] - knots[q])) >> 10);
    }
    return table;
}

int32_t *warpVerticalWeights(InnerEngine *inner)
{
    auto *table = static_cast<int32_t *>(allocatorAlloc(inner->allocator, kWeightEntries * 4));
    if (!table)
        return nullptr;
    for (int32_t i = 0; i < kWeightEntries; ++i) {
        const int32_t e = 60 * i, q = e >> 10;
        table[i] = kVerticalKnots[q] + (((e & 1023) * (kVerticalKnots[q + 1] - kVerticalKnots[q])) >> 10);
    }
    return table;
}

void mapWarpAnchor(const WarpAnchor *anchor, WarpAnchor *target)
{
    if (anchor->boxWidth == 0 || anchor->boxHeight == 0) {
        target->warpReady = 0;
        target->built = anchor->built;
        return;
    }
    // The factors are ratios of two stored sizes: the products are formed in 64 bits and held
    // to the face coordinate limit.
    const int64_t fx = int64_t(target->boxWidth) * 1024 / anchor->boxWidth;
    const int64_t fy = int64_t(target->boxHeight) * 1024 / anchor->boxHeight;
    target->leftExtent = scaleFaceCoordinateQ10(anchor->leftExtent, fx);
    // The right extent scales with the height factor, as the anchors in stored blobs expect.
    target->rightExtent = scaleFaceCoordinateQ10(anchor->rightExtent, fy);
    for (int k = 0; k < 4; ++k) {
        target->quad[k].x = std::clamp(target->centreX + scaleFaceCoordinateQ10(int64_t(anchor->quad[k].x) - anchor->centreX, fx),
                                       -kFaceCoordinateLimit, kFaceCoordinateLimit);
        target->quad[k].y = std::clamp(target->centreY + scaleFaceCoordinateQ10(int64_t(anchor->quad[k].y) - anchor->centreY, fy),
                                       -kFaceCoordinateLimit, kFaceCoordinateLimit);
    }
    target->warpReady = anchor->warpReady;
    target->built = anchor->built;
}

int narrowFaceOnGrid(InnerEngine *inner, const FaceWork *face, int32_t *planeX, int32_t *planeY,
                     int32_t columns, int32_t rows, int32_t leftExtent, int32_t rightExtent,
                     const VXL_POINT quad[4])
{
    const int32_t width = inner->imageWidth, height = inner->imageHeight;
    const EngineRect &box = face->box;
    if (!faceRegionValid(&box, &face->eye1Box, &face->eye2Box, width, height) ||
        face->eye1Box.width == 0 || face->eye1Box.height == 0)
        return kResultNothingToDo;

    int32_t angle = face->roll;
    rectCentreAngle(face->eye1Box, face->eye2Box, face->roll, &angle, nullptr);
    const int32_t cx = box.x + box.width / 2, cy = box.y + box.height / 2;
    const int32_t k = turnIndex5(angle);
    const int32_t s = sineTable5Fixed[k], c = cosineTable5Fixed[k];

    // Eye centres in the upright frame.
    auto uprightCentre = [&](const EngineRect &eye) {
        return turnAbout(cx, cy, eye.x + eye.width / 2 - cx, eye.y + eye.height / 2 - cy, s, c);
    };
    const VXL_POINT eye1 = uprightCentre(face->eye1Box), eye2 = uprightCentre(face->eye2Box);
    const int32_t eyeLine = eye1.y;
    const int32_t midX = (eye1.x + eye2.x) / 2;
    const int32_t ex = eye2.x - eye1.x, ey = eye2.y - eye1.y;
    // The squared distance is summed in 32 bits; a sum that wraps negative counts as 0.
    const int32_t squared = int32_t(uint32_t(ex) * uint32_t(ex) + uint32_t(ey) * uint32_t(ey));
    const int32_t distance = int32_t(isqrt64(uint64_t(std::max(squared, 0))));

    const int32_t reach = 3 * distance / 4;
    const int32_t leftEdge = std::max(2, std::min(midX - reach, midX + leftExtent));
    const int32_t leftCount = midX - leftEdge + 1;
    const int32_t rightEdge = std::max(2, midX + std::max(reach, rightExtent));
    const int32_t rightCount = rightEdge - midX + 1;

    const int32_t strength = inner->settings.warpStrength;
    const int32_t amplitude = int32_t(uint32_t((distance * 2560 / 16) * strength) >> 8);
    // The rows this face may move content by: its largest shift times the turn's |sine|. The
    // margin is the largest over the faces, whatever their order.
    const int32_t shiftRows = ((amplitude >> 9) + 1) >> 1;
    inner->warpMargin =
        std::max(inner->warpMargin, (shiftRows * std::abs(sineTable5[k]) / 100) & ~1);
    if (distance == 0)
        return kResultNothingToDo;  // no eye distance: no affected height to divide by

    // A side of no columns (an eye midpoint at the image's left edge) shifts nothing.
    int32_t *leftProfile = leftCount > 0 ? warpSideProfile(inner, leftCount, amplitude) : nullptr;
    int32_t *rightProfile = rightCount > 0 ? warpSideProfile(inner, rightCount, amplitude) : nullptr;
    int32_t *weights = warpVerticalWeights(inner);
    if ((leftCount > 0 && !leftProfile) || (rightCount > 0 && !rightProfile) || !weights) {
        allocatorFree(inner->allocator, leftProfile);
        allocatorFree(inner->allocator, rightProfile);
        allocatorFree(inner->allocator, weights);
        return kResultNoMemory;
    }

    // The side with fewer columns is scaled down by the ratio of the counts.
    int32_t leftScale = 1024, rightScale = 1024;
    if (leftCount > 0 && rightCount > 0) {
        leftScale = leftCount * 1024 / rightCount;
        if (leftScale > 1024) {
            leftScale = 1024;
            rightScale = rightCount * 1024 / leftCount;
        }
    }
    const int32_t affectedHeight = 5 * distance / 2;
    const int32_t kBack = angleIndex5(angle);
    const int32_t sBack = sineTable5Fixed[kBack], cBack = cosineTable5Fixed[kBack];

    const int64_t nodes = int64_t(columns) * rows;
    for (int64_t n = 0; n < nodes; ++n) {
        const int32_t px = nearestPixel(planeX[n]), py = nearestPixel(planeY[n]);
        if (px < 0 || py < 0 || px >= width || py >= height || !pointInQuad({px, py}, quad))
            continue;
        VXL_POINT u = turnAbout(cx, cy, px - cx, py - cy, s, c);
        if (u.y <= eyeLine)
            continue;
        const int32_t t = (u.y - eyeLine) * 1024 / affectedHeight;
        int32_t w = t < kWeightPeak ? t * 1024 / kWeightPeak : (1024 - t) * 1024 / (1024 - kWeightPeak);
        w = std::clamp(w, 0, 1024);
        const int32_t index = ((w * 255 >> 9) + 1) >> 1;
        const int32_t e = u.x - midX;
        if (e < 0 && -e < leftCount)
            u.x -= shiftOf(int64_t((int64_t(leftProfile[-e]) * leftScale) >> 10) * weights[index]);
        else if (e > 0 && e < rightCount)
            u.x += shiftOf(int64_t((int64_t(rightProfile[e]) * rightScale) >> 10) * weights[index]);
        const VXL_POINT back = turnAbout(cx, cy, u.x - cx, u.y - cy, sBack, cBack);
        planeX[n] = back.x * 256;
        planeY[n] = back.y * 256;
    }
    allocatorFree(inner->allocator, leftProfile);
    allocatorFree(inner->allocator, rightProfile);
    allocatorFree(inner->allocator, weights);
    return kResultOk;
}

void deformGridForFaces(InnerEngine *inner, int32_t *planeX, int32_t *planeY, int32_t columns,
                        int32_t rows)
{
    inner->warpMargin = 0;
    if (!inner->faceList || inner->workingWidth <= 0 || inner->workingHeight <= 0)
        return;
    const int32_t fx = int32_t(uint32_t(inner->imageWidth) * 1024u / uint32_t(inner->workingWidth));
    const int32_t fy = int32_t(uint32_t(inner->imageHeight) * 1024u / uint32_t(inner->workingHeight));
    for (uint32_t i = 0; i < inner->faceListCount; ++i) {
        const FaceListEntry &entry = inner->faceList[i];
        if (!entry.inUse)
            continue;
        FaceWork face{};
        scaleFaceRecord(entry.face, &face, fx, fy);
        const FaceShapeRecord *record = findShapeRecord(inner, face.id);
        if (!record || record->warpReady != 1)
            continue;
        const WarpAnchor anchor = readWarpAnchor(*record);
        WarpAnchor mapped{};
        mapped.boxWidth = face.box.width;
        mapped.boxHeight = face.box.height;
        mapped.centreX = face.box.x + face.box.width / 2;
        mapped.centreY = face.box.y + face.box.height / 2;
        mapWarpAnchor(&anchor, &mapped);
        if (mapped.warpReady != 1)
            continue;
        const int result = narrowFaceOnGrid(inner, &face, planeX, planeY, columns, rows,
                                            mapped.leftExtent, mapped.rightExtent, mapped.quad);
        if (result != kResultOk && result != kResultNothingToDo)
            return;
    }
}
