// The model objects of the face-mesh pipeline: two face detectors, a 478-point landmark model and
// an optional coefficient model. A host supplies them; the pipeline reaches them only through the
// operations below and never creates, keeps or destroys one.
//
// Divisions: the records a model answers, the result areas a caller lends to a run, the model
// interface itself.
#pragma once

#include <cstdint>

// ---- Records a model answers --------------------------------------------------------------------

// What describe answers.
struct ModelInfo {
    int32_t kind;        // must be kModelKindImage
    int32_t inputSide;   // N: the model takes square N x N pictures (pixels)
    int32_t reserved2;   // not read
    int32_t reserved3;   // not read
    int32_t ready;       // must be non-zero
    int32_t outputTag;   // kDetectorOutputTag for detectors, anything else for the other models
};

// What run answers (24 bytes).
struct ModelRunResult {
    int32_t reserved[4];  // not read
    int32_t succeeded;    // non-zero on success (byte 16)
    int32_t reserved5;    // not read
};
static_assert(sizeof(ModelRunResult) == 24, "ModelRunResult is 24 bytes");

constexpr int32_t kModelKindImage = 5;
constexpr int32_t kDetectorOutputTag = -2;

// ---- Result areas -------------------------------------------------------------------------------

constexpr int kResultArea1Bytes = 216;     // not read by the pipeline
constexpr int kResultArea2Bytes = 55296;   // detections, landmarks or coefficients
constexpr int kResultArea3Bytes = 1032;    // not read by the pipeline

// The three areas a caller provides for the duration of one run; area 2 is aligned for int32 and
// float32 records.
struct ModelResultAreas {
    alignas(8) uint8_t area1[kResultArea1Bytes];
    alignas(8) uint8_t area2[kResultArea2Bytes];
    alignas(8) uint8_t area3[kResultArea3Bytes];
};

// ---- The model interface ------------------------------------------------------------------------

class FaceModel {
public:
    virtual ~FaceModel() = default;

    // Runs the model on data: a width x height picture with rowBytes between rows (for the
    // coefficient model: width point pairs), the two reserved words always 0, fourChannel 1 when a
    // pixel has 4 bytes. Writes its output into the areas.
    virtual ModelRunResult run(const void* data, int32_t width, int32_t height, int32_t rowBytes,
                               int32_t reservedA, int32_t reservedB, int32_t fourChannel,
                               uint8_t* area1, uint8_t* area2, uint8_t* area3) = 0;

    // Answers the model's description; the flag selects which one (the pipeline asks with true
    // for its checks and with false for the landmark input side).
    virtual ModelInfo describe(bool flag) = 0;
};
