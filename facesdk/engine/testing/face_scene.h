// Synthetic face scenes for the tone and colour tests: a skin-coloured face patch on a known
// background in any YCbCr layout, the caller's face record for it, and means of Y, Cb and Cr
// over a rectangle.
//
// Header only: tests of any folder include it without linking anything.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "facesdk/engine/face_measurements.h"
#include "facesdk/engine/face_records.h"
#include "facesdk/engine/testing/owned_image.h"
#include "facesdk/engine/testing/yuv_paint.h"

struct FaceScene {
    PixelFormat format = kFormatYuv420Planar;
    int32_t width = 640, height = 480;
    EngineRect face = {200, 120, 200, 240};
    YuvColour skin = {150, 110, 160};  // RGB 195, 133, 118
    int32_t lumaSpread = 0;            // face luma runs from skin.y - spread to skin.y + spread down the face, clamped
    YuvColour background = {128, 128, 128};
    bool stripes = true;               // black and white stripes give the image its full range
};

inline YuvColour faceSceneColour(const FaceScene &scene, int32_t x, int32_t y)
{
    const EngineRect &f = scene.face;
    if (x >= f.x && x < f.x + f.width && y >= f.y && y < f.y + f.height) {
        YuvColour c = scene.skin;
        if (scene.lumaSpread)
            c.y = std::clamp(c.y - scene.lumaSpread + 2 * scene.lumaSpread * (y - f.y) / (f.height - 1),
                             0, 255);
        return c;
    }
    if (scene.stripes && x % 40 < 4)
        return {0, 128, 128};
    if (scene.stripes && x % 40 < 8)
        return {255, 128, 128};
    return scene.background;
}

inline void paintFaceScene(EngineImage &image, const FaceScene &scene)
{
    paintYuv(image, [&](int x, int y) { return faceSceneColour(scene, x, y); });
}

// The caller's record of the scene's face: its box, eyes at 30% and 70% across, 40% down.
inline VXL_FACE faceSceneRecord(const EngineRect &box, int32_t id)
{
    VXL_FACE face{};
    face.id = id;
    face.x = box.x;
    face.y = box.y;
    face.width = box.width;
    face.height = box.height;
    face.eye1X = box.x + box.width * 3 / 10;
    face.eye2X = box.x + box.width * 7 / 10;
    face.eye1Y = face.eye2Y = box.y + box.height * 2 / 5;
    return face;
}

struct YuvMean {
    double y, cb, cr;
};

// Means of Y, Cb and Cr over the rectangle, each pixel reading its own chroma sample.
inline YuvMean meanYuv(const EngineImage &image, const EngineRect &rect)
{
    const YuvAddressing *a = yuvAddressing(image.format);
    YuvMean mean = {0, 0, 0};
    if (!a)
        return mean;
    for (int32_t y = rect.y; y < rect.y + rect.height; ++y) {
        const YuvRow row = yuvRow(*a, image, y);
        for (int32_t x = rect.x; x < rect.x + rect.width; ++x) {
            const int32_t sample = std::min(x >> row.chromaShiftX, row.lastSample) * row.chromaStep;
            mean.y += row.luma[x * row.lumaStep];
            mean.cb += row.cb[sample];
            mean.cr += row.cr[sample];
        }
    }
    const double n = double(rect.width) * rect.height;
    return {mean.y / n, mean.cb / n, mean.cr / n};
}

// Every byte of every plane of the image, row by row, padding left out.
inline std::vector<uint8_t> imageBytes(const EngineImage &image)
{
    std::vector<uint8_t> bytes;
    PlaneLayout layout[4];
    const int planes = imagePlaneLayout(image.format, image.width, image.height, layout);
    for (int p = 0; p < planes; ++p)
        for (int32_t y = 0; y < layout[p].rows; ++y) {
            const uint8_t *row = image.planes[p].pixels + size_t(y) * image.planes[p].stride;
            bytes.insert(bytes.end(), row, row + layout[p].rowBytes);
        }
    return bytes;
}
