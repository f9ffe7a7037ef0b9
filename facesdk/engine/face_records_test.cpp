#include "facesdk/engine/face_records.h"

#include <gtest/gtest.h>

#include <cstring>

#include "facesdk/base/fixed_scale.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/detect/classifier.h"
#include "facesdk/detect/detector.h"
#include "facesdk/detect/landmark.h"

namespace {

VXL_FACE makeFace(int32_t id, VXL_POINT eye1, VXL_POINT eye2)
{
    VXL_FACE face{};
    face.id = id;
    face.x = 100;
    face.y = 80;
    face.width = 200;
    face.height = 220;
    face.roll = -12;
    face.eye1X = eye1.x;
    face.eye1Y = eye1.y;
    face.eye2X = eye2.x;
    face.eye2Y = eye2.y;
    return face;
}

bool operator==(const EngineRect &a, const EngineRect &b)
{
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

}  // namespace

TEST(FaceRecords, RoundingOfQ10Products)
{
    struct {
        int32_t product, rounded;
    } cases[] = {{1536, 2}, {-1536, -2}, {-1535, -1}, {511, 0}, {512, 1}, {-512, -1}, {0, 0}};
    for (const auto &c : cases)
        EXPECT_EQ(roundQ10(c.product), c.rounded) << c.product;
    EXPECT_EQ(scaleQ10(300, 2048), 600);
    EXPECT_EQ(scaleQ10(3, 512), 2);  // 1.5 rounds away from zero
}

TEST(FaceRecords, EyeBoxes)
{
    const EngineRect untouched{7, 7, 7, 7};
    struct Case {
        VXL_POINT eye1, eye2;
        EngineRect box1, box2;
    } cases[] = {
        {{500, 400}, {540, 400}, {490, 390, 20, 20}, {530, 390, 20, 20}},  // centred squares
        {{0, 400}, {40, 400}, {0, 400, 0, 0}, {40, 400, 0, 0}},            // eye on the left edge
        {{500, 400}, {500, 400}, untouched, untouched},                    // same point
        {{-30, 400}, {40, 400}, {0, 0, 0, 0}, {0, 0, 0, 0}},               // eye outside
        {{990, 10}, {1090, 10}, {980, 0, 20, 20}, {1080, 0, 20, 20}},      // cut by the top edge
    };
    for (const Case &c : cases) {
        EngineRect box1 = untouched, box2 = untouched;
        eyeBoxesFromEyes(c.eye1, c.eye2, 2000, 1000, &box1, &box2);
        SCOPED_TRACE(testing::Message() << c.eye1.x << "," << c.eye1.y);
        EXPECT_TRUE(box1 == c.box1) << box1.x << " " << box1.y << " " << box1.width;
        EXPECT_TRUE(box2 == c.box2) << box2.x << " " << box2.y << " " << box2.width;
    }
}

TEST(FaceRecords, ToFaceWorkAndScaling)
{
    VXL_POINT points[253] = {};
    VXL_FACE face = makeFace(9, {150, 150}, {230, 150});
    face.points = points;
    face.pointCount = 250;
    points[250] = {5, 4};  // {extra value 1, class value}
    FaceWork work;
    std::memset(&work, 0x55, sizeof work);
    toFaceWork(face, &work, 1000, 800);
    EXPECT_EQ(work.size, 104u);
    EXPECT_EQ(work.id, 9);
    EXPECT_TRUE(work.box == (EngineRect{100, 80, 200, 220}));
    EXPECT_EQ(work.roll, -12);
    EXPECT_EQ(work.turnClass, 0);
    EXPECT_TRUE(work.eye1Box == (EngineRect{130, 130, 40, 40}));
    EXPECT_TRUE(work.eye2Box == (EngineRect{210, 130, 40, 40}));
    EXPECT_TRUE(work.mouthBox == (EngineRect{0, 0, 0, 0}));
    EXPECT_EQ(work.points, points);
    EXPECT_EQ(work.extraValue1, 5);
    EXPECT_EQ(work.extraValue2, 4);
    EXPECT_EQ(work.reserved, 0);

    // A point count past the buffer's slots is not read through.
    face.pointCount = 4000;
    toFaceWork(face, &work, 1000, 800);
    EXPECT_EQ(work.extraValue2, 0);
    face.pointCount = 250;
    toFaceWork(face, &work, 1000, 800);

    work.mouthBox = {11, 13, 17, 19};
    FaceWork same{}, doubled{}, halved{};
    scaleFaceRecord(work, &same, 1024, 1024);
    same.extraValue1 = work.extraValue1;
    same.reserved = work.reserved;
    EXPECT_EQ(std::memcmp(&same, &work, sizeof work), 0);
    scaleFaceRecord(work, &doubled, 2048, 1024);
    EXPECT_TRUE(doubled.box == (EngineRect{200, 80, 400, 220}));
    EXPECT_TRUE(doubled.mouthBox == (EngineRect{22, 13, 34, 19}));
    scaleFaceRecord(work, &halved, 512, 512);
    EXPECT_TRUE(halved.mouthBox == (EngineRect{6, 7, 9, 10}));  // halves round away from zero
    EXPECT_EQ(halved.extraValue2, 4);
    EXPECT_EQ(halved.extraValue1, 0);
}

TEST(FaceRecords, LowerFacePointFollowsTheRoll)
{
    const EngineRect face{100, 100, 200, 200};
    const EngineRect eye1{140, 150, 21, 21}, eye2{220, 150, 21, 21};  // centres (150,160), (230,160)
    struct {
        int32_t angle;
        VXL_POINT point;
    } cases[] = {
        {0, {190, 160 + 89}},  {89, {190, 249}},   {90, {190, 160 - 89}}, {180, {190, 71}},
        {-1, {190, 249}},      {-90, {190, 249}},  {-91, {190, 71}},      {-180, {190, 71}},
        {181, {0, 0}},         {-181, {0, 0}},
    };
    for (const auto &c : cases) {
        VXL_POINT point{-1, -1}, size{-1, -1};
        lowerFacePointFromEyes(face, eye1, eye2, c.angle, &point, &size);
        EXPECT_EQ(point.x, c.point.x) << c.angle;
        EXPECT_EQ(point.y, c.point.y) << c.angle;
        EXPECT_EQ(size.x, 88);  // 80 x 11 / 10
        EXPECT_EQ(size.y, 56);  // 80 x 70 / 100
    }
    VXL_POINT point{-1, -1}, size{-1, -1};
    lowerFacePointFromEyes(face, EngineRect{140, 150, 0, 21}, eye2, 0, &point, &size);
    EXPECT_EQ(point.x, -1);
    EXPECT_EQ(size.x, -1);
}

TEST(FaceRecords, EyesInsideImage)
{
    EXPECT_EQ(eyesInsideImage({10, 10}, {20, 10}, 100, 100), 1);
    EXPECT_EQ(eyesInsideImage({10, 10}, {10, 10}, 100, 100), 0);
    EXPECT_EQ(eyesInsideImage({10, 10}, {100, 10}, 100, 100), 0);
    EXPECT_EQ(eyesInsideImage({-1, 10}, {20, 10}, 100, 100), 0);
    EXPECT_EQ(eyesInsideImage({10, 10}, {20, 99}, 100, 100), 1);
}

TEST(FaceRecords, BuffersAreMadeOnceAndFreedWhateverFails)
{
    for (int failAt = 0; failAt <= 2; ++failAt) {
        CountingAllocator counter;
        counter.failAt = failAt;
        VXL_FACE face = makeFace(1, {150, 150}, {230, 150});
        const int result = ensureFaceBuffers(counter.allocator(), &face);
        EXPECT_EQ(result, failAt == 0 ? kResultOk : kResultNoMemory);
        if (failAt == 0) {
            EXPECT_EQ(face.pointCount, 250);
            EXPECT_EQ(reinterpret_cast<uint8_t *>(face.points)[2011], 0);
            EXPECT_EQ(face.savedPoints[1999], 0);
            VXL_POINT *points = face.points;
            face.pointCount = 62;
            EXPECT_EQ(ensureFaceBuffers(counter.allocator(), &face), kResultOk);
            EXPECT_EQ(face.points, points);
            EXPECT_EQ(face.pointCount, 62);  // an existing buffer keeps its count
        }
        freeFaceBuffers(counter.allocator(), &face);
        EXPECT_EQ(face.points, nullptr);
        EXPECT_EQ(face.savedPoints, nullptr);
        EXPECT_EQ(face.pointCount, 0);
        EXPECT_EQ(counter.liveBlocks(), 0u);
    }
    EXPECT_EQ(ensureFaceBuffers(defaultAllocator(), nullptr), kResultBadArgument);
    freeFaceBuffers(defaultAllocator(), nullptr);
}

TEST(FaceRecords, SavedPointGroupsCopyOnlyTheirBytes)
{
    CountingAllocator counter;
    VXL_FACE faces[2] = {makeFace(1, {150, 150}, {230, 150}), makeFace(2, {150, 150}, {230, 150})};
    EXPECT_EQ(savePointGroups(faces, 2), kResultNothingToDo);
    EXPECT_EQ(restorePointGroups(nullptr, 2), kResultNothingToDo);
    ASSERT_EQ(ensureFaceBuffers(counter.allocator(), &faces[1]), kResultOk);
    for (int i = 0; i < 250; ++i)
        faces[1].points[i] = {i, -i};
    ASSERT_EQ(savePointGroups(faces, 2), kResultOk);
    const auto *saved = reinterpret_cast<const VXL_POINT *>(faces[1].savedPoints);
    for (int i = 0; i < 250; ++i) {
        const bool inGroup = (i >= 12 && i <= 23) || (i >= 32 && i <= 43) || (i >= 62 && i <= 67);
        EXPECT_EQ(saved[i].x, inGroup ? i : 0) << i;
    }
    for (int i = 0; i < 250; ++i)
        faces[1].points[i] = {0, 0};
    ASSERT_EQ(restorePointGroups(faces, 2), kResultOk);
    EXPECT_EQ(faces[1].points[12].x, 12);
    EXPECT_EQ(faces[1].points[67].y, -67);
    EXPECT_EQ(faces[1].points[44].x, 0);
    freeFaceBuffers(counter.allocator(), &faces[1]);
}

TEST(FaceRecords, DetectedFaceScalesToTheImage)
{
    DetectedFacePublic detected{};
    detected.box[0] = 10;
    detected.box[1] = 20;
    detected.box[2] = 51;
    detected.box[3] = 60;
    detected.roll = -30;
    detected.faceScore = 77;
    detected.view = 45;
    const int32_t eye1[4] = {20, 30, 9, 9}, eye2[4] = {40, 30, 9, 9}, lower[4] = {0, 0, 0, 0};
    std::memcpy(detected.firstEyeBox, eye1, sizeof eye1);
    std::memcpy(detected.secondEyeBox, eye2, sizeof eye2);
    std::memcpy(detected.lowerFaceBox, lower, sizeof lower);
    VXL_FACE face;
    std::memset(&face, 0x5a, sizeof face);
    detectedFaceToFace(detected, &face, 2048 + 512);  // factor 2.5
    EXPECT_EQ(face.x, 25);
    EXPECT_EQ(face.y, 50);
    EXPECT_EQ(face.width, 128);  // 127.5 rounds away from zero
    EXPECT_EQ(face.height, 150);
    EXPECT_EQ(face.roll, -30);
    EXPECT_EQ(face.score, 45);
    EXPECT_EQ(face.detectorValue, 77);
    EXPECT_EQ(face.eye1X, 60);  // (20 + 4) x 2.5
    EXPECT_EQ(face.eye1Y, 85);
    EXPECT_EQ(face.eye2X, 110);
    EXPECT_EQ(face.lowerX, 0);
    EXPECT_EQ(face.id, 0);
    EXPECT_EQ(face.points, nullptr);
    EXPECT_EQ(face.savedPoints, nullptr);
}

TEST(FaceRecords, ClassifierAndLandmarkFacesScaleToTheirImage)
{
    VXL_FACE face = makeFace(5, {150, 140}, {251, 141});
    face.lowerX = 201;
    face.lowerY = 260;
    face.score = 17;
    const int32_t half = 512;  // the libraries' copy is half the size; x.5 rounds away from zero

    ClassifierFace classifierFace;
    std::memset(&classifierFace, 0x5a, sizeof classifierFace);
    toClassifierFace(face, &classifierFace, half);
    EXPECT_EQ(classifierFace.size, 64u);
    EXPECT_EQ(classifierFace.x, 50);
    EXPECT_EQ(classifierFace.height, 110);
    EXPECT_EQ(classifierFace.eye1X, 75);
    EXPECT_EQ(classifierFace.eye2X, 126);
    EXPECT_EQ(classifierFace.eye2Y, 71);
    EXPECT_EQ(classifierFace.id, 5);
    EXPECT_EQ(classifierFace.roll, -12);
    EXPECT_EQ(classifierFace.points, nullptr);
    EXPECT_EQ(classifierFace.pointCount, 0u);

    LandmarkFace landmarkFace;
    std::memset(&landmarkFace, 0x5a, sizeof landmarkFace);
    toLandmarkFace(face, &landmarkFace, half);
    EXPECT_EQ(landmarkFace.size, 60u);
    EXPECT_EQ(landmarkFace.width, 100);
    EXPECT_EQ(landmarkFace.roll, 0);
    EXPECT_EQ(landmarkFace.eye1Y, 70);
    EXPECT_EQ(landmarkFace.eye2X, 126);
    EXPECT_EQ(landmarkFace.id, 5);
    EXPECT_EQ(landmarkFace.mouthX, 101);
    EXPECT_EQ(landmarkFace.mouthY, 130);
    EXPECT_EQ(landmarkFace.hintA, 17);
    EXPECT_EQ(landmarkFace.hintB, 0);
}
