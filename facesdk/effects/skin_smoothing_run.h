// The run state of the skin smoothing stage, shared by its files: the skin region map
// (skin_smoothing_regions.h), the weights (skin_smoothing_weights.h), the row kernels
// (skin_smoothing_kernels.h) and the stage itself (skin_smoothing.cpp).
//
// Sizes: the run image W x H, the work size Wa x Ha (face list coordinates), the small working
// copy Ws x Hs and the smoothing size Wp x Hp. Factors between sizes are Q10 (1/1024).
#pragma once

#include <algorithm>
#include <cstdint>

#include "facesdk/effects/stage_helpers.h"
#include "facesdk/engine/face_measurements.h"
#include "facesdk/engine/image.h"
#include "facesdk/engine/inner_engine.h"

constexpr uint8_t kMaskSkin = 254;      // skin in the skin mask
constexpr uint8_t kMaskWeakSkin = 1;    // generic-only skin, or skin the final erosion removed

struct SmoothingRun {
    InnerEngine *inner;
    EngineAllocator *allocator;
    EngineImage *image;          // the image the stage writes
    const YuvAddressing *layout; // of the image
    int32_t W, H;                // image
    int32_t Wa, Ha;              // work size
    int32_t Ws, Hs;              // small working copy
    int32_t Wp, Hp;              // smoothing size
    int32_t rx, ry;              // Q10 image pixels per smoothing pixel
    int32_t level, mode, quality, T;
    int32_t sigma;
    EngineImage skinMask;        // Ws x Hs grey
    int32_t largestFaceArea;
    EngineRect region;           // smoothing coordinates of the region being processed
    uint8_t lift1[256], lift2[256];
};

// The face-list count the progress steps are shared by (at least 1).
inline int32_t listCount(const SmoothingRun &run)
{
    return std::max<int32_t>(1, int32_t(run.inner->faceListCount));
}

inline int32_t roundDownEven(int32_t v) { return v & ~1; }

inline uint8_t *maskAt(const EngineImage &mask, int32_t x, int32_t y) { return greyRow(mask, y) + x; }

// Y of pixel x and the chroma its horizontal pair shares (the pair's first pixel's chroma for
// 4:4:4), on one row of an image.
struct PairReader {
    YuvRow row;
    uint8_t luma(int32_t x) const { return row.luma[x * row.lumaStep]; }
    void chroma(int32_t x, int32_t *u, int32_t *v) const
    {
        const int32_t s = std::min(x >> row.chromaShiftX, row.lastSample) * row.chromaStep;
        *u = row.cb[s];
        *v = row.cr[s];
    }
};
