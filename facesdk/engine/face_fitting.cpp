// Face fitting and classification: the grey working images, the landmark pass, the classifier
// pass and the fit operation that joins them to the shape preparation of the inner engine.
//
// Divisions: the grey working image; the landmark pass; the classifier pass; the operation.
#include "facesdk/engine/face_fitting.h"

#include <algorithm>
#include <cstring>

#include "facesdk/base/fixed_scale.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/detect/classifier.h"
#include "facesdk/detect/landmark.h"
#include "facesdk/engine/engine.h"
#include "facesdk/engine/face_detection.h"
#include "facesdk/engine/face_libraries.h"

namespace {

// Bytes 496 to 543 of a point buffer: points 62 to 67, completed by the shape preparation.
constexpr uint32_t kPreparedPointsOffset = 62 * sizeof(VXL_POINT);
constexpr uint32_t kPreparedPointsBytes = 6 * sizeof(VXL_POINT);

int32_t longerSide(const EngineImage &image) { return std::max(image.width, image.height); }

bool eyesInside(const VXL_FACE &face, const EngineImage &image)
{
    return eyesInsideImage({face.eye1X, face.eye1Y}, {face.eye2X, face.eye2Y}, image.width,
                           image.height) != 0;
}

void *allocateRecords(EngineAllocator *allocator, int32_t count, uint32_t recordBytes)
{
    const uint64_t bytes = uint64_t(count) * recordBytes;
    return count > 0 && bytes <= UINT32_MAX ? allocatorAlloc(allocator, uint32_t(bytes)) : nullptr;
}

}  // namespace

// ---- The grey working image -----------------------------------------------------------------

int makeGreyWorkingImage(EngineAllocator *allocator, const EngineImage *image, uint32_t maxSide,
                         EngineImage *grey)
{
    std::memset(grey, 0, sizeof *grey);
    EngineImage copy;
    const int copied = makeWorkingCopy(allocator, image, maxSide, &copy);
    if (copied != kResultOk)
        return copied;
    if (copy.width <= 0 || copy.height <= 0) {
        imageRelease(allocator, &copy);
        return kResultBadArgument;
    }
    const int allocated = imageAllocate(allocator, grey, copy.width, copy.height, kFormatGrey8);
    if (allocated != kResultOk) {
        imageRelease(allocator, &copy);
        return allocated;
    }
    const EngineRect whole{0, 0, copy.width, copy.height};
    // Other formats leave the grey image black; the shape preparation refuses them later.
    if (copy.format == kFormatYuv422Yuyv || copy.format == kFormatYuv422Uyvy)
        copyPackedPlaneToGrey(&copy, kSelectLuma, &whole, grey);
    else
        copyPlaneToGrey(&copy, kSelectLuma, &whole, grey);
    imageRelease(allocator, &copy);
    return kResultOk;
}

// ---- The landmark pass ----------------------------------------------------------------------

