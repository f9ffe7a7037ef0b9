// Shine reduction: its curves, strength table and blend rule, and the stage in beautify runs on
// a synthetic face with shiny spots in every run format.
#include "facesdk/effects/shine_reduction.h"

#include <gtest/gtest.h>

#include "facesdk/effects/shine_reduction_map.h"
#include "facesdk/effects/testing/skin_face.h"
#include "facesdk/effects/testing/stage_run.h"

namespace {

TEST(ShineTables, CurvesPassThroughTheirRowsAndNeverFall)
{
    const struct { ShineCurve curve; int in, out; } rows[] = {
        {ShineCurve::Gain, 1, 3},        {ShineCurve::Gain, 5, 13},       {ShineCurve::Gain, 64, 156},
        {ShineCurve::Gain, 126, 254},    {ShineCurve::Gain, 127, 255},    {ShineCurve::Gain, 200, 255},
        {ShineCurve::LumaLow, 25, 25},   {ShineCurve::LumaLow, 26, 27},   {ShineCurve::LumaLow, 128, 123},
        {ShineCurve::LumaLow, 255, 206}, {ShineCurve::LumaHigh, 92, 92},  {ShineCurve::LumaHigh, 192, 180},
        {ShineCurve::LumaHigh, 255, 224}, {ShineCurve::CrLow, 16, 11},    {ShineCurve::CrLow, 128, 128},
        {ShineCurve::CrLow, 224, 233},   {ShineCurve::CrHigh, 64, 44},    {ShineCurve::CrHigh, 240, 247},
    };
    for (const auto &row : rows)
        EXPECT_EQ(shineCurve(row.curve)[row.in], row.out) << int(row.curve) << " " << row.in;
    for (ShineCurve c : {ShineCurve::Gain, ShineCurve::LumaLow, ShineCurve::LumaHigh,
                         ShineCurve::CrLow, ShineCurve::CrHigh})
        for (int i = 1; i < 256; ++i)
            EXPECT_GE(shineCurve(c)[i], shineCurve(c)[i - 1]) << int(c) << " " << i;
}

TEST(ShineTables, StrengthTableAndBlendRule)
{
    // Strength 255 caps the weights at three quarters of the gain.
    EXPECT_EQ(shineStrengthWeight(255, 255), 191);
    EXPECT_EQ(shineStrengthWeight(255, 100), 75);
    EXPECT_EQ(shineStrengthWeight(34, 255), 25);
    EXPECT_EQ(shineStrengthWeight(0, 255), 0);

    // c, p, w -> luma: only ever darker.
    const struct { int c, p, w, out; } luma[] = {
        {200, 100, 128, 149}, {200, 100, 0, 200}, {100, 200, 200, 100}, {200, 199, 10, 199},
    };
    for (const auto &l : luma)
        EXPECT_EQ(shineBlendLuma(l.c, l.p, l.w), l.out) << l.c << " " << l.p << " " << l.w;
    // c, p, target, w -> chroma moves toward the mean of p and the skin target, rounded.
    EXPECT_EQ(shineBlendChroma(100, 140, 160, 255), 150);
    EXPECT_EQ(shineBlendChroma(100, 140, 160, 0), 100);
    EXPECT_EQ(shineBlendChroma(160, 100, 100, 128), 130);
    EXPECT_EQ(shineBlendChroma(100, 160, 160, 128), 130);
    // Chroma that is already where the blend would take it stays, at every weight.
    for (int c : {0, 60, 128, 200, 255})
        for (int w = 1; w < 256; ++w)
            ASSERT_EQ(shineBlendChroma(c, c, c, w), c) << c << " " << w;
}

// The grainy face with a shiny forehead and nose tip.
YuvColour shinyFace(const SyntheticFace &face, int x, int y)
{
    double u = 0, v = 0;
    face.toFace(x, y, &u, &v);
    const YuvColour c = grainyFaceColour(face, x, y);
    if (c.u == 110 && c.v == 150) {
        if (u * u + (v + 72) * (v + 72) < 20 * 20 || u * u + (v - 15) * (v - 15) < 10 * 10)
            return {234, 114, 146};
    }
    return c;
}

struct ShineRuns : StageRunFixture {
    int32_t runShine(OwnedImage &image, int strength, int *result = nullptr)
    {
        BeautySettings settings{};
        settings.shineStrength = strength;
        use(settings);
        int32_t status = 0;
        const int answer = run(image, &face, 1, kFeatureShineReduction, &status);
        if (result)
            *result = answer;
        return status;
    }
    void paintShiny(OwnedImage &image, double roll)
    {
        makeSyntheticFace(&face, 1, kWidth / 2, kHeight / 2, roll, kWidth, kHeight);
        paintYuv(image.image, [&](int x, int y) { return shinyFace(face, x, y); });
    }
    SyntheticFace face;
};

// Near the face: its 200 x 200 box grown by 50.
bool nearFace(int x, int y)
{
    return std::abs(x - StageRunFixture::kWidth / 2) < 150 && std::abs(y - StageRunFixture::kHeight / 2) < 150;
}

TEST_F(ShineRuns, DarkensTheShineInEveryFormatMoreWithStrength)
{
    for (PixelFormat format : kStageRunFormats) {
        for (double roll : {0.0, 25.0}) {
            OwnedImage original(kWidth, kHeight, format);
            paintShiny(original, roll);
            int64_t previous = 0;
            for (int strength : {90, 255}) {
                OwnedImage image(kWidth, kHeight, format);
                image.copyPixelsFrom(original);
                int result = 0;
                ASSERT_EQ(runShine(image, strength, &result), kResultOk) << std::hex << format;
                EXPECT_EQ(result, kResultOk);
                EXPECT_EQ(image.image.format, format);
                const PixelChange change = compareImages(original.image, image.image, nearFace);
                EXPECT_GT(change.inside, previous) << std::hex << format << " " << roll;
                EXPECT_EQ(change.outside, 0) << std::hex << format;
                previous = change.inside;
                // Luma never rises; the shiny forehead gets darker.
                int64_t darker = 0;
                for (int y = 0; y < kHeight; ++y)
                    for (int x = 0; x < kWidth; ++x) {
                        const int before = pixelAt(original.image, x, y).y, after = pixelAt(image.image, x, y).y;
                        ASSERT_LE(after, before) << x << " " << y;
                        darker += before - after;
                    }
                EXPECT_GT(darker, 0);
            }
        }
    }
}

TEST_F(ShineRuns, NothingToDoWithoutEyesOrSkin)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420Planar);
    paintShiny(image, 0);
    OwnedImage before(kWidth, kHeight, kFormatYuv420Planar);
    before.copyPixelsFrom(image);
    face.work.eye1Box = EngineRect{};
    int result = 0;
    EXPECT_EQ(runShine(image, 200, &result), kResultNothingToDo);
    EXPECT_EQ(result, kResultRunIncomplete);
    EXPECT_TRUE(image.samePixels(before));

    // Skin darker than the luma floor: no skin sample is marked, so nothing is changed.
    makeSyntheticFace(&face, 1, kWidth / 2, kHeight / 2, 0, kWidth, kHeight);
    paintYuv(image.image, [&](int x, int y) {
        const YuvColour c = shinyFace(face, x, y);
        return YuvColour{15, c.u, c.v};
    });
    before.copyPixelsFrom(image);
    EXPECT_EQ(runShine(image, 200), kResultNothingToDo);
    EXPECT_TRUE(image.samePixels(before));
}

TEST_F(ShineRuns, EveryAllocationFailureLeavesTheImageUntouchedAndNoLeak)
{
    OwnedImage original(kWidth, kHeight, kFormatYuv422Yuyv);
    paintShiny(original, 0);
    expectAllocationFailuresKeepPixels(counter, original, [&](OwnedImage &image, int32_t *status) {
        int result = 0;
        *status = runShine(image, 200, &result);
        return result;
    });
}

}  // namespace
