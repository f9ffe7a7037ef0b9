// The eye part of a shape record.
//
// Divisions: layout; the builder and its jobs; the band; the iris columns; results.
#include "facesdk/engine/eye_parts.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "facesdk/base/integer_math.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/resample.h"
#include "facesdk/engine/row_bands.h"
#include "facesdk/engine/shape_prepare.h"

// ---- Layout ---------------------------------------------------------------------------------

EyePart readEyePart(const uint8_t *bytes)
{
    EyePart part;
    std::memcpy(&part, bytes, sizeof part);
    return part;
}

void writeEyePart(uint8_t *bytes, const EyePart &part) { std::memcpy(bytes, &part, sizeof part); }

// ---- The builder and its jobs ---------------------------------------------------------------

int32_t quantiseRoll(int32_t roll)
{
    if (roll >= -45 && roll <= 45)
        return 0;
    if (roll >= 46 && roll <= 134)
        return 90;
    if (roll >= -134 && roll <= -46)
        return -90;
    return 180;
}

namespace {

// The argument block of one eye's job.
struct EyeJob {
    int32_t result;               // the job's answer
    EngineAllocator *allocator;
    const EngineImage *image;
    int32_t angle;
    const EngineRect *box;
    EyeBlock *block;
    EyeAnalysis analysis;
};

int runEyeJob(void *argument)
{
    auto *job = static_cast<EyeJob *>(argument);
    job->result = analyseEye(job->allocator, job->image, job->angle, job->box, job->block,
                             &job->analysis);
    return job->result;
}

}  // namespace

int runEyeJobs(InnerEngine *inner, const EngineImage *image, const FaceListEntry *entry,
               EyePart *part)
{
    if (!inner || !entry || !part || !imageValid(image))
        return kResultBadArgument;
    const int32_t angle = quantiseRoll(entry->face.roll);
    *part = EyePart{};
    EyeJob jobs[2] = {};
    const EngineRect *boxes[2] = {&entry->eyeScratchBox1, &entry->eyeScratchBox2};
    for (int k = 0; k < 2; ++k)
        jobs[k] = {kResultFailed, inner->allocator, image, angle, boxes[k], &part->eyes[k], {}};
    forEachBand(2, [&](int32_t k) { runEyeJob(&jobs[k]); });
    for (EyeJob &job : jobs) {
        allocatorFree(inner->allocator, job.analysis.leftEdge);
        allocatorFree(inner->allocator, job.analysis.rightEdge);
    }
    return kResultOk;
}

int buildEyePart(InnerEngine *inner, const EngineImage *image, FaceListEntry *entry,
                 FaceShapeRecord *record)
{
    if (!inner || !image || !entry || !record)
        return kResultBadArgument;
    const FaceWork &face = entry->face;
    if (!faceInsideImage(face, *image))
        return kResultBadArgument;
    record->eyePartFaceWidth = face.box.width;
    if (!entry->inUse || !bothEyeBoxesPresent(face))
        return kResultNothingToDo;
    entry->eyeScratchBox1 = face.eye1Box;
    entry->eyeScratchBox2 = face.eye2Box;
    evenRectForFamily(&entry->eyeScratchBox1, image->format);
    evenRectForFamily(&entry->eyeScratchBox2, image->format);
    EyePart part;
    const int ran = runEyeJobs(inner, image, entry, &part);
    if (ran != kResultOk)
        return ran;
    const bool plausible = checkEyePart(part) != 0;
    record->eyePartReady = plausible ? 1 : 0;
    for (EyeBlock &eye : part.eyes) {
        eye.region.x -= face.box.x;
        eye.region.y -= face.box.y;
        eye.irisX -= face.box.x;
        for (int32_t *y : {&eye.darkRow, &eye.irisY, &eye.upperLid, &eye.lowerLid})
            *y -= face.box.y;
    }
    writeEyePart(record->eyePart, part);
    return plausible ? kResultOk : kResultNothingToDo;
}

// ---- The steps of one eye -------------------------------------------------------------------

int analyseEye(EngineAllocator *allocator, const EngineImage *image, int32_t angle,
               const EngineRect *box, EyeBlock *block, EyeAnalysis *record)
{
    EngineImage band{};
    int result = cropEyeBand(allocator, image, angle, box, record, &band);
    if (result == kResultOk)
        result = findIrisColumns(allocator, &band, record);
    if (result == kResultOk)
        result = fitIrisCircle(allocator, record, &band);
    if (result == kResultOk) {
        block->found = 1;
        result = storeIrisResult(*record, angle, block);
    }
    if (result == kResultOk) {
        block->region = record->region;
        block->darkRow = record->darkRow;
        result = findEyelids(allocator, &band, angle, block, &block->upperLid, &block->lowerLid);
    }
    imageRelease(allocator, &band);
    return result;
}

