// Warp mesh apply: faces and bands, the sliding working copy, sharing rows out to worker
// threads, and the per-format row routines.
#include "facesdk/engine/warp_apply.h"

#include <algorithm>
#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/image.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/row_bands.h"
#include "facesdk/engine/warp_anchor.h"

namespace {

constexpr int32_t kBandBytes = 1 << 22;    // pixel data a band aims at
constexpr int32_t kMinimumBandRows = 10;
constexpr int32_t kQuarterJobs = 4;
constexpr int32_t kPoolJobRows = 75;

// ---- Plane geometry of the formats with a warp ----------------------------------------------

// Plane p of a format: bytes of x pixels are (x x bytesPerPixel) >> columnShift, rows y >> rowShift.
struct PlaneGeometry {
    int32_t planes;
    int32_t bytesPerPixel[3];
    int32_t columnShift[3];
    int32_t rowShift[3];
};

bool warpGeometry(PixelFormat format, PlaneGeometry *g)
{
    switch (format) {
    case kFormatYuv422Yuyv:
    case kFormatYuv422Uyvy: *g = {1, {2, 0, 0}, {0, 0, 0}, {0, 0, 0}}; return true;
    case kFormatYuv422Planar: *g = {3, {1, 1, 1}, {0, 1, 1}, {0, 0, 0}}; return true;
    case kFormatYuv420SemiPlanar: *g = {2, {1, 1, 0}, {0, 0, 0}, {0, 1, 0}}; return true;
    case kFormatYuv420Planar: *g = {3, {1, 1, 1}, {0, 1, 1}, {0, 1, 1}}; return true;
    default: return false;
    }
}

int64_t planeBytes(const PlaneGeometry &g, int p, int64_t x)
{
    return (x * g.bytesPerPixel[p]) >> g.columnShift[p];
}

// ---- Working copy ---------------------------------------------------------------------------

// Slides the copy down by s rows (even) for the band and reads the new rows from the image.
int scrollWorkingCopy(WarpMesh *mesh, const EngineImage *image, int32_t s)
{
    PlaneGeometry g;
    if (!warpGeometry(image->format, &g))
        return kResultBadArgument;
    EngineImage &copy = mesh->workingCopy;
    const int32_t kept = std::max(copy.height - s, 0);
    mesh->workingY += s;
    const int32_t wanted = std::min(s, copy.height - kept);
    const int32_t copied = std::max(0, std::min(wanted, image->height - (mesh->workingY + kept)));
    for (int p = 0; p < g.planes; ++p) {
        const EnginePlane &to = copy.planes[p];
        const EnginePlane &from = image->planes[p];
        const int64_t rowBytes = planeBytes(g, p, copy.width);
        const int32_t shift = g.rowShift[p];
        const int32_t keptRows = kept >> shift;
        // Kept rows move up by s. In runs of at most s rows, a run's rows are read from rows that
        // no row of the run writes, so a run is shared out in bands and the runs go in order;
        // runs too small to share out move on this thread.
        const int32_t up = s >> shift;
        const auto moveRows = [&](int32_t firstRow, int32_t endRow) {
            for (int32_t r = firstRow; r < endRow; ++r)
                std::memmove(to.pixels + int64_t(r) * to.stride,
                             to.pixels + int64_t(r + up) * to.stride, size_t(rowBytes));
        };
        if (up > 0)
            for (int32_t first = 0; first < keptRows; first += up)
                forEachRowBand(first, std::min(up, keptRows - first), rowBytes, moveRows);
        const int64_t firstImageRow = int64_t(mesh->workingY + kept) >> shift;
        const int64_t column = planeBytes(g, p, mesh->workingX);
        forEachRowBand(0, copied >> shift, rowBytes, [&](int32_t firstRow, int32_t endRow) {
            for (int32_t r = firstRow; r < endRow; ++r)
                std::memcpy(to.pixels + int64_t(keptRows + r) * to.stride,
                            from.pixels + (firstImageRow + r) * from.stride + column, size_t(rowBytes));
        });
    }
    copy.height = kept + copied;
    return kResultOk;
}

int prepareWorkingCopy(EngineAllocator *allocator, WarpMesh *mesh, const EngineImage *image,
                       const EngineRect &band, int32_t margin)
{
    const int32_t height = image->height;
    if (!mesh->workingCopy.planes[0].pixels) {
        const int32_t left = std::max(band.x, 0);
        EngineRect rect;
        rect.x = left & ~1;
        rect.width = (std::min(band.x + band.width, image->width) - left) & ~1;
        rect.y = std::max(band.y - margin, 0) & ~1;
        rect.height = std::min(band.height + 2 * margin, height - rect.y);
        const int result = cropImage(allocator, &rect, image, &mesh->workingCopy);
        if (result != kResultOk)
            return result;
        mesh->workingX = rect.x;
        mesh->workingY = rect.y;
        return kResultOk;
    }
    if (band.y <= margin || band.y + band.height > height)
        return kResultOk;
    const int32_t s = band.y + band.height + margin < height ? std::min(band.y - margin, band.height)
                                                             : std::max(height - band.y - margin, 0);
    return scrollWorkingCopy(mesh, image, s);
}

// ---- Positions along a row ------------------------------------------------------------------

// Walks the columns of one destination row and hands every pixel's source position (1/256
// pixel) to `pixel`. Within a cell the position moves by a constant 16.16 step, computed from
// the cell's two column values so that the rest grid steps by exactly one pixel; the columns of
// a cell are found once per cell, not per pixel.
//
// A cell of the row whose positions are all the pixels' own (the grid at rest there: a whole
// pixel step, no vertical one, starting on the pixel) is skipped: its pixels would take back
// their own values from the working copy. Where the two pixels of a pair both write the pair's
// chroma and the second one's stays (packed 4:2:2, pairWrittenTwice), a skipped cell that starts
// on a pair's second pixel still hands that pixel over, so the pair ends as the walk leaves it.
template <typename PixelFn>
void walkRow(const WarpMesh &mesh, int32_t y, int32_t x0, int32_t x1, bool pairWrittenTwice,
             PixelFn &&pixel)
{
    const int32_t columns = mesh.columns;
    const int64_t gy = std::clamp<int64_t>((int64_t(y) * mesh.inverseCellHeight) >> 20, 0, mesh.rows - 3);
    const int64_t ty = int64_t(y) * 256 - gy * mesh.cellHeight;
    const int32_t *topX = mesh.planeX + (gy + 1) * columns, *bottomX = topX + columns;
    const int32_t *topY = mesh.planeY + (gy + 1) * columns, *bottomY = topY + columns;
    auto down = [&](const int32_t *top, const int32_t *bottom, int64_t j) {
        return top[j] + (int64_t(bottom[j] - top[j]) * ty) / mesh.cellHeight;
    };
    const int64_t inverse = mesh.inverseCellWidth, lastCell = columns - 3;
    constexpr int64_t kWholePixelStep = int64_t(1) << 24;
    for (int32_t x = x0; x < x1;) {
        const int64_t gx = std::clamp<int64_t>((int64_t(x) * inverse) >> 20, 0, lastCell);
        // The cell ends at the first column whose (x inverse) >> 20 passes gx; the last cell
        // holds every column after it.
        int32_t end = x1;
        if (gx < lastCell && inverse > 0)
            end = int32_t(std::min<int64_t>(x1, (((gx + 1) << 20) + inverse - 1) / inverse));
        const int64_t tx = int64_t(x) * 256 - gx * mesh.cellWidth;
        const int64_t leftX = down(topX, bottomX, gx + 1), rightX = down(topX, bottomX, gx + 2);
        const int64_t leftY = down(topY, bottomY, gx + 1), rightY = down(topY, bottomY, gx + 2);
        int64_t posX = leftX * 65536 + ((rightX - leftX) * tx * 65536) / mesh.cellWidth;
        int64_t posY = leftY * 65536 + ((rightY - leftY) * tx * 65536) / mesh.cellWidth;
        const int64_t stepX = (rightX - leftX) * kWholePixelStep / mesh.cellWidth;
        const int64_t stepY = (rightY - leftY) * kWholePixelStep / mesh.cellWidth;
        if (stepX == kWholePixelStep && stepY == 0 && (posX >> 16) == int64_t(x) * 256 &&
            (posY >> 16) == int64_t(y) * 256) {
            if (pairWrittenTwice && (x & 1))
                pixel(x, int32_t(posX >> 16), int32_t(posY >> 16));
            x = end;
            continue;
        }
        for (;;) {
            pixel(x, int32_t(posX >> 16), int32_t(posY >> 16));
            if (++x == end)
                break;
            posX += stepX;
            posY += stepY;
        }
    }
}

// ---- Fetching from the working copy ---------------------------------------------------------

// Two neighbouring indices around a source index, held inside 0 .. size - 1.
struct Pair {
    int32_t first, second;
};

Pair neighbours(int32_t index, int32_t size)
{
    if (index < 0)
        return {0, 0};
    if (index >= size - 1)
        return {size - 1, size - 1};
    return {index, index + 1};
}

// Bilinear luma; column q of a row lies at byte q x step + offset.
uint8_t sampleLuma(const EnginePlane &plane, int32_t step, int32_t offset, Pair rows, Pair columns,
                   int32_t fx, int32_t fy)
{
    const uint8_t *r0 = plane.pixels + int64_t(rows.first) * plane.stride + offset;
    const uint8_t *r1 = plane.pixels + int64_t(rows.second) * plane.stride + offset;
    const int32_t q0 = columns.first * step, q1 = columns.second * step;
    const int32_t a = r0[q0] + (((r1[q0] - r0[q0]) * fy) >> 8);
    const int32_t b = r0[q1] + (((r1[q1] - r0[q1]) * fy) >> 8);
    return uint8_t(a + (((b - a) * fx) >> 8));
}

// Where a source position lies in the working copy.
struct SourcePixel {
    int32_t sx, sy;   // pixel relative to the copy's origin
    int32_t fx, fy;   // fractions, 1/256
};

SourcePixel sourcePixel(const WarpMesh &mesh, int32_t X, int32_t Y)
{
    return {(X >> 8) - mesh.workingX, (Y >> 8) - mesh.workingY, X & 255, Y & 255};
}

// ---- Row routines ---------------------------------------------------------------------------

void warpRowsPacked(const WarpRowJob &job, int32_t lumaOffset, int32_t cbOffset, int32_t crOffset)
{
    const WarpMesh &mesh = *job.mesh;
    const EnginePlane &src = job.copy->planes[0];
    const int32_t wc = job.copy->width, hc = job.copy->height;
    const EnginePlane &dst = job.image->planes[0];
    for (int32_t y = job.firstRow; y < job.endRow; ++y) {
        uint8_t *row = dst.pixels + int64_t(y) * dst.stride;
        walkRow(mesh, y, job.firstColumn, job.endColumn, true, [&](int32_t x, int32_t X, int32_t Y) {
            const SourcePixel s = sourcePixel(mesh, X, Y);
            const Pair rows = neighbours(s.sy, hc), columns = neighbours(s.sx, wc);
            row[2 * x + lumaOffset] = sampleLuma(src, 2, lumaOffset, rows, columns, s.fx, s.fy);
            // Every pixel writes its pair's chroma, so a pair keeps its second pixel's.
            const uint8_t *pair = src.pixels + int64_t(rows.first) * src.stride + 2 * (columns.first & ~1);
            uint8_t *to = row + 2 * (x & ~1);
            to[cbOffset] = pair[cbOffset];
            to[crOffset] = pair[crOffset];
        });
    }
}

// Planar 4:2:2 (chroma on every row) and planar 4:2:0 (chroma on even rows), chroma nearest at
// even columns.
void warpRowsPlanar(const WarpRowJob &job, bool fourTwoZero)
{
    const WarpMesh &mesh = *job.mesh;
    const EngineImage &copy = *job.copy;
    const int32_t wc = copy.width, hc = copy.height;
    const int32_t chromaRows = fourTwoZero ? hc / 2 : hc;
    const EngineImage &image = *job.image;
    for (int32_t y = job.firstRow; y < job.endRow; ++y) {
        uint8_t *luma = image.planes[0].pixels + int64_t(y) * image.planes[0].stride;
        const bool chromaRow = !fourTwoZero || (y & 1) == 0;
        const int64_t dstChromaRow = fourTwoZero ? y / 2 : y;
        uint8_t *cb = image.planes[1].pixels + dstChromaRow * image.planes[1].stride;
        uint8_t *cr = image.planes[2].pixels + dstChromaRow * image.planes[2].stride;
        walkRow(mesh, y, job.firstColumn, job.endColumn, false, [&](int32_t x, int32_t X, int32_t Y) {
            const SourcePixel s = sourcePixel(mesh, X, Y);
            luma[x] = sampleLuma(copy.planes[0], 1, 0, neighbours(s.sy, hc), neighbours(s.sx, wc),
                                 s.fx, s.fy);
            if (!chromaRow || (x & 1))
                return;
            const int64_t r = std::clamp(fourTwoZero ? s.sy >> 1 : s.sy, 0, chromaRows - 1);
            const int64_t c = std::clamp(s.sx >> 1, 0, wc / 2 - 1);
            cb[x / 2] = copy.planes[1].pixels[r * copy.planes[1].stride + c];
            cr[x / 2] = copy.planes[2].pixels[r * copy.planes[2].stride + c];
        });
    }
}

// 4:2:0 with interleaved Cb Cr pairs: luma everywhere, the pair on even rows at even columns.
void warpRowsSemiPlanar(const WarpRowJob &job)
{
    const WarpMesh &mesh = *job.mesh;
    const EngineImage &copy = *job.copy;
    const int32_t wc = copy.width, hc = copy.height;
    const EngineImage &image = *job.image;
    for (int32_t y = job.firstRow; y < job.endRow; ++y) {
        uint8_t *luma = image.planes[0].pixels + int64_t(y) * image.planes[0].stride;
        uint8_t *pairs = image.planes[1].pixels + int64_t(y / 2) * image.planes[1].stride;
        const bool chromaRow = (y & 1) == 0;
        walkRow(mesh, y, job.firstColumn, job.endColumn, false, [&](int32_t x, int32_t X, int32_t Y) {
            const SourcePixel s = sourcePixel(mesh, X, Y);
            const Pair rows = neighbours(s.sy, hc);
            luma[x] = sampleLuma(copy.planes[0], 1, 0, rows, neighbours(s.sx, wc), s.fx, s.fy);
            if (!chromaRow || (x & 1))
                return;
            const int64_t r = std::min(rows.first >> 1, hc / 2 - 1);
            const int64_t byte = std::clamp(s.sx, 0, wc - 1) & ~1;
            const uint8_t *from = copy.planes[1].pixels + r * copy.planes[1].stride + byte;
            pairs[x] = from[0];
            pairs[x + 1] = from[1];
        });
    }
}

// ---- Sharing out a band ---------------------------------------------------------------------

// The band's jobs run as row bands of the engine's pool (row_bands.h), each job cut again into
// a few bands, so that the threads share out a face whose moved cells crowd into some jobs.
// Every band of a job starts an even distance from the job's first row (which is even for
// 4:2:0), so chroma rows keep their writers.
void runBandJobs(const WarpRowJob &pattern, int32_t y, int32_t height)
{
    constexpr int32_t kBandsPerJob = 4;
    const PixelFormat format = pattern.image->format;
    const int32_t jobs = warpBandJobCount(format, height);
    forEachBand(jobs * kBandsPerJob, [&](int32_t k) {
        WarpRowJob job = pattern;
        job.index = k / kBandsPerJob;
        int32_t first = 0, end = 0;
        warpBandJobRows(format, y, height, job.index, &first, &end);
        const int32_t part = k % kBandsPerJob;
        job.firstRow = rowBandStart(first, end - first, kBandsPerJob, part, true);
        job.endRow = rowBandStart(first, end - first, kBandsPerJob, part + 1, true);
        warpRows(&job);
    });
}

}  // namespace

