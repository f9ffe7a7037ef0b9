/*
 * The coarse landmark stage.
 *
 * Divisions: point sets; appearance check; branches; the stage.
 */
#include "facesdk/detect/landmark_coarse.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/detect/landmark_fit.h"
#include "facesdk/detect/landmark_stages.h"
#include "facesdk/workers/single_worker.h"

/* ---- point sets ---- */

namespace {

/* Fine points averaged into each coarse point; -1 ends a list. */
const int kCoarseSources[kCoarsePoints][5] = {
    {0, -1},         {1, 2, 4, 5, -1}, {3, -1},  {6, -1},         {7, 8, 10, 11, -1},
    {9, -1},         {12, -1},         {13, 14, -1}, {15, -1},    {16, 17, -1},
    {18, -1},        {19, 20, -1},     {21, -1}, {22, 23, -1},    {24, -1},
    {26, -1},        {30, -1},         {28, -1}, {32, -1},        {34, -1},
    {35, -1},        {36, -1},         {38, -1}, {39, 40, -1},    {41, -1},
    {42, 43, -1},    {44, -1},         {46, -1}, {47, -1},        {48, 49, -1},
    {50, 51, -1},    {52, 53, -1},     {54, -1}, {55, 56, -1},    {57, 58, -1},
    {59, 60, -1},    {61, -1},
};

struct Pt {
    int32_t x, y;
};

inline Pt at(const int32_t *points, int i)
{
    return {points[2 * i], points[2 * i + 1]};
}

inline void put(int32_t *points, int i, Pt p)
{
    points[2 * i] = p.x;
    points[2 * i + 1] = p.y;
}

/* a + (b - a) * n / d per coordinate, divisions truncating toward zero. */
inline Pt partWay(Pt a, Pt b, int n, int d)
{
    return {a.x + (b.x - a.x) * n / d, a.y + (b.y - a.y) * n / d};
}

inline Pt halfSum(Pt a, Pt b)
{
    return {(a.x + b.x) >> 1, (a.y + b.y) >> 1};
}

int32_t extent(std::initializer_list<int32_t> values)
{
    return std::max(values) - std::min(values);
}

}  // namespace

void fineToCoarse(const int32_t *fine, int32_t *coarse)
{
    for (int k = 0; k < kCoarsePoints; ++k) {
        int64_t x = 0, y = 0;
        int n = 0;
        for (const int *s = kCoarseSources[k]; *s >= 0; ++s, ++n) {
            x += fine[2 * *s];
            y += fine[2 * *s + 1];
        }
        coarse[2 * k] = int32_t(x / n);
        coarse[2 * k + 1] = int32_t(y / n);
    }
}

