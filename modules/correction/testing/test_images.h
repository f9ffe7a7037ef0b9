// Test helper: small images made by the tests, in any of the engine's pixel codes.
#pragma once

#include "modules/correction/engine.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <vector>

struct TestImage {
    std::vector<uint8_t> bytes;
    VxlEngineImage record = {};
    vexilo::PixelLayout layout = {};

    // Makes a width x height image of the code, with rows padded by pad bytes; colour(x, y, rgb)
    // gives each pixel's R, G, B in 0..1. A fourth channel is set to opaque.
    TestImage(int width, int height, int32_t code, const std::function<void(int, int, float*)>& colour, int pad = 0) {
        vexilo::layoutOf(code, &layout);
        record.width = width;
        record.height = height;
        record.format = code;
        record.rowBytes = width * layout.bytesPerPixel() + pad;
        bytes.assign(size_t(record.rowBytes) * height, 0);
        record.pixels = bytes.data();
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                float rgb[3];
                colour(x, y, rgb);
                vexilo::writeRgb(layout, vexilo::rowOf(&record, y), x, rgb);
                if (layout.channels == 4)
                    setSample(x, y, 3, layout.maxValue());
            }
    }

    void rgbAt(int x, int y, float rgb[3]) const { vexilo::readRgb(layout, vexilo::rowOf(&record, y), x, rgb); }

    int sample(int x, int y, int channel) const {
        const uint8_t* row = vexilo::rowOf(&record, y);
        return layout.bytesPerSample == 1 ? row[x * layout.channels + channel]
                                          : reinterpret_cast<const uint16_t*>(row)[x * layout.channels + channel];
    }

    void setSample(int x, int y, int channel, int value) {
        uint8_t* row = vexilo::rowOf(&record, y);
        if (layout.bytesPerSample == 1)
            row[x * layout.channels + channel] = uint8_t(value);
        else
            reinterpret_cast<uint16_t*>(row)[x * layout.channels + channel] = uint16_t(value);
    }

    // Mean of R, G, B (0..1) over the image.
    void meanRgb(double mean[3]) const {
        mean[0] = mean[1] = mean[2] = 0.0;
        for (int y = 0; y < record.height; ++y)
            for (int x = 0; x < record.width; ++x) {
                float rgb[3];
                rgbAt(x, y, rgb);
                for (int c = 0; c < 3; ++c)
                    mean[c] += rgb[c];
            }
        for (int c = 0; c < 3; ++c)
            mean[c] /= double(record.width) * record.height;
    }

    double meanLuma() const {
        double mean[3];
        meanRgb(mean);
        return vexilo::kLumaR * mean[0] + vexilo::kLumaG * mean[1] + vexilo::kLumaB * mean[2];
    }
};

// A scene with structure: soft colour blobs over a gradient, every value scaled by gains and a
// brightness so tests can make it dark, bright or tinted.
inline std::function<void(int, int, float*)> scene(float brightness, float gainR = 1.0f, float gainG = 1.0f,
                                                    float gainB = 1.0f) {
    return [=](int x, int y, float* rgb) {
        const float base = 0.25f + 0.5f * float((x * 7 + y * 3) % 97) / 96.0f;
        const float r = base * (0.8f + 0.2f * std::sin(x * 0.11f));
        const float g = base * (0.8f + 0.2f * std::cos(y * 0.07f));
        const float b = base * (0.8f + 0.2f * std::sin((x + y) * 0.05f));
        rgb[0] = r * brightness * gainR;
        rgb[1] = g * brightness * gainG;
        rgb[2] = b * brightness * gainB;
    };
}

inline std::function<void(int, int, float*)> flat(float r, float g, float b) {
    return [=](int, int, float* rgb) {
        rgb[0] = r;
        rgb[1] = g;
        rgb[2] = b;
    };
}

// Flat grey with Gaussian noise of the given deviation in 8-bit steps (a fixed seed per call).
inline std::function<void(int, int, float*)> noisyGrey(float grey, float sigma8) {
    auto random = std::make_shared<std::mt19937>(7);
    auto normal = std::make_shared<std::normal_distribution<float>>(0.0f, sigma8 / 255.0f);
    return [=](int, int, float* rgb) {
        const float n = (*normal)(*random);
        rgb[0] = rgb[1] = rgb[2] = grey + n;
    };
}

constexpr int32_t kAllPixelCodes[] = {VXL_PIXEL_BGR8,   VXL_PIXEL_RGB8,  VXL_PIXEL_RGBA8,  VXL_PIXEL_BGR16,
                                      VXL_PIXEL_BGRA16, VXL_PIXEL_BGRA8, VXL_PIXEL_RGB16, VXL_PIXEL_RGBA16};
