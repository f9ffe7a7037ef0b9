// Image analysis: VXL_Calc builds a profile (tone histogram and exposure estimate, colour cast,
// noise, descriptors, the faces and their skin) and the profile queries read it.
#include "modules/correction/vexilo_exports.h"

#include "modules/correction/engine.h"
#include "modules/correction/faces.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace vexilo {
namespace {

constexpr int kMinAnalysedSide = 8;
constexpr int kMaxSamplesPerSide = 1024;   // larger images are sampled on a grid
constexpr double kMiddleGrey = 0.18;       // linear key the exposure estimate aims at
constexpr double kMaxExposureEv = 2.0;
constexpr double kCastNorm = 4.0;          // Minkowski norm of the colour-cast estimate
constexpr double kNoiseThresholdBase = 1.5;  // sigma above which level 0 reports noise
constexpr double kNoiseThresholdStep = 1.0;  // added per level
constexpr double kDefaultTintThreshold = 0.06;

// Luma of every sampled pixel (0..1, gamma-encoded) on a grid of at most 1024 x 1024.
struct LumaGrid {
    int width = 0, height = 0;
    std::vector<float> luma;
};

double percentile(const uint32_t histogram[256], uint32_t total, double share) {
    const double wanted = share * total;
    double seen = 0.0;
    for (int i = 0; i < 256; ++i) {
        seen += histogram[i];
        if (seen >= wanted)
            return i / 255.0;
    }
    return 1.0;
}

void analyseTone(VxlProfile* profile, const PixelLayout& layout, const VxlEngineImage* image, LumaGrid* grid) {
    const int stepX = std::max(1, image->width / kMaxSamplesPerSide);
    const int stepY = std::max(1, image->height / kMaxSamplesPerSide);
    grid->width = (image->width + stepX - 1) / stepX;
    grid->height = (image->height + stepY - 1) / stepY;
    grid->luma.assign(size_t(grid->width) * grid->height, 0.0f);

    double lumaSum = 0.0, logSum = 0.0;
    double castSum[3] = {0, 0, 0};
    uint32_t castCount = 0;
    uint32_t samples = 0;
    for (int gy = 0; gy < grid->height; ++gy) {
        const uint8_t* row = rowOf(image, gy * stepY);
        for (int gx = 0; gx < grid->width; ++gx) {
            float rgb[3];
            readRgb(layout, row, gx * stepX, rgb);
            const float luma = lumaOf(rgb);
            grid->luma[size_t(gy) * grid->width + gx] = luma;
            const int bin = std::min(255, int(luma * 255.0f + 0.5f));
            ++profile->lumaHistogram[bin];
            for (int c = 0; c < 3; ++c)
                ++profile->channelHistogram[c][std::min(255, int(rgb[c] * 255.0f + 0.5f))];
            lumaSum += luma;
            logSum += std::log(srgbToLinear(luma) + 1e-4);
            ++samples;

            // Colour-cast evidence: every pixel that is neither dark nor clipped.
            const float mx = std::max({rgb[0], rgb[1], rgb[2]});
            if (luma > 0.05f && mx < 0.98f) {
                for (int c = 0; c < 3; ++c)
                    castSum[c] += std::pow(srgbToLinear(rgb[c]), kCastNorm);
                ++castCount;
            }
        }
    }
    profile->samples = samples;
    profile->meanLuma = lumaSum / samples;
    profile->keyLinear = std::exp(logSum / samples);
    profile->exposureEv = std::clamp(std::log2(kMiddleGrey / profile->keyLinear), -kMaxExposureEv, kMaxExposureEv);
    profile->blackPoint = percentile(profile->lumaHistogram, samples, 0.005);
    profile->whitePoint = percentile(profile->lumaHistogram, samples, 0.995);

    // Colour cast ("shades of grey"): the p-norm mean of each channel should be equal in a
    // balanced picture; the norm leans on bright surfaces, which mostly reflect the light's colour.
    for (int c = 0; c < 3; ++c)
        profile->channelMean[c] = castCount ? std::pow(castSum[c] / castCount, 1.0 / kCastNorm) : 0.0;
    const double grey = kLumaR * profile->channelMean[0] + kLumaG * profile->channelMean[1] +
                        kLumaB * profile->channelMean[2];
    profile->colourValid = grey > 1e-4;
    profile->castStrength = 0.0;
    if (profile->colourValid)
        for (int c = 0; c < 3; ++c)
            profile->castStrength = std::max(profile->castStrength, std::fabs(profile->channelMean[c] / grey - 1.0));
}

// Noise: the fast estimate from the response to a Laplacian difference kernel, which cancels
// smooth structure; edges are left out so that they do not count as noise.
void analyseNoise(VxlProfile* profile, const LumaGrid& grid) {
    if (grid.width < 3 || grid.height < 3) {
        profile->flags |= VXL_PROFILE_NO_NOISE;
        return;
    }
    std::vector<double> responses;
    responses.reserve(size_t(grid.width - 2) * (grid.height - 2));
    auto at = [&](int x, int y) { return double(grid.luma[size_t(y) * grid.width + x]) * 255.0; };
    for (int y = 1; y < grid.height - 1; ++y)
        for (int x = 1; x < grid.width - 1; ++x) {
            const double v = at(x - 1, y - 1) - 2 * at(x, y - 1) + at(x + 1, y - 1) - 2 * at(x - 1, y) +
                             4 * at(x, y) - 2 * at(x + 1, y) + at(x - 1, y + 1) - 2 * at(x, y + 1) +
                             at(x + 1, y + 1);
            const double gx = at(x + 1, y) - at(x - 1, y), gy = at(x, y + 1) - at(x, y - 1);
            if (std::fabs(gx) + std::fabs(gy) < 40.0)
                responses.push_back(std::fabs(v));
        }
    if (responses.empty()) {
        profile->noiseSigma = 0.0;
        return;
    }
    double sum = 0.0;
    for (double r : responses)
        sum += r;
    // For white noise of deviation s the mean absolute response is s * 6 * sqrt(2 / pi).
    profile->noiseSigma = sum / responses.size() / 6.0 * std::sqrt(M_PI / 2.0);
}

void analyseDescriptors(VxlProfile* profile, const PixelLayout& layout, const VxlEngineImage* image,
                        const LumaGrid& grid) {
    const int bins = kDescriptorCount / 3;
    std::vector<uint32_t> colours(4096, 0);
    const int stepX = std::max(1, image->width / kMaxSamplesPerSide);
    const int stepY = std::max(1, image->height / kMaxSamplesPerSide);
    double histogram[kDescriptorCount] = {};
    uint32_t samples = 0;
    for (int gy = 0; gy < grid.height; ++gy) {
        const uint8_t* row = rowOf(image, gy * stepY);
        for (int gx = 0; gx < grid.width; ++gx) {
            float rgb[3];
            readRgb(layout, row, gx * stepX, rgb);
            int key = 0;
            for (int c = 0; c < 3; ++c) {
                histogram[c * bins + std::min(bins - 1, int(rgb[c] * bins))] += 1.0;
                key = key * 16 + std::min(15, int(rgb[c] * 16.0f));
            }
            ++colours[key];
            ++samples;
        }
    }
    for (int i = 0; i < kDescriptorCount; ++i)
        profile->descriptors[i] = float(histogram[i] / samples);

    profile->colourCount = int32_t(std::count_if(colours.begin(), colours.end(), [](uint32_t n) { return n > 0; }));
    std::partial_sort(colours.begin(), colours.begin() + 16, colours.end(), std::greater<uint32_t>());
    double top = 0.0;
    for (int i = 0; i < 16; ++i)
        top += colours[i];
    profile->descriptorB = float(top / samples);

    double gradient = 0.0;
    for (int y = 0; y + 1 < grid.height; ++y)
        for (int x = 0; x + 1 < grid.width; ++x) {
            const float v = grid.luma[size_t(y) * grid.width + x];
            gradient += std::fabs(grid.luma[size_t(y) * grid.width + x + 1] - v) +
                        std::fabs(grid.luma[size_t(y + 1) * grid.width + x] - v);
        }
    const double pairs = std::max(1.0, double(grid.width - 1) * (grid.height - 1));
    profile->descriptorA = float(std::min(1.0, gradient / pairs * 4.0));
    profile->cartoonFlag = profile->colourCount < 512 && profile->descriptorB > 0.5f ? 1 : 0;
    profile->descriptorsValid = true;
}

}  // namespace
}  // namespace vexilo

