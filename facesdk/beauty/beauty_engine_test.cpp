#include "facesdk/beauty/beauty_engine.h"

#include <gtest/gtest.h>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/effects/effect_stages.h"
#include "facesdk/effects/testing/stage_run.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/shape_record.h"
#include "facesdk/engine/testing/face_scene.h"
#include "facesdk/engine/warp_anchor.h"

#include <vector>

TEST(BeautyEngine, EveryEngineRunsTheEffectStages)
{
    EXPECT_EQ(engineCreate(nullptr), kResultBadArgument);
    EXPECT_EQ(engineCreateWithAllocator(nullptr, nullptr), kResultBadArgument);
    for (int k = 0; k < kFeatureCount; ++k)
        EXPECT_NE(kEffectStageTable.stages[k], nullptr) << "feature bit " << (1u << k);

    BeautyEngine *engine = nullptr;
    ASSERT_EQ(engineCreate(&engine), kResultOk);
    EXPECT_EQ(engine->inner->stages, &kEffectStageTable);
    engineDestroy(engine);

    CountingAllocator counter;
    ASSERT_EQ(engineCreateWithAllocator(counter.allocator(), &engine), kResultOk);
    EXPECT_EQ(engine->allocator, counter.allocator());
    EXPECT_EQ(engine->inner->stages, &kEffectStageTable);
    engineDestroy(engine);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

// Every stage at full strength on pictures of odd width or height, in every run format: the
// stages read and write only what the planes hold (an odd last row or column has luma alone),
// and the picture comes back in its own format.
namespace {

BeautySettings everyStageAtFullStrength()
{
    BeautySettings settings{};
    for (int32_t *strength :
         {&settings.smoothingStrength, &settings.eyeToneStrength, &settings.teethStrength,
          &settings.skinToneStrength, &settings.eyeEnlargementStrength, &settings.shineStrength,
          &settings.warpStrength, &settings.overlayStrength, &settings.cheekStrength,
          &settings.eyePairsStrength, &settings.eyeLayersStrength, &settings.contourFillStrength,
          &settings.eyeDarkStrength, &settings.contourStrokeStrength, &settings.contourContrastStrength,
          &settings.underEyeStrength, &settings.softeningStrength})
        *strength = 255;
    settings.smoothingRegionMode = 1;
    settings.smoothingLevel = 3;
    settings.skinToneVariant = 1;
    settings.skinToneMode = 4;
    settings.skinToneColour = settings.cheekColour = settings.contourFillColour = 0xc08070;
    settings.contourStrokeColour = 0x603020;
    settings.overlayTemplate = settings.eyePairsLevel1 = settings.eyePairsLevel2 = 2;
    settings.eyeLayersStyle = settings.eyeDarkLevel = settings.contourContrastLevel = 2;
    return settings;
}

}  // namespace

TEST(BeautyEngine, EveryStageRunsOnOddSizedPicturesInEveryFormat)
{
    const BeautySettings settings = everyStageAtFullStrength();
    const struct {
        int32_t width, height;
    } sizes[] = {{64, 97}, {97, 64}, {251, 333}, {333, 251}, {501, 383}};
    for (PixelFormat format : kStageRunFormats) {
        for (const auto &size : sizes) {
            SCOPED_TRACE(testing::Message() << std::hex << format << std::dec << " " << size.width
                                            << " x " << size.height);
            FaceScene scene;
            scene.format = format;
            scene.width = size.width;
            scene.height = size.height;
            // The face reaches the last rows, where the stages' masks at a coarser scale end.
            scene.face = {size.width / 5, size.height / 4, size.width * 3 / 5, size.height * 3 / 4};
            OwnedImage image(size.width, size.height, format);
            paintFaceScene(image.image, scene);
            CountingAllocator counter;
            BeautyEngine *engine = nullptr;
            ASSERT_EQ(engineCreateWithAllocator(counter.allocator(), &engine), kResultOk);
            VXL_FACE face = faceSceneRecord(scene.face, 1);
            engineFitFaces(engine, &image.image, &face, 1);
            const int result = engineBeautify(engine, &image.image, &face, 1, &settings);
            EXPECT_TRUE(result == kResultOk || result == kResultRunIncomplete) << result;
            EXPECT_EQ(image.image.format, format);
            freeFaceBuffers(engine->allocator, &face);
            engineDestroy(engine);
            EXPECT_EQ(counter.liveBlocks(), 0u);
        }
    }
}

// A state blob whose records hold extreme values the engine keeps (an anchor and an eye part
// made for a face box one pixel wide, a landmark at the coordinate limit) goes through fitting
// and every stage: the ratios of stored sizes scale in 64 bits, held to the coordinate limit.
TEST(BeautyEngine, StoredFaceStateAtTheLimitsRunsEveryStage)
{
    const BeautySettings settings = everyStageAtFullStrength();
    FaceScene scene;
    OwnedImage image(scene.width, scene.height, scene.format);
    paintFaceScene(image.image, scene);
    BeautyEngine *engine = nullptr;
    ASSERT_EQ(engineCreate(&engine), kResultOk);
    VXL_FACE face = faceSceneRecord(scene.face, 1);
    ASSERT_EQ(engineFitFaces(engine, &image.image, &face, 1), kResultOk);
    engineBeautify(engine, &image.image, &face, 1, &settings);
    ASSERT_GT(engine->inner->shapeRecordCount, 0u);
    FaceShapeRecord &record = engine->inner->shapeRecords[0];
    record.eyePartFaceWidth = 1;
    WarpAnchor anchor = readWarpAnchor(record);
    anchor.boxWidth = anchor.boxHeight = 1;
    writeWarpAnchor(&record, anchor);
    face.points[0].x = kFaceCoordinateLimit;
    uint32_t length = 0;
    ASSERT_EQ(engineExportState(engine, 640, &face, 1, nullptr, &length), kResultOk);
    std::vector<uint8_t> blob(length);
    ASSERT_EQ(engineExportState(engine, 640, &face, 1, blob.data(), &length), kResultOk);

    BeautyEngine *second = nullptr;
    ASSERT_EQ(engineCreate(&second), kResultOk);
    VXL_FACE *faces = nullptr;
    int32_t count = 0;
    ASSERT_EQ(engineImportState(second, blob.data(), length, 640, &faces, &count), kResultOk);
    for (int round = 0; round < 2; ++round) {
        OwnedImage again(scene.width, scene.height, scene.format);
        paintFaceScene(again.image, scene);
        const int result = engineBeautify(second, &again.image, faces, count, &settings);
        EXPECT_TRUE(result == kResultOk || result == kResultRunIncomplete) << result;
        engineFitFaces(second, &again.image, faces, count);
    }
    engineFreeFaces(second, faces, count);
    engineDestroy(second);
    freeFaceBuffers(engine->allocator, &face);
    engineDestroy(engine);
}
