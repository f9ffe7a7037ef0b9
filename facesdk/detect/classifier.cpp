/*
 * The face classifier object: create, run, reset and destroy, the conversion of network
 * outputs to percent scores, and the per-face-id smoothing.
 *
 * Divisions: descriptors; create and destroy; scores; smoothing; run.
 */
#include "facesdk/detect/classifier.h"

#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/detect/classifier_align.h"

/* ---- descriptors ---- */

namespace {

const FaceClassifierOps kClassifierOps = {faceClassifierDestroy, faceClassifierRun,
                                          faceClassifierReset};
const ClassifierInterfaceOps kInterfaceOps = {faceClassifierInfo, faceClassifierCreate};
const ClassifierInterface kInterface = {&kInterfaceOps, &kClassifierNetworkADescriptor,
                                        &kClassifierNetworkBDescriptor};
const ClassifierInfo kInfo = {32, 0x030503F7u, 2, 5, 0, "Apr 27 2024 10:44:28",
                              "3.5.3.503.   "};

constexpr uint32_t kCropBytes = kCropSide * kCropSide;

}  // namespace

const ClassifierInterface *faceClassifierInterface()
{
    return &kInterface;
}

const ClassifierInfo *faceClassifierInfo()
{
    return &kInfo;
}

/* ---- create and destroy ---- */

int faceClassifierCreate(const ClassifierInterface *interface, EngineAllocator *allocator,
                         const ClassifierOptions *options, FaceClassifier **out)
{
    if (!out || !interface || !options || options->size < 12 || options->networks == 0)
        return kResultBadArgument;
    *out = nullptr;
    if ((options->networks & ~(kClassifierNetworkA | kClassifierNetworkB)) != 0 || !allocator)
        return kResultUnsupported;
    auto *classifier = static_cast<FaceClassifier *>(allocatorAlloc(allocator, sizeof(FaceClassifier)));
    if (!classifier)
        return kResultNoMemory;
    std::memset(classifier, 0, sizeof *classifier);
    classifier->ops = &kClassifierOps;
    classifier->allocator = allocator;
    classifier->result.size = sizeof(ClassifierResult);
    classifier->result.classA = kClassNone;
    classifier->result.classB = kClassNone;
    classifier->mode = options->mode;

    int result = kResultOk;
    classifier->crop = static_cast<uint8_t *>(allocatorAlloc(allocator, kCropBytes));
    classifier->input = static_cast<int16_t *>(allocatorAlloc(allocator, kCropBytes * sizeof(int16_t)));
    if (!classifier->crop || !classifier->input)
        result = kResultNoMemory;
    if (result == kResultOk && (options->networks & kClassifierNetworkA))
        result = networkBuild(interface->networkA, allocator, &classifier->networkA);
    if (result == kResultOk && (options->networks & kClassifierNetworkB))
        result = networkBuild(interface->networkB, allocator, &classifier->networkB);
    if (result != kResultOk) {
        faceClassifierDestroy(classifier);
        return result;
    }
    *out = classifier;
    return kResultOk;
}

int faceClassifierDestroy(FaceClassifier *classifier)
{
    if (!classifier)
        return kResultBadArgument;
    EngineAllocator *allocator = classifier->allocator;
    networkFree(classifier->networkB);
    networkFree(classifier->networkA);
    allocatorFree(allocator, classifier->input);
    allocatorFree(allocator, classifier->crop);
    allocatorFree(allocator, classifier);
    return kResultOk;
}

int faceClassifierReset(FaceClassifier *classifier)
{
    if (!classifier)
        return kResultBadArgument;
    std::memset(&classifier->history, 0, sizeof classifier->history);
    return kResultOk;
}

/* ---- scores ---- */

