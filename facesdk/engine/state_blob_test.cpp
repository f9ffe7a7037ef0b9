#include "facesdk/engine/state_blob.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/engine/engine.h"

namespace {

// An engine on a counting allocator holding two shape records (the first with curves of 5
// columns), and two caller faces, the first with both buffers filled with a pattern.
struct BlobFixture {
    CountingAllocator counter;
    BeautyEngine *engine = nullptr;
    VXL_FACE faces[2] = {};

    BlobFixture()
    {
        EXPECT_EQ(engineCreateWithAllocator(counter.allocator(), &engine), kResultOk);
        engine->operationsUsed = 0x21;
        engine->inner->operationsUsed = 0x108;
        installRecords(engine, 5);
        for (int i = 0; i < 2; ++i) {
            VXL_FACE &face = faces[i];
            face.id = i + 1;
            face.x = 101 + 300 * i;
            face.y = 201;
            face.width = 150;
            face.height = 151;
            face.roll = -7;
            face.eye1X = 131;
            face.eye1Y = 241;
            face.eye2X = 203;
            face.eye2Y = 245;
            face.lowerX = 167;
            face.lowerY = 333;
        }
        EXPECT_EQ(ensureFaceBuffers(engine->allocator, &faces[0]), kResultOk);
        faces[0].pointCount = 68;
        for (int i = 0; i < kFacePointSlots; ++i)
            faces[0].points[i] = {1000 + 2 * i + 1, 3000 - 2 * i};
        faces[0].points[kFacePointSlots].y = 42;      // class slot of the full buffer
        faces[0].points[kFacePointSlots + 1].x = 1;  // fitted flag
        for (uint32_t i = 0; i < kSavedPointsBytes / 4; ++i)
            reinterpret_cast<int32_t *>(faces[0].savedPoints)[i] = int32_t(5 * i + 1);
    }
    ~BlobFixture()
    {
        for (VXL_FACE &face : faces)
            freeFaceBuffers(engine->allocator, &face);
        engineDestroy(engine);
        EXPECT_EQ(counter.liveBlocks(), 0u);
        EXPECT_EQ(counter.badFrees, 0);
    }

    // Two records into the engine's store: the first with three curves of `columns` entries.
    static void installRecords(BeautyEngine *engine, int32_t columns)
    {
        EngineAllocator *allocator = engine->inner->allocator;
        auto *records = static_cast<FaceShapeRecord *>(
            allocatorAlloc(allocator, 2 * sizeof(FaceShapeRecord)));
        std::memset(records, 0, 2 * sizeof(FaceShapeRecord));
        records[0].faceId = 1;
        records[0].curveColumns = columns;
        records[0].curveFirstColumn = 0;
        records[0].curveLastColumn = columns - 1;
        records[0].curvesReady = 1;
        records[0].warpReady = 1;
        records[0].preparedMask = 0x40;
        int32_t **curves[3] = {&records[0].lowerCurveUpper, &records[0].lowerCurveLower,
                               &records[0].lowerCurveDark};
        for (int c = 0; c < 3; ++c) {
            *curves[c] = static_cast<int32_t *>(allocatorAlloc(allocator, 4 * uint32_t(columns)));
            for (int32_t i = 0; i < columns; ++i)
                (*curves[c])[i] = 100 * c + i;
        }
        records[1].faceId = 2;
        records[1].curveColumns = 9;  // not ready: carries no curves
        freeShapeRecords(allocator, engine->inner->shapeRecords, engine->inner->shapeRecordCount);
        engine->inner->shapeRecords = records;
        engine->inner->shapeRecordCount = 2;
    }

