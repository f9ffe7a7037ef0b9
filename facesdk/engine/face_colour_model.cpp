// Face colour model and skin likelihood: statistics over a sample rectangle, the model's axes
// from the fixed-point eigen-solver, and the per-pixel likelihood maps.
#include "facesdk/engine/face_colour_model.h"

#include <algorithm>
#include <cstdlib>

#include "facesdk/base/fixed_scale.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/row_bands.h"
#include "facesdk/engine/skin_model.h"

const FaceColourModel kDefaultFaceColourModel = {
    {130, 114, 147},
    {},
    {{-96, 0, 127}, {64, 6, 0}, {3, 127, 0}},
    532480,
    2281472,
};

const uint8_t kLikelihoodRamp[256] = {
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2,
    2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 4,
    4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 5, 5, 6, 6,
    6, 6, 7, 7, 7, 7, 8, 8, 8, 8, 9, 9, 9, 10, 10, 10,
    11, 11, 12, 12, 12, 13, 13, 14, 14, 14, 15, 15, 16, 16, 17, 17,
    18, 19, 19, 20, 20, 21, 21, 22, 23, 23, 24, 25, 25, 26, 27, 27,
    28, 29, 29, 30, 31, 32, 32, 33, 34, 35, 36, 37, 37, 38, 39, 40,
    41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56,
    57, 59, 60, 61, 62, 63, 64, 66, 67, 68, 70, 71, 72, 74, 75, 77,
    78, 79, 81, 82, 84, 86, 87, 89, 90, 92, 94, 95, 97, 99, 100, 102,
    104, 106, 108, 109, 111, 113, 115, 117, 119, 121, 123, 125, 127, 129, 131, 133,
    135, 137, 139, 142, 144, 146, 148, 151, 153, 156, 158, 160, 163, 165, 168, 170,
    173, 175, 178, 181, 183, 186, 188, 191, 193, 196, 198, 201, 203, 206, 208, 211,
    213, 215, 218, 220, 223, 226, 228, 231, 233, 236, 238, 240, 242, 245, 247, 248,
    250, 251, 253, 254, 254, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
};

namespace {

// ---- Layouts --------------------------------------------------------------------------------

enum class Layout { kNone, kPacked, kPlanar444, kPlanar422, kPlanar420, kSemi420 };

Layout layoutOf(PixelFormat format)
{
    switch (format) {
    case kFormatYuv422Yuyv:
    case kFormatYuv422Uyvy:
        return Layout::kPacked;
    case kFormatYuv444Planar:
        return Layout::kPlanar444;
    case kFormatYuv422Planar:
        return Layout::kPlanar422;
    case kFormatYuv420Planar:
        return Layout::kPlanar420;
    case kFormatYuv420SemiPlanar:
        return Layout::kSemi420;
    default:
        return Layout::kNone;
    }
}

struct Sample {
    int32_t y, cb, cr;
};

// The sample of pixel (x, y): its luma and the chroma sample that covers it. In the packed
// layout pairLuma picks the pair's first luma for both of its pixels.
Sample sampleAt(const EngineImage &image, Layout layout, int32_t x, int32_t y, bool pairLuma)
{
    auto row = [&](int plane, int32_t r) {
        return image.planes[plane].pixels + size_t(r) * image.planes[plane].stride;
    };
    switch (layout) {
    case Layout::kPacked: {
        const bool uyvy = image.format == kFormatYuv422Uyvy;
        const uint8_t *p = row(0, y) + 4 * chromaPairOf(image, x);
        const uint8_t luma = row(0, y)[(pairLuma ? 4 * (x >> 1) : 2 * x) + (uyvy ? 1 : 0)];
        return {luma, p[uyvy ? 0 : 1], p[uyvy ? 2 : 3]};
    }
    case Layout::kPlanar444:
        return {row(0, y)[x], row(1, y)[x], row(2, y)[x]};
    case Layout::kPlanar422:
        return {row(0, y)[x], row(1, y)[chromaPairOf(image, x)], row(2, y)[chromaPairOf(image, x)]};
    case Layout::kPlanar420: {
        const int32_t chromaRow = chromaRowOf(image, y), pair = chromaPairOf(image, x);
        return {row(0, y)[x], row(1, chromaRow)[pair], row(2, chromaRow)[pair]};
    }
    case Layout::kSemi420: {
        const uint8_t *p = row(1, chromaRowOf(image, y)) + 2 * chromaPairOf(image, x);
        return {row(0, y)[x], p[0], p[1]};
    }
    case Layout::kNone:
        break;
    }
    return {0, 128, 128};
}

bool counted(int32_t cb, int32_t cr)
{
    const bool blue = cb >= 169 && cr >= 104 && cr <= 152;
    const bool grey = cb >= 119 && cb <= 137 && cr >= 119 && cr <= 137;
    return !blue && !grey;
}

// ---- Statistics -----------------------------------------------------------------------------

struct ColourSums {
    uint64_t n = 0;
    int64_t sum[3] = {};
    int64_t products[3][3] = {};

