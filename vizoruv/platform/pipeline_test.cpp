#include "vizoruv/platform/pipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vizoruv/adjust/adjustment_set.h"
#include "vizoruv/adjust/lut_catalogue.h"
#include "sys/dynlib/dynlib.h"
#include "vizoruv/adjust/testing/lut_test_files.h"
#include "vizoruv/io/host_filter_record.h"
#include "vizoruv/io/testing/io_test_support.h"
#include "vizoruv/platform/correction_report.h"
#include "vizoruv/platform/engine_session.h"
#include "vizoruv/platform/testing/face_mesh_record.h"
#include "vizoruv/platform/testing/module_folder.h"
#include "vizoruv/platform/testing/rgba_view.h"
#include "vizoruv/platform/vxl_platform_win.h"

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;

// An 8-bit R, G, B, A picture, dark so that the engine's exposure brightens it.
struct Picture {
    std::vector<uint8_t> pixels = std::vector<uint8_t>(size_t(kWidth) * kHeight * 4);

    Picture()
    {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                uint8_t* p = at(x, y);
                p[0] = uint8_t(20 + x);
                p[1] = uint8_t(15 + y);
                p[2] = uint8_t(30 + (x + y) / 2);
                p[3] = 200;
            }
    }
    uint8_t* at(int x, int y) { return pixels.data() + (size_t(y) * kWidth + x) * 4; }
    const uint8_t* at(int x, int y) const { return pixels.data() + (size_t(y) * kWidth + x) * 4; }

    ImageView view() { return platform_test::rgbaView(pixels, kWidth, kHeight); }

    // Sum of the three colours of every pixel.
    uint64_t brightness() const
    {
        uint64_t sum = 0;
        for (size_t i = 0; i < pixels.size(); i += 4)
            sum += pixels[i] + pixels[i + 1] + pixels[i + 2];
        return sum;
    }
    bool alphaKept() const
    {
        for (size_t i = 3; i < pixels.size(); i += 4)
            if (pixels[i] != 200)
                return false;
        return true;
    }
};

// Largest difference of a colour sample between two pictures, with the expected change applied to
// the reference.
int largestDifference(const Picture& a, const Picture& reference, const std::function<int(int)>& change = {})
{
    int largest = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        if (i % 4 == 3)
            continue;
        const int expected = change ? change(reference.pixels[i]) : reference.pixels[i];
        largest = std::max(largest, std::abs(int(a.pixels[i]) - expected));
    }
    return largest;
}

// Every switch off, at full opacity.
VXLParams quietBlock()
{
    VXLParams p{};
    p.version = 6;
    p.vexoOpacity = 100;
    return p;
}

AdjustmentLayer layerOf(const std::function<void(VXLParams&)>& edit = {})
{
    VXLParams p = quietBlock();
    if (edit)
        edit(p);
    AdjustmentLayer layer;
    initLayerDefaults(&layer);
    fillLayerFromParams(&layer, p);
    return layer;
}

void brighten(VXLParams& p)
{
    p.bGroupTone = p.exposureOn = true;
    p.strength = 150;
}

void smoothFaces(VXLParams& p)
{
    p.bGroupSkin = p.fbSmoothOn = true;
    p.fbSmooth = 50;
}

luttest::Colour inverted(float r, float g, float b)
{
    return {1.0f - r, 1.0f - g, 1.0f - b};
}

// Hooks record what they saw, in order.
struct HookLog {
    static inline std::vector<std::string> calls;
    static inline std::vector<Picture> facePictures;

    static bool face(EngineSession*, const ImageView& image, const AdjustmentLayer&, bool)
    {
        calls.push_back("face");
        Picture seen;
        for (int y = 0; y < image.height; ++y)
            std::memcpy(seen.at(0, y), image.data[0] + size_t(y) * image.rowBytes, size_t(kWidth) * 4);
        facePictures.push_back(seen);
        return true;
    }
    static bool portraitLight(EngineSession*, const ImageView&, bool, int, int, int)
    {
        calls.push_back("portrait light");
        return true;
    }
    // Masks: the left half of the drawing (first byte 255), or all of it.
    static std::vector<uint8_t> leftHalf(const LayerMask&, float, float* scale, int side)
    {
        *scale = 1.0f;
        std::vector<uint8_t> plane(size_t(side) * side * 3, 0);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side / 2; ++x)
                plane[(size_t(y) * side + x) * 3] = 255;
        return plane;
    }
    static std::vector<uint8_t> everywhere(const LayerMask&, float, float* scale, int side)
    {
        *scale = 1.0f;
        return std::vector<uint8_t>(size_t(side) * side * 3, 255);
    }
    static void clear()
    {
        calls.clear();
        facePictures.clear();
    }
};

