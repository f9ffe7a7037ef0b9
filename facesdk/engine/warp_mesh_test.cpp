#include "facesdk/engine/warp_mesh.h"

#include <gtest/gtest.h>

#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"

namespace {

WarpItem circle(int32_t x, int32_t y, int32_t radius, int32_t a = 0)
{
    WarpItem item{};
    item.centreX = x;
    item.centreY = y;
    item.radius = radius;
    item.valueA = a;
    return item;
}

// The address of a temporary, which lives to the end of the call it is passed to.
const WarpItem *addressOf(const WarpItem &item) { return &item; }

struct MeshFixture {
    CountingAllocator counter;
    WarpMesh *mesh = nullptr;

    explicit MeshFixture(WarpMeshConfig config = {200, 150, 0, 20, 20})
    {
        EXPECT_EQ(warpMeshCreate(counter.allocator(), &config, &mesh), kResultOk);
    }
    ~MeshFixture()
    {
        if (mesh)
            mesh->ops->destroy(mesh);
        EXPECT_EQ(counter.liveBlocks(), 0u);
        EXPECT_EQ(counter.badFrees, 0);
    }
    std::vector<int32_t> ids() const
    {
        std::vector<int32_t> list;
        for (const WarpItemNode *n = mesh->items; n; n = n->next) {
            list.push_back(n->id);
            if (n->next) {
                EXPECT_EQ(n->next->previous, n);
            }
        }
        return list;
    }
};

}  // namespace

