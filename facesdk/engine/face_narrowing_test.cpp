#include "facesdk/engine/face_narrowing.h"

#include <gtest/gtest.h>

#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/testing/warp_run.h"

namespace {

// A rest grid of 1-pixel cells over a w x h image (node (i, j) at pixel (j, i)), so every node
// lies on a whole pixel.
struct PixelGrid {
    int32_t columns, rows;
    std::vector<int32_t> x, y;

    PixelGrid(int32_t w, int32_t h) : columns(w), rows(h), x(size_t(w) * h), y(size_t(w) * h)
    {
        for (int32_t i = 0; i < h; ++i)
            for (int32_t j = 0; j < w; ++j) {
                x[size_t(i) * w + j] = j * 256;
                y[size_t(i) * w + j] = i * 256;
            }
    }
    int32_t dx(int32_t px, int32_t py) const { return x[size_t(py) * columns + px] - px * 256; }
    int32_t dy(int32_t px, int32_t py) const { return y[size_t(py) * columns + px] - py * 256; }
};

// An upright face: eyes 100 pixels apart on row 150, midpoint x 200; the quad spans the box.
constexpr EngineRect kBox = {100, 80, 200, 240};
constexpr EngineRect kEye1 = {140, 140, 20, 20};
constexpr EngineRect kEye2 = {240, 140, 20, 20};
constexpr VXL_POINT kQuad[4] = {{60, 60}, {340, 60}, {340, 360}, {60, 360}};

FaceWork faceOf(EngineRect box, EngineRect eye1, EngineRect eye2, int32_t roll = 0)
{
    FaceWork face{};
    face.size = sizeof face;
    face.id = 1;
    face.box = box;
    face.eye1Box = eye1;
    face.eye2Box = eye2;
    face.roll = roll;
    return face;
}

int narrow(WarpRun &run, FaceWork face, PixelGrid &grid, int32_t left, int32_t right)
{
    return narrowFaceOnGrid(run.inner, &face, grid.x.data(), grid.y.data(), grid.columns, grid.rows,
                            left, right, kQuad);
}

}  // namespace

TEST(FaceNarrowing, Helpers)
{
    EXPECT_EQ(pointInQuad({200, 200}, kQuad), 1);
    EXPECT_EQ(pointInQuad({60, 200}, kQuad), 0);   // on an edge
    EXPECT_EQ(pointInQuad({30, 200}, kQuad), 0);
    EXPECT_EQ(pointInQuad({200, 361}, kQuad), 0);

    WarpRun run(400, 400);
    int32_t *weights = warpVerticalWeights(run.inner);
    ASSERT_NE(weights, nullptr);
    EXPECT_EQ(weights[0], 0);
    EXPECT_EQ(weights[255], 1023);
    for (int i = 1; i < 256; ++i)
        EXPECT_LE(weights[i - 1], weights[i]) << i;
    allocatorFree(run.inner->allocator, weights);

    // 16 columns step one knot per entry: knot x amplitude / 1024.
    int32_t *profile = warpSideProfile(run.inner, 16, 2048);
    ASSERT_NE(profile, nullptr);
    const int32_t knots[16] = {0, 102, 184, 256, 358, 512, 666, 799, 881, 973, 1024, 942, 870, 758, 481, 256};
    for (int j = 0; j < 16; ++j)
        EXPECT_EQ(profile[j], knots[j] * 2) << j;
    allocatorFree(run.inner->allocator, profile);
    // The amplitude is capped at n x 1024 / 3: the peak (10/16 of the side) is the cap.
    profile = warpSideProfile(run.inner, 16, 1 << 30);
    ASSERT_NE(profile, nullptr);
    EXPECT_EQ(profile[10], 16 * 1024 / 3);
    allocatorFree(run.inner->allocator, profile);
    EXPECT_EQ(warpSideProfile(run.inner, 0, 100), nullptr);

    // An anchor measured on a 100 x 50 box mapped onto a 200 x 150 box centred elsewhere.
    WarpAnchor anchor{};
    anchor.leftExtent = -30;
    anchor.rightExtent = 40;
    anchor.boxWidth = 100;
    anchor.boxHeight = 50;
    anchor.centreX = 50;
    anchor.centreY = 25;
    anchor.quad[0] = {10, 5};
    anchor.quad[2] = {91, 46};
    anchor.warpReady = 1;
    anchor.built = 1;
    WarpAnchor target{};
    target.boxWidth = 200;
    target.boxHeight = 150;
    target.centreX = 500;
    target.centreY = 300;
    mapWarpAnchor(&anchor, &target);
    EXPECT_EQ(target.leftExtent, -60);
    EXPECT_EQ(target.rightExtent, 120);  // the right extent takes the height factor
    EXPECT_EQ(target.quad[0].x, 420);
    EXPECT_EQ(target.quad[0].y, 240);
    EXPECT_EQ(target.quad[2].x, 582);
    EXPECT_EQ(target.quad[2].y, 363);
    EXPECT_EQ(target.warpReady, 1);
    anchor.boxWidth = 0;
    mapWarpAnchor(&anchor, &target);
    EXPECT_EQ(target.warpReady, 0);
}

