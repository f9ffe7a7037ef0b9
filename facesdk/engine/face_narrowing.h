// Face narrowing on the warp grid: for every face of the current beautify run with a ready warp
// anchor, grid nodes inside the anchor's quadrilateral and below the eye line take source
// positions further out from the vertical line through the eye midpoint, so the resampled
// cheeks and jaw come closer to it. The work is done in the face's upright frame (the eye line
// turned horizontal, in 5-degree steps).
//
// The shift of a node is profile(e) x weight(t): a horizontal profile over each half of the
// face, rising from 0 at the midpoint to its peak at 10/16 of the side and back to 0, and a
// vertical weight that is 0 at the eye line, full at two thirds of the affected height
// (5/2 eye distances) and 0 at its end. The profile's amplitude, about its largest shift in
// 1/1024 pixel, is eye distance x 160 x strength / 256.
//
// The deformation also sets the inner engine's warp margin: the rows by which the deformation
// may move content vertically, which apply needs for its bands.
#pragma once

#include <cstdint>

#include "facesdk/engine/face_records.h"
#include "facesdk/engine/warp_anchor.h"

struct InnerEngine;

// Deforms the planes (columns x rows source positions, 1/256 pixel) for every face of the run.
// Starts the warp margin at 0. A table that cannot be allocated stops the faces after it; the
// grid keeps what was done.
void deformGridForFaces(InnerEngine *inner, int32_t *planeX, int32_t *planeY, int32_t columns,
                        int32_t rows);

// Narrows one face (run image coordinates) within the quad, with the extents from the eye
// midpoint. 0; 97 when the face box or eye boxes are unusable or the eyes coincide; -3 when a
// table cannot be allocated.
int narrowFaceOnGrid(InnerEngine *inner, const FaceWork *face, int32_t *planeX, int32_t *planeY,
                     int32_t columns, int32_t rows, int32_t leftExtent, int32_t rightExtent,
                     const VXL_POINT quad[4]);

// Maps an anchor onto a face box: `target` holds the box's width, height and centre on entry;
// its extents, quad, warpReady and built are written. An anchor measured on an empty box maps
// to one that is not ready.
void mapWarpAnchor(const WarpAnchor *anchor, WarpAnchor *target);

// n i32 from the inner engine's allocator: the side profile resampled from its 17 knots at the
// amplitude (capped at n x 1024 / 3). Null when it cannot be allocated or n < 1.
int32_t *warpSideProfile(InnerEngine *inner, int32_t n, int32_t amplitude);

// 256 i32 from the allocator: vertical weights 0 .. 1023 resampled from their 16 knots. Null
// when they cannot be allocated.
int32_t *warpVerticalWeights(InnerEngine *inner);

// 1 when the point lies strictly on the inner side of all four edges taken in corner order.
int pointInQuad(VXL_POINT point, const VXL_POINT quad[4]);
