// Mask rasterising: a LayerMask record (ellipse, edge from the top or bottom, rounded rectangle)
// drawn into a square raster of N x N three-byte pixels (the three bytes of a pixel are equal),
// 0 where the shape is fully inside, 255 fully outside, ramps between. The placement of a raster
// in an image (centre, angle, flips) is the mask planes' business (vizoruv/adjust/mask_planes.h).
//
// Shapes are drawn in a stretched square plane and resampled once, so only circles are computed.
#pragma once

#include <cstdint>
#include <vector>

#include "vizoruv/adjust/layer_mask.h"

// Largest raster side drawn; larger requests answer an empty raster.
constexpr int kMaxRasterSide = 8192;

// 255 when d >= outer, 0 when d <= inner, else trunc(255 - (outer - d) x 255 / (outer - inner)).
std::uint8_t radialRamp(double d, double outer, double inner);

// Draws the mask for an image of the given aspect (width / height) into a side x side x 3 raster.
// The shape is drawn *scale times smaller than the record says (scale >= 1) so that it fits with
// room to spare; the placement enlarges it again. Types other than 2 to 5 leave the raster at 255.
// Answers an empty raster (and scale 1) for a side below 1 or above kMaxRasterSide, or an aspect
// that is not a positive finite number. The signature is the pipeline's MaskRasterizer.
std::vector<std::uint8_t> rasterizeMask(const LayerMask& mask, float aspect, float* scale, int side);

// Resamples a one-byte plane of planeWidth x planeHeight (rows without gaps) to the side x side x 3
// raster (bilinear, widened to an area filter where the plane shrinks). Nothing is written when a
// size is not positive.
void resizeMaskPlane(std::uint8_t* raster, const std::uint8_t* plane, int planeWidth, int planeHeight, int side);
