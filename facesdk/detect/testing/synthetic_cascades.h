// Synthetic cascades and frames for the detector's pass tests. The trained models are not part
// of the library, so the tests make their own: a "face" is a bright square with a dark band
// across its top and two dark eyes, drawn into a textured grey frame at any size and roll; the
// face cascades answer one rectangle feature (the top half darker than the bottom half of the
// window), the eye cascades one ring feature (a dark centre in a bright ring).
//
// Header only, for tests and benchmarks.
#pragma once

#include "facesdk/detect/detector_object.h"
#include "facesdk/detect/features.h"
#include "facesdk/detect/window.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "facesdk/detect/detector.h"

// One rectangle feature of a synthetic cascade and the buckets in which it votes for a pass.
struct SyntheticFeature {
    uint8_t kind, anchorX, anchorY, unitW, unitH;
    int first, last;
};

// A cascade of rectangle records, each of which must vote in its bucket range (threshold
// climbing by one per record); a window that passes them all scores `score`.
struct SyntheticCascade {
    std::vector<std::vector<int16_t>> votes;
    std::vector<RectFeatureRecord> records;
    CascadeGroup group;
    CascadeModel model;

    SyntheticCascade(const std::vector<SyntheticFeature> &features, int32_t score)
        : votes(features.size(), std::vector<int16_t>(64))
    {
        const int32_t n = int32_t(features.size());
        for (int32_t i = 0; i < n; ++i) {
            const SyntheticFeature &f = features[size_t(i)];
            for (int b = 0; b < 64; ++b)
                votes[size_t(i)][size_t(b)] = b >= f.first && b <= f.last ? 1 : -1000;
            records.push_back(RectFeatureRecord{i + 1, f.kind, f.anchorX, f.anchorY, f.unitW, f.unitH, 9, {},
                                                votes[size_t(i)].data()});
        }
        group = CascadeGroup{records.data(), uint32_t(n), sizeof(RectFeatureRecord)};
        // a passing window sums n; (n - offset) x scale >> 16 = score
        model = CascadeModel{&group, 1, n - 1, uint32_t(score) * 65536u, uint32_t(n)};
    }
    SyntheticCascade(const SyntheticCascade &) = delete;
};

// The synthetic face in a base x base window: the top half darker than the bottom (hair),
// a thin band of hair along the top, both halves alike, the face filling the window sideways,
// and two eyes darker than the skin between them.
inline SyntheticCascade *faceCascade(int base, int32_t score)
{
    const auto at = [base](int v) { return uint8_t((v * base + 11) / 22); };
    return new SyntheticCascade({{10, at(22), at(11), at(22), at(11), 0, 22},
                                 {10, at(22), at(4), at(22), at(4), 18, 26},
                                 {9, at(11), at(22), at(11), at(22), 31, 33},
                                 {9, at(4), at(22), at(4), at(22), 31, 40},
                                 {9, at(18), at(22), at(4), at(22), 24, 32},
                                 {11, at(9), at(10), at(5), at(3), 0, 30}},
                                score);
}

// The face-score crop of a synthetic face at the 14-pixel base: the two eyes darker than the
// skin between them, near the top of the window.
inline SyntheticCascade *scoreCascade(int32_t score)
{
    return new SyntheticCascade({{11, 6, 6, 4, 3, 0, 30}}, score);
}

// A dark centre of a third of the window in a bright ring around it, the window balanced
// top to bottom and left to right.
inline SyntheticCascade *eyeCascade(int32_t score)
{
    return new SyntheticCascade({{14, 5, 5, 4, 4, 40, 63}, {10, 14, 7, 14, 7, 29, 35}, {9, 7, 14, 7, 14, 29, 35}},
                                score);
}

// The cascade tables of one synthetic set: every frontal entry (both bases, both variants) at
// the given rolls, the verification and the two eye cascades.
struct SyntheticModels {
    SyntheticCascade *face22, *face14, *verify, *eye, *eyeVerify;
    const CascadeModel *frontal[kCascadeTableSize] = {};

