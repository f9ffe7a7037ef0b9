// The model set: the shape trained data must have, and the tables that place each model.
#include "facesdk/detect/models.h"

#include "facesdk/detect/window.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// Data of the right shape for a model: rectangle kinds 9..13, then block kinds 0..8.
struct ShapedData {
    int16_t votes[256] = {};
    std::vector<RectFeatureRecord> rectangles;
    std::vector<BlockFeatureRecord> blocks;
    DetectorModelData data;
    explicit ShapedData(DetectorModelId id)
    {
        const DetectorModelShape shape = detectorModelShape(id);
        for (uint32_t i = 0; i < shape.rectangles; ++i)
            rectangles.push_back(RectFeatureRecord{0, uint8_t(9 + i % 5), 11, 11, 2, 2, 4, {}, votes});
        for (uint32_t i = 0; i < shape.blocks; ++i)
            blocks.push_back(BlockFeatureRecord{0, uint8_t(i % 9), 5, 5, 0, votes});
        data = DetectorModelData{rectangles.data(), uint32_t(rectangles.size()), blocks.data(),
                                 uint32_t(blocks.size()), 0, 65536};
    }
};

TEST(Models, TrainedDataMustHaveTheModelsShape)
{
    EXPECT_EQ(detectorModelShape(kModelFrontalUpright0).rectangles, 100u);
    EXPECT_EQ(detectorModelShape(kModelProfile1).blocks, 60u);
    EXPECT_EQ(detectorModelShape(kModelFaceVerify).rectangles, 20u);
    EXPECT_EQ(detectorModelShape(kModelEyeVerify).blocks, 30u);
    ShapedData good(kModelFrontalUpright0);
    EXPECT_TRUE(detectorModelValid(kModelFrontalUpright0, good.data));
    EXPECT_FALSE(detectorModelValid(kModelEye, good.data)); // another model's shape
    ShapedData badKind(kModelEye);
    badKind.rectangles[3].kind = 4; // a block kind in the rectangle group
    EXPECT_FALSE(detectorModelValid(kModelEye, badKind.data));
    ShapedData noVotes(kModelEye);
    noVotes.blocks[0].votes = nullptr;
    EXPECT_FALSE(detectorModelValid(kModelEye, noVotes.data));
    // the library's own trained data: every model has its shape, its offset is its last
    // threshold, and the default set serves every roll, view, base and variant it should
    for (int id = 0; id < kModelCount; ++id) {
        const DetectorModelData &data = detectorModelData(DetectorModelId(id));
        ASSERT_TRUE(detectorModelValid(DetectorModelId(id), data)) << id;
        EXPECT_EQ(data.offset, data.blocks[data.blockCount - 1].threshold) << id;
    }
    const CascadeSet trained = defaultCascadeSet();
    for (int32_t roll : {0, 30, 45, 60, 90, 120, 135, 150, 180, -150, -135, -120, -90, -60, -45, -30})
        for (int slot = 0; slot < 4; ++slot)
            EXPECT_NE(trained.tables[kViewFrontal][angleIndex(roll) * 4 + slot], nullptr) << roll;
    for (int view = kViewHalfPositive; view < kViewCount; ++view)
        for (int32_t roll : {0, 90, 180, -90})
            EXPECT_NE(trained.tables[view][angleIndex(roll) * 4 + 2], nullptr) << view << " " << roll;
    EXPECT_NE(trained.verify, nullptr);
    EXPECT_NE(trained.eye, nullptr);
    EXPECT_NE(trained.eyeVerify, nullptr);
}

TEST(Models, EachModelServesItsRollsViewsBasesAndVariants)
{
    std::vector<std::unique_ptr<ShapedData>> shaped;
    const DetectorModelData *data[kModelCount];
    for (int id = 0; id < kModelCount; ++id) {
        shaped.push_back(std::make_unique<ShapedData>(DetectorModelId(id)));
        data[id] = &shaped.back()->data;
    }
    auto storage = std::make_unique<CascadeTableStorage>();
    const CascadeSet set = buildCascadeSet(storage.get(), data);
    auto model = [&](int id) { return &storage->models[id]; };
    auto entry = [&](int view, int32_t roll, int base, int variant) {
        return set.tables[view][angleIndex(roll) * 4 + (base == 22 ? 2 : 0) + variant];
    };
    struct Case {
        int32_t roll;
        int family;
    } frontal[] = {{0, kModelFrontalUpright0},    {90, kModelFrontalUpright0},  {180, kModelFrontalUpright0},
                   {-90, kModelFrontalUpright0},  {45, kModelFrontalDiagonal0}, {-135, kModelFrontalDiagonal0},
                   {30, kModelFrontalThirty0},    {-150, kModelFrontalThirty0}, {120, kModelFrontalThirty0}};
    for (const Case &c : frontal) {
        SCOPED_TRACE(c.roll);
        for (int variant = 0; variant < 2; ++variant) {
            EXPECT_EQ(entry(kViewFrontal, c.roll, 22, variant), model(c.family + variant));
            EXPECT_EQ(entry(kViewFrontal, c.roll, 14, variant), model(kModelFrontalSmall0 + variant));
        }
        const bool axis = c.family == kModelFrontalUpright0;
        EXPECT_EQ(entry(kViewHalfNegative, c.roll, 22, 1), axis ? model(kModelHalfProfile1) : nullptr);
        EXPECT_EQ(entry(kViewProfilePositive, c.roll, 22, 0), axis ? model(kModelProfile0) : nullptr);
        EXPECT_EQ(entry(kViewProfilePositive, c.roll, 14, 0), nullptr); // profiles have no small base
    }
    EXPECT_EQ(set.verify, model(kModelFaceVerify));
    EXPECT_EQ(set.eye, model(kModelEye));
    EXPECT_EQ(set.eyeVerify, model(kModelEyeVerify));
    EXPECT_EQ(set.verify->total, 60u);
    EXPECT_EQ(set.verify->groups[1].stride, 16u);
}

} // namespace