struct Progress {
    static inline std::vector<std::pair<int, int>> calls;
    static inline int cancelAt = -1;  // the call index whose answer cancels

    static int callback(int step, int total, void*)
    {
        calls.emplace_back(step, total);
        return int(calls.size()) - 1 == cancelAt ? 1 : 0;
    }
};

class Pipeline : public ::testing::Test {
protected:
    void SetUp() override
    {
        modules.addBuilt(VXL_ENGINE_FILE);
        modules.addBuilt(RE_LIBRARY_FILE);
        platform = static_cast<VXLPlatformWin*>(
            VxlPlatformCreate("Test", modules.path().c_str(), scratch.path.c_str(), scratch.path.c_str(), 1, 0, 0));
        ASSERT_NE(platform, nullptr);
        session = std::make_unique<EngineSession>(platform);
        AnalysisRequest request;
        request.engineAnalysis = true;
        request.noiseDetection = true;
        const ImageView noFaces{};
        ASSERT_EQ(analyseImage(session.get(), picture.view(), picture.view(), noFaces, -1, "", true, nullptr, request),
                  kAnalysisOk);
        ASSERT_NE(session->profile, nullptr);
        original = picture;
        HookLog::clear();
        Progress::calls.clear();
        Progress::cancelAt = -1;
        stop.store(0);
    }
    void TearDown() override
    {
        session.reset();
        if (platform)
            platform->Release();
    }

    PipelineRun run(const AdjustmentSet* set = nullptr)
    {
        PipelineRun r;
        r.set = set;
        r.session = session.get();
        r.step = &step;
        r.total = set ? passCount(*set) * kStepsPerPass : kStepsPerPass;
        r.stopFlag = &stop;
        r.platform = platform;
        return r;
    }

    bool process(const AdjustmentLayer& layer, const uint8_t* source = nullptr, CorrectionReport* report = nullptr)
    {
        PipelineRun r = run();
        return processImage(picture.view(), layer, session.get(), report, source, r);
    }

    // A user LUT in the "Input" folder; answers its identifier.
    LutIdentifier userLut(const std::string& name, const luttest::ColourFn& fn)
    {
        std::filesystem::create_directories(scratch.file("Input"));
        std::ofstream(scratch.file("Input/" + name)) << luttest::cubeText(9, fn);
        return parseGuidHex(md5Hex("Input/./" + name));
    }

    // A built-in LUT under one of the pipeline's fixed keys.
    void builtInLut(const char* key, const std::string& name, const luttest::ColourFn& fn)
    {
        LutCollection& luts = platform->luts();
        std::filesystem::create_directories(luts.builtInFolder);
        std::ofstream(luts.builtInFolder + "/" + name) << luttest::cubeText(9, fn);
        luts.builtInCatalog[key] = name;
    }

    AdjustmentSet setOf(const std::vector<AdjustmentLayer>& layers, const std::vector<int>& maskTypes)
    {
        AdjustmentSet set;
        createAdjustmentSet(&set, int(layers.size()));
        for (size_t i = 0; i < layers.size(); ++i) {
            set.layers[i] = layers[i];
            set.masks[i].type = maskTypes[i];
        }
        return set;
    }

    ModuleFolder modules;
    io_test::ScratchFolder scratch;
    VXLPlatformWin* platform = nullptr;
    std::unique_ptr<EngineSession> session;
    Picture picture, original;
    int step = 0;
    std::atomic<uint8_t> stop{0};
};

// ---- Each step's effect ----

TEST_F(Pipeline, AnIdentityTableKeepsThePictureAndAKnownTableMapsIt)
{
    const LutIdentifier same = userLut("same.cube", luttest::identity);
    const LutIdentifier invert = userLut("invert.cube", inverted);

    ASSERT_TRUE(process(layerOf([&](VXLParams& p) {
        p.bGroupPreprocess = p.binLUT = true;
        p.inLUT = same;
        p.iInLUTstrength = 100;
    })));
    EXPECT_LE(largestDifference(picture, original), 1);

    picture = original;
    ASSERT_TRUE(process(layerOf([&](VXLParams& p) {
        p.bGroupPreprocess = p.binLUT = true;
        p.inLUT = invert;
        p.iInLUTstrength = 100;
    })));
    EXPECT_LE(largestDifference(picture, original, [](int v) { return 255 - v; }), 1);
    EXPECT_TRUE(picture.alphaKept());

    // The output table of the second group, and a strength of 0 that leaves the picture alone.
    picture = original;
    ASSERT_TRUE(process(layerOf([&](VXLParams& p) {
        p.bGroupLooks = p.boutLUT = true;
        p.outLUT = invert;
        p.iOutLUTstrength = 100;
    })));
    EXPECT_LE(largestDifference(picture, original, [](int v) { return 255 - v; }), 1);
    picture = original;
    ASSERT_TRUE(process(layerOf([&](VXLParams& p) {
        p.bGroupLooks = p.boutLUT = true;
        p.outLUT = invert;
        p.iOutLUTstrength = 0;
    })));
    EXPECT_EQ(picture.pixels, original.pixels);
}