void coarseToFine(const int32_t *coarse, int32_t *fine)
{
    const auto Q = [&](int i) { return at(coarse, i); };
    const auto F = [&](int i) { return at(fine, i); };
    static const int kCopied[][2] = {{0, 0},   {3, 2},   {6, 3},   {9, 5},   {12, 6},  {15, 8},
                                     {18, 10}, {21, 12}, {24, 14}, {26, 15}, {28, 17}, {30, 16},
                                     {32, 18}, {34, 19}, {35, 20}, {36, 21}, {38, 22}, {41, 24},
                                     {44, 26}, {46, 27}, {47, 28}, {54, 32}, {61, 36}};
    for (const auto &pair : kCopied)
        put(fine, pair[0], Q(pair[1]));

    /* The groups that follow the eyes. */
    const int32_t g = extent({Q(0).x, Q(1).x, Q(2).x}), h = extent({Q(0).y, Q(1).y, Q(2).y}) / 2;
    put(fine, 1, {Q(1).x + g / 3, Q(1).y + h});
    put(fine, 2, {Q(1).x - g / 3, Q(1).y + h});
    put(fine, 4, {Q(1).x - g / 4, Q(1).y - h});
    put(fine, 5, {Q(1).x + g / 4, Q(1).y - h});
    const int32_t A = extent({Q(3).x, Q(4).x, Q(5).x}), B = extent({Q(3).y, Q(4).y, Q(5).y}) / 2;
    put(fine, 7, {Q(4).x - A / 4, Q(4).y - B});
    put(fine, 8, {Q(4).x + A / 4, Q(4).y - B});
    put(fine, 10, {Q(4).x + A / 3, Q(4).y + B});
    put(fine, 11, {Q(4).x - A / 3, Q(4).y + B});

    /* The eyes. */
    const int32_t D = (Q(9).x + Q(7).x) / 2, e = D - Q(8).x, c = (Q(6).x - D) / 2;
    put(fine, 13, {D + std::min(3 * e / 5, c), Q(7).y});
    put(fine, 14, {D - e / 2, Q(7).y});
    put(fine, 16, {D - e / 2, Q(9).y});
    put(fine, 17, {D + c, Q(9).y});
    const int32_t H = (Q(13).x + Q(11).x) >> 1, I = (H - Q(10).x) / 2, f = Q(12).x - H, J = H + f / 2;
    put(fine, 19, {H - I, Q(11).y});
    put(fine, 20, {J, Q(11).y});
    put(fine, 22, {J, Q(13).y});
    put(fine, 23, {H - std::max(I, 3 * f / 5), Q(13).y});

    /* The nose. */
    put(fine, 25, halfSum(Q(14), Q(15)));
    const int32_t K = Q(17).x - Q(16).x, L = K / 4;
    put(fine, 27, {Q(17).x + L, Q(17).y});
    put(fine, 29, {Q(17).x - K / 2, Q(17).y + L});
    put(fine, 31, {Q(16).x - L, Q(16).y});

    /* The mouth. */
    put(fine, 33, halfSum(Q(18), Q(19)));
    put(fine, 37, halfSum(Q(21), Q(22)));
    put(fine, 39, partWay(Q(23), Q(22), 1, 3));
    put(fine, 40, partWay(Q(24), Q(23), 2, 3));
    put(fine, 42, partWay(Q(24), Q(25), 2, 3));
    put(fine, 43, {Q(25).x - (Q(25).x - Q(18).x) / 3, Q(25).y - (Q(25).y - Q(18).y) / 3});
    const int32_t M = F(33).x, R = F(37).x, S = F(39).x, U = F(39).y, Z = F(43).x;
    put(fine, 45, {(M + Z + R + S) >> 2, (3 * F(43).y + 3 * U + 5 * Q(27).y + 5 * Q(26).y) >> 4});

    /* The jaw line. */
    auto thirdAway = [](Pt centre, Pt other, int sign) {
        return Pt{centre.x + sign * ((centre.x - other.x) / 3), centre.y + sign * ((centre.y - other.y) / 3)};
    };
    put(fine, 48, thirdAway(Q(29), Q(28), -1));
    put(fine, 49, thirdAway(Q(29), Q(28), 1));
    put(fine, 50, thirdAway(Q(30), F(49), -1));
    put(fine, 51, thirdAway(Q(30), F(49), 1));
    put(fine, 52, thirdAway(Q(31), F(51), -1));
    put(fine, 53, thirdAway(Q(31), F(51), 1));
    put(fine, 60, partWay(Q(35), Q(36), 1, 3));
    put(fine, 59, {Q(35).x - (Q(36).x - Q(35).x) / 3, Q(35).y - (Q(36).y - Q(35).y) / 3});
    put(fine, 58, thirdAway(Q(34), F(59), -1));
    put(fine, 57, thirdAway(Q(34), F(59), 1));
    put(fine, 56, partWay(Q(33), F(57), 1, 3));
    put(fine, 55, {Q(33).x - (F(57).x - Q(33).x) / 3, Q(33).y - (F(57).y - Q(33).y) / 3});
}

/* ---- appearance check ---- */

namespace {

/* The argument block of one appearance job. Its first int is the status a destroyed worker
 * writes -1 into. */
struct AppearanceJob {
    int32_t status;
    int32_t third;                 /* 0, 1, 2 */
    const ModelPart1 *part;
    CoarseWorkspace *space;
};

inline int32_t appearanceMean(const ModelPart1 &part, int j)
{
    return part.appearance[j] >> 16;
}

int projectionJob(void *argument)
{
    auto *job = static_cast<AppearanceJob *>(argument);
    const ModelPart1 &part = *job->part;
    CoarseWorkspace &space = *job->space;
    for (int k = 2 * job->third; k < 2 * job->third + 2; ++k) {
        const int32_t *mode = part.appearance + size_t(k + 1) * kCoarseFeatures;
        int64_t sum = 0;
        for (int j = 0; j < kCoarseFeatures; ++j)
            sum += int64_t(mode[j]) * (int32_t(space.features[j]) - appearanceMean(part, j));
        space.coefficients[k] = int32_t((sum + 32768) >> 16);
    }
    return 0;
}

int reconstructionJob(void *argument)
{
    auto *job = static_cast<AppearanceJob *>(argument);
    const ModelPart1 &part = *job->part;
    CoarseWorkspace &space = *job->space;
    const int third = kCoarseFeatures / 3;
    for (int j = third * job->third; j < third * (job->third + 1); ++j) {
        int64_t sum = 0;
        for (int k = 0; k < kAppearanceModes; ++k)
            sum += int64_t(part.appearance[size_t(k + 1) * kCoarseFeatures + j]) * space.coefficients[k];
        space.reconstruction[j] = appearanceMean(part, j) + int32_t((sum + 32768) >> 16);
    }
    return 0;
}

int runThirds(SingleWorker *const workers[3], WorkerJobFunction function, AppearanceJob jobs[3])
{
    int result = kResultOk;
    for (int i = 0; i < 3; ++i)
        if (workerPost(workers[i], function, &jobs[i]) != kResultOk)
            result = kResultFailed;
    for (int i = 0; i < 3; ++i)
        workerWait(workers[i]);
    return result;
}

}  // namespace

