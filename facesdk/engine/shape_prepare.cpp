// Face shape preparation.
//
// Divisions: shared helpers; the record store; building (the part table, innerFitFaces); the
// landmark check and ranking. The run's driver calls the building and the landmark check
// directly (beautify_run.cpp).
#include "facesdk/engine/shape_prepare.h"

#include <algorithm>
#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/eye_parts.h"
#include "facesdk/engine/eye_refine.h"
#include "facesdk/engine/face_curves.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/lower_face.h"
#include "facesdk/engine/row_bands.h"
#include "facesdk/engine/warp_anchor.h"

// ---- Shared helpers -------------------------------------------------------------------------

int combinePartResult(int result, int part)
{
    if (part == kResultOk)
        return kResultOk;
    if (part == kResultNothingToDo)
        return result == kResultOk ? kResultOk : kResultNothingToDo;
    return part;
}

void makeScratchEntry(const FaceWork &face, FaceListEntry *entry)
{
    std::memset(entry, 0, sizeof *entry);
    entry->face = face;
    entry->face.size = sizeof(FaceWork);
    entry->inUse = 1;
}

int faceInsideImage(const FaceWork &face, const EngineImage &image)
{
    return faceRegionValid(&face.box, &face.eye1Box, &face.eye2Box, image.width, image.height);
}

int checkPartEntry(const FaceListEntry &entry, const EngineImage &image)
{
    if (!faceInsideImage(entry.face, image))
        return kResultBadArgument;
    return entry.inUse && bothEyeBoxesPresent(entry.face) ? kResultOk : kResultNothingToDo;
}

void turnSineCosine(int32_t angle, int32_t *sine, int32_t *cosine)
{
    const int32_t index = turnIndex5(angle);
    *sine = sineTable5Fixed[index];
    *cosine = cosineTable5Fixed[index];
}

void rotatePointsAbout(VXL_POINT *points, int32_t count, int32_t cx, int32_t cy, int32_t angle)
{
    int32_t s = 0, c = 0;
    turnSineCosine(angle, &s, &c);
    // In 64 bits: points of stored faces may lie far from the centre (held to the coordinate
    // limit afterwards); within it the results are those of the 32-bit products.
    const auto turned = [](int64_t centre, int64_t q16) {
        const int64_t rounded = (((q16 + (q16 >> 63)) >> 15) + 1) >> 1;
        return int32_t(std::clamp<int64_t>(centre + rounded, -kFaceCoordinateLimit, kFaceCoordinateLimit));
    };
    for (int32_t i = 0; i < count; ++i) {
        const int64_t dx = int64_t(points[i].x) - cx, dy = int64_t(points[i].y) - cy;
        points[i].x = turned(cx, dx * c - dy * s);
        points[i].y = turned(cy, dx * s + dy * c);
    }
}

void scalePoints1024(VXL_POINT *points, int32_t count, int32_t f)
{
    for (int32_t i = 0; i < count; ++i) {
        points[i].x = scaleFaceCoordinateQ10(points[i].x, f);
        points[i].y = scaleFaceCoordinateQ10(points[i].y, f);
    }
}

// ---- The record store -----------------------------------------------------------------------

namespace {

bool recordIsFree(const FaceShapeRecord &record)
{
    const auto *bytes = reinterpret_cast<const uint8_t *>(&record);
    return std::all_of(bytes, bytes + sizeof record, [](uint8_t b) { return b == 0; });
}

}  // namespace

FaceShapeRecord *takeFreeShapeRecord(InnerEngine *inner)
{
    if (!inner || !inner->shapeRecords)
        return nullptr;
    for (uint32_t i = 0; i < inner->shapeRecordCount; ++i)
        if (recordIsFree(inner->shapeRecords[i]))
            return &inner->shapeRecords[i];
    return nullptr;
}

