// Engine images for tests: an image allocated through its own counting allocator, filled with
// a pattern or random bytes, compared plane by plane, released when it goes out of scope.
//
// Header only: tests of any folder include it without linking anything.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/engine/image.h"

struct OwnedImage {
    CountingAllocator counter;
    EngineImage image{};

    // Mid grey: the engine's allocation leaves the pixels as they were, and a test that does not
    // paint its picture still hands the engine defined values.
    OwnedImage(int width, int height, PixelFormat format)
    {
        EXPECT_EQ(imageAllocate(counter.allocator(), &image, width, height, format), kResultOk);
        for (int p = 0; p < planes(); ++p)
            for (int y = 0; y < rows(p); ++y)
                std::memset(&at(p, 0, y), 128, size_t(image.planes[p].stride));
    }
    ~OwnedImage() { imageRelease(counter.allocator(), &image); }
    OwnedImage(const OwnedImage &) = delete;
    OwnedImage &operator=(const OwnedImage &) = delete;

    int planes() const { return formatPlaneCount(image.format); }
    // Rows of a plane: chroma planes of 4:2:0 images have half the rows.
    int rows(int plane) const
    {
        return plane > 0 && formatFamily(image.format) == kFamilyYuv420 ? image.height / 2
                                                                         : image.height;
    }
    uint8_t &at(int plane, int x, int y)
    {
        return image.planes[plane].pixels[size_t(y) * image.planes[plane].stride + x];
    }
    void fillRandom(unsigned seed)
    {
        std::mt19937 random(seed);
        for (int p = 0; p < planes(); ++p)
            for (int y = 0; y < rows(p); ++y)
                for (int x = 0; x < image.planes[p].stride; ++x)
                    at(p, x, y) = uint8_t(random());
    }
    // Every byte of every plane equal, strides included.
    bool samePixels(OwnedImage &other)
    {
        for (int p = 0; p < planes(); ++p)
            for (int y = 0; y < rows(p); ++y)
                for (int x = 0; x < image.planes[p].stride; ++x)
                    if (at(p, x, y) != other.at(p, x, y))
                        return false;
        return true;
    }
    void copyPixelsFrom(OwnedImage &other)
    {
        for (int p = 0; p < planes(); ++p)
            for (int y = 0; y < rows(p); ++y)
                for (int x = 0; x < image.planes[p].stride; ++x)
                    at(p, x, y) = other.at(p, x, y);
    }
};
