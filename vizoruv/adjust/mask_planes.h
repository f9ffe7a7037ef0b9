// Mask planes: the geometry that turns a rendered layer mask into a plane of the image's size under
// the set's MaskTransform, and the small geometry routines of the histogram operation.
//
// A rendered or transformed mask is a plane of 3-byte pixels of which only the first byte counts;
// a placed mask has one sample per pixel (8-bit: 0 no effect, 255 full effect; or 16-bit). Planes
// are stored row after row without gaps.
//
// Drawing maps each target pixel centre back into the source plane through the inverse of the
// drawing transform; pixels whose centre falls outside the drawn rectangle keep the fill.
#pragma once

#include <cstdint>
#include <vector>

#include "vizoruv/adjust/layer_mask.h"

// Image sampling selectors of the drawing steps.
enum MaskSampling : int {
    kSampleNearest = 0,  // any value below 1
    kSampleBilinear = 1,
    kSampleBicubic = 2,  // any value above 1; what the pipeline passes
};

struct MaskPlane {
    std::vector<std::uint8_t> pixels;
    int width = 0;
    int height = 0;
    int rowBytes = 0;
};

// ---- Quarter turns and regions -------------------------------------------------------------

// The angle brought into 0..360 by whole turns, divided by 90 and truncated: 360 gives 4, which
// every caller treats like 0. Non-finite angles give 0.
int quarterOf(float angle);
bool isOddQuarter(float angle);

// A 2 x 2 matrix (identity when made) with bounds: maps a point about an origin, then clamps x to
// 0..maxX and y to 0..maxY.
struct PointMap {
    double m00 = 1, m01 = 0, m10 = 0, m11 = 1;
    double maxX = 0, maxY = 0;

    void map(double px, double py, double ox, double oy, double* x, double* y) const;
};

struct PixelRect {
    std::int32_t x, y, width, height;
};

// The pixel rectangle of a region laid out like a MaskTransform (centre and size as fractions of
// the image; flips and angle unused), clamped to the image.
PixelRect regionToPixelRect(const MaskTransform& region, int imageWidth, int imageHeight);

// Nearest-neighbour resampling of a one-byte plane; equal sizes copy.
void resampleNearest(std::uint8_t* target, const std::uint8_t* source, int targetWidth, int targetHeight,
                     int sourceWidth, int sourceHeight);

// ---- Transform and placement ---------------------------------------------------------------

// Turns the square N x N plane drawn for `mask` (shape drawn `scale` times smaller, image aspect
// `aspect`) into a 3-byte plane of (trunc(N x aspect), N) or (N, trunc(N / aspect)): the shape
// rotated by the mask's angle and enlarged by scale about the centre, moved to the mask's centre;
// then mirrored and turned by the transform's flips and quarter turns. An empty plane when the
// input is missing or the sizes are not positive.
MaskPlane transformMaskPlane(const LayerMask& mask, const std::uint8_t* plane, int side, float aspect, float scale,
                             const MaskTransform& transform, int sampling);

// Places a transformed 3-byte plane on an image of imageWidth x imageHeight under the transform
// (centre and size as fractions of the image; a flip mirrors the centre): a one-sample plane,
// 0 outside the placed rectangle; nearest sampling for mask type 1, bicubic otherwise. With
// sixteenBit the samples are 16-bit (row bytes 2 x width).
MaskPlane placeMaskPlane(int imageWidth, int imageHeight, const MaskTransform& transform, const LayerMask& mask,
                         const std::uint8_t* plane, int planeWidth, int planeHeight, bool sixteenBit);
