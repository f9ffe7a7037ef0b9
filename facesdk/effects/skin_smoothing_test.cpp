// Skin smoothing: its tables and kernels, and the stage in beautify runs on a synthetic face in
// every run format.
#include "facesdk/effects/skin_smoothing.h"

#include "facesdk/effects/testing/skin_face.h"
#include "facesdk/effects/testing/stage_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "facesdk/base/result_codes.h"

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
        if (s > 0) {
            EXPECT_GE(smoothStrengthCurve(s), smoothStrengthCurve(s - 1));
        }
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

TEST(SkinSmoothingTables, SmoothingSizeKeepsAFaceAbout222PixelsTall)
{
    // W, H, Wa, Ha, Ws, Hs, largest face side (work pixels) -> Wp, Hp
    const struct { int32_t W, H, Wa, Ha, Ws, Hs, F, Wp, Hp; } rows[] = {
        {800, 600, 800, 600, 320, 240, 0, 800, 600},       // no faces: the image, up to 1024
        {4000, 3000, 1024, 768, 320, 240, 0, 1024, 768},
        {600, 800, 600, 800, 240, 320, 0, 600, 800},
        {800, 600, 800, 600, 320, 240, 222, 800, 600},     // 222 tall: the image's size
        {4000, 3000, 1024, 768, 320, 240, 57, 1024, 768},  // ... capped by the work size
        {800, 600, 800, 600, 320, 240, 444, 400, 300},     // 444 tall: half
        {800, 600, 800, 600, 320, 240, 1110, 320, 240},    // a fifth, raised to the small copy
        {4000, 3000, 4000, 3000, 320, 240, 2000, 800, 600}, // a fifth at most
        {600, 800, 600, 800, 240, 320, 444, 300, 400},
    };
    for (const auto &r : rows) {
        const SmoothingSize size = chooseSmoothingSize(r.W, r.H, r.Wa, r.Ha, r.Ws, r.Hs, r.F);
        EXPECT_EQ(size.width, r.Wp) << r.W << " " << r.F;
        EXPECT_EQ(size.height, r.Hp) << r.W << " " << r.F;
    }
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

struct SmoothingRuns : StageRunFixture {
    SyntheticFace face;

    void use(int strength, int level = 2, int mode = 1)
    {
        BeautySettings settings{};
        settings.smoothingStrength = strength;
        settings.smoothingLevel = level;
        settings.smoothingRegionMode = mode;
        StageRunFixture::use(settings);
    }
    void paint(OwnedImage &image, double roll)
    {
        makeSyntheticFace(&face, 1, kWidth / 2, kHeight / 2, roll, kWidth, kHeight);
        paintYuv(image.image, [&](int x, int y) { return grainyFaceColour(face, x, y); });
    }
    int run(OwnedImage &image, int32_t *stage)
    {
        return StageRunFixture::run(image, &face, 1, kFeatureSmoothing, stage);
    }
};

// Luma and chroma changes inside the face's square grown by 60, and outside it.
PixelChange lumaChange(OwnedImage &before, OwnedImage &after)
{
    return compareImages(before.image, after.image, [](int x, int y) {
        return std::abs(x - StageRunFixture::kWidth / 2) < 160 &&
               std::abs(y - StageRunFixture::kHeight / 2) < 160;
    });
}

// Only luma changes: every chroma sample of the two images is the same.
bool sameChroma(const EngineImage &a, const EngineImage &b)
{
    for (int32_t y = 0; y < a.height; ++y)
        for (int32_t x = 0; x < a.width; ++x) {
            const YuvColour p = pixelAt(a, x, y), q = pixelAt(b, x, y);
            if (p.u != q.u || p.v != q.v)
                return false;
        }
    return true;
}

TEST_F(SmoothingRuns, SmoothsTheFaceSkinOnlyInEveryFormatMoreWithStrength)
{
    const double rolls[] = {0, 20, -30, 90, 180};
    int k = 0;
    for (PixelFormat format : kStageRunFormats) {
        const double roll = rolls[k++ % 5];
        OwnedImage original(kWidth, kHeight, format);
        paint(original, roll);
        int64_t previous = 0;
        for (int strength : {60, 255}) {
            use(strength);
            OwnedImage image(kWidth, kHeight, format);
            image.copyPixelsFrom(original);
            int32_t stage = 0;
            EXPECT_EQ(run(image, &stage), kResultOk);
            EXPECT_EQ(stage, kResultOk) << std::hex << format;
            EXPECT_EQ(image.image.format, format);
            const PixelChange change = lumaChange(original, image);
            EXPECT_GT(change.inside, previous) << std::hex << format << " " << strength;
            EXPECT_EQ(change.outside, 0);
            EXPECT_TRUE(sameChroma(original.image, image.image));
            previous = change.inside;
        }
    }
}

TEST_F(SmoothingRuns, EveryLevelSmooths)
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
        const PixelChange change = lumaChange(original, image);
        EXPECT_GT(change.inside, 0) << level;
        EXPECT_EQ(change.outside, 0) << level;
    }
}

