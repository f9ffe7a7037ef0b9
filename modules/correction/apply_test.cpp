#include "modules/correction/vexilo_exports.h"

#include "modules/correction/testing/test_images.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct ProfileDeleter {
    void operator()(VxlProfile* profile) const { VXL_ReleaseProfile(profile); }
};
using Profile = std::unique_ptr<VxlProfile, ProfileDeleter>;

Profile analyse(const TestImage& image) {
    return Profile(VXL_Calc(&image.record, nullptr, nullptr, 0x1083, -1, "", nullptr, nullptr, 0, nullptr));
}

VxlEngineParams exposureOnly(int strength) {
    VxlEngineParams params = {};
    params.enable = 1;
    params.exposureStrength = strength;
    return params;
}

class EngineApply : public ::testing::Test {
protected:
    void SetUp() override { engine = VXL_CreateEngine(); }
    void TearDown() override { VXL_DestroyEngine(engine); }
    int32_t apply(TestImage& image, VxlEngineParams& params, int amount = 100) {
        const Profile profile = analyse(image);
        return VXL_Apply(&image.record, engine, profile.get(), &params, nullptr, amount, nullptr);
    }
    VxlEngineHandle engine = nullptr;
};

TEST_F(EngineApply, ExposureUpRaisesMeanLumaInEveryPixelCode) {
    for (int32_t code : kAllPixelCodes) {
        TestImage image(160, 120, code, scene(0.3f), 2);
        const double before = image.meanLuma();
        VxlEngineParams params = exposureOnly(100);
        ASSERT_EQ(apply(image, params), VXL_OK) << code;
        EXPECT_GT(image.meanLuma(), before + 0.1) << code;
        EXPECT_EQ(params.exposureStrength, 100);
        if (image.layout.channels == 4) {
            EXPECT_EQ(image.sample(5, 5, 3), image.layout.maxValue()) << "alpha untouched, code " << code;
        }
    }
}

TEST_F(EngineApply, StrengthScalesTheChangeAndNothingChangesWithoutTheEnableWord) {
    double means[3];
    const int strengths[] = {0, 50, 100};
    for (int i = 0; i < 3; ++i) {
        TestImage image(120, 90, VXL_PIXEL_RGB8, scene(0.3f));
        VxlEngineParams params = exposureOnly(strengths[i]);
        ASSERT_EQ(apply(image, params), VXL_OK);
        means[i] = image.meanLuma();
    }
    EXPECT_NEAR(means[0], TestImage(120, 90, VXL_PIXEL_RGB8, scene(0.3f)).meanLuma(), 1e-3);
    EXPECT_LT(means[0], means[1]);
    EXPECT_LT(means[1], means[2]);

    TestImage image(120, 90, VXL_PIXEL_RGB8, scene(0.3f));
    const std::vector<uint8_t> before = image.bytes;
    VxlEngineParams disabled = exposureOnly(100);
    disabled.enable = 0;
    EXPECT_EQ(apply(image, disabled), VXL_OK);
    EXPECT_EQ(image.bytes, before);
    VxlEngineParams params = exposureOnly(100);
    EXPECT_EQ(apply(image, params, 0), VXL_OK);  // amount 0 keeps none of the change
    EXPECT_EQ(image.bytes, before);
}

TEST_F(EngineApply, AutomaticExposureReportsTheStrengthItUsed) {
    struct Case {
        int aggressive, minStrength, used;
    } const cases[] = {{0, 0, 100}, {20, 0, 120}, {-60, 0, 40}, {-60, 70, 70}, {90, 0, 150}};
    for (const Case& c : cases) {
        TestImage image(64, 64, VXL_PIXEL_RGB8, scene(0.3f));
        VxlEngineParams params = exposureOnly(0);
        params.autoExposure = 1;
        params.aggressive = c.aggressive;
        params.minStrength = c.minStrength;
        params.governor = 100;
        ASSERT_EQ(apply(image, params), VXL_OK);
        EXPECT_EQ(params.exposureStrength, c.used) << c.aggressive << "/" << c.minStrength;
    }
}

double castOf(const TestImage& image) {
    double mean[3];
    image.meanRgb(mean);
    return std::max({mean[0], mean[1], mean[2]}) - std::min({mean[0], mean[1], mean[2]});
}

