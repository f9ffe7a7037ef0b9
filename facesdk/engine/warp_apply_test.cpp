#include "facesdk/engine/warp_apply.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/row_bands.h"
#include "facesdk/engine/testing/owned_image.h"
#include "facesdk/engine/testing/warp_run.h"

namespace {

constexpr PixelFormat kWarpFormats[] = {kFormatYuv422Yuyv, kFormatYuv422Uyvy, kFormatYuv422Planar,
                                        kFormatYuv420SemiPlanar, kFormatYuv420Planar};

// The luma byte of pixel (x, y), and the chroma pair that covers it.
uint8_t &lumaAt(OwnedImage &image, int x, int y)
{
    const PixelFormat format = image.image.format;
    if (format == kFormatYuv422Yuyv)
        return image.at(0, 2 * x, y);
    if (format == kFormatYuv422Uyvy)
        return image.at(0, 2 * x + 1, y);
    return image.at(0, x, y);
}

std::pair<uint8_t, uint8_t> chromaAt(OwnedImage &image, int x, int y)
{
    switch (image.image.format) {
    case kFormatYuv422Yuyv: return {image.at(0, 4 * (x / 2) + 1, y), image.at(0, 4 * (x / 2) + 3, y)};
    case kFormatYuv422Uyvy: return {image.at(0, 4 * (x / 2), y), image.at(0, 4 * (x / 2) + 2, y)};
    case kFormatYuv422Planar: return {image.at(1, x / 2, y), image.at(2, x / 2, y)};
    case kFormatYuv420SemiPlanar: return {image.at(1, x & ~1, y / 2), image.at(1, (x & ~1) + 1, y / 2)};
    default: return {image.at(1, x / 2, y / 2), image.at(2, x / 2, y / 2)};
    }
}

// The destination pixel whose source chroma a chroma sample keeps: the first of its pair on
// even rows (4:2:0) or every row (planar 4:2:2), the second of its pair for packed formats.
bool keepsChroma(PixelFormat format, int x, int y)
{
    if (format == kFormatYuv422Yuyv || format == kFormatYuv422Uyvy)
        return x & 1;
    if (formatFamily(format) == kFamilyYuv420)
        return (x & 1) == 0 && (y & 1) == 0;
    return (x & 1) == 0;
}

// A smooth picture: luma changes by at most ten levels a pixel; chroma bytes take a pattern.
void fillSmooth(OwnedImage &image)
{
    const PixelFormat format = image.image.format;
    const bool packed = format == kFormatYuv422Yuyv || format == kFormatYuv422Uyvy;
    const int lumaByte = format == kFormatYuv422Uyvy ? 1 : 0;
    for (int p = 0; p < image.planes(); ++p)
        for (int y = 0; y < image.rows(p); ++y)
            for (int x = 0; x < image.image.planes[p].stride; ++x)
                if (p > 0 || (packed && (x & 1) != lumaByte))
                    image.at(p, x, y) = uint8_t(x * 7 + y * 13);
    for (int y = 0; y < image.image.height; ++y)
        for (int x = 0; x < image.image.width; ++x)
            lumaAt(image, x, y) = uint8_t(128 + 90 * std::sin(x / 9.0) * std::cos(y / 7.0));
}

// Builds the mesh's rest grid for the run's image size and moves every node by (dx, dy) in
// 1/256 pixel given per node.
template <typename Shift>
void displaceGrid(WarpRun &run, WarpMesh *mesh, Shift shift)
{
    ASSERT_EQ(warpMeshEnsureGrid(run.inner, mesh, run.inner->imageWidth, run.inner->imageHeight), 1);
    for (int32_t i = 0; i < mesh->rows; ++i)
        for (int32_t j = 0; j < mesh->columns; ++j) {
            int32_t dx, dy;
            shift(i, j, &dx, &dy);
            mesh->planeX[i * mesh->columns + j] += dx;
            mesh->planeY[i * mesh->columns + j] += dy;
        }
}

// Moves the grid's nodes by a smooth field: 2.5 pixels across at most, `down` pixels down.
void displaceSmoothly(WarpRun &run, WarpMesh *mesh, double down)
{
    displaceGrid(run, mesh, [down](int32_t i, int32_t j, int32_t *dx, int32_t *dy) {
        *dx = int32_t(std::lround(256 * 2.5 * std::sin(j * 0.7) * std::cos(i * 0.5)));
        *dy = int32_t(std::lround(256 * down * std::cos(j * 0.4 + i * 0.3)));
    });
}

struct Mesh {
    WarpMesh *mesh = nullptr;
    explicit Mesh(WarpRun &run, int32_t columns = 20, int32_t rows = 16)
    {
        const WarpMeshConfig config = {run.inner->imageWidth, run.inner->imageHeight, 0, columns, rows};
        EXPECT_EQ(warpMeshCreate(run.inner->allocator, &config, &mesh), kResultOk);
    }
    ~Mesh() { warpMeshDestroy(mesh); }
};

// Runs the image through the mesh in bands of `rows` (the sliding working copy), as apply does
// for one face covering the whole image.
void warpInBands(WarpRun &run, WarpMesh *mesh, EngineImage *image, int32_t rows)
{
    for (int32_t y = 0; y < image->height; y += rows) {
        const EngineRect band = {0, y, image->width, std::min(rows, image->height - y)};
        ASSERT_EQ(warpBand(run.inner, mesh, image, &band, 0, 0), kResultOk) << y;
    }
    imageRelease(run.inner->allocator, &mesh->workingCopy);
}

}  // namespace

