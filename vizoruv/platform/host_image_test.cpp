// The plug-in host's operations driven by a fake host: a 10 x 8 document at depth 8, 16 or 32 with
// an optional selection mask, buffer procedures that keep a ledger of their blocks, and an
// advance-state routine that hands out the areas the record asks for.
#include "vizoruv/platform/host_image.h"

#include "vizoruv/adjust/adjustment_set.h"
#include "vizoruv/io/host_filter_record.h"
#include "vizoruv/platform/correction_pipeline.h"
#include "vizoruv/platform/testing/platform_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct FakeHost;
FakeHost* g_host = nullptr;

struct FakeHost {
    static constexpr int kWidth = 10;
    static constexpr int kHeight = 8;
    static constexpr int kTop = 2, kLeft = 3, kBottom = 6, kRight = 9;  // the filter area: 6 x 4

    HostFilterRecord record{};
    HostBufferProcs procs{};
    int bytes;
    std::vector<uint8_t> input, output, mask;
    bool hasMask = false;
    int advanceCalls = 0;
    int failAdvanceAt = 0;  // the advance-state call (from 1) that fails; 0: none
    bool refuseAllocation = false;
    std::map<uint64_t, std::vector<uint8_t>> blocks;
    std::map<uint64_t, int> locks;
    uint64_t nextId = 1;
    std::vector<std::string> calls;

    explicit FakeHost(int depth) : bytes(hostBytesPerSample(depth)) {
        g_host = this;
        record.depth = depth;
        record.bufferProcs = &procs;
        record.advanceState = &FakeHost::advanceState;
        record.progress = [](int32_t, int32_t) { g_host->calls.push_back("progress"); };
        procs.allocate = [](int32_t size, uint64_t* id) -> int16_t {
            g_host->calls.push_back("allocate");
            if (g_host->refuseAllocation)
                return -108;
            *id = g_host->nextId++;
            g_host->blocks[*id].resize(size_t(size));
            return 0;
        };
        procs.lock = [](uint64_t id, uint8_t) -> void* {
            ++g_host->locks[id];
            return g_host->blocks.at(id).data();
        };
        procs.unlock = [](uint64_t id) { --g_host->locks[id]; };
        procs.free = [](uint64_t id) {
            g_host->calls.push_back("free");
            EXPECT_EQ(g_host->locks[id], 0);
            g_host->blocks.erase(id);
        };
        const int16_t area[4] = {kTop, kLeft, kBottom, kRight};
        std::memcpy(record.filterArea, area, sizeof area);
        input.resize(size_t(kWidth) * kHeight * 3 * bytes);
        output.assign(input.size(), 0xEE);
        mask.assign(size_t(kWidth) * kHeight, 255);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                for (int c = 0; c < 3; ++c)
                    setLevel(&input, y, x, c, (y * 31 + x * 7 + c * 3) % 32 + 1);
    }
    ~FakeHost() { g_host = nullptr; }

    int32_t rowBytes() const { return kWidth * 3 * bytes; }
    size_t at(int y, int x) const { return size_t(y) * rowBytes() + size_t(x) * 3 * bytes; }

    static int16_t advanceState() {
        FakeHost& host = *g_host;
        host.calls.push_back("advance");
        if (++host.advanceCalls == host.failAdvanceAt)
            return -1;
        const int16_t* in = host.record.inArea;
        const int16_t* out = host.record.outArea;
        const int16_t* m = host.record.maskArea;
        host.record.inData = host.input.data() + host.at(in[0], in[1]);
        host.record.inRowBytes = host.rowBytes();
        host.record.outData = host.output.data() + host.at(out[0], out[1]);
        host.record.outRowBytes = host.rowBytes();
        host.record.maskData = host.hasMask ? host.mask.data() + m[0] * kWidth + m[1] : nullptr;
        host.record.maskRowBytes = kWidth;
        return 0;
    }

    // Levels 0..32 in the depth's own range: bytes x 8 (capped), 16-bit x 1024, floats / 32.
    void setLevel(std::vector<uint8_t>* plane, int y, int x, int c, int level) {
        uint8_t* p = plane->data() + at(y, x) + size_t(c) * bytes;
        if (bytes == 1) {
            *p = uint8_t(std::min(255, level * 8));
        } else if (bytes == 2) {
            const uint16_t v = uint16_t(level * 1024);
            std::memcpy(p, &v, 2);
        } else {
            const float v = level / 32.0f;
            std::memcpy(p, &v, 4);
        }
    }
    // A sample as a fraction of the depth's white.
    double sample(const std::vector<uint8_t>& plane, int y, int x, int c) const {
        const uint8_t* p = plane.data() + at(y, x) + size_t(c) * bytes;
        if (bytes == 1)
            return *p / 255.0;
        if (bytes == 2) {
            uint16_t v;
            std::memcpy(&v, p, 2);
            return v / 32768.0;
        }
        float v;
        std::memcpy(&v, p, 4);
        return v;
    }
    static bool inside(int y, int x) { return y >= kTop && y < kBottom && x >= kLeft && x < kRight; }
};