int appearanceCheck(SingleWorker *const workers[3], CoarseWorkspace *space, const ModelPart1 &part)
{
    AppearanceJob jobs[3];
    for (int i = 0; i < 3; ++i)
        jobs[i] = {0, i, &part, space};
    if (runThirds(workers, projectionJob, jobs) != kResultOk ||
        runThirds(workers, reconstructionJob, jobs) != kResultOk)
        return kResultFailed;
    int64_t total = 0;
    for (int j = 0; j < kCoarseFeatures; ++j) {
        space->residual[j] = int16_t(int32_t(space->features[j]) - space->reconstruction[j]);
        total += std::abs(int32_t(space->residual[j]));
    }
    space->score = int32_t(total >> 11);
    return kResultOk;
}

/* ---- branches ---- */

namespace {

constexpr int kCrop = 96;
const int kGroup1Points[10] = {18, 19, 20, 21, 22, 23, 24, 25, 26, 27};
const int kGroup2Points[9] = {28, 29, 30, 31, 32, 33, 34, 35, 36};

void coarseFeatures(const uint8_t *crop, const ModelPart1 &part, CoarseWorkspace &space)
{
    pointFeatures(crop, kCrop, space.points, kCoarsePoints, part.experts.kinds, false, space.features);
}

/* The reference points: the model's mean points less its reference centre, 1/65536 pixel. */
void referencePoints(const ModelPart1 &part, int32_t *reference)
{
    const ShapeModel &shape = part.coarseShape;
    for (int j = 0; j < kCoarsePoints; ++j) {
        reference[2 * j] = shape.mean[j] - part.referenceCentre[0] * 64;
        reference[2 * j + 1] = shape.mean[kCoarsePoints + j] - part.referenceCentre[1] * 64;
    }
}

void branchA(LandmarkTrack *track, const ModelPart1 &part, const uint8_t *crop, int pass,
             SingleWorker *const workers[3], CoarseWorkspace &space)
{
    const ShapeModel &shape = part.coarseShape;
    int32_t reference[2 * kCoarsePoints];
    referencePoints(part, reference);
    coarseFeatures(crop, part, space);
    CropTransform similarity;
    fitSimilarity(space.points, reference, kCoarsePoints, &similarity);
    appearanceCheck(workers, &space, part);

    int32_t shapeCoefficients[kAppearanceModes] = {};
    if (pass != 0 || track->hintA != 0 || track->hintB != 0) {
        /* Model-frame points, moved back onto the mean's own origin for the projection. */
        for (int j = 0; j < kCoarsePoints; ++j) {
            int32_t x = space.points[2 * j], y = space.points[2 * j + 1];
            similarityForward(similarity, &x, &y);
            space.modelPoints[2 * j] = x + part.referenceCentre[0];
            space.modelPoints[2 * j + 1] = y + part.referenceCentre[1];
        }
        projectShape(shape, kAppearanceModes, space.modelPoints, nullptr, shapeCoefficients);
    }
    for (int m = 0; m < kAppearanceModes; ++m) {
        const int32_t *row = part.incrementRegressor + size_t(m) * kCoarseFeatures;
        int64_t sum = 0;
        for (int j = 0; j < kCoarseFeatures; ++j)
            sum += int64_t(row[j]) * space.residual[j];
        const int64_t limit = part.incrementLimits[m];
        space.increments[m] = int32_t(std::clamp<int64_t>(sum, -limit, limit));
        shapeCoefficients[m] += space.increments[m];
    }
    std::memcpy(space.coefficients, shapeCoefficients, sizeof shapeCoefficients);

    const uint32_t n = shape.points;
    for (uint32_t j = 0; j < n; ++j) {
        int64_t x = 8 * int64_t(shape.mean[j]) - 512 * int64_t(part.referenceCentre[0]);
        int64_t y = 8 * int64_t(shape.mean[n + j]) - 512 * int64_t(part.referenceCentre[1]);
        for (int m = 0; m < kAppearanceModes; ++m) {
            const int32_t *mode = shape.modeWeights + size_t(m) * 2 * n;
            x += (int64_t(shapeCoefficients[m] >> 6) * mode[j]) >> 7;
            y += (int64_t(shapeCoefficients[m] >> 6) * mode[n + j]) >> 7;
        }
        int64_t cx, cy;
        similarityInverse(similarity, x >> 9, y >> 9, &cx, &cy);
        space.points[2 * j] = int32_t(cx);
        space.points[2 * j + 1] = int32_t(cy);
    }

    if (pass <= 1) {
        coarseFeatures(crop, part, space);
        runPointExperts(crop, kCrop, space.points, kCoarsePoints, part.experts, space.features, 5,
                        false, true, 0);
    }
    if (pass == 0) {
        applyShapeModel(part.group1, 4, nullptr, space.points, kGroup1Points);
        applyShapeModel(part.group2, 6, nullptr, space.points, kGroup2Points);
    }
    applyShapeModel(shape, kCoarseShapeModes, part.coefficientLimits, space.points, nullptr);
    appearanceCheck(workers, &space, part);
}

void subsetRegression(const SubsetRegressor &regressor, const uint16_t *features, int32_t *points)
{
    int64_t moves[2 * kCoarsePoints] = {};
    const uint32_t n = 2 * regressor.pointCount;
    for (uint32_t j = 0; j < regressor.featureCount; ++j) {
        const int16_t *w = regressor.weights + size_t(j) * n;
        const int64_t f = features[regressor.featureIndices[j]];
        for (uint32_t k = 0; k < n; ++k)
            moves[k] += w[k] * f;
    }
    for (uint32_t i = 0; i < regressor.pointCount; ++i) {
        const int p = regressor.pointIndices[i];
        points[2 * p] += int32_t(moves[2 * i] / regressor.divisor / 4);
        points[2 * p + 1] += int32_t(moves[2 * i + 1] / regressor.divisor / 4);
    }
}

void branchB(const ModelPart1 &part, const uint8_t *crop, int pass, CoarseWorkspace &space)
{
    int32_t saved[2 * kCoarsePoints];
    coarseFeatures(crop, part, space);
    std::memcpy(saved, space.points, sizeof saved);
    const int first = pass == 0 ? 0 : 2;
    subsetRegression(part.subsets[first], space.features, space.points);
    subsetRegression(part.subsets[first + 1], space.features, space.points);
    bool restored = false;
    for (int i = 0; i < 2 * kCoarsePoints; ++i)
        if (space.points[i] < 5 * 1024 || space.points[i] > 91 * 1024)
            restored = true;
    if (restored)
        std::memcpy(space.points, saved, sizeof saved);
    else if (pass > 0)
        applyShapeModel(part.group2, 6, nullptr, space.points, kGroup2Points);
    if (!restored)
        coarseFeatures(crop, part, space);
    runPointExperts(crop, kCrop, space.points, kCoarsePoints, part.experts, space.features, 5, false,
                    true, 3);
    if (pass > 0)
        applyShapeModel(part.group1, 4, nullptr, space.points, kGroup1Points);
    applyShapeModel(part.coarseShape, kCoarseShapeModes, nullptr, space.points, nullptr);
    std::memset(space.coefficients, 0, sizeof space.coefficients);
    space.score = 0;
}

}  // namespace

