// Engine images: layout, allocation, clone, crop, sampling into grey, chroma swap, rectangles.
#include "facesdk/engine/image.h"

#include <algorithm>
#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/resample.h"
#include "facesdk/engine/row_bands.h"

// ---- Layout table -------------------------------------------------------------------------

namespace {

// How one allocatable format lays out its planes. Plane 0 is firstBytes x w bytes by h rows;
// each further plane is (w x chromaWidthFactor) >> chromaWidthShift bytes by
// h >> chromaHeightShift rows.
struct FormatLayout {
    PixelFormat format;
    uint8_t firstBytes;        // bytes per pixel of plane 0
    uint8_t chromaPlanes;      // planes after the first
    uint8_t chromaWidthFactor;
    uint8_t chromaWidthShift;
    uint8_t chromaHeightShift;
    bool croppable;            // cropImage handles it
};

constexpr FormatLayout kLayouts[] = {
    {kFormatYuv444Packed, 3, 0, 0, 0, 0, true},
    {kFormatRgb24, 3, 0, 0, 0, 0, true},
    {kFormatBgr24, 3, 0, 0, 0, 0, false},
    {kFormatYuv422Yuyv, 2, 0, 0, 0, 0, true},
    {kFormatYuv422Uyvy, 2, 0, 0, 0, 0, true},
    {kFormatGrey8, 1, 0, 0, 0, 0, true},
    {kFormatRgb32, 4, 0, 0, 0, 0, false},
    {kFormatRgba32, 4, 0, 0, 0, 0, false},
    {kFormatBgr32, 4, 0, 0, 0, 0, false},
    {kFormatBgra32, 4, 0, 0, 0, 0, false},
    {kFormatYuv444Planar, 1, 2, 1, 0, 0, true},
    {kFormatYuv422SemiPlanar, 1, 1, 2, 0, 0, false},
    {kFormatYuv422Planar, 1, 2, 1, 1, 0, true},
    {kFormatYuv420SemiPlanar, 1, 1, 1, 0, 1, true},
    {kFormatYuv420SemiPlanarCrFirst, 1, 1, 1, 0, 1, false},
    {kFormatYuv420Planar, 1, 2, 1, 1, 1, true},
};

const FormatLayout *findLayout(PixelFormat format)
{
    for (const FormatLayout &layout : kLayouts)
        if (layout.format == format)
            return &layout;
    return nullptr;
}

// Row bytes and row offset of plane p at pixel (x, y) under the layout.
int64_t planeColumnBytes(const FormatLayout &layout, int plane, int64_t x)
{
    if (plane == 0)
        return x * layout.firstBytes;
    return (x * layout.chromaWidthFactor) >> layout.chromaWidthShift;
}

int64_t planeRow(const FormatLayout &layout, int plane, int64_t y)
{
    return plane == 0 ? y : y >> layout.chromaHeightShift;
}

// Planes of an image of this layout and size; false when a plane would be empty (chroma of a
// one-pixel side) or would not fit one 32-bit allocation.
bool layoutPlanes(const FormatLayout &layout, int32_t width, int32_t height, PlaneLayout out[4])
{
    constexpr int64_t kLargestPlane = int64_t(UINT32_MAX) - 67;  // what the allocator can serve
    const int count = 1 + layout.chromaPlanes;
    for (int p = 0; p < count; ++p) {
        const int64_t rowBytes = planeColumnBytes(layout, p, width);
        const int64_t rows = planeRow(layout, p, height);
        if (rowBytes <= 0 || rows <= 0 || rowBytes > INT32_MAX || rowBytes * rows > kLargestPlane)
            return false;
        out[p] = {int32_t(rowBytes), int32_t(rows)};
    }
    return true;
}

// Every plane the format counts has a pointer and a positive stride.
bool planesPresent(const EngineImage &image, int count)
{
    for (int p = 0; p < count; ++p)
        if (!image.planes[p].pixels || image.planes[p].stride <= 0)
            return false;
    return true;
}

// Rows of one plane into another, in row bands.
void copyRows(const EnginePlane &from, int64_t fromColumn, int64_t fromRow, const EnginePlane &to,
              int64_t rowBytes, int64_t rows)
{
    const uint8_t *source = from.pixels + fromRow * from.stride + fromColumn;
    forEachRowBand(0, int32_t(rows), rowBytes, [&](int32_t firstRow, int32_t endRow) {
        for (int64_t r = firstRow; r < endRow; ++r)
            std::memcpy(to.pixels + r * to.stride, source + r * from.stride, size_t(rowBytes));
    });
}

}  // namespace

