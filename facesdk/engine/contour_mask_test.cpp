#include "facesdk/engine/contour_mask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/inner_engine.h"

namespace {

struct ContourEngine {
    CountingAllocator counter;
    InnerEngine inner{};
    ContourEngine(int workW, int workH)
    {
        inner.allocator = counter.allocator();
        inner.workingWidth = workW;
        inner.workingHeight = workH;
    }
};

// Second derivatives of the spline with a free start and end slope 0, in double precision;
// with `clamped`, every stored value is held to the engine's range as the engine does.
std::vector<double> splineReference(const std::vector<double> &x, const std::vector<double> &y,
                                    bool clamped)
{
    auto clamp = [clamped](double v) {
        return clamped ? std::min(std::max(v, -7208 / 65536.0), 7209 / 65536.0) : v;
    };
    const size_t n = x.size();
    std::vector<double> y2(n), u(n);
    for (size_t i = 1; i + 1 < n; ++i) {
        const double sig = (x[i] - x[i - 1]) / (x[i + 1] - x[i - 1]);
        const double p = sig * y2[i - 1] + 2;
        y2[i] = clamp((sig - 1) / p);
        const double d = (y[i + 1] - y[i]) / (x[i + 1] - x[i]) - (y[i] - y[i - 1]) / (x[i] - x[i - 1]);
        u[i] = (6 * d / (x[i + 1] - x[i - 1]) - sig * u[i - 1]) / p;
    }
    const double h = x[n - 1] - x[n - 2];
    const double un = (3 / h) * (0 - (y[n - 1] - y[n - 2]) / h);
    y2[n - 1] = clamp((un - 0.5 * u[n - 2]) / (0.5 * y2[n - 2] + 1));
    for (size_t k = n - 1; k-- > 0;)
        y2[k] = clamp(y2[k] * y2[k + 1] + u[k]);
    return y2;
}

double splineValueReference(const std::vector<double> &x, const std::vector<double> &y,
                            const std::vector<double> &y2, double v)
{
    size_t lo = 0, hi = x.size() - 1;
    while (hi - lo > 1) {
        const size_t k = (hi + lo) / 2;
        (v < x[k] ? hi : lo) = k;
    }
    const double h = x[hi] - x[lo], a = (x[hi] - v) / h, b = (v - x[lo]) / h;
    return a * y[lo] + b * y[hi] + ((a * a * a - a) * y2[lo] + (b * b * b - b) * y2[hi]) * h * h / 6;
}

// A lip-like region: outer contour 32..43 on an ellipse around (cx, cy), the inner points
// 62..64 and 65..67 on an inner ellipse (opened by `gap` pixels). Corner 32 on the left.
std::vector<VXL_POINT> lipPoints(int cx, int cy, int rx, int ry, int gap, bool upright = true)
{
    std::vector<VXL_POINT> p(250);
    auto place = [&](int index, double angle, double sx, double sy, double shift) {
        const double ex = cx + sx * std::cos(angle), ey = cy + sy * std::sin(angle) + shift;
        p[size_t(index)] = upright ? VXL_POINT{int(std::lround(ex)), int(std::lround(ey))}
                                   : VXL_POINT{int(std::lround(cx + (ey - cy))),
                                               int(std::lround(cy - (ex - cx)))};
    };
    const double pi = 3.14159265358979;
    place(32, pi, rx, ry, 0);
    place(38, 0, rx, ry, 0);
    for (int k = 1; k <= 5; ++k) {
        place(32 + k, pi + k * pi / 6, rx, ry, 0);  // upper arc: 33..37
        place(38 + k, k * pi / 6, rx, ry, 0);       // lower arc: 39..43 from the right
    }
    for (int k = 1; k <= 3; ++k) {
        const double bulge = gap > 0 ? 1 : 0;  // a closed inner contour is one straight line
        place(61 + k, pi + k * pi / 4, rx * 0.7, bulge, -gap / 2.0);  // inner upper
        place(64 + k, pi - k * pi / 4, rx * 0.7, bulge, gap / 2.0);   // inner lower
    }
    return p;
}

uint8_t maskAt(const EngineImage &mask, int x, int y)
{
    return mask.planes[0].pixels[size_t(y) * mask.planes[0].stride + x];
}

}  // namespace

