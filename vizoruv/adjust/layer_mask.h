// Where a correction layer applies: the per-layer mask shape and the one transform that places the
// rendered masks of all layers in the image. The editing model's parameter stack keeps the same
// records (and stores them in presets under the "mask.*" keys).
#pragma once

#include <cstddef>
#include <cstdint>

// Shapes of LayerMask::type.
enum LayerMaskType : std::int32_t {
    kMaskNone = 0,          // not rendered (the first layer is rendered all the same)
    kMaskWholeImage = 1,
    kMaskEllipse = 2,       // the blend reverses the meaning of invert for this shape
    kMaskEdgeFromTop = 3,
    kMaskEdgeFromBottom = 4,
    kMaskRoundedRect = 5,
};

struct LayerMask {
    std::int32_t type;  // LayerMaskType
    float centerX;      // centre as a fraction of the image width
    float centerY;      // centre as a fraction of the image height
    float width;        // fraction of the image
    float height;       // height for ellipse and rounded rectangle; edge position for the edges
    float radius;       // corner radius of the rounded rectangle
    float feather;
    float angle;        // degrees
    float transparency; // density of the drawn shape
    std::uint8_t invert;
};
static_assert(sizeof(LayerMask) == 40, "LayerMask: type, eight floats and a byte");
static_assert(offsetof(LayerMask, invert) == 36);

struct MaskTransform {
    std::uint8_t flipX;  // mirror the mask plane horizontally
    std::uint8_t flipY;  // mirror it vertically
    float angle;         // degrees; the plane turns by whole quarter turns
    float centerX;       // centre of the placed plane as a fraction of the image
    float centerY;
    float scaleX;        // size of the placed plane as a fraction of the image width
    float scaleY;        // ... and height
    std::uint32_t spare; // copied along, never compared
};
static_assert(sizeof(MaskTransform) == 28, "MaskTransform: two flags, five floats, one spare word");
static_assert(offsetof(MaskTransform, angle) == 4 && offsetof(MaskTransform, spare) == 24);

// Default mask of a platform layer: type 0, centre 0.5/0.5, everything else 0.
LayerMask defaultLayerMask();

// Default transform: no flips, angle 0, centre 0.5/0.5, scale 1/1, spare 0.
MaskTransform defaultMaskTransform();

// True when both masks have type 0, whatever else they hold; otherwise type, the eight floats
// (exactly; NaN never matches) and invert must match.
bool layerMaskEquals(const LayerMask& a, const LayerMask& b);

// Both flips and the five floats must match exactly; the spare word is not compared.
bool maskTransformEquals(const MaskTransform& a, const MaskTransform& b);

// The quarter turns (0..3) of a transform angle: the angle brought into 0..360, divided by 90.
int maskQuarterTurns(float angle);