namespace {

// What both passes start with: their argument checks (-4) and their grey working image.
int startPass(BeautyEngine *engine, const EngineImage *image, const VXL_FACE *faces,
              int32_t count, uint32_t maxSide, EngineImage *grey)
{
    if (!engine || !imageValid(image) || !faces || count <= 0)
        return kResultBadArgument;
    return makeGreyWorkingImage(engine->allocator, image, maxSide, grey);
}

// The fitter's answer as the fit's: no face at the index means nothing to fit, an internal
// failure is a general one, and both fit states count as fitted.
int mapLandmarkResult(int result)
{
    switch (result) {
    case kResultBadIndex:
        return kResultNothingToDo;
    case kResultBadLayer:
        return kResultFailed;
    case kResultFitState101:
    case kResultFitRejected:
        return kResultOk;
    default:
        return result;
    }
}

// Copies the fitted points into the face's buffer in image coordinates and sets its fitted
// flag. A point count that would put the class slot and the flag under the new points (a
// record from outside) is set back to the buffer's own.
void storeFittedPoints(VXL_FACE &face, const int32_t *points, int32_t n, int32_t toImage)
{
    if (!face.points || !points || n <= 0 || n > kFacePointSlots)
        return;
    if (!pointCountFitsBuffer(face) || face.pointCount < n)
        face.pointCount = kFacePointSlots;
    for (int32_t i = 0; i < n; ++i)
        face.points[i] = {scaleQ10(points[2 * i], toImage), scaleQ10(points[2 * i + 1], toImage)};
    fittedFlag(face) = 1;
}

bool alreadyFitted(VXL_FACE &face) { return pointCountFitsBuffer(face) && fittedFlag(face) != 0; }

// Adds every face, fits them and collects the points of the faces still to fit.
int runFitter(LandmarkFitter *fitter, const EngineImage &image, const EngineImage &grey,
              VXL_FACE *faces, int32_t count)
{
    const int32_t toWorking = sideFactorQ10(longerSide(grey), longerSide(image));
    for (int32_t j = 0; j < count; ++j) {
        LandmarkFace record;
        toLandmarkFace(faces[j], &record, toWorking);
        const int added = fitter->ops->addFace(fitter, &record);
        if (added != kResultOk)
            return added;
    }
    int result = fitter->ops->process(fitter, &grey);
    if (result < 0)
        return result;
    const int32_t toImage = sideFactorQ10(longerSide(image), longerSide(grey));
    for (int32_t j = 0; j < count; ++j) {
        VXL_FACE &face = faces[j];
        if (alreadyFitted(face) || !eyesInside(face, image))
            continue;
        const int32_t *points = nullptr;
        int32_t n = 0;
        const int answer = fitter->ops->getPoints(fitter, j, &points, &n);
        if (answer == kResultFitState101 || answer == kResultFitRejected) {
            // That face's fit was turned down: it stays unfitted, and the faces after it keep
            // their own fits (ending the walk here left them unfitted under a successful
            // answer). The answer is the fit's, as before.
            if (result == kResultOk)
                result = answer;
            continue;
        }
        if (answer != kResultOk)
            return answer;
        storeFittedPoints(face, points, n, toImage);
    }
    return result;
}

}  // namespace

int fitLandmarks(BeautyEngine *engine, const EngineImage *image, VXL_FACE *faces, int32_t count)
{
    EngineImage grey;
    int result = startPass(engine, image, faces, count, kLandmarkMaxSide, &grey);
    if (result != kResultOk)
        return result;
    EngineAllocator *allocator = engine->allocator;

    const LandmarkInterface *library = faceLibraryEntries().landmarkInterface();
    const LandmarkOptions options = {sizeof(LandmarkOptions), 0, 0};
    LandmarkFitter *fitter = nullptr;
    result = library ? library->create(allocator, &options, &fitter) : kResultFailed;
    if (result == kResultOk && fitter)
        result = runFitter(fitter, *image, grey, faces, count);
    else if (result == kResultOk)
        result = kResultFailed;
    if (fitter)
        fitter->ops->destroy(fitter);
    imageRelease(allocator, &grey);
    return mapLandmarkResult(result);
}

// ---- The classifier pass --------------------------------------------------------------------

int32_t faceClassValue(int32_t firstClass, int32_t secondClass)
{
    if (firstClass == 0 || firstClass == 1)
        return 4;
    if (firstClass == 2)
        return secondClass != 0 ? 2 : 1;
    return 0;
}

int classifyFaces(BeautyEngine *engine, const EngineImage *image, VXL_FACE *faces, int32_t count)
{
    EngineImage grey;
    int result = startPass(engine, image, faces, count, kClassifierMaxSide, &grey);
    if (result != kResultOk)
        return result;
    EngineAllocator *allocator = engine->allocator;
    auto *records = static_cast<ClassifierFace *>(
        allocateRecords(allocator, count, sizeof(ClassifierFace)));
    if (!records) {
        imageRelease(allocator, &grey);
        return kResultNoMemory;
    }
    const int32_t toWorking = sideFactorQ10(longerSide(grey), longerSide(*image));

    const ClassifierInterface *library = faceLibraryEntries().classifierInterface();
    const ClassifierOptions options = {sizeof(ClassifierOptions),
                                       kClassifierNetworkA | kClassifierNetworkB, 0};
    FaceClassifier *classifier = nullptr;
    result = library && library->ops ? library->ops->create(library, allocator, &options, &classifier)
                                     : kResultFailed;
    if (result == kResultOk && !classifier)
        result = kResultFailed;
    if (result == kResultOk) {
        // A face the classifier cannot take keeps its class value; the pass goes on, and answers
        // 0 when any face was classified. Only when none was does it answer with the last
        // face's refusal: a refused face (a false detection at the picture's edge, say) must
        // not make the fit of the faces that were classified fail.
        bool anyClassified = false;
        for (int32_t i = 0; i < count; ++i) {
            VXL_FACE &face = faces[i];
            toClassifierFace(face, &records[i], toWorking);
            const ClassifierResult *verdict = nullptr;
            result = classifier->ops->run(classifier, &records[i], &grey, &verdict);
            anyClassified = anyClassified || result == kResultOk;
            if (result == kResultOk && verdict && pointCountFitsBuffer(face))
                classSlot(face) = {0, faceClassValue(verdict->classA, verdict->classB)};
        }
        if (anyClassified)
            result = kResultOk;
    }
    if (classifier)
        classifier->ops->destroy(classifier);
    allocatorFree(allocator, records);
    imageRelease(allocator, &grey);
    return result;
}