    std::vector<uint8_t> exportBlob(int32_t referenceSize, int32_t count = 2)
    {
        uint32_t length = 0;
        EXPECT_EQ(engineExportState(engine, referenceSize, faces, count, nullptr, &length), kResultOk);
        std::vector<uint8_t> blob(length + 8, 0xEE);
        EXPECT_EQ(engineExportState(engine, referenceSize, faces, count, blob.data(), &length),
                  kResultOk);
        for (size_t i = length; i < blob.size(); ++i)
            EXPECT_EQ(blob[i], 0xEE) << "written past the blob at " << i;
        blob.resize(length);
        return blob;
    }
};

uint32_t le32(const std::vector<uint8_t> &blob, size_t at)
{
    return uint32_t(blob[at]) | uint32_t(blob[at + 1]) << 8 | uint32_t(blob[at + 2]) << 16 |
           uint32_t(blob[at + 3]) << 24;
}

void putLe32(std::vector<uint8_t> &blob, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        blob[at + i] = uint8_t(value >> (8 * i));
}

void redigest(std::vector<uint8_t> &blob)
{
    stateDigest(blob.data(), uint32_t(blob.size() - 16), blob.data() + blob.size() - 16);
}

}  // namespace

TEST(StateBlob, SizesOfTheParts)
{
    BlobFixture f;
    uint32_t length = 0;
    ASSERT_EQ(engineExportState(f.engine, 1000, f.faces, 2, nullptr, &length), kResultOk);
    const uint32_t shapes = 8 + 2 * 408 + 3 * 4 * 5;
    EXPECT_EQ(length, 16 + (8 + 4096 + 88) + shapes + 16);

    // A length that does not match only reports the size.
    std::vector<uint8_t> buffer(length + 1, 0xEE);
    uint32_t wrong = length + 1;
    EXPECT_EQ(engineExportState(f.engine, 1000, f.faces, 2, buffer.data(), &wrong), kResultOk);
    EXPECT_EQ(wrong, length);
    EXPECT_EQ(buffer[0], 0xEE);

    // No faces and no records: header, two empty blocks and the digest.
    CountingAllocator counter;
    BeautyEngine *empty = nullptr;
    ASSERT_EQ(engineCreateWithAllocator(counter.allocator(), &empty), kResultOk);
    length = 0;
    ASSERT_EQ(engineExportState(empty, 5, nullptr, 0, nullptr, &length), kResultOk);
    EXPECT_EQ(length, 48u);
    std::vector<uint8_t> blob(48);
    ASSERT_EQ(engineExportState(empty, 5, nullptr, 0, blob.data(), &length), kResultOk);
    EXPECT_EQ(le32(blob, 0), 48u);
    EXPECT_EQ(le32(blob, 12), 5u);
    EXPECT_EQ(le32(blob, 16), 8u);
    EXPECT_EQ(le32(blob, 20), 0u);
    EXPECT_EQ(le32(blob, 24), 8u);
    EXPECT_EQ(le32(blob, 28), 0u);
    EXPECT_EQ(checkStateDigest(counter.allocator(), blob.data(), 48), 1);
    engineDestroy(empty);

    // A null engine still answers with a size.
    length = 0;
    EXPECT_EQ(engineExportState(nullptr, 5, f.faces, 1, nullptr, &length), kResultOk);
    EXPECT_EQ(length, 16u + 8 + 4096 + 8 + 16);
}

