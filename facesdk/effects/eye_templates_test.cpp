// Eye template stages 0x200 and 0x1000 on synthetic faces in every run format: where they
// paint, toward what, strength, statuses and allocation failures.
#include "facesdk/effects/eye_templates.h"

#include <gtest/gtest.h>

#include <cmath>

#include "facesdk/effects/testing_stage_run.h"

namespace {

BeautySettings templateSettings(uint32_t bit, int32_t strength, int32_t level1 = 2, int32_t level2 = 4)
{
    BeautySettings s{};
    if (bit == kFeatureEyeTemplatePairs)
        s.eyePairsStrength = strength, s.eyePairsLevel1 = level1, s.eyePairsLevel2 = level2;
    else
        s.eyeDarkStrength = strength, s.eyeDarkLevel = level1;
    return s;
}

struct EyeTemplateTest : StageRunFixture {
    SyntheticFace face;
    void prepare(OwnedImage &image, double roll)
    {
        makeSyntheticFace(&face, 1, 320, 240, roll, kWidth, kHeight);
        paintSyntheticFaces(image.image, &face, 1);
    }
    // The surroundings of either eye: within 70 pixels of its centre.
    bool nearEyes(int x, int y) const
    {
        for (double side : {-1.0, 1.0}) {
            double ex = 0, ey = 0;
            face.toImage(side * kEyeOffsetX, kEyeOffsetY, &ex, &ey);
            if (std::hypot(x - ex, y - ey) < 70)
                return true;
        }
        return false;
    }
};

TEST_F(EyeTemplateTest, BothStagesPaintOnlyLumaAroundTheEyesInEveryFormat)
{
    for (uint32_t bit : {kFeatureEyeTemplatePairs, kFeatureEyeDarkTemplate})
        for (PixelFormat format : kStageRunFormats)
            for (double roll : {0.0, 20.0, -35.0}) {
                SCOPED_TRACE(testing::Message() << std::hex << bit << " " << format << std::dec
                                                << " roll " << roll);
                OwnedImage image(kWidth, kHeight, format), before(kWidth, kHeight, format);
                prepare(image, roll);
                use(templateSettings(bit, 255));
                before.copyPixelsFrom(image);
                int32_t status = 0;
                EXPECT_EQ(run(image, &face, 1, bit, &status), kResultOk);
                EXPECT_EQ(status, kResultOk);
                const PixelChange change =
                    compareImages(before.image, image.image, [&](int x, int y) { return nearEyes(x, y); });
                EXPECT_GT(change.inside, 1000);
                EXPECT_EQ(change.outside, 0);
                for (int y = 0; y < kHeight; y += 2)
                    for (int x = 0; x < kWidth; x += 2) {
                        const YuvColour a = pixelAt(before.image, x, y), b = pixelAt(image.image, x, y);
                        ASSERT_EQ(a.u, b.u);
                        ASSERT_EQ(a.v, b.v);
                    }
            }
}

TEST_F(EyeTemplateTest, StrengthAndLevelsShapeTheChange)
{
    for (uint32_t bit : {kFeatureEyeTemplatePairs, kFeatureEyeDarkTemplate}) {
        int64_t previous = -1;
        for (int32_t strength : {0, 60, 255}) {
            OwnedImage image(kWidth, kHeight, kFormatYuv420Planar), before(kWidth, kHeight, kFormatYuv420Planar);
            prepare(image, 5);
            use(templateSettings(bit, strength));
            before.copyPixelsFrom(image);
            int32_t status = 0;
            run(image, &face, 1, bit, &status);
            EXPECT_EQ(status, strength ? kResultOk : kResultStageNotRun);
            const PixelChange change = compareImages(before.image, image.image, [](int, int) { return true; });
            EXPECT_GT(change.inside, previous) << bit << " " << strength;
            previous = change.inside;
        }
    }
    // Levels 1 and 6 pick other masks than levels 2 and 4.
    std::vector<uint8_t> results[2];
    for (int k = 0; k < 2; ++k) {
        OwnedImage image(kWidth, kHeight, kFormatYuv420Planar);
        prepare(image, 0);
        use(k ? templateSettings(kFeatureEyeTemplatePairs, 200, 1, 6)
              : templateSettings(kFeatureEyeTemplatePairs, 200));
        int32_t status = 0;
        run(image, &face, 1, kFeatureEyeTemplatePairs, &status);
        results[k].assign(image.image.planes[0].pixels,
                          image.image.planes[0].pixels + size_t(kWidth) * kHeight);
    }
    EXPECT_NE(results[0], results[1]);
}

TEST_F(EyeTemplateTest, DarkTemplateMovesAUniformGreyTowardHalfItsLevel)
{
    // A uniform grey of 100 measures 101 at 4 percent: both eyes move toward 50.
    OwnedImage image(kWidth, kHeight, kFormatYuv420Planar);
    makeSyntheticFace(&face, 1, 320, 240, 0, kWidth, kHeight);
    paintYuv(image.image, [](int, int) { return YuvColour{100, 128, 128}; });
    use(templateSettings(kFeatureEyeDarkTemplate, 255, 3));
    int32_t status = 0;
    run(image, &face, 1, kFeatureEyeDarkTemplate, &status);
    EXPECT_EQ(status, kResultOk);
    int darkest = 255, changed = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const int v = image.at(0, x, y);
            EXPECT_LE(v, 100);
            darkest = std::min(darkest, v);
            changed += v != 100;
        }
    EXPECT_GT(changed, 100);
    EXPECT_GE(darkest, 50);
    EXPECT_LE(darkest, 60);
}

TEST_F(EyeTemplateTest, FacesWithoutASecondEyeBoxAreSkipped)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv422Yuyv), before(kWidth, kHeight, kFormatYuv422Yuyv);
    prepare(image, 0);
    face.work.eye2Box.width = 0;
    before.copyPixelsFrom(image);
    for (uint32_t bit : {kFeatureEyeTemplatePairs, kFeatureEyeDarkTemplate}) {
        use(templateSettings(bit, 200));
        int32_t status = 0;
        EXPECT_EQ(run(image, &face, 1, bit, &status), kResultRunIncomplete);
        EXPECT_EQ(status, kResultNothingToDo);
    }
    EXPECT_TRUE(image.samePixels(before));
}

TEST_F(EyeTemplateTest, MemoryRunningOutLeaksNothing)
{
    for (uint32_t bit : {kFeatureEyeTemplatePairs, kFeatureEyeDarkTemplate}) {
        OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
        prepare(image, 10);
        use(templateSettings(bit, 200));
        int32_t status = 0;
        const int start = counter.allocations;
        run(image, &face, 1, bit, &status);
        const int used = counter.allocations - start;
        const size_t live = counter.liveBlocks();
        for (int n = 1; n <= used; ++n) {
            counter.failAt = counter.allocations + n;
            run(image, &face, 1, bit, &status);
            counter.failAt = 0;
            EXPECT_EQ(counter.liveBlocks(), live) << bit << " at " << n;
        }
    }
}

} // namespace
