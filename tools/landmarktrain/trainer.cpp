/*
 * The landmark trainer.
 *
 * Divisions: threads; fits on the fitter's own code; shapes; regressions; the coarse stage; the
 * fine stages; refinement detectors; the tracking stage; validation; everything.
 *
 * Units follow the fitter: crop points in 1/1024 crop pixel, shape-model means in 1/65536,
 * mode weights of norm 65536 (so a coefficient is 64 x 1024 x the shape's offset along the mode
 * in crop pixels).
 */
#include "tools/landmarktrain/trainer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <numeric>
#include <thread>

#include "facesdk/base/allocator.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/detect/landmark_coarse.h"
#include "facesdk/detect/landmark_fit.h"
#include "facesdk/detect/landmark_stages.h"
#include "facesdk/workers/single_worker.h"
#include "tools/landmarktrain/linear.h"
#include "tools/landmarktrain/refine_boost.h"

namespace landmarktrain {

/* ---- threads ---- */

void parallelFor(size_t count, int threads, const std::function<void(size_t)> &fn)
{
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next++) < count;)
            fn(i);
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < std::max(1, std::min(threads, 4)); ++t)
        pool.emplace_back(work);
    work();
    for (auto &t : pool)
        t.join();
}

namespace {

constexpr int kRatio = 220;
constexpr int kTrackFeatures = kTrackingPoints * kPatchFeatures;

/* ---- fits on the fitter's own code ---- */

/* A track as landmarkAddFace makes it for a face record. */
struct Track {
    LandmarkTrack track{};
    explicit Track(const LandmarkFace &face)
    {
        track.allocator = defaultAllocator();
        track.face = face;
        const bool eyes = face.eye1X && face.eye1Y && face.eye2X && face.eye2Y;
        if (eyes) {
            track.hintA = std::clamp(face.hintA, -20, 20);
            track.hintB = face.hintB;
        }
    }
    ~Track() { allocatorFree(track.allocator, track.work); }
    Track(const Track &) = delete;
    Track &operator=(const Track &) = delete;
};

/* The sample's picture as the fitter's crop source, released with it. */
struct Source {
    EngineImage image;
    CropSource source;
    explicit Source(const Sample &s) : image(s.image()), source(cropSourceOf(&image, defaultAllocator())) {}
    ~Source() { releaseCropSource(&source); }
};

bool eyesOf(const LandmarkFace &f) { return f.eye1X && f.eye1Y && f.eye2X && f.eye2Y; }
bool mouthOf(const LandmarkFace &f) { return f.mouthX && f.mouthY; }

int stageType(StagePoint where)
{
    switch (where) {
    case StagePoint::Level2: return kStageLevel2;
    case StagePoint::Level3: return kStageLevel3;
    case StagePoint::Level4: return kStageLevel4;
    default: return kStageCoarse;
    }
}

const int32_t *referenceOf(const TrainedParts &parts, int type)
{
    switch (type) {
    case kStageCoarse: return parts.part1.referenceShape;
    case kStageLevel2: return parts.part2.referenceShape;
    case kStageLevel3: return parts.part3.referenceShape;
    default: return parts.part4.referenceShape;
    }
}

/* Brings the track to the input of the stage: the initial shape and the coarse passes before
 * it, or the whole fit up to the level before. false when the fit ended before it. */
bool fitUpTo(Track &t, Source &source, const TrainedParts &parts, StagePoint where)
{
    const int level = where == StagePoint::Level2 ? 1 : where == StagePoint::Level3 ? 2 : where == StagePoint::Level4 ? 3 : 0;
    if (level > 0) {
        if (fitFaceLandmarks(&t.track, &source.source, parts.models(level), kRatio, 0, 0) < 0)
            return false;
        return t.track.state != kFitRejected && (level == 1 || t.track.state == kFitDone);
    }
    if (initialShape(&t.track, &parts.part1, kRatio, 0) < 0)
        return false;
    applyPose(t.track.work);
    const int passes = where == StagePoint::CoarsePass0 ? 0 : where == StagePoint::CoarsePass1 ? 1 : 2;
    for (int pass = 0; pass < passes; ++pass)
        if (runStageDriver(&t.track, &source.source, kStageCoarse, &parts.part1, parts.part1.referenceShape, coarseStage,
                           pass) != kResultOk)
            return false;
    return true;
}

/* The crop of a stage at the track's points, with the true points mapped into it. */
bool stageInputOf(Track &t, Source &source, const TrainedParts &parts, int type, const Sample &s, StageInput *in)
{
    const int size = cropSizeOf(type);
    in->size = size;
    in->crop.assign(size_t(size) * size, 0);
    CropTransform transform;
    if (normalisedCrop(&t.track, &source.source, size, in->crop.data(), in->points.data(), &transform,
                       referenceOf(parts, type), type) != kResultOk)
        return false;
    for (int i = 0; i < kFitterPoints; ++i) {
        int32_t x = int32_t(std::lround(s.truth[size_t(2 * i)] * 1024)), y = int32_t(std::lround(s.truth[size_t(2 * i + 1)] * 1024));
        cropPointOf(transform, size, &x, &y);
        in->truth[size_t(2 * i)] = x;
        in->truth[size_t(2 * i + 1)] = y;
    }
    in->eyes = eyesOf(t.track.face);
    in->mouth = mouthOf(t.track.face);
    in->hintA = t.track.hintA;
    in->hintB = t.track.hintB;
    return true;
}

/* ---- shapes ---- */

using Points = std::vector<double>;   /* x, y per point */

struct SimilarityD {
    double a = 1, b = 0, tx = 0, ty = 0;
    void apply(double x, double y, double *ox, double *oy) const
    {
        *ox = a * x - b * y + tx;
        *oy = b * x + a * y + ty;
    }
};

/* The least-squares similarity mapping `from` onto `to` over the listed points. */
SimilarityD fitSimilarityD(const Points &from, const Points &to, const std::vector<int> &points)
{
    double mx = 0, my = 0, nx = 0, ny = 0;
    for (int p : points) {
        mx += from[size_t(2 * p)];
        my += from[size_t(2 * p + 1)];
        nx += to[size_t(2 * p)];
        ny += to[size_t(2 * p + 1)];
    }
    const double n = double(points.size());
    mx /= n, my /= n, nx /= n, ny /= n;
    double dot = 0, cross = 0, norm = 0;
    for (int p : points) {
        const double x = from[size_t(2 * p)] - mx, y = from[size_t(2 * p + 1)] - my;
        const double u = to[size_t(2 * p)] - nx, v = to[size_t(2 * p + 1)] - ny;
        dot += x * u + y * v;
        cross += x * v - y * u;
        norm += x * x + y * y;
    }
    SimilarityD s;
    s.a = norm > 0 ? dot / norm : 1;
    s.b = norm > 0 ? cross / norm : 0;
    s.tx = nx - (s.a * mx - s.b * my);
    s.ty = ny - (s.b * mx + s.a * my);
    return s;
}

Points transformed(const Points &p, const SimilarityD &s)
{
    Points out(p.size());
    for (size_t i = 0; i < p.size() / 2; ++i)
        s.apply(p[2 * i], p[2 * i + 1], &out[2 * i], &out[2 * i + 1]);
    return out;
}

std::vector<int> allPoints(int n)
{
    std::vector<int> v(static_cast<size_t>(n));
    std::iota(v.begin(), v.end(), 0);
    return v;
}

Points mirrored(const Points &p)
{
    Points out(p.size());
    for (int i = 0; i < kFitterPoints; ++i) {
        out[size_t(2 * kMirroredPoint[i])] = -p[size_t(2 * i)];
        out[size_t(2 * kMirroredPoint[i] + 1)] = p[size_t(2 * i + 1)];
    }
    return out;
}

void centreOf(const Points &p, int first, int count, double *x, double *y)
{
    *x = *y = 0;
    for (int i = first; i < first + count; ++i) {
        *x += p[size_t(2 * i)] / count;
        *y += p[size_t(2 * i + 1)] / count;
    }
}

/* The symmetric Procrustes mean of the shapes, eyes level, eye midpoint at the origin and the
 * eye centres 2 units apart. */
Points procrustesMean(const std::vector<Points> &shapes)
{
    const std::vector<int> all = allPoints(kFitterPoints);
    Points mean = shapes.front();
    for (int round = 0; round < 8; ++round) {
        /* normalise the current mean into the frame */
        double e1x, e1y, e2x, e2y;
        centreOf(mean, 12, 6, &e1x, &e1y);
        centreOf(mean, 18, 6, &e2x, &e2y);
        Points frame(mean.size());
        const double dx = e2x - e1x, dy = e2y - e1y, d2 = dx * dx + dy * dy;
        SimilarityD s;
        s.a = 2 * dx / d2;
        s.b = -2 * dy / d2;
        const double mx = (e1x + e2x) / 2, my = (e1y + e2y) / 2;
        s.tx = -(s.a * mx - s.b * my);
        s.ty = -(s.b * mx + s.a * my);
        frame = transformed(mean, s);
        Points sum(mean.size(), 0.0);
        for (const Points &shape : shapes) {
            const Points aligned = transformed(shape, fitSimilarityD(shape, frame, all));
            const Points mirror = mirrored(aligned);
            for (size_t k = 0; k < sum.size(); ++k)
                sum[k] += (aligned[k] + mirror[k]) / (2.0 * double(shapes.size()));
        }
        mean = sum;
    }
    double e1x, e1y, e2x, e2y;
    centreOf(mean, 12, 6, &e1x, &e1y);
    centreOf(mean, 18, 6, &e2x, &e2y);
    SimilarityD s;
    const double dx = e2x - e1x, dy = e2y - e1y, d2 = dx * dx + dy * dy;
    s.a = 2 * dx / d2;
    s.b = -2 * dy / d2;
    const double mx = (e1x + e2x) / 2, my = (e1y + e2y) / 2;
    s.tx = -(s.a * mx - s.b * my);
    s.ty = -(s.b * mx + s.a * my);
    return transformed(mean, s);
}

/* The mean shape in the model's units: eye centres 4728 apart, the mouth centre 5197 below
 * their midpoint, the origin half-way between. */
std::vector<int32_t> modelMeanShape(const Points &mean)
{
    double ex, ey, mx, my, e1x, e1y, e2x, e2y;
    centreOf(mean, 12, 6, &e1x, &e1y);
    centreOf(mean, 18, 6, &e2x, &e2y);
    ex = (e1x + e2x) / 2;
    ey = (e1y + e2y) / 2;
    centreOf(mean, 32, 12, &mx, &my);
    const double sx = 4728.0 / (e2x - e1x), sy = 5197.0 / (my - ey);
    std::vector<int32_t> out(2 * kFitterPoints);
    for (int i = 0; i < kFitterPoints; ++i) {
        out[size_t(2 * i)] = int32_t(std::lround((mean[size_t(2 * i)] - ex) * sx));
        out[size_t(2 * i + 1)] = int32_t(std::lround((mean[size_t(2 * i + 1)] - ey) * sy - 5197.0 / 2));
    }
    return out;
}

/* The mean centred in a size x size crop: the bounding box of the listed points (those the crop
 * square is built from) `size / margin` wide, centred. Pixels of the crop (pixel k's centre at
 * k), as doubles. */
Points referenceIn(const Points &mean, int size, double margin, int boxPoints)
{
    double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
    for (int i = 0; i < boxPoints; ++i) {
        left = std::min(left, mean[size_t(2 * i)]);
        right = std::max(right, mean[size_t(2 * i)]);
        top = std::min(top, mean[size_t(2 * i + 1)]);
        bottom = std::max(bottom, mean[size_t(2 * i + 1)]);
    }
    const double scale = size / margin / std::max(right - left, bottom - top);
    Points out(mean.size());
    for (int i = 0; i < kFitterPoints; ++i) {
        out[size_t(2 * i)] = (mean[size_t(2 * i)] - (left + right) / 2) * scale + (size - 1) / 2.0;
        out[size_t(2 * i + 1)] = (mean[size_t(2 * i + 1)] - (top + bottom) / 2) * scale + (size - 1) / 2.0;
    }
    return out;
}

std::vector<int32_t> fixed65536(const Points &p)
{
    std::vector<int32_t> out(p.size());
    for (size_t i = 0; i < p.size(); ++i)
        out[i] = int32_t(std::lround(p[i] * 65536));
    return out;
}

/* A constraint model over the listed points: its mean (the reference's points), then `rigid`
 * rigid modes (translation in x and y, scale, turn about the centroid) and the principal modes of
 * the shapes' offsets from the mean that the rigid ones leave, up to `modes`; the principal modes
 * come first when `principalFirst`. Limits (3 standard deviations; the rigid modes are not
 * limited) go to `limits` when asked. */
ShapeTable constraintModel(const Points &reference, const std::vector<Points> &shapes, const std::vector<int> &points,
                           int modes, int rigid, bool principalFirst, std::vector<int32_t> *limits)
{
    const size_t n = points.size(), d = 2 * n;
    ShapeTable table;
    table.mean.resize(d);
    std::vector<double> mean(d);
    double cx = 0, cy = 0;
    for (size_t i = 0; i < n; ++i) {
        mean[i] = reference[size_t(2 * points[i])];
        mean[n + i] = reference[size_t(2 * points[i] + 1)];
        cx += mean[i] / double(n);
        cy += mean[n + i] / double(n);
        table.mean[i] = int32_t(std::lround(mean[i] * 65536));
        table.mean[n + i] = int32_t(std::lround(mean[n + i] * 65536));
    }
    /* rigid directions */
    Matrix rigidRows(size_t(rigid), d);
    for (size_t i = 0; i < n && rigid > 0; ++i) {
        rigidRows.at(0, i) = 1;
        if (rigid > 1)
            rigidRows.at(1, n + i) = 1;
        if (rigid > 2) {
            rigidRows.at(2, i) = mean[i] - cx;
            rigidRows.at(2, n + i) = mean[n + i] - cy;
        }
        if (rigid > 3) {
            rigidRows.at(3, i) = -(mean[n + i] - cy);
            rigidRows.at(3, n + i) = mean[i] - cx;
        }
    }
    for (size_t r = 0; r < rigidRows.rows; ++r) {
        double norm = 0;
        for (size_t c = 0; c < d; ++c)
            norm += rigidRows.at(r, c) * rigidRows.at(r, c);
        for (size_t c = 0; c < d; ++c)
            rigidRows.at(r, c) /= std::sqrt(norm);
    }
    /* principal directions of the offsets */
    Matrix data(shapes.size(), d);
    for (size_t s = 0; s < shapes.size(); ++s)
        for (size_t i = 0; i < n; ++i) {
            data.at(s, i) = shapes[s][size_t(2 * points[i])];
            data.at(s, n + i) = shapes[s][size_t(2 * points[i] + 1)];
        }
    const int principal = std::max(0, modes - rigid);
    std::vector<double> variances;
    const Matrix directions = principal > 0 ? principalDirections(data, mean, size_t(principal), rigidRows, &variances) : Matrix();
    table.modes.assign(size_t(modes) * d, 0);
    if (limits)
        limits->assign(size_t(modes), 1 << 30);
    int row = 0;
    auto put = [&](const double *direction, double variance) {
        for (size_t c = 0; c < d; ++c)
            table.modes[size_t(row) * d + c] = int32_t(std::lround(direction[c] * 65536));
        if (limits && variance >= 0)
            (*limits)[size_t(row)] = int32_t(std::min(1e9, std::ceil(3 * std::sqrt(variance) * 64 * 1024)));
        ++row;
    };
    if (principalFirst)
        for (size_t r = 0; r < directions.rows; ++r)
            put(directions.row(r), variances[r]);
    for (size_t r = 0; r < rigidRows.rows; ++r)
        put(rigidRows.row(r), -1);
    if (!principalFirst)
        for (size_t r = 0; r < directions.rows; ++r)
            put(directions.row(r), variances[r]);
    return table;
}

/* ---- regressions ---- */

/* Ridge regression of the rows of y on the rows of x (both n rows), the penalty chosen on a
 * fifth of the rows held out (a coarse search, then around the best); an intercept when asked
 * (its weights are the last row). */
Matrix fitRidge(const Matrix &x, const Matrix &y, bool intercept, const std::vector<double> &lambdas, double *chosen,
                int threads = 4)
{
    std::vector<size_t> fitRows, heldRows;
    for (size_t i = 0; i < x.rows; ++i)
        (i % 5 == 4 ? heldRows : fitRows).push_back(i);
    NormalEquations fit = normalEquations(x, y, fitRows, intercept, threads);
    const NormalEquations held = normalEquations(x, y, heldRows, intercept, threads);
    auto heldError = [&](double lambda) {
        const Matrix w = ridgeSolve(fit, lambda);
        double error = 0;
        for (size_t i : heldRows)
            for (size_t o = 0; o < y.columns; ++o) {
                double p = intercept ? w.at(x.columns, o) : 0;
                for (size_t c = 0; c < x.columns; ++c)
                    p += x.at(i, c) * w.at(c, o);
                error += (p - y.at(i, o)) * (p - y.at(i, o));
            }
        return error;
    };
    double bestLambda = lambdas.front(), best = 1e300;
    if (lambdas.size() > 1 && !heldRows.empty()) {
        for (double lambda : lambdas) {
            const double e = heldError(lambda);
            if (e < best) {
                best = e;
                bestLambda = lambda;
            }
        }
        for (double factor : {0.5, 2.0}) {
            const double e = heldError(bestLambda * factor);
            if (e < best) {
                best = e;
                bestLambda *= factor;
            }
        }
    }
    if (chosen)
        *chosen = bestLambda;
    addEquations(&fit, held);
    return ridgeSolve(fit, bestLambda);
}

const std::vector<double> kLambdas = {1e-3, 1e-2, 0.1, 1.0, 10.0, 100.0};

/* Patch-regression records of the listed points from features at their points and their true
 * offsets (crop pixels): the point moves by minus (sum of feature x weight) / 1024 in 1/1024
 * pixel, so a weight is -1024 x the regression's. The patches' features add up to 65536, which
 * carries the intercept. */
void fitPatchRegressions(const std::vector<std::vector<uint16_t>> &features,
                         const std::vector<std::vector<double>> &offsets, int pointCount,
                         const std::vector<int> &points, std::vector<int32_t> *records)
{
    records->assign(size_t(points.size()) * 2 * kPatchFeatures, 0);
    parallelFor(points.size(), 4, [&](size_t k) {
        const int p = points[k];
        Matrix x(features.size(), kPatchFeatures), y(features.size(), 2);
        for (size_t s = 0; s < features.size(); ++s) {
            for (int f = 0; f < kPatchFeatures; ++f)
                x.at(s, size_t(f)) = features[s][size_t(p * kPatchFeatures + f)];
            y.at(s, 0) = offsets[s][size_t(2 * p)];
            y.at(s, 1) = offsets[s][size_t(2 * p + 1)];
        }
        const Matrix w = fitRidge(x, y, true, kLambdas, nullptr, 1);
        for (int c = 0; c < 2; ++c)
            for (int f = 0; f < kPatchFeatures; ++f) {
                const double weight = w.at(size_t(f), size_t(c)) + w.at(kPatchFeatures, size_t(c)) / 65536.0;
                (*records)[k * 2 * kPatchFeatures + size_t(c * kPatchFeatures + f)] = int32_t(std::lround(-1024.0 * 1024.0 * weight));
            }
    });
    (void)pointCount;
}

std::vector<double> offsetsOf(const StageInput &in, const std::array<int32_t, 2 * kFitterPoints> &points, int count)
{
    std::vector<double> out(size_t(2 * count));
    for (int i = 0; i < 2 * count; ++i)
        out[size_t(i)] = (in.truth[size_t(i)] - points[size_t(i)]) / 1024.0;
    return out;
}

}  // namespace

