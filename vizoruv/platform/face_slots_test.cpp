#include "vizoruv/platform/face_slots.h"

#include <vector>

#include <gtest/gtest.h>

#include "facesdk/engine/face_records.h"
#include "vizoruv/platform/engine_session.h"
#include "vizoruv/platform/testing/eye_face.h"
#include "vizoruv/platform/testing/platform_fixture.h"

namespace {

using platform_test::faceWithEyes;

class FaceSlots : public platform_test::PlatformFixture {
protected:
    void open() {
        const std::string path = picture("faces.png", wic::Container::Png, 320, 240);
        ASSERT_EQ(platform->OpenImageFile(path.c_str(), nullptr, 1200, nullptr, nullptr, nullptr, nullptr), 0);
    }
    std::vector<VXL_FACE> faces() {
        VXL_FACE* list = nullptr;
        int count = -1;
        EXPECT_EQ(platform->GetFaces(&list, &count), 0);
        return std::vector<VXL_FACE>(list, list + count);
    }
};

TEST_F(FaceSlots, WithoutAnImageEveryFaceSlotFails) {
    VXL_FACE* list = nullptr;
    const EngineFaceRecord* records = nullptr;
    int count = 0;
    const VXL_FACE face = faceWithEyes(1, 100, 100, 140, 100);
    EXPECT_EQ(platform->GetFaces(&list, &count), -1);
    EXPECT_EQ(platform->GetFaceLandmarks(&records, &count), -1);
    EXPECT_EQ(platform->SetFace(&face), -1);
    EXPECT_EQ(platform->SetFaces(&face, 1), -1);
    EXPECT_EQ(platform->ResetFaces(), -1);
}

TEST_F(FaceSlots, AddChangeAndResetTheFaceList) {
    open();
    EXPECT_TRUE(faces().empty()) << "the plain picture has no detectable face";
    const EngineFaceRecord* records = nullptr;
    int regionCount = -1;
    EXPECT_EQ(platform->GetFaceLandmarks(&records, &regionCount), 0);

    const VXL_FACE two[2] = {faceWithEyes(5, 100, 100, 140, 100), faceWithEyes(6, 200, 100, 240, 100)};
    ASSERT_EQ(platform->SetFaces(two, 2), 0);
    const VXL_FACE third = faceWithEyes(9, 140, 160, 180, 160);
    ASSERT_EQ(platform->SetFaces(&third, 1), 0);
    std::vector<VXL_FACE> list = faces();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].id, 1);
    EXPECT_EQ(list[2].id, 3) << "added faces are numbered on from the largest id";
    EXPECT_EQ(list[2].x, 116);
    EXPECT_NE(list[2].points, nullptr) << "fitted again after the edit";
    EXPECT_NE(platform->session()->face.faceAttributes, nullptr) << "analysed again after the edit";

    // Face 2 moves; the others keep their places.
    const VXL_FACE moved = faceWithEyes(2, 60, 60, 100, 60);
    ASSERT_EQ(platform->SetFace(&moved), 0);
    list = faces();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[1].x, 36);
    EXPECT_EQ(list[1].y, 36);
    EXPECT_EQ(list[0].x, 76);
    EXPECT_EQ(list[2].x, 116);

    // Nothing is detected again, and a refit of no faces fails the slot.
    EXPECT_EQ(platform->ResetFaces(), -1);
    EXPECT_TRUE(faces().empty());
    ASSERT_EQ(platform->SetFaces(two, 2), 0) << "the renewed engine takes faces again";
    EXPECT_EQ(faces().size(), 2u);
}

TEST(FaceMeshListTest, StoresACopyAndAnswersOnlyValidRecords) {
    std::vector<float> mesh(size_t(2) * kFaceMeshRecordFloats);
    for (size_t i = 0; i < mesh.size(); ++i)
        mesh[i] = float(i) / 1000.0f;
    FaceMeshList list;
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.record(0), nullptr);
    list.set(2, mesh.data());
    mesh[kFaceMeshRecordFloats] = -1;
    ASSERT_EQ(list.count(), 2);
    EXPECT_FLOAT_EQ(list.record(1)[0], float(kFaceMeshRecordFloats) / 1000.0f) << "a copy, not the caller's";
    EXPECT_FLOAT_EQ(list.record(1)[kFaceMeshRecordFloats - 1], float(mesh.size() - 1) / 1000.0f);
    EXPECT_EQ(list.record(2), nullptr);
    EXPECT_EQ(list.record(-1), nullptr);
    list.set(0, mesh.data());
    EXPECT_EQ(list.count(), 0);
    list.set(3, nullptr);
    EXPECT_EQ(list.count(), 0);
}

TEST_F(FaceSlots, SetFaceMeshForwardsToThePlatformsList) {
    std::vector<float> mesh(kFaceMeshRecordFloats, 0.5f);
    platform->SetFaceMesh(1, mesh.data());
    ASSERT_EQ(platform->faceMesh().count(), 1);
    EXPECT_FLOAT_EQ(platform->faceMesh().record(0)[7], 0.5f);
    platform->SetFaceMesh(0, nullptr);
    EXPECT_EQ(platform->faceMesh().count(), 0);
}

}  // namespace
