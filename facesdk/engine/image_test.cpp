#include "facesdk/engine/image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"

namespace {

struct FormatCase {
    PixelFormat format;
    int planes;
    PlaneLayout layout[3];  // for a 7 x 5 image
    bool croppable;
};

// Plane geometry of a 7 x 5 image of every format that can be allocated.
const FormatCase kFormats[] = {
    {kFormatYuv444Packed, 1, {{21, 5}}, true},
    {kFormatRgb24, 1, {{21, 5}}, true},
    {kFormatBgr24, 1, {{21, 5}}, false},
    {kFormatYuv422Yuyv, 1, {{14, 5}}, true},
    {kFormatYuv422Uyvy, 1, {{14, 5}}, true},
    {kFormatGrey8, 1, {{7, 5}}, true},
    {kFormatRgb32, 1, {{28, 5}}, false},
    {kFormatRgba32, 1, {{28, 5}}, false},
    {kFormatBgr32, 1, {{28, 5}}, false},
    {kFormatBgra32, 1, {{28, 5}}, false},
    {kFormatYuv444Planar, 3, {{7, 5}, {7, 5}, {7, 5}}, true},
    {kFormatYuv422SemiPlanar, 2, {{7, 5}, {14, 5}}, false},
    {kFormatYuv422Planar, 3, {{7, 5}, {3, 5}, {3, 5}}, true},
    {kFormatYuv420SemiPlanar, 2, {{7, 5}, {7, 2}}, true},
    {kFormatYuv420SemiPlanarCrFirst, 2, {{7, 5}, {7, 2}}, false},
    {kFormatYuv420Planar, 3, {{7, 5}, {3, 2}, {3, 2}}, true},
};

// Fills every byte of every plane with a value made from plane, row and column.
void fillPattern(EngineImage &image, int planes, const PlaneLayout *layout)
{
    for (int p = 0; p < planes; ++p)
        for (int r = 0; r < layout[p].rows; ++r)
            for (int c = 0; c < image.planes[p].stride; ++c)
                image.planes[p].pixels[r * image.planes[p].stride + c] = uint8_t(p * 64 + r * 8 + c);
}

uint8_t at(const EngineImage &image, int plane, int row, int column)
{
    return image.planes[plane].pixels[row * image.planes[plane].stride + column];
}

}  // namespace

TEST(EngineImage, AllocateCloneAndCropEveryFormat)
{
    for (const FormatCase &c : kFormats) {
        SCOPED_TRACE(testing::Message() << std::hex << c.format);
        CountingAllocator counter;
        EngineImage image;
        ASSERT_EQ(imageAllocate(counter.allocator(), &image, 7, 5, c.format), kResultOk);
        EXPECT_EQ(image.format, c.format);
        EXPECT_EQ(counter.liveBlocks(), size_t(c.planes));
        for (int p = 0; p < 4; ++p) {
            if (p < c.planes) {
                EXPECT_EQ(image.planes[p].stride, c.layout[p].rowBytes) << "plane " << p;
                EXPECT_NE(image.planes[p].pixels, nullptr);
            } else {
                EXPECT_EQ(image.planes[p].pixels, nullptr);
            }
        }
        fillPattern(image, c.planes, c.layout);

        EngineImage clone;
        ASSERT_EQ(imageClone(counter.allocator(), &image, &clone), kResultOk);
        for (int p = 0; p < c.planes; ++p)
            EXPECT_EQ(std::memcmp(clone.planes[p].pixels, image.planes[p].pixels,
                                  size_t(c.layout[p].rowBytes) * c.layout[p].rows), 0);
        imageRelease(counter.allocator(), &clone);

        // (3, 1) size 4 x 4 is already even where the chroma needs it, except x for 4:2:x.
        const EngineRect rect{3, 1, 4, 4};
        EngineImage crop;
        const int result = cropImage(counter.allocator(), &rect, &image, &crop);
        if (!c.croppable) {
            EXPECT_EQ(result, kResultUnsupported);
            EXPECT_EQ(counter.liveBlocks(), size_t(c.planes));
        } else {
            ASSERT_EQ(result, kResultOk);
            const uint32_t family = formatFamily(c.format);
            const int x = family == kFamilyYuv422 || family == kFamilyYuv420 ? 2 : 3;
            const int y = family == kFamilyYuv420 ? 0 : 1;
            EXPECT_EQ(crop.width, 4);
            EXPECT_EQ(crop.height, 4);
            const int firstBytes = c.layout[0].rowBytes / 7;
            EXPECT_EQ(at(crop, 0, 0, 0), at(image, 0, y, x * firstBytes));
            EXPECT_EQ(at(crop, 0, 3, 4 * firstBytes - 1), at(image, 0, y + 3, (x + 4) * firstBytes - 1));
            for (int p = 1; p < c.planes; ++p) {
                const int cx = c.layout[p].rowBytes == 3 ? x / 2 : x;
                const int cy = c.layout[p].rows == 2 ? y / 2 : y;
                EXPECT_EQ(at(crop, p, 0, 0), at(image, p, cy, cx)) << "plane " << p;
            }
            imageRelease(counter.allocator(), &crop);
        }
        imageRelease(counter.allocator(), &image);
        EXPECT_EQ(counter.liveBlocks(), 0u);
        EXPECT_EQ(counter.badFrees, 0);
    }
}

