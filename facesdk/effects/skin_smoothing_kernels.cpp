// The row kernels of the skin smoothing stage: they pull the full-resolution luma of a block
// row toward the smoothing means through the weights, interpolated across each block.
//
// Divisions: the kernels; the lift rule; the kernel table.
#include "facesdk/effects/skin_smoothing_kernels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "facesdk/base/result_codes.h"

// ---- The kernels ----------------------------------------------------------------------------

namespace {

// 1024 / (n + 1): the interpolation step across a block of n pixels.
int32_t reciprocal(int32_t n)
{
    static const int32_t kTable[20] = {1024, 512, 341, 256, 204, 170, 146, 128, 113, 102,
                                       93,   85,  78,  73,  68,  64,  60,  56,  53,  51};
    return n >= 0 && n < 20 ? kTable[n] : 1024 / (n + 1);
}

constexpr int32_t round128(int32_t v) { return (((v + (v >> 31)) >> 6) + 1) >> 1; }

// Bilinear weight and mean across a block in Q10, advanced sample by sample and row by row.
struct BlockInterpolation {
    int32_t W, M, cW, cM, dW, dM, ddW, ddM;
    BlockInterpolation(const SmoothingRowJob &job, int32_t k, int32_t n)
    {
        const int32_t fx = reciprocal(n), fy = reciprocal(job.rows);
        const uint8_t *wr = job.weights, *mr = job.means;
        const uint8_t *wd = wr + job.weightRowLength, *md = mr + job.weightRowLength;
        const int32_t w = wr[k], wR = wr[k + 1], wD = wd[k], wDR = wd[k + 1];
        const int32_t m = mr[k], mR = mr[k + 1], mD = md[k], mDR = md[k + 1];
        W = w * 1024, M = m * 1024;
        cW = (wR - w) * fx, cM = (mR - m) * fx;
        dW = (wD - w) * fy, dM = (mD - m) * fy;
        ddW = ((wDR + w - wR - wD) * fy * fx) >> 10;
        ddM = ((mDR + m - mR - mD) * fy * fx) >> 10;
    }
};

template <int Step>
void simpleBlend(uint8_t *block, int32_t n, int32_t rows, int32_t stride, int32_t w, int32_t mu)
{
    for (int32_t r = 0; r < rows; ++r) {
        uint8_t *px = block + size_t(r) * stride;
        for (int32_t s = 0; s < n; ++s) {
            const int32_t p = px[s * Step];
            px[s * Step] = uint8_t(p + round128(w * (mu - p)));
        }
    }
}

template <int Step>
void simpleLift(const SmoothingRowJob &job, uint8_t *block, int32_t n, int32_t w, int32_t mu)
{
    const int32_t t1 = job.lift1[mu], t2 = job.lift2[mu];
    for (int32_t r = 0; r < job.rows; ++r) {
        uint8_t *px = block + size_t(r) * job.stride;
        for (int32_t s = 0; s < n; ++s) {
            const int32_t p = px[s * Step];
            const int32_t e = liftWeight(p, mu, w, t1, t2, job.skinLevel);
            if (e > 0)
                px[s * Step] = uint8_t(p + round128(e * (mu - p)));
        }
    }
}

// Kind of block walk: symmetric blend, lift with weight and mean interpolated, lift with only
// the mean interpolated; LastRow never interpolates.
enum class KernelKind { Blend, Lift, LiftMean };

template <int Step, KernelKind Kind, bool LastRow>
void smoothingKernel(const SmoothingRowJob &job)
{
    uint8_t *block = job.image;
    for (int32_t k = 0; k < job.columns; ++k) {
        const int32_t n = job.widths[k];
        const int32_t w = job.weights[k], mu = job.means[k];
        uint8_t *const here = block;
        block += size_t(n) * Step;
        if (w == 0)
            continue;
        const bool simple = LastRow || k == job.columns - 1 ||
                            (Kind == KernelKind::Lift ? w < 46 : w <= job.theta);
        if (simple) {
            if (Kind == KernelKind::Blend)
                simpleBlend<Step>(here, n, job.rows, job.stride, w, mu);
            else
                simpleLift<Step>(job, here, n, w, mu);
            continue;
        }
        BlockInterpolation in(job, k, n);
        const int32_t t1 = job.lift1 ? job.lift1[mu] : 0, t2 = job.lift2 ? job.lift2[mu] : 0;
        int32_t rowW = in.W, rowM = in.M;
        for (int32_t r = 0; r < job.rows; ++r) {
            uint8_t *px = here + size_t(r) * job.stride;
            int32_t W = rowW, M = rowM;
            for (int32_t s = 0; s < n; ++s) {
                const int32_t p = px[s * Step];
                if (Kind == KernelKind::Blend) {
                    px[s * Step] = W < 128000 ? uint8_t(p + round128((W >> 10) * ((M >> 10) - p)))
                                              : uint8_t(M >> 10);
                } else {
                    const int32_t v = Kind == KernelKind::Lift ? (W >> 10) : w;
                    const int32_t e = liftWeight(p, rowM >> 10, v, t1, t2, job.skinLevel);
                    if (e >= 125)
                        px[s * Step] = uint8_t(M >> 10);
                    else if (e > 0)
                        px[s * Step] = uint8_t(p + round128(e * ((M >> 10) - p)));
                }
                W += in.cW, M += in.cM;
            }
            rowW += in.dW, rowM += in.dM;
            in.cW += in.ddW, in.cM += in.ddM;
        }
    }
}

}  // namespace