TEST_F(Pipeline, ExposureUpRaisesLumaAndTheOpacityBlendBringsTheSourceBack)
{
    ASSERT_TRUE(process(layerOf(brighten)));
    const Picture full = picture;
    EXPECT_GT(full.brightness(), original.brightness() * 11 / 10);
    EXPECT_TRUE(full.alphaKept());

    picture = original;
    ASSERT_TRUE(process(layerOf(brighten), original.pixels.data()));  // opacity 100 keeps the result
    EXPECT_EQ(picture.pixels, full.pixels);

    picture = original;
    ASSERT_TRUE(process(layerOf([](VXLParams& p) { brighten(p); p.vexoOpacity = 50; }), original.pixels.data()));
    EXPECT_GT(picture.brightness(), original.brightness());
    EXPECT_LT(picture.brightness(), full.brightness());

    picture = original;
    ASSERT_TRUE(process(layerOf([](VXLParams& p) { brighten(p); p.vexoOpacity = 0; }), original.pixels.data()));
    EXPECT_EQ(picture.pixels, original.pixels);
}

TEST_F(Pipeline, TheStrengthTheEngineChoseGoesIntoTheReport)
{
    CorrectionReport report{};
    ASSERT_TRUE(process(layerOf([](VXLParams& p) {
                            brighten(p);
                            p.ASSOn = true;
                            p.aggressive = 20;
                            p.MinStrength = 0;
                        }),
                        nullptr, &report));
    const auto* bytes = reinterpret_cast<const uint8_t*>(&report);
    int32_t strength;
    std::memcpy(&strength, bytes + 8, 4);
    EXPECT_EQ(bytes[4], 1);
    EXPECT_EQ(strength, 120);  // the stand-in engine's automatic strength: 100 + aggressive
    EXPECT_GT(picture.brightness(), original.brightness());
}

TEST_F(Pipeline, ToneCurvesOfTheFinishingStepAndTheOutputTable)
{
    ASSERT_TRUE(process(layerOf([](VXLParams& p) {
        p.bGroupFinishing = p.bFinishExposure = true;
        p.iFinishExposure = 50;
    })));
    EXPECT_GT(picture.brightness(), original.brightness());

    // The black point alone bends the blacks of the finishing curve.
    picture = original;
    ASSERT_TRUE(process(layerOf([](VXLParams& p) {
        p.bGroupTone = p.bToneBlackPoint = true;
        p.iToneBlackPoint = 60;
    })));
    EXPECT_NE(picture.pixels, original.pixels);

    // Contrast bends the copy of an identity output table.
    const LutIdentifier same = userLut("same.cube", luttest::identity);
    picture = original;
    ASSERT_TRUE(process(layerOf([&](VXLParams& p) {
        p.bGroupLooks = p.boutLUT = true;
        p.outLUT = same;
        p.iOutLUTstrength = 100;
        p.iOutLUTcontrast = 80;
    })));
    EXPECT_GT(largestDifference(picture, original), 2);
    // The catalogue's table itself stays as read: without contrast it is the identity again.
    picture = original;
    ASSERT_TRUE(process(layerOf([&](VXLParams& p) {
        p.bGroupLooks = p.boutLUT = true;
        p.outLUT = same;
        p.iOutLUTstrength = 100;
    })));
    EXPECT_LE(largestDifference(picture, original), 1);
}

TEST_F(Pipeline, FinishingTablesArePickedByTheSignOfTheirValue)
{
    builtInLut(kLutKeySaturationSecond, "saturation-minus.cube", inverted);
    const auto saturation = [](int value) {
        return layerOf([value](VXLParams& p) {
            p.bGroupFinishing = p.bFinishSaturation = true;
            p.iFinishSaturation = value;
        });
    };
    ASSERT_TRUE(process(saturation(-30)));  // the negative table at strength 30
    EXPECT_LE(largestDifference(picture, original, [](int v) { return v + int(std::lround(0.3 * (255 - 2 * v))); }), 2);

    for (int value : {0, 30}) {  // 0: the negative table at 0; 30: the positive table, which is missing
        picture = original;
        ASSERT_TRUE(process(saturation(value)));
        EXPECT_EQ(picture.pixels, original.pixels) << value;
    }
}

