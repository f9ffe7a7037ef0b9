/*
 * Tracked-face tools: the local search around a tracked face, the refinement of a tracked box
 * to skin and motion with its checks, motion by projection profiles, and the per-frame box
 * smoothing and duplicate removal.
 *
 * Divisions: local search; skin share, texture and box checks; profiles; refinement; box
 * smoothing; duplicates and swallowed faces.
 *
 * Fixed point: profile rectangles and steps in 16.16 pixels; weights Q10 ((v x q) >> 10).
 */
#include "facesdk/detect/passes.h"

#include "facesdk/base/bilinear.h"
#include "facesdk/base/fixed_scale.h"
#include "facesdk/detect/faces.h"
#include "facesdk/detect/frame.h"
#include "facesdk/detect/window.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kSearchFirst = kWindowNormalise | kWindowNoChecks;                   /* 18 */
constexpr int kSearchAfterPass = kWindowVariant1 | kWindowNormalise | kWindowNoChecks; /* 19 */
constexpr int kSearchGrown = kWindowVariant1 | kWindowNormalise | 0x4;              /* 7 */

struct LocalBest {
    int32_t x, y, size, answer;
};

} // namespace

/* ---- local search ---- */

int searchAroundFace(FaceDetector *d, const int32_t box[4], int32_t roll, int32_t view, int32_t minStep, bool relaxed)
{
    if (box[2] != box[3] || box[2] <= 0)
        return 0;
    const int32_t side = box[2];
    const int32_t cx = box[0] + side / 2, cy = box[1] + side / 2;
    d->rollRefinementAllowed = d->frame.prefilter.lightingClass == 0;
    const int32_t *search = d->scanRect;
    LocalBest best{0, 0, 0, 0};
    int64_t total = 0, lastSum = 0;
    int32_t threshold = 350, passes = 0;
    const int32_t sizes[3] = {side, productQ10HalfUp(side, 1229), productQ10HalfUp(side, 853)};
    for (int si = 0; si < 3; ++si) {
        const int32_t f = sizes[si];
        const int32_t base = f > 21 ? 22 : 14;
        setWindowModel(d, base, roll, view);
        if (f < base)
            continue;
        const uint32_t scale = uint32_t(f * 1024 / base + 1);
        setScanScale(d, scale);
        threshold = windowThreshold(d, f);
        const int32_t colLo = std::max(search[0] + 1, cx - f / 4 - f / 2);
        const int32_t colHi = std::min(colLo + 2 * (f / 4), search[0] + search[2] - f - 1);
        const int32_t rowLo = std::max(search[1] + 1, cy - f / 4 - f / 2);
        const int32_t rowHi = std::min(rowLo + 2 * (f / 4), search[1] + search[3] - f - 1);
        if (colHi < colLo || rowHi < rowLo)
            continue;
        const int32_t coarse = std::max(minStep, productQ10HalfUp(f, 49));
        const int32_t fine = std::max(1, int32_t((scale + 513) >> 10));
        int32_t mx = (colLo + colHi) / 2, my = (rowLo + rowHi) / 2, step = coarse, firstRing = 0;
        bool passed = false;
        int64_t sum = 0;
        bool restart = true;
        while (restart) {
            restart = false;
            for (int32_t ring = firstRing; ring < 99 && !restart; ++ring) {
                const int32_t k = ring * step;
                if (mx - k < colLo && mx + k > colHi && my - k < rowLo && my + k > rowHi)
                    break;
                for (int32_t dy = -ring; dy <= ring && !restart; ++dy)
                    for (int32_t dx = -ring; dx <= ring && !restart; ++dx) {
                        if (std::abs(dx) != ring && std::abs(dy) != ring)
                            continue;
                        const int32_t x = mx + dx * step, y = my + dy * step;
                        if (x < colLo || x > colHi || y < rowLo || y > rowHi)
                            continue;
                        const int answer = evaluateWindow(d, x, y, passed ? kSearchAfterPass : kSearchFirst);
                        if (answer < 1)
                            continue;
                        sum += answer;
                        total += answer;
                        ++passes;
                        if (answer > best.answer)
                            best = LocalBest{x, y, f, answer};
                        if (!passed) {
                            /* the first pass restarts the rings around itself at the fine step */
                            passed = true;
                            mx = x;
                            my = y;
                            step = fine;
                            firstRing = 1;
                            restart = true;
                            break;
                        }
                        if (sum >= threshold && !(d->scanOptions & 0x2)) {
                            LocalBest taken = best;
                            if (best.size == side && si == 0) {
                                /* one try at the grown size before settling */
                                const int32_t grown = sizes[1], grownBase = grown >= 22 ? 22 : 14;
                                const int32_t shift = (grown - side) / 2;
                                setWindowModel(d, grownBase, roll, view);
                                setScanScale(d, uint32_t(grown * 1024 / grownBase + 1));
                                const int32_t gx = best.x - shift, gy = best.y - shift;
                                LocalBest g{gx, gy, grown, evaluateWindow(d, gx, gy, kSearchGrown)};
                                const int32_t around[4][2] = {{0, -fine}, {-fine, 0}, {fine, 0}, {0, fine}};
                                for (auto &o : around) {
                                    const int a = evaluateWindow(d, gx + o[0], gy + o[1], kSearchAfterPass);
                                    if (a > g.answer)
                                        g = LocalBest{gx + o[0], gy + o[1], grown, a};
                                }
                                if (g.answer >= best.answer)
                                    taken = g;
                                setWindowModel(d, base, roll, view);
                            }
                            const int32_t found[4] = {taken.x - 1, taken.y - 1, taken.size, taken.size};
                            return addCandidate(d, found, int32_t(sum), int32_t(sum / 4), 1, passes, nullptr) ==
                                           kResultOk
                                       ? 1
                                       : 0;
                        }
                    }
            }
        }
        lastSum = sum;
    }
    if (best.answer <= 1)
        return 0;
    const int32_t need = relaxed ? productQ10HalfUp(threshold, 683) : threshold;
    const int64_t reached = std::max(total, lastSum);
    if (reached < need)
        return 0;
    const int32_t found[4] = {best.x - 1, best.y - 1, best.size, best.size};
    return addCandidate(d, found, int32_t(reached), int32_t(reached / 4), 1, passes, nullptr) == kResultOk ? 1 : 0;
}

