#include "modules/correction/engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace {

TEST(EngineBands, EveryRowRunsOnceWhetherSplitOrNot) {
    for (bool single : {false, true})
        for (const std::pair<int, int>& size : {std::pair<int, int>{4000, 1000}, {3, 10}, {1, 1}}) {
            std::vector<std::atomic<int>> visits(size.first);
            vexilo::forRowBands(single, size.first, size.second, [&](int first, int end) {
                for (int row = first; row < end; ++row)
                    ++visits[row];
            });
            for (const std::atomic<int>& v : visits)
                ASSERT_EQ(v.load(), 1) << single << " " << size.first;
        }
}

TEST(EngineBands, AFailingBandReachesTheCallerAndMemoryShortageBecomesACode) {
    const auto failing = [](int first, int) {
        if (first > 0)
            throw std::bad_alloc();
    };
    EXPECT_THROW(vexilo::forRowBands(false, 4000, 1000, failing), std::bad_alloc);
    EXPECT_EQ(vexilo::answerOf([&]() -> int32_t {
                  vexilo::forRowBands(false, 4000, 1000, failing);
                  return VXL_OK;
              }),
              VXL_ERR_MEMORY);
    EXPECT_EQ(vexilo::answerOf([]() -> int32_t { return VXL_ERR_FORMAT; }), VXL_ERR_FORMAT);
}

TEST(EngineLayouts, CodesNameTheirChannels) {
    struct Case {
        int32_t code;
        int channels, bytesPerSample, red, blue;
    } const cases[] = {
        {VXL_PIXEL_BGR8, 3, 1, 2, 0},   {VXL_PIXEL_RGB8, 3, 1, 0, 2},   {VXL_PIXEL_RGBA8, 4, 1, 0, 2},
        {VXL_PIXEL_BGR16, 3, 2, 2, 0},  {VXL_PIXEL_BGRA16, 4, 2, 2, 0}, {VXL_PIXEL_BGRA8, 4, 1, 2, 0},
        {VXL_PIXEL_RGB16, 3, 2, 0, 2},  {VXL_PIXEL_RGBA16, 4, 2, 0, 2},
    };
    for (const Case& c : cases) {
        vexilo::PixelLayout layout;
        ASSERT_TRUE(vexilo::layoutOf(c.code, &layout));
        EXPECT_EQ(layout.channels, c.channels) << c.code;
        EXPECT_EQ(layout.bytesPerSample, c.bytesPerSample) << c.code;
        EXPECT_EQ(layout.red, c.red) << c.code;
        EXPECT_EQ(layout.blue, c.blue) << c.code;
        EXPECT_EQ(layout.green, 1);
    }
    vexilo::PixelLayout layout;
    EXPECT_FALSE(vexilo::layoutOf(-1, &layout));
    EXPECT_FALSE(vexilo::layoutOf(8, &layout));
}

}  // namespace
