// Connected regions of one byte value: a one-pass labelling with two rows of region references
// and merging of regions that meet, a breadth-first fill that gives each closed region its
// box map and pixel list, the filters and painters over the region list, and square dilation.
#include "facesdk/engine/regions.h"

#include <algorithm>
#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/row_bands.h"

namespace {

void linkAtTail(MaskRegion *head, MaskRegion *region)
{
    region->prev = head->prev;
    region->next = head;
    head->prev->next = region;
    head->prev = region;
}

void unlink(MaskRegion *region)
{
    region->prev->next = region->next;
    region->next->prev = region->prev;
    region->next = region->prev = region;
}

// Follows the merge links of a reference to the region that now holds its pixels.
MaskRegion *resolve(MaskRegion *region)
{
    while (region && !region->valid && region->parent)
        region = region->parent;
    return region;
}

int32_t minInt(int32_t a, int32_t b) { return a < b ? a : b; }
int32_t maxInt(int32_t a, int32_t b) { return a > b ? a : b; }

// The scan's working state: the two reference rows, the match row and the regions being built.
struct LabelScan {
    const RegionLabeller *labeller;
    RegionList *out;
    MaskRegion active;   // sentinel of the regions not yet closed, in creation order
    int foundValid;      // a valid region was moved to the caller's list
};

// Closes one region: image coordinates, then freed (merged) or flood-filled and moved to the
// caller's list. -3 when the flood fill runs out of memory (the region is freed).
int closeRegion(LabelScan &scan, MaskRegion *region)
{
    const RegionLabeller &l = *scan.labeller;
    region->x0 += l.x0;
    region->x1 += l.x0;
    region->seedX += l.x0;
    region->y0 += l.y0;
    region->y1 += l.y0;
    region->seedY += l.y0;
    if (!region->valid) {
        freeRegion(l.allocator, region);
        return kResultOk;
    }
    if (floodFillRegion(l.allocator, l.image, l.value, region) != kResultOk) {
        freeRegion(l.allocator, region);
        return kResultNoMemory;
    }
    unlink(region);
    linkAtTail(&scan.out->head, region);
    scan.foundValid = 1;
    return kResultOk;
}

// Closes every active region whose last pixel is not on row `row` (the row did not continue
// it); with row -1, every active region.
int finishRegions(LabelScan &scan, int32_t row)
{
    MaskRegion *region = scan.active.next;
    while (region != &scan.active) {
        MaskRegion *next = region->next;
        if (row < 0 || region->seedY != row) {
            const int result = closeRegion(scan, region);
            if (result != kResultOk)
                return result;
        }
        region = next;
    }
    return kResultOk;
}

MaskRegion *newRegion(EngineAllocator *allocator, int32_t c, int32_t r)
{
    auto *region = static_cast<MaskRegion *>(allocatorAlloc(allocator, sizeof(MaskRegion)));
    if (!region)
        return nullptr;
    std::memset(region, 0, sizeof(MaskRegion));
    region->count = 1;
    region->x0 = region->x1 = region->seedX = c;
    region->y0 = region->y1 = region->seedY = r;
    region->valid = 1;
    region->next = region->prev = region;
    return region;
}

// One row of the scan: every pixel with the value joins, starts or merges regions.
int scanRow(LabelScan &scan, int32_t r, const uint8_t *match, MaskRegion **previous,
            MaskRegion **current, int32_t width)
{
    EngineAllocator *allocator = scan.labeller->allocator;
    for (int32_t c = 0; c < width; ++c) {
        if (!match[c]) {
            current[c] = nullptr;
            continue;
        }
        MaskRegion *region = nullptr;
        if (previous[c]) {
            region = previous[c] = resolve(previous[c]);
            ++region->count;
        } else {
            MaskRegion *left = nullptr;
            if (c >= 1)
                left = current[c - 1];
            if (!left && c >= 1 && previous[c - 1])
                left = previous[c - 1] = resolve(previous[c - 1]);
            MaskRegion *upperRight = nullptr;
            if (c + 1 < width && previous[c + 1])
                upperRight = previous[c + 1] = resolve(previous[c + 1]);

            if (!left && !upperRight) {
                region = newRegion(allocator, c, r);
                if (!region)
                    return kResultNoMemory;
                linkAtTail(&scan.active, region);
            } else if (!left || !upperRight || left == upperRight) {
                region = left ? left : upperRight;
                ++region->count;
            } else {
                left->x0 = minInt(left->x0, upperRight->x0);
                left->x1 = maxInt(left->x1, upperRight->x1);
                left->y0 = minInt(left->y0, upperRight->y0);
                left->count += upperRight->count + 1;
                upperRight->valid = 0;
                upperRight->parent = left;
                region = left;
            }
        }
        region->x0 = minInt(region->x0, c);
        region->x1 = maxInt(region->x1, c);
        region->y1 = r;
        region->seedX = c;
        region->seedY = r;
        region->valid = 1;
        current[c] = region;
    }
    return kResultOk;
}

}  // namespace

