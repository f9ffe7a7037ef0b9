// Skin smoothing: its tables and kernels, and the stage in beautify runs on a synthetic face in
// every run format.
#include "facesdk/effects/skin_smoothing.h"

#include "facesdk/effects/testing_skin_face.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/face_measurements.h"
#include "facesdk/engine/feature_status.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/params.h"
#include "facesdk/engine/result_codes.h"
#include "facesdk/engine/testing_allocator.h"
#include "facesdk/engine/testing_face.h"
#include "facesdk/engine/testing_image.h"
#include "facesdk/engine/testing_yuv.h"

namespace {

// ---- Tables ---------------------------------------------------------------------------------

TEST(SkinSmoothingTables, StrengthCurveRowsAndWithinOneUnit)
{
    const struct { int s, T; } rows[] = {{0, 0},     {4, 0},      {8, 3},       {15, 8},
                                         {64, 129},  {128, 516},  {192, 1161},  {255, 2048}};
    for (const auto &row : rows)
        EXPECT_EQ(smoothStrengthCurve(row.s), row.T) << row.s;
    for (int s = 0; s < 256; ++s) {
        EXPECT_LE(std::abs(smoothStrengthCurve(s) - 2048.0 * s * s / 65025), 1.0) << s;
        if (s > 0)
            EXPECT_GE(smoothStrengthCurve(s), smoothStrengthCurve(s - 1));
    }
}

TEST(SkinSmoothingTables, SpreadSigmaAndLiftRule)
{
    const struct { uint32_t v, sd; } spreads[] = {{0, 0},     {1, 1},     {100, 10},  {255, 16},
                                                  {256, 17},  {1023, 31}, {1024, 35}, {5999, 83},
                                                  {6000, 78}, {65535, 368}};
    for (const auto &row : spreads)
        EXPECT_EQ(sdApprox(row.v), row.sd) << row.v;
    EXPECT_EQ(smoothingSigma(0, 2), 0);
    EXPECT_EQ(smoothingSigma(2048, 2), 1536);
    EXPECT_EQ(smoothingSigma(2048, 3), 886);

    // t1 about 0.8 and t2 about 0.7 of the mean of skin level and local mean, less hT.
    uint8_t t1[256], t2[256];
    buildLiftTables(150 - 45, 45, t1, t2);
    EXPECT_EQ(t1[150], 120 - 45);
    EXPECT_EQ(t2[150], 105 - 45);
    EXPECT_EQ(t1[0], 60 - 45);  // the floor of 60

    // p, cmp, v, t1, t2, m -> effective weight
    const struct { int p, cmp, v, t1, t2, m, e; } lifts[] = {
        {100, 120, 100, 110, 90, 130, 74},   // darker, between t2 and t1
        {115, 120, 100, 110, 90, 130, 87},   // darker, above t1, below the skin level
        {125, 120, 100, 110, 90, 118, 38},   // brighter: at most 38
        {119, 120, 100, 110, 90, 118, 100},  // darker, at or above the skin level
        {80, 120, 100, 110, 90, 130, 38},    // below t2 (brows, lashes)
        {80, 120, 50, 110, 90, 130, 12},     // below t2 with a small weight
    };
    for (const auto &l : lifts)
        EXPECT_EQ(liftWeight(l.p, l.cmp, l.v, l.t1, l.t2, l.m), l.e) << l.p;
}

TEST(SkinSmoothingTables, KernelSelection)
{
    SmoothingKernels k{};
    for (PixelFormat f : {kFormatYuv444Planar, kFormatYuv422Planar, kFormatYuv420Planar,
                          kFormatYuv420SemiPlanar}) {
        ASSERT_EQ(selectSmoothingKernels(f, 2, 3, &k), kResultOk);
        EXPECT_EQ(k.lumaStep, 1);
    }
    for (PixelFormat f : {kFormatYuv422Yuyv, kFormatYuv422Uyvy}) {
        ASSERT_EQ(selectSmoothingKernels(f, 1, 2, &k), kResultOk);
        EXPECT_EQ(k.lumaStep, 2);
    }
    ASSERT_EQ(selectSmoothingKernels(kFormatYuv420Planar, 2, 1, &k), kResultOk);
    EXPECT_EQ(k.theta, 64);
    ASSERT_EQ(selectSmoothingKernels(kFormatYuv420Planar, 2, 2, &k), kResultOk);
    EXPECT_EQ(k.theta, 45);
    EXPECT_EQ(selectSmoothingKernels(kFormatYuv420SemiPlanarCrFirst, 2, 3, &k), kResultBadArgument);
    EXPECT_EQ(selectSmoothingKernels(kFormatRgb24, 2, 3, &k), kResultBadArgument);
    EXPECT_EQ(selectSmoothingKernels(kFormatYuv420Planar, 4, 3, &k), kResultBadArgument);
    EXPECT_EQ(selectSmoothingKernels(kFormatYuv420Planar, 2, 0, &k), kResultBadArgument);
}

// ---- Kernels --------------------------------------------------------------------------------

// Two smoothing rows of G pixels over an image of G blocks of `width` columns and `rows` rows.
struct KernelBench {
    int32_t G, width, rows, step;
    std::vector<uint8_t> weights, means, image;
    std::vector<int32_t> widths;
    uint8_t t1[256], t2[256];

