// The bitmap scaler: separable resampling, a horizontal pass over each source row into floats, then
// a vertical pass into the target. Samples are scaled channel by channel, so the format's channel
// order does not matter.
//
// BoxThenCubic first averages whole boxes of source pixels, row by row as the filter asks for them,
// and filters the box means like HighQualityCubic.
//
// The target's rows are cut into bands that run on threads of their own. A band keeps the
// horizontally filtered source rows that its next target rows still read in a ring of as many rows
// as the vertical kernel has taps, so a source row is converted and filtered only when some target
// row reads it, and the float rows never hold the whole picture. Every sample is summed in the same
// order (taps ascending, from zero) whatever the banding, so the result does not depend on it.
#include "sys/wic/wic.h"

#include <emmintrin.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include "sys/threads/row_bands.h"

namespace wic {
namespace {

double cubicKernel(double x) {  // Catmull-Rom (a = -0.5)
    x = std::fabs(x);
    if (x < 1)
        return (1.5 * x - 2.5) * x * x + 1;
    if (x < 2)
        return ((-0.5 * x + 2.5) * x - 4) * x + 2;
    return 0;
}

double linearKernel(double x) {
    x = std::fabs(x);
    return x < 1 ? 1 - x : 0;
}

// For each target position: the first source index and the normalised weights. Both the first and
// the last index grow with the target position.
struct Contributions {
    std::vector<int> first;
    std::vector<int> count;
    std::vector<float> weights;  // count[i] weights per target position, `taps` apart
    int taps = 0;
};

// `ratio` is source pixels per target pixel: sourceSize / targetSize, except after a box reduction
// whose last box was cut short (then a little less).
Contributions contributions(uint32_t sourceSize, uint32_t targetSize, double ratio, Interpolation mode) {
    const bool cubic = mode != Interpolation::Linear;
    const double radius = cubic ? 2.0 : 1.0;
    // Shrinking with the high-quality filter stretches the kernel over the whole source footprint.
    const bool stretches = mode == Interpolation::HighQualityCubic || mode == Interpolation::BoxThenCubic;
    const double stretch = (stretches && ratio > 1) ? ratio : 1.0;
    const double support = radius * stretch;

    Contributions c;
    c.taps = int(std::ceil(support)) * 2 + 1;
    c.first.resize(targetSize);
    c.count.resize(targetSize);
    c.weights.assign(size_t(targetSize) * c.taps, 0.0f);
    for (uint32_t i = 0; i < targetSize; ++i) {
        const double center = (i + 0.5) * ratio - 0.5;
        int lo = int(std::floor(center - support)) + 1;
        int hi = int(std::floor(center + support));
        lo = std::max(lo, 0);
        hi = std::min(hi, int(sourceSize) - 1);
        if (hi - lo + 1 > c.taps)
            hi = lo + c.taps - 1;
        double sum = 0;
        float* w = &c.weights[size_t(i) * c.taps];
        for (int s = lo; s <= hi; ++s) {
            const double d = (s - center) / stretch;
            const double k = cubic ? cubicKernel(d) : linearKernel(d);
            w[s - lo] = float(k);
            sum += k;
        }
        if (hi < lo) {  // a target pixel past the source edge: take the nearest source pixel
            lo = hi = std::clamp(int(std::lround(center)), 0, int(sourceSize) - 1);
            w[0] = 1.0f;
            sum = 1;
        }
        for (int s = 0; s <= hi - lo; ++s)
            w[s] = float(w[s] / sum);
        c.first[i] = lo;
        c.count[i] = hi - lo + 1;
    }
    return c;
}

// ---- Row passes ----

// The samples of a row as floats.
void samplesToFloats(const uint8_t* row, size_t samples, bool wide, float* out) {
    if (!wide) {
        for (size_t i = 0; i < samples; ++i)
            out[i] = row[i];
        return;
    }
    for (size_t i = 0; i < samples; ++i)
        out[i] = float(row[2 * i] | (row[2 * i + 1] << 8));
}

// Horizontal pass of one row of C-channel pixels: `in` holds the source row's samples as floats
// with one float to spare at its end, `out` receives `width` pixels with one float to spare. With 3
// or 4 channels one pixel's channels are summed side by side in a vector, each lane as the
// scalar sum would be.
template <int C>
void filterAcross(const float* in, const Contributions& across, uint32_t width, float* out) {
    for (uint32_t x = 0; x < width; ++x) {
        const float* w = &across.weights[size_t(x) * across.taps];
        const float* s = in + size_t(across.first[x]) * C;
        const int count = across.count[x];
        if (C >= 3) {
            __m128 sum = _mm_setzero_ps();
            for (int t = 0; t < count; ++t)
                sum = _mm_add_ps(sum, _mm_mul_ps(_mm_set1_ps(w[t]), _mm_loadu_ps(s + t * C)));
            _mm_storeu_ps(out + size_t(x) * C, sum);  // a fourth lane past three channels is overwritten next
        } else {
            for (int ch = 0; ch < C; ++ch) {
                float sum = 0;
                for (int t = 0; t < count; ++t)
                    sum += w[t] * s[t * C + ch];
                out[size_t(x) * C + ch] = sum;
            }
        }
    }
}

void filterAcross(int channels, const float* in, const Contributions& across, uint32_t width, float* out) {
    switch (channels) {
    case 1: filterAcross<1>(in, across, width, out); break;
    case 3: filterAcross<3>(in, across, width, out); break;
    default: filterAcross<4>(in, across, width, out); break;
    }
}

void storeRow(const float* sums, size_t samples, bool wide, uint8_t* out) {
    const float top = wide ? 65535.0f : 255.0f;
    for (size_t i = 0; i < samples; ++i) {
        const unsigned sample = unsigned(std::min(std::max(sums[i] + 0.5f, 0.0f), top));
        if (wide) {
            out[2 * i] = uint8_t(sample & 0xFF);
            out[2 * i + 1] = uint8_t(sample >> 8);
        } else {
            out[i] = uint8_t(sample);
        }
    }
}

// ---- Bands ----

// One band's working rows.
struct BandRows {
    std::vector<float> ring;         // filtered rows, `rowFloats + 1` apart
    std::vector<int> ringRow;        // the (box-reduced) source row in each slot; -1 when none
    std::vector<uint8_t> converted;  // a source row in the target's format
    std::vector<uint32_t> boxSums;   // sums of the box's source rows, sample by sample
    std::vector<float> samples;      // a (box-reduced) source row's samples as floats, one to spare
    std::vector<float> sums;         // the vertical sums of one target row
};

struct Scaling {
    BitmapRef source;
    BitmapTarget target;
    uint32_t boxWidth = 1, boxHeight = 1;  // source pixels per box of the reduction; 1 x 1: none
    uint32_t reducedWidth = 0, reducedHeight = 0;  // boxes across and down (the last ones may be cut short)
    Contributions across, down;  // over the reduced picture
    int channels = 0;      // of the target's format
    bool wide = false;     // 16 bits per sample
    bool convert = false;  // source rows are converted into the target's format first
    size_t rowFloats = 0;  // floats of one filtered row: target width x channels
    std::atomic<bool> failed{false};  // a band found no memory for its rows
};

// Source row y in the target's format.
const uint8_t* sourceRow(const Scaling& s, BandRows& rows, uint32_t y) {
    const uint8_t* row = s.source.pixels + size_t(y) * s.source.stride;
    if (!s.convert)
        return row;
    convertInto(BitmapRef{s.source.format, s.source.width, 1, s.source.stride, row},
                BitmapTarget{s.target.format, s.source.width, 1, uint32_t(rows.converted.size()), rows.converted.data()});
    return rows.converted.data();
}

// The means of C-channel boxes `box` columns wide (the last one may be cut short) over column
// sums of `rows` rows.
template <int C>
void boxMeans(const uint32_t* sums, uint32_t width, uint32_t box, uint32_t rows, uint32_t boxes, float* out) {
    const float fullBox = 1.0f / float(uint64_t(box) * rows);
    for (uint32_t x = 0; x < boxes; ++x, out += C) {
        const uint32_t left = x * box, right = std::min(left + box, width);
        uint64_t sum[C] = {};
        for (uint32_t column = left; column < right; ++column)
            for (int ch = 0; ch < C; ++ch)
                sum[ch] += sums[size_t(column) * C + ch];
        const float scale = right - left == box ? fullBox : 1.0f / float(uint64_t(right - left) * rows);
        for (int ch = 0; ch < C; ++ch)
            out[ch] = float(sum[ch]) * scale;
    }
}

// The same for four channels whose box sums stay below 2^31: one pixel's channels side by side.
void boxMeans4(const uint32_t* sums, uint32_t width, uint32_t box, uint32_t rows, uint32_t boxes, float* out) {
    const __m128 fullBox = _mm_set1_ps(1.0f / float(uint64_t(box) * rows));
    for (uint32_t x = 0; x < boxes; ++x, out += 4) {
        const uint32_t left = x * box, right = std::min(left + box, width);
        __m128i sum = _mm_setzero_si128();
        for (uint32_t column = left; column < right; ++column)
            sum = _mm_add_epi32(sum, _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + size_t(column) * 4)));
        const __m128 scale = right - left == box ? fullBox : _mm_set1_ps(1.0f / float(uint64_t(right - left) * rows));
        _mm_storeu_ps(out, _mm_mul_ps(_mm_cvtepi32_ps(sum), scale));
    }
}

