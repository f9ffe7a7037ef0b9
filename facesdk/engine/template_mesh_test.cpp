#include "facesdk/engine/template_mesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/model_blob.h"

namespace {

// A bare inner engine on a counting allocator. The model records it unpacks stay with it until
// it ends, as with a real engine; blocksBesideRecords counts the others.
struct MeshEngine {
    CountingAllocator counter;
    InnerEngine inner{};
    MeshEngine() { inner.allocator = counter.allocator(); }
    ~MeshEngine() { releaseEngineBlobRecords(&inner); }
    size_t blocksBesideRecords() const
    {
        size_t records = 0;
        for (const uint8_t *record : inner.blobRecords)
            records += record ? 1 : 0;
        return counter.liveBlocks() - records;
    }
};

// The mask of catalogue entry `index` of a group, mirrored when asked.
std::vector<uint8_t> catalogueMask(int group, int index, bool mirrored)
{
    CountingAllocator counter;
    uint8_t *record = lzwUnpack(counter.allocator(), modelBlobEntry(group, index)->blob + 8);
    uint32_t w = 0, h = 0;
    std::memcpy(&w, record, 4);
    std::memcpy(&h, record + 4, 4);
    std::vector<uint8_t> mask(record + 16, record + 16 + size_t(w) * h);
    byteArrayFree(counter.allocator(), record);
    if (mirrored)
        for (uint32_t y = 0; y < h; ++y)
            std::reverse(mask.begin() + long(y * w), mask.begin() + long((y + 1) * w));
    return mask;
}

bool maskEquals(const TemplateMesh &mesh, const std::vector<uint8_t> &expected)
{
    for (int y = 0; y < mesh.mask.height; ++y)
        if (std::memcmp(mesh.mask.planes[0].pixels + size_t(y) * mesh.mask.planes[0].stride,
                        expected.data() + size_t(y) * mesh.mask.width, size_t(mesh.mask.width)))
            return false;
    return true;
}

}  // namespace

TEST(TemplateMesh, ResamplePolylineAlongArcLength)
{
    MeshEngine engine;
    const VXL_POINT row[4] = {{0, 5}, {30, 5}, {60, 5}, {70, 5}};
    VXL_POINT out[6] = {};
    ASSERT_EQ(resamplePolyline(&engine.inner, row, 4, out, 6), kResultOk);
    const int32_t expectedX[6] = {8, 19, 30, 41, 51, 60};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(out[i].x, expectedX[i]) << i;
        EXPECT_EQ(out[i].y, 5);
    }

    VXL_POINT points[250] = {};
    points[15] = {71, 192}, points[16] = {161, 149}, points[17] = {300, 151};
    points[12] = {414, 215};
    resampleCurve6(&engine.inner, points, 15, 16, 17, 12, 100);
    const VXL_POINT lid[6] = {{110, 169}, {166, 148}, {217, 143}, {273, 146}, {325, 160},
                              {377, 191}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(points[100 + i].x, lid[i].x) << i;
        EXPECT_EQ(points[100 + i].y, lid[i].y) << i;
    }

    // A curve of coinciding points writes nothing; fewer than two points is refused.
    const VXL_POINT same[4] = {{9, 9}, {9, 9}, {9, 9}, {9, 9}};
    VXL_POINT untouched[3] = {{-1, -1}, {-1, -1}, {-1, -1}};
    EXPECT_EQ(resamplePolyline(&engine.inner, same, 4, untouched, 3), kResultOk);
    EXPECT_EQ(untouched[0].x, -1);
    EXPECT_EQ(resamplePolyline(&engine.inner, same, 1, untouched, 3), kResultFailed);

    engine.counter.failAt = engine.counter.allocations + 1;
    EXPECT_EQ(resamplePolyline(&engine.inner, row, 4, out, 6), kResultNoMemory);
    EXPECT_EQ(engine.blocksBesideRecords(), 0u);
}

TEST(TemplateMesh, VectorAngles)
{
    struct Case {
        VXL_POINT a, b;
        int32_t angle;
    };
    const Case cases[] = {
        {{0, 0}, {10, 0}, 0},   {{0, 0}, {0, 10}, 90},   {{0, 0}, {-10, 0}, 180},
        {{0, 0}, {0, -10}, -90}, {{0, 0}, {10, 10}, 45}, {{0, 0}, {10, -10}, -45},
        {{0, 0}, {-10, 10}, 135}, {{0, 0}, {-10, -10}, -135}, {{5, 5}, {5, 5}, 0},
        {{100, 100}, {200, 110}, 6},
    };
    for (const Case &c : cases) {
        int32_t angle = 999;
        vectorAngleDegrees(c.a, c.b, &angle);
        EXPECT_EQ(angle, c.angle) << c.b.x << "," << c.b.y;
    }
}

