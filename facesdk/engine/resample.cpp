// Image resampling: samplers, dispatchers, rotated extraction and curves.
//
// Divided into: position helpers; the nearest samplers; the bilinear sampler; the format
// dispatch shared by imageResize and resampleImage; the grey helpers; the rotated extraction;
// resampleCurve.
#include "facesdk/engine/resample.h"

#include <algorithm>
#include <cstring>

#include "facesdk/base/fixed_scale.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/engine/row_bands.h"

namespace {

// Positions are 16.16; the largest extent whose positions and steps fit is 32767.
constexpr int32_t kMaxExtent = 32767;

// How many of n positions start, start + step, ... lie before extent (in whole samples). The
// samplers read those directly and clamp the rest to the last sample.
int32_t countInRange(uint32_t start, int32_t step, int32_t extent, int32_t n)
{
    const int64_t limit = int64_t(extent) << 16;
    if (int64_t(start) >= limit)
        return 0;
    if (step <= 0)
        return n;
    const int64_t count = (limit - int64_t(start) + step - 1) / step;
    return int32_t(std::min<int64_t>(count, n));
}

int32_t clampIndex(int64_t index, int32_t extent)
{
    return int32_t(std::clamp<int64_t>(index, 0, extent - 1));
}

bool jobHasWork(const ResampleJob &job)
{
    return job.srcWidth > 0 && job.srcHeight > 0 && job.dstWidth > 0 && job.dstHeight > 0;
}

// 16.16 position rounded to the nearest whole sample; extents keep positions within 32 bits.
int32_t roundPosition(int64_t p)
{
    return roundQ16(int32_t(p));
}

// Calls row(r, y) for destination rows r = first .. first + count - 1, in row bands, with y the
// row's 16.16 source position startY + r stepY (kept in 32 bits, as the step walk keeps it).
template <typename RowFn>
void forEachDestinationRow(const ResampleJob &job, int32_t first, int32_t count, RowFn &&row)
{
    // A row costs what it reads: the source row it samples.
    forEachRowBand(first, count, std::max(job.dstWidth, job.srcWidth), [&](int32_t firstRow, int32_t endRow) {
        uint32_t y = job.startY + uint32_t(firstRow) * uint32_t(job.stepY);
        for (int32_t r = firstRow; r < endRow; ++r, y += uint32_t(job.stepY))
            row(r, y);
    });
}

// The nearest sampler for samples of Bytes bytes.
template <int Bytes>
void sampleNearestBytes(const uint8_t *src, uint8_t *dst, const ResampleJob &job)
{
    if (!jobHasWork(job))
        return;
    const int32_t direct = countInRange(job.startX, job.stepX, job.srcWidth, job.dstWidth);
    forEachDestinationRow(job, 0, job.dstHeight, [&](int32_t r, uint32_t y) {
        const uint8_t *srow = src + int64_t(clampIndex(y >> 16, job.srcHeight)) * job.srcStride;
        uint8_t *drow = dst + int64_t(r) * job.dstStride;
        uint32_t x = job.startX;
        int32_t c = 0;
        // A plain loop over whole samples; the compiler unrolls and schedules it.
        for (; c < direct; ++c, x += uint32_t(job.stepX)) {
            const uint8_t *s = srow + size_t(x >> 16) * Bytes;
            for (int b = 0; b < Bytes; ++b)
                drow[c * Bytes + b] = s[b];
        }
        const uint8_t *last = srow + size_t(job.srcWidth - 1) * Bytes;
        for (; c < job.dstWidth; ++c)
            for (int b = 0; b < Bytes; ++b)
                drow[c * Bytes + b] = last[b];
    });
}

// Packed 4:2:2: each destination pair takes its luma bytes from the 4-byte groups of its two
// pixels' source columns and its chroma from the first pixel's group. lumaFirst: luma in
// bytes 0 and 2 of a group, else in bytes 1 and 3.
void samplePacked422(const uint8_t *src, uint8_t *dst, const ResampleJob &job, bool lumaFirst)
{
    if (!jobHasWork(job))
        return;
    const int32_t lumaA = lumaFirst ? 0 : 1;  // luma of the pair's first pixel
    const int32_t lumaB = lumaA + 2;          // luma of the pair's second pixel
    const int32_t pairs = job.dstWidth / 2;
    forEachDestinationRow(job, 0, job.dstHeight, [&](int32_t r, uint32_t y) {
        const uint8_t *srow = src + int64_t(clampIndex(y >> 16, job.srcHeight)) * job.srcStride;
        uint8_t *drow = dst + int64_t(r) * job.dstStride;
        uint32_t x = job.startX;
        for (int32_t p = 0; p < pairs; ++p) {
            const int32_t c0 = clampIndex(x >> 16, job.srcWidth);
            x += uint32_t(job.stepX);
            const int32_t c1 = clampIndex(x >> 16, job.srcWidth);
            x += uint32_t(job.stepX);
            const uint8_t *g0 = srow + size_t(c0 >> 1) * 4;
            const uint8_t *g1 = srow + size_t(c1 >> 1) * 4;
            uint8_t *d = drow + size_t(p) * 4;
            d[0] = g0[0];
            d[1] = g0[1];
            d[2] = g0[2];
            d[3] = g0[3];
            d[lumaB] = g1[lumaB];
        }
    });
}

}  // namespace