TEST(EngineImage, AllocateRejectsBadSizesAndFormats)
{
    CountingAllocator counter;
    EngineImage image;
    EXPECT_EQ(imageAllocate(counter.allocator(), nullptr, 8, 8, kFormatGrey8), kResultBadArgument);
    struct Case {
        int32_t width, height;
        PixelFormat format;
    } cases[] = {
        {0, 8, kFormatGrey8},   {8, 0, kFormatGrey8},          {-8, 8, kFormatGrey8},
        {8, 8, 0},              {8, 8, kFormatYuv422Packed3},  {8, 8, kFormatGrey16},
        {1, 8, kFormatYuv420Planar},  // chroma planes would be empty
        {INT32_MAX, 2, kFormatRgb24},  // row bytes beyond 32 bits
        {65536, 65536, kFormatGrey8},  // more than one allocation can hold
    };
    for (const Case &c : cases) {
        std::memset(&image, 0x5a, sizeof image);
        EXPECT_EQ(imageAllocate(counter.allocator(), &image, c.width, c.height, c.format),
                  kResultBadArgument);
        EXPECT_EQ(image.planes[0].pixels, nullptr);
    }
    EXPECT_EQ(counter.allocations, 0);
}

TEST(EngineImage, FailedAllocationFreesEarlierPlanes)
{
    for (int failAt = 1; failAt <= 3; ++failAt) {
        CountingAllocator counter;
        counter.failAt = failAt;
        EngineImage image;
        EXPECT_EQ(imageAllocate(counter.allocator(), &image, 7, 5, kFormatYuv420Planar), kResultNoMemory);
        const EngineImage zero{};
        EXPECT_EQ(std::memcmp(&image, &zero, sizeof image), 0);
        EXPECT_EQ(counter.liveBlocks(), 0u);
    }
}

