#include "facesdk/engine/engine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/engine/beautify_run.h"

namespace {

// A caller's 4:2:0 image whose pixels live in the test.
struct TestImage {
    std::vector<uint8_t> pixels;
    EngineImage image{};

    TestImage(int32_t width, int32_t height)
        : pixels(size_t(width) * height * 3 / 2 + 2, 128)
    {
        image.format = kFormatYuv420Planar;
        image.width = width;
        image.height = height;
        image.planes[0] = {width, 0, pixels.data()};
        image.planes[1] = {width / 2, 0, pixels.data() + width * height};
        image.planes[2] = {width / 2, 0, pixels.data() + width * height + width * height / 4};
    }
};

VXL_FACE faceWithId(int32_t id)
{
    VXL_FACE face{};
    face.id = id;
    face.x = 100;
    face.y = 100;
    face.width = 200;
    face.height = 200;
    face.eye1X = 150;
    face.eye1Y = 160;
    face.eye2X = 230;
    face.eye2Y = 160;
    return face;
}

// An engine on a counting allocator, with a valid image, two faces and room for outputs.
struct EngineFixture {
    CountingAllocator counter;
    BeautyEngine *engine = nullptr;
    TestImage image{640, 480};
    TestImage small{64, 63};
    VXL_FACE faces[2] = {faceWithId(1), faceWithId(2)};
    BeautySettings settings[2] = {};
    int32_t pair[2] = {1, 2};
    VXL_FACE *outFaces = nullptr;
    int32_t outCount = 0;
    int32_t tone = -1, colour = -1;

    EngineFixture() { EXPECT_EQ(engineCreateWithAllocator(counter.allocator(), &engine), kResultOk); }
    ~EngineFixture() { engineDestroy(engine); }
    EngineImage *img() { return &image.image; }
};

}  // namespace

TEST(Engine, CreateAndDestroy)
{
    EXPECT_EQ(engineCreate(nullptr), kResultBadArgument);
    EXPECT_EQ(engineCreateWithAllocator(nullptr, nullptr), kResultBadArgument);

    BeautyEngine *engine = nullptr;
    ASSERT_EQ(engineCreate(&engine), kResultOk);
    EXPECT_EQ(engine->ops, &kBeautyEngineOps);
    EXPECT_EQ(engine->allocator, defaultAllocator());
    EXPECT_EQ(engine->ownsAllocator, 1);
    EXPECT_EQ(engine->initialParams.size, 200u);
    EXPECT_EQ(engine->initialParams.flags, 3u);
    EXPECT_EQ(engine->inner->ownsAllocator, 0);
    EXPECT_EQ(engine->inner->skinChromaRadius, 15);
    EXPECT_EQ(engine->inner->settings.mask, 0u);
    EXPECT_EQ(engine->inner->settings.flags, 3u);
    EXPECT_EQ(engine->inner->operationsUsed, uint32_t(kInnerUsedSetParams));
    EXPECT_EQ(kBeautyEngineOps.end, nullptr);
    engine->ops->destroy(engine);

    CountingAllocator counter;
    ASSERT_EQ(engineCreateWithAllocator(counter.allocator(), &engine), kResultOk);
    EXPECT_EQ(engine->ownsAllocator, 0);
    EXPECT_EQ(counter.liveBlocks(), 5u);  // the engine, the inner engine, its workers' board, pool and workers
    engineDestroy(engine);
    EXPECT_EQ(counter.liveBlocks(), 0u);
    EXPECT_EQ(counter.releases, 0);
    engineDestroy(nullptr);
}

