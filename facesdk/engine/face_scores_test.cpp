#include "facesdk/engine/face_scores.h"

#include <gtest/gtest.h>

#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/engine/engine.h"
#include "facesdk/engine/face_measurements.h"
#include "facesdk/engine/testing/face_scene.h"

namespace {

struct Scores {
    int result;
    int32_t tone, colour;
};

// The scores of a painted scene through the engine's interface; the image must come back
// unchanged, and nothing may stay allocated.
Scores measureScene(const FaceScene &scene)
{
    CountingAllocator counter;
    BeautyEngine *engine = nullptr;
    EXPECT_EQ(engineCreateWithAllocator(counter.allocator(), &engine), kResultOk);
    const size_t live = counter.liveBlocks();
    OwnedImage image(scene.width, scene.height, scene.format);
    paintFaceScene(image.image, scene);
    const std::vector<uint8_t> before = imageBytes(image.image);
    VXL_FACE face = faceSceneRecord(scene.face, 1);
    Scores scores = {0, -1, -1};
    scores.result = engineFaceMeasure(engine, &image.image, &face, 1, &scores.tone, &scores.colour);
    EXPECT_EQ(image.image.format, scene.format);
    EXPECT_EQ(imageBytes(image.image), before);
    EXPECT_EQ(counter.liveBlocks(), live);
    engineDestroy(engine);
    return scores;
}

}  // namespace

TEST(FaceScores, ToneScoreFromLevels)
{
    uint8_t identity[256], face[256];
    for (int i = 0; i < 256; ++i)
        identity[i] = uint8_t(i);
    faceBaseCurve(face);
    struct Case {
        int32_t e, f, h, g;
        uint8_t score;
    } cases[] = {
        {30, 230, 30, 230, 4},  // range 200: R = 7
        {31, 230, 31, 230, 4},  // range 199: (199 + 255) / 2 is still 227
        {32, 230, 32, 230, 3},  // range 198: R = 6
        {50, 233, 57, 233, 3},
        {0, 255, 0, 255, 5},    // range 255: R = 35
        {1, 254, 16, 233, 4},   // r = 238 - 12 = 226: R = 20
        {0, 255, 4, 255, 5},    // r = 252: R = 33
    };
    for (const Case &c : cases) {
        uint8_t score = 0;
        EXPECT_EQ(toneScore(c.e, c.f, c.h, c.g, identity, face, &score), kResultOk);
        EXPECT_EQ(score, c.score) << c.e << " " << c.f << " " << c.h << " " << c.g;
    }
    // Curves far from the identity count against the score.
    uint8_t inverted[256];
    for (int i = 0; i < 256; ++i)
        inverted[i] = uint8_t(255 - i);
    uint8_t score = 0;
    toneScore(0, 255, 0, 255, inverted, inverted, &score);
    EXPECT_EQ(score, 2);  // t = 5: x = 5 + 0
}

TEST(FaceScores, ColourScoreFromGainDeviation)
{
    struct Case {
        int32_t deviation;  // of every mid-tone gain, in 1/1024
        uint8_t score;
    } cases[] = {{0, 5}, {31, 5}, {32, 4}, {47, 4}, {48, 3}, {63, 3}, {64, 2}, {79, 2}, {80, 1}, {500, 1}, {-80, 1}};
    for (const Case &c : cases) {
        int32_t gains[256];
        for (int i = 0; i < 256; ++i)
            gains[i] = i >= 50 && i < 220 ? 1024 + c.deviation : 1024 + 900;  // outside: not read
        uint8_t score = 0;
        EXPECT_EQ(colourScore(gains, gains, gains, &score), kResultOk);
        EXPECT_EQ(score, c.score) << c.deviation;
    }
    // The three tables average: one table far off, two at gain 1.
    int32_t one[256], off[256];
    for (int i = 0; i < 256; ++i)
        one[i] = 1024, off[i] = 1024 + 150;
    uint8_t score = 0;
    colourScore(one, off, one, &score);
    EXPECT_EQ(score, 3);  // A = 150 / 3 = 50: a = 3
}