    explicit SyntheticModels(std::vector<int> rolls = {0, 90, 180, -90}, int32_t score = 200)
        : face22(faceCascade(22, score)), face14(faceCascade(14, score)), verify(scoreCascade(300)),
          eye(eyeCascade(150)), eyeVerify(eyeCascade(120))
    {
        for (int roll : rolls) {
            const int index = angleIndex(roll) * 4;
            frontal[index] = frontal[index + 1] = &face14->model;
            frontal[index + 2] = frontal[index + 3] = &face22->model;
        }
    }
    ~SyntheticModels()
    {
        delete face22;
        delete face14;
        delete verify;
        delete eye;
        delete eyeVerify;
    }
    SyntheticModels(const SyntheticModels &) = delete;

    void install(FaceDetector *detector, bool withVerify = true) const
    {
        for (auto &table : detector->cascades.tables)
            table = nullptr;
        detector->cascades.tables[kViewFrontal] = frontal;
        detector->cascades.verify = withVerify ? &verify->model : nullptr;
        detector->cascades.eye = &eye->model;
        detector->cascades.eyeVerify = &eyeVerify->model;
    }
};

// A grey frame in the detector's native layout (luma, then neutral chroma pairs) with a mild
// texture, so that empty windows are flat.
struct SyntheticFrame {
    int width, height;
    std::vector<uint8_t> pixels;

    SyntheticFrame(int w, int h) : width(w), height(h), pixels(size_t(w) * h * 3 / 2, 128)
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                pixels[size_t(y) * w + x] = uint8_t(126 + ((x * 7 + y * 13) % 5));
    }

    // The face of side s with its top-left corner at (x, y) when upright, turned by roll
    // degrees (clockwise on screen) about its centre.
    void drawFace(int x, int y, int s, int roll, uint8_t skin = 180)
    {
        const double a = roll * M_PI / 180, c = std::cos(a), sn = std::sin(a);
        const double cx = x + s / 2.0, cy = y + s / 2.0;
        const int reach = int(s * 0.75) + 2;
        for (int py = int(cy) - reach; py <= int(cy) + reach; ++py)
            for (int px = int(cx) - reach; px <= int(cx) + reach; ++px) {
                if (px < 0 || py < 0 || px >= width || py >= height)
                    continue;
                // back to the upright face: turn by -roll
                const double dx = px + 0.5 - cx, dy = py + 0.5 - cy;
                const double u = c * dx + sn * dy + s / 2.0, v = -sn * dx + c * dy + s / 2.0;
                if (u < 0 || v < 0 || u >= s || v >= s)
                    continue;
                // skin has a little texture, as a camera's would
                const int grain = ((px * 7 + py * 13) % 9) - 4;
                pixels[size_t(py) * width + px] = uint8_t(faceValue(u / s, v / s, skin) + grain);
            }
    }

    static uint8_t faceValue(double u, double v, uint8_t skin)
    {
        if (v < 0.2)
            return 60; // hair
        for (double ex : {0.26, 0.74})
            if (std::fabs(u - ex) < 0.08 && std::fabs(v - 0.4) < 0.08)
                return 70; // eyes
        return skin;
    }

    // Chroma pair (Cb, Cr) over the 2 x 2 blocks of a rectangle.
    void paintChroma(int x, int y, int w, int h, uint8_t cb, uint8_t cr)
    {
        uint8_t *pairs = pixels.data() + size_t(width) * height;
        for (int by = std::max(0, y / 2); by < std::min(height / 2, (y + h) / 2); ++by)
            for (int bx = std::max(0, x / 2); bx < std::min(width / 2, (x + w) / 2); ++bx) {
                pairs[size_t(by) * width + 2 * bx] = cb;
                pairs[size_t(by) * width + 2 * bx + 1] = cr;
            }
    }

    DetectorImage image()
    {
        DetectorImage im{};
        im.size = sizeof im;
        im.width = width;
        im.height = height;
        im.stride = width;
        im.format = 14;
        im.pixels = pixels.data();
        return im;
    }
};

// The faces next-face hands out, in order.
inline std::vector<DetectedFace *> reportedFaces(FaceDetector *detector)
{
    std::vector<DetectedFace *> faces;
    for (DetectedFace *f = faceDetectorNextFace(detector, nullptr); f; f = faceDetectorNextFace(detector, f))
        faces.push_back(f);
    return faces;
}
