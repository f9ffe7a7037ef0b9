// The table of the effect stages. A stage joins by taking its feature's slot.
#include "facesdk/effects/effect_stages.h"

#include "facesdk/effects/cheek_colour.h"
#include "facesdk/effects/contour_regions.h"
#include "facesdk/effects/eye_colour_layers.h"
#include "facesdk/effects/eye_enlargement.h"
#include "facesdk/effects/eye_overlay.h"
#include "facesdk/effects/eye_templates.h"
#include "facesdk/effects/eye_tone.h"
#include "facesdk/effects/face_warp.h"
#include "facesdk/effects/shine_reduction.h"
#include "facesdk/effects/skin_smoothing.h"
#include "facesdk/effects/skin_softening.h"
#include "facesdk/effects/skin_tone.h"
#include "facesdk/effects/teeth_whitening.h"
#include "facesdk/effects/under_eye.h"

namespace {

struct EffectStageEntry {
    uint32_t bit;          // feature bit (params.h)
    FeatureStageFn apply;  // the stage
};

constexpr EffectStageEntry kEffectStages[] = {
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
};

// Each entry in the slot of its bit (the feature index is the bit's position).
constexpr FeatureStageTable tableOf(const EffectStageEntry (&entries)[kFeatureCount])
{
    FeatureStageTable table{};
    for (const EffectStageEntry &entry : entries) {
        int index = 0;
        while ((entry.bit >> index) != 1)
            ++index;
        table.stages[index] = entry.apply;
    }
    return table;
}

}  // namespace

// Constant-initialised: no code runs at start-up to fill it.
constexpr FeatureStageTable kEffectStageTable = tableOf(kEffectStages);
