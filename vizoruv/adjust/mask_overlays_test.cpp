#include "vizoruv/adjust/mask_overlays.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct RasterCalls {
    std::vector<int> sides;
    std::vector<float> aspects;
} rasterCalls;

// Every mask drawn as a flat plane of 40, at scale 1.
std::vector<std::uint8_t> flatRaster(const LayerMask&, float aspect, float* scale, int side)
{
    rasterCalls.sides.push_back(side);
    rasterCalls.aspects.push_back(aspect);
    *scale = 1.0f;
    return std::vector<std::uint8_t>(std::size_t(side) * side * 3, 40);
}

struct Stack {
    std::vector<LayerMask> masks = std::vector<LayerMask>(3, defaultLayerMask());
    MaskTransform transform = defaultMaskTransform();
    CorrectionStack stack() const { return {3, nullptr, masks.data(), &transform, nullptr, 0}; }
};

TEST(MaskOverlays, LayerIndicesMustNameTwoLayers)
{
    Stack s;
    MaskOverlay a, b;
    a.width = 7;
    for (auto [first, second] : {std::pair{1, 1}, std::pair{0, 3}, std::pair{-1, 2}, std::pair{3, 0}})
        EXPECT_EQ(renderMaskOverlays(&a, &b, s.stack(), first, second, 1.0f, 128, 2, flatRaster), -1);
    EXPECT_EQ(a.width, 7);
    EXPECT_EQ(b.width, 0);
}

TEST(MaskOverlays, SideLimitsAspectAndTints)
{
    Stack s;
    s.masks[1].type = kMaskRoundedRect;
    s.masks[2].type = kMaskEllipse; // reads invert the other way round
    s.transform.scaleX = 2.0f;
    MaskOverlay a, b;
    rasterCalls = {};
    ASSERT_EQ(renderMaskOverlays(&a, &b, s.stack(), 1, 2, 1.5f, 10, 0, flatRaster), 0);
    EXPECT_EQ(rasterCalls.sides, (std::vector<int>{64, 64}));
    EXPECT_FLOAT_EQ(rasterCalls.aspects[0], 3.0f);
    EXPECT_EQ(a.width, 192);
    EXPECT_EQ(a.height, 64);
    const std::uint8_t* pa = &a.pixels[(10 * 192 + 100) * 4];
    EXPECT_EQ(std::vector<std::uint8_t>(pa, pa + 4), (std::vector<std::uint8_t>{0, 0, 20, 20}));
    const std::uint8_t* pb = &b.pixels[(10 * 192 + 100) * 4];
    EXPECT_EQ(std::vector<std::uint8_t>(pb, pb + 4), (std::vector<std::uint8_t>{107, 0, 0, 107}));

    // An odd quarter turn inverts the aspect; the turned plane comes back the other way up.
    s.transform.angle = 90;
    rasterCalls = {};
    ASSERT_EQ(renderMaskOverlays(&a, &b, s.stack(), 1, 2, 1.5f, 5000, 2, flatRaster), 0);
    EXPECT_EQ(rasterCalls.sides, (std::vector<int>{1024, 1024}));
    EXPECT_FLOAT_EQ(rasterCalls.aspects[0], 1.0f / 3.0f);
    EXPECT_EQ(a.width, 3072);
    EXPECT_EQ(a.height, 1024);
}

} // namespace
