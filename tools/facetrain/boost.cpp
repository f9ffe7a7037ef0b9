/*
 * Training of one cascade model.
 *
 * Divisions: window samples; pictures; features; the model being trained; boosting.
 *
 * Boosting is real AdaBoost over lookup tables: a weak classifier's table holds half the log
 * ratio of the positive and negative weight in each bucket, clipped to +-kClip, and is stored
 * as votes (kVotesPerUnit votes per unit, shifted to start at 0). The sums the cascade tests
 * are exactly the sums of those stored votes, so the thresholds are set on the integers the
 * detector adds up.
 */
#include "tools/facetrain/boost.h"

#include "facesdk/detect/window.h"
#include "facesdk/base/allocator.h"
#include "tools/facedata/face_maker.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <thread>
#include <tuple>

namespace facetrain {

namespace {

constexpr double kClip = 3.0;
constexpr double kVotesPerUnit = 512.0; /* 2 x kClip x 512 = 3072 votes at most, below 3462 */
constexpr double kEpsilon = 1e-5;

template <typename Work>
void parallelFor(size_t count, int threads, Work work)
{
    threads = std::max(1, std::min<int>(threads, int(count)));
    if (threads <= 1) {
        for (size_t i = 0; i < count; ++i)
            work(i, 0);
        return;
    }
    std::atomic<size_t> next{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            for (size_t i; (i = next.fetch_add(1)) < count;)
                work(i, t);
        });
    for (auto &th : pool)
        th.join();
}

const int16_t *identityVotes()
{
    static const auto table = [] {
        std::array<int16_t, 256> t{};
        for (int i = 0; i < 256; ++i)
            t[size_t(i)] = int16_t(i);
        return t;
    }();
    return table.data();
}

} // namespace

/* ---- window samples ---- */

void SampleStore::add(const WindowContext &c, int32_t side)
{
    Sample s;
    s.offset = pool_.size();
    s.side = side;
    s.scale = c.scale;
    s.base = c.base;
    s.normalisation = c.normalisation;
    s.inverseSquaredScale = c.inverseSquaredScale;
    s.features = c.features;
    for (int32_t y = 0; y < side; ++y)
        pool_.insert(pool_.end(), c.corner + ptrdiff_t(y) * c.stride, c.corner + ptrdiff_t(y) * c.stride + side);
    samples_.push_back(s);
}

void SampleStore::append(const SampleStore &other)
{
    const size_t base = pool_.size();
    pool_.insert(pool_.end(), other.pool_.begin(), other.pool_.end());
    for (Sample s : other.samples_) {
        s.offset += base;
        samples_.push_back(s);
    }
}

WindowContext SampleStore::context(size_t i) const
{
    const Sample &s = samples_[i];
    WindowContext c{};
    c.corner = pool_.data() + s.offset;
    c.stride = s.side;
    c.scale = s.scale;
    c.roll = 0;
    c.unit = int32_t(s.scale >> 10);
    c.unitStride = c.unit * s.side;
    c.base = s.base;
    c.normalisation = s.normalisation;
    c.inverseSquaredScale = s.inverseSquaredScale;
    c.tolerance = 0;
    c.features = s.features;
    return c;
}

void SampleStore::keep(const std::vector<char> &flags)
{
    std::vector<uint32_t> pool;
    std::vector<Sample> samples;
    for (size_t i = 0; i < samples_.size(); ++i) {
        if (!flags[i])
            continue;
        Sample s = samples_[i];
        const size_t n = size_t(s.side) * s.side;
        const size_t offset = pool.size();
        pool.insert(pool.end(), pool_.begin() + ptrdiff_t(s.offset), pool_.begin() + ptrdiff_t(s.offset + n));
        s.offset = offset;
        samples.push_back(s);
    }
    pool_ = std::move(pool);
    samples_ = std::move(samples);
}

void SampleStore::clear()
{
    pool_.clear();
    samples_.clear();
}

/* ---- pictures ---- */

ScanPicture::ScanPicture()
{
    DetectorConfig config{};
    config.size = sizeof config;
    faceDetectorCreate(defaultAllocator(), &config, &detector_);
}

ScanPicture::~ScanPicture()
{
    if (detector_) {
        freeCrop(detector_, &crop_);
        faceDetectorDestroy(detector_);
    }
}

