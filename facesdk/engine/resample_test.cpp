#include "facesdk/engine/resample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/testing/owned_image.h"

namespace {

const PixelFormat kResizeFormats[] = {kFormatYuv444Planar, kFormatYuv422Planar,
                                      kFormatYuv420Planar, kFormatYuv422Yuyv,
                                      kFormatYuv422Uyvy,   kFormatYuv420SemiPlanar,
                                      kFormatYuv420SemiPlanarCrFirst, kFormatRgb24,
                                      kFormatRgba32};

}  // namespace

TEST(Resample, StepIsExtentPerDestinationTruncated)
{
    EXPECT_EQ(resampleStep(100, 100), 65536);
    EXPECT_EQ(resampleStep(3000, 1024), int32_t(3000LL * 65536 / 1024));
    EXPECT_EQ(resampleStep(7, 3), int32_t(7LL * 65536 / 3));
    EXPECT_EQ(resampleStep(5, 0), 0);
}

TEST(Resample, SameSizeCopiesEveryFormatUnchanged)
{
    for (PixelFormat format : kResizeFormats) {
        SCOPED_TRACE(testing::Message() << std::hex << format);
        OwnedImage source(38, 26, format);
        source.fillRandom(format & 0xff);
        OwnedImage copy(38, 26, format);
        ASSERT_EQ(imageResize(&source.image, &copy.image), kResultOk);
        EXPECT_TRUE(copy.samePixels(source));
    }
    // A rectangle onto a destination of its own size is copied unchanged too.
    OwnedImage source(40, 30, kFormatYuv420Planar);
    source.fillRandom(9);
    OwnedImage part(16, 12, kFormatYuv420Planar);
    const EngineImageView view = wholeEngineImageView(source.image);
    const EngineRect rect{8, 6, 16, 12};
    ASSERT_EQ(resampleImage(&view, &rect, &part.image), kResultOk);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(part.at(0, x, y), source.at(0, 8 + x, 6 + y));
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            ASSERT_EQ(part.at(1, x, y), source.at(1, 4 + x, 3 + y));
            ASSERT_EQ(part.at(2, x, y), source.at(2, 4 + x, 3 + y));
        }
}

TEST(Resample, NearestTruncatesPositions)
{
    // Halving keeps every second pixel starting with the first.
    OwnedImage grey(20, 10, kFormatGrey8);
    grey.fillRandom(1);
    OwnedImage half(10, 5, kFormatGrey8);
    const EngineImageView view = wholeEngineImageView(grey.image);
    const EngineRect whole{0, 0, 20, 10};
    ASSERT_EQ(resampleImage(&view, &whole, &half.image), kResultOk);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(half.at(0, x, y), grey.at(0, 2 * x, 2 * y));

    // Against the float position i x extent / size: the same sample or, where the truncated
    // 16.16 step has drifted below an exact boundary, the one before it.
    for (auto [sw, sh, dw, dh] : {std::array{640, 480, 213, 160}, std::array{300, 200, 1024, 682},
                                  std::array{97, 61, 31, 29}}) {
        OwnedImage source(sw, sh, kFormatGrey8);
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x)
                source.at(0, x, y) = uint8_t(x);  // the column, so the sample tells its column
        OwnedImage out(dw, dh, kFormatGrey8);
        const EngineImageView sourceView = wholeEngineImageView(source.image);
        const EngineRect rect{0, 0, sw, sh};
        ASSERT_EQ(resizeGreyRegion(&sourceView, &rect, &out.image), kResultOk);
        for (int x = 0; x < dw; ++x) {
            const int exact = int(std::floor(double(x) * sw / dw));
            const int got = out.at(0, x, dh - 1);
            ASSERT_TRUE(got == uint8_t(exact) || got == uint8_t(exact - 1)) << x;
        }
    }
}

