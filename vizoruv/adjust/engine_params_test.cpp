#include "vizoruv/adjust/engine_params.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "editing/model/vxl_params.h"

namespace {

// A block of the general defaults with every group and feature switch off, and a full opacity.
VXLParams quietBlock()
{
    VXLParams p;
    defaultParams(&p, false);
    std::memset(&p.bGroupTone, 0, size_t(&p.bGroupBlackWhite - &p.bGroupTone) + 1);
    p.ASSOn = p.exposureOn = p.contrastOn = p.sharpenOn = p.noiseRemovalOn = p.tintOn = p.TCCOn = false;
    p.skinToneCorrectionOn = p.skinDepthOn = p.DCFOn = p.lightDiffusionOn = p.bSelectiveColor = false;
    p.bSelectiveColor2 = p.bSplitColor = p.bPortraitLight = false;
    p.vexoOpacity = 100;
    return p;
}

VxlEngineParams blockOf(const VXLParams& p)
{
    AdjustmentLayer layer;
    initLayerDefaults(&layer);
    fillLayerFromParams(&layer, p);
    VxlEngineParams block;
    std::memset(&block, 0x5a, sizeof block);  // every byte must be written
    buildEngineBlock(&block, layer);
    return block;
}

int32_t wordAt(const VxlEngineParams& block, size_t offset)
{
    int32_t v;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(&block) + offset, 4);
    return v;
}

float floatAt(const VxlEngineParams& block, size_t offset)
{
    float v;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(&block) + offset, 4);
    return v;
}

TEST(EngineBlock, AQuietLayerSendsZerosWhereTheLayerHasNothingToSay)
{
    const VxlEngineParams block = blockOf(quietBlock());
    EXPECT_EQ(block.enable, 0);
    // The reserved stretches are always zero.
    for (size_t offset : {60u, 120u, 128u, 132u, 140u, 144u, 148u, 152u, 612u, 700u, 740u, 760u})
        EXPECT_EQ(wordAt(block, offset), 0) << offset;
    EXPECT_EQ(block.exposureStrength, 0);
    EXPECT_EQ(block.autoExposure, 0);
    EXPECT_EQ(block.skinDepthBias, 0);
    EXPECT_EQ(block.skinDepth, 0.0f);
}

// Each row switches on one thing in a quiet block and reads one word of the engine block.
struct BlockCase {
    const char* name;
    std::function<void(VXLParams&)> edit;
    size_t offset;
    int32_t expected;
};