bool ScanPicture::load(const uint8_t *luma, int width, int height)
{
    if (!detector_)
        return false;
    if (int(crop_.plane.width) != width || int(crop_.plane.height) != height) {
        freeCrop(detector_, &crop_);
        if (!allocateCrop(detector_, &crop_, uint32_t(width), uint32_t(height)))
            return false;
    }
    width_ = width;
    height_ = height;
    std::memcpy(crop_.plane.data, luma, size_t(width) * height);
    FaceDetector *d = detector_;
    /* what a 320 x 240 copy of a bright enough photo gets: one bit of squares shift, the
     * flatness bound of luma 99 % points above 70, lighting class 0, strict cascades */
    d->squaresShift = 1;
    d->frame.prefilter.flatnessShift = 14;
    d->frame.prefilter.lightingClass = 0;
    d->cascadeTolerance = 0;
    d->rollRefinementAllowed = 1;
    scanCrop(d, &crop_, 0, 0);
    return true;
}

void ScanPicture::setWindow(int32_t base, int32_t roll, int32_t view, uint32_t scale)
{
    detector_->modelBase = base;
    detector_->roll = roll;
    detector_->view = view;
    setScanScale(detector_, scale);
}

bool ScanPicture::context(int32_t x, int32_t y, WindowContext *out)
{
    const FeatureEvaluator *features = windowFeatures(detector_);
    return features && windowContextAt(detector_, x + 1, y + 1, true, features, 0, out) == 0;
}

/* ---- features ---- */

namespace {

struct Extent {
    int lx, hx, ly, hy; /* units: [lx, hx) x [ly, hy) around the anchor */
};

Extent rectangleExtent(int kind)
{
    switch (kind) {
    case 9: return {-1, 1, -1, 0};
    case 10: return {-1, 0, -1, 1};
    case 11: return {-1, 2, -1, 0};
    case 12: return {-1, 0, -1, 2};
    default: return {-1, 1, -1, 1}; /* 13 */
    }
}

} // namespace

std::vector<Candidate> rectangleCandidates(int32_t base)
{
    std::vector<Candidate> out;
    static const int kUnits[5] = {1, 2, 4, 8, 16};
    for (int kind = 9; kind <= 13; ++kind) {
        const Extent e = rectangleExtent(kind);
        for (int w : kUnits)
            for (int h : kUnits) {
                if (w * h > 64 || (w > 4 * h) || (h > 4 * w))
                    continue; /* thin strips and huge cells carry little */
                for (int ay = 1; ay <= base; ++ay)
                    for (int ax = 1; ax <= base; ++ax) {
                        if (ax + e.lx * w < 0 || ax + e.hx * w > base || ay + e.ly * h < 0 || ay + e.hy * h > base)
                            continue;
                        out.push_back(Candidate{uint8_t(kind), uint8_t(ax), uint8_t(ay), uint8_t(w), uint8_t(h), 4});
                    }
            }
    }
    return out;
}

std::vector<Candidate> blockCandidates(int32_t base)
{
    std::vector<Candidate> out;
    for (int kind = 0; kind <= 8; ++kind)
        for (int ay = 1; ay + 2 <= base; ++ay)
            for (int ax = 1; ax + 2 <= base; ++ax)
                out.push_back(Candidate{uint8_t(kind), uint8_t(ax), uint8_t(ay), 0, 0, 0});
    return out;
}

int featureBin(const Candidate &c, const WindowContext &context)
{
    if (c.kind < kFirstRectangleKind) {
        const BlockFeatureRecord r{0, c.kind, c.anchorX, c.anchorY, 0, identityVotes()};
        return context.features[c.kind](&context, &r);
    }
    const RectFeatureRecord r{0, c.kind, c.anchorX, c.anchorY, c.unitWidth, c.unitHeight, c.shift, {}, identityVotes()};
    return context.features[c.kind](&context, &r);
}

