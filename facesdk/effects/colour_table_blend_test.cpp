// Masked colour-table blend and tint tables: the pixel update, rectangle handling in both
// kernels, mask interpolation and the formats.
#include "facesdk/effects/colour_table_blend.h"

#include <gtest/gtest.h>

#include <vector>

#include "facesdk/effects/testing/stage_run.h"
#include "facesdk/engine/testing/owned_image.h"
#include "facesdk/engine/testing/yuv_paint.h"

namespace {

struct Tables {
    uint8_t y[256], u[256], v[256];
    explicit Tables(int32_t fraction, YuvColour target)
    {
        tintCurve(fraction, y, target.y);
        tintCurve(fraction, u, target.u);
        tintCurve(fraction, v, target.v);
    }
};

TEST(TintCurve, MovesTheIdentityTowardTheTarget)
{
    uint8_t table[256];
    tintCurve(4096, table, 200);
    for (int v = 0; v < 256; ++v)
        EXPECT_EQ(table[v], 200);
    tintCurve(0, table, 200);
    for (int v = 0; v < 256; ++v)
        EXPECT_EQ(table[v], v);
    tintCurve(2048, table, 100);
    EXPECT_EQ(table[0], 50);
    EXPECT_EQ(table[200], 150);
    tintCurveHalf(4096, table, 0);
    EXPECT_EQ(table[255], 127);
    EXPECT_EQ(tintFraction(255), 4096);
    EXPECT_EQ(tintFraction(300), 4096);
    EXPECT_EQ(tintFraction(128), 2056);
}

// One pixel of a flat image under a full mask: the share follows the pixel's own luma.
TEST(ColourTableBlend, ShareFollowsTheLuma)
{
    struct Case {
        int luma, expectedLuma;
    } cases[] = {
        {0, 48},      // g = 50 x 255 >> 8 = 49: 255 x 49 >> 8
        {100, 190},   // g = 149: 100 + (155 x 149 >> 8)
        {205, 254},   // g = 254: 205 + (50 x 254 >> 8) = 254
        {255, 255},
    };
    for (const Case &c : cases) {
        OwnedImage image(16, 16, kFormatYuv444Planar);
        paintYuv(image.image, [&](int, int) { return YuvColour{c.luma, 128, 128}; });
        std::vector<uint8_t> mask(16 * 16, 255);
        const Tables tables(4096, {255, 128, 128});
        EngineRect rect = {0, 0, 16, 16};
        ASSERT_EQ(blendColourTables(nullptr, &image.image, &rect, tables.y, tables.u, tables.v,
                                    mask.data(), 16, 16), kResultOk);
        EXPECT_EQ(image.at(0, 5, 5), c.expectedLuma) << c.luma;
    }
}

TEST(ColourTableBlend, PlanarRectanglesSnapToEightsAndPackedOnesToPairs)
{
    const Tables tables(4096, {200, 90, 160});
    // Planar: x 3, width 7 -> columns 0 .. 7 (right edge floor8(11) = 8); y 9, height 7 ->
    // rows 8 .. 15 (bottom edge floor8(17) = 16).
    OwnedImage planar(32, 32, kFormatYuv420Planar);
    paintYuv(planar.image, [](int, int) { return YuvColour{100, 128, 128}; });
    std::vector<uint8_t> mask(32 * 32, 255);
    EngineRect rect = {3, 9, 7, 7};
    ASSERT_EQ(blendColourTables(nullptr, &planar.image, &rect, tables.y, tables.u, tables.v,
                                mask.data(), 32, 32), kResultOk);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            EXPECT_EQ(planar.at(0, x, y) != 100, x < 8 && y >= 8 && y < 16) << x << "," << y;
    EXPECT_EQ(rect.x, 3);  // the planar kernel keeps the caller's rectangle

    OwnedImage packed(32, 4, kFormatYuv422Yuyv);
    paintYuv(packed.image, [](int, int) { return YuvColour{100, 128, 128}; });
    rect = {5, 0, 9, 4};
    ASSERT_EQ(blendColourTables(nullptr, &packed.image, &rect, tables.y, tables.u, tables.v,
                                mask.data(), 32, 32), kResultOk);
    EXPECT_EQ(rect.x, 4);
    EXPECT_EQ(rect.width, 8);
    for (int x = 0; x < 32; ++x)
        EXPECT_EQ(pixelAt(packed.image, x, 1).y != 100, x >= 4 && x < 12) << x;
    EXPECT_NE(pixelAt(packed.image, 4, 1).u, 128);
}

TEST(ColourTableBlend, ChangesOnlyWhereTheMaskWeighsInEveryFormat)
{
    // A mask at quarter scale with one bright cell: pixels under it and its interpolation move,
    // pixels whose four mask samples are all 0 stay bit-identical.
    const int32_t w = 64, h = 64, m = 4;
    std::vector<uint8_t> mask((w / m) * (h / m), 0);
    mask[6 * (w / m) + 6] = 255;
    const Tables tables(4096, {220, 80, 170});
    for (PixelFormat format : kStageRunFormats) {
        SCOPED_TRACE(testing::Message() << std::hex << format);
        OwnedImage image(w, h, format), before(w, h, format);
        paintYuv(image.image, [](int x, int y) { return YuvColour{60 + x, 100 + y, 140}; });
        before.copyPixelsFrom(image);
        EngineRect rect = {0, 0, w, h};
        const int result = blendColourTables(nullptr, &image.image, &rect, tables.y, tables.u,
                                             tables.v, mask.data(), w / m, h / m);
        if (format == kFormatYuv420SemiPlanarCrFirst) {
            EXPECT_EQ(result, kResultUnsupported);
            EXPECT_TRUE(image.samePixels(before));
            continue;
        }
        ASSERT_EQ(result, kResultOk);
        const PixelChange change = compareImages(before.image, image.image, [](int x, int y) {
            return x >= 20 && x < 28 && y >= 20 && y < 28;  // cells 5 and 6 reach cell 6's sample
        });
        EXPECT_GT(change.inside, 1000);
        EXPECT_EQ(change.outside, 0);
        // The cell's own corner takes the full weight.
        const int share = (84 + 50) * 255 >> 8;
        EXPECT_EQ(pixelAt(image.image, 24, 24).y, 84 + ((220 - 84) * share >> 8));
    }
}

// A picture whose height is not a multiple of the mask's scale has rows below the mask's last
// cell row: they take that row's weights, and nothing past the mask is read.
TEST(ColourTableBlend, RowsBelowTheMasksLastCellTakeItsWeights)
{
    const int32_t w = 64, m = 4;
    const Tables tables(4096, {220, 80, 170});
    for (PixelFormat format : {kFormatYuv422Yuyv, kFormatYuv422Uyvy, kFormatYuv444Planar}) {
        for (const int32_t h : {61, 62, 63}) {
            SCOPED_TRACE(testing::Message() << std::hex << format << std::dec << " height " << h);
            const int32_t rows = h / m;
            // Full weight everywhere but in the mask's last row, which holds none.
            std::vector<uint8_t> mask(size_t(w / m) * rows, 255);
            std::fill(mask.end() - w / m, mask.end(), uint8_t(0));
            OwnedImage image(w, h, format), before(w, h, format);
            paintYuv(image.image, [](int x, int y) { return YuvColour{60 + x, 100 + y % 50, 140}; });
            before.copyPixelsFrom(image);
            EngineRect rect = {0, 0, w, h};
            ASSERT_EQ(blendColourTables(nullptr, &image.image, &rect, tables.y, tables.u, tables.v,
                                        mask.data(), w / m, rows),
                      kResultOk);
            const PixelChange change = compareImages(before.image, image.image, [&](int, int y) {
                return y < (rows - 1) * m;
            });
            EXPECT_GT(change.inside, 1000);
            EXPECT_EQ(change.outside, 0);
        }
    }
}

TEST(ColourTableBlend, RefusesBadInput)
{
    const Tables tables(4096, {0, 0, 0});
    std::vector<uint8_t> mask(64, 255);
    OwnedImage image(8, 8, kFormatYuv420Planar), grey(8, 8, 0x40000001);
    EngineRect rect = {0, 0, 8, 8};
    EXPECT_EQ(blendColourTables(nullptr, &image.image, &rect, nullptr, tables.u, tables.v, mask.data(), 8, 8),
              kResultBadArgument);
    EXPECT_EQ(blendColourTables(nullptr, &image.image, &rect, tables.y, tables.u, tables.v, nullptr, 8, 8),
              kResultBadArgument);
    EXPECT_EQ(blendColourTables(nullptr, &grey.image, &rect, tables.y, tables.u, tables.v, mask.data(), 8, 8),
              kResultUnsupported);
    for (EngineRect bad : {EngineRect{-8, 0, 8, 8}, EngineRect{0, 0, 0, 8}, EngineRect{0, 8, 8, 8}}) {
        EXPECT_EQ(blendColourTables(nullptr, &image.image, &bad, tables.y, tables.u, tables.v,
                                    mask.data(), 8, 8), kResultBadArgument);
    }
    // A mask of 5 columns for an 8-pixel image: scale 1, so the rows would be read past.
    rect = {0, 0, 8, 8};
    EXPECT_EQ(blendColourTables(nullptr, &image.image, &rect, tables.y, tables.u, tables.v,
                                mask.data(), 5, 8), kResultBadArgument);
    OwnedImage packed(8, 8, kFormatYuv422Uyvy);
    EXPECT_EQ(blendColourTables(nullptr, &packed.image, &rect, tables.y, tables.u, tables.v,
                                mask.data(), 5, 8), kResultBadArgument);
    rect = {4, 0, 8, 8};  // leaves the image
    EXPECT_EQ(blendColourTables(nullptr, &packed.image, &rect, tables.y, tables.u, tables.v,
                                mask.data(), 8, 8), kResultBadArgument);
}

} // namespace
