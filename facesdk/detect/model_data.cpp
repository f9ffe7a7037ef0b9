/*
 * Trained values of the detector's cascade models.
 *
 * The models are trained on face image collections that this build does not have, so every
 * model is empty here and the detector finds no faces until the values are dropped in: fill a
 * model's two record arrays (shapes in models.h: 100 + 60 records for the twelve detection
 * models, 20 + 40 for face verification, 10 + 30 for each eye model), its offset and scale,
 * and the tables pick it up without any other change.
 */
#include "facesdk/detect/models.h"

namespace {

const DetectorModelData kEmpty = {nullptr, 0, nullptr, 0, 0, 65536};

} // namespace

const DetectorModelData &detectorModelData(DetectorModelId id)
{
    static const DetectorModelData *const kModels[kModelCount] = {
        &kEmpty, &kEmpty, &kEmpty, &kEmpty, &kEmpty, &kEmpty, &kEmpty, &kEmpty,
        &kEmpty, &kEmpty, &kEmpty, &kEmpty, &kEmpty, &kEmpty, &kEmpty,
    };
    return *kModels[id >= 0 && id < kModelCount ? id : 0];
}
