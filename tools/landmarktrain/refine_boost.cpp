/*
 * Training of the point-refinement detectors.
 *
 * Divisions: integral images and learner values; the feature pool; boosting one detector; all
 * detectors.
 */
#include "tools/landmarktrain/refine_boost.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <random>

#include "tools/landmarktrain/trainer.h"

namespace landmarktrain {

namespace {

/* ---- integral images and learner values ---- */

struct IntegralImage {
    int size = 0;
    std::vector<uint32_t> sums;   /* inclusive, as the fitter builds it */
    explicit IntegralImage(const std::vector<uint8_t> &crop, int side) : size(side), sums(size_t(side) * side)
    {
        for (int y = 0; y < side; ++y) {
            uint32_t row = 0;
            for (int x = 0; x < side; ++x) {
                row += crop[size_t(y) * side + x];
                sums[size_t(y) * side + x] = row + (y > 0 ? sums[size_t(y - 1) * side + x] : 0);
            }
        }
    }
    uint32_t at(int x, int y) const { return x < 0 || y < 0 ? 0 : sums[size_t(y) * size + x]; }
    int64_t rect(int x, int y, int w, int h) const
    {
        return int64_t(at(x + w - 1, y + h - 1)) - at(x - 1, y + h - 1) - at(x + w - 1, y - 1) + at(x - 1, y - 1);
    }
};

constexpr int32_t kSkipped = INT_MIN;   /* the learner does not take part: it never passes */

/* The contrast of a learner at a detection window, difference x 32768 / sum rounded down, as
 * the fitter's test compares it; kSkipped where the fitter skips the learner. */
int32_t learnerValue(const IntegralImage &ii, const WeakLearner &l, int wx, int wy)
{
    const int x = wx + l.x, y = wy + l.y, w = l.width, h = l.height;
    if (w <= 0 || h <= 0 || x + w - 1 >= ii.size - 1 || y + h - 1 >= ii.size - 1)
        return kSkipped;
    const int64_t total = ii.rect(x, y, w, h);
    if (total == 0)
        return kSkipped;
    int64_t difference;
    switch (l.type) {
    case 1: difference = ii.rect(x, y, w / 2, h) - ii.rect(x + w / 2, y, w - w / 2, h); break;
    case 2: difference = ii.rect(x, y, w, h / 2) - ii.rect(x, y + h / 2, w, h - h / 2); break;
    case 3:
        difference = ii.rect(x, y, w / 2, h / 2) + ii.rect(x + w / 2, y + h / 2, w - w / 2, h - h / 2) -
                     ii.rect(x + w / 2, y, w - w / 2, h / 2) - ii.rect(x, y + h / 2, w / 2, h - h / 2);
        break;
    default: {
        const int64_t middle = ii.rect(x + w / 3, y, w - 2 * (w / 3), h);
        difference = 2 * middle - (total - middle);
        break;
    }
    }
    const int64_t scaled = difference * 32768;
    return int32_t(scaled >= 0 ? scaled / total : -((-scaled + total - 1) / total));
}

/* ---- the feature pool ---- */

/* Rectangles within 5 pixels of the point on every side: a detection window starts 4 pixels
 * up and left of its candidate, and the candidate lies 1 pixel up and left of the point. */
constexpr int kReach = 11;

std::vector<WeakLearner> featurePool(std::mt19937_64 &random, int count)
{
    std::vector<WeakLearner> pool;
    while (int(pool.size()) < count) {
        WeakLearner l{};
        l.type = uint8_t(1 + random() % 4);
        l.width = uint16_t(2 + random() % (kReach - 1));
        l.height = uint16_t(2 + random() % (kReach - 1));
        if ((l.type == 1 || l.type == 3) && l.width % 2)
            ++l.width;
        if ((l.type == 2 || l.type == 3) && l.height % 2)
            ++l.height;
        if (l.type == 4 && l.width < 3)
            l.width = 3;
        if (l.width > kReach || l.height > kReach)
            continue;
        l.x = uint16_t(random() % (kReach - l.width + 1));
        l.y = uint16_t(random() % (kReach - l.height + 1));
        pool.push_back(l);
    }
    return pool;
}

/* ---- boosting one detector ---- */

constexpr int kBins = 32;

struct Window {
    int example;
    int wx, wy;
    bool positive;
};

PointDetector boostDetector(const std::vector<RefineExample> &examples, const std::vector<IntegralImage> &integrals,
                            int point, int halfRange, uint64_t seed, int rounds)
{
    std::mt19937_64 random(seed);
    /* windows: the one at the candidate one pixel up and left of the true point, and others two
     * to four pixels from it */
    std::vector<Window> windows;
    const int size = integrals.front().size;
    for (size_t e = 0; e < examples.size(); ++e) {
        const int cx = (examples[e].truth[2 * point] - 1024 + 512) >> 10;
        const int cy = (examples[e].truth[2 * point + 1] - 1024 + 512) >> 10;
        auto add = [&](int x, int y, bool positive) {
            const int wx = x - 4, wy = y - 4;
            if (wx >= 0 && wy >= 0 && wx < size && wy < size)
                windows.push_back({int(e), wx, wy, positive});
        };
        add(cx, cy, true);
        std::vector<std::pair<int, int>> around;
        for (int dy = -4; dy <= 4; ++dy)
            for (int dx = -4; dx <= 4; ++dx)
                if (std::max(std::abs(dx), std::abs(dy)) >= 2)
                    around.push_back({dx, dy});
        std::shuffle(around.begin(), around.end(), random);
        for (int k = 0; k < 16; ++k)
            add(cx + around[size_t(k)].first, cy + around[size_t(k)].second, false);
    }
    const std::vector<WeakLearner> pool = featurePool(random, 600);
    const size_t n = windows.size(), f = pool.size();
    /* values, then per feature 31 thresholds at its quantiles and each window's bin */
    std::vector<uint8_t> bins(f * n);
    std::vector<int32_t> thresholds(f * (kBins - 1));
    {
        std::vector<int32_t> values(n);
        for (size_t j = 0; j < f; ++j) {
            for (size_t i = 0; i < n; ++i)
                values[i] = learnerValue(integrals[size_t(windows[i].example)], pool[j], windows[i].wx, windows[i].wy);
            std::vector<int32_t> sorted;
            for (int32_t v : values)
                if (v != kSkipped)
                    sorted.push_back(v);
            std::sort(sorted.begin(), sorted.end());
            for (int k = 1; k < kBins; ++k) {
                int32_t t = sorted.empty() ? 1 : sorted[sorted.size() * size_t(k) / kBins];
                if (t == 0)
                    t = 1;   /* a threshold of 0 cannot be written: v >= 1 instead */
                thresholds[j * (kBins - 1) + size_t(k - 1)] = t;
            }
            for (size_t i = 0; i < n; ++i) {
                int b = 0;
                if (values[i] != kSkipped)
                    while (b < kBins - 1 && values[i] >= thresholds[j * (kBins - 1) + size_t(b)])
                        ++b;
                bins[j * n + i] = uint8_t(b);
            }
        }
    }
    size_t positives = 0;
    for (const Window &w : windows)
        positives += w.positive;
    std::vector<double> weight(n);
    for (size_t i = 0; i < n; ++i)
        weight[i] = windows[i].positive ? 0.5 / double(positives) : 0.5 / double(n - positives);

    PointDetector detector{};
    double bias = 0;
    constexpr double kScale = 128, kEpsilon = 1e-6;
    for (int round = 0; round < rounds && round < kWeakLearners; ++round) {
        double bestZ = 1e300;
        size_t bestFeature = 0;
        int bestCut = 1;
        double bestPass = 0, bestFail = 0;
        for (size_t j = 0; j < f; ++j) {
            double pos[kBins] = {}, neg[kBins] = {};
            const uint8_t *b = bins.data() + j * n;
            for (size_t i = 0; i < n; ++i)
                (windows[i].positive ? pos : neg)[b[i]] += weight[i];
            double posAbove = 0, negAbove = 0, posTotal = 0, negTotal = 0;
            for (int k = 0; k < kBins; ++k) {
                posTotal += pos[k];
                negTotal += neg[k];
            }
            for (int k = kBins - 1; k >= 1; --k) {
                posAbove += pos[k];
                negAbove += neg[k];
                const double z = std::sqrt(posAbove * negAbove) + std::sqrt((posTotal - posAbove) * (negTotal - negAbove));
                if (z < bestZ) {
                    bestZ = z;
                    bestFeature = j;
                    bestCut = k;
                    bestPass = 0.5 * std::log((posAbove + kEpsilon) / (negAbove + kEpsilon));
                    bestFail = 0.5 * std::log((posTotal - posAbove + kEpsilon) / (negTotal - negAbove + kEpsilon));
                }
            }
        }
        WeakLearner l = pool[bestFeature];
        const int32_t theta = thresholds[bestFeature * (kBins - 1) + size_t(bestCut - 1)];
        l.threshold = theta >= 1 ? theta - 1 : theta;
        l.vote = int32_t(std::lround(kScale * (bestPass - bestFail)));
        detector.learners[round] = l;
        bias += bestFail;
        const uint8_t *b = bins.data() + bestFeature * n;
        double total = 0;
        for (size_t i = 0; i < n; ++i) {
            const double h = b[i] >= bestCut ? bestPass : bestFail;
            weight[i] *= std::exp(windows[i].positive ? -h : h);
            total += weight[i];
        }
        for (double &w : weight)
            w /= total;
    }
    detector.bias = int32_t(std::lround(kScale * bias));
    detector.window[0] = detector.window[1] = halfRange + 1;
    detector.window[2] = detector.window[3] = 2 * halfRange + 1;
    return detector;
}

}  // namespace

/* ---- all detectors ---- */

void trainRefinement(const std::vector<RefineExample> &examples, int size, uint64_t seed, int rounds, int threads,
                     std::vector<PointDetector> *detectors)
{
    if (examples.empty())
        return;
    std::vector<IntegralImage> integrals;
    integrals.reserve(examples.size());
    for (const RefineExample &e : examples)
        integrals.emplace_back(*e.crop, size);
    const int halfRange = 2;
    detectors->resize(kEyeListPoints + kMouthListPoints);
    parallelFor(detectors->size(), threads, [&](size_t k) {
        const int point = k < size_t(kEyeListPoints) ? kEyeListIndices[k] : 32 + int(k) - kEyeListPoints;
        (*detectors)[k] = boostDetector(examples, integrals, point, halfRange, seed * 1000 + k, rounds);
    });
}

}  // namespace landmarktrain