EngineImageView wholeEngineImageView(const EngineImage &image)
{
    EngineImageView view{};
    view.image = image;
    return view;
}

int32_t resampleStep(int32_t extent, int32_t destinationExtent)
{
    if (destinationExtent <= 0)
        return 0;
    const int64_t denominator = (int64_t(destinationExtent) * 2048 + 1) >> 1;
    return int32_t((int64_t(extent) << 26) / denominator);
}

// ---- Samplers -------------------------------------------------------------------------------

void sampleNearest(const uint8_t *src, uint8_t *dst, const ResampleJob &job)
{
    sampleNearestBytes<1>(src, dst, job);
}

void sampleNearestTwoPlanes(const uint8_t *src1, int32_t srcStride1, uint8_t *dst1,
                            int32_t dstStride1, const uint8_t *src2, int32_t srcStride2,
                            uint8_t *dst2, int32_t dstStride2, const ResampleJob &job)
{
    ResampleJob plane = job;
    plane.srcStride = srcStride1;
    plane.dstStride = dstStride1;
    sampleNearestBytes<1>(src1, dst1, plane);
    plane.srcStride = srcStride2;
    plane.dstStride = dstStride2;
    sampleNearestBytes<1>(src2, dst2, plane);
}

void sampleNearest3(const uint8_t *src, uint8_t *dst, const ResampleJob &job)
{
    sampleNearestBytes<3>(src, dst, job);
}

void sampleNearest4(const uint8_t *src, uint8_t *dst, const ResampleJob &job)
{
    sampleNearestBytes<4>(src, dst, job);
}

void sampleNearestYuyv(const uint8_t *src, uint8_t *dst, const ResampleJob &job)
{
    samplePacked422(src, dst, job, true);
}

void sampleNearestUyvy(const uint8_t *src, uint8_t *dst, const ResampleJob &job)
{
    samplePacked422(src, dst, job, false);
}

