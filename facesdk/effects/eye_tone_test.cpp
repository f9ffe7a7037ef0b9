#include "facesdk/effects/eye_tone.h"

#include <gtest/gtest.h>

#include "facesdk/effects/testing/stage_run.h"

namespace {

// The eye work boxes of a face at 1:1 scale (no working image; the picture is within 1024):
// the eye box grown by a quarter of its larger side, at least 4 pixels.
bool insideEyeWork(const FaceWork &face, int32_t x, int32_t y)
{
    for (const EngineRect &e : {face.eye1Box, face.eye2Box}) {
        const int32_t l = std::max(std::max(e.width, e.height) / 4 + 1, 4);
        if (x >= e.x - l - 1 && x < e.x + e.width + l + 1 && y >= e.y - l - 1 &&
            y < e.y + e.height + l + 1)
            return true;
    }
    return false;
}

struct EyeToneRun : StageRunFixture {
    PixelChange toneFace(PixelFormat format, double roll, int32_t strength, int32_t *status,
                         int *result)
    {
        BeautySettings settings{};
        settings.eyeToneStrength = strength;
        return runOnFace(format, roll, settings, kFeatureEyeTone, false, syntheticFaceColour,
                         [](const SyntheticFace &face, int32_t x, int32_t y) {
                             return insideEyeWork(face.work, x, y);
                         },
                         status, result);
    }
    PixelChange operator()(PixelFormat f, double roll, int32_t s, int32_t *status, int *result)
    {
        return toneFace(f, roll, s, status, result);
    }
};

TEST_F(EyeToneRun, TonesOnlyTheEyesInEveryFormatAndRoll)
{
    expectChangeOnlyInside(*this, {0.0, 12.0, -25.0}, 1000);
}

TEST_F(EyeToneRun, StrengthScalesTheChange)
{
    expectStrengthScales(*this, kFormatYuv420Planar, {40, 120, 255});
}

TEST_F(EyeToneRun, FacesWithoutBothEyesAnswerNothingToDo)
{
    SyntheticFace face;
    makeSyntheticFace(&face, 1, 320, 240, 0, kWidth, kHeight);
    face.work.eye2Box = {};
    OwnedImage image(kWidth, kHeight, kFormatYuv420Planar), before(kWidth, kHeight, kFormatYuv420Planar);
    paintSyntheticFaces(image.image, &face, 1);
    before.copyPixelsFrom(image);
    BeautySettings settings{};
    settings.eyeToneStrength = 255;
    use(settings);
    int32_t status = 0;
    EXPECT_EQ(run(image, &face, 1, kFeatureEyeTone, &status), kResultRunIncomplete);
    EXPECT_EQ(status, kResultNothingToDo);
    EXPECT_TRUE(image.samePixels(before));
}

TEST_F(EyeToneRun, EveryAllocationFailureIsReportedWithoutLeaks)
{
    SyntheticFace face;
    makeSyntheticFace(&face, 1, 320, 240, 8, kWidth, kHeight);
    BeautySettings settings{};
    settings.eyeToneStrength = 255;
    use(settings);
    const auto paint = [&](OwnedImage &image) { paintSyntheticFaces(image.image, &face, 1); };
    const std::vector<int32_t> statuses =
        statusesUnderEveryAllocationFailure(kFormatYuv420SemiPlanarCrFirst, paint, &face, 1,
                                            kFeatureEyeTone);
    EXPECT_GT(std::count(statuses.begin(), statuses.end(), kResultNoMemory), 2);
}

TEST(EyeToneCurves, SourceCurvesPassTheirRows)
{
    struct Row {
        const std::array<uint8_t, 256> *curve;
        int in, out;
    } rows[] = {{&eyeLumaCurve, 16, 18},  {&eyeLumaCurve, 128, 141}, {&eyeLumaCurve, 240, 242},
                {&eyeCbCurve, 21, 0},     {&eyeCbCurve, 22, 1},      {&eyeCbCurve, 224, 243},
                {&eyeCbCurve, 250, 255},  {&eyeCrCurve, 16, 0},      {&eyeCrCurve, 48, 28},
                {&eyeCrCurve, 224, 248},  {&eyeCrCurve, 240, 255}};
    for (const Row &r : rows)
        EXPECT_EQ((*r.curve)[r.in], r.out) << r.in;
    for (const auto *c : {&eyeLumaCurve, &eyeCbCurve, &eyeCrCurve}) {
        EXPECT_EQ((*c)[0], 0);
        EXPECT_EQ((*c)[255], 255);
        EXPECT_TRUE(std::is_sorted(c->begin(), c->end()));
    }
}

TEST(EyeToneCurves, FullStrengthComesWithinOneStepOfTheSource)
{
    uint8_t curve[256];
    curveFromIdentity(255 * 16, curve, eyeLumaCurve.data());
    for (int i = 0; i < 256; ++i)
        EXPECT_LE(std::abs(curve[i] - eyeLumaCurve[i]), 1) << i;
    curveFromIdentity(0, curve, eyeCrCurve.data());
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(curve[i], i);
}

TEST(EyeToneCurves, StretchPushesAwayFromTheSurroundings)
{
    struct Case {
        int p, b, t, q;
    } cases[] = {
        {100, 100, 200, 100},  // flat: unchanged
        {120, 100, 200, 127},  // (200 x 220 - 255 x 100) x 451 / 65536 = 127.3
        {80, 100, 200, 72},    // darker than its surroundings: darker still
        {250, 50, 200, 255},   // clamped
        {10, 200, 200, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(contrastStretch(c.p, c.b, c.t), c.q) << c.p << " " << c.b;
}

TEST(EyeToneCurves, CurveApplicationChecksItsArguments)
{
    OwnedImage image(64, 64, kFormatYuv420Planar);
    uint8_t curve[256], weight[4] = {255, 255, 255, 255};
    curveFromIdentity(0, curve, eyeLumaCurve.data());
    const EngineRect inside = {8, 8, 16, 16};
    EXPECT_EQ(applyCurvesThreshold(&image.image, nullptr, inside, curve, curve, curve, weight, 2, 2, 0),
              kResultOk);
    EXPECT_EQ(applyCurvesThreshold(&image.image, nullptr, {60, 8, 16, 16}, curve, curve, curve,
                                   weight, 2, 2, 0),
              kResultBadArgument);
    EXPECT_EQ(applyCurvesThreshold(&image.image, nullptr, inside, curve, curve, curve, nullptr, 2,
                                   2, 0),
              kResultBadArgument);
    OwnedImage grey(64, 64, kFormatGrey8);
    EXPECT_EQ(applyCurvesThreshold(&grey.image, nullptr, inside, curve, curve, curve, weight, 2, 2, 0),
              kResultUnsupported);
}

} // namespace