    KernelBench(int32_t g, int32_t w, int32_t r, int32_t s)
        : G(g), width(w), rows(r), step(s), weights(2 * g), means(2 * g),
          image(size_t(g) * w * s * r), widths(g, w)
    {
        buildLiftTables(100, 5, t1, t2);
    }
    SmoothingRowJob job(int32_t theta)
    {
        return SmoothingRowJob{weights.data(), means.data(), image.data(), 0, G, rows,
                               widths.data(), G * width * step, G, 105, theta, t1, t2};
    }
    uint8_t &at(int32_t x, int32_t y) { return image[size_t(y) * G * width * step + x * step]; }
};

TEST(SkinSmoothingKernels, FullWeightOnAFlatMeanGivesTheMean)
{
    for (int quality : {1, 2, 3}) {
        SmoothingKernels k{};
        ASSERT_EQ(selectSmoothingKernels(kFormatYuv420Planar, 2, quality, &k), kResultOk);
        KernelBench bench(4, 4, 4, 1);
        std::fill(bench.weights.begin(), bench.weights.end(), 128);
        std::fill(bench.means.begin(), bench.means.end(), 140);
        for (size_t i = 0; i < bench.image.size(); ++i)
            bench.image[i] = uint8_t(100 + (i * 37) % 60);
        k.main(bench.job(k.theta));
        for (uint8_t v : bench.image)
            EXPECT_EQ(v, 140) << quality;
    }
}

TEST(SkinSmoothingKernels, ThresholdDecidesInterpolationAndZeroWeightSkips)
{
    SmoothingKernels k{};
    ASSERT_EQ(selectSmoothingKernels(kFormatYuv444Planar, 2, 3, &k), kResultOk);
    // Block 0 weight w, block 1 weight 0 and a different mean: interpolation pulls toward it.
    for (int w : {45, 46}) {
        KernelBench bench(2, 4, 2, 1);
        bench.weights = {uint8_t(w), 0, uint8_t(w), 0};
        bench.means = {100, 200, 100, 200};
        std::fill(bench.image.begin(), bench.image.end(), 100);
        k.main(bench.job(k.theta));
        // The simple blend leaves samples at the mean; interpolation moves the later ones up.
        EXPECT_EQ(bench.at(0, 0), 100) << w;
        EXPECT_EQ(bench.at(3, 0) > 100, w == 46) << w;
        // The zero-weight block is never written.
        for (int x = 4; x < 8; ++x)
            EXPECT_EQ(bench.at(x, 0), 100);
    }
}

TEST(SkinSmoothingKernels, PackedKernelsKeepChromaAndLiftCapsBrightSamples)
{
    SmoothingKernels k{};
    ASSERT_EQ(selectSmoothingKernels(kFormatYuv422Uyvy, 1, 3, &k), kResultOk);
    KernelBench bench(3, 4, 3, 2);
    std::fill(bench.weights.begin(), bench.weights.end(), 128);
    std::fill(bench.means.begin(), bench.means.end(), 120);
    for (size_t i = 0; i < bench.image.size(); ++i)
        bench.image[i] = i % 2 ? 200 : 77;  // chroma 77 at even bytes, luma 200 at odd bytes
    SmoothingRowJob job = bench.job(k.theta);
    job.image += 1;  // first luma byte of U Y V Y
    k.lastRow(job);
    for (size_t i = 0; i < bench.image.size(); ++i) {
        if (i % 2 == 0)
            EXPECT_EQ(bench.image[i], 77);
        else  // brighter than the mean: moved by round128(38 x (120 - 200)) = -24
            EXPECT_EQ(bench.image[i], 176);
    }
}

// ---- The stage in runs ----------------------------------------------------------------------

constexpr int32_t kWidth = 480, kHeight = 400;

constexpr int32_t kNoStatus = -1000;  // the run could not make its status object

struct SmoothingRunFixture : testing::Test {
    CountingAllocator counter;
    InnerEngine *inner = nullptr;
    SyntheticFace face;

