// Mask overlays: two layers' masks shown as tinted, half-transparent 4-byte images (the first in
// channel 2, the second in channel 0), drawn at the size the caller's preview asks for.
//
// The masks are drawn by the mask rasteriser of the portrait-light code, which the caller passes;
// the platform wraps the two images in its own buffers and hands them out.
#pragma once

#include <cstdint>
#include <vector>

#include "vizoruv/adjust/correction_stack.h"
#include "vizoruv/adjust/layer_mask.h"

// Draws `mask` at aspect `aspect` into an N x N plane of 3-byte pixels (0 inside the shape, 255
// outside) and reports through `scale` how many times smaller than its record the shape was drawn.
using MaskRasterizer = std::vector<std::uint8_t> (*)(const LayerMask& mask, float aspect, float* scale, int side);

// One overlay: width x height pixels of 4 bytes, row bytes 4 x width, the fourth byte alpha.
struct MaskOverlay {
    std::vector<std::uint8_t> pixels;
    int width = 0;
    int height = 0;
};

constexpr int kOverlayMinSide = 64;
constexpr int kOverlayMaxSide = 1024;

// Renders the mask of layer b into overlay A as (0, 0, v, v) and that of layer c into overlay B as
// (v, 0, 0, v), v being half the mask value (inverted for an inverted mask; the other way round
// for an ellipse). The side is limited to 64..1024; the aspect is the transform's scaleX / scaleY
// times `aspect`, inverted when the transform turns by an odd quarter. Answers 0, or -1 (nothing
// rendered) unless b and c are different layers of the stack.
int renderMaskOverlays(MaskOverlay* overlayA, MaskOverlay* overlayB, const CorrectionStack& stack, int layerB,
                       int layerC, float aspect, int side, int sampling, MaskRasterizer rasterize);
