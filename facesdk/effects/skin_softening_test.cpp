#include "facesdk/effects/skin_softening.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <thread>

#include "facesdk/effects/skin_softening_masks.h"
#include "facesdk/effects/testing/stage_run.h"

namespace {

// The synthetic face with a few small red blotches on its cheeks and forehead, or (without
// blotches) one even skin colour over the whole picture.
YuvColour blotchyFaceColour(const SyntheticFace &face, double x, double y, bool blotches)
{
    double u = 0, v = 0;
    face.toFace(x, y, &u, &v);
    const double spots[][2] = {{-50, 15}, {55, 20}, {-10, -70}, {30, -75}, {-60, 45}};
    if (!blotches)
        return {170, 110, 150};  // even skin everywhere
    YuvColour c = syntheticFaceColour(face, x, y);
    if (c.y == 170)
        for (const auto &s : spots)
            if ((u - s[0]) * (u - s[0]) + (v - s[1]) * (v - s[1]) < 16)
                return {160, 108, 178};
    return c;
}

// Within the outer work region of the face: the box grown by far more than the stage's margins.
bool nearFace(const SyntheticFace &face, int32_t x, int32_t y)
{
    const EngineRect &b = face.work.box;
    const int32_t grow = b.width * 3 / 4;
    return x >= b.x - grow && x < b.x + b.width + grow && y >= b.y - grow &&
           y < b.y + b.height + grow;
}

struct SofteningRun : StageRunFixture {
    PixelChange soften(PixelFormat format, double roll, int32_t strength, bool blotches,
                       int32_t *status, int *result)
    {
        BeautySettings settings{};
        settings.softeningStrength = strength;
        return runOnFace(format, roll, settings, kFeatureSkinSoftening, false,
                         [blotches](const SyntheticFace &face, int x, int y) {
                             return blotchyFaceColour(face, x, y, blotches);
                         },
                         nearFace, status, result);
    }
    PixelChange operator()(PixelFormat f, double roll, int32_t s, int32_t *status, int *result)
    {
        return soften(f, roll, s, true, status, result);
    }
};

TEST_F(SofteningRun, SoftensOnlyAroundTheFaceInEveryFormatAndRoll)
{
    expectChangeOnlyInside(*this, {0.0, 15.0, -40.0}, 300);
}

TEST_F(SofteningRun, StrengthScalesTheChange)
{
    expectStrengthScales(*this, kFormatYuv420SemiPlanar, {60, 150, 255});
}

TEST_F(SofteningRun, EvenSkinWithoutBlotchesIsLeftAsItIs)
{
    int32_t status = 0;
    int result = 0;
    const PixelChange change = soften(kFormatYuv444Planar, 0, 255, false, &status, &result);
    // One colour everywhere leaves the skin model without spread: nothing to do.
    EXPECT_EQ(status, kResultNothingToDo);
    EXPECT_EQ(result, kResultRunIncomplete);
    EXPECT_EQ(change.inside + change.outside, 0);
}

TEST_F(SofteningRun, EveryAllocationFailureIsReportedWithoutLeaks)
{
    SyntheticFace face;
    makeSyntheticFace(&face, 1, 320, 240, 10, kWidth, kHeight);
    BeautySettings settings{};
    settings.softeningStrength = 200;
    use(settings);
    const auto paint = [&](OwnedImage &image) {
        paintYuv(image.image, [&](int x, int y) { return blotchyFaceColour(face, x, y, true); });
    };
    const std::vector<int32_t> statuses = statusesUnderEveryAllocationFailure(
        kFormatYuv420SemiPlanarCrFirst, paint, &face, 1, kFeatureSkinSoftening);
    EXPECT_GT(std::count(statuses.begin(), statuses.end(), kResultNoMemory), 5);
}

TEST(SofteningParts, GainCurvesAndPowers)
{
    struct Row {
        const std::array<uint8_t, 256> *curve;
        int at26, at128, at200, first255;
    } rows[] = {{&softeningGainY, 27, 131, 204, 250},
                {&softeningGainCb, 26, 130, 203, 251},
                {&softeningGainCr, 27, 131, 205, 249}};
    for (const Row &r : rows) {
        EXPECT_EQ((*r.curve)[26], r.at26);
        EXPECT_EQ((*r.curve)[128], r.at128);
        EXPECT_EQ((*r.curve)[200], r.at200);
        EXPECT_EQ((*r.curve)[r.first255], 255);
        EXPECT_LT((*r.curve)[r.first255 - 1], 255);
    }
    struct Power {
        int v, p;
    } powers[] = {{-3, 1}, {0, 1}, {1, 1}, {2, 2}, {3, 2}, {4, 4}, {1000, 512}};
    for (const Power &p : powers)
        EXPECT_EQ(floorPowerOfTwo(p.v), p.p) << p.v;
}

TEST(SofteningParts, FaceCoreRectGrowsAlongTheFace)
{
    struct Case {
        EngineRect box;
        int32_t roll;
        EngineRect core;
    } cases[] = {
        {{40, 40, 40, 40}, 0, {40, 30, 40, 60}},    // a quarter of the height above and below
        {{40, 40, 40, 40}, 90, {30, 40, 60, 40}},   // turned: left and right
        {{40, 40, 12, 12}, 0, {40, 37, 12, 18}},
        {{40, 40, 10, 10}, 0, {37, 35, 16, 20}},    // under 12 wide: 3 more on every side
        {{0, 0, 40, 40}, 0, {0, 0, 40, 60}},        // cut at the top, not moved
    };
    for (const Case &c : cases) {
        FaceWork face{};
        face.box = c.box;
        face.roll = c.roll;
        EngineRect out{};
        faceCoreRect(kFormatYuv444Planar, face, 200, 200, &out);
        EXPECT_EQ(out.x, c.core.x) << c.box.width << " " << c.roll;
        EXPECT_EQ(out.y, c.core.y);
        EXPECT_EQ(out.width, c.core.width);
        EXPECT_EQ(out.height, c.core.height);
    }
}

TEST(SofteningParts, StretchGreyRange)
{
    OwnedImage grey(4, 1, kFormatGrey8);
    const uint8_t values[4] = {10, 20, 30, 110};
    for (int x = 0; x < 4; ++x)
        grey.at(0, x, 0) = values[x];
    stretchGreyRange(&grey.image, 0, 200);
    EXPECT_EQ(grey.at(0, 0, 0), 0);
    EXPECT_EQ(grey.at(0, 1, 0), 20);
    EXPECT_EQ(grey.at(0, 3, 0), 200);
    for (int x = 0; x < 4; ++x)
        grey.at(0, x, 0) = 77;
    stretchGreyRange(&grey.image, 10, 255);
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(grey.at(0, x, 0), 0);
}

TEST(SofteningParts, BlendStaysInsideTheRegionAndLeavesItsBottomRows)
{
    // 4:2:0 image, region at an even corner, mask and blurred planes at half scale, full weight.
    OwnedImage image(64, 64, kFormatYuv420Planar);
    paintYuv(image.image, [](int, int) { return YuvColour{100, 120, 140}; });
    OwnedImage before(64, 64, kFormatYuv420Planar);
    before.copyPixelsFrom(image);
    const int32_t H = 2;
    const EngineRect region = {16, 16, 32, 32};
    OwnedImage mask(16, 16, kFormatGrey8), by(16, 16, kFormatGrey8), bcb(8, 8, kFormatGrey8),
        bcr(8, 8, kFormatGrey8);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            mask.at(0, x, y) = 255, by.at(0, x, y) = 100;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            bcb.at(0, x, y) = 120, bcr.at(0, x, y) = 140;
    const EngineImage blurred[3] = {by.image, bcb.image, bcr.image};
    const uint8_t *const curves[3] = {softeningGainY.data(), softeningGainCb.data(),
                                      softeningGainCr.data()};
    ASSERT_EQ(blendCurvePlanes(&image.image, blurred, &mask.image, region, curves, H), kResultOk);
    // (255 x 102 + 1 x 100) >> 8 = 101: the gain of the blurred luma at full weight.
    EXPECT_EQ(pixelAt(image.image, 20, 20).y, (255 * softeningGainY[100] + 1 * 100) >> 8);
    EXPECT_EQ(pixelAt(image.image, 20, 20).v, (255 * softeningGainCr[140] + 1 * 140) >> 8);
    EXPECT_EQ(pixelAt(image.image, 20, 47).y, 100);  // the bottom block row stays
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            if (x < 16 || x >= 48 || y < 16 || y >= 48) {
                ASSERT_EQ(pixelAt(image.image, x, y).y, 100) << x << "," << y;
            }
    EXPECT_EQ(blendCurvePlanes(&image.image, blurred, &mask.image, {40, 40, 32, 32}, curves, H),
              kResultBadArgument);
}

} // namespace

