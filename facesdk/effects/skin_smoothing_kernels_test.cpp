// The row kernels of skin smoothing: their selection by format, level and quality, and what
// they do to blocks of a small image.
#include "facesdk/effects/skin_smoothing_kernels.h"

#include <gtest/gtest.h>

#include <vector>

#include "facesdk/base/result_codes.h"

namespace {

TEST(SkinSmoothingTables, KernelSelection)
{
    SmoothingKernels k{};
    for (PixelFormat f : {kFormatYuv444Planar, kFormatYuv422Planar, kFormatYuv420Planar,
                          kFormatYuv420SemiPlanar}) {
        ASSERT_EQ(selectSmoothingKernels(f, 2, 3, &k), kResultOk);
        EXPECT_EQ(k.lumaStep, 1);
    }
    for (PixelFormat f : {kFormatYuv422Yuyv, kFormatYuv422Uyvy}) {
        ASSERT_EQ(selectSmoothingKernels(f, 1, 2, &k), kResultOk);
        EXPECT_EQ(k.lumaStep, 2);
    }
    ASSERT_EQ(selectSmoothingKernels(kFormatYuv420Planar, 2, 1, &k), kResultOk);
    EXPECT_EQ(k.theta, 64);
    ASSERT_EQ(selectSmoothingKernels(kFormatYuv420Planar, 2, 2, &k), kResultOk);
    EXPECT_EQ(k.theta, 45);
    EXPECT_EQ(selectSmoothingKernels(kFormatYuv420SemiPlanarCrFirst, 2, 3, &k), kResultBadArgument);
    EXPECT_EQ(selectSmoothingKernels(kFormatRgb24, 2, 3, &k), kResultBadArgument);
    EXPECT_EQ(selectSmoothingKernels(kFormatYuv420Planar, 4, 3, &k), kResultBadArgument);
    EXPECT_EQ(selectSmoothingKernels(kFormatYuv420Planar, 2, 0, &k), kResultBadArgument);
}

// ---- Kernels --------------------------------------------------------------------------------

// Two smoothing rows of G pixels over an image of G blocks of `width` columns and `rows` rows.
struct KernelBench {
    int32_t G, width, rows, step;
    std::vector<uint8_t> weights, means, image;
    std::vector<int32_t> widths;
    uint8_t t1[256], t2[256];

    KernelBench(int32_t g, int32_t w, int32_t r, int32_t s)
        : G(g), width(w), rows(r), step(s), weights(2 * g), means(2 * g),
          image(size_t(g) * w * s * r), widths(g, w)
    {
        buildLiftTables(100, 5, t1, t2);
    }
    SmoothingRowJob job(int32_t theta)
    {
        return SmoothingRowJob{weights.data(), means.data(), image.data(), 0, G, rows,
                               widths.data(), G * width * step, G, 105, theta, t1, t2};
    }
    uint8_t &at(int32_t x, int32_t y) { return image[size_t(y) * G * width * step + x * step]; }
};

TEST(SkinSmoothingKernels, FullWeightOnAFlatMeanGivesTheMean)
{
    for (int quality : {1, 2, 3}) {
        SmoothingKernels k{};
        ASSERT_EQ(selectSmoothingKernels(kFormatYuv420Planar, 2, quality, &k), kResultOk);
        KernelBench bench(4, 4, 4, 1);
        std::fill(bench.weights.begin(), bench.weights.end(), 128);
        std::fill(bench.means.begin(), bench.means.end(), 140);
        for (size_t i = 0; i < bench.image.size(); ++i)
            bench.image[i] = uint8_t(100 + (i * 37) % 60);
        k.main(bench.job(k.theta));
        for (uint8_t v : bench.image)
            EXPECT_EQ(v, 140) << quality;
    }
}

TEST(SkinSmoothingKernels, ThresholdDecidesInterpolationAndZeroWeightSkips)
{
    SmoothingKernels k{};
    ASSERT_EQ(selectSmoothingKernels(kFormatYuv444Planar, 2, 3, &k), kResultOk);
    // Block 0 weight w, block 1 weight 0 and a different mean: interpolation pulls toward it.
    for (int w : {45, 46}) {
        KernelBench bench(2, 4, 2, 1);
        bench.weights = {uint8_t(w), 0, uint8_t(w), 0};
        bench.means = {100, 200, 100, 200};
        std::fill(bench.image.begin(), bench.image.end(), 100);
        k.main(bench.job(k.theta));
        // The simple blend leaves samples at the mean; interpolation moves the later ones up.
        EXPECT_EQ(bench.at(0, 0), 100) << w;
        EXPECT_EQ(bench.at(3, 0) > 100, w == 46) << w;
        // The zero-weight block is never written.
        for (int x = 4; x < 8; ++x)
            EXPECT_EQ(bench.at(x, 0), 100);
    }
}

TEST(SkinSmoothingKernels, PackedKernelsKeepChromaAndLiftCapsBrightSamples)
{
    SmoothingKernels k{};
    ASSERT_EQ(selectSmoothingKernels(kFormatYuv422Uyvy, 1, 3, &k), kResultOk);
    KernelBench bench(3, 4, 3, 2);
    std::fill(bench.weights.begin(), bench.weights.end(), 128);
    std::fill(bench.means.begin(), bench.means.end(), 120);
    for (size_t i = 0; i < bench.image.size(); ++i)
        bench.image[i] = i % 2 ? 200 : 77;  // chroma 77 at even bytes, luma 200 at odd bytes
    SmoothingRowJob job = bench.job(k.theta);
    job.image += 1;  // first luma byte of U Y V Y
    k.lastRow(job);
    for (size_t i = 0; i < bench.image.size(); ++i) {
        if (i % 2 == 0)
            EXPECT_EQ(bench.image[i], 77);
        else  // brighter than the mean: moved by round128(38 x (120 - 200)) = -24
            EXPECT_EQ(bench.image[i], 176);
    }
}

}  // namespace
