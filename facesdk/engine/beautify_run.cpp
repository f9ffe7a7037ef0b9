// The beautify run.
//
// Divisions: per-format pixel helpers; run input; face ids and the face list; the driver;
// innerRun and the release of run data.
#include "facesdk/engine/beautify_run.h"

#include <algorithm>
#include <cstring>

#include "facesdk/base/fixed_scale.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/engine/lower_face.h"
#include "facesdk/engine/row_bands.h"
#include "facesdk/engine/shape_prepare.h"

namespace {

constexpr int32_t kMaxWorkingSide = 1024;
constexpr int32_t kMaxDetectionSide = 320;
constexpr uint32_t kFlagRunWithoutFaces = 0x1;
constexpr uint32_t kFlagKeepSmallFaces = 0x2;

}  // namespace

// ---- Per-format pixel helpers ---------------------------------------------------------------

namespace {

const uint8_t *pixelRow(const EngineImage *image, int plane, int32_t y)
{
    return image->planes[plane].pixels + int64_t(y) * image->planes[plane].stride;
}

void fetchYuv420Planar(const EngineImage *image, int32_t x, int32_t y, uint8_t yuv[3])
{
    yuv[0] = pixelRow(image, 0, y)[x];
    yuv[1] = pixelRow(image, 1, y / 2)[x / 2];
    yuv[2] = pixelRow(image, 2, y / 2)[x / 2];
}

void fetchYuv420SemiPlanar(const EngineImage *image, int32_t x, int32_t y, uint8_t yuv[3])
{
    const uint8_t *pair = pixelRow(image, 1, y / 2) + (x & ~1);
    yuv[0] = pixelRow(image, 0, y)[x];
    yuv[1] = pair[0];
    yuv[2] = pair[1];
}

void fetchYuv422Planar(const EngineImage *image, int32_t x, int32_t y, uint8_t yuv[3])
{
    yuv[0] = pixelRow(image, 0, y)[x];
    yuv[1] = pixelRow(image, 1, y)[x / 2];
    yuv[2] = pixelRow(image, 2, y)[x / 2];
}

void fetchYuv444Planar(const EngineImage *image, int32_t x, int32_t y, uint8_t yuv[3])
{
    yuv[0] = pixelRow(image, 0, y)[x];
    yuv[1] = pixelRow(image, 1, y)[x];
    yuv[2] = pixelRow(image, 2, y)[x];
}

void fetchYuyv(const EngineImage *image, int32_t x, int32_t y, uint8_t yuv[3])
{
    const uint8_t *p = pixelRow(image, 0, y) + 2 * int64_t(x);
    yuv[0] = p[0];
    yuv[1] = (x & 1) ? p[-1] : p[1];
    yuv[2] = (x & 1) ? p[1] : p[3];
}

void fetchUyvy(const EngineImage *image, int32_t x, int32_t y, uint8_t yuv[3])
{
    const uint8_t *row = pixelRow(image, 0, y);
    const uint8_t *pair = row + 4 * int64_t(x >> 1);
    yuv[0] = row[2 * int64_t(x) + 1];
    yuv[1] = pair[0];
    yuv[2] = pair[2];
}

// Luma of a plane-0 pixel: one byte a pixel for the planar formats, every second byte of the
// packed 4:2:2 formats (from byte 1 for Cb-first packing).
struct LumaPlane {
    uint8_t *base;
    int32_t stride;
    int32_t pixelBytes;
    int32_t offset;
    int32_t width, height;

