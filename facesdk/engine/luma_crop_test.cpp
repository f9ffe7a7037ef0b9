#include "facesdk/engine/luma_crop.h"

#include <gtest/gtest.h>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/engine/box_blur.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/testing/owned_image.h"
#include "facesdk/engine/testing/yuv_paint.h"

namespace {

// An inner engine whose stages work on the given image.
struct CropEngine {
    CountingAllocator counter;
    InnerEngine inner{};
    explicit CropEngine(const EngineImage &working)
    {
        inner.allocator = counter.allocator();
        inner.workingImage = working;
        inner.ownsWorkingImage = 0;
    }
};

YuvColour pattern(int x, int y) { return {(x * 7 + y * 13) % 256, 100 + x % 9, 150 - y % 7}; }

}  // namespace

TEST(LumaCrop, CopiesLumaOfEveryLayout)
{
    const PixelFormat formats[] = {kFormatYuv422Yuyv, kFormatYuv422Uyvy, kFormatYuv444Planar,
                                   kFormatYuv422Planar, kFormatYuv420SemiPlanar,
                                   kFormatYuv420Planar};
    const EngineRect rect{4, 6, 10, 8};
    for (PixelFormat format : formats) {
        OwnedImage image(32, 24, format);
        paintYuv(image.image, pattern);
        CropEngine engine(image.image);
        EngineImage grey{};
        ASSERT_EQ(cropLumaBlurred(&engine.inner, &rect, 1, &grey), kResultOk) << std::hex << format;
        EXPECT_EQ(grey.format, kFormatGrey8);
        EXPECT_EQ(grey.width, 10);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 10; ++x)
                ASSERT_EQ(grey.planes[0].pixels[size_t(y) * grey.planes[0].stride + x],
                          pattern(x + 4, y + 6).y)
                    << std::hex << format << std::dec << " " << x << "," << y;
        imageRelease(engine.counter.allocator(), &grey);
        EXPECT_EQ(engine.counter.liveBlocks(), 0u);
    }
}

TEST(LumaCrop, BlursFourTimesAndRefusesOthers)
{
    OwnedImage image(40, 30, kFormatYuv420Planar);
    paintYuv(image.image, pattern);
    CropEngine engine(image.image);
    const EngineRect rect{2, 2, 20, 16};
    EngineImage blurred{}, expected{};
    ASSERT_EQ(cropLumaBlurred(&engine.inner, &rect, 5, &blurred), kResultOk);
    ASSERT_EQ(cropLumaBlurred(&engine.inner, &rect, 1, &expected), kResultOk);
    for (int pass = 0; pass < 4; ++pass)
        ASSERT_EQ(boxBlurFull(engine.counter.allocator(), &expected, 5), kResultOk);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(blurred.planes[0].pixels[size_t(y) * blurred.planes[0].stride + x],
                      expected.planes[0].pixels[size_t(y) * expected.planes[0].stride + x]);
    imageRelease(engine.counter.allocator(), &blurred);
    imageRelease(engine.counter.allocator(), &expected);

    EngineImage out{};
    out.width = 77;
    const EngineRect empty{0, 0, 0, 4}, outside{30, 20, 20, 20};
    EXPECT_EQ(cropLumaBlurred(&engine.inner, &empty, 3, &out), kResultBadArgument);
    EXPECT_EQ(out.width, 0);
    EXPECT_EQ(cropLumaBlurred(&engine.inner, &outside, 3, &out), kResultBadArgument);
    EXPECT_EQ(cropLumaBlurred(&engine.inner, &rect, 3, nullptr), kResultBadArgument);
    for (PixelFormat format : {kFormatYuv420SemiPlanarCrFirst, kFormatGrey8}) {
        OwnedImage other(40, 30, format);
        CropEngine otherEngine(other.image);
        EXPECT_EQ(cropLumaBlurred(&otherEngine.inner, &rect, 3, &out), kResultUnsupported);
        EXPECT_EQ(out.planes[0].pixels, nullptr);
        EXPECT_EQ(otherEngine.counter.liveBlocks(), 0u);
    }
    // Out of memory for the output, then for the blur's ring.
    for (int n = 1; n <= 2; ++n) {
        engine.counter.failAt = engine.counter.allocations + n;
        EXPECT_EQ(cropLumaBlurred(&engine.inner, &rect, 3, &out), kResultNoMemory) << n;
        EXPECT_EQ(out.planes[0].pixels, nullptr);
    }
    EXPECT_EQ(engine.counter.liveBlocks(), 0u);
}

TEST(LumaCrop, NearestPowerOfTwoRatio)
{
    struct Case {
        int32_t a, b, expected;
    };
    const Case cases[] = {{10, 15, 2}, {10, 30, 2}, {10, 60, 4}, {10, 70, 8}, {10, 4, 1},
                          {10, 10, 1}, {10, 5, 1},  {7, 112, 16}, {0, 5, 1},  {10, 0, 1},
                          {1, 1 << 30, 1 << 30}};
    for (const Case &c : cases)
        EXPECT_EQ(nearestPowerOfTwoRatio(c.a, c.b), c.expected) << c.a << " " << c.b;
}
