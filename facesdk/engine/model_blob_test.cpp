#include "facesdk/engine/model_blob.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/engine/inner_engine.h"

namespace {

// Writes codes most significant bit first, as a blob with its header.
struct StreamWriter {
    std::vector<uint8_t> bytes{2, 0, 0, 0, 0, 0, 0, 0};
    uint64_t buffer = 0;
    uint32_t bits = 0;

    StreamWriter &code(uint32_t value, uint32_t width)
    {
        buffer = buffer << width | value;
        bits += width;
        while (bits >= 8) {
            bits -= 8;
            bytes.push_back(uint8_t(buffer >> bits));
        }
        return *this;
    }
    std::vector<uint8_t> blob()
    {
        std::vector<uint8_t> out = bytes;
        if (bits)
            out.push_back(uint8_t(buffer << (8 - bits)));
        const uint32_t count = uint32_t(out.size() - 8);
        std::memcpy(out.data() + 4, &count, 4);
        return out;
    }
};

// Decodes a blob; the bytes come back as a vector, or nothing on failure.
struct Decoded {
    bool ok = false;
    std::vector<uint8_t> bytes;
};

Decoded decode(CountingAllocator &counter, const std::vector<uint8_t> &blob)
{
    uint8_t *array = unpackModelBlob(counter.allocator(), blob.data(), blob.size());
    Decoded out;
    if (array) {
        out.ok = true;
        out.bytes.assign(array, array + byteArrayCapacity(array));
        byteArrayFree(counter.allocator(), array);
    }
    return out;
}

std::vector<uint8_t> patterned(size_t length, unsigned seed)
{
    // Runs and noise, so strings of every length turn up.
    std::mt19937 random(seed);
    std::vector<uint8_t> data(length);
    for (size_t i = 0; i < length;) {
        const size_t run = 1 + random() % 40;
        const uint8_t value = uint8_t(random() % (random() % 3 ? 8 : 256));
        for (size_t k = 0; k < run && i < length; ++k, ++i)
            data[i] = random() % 5 ? value : uint8_t(random());
    }
    return data;
}

}  // namespace

TEST(ModelBlob, PackUnpackRoundTripsAcrossWidthsAndResets)
{
    struct Case {
        size_t length;
        uint32_t clearEvery;
    };
    // Short streams stay at 9 bits; 400 KB of mixed data reaches 16 bits and fills the
    // dictionary, so the packer clears it; clearEvery forces resets in mid-stream.
    const Case cases[] = {{0, 0}, {1, 0}, {2, 0}, {300, 0}, {5000, 0}, {400000, 0}, {20000, 100},
                          {20000, 1}};
    CountingAllocator counter;
    for (const Case &c : cases) {
        const std::vector<uint8_t> data = patterned(c.length, unsigned(c.length));
        const std::vector<uint8_t> blob = lzwPack(data.data(), data.size(), c.clearEvery);
        const Decoded decoded = decode(counter, blob);
        ASSERT_TRUE(decoded.ok) << c.length;
        EXPECT_EQ(decoded.bytes, data) << c.length;
    }
    // Noise makes about one code per byte: 150 000 of them pass 16 bits and two full
    // dictionaries.
    std::mt19937 random(1);
    std::vector<uint8_t> noise(150000);
    for (auto &b : noise)
        b = uint8_t(random());
    const std::vector<uint8_t> blob = lzwPack(noise.data(), noise.size());
    EXPECT_GT(blob.size(), 150000u);
    const Decoded decoded = decode(counter, blob);
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.bytes, noise);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

