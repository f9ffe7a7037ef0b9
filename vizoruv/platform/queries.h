// Helpers of the platform's queries that stand on their own: the histogram of a view and the 1-D
// convolution that smooths it.
#pragma once

#include <cstdint>
#include <vector>

#include "vizoruv/platform/image_view.h"

struct MaskTransform;

enum ConvolveEdge { kConvolveClamp, kConvolveValid };

// Convolves n inputs with a kernel normalised to sum 1. Clamp: n outputs, edge values repeat.
// Valid: n - k + 1 outputs, no edge handling. An empty input or kernel, or a zero kernel sum, gives
// no output.
std::vector<double> convolve1D(const std::vector<double>& input, const std::vector<double>& kernel,
                               ConvolveEdge edge);

// The 1024-byte histogram table (red, green, blue, luminance) of an 8-bit view, over the region
// (null: the whole view), scaled to 254, smoothed when smoothing is above 0. False for a view
// without pixels.
bool histogramOfView(const ImageView& view, const MaskTransform* region, int smoothing, uint8_t* table1024);