// ---- The operation --------------------------------------------------------------------------

namespace {

// Gives every face whose eyes lie inside the image its two buffers. On failure the buffers of
// the faces before it are freed and the code returned.
int ensureBuffersOfFittableFaces(BeautyEngine *engine, const EngineImage &image, VXL_FACE *faces,
                                 int32_t count)
{
    for (int32_t i = 0; i < count; ++i) {
        if (!eyesInside(faces[i], image))
            continue;
        const int result = ensureFaceBuffers(engine->allocator, &faces[i]);
        if (result != kResultOk) {
            for (int32_t j = 0; j < i; ++j)
                freeFaceBuffers(engine->allocator, &faces[j]);
            return result;
        }
    }
    return kResultOk;
}

// Builds the shape records of the faces; 0/97 as the fit's answer `landmarks` decides, else
// the preparation's code.
int prepareShapes(BeautyEngine *engine, EngineImage *image, VXL_FACE *faces, int32_t count,
                  int landmarks)
{
    auto *works = static_cast<FaceWork *>(allocateRecords(engine->allocator, count, sizeof(FaceWork)));
    if (!works)
        return kResultNoMemory;
    for (int32_t i = 0; i < count; ++i)
        toFaceWork(faces[i], &works[i], image->width, image->height);
    const int prepared = engine->inner->ops->fitFaces(engine->inner, image, works, count, nullptr);
    int result = prepared;
    if (resultIsSuccess(prepared)) {
        result = landmarks != kResultOk ? prepared : kResultOk;
        for (int32_t i = 0; i < count; ++i) {
            VXL_FACE &face = faces[i];
            if (face.points && face.savedPoints)
                std::memcpy(face.savedPoints + kPreparedPointsOffset,
                            reinterpret_cast<const uint8_t *>(face.points) + kPreparedPointsOffset,
                            kPreparedPointsBytes);
        }
    }
    allocatorFree(engine->allocator, works);
    return result;
}

}  // namespace

int engineFitFaces(BeautyEngine *engine, EngineImage *image, VXL_FACE *faces, int32_t count)
{
    if (!engine || !image || !faces || count <= 0 || !engine->inner ||
        uint32_t(image->width) < kMinimumImageSide || uint32_t(image->height) < kMinimumImageSide ||
        !faceRollsValid(faces, count))
        return kResultBadArgument;
    engine->operationsUsed |= kUsedFit;

    const int buffers = ensureBuffersOfFittableFaces(engine, *image, faces, count);
    if (buffers != kResultOk)
        return buffers;

    int landmarks = fitLandmarks(engine, image, faces, count);
    if (landmarks != kResultOk) {
        for (int32_t i = 0; i < count; ++i)
            freeFaceBuffers(engine->allocator, &faces[i]);
        if (landmarks != kResultNothingToDo)
            return landmarks;
    } else {
        savePointGroups(faces, count);
    }

    const int classes = classifyFaces(engine, image, faces, count);
    if (!resultIsSuccess(classes))
        return classes;
    if (landmarks != kResultOk)
        landmarks = classes;

    const int result = prepareShapes(engine, image, faces, count, landmarks);
    // Whatever the preparation answered, each face learns which stages its record serves.
    for (int32_t i = 0; i < count; ++i) {
        uint32_t prepared = 0;
        engine->inner->ops->faceValue(engine->inner, faces[i].id, &prepared);
        faces[i].preparedMask = prepared;
    }
    return result;
}
