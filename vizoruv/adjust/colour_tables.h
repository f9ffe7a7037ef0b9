// Colour-model tables: the dynamic correction that the engine's analysis prepares as a global
// colour model, a regional model on a 16 x 16 grid over the image and a weight grid saying how far
// each region's model is trusted over the global one.
//
// Table entries are int32 in units of 1/65025 (1/(255 x 255)). A curve set is 9 knots x 3 channels
// x (gain, offset): entry (knot k, channel c, value v) at k x 6 + c x 2 + v, channels red, green,
// blue. The regional set of grid row r and column s starts at (r x 16 + s) x 54 (row 0 at the top,
// column 0 at the left); the weight of region (r, s) is entry r x 16 + s, or per channel
// r x 48 + s x 3 + c.
//
// Images are interleaved 8- or 16-bit pixels of 3 or 4 samples (the fourth is never read or
// written); with bgrOrder sample 0 is looked up as blue and sample 2 as red.
#pragma once

#include <cstdint>

constexpr int kModelKnots = 9;
constexpr int kCurveSetEntries = kModelKnots * 3 * 2;                    // 54
constexpr int kModelGrid = 16;
constexpr int kRegionalModelEntries = kModelGrid * kModelGrid * kCurveSetEntries; // 13,824
constexpr int kWeightGridEntries = kModelGrid * kModelGrid;                // 256; 768 per channel
constexpr std::int32_t kModelOne = 65025;                                  // 1.0 in table units

// The three tables of an image's analysis; global null means the analysis made no model. The
// regional model and weight grid are present whenever the global model is.
struct ColourModelTables {
    const std::int32_t* global;   // kCurveSetEntries
    const std::int32_t* regional; // kRegionalModelEntries
    const std::int32_t* weights;  // kWeightGridEntries (single form)
};

// The dynamic correction in place: both models per pixel, mixed by the weight grid, faded against
// the pixel by amount (iDynamic, percent) and with their colour shift reduced by the white-balance
// amount (iDynamicWB, percent: 0 keeps only the brightness change). Answers false and changes
// nothing without a global model (or pixels); true otherwise.
bool applyColourModel(std::uint8_t* pixels, int rowBytes, int width, int height, bool is16, bool is4ch,
                      const ColourModelTables& tables, int amount, bool bgrOrder, int whiteBalanceAmount);

// One int per sample (width x height x 3, in sample order) from the global curve set; not clamped.
void evalGlobalModel(std::int32_t* output, const std::uint8_t* pixels, int width, int height, bool is16, bool bgrOrder,
                     bool is4ch, int rowBytes, const std::int32_t* global);

// The same from the regional model, interpolated over the grid at each pixel's position.
void evalRegionalModel(std::int32_t* output, const std::uint8_t* pixels, int width, int height, bool is16,
                       bool bgrOrder, bool is4ch, int rowBytes, const std::int32_t* regional);

// Writes the final pixels from the two model outputs, the weight grid (singleGrid: one weight per
// region, else one per region and channel), the amount and the white-balance amount.
void blendModels(std::uint8_t* pixels, const std::int32_t* globalOutput, const std::int32_t* regionalOutput, int width,
                 int height, bool is16, bool bgrOrder, bool is4ch, int rowBytes, const std::int32_t* weights,
                 bool singleGrid, int amount, int whiteBalanceAmount);