    static LumaPlane of(const EngineImage *image, bool packed)
    {
        return {image->planes[0].pixels, image->planes[0].stride, packed ? 2 : 1,
                packed && image->format == kFormatYuv422Uyvy ? 1 : 0, image->width, image->height};
    }
    uint8_t &at(int32_t x, int32_t y) const
    {
        return base[int64_t(y) * stride + int64_t(x) * pixelBytes + offset];
    }
    bool holds(const EngineRect &r) const { return rectInsideImage(r, width, height) == 1; }
};

int mirrorSimilarity(const EngineImage *image, const EngineRect *a, const EngineRect *b, bool packed)
{
    if (!image || !a || !b)
        return 0;
    const LumaPlane luma = LumaPlane::of(image, packed);
    const EngineRect mirrored{b->x, b->y, a->width, a->height};
    if (!luma.holds(*a) || !luma.holds(mirrored))
        return 0;
    int64_t sumA = 0, sumB = 0, sumAB = 0, sumAA = 0, sumBB = 0;
    for (int32_t j = 0; j < a->height; ++j)
        for (int32_t i = 0; i < a->width; ++i) {
            const int64_t va = luma.at(a->x + i, a->y + j);
            const int64_t vb = luma.at(mirrored.x + mirrored.width - 1 - i, mirrored.y + j);
            sumA += va;
            sumB += vb;
            sumAB += va * vb;
            sumAA += va * va;
            sumBB += vb * vb;
        }
    const int64_t n = int64_t(a->width) * a->height;
    const int64_t L = n * n;
    // The constants (0.01 x 255)^2 and (0.03 x 255)^2 in 1/1024 units.
    const int64_t t1 = (6659 * L + 2048 * sumA * sumB) / ((6659 * L >> 10) + sumA * sumA + sumB * sumB);
    const __int128 numerator = __int128(t1) * (2048 * (n * sumAB - sumA * sumB) + 59927 * L);
    const int64_t denominator =
        (59927 * L >> 10) + n * (sumAA + sumBB) - sumA * sumA - sumB * sumB;
    const int64_t t = int64_t(numerator / denominator);
    // t / 1024 rounded to nearest, halves away from zero.
    return int(t >= 0 ? (t + 512) / 1024 : -((-t + 512) / 1024));
}

int mirrorSimilarityHelperPlanar(const EngineImage *image, const EngineRect *a, const EngineRect *b)
{
    return mirrorSimilarity(image, a, b, false);
}

int mirrorSimilarityHelperPacked(const EngineImage *image, const EngineRect *a, const EngineRect *b)
{
    return mirrorSimilarity(image, a, b, true);
}

void lightenBlendPatch(EngineImage *image, const EngineImage *patch, const EngineImage *mask,
                       const EngineRect *rect, uint32_t strength, bool packed)
{
    if (!image || !patch || !mask || !rect || !patch->planes[0].pixels || !mask->planes[0].pixels)
        return;
    const LumaPlane luma = LumaPlane::of(image, packed);
    const int32_t left = rect->x + ((rect->width - patch->width + 1) >> 1);
    const int32_t top = rect->y + ((rect->height - patch->height + 1) >> 1);
    const int64_t weight = strength & 0xffffff;
    for (int32_t j = 0; j < patch->height; ++j) {
        const int32_t y = top + j;
        if (y < 0 || y >= luma.height)
            continue;
        const uint8_t *patchRow = pixelRow(patch, 0, j);
        const uint8_t *maskRow = pixelRow(mask, 0, j);
        for (int32_t i = 0; i < patch->width; ++i) {
            const int32_t x = left + i;
            if (x < 0 || x >= luma.width)
                continue;
            uint8_t &pixel = luma.at(x, y);
            const int32_t c = pixel;
            const int32_t b = patchRow[i];
            const int32_t d = c + b;
            const int32_t over = d < 256 ? 0 : d - 255;
            const int32_t e = over + (((std::min(d, 255) - over) * b * b) >> 16);
            if (c < e) {
                const int64_t raised = c + (((e - c) * int64_t(maskRow[i]) * weight) >> 16);
                pixel = uint8_t(std::min<int64_t>(raised, 255));
            }
        }
    }
}

void lightenBlendPatchPlanar(EngineImage *image, const EngineImage *patch, const EngineImage *mask,
                             const EngineRect *rect, uint32_t strength)
{
    lightenBlendPatch(image, patch, mask, rect, strength, false);
}

void lightenBlendPatchPacked(EngineImage *image, const EngineImage *patch, const EngineImage *mask,
                             const EngineRect *rect, uint32_t strength)
{
    lightenBlendPatch(image, patch, mask, rect, strength, true);
}

int compareRectBrightness(const EngineImage *image, const EngineRect *a, const EngineRect *b,
                          bool packed)
{
    if (!image || !a || !b)
        return 1;
    const LumaPlane luma = LumaPlane::of(image, packed);
    if (!luma.holds(*a) || !luma.holds(*b))
        return 1;
    auto sum = [&](const EngineRect &r) {
        int64_t total = 0;
        for (int32_t y = r.y; y < r.y + r.height; ++y)
            for (int32_t x = r.x; x < r.x + r.width; ++x)
                total += luma.at(x, y);
        return total;
    };
    return sum(*b) < sum(*a) ? 2 : 1;
}

int compareRectBrightnessPlanar(const EngineImage *image, const EngineRect *a, const EngineRect *b)
{
    return compareRectBrightness(image, a, b, false);
}

int compareRectBrightnessPacked(const EngineImage *image, const EngineRect *a, const EngineRect *b)
{
    return compareRectBrightness(image, a, b, true);
}

const RowHelpers kPlanarRowHelpers = {mirrorSimilarityHelperPlanar, lightenBlendPatchPlanar,
                                      compareRectBrightnessPlanar};
const RowHelpers kPackedRowHelpers = {mirrorSimilarityHelperPacked, lightenBlendPatchPacked,
                                      compareRectBrightnessPacked};

}  // namespace