/* ---- skin share, texture and box checks ---- */

int skinRatio(FaceDetector *d, const DetectedFace *face, int32_t x, int32_t y, int32_t w, int32_t h, int32_t low,
              int32_t high)
{
    const FrameBuffers &set = d->frame;
    const int32_t W = int32_t(set.working.width), H = int32_t(set.working.height);
    const uint8_t *luma = set.working.data, *pairs = luma + size_t(W) * H, *skin = set.skinMap.data;
    const uint64_t total = uint64_t(face->skinCounts[0]) + face->skinCounts[1] + face->skinCounts[2];
    int32_t m = 0;
    if (uint64_t(face->skinCounts[2]) * 100 > total * 85)
        m = 2;
    else if (uint64_t(face->skinCounts[1] + face->skinCounts[2]) * 100 > total * 85)
        m = 1;
    const bool prefilter = set.prefilter.enabled && m != 0 && skin;
    const bool colour = face->colourValid;
    const int32_t mean = face->lumaMean;
    uint64_t counted = 0, pixels = 0;
    for (int32_t yy = std::max(0, y); yy < std::min(H, y + h); ++yy)
        for (int32_t xx = std::max(0, x); xx < std::min(W, x + w); ++xx) {
            ++pixels;
            const uint8_t l = luma[size_t(yy) * W + xx];
            const uint8_t *pair = pairs + size_t(yy >> 1) * W + (xx & ~1);
            const bool chromaIn = pair[0] >= face->cbMin && pair[0] <= face->cbMax && pair[1] >= face->crMin &&
                                  pair[1] <= face->crMax;
            const bool lumaIn = l >= face->lumaLow && l <= face->lumaHigh;
            bool ok;
            if (colour)
                ok = mean >= 181 ? (l > 239 || chromaIn) : mean >= 20 ? chromaIn : lumaIn;
            else
                ok = prefilter && mean >= 20 ? true : lumaIn;
            if (prefilter)
                ok = ok && skin[size_t(yy >> 1) * (W >> 1) + (xx >> 1)] >= m;
            counted += ok;
        }
    return (pixels * uint64_t(low)) >> 10 <= counted && counted <= (pixels * uint64_t(high)) >> 10;
}

