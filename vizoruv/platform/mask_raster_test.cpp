#include "vizoruv/platform/mask_raster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr int kSide = 256;

LayerMask maskOf(int type, float width, float height, float feather = 0.0f)
{
    LayerMask m = defaultLayerMask();
    m.type = type;
    m.width = width;
    m.height = height;
    m.feather = feather;
    return m;
}

struct Raster {
    std::vector<std::uint8_t> bytes;
    float scale = 0.0f;
    int side = kSide;

    Raster(const LayerMask& m, float aspect, int n = kSide) : side(n) { bytes = rasterizeMask(m, aspect, &scale, n); }
    int at(int x, int y) const { return bytes[(size_t(y) * side + x) * 3]; }
    bool channelsEqual() const
    {
        for (size_t i = 0; i < bytes.size(); i += 3)
            if (bytes[i] != bytes[i + 1] || bytes[i] != bytes[i + 2])
                return false;
        return true;
    }
};

// Normalised distance of a pixel centre from the centre of an ellipse of w x h (fractions of side).
double ellipseRadius(int x, int y, double w, double h)
{
    const double dx = (x + 0.5 - kSide / 2.0) / (w * kSide / 2);
    const double dy = (y + 0.5 - kSide / 2.0) / (h * kSide / 2);
    return std::sqrt(dx * dx + dy * dy);
}

