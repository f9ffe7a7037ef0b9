// The per-feature statuses of a beautify run: an object with a table of three operations and
// one status per feature bit.
//
// Every status starts at 96 (stage not run) and takes the answer of its stage when the driver
// calls it. The run's result is derived from these statuses (see beautify_run.h), and a caller
// of the run may take the object to read them.
#pragma once

#include <cstdint>

#include "facesdk/base/allocator.h"
#include "facesdk/engine/params.h"

struct FeatureStatus;

struct FeatureStatusOps {
    // 0: frees the object through its allocator.
    void (*release)(FeatureStatus *status);
    // 1: the status of the feature whose bit is the highest bit set in `bit`; -4 when that bit is
    // above 0x10000 or no bit is set.
    int32_t (*ofFeature)(const FeatureStatus *status, uint32_t bit);
    // 2: the mask of the features whose status equals `value`; -100 selects every negative
    // status and 100 every positive one.
    uint32_t (*maskEqual)(const FeatureStatus *status, int32_t value);
};

struct FeatureStatus {
    const FeatureStatusOps *ops;        // table of operations; always the first entry
    EngineAllocator *allocator;         // the object's own block comes from here
    int32_t statuses[kFeatureCount];    // status of bit 1 << k at index k
};

// Selectors of statusMaskEqual beyond plain values.
constexpr int32_t kStatusAnyNegative = -100;
constexpr int32_t kStatusAnyPositive = 100;

// A new status object with every status 96. 0; -4 for null arguments; -3.
int featureStatusCreate(EngineAllocator *allocator, FeatureStatus **out);

void statusRelease(FeatureStatus *status);
int32_t statusOfFeature(const FeatureStatus *status, uint32_t bit);
uint32_t statusMaskEqual(const FeatureStatus *status, int32_t value);

// Records a stage's answer as the status of its feature bit (a single bit; others ignored).
void statusSet(FeatureStatus *status, uint32_t bit, int32_t value);
