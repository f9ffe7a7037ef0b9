/*
 * The landmark fitter's stage parts: patch features, the per-point experts (local search and
 * patch regression), the point refinement by boosted detectors on an integral image, the fine
 * stages of levels 2 to 4 and the tracking stage.
 *
 * Divisions: patch features; per-point experts; refinement; stages.
 *
 * Points are interleaved (x, y) pairs in 1/1024 crop pixel; crops are size x size bytes.
 */
#ifndef FACESDK_DETECT_LANDMARK_STAGES_H
#define FACESDK_DETECT_LANDMARK_STAGES_H

#include <cstdint>

#include "facesdk/detect/landmark.h"

/* ---- patch features ---- */

/* 72 features of the 12 x 12 patch whose top-left pixel is 5 pixels left of and above the
 * point's pixel; pixels outside the crop read 0. `tracking` writes each cell's bins in reverse
 * mask order and scales the point's values to a total of 256 instead of 65536. */
void patchFeatures(const uint8_t *crop, int size, int32_t x, int32_t y, int kind, bool tracking,
                   uint16_t *out);
/* Features of `count` points (kinds per point), 72 each. */
void pointFeatures(const uint8_t *crop, int size, const int32_t *points, int count,
                   const uint8_t *kinds, bool tracking, uint16_t *out);

/* Orientation class 0 .. 23 of a gradient: 15-degree classes counter-clockwise from +x. */
int orientationClass(int32_t dx, int32_t dy);

/* ---- per-point experts ---- */

/* Moves the point to the cheapest candidate of its window (searcher flag 0). `maxHalfWidth`
 * limits the horizontal half-range in pixels (0: no limit). */
void localSearch(const uint8_t *crop, int size, int32_t *point, int kind, const int32_t *weights,
                 int64_t window, int maxHalfWidth);
/* Moves the point by minus the regressed offset, each coordinate clamped to +-limit pixels. */
void patchRegression(const uint16_t *features, const int32_t *weights, int32_t limit,
                     int32_t *point);
/* The experts of `count` points: search records numbered over the searched points, regression
 * records over the (active, when `regressionActiveOnly`) regressed points. */
void runPointExperts(const uint8_t *crop, int size, int32_t *points, int count,
                     const PointExperts &experts, const uint16_t *features, int32_t stepLimit,
                     bool regressionActiveOnly, bool searchAllowed, int maxHalfWidth);

/* ---- refinement ---- */

/* Refines the eye list and/or the mouth list of the points with the crop size's detectors.
 * `within` (x0, y0, x1, y1), when given, holds every pixel the detectors' windows read; the
 * crop is read nowhere else. 0; -4 for a null crop or a size other than 128, 192, 320; -3 when
 * the integral image cannot be allocated (the points stay). */
int refinePoints(const uint8_t *crop, int size, int32_t *points, bool eyes, bool mouth,
                 EngineAllocator *allocator, const RefinementTables *tables = nullptr,
                 const int32_t *within = nullptr);

/* ---- stages ---- */

/* Level 2, 3 and 4 stages (part: ModelPart2, 3, 4). 0 or -3. */
int fineStage2(LandmarkTrack *track, const void *part, const uint8_t *crop, int32_t *points, int pass);
int fineStage3(LandmarkTrack *track, const void *part, const uint8_t *crop, int32_t *points, int pass);
int fineStage4(LandmarkTrack *track, const void *part, const uint8_t *crop, int32_t *points, int pass);
struct CropMaker;   /* landmark_fit.h */
/* fineStage4 on a crop that `maker` makes as the stage reads it: the same points as fineStage4
 * on the whole crop. 0; -3 when a part cannot be made (the points are then not to be used). */
int fineStage4Made(LandmarkTrack *track, const void *part, const uint8_t *crop, int32_t *points,
                   const CropMaker &maker);
/* Tracking stage on a 128-pixel crop with model part 2, 47 points. 0 or -3. */
int trackingStage(LandmarkTrack *track, const void *part, const uint8_t *crop, int32_t *points, int pass);

#endif