void chooseShifts(std::vector<Candidate> *candidates, const SampleStore &samples, int threads)
{
    const size_t n = std::min<size_t>(samples.size(), 1500);
    const size_t stride = std::max<size_t>(1, samples.size() / std::max<size_t>(n, 1));
    parallelFor(candidates->size(), threads, [&](size_t k, int) {
        Candidate &c = (*candidates)[k];
        if (c.kind < kFirstRectangleKind)
            return;
        /* the finest shift whose values leave at most 1 % of the windows in the end buckets */
        for (int shift = 2; shift <= 9; ++shift) {
            c.shift = uint8_t(shift);
            size_t saturated = 0, counted = 0;
            for (size_t i = 0; i < samples.size() && counted < n; i += stride, ++counted) {
                const int b = featureBin(c, samples.context(i));
                saturated += b == 0 || b == 63;
            }
            if (saturated * 100 <= counted)
                break;
        }
    });
}

/* ---- the model being trained ---- */

TrainedModel::TrainedModel(uint32_t rectangleCount, uint32_t blockCount)
{
    rectangles_.reserve(rectangleCount);
    blocks_.reserve(blockCount);
    model_.scale = 1;
    relink();
}

TrainedModel::TrainedModel(const TrainedModel &other) { *this = other; }

TrainedModel &TrainedModel::operator=(const TrainedModel &other)
{
    rectangles_ = other.rectangles_;
    blocks_ = other.blocks_;
    rectangleVotes_ = other.rectangleVotes_;
    blockVotes_ = other.blockVotes_;
    model_ = other.model_;
    relink();
    return *this;
}

void TrainedModel::relink()
{
    for (size_t i = 0; i < rectangles_.size(); ++i)
        rectangles_[i].votes = rectangleVotes_[i].data();
    for (size_t i = 0; i < blocks_.size(); ++i)
        blocks_[i].votes = blockVotes_[i].data();
    groups_[0] = CascadeGroup{rectangles_.data(), uint32_t(rectangles_.size()), sizeof(RectFeatureRecord)};
    groups_[1] = CascadeGroup{blocks_.data(), uint32_t(blocks_.size()), sizeof(BlockFeatureRecord)};
    model_.groups = groups_;
    model_.groupCount = 2;
    model_.total = uint32_t(rectangles_.size() + blocks_.size());
}

void TrainedModel::addRectangle(const Candidate &c, int32_t threshold, const int16_t votes[64])
{
    rectangleVotes_.emplace_back(votes, votes + 64);
    rectangles_.push_back(RectFeatureRecord{threshold, c.kind, c.anchorX, c.anchorY, c.unitWidth, c.unitHeight, c.shift, {}, nullptr});
    relink();
}

void TrainedModel::addBlock(const Candidate &c, int32_t threshold, const int16_t votes[256])
{
    blockVotes_.emplace_back(votes, votes + 256);
    blocks_.push_back(BlockFeatureRecord{threshold, c.kind, c.anchorX, c.anchorY, 0, nullptr});
    relink();
}

int32_t TrainedModel::lastThreshold() const
{
    if (!blocks_.empty())
        return blocks_.back().threshold;
    if (!rectangles_.empty())
        return rectangles_.back().threshold;
    return 0;
}

const CascadeModel *TrainedModel::partial()
{
    relink();
    model_.offset = lastThreshold() - 1;
    model_.scale = 65536;
    return &model_;
}

const CascadeModel *TrainedModel::finished(uint32_t scale)
{
    relink();
    model_.offset = lastThreshold();
    model_.scale = scale;
    return &model_;
}

void TrainedModel::shiftThresholds(int32_t delta)
{
    for (auto &r : rectangles_)
        r.threshold += delta;
    for (auto &b : blocks_)
        b.threshold += delta;
}

size_t TrainedModel::tightenThresholds(const SampleStore &samples, const CascadeModel *next)
{
    relink();
    const size_t n = count();
    std::vector<int64_t> lowest(n, INT64_MAX);
    bool any = false;
    for (size_t i = 0; i < samples.size(); ++i) {
        const WindowContext c = samples.context(i);
        if (evaluateCascade(&c, &model_) < 1 || (next && evaluateCascade(&c, next) < 1))
            continue;
        any = true;
        walkSums(c, [&](size_t t, int64_t sum, int32_t) { lowest[t] = std::min(lowest[t], sum); });
    }
    size_t raised = 0;
    if (!any)
        return raised;
    auto raise = [&](int32_t &threshold, size_t t) {
        if (t + 1 < n && lowest[t] > threshold) {
            threshold = int32_t(lowest[t]);
            ++raised;
        }
    };
    for (size_t t = 0; t < rectangles_.size(); ++t)
        raise(rectangles_[t].threshold, t);
    for (size_t t = 0; t < blocks_.size(); ++t)
        raise(blocks_[t].threshold, rectangles_.size() + t);
    return raised;
}

