// Tone curves: 256-entry byte tables from a curve type, an amount and a parameter; the finishing
// curve of a parameter block; widening to 16-bit samples; application to interleaved images and to
// a LUT's grid.
//
// Divided into: the curve records; making curves; composing the finishing curve; applying curves.
//
// Most types are drawn as a cubic Bezier curve on a 256 x 256 raster and read back from the lit
// pixels, so their exact entries are those of the rasteriser here (1-pixel aliased lines; the
// Bezier flattened into short line segments).
#pragma once

#include <cstdint>
#include <vector>

#include "editing/model/records/vxl_params.h"
#include "vizoruv/adjust/lut_readers.h"
#include "vizoruv/platform/image_view.h"

// ---- Curve records -------------------------------------------------------------------------

// Entry x is the output for the 8-bit input x.
struct ToneCurve {
    std::uint8_t entry[256];

    bool operator==(const ToneCurve& other) const;
    bool operator!=(const ToneCurve& other) const { return !(*this == other); }
};

// 65536 entries for 16-bit samples, made from a ToneCurve.
using WideToneCurve = std::vector<std::uint16_t>;

enum ToneCurveType : int {
    kCurveExposure = 1,         // power curve
    kCurveContrast = 2,
    kCurveBlacks = 3,
    kCurveShadows = 4,
    kCurveHighlights = 5,
    kCurveWhites = 6,
    kCurveBezier = 7,           // Bezier from amount / 10000, no identity blend
    kCurvePositiveContrast = 8, // fixed deviation table, amounts 1 and above
};

// ---- Making curves -------------------------------------------------------------------------

ToneCurve identityCurve();
// The curve of a type (ToneCurveType; other types draw a plain Bezier) with a signed amount and a
// parameter (clamped to 0..100). Amount 0 gives the identity.
ToneCurve makeToneCurve(int type, int amount, int param);
// Each segment i runs from curve[i] x 256 towards curve[i + 1] x 256; the last segment continues
// the slope of the one before (so the identity's top sample reaches 65535 and a flat top stays flat).
WideToneCurve widenCurve(const ToneCurve& curve);

// ---- The finishing curve -------------------------------------------------------------------

// The identity when bGroupFinishing is clear; else exposure, contrast, shadows, blacks, whites,
// highlights and positive contrast folded in that order, each while its bFinish switch is set.
ToneCurve composeFinishingCurve(const VXLParams& block);

// ---- Applying curves -----------------------------------------------------------------------

// Replaces sample c (c = 0, 1, 2) of every pixel by curve c: directly for 8-bit samples, through
// the widened curve for 16-bit ones. 4-channel pixels keep their fourth sample.
void applyCurvesToPixels(std::uint8_t* pixels, int rowBytes, int width, int height, bool is16, bool is4ch,
                         const ToneCurve& curve0, const ToneCurve& curve1, const ToneCurve& curve2);
void applyCurves(const ImageView& image, const ToneCurve& curve0, const ToneCurve& curve1, const ToneCurve& curve2);

// The pre-processing exposure on all three channels: the exposure curve with iPreprocessEV as its
// amount (0 leaves the image alone, positive values brighten, negative ones darken).
void applyExposureCurve(std::uint8_t* pixels, int rowBytes, int width, int height, bool is16, bool bgrOrder,
                        bool is4ch, int preprocessEV);

// The finishing curve of a block holding just these seven values (each switch set exactly when
// its value is not 0) on all three channels; nothing happens when all seven are 0. Answers true.
bool applyFinishingCurve(std::uint8_t* pixels, int rowBytes, int width, int height, bool is16, bool bgrOrder,
                         bool is4ch, int exposure, int contrast, int shadows, int blacks, int whites, int highlights,
                         int positiveContrast);

// Bends an output LUT: the contrast curve (type 2, param 0; none for contrast 0) and the saturation
// change through applyCurveAndSaturation. Nothing happens when both are 0.
void applyCurvesAndSaturationToLut(Lut3D* table, int contrast, int saturation);
