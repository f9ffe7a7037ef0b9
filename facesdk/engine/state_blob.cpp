// The face state blob: sizes, export, the digest check, import and the rescaling of imported
// faces to the current image size.
#include "facesdk/engine/state_blob.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/engine.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/md5.h"
#include "facesdk/engine/params.h"
#include "facesdk/engine/shape_record.h"
#include "facesdk/engine/warp_anchor.h"

namespace {

constexpr uint32_t kFaceRecordBytes = sizeof(VXL_FACE);
constexpr uint32_t kShapeRecordBytes = sizeof(FaceShapeRecord);
constexpr uint32_t kFaceWithBuffersBytes = kFaceRecordBytes + kStatePointBytes + kSavedPointsBytes;
constexpr int kCurvesPerRecord = 3;

// ---- Sizes ----------------------------------------------------------------------------------

bool faceHasBuffers(const VXL_FACE &face) { return face.savedPoints && face.points; }

// Bytes of curve data a record carries: three curves when curvesReady is set. A negative
// column count carries nothing (it could not describe an array).
uint64_t curveBytes(const FaceShapeRecord &record)
{
    if (!record.curvesReady || record.curveColumns <= 0)
        return 0;
    return uint64_t(kCurvesPerRecord) * sizeof(int32_t) * uint64_t(record.curveColumns);
}

uint64_t facesBlockBytes(const VXL_FACE *faces, int32_t count)
{
    uint64_t bytes = kStateBlockHeaderBytes;
    for (int32_t i = 0; i < count; ++i)
        bytes += faceHasBuffers(faces[i]) ? kFaceWithBuffersBytes : kFaceRecordBytes;
    return bytes;
}

uint64_t shapeBlockBytes(const FaceShapeRecord *records, uint32_t count)
{
    uint64_t bytes = kStateBlockHeaderBytes;
    for (uint32_t i = 0; i < count; ++i)
        bytes += kShapeRecordBytes + curveBytes(records[i]);
    return bytes;
}

void writeLe32(uint8_t *at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = uint8_t(value >> (8 * i));
}

uint32_t readLe32(const uint8_t *at)
{
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

// The curve arrays in the order of their pointer fields.
int32_t **curveFields(FaceShapeRecord &record, int index)
{
    int32_t **fields[kCurvesPerRecord] = {&record.lowerCurveUpper, &record.lowerCurveLower,
                                          &record.lowerCurveDark};
    return fields[index];
}

// ---- Reading a blob -------------------------------------------------------------------------

// Where the parts of a blob whose digest matched lie, once every inner size is checked against
// the given length.
struct BlobLayout {
    uint32_t faceCount;          // k
    const uint8_t *faceRecords;  // k records
    const uint8_t *faceBuffers;  // buffers of the faces that have both
    uint32_t recordCount;        // m
    const uint8_t *shapeRecords; // m records
    const uint8_t *curves;       // curve data of the records with curvesReady
};

// False when a size inside the blob does not agree with the records it describes or reaches
// into the digest.
bool readLayout(const uint8_t *blob, uint32_t length, BlobLayout *layout)
{
    const uint64_t end = uint64_t(length) - kStateDigestBytes;
    uint64_t at = kStateHeaderBytes;
    if (at + kStateBlockHeaderBytes > end)
        return false;
    const uint32_t facesBytes = readLe32(blob + at);
    layout->faceCount = readLe32(blob + at + 4);
    layout->faceRecords = blob + at + kStateBlockHeaderBytes;
    if (at + kStateBlockHeaderBytes + uint64_t(layout->faceCount) * kFaceRecordBytes > end)
        return false;
    uint64_t expected = kStateBlockHeaderBytes;
    for (uint32_t i = 0; i < layout->faceCount; ++i) {
        VXL_FACE face;
        std::memcpy(&face, layout->faceRecords + uint64_t(i) * kFaceRecordBytes, sizeof face);
        expected += faceHasBuffers(face) ? kFaceWithBuffersBytes : kFaceRecordBytes;
    }
    if (expected != facesBytes || at + facesBytes > end)
        return false;
    layout->faceBuffers = layout->faceRecords + uint64_t(layout->faceCount) * kFaceRecordBytes;

    at += facesBytes;
    if (at + kStateBlockHeaderBytes > end)
        return false;
    const uint32_t shapesBytes = readLe32(blob + at);
    layout->recordCount = readLe32(blob + at + 4);
    layout->shapeRecords = blob + at + kStateBlockHeaderBytes;
    if (at + kStateBlockHeaderBytes + uint64_t(layout->recordCount) * kShapeRecordBytes > end)
        return false;
    expected = kStateBlockHeaderBytes;
    for (uint32_t i = 0; i < layout->recordCount; ++i) {
        FaceShapeRecord record;
        std::memcpy(&record, layout->shapeRecords + uint64_t(i) * kShapeRecordBytes, sizeof record);
        expected += kShapeRecordBytes + curveBytes(record);
    }
    if (expected != shapesBytes || at + shapesBytes > end)
        return false;
    layout->curves = layout->shapeRecords + uint64_t(layout->recordCount) * kShapeRecordBytes;
    return true;
}

void freeImportedFaces(EngineAllocator *allocator, VXL_FACE *faces, uint32_t count)
{
    if (!faces)
        return;
    for (uint32_t i = 0; i < count; ++i)
        freeFaceBuffers(allocator, &faces[i]);
    allocatorFree(allocator, faces);
}

// The faces of the blob as a new array with buffers of their own (null for k = 0).
// 0 or -3, with nothing left allocated.
int importFaces(EngineAllocator *allocator, const BlobLayout &layout, VXL_FACE **out)
{
    *out = nullptr;
    const uint32_t count = layout.faceCount;
    if (count == 0)
        return kResultOk;
    const uint64_t arrayBytes = uint64_t(count) * kFaceRecordBytes;
    auto *faces = arrayBytes <= UINT32_MAX
                      ? static_cast<VXL_FACE *>(allocatorAlloc(allocator, uint32_t(arrayBytes)))
                      : nullptr;
    auto *marked = static_cast<uint8_t *>(allocatorAlloc(allocator, count));
    if (!faces || !marked) {
        allocatorFree(allocator, faces);
        allocatorFree(allocator, marked);
        return kResultNoMemory;
    }
    std::memcpy(faces, layout.faceRecords, arrayBytes);
    for (uint32_t i = 0; i < count; ++i) {
        marked[i] = faceHasBuffers(faces[i]) ? 1 : 0;
        faces[i].points = nullptr;
        faces[i].savedPoints = nullptr;
    }
    const uint8_t *stored = layout.faceBuffers;
    int result = kResultOk;
    for (uint32_t i = 0; i < count && result == kResultOk; ++i) {
        if (!marked[i])
            continue;
        auto *points = static_cast<VXL_POINT *>(allocatorAlloc(allocator, kPointBufferBytes));
        if (!points) {
            result = kResultNoMemory;
            break;
        }
        std::memcpy(points, stored, kStatePointBytes);
        std::memset(reinterpret_cast<uint8_t *>(points) + kStatePointBytes, 0,
                    kPointBufferBytes - kStatePointBytes);  // the fitted flag starts at 0
        faces[i].points = points;
        stored += kStatePointBytes;
        auto *saved = static_cast<uint8_t *>(allocatorAlloc(allocator, kSavedPointsBytes));
        if (!saved) {
            result = kResultNoMemory;
            break;
        }
        std::memcpy(saved, stored, kSavedPointsBytes);
        faces[i].savedPoints = saved;
        stored += kSavedPointsBytes;
    }
    allocatorFree(allocator, marked);
    if (result != kResultOk) {
        // freeFaceBuffers also clears pointCount, which does not matter for an array thrown away.
        freeImportedFaces(allocator, faces, count);
        return result;
    }
    *out = faces;
    return kResultOk;
}

// The blob's shape records as a new array with curve arrays of their own (null for m = 0).
// 0 or -3, with nothing left allocated.
int importShapeRecords(EngineAllocator *allocator, const BlobLayout &layout, FaceShapeRecord **out)
{
    *out = nullptr;
    const uint32_t count = layout.recordCount;
    if (count == 0)
        return kResultOk;
    const uint64_t arrayBytes = uint64_t(count) * kShapeRecordBytes;
    auto *records = arrayBytes <= UINT32_MAX ? static_cast<FaceShapeRecord *>(
                                                   allocatorAlloc(allocator, uint32_t(arrayBytes)))
                                             : nullptr;
    if (!records)
        return kResultNoMemory;
    std::memcpy(records, layout.shapeRecords, arrayBytes);
    for (uint32_t i = 0; i < count; ++i)
        for (int c = 0; c < kCurvesPerRecord; ++c)
            *curveFields(records[i], c) = nullptr;
    const uint8_t *stored = layout.curves;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t bytes = curveBytes(records[i]) / kCurvesPerRecord;
        if (bytes == 0)
            continue;
        for (int c = 0; c < kCurvesPerRecord; ++c) {
            auto *curve = bytes <= UINT32_MAX
                              ? static_cast<int32_t *>(allocatorAlloc(allocator, uint32_t(bytes)))
                              : nullptr;
            if (!curve) {
                freeShapeRecords(allocator, records, count);
                return kResultNoMemory;
            }
            std::memcpy(curve, stored, bytes);
            *curveFields(records[i], c) = curve;
            stored += bytes;
        }
    }
    *out = records;
    return kResultOk;
}

// ---- Range checks ---------------------------------------------------------------------------
// An imported value the engine could never have exported is refused: the stages compute with
// face geometry and the shape records in 32 bits and rely on these ranges.

bool coordinate(int32_t v) { return v >= -kFaceCoordinateLimit && v <= kFaceCoordinateLimit; }
bool size(int32_t v) { return v >= 0 && v <= kFaceCoordinateLimit; }
bool flag(int32_t v) { return v == 0 || v == 1; }

// Every 32-bit word of a stored part is a coordinate, a size or a flag.
bool wordsAreCoordinates(const uint8_t *bytes, size_t count)
{
    for (size_t i = 0; i < count; i += sizeof(int32_t)) {
        int32_t v;
        std::memcpy(&v, bytes + i, sizeof v);
        if (!coordinate(v))
            return false;
    }
    return true;
}

// The face's own values and its buffers (rolls are checked apart: they answer -4).
bool faceValuesValid(const VXL_FACE &face)
{
    for (int32_t v : {face.x, face.y, face.eye1X, face.eye1Y, face.eye2X, face.eye2Y, face.lowerX,
                      face.lowerY})
        if (!coordinate(v))
            return false;
    if (!size(face.width) || !size(face.height) || face.pointCount < 0 ||
        face.pointCount > kFacePointSlots || (face.preparedMask & ~kAllFeatures) != 0)
        return false;
    if (face.points &&
        !wordsAreCoordinates(reinterpret_cast<const uint8_t *>(face.points),
                             size_t(face.pointCount) * sizeof(VXL_POINT)))
        return false;
    return !face.savedPoints || wordsAreCoordinates(face.savedPoints, kSavedPointsBytes);
}

bool shapeRecordValid(const FaceShapeRecord &r)
{
    if (r.faceId < 0 || !flag(r.curvesReady) || !size(r.curveColumns) || !size(r.curveScale) ||
        !coordinate(r.curveFirstColumn) || !coordinate(r.curveLastColumn))
        return false;
    if (r.curvesReady && (r.curveFirstColumn < 0 || r.curveFirstColumn >= r.curveLastColumn ||
                          r.curveLastColumn >= r.curveColumns))
        return false;
    for (int c = 0; c < kCurvesPerRecord; ++c) {
        FaceShapeRecord copy = r;
        const int32_t *curve = *curveFields(copy, c);
        if (curve && !wordsAreCoordinates(reinterpret_cast<const uint8_t *>(curve),
                                          size_t(r.curveColumns) * sizeof(int32_t)))
            return false;
    }
    const WarpAnchor anchor = readWarpAnchor(r);
    return wordsAreCoordinates(r.eyePart, sizeof r.eyePart) && size(r.eyePartFaceWidth) &&
           flag(r.eyePartReady) && wordsAreCoordinates(r.refinedEyePart, sizeof r.refinedEyePart) &&
           flag(r.refinedEyeBuilt) && flag(r.refinedEyeReady) &&
           wordsAreCoordinates(reinterpret_cast<const uint8_t *>(r.refinedEyeCentres),
                               sizeof r.refinedEyeCentres) &&
           wordsAreCoordinates(r.warpPart, sizeof r.warpPart) && size(anchor.boxWidth) &&
           size(anchor.boxHeight) && flag(r.warpReady) && flag(r.warpBuilt) &&
           wordsAreCoordinates(r.eyeRectPart, sizeof r.eyeRectPart) &&
           flag(r.widthNote0200Set) && flag(r.widthNote0400Set) && flag(r.widthNote0800Set) &&
           size(r.widthNote0200) && size(r.widthNote0400) && size(r.widthNote0800) &&
           (r.preparedMask & ~kAllFeatures) == 0;
}

// kResultOk, kResultBadArgument for a roll outside a turn, kResultBadRecordSize for any other
// value out of range.
int importedValuesCheck(const VXL_FACE *faces, uint32_t faceCount, const FaceShapeRecord *records,
                        uint32_t recordCount)
{
    if (!faceRollsValid(faces, int32_t(faceCount)))
        return kResultBadArgument;
    for (uint32_t i = 0; i < faceCount; ++i)
        if (!faceValuesValid(faces[i]))
            return kResultBadRecordSize;
    for (uint32_t i = 0; i < recordCount; ++i)
        if (!shapeRecordValid(records[i]))
            return kResultBadRecordSize;
    return kResultOk;
}

// ---- Rescaling ------------------------------------------------------------------------------

int32_t rescaled(int32_t v, double factor)
{
    const double scaled = double(v) * factor + 0.5;
    // Out-of-range values saturate instead of being undefined.
    if (!(scaled < 2147483647.0))
        return INT32_MAX;
    if (!(scaled > -2147483648.0))
        return INT32_MIN;
    return int32_t(scaled);
}

void rescalePoints(VXL_POINT *points, int32_t count, double factor)
{
    for (int32_t i = 0; i < count; ++i) {
        points[i].x = rescaled(points[i].x, factor);
        points[i].y = rescaled(points[i].y, factor);
    }
}

void rescaleFace(VXL_FACE *face, double factor)
{
    for (int32_t *v : {&face->x, &face->y, &face->width, &face->height, &face->eye1X, &face->eye1Y,
                       &face->eye2X, &face->eye2Y, &face->lowerX, &face->lowerY})
        *v = rescaled(*v, factor);
    // The stored count is not trusted past the 250 slots both buffers have.
    const int32_t slots = face->pointCount < 0 ? 0
                          : face->pointCount > kFacePointSlots ? kFacePointSlots
                                                               : face->pointCount;
    if (face->points)
        rescalePoints(face->points, slots, factor);
    if (face->savedPoints)
        rescalePoints(reinterpret_cast<VXL_POINT *>(face->savedPoints), slots, factor);
}

}  // namespace

