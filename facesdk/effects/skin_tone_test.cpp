// Skin tone: its curves by mode, the tint envelope, the weighted mean filter and the masked
// application, and the stage in beautify runs on a synthetic face in every run format.
#include "facesdk/effects/skin_tone.h"

#include <gtest/gtest.h>

#include "facesdk/effects/testing/skin_face.h"
#include "facesdk/effects/testing/stage_run.h"

namespace {

TEST(SkinToneCurves, SourceRowsAndModes)
{
    const struct { int curve, in, out; } rows[] = {{0, 128, 181}, {1, 64, 73},  {2, 224, 216},
                                                   {3, 16, 19},   {4, 240, 238}, {5, 160, 171},
                                                   {6, 96, 83},   {7, 224, 188}, {8, 77, 77},
                                                   {9, 192, 196}};
    for (const auto &r : rows)
        EXPECT_EQ(toneSourceCurve(r.curve)[r.in], r.out) << r.curve;

    uint8_t y[256], cb[256], cr[256];
    // Mode 3 at full strength is nearly its source curves.
    buildSkinToneCurves(3, 255, 130 * 4096, 557 * 4096, 128, 128, y, cb, cr);
    EXPECT_EQ(y[128], 123);
    EXPECT_EQ(cb[64], 56);
    EXPECT_EQ(cr[160], 172);
    // Mode 2 weighs chroma above 4096: the curve passes its source.
    buildSkinToneCurves(2, 255, 130 * 4096, 557 * 4096, 128, 128, y, cb, cr);
    EXPECT_EQ(cb[64], 79);
    EXPECT_GT(cb[64], toneSourceCurve(2)[64]);
    // Mode 4 with a chroma distance above 600 leaves Cb unchanged.
    buildSkinToneCurves(4, 200, 130 * 4096, 601 * 4096, 128, 128, y, cb, cr);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(cb[i], i);
    EXPECT_LT(y[128], 128);
    // Mode 5 with a grey target: the envelopes close on the identity, nothing changes.
    buildSkinToneCurves(5, 255, 0, 0, 128, 128, y, cb, cr);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(y[i], i);
        EXPECT_EQ(cb[i], i);
        EXPECT_EQ(cr[i], i);
    }
    // Mode 5 toward a red target pulls Cr up within the high envelope.
    buildSkinToneCurves(5, 255, 0, 0, 100, 180, y, cb, cr);
    EXPECT_GT(cr[128], 128);
    EXPECT_LE(cr[128], 156);
    EXPECT_LT(cb[160], 160);
}

TEST(SkinToneCurves, WeightedMeanFilter)
{
    CountingAllocator counter;
    OwnedImage image(8, 6, kFormatGrey8), weights(8, 6, kFormatGrey8);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            image.at(0, x, y) = x == 3 && y == 2 ? 200 : 100;
            weights.at(0, x, y) = x < 4 ? 255 : 0;
        }
    ASSERT_EQ(boxMeanGrey(counter.allocator(), &image.image, 3, &weights.image), kResultOk);
    EXPECT_EQ(image.at(0, 3, 2), 111);  // mean of the 3 x 3 window: 100 + 100 / 9
    EXPECT_EQ(image.at(0, 0, 0), 100);
    EXPECT_EQ(image.at(0, 5, 2), 100);  // weight 0 keeps the pixel
    EXPECT_EQ(counter.liveBlocks(), 0u);
    counter.failAt = counter.allocations + 1;
    EXPECT_EQ(boxMeanGrey(counter.allocator(), &image.image, 3, &weights.image), kResultNoMemory);
}

TEST(SkinToneCurves, MaskedApplicationFollowsTheMask)
{
    OwnedImage image(64, 32, kFormatYuv420Planar), mask(8, 4, kFormatGrey8);
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < image.rows(p); ++y)
            for (int x = 0; x < image.image.planes[p].stride; ++x)
                image.at(p, x, y) = 100;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            mask.at(0, x, y) = x < 2 ? 255 : 0;
    uint8_t curve[256];
    for (int i = 0; i < 256; ++i)
        curve[i] = uint8_t(std::min(255, i + 40));
    const EngineRect rect{0, 0, 64, 32};
    ASSERT_EQ(applyToneCurvesMasked(&image.image, &rect, curve, curve, curve, &mask.image), kResultOk);
    EXPECT_EQ(image.at(0, 0, 0), 100 + (40 * 255 >> 8));   // full weight
    EXPECT_EQ(image.at(0, 20, 5), 100);                    // weight 0
    EXPECT_GT(image.at(0, 10, 5), 100);                    // ramp across the block
    EXPECT_LT(image.at(0, 10, 5), 139);
    EXPECT_EQ(image.at(1, 0, 0), 139);
    const EngineRect outside{60, 0, 8, 8};
    EXPECT_EQ(applyToneCurvesMasked(&image.image, &outside, curve, curve, curve, &mask.image),
              kResultBadArgument);
    EXPECT_EQ(applyToneCurvesMasked(&image.image, &rect, curve, curve, curve, nullptr),
              kResultBadArgument);
}

