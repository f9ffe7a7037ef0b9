// Skin colour: the generic test and its chroma radius, the per-face colour model with its
// percentile limits, and the fixed-point Householder + QL eigen-solver.
#include "facesdk/engine/skin_model.h"

#include <cstdlib>
#include <cstring>

#include "facesdk/base/integer_math.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/inner_engine.h"

// ---- Pixel layouts --------------------------------------------------------------------------

namespace {

enum class ChromaLayout { kNone, kYuyv, kUyvy, kPlanar444, kPlanar422, kPlanar420, kSemi420 };

ChromaLayout chromaLayoutOf(PixelFormat format)
{
    switch (format) {
    case kFormatYuv422Yuyv:
        return ChromaLayout::kYuyv;
    case kFormatYuv422Uyvy:
        return ChromaLayout::kUyvy;
    case kFormatYuv444Planar:
        return ChromaLayout::kPlanar444;
    case kFormatYuv422Planar:
        return ChromaLayout::kPlanar422;
    case kFormatYuv420Planar:
        return ChromaLayout::kPlanar420;
    case kFormatYuv420SemiPlanar:
        return ChromaLayout::kSemi420;
    default:
        return ChromaLayout::kNone;
    }
}

const uint8_t *rowOf(const EngineImage &image, int plane, int32_t y)
{
    return image.planes[plane].pixels + size_t(y) * image.planes[plane].stride;
}

// The chroma of the pixel pair (or 2 x 2 block) that holds column x of row y.
void chromaAt(const EngineImage &image, ChromaLayout layout, int32_t x, int32_t y, int32_t *u,
              int32_t *v)
{
    const int32_t pair = chromaPairOf(image, x);
    switch (layout) {
    case ChromaLayout::kYuyv: {
        const uint8_t *p = rowOf(image, 0, y) + 4 * pair;
        *u = p[1], *v = p[3];
        break;
    }
    case ChromaLayout::kUyvy: {
        const uint8_t *p = rowOf(image, 0, y) + 4 * pair;
        *u = p[0], *v = p[2];
        break;
    }
    case ChromaLayout::kPlanar444:
        *u = rowOf(image, 1, y)[x & ~1], *v = rowOf(image, 2, y)[x & ~1];
        break;
    case ChromaLayout::kPlanar422:
        *u = rowOf(image, 1, y)[pair], *v = rowOf(image, 2, y)[pair];
        break;
    case ChromaLayout::kPlanar420:
        *u = rowOf(image, 1, chromaRowOf(image, y))[pair], *v = rowOf(image, 2, chromaRowOf(image, y))[pair];
        break;
    case ChromaLayout::kSemi420: {
        const uint8_t *p = rowOf(image, 1, chromaRowOf(image, y)) + 2 * pair;
        *u = p[0], *v = p[1];
        break;
    }
    case ChromaLayout::kNone:
        *u = *v = 128;
        break;
    }
}

int32_t lumaAt(const EngineImage &image, ChromaLayout layout, int32_t x, int32_t y)
{
    if (layout == ChromaLayout::kYuyv)
        return rowOf(image, 0, y)[2 * x];
    if (layout == ChromaLayout::kUyvy)
        return rowOf(image, 0, y)[2 * x + 1];
    return rowOf(image, 0, y)[x];
}

// Calls fn(Y, U, V, chromaTurn) for every pixel of the box, row by row in pixel pairs. The
// chroma turn is true once per chroma sample's share: on the first pixel of every pair, and for
// the semi-planar layout only on even rows of the box (once per 2 x 2 block).
template <typename Fn>
void walkBox(const EngineImage &image, ChromaLayout layout, const EngineRect &box, Fn &&fn)
{
    for (int32_t row = 0; row < box.height; ++row) {
        const int32_t y = box.y + row;
        const bool chromaRow = layout != ChromaLayout::kSemi420 || (row & 1) == 0;
        for (int32_t x = box.x; x < box.x + box.width; x += 2) {
            int32_t u = 0, v = 0;
            chromaAt(image, layout, x, y, &u, &v);
            fn(lumaAt(image, layout, x, y), u, v, chromaRow);
            if (x + 1 < box.x + box.width)
                fn(lumaAt(image, layout, x + 1, y), u, v, false);
        }
    }
}

// The small working copy and its layout, with the box checked against it.
int checkModelInput(const InnerEngine *inner, const EngineRect *box, ChromaLayout *layout)
{
    if (!inner || !box || !imageValid(&inner->detectionImage))
        return kResultBadArgument;
    const EngineImage &image = inner->detectionImage;
    *layout = chromaLayoutOf(image.format);
    if (*layout == ChromaLayout::kNone)
        return kResultUnsupported;
    if (box->width < 2 || box->height < 2 || !rectInsideImage(*box, image.width, image.height))
        return kResultBadArgument;
    return kResultOk;
}

int32_t projection(const SkinModel &model, int axis, int32_t y, int32_t u, int32_t v)
{
    const int32_t dY = y * 128 - model.mean[0];
    const int32_t dU = u * 128 - model.mean[1];
    const int32_t dV = v * 128 - model.mean[2];
    return ((dV * model.axes[2][axis]) >> 7) + ((dU * model.axes[1][axis]) >> 7) +
           ((dY * model.axes[0][axis]) >> 7);
}

}  // namespace