TEST_F(EngineApply, TintCorrectionReducesAColourCast) {
    const auto blueCast = scene(0.8f, 0.8f, 0.9f, 1.2f);
    TestImage full(160, 120, VXL_PIXEL_RGB8, blueCast);
    TestImage half(160, 120, VXL_PIXEL_RGB8, blueCast);
    const double before = castOf(full);
    VxlEngineParams params = exposureOnly(0);
    params.tintOn = 1;
    ASSERT_EQ(apply(full, params), VXL_OK);
    params.tintScale = 0.5f;
    ASSERT_EQ(apply(half, params), VXL_OK);
    EXPECT_LT(castOf(full), before * 0.3);
    EXPECT_LT(castOf(half), before * 0.8);
    EXPECT_GT(castOf(half), castOf(full));
}

double lumaSpread(const TestImage& image) {
    double sum = 0.0, sumSq = 0.0;
    const int n = image.record.width * image.record.height;
    for (int y = 0; y < image.record.height; ++y)
        for (int x = 0; x < image.record.width; ++x) {
            float rgb[3];
            image.rgbAt(x, y, rgb);
            const double l = vexilo::lumaOf(rgb);
            sum += l;
            sumSq += l * l;
        }
    return std::sqrt(sumSq / n - (sum / n) * (sum / n));
}

TEST_F(EngineApply, ContrastWidensTheToneSpread) {
    TestImage image(160, 120, VXL_PIXEL_RGB16, scene(0.9f));
    const double before = lumaSpread(image);
    VxlEngineParams params = exposureOnly(0);
    params.contrastOn = 1;
    params.contrast = 80;
    ASSERT_EQ(apply(image, params), VXL_OK);
    EXPECT_GT(lumaSpread(image), before * 1.1);
}

TEST_F(EngineApply, VibranceLiftsMutedColoursMoreThanSaturatedOnes) {
    TestImage image(2, 1, VXL_PIXEL_RGB8, [](int x, int, float* rgb) {
        x == 0 ? flat(0.55f, 0.5f, 0.45f)(0, 0, rgb) : flat(0.9f, 0.1f, 0.1f)(0, 0, rgb);
    });
    // A 2x1 image is under the analysis size: vibrance needs no profile.
    VxlEngineParams params = exposureOnly(0);
    params.tccOn = 1;
    params.tcc = 60;
    const auto saturation = [&](int x) {
        float rgb[3];
        image.rgbAt(x, 0, rgb);
        const float mx = std::max({rgb[0], rgb[1], rgb[2]}), mn = std::min({rgb[0], rgb[1], rgb[2]});
        return (mx - mn) / mx;
    };
    const float mutedBefore = saturation(0), vividBefore = saturation(1);
    ASSERT_EQ(VXL_Apply(&image.record, engine, nullptr, &params, nullptr, 100, nullptr), VXL_OK);
    EXPECT_GT(saturation(0) / mutedBefore, 1.3f);
    EXPECT_LT(saturation(1) / vividBefore, saturation(0) / mutedBefore);
}

TEST_F(EngineApply, SingleThreadedEngineGivesTheSameResult) {
    TestImage threaded(1200, 600, VXL_PIXEL_RGBA8, scene(0.4f, 1.0f, 0.9f, 1.1f));
    TestImage single = threaded;
    single.record.pixels = single.bytes.data();
    VxlEngineParams a = exposureOnly(100), b = exposureOnly(100);
    a.tintOn = b.tintOn = 1;
    ASSERT_EQ(apply(threaded, a), VXL_OK);
    VXL_SetSingleThreadedEngine(engine, 1);
    ASSERT_EQ(apply(single, b), VXL_OK);
    EXPECT_EQ(single.bytes, threaded.bytes);
}

TEST_F(EngineApply, BadArgumentsAreRefused) {
    TestImage image(16, 16, VXL_PIXEL_RGB8, scene(0.5f));
    VxlEngineParams params = exposureOnly(100);
    EXPECT_EQ(VXL_Apply(&image.record, engine, nullptr, nullptr, nullptr, 100, nullptr), VXL_ERR_ARGUMENT);
    EXPECT_EQ(VXL_Apply(nullptr, engine, nullptr, &params, nullptr, 100, nullptr), VXL_ERR_ARGUMENT);
    VxlEngineImage unknown = image.record;
    unknown.format = 42;
    EXPECT_EQ(VXL_Apply(&unknown, engine, nullptr, &params, nullptr, 100, nullptr), VXL_ERR_FORMAT);
}

}  // namespace