int textureCheck(FaceDetector *d, DetectedFace *face)
{
    if (face->lumaMean < 20)
        return 1;
    const DetectorPlane &image = d->frame.working;
    const int32_t W = int32_t(image.width), H = int32_t(image.height);
    const int32_t *b = face->box;
    const int32_t w = b[2], h = b[3];
    uint64_t s1 = 0, s2 = 0, n = 0;
    auto take = [&](int32_t x, int32_t y) {
        if (x < 0 || y < 0 || x >= W || y >= H)
            return;
        const uint32_t v = image.data[size_t(y) * W + x];
        s1 += v;
        s2 += v * v;
        ++n;
    };
    if (std::min(w, h) < 20) {
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                take(b[0] + x, b[1] + y);
    } else {
        const int32_t side = std::min(w, h);
        for (int32_t ky = 0; ky < 10; ++ky)
            for (int32_t kx = 0; kx < 10; ++kx)
                take(b[0] + int32_t((int64_t(kx) * side * 65536 / 10) >> 16),
                     b[1] + int32_t((int64_t(ky) * side * 65536 / 10) >> 16));
    }
    if (n < 2)
        return 0;
    const uint32_t deviation = isqrt64((s2 * n - s1 * s1) / (n * (n - 1)));
    return 2 * int64_t(deviation) >= face->lumaDeviation;
}

int validateTrackedBox(FaceDetector *d, DetectedFace *face)
{
    const int64_t w = face->box[2], h = face->box[3];
    const int64_t shorter = std::min(w, h), longer = std::max(w, h);
    const int64_t minFace = std::max<int64_t>(d->working.minFaceSize, 14);
    int64_t maxFace = d->working.maxFaceSize;
    if (maxFace == 0)
        maxFace = std::min(d->frame.working.width, d->frame.working.height);
    if (shorter < minFace / 2 || longer > maxFace * 3 / 2 || longer >= shorter * 25 / 10)
        return 0;
    const int64_t a = w * h, c = face->creationArea;
    const int64_t factor = face->colourValid ? 4 : 2;
    if (a * factor < c || c * factor < a)
        return 0;
    int32_t bound = 179;
    if (c >= 484) {
        const int64_t smoothed = int64_t(face->smoothed[2]) * face->smoothed[3];
        if (a * 3 < smoothed || smoothed * 3 < a)
            return 0;
        bound = 358;
    }
    if (!skinRatio(d, face, face->box[0], face->box[1], int32_t(w), int32_t(h), bound, 1024))
        return 0;
    if (!face->colourValid && face->missedFrames > 20)
        return 0;
    const int64_t W = d->frame.working.width, H = d->frame.working.height;
    if (w < W - 1 && h < H - 1)
        return 1;
    return face->lumaMean >= 20 && face->missedFrames < 4;
}

/* ---- profiles ---- */

int prepareProfile(FaceDetector *d, MotionProfile *profile, int32_t step, uint32_t count, int32_t axis,
                   const int32_t rect[4])
{
    if (!profile->sums || profile->count != count) {
        allocatorFree(d->allocator, profile->sums);
        profile->sums = static_cast<int32_t *>(allocatorAlloc(d->allocator, 3 * 4 * count));
        profile->count = profile->sums ? count : 0;
        if (!profile->sums) {
            profile->valid = 0;
            return 0;
        }
    }
    std::memset(profile->sums, 0, 12 * size_t(count));
    profile->valid = 1;
    profile->axis = axis;
    profile->step = step;
    std::memcpy(profile->rect, rect, 16);
    return 1;
}

namespace {

/* Bilinear sample of a byte plane with a pixel stride at 16.16 coordinates. */
int32_t bilinear(const uint8_t *plane, int32_t stride, int32_t pixelStep, int32_t width, int32_t height, int64_t x,
                 int64_t y)
{
    int64_t px = x >> 16, py = y >> 16;
    px = std::min<int64_t>(std::max<int64_t>(px, 0), width - 2);
    py = std::min<int64_t>(std::max<int64_t>(py, 0), height - 2);
    const int64_t fx = std::min<int64_t>(std::max<int64_t>(x - (px << 16), 0), 65535);
    const int64_t fy = std::min<int64_t>(std::max<int64_t>(y - (py << 16), 0), 65535);
    const uint8_t *p = plane + py * stride + px * pixelStep;
    return int32_t(bilinearQ16Truncated(p[0], p[pixelStep], p[stride], p[stride + pixelStep], fx, fy));
}

} // namespace