TEST(EngineBlock, ValuesSwitchesAndGroupGating)
{
    const BlockCase cases[] = {
        {"exposure by strength", [](VXLParams& p) { p.bGroupTone = p.exposureOn = true; p.strength = 80; }, 28, 80},
        {"exposure by strength is on", [](VXLParams& p) { p.bGroupTone = p.exposureOn = true; }, 0, 1},
        {"automatic exposure sends no strength",
         [](VXLParams& p) { p.bGroupTone = p.exposureOn = p.ASSOn = true; p.strength = 80; }, 28, 0},
        {"automatic exposure asks the engine",
         [](VXLParams& p) { p.bGroupTone = p.exposureOn = p.ASSOn = true; }, 68, 1},
        {"exposure gated by Tone", [](VXLParams& p) { p.exposureOn = true; p.strength = 80; }, 28, 0},
        {"exposure gated: not on", [](VXLParams& p) { p.exposureOn = true; }, 0, 0},
        {"contrast 0.456 is 45", [](VXLParams& p) { p.bGroupTone = p.contrastOn = true; p.contrast = 0.456f; }, 40, 45},
        {"contrast switch", [](VXLParams& p) { p.bGroupTone = p.contrastOn = true; }, 32, 1},
        {"tint gated by Color", [](VXLParams& p) { p.tintOn = true; }, 4, 0},
        {"tint", [](VXLParams& p) { p.bGroupColor = p.tintOn = true; p.tintMethod = 3; }, 8, 3},
        {"vibrance", [](VXLParams& p) { p.bGroupColor = p.TCCOn = true; p.TCC = 40; }, 24, 40},
        {"noise removal alone turns the engine on", [](VXLParams& p) { p.bGroupDetails = p.noiseRemovalOn = true; }, 0, 1},
        {"noise removal at opacity 0 is off",
         [](VXLParams& p) { p.bGroupDetails = p.noiseRemovalOn = true; p.vexoOpacity = 0; }, 0, 0},
        {"noise strength", [](VXLParams& p) { p.bGroupDetails = p.noiseRemovalOn = true; p.noiseStrength = 33; }, 752, 33},
        {"dynamic range mode 1 without exposure or contrast", [](VXLParams& p) { p.iDynamicRangeMode = 1; }, 100, 0},
        {"dynamic range mode 1 with exposure",
         [](VXLParams& p) { p.iDynamicRangeMode = 1; p.bGroupTone = p.exposureOn = true; }, 100, 1},
        {"dynamic range mode 2", [](VXLParams& p) { p.iDynamicRangeMode = 2; p.bGroupTone = p.exposureOn = true; }, 100, 0},
        {"dynamic range mode 3", [](VXLParams& p) { p.iDynamicRangeMode = 3; }, 100, 1},
        {"skin depth bias", [](VXLParams& p) { p.bGroupSkintone = p.skinDepthOn = true; p.skinDepthBias = 7; }, 44, 7},
        {"skin depth bias gated", [](VXLParams& p) { p.skinDepthOn = true; p.skinDepthBias = 7; }, 44, 0},
        {"highlight preservation", [](VXLParams& p) { p.bHighlightPreservation = true; }, 56, 1},
        {"face-aware exposure", [](VXLParams& p) { p.bFAE = true; }, 72, 1},
        {"minimum strength", [](VXLParams& p) { p.MinStrength = 12; }, 124, 12},
        {"skin-tone exposure", [](VXLParams& p) { p.bGroupSkintone = p.bSkintone = true; p.iSkintoneStrengthExposure = 9; }, 136, 9},
        {"local contrast value", [](VXLParams& p) { p.iLocalContrast = 21; }, 116, 21},
        {"selective colour switch", [](VXLParams& p) { p.bGroupSelectiveColor = p.bSelectiveColor = true; }, 156, 1},
        {"selective colour record 2 hue",
         [](VXLParams& p) { p.selectiveColor[2].hue = -17; }, 160 + 2 * 28 + 16, -17},
        {"black and white switch", [](VXLParams& p) { p.bGroupBlackWhite = p.bSelectiveColor2 = true; }, 384, 1},
        {"black and white record 7 lightness",
         [](VXLParams& p) { p.blackWhite[7].lightness = 23; }, 388 + 7 * 28 + 24, 23},
        {"AI colour density", [](VXLParams& p) { p.dp2_iDensity = 5; }, 764, 5},
        {"AI colour enable", [](VXLParams& p) { p.dp2_bEnable = true; }, 800, 1},
        {"AI colour automatic", [](VXLParams& p) { p.dp2_bAuto = true; }, 796, 1},
    };
    for (const BlockCase& c : cases) {
        VXLParams p = quietBlock();
        c.edit(p);
        EXPECT_EQ(wordAt(blockOf(p), c.offset), c.expected) << c.name;
    }
}

TEST(EngineBlock, FloatsAreScaledAsTheEngineReadsThem)
{
    VXLParams p = quietBlock();
    p.bGroupSkintone = p.skinDepthOn = true;
    p.skinDepth = 35;
    p.iLightDiffusion = 40;
    p.iFidelity = 250;
    p.shrp_scal_1 = 0.75f;
    p.dp2_fGamma = 1.25f;
    const VxlEngineParams block = blockOf(p);
    EXPECT_FLOAT_EQ(floatAt(block, 48), 0.35f);
    EXPECT_FLOAT_EQ(floatAt(block, 96), 0.40f);
    EXPECT_FLOAT_EQ(floatAt(block, 112), 2.5f);
    EXPECT_FLOAT_EQ(floatAt(block, 64), 0.75f);
    EXPECT_FLOAT_EQ(floatAt(block, 780), 1.25f);
}

