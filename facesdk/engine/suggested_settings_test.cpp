#include "facesdk/engine/suggested_settings.h"

#include <gtest/gtest.h>

#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/engine/engine.h"
#include "facesdk/engine/testing/face_scene.h"

namespace {

// The suggestion as the caller receives it.
BeautySettings expectedSettings()
{
    BeautySettings s{};
    s.smoothingStrength = 105;
    s.smoothingRegionMode = 1;
    s.smoothingLevel = 1;
    s.eyeToneStrength = 71;
    s.teethStrength = 50;
    s.skinToneStrength = 30;
    s.skinToneVariant = 1;
    s.skinToneMode = 1;
    s.skinToneColour = 254 | 140 << 8 | 107 << 16;
    s.warpStrength = 35;
    s.overlayTemplate = 1;
    s.cheekColour = 254 | 140 << 8 | 107 << 16;
    for (int i = 0; i < 3; ++i) {
        s.eyeLayersColours[3 * i] = 254;
        s.eyeLayersColours[3 * i + 1] = 107;
        s.eyeLayersColours[3 * i + 2] = 140;
    }
    s.contourFillColour = 254 | 107 << 8 | 140 << 16;
    s.contourStrokeColour = 254 | 140 << 8 | 107 << 16;
    s.underEyeStrength = 130;
    s.softeningStrength = 146;
    return s;
}

struct AnalyseFixture {
    CountingAllocator counter;
    BeautyEngine *engine = nullptr;
    OwnedImage image{640, 480, kFormatYuv420Planar};
    AnalyseFixture() { EXPECT_EQ(engineCreateWithAllocator(counter.allocator(), &engine), kResultOk); }
    ~AnalyseFixture() { engineDestroy(engine); }
};

}  // namespace

// The block written for every face: header, every sub-block's size, and the values of the
// suggestion, whatever the face looks like.
TEST(SuggestedSettings, BlockLayout)
{
    BeautyParams block;
    std::memset(&block, 0xee, sizeof block);
    writeSuggestionDefaults(&block);
    writeSuggestionStrengths(&block);
    EXPECT_EQ(block.size, 200u);
    EXPECT_EQ(block.flags, 3u);
    EXPECT_EQ(block.quality, 3);
    const uint32_t sizes[] = {block.smoothing.size, block.skinTone.size, block.teethWhitening.size,
                              block.eyeTone.size, block.eyeEnlargement.size,
                              block.shineReduction.size, block.faceWarp.size,
                              block.templateOverlay.size, block.cheekColour.size,
                              block.eyeTemplatePairs.size, block.eyeColourLayers.size,
                              block.contourFillTint.size, block.eyeDarkTemplate.size,
                              block.contourStrokeTint.size, block.contourContrast.size,
                              block.underEyeBrighten.size, block.skinSoftening.size};
    const uint32_t expected[] = {16, 20, 8, 8, 8, 8, 8, 12, 8, 8, 16, 12, 8, 12, 8, 8, 8};
    for (int i = 0; i < 17; ++i)
        EXPECT_EQ(sizes[i], expected[i]) << i;
    EXPECT_EQ(block.reserved, 0u);
    for (uint8_t byte : block.reservedValue)
        EXPECT_EQ(byte, 0);
    // The block is one the parameter check accepts, with the seven features on.
    StageSettings stored{};
    ASSERT_EQ(storeParams(&stored, &block), kResultOk);
    EXPECT_EQ(stored.mask, uint32_t(kFeatureSmoothing | kFeatureEyeTone | kFeatureTeethWhitening |
                                    kFeatureSkinTone | kFeatureFaceWarp | kFeatureUnderEyeBrighten |
                                    kFeatureSkinSoftening));
}

