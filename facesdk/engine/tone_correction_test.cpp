#include "facesdk/engine/tone_correction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/engine/engine.h"
#include "facesdk/engine/testing/face_scene.h"

namespace {

constexpr PixelFormat kYuvFormats[] = {
    kFormatYuv444Planar, kFormatYuv422Planar, kFormatYuv420SemiPlanar,
    kFormatYuv420SemiPlanarCrFirst, kFormatYuv420Planar, kFormatYuv422Yuyv, kFormatYuv422Uyvy,
};

// An engine on a counting allocator and a painted scene.
struct SceneFixture {
    CountingAllocator counter;
    BeautyEngine *engine = nullptr;
    FaceScene scene;
    OwnedImage image;
    VXL_FACE face;

    explicit SceneFixture(const FaceScene &s)
        : scene(s), image(s.width, s.height, s.format), face(faceSceneRecord(s.face, 1))
    {
        EXPECT_EQ(engineCreateWithAllocator(counter.allocator(), &engine), kResultOk);
        paintFaceScene(image.image, scene);
    }
    ~SceneFixture() { engineDestroy(engine); }

    int correct(int32_t tone, int32_t colour)
    {
        const int32_t pair[2] = {tone, colour};
        return engineFaceOperation(engine, &image.image, &face, 1, pair);
    }
    // The middle of the face, away from the mask's soft edge.
    YuvMean faceMean() const
    {
        const EngineRect &f = scene.face;
        return meanYuv(image.image, {f.x + f.width / 4, f.y + f.height / 4, f.width / 2, f.height / 2});
    }
};

FaceScene darkCastFace(PixelFormat format)
{
    FaceScene scene;
    scene.format = format;
    scene.skin = {105, 150, 120};  // underexposed (luma 55 to 155), and blue rather than skin-red
    scene.lumaSpread = 50;
    return scene;
}

int maxByteDifference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    int most = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        most = std::max(most, std::abs(int(a[i]) - int(b[i])));
    return most;
}

}  // namespace

TEST(ToneCorrection, StretchCurve)
{
    uint8_t curve[256];
    stretchCurve(50, 233, curve);
    EXPECT_EQ(curve[0], 0);
    EXPECT_EQ(curve[49], 0);
    EXPECT_EQ(curve[50], 1);    // 255 x 1024 / 183 = 1426, 1.39 rounds to 1
    EXPECT_EQ(curve[141], 128); // 255 x 92 / 183 = 128.2
    EXPECT_EQ(curve[232], 255);
    EXPECT_EQ(curve[233], 255);
    stretchCurve(0, 255, curve);
    EXPECT_EQ(curve[0], 1);
    EXPECT_EQ(curve[254], 255);
    stretchCurve(200, 100, curve);  // an empty ramp: a step at lo, no division
    EXPECT_EQ(curve[150], 0);
    EXPECT_EQ(curve[200], 255);
}

TEST(ToneCorrection, MaskDivisorAndBands)
{
    struct Divisor {
        int32_t width, height, divisor;
    } divisors[] = {
        {959, 500, 1}, {500, 959, 1}, {960, 500, 2}, {1920, 1080, 2},  // 3: the tie goes down
        {2240, 100, 4}, {2560, 1440, 4}, {64, 64, 1},
    };
    for (const Divisor &d : divisors)
        EXPECT_EQ(faceMaskDivisor(d.width, d.height), d.divisor) << d.width << "x" << d.height;

    struct Bands {
        int32_t height, step;
        bool yuv420;
        std::vector<int32_t> boundaries;
    } bands[] = {
        {502, 1, true, {0, 100, 202, 302, 404, 502}},  // grown to 101, taken down to even rows
        {502, 1, false, {0, 101, 202, 303, 404, 502}},
        {64, 1, true, {0, 64}},
        {201, 1, true, {0, 100, 201}},                  // the lone last row joins the band above
        {1000, 2, true, {0, 102, 204, 306, 408, 510, 612, 714, 816, 918, 1000}},  // grown by 2
        {960, 2, true, {0, 100, 200, 300, 400, 500, 600, 700, 800, 900, 960}},
        // Band 105; boundaries taken down to multiples of 4, the power of two below 5.
        {1000, 5, false, {0, 104, 208, 312, 420, 524, 628, 732, 840, 944, 1000}},
    };
    for (const Bands &b : bands) {
        const ToneBandPlan plan = planToneBands(b.height, b.step, b.yuv420);
        std::vector<int32_t> boundaries;
        for (int32_t k = 0; k <= plan.count; ++k)
            boundaries.push_back(toneBandBoundary(plan, k));
        EXPECT_EQ(boundaries, b.boundaries) << b.height << " " << b.step << " " << b.yuv420;
    }
}