// ---- Generic test and chroma radius ---------------------------------------------------------

SkinChromaLines skinChromaLines(int32_t radius)
{
    return {30972 * radius, 46747 * radius - 2213826};
}

int32_t chromaRadius(const InnerEngine *inner) { return inner->skinChromaRadius; }

void setChromaRadius(InnerEngine *inner, int32_t radius)
{
    inner->skinChromaRadius = radius < kMaxChromaRadius ? radius : kMaxChromaRadius;
}

bool genericSkinTest(const SkinChromaLines &lines, int32_t y, int32_t u, int32_t v,
                     bool withGreyTest)
{
    if (65536 * v + 10656 * u - 9752818 <= lines.a)
        return false;
    if (65536 * v <= 82831 * u + lines.b)
        return false;
    if (v > 168 && u >= 104 && u <= 152)
        return false;
    if (y < 40)
        return false;
    if (withGreyTest && u >= 119 && u <= 137 && v >= 119 && v <= 137)
        return false;
    return u >= 90;
}

int measureChromaRadius(InnerEngine *inner, const FaceListEntry *entry, int32_t *radiusOut)
{
    if (!inner || !imageValid(&inner->detectionImage))
        return kResultBadArgument;
    const EngineImage &image = inner->detectionImage;
    const ChromaLayout layout = chromaLayoutOf(image.format);
    if (layout == ChromaLayout::kNone)
        return kResultUnsupported;

    int32_t x0 = 0, y0 = 0, x1 = image.width, y1 = image.height, step = 16;
    if (entry) {
        // The entry's box, corners made even, kept inside the copy.
        const EngineRect &b = entry->smallBox;
        x0 = b.x & ~1, y0 = b.y & ~1;
        x1 = (b.x + b.width) & ~1, y1 = (b.y + b.height) & ~1;
        x0 = x0 < 0 ? 0 : x0, y0 = y0 < 0 ? 0 : y0;
        x1 = x1 > image.width ? image.width : x1, y1 = y1 > image.height ? image.height : y1;
        step = 2;
    }
    uint64_t sum = 0;
    uint32_t samples = 0;
    for (int32_t y = y0; y < y1; y += step)
        for (int32_t x = x0; x < x1; x += step) {
            int32_t u = 0, v = 0;
            chromaAt(image, layout, x, y, &u, &v);
            sum += uint64_t((u - 128) * (u - 128) + (v - 128) * (v - 128));
            ++samples;
        }
    // Nothing sampled: 11 for a face (r taken as 15), 21 for the whole copy.
    int32_t radius = entry ? 11 : 21;
    if (samples) {
        const int32_t r = int32_t(isqrt32(uint32_t(sum / samples)));
        radius = (53 * r + 345) / 100;
        radius = radius < kMaxChromaRadius ? radius : kMaxChromaRadius;
    }
    if (!entry)
        setChromaRadius(inner, radius);
    if (radiusOut)
        *radiusOut = radius;
    return kResultOk;
}