TEST(MaskRaster, RadialRampRunsFromInnerToOuterRadius)
{
    struct Case {
        double d, outer, inner;
        int expected;
    } cases[] = {
        {10, 10, 5, 255}, {12, 10, 5, 255}, {5, 10, 5, 0}, {0, 10, 5, 0},
        {7.5, 10, 5, 127},  // 255 - 2.5 x 255 / 5 = 127.5
        {9.99, 10, 5, 254}, {5.01, 10, 5, 0}, {3, 3, 3, 255}, {2.9, 3, 3, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(radialRamp(c.d, c.outer, c.inner), c.expected) << c.d << " " << c.outer << " " << c.inner;
}

// A hard ellipse 0.4 x 0.2 fits without scaling; against the float reference of the shape, every
// pixel away from the rim is exactly inside (0) or outside (255).
TEST(MaskRaster, HardEllipseMatchesTheReferenceShape)
{
    const Raster r(maskOf(kMaskEllipse, 0.4f, 0.2f), 1.0f);
    ASSERT_EQ(r.bytes.size(), size_t(kSide) * kSide * 3);
    EXPECT_EQ(r.scale, 1.0f);
    EXPECT_TRUE(r.channelsEqual());
    int insideCount = 0;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const double radius = ellipseRadius(x, y, 0.4, 0.2);
            if (radius < 0.9) {
                ASSERT_EQ(r.at(x, y), 0) << x << "," << y;
            } else if (radius > 1.1) {
                ASSERT_EQ(r.at(x, y), 255) << x << "," << y;
            }
            insideCount += r.at(x, y) < 128;
        }
    const double area = M_PI * (0.2 * kSide) * (0.1 * kSide);
    EXPECT_NEAR(insideCount, area, area * 0.03);
}

// Density: the drawn shape fades towards the outside (ellipse) or towards 0 (inverted or others).
TEST(MaskRaster, DensityFadesTheShape)
{
    struct Case {
        int type;
        bool invert;
        int inside, outside;
    } cases[] = {
        {kMaskEllipse, false, 63, 255},       // 255 - 255 x 0.75
        {kMaskEllipse, true, 0, 191},         // 255 x 0.75
        {kMaskRoundedRect, false, 0, 191},
    };
    for (const Case& c : cases) {
        LayerMask m = maskOf(c.type, 0.4f, 0.2f);
        m.transparency = 0.25f;
        m.invert = c.invert;
        const Raster r(m, 1.0f);
        EXPECT_EQ(r.at(kSide / 2, kSide / 2), c.inside) << c.type << " " << c.invert;
        EXPECT_EQ(r.at(2, 2), c.outside) << c.type << " " << c.invert;
    }
    // Transparency 1 or more leaves nothing of the shape.
    LayerMask clear = maskOf(kMaskEllipse, 0.4f, 0.2f);
    clear.transparency = 1.5f;
    const Raster r(clear, 1.0f);
    for (size_t i = 0; i < r.bytes.size(); ++i)
        ASSERT_EQ(r.bytes[i], 255);
}

// A full feather ramps all the way to the centre; a larger ellipse is drawn smaller, feather too.
TEST(MaskRaster, FeatherRampsFromTheRimInward)
{
    const Raster soft(maskOf(kMaskEllipse, 0.5f, 0.5f, 1.0f), 1.0f);
    EXPECT_EQ(soft.scale, 1.0f);
    EXPECT_LE(soft.at(kSide / 2, kSide / 2), 2);
    // Half way out along a row: about half of the ramp.
    EXPECT_NEAR(soft.at(kSide / 2 + 32, kSide / 2), 127, 3);
    int last = -1;
    for (int x = kSide / 2; x < kSide; ++x) {
        ASSERT_GE(soft.at(x, kSide / 2), last) << x;
        last = soft.at(x, kSide / 2);
    }
    EXPECT_EQ(last, 255);

    const Raster big(maskOf(kMaskEllipse, 1.0f, 0.8f, 0.3f), 1.0f);
    EXPECT_FLOAT_EQ(big.scale, 1.5f);
    // Drawn 1/1.5 the size: 2/3 of the raster wide; the feather is 0.2 of the radius.
    const double radius = kSide / 3.0;
    EXPECT_EQ(big.at(kSide / 2 + int(radius * 0.75), kSide / 2), 0);
    EXPECT_EQ(big.at(kSide / 2 + int(radius * 1.05), kSide / 2), 255);
    EXPECT_NEAR(big.at(kSide / 2 + int(radius * 0.9), kSide / 2), 127, 12);
}

TEST(MaskRaster, EdgesFromTopAndBottom)
{
    // Position 0, no feather, square image: scale 1.5, the upper half stays 255, the lower half is
    // 0 except the last column.
    const Raster top(maskOf(kMaskEdgeFromTop, 0.0f, 0.0f), 1.0f);
    EXPECT_FLOAT_EQ(top.scale, 1.5f);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const int expected = y < kSide / 2 || x == kSide - 1 ? 255 : 0;
            ASSERT_EQ(top.at(x, y), expected) << x << "," << y;
        }

    // Feather 0.3 becomes 0.2 after scaling: a ramp of trunc(256 x 0.2) = 51 rows.
    const Raster soft(maskOf(kMaskEdgeFromTop, 0.0f, 0.0f, 0.3f), 1.0f);
    EXPECT_EQ(soft.at(5, 127), 255);
    EXPECT_EQ(soft.at(5, 128), 255);          // 255 - 0
    EXPECT_EQ(soft.at(5, 138), 205);          // 255 - 10 x 255 / 51
    EXPECT_EQ(soft.at(5, 128 + 51), 0);
    EXPECT_EQ(soft.at(kSide - 1, 200), 255);

    const Raster bottom(maskOf(kMaskEdgeFromBottom, 0.0f, 0.0f, 0.3f), 1.0f);
    EXPECT_EQ(bottom.at(0, 0), 0);
    EXPECT_EQ(bottom.at(kSide - 1, 76), 0);    // y < 128 - 51
    EXPECT_EQ(bottom.at(kSide - 1, 100), 115); // (51 - 128 + 100) x 255 / 51
    EXPECT_EQ(bottom.at(7, 128), 255);
    EXPECT_EQ(bottom.at(7, kSide - 1), 255);

    // A wide image scales by its aspect; a tall one by the inverse.
    EXPECT_FLOAT_EQ(Raster(maskOf(kMaskEdgeFromTop, 0.0f, 0.0f), 2.0f).scale, 3.0f);
    EXPECT_FLOAT_EQ(Raster(maskOf(kMaskEdgeFromBottom, 0.0f, 0.0f), 0.5f).scale, 3.0f);
}

