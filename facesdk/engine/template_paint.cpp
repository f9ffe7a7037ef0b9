// Template mesh painting: row spans of the face-side triangles, sorted and joined so that no
// pixel is painted twice, template positions stepped along each span in 16.16, bilinear mask
// samples and the blend toward the target.
#include "facesdk/engine/template_paint.h"

#include <cstring>

#include "facesdk/base/bilinear.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/row_bands.h"

namespace {

// Pixel step and byte offset of the painted plane, by format.
bool paintLayout(PixelFormat format, int32_t *step, int32_t *offset)
{
    switch (format) {
    case kFormatGrey8:
    case kFormatYuv444Planar:
    case kFormatYuv422Planar:
    case kFormatYuv420SemiPlanar:
    case kFormatYuv420SemiPlanarCrFirst:
    case kFormatYuv420Planar:
        *step = 1, *offset = 0;
        return true;
    case kFormatYuv422Yuyv:
        *step = 2, *offset = 0;
        return true;
    case kFormatYuv422Uyvy:
        *step = 2, *offset = 1;
        return true;
    default:
        return false;
    }
}

bool destinationUsable(const EngineImage *image)
{
    return image && image->format && image->width > 0 && image->height > 0 &&
           image->planes[0].pixels && image->planes[0].stride > 0;
}

// Rounding of a value with `bits` fractional bits to the nearest integer, halves away from
// zero.
int64_t roundBits(int64_t v, int bits) { return (((v < 0 ? v - 1 : v) >> (bits - 1)) + 1) >> 1; }

struct Span {
    int32_t triangle;
    int32_t first, last;
};

// The face-side and template-side triangle t of the mesh; false when its vertex-list
// positions do not name vertices.
bool meshTriangle(const TemplateMesh &mesh, const FaceWork &face, int t, MeshTriangle *faceSide,
                  MeshTriangle *templateSide)
{
    for (int k = 0; k < 3; ++k) {
        const int32_t position = mesh.triangles[3 * t + k];
        if (position < 0 || position >= mesh.vertexCount)
            return false;
        const uint8_t index = mesh.vertices[position];
        faceSide->p[k] = face.points[index];
        templateSide->p[k] = mesh.points[index];
    }
    return true;
}

uint8_t blend(uint8_t p, int32_t m, int32_t target, int32_t strength)
{
    const int32_t w = (m * strength) >> 8;
    const int32_t value = (w * (target - p) + 256 * p) >> 8;
    return uint8_t(value < 0 ? 0 : (value > 255 ? 255 : value));
}

// Barycentric weights of p in 1/2^bits: false for a triangle without area.
bool weights(const MeshTriangle &f, VXL_POINT p, int bits, int64_t *w0, int64_t *w1)
{
    const VXL_POINT &f0 = f.p[0], &f1 = f.p[1], &f2 = f.p[2];
    const int64_t den = int64_t(f1.y - f2.y) * (f0.x - f2.x) + int64_t(f2.x - f1.x) * (f0.y - f2.y);
    if (den == 0)
        return false;
    const int64_t one = int64_t(1) << bits;
    *w0 = (int64_t(f2.x - f1.x) * (p.y - f2.y) + int64_t(f1.y - f2.y) * (p.x - f2.x)) * one / den;
    *w1 = (int64_t(f0.x - f2.x) * (p.y - f2.y) + int64_t(p.x - f2.x) * (f2.y - f0.y)) * one / den;
    return true;
}

// Along a degenerate triangle's edge F0 -> FE: the template coordinate at p, taken from the
// axis in which the edge has extent (the other one when it has none in the preferred axis).
int32_t alongEdge(int32_t t0, int32_t tE, int32_t pPrimary, int32_t f0Primary, int32_t fEPrimary,
                  int32_t pOther, int32_t f0Other, int32_t fEOther)
{
    const int64_t base = int64_t(t0) * 65536;
    if (f0Primary != fEPrimary)
        return int32_t(base + int64_t(t0 - tE) * (pPrimary - f0Primary) * 65536 /
                                  (f0Primary - fEPrimary));
    if (f0Other != fEOther)
        return int32_t(base + int64_t(t0 - tE) * (pOther - f0Other) * 65536 / (f0Other - fEOther));
    return int32_t(base);
}

uint8_t maskByte(const EngineImage &mask, int32_t x, int32_t y)
{
    return mask.planes[0].pixels[size_t(y) * mask.planes[0].stride + x];
}

}  // namespace

