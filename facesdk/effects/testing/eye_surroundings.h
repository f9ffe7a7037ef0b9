// Regions of the synthetic face that the eye and contour stage tests check changes against,
// and the release of fitted shape records between runs of one fixture.
//
// Header only: tests of this folder include it without linking anything.
#pragma once

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <vector>

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

// Skin with a dark iris of radius 4 in each eye, inside the landmark lids (5 pixels above and
// below the eye centre): a picture on which the change of an eye stage shows its mask alone.
// Faces are fitted on their own picture first and the picture is then painted with this one.
inline YuvColour skinWithSmallIrises(const SyntheticFace &face, int32_t x, int32_t y)
{
    double u = 0, v = 0;
    face.toFace(x, y, &u, &v);
    for (double side : {-1.0, 1.0})
        if (std::hypot(u - side * kEyeOffsetX, v - kEyeOffsetY) <= 4)
            return {45, 120, 135};
    return {170, 110, 150};
}

// On the eye opening between the landmark lids (corners 15 pixels from the eye centre, lids 5
// above and below), two pixels wider all round: the eye stages leave it alone.
inline bool onTheEyeOpening(const SyntheticFace &face, int32_t x, int32_t y)
{
    double u = 0, v = 0;
    face.toFace(x, y, &u, &v);
    for (double side : {-1.0, 1.0}) {
        const double du = std::abs(u - side * kEyeOffsetX), dv = std::abs(v - kEyeOffsetY);
        if (du <= 17 && dv <= 5 * (1 - du / 17) + 2)
            return true;
    }
    return false;
}

// The largest difference of a change map (one value per pixel, rows of `width`) between two
// neighbouring pixels, both off the eye openings: how hard the stroke with the largest step
// ends.
inline int32_t steepestStepOffTheEyes(const SyntheticFace &face, const std::vector<int32_t> &change,
                                      int32_t width, int32_t height)
{
    int32_t steepest = 0;
    for (int32_t y = 1; y < height; ++y)
        for (int32_t x = 1; x < width; ++x) {
            if (onTheEyeOpening(face, x, y))
                continue;
            const int32_t d = change[size_t(y) * width + x];
            if (!onTheEyeOpening(face, x - 1, y))
                steepest = std::max(steepest, std::abs(d - change[size_t(y) * width + x - 1]));
            if (!onTheEyeOpening(face, x, y - 1))
                steepest = std::max(steepest, std::abs(d - change[size_t(y - 1) * width + x]));
        }
    return steepest;
}