int sampleProfiles(FaceDetector *d, MotionProfile *columns, MotionProfile *rows, uint32_t columnCount,
                   uint32_t rowCount, const int32_t rect[4])
{
    const int32_t stepX = int32_t(rect[2] / int32_t(columnCount)), stepY = int32_t(rect[3] / int32_t(rowCount));
    if ((columns && !prepareProfile(d, columns, stepX, columnCount, 1, rect)) ||
        (rows && !prepareProfile(d, rows, stepY, rowCount, 0, rect)))
        return 0;
    const DetectorPlane &image = d->frame.working;
    const int32_t W = int32_t(image.width), H = int32_t(image.height);
    const uint8_t *luma = image.data, *chroma = luma + size_t(W) * H;
    for (uint32_t j = 0; j < rowCount; ++j)
        for (uint32_t i = 0; i < columnCount; ++i) {
            const int64_t x = int64_t(rect[0]) + int64_t(i) * stepX, y = int64_t(rect[1]) + int64_t(j) * stepY;
            const int32_t l = bilinear(luma, W, 1, W, H, x, y);
            const int32_t cb = bilinear(chroma, W, 2, W / 2, H / 2, x / 2, y / 2);
            const int32_t cr = bilinear(chroma + 1, W, 2, W / 2, H / 2, x / 2, y / 2);
            if (columns) {
                columns->sums[i] += l;
                columns->sums[columnCount + i] += cb;
                columns->sums[2 * columnCount + i] += cr;
            }
            if (rows) {
                rows->sums[j] += l;
                rows->sums[rowCount + j] += cb;
                rows->sums[2 * rowCount + j] += cr;
            }
        }
    return 1;
}

uint32_t matchProfiles(const MotionProfile *stored, const MotionProfile *current, int32_t out[4])
{
    const int32_t ns = int32_t(stored->count), nc = int32_t(current->count);
    if (ns > nc || stored->axis != current->axis || ns == 0)
        return 0xffffffffu;
    auto cost = [&](int32_t quarter) {
        uint64_t c = 0;
        for (int ch = 0; ch < 3; ++ch) {
            const int32_t *cur = current->sums + ch * nc, *st = stored->sums + ch * ns;
            for (int32_t k = 0; k < ns; ++k) {
                const int32_t at = k + (quarter >> 2);
                const int32_t next = std::min(at + 1, nc - 1);
                const int32_t v = cur[at] + (((cur[next] - cur[at]) * (quarter & 3)) >> 2);
                c += uint64_t(std::abs(int64_t(v) - st[k]));
            }
        }
        return uint64_t(std::min<uint64_t>(c, 0xfffffffeu));
    };
    int32_t bestShift = 0;
    uint64_t bestCost = cost(0);
    for (int32_t i = 1; i <= nc - ns; ++i) {
        const uint64_t c = cost(4 * i);
        if (c < bestCost) {
            bestCost = c;
            bestShift = i;
        }
    }
    const int32_t t = 4 * bestShift, limit = 4 * (nc - ns);
    int32_t bestQuarter = t;
    for (int32_t j = t == 0 ? 1 : t - 3; j <= (t == limit ? t - 1 : t + 3); ++j) {
        if (j == t || j < 0 || j > limit)
            continue;
        const uint64_t c = cost(j);
        if (c < bestCost) {
            bestCost = c;
            bestQuarter = j;
        }
    }
    const int32_t offset = int32_t((int64_t(bestQuarter) * stored->step) >> 2);
    if (stored->axis == 1) {
        out[0] = offset + current->rect[0];
        out[1] = current->rect[1];
        out[2] = out[3] = current->rect[3];
    } else {
        out[0] = current->rect[0];
        out[1] = offset + current->rect[1];
        out[2] = out[3] = current->rect[2];
    }
    return uint32_t(bestCost);
}

