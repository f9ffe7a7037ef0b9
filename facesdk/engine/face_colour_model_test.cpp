#include "facesdk/engine/face_colour_model.h"

#include <gtest/gtest.h>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/testing/owned_image.h"
#include "facesdk/engine/testing/yuv_paint.h"

namespace {

// An inner engine whose colour source and likelihood images are the given ones.
struct LikelihoodEngine {
    InnerEngine inner{};
    LikelihoodEngine(const EngineImage &source, const EngineImage &likelihood)
    {
        inner.scratch[kColourSourceScratch] = source;
        inner.scratch[kLikelihoodScratch] = likelihood;
        inner.workingWidth = source.width;
        inner.workingHeight = source.height;
    }
};

void clearGrey(OwnedImage &grey)
{
    for (int y = 0; y < grey.image.height; ++y)
        for (int x = 0; x < grey.image.width; ++x)
            grey.at(0, x, y) = 0;
}

// A face of varied skin on a green background; the face box is (16, 8, 32, 40).
YuvColour syntheticFace(int x, int y)
{
    const bool face = x >= 16 && x < 48 && y >= 8 && y < 48;
    if (!face)
        return {120 + (x * 3 + y) % 20, 90, 100};
    const int shade = ((x * 5 + y * 11) % 41) - 20;
    return {150 + shade, 110 - shade / 8, 155 + shade / 8};
}

}  // namespace

TEST(FaceColourModel, ValueAtTheMeanAndBelowTheLumaThreshold)
{
    // Skin chroma (110, 155) lies in the inner triangle of the normal variant.
    EXPECT_EQ(skinLikelihoodValue(0, 100, 80, 150, 110, 155), 255);
    EXPECT_EQ(skinLikelihoodValue(0, 100, 80, 40, 110, 155), 2);  // Y = B / 2: k 32
    EXPECT_EQ(skinLikelihoodValue(99, 100, 80, 150, 110, 155), 1);
    // Grey lies between the triangles: half; bluish chroma outside both: a quarter.
    EXPECT_EQ(skinLikelihoodValue(0, 100, 80, 150, 128, 128), 255 >> 1);
    EXPECT_EQ(skinLikelihoodValue(0, 100, 80, 150, 160, 100), 255 >> 2);
    // The strong variant's triangles reach further from grey.
    EXPECT_EQ(skinLikelihoodValue(0, 100, 80, 150, 95, 178), 255 >> 1);
    EXPECT_EQ(skinLikelihoodValueStrong(0, 100, 80, 150, 95, 178), 255);
    for (int k = 1; k < 256; ++k)
        ASSERT_LE(kLikelihoodRamp[k - 1], kLikelihoodRamp[k]);
    EXPECT_EQ(kLikelihoodRamp[29], 1);
    EXPECT_EQ(kLikelihoodRamp[128], 41);
    EXPECT_EQ(kLikelihoodRamp[246], 255);
}

TEST(FaceColourModel, LikelihoodOfASyntheticFace)
{
    const PixelFormat formats[] = {kFormatYuv420Planar, kFormatYuv420SemiPlanar,
                                   kFormatYuv422Planar, kFormatYuv444Planar, kFormatYuv422Yuyv,
                                   kFormatYuv422Uyvy};
    for (PixelFormat format : formats) {
        OwnedImage source(64, 64, format);
        paintYuv(source.image, syntheticFace);
        OwnedImage likelihood(64, 64, kFormatGrey8);
        clearGrey(likelihood);
        LikelihoodEngine engine(source.image, likelihood.image);
        FaceWork face{};
        face.box = {16, 8, 32, 40};
        int64_t lumaTerm = 0, chromaTerm = 0;
        ASSERT_EQ(faceColourLikelihood(&engine.inner, &face, 0, &lumaTerm, &chromaTerm), kResultOk)
            << std::hex << format;
        EXPECT_NEAR(double(lumaTerm) / 4096, 150, 4);
        EXPECT_LT(chromaTerm / 4096, 2000);

        int64_t faceSum = 0, backgroundSum = 0, faceCount = 0, backgroundCount = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const bool inFace = x >= 18 && x < 46 && y >= 10 && y < 46;
                const bool clear = x < 12 || x >= 52 || y >= 52;
                if (inFace)
                    faceSum += likelihood.at(0, x, y), ++faceCount;
                else if (clear)
                    backgroundSum += likelihood.at(0, x, y), ++backgroundCount;
            }
        EXPECT_GT(faceSum / faceCount, 100) << std::hex << format;
        EXPECT_LT(backgroundSum / backgroundCount, 20) << std::hex << format;
    }
}

