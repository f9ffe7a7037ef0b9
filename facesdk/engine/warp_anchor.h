// The warp anchor of a face's shape record as the warp mesh reads it: the record's warp part
// (offsets 276 to 339) as a record of its own, the lookup of a face's shape record, and the
// image rectangle that a face's anchor covers.
#pragma once

#include <cstdint>

#include "facesdk/engine/face_records.h"
#include "facesdk/engine/image.h"
#include "facesdk/engine/shape_record.h"

struct InnerEngine;

// The warp part of a FaceShapeRecord, field for field.
struct WarpAnchor {
    int32_t leftExtent;   // image pixels left of the eye midpoint (negative)
    int32_t rightExtent;  // image pixels right of the eye midpoint
    int32_t boxWidth;     // face box width when the anchor was built
    int32_t boxHeight;    // face box height then
    int32_t centreX;      // face box x + width / 2 then
    int32_t centreY;      // face box y + height / 2 then
    VXL_POINT quad[4];    // corners: left top, right top, right bottom, left bottom
    int32_t warpReady;    // 1 when the anchor is valid and collides with no other face
    int32_t built;        // 1 after a successful build
};
static_assert(sizeof(WarpAnchor) == 64, "the warp part spans record offsets 276 to 339");

WarpAnchor readWarpAnchor(const FaceShapeRecord &record);
void writeWarpAnchor(FaceShapeRecord *record, const WarpAnchor &anchor);

// The inner engine's shape record of the face with this id, or null.
FaceShapeRecord *findShapeRecord(InnerEngine *inner, int32_t faceId);

// The image rectangle that holds the face's anchor quad mapped onto the face's current box.
// With non-zero steps (1/256 pixel) the box is snapped outward to multiples of the steps; it is
// then clipped to the run image. An empty rectangle (all zero) when the face has no shape record
// with a ready anchor; a width or height of 0 or less when the quad lies outside the image.
void warpAnchorSourceRect(InnerEngine *inner, int32_t xStep, int32_t yStep, const FaceWork *face,
                          EngineRect *out);
