#include "vizoruv/io/host_display.h"

#include "vizoruv/io/testing/io_test_support.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

namespace {

// A host that shows its planes unchanged: each pixel into the section as B, G, R, bottom-up.
std::vector<std::pair<int32_t, int32_t>> gTiles;

int16_t identityHost(const HostPixelMap* map, const int32_t* area, int32_t row, int32_t column, void* context) {
    auto* section = static_cast<DibTileHolder*>(context);
    EXPECT_EQ(map->version, 1);
    EXPECT_EQ(map->imageMode, 3);
    EXPECT_EQ(map->columnBytes, 1);
    EXPECT_EQ(area, map->bounds);
    EXPECT_EQ(row, 0);
    EXPECT_EQ(column, 0);
    const int32_t w = map->bounds[3], h = map->bounds[2];
    EXPECT_EQ(section->width, w);
    EXPECT_EQ(section->height, h);
    gTiles.emplace_back(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t* p = &section->bits[size_t(h - 1 - y) * section->rowBytes + size_t(x) * 3];
            const size_t at = size_t(y) * map->rowBytes + x;
            p[2] = map->baseAddress[at];
            p[1] = map->baseAddress[map->planeBytes + at];
            p[0] = map->baseAddress[2 * map->planeBytes + at];
        }
    return 0;
}

int16_t absentHost(const HostPixelMap*, const int32_t*, int32_t, int32_t, void*) { return 0; }

}  // namespace

TEST(HostDisplayTest, TilesOf256AndAnIdentityHostGiveTheImageBack) {
    wic::Bitmap bgr = io_test::noise(wic::PixelFormat::Bgr24, 600, 300);
    ImageBuffer source;
    source.pixels = bgr.pixels.data();
    source.size = int32_t(bgr.pixels.size());
    source.bitsPerChannel = 8;
    source.channels = 3;
    source.width = 600;
    source.height = 300;
    source.rowBytes = int32_t(bgr.stride);
    std::mutex lock;
    DibTileHolder holder;
    wic::Bitmap out;
    gTiles.clear();
    ASSERT_TRUE(convertForDisplayInHost(source, identityHost, lock, &holder, &out));
    const std::vector<std::pair<int32_t, int32_t>> expected = {{256, 256}, {256, 256}, {88, 256},
                                                               {256, 44}, {256, 44}, {88, 44}};
    EXPECT_EQ(gTiles, expected);
    EXPECT_EQ(holder.creations, 4);  // made anew only when the tile size changes
    EXPECT_EQ(out.format, wic::PixelFormat::Bgr24);
    EXPECT_EQ(out.pixels, bgr.pixels);

    // A host whose routine draws nothing still gets a bitmap; a source that is not 24-bit is refused.
    ASSERT_TRUE(convertForDisplayInHost(source, absentHost, lock, &holder, &out));
    EXPECT_EQ(out.width, 600u);
    source.channels = 4;
    EXPECT_FALSE(convertForDisplayInHost(source, identityHost, lock, &holder, &out));
}
