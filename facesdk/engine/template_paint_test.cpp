#include "facesdk/engine/template_paint.h"

#include <gtest/gtest.h>

#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/testing/owned_image.h"

namespace {

// A two-triangle mesh over a square template mask of `size` pixels whose face side is the
// template moved by (dx, dy), with point buffers of its own.
struct SquareMesh {
    std::vector<uint8_t> maskPixels;
    VXL_POINT templatePoints[4];
    VXL_POINT facePoints[4];
    uint8_t vertices[4] = {0, 1, 2, 3};
    int32_t triangles[6] = {0, 1, 2, 0, 2, 3};
    TemplateMesh mesh{};
    FaceWork face{};

    SquareMesh(int size, uint8_t value, int dx, int dy) : maskPixels(size_t(size) * size, value)
    {
        const int last = size - 1;
        const VXL_POINT corners[4] = {{0, 0}, {last, 0}, {last, last}, {0, last}};
        for (int i = 0; i < 4; ++i) {
            templatePoints[i] = corners[i];
            facePoints[i] = {corners[i].x + dx, corners[i].y + dy};
        }
        mesh.mask.format = kFormatGrey8;
        mesh.mask.width = mesh.mask.height = size;
        mesh.mask.planes[0].stride = size;
        mesh.mask.planes[0].pixels = maskPixels.data();
        mesh.points = templatePoints;
        mesh.vertices = vertices;
        mesh.vertexCount = 4;
        mesh.triangles = triangles;
        mesh.triangleCount = 2;
        face.points = facePoints;
    }
};

// A bare inner engine on a counting allocator. The model records it unpacks stay with it until
// it ends, as with a real engine; blocksBesideRecords counts the others.
struct PaintEngine {
    CountingAllocator counter;
    InnerEngine inner{};
    PaintEngine() { inner.allocator = counter.allocator(); }
    ~PaintEngine() { releaseEngineBlobRecords(&inner); }
    size_t blocksBesideRecords() const
    {
        size_t records = 0;
        for (const uint8_t *record : inner.blobRecords)
            records += record ? 1 : 0;
        return counter.liveBlocks() - records;
    }
};

void fill(OwnedImage &image, uint8_t value)
{
    for (int y = 0; y < image.image.height; ++y)
        for (int x = 0; x < image.image.planes[0].stride; ++x)
            image.at(0, x, y) = value;
}

}  // namespace

TEST(TemplatePaint, BlendValuesAndSharedEdgesPaintedOnce)
{
    // Target 255 at full strength over zeros: mask 255 gives 254, mask 128 gives 127. The
    // diagonal shared by the two triangles is painted once (twice would give 190 for 128).
    for (uint8_t maskValue : {uint8_t(255), uint8_t(128)}) {
        PaintEngine engine;
        SquareMesh square(12, maskValue, 5, 3);
        OwnedImage image(24, 20, kFormatGrey8);
        fill(image, 0);
        ASSERT_EQ(paintTemplateMesh(&engine.inner, &image.image, &square.mesh, &square.face, 255,
                                    256),
                  kResultOk);
        const uint8_t expected = maskValue == 255 ? 254 : 127;
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 24; ++x) {
                const bool inside = x >= 5 && x < 5 + 11 && y >= 3 && y < 3 + 11;
                const uint8_t got = image.at(0, x, y);
                if (inside)
                    EXPECT_EQ(got, expected) << x << "," << y;
                else if (x < 5 || y < 3 || x > 16 || y > 14)
                    EXPECT_EQ(got, 0) << x << "," << y;
                else
                    EXPECT_TRUE(got == 0 || got == expected) << x << "," << y;
            }
        EXPECT_EQ(engine.blocksBesideRecords(), 0u);
    }
}

TEST(TemplatePaint, SamplesTheMaskAtTheMappedPosition)
{
    // A gradient mask moved by (4, 2): each interior face pixel takes the mask value of its
    // template pixel; the last template column and row have no bilinear neighbour and stay.
    PaintEngine engine;
    SquareMesh square(10, 0, 4, 2);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            square.maskPixels[size_t(y) * 10 + x] = uint8_t(20 * x + 5 * y);
    OwnedImage image(20, 16, kFormatGrey8);
    fill(image, 0);
    ASSERT_EQ(paintTemplateMesh(&engine.inner, &image.image, &square.mesh, &square.face, 255, 256),
              kResultOk);
    for (int ty = 0; ty < 10; ++ty)
        for (int tx = 0; tx < 10; ++tx) {
            const int m = 20 * tx + 5 * ty;
            const uint8_t got = image.at(0, tx + 4, ty + 2);
            if (tx < 9 && ty < 9) {
                EXPECT_NEAR(got, (m * 255) >> 8, 1) << tx << "," << ty;
            }
        }
    // A long span reaching the last template column leaves that pixel as it was (the single-
    // pixel spans of the corners are sampled instead).
    EXPECT_EQ(image.at(0, 4 + 9, 2 + 5), 0);
}