int imageValid(const EngineImage *image)
{
    if (!image || image->width == 0 || image->height == 0 || image->format == 0)
        return 0;
    for (const EnginePlane &plane : image->planes)
        if (plane.pixels && plane.stride != 0)
            return 1;
    return 0;
}

int imagePlaneLayout(PixelFormat format, int32_t width, int32_t height, PlaneLayout layout[4])
{
    const FormatLayout *formatLayout = findLayout(format);
    if (!formatLayout || !layout || width <= 0 || height <= 0 ||
        !layoutPlanes(*formatLayout, width, height, layout))
        return kResultBadArgument;
    return 1 + formatLayout->chromaPlanes;
}

// ---- Allocation ---------------------------------------------------------------------------

int imageAllocate(EngineAllocator *allocator, EngineImage *out, int32_t width, int32_t height,
                  PixelFormat format)
{
    if (!out || !allocator)
        return kResultBadArgument;
    std::memset(out, 0, sizeof *out);
    PlaneLayout layout[4];
    const int count = imagePlaneLayout(format, width, height, layout);
    if (count < 0)
        return count;
    for (int p = 0; p < count; ++p) {
        const uint32_t bytes = uint32_t(layout[p].rowBytes) * uint32_t(layout[p].rows);
        auto *pixels = static_cast<uint8_t *>(allocatorAlloc(allocator, bytes));
        if (!pixels) {
            imageRelease(allocator, out);
            return kResultNoMemory;
        }
        out->planes[p].stride = layout[p].rowBytes;
        out->planes[p].pixels = pixels;
    }
    out->format = format;
    out->width = width;
    out->height = height;
    return kResultOk;
}

int allocateGreyFilled(EngineAllocator *allocator, EngineImage *out, int32_t width, int32_t height,
                       uint8_t value)
{
    const int result = imageAllocate(allocator, out, width, height, kFormatGrey8);
    if (result != kResultOk)
        return result;
    // Fresh blocks are mostly fresh pages: the first write to each costs a fault, so the rows are
    // shared out.
    const EnginePlane &plane = out->planes[0];
    forEachRowBand(0, height, width, [&](int32_t y0, int32_t y1) {
        for (int32_t y = y0; y < y1; ++y)
            std::memset(plane.pixels + size_t(y) * plane.stride, value, size_t(width));
    });
    return result;
}

void imageRelease(EngineAllocator *allocator, EngineImage *image)
{
    if (!image)
        return;
    // A record that failed half-way has no format yet; free whatever planes it holds.
    const int count = image->format ? formatPlaneCount(image->format) : 4;
    for (int p = 0; p < count; ++p)
        if (image->planes[p].pixels)
            allocatorFree(allocator, image->planes[p].pixels);
    std::memset(image, 0, sizeof *image);
}

int imageClone(EngineAllocator *allocator, const EngineImage *source, EngineImage *out)
{
    if (out)
        std::memset(out, 0, sizeof *out);
    if (!imageValid(source) || !planesPresent(*source, formatPlaneCount(source->format)))
        return kResultBadArgument;
    const int result = imageAllocate(allocator, out, source->width, source->height, source->format);
    if (result != kResultOk)
        return result;
    PlaneLayout layout[4];
    const int count = imagePlaneLayout(source->format, source->width, source->height, layout);
    for (int p = 0; p < count; ++p) {
        const int32_t rowBytes = std::min(source->planes[p].stride, out->planes[p].stride);
        copyRows(source->planes[p], 0, 0, out->planes[p], rowBytes, layout[p].rows);
    }
    return kResultOk;
}

int makeWorkingCopy(EngineAllocator *allocator, const EngineImage *image, uint32_t maxSide,
                    EngineImage *out)
{
    if (out)
        std::memset(out, 0, sizeof *out);
    if (!out || !imageValid(image) || maxSide == 0 || image->width < 0 || image->height < 0)
        return kResultBadArgument;
    const uint32_t width = uint32_t(image->width), height = uint32_t(image->height);
    if (std::max(width, height) <= maxSide)
        return imageClone(allocator, image, out);
    uint32_t newWidth, newHeight;
    if (width > height) {
        newWidth = maxSide;
        newHeight = uint32_t(uint64_t(height) * maxSide / width);
    } else {
        newHeight = maxSide;
        newWidth = uint32_t(uint64_t(width) * maxSide / height);
    }
    evenSizeUpForFamily(image->format, &newWidth, &newHeight);
    if (newWidth >= width)
        return imageClone(allocator, image, out);
    const int result = imageAllocate(allocator, out, int32_t(newWidth), int32_t(newHeight), image->format);
    if (result != kResultOk)
        return result;
    // A format the resampler does not handle would leave the copy unfilled: refuse it.
    const int resized = imageResize(image, out);
    if (resized != kResultOk) {
        imageRelease(allocator, out);
        return resized;
    }
    return kResultOk;
}

