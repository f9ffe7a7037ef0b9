// The record in which a caller hands a layered correction to the imaging platform. The caller owns
// every array it points to; the platform only reads them and keeps its own copies (AdjustmentSet).
#pragma once

#include <cstdint>

#include "editing/model/records/vxl_params.h"
#include "vizoruv/adjust/layer_mask.h"

struct VXL_FACE; // the face engine's 88-byte face record

struct CorrectionStack {
    std::int32_t count;             // blocks, masks and layers (1 or more)
    const VXLParams* params;        // count consecutive blocks
    const LayerMask* masks;         // count consecutive masks
    const MaskTransform* transform; // one transform for the whole stack
    const VXL_FACE* faces;          // the caller's face list, or null
    std::int32_t faceCount;         // entries in faces
};