TEST(TemplateMesh, BuildersPickEntriesAndLayouts)
{
    MeshEngine engine;
    TemplateMesh a{}, b{}, small{}, empty{};
    buildEyeMeshA(&engine.inner, &a, 14);  // above 11: entry 11
    buildEyeMeshB(&engine.inner, &b, 3);
    buildEyeMeshSmallA(&engine.inner, &small, 4);
    buildEyeMeshSmallA(&engine.inner, &empty, 14);

    ASSERT_EQ(a.vertexCount, 31);
    EXPECT_EQ(a.triangleCount, 42);
    EXPECT_EQ(a.mask.width, 415);
    EXPECT_TRUE(maskEquals(a, catalogueMask(kBlobsEyePairs, 11, false)));
    EXPECT_TRUE(maskEquals(b, catalogueMask(kBlobsEyePairs, 3, true)));
    EXPECT_TRUE(maskEquals(small, catalogueMask(kBlobsEyeLayers, 4, false)));
    EXPECT_EQ(small.vertexCount, 19);
    EXPECT_EQ(small.triangleCount, 25);
    EXPECT_EQ(empty.vertexCount, 0);
    EXPECT_EQ(empty.points, nullptr);
    EXPECT_EQ(empty.mask.width, 0);

    // Vertex lists: border, corner, upper curve, corner, lower curve, border.
    const uint8_t firstVertices[31] = {112, 113, 114, 115, 116, 117, 118, 119, 120, 15, 100,
                                       101, 102, 103, 104, 105, 12, 106, 107, 108, 109, 110,
                                       111, 121, 122, 123, 124, 125, 126, 127, 128};
    EXPECT_EQ(std::memcmp(a.vertices, firstVertices, 31), 0);
    const uint8_t smallSecond[19] = {156, 157, 158, 159, 160, 161, 18, 150, 151, 152,
                                     21,  153, 154, 155, 162, 163, 164, 165, 166};
    TemplateMesh smallB{};
    buildEyeMeshSmallB(&engine.inner, &smallB, 0);
    EXPECT_EQ(std::memcmp(smallB.vertices, smallSecond, 19), 0);

    // Template border: sevenths of 414 along the top, the middle point on its side.
    EXPECT_EQ(a.points[113].x, 59);
    EXPECT_EQ(a.points[118].x, 355);
    EXPECT_EQ(a.points[120].x, 0);
    EXPECT_EQ(a.points[120].y, 155);
    EXPECT_EQ(a.points[128].x, 414);
    EXPECT_EQ(a.points[128].y, 309);
    EXPECT_EQ(b.points[170].x, 414);
    EXPECT_EQ(b.points[18].x, 0);
    EXPECT_EQ(small.points[107].x, 37);  // a quarter of 149, rounded
    EXPECT_EQ(a.points[100].x, 110);

    // The eye-dark meshes follow the stored level, kept within 1..6.
    for (uint8_t level : {0, 1, 6, 7}) {
        TemplateMesh dark{};
        engine.inner.settings.eyeDark.level = level;
        buildEyeMeshLevelA(&engine.inner, &dark);
        const int entry = level == 0 ? 0 : (level > 6 ? 5 : level - 1);
        EXPECT_TRUE(maskEquals(dark, catalogueMask(kBlobsEyeDark, entry, false))) << int(level);
        releaseTemplateMesh(&engine.inner, &dark);
    }
    for (TemplateMesh *mesh : {&a, &b, &small, &empty, &smallB})
        EXPECT_EQ(releaseTemplateMesh(&engine.inner, mesh), kResultOk);
    EXPECT_EQ(engine.blocksBesideRecords(), 0u);
}

TEST(TemplateMesh, FaceSidePointsInTheEyeFrame)
{
    MeshEngine engine;
    VXL_POINT p[250] = {};
    // Level eyes: the frame is the image's own.
    p[15] = {100, 100}, p[12] = {200, 100}, p[18] = {300, 100}, p[21] = {400, 100};
    placeRegionPointsA(&engine.inner, p);
    EXPECT_EQ(p[112].x, 77);   // a0 = -23
    EXPECT_EQ(p[112].y, 42);   // top = -58
    EXPECT_EQ(p[119].x, 200);
    EXPECT_EQ(p[121].y, 135);  // bottom = 35
    EXPECT_EQ(p[169].x, 423);
    EXPECT_EQ(p[171].x, 300);
    for (int i = 113; i <= 118; ++i) {
        EXPECT_GT(p[i].x, p[i - 1].x);
        EXPECT_EQ(p[i].y, 42);
    }

    // Corner 12 straight below 15: the frame turns by 90 degrees.
    VXL_POINT q[250] = {};
    q[15] = {100, 100}, q[12] = {100, 200}, q[18] = {100, 300}, q[21] = {100, 400};
    placeRegionPointsA(&engine.inner, q);
    EXPECT_EQ(q[120].x, 100);
    EXPECT_EQ(q[120].y, 77);   // a0 runs along the corner line, now downwards
    EXPECT_EQ(q[112].x, 158);  // "up" in the eye frame points to +x

    VXL_POINT s[250] = {};
    s[15] = {0, 0}, s[12] = {313, 0}, s[18] = {400, 0}, s[21] = {713, 0};
    placeRegionPointsB(&engine.inner, s);
    EXPECT_EQ(s[106].x, -200);
    EXPECT_EQ(s[106].y, -280);
    EXPECT_EQ(s[116].x, 393);
    EXPECT_EQ(s[116].y, 140);
    EXPECT_EQ(s[160].x, 913);
    EXPECT_EQ(s[156].x, 320);
    EXPECT_EQ(s[108].x, 97);  // halfway, 96.5, rounded away from zero
}

TEST(TemplateMesh, AllocationFailureAtEveryStepLeaksNothing)
{
    int total = 0;
    {
        MeshEngine probe;
        TemplateMesh mesh{};
        buildEyeMeshB(&probe.inner, &mesh, 2);
        total = probe.counter.allocations;
        releaseTemplateMesh(&probe.inner, &mesh);
    }
    ASSERT_GT(total, 5);
    for (int n = 1; n <= total; ++n) {
        MeshEngine engine;
        engine.counter.failAt = n;
        TemplateMesh mesh{};
        buildEyeMeshB(&engine.inner, &mesh, 2);
        // A failed build never paints: no vertices, or no complete record behind them.
        if (mesh.vertexCount) {
            EXPECT_TRUE(mesh.points && mesh.triangles && mesh.vertices);
        }
        releaseTemplateMesh(&engine.inner, &mesh);
        EXPECT_EQ(engine.blocksBesideRecords(), 0u) << n;
        EXPECT_EQ(engine.counter.badFrees, 0) << n;
    }
}