// ---- The lift rule --------------------------------------------------------------------------

void buildLiftTables(int32_t m, int32_t hT, uint8_t t1[256], uint8_t t2[256])
{
    const auto round = [](int32_t v) { return ((v >> 6) + 1) >> 1; };
    for (int32_t n = 0; n < 256; ++n) {
        const int32_t c = (m + hT + n) >> 1;
        t1[n] = uint8_t(std::max(60, round(102 * c)) - hT);
        t2[n] = uint8_t(std::max(60, round(90 * c)) - hT);
    }
}

int32_t liftWeight(int32_t p, int32_t cmp, int32_t v, int32_t t1, int32_t t2, int32_t m)
{
    if (p < cmp && p > t2) {
        if (p < t1)
            return v - 26;
        return p < m ? v - 13 : v;
    }
    return v < 76 ? v - 38 : 38;
}

// ---- The kernel table -----------------------------------------------------------------------

int selectSmoothingKernels(PixelFormat format, int32_t level, int32_t quality,
                           SmoothingKernels *out)
{
    if (!out || level < 1 || level > 3 || quality < 1 || quality > 3)
        return kResultBadArgument;
    bool packed = false;
    switch (format) {
    case kFormatYuv444Planar:
    case kFormatYuv422Planar:
    case kFormatYuv420Planar:
    case kFormatYuv420SemiPlanar:
        break;
    case kFormatYuv422Yuyv:
    case kFormatYuv422Uyvy:
        packed = true;
        break;
    default:
        return kResultBadArgument;
    }
    const bool lift = level == 1;
    out->theta = quality == 1 ? 64 : 45;
    out->lumaStep = packed ? 2 : 1;
    if (!packed) {
        out->main = lift ? (quality == 3 ? smoothingKernel<1, KernelKind::Lift, false>
                                         : smoothingKernel<1, KernelKind::LiftMean, false>)
                         : smoothingKernel<1, KernelKind::Blend, false>;
        out->lastRow = lift ? smoothingKernel<1, KernelKind::Lift, true>
                            : smoothingKernel<1, KernelKind::Blend, true>;
    } else {
        out->main = lift ? (quality == 3 ? smoothingKernel<2, KernelKind::Lift, false>
                                         : smoothingKernel<2, KernelKind::LiftMean, false>)
                         : smoothingKernel<2, KernelKind::Blend, false>;
        out->lastRow = lift ? smoothingKernel<2, KernelKind::Lift, true>
                            : smoothingKernel<2, KernelKind::Blend, true>;
    }
    return kResultOk;
}