// Reduced row r as floats: each the mean of its box of source samples.
void boxRow(const Scaling& s, BandRows& rows, uint32_t r) {
    const size_t rowSamples = size_t(s.source.width) * s.channels;
    const uint32_t first = r * s.boxHeight, end = std::min(first + s.boxHeight, s.source.height);
    uint32_t* sums = rows.boxSums.data();
    std::fill(sums, sums + rowSamples, 0u);
    for (uint32_t y = first; y < end; ++y) {
        const uint8_t* row = sourceRow(s, rows, y);
        if (s.wide) {
            for (size_t i = 0; i < rowSamples; ++i)
                sums[i] += uint32_t(row[2 * i] | (row[2 * i + 1] << 8));
        } else {
            for (size_t i = 0; i < rowSamples; ++i)
                sums[i] += row[i];
        }
    }
    float* out = rows.samples.data();
    const uint64_t largestSum = uint64_t(s.boxWidth) * (end - first) * (s.wide ? 65535 : 255);
    switch (s.channels) {
    case 1: boxMeans<1>(sums, s.source.width, s.boxWidth, end - first, s.reducedWidth, out); break;
    case 3: boxMeans<3>(sums, s.source.width, s.boxWidth, end - first, s.reducedWidth, out); break;
    default:
        if (largestSum < (1u << 31))
            boxMeans4(sums, s.source.width, s.boxWidth, end - first, s.reducedWidth, out);
        else
            boxMeans<4>(sums, s.source.width, s.boxWidth, end - first, s.reducedWidth, out);
        break;
    }
}

