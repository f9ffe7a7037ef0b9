// The beautify parameters: stage table, colour conversion, the parameter check and the
// conversions between the caller's settings and the parameter block.
#include "facesdk/engine/params.h"

#include <algorithm>
#include <cstring>

#include "facesdk/base/fixed_scale.h"
#include "facesdk/base/integer_math.h"
#include "facesdk/base/result_codes.h"

// ---- Stage table ----------------------------------------------------------------------------

const StageTableEntry kStageTable[kFeatureCount] = {
    {kFeatureSmoothing, "applyBoxSmoothing", 14, 12, 16},
    {kFeatureEyeTone, "applyEyeToneCurves", 12, 56, 8},
    {kFeatureTeethWhitening, "applyTeethWhitening", 10, 48, 8},
    {kFeatureSkinTone, "applySkinTone", 15, 28, 20},
    {kFeatureEyeEnlargement, "applyEyeEnlargement", 9, 64, 8},
    {kFeatureShineReduction, "applyShineReduction", 11, 72, 8},
    {kFeatureFaceWarp, "applyFaceWarp", 17, 80, 8},
    {kFeatureTemplateOverlay, "applyTemplateOverlay", 1, 88, 12},
    {kFeatureCheekColour, "applyCheekColour", 16, 100, 8},
    {kFeatureEyeTemplatePairs, "applyEyeTemplatePairs", 7, 108, 8},
    {kFeatureEyeColourLayers, "applyEyeColourLayers", 2, 116, 16},
    {kFeatureContourFillTint, "applyContourFillTint", 3, 132, 12},
    {kFeatureEyeDarkTemplate, "applyEyeDarkTemplate", 6, 144, 8},
    {kFeatureContourStrokeTint, "applyContourStrokeTint", 4, 152, 12},
    {kFeatureContourContrast, "applyContourContrast", 5, 164, 8},
    {kFeatureUnderEyeBrighten, "applyUnderEyeBrighten", 8, 172, 8},
    {kFeatureSkinSoftening, "applySkinSoftening", 13, 180, 8},
};

const FeatureBit kStageRunOrder[kFeatureCount] = {
    kFeatureTemplateOverlay,   kFeatureEyeColourLayers,   kFeatureContourFillTint,
    kFeatureContourStrokeTint, kFeatureContourContrast,   kFeatureEyeDarkTemplate,
    kFeatureEyeTemplatePairs,  kFeatureUnderEyeBrighten,  kFeatureEyeEnlargement,
    kFeatureTeethWhitening,    kFeatureShineReduction,    kFeatureEyeTone,
    kFeatureSkinSoftening,     kFeatureSmoothing,         kFeatureSkinTone,
    kFeatureCheekColour,       kFeatureFaceWarp,
};

int featureIndex(uint32_t bit)
{
    if (bit == 0 || (bit & (bit - 1)) != 0 || bit > kFeatureSkinSoftening)
        return -1;
    int index = 0;
    while ((1u << index) != bit)
        ++index;
    return index;
}

// ---- Colour ---------------------------------------------------------------------------------

YCbCr rgbToYCbCr(BeautyColour c)
{
    const int32_t r = c.r, g = c.g, b = c.b;
    const int32_t y = (((19654 * r + 38470 * g + 7471 * b) >> 15) + 1) >> 1;
    const int32_t cb = roundQ16(32768 * b - 21709 * g - 11059 * r) + 128;
    const int32_t cr = roundQ16(32768 * r - 27439 * g - 5329 * b) + 128;
    return {uint8_t(y), clampByte(cb), clampByte(cr)};
}

// ---- Stored settings ------------------------------------------------------------------------

