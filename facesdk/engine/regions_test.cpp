#include "facesdk/engine/regions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/row_bands.h"

namespace {

// A grey mask whose pixels live in a vector, with a record pointing at them.
struct Mask {
    int width, height;
    std::vector<uint8_t> pixels;
    EngineImage image{};

    Mask(int w, int h, uint8_t fill = 0) : width(w), height(h), pixels(size_t(w) * h, fill)
    {
        image.format = kFormatGrey8;
        image.width = w;
        image.height = h;
        image.planes[0].stride = w;
        image.planes[0].pixels = pixels.data();
    }
    uint8_t &at(int x, int y) { return pixels[size_t(y) * width + x]; }

    // Rows of text: '#' is value 1, anything else 0.
    static Mask fromText(const std::vector<const char *> &rows)
    {
        Mask mask(int(strlen(rows[0])), int(rows.size()));
        for (int y = 0; y < mask.height; ++y)
            for (int x = 0; x < mask.width; ++x)
                mask.at(x, y) = rows[y][x] == '#' ? 1 : 0;
        return mask;
    }
};

struct Labelled {
    CountingAllocator counter;
    RegionList list;
    int result;

    Labelled(const Mask &mask, int value, int x0, int y0, int x1, int y1)
    {
        regionListInit(&list);
        RegionLabeller labeller{&mask.image, x0, y0, x1, y1, value, counter.allocator()};
        result = labelConnectedRegions(&labeller, &list);
    }
    Labelled(const Mask &mask, int value)
        : Labelled(mask, value, 0, 0, mask.width - 1, mask.height - 1)
    {
    }
    ~Labelled()
    {
        freeRegionList(counter.allocator(), &list);
        EXPECT_EQ(counter.liveBlocks(), 0u);
        EXPECT_EQ(counter.badFrees, 0);
    }
    std::vector<MaskRegion *> regions()
    {
        std::vector<MaskRegion *> all;
        for (MaskRegion *r = list.head.next; r != &list.head; r = r->next)
            all.push_back(r);
        return all;
    }
};

// Brute force: component number of every pixel with the value inside the box (-1 elsewhere),
// by 8-connected flood fill.
std::vector<int> floodLabels(Mask &mask, int value, int x0, int y0, int x1, int y1, int *count)
{
    std::vector<int> label(mask.pixels.size(), -1);
    *count = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            if (mask.at(x, y) != value || label[size_t(y) * mask.width + x] >= 0)
                continue;
            std::vector<std::pair<int, int>> stack{{x, y}};
            label[size_t(y) * mask.width + x] = *count;
            while (!stack.empty()) {
                auto [px, py] = stack.back();
                stack.pop_back();
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = px + dx, ny = py + dy;
                        if (nx < x0 || ny < y0 || nx > x1 || ny > y1)
                            continue;
                        int &l = label[size_t(ny) * mask.width + nx];
                        if (mask.at(nx, ny) == value && l < 0) {
                            l = *count;
                            stack.push_back({nx, ny});
                        }
                    }
            }
            ++*count;
        }
    return label;
}

}  // namespace