int growShapeRecords(InnerEngine *inner, uint32_t newCount)
{
    if (!inner)
        return kResultBadArgument;
    if (newCount == inner->shapeRecordCount && (newCount == 0 || inner->shapeRecords))
        return kResultOk;
    if (newCount == 0) {
        freeShapeRecords(inner->allocator, inner->shapeRecords, inner->shapeRecordCount);
        inner->shapeRecords = nullptr;
        inner->shapeRecordCount = 0;
        return kResultOk;
    }
    if (uint64_t(newCount) * sizeof(FaceShapeRecord) > UINT32_MAX)
        return kResultNoMemory;
    auto *records = static_cast<FaceShapeRecord *>(
        allocatorAlloc(inner->allocator, newCount * uint32_t(sizeof(FaceShapeRecord))));
    if (!records)
        return kResultNoMemory;
    std::memset(records, 0, newCount * sizeof(FaceShapeRecord));
    const uint32_t kept = inner->shapeRecords ? std::min(newCount, inner->shapeRecordCount) : 0;
    if (kept > 0)
        std::memcpy(records, inner->shapeRecords, kept * sizeof(FaceShapeRecord));
    // Records that no longer fit take their curve arrays with them.
    if (inner->shapeRecords) {
        for (uint32_t i = kept; i < inner->shapeRecordCount; ++i)
            for (int32_t *curve : {inner->shapeRecords[i].lowerCurveDark,
                                   inner->shapeRecords[i].lowerCurveUpper,
                                   inner->shapeRecords[i].lowerCurveLower})
                allocatorFree(inner->allocator, curve);
        allocatorFree(inner->allocator, inner->shapeRecords);
    }
    inner->shapeRecords = records;
    inner->shapeRecordCount = newCount;
    return kResultOk;
}

// ---- Building -------------------------------------------------------------------------------

namespace {

bool stageEnabled(const InnerEngine *inner, uint32_t bits)
{
    return (inner->settings.mask & bits) != 0;
}

// One width note (stages 0x200, 0x400, 0x800). Answers the part's result.
int noteFaceWidth(const FaceListEntry &entry, const EngineImage &image, uint32_t bit,
                  int32_t *set, int32_t *width)
{
    if (!faceInsideImage(entry.face, image))
        return kResultBadArgument;
    const bool eyes = bothEyeBoxesPresent(entry.face) != 0;
    if (bit == kFeatureEyeTemplatePairs) {
        if (!eyes || entry.face.pointCount == 0)
            return kResultNothingToDo;
    } else {
        if (!imageValid(&image))
            return kResultBadArgument;
        if (bit == kFeatureContourFillTint)
            *width = entry.face.box.width;
        if (!eyes || (bit == kFeatureContourFillTint && !entry.inUse))
            return kResultNothingToDo;
    }
    *set = 1;
    *width = entry.face.box.width;
    return kResultOk;
}

// The parts of one face's record, in the order of the part table. Answers the face's combined
// result, starting from `result`.
int buildFaceParts(InnerEngine *inner, EngineImage *image, const FaceWork &face,
                   FaceShapeRecord *record, bool full, int result)
{
    const bool eyes = bothEyeBoxesPresent(face) != 0;
    const auto wanted = [&](uint32_t bits) { return full || stageEnabled(inner, bits); };
    FaceListEntry entry;
    record->preparedMask = 0;

    for (uint32_t bit : {uint32_t(kFeatureSmoothing), uint32_t(kFeatureSkinTone),
                         uint32_t(kFeatureSkinSoftening)})
        if (wanted(bit)) {
            record->preparedMask |= bit;
            result = combinePartResult(result, kResultOk);
        }

    if (wanted(kFeatureTeethWhitening | kFeatureContourFillTint)) {
        if (record->curvesReady) {
            record->preparedMask |= kFeatureTeethWhitening;
        } else {
            makeScratchEntry(face, &entry);
            const int r = buildLowerCurves(inner, image, &entry, record);
            if (r == kResultOk)
                record->preparedMask |= kFeatureTeethWhitening;
            result = combinePartResult(result, r);
        }
    }

    // The eye part's entry is kept: the refinement reads its eye scratch boxes.
    FaceListEntry eyeEntry;
    makeScratchEntry(face, &eyeEntry);
    if (wanted(kFeatureEyeEnlargement | kFeatureTemplateOverlay)) {
        if (record->eyePartReady) {
            record->preparedMask |= kFeatureEyeEnlargement;
        } else {
            const int r = buildEyePart(inner, image, &eyeEntry, record);
            if (r == kResultOk)
                record->preparedMask |= kFeatureEyeEnlargement;
            result = combinePartResult(result, r);
        }
    }

    if (wanted(kFeatureTemplateOverlay)) {
        if (record->refinedEyeBuilt) {
            record->preparedMask |= kFeatureTemplateOverlay;
        } else if (record->eyePartReady == 1) {
            std::memcpy(record->refinedEyePart, record->eyePart, sizeof record->eyePart);
            std::memcpy(record->refinedEyePart + 92, &record->eyePartFaceWidth, 4);
            record->refinedEyeBuilt = 0;
            record->refinedEyeReady = 0;
            const int r = refineEyePart(inner, image, &eyeEntry, record);
            if (r == kResultOk)
                record->preparedMask |= kFeatureTemplateOverlay;
            result = combinePartResult(result, r);
        }
    }

    if (wanted(kFeatureCheekColour)) {
        int32_t built = 0;
        std::memcpy(&built, record->eyeRectPart, 4);
        if (built) {
            record->preparedMask |= kFeatureCheekColour;
        } else {
            makeScratchEntry(face, &entry);
            const int r = buildEyeRects(inner, image, &entry, record->eyeRectPart);
            if (r == kResultOk)
                record->preparedMask |= kFeatureCheekColour;
            result = combinePartResult(result, r);
        }
    }

    struct WidthNote {
        uint32_t bit;
        int32_t *set;
        int32_t *width;
    };
    const WidthNote notes[] = {
        {kFeatureEyeTemplatePairs, &record->widthNote0200Set, &record->widthNote0200},
        {kFeatureEyeColourLayers, &record->widthNote0400Set, &record->widthNote0400},
        {kFeatureContourFillTint, &record->widthNote0800Set, &record->widthNote0800},
    };
    for (const WidthNote &note : notes) {
        if (!wanted(note.bit))
            continue;
        if (*note.set) {
            record->preparedMask |= note.bit;
            continue;
        }
        makeScratchEntry(face, &entry);
        const int r = noteFaceWidth(entry, *image, note.bit, note.set, note.width);
        if (r == kResultOk)
            record->preparedMask |= note.bit;
        result = combinePartResult(result, r);
    }

    if (eyes)
        for (uint32_t bit : {uint32_t(kFeatureShineReduction), uint32_t(kFeatureEyeTone),
                             uint32_t(kFeatureEyeDarkTemplate), uint32_t(kFeatureContourStrokeTint),
                             uint32_t(kFeatureContourContrast), uint32_t(kFeatureUnderEyeBrighten)})
            if (wanted(bit)) {
                record->preparedMask |= bit;
                result = combinePartResult(result, kResultOk);
            }
    return result;
}

}  // namespace

