// The three skin stages together in one run (shine reduction, then smoothing, then skin tone,
// sharing the small working copy, the scratch records and the skin-amount class), on two faces,
// image sizes that are not multiples of the stages' scales, and faces at the image's edges.
#include <gtest/gtest.h>

#include "facesdk/effects/testing/skin_face.h"
#include "facesdk/effects/testing/stage_run.h"

namespace {

struct SkinStagesRuns : StageRunFixture {
    void useAll(int strength)
    {
        BeautySettings settings{};
        settings.smoothingStrength = strength;
        settings.smoothingLevel = 3;
        settings.smoothingRegionMode = 1;
        settings.shineStrength = strength;
        settings.skinToneStrength = strength;
        settings.skinToneMode = 4;
        settings.skinToneVariant = 1;
        use(settings);
    }
    // Runs with the faces; answers the run result and the three statuses.
    int runAll(OwnedImage &image, SyntheticFace *faces, int count, int32_t statuses[3])
    {
        std::vector<FaceWork> works;
        for (int k = 0; k < count; ++k)
            works.push_back(faces[k].work);
        FeatureStatus *status = nullptr;
        const int result = innerRun(inner, nullptr, nullptr, &image.image, works.data(), count,
                                    &status, nullptr, nullptr);
        const uint32_t bits[3] = {kFeatureSmoothing, kFeatureShineReduction, kFeatureSkinTone};
        for (int k = 0; k < 3; ++k)
            statuses[k] = status ? statusOfFeature(status, bits[k]) : kNoStatusObject;
        if (status)
            status->ops->release(status);
        return result;
    }
    static constexpr int32_t kNoStatusObject = -1000;
};

YuvColour twoFaces(const SyntheticFace *faces, int x, int y)
{
    for (int k = 0; k < 2; ++k) {
        const YuvColour c = grainyFaceColour(faces[k], x, y);
        if (!(c.y == 90 && c.u == 128 && c.v == 128))
            return c;
    }
    return {90, 128, 128};
}

TEST_F(SkinStagesRuns, AllThreeOnTwoFacesInEveryFormat)
{
    useAll(180);
    for (PixelFormat format : kStageRunFormats) {
        SyntheticFace faces[2];
        makeSyntheticFace(&faces[0], 1, 190, 240, -15, kWidth, kHeight);
        makeSyntheticFace(&faces[1], 2, 430, 230, 20, kWidth, kHeight);
        OwnedImage original(kWidth, kHeight, format), image(kWidth, kHeight, format);
        paintYuv(original.image, [&](int x, int y) { return twoFaces(faces, x, y); });
        image.copyPixelsFrom(original);
        int32_t statuses[3];
        EXPECT_EQ(runAll(image, faces, 2, statuses), kResultOk) << std::hex << format;
        for (int32_t s : statuses)
            EXPECT_EQ(s, kResultOk) << std::hex << format;
        EXPECT_EQ(image.image.format, format);
        const PixelChange change = compareImages(original.image, image.image, [](int x, int y) {
            return x >= 40 && x < 600 && y >= 60 && y < 420;
        });
        EXPECT_GT(change.inside, 0);
        EXPECT_EQ(change.outside, 0) << std::hex << format;
    }
}

TEST_F(SkinStagesRuns, UnevenSizesAndFacesAtTheEdgesStaySafe)
{
    useAll(255);
    const struct { int32_t w, h; double cx, cy, roll; } cases[] = {
        {334, 250, 101, 125, 0},   {334, 250, 232, 150, 90},  {250, 334, 125, 101, 180},
        {250, 210, 125, 105, -135}, {402, 298, 300, 197, 45},
        // Odd sizes: the last column or row has luma alone.
        {333, 251, 101, 125, 0},   {251, 333, 125, 200, 180}, {333, 251, 232, 126, 90},
    };
    for (PixelFormat format : kStageRunFormats) {
        for (const auto &c : cases) {
            SyntheticFace face;
            makeSyntheticFace(&face, 1, c.cx, c.cy, c.roll, c.w, c.h);
            OwnedImage image(c.w, c.h, format);
            paintYuv(image.image, [&](int x, int y) { return grainyFaceColour(face, x, y); });
            int32_t statuses[3];
            const int result = runAll(image, &face, 1, statuses);
            EXPECT_TRUE(result == kResultOk || result == kResultRunIncomplete)
                << std::hex << format << std::dec << " " << c.w << " " << result;
            for (int32_t s : statuses)
                EXPECT_TRUE(s == kResultOk || s == kResultNothingToDo || s == kResultStageNotRun)
                    << std::hex << format << std::dec << " " << c.w << "x" << c.h << " " << s;
            EXPECT_EQ(image.image.format, format);
        }
    }
}

}  // namespace
