/*
 * Frame preparation: working images, integral images, skin classes, the scale list and the
 * scan grid, and the small rectangle helpers the passes share.
 *
 * Divisions: working images and the skin prefilter; the integration family and luma remap;
 * skin classes; the scale list; frame and search-region preparation; rectangle helpers.
 */
#ifndef FACESDK_DETECT_FRAME_H
#define FACESDK_DETECT_FRAME_H

#include "facesdk/detect/detector_object.h"

#include <cstdint>

/* ---- working images and the skin prefilter ---- */

/* Mode 0, 1 or 2 and its threshold with flag 0x2; mode 0 and threshold 0 without it. */
void setSkinPrefilter(FaceDetector *detector, int mode);
/* Frees every working image of both sets and clears the pointers. */
void releaseWorkingImages(FaceDetector *detector);
/* Exchanges the set in use with the alternate set. */
void swapFrameBuffers(FaceDetector *detector);
/* Points the working images of both sets back at the detector's own blocks: a detection may work
 * on a caller's pixels in place, and keeps no pointer to them once it returns. */
void forgetCallerPixels(FaceDetector *detector);

/* ---- the integration family and luma remap ----
 * Each member fills the rectangle rect = {x0, y0, w, h} of u32 buffers whose row stride is the
 * source's width: the value at (x, y) is the row's running sum from x0 to x plus the value
 * above. The first row of the rectangle starts afresh unless continueFromAbove is set, in which
 * case every row adds the row above it and h - 1 rows are computed. */

/* The remap table of a lighting class 1..4, or null for class 0 (and any other value). */
const uint8_t *lumaRemapTable(int lightingClass);

void integrateSumAndSquares(const uint8_t *luma, uint32_t width, uint32_t *sum, uint32_t *squares,
                            const int32_t rect[4], const uint8_t *remap, int squaresShift, bool continueFromAbove);
void integrateSums(const uint8_t *luma, uint32_t width, uint32_t *sum, const int32_t rect[4], const uint8_t *remap,
                   bool continueFromAbove);
void integrateSquares(const uint8_t *luma, uint32_t width, uint32_t *squares, const int32_t rect[4],
                      const uint8_t *remap, int squaresShift, bool continueFromAbove);
void integrateSkinMap(const uint8_t *skinMap, uint32_t width, uint32_t *skinIntegral, const int32_t rect[4],
                      bool continueFromAbove);

/* Builds the integral and squared integral of the set in use over rect with the remap table
 * of its lighting class; combined uses the one-pass member. */
void buildIntegralImages(FaceDetector *detector, const int32_t rect[4], bool continueFromAbove, bool combined);

/* ---- skin classes ---- */

/* Classifies the chroma of the prepared skin region (the whole frame, or the tracking region)
 * into classes 0, 1 and 2 when the prefilter is enabled. Answers 1. */
int buildSkinMap(FaceDetector *detector, bool wholeFrame);

/* ---- the scale list ---- */

void buildScaleList(FaceDetector *detector, int32_t width, int32_t height);

/* ---- frame and search-region preparation ---- */

/* Prepares the detector for one image: resets a still detector, sets the grid steps, remakes
 * the working images for a new size, converts the image. 0, -3, -4 or the conversion's code. */
int prepareFrame(FaceDetector *detector, const DetectorFrameInfo *frameInfo, const DetectorImage *image,
                 ProgressCallback callback, void *user);
/* The centred search rectangle of the working image for the search percentages. */
void searchRectangle(const FaceDetector *detector, int32_t out[4]);
/* Builds the integrals (and the skin integral) over rect. 0 when rect does not lie inside the
 * working image (nothing done), else 1. */
int prepareSearchRegion(FaceDetector *detector, const int32_t rect[4], bool spread);

/* ---- rectangle helpers ---- */

/* Moves `in` inside the bounds {x0, y0, width, height}; a rectangle sticking out is cut. */
void clipRect(int32_t x0, int32_t y0, int32_t width, int32_t height, const int32_t in[4], int32_t out[4]);
/* Area of the intersection of two rectangles; 0 when they do not overlap. */
uint32_t overlapArea(const int32_t a[4], const int32_t b[4]);
/* Index of v in the ascending values[0..last], or of its nearest neighbour (the lower one only
 * when strictly nearer); -1 when last is negative. */
int nearestIndex(const int32_t *values, int last, int32_t v);

#endif
