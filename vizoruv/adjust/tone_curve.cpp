// Tone curves: the curve raster and its read-back, the curve types, composition, widening and the
// pixel passes.
#include "vizoruv/adjust/tone_curve.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "vizoruv/adjust/lut_apply.h"

namespace {

// ---- The curve raster ----------------------------------------------------------------------
// x is the input and y the output; a pixel is lit when an aliased 1-pixel line passes nearest to
// its centre (pixel centres at integer coordinates).

constexpr int kRaster = 256;

class CurveRaster {
public:
    void light(float x, float y)
    {
        const int px = static_cast<int>(std::floor(x + 0.5f));
        const int py = static_cast<int>(std::floor(y + 0.5f));
        if (px >= 0 && px < kRaster && py >= 0 && py < kRaster)
            lit_[py][px] = true;
    }

    // One pixel per step along the longer axis.
    void line(float x0, float y0, float x1, float y1)
    {
        const float dx = x1 - x0, dy = y1 - y0;
        const int steps = static_cast<int>(std::ceil(std::max(std::fabs(dx), std::fabs(dy))));
        if (steps == 0) {
            light(x0, y0);
            return;
        }
        for (int i = 0; i <= steps; ++i) {
            const float t = static_cast<float>(i) / static_cast<float>(steps);
            light(x0 + dx * t, y0 + dy * t);
        }
    }

    // The cubic flattened into segments short enough that the chords stay within the pixel grid.
    void bezier(const float p0[2], const float p1[2], const float p2[2], const float p3[2])
    {
        constexpr int kSegments = 128;
        float previous[2] = {p0[0], p0[1]};
        for (int i = 1; i <= kSegments; ++i) {
            const float t = static_cast<float>(i) / kSegments, u = 1.0f - t;
            const float a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
            const float point[2] = {a * p0[0] + b * p1[0] + c * p2[0] + d * p3[0],
                                    a * p0[1] + b * p1[1] + c * p2[1] + d * p3[1]};
            line(previous[0], previous[1], point[0], point[1]);
            previous[0] = point[0];
            previous[1] = point[1];
        }
    }