// ---- Public routines ------------------------------------------------------------------------

int32_t warpBandJobCount(PixelFormat format, int32_t height)
{
    if (format == kFormatYuv420SemiPlanar)
        return height / kPoolJobRows + (height % kPoolJobRows != 0 ? 1 : 0);
    PlaneGeometry g;
    return warpGeometry(format, &g) ? kQuarterJobs : 0;
}

void warpBandJobRows(PixelFormat format, int32_t y, int32_t height, int32_t job, int32_t *first,
                     int32_t *end)
{
    // Job boundaries of 4:2:0 bands move up to an even distance from y, except the band's end.
    const bool even = chromaPairsDown(format);
    auto boundary = [&](int32_t offset) {
        return y + (even && offset != height && (offset & 1) ? offset - 1 : offset);
    };
    if (format == kFormatYuv420SemiPlanar) {
        const int32_t from = job * kPoolJobRows;
        *first = boundary(from);
        *end = boundary(std::min(from + kPoolJobRows, height));
        return;
    }
    *first = boundary(job * height / kQuarterJobs);
    *end = boundary((job + 1) * height / kQuarterJobs);
}

int32_t warpBandHeight(PixelFormat format, int32_t width, int32_t warpMargin)
{
    uint32_t rows = uint32_t(kBandBytes) / uint32_t(std::max(width, 1));
    if (formatFamily(format) == kFamilyYuv422)
        rows /= 2;
    else if (chromaPairsDown(format))
        rows = 2 * rows / 3;
    const uint32_t twiceMargin = 2 * uint32_t(warpMargin);
    if (rows <= twiceMargin)
        return kMinimumBandRows;
    return std::max(int32_t((rows - twiceMargin) & ~1u), kMinimumBandRows);
}

