// The platform's side of the host's filter record, driven by a fake host: a document at depth 8, 16
// or 32 with an optional selection mask, buffer procedures that keep a ledger of their blocks, and
// an advance-state routine that hands out the areas the record asks for.
#include "vizoruv/io/host_filter_record.h"
#include "vizoruv/io/image_geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct FakeHost;
FakeHost* g_host = nullptr;

struct FakeHost {
    static constexpr int kWidth = 10;   // the document; the filter area lies inside it
    static constexpr int kHeight = 8;

    HostFilterRecord record{};
    HostBufferProcs procs{};
    HostLargeDocument extension{};
    int bytes;                          // per sample
    std::vector<uint8_t> input, output, mask;
    bool hasMask = false;
    int advanceCalls = 0;
    int failAdvanceAt = 0;              // the advance-state call (from 1) that fails; 0: none
    bool refuseAllocation = false;
    bool refuseLock = false;
    int32_t reportedRowBytes = 0;       // row bytes the host reports; 0: the document's
    int reportedRows = 0;               // rows of the input and output areas it reports; 0: as asked
    std::map<uint64_t, std::vector<uint8_t>> blocks;
    std::map<uint64_t, int> locks;
    uint64_t nextId = 1;
    std::vector<std::string> calls;

    explicit FakeHost(int depth) : bytes(hostBytesPerSample(depth))
    {
        g_host = this;
        record.depth = depth;
        record.bufferProcs = &procs;
        record.advanceState = &FakeHost::advanceState;
        record.progress = [](int32_t done, int32_t total) { g_host->calls.push_back("progress"); };
        procs.allocate = [](int32_t size, uint64_t* id) -> int16_t {
            g_host->calls.push_back("allocate");
            if (g_host->refuseAllocation)
                return -108;
            *id = g_host->nextId++;
            g_host->blocks[*id].resize(size_t(size));
            return 0;
        };
        procs.lock = [](uint64_t id, uint8_t moveHigh) -> void* {
            g_host->calls.push_back("lock");
            EXPECT_EQ(moveHigh, 1);
            if (g_host->refuseLock)
                return nullptr;
            ++g_host->locks[id];
            return g_host->blocks.at(id).data();
        };
        procs.unlock = [](uint64_t id) {
            g_host->calls.push_back("unlock");
            --g_host->locks[id];
        };
        procs.free = [](uint64_t id) {
            g_host->calls.push_back("free");
            EXPECT_EQ(g_host->locks[id], 0);
            g_host->blocks.erase(id);
        };
        setArea(record.filterArea, {2, 3, 6, 9});  // 6 x 4 pixels at row 2, column 3
        input.resize(size_t(kWidth) * kHeight * 3 * bytes);
        output.assign(input.size(), 0xEE);
        mask.assign(size_t(kWidth) * kHeight, 255);
    }
    ~FakeHost() { g_host = nullptr; }

    static void setArea(int16_t* area, HostArea a)
    {
        area[0] = int16_t(a.top);
        area[1] = int16_t(a.left);
        area[2] = int16_t(a.bottom);
        area[3] = int16_t(a.right);
    }
    int32_t rowBytes() const { return kWidth * 3 * bytes; }
    size_t at(int row, int column) const { return size_t(row) * rowBytes() + size_t(column) * 3 * bytes; }

    static int16_t advanceState()
    {
        FakeHost& host = *g_host;
        host.calls.push_back("advance");
        if (++host.advanceCalls == host.failAdvanceAt)
            return -1;
        HostRecordAreas areas = host.areas();
        host.record.inData = host.input.data() + host.at(areas.in.top, areas.in.left);
        host.record.inRowBytes = host.rowBytes();
        host.record.outData = host.output.data() + host.at(areas.out.top, areas.out.left);
        host.record.outRowBytes = host.rowBytes();
        host.record.maskData = host.hasMask ? host.mask.data() + areas.mask.top * kWidth + areas.mask.left : nullptr;
        host.record.maskRowBytes = kWidth;
        if (host.reportedRowBytes)
            host.record.inRowBytes = host.record.outRowBytes = host.reportedRowBytes;
        if (host.reportedRows) {
            areas.in.bottom = areas.in.top + host.reportedRows;
            areas.out.bottom = areas.out.top + host.reportedRows;
            setInRect(&host.record, areas.in);
            setOutRect(&host.record, areas.out);
        }
        return 0;
    }