int buildShapeRecords(InnerEngine *inner, EngineImage *image, FaceWork *faces, int32_t count,
                      int32_t full)
{
    if (!inner || !image || (!faces && count > 0))
        return kResultBadArgument;
    int result = kResultNothingToDo;
    for (int32_t i = 0; i < count; ++i) {
        FaceShapeRecord *record = findShapeRecord(inner, faces[i].id);
        if (!record) {
            record = takeFreeShapeRecord(inner);
            if (!record)
                continue;
            record->faceId = faces[i].id;
        }
        result = buildFaceParts(inner, image, faces[i], record, full != 0, result);
    }
    if (full || stageEnabled(inner, kFeatureFaceWarp)) {
        const int warp = buildWarpAnchors(inner, image, faces, count);
        if (warp != kResultOk && warp != kResultNothingToDo)
            return warp;
        if (result != kResultOk)
            result = warp;
    }
    return result;
}

namespace {

// 1 when the ids are all 0 or all different.
bool faceIdsUsable(const FaceWork *faces, int32_t count)
{
    bool allZero = true;
    for (int32_t i = 0; i < count; ++i)
        allZero = allZero && faces[i].id == 0;
    if (allZero)
        return true;
    for (int32_t i = 0; i < count; ++i)
        for (int32_t j = i + 1; j < count; ++j)
            if (faces[i].id == faces[j].id)
                return false;
    return true;
}

// Writes the ids into order and sorts them best first.
void rankFaces(const FaceWork *faces, int32_t count, int32_t *order)
{
    for (int32_t i = 0; i < count; ++i)
        order[i] = faces[i].id;
    for (int32_t i = 1; i < count; ++i)
        for (int32_t j = 0; j < i; ++j)
            if (compareFaceRank(faces, count, order[j], order[i]) == -1)
                std::swap(order[j], order[i]);
}

int fitFacesPrepared(InnerEngine *inner, FaceWork *faces, int32_t count, int32_t *order)
{
    EngineImage *image = &inner->runImage;
    uint32_t missing = 0;
    for (int32_t i = 0; i < count; ++i)
        if (!findShapeRecord(inner, faces[i].id))
            ++missing;
    // The store only grows: a smaller count would drop records of faces being fitted, and a
    // store full of other faces' records gets room for the new ones.
    uint32_t used = 0;
    for (uint32_t i = 0; inner->shapeRecords && i < inner->shapeRecordCount; ++i)
        if (!recordIsFree(inner->shapeRecords[i]))
            ++used;
    const uint32_t wanted = std::max({uint32_t(count) + missing, used + missing,
                                      inner->shapeRecords ? inner->shapeRecordCount : 0u});
    if (growShapeRecords(inner, wanted) != kResultOk)
        return kResultNoMemory;

    const int result = buildShapeRecords(inner, image, faces, count, 1);

    FaceListEntry entry;
    for (int32_t i = 0; i < count; ++i) {
        makeScratchEntry(faces[i], &entry);
        entry.landmarksUsable = checkFaceLandmarks(inner, image, &entry);
        if (entry.landmarksUsable == 1)
            completeExtraLandmarks(inner, &entry, 1, 1024, 1024);
    }
    if (order)
        rankFaces(faces, count, order);
    return result;
}

}  // namespace

