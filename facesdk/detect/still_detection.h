// One still detection of a packed R, G, B picture, for callers that only want the faces: the
// detector is created, run once and destroyed.
#pragma once

#include "facesdk/detect/detector.h"

#include <algorithm>
#include <cstdint>
#include <vector>

// A picture reduced for the detector: packed R, G, B bytes of at most a given length a side.
struct RgbSearchCopy {
    int width = 0, height = 0;
    double scale = 1.0;  // picture pixels per copy pixel
    std::vector<uint8_t> rgb;

    const uint8_t* at(int x, int y) const { return &rgb[(size_t(y) * width + x) * 3]; }
};

// The copy of a width x height picture whose pixels readRgb(x, y, float rgb[3]) gives as 0..1
// samples; each copy pixel is the mean of up to 4 x 4 samples of its footprint.
template <typename ReadRgb>
RgbSearchCopy rgbSearchCopy(int width, int height, int longestSide, ReadRgb readRgb) {
    constexpr int kSamplesPerSide = 4;
    RgbSearchCopy copy;
    const int longer = std::max(width, height);
    copy.scale = longer > longestSide ? double(longer) / longestSide : 1.0;
    copy.width = std::max(1, int(width / copy.scale));
    copy.height = std::max(1, int(height / copy.scale));
    copy.rgb.resize(size_t(copy.width) * copy.height * 3);
    uint8_t* out = copy.rgb.data();
    for (int y = 0; y < copy.height; ++y) {
        const int top = int(y * copy.scale), bottom = std::max(top + 1, std::min(height, int((y + 1) * copy.scale)));
        const int stepY = std::max(1, (bottom - top) / kSamplesPerSide);
        for (int x = 0; x < copy.width; ++x, out += 3) {
            const int left = int(x * copy.scale), right = std::max(left + 1, std::min(width, int((x + 1) * copy.scale)));
            const int stepX = std::max(1, (right - left) / kSamplesPerSide);
            float sum[3] = {0, 0, 0};
            int count = 0;
            for (int sy = top; sy < bottom; sy += stepY)
                for (int sx = left; sx < right; sx += stepX, ++count) {
                    float rgb[3];
                    readRgb(sx, sy, rgb);
                    for (int c = 0; c < 3; ++c)
                        sum[c] += rgb[c];
                }
            for (int c = 0; c < 3; ++c)
                out[c] = uint8_t(std::min(255.0f, sum[c] / count * 255.0f + 0.5f));
        }
    }
    return copy;
}

// Creates a detector; faceDetectorCreate unless a caller (a test) hands another.
using DetectorFactory = int (*)(EngineAllocator* allocator, const DetectorConfig* config, FaceDetector** detector);

// The faces the detector reports on the picture (rows of width * 3 bytes), in its order; none when
// it cannot be created or its detection fails.
std::vector<DetectedFacePublic> detectStillRgb(const uint8_t* rgb, int width, int height, uint32_t flags,
                                               DetectorFactory create = faceDetectorCreate);
