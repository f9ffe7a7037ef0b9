// Test helper: a flash portrait made by the test: skin, two eyes with dark irises and red pupils,
// red lips (too large for a pupil) and a thin red line (not round).
#pragma once

#include "modules/redeye/redeye.h"

#include <cmath>
#include <vector>

struct FaceImage {
    static constexpr int kWidth = 200, kHeight = 150;
    static constexpr int kLeftEyeX = 70, kRightEyeX = 130, kEyeY = 60;
    static constexpr int kPupilRadius = 4, kIrisRadius = 7;

    std::vector<uint8_t> bytes;
    ReImage record = {};
    redeye::Layout layout = {};

    explicit FaceImage(int32_t code, int width = kWidth, int height = kHeight) {
        redeye::layoutOf(code, &layout);
        record.size = sizeof(ReImage);
        record.width = width;
        record.height = height;
        record.format = code;
        record.rowBytes = width * layout.channels * layout.bytesPerSample;
        bytes.assign(size_t(record.rowBytes) * height, 0);
        record.pixels = bytes.data();
        const double sx = double(width) / kWidth, sy = double(height) / kHeight;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const double fx = x / sx, fy = y / sy;
                float rgb[3] = {0.85f, 0.65f, 0.55f};
                for (int eye : {kLeftEyeX, kRightEyeX}) {
                    const double d = std::hypot(fx - eye, fy - kEyeY);
                    if (d < kPupilRadius)
                        set(rgb, 0.8f, 0.15f, 0.15f);
                    else if (d < kIrisRadius)
                        set(rgb, 0.3f, 0.2f, 0.15f);
                }
                if (fx >= 80 && fx < 120 && fy >= 110 && fy < 125)
                    set(rgb, 0.8f, 0.1f, 0.1f);  // lips
                if (fy >= 20 && fy < 21 && fx >= 20 && fx < 60)
                    set(rgb, 0.9f, 0.1f, 0.1f);  // a thin line
                write(x, y, rgb);
            }
    }

    // Paints a disc of one colour (in the picture's own pixels).
    void paintDisc(double cx, double cy, double radius, float r, float g, float b) {
        const float rgb[3] = {r, g, b};
        for (int y = 0; y < record.height; ++y)
            for (int x = 0; x < record.width; ++x)
                if (std::hypot(x - cx, y - cy) < radius)
                    write(x, y, rgb);
    }

    static void set(float* rgb, float r, float g, float b) {
        rgb[0] = r;
        rgb[1] = g;
        rgb[2] = b;
    }

    void write(int x, int y, const float rgb[3]) {
        const int index[3] = {layout.red, layout.green, layout.blue};
        uint8_t* row = bytes.data() + size_t(y) * record.rowBytes;
        for (int c = 0; c < 3; ++c) {
            if (layout.bytesPerSample == 1)
                row[x * layout.channels + index[c]] = uint8_t(rgb[c] * 255.0f + 0.5f);
            else
                reinterpret_cast<uint16_t*>(row)[x * layout.channels + index[c]] = uint16_t(rgb[c] * 65535.0f + 0.5f);
        }
    }

    float channel(int x, int y, int colour) const {
        const int index[3] = {layout.red, layout.green, layout.blue};
        const uint8_t* row = bytes.data() + size_t(y) * record.rowBytes;
        if (layout.bytesPerSample == 1)
            return row[x * layout.channels + index[colour]] / 255.0f;
        return reinterpret_cast<const uint16_t*>(row)[x * layout.channels + index[colour]] / 65535.0f;
    }
};