int mirrorSimilarityPlanar(const EngineImage *image, const EngineRect *a, const EngineRect *b)
{
    return mirrorSimilarity(image, a, b, false);
}

int mirrorSimilarityPacked(const EngineImage *image, const EngineRect *a, const EngineRect *b)
{
    return mirrorSimilarity(image, a, b, true);
}

int selectFormatHelpers(InnerEngine *inner)
{
    PixelFetcher fetcher = nullptr;
    const RowHelpers *rows = &kPlanarRowHelpers;
    switch (inner->runImage.format) {
    case kFormatYuv420Planar:
        fetcher = fetchYuv420Planar;
        break;
    case kFormatYuv420SemiPlanar:
        fetcher = fetchYuv420SemiPlanar;
        break;
    case kFormatYuv422Planar:
        fetcher = fetchYuv422Planar;
        break;
    case kFormatYuv444Planar:
        fetcher = fetchYuv444Planar;
        break;
    case kFormatYuv422Yuyv:
        fetcher = fetchYuyv;
        rows = &kPackedRowHelpers;
        break;
    case kFormatYuv422Uyvy:
        fetcher = fetchUyvy;
        rows = &kPackedRowHelpers;
        break;
    default:
        inner->fetchPixel = nullptr;
        inner->rowHelpers = RowHelpers{};
        return 0;
    }
    inner->fetchPixel = fetcher;
    inner->rowHelpers = *rows;
    return 1;
}

// ---- Run input ------------------------------------------------------------------------------

namespace {

int noProgress(void *, int, int)
{
    return 0;
}

// An image record whose every plane is there: pointer and a stride that holds a row.
bool planesUsable(const EngineImage &image)
{
    if (!imageValid(&image) || image.width <= 0 || image.height <= 0)
        return false;
    const int32_t rowBytes = image.width * std::max<int32_t>(bytesPerPixel(image.format), 1);
    for (int p = 0; p < formatPlaneCount(image.format); ++p) {
        if (!image.planes[p].pixels || image.planes[p].stride <= 0)
            return false;
        if (p == 0 && image.planes[p].stride < rowBytes)
            return false;
    }
    return true;
}

// Cr-first semi-planar records become Cb-first: the caller's chroma bytes are swapped in place
// and the run's copy reads 0x30100001. Answers 1 when this call swapped them.
int convertCrFirst(const EngineImage &caller, EngineImage *copy)
{
    if (caller.format != kFormatYuv420SemiPlanarCrFirst)
        return 0;
    copy->format = kFormatYuv420SemiPlanar;
    swapChromaBytes(caller.planes[1].pixels, caller.planes[1].stride, caller.height / 2);
    return 1;
}

void swapBackCrFirst(const EngineImage &caller)
{
    swapChromaBytes(caller.planes[1].pixels, caller.planes[1].stride, caller.height / 2);
}

// The image scaled to a longer side of at most maxSide (unsigned integer division).
void scaledSize(int32_t width, int32_t height, int32_t maxSide, int32_t *w, int32_t *h)
{
    if (width > height) {
        *w = std::min(width, maxSide);
        *h = int32_t(uint32_t(height) * uint32_t(*w) / uint32_t(width));
    } else {
        *h = std::min(height, maxSide);
        *w = int32_t(uint32_t(width) * uint32_t(*h) / uint32_t(height));
    }
}

// v per w in Q10 units: ((v x 2048 + 1) >> 1) / w, that is v x 1024 / w truncated.
int32_t ratioQ10(int32_t v, int32_t w)
{
    return int32_t(((int64_t(v) * 2048 + 1) >> 1) / w);
}

}  // namespace