TEST(Engine, FailedCreationLeavesNullAndNothingAllocated)
{
    for (int failAt = 1; failAt <= 5; ++failAt) {
        CountingAllocator counter;
        counter.failAt = failAt;
        BeautyEngine *engine = reinterpret_cast<BeautyEngine *>(&counter);
        EXPECT_EQ(engineCreateWithAllocator(counter.allocator(), &engine), kResultNoMemory);
        EXPECT_EQ(engine, nullptr);
        EXPECT_EQ(counter.liveBlocks(), 0u);
    }
    InnerEngine *inner = reinterpret_cast<InnerEngine *>(1);
    BeautyParams bad{};
    bad.size = 84;
    CountingAllocator counter;
    const FeatureStageTable noStages{};
    EXPECT_EQ(innerEngineCreate(counter.allocator(), &bad, &noStages, &inner), kResultBadArgument);
    EXPECT_EQ(inner, nullptr);
    EXPECT_EQ(innerEngineCreate(counter.allocator(), nullptr, &noStages, &inner), kResultBadArgument);
    EXPECT_EQ(innerEngineCreate(counter.allocator(), &bad, &noStages, nullptr), kResultBadArgument);
    BeautyParams good{};
    settingsToParams(BeautySettings{}, &good);
    EXPECT_EQ(innerEngineCreate(counter.allocator(), &good, nullptr, &inner), kResultBadArgument);
    EXPECT_EQ(inner, nullptr);
    // An engine always runs a stage table: without one there is no engine.
    BeautyEngine *engine = reinterpret_cast<BeautyEngine *>(&counter);
    EXPECT_EQ(engineCreateWithStages(counter.allocator(), nullptr, &engine), kResultBadArgument);
    EXPECT_EQ(engine, nullptr);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

// A row whose call passes the checks: what the work then answers is not this test's concern.
constexpr int kPassesChecks = 1000;

// The argument checks of every operation; each row names the operations-used bit it must (or
// must not) set.
TEST(Engine, ArgumentChecksOfEveryOperation)
{
    using Call = std::function<int(EngineFixture &)>;
    struct Case {
        const char *name;
        Call call;
        int result;
        uint32_t bit;  // operations-used bit set afterwards; 0: none
    };
    const Case cases[] = {
        {"free faces, null faces", [](EngineFixture &f) { engineFreeFaces(f.engine, nullptr, 2); return 0; }, 0, 0},
        {"free faces, null engine", [](EngineFixture &f) { engineFreeFaces(nullptr, f.faces, 2); return 0; }, 0, 0},
        {"detect, null engine", [](EngineFixture &f) { return engineDetectFaces(nullptr, f.img(), &f.outFaces, &f.outCount); }, -4, 0},
        {"detect, null image", [](EngineFixture &f) { return engineDetectFaces(f.engine, nullptr, &f.outFaces, &f.outCount); }, -4, 0},
        {"detect, 64 x 63", [](EngineFixture &f) { return engineDetectFaces(f.engine, &f.small.image, &f.outFaces, &f.outCount); }, -4, 0},
        {"detect, null out faces", [](EngineFixture &f) { return engineDetectFaces(f.engine, f.img(), nullptr, &f.outCount); }, -4, 0},
        {"detect, null out count", [](EngineFixture &f) { return engineDetectFaces(f.engine, f.img(), &f.outFaces, nullptr); }, -4, 0},
        {"detect, no planes", [](EngineFixture &f) { EngineImage empty = *f.img(); for (auto &p : empty.planes) p.pixels = nullptr; return engineDetectFaces(f.engine, &empty, &f.outFaces, &f.outCount); }, -4, 0},
        {"detect", [](EngineFixture &f) { return engineDetectFaces(f.engine, f.img(), &f.outFaces, &f.outCount); }, kPassesChecks, kUsedDetect},
        {"face operation, null image", [](EngineFixture &f) { return engineFaceOperation(f.engine, nullptr, f.faces, 2, f.pair); }, -4, 0},
        {"face operation, null faces", [](EngineFixture &f) { return engineFaceOperation(f.engine, f.img(), nullptr, 2, f.pair); }, -4, 0},
        {"face operation, null pair", [](EngineFixture &f) { return engineFaceOperation(f.engine, f.img(), f.faces, 2, nullptr); }, -4, 0},
        {"face operation, small image", [](EngineFixture &f) { return engineFaceOperation(f.engine, &f.small.image, f.faces, 2, f.pair); }, -4, 0},
        {"face operation, negative count", [](EngineFixture &f) { return engineFaceOperation(f.engine, f.img(), f.faces, -1, f.pair); }, -4, 0},
        {"face operation", [](EngineFixture &f) { return engineFaceOperation(f.engine, f.img(), f.faces, 2, f.pair); }, kPassesChecks, kUsedFaceOperation},
        {"fit, count 0", [](EngineFixture &f) { return engineFitFaces(f.engine, f.img(), f.faces, 0); }, -4, 0},
        {"fit, null faces", [](EngineFixture &f) { return engineFitFaces(f.engine, f.img(), nullptr, 2); }, -4, 0},
        {"fit, small image", [](EngineFixture &f) { return engineFitFaces(f.engine, &f.small.image, f.faces, 2); }, -4, 0},
        {"fit", [](EngineFixture &f) { return engineFitFaces(f.engine, f.img(), f.faces, 2); }, kPassesChecks, kUsedFit},
        {"analyse, null engine", [](EngineFixture &f) { return engineAnalyzeFaces(nullptr, f.img(), f.faces, 2, f.settings); }, -4, 0},
        {"analyse, null out", [](EngineFixture &f) { return engineAnalyzeFaces(f.engine, f.img(), f.faces, 2, nullptr); }, -4, 0},
        {"analyse, small image", [](EngineFixture &f) { return engineAnalyzeFaces(f.engine, &f.small.image, f.faces, 2, f.settings); }, -4, 0},
        {"analyse, count 0", [](EngineFixture &f) { return engineAnalyzeFaces(f.engine, f.img(), f.faces, 0, f.settings); }, 0, 0},
        {"analyse", [](EngineFixture &f) { return engineAnalyzeFaces(f.engine, f.img(), f.faces, 2, f.settings); }, kPassesChecks, kUsedAnalyze},
        {"beautify, null settings", [](EngineFixture &f) { return engineBeautify(f.engine, f.img(), f.faces, 2, nullptr); }, -4, 0},
        {"beautify, null faces with a count", [](EngineFixture &f) { return engineBeautify(f.engine, f.img(), nullptr, 2, f.settings); }, -4, 0},
        {"beautify, 101 faces", [](EngineFixture &f) { return engineBeautify(f.engine, f.img(), f.faces, 101, f.settings); }, -4, 0},
        {"beautify, negative count", [](EngineFixture &f) { return engineBeautify(f.engine, f.img(), f.faces, -1, f.settings); }, -4, 0},
        {"beautify, 64 x 63", [](EngineFixture &f) { return engineBeautify(f.engine, &f.small.image, f.faces, 2, f.settings); }, -4, 0},
        {"beautify, no faces", [](EngineFixture &f) { return engineBeautify(f.engine, f.img(), nullptr, 0, f.settings); }, kPassesChecks, kUsedBeautify},
        {"beautify", [](EngineFixture &f) { return engineBeautify(f.engine, f.img(), f.faces, 2, f.settings); }, kPassesChecks, kUsedBeautify},
        {"set roll, null engine", [](EngineFixture &) { return engineSetRoll(nullptr, 0); }, -4, 0},
        {"set roll 181", [](EngineFixture &f) { return engineSetRoll(f.engine, 181); }, -4, kUsedSetRoll},
        {"set roll -180", [](EngineFixture &f) { return engineSetRoll(f.engine, -180); }, -4, kUsedSetRoll},
        {"set roll -179", [](EngineFixture &f) { return engineSetRoll(f.engine, -179); }, 0, kUsedSetRoll},
        {"set roll 180", [](EngineFixture &f) { return engineSetRoll(f.engine, 180); }, 0, kUsedSetRoll},
        {"face measure, null faces", [](EngineFixture &f) { return engineFaceMeasure(f.engine, f.img(), nullptr, 2, &f.tone, &f.colour); }, -4, 0},
        {"face measure, null out", [](EngineFixture &f) { return engineFaceMeasure(f.engine, f.img(), f.faces, 2, nullptr, &f.colour); }, -4, 0},
        {"face measure, small image", [](EngineFixture &f) { return engineFaceMeasure(f.engine, &f.small.image, f.faces, 2, &f.tone, &f.colour); }, -4, 0},
        {"face measure", [](EngineFixture &f) { return engineFaceMeasure(f.engine, f.img(), f.faces, 2, &f.tone, &f.colour); }, kPassesChecks, kUsedFaceMeasure},
        {"preset filter, null image", [](EngineFixture &f) { return enginePresetFilter(f.engine, nullptr, 3, 0); }, -4, 0},
        {"preset filter, small image", [](EngineFixture &f) { return enginePresetFilter(f.engine, &f.small.image, 3, 0); }, -4, 0},
        {"preset filter", [](EngineFixture &f) { return enginePresetFilter(f.engine, f.img(), 3, 0); }, kPassesChecks, kUsedPresetFilter},
        {"face extra value, no buffer", [](EngineFixture &f) { return engineFaceExtraValue(f.engine, &f.faces[0]); }, 0, 0},
        {"face extra value, null face", [](EngineFixture &f) { return engineFaceExtraValue(f.engine, nullptr); }, 0, 0},
        {"export state", [](EngineFixture &f) { uint32_t length = 0; return engineExportState(f.engine, 1000, f.faces, 2, nullptr, &length); }, kPassesChecks, 0},
        {"import state, null engine", [](EngineFixture &f) { uint8_t blob[48] = {}; return engineImportState(nullptr, blob, 48, 1000, &f.outFaces, &f.outCount); }, 0, 0},
        {"import state", [](EngineFixture &f) { uint8_t blob[48] = {}; return engineImportState(f.engine, blob, 48, 1000, &f.outFaces, &f.outCount); }, kPassesChecks, 0},
        {"replace, null face", [](EngineFixture &f) { return engineReplaceFace(f.engine, nullptr, f.faces, 2); }, -4, 0},
        {"replace, null faces", [](EngineFixture &f) { return engineReplaceFace(f.engine, &f.faces[0], nullptr, 2); }, -4, 0},
        {"replace, count 0", [](EngineFixture &f) { return engineReplaceFace(f.engine, &f.faces[0], f.faces, 0); }, -4, 0},
        {"replace, negative count", [](EngineFixture &f) { return engineReplaceFace(f.engine, &f.faces[0], f.faces, -1); }, -5, 0},
        {"append, null engine", [](EngineFixture &f) { return engineAppendFaces(nullptr, f.faces, 1, &f.outFaces, &f.outCount); }, -4, 0},
        {"append, null new faces", [](EngineFixture &f) { return engineAppendFaces(f.engine, nullptr, 1, &f.outFaces, &f.outCount); }, -4, 0},
        {"append, no new faces", [](EngineFixture &f) { return engineAppendFaces(f.engine, f.faces, 0, &f.outFaces, &f.outCount); }, -4, 0},
        {"append, null array place", [](EngineFixture &f) { return engineAppendFaces(f.engine, f.faces, 1, nullptr, &f.outCount); }, -4, 0},
        {"append, null count place", [](EngineFixture &f) { return engineAppendFaces(f.engine, f.faces, 1, &f.outFaces, nullptr); }, -4, 0},
        {"append, count without array", [](EngineFixture &f) { f.outCount = 3; return engineAppendFaces(f.engine, f.faces, 1, &f.outFaces, &f.outCount); }, -4, 0},
    };
    for (const Case &c : cases) {
        EngineFixture fixture;
        const uint32_t usedBefore = fixture.engine->operationsUsed;
        const int result = c.call(fixture);
        if (c.result == kPassesChecks) {
            EXPECT_NE(result, kResultBadArgument) << c.name;
        } else {
            EXPECT_EQ(result, c.result) << c.name;
        }
        EXPECT_EQ(fixture.engine->operationsUsed, usedBefore | c.bit) << c.name;
        if (fixture.outFaces)
            engineFreeFaces(fixture.engine, fixture.outFaces, fixture.outCount);
        for (VXL_FACE &face : fixture.faces)
            freeFaceBuffers(fixture.engine->allocator, &face);
    }
}

// A face whose roll lies outside -179..180 is refused by every operation that takes faces,
// before anything is used or changed; the stages index their tables by the roll.
TEST(Engine, FacesWithARollOutsideATurnAreRefused)
{
    using Call = std::function<int(EngineFixture &)>;
    const struct {
        const char *name;
        Call call;
    } operations[] = {
        {"face operation", [](EngineFixture &f) { return engineFaceOperation(f.engine, f.img(), f.faces, 2, f.pair); }},
        {"fit", [](EngineFixture &f) { return engineFitFaces(f.engine, f.img(), f.faces, 2); }},
        {"analyse", [](EngineFixture &f) { return engineAnalyzeFaces(f.engine, f.img(), f.faces, 2, f.settings); }},
        {"beautify", [](EngineFixture &f) { return engineBeautify(f.engine, f.img(), f.faces, 2, f.settings); }},
        {"face measure", [](EngineFixture &f) { return engineFaceMeasure(f.engine, f.img(), f.faces, 2, &f.tone, &f.colour); }},
        {"replace", [](EngineFixture &f) { return engineReplaceFace(f.engine, &f.faces[1], f.faces, 2); }},
        {"append", [](EngineFixture &f) { return engineAppendFaces(f.engine, f.faces, 2, &f.outFaces, &f.outCount); }},
    };
    for (const int32_t roll : {181, -180, 4096, 100000000, INT32_MIN, INT32_MAX}) {
        for (const auto &operation : operations) {
            EngineFixture fixture;
            fixture.faces[1].roll = roll;
            fixture.settings[0].skinToneStrength = fixture.settings[1].skinToneStrength = 80;
            const VXL_FACE before = fixture.faces[1];
            const uint32_t usedBefore = fixture.engine->operationsUsed;
            EXPECT_EQ(operation.call(fixture), kResultBadArgument) << operation.name << " " << roll;
            EXPECT_EQ(fixture.engine->operationsUsed, usedBefore) << operation.name << " " << roll;
            EXPECT_EQ(std::memcmp(&before, &fixture.faces[1], sizeof before), 0) << operation.name;
            EXPECT_EQ(fixture.outFaces, nullptr) << operation.name;
        }
    }
}

TEST(Engine, RollHintKeepsTheLastAcceptedAngle)
{
    EngineFixture f;
    ASSERT_EQ(engineSetRoll(f.engine, -45), kResultOk);
    ASSERT_EQ(engineSetRoll(f.engine, 200), kResultBadArgument);
    EXPECT_EQ(f.engine->rollHint, -45);
}

TEST(Engine, FaceMeasureWritesItsCellsWhateverTheResult)
{
    EngineFixture f;
    engineFaceMeasure(f.engine, f.img(), f.faces, 0, &f.tone, &f.colour);
    EXPECT_GE(f.tone, 0);
    EXPECT_LE(f.tone, 255);
    EXPECT_GE(f.colour, 0);
    EXPECT_LE(f.colour, 255);
}

TEST(Engine, ReplaceFace)
{
    EngineFixture f;
    VXL_FACE faces[3] = {faceWithId(4), faceWithId(9), faceWithId(9)};
    VXL_FACE replacement = faceWithId(9);
    replacement.width = 333;
    VXL_FACE missing = faceWithId(5);
    const VXL_FACE before[3] = {faces[0], faces[1], faces[2]};
    EXPECT_EQ(engineReplaceFace(f.engine, &missing, faces, 3), kResultNotFound);
    EXPECT_EQ(std::memcmp(faces, before, sizeof faces), 0);
    EXPECT_EQ(engineReplaceFace(f.engine, &replacement, faces, 3), kResultOk);
    EXPECT_EQ(faces[1].width, 333);
    EXPECT_EQ(faces[2].width, 200);  // only the first match
}

TEST(Engine, AppendNumbersOnFromTheLargestId)
{
    EngineFixture f;
    VXL_FACE *faces = nullptr;
    int32_t count = 0;
    VXL_FACE fresh[2] = {faceWithId(0), faceWithId(0)};
    ASSERT_EQ(engineAppendFaces(f.engine, fresh, 2, &faces, &count), kResultOk);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(faces[0].id, 1);
    EXPECT_EQ(faces[1].id, 2);

    faces[0].id = 3;
    faces[1].id = 7;
    ASSERT_EQ(ensureFaceBuffers(f.engine->allocator, &faces[1]), kResultOk);
    VXL_POINT *points = faces[1].points;
    VXL_FACE more[2] = {faceWithId(50), faceWithId(-2)};
    ASSERT_EQ(engineAppendFaces(f.engine, more, 2, &faces, &count), kResultOk);
    ASSERT_EQ(count, 4);
    EXPECT_EQ(faces[0].id, 3);
    EXPECT_EQ(faces[1].id, 7);
    EXPECT_EQ(faces[1].points, points);  // buffers move with their records
    EXPECT_EQ(faces[2].id, 8);
    EXPECT_EQ(faces[3].id, 9);

    // Ids all below 1 number the new faces from 1.
    for (int i = 0; i < count; ++i)
        faces[i].id = -i;
    ASSERT_EQ(engineAppendFaces(f.engine, more, 1, &faces, &count), kResultOk);
    EXPECT_EQ(faces[4].id, 1);

    engineFreeFaces(f.engine, faces, count);
    EXPECT_EQ(f.engine->operationsUsed & kUsedFreeFaces, uint32_t(kUsedFreeFaces));
    EXPECT_EQ(f.counter.liveBlocks(), 5u);  // the engine, its inner engine, board, pool and workers
}

TEST(Engine, FreeFacesFreesBuffersAndArray)
{
    EngineFixture f;
    VXL_FACE *faces = nullptr;
    int32_t count = 0;
    VXL_FACE fresh[3] = {faceWithId(0), faceWithId(0), faceWithId(0)};
    ASSERT_EQ(engineAppendFaces(f.engine, fresh, 3, &faces, &count), kResultOk);
    ASSERT_EQ(ensureFaceBuffers(f.engine->allocator, &faces[0]), kResultOk);
    ASSERT_EQ(ensureFaceBuffers(f.engine->allocator, &faces[2]), kResultOk);
    EXPECT_EQ(f.counter.liveBlocks(), 5u + 1 + 4);  // the engine's five blocks, array, buffers
    engineFreeFaces(f.engine, faces, -1);  // a count below 1 frees only the array
    EXPECT_EQ(f.counter.liveBlocks(), 5u + 4);
    EXPECT_EQ(f.counter.badFrees, 0);
}

TEST(Engine, FaceExtraValueReadsTheClassSlot)
{
    EngineFixture f;
    VXL_FACE face = faceWithId(1);
    ASSERT_EQ(ensureFaceBuffers(f.engine->allocator, &face), kResultOk);
    classSlot(face) = {0, 4};
    EXPECT_EQ(engineFaceExtraValue(f.engine, &face), 4);
    face.pointCount = 251;  // would read past the buffer
    EXPECT_EQ(engineFaceExtraValue(f.engine, &face), 0);
    face.pointCount = 250;
    freeFaceBuffers(f.engine->allocator, &face);
    EXPECT_EQ(engineFaceExtraValue(f.engine, &face), 0);
}

// Analysing a face that has no landmarks gives it its buffers with the class slot after the
// landmark slots, so fitting it afterwards keeps its points, class value and fitted flag.
TEST(Engine, AnalysingAnUnfittedFaceKeepsTheBufferLayoutForFitting)
{
    EngineFixture f;
    VXL_FACE faces[1] = {faceWithId(1)};
    engineAnalyzeFaces(f.engine, f.img(), faces, 1, f.settings);
    ASSERT_NE(faces[0].points, nullptr);
    ASSERT_NE(faces[0].savedPoints, nullptr);
    EXPECT_EQ(faces[0].pointCount, kFacePointSlots);

    // What classification and fitting then write lands in disjoint places.
    classSlot(faces[0]) = {0, 2};
    for (int i = 0; i < 62; ++i)
        faces[0].points[i] = {1000 + i, 2000 + i};
    fittedFlag(faces[0]) = 1;
    EXPECT_EQ(faces[0].points[0].x, 1000);
    EXPECT_EQ(faces[0].points[1].x, 1001);
    EXPECT_EQ(engineFaceExtraValue(f.engine, &faces[0]), 2);
    EXPECT_EQ(reinterpret_cast<int32_t *>(faces[0].points)[2008 / 4], 1);

    // A face that already has landmarks is left alone.
    const VXL_FACE before = faces[0];
    engineAnalyzeFaces(f.engine, f.img(), faces, 1, f.settings);
    EXPECT_EQ(std::memcmp(&before, &faces[0], sizeof before), 0);
    freeFaceBuffers(f.engine->allocator, &faces[0]);
}

TEST(Engine, InnerFaceValue)
{
    EngineFixture f;
    InnerEngine *inner = f.engine->inner;
    uint32_t value = 99;
    BeautyParams block{};
    block.size = 200;
    block.eyeTone = {8, 30, {}};
    ASSERT_EQ(inner->ops->setParams(inner, &block), kResultOk);
    EXPECT_EQ(inner->ops->faceValue(inner, 1, &value), kResultBadArgument);
    EXPECT_EQ(value, uint32_t(kFeatureEyeTone));
    EXPECT_EQ(inner->operationsUsed & kInnerUsedFaceValue, uint32_t(kInnerUsedFaceValue));

    auto *records = static_cast<FaceShapeRecord *>(allocatorAlloc(inner->allocator, 2 * sizeof(FaceShapeRecord)));
    std::memset(records, 0, 2 * sizeof(FaceShapeRecord));
    records[1].faceId = 7;
    records[1].preparedMask = 0x51;
    records[1].lowerCurveDark = static_cast<int32_t *>(allocatorAlloc(inner->allocator, 40));
    inner->shapeRecords = records;
    inner->shapeRecordCount = 2;
    EXPECT_EQ(innerFaceValue(inner, 7, &value), kResultOk);
    EXPECT_EQ(value, 0x51u);
    EXPECT_EQ(innerFaceValue(inner, 8, &value), kResultBadArgument);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(innerFaceValue(nullptr, 8, &value), kResultBadArgument);
    // The records and their curve arrays go with the engine.
}

// Every operation, run with an allocator that fails its N-th allocation for every N until a
// run needs no more, frees everything it took and crashes nowhere.
TEST(Engine, EveryAllocationFailureIsCleanedUp)
{
    using Scenario = std::function<void(BeautyEngine *, EngineImage *)>;
    struct Case {
        const char *name;
        Scenario run;
    } cases[] = {
        {"create and destroy", [](BeautyEngine *, EngineImage *) {}},
        {"beautify", [](BeautyEngine *e, EngineImage *image) {
             VXL_FACE faces[2] = {faceWithId(1), faceWithId(2)};
             BeautySettings settings{};
             settings.smoothingStrength = 40;
             engineBeautify(e, image, faces, 2, &settings);
         }},
        {"analyse unfitted faces", [](BeautyEngine *e, EngineImage *image) {
             VXL_FACE faces[2] = {faceWithId(1), faceWithId(2)};
             BeautySettings settings[2];
             engineAnalyzeFaces(e, image, faces, 2, settings);
             for (VXL_FACE &face : faces)
                 freeFaceBuffers(e->allocator, &face);
         }},
        {"face operation and measure", [](BeautyEngine *e, EngineImage *image) {
             VXL_FACE faces[2] = {faceWithId(1), faceWithId(2)};
             const int32_t pair[2] = {1, 1};
             int32_t tone, colour;
             engineFaceOperation(e, image, faces, 2, pair);
             engineFaceMeasure(e, image, faces, 2, &tone, &colour);
         }},
        {"append, buffers and free", [](BeautyEngine *e, EngineImage *) {
             VXL_FACE *faces = nullptr;
             int32_t count = 0;
             VXL_FACE fresh[2] = {faceWithId(0), faceWithId(0)};
             if (engineAppendFaces(e, fresh, 2, &faces, &count) != kResultOk)
                 return;
             ensureFaceBuffers(e->allocator, &faces[0]);
             ensureFaceBuffers(e->allocator, &faces[1]);
             engineAppendFaces(e, fresh, 1, &faces, &count);
             engineFreeFaces(e, faces, count);
         }},
        {"images", [](BeautyEngine *e, EngineImage *image) {
             EngineImage clone, crop, copy;
             const EngineRect rect{10, 10, 100, 80};
             if (imageClone(e->allocator, image, &clone) == kResultOk)
                 imageRelease(e->allocator, &clone);
             if (cropImage(e->allocator, &rect, image, &crop) == kResultOk)
                 imageRelease(e->allocator, &crop);
             if (makeWorkingCopy(e->allocator, image, 320, &copy) == kResultOk)
                 imageRelease(e->allocator, &copy);
         }},
        {"detection, fitting, the state blob and face edits", [](BeautyEngine *e, EngineImage *image) {
             VXL_FACE faces[2] = {faceWithId(1), faceWithId(2)};
             VXL_FACE *found = nullptr;
             int32_t count = 0;
             uint32_t length = 0;
             engineDetectFaces(e, image, &found, &count);
             if (found)
                 engineFreeFaces(e, found, count);
             engineFitFaces(e, image, faces, 2);
             engineExportState(e, 1000, faces, 2, nullptr, &length);
             const uint8_t blob[48] = {};
             found = nullptr;
             engineImportState(e, blob, sizeof blob, 1000, &found, &count);
             if (found)
                 engineFreeFaces(e, found, count);
             engineReplaceFace(e, &faces[1], faces, 2);
             engineFaceExtraValue(e, &faces[0]);
             for (VXL_FACE &face : faces)
                 freeFaceBuffers(e->allocator, &face);
         }},
        {"set parameters, roll and filters", [](BeautyEngine *e, EngineImage *image) {
             BeautyParams block{};
             block.size = 96;
             e->inner->ops->setParams(e->inner, &block);
             engineSetRoll(e, 30);
             enginePresetFilter(e, image, 2, 0);
         }},
    };
    for (const Case &c : cases) {
        int needed = 0;
        for (int failAt = 1;; ++failAt) {
            TestImage image(640, 480);
            CountingAllocator counter;
            counter.failAt = failAt;
            BeautyEngine *engine = nullptr;
            if (engineCreateWithAllocator(counter.allocator(), &engine) == kResultOk) {
                c.run(engine, &image.image);
                engineDestroy(engine);
            } else {
                EXPECT_EQ(engine, nullptr);
            }
            EXPECT_EQ(counter.liveBlocks(), 0u) << c.name << ", failing allocation " << failAt;
            EXPECT_EQ(counter.badFrees, 0) << c.name << ", failing allocation " << failAt;
            if (counter.allocations < failAt) {
                needed = counter.allocations;
                break;
            }
        }
        EXPECT_GT(needed, 1) << c.name;
    }
}
