// The lower-face patch, the inner contour of the region below the eyes and the completion of
// landmark points 62..67.
//
// Divisions: patches and column filters (shared with the lower-face curves); the inner contour;
// the completion of the extra points.
//
// A patch is an upright grid of width x height bytes, row after row, sampled around a centre
// and turned by the face angle; it comes from the engine's allocator and the caller frees it.
#pragma once

#include <cstdint>

#include "facesdk/engine/face_records.h"
#include "facesdk/engine/image.h"
#include "facesdk/engine/shape_record.h"

struct FaceListEntry;
struct InnerEngine;

constexpr uint8_t kPatchFill = 128;  // value of samples that fall outside the image

// ---- Patches and column filters -------------------------------------------------------------

// Luma and second chroma (Cr) patches of size.x x size.y samples around centre (in units of
// step pixels), turned by the multiple of 5 degrees nearest to -angle: sample (j, i) reads the
// image at step x (centre + R((i - H/2) sin + (j - W/2) cos), centre + R((i - H/2) cos -
// (j - W/2) sin)), nearest sample. 0; 97 for bad input; -6 for a format without the planes;
// -3 (nothing kept).
int extractPatchPlanes(InnerEngine *inner, const EngineImage *image, VXL_POINT centre,
                       VXL_POINT size, int32_t angle, int32_t step, uint8_t **luma,
                       uint8_t **chroma);

// The same sampling of a grey image (format 0x40000001) into one patch. 0, 97, -3, -6.
int sampleRotatedPatch(InnerEngine *inner, const EngineImage *grey, VXL_POINT centre,
                       VXL_POINT size, int32_t angle, int32_t step, uint8_t **patch);

// Patch step for an image: the power of two nearest to max(width, height, 1024) / 1024.
int32_t patchStepForImage(const EngineImage &image);

// Rows 2..h-3 of out get the mean of five rows of src (out = sum / 5 over y - 2 .. y + 2); the
// other rows are 128.
void verticalMeanFilter(const uint8_t *src, int32_t w, int32_t h, uint8_t *out);

// Vertical edge response of column i: D[y] = raw(y, i) - 128 on every row, then for rows
// n .. h - n - 1 the kernel of n taps -1, one 0 and n taps +1 over filtered rows.
void columnKernelResponse(const uint8_t *raw, const uint8_t *filtered, int32_t w, int32_t h,
                          int32_t i, int32_t n, int32_t *response);

// ---- The inner contour ----------------------------------------------------------------------

// Per-column search of the inner edges of the dark region between the record's curves, in a
// w x h patch (scaledWidth: the face box width in patch samples). Writes w upper and lower rows.
// 0; 97 (fewer than 9 region pixels or unusable curves); -3; -4 (no mask buffer).
int traceDarkContour(EngineAllocator *allocator, int32_t scaledWidth, VXL_POINT patchSize,
                     const uint8_t *luma, const uint8_t *chroma, const FaceShapeRecord &curves,
                     uint8_t *mask, int32_t *upper, int32_t *lower);

// The inner contour of the face as two polylines of *count image points each, owned by the
// caller (allocator). 0; 97 no ready curves or too small a contour; -4; -3; -6.
int findInnerContour(InnerEngine *inner, const EngineImage *image, const FaceListEntry *entry,
                     const FaceShapeRecord *curves, int32_t *count, VXL_POINT **upper,
                     VXL_POINT **lower);

// Where the polylines cross the line between landmarks P (upper index) and Q (lower index);
// writes the upper and lower points that lie strictly between P and Q.
void pickContourPoints(const FaceWork &face, int32_t upperIndex, int32_t lowerIndex,
                       int32_t count, const VXL_POINT *upper, const VXL_POINT *lower,
                       VXL_POINT *upperPoint, VXL_POINT *lowerPoint);

// ---- Completion of points 62..67 ------------------------------------------------------------

// For each entry whose landmarks are usable and whose points 62..67 are all unset: points on
// the inner contour where it is found, the rest on a spline through the corners 32 and 38 and
// the found points. fx, fy (Q10) scale the entry's geometry to the image. 97 when no face
// answered 0; the first failing face's code ends the call.
int completeExtraLandmarks(InnerEngine *inner, FaceListEntry *list, uint32_t count, int32_t fx,
                           int32_t fy);

// Angle of the face for the lower-face patch (within -7..7 degrees counts as upright), the
// lower-face point and the patch size, all in image pixels. False when the eye boxes give no point.
bool lowerFaceGeometry(const FaceWork &face, int32_t *angle, VXL_POINT *point, VXL_POINT *size);