TEST(EngineBlock, TheDefaultBlocksTurnTheEngineOnWithTheirDefaults)
{
    for (bool photo : {false, true}) {
        VXLParams p;
        defaultParams(&p, photo);
        AdjustmentLayer layer;
        initLayerDefaults(&layer);
        fillLayerFromParams(&layer, p);
        VxlEngineParams block;
        buildEngineBlock(&block, layer);
        EXPECT_EQ(block.enable, hasEngineEffect(layer) && layer.vexoOpacity >= 1 ? 1 : 0) << photo;
        EXPECT_EQ(block.aggressive, layer.aggressive);
        EXPECT_EQ(block.governor, layer.governor);
        EXPECT_EQ(block.noiseDetail, layer.noiseDetail);
    }
}

// ---- Pixel formats ----

ImageView viewOf(int format, int width, int rowBytes)
{
    ImageView v{};
    v.format = format;
    v.width = width;
    v.height = 1;
    v.rowBytes = rowBytes;
    return v;
}

TEST(EnginePixels, FormatCodesFollowSampleSizeRowBytesAndChannelOrder)
{
    struct Case {
        int format, rowBytes;
        bool bgr;
        int32_t code;
        bool four;
    } const cases[] = {
        {kImageFormat8, 400, false, 2, true},  {kImageFormat8, 400, true, 5, true},
        {kImageFormat8, 300, false, 1, false}, {kImageFormat8, 300, true, 0, false},
        {kImageFormat16, 800, false, 7, true}, {kImageFormat16, 800, true, 4, true},
        {kImageFormat16, 600, false, 6, false}, {kImageFormat16, 600, true, 3, false},
        {kImageFormat16, 400, false, 6, false},  // 4 bytes a pixel of 16-bit samples: three channels
    };
    for (const Case& c : cases) {
        const ImageView v = viewOf(c.format, 100, c.rowBytes);
        EXPECT_EQ(engineFormatCode(v, c.bgr), c.code) << c.format << " " << c.rowBytes << " " << c.bgr;
        EXPECT_EQ(isFourChannel(v), c.four);
    }
    const int bytes[8] = {3, 3, 4, 6, 8, 4, 6, 8};
    for (int code = 0; code < 8; ++code)
        EXPECT_EQ(engineBytesPerPixel(code), bytes[code]) << code;
    EXPECT_EQ(engineBytesPerPixel(99), 3);
}

// ---- Sharpening and the scaled copy ----

TEST(EngineSharpen, AutomaticStrengthBendsTheAmountTowards150OrZero)
{
    EXPECT_EQ(automaticSharpenStrength(60, 50), 105);
    EXPECT_EQ(automaticSharpenStrength(60, -50), 30);
    EXPECT_EQ(automaticSharpenStrength(60, 100), 150);
    EXPECT_EQ(automaticSharpenStrength(60, -100), 0);
    EXPECT_EQ(automaticSharpenStrength(60, 0), 60);
}

TEST(EngineScaledCopy, AFitKeepsTheAspectInsideASquareBox)
{
    struct Case {
        int sw, sh, bw, bh, w, h;
    } const cases[] = {
        {4000, 3000, 1000, 1000, 1000, 750},
        {3000, 4000, 1000, 1000, 750, 1000},
        {1000, 1000, 500, 500, 500, 500},
    };
    for (const Case& c : cases) {
        int w = c.bw, h = c.bh;
        fitIntoBox(c.sw, c.sh, &w, &h);
        EXPECT_EQ(w, c.w);
        EXPECT_EQ(h, c.h);
    }
}

// A stand-in engine with call records, for the calls that need no real pixels.
struct FakeEngine {
    static inline int applies = 0, sharpens = 0, resizes = 0, lastStrength = 0;
    static inline void* handedRecord = nullptr;
    static inline int32_t answer = VXL_OK;

    static int32_t apply(const VxlEngineImage*, VxlEngineHandle, const VxlProfile*, VxlEngineParams* params, void*,
                         int32_t, void*)
    {
        ++applies;
        params->exposureStrength = 123;
        return answer;
    }
    static int32_t sharpen(const VxlEngineImage*, int32_t strength, float, int32_t)
    {
        ++sharpens;
        lastStrength = strength;
        return answer;
    }
    static int32_t autoSharpness(const VxlEngineImage*, int32_t, float* amount, int32_t*, int32_t*, int32_t)
    {
        *amount = 60.0f;
        return VXL_OK;
    }
    static int32_t resize(const VxlEngineImage*, const VxlEngineImage* target)
    {
        ++resizes;
        std::memset(target->pixels, 7, size_t(target->rowBytes) * target->height);
        return answer;
    }
    static int32_t crop(const VxlEngineImage*, VxlEngineImage*, int32_t*, int32_t*) { return VXL_OK; }
    static void setFilterRecord(void* record) { handedRecord = record; }