TEST(WarpApply, BandHeightsAndJobRows)
{
    EXPECT_EQ(warpBandHeight(kFormatYuv420Planar, 1000, 8), 2780);
    EXPECT_EQ(warpBandHeight(kFormatYuv420Planar, 1000, 1398), 10);  // 2 x margin >= 2796
    EXPECT_EQ(warpBandHeight(kFormatYuv422Yuyv, 4000, 0), 524);
    EXPECT_EQ(warpBandHeight(kFormatYuv420SemiPlanar, 4000, 340), 18);  // 698 - 680
    EXPECT_EQ(warpBandHeight(kFormatYuv420SemiPlanar, 4000, 349), 10);

    const struct {
        PixelFormat format;
        int32_t y, height;
        std::vector<std::pair<int32_t, int32_t>> jobs;
    } cases[] = {
        {kFormatYuv420SemiPlanar, 100, 160, {{100, 174}, {174, 250}, {250, 260}}},
        {kFormatYuv420SemiPlanar, 0, 150, {{0, 74}, {74, 150}}},
        {kFormatYuv420SemiPlanar, 20, 40, {{20, 60}}},
        {kFormatYuv422Yuyv, 40, 30, {{40, 47}, {47, 55}, {55, 62}, {62, 70}}},
        {kFormatYuv422Planar, 40, 30, {{40, 47}, {47, 55}, {55, 62}, {62, 70}}},
        {kFormatYuv420Planar, 40, 30, {{40, 46}, {46, 54}, {54, 62}, {62, 70}}},
        {kFormatYuv444Planar, 40, 30, {}},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(warpBandJobCount(c.format, c.height), int32_t(c.jobs.size())) << std::hex << c.format;
        for (int32_t k = 0; k < int32_t(c.jobs.size()); ++k) {
            int32_t first, end;
            warpBandJobRows(c.format, c.y, c.height, k, &first, &end);
            EXPECT_EQ(first, c.jobs[k].first) << std::hex << c.format << std::dec << " job " << k;
            EXPECT_EQ(end, c.jobs[k].second) << std::hex << c.format << std::dec << " job " << k;
        }
    }
}