TEST(ContourMask, SplineAgainstFloatReference)
{
    ContourEngine engine(100, 100);
    const std::vector<double> xs = {0, 12, 25, 40, 52, 60, 75};
    std::vector<double> ys;
    std::vector<int64_t> x, y;
    for (double v : xs) {
        ys.push_back(std::round(40 + 12 * std::sin(v / 14)));
        x.push_back(int64_t(v));
        y.push_back(int64_t(ys.back()));
    }
    std::vector<int64_t> y2(xs.size());
    ASSERT_EQ(cubicSplineCoefficients(&engine.inner, x.data(), y.data(), int(x.size()), 0,
                                      y2.data()),
              kResultOk);
    // The same recurrence in double precision, with the same clamps, gives the same second
    // derivatives; the curve stays within a pixel of the unclamped spline.
    const std::vector<double> reference = splineReference(xs, ys, true);
    for (size_t i = 0; i < xs.size(); ++i)
        EXPECT_NEAR(double(y2[i]) / 65536, reference[i], 0.0005) << i;
    const std::vector<double> exact = splineReference(xs, ys, false);
    for (int v = 0; v <= 75; ++v)
        EXPECT_NEAR(cubicSplineValue(x.data(), y.data(), y2.data(), int(x.size()), v),
                    splineValueReference(xs, ys, exact, v), 1.0)
            << v;
    // Knots are passed through exactly.
    for (size_t i = 0; i < xs.size(); ++i)
        EXPECT_EQ(cubicSplineValue(x.data(), y.data(), y2.data(), int(x.size()), x[i]), y[i]);

    // Sharp turns are held to the clamp.
    const int64_t zx[4] = {0, 1, 2, 3}, zy[4] = {0, 100, -100, 0};
    int64_t z2[4];
    ASSERT_EQ(cubicSplineCoefficients(&engine.inner, zx, zy, 4, 0, z2), kResultOk);
    for (int64_t v : z2) {
        EXPECT_GE(v, kSplineSecondMin);
        EXPECT_LE(v, kSplineSecondMax);
    }
    const int64_t equal[3] = {0, 5, 5};
    EXPECT_EQ(cubicSplineCoefficients(&engine.inner, equal, zy, 3, 0, z2), kResultBadArgument);
    EXPECT_EQ(cubicSplineCoefficients(&engine.inner, zx, zy, 1, 0, z2), kResultBadArgument);
    engine.counter.failAt = engine.counter.allocations + 1;
    EXPECT_EQ(cubicSplineCoefficients(&engine.inner, zx, zy, 4, 0, z2), kResultNoMemory);
    EXPECT_EQ(engine.counter.liveBlocks(), 0u);
}

TEST(ContourMask, FillCoversTheBandAndLeavesTheOpening)
{
    ContourEngine engine(400, 300);
    TemplateMesh record{};
    ASSERT_EQ(contourRegionVertexList(&engine.inner, &record), kResultOk);
    EXPECT_EQ(record.vertexCount, 12);
    EXPECT_EQ(record.vertices[0], 32);
    EXPECT_EQ(record.vertices[11], 43);

    for (bool upright : {true, false}) {
        FaceListEntry entry{};
        std::vector<VXL_POINT> points = lipPoints(200, 150, 60, 30, 24, upright);
        entry.face.points = points.data();
        EngineImage mask{};
        ASSERT_EQ(buildContourFillMask(&engine.inner, &entry, &record, &mask), kResultOk);
        // 120 pixels wide: o = 2.
        EXPECT_EQ(mask.width, 200);
        EXPECT_EQ(mask.height, 150);
        auto at = [&](int x, int y) {  // working coordinates, turned with the region
            return upright ? maskAt(mask, x / 2, y / 2)
                           : maskAt(mask, (200 + (y - 150)) / 2, (150 - (x - 200)) / 2);
        };
        EXPECT_GT(at(200, 128), 200) << upright;  // upper band
        EXPECT_GT(at(200, 172), 200) << upright;  // lower band
        EXPECT_LT(at(200, 150), 60) << upright;   // the opening
        EXPECT_EQ(at(200, 100), 0) << upright;    // above the region
        EXPECT_EQ(at(100, 150), 0) << upright;    // left of it
        imageRelease(engine.counter.allocator(), &mask);
    }

    // A closed inner contour fills the whole region.
    FaceListEntry closed{};
    std::vector<VXL_POINT> shut = lipPoints(200, 150, 60, 30, 0);
    closed.face.points = shut.data();
    EngineImage mask{};
    ASSERT_EQ(buildContourFillMask(&engine.inner, &closed, &record, &mask), kResultOk);
    EXPECT_GT(maskAt(mask, 100, 75), 200);
    imageRelease(engine.counter.allocator(), &mask);
    releaseTemplateMesh(&engine.inner, &record);
    EXPECT_EQ(engine.counter.liveBlocks(), 0u);
}

