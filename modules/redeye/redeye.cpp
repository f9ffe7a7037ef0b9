// Finding and correcting red pupils.
//
// A pupil lit by a flash is a small, round, strongly red and bright-enough blob whose surroundings
// (iris, white of the eye, skin) are not strongly red. Detection marks red pixels, joins them into
// blobs, and keeps the compact, isolated ones. Correction replaces the red of each pupil pixel by
// the mean of green and blue, weighted by how red the pixel is, so skin at the area's edge stays.
#include "modules/redeye/redeye.h"

#include <algorithm>
#include <cmath>

namespace redeye {
namespace {

constexpr float kMinRed = 0.27f;         // red sample, 0..1: darker pixels are not flash pupils
constexpr float kPupilRatio = 2.5f;      // red / mean(green, blue) of a pupil pixel (brown irises stay under)
constexpr float kSkinRatio = 2.0f;       // at or below this a pixel is left alone in correction
constexpr int kMinBlobPixels = 4;
constexpr double kMaxBlobShare = 0.01;   // of the picture's pixels
constexpr double kMinFill = 0.4;         // blob pixels / box area (a disc fills ~0.79)
constexpr double kMaxAspect = 2.0;
constexpr double kMaxRingRed = 0.25;     // share of red pixels in the ring around the blob
constexpr double kAreaMargin = 0.5;      // eye area = blob box grown by this share on each side

void readRgb(const ReImage* image, const Layout& layout, int x, int y, float rgb[3]) {
    const uint8_t* row = static_cast<const uint8_t*>(image->pixels) + ptrdiff_t(y) * image->rowBytes;
    if (layout.bytesPerSample == 1) {
        const uint8_t* p = row + x * layout.channels;
        rgb[0] = p[layout.red] / 255.0f;
        rgb[1] = p[layout.green] / 255.0f;
        rgb[2] = p[layout.blue] / 255.0f;
    } else {
        const uint16_t* p = reinterpret_cast<const uint16_t*>(row) + x * layout.channels;
        rgb[0] = p[layout.red] / 65535.0f;
        rgb[1] = p[layout.green] / 65535.0f;
        rgb[2] = p[layout.blue] / 65535.0f;
    }
}

void writeRed(const ReImage* image, const Layout& layout, int x, int y, float red) {
    uint8_t* row = static_cast<uint8_t*>(image->pixels) + ptrdiff_t(y) * image->rowBytes;
    red = std::clamp(red, 0.0f, 1.0f);
    if (layout.bytesPerSample == 1)
        row[x * layout.channels + layout.red] = uint8_t(red * 255.0f + 0.5f);
    else
        reinterpret_cast<uint16_t*>(row)[x * layout.channels + layout.red] = uint16_t(red * 65535.0f + 0.5f);
}

float rednessOf(const float rgb[3]) {
    return rgb[0] / std::max((rgb[1] + rgb[2]) * 0.5f, 1.0f / 255.0f);
}

bool isPupilPixel(const float rgb[3], uint32_t flags) {
    if (!(flags & RE_DETECT_REDNESS))
        return false;
    return rgb[0] >= kMinRed && rednessOf(rgb) >= kPupilRatio;
}

}  // namespace

bool layoutOf(int32_t code, Layout* layout) {
    switch (code) {
    case RE_PIXEL_BGR8: *layout = {3, 1, 2, 1, 0}; return true;
    case RE_PIXEL_BGRA8: *layout = {4, 1, 2, 1, 0}; return true;
    case RE_PIXEL_RGB8: *layout = {3, 1, 0, 1, 2}; return true;
    case RE_PIXEL_RGBA8: *layout = {4, 1, 0, 1, 2}; return true;
    case RE_PIXEL_RGB16: *layout = {3, 2, 0, 1, 2}; return true;
    case RE_PIXEL_BGR16: *layout = {3, 2, 2, 1, 0}; return true;
    case RE_PIXEL_RGBA16: *layout = {4, 2, 0, 1, 2}; return true;
    default: return false;
    }
}

int32_t checkImage(const ReImage* image, Layout* layout) {
    if (!image || image->size != int32_t(sizeof(ReImage)) || !image->pixels || image->width <= 0 ||
        image->height <= 0)
        return RE_ERR_ARGUMENT;
    if (!layoutOf(image->format, layout))
        return RE_ERR_FORMAT;
    if (int64_t(image->rowBytes) < int64_t(image->width) * layout->channels * layout->bytesPerSample)
        return RE_ERR_ARGUMENT;
    // 16-bit samples are read in place: every row must start on a sample boundary.
    if (layout->bytesPerSample == 2 && ((image->rowBytes | reinterpret_cast<uintptr_t>(image->pixels)) & 1))
        return RE_ERR_ARGUMENT;
    return RE_OK;
}

std::vector<Box> findRedPupils(const ReImage* image, const Layout& layout, uint32_t flags) {
    const int w = image->width, h = image->height;
    std::vector<uint8_t> red(size_t(w) * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float rgb[3];
            readRgb(image, layout, x, y, rgb);
            red[size_t(y) * w + x] = isPupilPixel(rgb, flags);
        }

    std::vector<Box> found;
    std::vector<int> stack;
    std::vector<uint8_t> seen(red.size(), 0);
    const double maxPixels = std::max<double>(kMinBlobPixels, kMaxBlobShare * w * h);
    for (size_t start = 0; start < red.size(); ++start) {
        if (!red[start] || seen[start])
            continue;
        // Gather the 4-connected blob.
        int minX = w, minY = h, maxX = -1, maxY = -1, pixels = 0;
        stack.assign(1, int(start));
        seen[start] = 1;
        while (!stack.empty()) {
            const int i = stack.back();
            stack.pop_back();
            const int x = i % w, y = i / w;
            ++pixels;
            minX = std::min(minX, x), maxX = std::max(maxX, x);
            minY = std::min(minY, y), maxY = std::max(maxY, y);
            const int neighbours[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
            for (const auto& n : neighbours) {
                if (n[0] < 0 || n[1] < 0 || n[0] >= w || n[1] >= h)
                    continue;
                const size_t j = size_t(n[1]) * w + n[0];
                if (red[j] && !seen[j]) {
                    seen[j] = 1;
                    stack.push_back(int(j));
                }
            }
        }
        const int bw = maxX - minX + 1, bh = maxY - minY + 1;
        if (pixels < kMinBlobPixels || pixels > maxPixels)
            continue;
        const double fill = double(pixels) / (double(bw) * bh);
        const double aspect = double(std::max(bw, bh)) / std::min(bw, bh);
        if ((flags & RE_DETECT_SHAPE) && (fill < kMinFill || aspect > kMaxAspect))
            continue;
        if (flags & RE_DETECT_ISOLATED) {
            // The ring one blob-size around the box must be mostly not red.
            int ring = 0, ringRed = 0;
            const int x0 = std::max(0, minX - bw), x1 = std::min(w - 1, maxX + bw);
            const int y0 = std::max(0, minY - bh), y1 = std::min(h - 1, maxY + bh);
            for (int y = y0; y <= y1; ++y)
                for (int x = x0; x <= x1; ++x) {
                    if (x >= minX && x <= maxX && y >= minY && y <= maxY)
                        continue;
                    ++ring;
                    ringRed += red[size_t(y) * w + x];
                }
            if (ring > 0 && double(ringRed) / ring > kMaxRingRed)
                continue;
        }
        const int mx = int(std::ceil(bw * kAreaMargin)), my = int(std::ceil(bh * kAreaMargin));
        const int confidence = int(std::lround(std::min(1.0, fill / 0.785) * 100.0));
        found.push_back({minX - mx, minY - my, bw + 2 * mx, bh + 2 * my, confidence});
    }
    return found;
}

int correctInBox(const ReImage* image, const Layout& layout, const Box& box) {
    const int x0 = std::max(0, box.x), y0 = std::max(0, box.y);
    const int x1 = std::min(image->width, box.x + box.width);
    const int y1 = std::min(image->height, box.y + box.height);
    int changed = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            float rgb[3];
            readRgb(image, layout, x, y, rgb);
            const float ratio = rednessOf(rgb);
            if (ratio <= kSkinRatio || rgb[0] < kMinRed * 0.5f)
                continue;
            // Weight rises smoothly from skin-like to pupil-like redness.
            float t = std::clamp((ratio - kSkinRatio) / (kPupilRatio - kSkinRatio), 0.0f, 1.0f);
            t = t * t * (3.0f - 2.0f * t);
            const float target = (rgb[1] + rgb[2]) * 0.5f;
            writeRed(image, layout, x, y, rgb[0] + (target - rgb[0]) * t);
            ++changed;
        }
    return changed;
}

}  // namespace redeye
