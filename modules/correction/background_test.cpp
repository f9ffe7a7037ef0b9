#include "modules/correction/vexilo_exports.h"

#include "modules/correction/testing/test_images.h"

#include <gtest/gtest.h>

namespace {

// A grey backdrop with an orange subject in the middle.
auto portrait() {
    return [](int x, int y, float* rgb) {
        const bool subject = x >= 30 && x < 70 && y >= 20 && y < 60;
        subject ? flat(0.9f, 0.5f, 0.2f)(x, y, rgb) : flat(0.6f, 0.6f, 0.62f)(x, y, rgb);
    };
}

TEST(EngineBackground, BackgroundColourIsTheBorders) {
    TestImage image(100, 80, VXL_PIXEL_BGR8, portrait());
    VxlBGProfile* profile = VXL_CreateBGProfile();
    double r = 0, g = 0, b = 0;
    EXPECT_EQ(VXL_RGBFromBGProfile(profile, &r, &g, &b), VXL_ERR_ARGUMENT);  // nothing measured yet
    ASSERT_EQ(VXL_BGSyncCalc(&image.record, nullptr, profile, 1), VXL_OK);
    ASSERT_EQ(VXL_RGBFromBGProfile(profile, &r, &g, &b), VXL_OK);
    EXPECT_NEAR(r, 0.6 * 255, 1.0);
    EXPECT_NEAR(g, 0.6 * 255, 1.0);
    EXPECT_NEAR(b, 0.62 * 255, 1.0);
    VXL_ReleaseBGProfile(profile);
}

TEST(EngineBackground, MaskMarksTheBackdropAndSyncMovesOnlyIt) {
    TestImage image(100, 80, VXL_PIXEL_RGB16, portrait());
    VxlBGMaskRequest request = {};
    request.kind = 7;
    request.amount = 50;
    request.scale = 100;
    request.smooth = 1;
    request.eightBit = 1;
    request.strength = 50;
    request.bytesPerMaskPixel = 4;
    std::vector<uint8_t> mask(100 * 80);
    ASSERT_EQ(VXL_FillBGMask(&image.record, nullptr, nullptr, mask.data(), &request), VXL_OK);
    EXPECT_EQ(mask[5 * 100 + 5], 255);
    EXPECT_EQ(mask[40 * 100 + 50], 0);

    const double grey = 0.6 * 255;
    ASSERT_EQ(VXL_BGSyncApply(&image.record, mask.data(), nullptr, 0, 200.0, 200.0, 220.0, 0, grey, grey,
                              0.62 * 255, 30, 100, 0),
              VXL_OK);
    float rgb[3];
    image.rgbAt(5, 5, rgb);
    EXPECT_NEAR(rgb[0] * 255, 200.0, 1.5);
    EXPECT_NEAR(rgb[2] * 255, 220.0, 1.5);
    image.rgbAt(50, 40, rgb);
    EXPECT_NEAR(rgb[0], 0.9f, 0.002f);
    EXPECT_NEAR(rgb[1], 0.5f, 0.002f);
}

TEST(EngineBackground, BadArgumentsAreRefused) {
    TestImage image(10, 10, VXL_PIXEL_RGB8, portrait());
    VxlBGMaskRequest request = {};
    std::vector<uint8_t> mask(100);
    EXPECT_EQ(VXL_FillBGMask(&image.record, nullptr, nullptr, nullptr, &request), VXL_ERR_ARGUMENT);
    EXPECT_EQ(VXL_FillBGMask(&image.record, nullptr, nullptr, mask.data(), nullptr), VXL_ERR_ARGUMENT);
    EXPECT_EQ(VXL_BGSyncCalc(&image.record, nullptr, nullptr, 1), VXL_ERR_ARGUMENT);
    VXL_ReleaseBGProfile(nullptr);
}

}  // namespace