// ---- Digest ---------------------------------------------------------------------------------

void stateDigest(const uint8_t *bytes, uint32_t length, uint8_t *digest)
{
    md5Digest(bytes, length, digest);
}

int checkStateDigest(EngineAllocator *allocator, const uint8_t *blob, uint32_t length)
{
    if (!blob || length <= kStateShortestRejected)
        return 0;
    auto *digest = static_cast<uint8_t *>(allocatorAlloc(allocator, kStateDigestBytes));
    if (!digest)
        return 0;
    stateDigest(blob, length - kStateDigestBytes, digest);
    const bool same = std::memcmp(digest, blob + length - kStateDigestBytes, kStateDigestBytes) == 0;
    allocatorFree(allocator, digest);
    return same ? 1 : 0;
}

// ---- Export and import ----------------------------------------------------------------------

int engineExportState(BeautyEngine *engine, int32_t referenceSize, const VXL_FACE *faces,
                      int32_t count, uint8_t *buffer, uint32_t *length)
{
    if (!length)
        return kResultOk;
    if (!faces || count < 0)
        count = 0;
    // What import would refuse is not written: a negative reference size, a face out of range.
    if (referenceSize < 0 || !faceRollsValid(faces, count))
        return kResultBadArgument;
    for (int32_t i = 0; i < count; ++i)
        if (!faceValuesValid(faces[i]))
            return kResultBadArgument;
    const InnerEngine *inner = engine ? engine->inner : nullptr;
    const FaceShapeRecord *records = inner ? inner->shapeRecords : nullptr;
    const uint32_t recordCount = records ? inner->shapeRecordCount : 0;

    const uint64_t facesBytes = facesBlockBytes(faces, count);
    const uint64_t shapesBytes = shapeBlockBytes(records, recordCount);
    const uint64_t total = kStateHeaderBytes + facesBytes + shapesBytes + kStateDigestBytes;
    // A blob whose size does not fit its own size field cannot be written or read back.
    if (total > UINT32_MAX)
        return kResultBadArgument;
    const uint32_t n = uint32_t(total);
    if (*length != n || !buffer) {
        *length = n;
        return kResultOk;
    }

    std::memset(buffer, 0, n);
    writeLe32(buffer, n);
    writeLe32(buffer + 4, engine ? engine->operationsUsed : 0);
    writeLe32(buffer + 8, inner ? inner->operationsUsed : 0);
    writeLe32(buffer + 12, uint32_t(referenceSize));

    uint8_t *at = buffer + kStateHeaderBytes;
    writeLe32(at, uint32_t(facesBytes));
    writeLe32(at + 4, uint32_t(count));
    at += kStateBlockHeaderBytes;
    if (count > 0)
        std::memcpy(at, faces, size_t(count) * kFaceRecordBytes);
    at += size_t(count) * kFaceRecordBytes;
    for (int32_t i = 0; i < count; ++i) {
        if (!faceHasBuffers(faces[i]))
            continue;
        std::memcpy(at, faces[i].points, kStatePointBytes);
        at += kStatePointBytes;
        std::memcpy(at, faces[i].savedPoints, kSavedPointsBytes);
        at += kSavedPointsBytes;
    }

    writeLe32(at, uint32_t(shapesBytes));
    writeLe32(at + 4, recordCount);
    at += kStateBlockHeaderBytes;
    if (recordCount > 0)
        std::memcpy(at, records, size_t(recordCount) * kShapeRecordBytes);
    at += size_t(recordCount) * kShapeRecordBytes;
    for (uint32_t i = 0; i < recordCount; ++i) {
        const size_t bytes = size_t(curveBytes(records[i]) / kCurvesPerRecord);
        if (bytes == 0)
            continue;
        FaceShapeRecord record = records[i];
        for (int c = 0; c < kCurvesPerRecord; ++c) {
            // A record marked ready without an array keeps its place in the blob as zeros.
            if (const int32_t *curve = *curveFields(record, c))
                std::memcpy(at, curve, bytes);
            at += bytes;
        }
    }
    stateDigest(buffer, n - kStateDigestBytes, buffer + n - kStateDigestBytes);
    return kResultOk;
}