TEST(PipelineSteps, ChannelOffsetsClampPerChannelAndFollowTheChannelOrder)
{
    struct Case {
        bool sixteen, bgr;
        std::vector<int> pixel, offsets, expected;
    } const cases[] = {
        {false, false, {250, 10, 128}, {10, -20, 0}, {255, 0, 128}},
        {false, true, {250, 10, 128}, {10, -20, 0}, {250, 0, 138}},
        {true, false, {64000, 2000, 0}, {10, -10, 0}, {65535, 0, 0}},
        {true, false, {1000, 2000, 3000}, {1, 0, -1}, {1256, 2000, 2744}},
    };
    for (const Case& c : cases) {
        uint8_t bytes[16] = {};
        ImageView v{};
        v.format = c.sixteen ? kImageFormat16 : kImageFormat8;
        v.width = 1;
        v.height = 1;
        v.rowBytes = c.sixteen ? 8 : 4;
        v.data[0] = bytes;
        for (int i = 0; i < 4; ++i) {
            const int value = i < 3 ? c.pixel[i] : 77;
            if (c.sixteen) {
                const uint16_t s = uint16_t(value);
                std::memcpy(bytes + i * 2, &s, 2);
            } else {
                bytes[i] = uint8_t(value);
            }
        }
        applyChannelOffsets(v, c.offsets[0], c.offsets[1], c.offsets[2], c.bgr);
        for (int i = 0; i < 4; ++i) {
            uint16_t s = bytes[i];
            if (c.sixteen)
                std::memcpy(&s, bytes + i * 2, 2);
            EXPECT_EQ(int(s), i < 3 ? c.expected[i] : 77) << c.sixteen << c.bgr << " sample " << i;
        }
    }
}

TEST(PipelineSteps, LocalContrastRadiusGrowsWithTheImage)
{
    EXPECT_EQ(localContrastRadius(500, 500), 25);
    EXPECT_EQ(localContrastRadius(1000, 1000), 35);
    EXPECT_EQ(localContrastRadius(2000, 2000), 50);
    EXPECT_EQ(localContrastRadius(1359, 1359), 48);
}

TEST_F(Pipeline, RedEyeCorrectionNeedsFoundRegions)
{
    EXPECT_FALSE(correctRedEyes(session.get(), picture.view(), false));
    session->redEyeFound = true;  // found, but the list is empty: nothing to do
    EXPECT_TRUE(correctRedEyes(session.get(), picture.view(), false));
    EXPECT_EQ(picture.pixels, original.pixels);
}

// The caller's object that takes over the dynamic colour model.
struct ColourModelObject final : PipelineUserObject {
    int calls = 0;
    int amount = 0, whiteBalance = 0;
    const uint8_t* pixels = nullptr;
    const int32_t* globalTable = &amount;  // overwritten by the call
    bool answer = true;

    bool applyDynamicColour(uint8_t* p, bool, bool, bool is4ch, int, int, int, const int32_t* global, const int32_t*,
                            const uint8_t*, int a, int wb) override
    {
        ++calls;
        pixels = p;
        globalTable = global;
        amount = a;
        whiteBalance = wb;
        EXPECT_TRUE(is4ch);
        if (answer)
            p[0] = 0;  // it did the step
        return answer;
    }
};

TEST_F(Pipeline, TheCallersObjectIsOfferedTheColourModelStep)
{
    ColourModelObject object;
    platform->SetUserData(&object);
    const AdjustmentLayer layer = layerOf([](VXLParams& p) {
        p.bDynamic = true;
        p.iDynamic = 70;
        p.iDynamicWB = 30;
    });
    ASSERT_TRUE(process(layer));
    EXPECT_EQ(object.calls, 1);
    EXPECT_EQ(object.pixels, picture.pixels.data());
    EXPECT_EQ(object.amount, 70);
    EXPECT_EQ(object.whiteBalance, 30);
    EXPECT_EQ(object.globalTable, nullptr);  // no detector ran, so the analysis made no model
    EXPECT_EQ(picture.at(0, 0)[0], 0);

    // Declined, and without model tables, the step changes nothing.
    object.answer = false;
    picture = original;
    ASSERT_TRUE(process(layer));
    EXPECT_EQ(object.calls, 2);
    EXPECT_EQ(picture.pixels, original.pixels);

    // Amount 0 asks nobody.
    ASSERT_TRUE(process(layerOf([](VXLParams& p) { p.bDynamic = true; })));
    EXPECT_EQ(object.calls, 2);
    platform->SetUserData(nullptr);
}

// ---- Order of the steps and of the layers ----