namespace {

TEST_F(SofteningRun, TwoFacesOneAtTheImageCornerAreBothSoftened)
{
    SyntheticFace faces[2];
    makeSyntheticFace(&faces[0], 1, 170, 200, 0, kWidth, kHeight);
    makeSyntheticFace(&faces[1], 2, 540, 380, -10, kWidth, kHeight);  // box reaches both borders
    OwnedImage image(kWidth, kHeight, kFormatYuv420Planar), before(kWidth, kHeight, kFormatYuv420Planar);
    paintYuv(image.image, [&](int x, int y) {
        const YuvColour c = blotchyFaceColour(faces[0], x, y, true);
        return c.y == 90 ? blotchyFaceColour(faces[1], x, y, true) : c;
    });
    before.copyPixelsFrom(image);
    BeautySettings settings{};
    settings.softeningStrength = 255;
    use(settings);
    int32_t status = 0;
    EXPECT_EQ(run(image, faces, 2, kFeatureSkinSoftening, &status), kResultOk);
    EXPECT_EQ(status, kResultOk);
    for (const SyntheticFace &face : faces) {
        const PixelChange change = compareImages(before.image, image.image, [&](int32_t x, int32_t y) {
            return nearFace(face, x, y);
        });
        EXPECT_GT(change.inside, 300) << face.work.id;
    }
    const PixelChange elsewhere = compareImages(before.image, image.image, [&](int32_t x, int32_t y) {
        return nearFace(faces[0], x, y) || nearFace(faces[1], x, y);
    });
    EXPECT_EQ(elsewhere.outside, 0);
}

// Two engines soften pictures of two sizes at the same time, each on a thread of its own: each
// picture comes out as its engine makes it alone.
TEST(SofteningEngines, TwoEnginesOnTwoThreadsSoftenAsEachDoesAlone)
{
    struct Softener {
        CountingAllocator counter;
        InnerEngine *inner = nullptr;
        SyntheticFace face;
        std::unique_ptr<OwnedImage> picture;

        Softener(int32_t width, int32_t height, double roll)
        {
            BeautySettings settings{};
            settings.softeningStrength = 255;
            BeautyParams block{};
            settingsToParams(settings, &block);
            EXPECT_EQ(innerEngineCreate(counter.allocator(), &block, &kEffectStageTable, &inner), kResultOk);
            makeSyntheticFace(&face, 1, width / 2, height / 2, roll, width, height);
            picture = std::make_unique<OwnedImage>(width, height, kFormatYuv420Planar);
            paintYuv(picture->image, [&](int x, int y) { return blotchyFaceColour(face, x, y, true); });
        }
        ~Softener() { innerFreeFaceData(inner); }
        int soften(OwnedImage &image)
        {
            FaceWork work = face.work;
            return innerRun(inner, nullptr, nullptr, &image.image, &work, 1, nullptr, nullptr, nullptr);
        }
    };
    Softener a(640, 480, 0), b(400, 600, 20);
    OwnedImage aloneA(640, 480, kFormatYuv420Planar), aloneB(400, 600, kFormatYuv420Planar);
    aloneA.copyPixelsFrom(*a.picture);
    aloneB.copyPixelsFrom(*b.picture);
    ASSERT_EQ(a.soften(aloneA), kResultOk);
    ASSERT_EQ(b.soften(aloneB), kResultOk);
    for (int round = 0; round < 4; ++round) {
        OwnedImage togetherA(640, 480, kFormatYuv420Planar), togetherB(400, 600, kFormatYuv420Planar);
        togetherA.copyPixelsFrom(*a.picture);
        togetherB.copyPixelsFrom(*b.picture);
        int resultA = -1, resultB = -1;
        std::thread first([&] { resultA = a.soften(togetherA); });
        std::thread second([&] { resultB = b.soften(togetherB); });
        first.join();
        second.join();
        EXPECT_EQ(resultA, kResultOk);
        EXPECT_EQ(resultB, kResultOk);
        EXPECT_TRUE(togetherA.samePixels(aloneA)) << round;
        EXPECT_TRUE(togetherB.samePixels(aloneB)) << round;
    }
}

} // namespace
