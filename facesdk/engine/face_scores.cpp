// Face tone and colour scores: the two scores and the measure operation.
#include "facesdk/engine/face_scores.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/face_measurements.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/row_bands.h"

namespace {

constexpr int32_t kBestScore = 5;
// Levels whose gains the colour score reads.
constexpr int32_t kMidToneFirst = 50, kMidToneEnd = 220;

}  // namespace

int toneScore(int32_t e, int32_t f, int32_t h, int32_t g, const uint8_t *imageCurve,
              const uint8_t *faceCurve, uint8_t *score)
{
    const int32_t range = ((3 * uint8_t(g) + uint8_t(f)) >> 2) - ((3 * uint8_t(h) + uint8_t(e)) >> 2);
    const int32_t wide = std::max((range + 255) / 2 - 220, 0);
    int32_t distance = 0;
    for (int32_t i = 0; i < 256; ++i)
        distance += (std::abs(imageCurve[i] - i) + 3 * std::abs(faceCurve[i] - i)) / 4;
    const int32_t curved = std::min(distance * 5 / 4500, kBestScore);
    const int32_t x = wide * 5 / 35 + 2 * (kBestScore - curved);
    *score = uint8_t(std::min(x / 3 + 1, kBestScore));
    return kResultOk;
}

int colourScore(const int32_t *gainR, const int32_t *gainG, const int32_t *gainB, uint8_t *score)
{
    const int32_t *tables[3] = {gainR, gainG, gainB};
    int64_t sum = 0;
    for (const int32_t *gain : tables) {
        int64_t deviation = 0;
        for (int32_t i = kMidToneFirst; i < kMidToneEnd; ++i)
            deviation += std::llabs(int64_t(gain[i]) - kGainOne);
        sum += deviation / (kMidToneEnd - kMidToneFirst);
    }
    const int64_t cast = (sum / 3) * 5 / 80;
    *score = uint8_t(std::min<int64_t>(6 - std::min<int64_t>(cast, 5), kBestScore));
    return kResultOk;
}

int innerFaceMeasure(InnerEngine *inner, EngineImage *image, FaceWork *faces, int32_t count,
                     uint8_t *toneScoreOut, uint8_t *colourScoreOut)
{
    if (!inner || !faces || count <= 0 || !imageValid(image) || !toneScoreOut || !colourScoreOut)
        return kResultBadArgument;
    inner->operationsUsed |= kInnerUsedFaceMeasure;
    const BandWorkersScope bands(inner->workers);
    if (!faceOperationFacesValid(inner, image, faces, count))
        return kResultBadArgument;
    RunImageScope scope(inner, image);
    if (scope.result() != kResultOk)
        return scope.result();
    const int32_t largest = largestFaceIndex(faces, count);
    if (largest < 0)
        return kResultNothingToDo;

    EngineAllocator *allocator = inner->allocator;
    FaceCopies copies;
    int result = makeFaceCopies(allocator, image, innerFaceBox(faces[largest].box, 2, image->format),
                                &copies);
    if (result != kResultOk)
        return result;
    uint8_t *imageCurve = nullptr, *faceCurve = nullptr;
    int32_t *gains[3] = {};
    int32_t e, f, h, g, castWeight;
    result = faceToneLevels(allocator, &copies.whole, &copies.face, &imageCurve, &faceCurve, &e, &f,
                            &h, &g);
    if (result == kResultOk)
        result = skinColourGains(inner, &copies.face, &gains[0], &gains[1], &gains[2], &castWeight);
    if (result == kResultOk) {
        toneScore(e, f, h, g, imageCurve, faceCurve, toneScoreOut);
        colourScore(gains[0], gains[1], gains[2], colourScoreOut);
    }
    for (int32_t *table : gains)
        allocatorFree(allocator, table);
    allocatorFree(allocator, imageCurve);
    allocatorFree(allocator, faceCurve);
    releaseFaceCopies(allocator, &copies);
    return result;
}