TEST(ContourMask, StrokeFollowsTheOuterContour)
{
    ContourEngine engine(400, 300);
    TemplateMesh record{};
    ASSERT_EQ(contourRegionVertexList(&engine.inner, &record), kResultOk);
    FaceListEntry entry{};
    std::vector<VXL_POINT> points = lipPoints(200, 150, 60, 30, 24);
    entry.face.points = points.data();
    EngineImage mask{};
    ASSERT_EQ(buildContourStrokeMask(&engine.inner, &entry, &record, &mask), kResultOk);
    // Outer contour at the middle: rows 120 and 180 of the working image, 60 and 90 here.
    EXPECT_GT(maskAt(mask, 100, 61), 100);
    EXPECT_GT(maskAt(mask, 100, 89), 100);
    EXPECT_EQ(maskAt(mask, 100, 75), 0);
    EXPECT_EQ(maskAt(mask, 100, 40), 0);
    imageRelease(engine.counter.allocator(), &mask);
    releaseTemplateMesh(&engine.inner, &record);
}

TEST(ContourMask, ScaleAndFailures)
{
    struct Case {
        int workW, workH, width;
        int maskW;
    };
    // 40 wide: o 1; 250 wide: o 4; a working image above 4 megapixels halves at least.
    const Case cases[] = {{1024, 768, 40, 1024}, {1024, 768, 250, 256}, {4096, 3072, 40, 2048}};
    for (const Case &c : cases) {
        ContourEngine engine(c.workW, c.workH);
        TemplateMesh record{};
        ASSERT_EQ(contourRegionVertexList(&engine.inner, &record), kResultOk);
        FaceListEntry entry{};
        std::vector<VXL_POINT> points = lipPoints(500, 400, c.width / 2, 20, 10);
        entry.face.points = points.data();
        EngineImage mask{};
        ASSERT_EQ(buildContourFillMask(&engine.inner, &entry, &record, &mask), kResultOk);
        EXPECT_EQ(mask.width, c.maskW) << c.width;
        imageRelease(engine.counter.allocator(), &mask);
        releaseTemplateMesh(&engine.inner, &record);
    }

    ContourEngine engine(400, 300);
    TemplateMesh record{};
    ASSERT_EQ(contourRegionVertexList(&engine.inner, &record), kResultOk);
    FaceListEntry entry{};
    std::vector<VXL_POINT> points = lipPoints(200, 150, 60, 30, 24);
    entry.face.points = points.data();
    EXPECT_EQ(buildContourFillMask(&engine.inner, &entry, &record, nullptr), kResultBadArgument);
    ContourEngine empty(0, 300);
    EngineImage mask{};
    EXPECT_EQ(buildContourStrokeMask(&empty.inner, &entry, &record, &mask), kResultBadArgument);

    // Every allocation failing in turn: the builder reports it and the caller's release of
    // the mask leaves nothing behind.
    const int before = engine.counter.allocations;
    ASSERT_EQ(buildContourFillMask(&engine.inner, &entry, &record, &mask), kResultOk);
    imageRelease(engine.counter.allocator(), &mask);
    const int steps = engine.counter.allocations - before;
    for (int n = 1; n <= steps; ++n) {
        engine.counter.failAt = engine.counter.allocations + n;
        EXPECT_EQ(buildContourFillMask(&engine.inner, &entry, &record, &mask), kResultNoMemory);
        imageRelease(engine.counter.allocator(), &mask);
    }
    engine.counter.failAt = 0;
    releaseTemplateMesh(&engine.inner, &record);
    EXPECT_EQ(engine.counter.liveBlocks(), 0u);

    ContourEngine noMemory(400, 300);
    noMemory.counter.failAt = 2;
    TemplateMesh failed{};
    EXPECT_EQ(contourRegionVertexList(&noMemory.inner, &failed), kResultNoMemory);
    EXPECT_EQ(failed.points, nullptr);
    EXPECT_EQ(noMemory.counter.liveBlocks(), 0u);
}
