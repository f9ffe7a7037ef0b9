#include "facesdk/engine/lower_face.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/shape_prepare.h"
#include "facesdk/engine/testing/owned_image.h"
#include "facesdk/engine/testing/shape_engine.h"
#include "facesdk/engine/testing/synthetic_face.h"

namespace {

using LowerFace = ShapeEngineFixture;

constexpr int32_t kWidth = 640, kHeight = 480;

// Completion as the fitting runs it: one entry in image coordinates, the image prepared.
int complete(InnerEngine *inner, EngineImage *image, SyntheticFace *face)
{
    EXPECT_EQ(prepareRunInput(inner, nullptr, nullptr, image, nullptr, nullptr), kResultOk);
    FaceListEntry entry;
    makeScratchEntry(face->work, &entry);
    entry.landmarksUsable = 1;
    return completeExtraLandmarks(inner, &entry, 1, 1024, 1024);
}

// The spline through two knots with a free start and a flat end, in floating point: its second
// derivative is 0 at the start and -3 slope / h at the end (clamped as the engine clamps it).
double twoKnotSpline(double x0, double y0, double x1, double y1, double x)
{
    const double h = x1 - x0, slope = (y1 - y0) / h;
    const double second = std::clamp(-3 * slope / h, -7208 / 65536.0, 7209 / 65536.0);
    const double a = (x1 - x) / h, b = (x - x0) / h;
    return a * y0 + b * y1 + (b * b * b - b) * second * h * h / 6;
}

TEST_F(LowerFace, WithoutCurvesThePointsLieOnTheCornerSplineAtThePairColumns)
{
    // No shape record: the spline runs through the corners 32 and 38 alone.
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
    for (double roll : {0.0, 10.0, -20.0, 60.0}) {
        SCOPED_TRACE(roll);
        SyntheticFace face;
        makeSyntheticFace(&face, 1, 320, 240, roll, kWidth, kHeight);
        ASSERT_EQ(complete(inner, &image.image, &face), kResultOk);
        const VXL_POINT *p = face.points;
        const bool byX = std::abs(p[32].y - p[38].y) < std::abs(p[32].x - p[38].x);
        const auto along = [byX](VXL_POINT q) { return double(byX ? q.x : q.y); };
        const auto across = [byX](VXL_POINT q) { return double(byX ? q.y : q.x); };
        VXL_POINT lo = p[32], hi = p[38];
        if (along(lo) > along(hi))
            std::swap(lo, hi);
        const int pairs[3][2] = {{33, 42}, {35, 41}, {37, 40}};
        for (int k = 0; k < 3; ++k)
            for (int side = 0; side < 2; ++side) {
                const VXL_POINT q = p[62 + 3 * side + k];
                const double at = std::trunc((along(p[pairs[k][0]]) + along(p[pairs[k][1]])) / 2);
                EXPECT_EQ(along(q), at);
                EXPECT_NEAR(across(q), twoKnotSpline(along(lo), across(lo), along(hi), across(hi), at),
                            1.0);
            }
    }
}

TEST_F(LowerFace, SetPointsAndUnusableFacesAreLeftAlone)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
    SyntheticFace face;
    makeSyntheticFace(&face, 1, 320, 240, 0, kWidth, kHeight);
    face.points[66] = {5, 6};
    SyntheticFace before = face;
    EXPECT_EQ(complete(inner, &image.image, &face), kResultOk);
    EXPECT_EQ(std::memcmp(face.points, before.points, sizeof face.points), 0);

    face.points[66] = {0, 0};
    FaceListEntry entry;
    makeScratchEntry(face.work, &entry);
    entry.landmarksUsable = 0;
    EXPECT_EQ(completeExtraLandmarks(inner, &entry, 1, 1024, 1024), kResultNothingToDo);
    EXPECT_EQ(face.points[62].x, 0);
}