TEST(StateBlob, RoundTripRestoresFacesBuffersAndRecords)
{
    BlobFixture source;
    const std::vector<uint8_t> blob = source.exportBlob(1000);
    EXPECT_EQ(le32(blob, 0), blob.size());
    EXPECT_EQ(le32(blob, 4), 0x21u);
    EXPECT_EQ(le32(blob, 8), 0x108u);
    EXPECT_EQ(checkStateDigest(source.counter.allocator(), blob.data(), uint32_t(blob.size())), 1);

    CountingAllocator counter;
    BeautyEngine *engine = nullptr;
    ASSERT_EQ(engineCreateWithAllocator(counter.allocator(), &engine), kResultOk);
    engine->operationsUsed = 0x40;
    VXL_FACE *faces = nullptr;
    int32_t count = -1;
    ASSERT_EQ(engineImportState(engine, blob.data(), uint32_t(blob.size()), 1000, &faces, &count),
              kResultOk);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(engine->operationsUsed, 0x61u);
    EXPECT_EQ(engine->inner->operationsUsed & 0x108u, 0x108u);
    for (int i = 0; i < 2; ++i) {
        VXL_FACE expected = source.faces[i];
        expected.points = faces[i].points;
        expected.savedPoints = faces[i].savedPoints;
        EXPECT_EQ(std::memcmp(&faces[i], &expected, sizeof expected), 0) << i;
    }
    ASSERT_NE(faces[0].points, nullptr);
    ASSERT_NE(faces[0].savedPoints, nullptr);
    EXPECT_EQ(faces[1].points, nullptr);
    EXPECT_EQ(faces[1].savedPoints, nullptr);
    EXPECT_EQ(std::memcmp(faces[0].points, source.faces[0].points, kStatePointBytes), 0);
    EXPECT_EQ(faces[0].points[kFacePointSlots + 1].x, 0);  // the fitted flag is not carried
    EXPECT_EQ(std::memcmp(faces[0].savedPoints, source.faces[0].savedPoints, kSavedPointsBytes), 0);

    const InnerEngine &from = *source.engine->inner;
    const InnerEngine &to = *engine->inner;
    ASSERT_EQ(to.shapeRecordCount, 2u);
    EXPECT_EQ(to.shapeRecords[0].faceId, 1);
    EXPECT_EQ(to.shapeRecords[0].warpReady, 1);
    EXPECT_EQ(to.shapeRecords[0].preparedMask, 0x40u);
    for (auto curve : {&FaceShapeRecord::lowerCurveUpper, &FaceShapeRecord::lowerCurveLower,
                       &FaceShapeRecord::lowerCurveDark}) {
        ASSERT_NE(to.shapeRecords[0].*curve, nullptr);
        EXPECT_NE(to.shapeRecords[0].*curve, from.shapeRecords[0].*curve);
        EXPECT_EQ(std::memcmp(to.shapeRecords[0].*curve, from.shapeRecords[0].*curve, 20), 0);
        EXPECT_EQ(to.shapeRecords[1].*curve, nullptr);
    }
    EXPECT_EQ(to.shapeRecords[1].faceId, 2);

    // Importing again replaces the store; nothing of the first import is left behind.
    VXL_FACE *again = nullptr;
    ASSERT_EQ(engineImportState(engine, blob.data(), uint32_t(blob.size()), 1000, &again, &count),
              kResultOk);
    engineFreeFaces(engine, again, count);
    engineFreeFaces(engine, faces, 2);
    const size_t oneEngine = 1 + 1 + 3 + 1 + 3;  // engine, inner, workers (board, pool, array), records, curves
    EXPECT_EQ(counter.liveBlocks(), oneEngine);
    engineDestroy(engine);
    EXPECT_EQ(counter.liveBlocks(), 0u);
    EXPECT_EQ(counter.badFrees, 0);
}

