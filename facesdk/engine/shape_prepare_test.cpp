#include "facesdk/engine/shape_prepare.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/eye_parts.h"
#include "facesdk/engine/feature_status.h"
#include "facesdk/engine/testing/owned_image.h"
#include "facesdk/engine/testing/shape_engine.h"
#include "facesdk/engine/testing/synthetic_face.h"
#include "facesdk/engine/warp_anchor.h"

namespace {

constexpr int32_t kWidth = 640, kHeight = 480;

// Every stage bit: fitting builds all parts, and every one of them succeeds on the synthetic face
// (the refinement only on faces close to upright).
constexpr uint32_t kAllParts = 0x1ffff;
constexpr uint32_t kRefinedBit = kFeatureTemplateOverlay;

struct FitCase {
    double roll;
    bool refined;  // mirror refinement succeeds (only for faces near upright or on their side)
};

using ShapeFit = ShapeEngineFixture;

// A face-frame position of an image point, relative to the face centre.
void faceFrame(const SyntheticFace &face, VXL_POINT p, double *u, double *v)
{
    face.toFace(p.x, p.y, u, v);
}

TEST_F(ShapeFit, FittingBuildsEveryPartOfUprightAndTurnedFaces)
{
    const FitCase cases[] = {{0, true}, {10, true}, {-20, false}, {30, false}, {90, true}};
    for (const FitCase &c : cases) {
        SCOPED_TRACE(c.roll);
        innerFreeFaceData(inner);
        inner = makeInnerEngine(counter, BeautySettings{});
        OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
        SyntheticFace face;
        makeSyntheticFace(&face, 7, 320, 240, c.roll, kWidth, kHeight);
        paintSyntheticFaces(image.image, &face, 1);

        ASSERT_EQ(innerFitFaces(inner, &image.image, &face.work, 1, nullptr), kResultOk);
        const FaceShapeRecord *record = findShapeRecord(inner, 7);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->preparedMask, c.refined ? kAllParts : kAllParts & ~kRefinedBit);
        EXPECT_EQ(record->curvesReady, 1);
        EXPECT_LT(record->curveFirstColumn, record->curveLastColumn);
        EXPECT_EQ(record->eyePartFaceWidth, 200);
        EXPECT_EQ(record->refinedEyeBuilt, 1);
        EXPECT_EQ(record->refinedEyeReady, c.refined ? 1 : 0);
        EXPECT_EQ(record->warpReady, 1);
        int32_t eyeRectsBuilt = 0;
        std::memcpy(&eyeRectsBuilt, record->eyeRectPart, 4);
        EXPECT_EQ(eyeRectsBuilt, 1);

        // The irises sit where they were painted, the lids on either side of them.
        ASSERT_EQ(record->eyePartReady, 1);
        const EyePart part = readEyePart(record->eyePart);
        const double side[2] = {-kEyeOffsetX, kEyeOffsetX};
        for (int k = 0; k < 2; ++k) {
            const EyeBlock &eye = part.eyes[k];
            const VXL_POINT truth = face.imagePoint(side[k], kEyeOffsetY);
            EXPECT_NEAR(eye.irisX + face.work.box.x, truth.x, 2);
            EXPECT_NEAR(eye.irisY + face.work.box.y, truth.y, 2);
            EXPECT_NEAR(eye.irisRadius, kIrisRadius, 2);
            // Lids are rows, or columns for a face on its side (stored like rows).
            const int32_t across = c.roll == 90 ? truth.x : truth.y;
            const int32_t upper = eye.upperLid + face.work.box.y, lower = eye.lowerLid + face.work.box.y;
            EXPECT_GT(std::abs(upper - lower), 10);
            EXPECT_LE(std::abs(upper - across), 14);
            EXPECT_LE(std::abs(lower - across), 14);
        }

        // Points 62..64 on the upper edge of the gap between the lips, 65..67 on its lower edge,
        // at the columns of their landmark pairs.
        const double pairColumn[3] = {-30, 0, 30};
        for (int k = 0; k < 3; ++k) {
            double u = 0, v = 0;
            faceFrame(face, face.points[62 + k], &u, &v);
            // The pair's mean image column: off the face-frame column on turned faces.
            EXPECT_NEAR(u, pairColumn[k], 5) << 62 + k;
            EXPECT_NEAR(v - kMouthOffsetY, -3, 3) << 62 + k;
            faceFrame(face, face.points[65 + k], &u, &v);
            EXPECT_NEAR(u, pairColumn[k], 5) << 65 + k;
            EXPECT_NEAR(v - kMouthOffsetY, 3, 3) << 65 + k;
        }
    }
}