// ---- Internal steps -------------------------------------------------------------------------

int edgeRowCrossing(VXL_POINT a, VXL_POINT b, int32_t xMin, int32_t xMax, int32_t y, int32_t *x)
{
    const int64_t rx = int64_t(b.x) - a.x, ry = int64_t(b.y) - a.y;
    const int64_t sx = int64_t(xMax) - xMin;
    if (ry == 0 || sx == 0)
        return 0;
    // Segment a + t r meets (xMin, y) + u (sx, 0); both parameters in 1/1024.
    const int64_t denominator = -ry * sx;
    const int64_t qx = int64_t(xMin) - a.x, qy = int64_t(y) - a.y;
    const int64_t t = ((qx * 0 - qy * sx) * 1024) / denominator;
    const int64_t u = ((qx * ry - qy * rx) * 1024) / denominator;
    if (t < 0 || t > 1024 || u < 0 || u > 1024)
        return 0;
    *x = int32_t(a.x + roundBits(rx * t, 10));
    return 1;
}

int triangleRowSpan(const MeshTriangle &f, int32_t row, int32_t *firstX, int32_t *lastX)
{
    static const int kEdges[3][2] = {{0, 1}, {1, 2}, {0, 2}};
    for (const auto &edge : kEdges) {
        const VXL_POINT &a = f.p[edge[0]], &b = f.p[edge[1]];
        if (a.y == row && b.y == row) {
            *firstX = a.x < b.x ? a.x : b.x;
            *lastX = a.x < b.x ? b.x : a.x;
            return 1;
        }
    }
    int32_t xMin = f.p[0].x, xMax = f.p[0].x;
    for (const VXL_POINT &p : f.p) {
        xMin = p.x < xMin ? p.x : xMin;
        xMax = p.x > xMax ? p.x : xMax;
    }
    bool crossed = false;
    int32_t first = INT32_MAX, last = 0;
    for (const auto &edge : kEdges) {
        int32_t x = 0;
        if (edgeRowCrossing(f.p[edge[0]], f.p[edge[1]], xMin, xMax, row, &x)) {
            crossed = true;
            first = x < first ? x : first;
            last = x > last ? x : last;
        }
    }
    if (!crossed)
        return 0;
    *firstX = first;
    *lastX = last;
    return 1;
}

void mapToTemplate16(const MeshTriangle &f, const MeshTriangle &t, VXL_POINT p, int32_t *u,
                     int32_t *v)
{
    int64_t w0 = 0, w1 = 0;
    if (weights(f, p, 20, &w0, &w1)) {
        const int64_t w2 = (int64_t(1) << 20) - w0 - w1;
        *u = int32_t(roundBits(w0 * t.p[0].x + w1 * t.p[1].x + w2 * t.p[2].x, 4));
        *v = int32_t(roundBits(w0 * t.p[0].y + w1 * t.p[1].y + w2 * t.p[2].y, 4));
        return;
    }
    const VXL_POINT &f0 = f.p[0];
    int e = 0;
    if (f.p[1].x != f0.x || f.p[1].y != f0.y)
        e = 1;
    else if (f.p[2].x != f0.x || f.p[2].y != f0.y)
        e = 2;
    if (e == 0) {
        *u = t.p[0].x * 65536;
        *v = t.p[0].y * 65536;
        return;
    }
    const VXL_POINT &fe = f.p[e], &te = t.p[e];
    *u = alongEdge(t.p[0].x, te.x, p.x, f0.x, fe.x, p.y, f0.y, fe.y);
    *v = alongEdge(t.p[0].y, te.y, p.y, f0.y, fe.y, p.x, f0.x, fe.x);
}

int sampleTemplateAt(const MeshTriangle &f, const MeshTriangle &t, VXL_POINT p,
                     const EngineImage *mask, uint8_t *value)
{
    int64_t w0 = 0, w1 = 0;
    if (!weights(f, p, 10, &w0, &w1))
        return 0;
    const int64_t w2 = 1024 - w0 - w1;
    const int64_t x = w0 * t.p[0].x + w1 * t.p[1].x + w2 * t.p[2].x;
    const int64_t y = w0 * t.p[0].y + w1 * t.p[1].y + w2 * t.p[2].y;
    const int64_t ix = x >> 10, iy = y >> 10, fx = x & 1023, fy = y & 1023;
    int32_t sampled = 0;
    if (mask && imageValid(mask) && mask->planes[0].pixels && ix >= 0 && iy >= 0 &&
        ix < mask->width && iy < mask->height) {
        // The last column and row interpolate with themselves.
        const int32_t cx = int32_t(ix), cy = int32_t(iy);
        const int32_t nx = cx == mask->width - 1 ? cx : cx + 1;
        const int32_t ny = cy == mask->height - 1 ? cy : cy + 1;
        sampled = int32_t(bilinearQ10Truncated(maskByte(*mask, cx, cy), maskByte(*mask, nx, cy),
                                               maskByte(*mask, cx, ny), maskByte(*mask, nx, ny),
                                               fx, fy));
    }
    *value = uint8_t(sampled);
    return w0 > 0 && w1 > 0 && w0 + w1 < 1024;
}

