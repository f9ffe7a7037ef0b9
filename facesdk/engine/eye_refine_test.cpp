#include "facesdk/engine/eye_refine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/eye_parts.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/shape_prepare.h"
#include "facesdk/engine/testing/owned_image.h"
#include "facesdk/engine/testing/shape_engine.h"
#include "facesdk/engine/testing/synthetic_face.h"

namespace {

using EyeRefine = ShapeEngineFixture;

constexpr int32_t kWidth = 640, kHeight = 480;

TEST_F(EyeRefine, EyeRectanglesMatchTheirFloatingPointPlacement)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420Planar);
    for (double roll : {0.0, 10.0, -20.0, 30.0, 90.0, -135.0}) {
        SCOPED_TRACE(roll);
        SyntheticFace face;
        makeSyntheticFace(&face, 1, 320, 240, roll, kWidth, kHeight);
        FaceListEntry entry;
        makeScratchEntry(face.work, &entry);
        int32_t part[10] = {};
        ASSERT_EQ(buildEyeRects(inner, &image.image, &entry, reinterpret_cast<uint8_t *>(part)),
                  kResultOk);
        EXPECT_EQ(part[0], 1);
        EXPECT_EQ(part[1], 200);
        // Each rectangle keeps its eye box's size and moves 0.6 eye distances down the face and
        // a quarter of it outwards, in the face's frame (turned by the nearest 5 degrees).
        int32_t angle = 0, d = 0;
        rectCentreAngle(face.work.eye1Box, face.work.eye2Box, face.work.roll, &angle, &d);
        const double a = -(turnIndex5(angle) * 5.0) * M_PI / 180;
        const double down[2] = {-0.6 * d * std::sin(a), 0.6 * d * std::cos(a)};
        const double out[2] = {0.25 * d * std::cos(a), 0.25 * d * std::sin(a)};
        const EngineRect *eyes[2] = {&face.work.eye1Box, &face.work.eye2Box};
        for (int k = 0; k < 2; ++k) {
            const EngineRect &e = *eyes[k];
            const double sign = k == 0 ? -1 : 1;
            const double cx = e.x + e.width / 2 + down[0] + sign * out[0];
            const double cy = e.y + e.height / 2 + down[1] + sign * out[1];
            const int32_t *r = part + 2 + 4 * k;
            EXPECT_EQ(r[2], e.width);
            EXPECT_EQ(r[3], e.height);
            EXPECT_NEAR(r[0] + r[2] / 2, cx, 2.0) << k;
            EXPECT_NEAR(r[1] + r[3] / 2, cy, 2.0) << k;
        }
    }
}

TEST_F(EyeRefine, HighlightIsTheCentreOfTheLargestSmallBrightBlob)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
    const EngineRect window{100, 100, 30, 30};
    struct Case {
        const char *name;
        int peak;       // level of the blob
        int blobSide;   // pixels
        int expected;
    };
    const Case cases[] = {{"small bright blob", 250, 3, 0},
                          {"not bright enough", 240, 3, kResultFailed},
                          {"a ninth of the window", 250, 10, kResultFailed}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        paintYuv(image.image, [&](int x, int y) {
            const bool blob = x >= 110 && x < 110 + c.blobSide && y >= 112 && y < 112 + c.blobSide;
            const bool speck = x == 125 && y == 104;  // a smaller blob elsewhere
            return YuvColour{blob ? c.peak : speck ? c.peak : 80, 128, 128};
        });
        VXL_POINT centre{};
        ASSERT_EQ(findHighlightCentre(inner, &image.image, &window, &centre), c.expected);
        if (c.expected == kResultOk) {
            EXPECT_EQ(centre.x, 110 + (2 + 2) / 2);
            EXPECT_EQ(centre.y, 112 + (2 + 2) / 2);
        }
    }
    const EngineRect empty{100, 100, 0, 30};
    VXL_POINT centre{};
    EXPECT_EQ(findHighlightCentre(inner, &image.image, &empty, &centre), kResultBadArgument);
}

// Scripted mirror scores: the first call (the pair as found) scores gPairScore; a searched
// window scores gMatchScore at (gMatchX, gMatchY) and 0 elsewhere.
int32_t gPairScore, gMatchScore, gMatchX, gMatchY, gMirrorCalls;

int scriptedMirror(const EngineImage *, const EngineRect *, const EngineRect *b)
{
    if (gMirrorCalls++ == 0)
        return gPairScore;
    return b->x == gMatchX && b->y == gMatchY ? gMatchScore : 0;
}