TEST(TemplatePaint, FormatsAndEdgeCases)
{
    PaintEngine engine;
    SquareMesh square(8, 255, 2, 2);

    // Packed 4:2:2 paints only the luma bytes.
    OwnedImage packed(16, 12, kFormatYuv422Uyvy);
    fill(packed, 128);
    ASSERT_EQ(paintTemplateMesh(&engine.inner, &packed.image, &square.mesh, &square.face, 0, 256),
              kResultOk);
    EXPECT_EQ(packed.at(0, 2 * 4 + 1, 4), 0);    // luma of pixel 4 pulled to the target
    EXPECT_EQ(packed.at(0, 2 * 4, 4), 128);      // chroma untouched
    EXPECT_EQ(packed.at(0, 2 * 0 + 1, 0), 128);  // outside the mesh

    // Vertices wholly above the image paint nothing.
    SquareMesh above(8, 255, 2, -40);
    OwnedImage grey(16, 12, kFormatGrey8);
    fill(grey, 9);
    EXPECT_EQ(paintTemplateMesh(&engine.inner, &grey.image, &above.mesh, &above.face, 255, 256),
              kResultOk);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(grey.at(0, x, y), 9);

    // A mesh that reaches past the left and right sides is clipped there.
    SquareMesh wide(30, 255, -10, 1);
    EXPECT_EQ(paintTemplateMesh(&engine.inner, &grey.image, &wide.mesh, &wide.face, 255, 256),
              kResultOk);
    EXPECT_EQ(grey.at(0, 0, 5), 254);
    EXPECT_EQ(grey.at(0, 15, 5), 254);

    OwnedImage rgb(16, 12, kFormatRgb24);
    EXPECT_EQ(paintTemplateMesh(&engine.inner, &rgb.image, &square.mesh, &square.face, 0, 256),
              kResultUnsupported);
    TemplateMesh empty{};
    EXPECT_EQ(paintTemplateMesh(&engine.inner, &grey.image, &empty, &square.face, 0, 256),
              kResultNothingToDo);
    EXPECT_EQ(paintTemplateMesh(&engine.inner, &grey.image, &square.mesh, nullptr, 0, 256),
              kResultNothingToDo);
    EngineImage none{};
    EXPECT_EQ(paintTemplateMesh(&engine.inner, &none, &square.mesh, &square.face, 0, 256),
              kResultNothingToDo);
    engine.counter.failAt = engine.counter.allocations + 1;
    EXPECT_EQ(paintTemplateMesh(&engine.inner, &grey.image, &square.mesh, &square.face, 0, 256),
              kResultNoMemory);
    EXPECT_EQ(engine.blocksBesideRecords(), 0u);
}

TEST(TemplatePaint, TriangleGeometry)
{
    const MeshTriangle t{{{0, 0}, {10, 0}, {0, 10}}};
    int32_t first = -1, last = -1;
    ASSERT_EQ(triangleRowSpan(t, 0, &first, &last), 1);  // the horizontal edge itself
    EXPECT_EQ(first, 0);
    EXPECT_EQ(last, 10);
    ASSERT_EQ(triangleRowSpan(t, 5, &first, &last), 1);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(last, 5);
    EXPECT_EQ(triangleRowSpan(t, 11, &first, &last), 0);

    int32_t x = 0;
    EXPECT_EQ(edgeRowCrossing({0, 0}, {10, 10}, 0, 10, 3, &x), 1);
    EXPECT_EQ(x, 3);
    EXPECT_EQ(edgeRowCrossing({0, 0}, {10, 0}, 0, 10, 0, &x), 0);  // parallel
    EXPECT_EQ(edgeRowCrossing({0, 0}, {10, 10}, 0, 10, 12, &x), 0);

    // Face triangle twice the template: positions halve, in 16.16.
    const MeshTriangle face{{{0, 0}, {20, 0}, {0, 20}}};
    const MeshTriangle templ{{{0, 0}, {10, 0}, {0, 10}}};
    int32_t u = 0, v = 0;
    mapToTemplate16(face, templ, {5, 7}, &u, &v);
    EXPECT_EQ(u, 5 * 32768);
    EXPECT_EQ(v, 7 * 32768);
    // Without area the mapping follows the first edge with extent, end to end.
    const MeshTriangle flat{{{0, 0}, {10, 0}, {10, 0}}};
    const MeshTriangle flatTemplate{{{2, 3}, {12, 8}, {12, 8}}};
    mapToTemplate16(flat, flatTemplate, {10, 0}, &u, &v);
    EXPECT_EQ(u, 12 * 65536);
    EXPECT_EQ(v, 8 * 65536);  // no extent in y: v follows x from 3 to 8
    mapToTemplate16(flat, flatTemplate, {0, 0}, &u, &v);
    EXPECT_EQ(u, 2 * 65536);

    std::vector<uint8_t> pixels = {10, 20, 30, 40};
    EngineImage mask{};
    mask.format = kFormatGrey8;
    mask.width = mask.height = 2;
    mask.planes[0].stride = 2;
    mask.planes[0].pixels = pixels.data();
    const MeshTriangle unit{{{0, 0}, {2, 0}, {0, 2}}};
    const MeshTriangle halfTemplate{{{0, 0}, {1, 0}, {0, 1}}};
    uint8_t value = 0;
    EXPECT_EQ(sampleTemplateAt(unit, halfTemplate, {0, 0}, &mask, &value), 0);  // on a corner
    EXPECT_EQ(value, 10);
    EXPECT_EQ(sampleTemplateAt(unit, halfTemplate, {1, 0}, &mask, &value), 0);  // on an edge
    EXPECT_EQ(value, 15);
    const MeshTriangle big{{{0, 0}, {4, 0}, {0, 4}}};
    EXPECT_EQ(sampleTemplateAt(big, halfTemplate, {1, 1}, &mask, &value), 1);  // strictly inside
    EXPECT_EQ(value, 17);  // (0.25, 0.25) between 10, 20, 30, 40, each step truncated
}

