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

CascadeSet buildCascadeSet(CascadeTableStorage *storage, const DetectorModelData *const data[kModelCount])
{
    *storage = CascadeTableStorage();
    for (int id = 0; id < kModelCount; ++id) {
        const DetectorModelData &model = *data[id];
        if (!detectorModelValid(DetectorModelId(id), model))
            continue;
        storage->groups[id][0] = CascadeGroup{model.rectangles, model.rectangleCount, sizeof(RectFeatureRecord)};
        storage->groups[id][1] = CascadeGroup{model.blocks, model.blockCount, sizeof(BlockFeatureRecord)};
        storage->models[id] =
            CascadeModel{storage->groups[id], 2, model.offset, model.scale, model.rectangleCount + model.blockCount};
        storage->present[id] = &storage->models[id];
    }
    const CascadeModel *const *present = storage->present;
    static const int32_t kRolls[16] = {0, 30, 45, 60, 90, 120, 135, 150, 180, -150, -135, -120, -90, -60, -45, -30};
    for (int32_t roll : kRolls) {
        const int index = angleIndex(roll) * 4;
        const bool axis = axisRoll(roll);
        const bool diagonal = roll == 45 || roll == 135 || roll == -135 || roll == -45;
        const int family = axis ? kModelFrontalUpright0 : diagonal ? kModelFrontalDiagonal0 : kModelFrontalThirty0;
        for (int variant = 0; variant < 2; ++variant) {
            storage->tables[kViewFrontal][index + variant] = present[kModelFrontalSmall0 + variant];
            storage->tables[kViewFrontal][index + 2 + variant] = present[family + variant];
            if (!axis)
                continue;
            /* one model serves both signs of a view: the feature tables mirror it */
            storage->tables[kViewHalfPositive][index + 2 + variant] = present[kModelHalfProfile0 + variant];
            storage->tables[kViewHalfNegative][index + 2 + variant] = present[kModelHalfProfile0 + variant];
            storage->tables[kViewProfilePositive][index + 2 + variant] = present[kModelProfile0 + variant];
            storage->tables[kViewProfileNegative][index + 2 + variant] = present[kModelProfile0 + variant];
        }
    }
    CascadeSet cascades;
    for (int view = 0; view < kViewCount; ++view)
        cascades.tables[view] = storage->tables[view];
    cascades.verify = present[kModelFaceVerify];
    cascades.eye = present[kModelEye];
    cascades.eyeVerify = present[kModelEyeVerify];
    return cascades;
}

CascadeSet defaultCascadeSet()
{
    static CascadeTableStorage storage;
    static const CascadeSet set = [] {
        const DetectorModelData *data[kModelCount];
        for (int id = 0; id < kModelCount; ++id)
            data[id] = &detectorModelData(DetectorModelId(id));
        return buildCascadeSet(&storage, data);
    }();
    return set;
}