/* ---- the trainer ---- */

Trainer::Trainer(const TrainingSet *train, const TrainingSet *validate, TrainOptions options)
    : train_(train), validate_(validate), options_(options)
{
    samples_.resize(size_t(options_.samples));
    parallelFor(samples_.size(), options_.threads, [&](size_t i) { samples_[i] = train_->make(i); });
    validation_.resize(size_t(options_.validation));
    parallelFor(validation_.size(), options_.threads, [&](size_t i) { validation_[i] = validate_->make(i); });
    log("made " + std::to_string(samples_.size()) + " training faces and " + std::to_string(validation_.size()) +
        " validation faces");
}

void Trainer::log(const std::string &line) const
{
    if (options_.log)
        options_.log(line);
}

std::vector<StageInput> Trainer::stageInputs(const TrainedTables &tables, StagePoint where,
                                             const std::vector<size_t> &indices) const
{
    TrainedParts parts;
    fillParts(tables, &parts);
    std::vector<StageInput> inputs(indices.size());
    std::vector<char> ok(indices.size(), 0);
    parallelFor(indices.size(), options_.threads, [&](size_t k) {
        const Sample &s = samples_[indices[k]];
        Track t(s.face);
        Source source(s);
        ok[k] = fitUpTo(t, source, parts, where) && stageInputOf(t, source, parts, stageType(where), s, &inputs[k]);
    });
    std::vector<StageInput> kept;
    for (size_t k = 0; k < inputs.size(); ++k)
        if (ok[k])
            kept.push_back(std::move(inputs[k]));
    return kept;
}