TEST(Regions, LabellingMatchesFloodFillOnRandomMasks)
{
    std::mt19937 random(7);
    for (int round = 0; round < 60; ++round) {
        const int w = 1 + int(random() % 40), h = 1 + int(random() % 30);
        Mask mask(w, h);
        const unsigned density = 20 + random() % 60;
        for (auto &p : mask.pixels)
            p = (random() % 100) < density ? 254 : 0;
        const int x0 = int(random() % w), y0 = int(random() % h);
        const int x1 = x0 + int(random() % (w - x0)), y1 = y0 + int(random() % (h - y0));
        const int value = round % 2 ? 254 : 0;

        int components = 0;
        std::vector<int> truth = floodLabels(mask, value, x0, y0, x1, y1, &components);
        Labelled labelled(mask, value, x0, y0, x1, y1);
        ASSERT_EQ(labelled.result, components ? kResultOk : kResultNothingToDo);
        std::vector<MaskRegion *> regions = labelled.regions();
        ASSERT_EQ(int(regions.size()), components) << "round " << round;

        std::vector<int> seen(size_t(components), 0);
        int lastClosedRow = -1;
        for (MaskRegion *r : regions) {
            EXPECT_EQ(r->valid, 1);
            // Regions are closed by the row after their last one.
            EXPECT_GE(r->y1, lastClosedRow);
            lastClosedRow = r->y1;
            const int id = truth[size_t(r->points[1]) * w + r->points[0]];
            ASSERT_GE(id, 0);
            EXPECT_EQ(seen[size_t(id)]++, 0) << "one region per component";

            int count = 0, bx0 = w, by0 = h, bx1 = -1, by1 = -1, lastX = 0, lastY = 0;
            for (int y = y0; y <= y1; ++y)
                for (int x = x0; x <= x1; ++x)
                    if (truth[size_t(y) * w + x] == id) {
                        ++count;
                        bx0 = std::min(bx0, x), bx1 = std::max(bx1, x);
                        by0 = std::min(by0, y), by1 = std::max(by1, y);
                        lastX = x, lastY = y;
                    }
            EXPECT_EQ(int(r->count), count);
            EXPECT_EQ(r->x0, bx0);
            EXPECT_EQ(r->y0, by0);
            EXPECT_EQ(r->x1, bx1);
            EXPECT_EQ(r->y1, by1);
            EXPECT_EQ(r->seedX, lastX);
            EXPECT_EQ(r->seedY, lastY);
            EXPECT_EQ(r->points[0], lastX);
            EXPECT_EQ(r->points[1], lastY);
            for (uint32_t i = 0; i < r->count; ++i)
                EXPECT_EQ(truth[size_t(r->points[2 * i + 1]) * w + r->points[2 * i]], id);

            // Map bytes: 3 own pixel, 2 a non-value neighbour of it, 1 another value pixel.
            const int boxW = bx1 - bx0 + 1;
            for (int y = by0; y <= by1; ++y)
                for (int x = bx0; x <= bx1; ++x) {
                    const uint8_t byte = r->map[size_t(y - by0) * boxW + (x - bx0)];
                    bool touches = false;
                    for (int dy = -1; dy <= 1; ++dy)
                        for (int dx = -1; dx <= 1; ++dx) {
                            const int nx = x + dx, ny = y + dy;
                            if (nx >= bx0 && nx <= bx1 && ny >= by0 && ny <= by1 &&
                                truth[size_t(ny) * w + nx] == id)
                                touches = true;
                        }
                    uint8_t expected = kMapOther;
                    if (truth[size_t(y) * w + x] == id)
                        expected = kMapRegion;
                    else if (mask.at(x, y) == value)
                        expected = kMapForeign;
                    else if (touches)
                        expected = kMapBorder;
                    ASSERT_EQ(byte, expected) << "round " << round << " at " << x << "," << y;
                }
        }
    }
}

TEST(Regions, ShapesOfTheScan)
{
    // Corner contact is contact; a U whose arms meet later is one region spanning both arms.
    Mask corners = Mask::fromText({"#...", ".#..", "..#.", "...#"});
    Labelled diagonal(corners, 1);
    ASSERT_EQ(diagonal.result, kResultOk);
    ASSERT_EQ(diagonal.regions().size(), 1u);
    EXPECT_EQ(diagonal.regions()[0]->count, 4u);

    Mask u = Mask::fromText({"#...#.#", "#...#.#", "#...#.#", "#####.#", ".......", "......#"});
    Labelled shape(u, 1);
    std::vector<MaskRegion *> regions = shape.regions();
    ASSERT_EQ(regions.size(), 3u);
    // Closed in the row after their last row: the U and the bar at row 4, the dot at the end.
    EXPECT_EQ(regions[0]->count, 11u);
    EXPECT_EQ(regions[0]->x0, 0);
    EXPECT_EQ(regions[0]->x1, 4);
    EXPECT_EQ(regions[0]->y1, 3);
    EXPECT_EQ(regions[1]->count, 4u);
    EXPECT_EQ(regions[2]->count, 1u);
    EXPECT_EQ(regions[2]->seedY, 5);
}