using namespace vexilo;

VxlProfile* VXL_Calc(const VxlEngineImage* image, void* reserved, VxlEngineHandle engine, uint32_t mask,
                     int32_t iso, const char* camera, void* reserved2, void* reserved3, int32_t extra,
                     VxlEngineHandle engine2) {
    VxlProfile* profile = new (std::nothrow) VxlProfile();
    if (!profile)
        return nullptr;
    std::memcpy(profile->magic, "VXLPROF", 8);
    profile->mask = mask;
    profile->iso = iso;
    profile->extra = extra;
    if (camera)
        std::snprintf(profile->camera, sizeof profile->camera, "%s", camera);

    PixelLayout layout;
    const int32_t check = checkImage(image, &layout);
    if (check != VXL_OK) {
        profile->status = check == VXL_ERR_FORMAT ? VXL_STATUS_BAD_FORMAT : VXL_STATUS_BAD_ARGUMENT;
        profile->flags = VXL_PROFILE_FAILED | VXL_PROFILE_NO_NOISE;
        return profile;
    }
    profile->width = image->width;
    profile->height = image->height;
    if (image->width < kMinAnalysedSide || image->height < kMinAnalysedSide) {
        profile->status = VXL_STATUS_TOO_SMALL;
        profile->flags = VXL_PROFILE_FAILED | VXL_PROFILE_NO_NOISE;
        return profile;
    }

    try {
        // Tone and colour are the base of every correction: always analysed.
        LumaGrid grid;
        analyseTone(profile, layout, image, &grid);
        if (mask & VXL_CALC_NOISE)
            analyseNoise(profile, grid);
        else
            profile->flags |= VXL_PROFILE_NO_NOISE;
        if (mask & VXL_CALC_DESCRIPT)
            analyseDescriptors(profile, layout, image, grid);
        // Pictures with one side more than 20 times the other hold no faces worth searching.
        if (!(mask & VXL_CALC_EXTREME))
            findFaceAreas(profile, layout, image);
        profile->status = VXL_STATUS_OK;
    } catch (const std::bad_alloc&) {
        profile->status = VXL_STATUS_NO_MEMORY;
        profile->flags = VXL_PROFILE_FAILED | VXL_PROFILE_NO_NOISE;
        profile->descriptorsValid = false;
        profile->faceCount = 0;
        profile->skin = SkinReading();
        return profile;
    }
    rememberSkin(profile->skin);
    return profile;
}