namespace {

// Where the settings keep each feature's strength.
int32_t *strengthField(StageSettings &s, uint32_t bit)
{
    switch (bit) {
    case kFeatureSmoothing: return &s.smoothing.strength;
    case kFeatureEyeTone: return &s.eyeToneStrength;
    case kFeatureTeethWhitening: return &s.teethStrength;
    case kFeatureSkinTone: return &s.skinTone.strength;
    case kFeatureEyeEnlargement: return &s.eyeEnlargementStrength;
    case kFeatureShineReduction: return &s.shineStrength;
    case kFeatureFaceWarp: return &s.warpStrength;
    case kFeatureTemplateOverlay: return &s.overlay.strength;
    case kFeatureCheekColour: return &s.cheek.strength;
    case kFeatureEyeTemplatePairs: return &s.eyePairs.strength;
    case kFeatureEyeColourLayers: return &s.eyeLayers.strength;
    case kFeatureContourFillTint: return &s.contourFill.strength;
    case kFeatureEyeDarkTemplate: return &s.eyeDark.strength;
    case kFeatureContourStrokeTint: return &s.contourStroke.strength;
    case kFeatureContourContrast: return &s.contourContrast.strength;
    case kFeatureUnderEyeBrighten: return &s.underEyeStrength;
    case kFeatureSkinSoftening: return &s.softeningStrength;
    default: return nullptr;
    }
}

// Levels and counts: 0 becomes 1, values above the maximum become the maximum.
uint8_t clampLevel(uint8_t level, uint8_t maximum) { return std::clamp<uint8_t>(level, 1, maximum); }

bool inRange(int32_t v, int32_t low, int32_t high) { return v >= low && v <= high; }

// Size and strength of a sub-block, read at the offsets the stage table gives.
uint32_t subBlockSize(const BeautyParams &block, const StageTableEntry &entry)
{
    uint32_t size;
    std::memcpy(&size, reinterpret_cast<const uint8_t *>(&block) + entry.subBlockOffset, 4);
    return size;
}

uint8_t subBlockStrength(const BeautyParams &block, const StageTableEntry &entry)
{
    return reinterpret_cast<const uint8_t *>(&block)[entry.subBlockOffset + 4];
}

// The features in the order of their sub-blocks, which is the order the check handles them.
constexpr uint32_t kCheckOrder[kFeatureCount] = {
    kFeatureSmoothing,        kFeatureSkinTone,          kFeatureTeethWhitening,
    kFeatureEyeTone,          kFeatureEyeEnlargement,    kFeatureShineReduction,
    kFeatureFaceWarp,         kFeatureTemplateOverlay,   kFeatureCheekColour,
    kFeatureEyeTemplatePairs, kFeatureEyeColourLayers,   kFeatureContourFillTint,
    kFeatureEyeDarkTemplate,  kFeatureContourStrokeTint, kFeatureContourContrast,
    kFeatureUnderEyeBrighten, kFeatureSkinSoftening,
};

// End of the sub-blocks a block of this size carries; 0 for a size the check refuses. The
// bytes 80 to 87 of an 88-byte block are not read.
uint32_t carriedEnd(uint32_t size)
{
    switch (size) {
    case kParamsSizeShort:
    case kParamsSizeShortReserved: return 80;
    case kParamsSizeWarp: return 88;
    case kParamsSizeFull: return 188;
    default: return 0;
    }
}

// Checks and stores the arguments of one present feature. false: an argument out of range.
bool storeArguments(StageSettings &s, const BeautyParams &b, uint32_t bit)
{
    switch (bit) {
    case kFeatureSmoothing:
        if (!inRange(b.smoothing.level & 0xff, 1, 3) || !inRange(b.smoothing.regionMode, 1, 2))
            return false;
        s.smoothing.level = b.smoothing.level;
        s.smoothing.regionMode = b.smoothing.regionMode;
        return true;
    case kFeatureSkinTone: {
        if (!inRange(b.skinTone.variant, 1, 2) || !inRange(b.skinTone.mode, 1, 5))
            return false;
        s.skinTone.mode = b.skinTone.mode;
        s.skinTone.variant = b.skinTone.variant;
        const YCbCr colour = rgbToYCbCr(b.skinTone.colour);
        s.skinTone.cb = colour.cb;
        s.skinTone.cr = colour.cr;
        return true;
    }
    case kFeatureTemplateOverlay:
        if (!inRange(b.templateOverlay.templateNumber, 1, 5))
            return false;
        s.overlay.templateNumber = b.templateOverlay.templateNumber;
        return true;
    case kFeatureCheekColour:
        s.cheek.colour = rgbToYCbCr(b.cheekColour.colour);
        return true;
    case kFeatureEyeTemplatePairs:
        s.eyePairs.level1 = clampLevel(b.eyeTemplatePairs.level1, 6);
        s.eyePairs.level2 = clampLevel(b.eyeTemplatePairs.level2, 6);
        return true;
    case kFeatureEyeColourLayers:
        s.eyeLayers.style = clampLevel(b.eyeColourLayers.style, 4);
        for (int i = 0; i < 3; ++i)
            s.eyeLayers.colours[i] = rgbToYCbCr(b.eyeColourLayers.colours[i]);
        return true;
    case kFeatureContourFillTint:
        s.contourFill.colour = rgbToYCbCr(b.contourFillTint.colour);
        s.contourFill.extra = b.contourFillTint.extra;
        return true;
    case kFeatureEyeDarkTemplate:
        s.eyeDark.level = clampLevel(b.eyeDarkTemplate.level, 6);
        return true;
    case kFeatureContourStrokeTint:
        s.contourStroke.colour = rgbToYCbCr(b.contourStrokeTint.colour);
        s.contourStroke.extra = b.contourStrokeTint.extra;
        return true;
    case kFeatureContourContrast:
        s.contourContrast.level = clampLevel(b.contourContrast.level, 3);
        return true;
    default:
        return true;  // strength only
    }
}

}  // namespace