int trackByProfiles(FaceDetector *d, DetectedFace *face, const int32_t refBox[4], int32_t out[4])
{
    const int32_t W = int32_t(d->frame.working.width), H = int32_t(d->frame.working.height);
    int32_t bounds[4] = {0, 0, W, H};
    int32_t start[4];
    if (d->trackingRegion[2] > 0 && d->regionOnly) {
        std::memcpy(bounds, d->trackingRegion, 16);
        clipRect(bounds[0], bounds[1], bounds[2] - 1, bounds[3] - 1, refBox, start);
    } else {
        start[0] = std::min(std::max(refBox[0], 0), W - 2);
        start[1] = std::min(std::max(refBox[1], 0), H - 2);
        start[2] = std::min(refBox[2], W - start[0]);
        start[3] = std::min(refBox[3], H - start[1]);
    }
    const int32_t side = std::max(1, std::min(start[2], start[3]));
    int64_t rect[4] = {int64_t(start[0]) << 16, int64_t(start[1]) << 16, int64_t(side) << 16, int64_t(side) << 16};
    const int64_t lowX = int64_t(bounds[0] + 2) << 16, lowY = int64_t(bounds[1] + 2) << 16;
    const int64_t highX = int64_t(bounds[0] + bounds[2] - 2) << 16, highY = int64_t(bounds[1] + bounds[3] - 2) << 16;
    auto hold = [&](int64_t r[4]) {
        r[0] = std::max(lowX, std::min(r[0], highX - r[2]));
        r[1] = std::max(lowY, std::min(r[1], highY - r[3]));
    };
    if (face->rowProfile.valid && face->columnProfile.valid && face->missedFrames != 0) {
        MotionProfile scratch{};
        for (int search = 0; search < 3; ++search) {
            const bool alongX = search != 1;
            int64_t wide[4] = {rect[0], rect[1], rect[2], rect[3]};
            const int64_t unit = (rect[2] >> 16) / 22;
            if (alongX) {
                wide[0] -= (unit * 11) << 16;
                wide[2] *= 2;
            } else {
                wide[1] -= (unit * 11) << 16;
                wide[3] *= 2;
            }
            wide[2] = std::min(wide[2], highX - lowX);
            wide[3] = std::min(wide[3], highY - lowY);
            hold(wide);
            const int32_t wide32[4] = {int32_t(wide[0]), int32_t(wide[1]), int32_t(wide[2]), int32_t(wide[3])};
            const bool ok = alongX ? sampleProfiles(d, &scratch, nullptr, 44, 22, wide32)
                                   : sampleProfiles(d, nullptr, &scratch, 22, 44, wide32);
            if (!ok) {
                allocatorFree(d->allocator, scratch.sums);
                return 0;
            }
            int32_t matched[4];
            if (matchProfiles(alongX ? &face->columnProfile : &face->rowProfile, &scratch, matched) != 0xffffffffu) {
                if (alongX)
                    rect[0] = matched[0];
                else
                    rect[1] = matched[1];
            }
        }
        allocatorFree(d->allocator, scratch.sums);
        hold(rect);
        out[0] = int32_t(rect[0] >> 16);
        out[1] = int32_t(rect[1] >> 16);
        out[2] = out[3] = int32_t(rect[2] >> 16);
    }
    const int32_t rect32[4] = {int32_t(rect[0]), int32_t(rect[1]), int32_t(rect[2]), int32_t(rect[3])};
    return sampleProfiles(d, &face->columnProfile, &face->rowProfile, 22, 22, rect32);
}

/* ---- refinement ---- */

namespace {

/* One edge of the walk: grows while the strip outside passes the skin share, else shrinks
 * while the second line fails it. Answers true when the edge moved. */
bool walkEdge(FaceDetector *d, const DetectedFace *face, int32_t b[4], int edge, const int32_t region[4])
{
    auto strip = [&](int32_t line, bool vertical) {
        return vertical ? skinRatio(d, face, line, b[1], 1, b[3], 410, 1024)
                        : skinRatio(d, face, b[0], line, b[2], 1, 410, 1024);
    };
    const bool vertical = edge >= 2; /* left and right edges move across */
    const bool far = edge == 1 || edge == 3;
    bool grew = false;
    for (;;) {
        const int32_t outside = vertical ? (far ? b[0] + b[2] : b[0] - 1) : (far ? b[1] + b[3] : b[1] - 1);
        const int32_t lo = region[vertical ? 0 : 1], hi = lo + region[vertical ? 2 : 3];
        if (outside < lo || outside >= hi || !strip(outside, vertical))
            break;
        if (far)
            ++b[vertical ? 2 : 3];
        else {
            --b[vertical ? 0 : 1];
            ++b[vertical ? 2 : 3];
        }
        grew = true;
    }
    if (grew)
        return true;
    bool shrank = false;
    while (b[vertical ? 2 : 3] > 2) {
        const int32_t second = vertical ? (far ? b[0] + b[2] - 2 : b[0] + 1) : (far ? b[1] + b[3] - 2 : b[1] + 1);
        if (strip(second, vertical))
            break;
        if (!far)
            ++b[vertical ? 0 : 1];
        --b[vertical ? 2 : 3];
        shrank = true;
    }
    return shrank;
}

/* A box too narrow along the other axis than `axis` (0 across, 1 down) is cut along `axis`
 * to 1.25 times its other side, centred on the old box and kept inside the walked extent. */
void limitAspect(int32_t b[4], const int32_t old[4], const int32_t walked[4], int axis)
{
    const int32_t length = b[2 + (1 - axis)] * 100 / 80;
    int32_t start = old[axis] + old[2 + axis] / 2 - length / 2;
    if (start < walked[axis])
        start = walked[axis];
    else if (start + length > walked[axis] + walked[2 + axis])
        start = walked[axis] + walked[2 + axis] - length;
    b[axis] = start;
    b[2 + axis] = length;
}

} // namespace