TEST(Resample, PackedPairsTakeLumaPerPixelAndChromaFromTheFirst)
{
    OwnedImage source(8, 1, kFormatYuv422Yuyv);
    for (int i = 0; i < 16; ++i)
        source.at(0, i, 0) = uint8_t(i);  // groups {Y0 Cb Y1 Cr} = {4g, 4g+1, 4g+2, 4g+3}
    OwnedImage half(4, 1, kFormatYuv422Yuyv);
    ASSERT_EQ(imageResize(&source.image, &half.image), kResultOk);
    // Pixels 0 and 2 of the source: byte 0 of group 0, byte 2 of group 1, chroma of group 0.
    const uint8_t expected[] = {0, 1, 6, 3, 8, 9, 14, 11};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(half.at(0, i, 0), expected[i]) << i;
}

TEST(Resample, OddRectanglesStartChromaHalfASampleIn)
{
    OwnedImage source(16, 8, kFormatYuv420Planar);
    source.fillRandom(4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            source.at(1, x, y) = source.at(2, x, y) = uint8_t(10 * y + x);
    OwnedImage wide(8, 4, kFormatYuv420Planar);
    const EngineImageView view = wholeEngineImageView(source.image);
    const EngineRect odd{3, 3, 4, 2};   // chroma columns 1..3, row 1; steps of half a sample
    ASSERT_EQ(resampleImage(&view, &odd, &wide.image), kResultOk);
    // Positions 0.5, 1, 1.5, 2 from chroma column 1: columns 1, 2, 2, 3 (without the half
    // sample they would be 1, 1, 2, 2); rows likewise from chroma row 1.
    const uint8_t firstRow[] = {11, 12, 12, 13};
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(wide.at(1, x, 0), firstRow[x]) << x;
        EXPECT_EQ(wide.at(2, x, 0), firstRow[x]) << x;
    }
    // A rectangle at the right edge enlarged far: the sample one past the edge repeats the edge.
    const EngineRect edge{13, 0, 3, 8};
    OwnedImage stretched(12, 8, kFormatYuv420Planar);
    ASSERT_EQ(resampleImage(&view, &edge, &stretched.image), kResultOk);
    EXPECT_EQ(stretched.at(1, 5, 0), source.at(1, 7, 0));
}

TEST(Resample, FormatsAndRectanglesOutsideTheListAreRejected)
{
    OwnedImage semi(16, 8, kFormatYuv422SemiPlanar);
    semi.fillRandom(2);
    OwnedImage out(8, 4, kFormatYuv422SemiPlanar);
    std::fill(out.image.planes[0].pixels, out.image.planes[0].pixels + 32, uint8_t(0x5a));
    EXPECT_EQ(imageResize(&semi.image, &out.image), kResultUnsupported);
    EXPECT_EQ(out.at(0, 3, 3), 0x5a);

    OwnedImage rgb(16, 8, kFormatRgb24);
    OwnedImage rgbOut(8, 4, kFormatRgb24);
    const EngineImageView rgbView = wholeEngineImageView(rgb.image);
    const EngineRect rect{0, 0, 16, 8};
    EXPECT_EQ(resampleImage(&rgbView, &rect, &rgbOut.image), kResultUnsupported);

    OwnedImage grey(16, 8, kFormatGrey8);
    OwnedImage greyOut(8, 4, kFormatGrey8);
    const EngineImageView greyView = wholeEngineImageView(grey.image);
    const EngineRect outside{10, 0, 8, 8};
    EXPECT_EQ(resampleImage(&greyView, &outside, &greyOut.image), kResultBadArgument);
    OwnedImage other(8, 4, kFormatYuv420Planar);
    EXPECT_EQ(resampleImage(&greyView, &rect, &other.image), kResultBadArgument);
}

TEST(Resample, ViewsAddressTheirWindowInLargerImageCoordinates)
{
    OwnedImage large(32, 32, kFormatGrey8);
    large.fillRandom(8);
    EngineImageView window{};
    window.image = large.image;
    window.image.width = 16;
    window.image.height = 16;
    window.image.planes[0].pixels = &large.at(0, 10, 12);
    window.originX = 10;
    window.originY = 12;
    OwnedImage out(4, 4, kFormatGrey8);
    const EngineRect rect{14, 14, 4, 4};
    ASSERT_EQ(resampleImage(&window, &rect, &out.image), kResultOk);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(out.at(0, x, y), large.at(0, 14 + x, 14 + y));
}

