/*
 * The landmark fitter's model tables while they are trained: every table the four part records
 * and the refinement detectors refer to, as vectors the trainer fills; part records over them,
 * so the fitter's own stages run on the tables as they stand; and the writer of the generated
 * C++ source that the fitter is built with.
 *
 * Divisions: tables; part records; the generated source.
 */
#ifndef TOOLS_LANDMARKTRAIN_MODEL_TABLES_H
#define TOOLS_LANDMARKTRAIN_MODEL_TABLES_H

#include <cstdint>
#include <string>
#include <vector>

#include "facesdk/detect/landmark_models.h"

namespace landmarktrain {

/* ---- tables ---- */

/* A shape model: mean (x values, then y, 1/65536 crop pixel) and modes of 2 x points weights. */
struct ShapeTable {
    std::vector<int32_t> mean;
    std::vector<int32_t> modes;
    int points() const { return int(mean.size() / 2); }
    int modeCount() const { return mean.empty() ? 0 : int(modes.size() / mean.size()); }
    ShapeModel model() const;
};

/* The per-point experts of a stage. */
struct ExpertTable {
    std::vector<uint8_t> kinds, searcherFlags, activeFlags;
    std::vector<int32_t> searchRecords;       /* 72 per searched point, in point order */
    std::vector<int64_t> searchWindows;       /* one per searched point */
    std::vector<int32_t> regressionRecords;   /* 144 per regressed point, in point order */
    explicit ExpertTable(int points = 0);
    PointExperts experts() const;
};

struct SubsetTable {
    std::vector<int32_t> points, features;
    std::vector<int16_t> weights;   /* [feature][point][x, y] */
    int32_t divisor = 16;
};

struct TrainedTables {
    /* part 1 */
    std::vector<int32_t> meanShape, deformationA, deformationB;   /* 124 each, model units */
    std::vector<int32_t> reference[5];                            /* by stage type 1 .. 4 */
    ShapeTable coarse, group1, group2;
    int32_t coarseCentre[2] = {0, 0};
    std::vector<int32_t> coefficientLimits, incrementLimits, appearance, incrementRegressor;
    ExpertTable coarseExperts{kCoarsePoints};
    SubsetTable subsets[4];
    /* part 2 */
    ShapeTable shape2, eyes2, mouth2;
    std::vector<int32_t> shapeLimits2;
    ExpertTable experts2{kLandmarkPoints};
    std::vector<int16_t> trackWeights[2], trackBiases[2], scoreWeights;
    int32_t scoreBias = 0;
    /* part 3 */
    ShapeTable shape3, eyes3, mouth3, nose3;
    std::vector<int32_t> shapeLimits3;
    ExpertTable experts3{kLandmarkPoints};
    /* part 4 */
    ShapeTable eyes4, mouth4;
    ExpertTable experts4{kLandmarkPoints};
    /* refinement detectors by crop size 128, 192, 320: the eye list, then the mouth list */
    std::vector<PointDetector> detectors[3];

    /* Every table at its size, neutral: zero regressors and detectors that never move a
     * point. The shapes are left empty for the trainer. */
    TrainedTables();
};

/* ---- part records ---- */

/* Part records and refinement tables over a trainer's tables (valid while they live and do not
 * grow). */
struct TrainedParts {
    ModelPart1 part1{};
    ModelPart2 part2{};
    ModelPart3 part3{};
    ModelPart4 part4{};
    RefinementTables refinement[3]{};
    LandmarkModels models(int level) const;
};

void fillParts(const TrainedTables &tables, TrainedParts *parts);

/* ---- the generated source ---- */

/* Writes the tables as the C++ source facesdk/detect/landmark_tables.cpp, headed by the command
 * that made them. false with a message when the file cannot be written. */
bool writeTablesSource(const TrainedTables &tables, const std::string &path, const std::string &command,
                       std::string *error);

/* The tables the quick mode trains (the mean shape, the crops' reference shapes, the level-4
 * shape models, patch regressions and detectors) as a text listing. */
bool writeQuickTables(const TrainedTables &tables, const std::string &path, const std::string &command,
                      std::string *error);

}  // namespace landmarktrain

#endif
