// Mask planes: quarter turns, regions and nearest resampling; the drawing step (inverse-mapped
// sampling with nearest, bilinear and bicubic kernels); transform and placement.
#include "vizoruv/adjust/mask_planes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int kPlanePixelBytes = 3;
constexpr double kPi = 3.14159265358979323846;

// ---- Drawing -------------------------------------------------------------------------------

// Maps a target point (x', y') to drawing space: x = a x' + b y' + c, y = d x' + e y' + f.
struct Affine {
    double a = 1, b = 0, c = 0, d = 0, e = 1, f = 0;

    void map(double x, double y, double* outX, double* outY) const
    {
        *outX = a * x + b * y + c;
        *outY = d * x + e * y + f;
    }
};

// The first byte of each pixel of a 3-byte plane, with edge samples repeated outside it.
class PlaneSampler {
public:
    PlaneSampler(const std::uint8_t* plane, int width, int height) : plane_(plane), width_(width), height_(height) {}

    // Value (0..255) at plane coordinates (u, v), pixel centres at integers.
    double sample(double u, double v, int sampling) const
    {
        if (sampling < kSampleBilinear)
            return at(static_cast<int>(std::floor(u + 0.5)), static_cast<int>(std::floor(v + 0.5)));
        const int x0 = static_cast<int>(std::floor(u)), y0 = static_cast<int>(std::floor(v));
        const double fx = u - x0, fy = v - y0;
        if (sampling == kSampleBilinear) {
            const double top = at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx;
            const double bottom = at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx;
            return top * (1 - fy) + bottom * fy;
        }
        double wx[4], wy[4];
        cubicWeights(fx, wx);
        cubicWeights(fy, wy);
        double sum = 0;
        for (int j = 0; j < 4; ++j) {
            double row = 0;
            for (int i = 0; i < 4; ++i)
                row += wx[i] * at(x0 - 1 + i, y0 - 1 + j);
            sum += wy[j] * row;
        }
        return std::clamp(sum, 0.0, 255.0);
    }

private:
    double at(int x, int y) const
    {
        x = std::clamp(x, 0, width_ - 1);
        y = std::clamp(y, 0, height_ - 1);
        return plane_[(static_cast<std::size_t>(y) * width_ + x) * kPlanePixelBytes];
    }

    // Cubic convolution (a = -0.5) for the four taps around a point t past the second one.
    static void cubicWeights(double t, double w[4])
    {
        auto kernel = [](double x) {
            x = std::fabs(x);
            if (x < 1)
                return (1.5 * x - 2.5) * x * x + 1;
            if (x < 2)
                return ((-0.5 * x + 2.5) * x - 4) * x + 2;
            return 0.0;
        };
        for (int i = 0; i < 4; ++i)
            w[i] = kernel(t - (i - 1));
    }

    const std::uint8_t* plane_;
    int width_, height_;
};

struct DrawRect {
    double x, y, width, height;
};

// Draws the source stretched over `rect` of drawing space onto a target of targetWidth x
// targetHeight; toDrawing maps target coordinates into drawing space. write(x, y, value) receives
// every covered target pixel.
template <typename Write>
void drawPlane(const PlaneSampler& source, int sourceWidth, int sourceHeight, const DrawRect& rect,
               const Affine& toDrawing, int targetWidth, int targetHeight, int sampling, Write write)
{
    if (rect.width <= 0 || rect.height <= 0)
        return;
    for (int y = 0; y < targetHeight; ++y)
        for (int x = 0; x < targetWidth; ++x) {
            double qx, qy;
            toDrawing.map(x + 0.5, y + 0.5, &qx, &qy);
            if (qx < rect.x || qy < rect.y || qx >= rect.x + rect.width || qy >= rect.y + rect.height)
                continue;
            const double u = (qx - rect.x) / rect.width * sourceWidth - 0.5;
            const double v = (qy - rect.y) / rect.height * sourceHeight - 0.5;
            write(x, y, source.sample(u, v, sampling));
        }
}

std::uint8_t toByte(double value) { return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L)); }

MaskPlane newPlane(int width, int height, int bytesPerPixel, std::uint8_t fill)
{
    MaskPlane plane;
    plane.width = width;
    plane.height = height;
    plane.rowBytes = width * bytesPerPixel;
    plane.pixels.assign(static_cast<std::size_t>(plane.rowBytes) * height, fill);
    return plane;
}