int refineTrackedBox(FaceDetector *d, DetectedFace *face)
{
    const int32_t W = int32_t(d->frame.working.width), H = int32_t(d->frame.working.height);
    int32_t B0[4];
    std::memcpy(B0, face->box, 16);
    int32_t walked[4];
    std::memcpy(walked, face->alternateBox[2] ? face->alternateBox : face->box, 16);
    int32_t reference[4];
    std::memcpy(reference, walked, 16);
    const int32_t *region = d->skinRegion[2] > 0 ? d->skinRegion : nullptr;
    const int32_t whole[4] = {0, 0, W, H};
    if (!region)
        region = whole;
    for (int round = 0; round < 4 * std::max(W, H); ++round) {
        bool changed = false;
        for (int edge = 0; edge < 4; ++edge)
            changed |= walkEdge(d, face, walked, edge, region);
        if (!changed)
            break;
    }
    walked[0] = std::max(0, walked[0]);
    walked[1] = std::max(0, walked[1]);
    walked[2] = std::min(walked[2], W - 1 - walked[0]);
    walked[3] = std::min(walked[3], H - 1 - walked[1]);
    std::memcpy(face->box, walked, 16);

    if (!validateTrackedBox(d, face)) {
        int32_t L = d->missFrames;
        const int32_t lighting = d->frame.prefilter.lightingClass;
        if (lighting == 1 || lighting == 2 || lighting == 4)
            L *= 2;
        if (face->missedFrames <= L && !d->faceAdded && face->missedFrames != face->framesTracked) {
            face->confirmations = 2;
            if (textureCheck(d, face)) {
                std::memcpy(face->box, B0, 16);
                return 0;
            }
        }
        freeFace(d, face);
        return 0;
    }
    int32_t *b = face->box;
    if (b[2] > 1 && b[3] > 1) {
        if (int64_t(b[2]) * 100 < int64_t(b[3]) * 80)
            limitAspect(b, B0, walked, 1);
        else if (int64_t(b[3]) * 100 < int64_t(b[2]) * 80)
            limitAspect(b, B0, walked, 0);
    }
    if (!(d->flags & kDetectorFlagKeepRefinedBox) && overlapArea(b, B0) > 0) {
        const int32_t s = std::min(b[2], b[3]);
        const int32_t spanX[2] = {b[0], b[0] + b[2]}, spanY[2] = {b[1], b[1] + b[3]};
        int32_t x = b[0] + (b[2] - s) / 2, y = b[1] + (b[3] - s) / 2;
        if (b[2] > b[3])
            x = std::min(std::max(B0[0] + B0[2] / 2 - s / 2, spanX[0]), spanX[1] - s);
        else if (b[3] > b[2])
            y = std::min(std::max(B0[1] + B0[3] / 2 - s / 2, spanY[0]), spanY[1] - s);
        b[0] = x;
        b[1] = y;
        b[2] = b[3] = s;
    }
    if (face->missedFrames < 10) {
        const int32_t ncx = b[0] + b[2] / 2, ncy = b[1] + b[3] / 2;
        const int32_t ocx = B0[0] + B0[2] / 2, ocy = B0[1] + B0[3] / 2;
        if (std::abs(ncx - ocx) <= productQ10HalfUp(B0[2], 154) &&
            std::abs(ncy - ocy) <= productQ10HalfUp(B0[3], 154)) {
            b[0] = ncx - B0[2] / 2;
            b[1] = ncy - B0[3] / 2;
            b[2] = B0[2];
            b[3] = B0[3];
        }
    }
    int32_t inside[4];
    clipRect(0, 0, W, H, b, inside);
    std::memcpy(b, inside, 16);

    int32_t B1[4];
    std::memcpy(B1, b, 16);
    std::memcpy(b, B0, 16);
    int32_t motionBox[4];
    std::memcpy(motionBox, B0, 16); /* written only when the profiles were searched */
    if (trackByProfiles(d, face, reference, motionBox)) {
        std::memcpy(b, motionBox, 16);
        if (validateTrackedBox(d, face)) {
            const int32_t m = (((B1[2] + B1[3]) >> 1) + motionBox[2] + 1) >> 1;
            const int32_t centreX = (2 * motionBox[0] + motionBox[2]) >> 1;
            const int32_t centreY = (2 * motionBox[1] + motionBox[3]) >> 1;
            const int32_t square[4] = {(2 * centreX - m) / 2, (2 * centreY - m) / 2, m, m};
            clipRect(0, 0, W, H, square, b);
            return 1;
        }
    }
    face->rowProfile.valid = face->columnProfile.valid = 0;
    std::memcpy(b, B1, 16);
    return 1;
}

/* ---- box smoothing ---- */