int prepareRunInput(InnerEngine *inner, EngineImage *detection, EngineImage *working,
                    EngineImage *image, ProgressCallback progress, void *user)
{
    if (!inner || !image)
        return kResultBadArgument;
    inner->runImage = *image;
    inner->runImageConverted = 0;
    if (!planesUsable(*image))
        return kResultBadArgument;
    inner->runImageConverted = convertCrFirst(*image, &inner->runImage);
    inner->runWidth = image->width;
    inner->runHeight = image->height;
    if (!selectFormatHelpers(inner))
        return kResultUnsupported;

    // Without a given working image the stages work on the run image itself (runStageTarget);
    // the working size still sets the face list's coordinates.
    inner->ownsWorkingImage = working ? 0 : 1;
    inner->ownsDetectionImage = detection ? 0 : 1;
    inner->workingImageConverted = 0;
    int32_t workW = 0;
    int32_t workH = 0;
    if (working) {
        inner->workingImage = *working;
        if (!planesUsable(*working))
            return kResultBadArgument;
        // A working image that shares the caller's chroma plane was swapped with it already.
        if (working->planes[1].pixels == image->planes[1].pixels && inner->runImageConverted)
            inner->workingImage.format = inner->runImage.format;
        else
            inner->workingImageConverted = convertCrFirst(*working, &inner->workingImage);
        workW = working->width;
        workH = working->height;
    } else {
        inner->workingImage = EngineImage{};
        scaledSize(image->width, image->height, kMaxWorkingSide, &workW, &workH);
    }
    inner->detectionImage = detection ? *detection : EngineImage{};
    int32_t detW = 0;
    int32_t detH = 0;
    scaledSize(image->width, image->height, kMaxDetectionSide, &detW, &detH);

    inner->imageWidth = image->width;
    inner->imageHeight = image->height;
    inner->workingWidth = workW & ~1;
    inner->workingHeight = workH & ~1;
    inner->detectionWidth = detW & ~1;
    inner->detectionHeight = detH & ~1;
    // The ratios divide by these sizes: an image too small to have any is refused too.
    if (inner->workingWidth > image->width || inner->workingHeight > image->height ||
        inner->detectionWidth > image->width || inner->detectionHeight > image->height ||
        inner->workingWidth <= 0 || inner->workingHeight <= 0 || inner->detectionWidth <= 0 ||
        inner->detectionHeight <= 0)
        return kResultBadArgument;

    inner->runState = 1;
    inner->imagePerWorkingY = ratioQ10(inner->imageHeight, inner->workingHeight);
    inner->imagePerWorkingX = ratioQ10(inner->imageWidth, inner->workingWidth);
    inner->imagePerDetectionY = ratioQ10(inner->imageHeight, inner->detectionHeight);
    inner->imagePerDetectionX = ratioQ10(inner->imageWidth, inner->detectionWidth);
    inner->workingPerImageY = ratioQ10(inner->workingHeight, inner->imageHeight);
    inner->workingPerImageX = ratioQ10(inner->workingWidth, inner->imageWidth);
    inner->progress = progress ? progress : noProgress;
    inner->progressUser = user;
    inner->areaLimit = int32_t(int64_t(inner->detectionWidth) * inner->detectionHeight * 75 / 76800);
    return kResultOk;
}

RunStageTarget runStageTarget(InnerEngine *inner)
{
    if (!inner->ownsWorkingImage && inner->workingImage.planes[0].pixels)
        return {&inner->workingImage, 1024, 1024};
    return {&inner->runImage, inner->imagePerWorkingX, inner->imagePerWorkingY};
}