    FakeEngine()
    {
        applies = sharpens = resizes = lastStrength = 0;
        handedRecord = nullptr;
        answer = VXL_OK;
        entries.VXL_Apply = apply;
        entries.VXL_Sharpen = sharpen;
        entries.VXL_CalcAutoSharpness = autoSharpness;
        entries.VXL_Resize = resize;
        entries.VXL_CropToFill = crop;
        entries._SetFilterRecord = setFilterRecord;
    }
    EngineCalls calls(bool handOver = true) const { return EngineCalls{&entries, nullptr, handOver}; }

    EngineEntryPoints entries;
};

TEST(EngineAdjust, RunsOnlyWithAProfileAndReportsTheStrengthOnRequest)
{
    FakeEngine fake;
    uint8_t pixels[12] = {};
    ImageView image = viewOf(kImageFormat8, 4, 12);
    image.data[0] = pixels;
    AdjustmentLayer layer;
    initLayerDefaults(&layer);
    const VxlProfile* profile = reinterpret_cast<const VxlProfile*>(pixels);  // opaque to the platform
    int strength = -1;
    int host = 0;

    EXPECT_FALSE(engineAdjust(fake.calls(), layer, image, nullptr, &host, true, &strength, false));
    EXPECT_EQ(FakeEngine::applies, 0);
    EXPECT_EQ(FakeEngine::handedRecord, &host);  // the host record goes over before anything else

    EXPECT_TRUE(engineAdjust(fake.calls(), layer, image, profile, nullptr, false, &strength, false));
    EXPECT_EQ(strength, -1);
    EXPECT_TRUE(engineAdjust(fake.calls(), layer, image, profile, nullptr, true, &strength, false));
    EXPECT_EQ(strength, 123);

    FakeEngine::handedRecord = nullptr;
    FakeEngine::answer = VXL_ERR_FORMAT;
    strength = -1;
    EXPECT_FALSE(engineAdjust(fake.calls(false), layer, image, profile, &host, true, &strength, false));
    EXPECT_EQ(strength, -1);
    EXPECT_EQ(FakeEngine::handedRecord, nullptr);  // the platform did not allow the hand-over
}

TEST(EngineSharpen, DisabledMissingAndAutomatic)
{
    FakeEngine fake;
    const VxlEngineImage image{};
    EXPECT_TRUE(sharpen(fake.calls(), image, false, false, 50, 1.0f, 0));
    EXPECT_EQ(FakeEngine::sharpens, 0);
    EXPECT_TRUE(sharpen(fake.calls(), image, true, true, 50, 1.0f, 0));
    EXPECT_EQ(FakeEngine::lastStrength, 105);
    EXPECT_TRUE(sharpen(fake.calls(), image, true, false, 50, 1.0f, 0));
    EXPECT_EQ(FakeEngine::lastStrength, 50);
    FakeEngine::answer = VXL_ERR_ARGUMENT;
    EXPECT_FALSE(sharpen(fake.calls(), image, true, false, 50, 1.0f, 0));
    fake.entries.VXL_CalcAutoSharpness = nullptr;
    EXPECT_FALSE(sharpen(fake.calls(), image, true, false, 50, 1.0f, 0));
}

TEST(EngineScaledCopy, AllocatesTheFittedTargetAndFreesItOnFailure)
{
    FakeEngine fake;
    VxlEngineImage source{4000, 3000, 4000 * 4, VXL_PIXEL_RGBA8, nullptr};
    VxlEngineImage target{};
    ASSERT_TRUE(scaledCopy(fake.calls(), source, &target, 100, 100, false));
    EXPECT_EQ(target.width, 100);
    EXPECT_EQ(target.height, 75);
    EXPECT_EQ(target.rowBytes, 400);
    EXPECT_EQ(target.format, VXL_PIXEL_RGBA8);
    ASSERT_NE(target.pixels, nullptr);
    EXPECT_EQ(static_cast<uint8_t*>(target.pixels)[400 * 75 - 1], 7);
    std::free(target.pixels);

    FakeEngine::answer = VXL_ERR_MEMORY;
    EXPECT_FALSE(scaledCopy(fake.calls(), source, &target, 100, 100, false));
    EXPECT_EQ(target.pixels, nullptr);
    FakeEngine::answer = VXL_OK;
    EXPECT_FALSE(scaledCopy(fake.calls(), source, &target, 0, 100, false));
    EXPECT_FALSE(scaledCopy(fake.calls(), source, &target, -5, -5, true));
    fake.entries.VXL_CropToFill = nullptr;
    EXPECT_FALSE(scaledCopy(fake.calls(), source, &target, 100, 100, false));
    EXPECT_EQ(FakeEngine::resizes, 2);
}