int smoothTrackedBoxes(FaceDetector *d, int32_t W, int32_t H)
{
    const int32_t V = std::min(std::max(W, H), 320) * 307 / 320;
    const int32_t q = d->working.boxSmoothing;
    int answer = 0;
    DetectorListNode *head = &d->faces;
    for (DetectedFace *f = firstFaceIn(head); f; f = nextFaceIn(head, f)) {
        f->report.predicted = f->missedFrames != 0;
        int32_t p[4], s[4];
        std::memcpy(p, f->previous, 16);
        std::memcpy(s, f->smoothed, 16);
        std::memcpy(f->previous, f->box, 16);
        const int32_t *c = f->box;
        const bool jumped = !boxesSimilar(s, c, V);
        int32_t *out = f->smoothed;
        f->averageBox[2] = 0;
        if (!jumped) {
            std::memcpy(f->boxRing[f->boxRingCount % kBoxRing], c, 16);
            ++f->boxRingCount;
            const int n = std::min(f->boxRingCount, kBoxRing);
            if (n >= 3) {
                int64_t sum[4] = {0, 0, 0, 0};
                for (int i = 0; i < n; ++i)
                    for (int k = 0; k < 4; ++k)
                        sum[k] += f->boxRing[(f->boxRingCount - 1 - i) % kBoxRing][k];
                int32_t *A = f->averageBox;
                for (int k = 0; k < 4; ++k)
                    A[k] = int32_t(((1024 / n) * sum[k] + 512) >> 10);
                const bool near = boxesSimilar(s, A, V / 3);
                if (near && boxesSimilar(s, A, V / 10)) {
                    std::memcpy(out, A, 16);
                } else if (near && !boxesSimilar(s, A, V / 2)) {
                    /* the smoothed box stays */
                } else {
                    for (int k = 0; k < 4; ++k)
                        out[k] = (s[k] + A[k] + 1) >> 1;
                }
            }
        } else {
            std::memcpy(out, c, 16);
            f->boxRingCount = 0;
            if (out[0] + f->motion[0] >= 0 && out[0] + out[2] + f->motion[0] < W && out[1] + f->motion[1] >= 0 &&
                out[1] + out[3] + f->motion[1] < H) {
                out[0] += f->motion[0];
                out[1] += f->motion[1];
            }
            if (q > 0) {
                const int32_t weight = q < 10 ? 819 : q < 20 ? 717 : q < 30 ? 614 : 512;
                const int32_t right = s[0] + s[2] + (((out[0] + out[2]) - (s[0] + s[2])) * weight >> 10);
                const int32_t bottom = s[1] + s[3] + (((out[1] + out[3]) - (s[1] + s[3])) * weight >> 10);
                out[0] = s[0] + ((out[0] - s[0]) * weight >> 10);
                out[1] = s[1] + ((out[1] - s[1]) * weight >> 10);
                out[2] = std::max(0, right - out[0]);
                out[3] = std::max(0, bottom - out[1]);
            }
        }
        out[0] = std::max(0, out[0]);
        out[1] = std::max(0, out[1]);
        if (out[0] + out[2] > W)
            out[2] = std::max(0, W - out[0] - 1);
        if (out[1] + out[3] > H)
            out[3] = std::max(0, H - out[1] - 1);

        if (f->framesTracked >= 2 && f->missedFrames <= 1) {
            int32_t dx = (c[2] / 2 + c[0]) - (p[2] / 2 + p[0]);
            int32_t dy = (c[3] / 2 + c[1]) - (p[3] / 2 + p[1]);
            if (f->motion[0] != 0)
                dx = (dx + f->motion[0]) / 2;
            if (f->motion[1] != 0)
                dy = (dy + f->motion[1]) / 2;
            f->motion[0] = dx;
            f->motion[1] = dy;
            const int32_t mx = c[2] ? int32_t((((int64_t(std::abs(dx)) << 11) + 1) >> 1) / c[2]) : 0;
            const int32_t my = c[3] ? int32_t((((int64_t(std::abs(dy)) << 11) + 1) >> 1) / c[3]) : 0;
            f->relativeMotion[0] = mx;
            f->relativeMotion[1] = my;
            int32_t *alt = f->alternateBox;
            if (mx > 50 || my > 50) {
                const int32_t *A = f->averageBox;
                const bool nearAverage = A[2] != 0 && boxesSimilar(c, A, V / 2);
                const int32_t ox = nearAverage ? dx / 2 : dx, oy = nearAverage ? dy / 2 : dy;
                if (!nearAverage && (mx > 102 || my > 102))
                    answer = 1;
                int32_t moved[4] = {std::max(0, c[0] + ox), std::max(0, c[1] + oy), c[2], c[3]};
                moved[2] = std::min(moved[2], W - moved[0]);
                moved[3] = std::min(moved[3], H - moved[1]);
                if (moved[2] <= 0 || moved[3] <= 0)
                    std::memset(alt, 0, 16);
                else
                    std::memcpy(alt, moved, 16);
            } else {
                std::memset(alt, 0, 16);
            }
        } else {
            f->motion[0] = f->motion[1] = 0;
            f->relativeMotion[0] = f->relativeMotion[1] = 0;
            std::memset(f->alternateBox, 0, 16);
        }
        if (f->missedFrames == 0)
            out[2] = out[3] = std::min(out[2], out[3]);
    }
    return answer;
}