// ---- Face ids and the face list -------------------------------------------------------------

int checkFaceIds(InnerEngine *inner, const FaceWork *faces, int32_t count)
{
    inner->autoIds = 0;
    bool allZero = true;
    for (int32_t i = 0; i < count; ++i)
        allZero = allZero && faces[i].id == 0;
    if (allZero) {
        inner->autoIds = 1;
        return 1;
    }
    for (int32_t i = 0; i < count; ++i)
        for (int32_t j = i + 1; j < count; ++j)
            if (faces[i].id == faces[j].id)
                return 0;
    return 1;
}

namespace {

bool boxPresent(const EngineRect &box)
{
    return box.width != 0 && box.height != 0;
}

}  // namespace

int buildRunFaceList(InnerEngine *inner, const FaceWork *faces, int32_t count)
{
    inner->runFaceCount = count;
    const int32_t detPerWorkX = ratioQ10(inner->detectionWidth, inner->workingWidth);
    const int32_t detPerWorkY = ratioQ10(inner->detectionHeight, inner->workingHeight);
    if (count <= 0)
        return (inner->settings.flags & kFlagRunWithoutFaces) ? kResultOk : kResultNothingToDo;

    const uint64_t bytes = (uint64_t(count) + kFaceListSpareEntries) * kFaceListEntrySize;
    if (bytes > UINT32_MAX)
        return kResultBadArgument;
    auto *list = static_cast<FaceListEntry *>(allocatorAlloc(inner->allocator, uint32_t(bytes)));
    if (!list)
        return kResultNoMemory;
    std::memset(list, 0, bytes);
    inner->faceList = list;
    inner->faceListCount = 0;

    const int32_t workW = inner->workingWidth;
    const int32_t workH = inner->workingHeight;
    const int32_t longSide = std::max(workW, workH);
    uint32_t kept = 0;
    for (int32_t i = 0; i < count; ++i) {
        FaceWork face{};
        if (inner->ownsWorkingImage)
            scaleFaceRecord(faces[i], &face, inner->workingPerImageX, inner->workingPerImageY);
        else
            face = faces[i];
        if (!faceRegionValid(&face.box, &face.eye1Box, &face.eye2Box, workW, workH))
            return kResultBadArgument;

        if (std::min(face.box.width, face.box.height) < longSide * 64 / 1024)
            continue;
        const bool smallEye1 = boxPresent(face.eye1Box) &&
                               std::min(face.eye1Box.width, face.eye1Box.height) < 16;
        const bool smallEye2 = boxPresent(face.eye2Box) &&
                               std::min(face.eye2Box.width, face.eye2Box.height) < 16;
        if (smallEye1 || smallEye2) {
            face.eye1Box = EngineRect{};
            face.eye2Box = EngineRect{};
        }
        if (!(inner->settings.flags & kFlagKeepSmallFaces) &&
            5 * std::max(face.box.width, face.box.height) < longSide)
            continue;

        FaceListEntry &entry = list[kept];
        entry.face = face;
        entry.face.pointCount = kEntryPointSlots;
        entry.face.points =
            static_cast<VXL_POINT *>(allocatorAlloc(inner->allocator, kEntryPointBufferBytes));
        if (entry.face.points) {
            std::memset(entry.face.points, 0, kEntryPointBufferBytes);
            if (faces[i].points && faces[i].pointCount > 0) {
                const int32_t copied = std::min(faces[i].pointCount, kEntryPointSlots);
                std::memcpy(entry.face.points, faces[i].points, size_t(copied) * sizeof(VXL_POINT));
            }
        }
        entry.inUse = 1;
        if (inner->autoIds)
            entry.face.id = int32_t(kept);
        entry.enteredBox = faces[i].box;
        entry.smallBox = EngineRect{scaleQ10(face.box.x, detPerWorkX), scaleQ10(face.box.y, detPerWorkY),
                                    scaleQ10(face.box.width, detPerWorkX),
                                    scaleQ10(face.box.height, detPerWorkY)};
        inner->faceListCount = ++kept;
    }
    return kept > 0 ? kResultOk : kResultNothingToDo;
}