TEST(Resample, BilinearMatchesAFloatReferenceAndRepeatsTheLastRowAndColumn)
{
    OwnedImage tiny(2, 2, kFormatGrey8);
    tiny.at(0, 0, 0) = 0;
    tiny.at(0, 1, 0) = 100;
    tiny.at(0, 0, 1) = 200;
    tiny.at(0, 1, 1) = 40;
    OwnedImage big(4, 4, kFormatGrey8);
    const EngineImageView tinyView = wholeEngineImageView(tiny.image);
    const EngineRect all{0, 0, 2, 2};
    ASSERT_EQ(resizePlaneBilinear(&tinyView, &all, &big.image), kResultOk);
    const uint8_t expected[4][4] = {{0, 50, 100, 100},
                                    {100, 85, 70, 70},
                                    {200, 120, 40, 40},
                                    {200, 120, 40, 40}};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(big.at(0, x, y), expected[y][x]) << x << "," << y;

    // Enlarging and shrinking random images: within the two truncating steps (vertical, then
    // horizontal) of the float interpolation at the same 16.16 positions.
    for (const auto& sizes : {std::array{33, 21, 100, 77}, std::array{120, 90, 47, 31}}) {
        // Plain copies: the reference lambda below captures them (bindings cannot be captured in C++17).
        const int sw = sizes[0], sh = sizes[1], dw = sizes[2], dh = sizes[3];
        OwnedImage source(sw, sh, kFormatGrey8);
        source.fillRandom(sw);
        OwnedImage out(dw, dh, kFormatGrey8);
        const EngineImageView view = wholeEngineImageView(source.image);
        const EngineRect rect{0, 0, sw, sh};
        ASSERT_EQ(resizePlaneBilinear(&view, &rect, &out.image), kResultOk);
        const double stepX = resampleStep(sw, dw) / 65536.0;
        const double stepY = resampleStep(sh, dh) / 65536.0;
        auto reference = [&](double fx, double fy) {
            fx = std::min(fx, sw - 1.0);
            fy = std::min(fy, sh - 1.0);
            const int cx = std::min(int(fx), sw - 2);
            const int cy = std::min(int(fy), sh - 2);
            auto s = [&](int xx, int yy) { return double(source.at(0, xx, yy)); };
            const double top = s(cx, cy) + (fy - cy) * (s(cx, cy + 1) - s(cx, cy));
            const double bottom = s(cx + 1, cy) + (fy - cy) * (s(cx + 1, cy + 1) - s(cx + 1, cy));
            return top + (fx - cx) * (bottom - top);
        };
        for (int y = 0; y < dh; ++y)
            for (int x = 0; x < dw; ++x) {
                const double fx = x * stepX;
                const double fy = y * stepY;
                // Within one step of the last column (row) the sampler may already repeat it.
                bool near = false;
                for (double ex : {fx, fx + stepX})
                    for (double ey : {fy, fy + stepY})
                        near = near || std::fabs(out.at(0, x, y) - reference(ex, ey)) <= 2.0;
                ASSERT_TRUE(near) << x << "," << y << ": " << int(out.at(0, x, y)) << " vs "
                                  << reference(fx, fy);
                if (fx + stepX < sw - 1 && fy + stepY < sh - 1) {
                    ASSERT_NEAR(out.at(0, x, y), reference(fx, fy), 2.0) << x << "," << y;
                }
            }
    }
}