TEST(Regions, BoxLimits)
{
    Mask empty(8, 8);
    Labelled none(empty, 1);
    EXPECT_EQ(none.result, kResultNothingToDo);
    EXPECT_TRUE(regionListEmpty(&none.list));

    Labelled flat(empty, 0, 0, 4, 7, 3);
    EXPECT_EQ(flat.result, kResultNothingToDo);
    Labelled narrow(empty, 0, 4, 0, 3, 7);
    EXPECT_EQ(narrow.result, kResultBadArgument);
    EXPECT_EQ(narrow.counter.allocations, 0);
    EXPECT_EQ(freeRegionList(narrow.counter.allocator(), nullptr), kResultNothingToDo);
}

TEST(Regions, KeepAboveSizeLargestAndPaint)
{
    Mask mask = Mask::fromText({"###...#", "###...#", "......#", "#......"});
    Labelled labelled(mask, 1);
    std::vector<MaskRegion *> r = labelled.regions();
    ASSERT_EQ(r.size(), 3u);  // sizes 6, 3, 1

    EXPECT_EQ(largestUnkeptRegion(&labelled.list)->count, 6u);
    EXPECT_EQ(keepRegionsAboveSize(&labelled.list, 6), kResultNothingToDo);
    for (MaskRegion *region : r)
        EXPECT_TRUE(region->valid && !region->kept);

    EXPECT_EQ(keepRegionsAboveSize(&labelled.list, 2), kResultOk);
    int kept = 0, dropped = 0;
    for (MaskRegion *region : r) {
        kept += region->kept;
        dropped += !region->valid;
    }
    EXPECT_EQ(kept, 2);
    EXPECT_EQ(dropped, 1);
    EXPECT_EQ(largestUnkeptRegion(&labelled.list), nullptr);

    Mask canvas(7, 4, 9);
    EXPECT_EQ(paintRegions(&canvas.image, &labelled.list, 200), 2u);
    EXPECT_EQ(canvas.at(0, 0), 200);
    EXPECT_EQ(canvas.at(6, 2), 200);
    EXPECT_EQ(canvas.at(0, 3), 9);  // the dropped one-pixel region
    EXPECT_EQ(canvas.at(3, 0), 9);

    RegionList emptyList;
    regionListInit(&emptyList);
    EXPECT_EQ(keepRegionsAboveSize(&emptyList, 0), kResultOk);
    EXPECT_EQ(keepRegionsAboveSize(nullptr, 0), kResultOk);
    EXPECT_EQ(largestUnkeptRegion(nullptr), nullptr);
}