    void add(const Sample &s, uint64_t times)
    {
        const int64_t c[3] = {s.y, s.cb, s.cr};
        n += times;
        for (int a = 0; a < 3; ++a) {
            sum[a] += c[a] * int64_t(times);
            for (int b = a; b < 3; ++b)
                products[a][b] += c[a] * c[b] * int64_t(times);
        }
    }
    void merge(const ColourSums &other)
    {
        n += other.n;
        for (int a = 0; a < 3; ++a) {
            sum[a] += other.sum[a];
            for (int b = a; b < 3; ++b)
                products[a][b] += other.products[a][b];
        }
    }
    int finish(int32_t means[3], int32_t covariance[3][3]) const
    {
        if (n == 0)
            return kResultNothingToDo;
        const int64_t count = int64_t(n);
        for (int a = 0; a < 3; ++a) {
            means[a] = int32_t(uint64_t(sum[a]) / n);
            for (int b = a; b < 3; ++b) {
                const int64_t value =
                    (count * products[a][b] - sum[a] * sum[b]) / (count * count);
                covariance[a][b] = covariance[b][a] = int32_t(value);
            }
        }
        return kResultOk;
    }
};

// What a pixel of the maps and sums below costs, in pixels of the simple loops that row bands
// are sized by (row_bands.h): a colour distance and products of three samples, and a likelihood
// on top of a distance.
constexpr int64_t kSumsPixelCost = 4;
constexpr int64_t kLikelihoodPixelCost = 8;

// The sums of the rectangle's rows, addRow(sums, y) adding row y, in row bands whose sums are
// merged after: integer sums come out the same in any order.
template <class AddRow>
ColourSums bandedSums(const EngineRect &rect, AddRow &&addRow)
{
    const int32_t bands = rowBandCount(rect.height, rect.width * kSumsPixelCost);
    ColourSums sums[kMostRowBands];
    forEachBand(bands, [&](int32_t k) {
        const int32_t end = rowBandStart(rect.y, rect.height, bands, k + 1);
        for (int32_t y = rowBandStart(rect.y, rect.height, bands, k); y < end; ++y)
            addRow(sums[k], y);
    });
    for (int32_t k = 1; k < bands; ++k)
        sums[0].merge(sums[k]);
    return sums[0];
}

bool rectUsable(const EngineImage *source, const EngineRect *rect)
{
    return imageValid(source) && rect && rect->width > 0 && rect->height > 0 &&
           rectInsideImage(*rect, source->width, source->height);
}

// ---- Distance and likelihood ----------------------------------------------------------------

int32_t modelDistance(const int32_t means[3], const int32_t axes[3][3], const Sample &s)
{
    const int32_t dy = s.y - means[0], dcb = s.cb - means[1], dcr = s.cr - means[2];
    const int32_t along0 = axes[0][0] * dy + axes[1][0] * dcb + axes[2][0] * dcr;
    const int32_t along1 = axes[0][1] * dy + axes[1][1] * dcb + axes[2][1] * dcr;
    return std::abs(along0) + std::abs(along1);
}

// The ramp value before the chroma grading: g from the distance, weakened below luma b.
int32_t rampValue(int32_t d, int32_t dMax, int32_t b, int32_t y)
{
    int64_t g = 4096 - int64_t(d) * 4096 / dMax;
    if (y < b) {
        const int64_t h = int64_t(y) * 4096 / b;
        g = (g * ((((h * h) >> 12) * h) >> 12)) >> 12;
    }
    int64_t k = (((g * 255) >> 11) + 1) >> 1;
    k = k < 0 ? 0 : (k > 255 ? 255 : k);
    return kLikelihoodRamp[k];
}

// A triangle of the Cb-Cr plane as three half-plane tests on e = Cb - e0.
struct Triangle {
    int32_t e0;             // Cb offset of e
    int32_t a1, c1, m1;     // a1 (c1 - Cr) < m1 e
    int32_t a2, c2, m2;     // a2 (c2 - Cr) > m2 e
    int32_t a3, c3, m3, o3; // a3 (Cr - c3) < m3 (Cb - o3)
};

bool insideTriangle(const Triangle &t, int32_t cb, int32_t cr, int32_t e)
{
    return t.a1 * (t.c1 - cr) < t.m1 * e && t.a2 * (t.c2 - cr) > t.m2 * e &&
           t.a3 * (cr - t.c3) < t.m3 * (cb - t.o3);
}

// Full value inside the inner triangle, half inside the outer one, a quarter elsewhere.
uint8_t gradedValue(int32_t t, int32_t cb, int32_t cr, const Triangle &inner,
                    const Triangle &outer)
{
    if (insideTriangle(inner, cb, cr, cb - inner.e0))
        return uint8_t(t);
    if (insideTriangle(outer, cb, cr, cb - outer.e0))
        return uint8_t(t >> 1);
    return uint8_t(t >> 2);
}

using ValueFn = uint8_t (*)(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t);

int likelihoodMap(InnerEngine *inner, const EngineImage *source, Layout layout,
                  const int32_t means[3], const int32_t axes[3][3], int64_t chromaTerm)
{
    EngineImage &out = inner->scratch[kLikelihoodScratch];
    if (!imageValid(source) || !imageValid(&out) || !out.planes[0].pixels)
        return kResultBadArgument;
    const int32_t b = means[0] < 80 ? 40 : (means[0] < 120 ? 60 : 80);

    const int32_t bands = rowBandCount(source->height, source->width * kSumsPixelCost);
    int32_t bandMax[kMostRowBands] = {};
    forEachBand(bands, [&](int32_t k) {
        const int32_t end = rowBandStart(0, source->height, bands, k + 1);
        for (int32_t y = rowBandStart(0, source->height, bands, k); y < end; ++y)
            for (int32_t x = 0; x < source->width; ++x) {
                const int32_t d = modelDistance(means, axes, sampleAt(*source, layout, x, y, false));
                bandMax[k] = d > bandMax[k] ? d : bandMax[k];
            }
    });
    const int32_t dMax = *std::max_element(bandMax, bandMax + bands);
    if (dMax == 0)
        return kResultNothingToDo;
    const ValueFn value =
        chromaTerm / 4096 >= 2000 ? skinLikelihoodValueStrong : skinLikelihoodValue;

    const uint32_t tx = uint32_t((uint64_t(source->width) << 16) / uint32_t(out.width));
    const uint32_t ty = uint32_t((uint64_t(source->height) << 16) / uint32_t(out.height));
    forEachRowBand(0, out.height, out.width * kLikelihoodPixelCost, [&](int32_t firstRow, int32_t endRow) {
        for (int32_t i = firstRow; i < endRow; ++i) {
            uint8_t *row = out.planes[0].pixels + size_t(i) * out.planes[0].stride;
            const int32_t sy = int32_t((uint64_t(i) * ty) >> 16);
            for (int32_t j = 0; j < out.width; ++j) {
                const int32_t sx = int32_t((uint64_t(j) * tx) >> 16);
                const Sample s = sampleAt(*source, layout, sx, sy, true);
                const int32_t d = modelDistance(means, axes, s);
                if (d < dMax)
                    row[j] = value(d, dMax, b, s.y, s.cb, s.cr);
            }
        }
    });
    return kResultOk;
}

// The model's steps 1 to 4 over a rectangle of the colour source.
int learnAndMap(InnerEngine *inner, const EngineRect &rect, int64_t *lumaTerm, int64_t *chromaTerm)
{
    const EngineImage *source = &inner->scratch[kColourSourceScratch];
    const Layout layout = layoutOf(source->format);
    if (layout == Layout::kNone)
        return kResultUnsupported;
    FaceColourModel model{};
    const int stats = layout == Layout::kPacked
                          ? colourStatsPacked422(source, &rect, model.mean, model.covariance)
                          : colourStatsPlanar(source, &rect, model.mean, model.covariance);
    if (stats != kResultOk)
        return stats;
    const int64_t dcb = model.mean[1] - 128, dcr = model.mean[2] - 128;
    model.lumaTerm = int64_t(model.mean[0]) * 4096;
    model.chromaTerm = (dcb * dcb + dcr * dcr) * 4096;
    if (lumaTerm)
        *lumaTerm = model.lumaTerm;
    if (chromaTerm)
        *chromaTerm = model.chromaTerm;
    int64_t eigenvalues[3];
    colourModelAxes(model.covariance, eigenvalues, model.axes);
    return likelihoodMap(inner, source, layout, model.mean, model.axes, model.chromaTerm);
}

}  // namespace