TEST_F(Pipeline, StepsRunInTheirOrder)
{
    platform->setPipelineHooks({&HookLog::face, &HookLog::portraitLight, nullptr});
    const LutIdentifier invert = userLut("invert.cube", inverted);
    ASSERT_TRUE(process(layerOf([&](VXLParams& p) {
        p.bGroupPreprocess = p.binLUT = p.bGroupLooks = p.boutLUT = true;
        p.inLUT = p.outLUT = invert;
        p.iInLUTstrength = p.iOutLUTstrength = 100;
        p.bGroupQuickCorrect = true;
        p.iDeltaR = 40;
        p.bGroupFace = p.bPortraitLight = true;
        p.bGroupColor = p.TCCOn = true;  // an engine effect, so the engine step and its portrait light run
        p.TCC = 0;
        smoothFaces(p);
    })));
    ASSERT_EQ(HookLog::calls, (std::vector<std::string>{"portrait light", "face"}));
    // The face pass sees the first table group's work, but not the second group's nor the offsets.
    EXPECT_LE(largestDifference(HookLog::facePictures[0], original, [](int v) { return 255 - v; }), 1);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            EXPECT_NEAR(picture.at(x, y)[0], std::min(255, original.at(x, y)[0] + 40), 1);
            EXPECT_NEAR(picture.at(x, y)[1], original.at(x, y)[1], 1);
        }
}

TEST_F(Pipeline, FurtherLayersStartFromTheFirstResultOrFromTheBlendedImage)
{
    platform->setPipelineHooks({nullptr, nullptr, &HookLog::everywhere});
    const auto offset = [](int r, int g, int b) {
        return layerOf([=](VXLParams& p) {
            p.bGroupQuickCorrect = true;
            p.iDeltaR = r;
            p.iDeltaG = g;
            p.iDeltaB = b;
        });
    };
    // Layers 1 and 2 each start from the first layer's result, so layer 2 replaces layer 1's red;
    // layer 3 starts from the blended image and keeps layer 2's green. (A full mask takes all but
    // 1/256 of the layer, hence the tolerance.)
    AdjustmentSet set = setOf({offset(0, 0, 0), offset(10, 0, 0), offset(0, 10, 0), offset(0, 0, 10)}, {1, 1, 1, 1});
    PipelineRun r = run(&set);
    ASSERT_TRUE(renderAdjustmentSet(picture.view(), r));
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            ASSERT_NEAR(picture.at(x, y)[0], original.at(x, y)[0], 1) << x << "," << y;
            ASSERT_NEAR(picture.at(x, y)[1], original.at(x, y)[1] + 10, 1) << x << "," << y;
            ASSERT_NEAR(picture.at(x, y)[2], original.at(x, y)[2] + 10, 1) << x << "," << y;
        }
    EXPECT_TRUE(picture.alphaKept());
}

TEST_F(Pipeline, LayersWithoutAMaskAreSkipped)
{
    platform->setPipelineHooks({&HookLog::face, nullptr, &HookLog::everywhere});
    const AdjustmentLayer face = layerOf(smoothFaces);
    AdjustmentSet onlyFirst = setOf({face, face, face, face}, {1, 0, 0, 0});
    PipelineRun r = run(&onlyFirst);
    ASSERT_TRUE(renderAdjustmentSet(picture.view(), r));
    EXPECT_EQ(HookLog::calls.size(), 1u);

    HookLog::clear();
    AdjustmentSet firstAndThird = setOf({face, face, face}, {1, 0, 1});
    r = run(&firstAndThird);
    ASSERT_TRUE(renderAdjustmentSet(picture.view(), r));
    EXPECT_EQ(HookLog::calls.size(), 2u);

    // A bypassed set renders nothing and answers true.
    HookLog::clear();
    AdjustmentSet bypassed = setOf({face, face}, {1, 1});
    bypassed.bypass = true;
    r = run(&bypassed);
    EXPECT_TRUE(renderAdjustmentSet(picture.view(), r));
    EXPECT_TRUE(HookLog::calls.empty());
}

TEST_F(Pipeline, AMaskedLayerChangesThePictureOnlyInsideItsMask)
{
    platform->setPipelineHooks({nullptr, nullptr, &HookLog::leftHalf});
    const AdjustmentLayer redder = layerOf([](VXLParams& p) {
        p.bGroupQuickCorrect = true;
        p.iDeltaR = 60;
    });
    AdjustmentSet set = setOf({layerOf(), redder}, {1, 1});
    PipelineRun r = run(&set);
    ASSERT_TRUE(renderAdjustmentSet(picture.view(), r));
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth / 4; ++x)
            ASSERT_NEAR(picture.at(x, y)[0], original.at(x, y)[0] + 60, 1) << x << "," << y;
        for (int x = kWidth * 3 / 4; x < kWidth; ++x)
            ASSERT_EQ(std::memcmp(picture.at(x, y), original.at(x, y), 4), 0) << x << "," << y;
    }

    // Without a mask rasteriser the further layer has no mask to go through: the first layer alone.
    platform->setPipelineHooks(PipelineHooks());
    picture = original;
    r = run(&set);
    ASSERT_TRUE(renderAdjustmentSet(picture.view(), r));
    EXPECT_EQ(picture.pixels, original.pixels);
}

