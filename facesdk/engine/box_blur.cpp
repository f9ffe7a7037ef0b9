// Box blur over rings of integral rows, in row bands.
//
// Divisions: the mean by one multiply; integral rows; one band's pass; the pass and its bands.
//
// A pass in place reads every row unblurred: a ring row is accumulated before the output row
// that would overwrite its source. Bands of one pass run at the same time, and each reads up to
// r rows of its neighbours' (window r = window >> 1): the r rows above its first row, which the
// band above writes last, and the r rows below its last, which the band below writes first. So
// before the bands start, the rows around every boundary between two bands are copied aside,
// and a band takes its neighbours' rows from those copies. Every output pixel is the exact
// truncated mean of the same unblurred window, however the rows are banded.
#include "facesdk/engine/box_blur.h"

#include <algorithm>
#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/row_bands.h"

namespace {

bool greyPlaneUsable(const EngineImage *grey)
{
    return grey && grey->planes[0].pixels && grey->planes[0].stride >= grey->width &&
           grey->width > 0 && grey->height > 0;
}

// ---- The mean by one multiply ---------------------------------------------------------------

// floor(sum / count) for a sum of at most count bytes, by one multiply with the reciprocal
// rounded up to kReciprocalBits fractional bits. With e = reciprocal x count - 2^k < count, the
// product exceeds sum x 2^k / count by sum x e / count < 255 count, which stays below
// 2^k / count while 255 count^2 < 2^k; the product itself stays below 256 x 2^k. Counts past
// kLargestMultipliedCount (windows of more than about 4100 pixels a side) divide.
constexpr int kReciprocalBits = 56;
constexpr uint64_t kLargestMultipliedCount = 16810000;  // 255 x count^2 < 2^56

uint64_t meanReciprocal(uint32_t count)
{
    return ((uint64_t(1) << kReciprocalBits) + count - 1) / count;
}

// ---- Integral rows --------------------------------------------------------------------------

// Integral row of an image row from the integral row of the row above.
void accumulateRow(const uint8_t *pixels, const uint32_t *above, uint32_t *out, int32_t width)
{
    uint32_t running = 0;
    out[0] = 0;
    for (int32_t c = 0; c < width; ++c) {
        running += pixels[c];
        out[c + 1] = above[c + 1] + running;
    }
}

// ---- One band's pass ------------------------------------------------------------------------

// What every band of a pass shares.
struct BlurPass {
    EngineImage *grey;
    EngineRect area;          // the rectangle written
    int32_t window, r;
    int32_t x0, x1;           // columns of the integral rows (the area widened by r, clipped)
    int32_t entries;          // x1 - x0 + 1
    int32_t bands;
    const int32_t *starts;    // bands + 1 output rows: band k writes starts[k] .. starts[k+1] - 1
    uint8_t *aside;           // per inner boundary k (1 .. bands - 1): rows starts[k] - r ..
                              // starts[k] + r - 1, columns x0 .. x1 - 1
    uint32_t *rings;          // per band: its ring
    const int64_t *ringAt;    // per band: offset of its ring in rings, in entries
};

// One output row from the ring rows around it. Columns whose window is whole take the row's
// reciprocal: that loop has neither a branch nor a division. The few columns at the image's
// left and right borders divide by their own counts.
void blurRow(const BlurPass &pass, const uint32_t *above, const uint32_t *below, int32_t rowsIn,
             uint8_t *out)
{
    const int32_t W = pass.grey->width, r = pass.r, x0 = pass.x0;
    const int32_t first = pass.area.x, end = pass.area.x + pass.area.width;
    const int32_t wholeFirst = std::clamp(r, first, end);
    const int32_t wholeEnd = std::clamp(W - r, wholeFirst, end);
    const auto cutColumn = [&](int32_t px) {
        const int32_t left = std::max(px - r, 0) - x0;
        const int32_t right = std::min(px + r, W - 1) - x0 + 1;
        const uint32_t sum = below[right] - above[right] - below[left] + above[left];
        out[px] = uint8_t(sum / (uint32_t(right - left) * uint32_t(rowsIn)));
    };
    for (int32_t px = first; px < wholeFirst; ++px)
        cutColumn(px);
    const uint32_t count = uint32_t(pass.window) * uint32_t(rowsIn);
    const int32_t lead = wholeFirst - r - x0, trail = wholeFirst + r + 1 - x0;
    const int32_t n = wholeEnd - wholeFirst;
    uint8_t *o = out + wholeFirst;
    const uint32_t *aLead = above + lead, *bLead = below + lead;
    const uint32_t *aTrail = above + trail, *bTrail = below + trail;
    if (count <= kLargestMultipliedCount) {
        const uint64_t reciprocal = meanReciprocal(count);
        for (int32_t i = 0; i < n; ++i) {
            const uint32_t sum = bTrail[i] - aTrail[i] - bLead[i] + aLead[i];
            o[i] = uint8_t((uint64_t(sum) * reciprocal) >> kReciprocalBits);
        }
    } else {
        for (int32_t i = 0; i < n; ++i)
            o[i] = uint8_t((bTrail[i] - aTrail[i] - bLead[i] + aLead[i]) / count);
    }
    for (int32_t px = wholeEnd; px < end; ++px)
        cutColumn(px);
}

// Band k: its output rows, reading rows of the bands around it from the copies set aside.
void blurBand(const BlurPass &pass, int32_t k)
{
    const EngineImage &grey = *pass.grey;
    const int32_t H = grey.height, r = pass.r, width = pass.x1 - pass.x0;
    const int32_t first = pass.starts[k], end = pass.starts[k + 1];
    if (first >= end)
        return;
    const int32_t y0 = std::max(first - r, 0);
    const int32_t y1 = std::min(end + r, H);
    const int32_t ringRows = std::min(pass.window + 1, y1 - y0 + 1);
    uint32_t *ring = pass.rings + pass.ringAt[k];
    const auto slot = [&](int32_t y) { return ring + int64_t((y - y0 + 1) % ringRows) * pass.entries; };
    const size_t asideBoundaryBytes = size_t(width) * 2 * size_t(r);
    const auto source = [&](int32_t y) -> const uint8_t * {
        if (k > 0 && y < first)
            return pass.aside + (k - 1) * asideBoundaryBytes + size_t(y - (first - r)) * width;
        if (k + 1 < pass.bands && y >= end)
            return pass.aside + k * asideBoundaryBytes + size_t(y - (end - r)) * width;
        return grey.planes[0].pixels + int64_t(y) * grey.planes[0].stride + pass.x0;
    };
    std::fill(slot(y0 - 1), slot(y0 - 1) + pass.entries, 0u);
    int32_t nextRow = y0;
    for (int32_t py = first; py < end; ++py) {
        const int32_t top = std::max(py - r, 0);
        const int32_t bottom = std::min(py + r, H - 1);
        for (; nextRow <= bottom; ++nextRow)
            accumulateRow(source(nextRow), slot(nextRow - 1), slot(nextRow), width);
        blurRow(pass, slot(top - 1), slot(bottom), bottom - top + 1,
                grey.planes[0].pixels + int64_t(py) * grey.planes[0].stride);
    }
}

// ---- The pass and its bands -----------------------------------------------------------------

constexpr int32_t kMostBlurBands = 16;

// Bands of at least r rows each (a band's neighbours hold all it reads of theirs), and enough
// rows that a band is worth its ring.
int32_t blurBandCount(const EngineRect &area, int32_t r)
{
    const int32_t rows = area.height;
    // A blurred pixel costs about four of the simplest loops' pixels: an integral entry and a
    // mean from four of them.
    const int64_t rowWork = 4 * int64_t(std::max(area.width, 1));
    const int32_t least = std::max({r, 16, int32_t(kLeastBandedPixels / rowWork)});
    return std::clamp(std::min(bandThreads(), rows / least), 1, kMostBlurBands);
}

}  // namespace