TEST_F(ShapeFit, CrFirstImageLeavesWithItsOwnBytesAndTheSameRecord)
{
    OwnedImage cbFirst(kWidth, kHeight, kFormatYuv420SemiPlanar);
    OwnedImage crFirst(kWidth, kHeight, kFormatYuv420SemiPlanarCrFirst);
    OwnedImage original(kWidth, kHeight, kFormatYuv420SemiPlanarCrFirst);
    SyntheticFace faces[2];
    for (SyntheticFace &face : faces)
        makeSyntheticFace(&face, 3, 320, 240, 10, kWidth, kHeight);
    paintSyntheticFaces(cbFirst.image, faces, 1);
    paintSyntheticFaces(crFirst.image, faces, 1);
    original.copyPixelsFrom(crFirst);

    ASSERT_EQ(innerFitFaces(inner, &crFirst.image, &faces[0].work, 1, nullptr), kResultOk);
    EXPECT_EQ(crFirst.image.format, kFormatYuv420SemiPlanarCrFirst);
    EXPECT_TRUE(crFirst.samePixels(original));
    const FaceShapeRecord fromCrFirst = *findShapeRecord(inner, 3);

    CountingAllocator other;
    InnerEngine *second = makeInnerEngine(other, BeautySettings{});
    ASSERT_EQ(innerFitFaces(second, &cbFirst.image, &faces[1].work, 1, nullptr), kResultOk);
    const FaceShapeRecord *fromCbFirst = findShapeRecord(second, 3);
    EXPECT_EQ(std::memcmp(fromCrFirst.eyePart, fromCbFirst->eyePart, 92 + 8), 0);
    EXPECT_EQ(fromCrFirst.preparedMask, fromCbFirst->preparedMask);
    EXPECT_EQ(std::memcmp(faces[0].points, faces[1].points, sizeof faces[0].points), 0);
    innerFreeFaceData(second);
    EXPECT_EQ(other.liveBlocks(), 0u);
}

TEST_F(ShapeFit, SecondFitReusesTheRecordAndRebuildsNothingReady)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420Planar);
    SyntheticFace face;
    makeSyntheticFace(&face, 5, 320, 240, 0, kWidth, kHeight);
    paintSyntheticFaces(image.image, &face, 1);
    ASSERT_EQ(innerFitFaces(inner, &image.image, &face.work, 1, nullptr), kResultOk);
    const FaceShapeRecord first = *findShapeRecord(inner, 5);
    const uint32_t capacity = inner->shapeRecordCount;

    ASSERT_EQ(innerFitFaces(inner, &image.image, &face.work, 1, nullptr), kResultOk);
    const FaceShapeRecord *again = findShapeRecord(inner, 5);
    EXPECT_EQ(inner->shapeRecordCount, capacity);
    EXPECT_EQ(again->lowerCurveDark, first.lowerCurveDark);  // curves were ready: not rebuilt
    EXPECT_EQ(std::memcmp(again, &first, sizeof first), 0);
    int records = 0;
    for (uint32_t i = 0; i < inner->shapeRecordCount; ++i)
        records += inner->shapeRecords[i].faceId == 5;
    EXPECT_EQ(records, 1);
}