TEST(WarpApply, ArgumentsAndFormats)
{
    WarpRun run(320, 240);
    run.addWholeImageFace();
    Mesh m(run);
    OwnedImage image(320, 240, kFormatYuv420Planar);
    EXPECT_EQ(warpMeshApply(run.inner, nullptr, &image.image, &image.image, 0, 0), kResultBadArgument);
    EXPECT_EQ(warpMeshApply(run.inner, m.mesh, nullptr, &image.image, 0, 0), kResultBadArgument);
    EXPECT_EQ(warpMeshApply(run.inner, m.mesh, &image.image, nullptr, 0, 0), kResultBadArgument);

    const struct {
        PixelFormat format;
        int result;
    } formats[] = {{kFormatGrey8, kResultBadArgument},
                   {kFormatYuv444Planar, kResultBadArgument},
                   {kFormatYuv420SemiPlanarCrFirst, kResultUnsupported}};
    for (const auto &f : formats) {
        OwnedImage other(320, 240, f.format);
        other.fillRandom(5);
        OwnedImage before(320, 240, f.format);
        before.copyPixelsFrom(other);
        EXPECT_EQ(m.mesh->ops->apply(run.inner, m.mesh, &other.image, &other.image, 0, 0), f.result)
            << std::hex << f.format;
        EXPECT_TRUE(other.samePixels(before));
        EXPECT_EQ(m.mesh->workingCopy.planes[0].pixels, nullptr);
    }
    // Without faces, or with a face whose anchor is not ready, nothing is touched.
    WarpRun idle(320, 240);
    VXL_POINT quad[4] = {{0, 0}, {319, 0}, {319, 239}, {0, 239}};
    idle.addFace({0, 0, 320, 240}, {}, {}, quad, 0, 0, 0);
    Mesh idleMesh(idle);
    idleMesh.mesh->planeX[0] = 1;  // would show if the grid were used
    image.fillRandom(6);
    OwnedImage before(320, 240, kFormatYuv420Planar);
    before.copyPixelsFrom(image);
    ASSERT_EQ(warpMeshApply(idle.inner, idleMesh.mesh, &image.image, &image.image, 0, 0), kResultOk);
    EXPECT_TRUE(image.samePixels(before));
}

// A grid at rest reproduces every format bit for bit: through apply (one band per face) and
// through small bands that slide the working copy down the image.
TEST(WarpApply, RestGridLeavesEveryFormatBitIdentical)
{
    for (PixelFormat format : kWarpFormats) {
        WarpRun run(322, 246);
        run.addWholeImageFace();
        Mesh m(run);
        OwnedImage image(322, 246, format);
        image.fillRandom(11);
        OwnedImage before(322, 246, format);
        before.copyPixelsFrom(image);
        ASSERT_EQ(warpMeshApply(run.inner, m.mesh, &image.image, &image.image, 0, 0), kResultOk);
        EXPECT_TRUE(image.samePixels(before)) << std::hex << format;

        run.inner->warpMargin = 6;
        warpInBands(run, m.mesh, &image.image, 22);
        EXPECT_TRUE(image.samePixels(before)) << "in bands " << std::hex << format;
    }
}

// Every node moved by (+3, -2) pixels: each pixel takes the luma of the pixel 3 right and 2 up
// (clamped at the image's edges), and each chroma sample the chroma that covers that pixel.
TEST(WarpApply, WholePixelShiftMovesThePattern)
{
    for (PixelFormat format : kWarpFormats) {
        const int w = 258, h = 180;
        WarpRun run(w, h);
        run.addWholeImageFace();
        Mesh m(run);
        displaceGrid(run, m.mesh, [](int32_t, int32_t, int32_t *dx, int32_t *dy) {
            *dx = 3 * 256;
            *dy = -2 * 256;
        });
        run.inner->warpMargin = 2;
        OwnedImage image(w, h, format);
        image.fillRandom(21);
        OwnedImage source(w, h, format);
        source.copyPixelsFrom(image);
        warpInBands(run, m.mesh, &image.image, 16);
        int wrong = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int sx = std::min(x + 3, w - 1), sy = std::max(y - 2, 0);
                if (lumaAt(image, x, y) != lumaAt(source, sx, sy))
                    ++wrong;
                if (keepsChroma(format, x, y) && chromaAt(image, x, y) != chromaAt(source, sx, sy))
                    ++wrong;
            }
        EXPECT_EQ(wrong, 0) << std::hex << format;
    }
}