TEST(FaceColourModel, NothingToLearnAndUnsupportedFormats)
{
    OwnedImage grey(32, 32, kFormatYuv420Planar);
    paintYuv(grey.image, [](int x, int) { return YuvColour{100 + x, 125, 131}; });
    OwnedImage likelihood(32, 32, kFormatGrey8);
    clearGrey(likelihood);
    LikelihoodEngine engine(grey.image, likelihood.image);
    FaceWork face{};
    face.box = {0, 0, 32, 32};
    EXPECT_EQ(faceColourLikelihood(&engine.inner, &face, 0, nullptr, nullptr), kResultNothingToDo);
    EXPECT_EQ(regionColourLikelihood(&engine.inner, nullptr, 0, nullptr, nullptr),
              kResultNothingToDo);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            ASSERT_EQ(likelihood.at(0, x, y), 0);

    // A face wholly outside the source has no sample either.
    face.box = {40, 40, 10, 10};
    EXPECT_EQ(faceColourLikelihood(&engine.inner, &face, 0, nullptr, nullptr), kResultNothingToDo);

    for (PixelFormat format : {kFormatYuv420SemiPlanarCrFirst, kFormatGrey8}) {
        OwnedImage other(32, 32, format);
        LikelihoodEngine otherEngine(other.image, likelihood.image);
        EXPECT_EQ(faceColourLikelihood(&otherEngine.inner, nullptr, 0, nullptr, nullptr),
                  kResultUnsupported);
        EXPECT_EQ(regionColourLikelihood(&otherEngine.inner, nullptr, 0, nullptr, nullptr),
                  kResultUnsupported);
    }
    int32_t means[3], covariance[3][3];
    const EngineRect rect{0, 0, 8, 8};
    OwnedImage packed(32, 32, kFormatYuv422Yuyv);
    EXPECT_EQ(colourStatsPlanar(&packed.image, &rect, means, covariance), -8);
    EXPECT_EQ(colourStatsPacked422(&grey.image, &rect, means, covariance), kResultBadArgument);
    int32_t axes[3][3] = {};
    EXPECT_EQ(colourLikelihoodPacked422(&engine.inner, &grey.image, means, axes, 0),
              kResultBadArgument);
    EXPECT_EQ(colourLikelihoodPlanar(&engine.inner, &packed.image, means, axes, 0),
              kResultUnsupported);
    EXPECT_EQ(colourLikelihoodSemiPlanar(&engine.inner, &grey.image, means, axes, 0),
              kResultUnsupported);
}

TEST(FaceColourModel, DefaultModelAndNearestSampling)
{
    // Without a face the default model is used and its terms reported.
    OwnedImage source(16, 16, kFormatYuv444Planar);
    paintYuv(source.image, [](int x, int y) {
        return YuvColour{60 + 8 * x, 100 + 2 * y, 140 + x};
    });
    OwnedImage twice(32, 32, kFormatGrey8);
    clearGrey(twice);
    LikelihoodEngine engine(source.image, twice.image);
    int64_t lumaTerm = 0, chromaTerm = 0;
    ASSERT_EQ(faceColourLikelihood(&engine.inner, nullptr, 0, &lumaTerm, &chromaTerm), kResultOk);
    EXPECT_EQ(lumaTerm, 532480);
    EXPECT_EQ(chromaTerm, 2281472);
    // Twice the size: every source sample covers 2 x 2 output samples.
    int varied = 0;
    for (int y = 0; y < 32; y += 2)
        for (int x = 0; x < 32; x += 2) {
            const uint8_t v = twice.at(0, x, y);
            EXPECT_EQ(twice.at(0, x + 1, y), v);
            EXPECT_EQ(twice.at(0, x, y + 1), v);
            EXPECT_EQ(twice.at(0, x + 1, y + 1), v);
            varied += v != twice.at(0, 0, 0);
        }
    EXPECT_GT(varied, 0);

    // Half the size samples every second pixel of the same map.
    OwnedImage half(8, 8, kFormatGrey8);
    clearGrey(half);
    LikelihoodEngine halfEngine(source.image, half.image);
    ASSERT_EQ(faceColourLikelihood(&halfEngine.inner, nullptr, 0, nullptr, nullptr), kResultOk);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(half.at(0, x, y), twice.at(0, 4 * x, 4 * y));
}

TEST(FaceColourModel, StrongVariantForColourfulMeans)
{
    // Mean chroma (100, 170): chromaTerm / 4096 = 2548, so the strong variant grades.
    OwnedImage source(40, 40, kFormatYuv444Planar);
    paintYuv(source.image, [](int x, int y) {
        const int shade = (x + 2 * y) % 21 - 10;
        return YuvColour{150 + shade, 100 + (x % 5) - 2, 170 + (y % 5) - 2};
    });
    OwnedImage likelihood(40, 40, kFormatGrey8);
    clearGrey(likelihood);
    LikelihoodEngine engine(source.image, likelihood.image);
    int64_t chromaTerm = 0;
    ASSERT_EQ(regionColourLikelihood(&engine.inner, nullptr, 0, nullptr, &chromaTerm), kResultOk);
    EXPECT_EQ(chromaTerm / 4096, 2548);
    // Pixels at the mean chroma lie on the model's line: full value.
    for (int y = 2; y < 40; y += 5)
        for (int x = 2; x < 40; x += 5)
            EXPECT_GE(likelihood.at(0, x, y), 200) << x << "," << y;
}

TEST(FaceColourModel, AxesOfAKnownCovariance)
{
    // Luma varies most, Cr least: the smallest axis is Cr, the largest Y.
    const int32_t covariance[3][3] = {{400, 0, 0}, {0, 100, 0}, {0, 0, 25}};
    int64_t values[3];
    int32_t axes[3][3];
    colourModelAxes(covariance, values, axes);
    EXPECT_EQ(values[0], 25 * 4096);
    EXPECT_EQ(values[2], 400 * 4096);
    EXPECT_EQ(std::abs(axes[2][0]), 128);
    EXPECT_EQ(std::abs(axes[1][1]), 128);
    EXPECT_EQ(std::abs(axes[0][2]), 128);
}