void Trainer::validate(const TrainedTables &tables, int level, double *allPointsError, double *eyeCentresError,
                       std::vector<double> *pointErrors) const
{
    TrainedParts parts;
    fillParts(tables, &parts);
    std::vector<double> all(validation_.size(), -1), eyes(validation_.size(), -1);
    std::vector<std::array<double, kFitterPoints>> each(validation_.size());
    parallelFor(validation_.size(), options_.threads, [&](size_t k) {
        const Sample &s = validation_[k];
        Track t(s.face);
        Source source(s);
        if (fitFaceLandmarks(&t.track, &source.source, parts.models(level), kRatio, 0, 0) < 0 || !t.track.work)
            return;
        double sum = 0;
        for (int i = 0; i < kFitterPoints; ++i) {
            each[k][size_t(i)] = std::hypot(t.track.work->image[2 * i] / 1024.0 - s.truth[size_t(2 * i)],
                                            t.track.work->image[2 * i + 1] / 1024.0 - s.truth[size_t(2 * i + 1)]) / s.iod;
            sum += each[k][size_t(i)];
        }
        all[k] = sum / kFitterPoints;
        double e = 0;
        for (int first : {12, 18}) {
            double fx = 0, fy = 0, tx = 0, ty = 0;
            for (int i = first; i < first + 6; ++i) {
                fx += t.track.work->image[2 * i] / 1024.0 / 6;
                fy += t.track.work->image[2 * i + 1] / 1024.0 / 6;
                tx += s.truth[size_t(2 * i)] / 6;
                ty += s.truth[size_t(2 * i + 1)] / 6;
            }
            e += std::hypot(fx - tx, fy - ty) / 2;
        }
        eyes[k] = e / s.iod;
    });
    double a = 0, e = 0;
    int n = 0;
    if (pointErrors)
        pointErrors->assign(kFitterPoints, 0.0);
    for (size_t k = 0; k < all.size(); ++k)
        if (all[k] >= 0) {
            a += all[k];
            e += eyes[k];
            ++n;
            if (pointErrors)
                for (int i = 0; i < kFitterPoints; ++i)
                    (*pointErrors)[size_t(i)] += each[k][size_t(i)];
        }
    *allPointsError = n ? a / n : -1;
    *eyeCentresError = n ? e / n : -1;
    if (pointErrors && n)
        for (double &v : *pointErrors)
            v /= n;
}