TEST_F(ShapeFit, FaceWithoutEyeBoxesGetsOnlyTheEyeFreeBits)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
    SyntheticFace face;
    makeSyntheticFace(&face, 2, 320, 240, 0, kWidth, kHeight);
    paintSyntheticFaces(image.image, &face, 1);
    face.work.eye1Box = face.work.eye2Box = EngineRect{};
    // The parts without anything to build succeed, so the fit does.
    EXPECT_EQ(innerFitFaces(inner, &image.image, &face.work, 1, nullptr), kResultOk);
    const FaceShapeRecord *record = findShapeRecord(inner, 2);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->preparedMask, uint32_t(kFeatureSmoothing | kFeatureSkinTone | kFeatureSkinSoftening));
    EXPECT_EQ(record->curvesReady, 0);
    EXPECT_EQ(record->eyePartReady, 0);
    EXPECT_EQ(record->eyePartFaceWidth, 200);
    EXPECT_EQ(record->warpReady, 0);
}

TEST_F(ShapeFit, UnusableArgumentsAreRefused)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
    SyntheticFace a, b, c;
    makeSyntheticFace(&a, 1, 200, 200, 0, kWidth, kHeight);
    makeSyntheticFace(&b, 2, 440, 240, 0, kWidth, kHeight);
    makeSyntheticFace(&c, 3, 440, 240, 0, kWidth, kHeight);
    const auto fit = [&](std::vector<int32_t> ids, EngineRect lastBox = {}) {
        std::vector<FaceWork> faces;
        const SyntheticFace *source[] = {&a, &b, &c};
        for (size_t k = 0; k < ids.size(); ++k) {
            faces.push_back(source[k]->work);
            faces.back().id = ids[k];
        }
        if (lastBox.width)
            faces.back().box = lastBox;
        return innerFitFaces(inner, &image.image, faces.data(), int32_t(faces.size()), nullptr);
    };
    EXPECT_EQ(fit({1, 1}), kResultBadArgument);
    EXPECT_EQ(fit({0, 0, 3}), kResultBadArgument);
    EXPECT_EQ(fit({1, 2}, {500, 300, 200, 200}), kResultBadArgument);  // past the image
    EXPECT_EQ(innerFitFaces(inner, &image.image, &a.work, 0, nullptr), kResultBadArgument);
    EXPECT_EQ(innerFitFaces(inner, nullptr, &a.work, 1, nullptr), kResultBadArgument);
    EXPECT_EQ(innerFitFaces(nullptr, &image.image, &a.work, 1, nullptr), kResultBadArgument);
    EXPECT_EQ(innerFitFaces(inner, &image.image, nullptr, 1, nullptr), kResultBadArgument);
    OwnedImage grey(kWidth, kHeight, kFormatGrey8);
    EXPECT_EQ(innerFitFaces(inner, &grey.image, &a.work, 1, nullptr), kResultUnsupported);
    EXPECT_EQ(inner->shapeRecords, nullptr);
    // Faces all numbered 0 share the first record with id 0.
    EXPECT_TRUE(resultIsSuccess(fit({0, 0})));
    EXPECT_NE(findShapeRecord(inner, 0), nullptr);
}

TEST_F(ShapeFit, OrderListsFacesWithEyesFirstThenLargerBoxes)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
    SyntheticFace small, largeNoEyes, large;
    makeSyntheticFace(&small, 1, 110, 110, 0, kWidth, kHeight);
    makeSyntheticFace(&largeNoEyes, 2, 330, 240, 0, kWidth, kHeight);
    makeSyntheticFace(&large, 3, 530, 240, 0, kWidth, kHeight);
    small.work.box = {60, 60, 100, 100};
    largeNoEyes.work.eye1Box = largeNoEyes.work.eye2Box = EngineRect{};
    large.work.box = {420, 130, 210, 210};
    FaceWork faces[] = {small.work, largeNoEyes.work, large.work};
    faces[0].eye1Box = {70, 80, 20, 20};
    faces[0].eye2Box = {120, 80, 20, 20};
    int32_t order[3] = {};
    EXPECT_TRUE(resultIsSuccess(innerFitFaces(inner, &image.image, faces, 3, order)));
    EXPECT_EQ(std::vector<int32_t>(order, order + 3), (std::vector<int32_t>{3, 1, 2}));
    EXPECT_EQ(compareFaceRank(faces, 3, 1, 2), 1);
    EXPECT_EQ(compareFaceRank(faces, 3, 3, 3), 0);
}