// Any flipped byte, a shortened or lengthened blob, a blob of 20 bytes, and a blob whose inner
// sizes lie although its digest matches: -9 with the engine and the outputs untouched.
TEST(StateBlob, DamagedBlobsAreRejectedAndChangeNothing)
{
    BlobFixture f;
    const std::vector<uint8_t> good = f.exportBlob(1000);
    const FaceShapeRecord *store = f.engine->inner->shapeRecords;
    const uint32_t used = f.engine->operationsUsed;
    const uint32_t innerUsed = f.engine->inner->operationsUsed;
    const size_t live = f.counter.liveBlocks();

    auto expectRejected = [&](const std::vector<uint8_t> &blob, uint32_t length, const char *what,
                              size_t at) {
        VXL_FACE *faces = reinterpret_cast<VXL_FACE *>(0x1);
        int32_t count = 77;
        EXPECT_EQ(engineImportState(f.engine, blob.data(), length, 1000, &faces, &count),
                  kResultBadRecordSize)
            << what << ' ' << at;
        EXPECT_EQ(faces, reinterpret_cast<VXL_FACE *>(0x1));
        EXPECT_EQ(count, 77);
        EXPECT_EQ(f.engine->inner->shapeRecords, store);
        EXPECT_EQ(f.engine->operationsUsed, used);
        EXPECT_EQ(f.engine->inner->operationsUsed, innerUsed);
        EXPECT_EQ(f.counter.liveBlocks(), live);
    };

    for (size_t at = 0; at < good.size(); at += (at < 64 || at + 64 > good.size()) ? 1 : 37) {
        std::vector<uint8_t> blob = good;
        blob[at] ^= 0x10;
        expectRejected(blob, uint32_t(blob.size()), "flipped byte", at);
    }
    expectRejected(good, uint32_t(good.size() - 1), "one byte short", 0);
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    expectRejected(longer, uint32_t(longer.size()), "one byte long", 0);
    std::vector<uint8_t> twenty(good.begin(), good.begin() + 20);
    expectRejected(twenty, 20, "20 bytes", 0);
    expectRejected(good, 0, "length 0", 0);

    const struct {
        size_t offset;
        uint32_t value;
        const char *what;
    } lies[] = {
        {20, 3, "face count past the faces block"},
        {20, 0x7fffffff, "huge face count"},
        {16, 8, "faces block size"},
        {16 + 8 + 4096 + 88 + 4, 5, "record count"},
        {16 + 8 + 4096 + 88 + 8 + 40, 1000, "curve columns"},
        {16 + 8 + 4096 + 88 + 8 + 40, uint32_t(-5), "negative curve columns"},
    };
    for (const auto &lie : lies) {
        std::vector<uint8_t> blob = good;
        putLe32(blob, lie.offset, lie.value);
        redigest(blob);
        expectRejected(blob, uint32_t(blob.size()), lie.what, lie.offset);
    }
}

