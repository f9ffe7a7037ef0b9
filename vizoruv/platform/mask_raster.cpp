// Mask rasterising. Divided into: the ramp and the resampler; one drawing routine per shape; the
// entry, which scales the record, dispatches on the type and applies the density.
#include "vizoruv/platform/mask_raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr float kRoomToSpare = 1.5f;  // shapes are drawn at most 2/3 of the raster
// A stretched working plane is at most this many times longer than the raster side; thinner shapes
// are drawn as thin as this allows (the plane of a 1024 raster stays within 32 MiB).
constexpr double kMaxStretch = 32.0;

int truncToInt(double v)
{
    if (!(v > -2147483648.0))  // also NaN
        return v != v ? 0 : INT32_MIN;
    if (v >= 2147483647.0)
        return INT32_MAX;
    return int(std::trunc(v));
}

int stretchedLength(double length, int side)
{
    return std::max(1, std::min(truncToInt(length), truncToInt(side * kMaxStretch)));
}

// ---- The resampler ------------------------------------------------------------------------------

// Taps of one output sample along one axis: a tent filter, widened by the shrink factor.
struct Taps {
    int first = 0;
    std::vector<float> weights;
};

std::vector<Taps> axisTaps(int sourceLength, int targetLength)
{
    std::vector<Taps> taps;
    taps.resize(size_t(targetLength));
    const double step = double(sourceLength) / targetLength;
    const double support = std::max(1.0, step);
    for (int t = 0; t < targetLength; ++t) {
        const double centre = (t + 0.5) * step - 0.5;
        const int lo = int(std::floor(centre - support)) + 1;
        const int hi = int(std::ceil(centre + support)) - 1;
        Taps& tap = taps[size_t(t)];
        tap.first = lo;
        double sum = 0;
        for (int k = lo; k <= hi; ++k) {
            const double w = std::max(0.0, 1.0 - std::abs(k - centre) / support);
            tap.weights.push_back(float(w));
            sum += w;
        }
        if (sum <= 0) {  // cannot happen with support >= 1; keep the nearest sample all the same
            tap.first = std::clamp(int(std::lround(centre)), 0, sourceLength - 1);
            tap.weights.assign(1, 1.0f);
            continue;
        }
        for (float& w : tap.weights)
            w = float(w / sum);
    }
    return taps;
}

// One output value from taps over a row or column read through `at` (edges repeat).
template <typename At>
float filtered(const Taps& tap, int length, At at)
{
    float v = 0;
    for (size_t i = 0; i < tap.weights.size(); ++i)
        v += tap.weights[i] * at(std::clamp(tap.first + int(i), 0, length - 1));
    return v;
}

std::uint8_t toByte(float v)
{
    return std::uint8_t(std::clamp(std::lround(v), 0L, 255L));
}

// ---- Shapes -------------------------------------------------------------------------------------

// A circle in a plane stretched along the longer axis; resampling squeezes it into the ellipse.
void drawEllipse(std::uint8_t* raster, int side, float w, float h, float feather)
{
    if (!(w > 0.0f) || !(h > 0.0f))
        return;  // nothing to draw: the raster stays outside
    int planeWidth, planeHeight;
    double outer;
    if (w > h) {
        planeWidth = side;
        planeHeight = stretchedLength(double(w) * side / h, side);
        outer = double(side) * w / 2;
    } else {
        planeWidth = stretchedLength(double(h) * side / w, side);
        planeHeight = side;
        outer = double(side) * h / 2;
    }
    const double inner = (1.0 - feather) * outer;
    std::vector<std::uint8_t> plane(size_t(planeWidth) * planeHeight, 255);
    const int halfW = planeWidth / 2, halfH = planeHeight / 2;
    for (int y = 0; y < planeHeight; ++y) {
        std::uint8_t* row = plane.data() + size_t(y) * planeWidth;
        const double dy = double(y - halfH);
        for (int x = 0; x + 1 < planeWidth; ++x) {
            const double dx = double(x - halfW);
            row[x] = radialRamp(std::sqrt(dx * dx + dy * dy), outer, inner);
        }
    }
    resizeMaskPlane(raster, plane.data(), planeWidth, planeHeight, side);
}