int engineImportState(BeautyEngine *engine, const uint8_t *blob, uint32_t length,
                      int32_t referenceSize, VXL_FACE **faces, int32_t *count)
{
    if (!engine)
        return kResultOk;
    if (!faces || !count || !engine->inner || referenceSize < 0)
        return kResultBadArgument;
    if (!checkStateDigest(engine->allocator, blob, length))
        return kResultBadRecordSize;
    BlobLayout layout;
    if (!readLayout(blob, length, &layout) || layout.faceCount > uint32_t(INT32_MAX))
        return kResultBadRecordSize;
    // The caller's reference size of the picture, never negative when exported.
    const int32_t storedSize = int32_t(readLe32(blob + 12));
    if (storedSize < 0)
        return kResultBadRecordSize;

    // All or nothing: the faces are handed out and the store replaced only when both were made.
    InnerEngine *inner = engine->inner;
    VXL_FACE *imported = nullptr;
    FaceShapeRecord *records = nullptr;
    int result = importFaces(engine->allocator, layout, &imported);
    if (result == kResultOk)
        result = importShapeRecords(inner->allocator, layout, &records);
    // A stored size of 0 gives no usable factor; such faces are taken as they are.
    if (result == kResultOk && storedSize != referenceSize && storedSize != 0) {
        const double factor = double(referenceSize) / double(storedSize);
        for (uint32_t i = 0; i < layout.faceCount; ++i)
            rescaleFace(&imported[i], factor);
    }
    // The values are checked as the stages will see them: rescaled.
    if (result == kResultOk)
        result = importedValuesCheck(imported, layout.faceCount, records, layout.recordCount);
    if (result != kResultOk) {
        freeImportedFaces(engine->allocator, imported, layout.faceCount);
        freeShapeRecords(inner->allocator, records, layout.recordCount);
        return result;
    }

    engine->operationsUsed |= readLe32(blob + 4);
    inner->operationsUsed |= readLe32(blob + 8);
    if (records) {
        freeShapeRecords(inner->allocator, inner->shapeRecords, inner->shapeRecordCount);
        inner->shapeRecords = records;
        inner->shapeRecordCount = layout.recordCount;
    }
    *faces = imported;
    *count = int32_t(layout.faceCount);
    return kResultOk;
}