int64_t modelSum(const TrainedModel &model, const WindowContext &context)
{
    int64_t last = 0;
    model.walkSums(context, [&](size_t, int64_t sum, int32_t) { last = sum; });
    return last;
}

/* ---- boosting ---- */

namespace {

/* Samples of one class during boosting: bins of the current group's candidates (one row per
 * sample), the integer vote sum and the real-valued score. */
struct ClassState {
    SampleStore store;
    std::vector<uint8_t> bins; /* size() x candidates */
    std::vector<int64_t> sums;
    std::vector<double> scores;
    std::vector<char> alive;

    size_t size() const { return sums.size(); }
};

void computeBins(ClassState &s, size_t first, const std::vector<Candidate> &candidates, int threads)
{
    const size_t n = candidates.size();
    s.bins.resize(s.size() * n);
    parallelFor(s.size() - first, threads, [&](size_t k, int) {
        const size_t i = first + k;
        const WindowContext c = s.store.context(i);
        uint8_t *row = s.bins.data() + i * n;
        for (size_t j = 0; j < n; ++j)
            row[j] = uint8_t(featureBin(candidates[j], c));
    });
}

/* Drops the samples that are no longer alive. */
void compact(ClassState &s, size_t candidates)
{
    std::vector<uint8_t> bins;
    std::vector<int64_t> sums;
    std::vector<double> scores;
    bins.reserve(s.bins.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (!s.alive[i])
            continue;
        bins.insert(bins.end(), s.bins.begin() + ptrdiff_t(i * candidates), s.bins.begin() + ptrdiff_t((i + 1) * candidates));
        sums.push_back(s.sums[i]);
        scores.push_back(s.scores[i]);
    }
    s.store.keep(s.alive);
    s.bins = std::move(bins);
    s.sums = std::move(sums);
    s.scores = std::move(scores);
    s.alive.assign(s.sums.size(), 1);
}

struct Choice {
    size_t candidate = 0;
    double z = 1e300;
};

/* The lookup table of a histogram (positive and negative weight per bucket): half the log
 * ratio, clipped, as votes from 0; `lowest` is the table's minimum in real units. */
void lookupVotes(const double *histogram, int bins, int16_t *votes, double *lowest)
{
    double h[256];
    *lowest = 1e300;
    for (int b = 0; b < bins; ++b) {
        h[b] = std::clamp(0.5 * std::log((histogram[size_t(b) * 2] + kEpsilon) / (histogram[size_t(b) * 2 + 1] + kEpsilon)),
                          -kClip, kClip);
        *lowest = std::min(*lowest, h[b]);
    }
    for (int b = 0; b < bins; ++b)
        votes[b] = int16_t(std::lround((h[b] - *lowest) * kVotesPerUnit));
}



/* The candidate whose lookup table separates the weighted classes best (least Z). Weights are
 * added as 2^-52 fixed point, so the sums do not depend on how the samples are split among
 * the threads. */
Choice chooseCandidate(const ClassState &pos, const ClassState &neg, const std::vector<double> &wPos,
                       const std::vector<double> &wNeg, size_t candidates, int bins, int threads,
                       std::vector<double> *histogramOut)
{
    threads = std::max(1, threads);
    constexpr double kFixed = 4503599627370496.0; /* 2^52 */
    const size_t cells = candidates * size_t(bins) * 2;
    std::vector<std::vector<int64_t>> hist(size_t(threads), std::vector<int64_t>(cells, 0));
    auto accumulate = [&](const ClassState &s, const std::vector<double> &w, int cls, size_t i, int t) {
        if (!s.alive[i] || w[i] == 0)
            return;
        const uint8_t *row = s.bins.data() + i * candidates;
        int64_t *h = hist[size_t(t)].data();
        const int64_t wi = int64_t(std::llround(w[i] * kFixed));
        for (size_t j = 0; j < candidates; ++j)
            h[(j * size_t(bins) + row[j]) * 2 + size_t(cls)] += wi;
    };
    const size_t total = pos.size() + neg.size();
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            const size_t lo = total * size_t(t) / size_t(threads), hi = total * size_t(t + 1) / size_t(threads);
            for (size_t i = lo; i < hi; ++i) {
                if (i < pos.size())
                    accumulate(pos, wPos, 0, i, t);
                else
                    accumulate(neg, wNeg, 1, i - pos.size(), t);
            }
        });
    for (auto &th : pool)
        th.join();
    std::vector<int64_t> &sum = hist[0];
    for (int t = 1; t < threads; ++t)
        for (size_t k = 0; k < cells; ++k)
            sum[k] += hist[size_t(t)][k];
    std::vector<double> z(candidates, 0.0);
    parallelFor(candidates, threads, [&](size_t j, int) {
        double acc = 0;
        for (int b = 0; b < bins; ++b) {
            const double p = double(sum[(j * size_t(bins) + size_t(b)) * 2]) / kFixed;
            const double n = double(sum[(j * size_t(bins) + size_t(b)) * 2 + 1]) / kFixed;
            acc += std::sqrt((p + kEpsilon) * (n + kEpsilon));
        }
        z[j] = acc;
    });
    Choice best;
    for (size_t j = 0; j < candidates; ++j)
        if (z[j] < best.z)
            best = Choice{j, z[j]};
    histogramOut->resize(size_t(bins) * 2);
    for (size_t k = 0; k < size_t(bins) * 2; ++k)
        (*histogramOut)[k] = double(sum[best.candidate * size_t(bins) * 2 + k]) / kFixed;
    return best;
}

