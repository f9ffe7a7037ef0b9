#include "vizoruv/adjust/mask_planes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

namespace {

// A square 3-byte plane with value(x, y) in every byte of each pixel.
std::vector<std::uint8_t> squarePlane(int side, const std::function<std::uint8_t(int x, int y)>& value)
{
    std::vector<std::uint8_t> plane(std::size_t(side) * side * 3);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            std::memset(&plane[(std::size_t(y) * side + x) * 3], value(x, y), 3);
    return plane;
}

int at(const MaskPlane& plane, int x, int y)
{
    const int bytes = plane.rowBytes / plane.width;
    const std::uint8_t* p = &plane.pixels[std::size_t(y) * plane.rowBytes + x * bytes];
    return bytes == 2 ? *reinterpret_cast<const std::uint16_t*>(p) : *p;
}

LayerMask maskOfType(int type)
{
    LayerMask mask = defaultLayerMask();
    mask.type = type;
    return mask;
}

// Top-left quadrant lit, the rest dark.
std::uint8_t quadrant(int x, int y) { return x < 8 && y < 8 ? 200 : 10; }

TEST(MaskGeometry, QuarterTurns)
{
    struct Case {
        float angle;
        int quarter;
    } cases[] = {{0, 0}, {89.9f, 0}, {90, 1}, {-90, 3}, {450, 1}, {360, 4}, {720, 4}, {-360, 0}, {-450, 3}, {270, 3}};
    for (const Case& c : cases) {
        EXPECT_EQ(quarterOf(c.angle), c.quarter) << c.angle;
        EXPECT_EQ(isOddQuarter(c.angle), c.quarter % 2 == 1) << c.angle;
    }
    EXPECT_EQ(quarterOf(std::nanf("")), 0);
}

TEST(MaskGeometry, RegionsAndPointMaps)
{
    MaskTransform region = defaultMaskTransform();
    region.scaleX = 1.2f;
    region.scaleY = 0.5f;
    const PixelRect rect = regionToPixelRect(region, 1000, 800);
    EXPECT_EQ(rect.x, 0);
    EXPECT_EQ(rect.y, 200);
    EXPECT_EQ(rect.width, 1000);
    EXPECT_EQ(rect.height, 400);

    PointMap turn;
    turn.m00 = 0;
    turn.m01 = -1;
    turn.m10 = 1;
    turn.m11 = 0;
    turn.maxX = 100;
    turn.maxY = 100;
    double x, y;
    turn.map(60, 50, 50, 50, &x, &y); // a quarter turn about (50, 50)
    EXPECT_DOUBLE_EQ(x, 50);
    EXPECT_DOUBLE_EQ(y, 60);
    turn.map(50, 200, 50, 50, &x, &y); // clamped
    EXPECT_DOUBLE_EQ(x, 0);
    EXPECT_DOUBLE_EQ(y, 50);
}

TEST(MaskGeometry, ResampleNearest)
{
    std::uint8_t source[16];
    for (int i = 0; i < 16; ++i)
        source[i] = std::uint8_t(i);
    std::uint8_t small[4];
    resampleNearest(small, source, 2, 2, 4, 4);
    EXPECT_EQ(std::vector<std::uint8_t>(small, small + 4), (std::vector<std::uint8_t>{0, 2, 8, 10}));
    std::uint8_t copy[16];
    resampleNearest(copy, source, 4, 4, 4, 4);
    EXPECT_EQ(std::memcmp(copy, source, 16), 0);
    std::uint8_t large[64];
    resampleNearest(large, small, 8, 8, 2, 2);
    EXPECT_EQ(large[0], 0);
    EXPECT_EQ(large[7], 2);
    EXPECT_EQ(large[63], 10);
}

TEST(MaskTransformPlane, SizesAndFills)
{
    const auto plane = squarePlane(16, quadrant);
    const MaskTransform none = defaultMaskTransform();
    MaskPlane wide = transformMaskPlane(maskOfType(kMaskEllipse), plane.data(), 16, 1.5f, 1.0f, none, 2);
    EXPECT_EQ(wide.width, 24);
    EXPECT_EQ(wide.height, 16);
    MaskPlane tall = transformMaskPlane(maskOfType(kMaskEllipse), plane.data(), 16, 0.5f, 1.0f, none, 2);
    EXPECT_EQ(tall.width, 16);
    EXPECT_EQ(tall.height, 32);

    // Drawn at half size, the corners keep the fill.
    struct Case {
        int type;
        bool invert;
        float transparency;
        int fill;
    } cases[] = {{kMaskEllipse, false, 0.4f, 255}, {kMaskEllipse, true, 0.4f, 153}, {kMaskEdgeFromBottom, false, 0, 0},
                 {kMaskRoundedRect, true, 0.4f, 255}};
    for (const Case& c : cases) {
        LayerMask mask = maskOfType(c.type);
        mask.invert = c.invert;
        mask.transparency = c.transparency;
        const MaskPlane out = transformMaskPlane(mask, plane.data(), 16, 1.0f, 0.5f, none, 0);
        EXPECT_EQ(at(out, 0, 0), c.fill) << c.type;
        EXPECT_EQ(at(out, 15, 15), c.fill) << c.type;
        EXPECT_EQ(at(out, 5, 5), 200) << c.type; // the shrunk lit quadrant
    }
}

TEST(MaskTransformPlane, UnmovedPlaneIsCopiedByEveryKernel)
{
    const auto plane = squarePlane(16, [](int x, int y) { return std::uint8_t(x * 13 + y * 3); });
    for (int sampling : {0, 1, 2}) {
        const MaskPlane out =
            transformMaskPlane(maskOfType(kMaskEllipse), plane.data(), 16, 1.0f, 1.0f, defaultMaskTransform(), sampling);
        ASSERT_EQ(out.pixels.size(), plane.size());
        EXPECT_EQ(out.pixels, plane) << "sampling " << sampling;
    }
}

TEST(MaskTransformPlane, RotationShiftAndStretch)
{
    const auto plane = squarePlane(16, quadrant);
    const MaskTransform none = defaultMaskTransform();
    LayerMask mask = maskOfType(kMaskEllipse);
    mask.angle = 90; // clockwise: the top-left quadrant moves to the top right
    MaskPlane out = transformMaskPlane(mask, plane.data(), 16, 1.0f, 1.0f, none, 0);
    EXPECT_EQ(at(out, 12, 3), 200);
    EXPECT_EQ(at(out, 3, 3), 10);

    mask.angle = 0;
    mask.centerX = 0.75f; // a quarter of the width to the right
    mask.centerY = 0.25f; // a quarter of the height down
    out = transformMaskPlane(mask, plane.data(), 16, 1.0f, 1.0f, none, 0);
    EXPECT_EQ(at(out, 3, 3), 255);   // uncovered: the fill
    EXPECT_EQ(at(out, 4, 4), 200);   // was (0, 0)
    EXPECT_EQ(at(out, 11, 11), 200); // was (7, 7)
    EXPECT_EQ(at(out, 12, 12), 10);

    // Edge shapes are drawn over (-W/8, 0, 4W, H): output column x shows source column (x + 2) / 4.
    const auto columns = squarePlane(16, [](int x, int) { return std::uint8_t(x * 10); });
    out = transformMaskPlane(maskOfType(kMaskEdgeFromTop), columns.data(), 16, 1.0f, 1.0f, none, 0);
    for (int x : {0, 6, 15})
        EXPECT_EQ(at(out, x, 8), ((x + 2) / 4) * 10) << x;
}

TEST(MaskTransformPlane, FlipsAndQuarterTurnsOfTheTransform)
{
    const auto plane = squarePlane(16, quadrant);
    MaskTransform transform = defaultMaskTransform();
    transform.flipX = 1;
    MaskPlane out = transformMaskPlane(maskOfType(kMaskEllipse), plane.data(), 16, 2.0f, 1.0f, transform, 0);
    ASSERT_EQ(out.width, 32);
    EXPECT_EQ(at(out, 31, 0), 200); // mirrored left to right
    EXPECT_EQ(at(out, 0, 0), 10);

    transform.flipX = 0;
    transform.angle = 90;
    out = transformMaskPlane(maskOfType(kMaskEllipse), plane.data(), 16, 2.0f, 1.0f, transform, 0);
    ASSERT_EQ(out.width, 16); // turned: width and height swap
    ASSERT_EQ(out.height, 32);
    EXPECT_EQ(at(out, 15, 0), 200); // the top-left corner turns to the top right
    EXPECT_EQ(at(out, 0, 0), 10);

    transform.angle = -90;
    out = transformMaskPlane(maskOfType(kMaskEllipse), plane.data(), 16, 2.0f, 1.0f, transform, 0);
    EXPECT_EQ(at(out, 0, 31), 200); // a quarter anticlockwise: to the bottom left
}

TEST(MaskPlacement, PlacedOnTheImage)
{
    MaskPlane drawn;
    drawn.width = drawn.height = 8;
    drawn.rowBytes = 24;
    drawn.pixels = squarePlane(8, [](int x, int) { return std::uint8_t(x < 4 ? 255 : 100); });
    MaskTransform transform = defaultMaskTransform();

    MaskPlane placed = placeMaskPlane(16, 8, transform, maskOfType(kMaskWholeImage), drawn.pixels.data(), 8, 8, false);
    EXPECT_EQ(placed.rowBytes, 16);
    EXPECT_EQ(at(placed, 0, 0), 255);
    EXPECT_EQ(at(placed, 7, 7), 255);
    EXPECT_EQ(at(placed, 8, 0), 100);

    // Half size about the centre: the rest stays 0; a flip mirrors the centre.
    transform.scaleX = transform.scaleY = 0.5f;
    transform.centerX = 0.25f;
    placed = placeMaskPlane(16, 8, transform, maskOfType(kMaskWholeImage), drawn.pixels.data(), 8, 8, false);
    EXPECT_EQ(at(placed, 0, 2), 255); // the plane now covers columns 0..7 and rows 2..5
    EXPECT_EQ(at(placed, 3, 3), 255);
    EXPECT_EQ(at(placed, 5, 5), 100);
    EXPECT_EQ(at(placed, 9, 3), 0);
    EXPECT_EQ(at(placed, 1, 1), 0);
    EXPECT_EQ(at(placed, 1, 6), 0);
    transform.flipX = 1;
    placed = placeMaskPlane(16, 8, transform, maskOfType(kMaskWholeImage), drawn.pixels.data(), 8, 8, false);
    EXPECT_EQ(at(placed, 1, 3), 0);
    EXPECT_EQ(at(placed, 9, 3), 255);
    EXPECT_EQ(at(placed, 12, 3), 100);

    // 16-bit samples, bicubic for other shapes: a flat plane stays flat.
    const auto flat = squarePlane(8, [](int, int) { return std::uint8_t(128); });
    placed = placeMaskPlane(10, 6, defaultMaskTransform(), maskOfType(kMaskEllipse), flat.data(), 8, 8, true);
    EXPECT_EQ(placed.rowBytes, 20);
    EXPECT_EQ(at(placed, 9, 5), 128 * 257);
    EXPECT_EQ(at(placed, 4, 2), 128 * 257);
}

} // namespace