int cropEyeBand(EngineAllocator *allocator, const EngineImage *image, int32_t angle,
                const EngineRect *box, EyeAnalysis *record, EngineImage *band)
{
    if (!allocator || !image || !box || !record || !band || box->width <= 0 || box->height <= 0)
        return kResultBadArgument;
    const int32_t c = ((box->height * 1024 / box->width * 100) >> 10) & ~1;
    if (c <= 0)
        return kResultBadArgument;
    const PixelFormat format = image->format;
    const bool packed = format == kFormatYuv422Yuyv || format == kFormatYuv422Uyvy ||
                        format == kFormatYuv422Packed3;
    if (!packed && format != kFormatYuv444Planar && format != kFormatYuv422Planar &&
        format != kFormatYuv420SemiPlanar && format != kFormatYuv420Planar)
        return kResultUnsupported;
    EngineImage crop{};
    int result = imageAllocate(allocator, &crop, kEyeBandWidth, c, kFormatGrey8);
    if (result != kResultOk)
        return result;
    const EngineImageView view = wholeEngineImageView(*image);
    result = packed ? extractRotatedGreyPacked(&view, box, &crop, angle)
                    : extractRotatedGrey(&view, box, &crop, angle);
    int32_t *sums = nullptr;
    if (result == kResultOk) {
        sums = static_cast<int32_t *>(allocatorAlloc(allocator, uint32_t(c) * 4));
        if (!sums)
            result = kResultNoMemory;
    }
    int32_t d = -1;
    if (result == kResultOk) {
        for (int32_t y = 0; y < c; ++y) {
            const uint8_t *row = crop.planes[0].pixels + size_t(y) * crop.planes[0].stride;
            int32_t sum = 0;
            for (int32_t x = 0; x < kEyeBandWidth; ++x)
                sum += row[x];
            sums[y] = sum;
        }
        for (int32_t y = 2 * c / 5; y <= c - c / 5 - 1; ++y)
            if (d < 0 || sums[y] < sums[d])
                d = y;
        if (d <= 20)
            result = kResultNothingToDo;
    }
    if (result == kResultOk) {
        int32_t bright = 0;
        for (int32_t y = d; y >= 11; --y) {
            bool peak = true;
            for (int32_t k = std::max(0, y - 10); k <= std::min(c - 1, y + 9) && peak; ++k)
                peak = sums[y] >= sums[k];
            if (peak && sums[d] < 8 * sums[y] / 10)
                bright = y;
        }
        const int32_t b0 = std::max(std::min(bright, c - 56), 0);
        const int32_t t = (c - 1) - b0;
        const int32_t S = box->width * 1024 / 100;
        const int32_t top = roundQ10(b0 * S), extent = roundQ10(t * S);
        switch (angle) {
        case -90: record->region = {box->x + top, box->y, extent, box->height}; break;
        case 90: record->region = {box->x, box->y, extent, box->height}; break;
        case 180: record->region = {box->x, box->y, box->width, extent}; break;
        default: record->region = {box->x, box->y + top, box->width, extent}; break;
        }
        record->darkRow = std::max(d - b0, 3);
        if (t <= 0) {
            result = kResultNothingToDo;
        } else {
            result = imageAllocate(allocator, band, kEyeBandWidth, t, kFormatGrey8);
            for (int32_t y = 0; result == kResultOk && y < t; ++y)
                std::memcpy(band->planes[0].pixels + size_t(y) * band->planes[0].stride,
                            crop.planes[0].pixels + size_t(b0 + y) * crop.planes[0].stride,
                            kEyeBandWidth);
        }
    }
    allocatorFree(allocator, sums);
    imageRelease(allocator, &crop);
    return result;
}

// ---- The iris columns -----------------------------------------------------------------------

namespace {

// 1 when q[x] is not below any of q[x - 3 .. x + 2].
bool profilePeak(const int32_t *q, int32_t n, int32_t x)
{
    for (int32_t k = std::max(0, x - 3); k <= std::min(n - 1, x + 2); ++k)
        if (q[x] < q[k])
            return false;
    return true;
}

}  // namespace

