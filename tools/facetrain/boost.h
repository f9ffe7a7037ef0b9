/*
 * Training of one cascade model on the detector's own evaluators: window samples cut from
 * pictures through the detector's integral images and window normalisation, candidate
 * features evaluated by the detector's feature evaluators, boosted lookup-table weak
 * classifiers, the soft cascade's cumulative thresholds, and hard negatives mined with the
 * cascade trained so far.
 *
 * Divisions: window samples; pictures the samples come from; features; the model being
 * trained; boosting.
 */
#ifndef TOOLS_FACETRAIN_BOOST_H
#define TOOLS_FACETRAIN_BOOST_H

#include "facesdk/detect/detector_object.h"
#include "facesdk/detect/faces.h"
#include "facesdk/detect/features.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace facetrain {

/* ---- window samples ---- */

/* One window as a cascade sees it: the integral entries it reads, its scale, normalisation and
 * the feature table of its orientation. */
struct Sample {
    size_t offset = 0;                         /* first integral entry in the store's pool */
    int32_t side = 0;                          /* entries per row: window pixels + 1 */
    uint32_t scale = 1024;                     /* Q10 */
    int32_t base = 22;                         /* model base */
    int32_t normalisation = 0;
    int32_t inverseSquaredScale = 1024;
    const FeatureEvaluator *features = nullptr;/* the evaluator table of its orientation */
};

class SampleStore {
public:
    /* Copies the window of the context (side x side entries) into the store. */
    void add(const WindowContext &context, int32_t side);
    void append(const SampleStore &other);
    WindowContext context(size_t i) const;
    size_t size() const { return samples_.size(); }
    /* Keeps the samples whose flag is set, in order. */
    void keep(const std::vector<char> &flags);
    void clear();

private:
    std::vector<uint32_t> pool_;
    std::vector<Sample> samples_;
};

/* ---- pictures the samples come from ---- */

/* A grey picture made the scan context of a detector: its integrals are built by the detector's
 * own integration with the squares shift and flatness bound of the engine's 320-pixel copy. */
class ScanPicture {
public:
    ScanPicture();
    ~ScanPicture();
    ScanPicture(const ScanPicture &) = delete;
    ScanPicture &operator=(const ScanPicture &) = delete;

    /* Loads the luma plane (width x height bytes); false when memory runs out. */
    bool load(const uint8_t *luma, int width, int height);
    FaceDetector *detector() { return detector_; }
    int width() const { return width_; }
    int height() const { return height_; }
    /* Makes the model base, roll, view and scale current for the next windows. */
    void setWindow(int32_t base, int32_t roll, int32_t view, uint32_t scale);
    /* The context of the window with its top-left pixel at (x, y) (0-based), as the cascade
     * would see it with the current roll and view; false when outside or flat. */
    bool context(int32_t x, int32_t y, WindowContext *out);

private:
    FaceDetector *detector_ = nullptr;
    CropImage crop_{};
    int width_ = 0, height_ = 0;
};

/* The Q10 scale of a window of `size` pixels for a model base. */
inline uint32_t scaleForWindow(int32_t size, int32_t base) { return uint32_t((int64_t(size) * 1024 + base / 2) / base); }
/* The window size the detector uses for a scale. */
inline int32_t windowForScale(uint32_t scale, int32_t base) { return int32_t((uint64_t(scale) * uint32_t(base)) >> 10); }

/* ---- features ---- */

struct Candidate {
    uint8_t kind;      /* 0..8 block pattern, 9..13 rectangle */
    uint8_t anchorX, anchorY;
    uint8_t unitWidth, unitHeight; /* rectangles only */
    uint8_t shift;     /* rectangles only: set from the data */
};

/* Every placement of kinds 9..13 (first group) or 0..8 (second group) inside a base x base
 * window. */
std::vector<Candidate> rectangleCandidates(int32_t base);
std::vector<Candidate> blockCandidates(int32_t base);
/* Chooses each rectangle candidate's shift so that its values spread over the 64 buckets. */
void chooseShifts(std::vector<Candidate> *candidates, const SampleStore &samples, int threads);
/* The bucket (rectangles 0..63) or code (blocks 0..255) of a candidate on one window, through
 * the detector's evaluator. */