TEST(Resample, RotatedExtractionTurnsThePatch)
{
    OwnedImage source(20, 16, kFormatGrey8);
    source.fillRandom(12);
    const EngineImageView view = wholeEngineImageView(source.image);
    const EngineRect rect{4, 3, 8, 6};
    auto src = [&](int x, int y) { return source.at(0, std::min(x, 19), std::min(y, 15)); };

    OwnedImage same(8, 6, kFormatGrey8);
    ASSERT_EQ(extractRotatedGrey(&view, &rect, &same.image, 0), kResultOk);
    OwnedImage flipped(8, 6, kFormatGrey8);
    ASSERT_EQ(extractRotatedGrey(&view, &rect, &flipped.image, 180), kResultOk);
    OwnedImage left(6, 8, kFormatGrey8);   // destination rows follow source columns
    ASSERT_EQ(extractRotatedGrey(&view, &rect, &left.image, 90), kResultOk);
    OwnedImage right(6, 8, kFormatGrey8);
    ASSERT_EQ(extractRotatedGrey(&view, &rect, &right.image, -90), kResultOk);
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 8; ++j) {
            EXPECT_EQ(same.at(0, j, i), src(4 + j, 3 + i));
            // The reversed axis starts one past the rectangle.
            EXPECT_EQ(flipped.at(0, j, i), src(4 + j, 3 + 6 - i));
            EXPECT_EQ(left.at(0, i, j), src(4 + 8 - j, 3 + i));
            EXPECT_EQ(right.at(0, i, j), src(4 + j, 3 + 6 - i));
        }
    OwnedImage untouched(8, 6, kFormatGrey8);
    EXPECT_EQ(extractRotatedGrey(&view, &rect, &untouched.image, 45), kResultBadArgument);

    // At the image's edge the sample one past the rectangle is clamped to the last row.
    const EngineRect bottom{4, 10, 8, 6};
    ASSERT_EQ(extractRotatedGrey(&view, &bottom, &flipped.image, 180), kResultOk);
    EXPECT_EQ(flipped.at(0, 0, 0), source.at(0, 4, 15));

    // The packed variant reads luma at byte 0 (Y0 Cb Y1 Cr) and byte 1 (Cb Y0 Cr Y1).
    for (PixelFormat format : {kFormatYuv422Yuyv, kFormatYuv422Uyvy}) {
        OwnedImage packed(20, 16, format);
        packed.fillRandom(13);
        const int luma = format == kFormatYuv422Uyvy ? 1 : 0;
        const EngineImageView packedView = wholeEngineImageView(packed.image);
        OwnedImage out(6, 8, kFormatGrey8);
        ASSERT_EQ(extractRotatedGreyPacked(&packedView, &rect, &out.image, -90), kResultOk);
        for (int i = 0; i < 8; ++i)
            for (int j = 0; j < 6; ++j)
                ASSERT_EQ(out.at(0, j, i), packed.at(0, 2 * (4 + i) + luma, 3 + 6 - j));
    }
}

TEST(Resample, CurvesInterpolateWithinTheirOwnSegment)
{
    const int32_t three[] = {0, 100, 200};
    int32_t five[5] = {};
    resampleCurve(three, 3, five, 5);
    const int32_t expectedFive[] = {0, 50, 100, 150, 200};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(five[i], expectedFive[i]) << i;

    const int32_t shortSource[] = {10, 20, 30, 40, 50};
    int32_t two[2] = {};
    resampleCurve(shortSource, 5, two, 2);
    EXPECT_EQ(two[0], 10);
    EXPECT_EQ(two[1], 40);  // position 2.5 rounds to source 3

    // A longer curve keeps its ends and never leaves the span of two neighbouring source points
    // (at large ratios the rounded-up segment guess would otherwise run past the last point).
    const int32_t jagged[] = {5, 90, -40, 300, 7, 7, 120};
    std::vector<int32_t> longer(53);
    resampleCurve(jagged, 7, longer.data(), 53);
    EXPECT_EQ(longer.front(), 5);
    EXPECT_EQ(longer.back(), 120);
    for (size_t i = 0; i < longer.size(); ++i) {
        bool between = false;
        for (int k = 0; k + 1 < 7; ++k)
            between = between || (longer[i] >= std::min(jagged[k], jagged[k + 1]) &&
                                  longer[i] <= std::max(jagged[k], jagged[k + 1]));
        EXPECT_TRUE(between) << i << ": " << longer[i];
    }
    for (size_t i = 1; i + 1 < longer.size(); ++i)
        EXPECT_LE(std::abs(longer[i] - longer[i - 1]), 340 / 7 + 1) << i;  // no jumps
}
