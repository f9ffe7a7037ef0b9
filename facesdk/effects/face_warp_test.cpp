// Face warp: the grid size, the stage on synthetic faces in every run format, strength,
// statuses and allocation failures.
#include "facesdk/effects/face_warp.h"

#include <gtest/gtest.h>

#include "facesdk/effects/testing/stage_run.h"
#include "facesdk/engine/testing/warp_run.h"
#include "facesdk/engine/warp_anchor.h"

namespace {

TEST(FaceWarpGrid, NodesFollowTheSmallestFace)
{
    struct Case {
        uint32_t smallest, width, height, nodes;
    } cases[] = {
        {100, 1024, 682, 50},  // 115 capped
        {600, 1024, 682, 20},  // 19 raised
        {0, 1024, 682, 50},
        {300, 1024, 768, 43},
    };
    for (const Case &c : cases)
        EXPECT_EQ(warpGridNodes(c.smallest, c.width, c.height), c.nodes) << c.smallest;
    const WarpMeshConfig wide = faceWarpMeshConfig(50, 4000, 3000);
    EXPECT_EQ(wide.columns, 50);
    EXPECT_EQ(wide.rows, 37);
    const WarpMeshConfig tall = faceWarpMeshConfig(20, 3000, 4000);
    EXPECT_EQ(tall.columns, 15);
    EXPECT_EQ(tall.rows, 20);
    // A panorama still gets the lines a mesh needs across its short side.
    const WarpMeshConfig panorama = faceWarpMeshConfig(20, 3000, 200);
    EXPECT_EQ(panorama.columns, 20);
    EXPECT_EQ(panorama.rows, kWarpGridMinimumLines);
    const WarpMeshConfig column = faceWarpMeshConfig(50, 60, 2000);
    EXPECT_EQ(column.columns, kWarpGridMinimumLines);
}

// One fitted synthetic face; the change is checked against the rectangle its anchor covers
// (one chroma pair of slack).
struct FaceWarpTest : StageRunFixture {
    PixelChange operator()(PixelFormat format, double roll, int32_t strength, int32_t *status,
                           int *result)
    {
        BeautySettings settings{};
        settings.warpStrength = strength;
        EngineRect anchor{};
        return runOnFace(format, roll, settings, kFeatureFaceWarp, true, syntheticFaceColour,
                         [&](const SyntheticFace &face, int32_t x, int32_t y) {
                             if (anchor.width == 0) {
                                 inner->runImage.width = inner->runWidth = kWidth;
                                 inner->runImage.height = inner->runHeight = kHeight;
                                 warpAnchorSourceRect(inner, 0, 0, &face.work, &anchor);
                                 EXPECT_GT(anchor.width, 0);
                             }
                             return x >= anchor.x - 2 && x < anchor.x + anchor.width + 2 &&
                                    y >= anchor.y - 2 && y < anchor.y + anchor.height + 2;
                         },
                         status, result);
    }
};

TEST_F(FaceWarpTest, NarrowsTheFaceInsideItsAnchorInEveryWarpedFormat)
{
    for (PixelFormat format : kStageRunFormats)
        for (double roll : {0.0, 15.0, -25.0}) {
            SCOPED_TRACE(testing::Message() << std::hex << format << std::dec << " roll " << roll);
            int32_t status = 0;
            int result = 0;
            const PixelChange change = (*this)(format, roll, 200, &status, &result);
            EXPECT_EQ(change.outside, 0);
            if (format == kFormatYuv444Planar) {
                // The mesh has no warp for planar 4:4:4: nothing to do, and the run says so.
                EXPECT_EQ(status, kResultNothingToDo);
                EXPECT_EQ(result, kResultRunIncomplete);
                EXPECT_EQ(change.inside, 0);
            } else {
                EXPECT_EQ(status, kResultOk);
                EXPECT_EQ(result, kResultOk);
                EXPECT_GT(change.inside, 500);
            }
        }
}

TEST_F(FaceWarpTest, StrengthScalesTheChange)
{
    expectStrengthScales(*this, kFormatYuv420Planar, {40, 120, 255});
}

TEST(FaceWarpStage, AnswersNothingToDoWithoutAQualifyingFace)
{
    OwnedImage image(400, 300, kFormatYuv420Planar), before(400, 300, kFormatYuv420Planar);
    image.fillRandom(3);
    before.copyPixelsFrom(image);
    const VXL_POINT quad[4] = {{150, 120}, {250, 120}, {250, 220}, {150, 220}};
    {
        WarpRun run(400, 300, 200);
        run.inner->runImage = image.image;
        EXPECT_EQ(applyFaceWarp(run.inner, nullptr, 0), kResultNothingToDo);  // no faces
        run.addFace({130, 80, 140, 160}, {150, 100, 40, 40}, {210, 100, 40, 40}, quad, -60, 60, 0);
        EXPECT_EQ(applyFaceWarp(run.inner, nullptr, 0), kResultNothingToDo);  // anchor not ready
        run.faces[0].face.eye2Box = {};
        findShapeRecord(run.inner, 1)->warpReady = 1;
        EXPECT_EQ(applyFaceWarp(run.inner, nullptr, 0), kResultNothingToDo);  // empty second eye
    }
    EXPECT_TRUE(image.samePixels(before));
}

// Wide pictures, whose grid would get fewer than four rows: without a face that takes part the
// stage has nothing to do; with one, the mesh gets the rows it needs and the stage runs (the
// grid is coarse along such a picture, so it may move few pixels).
TEST(FaceWarpStage, WidePicturesAreNoFailure)
{
    for (int32_t width : {1200, 3000}) {
        SCOPED_TRACE(width);
        OwnedImage image(width, 200, kFormatYuv420Planar), before(width, 200, kFormatYuv420Planar);
        image.fillRandom(5);
        before.copyPixelsFrom(image);
        const VXL_POINT quad[4] = {{90, 50}, {310, 50}, {310, 195}, {90, 195}};
        WarpRun run(width, 200, 255);
        run.inner->runImage = image.image;
        // a skin region only: listed, but no face in use
        run.addFace({130, 20, 140, 160}, {150, 40, 40, 40}, {210, 40, 40, 40}, quad, -110, 110);
        run.faces[0].inUse = 0;
        EXPECT_EQ(applyFaceWarp(run.inner, nullptr, 0), kResultNothingToDo);
        EXPECT_TRUE(image.samePixels(before));
        run.faces[0].inUse = 1;
        EXPECT_EQ(applyFaceWarp(run.inner, nullptr, 0), kResultOk);
    }
}

TEST(FaceWarpStage, FailingApplyAndCreationAreReportedAndLeakNothing)
{
    OwnedImage image(400, 300, kFormatYuv420Planar);
    image.fillRandom(4);
    const VXL_POINT quad[4] = {{150, 120}, {250, 120}, {250, 220}, {150, 220}};
    WarpRun run(400, 300, 200);
    run.inner->runImage = image.image;
    run.addFace({130, 80, 140, 160}, {150, 100, 40, 40}, {210, 100, 40, 40}, quad, -60, 60);
    run.inner->runImage.format = 0x40000001;  // grey: the apply refuses it
    EXPECT_EQ(applyFaceWarp(run.inner, nullptr, 0), kResultNothingToDo);
    run.inner->runImage.format = kFormatYuv420Planar;

    const int start = run.counter.allocations;
    ASSERT_EQ(applyFaceWarp(run.inner, nullptr, 0), kResultOk);
    const int used = run.counter.allocations - start;
    for (int n = 1; n <= used; ++n) {
        run.counter.failAt = run.counter.allocations + n;
        const size_t live = run.counter.liveBlocks();
        const int result = applyFaceWarp(run.inner, nullptr, 0);
        run.counter.failAt = 0;
        EXPECT_TRUE(result == kResultFailed || result == kResultNothingToDo || result == kResultOk)
            << n << ": " << result;
        EXPECT_EQ(run.counter.liveBlocks(), live) << n;
    }
}

} // namespace