int cropImage(EngineAllocator *allocator, const EngineRect *rect, const EngineImage *image,
              EngineImage *out)
{
    if (out)
        std::memset(out, 0, sizeof *out);
    if (!out || !imageValid(image) || !rect || !rectInsideImage(*rect, image->width, image->height))
        return kResultBadArgument;
    EngineRect r = *rect;
    evenRectForFamily(&r, image->format);
    const FormatLayout *layout = findLayout(image->format);
    if (!layout || !layout->croppable)
        return kResultUnsupported;
    const int count = 1 + layout->chromaPlanes;
    if (!planesPresent(*image, count))
        return kResultBadArgument;
    const int result = imageAllocate(allocator, out, r.width, r.height, image->format);
    if (result != kResultOk)
        return result;
    for (int p = 0; p < count; ++p)
        copyRows(image->planes[p], planeColumnBytes(*layout, p, r.x), planeRow(*layout, p, r.y),
                 out->planes[p], planeColumnBytes(*layout, p, r.width),
                 planeRow(*layout, p, r.height));
    return kResultOk;
}

// ---- Sampling into grey -------------------------------------------------------------------

namespace {

// Where sampling starts and how it steps through the source.
struct SampleWalk {
    const uint8_t *firstRow;  // start of the first source row read
    int64_t column;           // byte of the first sample in its row
    int64_t columnStep;       // bytes per output pixel
    int64_t lastColumn;       // last byte of a row that holds samples
    int64_t rowStep;          // bytes per output row
};

int checkSampling(const EngineImage *image, int selector, const EngineRect *rect,
                  const EngineImage *grey)
{
    if (!image || !rect || !grey || !grey->planes[0].pixels || grey->width <= 0 ||
        grey->height <= 0 || selector < kSelectLuma || selector > kSelectCr)
        return kResultBadArgument;
    if (!rectInsideImage(*rect, image->width, image->height))
        return kResultBadArgument;
    return kResultOk;
}

void zeroGrey(EngineImage *grey)
{
    std::memset(grey->planes[0].pixels, 0, size_t(grey->width) * size_t(grey->height));
}

void walkIntoGrey(const SampleWalk &walk, EngineImage *grey)
{
    // Interleaved chroma read at the rectangle's right edge can step one sample past the row
    // (the column step does not follow the pairs); such reads take the row's last sample.
    // A row costs what it reads: the source rows it steps over.
    forEachRowBand(0, grey->height, std::max<int64_t>(grey->width, walk.rowStep), [&](int32_t firstRow, int32_t endRow) {
        uint8_t *target = grey->planes[0].pixels + int64_t(firstRow) * grey->width;
        const uint8_t *row = walk.firstRow + int64_t(firstRow) * walk.rowStep;
        for (int32_t y = firstRow; y < endRow; ++y, row += walk.rowStep) {
            int64_t column = walk.column;
            for (int32_t x = 0; x < grey->width; ++x, column += walk.columnStep)
                *target++ = row[std::min(column, walk.lastColumn)];
        }
    });
}

}  // namespace

int copyPlaneToGrey(const EngineImage *image, int selector, const EngineRect *rect,
                    EngineImage *grey)
{
    const int check = checkSampling(image, selector, rect, grey);
    if (check != kResultOk)
        return check;
    const uint32_t sx = uint32_t(rect->width) / uint32_t(grey->width);
    const uint32_t sy = uint32_t(rect->height) / uint32_t(grey->height);
    const PixelFormat format = image->format;
    const bool planar = format == kFormatYuv444Planar || format == kFormatYuv422Planar ||
                        format == kFormatYuv420Planar;
    const bool semiPlanar =
        format == kFormatYuv420SemiPlanar || format == kFormatYuv420SemiPlanarCrFirst;
    if (!planar && !semiPlanar && format != kFormatGrey8) {
        zeroGrey(grey);
        return kResultUnsupported;
    }
    int plane = 0;
    int64_t column = rect->x, row = rect->y, columnStep = sx, rowStep = sy;
    if (selector != kSelectLuma && format != kFormatGrey8) {
        if (format == kFormatYuv444Planar) {
            plane = selector;
        } else if (planar) {
            plane = selector;
            column = rect->x / 2;
            columnStep = sx / 2;
            if (format == kFormatYuv420Planar) {
                row = rect->y / 2;
                rowStep = sy / 2;
            }
        } else {
            // Interleaved pairs: Cb on the even byte, Cr on the odd one (swapped for Cr-first).
            const bool wantEven = (selector == kSelectCb) == (format == kFormatYuv420SemiPlanar);
            plane = 1;
            column = wantEven ? (rect->x & ~1) : (rect->x | 1);
            row = rect->y / 2;
            rowStep = sy / 2;
        }
    }
    const EnginePlane &source = image->planes[plane];
    if (!source.pixels || source.stride <= 0)
        return kResultBadArgument;
    // Bytes of a row that hold samples: the plane's width for luma, 4:4:4 chroma and the
    // interleaved pairs, half of it for the 4:2:x chroma planes.
    const int64_t rowBytes = plane != 0 && planar && format != kFormatYuv444Planar
                                 ? image->width / 2
                                 : image->width;
    walkIntoGrey({source.pixels + row * source.stride, column, columnStep, rowBytes - 1,
                  rowStep * source.stride},
                 grey);
    return kResultOk;
}

