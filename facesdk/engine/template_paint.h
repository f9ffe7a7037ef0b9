// Template mesh painting: every triangle of a mesh's face-side vertices is scanned row by row,
// each pixel is traced back through its triangle into the template mask, and the pixel moves
// toward a target value by mask x strength. Also the two helpers with which callers pick the
// target: the mesh's box on the face and a luma percentile.
//
// Divisions: painting; target helpers; the internal steps (exposed for tests).
//
// The destination's first plane is painted: one byte a pixel for grey, planar and semi-planar
// formats, the luma byte of each pixel for packed 4:2:2.
#pragma once

#include <cstdint>

#include "facesdk/engine/face_records.h"
#include "facesdk/engine/image.h"
#include "facesdk/engine/template_mesh.h"

struct InnerEngine;

// ---- Painting -------------------------------------------------------------------------------

// Paints the mesh's mask onto the destination, the face's point buffer holding the vertices in
// image pixels. Each pixel p becomes (w (target - p) + 256 p) >> 8 with w = mask x strength
// >> 8 (strength 256: full). 0; 97 for an empty destination, a missing mesh or face, or a
// mesh without vertices or triangles; -6 for another format; -3 when the span array cannot be
// allocated.
int paintTemplateMesh(InnerEngine *inner, EngineImage *destination, const TemplateMesh *mesh,
                      const FaceWork *face, int32_t target, int32_t strength);

// ---- Target helpers -------------------------------------------------------------------------

// Box of the mesh's face-side vertices, the minimum corner clamped to 0 and the maximum to the
// image's last column and row.
void meshBoundingBox(const EngineImage *image, const TemplateMesh *mesh, const FaceWork *face,
                     EngineRect *out);

// One more than the first byte value at which `percent` percent of the rectangle's pixels are
// reached (255 when only the last value reaches it, 0 for an empty share). 0; -4 for a bad
// image or a rectangle not inside it; -6 for a format that cannot be painted; -3.
int lumaPercentile(InnerEngine *inner, const EngineImage *image, const EngineRect *rect,
                   int32_t percent, int32_t *value);

// ---- Internal steps -------------------------------------------------------------------------

// A triangle as three points.
struct MeshTriangle {
    VXL_POINT p[3];
};

// First and last x of the row inside the triangle. 1 when the row meets it.
int triangleRowSpan(const MeshTriangle &face, int32_t row, int32_t *firstX, int32_t *lastX);

// Where edge a -> b crosses the row segment (xMin, y) .. (xMax, y). 1 when they cross.
int edgeRowCrossing(VXL_POINT a, VXL_POINT b, int32_t xMin, int32_t xMax, int32_t y,
                    int32_t *x);

// The template position (16.16) of pixel p of the face triangle.
void mapToTemplate16(const MeshTriangle &face, const MeshTriangle &templ, VXL_POINT p, int32_t *u,
                     int32_t *v);

// The mask's value at the template position of pixel p (bilinear, 1/1024), written to *value
// unless the face triangle has no area. 1 when p lies strictly inside the triangle.
int sampleTemplateAt(const MeshTriangle &face, const MeshTriangle &templ, VXL_POINT p,
                     const EngineImage *mask, uint8_t *value);
