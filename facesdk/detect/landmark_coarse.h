/*
 * The coarse landmark stage: 37 points on a 96 x 96 crop with model part 1, combining an
 * appearance model of 2664 patch features (projected and reconstructed as three jobs on three
 * single workers), a shape model with two group models, and per-point experts.
 *
 * Divisions: point sets; appearance check; the stage.
 */
#ifndef FACESDK_DETECT_LANDMARK_COARSE_H
#define FACESDK_DETECT_LANDMARK_COARSE_H

#include <cstdint>

#include "facesdk/detect/landmark.h"

/* ---- point sets ---- */

/* The 37 coarse points from the 62 (means truncated toward zero). */
void fineToCoarse(const int32_t *fine, int32_t *coarse);
/* The 62 points rebuilt from the 37. */
void coarseToFine(const int32_t *coarse, int32_t *fine);

/* ---- appearance check ---- */

struct CoarseWorkspace {
    uint16_t features[kCoarseFeatures];
    int32_t reconstruction[kCoarseFeatures];
    int16_t residual[kCoarseFeatures];
    int32_t increments[6];
    int32_t coefficients[6];
    int32_t points[2 * kCoarsePoints];
    int32_t modelPoints[2 * kCoarsePoints];
    int32_t score;
};

/* Projection onto the six appearance modes and reconstruction, each split in thirds over the
 * three workers; fills reconstruction, residual, coefficients and score. 0; -1 when a job
 * cannot be posted. */
int appearanceCheck(SingleWorker *const workers[3], CoarseWorkspace *space, const ModelPart1 &part);

/* ---- the stage ---- */

/* One coarse pass (0, 1 or 2) on the 96-pixel crop. 0; -1 when a worker cannot be created;
 * -3 when the workspace cannot be allocated. */
int coarseStage(LandmarkTrack *track, const void *part, const uint8_t *crop, int32_t *points, int pass);

#endif
