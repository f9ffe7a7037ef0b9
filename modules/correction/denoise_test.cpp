#include "modules/correction/vexilo_exports.h"

#include "modules/correction/testing/test_images.h"

#include <gtest/gtest.h>

namespace {

double noiseOf(const TestImage& image) {
    VxlProfile* profile = VXL_Calc(&image.record, nullptr, nullptr, 0x1083, -1, "", nullptr, nullptr, 0, nullptr);
    const double sigma = profile->noiseSigma;
    VXL_ReleaseProfile(profile);
    return sigma;
}

// Noisy grey left half, noisy light grey right half.
auto noisyEdge() {
    auto noise = noisyGrey(0.0f, 6.0f);
    return [noise](int x, int y, float* rgb) {
        noise(x, y, rgb);
        const float base = x < 64 ? 0.3f : 0.7f;
        for (int c = 0; c < 3; ++c)
            rgb[c] += base;
    };
}

TEST(EngineNoiseRemoval, SmoothsNoiseAndKeepsEdges) {
    for (int32_t code : {VXL_PIXEL_RGB8, VXL_PIXEL_BGRA16}) {
        TestImage image(128, 96, code, noisyEdge());
        const double before = noiseOf(image);
        VxlEngineParams params = {};
        params.enable = 1;
        params.noiseRemovalOn = 1;
        VxlProfile* profile = VXL_Calc(&image.record, nullptr, nullptr, 0x1083, -1, "", nullptr, nullptr, 0, nullptr);
        ASSERT_EQ(VXL_Apply(&image.record, nullptr, profile, &params, nullptr, 100, nullptr), VXL_OK);
        VXL_ReleaseProfile(profile);
        EXPECT_LT(noiseOf(image), before * 0.5) << code;
        float left[3], right[3];
        image.rgbAt(62, 40, left);
        image.rgbAt(65, 40, right);
        EXPECT_GT(right[1] - left[1], 0.3f) << code;  // the step of 0.4 stays a step
    }
}

TEST(EngineNoiseRemoval, OffOrWithoutANoiseEstimateNothingIsSmoothed) {
    TestImage image(64, 64, VXL_PIXEL_RGB8, noisyGrey(0.5f, 6.0f));
    const std::vector<uint8_t> before = image.bytes;
    VxlEngineParams params = {};
    params.enable = 1;
    VxlProfile* profile = VXL_Calc(&image.record, nullptr, nullptr, 0x1083, -1, "", nullptr, nullptr, 0, nullptr);
    ASSERT_EQ(VXL_Apply(&image.record, nullptr, profile, &params, nullptr, 100, nullptr), VXL_OK);
    VXL_ReleaseProfile(profile);
    EXPECT_EQ(image.bytes, before);

    params.noiseRemovalOn = 1;
    profile = VXL_Calc(&image.record, nullptr, nullptr, VXL_CALC_TONE, -1, "", nullptr, nullptr, 0, nullptr);
    ASSERT_EQ(VXL_Apply(&image.record, nullptr, profile, &params, nullptr, 100, nullptr), VXL_OK);
    VXL_ReleaseProfile(profile);
    EXPECT_EQ(image.bytes, before);
}

}  // namespace