TEST_F(LowerFace, PatchesReadEveryLayoutAlikeAndRefuseOthers)
{
    const PixelFormat formats[] = {kFormatYuv444Planar, kFormatYuv422Planar, kFormatYuv420Planar,
                                   kFormatYuv420SemiPlanar, kFormatYuv420SemiPlanarCrFirst,
                                   kFormatYuv422Yuyv, kFormatYuv422Uyvy};
    for (PixelFormat format : formats) {
        SCOPED_TRACE(format);
        OwnedImage image(64, 48, format);
        paintYuv(image.image, [](int, int) { return YuvColour{77, 30, 201}; });
        uint8_t *luma = nullptr, *chroma = nullptr;
        // A 20 x 10 patch around (60, 40), turned by 30 degrees: its right part leaves the image.
        ASSERT_EQ(extractPatchPlanes(inner, &image.image, {60, 40}, {20, 10}, 30, 1, &luma, &chroma),
                  kResultOk);
        int inside = 0, outside = 0;
        for (int k = 0; k < 200; ++k) {
            if (luma[k] == 77) {
                EXPECT_EQ(chroma[k], 201);
                ++inside;
            } else {
                EXPECT_EQ(luma[k], kPatchFill);
                EXPECT_EQ(chroma[k], kPatchFill);
                ++outside;
            }
        }
        EXPECT_GT(inside, 20);
        EXPECT_GT(outside, 20);
        allocatorFree(inner->allocator, luma);
        allocatorFree(inner->allocator, chroma);
    }
    for (PixelFormat format : {kFormatGrey8, PixelFormat(0x30200002)}) {
        OwnedImage image(64, 48, format == kFormatGrey8 ? kFormatGrey8 : kFormatYuv420Planar);
        image.image.format = format;
        uint8_t *luma = nullptr, *chroma = nullptr;
        EXPECT_EQ(extractPatchPlanes(inner, &image.image, {10, 10}, {4, 4}, 0, 1, &luma, &chroma),
                  kResultUnsupported);
        EXPECT_EQ(luma, nullptr);
    }
    OwnedImage image(64, 48, kFormatYuv420Planar);
    uint8_t *luma = nullptr, *chroma = nullptr;
    EXPECT_EQ(extractPatchPlanes(inner, &image.image, {70, 10}, {4, 4}, 0, 1, &luma, &chroma),
              kResultNothingToDo);
    EXPECT_EQ(extractPatchPlanes(inner, &image.image, {10, 10}, {0, 4}, 0, 1, &luma, &chroma),
              kResultNothingToDo);
}

TEST_F(LowerFace, PatchOfATurnedFaceIsTheUprightPatch)
{
    // The mouth of a face turned by 30 degrees, sampled turned by 30 degrees, matches the mouth
    // of the upright face sampled upright.
    OwnedImage upright(kWidth, kHeight, kFormatYuv444Planar), turned(kWidth, kHeight, kFormatYuv444Planar);
    SyntheticFace a, b;
    makeSyntheticFace(&a, 1, 320, 240, 0, kWidth, kHeight);
    makeSyntheticFace(&b, 1, 320, 240, 30, kWidth, kHeight);
    paintSyntheticFaces(upright.image, &a, 1);
    paintSyntheticFaces(turned.image, &b, 1);
    uint8_t *la = nullptr, *ca = nullptr, *lb = nullptr, *cb = nullptr;
    ASSERT_EQ(extractPatchPlanes(inner, &upright.image, a.imagePoint(0, kMouthOffsetY), {90, 40}, 0,
                                 1, &la, &ca), kResultOk);
    ASSERT_EQ(extractPatchPlanes(inner, &turned.image, b.imagePoint(0, kMouthOffsetY), {90, 40}, 30,
                                 1, &lb, &cb), kResultOk);
    int differ = 0;
    for (int k = 0; k < 90 * 40; ++k)
        differ += la[k] != lb[k] || ca[k] != cb[k];
    EXPECT_LT(differ, 90 * 40 / 20);  // only along colour edges
    for (uint8_t *patch : {la, ca, lb, cb})
        allocatorFree(inner->allocator, patch);
}

TEST(LowerFaceFilters, MeanFilterAndColumnResponse)
{
    // A column that steps from 100 to 160 at row 10 of a 1 x 20 patch.
    uint8_t column[20], filtered[20];
    for (int y = 0; y < 20; ++y)
        column[y] = y < 10 ? 100 : 160;
    verticalMeanFilter(column, 1, 20, filtered);
    EXPECT_EQ(filtered[0], kPatchFill);
    EXPECT_EQ(filtered[19], kPatchFill);
    EXPECT_EQ(filtered[9], (100 * 3 + 160 * 2) / 5);
    int32_t response[20];
    columnKernelResponse(column, column, 1, 20, 0, 2, response);
    EXPECT_EQ(response[0], 100 - 128);
    EXPECT_EQ(response[9], 2 * 60);   // rows 10, 11 minus rows 8, 7
    EXPECT_EQ(response[10], 2 * 60);
    EXPECT_EQ(response[5], 0);
    EXPECT_EQ(patchStepForImage(EngineImage{kFormatGrey8, 1000, 700, 0, {}}), 1);
    EXPECT_EQ(patchStepForImage(EngineImage{kFormatGrey8, 4000, 3000, 0, {}}), 4);
}

}  // namespace