/* ---- shapes ---- */

void Trainer::trainShapes(TrainedTables *t)
{
    std::vector<Points> shapes;
    for (const Sample &s : samples_)
        shapes.emplace_back(s.truth.begin(), s.truth.end());
    const Points mean = procrustesMean(shapes);
    t->meanShape = modelMeanShape(mean);
    std::fill(t->deformationA.begin(), t->deformationA.end(), 0);
    std::fill(t->deformationB.begin(), t->deformationB.end(), 0);

    /* References of the four crops; the level-2 crop is built from points 0 .. 46. */
    const int sizes[5] = {0, 96, 128, 192, 320};
    const double margins[5] = {0, 2.0, 2.0, 1.5, 1.25};
    Points reference[5];
    for (int type = 1; type <= 4; ++type) {
        reference[type] = referenceIn(mean, sizes[type], margins[type], type == 2 ? kTrackingPoints : kFitterPoints);
        t->reference[type] = fixed65536(reference[type]);
    }

    /* Each sample's true shape in each crop frame, aligned to the reference by a similarity
     * over the points the crop aligns. */
    auto alignedTo = [&](int type) {
        std::vector<Points> aligned;
        const std::vector<int> points = allPoints(type == 2 ? kTrackingPoints : kFitterPoints);
        for (const Points &s : shapes)
            aligned.push_back(transformed(s, fitSimilarityD(s, reference[type], points)));
        return aligned;
    };

    /* Coarse: the 37 points, five principal modes and the four rigid ones; the appearance
     * update rebuilds from the first six (below). */
    {
        std::vector<int32_t> fine(2 * kFitterPoints), coarse(2 * kCoarsePoints);
        for (int i = 0; i < 2 * kFitterPoints; ++i)
            fine[size_t(i)] = int32_t(std::lround(reference[1][size_t(i)] * 1024));
        fineToCoarse(fine.data(), coarse.data());
        Points coarseReference(2 * kCoarsePoints);
        int64_t sumX = 0, sumY = 0;
        for (int i = 0; i < kCoarsePoints; ++i) {
            coarseReference[size_t(2 * i)] = coarse[size_t(2 * i)] / 1024.0;
            coarseReference[size_t(2 * i + 1)] = coarse[size_t(2 * i + 1)] / 1024.0;
            sumX += coarse[size_t(2 * i)];
            sumY += coarse[size_t(2 * i + 1)];
        }
        t->coarseCentre[0] = int32_t(sumX / kCoarsePoints);
        t->coarseCentre[1] = int32_t(sumY / kCoarsePoints);
        std::vector<Points> coarseShapes;
        for (const Points &s : alignedTo(1)) {
            std::vector<int32_t> f(2 * kFitterPoints), c(2 * kCoarsePoints);
            for (int i = 0; i < 2 * kFitterPoints; ++i)
                f[size_t(i)] = int32_t(std::lround(s[size_t(i)] * 1024));
            fineToCoarse(f.data(), c.data());
            Points p(2 * kCoarsePoints);
            for (int i = 0; i < 2 * kCoarsePoints; ++i)
                p[size_t(i)] = c[size_t(i)] / 1024.0;
            coarseShapes.push_back(p);
        }
        const std::vector<int> all37 = allPoints(kCoarsePoints);
        t->coarse = constraintModel(coarseReference, coarseShapes, all37, kCoarseShapeModes, 4, true, &t->coefficientLimits);
        /* The appearance update moves the first six modes only, on a crop whose similarity
         * takes the current points onto the reference. A detection's eyes and lower-face point
         * often start the shape too large, off centre or turned, which no principal mode
         * undoes: the six are the two strongest principal modes and the four rigid ones (scale,
         * both translations, turn), then the other three principal modes. */
        {
            static const int kOrder[kCoarseShapeModes] = {0, 1, 7, 5, 6, 8, 2, 3, 4};
            const size_t d = t->coarse.mean.size();
            const ShapeTable principalFirst = t->coarse;
            const std::vector<int32_t> limits = t->coefficientLimits;
            for (int m = 0; m < kCoarseShapeModes; ++m) {
                std::copy_n(principalFirst.modes.begin() + std::ptrdiff_t(size_t(kOrder[m]) * d), d,
                            t->coarse.modes.begin() + std::ptrdiff_t(size_t(m) * d));
                t->coefficientLimits[size_t(m)] = limits[size_t(kOrder[m])];
            }
        }
        /* The mean must be the reference's coarse points exactly (the stage's reference points
         * are the mean less the centre). */
        for (int i = 0; i < kCoarsePoints; ++i) {
            t->coarse.mean[size_t(i)] = coarse[size_t(2 * i)] * 64;
            t->coarse.mean[size_t(kCoarsePoints + i)] = coarse[size_t(2 * i + 1)] * 64;
        }
        static const std::vector<int> group1 = {18, 19, 20, 21, 22, 23, 24, 25, 26, 27};
        static const std::vector<int> group2 = {28, 29, 30, 31, 32, 33, 34, 35, 36};
        t->group1 = constraintModel(coarseReference, coarseShapes, group1, 4, 2, false, nullptr);
        t->group2 = constraintModel(coarseReference, coarseShapes, group2, 6, 4, false, nullptr);
    }

    const std::vector<int> eyeGroup(kEyeGroup, kEyeGroup + 12), mouthGroup(kMouthGroup, kMouthGroup + 12),
        noseGroup(kNoseGroup, kNoseGroup + 8), whole = allPoints(kFitterPoints);
    {
        const std::vector<Points> a = alignedTo(2);
        t->shape2 = constraintModel(reference[2], a, whole, 24, 4, false, &t->shapeLimits2);
        t->eyes2 = constraintModel(reference[2], a, eyeGroup, 10, 4, false, nullptr);
        t->mouth2 = constraintModel(reference[2], a, mouthGroup, 6, 4, false, nullptr);
    }
    {
        const std::vector<Points> a = alignedTo(3);
        t->shape3 = constraintModel(reference[3], a, whole, 36, 4, false, &t->shapeLimits3);
        t->eyes3 = constraintModel(reference[3], a, eyeGroup, 16, 4, false, nullptr);
        t->mouth3 = constraintModel(reference[3], a, mouthGroup, 12, 4, false, nullptr);
        t->nose3 = constraintModel(reference[3], a, noseGroup, 6, 4, false, nullptr);
    }
    {
        const std::vector<Points> a = alignedTo(4);
        t->eyes4 = constraintModel(reference[4], a, eyeGroup, 10, 4, false, nullptr);
        t->mouth4 = constraintModel(reference[4], a, mouthGroup, 12, 4, false, nullptr);
    }
    double all, eyes;
    validate(*t, 1, &all, &eyes);
    log("shapes: mean shape and models; mean shape placed by the eyes: error " + std::to_string(all) +
        " (eye centres " + std::to_string(eyes) + ")");
}