namespace {

/* Runs one network on the input tensor and turns its Q8 softmax output into percent scores;
 * answers the class: the first strictly greatest score above 0, or kClassNone. */
int runNetwork(FaceClassifier *classifier, NetworkInstance *network, uint8_t *scores,
               uint32_t classes, int32_t *classOut)
{
    int16_t output[8] = {};
    ClassifierTensor in{kCropSide, kCropSide, 1, classifier->input};
    ClassifierTensor out{1, classes, 1, output};
    if (networkRun(network, &in, &out) != kResultOk)
        return kResultFailed;
    int32_t best = kClassNone;
    int32_t bestScore = 0;
    for (uint32_t i = 0; i < classes; ++i) {
        const int32_t score = int32_t(double(output[i]) / 2.55);
        scores[i] = uint8_t(score < 0 ? 0 : score > 255 ? 255 : score);
        if (scores[i] > bestScore) {
            bestScore = scores[i];
            best = int32_t(i);
        }
    }
    *classOut = best;
    return kResultOk;
}

/* ---- smoothing ---- */

/* The newest slot before `from` (going backwards, wrapping) that holds a run of face id `id`;
 * the search stops at an empty slot or when it comes back to `stop`. */
ClassifierHistorySlot *findSlot(ClassifierHistory &history, int32_t from, int32_t stop, int32_t id)
{
    for (int32_t i = from;; i = (i + kHistorySlots - 1) % kHistorySlots) {
        ClassifierHistorySlot &slot = history.slots[i];
        if (!slot.valid)
            return nullptr;
        if (slot.face.id == id)
            return &slot;
        if ((i + kHistorySlots - 1) % kHistorySlots == stop)
            return nullptr;
    }
}

/* A run's weight: how far its own class stands above the mean of its scores. A network that
 * gave no class contributes nothing. */
double runWeight(const uint8_t *scores, uint32_t classes, int32_t klass)
{
    if (klass == kClassNone)
        return 0.0;
    double sum = 0.0;
    for (uint32_t i = 0; i < classes; ++i)
        sum += scores[i];
    return (double(classes) * scores[klass] - sum) / (classes == 3 ? 200.0 : 100.0);
}

/* Smoothed scores from the accumulated sums; the class follows the largest of them. */
void readSmoothed(const double *sums, const double *weights, uint32_t classes, uint8_t *scores,
                  int32_t *klass)
{
    int32_t c = *klass;
    for (uint32_t j = 0; j < classes; ++j) {
        if (weights[j] > 0.0)
            scores[j] = uint8_t(int32_t(sums[j] / weights[j]));
        const int32_t current = c == kClassNone ? 0 : scores[c];
        if (scores[j] > current)
            c = int32_t(j);
    }
    *klass = c;
}

void smoothResults(FaceClassifier *classifier, const ClassifierFace *face)
{
    ClassifierHistory &history = classifier->history;
    ClassifierResult &result = classifier->result;
    const int32_t a = history.ring;
    ClassifierHistorySlot &slot = history.slots[a];
    ClassifierHistorySlot *previous = findSlot(history, (a + kHistorySlots - 1) % kHistorySlots, a, face->id);
    const ClassifierAccumulator start = previous ? previous->accumulator : ClassifierAccumulator{};

    std::memset(&slot, 0, sizeof slot);
    std::memcpy(&slot.face, face, sizeof slot.face);
    slot.classA = result.classA;
    slot.classB = result.classB;
    std::memcpy(slot.scoresA, classifier->scoresA, 3);
    std::memcpy(slot.scoresB, classifier->scoresB, 2);
    slot.valid = 1;
    slot.accumulator = start;
    const double d = runWeight(classifier->scoresA, 3, result.classA);
    const double e = runWeight(classifier->scoresB, 2, result.classB);
    ClassifierAccumulator &acc = slot.accumulator;
    for (int j = 0; j < 3; ++j) {
        acc.sumsA[j] += classifier->scoresA[j] * d;
        acc.weightsA[j] += d;
    }
    for (int j = 0; j < 2; ++j) {
        acc.sumsB[j] += classifier->scoresB[j] * e;
        acc.weightsB[j] += e;
    }
    acc.runs += 1;
    history.ring = (a + 1) % kHistorySlots;

    readSmoothed(acc.sumsA, acc.weightsA, 3, classifier->scoresA, &result.classA);
    readSmoothed(acc.sumsB, acc.weightsB, 2, classifier->scoresB, &result.classB);
}

}  // namespace

/* ---- run ---- */

int faceClassifierRun(FaceClassifier *classifier, const ClassifierFace *face,
                      const EngineImage *image, const ClassifierResult **out)
{
    if (out)
        *out = nullptr;
    if (!classifier || !face || !image || !out || !firstPlaneUsable(*image) || face->size < 64)
        return kResultBadArgument;
    if (image->format != kFormatGrey8)
        return kResultUnsupported;
    const int geometry = checkFaceGeometry(face);
    if (geometry != kResultOk)
        return geometry;
    ClassifierResult &result = classifier->result;
    result.classA = kClassNone;
    result.classB = kClassNone;
    result.scoresA = nullptr;
    result.scoresB = nullptr;
    if (alignFaceCrop(classifier->crop, image, face) != kResultOk)
        return kResultFailed;
    for (uint32_t i = 0; i < uint32_t(kCropSide * kCropSide); ++i)
        classifier->input[i] = int16_t(int32_t(classifier->crop[i]) - 128);

    if (classifier->networkA) {
        if (runNetwork(classifier, classifier->networkA, classifier->scoresA, 3, &result.classA) != kResultOk)
            return kResultFailed;
        result.scoresA = classifier->scoresA;
    }
    if (classifier->networkB) {
        if (runNetwork(classifier, classifier->networkB, classifier->scoresB, 2, &result.classB) != kResultOk)
            return kResultFailed;
        result.scoresB = classifier->scoresB;
    }
    if ((classifier->mode & kClassifierSmoothing) && face->id != 0) {
        smoothResults(classifier, face);
        result.scoresA = result.classA == kClassNone ? nullptr : classifier->scoresA;
        result.scoresB = result.classB == kClassNone ? nullptr : classifier->scoresB;
    }
    *out = &result;
    return kResultOk;
}