    void SetUp() override
    {
        setFeatureStage(kFeatureSmoothing, applyBoxSmoothing);
        BeautyParams block{};
        settingsToParams(BeautySettings{}, &block);
        ASSERT_EQ(innerEngineCreate(counter.allocator(), &block, &inner), kResultOk);
    }
    void TearDown() override
    {
        innerFreeFaceData(inner);
        EXPECT_EQ(counter.liveBlocks(), 0u);
        EXPECT_EQ(counter.badFrees, 0);
    }
    void use(int strength, int level = 2, int mode = 1)
    {
        BeautySettings settings{};
        settings.smoothingStrength = strength;
        settings.smoothingLevel = level;
        settings.smoothingRegionMode = mode;
        BeautyParams block{};
        settingsToParams(settings, &block);
        ASSERT_EQ(innerSetParams(inner, &block), kResultOk);
    }
    void paint(OwnedImage &image, double roll)
    {
        makeSyntheticFace(&face, 1, kWidth / 2, kHeight / 2, roll, kWidth, kHeight);
        paintYuv(image.image, [&](int x, int y) { return grainyFaceColour(face, x, y); });
    }
    // Runs and answers the run result; *stage gets the stage's status.
    int run(OwnedImage &image, int32_t *stage, ProgressCallback progress = nullptr, void *user = nullptr)
    {
        FeatureStatus *status = nullptr;
        const int result =
            innerRun(inner, nullptr, nullptr, &image.image, &face.work, 1, &status, progress, user);
        *stage = status ? status->statuses[0] : kNoStatus;
        if (status)
            status->ops->release(status);
        return result;
    }
};

// Sum of absolute luma changes inside and count of changes outside the face's square.
struct LumaChange {
    long inside = 0;
    long outside = 0;
    bool chromaSame = true;
};

LumaChange compareLuma(OwnedImage &before, OwnedImage &after, int32_t margin)
{
    LumaChange change;
    const EngineImage &img = before.image;
    const YuvAddressing *a = yuvAddressing(img.format == kFormatYuv420SemiPlanarCrFirst
                                               ? kFormatYuv420SemiPlanar
                                               : img.format);
    for (int y = 0; y < img.height; ++y) {
        const YuvRow rb = yuvRow(*a, before.image, y), ra = yuvRow(*a, after.image, y);
        for (int x = 0; x < img.width; ++x) {
            const int d = std::abs(int(rb.luma[x * rb.lumaStep]) - int(ra.luma[x * ra.lumaStep]));
            const bool inFace = std::abs(x - kWidth / 2) < 100 + margin &&
                                std::abs(y - kHeight / 2) < 100 + margin;
            (inFace ? change.inside : change.outside) += inFace ? d : (d != 0);
            const int s = std::min(x >> rb.chromaShiftX, rb.lastSample) * rb.chromaStep;
            change.chromaSame = change.chromaSame && rb.cb[s] == ra.cb[s] && rb.cr[s] == ra.cr[s];
        }
    }
    return change;
}

struct FormatRoll {
    PixelFormat format;
    double roll;
};

class SmoothingFormats : public SmoothingRunFixture,
                         public testing::WithParamInterface<FormatRoll> {};

TEST_P(SmoothingFormats, SmoothsTheFaceSkinOnlyAndMoreWithStrength)
{
    const FormatRoll p = GetParam();
    OwnedImage original(kWidth, kHeight, p.format);
    paint(original, p.roll);
    long previous = 0;
    for (int strength : {60, 255}) {
        use(strength);
        OwnedImage image(kWidth, kHeight, p.format);
        image.copyPixelsFrom(original);
        int32_t stage = 0;
        EXPECT_EQ(run(image, &stage), kResultOk);
        EXPECT_EQ(stage, kResultOk);
        const LumaChange change = compareLuma(original, image, 60);
        EXPECT_GT(change.inside, previous) << strength;
        EXPECT_EQ(change.outside, 0);
        EXPECT_TRUE(change.chromaSame);
        previous = change.inside;
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormat, SmoothingFormats,
    testing::Values(FormatRoll{kFormatYuv420Planar, 0}, FormatRoll{kFormatYuv420SemiPlanar, 20},
                    FormatRoll{kFormatYuv420SemiPlanarCrFirst, 0},
                    FormatRoll{kFormatYuv444Planar, -30}, FormatRoll{kFormatYuv422Planar, 90},
                    FormatRoll{kFormatYuv422Yuyv, 0}, FormatRoll{kFormatYuv422Uyvy, 180}));

TEST_F(SmoothingRunFixture, EveryLevelAndQualitySmooths)
{
    OwnedImage original(kWidth, kHeight, kFormatYuv420Planar);
    paint(original, 0);
    for (int level : {1, 2, 3}) {
        use(200, level);
        OwnedImage image(kWidth, kHeight, kFormatYuv420Planar);
        image.copyPixelsFrom(original);
        int32_t stage = 0;
        run(image, &stage);
        EXPECT_EQ(stage, kResultOk) << level;
        const LumaChange change = compareLuma(original, image, 60);
        EXPECT_GT(change.inside, 0) << level;
        EXPECT_EQ(change.outside, 0) << level;
    }
}

TEST_F(SmoothingRunFixture, GreyFaceHasNothingToSmooth)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420Planar);
    makeSyntheticFace(&face, 1, kWidth / 2, kHeight / 2, 0, kWidth, kHeight);
    paintYuv(image.image, [&](int x, int y) {
        YuvColour c = grainyFaceColour(face, x, y);
        return YuvColour{c.y, 128, 128};
    });
    OwnedImage before(kWidth, kHeight, kFormatYuv420Planar);
    before.copyPixelsFrom(image);
    use(255);
    int32_t stage = 0;
    EXPECT_EQ(run(image, &stage), kResultRunIncomplete);
    EXPECT_EQ(stage, kResultNothingToDo);
    EXPECT_TRUE(image.samePixels(before));
}

