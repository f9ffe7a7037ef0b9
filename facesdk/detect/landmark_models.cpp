/*
 * The landmark fitter's model parts: shape-model arithmetic, the loaders, and the library's
 * model tables.
 *
 * Divisions: shape models; point groups; the model tables; loaders.
 *
 * The trained tables of this library (appearance and shape modes beyond the rigid ones,
 * regressors, patch experts, refinement detectors) are not part of this tree. The tables below
 * hold what can be derived without training, in the layouts the stages read, so trained values
 * can replace them one for one:
 *  - the 62-point mean shape is built geometrically from the 47-point face layout the classifier
 *    aligns to, with a jaw line of 15 points, scaled to the eye distance 4728 and the
 *    eye-to-mouth distance 5197; both deformation vectors are zero;
 *  - the reference shapes of the four crop types are that mean shape centred in the crop with
 *    the margin of each type;
 *  - every shape model (whole shape and groups) holds the four rigid modes of its mean
 *    (translation in x and y, scale, rotation) and zero modes after them, so a constraint keeps
 *    the similarity part of the points' movement and removes the rest;
 *  - appearance modes, regressors, local-search and patch-regression weights, the tracking
 *    cascade and score weights, and the refinement detectors are zero, so those experts leave
 *    the points where they are.
 */
#include "facesdk/detect/landmark_models.h"

#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "facesdk/detect/classifier_align.h"
#include "facesdk/detect/landmark_coarse.h"

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

/* ---- the model tables ---- */