// ---- Whole-image finishing steps ----

TEST_F(Pipeline, LocalContrastAndSharpeningWorkOnTheWholeImage)
{
    // A hard edge down the middle, so that both passes have detail to work on.
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            std::memset(picture.at(x, y), x < kWidth / 2 ? 60 : 180, 3);
    const Picture edge = picture;
    for (const auto& edit : std::vector<std::function<void(VXLParams&)>>{
             [](VXLParams& p) { p.bGroupTone = p.bLocalContrast = true; p.iLocalContrast = 80; },
             [](VXLParams& p) { p.bGroupDetails = p.sharpenOn = true; p.shrp_scal_1 = 1.5f; }}) {
        picture = edge;
        AdjustmentSet set = setOf({layerOf(edit)}, {1});
        PipelineRun r = run(&set);
        ASSERT_TRUE(renderAdjustmentSet(picture.view(), r));
        // Sharper: the dark side next to the edge gets darker, the bright side brighter.
        EXPECT_LT(picture.at(kWidth / 2 - 1, kHeight / 2)[0], 60);
        EXPECT_GT(picture.at(kWidth / 2, kHeight / 2)[0], 180);
        EXPECT_TRUE(picture.alphaKept());
    }
}

TEST_F(Pipeline, TheBackgroundColourIsReportedAndSynchronised)
{
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            picture.at(x, y)[0] = 40;
            picture.at(x, y)[1] = 80;
            picture.at(x, y)[2] = 120;
        }
    CorrectionReport report{};
    report.force = 1;
    AdjustmentSet set = setOf({layerOf()}, {1});
    PipelineRun r = run(&set);
    r.report = &report;
    ASSERT_TRUE(renderAdjustmentSet(picture.view(), r));
    EXPECT_EQ(report.backgroundFound, 1);
    EXPECT_EQ(report.backgroundColour, 0x285078);
    EXPECT_EQ(picture.at(5, 5)[0], 40);  // reported only: the background stays

    set = setOf({layerOf([](VXLParams& p) {
                    p.bGroupFinishing = p.bgmOn = true;
                    p.bgmMode = 0xc82828;  // towards red
                    p.bgm_iBG = 100;
                    p.bgm_iTolerance = 30;
                })},
                {1});
    r = run(&set);
    ASSERT_TRUE(renderAdjustmentSet(picture.view(), r));
    EXPECT_GT(picture.at(5, 5)[0], 40);
    EXPECT_LT(picture.at(5, 5)[2], 120);
}

TEST_F(Pipeline, SixteenBitThreeChannelPicturesRunEveryStep)
{
    std::vector<uint16_t> wide(size_t(kWidth) * kHeight * 3);
    for (size_t i = 0; i < wide.size(); ++i)
        wide[i] = uint16_t(original.pixels[i / 3 * 4 + i % 3] * 257);
    const std::vector<uint16_t> before = wide;
    const ImageView v = platform_test::rgb16View(wide, kWidth, kHeight);
    PipelineRun r = run();
    ASSERT_TRUE(processImage(v, layerOf([](VXLParams& p) {
                                 brighten(p);
                                 p.bGroupQuickCorrect = true;
                                 p.iDeltaB = -1;
                             }),
                             session.get(), nullptr, nullptr, r));
    uint64_t sumBefore = 0, sumAfter = 0;
    for (size_t i = 0; i < wide.size(); ++i) {
        sumBefore += before[i];
        sumAfter += wide[i];
    }
    EXPECT_GT(sumAfter, sumBefore);
}

// Every picture the engine's adjustment gets, by the pixel-format code it was handed.
struct AppliedFormats {
    static inline PFN_VXL_Apply realApply = nullptr;
    static inline std::vector<int32_t> formats;

    static int32_t apply(const VxlEngineImage* image, VxlEngineHandle engine, const VxlProfile* profile,
                         VxlEngineParams* params, void* reserved, int32_t amount, void* reserved2)
    {
        formats.push_back(image->format);
        return realApply(image, engine, profile, params, reserved, amount, reserved2);
    }
    static void* symbol(void* library, const char* name)
    {
        void* found = sysDynlibDefaultMethods()->symbol(library, name);
        if (!found || std::strcmp(name, "VXL_Apply") != 0)
            return found;
        realApply = reinterpret_cast<PFN_VXL_Apply>(found);
        return reinterpret_cast<void*>(&apply);
    }
};