TEST(WarpMesh, CreateChecksItsConfigAndCleansUpFailures)
{
    CountingAllocator counter;
    WarpMesh *mesh = nullptr;
    const WarpMeshConfig good = {640, 480, 2, 20, 20};
    EXPECT_EQ(warpMeshCreate(nullptr, &good, &mesh), kResultBadArgument);
    EXPECT_EQ(warpMeshCreate(counter.allocator(), nullptr, &mesh), kResultBadArgument);
    EXPECT_EQ(warpMeshCreate(counter.allocator(), &good, nullptr), kResultBadArgument);
    for (const WarpMeshConfig bad : {WarpMeshConfig{640, 480, 0, 3, 20}, WarpMeshConfig{640, 480, 0, 20, 3},
                                     WarpMeshConfig{1, 480, 0, 20, 20}, WarpMeshConfig{640, 0, 0, 20, 20},
                                     WarpMeshConfig{640, 480, 0, 100000, 100000}}) {
        EXPECT_EQ(warpMeshCreate(counter.allocator(), &bad, &mesh), kResultBadArgument)
            << bad.width << 'x' << bad.height << ' ' << bad.columns << 'x' << bad.rows;
        EXPECT_EQ(mesh, nullptr);
    }
    for (int failAt = 1; failAt <= 3; ++failAt) {
        counter.failAt = counter.allocations + failAt;
        EXPECT_EQ(warpMeshCreate(counter.allocator(), &good, &mesh), kResultNoMemory) << failAt;
        EXPECT_EQ(mesh, nullptr);
        EXPECT_EQ(counter.liveBlocks(), 0u) << failAt;
    }
    counter.failAt = 0;
    ASSERT_EQ(warpMeshCreate(counter.allocator(), &good, &mesh), kResultOk);
    EXPECT_EQ(mesh->ops, &kWarpMeshOps);
    EXPECT_EQ(mesh->nextId, 1);
    EXPECT_EQ(mesh->gridValid, 0);
    // Cubic weights at t = 1/2: (t - 2t^2 + t^3) / 2, (t^2 - t^3) / 2 and 3t^2 - 2t^3 in 1/256.
    EXPECT_EQ(mesh->cubicT0[128], 16);
    EXPECT_EQ(mesh->cubicT1[128], 16);
    EXPECT_EQ(mesh->cubicT2[128], 128);
    EXPECT_EQ(mesh->cubicT0[0] | mesh->cubicT1[0] | mesh->cubicT2[0], 0);
    mesh->ops->destroy(mesh);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

TEST(WarpMesh, ItemListKeepsIdsAndOrder)
{
    MeshFixture f;
    const WarpMeshOps &ops = *f.mesh->ops;
    int32_t id = 0;
    for (int32_t expected : {1, 2, 3}) {
        ASSERT_EQ(ops.addItem(f.mesh, addressOf(circle(10 * expected, 20, 5, expected)), &id), kResultOk);
        EXPECT_EQ(id, expected);
    }
    f.mesh->gridValid = 1;
    WarpItem removed{};
    removed.unused[0] = 77;
    ASSERT_EQ(ops.removeItem(f.mesh, 2, &removed), kResultOk);
    EXPECT_EQ(f.mesh->gridValid, 0);
    EXPECT_EQ(removed.centreX, 20);
    EXPECT_EQ(removed.radius, 5);
    EXPECT_EQ(removed.valueA, 2);
    EXPECT_EQ(removed.unused[0], 77);  // only the first 32 bytes are written
    ASSERT_EQ(ops.addItem(f.mesh, addressOf(circle(40, 20, 5)), &id), kResultOk);
    EXPECT_EQ(id, 4);
    EXPECT_EQ(f.ids(), (std::vector<int32_t>{1, 3, 4}));

    ASSERT_EQ(ops.removeItem(f.mesh, kWarpFirstItem, nullptr), kResultOk);
    EXPECT_EQ(f.ids(), (std::vector<int32_t>{3, 4}));
    EXPECT_EQ(f.mesh->items->previous, nullptr);

    // -2 selects the last item; its id and place stay.
    WarpItem directional = circle(60, 70, 8, 9);
    directional.type = kWarpItemDirectional;
    directional.directionX = -3;
    directional.valueB = -5;
    ASSERT_EQ(ops.updateItem(f.mesh, kWarpLastItem, &directional), kResultOk);
    const WarpItemNode *last = f.mesh->items->next;
    EXPECT_EQ(last->id, 4);
    EXPECT_EQ(last->type, kWarpItemDirectional);
    EXPECT_EQ(last->radiusSquared, 64);
    EXPECT_EQ(last->left, 8 * 256);
    EXPECT_EQ(last->leftTop, 64);
    ASSERT_EQ(ops.removeItem(f.mesh, kWarpLastItem, &removed), kResultOk);
    EXPECT_EQ(removed.type, kWarpItemDirectional);
    EXPECT_EQ(removed.directionX, -3);
    EXPECT_EQ(removed.valueA, 9);
    EXPECT_EQ(removed.valueB, -5);
    // An id that matches nothing reaches the last item.
    ASSERT_EQ(ops.updateItem(f.mesh, 99, addressOf(circle(1, 2, 3))), kResultOk);
    EXPECT_EQ(f.mesh->items->centreX, 1);

    EXPECT_EQ(ops.clearItems(f.mesh), kResultOk);
    EXPECT_EQ(f.mesh->items, nullptr);
    EXPECT_EQ(ops.updateItem(f.mesh, 1, &directional), kResultNothingToDo);
    EXPECT_EQ(ops.removeItem(f.mesh, 1, nullptr), kResultNothingToDo);
    EXPECT_EQ(ops.addItem(nullptr, &directional, nullptr), kResultBadArgument);
    EXPECT_EQ(ops.addItem(f.mesh, nullptr, nullptr), kResultBadArgument);
    EXPECT_EQ(ops.updateItem(f.mesh, 1, nullptr), kResultBadArgument);

    // A node that cannot be allocated leaves the list as it was.
    f.counter.failAt = f.counter.allocations + 1;
    EXPECT_EQ(ops.addItem(f.mesh, &directional, &id), kResultNoMemory);
    EXPECT_EQ(f.mesh->items, nullptr);
    EXPECT_EQ(f.mesh->nextId, 5);
}

TEST(WarpMesh, GridBuildRestPositionsAndRing)
{
    MeshFixture f;
    ASSERT_EQ(warpMeshEnsureGrid(nullptr, f.mesh, 200, 150), 1);
    const int32_t cellW = 199 * 256 / 17, cellH = 149 * 256 / 17;
    EXPECT_EQ(f.mesh->cellWidth, cellW);
    EXPECT_EQ(f.mesh->inverseCellWidth, (1 << 28) / cellW);
    for (int32_t i = 0; i < 20; ++i)
        for (int32_t j = 0; j < 20; ++j) {
            EXPECT_EQ(f.mesh->planeX[i * 20 + j], (j - 1) * cellW);
            EXPECT_EQ(f.mesh->planeY[i * 20 + j], (i - 1) * cellH);
        }
    // A rest grid maps every pixel to itself, up to the 8-bit fractions.
    for (int32_t y = 0; y < 150; y += 7)
        for (int32_t x = 0; x < 200; x += 3) {
            int32_t sx, sy;
            warpMeshSourceBilinear(f.mesh, x, y, &sx, &sy);
            EXPECT_NEAR(sx, x, 1) << x << ',' << y;
            EXPECT_NEAR(sy, y, 1) << x << ',' << y;
        }
    EXPECT_EQ(warpMeshEnsureGrid(nullptr, f.mesh, 1, 150), 0);
    EXPECT_EQ(f.mesh->gridValid, 0);
}

TEST(WarpMesh, ItemRegions)
{
    MeshFixture f;
    const WarpMeshOps &ops = *f.mesh->ops;
    ASSERT_EQ(warpMeshEnsureGrid(nullptr, f.mesh, 200, 150), 1);
    EXPECT_EQ(warpMeshRowHitsItem(f.mesh, 0, 199, 50), 0);

    ASSERT_EQ(ops.addItem(f.mesh, addressOf(circle(50, 50, 10)), nullptr), kResultOk);
    ASSERT_EQ(warpMeshEnsureGrid(nullptr, f.mesh, 200, 150), 1);
    const struct {
        bool row;
        int32_t at, from, to;
        int hit;
    } cases[] = {
        {true, 50, 0, 100, 1},   // crosses the centre
        {true, 61, 0, 100, 0},   // below the circle
        {true, 45, 0, 44, 1},    // ends left of the centre, inside
        {true, 45, 58, 100, 1},  // starts right of the centre, inside
        {true, 45, 0, 40, 0},    // ends left of the circle
        {true, 58, 56, 100, 0},  // outside the lower right quadrant
        {false, 50, 0, 149, 1},
        {false, 61, 0, 149, 0},
        {false, 52, 0, 42, 1},
    };
    for (const auto &c : cases) {
        const int hit = c.row ? warpMeshRowHitsItem(f.mesh, c.from, c.to, c.at)
                              : warpMeshColumnHitsItem(f.mesh, c.at, c.from, c.to);
        EXPECT_EQ(hit, c.hit) << (c.row ? "row " : "column ") << c.at << ": " << c.from << ".." << c.to;
    }

    // A directional item reaches one cell further towards its direction after a build.
    ASSERT_EQ(ops.clearItems(f.mesh), kResultOk);
    WarpItem up = circle(100, 80, 10);
    up.type = kWarpItemDirectional;
    up.directionY = -20;
    ASSERT_EQ(ops.addItem(f.mesh, &up, nullptr), kResultOk);
    ASSERT_EQ(warpMeshEnsureGrid(nullptr, f.mesh, 200, 150), 1);
    const int32_t cellH = 149 * 256 / 17;
    const WarpItemNode &node = *f.mesh->items;
    EXPECT_EQ(node.top, 2560 + cellH);
    EXPECT_EQ(node.bottom, 2560);
    EXPECT_EQ(node.left, 2560);
    EXPECT_EQ(node.right, 2560);
    EXPECT_EQ(node.leftTop, (int64_t(2560) * (2560 + cellH)) >> 8);
    EXPECT_EQ(node.leftBottom, (int64_t(2560) * 2560) >> 8);
    // Above the centre the region now reaches past the radius, below it does not.
    EXPECT_EQ(warpMeshRowHitsItem(f.mesh, 0, 199, 80 - 12), 1);
    EXPECT_EQ(warpMeshRowHitsItem(f.mesh, 0, 199, 80 + 12), 0);
}

TEST(WarpMesh, SourceRectangle)
{
    for (int32_t mode : {0, kWarpModeCubic}) {
        MeshFixture f({200, 150, mode, 20, 20});
        const WarpMeshOps &ops = *f.mesh->ops;
        const int32_t size[2] = {200, 150};
        EngineRect source;
        // Without items the destination itself, clipped to the image.
        const EngineRect inside = {30, 40, 50, 60};
        EXPECT_EQ(ops.sourceRect(nullptr, f.mesh, size, &inside, &source), kResultOk);
        EXPECT_EQ(source.x, 30);
        EXPECT_EQ(source.y, 40);
        EXPECT_EQ(source.width, 50);
        EXPECT_EQ(source.height, 60);
        const EngineRect past = {-10, 120, 230, 60};
        EXPECT_EQ(ops.sourceRect(nullptr, f.mesh, size, &past, &source), kResultOk);
        EXPECT_EQ(source.x, 0);
        EXPECT_EQ(source.y, 120);
        EXPECT_EQ(source.width, 200);
        EXPECT_EQ(source.height, 30);

        // An item over the rectangle: the estimate holds the destination (the rest grid maps
        // pixels to themselves) widened by the margin, 2 bilinear or 12 cubic.
        ASSERT_EQ(ops.addItem(f.mesh, addressOf(circle(55, 70, 40)), nullptr), kResultOk);
        EXPECT_EQ(ops.sourceRect(nullptr, f.mesh, size, &inside, &source), kResultOk);
        const int32_t margin = mode == kWarpModeCubic ? 12 : 2;
        EXPECT_LE(source.x, 30 - margin + 1);
        EXPECT_GE(source.x, 30 - margin - 1);
        EXPECT_LE(source.y, 40 - margin + 1);
        EXPECT_GE(source.y, 40 - margin - 1);
        EXPECT_GE(source.x + source.width, 80 + margin - 1);
        EXPECT_LE(source.x + source.width, 80 + margin + 1);
        EXPECT_GE(source.y + source.height, 100 + margin - 1);
        EXPECT_LE(source.y + source.height, 100 + margin + 1);
    }
}