void fillRow(std::uint8_t* raster, int side, int y, int columns, std::uint8_t value)
{
    std::memset(raster + size_t(y) * side * 3, value, size_t(columns) * 3);
}

void drawEdgeFromTop(std::uint8_t* raster, int side, float position, float feather)
{
    const int start = std::clamp(truncToInt((0.5 - position) * side), 0, side - 1);
    int ramp = std::max(0, truncToInt(double(side) * feather));
    if (ramp > side - 1 - start)
        ramp = side - start - 1;
    for (int y = start; y < side; ++y) {
        // A zero ramp never reaches the division: y < start + 0 is false.
        const int v = y < start + ramp ? truncToInt(255.0 - double(y - start) * 255.0 / ramp) : 0;
        fillRow(raster, side, y, side - 1, std::uint8_t(v));
    }
}

void drawEdgeFromBottom(std::uint8_t* raster, int side, float position, float feather)
{
    const int end = std::min(side - 1, truncToInt((double(position) + 0.5) * side));
    const int ramp = std::min(end, std::max(0, truncToInt(double(side) * feather)));
    for (int y = 0; y < end; ++y) {
        const int v = y < end - ramp ? 0 : truncToInt(double(ramp - end + y) * 255.0 / ramp);
        fillRow(raster, side, y, side, std::uint8_t(v));
    }
}

void drawRoundedRect(std::uint8_t* raster, int side, float aspect, float width, float height, float corner,
                     float feather)
{
    int planeWidth, planeHeight;
    if (aspect > 1.0f) {
        planeWidth = stretchedLength(double(side) * aspect, side);
        planeHeight = side;
    } else {
        planeWidth = side;
        planeHeight = stretchedLength(double(side) / aspect, side);
    }
    std::vector<std::uint8_t> plane(size_t(planeWidth) * planeHeight, 255);
    const int left = truncToInt((0.5 - double(width) / 2) * planeWidth);
    const int right = truncToInt((double(width) / 2 + 0.5) * planeWidth);
    const int top = truncToInt((0.5 - double(height) / 2) * planeHeight);
    const int bottom = truncToInt((double(height) / 2 + 0.5) * planeHeight);
    const float c = float(planeWidth) * corner;
    const int ramp = std::min({(right - left) / 2, (bottom - top) / 2, truncToInt(double(planeWidth) * feather)});
    // A ramp of 0 or less never reaches a division: the distance tests below fail first.
    const auto edge = [ramp](int distance) { return distance < ramp ? 255 - distance * 255 / ramp : 0; };
    for (int y = std::max(top, 0); y < std::min(bottom, planeHeight); ++y) {
        std::uint8_t* row = plane.data() + size_t(y) * planeWidth;
        const bool cornerRows = y < top + c || y >= bottom - c;
        for (int x = std::max(left, 0); x < std::min(right, planeWidth); ++x) {
            const bool cornerColumns = x < left + c || x >= right - c;
            int v;
            if (cornerRows && cornerColumns) {
                const double cx = x < left + c ? left + double(c) : right - double(c);
                const double cy = y < top + c ? top + double(c) : bottom - double(c);
                v = radialRamp(std::hypot(x - cx, y - cy), c, double(c) - ramp);
            } else if (y < top + c) {
                v = edge(y - top);
            } else if (y >= bottom - c) {
                v = edge(bottom - y);
            } else if (x < left + ramp) {
                v = 255 - (x - left) * 255 / ramp;
            } else if (x > right - ramp) {
                v = (x - right + ramp) * 255 / ramp;
            } else {
                v = 0;
            }
            row[x] = std::uint8_t(std::clamp(v, 0, 255));
        }
    }
    resizeMaskPlane(raster, plane.data(), planeWidth, planeHeight, side);
}

