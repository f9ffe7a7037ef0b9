// Face detection: the detector's request records filled from the working copy, the found faces
// converted, re-examined and sorted by area.
//
// Divisions: mapping helpers; the detector's records; the operation.
#include "facesdk/engine/face_detection.h"

#include <algorithm>
#include <cstring>

#include "facesdk/base/fixed_scale.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/detect/detector.h"
#include "facesdk/detect/detector_object.h"
#include "facesdk/engine/engine.h"
#include "facesdk/engine/face_libraries.h"

const int16_t kDetectionRollAngles[13] = {0, 90, -90, 30, -30, 60, -60, 45, -45, 135, -135, 180,
                                          kRollListEnd};

// ---- Mapping helpers ------------------------------------------------------------------------

uint32_t detectorFormatIndex(PixelFormat format)
{
    static const struct {
        PixelFormat format;
        uint32_t index;
    } kIndexes[] = {
        {kFormatGrey8, 1},           {kFormatYuv422Yuyv, 2},
        {kFormatYuv422Uyvy, 4},      {kFormatRgba32, 5},
        {kFormatRgb24, 6},           {kFormatYuv422Planar, 8},
        {kFormatYuv420Planar, 9},    {kFormatYuv420SemiPlanar, 15},
        {kFormatYuv420SemiPlanarCrFirst, 17},
    };
    for (const auto &entry : kIndexes)
        if (entry.format == format)
            return entry.index;
    return 0;
}

int32_t sideFactorQ10(int32_t to, int32_t from)
{
    return int32_t((int64_t(to) << 10) / from);
}

int mapDetectorResult(int result)
{
    switch (result) {
    case kResultOk:
    case kResultCancelled:
    case kResultNoMemory:
    case kResultBadArgument:
    case kResultNotFound:
    case kResultUnsupported:
        return result;
    default:
        return kResultFailed;
    }
}

// ---- The detector's records -----------------------------------------------------------------

namespace {

// The detector's view of the working copy. The plane pointer array lives with the record, as
// long as the detector reads the image.
struct DetectionImage {
    DetectorImage record;
    void *planePointers[3];
};

void fillDetectorImage(const EngineImage &copy, int32_t rollHint, DetectionImage *out)
{
    std::memset(out, 0, sizeof *out);
    DetectorImage &record = out->record;
    record.size = sizeof(DetectorImage);
    record.width = copy.width;
    record.height = copy.height;
    record.stride = copy.planes[0].stride;
    record.format = detectorFormatIndex(copy.format);
    record.rollHint = rollHint;
    const int planes = std::min(formatPlaneCount(copy.format), 3);
    for (int p = 0; p < planes; ++p) {
        record.planes[p].stride = copy.planes[p].stride;
        record.planes[p].pixels = copy.planes[p].pixels;
        out->planePointers[p] = copy.planes[p].pixels;
    }
    record.pixels = planes == 1 ? static_cast<void *>(copy.planes[0].pixels)
                                : static_cast<void *>(out->planePointers);
}

void fillDetectorConfig(DetectorConfig *config)
{
    std::memset(config, 0, sizeof *config);
    config->size = sizeof(DetectorConfig);
    config->flags = kDetectionConfigFlags;
    config->searchWidthPercent = kDetectionSearchPercent;
    config->searchHeightPercent = kDetectionSearchPercent;
    config->rollAngles = kDetectionRollAngles;
}

// The engine's face from the detector's k-th face: converted at factor f (1/1024), its region
// value asked for, a missing lower-face point completed from the eyes at working scale.
void convertDetectedFace(FaceDetector *detector, const DetectorImage &image, DetectedFace *found,
                         int32_t k, int32_t f, VXL_FACE *out)
{
    const DetectedFacePublic &detected = found->report;
    DetectorRegionRequest request;
    std::memset(&request, 0, sizeof request);
    request.size = sizeof request;
    request.image = &image;
    request.rect = detected.box;
    request.roll = detected.roll;
    int32_t regionValue = 0;
    detector->methods->detectInRegion(detector, &request, &regionValue);  // its answer is not used

    detectedFaceToFace(detected, out, f);
    out->id = k + 1;
    out->regionValue = regionValue;
    if (detected.lowerFaceBox[2] == 0 && detected.lowerFaceBox[3] == 0) {
        const auto rect = [](const int32_t box[4]) { return EngineRect{box[0], box[1], box[2], box[3]}; };
        VXL_POINT lower{0, 0}, size{0, 0};
        lowerFacePointFromEyes(rect(detected.box), rect(detected.firstEyeBox),
                               rect(detected.secondEyeBox), detected.roll, &lower, &size);
        out->lowerX = scaleQ10(lower.x, f);
        out->lowerY = scaleQ10(lower.y, f);
    }
}

// Inserts the record into the sorted records [0, k): before the first one of strictly smaller
// area, so faces of equal area keep the detector's order.
void insertByArea(VXL_FACE *faces, int32_t k, const VXL_FACE &face)
{
    const int64_t area = int64_t(face.width) * face.height;
    int32_t at = 0;
    while (at < k && int64_t(faces[at].width) * faces[at].height >= area)
        ++at;
    std::memmove(&faces[at + 1], &faces[at], size_t(k - at) * sizeof(VXL_FACE));
    faces[at] = face;
}

}  // namespace