int featureBin(const Candidate &candidate, const WindowContext &context);

/* ---- the model being trained ---- */

/* The records of a cascade with their vote tables; partial models for mining. */
class TrainedModel {
public:
    explicit TrainedModel(uint32_t rectangleCount = 0, uint32_t blockCount = 0);
    TrainedModel(const TrainedModel &other);
    TrainedModel &operator=(const TrainedModel &other);

    void addRectangle(const Candidate &c, int32_t threshold, const int16_t votes[64]);
    void addBlock(const Candidate &c, int32_t threshold, const int16_t votes[256]);
    size_t count() const { return rectangles_.size() + blocks_.size(); }
    /* Walks the records in cascade order on one window: visit(index, running sum, threshold). */
    template <class Visit>
    void walkSums(const WindowContext &context, Visit visit) const
    {
        int64_t sum = 0;
        size_t t = 0;
        for (const RectFeatureRecord &r : rectangles_)
            visit(t++, sum += context.features[r.kind](&context, &r), r.threshold);
        for (const BlockFeatureRecord &b : blocks_)
            visit(t++, sum += context.features[b.kind](&context, &b), b.threshold);
    }
    /* The model over the records so far: a window passes when it meets every threshold
     * (offset = last threshold - 1, scale 1). */
    const CascadeModel *partial();
    /* The finished model: offset = last threshold, the given Q16 scale. */
    const CascadeModel *finished(uint32_t scale);
    const std::vector<RectFeatureRecord> &rectangles() const { return rectangles_; }
    const std::vector<BlockFeatureRecord> &blocks() const { return blocks_; }
    const std::vector<std::vector<int16_t>> &rectangleVotes() const { return rectangleVotes_; }
    const std::vector<std::vector<int16_t>> &blockVotes() const { return blockVotes_; }
    int32_t lastThreshold() const;
    uint32_t scale() const { return model_.scale; }
    /* Raises or lowers every threshold by delta (so the last one moves too). */
    void shiftThresholds(int32_t delta);
    /* Raises each threshold before the last to the lowest running sum there of the samples
     * that the model as last finished passes (answer 1 or more) and, when given, `next` passes
     * too, so that a window is turned away as soon as no such sample was as low; those samples
     * still pass and their scores are unchanged. Answers how many thresholds rose. */
    size_t tightenThresholds(const SampleStore &samples, const CascadeModel *next = nullptr);

private:
    void relink();
    std::vector<RectFeatureRecord> rectangles_;
    std::vector<BlockFeatureRecord> blocks_;
    std::vector<std::vector<int16_t>> rectangleVotes_, blockVotes_;
    CascadeGroup groups_[2]{};
    CascadeModel model_{};
};

/* ---- boosting ---- */

struct BoostOptions {
    uint32_t rectangles = 100;   /* weak classifiers of the first group */
    uint32_t blocks = 60;        /* of the second group */
    int32_t base = 22;
    double missBudget = 0.02;    /* share of validation positives the whole cascade may reject */
    double spending = 0.5;       /* after t of n classifiers, budget x (t / n)^spending may be spent */
    size_t negatives = 8000;     /* live negatives kept for training */
    double refillBelow = 0.6;    /* mine when fewer than this share of negatives is left */
    int threads = 4;
    size_t maxRectangles = 6000; /* rectangle placements tried (a seeded share when there are more) */
    uint64_t seed = 1;
    std::function<void(const std::string &)> log;
};

/* Mines negatives that pass the given partial model: appends at most `wanted` windows to
 * `out`; answers the windows examined. */
using NegativeMiner = std::function<uint64_t(const CascadeModel *partial, size_t wanted, SampleStore *out)>;

/* Trains the cascade: positives for training and for setting thresholds, starting negatives,
 * and the miner that refills them. The finished model has scale 65536 (one point per vote). */
TrainedModel trainCascade(const SampleStore &positives, const SampleStore &validation, SampleStore negatives,
                          const NegativeMiner &mine, const BoostOptions &options);

/* The cumulative sum of a model's votes on a window with every threshold ignored. */
int64_t modelSum(const TrainedModel &model, const WindowContext &context);

} // namespace facetrain

#endif
