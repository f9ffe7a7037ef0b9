// Skin smoothing: its tables, and the stage in beautify runs on a synthetic face in every run
// format. The row kernels have their own tests (skin_smoothing_kernels_test.cpp).
#include "facesdk/effects/skin_smoothing.h"

#include "facesdk/effects/testing/skin_face.h"
#include "facesdk/effects/testing/stage_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/effects/skin_smoothing_kernels.h"
#include "facesdk/effects/skin_smoothing_weights.h"

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

// The skin regions have room of their own after the faces: a run with a hundred faces still
// smooths (the regions are counted apart from the faces the list holds).
TEST_F(SmoothingRuns, AHundredFacesStillLeaveRoomForTheSkinRegions)
{
    OwnedImage original(kWidth, kHeight, kFormatYuv420Planar);
    paint(original, 0);
    use(200);
    std::vector<FaceWork> faces(100, face.work);
    for (size_t k = 0; k < faces.size(); ++k)
        faces[k].id = int32_t(k + 1);
    OwnedImage image(kWidth, kHeight, kFormatYuv420Planar);
    image.copyPixelsFrom(original);
    FeatureStatus *statuses = nullptr;
    EXPECT_EQ(innerRun(inner, nullptr, nullptr, &image.image, faces.data(), int32_t(faces.size()),
                       &statuses, nullptr, nullptr),
              kResultOk);
    ASSERT_NE(statuses, nullptr);
    EXPECT_EQ(statusOfFeature(statuses, kFeatureSmoothing), kResultOk);
    statuses->ops->release(statuses);
    const PixelChange change = lumaChange(original, image);
    EXPECT_GT(change.inside, 0);
    EXPECT_EQ(change.outside, 0);
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