// Values the engine could never have exported, in a blob whose digest matches: a roll outside a
// turn (or a negative size asked for) answers -4, every other value out of range -9; the engine
// and the outputs are untouched either way.
TEST(StateBlob, ValuesOutOfRangeAreRefusedAndChangeNothing)
{
    BlobFixture f;
    const std::vector<uint8_t> good = f.exportBlob(1000);
    const FaceShapeRecord *store = f.engine->inner->shapeRecords;
    const size_t live = f.counter.liveBlocks();
    constexpr size_t kFace = 16 + 8;                     // the first face record
    constexpr size_t kPoints = kFace + 2 * 88;           // its point buffer
    constexpr size_t kSaved = kPoints + kStatePointBytes; // its saved points
    constexpr size_t kRecord = 16 + 8 + 4096 + 88 + 8;   // the first shape record
    constexpr size_t kCurves = kRecord + 2 * sizeof(FaceShapeRecord);
    const struct {
        size_t offset;
        int32_t value;
        int32_t currentSize;
        int expected;
        const char *what;
    } cases[] = {
        {12, -1, 1000, kResultBadRecordSize, "negative stored size"},
        {12, 1000, -1, kResultBadArgument, "negative size asked for"},
        {12, 1, 1000, kResultBadRecordSize, "a factor that takes the faces out of range"},
        {kFace + offsetof(VXL_FACE, roll), 181, 1000, kResultBadArgument, "roll 181"},
        {kFace + offsetof(VXL_FACE, roll), INT32_MIN, 1000, kResultBadArgument, "roll INT_MIN"},
        {kFace + offsetof(VXL_FACE, pointCount), 251, 1000, kResultBadRecordSize, "251 points"},
        {kFace + offsetof(VXL_FACE, pointCount), -1, 1000, kResultBadRecordSize, "-1 points"},
        {kFace + offsetof(VXL_FACE, width), -5, 1000, kResultBadRecordSize, "negative width"},
        {kFace + offsetof(VXL_FACE, x), 40000, 1000, kResultBadRecordSize, "box far outside"},
        {kFace + offsetof(VXL_FACE, eye2Y), INT32_MIN, 1000, kResultBadRecordSize, "eye"},
        {kFace + offsetof(VXL_FACE, preparedMask), 0x20000, 1000, kResultBadRecordSize, "mask"},
        {kPoints + 4, 40000, 1000, kResultBadRecordSize, "point"},
        {kSaved + 8, INT32_MIN, 1000, kResultBadRecordSize, "saved point"},
        {kRecord + offsetof(FaceShapeRecord, faceId), -1, 1000, kResultBadRecordSize, "face id"},
        {kRecord + offsetof(FaceShapeRecord, curvesReady), 2, 1000, kResultBadRecordSize, "ready 2"},
        {kRecord + offsetof(FaceShapeRecord, curveFirstColumn), 4, 1000, kResultBadRecordSize,
         "first column not before the last"},
        {kCurves + 8, 1 << 20, 1000, kResultBadRecordSize, "curve value"},
        {kRecord + offsetof(FaceShapeRecord, eyePartFaceWidth), -1, 1000, kResultBadRecordSize,
         "eye part width"},
        {kRecord + offsetof(FaceShapeRecord, eyePart) + 8, INT32_MAX, 1000, kResultBadRecordSize,
         "eye part"},
        {kRecord + offsetof(FaceShapeRecord, warpPart) + 8, -1, 1000, kResultBadRecordSize,
         "anchor box width"},
        {kRecord + offsetof(FaceShapeRecord, warpPart) + 16, INT32_MIN, 1000, kResultBadRecordSize,
         "anchor centre"},
        {kRecord + offsetof(FaceShapeRecord, warpReady), 7, 1000, kResultBadRecordSize, "warp ready"},
        {kRecord + offsetof(FaceShapeRecord, eyeRectPart) + 12, INT32_MAX, 1000,
         kResultBadRecordSize, "eye rectangles"},
        {kRecord + offsetof(FaceShapeRecord, widthNote0400), -3, 1000, kResultBadRecordSize,
         "width note"},
        {kRecord + offsetof(FaceShapeRecord, preparedMask), 0x40000, 1000, kResultBadRecordSize,
         "record mask"},
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> blob = good;
        putLe32(blob, c.offset, uint32_t(c.value));
        redigest(blob);
        VXL_FACE *faces = reinterpret_cast<VXL_FACE *>(0x1);
        int32_t count = 77;
        EXPECT_EQ(engineImportState(f.engine, blob.data(), uint32_t(blob.size()), c.currentSize,
                                    &faces, &count),
                  c.expected)
            << c.what;
        EXPECT_EQ(faces, reinterpret_cast<VXL_FACE *>(0x1)) << c.what;
        EXPECT_EQ(count, 77) << c.what;
        EXPECT_EQ(f.engine->inner->shapeRecords, store) << c.what;
        EXPECT_EQ(f.counter.liveBlocks(), live) << c.what;
    }

    // Export writes nothing import would refuse.
    uint32_t length = 0;
    EXPECT_EQ(engineExportState(f.engine, -1, f.faces, 2, nullptr, &length), kResultBadArgument);
    f.faces[1].roll = 181;
    EXPECT_EQ(engineExportState(f.engine, 1000, f.faces, 2, nullptr, &length), kResultBadArgument);
    EXPECT_EQ(length, 0u);
}