int firstIsDarker(const EngineImage *, const EngineRect *, const EngineRect *) { return 1; }

TEST_F(EyeRefine, PairRefinementMovesTheBrighterEyeOnlyForAClearlyBetterMatch)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
    EyeBlock eyes[2] = {};
    eyes[0].irisX = 200, eyes[0].irisY = 200, eyes[0].irisRadius = 8;
    eyes[1].irisX = 300, eyes[1].irisY = 204, eyes[1].irisRadius = 8;
    // The second eye is searched from (300 - 16, 204 - 16) in steps of 1 over 17 x 17.
    gMatchX = 290, gMatchY = 190;
    struct Case {
        int32_t pair, match;
        int expected;
        bool moved;
    };
    const Case cases[] = {{400, 700, kResultOk, true},
                          {400, 600, kResultOk, false},
                          {300, 676, kResultOk, false},   // not above 676
                          {400, 400, kResultOk, false},   // nothing beats the pair: kept
                          {100, 100, kResultNothingToDo, false},
                          {204, 700, kResultNothingToDo, false},
                          {300, 409, kResultNothingToDo, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.pair << " vs " << c.match);
        gPairScore = c.pair;
        gMatchScore = c.match;
        gMirrorCalls = 0;
        inner->rowHelpers.mirrorSimilarity = scriptedMirror;
        inner->rowHelpers.compareRectBrightness = firstIsDarker;
        EyeBlock copy[2];
        std::memcpy(copy, eyes, sizeof copy);
        EXPECT_EQ(refineEyePair(inner, &image.image, reinterpret_cast<uint8_t *>(copy)), c.expected);
        if (c.moved) {
            EXPECT_EQ(copy[1].irisX, 290 + 8);
            EXPECT_EQ(copy[1].irisY, 190 + 8);
        } else {
            EXPECT_EQ(copy[1].irisX, 300);
            EXPECT_EQ(copy[1].irisY, 204);
        }
        EXPECT_EQ(copy[0].irisX, 200);
    }
    inner->rowHelpers = RowHelpers{};
    EXPECT_EQ(refineEyePair(inner, &image.image, reinterpret_cast<uint8_t *>(eyes)),
              kResultNothingToDo);
}

TEST_F(EyeRefine, FailedRefinementIsBuiltButNotReady)
{
    // Eyes of a face turned by 30 degrees are no mirror images of each other.
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
    SyntheticFace face;
    makeSyntheticFace(&face, 1, 320, 240, 30, kWidth, kHeight);
    paintSyntheticFaces(image.image, &face, 1);
    ASSERT_EQ(prepareRunInput(inner, nullptr, nullptr, &image.image, nullptr, nullptr), kResultOk);
    FaceListEntry entry;
    makeScratchEntry(face.work, &entry);
    FaceShapeRecord record{};
    ASSERT_EQ(buildEyePart(inner, &image.image, &entry, &record), kResultOk);
    std::memcpy(record.refinedEyePart, record.eyePart, 92);
    EXPECT_EQ(refineEyePart(inner, &image.image, &entry, &record), kResultNothingToDo);
    EXPECT_EQ(record.refinedEyeBuilt, 1);
    EXPECT_EQ(record.refinedEyeReady, 0);

    // Upright: refined, each region the square around its iris, highlights found up and left
    // of the iris centres.
    makeSyntheticFace(&face, 1, 320, 240, 0, kWidth, kHeight);
    paintSyntheticFaces(image.image, &face, 1);
    makeScratchEntry(face.work, &entry);
    record = FaceShapeRecord{};
    ASSERT_EQ(buildEyePart(inner, &image.image, &entry, &record), kResultOk);
    std::memcpy(record.refinedEyePart, record.eyePart, 92);
    ASSERT_EQ(refineEyePart(inner, &image.image, &entry, &record), kResultOk);
    EXPECT_EQ(record.refinedEyeReady, 1);
    EyeBlock refined[2];
    std::memcpy(refined, record.refinedEyePart + 4, sizeof refined);
    for (int k = 0; k < 2; ++k) {
        const EyeBlock &eye = refined[k];
        EXPECT_EQ(eye.region.x, eye.irisX - eye.irisRadius);
        EXPECT_EQ(eye.region.width, 2 * eye.irisRadius + 1);
        const int32_t hx = record.refinedEyeCentres[2 * k], hy = record.refinedEyeCentres[2 * k + 1];
        EXPECT_NEAR(hx, eye.irisX - 3, 2);
        EXPECT_NEAR(hy, eye.irisY - 3, 2);
    }
}

}  // namespace