// ---- The list -------------------------------------------------------------------------------

void regionListInit(RegionList *list)
{
    std::memset(&list->head, 0, sizeof(MaskRegion));
    list->head.next = list->head.prev = &list->head;
}

int regionListEmpty(const RegionList *list) { return list->head.next == &list->head; }

void freeRegion(EngineAllocator *allocator, MaskRegion *region)
{
    if (region->next && region->prev)
        unlink(region);
    allocatorFree(allocator, region->map);
    allocatorFree(allocator, region->points);
    allocatorFree(allocator, region);
}

int freeRegionList(EngineAllocator *allocator, RegionList *list)
{
    if (!list)
        return kResultNothingToDo;
    while (!regionListEmpty(list))
        freeRegion(allocator, list->head.next);
    return kResultOk;
}

// ---- Labelling ------------------------------------------------------------------------------

void matchMapOfBox(const EngineImage *image, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                   int32_t value, uint8_t *map)
{
    const int32_t width = x1 - x0 + 1;
    const EnginePlane &plane = image->planes[0];
    for (int32_t y = y0; y <= y1; ++y) {
        const uint8_t *row = plane.pixels + size_t(y) * plane.stride + x0;
        for (int32_t x = 0; x < width; ++x)
            *map++ = row[x] == value ? kMapForeign : kMapOther;
    }
}

int floodFillRegion(EngineAllocator *allocator, const EngineImage *image, int32_t value,
                    MaskRegion *region)
{
    const int32_t boxW = region->x1 - region->x0 + 1;
    const int32_t boxH = region->y1 - region->y0 + 1;
    if (!region->map) {
        region->points = static_cast<int32_t *>(
            allocatorAlloc(allocator, uint32_t(region->count) * 2 * sizeof(int32_t)));
        region->map = static_cast<uint8_t *>(allocatorAlloc(allocator, uint32_t(boxW * boxH)));
        if (!region->points || !region->map) {
            allocatorFree(allocator, region->points);
            allocatorFree(allocator, region->map);
            region->points = nullptr;
            region->map = nullptr;
            return kResultNoMemory;
        }
    }
    uint8_t *map = region->map;
    matchMapOfBox(image, region->x0, region->y0, region->x1, region->y1, value, map);

    // The point array is the queue: box-relative while filling, image coordinates at the end.
    static const int32_t kSteps[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0},
                                         {1, 0},   {-1, 1}, {0, 1},  {1, 1}};
    int32_t *queue = region->points;
    uint32_t tail = 0;
    queue[0] = region->seedX - region->x0;
    queue[1] = region->seedY - region->y0;
    map[size_t(queue[1]) * boxW + queue[0]] = kMapRegion;
    tail = 1;
    const auto visit = [&](int32_t nx, int32_t ny) {
        uint8_t &cell = map[size_t(ny) * boxW + nx];
        if (cell == kMapOther) {
            cell = kMapBorder;
        } else if (cell == kMapForeign && tail < region->count) {
            cell = kMapRegion;
            queue[2 * tail] = nx;
            queue[2 * tail + 1] = ny;
            ++tail;
        }
    };
    for (uint32_t headIndex = 0; headIndex < tail; ++headIndex) {
        const int32_t px = queue[2 * headIndex];
        const int32_t py = queue[2 * headIndex + 1];
        // Pixels off the box's edge have all eight neighbours inside it.
        if (px > 0 && py > 0 && px < boxW - 1 && py < boxH - 1) {
            for (const auto &step : kSteps)
                visit(px + step[0], py + step[1]);
            continue;
        }
        for (const auto &step : kSteps) {
            const int32_t nx = px + step[0];
            const int32_t ny = py + step[1];
            if (nx >= 0 && ny >= 0 && nx < boxW && ny < boxH)
                visit(nx, ny);
        }
    }
    for (uint32_t i = 0; i < tail; ++i) {
        queue[2 * i] += region->x0;
        queue[2 * i + 1] += region->y0;
    }
    region->count = tail;
    return kResultOk;
}