// ---- Channel swaps and copies ----

TEST(EngineSwaps, AnEightBitViewIsSwappedOnceAndMarkedBlueFirst)
{
    uint8_t pixels[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ImageView v = viewOf(kImageFormat8, 2, 8);
    v.bytesPerPixel = 4;
    v.data[0] = pixels;
    swapRedBlue8Once(&v);
    swapRedBlue8Once(&v);
    const uint8_t once[8] = {3, 2, 1, 4, 7, 6, 5, 8};
    EXPECT_EQ(std::memcmp(pixels, once, 8), 0);
    EXPECT_EQ(v.hostOrder, 1);

    uint16_t wide[3] = {1, 2, 3};
    ImageView w = viewOf(kImageFormat16, 1, 6);
    w.bytesPerPixel = 6;
    w.data[0] = reinterpret_cast<uint8_t*>(wide);
    swapRedBlue8Once(&w);
    EXPECT_EQ(wide[0], 1);
    EXPECT_EQ(w.hostOrder, 0);
}

TEST(EngineSwaps, SixteenBitSwapOnlyForFourChannelBlueFirstAndItsOwnInverse)
{
    uint16_t pixels[8] = {10, 20, 30, 40, 50, 60, 70, 80};
    ImageView v = viewOf(kImageFormat16, 2, 16);
    v.bytesPerPixel = 8;
    v.data[0] = reinterpret_cast<uint8_t*>(pixels);
    swapRedBlue16(v, false);
    EXPECT_EQ(pixels[0], 10);
    swapRedBlue16(v, true);
    const uint16_t swapped[8] = {30, 20, 10, 40, 70, 60, 50, 80};
    EXPECT_EQ(std::memcmp(pixels, swapped, sizeof pixels), 0);
    swapRedBlue16(v, true);
    EXPECT_EQ(pixels[0], 10);
    EXPECT_EQ(pixels[6], 70);

    uint16_t three[3] = {1, 2, 3};
    ImageView t = viewOf(kImageFormat16, 1, 6);
    t.data[0] = reinterpret_cast<uint8_t*>(three);
    swapRedBlue16(t, true);
    EXPECT_EQ(three[0], 1);
}

TEST(EngineSwaps, TheEightBitCopyKeepsTheHighBytesOfThreeSamples)
{
    const uint16_t pixels[8] = {0x1234, 0xabcd, 0xff00, 0x9999, 0x0100, 0x0200, 0x0300, 0x0400};
    ImageView source = viewOf(kImageFormat16, 2, 16);
    source.hasAlpha = 1;
    source.data[0] = reinterpret_cast<uint8_t*>(const_cast<uint16_t*>(pixels));
    ImageView copy;
    ASSERT_TRUE(copy16To8(&copy, source));
    EXPECT_EQ(copy.format, kImageFormat8);
    EXPECT_EQ(copy.rowBytes, 6);
    EXPECT_EQ(copy.bytesPerPixel, 3);
    EXPECT_EQ(copy.hasAlpha, 0);
    const uint8_t expected[6] = {0x12, 0xab, 0xff, 0x01, 0x02, 0x03};
    EXPECT_EQ(std::memcmp(copy.data[0], expected, 6), 0);
    std::free(copy.data[0]);

    ImageView eight = viewOf(kImageFormat8, 2, 6);
    eight.data[0] = reinterpret_cast<uint8_t*>(const_cast<uint16_t*>(pixels));
    EXPECT_FALSE(copy16To8(&copy, eight));
    EXPECT_EQ(copy.data[0], nullptr);
}

}  // namespace