const float* filteredRow(const Scaling& s, BandRows& rows, int reducedRow) {
    const size_t slots = rows.ringRow.size();
    const size_t slot = size_t(reducedRow) % slots;
    float* filtered = &rows.ring[slot * (s.rowFloats + 1)];
    if (rows.ringRow[slot] == reducedRow)
        return filtered;
    if (s.boxWidth > 1 || s.boxHeight > 1)
        boxRow(s, rows, uint32_t(reducedRow));
    else
        samplesToFloats(sourceRow(s, rows, uint32_t(reducedRow)), size_t(s.source.width) * s.channels, s.wide,
                        rows.samples.data());
    filterAcross(s.channels, rows.samples.data(), s.across, s.target.width, filtered);
    rows.ringRow[slot] = reducedRow;
    return filtered;
}

void scaleBand(void* context, sys::RowBand band) {
    Scaling& s = *static_cast<Scaling*>(context);
    BandRows rows;
    try {
        rows.ring.assign(size_t(s.down.taps) * (s.rowFloats + 1), 0.0f);
        rows.ringRow.assign(size_t(s.down.taps), -1);
        if (s.convert)
            rows.converted.resize(paddedStride(s.target.format, s.source.width));
        if (s.boxWidth > 1 || s.boxHeight > 1)
            rows.boxSums.resize(size_t(s.source.width) * s.channels);
        rows.samples.assign(size_t(s.source.width) * s.channels + 1, 0.0f);
        rows.sums.resize(s.rowFloats);
    } catch (const std::bad_alloc&) {
        s.failed = true;
        return;
    }
    for (int y = band.first; y < band.end; ++y) {
        const float* w = &s.down.weights[size_t(y) * s.down.taps];
        float* sums = rows.sums.data();
        std::fill(sums, sums + s.rowFloats, 0.0f);
        for (int t = 0; t < s.down.count[y]; ++t) {
            const float* filtered = filteredRow(s, rows, s.down.first[y] + t);
            const float weight = w[t];
            for (size_t i = 0; i < s.rowFloats; ++i)
                sums[i] += weight * filtered[i];
        }
        storeRow(sums, s.rowFloats, s.wide, s.target.pixels + size_t(y) * s.target.stride);
    }
}