int warpRows(void *argument)
{
    const WarpRowJob &job = *static_cast<const WarpRowJob *>(argument);
    switch (job.image->format) {
    case kFormatYuv422Yuyv: warpRowsPacked(job, 0, 1, 3); return kResultOk;
    case kFormatYuv422Uyvy: warpRowsPacked(job, 1, 0, 2); return kResultOk;
    case kFormatYuv422Planar: warpRowsPlanar(job, false); return kResultOk;
    case kFormatYuv420Planar: warpRowsPlanar(job, true); return kResultOk;
    case kFormatYuv420SemiPlanar: warpRowsSemiPlanar(job); return kResultOk;
    default: return kResultBadArgument;
    }
}

int warpBand(InnerEngine *inner, WarpMesh *mesh, EngineImage *image, const EngineRect *band,
             int32_t reserved1, int32_t reserved2)
{
    EngineAllocator *allocator = inner ? inner->allocator : mesh->allocator;
    const int32_t margin = inner ? inner->warpMargin & ~1 : 0;
    const int prepared = prepareWorkingCopy(allocator, mesh, image, *band, margin);
    if (prepared != kResultOk)
        return prepared;
    PlaneGeometry g;
    if (!warpGeometry(image->format, &g))
        return kResultBadArgument;

    WarpRowJob pattern = {};
    pattern.mesh = mesh;
    pattern.copy = &mesh->workingCopy;
    pattern.image = image;
    pattern.firstColumn = band->x;
    pattern.endColumn = band->x + band->width;
    pattern.reserved1 = reserved1;
    pattern.reserved2 = reserved2;
    runBandJobs(pattern, band->y, band->height);
    return kResultOk;
}

