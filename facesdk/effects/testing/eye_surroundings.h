// Regions of the synthetic face that the eye and contour stage tests check changes against,
// and the release of fitted shape records between runs of one fixture.
//
// Header only: tests of this folder include it without linking anything.
#pragma once

#include <algorithm>
#include <climits>
#include <cmath>

#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/shape_record.h"
#include "facesdk/engine/testing/synthetic_face.h"

// Within `radius` pixels of either eye's centre.
inline bool nearEyes(const SyntheticFace &face, int32_t x, int32_t y, double radius = 70)
{
    for (double side : {-1.0, 1.0}) {
        double ex = 0, ey = 0;
        face.toImage(side * kEyeOffsetX, kEyeOffsetY, &ex, &ey);
        if (std::hypot(x - ex, y - ey) < radius)
            return true;
    }
    return false;
}

// The box of the contour points 32..43.
inline EngineRect contourPointsBox(const SyntheticFace &face)
{
    int32_t minX = INT32_MAX, minY = INT32_MAX, maxX = INT32_MIN, maxY = INT32_MIN;
    for (int i = 32; i <= 43; ++i) {
        minX = std::min(minX, face.points[i].x), maxX = std::max(maxX, face.points[i].x);
        minY = std::min(minY, face.points[i].y), maxY = std::max(maxY, face.points[i].y);
    }
    return {minX, minY, maxX - minX + 1, maxY - minY + 1};
}

// Frees the inner engine's shape records so that the next fit starts afresh.
inline void forgetShapeRecords(InnerEngine *inner)
{
    freeShapeRecords(inner->allocator, inner->shapeRecords, inner->shapeRecordCount);
    inner->shapeRecords = nullptr;
    inner->shapeRecordCount = 0;
}