// Cells whose grid is at rest are passed over: their pixels keep their values. Cells of 1962
// 256ths of a pixel: cell 3 starts at column 23. Node column 3 moves 20 pixels to the right,
// which moves cells 1 and 2 (columns 8..22); from column 23 the grid is at rest. Column 22
// reads from past the next pair. The pair of columns 22 and 23 straddles the moved cells and
// the resting ones: its chroma is written by both pixels in packed 4:2:2 and stays the second
// one's, the pair's own; elsewhere it is the first pixel's, which moved.
TEST(WarpApply, CellsAtRestKeepTheirPixels)
{
    for (PixelFormat format : kWarpFormats) {
        const int w = 70, h = 40;
        WarpRun run(w, h);
        run.addWholeImageFace();
        Mesh m(run, 12, 8);
        ASSERT_EQ(warpMeshEnsureGrid(run.inner, m.mesh, w, h), 1);
        ASSERT_EQ(m.mesh->cellWidth, 1962);
        displaceGrid(run, m.mesh, [](int32_t, int32_t j, int32_t *dx, int32_t *dy) {
            *dx = j == 3 ? 20 * 256 : 0;
            *dy = 0;
        });
        OwnedImage image(w, h, format);
        image.fillRandom(31);
        OwnedImage source(w, h, format);
        source.copyPixelsFrom(image);
        warpInBands(run, m.mesh, &image.image, h);
        int moved = 0, wrong = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const bool atRest = x < 8 || x > 22;
                if (!atRest)
                    moved += lumaAt(image, x, y) != lumaAt(source, x, y);
                else
                    wrong += lumaAt(image, x, y) != lumaAt(source, x, y);
                // Chroma: the pairs wholly at rest, and the straddling pair where its second
                // pixel keeps it.
                if ((x < 8 || x > 23) || (x == 23 && keepsChroma(format, 23, y)))
                    wrong += chromaAt(image, x, y) != chromaAt(source, x, y);
            }
        }
        EXPECT_GT(moved, h) << std::hex << format;
        EXPECT_EQ(wrong, 0) << std::hex << format;
    }
}