void sampleBilinear(const uint8_t *src, uint8_t *dst, const ResampleJob &job)
{
    if (!jobHasWork(job))
        return;
    const int32_t w = job.srcWidth;
    const int32_t h = job.srcHeight;
    // Destination columns (rows) that lie before the last source column (row).
    const int64_t mRaw = ((((int64_t(w) - 1) << 16) - int64_t(job.startX)) * job.invStepX) >> 32;
    const int64_t kRaw = ((((int64_t(h) - 1) << 16) - int64_t(job.startY)) * job.invStepY) >> 32;
    const int32_t m = int32_t(std::clamp<int64_t>(mRaw, 0, job.dstWidth));
    const int32_t k = int32_t(std::clamp<int64_t>(kRaw, 0, job.dstHeight));
    const int32_t edgeColumn = m == 0 ? clampIndex(job.startX >> 16, w) : w - 1;

    // Rows before the last source row: both source rows.
    forEachDestinationRow(job, 0, k, [&](int32_t i, uint32_t y) {
        const int32_t f = int32_t(y & 0xffff);
        const uint8_t *s0 = src + int64_t(y >> 16) * job.srcStride;
        const uint8_t *s1 = s0 + job.srcStride;
        uint8_t *d = dst + int64_t(i) * job.dstStride;
        uint32_t x = job.startX;
        int32_t column = -1;
        int32_t a = 0;
        int32_t b = 0;
        for (int32_t j = 0; j < m; ++j, x += uint32_t(job.stepX)) {
            const int32_t c = int32_t(x >> 16);
            if (c != column) {
                column = c;
                a = s0[c] + ((f * (s1[c] - s0[c])) >> 16);
                b = s0[c + 1] + ((f * (s1[c + 1] - s0[c + 1])) >> 16);
            }
            d[j] = uint8_t(a + (((b - a) * int32_t(x & 0xffff)) >> 16));
        }
        const uint8_t edge =
            uint8_t(s0[edgeColumn] + ((f * (s1[edgeColumn] - s0[edgeColumn])) >> 16));
        for (int32_t j = m; j < job.dstWidth; ++j)
            d[j] = edge;
    });
    // Rows at or past the last source row: horizontal interpolation on that row only.
    const uint8_t *last = src + int64_t(h - 1) * job.srcStride;
    forEachRowBand(k, job.dstHeight - k, job.dstWidth, [&](int32_t firstRow, int32_t endRow) {
        for (int32_t i = firstRow; i < endRow; ++i) {
            uint8_t *d = dst + int64_t(i) * job.dstStride;
            uint32_t x = job.startX;
            for (int32_t j = 0; j < m; ++j, x += uint32_t(job.stepX)) {
                const int32_t c = int32_t(x >> 16);
                d[j] = uint8_t(last[c] + (((last[c + 1] - last[c]) * int32_t(x & 0xffff)) >> 16));
            }
            for (int32_t j = m; j < job.dstWidth; ++j)
                d[j] = last[w - 1];
        }
    });
}

// ---- Format dispatch ------------------------------------------------------------------------