    // Row by row: each lit pixel sets its column's entry to its row (so a column keeps its largest
    // lit row); in row 255 the first lit column and every column after it become 255; the columns
    // before the last lit column of row 1 become 0.
    void readInto(ToneCurve* curve) const
    {
        for (int y = 0; y < kRaster; ++y) {
            int lastLit = -1;
            for (int x = 0; x < kRaster; ++x) {
                if (!lit_[y][x])
                    continue;
                if (y == kRaster - 1) {
                    std::memset(curve->entry + x, 255, kRaster - x);
                    break;
                }
                curve->entry[x] = static_cast<std::uint8_t>(y);
                lastLit = x;
            }
            if (y == 1 && lastLit > 0)
                std::memset(curve->entry, 0, lastLit);
        }
    }

private:
    bool lit_[kRaster][kRaster] = {};
};

// ---- Curve types ---------------------------------------------------------------------------

ToneCurve powerCurve(int amount)
{
    ToneCurve curve;
    const int m = amount > 0 ? -amount - 20 : 20 - amount;
    const double p = std::abs(m) / 20.0;
    for (int x = 0; x < 256; ++x) {
        const double v = m > 0 ? 255.0 * std::pow(x / 255.0, p) : 255.0 - 255.0 * std::pow((255 - x) / 255.0, p);
        curve.entry[x] = static_cast<std::uint8_t>(std::min(255.0, v));
    }
    return curve;
}

// Deviation of the positive-contrast curve at full strength, by runs of inputs.
struct DeviationRun {
    int last;      // last input of the run
    int deviation; // output minus input at amount 100
};
constexpr DeviationRun kPositiveContrastRuns[] = {
    {2, 0},    {7, -1},   {12, -2},  {17, -3},  {24, -4},  {30, -5},  {40, -6},  {53, -7},
    {82, -8},  {95, -7},  {104, -6}, {111, -5}, {118, -4}, {123, -3}, {128, -2}, {133, -1},
    {138, 0},  {144, 1},  {149, 2},  {156, 3},  {165, 4},  {178, 5},  {212, 6},  {225, 5},
    {233, 4},  {240, 3},  {246, 2},  {252, 1},  {255, 0},
};

ToneCurve positiveContrastCurve(int amount)
{
    ToneCurve curve = identityCurve();
    if (amount <= 0)
        return curve;
    const int strength = std::min(amount, 200);
    int run = 0;
    for (int x = 0; x < 256; ++x) {
        while (x > kPositiveContrastRuns[run].last)
            ++run;
        const double v = x + kPositiveContrastRuns[run].deviation * strength / 100.0;
        curve.entry[x] = static_cast<std::uint8_t>(std::clamp(static_cast<int>(v), 0, 255));
    }
    return curve;
}

// Start S = (c, c), controls C1 = (g, f) and C2 = (o, h), end E = (d, e), in the unit square.
struct BezierPoints {
    float c = 0, d = 1, e = 1, f = 0, g = 0, h = 0, o = 0;
};

BezierPoints bezierPoints(int type, int amount, float s)
{
    const float l = s * 0.25f;
    const bool negative = amount <= 0;
    BezierPoints p;
    switch (type) {
    case kCurveContrast:
        if (negative) {
            p.f = 0.5f; p.o = 0.97f; p.h = 0.5f;
        } else {
            p.g = 0.5f; p.o = 0.5f; p.h = 0.97f;
        }
        break;
    case kCurveBlacks:
        if (negative) {
            p.d = p.e = 0.4f + 0.38f * s;
            p.g = 0.1f + 0.65f * s;
            p.o = 0.59f * s;
        } else {
            p.d = p.e = 0.5f + l;
            p.o = p.d - (1.0f - (p.d - 0.5f) / 0.35f) * 0.35f;
            p.h = p.o;
            const float twice = 2.0f * p.d;
            p.g = 0.16f * twice * twice;
            p.f = 0.34f * twice * twice;
        }
        break;
    case kCurveShadows:
        if (negative) {
            p.d = p.e = 0.96f;
            p.g = 0.25f + 0.53f * s;
            p.o = 0.48f * s;
        } else {
            p.d = p.e = 0.8f + 0.2f * s;
            p.g = 0.25f + 0.25f * s;
            p.f = 0.5f + 0.5f * s;
            p.o = p.h = 0.12f + 0.73f * s;
        }
        break;
    case kCurveHighlights:
        if (negative) {
            p.g = p.f = 0.25f + 0.62f * s;
            p.o = 0.57f + 0.1f * s;
            p.h = 0.26f * s;
        } else {
            p.g = p.f = p.o = 0.25f + 0.47f * s;
            p.d = 0.54f + 0.42f * s;
            p.h = 1.0f;
        }
        break;
    case kCurveWhites:
        if (negative) {
            p.g = p.f = 0.77f + 0.09f * s;
            p.c = 0.48f + 0.27f * s;
            p.o = 0.88f + 0.03f * s;
            p.h = 0.58f + 0.18f * s;
        } else {
            p.g = p.f = 0.66f + 0.14f * s;
            p.c = 0.53f;
            p.o = 0.66f + 0.22f * s;
            p.d = 0.8f + 0.15f * s;
            p.h = 1.0f;
        }
        break;
    case kCurveBezier: {
        const float v = static_cast<float>(amount) / 10000.0f;
        if (v > 1.0f) {
            p.g = 1.0f / v;
            p.f = 1.0f;
            p.o = (1.0f - p.g) * s + p.g;
            p.h = 1.0f;
        } else {
            p.f = v;
            p.g = 1.0f;
            p.o = 1.0f;
            p.h = (1.0f - v) * s + v;
        }
        break;
    }
    default:
        break; // plain curve from the defaults
    }
    return p;
}

ToneCurve drawnCurve(int type, int amount, float s)
{
    const BezierPoints p = bezierPoints(type, amount, s);
    const float k = static_cast<float>(kRaster);
    const float start[2] = {p.c * k, p.c * k}, control1[2] = {p.g * k, p.f * k};
    const float control2[2] = {p.o * k, p.h * k}, end[2] = {p.d * k, p.e * k};
    auto raster = std::make_unique<CurveRaster>();
    raster->line(0, 0, start[0], start[1]);
    raster->bezier(start, control1, control2, end);
    raster->line(end[0], end[1], k, k);
    ToneCurve curve = identityCurve();
    raster->readInto(&curve);
    if (type != kCurveBezier && amount >= -99 && amount <= 99) {
        const int strength = std::abs(amount);
        for (int x = 0; x < 256; ++x)
            curve.entry[x] = static_cast<std::uint8_t>(x + (curve.entry[x] - x) * strength / 100.0);
    }
    return curve;
}

void foldIn(ToneCurve* curve, const ToneCurve& stage)
{
    for (std::uint8_t& value : curve->entry)
        value = stage.entry[value];
}

} // namespace

