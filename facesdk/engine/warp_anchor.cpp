// The warp anchor as the warp mesh reads it.
#include "facesdk/engine/warp_anchor.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "facesdk/engine/fixed_scale.h"
#include "facesdk/engine/inner_engine.h"

static_assert(offsetof(FaceShapeRecord, warpReady) == offsetof(FaceShapeRecord, warpPart) + 56 &&
                  offsetof(FaceShapeRecord, warpBuilt) == offsetof(FaceShapeRecord, warpPart) + 60,
              "the warp part, warpReady and built follow each other");

namespace {

// A value in 1/256 units rounded to a whole number, halves away from zero.
int32_t roundShift8(int32_t v) { return (((v + (v >> 31)) >> 7) + 1) >> 1; }

// Bounds of a coordinate snapped outward to multiples of step / 256.
int32_t snapUp(int32_t v, int32_t step)
{
    const int32_t scaled = v * 256;
    return roundShift8(scaled + step - scaled % step);
}

int32_t snapDown(int32_t v, int32_t step)
{
    const int32_t scaled = v * 256;
    return roundShift8(scaled - scaled % step);
}

}  // namespace

WarpAnchor readWarpAnchor(const FaceShapeRecord &record)
{
    WarpAnchor anchor;
    std::memcpy(&anchor, record.warpPart, sizeof record.warpPart);
    anchor.warpReady = record.warpReady;
    anchor.built = record.warpBuilt;
    return anchor;
}

void writeWarpAnchor(FaceShapeRecord *record, const WarpAnchor &anchor)
{
    std::memcpy(record->warpPart, &anchor, sizeof record->warpPart);
    record->warpReady = anchor.warpReady;
    record->warpBuilt = anchor.built;
}

FaceShapeRecord *findShapeRecord(InnerEngine *inner, int32_t faceId)
{
    if (!inner || !inner->shapeRecords)
        return nullptr;
    for (uint32_t i = 0; i < inner->shapeRecordCount; ++i)
        if (inner->shapeRecords[i].faceId == faceId)
            return &inner->shapeRecords[i];
    return nullptr;
}

void warpAnchorSourceRect(InnerEngine *inner, int32_t xStep, int32_t yStep, const FaceWork *face,
                          EngineRect *out)
{
    *out = {};
    const FaceShapeRecord *record = face ? findShapeRecord(inner, face->id) : nullptr;
    if (!record || !record->warpReady)
        return;
    const WarpAnchor anchor = readWarpAnchor(*record);
    // An anchor measured on an empty box cannot be mapped onto another.
    if (anchor.boxWidth == 0 || anchor.boxHeight == 0)
        return;
    const EngineRect &box = face->box;
    const int32_t fx = int32_t(int64_t(box.width) * 1024 / anchor.boxWidth);
    const int32_t fy = int32_t(int64_t(box.height) * 1024 / anchor.boxHeight);
    const int32_t cx = box.x + box.width / 2, cy = box.y + box.height / 2;
    int32_t xmin = INT32_MAX, xmax = INT32_MIN, ymin = INT32_MAX, ymax = INT32_MIN;
    for (const VXL_POINT &point : anchor.quad) {
        const int32_t x = cx + roundQ10((point.x - anchor.centreX) * fx);
        const int32_t y = cy + roundQ10((point.y - anchor.centreY) * fy);
        xmin = std::min(xmin, x);
        xmax = std::max(xmax, x);
        ymin = std::min(ymin, y);
        ymax = std::max(ymax, y);
    }
    if (xStep > 0) {
        xmax = snapUp(xmax, xStep);
        xmin = snapDown(xmin, xStep);
    }
    if (yStep > 0) {
        ymax = snapUp(ymax, yStep);
        ymin = snapDown(ymin, yStep);
    }
    out->x = std::max(xmin, 0);
    out->y = std::max(ymin, 0);
    out->width = std::min(inner->imageWidth - 1, xmax) - out->x + 1;
    out->height = std::min(inner->imageHeight - 1, ymax) - out->y + 1;
}
