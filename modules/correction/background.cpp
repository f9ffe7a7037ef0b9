// Background work: the background colour of a picture (the mean of its border), the background
// mask (pixels close to that colour), and the background sync that moves the background towards a
// target colour.
#include "modules/correction/vexilo_exports.h"

#include "modules/correction/engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

struct VxlBGProfile {
    char magic[8];   // "VXLBGPR"
    bool valid;      // a colour was measured
    double rgb[3];   // background colour, 0..255
};

namespace vexilo {
namespace {

constexpr double kBorderShare = 0.05;  // border width as a share of each side

bool isBGProfile(const VxlBGProfile* profile) {
    return profile && std::memcmp(profile->magic, "VXLBGPR", 8) == 0;
}

// Mean colour (0..255) of the frame of the picture.
void borderColour(const VxlEngineImage* image, const PixelLayout& layout, double rgb[3]) {
    const int bx = std::max(1, int(image->width * kBorderShare));
    const int by = std::max(1, int(image->height * kBorderShare));
    double sum[3] = {0, 0, 0};
    int64_t count = 0;
    for (int y = 0; y < image->height; ++y) {
        const bool edgeRow = y < by || y >= image->height - by;
        const uint8_t* row = rowOf(image, y);
        for (int x = 0; x < image->width; ++x) {
            if (!edgeRow && x >= bx && x < image->width - bx) {
                x = image->width - bx - 1;  // skip the inside of the row
                continue;
            }
            float c[3];
            readRgb(layout, row, x, c);
            for (int k = 0; k < 3; ++k)
                sum[k] += c[k] * 255.0;
            ++count;
        }
    }
    for (int k = 0; k < 3; ++k)
        rgb[k] = sum[k] / std::max<int64_t>(1, count);
}

double distance(const float c[3], const double rgb[3]) {
    double d = 0.0;
    for (int k = 0; k < 3; ++k) {
        const double e = c[k] * 255.0 - rgb[k];
        d += e * e;
    }
    return std::sqrt(d);
}

}  // namespace
}  // namespace vexilo

using namespace vexilo;

VxlBGProfile* VXL_CreateBGProfile(void) {
    VxlBGProfile* profile = new (std::nothrow) VxlBGProfile();
    if (profile)
        std::memcpy(profile->magic, "VXLBGPR", 8);
    return profile;
}

void VXL_ReleaseBGProfile(VxlBGProfile* profile) {
    if (!isBGProfile(profile))
        return;
    profile->magic[0] = 0;
    delete profile;
}

int32_t VXL_BGSyncCalc(const VxlEngineImage* image, VxlEngineHandle engine, VxlBGProfile* profile, int32_t mode) {
    PixelLayout layout;
    const int32_t check = checkImage(image, &layout);
    if (check != VXL_OK)
        return check;
    if (!isBGProfile(profile))
        return VXL_ERR_ARGUMENT;
    borderColour(image, layout, profile->rgb);
    profile->valid = true;
    return VXL_OK;
}

int32_t VXL_RGBFromBGProfile(const VxlBGProfile* profile, double* r, double* g, double* b) {
    if (!isBGProfile(profile) || !profile->valid || !r || !g || !b)
        return VXL_ERR_ARGUMENT;
    *r = profile->rgb[0];
    *g = profile->rgb[1];
    *b = profile->rgb[2];
    return VXL_OK;
}

int32_t VXL_BGSyncApply(const VxlEngineImage* image, const uint8_t* mask, VxlEngineHandle handle, int32_t reserved,
                        double targetR, double targetG, double targetB, int32_t exposure, double r, double g,
                        double b, int32_t tolerance, int32_t background, int32_t foreground) {
    return answerOf([&]() -> int32_t {
        PixelLayout layout;
        const int32_t check = checkImage(image, &layout);
        if (check != VXL_OK)
            return check;
        const Engine* engine = engineOf(handle);
        const double measured[3] = {r, g, b};
        const double shift[3] = {(targetR - r) / 255.0, (targetG - g) / 255.0, (targetB - b) / 255.0};
        const double bgShare = std::clamp(background, 0, 100) / 100.0;
        const double fgShare = std::clamp(foreground, 0, 100) / 100.0;
        const double gain = std::exp2(std::clamp(exposure, -100, 100) / 100.0);
        const double reach = std::max(1, tolerance);  // colour distance (0..255 units) still counted as background

        forRowBands(engine && engine->singleThreaded, image->height, image->width, [&](int first, int end) {
            for (int y = first; y < end; ++y) {
                uint8_t* row = rowOf(image, y);
                const uint8_t* maskRow = mask ? mask + size_t(y) * image->width : nullptr;
                for (int x = 0; x < image->width; ++x) {
                    float c[3];
                    readRgb(layout, row, x, c);
                    const double weight = maskRow ? maskRow[x] / 255.0
                                                  : std::max(0.0, 1.0 - distance(c, measured) / reach);
                    const double share = weight * bgShare + (1.0 - weight) * fgShare;
                    if (share <= 0.0)
                        continue;
                    const double pixelGain = 1.0 + (gain - 1.0) * weight;
                    for (int k = 0; k < 3; ++k)
                        c[k] = float(c[k] * pixelGain + shift[k] * share);
                    writeRgb(layout, row, x, c);
                }
            }
        });
        return VXL_OK;
    });
}

int32_t VXL_FillBGMask(const VxlEngineImage* image, VxlEngineHandle handle, const VxlProfile* profile,
                       uint8_t* mask, const VxlBGMaskRequest* request) {
    return answerOf([&]() -> int32_t {
        PixelLayout layout;
        const int32_t check = checkImage(image, &layout);
        if (check != VXL_OK)
            return check;
        if (!mask || !request)
            return VXL_ERR_ARGUMENT;
        double bg[3];
        borderColour(image, layout, bg);
        // amount widens the colour distance that still counts as background; strength sharpens the edge.
        const double reach = 10.0 + 1.2 * std::clamp(request->amount, 0, 100);
        const double softness = 1.0 + (100 - std::clamp(request->strength, 0, 100)) / 2.0;
        for (int y = 0; y < image->height; ++y) {
            const uint8_t* row = rowOf(image, y);
            uint8_t* out = mask + size_t(y) * image->width;
            for (int x = 0; x < image->width; ++x) {
                float c[3];
                readRgb(layout, row, x, c);
                const double t = std::clamp((reach - distance(c, bg)) / softness + 0.5, 0.0, 1.0);
                out[x] = uint8_t(std::lround(t * 255.0));
            }
        }
        if (request->smooth) {
            std::vector<float> plane(size_t(image->width) * image->height);
            for (size_t i = 0; i < plane.size(); ++i)
                plane[i] = mask[i];
            const Engine* engine = engineOf(handle);
            gaussianBlurPlane(plane.data(), image->width, image->height, 1.5f, engine && engine->singleThreaded);
            for (size_t i = 0; i < plane.size(); ++i)
                mask[i] = uint8_t(std::clamp(plane[i] + 0.5f, 0.0f, 255.0f));
        }
        return VXL_OK;
    });
}
