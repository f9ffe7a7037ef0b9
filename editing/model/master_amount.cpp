// The master amount: targets of the scalable parameters and the scaling itself.
#include "editing/model/master_amount.h"

#include <algorithm>
#include <cstring>

#include "manager/app/environment.h"

namespace {

struct UberTarget {
    const char* name;
    float target;
};

const UberTarget kTargets[] = {
    {"iStrength", 150.0f},      {"iTCC", 200.0f},         {"fTintScale", 1.5f},
    {"iNoiseSensitivity", 6.0f}, {"fSkinToneScale", 1.0f}, {"fContrast", 1.0f},
    {"shrp_scal_1", 2.0f},      {"iBlackEnhance", 25.0f}, {"iFinishPositiveContrast", 200.0f},
    {"iLocalContrast", 50.0f},  {"iSkinDepth", 200.0f},
};

constexpr float kDefaultTarget = 100.0f;

// Scales v towards target T (w > 0) or towards 0 (w <= 0); w is the clamped amount -100..100.
// The order of operations is fixed: the rendered values must match to the last bit.
float scaled(float v, float target, int w)
{
    const float amount = static_cast<float>(w);
    if (w > 0)
        return ((target - v) * amount) / 100.0f + v;
    return 0.0f - ((amount + 100.0f) * v) / -100.0f;
}

// As scaled, but between an upper bound and a lower bound instead of a target and zero.
float scaledBetween(float v, float upper, float lower, int w)
{
    const float amount = static_cast<float>(w);
    if (w > 0)
        return ((upper - v) * amount) / 100.0f + v;
    return lower - ((amount + 100.0f) * (v - lower)) / -100.0f;
}

void scaleField(float& field, const char* name, int w) { field = scaled(field, uberTarget(name), w); }
void scaleField(std::int32_t& field, const char* name, int w)
{
    field = static_cast<std::int32_t>(scaled(static_cast<float>(field), uberTarget(name), w));
}

} // namespace

float uberTarget(const char* name)
{
    if (!name)
        return kDefaultTarget;
    for (const UberTarget& entry : kTargets)
        if (std::strcmp(entry.name, name) == 0)
            return entry.target;
    return kDefaultTarget;
}

void applyUberValue(const UberParams& source, VXLParams* result)
{
    // A base at either end would divide by zero below.
    int base = source.uberBase;
    if (base == 100)
        base = 99;
    else if (base == -100)
        base = -99;

    const int d = source.uberValue - 100;
    const int u = d > base ? (d - base) * 100 / (100 - base) : source.uberValue * 100 / (base + 100) - 100;

    VXLParams& p = *result;
    p = source.params;
    // With automatic exposure on, the scaled strength would not count.
    if (p.bGroupTone && p.exposureOn && u != 0)
        p.ASSOn = false;

    const int w = std::clamp(u, -100, 100);
    scaleField(p.tintScale, "fTintScale", w);
    scaleField(p.TCC, "iTCC", w);
    scaleField(p.strength, "iStrength", w);
    scaleField(p.contrast, "fContrast", w);
    scaleField(p.shrp_scal_1, "shrp_scal_1", w);
    scaleField(p.skinToneScale, "fSkinToneScale", w);

    p.noiseStrength = static_cast<std::int32_t>(scaledBetween(static_cast<float>(p.noiseStrength), 30.0f, -30.0f, w));
    // Detail moves against the amount.
    const int against = std::clamp(-u, -100, 100);
    p.noiseDetail = static_cast<std::int32_t>(scaledBetween(static_cast<float>(p.noiseDetail), 5.0f, -5.0f, against));

    if (!AppEnvironment::isPhotoIdentity()) {
        scaleField(p.skinDepth, "iSkinDepth", w);
        scaleField(p.fbSmooth, "iVexilosmooth", w);
        scaleField(p.fbTeeth, "iTeeth", w);
        scaleField(p.fbFaceSlim, "iFaceslim", w);
        scaleField(p.fbEyeEnhance, "iEyeenh", w);
        scaleField(p.fbEyeEnlarge, "iEyeenl", w);
        scaleField(p.fbEyeCircles, "iEyecirc", w);
        scaleField(p.fbCatchlight, "iCatchlight", w);
        scaleField(p.fbBlemish, "iBlemish", w);
        scaleField(p.fbDeflash, "iDeflash", w);
        scaleField(p.fbSkinToning, "iSkinToning", w);
        scaleField(p.fbBlush, "iBlush", w);
        scaleField(p.fbLipSharp, "iLipSharpen", w);
    }

    scaleField(p.iBlackEnhance, "iBlackEnhance", w);
    scaleField(p.iHighlightPreservation, "iHighlightPreservation", w);
    scaleField(p.iFidelity, "iFidelity", w);
    scaleField(p.iLightDiffusion, "iLightDiffusion", w);
    scaleField(p.iBuiltinInLutSky, "iBuiltinInLutSky", w);
    scaleField(p.iBuiltinInLutFoliageGreen, "iBuiltinInLutFoliageGreen", w);
    scaleField(p.iBuiltinInLutFoliageBrown, "iBuiltinInLutFoliageBrown", w);
    scaleField(p.iFinishPositiveContrast, "iFinishPositiveContrast", w);
    scaleField(p.iLocalContrast, "iLocalContrast", w);
}