TEST(EngineImage, CloneCopiesOnlyTheSmallerStride)
{
    CountingAllocator counter;
    std::vector<uint8_t> wide(12 * 4, 7);
    EngineImage source{};
    source.format = kFormatGrey8;
    source.width = 8;
    source.height = 4;
    source.planes[0] = {12, 0, wide.data()};
    EngineImage clone;
    ASSERT_EQ(imageClone(counter.allocator(), &source, &clone), kResultOk);
    EXPECT_EQ(clone.planes[0].stride, 8);
    EXPECT_EQ(at(clone, 0, 3, 7), 7);
    imageRelease(counter.allocator(), &clone);

    // A record whose counted plane is missing is refused, not read through a null pointer.
    EngineImage missing = source;
    missing.format = kFormatYuv420Planar;
    EXPECT_EQ(imageClone(counter.allocator(), &missing, &clone), kResultBadArgument);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

TEST(EngineImage, CropRoundsToEvenAndChecksTheRectangle)
{
    CountingAllocator counter;
    EngineImage image;
    ASSERT_EQ(imageAllocate(counter.allocator(), &image, 16, 16, kFormatYuv420Planar), kResultOk);
    PlaneLayout layout[4];
    ASSERT_EQ(imagePlaneLayout(kFormatYuv420Planar, 16, 16, layout), 3);
    fillPattern(image, 3, layout);
    EngineImage crop;
    const EngineRect rect{3, 5, 9, 7};
    ASSERT_EQ(cropImage(counter.allocator(), &rect, &image, &crop), kResultOk);
    EXPECT_EQ(crop.width, 8);
    EXPECT_EQ(crop.height, 6);
    EXPECT_EQ(at(crop, 0, 0, 0), at(image, 0, 4, 2));
    EXPECT_EQ(at(crop, 1, 2, 3), at(image, 1, 2 + 2, 1 + 3));
    EXPECT_EQ(crop.planes[2].stride, 4);
    imageRelease(counter.allocator(), &crop);

    for (EngineRect bad : {EngineRect{-1, 0, 4, 4}, EngineRect{0, 0, 0, 4}, EngineRect{13, 0, 4, 4},
                           EngineRect{0, 13, 4, 4}, EngineRect{1, 1, 1, 1} /* empty once even */})
        EXPECT_EQ(cropImage(counter.allocator(), &bad, &image, &crop), kResultBadArgument);
    EXPECT_EQ(cropImage(counter.allocator(), nullptr, &image, &crop), kResultBadArgument);
    imageRelease(counter.allocator(), &image);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

TEST(EngineImage, ValidityAndBytesPerPixel)
{
    uint8_t pixel = 0;
    EngineImage image{};
    image.format = kFormatGrey8;
    image.width = 1;
    image.height = 1;
    image.planes[2] = {0, 0, &pixel};
    EXPECT_EQ(imageValid(&image), 0);  // the only plane with a pointer has stride 0
    image.planes[2].stride = 1;
    EXPECT_EQ(imageValid(&image), 1);
    EXPECT_EQ(imageValid(nullptr), 0);

    EXPECT_EQ(bytesPerPixel(kFormatYuv444Packed), 3);
    EXPECT_EQ(bytesPerPixel(kFormatYuv422Yuyv), 2);
    EXPECT_EQ(bytesPerPixel(kFormatRgba64), 8);
    EXPECT_EQ(bytesPerPixel(kFormatYuv444Packed16), 6);
    EXPECT_EQ(bytesPerPixel(kFormatYuv420Planar), 1);
    EXPECT_EQ(bytesPerPixel(0x50000005), 0);
    EXPECT_EQ(formatPlaneCount(kFormatYuv420Planar), 3);
    EXPECT_EQ(formatFamily(kFormatYuv420SemiPlanar), uint32_t(kFamilyYuv420));
}

TEST(EngineImage, SamplingIntoGrey)
{
    CountingAllocator counter;
    EngineImage image;
    ASSERT_EQ(imageAllocate(counter.allocator(), &image, 16, 8, kFormatYuv420SemiPlanar), kResultOk);
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 16; ++c)
            image.planes[0].pixels[r * 16 + c] = uint8_t(r * 16 + c);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 16; ++c)
            image.planes[1].pixels[r * 16 + c] = uint8_t(200 + r * 16 + c);
    uint8_t buffer[8];
    EngineImage grey{kFormatGrey8, 4, 2, 0, {{4, 0, buffer}}};
    const EngineRect rect{2, 2, 8, 4};  // steps 2 x 2
    ASSERT_EQ(copyPlaneToGrey(&image, kSelectLuma, &rect, &grey), kResultOk);
    EXPECT_EQ(buffer[0], 2 * 16 + 2);
    EXPECT_EQ(buffer[5], 4 * 16 + 4);
    ASSERT_EQ(copyPlaneToGrey(&image, kSelectCr, &rect, &grey), kResultOk);
    EXPECT_EQ(buffer[0], uint8_t(200 + 16 + 3));
    EXPECT_EQ(buffer[4], uint8_t(200 + 32 + 3));
    image.format = kFormatYuv420SemiPlanarCrFirst;
    ASSERT_EQ(copyPlaneToGrey(&image, kSelectCr, &rect, &grey), kResultOk);
    EXPECT_EQ(buffer[0], uint8_t(200 + 16 + 2));

    image.format = kFormatRgb24;
    EXPECT_EQ(copyPlaneToGrey(&image, kSelectLuma, &rect, &grey), kResultUnsupported);
    EXPECT_EQ(buffer[7], 0);
    const EngineRect outside{10, 0, 8, 4};
    image.format = kFormatYuv420SemiPlanar;
    EXPECT_EQ(copyPlaneToGrey(&image, kSelectLuma, &outside, &grey), kResultBadArgument);
    imageRelease(counter.allocator(), &image);

    // Cr of the whole image: the last sample would lie one byte past the interleaved row.
    {
        CountingAllocator tight;
        EngineImage nv12;
        ASSERT_EQ(imageAllocate(tight.allocator(), &nv12, 4, 2, kFormatYuv420SemiPlanar), kResultOk);
        const uint8_t chroma[4] = {1, 2, 3, 4};
        std::memcpy(nv12.planes[1].pixels, chroma, 4);
        uint8_t row[4];
        EngineImage rowGrey{kFormatGrey8, 4, 1, 0, {{4, 0, row}}};
        const EngineRect whole{0, 0, 4, 2};
        ASSERT_EQ(copyPlaneToGrey(&nv12, kSelectCr, &whole, &rowGrey), kResultOk);
        EXPECT_EQ(row[0], 2);
        EXPECT_EQ(row[2], 4);
        EXPECT_EQ(row[3], 4);  // held at the row's last byte
        imageRelease(tight.allocator(), &nv12);
    }

    // Packed Y0 Cb Y1 Cr starting at an odd column: Cb sits 3 bytes on, Cr 1.
    uint8_t packed[2 * 8] = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25};
    EngineImage yuyv{kFormatYuv422Yuyv, 8, 1, 0, {{16, 0, packed}}};
    uint8_t out[2];
    EngineImage line{kFormatGrey8, 2, 1, 0, {{2, 0, out}}};
    const EngineRect odd{1, 0, 4, 1};
    ASSERT_EQ(copyPackedPlaneToGrey(&yuyv, kSelectCb, &odd, &line), kResultOk);
    EXPECT_EQ(out[0], 15);
    EXPECT_EQ(out[1], 19);
    ASSERT_EQ(copyPackedPlaneToGrey(&yuyv, kSelectLuma, &odd, &line), kResultOk);
    EXPECT_EQ(out[0], 12);
}

