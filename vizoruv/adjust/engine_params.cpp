// The engine parameter block, the engine adjustment, sharpening, the scaled copy and the pixel
// routines around outside libraries.
#include "vizoruv/adjust/engine_params.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

constexpr int kAutoSharpenCeiling = 150;  // where strength +100 takes the automatic amount
constexpr int kApplyAmount = 100;         // VXL_Apply's own amount: the full change

int32_t flag(bool on)
{
    return on ? 1 : 0;
}

// Offset 100 of the block: whether the engine may stretch the dynamic range.
int32_t dynamicRangeSwitch(const AdjustmentLayer& layer)
{
    switch (layer.iDynamicRangeMode) {
    case 1:
        return flag(layer.exposureOn || layer.contrastOn);
    case 2:
        return 0;
    default:
        return 1;
    }
}

}  // namespace

// ---- Pixel formats ---------------------------------------------------------------------------

bool isFourChannel(const ImageView& image)
{
    const int64_t perPixel = isSixteenBit(image) ? 8 : 4;
    return int64_t(image.rowBytes) >= perPixel * image.width;
}

int32_t enginePixelCode(bool sixteenBit, bool fourChannels, bool bgrOrder)
{
    // Rows: four channels, then bgrOrder; columns: 8-bit, 16-bit.
    static const int32_t kCodes[2][2][2] = {
        {{VXL_PIXEL_RGB8, VXL_PIXEL_RGB16}, {VXL_PIXEL_BGR8, VXL_PIXEL_BGR16}},
        {{VXL_PIXEL_RGBA8, VXL_PIXEL_RGBA16}, {VXL_PIXEL_BGRA8, VXL_PIXEL_BGRA16}},
    };
    return kCodes[fourChannels][bgrOrder][sixteenBit];
}

int32_t engineFormatCode(const ImageView& image, bool bgrOrder)
{
    return enginePixelCode(isSixteenBit(image), isFourChannel(image), bgrOrder);
}

int engineBytesPerPixel(int32_t code)
{
    switch (code) {
    case VXL_PIXEL_RGBA8:
    case VXL_PIXEL_BGRA8:
        return 4;
    case VXL_PIXEL_BGR16:
    case VXL_PIXEL_RGB16:
        return 6;
    case VXL_PIXEL_BGRA16:
    case VXL_PIXEL_RGBA16:
        return 8;
    default:
        return 3;
    }
}

VxlEngineImage engineImageRecord(const ImageView& image, bool bgrOrder)
{
    VxlEngineImage record{};
    record.width = image.width;
    record.height = image.height;
    record.rowBytes = image.rowBytes;
    record.format = engineFormatCode(image, bgrOrder);
    record.pixels = image.data[0];
    return record;
}

// ---- The parameter block and the adjustment --------------------------------------------------

