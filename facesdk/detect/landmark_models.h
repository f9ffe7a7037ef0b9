/*
 * The landmark fitter's model parts: records of references to the library's static model
 * tables, one per detail level, and the shape models that the stages apply to point groups
 * and to the whole shape.
 *
 * Divisions: shape models; refinement tables; the four part records; loaders; the tables.
 *
 * Units: crop points in 1/1024 crop pixel, shape-model means in 1/65536 crop pixel, model-frame
 * points of the initial shape in model units (the mean shape's eye distance is 4728).
 */
#ifndef FACESDK_DETECT_LANDMARK_MODELS_H
#define FACESDK_DETECT_LANDMARK_MODELS_H

#include <cstdint>

#include "facesdk/base/allocator.h"

constexpr int kLandmarkPoints = 62;          /* fitted points */
constexpr int kTrackingPoints = 47;          /* points 0 .. 46 of tracking mode */
constexpr int kCoarsePoints = 37;            /* points of the coarse stage */
constexpr int kPatchFeatures = 72;           /* features of one point's patch */
constexpr int kCoarseFeatures = kCoarsePoints * kPatchFeatures;  /* 2664 */
constexpr int kAppearanceModes = 6;
constexpr int kCoarseShapeModes = 9;
constexpr int kWeakLearners = 35;            /* per refinement detector */
constexpr int kEyeListPoints = 16;
constexpr int kMouthListPoints = 12;

/* a / b rounded to nearest, halves away from zero; b > 0. The one rounding of the fitter's
 * fixed-point divisions. */
inline int64_t roundedDivide(int64_t a, int64_t b)
{
    return a >= 0 ? (a + b / 2) / b : -((-a + b / 2) / b);
}

/* ---- shape models ---- */

/* A mean of `points` points (x values, then y values, 1/65536 crop pixel) and `modes` modes of
 * 2 x points weights each (x weights first). */
struct ShapeModel {
    uint32_t points;
    uint32_t modes;
    const int32_t *mean;
    const int32_t *modeWeights;   /* modes x (2 x points) */
};

/* Applies the first `modesUsed` modes to the points (interleaved x, y in 1/1024 crop pixel) at
 * `indices` (null: points 0 .. model.points - 1): coefficients by projection, each clamped to
 * +-limits[m] when limits is non-null, and the points rebuilt from them. `coefficients`, when
 * given, receives the modesUsed coefficients. */
void applyShapeModel(const ShapeModel &model, uint32_t modesUsed, const int32_t *limits,
                     int32_t *points, const int *indices, int32_t *coefficients = nullptr);

/* Coefficient m of the projection alone (the same arithmetic as applyShapeModel). */
void projectShape(const ShapeModel &model, uint32_t modesUsed, const int32_t *points,
                  const int *indices, int32_t *coefficients);

/* ---- refinement tables ---- */

struct WeakLearner {
    uint16_t x, y;            /* rectangle offset from the detection window's top-left */
    uint16_t width, height;
    uint8_t type;             /* 1 .. 4; others are skipped */
    uint8_t padding[3];
    int32_t threshold;
    int32_t vote;
};
static_assert(sizeof(WeakLearner) == 20, "weak learners are 20-byte records");

/* One point's detector: its weak learners, bias and search window. */
struct PointDetector {
    WeakLearner learners[kWeakLearners];
    int32_t bias;
    int32_t window[4];        /* left extent, upper extent, width, height (pixels) */
};

/* The eye list (16 points) and mouth list (12 points) of one crop size. */
struct RefinementTables {
    const PointDetector *eyes;    /* kEyeListPoints */
    const PointDetector *mouth;   /* kMouthListPoints */
};

extern const int kEyeListIndices[kEyeListPoints];

/* ---- part records ---- */

/* A feature-subset regressor of the coarse stage's branch B. */
struct SubsetRegressor {
    uint32_t pointCount;          /* points it moves */
    uint32_t featureCount;        /* features it reads */
    const int32_t *pointIndices;  /* coarse point indices */
    const int32_t *featureIndices;
    const int16_t *weights;       /* [feature][point][x, y]: featureCount x pointCount x 2 */
    int32_t divisor;              /* 16, or 256 for the 13-point regressor */
};