/* ---- the coarse stage ---- */

namespace {

/* The coarse stage's view of a stage input: its 37 points, its features there, and the true
 * points. */
struct CoarseView {
    int32_t points[2 * kCoarsePoints];
    int32_t truth[2 * kCoarsePoints];
};

CoarseView coarseView(const StageInput &in)
{
    CoarseView v;
    fineToCoarse(in.points.data(), v.points);
    fineToCoarse(in.truth.data(), v.truth);
    return v;
}

/* The six shape coefficients the appearance update starts from and the ones it should reach:
 * both shapes moved into the model frame by the similarity of the current points. */
void coefficientTargets(const ModelPart1 &part, const CoarseView &v, bool projected, int32_t *start, int32_t *target)
{
    int32_t reference[2 * kCoarsePoints];
    for (int j = 0; j < kCoarsePoints; ++j) {
        reference[2 * j] = part.coarseShape.mean[j] - part.referenceCentre[0] * 64;
        reference[2 * j + 1] = part.coarseShape.mean[kCoarsePoints + j] - part.referenceCentre[1] * 64;
    }
    CropTransform similarity;
    fitSimilarity(v.points, reference, kCoarsePoints, &similarity);
    int32_t modelPoints[2 * kCoarsePoints], modelTruth[2 * kCoarsePoints];
    for (int j = 0; j < kCoarsePoints; ++j) {
        int32_t x = v.points[2 * j], y = v.points[2 * j + 1];
        similarityForward(similarity, &x, &y);
        modelPoints[2 * j] = x + part.referenceCentre[0];
        modelPoints[2 * j + 1] = y + part.referenceCentre[1];
        x = v.truth[2 * j];
        y = v.truth[2 * j + 1];
        similarityForward(similarity, &x, &y);
        modelTruth[2 * j] = x + part.referenceCentre[0];
        modelTruth[2 * j + 1] = y + part.referenceCentre[1];
    }
    /* projectShape takes interleaved points */
    projectShape(part.coarseShape, kAppearanceModes, modelTruth, nullptr, target);
    if (projected)
        projectShape(part.coarseShape, kAppearanceModes, modelPoints, nullptr, start);
    else
        std::fill(start, start + kAppearanceModes, 0);
}

/* Three single workers for the appearance check, per training thread. */
struct Workers {
    SingleWorker *three[3] = {};
    Workers()
    {
        for (auto &w : three)
            workerCreate(&w);
    }
    ~Workers()
    {
        for (auto *w : three)
            if (w)
                workerJoin(w);
    }
};

}  // namespace