// ---- Curve records -------------------------------------------------------------------------

bool ToneCurve::operator==(const ToneCurve& other) const
{
    return std::memcmp(entry, other.entry, sizeof entry) == 0;
}

ToneCurve identityCurve()
{
    ToneCurve curve;
    for (int x = 0; x < 256; ++x)
        curve.entry[x] = static_cast<std::uint8_t>(x);
    return curve;
}

ToneCurve makeToneCurve(int type, int amount, int param)
{
    if (amount == 0)
        return identityCurve();
    if (type == kCurveExposure)
        return powerCurve(amount);
    if (type == kCurvePositiveContrast)
        return positiveContrastCurve(amount);
    const float s = static_cast<float>(std::clamp(param, 0, 100)) / 100.0f;
    return drawnCurve(type, amount, s);
}

WideToneCurve widenCurve(const ToneCurve& curve)
{
    WideToneCurve wide(65536);
    for (int i = 0; i < 256; ++i) {
        const int from = curve.entry[i];
        const int to = i < 255 ? curve.entry[i + 1] : std::clamp(2 * curve.entry[255] - curve.entry[254], 0, 256);
        for (int j = 0; j < 256; ++j)
            wide[i * 256 + j] = static_cast<std::uint16_t>(std::clamp(from * 256 + (j + 1) * (to - from), 0, 65535));
    }
    return wide;
}

// ---- The finishing curve -------------------------------------------------------------------

ToneCurve composeFinishingCurve(const VXLParams& block)
{
    ToneCurve curve = identityCurve();
    if (!block.bGroupFinishing)
        return curve;
    struct Stage {
        bool on;
        int type;
        int amount;
        int param;
    } const stages[] = {
        {block.bFinishExposure, kCurveExposure, block.iFinishExposure, 0},
        {block.bFinishContrast, kCurveContrast, block.iFinishContrast, 0},
        {block.bFinishShadows, kCurveShadows, block.iFinishShadows, 1},
        {block.bFinishBlacks, kCurveBlacks, block.iFinishBlacks, 10},
        {block.bFinishWhites, kCurveWhites, block.iFinishWhites, 100},
        {block.bFinishHighlights, kCurveHighlights, block.iFinishHighlights, 70},
        {block.bFinishPositiveContrast, kCurvePositiveContrast, block.iFinishPositiveContrast, 0},
    };
    for (const Stage& stage : stages)
        if (stage.on)
            foldIn(&curve, makeToneCurve(stage.type, stage.amount, stage.param));
    return curve;
}

// ---- Applying curves -----------------------------------------------------------------------