// A blue-first picture (a plug-in host's) is handed to the engine as blue first in every step, the
// noise pre-pass's and the portrait light's included, and comes out as its red-first twin.
TEST_F(Pipeline, BlueFirstPicturesReachTheEngineAsBlueFirst)
{
    SysDynlibMethods recording = *sysDynlibDefaultMethods();
    recording.symbol = &AppliedFormats::symbol;
    sysDynlibSetMethods(&recording);
    auto* watched = static_cast<VXLPlatformWin*>(
        VxlPlatformCreate("Test", modules.path().c_str(), scratch.path.c_str(), scratch.path.c_str(), 1, 0, 0));
    sysDynlibSetMethods(nullptr);
    ASSERT_NE(watched, nullptr);
    struct Release {
        VXLPlatformWin* platform;
        ~Release() { platform->Release(); }
    } release{watched};
    const std::vector<float> face = platform_test::faceRecord(0.5f, 0.5f, 0.4f);
    watched->SetFaceMesh(1, face.data());

    Picture twin = picture;
    for (size_t i = 0; i < twin.pixels.size(); i += 4)
        std::swap(twin.pixels[i], twin.pixels[i + 2]);
    const AdjustmentLayer layer = layerOf([](VXLParams& p) {
        p.dp2_bEnable = true;  // the AI colour pre-pass changes the colours, so the noise pre-pass runs
        p.dp2_iDeltaR = 10;
        p.bGroupDetails = p.noiseRemovalOn = true;
        p.noiseStrength = 80;
        brighten(p);
        p.bGroupFace = p.bPortraitLight = true;
        p.iPortraitLight = 60;
        p.iPortraitLightDepth = 30;
    });
    for (const bool blueFirst : {false, true}) {
        SCOPED_TRACE(blueFirst ? "blue first" : "red first");
        Picture& rendered = blueFirst ? twin : picture;
        EngineSession analysed(watched);
        AnalysisRequest request;
        request.engineAnalysis = request.noiseDetection = true;
        request.bgrOrder = blueFirst;
        ASSERT_EQ(analyseImage(&analysed, rendered.view(), rendered.view(), ImageView{}, -1, "", true, nullptr, request),
                  kAnalysisOk);
        PipelineRun r = run();
        r.platform = watched;
        r.session = &analysed;
        r.bgrOrder = blueFirst;
        AppliedFormats::formats.clear();
        ASSERT_TRUE(processImage(rendered.view(), layer, &analysed, nullptr, nullptr, r));
        EXPECT_EQ(AppliedFormats::formats.size(), 4u);  // AI colour, noise, the engine step, the portrait light
        for (const int32_t format : AppliedFormats::formats)
            EXPECT_EQ(format, blueFirst ? VXL_PIXEL_BGRA8 : VXL_PIXEL_RGBA8);
    }
    for (size_t i = 0; i < twin.pixels.size(); i += 4)
        std::swap(twin.pixels[i], twin.pixels[i + 2]);
    EXPECT_LE(largestDifference(twin, picture), 1);
    EXPECT_GT(picture.brightness(), original.brightness());
}

// ---- Progress, stop and errors ----

TEST_F(Pipeline, ProgressIsReportedStepByStepOnlyWhenTheRunAsks)
{
    const AdjustmentLayer layer = layerOf([](VXLParams& p) {
        brighten(p);
        smoothFaces(p);
    });
    PipelineRun r = run();
    r.reportsProgress = true;
    r.progress = &Progress::callback;
    step = 2;
    ASSERT_TRUE(processImage(picture.view(), layer, session.get(), nullptr, original.pixels.data(), r));
    ASSERT_GE(Progress::calls.size(), 4u);
    for (size_t i = 0; i < Progress::calls.size(); ++i)
        EXPECT_EQ(Progress::calls[i], std::make_pair(2 + int(i), kStepsPerPass));
    EXPECT_EQ(step, 2 + int(Progress::calls.size()));
    EXPECT_LE(step, kStepsPerPass);

    // A run that does not report progress reports nothing and does not read the stop flag.
    Progress::calls.clear();
    picture = original;
    r.reportsProgress = false;
    stop.store(1);
    ASSERT_TRUE(processImage(picture.view(), layer, session.get(), nullptr, nullptr, r));
    EXPECT_TRUE(Progress::calls.empty());
    EXPECT_GT(picture.brightness(), original.brightness());
}

