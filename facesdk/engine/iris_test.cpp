#include "facesdk/engine/iris.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/testing/owned_image.h"

namespace {

TEST(Iris, CircleFitMatchesTheCircleThePointsCameFrom)
{
    struct Case {
        double cx, cy, r;
        double from, to;  // arc, degrees
    };
    const Case cases[] = {{50, 40, 20, 0, 360}, {33, 60, 12, 100, 260}, {70, 25, 30, -60, 60}};
    for (const Case &c : cases) {
        std::vector<int32_t> points;
        for (double a = c.from; a < c.to; a += 7) {
            points.push_back(int32_t(std::lround(c.cx + c.r * std::cos(a * M_PI / 180))));
            points.push_back(int32_t(std::lround(c.cy + c.r * std::sin(a * M_PI / 180))));
        }
        int32_t x = 0, y = 0, r = 0;
        ASSERT_EQ(fitCircle(points.data(), int32_t(points.size() / 2), &x, &y, &r), kResultOk);
        EXPECT_NEAR(x, c.cx, 1.5);
        EXPECT_NEAR(y, c.cy, 1.5);
        EXPECT_NEAR(r, c.r, 1.5);
    }
    const int32_t line[] = {1, 1, 2, 2, 3, 3, 4, 4};
    int32_t x = 0, y = 0, r = 0;
    EXPECT_EQ(fitCircle(line, 4, &x, &y, &r), kResultNothingToDo);
    EXPECT_EQ(fitCircle(line, 2, &x, &y, &r), kResultBadArgument);
}

TEST(Iris, EdgeResponseAndItsRefusals)
{
    uint8_t row[20];
    for (int x = 0; x < 20; ++x)
        row[x] = x < 8 ? 10 : 110;
    int32_t out[20];
    ASSERT_EQ(edgeResponse(row, row + 20, out, 0, 12, 3), kResultOk);
    EXPECT_EQ(out[0], 0);             // samples left of the start read as the first
    EXPECT_EQ(out[7], 3 * 100);       // the strongest response sits on the last dark sample
    EXPECT_EQ(out[5], 100);
    EXPECT_EQ(edgeResponse(row, row + 20, out, -1, 5, 3), kResultNothingToDo);
    EXPECT_EQ(edgeResponse(row, row + 20, out, 5, 5, 3), kResultNothingToDo);
    EXPECT_EQ(edgeResponse(row, row + 20, out, 0, 5, 0), kResultNothingToDo);
    EXPECT_EQ(edgeResponse(row, row + 20, out, 0, 21, 3), kResultNothingToDo);
}

// A band 100 wide with a dark disc between two bright sides, as an eye band shows an iris.
void paintBand(OwnedImage &band, double cx, double cy, double r)
{
    for (int y = 0; y < band.image.height; ++y)
        for (int x = 0; x < band.image.width; ++x)
            band.at(0, x, y) = (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r ? 30 : 220;
}

TEST(Iris, TracedEdgesGiveTheIrisCircle)
{
    CountingAllocator counter;
    OwnedImage band(kEyeBandWidth, 70, kFormatGrey8);
    paintBand(band, 48, 36, 20);
    EyeAnalysis record{};
    record.darkRow = 36;
    record.irisLeft = 26;
    record.irisRight = 70;
    ASSERT_EQ(fitIrisCircle(counter.allocator(), &record, &band.image), kResultOk);
    EXPECT_NEAR(record.circleX, 48, 3);
    EXPECT_NEAR(record.circleY, 36, 4);
    EXPECT_NEAR(record.circleRadius, 20, 3);
    allocatorFree(counter.allocator(), record.leftEdge);
    allocatorFree(counter.allocator(), record.rightEdge);

    // A dark row in the lowest tenth of the band: nothing to trace from.
    EyeAnalysis low{};
    low.darkRow = 68;
    low.irisLeft = 26;
    low.irisRight = 70;
    EXPECT_EQ(fitIrisCircle(counter.allocator(), &low, &band.image), kResultNothingToDo);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

TEST(Iris, EyelidsBracketTheIrisAndNeedRoomAroundIt)
{
    CountingAllocator counter;
    OwnedImage band(kEyeBandWidth, 80, kFormatGrey8);
    // Skin, a dark upper lid line at rows 20..23, the eye white, a lower lid at rows 56..58.
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < kEyeBandWidth; ++x)
            band.at(0, x, y) = y < 20 ? 170 : y < 24 ? 30 : y < 56 ? 230 : y < 59 ? 90 : 170;
    // Region (100, 200, 50, 40) of the image: 1 pixel is 2 band samples.
    EyeBlock block{};
    block.region = {100, 200, 50, 40};
    block.irisX = 125;
    block.irisY = 220;
    block.irisRadius = 8;
    int32_t upper = 0, lower = 0;
    ASSERT_EQ(findEyelids(counter.allocator(), &band.image, 0, &block, &upper, &lower), kResultOk);
    EXPECT_NEAR(upper, 200 + 23 / 2, 3);
    EXPECT_NEAR(lower, 200 + 57 / 2, 3);
    block.irisRadius = 0;
    EXPECT_EQ(findEyelids(counter.allocator(), &band.image, 0, &block, &upper, &lower),
              kResultNothingToDo);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

}  // namespace