void Trainer::trainCoarse(TrainedTables *t)
{
    std::vector<size_t> everyone(samples_.size());
    std::iota(everyone.begin(), everyone.end(), 0);
    std::vector<StageInput> pass0 = stageInputs(*t, StagePoint::CoarsePass0, everyone);
    log("coarse: " + std::to_string(pass0.size()) + " faces at pass 0");

    /* Appearance: the principal modes of the features at the true points. */
    {
        Matrix data(pass0.size(), kCoarseFeatures);
        std::vector<double> mean(kCoarseFeatures, 0.0);
        parallelFor(pass0.size(), options_.threads, [&](size_t k) {
            const CoarseView v = coarseView(pass0[k]);
            uint16_t f[kCoarseFeatures];
            pointFeatures(pass0[k].crop.data(), 96, v.truth, kCoarsePoints, t->coarseExperts.kinds.data(), false, f);
            for (int j = 0; j < kCoarseFeatures; ++j)
                data.at(k, size_t(j)) = f[j];
        });
        for (size_t k = 0; k < data.rows; ++k)
            for (int j = 0; j < kCoarseFeatures; ++j)
                mean[size_t(j)] += data.at(k, size_t(j)) / double(data.rows);
        std::vector<double> variances;
        const Matrix modes = principalDirections(data, mean, kAppearanceModes, Matrix(), &variances);
        for (int j = 0; j < kCoarseFeatures; ++j)
            t->appearance[size_t(j)] = int32_t(uint32_t(std::lround(mean[size_t(j)])) << 16);
        for (int k = 0; k < kAppearanceModes; ++k)
            for (int j = 0; j < kCoarseFeatures; ++j)
                t->appearance[size_t(k + 1) * kCoarseFeatures + size_t(j)] = int32_t(std::lround(modes.at(size_t(k), size_t(j)) * 65536));
        log("coarse: appearance modes");
    }

    /* Branch A's increments from the residuals; branch B's subset regressions; the per-point
     * experts; twice: on pass-0 faces, then on pass-0 and pass-1 faces. */
    std::vector<StageInput> pass1;
    for (int round = 0; round < 2; ++round) {
        TrainedParts parts;
        fillParts(*t, &parts);
        std::vector<const StageInput *> inputs;
        for (const auto &in : pass0)
            inputs.push_back(&in);
        for (const auto &in : pass1)
            inputs.push_back(&in);
        /* increments (faces whose given record takes branch A) */
        {
            std::vector<const StageInput *> a;
            std::vector<int> passOf;
            for (size_t k = 0; k < inputs.size(); ++k)
                if (!inputs[k]->eyes || inputs[k]->mouth) {
                    a.push_back(inputs[k]);
                    passOf.push_back(k < pass0.size() ? 0 : 1);
                }
            Matrix x(a.size(), kCoarseFeatures), y(a.size(), kAppearanceModes);
            std::mutex lock;
            parallelFor(a.size(), options_.threads, [&](size_t k) {
                thread_local Workers workers;
                auto *space = new CoarseWorkspace{};
                const CoarseView v = coarseView(*a[k]);
                std::memcpy(space->points, v.points, sizeof space->points);
                pointFeatures(a[k]->crop.data(), 96, space->points, kCoarsePoints, parts.part1.experts.kinds, false,
                              space->features);
                appearanceCheck(workers.three, space, parts.part1);
                int32_t start[kAppearanceModes], target[kAppearanceModes];
                const bool projected = passOf[k] != 0 || a[k]->hintA != 0 || a[k]->hintB != 0;
                coefficientTargets(parts.part1, v, projected, start, target);
                for (int j = 0; j < kCoarseFeatures; ++j)
                    x.at(k, size_t(j)) = space->residual[j];
                for (int m = 0; m < kAppearanceModes; ++m)
                    y.at(k, size_t(m)) = double(target[m]) - start[m];
                delete space;
            });
            double lambda = 0;
            const Matrix w = fitRidge(x, y, false, kLambdas, &lambda);
            std::vector<double> spread(kAppearanceModes, 0.0);
            for (size_t k = 0; k < y.rows; ++k)
                for (int m = 0; m < kAppearanceModes; ++m)
                    spread[size_t(m)] += y.at(k, size_t(m)) * y.at(k, size_t(m)) / double(y.rows);
            for (int m = 0; m < kAppearanceModes; ++m) {
                for (int j = 0; j < kCoarseFeatures; ++j)
                    t->incrementRegressor[size_t(m) * kCoarseFeatures + size_t(j)] = int32_t(std::lround(w.at(size_t(j), size_t(m))));
                t->incrementLimits[size_t(m)] = int32_t(std::min(1e9, 3 * std::sqrt(spread[size_t(m)]) + 1));
            }
            log("coarse: increment regressor on " + std::to_string(a.size()) + " faces, ridge " + std::to_string(lambda));
        }
        /* subset regressions of branch B (faces with eyes and no mouth point): regressors 0 and 1
         * on pass-0 faces, 2 and 3 on pass-1 faces */
        for (int r = round == 0 ? 0 : 2; r < (round == 0 ? 2 : 4); ++r) {
            const std::vector<StageInput> &source = r < 2 ? pass0 : pass1;
            std::vector<const StageInput *> b;
            for (const auto &in : source)
                if (in.eyes && !in.mouth)
                    b.push_back(&in);
            SubsetTable &subset = t->subsets[r];
            const size_t pc = subset.points.size(), fc = subset.features.size();
            Matrix x(b.size(), fc), y(b.size(), 2 * pc);
            parallelFor(b.size(), options_.threads, [&](size_t k) {
                const CoarseView v = coarseView(*b[k]);
                uint16_t f[kCoarseFeatures];
                pointFeatures(b[k]->crop.data(), 96, v.points, kCoarsePoints, parts.part1.experts.kinds, false, f);
                for (size_t j = 0; j < fc; ++j)
                    x.at(k, j) = f[subset.features[j]];
                for (size_t i = 0; i < pc; ++i) {
                    const int p = subset.points[i];
                    y.at(k, 2 * i) = v.truth[2 * p] - v.points[2 * p];
                    y.at(k, 2 * i + 1) = v.truth[2 * p + 1] - v.points[2 * p + 1];
                }
            });
            double lambda = 0;
            const Matrix w = fitRidge(x, y, true, kLambdas, &lambda);
            /* Each point moves by the sum / divisor / 4; the intercept spread over every read
             * patch (each adds up to 65536). */
            const double scale = 4.0 * subset.divisor;
            for (size_t j = 0; j < fc; ++j)
                for (size_t o = 0; o < 2 * pc; ++o) {
                    const double v = (w.at(j, o) + w.at(fc, o) / (65536.0 * double(pc))) * scale;
                    subset.weights[j * 2 * pc + o] = int16_t(std::clamp<long>(std::lround(v), -32767, 32767));
                }
            log("coarse: subset regressor " + std::to_string(r) + " on " + std::to_string(b.size()) + " faces, ridge " +
                std::to_string(lambda));
        }
        fillParts(*t, &parts);
        /* the experts: on the points a pass leaves without them */
        {
            TrainedTables quiet = *t;
            quiet.coarseExperts = ExpertTable(kCoarsePoints);
            TrainedParts quietParts;
            fillParts(quiet, &quietParts);
            std::vector<std::vector<uint16_t>> features(inputs.size());
            std::vector<std::vector<double>> offsets(inputs.size());
            parallelFor(inputs.size(), options_.threads, [&](size_t k) {
                const StageInput &in = *inputs[k];
                LandmarkFace face{};
                face.size = 60;
                if (in.eyes) {
                    face.eye1X = face.eye1Y = face.eye2X = face.eye2Y = 1;
                }
                if (in.mouth)
                    face.mouthX = face.mouthY = 1;
                Track track(face);
                track.track.hintA = in.hintA;
                track.track.hintB = in.hintB;
                track.track.work = static_cast<LandmarkWork *>(allocatorAlloc(track.track.allocator, sizeof(LandmarkWork)));
                std::memset(track.track.work, 0, sizeof(LandmarkWork));
                std::array<int32_t, 2 * kFitterPoints> points = in.points;
                coarseStage(&track.track, &quietParts.part1, in.crop.data(), points.data(), k < pass0.size() ? 0 : 1);
                int32_t coarse[2 * kCoarsePoints], truth[2 * kCoarsePoints];
                fineToCoarse(points.data(), coarse);
                fineToCoarse(in.truth.data(), truth);
                features[k].resize(kCoarseFeatures);
                pointFeatures(in.crop.data(), 96, coarse, kCoarsePoints, quietParts.part1.experts.kinds, false, features[k].data());
                offsets[k].resize(2 * kCoarsePoints);
                for (int i = 0; i < 2 * kCoarsePoints; ++i)
                    offsets[k][size_t(i)] = (truth[i] - coarse[i]) / 1024.0;
            });
            fitPatchRegressions(features, offsets, kCoarsePoints, allPoints(kCoarsePoints), &t->coarseExperts.regressionRecords);
            log("coarse: patch regressions on " + std::to_string(inputs.size()) + " crops");
        }
        double all, eyes;
        validate(*t, 1, &all, &eyes);
        log("coarse round " + std::to_string(round) + ": error " + std::to_string(all) + " (eye centres " + std::to_string(eyes) + ")");
        if (round == 0)
            pass1 = stageInputs(*t, StagePoint::CoarsePass1, everyone);
    }
}

/* ---- the fine stages ---- */

