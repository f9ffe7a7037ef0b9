#include "modules/redeye/redeye_exports.h"

#include "modules/redeye/testing/face_image.h"

#include <gtest/gtest.h>

namespace {

class RegionList : public ::testing::Test {
protected:
    void SetUp() override { reListInit(&list); }
    void TearDown() override { ReListEmpty(&list); }
    std::vector<ReRegion> regions() const {
        std::vector<ReRegion> all;
        for (const ReRegion* r = ReListNext(&list, nullptr); r; r = ReListNext(&list, r))
            all.push_back(*r);
        return all;
    }
    ReListLink list;
};

TEST_F(RegionList, InsertKeepsOrderAndEmptyLeavesAnEmptyHead) {
    EXPECT_EQ(ReListNext(&list, nullptr), nullptr);
    for (int i = 0; i < 3; ++i) {
        ReRegion region = {};
        region.x = i;
        ASSERT_EQ(ReListInsert(&list, &region), RE_OK);
    }
    const std::vector<ReRegion> all = regions();
    ASSERT_EQ(all.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(all[i].x, i);
    ReListEmpty(&list);
    EXPECT_EQ(list.next, &list);
    EXPECT_EQ(list.prev, &list);
    EXPECT_EQ(ReListInsert(&list, nullptr), RE_ERR_ARGUMENT);
    EXPECT_EQ(ReListInsert(nullptr, nullptr), RE_ERR_ARGUMENT);
}

TEST_F(RegionList, DetectionOnThePreviewAnswersAreasAtTheTargetSize) {
    FaceImage preview(RE_PIXEL_RGB8);
    FaceImage full(RE_PIXEL_RGB8, 800, 600);
    preview.record.targetWidth = 800;
    preview.record.targetHeight = 600;
    const ReRequest request = {16, 0, &full.record};
    ASSERT_EQ(ReDetectAutoEx(&preview.record, &request, nullptr, nullptr, nullptr, RE_DETECT_ALL, &list), RE_OK);
    const std::vector<ReRegion> found = regions();
    ASSERT_EQ(found.size(), 2u);
    for (const ReRegion& region : found) {
        const int cx = region.x + region.width / 2, cy = region.y + region.height / 2;
        EXPECT_NEAR(cy, FaceImage::kEyeY * 4, 4);
        EXPECT_TRUE(std::abs(cx - FaceImage::kLeftEyeX * 4) <= 4 || std::abs(cx - FaceImage::kRightEyeX * 4) <= 4);
        EXPECT_GE(region.width, 8 * FaceImage::kPupilRadius);
    }

    // The full-size areas correct the full-size picture.
    ASSERT_EQ(ReCorrectRegions(&full.record, &list, nullptr, nullptr, nullptr), RE_OK);
    for (int eye : {FaceImage::kLeftEyeX, FaceImage::kRightEyeX})
        EXPECT_LT(full.channel(eye * 4, FaceImage::kEyeY * 4, 0), 0.2f);
    EXPECT_NEAR(full.channel(400, 460, 0), 0.8f, 0.001f);  // the lips stay red
}

TEST_F(RegionList, NothingFoundAndBadArguments) {
    FaceImage face(RE_PIXEL_BGR8);
    EXPECT_EQ(ReDetectAutoEx(&face.record, nullptr, nullptr, nullptr, nullptr, 0, &list), RE_NONE_FOUND);
    EXPECT_TRUE(regions().empty());
    const ReRequest wrongSize = {24, 0, nullptr};
    EXPECT_EQ(ReDetectAutoEx(&face.record, &wrongSize, nullptr, nullptr, nullptr, RE_DETECT_ALL, &list),
              RE_ERR_ARGUMENT);
    ReListLink unset = {};
    EXPECT_EQ(ReDetectAutoEx(&face.record, nullptr, nullptr, nullptr, nullptr, RE_DETECT_ALL, &unset),
              RE_ERR_ARGUMENT);
    EXPECT_EQ(ReCorrectRegions(&face.record, &unset, nullptr, nullptr, nullptr), RE_ERR_ARGUMENT);
    EXPECT_EQ(ReCorrectRegions(&face.record, &list, nullptr, nullptr, nullptr), RE_OK);  // empty list
}

TEST(RedEyeAuto, DetectsAndCorrectsInOneCall) {
    FaceImage face(RE_PIXEL_BGRA8);
    ASSERT_EQ(ReCorrectAuto(&face.record, RE_DETECT_ALL), RE_OK);
    EXPECT_LT(face.channel(FaceImage::kLeftEyeX, FaceImage::kEyeY, 0), 0.2f);
    EXPECT_LT(face.channel(FaceImage::kRightEyeX, FaceImage::kEyeY, 0), 0.2f);
    EXPECT_EQ(ReCorrectAuto(&face.record, RE_DETECT_ALL), RE_NONE_FOUND);  // nothing red is left
}

}  // namespace