// A pipeline that inverts every sample of the view, as 8 or 16 bits.
bool invertingPipeline(const ImageView& image, PipelineRun&) {
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            for (int c = 0; c < 3; ++c) {
                uint8_t* p = image.data[c] + size_t(y) * image.rowBytes + size_t(x) * image.bytesPerPixel;
                if (image.format == kImageFormat16) {
                    uint16_t v;
                    std::memcpy(&v, p, 2);
                    v = uint16_t(65535 - v);
                    std::memcpy(p, &v, 2);
                } else {
                    *p = uint8_t(255 - *p);
                }
            }
    return true;
}

class HostImageTest : public platform_test::PlatformFixture {
protected:
    // A fresh platform, so that no blocks of an earlier fake host stay in it.
    void renewPlatform() {
        platform->Release();
        platform = static_cast<VXLPlatformWin*>(VxlPlatformCreate("Test", modules.path().c_str(),
                                                                  scratch.path.c_str(), scratch.path.c_str(), 1, 0, 0));
        ASSERT_NE(platform, nullptr);
    }
    int process(FakeHost& host, const platform_test::Stack& stack, bool analyseAnew = false) {
        return platform->ProcessHostImage(&host.record, &stack.stack, analyseAnew, 1200, nullptr, nullptr);
    }
};

TEST_F(HostImageTest, ProcessWritesTheInvertedImageBackAtEveryDepthThroughTheMask) {
    platform->setPipelineFunction(invertingPipeline);
    for (int depth : {8, 16, 32})
        for (bool masked : {false, true}) {
            SCOPED_TRACE(testing::Message() << "depth " << depth << (masked ? " masked" : ""));
            FakeHost host(depth);
            host.hasMask = masked;
            // mask: 0 keeps the host's output, 255 takes the result, 128 blends
            host.mask[size_t(FakeHost::kTop) * FakeHost::kWidth + FakeHost::kLeft] = 0;
            host.mask[size_t(FakeHost::kTop) * FakeHost::kWidth + FakeHost::kLeft + 1] = 128;
            platform_test::Stack stack;
            ASSERT_EQ(process(host, stack), 0);
            EXPECT_TRUE(host.blocks.empty()) << "every host block is given back";
            ASSERT_FALSE(host.calls.empty());
            EXPECT_EQ(host.calls.front(), "progress");
            const std::vector<uint8_t> untouched(size_t(3) * host.bytes, 0xEE);
            for (int y = 0; y < FakeHost::kHeight; ++y)
                for (int x = 0; x < FakeHost::kWidth; ++x) {
                    const bool kept =
                        !FakeHost::inside(y, x) || (masked && y == FakeHost::kTop && x == FakeHost::kLeft);
                    const uint8_t* out = host.output.data() + host.at(y, x);
                    if (kept) {
                        EXPECT_EQ(0, std::memcmp(out, untouched.data(), untouched.size())) << y << "," << x;
                        continue;
                    }
                    const double blend = masked && y == FakeHost::kTop && x == FakeHost::kLeft + 1 ? 128 / 255.0 : 1;
                    for (int c = 0; c < 3; ++c) {
                        const double in = host.sample(host.input, y, x, c);
                        const double expected = (1 - in) * blend + in * (1 - blend);
                        EXPECT_NEAR(host.sample(host.output, y, x, c), expected, 1.5 / 255) << y << "," << x << "," << c;
                    }
                }
        }
}

TEST_F(HostImageTest, ProcessRendersTheLayerSetWithTheRealPipeline) {
    for (int depth : {8, 16}) {
        SCOPED_TRACE(depth);
        FakeHost host(depth);
        platform_test::Stack stack;
        stack.finishExposure(60);
        ASSERT_EQ(process(host, stack, true), 0);
        EXPECT_TRUE(host.blocks.empty());
        double before = 0, after = 0;
        for (int y = FakeHost::kTop; y < FakeHost::kBottom; ++y)
            for (int x = FakeHost::kLeft; x < FakeHost::kRight; ++x)
                for (int c = 0; c < 3; ++c) {
                    before += host.sample(host.input, y, x, c);
                    after += host.sample(host.output, y, x, c);
                }
        EXPECT_GT(after, before * 1.05);
        EXPECT_EQ(host.output[0], 0xEE);  // outside the filter area
    }
}