TEST_F(SmoothingRuns, StrengthZeroDoesNotRun)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420Planar);
    paint(image, 0);
    OwnedImage before(kWidth, kHeight, kFormatYuv420Planar);
    before.copyPixelsFrom(image);
    use(0);
    int32_t stage = 0;
    EXPECT_EQ(run(image, &stage), kResultOk);
    EXPECT_EQ(stage, kResultStageNotRun);
    EXPECT_TRUE(image.samePixels(before));
}

TEST_F(SmoothingRuns, RunWithoutFacesSmoothsTheSkinRegionsInBothModes)
{
    OwnedImage original(kWidth, kHeight, kFormatYuv420Planar);
    paint(original, 0);
    for (int mode : {1, 2}) {
        BeautySettings settings{};
        settings.smoothingStrength = 200;
        settings.smoothingLevel = 2;
        settings.smoothingRegionMode = mode;
        BeautyParams block{};
        settingsToParams(settings, &block);
        block.flags = 1;  // run without faces
        ASSERT_EQ(innerSetParams(inner, &block), kResultOk);
        OwnedImage image(kWidth, kHeight, kFormatYuv420Planar);
        image.copyPixelsFrom(original);
        int32_t stage = 0;
        EXPECT_EQ(StageRunFixture::run(image, nullptr, 0, kFeatureSmoothing, &stage), kResultOk);
        EXPECT_EQ(stage, kResultOk) << mode;
        const PixelChange change = lumaChange(original, image);
        EXPECT_GT(change.inside, 0) << mode;
        EXPECT_EQ(change.outside, 0) << mode;
    }
}

TEST_F(SmoothingRuns, GreyFaceHasNothingToSmooth)
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

int cancelAtOnce(void *, int phase, int) { return phase == 1 ? 1 : 0; }

TEST_F(SmoothingRuns, ProgressCancelEndsTheStage)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420Planar);
    paint(image, 0);
    use(200);
    FeatureStatus *status = nullptr;
    EXPECT_EQ(innerRun(inner, nullptr, nullptr, &image.image, &face.work, 1, &status, cancelAtOnce,
                       nullptr),
              kResultProgressCancelled);
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(statusOfFeature(status, kFeatureSmoothing), kResultProgressCancelled);
    status->ops->release(status);
}

TEST_F(SmoothingRuns, EveryAllocationFailureLeavesTheImageUntouchedAndNoLeak)
{
    OwnedImage original(kWidth, kHeight, kFormatYuv420SemiPlanar);
    paint(original, 10);
    use(200);
    expectAllocationFailuresKeepPixels(counter, original, [&](OwnedImage &image, int32_t *status) {
        return run(image, status);
    });
}

}  // namespace