// ---- The driver -----------------------------------------------------------------------------

namespace {

// Shape records for a run that found none: built for the faces of the list, in image
// coordinates, with only the parts the enabled stages need; freed at the end of the run.
void buildTemporaryShapeRecords(InnerEngine *inner, int32_t count)
{
    if (count <= 0)
        return;
    const uint32_t recordBytes = uint32_t(count) * sizeof(FaceShapeRecord);
    auto *records = static_cast<FaceShapeRecord *>(allocatorAlloc(inner->allocator, recordBytes));
    auto *scratch = static_cast<FaceWork *>(
        allocatorAlloc(inner->allocator, uint32_t(count) * sizeof(FaceWork)));
    if (!records || !scratch) {
        allocatorFree(inner->allocator, records);
        allocatorFree(inner->allocator, scratch);
        return;
    }
    int32_t faces = 0;
    for (uint32_t i = 0; i < inner->faceListCount && faces < count; ++i) {
        if (!inner->faceList[i].inUse)
            continue;
        std::memset(&scratch[faces], 0, sizeof(FaceWork));
        scaleFaceRecord(inner->faceList[i].face, &scratch[faces], inner->imagePerWorkingX,
                        inner->imagePerWorkingY);
        ++faces;
    }
    std::memset(records, 0, recordBytes);
    inner->shapeRecords = records;
    inner->shapeRecordCount = uint32_t(count);
    const int built = buildShapeRecords(inner, &inner->runImage, scratch, faces, 0);
    inner->shapesBuiltByRun = 1;
    inner->shapeBuildSucceeded = built == kResultOk ? 1 : 0;
    allocatorFree(inner->allocator, scratch);
}

}  // namespace

int runFeatureStages(InnerEngine *inner, FaceWork *faces, int32_t count)
{
    const int listed = buildRunFaceList(inner, faces, count);
    if (listed != kResultOk)
        return listed;

    if (!inner->shapeRecords)
        buildTemporaryShapeRecords(inner, count);

    for (uint32_t i = 0; i < inner->faceListCount; ++i)
        inner->faceList[i].landmarksUsable =
            checkFaceLandmarks(inner, &inner->runImage, &inner->faceList[i]);
    if (inner->faceListCount > 0)
        completeExtraLandmarks(inner, inner->faceList, inner->faceListCount,
                               inner->imagePerWorkingX, inner->imagePerWorkingY);

    if (count != 0 || (inner->settings.flags & kFlagRunWithoutFaces))
        inner->hasFaces = 1;

    for (FeatureBit bit : kStageRunOrder) {
        if (stageStrength(inner->settings, bit) == 0)
            continue;
        const FeatureStageFn stage = inner->stages->stages[featureIndex(bit)];
        if (!stage)
            continue;  // the engine's table has none: its status stays 96
        const bool takesFaces = bit == kFeatureUnderEyeBrighten;
        statusSet(inner->status, bit,
                  stage(inner, takesFaces ? faces : nullptr, takesFaces ? count : 0));
    }

    if (inner->shapesBuiltByRun) {
        freeShapeRecords(inner->allocator, inner->shapeRecords, inner->shapeRecordCount);
        inner->shapeRecords = nullptr;
        inner->shapeRecordCount = 0;
        inner->shapesBuiltByRun = 0;
        inner->shapeBuildSucceeded = 0;
    }
    return kResultOk;
}

// ---- innerRun and the release of run data ---------------------------------------------------