TEST(EngineImage, ChromaSwap)
{
    uint8_t plane[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(swapChromaBytes(plane, 4, 2), 1);
    EXPECT_EQ(plane[0], 2);
    EXPECT_EQ(plane[7], 7);
    EXPECT_EQ(swapChromaBytes(plane, 3, 2), 0);
    EXPECT_EQ(swapChromaBytes(nullptr, 4, 2), 0);
    EXPECT_EQ(swapChromaBytes(plane, 4, 0), 0);
    EXPECT_EQ(plane[0], 2);
}

TEST(EngineImage, RectanglePredicates)
{
    EXPECT_EQ(rectsOverlap({0, 0, 10, 10}, {10, 0, 5, 5}), 1);
    EXPECT_EQ(rectsOverlap({0, 0, 10, 10}, {11, 0, 5, 5}), 0);
    EXPECT_EQ(rectNeedsClamp({0, 0, 0, 0}, 100, 100), 0);
    EXPECT_EQ(rectNeedsClamp({90, 0, 11, 5}, 100, 100), 1);
    EXPECT_EQ(rectInsideImage({90, 0, 10, 5}, 100, 100), 1);
    EXPECT_EQ(rectInsideImage({90, 0, 0, 5}, 100, 100), 0);

    const EngineRect face{10, 10, 50, 50}, absent{0, 0, 0, 0};
    const EngineRect eye{20, 20, 10, 10}, farEye{80, 80, 10, 10}, pastEdge{95, 20, 10, 10};
    EXPECT_EQ(faceRegionValid(&face, &absent, &absent, 100, 100), 1);
    EXPECT_EQ(faceRegionValid(&face, &eye, &eye, 100, 100), 1);
    EXPECT_EQ(faceRegionValid(&face, &eye, &farEye, 100, 100), 0);
    EXPECT_EQ(faceRegionValid(&face, &eye, &pastEdge, 100, 100), 0);
    const EngineRect wideFace{60, 10, 50, 50};
    EXPECT_EQ(faceRegionValid(&wideFace, &absent, &absent, 100, 100), 0);
    EXPECT_EQ(faceRegionValid(nullptr, &absent, &absent, 100, 100), 0);
}

TEST(EngineImage, WorkingCopySizes)
{
    CountingAllocator counter;
    struct Case {
        int32_t width, height;
        PixelFormat format;
        int32_t copyWidth, copyHeight;
    } cases[] = {
        {1000, 333, kFormatYuv420Planar, 320, 106},
        {1000, 335, kFormatYuv420Planar, 320, 108},  // 107 raised to even
        {335, 1000, kFormatYuv422Planar, 108, 320},  // 4:2:2 raises only the width
        {1000, 335, kFormatYuv444Planar, 320, 107},
        {300, 200, kFormatYuv420Planar, 300, 200},   // within the maximum: a clone
    };
    for (const Case &c : cases) {
        EngineImage image, copy;
        ASSERT_EQ(imageAllocate(counter.allocator(), &image, c.width, c.height, c.format), kResultOk);
        PlaneLayout layout[4];
        const int planes = imagePlaneLayout(c.format, c.width, c.height, layout);
        fillPattern(image, planes, layout);
        ASSERT_EQ(makeWorkingCopy(counter.allocator(), &image, 320, &copy), kResultOk);
        EXPECT_EQ(copy.width, c.copyWidth) << c.width << "x" << c.height;
        EXPECT_EQ(copy.height, c.copyHeight) << c.width << "x" << c.height;
        EXPECT_EQ(copy.format, c.format);
        if (c.copyWidth == c.width) {
            EXPECT_EQ(std::memcmp(copy.planes[1].pixels, image.planes[1].pixels,
                                  size_t(layout[1].rowBytes) * layout[1].rows), 0);
        }
        imageRelease(counter.allocator(), &copy);
        imageRelease(counter.allocator(), &image);
    }
    EngineImage image, copy;
    ASSERT_EQ(imageAllocate(counter.allocator(), &image, 1000, 500, kFormatGrey8), kResultOk);
    EXPECT_EQ(makeWorkingCopy(counter.allocator(), &image, 0, &copy), kResultBadArgument);
    // The resampler does not shrink grey images: refused rather than handed back unfilled.
    EXPECT_EQ(makeWorkingCopy(counter.allocator(), &image, 320, &copy), kResultUnsupported);
    EXPECT_EQ(copy.planes[0].pixels, nullptr);
    imageRelease(counter.allocator(), &image);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}