// ---- Painting -------------------------------------------------------------------------------

int paintTemplateMesh(InnerEngine *inner, EngineImage *destination, const TemplateMesh *mesh,
                      const FaceWork *face, int32_t target, int32_t strength)
{
    if (!inner || !destinationUsable(destination) || !mesh || !face || !face->points ||
        !mesh->vertexCount || !mesh->triangleCount || !mesh->vertices || !mesh->triangles ||
        !mesh->points)
        return kResultNothingToDo;
    int32_t step = 0, offset = 0;
    if (!paintLayout(destination->format, &step, &offset))
        return kResultUnsupported;
    const int32_t width = destination->width, height = destination->height;

    int32_t top = height, bottom = 0;
    for (int i = 0; i < mesh->vertexCount; ++i) {
        const int32_t y = face->points[mesh->vertices[i]].y;
        top = y < top ? y : top;
        bottom = y > bottom ? y : bottom;
    }
    top = top < 0 ? 0 : (top > height - 1 ? height - 1 : top);
    bottom = bottom < 0 ? 0 : (bottom > height - 1 ? height - 1 : bottom);

    // Rows are painted in row bands, each with span scratch of its own.
    const int32_t bands = rowBandCount(bottom - top + 1, width);
    auto *scratch = static_cast<Span *>(allocatorAlloc(
        inner->allocator, uint32_t(bands) * uint32_t(mesh->triangleCount) * sizeof(Span)));
    if (!scratch)
        return kResultNoMemory;
    const EngineImage &mask = mesh->mask;
    const bool maskUsable = imageValid(&mask) && mask.planes[0].pixels;

    forEachBand(bands, [&](int32_t band) {
        Span *spans = scratch + size_t(band) * size_t(mesh->triangleCount);
        const int32_t endRow = rowBandStart(top, bottom - top + 1, bands, band + 1);
        for (int32_t row = rowBandStart(top, bottom - top + 1, bands, band); row < endRow; ++row) {
            int count = 0;
            std::memset(spans, 0, size_t(mesh->triangleCount) * sizeof(Span));
            for (int t = 0; t < mesh->triangleCount; ++t) {
                MeshTriangle f, tt;
                int32_t first = 0, last = 0;
                if (!meshTriangle(*mesh, *face, t, &f, &tt) || !triangleRowSpan(f, row, &first, &last))
                    continue;
                first = first < 0 ? 0 : first;
                last = last >= width ? width - 1 : last;
                if (first > last)
                    continue;  // wholly left or right of the image
                spans[count++] = {t, first, last};
            }
            if (count == 0)
                continue;
            // Exchange sort: by first x, the wider first among equal starts.
            for (int i = 0; i < count; ++i)
                for (int j = i + 1; j < count; ++j) {
                    const bool later = spans[j].first < spans[i].first ||
                                       (spans[j].first == spans[i].first &&
                                        spans[j].last - spans[j].first > spans[i].last - spans[i].first);
                    if (later) {
                        const Span swap = spans[i];
                        spans[i] = spans[j];
                        spans[j] = swap;
                    }
                }
            // Close gaps: the current span reaches at least to the start of the next.
            Span *current = &spans[0];
            for (int i = 1; i < count; ++i) {
                if (current->last < spans[i].first)
                    current->last = spans[i].first;
                if (current->last < spans[i].last)
                    current = &spans[i];
            }

            uint8_t *rowBytes = destination->planes[0].pixels +
                                size_t(row) * destination->planes[0].stride + offset;
            int32_t painted = spans[0].first - 1;
            for (int i = 0; i < count; ++i) {
                const Span &span = spans[i];
                if (span.last <= painted)
                    continue;
                MeshTriangle f, tt;
                meshTriangle(*mesh, *face, span.triangle, &f, &tt);
                if (span.first == span.last) {
                    uint8_t m = 0;
                    sampleTemplateAt(f, tt, {span.first, row}, &mask, &m);
                    uint8_t &pixel = rowBytes[size_t(span.first) * step];
                    pixel = blend(pixel, m, target, strength);
                } else {
                    int32_t uStart, vStart, uEnd, vEnd;
                    mapToTemplate16(f, tt, {span.first, row}, &uStart, &vStart);
                    mapToTemplate16(f, tt, {span.last, row}, &uEnd, &vEnd);
                    const int32_t length = span.last - span.first;
                    const int32_t du = (uEnd - uStart) / length, dv = (vEnd - vStart) / length;
                    for (int32_t x = painted + 1; x <= span.last; ++x) {
                        const int32_t u = uStart + (x - span.first) * du;
                        const int32_t v = vStart + (x - span.first) * dv;
                        const int32_t iu = u >> 16, iv = v >> 16;
                        if (!maskUsable || iu < 0 || iv < 0 || iu > mask.width - 2 ||
                            iv > mask.height - 2)
                            continue;
                        const int64_t fx = u & 0xffff, fy = v & 0xffff;
                        const int32_t m = int32_t(bilinearQ16Rounded(
                            maskByte(mask, iu, iv), maskByte(mask, iu + 1, iv), maskByte(mask, iu, iv + 1),
                            maskByte(mask, iu + 1, iv + 1), fx, fy));
                        uint8_t &pixel = rowBytes[size_t(x) * step];
                        pixel = blend(pixel, m, target, strength);
                    }
                }
                painted = span.last;
            }
        }
    });
    allocatorFree(inner->allocator, scratch);
    return kResultOk;
}

