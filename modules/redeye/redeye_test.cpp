#include "modules/redeye/redeye.h"

#include "modules/redeye/testing/face_image.h"

#include <gtest/gtest.h>

namespace {

constexpr int32_t kCodes[] = {RE_PIXEL_BGR8,  RE_PIXEL_BGRA8,  RE_PIXEL_RGB8, RE_PIXEL_RGBA8,
                              RE_PIXEL_RGB16, RE_PIXEL_BGR16, RE_PIXEL_RGBA16};

bool contains(const redeye::Box& box, int x, int y) {
    return x >= box.x && x < box.x + box.width && y >= box.y && y < box.y + box.height;
}

TEST(RedEye, FindsBothPupilsAndNothingElseInEveryPixelCode) {
    for (int32_t code : kCodes) {
        FaceImage face(code);
        redeye::Layout layout;
        ASSERT_EQ(redeye::checkImage(&face.record, &layout), RE_OK) << code;
        const std::vector<redeye::Box> boxes = redeye::findRedPupils(&face.record, layout, RE_DETECT_ALL);
        ASSERT_EQ(boxes.size(), 2u) << code;
        EXPECT_TRUE(contains(boxes[0], FaceImage::kLeftEyeX, FaceImage::kEyeY) ||
                    contains(boxes[1], FaceImage::kLeftEyeX, FaceImage::kEyeY));
        EXPECT_TRUE(contains(boxes[0], FaceImage::kRightEyeX, FaceImage::kEyeY) ||
                    contains(boxes[1], FaceImage::kRightEyeX, FaceImage::kEyeY));
        for (const redeye::Box& box : boxes) {
            EXPECT_GE(box.width, 2 * FaceImage::kPupilRadius);  // the eye area is larger than the pupil
            EXPECT_GT(box.confidence, 50);
        }
    }
}

TEST(RedEye, ShapeTestKeepsLinesOutAndRednessPassIsNeeded) {
    FaceImage face(RE_PIXEL_RGB8);
    redeye::Layout layout;
    redeye::checkImage(&face.record, &layout);
    // Without the shape test the thin line counts too.
    EXPECT_EQ(redeye::findRedPupils(&face.record, layout, RE_DETECT_REDNESS | RE_DETECT_ISOLATED).size(), 3u);
    EXPECT_TRUE(redeye::findRedPupils(&face.record, layout, RE_DETECT_SHAPE | RE_DETECT_ISOLATED).empty());
}

TEST(RedEye, CorrectionDarkensPupilsAndLeavesSkinAndIris) {
    FaceImage face(RE_PIXEL_RGBA16);
    redeye::Layout layout;
    redeye::checkImage(&face.record, &layout);
    const redeye::Box area = {FaceImage::kLeftEyeX - 10, FaceImage::kEyeY - 10, 21, 21, 100};
    EXPECT_GT(redeye::correctInBox(&face.record, layout, area), 20);
    // Pupil: red now equals the mean of green and blue.
    EXPECT_NEAR(face.channel(FaceImage::kLeftEyeX, FaceImage::kEyeY, 0), 0.15f, 0.01f);
    EXPECT_NEAR(face.channel(FaceImage::kLeftEyeX, FaceImage::kEyeY, 1), 0.15f, 0.001f);
    // Iris and skin inside the area, and the other eye outside it, stay.
    EXPECT_NEAR(face.channel(FaceImage::kLeftEyeX + 5, FaceImage::kEyeY, 0), 0.3f, 0.001f);
    EXPECT_NEAR(face.channel(FaceImage::kLeftEyeX + 9, FaceImage::kEyeY, 0), 0.85f, 0.001f);
    EXPECT_NEAR(face.channel(FaceImage::kRightEyeX, FaceImage::kEyeY, 0), 0.8f, 0.001f);
}

TEST(RedEye, AreasReachingPastTheEdgeAreClipped) {
    FaceImage face(RE_PIXEL_RGB8);
    redeye::Layout layout;
    redeye::checkImage(&face.record, &layout);
    EXPECT_EQ(redeye::correctInBox(&face.record, layout, {-50, -50, 40, 40, 0}), 0);
    EXPECT_EQ(redeye::correctInBox(&face.record, layout, {190, 140, 1000, 1000, 0}), 0);
}

TEST(RedEye, MalformedRecordsAreRefused) {
    FaceImage face(RE_PIXEL_RGB8);
    redeye::Layout layout;
    struct Case {
        const char* what;
        void (*spoil)(ReImage&);
        int32_t result;
    } const cases[] = {
        {"size field", [](ReImage& r) { r.size = 80; }, RE_ERR_ARGUMENT},
        {"no pixels", [](ReImage& r) { r.pixels = nullptr; }, RE_ERR_ARGUMENT},
        {"zero height", [](ReImage& r) { r.height = 0; }, RE_ERR_ARGUMENT},
        {"short rows", [](ReImage& r) { r.rowBytes = 10; }, RE_ERR_ARGUMENT},
        {"unknown code", [](ReImage& r) { r.format = 4; }, RE_ERR_FORMAT},
        {"odd 16-bit rows", [](ReImage& r) { r.format = RE_PIXEL_RGB16; r.width = 10; r.rowBytes = 61; }, RE_ERR_ARGUMENT},
    };
    for (const Case& c : cases) {
        ReImage record = face.record;
        c.spoil(record);
        EXPECT_EQ(redeye::checkImage(&record, &layout), c.result) << c.what;
    }
    EXPECT_EQ(redeye::checkImage(nullptr, &layout), RE_ERR_ARGUMENT);
}

}  // namespace