struct SkinToneRuns : StageRunFixture {
    SyntheticFace face;
    int32_t runTone(OwnedImage &image, int strength, int mode, int *result = nullptr,
                    int colour = 0)
    {
        BeautySettings settings{};
        settings.skinToneStrength = strength;
        settings.skinToneMode = mode;
        settings.skinToneVariant = 1;
        settings.skinToneColour = colour;
        use(settings);
        int32_t status = 0;
        const int answer = run(image, &face, 1, kFeatureSkinTone, &status);
        if (result)
            *result = answer;
        return status;
    }
    void paintFace(OwnedImage &image, double roll)
    {
        makeSyntheticFace(&face, 1, image.image.width / 2, image.image.height / 2, roll,
                          image.image.width, image.image.height);
        paintYuv(image.image, [&](int x, int y) { return grainyFaceColour(face, x, y); });
    }
};

TEST_F(SkinToneRuns, TonesTheSkinInEveryFormatMoreWithStrength)
{
    const auto nearFace = [](int x, int y) {
        return std::abs(x - kWidth / 2) < 200 && std::abs(y - kHeight / 2) < 200;
    };
    for (PixelFormat format : kStageRunFormats) {
        for (double roll : {0.0, -30.0}) {
            OwnedImage original(kWidth, kHeight, format);
            paintFace(original, roll);
            int64_t previous = 0;
            for (int strength : {60, 255}) {
                OwnedImage image(kWidth, kHeight, format);
                image.copyPixelsFrom(original);
                int result = 0;
                ASSERT_EQ(runTone(image, strength, 3, &result), kResultOk) << std::hex << format;
                EXPECT_EQ(result, kResultOk);
                EXPECT_EQ(image.image.format, format);
                const PixelChange change = compareImages(original.image, image.image, nearFace);
                EXPECT_GT(change.inside, previous) << std::hex << format << " " << roll;
                EXPECT_EQ(change.outside, 0);
                // The skin at the face's cheek got darker (mode 3 darkens).
                const int cx = kWidth / 2 - 50, cy = kHeight / 2 + 20;
                EXPECT_LT(pixelAt(image.image, cx, cy).y, pixelAt(original.image, cx, cy).y);
                previous = change.inside;
            }
        }
    }
}

TEST_F(SkinToneRuns, GreyFaceGreyTargetAndLargeFace)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
    makeSyntheticFace(&face, 1, kWidth / 2, kHeight / 2, 0, kWidth, kHeight);
    paintYuv(image.image, [&](int x, int y) {
        const YuvColour c = grainyFaceColour(face, x, y);
        return YuvColour{c.y, 128, 128};
    });
    OwnedImage before(kWidth, kHeight, kFormatYuv420SemiPlanar);
    before.copyPixelsFrom(image);
    int result = 0;
    EXPECT_EQ(runTone(image, 200, 1, &result), kResultNothingToDo);  // no skin colour to learn
    EXPECT_EQ(result, kResultRunIncomplete);
    EXPECT_TRUE(image.samePixels(before));

    // Mode 5 toward grey: the curves are the identity.
    paintFace(image, 0);
    before.copyPixelsFrom(image);
    EXPECT_EQ(runTone(image, 255, 5, nullptr, 0x808080), kResultOk);
    EXPECT_TRUE(image.samePixels(before));
    EXPECT_EQ(inner->settings.skinTone.variant, 1);

    // A face of at least four tenths of the longer side switches to variant 2.
    OwnedImage small(400, 300, kFormatYuv420Planar);
    paintFace(small, 0);
    EXPECT_EQ(runTone(small, 200, 2), kResultOk);
    EXPECT_EQ(inner->settings.skinTone.variant, 2);
}

TEST_F(SkinToneRuns, EveryAllocationFailureLeavesTheImageUntouchedAndNoLeak)
{
    OwnedImage original(kWidth, kHeight, kFormatYuv422Planar);
    paintFace(original, 0);
    expectAllocationFailuresKeepPixels(counter, original, [&](OwnedImage &image, int32_t *status) {
        int result = 0;
        *status = runTone(image, 200, 1, &result);
        return result;
    });
}

}  // namespace
