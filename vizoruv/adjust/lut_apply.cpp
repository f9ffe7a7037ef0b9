// LUT application: lookups (nearest, trilinear, tetrahedral), the strength rule, the per-sample-size
// kernels and their dispatch table; composition; the curve and saturation pass.
#include "vizoruv/adjust/lut_apply.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "sys/threads/row_bands.h"

namespace {

// ---- Lookups -------------------------------------------------------------------------------
// Coordinates are in grid units and are limited to 0..g - 1 (NaN to 0): table values outside 0..1,
// infinite or not numbers at all would otherwise point outside the grid.

constexpr int kStrideR = kLutGrid * kLutGrid; // entries
constexpr int kStrideG = kLutGrid;

const float* entryAt(const Lut3D& lut, int r, int g, int b) { return lut.store[r][g][b]; }

void lookupNearest(const Lut3D& lut, const float p[3], float out[3])
{
    const float top = static_cast<float>(lut.gridSize - 1);
    int index[3];
    for (int a = 0; a < 3; ++a)
        index[a] = static_cast<int>(clampToGrid(p[a], top) + 0.5f);
    std::memcpy(out, entryAt(lut, index[0], index[1], index[2]), 3 * sizeof(float));
}

void lookupTrilinear(const Lut3D& lut, const float p[3], float out[3])
{
    const int n = lut.gridSize;
    const float top = static_cast<float>(n - 1);
    int lo[3], hi[3];
    float f[3];
    for (int a = 0; a < 3; ++a) {
        const float v = clampToGrid(p[a], top);
        lo[a] = static_cast<int>(v);
        hi[a] = std::min(lo[a] + 1, n - 1);
        f[a] = v - static_cast<float>(lo[a]);
    }
    for (int c = 0; c < 3; ++c) {
        // Along red, then green, then blue.
        auto alongRed = [&](int g, int b) {
            const float v0 = entryAt(lut, lo[0], g, b)[c];
            return v0 + (entryAt(lut, hi[0], g, b)[c] - v0) * f[0];
        };
        auto alongGreen = [&](int b) {
            const float v0 = alongRed(lo[1], b);
            return v0 + (alongRed(hi[1], b) - v0) * f[1];
        };
        const float v0 = alongGreen(lo[2]);
        out[c] = v0 + (alongGreen(hi[2]) - v0) * f[2];
    }
}

void lookupTetra(const Lut3D& lut, const float p[3], float out[3])
{
    lookupTetrahedral(&lut.store[0][0][0][0], lut.gridSize, kStrideR, kStrideG, p[0], p[1], p[2], out);
}

using Lookup = void (*)(const Lut3D& lut, const float p[3], float out[3]);

// ---- The strength rule ---------------------------------------------------------------------

// Table result for an input of (r, g, b) in 0..1, faded or reinforced by the strength.
template <Lookup lookup>
void evaluate(const Lut3D& lut, const float in[3], int strength, float out[3])
{
    const float top = static_cast<float>(lut.gridSize - 1);
    const float p[3] = {in[0] * top, in[1] * top, in[2] * top};
    float first[3];
    lookup(lut, p, first);
    if (strength == 100) {
        std::memcpy(out, first, sizeof first);
    } else if (strength < 100) {
        const float t = static_cast<float>(strength) * 0.01f;
        for (int c = 0; c < 3; ++c)
            out[c] = in[c] + (first[c] - in[c]) * t;
    } else {
        const float again[3] = {first[0] * top, first[1] * top, first[2] * top};
        float second[3];
        lookup(lut, again, second);
        const float t = static_cast<float>(strength - 100) / 100.0f;
        for (int c = 0; c < 3; ++c)
            out[c] = first[c] + (second[c] - first[c]) * t;
    }
}

// ---- Kernels -------------------------------------------------------------------------------

template <typename Sample>
struct SampleTraits;
template <>
struct SampleTraits<std::uint8_t> {
    static constexpr float kMax = 255.0f;
    static constexpr float kInverse = 0.003921569f;
};
template <>
struct SampleTraits<std::uint16_t> {
    static constexpr float kMax = 65535.0f;
    static constexpr float kInverse = 0.000015259022f;
};

template <typename Sample>
Sample toSample(float value)
{
    const float scaled = value * SampleTraits<Sample>::kMax;
    if (!(scaled > 0.0f)) // also NaN
        return 0;
    if (scaled >= SampleTraits<Sample>::kMax)
        return static_cast<Sample>(SampleTraits<Sample>::kMax);
    return static_cast<Sample>(scaled);
}

struct LutApplication;
// One application routine: runs rows [slice x height / count, (slice + 1) x height / count).
using LutKernel = void (*)(const LutApplication& application, int slice, int sliceCount);

// One application of a table to one picture: the pixels and everything chosen for them.
struct LutApplication {
    const Lut3D* lut;
    std::uint8_t* pixels;
    int rowBytes, width, height, strength;
    int channelOffsets[3]; // sample index of red, green and blue in a pixel
    int pixelStep;         // samples per pixel, 3 or 4
    LutKernel kernel;
    int slices;
};

template <typename Sample, Lookup lookup>
void lutKernel(const LutApplication& application, int slice, int sliceCount)
{
    const LutApplication& a = application;
    const int first = static_cast<int>(static_cast<long long>(slice) * a.height / sliceCount);
    const int end = static_cast<int>(static_cast<long long>(slice + 1) * a.height / sliceCount);
    const int step = a.pixelStep;
    const int red = a.channelOffsets[0], green = a.channelOffsets[1], blue = a.channelOffsets[2];
    for (int y = first; y < end; ++y) {
        // 16-bit rows are read and written in place through their words.
        Sample* pixel = reinterpret_cast<Sample*>(a.pixels + static_cast<std::ptrdiff_t>(y) * a.rowBytes);
        for (int x = 0; x < a.width; ++x, pixel += step) {
            const float in[3] = {pixel[red] * SampleTraits<Sample>::kInverse,
                                 pixel[green] * SampleTraits<Sample>::kInverse,
                                 pixel[blue] * SampleTraits<Sample>::kInverse};
            float out[3];
            evaluate<lookup>(*a.lut, in, a.strength, out);
            pixel[red] = toSample<Sample>(out[0]);
            pixel[green] = toSample<Sample>(out[1]);
            pixel[blue] = toSample<Sample>(out[2]);
        }
    }
}

// [kind][16-bit]
constexpr LutKernel kKernels[3][2] = {
    {lutKernel<std::uint8_t, lookupNearest>, lutKernel<std::uint16_t, lookupNearest>},
    {lutKernel<std::uint8_t, lookupTrilinear>, lutKernel<std::uint16_t, lookupTrilinear>},
    {lutKernel<std::uint8_t, lookupTetra>, lutKernel<std::uint16_t, lookupTetra>},
};

} // namespace

