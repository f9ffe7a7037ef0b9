// Eye enlargement: the lens profile and discs, the stage on synthetic faces in every run format,
// strength, statuses and allocation failures.
#include "facesdk/effects/eye_enlargement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "facesdk/effects/testing/stage_run.h"
#include "facesdk/engine/eye_parts.h"
#include "facesdk/engine/testing/face_scene.h"
#include "facesdk/engine/warp_anchor.h"

namespace {

TEST(EyeLens, DiscRadiusFollowsTheGainAndCentreSnaps)
{
    struct Case {
        int32_t strength, radius, expectedRadius;
    } cases[] = {
        {1, 10, 10},     // gain 1.0
        {128, 10, 22},   // 88678 / 40960 x 10 = 21.65 -> 22
        {255, 10, 30},   // 2.996 x 10 = 29.96 -> 30
        {255, 9, 28},    // 26.96 -> 27, up to even
        {100, 0, 0},     // an eye without a radius gets an empty disc
    };
    for (const Case &c : cases) {
        const EyeDisc disc = eyeDiscFor(101, 57, c.radius, c.strength);
        EXPECT_EQ(disc.radius, c.expectedRadius) << c.strength << " " << c.radius;
        EXPECT_EQ(disc.centreX, 100);
        EXPECT_EQ(disc.centreY, 56);
    }
}

TEST(EyeLens, RatioMagnifiesTheCentreAndKeepsTheRim)
{
    const int32_t r = 40;
    for (int32_t strength : {1, 50, 128, 255}) {
        // The rim samples (very nearly) itself; inside, the sampling distance grows with the
        // pixel's own distance and never exceeds it.
        EXPECT_GE(lensRatio(int64_t(r) * r, r, strength), 4080) << strength;
        int64_t previous = 0;
        for (int32_t d = 1; d <= r; ++d) {
            const int32_t ratio = lensRatio(int64_t(d) * d, r, strength);
            EXPECT_LE(ratio, 4096);
            EXPECT_GE(int64_t(d) * ratio, previous) << strength << " at " << d;
            previous = int64_t(d) * ratio;
        }
    }
    // Magnification 1 / ratio a quarter of the way out: about 1.02 at strength 1, 1.2 at 128
    // and 1.3 at 255 (the profile flattens from its centre value toward the rim).
    EXPECT_NEAR(4096.0 / lensRatio(100, r, 1), 1.016, 0.01);
    EXPECT_NEAR(4096.0 / lensRatio(100, r, 128), 1.20, 0.02);
    EXPECT_NEAR(4096.0 / lensRatio(100, r, 255), 1.30, 0.02);
}

// The ratio is exact integer arithmetic: a digest of ratios over every strength, small and
// large discs and distances from the centre to past the rim pins each of them.
TEST(EyeLens, RatiosKeepTheirExactValues)
{
    uint64_t digest = 1469598103934665603ull;
    for (int32_t r : {1, 3, 40, 200, 900, 4000})
        for (int32_t strength = 1; strength <= 255; ++strength)
            for (int32_t d = 1; d <= r; d += std::max(1, r / 40))
                for (int64_t d2 : {int64_t(d) * d, int64_t(d) * d + d, int64_t(d) * d - 1}) {
                    if (d2 <= 0)
                        continue;
                    digest = (digest ^ uint32_t(lensRatio(d2, r, strength))) * 1099511628211ull;
                }
    EXPECT_EQ(digest, 6501913392620241384u);
}

// The discs of both eyes of the face as its fitted eye part gives them, for the strength.
void fittedEyeDiscs(InnerEngine *inner, const SyntheticFace &face, int32_t strength, EyeDisc discs[2])
{
    const FaceShapeRecord *record = findShapeRecord(inner, face.work.id);
    ASSERT_TRUE(record);
    ASSERT_EQ(record->eyePartReady, 1);
    const EyePart part = readEyePart(record->eyePart);
    for (int k = 0; k < 2; ++k) {
        const EyeBlock &eye = part.eyes[k];
        const int32_t d = face.work.box.width, c = record->eyePartFaceWidth;
        discs[k] = eyeDiscFor(face.work.box.x + d * eye.irisX / c,
                              face.work.box.y + d * eye.irisY / c, d * eye.irisRadius / c,
                              strength);
    }
}

// A 640 x 480 picture of one synthetic face whose shape records were fitted; the change is
// checked against the eye discs (one pixel of slack for shared chroma samples).
struct EyeEnlargementTest : StageRunFixture {
    SyntheticFace face;
    EyeDisc discs[2];
    bool discsKnown = false;