// ---- Statistics -----------------------------------------------------------------------------

int colourStatsPlanar(const EngineImage *source, const EngineRect *rect, int32_t means[3],
                      int32_t covariance[3][3])
{
    if (!source)
        return kResultBadArgument;
    const Layout layout = layoutOf(source->format);
    if (layout == Layout::kNone || layout == Layout::kPacked)
        return -8;
    if (!rectUsable(source, rect))
        return kResultBadArgument;
    return bandedSums(*rect, [&](ColourSums &sums, int32_t y) {
        for (int32_t x = rect->x; x < rect->x + rect->width; ++x) {
            const Sample s = sampleAt(*source, layout, x, y, false);
            if (counted(s.cb, s.cr))
                sums.add(s, 1);
        }
    }).finish(means, covariance);
}

int colourStatsPacked422(const EngineImage *source, const EngineRect *rect, int32_t means[3],
                         int32_t covariance[3][3])
{
    if (!source || layoutOf(source->format) != Layout::kPacked)
        return kResultBadArgument;
    if (!rectUsable(source, rect))
        return kResultBadArgument;
    return bandedSums(*rect, [&](ColourSums &sums, int32_t y) {
        for (int32_t x = rect->x & ~1; x < rect->x + rect->width; x += 2) {
            const Sample first = sampleAt(*source, Layout::kPacked, x, y, false);
            if (!counted(first.cb, first.cr))
                continue;
            sums.add(first, 1);
            if (x + 1 < rect->x + rect->width)
                sums.add(sampleAt(*source, Layout::kPacked, x + 1, y, false), 1);
        }
    }).finish(means, covariance);
}