void applyDensity(std::vector<std::uint8_t>& raster, const LayerMask& mask)
{
    const double density = std::max(0.0, 1.0 - double(mask.transparency));
    if (!(density < 1.0))
        return;
    // The ellipse is drawn as its outside, so its density fades towards 255 instead of towards 0.
    const bool fadeToOutside = mask.type == kMaskEllipse && !mask.invert;
    for (std::uint8_t& v : raster)
        v = std::uint8_t(fadeToOutside ? truncToInt(255.0 - (255 - v) * density) : truncToInt(v * density));
}

}  // namespace

// ---- Entries ------------------------------------------------------------------------------------

std::uint8_t radialRamp(double d, double outer, double inner)
{
    if (d >= outer)
        return 255;
    if (d <= inner)
        return 0;
    return std::uint8_t(std::clamp(truncToInt(255.0 - (outer - d) * 255.0 / (outer - inner)), 0, 255));
}

void resizeMaskPlane(std::uint8_t* raster, const std::uint8_t* plane, int planeWidth, int planeHeight, int side)
{
    if (!raster || !plane || planeWidth < 1 || planeHeight < 1 || side < 1)
        return;
    const std::vector<Taps> across = axisTaps(planeWidth, side);
    const std::vector<Taps> down = axisTaps(planeHeight, side);
    const auto store = [raster, side](int x, int y, float v) {
        std::memset(raster + (size_t(y) * side + size_t(x)) * 3, toByte(v), 3);
    };
    // The longer axis is reduced first so that the intermediate plane stays near side x side.
    if (planeHeight > planeWidth) {
        std::vector<float> rows(size_t(side) * planeWidth);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < planeWidth; ++x)
                rows[size_t(y) * planeWidth + x] = filtered(down[size_t(y)], planeHeight, [&](int k) {
                    return float(plane[size_t(k) * planeWidth + x]);
                });
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                store(x, y, filtered(across[size_t(x)], planeWidth, [&](int k) {
                          return rows[size_t(y) * planeWidth + k];
                      }));
    } else {
        std::vector<float> columns(size_t(planeHeight) * side);
        for (int y = 0; y < planeHeight; ++y)
            for (int x = 0; x < side; ++x)
                columns[size_t(y) * side + x] = filtered(across[size_t(x)], planeWidth, [&](int k) {
                    return float(plane[size_t(y) * planeWidth + k]);
                });
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                store(x, y, filtered(down[size_t(y)], planeHeight, [&](int k) {
                          return columns[size_t(k) * side + x];
                      }));
    }
}

std::vector<std::uint8_t> rasterizeMask(const LayerMask& mask, float aspect, float* scale, int side)
{
    if (scale)
        *scale = 1.0f;
    if (side < 1 || side > kMaxRasterSide || !std::isfinite(aspect) || !(aspect > 0.0f))
        return {};
    std::vector<std::uint8_t> raster(size_t(side) * side * 3, 255);
    LayerMask m = mask;
    const bool sized = m.type == kMaskEllipse || m.type == kMaskRoundedRect;
    float s = sized ? std::max(m.width, m.height) : (aspect > 1.0f ? aspect : 1.0f / aspect);
    s *= kRoomToSpare;
    if (s > 1.0f) {
        m.width /= s;
        m.height /= s;
        m.radius /= s;
        m.feather /= s;
        if (scale)
            *scale = s;
    }
    switch (m.type) {
    case kMaskEllipse: drawEllipse(raster.data(), side, m.width, m.height, m.feather); break;
    case kMaskEdgeFromTop: drawEdgeFromTop(raster.data(), side, m.height, m.feather); break;
    case kMaskEdgeFromBottom: drawEdgeFromBottom(raster.data(), side, m.height, m.feather); break;
    case kMaskRoundedRect: drawRoundedRect(raster.data(), side, aspect, m.width, m.height, m.radius, m.feather); break;
    default: break;
    }
    applyDensity(raster, mask);
    return raster;
}
