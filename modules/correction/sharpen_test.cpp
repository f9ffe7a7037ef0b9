#include "modules/correction/vexilo_exports.h"

#include "modules/correction/testing/test_images.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

auto verticalEdge(int at) {
    return [at](int x, int, float* rgb) {
        const float v = x < at ? 0.3f : 0.7f;
        flat(v, v, v)(0, 0, rgb);
    };
}

TEST(EngineSharpen, AddsContrastAtEdgesAndLeavesFlatAreas) {
    for (int32_t code : {VXL_PIXEL_RGB8, VXL_PIXEL_BGRA16}) {
        TestImage image(64, 16, code, verticalEdge(32));
        TestImage original(64, 16, code, verticalEdge(32));
        ASSERT_EQ(VXL_Sharpen(&image.record, 100, 2.0f, 0), VXL_OK);
        float before[3], after[3];
        original.rgbAt(31, 8, before);
        image.rgbAt(31, 8, after);
        EXPECT_LT(after[0], before[0] - 0.02f) << code;  // dark side gets darker
        original.rgbAt(32, 8, before);
        image.rgbAt(32, 8, after);
        EXPECT_GT(after[0], before[0] + 0.02f) << code;  // bright side brighter
        image.rgbAt(2, 8, after);
        EXPECT_NEAR(after[0], 0.3f, 0.004f) << code;  // far from the edge nothing changes
    }
}

TEST(EngineSharpen, NothingToDoOrBadArguments) {
    TestImage image(32, 8, VXL_PIXEL_RGB8, verticalEdge(16));
    const std::vector<uint8_t> before = image.bytes;
    EXPECT_EQ(VXL_Sharpen(&image.record, 0, 2.0f, 0), VXL_OK);
    EXPECT_EQ(VXL_Sharpen(&image.record, 100, 0.0f, 0), VXL_OK);
    EXPECT_EQ(image.bytes, before);
    EXPECT_EQ(VXL_Sharpen(&image.record, 100, -1.0f, 0), VXL_ERR_ARGUMENT);
    EXPECT_EQ(VXL_Sharpen(&image.record, 100, std::numeric_limits<float>::quiet_NaN(), 0), VXL_ERR_ARGUMENT);
    EXPECT_EQ(image.bytes, before);
}

TEST(EngineSharpen, ProtectedModeLeavesFaintNoiseAlone) {
    TestImage noisy(64, 64, VXL_PIXEL_RGB8, noisyGrey(0.5f, 1.0f));
    TestImage plain = noisy;
    plain.record.pixels = plain.bytes.data();
    const std::vector<uint8_t> before = noisy.bytes;
    ASSERT_EQ(VXL_Sharpen(&noisy.record, 150, 1.0f, 1), VXL_OK);
    ASSERT_EQ(VXL_Sharpen(&plain.record, 150, 1.0f, 0), VXL_OK);
    size_t changedProtected = 0, changedPlain = 0;
    for (size_t i = 0; i < before.size(); ++i) {
        changedProtected += noisy.bytes[i] != before[i];
        changedPlain += plain.bytes[i] != before[i];
    }
    EXPECT_LT(changedProtected * 4, changedPlain);
}

TEST(EngineSharpen, SoftPicturesAreOfferedMoreSharpening) {
    TestImage soft(200, 200, VXL_PIXEL_RGB8, [](int x, int y, float* rgb) {
        const float v = 0.5f + 0.3f * std::sin(x * 0.03f) * std::cos(y * 0.03f);
        flat(v, v, v)(0, 0, rgb);
    });
    TestImage busy(200, 200, VXL_PIXEL_RGB8, [](int x, int y, float* rgb) {
        const float v = (x / 2 + y / 2) % 2 ? 0.9f : 0.1f;
        flat(v, v, v)(0, 0, rgb);
    });
    float softAmount = 0.0f, busyAmount = 0.0f;
    int32_t softEdges = -1, busyEdges = -1, radius = 0;
    ASSERT_EQ(VXL_CalcAutoSharpness(&soft.record, 0, &softAmount, &softEdges, &radius, 0), VXL_OK);
    ASSERT_EQ(VXL_CalcAutoSharpness(&busy.record, 0, &busyAmount, &busyEdges, &radius, 0), VXL_OK);
    EXPECT_GT(softAmount, busyAmount);
    EXPECT_LT(softEdges, busyEdges);
    EXPECT_GE(softAmount, 0.0f);
    EXPECT_LE(softAmount, 150.0f);
    EXPECT_EQ(radius, 10);
}

}  // namespace