TEST(StateBlob, ImportIntoAnotherSizeRescalesFaces)
{
    BlobFixture f;
    const std::vector<uint8_t> blob = f.exportBlob(1000);
    VXL_FACE *faces = nullptr;
    int32_t count = 0;
    ASSERT_EQ(engineImportState(f.engine, blob.data(), uint32_t(blob.size()), 500, &faces, &count),
              kResultOk);
    ASSERT_EQ(count, 2);
    // Halves, with .5 rounded upwards.
    EXPECT_EQ(faces[0].x, 51);
    EXPECT_EQ(faces[1].x, 201);
    EXPECT_EQ(faces[0].y, 101);
    EXPECT_EQ(faces[0].width, 75);
    EXPECT_EQ(faces[0].height, 76);
    EXPECT_EQ(faces[0].roll, -7);
    EXPECT_EQ(faces[0].eye1X, 66);
    EXPECT_EQ(faces[0].eye2Y, 123);
    EXPECT_EQ(faces[0].lowerY, 167);
    for (int i = 0; i < kFacePointSlots; ++i) {
        const VXL_POINT expected = i < 68 ? VXL_POINT{500 + i + 1, 1500 - i}
                                          : VXL_POINT{1000 + 2 * i + 1, 3000 - 2 * i};
        EXPECT_EQ(faces[0].points[i].x, expected.x) << i;
        EXPECT_EQ(faces[0].points[i].y, expected.y) << i;
    }
    EXPECT_EQ(faces[0].points[kFacePointSlots].y, 42);  // the class slot is not a point
    const auto *saved = reinterpret_cast<const int32_t *>(faces[0].savedPoints);
    EXPECT_EQ(saved[0], 1);        // 1 x 0.5 + 0.5
    EXPECT_EQ(saved[1], 3);        // 6 x 0.5 + 0.5
    EXPECT_EQ(saved[135], 338);    // 676 x 0.5 + 0.5 (last of 68 slots)
    EXPECT_EQ(saved[136], 681);    // slot 68 stays
    engineFreeFaces(f.engine, faces, count);

    // A blob stored with reference size 0 is taken as it is.
    std::vector<uint8_t> zero = blob;
    putLe32(zero, 12, 0);
    redigest(zero);
    ASSERT_EQ(engineImportState(f.engine, zero.data(), uint32_t(zero.size()), 500, &faces, &count),
              kResultOk);
    EXPECT_EQ(faces[0].x, 101);
    engineFreeFaces(f.engine, faces, count);
}

TEST(StateBlob, NullEngineAndMissingOutputs)
{
    BlobFixture f;
    const std::vector<uint8_t> blob = f.exportBlob(1000);
    VXL_FACE *faces = nullptr;
    int32_t count = 0;
    EXPECT_EQ(engineImportState(nullptr, blob.data(), uint32_t(blob.size()), 1000, &faces, &count),
              kResultOk);
    EXPECT_EQ(faces, nullptr);
    EXPECT_EQ(engineImportState(f.engine, blob.data(), uint32_t(blob.size()), 1000, nullptr, &count),
              kResultBadArgument);
    EXPECT_EQ(engineImportState(f.engine, nullptr, 100, 1000, &faces, &count), kResultBadRecordSize);
    EXPECT_EQ(engineExportState(f.engine, 1000, f.faces, 2, nullptr, nullptr), kResultOk);

    // No faces in the blob: a null array and count 0; the store is replaced by the blob's.
    const std::vector<uint8_t> noFaces = f.exportBlob(1000, 0);
    count = 9;
    faces = reinterpret_cast<VXL_FACE *>(0x1);
    ASSERT_EQ(engineImportState(f.engine, noFaces.data(), uint32_t(noFaces.size()), 1000, &faces,
                                &count),
              kResultOk);
    EXPECT_EQ(faces, nullptr);
    EXPECT_EQ(count, 0);
}

// Every allocation of an import fails in turn: -3, no face array handed out, the previous store
// kept, nothing leaked; the first run without a failure succeeds.
TEST(StateBlob, AllocationFailuresLeaveTheEngineAsItWas)
{
    BlobFixture f;
    const std::vector<uint8_t> blob = f.exportBlob(1000);
    const FaceShapeRecord *store = f.engine->inner->shapeRecords;
    const size_t live = f.counter.liveBlocks();
    for (int failAt = 1;; ++failAt) {
        f.counter.failAt = f.counter.allocations + failAt;
        VXL_FACE *faces = nullptr;
        int32_t count = 0;
        const int result =
            engineImportState(f.engine, blob.data(), uint32_t(blob.size()), 500, &faces, &count);
        if (result == kResultOk) {
            EXPECT_GT(failAt, 6);  // digest scratch, array, flags, two buffers, records, curves
            engineFreeFaces(f.engine, faces, count);
            break;
        }
        ASSERT_TRUE(result == kResultNoMemory || result == kResultBadRecordSize) << failAt;
        EXPECT_EQ(faces, nullptr) << failAt;
        EXPECT_EQ(f.engine->inner->shapeRecords, store) << failAt;
        EXPECT_EQ(f.counter.liveBlocks(), live) << failAt;
    }
    f.counter.failAt = 0;
}