int32_t stageStrength(const StageSettings &s, uint32_t bit)
{
    const int32_t *field = strengthField(const_cast<StageSettings &>(s), bit);
    return field ? *field : 0;
}

// ---- Conversions and the check --------------------------------------------------------------

int storeParams(StageSettings *settings, const BeautyParams *block)
{
    if (!settings || !block)
        return kResultBadArgument;
    const uint32_t end = carriedEnd(block->size);
    if (end == 0)
        return kResultBadArgument;
    // Every carried sub-block is checked before anything is stored.
    for (const StageTableEntry &entry : kStageTable) {
        const uint32_t size = entry.subBlockOffset < end ? subBlockSize(*block, entry) : 0;
        if (size != 0 && size != entry.subBlockSize)
            return kResultBadArgument;
    }
    settings->quality = inRange(block->quality, 1, 3) ? block->quality : 3;
    settings->flags = block->flags;
    settings->smoothing.level = 1;
    // Features go in sub-block order; a range error stops here with the earlier ones stored.
    for (const uint32_t bit : kCheckOrder) {
        const StageTableEntry *entry = &kStageTable[featureIndex(bit)];
        if (entry->subBlockOffset >= end)
            continue;
        int32_t &strength = *strengthField(*settings, entry->bit);
        if (subBlockSize(*block, *entry) == 0 || subBlockStrength(*block, *entry) == 0) {
            strength = 0;
            settings->mask &= ~uint32_t(entry->bit);
            continue;
        }
        strength = subBlockStrength(*block, *entry);
        if (!storeArguments(*settings, *block, entry->bit))
            return kResultBadArgument;
        settings->mask |= entry->bit;
    }
    // The reserved value lies at 192: only a full block holds it; shorter blocks end before it.
    if (block->size == kParamsSizeFull)
        std::memcpy(settings->reservedValue, block->reservedValue, sizeof settings->reservedValue);
    return kResultOk;
}

namespace {

BeautyColour colourOfCell(int32_t cell)
{
    return {uint8_t(cell), uint8_t(cell >> 8), uint8_t(cell >> 16)};
}

int32_t cellOfColour(BeautyColour c) { return c.r | (c.g << 8) | (c.b << 16); }

}  // namespace

