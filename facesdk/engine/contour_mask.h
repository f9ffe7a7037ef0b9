// Contour region masks and the fixed-point cubic spline.
//
// Landmarks 32..43 of a face form a closed contour with corners 32 and 38; points 62..64 and
// 65..67 lie on the inner edge of the region. The mask builders draw, at a reduced scale, two
// soft strokes along the outer contour or the filled band between outer and inner contour,
// every contour being a cubic spline through its points.
//
// Divisions: the vertex record; the spline; the two mask builders.
#pragma once

#include <cstdint>

#include "facesdk/engine/image.h"
#include "facesdk/engine/template_mesh.h"

struct FaceListEntry;
struct InnerEngine;

// ---- Vertex record --------------------------------------------------------------------------

// A TemplateMesh with a zeroed 250-point buffer and the vertex list 32..43; no mask and no
// triangles. 0, or -3 (nothing kept).
int contourRegionVertexList(InnerEngine *inner, TemplateMesh *record);

// ---- Spline ---------------------------------------------------------------------------------

// Second derivatives (1/65536 per pixel, clamped to -7208..7209) of the cubic spline through n
// knots with strictly increasing abscissas, a free start and end slope s (16.16). Arrays hold
// knots 1..n at indices 0..n-1. 0; -4 for n < 2 or abscissas that do not increase; -3 when the
// working array cannot be allocated.
int cubicSplineCoefficients(InnerEngine *inner, const int64_t *x, const int64_t *y, int n,
                            int64_t s, int64_t *y2);

// The spline's value at v, rounded to a whole pixel; the interval is found by bisection.
int32_t cubicSplineValue(const int64_t *x, const int64_t *y, const int64_t *y2, int n, int64_t v);

constexpr int64_t kSplineSecondMin = -7208;
constexpr int64_t kSplineSecondMax = 7209;

// ---- Mask builders --------------------------------------------------------------------------

// A grey mask of the working size divided by the region's scale (1, 2 or 4, more for very large
// working images): two strokes along the outer contour (stroke) or the band between the outer
// and inner contours (fill), 255 on 0, then smoothed around the region with 3 x 3 box blurs.
// The entry's landmark buffer holds points 32..43 and 62..67 in working-image pixels. The mask
// belongs to the caller, also when a later step fails. 0; -4 for a null mask or an empty
// reduced size; -3; or the smoothing's code.
int buildContourStrokeMask(InnerEngine *inner, const FaceListEntry *entry,
                           const TemplateMesh *record, EngineImage *mask);
int buildContourFillMask(InnerEngine *inner, const FaceListEntry *entry,
                         const TemplateMesh *record, EngineImage *mask);