// Scores of synthetic faces move the right way: a darker face scores lower on tone, a face with
// a colour cast lower on colour than skin of the reference colour, a grey face lowest.
TEST(FaceScores, SyntheticFaces)
{
    FaceScene bright;
    bright.skin = {121, 110, 160};
    bright.lumaSpread = 178;  // the measured middle half runs from black blue to white red
    const Scores brightScores = measureScene(bright);
    ASSERT_EQ(brightScores.result, kResultOk);

    FaceScene dark = bright;
    dark.skin = {73, 110, 160};
    dark.lumaSpread = 107;  // the same face at 60%
    const Scores darkScores = measureScene(dark);
    ASSERT_EQ(darkScores.result, kResultOk);
    EXPECT_EQ(brightScores.tone, 5);
    EXPECT_LT(darkScores.tone, brightScores.tone);

    FaceScene skin;
    skin.skin = {150, 112, 156};
    const Scores skinScores = measureScene(skin);
    FaceScene cast = skin;
    cast.skin = {150, 140, 135};
    const Scores castScores = measureScene(cast);
    FaceScene grey = skin;
    grey.skin = {150, 128, 128};
    grey.lumaSpread = 178;  // grey in every band the measure sees
    const Scores greyScores = measureScene(grey);
    ASSERT_EQ(skinScores.result, kResultOk);
    ASSERT_EQ(castScores.result, kResultOk);
    ASSERT_EQ(greyScores.result, kResultOk);
    EXPECT_GE(skinScores.colour, 4);
    EXPECT_LT(castScores.colour, skinScores.colour);
    EXPECT_EQ(greyScores.colour, 1);

    // Every layout gives the same scores, Cr-first included.
    for (PixelFormat format : {kFormatYuv444Planar, kFormatYuv422Planar, kFormatYuv420SemiPlanar,
                               kFormatYuv420SemiPlanarCrFirst, kFormatYuv422Yuyv, kFormatYuv422Uyvy}) {
        FaceScene scene = cast;
        scene.format = format;
        const Scores scores = measureScene(scene);
        EXPECT_EQ(scores.result, kResultOk) << std::hex << format;
        EXPECT_EQ(scores.tone, castScores.tone) << std::hex << format;
        EXPECT_EQ(scores.colour, castScores.colour) << std::hex << format;
    }
}

TEST(FaceScores, ArgumentsAndFaces)
{
    CountingAllocator counter;
    BeautyEngine *engine = nullptr;
    ASSERT_EQ(engineCreateWithAllocator(counter.allocator(), &engine), kResultOk);
    InnerEngine *inner = engine->inner;
    FaceScene scene;
    OwnedImage image(scene.width, scene.height, scene.format);
    paintFaceScene(image.image, scene);
    FaceWork faces[2];
    toFaceWork(faceSceneRecord(scene.face, 1), &faces[0], scene.width, scene.height);
    toFaceWork(faceSceneRecord({420, 100, 200, 200}, 2), &faces[1], scene.width, scene.height);
    uint8_t tone = 0, colour = 0;

    EXPECT_EQ(innerFaceMeasure(inner, &image.image, nullptr, 1, &tone, &colour), kResultBadArgument);
    EXPECT_EQ(innerFaceMeasure(inner, &image.image, faces, 0, &tone, &colour), kResultBadArgument);
    EXPECT_EQ(innerFaceMeasure(inner, nullptr, faces, 1, &tone, &colour), kResultBadArgument);
    EXPECT_EQ(inner->operationsUsed & kInnerUsedFaceMeasure, 0u);

    EXPECT_EQ(innerFaceMeasure(inner, &image.image, faces, 2, &tone, &colour), kResultOk);
    EXPECT_EQ(inner->operationsUsed & kInnerUsedFaceMeasure, uint32_t(kInnerUsedFaceMeasure));

    // Only the second face's eye box lies outside the image.
    faces[1].eye2Box = {630, 150, 20, 20};
    tone = colour = 0;
    EXPECT_EQ(innerFaceMeasure(inner, &image.image, faces, 2, &tone, &colour), kResultBadArgument);
    EXPECT_EQ(tone, 0);
    // Two faces with one id.
    faces[1] = faces[0];
    EXPECT_EQ(innerFaceMeasure(inner, &image.image, faces, 2, &tone, &colour), kResultBadArgument);
    // No face with an area: 97, cells untouched.
    FaceWork flat = faces[0];
    flat.box.height = 0;
    flat.eye1Box = flat.eye2Box = EngineRect{};
    EXPECT_EQ(innerFaceMeasure(inner, &image.image, &flat, 1, &tone, &colour), kResultNothingToDo);
    EXPECT_EQ(tone, 0);
    // A grey image: refused by the set-up.
    OwnedImage grey(640, 480, kFormatGrey8);
    EXPECT_EQ(innerFaceMeasure(inner, &grey.image, faces, 1, &tone, &colour), kResultUnsupported);

    // Every allocation failing in turn leaks nothing and ends in success.
    const size_t live = counter.liveBlocks();
    int result = kResultNoMemory;
    for (int n = 1; n < 100 && result != kResultOk; ++n) {
        counter.failAt = counter.allocations + n;
        result = innerFaceMeasure(inner, &image.image, faces, 1, &tone, &colour);
        EXPECT_TRUE(result == kResultOk || result == kResultNoMemory || result == kResultBadArgument)
            << n << ": " << result;
        EXPECT_EQ(counter.liveBlocks(), live) << n;
    }
    counter.failAt = 0;
    EXPECT_EQ(result, kResultOk);
    engineDestroy(engine);
}