TEST(MaskRaster, RoundedRectangle)
{
    // Square corners, no feather: exactly the rectangle 76..178 on both axes.
    const Raster hard(maskOf(kMaskRoundedRect, 0.4f, 0.4f), 1.0f);
    EXPECT_EQ(hard.scale, 1.0f);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const bool inside = x >= 76 && x < 179 && y >= 76 && y < 179;
            ASSERT_EQ(hard.at(x, y), inside ? 0 : 255) << x << "," << y;
        }

    // Corner radius 0.1 (25.6 pixels) and feather 0.05 (a ramp of 12 pixels).
    LayerMask m = maskOf(kMaskRoundedRect, 0.4f, 0.4f, 0.05f);
    m.radius = 0.1f;
    const Raster round(m, 1.0f);
    EXPECT_EQ(round.at(76, 76), 255);        // cut off by the corner circle
    EXPECT_EQ(round.at(82, 128), 128);       // 255 - 6 x 255 / 12
    EXPECT_EQ(round.at(128, 79), 192);       // 255 - 3 x 255 / 12
    EXPECT_EQ(round.at(128, 128), 0);
    EXPECT_EQ(round.at(173, 128), 127);      // (173 - 179 + 12) x 255 / 12
}

TEST(MaskRaster, OtherTypesAndBadRequests)
{
    for (int type : {int(kMaskNone), int(kMaskWholeImage), 6, -1}) {
        const Raster r(maskOf(type, 0.4f, 0.4f), 1.0f);
        ASSERT_EQ(r.bytes.size(), size_t(kSide) * kSide * 3);
        for (std::uint8_t v : r.bytes)
            ASSERT_EQ(v, 255) << type;
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float aspect : {0.0f, -1.0f, nan, inf}) {
        float scale = 7.0f;
        EXPECT_TRUE(rasterizeMask(maskOf(kMaskEllipse, 0.4f, 0.4f), aspect, &scale, kSide).empty()) << aspect;
        EXPECT_EQ(scale, 1.0f);
    }
    for (int side : {0, -5, kMaxRasterSide + 1})
        EXPECT_TRUE(rasterizeMask(maskOf(kMaskEllipse, 0.4f, 0.4f), 1.0f, nullptr, side).empty()) << side;

    // Degenerate and extreme shapes draw without failing: nothing, or a thin line of shape.
    const Raster empty(maskOf(kMaskEllipse, 0.0f, 0.3f), 1.0f);
    EXPECT_EQ(empty.at(kSide / 2, kSide / 2), 255);
    const Raster thin(maskOf(kMaskEllipse, 0.6f, 1e-6f), 1.0f);
    EXPECT_LT(thin.at(kSide / 2, kSide / 2), 255);
    EXPECT_EQ(thin.at(kSide / 2, kSide / 2 + 20), 255);
    const Raster nanShape(maskOf(kMaskEllipse, nan, 0.3f), 1.0f);
    EXPECT_EQ(nanShape.bytes.size(), size_t(kSide) * kSide * 3);
}

TEST(MaskRaster, ResizeKeepsLevelsAndEdges)
{
    // A plane twice as wide, left half 0 and right half 255, squeezed into a square.
    const int w = 2 * kSide, h = kSide;
    std::vector<std::uint8_t> plane(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            plane[size_t(y) * w + x] = x < w / 2 ? 0 : 255;
    std::vector<std::uint8_t> raster(size_t(kSide) * kSide * 3, 77);
    resizeMaskPlane(raster.data(), plane.data(), w, h, kSide);
    for (int y = 0; y < kSide; y += 17) {
        EXPECT_EQ(raster[(size_t(y) * kSide + 10) * 3], 0);
        EXPECT_EQ(raster[(size_t(y) * kSide + kSide - 10) * 3 + 2], 255);
        // The two columns beside the edge: 1/8 and 7/8 of the way (tent over four plane columns).
        EXPECT_EQ(raster[(size_t(y) * kSide + kSide / 2 - 1) * 3 + 1], 32);
        EXPECT_EQ(raster[(size_t(y) * kSide + kSide / 2) * 3 + 1], 223);
    }
    // A bad size writes nothing.
    std::vector<std::uint8_t> untouched(12, 9);
    resizeMaskPlane(untouched.data(), plane.data(), 0, h, 2);
    EXPECT_EQ(untouched, std::vector<std::uint8_t>(12, 9));
}

}  // namespace