/* Per-point experts of a stage. */
struct PointExperts {
    const uint8_t *kinds;             /* bin-mask set per point */
    const uint8_t *searcherFlags;     /* 0: local search; else patch regression */
    const uint8_t *activeFlags;       /* null: every point is active */
    const int32_t *searchRecords;     /* 72 weights per searched point */
    const int64_t *searchWindows;     /* low 32 bits horizontal, high vertical half-range */
    const int32_t *regressionRecords; /* 144 weights per regressed point */
};

struct ModelPart1 {
    const int32_t *meanShape;         /* 62 model-frame points, interleaved */
    const int32_t *deformationA;      /* 124 values per unit of pose hint A / 10 */
    const int32_t *deformationB;
    int32_t eyeDistance;              /* 4728 */
    int32_t eyeMouthDistance;         /* 5197 */
    const int32_t *referenceShape;    /* type-1 crop: 62 interleaved points, 1/65536 pixel */
    ShapeModel coarseShape;           /* 37 points, nine modes */
    int32_t referenceCentre[2];       /* 1/1024 crop pixel */
    const int32_t *coefficientLimits; /* nine */
    const int32_t *incrementLimits;   /* six */
    const int32_t *appearance;        /* 7 rows of 2664: mean << 16, then six modes */
    const int32_t *incrementRegressor;/* 6 x 2664 */
    PointExperts experts;             /* 37 points */
    ShapeModel group1;                /* coarse points 18 .. 27, four modes */
    ShapeModel group2;                /* coarse points 28 .. 36, six modes */
    SubsetRegressor subsets[4];
    int32_t unusedConstants[2];
};

struct ModelPart2 {
    ShapeModel shape;                 /* 62 points, 24 modes */
    const int32_t *shapeLimits;       /* 24 */
    ShapeModel eyes;                  /* 12 points, 10 modes */
    ShapeModel mouth;                 /* 12 points, 6 modes */
    PointExperts experts;             /* 62 points */
    const int32_t *referenceShape;    /* type-2 crop */
    const int16_t *trackWeights[2];   /* cascade regressors: [point][x, y][3384] */
    const int16_t *trackBiases[2];    /* [point][x, y] */
    const int16_t *scoreWeights;      /* 3384 */
    int32_t scoreBias;
    const RefinementTables *refinement;  /* detectors of the 128-pixel crop */
    int32_t unusedConstants[2];
};

struct ModelPart3 {
    ShapeModel shape;                 /* 36 modes */
    const int32_t *shapeLimits;
    ShapeModel eyes;                  /* 16 modes */
    ShapeModel mouth;                 /* 12 modes */
    ShapeModel nose;                  /* 8 points, 6 modes */
    PointExperts experts;
    const int32_t *referenceShape;    /* type-3 crop */
    const RefinementTables *refinement;  /* detectors of the 192-pixel crop */
    int32_t unusedConstants[2];
};

struct ModelPart4 {
    ShapeModel eyes;                  /* 10 modes */
    ShapeModel mouth;                 /* 12 modes */
    PointExperts experts;             /* regression only */
    const int32_t *referenceShape;    /* type-4 crop */
    const RefinementTables *refinement;  /* detectors of the 320-pixel crop */
    int32_t unusedConstants[2];
};

/* The model parts a fitter uses; null where its detail level does not load a part. */
struct LandmarkModels {
    const ModelPart1 *part1;
    const ModelPart2 *part2;
    const ModelPart3 *part3;
    const ModelPart4 *part4;
};

/* ---- loaders ---- */

/* Each allocates its record and fills it with references to the static tables; null when the
 * record cannot be allocated (or the tables cannot be prepared). */
ModelPart1 *loadModelPart1(EngineAllocator *allocator);
ModelPart2 *loadModelPart2(EngineAllocator *allocator);
ModelPart3 *loadModelPart3(EngineAllocator *allocator);
ModelPart4 *loadModelPart4(EngineAllocator *allocator);

/* Refinement tables of crop size 128, 192 or 320; null for other sizes. */
const RefinementTables *refinementTables(int cropSize);

/* Point groups of the group models. */
extern const int kEyeGroup[12];     /* 12 .. 23 */
extern const int kMouthGroup[12];   /* 32 .. 43 */
extern const int kNoseGroup[8];     /* 24 .. 31 */

#endif