int labelConnectedRegions(const RegionLabeller *labeller, RegionList *list)
{
    if (!labeller || !list || !labeller->image || !labeller->allocator)
        return kResultBadArgument;
    const int32_t width = labeller->x1 - labeller->x0 + 1;
    const int32_t height = labeller->y1 - labeller->y0 + 1;
    if (width <= 0)
        return kResultBadArgument;
    if (height <= 0)
        return kResultNothingToDo;

    EngineAllocator *allocator = labeller->allocator;
    const uint32_t refBytes = uint32_t(width) * sizeof(MaskRegion *);
    auto **previous = static_cast<MaskRegion **>(allocatorAlloc(allocator, refBytes));
    auto **current = static_cast<MaskRegion **>(allocatorAlloc(allocator, refBytes));
    auto *match = static_cast<uint8_t *>(allocatorAlloc(allocator, uint32_t(width)));
    if (!previous || !current || !match) {
        allocatorFree(allocator, previous);
        allocatorFree(allocator, current);
        allocatorFree(allocator, match);
        return kResultNoMemory;
    }
    std::memset(previous, 0, refBytes);

    LabelScan scan{labeller, list, {}, 0};
    std::memset(&scan.active, 0, sizeof(MaskRegion));
    scan.active.next = scan.active.prev = &scan.active;

    int result = kResultOk;
    for (int32_t r = 0; r < height && result == kResultOk; ++r) {
        matchMapOfBox(labeller->image, labeller->x0, labeller->y0 + r, labeller->x1,
                      labeller->y0 + r, labeller->value, match);
        result = scanRow(scan, r, match, previous, current, width);
        if (result == kResultOk)
            result = finishRegions(scan, r);
        MaskRegion **swap = previous;
        previous = current;
        current = swap;
    }
    if (result == kResultOk)
        result = finishRegions(scan, -1);
    if (result != kResultOk) {
        while (scan.active.next != &scan.active)
            freeRegion(allocator, scan.active.next);
    }
    allocatorFree(allocator, previous);
    allocatorFree(allocator, current);
    allocatorFree(allocator, match);
    if (result != kResultOk)
        return result;
    return scan.foundValid ? kResultOk : kResultNothingToDo;
}

// ---- Filters and painting -------------------------------------------------------------------

MaskRegion *largestUnkeptRegion(RegionList *list)
{
    if (!list)
        return nullptr;
    MaskRegion *best = nullptr;
    for (MaskRegion *r = list->head.next; r != &list->head; r = r->next)
        if (r->valid && !r->kept && (!best || r->count > best->count))
            best = r;
    return best;
}

int keepRegionsAboveSize(RegionList *list, uint32_t threshold)
{
    MaskRegion *largest = largestUnkeptRegion(list);
    if (!largest)
        return kResultOk;
    if (largest->count <= threshold)
        return kResultNothingToDo;
    largest->kept = 1;
    while (MaskRegion *next = largestUnkeptRegion(list)) {
        if (next->count > threshold)
            next->kept = 1;
        else
            next->valid = 0;
    }
    return kResultOk;
}