namespace {

enum class ResampleMode { WholeImage, Rectangle };

bool formatAccepted(PixelFormat format, ResampleMode mode)
{
    switch (format) {
    case kFormatYuv444Planar:
    case kFormatYuv422Planar:
    case kFormatYuv420Planar:
    case kFormatYuv422Yuyv:
    case kFormatYuv422Uyvy:
    case kFormatYuv420SemiPlanar:
    case kFormatYuv420SemiPlanarCrFirst:
        return true;
    case kFormatRgb24:
    case kFormatRgba32:
        return mode == ResampleMode::WholeImage;
    case kFormatYuv444Packed:
    case kFormatYuv422Packed3:
    case kFormatGrey8:
        return mode == ResampleMode::Rectangle;
    default:
        return false;
    }
}

bool planesPresent(const EngineImage &image)
{
    const int planes = formatPlaneCount(image.format);
    for (int p = 0; p < planes; ++p)
        if (!image.planes[p].pixels || image.planes[p].stride <= 0)
            return false;
    return true;
}

// Window sizes of the view and checks that the rectangle lies inside the window.
bool rectInsideView(const EngineImageView &view, const EngineRect &rect)
{
    const int64_t x = int64_t(rect.x) - view.originX;
    const int64_t y = int64_t(rect.y) - view.originY;
    return rect.width > 0 && rect.height > 0 && x >= 0 && y >= 0 &&
           x + rect.width <= view.image.width && y + rect.height <= view.image.height &&
           rect.width <= kMaxExtent && rect.height <= kMaxExtent;
}

bool destinationUsable(const EngineImage *image)
{
    return image && imageValid(image) && image->width > 0 && image->height > 0 &&
           image->width <= kMaxExtent && image->height <= kMaxExtent && planesPresent(*image);
}

// Number of subsampled chroma samples that the luma span start .. start + extent - 1 touches,
// limited to the samples the plane has.
int32_t chromaExtent(int32_t start, int32_t extent, int shift, int32_t planeSamples)
{
    const int32_t first = start >> shift;
    const int32_t touched = ((start + extent - 1) >> shift) - first + 1;
    return std::min(touched, planeSamples - first);
}

ResampleJob lumaJob(const EngineRect &rect, const EngineImage &src, const EngineImage &dst)
{
    ResampleJob job{};
    job.srcWidth = rect.width;
    job.srcHeight = rect.height;
    job.dstWidth = dst.width;
    job.dstHeight = dst.height;
    job.srcStride = src.planes[0].stride;
    job.dstStride = dst.planes[0].stride;
    job.stepX = resampleStep(rect.width, dst.width);
    job.stepY = resampleStep(rect.height, dst.height);
    return job;
}

const uint8_t *planeAt(const EngineImage &image, int plane, int32_t x, int32_t y, int32_t bytes)
{
    return image.planes[plane].pixels + int64_t(y) * image.planes[plane].stride +
           int64_t(x) * bytes;
}

// The two chroma planes of 0x10200001, 0x20200001 and 0x30200001.
void resamplePlanarChroma(const EngineImage &src, int32_t x, int32_t y, const EngineRect &rect,
                          EngineImage &dst, const ResampleJob &luma)
{
    const int s = src.format == kFormatYuv444Planar ? 0 : 1;
    const int t = src.format == kFormatYuv420Planar ? 1 : 0;
    ResampleJob job = luma;
    job.srcWidth = chromaExtent(x, rect.width, s, src.width >> s);
    job.srcHeight = chromaExtent(y, rect.height, t, src.height >> t);
    job.dstWidth = dst.width >> s;
    job.dstHeight = dst.height >> t;
    if (s != 0 && (rect.x & 1))
        job.startX = 0x8000;
    // Only subsampled rows start half a sample in: 4:2:2 chroma rows are whole rows.
    if (t != 0 && (rect.y & 1))
        job.startY = 0x8000;
    sampleNearestTwoPlanes(planeAt(src, 1, x >> s, y >> t, 1), src.planes[1].stride,
                           dst.planes[1].pixels, dst.planes[1].stride,
                           planeAt(src, 2, x >> s, y >> t, 1), src.planes[2].stride,
                           dst.planes[2].pixels, dst.planes[2].stride, job);
}

// The interleaved chroma pairs of 0x30100001 and 0x30100002.
void resampleSemiPlanarChroma(const EngineImage &src, int32_t x, int32_t y,
                              const EngineRect &rect, EngineImage &dst, const ResampleJob &luma)
{
    const int32_t firstRow = y / 2;
    const int32_t firstPair = x / 2;
    const int32_t rows = chromaExtent(y, rect.height, 1, src.height / 2);
    const int32_t pairs = chromaExtent(x, rect.width, 1, src.width / 2);
    if (rows <= 0 || pairs <= 0)
        return;
    const uint8_t *base = planeAt(src, 1, firstPair, firstRow, 2);
    uint32_t v = 0;
    for (int32_t r = 0; r < dst.height / 2; ++r, v += uint32_t(luma.stepY)) {
        const uint8_t *srow = base + int64_t(clampIndex(v >> 16, rows)) * src.planes[1].stride;
        uint8_t *drow = dst.planes[1].pixels + int64_t(r) * dst.planes[1].stride;
        uint32_t u = (rect.x & 1) ? 0x8000 : 0;
        for (int32_t p = 0; p < dst.width / 2; ++p, u += 2 * uint32_t(luma.stepX)) {
            const uint8_t *pair = srow + size_t(clampIndex(u >> 17, pairs)) * 2;
            drow[2 * p] = pair[0];
            drow[2 * p + 1] = pair[1];
        }
    }
}

int resampleFormat(const EngineImageView &view, const EngineRect &rect, EngineImage &dst,
                   ResampleMode mode)
{
    const EngineImage &src = view.image;
    if (!imageValid(&src) || !planesPresent(src) || !destinationUsable(&dst))
        return kResultBadArgument;
    if (!formatAccepted(src.format, mode))
        return kResultUnsupported;
    if (dst.format != src.format || !rectInsideView(view, rect))
        return kResultBadArgument;

    // Rectangle position inside the window.
    const int32_t x = rect.x - view.originX;
    const int32_t y = rect.y - view.originY;
    ResampleJob job = lumaJob(rect, src, dst);

    switch (src.format) {
    case kFormatGrey8:
        sampleNearest(planeAt(src, 0, x, y, 1), dst.planes[0].pixels, job);
        return kResultOk;
    case kFormatYuv444Packed:
    case kFormatRgb24:
        sampleNearest3(planeAt(src, 0, x, y, 3), dst.planes[0].pixels, job);
        return kResultOk;
    case kFormatRgba32:
        sampleNearest4(planeAt(src, 0, x, y, 4), dst.planes[0].pixels, job);
        return kResultOk;
    case kFormatYuv422Yuyv:
    case kFormatYuv422Packed3:
    case kFormatYuv422Uyvy: {
        // Sample from the start of the pair that holds the first pixel.
        const int32_t odd = rect.x & 1;
        const int32_t pairStart = std::max(x - odd, 0);
        job.startX = uint32_t(x - pairStart) << 16;
        job.srcWidth = rect.width + (x - pairStart);
        const uint8_t *base = planeAt(src, 0, pairStart, y, 2);
        if (src.format == kFormatYuv422Uyvy)
            sampleNearestUyvy(base, dst.planes[0].pixels, job);
        else
            sampleNearestYuyv(base, dst.planes[0].pixels, job);
        return kResultOk;
    }
    case kFormatYuv444Planar:
    case kFormatYuv422Planar:
    case kFormatYuv420Planar:
        sampleNearest(planeAt(src, 0, x, y, 1), dst.planes[0].pixels, job);
        resamplePlanarChroma(src, x, y, rect, dst, job);
        return kResultOk;
    case kFormatYuv420SemiPlanar:
    case kFormatYuv420SemiPlanarCrFirst:
        sampleNearest(planeAt(src, 0, x, y, 1), dst.planes[0].pixels, job);
        resampleSemiPlanarChroma(src, x, y, rect, dst, job);
        return kResultOk;
    default:
        return kResultUnsupported;
    }
}

// The view's plane 0 as one grey plane, and the start of the rectangle in it.
bool greyViewUsable(const EngineImageView *view, const EngineRect *rect, const EngineImage *dst)
{
    return view && rect && view->image.planes[0].pixels && view->image.planes[0].stride > 0 &&
           rectInsideView(*view, *rect) && dst && dst->planes[0].pixels && dst->width > 0 &&
           dst->height > 0 && dst->width <= kMaxExtent && dst->height <= kMaxExtent &&
           dst->planes[0].stride >= dst->width;
}

}  // namespace