void integralRows(const EngineImage *grey, const IntegralRegion &region, uint32_t *rows)
{
    if (!greyPlaneUsable(grey) || !rows || region.width <= 0 || region.rows < 0)
        return;
    const int32_t entries = region.width + 1;
    std::fill(rows, rows + entries, 0u);
    for (int32_t k = 0; k < region.rows; ++k) {
        const uint8_t *pixels = grey->planes[0].pixels +
                                int64_t(region.y0 + k) * grey->planes[0].stride + region.x0;
        accumulateRow(pixels, rows + int64_t(k) * entries, rows + int64_t(k + 1) * entries,
                      region.width);
    }
}

int boxBlurRect(EngineAllocator *allocator, EngineImage *grey, const EngineRect *rect,
                int32_t window)
{
    if (!allocator || !greyPlaneUsable(grey) || window < 0)
        return kResultBadArgument;
    const EngineRect area = rect ? *rect : EngineRect{0, 0, grey->width, grey->height};
    if (area.x < 0 || area.y < 0 || area.width <= 0 || area.height <= 0 ||
        int64_t(area.x) + area.width > grey->width || int64_t(area.y) + area.height > grey->height)
        return kResultBadArgument;

    BlurPass pass{};
    pass.grey = grey;
    pass.area = area;
    pass.window = window | 1;
    pass.r = pass.window >> 1;
    const int32_t r = pass.r, W = grey->width, H = grey->height;
    // The integral rows cover the rectangle widened by r, as far as the image allows.
    pass.x0 = std::max(area.x - r, 0);
    pass.x1 = int32_t(std::min<int64_t>(int64_t(area.x) + area.width + r, W));
    pass.entries = pass.x1 - pass.x0 + 1;
    pass.bands = blurBandCount(area, r);

    int32_t starts[kMostBlurBands + 1];
    int64_t ringAt[kMostBlurBands + 1];
    uint64_t ringEntries = 0;
    for (int32_t k = 0; k <= pass.bands; ++k)
        starts[k] = rowBandStart(area.y, area.height, pass.bands, k);
    for (int32_t k = 0; k < pass.bands; ++k) {
        // Rows top - 1 .. bottom of one window are live at once; a band shorter than the window
        // never needs more than its own rows plus the zero row.
        const int32_t y0 = std::max(starts[k] - r, 0), y1 = std::min(starts[k + 1] + r, H);
        ringAt[k] = int64_t(ringEntries);
        ringEntries += uint64_t(std::min(pass.window + 1, y1 - y0 + 1)) * uint64_t(pass.entries);
    }
    const uint64_t ringBytes = ringEntries * 4;
    const uint64_t asideBytes = uint64_t(pass.bands - 1) * 2 * uint64_t(r) * uint64_t(pass.x1 - pass.x0);
    if (ringBytes + asideBytes > UINT32_MAX)
        return kResultBadArgument;
    auto *block = static_cast<uint8_t *>(allocatorAlloc(allocator, uint32_t(ringBytes + asideBytes)));
    if (!block)
        return kResultNoMemory;
    pass.rings = reinterpret_cast<uint32_t *>(block);
    pass.aside = block + ringBytes;
    pass.starts = starts;
    pass.ringAt = ringAt;

    const int32_t width = pass.x1 - pass.x0;
    for (int32_t k = 1; k < pass.bands; ++k)
        for (int32_t j = 0; j < 2 * r; ++j)
            std::memcpy(pass.aside + (size_t(k - 1) * 2 * r + j) * width,
                        grey->planes[0].pixels + int64_t(starts[k] - r + j) * grey->planes[0].stride + pass.x0,
                        size_t(width));
    forEachBand(pass.bands, [&](int32_t k) { blurBand(pass, k); });
    allocatorFree(allocator, block);
    return kResultOk;
}

int boxBlurFull(EngineAllocator *allocator, EngineImage *grey, int32_t window)
{
    return boxBlurRect(allocator, grey, nullptr, window);
}

int boxBlurRepeat(EngineAllocator *allocator, EngineImage *grey, const EngineRect *rect,
                  int32_t window, int32_t passes)
{
    if (window == 0 || window == 1)
        return kResultOk;
    for (int32_t pass = 0; pass < passes; ++pass) {
        const int result = boxBlurRect(allocator, grey, rect, window);
        if (result != kResultOk)
            return result;
    }
    return kResultOk;
}