TEST(ToneCorrection, FaceMask)
{
    CountingAllocator counter;
    EngineImage mask;
    ASSERT_EQ(buildFaceMask(counter.allocator(), {200, 120, 200, 240}, 640, 480,
                            kFormatYuv420Planar, &mask),
              kResultOk);
    EXPECT_EQ(mask.width, 640);
    EXPECT_EQ(mask.height, 480);
    auto at = [&](int32_t x, int32_t y) { return mask.planes[0].pixels[y * mask.planes[0].stride + x]; };
    EXPECT_EQ(at(300, 240), 255);
    EXPECT_EQ(at(0, 0), 0);
    EXPECT_EQ(at(639, 479), 0);
    EXPECT_GT(at(170, 240), 0);  // the soft edge around the grown box
    EXPECT_LT(at(170, 240), 255);
    imageRelease(counter.allocator(), &mask);

    // Half size from 960 pixels on; a face at the corner is clamped into the mask.
    ASSERT_EQ(buildFaceMask(counter.allocator(), {0, 0, 300, 300}, 1281, 961, kFormatYuv422Planar,
                            &mask),
              kResultOk);
    EXPECT_EQ(mask.width, 640);
    EXPECT_EQ(mask.height, 480);
    EXPECT_EQ(at(0, 0), 255);
    imageRelease(counter.allocator(), &mask);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

// A dark face with a blue cast is lifted and warmed in every format; the Cr-first layout comes
// back in its own order with the same pixels as the Cb-first one.
TEST(ToneCorrection, DarkCastFaceMovesTowardsTheTargetInEveryFormat)
{
    std::vector<uint8_t> cbFirstResult;
    for (PixelFormat format : kYuvFormats) {
        SceneFixture f(darkCastFace(format));
        const size_t live = f.counter.liveBlocks();
        const YuvMean before = f.faceMean();
        ASSERT_EQ(f.correct(255, 255), kResultOk) << std::hex << format;
        EXPECT_EQ(f.image.image.format, format);
        const YuvMean after = f.faceMean();
        EXPECT_GT(after.y, before.y + 10) << std::hex << format;
        EXPECT_LT(after.cb, before.cb - 3) << std::hex << format;
        EXPECT_GT(after.cr, before.cr + 3) << std::hex << format;
        if (format == kFormatYuv420SemiPlanar)
            cbFirstResult = imageBytes(f.image.image);
        if (format == kFormatYuv420SemiPlanarCrFirst) {
            std::vector<uint8_t> bytes = imageBytes(f.image.image);
            const size_t chromaStart = size_t(f.scene.width) * f.scene.height;
            for (size_t i = chromaStart; i + 1 < bytes.size(); i += 2)
                std::swap(bytes[i], bytes[i + 1]);
            EXPECT_EQ(bytes, cbFirstResult);
        }
        EXPECT_EQ(f.counter.liveBlocks(), live);
    }
}

// The tone values act alone or together as documented: colour 1 halves to 0 (tone only), tone 0
// leaves every pixel's luma, and a face that is already near the target hardly moves.
TEST(ToneCorrection, StrengthsAndNearNeutralFaces)
{
    {
        // Colour 1 halves to 0: the same pixels as colour 0, tone only.
        SceneFixture halved(darkCastFace(kFormatYuv444Planar));
        SceneFixture none(darkCastFace(kFormatYuv444Planar));
        const YuvMean before = halved.faceMean();
        ASSERT_EQ(halved.correct(255, 1), kResultOk);
        ASSERT_EQ(none.correct(255, 0), kResultOk);
        EXPECT_GT(halved.faceMean().y, before.y + 10);
        EXPECT_EQ(imageBytes(halved.image.image), imageBytes(none.image.image));
    }
    {
        SceneFixture f(darkCastFace(kFormatYuv444Planar));
        const std::vector<uint8_t> before = imageBytes(f.image.image);
        ASSERT_EQ(f.correct(0, 255), kResultOk);
        const std::vector<uint8_t> after = imageBytes(f.image.image);
        const size_t lumaBytes = size_t(f.scene.width) * f.scene.height;
        const std::vector<uint8_t> lumaBefore(before.begin(), before.begin() + lumaBytes);
        const std::vector<uint8_t> lumaAfter(after.begin(), after.begin() + lumaBytes);
        EXPECT_LE(maxByteDifference(lumaBefore, lumaAfter), 2);
        EXPECT_GT(maxByteDifference(before, after), 5);
    }
    {
        // Tone 0 and colour 1: nothing but the round trip through RGB.
        SceneFixture f(darkCastFace(kFormatYuv420Planar));
        const std::vector<uint8_t> before = imageBytes(f.image.image);
        ASSERT_EQ(f.correct(0, 1), kResultOk);
        EXPECT_LE(maxByteDifference(before, imageBytes(f.image.image)), 2);
    }
    {
        // A well-exposed face of skin colour on a full-range image: its colour hardly moves,
        // its luma about as far as the face curve's own lift of the mid-tones (19 levels at
        // most, a few more where the levels stretch), and the background outside the mask stays
        // where it was.
        FaceScene scene;
        scene.format = kFormatYuv420Planar;
        scene.skin = {150, 110, 160};
        scene.lumaSpread = 60;
        SceneFixture f(scene);
        const EngineRect background = {440, 20, 180, 80};
        const YuvMean before = f.faceMean();
        const YuvMean backgroundBefore = meanYuv(f.image.image, background);
        ASSERT_EQ(f.correct(255, 255), kResultOk);
        const YuvMean after = f.faceMean();
        EXPECT_NEAR(after.cb, before.cb, 3);
        EXPECT_NEAR(after.cr, before.cr, 3);
        EXPECT_GE(after.y, before.y);
        EXPECT_LE(after.y, before.y + 24);
        const YuvMean backgroundAfter = meanYuv(f.image.image, background);
        EXPECT_NEAR(backgroundAfter.y, backgroundBefore.y, 2);
        EXPECT_NEAR(backgroundAfter.cb, backgroundBefore.cb, 2);
        EXPECT_NEAR(backgroundAfter.cr, backgroundBefore.cr, 2);
    }
}

// An image in memory of the test with room around every plane, so that scenes of odd sizes can
// be painted like even ones; the engine sees only the odd width and height.
struct PaddedImage {
    std::vector<uint8_t> bytes;
    EngineImage image{};
    PaddedImage(PixelFormat format, int32_t width, int32_t height)
    {
        const int32_t stride = 2 * width + 8, rows = height + 2;
        bytes.assign(size_t(stride) * rows * 3, 0);
        image.format = format;
        image.width = width;
        image.height = height;
        for (int p = 0; p < formatPlaneCount(format); ++p)
            image.planes[p] = {stride, 0, bytes.data() + size_t(p) * stride * rows};
    }
};

// Larger images get a smaller mask whose weights are interpolated; odd sizes keep their lone
// last row and column inside the image.
TEST(ToneCorrection, LargeAndOddImages)
{
    struct Case {
        PixelFormat format;
        int32_t width, height;
    } cases[] = {
        {kFormatYuv420Planar, 1280, 960},
        {kFormatYuv422Yuyv, 1282, 962},
        {kFormatYuv420SemiPlanar, 642, 481},
        {kFormatYuv422Planar, 641, 480},
        {kFormatYuv422Uyvy, 641, 479},
        {kFormatYuv420Planar, 639, 479},
        {kFormatYuv444Planar, 639, 479},
    };
    CountingAllocator counter;
    BeautyEngine *engine = nullptr;
    ASSERT_EQ(engineCreateWithAllocator(counter.allocator(), &engine), kResultOk);
    const size_t live = counter.liveBlocks();
    for (const Case &c : cases) {
        FaceScene scene = darkCastFace(c.format);
        scene.width = c.width;
        scene.height = c.height;
        PaddedImage padded(c.format, c.width, c.height);
        paintFaceScene(padded.image, scene);
        VXL_FACE face = faceSceneRecord(scene.face, 1);
        const EngineRect middle = {250, 180, 100, 120};
        const YuvMean before = meanYuv(padded.image, middle);
        const int32_t pair[2] = {200, 100};
        ASSERT_EQ(engineFaceOperation(engine, &padded.image, &face, 1, pair), kResultOk)
            << std::hex << c.format << std::dec << " " << c.width << "x" << c.height;
        EXPECT_GT(meanYuv(padded.image, middle).y, before.y + 5) << c.width << "x" << c.height;
        EXPECT_EQ(counter.liveBlocks(), live);
    }
    engineDestroy(engine);
}

TEST(ToneCorrection, ResultsThatLeaveTheImageAlone)
{
    SceneFixture f(darkCastFace(kFormatYuv420SemiPlanarCrFirst));
    const std::vector<uint8_t> before = imageBytes(f.image.image);
    EXPECT_EQ(f.correct(0, 0), kResultNothingToDo);

    InnerEngine *inner = f.engine->inner;
    FaceWork works[2] = {};
    toFaceWork(f.face, &works[0], f.scene.width, f.scene.height);
    const FaceValueRecord value = {12, 200, 100};
    EXPECT_EQ(innerFaceOperation(nullptr, &f.image.image, works, 1, &value), kResultBadArgument);
    EXPECT_EQ(innerFaceOperation(inner, &f.image.image, nullptr, 1, &value), kResultBadArgument);
    EXPECT_EQ(innerFaceOperation(inner, &f.image.image, works, 0, &value), kResultBadArgument);
    EXPECT_EQ(innerFaceOperation(inner, &f.image.image, works, 1, nullptr), kResultBadArgument);
    EXPECT_EQ(innerFaceOperation(inner, nullptr, works, 1, &value), kResultBadArgument);
    EXPECT_EQ(inner->operationsUsed & kInnerUsedFaceOperation, 0u);

    // Two faces with one id; a face outside the image; a face without area; an inner box
    // without area (the preparation fails).
    works[1] = works[0];
    EXPECT_EQ(innerFaceOperation(inner, &f.image.image, works, 2, &value), kResultBadArgument);
    EXPECT_EQ(inner->operationsUsed & kInnerUsedFaceOperation, uint32_t(kInnerUsedFaceOperation));
    works[1].id = 2;
    works[1].box.x = 600;
    EXPECT_EQ(innerFaceOperation(inner, &f.image.image, works, 2, &value), kResultBadArgument);
    FaceWork flat = {};
    flat.size = sizeof flat;
    flat.box = {10, 10, 0, 20};
    EXPECT_EQ(innerFaceOperation(inner, &f.image.image, &flat, 1, &value), kResultNothingToDo);
    flat.box = {10, 10, 4, 40};
    EXPECT_EQ(innerFaceOperation(inner, &f.image.image, &flat, 1, &value), kResultBadArgument);
    EXPECT_EQ(f.image.image.format, kFormatYuv420SemiPlanarCrFirst);
    EXPECT_EQ(imageBytes(f.image.image), before);

    // The pixel pass itself takes only the layouts it has a band worker for.
    {
        CountingAllocator counter;
        OwnedImage grey(64, 64, kFormatGrey8);
        OwnedImage mask(64, 64, kFormatGrey8);
        const std::vector<int32_t> table(768, 1024);
        EXPECT_EQ(runToneColourBands(counter.allocator(), &grey.image, table.data(), table.data(),
                                     &mask.image, 255, table.data(), table.data(), table.data(), 255),
                  kResultBadPixelFormat);
        EXPECT_EQ(runToneColourBands(counter.allocator(), &grey.image, table.data(), table.data(),
                                     nullptr, 255, table.data(), table.data(), table.data(), 255),
                  kResultBadArgument);
        EXPECT_EQ(counter.liveBlocks(), 0u);
    }

    // Grey and RGB images are refused by the set-up.
    for (PixelFormat format : {kFormatGrey8, kFormatRgb24}) {
        OwnedImage other(640, 480, format);
        other.fillRandom(3);
        const std::vector<uint8_t> otherBefore = imageBytes(other.image);
        EXPECT_EQ(innerFaceOperation(inner, &other.image, works, 1, &value), kResultUnsupported);
        EXPECT_EQ(imageBytes(other.image), otherBefore);
    }
}

// Levels and colour come from the largest face, the mask from the first one in the array.
TEST(ToneCorrection, SeveralFaces)
{
    FaceScene scene = darkCastFace(kFormatYuv420Planar);
    scene.width = 800;
    scene.face = {400, 100, 300, 300};
    SceneFixture f(scene);
    // A small second patch of the same skin at the left, named first.
    FaceScene small = scene;
    small.face = {40, 200, 100, 100};
    paintYuv(f.image.image, [&](int x, int y) {
        const EngineRect &s = small.face;
        return x >= s.x && x < s.x + s.width && y >= s.y && y < s.y + s.height
                   ? faceSceneColour(small, x, y)
                   : faceSceneColour(scene, x, y);
    });
    VXL_FACE faces[2] = {faceSceneRecord(small.face, 1), faceSceneRecord(scene.face, 2)};
    const EngineRect smallMiddle = {65, 225, 50, 50};
    const EngineRect largeMiddle = {475, 175, 150, 150};
    const YuvMean smallBefore = meanYuv(f.image.image, smallMiddle);
    const YuvMean largeBefore = meanYuv(f.image.image, largeMiddle);
    const int32_t pair[2] = {255, 0};
    ASSERT_EQ(engineFaceOperation(f.engine, &f.image.image, faces, 2, pair), kResultOk);
    const double smallLift = meanYuv(f.image.image, smallMiddle).y - smallBefore.y;
    const double largeLift = meanYuv(f.image.image, largeMiddle).y - largeBefore.y;
    // Inside the mask the face curve lifts more than the image curve outside it.
    EXPECT_GT(smallLift, largeLift + 5);
}

// Every allocation of the operation failing in turn: the answer is a failure code with the
// image untouched, or success with the picture of a call that had all its memory (a row band
// the worker pool cannot queue is done by the calling thread); nothing is left allocated.
TEST(ToneCorrection, EveryAllocationFailureLeavesTheImageAndNoBlocks)
{
    SceneFixture f(darkCastFace(kFormatYuv420SemiPlanarCrFirst));
    OwnedImage original(f.scene.width, f.scene.height, f.scene.format);
    original.copyPixelsFrom(f.image);
    const std::vector<uint8_t> before = imageBytes(f.image.image);
    const size_t live = f.counter.liveBlocks();
    const int first = f.counter.allocations;
    ASSERT_EQ(f.correct(255, 255), kResultOk);
    const int allocations = f.counter.allocations - first;
    const std::vector<uint8_t> corrected = imageBytes(f.image.image);
    int failures = 0;
    for (int n = 1; n <= allocations; ++n) {
        f.image.copyPixelsFrom(original);
        f.counter.failAt = f.counter.allocations + n;
        const int result = f.correct(255, 255);
        f.counter.failAt = 0;
        EXPECT_EQ(f.counter.liveBlocks(), live) << n;
        EXPECT_EQ(f.counter.badFrees, 0) << n;
        EXPECT_EQ(f.image.image.format, kFormatYuv420SemiPlanarCrFirst) << n;
        if (result == kResultOk) {
            EXPECT_EQ(imageBytes(f.image.image), corrected) << n;
            continue;
        }
        ++failures;
        EXPECT_TRUE(result == kResultNoMemory || result == kResultBadArgument ||
                    result == kResultUnsupported)
            << n << ": " << result;
        EXPECT_EQ(imageBytes(f.image.image), before) << n;
    }
    EXPECT_GT(failures, 10);
}