namespace {

/* A shape model's storage: mean (x values, then y) and modes. */
struct ShapeTable {
    std::vector<int32_t> mean;
    std::vector<int32_t> modes;
    ShapeModel model() const
    {
        return {uint32_t(mean.size() / 2), uint32_t(modes.size() / mean.size()), mean.data(), modes.data()};
    }
};

/* The rigid modes of a mean (translation x, y, scale, rotation), each of norm 65536, then
 * zero modes up to `modes`. `interleaved` holds the points (x, y) in 1/65536 crop pixel. */
ShapeTable rigidShapeModel(const std::vector<int32_t> &interleaved, const int *indices, int n, int modes)
{
    ShapeTable table;
    table.mean.resize(2 * n);
    double cx = 0, cy = 0;
    for (int i = 0; i < n; ++i) {
        const int p = indices ? indices[i] : i;
        table.mean[i] = interleaved[2 * p];
        table.mean[n + i] = interleaved[2 * p + 1];
        cx += table.mean[i];
        cy += table.mean[n + i];
    }
    cx /= n;
    cy /= n;
    table.modes.assign(size_t(modes) * 2 * n, 0);
    double norm = 0;
    for (int i = 0; i < n; ++i)
        norm += std::pow(table.mean[i] - cx, 2) + std::pow(table.mean[n + i] - cy, 2);
    norm = std::sqrt(norm);
    for (int i = 0; i < n && modes >= 4; ++i) {
        const double dx = (table.mean[i] - cx) / norm, dy = (table.mean[n + i] - cy) / norm;
        int32_t *m = table.modes.data();
        m[i] = int32_t(std::lround(65536 / std::sqrt(double(n))));
        m[2 * n + n + i] = m[i];
        m[4 * n + i] = int32_t(std::lround(65536 * dx));
        m[4 * n + n + i] = int32_t(std::lround(65536 * dy));
        m[6 * n + i] = int32_t(std::lround(-65536 * dy));
        m[6 * n + n + i] = int32_t(std::lround(65536 * dx));
    }
    return table;
}

/* Per-point expert tables, all neutral: 45-degree bins, every point regressed with zero
 * weights; search records and windows exist for trained flags to use. */
struct ExpertTable {
    std::vector<uint8_t> kinds, searcherFlags, activeFlags;
    std::vector<int32_t> searchRecords, regressionRecords;
    std::vector<int64_t> windows;
    explicit ExpertTable(int n)
        : kinds(n, 1), searcherFlags(n, 1), activeFlags(n, 1), searchRecords(size_t(n) * kPatchFeatures, 0),
          regressionRecords(size_t(n) * 2 * kPatchFeatures, 0), windows(n, (int64_t(3 * 1024) << 32) | (3 * 1024))
    {
    }
    PointExperts experts() const
    {
        return {kinds.data(), searcherFlags.data(), activeFlags.data(), searchRecords.data(),
                windows.data(), regressionRecords.data()};
    }
};

constexpr int32_t kWideLimit = 1 << 24;   /* limits that never clamp the rigid modes */

struct ModelTables {
    std::vector<int32_t> meanShape, deformation;
    std::vector<int32_t> reference[5];   /* by stage type 1 .. 4 */
    ShapeTable coarse, group1, group2, shape2, eyes2, mouth2, shape3, eyes3, mouth3, nose3, eyes4, mouth4;
    std::vector<int32_t> limits, appearance, incrementRegressor;
    int32_t coarseCentre[2];
    ExpertTable coarseExperts{kCoarsePoints}, experts2{kLandmarkPoints}, experts3{kLandmarkPoints},
        experts4{kLandmarkPoints};
    std::vector<int32_t> subsetPoints[4], subsetFeatures[4];
    std::vector<int16_t> subsetWeights[4];
    std::vector<int16_t> trackWeights, trackBiases, scoreWeights;
    std::vector<PointDetector> detectors;   /* 28 per crop size, all neutral */
    RefinementTables refinement[3];
};

/* The 62-point mean shape in model units: eye centres 4728 apart on y = -2599, the mouth
 * centre 5197 below their midpoint, the origin half-way between. */
std::vector<int32_t> buildMeanShape()
{
    double eyeY = 0, mouthY = 0;
    for (int i = 12; i < 24; ++i)
        eyeY += kLandmarkTemplate[i].y / 12.0;
    for (int i = 32; i < 44; ++i)
        mouthY += kLandmarkTemplate[i].y / 12.0;
    const double centreX = 24064;   /* the layout's mirror line, Q10 */
    const double sx = 4728.0 / (37888 - 10240), sy = 5197.0 / (mouthY - eyeY);
    std::vector<double> x(kLandmarkPoints), y(kLandmarkPoints);
    for (int i = 0; i < kTrackingPoints; ++i) {
        x[i] = kLandmarkTemplate[i].x;
        y[i] = kLandmarkTemplate[i].y;
    }
    /* Jaw line 47 .. 61: half an ellipse from the left temple through the chin (54) to the
     * right temple. */
    for (int k = 0; k < 15; ++k) {
        const double angle = M_PI - M_PI * k / 14;
        x[47 + k] = centreX + 25088 * std::cos(angle);
        y[47 + k] = 12288 + 40960 * std::sin(angle);
    }
    std::vector<int32_t> shape(2 * kLandmarkPoints);
    for (int i = 0; i < kLandmarkPoints; ++i) {
        shape[2 * i] = int32_t(std::lround((x[i] - centreX) * sx));
        shape[2 * i + 1] = int32_t(std::lround((y[i] - eyeY) * sy - 2599));
    }
    return shape;
}

/* The mean shape centred in a size x size crop whose bounding-box side is size / margin. */
std::vector<int32_t> referenceShape(const std::vector<int32_t> &mean, int size, double margin)
{
    double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
    for (int i = 0; i < kLandmarkPoints; ++i) {
        left = std::min<double>(left, mean[2 * i]);
        right = std::max<double>(right, mean[2 * i]);
        top = std::min<double>(top, mean[2 * i + 1]);
        bottom = std::max<double>(bottom, mean[2 * i + 1]);
    }
    const double scale = size / margin / std::max(right - left, bottom - top);
    std::vector<int32_t> reference(2 * kLandmarkPoints);
    for (int i = 0; i < kLandmarkPoints; ++i) {
        reference[2 * i] = int32_t(std::lround(((mean[2 * i] - (left + right) / 2) * scale + size / 2.0) * 65536));
        reference[2 * i + 1] = int32_t(std::lround(((mean[2 * i + 1] - (top + bottom) / 2) * scale + size / 2.0) * 65536));
    }
    return reference;
}

void buildTables(ModelTables &t)
{
    t.meanShape = buildMeanShape();
    t.deformation.assign(2 * kLandmarkPoints, 0);
    t.reference[1] = referenceShape(t.meanShape, 96, 2.0);
    t.reference[2] = referenceShape(t.meanShape, 128, 2.0);
    t.reference[3] = referenceShape(t.meanShape, 192, 1.5);
    t.reference[4] = referenceShape(t.meanShape, 320, 1.25);

    /* The coarse mean: the 37 coarse points of the type-1 reference. */
    std::vector<int32_t> fine1024(2 * kLandmarkPoints), coarse1024(2 * kCoarsePoints);
    for (int i = 0; i < 2 * kLandmarkPoints; ++i)
        fine1024[i] = t.reference[1][i] / 64;
    fineToCoarse(fine1024.data(), coarse1024.data());
    std::vector<int32_t> coarse65536(2 * kCoarsePoints);
    int64_t sumX = 0, sumY = 0;
    for (int i = 0; i < kCoarsePoints; ++i) {
        coarse65536[2 * i] = coarse1024[2 * i] * 64;
        coarse65536[2 * i + 1] = coarse1024[2 * i + 1] * 64;
        sumX += coarse1024[2 * i];
        sumY += coarse1024[2 * i + 1];
    }
    t.coarseCentre[0] = int32_t(sumX / kCoarsePoints);
    t.coarseCentre[1] = int32_t(sumY / kCoarsePoints);
    t.coarse = rigidShapeModel(coarse65536, nullptr, kCoarsePoints, kCoarseShapeModes);
    static const int kGroup1[10] = {18, 19, 20, 21, 22, 23, 24, 25, 26, 27};
    static const int kGroup2[9] = {28, 29, 30, 31, 32, 33, 34, 35, 36};
    t.group1 = rigidShapeModel(coarse65536, kGroup1, 10, 4);
    t.group2 = rigidShapeModel(coarse65536, kGroup2, 9, 6);
    t.limits.assign(64, kWideLimit);
    t.appearance.assign(size_t(1 + kAppearanceModes) * kCoarseFeatures, 0);
    t.incrementRegressor.assign(size_t(kAppearanceModes) * kCoarseFeatures, 0);

    /* Feature-subset regressors: the first reads the first 20 points' features, the second
     * the mouth and jaw (24 .. 36), the third the first 17, the fourth 28 .. 35. */
    static const int kSubsetFirst[4] = {0, 24, 0, 28};
    static const int kSubsetCount[4] = {20, 13, 17, 8};
    for (int r = 0; r < 4; ++r) {
        for (int p = 0; p < kSubsetCount[r]; ++p) {
            t.subsetPoints[r].push_back(kSubsetFirst[r] + p);
            for (int f = 0; f < kPatchFeatures; ++f)
                t.subsetFeatures[r].push_back((kSubsetFirst[r] + p) * kPatchFeatures + f);
        }
        t.subsetWeights[r].assign(t.subsetFeatures[r].size() * kSubsetCount[r] * 2, 0);
    }

    t.shape2 = rigidShapeModel(t.reference[2], nullptr, kLandmarkPoints, 24);
    t.eyes2 = rigidShapeModel(t.reference[2], kEyeGroup, 12, 10);
    t.mouth2 = rigidShapeModel(t.reference[2], kMouthGroup, 12, 6);
    t.shape3 = rigidShapeModel(t.reference[3], nullptr, kLandmarkPoints, 36);
    t.eyes3 = rigidShapeModel(t.reference[3], kEyeGroup, 12, 16);
    t.mouth3 = rigidShapeModel(t.reference[3], kMouthGroup, 12, 12);
    t.nose3 = rigidShapeModel(t.reference[3], kNoseGroup, 8, 6);
    t.eyes4 = rigidShapeModel(t.reference[4], kEyeGroup, 12, 10);
    t.mouth4 = rigidShapeModel(t.reference[4], kMouthGroup, 12, 12);
    /* The tracking stage starts from the type-2 mean; its model is the level-2 shape. */
    t.trackWeights.assign(size_t(2) * kTrackingPoints * 2 * kTrackingPoints * kPatchFeatures, 0);
    t.trackBiases.assign(size_t(2) * kTrackingPoints * 2, 0);
    t.scoreWeights.assign(size_t(kTrackingPoints) * kPatchFeatures, 0);

    PointDetector neutral{};
    neutral.window[0] = 2;
    neutral.window[1] = 2;
    neutral.window[2] = 5;
    neutral.window[3] = 5;
    t.detectors.assign(3 * (kEyeListPoints + kMouthListPoints), neutral);
    for (int s = 0; s < 3; ++s) {
        const PointDetector *base = t.detectors.data() + s * (kEyeListPoints + kMouthListPoints);
        t.refinement[s] = {base, base + kEyeListPoints};
    }
}

const ModelTables *modelTables()
{
    static ModelTables *tables = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        tables = new ModelTables;
        buildTables(*tables);
    });
    return tables;
}

