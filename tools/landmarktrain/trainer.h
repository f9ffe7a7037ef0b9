/*
 * The landmark trainer: trains every table of the fitter in the order the fitter runs its
 * stages, each stage on what the stages before it leave on the training faces, all through the
 * fitter's own crops, features and fixed-point stages.
 *
 * Divisions: options; stage inputs; the trainer.
 */
#ifndef TOOLS_LANDMARKTRAIN_TRAINER_H
#define TOOLS_LANDMARKTRAIN_TRAINER_H

#include <functional>
#include <string>
#include <vector>

#include "tools/landmarktrain/model_tables.h"
#include "tools/landmarktrain/training_set.h"

namespace landmarktrain {

/* ---- options ---- */

struct TrainOptions {
    uint64_t seed = 1;
    int threads = 4;            /* at most 4 */
    int samples = 2400;         /* training faces */
    int validation = 300;       /* faces of another seed, for the figures printed along the way */
    int boostRounds = kWeakLearners;
    bool quick = false;         /* a small set and a few stages: the CI reproduction */
    std::function<void(const std::string &)> log;
};

/* ---- stage inputs ---- */

/* One face at the input of a stage: the crop the stage gets, the points it starts from and the
 * true points, both in crop coordinates (1/1024 crop pixel). */
struct StageInput {
    int size = 0;
    std::vector<uint8_t> crop;
    std::array<int32_t, 2 * kFitterPoints> points{};
    std::array<int32_t, 2 * kFitterPoints> truth{};
    bool eyes = false, mouth = false;
    int32_t hintA = 0, hintB = 0;
};

/* Where in the fit a stage input is taken. */
enum class StagePoint { CoarsePass0, CoarsePass1, CoarsePass2, Level2, Level3, Level4 };

/* ---- the trainer ---- */

class Trainer {
public:
    Trainer(const TrainingSet *train, const TrainingSet *validate, TrainOptions options);

    /* Everything, in the fitter's order. */
    void trainAll(TrainedTables *tables);

    /* The steps (public for the quick mode and the tests). */
    void trainShapes(TrainedTables *tables);
    void trainCoarse(TrainedTables *tables);
    void trainLevel(TrainedTables *tables, int level);
    void trainTracking(TrainedTables *tables);

    /* Mean point error over the inter-ocular distance on the validation faces, all 62 points
     * and the eye centres (and each point's when asked), fitting up to `level` with the tables as
     * they stand. */
    void validate(const TrainedTables &tables, int level, double *allPoints, double *eyeCentres,
                  std::vector<double> *pointErrors = nullptr) const;

private:
    std::vector<StageInput> stageInputs(const TrainedTables &tables, StagePoint where,
                                        const std::vector<size_t> &indices) const;
    const Sample &sample(size_t index) const { return samples_[index]; }
    void log(const std::string &line) const;

    const TrainingSet *train_;
    const TrainingSet *validate_;
    TrainOptions options_;
    std::vector<Sample> samples_;
    std::vector<Sample> validation_;
};

/* Runs fn(i) for i = 0 .. count - 1 on up to `threads` threads. */
void parallelFor(size_t count, int threads, const std::function<void(size_t)> &fn);

}  // namespace landmarktrain

#endif
