// Eye overlay: the bright-end percentile, the patch's turn and size, the stage on synthetic
// faces in every run format, strength, statuses and allocation failures.
#include "facesdk/effects/eye_overlay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "facesdk/effects/testing/eye_surroundings.h"
#include "facesdk/effects/testing/stage_run.h"
#include "facesdk/engine/lzw_pack.h"
#include "facesdk/engine/model_blob.h"
#include "facesdk/engine/warp_anchor.h"

namespace {

TEST(EyeOverlayPercentile, CountsDownFromTheBrightEnd)
{
    OwnedImage image(20, 10, kFormatGrey8);
    struct Case {
        int fill, percent, expected;
    } cases[] = {{200, 4, 199}, {200, 0, 255}, {0, 4, 0}, {255, 100, 254}};
    for (const Case &c : cases) {
        for (int y = 0; y < 10; ++y)
            std::memset(&image.at(0, 0, y), c.fill, 20);
        int32_t value = -1;
        const EngineRect rect = {2, 2, 10, 5};
        ASSERT_EQ(lumaPercentileFromTop(nullptr, &image.image, &rect, c.percent, &value), kResultOk);
        EXPECT_EQ(value, c.expected) << c.fill << " " << c.percent;
    }
    // Four bright pixels of a hundred reach 4 percent at their own value.
    for (int y = 0; y < 10; ++y)
        std::memset(&image.at(0, 0, y), 50, 20);
    for (int x = 0; x < 4; ++x)
        image.at(0, x, 0) = 240;
    int32_t value = 0;
    const EngineRect rect = {0, 0, 10, 10};
    ASSERT_EQ(lumaPercentileFromTop(nullptr, &image.image, &rect, 4, &value), kResultOk);
    EXPECT_EQ(value, 239);
    const EngineRect outside = {15, 0, 10, 10};
    EXPECT_EQ(lumaPercentileFromTop(nullptr, &image.image, &outside, 4, &value), kResultBadArgument);
    // Both eyes' brightest values at 240 (answer 239) and strength 128 lighten with 119.
    EXPECT_EQ(overlayBlendWeight(239, 239, 128), 119u);
    EXPECT_EQ(overlayBlendWeight(255, 255, 255), 254u);
}

struct OverlayTemplates : StageRunFixture {
    EngineImage picture{}, mask{};
    void load(int number)
    {
        const ModelBlob *blob = modelBlobEntry(kBlobsOverlay, number - 1);
        ASSERT_TRUE(blob);
        uint8_t *record = lzwUnpack(inner->allocator, blob->blob + kBlobHeaderBytes);
        ASSERT_TRUE(record);
        EXPECT_EQ(loadTemplateImages(inner, record, byteArrayCapacity(record), &picture, &mask), kResultOk);
        byteArrayFree(inner->allocator, record);
    }
    void TearDown() override
    {
        imageRelease(inner->allocator, &picture);
        imageRelease(inner->allocator, &mask);
        StageRunFixture::TearDown();
    }
};

TEST_F(OverlayTemplates, PatchTurnsWithTheEyeLine)
{
    load(3);
    ASSERT_EQ(picture.width, 206);
    ASSERT_EQ(picture.height, 100);
    OverlayEyeSquare a{}, b{};
    a.found = b.found = 1;
    a.irisY = 120, a.upperLid = 112, a.lowerLid = 127;
    b.irisY = 120, b.upperLid = 112, b.lowerLid = 127;
    a.region = {100, 100, 40, 40};
    struct Case {
        EngineRect second;
        int32_t width, height;
    } cases[] = {
        {{200, 100, 40, 40}, 40, 18},  // level eyes: 40 wide, 100 x 40 / 206 = 19 -> 18 high
        {{100, 200, 40, 40}, 18, 40},  // second eye below the first: a quarter turn
    };
    for (const Case &c : cases) {
        b.region = c.second;
        EngineImage patch{}, patchMask{};
        ASSERT_EQ(prepareOverlayPatch(inner, &picture, &mask, a, b, &patch, &patchMask), kResultOk);
        EXPECT_EQ(patch.width, c.width);
        EXPECT_EQ(patch.height, c.height);
        EXPECT_EQ(patchMask.width, c.width);
        imageRelease(inner->allocator, &patch);
        imageRelease(inner->allocator, &patchMask);
    }
    b.region = {200, 100, 0, 0};
    EngineImage patch{}, patchMask{};
    EXPECT_EQ(prepareOverlayPatch(inner, &picture, &mask, a, b, &patch, &patchMask), kResultBadArgument);
}

struct EyeOverlayTest : StageRunFixture {
    SyntheticFace face;
    void prepare(OwnedImage &image, double roll, int32_t strength, int32_t number = 2)
    {
        makeSyntheticFace(&face, 1, 320, 240, roll, kWidth, kHeight);
        paintSyntheticFaces(image.image, &face, 1);
        BeautySettings settings{};
        settings.overlayStrength = strength;
        settings.overlayTemplate = number;
        use(settings);
        fit(image, &face, 1);
        FaceShapeRecord *record = findShapeRecord(inner, 1);
        ASSERT_EQ(record->eyePartReady, 1);
        if (record->refinedEyeReady != 1) {
            // The refinement wants mirror-symmetric eyes, which a turned synthetic face in a
            // subsampled layout may miss; the eye part itself serves as the refined part then.
            std::memcpy(record->refinedEyePart, record->eyePart, sizeof record->eyePart);
            std::memcpy(record->refinedEyePart + 92, &record->eyePartFaceWidth, 4);
            record->refinedEyeReady = 1;
        }
    }
    // Near either eye: the eye boxes with a margin.
    bool nearEyes(int x, int y) const
    {
        for (const EngineRect &b : {face.work.eye1Box, face.work.eye2Box})
            if (x >= b.x - 8 && x < b.x + b.width + 8 && y >= b.y - 8 && y < b.y + b.height + 8)
                return true;
        return false;
    }
};

TEST_F(EyeOverlayTest, LightensOnlyTheEyesInEveryFormat)
{
    for (PixelFormat format : kStageRunFormats)
        for (double roll : {0.0, 20.0, -35.0}) {
            SCOPED_TRACE(testing::Message() << std::hex << format << std::dec << " roll " << roll);
            OwnedImage image(kWidth, kHeight, format), before(kWidth, kHeight, format);
            prepare(image, roll, 255);
            before.copyPixelsFrom(image);
            int32_t status = 0;
            EXPECT_EQ(run(image, &face, 1, kFeatureTemplateOverlay, &status), kResultOk);
            EXPECT_EQ(status, kResultOk);
            const PixelChange change =
                compareImages(before.image, image.image, [&](int x, int y) { return nearEyes(x, y); });
            EXPECT_GT(change.inside, 100);
            EXPECT_EQ(change.outside, 0);
            // Only luma rises.
            for (int y = 0; y < kHeight; y += 3)
                for (int x = 0; x < kWidth; x += 3) {
                    const YuvColour a = pixelAt(before.image, x, y), b = pixelAt(image.image, x, y);
                    ASSERT_GE(b.y, a.y);
                    ASSERT_EQ(a.u, b.u);
                    ASSERT_EQ(a.v, b.v);
                }
            forgetShapeRecords(inner);
        }
}

TEST_F(EyeOverlayTest, StrengthScalesTheChangeAndTheTemplateIsChecked)
{
    int64_t previous = -1;
    for (int32_t strength : {0, 80, 255}) {
        OwnedImage image(kWidth, kHeight, kFormatYuv420Planar), before(kWidth, kHeight, kFormatYuv420Planar);
        prepare(image, 0, strength);
        before.copyPixelsFrom(image);
        int32_t status = 0;
        run(image, &face, 1, kFeatureTemplateOverlay, &status);
        EXPECT_EQ(status, strength ? kResultOk : kResultStageNotRun);
        const PixelChange change = compareImages(before.image, image.image, [](int, int) { return true; });
        EXPECT_GT(change.inside, previous);
        previous = change.inside;
        forgetShapeRecords(inner);
    }
    OwnedImage image(kWidth, kHeight, kFormatYuv420Planar);
    prepare(image, 0, 200);
    for (int32_t number : {0, 6}) {
        inner->settings.overlay.templateNumber = number;
        int32_t status = 0;
        EXPECT_EQ(run(image, &face, 1, kFeatureTemplateOverlay, &status), kResultOk);
        EXPECT_EQ(status, kResultBadArgument);
    }
}

// The overlay brightens the iris, it does not paint over it: at full strength, with every
// template, the iris as a whole lightens by only a few levels, while its brightest change (the
// catch-light) is clearly visible.
TEST_F(EyeOverlayTest, TheIrisIsBrightenedNotPaintedOver)
{
    for (int32_t number = 1; number <= 5; ++number) {
        SCOPED_TRACE(number);
        OwnedImage image(kWidth, kHeight, kFormatYuv444Planar), before(kWidth, kHeight, kFormatYuv444Planar);
        prepare(image, 0, 255, number);
        before.copyPixelsFrom(image);
        int32_t status = 0;
        run(image, &face, 1, kFeatureTemplateOverlay, &status);
        ASSERT_EQ(status, kResultOk);
        int64_t sum = 0, pixels = 0;
        int32_t brightest = 0;
        for (double side : {-1.0, 1.0}) {
            double ex = 0, ey = 0;
            face.toImage(side * kEyeOffsetX, kEyeOffsetY, &ex, &ey);
            for (int y = int(ey) - 10; y <= int(ey) + 10; ++y)
                for (int x = int(ex) - 10; x <= int(ex) + 10; ++x) {
                    if (std::hypot(x - ex, y - ey) > kIrisRadius)
                        continue;
                    const int32_t d = image.at(0, x, y) - before.at(0, x, y);
                    sum += d;
                    ++pixels;
                    brightest = std::max(brightest, d);
                }
        }
        EXPECT_LT(sum, 12 * pixels);  // a few levels over the whole iris on average
        EXPECT_GE(brightest, 20);     // and a visible catch-light
        forgetShapeRecords(inner);
    }
}

TEST_F(EyeOverlayTest, FacesWithoutRefinedEyesAreNothingToDoAndTheStageStillAnswersZero)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv422Uyvy), before(kWidth, kHeight, kFormatYuv422Uyvy);
    prepare(image, 0, 200);
    findShapeRecord(inner, 1)->refinedEyeReady = 0;
    before.copyPixelsFrom(image);
    int32_t status = 0;
    EXPECT_EQ(run(image, &face, 1, kFeatureTemplateOverlay, &status), kResultOk);
    EXPECT_EQ(status, kResultOk);
    EXPECT_TRUE(image.samePixels(before));
}

TEST_F(EyeOverlayTest, MemoryRunningOutLeaksNothingAndIsReported)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar), before(kWidth, kHeight, kFormatYuv420SemiPlanar);
    prepare(image, 10, 200);
    before.copyPixelsFrom(image);
    int32_t status = 0;
    const int start = counter.allocations;
    run(image, &face, 1, kFeatureTemplateOverlay, &status);
    const int used = counter.allocations - start;
    const size_t live = counter.liveBlocks();
    for (int n = 1; n <= used; ++n) {
        image.copyPixelsFrom(before);
        counter.failAt = counter.allocations + n;
        run(image, &face, 1, kFeatureTemplateOverlay, &status);
        counter.failAt = 0;
        EXPECT_EQ(counter.liveBlocks(), live) << n;
        // 96: the run's own set-up ran out before the stage.
        EXPECT_TRUE(status == kResultOk || status == kResultNoMemory || status == kResultStageNotRun)
            << n << ": " << status;
        if (status == kResultNoMemory) {
            EXPECT_TRUE(image.samePixels(before)) << n;
        }
    }
}

} // namespace
