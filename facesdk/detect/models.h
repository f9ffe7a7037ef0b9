/*
 * The detector's cascade model set: which trained model serves which view, roll, model base
 * and variant, and the fixed shape every model's data must have. The trained values live in
 * model_data.cpp; a model whose data is missing or malformed is left out of the tables, so
 * its windows are rejected.
 *
 * Divisions: model identities and shapes; trained data; the set.
 */
#ifndef FACESDK_DETECT_MODELS_H
#define FACESDK_DETECT_MODELS_H

#include "facesdk/detect/detector_object.h"
#include "facesdk/detect/features.h"

#include <cstdint>

/* ---- model identities and shapes ---- */

enum DetectorModelId : int {
    kModelFrontalUpright0,   /* view 0, base 22, rolls 0, 90, 180, -90; variant 0 */
    kModelFrontalUpright1,   /* same, variant 1 */
    kModelFrontalDiagonal0,  /* view 0, base 22, rolls 45, 135, -135, -45 */
    kModelFrontalDiagonal1,
    kModelFrontalThirty0,    /* view 0, base 22, rolls 30, 60, 120, 150 and their negatives */
    kModelFrontalThirty1,
    kModelFrontalSmall0,     /* view 0, base 14, every roll */
    kModelFrontalSmall1,
    kModelHalfProfile0,      /* views +-45, base 22, rolls 0, 90, 180, -90 */
    kModelHalfProfile1,
    kModelProfile0,          /* views +-90, base 22, rolls 0, 90, 180, -90 */
    kModelProfile1,
    kModelFaceVerify,        /* verification and the face score */
    kModelEye,               /* eye search, base 14 */
    kModelEyeVerify,         /* eye scores, base 14 */
    kModelCount
};

/* A model is two groups: rectangle features (kinds 9..13, 24-byte records), then block
 * patterns (kinds 0..8, 16-byte records). */
struct DetectorModelShape {
    uint32_t rectangles;     /* records of the first group */
    uint32_t blocks;         /* records of the second group */
};
DetectorModelShape detectorModelShape(DetectorModelId id);

/* ---- trained data ---- */

/* The trained values of one model: both groups, the offset (the last record's threshold) and
 * the Q16 score scale. Counts of 0 mean the model has not been supplied. */
struct DetectorModelData {
    const RectFeatureRecord *rectangles;
    uint32_t rectangleCount;
    const BlockFeatureRecord *blocks;
    uint32_t blockCount;
    int32_t offset;
    uint32_t scale;
};
const DetectorModelData &detectorModelData(DetectorModelId id);

/* 1 when the data has the model's shape, its feature kinds lie in their groups' ranges and
 * every record has its vote table. */
bool detectorModelValid(DetectorModelId id, const DetectorModelData &data);

/* ---- the set ---- */

/* Where the tables of a set live; it must outlive the set. */
struct CascadeTableStorage {
    CascadeGroup groups[kModelCount][2];
    CascadeModel models[kModelCount];
    const CascadeModel *present[kModelCount];                   /* null when not supplied */
    const CascadeModel *tables[kViewCount][kCascadeTableSize];  /* by view, roll, base, variant */
};

/* The tables of the given models (kModelCount entries; invalid ones are left out). */
CascadeSet buildCascadeSet(CascadeTableStorage *storage, const DetectorModelData *const data[kModelCount]);
/* The cascade tables of the supplied models; every new detector starts with them. */
CascadeSet defaultCascadeSet();

#endif