TEST_F(Pipeline, ProgressRunsForwardOverFurtherLayersAndTheHostCountsFromOne)
{
    static std::vector<std::pair<int, int>> hostCalls;
    hostCalls.clear();
    HostFilterRecord host{};
    host.progress = [](int32_t done, int32_t total) { hostCalls.emplace_back(done, total); };
    platform->setPipelineHooks({nullptr, nullptr, &HookLog::everywhere});
    AdjustmentSet set = setOf({layerOf(brighten), layerOf(brighten)}, {1, 1});
    PipelineRun r = run(&set);
    r.reportsProgress = true;
    r.progress = [](int step, int total, void* data) { return Progress::callback(step, total, data); };
    r.progressData = &host;
    r.hostRecord = &host;
    step = 2;
    ASSERT_TRUE(renderAdjustmentSet(picture.view(), r));
    ASSERT_GE(Progress::calls.size(), 4u);
    for (size_t i = 1; i < Progress::calls.size(); ++i)
        EXPECT_GT(Progress::calls[i].first, Progress::calls[i - 1].first);
    EXPECT_LE(Progress::calls.back().first, 2 * kStepsPerPass);
    EXPECT_EQ(Progress::calls.back().second, 2 * kStepsPerPass);
    ASSERT_FALSE(hostCalls.empty());
    for (size_t i = 0; i < hostCalls.size(); ++i)
        EXPECT_EQ(hostCalls[i], std::make_pair(1 + int(i), 2 * kStepsPerPass));
}

TEST_F(Pipeline, AStopOrACancelSkipsTheGuardedStepsButFinishesTheLook)
{
    const AdjustmentLayer layer = layerOf([](VXLParams& p) {
        brighten(p);
        p.bGroupQuickCorrect = true;
        p.iDeltaB = 5;
    });
    for (bool byCallback : {false, true}) {
        picture = original;
        Progress::calls.clear();
        Progress::cancelAt = byCallback ? 0 : -1;
        stop.store(byCallback ? 0 : 1);
        PipelineRun r = run();
        r.reportsProgress = true;
        r.progress = &Progress::callback;
        EXPECT_FALSE(processImage(picture.view(), layer, session.get(), nullptr, nullptr, r)) << byCallback;
        // The engine did not run; the channel offsets of the finishing steps did.
        EXPECT_LE(largestDifference(picture, original, [](int v) { return v; }), 5);
        for (int y = 0; y < kHeight; ++y)
            ASSERT_EQ(picture.at(3, y)[2], original.at(3, y)[2] + 5);
        EXPECT_EQ(picture.at(3, 3)[0], original.at(3, 3)[0]);
    }
}

TEST_F(Pipeline, ErrorsLoseNothing)
{
    // An image that was never analysed: the engine has no profile and leaves the picture alone.
    EngineSession blank(platform);
    PipelineRun r = run();
    r.session = &blank;
    EXPECT_TRUE(processImage(picture.view(), layerOf(brighten), &blank, nullptr, nullptr, r));
    EXPECT_EQ(picture.pixels, original.pixels);

    // A table that is not in the catalogue takes no part.
    EXPECT_TRUE(process(layerOf([](VXLParams& p) {
        p.bGroupPreprocess = p.binLUT = true;
        p.inLUT = parseGuidHex(md5Hex("Input/./missing.cube"));
        p.iInLUTstrength = 100;
    })));
    EXPECT_EQ(picture.pixels, original.pixels);

    // A file in the catalogue that is no table takes no part either.
    std::filesystem::create_directories(scratch.file("Input"));
    std::ofstream(scratch.file("Input/broken.cube")) << "LUT_3D_SIZE 9\n0.1 0.2\nnot a number\n";
    EXPECT_TRUE(process(layerOf([](VXLParams& p) {
        p.bGroupPreprocess = p.binLUT = true;
        p.inLUT = parseGuidHex(md5Hex("Input/./broken.cube"));
        p.iInLUTstrength = 100;
    })));
    EXPECT_EQ(picture.pixels, original.pixels);

    // No pixels: nothing to render, and a failure.
    AdjustmentSet set = setOf({layerOf(brighten)}, {1});
    r = run(&set);
    ImageView empty = picture.view();
    empty.data[0] = empty.data[1] = empty.data[2] = nullptr;
    EXPECT_FALSE(renderAdjustmentSet(empty, r));
    EXPECT_FALSE(processImage(empty, layerOf(brighten), session.get(), nullptr, nullptr, r));

    // Rows too short for their pixels are refused before any pixel is touched.
    ImageView shortRows = picture.view();
    shortRows.rowBytes = kWidth * 2;
    EXPECT_FALSE(renderAdjustmentSet(shortRows, r));
    EXPECT_EQ(picture.pixels, original.pixels);
}

}  // namespace
