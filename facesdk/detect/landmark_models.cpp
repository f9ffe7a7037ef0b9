/*
 * The landmark fitter's model parts: shape-model arithmetic and the loaders.
 *
 * Divisions: shape models; point groups; loaders.
 *
 * The tables themselves are trained from annotated faces by tools/landmarktrain and generated
 * into landmark_tables.cpp; a loader makes a part record that refers to them.
 */
#include "facesdk/detect/landmark_models.h"

#include <cstring>

#include "facesdk/detect/landmark_tables.h"

/* ---- shape models ---- */

namespace {

inline int pointIndex(const int *indices, uint32_t i)
{
    return indices ? indices[i] : int(i);
}

}  // namespace

void projectShape(const ShapeModel &model, uint32_t modesUsed, const int32_t *points,
                  const int *indices, int32_t *coefficients)
{
    const uint32_t n = model.points;
    for (uint32_t m = 0; m < modesUsed && m < model.modes; ++m) {
        const int32_t *mode = model.modeWeights + size_t(m) * 2 * n;
        int64_t sum = 0;
        for (uint32_t i = 0; i < n; ++i) {
            const int p = pointIndex(indices, i);
            sum += int64_t(points[2 * p] - (model.mean[i] >> 6)) * mode[i];
            sum += int64_t(points[2 * p + 1] - (model.mean[n + i] >> 6)) * mode[n + i];
        }
        coefficients[m] = int32_t(roundedDivide(sum, 1024));
    }
}

void applyShapeModel(const ShapeModel &model, uint32_t modesUsed, const int32_t *limits,
                     int32_t *points, const int *indices, int32_t *coefficients)
{
    if (modesUsed > model.modes)
        modesUsed = model.modes;
    int32_t c[64] = {};
    if (modesUsed > 64)
        modesUsed = 64;
    projectShape(model, modesUsed, points, indices, c);
    if (limits)
        for (uint32_t m = 0; m < modesUsed; ++m)
            c[m] = c[m] > limits[m] ? limits[m] : c[m] < -limits[m] ? -limits[m] : c[m];
    const uint32_t n = model.points;
    for (uint32_t i = 0; i < n; ++i) {
        int64_t x = int64_t(model.mean[i]) * 256, y = int64_t(model.mean[n + i]) * 256;
        for (uint32_t m = 0; m < modesUsed; ++m) {
            const int32_t *mode = model.modeWeights + size_t(m) * 2 * n;
            x += int64_t(mode[i] >> 4) * (c[m] >> 4);
            y += int64_t(mode[n + i] >> 4) * (c[m] >> 4);
        }
        const int p = pointIndex(indices, i);
        points[2 * p] = int32_t(roundedDivide(x, 16384));
        points[2 * p + 1] = int32_t(roundedDivide(y, 16384));
    }
    if (coefficients)
        std::memcpy(coefficients, c, modesUsed * sizeof(int32_t));
}

/* ---- point groups ---- */

const int kEyeListIndices[kEyeListPoints] = {12, 15, 18, 21, 0, 3, 6, 9, 13, 14, 16, 17, 19, 20, 22, 23};
const int kEyeGroup[12] = {12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23};
const int kMouthGroup[12] = {32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43};
const int kNoseGroup[8] = {24, 25, 26, 27, 28, 29, 30, 31};

/* ---- loaders ---- */

namespace {

template <typename Part>
Part *allocPart(EngineAllocator *allocator)
{
    auto *part = static_cast<Part *>(allocatorAlloc(allocator, sizeof(Part)));
    if (part)
        std::memset(part, 0, sizeof *part);
    return part;
}

}  // namespace

const RefinementTables *refinementTables(int cropSize)
{
    switch (cropSize) {
    case 128: return landmarkRefinement(0);
    case 192: return landmarkRefinement(1);
    case 320: return landmarkRefinement(2);
    default: return nullptr;
    }
}

ModelPart1 *loadModelPart1(EngineAllocator *allocator)
{
    auto *part = allocPart<ModelPart1>(allocator);
    if (part)
        fillLandmarkPart1(part);
    return part;
}

ModelPart2 *loadModelPart2(EngineAllocator *allocator)
{
    auto *part = allocPart<ModelPart2>(allocator);
    if (part)
        fillLandmarkPart2(part);
    return part;
}

ModelPart3 *loadModelPart3(EngineAllocator *allocator)
{
    auto *part = allocPart<ModelPart3>(allocator);
    if (part)
        fillLandmarkPart3(part);
    return part;
}

ModelPart4 *loadModelPart4(EngineAllocator *allocator)
{
    auto *part = allocPart<ModelPart4>(allocator);
    if (part)
        fillLandmarkPart4(part);
    return part;
}