TEST_F(ShapeFit, EveryFailingAllocationLeavesNothingBehind)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanarCrFirst);
    OwnedImage original(kWidth, kHeight, kFormatYuv420SemiPlanarCrFirst);
    SyntheticFace faces[2];
    makeSyntheticFace(&faces[0], 1, 180, 200, 0, kWidth, kHeight);
    makeSyntheticFace(&faces[1], 2, 450, 260, 15, kWidth, kHeight);
    paintSyntheticFaces(image.image, faces, 2);
    original.copyPixelsFrom(image);
    bool succeeded = false;
    for (int n = 1; !succeeded && n < 5000; ++n) {
        SCOPED_TRACE(n);
        CountingAllocator local;
        InnerEngine *engine = makeInnerEngine(local, BeautySettings{});
        SyntheticFace copies[2] = {faces[0], faces[1]};
        FaceWork work[2] = {copies[0].work, copies[1].work};
        work[0].points = copies[0].points;
        work[1].points = copies[1].points;
        local.failAt = local.allocations + n;
        const int result = innerFitFaces(engine, &image.image, work, 2, nullptr);
        EXPECT_TRUE(result == kResultOk || result == kResultNoMemory || result == kResultNothingToDo)
            << result;
        succeeded = local.failAt > local.allocations;
        if (succeeded) {
            EXPECT_EQ(result, kResultOk);
        }
        EXPECT_TRUE(image.samePixels(original));
        EXPECT_EQ(image.image.format, kFormatYuv420SemiPlanarCrFirst);
        innerFreeFaceData(engine);
        EXPECT_EQ(local.liveBlocks(), 0u);
        EXPECT_EQ(local.badFrees, 0);
    }
    EXPECT_TRUE(succeeded);
}

TEST_F(ShapeFit, StoreGrowsKeepsRecordsAndFreesAtZero)
{
    ASSERT_EQ(growShapeRecords(inner, 2), kResultOk);
    FaceShapeRecord *free = takeFreeShapeRecord(inner);
    ASSERT_EQ(free, &inner->shapeRecords[0]);
    free->faceId = 9;
    EXPECT_EQ(takeFreeShapeRecord(inner), &inner->shapeRecords[1]);
    ASSERT_EQ(growShapeRecords(inner, 4), kResultOk);
    EXPECT_EQ(inner->shapeRecordCount, 4u);
    EXPECT_NE(findShapeRecord(inner, 9), nullptr);

    counter.failAt = counter.allocations + 1;
    EXPECT_EQ(growShapeRecords(inner, 8), kResultNoMemory);
    counter.failAt = 0;
    EXPECT_EQ(inner->shapeRecordCount, 4u);
    EXPECT_NE(findShapeRecord(inner, 9), nullptr);

    ASSERT_EQ(growShapeRecords(inner, 0), kResultOk);
    EXPECT_EQ(inner->shapeRecords, nullptr);
    EXPECT_EQ(takeFreeShapeRecord(inner), nullptr);
}

// ---- Landmark check -------------------------------------------------------------------------

struct LandmarkCase {
    const char *name;
    void (*spoil)(SyntheticFace *face);
    int expected;
};

const LandmarkCase kLandmarkCases[] = {
    {"plausible", [](SyntheticFace *) {}, 1},
    {"eye corners swapped", [](SyntheticFace *f) { std::swap(f->points[12], f->points[15]); }, 0},
    {"second eye lids swapped",
     [](SyntheticFace *f) { std::swap(f->points[19], f->points[23]); }, 0},
    {"eyes overlap", [](SyntheticFace *f) { f->points[18] = f->points[13]; }, 0},
    {"contour above the eyes",
     [](SyntheticFace *f) { f->points[41] = f->imagePoint(0, kEyeOffsetY - 12); }, 0},
    {"eye point outside the image", [](SyntheticFace *f) { f->points[20].x = -1; }, 0},
    {"extra point outside the image", [](SyntheticFace *f) { f->points[64].y = 480; }, 0},
    {"nothing fitted", [](SyntheticFace *f) { std::memset(f->points, 0, sizeof f->points); }, 0},
    // Without a landmark count only the bounds are tested.
    {"no count, broken eyes",
     [](SyntheticFace *f) {
         std::swap(f->points[12], f->points[15]);
         f->work.pointCount = 0;
     },
     1},
};