void settingsToParams(const BeautySettings &s, BeautyParams *b)
{
    std::memset(b, 0, sizeof *b);
    b->size = kParamsSizeFull;
    b->flags = 3;
    b->quality = 3;
    for (const StageTableEntry &entry : kStageTable)
        std::memcpy(reinterpret_cast<uint8_t *>(b) + entry.subBlockOffset, &entry.subBlockSize, 4);
    b->smoothing.strength = uint8_t(s.smoothingStrength);
    b->smoothing.regionMode = s.smoothingRegionMode;
    b->smoothing.level = uint32_t(s.smoothingLevel);
    b->eyeTone.strength = uint8_t(s.eyeToneStrength);
    b->teethWhitening.strength = uint8_t(s.teethStrength);
    b->skinTone.strength = uint8_t(s.skinToneStrength);
    b->skinTone.variant = s.skinToneVariant;
    b->skinTone.mode = s.skinToneMode;
    b->skinTone.colour = colourOfCell(s.skinToneColour);
    b->eyeEnlargement.strength = uint8_t(s.eyeEnlargementStrength);
    b->shineReduction.strength = uint8_t(s.shineStrength);
    b->faceWarp.strength = uint8_t(s.warpStrength);
    b->templateOverlay.strength = uint8_t(s.overlayStrength);
    b->templateOverlay.templateNumber = s.overlayTemplate;
    b->cheekColour.strength = uint8_t(s.cheekStrength);
    b->cheekColour.colour = colourOfCell(s.cheekColour);
    b->eyeTemplatePairs.strength = uint8_t(s.eyePairsStrength);
    b->eyeTemplatePairs.level1 = uint8_t(s.eyePairsLevel1);
    b->eyeTemplatePairs.level2 = uint8_t(s.eyePairsLevel2);
    b->eyeColourLayers.strength = uint8_t(s.eyeLayersStrength);
    b->eyeColourLayers.style = uint8_t(s.eyeLayersStyle);
    std::memcpy(b->eyeColourLayers.colours, s.eyeLayersColours, 9);
    b->contourFillTint.strength = uint8_t(s.contourFillStrength);
    b->contourFillTint.colour = colourOfCell(s.contourFillColour);
    b->eyeDarkTemplate.strength = uint8_t(s.eyeDarkStrength);
    b->eyeDarkTemplate.level = uint8_t(s.eyeDarkLevel);
    b->contourStrokeTint.strength = uint8_t(s.contourStrokeStrength);
    b->contourStrokeTint.colour = colourOfCell(s.contourStrokeColour);
    b->contourContrast.strength = uint8_t(s.contourContrastStrength);
    b->contourContrast.level = uint8_t(s.contourContrastLevel);
    b->underEyeBrighten.strength = uint8_t(s.underEyeStrength);
    b->skinSoftening.strength = uint8_t(s.softeningStrength);
}

void paramsToSettings(const BeautyParams &b, BeautySettings *s)
{
    std::memset(s, 0, sizeof *s);
    s->smoothingStrength = b.smoothing.strength;
    s->smoothingRegionMode = b.smoothing.regionMode;
    s->smoothingLevel = int32_t(b.smoothing.level);
    s->eyeToneStrength = b.eyeTone.strength;
    s->teethStrength = b.teethWhitening.strength;
    s->skinToneStrength = b.skinTone.strength;
    s->skinToneVariant = b.skinTone.variant;
    s->skinToneMode = b.skinTone.mode;
    s->skinToneColour = cellOfColour(b.skinTone.colour);
    s->eyeEnlargementStrength = b.eyeEnlargement.strength;
    s->shineStrength = b.shineReduction.strength;
    s->warpStrength = b.faceWarp.strength;
    s->overlayStrength = b.templateOverlay.strength;
    s->overlayTemplate = b.templateOverlay.templateNumber;
    s->cheekStrength = b.cheekColour.strength;
    s->cheekColour = cellOfColour(b.cheekColour.colour);
    s->eyePairsStrength = b.eyeTemplatePairs.strength;
    s->eyePairsLevel1 = b.eyeTemplatePairs.level1;
    s->eyePairsLevel2 = b.eyeTemplatePairs.level2;
    s->eyeLayersStrength = b.eyeColourLayers.strength;
    s->eyeLayersStyle = b.eyeColourLayers.style;
    std::memcpy(s->eyeLayersColours, b.eyeColourLayers.colours, 9);
    s->contourFillStrength = b.contourFillTint.strength;
    s->contourFillColour = cellOfColour(b.contourFillTint.colour);
    s->eyeDarkStrength = b.eyeDarkTemplate.strength;
    s->eyeDarkLevel = b.eyeDarkTemplate.level;
    s->contourStrokeStrength = b.contourStrokeTint.strength;
    s->contourStrokeColour = cellOfColour(b.contourStrokeTint.colour);
    s->contourContrastStrength = b.contourContrast.strength;
    s->contourContrastLevel = b.contourContrast.level;
    s->underEyeStrength = b.underEyeBrighten.strength;
    s->softeningStrength = b.skinSoftening.strength;
}