    struct HostRecordAreas {
        HostArea in, out, mask;
    };
    HostRecordAreas areas() const
    {
        const int16_t* m = record.maskArea;
        return {getInRect(&record), getOutRect(&record), {m[0], m[1], m[2], m[3]}};
    }

    // A sample value that differs per document position and channel, within the depth's range.
    void fillInput()
    {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                for (int c = 0; c < 3; ++c)
                    setSample(&input, y, x, c, (y * 31 + x * 7 + c * 3) % 32);
    }
    void setSample(std::vector<uint8_t>* plane, int y, int x, int c, int level)  // level 0..32
    {
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
};

std::vector<std::string> drain(FakeHost& host)
{
    std::vector<std::string> calls;
    calls.swap(host.calls);
    return calls;
}

TEST(HostFilterRecordTest, AreaAccessorsReadAndWriteTheRecordsFields)
{
    FakeHost host(8);
    const HostArea filter = getFilterRect(&host.record);
    EXPECT_EQ(filter.top, 2);
    EXPECT_EQ(filter.right, 9);
    setInRect(&host.record, {1, 2, 3, 4});
    setOutRect(&host.record, {5, 6, 7, 8});
    setMaskRect(&host.record, {9, 10, 11, 12});
    EXPECT_EQ(host.record.inArea[3], 4);
    EXPECT_EQ(host.record.outArea[0], 5);
    EXPECT_EQ(host.record.maskArea[1], 10);

    // In use, the large-document extension's 32-bit areas take over.
    host.record.largeDocument = &host.extension;
    host.extension.wideCoordinates = 1;
    host.extension.filterArea[3] = 70000;
    EXPECT_EQ(getFilterRect(&host.record).right, 70000);
    setOutRect(&host.record, {0, 0, 40000, 50000});
    EXPECT_EQ(host.extension.outArea[3], 50000);
    EXPECT_EQ(host.record.outArea[3], 8);
}

TEST(HostFilterRecordTest, HostSizedBuffersComeFromTheHostAtEveryDepth)
{
    for (int depth : {8, 16, 32}) {
        SCOPED_TRACE(depth);
        FakeHost host(depth);
        ImageBuffer buffer;
        ASSERT_TRUE(allocHostSizedBuffer(&host.record, &buffer));
        EXPECT_EQ(buffer.width, 6);
        EXPECT_EQ(buffer.height, 4);
        EXPECT_EQ(buffer.size, 6 * 4 * 3 * host.bytes);
        EXPECT_EQ(buffer.rowBytes, 6 * 3 * host.bytes);
        EXPECT_NE(buffer.hostBufferId, 0u);
        EXPECT_EQ(buffer.globalHandle, nullptr);
        EXPECT_EQ(buffer.pixels, host.blocks.at(buffer.hostBufferId).data());
        EXPECT_EQ(drain(host), (std::vector<std::string>{"allocate", "lock"}));

        freeHostBufferPixels(&host.record, &buffer);
        EXPECT_EQ(drain(host), (std::vector<std::string>{"unlock", "free"}));
        EXPECT_TRUE(host.blocks.empty());
        EXPECT_EQ(buffer.pixels, nullptr);
        EXPECT_EQ(buffer.hostBufferId, 0u);
        EXPECT_EQ(buffer.width, 6);  // the geometry stays
    }
}

TEST(HostFilterRecordTest, RefusedOrEmptyAllocationsLeaveNothingBehind)
{
    FakeHost host(8);
    ImageBuffer buffer;
    host.refuseAllocation = true;
    EXPECT_FALSE(allocHostSizedBuffer(&host.record, &buffer));
    host.refuseAllocation = false;
    host.refuseLock = true;  // an id that cannot be locked is given back
    EXPECT_FALSE(allocHostSizedBuffer(&host.record, &buffer));
    EXPECT_TRUE(host.blocks.empty());
    EXPECT_EQ(buffer.pixels, nullptr);
    host.refuseLock = false;

    FakeHost::setArea(host.record.filterArea, {4, 4, 4, 9});  // no rows
    EXPECT_FALSE(allocHostSizedBuffer(&host.record, &buffer));
    EXPECT_FALSE(allocHostSizedBuffer(nullptr, &buffer));
    EXPECT_TRUE(host.blocks.empty());
}

TEST(HostFilterRecordTest, InputOfTheFilterAreaArrivesAtTheHostsDepth)
{
    for (int depth : {8, 16, 32}) {
        SCOPED_TRACE(depth);
        FakeHost host(depth);
        host.fillInput();
        ImageBuffer buffer;
        ASSERT_TRUE(allocHostSizedBuffer(&host.record, &buffer));
        ASSERT_TRUE(readHostInput(&host.record, &buffer));
        EXPECT_EQ(host.record.inputRate, kHostRateOne);
        EXPECT_EQ(host.record.maskRate, kHostRateOne);
        EXPECT_EQ(host.record.inLoPlane, 0);
        EXPECT_EQ(host.record.inHiPlane, 2);
        EXPECT_EQ(getOutRect(&host.record).left, 3);
        for (int y = 0; y < 4; ++y)
            EXPECT_EQ(std::memcmp(buffer.pixels + y * buffer.rowBytes, host.input.data() + host.at(2 + y, 3),
                                  size_t(buffer.rowBytes)),
                      0);
        freeHostBufferPixels(&host.record, &buffer);
    }

    FakeHost failing(8);
    failing.fillInput();
    failing.failAdvanceAt = 1;
    ImageBuffer buffer;
    ASSERT_TRUE(allocHostSizedBuffer(&failing.record, &buffer));
    EXPECT_FALSE(readHostInput(&failing.record, &buffer));
    EXPECT_EQ(std::count(buffer.pixels, buffer.pixels + buffer.size, 0), buffer.size);
    freeHostBufferPixels(&failing.record, &buffer);
}

TEST(HostFilterRecordTest, SixteenBitSamplesRoundTripThroughThePlatformsRange)
{
    FakeHost host(16);
    const uint16_t hostValues[] = {0, 1, 2, 16384, 32767, 32768};
    const uint16_t fullValues[] = {0, 2, 4, 32768, 65534, 65535};
    std::vector<uint16_t> samples(hostValues, hostValues + 6);
    hostToFull16(&host.record, reinterpret_cast<uint8_t*>(samples.data()), 2, 1, 12);
    EXPECT_EQ(samples, std::vector<uint16_t>(fullValues, fullValues + 6));

    // fullToHost16 works on the output data over the filter area's rows and planes.
    host.record.outData = reinterpret_cast<uint8_t*>(samples.data());
    host.record.outRowBytes = 12;
    host.record.outLoPlane = 0;
    host.record.outHiPlane = 2;
    FakeHost::setArea(host.record.filterArea, {0, 0, 1, 2});
    fullToHost16(&host.record);
    EXPECT_EQ(samples, std::vector<uint16_t>(hostValues, hostValues + 6));

    // Other depths are left alone.
    FakeHost eight(8);
    hostToFull16(&eight.record, reinterpret_cast<uint8_t*>(samples.data()), 2, 1, 12);
    EXPECT_EQ(samples, std::vector<uint16_t>(hostValues, hostValues + 6));
}

TEST(HostFilterRecordTest, TwentyFourBitCopiesOfHostSamples)
{
    struct Case {
        int depth;
        std::vector<uint8_t> pixel;  // one host pixel R, G, B
        uint8_t blue, green, red;
    };
    auto u16 = [](uint16_t r, uint16_t g, uint16_t b) {
        std::vector<uint8_t> v(6);
        std::memcpy(v.data(), &r, 2);
        std::memcpy(v.data() + 2, &g, 2);
        std::memcpy(v.data() + 4, &b, 2);
        return v;
    };
    auto f32 = [](float r, float g, float b) {
        std::vector<uint8_t> v(12);
        std::memcpy(v.data(), &r, 4);
        std::memcpy(v.data() + 4, &g, 4);
        std::memcpy(v.data() + 8, &b, 4);
        return v;
    };
    const Case cases[] = {
        {8, {10, 20, 30}, 30, 20, 10},
        {16, u16(32768, 1, 16384), 127, 0, 255},
        {32, f32(1.5f, 0.5f, -1.0f), 0, 127, 255},
        {32, f32(std::nanf(""), 0.999f, 0.0f), 0, 254, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.depth);
        wic::Bitmap bitmap;
        ASSERT_TRUE(wic::allocateBitmap(&bitmap, wic::PixelFormat::Bgr24, 1, 1));
        copyHostSamplesToBgr24(c.depth, c.pixel.data(), int32_t(c.pixel.size()), &bitmap);
        EXPECT_EQ(bitmap.pixels[0], c.blue);
        EXPECT_EQ(bitmap.pixels[1], c.green);
        EXPECT_EQ(bitmap.pixels[2], c.red);
    }
}

TEST(HostFilterRecordTest, FetchingTheHostImageForOpening)
{
    for (int depth : {8, 16, 32}) {
        SCOPED_TRACE(depth);
        FakeHost host(depth);
        host.fillInput();
        wic::Bitmap bitmap;
        ASSERT_TRUE(fetchHostImage(&host.record, &bitmap));
        EXPECT_EQ(bitmap.width, 6u);
        EXPECT_EQ(bitmap.height, 4u);
        EXPECT_EQ(host.record.outLoPlane, 0);
        EXPECT_EQ(host.record.outHiPlane, 2);
        EXPECT_EQ(host.record.inputRate, kHostRateOne);
        // The last pixel's red (document row 5, column 8) is level (5*31 + 8*7) % 32 = 19.
        const uint8_t red = bitmap.pixels[3 * bitmap.stride + 5 * 3 + 2];
        EXPECT_NEAR(red, 19 * 255 / 32.0, 1.5);
    }

    // With the large-document extension in use, the rates are written as 1 and the output planes
    // are left alone.
    FakeHost wide(8);
    wide.record.largeDocument = &wide.extension;
    wide.extension.wideCoordinates = 1;
    wide.extension.filterArea[0] = 0;
    wide.extension.filterArea[1] = 0;
    wide.extension.filterArea[2] = 4;
    wide.extension.filterArea[3] = 6;
    wide.record.outLoPlane = 7;
    wide.record.outHiPlane = 7;
    wic::Bitmap bitmap;
    ASSERT_TRUE(fetchHostImage(&wide.record, &bitmap));
    EXPECT_EQ(wide.record.inputRate, 1);
    EXPECT_EQ(wide.record.maskRate, 1);
    EXPECT_EQ(wide.record.outLoPlane, 7);
    EXPECT_EQ(wide.extension.inArea[3], 6);

    FakeHost empty(8);
    FakeHost::setArea(empty.record.filterArea, {2, 3, 6, 3});
    EXPECT_FALSE(fetchHostImage(&empty.record, &bitmap));
    EXPECT_EQ(empty.advanceCalls, 0);
    FakeHost failing(8);
    failing.failAdvanceAt = 1;
    EXPECT_FALSE(fetchHostImage(&failing.record, &bitmap));
}

TEST(HostFilterRecordTest, OpeningFillsTheSourceBuffersInHostMemory)
{
    wic::Bitmap image;
    ASSERT_TRUE(wic::allocateBitmap(&image, wic::PixelFormat::Bgr24, 30, 20));
    for (uint32_t y = 0; y < 20; ++y)
        for (uint32_t x = 0; x < 30; ++x) {
            uint8_t* p = image.pixels.data() + y * image.stride + x * 3;
            p[0] = 40;
            p[1] = 90;
            p[2] = 200;
        }

    FakeHost host(8);
    ImageBuffer full, preview;
    fillHostSourceBuffers(&host.record, image, 12, &full, &preview);
    EXPECT_EQ(host.blocks.size(), 2u);
    EXPECT_EQ(full.width, 30);
    EXPECT_EQ(full.rowBytes, 92);
    EXPECT_EQ(full.size, 92 * 20);
    EXPECT_EQ(full.channels, 3);
    EXPECT_NE(full.hostBufferId, 0u);
    EXPECT_EQ(std::memcmp(full.pixels + 19 * 92, image.pixels.data() + 19 * image.stride, 90), 0);
    EXPECT_EQ(preview.width, 12);
    EXPECT_EQ(preview.height, 8);
    EXPECT_EQ(preview.rowBytes, 36);
    const uint8_t* last = preview.pixels + 7 * 36 + 11 * 3;  // a uniform picture stays uniform
    EXPECT_EQ(last[0], 40);
    EXPECT_EQ(last[1], 90);
    EXPECT_EQ(last[2], 200);
    freeHostBufferPixels(&host.record, &full);
    freeHostBufferPixels(&host.record, &preview);

    // A preview size above the picture's keeps it whole; a refusing host leaves the buffers empty.
    fillHostSourceBuffers(&host.record, image, 1200, &full, &preview);
    EXPECT_EQ(preview.width, 30);
    EXPECT_EQ(std::memcmp(preview.pixels, full.pixels, size_t(full.size)), 0);
    freeHostBufferPixels(&host.record, &full);
    freeHostBufferPixels(&host.record, &preview);
    host.refuseAllocation = true;
    fillHostSourceBuffers(&host.record, image, 12, &full, &preview);
    EXPECT_EQ(full.pixels, nullptr);
    EXPECT_EQ(preview.pixels, nullptr);
    EXPECT_EQ(preview.width, 12);
    EXPECT_TRUE(host.blocks.empty());
}

// A host-sized result whose every sample is `value` (in the platform's range at depth 16).
ImageBuffer uniformResult(FakeHost& host, uint32_t value)
{
    ImageBuffer result;
    EXPECT_TRUE(allocHostSizedBuffer(&host.record, &result));
    for (int32_t i = 0; i < result.size / host.bytes; ++i) {
        if (host.bytes == 1)
            result.pixels[i] = uint8_t(value);
        else if (host.bytes == 2)
            std::memcpy(result.pixels + 2 * i, &value, 2);
        else
            std::memcpy(result.pixels + 4 * i, &value, 4);
    }
    return result;
}

TEST(HostFilterRecordTest, ResultsGoBackIntoTheOutputAtEveryDepth)
{
    struct Case {
        int depth;
        uint32_t result;      // each sample of the rendered buffer
        uint32_t written;     // what the host's output then holds
    };
    uint32_t half;
    const float halfFloat = 0.5f;
    std::memcpy(&half, &halfFloat, 4);
    for (const Case& c : {Case{8, 200, 200}, Case{16, 65535, 32768}, Case{16, 1001, 500}, Case{32, half, half}}) {
        SCOPED_TRACE(c.depth);
        FakeHost host(c.depth);
        ImageBuffer result = uniformResult(host, c.result);
        ASSERT_TRUE(writeHostResult(&host.record, result));
        for (int y = 0; y < FakeHost::kHeight; ++y) {
            for (int x = 0; x < FakeHost::kWidth; ++x) {
                uint32_t sample = 0;
                std::memcpy(&sample, host.output.data() + host.at(y, x) + host.bytes, size_t(host.bytes));
                const bool inside = y >= 2 && y < 6 && x >= 3 && x < 9;
                const uint32_t untouched = host.bytes == 1 ? 0xEE : host.bytes == 2 ? 0xEEEE : 0xEEEEEEEE;
                ASSERT_EQ(sample, inside ? c.written : untouched) << y << "," << x;
            }
        }
        freeHostBufferPixels(&host.record, &result);
    }
}

TEST(HostFilterRecordTest, TheSelectionMaskBlendsResultOverInput)
{
    struct Case {
        int depth;
        uint8_t maskByte;
        uint32_t result, input;  // result in the platform's range, input in the host's
        uint32_t written;        // 0xEE...: the host's output pixel is kept
    };
    const Case cases[] = {
        {8, 255, 200, 10, 200},   {8, 0, 200, 10, 0xEE},        {8, 128, 255, 0, 128},
        {16, 255, 65535, 0, 32768}, {16, 128, 65535, 0, 16448}, {16, 0, 65535, 0, 0xEEEE},
        {32, 255, 0, 0, 0xEEEEEEEE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.depth << " mask " << int(c.maskByte));
        FakeHost host(c.depth);
        host.hasMask = true;
        host.record.maskData = host.mask.data();  // as the input was read
        std::fill(host.mask.begin(), host.mask.end(), c.maskByte);
        for (size_t i = 0; i < host.input.size() / host.bytes; ++i)
            std::memcpy(host.input.data() + i * host.bytes, &c.input, size_t(host.bytes));
        ImageBuffer result = uniformResult(host, c.result);
        ASSERT_TRUE(writeHostResult(&host.record, result));
        EXPECT_EQ(host.record.inLoPlane, 0);
        EXPECT_EQ(host.record.inHiPlane, 2);
        uint32_t sample = 0;
        std::memcpy(&sample, host.output.data() + host.at(3, 4), size_t(host.bytes));
        EXPECT_EQ(sample, c.written);
        freeHostBufferPixels(&host.record, &result);
    }
}

TEST(HostFilterRecordTest, AFailedAdvanceOrAMisfitLeavesTheOutputUntouched)
{
    FakeHost host(8);
    ImageBuffer result = uniformResult(host, 200);
    host.failAdvanceAt = 1;
    EXPECT_FALSE(writeHostResult(&host.record, result));

    // An output area larger than the rendered buffer is not written past the buffer.
    host.failAdvanceAt = 0;
    host.record.largeDocument = &host.extension;
    host.extension.wideCoordinates = 1;
    host.extension.filterArea[2] = 8;
    host.extension.filterArea[3] = 10;
    EXPECT_FALSE(writeHostResult(&host.record, result));
    EXPECT_EQ(std::count(host.output.begin(), host.output.end(), 0xEE), ptrdiff_t(host.output.size()));
    freeHostBufferPixels(&host.record, &result);
}

// A host that reports handing over less than the areas need (short rows, fewer rows than asked)
// is refused: nothing is read or written past what it gave.
TEST(HostFilterRecordTest, AHostThatHandsOverLessIsNotReadOrWrittenPast)
{
    {
        FakeHost host(16);
        host.fillInput();
        host.reportedRowBytes = 2 * 3 * host.bytes;  // rows of 2 pixels for an area 6 wide
        wic::Bitmap image;
        EXPECT_FALSE(fetchHostImage(&host.record, &image));
        ImageBuffer buffer;
        ASSERT_TRUE(allocHostSizedBuffer(&host.record, &buffer));
        EXPECT_FALSE(readHostInput(&host.record, &buffer));
        freeHostBufferPixels(&host.record, &buffer);
        ImageBuffer result = uniformResult(host, 200);
        EXPECT_FALSE(writeHostResult(&host.record, result));
        EXPECT_EQ(std::count(host.output.begin(), host.output.end(), 0xEE), ptrdiff_t(host.output.size()));
        freeHostBufferPixels(&host.record, &result);
    }
    {
        FakeHost host(16);
        host.fillInput();
        host.reportedRows = 2;  // of the 4 asked
        wic::Bitmap image;
        EXPECT_FALSE(fetchHostImage(&host.record, &image));
        ImageBuffer result = uniformResult(host, 200);
        EXPECT_FALSE(writeHostResult(&host.record, result));
        EXPECT_EQ(std::count(host.output.begin(), host.output.end(), 0xEE), ptrdiff_t(host.output.size()));
        freeHostBufferPixels(&host.record, &result);
    }
}

TEST(HostFilterRecordTest, ACorrectionRunCallsTheHostInOrder)
{
    FakeHost host(16);
    host.fillInput();
    host.record.progress(0, 10);
    ImageBuffer buffer;
    ASSERT_TRUE(allocHostSizedBuffer(&host.record, &buffer));
    ASSERT_TRUE(readHostInput(&host.record, &buffer));
    hostToFull16(&host.record, buffer.pixels, buffer.width, buffer.height, buffer.rowBytes);
    ASSERT_TRUE(writeHostResult(&host.record, buffer));  // an unchanged render
    freeHostBufferPixels(&host.record, &buffer);
    EXPECT_EQ(drain(host),
              (std::vector<std::string>{"progress", "allocate", "lock", "advance", "advance", "unlock", "free"}));
    for (int y = 2; y < 6; ++y)
        EXPECT_EQ(std::memcmp(host.output.data() + host.at(y, 3), host.input.data() + host.at(y, 3), 6 * 3 * 2), 0);
    EXPECT_TRUE(host.blocks.empty());
}

TEST(HostFilterRecordTest, BufferGeometry)
{
    struct Case {
        int depth;             // 0: no record
        uint8_t bits;
        int32_t format, rowBytes, bytesPerPixel, step;
    };
    for (const Case& c : {Case{8, 8, 0, 30, 3, 1}, Case{16, 8, 1, 60, 6, 2}, Case{32, 8, 0, 120, 12, 1},
                          Case{0, 8, 0, 44, 4, 1}, Case{0, 16, 1, 44, 8, 2}}) {
        SCOPED_TRACE(c.depth);
        FakeHost host(c.depth ? c.depth : 8);
        ImageBuffer buffer;
        uint8_t pixels[16];
        buffer.pixels = pixels;
        buffer.width = 10;
        buffer.height = 3;
        buffer.rowBytes = 44;
        buffer.channels = 4;
        buffer.bitsPerChannel = c.bits;
        const ImageView view = bufferGeometry(c.depth ? &host.record : nullptr, buffer);
        EXPECT_EQ(view.format, c.format);
        EXPECT_EQ(view.width, 10);
        EXPECT_EQ(view.height, 3);
        EXPECT_EQ(view.rowBytes, c.rowBytes);
        EXPECT_EQ(view.bytesPerPixel, c.bytesPerPixel);
        EXPECT_EQ(view.data[0], pixels);
        EXPECT_EQ(view.data[1], pixels + c.step);
        EXPECT_EQ(view.data[2], pixels + 2 * c.step);
    }
}

TEST(HostFilterRecordTest, PreviewSizes)
{
    struct Case {
        int32_t width, height, previewWidth, previewHeight;
    };
    for (const Case& c : {Case{4000, 3000, 1200, 900}, Case{3000, 4000, 900, 1200}, Case{2000, 2000, 1200, 1200},
                          Case{800, 600, 800, 600}, Case{1201, 3, 1200, 2}}) {
        int32_t w = 0, h = 0;
        hostPreviewSize(1200, c.width, c.height, &w, &h);
        EXPECT_EQ(w, c.previewWidth) << c.width << "x" << c.height;
        EXPECT_EQ(h, c.previewHeight) << c.width << "x" << c.height;
    }
}

// A host whose display shows the negative: each pixel's planes inverted into the section as
// B, G, R, bottom-up.
int16_t negativeDisplay(const HostPixelMap* map, const int32_t*, int32_t, int32_t, void* context)
{
    auto* section = static_cast<DibTileHolder*>(context);
    const int32_t tileWidth = map->bounds[3], tileHeight = map->bounds[2];
    for (int32_t row = 0; row < tileHeight; ++row) {
        uint8_t* out = section->bits.data() + size_t(tileHeight - 1 - row) * section->rowBytes;
        for (int32_t column = 0; column < tileWidth; ++column, out += 3) {
            const uint8_t* red = map->baseAddress + size_t(row) * tileWidth + column;
            for (int plane = 0; plane < 3; ++plane)
                out[2 - plane] = uint8_t(255 - red[plane * map->planeBytes]);
        }
    }
    return 0;
}

TEST(HostFilterRecordTest, TheDisplayCopyIsAllocatedThroughTheHost)
{
    FakeHost host(8);
    host.record.displayPixels = negativeDisplay;
    // A 24-bit B, G, R source of 300 x 5 pixels (two tiles across).
    std::vector<uint8_t> pixels(size_t(int32_t(rowStride(300, 24))) * 5);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(i * 13);
    ImageBuffer source;
    source.pixels = pixels.data();
    source.size = int32_t(pixels.size());
    source.bitsPerChannel = 8;
    source.channels = 3;
    source.width = 300;
    source.height = 5;
    source.rowBytes = int32_t(rowStride(300, 24));

    std::mutex lock;
    DibTileHolder holder;
    ImageBuffer copy;
    ASSERT_TRUE(makeHostDisplayCopy(&host.record, source, lock, &holder, &copy));
    EXPECT_NE(copy.hostBufferId, 0u);
    EXPECT_EQ(copy.globalHandle, nullptr);
    EXPECT_EQ(host.blocks.size(), 1u);
    EXPECT_EQ(copy.channels, 3);
    EXPECT_EQ(copy.bitsPerChannel, 8);
    EXPECT_EQ(copy.width, 300);
    EXPECT_EQ(copy.rowBytes, source.rowBytes);
    for (int y = 0; y < 5; ++y)
        for (int i = 0; i < 900; ++i)
            ASSERT_EQ(copy.pixels[y * copy.rowBytes + i], 255 - pixels[y * source.rowBytes + i]) << y << "," << i;

    // Again into the same block; a target of another size is refused.
    ASSERT_TRUE(makeHostDisplayCopy(&host.record, source, lock, &holder, &copy));
    EXPECT_EQ(host.blocks.size(), 1u);
    source.height = 4;
    EXPECT_FALSE(makeHostDisplayCopy(&host.record, source, lock, &holder, &copy));
    host.record.displayPixels = nullptr;
    EXPECT_FALSE(makeHostDisplayCopy(&host.record, source, lock, &holder, &copy));

    freeHostBufferPixels(&host.record, &copy);
    EXPECT_TRUE(host.blocks.empty());
}

} // namespace