void buildEngineBlock(VxlEngineParams* block, const AdjustmentLayer& layer)
{
    std::memset(block, 0, sizeof *block);
    block->enable = flag(hasEngineEffect(layer) && layer.vexoOpacity >= 1);
    block->tintOn = layer.tintOn;
    block->tintMethod = layer.tintMethod;
    block->tintScale = layer.tintScale;
    block->blackEnhance = layer.iBlackEnhance;
    block->tccOn = layer.TCCOn;
    block->tcc = layer.TCC;
    // In automatic mode the engine picks the strength itself from aggressive, governor and MinStrength.
    block->exposureStrength = layer.exposureOn && !layer.ASSOn ? layer.strength : 0;
    block->contrastOn = layer.contrastOn;
    block->contrastMode = layer.contrastMode;
    block->contrast = int32_t(layer.contrast * 100.0f);
    block->skinDepthBias = layer.skinDepthOn ? layer.skinDepthBias : 0;
    block->skinDepth = layer.skinDepthOn ? float(layer.skinDepth) / 100.0f : 0.0f;
    block->highlightPreservation = layer.iHighlightPreservation;
    block->highlightPreservationOn = flag(layer.bHighlightPreservation);
    block->sharpenScale = layer.shrp_scal_1;
    block->autoExposure = flag(layer.exposureOn && layer.ASSOn);
    block->faceAwareExposure = flag(layer.bFAE);
    block->aggressive = layer.aggressive;
    block->governor = layer.governor;
    block->skinToneCorrectionOn = layer.skinToneCorrectionOn;
    block->skinToneScale = layer.skinToneScale;
    block->lightDiffusionOn = layer.lightDiffusionOn;
    block->lightDiffusion = float(layer.iLightDiffusion) / 100.0f;
    block->dynamicRange = dynamicRangeSwitch(layer);
    block->dcfOn = layer.DCFOn;
    block->dcf = layer.DCF;
    block->fidelity = float(layer.iFidelity) / 100.0f;
    block->localContrast = layer.iLocalContrast;
    block->minStrength = layer.MinStrength;
    block->skintoneStrengthExposure = layer.iSkintoneStrengthExposure;
    block->selectiveColorOn = flag(layer.bSelectiveColor);
    block->blackWhiteOn = flag(layer.bSelectiveColor2);
    static_assert(sizeof block->selectiveColor == sizeof layer.selectiveColor, "eight records of seven int32");
    static_assert(sizeof block->blackWhite == sizeof layer.blackWhite, "eight records of seven int32");
    std::memcpy(block->selectiveColor, layer.selectiveColor, sizeof block->selectiveColor);
    std::memcpy(block->blackWhite, layer.blackWhite, sizeof block->blackWhite);
    block->noiseRemovalOn = layer.noiseRemovalOn;
    block->presetNumber = layer.presetNumber;
    block->noiseStrength = layer.noiseStrength;
    block->noiseDetail = layer.noiseDetail;
    block->dp2Density = layer.dp2_iDensity;
    block->dp2DeltaR = layer.dp2_iDeltaR;
    block->dp2DeltaG = layer.dp2_iDeltaG;
    block->dp2DeltaB = layer.dp2_iDeltaB;
    block->dp2Gamma = layer.dp2_fGamma;
    block->dp2Contrast = layer.dp2_iContrast;
    block->dp2Saturation = layer.dp2_iSaturation;
    block->dp2Mode = layer.dp2_mode;
    block->dp2Auto = flag(layer.dp2_bAuto);
    block->dp2Enable = flag(layer.dp2_bEnable);
}

bool engineAdjust(const EngineCalls& engine, const AdjustmentLayer& layer, const ImageView& image,
                  const VxlProfile* profile, void* hostRecord, bool reportStrength, int* strengthOut, bool bgrOrder)
{
    const EngineEntryPoints& entries = *engine.entries;
    if (hostRecord && entries._SetFilterRecord && engine.hostRecordHandOver)
        entries._SetFilterRecord(hostRecord);
    if (!profile || !entries.VXL_Apply)
        return false;
    const VxlEngineImage record = engineImageRecord(image, bgrOrder);
    VxlEngineParams block;
    buildEngineBlock(&block, layer);
    if (entries.VXL_Apply(&record, engine.handle, profile, &block, nullptr, kApplyAmount, nullptr) != VXL_OK)
        return false;
    if (reportStrength && strengthOut)
        *strengthOut = block.exposureStrength;
    return true;
}

// ---- Sharpening and the scaled copy ----------------------------------------------------------

int automaticSharpenStrength(float amount, int strength)
{
    const double x = amount;
    const double bent = strength >= 0 ? x + (kAutoSharpenCeiling - x) * strength / 100.0 : x + x * strength / 100.0;
    return int(std::trunc(bent));
}

bool sharpen(const EngineCalls& engine, const VxlEngineImage& image, bool enable, bool automatic, int strength,
             float radius, int mode)
{
    if (!enable)
        return true;
    const EngineEntryPoints& entries = *engine.entries;
    if (!entries.VXL_Sharpen || !entries.VXL_CalcAutoSharpness)
        return false;
    if (automatic) {
        float amount = 0.0f;
        int32_t edgePercent = 0, radiusTenths = 0;
        if (entries.VXL_CalcAutoSharpness(&image, 0, &amount, &edgePercent, &radiusTenths, 0) != VXL_OK)
            return false;
        strength = automaticSharpenStrength(amount, strength);
    }
    return entries.VXL_Sharpen(&image, strength, radius, mode) == VXL_OK;
}

void fitIntoBox(int sourceWidth, int sourceHeight, int* targetWidth, int* targetHeight)
{
    const double e = double(sourceWidth) / sourceHeight;
    double f = double(*targetWidth) / *targetHeight;
    // A landscape source in a portrait box (or the other way round) is fitted into the turned box.
    if ((e < 1.0 && f > 1.0) || (e > 1.0 && f < 1.0))
        f = 1.0 / f;
    if (f > e)
        *targetWidth = int(std::trunc(*targetHeight * e));
    else
        *targetHeight = int(std::trunc(*targetWidth / e));
}

