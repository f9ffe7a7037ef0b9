#include "facesdk/engine/face_boxes.h"

#include <gtest/gtest.h>

#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/testing/owned_image.h"

namespace {

FaceListEntry faceEntry(EngineRect box, int32_t roll)
{
    FaceListEntry entry{};
    entry.face.box = box;
    entry.face.roll = roll;
    return entry;
}

bool sameRect(const EngineRect &a, const EngineRect &b)
{
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

}  // namespace

TEST(FaceBoxes, PercentTablesAndRollIndex)
{
    const int32_t sines[19] = {0, 9, 17, 26, 34, 42, 50, 57, 64, 71, 77, 82, 87, 91, 94, 97, 98,
                               100, 100};
    for (int k = 0; k < 19; ++k)
        EXPECT_EQ(sineTable5[k], sines[k]) << k;
    EXPECT_EQ(cosineTable5[0], 100);
    EXPECT_EQ(cosineTable5[4], 94);
    EXPECT_EQ(rollIndex5(0), 0);
    EXPECT_EQ(rollIndex5(1), 1);
    EXPECT_EQ(rollIndex5(5), 1);
    EXPECT_EQ(rollIndex5(6), 2);
    EXPECT_EQ(rollIndex5(-1), 72);
    EXPECT_EQ(rollIndex5(-180), 36);
    EXPECT_EQ(rollIndex5(180), 36);
}

// Rolls that no face should carry still index inside the tables, as the same place in the turn.
TEST(FaceBoxes, RollIndexOfAnyAngleStaysInTheTables)
{
    const int32_t rolls[] = {INT32_MIN, INT32_MIN + 1, -100000000, -4096, -541, -360, -181,
                             181,       359,           360,        361,   4096, 100000000,
                             INT32_MAX};
    for (const int32_t roll : rolls) {
        const int32_t inTurn = roll % 360 < 0 ? roll % 360 + 360 : roll % 360;
        EXPECT_EQ(rollIndex5(roll), rollIndex5(inTurn > 180 ? inTurn - 360 : inTurn)) << roll;
        EXPECT_GE(rollIndex5(roll), 0) << roll;
        EXPECT_LE(rollIndex5(roll), 72) << roll;
    }
}

TEST(FaceBoxes, GrowRectEven)
{
    struct Case {
        EngineRect source;
        int32_t top, left, bottom, right, limitW, limitH;
        EngineRect expected;
    };
    const Case cases[] = {
        {{10, 10, 20, 20}, -2, -2, 2, 2, 100, 100, {8, 8, 24, 24}},
        {{11, 13, 21, 23}, 0, 0, 0, 0, 100, 100, {10, 12, 20, 22}},
        // A side pushed below 0 gives 0 while the size keeps the full offsets, then the limit.
        {{5, 5, 20, 20}, -10, -10, 10, 10, 100, 100, {0, 0, 40, 40}},
        {{5, 5, 20, 20}, -10, -10, 10, 10, 30, 25, {0, 0, 30, 24}},
        // Far outside the limit: no negative sizes.
        {{90, 90, 20, 20}, 0, 20, 0, 0, 100, 100, {110, 90, 0, 10}},
    };
    for (const Case &c : cases) {
        EngineRect out{};
        growRectEven(&out, &c.source, c.top, c.left, c.bottom, c.right, c.limitW, c.limitH);
        EXPECT_TRUE(sameRect(out, c.expected))
            << out.x << " " << out.y << " " << out.width << " " << out.height;
    }
    EngineRect inPlace{10, 10, 20, 20};
    growRectEven(&inPlace, &inPlace, -2, -2, 2, 2, 100, 100);
    EXPECT_TRUE(sameRect(inPlace, {8, 8, 24, 24}));
}

TEST(FaceBoxes, ExpandByRoll)
{
    // Upright, h 90: a quarter (22) less a ninth (10) at top and bottom, a ninth in from the
    // sides.
    FaceListEntry upright = faceEntry({100, 100, 80, 90}, 0);
    EngineRect out{};
    expandBoxByRoll(&upright, &out, 1024, 768);
    EXPECT_TRUE(sameRect(out, {110, 88, 60, 114}));
    expandBoxByRollLarge(&upright, &out, 1024, 768);  // a thirteenth: 6
    EXPECT_TRUE(sameRect(out, {106, 84, 68, 122}));
    // Turned by 90 degrees the growth moves to the sides.
    FaceListEntry turned = faceEntry({100, 100, 80, 90}, 90);
    expandBoxByRoll(&turned, &out, 1024, 768);
    EXPECT_TRUE(sameRect(out, {88, 110, 104, 70}));
    // A small face (h < 9) keeps its sides and grows a quarter at top and bottom.
    FaceListEntry small = faceEntry({20, 20, 8, 8}, 0);
    expandBoxByRoll(&small, &out, 1024, 768);
    EXPECT_TRUE(sameRect(out, {20, 18, 8, 12}));
}

TEST(FaceBoxes, MouthBoxFromEyes)
{
    InnerEngine inner{};
    inner.workingWidth = 1024;
    inner.workingHeight = 768;
    // Level eyes 100 apart: 110 wide, 60 high, centred 111 below their midpoint; the corner
    // is not made even.
    const EngineRect left{95, 195, 11, 11}, right{195, 195, 11, 11};
    EngineRect out{};
    mouthBoxFromEyes(&inner, &left, &right, 0, &out);
    EXPECT_TRUE(sameRect(out, {95, 281, 110, 60}))
        << out.x << " " << out.y << " " << out.width << " " << out.height;
    // Upside down (roll 180): above the eyes in image coordinates.
    mouthBoxFromEyes(&inner, &right, &left, 180, &out);
    EXPECT_EQ(out.y, 59);
    EXPECT_EQ(out.height, 60);
    // Equal centres: an empty box at the centre.
    mouthBoxFromEyes(&inner, &left, &left, 0, &out);
    EXPECT_EQ(out.width, 0);
    EXPECT_EQ(out.height, 0);
    EXPECT_EQ(out.x, 100);
    // Clamped to the working size.
    const EngineRect edgeA{990, 300, 11, 11}, edgeB{1050, 300, 11, 11};
    mouthBoxFromEyes(&inner, &edgeA, &edgeB, 0, &out);
    EXPECT_EQ(out.x, 992);
    EXPECT_EQ(out.width, 32);  // 66 wide, cut at column 1023
}

TEST(FaceBoxes, RefreshWorkingCopy)
{
    CountingAllocator counter;
    InnerEngine inner{};
    inner.allocator = counter.allocator();

    OwnedImage big(640, 480, kFormatYuv420Planar);
    big.fillRandom(4);
    inner.detectionWidth = 320;
    inner.detectionHeight = 240;
    ASSERT_EQ(refreshWorkingCopy(&inner, &big.image), kResultOk);
    EXPECT_EQ(inner.detectionImage.width, 320);
    EXPECT_EQ(inner.ownsDetectionImage, 1);
    // Halving keeps every second sample.
    EXPECT_EQ(inner.detectionImage.planes[0].pixels[0], big.at(0, 0, 0));
    EXPECT_EQ(inner.detectionImage.planes[0].pixels[1], big.at(0, 2, 0));

    // Not wider than the stored width: an exact copy whose size becomes the stored size; the
    // previous copy is released, not leaked.
    OwnedImage small(200, 150, kFormatYuv422Yuyv);
    small.fillRandom(5);
    ASSERT_EQ(refreshWorkingCopy(&inner, &small.image), kResultOk);
    EXPECT_EQ(inner.detectionWidth, 200);
    EXPECT_EQ(inner.detectionHeight, 150);
    for (int y = 0; y < 150; ++y)
        ASSERT_EQ(std::memcmp(inner.detectionImage.planes[0].pixels +
                                  size_t(y) * inner.detectionImage.planes[0].stride,
                              &small.at(0, 0, y), 400),
                  0);
    releaseWorkingCopy(&inner);
    EXPECT_EQ(inner.detectionImage.planes[0].pixels, nullptr);
    EXPECT_EQ(counter.liveBlocks(), 0u);

    OwnedImage rgb(640, 480, kFormatRgb32);
    inner.detectionWidth = 320;
    inner.detectionHeight = 240;
    EXPECT_EQ(refreshWorkingCopy(&inner, &rgb.image), kResultUnsupported);
    EXPECT_EQ(inner.ownsDetectionImage, 0);
    for (int n = 1; n <= 3; ++n) {
        counter.failAt = counter.allocations + n;
        EXPECT_EQ(refreshWorkingCopy(&inner, &big.image), kResultNoMemory) << n;
        EXPECT_EQ(counter.liveBlocks(), 0u) << n;
    }
}