int imageResize(const EngineImage *source, EngineImage *destination)
{
    if (!source || !destination)
        return kResultBadArgument;
    const EngineImageView view = wholeEngineImageView(*source);
    const EngineRect whole{0, 0, source->width, source->height};
    return resampleFormat(view, whole, *destination, ResampleMode::WholeImage);
}

int resampleImage(const EngineImageView *view, const EngineRect *rect, EngineImage *destination)
{
    if (!view || !rect || !destination)
        return kResultBadArgument;
    return resampleFormat(*view, *rect, *destination, ResampleMode::Rectangle);
}

int resizeGreyRegion(const EngineImageView *view, const EngineRect *rect, EngineImage *destination)
{
    if (!greyViewUsable(view, rect, destination))
        return kResultBadArgument;
    const EngineImage &src = view->image;
    const ResampleJob job = lumaJob(*rect, src, *destination);
    sampleNearest(planeAt(src, 0, rect->x - view->originX, rect->y - view->originY, 1),
                  destination->planes[0].pixels, job);
    return kResultOk;
}

int resizePlaneBilinear(const EngineImageView *view, const EngineRect *rect, EngineImage *destination)
{
    if (!greyViewUsable(view, rect, destination))
        return kResultBadArgument;
    const EngineImage &src = view->image;
    ResampleJob job = lumaJob(*rect, src, *destination);
    job.invStepX = resampleStep(destination->width, rect->width);
    job.invStepY = resampleStep(destination->height, rect->height);
    sampleBilinear(planeAt(src, 0, rect->x - view->originX, rect->y - view->originY, 1),
                   destination->planes[0].pixels, job);
    return kResultOk;
}

