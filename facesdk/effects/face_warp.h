// Stage 0x40: narrows the lower part of every face with a ready warp anchor by resampling the
// run image through a warp mesh whose grid is sized from the smallest face.
#pragma once

#include <cstdint>

#include "facesdk/engine/face_records.h"
#include "facesdk/engine/warp_mesh.h"

struct InnerEngine;

// Grid nodes along the image's longer side for the smallest in-use face side m of the working
// image (0 when there is none): 50 for m 0, else 17 x shorter working side / m within 20 .. 50.
uint32_t warpGridNodes(uint32_t smallestSide, uint32_t workingWidth, uint32_t workingHeight);

// The mesh configuration for an image: the nodes along the longer side, the other side's
// nodes in proportion (unsigned division) but never fewer than a mesh needs, bilinear mode.
WarpMeshConfig faceWarpMeshConfig(uint32_t nodes, int32_t width, int32_t height);

// The stage. 0 when the image was warped; 97 when there was nothing to warp or the warp did not
// succeed; -1 when the mesh could not be made.
int applyFaceWarp(InnerEngine *inner, FaceWork *faces, int32_t count);