int cancelAfter(void *user, int phase, int)
{
    int *left = static_cast<int *>(user);
    return phase == 1 && --*left < 0 ? 1 : 0;
}

TEST_F(SmoothingRunFixture, ProgressCancelEndsTheStage)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420Planar);
    paint(image, 0);
    use(200);
    int left = 0;
    int32_t stage = 0;
    EXPECT_EQ(run(image, &stage, cancelAfter, &left), kResultProgressCancelled);
    EXPECT_EQ(stage, kResultProgressCancelled);
}

TEST_F(SmoothingRunFixture, EveryAllocationFailureLeavesTheImageUntouchedAndNoLeak)
{
    OwnedImage original(kWidth, kHeight, kFormatYuv420SemiPlanar);
    paint(original, 10);
    use(200);
    OwnedImage reference(kWidth, kHeight, kFormatYuv420SemiPlanar);
    reference.copyPixelsFrom(original);
    int32_t stage = 0;
    counter.allocations = 0;
    ASSERT_EQ(run(reference, &stage), kResultOk);
    const int allocations = counter.allocations;
    const size_t engineBlocks = counter.liveBlocks();
    for (int n = 1; n <= allocations; ++n) {
        OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
        image.copyPixelsFrom(original);
        counter.allocations = 0;
        counter.failAt = n;
        const int result = run(image, &stage);
        counter.failAt = 0;
        EXPECT_EQ(counter.liveBlocks(), engineBlocks) << n;
        if (stage == kResultOk) {
            EXPECT_TRUE(image.samePixels(reference)) << n;
        } else {
            EXPECT_TRUE(image.samePixels(original)) << n;
            EXPECT_TRUE(stage == kResultNoMemory || stage == kResultStageNotRun || stage == kNoStatus)
                << n << " " << stage;
            EXPECT_NE(result, kResultOk) << n;
        }
    }
}

}  // namespace