void VXL_ReleaseProfile(VxlProfile* profile) {
    if (!isProfile(profile))
        return;
    profile->magic[0] = 0;
    delete profile;
}

uint8_t VXL_IsNoiseDetected(const VxlProfile* profile, int32_t level) {
    if (!isProfile(profile) || (profile->flags & (VXL_PROFILE_FAILED | VXL_PROFILE_NO_NOISE)))
        return 0;
    const double threshold = kNoiseThresholdBase + kNoiseThresholdStep * std::clamp(level, 0, 4);
    return profile->noiseSigma > threshold ? 1 : 0;
}

uint8_t VXL_AbnormalTintDetected(const VxlProfile* profile, int32_t threshold) {
    if (!isProfile(profile) || (profile->flags & VXL_PROFILE_FAILED) || !profile->colourValid)
        return 0;
    // threshold: percent of cast that counts as abnormal; 0 or less takes the engine's own.
    const double limit = threshold > 0 ? threshold / 100.0 : kDefaultTintThreshold;
    return profile->castStrength > limit ? 1 : 0;
}

int32_t VXL_GetCartoonDetectionDescriptors(const VxlProfile* profile, float* buffer, int32_t* count, float* a,
                                           float* b, int32_t* colours, int32_t* flag) {
    if (!isProfile(profile) || !profile->descriptorsValid) {
        if (count)
            *count = 0;
        return VXL_ERR_ARGUMENT;
    }
    if (count)
        *count = kDescriptorCount;
    if (a)
        *a = profile->descriptorA;
    if (b)
        *b = profile->descriptorB;
    if (colours)
        *colours = profile->colourCount;
    if (flag)
        *flag = profile->cartoonFlag;
    if (buffer)
        std::memcpy(buffer, profile->descriptors, sizeof profile->descriptors);
    return VXL_OK;
}
