#include "facesdk/effects/cheek_colour.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <algorithm>

#include <vector>

#include "facesdk/effects/testing/skin_face.h"
#include "facesdk/effects/testing/stage_run.h"

namespace {

constexpr int32_t kPink = 230 | (90 << 8) | (130 << 16);  // R, G, B in the low bytes

// Around the face: the box grown by half its width on every side.
bool aroundFace(const SyntheticFace &face, int32_t x, int32_t y)
{
    const EngineRect &b = face.work.box;
    const int32_t grow = b.width / 2;
    return x >= b.x - grow && x < b.x + b.width + grow && y >= b.y - grow &&
           y < b.y + b.height + grow;
}

struct CheekRun : StageRunFixture {
    PixelChange operator()(PixelFormat format, double roll, int32_t strength, int32_t *status,
                           int *result)
    {
        BeautySettings settings{};
        settings.cheekStrength = strength;
        settings.cheekColour = kPink;
        return runOnFace(format, roll, settings, kFeatureCheekColour, true, syntheticFaceColour,
                         aroundFace, status, result);
    }
};

TEST_F(CheekRun, ColoursOnlyAroundTheCheeksInEveryFormatAndRoll)
{
    expectChangeOnlyInside(*this, {0.0, 20.0, -10.0}, 1000);
}

TEST_F(CheekRun, StrengthScalesTheChange)
{
    expectStrengthScales(*this, kFormatYuv420Planar, {50, 150, 255});
}

// The colour fades out before the edge of the rectangle it is blended in. A face half the
// synthetic one's size, at eight positions, whose skin colour fills the picture around it: a
// skin pixel next to skin that did not change is at most a level or two off, so there is no
// straight edge where the blend stops (the blend's rectangle snaps to eights).
TEST_F(CheekRun, TheColourFadesOutWithoutStraightEdges)
{
    constexpr YuvColour kSkin = {170, 110, 150};
    const auto isSkin = [&](const YuvColour &c) { return c.y == kSkin.y && c.u == kSkin.u && c.v == kSkin.v; };
    BeautySettings settings{};
    settings.cheekStrength = 255;
    settings.cheekColour = kPink;
    use(settings);
    int32_t atTheEdge = 0;
    for (int32_t shift = 0; shift < 8; ++shift) {
        const int32_t cx = 320 + shift, cy = 240 + shift;
        SyntheticFace face;  // painted from the full-size face, at half its size
        makeSyntheticFace(&face, 1, cx, cy, 0, kWidth, kHeight);
        SyntheticFace half = face;
        const auto shrink = [](int32_t v, int32_t c) { return c + (v - c) / 2; };
        for (int k = 0; k < 62; ++k)  // the fitted landmarks
            half.points[k] = {shrink(face.points[k].x, cx), shrink(face.points[k].y, cy)};
        half.work.points = half.points;
        for (EngineRect *r : {&half.work.box, &half.work.eye1Box, &half.work.eye2Box})
            *r = {shrink(r->x, cx), shrink(r->y, cy), r->width / 2, r->height / 2};
        OwnedImage image(kWidth, kHeight, kFormatYuv444Planar), before(kWidth, kHeight, kFormatYuv444Planar);
        paintYuv(image.image, [&](int x, int y) {
            const YuvColour c = syntheticFaceColour(face, cx + 2 * (x - cx), cy + 2 * (y - cy));
            return c.y == 90 && c.u == 128 && c.v == 128 ? kSkin : c;  // skin for the background
        });
        before.copyPixelsFrom(image);
        fit(image, &half, 1);
        int32_t status = 0;
        run(image, &half, 1, kFeatureCheekColour, &status);
        ASSERT_EQ(status, kResultOk) << shift;
        std::vector<int32_t> change(size_t(kWidth) * kHeight, -1);  // -1: not skin
        int64_t total = 0;
        for (int32_t y = 0; y < kHeight; ++y)
            for (int32_t x = 0; x < kWidth; ++x) {
                const YuvColour a = pixelAt(before.image, x, y), b = pixelAt(image.image, x, y);
                const int32_t d = std::abs(a.y - b.y) + std::abs(a.u - b.u) + std::abs(a.v - b.v);
                total += d;
                if (isSkin(a))
                    change[size_t(y) * kWidth + x] = d;
            }
        EXPECT_GT(total, 1000) << shift;
        // the largest change of a skin pixel next to skin that did not change
        for (int32_t y = 1; y + 1 < kHeight; ++y)
            for (int32_t x = 1; x + 1 < kWidth; ++x) {
                const size_t at = size_t(y) * kWidth + x;
                for (size_t next : {at - 1, at + 1, at - kWidth, at + kWidth})
                    if (change[next] == 0)
                        atTheEdge = std::max(atTheEdge, change[at]);
            }
    }
    EXPECT_LE(atTheEdge, 2);
}

TEST_F(CheekRun, EveryAllocationFailureIsReportedWithoutLeaks)
{
    SyntheticFace face;
    makeSyntheticFace(&face, 1, 320, 240, 10, kWidth, kHeight);
    BeautySettings settings{};
    settings.cheekStrength = 200;
    settings.cheekColour = kPink;
    use(settings);
    const auto paint = [&](OwnedImage &image) { paintSyntheticFaces(image.image, &face, 1); };
    {
        OwnedImage image(kWidth, kHeight, kFormatYuv422Yuyv);
        paint(image);
        fit(image, &face, 1);
    }
    const std::vector<int32_t> statuses =
        statusesUnderEveryAllocationFailure(kFormatYuv422Yuyv, paint, &face, 1, kFeatureCheekColour);
    EXPECT_GT(std::count(statuses.begin(), statuses.end(), kResultNoMemory), 3);
}

TEST(CheekParts, RegionsMergeIntoTheLargerOne)
{
    struct Case {
        const char *name;
        EngineRect a, b;
        int32_t validA, validB;
        EngineRect merged;  // of the surviving one
    } cases[] = {
        {"overlapping, b larger", {0, 0, 10, 10}, {5, 5, 20, 20}, 0, 1, {0, 0, 25, 25}},
        {"touching, equal: the later", {0, 0, 10, 10}, {10, 0, 10, 10}, 0, 1, {0, 0, 20, 10}},
        {"a larger", {0, 0, 30, 30}, {20, 20, 5, 5}, 1, 0, {0, 0, 30, 30}},
        {"apart", {0, 0, 10, 10}, {11, 0, 10, 10}, 1, 1, {11, 0, 10, 10}},
    };
    for (const Case &c : cases) {
        CheekRegion regions[2] = {{0, c.a, 1}, {1, c.b, 1}};
        mergeCheekRegions(regions, 2);
        EXPECT_EQ(regions[0].valid, c.validA) << c.name;
        EXPECT_EQ(regions[1].valid, c.validB) << c.name;
        const EngineRect &r = regions[c.validB ? 1 : 0].rect;
        EXPECT_EQ(r.x, c.merged.x) << c.name;
        EXPECT_EQ(r.width, c.merged.width) << c.name;
        EXPECT_EQ(r.height, c.merged.height) << c.name;
    }
}

TEST(CheekParts, NormaliseAndLikelihoodBlocks)
{
    uint8_t bytes[4] = {50, 100, 150, 50};
    normaliseGrey(bytes, 4);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[1], 127);
    EXPECT_EQ(bytes[2], 255);
    uint8_t flat[3] = {9, 9, 9};
    normaliseGrey(flat, 3);
    EXPECT_EQ(flat[1], 9);

    OwnedImage mask(5, 4, kFormatGrey8), likelihood(2, 2, kFormatGrey8);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            mask.at(0, x, y) = 200;
    likelihood.at(0, 0, 0) = 128, likelihood.at(0, 1, 0) = 0;
    likelihood.at(0, 0, 1) = 255, likelihood.at(0, 1, 1) = 64;
    multiplyByLikelihood(&mask.image, &likelihood.image);
    EXPECT_EQ(mask.at(0, 1, 1), 100);
    EXPECT_EQ(mask.at(0, 3, 0), 0);
    EXPECT_EQ(mask.at(0, 0, 3), 199);
    EXPECT_EQ(mask.at(0, 2, 2), 50);
    EXPECT_EQ(mask.at(0, 4, 2), 200);  // past the last whole block
}

} // namespace