// ---- Target helpers -------------------------------------------------------------------------

void meshBoundingBox(const EngineImage *image, const TemplateMesh *mesh, const FaceWork *face,
                     EngineRect *out)
{
    *out = EngineRect{};
    if (!image || !mesh || !face || !face->points || !mesh->vertices || !mesh->vertexCount)
        return;
    int32_t minX = INT32_MAX, minY = INT32_MAX, maxX = INT32_MIN, maxY = INT32_MIN;
    for (int i = 0; i < mesh->vertexCount; ++i) {
        const VXL_POINT &p = face->points[mesh->vertices[i]];
        minX = p.x < minX ? p.x : minX;
        minY = p.y < minY ? p.y : minY;
        maxX = p.x > maxX ? p.x : maxX;
        maxY = p.y > maxY ? p.y : maxY;
    }
    out->x = minX > 0 ? minX : 0;
    out->y = minY > 0 ? minY : 0;
    out->width = (maxX < image->width - 1 ? maxX : image->width - 1) - out->x + 1;
    out->height = (maxY < image->height - 1 ? maxY : image->height - 1) - out->y + 1;
}

int lumaPercentile(InnerEngine *inner, const EngineImage *image, const EngineRect *rect,
                   int32_t percent, int32_t *value)
{
    if (!inner || !value || !destinationUsable(image) || !rect || rect->x < 0 || rect->y < 0 ||
        rect->width <= 0 || rect->height <= 0 || rect->x + rect->width > image->width ||
        rect->y + rect->height > image->height)
        return kResultBadArgument;
    int32_t step = 0, offset = 0;
    if (!paintLayout(image->format, &step, &offset))
        return kResultUnsupported;
    auto *histogram =
        static_cast<int32_t *>(allocatorAlloc(inner->allocator, 256 * sizeof(int32_t)));
    if (!histogram)
        return kResultNoMemory;
    std::memset(histogram, 0, 256 * sizeof(int32_t));
    for (int32_t y = rect->y; y < rect->y + rect->height; ++y) {
        const uint8_t *row = image->planes[0].pixels + size_t(y) * image->planes[0].stride + offset;
        for (int32_t x = rect->x; x < rect->x + rect->width; ++x)
            ++histogram[row[size_t(x) * step]];
    }
    const int64_t wanted = int64_t(percent) * rect->width * rect->height;
    int32_t answer = 255;
    if (wanted == 0) {
        answer = 0;
    } else {
        int64_t sum = 0;
        for (int32_t bin = 0; bin < 255; ++bin) {
            sum += histogram[bin];
            if (100 * sum >= wanted) {
                answer = bin + 1;
                break;
            }
        }
    }
    allocatorFree(inner->allocator, histogram);
    *value = answer;
    return kResultOk;
}
