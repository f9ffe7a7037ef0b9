// Colour-model tables: table conversion, grid positions, curve evaluation, the two model passes and
// the blend.
#include "vizoruv/adjust/colour_tables.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr float kModelUnit = 1.0f / 65025.0f;
constexpr float kKnotScale = 0.031372543f; // just under 8/255: an 8-bit 255 stays below knot 8

std::vector<float> toFloats(const std::int32_t* table, int count)
{
    std::vector<float> values(count);
    for (int i = 0; i < count; ++i)
        values[i] = static_cast<float>(table[i]) * kModelUnit;
    return values;
}

// ---- Positions -----------------------------------------------------------------------------

// Cell (0..14) and fraction of pixel row or column i of `size` on the 16-point grid. The factor just
// below 1 keeps the last pixel inside cell 14; a single row or column sits at the grid's start.
struct GridPosition {
    int cell;
    float fraction;
};

GridPosition gridPosition(int i, int size)
{
    if (size < 2)
        return {0, 0.0f};
    const float position = 15.0f / static_cast<float>(size - 1) * 0.99999988f * static_cast<float>(i);
    const int cell = std::min(static_cast<int>(position), kModelGrid - 2);
    return {cell, position - static_cast<float>(cell)};
}

struct KnotPosition {
    int knot;
    float fraction;
};

KnotPosition knotPosition(int sample, bool is16)
{
    const int value = is16 ? sample >> 8 : sample;
    const float x = static_cast<float>(value) * kKnotScale;
    const int knot = std::min(static_cast<int>(x), kModelKnots - 2);
    return {knot, x - static_cast<float>(knot)};
}

// ---- Samples -------------------------------------------------------------------------------

struct PixelLayout {
    const std::uint8_t* pixels;
    int rowBytes;
    bool is16;
    int step;       // samples per pixel
    int channel[3]; // logical channel (0 red, 1 green, 2 blue) of samples 0, 1, 2
};

PixelLayout layoutOf(const std::uint8_t* pixels, int rowBytes, bool is16, bool bgrOrder, bool is4ch)
{
    PixelLayout layout{pixels, rowBytes, is16, is4ch ? 4 : 3, {0, 1, 2}};
    if (bgrOrder) {
        layout.channel[0] = 2;
        layout.channel[2] = 0;
    }
    return layout;
}

int sampleAt(const PixelLayout& layout, int x, int y, int s)
{
    const std::uint8_t* row = layout.pixels + static_cast<std::ptrdiff_t>(y) * layout.rowBytes;
    if (layout.is16)
        return reinterpret_cast<const std::uint16_t*>(row)[x * layout.step + s];
    return row[x * layout.step + s];
}

// trunc(sample x gain + offset x M), limited to the int range.
std::int32_t curveResult(int sample, float gain, float offset, bool is16)
{
    const float full = is16 ? 65535.0f : 255.0f;
    const float value = static_cast<float>(sample) * gain + offset * full;
    return static_cast<std::int32_t>(std::clamp(value, -2147483520.0f, 2147483520.0f));
}

} // namespace

// ---- Model passes --------------------------------------------------------------------------

void evalGlobalModel(std::int32_t* output, const std::uint8_t* pixels, int width, int height, bool is16, bool bgrOrder,
                     bool is4ch, int rowBytes, const std::int32_t* global)
{
    const std::vector<float> table = toFloats(global, kCurveSetEntries);
    const PixelLayout layout = layoutOf(pixels, rowBytes, is16, bgrOrder, is4ch);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int s = 0; s < 3; ++s) {
                const int sample = sampleAt(layout, x, y, s);
                const int c = layout.channel[s];
                const KnotPosition k = knotPosition(sample, is16);
                const float* low = &table[k.knot * 6 + c * 2];
                const float* high = low + 6;
                const float gain = (1.0f - k.fraction) * low[0] + k.fraction * high[0];
                const float offset = (1.0f - k.fraction) * low[1] + k.fraction * high[1];
                output[(static_cast<std::size_t>(y) * width + x) * 3 + s] = curveResult(sample, gain, offset, is16);
            }
}

void evalRegionalModel(std::int32_t* output, const std::uint8_t* pixels, int width, int height, bool is16,
                       bool bgrOrder, bool is4ch, int rowBytes, const std::int32_t* regional)
{
    const std::vector<float> table = toFloats(regional, kRegionalModelEntries);
    const PixelLayout layout = layoutOf(pixels, rowBytes, is16, bgrOrder, is4ch);
    for (int y = 0; y < height; ++y) {
        const GridPosition row = gridPosition(y, height);
        const float rowWeights[2] = {1.0f - row.fraction, row.fraction};
        for (int x = 0; x < width; ++x) {
            const GridPosition column = gridPosition(x, width);
            const float columnWeights[2] = {1.0f - column.fraction, column.fraction};
            for (int s = 0; s < 3; ++s) {
                const int sample = sampleAt(layout, x, y, s);
                const int c = layout.channel[s];
                const KnotPosition k = knotPosition(sample, is16);
                const float knotWeights[2] = {1.0f - k.fraction, k.fraction};
                float gain = 0.0f, offset = 0.0f;
                for (int dr = 0; dr < 2; ++dr)
                    for (int ds = 0; ds < 2; ++ds) {
                        const float* set = &table[((row.cell + dr) * kModelGrid + column.cell + ds) * kCurveSetEntries];
                        for (int dk = 0; dk < 2; ++dk) {
                            const float w = rowWeights[dr] * columnWeights[ds] * knotWeights[dk];
                            const float* entry = set + (k.knot + dk) * 6 + c * 2;
                            gain += w * entry[0];
                            offset += w * entry[1];
                        }
                    }
                output[(static_cast<std::size_t>(y) * width + x) * 3 + s] = curveResult(sample, gain, offset, is16);
            }
        }
    }
}