// ---- Per-face model -------------------------------------------------------------------------

int fitSkinModel(InnerEngine *inner, const EngineRect *box, SkinModel *model)
{
    ChromaLayout layout;
    const int check = checkModelInput(inner, box, &layout);
    if (check != kResultOk)
        return check;
    if (!model)
        return kResultBadArgument;
    const EngineImage &image = inner->detectionImage;
    const int64_t n = int64_t(box->width) * box->height;
    const int64_t chromaSamples = layout == ChromaLayout::kSemi420 ? n / 4 : n / 2;

    // Sums are 64-bit: large boxes of strongly varying colour overflow 32 bits.
    int64_t sumY = 0, sumU = 0, sumV = 0;
    walkBox(image, layout, *box, [&](int32_t y, int32_t u, int32_t v, bool chromaTurn) {
        sumY += y;
        if (chromaTurn)
            sumU += u, sumV += v;
    });
    std::memset(model, 0, sizeof(SkinModel));
    model->mean[0] = int32_t((sumY << 7) / n);
    model->mean[1] = int32_t((sumU << 7) / (chromaSamples ? chromaSamples : 1));
    model->mean[2] = int32_t((sumV << 7) / (chromaSamples ? chromaSamples : 1));

    int64_t yy = 0, uy = 0, vy = 0, uu = 0, uv = 0, vv = 0;
    const int64_t chromaShare = layout == ChromaLayout::kSemi420 ? 1 : 2;
    walkBox(image, layout, *box, [&](int32_t y, int32_t u, int32_t v, bool chromaTurn) {
        const int64_t dY = int64_t(y) * 128 - model->mean[0];
        const int64_t dU = int64_t(u) * 128 - model->mean[1];
        const int64_t dV = int64_t(v) * 128 - model->mean[2];
        yy += (dY * dY) >> 7;
        uy += (dU * dY) >> 7;
        vy += (dV * dY) >> 7;
        if (chromaTurn) {
            uu += chromaShare * ((dU * dU) >> 7);
            uv += chromaShare * ((dU * dV) >> 7);
            vv += chromaShare * ((dV * dV) >> 7);
        }
    });
    if (layout == ChromaLayout::kSemi420)
        uu *= 4, uv *= 4, vv *= 4;
    int32_t(&k)[3][3] = model->covariance;
    k[0][0] = int32_t(yy / n);
    k[1][0] = k[0][1] = int32_t(uy / n);
    k[2][0] = k[0][2] = int32_t(vy / n);
    k[1][1] = int32_t(uu / n);
    k[2][1] = k[1][2] = int32_t(uv / n);
    k[2][2] = int32_t(vv / n);

    int64_t scaled[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            scaled[i][j] = int64_t(k[i][j]) * 512;
    int64_t values[3];
    int64_t vectors[3][3];
    symmetricEigen3(scaled, 16, values, vectors);
    for (int i = 0; i < 3; ++i) {
        model->eigenvalues[i] = int32_t(values[i] >> 9);
        for (int j = 0; j < 3; ++j)
            model->axes[i][j] = int32_t(vectors[i][j] >> 9);
    }
    return kResultOk;
}

int skinModelThreshold(InnerEngine *inner, const EngineRect *box, const SkinModel *model,
                       int axis, int32_t *limit)
{
    ChromaLayout layout;
    const int check = checkModelInput(inner, box, &layout);
    if (check != kResultOk)
        return check;
    if (!model || !limit || axis < 0 || axis > 2)
        return kResultBadArgument;
    const int64_t n = int64_t(box->width) * box->height;
    if (n > int64_t(UINT32_MAX / sizeof(int32_t)))
        return kResultBadArgument;
    auto *values = static_cast<int32_t *>(
        allocatorAlloc(inner->allocator, uint32_t(n * int64_t(sizeof(int32_t)))));
    if (!values)
        return kResultNoMemory;

    int64_t count = 0;
    int32_t lo = INT32_MAX, hi = INT32_MIN;
    walkBox(inner->detectionImage, layout, *box, [&](int32_t y, int32_t u, int32_t v, bool) {
        const int32_t p = std::abs(projection(*model, axis, y, u, v));
        values[count++] = p;
        lo = p < lo ? p : lo;
        hi = p > hi ? p : hi;
    });
    if (hi == lo) {
        *limit = 0;
        allocatorFree(inner->allocator, values);
        return kResultOk;
    }
    uint32_t histogram[101] = {};
    for (int64_t i = 0; i < count; ++i) {
        int64_t bin = ((int64_t(values[i]) - lo) * 12800 / (int64_t(hi) - lo) + 64) >> 7;
        bin = bin < 0 ? 0 : (bin > 100 ? 100 : bin);
        ++histogram[bin];
    }
    allocatorFree(inner->allocator, values);

    static const int64_t kPercentile[3] = {998, 947, 922};  // in 1/1024
    const int32_t cls = inner->skinAmountClass;
    const int64_t q = kPercentile[cls < 0 ? 0 : (cls > 2 ? 2 : cls)];
    int32_t bin = 0;
    if (q * n > 1023) {
        const int64_t wanted = (q * n) >> 10;
        int64_t sum = 0;
        for (bin = 0; bin <= 100; ++bin) {
            sum += histogram[bin];
            if (sum >= wanted)
                break;
        }
        bin = bin > 100 ? 100 : bin;
    } else {
        while (bin < 100 && histogram[bin] == 0)
            ++bin;
    }
    *limit = int32_t(lo + (int64_t(hi) - lo) * bin / 100);
    return kResultOk;
}

bool skinModelMember(const SkinModel *model, int32_t y, int32_t u, int32_t v, int k1, int32_t l1,
                     int k2, int32_t l2)
{
    return std::abs(projection(*model, k1, y, u, v)) <= l1 &&
           std::abs(projection(*model, k2, y, u, v)) <= l2;
}

// ---- Eigen-solver ---------------------------------------------------------------------------
// The steps follow the published tred2 and tql2 procedures in their order of operations; every
// floating-point product is one mul and every quotient one div, each shifted by s at once.

namespace {

struct Fixed {
    int s;
    int64_t one() const { return int64_t(1) << s; }
    int64_t mul(int64_t a, int64_t b) const { return (a * b) >> s; }
    // A zero divisor answers 0 instead of faulting; it only arises for degenerate inputs.
    int64_t div(int64_t a, int64_t b) const { return b ? (a * one()) / b : 0; }
};

int64_t abs64(int64_t a) { return a < 0 ? -a : a; }

constexpr int kMaxQlIterations = 60;

}  // namespace

int64_t hypot64(int64_t a, int64_t b, int s)
{
    const int64_t one = int64_t(1) << s;
    // The sum below is about a^2 + b^2: beyond 2^31 it would overflow 64 bits (QL meets such
    // values when an off-diagonal element is tiny next to a diagonal gap). Scale both down
    // instead; the root loses only bits far below one.
    const uint64_t larger = uint64_t(abs64(a) > abs64(b) ? abs64(a) : abs64(b));
    if (larger >= (uint64_t(1) << 31)) {
        int shift = 0;
        while ((larger >> shift) >= (uint64_t(1) << 31))
            ++shift;
        const uint64_t sa = uint64_t(abs64(a)) >> shift, sb = uint64_t(abs64(b)) >> shift;
        return int64_t(isqrt64(sa * sa + sb * sb) << shift);
    }
    auto whole = [s](int64_t v) { return (((v + (v >> 63)) >> (s - 1)) + 1) >> 1; };
    const int64_t ai = whole(a), bi = whole(b);
    const int64_t ra = a - ai * one, rb = b - bi * one;
    const int64_t h = (one * (ai * ai + bi * bi) + 2 * (ai * ra + bi * rb) + ((ra * ra) >> s) +
                       ((rb * rb) >> s)) *
                      one;
    if (h > 0) {
        const int64_t root = int64_t(isqrt64(uint64_t(h)));
        if (root != 0)
            return root;
    }
    if (a == 0 && b == 0)
        return 1;
    return abs64(a) > abs64(b) ? abs64(a) : abs64(b);
}

void householderTridiagonal(int64_t v[3][3], int64_t d[3], int64_t e[3], int s)
{
    const Fixed fx{s};
    const int n = 3;
    for (int j = 0; j < n; ++j)
        d[j] = v[n - 1][j];
    for (int i = n - 1; i > 0; --i) {
        int64_t scale = 0;
        int64_t h = 0;
        for (int k = 0; k < i; ++k)
            scale += abs64(d[k]);
        if (scale == 0) {
            e[i] = d[i - 1];
            for (int j = 0; j < i; ++j) {
                d[j] = v[i - 1][j];
                v[i][j] = 0;
                v[j][i] = 0;
            }
        } else {
            for (int k = 0; k < i; ++k) {
                d[k] = fx.div(d[k], scale);
                h += fx.mul(d[k], d[k]);
            }
            int64_t f = d[i - 1];
            int64_t g = h > 0 ? int64_t(isqrt64(uint64_t(h) << s)) : 0;
            if (f >= 1)
                g = -g;
            e[i] = fx.mul(scale, g);
            h = h - fx.mul(f, g);
            d[i - 1] = f - g;
            for (int j = 0; j < i; ++j)
                e[j] = 0;
            for (int j = 0; j < i; ++j) {
                f = d[j];
                v[j][i] = f;
                g = e[j] + fx.mul(v[j][j], f);
                for (int k = j + 1; k <= i - 1; ++k) {
                    g += fx.mul(v[k][j], d[k]);
                    e[k] += fx.mul(v[k][j], f);
                }
                e[j] = g;
            }
            f = 0;
            for (int j = 0; j < i; ++j) {
                e[j] = fx.div(e[j], h);
                f += fx.mul(e[j], d[j]);
            }
            const int64_t hh = fx.div(f, h + h);
            for (int j = 0; j < i; ++j)
                e[j] -= fx.mul(hh, d[j]);
            for (int j = 0; j < i; ++j) {
                f = d[j];
                g = e[j];
                for (int k = j; k <= i - 1; ++k)
                    v[k][j] -= fx.mul(f, e[k]) + fx.mul(g, d[k]);
                d[j] = v[i - 1][j];
                v[i][j] = 0;
            }
        }
        d[i] = h;
    }
    // Accumulate the transformations.
    for (int i = 0; i < n - 1; ++i) {
        v[n - 1][i] = v[i][i];
        v[i][i] = fx.one();
        const int64_t h = d[i + 1];
        if (h != 0) {
            for (int k = 0; k <= i; ++k)
                d[k] = fx.div(v[k][i + 1], h);
            for (int j = 0; j <= i; ++j) {
                int64_t g = 0;
                for (int k = 0; k <= i; ++k)
                    g += fx.mul(v[k][i + 1], v[k][j]);
                for (int k = 0; k <= i; ++k)
                    v[k][j] -= fx.mul(g, d[k]);
            }
        }
        for (int k = 0; k <= i; ++k)
            v[k][i + 1] = 0;
    }
    for (int j = 0; j < n; ++j) {
        d[j] = v[n - 1][j];
        v[n - 1][j] = 0;
    }
    v[n - 1][n - 1] = fx.one();
    e[0] = 0;
}

void tridiagonalQL(int64_t v[3][3], int64_t d[3], int64_t e[3], int s)
{
    const Fixed fx{s};
    const int n = 3;
    for (int i = 1; i < n; ++i)
        e[i - 1] = e[i];
    e[n - 1] = 0;
    int64_t f = 0;
    int64_t tst1 = 0;
    for (int l = 0; l < n; ++l) {
        const int64_t size = abs64(d[l]) + abs64(e[l]);
        tst1 = size > tst1 ? size : tst1;
        int m = l;
        while (m < n && abs64(e[m]) > (tst1 >> s))
            ++m;
        if (m == n)
            m = n - 1;
        if (m > l) {
            // Fixed point may stall short of convergence; the iteration count is bounded.
            for (int iteration = 0; iteration < kMaxQlIterations; ++iteration) {
                int64_t g = d[l];
                int64_t p = fx.div(d[l + 1] - g, 2 * e[l]);
                int64_t r = hypot64(p, fx.one(), s);
                if (p < 0)
                    r = -r;
                d[l] = fx.div(e[l], p + r);
                d[l + 1] = fx.mul(e[l], p + r);
                const int64_t dl1 = d[l + 1];
                int64_t h = g - d[l];
                for (int i = l + 2; i < n; ++i)
                    d[i] -= h;
                f += h;
                p = d[m];
                int64_t c = fx.one(), c2 = c, c3 = c;
                const int64_t el1 = e[l + 1];
                int64_t sn = 0, s2 = 0;
                for (int i = m - 1; i >= l; --i) {
                    c3 = c2;
                    c2 = c;
                    s2 = sn;
                    g = fx.mul(c, e[i]);
                    h = fx.mul(c, p);
                    r = hypot64(p, e[i], s);
                    e[i + 1] = fx.mul(sn, r);
                    sn = fx.div(e[i], r);
                    c = fx.div(p, r);
                    p = fx.mul(c, d[i]) - fx.mul(sn, g);
                    d[i + 1] = h + fx.mul(sn, fx.mul(c, g) + fx.mul(sn, d[i]));
                    for (int k = 0; k < n; ++k) {
                        h = v[k][i + 1];
                        v[k][i + 1] = fx.mul(sn, v[k][i]) + fx.mul(c, h);
                        v[k][i] = fx.mul(c, v[k][i]) - fx.mul(sn, h);
                    }
                }
                p = fx.div(fx.mul(fx.mul(fx.mul(fx.mul(-sn, s2), c3), el1), e[l]), dl1);
                e[l] = fx.mul(sn, p);
                d[l] = fx.mul(c, p);
                if (abs64(e[l]) <= (tst1 >> s))
                    break;
            }
        }
        d[l] = d[l] + f;
        e[l] = 0;
    }
    // Ascending order, the vectors moving with their values.
    for (int i = 0; i < n - 1; ++i) {
        int k = i;
        int64_t p = d[i];
        for (int j = i + 1; j < n; ++j)
            if (d[j] < p) {
                k = j;
                p = d[j];
            }
        if (k != i) {
            d[k] = d[i];
            d[i] = p;
            for (int j = 0; j < n; ++j) {
                const int64_t swap = v[j][i];
                v[j][i] = v[j][k];
                v[j][k] = swap;
            }
        }
    }
}

void symmetricEigen3(const int64_t matrix[3][3], int s, int64_t eigenvalues[3],
                     int64_t vectors[3][3])
{
    int64_t e[3] = {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            vectors[i][j] = matrix[i][j];
    householderTridiagonal(vectors, eigenvalues, e, s);
    tridiagonalQL(vectors, eigenvalues, e, s);
}

// ---- Face list ------------------------------------------------------------------------------

int32_t faceListTotalArea(const InnerEngine *inner)
{
    int32_t area = 0;
    for (uint32_t i = 0; inner && inner->faceList && i < inner->faceListCount; ++i) {
        const EngineRect &box = inner->faceList[i].smallBox;
        area += box.width * box.height;
    }
    return area;
}