int warpMeshApply(InnerEngine *inner, WarpMesh *mesh, EngineImage *image, EngineImage *second,
                  int32_t reserved1, int32_t reserved2)
{
    if (!mesh || !image || !second)
        return kResultBadArgument;
    if (!warpMeshEnsureGrid(inner, mesh, image->width, image->height))
        return kResultBadArgument;
    EngineAllocator *allocator = inner ? inner->allocator : mesh->allocator;
    if (!inner || !inner->faceList || inner->workingWidth <= 0 || inner->workingHeight <= 0)
        return kResultOk;

    const int32_t cellW = int32_t(uint32_t(mesh->meshWidth - 1) * 256u / uint32_t(mesh->columns - 3));
    const int32_t cellH = int32_t(uint32_t(mesh->meshHeight - 1) * 256u / uint32_t(mesh->rows - 3));
    const int32_t fx = int32_t(uint32_t(image->width) * 1024u / uint32_t(inner->workingWidth));
    const int32_t fy = int32_t(uint32_t(image->height) * 1024u / uint32_t(inner->workingHeight));
    const int64_t rx = uint32_t(mesh->builtWidth) * 256u / uint32_t(mesh->meshWidth);
    const int64_t ry = uint32_t(mesh->builtHeight) * 256u / uint32_t(mesh->meshHeight);
    for (uint32_t i = 0; i < inner->faceListCount; ++i) {
        if (!inner->faceList[i].inUse)
            continue;
        FaceWork face{};
        scaleFaceRecord(inner->faceList[i].face, &face, fx, fy);
        EngineRect anchor;
        warpAnchorSourceRect(inner, cellW, cellH, &face, &anchor);
        if (anchor.width <= 0 || anchor.height <= 0)
            continue;
        // From mesh to image pixels, clipped and made even.
        const int64_t x0 = (rx * anchor.x) >> 8, w = (rx * anchor.width) >> 8;
        const int64_t y0 = (ry * anchor.y) >> 8, h = (ry * anchor.height) >> 8;
        EngineRect rect;
        rect.x = int32_t(std::max<int64_t>(x0, 0));
        rect.y = int32_t(std::max<int64_t>(y0, 0));
        rect.width = int32_t(std::max<int64_t>(std::min<int64_t>(x0 + w, image->width) - rect.x, 0));
        rect.height = int32_t(std::max<int64_t>(std::min<int64_t>(y0 + h, image->height) - rect.y, 0));
        rect = evenRect(rect);
        if (rect.width == 0 || rect.height == 0)
            continue;

        const int32_t bandRows = warpBandHeight(image->format, rect.width, inner->warpMargin);
        for (int32_t y = rect.y; y < rect.y + rect.height; y += bandRows) {
            const EngineRect band = {rect.x, y, rect.width, std::min(bandRows, rect.y + rect.height - y)};
            const int result = warpBand(inner, mesh, image, &band, reserved1, reserved2);
            if (result != kResultOk) {
                imageRelease(allocator, &mesh->workingCopy);
                return result;
            }
        }
        imageRelease(allocator, &mesh->workingCopy);
    }
    imageRelease(allocator, &mesh->workingCopy);
    return kResultOk;
}
