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
        const std::vector<redeye::Box> boxes = redeye::findRedPupils(&face.record, layout, RE_DETECT_ALL, {});
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

// Without a detected face, red blobs count only as the picture's lone pair, alike, level, amid skin,
// each darker than the skin, and only when they are pure red: each case spoils one of these and
// finds nothing.
TEST(RedEye, WithoutAFaceOnlyAPairOfPupilsAmidSkinCounts) {
    struct Case {
        const char* what;
        void (*spoil)(FaceImage&);
        uint32_t flags;
        size_t found;
    } const cases[] = {
        {"the portrait", [](FaceImage&) {}, RE_DETECT_ALL, 2},
        {"no redness pass", [](FaceImage&) {}, RE_DETECT_SHAPE | RE_DETECT_ISOLATED, 0},
        {"one red eye", [](FaceImage& f) { f.paintDisc(FaceImage::kRightEyeX, FaceImage::kEyeY, 4, 0.1f, 0.1f, 0.1f); },
         RE_DETECT_ALL, 0},
        {"brown pupils (hue towards orange)",
         [](FaceImage& f) {
             for (int x : {FaceImage::kLeftEyeX, FaceImage::kRightEyeX})
                 f.paintDisc(x, FaceImage::kEyeY, 4, 0.6f, 0.25f, 0.1f);
         },
         RE_DETECT_ALL, 0},
        {"one pupil well under half the other",
         [](FaceImage& f) {
             f.paintDisc(FaceImage::kLeftEyeX, FaceImage::kEyeY, FaceImage::kPupilRadius, 0.3f, 0.2f, 0.15f);
             f.paintDisc(FaceImage::kLeftEyeX, FaceImage::kEyeY, 1.6, 0.8f, 0.15f, 0.15f);
         },
         RE_DETECT_ALL, 0},
        {"pupils on a blue wall",
         [](FaceImage& f) {
             for (int y = 0; y < f.record.height; ++y)
                 for (int x = 0; x < f.record.width; ++x) {
                     const float blue[3] = {0.2f, 0.3f, 0.8f};
                     if (std::hypot(x - FaceImage::kLeftEyeX, y - FaceImage::kEyeY) >= FaceImage::kIrisRadius &&
                         std::hypot(x - FaceImage::kRightEyeX, y - FaceImage::kEyeY) >= FaceImage::kIrisRadius)
                         f.write(x, y, blue);
                 }
         },
         RE_DETECT_ALL, 0},
        {"a third red pupil",
         [](FaceImage& f) { f.paintDisc(100, 40, FaceImage::kPupilRadius, 0.8f, 0.15f, 0.15f); }, RE_DETECT_ALL, 0},
        {"red spots with no iris around them",
         [](FaceImage& f) {
             for (int x : {FaceImage::kLeftEyeX, FaceImage::kRightEyeX}) {
                 f.paintDisc(x, FaceImage::kEyeY, FaceImage::kIrisRadius, 0.85f, 0.65f, 0.55f);
                 f.paintDisc(x, FaceImage::kEyeY, FaceImage::kPupilRadius, 0.8f, 0.15f, 0.15f);
             }
         },
         RE_DETECT_ALL, 0},
        {"red lights brighter than the skin",
         [](FaceImage& f) {
             for (int x : {FaceImage::kLeftEyeX, FaceImage::kRightEyeX})
                 f.paintDisc(x, FaceImage::kEyeY, 4, 1.0f, 0.4f, 0.4f);
         },
         RE_DETECT_ALL, 0},
    };
    for (const Case& c : cases) {
        FaceImage face(RE_PIXEL_RGB8);
        c.spoil(face);
        const std::vector<redeye::Box> boxes = redeye::findRedPupils(&face.record, face.layout, c.flags, {});
        EXPECT_EQ(boxes.size(), c.found) << c.what;
    }
}

// With faces found, red blobs count only as the two pupils of one face: in its eye band, one on
// either side, level in the face's frame.
TEST(RedEye, WithFacesOnlyTheirTwoPupilsCount) {
    FaceImage face(RE_PIXEL_RGB8);
    const double across = FaceImage::kRightEyeX - FaceImage::kLeftEyeX;
    const double centreX = (FaceImage::kLeftEyeX + FaceImage::kRightEyeX) * 0.5;
    const double side = across / 0.5;  // the eyes a quarter side either side of the centre
    const double centreY = FaceImage::kEyeY + 0.17 * side;
    const double quarter = std::sqrt(0.5);
    struct Case {
        const char* what;
        redeye::FaceZone zone;
        size_t found;
    } const cases[] = {
        {"upright face", {centreX, centreY, side, 1.0, 0.0}, 2},
        {"face turned a quarter", {centreX + 0.17 * side, FaceImage::kEyeY, side, 0.0, -1.0}, 0},
        {"face too low: the pupils are on its brow", {centreX, centreY + 0.3 * side, side, 1.0, 0.0}, 0},
        {"face too small for such pupils", {centreX, FaceImage::kEyeY + 0.17 * 40, 40, 1.0, 0.0}, 0},
        {"face rolled 45 degrees", {centreX, centreY, side, quarter, quarter}, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(redeye::findRedPupils(&face.record, face.layout, RE_DETECT_ALL, {c.zone}).size(), c.found) << c.what;

    // The lips and the line are never taken, whatever face is said to be there.
    const redeye::FaceZone onLips = {100, 117 + 0.17 * 120, 120, 1.0, 0.0};
    EXPECT_TRUE(redeye::findRedPupils(&face.record, face.layout, RE_DETECT_ALL, {onLips}).empty());
}

TEST(RedEye, CorrectionDarkensPupilsAndLeavesSkinAndIris) {
    FaceImage face(RE_PIXEL_RGBA16);
    redeye::Layout layout;
    redeye::checkImage(&face.record, &layout);
    // A reddish shadow in the area's corner, apart from the pupil, is not the pupil.
    face.paintDisc(FaceImage::kLeftEyeX + 8, FaceImage::kEyeY + 8, 1.5, 0.6f, 0.28f, 0.25f);
    const redeye::Box area = {FaceImage::kLeftEyeX - 10, FaceImage::kEyeY - 10, 21, 21, 100};
    EXPECT_GT(redeye::correctInBox(&face.record, layout, area), 20);
    EXPECT_NEAR(face.channel(FaceImage::kLeftEyeX + 8, FaceImage::kEyeY + 8, 0), 0.6f, 0.001f);
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