int innerFitFaces(InnerEngine *inner, EngineImage *image, FaceWork *faces, int32_t count,
                  int32_t *order)
{
    if (!inner || !image || !faces || count <= 0)
        return kResultBadArgument;
    inner->operationsUsed |= kInnerUsedFit;
    const BandWorkersScope bands(inner->workers);
    if (!faceIdsUsable(faces, count))
        return kResultBadArgument;
    for (int32_t i = 0; i < count; ++i)
        if (!faceInsideImage(faces[i], *image))
            return kResultBadArgument;

    int result = prepareRunInput(inner, nullptr, nullptr, image, nullptr, nullptr);
    const bool converted = inner->runImageConverted != 0;
    inner->runImageConverted = 0;
    // The interface hands order in as const; fitting is the one writer of the caller's array.
    if (result == kResultOk)
        result = fitFacesPrepared(inner, faces, count, order);
    // The caller's Cr-first image goes back in its own byte order on every path, also when the
    // preparation refused it after swapping.
    if (converted)
        swapChromaBytes(image->planes[1].pixels, image->planes[1].stride, image->height / 2);
    return result;
}

// ---- The landmark check and ranking ---------------------------------------------------------

namespace {

constexpr int32_t kFittedPoints = 62;

bool pointInside(const VXL_POINT &p, const EngineImage &image)
{
    return p.x >= 0 && p.x < image.width && p.y >= 0 && p.y < image.height;
}

// Landmark groups 12..23, 32..43 and 62..67 inside the image, and some fitted point set.
bool landmarksInsideImage(const FaceWork &face, const EngineImage &image)
{
    const VXL_POINT *p = face.points;
    for (int32_t i = 12; i <= 23; ++i)
        if (!pointInside(p[i], image))
            return false;
    for (int32_t i = 32; i <= 43; ++i)
        if (!pointInside(p[i], image))
            return false;
    for (int32_t i = 62; i <= 67; ++i)
        if (!pointInside(p[i], image))
            return false;
    for (int32_t i = 0; i < kFittedPoints; ++i)
        if (p[i].x != 0 && p[i].y != 0)
            return true;
    return false;
}

// An eye's six points e0..e5 (corner, upper lid, lower lid order of the fitter) form an eye:
// corners outermost, upper lid above the lower.
bool eyeShapeByTable(const VXL_POINT *p, const int (&e)[6])
{
    const auto x = [&](int k) { return p[e[k]].x; };
    const auto y = [&](int k) { return p[e[k]].y; };
    return x(3) < x(2) && x(3) < x(4) && x(2) < x(1) && x(4) < x(5) && x(1) < x(0) &&
           x(5) < x(0) && y(2) < y(4) && y(2) < y(5) && y(1) < y(4) && y(1) < y(5);
}

bool eyeShapesPlausible(const VXL_POINT *p)
{
    // The first eye's test reads its points directly; the second eye's goes through its table.
    static const int kSecondEye[6] = {21, 20, 19, 18, 23, 22};
    const bool first = p[15].x < p[16].x && p[15].x < p[14].x && p[16].x < p[17].x &&
                       p[14].x < p[13].x && p[17].x < p[12].x && p[13].x < p[12].x &&
                       p[16].y < p[14].y && p[16].y < p[13].y && p[17].y < p[14].y &&
                       p[17].y < p[13].y;
    if (!first || !eyeShapeByTable(p, kSecondEye))
        return false;
    for (int i : {12, 17, 16, 15, 14, 13})
        if (!(p[i].x < p[18].x))
            return false;
    for (int i : {21, 20, 19, 18, 23, 22})
        if (!(p[i].x > p[12].x))
            return false;
    return true;
}

bool lowerContourBelowEyes(const VXL_POINT *p)
{
    int32_t lowestEye = INT32_MIN;
    for (int32_t i = 12; i <= 23; ++i)
        lowestEye = std::max(lowestEye, p[i].y);
    for (int32_t i = 32; i <= 43; ++i)
        if (!(p[i].y > lowestEye))
            return false;
    return true;
}

}  // namespace