// An upright face: nodes above the eye line, on it or outside the quad stay; the node below the
// eye midpoint is rewritten to its own pixel; the cheeks are drawn from further out, by up to
// about A / 1024 pixels with A = (100 x 160 x 255) >> 8 = 15937; it adds no warp margin, and
// the margin earlier faces set stays.
TEST(FaceNarrowing, UprightFaceDrawsCheeksFromFurtherOut)
{
    WarpRun run(400, 400, 255);
    run.inner->warpMargin = 6;
    PixelGrid grid(400, 400);
    ASSERT_EQ(narrow(run, faceOf(kBox, kEye1, kEye2), grid, -120, 120),
              kResultOk);
    EXPECT_EQ(run.inner->warpMargin, 6);
    int32_t largest = 0;
    for (int32_t py = 0; py < 400; ++py)
        for (int32_t px = 0; px < 400; ++px) {
            EXPECT_EQ(grid.dy(px, py), 0);
            const int32_t dx = grid.dx(px, py);
            if (py <= 150 || px <= 60 || px >= 340 || py >= 360 || px == 200) {
                EXPECT_EQ(dx, 0) << px << ',' << py;
            }
            if (px < 200) {
                EXPECT_LE(dx, 0) << px << ',' << py;
            } else {
                EXPECT_GE(dx, 0) << px << ',' << py;
            }
            EXPECT_EQ(dx % 256, 0);
            largest = std::max(largest, std::abs(dx / 256));
        }
    EXPECT_GE(largest, 14);
    EXPECT_LE(largest, 16);
    // Full weight two thirds down the affected height (250 rows), at the left profile's peak
    // (10/16 of its 121 columns).
    EXPECT_LE(grid.dx(200 - 75, 150 + 167), -14 * 256);

    // Strength 0 moves nothing, and unusable boxes answer 97 and touch nothing.
    WarpRun still(400, 400, 0);
    PixelGrid rest(400, 400);
    ASSERT_EQ(narrow(still, faceOf(kBox, kEye1, kEye2), rest, -120, 120),
              kResultOk);
    for (int32_t py = 0; py < 400; py += 3)
        for (int32_t px = 0; px < 400; px += 3)
            ASSERT_EQ(rest.dx(px, py), 0);
    EXPECT_EQ(narrow(run, faceOf(kBox, {}, kEye2), grid, -120, 120),
              kResultNothingToDo);
    EXPECT_EQ(narrow(run, faceOf({300, 80, 200, 240}, kEye1, kEye2), grid, -120, 120),
              kResultNothingToDo);
}

// A face turned by 30 degrees sets the warp margin to 16 x 50 / 100 = 8 rows, and the side
// with fewer columns is scaled down.
TEST(FaceNarrowing, TurnedFaceSetsTheWarpMargin)
{
    WarpRun run(400, 400, 255);
    PixelGrid grid(400, 400);
    const EngineRect eye1 = {140, 140, 20, 20}, eye2 = {227, 190, 20, 20};  // 87 x 50: 30 degrees
    int32_t angle = 0;
    rectCentreAngle(eye1, eye2, 0, &angle, nullptr);
    ASSERT_EQ(std::abs(sineTable5[turnIndex5(angle)]), 50) << angle;
    ASSERT_EQ(narrow(run, faceOf(kBox, eye1, eye2), grid, -120, 120),
              kResultOk);
    EXPECT_EQ(run.inner->warpMargin, 8);
    // The margin is the largest of the faces' in either order: an upright face after the
    // turned one keeps it, and one before it does not lower it.
    for (bool turnedFirst : {true, false}) {
        WarpRun pair(400, 400, 255);
        PixelGrid rest(400, 400);
        const FaceWork upright = faceOf(kBox, kEye1, kEye2), turned = faceOf(kBox, eye1, eye2);
        ASSERT_EQ(narrow(pair, turnedFirst ? turned : upright, rest, -120, 120), kResultOk);
        ASSERT_EQ(narrow(pair, turnedFirst ? upright : turned, rest, -120, 120), kResultOk);
        EXPECT_EQ(pair.inner->warpMargin, 8) << turnedFirst;
    }
    bool moved = false;
    for (size_t n = 0; n < grid.x.size(); ++n)
        moved = moved || grid.dy(int32_t(n % 400), int32_t(n / 400)) != 0;
    EXPECT_TRUE(moved);  // turned back from the upright frame, shifts have a vertical part

    // Extents that give the left side fewer columns than the right scale the left side down.
    WarpRun sides(400, 400, 255);
    PixelGrid full(400, 400), lopsided(400, 400);
    ASSERT_EQ(narrow(sides, faceOf(kBox, kEye1, kEye2), full, -120, 120),
              kResultOk);
    ASSERT_EQ(narrow(sides, faceOf(kBox, kEye1, kEye2), lopsided, -40, 120),
              kResultOk);
    EXPECT_GT(std::abs(full.dx(140, 317)), std::abs(lopsided.dx(140, 317)) + 3 * 256);
    EXPECT_EQ(full.dx(260, 317), lopsided.dx(260, 317));
}

// The pass over the run's faces: faces without a ready anchor are skipped, the margin starts
// at 0, and a table that cannot be allocated stops the remaining faces.
TEST(FaceNarrowing, DeformGridForFaces)
{
    WarpRun run(400, 400, 255);
    run.addFace(kBox, kEye1, kEye2, kQuad, -120, 120, 0);  // anchor not ready
    PixelGrid grid(400, 400);
    run.inner->warpMargin = 12;
    deformGridForFaces(run.inner, grid.x.data(), grid.y.data(), 400, 400);
    EXPECT_EQ(run.inner->warpMargin, 0);
    EXPECT_EQ(grid.dx(125, 317), 0);

    run.inner->shapeRecords[0].warpReady = 1;
    deformGridForFaces(run.inner, grid.x.data(), grid.y.data(), 400, 400);
    EXPECT_LE(grid.dx(125, 317), -14 * 256);

    for (int failAt = 1; failAt <= 3; ++failAt) {
        PixelGrid untouched(400, 400);
        run.counter.failAt = run.counter.allocations + failAt;
        deformGridForFaces(run.inner, untouched.x.data(), untouched.y.data(), 400, 400);
        EXPECT_EQ(untouched.dx(125, 317), 0) << failAt;
    }
    run.counter.failAt = 0;
}
