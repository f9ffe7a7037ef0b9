// Masked blend: geometry checks, the per-band row loop (8- and 16-bit), band dispatch.
#include "vizoruv/adjust/masked_blend.h"

#include <algorithm>
#include <cstdint>

#include "sys/threads/row_bands.h"

namespace {

constexpr std::uint32_t kFullWeight = 65535; // weight of the source, 0..65535


// Samples per pixel: 4 when the image carries a fourth channel (more than 3 bytes per pixel for
// 8-bit images, more than 6 for 16-bit ones, or the alpha flag).
int pixelStep(const ImageView& image)
{
    const bool fourChannels = image.hasAlpha || image.bytesPerPixel > (isSixteenBit(image) ? 6 : 3);
    return fourChannels ? 4 : 3;
}

bool holdsRows(const ImageView& image, int width, int height, int samplesPerPixel)
{
    const long long sampleBytes = isSixteenBit(image) ? 2 : 1;
    return image.data[0] && image.width >= width && image.height >= height && image.rowBytes >= 0 &&
           static_cast<long long>(image.rowBytes) >= static_cast<long long>(width) * samplesPerPixel * sampleBytes;
}

// Everything a band needs; bands share it read-only and write only their own target rows.
struct BlendJob {
    const ImageView* source;
    const ImageView* target;
    const ImageView* mask; // or null
    bool invert;
    std::uint32_t fixedWeight; // source weight without a mask
    int step;                  // samples per pixel of source and target
};

template <typename Mask>
std::uint32_t maskWeight(const std::uint8_t* maskRow, int x, bool invert)
{
    const std::uint32_t m = reinterpret_cast<const Mask*>(maskRow)[x];
    const std::uint32_t w = sizeof(Mask) == 1 ? m * 256 : m;
    return invert ? kFullWeight - w : w;
}

// One row of pixels. 8-bit samples round, 16-bit samples truncate.
template <typename Sample, typename Mask>
void blendRow(Sample* target, const Sample* source, const std::uint8_t* maskRow, int width, const BlendJob& job)
{
    for (int x = 0; x < width; ++x, target += job.step, source += job.step) {
        const std::uint32_t w = maskRow ? maskWeight<Mask>(maskRow, x, job.invert) : job.fixedWeight;
        // keep + take is at most 65535 x 65535, which still fits 32 bits.
        for (int c = 0; c < 3; ++c) {
            const std::uint32_t keep = std::uint32_t(target[c]) * (kFullWeight - w);
            const std::uint32_t take = std::uint32_t(source[c]) * w;
            target[c] = static_cast<Sample>(sizeof(Sample) == 1 ? (keep + take + 255) >> 16 : (keep + take) >> 16);
        }
    }
}

template <typename Sample, typename Mask>
void blendBand(const BlendJob& job, sys::RowBand band)
{
    const ImageView& target = *job.target;
    const ImageView& source = *job.source;
    for (int y = band.first; y < band.end; ++y) {
        auto* targetRow = reinterpret_cast<Sample*>(target.data[0] + static_cast<std::ptrdiff_t>(y) * target.rowBytes);
        auto* sourceRow = reinterpret_cast<const Sample*>(source.data[0] + static_cast<std::ptrdiff_t>(y) * source.rowBytes);
        const std::uint8_t* maskRow =
            job.mask ? job.mask->data[0] + static_cast<std::ptrdiff_t>(y) * job.mask->rowBytes : nullptr;
        blendRow<Sample, Mask>(targetRow, sourceRow, maskRow, target.width, job);
    }
}

void runBand(void* context, sys::RowBand band)
{
    const BlendJob& job = *static_cast<const BlendJob*>(context);
    const bool wide = isSixteenBit(*job.target);
    const bool wideMask = job.mask && isSixteenBit(*job.mask);
    if (wide)
        wideMask ? blendBand<std::uint16_t, std::uint16_t>(job, band) : blendBand<std::uint16_t, std::uint8_t>(job, band);
    else
        wideMask ? blendBand<std::uint8_t, std::uint16_t>(job, band) : blendBand<std::uint8_t, std::uint8_t>(job, band);
}

} // namespace

int maskedBlendBandCount(int rows)
{
    return sys::rowBandCount(rows);
}

int maskedBlendInBands(const ImageView& source, const ImageView& target, int amount, const ImageView* mask,
                       bool invert, int bands)
{
    amount = std::clamp(amount, 0, 100);
    if (amount == 100 && !mask)
        return 0;
    if (target.width < 0 || target.height < 0 || source.format != target.format)
        return -1;
    const int step = pixelStep(target);
    if (!holdsRows(target, target.width, target.height, step) ||
        !holdsRows(source, target.width, target.height, step) ||
        (mask && !holdsRows(*mask, target.width, target.height, 1)))
        return -1;
    const std::uint32_t fixedWeight = kFullWeight - static_cast<std::uint32_t>(amount * 65535 / 100);
    BlendJob job{&source, &target, mask, invert, fixedWeight, step};
    sys::runRowBands(target.height, std::clamp(bands, 1, std::max(target.height, 1)), runBand, &job);
    return 0;
}

int maskedBlend(const ImageView& source, const ImageView& target, int amount, const ImageView* mask, bool invert)
{
    return maskedBlendInBands(source, target, amount, mask, invert, maskedBlendBandCount(target.height));
}
