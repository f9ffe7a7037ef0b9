#include "modules/correction/vexilo_exports.h"

#include "modules/correction/testing/test_images.h"

#include <gtest/gtest.h>

namespace {

TestImage blank(int width, int height, int32_t code) {
    return TestImage(width, height, code, flat(0.0f, 0.0f, 0.0f));
}

TEST(EngineResize, FlatColourStaysFlatInEveryCodeAndDirection) {
    for (int32_t code : kAllPixelCodes)
        for (const std::pair<int, int>& size : {std::pair<int, int>{37, 23}, {300, 200}, {1, 1}}) {
            TestImage source(120, 80, code, flat(0.2f, 0.6f, 0.9f), 4);
            TestImage target = blank(size.first, size.second, code);
            ASSERT_EQ(VXL_Resize(&source.record, &target.record), VXL_OK) << code;
            for (int y = 0; y < size.second; y += 7)
                for (int x = 0; x < size.first; x += 5) {
                    float rgb[3];
                    target.rgbAt(x, y, rgb);
                    EXPECT_NEAR(rgb[0], 0.2f, 0.005f);
                    EXPECT_NEAR(rgb[1], 0.6f, 0.005f);
                    EXPECT_NEAR(rgb[2], 0.9f, 0.005f);
                }
        }
}

TEST(EngineResize, ShrinkingAveragesFineDetailInsteadOfAliasing) {
    // One-pixel black and white stripes shrunk by 7: every pixel comes out near mid-grey.
    TestImage stripes(700, 70, VXL_PIXEL_RGB8, [](int x, int, float* rgb) {
        const float v = x % 2 ? 1.0f : 0.0f;
        flat(v, v, v)(0, 0, rgb);
    });
    TestImage small = blank(100, 10, VXL_PIXEL_RGB8);
    ASSERT_EQ(VXL_Resize(&stripes.record, &small.record), VXL_OK);
    for (int x = 2; x < 98; ++x)
        EXPECT_NEAR(small.sample(x, 5, 0), 128, 12) << x;
}

TEST(EngineResize, EnlargingKeepsAnEdgeInPlace) {
    TestImage step(20, 4, VXL_PIXEL_RGB16, [](int x, int, float* rgb) {
        const float v = x < 10 ? 0.1f : 0.9f;
        flat(v, v, v)(0, 0, rgb);
    });
    TestImage large = blank(80, 16, VXL_PIXEL_RGB16);
    ASSERT_EQ(VXL_Resize(&step.record, &large.record), VXL_OK);
    EXPECT_LT(large.sample(30, 8, 0), 65535 * 0.2);
    EXPECT_GT(large.sample(50, 8, 0), 65535 * 0.8);
    EXPECT_NEAR(large.sample(39, 8, 0) + large.sample(40, 8, 0), 65535, 65535 * 0.1);  // centred
}

TEST(EngineResize, MismatchedOrBadRecordsAreRefused) {
    TestImage source(10, 10, VXL_PIXEL_RGB8, flat(0.5f, 0.5f, 0.5f));
    TestImage other = blank(5, 5, VXL_PIXEL_RGBA8);
    EXPECT_EQ(VXL_Resize(&source.record, &other.record), VXL_ERR_FORMAT);
    TestImage target = blank(5, 5, VXL_PIXEL_RGB8);
    VxlEngineImage shortRows = target.record;
    shortRows.rowBytes = 14;
    EXPECT_EQ(VXL_Resize(&source.record, &shortRows), VXL_ERR_ARGUMENT);
    EXPECT_EQ(VXL_Resize(nullptr, &target.record), VXL_ERR_ARGUMENT);
}

TEST(EngineCropToFill, KeepsTheCentredPartWithTheTargetAspect) {
    struct Case {
        int width, height, targetWidth, targetHeight;
        int cropX, cropY, cropWidth, cropHeight;
    } const cases[] = {
        {400, 200, 100, 100, 100, 0, 200, 200},
        {200, 400, 100, 100, 0, 100, 200, 200},
        {300, 200, 300, 200, 0, 0, 300, 200},
        {300, 200, 100, 50, 0, 25, 300, 150},
    };
    for (const Case& c : cases) {
        TestImage source(c.width, c.height, VXL_PIXEL_RGBA8, flat(0.5f, 0.5f, 0.5f));
        VxlEngineImage crop = {};
        int32_t tw = c.targetWidth, th = c.targetHeight;
        ASSERT_EQ(VXL_CropToFill(&source.record, &crop, &tw, &th), VXL_OK);
        EXPECT_EQ(crop.width, c.cropWidth);
        EXPECT_EQ(crop.height, c.cropHeight);
        EXPECT_EQ(crop.rowBytes, source.record.rowBytes);
        const ptrdiff_t offset = static_cast<uint8_t*>(crop.pixels) - source.bytes.data();
        EXPECT_EQ(offset, ptrdiff_t(c.cropY) * source.record.rowBytes + c.cropX * 4);
        EXPECT_EQ(tw, c.targetWidth);
        EXPECT_EQ(th, c.targetHeight);
    }
    TestImage source(10, 10, VXL_PIXEL_RGB8, flat(0.5f, 0.5f, 0.5f));
    VxlEngineImage crop;
    int32_t zero = 0, ten = 10;
    EXPECT_EQ(VXL_CropToFill(&source.record, &crop, &zero, &ten), VXL_ERR_ARGUMENT);
}

}  // namespace