int checkFaceLandmarks(InnerEngine *inner, EngineImage *image, FaceListEntry *entry)
{
    if (!inner || !image || !entry || !entry->face.points)
        return 0;
    const FaceWork &face = entry->face;
    if (!landmarksInsideImage(face, *image))
        return 0;
    const FaceShapeRecord *record = findShapeRecord(inner, face.id);
    const int32_t referenceWidth = record ? record->eyePartFaceWidth : face.box.width;
    if (face.pointCount == 0 || referenceWidth == 0)
        return 1;
    auto *upright = static_cast<VXL_POINT *>(
        allocatorAlloc(inner->allocator, kFittedPoints * sizeof(VXL_POINT)));
    if (!upright)
        return 1;
    std::memcpy(upright, face.points, kFittedPoints * sizeof(VXL_POINT));
    if (referenceWidth != face.box.width)
        scalePoints1024(upright, kFittedPoints, face.box.width * 1024 / referenceWidth);
    int32_t angle = 0, distance = 0;
    rectCentreAngle(face.eye1Box, face.eye2Box, face.roll, &angle, &distance);
    rotatePointsAbout(upright, kFittedPoints, face.box.x + face.box.width / 2,
                      face.box.y + face.box.height / 2, angle);
    const bool plausible = eyeShapesPlausible(upright) && lowerContourBelowEyes(upright);
    allocatorFree(inner->allocator, upright);
    return plausible ? 1 : 0;
}

namespace {

const FaceWork *faceWithId(const FaceWork *faces, int32_t count, int32_t id)
{
    for (int32_t i = 0; i < count; ++i)
        if (faces[i].id == id)
            return &faces[i];
    return nullptr;
}

}  // namespace

int compareFaceRank(const FaceWork *faces, int32_t count, int32_t idA, int32_t idB)
{
    const FaceWork *a = faceWithId(faces, count, idA);
    const FaceWork *b = faceWithId(faces, count, idB);
    if (!a || !b)
        return 0;
    const bool eyesA = bothEyeBoxesPresent(*a) != 0, eyesB = bothEyeBoxesPresent(*b) != 0;
    if (eyesA != eyesB)
        return eyesA ? 1 : -1;
    const uint64_t areaA = uint64_t(uint32_t(a->box.width)) * uint32_t(a->box.height);
    const uint64_t areaB = uint64_t(uint32_t(b->box.width)) * uint32_t(b->box.height);
    return areaA < areaB ? -1 : areaA > areaB ? 1 : 0;
}