// Three faces, the first partly outside the image: the answer follows the last face only, and
// every face's settings hold the suggestion.
TEST(SuggestedSettings, EveryFaceGetsTheSuggestion)
{
    AnalyseFixture f;
    VXL_FACE faces[3] = {faceSceneRecord({500, 100, 200, 200}, 1),
                         faceSceneRecord({100, 100, 150, 150}, 2),
                         faceSceneRecord({300, 200, 120, 160}, 3)};
    for (VXL_FACE &face : faces)
        ASSERT_EQ(ensureFaceBuffers(f.engine->allocator, &face), kResultOk);  // as fitted faces
    BeautySettings settings[3];
    std::memset(settings, 0xee, sizeof settings);
    ASSERT_EQ(engineAnalyzeFaces(f.engine, &f.image.image, faces, 3, settings), kResultOk);
    const BeautySettings expected = expectedSettings();
    for (const BeautySettings &s : settings)
        EXPECT_EQ(std::memcmp(&s, &expected, sizeof s), 0);
    EXPECT_EQ(f.engine->inner->operationsUsed & kInnerUsedAnalyze, uint32_t(kInnerUsedAnalyze));

    // The last face partly outside: -4, and nothing converted.
    std::swap(faces[0], faces[2]);
    std::memset(settings, 0xee, sizeof settings);
    EXPECT_EQ(engineAnalyzeFaces(f.engine, &f.image.image, faces, 3, settings), kResultBadArgument);
    for (const BeautySettings &s : settings)
        EXPECT_EQ(s.smoothingStrength, int32_t(0xeeeeeeee));
    for (VXL_FACE &face : faces)
        freeFaceBuffers(f.engine->allocator, &face);
}

TEST(SuggestedSettings, BoxChecksAndArguments)
{
    AnalyseFixture f;
    struct Case {
        PixelFormat format;
        EngineRect box;
        int result;
    } cases[] = {
        {kFormatYuv420Planar, {0, 0, 640, 480}, kResultOk},
        {kFormatYuv420Planar, {-1, 0, 100, 100}, kResultBadArgument},
        {kFormatYuv420Planar, {600, 0, 41, 100}, kResultBadArgument},
        {kFormatYuv420Planar, {0, 400, 100, 81}, kResultBadArgument},
        {kFormatYuv420Planar, {10, 10, 0, 100}, kResultBadArgument},
        {kFormatYuv444Planar, {10, 10, 1, 100}, kResultBadArgument},  // inner width 1 - 50
        {kFormatYuv444Planar, {10, 10, 3, 3}, kResultOk},              // q 1: inner 2 x 2
        {kFormatYuv420Planar, {10, 10, 3, 3}, kResultOk},              // rounded up to 2 x 2
        {kFormatYuv444Planar, {10, 10, 1, 1}, kResultOk},              // q 0: itself
    };
    for (const Case &c : cases) {
        f.image.image.format = c.format;
        EXPECT_EQ(checkSuggestionBox(&f.image.image, c.box), c.result)
            << c.box.x << " " << c.box.y << " " << c.box.width << " " << c.box.height;
    }
    f.image.image.format = kFormatYuv420Planar;
    EngineImage invalid{};
    EXPECT_EQ(checkSuggestionBox(&invalid, {0, 0, 10, 10}), kResultBadArgument);

    InnerEngine *inner = f.engine->inner;
    FaceWork face{};
    face.box = {10, 10, 100, 100};
    BeautyParams block;
    EXPECT_EQ(innerAnalyzeFaces(nullptr, &f.image.image, &face, 1, &block), kResultBadArgument);
    EXPECT_EQ(inner->operationsUsed & kInnerUsedAnalyze, 0u);
    EXPECT_EQ(innerAnalyzeFaces(inner, &f.image.image, nullptr, 1, &block), kResultBadArgument);
    EXPECT_EQ(inner->operationsUsed & kInnerUsedAnalyze, uint32_t(kInnerUsedAnalyze));
    EXPECT_EQ(innerAnalyzeFaces(inner, &f.image.image, &face, 0, &block), kResultBadArgument);
    EXPECT_EQ(innerAnalyzeFaces(inner, &f.image.image, &face, 1, nullptr), kResultBadArgument);
    // An invalid image fails the box check, yet the block is written.
    std::memset(&block, 0, sizeof block);
    EXPECT_EQ(innerAnalyzeFaces(inner, &invalid, &face, 1, &block), kResultBadArgument);
    EXPECT_EQ(block.smoothing.strength, 105);
    EXPECT_EQ(innerAnalyzeFaces(inner, &f.image.image, &face, 1, &block), kResultOk);
}