void normalisedWeights(const ClassState &s, int sign, std::vector<double> *w)
{
    w->assign(s.size(), 0.0);
    double total = 0;
    for (size_t i = 0; i < s.size(); ++i)
        if (s.alive[i])
            total += (*w)[i] = std::exp(-sign * std::clamp(s.scores[i], -30.0, 30.0));
    for (double &v : *w)
        v = total > 0 ? 0.5 * v / total : 0;
}

} // namespace

TrainedModel trainCascade(const SampleStore &positives, const SampleStore &validation, SampleStore negatives,
                          const NegativeMiner &mine, const BoostOptions &options)
{
    auto log = [&](const std::string &line) {
        if (options.log)
            options.log(line);
    };
    const uint32_t total = options.rectangles + options.blocks;
    TrainedModel model(options.rectangles, options.blocks);
    std::vector<Candidate> rectangles = rectangleCandidates(options.base), blocks = blockCandidates(options.base);
    if (rectangles.size() > options.maxRectangles) {
        /* a fixed share of the placements, chosen by the seed: neighbouring placements are
         * nearly alike, and the rounds cost in proportion */
        facedata::Random pick(options.seed * 2654435761ull + uint64_t(options.base));
        for (size_t i = rectangles.size() - 1; i > 0; --i)
            std::swap(rectangles[i], rectangles[size_t(pick.next() % (i + 1))]);
        rectangles.resize(options.maxRectangles);
        std::sort(rectangles.begin(), rectangles.end(), [](const Candidate &a, const Candidate &b) {
            return std::make_tuple(a.kind, a.unitWidth, a.unitHeight, a.anchorY, a.anchorX) <
                   std::make_tuple(b.kind, b.unitWidth, b.unitHeight, b.anchorY, b.anchorX);
        });
    }
    chooseShifts(&rectangles, positives, options.threads);

    ClassState pos, neg;
    pos.store = positives;
    neg.store = std::move(negatives);
    for (ClassState *s : {&pos, &neg}) {
        s->sums.assign(s->store.size(), 0);
        s->scores.assign(s->store.size(), 0.0);
        s->alive.assign(s->store.size(), 1);
    }
    std::vector<int64_t> validationSums(validation.size(), 0);
    std::vector<char> validationAlive(validation.size(), 1);
    size_t validationRejected = 0;
    double offsetSoFar = 0; /* sum of the tables' minima: score = sum / votes-per-unit + this */

    const std::vector<Candidate> *group = &rectangles;
    computeBins(pos, 0, *group, options.threads);
    computeBins(neg, 0, *group, options.threads);
    std::vector<double> wPos, wNeg, histogram;
    for (uint32_t t = 0; t < total; ++t) {
        if (t == options.rectangles) {
            group = &blocks;
            compact(pos, rectangles.size());
            compact(neg, rectangles.size());
            computeBins(pos, 0, *group, options.threads);
            computeBins(neg, 0, *group, options.threads);
        }
        const bool blockGroup = group == &blocks;
        const int bins = blockGroup ? 256 : 64;
        normalisedWeights(pos, 1, &wPos);
        normalisedWeights(neg, -1, &wNeg);
        const Choice choice = chooseCandidate(pos, neg, wPos, wNeg, group->size(), bins, options.threads, &histogram);
        const Candidate &c = (*group)[choice.candidate];

        int16_t votes[256];
        double lowest;
        lookupVotes(histogram.data(), bins, votes, &lowest);
        offsetSoFar += lowest;

        /* the new sums, on the integers the detector adds */
        auto advance = [&](ClassState &s) {
            const size_t n = group->size();
            for (size_t i = 0; i < s.size(); ++i) {
                if (!s.alive[i])
                    continue;
                const int16_t v = votes[s.bins[i * n + choice.candidate]];
                s.sums[i] += v;
                s.scores[i] += v / kVotesPerUnit + lowest;
            }
        };
        advance(pos);
        advance(neg);
        std::vector<int64_t> alive;
        for (size_t i = 0; i < validation.size(); ++i) {
            if (!validationAlive[i])
                continue;
            validationSums[i] += votes[featureBin(c, validation.context(i))];
            alive.push_back(validationSums[i]);
        }

        /* the threshold: the validation positives rejected so far may reach
         * budget x ((t + 1) / total)^spending of all of them. Most of the budget goes to the
         * first classifiers, which every window of a picture meets: what they turn away
         * costs nothing more, and a picture's windows are nearly all turned away there. */
        const double share = options.missBudget * std::pow(double(t + 1) / total, options.spending);
        const size_t allowed = size_t(share * double(validation.size()));
        const size_t more = allowed > validationRejected ? allowed - validationRejected : 0;
        std::sort(alive.begin(), alive.end());
        int32_t threshold = alive.empty() ? 0 : int32_t(alive[std::min(more, alive.size() - 1)]);
        if (alive.empty() || more == 0)
            threshold = alive.empty() ? 0 : int32_t(alive.front());
        for (size_t i = 0; i < validation.size(); ++i)
            if (validationAlive[i] && validationSums[i] < threshold) {
                validationAlive[i] = 0;
                ++validationRejected;
            }
        size_t posAlive = 0, negAlive = 0;
        for (size_t i = 0; i < pos.size(); ++i)
            posAlive += pos.alive[i] = pos.alive[i] && pos.sums[i] >= threshold;
        for (size_t i = 0; i < neg.size(); ++i)
            negAlive += neg.alive[i] = neg.alive[i] && neg.sums[i] >= threshold;

        if (blockGroup)
            model.addBlock(c, threshold, votes);
        else
            model.addRectangle(c, threshold, votes);

        std::string line = "  classifier " + std::to_string(t + 1) + ": kind " + std::to_string(c.kind) + " at (" +
                           std::to_string(c.anchorX) + "," + std::to_string(c.anchorY) + ") z " +
                           std::to_string(choice.z).substr(0, 6) + " threshold " + std::to_string(threshold) +
                           " positives " + std::to_string(posAlive) + " negatives " + std::to_string(negAlive) +
                           " validation kept " + std::to_string(validation.size() - validationRejected);

        /* refill the negatives with windows that pass the cascade so far */
        if (t + 1 < total && double(negAlive) < options.refillBelow * double(options.negatives)) {
            SampleStore mined;
            const uint64_t examined = mine(model.partial(), options.negatives - negAlive, &mined);
            compact(neg, group->size());
            const size_t first = neg.size();
            neg.store.append(mined);
            for (size_t i = 0; i < mined.size(); ++i) {
                const int64_t sum = modelSum(model, mined.context(i));
                neg.sums.push_back(sum);
                neg.scores.push_back(double(sum) / kVotesPerUnit + offsetSoFar);
                neg.alive.push_back(1);
            }
            computeBins(neg, first, *group, options.threads);
            line += " | mined " + std::to_string(mined.size()) + " of " + std::to_string(examined) + " windows";
            if (mined.size() == 0 && negAlive == 0)
                line += " (no negative passes: the rest is trained on the positives alone)";
        }
        log(line);
    }
    return model;
}

} // namespace facetrain
