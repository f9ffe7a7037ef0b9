// The table of built stages. A stage joins by adding its apply function to kEffectStages.
#include "facesdk/effects/effect_stages.h"

#include "facesdk/effects/cheek_colour.h"
#include "facesdk/effects/contour_regions.h"
#include "facesdk/effects/eye_colour_layers.h"
#include "facesdk/effects/eye_enlargement.h"
#include "facesdk/effects/eye_overlay.h"
#include "facesdk/effects/eye_templates.h"
#include "facesdk/effects/eye_tone.h"
#include "facesdk/effects/skin_softening.h"
#include "facesdk/effects/teeth_whitening.h"
#include "facesdk/effects/under_eye.h"
#include "facesdk/effects/face_warp.h"
#include "facesdk/effects/shine_reduction.h"
#include "facesdk/effects/skin_smoothing.h"
#include "facesdk/effects/skin_tone.h"
#include "facesdk/engine/params.h"

#include <mutex>

namespace {

struct EffectStageEntry {
    uint32_t bit;         // feature bit (params.h)
    FeatureStageFn apply; // the stage
};

// One entry per built stage, in feature-bit order.
const EffectStageEntry kEffectStages[] = {
    {kFeatureSmoothing, applyBoxSmoothing},
    {kFeatureEyeTone, applyEyeToneCurves},
    {kFeatureTeethWhitening, applyTeethWhitening},
    {kFeatureSkinTone, applySkinTone},
    {kFeatureEyeEnlargement, applyEyeEnlargement},
    {kFeatureShineReduction, applyShineReduction},
    {kFeatureFaceWarp, applyFaceWarp},
    {kFeatureTemplateOverlay, applyTemplateOverlay},
    {kFeatureCheekColour, applyCheekColour},
    {kFeatureEyeTemplatePairs, applyEyeTemplatePairs},
    {kFeatureEyeColourLayers, applyEyeColourLayers},
    {kFeatureContourFillTint, applyContourFillTint},
    {kFeatureEyeDarkTemplate, applyEyeDarkTemplate},
    {kFeatureContourStrokeTint, applyContourStrokeTint},
    {kFeatureContourContrast, applyContourContrast},
    {kFeatureUnderEyeBrighten, applyUnderEyeBrighten},
    {kFeatureSkinSoftening, applySkinSoftening},
    {0, nullptr}, // end marker; stages are listed above it
};

} // namespace

FeatureStageFn effectStage(uint32_t bit)
{
    for (const EffectStageEntry &entry : kEffectStages) {
        if (entry.apply && entry.bit == bit)
            return entry.apply;
    }
    return nullptr;
}

void installEffectStages()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        for (const EffectStageEntry &entry : kEffectStages) {
            if (entry.apply)
                setFeatureStage(entry.bit, entry.apply);
        }
    });
}