void colourModelAxes(const int32_t covariance[3][3], int64_t eigenvalues[3], int32_t axes[3][3])
{
    int64_t scaled[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            scaled[i][j] = int64_t(covariance[i][j]) * 4096;
    int64_t vectors[3][3];
    symmetricEigen3(scaled, 12, eigenvalues, vectors);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            axes[i][j] = int32_t(vectors[i][j] >> 5);
}

// ---- Likelihood maps ------------------------------------------------------------------------

int colourLikelihoodSemiPlanar(InnerEngine *inner, const EngineImage *source,
                               const int32_t means[3], const int32_t axes[3][3],
                               int64_t chromaTerm)
{
    if (!inner || !source || layoutOf(source->format) != Layout::kSemi420)
        return kResultUnsupported;
    return likelihoodMap(inner, source, Layout::kSemi420, means, axes, chromaTerm);
}

int colourLikelihoodPacked422(InnerEngine *inner, const EngineImage *source,
                              const int32_t means[3], const int32_t axes[3][3],
                              int64_t chromaTerm)
{
    if (!inner || !source || layoutOf(source->format) != Layout::kPacked)
        return kResultBadArgument;
    return likelihoodMap(inner, source, Layout::kPacked, means, axes, chromaTerm);
}

int colourLikelihoodPlanar(InnerEngine *inner, const EngineImage *source, const int32_t means[3],
                           const int32_t axes[3][3], int64_t chromaTerm)
{
    if (!inner || !source)
        return kResultUnsupported;
    const Layout layout = layoutOf(source->format);
    if (layout != Layout::kPlanar444 && layout != Layout::kPlanar422 &&
        layout != Layout::kPlanar420)
        return kResultUnsupported;
    return likelihoodMap(inner, source, layout, means, axes, chromaTerm);
}

uint8_t skinLikelihoodValue(int32_t d, int32_t dMax, int32_t b, int32_t y, int32_t cb,
                            int32_t cr)
{
    static const Triangle kInner = {138, 59, 123, 38, 22, 161, 73, 37, 161, 35, 79};
    static const Triangle kOuter = {138, 69, 123, 33, 17, 156, 83, 52, 156, 50, 69};
    return gradedValue(rampValue(d, dMax, b, y), cb, cr, kInner, kOuter);
}

uint8_t skinLikelihoodValueStrong(int32_t d, int32_t dMax, int32_t b, int32_t y, int32_t cb,
                                  int32_t cr)
{
    static const Triangle kInner = {133, 64, 128, 38, 22, 166, 73, 42, 166, 35, 69};
    static const Triangle kOuter = {133, 74, 128, 43, 27, 171, 83, 47, 171, 40, 59};
    return gradedValue(rampValue(d, dMax, b, y), cb, cr, kInner, kOuter);
}

// ---- Operations -----------------------------------------------------------------------------

int faceColourLikelihood(InnerEngine *inner, const FaceWork *face, int32_t, int64_t *lumaTerm,
                         int64_t *chromaTerm)
{
    if (!inner)
        return kResultBadArgument;
    const EngineImage *source = &inner->scratch[kColourSourceScratch];
    const Layout layout = layoutOf(source->format);
    if (layout == Layout::kNone)
        return kResultUnsupported;
    if (!face) {
        const FaceColourModel &model = kDefaultFaceColourModel;
        if (lumaTerm)
            *lumaTerm = model.lumaTerm;
        if (chromaTerm)
            *chromaTerm = model.chromaTerm;
        return likelihoodMap(inner, source, layout, model.mean, model.axes, model.chromaTerm);
    }
    if (!imageValid(source) || inner->workingWidth <= 0 || inner->workingHeight <= 0)
        return kResultBadArgument;
    const int32_t sx = int32_t(uint32_t(source->width) * 1024u / uint32_t(inner->workingWidth));
    const int32_t sy = int32_t(uint32_t(source->height) * 1024u / uint32_t(inner->workingHeight));
    const int32_t x = scaleQ10(face->box.x, sx), y = scaleQ10(face->box.y, sy);
    const int32_t w = scaleQ10(face->box.width, sx), h = scaleQ10(face->box.height, sy);
    EngineRect rect;
    rect.x = x + w / 6 > 0 ? x + w / 6 : 0;
    rect.y = y + h / 10 > 0 ? y + h / 10 : 0;
    const int32_t roomW = source->width - rect.x, roomH = source->height - rect.y;
    rect.width = roomW < w - 2 * (w / 6) ? roomW : w - 2 * (w / 6);
    rect.height = roomH < h - 2 * (h / 10) ? roomH : h - 2 * (h / 10);
    rect = evenRect(rect);
    // A face that leaves nothing of itself inside the source has no sample to learn from.
    if (rect.width <= 0 || rect.height <= 0 || rect.x >= source->width || rect.y >= source->height)
        return kResultNothingToDo;
    return learnAndMap(inner, rect, lumaTerm, chromaTerm);
}

int regionColourLikelihood(InnerEngine *inner, const FaceWork *, int32_t, int64_t *lumaTerm,
                           int64_t *chromaTerm)
{
    if (!inner)
        return kResultBadArgument;
    const EngineImage *source = &inner->scratch[kColourSourceScratch];
    if (layoutOf(source->format) == Layout::kNone)
        return kResultUnsupported;
    if (!imageValid(source))
        return kResultBadArgument;
    const EngineRect whole{0, 0, source->width, source->height};
    return learnAndMap(inner, whole, lumaTerm, chromaTerm);
}
