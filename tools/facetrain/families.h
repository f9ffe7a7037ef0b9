/*
 * The models the detector asks for and how each is trained: which windows are its positives
 * (made faces at the model's own roll and view, cut the way the scan, the eye search or the
 * face score cut them) and where its negatives are mined.
 *
 * Divisions: model plans; training a plan; the trained set.
 */
#ifndef TOOLS_FACETRAIN_FAMILIES_H
#define TOOLS_FACETRAIN_FAMILIES_H

#include "facesdk/detect/models.h"
#include "tools/facedata/face_maker.h"
#include "tools/facetrain/boost.h"

#include <functional>
#include <string>
#include <vector>

namespace facetrain {

/* ---- model plans ---- */

enum class WindowKind {
    Scan,        /* the still pass's windows: the face's box at the coarse grid's tolerance */
    Eye,         /* the eye search's windows in the upright crop of the face's upper part */
    FaceScore,   /* the face score's windows in the 22 x 22 crop around the face */
};

struct ModelPlan {
    DetectorModelId first;   /* the model (variant 0 for the detection families) */
    bool twoVariants;        /* variant 1 is trained on what variant 0 lets through */
    WindowKind kind;
    int32_t base;            /* 22 or 14 */
    int32_t roll;            /* the roll at which the model's features are laid out (identity) */
    int32_t view;            /* 0, 45 or 90 */
    float yawLow, yawHigh;   /* made faces turn by +-[low, high] degrees */
    int32_t windowLow, windowHigh; /* scan windows, pixels */
    const char *name;
    /* Variant 1 of a detection family: the score of the median validation positive. The scan
     * adds a position's scores over its neighbours at two sizes and keeps the position from 350
     * (more at the rolls off the upright), so a lower target asks for more windows or stronger
     * ones before a face is reported. */
    int32_t voteTarget = 42;
};

/* Every model of the detector, in the order of DetectorModelId. */
const std::vector<ModelPlan> &modelPlans();

/* ---- training a plan ---- */

struct TrainOptions {
    uint64_t seed = 1;
    size_t positives = 8000;   /* training positives per model */
    size_t validation = 2000;  /* positives that set the thresholds */
    size_t negatives = 8000;
    double missBudget = 0.06;
    double spending = 0.3;     /* the share of the miss budget spent after t of n classifiers: (t / n)^spending */
    int threads = 4;
    double rectangleShare = 1.0; /* share of the rectangle candidates tried (1 = all) */
    std::function<void(const std::string &)> log;
};

/* The trained records of one model with its offset and score scale. */
struct ModelResult {
    DetectorModelId id;
    TrainedModel model;
};

/* Trains the plan's model(s) from the bank's made faces and negatives. */
std::vector<ModelResult> trainPlan(const ModelPlan &plan, const facedata::FaceBank &bank, const TrainOptions &options);

/* ---- the trained set ---- */

/* Writes a C++ source with every model's tables, its generator command line and seed. */
bool writeModelSource(const std::string &path, const std::vector<ModelResult> &models, const std::string &command,
                      std::string *error);

} // namespace facetrain

#endif
