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

// ---- Building the anchors -------------------------------------------------------------------
//
// The pass builds a face-skin mask of the whole image at a working size of at most 320 pixels,
// then each face's anchor from its eye boxes, then drops anchors that collide with another face.

struct FaceListEntry;
struct RegionList;

// The warp parts of all faces' records (found by id) and bit 0x40 of their prepared masks.
// 0, 97 (no face built), or a negative code of the mask build or of a face.
int buildWarpAnchors(InnerEngine *inner, EngineImage *image, FaceWork *faces, int32_t count);

// A width x height grey mask (dense rows, allocated here; the caller releases it with
// imageRelease) with 1 on the skin regions that hold a face's eye midpoint. 0; 97 no such
// region or no skin at all; -3; -4 zero size; -6 a format without a skin classifier; or a
// region routine's code.
int buildFaceSkinMask(InnerEngine *inner, const EngineImage *image, const FaceWork *faces,
                      int32_t count, int32_t width, int32_t height, EngineImage *mask);

// Mark skin pixels of the rectangle of a working colour image with 1 in the mask (same size).
// 0; 97 when none is marked; -4 (planar) or -8 (packed) for formats they do not take.
int classifySkinPlanar(const EngineImage *image, const EngineRect *rect, EngineImage *mask);
int classifySkinPacked(const EngineImage *image, const EngineRect *rect, EngineImage *mask);

// Keeps valid only the regions whose box holds a face's eye midpoint (faces scaled to the
// mask's size from the image's).
void selectFaceRegions(RegionList *list, int32_t maskWidth, int32_t maskHeight,
                       int32_t imageWidth, int32_t imageHeight, const FaceWork *faces,
                       int32_t count);

// One face's anchor (image coordinates) measured on the mask. 0; 97; -4; or the measurement's
// code.
int buildWarpAnchor(InnerEngine *inner, const EngineImage *image, const FaceListEntry *entry,
                    const EngineImage *mask, WarpAnchor *anchor);

// Extents left (negative) and right of the eye midpoint, image pixels. 0; 97; -3; -6.
int measureWarpExtents(InnerEngine *inner, const EngineImage *image, const FaceWork &face,
                       const EngineImage *mask, int32_t *left, int32_t *right);

// The face box widened to four eye distances and turned by the angle between the eye boxes.
void warpAnchorQuad(const FaceWork &face, VXL_POINT quad[4]);

// 1 when the face's anchor quad collides with another face of the array, else 0.
int checkWarpAnchorOverlap(InnerEngine *inner, const FaceWork *face, const FaceWork *faces,
                           int32_t count, const VXL_POINT quad[4]);