bool scaledCopy(const EngineCalls& engine, const VxlEngineImage& source, VxlEngineImage* target, int targetWidth,
                int targetHeight, bool cropToFill)
{
    target->pixels = nullptr;
    const EngineEntryPoints& entries = *engine.entries;
    if (!entries.VXL_Sharpen || !entries.VXL_Resize || !entries.VXL_CropToFill || !entries.VXL_CalcAutoSharpness)
        return false;
    if (source.width < 1 || source.height < 1 || targetWidth < 1 || targetHeight < 1)
        return false;
    VxlEngineImage region = source;
    if (cropToFill) {
        if (entries.VXL_CropToFill(&source, &region, &targetWidth, &targetHeight) != VXL_OK)
            return false;
    } else {
        fitIntoBox(source.width, source.height, &targetWidth, &targetHeight);
    }
    if (targetWidth < 1 || targetHeight < 1)
        return false;
    target->width = targetWidth;
    target->height = targetHeight;
    target->format = source.format;
    const int64_t rowBytes = int64_t(targetWidth) * engineBytesPerPixel(source.format);
    if (rowBytes > INT32_MAX)
        return false;
    target->rowBytes = int32_t(rowBytes);
    void* pixels = std::malloc(size_t(rowBytes) * size_t(targetHeight));
    if (!pixels)
        return false;
    target->pixels = pixels;
    if (entries.VXL_Resize(&region, target) != VXL_OK) {
        std::free(pixels);
        target->pixels = nullptr;
        return false;
    }
    return true;
}

// ---- Channel swaps and copies ----------------------------------------------------------------

void swapRedBlue8Once(ImageView* view)
{
    if (isSixteenBit(*view) || view->hostOrder || !view->data[0])
        return;
    const int step = view->bytesPerPixel > 0 ? view->bytesPerPixel : (isFourChannel(*view) ? 4 : 3);
    for (int y = 0; y < view->height; ++y) {
        uint8_t* p = view->data[0] + size_t(y) * size_t(view->rowBytes);
        for (int x = 0; x < view->width; ++x, p += step)
            std::swap(p[0], p[2]);
    }
    view->hostOrder = 1;
}

void swapRedBlue16(const ImageView& image, bool bgrOrder)
{
    if (!isSixteenBit(image) || !bgrOrder || !isFourChannel(image) || !image.data[0])
        return;
    const int step = image.bytesPerPixel > 0 ? image.bytesPerPixel / 2 : 4;
    for (int y = 0; y < image.height; ++y) {
        uint8_t* row = image.data[0] + size_t(y) * size_t(image.rowBytes);
        for (int x = 0; x < image.width; ++x) {
            // Samples may sit at odd addresses in a host's buffer: move them as bytes.
            uint8_t* p = row + size_t(x) * size_t(step) * 2;
            uint8_t red[2];
            std::memcpy(red, p, 2);
            std::memcpy(p, p + 4, 2);
            std::memcpy(p + 4, red, 2);
        }
    }
}

bool copy16To8(ImageView* target, const ImageView& source)
{
    *target = ImageView{};
    if (!isSixteenBit(source) || !source.data[0] || source.width < 1 || source.height < 1)
        return false;
    const size_t rowBytes = size_t(source.width) * 3;
    auto* pixels = static_cast<uint8_t*>(std::malloc(rowBytes * size_t(source.height)));
    if (!pixels)
        return false;
    const int step = source.hasAlpha ? 4 : 3;
    for (int y = 0; y < source.height; ++y) {
        const uint8_t* in = source.data[0] + size_t(y) * size_t(source.rowBytes);
        uint8_t* out = pixels + size_t(y) * rowBytes;
        for (int x = 0; x < source.width; ++x, in += step * 2, out += 3)
            for (int c = 0; c < 3; ++c)
                out[c] = in[c * 2 + 1];  // little-endian: the high byte follows the low one
    }
    target->format = kImageFormat8;
    target->width = source.width;
    target->height = source.height;
    target->rowBytes = int32_t(rowBytes);
    target->bytesPerPixel = 3;
    target->data[0] = pixels;
    target->data[1] = pixels + 1;
    target->data[2] = pixels + 2;
    return true;
}