TEST_F(HostImageTest, ProcessFailuresLeaveTheHostOutputAlone) {
    platform->setPipelineFunction(invertingPipeline);
    struct Case {
        const char* name;
        int failAdvanceAt;
        bool refuseAllocation;
    } const cases[] = {{"read fails", 1, false}, {"write-back fails", 2, false}, {"no memory", 0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHost host(8);
        host.failAdvanceAt = c.failAdvanceAt;
        host.refuseAllocation = c.refuseAllocation;
        platform_test::Stack stack;
        EXPECT_EQ(process(host, stack), -1);
        EXPECT_EQ(host.output, std::vector<uint8_t>(host.output.size(), 0xEE));
        EXPECT_TRUE(host.blocks.empty());
    }
    EXPECT_EQ(platform->ProcessHostImage(nullptr, nullptr, 0, 1200, nullptr, nullptr), -1);
}

TEST_F(HostImageTest, ProcessSixteenBitRangeSurvivesTheRoundTrip) {
    // host white 32768 and 1 go to the platform's range and back unchanged when nothing renders
    platform->setPipelineFunction([](const ImageView&, PipelineRun&) { return true; });
    FakeHost host(16);
    const uint16_t white = 32768, one = 1;
    std::memcpy(host.input.data() + host.at(FakeHost::kTop, FakeHost::kLeft), &white, 2);
    std::memcpy(host.input.data() + host.at(FakeHost::kTop, FakeHost::kLeft) + 2, &one, 2);
    platform_test::Stack stack;
    ASSERT_EQ(process(host, stack), 0);
    for (int y = FakeHost::kTop; y < FakeHost::kBottom; ++y)
        EXPECT_EQ(0, std::memcmp(host.output.data() + host.at(y, FakeHost::kLeft),
                                 host.input.data() + host.at(y, FakeHost::kLeft), size_t(6) * 3 * 2));
}

TEST_F(HostImageTest, OpenCopiesTheHostImageIntoTheSourceBuffers) {
    for (int depth : {8, 16, 32}) {
        SCOPED_TRACE(depth);
        renewPlatform();
        FakeHost host(depth);
        ASSERT_EQ(platform->OpenHostImage(&host.record, nullptr, 1200, nullptr, nullptr, nullptr, nullptr), 0);
        EXPECT_TRUE(platform->hostMode());
        EXPECT_FALSE(platform->hostRecordHandOver());  // no large-document extension
        ImageView view{};
        ASSERT_EQ(platform->GetImage(&view, true, true), 0);
        ASSERT_EQ(view.width, 6);
        ASSERT_EQ(view.height, 4);
        const ImageBuffer& full = platform->buffer(kFullSource);
        ASSERT_NE(full.pixels, nullptr);
        EXPECT_NE(full.hostBufferId, 0u);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                for (int c = 0; c < 3; ++c) {
                    // B, G, R bytes of the host's R, G, B samples
                    const double in = host.sample(host.input, FakeHost::kTop + y, FakeHost::kLeft + x, 2 - c);
                    EXPECT_NEAR(full.pixels[size_t(y) * full.rowBytes + size_t(x) * 3 + c], in * 255, 1.0);
                }
        EXPECT_NE(platform->buffer(kPreviewSource).pixels, nullptr);
        EXPECT_NE(platform->buffer(kPreviewResult).pixels, nullptr);
        // opening again gives the earlier image's blocks back to the host
        const size_t held = host.blocks.size();
        ASSERT_EQ(platform->OpenHostImage(&host.record, nullptr, 1200, nullptr, nullptr, nullptr, nullptr), 0);
        EXPECT_EQ(host.blocks.size(), held);
        // and a processing run after it works on the session of the opening
        platform_test::Stack stack;
        EXPECT_EQ(process(host, stack), 0);
        EXPECT_EQ(host.blocks.size(), held);
    }
}

TEST_F(HostImageTest, ARecordWithoutTheExtensionEndsTheHandOverForGood) {
    FakeHost host(8);
    HostLargeDocument extension{};  // present, its 32-bit areas not in use
    host.record.largeDocument = &extension;
    platform_test::Stack stack;
    ASSERT_EQ(platform->OpenHostImage(&host.record, nullptr, 1200, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_TRUE(platform->hostRecordHandOver());
    host.record.largeDocument = nullptr;
    EXPECT_EQ(process(host, stack), 0);
    EXPECT_FALSE(platform->hostRecordHandOver());
    host.record.largeDocument = &extension;
    ASSERT_EQ(platform->OpenHostImage(&host.record, nullptr, 1200, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_FALSE(platform->hostRecordHandOver());
}

TEST_F(HostImageTest, OpenFailsOnAnEmptyAreaAFailedAdvanceOrARefusingHost) {
    struct Case {
        const char* name;
        int16_t right;
        int failAdvanceAt;
        bool refuseAllocation;
    } const cases[] = {{"no columns", FakeHost::kLeft, 0, false},
                       {"advance fails", FakeHost::kRight, 1, false},
                       {"no memory", FakeHost::kRight, 0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        renewPlatform();
        FakeHost host(8);
        host.record.filterArea[3] = c.right;
        host.failAdvanceAt = c.failAdvanceAt;
        host.refuseAllocation = c.refuseAllocation;
        EXPECT_EQ(platform->OpenHostImage(&host.record, nullptr, 1200, nullptr, nullptr, nullptr, nullptr), -1);
        EXPECT_EQ(platform->buffer(kPreviewSource).pixels, nullptr);
        EXPECT_TRUE(host.blocks.empty());
    }
}

}  // namespace