void applyCurvesToPixels(std::uint8_t* pixels, int rowBytes, int width, int height, bool is16, bool is4ch,
                         const ToneCurve& curve0, const ToneCurve& curve1, const ToneCurve& curve2)
{
    if (!pixels || width <= 0 || height <= 0)
        return;
    const int step = is4ch ? 4 : 3;
    if (!is16) {
        const std::uint8_t* curves[3] = {curve0.entry, curve1.entry, curve2.entry};
        for (int y = 0; y < height; ++y) {
            std::uint8_t* pixel = pixels + static_cast<std::ptrdiff_t>(y) * rowBytes;
            for (int x = 0; x < width; ++x, pixel += step)
                for (int c = 0; c < 3; ++c)
                    pixel[c] = curves[c][pixel[c]];
        }
        return;
    }
    // One wide curve per distinct channel curve.
    const ToneCurve* sources[3] = {&curve0, &curve1, &curve2};
    WideToneCurve wides[3];
    const std::uint16_t* curves[3] = {};
    for (int c = 0; c < 3; ++c) {
        for (int p = 0; p < c && !curves[c]; ++p)
            if (*sources[p] == *sources[c])
                curves[c] = curves[p];
        if (!curves[c]) {
            wides[c] = widenCurve(*sources[c]);
            curves[c] = wides[c].data();
        }
    }
    for (int y = 0; y < height; ++y) {
        auto* pixel = reinterpret_cast<std::uint16_t*>(pixels + static_cast<std::ptrdiff_t>(y) * rowBytes);
        for (int x = 0; x < width; ++x, pixel += step)
            for (int c = 0; c < 3; ++c)
                pixel[c] = curves[c][pixel[c]];
    }
}

void applyCurves(const ImageView& image, const ToneCurve& curve0, const ToneCurve& curve1, const ToneCurve& curve2)
{
    applyCurvesToPixels(image.data[0], image.rowBytes, image.width, image.height, image.format == kImageFormat16,
                        image.hasAlpha != 0, curve0, curve1, curve2);
}

void applyExposureCurve(std::uint8_t* pixels, int rowBytes, int width, int height, bool is16, bool bgrOrder,
                        bool is4ch, int preprocessEV)
{
    if (preprocessEV == 0)
        return;
    const ToneCurve curve = makeToneCurve(kCurveExposure, preprocessEV, 0);
    applyCurvesToPixels(pixels, rowBytes, width, height, is16, is4ch, curve, curve, curve);
}

bool applyFinishingCurve(std::uint8_t* pixels, int rowBytes, int width, int height, bool is16, bool bgrOrder,
                         bool is4ch, int exposure, int contrast, int shadows, int blacks, int whites, int highlights,
                         int positiveContrast)
{
    if (!exposure && !contrast && !shadows && !blacks && !whites && !highlights && !positiveContrast)
        return true;
    VXLParams block;
    std::memset(&block, 0, sizeof block);
    block.bGroupFinishing = true;
    block.iFinishExposure = exposure;
    block.iFinishContrast = contrast;
    block.iFinishShadows = shadows;
    block.iFinishBlacks = blacks;
    block.iFinishWhites = whites;
    block.iFinishHighlights = highlights;
    block.iFinishPositiveContrast = positiveContrast;
    block.bFinishExposure = exposure != 0;
    block.bFinishContrast = contrast != 0;
    block.bFinishShadows = shadows != 0;
    block.bFinishBlacks = blacks != 0;
    block.bFinishWhites = whites != 0;
    block.bFinishHighlights = highlights != 0;
    block.bFinishPositiveContrast = positiveContrast != 0;
    const ToneCurve curve = composeFinishingCurve(block);
    applyCurvesToPixels(pixels, rowBytes, width, height, is16, is4ch, curve, curve, curve);
    return true;
}

void applyCurvesAndSaturationToLut(Lut3D* table, int contrast, int saturation)
{
    if (!table || (contrast == 0 && saturation == 0))
        return;
    if (contrast == 0) {
        applyCurveAndSaturation(table, nullptr, saturation);
        return;
    }
    const ToneCurve curve = makeToneCurve(kCurveContrast, contrast, 0);
    applyCurveAndSaturation(table, curve.entry, saturation);
}