void setPlanePixel(MaskPlane* plane, int x, int y, std::uint8_t value)
{
    std::memset(&plane->pixels[static_cast<std::size_t>(y) * plane->rowBytes + x * kPlanePixelBytes], value,
                kPlanePixelBytes);
}

// Mirrors (flipX, then flipY) and turns the plane by quarter turns clockwise.
MaskPlane turnPlane(const MaskPlane& in, bool flipX, bool flipY, int quarter)
{
    const bool swap = quarter % 2 == 1;
    MaskPlane out = newPlane(swap ? in.height : in.width, swap ? in.width : in.height, kPlanePixelBytes, 255);
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) {
            const int mx = flipX ? in.width - 1 - x : x;
            const int my = flipY ? in.height - 1 - y : y;
            int tx = mx, ty = my;
            if (quarter == 1) {
                tx = in.height - 1 - my;
                ty = mx;
            } else if (quarter == 2) {
                tx = in.width - 1 - mx;
                ty = in.height - 1 - my;
            } else if (quarter == 3) {
                tx = my;
                ty = in.width - 1 - mx;
            }
            setPlanePixel(&out, tx, ty, in.pixels[static_cast<std::size_t>(y) * in.rowBytes + x * kPlanePixelBytes]);
        }
    return out;
}

} // namespace

// ---- Quarter turns and regions -------------------------------------------------------------

int quarterOf(float angle)
{
    if (!std::isfinite(angle))
        return 0;
    double a = angle;
    if (a < 0) {
        a = std::fmod(a, 360.0);
        if (a < 0)
            a += 360.0;
    } else if (a > 360.0) {
        a = std::fmod(a, 360.0);
        if (a == 0)
            a = 360.0;
    }
    return static_cast<int>(a / 90.0);
}

bool isOddQuarter(float angle)
{
    return quarterOf(angle) % 2 == 1;
}

void PointMap::map(double px, double py, double ox, double oy, double* x, double* y) const
{
    const double dx = px - ox, dy = py - oy;
    *x = std::clamp(m00 * dx + m01 * dy + ox, 0.0, maxX);
    *y = std::clamp(m10 * dx + m11 * dy + oy, 0.0, maxY);
}

PixelRect regionToPixelRect(const MaskTransform& region, int imageWidth, int imageHeight)
{
    const double cx = imageWidth * static_cast<double>(region.centerX);
    const double cy = imageHeight * static_cast<double>(region.centerY);
    const double hx = imageWidth * static_cast<double>(region.scaleX) / 2;
    const double hy = imageHeight * static_cast<double>(region.scaleY) / 2;
    PointMap bounds;
    bounds.maxX = imageWidth;
    bounds.maxY = imageHeight;
    double minX = imageWidth, minY = imageHeight, maxX = 0, maxY = 0;
    for (int corner = 0; corner < 4; ++corner) {
        double x, y;
        bounds.map(cx + (corner & 1 ? hx : -hx), cy + (corner & 2 ? hy : -hy), cx, cy, &x, &y);
        minX = std::min(minX, x);
        minY = std::min(minY, y);
        maxX = std::max(maxX, x);
        maxY = std::max(maxY, y);
    }
    return {static_cast<std::int32_t>(minX), static_cast<std::int32_t>(minY), static_cast<std::int32_t>(maxX - minX),
            static_cast<std::int32_t>(maxY - minY)};
}

void resampleNearest(std::uint8_t* target, const std::uint8_t* source, int targetWidth, int targetHeight,
                     int sourceWidth, int sourceHeight)
{
    if (targetWidth <= 0 || targetHeight <= 0 || sourceWidth <= 0 || sourceHeight <= 0)
        return;
    if (targetWidth == sourceWidth && targetHeight == sourceHeight) {
        std::memcpy(target, source, static_cast<std::size_t>(targetWidth) * targetHeight);
        return;
    }
    for (int i = 0; i < targetHeight; ++i) {
        const int row = std::min(sourceHeight - 1, static_cast<int>(static_cast<double>(i) * sourceHeight / targetHeight));
        for (int j = 0; j < targetWidth; ++j) {
            const int column =
                std::min(sourceWidth - 1, static_cast<int>(static_cast<double>(j) * sourceWidth / targetWidth));
            target[static_cast<std::size_t>(i) * targetWidth + j] = source[static_cast<std::size_t>(row) * sourceWidth + column];
        }
    }
}

