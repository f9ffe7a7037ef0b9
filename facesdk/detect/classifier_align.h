/*
 * Face alignment for the classifier: the plausibility check of a face's geometry, the
 * least-squares similarity from a fixed template to the face's eye or landmark points, and the
 * resampling of the grey image through it into the 48 x 48 crop with a radial filter whose
 * radius grows with the scale.
 *
 * Divisions: templates and records; geometry check; similarity; resampling; alignment.
 *
 * Coordinates are Q10 (value x 1024). A transform is [a, b, tx, c, d, ty] in Q10 and maps a
 * crop point (u, v) to the image point (a u + b v + tx, c u + d v + ty).
 */
#ifndef FACESDK_DETECT_CLASSIFIER_ALIGN_H
#define FACESDK_DETECT_CLASSIFIER_ALIGN_H

#include <cstdint>

#include "facesdk/base/image_record.h"

struct ClassifierFace;

constexpr int kCropSide = 48;               /* side of the aligned crop, pixels */
constexpr int kTemplatePoints = 47;         /* landmark points the template matches by index */
constexpr int kWarpFilterGaussian = 5;      /* the one filter warpCrop offers */

struct AlignPoint {
    int32_t x;   /* Q10 */
    int32_t y;   /* Q10 */
};

/* Eye places in the crop and the 47-point landmark template (Q10 crop pixels). */
extern const AlignPoint kEyeTemplate[2];
extern const AlignPoint kLandmarkTemplate[kTemplatePoints];
/* round(16384 exp(-3.5 i / 256)), i = 0 .. 256: the filter in squared distance / radius^2. */
extern const int16_t kWarpFilterTable[257];

/* An 8-bit grey image for the resampler; every field non-zero. */
struct WarpImage {
    uint32_t width;
    uint32_t height;
    uint32_t pixelStride;   /* bytes */
    uint32_t rowStride;     /* bytes */
    uint8_t *pixels;
};

/* ---- operations ---- */

/* 0; -101 when the eyes or landmark span (points 12 to 21) lie closer than 10 pixels, or a face
 * with neither has a box side below 20; -4 for such a face with a roll outside -179 .. 180. */
int checkFaceGeometry(const ClassifierFace *face);

/* The least-squares similarity from `count` template points to `points` (Q10). 0; -4 when the
 * count modulo 256 is below 2 or a pointer is null. */
int estimateSimilarity(uint32_t count, const AlignPoint *templatePoints, const AlignPoint *points,
                       int32_t out[6]);

/* Fills dst by sampling src through the transform. 0; -4 for a null pointer, a zero dimension
 * or stride, or src and dst on the same bytes; -6 for a filter other than 5. */
int warpCrop(const int32_t transform[6], int filter, const WarpImage *src, WarpImage *dst);

/* The 48 x 48 crop (row stride 48) of the face in the grey image: from its first 47 landmark
 * points when it has them, else from its eyes. 0; -4 for a face without either; -1 when the
 * estimation or the resampling fails. */
int alignFaceCrop(uint8_t *crop, const EngineImage *image, const ClassifierFace *face);

#endif
