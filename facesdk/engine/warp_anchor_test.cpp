#include "facesdk/engine/warp_anchor.h"

#include <gtest/gtest.h>

#include <cmath>

#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/shape_prepare.h"
#include "facesdk/engine/testing/owned_image.h"
#include "facesdk/engine/testing/shape_engine.h"
#include "facesdk/engine/testing/synthetic_face.h"

namespace {

using WarpAnchors = ShapeEngineFixture;

constexpr int32_t kWidth = 640, kHeight = 480;

TEST(WarpAnchorQuad, FaceBoxWidenedToFourEyeDistancesAndTurned)
{
    for (double roll : {0.0, 30.0, -20.0, 90.0}) {
        SCOPED_TRACE(roll);
        SyntheticFace face;
        makeSyntheticFace(&face, 1, 320, 240, roll, kWidth, kHeight);
        VXL_POINT quad[4];
        warpAnchorQuad(face.work, quad);
        const FaceWork &f = face.work;
        const double e1x = f.eye1Box.x + f.eye1Box.width / 2, e1y = f.eye1Box.y + f.eye1Box.height / 2;
        const double e2x = f.eye2Box.x + f.eye2Box.width / 2, e2y = f.eye2Box.y + f.eye2Box.height / 2;
        const double d = std::floor(std::hypot(e2x - e1x, e2y - e1y));
        int32_t angle = 0, distance = 0;
        rectCentreAngle(f.eye1Box, f.eye2Box, f.roll, &angle, &distance);
        const double a = (((angle + 362) % 360) / 5) * 5.0 * M_PI / 180;
        const double cx = f.box.x + f.box.width / 2, cy = f.box.y + f.box.height / 2;
        const double D = std::trunc((4 * d - f.box.width) / 2), G = std::trunc((5 * d - f.box.height) / 3);
        const double u[4] = {f.box.x - D - cx, f.box.x + f.box.width - 1 + D - cx,
                             f.box.x + f.box.width - 1 + D - cx, f.box.x - D - cx};
        const double v[4] = {f.box.y - G - cy, f.box.y - G - cy,
                             f.box.y + f.box.height - 1 + G - cy, f.box.y + f.box.height - 1 + G - cy};
        for (int k = 0; k < 4; ++k) {
            EXPECT_NEAR(quad[k].x, cx + u[k] * std::cos(a) - v[k] * std::sin(a), 1.0) << k;
            EXPECT_NEAR(quad[k].y, cy + v[k] * std::cos(a) + u[k] * std::sin(a), 1.0) << k;
        }
    }
}

TEST_F(WarpAnchors, AnchorsAreBuiltWithoutSkinToo)
{
    // A grey picture has no skin: the mask answers 97 and the anchors are still built.
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
    paintYuv(image.image, [](int, int) { return YuvColour{120, 128, 128}; });
    SyntheticFace face;
    makeSyntheticFace(&face, 1, 320, 240, 30, kWidth, kHeight);
    ASSERT_EQ(prepareRunInput(inner, nullptr, nullptr, &image.image, nullptr, nullptr), kResultOk);
    ASSERT_EQ(growShapeRecords(inner, 1), kResultOk);
    inner->shapeRecords[0].faceId = 1;
    EngineImage mask{};
    EXPECT_EQ(buildFaceSkinMask(inner, &image.image, &face.work, 1, 320, 240, &mask),
              kResultNothingToDo);
    allocatorFree(inner->allocator, mask.planes[0].pixels);
    EXPECT_EQ(buildWarpAnchors(inner, &image.image, &face.work, 1), kResultOk);
    const WarpAnchor anchor = readWarpAnchor(inner->shapeRecords[0]);
    EXPECT_EQ(anchor.warpReady, 1);
    EXPECT_EQ(anchor.built, 1);
    EXPECT_EQ(inner->shapeRecords[0].preparedMask, uint32_t(kFeatureFaceWarp));
    // Extents of (3/2 + 11/5) / 2 eye distances either side of the eye midpoint.
    EXPECT_NEAR(anchor.rightExtent, 90 * 37 / 20, 8);
    EXPECT_NEAR(anchor.leftExtent, -90 * 37 / 20, 8);
    EXPECT_EQ(anchor.boxWidth, 200);
    EXPECT_EQ(anchor.centreX, 320);

    // Built anchors are not built again.
    inner->shapeRecords[0].preparedMask = 0;
    EXPECT_EQ(buildWarpAnchors(inner, &image.image, &face.work, 1), kResultNothingToDo);
}

TEST_F(WarpAnchors, SkinMaskKeepsTheRegionsUnderTheEyes)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv422Uyvy);
    SyntheticFace faces[2];
    makeSyntheticFace(&faces[0], 1, 170, 240, 0, kWidth, kHeight);
    makeSyntheticFace(&faces[1], 2, 470, 240, 0, kWidth, kHeight);
    paintSyntheticFaces(image.image, faces, 2);
    // A skin-coloured patch away from the faces is no face region.
    paintYuv(image.image, [&](int x, int y) {
        if (x > 590 && y > 420)
            return YuvColour{170, 110, 150};
        YuvColour c = syntheticFaceColour(faces[0], x, y);
        return c.y == 90 && c.u == 128 ? syntheticFaceColour(faces[1], x, y) : c;
    });
    FaceWork work[] = {faces[0].work, faces[1].work};
    ASSERT_EQ(prepareRunInput(inner, nullptr, nullptr, &image.image, nullptr, nullptr), kResultOk);
    EngineImage mask{};
    ASSERT_EQ(buildFaceSkinMask(inner, &image.image, work, 2, 320, 240, &mask), kResultOk);
    const auto at = [&](int x, int y) { return mask.planes[0].pixels[y * mask.width + x]; };
    EXPECT_EQ(at(170 / 2, 300 / 2), 1);  // cheek of the first face
    EXPECT_EQ(at(470 / 2, 300 / 2), 1);
    EXPECT_EQ(at(610 / 2, 450 / 2), 0);  // the stray patch
    EXPECT_EQ(at(10, 10), 0);
    allocatorFree(inner->allocator, mask.planes[0].pixels);

    EngineImage grey = image.image;
    grey.format = kFormatGrey8;
    EXPECT_EQ(buildFaceSkinMask(inner, &grey, work, 2, 320, 240, &mask), kResultUnsupported);
    EXPECT_EQ(buildFaceSkinMask(inner, &image.image, work, 2, 0, 240, &mask), kResultBadArgument);
}