namespace {

// -3 when any stage ran out of memory; else 98 when any was cancelled; else 99 when any had
// nothing to do; else 0. Other failures of single stages leave the run a success.
int runResultFromStatuses(const FeatureStatus *status)
{
    bool cancelled = false;
    bool nothingToDo = false;
    for (int32_t value : status->statuses) {
        if (value == kResultNoMemory)
            return kResultNoMemory;
        cancelled = cancelled || value == kResultProgressCancelled;
        nothingToDo = nothingToDo || value == kResultNothingToDo;
    }
    return cancelled ? kResultProgressCancelled : nothingToDo ? kResultRunIncomplete : kResultOk;
}

int runBody(InnerEngine *inner, EngineImage *detection, EngineImage *working, EngineImage *image,
            FaceWork *faces, int32_t count, ProgressCallback progress, void *user)
{
    if (count < 0 || (count > 0 && (!faces || !checkFaceIds(inner, faces, count))))
        return kResultBadArgument;
    if (count == 0)
        inner->autoIds = 0;
    const int prepared = prepareRunInput(inner, detection, working, image, progress, user);
    if (prepared != kResultOk)
        return prepared;
    inner->skinAmountClass = 1;

    const int32_t total = std::max(count, 1) * inner->workingHeight + 100;
    if (inner->progress(inner->progressUser, 0, total) != 0)
        return kResultProgressCancelled;

    if (count == 0 && !(inner->settings.flags & kFlagRunWithoutFaces)) {
        if (inner->settings.mask & kFeatureSmoothing)
            statusSet(inner->status, kFeatureSmoothing, kResultNothingToDo);
        if (inner->settings.mask & kFeatureSkinTone)
            statusSet(inner->status, kFeatureSkinTone, kResultNothingToDo);
        return kResultRunIncomplete;
    }

    inner->rowBuffer =
        static_cast<uint8_t *>(allocatorAlloc(inner->allocator, uint32_t(inner->runWidth) * 4));
    if (!inner->rowBuffer)
        return kResultNoMemory;
    const int driven = runFeatureStages(inner, faces, count);
    if (driven != kResultOk)
        return driven;
    return runResultFromStatuses(inner->status);
}

}  // namespace

int innerRun(InnerEngine *inner, EngineImage *detection, EngineImage *working, EngineImage *image,
             FaceWork *faces, int32_t count, FeatureStatus **status, ProgressCallback progress,
             void *user)
{
    if (status)
        *status = nullptr;
    if (!inner)
        return kResultBadArgument;
    inner->operationsUsed |= kInnerUsedRun;
    const BandWorkersScope bands(inner->workers);
    if (featureStatusCreate(inner->allocator, &inner->status) != kResultOk)
        return kResultNoMemory;
    // Until the input is prepared, the end of the run reports to the caller's callback.
    inner->progress = progress ? progress : noProgress;
    inner->progressUser = user;
    inner->runImageConverted = 0;
    inner->workingImageConverted = 0;

    int result = runBody(inner, detection, working, image, faces, count, progress, user);

    if (inner->progress(inner->progressUser, 2, 0) != 0)
        result = kResultProgressCancelled;
    allocatorFree(inner->allocator, inner->rowBuffer);
    inner->rowBuffer = nullptr;
    if (status)
        *status = inner->status;
    else
        statusRelease(inner->status);
    inner->status = nullptr;
    releaseRunData(inner);
    if (inner->runImageConverted)
        swapBackCrFirst(*image);
    if (inner->workingImageConverted)
        swapBackCrFirst(*working);
    inner->runImageConverted = 0;
    inner->workingImageConverted = 0;
    return result;
}

void releaseRunData(InnerEngine *inner)
{
    if (!inner)
        return;
    EngineAllocator *allocator = inner->allocator;
    for (EngineImage &scratch : inner->scratch)
        imageRelease(allocator, &scratch);
    if (inner->faceList) {
        // Stage 0x1 may have appended entries to a list the run did not make.
        for (uint32_t i = 0; i < inner->faceListCount; ++i) {
            FaceListEntry &entry = inner->faceList[i];
            for (EnginePlane &plane : entry.images[1].planes)
                allocatorFree(allocator, plane.pixels);
            entry.images[1] = EngineImage{};
            imageRelease(allocator, &entry.images[0]);
            allocatorFree(allocator, entry.face.points);
            entry.face.points = nullptr;
        }
        allocatorFree(allocator, inner->faceList);
    }
    inner->faceList = nullptr;
    inner->faceListCount = 0;
    if (inner->ownsWorkingImage)
        imageRelease(allocator, &inner->workingImage);
    if (inner->ownsDetectionImage)
        imageRelease(allocator, &inner->detectionImage);
    inner->workingImage = EngineImage{};
    inner->detectionImage = EngineImage{};
    inner->ownsWorkingImage = 0;
    inner->ownsDetectionImage = 0;
}