int findIrisColumns(EngineAllocator *allocator, const EngineImage *band, EyeAnalysis *record)
{
    if (!allocator || !band || !record || !band->planes[0].pixels || band->width != kEyeBandWidth)
        return kResultBadArgument;
    const int32_t n = band->width, t = band->height;
    int32_t histogram[256] = {};
    for (int32_t y = 0; y < t; ++y)
        for (int32_t x = 0; x < n; ++x)
            ++histogram[band->planes[0].pixels[size_t(y) * band->planes[0].stride + x]];
    int32_t level = 0, above = 0;
    for (int32_t v = 255; v > 0 && level == 0; --v) {
        above += histogram[v];
        if (above > 14)
            level = v;
    }
    if (level == 0)
        return kResultNothingToDo;

    int32_t P[kEyeBandWidth], smooth[kEyeBandWidth], Q[kEyeBandWidth];
    for (int32_t x = 0; x < n; ++x) {
        P[x] = 0;
        for (int32_t y = 0; y < t; ++y) {
            const uint8_t v = band->planes[0].pixels[size_t(y) * band->planes[0].stride + x];
            if (v <= level - 1)
                P[x] += v;
        }
    }
    for (int32_t x = 0; x < n; ++x) {
        int32_t sum = 0;
        for (int32_t k = -2; k <= 2; ++k)
            sum += P[std::clamp(x + k, 0, n - 1)];
        smooth[x] = sum / 5;
    }
    for (int32_t x = 0; x < n; ++x) {
        const int32_t k = std::min({10, x, n - x});
        if (k < 2) {
            Q[x] = 0;
            continue;
        }
        int32_t sum = 0;
        for (int32_t j = 0; j < k; ++j)
            sum += smooth[std::min(x + j, n - 1)] + smooth[x - j];
        Q[x] = smooth[x] - sum / (2 * k);
    }
    int32_t g = -1, p = -1;
    for (int32_t x = 10; x <= n - 11; ++x) {
        if (!profilePeak(Q, n, x))
            continue;
        if (g < 0 || Q[x] > Q[g])
            p = g, g = x;
        else if (p < 0 || Q[x] > Q[p])
            p = x;
    }
    if (g < 0 || p < 0)
        return kResultNothingToDo;
    const auto distance = [](int32_t a, int32_t b) { return std::abs(a - b); };
    const int32_t sixth = n / 6, third = n / 3;
    if (int64_t(std::abs(Q[p] - Q[g])) * 100 < int64_t(Q[g]) * 5) {
        if (distance(p, sixth) < distance(g, sixth))
            std::swap(g, p);
    } else if (distance(p, third) < distance(g, third) || distance(p, third) < distance(g, sixth)) {
        std::swap(g, p);
    }
    const int32_t l = roundQ10(n * 140 * 4), m = roundQ10(n * 84 * 4);
    const auto searchRange = [&](int32_t from, int32_t to) {
        from = std::max(from, 10);
        to = std::min(to, n - 5);
        int32_t best = -1;
        if (from > to)
            return best;
        const int32_t floor = Q[from] - 10;
        for (int32_t x = from; x <= to; ++x)
            if (profilePeak(Q, n, x) && Q[x] > floor && (best < 0 || Q[x] > Q[best]))
                best = x;
        return best;
    };
    const int32_t leftFind = searchRange(g - l, g - m - 1);
    const int32_t rightFind = searchRange(g + m, g + l - 1);
    int32_t partner = p;
    if (leftFind >= 0 && rightFind >= 0)
        partner = Q[leftFind] > Q[rightFind] ? leftFind : rightFind;
    else if (leftFind >= 0)
        partner = leftFind;
    else if (rightFind >= 0)
        partner = rightFind;
    record->irisLeft = std::min(partner, g);
    record->irisRight = std::max(partner, g);
    return record->irisRight - record->irisLeft >= n / 4 ? kResultOk : kResultNothingToDo;
}

// ---- Results --------------------------------------------------------------------------------

int storeIrisResult(const EyeAnalysis &record, int32_t angle, EyeBlock *block)
{
    const EngineRect &R = record.region;
    const bool upright = angle == 0 || angle == 180;
    const int32_t along = upright ? R.width : R.height, across = upright ? R.height : R.width;
    if (along <= 0)
        return kResultNothingToDo;
    const int32_t k = (across * 1024 / along * 100) >> 10;
    if (k <= 0)
        return kResultNothingToDo;
    const int32_t cx = record.circleX, cy = record.circleY, r = record.circleRadius;
    switch (angle) {
    case -90:
        block->irisX = R.x + R.width * cy / k;
        block->irisY = R.y + R.height * (100 - cx) / 100;
        block->irisRadius = R.width * r / k;
        break;
    case 90:
        block->irisX = R.x + R.width * (k - cy) / k;
        block->irisY = R.y + R.height * cx / 100;
        block->irisRadius = R.width * r / k;
        break;
    case 180:
        block->irisX = R.x + R.width * cx / 100;
        block->irisY = R.y + R.height * (k - cy) / k;
        block->irisRadius = R.height * r / k;
        break;
    default:
        block->irisX = R.x + R.width * cx / 100;
        block->irisY = R.y + R.height * cy / k;
        block->irisRadius = R.height * r / k;
        break;
    }
    block->found = 1;
    return kResultOk;
}

int checkEyePart(const EyePart &part)
{
    const EyeBlock &a = part.eyes[0], &b = part.eyes[1];
    const int32_t r1 = a.irisRadius, r2 = b.irisRadius;
    if (r1 <= 0 || r2 <= 0 || 1000 * std::abs(r1 - r2) / (5 * (r1 + r2)) >= 60)
        return 0;
    const int64_t dx = a.irisX - b.irisX, dy = a.irisY - b.irisY;
    const int64_t D = 10 * int64_t(isqrt64(uint64_t(dx * dx + dy * dy)));
    const int64_t c = 5 * (r1 + r2);
    const int64_t ratio = D / c;
    return ratio > 6 && ratio <= 13 ? 1 : 0;
}
