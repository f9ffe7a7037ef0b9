// VXL_Apply: the automatic correction of one image from its profile and a parameter block.
//
// Noise removal runs first, on the colours the noise was measured on. Tint gains, exposure,
// highlight shoulder, black point and contrast are all functions of one channel value, so they are
// folded into one table per channel (256 or 65536 entries) and the pixel loop only looks values
// up; vibrance, which mixes channels, runs per pixel afterwards.
#include "modules/correction/vexilo_exports.h"

#include "modules/correction/denoise.h"
#include "modules/correction/engine.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vexilo {
namespace {

constexpr int kMaxStrength = 150;       // percent of the estimated exposure change
constexpr double kMinGain = 0.5, kMaxGain = 2.0;  // limits of a tint gain
constexpr double kMaxContrastBend = 0.5;  // S-curve bend at contrast 100
constexpr double kMaxBlackLift = 0.1;     // black point removed at black enhance 100
constexpr double kShoulderKnee = 0.7;     // linear value where the highlight roll-off starts

struct Plan {
    double gain[3] = {1.0, 1.0, 1.0};  // linear gain per channel (tint and exposure)
    double shoulder = 0.0;             // 0 = clip highlights, 1 = full roll-off
    double whiteLinear = 1.0;          // largest linear gain: above 1 highlights need the shoulder
    double blackPoint = 0.0;           // gamma-encoded value that becomes 0
    double contrastBend = 0.0;
    double amount = 1.0;               // share of the change kept, 0..1
    double vibrance = 0.0;             // -1..1
};

// The strength the engine uses: the block's, or in automatic mode its own from the bias and the
// lower limit. The governor caps the change the automatic mode may make.
int chooseStrength(const VxlEngineParams& params) {
    if (!params.autoExposure)
        return std::clamp(params.exposureStrength, 0, kMaxStrength);
    const int floor = std::clamp(params.minStrength, 0, kMaxStrength);
    return std::clamp(100 + params.aggressive, floor, kMaxStrength);
}

Plan makePlan(const VxlProfile* profile, VxlEngineParams* params, int amount) {
    Plan plan;
    plan.amount = std::clamp(amount, 0, 100) / 100.0;
    const bool haveProfile = isProfile(profile) && !(profile->flags & VXL_PROFILE_FAILED);

    const int strength = chooseStrength(*params);
    params->exposureStrength = strength;
    double ev = haveProfile ? profile->exposureEv * strength / 100.0 : 0.0;
    if (params->autoExposure) {
        const double limit = 0.5 + 1.5 * std::clamp(params->governor, 0, 100) / 100.0;
        ev = std::clamp(ev, -limit, limit);
    }
    const double exposureGain = std::exp2(ev);

    double tint[3] = {1.0, 1.0, 1.0};
    if (params->tintOn && haveProfile && profile->colourValid) {
        const double share = params->tintScale > 0.0f ? std::min(1.0, double(params->tintScale)) : 1.0;
        const double grey = kLumaR * profile->channelMean[0] + kLumaG * profile->channelMean[1] +
                            kLumaB * profile->channelMean[2];
        for (int c = 0; c < 3; ++c)
            if (profile->channelMean[c] > 1e-6)
                tint[c] = std::clamp(std::pow(grey / profile->channelMean[c], share), kMinGain, kMaxGain);
    }
    for (int c = 0; c < 3; ++c)
        plan.gain[c] = tint[c] * exposureGain;

    // Brightening pushes highlights past white; a shoulder rolls them off instead of clipping.
    const double maxGain = std::max({plan.gain[0], plan.gain[1], plan.gain[2]});
    plan.whiteLinear = std::max(1.0, maxGain);
    plan.shoulder = params->highlightPreservationOn ? 0.5 + 0.5 * std::clamp(params->highlightPreservation, 0, 100) / 100.0
                                                    : 0.5;
    if (haveProfile)
        plan.blackPoint = std::min(profile->blackPoint, kMaxBlackLift) * std::clamp(params->blackEnhance, 0, 100) / 100.0;
    if (params->contrastOn)
        plan.contrastBend = kMaxContrastBend * std::clamp(params->contrast, 0, 100) / 100.0;
    if (params->tccOn)
        plan.vibrance = std::clamp(params->tcc, -100, 100) / 100.0;
    return plan;
}

double toneOf(const Plan& plan, int channel, double value) {
    double linear = srgbToLinear(value) * plan.gain[channel];
    if (plan.whiteLinear > 1.0 && linear > kShoulderKnee) {
        // Above the knee the brightened values roll off towards white (slope 1 at the knee)
        // instead of clipping; the shoulder setting mixes the two.
        const double room = 1.0 - kShoulderKnee;
        const double rolled = kShoulderKnee + room * (1.0 - std::exp(-(linear - kShoulderKnee) / room));
        linear = plan.shoulder * rolled + (1.0 - plan.shoulder) * std::min(linear, 1.0);
    }
    double g = linearToSrgb(std::min(linear, 1.0));
    if (plan.blackPoint > 0.0)
        g = (g - plan.blackPoint) / (1.0 - plan.blackPoint);
    g = clamp01(g);
    if (plan.contrastBend > 0.0)
        g = clamp01(g - plan.contrastBend * std::sin(2.0 * M_PI * g) / (2.0 * M_PI));
    return value + (g - value) * plan.amount;
}

template <typename Sample>
void applyTables(const VxlEngineImage* image, const PixelLayout& layout, const Plan& plan, bool single) {
    const int levels = layout.maxValue() + 1;
    std::vector<Sample> tables[3];
    for (int c = 0; c < 3; ++c) {
        tables[c].resize(levels);
        for (int v = 0; v < levels; ++v)
            tables[c][v] = Sample(std::lround(toneOf(plan, c, double(v) / layout.maxValue()) * layout.maxValue()));
    }
    const int index[3] = {layout.red, layout.green, layout.blue};
    forRowBands(single, image->height, image->width, [&](int first, int end) {
        for (int y = first; y < end; ++y) {
            Sample* p = reinterpret_cast<Sample*>(rowOf(image, y));
            for (int x = 0; x < image->width; ++x, p += layout.channels)
                for (int c = 0; c < 3; ++c)
                    p[index[c]] = tables[c][p[index[c]]];
        }
    });
}

// Vibrance: saturation changes most where colours are muted, so skin and saturated colours keep
// their look.
void applyVibrance(const VxlEngineImage* image, const PixelLayout& layout, double vibrance, bool single) {
    forRowBands(single, image->height, image->width, [&](int first, int end) {
        for (int y = first; y < end; ++y) {
            uint8_t* row = rowOf(image, y);
            for (int x = 0; x < image->width; ++x) {
                float rgb[3];
                readRgb(layout, row, x, rgb);
                const float mx = std::max({rgb[0], rgb[1], rgb[2]});
                const float mn = std::min({rgb[0], rgb[1], rgb[2]});
                if (mx <= 0.0f)
                    continue;
                const double saturation = (mx - mn) / mx;
                const double factor = vibrance > 0.0 ? 1.0 + vibrance * (1.0 - saturation) : 1.0 + vibrance;
                const float luma = lumaOf(rgb);
                for (float& v : rgb)
                    v = float(luma + (v - luma) * factor);
                writeRgb(layout, row, x, rgb);
            }
        }
    });
}

}  // namespace
}  // namespace vexilo