TEST_F(ShapeFit, LandmarkCheckAcrossRolls)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
    for (double roll : {0.0, 10.0, -20.0, 30.0, 90.0}) {
        for (const LandmarkCase &c : kLandmarkCases) {
            SCOPED_TRACE(testing::Message() << c.name << " at " << roll);
            SyntheticFace face;
            makeSyntheticFace(&face, 1, 320, 240, roll, kWidth, kHeight);
            c.spoil(&face);
            FaceListEntry entry;
            makeScratchEntry(face.work, &entry);
            EXPECT_EQ(checkFaceLandmarks(inner, &image.image, &entry), c.expected);
        }
    }
    EXPECT_EQ(checkFaceLandmarks(inner, &image.image, nullptr), 0);
}

// ---- The beautify run -----------------------------------------------------------------------

struct SeenByStage {
    bool called = false;
    const FaceShapeRecord *records = nullptr;
    uint32_t recordCount = 0;
    uint32_t preparedMask = 0;
    int32_t landmarksUsable = -1;
    VXL_POINT extra[6] = {};
} gSeen;

int teethProbe(InnerEngine *inner, FaceWork *, int32_t)
{
    gSeen.called = true;
    gSeen.records = inner->shapeRecords;
    gSeen.recordCount = inner->shapeRecordCount;
    if (inner->shapeRecords)
        gSeen.preparedMask = inner->shapeRecords[0].preparedMask;
    if (inner->faceListCount > 0) {
        gSeen.landmarksUsable = inner->faceList[0].landmarksUsable;
        std::memcpy(gSeen.extra, inner->faceList[0].face.points + 62, sizeof gSeen.extra);
    }
    return kResultOk;
}

TEST_F(ShapeFit, RunBuildsTemporaryRecordsOnlyWhenFittingLeftNone)
{
    stages.stages[featureIndex(kFeatureTeethWhitening)] = teethProbe;
    BeautySettings settings{};
    settings.teethStrength = 60;
    use(settings);
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
    SyntheticFace face;
    makeSyntheticFace(&face, 4, 320, 240, 10, kWidth, kHeight);
    paintSyntheticFaces(image.image, &face, 1);
    const auto run = [&] {
        gSeen = SeenByStage{};
        FaceWork faces[] = {face.work};
        return innerRun(inner, nullptr, nullptr, &image.image, faces, 1, nullptr, nullptr, nullptr);
    };

    // No store: the run builds one record with the teeth stage's part only and frees it after.
    EXPECT_TRUE(resultIsSuccess(run()));
    ASSERT_TRUE(gSeen.called);
    ASSERT_NE(gSeen.records, nullptr);
    EXPECT_EQ(gSeen.recordCount, 1u);
    EXPECT_EQ(gSeen.preparedMask, uint32_t(kFeatureTeethWhitening));
    EXPECT_EQ(gSeen.landmarksUsable, 1);
    for (const VXL_POINT &p : gSeen.extra)
        EXPECT_TRUE(p.x != 0 && p.y != 0);
    EXPECT_EQ(inner->shapeRecords, nullptr);
    EXPECT_EQ(inner->shapeRecordCount, 0u);

    // After fitting the run uses the fitted store as it stands and keeps it.
    ASSERT_EQ(innerFitFaces(inner, &image.image, &face.work, 1, nullptr), kResultOk);
    const FaceShapeRecord *fitted = inner->shapeRecords;
    EXPECT_TRUE(resultIsSuccess(run()));
    EXPECT_EQ(gSeen.records, fitted);
    EXPECT_EQ(gSeen.preparedMask, findShapeRecord(inner, 4)->preparedMask);
    EXPECT_EQ(inner->shapeRecords, fitted);
}

}  // namespace
