// The master amount: one slider position that makes a whole correction weaker or stronger, and
// the operation that turns it into the block the platform renders.
#pragma once

#include <cstdint>

#include "editing/model/vxl_params.h"

struct UberParams {
    VXLParams params;     // the correction as the preset or the user made it; never changed here
    std::int32_t uberValue; // slider position 0..200, 100 = unchanged
    std::int32_t uberBase;  // offset -100..100 from 100 at which params applies unchanged
};

// The value a scalable parameter moves towards at full strength, by lookup name; 100 for any name
// without a target of its own.
float uberTarget(const char* name);

// Writes into *result the block to render: params with the scalable parameters moved towards their
// targets (amount above the base) or towards zero (amount below it). With the photo-editor identity
// the face and eye strengths are left as they are.
void applyUberValue(const UberParams& source, VXLParams* result);