// A smooth displacement field: luma follows a floating-point reference (bilinear positions
// between the nodes, bilinear sampling of the source) within the rounding of the fixed-point
// sampling.
TEST(WarpApply, SmoothDisplacementMatchesFloatReference)
{
    for (PixelFormat format : kWarpFormats) {
        const int w = 300, h = 200;
        WarpRun run(w, h);
        run.addWholeImageFace();
        Mesh m(run, 24, 18);
        displaceSmoothly(run, m.mesh, 1.5);
        run.inner->warpMargin = 4;
        OwnedImage image(w, h, format);
        fillSmooth(image);
        OwnedImage source(w, h, format);
        source.copyPixelsFrom(image);
        warpInBands(run, m.mesh, &image.image, 30);

        const WarpMesh &mesh = *m.mesh;
        auto node = [&](const int32_t *plane, int i, int j) { return double(plane[i * mesh.columns + j]); };
        auto lumaClamped = [&](int x, int y) {
            return double(lumaAt(source, std::clamp(x, 0, w - 1), std::clamp(y, 0, h - 1)));
        };
        double worst = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double u = x * 256.0 / mesh.cellWidth, v = y * 256.0 / mesh.cellHeight;
                const int gx = std::min(int(u), mesh.columns - 3), gy = std::min(int(v), mesh.rows - 3);
                const double tx = u - gx, ty = v - gy;
                auto at = [&](const int32_t *plane) {
                    const double top = node(plane, gy + 1, gx + 1) * (1 - tx) + node(plane, gy + 1, gx + 2) * tx;
                    const double bottom = node(plane, gy + 2, gx + 1) * (1 - tx) + node(plane, gy + 2, gx + 2) * tx;
                    return (top * (1 - ty) + bottom * ty) / 256.0;
                };
                const double px = at(mesh.planeX), py = at(mesh.planeY);
                const int qx = int(std::floor(px)), qy = int(std::floor(py));
                const double fx = px - qx, fy = py - qy;
                // Past the last row or column the edge pixel is used alone.
                const double a = lumaClamped(qx, qy) * (1 - fy) + lumaClamped(qx, qy + 1) * fy;
                const double b = lumaClamped(qx + 1, qy) * (1 - fy) + lumaClamped(qx + 1, qy + 1) * fy;
                const double expected = a * (1 - fx) + b * fx;
                worst = std::max(worst, std::abs(lumaAt(image, x, y) - expected));
            }
        // The three truncating 8-bit interpolation steps lose less than a level each on the
        // source, and less than one over both; positions are exact to 1/256 pixel.
        EXPECT_LT(worst, 2.1) << std::hex << format;
    }
}

// Apply works on the rectangle of each face's anchor only, snapped to the grid cells.
TEST(WarpApply, OnlyTheAnchorRectangleChanges)
{
    WarpRun run(400, 300);
    const VXL_POINT quad[4] = {{150, 100}, {250, 100}, {250, 200}, {150, 200}};
    run.addFace({170, 120, 60, 60}, {}, {}, quad);
    Mesh m(run);
    displaceGrid(run, m.mesh, [](int32_t, int32_t, int32_t *dx, int32_t *dy) {
        *dx = 5 * 256;
        *dy = 0;
    });
    OwnedImage image(400, 300, kFormatYuv420Planar);
    image.fillRandom(31);
    OwnedImage before(400, 300, kFormatYuv420Planar);
    before.copyPixelsFrom(image);
    ASSERT_EQ(warpMeshApply(run.inner, m.mesh, &image.image, &image.image, 0, 0), kResultOk);
    EngineRect rect;
    FaceWork face = run.faces[0].face;
    const int32_t cellW = 399 * 256 / 17, cellH = 299 * 256 / 13;
    warpAnchorSourceRect(run.inner, cellW, cellH, &face, &rect);
    ASSERT_GT(rect.width, 100);
    int changedInside = 0, changedOutside = 0;
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 400; ++x) {
            // The rectangle apply works on: made even.
            const bool inside = x >= (rect.x & ~1) && x < (rect.x & ~1) + (rect.width & ~1) &&
                                y >= (rect.y & ~1) && y < (rect.y & ~1) + (rect.height & ~1);
            const bool changed = image.at(0, x, y) != before.at(0, x, y);
            (inside ? changedInside : changedOutside) += changed;
        }
    EXPECT_EQ(changedOutside, 0);
    EXPECT_GT(changedInside, rect.width * rect.height / 2);
}