void Trainer::trainLevel(TrainedTables *t, int level)
{
    std::vector<size_t> everyone(samples_.size());
    std::iota(everyone.begin(), everyone.end(), 0);
    const StagePoint where = level == 2 ? StagePoint::Level2 : level == 3 ? StagePoint::Level3 : StagePoint::Level4;
    const std::vector<StageInput> inputs = stageInputs(*t, where, everyone);
    const int size = cropSizeOf(level);
    log("level " + std::to_string(level) + ": " + std::to_string(inputs.size()) + " faces");
    ExpertTable &experts = level == 2 ? t->experts2 : level == 3 ? t->experts3 : t->experts4;
    {
        std::vector<std::vector<uint16_t>> features(inputs.size());
        std::vector<std::vector<double>> offsets(inputs.size());
        parallelFor(inputs.size(), options_.threads, [&](size_t k) {
            features[k].resize(size_t(kLandmarkPoints) * kPatchFeatures);
            pointFeatures(inputs[k].crop.data(), size, inputs[k].points.data(), kLandmarkPoints, experts.kinds.data(), false,
                          features[k].data());
            offsets[k] = offsetsOf(inputs[k], inputs[k].points, kLandmarkPoints);
        });
        fitPatchRegressions(features, offsets, kLandmarkPoints, allPoints(kLandmarkPoints), &experts.regressionRecords);
    }
    double all, eyes;
    validate(*t, level, &all, &eyes);
    log("level " + std::to_string(level) + " experts: error " + std::to_string(all) + " (eye centres " + std::to_string(eyes) + ")");

    /* The refinement detectors, on the crops with the points where the stage's experts and
     * models leave them. */
    std::vector<RefineExample> examples(inputs.size());
    for (size_t k = 0; k < inputs.size(); ++k) {
        examples[k].crop = &inputs[k].crop;
        examples[k].truth = inputs[k].truth.data();
    }
    trainRefinement(examples, size, options_.seed + uint64_t(level), options_.boostRounds, options_.threads,
                    &t->detectors[level - 2]);
    /* A detector whose point the validation faces show no nearer with it than without it is
     * left out: its window is emptied, so the fitter does not search for it. */
    std::vector<double> with, without;
    validate(*t, level, &all, &eyes, &with);
    const std::vector<PointDetector> trained = t->detectors[level - 2];
    for (PointDetector &d : t->detectors[level - 2])
        d.window[2] = d.window[3] = 0;
    validate(*t, level, &all, &eyes, &without);
    t->detectors[level - 2] = trained;
    int kept = 0;
    for (size_t k = 0; k < trained.size(); ++k) {
        const int point = k < size_t(kEyeListPoints) ? kEyeListIndices[k] : 32 + int(k) - kEyeListPoints;
        if (with[size_t(point)] < without[size_t(point)])
            ++kept;
        else
            t->detectors[level - 2][k].window[2] = t->detectors[level - 2][k].window[3] = 0;
    }
    validate(*t, level, &all, &eyes);
    log("level " + std::to_string(level) + " refinement: " + std::to_string(kept) + " of 28 detectors kept; error " +
        std::to_string(all) + " (eye centres " + std::to_string(eyes) + ")");
}

/* ---- the tracking stage ---- */

namespace {

/* A face's previous frame: its true points moved, turned and scaled a little, with some
 * noise on every point, as the fit of the frame before leaves them (pixels). */
std::array<double, 2 * kFitterPoints> previousFrame(const Sample &s, facedata::Random &random)
{
    double cx = 0, cy = 0;
    for (int i = 0; i < kFitterPoints; ++i) {
        cx += s.truth[size_t(2 * i)] / kFitterPoints;
        cy += s.truth[size_t(2 * i + 1)] / kFitterPoints;
    }
    const double angle = random.normal() * 3 * M_PI / 180, scale = 1 + random.normal() * 0.04;
    const double dx = random.normal() * 0.05 * s.iod, dy = random.normal() * 0.05 * s.iod;
    const double c = std::cos(angle) * scale, n = std::sin(angle) * scale;
    std::array<double, 2 * kFitterPoints> out{};
    for (int i = 0; i < kFitterPoints; ++i) {
        const double x = s.truth[size_t(2 * i)] - cx, y = s.truth[size_t(2 * i + 1)] - cy;
        out[size_t(2 * i)] = cx + c * x - n * y + dx + random.normal() * 0.02 * s.iod;
        out[size_t(2 * i + 1)] = cy + n * x + c * y + dy + random.normal() * 0.02 * s.iod;
    }
    return out;
}

/* A tracking stage input: the level-2 crop made from the previous frame's points. */
bool trackingInput(const Sample &s, const TrainedParts &parts, facedata::Random &random, StageInput *in)
{
    Track t(s.face);
    t.track.work = static_cast<LandmarkWork *>(allocatorAlloc(t.track.allocator, sizeof(LandmarkWork)));
    std::memset(t.track.work, 0, sizeof(LandmarkWork));
    const auto previous = previousFrame(s, random);
    for (int i = 0; i < 2 * kFitterPoints; ++i)
        t.track.work->image[i] = int32_t(std::lround(previous[size_t(i)] * 1024));
    t.track.face.roll = int32_t(std::lround(std::atan2(s.truth[2 * 18 + 1] - s.truth[2 * 12 + 1], s.truth[2 * 18] - s.truth[2 * 12]) * 180 / M_PI));
    Source source(s);
    return stageInputOf(t, source, parts, kStageLevel2, s, in);
}

/* One cascade step as the tracking stage takes it: each of the 47 points moves by its bias
 * plus the features' weighted sum / 4096. */
void cascadeMove(const std::vector<int16_t> &weights, const std::vector<int16_t> &biases, const uint16_t *features,
                 int32_t *points)
{
    for (int i = 0; i < kTrackingPoints; ++i)
        for (int c = 0; c < 2; ++c) {
            const int16_t *row = weights.data() + (size_t(i) * 2 + c) * kTrackFeatures;
            int64_t sum = 0;
            for (int j = 0; j < kTrackFeatures; ++j)
                sum += int64_t(features[j]) * row[j];
            points[2 * i + c] += biases[size_t(2 * i + c)] + int32_t(sum / 4096);
        }
}

double meanError(const int32_t *points, const std::array<int32_t, 2 * kFitterPoints> &truth, int count)
{
    double sum = 0;
    for (int i = 0; i < count; ++i)
        sum += std::hypot(points[2 * i] - truth[size_t(2 * i)], points[2 * i + 1] - truth[size_t(2 * i + 1)]) / 1024.0;
    return sum / count;
}

}  // namespace

