#include "modules/correction/vexilo_exports.h"

#include "modules/correction/testing/test_images.h"

#include <gtest/gtest.h>

#include <memory>
#include <numeric>

namespace {

constexpr uint32_t kFullMask = 0x1081 | VXL_CALC_NOISE;

struct ProfileDeleter {
    void operator()(VxlProfile* profile) const { VXL_ReleaseProfile(profile); }
};
using Profile = std::unique_ptr<VxlProfile, ProfileDeleter>;

Profile analyse(const TestImage& image, uint32_t mask = kFullMask) {
    return Profile(VXL_Calc(&image.record, nullptr, nullptr, mask, 100, "Maker Model", nullptr, nullptr, 0, nullptr));
}

TEST(EngineAnalysis, ExposureEstimateFollowsBrightness) {
    const Profile dark = analyse(TestImage(200, 150, VXL_PIXEL_RGB8, scene(0.3f)));
    const Profile normal = analyse(TestImage(200, 150, VXL_PIXEL_RGB8, flat(0.46f, 0.46f, 0.46f)));
    const Profile bright = analyse(TestImage(200, 150, VXL_PIXEL_RGB8, flat(0.95f, 0.95f, 0.95f)));
    EXPECT_GT(dark->exposureEv, 1.0);
    EXPECT_NEAR(normal->exposureEv, 0.0, 0.1);  // middle grey needs no change
    EXPECT_LT(bright->exposureEv, -1.0);
    for (const Profile* p : {&dark, &normal, &bright}) {
        EXPECT_EQ(vxlProfileWord(p->get(), VXL_PROFILE_STATUS_OFFSET), VXL_STATUS_OK);
        EXPECT_EQ(vxlProfileWord(p->get(), VXL_PROFILE_FLAGS_OFFSET) & VXL_PROFILE_FAILED, 0);
    }
}

TEST(EngineAnalysis, EstimatesAgreeAcrossPixelCodes) {
    const Profile reference = analyse(TestImage(120, 90, VXL_PIXEL_RGB8, scene(0.5f, 1.1f, 1.0f, 0.8f)));
    for (int32_t code : kAllPixelCodes) {
        const Profile p = analyse(TestImage(120, 90, code, scene(0.5f, 1.1f, 1.0f, 0.8f), 6));
        EXPECT_NEAR(p->exposureEv, reference->exposureEv, 0.02) << code;
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(p->channelMean[c], reference->channelMean[c], 0.005) << code << " channel " << c;
    }
}

TEST(EngineAnalysis, NoiseEstimateMeasuresTheNoise) {
    const Profile noisy = analyse(TestImage(256, 256, VXL_PIXEL_RGB8, noisyGrey(0.5f, 8.0f)));
    const Profile clean = analyse(TestImage(256, 256, VXL_PIXEL_RGB8, scene(0.8f)));
    EXPECT_NEAR(noisy->noiseSigma, 8.0, 2.0);
    EXPECT_TRUE(VXL_IsNoiseDetected(noisy.get(), 0));
    EXPECT_TRUE(VXL_IsNoiseDetected(noisy.get(), 4));
    EXPECT_FALSE(VXL_IsNoiseDetected(clean.get(), 0));

    const Profile notAsked = analyse(TestImage(256, 256, VXL_PIXEL_RGB8, noisyGrey(0.5f, 8.0f)), 0x1081);
    EXPECT_NE(vxlProfileWord(notAsked.get(), VXL_PROFILE_FLAGS_OFFSET) & VXL_PROFILE_NO_NOISE, 0);
    EXPECT_FALSE(VXL_IsNoiseDetected(notAsked.get(), 0));
}

TEST(EngineAnalysis, AbnormalTintIsACast) {
    const Profile tinted = analyse(TestImage(160, 120, VXL_PIXEL_RGB8, scene(0.8f, 0.75f, 0.9f, 1.25f)));
    const Profile neutral = analyse(TestImage(160, 120, VXL_PIXEL_RGB8, flat(0.5f, 0.5f, 0.5f)));
    EXPECT_TRUE(VXL_AbnormalTintDetected(tinted.get(), 0));
    EXPECT_FALSE(VXL_AbnormalTintDetected(neutral.get(), 0));
    EXPECT_FALSE(VXL_AbnormalTintDetected(tinted.get(), 200));  // an own threshold above the cast
    EXPECT_FALSE(VXL_AbnormalTintDetected(nullptr, 0));
}

TEST(EngineAnalysis, BadImagesGiveAFailedProfile) {
    TestImage good(64, 64, VXL_PIXEL_RGB8, flat(0.5f, 0.5f, 0.5f));
    struct Case {
        const char* what;
        VxlEngineImage record;
        int32_t status;
    } cases[] = {
        {"no pixels", {64, 64, 192, VXL_PIXEL_RGB8, nullptr}, VXL_STATUS_BAD_ARGUMENT},
        {"short rows", {64, 64, 100, VXL_PIXEL_RGB8, good.bytes.data()}, VXL_STATUS_BAD_ARGUMENT},
        {"negative width", {-64, 64, 192, VXL_PIXEL_RGB8, good.bytes.data()}, VXL_STATUS_BAD_ARGUMENT},
        {"unknown code", {64, 64, 192, 8, good.bytes.data()}, VXL_STATUS_BAD_FORMAT},
        {"odd 16-bit rows", {16, 16, 97, VXL_PIXEL_RGB16, good.bytes.data()}, VXL_STATUS_BAD_ARGUMENT},
        {"odd 16-bit start", {16, 16, 96, VXL_PIXEL_RGB16, good.bytes.data() + 1}, VXL_STATUS_BAD_ARGUMENT},
        {"too small", {4, 64, 192, VXL_PIXEL_RGB8, good.bytes.data()}, VXL_STATUS_TOO_SMALL},
    };
    for (Case& c : cases) {
        Profile p(VXL_Calc(&c.record, nullptr, nullptr, kFullMask, -1, nullptr, nullptr, nullptr, 0, nullptr));
        ASSERT_NE(p, nullptr) << c.what;
        EXPECT_EQ(vxlProfileWord(p.get(), VXL_PROFILE_STATUS_OFFSET), c.status) << c.what;
        EXPECT_NE(vxlProfileWord(p.get(), VXL_PROFILE_FLAGS_OFFSET) & VXL_PROFILE_FAILED, 0) << c.what;
        EXPECT_FALSE(VXL_IsNoiseDetected(p.get(), 0));
    }
    Profile none(VXL_Calc(nullptr, nullptr, nullptr, kFullMask, -1, nullptr, nullptr, nullptr, 0, nullptr));
    EXPECT_EQ(vxlProfileWord(none.get(), VXL_PROFILE_STATUS_OFFSET), VXL_STATUS_BAD_ARGUMENT);
}

TEST(EngineAnalysis, DescriptorsAreNinetyHistogramValues) {
    const Profile photo = analyse(TestImage(160, 120, VXL_PIXEL_RGB8, scene(0.9f)), kFullMask | VXL_CALC_DESCRIPT);
    int32_t count = 0, colours = 0, flag = -1;
    float a = -1.0f, b = -1.0f;
    ASSERT_EQ(VXL_GetCartoonDetectionDescriptors(photo.get(), nullptr, &count, &a, &b, &colours, &flag), VXL_OK);
    ASSERT_EQ(count, 90);
    std::vector<float> values(90);
    ASSERT_EQ(VXL_GetCartoonDetectionDescriptors(photo.get(), values.data(), &count, &a, &b, &colours, &flag), VXL_OK);
    for (int c = 0; c < 3; ++c)  // one normalised 30-bin histogram per colour
        EXPECT_NEAR(std::accumulate(values.begin() + 30 * c, values.begin() + 30 * (c + 1), 0.0f), 1.0f, 1e-3f);
    EXPECT_EQ(flag, 0);

    const Profile drawing =
        analyse(TestImage(160, 120, VXL_PIXEL_RGB8,
                          [](int x, int y, float* rgb) { flat(x < 80 ? 0.9f : 0.1f, 0.4f, y < 60 ? 0.2f : 0.7f)(x, y, rgb); }),
                kFullMask | VXL_CALC_DESCRIPT);
    ASSERT_EQ(VXL_GetCartoonDetectionDescriptors(drawing.get(), nullptr, &count, &a, &b, &colours, &flag), VXL_OK);
    EXPECT_EQ(colours, 4);
    EXPECT_EQ(flag, 1);

    const Profile notAsked = analyse(TestImage(64, 64, VXL_PIXEL_RGB8, scene(0.9f)), VXL_CALC_TONE);
    EXPECT_NE(VXL_GetCartoonDetectionDescriptors(notAsked.get(), nullptr, &count, &a, &b, &colours, &flag), VXL_OK);
    EXPECT_EQ(count, 0);
}

}  // namespace
