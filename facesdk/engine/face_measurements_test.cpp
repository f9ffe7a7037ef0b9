#include "facesdk/engine/face_measurements.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/engine/engine.h"
#include "facesdk/engine/testing/face_scene.h"

namespace {

constexpr PixelFormat kYuvFormats[] = {
    kFormatYuv444Planar, kFormatYuv422Planar, kFormatYuv420SemiPlanar,
    kFormatYuv420SemiPlanarCrFirst, kFormatYuv420Planar, kFormatYuv422Yuyv, kFormatYuv422Uyvy,
};

// An RGB image whose every pixel has the colour.
struct RgbImage {
    CountingAllocator counter;
    EngineImage image{};
    RgbImage(int32_t width, int32_t height, RgbValue colour)
    {
        EXPECT_EQ(imageAllocate(counter.allocator(), &image, width, height, kFormatRgb24), kResultOk);
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                setPixel(x, y, colour);
    }
    ~RgbImage() { imageRelease(counter.allocator(), &image); }
    void setPixel(int32_t x, int32_t y, RgbValue c)
    {
        uint8_t *p = image.planes[0].pixels + size_t(y) * image.planes[0].stride + 3 * x;
        p[0] = uint8_t(c.r), p[1] = uint8_t(c.g), p[2] = uint8_t(c.b);
    }
    RgbValue pixel(int32_t x, int32_t y) const
    {
        const uint8_t *p = image.planes[0].pixels + size_t(y) * image.planes[0].stride + 3 * x;
        return {p[0], p[1], p[2]};
    }
};

bool sameRgb(RgbValue a, RgbValue b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

// An inner engine of its own on a counting allocator.
struct InnerFixture {
    CountingAllocator counter;
    BeautyEngine *engine = nullptr;
    InnerFixture() { EXPECT_EQ(engineCreateWithAllocator(counter.allocator(), &engine), kResultOk); }
    ~InnerFixture() { engineDestroy(engine); }
    InnerEngine *inner() { return engine->inner; }
};

}  // namespace

TEST(FaceMeasurements, ColourConversionsRoundAndClamp)
{
    struct Case {
        int32_t y, cb, cr;
        RgbValue rgb;
    } cases[] = {
        {128, 128, 128, {128, 128, 128}},
        {150, 110, 160, {195, 133, 118}},  // the skin of the test scenes
        {0, 128, 255, {178, 0, 0}},        // red beyond the range clamps
        {255, 0, 128, {255, 255, 28}},
    };
    for (const Case &c : cases) {
        const RgbValue rgb = yuvToRgb(c.y, c.cb, c.cr);
        EXPECT_TRUE(sameRgb(rgb, c.rgb)) << c.y << " " << c.cb << " " << c.cr << ": " << rgb.r
                                         << " " << rgb.g << " " << rgb.b;
    }
    EXPECT_EQ(rgbLuma(255, 255, 255), 255);
    EXPECT_EQ(rgbLuma(255, 0, 0), 76);  // 19654 x 255 / 65536 = 76.47 (19595 would give 76.24)
    EXPECT_EQ(rgbLuma(0, 0, 255), 29);
    EXPECT_EQ(rgbCb(0, 0, 255), 255);   // 127.5 rounds away to 128, + 128 clamps
    EXPECT_EQ(rgbCr(255, 0, 0), 255);
    EXPECT_EQ(rgbCb(128, 128, 128), 128);
    EXPECT_EQ(rgbCr(128, 128, 128), 128);
    EXPECT_EQ(rgbLuma(400, 0, 0), 120);  // an overshooting channel still gives a byte
}

TEST(FaceMeasurements, TablesAndFaceBaseCurve)
{
    EXPECT_EQ(kLiftCurve[0], 0);
    EXPECT_EQ(kLiftCurve[4], 4);
    EXPECT_EQ(kLiftCurve[5], 6);
    EXPECT_EQ(kLiftCurve[128], 143);
    EXPECT_EQ(kLiftCurve[255], 255);
    uint8_t face[256];
    faceBaseCurve(face);
    EXPECT_EQ(face[128], 146);
    EXPECT_EQ(face[50], 57);
    EXPECT_EQ(face[230], 233);
    EXPECT_EQ(face[255], 255);
    EXPECT_EQ(kTangentTable[0], 54);
    EXPECT_EQ(kTangentTable[42], 1024);
    EXPECT_EQ(kTangentTable[86], 58665);
    EXPECT_EQ(kTangentTable[87], 100000);
}

TEST(FaceMeasurements, HistogramLevels)
{
    int32_t black = -1, white = -1;
    const std::vector<uint8_t> grey(1000, 128);
    ASSERT_EQ(histogramLevels(grey.data(), 1000, 307, 100352, &black, &white), kResultOk);
    EXPECT_EQ(black, 50);   // capped
    EXPECT_EQ(white, 230);  // raised

    // Every level 100 times: 0.3% is 76.8 bytes, so one level below; 98% is 25088 bytes.
    std::vector<uint8_t> ramp;
    for (int level = 0; level < 256; ++level)
        ramp.insert(ramp.end(), 100, uint8_t(level));
    ASSERT_EQ(histogramLevels(ramp.data(), uint32_t(ramp.size()), 307, 100352, &black, &white), kResultOk);
    EXPECT_EQ(black, 1);
    EXPECT_EQ(white, 249);
    ASSERT_EQ(histogramLevels(ramp.data(), uint32_t(ramp.size()), 0, 102400, &black, &white), kResultOk);
    EXPECT_EQ(black, 0);
    EXPECT_EQ(white, 255);

    struct Case {
        const uint8_t *bytes;
        uint32_t length, low, high;
        int32_t *black, *white;
    } bad[] = {
        {nullptr, 10, 307, 100352, &black, &white},
        {grey.data(), 0, 307, 100352, &black, &white},
        {grey.data(), 10, 102401, 100352, &black, &white},
        {grey.data(), 10, 307, 102401, &black, &white},
        {grey.data(), 10, 307, 100352, nullptr, &white},
        {grey.data(), 10, 307, 100352, &black, nullptr},
    };
    for (const Case &c : bad)
        EXPECT_EQ(histogramLevels(c.bytes, c.length, c.low, c.high, c.black, c.white),
                  kResultBadArgument);
}

// Every layout converts the same colours to the same RGB, Cr-first included.
TEST(FaceMeasurements, ImageToRgbReadsEveryLayout)
{
    for (PixelFormat format : kYuvFormats) {
        OwnedImage yuv(64, 48, format);
        FaceScene scene;
        scene.format = format;
        scene.width = 64, scene.height = 48;
        scene.face = {16, 8, 32, 32};
        paintFaceScene(yuv.image, scene);
        RgbImage rgb(64, 48, {0, 0, 0});
        ASSERT_EQ(imageToRgb(&yuv.image, &rgb.image), kResultOk) << std::hex << format;
        EXPECT_TRUE(sameRgb(rgb.pixel(20, 20), RgbValue{195, 133, 118})) << std::hex << format;
        EXPECT_TRUE(sameRgb(rgb.pixel(1, 1), RgbValue{0, 0, 0})) << std::hex << format;
        EXPECT_TRUE(sameRgb(rgb.pixel(5, 40), RgbValue{255, 255, 255})) << std::hex << format;
        EXPECT_TRUE(sameRgb(rgb.pixel(12, 2), RgbValue{128, 128, 128})) << std::hex << format;
    }
    OwnedImage yuv(64, 48, kFormatYuv420Planar);
    RgbImage smaller(64, 46, {0, 0, 0});
    EXPECT_EQ(imageToRgb(&yuv.image, &smaller.image), kResultBadArgument);
    OwnedImage grey(64, 48, kFormatGrey8);
    RgbImage rgb(64, 48, {0, 0, 0});
    EXPECT_EQ(imageToRgb(&grey.image, &rgb.image), kResultBadArgument);
    EXPECT_EQ(imageToRgb(&yuv.image, &grey.image), kResultBadArgument);
}

// The two copies of the test scene and the levels measured on them, worked out by hand: the
// stripes give the image black 1 and white 254; the flat skin gives the face black 50 and
// white 230 (the caps), mapped through the face curve to 57 (pulled to 1 + 15) and 233.
TEST(FaceMeasurements, CopiesAndLevelsOfASyntheticFace)
{
    CountingAllocator counter;
    OwnedImage image(640, 480, kFormatYuv420Planar);
    FaceScene scene;
    paintFaceScene(image.image, scene);
    const EngineRect box = innerFaceBox(scene.face, 4, image.image.format);
    EXPECT_EQ(box.x, 230);
    EXPECT_EQ(box.y, 150);
    EXPECT_EQ(box.width, 140);
    EXPECT_EQ(box.height, 180);

    FaceCopies copies;
    ASSERT_EQ(makeFaceCopies(counter.allocator(), &image.image, box, &copies), kResultOk);
    ASSERT_EQ(copies.face.format, kFormatRgb24);
    EXPECT_EQ(copies.face.width, 78);  // 100 x 140 / 180 = 77, made even
    EXPECT_EQ(copies.face.height, 100);
    EXPECT_EQ(copies.whole.width, 640);
    EXPECT_EQ(copies.whole.height, 480);
    for (int32_t y = 0; y < copies.face.height; ++y)
        for (int32_t x = 0; x < copies.face.width; ++x) {
            const uint8_t *p = copies.face.planes[0].pixels + y * copies.face.planes[0].stride + 3 * x;
            ASSERT_TRUE(p[0] == 195 && p[1] == 133 && p[2] == 118) << x << "," << y;
        }

    uint8_t *imageCurve = nullptr, *faceCurve = nullptr;
    int32_t e, f, h, g;
    ASSERT_EQ(faceToneLevels(counter.allocator(), &copies.whole, &copies.face, &imageCurve,
                             &faceCurve, &e, &f, &h, &g),
              kResultOk);
    EXPECT_EQ(e, 1);
    EXPECT_EQ(f, 254);
    EXPECT_EQ(h, 16);
    EXPECT_EQ(g, 233);
    EXPECT_EQ(imageCurve[77], 77);
    EXPECT_EQ(faceCurve[128], 146);

    // The skin (195, 133, 118) has grey level 148, band 3: ratios 195 x 1024 / 148 and so on;
    // the other bands keep the reference.
    BandColourStatistics stats;
    ASSERT_EQ(bandColourRatios(&copies.face, &stats), kResultOk);
    EXPECT_EQ(stats.ratio[0][3], 1349);
    EXPECT_EQ(stats.ratio[1][3], 920);
    EXPECT_EQ(stats.ratio[2][3], 816);
    EXPECT_EQ(stats.ratio[0][2], 1311);
    EXPECT_EQ(stats.meanR, 195);
    EXPECT_EQ(stats.meanG, 133);
    allocatorFree(counter.allocator(), imageCurve);
    allocatorFree(counter.allocator(), faceCurve);

    // A copy that a failed preparation left empty.
    EngineImage empty{};
    EXPECT_EQ(faceToneLevels(counter.allocator(), &copies.whole, &empty, &imageCurve, &faceCurve,
                             &e, &f, &h, &g),
              kResultBadArgument);
    releaseFaceCopies(counter.allocator(), &copies);
    EXPECT_EQ(counter.liveBlocks(), 0u);

    // Every allocation of the preparation and the levels failing in turn leaks nothing.
    for (int n = 1; n < 40; ++n) {
        counter.failAt = n;
        counter.allocations = 0;
        ASSERT_EQ(makeFaceCopies(counter.allocator(), &image.image, box, &copies), kResultOk);
        const int result = faceToneLevels(counter.allocator(), &copies.whole, &copies.face,
                                          &imageCurve, &faceCurve, &e, &f, &h, &g);
        if (result == kResultOk) {
            allocatorFree(counter.allocator(), imageCurve);
            allocatorFree(counter.allocator(), faceCurve);
        } else {
            EXPECT_TRUE(result == kResultNoMemory || result == kResultBadArgument) << n;
        }
        releaseFaceCopies(counter.allocator(), &copies);
        EXPECT_EQ(counter.liveBlocks(), 0u) << n;
        EXPECT_EQ(counter.badFrees, 0) << n;
    }
}

TEST(FaceMeasurements, BandRatiosAndGains)
{
    BandColourStatistics stats;
    // Saturated pixels count nowhere: reference ratios, means 0, every gain 1.
    RgbImage red(20, 20, {255, 0, 0});
    ASSERT_EQ(bandColourRatios(&red.image, &stats), kResultOk);
    EXPECT_EQ(stats.ratio[0][0], 1270);
    EXPECT_EQ(stats.ratio[2][5], 922);
    EXPECT_EQ(stats.meanR, 0);
    EXPECT_EQ(stats.meanG, 0);

    // A grey face counts in band 3 only, with ratios 1024 and means 128.
    RgbImage grey(20, 20, {128, 128, 128});
    ASSERT_EQ(bandColourRatios(&grey.image, &stats), kResultOk);
    EXPECT_EQ(stats.ratio[0][3], 1024);
    EXPECT_EQ(stats.ratio[1][3], 1024);
    EXPECT_EQ(stats.ratio[0][2], 1311);
    EXPECT_EQ(stats.meanR, 128);
    EXPECT_EQ(stats.meanG, 128);

    // Near-black pixels whose grey level is 0 keep the reference instead of dividing by zero.
    RgbImage black(20, 20, {2, 0, 0});
    ASSERT_EQ(bandColourRatios(&black.image, &stats), kResultOk);
    EXPECT_EQ(stats.ratio[0][0], 1270);

    RgbImage notRgb(4, 4, {0, 0, 0});
    notRgb.image.format = kFormatGrey8;
    EXPECT_EQ(bandColourRatios(&notRgb.image, &stats), kResultUnsupported);

    // A ratio step of 155 is cut to 154, a step of 154 stays: both give band 3 the same gain.
    int32_t tables[3][256];
    int32_t *gains[3] = {tables[0], tables[1], tables[2]};
    for (int step : {154, 155}) {
        for (int c = 0; c < 3; ++c)
            for (int band = 0; band < kBrightnessBands; ++band)
                stats.ratio[c][band] = 1024;
        stats.ratio[0][3] = 1024 + step;
        ratiosToGainTables(stats, gains);
        EXPECT_EQ(tables[0][150], 1270 * 1024 / 1178) << step;
        EXPECT_EQ(tables[1][0], 870) << step;   // flat below the first knot
        EXPECT_EQ(tables[1][21], 870) << step;
        EXPECT_EQ(tables[1][255], 922) << step;  // flat above the last
        EXPECT_EQ(tables[0][43], (1270 + 1311) / 2) << step;  // half way between knots 21 and 64
    }
}

TEST(FaceMeasurements, CastDirectionWeight)
{
    struct Case {
        int32_t r1, g1, r2, g2, weight;
    } cases[] = {
        {100, 100, 100, 90, 1024},  // dR 0, dG > 0: angle 91
        {100, 100, 100, 100, 22},   // dR 0, dG 0: angle 269
        {110, 110, 100, 100, 1001}, // slope 1024: 43 entries, angle 44
        {110, 100, 100, 100, 0},    // dR > 0, dG 0: angle 359
        {100, 100, 110, 100, 1024}, // dR < 0, dG 0: angle 181
        {100, 110, 110, 100, 1024}, // dR < 0, dG > 0: angle 179 - 43
    };
    for (const Case &c : cases)
        EXPECT_EQ(castDirectionWeight(c.r1, c.g1, c.r2, c.g2), c.weight)
            << c.r1 << " " << c.g1 << " " << c.r2 << " " << c.g2;
}

TEST(FaceMeasurements, SkinColourGains)
{
    InnerFixture f;
    int32_t *r = nullptr, *g = nullptr, *b = nullptr;
    int32_t weight = 1024;

    RgbImage saturated(20, 20, {0, 0, 255});
    ASSERT_EQ(skinColourGains(f.inner(), &saturated.image, &r, &g, &b, &weight), kResultOk);
    // Nothing counted: every band takes the reference ratios, whose red and green give gain 1.
    // The reference blue steps 164 from band 1 to band 2, more than the 154 a step may have,
    // so band 1's blue is limited to 727 and its gain stays a little below 1.
    for (int i = 0; i < 256; ++i) {
        ASSERT_TRUE(r[i] == 1024 && g[i] == 1024) << i;
        ASSERT_TRUE(b[i] <= 1024 && b[i] > 1024 - 40) << i;
    }
    EXPECT_EQ(b[150], 1024);
    EXPECT_EQ(weight, 22);
    for (int32_t *table : {r, g, b})
        allocatorFree(f.engine->allocator, table);

    // A grey face is far from skin: it needs more red and less blue in the mid-tones, and the
    // ends of the tables ease back to gain 1.
    RgbImage grey(20, 20, {140, 140, 140});
    const RgbValue before = grey.pixel(3, 3);
    ASSERT_EQ(skinColourGains(f.inner(), &grey.image, &r, &g, &b, &weight), kResultOk);
    EXPECT_GT(r[150], 1100);
    EXPECT_LT(g[150], 1000);
    EXPECT_EQ(r[0], 1024);
    EXPECT_EQ(r[240], 1024);
    const RgbValue after = grey.pixel(3, 3);  // the copy itself was corrected
    EXPECT_GT(after.r, before.r);
    EXPECT_LT(after.b, before.b);
    for (int32_t *table : {r, g, b})
        allocatorFree(f.engine->allocator, table);

    RgbImage notRgb(4, 4, {0, 0, 0});
    notRgb.image.format = kFormatYuv444Planar;
    EXPECT_EQ(skinColourGains(f.inner(), &notRgb.image, &r, &g, &b, &weight), kResultUnsupported);
    EXPECT_EQ(skinColourGains(nullptr, &grey.image, &r, &g, &b, &weight), kResultBadArgument);

    const size_t live = f.counter.liveBlocks();
    for (int n = 1; n <= 6; ++n) {
        f.counter.failAt = f.counter.allocations + n;
        EXPECT_EQ(skinColourGains(f.inner(), &grey.image, &r, &g, &b, &weight), kResultNoMemory) << n;
        EXPECT_EQ(f.counter.liveBlocks(), live) << n;
    }
    f.counter.failAt = 0;
}

TEST(FaceMeasurements, FaceSelectionAndInnerBoxes)
{
    FaceWork faces[3] = {};
    faces[0].box = {0, 0, 10, 40};
    faces[1].box = {0, 0, 20, 21};
    faces[2].box = {0, 0, 40, 10};
    EXPECT_EQ(largestFaceIndex(faces, 3), 1);
    faces[1].box = {0, 0, 20, 20};
    EXPECT_EQ(largestFaceIndex(faces, 3), 0);  // equal areas: the first
    faces[0].box.width = 0;
    faces[2].box.height = -10;
    faces[1].box.width = -4;
    EXPECT_EQ(largestFaceIndex(faces, 3), -1);

    struct Case {
        int32_t divisor;
        PixelFormat format;
        EngineRect expected;
    } cases[] = {
        {4, kFormatYuv444Planar, {131, 131, 184, 184}},  // q 61
        {4, kFormatYuv422Planar, {130, 131, 184, 184}},
        {4, kFormatYuv420Planar, {130, 130, 184, 184}},
        {2, kFormatYuv444Planar, {162, 162, 123, 123}},  // q 122
        {2, kFormatYuv420SemiPlanar, {162, 162, 122, 122}},
    };
    for (const Case &c : cases) {
        const EngineRect box = innerFaceBox({101, 101, 245, 245}, c.divisor, c.format);
        EXPECT_EQ(std::memcmp(&box, &c.expected, sizeof box), 0)
            << c.divisor << " " << std::hex << c.format << std::dec << ": " << box.x << " "
            << box.y << " " << box.width << " " << box.height;
    }
}
