// Per-face suggested settings: the fixed suggestion and the box check of each face.
#include "facesdk/engine/suggested_settings.h"

#include <algorithm>
#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/row_bands.h"

namespace {

constexpr BeautyColour kWarmSkin = {254, 140, 107};
constexpr BeautyColour kRose = {254, 107, 140};

}  // namespace

void writeSuggestionDefaults(BeautyParams *block)
{
    std::memset(block, 0, sizeof *block);
    block->size = kParamsSizeFull;
    block->flags = 3;
    block->quality = 3;
    block->smoothing.size = sizeof block->smoothing;
    block->skinTone.size = sizeof block->skinTone;
    block->skinTone.colour = kWarmSkin;
    for (BeautyParams::Simple *simple :
         {&block->teethWhitening, &block->eyeTone, &block->eyeEnlargement, &block->shineReduction,
          &block->faceWarp, &block->underEyeBrighten, &block->skinSoftening})
        simple->size = sizeof *simple;
    block->templateOverlay.size = sizeof block->templateOverlay;
    block->templateOverlay.templateNumber = 1;
    block->cheekColour.size = sizeof block->cheekColour;
    block->cheekColour.colour = kWarmSkin;
    block->eyeTemplatePairs.size = sizeof block->eyeTemplatePairs;
    block->eyeColourLayers.size = sizeof block->eyeColourLayers;
    for (BeautyColour &colour : block->eyeColourLayers.colours)
        colour = kRose;
    block->contourFillTint.size = sizeof block->contourFillTint;
    block->contourFillTint.colour = kRose;
    block->eyeDarkTemplate.size = sizeof block->eyeDarkTemplate;
    block->contourStrokeTint.size = sizeof block->contourStrokeTint;
    block->contourStrokeTint.colour = kWarmSkin;
    block->contourContrast.size = sizeof block->contourContrast;
}

void writeSuggestionStrengths(BeautyParams *block)
{
    block->smoothing.strength = 105;
    block->smoothing.level = 1;
    block->smoothing.regionMode = 1;
    block->eyeTone.strength = 71;
    block->teethWhitening.strength = 50;
    block->skinTone.strength = 30;
    block->skinTone.mode = 1;
    block->skinTone.variant = 1;
    block->faceWarp.strength = 35;
    block->underEyeBrighten.strength = 130;
    block->skinSoftening.strength = 146;
    // The other ten stay off.
    block->eyeEnlargement.strength = 0;
    block->shineReduction.strength = 0;
    block->templateOverlay.strength = 0;
    block->cheekColour.strength = 0;
    block->eyeTemplatePairs.strength = 0;
    block->eyeColourLayers.strength = 0;
    block->contourFillTint.strength = 0;
    block->eyeDarkTemplate.strength = 0;
    block->contourStrokeTint.strength = 0;
    block->contourContrast.strength = 0;
}

int checkSuggestionBox(const EngineImage *image, const EngineRect &box)
{
    if (!imageValid(image) || box.x < 0 || box.y < 0 || box.width <= 0 || box.height <= 0 ||
        int64_t(box.x) + box.width > image->width || int64_t(box.y) + box.height > image->height)
        return kResultBadArgument;
    const int32_t q = std::max(box.width, box.height) / 2;
    EngineRect r = {box.x + q / 2, box.y + q / 2, box.width - q, box.height - q};
    evenRectGrownForFamily(&r, image->format);
    r.x = std::clamp(r.x, 0, image->width);
    r.y = std::clamp(r.y, 0, image->height);
    r.width = std::min(r.width, image->width - r.x);
    r.height = std::min(r.height, image->height - r.y);
    return r.width > 0 && r.height > 0 ? kResultOk : kResultBadArgument;
}

int innerAnalyzeFaces(InnerEngine *inner, EngineImage *image, FaceWork *faces, int32_t count,
                      BeautyParams *results)
{
    if (!inner)
        return kResultBadArgument;
    inner->operationsUsed |= kInnerUsedAnalyze;
    const BandWorkersScope bands(inner->workers);
    if (!faces || count <= 0 || !results)
        return kResultBadArgument;
    for (int32_t i = 0; i < count; ++i)
        writeSuggestionDefaults(&results[i]);
    int result = kResultOk;
    for (int32_t i = 0; i < count; ++i) {
        writeSuggestionStrengths(&results[i]);
        // Only the last face's check is the answer.
        result = checkSuggestionBox(image, faces[i].box);
    }
    return result;
}
