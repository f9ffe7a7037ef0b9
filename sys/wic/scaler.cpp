// The bitmap scaler: separable resampling, a horizontal pass over each source row into floats, then
// a vertical pass into the target. Samples are scaled channel by channel, so the format's channel
// order does not matter.
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

Contributions contributions(uint32_t sourceSize, uint32_t targetSize, Interpolation mode) {
    const double ratio = double(sourceSize) / targetSize;
    const bool cubic = mode != Interpolation::Linear;
    const double radius = cubic ? 2.0 : 1.0;
    // Shrinking with the high-quality filter stretches the kernel over the whole source footprint.
    const double stretch = (mode == Interpolation::HighQualityCubic && ratio > 1) ? ratio : 1.0;
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
    std::vector<float> ring;         // filtered source rows, `rowFloats + 1` apart
    std::vector<int> ringRow;        // the source row in each slot; -1 when none
    std::vector<uint8_t> converted;  // a source row in the target's format
    std::vector<float> samples;      // a source row's samples as floats, one to spare
    std::vector<float> sums;         // the vertical sums of one target row
};

struct Scaling {
    BitmapRef source;
    BitmapTarget target;
    Contributions across, down;
    int channels = 0;      // of the target's format
    bool wide = false;     // 16 bits per sample
    bool convert = false;  // source rows are converted into the target's format first
    size_t rowFloats = 0;  // floats of one filtered row: target width x channels
    std::atomic<bool> failed{false};  // a band found no memory for its rows
};

const float* filteredRow(const Scaling& s, BandRows& rows, int sourceRow) {
    const size_t slots = rows.ringRow.size();
    const size_t slot = size_t(sourceRow) % slots;
    float* filtered = &rows.ring[slot * (s.rowFloats + 1)];
    if (rows.ringRow[slot] == sourceRow)
        return filtered;
    const uint8_t* row = s.source.pixels + size_t(sourceRow) * s.source.stride;
    if (s.convert) {
        convertInto(BitmapRef{s.source.format, s.source.width, 1, s.source.stride, row},
                    BitmapTarget{s.target.format, s.source.width, 1, uint32_t(rows.converted.size()),
                                 rows.converted.data()});
        row = rows.converted.data();
    }
    samplesToFloats(row, size_t(s.source.width) * s.channels, s.wide, rows.samples.data());
    filterAcross(s.channels, rows.samples.data(), s.across, s.target.width, filtered);
    rows.ringRow[slot] = sourceRow;
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
    const uint64_t rowsRead = std::min<uint64_t>(s.source.height, uint64_t(s.target.height) * s.down.taps);
    const uint64_t work = rowsRead * s.rowFloats * s.across.taps + uint64_t(s.target.height) * s.rowFloats * s.down.taps;
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
        s.across = contributions(source.width, target.width, mode);
        s.down = contributions(source.height, target.height, mode);
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
