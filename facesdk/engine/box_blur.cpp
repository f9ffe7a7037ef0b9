// Box blur over a ring of integral rows.
#include "facesdk/engine/box_blur.h"

#include <algorithm>

#include "facesdk/base/result_codes.h"

namespace {

bool greyPlaneUsable(const EngineImage *grey)
{
    return grey && grey->planes[0].pixels && grey->planes[0].stride >= grey->width &&
           grey->width > 0 && grey->height > 0;
}

// Integral row of image row `row` from the integral row of the row above.
void accumulateRow(const uint8_t *pixels, const uint32_t *above, uint32_t *out, int32_t width)
{
    uint32_t running = 0;
    out[0] = 0;
    for (int32_t c = 0; c < width; ++c) {
        running += pixels[c];
        out[c + 1] = above[c + 1] + running;
    }
}

// The truncated mean sum / count of a window of bytes by one multiply. The reciprocal is
// rounded up to 32 fractional bits, which gives exactly floor(sum / count) for every sum of up
// to count bytes while 255 x count^2 < 2^32; larger windows divide. A mean never drifts: a
// constant window gives back its value.
class MeanDivisor {
public:
    explicit MeanDivisor(uint32_t count)
        : count_(count),
          reciprocal_(count <= kMaxMultiplyCount
                          ? ((uint64_t(1) << 32) + count - 1) / count
                          : 0)
    {
    }
    uint32_t mean(uint32_t sum) const
    {
        return reciprocal_ ? uint32_t((uint64_t(sum) * reciprocal_) >> 32) : sum / count_;
    }

private:
    static constexpr uint32_t kMaxMultiplyCount = 4096;
    uint32_t count_;
    uint64_t reciprocal_;
};

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

    window |= 1;
    const int32_t r = window >> 1;
    const int32_t W = grey->width;
    const int32_t H = grey->height;
    // The integral rows cover the rectangle widened by r, as far as the image allows.
    const int32_t x0 = std::max(area.x - r, 0);
    const int32_t x1 = int32_t(std::min<int64_t>(int64_t(area.x) + area.width + r, W));
    const int32_t y0 = std::max(area.y - r, 0);
    const int32_t y1 = int32_t(std::min<int64_t>(int64_t(area.y) + area.height + r, H));
    const int32_t entries = x1 - x0 + 1;
    // Rows top - 1 .. bottom of one window are live at once; a region shorter than the window
    // never needs more than its own rows plus the zero row.
    const int32_t ringRows = int32_t(std::min<int64_t>(int64_t(window) + 1, y1 - y0 + 1));
    const uint64_t ringBytes = uint64_t(ringRows) * uint64_t(entries) * 4;
    if (ringBytes > UINT32_MAX)
        return kResultBadArgument;
    auto *ring = static_cast<uint32_t *>(allocatorAlloc(allocator, uint32_t(ringBytes)));
    if (!ring)
        return kResultNoMemory;

    // Ring slot of the integral row through image row y; row y0 - 1 is the zero row.
    auto slot = [&](int32_t y) { return ring + int64_t((y - y0 + 1) % ringRows) * entries; };
    std::fill(slot(y0 - 1), slot(y0 - 1) + entries, 0u);
    int32_t nextRow = y0;

    const int32_t stride = grey->planes[0].stride;
    for (int32_t py = area.y; py < area.y + area.height; ++py) {
        const int32_t top = std::max(py - r, 0);
        const int32_t bottom = std::min(py + r, H - 1);
        // Row py is written below; every row it feeds into is already in the ring.
        for (; nextRow <= bottom; ++nextRow)
            accumulateRow(grey->planes[0].pixels + int64_t(nextRow) * stride + x0,
                          slot(nextRow - 1), slot(nextRow), x1 - x0);
        const uint32_t *below = slot(bottom);
        const uint32_t *above = slot(top - 1);
        const int32_t rowsIn = bottom - top + 1;
        const MeanDivisor interior(uint32_t(window) * uint32_t(rowsIn));
        uint8_t *out = grey->planes[0].pixels + int64_t(py) * stride;
        for (int32_t px = area.x; px < area.x + area.width; ++px) {
            const int32_t left = std::max(px - r, 0) - x0;
            const int32_t right = std::min(px + r, W - 1) - x0 + 1;
            const uint32_t sum = below[right] - above[right] - below[left] + above[left];
            const int32_t columnsIn = right - left;
            // Windows cut at the left or right border divide; whole rows of columns share the
            // row's reciprocal.
            out[px] = uint8_t(columnsIn == window
                                  ? interior.mean(sum)
                                  : sum / (uint32_t(columnsIn) * uint32_t(rowsIn)));
        }
    }
    allocatorFree(allocator, ring);
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