TEST(ModelBlob, HandMadeStreams)
{
    CountingAllocator counter;
    // A code naming the entry the previous code made ("a" then "aa") decodes...
    Decoded kwk = decode(counter, StreamWriter().code('a', 9).code(258, 9).code(257, 9).blob());
    ASSERT_TRUE(kwk.ok);
    EXPECT_EQ(kwk.bytes, std::vector<uint8_t>({'a', 'a', 'a'}));
    // ...one naming the next free code does not.
    EXPECT_FALSE(decode(counter, StreamWriter().code('a', 9).code(259, 9).code(257, 9).blob()).ok);
    // A clear restarts at 9 bits and forgets the entries.
    Decoded cleared = decode(counter, StreamWriter()
                                          .code('x', 9).code('y', 9).code(256, 9)
                                          .code('z', 9).code(258, 9).code(257, 9).blob());
    ASSERT_TRUE(cleared.ok);
    EXPECT_EQ(cleared.bytes, std::vector<uint8_t>({'x', 'y', 'z', 'z', 'z'}));
    // Only the end code: an empty record.
    Decoded empty = decode(counter, StreamWriter().code(257, 9).blob());
    ASSERT_TRUE(empty.ok);
    EXPECT_TRUE(empty.bytes.empty());
    // No code bytes at all, and a stream without its end code.
    EXPECT_FALSE(decode(counter, StreamWriter().blob()).ok);
    EXPECT_FALSE(decode(counter, StreamWriter().code('a', 9).code('b', 9).blob()).ok);

    // Codes that never clear take the width past 16 bits.
    StreamWriter endless;
    uint32_t next = 258, width = 9;
    while (width <= 16) {
        endless.code('q', width);
        if (++next == (1u << width))
            ++width;
    }
    endless.code(257, 16);
    EXPECT_FALSE(decode(counter, endless.blob()).ok);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

TEST(ModelBlob, TruncatedAndCorruptBlobsAreRefused)
{
    CountingAllocator counter;
    const std::vector<uint8_t> data = patterned(3000, 5);
    const std::vector<uint8_t> blob = lzwPack(data.data(), data.size());

    // The header's count must fit in what was given.
    EXPECT_EQ(unpackModelBlob(counter.allocator(), blob.data(), blob.size() - 1), nullptr);
    EXPECT_EQ(unpackModelBlob(counter.allocator(), blob.data(), 7), nullptr);
    EXPECT_EQ(unpackModelBlob(counter.allocator(), nullptr, 100), nullptr);

    // Every shortened stream (its count patched to match) lacks its end code. Each is copied
    // into a buffer of exactly its length so that a read past it would be a heap overflow.
    for (size_t cut = 1; cut < blob.size() - 8; cut += 7) {
        std::vector<uint8_t> shortened(blob.begin(), blob.end() - long(cut));
        const uint32_t count = uint32_t(shortened.size() - 8);
        std::memcpy(shortened.data() + 4, &count, 4);
        EXPECT_FALSE(decode(counter, shortened).ok) << cut;
    }
    // Flipped bytes either fail or decode to something; never more than the stream allows.
    std::mt19937 random(9);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> corrupt = blob;
        corrupt[8 + random() % (corrupt.size() - 8)] ^= uint8_t(1 + random() % 255);
        decode(counter, corrupt);
    }
    EXPECT_EQ(counter.liveBlocks(), 0u);
    EXPECT_EQ(counter.badFrees, 0);
}