void Trainer::trainTracking(TrainedTables *t)
{
    TrainedParts parts;
    fillParts(*t, &parts);
    std::vector<StageInput> inputs(samples_.size());
    std::vector<char> ok(samples_.size(), 0);
    parallelFor(samples_.size(), options_.threads, [&](size_t k) {
        facedata::Random random(options_.seed * 7919 + k);
        ok[k] = trackingInput(samples_[k], parts, random, &inputs[k]);
    });
    std::vector<StageInput> kept;
    for (size_t k = 0; k < inputs.size(); ++k)
        if (ok[k])
            kept.push_back(std::move(inputs[k]));
    log("tracking: " + std::to_string(kept.size()) + " frames");
    const uint8_t *kinds = t->experts2.kinds.data();
    /* Every face starts from the model's mean in the crop. */
    std::vector<std::array<int32_t, 2 * kFitterPoints>> points(kept.size());
    for (auto &p : points) {
        p.fill(0);
        for (int i = 0; i < kTrackingPoints; ++i) {
            p[size_t(2 * i)] = t->shape2.mean[size_t(i)] / 64;
            p[size_t(2 * i + 1)] = t->shape2.mean[size_t(t->shape2.points() + i)] / 64;
        }
    }
    Matrix scoreX(kept.size() * 3, kTrackFeatures), scoreY(kept.size() * 3, 1);
    for (int step = 0; step < 2; ++step) {
        Matrix x(kept.size(), kTrackFeatures), y(kept.size(), 2 * kTrackingPoints);
        parallelFor(kept.size(), options_.threads, [&](size_t k) {
            uint16_t f[kTrackFeatures];
            pointFeatures(kept[k].crop.data(), 128, points[k].data(), kTrackingPoints, kinds, true, f);
            for (int j = 0; j < kTrackFeatures; ++j)
                x.at(k, size_t(j)) = scoreX.at(k * 3 + size_t(step), size_t(j)) = f[j];
            scoreY.at(k * 3 + size_t(step), 0) = meanError(points[k].data(), kept[k].truth, kTrackingPoints);
            for (int i = 0; i < 2 * kTrackingPoints; ++i)
                y.at(k, size_t(i)) = kept[k].truth[size_t(i)] - points[k][size_t(i)];
        });
        double lambda = 0;
        const Matrix w = fitRidge(x, y, true, kLambdas, &lambda);
        for (int o = 0; o < 2 * kTrackingPoints; ++o) {
            for (int j = 0; j < kTrackFeatures; ++j)
                t->trackWeights[step][size_t(o) * kTrackFeatures + size_t(j)] =
                    int16_t(std::clamp<long>(std::lround(w.at(size_t(j), size_t(o)) * 4096), -32767, 32767));
            t->trackBiases[step][size_t(o)] = int16_t(std::clamp<long>(std::lround(w.at(kTrackFeatures, size_t(o))), -32767, 32767));
        }
        double before = 0, after = 0;
        for (size_t k = 0; k < kept.size(); ++k) {
            uint16_t f[kTrackFeatures];
            pointFeatures(kept[k].crop.data(), 128, points[k].data(), kTrackingPoints, kinds, true, f);
            before += meanError(points[k].data(), kept[k].truth, kTrackingPoints);
            cascadeMove(t->trackWeights[step], t->trackBiases[step], f, points[k].data());
            after += meanError(points[k].data(), kept[k].truth, kTrackingPoints);
        }
        log("tracking step " + std::to_string(step) + ": mean error " + std::to_string(before / kept.size()) + " -> " +
            std::to_string(after / kept.size()) + " crop pixels, ridge " + std::to_string(lambda));
    }
    /* The score: the mean point error, predicted from the features at the points, at the start
     * and after each step. Higher is worse. */
    parallelFor(kept.size(), options_.threads, [&](size_t k) {
        uint16_t f[kTrackFeatures];
        pointFeatures(kept[k].crop.data(), 128, points[k].data(), kTrackingPoints, kinds, true, f);
        for (int j = 0; j < kTrackFeatures; ++j)
            scoreX.at(k * 3 + 2, size_t(j)) = f[j];
        scoreY.at(k * 3 + 2, 0) = meanError(points[k].data(), kept[k].truth, kTrackingPoints);
    });
    double lambda = 0;
    const Matrix w = fitRidge(scoreX, scoreY, true, kLambdas, &lambda);
    /* Each product is shifted by 15 bits: the weights take the whole 16-bit range, and the
     * score is the predicted error in crop pixels times the same gain. */
    double largest = 1e-12;
    for (int j = 0; j < kTrackFeatures; ++j)
        largest = std::max(largest, std::fabs(w.at(size_t(j), 0)));
    const double gain = 32000.0 / 32768 / largest;
    for (int j = 0; j < kTrackFeatures; ++j)
        t->scoreWeights[size_t(j)] = int16_t(std::lround(w.at(size_t(j), 0) * gain * 32768));
    t->scoreBias = int32_t(std::lround(w.at(kTrackFeatures, 0) * gain * 32768));
    log("tracking score: gain " + std::to_string(gain) + " per crop pixel, ridge " + std::to_string(lambda));

    /* The tracking stage on the validation faces, from a previous frame near each. */
    fillParts(*t, &parts);
    std::vector<double> before(validation_.size(), -1), after(validation_.size(), -1);
    parallelFor(validation_.size(), options_.threads, [&](size_t k) {
        const Sample &s = validation_[k];
        facedata::Random random(options_.seed * 104729 + k);
        Track track(s.face);
        track.track.work = static_cast<LandmarkWork *>(allocatorAlloc(track.track.allocator, sizeof(LandmarkWork)));
        std::memset(track.track.work, 0, sizeof(LandmarkWork));
        const auto previous = previousFrame(s, random);
        double error = 0;
        for (int i = 0; i < kTrackingPoints; ++i) {
            track.track.work->image[2 * i] = int32_t(std::lround(previous[size_t(2 * i)] * 1024));
            track.track.work->image[2 * i + 1] = int32_t(std::lround(previous[size_t(2 * i + 1)] * 1024));
            error += std::hypot(previous[size_t(2 * i)] - s.truth[size_t(2 * i)], previous[size_t(2 * i + 1)] - s.truth[size_t(2 * i + 1)]);
        }
        for (int i = kTrackingPoints; i < kFitterPoints; ++i) {
            track.track.work->image[2 * i] = int32_t(std::lround(previous[size_t(2 * i)] * 1024));
            track.track.work->image[2 * i + 1] = int32_t(std::lround(previous[size_t(2 * i + 1)] * 1024));
        }
        Source source(s);
        if (runStageDriver(&track.track, &source.source, kStageLevel2, &parts.part2, parts.part2.referenceShape,
                           trackingStage, 0) != kResultOk)
            return;
        double fitted = 0;
        for (int i = 0; i < kTrackingPoints; ++i)
            fitted += std::hypot(track.track.work->image[2 * i] / 1024.0 - s.truth[size_t(2 * i)],
                                 track.track.work->image[2 * i + 1] / 1024.0 - s.truth[size_t(2 * i + 1)]);
        before[k] = error / kTrackingPoints / s.iod;
        after[k] = fitted / kTrackingPoints / s.iod;
    });
    double b = 0, a = 0;
    int n = 0;
    for (size_t k = 0; k < before.size(); ++k)
        if (before[k] >= 0) {
            b += before[k];
            a += after[k];
            ++n;
        }
    log("tracking on validation faces: error of points 0 .. 46 " + std::to_string(n ? b / n : -1) + " in the previous frame, " +
        std::to_string(n ? a / n : -1) + " after the tracking stage");
}

/* ---- everything ---- */

void Trainer::trainAll(TrainedTables *t)
{
    trainShapes(t);
    trainCoarse(t);
    for (int level = 2; level <= 4; ++level)
        trainLevel(t, level);
    trainTracking(t);
}

}  // namespace landmarktrain
