#include "facesdk/engine/face_curves.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/lower_face.h"
#include "facesdk/engine/shape_prepare.h"
#include "facesdk/engine/testing/owned_image.h"
#include "facesdk/engine/testing/shape_engine.h"
#include "facesdk/engine/testing/synthetic_face.h"

namespace {

using LowerCurves = ShapeEngineFixture;

constexpr int32_t kWidth = 640, kHeight = 480;

TEST_F(LowerCurves, DarkCurveFollowsTheGapBetweenTheLipsAtEveryRoll)
{
    for (double roll : {0.0, 10.0, -20.0, 30.0, 90.0}) {
        SCOPED_TRACE(roll);
        OwnedImage image(kWidth, kHeight, kFormatYuv422Planar);
        SyntheticFace face;
        makeSyntheticFace(&face, 1, 320, 240, roll, kWidth, kHeight);
        paintSyntheticFaces(image.image, &face, 1);
        FaceListEntry entry;
        makeScratchEntry(face.work, &entry);
        FaceShapeRecord record{};
        ASSERT_EQ(buildLowerCurves(inner, &image.image, &entry, &record), kResultOk);
        EXPECT_EQ(record.curvesReady, 1);
        EXPECT_EQ(record.curveScale, 200);
        // The patch (about 99 x 63 samples) is centred on the lower-face point, which the
        // synthetic face puts on the gap; the lips reach 40 pixels either side of it.
        const int32_t w = record.curveColumns, middleRow = 63 / 2;
        EXPECT_NEAR(w, 99, 2);
        EXPECT_LE(record.curveFirstColumn, w / 2 - 30);
        EXPECT_GE(record.curveLastColumn, w / 2 + 30);
        for (int32_t m = w / 2 - 30; m <= w / 2 + 30; ++m) {
            EXPECT_NEAR(record.lowerCurveDark[m], middleRow, 3) << m;
            EXPECT_LT(record.lowerCurveUpper[m], record.lowerCurveDark[m]) << m;
            EXPECT_GT(record.lowerCurveLower[m], record.lowerCurveDark[m]) << m;
        }
        for (int32_t *curve : {record.lowerCurveUpper, record.lowerCurveLower, record.lowerCurveDark})
            allocatorFree(inner->allocator, curve);
    }
}

TEST_F(LowerCurves, NothingToTraceLeavesThePartEmpty)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
    SyntheticFace face;
    makeSyntheticFace(&face, 1, 320, 240, 0, kWidth, kHeight);
    FaceListEntry entry;
    FaceShapeRecord record{};
    // Flat grey: the chroma profile has no valley.
    paintYuv(image.image, [](int, int) { return YuvColour{120, 128, 128}; });
    makeScratchEntry(face.work, &entry);
    EXPECT_EQ(buildLowerCurves(inner, &image.image, &entry, &record), kResultNothingToDo);
    // No eye boxes.
    paintSyntheticFaces(image.image, &face, 1);
    entry.face.eye2Box = EngineRect{};
    EXPECT_EQ(buildLowerCurves(inner, &image.image, &entry, &record), kResultNothingToDo);
    entry.face.box.x = 600;
    EXPECT_EQ(buildLowerCurves(inner, &image.image, &entry, &record), kResultBadArgument);
    EXPECT_EQ(record.lowerCurveDark, nullptr);
    EXPECT_EQ(record.curvesReady, 0);
}

TEST(ValleyCandidates, ValleysBetweenBrightBandsSurvive)
{
    CountingAllocator counter;
    ValleyCandidate *found = nullptr;
    int32_t count = 0;
    // Monotone rows: no valley.
    std::vector<int32_t> profile(40);
    for (int y = 0; y < 40; ++y)
        profile[y] = 100 * y;
    EXPECT_EQ(findValleyCandidates(counter.allocator(), profile.data(), 50, 40, &found, &count),
              kResultNothingToDo);
    // Two bright bands around a deep valley at row 20.
    for (int y = 0; y < 40; ++y)
        profile[y] = y < 12 ? 200 : y < 18 ? 1500 : y < 23 ? -800 : y < 30 ? 1500 : 200;
    profile[20] = -900;
    ASSERT_EQ(findValleyCandidates(counter.allocator(), profile.data(), 50, 40, &found, &count),
              kResultOk);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(found[0].valleyRow, 20);
    EXPECT_GE(found[0].peakAbove, 12);
    EXPECT_LT(found[0].peakAbove, 18);
    EXPECT_GE(found[0].peakBelow, 23);
    EXPECT_LT(found[0].peakBelow, 30);
    EXPECT_EQ(found[0].score, 1024);
    allocatorFree(counter.allocator(), found);
    EXPECT_EQ(findValleyCandidates(counter.allocator(), nullptr, 50, 40, &found, &count),
              kResultBadArgument);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

TEST(CurveTracers, FollowRidgesAndValleysOneRowAColumn)
{
    // A 12 x 9 patch with a bright line climbing one row every two columns and a dark line
    // below it.
    constexpr int w = 12, h = 9;
    uint8_t patch[w * h];
    std::memset(patch, 100, sizeof patch);
    for (int x = 0; x < w; ++x) {
        patch[(6 - x / 2 < 0 ? 0 : 6 - x / 2) * w + x] = 200;
        patch[(8 - x / 4) * w + x] = 10;
    }
    int32_t ridge[w], valley[w];
    traceLowerRidge(patch, w, h, 0, 6, 0, w - 1, ridge);
    for (int x = 0; x < w; ++x)
        EXPECT_EQ(ridge[x], std::max(0, 6 - x / 2)) << x;
    traceValley(patch, w, h, 5, 7, 2, 9, valley);
    for (int x = 2; x <= 9; ++x)
        EXPECT_EQ(valley[x], 8 - x / 4) << x;
    EXPECT_EQ(valley[0], valley[2]);
    EXPECT_EQ(valley[11], valley[9]);
    // Ties: the upper ridge keeps the last row, the lower ridge the first.
    std::memset(patch, 50, sizeof patch);
    int32_t upper[w], lower[w];
    traceUpperRidge(patch, w, h, 0, 4, 0, w - 1, upper);
    traceLowerRidge(patch, w, h, 0, 4, 0, w - 1, lower);
    EXPECT_EQ(upper[1], 5);
    EXPECT_EQ(lower[1], 3);
}

}  // namespace