int copyPackedPlaneToGrey(const EngineImage *image, int selector, const EngineRect *rect,
                          EngineImage *grey)
{
    const int check = checkSampling(image, selector, rect, grey);
    if (check != kResultOk)
        return check;
    if (image->format != kFormatYuv422Yuyv && image->format != kFormatYuv422Uyvy) {
        zeroGrey(grey);
        return kResultUnsupported;
    }
    const EnginePlane &source = image->planes[0];
    if (!source.pixels || source.stride <= 0)
        return kResultBadArgument;
    const uint32_t sx = uint32_t(rect->width) / uint32_t(grey->width);
    const uint32_t sy = uint32_t(rect->height) / uint32_t(grey->height);
    const bool evenX = (rect->x & 1) == 0;
    // Offsets of luma, Cb and Cr from byte 2x of the row.
    int offset;
    if (image->format == kFormatYuv422Yuyv)
        offset = selector == kSelectLuma ? 0 : (selector == kSelectCb) == evenX ? 1 : 3;
    else
        offset = selector == kSelectLuma ? 1 : (selector == kSelectCb) == evenX ? 0 : 2;
    walkIntoGrey({source.pixels + int64_t(rect->y) * source.stride, 2 * int64_t(rect->x) + offset,
                  2 * int64_t(sx), 2 * int64_t(image->width) - 1, int64_t(sy) * source.stride},
                 grey);
    return kResultOk;
}

int swapChromaBytes(uint8_t *pixels, int32_t stride, int32_t rows)
{
    if (!pixels || stride <= 0 || rows <= 0 || (stride & 1))
        return 0;
    for (int32_t r = 0; r < rows; ++r) {
        uint8_t *pair = pixels + int64_t(r) * stride;
        for (int32_t i = 0; i < stride / 2; ++i, pair += 2)
            std::swap(pair[0], pair[1]);
    }
    return 1;
}

// ---- Rectangles ---------------------------------------------------------------------------

int rectInsideImage(const EngineRect &r, int32_t width, int32_t height)
{
    return r.x >= 0 && r.y >= 0 && r.width > 0 && r.height > 0 &&
           int64_t(r.x) + r.width <= width && int64_t(r.y) + r.height <= height;
}

int rectsOverlap(const EngineRect &a, const EngineRect &b)
{
    return std::min(int64_t(a.x) + a.width, int64_t(b.x) + b.width) >= std::max(a.x, b.x) &&
           std::min(int64_t(a.y) + a.height, int64_t(b.y) + b.height) >= std::max(a.y, b.y);
}

int rectNeedsClamp(const EngineRect &r, int32_t width, int32_t height)
{
    const int64_t w = width, h = height;
    const bool inside = r.x >= 0 && r.x <= w - 1 && r.y >= 0 && r.y <= h - 1 && r.width >= 0 &&
                        r.width <= w - r.x && r.height >= 0 && r.height <= h - r.y;
    return inside ? 0 : 1;
}

int faceRegionValid(const EngineRect *face, const EngineRect *eye1, const EngineRect *eye2,
                    int32_t width, int32_t height)
{
    if (!face || !eye1 || !eye2 || rectNeedsClamp(*face, width, height))
        return 0;
    for (const EngineRect *eye : {eye1, eye2}) {
        if (eye->width == 0 || eye->height == 0)
            continue;
        if (!rectInsideImage(*eye, width, height) || !rectsOverlap(*eye, *face))
            return 0;
    }
    return 1;
}

// ---- Chroma evening -----------------------------------------------------------------------

void evenRectForFamily(EngineRect *rect, PixelFormat format)
{
    evenSizeForFamily(format, &rect->x, &rect->y);
    evenSizeForFamily(format, &rect->width, &rect->height);
}

void evenRectGrownForFamily(EngineRect *rect, PixelFormat format)
{
    evenSizeForFamily(format, &rect->x, &rect->y);
    evenSizeUpForFamily(format, &rect->width, &rect->height);
}