// Multiply-adds worth a thread of their own.
constexpr uint64_t kWorkPerBand = 4u << 20;
constexpr int kMostBands = 8;

int bandCount(const Scaling& s) {
    const uint64_t rowsRead = std::min<uint64_t>(s.reducedHeight, uint64_t(s.target.height) * s.down.taps);
    const uint64_t work = rowsRead * (s.rowFloats * s.across.taps + uint64_t(s.boxHeight) * s.source.width * s.channels) +
                          uint64_t(s.target.height) * s.rowFloats * s.down.taps;
    const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    const uint64_t wanted = std::max<uint64_t>(1, work / kWorkPerBand);
    return int(std::min<uint64_t>({wanted, uint64_t(std::min(cores, kMostBands)), s.target.height}));
}

}  // namespace

bool scaleInto(const BitmapRef& source, Interpolation mode, const BitmapTarget& target) {
    const int channels = channelCount(target.format);
    if (channels == 0 || channelCount(source.format) == 0 || source.pixels == nullptr || source.width == 0 ||
        source.height == 0 || target.pixels == nullptr || target.width == 0 || target.height == 0 ||
        uint64_t(target.stride) * 8 < uint64_t(target.width) * bitsPerPixel(target.format))
        return false;
    try {
        Scaling s;
        s.source = source;
        s.target = target;
        if (mode == Interpolation::BoxThenCubic) {
            // Whole boxes that leave the cubic filter between one and two times the target size: the
            // filter's footprint in source pixels stays that of HighQualityCubic.
            s.boxWidth = std::max(2u, source.width / target.width) - 1;
            s.boxHeight = std::max(2u, source.height / target.height) - 1;
        }
        s.reducedWidth = (source.width + s.boxWidth - 1) / s.boxWidth;
        s.reducedHeight = (source.height + s.boxHeight - 1) / s.boxHeight;
        s.across = contributions(s.reducedWidth, target.width, double(source.width) / s.boxWidth / target.width, mode);
        s.down = contributions(s.reducedHeight, target.height, double(source.height) / s.boxHeight / target.height, mode);
        s.channels = channels;
        s.wide = bitsPerChannel(target.format) == 16;
        s.convert = source.format != target.format;
        s.rowFloats = size_t(target.width) * channels;
        sys::runRowBands(int(target.height), bandCount(s), scaleBand, &s);
        return !s.failed;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool scaleBitmap(const BitmapRef& source, uint32_t width, uint32_t height, Interpolation mode, Bitmap* out) {
    Bitmap result;
    if (channelCount(source.format) == 0 || !allocateBitmap(&result, source.format, width, height) ||
        !scaleInto(source, mode, BitmapTarget{source.format, width, height, result.stride, result.pixels.data()}))
        return false;
    *out = std::move(result);
    return true;
}

}  // namespace wic