// ---- Rotated grey patch ---------------------------------------------------------------------

namespace {

// Reads the luma of one pixel of the window: plane 0 at (column x bytes + offset).
struct LumaReader {
    const uint8_t *base;   // plane 0 at the rectangle's top-left pixel
    int32_t stride;        // bytes per row
    int32_t pixelBytes;    // 1 for plane formats, 2 for packed 4:2:2
    int32_t lumaOffset;    // byte of the luma within a pixel
    int32_t minColumn;     // clamp range, relative to the rectangle
    int32_t maxColumn;
    int32_t maxRow;
    uint8_t at(int64_t column, int64_t row) const
    {
        column = std::clamp<int64_t>(column, minColumn, maxColumn);
        row = std::clamp<int64_t>(row, 0, maxRow);
        return base[row * stride + column * pixelBytes + lumaOffset];
    }
};

int extractRotated(const EngineImageView *view, const EngineRect *rect, EngineImage *dst, int angle,
                   int32_t pixelBytes, int32_t lumaOffset)
{
    if (!greyViewUsable(view, rect, dst))
        return kResultBadArgument;
    if (angle != 0 && angle != 90 && angle != -90 && angle != 180)
        return kResultBadArgument;
    const EngineImage &src = view->image;
    const int32_t x = rect->x - view->originX;
    const int32_t y = rect->y - view->originY;
    // A reversed axis starts one past the rectangle; that sample is clamped to the window.
    const LumaReader reader{planeAt(src, 0, x, y, pixelBytes), src.planes[0].stride,
                            pixelBytes, lumaOffset, -x, src.width - 1 - x, src.height - 1 - y};
    const int32_t w = rect->width;
    const int32_t h = rect->height;
    const int32_t W = dst->width;
    const int32_t H = dst->height;
    uint8_t *out = dst->planes[0].pixels;
    const int32_t stride = dst->planes[0].stride;

    if (angle == 0 || angle == 180) {
        const int64_t stepX = resampleStep(w, W);
        const int64_t stepY = resampleStep(h, H);
        for (int32_t i = 0; i < H; ++i) {
            const int64_t rowPos = angle == 0 ? i * stepY : (int64_t(h) << 16) - i * stepY;
            uint8_t *d = out + int64_t(i) * stride;
            for (int32_t j = 0; j < W; ++j)
                d[j] = reader.at((j * stepX) >> 16, rowPos >> 16);
        }
        return kResultOk;
    }
    // Destination row i follows a source column, destination column j a source row.
    const int64_t columnStep = resampleStep(w, H);
    const int64_t rowStep = resampleStep(h, W);
    for (int32_t i = 0; i < H; ++i) {
        const int64_t columnPos =
            angle == 90 ? (int64_t(w) << 16) - i * columnStep : i * columnStep;
        const int32_t column = roundPosition(columnPos);
        uint8_t *d = out + int64_t(i) * stride;
        for (int32_t j = 0; j < W; ++j) {
            const int64_t rowPos = angle == 90 ? j * rowStep : (int64_t(h) << 16) - j * rowStep;
            d[j] = reader.at(column, roundPosition(rowPos));
        }
    }
    return kResultOk;
}

}  // namespace