template <typename Part>
Part *allocPart(EngineAllocator *allocator)
{
    auto *part = static_cast<Part *>(allocatorAlloc(allocator, sizeof(Part)));
    if (part)
        std::memset(part, 0, sizeof *part);
    return part;
}

}  // namespace

/* ---- loaders ---- */

const RefinementTables *refinementTables(int cropSize)
{
    const ModelTables &t = *modelTables();
    switch (cropSize) {
    case 128: return &t.refinement[0];
    case 192: return &t.refinement[1];
    case 320: return &t.refinement[2];
    default: return nullptr;
    }
}

ModelPart1 *loadModelPart1(EngineAllocator *allocator)
{
    auto *part = allocPart<ModelPart1>(allocator);
    if (!part)
        return nullptr;
    const ModelTables &t = *modelTables();
    part->meanShape = t.meanShape.data();
    part->deformationA = t.deformation.data();
    part->deformationB = t.deformation.data();
    part->eyeDistance = 4728;
    part->eyeMouthDistance = 5197;
    part->referenceShape = t.reference[1].data();
    part->coarseShape = t.coarse.model();
    part->referenceCentre[0] = t.coarseCentre[0];
    part->referenceCentre[1] = t.coarseCentre[1];
    part->coefficientLimits = t.limits.data();
    part->incrementLimits = t.limits.data();
    part->appearance = t.appearance.data();
    part->incrementRegressor = t.incrementRegressor.data();
    part->experts = t.coarseExperts.experts();
    part->group1 = t.group1.model();
    part->group2 = t.group2.model();
    static const int32_t kDivisors[4] = {16, 256, 16, 16};
    for (int r = 0; r < 4; ++r)
        part->subsets[r] = {uint32_t(t.subsetPoints[r].size()), uint32_t(t.subsetFeatures[r].size()),
                            t.subsetPoints[r].data(), t.subsetFeatures[r].data(), t.subsetWeights[r].data(),
                            kDivisors[r]};
    return part;
}