/* ---- duplicates and swallowed faces ---- */

static uint64_t smoothedArea(const DetectedFace *f)
{
    return uint64_t(uint32_t(f->smoothed[2])) * uint32_t(f->smoothed[3]);
}

void removeDuplicateFaces(FaceDetector *d)
{
    DetectorListNode *head = &d->faces;
    for (DetectedFace *q = firstFaceIn(head); q; q = nextFaceIn(head, q))
        for (DetectedFace *r = firstFaceIn(head); r; r = nextFaceIn(head, r)) {
            if (q == r || q->box[2] == 0 || r->box[2] == 0)
                continue;
            const uint64_t o = uint64_t(overlapArea(q->smoothed, r->smoothed)) * 100;
            if (!(o > 25 * smoothedArea(q) || o > 25 * smoothedArea(r)))
                continue;
            DetectedFace *dropped;
            if (q->framesTracked == r->framesTracked || q->missedFrames != r->missedFrames)
                dropped = smoothedArea(q) * uint32_t(q->score) < smoothedArea(r) * uint32_t(r->score) ? q : r;
            else
                dropped = q->framesTracked < r->framesTracked ? q : r;
            dropped->box[2] = 0;
        }
    freeFacesWhere(d, [](const DetectedFace *f) { return f->box[2] == 0; });
}

void removeSwallowedFaces(FaceDetector *d)
{
    DetectorListNode *head = &d->faces;
    const int32_t W = int32_t(d->frame.working.width), H = int32_t(d->frame.working.height);
    const int32_t confirmFlag = (d->flags & kDetectorFlagConfirmAtOnce) ? 1 : 0;
    for (DetectedFace *q = firstFaceIn(head); q; q = nextFaceIn(head, q)) {
        if (q->score == 0)
            continue;
        const int32_t *b = q->smoothed;
        const int32_t e = 3 * b[2];
        int32_t surround[4] = {std::max(0, b[0] + b[2] / 2 - e / 2), std::max(0, b[1] + b[3] / 2 - e / 2), e, e};
        surround[2] = std::min(surround[2], W - surround[0]);
        surround[3] = std::min(surround[3], H - surround[1]);
        for (DetectedFace *s = firstFaceIn(head); s; s = nextFaceIn(head, s)) {
            if (s == q || overlapArea(s->smoothed, surround) == 0)
                continue;
            /* every other face is looked at, also once q is cleared: the ones in q's body
             * region go as well */
            if (8 * smoothedArea(q) < smoothedArea(s)) {
                q->score = 0;
                continue;
            }
            if (q->framesTracked == confirmFlag || s->missedFrames == 0)
                continue;
            const int32_t x = b[0], y = b[1], w = b[2], h = b[3];
            const int32_t f = (productQ10HalfUp(w, 2560) - w) >> 1;
            int32_t xs[4] = {x, x + w, x + w + f, x - f}, ys[4] = {y, y, y + 3 * h, y + 3 * h};
            const int32_t roll = q->report.roll;
            if (roll != 0) {
                const int64_t c = sinDeg(roll + 90), sn = sinDeg(roll);
                const int32_t ox = x + w / 2, oy = y + h / 2;
                for (int i = 0; i < 4; ++i) {
                    const int64_t vx = xs[i] - ox, vy = ys[i] - oy;
                    xs[i] = ox + int32_t((c * vx - sn * vy + 0x8000) >> 16);
                    ys[i] = oy + int32_t((sn * vx + c * vy + 0x8000) >> 16);
                }
            }
            const int32_t sx = s->smoothed[0] + s->smoothed[2] / 2, sy = s->smoothed[1] + s->smoothed[3] / 2;
            if (insideConvexPolygon(sx, sy, 4, xs, ys))
                s->score = 0;
        }
    }
    freeFacesWhere(d, [](const DetectedFace *f) { return f->score == 0; });
}