// ---- The operation --------------------------------------------------------------------------

int engineDetectFaces(BeautyEngine *engine, const EngineImage *image, VXL_FACE **faces,
                      int32_t *count)
{
    if (!engine || !imageValid(image) || !faces || !count ||
        uint32_t(image->width) < kMinimumImageSide || uint32_t(image->height) < kMinimumImageSide)
        return kResultBadArgument;
    engine->operationsUsed |= kUsedDetect;
    EngineAllocator *allocator = engine->allocator;

    EngineImage copy;
    const int copied = makeWorkingCopy(allocator, image, kDetectionMaxSide, &copy);
    if (copied != kResultOk)
        return copied;

    DetectorConfig config;
    fillDetectorConfig(&config);
    FaceDetector *detector = nullptr;
    int result = faceLibraryEntries().createDetector(allocator, &config, &detector);
    if (result != kResultOk || !detector) {
        if (detector)  // created, but answered something other than 0
            detector->methods->destroy(detector);
        imageRelease(allocator, &copy);
        return result == kResultOk ? kResultFailed : mapDetectorResult(result);
    }

    DetectionImage detectionImage;
    fillDetectorImage(copy, engine->rollHint, &detectionImage);
    result = detector->methods->detect(detector, &detectionImage.record, nullptr, nullptr);

    int32_t found = 0;
    if (result == kResultOk)
        for (DetectedFace *face = detector->methods->nextFace(detector, nullptr); face;
             face = detector->methods->nextFace(detector, face))
            ++found;

    VXL_FACE *out = nullptr;
    if (result == kResultOk && found > 0) {
        const uint64_t bytes = uint64_t(found) * sizeof(VXL_FACE);
        out = bytes <= UINT32_MAX ? static_cast<VXL_FACE *>(allocatorAlloc(allocator, uint32_t(bytes)))
                                  : nullptr;
        if (!out) {
            result = kResultNoMemory;
        } else {
            std::memset(out, 0, size_t(bytes));
            const int32_t f = sideFactorQ10(std::max(image->width, image->height),
                                            std::max(copy.width, copy.height));
            // The same walk again; the detector hands its faces out in the same order.
            int32_t k = 0;
            for (DetectedFace *face = detector->methods->nextFace(detector, nullptr);
                 face && k < found; face = detector->methods->nextFace(detector, face), ++k) {
                VXL_FACE converted;
                convertDetectedFace(detector, detectionImage.record, face, k, f, &converted);
                insertByArea(out, k, converted);
            }
            found = k;
            if (found == 0) {
                allocatorFree(allocator, out);
                out = nullptr;
            }
        }
    }

    detector->methods->destroy(detector);
    imageRelease(allocator, &copy);
    // No face: the detector's -5 goes out as it is (kEngineNoFace, engine.h). It is kept apart
    // from 0 so that callers still see why the list is empty, and kept apart from the failures
    // because it is none: every caller takes it as an empty face list.
    if (result != kResultOk)
        return mapDetectorResult(result);
    if (out) {
        *faces = out;
        *count = found;
    }
    return kResultOk;
}
