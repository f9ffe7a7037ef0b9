#include "facesdk/engine/params.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "facesdk/base/result_codes.h"

namespace {

// A full block with every feature present and valid arguments.
BeautyParams fullBlock(uint8_t strength = 50)
{
    BeautySettings s{};
    s.smoothingStrength = strength;
    s.smoothingRegionMode = 2;
    s.smoothingLevel = 2;
    s.eyeToneStrength = s.teethStrength = s.skinToneStrength = strength;
    s.skinToneVariant = 1;
    s.skinToneMode = 3;
    s.eyeEnlargementStrength = s.shineStrength = s.warpStrength = s.overlayStrength = strength;
    s.overlayTemplate = 4;
    s.cheekStrength = s.eyePairsStrength = s.eyeLayersStrength = s.contourFillStrength = strength;
    s.eyePairsLevel1 = s.eyePairsLevel2 = 2;
    s.eyeLayersStyle = 2;
    s.eyeDarkStrength = s.contourStrokeStrength = s.contourContrastStrength = strength;
    s.eyeDarkLevel = 3;
    s.contourContrastLevel = 2;
    s.underEyeStrength = s.softeningStrength = strength;
    BeautyParams block;
    settingsToParams(s, &block);
    return block;
}

}  // namespace

TEST(Params, StageTableIsConsistent)
{
    FeatureMask seen = 0;
    for (int k = 0; k < kFeatureCount; ++k) {
        EXPECT_EQ(kStageTable[k].bit, 1u << k);
        EXPECT_EQ(featureIndex(kStageTable[k].bit), k);
        EXPECT_EQ(kStageRunOrder[kStageTable[k].runOrder - 1], kStageTable[k].bit);
        seen |= kStageRunOrder[k];
    }
    EXPECT_EQ(seen, kAllFeatures);
    EXPECT_EQ(featureIndex(0x30), -1);
    EXPECT_EQ(featureIndex(0x20000), -1);
}

TEST(Params, SettingsRoundTripKeepsWhatTheBlockCarries)
{
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        BeautySettings in;
        auto *bytes = reinterpret_cast<uint8_t *>(&in);
        for (size_t i = 0; i < sizeof in; ++i)
            bytes[i] = uint8_t(random());
        BeautyParams block;
        settingsToParams(in, &block);
        EXPECT_EQ(block.size, 200u);
        EXPECT_EQ(block.flags, 3u);
        EXPECT_EQ(block.quality, 3);
        EXPECT_EQ(block.contourFillTint.extra, 0);
        BeautySettings out;
        paramsToSettings(block, &out);

        // What is carried: the low byte of strength, level and style cells, three colour
        // bytes, whole i32 arguments, nine bytes of the 0x400 colours.
        const int wholeCells[] = {1, 2, 6, 7, 13};  // region mode, 0x1 level, variant, mode, template
        const int colourCells[] = {8, 15, 25, 29};
        const auto *inCells = reinterpret_cast<const int32_t *>(&in);
        const auto *outCells = reinterpret_cast<const int32_t *>(&out);
        for (int c = 0; c < 34; ++c) {
            if (c >= 21 && c <= 23)
                continue;  // the 0x400 colour bytes
            int32_t expected = inCells[c] & 0xff;
            for (int whole : wholeCells)
                if (c == whole)
                    expected = inCells[c];
            for (int colour : colourCells)
                if (c == colour)
                    expected = inCells[c] & 0xffffff;
            EXPECT_EQ(outCells[c], expected) << "cell " << c;
        }
        EXPECT_EQ(std::memcmp(out.eyeLayersColours, in.eyeLayersColours, 9), 0);
        EXPECT_EQ(out.eyeLayersColours[9] | out.eyeLayersColours[10] | out.eyeLayersColours[11], 0);
    }
}

TEST(Params, BlockSizes)
{
    struct {
        uint32_t size;
        int result;
    } cases[] = {{80, kResultOk},  {88, kResultOk},  {96, kResultOk},  {200, kResultOk},
                 {0, kResultBadArgument},  {84, kResultBadArgument},  {100, kResultBadArgument},
                 {199, kResultBadArgument}, {201, kResultBadArgument}};
    for (const auto &c : cases) {
        StageSettings settings{};
        BeautyParams block = fullBlock();
        block.size = c.size;
        EXPECT_EQ(storeParams(&settings, &block), c.result) << c.size;
        if (c.result != kResultOk) {
            EXPECT_EQ(settings.mask, 0u) << "a refused block stores nothing";
        }
    }
    StageSettings settings{};
    BeautyParams block = fullBlock();
    block.eyeColourLayers.size = 12;
    EXPECT_EQ(storeParams(&settings, &block), kResultBadArgument);
    EXPECT_EQ(settings.mask, 0u);
    EXPECT_EQ(storeParams(nullptr, &block), kResultBadArgument);
    EXPECT_EQ(storeParams(&settings, nullptr), kResultBadArgument);
}