// The whole road of a run's face: the grid build narrows the face below its eye line, and
// apply draws the cheeks from further out, so a vertical line on the left cheek moves towards
// the eye midpoint (x 200) while it stays where it was above the eyes.
TEST(WarpApply, NarrowedFaceMovesTheCheekTowardsTheMidline)
{
    WarpRun run(400, 400, 255);
    const VXL_POINT quad[4] = {{60, 60}, {340, 60}, {340, 360}, {60, 360}};
    run.addFace({100, 80, 200, 240}, {140, 140, 20, 20}, {240, 140, 20, 20}, quad, -120, 120);
    Mesh m(run, 40, 40);
    OwnedImage image(400, 400, kFormatYuv420Planar);
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 400; ++x)
            image.at(0, x, y) = x == 140 ? 250 : 50;
    ASSERT_EQ(warpMeshApply(run.inner, m.mesh, &image.image, &image.image, 0, 0), kResultOk);
    EXPECT_EQ(run.inner->warpMargin, 0);  // an upright face
    auto lineAt = [&](int y) {
        int best = 0;
        for (int x = 100; x < 200; ++x)
            if (image.at(0, x, y) > image.at(0, best, y))
                best = x;
        return best;
    };
    EXPECT_EQ(lineAt(100), 140);
    EXPECT_EQ(lineAt(150), 140);
    EXPECT_GE(lineAt(317), 148);
    EXPECT_LE(lineAt(317), 158);
    EXPECT_GT(lineAt(250), 140);
    EXPECT_LT(lineAt(250), lineAt(317));
}

// Every allocation of creating a mesh, adding an item and applying it fails in turn: a failure
// is answered with -3, and nothing leaks.
TEST(WarpApply, AllocationFailuresLeaveNothingBehind)
{
    for (PixelFormat format : {kFormatYuv420SemiPlanar, kFormatYuv420Planar}) {
        WarpRun run(256, 200);
        run.addWholeImageFace();
        OwnedImage image(256, 200, format);
        const size_t baseline = run.counter.liveBlocks();
        for (int failAt = 1;; ++failAt) {
            const int before = run.counter.allocations;
            run.counter.failAt = before + failAt;
            WarpMesh *mesh = nullptr;
            const WarpMeshConfig config = {256, 200, 0, 20, 20};
            int result = warpMeshCreate(run.inner->allocator, &config, &mesh);
            if (result == kResultOk) {
                WarpItem item{};
                item.radius = 10;
                result = warpMeshAddItem(mesh, &item, nullptr);
                if (result == kResultOk)
                    result = warpMeshApply(run.inner, mesh, &image.image, &image.image, 0, 0);
                EXPECT_EQ(mesh->workingCopy.planes[0].pixels, nullptr);
                warpMeshDestroy(mesh);
            } else {
                EXPECT_EQ(mesh, nullptr);
            }
            EXPECT_TRUE(result == kResultOk || result == kResultNoMemory) << failAt << ": " << result;
            EXPECT_EQ(run.counter.liveBlocks(), baseline) << std::hex << format << std::dec << " " << failAt;
            if (run.counter.allocations - before < failAt)
                break;  // nothing failed: every allocation was reached
        }
        run.counter.failAt = 0;
    }
}

// The working copy slides down by a band at a time; with a wide margin most of it is kept and
// moves up in several runs of rows, each shared out on the engine's workers. The picture comes
// out the same as when one thread does everything.
TEST(WarpApply, AWorkingCopyMovedOnTheWorkersGivesTheSameWarp)
{
    for (PixelFormat format : kWarpFormats) {
        const int w = 1200, h = 700;
        WarpRun run(w, h);
        run.addWholeImageFace();
        Mesh m(run, 24, 18);
        displaceSmoothly(run, m.mesh, 3.5);
        run.inner->warpMargin = 150;
        OwnedImage alone(w, h, format), shared(w, h, format);
        fillSmooth(alone);
        shared.copyPixelsFrom(alone);
        warpInBands(run, m.mesh, &alone.image, 60);
        {
            const BandWorkersScope bands(run.inner->workers);
            warpInBands(run, m.mesh, &shared.image, 60);
        }
        for (int p = 0; p < alone.planes(); ++p)
            for (int y = 0; y < alone.rows(p); ++y)
                ASSERT_EQ(std::memcmp(&alone.at(p, 0, y), &shared.at(p, 0, y),
                                      size_t(alone.image.planes[p].stride)), 0)
                    << std::hex << format << std::dec << " plane " << p << " row " << y;
    }
}