TEST(TemplatePaint, BoundingBoxAndPercentile)
{
    PaintEngine engine;
    SquareMesh square(8, 255, -3, 4);
    OwnedImage grey(10, 9, kFormatGrey8);
    EngineRect box{};
    meshBoundingBox(&grey.image, &square.mesh, &square.face, &box);
    EXPECT_EQ(box.x, 0);
    EXPECT_EQ(box.y, 4);
    EXPECT_EQ(box.width, 5);   // columns 0 .. 4
    EXPECT_EQ(box.height, 5);  // rows 4 .. 8, the last row

    fill(grey, 40);
    const EngineRect rect{1, 1, 6, 6};
    int32_t value = -1;
    ASSERT_EQ(lumaPercentile(&engine.inner, &grey.image, &rect, 4, &value), kResultOk);
    EXPECT_EQ(value, 41);
    ASSERT_EQ(lumaPercentile(&engine.inner, &grey.image, &rect, 0, &value), kResultOk);
    EXPECT_EQ(value, 0);
    for (int x = 0; x < 6; ++x)
        grey.at(0, 1 + x, 1) = 255;  // a sixth at the top value
    ASSERT_EQ(lumaPercentile(&engine.inner, &grey.image, &rect, 100, &value), kResultOk);
    EXPECT_EQ(value, 255);
    ASSERT_EQ(lumaPercentile(&engine.inner, &grey.image, &rect, 50, &value), kResultOk);
    EXPECT_EQ(value, 41);

    const EngineRect outside{5, 5, 6, 6}, negative{-1, 0, 2, 2}, empty{0, 0, 0, 3};
    for (const EngineRect &bad : {outside, negative, empty})
        EXPECT_EQ(lumaPercentile(&engine.inner, &grey.image, &bad, 4, &value), kResultBadArgument);
    OwnedImage rgb(10, 9, kFormatRgb24);
    EXPECT_EQ(lumaPercentile(&engine.inner, &rgb.image, &rect, 4, &value), kResultUnsupported);
    engine.counter.failAt = engine.counter.allocations + 1;
    EXPECT_EQ(lumaPercentile(&engine.inner, &grey.image, &rect, 4, &value), kResultNoMemory);
    EXPECT_EQ(engine.blocksBesideRecords(), 0u);
}

TEST(TemplatePaint, EyeDarkMeshOnAFaceKeepsTheEyeOpening)
{
    // Landmarks at the template's own eye points (moved into a larger image): the shadow
    // darkens above the upper lid and leaves the opening alone.
    PaintEngine engine;
    engine.inner.settings.eyeDark.level = 6;
    TemplateMesh mesh{};
    buildEyeMeshLevelA(&engine.inner, &mesh);
    ASSERT_EQ(mesh.vertexCount, 31);
    std::vector<VXL_POINT> points(250);
    const int dx = 100, dy = 120;
    const VXL_POINT eye[6][2] = {{{15}, {71, 192}},  {{16}, {161, 149}}, {{17}, {300, 151}},
                                 {{12}, {414, 215}}, {{13}, {289, 215}}, {{14}, {165, 213}}};
    for (const auto &e : eye)
        points[size_t(e[0].x)] = {e[1].x + dx, e[1].y + dy};
    placeRegionPointsA(&engine.inner, points.data());
    resampleCurve6(&engine.inner, points.data(), 15, 16, 17, 12, 100);
    resampleCurve6(&engine.inner, points.data(), 15, 14, 13, 12, 106);
    FaceWork face{};
    face.points = points.data();

    OwnedImage image(640, 480, kFormatYuv420Planar);
    fill(image, 200);
    ASSERT_EQ(paintTemplateMesh(&engine.inner, &image.image, &mesh, &face, 0, 256), kResultOk);
    EXPECT_LT(image.at(0, 240 + dx, 135 + dy), 150);  // above the upper lid
    EXPECT_EQ(image.at(0, 240 + dx, 190 + dy), 200);  // inside the opening
    EXPECT_EQ(image.at(0, 20, 20), 200);              // far away
    releaseTemplateMesh(&engine.inner, &mesh);
    EXPECT_EQ(engine.blocksBesideRecords(), 0u);
}