// ---- Transform and placement ---------------------------------------------------------------

MaskPlane transformMaskPlane(const LayerMask& mask, const std::uint8_t* plane, int side, float aspect, float scale,
                             const MaskTransform& transform, int sampling)
{
    if (!plane || side <= 0 || !(aspect > 0) || !(scale > 0))
        return {};
    const int width = aspect > 1 ? static_cast<int>(side * aspect) : side;
    const int height = aspect > 1 ? side : static_cast<int>(side / aspect);
    if (width <= 0 || height <= 0)
        return {};

    std::uint8_t fill = 255;
    if (mask.type == kMaskEdgeFromBottom)
        fill = 0;
    else if (mask.type == kMaskEllipse && mask.invert)
        fill = static_cast<std::uint8_t>(std::clamp(static_cast<int>((1.0f - mask.transparency) * 255), 0, 255));
    MaskPlane out = newPlane(width, height, kPlanePixelBytes, fill);

    DrawRect rect{0, 0, double(width), double(height)};
    if (mask.type == kMaskEdgeFromTop || mask.type == kMaskEdgeFromBottom)
        rect = {-double(width / 8), 0, 4.0 * width, double(height)};

    // Target = centre + shift + R(angle) x scale x (drawing - centre); invert it for the sampling.
    const double cx = width / 2.0, cy = height / 2.0;
    const double shiftX = (static_cast<double>(mask.centerX) - 0.5) * width;
    const double shiftY = (0.5 - static_cast<double>(mask.centerY)) * height;
    const double radians = static_cast<double>(mask.angle) * kPi / 180.0;
    const double cosA = std::cos(radians) / scale, sinA = std::sin(radians) / scale;
    Affine toDrawing;
    toDrawing.a = cosA;
    toDrawing.b = sinA;
    toDrawing.d = -sinA;
    toDrawing.e = cosA;
    toDrawing.c = cx - cosA * (cx + shiftX) - sinA * (cy + shiftY);
    toDrawing.f = cy + sinA * (cx + shiftX) - cosA * (cy + shiftY);

    const PlaneSampler sampler(plane, side, side);
    drawPlane(sampler, side, side, rect, toDrawing, width, height, sampling,
              [&](int x, int y, double value) { setPlanePixel(&out, x, y, toByte(value)); });

    if (transform.flipX || transform.flipY || transform.angle != 0.0f)
        out = turnPlane(out, transform.flipX != 0, transform.flipY != 0, quarterOf(transform.angle) % 4);
    return out;
}

MaskPlane placeMaskPlane(int imageWidth, int imageHeight, const MaskTransform& transform, const LayerMask& mask,
                         const std::uint8_t* plane, int planeWidth, int planeHeight, bool sixteenBit)
{
    if (imageWidth <= 0 || imageHeight <= 0 || !plane || planeWidth <= 0 || planeHeight <= 0)
        return {};
    MaskPlane out = newPlane(imageWidth, imageHeight, sixteenBit ? 2 : 1, 0);
    const double cx = transform.flipX ? 1.0 - transform.centerX : transform.centerX;
    const double cy = transform.flipY ? 1.0 - transform.centerY : transform.centerY;
    const DrawRect rect{imageWidth * cx - imageWidth * static_cast<double>(transform.scaleX) / 2,
                        imageHeight * cy - imageHeight * static_cast<double>(transform.scaleY) / 2,
                        imageWidth * static_cast<double>(transform.scaleX),
                        imageHeight * static_cast<double>(transform.scaleY)};
    const int sampling = mask.type == kMaskWholeImage ? kSampleNearest : kSampleBicubic;
    const PlaneSampler sampler(plane, planeWidth, planeHeight);
    drawPlane(sampler, planeWidth, planeHeight, rect, Affine(), imageWidth, imageHeight, sampling,
              [&](int x, int y, double value) {
                  if (sixteenBit) {
                      const long wide = std::clamp(std::lround(value * 257.0), 0L, 65535L);
                      reinterpret_cast<std::uint16_t*>(&out.pixels[static_cast<std::size_t>(y) * out.rowBytes])[x] =
                          static_cast<std::uint16_t>(wide);
                  } else {
                      out.pixels[static_cast<std::size_t>(y) * out.rowBytes + x] = toByte(value);
                  }
              });
    return out;
}
