/*
 * The cascade model set: shapes, validation and the tables by view, roll, base and variant.
 *
 * Divisions: shapes and validation; the set.
 */
#include "facesdk/detect/models.h"

#include "facesdk/detect/window.h"

/* ---- shapes and validation ---- */

DetectorModelShape detectorModelShape(DetectorModelId id)
{
    switch (id) {
    case kModelFaceVerify: return {20, 40};
    case kModelEye:
    case kModelEyeVerify: return {10, 30};
    default: return {100, 60};
    }
}

bool detectorModelValid(DetectorModelId id, const DetectorModelData &data)
{
    const DetectorModelShape shape = detectorModelShape(id);
    if (data.rectangleCount != shape.rectangles || data.blockCount != shape.blocks || !data.rectangles ||
        !data.blocks || data.scale == 0)
        return false;
    for (uint32_t i = 0; i < data.rectangleCount; ++i)
        if (data.rectangles[i].kind < 9 || data.rectangles[i].kind > 13 || !data.rectangles[i].votes)
            return false;
    for (uint32_t i = 0; i < data.blockCount; ++i)
        if (data.blocks[i].kind > 8 || !data.blocks[i].votes)
            return false;
    return true;
}

/* ---- the set ---- */

namespace {

struct ModelTables {
    CascadeGroup groups[kModelCount][2];
    CascadeModel models[kModelCount];
    const CascadeModel *present[kModelCount];
    const CascadeModel *tables[kViewCount][kCascadeTableSize];

    ModelTables() : groups(), models(), present(), tables()
    {
        for (int id = 0; id < kModelCount; ++id) {
            const DetectorModelData &data = detectorModelData(DetectorModelId(id));
            if (!detectorModelValid(DetectorModelId(id), data))
                continue;
            groups[id][0] = CascadeGroup{data.rectangles, data.rectangleCount, sizeof(RectFeatureRecord)};
            groups[id][1] = CascadeGroup{data.blocks, data.blockCount, sizeof(BlockFeatureRecord)};
            models[id] = CascadeModel{groups[id], 2, data.offset, data.scale, data.rectangleCount + data.blockCount};
            present[id] = &models[id];
        }
        static const int32_t kRolls[16] = {0, 30, 45, 60, 90, 120, 135, 150, 180, -150, -135, -120, -90, -60, -45, -30};
        for (int32_t roll : kRolls) {
            const int index = angleIndex(roll) * 4;
            const bool axis = roll == 0 || roll == 90 || roll == 180 || roll == -90;
            const bool diagonal = roll == 45 || roll == 135 || roll == -135 || roll == -45;
            const int family = axis ? kModelFrontalUpright0 : diagonal ? kModelFrontalDiagonal0 : kModelFrontalThirty0;
            for (int variant = 0; variant < 2; ++variant) {
                tables[kViewFrontal][index + variant] = present[kModelFrontalSmall0 + variant];
                tables[kViewFrontal][index + 2 + variant] = present[family + variant];
                if (!axis)
                    continue;
                tables[kViewHalfPositive][index + 2 + variant] = present[kModelHalfProfile0 + variant];
                tables[kViewHalfNegative][index + 2 + variant] = present[kModelHalfProfile0 + variant];
                tables[kViewProfilePositive][index + 2 + variant] = present[kModelProfile0 + variant];
                tables[kViewProfileNegative][index + 2 + variant] = present[kModelProfile0 + variant];
            }
        }
    }
};

} // namespace

CascadeSet defaultCascadeSet()
{
    static const ModelTables set;
    CascadeSet cascades;
    for (int view = 0; view < kViewCount; ++view)
        cascades.tables[view] = set.tables[view];
    cascades.verify = set.present[kModelFaceVerify];
    cascades.eye = set.present[kModelEye];
    cascades.eyeVerify = set.present[kModelEyeVerify];
    return cascades;
}