TEST(Regions, FillEnclosedLeavesAreasReachingTheRectBorder)
{
    // Two holes in a ring of 254; the rect cuts through the right-hand one.
    Mask mask(12, 7, 254);
    for (int x = 2; x <= 3; ++x)
        mask.at(x, 3) = 0;
    for (int y = 2; y <= 4; ++y)
        mask.at(8, y) = 0;
    mask.at(11, 0) = 0;  // touches the image corner only
    CountingAllocator counter;
    InnerEngine inner{};
    inner.allocator = counter.allocator();

    EngineRect rect{0, 0, 9, 7};  // right edge is column 8
    EXPECT_EQ(fillEnclosedMaskRegions(&inner, &rect, &mask.image), kResultOk);
    EXPECT_EQ(mask.at(2, 3), 255);
    EXPECT_EQ(mask.at(3, 3), 255);
    EXPECT_EQ(mask.at(8, 3), 0);
    EXPECT_EQ(mask.at(11, 0), 0);

    Mask solid(6, 6, 254);
    EngineRect inside{0, 0, 6, 6};
    EXPECT_EQ(fillEnclosedMaskRegions(&inner, &inside, &solid.image), kResultNothingToDo);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

namespace {

// Every pixel of dst is 0 exactly when a 0 of src lies within the radius square, else 254.
void expectSquareDilation(const std::vector<uint8_t> &src, int w, int h, int radius,
                          const std::vector<uint8_t> &dst)
{
    // Rows and then columns of "a 0 within radius", from running counts.
    std::vector<int> across(src.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int zeros = 0;
            for (int dx = std::max(x - radius, 0); dx <= std::min(x + radius, w - 1); ++dx)
                zeros += src[size_t(y) * w + dx] == 0;
            across[size_t(y) * w + x] = zeros;
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            bool near = false;
            for (int dy = std::max(y - radius, 0); dy <= std::min(y + radius, h - 1); ++dy)
                near = near || across[size_t(dy) * w + x] > 0;
            ASSERT_EQ(dst[size_t(y) * w + x], near ? 0 : 254) << x << "," << y << " radius " << radius;
        }
}

// One pixel in oneIn is 0, the others 254 or 7.
std::vector<uint8_t> sparseMask(std::mt19937 &random, int w, int h, unsigned oneIn)
{
    std::vector<uint8_t> src(size_t(w) * h);
    for (auto &p : src)
        p = (random() % oneIn == 0) ? 0 : (random() % 2 ? 254 : 7);
    return src;
}

}  // namespace

TEST(Regions, DilationMatchesSquareNeighbourhood)
{
    std::mt19937 random(3);
    CountingAllocator counter;
    for (int round = 0; round < 30; ++round) {
        const int w = 1 + int(random() % 25), h = 1 + int(random() % 20), radius = round % 4;
        const std::vector<uint8_t> src = sparseMask(random, w, h, 10);
        std::vector<uint8_t> dst(src.size(), 99);
        ASSERT_EQ(dilateMaskSquare(counter.allocator(), src.data(), w, h, dst.data(), radius, 0,
                                   254),
                  kResultOk);
        expectSquareDilation(src, w, h, radius, dst);
        // In place gives the same.
        std::vector<uint8_t> inPlace = src;
        dilateMaskSquare(counter.allocator(), inPlace.data(), w, h, inPlace.data(), radius, 0, 254);
        EXPECT_EQ(inPlace, dst);
    }
    EXPECT_EQ(counter.liveBlocks(), 0u);

    counter.failAt = counter.allocations + 1;
    std::vector<uint8_t> plane(16, 5);
    EXPECT_EQ(dilateMaskSquare(counter.allocator(), plane.data(), 4, 4, plane.data(), 1, 5, 0),
              kResultNoMemory);
    EXPECT_EQ(plane, std::vector<uint8_t>(16, 5));
}

// Large masks are dilated in row bands on the workers, in place too: a band reads rows of its
// neighbours that they are writing at the same time, unless every row is read first.
TEST(Regions, DilationInBandsOnWorkersMatchesSquareNeighbourhood)
{
    BandWorkers *workers = nullptr;
    ASSERT_EQ(bandWorkersCreate(defaultAllocator(), &workers), kResultOk);
    std::mt19937 random(5);
    for (const int radius : {1, 5}) {
        const int w = 501, h = 377;
        const std::vector<uint8_t> src = sparseMask(random, w, h, radius == 1 ? 10 : 400);
        std::vector<uint8_t> inPlace = src;
        {
            const BandWorkersScope bands(workers);
            ASSERT_EQ(dilateMaskSquare(defaultAllocator(), inPlace.data(), w, h, inPlace.data(),
                                       radius, 0, 254),
                      kResultOk);
        }
        expectSquareDilation(src, w, h, radius, inPlace);
    }
    bandWorkersRelease(workers);
}

TEST(Regions, AllocationFailureAtEveryStepLeaksNothing)
{
    Mask mask(30, 20);
    std::mt19937 random(11);
    for (auto &p : mask.pixels)
        p = random() % 3 ? 1 : 0;
    int total = 0;
    {
        Labelled full(mask, 1);
        total = full.counter.allocations;
    }
    for (int n = 1; n <= total; ++n) {
        CountingAllocator counter;
        counter.failAt = n;
        RegionList list;
        regionListInit(&list);
        RegionLabeller labeller{&mask.image, 0, 0, 29, 19, 1, counter.allocator()};
        EXPECT_EQ(labelConnectedRegions(&labeller, &list), kResultNoMemory) << n;
        freeRegionList(counter.allocator(), &list);
        EXPECT_EQ(counter.liveBlocks(), 0u) << n;
        EXPECT_EQ(counter.badFrees, 0) << n;
    }
}