int applyLutToPixelsSliced(const Lut3D* lut, std::uint8_t* pixels, int rowBytes, int width, int height,
                           bool sixteenBit, bool bgrOrder, bool hasAlpha, int kind, int strength, int slices)
{
    if (!lut || strength <= 0 || lut->gridSize == 0)
        return kLutOk;
    if (kind < kLutNearest || kind > kLutTetrahedral || !pixels || width < 0 || height < 0)
        return kLutInvalidArgument;
    const int step = hasAlpha ? 4 : 3;
    if (static_cast<long long>(rowBytes) < static_cast<long long>(width) * step * (sixteenBit ? 2 : 1))
        return kLutInvalidArgument;
    LutApplication application{lut, pixels, rowBytes, width, height, std::min(strength, kLutMaxStrength),
                               {bgrOrder ? 2 : 0, 1, bgrOrder ? 0 : 2}, step, kKernels[kind][sixteenBit ? 1 : 0],
                               std::clamp(slices, 1, std::max(height, 1))};
    if (application.slices == 1) {
        application.kernel(application, 0, 1);
        return kLutOk;
    }
    // Slice s of the kernel covers rows [s x height / n, (s + 1) x height / n); the bands given to
    // the threads are only used to number the slices.
    sys::runRowBands(application.slices, application.slices, [](void* context, sys::RowBand band) {
        const LutApplication* a = static_cast<const LutApplication*>(context);
        a->kernel(*a, band.first, a->slices);
    }, &application);
    return kLutOk;
}

int applyLutToPixels(const Lut3D* lut, std::uint8_t* pixels, int rowBytes, int width, int height, bool sixteenBit,
                     bool bgrOrder, bool hasAlpha, int kind, int strength)
{
    return applyLutToPixelsSliced(lut, pixels, rowBytes, width, height, sixteenBit, bgrOrder, hasAlpha, kind,
                                  strength, sys::rowBandCount(height));
}

int composeLutInto(Lut3D* target, const Lut3D* source, int strength)
{
    if (!source || strength <= 0)
        return 1;
    if (source == target) {
        // Composing a table with itself reads entries that are being rewritten: read a copy.
        const std::unique_ptr<Lut3D> copy = std::make_unique<Lut3D>(*source);
        return composeLutInto(target, copy.get(), strength);
    }
    const int n = source->gridSize;
    if (n <= 0)
        return 0;
    if (target->gridSize == 0)
        makeIdentityLut(target, n);
    else if (target->gridSize != n)
        return 0;
    strength = std::min(strength, kLutMaxStrength);
    for (int r = 0; r < n; ++r)
        for (int g = 0; g < n; ++g)
            for (int b = 0; b < n; ++b) {
                float* entry = target->store[r][g][b];
                const float in[3] = {entry[0], entry[1], entry[2]};
                evaluate<lookupTetra>(*source, in, strength, entry);
            }
    return 1;
}

void applyCurveAndSaturation(Lut3D* lut, const std::uint8_t* curve, int saturation)
{
    const int n = lut->gridSize;
    const float f = 1.0f + static_cast<float>(saturation) / 100.0f;
    for (int r = 0; r < n; ++r)
        for (int g = 0; g < n; ++g)
            for (int b = 0; b < n; ++b) {
                float* e = lut->store[r][g][b];
                if (curve)
                    for (int c = 0; c < 3; ++c) {
                        const int index = static_cast<int>(clampToGrid(e[c] * 255.0f, 255.0f));
                        e[c] = std::clamp(static_cast<float>(curve[index]) / 255.0f, 0.0f, 1.0f);
                    }
                if (saturation != 0) {
                    const float R = e[0], G = e[1], B = e[2];
                    const float Y = (0.257f * R + 0.504f * G + 0.098f * B) * 1.164f;
                    const float Cr = (0.439f * R - 0.368f * G - 0.071f * B) * f;
                    const float Cb = (0.439f * B - 0.291f * G - 0.148f * R) * f;
                    e[0] = clampToGrid(Y + 1.596f * Cr, 1.0f);
                    e[1] = clampToGrid(Y - 0.392f * Cb - 0.813f * Cr, 1.0f);
                    e[2] = clampToGrid(Y + 2.017f * Cb, 1.0f);
                }
            }
}