using namespace vexilo;

int32_t VXL_Apply(const VxlEngineImage* image, VxlEngineHandle handle, const VxlProfile* profile,
                  VxlEngineParams* params, void* reserved, int32_t amount, void* reserved2) {
    return answerOf([&]() -> int32_t {
        PixelLayout layout;
        const int32_t check = checkImage(image, &layout);
        if (check != VXL_OK)
            return check;
        if (!params)
            return VXL_ERR_ARGUMENT;
        if (!params->enable)
            return VXL_OK;
        const Engine* engine = engineOf(handle);
        const bool single = engine && engine->singleThreaded;

        const Plan plan = makePlan(profile, params, amount);
        if (params->noiseRemovalOn && isProfile(profile) && !(profile->flags & (VXL_PROFILE_FAILED | VXL_PROFILE_NO_NOISE))) {
            // noiseStrength: percent of the smoothing (0 takes all of it); noiseDetail: percent of fine
            // texture kept.
            const double share = params->noiseStrength > 0 ? std::min(params->noiseStrength, 100) / 100.0 : 1.0;
            removeNoise(image, layout, profile->noiseSigma, share * plan.amount,
                        std::clamp(params->noiseDetail, 0, 100) / 100.0, single);
        }
        if (layout.bytesPerSample == 1)
            applyTables<uint8_t>(image, layout, plan, single);
        else
            applyTables<uint16_t>(image, layout, plan, single);
        if (plan.vibrance != 0.0 && plan.amount > 0.0)
            applyVibrance(image, layout, plan.vibrance * plan.amount, single);
        return VXL_OK;
    });
}