int extractRotatedGrey(const EngineImageView *view, const EngineRect *rect, EngineImage *destination,
                       int angle)
{
    if (!view)
        return kResultBadArgument;
    const PixelFormat format = view->image.format;
    const uint32_t family = formatFamily(format);
    if (family < kFamilyYuv444 || family > kFamilyGrey || bytesPerPixel(format) != 1)
        return kResultUnsupported;
    return extractRotated(view, rect, destination, angle, 1, 0);
}

int extractRotatedGreyPacked(const EngineImageView *view, const EngineRect *rect,
                             EngineImage *destination, int angle)
{
    if (!view)
        return kResultBadArgument;
    const PixelFormat format = view->image.format;
    if (format != kFormatYuv422Yuyv && format != kFormatYuv422Uyvy &&
        format != kFormatYuv422Packed3)
        return kResultUnsupported;
    return extractRotated(view, rect, destination, angle, 2, format == kFormatYuv422Uyvy ? 1 : 0);
}

// ---- Curves ---------------------------------------------------------------------------------

void resampleCurve(const int32_t *source, int32_t sourceCount, int32_t *destination,
                   int32_t destinationCount)
{
    if (!source || !destination || sourceCount < 1 || destinationCount < 1)
        return;
    if (sourceCount == destinationCount) {
        std::memmove(destination, source, size_t(sourceCount) * sizeof(int32_t));
        return;
    }
    const int64_t a = int64_t(sourceCount) * 1024 / destinationCount;
    if (destinationCount < sourceCount) {
        for (int32_t i = 0; i < destinationCount; ++i) {
            const int64_t c = i * a;
            destination[i] = source[std::min<int64_t>(((c >> 9) + 1) >> 1, sourceCount - 1)];
        }
        return;
    }
    if (sourceCount < 2) {
        std::fill(destination, destination + destinationCount, source[0]);
        return;
    }
    const int64_t b = int64_t(destinationCount) * 1024 / sourceCount;
    const int64_t lastSegment = sourceCount - 2;
    // Destination span [first, last] of source segment k .. k + 1. The last segment reaches the
    // last destination point, so the curve's end value is kept whatever the ratio.
    auto spanFirst = [&](int64_t k) {
        return std::min<int64_t>((k * b + 1023) >> 10, destinationCount - 2);
    };
    auto spanLast = [&](int64_t k) {
        return k == lastSegment ? int64_t(destinationCount) - 1
                                : std::min<int64_t>(((k + 1) * b + 1023) >> 10, destinationCount - 1);
    };
    for (int32_t i = 0; i < destinationCount; ++i) {
        int64_t k = std::min<int64_t>((1023 + i * a) >> 10, lastSegment);
        // The rounded-up segment guess can land one segment past the point; move to the segment
        // whose span holds the point, so it is interpolated, never extrapolated.
        while (k > 0 && i < spanFirst(k))
            --k;
        while (k < lastSegment && i > spanLast(k))
            ++k;
        const int64_t d = spanFirst(k);
        const int64_t e = spanLast(k);
        const int64_t delta = int64_t(source[k + 1]) - source[k];
        destination[i] = e > d ? int32_t(source[k] + delta * (i - d) / (e - d)) : source[k];
    }
}