uint32_t paintRegions(EngineImage *mask, const RegionList *list, uint8_t value)
{
    uint32_t painted = 0;
    const EnginePlane &plane = mask->planes[0];
    for (const MaskRegion *r = list->head.next; r != &list->head; r = r->next) {
        if (!r->valid)
            continue;
        ++painted;
        const int32_t boxW = r->x1 - r->x0 + 1;
        const uint8_t *map = r->map;
        for (int32_t y = r->y0; y <= r->y1; ++y) {
            uint8_t *row = plane.pixels + size_t(y) * plane.stride + r->x0;
            for (int32_t x = 0; x < boxW; ++x, ++map)
                if (*map == kMapRegion)
                    row[x] = value;
        }
    }
    return painted;
}

int fillEnclosedMaskRegions(InnerEngine *inner, const EngineRect *rect, EngineImage *mask)
{
    if (!inner || !rect || !mask)
        return kResultBadArgument;
    const int32_t right = rect->x + rect->width - 1;
    const int32_t bottom = rect->y + rect->height - 1;
    RegionLabeller labeller{mask, rect->x, rect->y, right, bottom, 0, inner->allocator};
    RegionList list;
    regionListInit(&list);
    const int result = labelConnectedRegions(&labeller, &list);
    if (result == kResultOk) {
        for (MaskRegion *r = list.head.next; r != &list.head; r = r->next)
            if (r->x0 == rect->x || r->y0 == rect->y || r->x1 == right || r->y1 == bottom)
                r->valid = 0;
        paintRegions(mask, &list, 255);
    }
    freeRegionList(inner->allocator, &list);
    return result;
}

// ---- Dilation -------------------------------------------------------------------------------

int dilateMaskSquare(EngineAllocator *allocator, const uint8_t *src, int32_t width,
                     int32_t height, uint8_t *dst, int32_t radius, uint8_t value,
                     uint8_t background)
{
    if (!allocator || !src || !dst || width < 1 || height < 1 || radius < 0)
        return kResultBadArgument;
    if (int64_t(width) * height > int64_t(UINT32_MAX))
        return kResultBadArgument;
    // covered[y][x] = 1 when a value pixel of row y lies within radius columns of x. Every row
    // of it is made before any row of dst is written, so dst may be src.
    auto *covered = static_cast<uint8_t *>(allocatorAlloc(allocator, uint32_t(int64_t(width) * height)));
    if (!covered)
        return kResultNoMemory;
    const int64_t work = int64_t(width) * (2 * int64_t(radius) + 1);
    forEachRowBand(0, height, width, [&](int32_t y0, int32_t y1) {
        for (int32_t y = y0; y < y1; ++y) {
            const uint8_t *row = src + size_t(y) * width;
            uint8_t *out = covered + size_t(y) * width;
            std::memset(out, 0, size_t(width));
            // Each run of value pixels covers its columns widened by the radius.
            int32_t j = 0;
            while (j < width) {
                if (row[j] != value) {
                    ++j;
                    continue;
                }
                int32_t k = j;
                while (k < width && row[k] == value)
                    ++k;
                const int32_t from = std::max(j - radius, 0);
                const int32_t to = int32_t(std::min<int64_t>(int64_t(k) + radius, width));
                std::memset(out + from, 1, size_t(to - from));
                j = k;
            }
        }
    });
    forEachRowBand(0, height, work, [&](int32_t y0, int32_t y1) {
        for (int32_t y = y0; y < y1; ++y) {
            uint8_t *out = dst + size_t(y) * width;
            const int32_t top = std::max(y - radius, 0);
            const int32_t bottom = int32_t(std::min<int64_t>(int64_t(y) + radius, height - 1));
            const uint8_t *first = covered + size_t(top) * width;
            for (int32_t x = 0; x < width; ++x)
                out[x] = first[x];
            for (int32_t r = top + 1; r <= bottom; ++r) {
                const uint8_t *row = covered + size_t(r) * width;
                for (int32_t x = 0; x < width; ++x)
                    out[x] |= row[x];
            }
            for (int32_t x = 0; x < width; ++x)
                out[x] = out[x] ? value : background;
        }
    });
    allocatorFree(allocator, covered);
    return kResultOk;
}