ModelPart2 *loadModelPart2(EngineAllocator *allocator)
{
    auto *part = allocPart<ModelPart2>(allocator);
    if (!part)
        return nullptr;
    const ModelTables &t = *modelTables();
    part->shape = t.shape2.model();
    part->shapeLimits = t.limits.data();
    part->eyes = t.eyes2.model();
    part->mouth = t.mouth2.model();
    part->experts = t.experts2.experts();
    part->referenceShape = t.reference[2].data();
    const size_t regressor = size_t(kTrackingPoints) * 2 * kTrackingPoints * kPatchFeatures;
    part->trackWeights[0] = t.trackWeights.data();
    part->trackWeights[1] = t.trackWeights.data() + regressor;
    part->trackBiases[0] = t.trackBiases.data();
    part->trackBiases[1] = t.trackBiases.data() + 2 * kTrackingPoints;
    part->scoreWeights = t.scoreWeights.data();
    return part;
}

ModelPart3 *loadModelPart3(EngineAllocator *allocator)
{
    auto *part = allocPart<ModelPart3>(allocator);
    if (!part)
        return nullptr;
    const ModelTables &t = *modelTables();
    part->shape = t.shape3.model();
    part->shapeLimits = t.limits.data();
    part->eyes = t.eyes3.model();
    part->mouth = t.mouth3.model();
    part->nose = t.nose3.model();
    part->experts = t.experts3.experts();
    part->referenceShape = t.reference[3].data();
    return part;
}

ModelPart4 *loadModelPart4(EngineAllocator *allocator)
{
    auto *part = allocPart<ModelPart4>(allocator);
    if (!part)
        return nullptr;
    const ModelTables &t = *modelTables();
    part->eyes = t.eyes4.model();
    part->mouth = t.mouth4.model();
    part->experts = t.experts4.experts();
    part->referenceShape = t.reference[4].data();
    return part;
}