// ---- The blend -----------------------------------------------------------------------------

void blendModels(std::uint8_t* pixels, const std::int32_t* globalOutput, const std::int32_t* regionalOutput, int width,
                 int height, bool is16, bool bgrOrder, bool is4ch, int rowBytes, const std::int32_t* weights,
                 bool singleGrid, int amount, int whiteBalanceAmount)
{
    const std::vector<float> grid = toFloats(weights, singleGrid ? kWeightGridEntries : kWeightGridEntries * 3);
    const PixelLayout layout = layoutOf(pixels, rowBytes, is16, bgrOrder, is4ch);
    const int full = is16 ? 65535 : 255;
    const float share = static_cast<float>(amount) / 100.0f;
    const float wb = static_cast<float>(whiteBalanceAmount) / 100.0f;
    auto weightAt = [&](int r, int s, int c) {
        return singleGrid ? grid[r * kModelGrid + s] : grid[r * kModelGrid * 3 + s * 3 + c];
    };
    for (int y = 0; y < height; ++y) {
        const GridPosition row = gridPosition(y, height);
        std::uint8_t* line = pixels + static_cast<std::ptrdiff_t>(y) * rowBytes;
        for (int x = 0; x < width; ++x) {
            const GridPosition column = gridPosition(x, width);
            const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 3;
            int old[3], mixed[3];
            for (int s = 0; s < 3; ++s) {
                const int c = layout.channel[s];
                const float u = row.fraction, w = column.fraction;
                const int r0 = row.cell, s0 = column.cell;
                const float F = (1 - u) * (1 - w) * weightAt(r0, s0, c) + (1 - u) * w * weightAt(r0, s0 + 1, c) +
                                u * (1 - w) * weightAt(r0 + 1, s0, c) + u * w * weightAt(r0 + 1, s0 + 1, c);
                old[s] = sampleAt(layout, x, y, s);
                int n = static_cast<int>((1.0f - F) * static_cast<float>(globalOutput[at + s]) +
                                         F * static_cast<float>(regionalOutput[at + s]));
                // Written as old + (n - old) x share so that an amount of 0 keeps the sample exactly.
                if (amount < 100)
                    n = static_cast<int>(static_cast<float>(old[s]) + static_cast<float>(n - old[s]) * share);
                mixed[s] = n;
            }
            int result[3] = {mixed[0], mixed[1], mixed[2]};
            if (whiteBalanceAmount < 100) {
                // Keep the model's brightness change, scale back its colour change.
                const float K = static_cast<float>(mixed[0] + mixed[1] + mixed[2] + 1) /
                                static_cast<float>(old[0] + old[1] + old[2] + 1);
                for (int s = 0; s < 3; ++s) {
                    const float kept = static_cast<float>(old[s]) * K;
                    result[s] = static_cast<int>(kept + (static_cast<float>(mixed[s]) - kept) * wb);
                }
            }
            for (int s = 0; s < 3; ++s) {
                const int value = std::clamp(result[s], 0, full);
                if (is16)
                    reinterpret_cast<std::uint16_t*>(line)[x * layout.step + s] = static_cast<std::uint16_t>(value);
                else
                    line[x * layout.step + s] = static_cast<std::uint8_t>(value);
            }
        }
    }
}

bool applyColourModel(std::uint8_t* pixels, int rowBytes, int width, int height, bool is16, bool is4ch,
                      const ColourModelTables& tables, int amount, bool bgrOrder, int whiteBalanceAmount)
{
    if (!tables.global || !tables.regional || !tables.weights || !pixels || width <= 0 || height <= 0)
        return false;
    const std::size_t samples = static_cast<std::size_t>(width) * height * 3;
    std::vector<std::int32_t> globalOutput(samples), regionalOutput(samples);
    evalGlobalModel(globalOutput.data(), pixels, width, height, is16, bgrOrder, is4ch, rowBytes, tables.global);
    evalRegionalModel(regionalOutput.data(), pixels, width, height, is16, bgrOrder, is4ch, rowBytes, tables.regional);
    blendModels(pixels, globalOutput.data(), regionalOutput.data(), width, height, is16, bgrOrder, is4ch, rowBytes,
                tables.weights, true, amount, whiteBalanceAmount);
    return true;
}
