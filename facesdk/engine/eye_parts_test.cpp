#include "facesdk/engine/eye_parts.h"

#include <gtest/gtest.h>

#include <cstring>

#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/shape_prepare.h"
#include "facesdk/engine/testing/owned_image.h"
#include "facesdk/engine/testing/shape_engine.h"
#include "facesdk/engine/testing/synthetic_face.h"

namespace {

using EyeParts = ShapeEngineFixture;

constexpr int32_t kWidth = 640, kHeight = 480;

TEST(EyePartRules, RollsQuantiseToFourTurns)
{
    const int32_t cases[][2] = {{0, 0},     {45, 0},     {-45, 0},   {46, 90},   {134, 90},
                                {135, 180}, {180, 180},  {-46, -90}, {-134, -90}, {-135, 180},
                                {-180, 180}};
    for (const auto &c : cases)
        EXPECT_EQ(quantiseRoll(c[0]), c[1]) << c[0];
}

TEST(EyePartRules, PairCheckWantsSimilarIrisesAtAnEyeDistance)
{
    struct Case {
        int32_t r1, r2, distance, expected;
    };
    const Case cases[] = {
        {8, 8, 90, 1},    // 90 / 8 = 11
        {8, 8, 56, 1},    // 7
        {8, 8, 48, 0},    // 6 is not enough
        {8, 8, 104, 1},   // 13
        {8, 8, 112, 0},   // 14 is too far
        {0, 8, 90, 0},    // a missing iris
        {10, 6, 90, 1},   // radii differ by half their mean
        {12, 6, 90, 0},   // by two thirds of it
    };
    for (const Case &c : cases) {
        EyePart part{};
        part.eyes[0].irisRadius = c.r1;
        part.eyes[1].irisRadius = c.r2;
        part.eyes[1].irisX = c.distance;
        EXPECT_EQ(checkEyePart(part), c.expected) << c.r1 << " " << c.r2 << " " << c.distance;
    }
}

TEST_F(EyeParts, IrisesAreFoundInEveryLayoutAndTurn)
{
    const PixelFormat formats[] = {kFormatYuv420SemiPlanar, kFormatYuv422Yuyv, kFormatYuv444Planar};
    for (PixelFormat format : formats)
        for (double roll : {0.0, -30.0, 135.0, -60.0}) {
            SCOPED_TRACE(testing::Message() << format << " " << roll);
            OwnedImage image(kWidth, kHeight, format);
            SyntheticFace face;
            makeSyntheticFace(&face, 1, 320, 240, roll, kWidth, kHeight);
            paintSyntheticFaces(image.image, &face, 1);
            FaceListEntry entry;
            makeScratchEntry(face.work, &entry);
            FaceShapeRecord record{};
            ASSERT_EQ(buildEyePart(inner, &image.image, &entry, &record), kResultOk);
            EXPECT_EQ(record.eyePartReady, 1);
            const EyePart part = readEyePart(record.eyePart);
            const double side[2] = {-kEyeOffsetX, kEyeOffsetX};
            for (int k = 0; k < 2; ++k) {
                const VXL_POINT truth = face.imagePoint(side[k], kEyeOffsetY);
                EXPECT_EQ(part.eyes[k].found, 1);
                EXPECT_NEAR(part.eyes[k].irisX + face.work.box.x, truth.x, 3);
                EXPECT_NEAR(part.eyes[k].irisY + face.work.box.y, truth.y, 3);
                EXPECT_NEAR(part.eyes[k].irisRadius, kIrisRadius, 3);
            }
        }
}

TEST_F(EyeParts, FacesWithoutIrisesOrEyeBoxesAreNotReady)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
    SyntheticFace face;
    makeSyntheticFace(&face, 1, 320, 240, 0, kWidth, kHeight);
    FaceListEntry entry;
    FaceShapeRecord record{};
    // A flat picture: the bands have no dark iris, so the pair check fails on zero radii.
    paintYuv(image.image, [](int, int) { return YuvColour{150, 120, 140}; });
    makeScratchEntry(face.work, &entry);
    EXPECT_EQ(buildEyePart(inner, &image.image, &entry, &record), kResultNothingToDo);
    EXPECT_EQ(record.eyePartReady, 0);
    EXPECT_EQ(record.eyePartFaceWidth, 200);

    record = FaceShapeRecord{};
    entry.face.eye1Box = EngineRect{};
    EXPECT_EQ(buildEyePart(inner, &image.image, &entry, &record), kResultNothingToDo);
    EXPECT_EQ(record.eyePartFaceWidth, 200);  // written before the eye boxes are looked at
    entry.face.box.x = 500;
    EXPECT_EQ(buildEyePart(inner, &image.image, &entry, &record), kResultBadArgument);
}

TEST_F(EyeParts, ShortBandsAndEmptyBandsAreRefused)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
    paintYuv(image.image, [](int, int y) { return YuvColour{y % 19 == 0 ? 20 : 200, 128, 128}; });
    // A box 100 wide and 40 high crops 40 rows: the darkest row is searched in rows 16..31.
    const EngineRect box{100, 100, 100, 40};
    EyeAnalysis record{};
    EngineImage band{};
    const int r = cropEyeBand(inner->allocator, &image.image, 0, &box, &record, &band);
    EXPECT_EQ(r, kResultNothingToDo);  // the darkest row (19) is too high
    imageRelease(inner->allocator, &band);
    const EngineRect flat{100, 100, 100, 1};
    EXPECT_EQ(cropEyeBand(inner->allocator, &image.image, 0, &flat, &record, &band), kResultBadArgument);

    OwnedImage black(kEyeBandWidth, 30, kFormatGrey8);
    for (int y = 0; y < 30; ++y)
        std::memset(&black.at(0, 0, y), 0, kEyeBandWidth);
    EXPECT_EQ(findIrisColumns(inner->allocator, &black.image, &record), kResultNothingToDo);
}

}  // namespace