/* ---- the stage ---- */

int coarseStage(LandmarkTrack *track, const void *partRecord, const uint8_t *crop, int32_t *points, int pass)
{
    const ModelPart1 &part = *static_cast<const ModelPart1 *>(partRecord);
    for (int i = 0; i < 3; ++i) {
        if (workerCreate(&track->workers[i]) != kResultOk) {
            for (int j = 0; j < i; ++j) {
                workerDestroy(track->workers[j]);
                track->workers[j] = nullptr;
            }
            return kResultFailed;
        }
    }
    auto joinWorkers = [&] {
        for (SingleWorker *&worker : track->workers) {
            workerJoin(worker);
            worker = nullptr;
        }
    };
    auto *space = static_cast<CoarseWorkspace *>(allocatorAlloc(track->allocator, sizeof(CoarseWorkspace)));
    if (!space) {
        joinWorkers();
        return kResultNoMemory;
    }
    std::memset(space, 0, sizeof *space);
    fineToCoarse(points, space->points);

    const LandmarkFace &face = track->face;
    const bool eyes = face.eye1X != 0 && face.eye1Y != 0 && face.eye2X != 0 && face.eye2Y != 0;
    const bool mouth = face.mouthX != 0 && face.mouthY != 0;
    if (!eyes || mouth)
        branchA(track, part, crop, pass, track->workers, *space);
    else
        branchB(part, crop, pass, *space);

    std::memcpy(track->work->coarseCoefficients, space->coefficients, sizeof space->coefficients);
    track->work->coarseScore = space->score;
    coarseToFine(space->points, points);
    allocatorFree(track->allocator, space);
    joinWorkers();
    return kResultOk;
}