    PixelChange operator()(PixelFormat format, double roll, int32_t strength, int32_t *status,
                           int *result)
    {
        BeautySettings settings{};
        settings.eyeEnlargementStrength = strength;
        discsKnown = false;
        return runOnFace(format, roll, settings, kFeatureEyeEnlargement, true, syntheticFaceColour,
                         [&](const SyntheticFace &f, int32_t x, int32_t y) {
                             if (!discsKnown) {
                                 fittedEyeDiscs(inner, f, std::max(strength, 1), discs);
                                 discsKnown = true;
                             }
                             for (const EyeDisc &d : discs)
                                 if (std::abs(x - d.centreX) <= d.radius + 2 &&
                                     std::abs(y - d.centreY) <= d.radius + 2)
                                     return true;
                             return false;
                         },
                         status, result);
    }
    void prepare(OwnedImage &image, double roll, int32_t strength)
    {
        makeSyntheticFace(&face, 1, 320, 240, roll, kWidth, kHeight);
        paintSyntheticFaces(image.image, &face, 1);
        BeautySettings settings{};
        settings.eyeEnlargementStrength = strength;
        use(settings);
        fit(image, &face, 1);
        fittedEyeDiscs(inner, face, strength, discs);
    }
};

TEST_F(EyeEnlargementTest, EnlargesBothEyesInsideTheirDiscsInEveryFormat)
{
    expectChangeOnlyInside(*this, {0.0, 20.0, -35.0}, 1000);
}

TEST_F(EyeEnlargementTest, StrengthScalesTheChange)
{
    expectStrengthScales(*this, kFormatYuv420Planar, {1, 60, 255});
}

// The stage called directly on a run set up by hand (working size = image size).
struct DirectEyeRun : EyeEnlargementTest {
    std::vector<FaceListEntry> list;
    void setUpRun(OwnedImage &image)
    {
        inner->runImage = image.image;
        inner->workingWidth = inner->imageWidth = kWidth;
        inner->workingHeight = inner->imageHeight = kHeight;
        FaceListEntry entry{};
        entry.face = face.work;
        entry.inUse = 1;
        list.assign(1, entry);
        inner->faceList = list.data();
        inner->faceListCount = 1;
    }
    void TearDown() override
    {
        inner->faceList = nullptr;
        inner->faceListCount = 0;
        EyeEnlargementTest::TearDown();
    }
};

TEST_F(DirectEyeRun, AnswersForFacesItCannotUseAndLeavesTheImage)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420Planar), before(kWidth, kHeight, kFormatYuv420Planar);
    prepare(image, 0, 255);
    before.copyPixelsFrom(image);
    setUpRun(image);

    list[0].inUse = 0;
    EXPECT_EQ(applyEyeEnlargement(inner, nullptr, 0), kResultNothingToDo);
    list[0].inUse = 1;
    list[0].face.eye2Box.width = 0;
    EXPECT_EQ(applyEyeEnlargement(inner, nullptr, 0), kResultNothingToDo);
    list[0].face = face.work;
    list[0].face.id = 7;  // no shape record
    EXPECT_EQ(applyEyeEnlargement(inner, nullptr, 0), kResultNothingToDo);
    list[0].face = face.work;
    list[0].face.box.x = kWidth - 10;  // the box leaves the image
    EXPECT_EQ(applyEyeEnlargement(inner, nullptr, 0), kResultBadArgument);
    EXPECT_TRUE(image.samePixels(before));

    // An eye disc that would cross the border: -1 before anything changes.
    list[0].face = face.work;
    FaceShapeRecord *record = findShapeRecord(inner, 1);
    EyePart part = readEyePart(record->eyePart);
    part.eyes[1].irisRadius = 200;
    writeEyePart(record->eyePart, part);
    EXPECT_EQ(applyEyeEnlargement(inner, nullptr, 0), kResultFailed);
    EXPECT_TRUE(image.samePixels(before));

    part.eyes[1].irisRadius = part.eyes[0].irisRadius;
    writeEyePart(record->eyePart, part);
    inner->runImage.format = kFormatYuv422Packed3;
    EXPECT_EQ(enlargeFaceEyes(inner, &inner->runImage, list[0], record), kResultBadArgument);
    inner->runImage.format = kFormatGrey8;
    EXPECT_EQ(enlargeFaceEyes(inner, &inner->runImage, list[0], record), kResultUnsupported);
    EXPECT_TRUE(image.samePixels(before));

    // A face without an eye part before a usable one is passed over; the stage answers 0.
    inner->runImage.format = kFormatYuv420Planar;
    FaceListEntry without = list[0];
    without.face.id = 7;
    list.insert(list.begin(), without);
    inner->faceList = list.data();
    inner->faceListCount = 2;
    EXPECT_EQ(applyEyeEnlargement(inner, nullptr, 0), kResultOk);
    EXPECT_FALSE(image.samePixels(before));
}

TEST_F(DirectEyeRun, AllocationFailureLeavesTheEyeUntouchedAndLeaksNothing)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar), before(kWidth, kHeight, kFormatYuv420SemiPlanar);
    prepare(image, 15, 180);
    before.copyPixelsFrom(image);
    setUpRun(image);
    const int start = counter.allocations;
    ASSERT_EQ(applyEyeEnlargement(inner, nullptr, 0), kResultOk);
    const int used = counter.allocations - start;
    ASSERT_EQ(used, 2);  // one block per eye
    OwnedImage firstEyeOnly(kWidth, kHeight, kFormatYuv420SemiPlanar);
    for (int n = 1; n <= used; ++n) {
        image.copyPixelsFrom(before);
        counter.failAt = counter.allocations + n;
        EXPECT_EQ(applyEyeEnlargement(inner, nullptr, 0), kResultNoMemory);
        counter.failAt = 0;
        if (n == 1)
            EXPECT_TRUE(image.samePixels(before));
        else
            EXPECT_FALSE(image.samePixels(before));  // the first eye keeps its change
    }
}

} // namespace