TEST(Params, ShortBlocksLeaveTheLaterFeaturesAsTheyWere)
{
    StageSettings settings{};
    BeautyParams full = fullBlock(40);
    full.reservedValue[0] = 9;
    ASSERT_EQ(storeParams(&settings, &full), kResultOk);
    EXPECT_EQ(settings.mask, kAllFeatures);
    EXPECT_EQ(settings.reservedValue[0], 9);

    // Short blocks live in short allocations: nothing past their size may be read.
    for (uint32_t size : {80u, 88u, 96u}) {
        auto *block = static_cast<BeautyParams *>(std::malloc(size));
        std::memcpy(block, &full, size);
        block->size = size;
        block->smoothing.strength = 0;       // 0x1 off
        block->eyeTone.strength = 77;        // 0x2 changed
        std::memset(reinterpret_cast<uint8_t *>(block) + 80, 0xee, size - 80);  // 88: unread
        if (size == 96) {
            block->faceWarp.size = 8;
            block->faceWarp.strength = 0;  // 0x40 off
        }
        ASSERT_EQ(storeParams(&settings, block), kResultOk) << size;
        EXPECT_EQ(settings.mask & kFeatureSmoothing, 0u);
        EXPECT_EQ(settings.smoothing.level, 1u);
        EXPECT_EQ(settings.eyeToneStrength, 77);
        EXPECT_EQ(settings.mask & kFeatureFaceWarp, size == 96 ? 0u : uint32_t(kFeatureFaceWarp));
        EXPECT_EQ(settings.overlay.strength, 40);
        EXPECT_EQ(settings.softeningStrength, 40);
        EXPECT_EQ(settings.reservedValue[0], 9);
        std::free(block);
        settings.mask |= kFeatureFaceWarp;
        settings.warpStrength = 40;
    }
}

TEST(Params, ArgumentsAreClampedOrRefused)
{
    StageSettings settings{};
    BeautyParams block = fullBlock();
    block.eyeTemplatePairs.level1 = 0;
    block.eyeTemplatePairs.level2 = 9;
    block.contourContrast.level = 5;
    block.eyeDarkTemplate.level = 0;
    block.eyeColourLayers.style = 7;
    block.smoothing.level = 0x102;
    block.quality = 7;
    ASSERT_EQ(storeParams(&settings, &block), kResultOk);
    EXPECT_EQ(settings.eyePairs.level1, 1);
    EXPECT_EQ(settings.eyePairs.level2, 6);
    EXPECT_EQ(settings.contourContrast.level, 3);
    EXPECT_EQ(settings.eyeDark.level, 1);
    EXPECT_EQ(settings.eyeLayers.style, 4);
    EXPECT_EQ(settings.smoothing.level, 0x102u);
    EXPECT_EQ(settings.quality, 3);

    // Range errors stop the check where they occur; earlier features keep their new values.
    struct Case {
        const char *name;
        void (*spoil)(BeautyParams &);
        uint32_t stored;     // feature whose new strength must be in force
        uint32_t notStored;  // a later feature that must keep the old settings
    } cases[] = {
        {"0x1 level", [](BeautyParams &b) { b.smoothing.level = 4; }, 0, kFeatureSkinTone},
        {"0x1 mode", [](BeautyParams &b) { b.smoothing.regionMode = 3; }, 0, kFeatureSkinTone},
        {"0x8 variant", [](BeautyParams &b) { b.skinTone.variant = 0; }, kFeatureSmoothing, kFeatureTeethWhitening},
        {"0x8 mode", [](BeautyParams &b) { b.skinTone.mode = 6; }, kFeatureSmoothing, kFeatureTeethWhitening},
        {"0x80 template", [](BeautyParams &b) { b.templateOverlay.templateNumber = 0; }, kFeatureFaceWarp, kFeatureCheekColour},
    };
    for (const Case &c : cases) {
        StageSettings old{};
        BeautyParams first = fullBlock(10);
        ASSERT_EQ(storeParams(&old, &first), kResultOk);
        BeautyParams next = fullBlock(90);
        next.flags = 1;
        c.spoil(next);
        EXPECT_EQ(storeParams(&old, &next), kResultBadArgument) << c.name;
        EXPECT_EQ(old.flags, 1u) << c.name;
        if (c.stored) {
            EXPECT_EQ(stageStrength(old, c.stored), 90) << c.name;
        }
        EXPECT_EQ(stageStrength(old, c.notStored), 10) << c.name;
    }
}

TEST(Params, ZeroStrengthsClearTheMask)
{
    StageSettings settings{};
    BeautyParams block = fullBlock();
    ASSERT_EQ(storeParams(&settings, &block), kResultOk);
    BeautyParams off = fullBlock(0);
    ASSERT_EQ(storeParams(&settings, &off), kResultOk);
    EXPECT_EQ(settings.mask, 0u);
    for (const StageTableEntry &entry : kStageTable)
        EXPECT_EQ(stageStrength(settings, entry.bit), 0);
}

TEST(Params, ColourConversion)
{
    struct {
        BeautyColour rgb;
        YCbCr yuv;
    } cases[] = {
        {{255, 255, 255}, {255, 128, 128}}, {{0, 0, 0}, {0, 128, 128}},
        {{255, 0, 0}, {76, 85, 255}},       {{0, 0, 255}, {29, 255, 107}},
    };
    for (const auto &c : cases) {
        const YCbCr yuv = rgbToYCbCr(c.rgb);
        EXPECT_EQ(yuv.y, c.yuv.y);
        EXPECT_EQ(yuv.cb, c.yuv.cb);
        EXPECT_EQ(yuv.cr, c.yuv.cr);
    }
    StageSettings settings{};
    BeautyParams block = fullBlock();
    block.skinTone.colour = {255, 255, 255};
    block.cheekColour.colour = {255, 0, 0};
    ASSERT_EQ(storeParams(&settings, &block), kResultOk);
    EXPECT_EQ(settings.skinTone.cb, 128);
    EXPECT_EQ(settings.cheek.colour.y, 76);
    EXPECT_EQ(settings.cheek.colour.cr, 255);
}