TEST(ModelBlob, ByteArrayResizeKeepsHeaderAndZeroFills)
{
    CountingAllocator counter;
    uint8_t *array = byteArrayCreate(counter.allocator(), 6, 3);
    ASSERT_NE(array, nullptr);
    for (int i = 0; i < 18; ++i)
        array[i] = uint8_t(i + 1);
    array = byteArrayResize(counter.allocator(), array, 5);
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(byteArrayHeader(array)->elementSize, 6u);
    EXPECT_EQ(byteArrayCapacity(array), 5u);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(array[i], i < 18 ? i + 1 : 0);
    array = byteArrayResize(counter.allocator(), array, 2);
    EXPECT_EQ(array[11], 12);
    byteArrayFree(counter.allocator(), array);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

TEST(ModelBlob, LoadTemplateImagesAndMirror)
{
    CountingAllocator counter;
    InnerEngine inner{};
    inner.allocator = counter.allocator();
    const uint8_t picture[6] = {1, 2, 3, 4, 5, 6};
    const uint8_t maskBytes[6] = {10, 20, 30, 40, 50, 60};

    const std::vector<uint8_t> both = makeTemplateRecord(3, 2, picture, maskBytes);
    EngineImage pic{}, mask{};
    ASSERT_EQ(loadTemplateImages(&inner, both.data(), uint32_t(both.size()), &pic, &mask),
              kResultOk);
    EXPECT_EQ(pic.format, kFormatGrey8);
    EXPECT_EQ(pic.planes[0].pixels[4], 5);
    EXPECT_EQ(mask.planes[0].pixels[2 * 0 + mask.planes[0].stride + 2], 60);

    // An output that already holds an image is left alone and counts as nothing filled.
    uint8_t *kept = pic.planes[0].pixels;
    EXPECT_EQ(loadTemplateImages(&inner, both.data(), uint32_t(both.size()), &pic, nullptr),
              kResultNothingToDo);
    EXPECT_EQ(pic.planes[0].pixels, kept);

    // Mask-only records put the mask at offset 16; the picture output is cleared.
    const std::vector<uint8_t> maskOnly = makeTemplateRecord(3, 2, nullptr, maskBytes);
    EngineImage pic2{}, mask2{};
    pic2.width = 99;  // not a valid image: zeroed
    ASSERT_EQ(loadTemplateImages(&inner, maskOnly.data(), uint32_t(maskOnly.size()), &pic2, &mask2),
              kResultOk);
    EXPECT_EQ(pic2.width, 0);
    EXPECT_EQ(mask2.planes[0].pixels[0], 10);

    const std::vector<uint8_t> neither = makeTemplateRecord(3, 2, nullptr, nullptr);
    EngineImage unused{};
    EXPECT_EQ(loadTemplateImages(&inner, neither.data(), uint32_t(neither.size()), &unused,
                                 &unused),
              kResultNothingToDo);
    EXPECT_EQ(loadTemplateImages(&inner, nullptr, 0, &unused, &unused), kResultNothingToDo);
    // A record shorter than its sizes say is refused before anything is copied.
    EngineImage short1{};
    EXPECT_EQ(loadTemplateImages(&inner, both.data(), uint32_t(both.size() - 1), &short1, nullptr),
              kResultBadArgument);
    EXPECT_EQ(short1.width, 0);

    // Mirror: columns swap around the middle; an odd width keeps its middle column.
    ASSERT_EQ(mirrorGreyRows(&mask), kResultOk);
    EXPECT_EQ(mask.planes[0].pixels[0], 30);
    EXPECT_EQ(mask.planes[0].pixels[1], 20);
    EXPECT_EQ(mask.planes[0].pixels[2], 10);
    EngineImage notGrey = mask;
    notGrey.format = kFormatYuv420Planar;
    EXPECT_EQ(mirrorGreyRows(&notGrey), kResultUnsupported);
    EngineImage none{};
    EXPECT_EQ(mirrorGreyRows(&none), kResultUnsupported);

    // Width 150 swaps columns 74 and 75; width 415 keeps column 207 where it is.
    for (int width : {150, 415}) {
        EngineImage wide{};
        ASSERT_EQ(imageAllocate(counter.allocator(), &wide, width, 2, kFormatGrey8), kResultOk);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < width; ++x)
                wide.planes[0].pixels[size_t(y) * wide.planes[0].stride + x] = uint8_t(x);
        ASSERT_EQ(mirrorGreyRows(&wide), kResultOk);
        const uint8_t *row = wide.planes[0].pixels + wide.planes[0].stride;
        for (int x = 0; x < width; ++x)
            ASSERT_EQ(row[x], uint8_t(width - 1 - x));
        if (width == 150)
            EXPECT_EQ(row[74], 75);
        else
            EXPECT_EQ(row[207], 207);
        imageRelease(counter.allocator(), &wide);
    }

    for (EngineImage *image : {&pic, &mask, &mask2})
        imageRelease(counter.allocator(), image);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

TEST(ModelBlob, CatalogueDecodesToItsTemplates)
{
    struct Group {
        int group;
        int count;
        bool picture;
    };
    const Group groups[] = {{kBlobsOverlay, 5, true}, {kBlobsFaceMask, 1, false},
                            {kBlobsEyePairs, 12, false}, {kBlobsEyeDark, 6, false},
                            {kBlobsEyeLayers, 12, false}};
    const uint32_t overlaySizes[5][2] = {{81, 50}, {180, 130}, {206, 100}, {66, 97}, {137, 129}};
    CountingAllocator counter;
    int total = 0;
    for (const Group &g : groups) {
        ASSERT_EQ(modelBlobCount(g.group), g.count);
        EXPECT_EQ(modelBlobEntry(g.group, g.count), nullptr);
        for (int i = 0; i < g.count; ++i, ++total) {
            const ModelBlob *entry = modelBlobEntry(g.group, i);
            ASSERT_NE(entry, nullptr);
            uint8_t *record = lzwUnpack(counter.allocator(), entry->blob + 8);
            ASSERT_NE(record, nullptr) << g.group << "/" << i;
            uint32_t header[4];
            std::memcpy(header, record, 16);
            uint32_t w = 415, h = 310;
            if (g.group == kBlobsOverlay)
                w = overlaySizes[i][0], h = overlaySizes[i][1];
            else if (g.group == kBlobsFaceMask)
                w = 150, h = 100;
            else if (g.group == kBlobsEyeLayers)
                w = 150, h = 102;
            EXPECT_EQ(header[0], w);
            EXPECT_EQ(header[1], h);
            EXPECT_EQ(header[2] != 0, g.picture);
            EXPECT_NE(header[3], 0u);
            EXPECT_EQ(byteArrayCapacity(record), 16 + w * h * (g.picture ? 2 : 1));
            // Masks are 0 in the corners; the overlay pictures are light.
            const uint8_t *maskPixels = record + 16 + (g.picture ? w * h : 0);
            EXPECT_EQ(maskPixels[0], 0);
            EXPECT_EQ(maskPixels[w * h - 1], 0);
            uint32_t peak = 0;
            for (uint32_t p = 0; p < w * h; ++p)
                peak = std::max<uint32_t>(peak, maskPixels[p]);
            EXPECT_GE(peak, 128u) << g.group << "/" << i;
            if (g.picture) {
                uint64_t sum = 0;
                for (uint32_t p = 0; p < w * h; ++p)
                    sum += record[16 + p];
                EXPECT_GE(sum / (w * h), 185u);
                EXPECT_LE(sum / (w * h), 225u);
            }
            byteArrayFree(counter.allocator(), record);
        }
    }
    EXPECT_EQ(total, 36);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

TEST(ModelBlob, AllocationFailureAtEveryStepLeaksNothing)
{
    const std::vector<uint8_t> data = patterned(20000, 2);
    const std::vector<uint8_t> blob = lzwPack(data.data(), data.size());
    CountingAllocator probe;
    byteArrayFree(probe.allocator(), lzwUnpack(probe.allocator(), blob.data() + 8));
    ASSERT_GT(probe.allocations, 5);
    for (int n = 1; n <= probe.allocations; ++n) {
        CountingAllocator counter;
        counter.failAt = n;
        EXPECT_EQ(lzwUnpack(counter.allocator(), blob.data() + 8), nullptr) << n;
        EXPECT_EQ(counter.liveBlocks(), 0u) << n;
    }

    const uint8_t pixels[4] = {1, 2, 3, 4};
    const std::vector<uint8_t> record = makeTemplateRecord(2, 2, pixels, pixels);
    for (int n = 1; n <= 2; ++n) {
        CountingAllocator counter;
        counter.failAt = n;
        InnerEngine inner{};
        inner.allocator = counter.allocator();
        EngineImage pic{}, mask{};
        EXPECT_EQ(loadTemplateImages(&inner, record.data(), uint32_t(record.size()), &pic, &mask),
                  kResultNoMemory);
        imageRelease(counter.allocator(), &pic);
        imageRelease(counter.allocator(), &mask);
        EXPECT_EQ(counter.liveBlocks(), 0u);
    }
}

// An engine unpacks a record at its first use and keeps it: a second use decodes nothing and
// gets the same bytes. An unpacking that fails keeps nothing and the next use tries again.
TEST(ModelBlob, EnginesKeepTheRecordsTheyUnpack)
{
    CountingAllocator counter;
    InnerEngine inner{};
    inner.allocator = counter.allocator();
    EXPECT_EQ(engineBlobRecord(&inner, kBlobsEyeDark, 6), nullptr);
    EXPECT_EQ(engineBlobRecord(&inner, kModelBlobGroups, 0), nullptr);
    EXPECT_EQ(counter.allocations, 0);

    counter.failAt = 1;
    EXPECT_EQ(engineBlobRecord(&inner, kBlobsEyeDark, 2), nullptr);
    EXPECT_EQ(counter.liveBlocks(), 0u);
    const uint8_t *record = engineBlobRecord(&inner, kBlobsEyeDark, 2);
    ASSERT_NE(record, nullptr);
    uint8_t *fresh = lzwUnpack(counter.allocator(), modelBlobEntry(kBlobsEyeDark, 2)->blob + 8);
    ASSERT_EQ(byteArrayCapacity(record), byteArrayCapacity(fresh));
    EXPECT_EQ(std::memcmp(record, fresh, byteArrayCapacity(fresh)), 0);
    byteArrayFree(counter.allocator(), fresh);

    const int allocations = counter.allocations;
    EXPECT_EQ(engineBlobRecord(&inner, kBlobsEyeDark, 2), record);
    EXPECT_EQ(counter.allocations, allocations);
    ASSERT_NE(engineBlobRecord(&inner, kBlobsEyeLayers, 11), nullptr);  // the last slot
    EXPECT_EQ(counter.liveBlocks(), 2u);
    releaseEngineBlobRecords(&inner);
    EXPECT_EQ(counter.liveBlocks(), 0u);
    EXPECT_EQ(counter.badFrees, 0);
}