TEST_F(WarpAnchors, CollidingFacesLoseTheirAnchors)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
    struct Case {
        double secondX;
        int expectedReady;
    };
    // Faces 320 pixels apart keep their anchors; 200 apart, each quad covers the other's box.
    const Case cases[] = {{480, 1}, {360, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.secondX);
        SyntheticFace faces[2];
        makeSyntheticFace(&faces[0], 1, 160, 240, 0, kWidth, kHeight);
        makeSyntheticFace(&faces[1], 2, c.secondX, 240, 0, kWidth, kHeight);
        paintSyntheticFaces(image.image, faces, 2);
        FaceWork work[] = {faces[0].work, faces[1].work};
        ASSERT_EQ(prepareRunInput(inner, nullptr, nullptr, &image.image, nullptr, nullptr), kResultOk);
        ASSERT_EQ(growShapeRecords(inner, 0), kResultOk);
        ASSERT_EQ(growShapeRecords(inner, 2), kResultOk);
        inner->shapeRecords[0].faceId = 1;
        inner->shapeRecords[1].faceId = 2;
        EXPECT_EQ(buildWarpAnchors(inner, &image.image, work, 2), kResultOk);
        for (int k = 0; k < 2; ++k) {
            EXPECT_EQ(inner->shapeRecords[k].warpBuilt, 1);
            EXPECT_EQ(inner->shapeRecords[k].warpReady, c.expectedReady);
            EXPECT_EQ(inner->shapeRecords[k].preparedMask,
                      c.expectedReady ? uint32_t(kFeatureFaceWarp) : 0u);
        }
    }
}

TEST_F(WarpAnchors, CoincidingEyesGiveZeroExtents)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
    SyntheticFace face;
    makeSyntheticFace(&face, 1, 320, 240, 0, kWidth, kHeight);
    face.work.eye2Box = face.work.eye1Box;
    paintYuv(image.image, [](int, int) { return YuvColour{120, 128, 128}; });
    ASSERT_EQ(prepareRunInput(inner, nullptr, nullptr, &image.image, nullptr, nullptr), kResultOk);
    // The measurement reads nothing of the mask's content: an empty mask will do.
    EngineImage mask{};
    EXPECT_EQ(buildFaceSkinMask(inner, &image.image, &face.work, 1, 320, 240, &mask), kResultNothingToDo);
    int32_t left = 1, right = 1;
    EXPECT_EQ(measureWarpExtents(inner, &image.image, face.work, &mask, &left, &right), kResultOk);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(right, 0);
    allocatorFree(inner->allocator, mask.planes[0].pixels);
}

}  // namespace
