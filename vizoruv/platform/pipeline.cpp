// The processing pipeline: the run state (progress and stop), the table groups, one layer
// (processImage), the further masked layers and the whole-image finishing steps
// (renderAdjustmentSet), and the small steps.
#include "vizoruv/platform/pipeline.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "sys/threads/row_bands.h"
#include "vizoruv/adjust/adjustment_set.h"
#include "vizoruv/adjust/background_mask.h"
#include "vizoruv/adjust/colour_tables.h"
#include "vizoruv/adjust/engine_params.h"
#include "vizoruv/adjust/lut_apply.h"
#include "vizoruv/adjust/lut_catalogue.h"
#include "vizoruv/adjust/mask_planes.h"
#include "vizoruv/adjust/masked_blend.h"
#include "vizoruv/adjust/tone_curve.h"
#include "vizoruv/io/host_filter_record.h"
#include "vizoruv/platform/correction_report.h"
#include "vizoruv/platform/engine_session.h"
#include "vizoruv/platform/red_eye.h"
#include "vizoruv/platform/vxl_platform_win.h"

namespace {

constexpr int kFullStrength = 100;
constexpr int kMaskSide = 1024;              // layer masks are drawn on a square of this side
constexpr int kAutoStrengthFlagOffset = 4;   // report: byte set when the engine chose the strength
constexpr int kAutoStrengthOffset = 8;       // report: int32, the strength it chose
constexpr int kBackgroundSyncMode = 1;

// ---- Run state ----------------------------------------------------------------------------------

// What one render carries from step to step: the caller's run and whether it was stopped. A cancel
// answer of the callback stays in force for the rest of the render.
struct RenderState {
    PipelineRun& run;
    PipelineHooks hooks;
    bool stopped = false;
    int hostStep = 1;     // the host's progress counts from 1
    int ownStep = 0;      // the step counter when the caller gave none

    explicit RenderState(PipelineRun& r) : run(r), hooks(r.platform ? r.platform->pipelineHooks() : PipelineHooks()) {}

    int& step() { return run.step ? *run.step : ownStep; }

    // Reports the step and counts it; only a run that reports progress reports or stops.
    void progress()
    {
        if (!run.reportsProgress)
            return;
        if (run.progress && run.progress(step(), run.total, run.progressData) != 0)
            stopped = true;
        ++step();
        if (run.stopFlag && run.stopFlag->load())
            stopped = true;
    }

    // The host's own progress bar, when the host record is also the callback's user data.
    void hostProgress()
    {
        HostFilterRecord* host = run.hostRecord;
        if (host && static_cast<void*>(host) == run.progressData && host->progress)
            host->progress(hostStep++, run.total);
    }
};

EngineCalls engineCallsOf(const VXLPlatformWin* platform)
{
    return EngineCalls{&platform->engine(), platform->engineHandle(), platform->hostRecordHandOver()};
}

// The view of other pixels in the image's geometry.
ImageView viewWithPixels(const ImageView& image, std::uint8_t* pixels)
{
    ImageView view = image;
    const int sample = isSixteenBit(image) ? 2 : 1;
    for (int c = 0; c < 3; ++c)
        view.data[c] = pixels ? pixels + c * sample : nullptr;
    return view;
}

// Pixels to work on, with rows long enough for their pixels (3 or 4 samples of the image's size).
bool usableImage(const ImageView& image)
{
    const std::int64_t sampleBytes = isSixteenBit(image) ? 2 : 1;
    return image.data[0] && image.width > 0 && image.height > 0 &&
           std::int64_t(image.rowBytes) >= 3 * sampleBytes * image.width;
}

size_t imageBytes(const ImageView& image)
{
    return size_t(image.rowBytes) * size_t(image.height);
}

// Runs a step that works pixel by pixel over bands of the image's rows, each band on a thread of its
// own and seen by the step as a picture of its own.
template <typename Step>
void inRowBands(const ImageView& image, const Step& step)
{
    struct Job {
        const ImageView* image;
        const Step* step;
    } job{&image, &step};
    sys::runRowBands(image.height, sys::rowBandCount(image.height), [](void* context, sys::RowBand band) {
        const Job& j = *static_cast<const Job*>(context);
        ImageView rows = *j.image;
        for (std::uint8_t*& channel : rows.data)
            channel += std::ptrdiff_t(band.first) * rows.rowBytes;
        rows.height = band.end - band.first;
        (*j.step)(rows);
    }, &job);
}

// ---- Tables -------------------------------------------------------------------------------------

struct TableUse {
    Lut3D* table;  // from the catalogue or the run; null takes no part
    int strength;
};

Lut3D* loadBuiltIn(LutCollection* luts, const char* key)
{
    return loadLut(luts, key, true);
}

// One of a pair by the sign of a value: the first for values above 0, the second otherwise.
Lut3D* loadBySign(LutCollection* luts, int value, const char* positiveKey, const char* negativeKey)
{
    return loadBuiltIn(luts, value > 0 ? positiveKey : negativeKey);
}

// Composes the group into one table and applies it once; when a composition fails, applies the
// tables one by one in their order instead.
void applyTableGroup(const std::vector<TableUse>& group, const ImageView& image, bool bgrOrder)
{
    std::unique_ptr<Lut3D> composed = createLut3D();
    bool allComposed = composed != nullptr;
    for (const TableUse& use : group)
        if (allComposed && !composeLut(composed.get(), use.table, use.strength))
            allComposed = false;
    if (allComposed) {
        applyLut(composed.get(), image, bgrOrder, kFullStrength);
        return;
    }
    for (const TableUse& use : group)
        applyLut(use.table, image, bgrOrder, use.strength);
}

// The tables a layer names, resolved once at the start of processImage.
struct LayerTables {
    Lut3D* input = nullptr;
    Lut3D* output = nullptr;
    Lut3D* sky = nullptr;
    Lut3D* foliageGreen = nullptr;
    Lut3D* foliageBrown = nullptr;
    Lut3D* vibrancy = nullptr;
    Lut3D* darkSkin = nullptr;
    Lut3D* neutralDensity = nullptr;
    Lut3D* splitWarm = nullptr;
    Lut3D* splitCold = nullptr;
    Lut3D* skinTone = nullptr;
};

LayerTables resolveTables(VXLPlatformWin* platform, const AdjustmentLayer& layer)
{
    LayerTables t;
    LutCollection* luts = &platform->luts();
    t.input = loadLutById(luts, layer.inLUT, false);
    t.output = loadLutById(luts, layer.outLUT, false);
    if (layer.bBuiltinInLutSky)
        t.sky = loadLutById(luts, layer.guidBuiltinInlutSky, true);
    if (layer.bBuiltinInLutFoliage) {
        t.foliageGreen = loadLutById(luts, layer.guidBuiltinInlutFoliageGreen, true);
        t.foliageBrown = loadLutById(luts, layer.guidBuiltinInlutFoliageBrown, true);
    }
    if (layer.bBuiltinOutLutVibrancy)
        t.vibrancy = loadBuiltIn(luts, kLutKeyOutVibrancy);
    if (layer.bDarkSkin)
        t.darkSkin = loadBuiltIn(luts, kLutKeyDarkSkin);
    if (layer.bNeutralDensity)
        t.neutralDensity = loadBuiltIn(luts, kLutKeyNeutralDensity);
    if (layer.bSplitColor) {
        if (layer.iSplitColorWarm != 0)
            t.splitWarm = loadBySign(luts, layer.iSplitColorWarm, kLutKeySplitWarmPlus, kLutKeySplitWarmMinus);
        if (layer.iSplitColorCold != 0)
            t.splitCold = loadBySign(luts, layer.iSplitColorCold, kLutKeySplitColdPlus, kLutKeySplitColdMinus);
    }
    int first = 0, second = 0;
    const std::string key = platform->GetAutoSkintoneParameters(unsigned(layer.iSkintoneType), &first, &second);
    if (layer.iSkintoneStrengthLut != 0 && !key.empty())
        t.skinTone = loadBuiltIn(luts, key.c_str());
    return t;
}

std::vector<TableUse> firstTableGroup(const LayerTables& t, const AdjustmentLayer& layer)
{
    return {{t.neutralDensity, layer.iNeutralDensity},       {t.input, layer.iInLUTstrength},
            {t.sky, layer.iBuiltinInLutSky},                 {t.foliageGreen, layer.iBuiltinInLutFoliageGreen},
            {t.foliageBrown, layer.iBuiltinInLutFoliageBrown}, {t.skinTone, layer.iSkintoneStrengthLut}};
}

bool groupHasWork(const std::vector<TableUse>& group)
{
    return std::any_of(group.begin(), group.end(), [](const TableUse& u) { return u.table && u.strength != 0; });
}

void applySecondTableGroup(const LayerTables& t, const AdjustmentLayer& layer, const ImageView& image, bool bgrOrder)
{
    // The output table is bent on a copy: the catalogue's table stays as it was read.
    std::unique_ptr<Lut3D> output;
    if (t.output) {
        output = createLut3D();
        if (output) {
            *output = *t.output;
            applyCurvesAndSaturationToLut(output.get(), layer.iOutLUTcontrast, layer.iOutLUTsaturation);
        }
    }
    applyTableGroup({{t.vibrancy, layer.iBuiltinOutLutVibrancy},
                     {t.darkSkin, layer.iDarkSkin},
                     {output.get(), layer.iOutLUTstrength},
                     {t.splitWarm, std::abs(layer.iSplitColorWarm)},
                     {t.splitCold, std::abs(layer.iSplitColorCold)}},
                    image, bgrOrder);
}

// The finishing tables: each setting picks the first of its pair for a value above 0, else the
// second with the negated value as strength.
void applyFinishingTables(LutCollection* luts, const AdjustmentLayer& layer, const ImageView& image, bool bgrOrder)
{
    struct Finishing {
        bool on;
        int value;
        const char* positiveKey;
        const char* negativeKey;
    };
    const Finishing settings[] = {
        {layer.bFinishSaturation, layer.iFinishSaturation, kLutKeySaturationFirst, kLutKeySaturationSecond},
        {layer.bFinishTemp, layer.iFinishTemp, kLutKeyTempFirst, kLutKeyTempSecond},
        {layer.bFinishTint, layer.iFinishTint, kLutKeyTintFirst, kLutKeyTintSecond},
        {layer.bFinishVibrancy, layer.iFinishVibrancy, kLutKeyVibrancyFirst, kLutKeyVibrancySecond},
    };
    std::vector<TableUse> group;
    for (const Finishing& f : settings) {
        if (!f.on)
            continue;
        group.push_back({loadBySign(luts, f.value, f.positiveKey, f.negativeKey), f.value > 0 ? f.value : -f.value});
    }
    if (!group.empty())
        applyTableGroup(group, image, bgrOrder);
}

void applyFinishingTone(const AdjustmentLayer& layer, const ImageView& image, bool bgrOrder)
{
    if (!(layer.bFinishExposure || layer.bFinishContrast || layer.bFinishShadows || layer.bFinishBlacks ||
          layer.bFinishWhites || layer.bFinishHighlights || layer.bFinishPositiveContrast || layer.bToneWhitePoint ||
          layer.bToneBlackPoint))
        return;
    int whites = layer.bFinishWhites ? layer.iFinishWhites : 0;
    if (layer.bToneWhitePoint)
        whites -= layer.iToneWhitePoint;
    int blacks = layer.bFinishBlacks ? layer.iFinishBlacks : 0;
    if (layer.bToneBlackPoint)
        blacks += layer.iToneBlackPoint;
    inRowBands(image, [&](const ImageView& rows) {
        applyFinishingCurve(rows.data[0], rows.rowBytes, rows.width, rows.height, isSixteenBit(rows), bgrOrder,
                            isFourChannel(rows), layer.bFinishExposure ? layer.iFinishExposure : 0,
                            layer.bFinishContrast ? layer.iFinishContrast : 0,
                            layer.bFinishShadows ? layer.iFinishShadows : 0, blacks, whites,
                            layer.bFinishHighlights ? layer.iFinishHighlights : 0,
                            layer.bFinishPositiveContrast ? layer.iFinishPositiveContrast : 0);
    });
}

// ---- Sessions -----------------------------------------------------------------------------------

// A new session with the current pixels analysed (no face or red-eye detection); null when the
// analysis failed.
std::unique_ptr<EngineSession> analyseCurrentPixels(const EngineSession& session, const ImageView& image,
                                                    bool noise, bool bgrOrder)
{
    auto fresh = std::make_unique<EngineSession>(session.platform);
    AnalysisRequest request;
    request.engineAnalysis = true;
    request.noiseDetection = noise;
    request.bgrOrder = bgrOrder;
    request.detector = session.detector;
    const ImageView noFaceView{};
    if (analyseImage(fresh.get(), image, image, noFaceView, session.iso, session.camera, true, nullptr, request) !=
        kAnalysisOk)
        return nullptr;
    return fresh;
}

void applyDynamicColour(VXLPlatformWin* platform, const EngineSession& session, const AdjustmentLayer& layer,
                        const ImageView& image, bool bgrOrder)
{
    const bool haveTables = !session.tableA.empty() && !session.tableB.empty() &&
                            session.tableC.size() >= kWeightGridEntries * sizeof(int32_t);
    auto* user = static_cast<PipelineUserObject*>(platform->GetUserData());
    if (user && user->applyDynamicColour(image.data[0], isSixteenBit(image), bgrOrder, isFourChannel(image), image.width,
                                         image.height, image.rowBytes, haveTables ? session.tableA.data() : nullptr,
                                         haveTables ? session.tableB.data() : nullptr,
                                         haveTables ? session.tableC.data() : nullptr, layer.iDynamic,
                                         layer.iDynamicWB))
        return;
    if (!haveTables)
        return;
    ColourModelTables tables{session.tableA.data(), session.tableB.data(),
                             reinterpret_cast<const std::int32_t*>(session.tableC.data())};
    applyColourModel(image.data[0], image.rowBytes, image.width, image.height, isSixteenBit(image), isFourChannel(image),
                     tables, layer.iDynamic, bgrOrder, layer.iDynamicWB);
}

void storeAutomaticStrength(CorrectionReport* report, int strength)
{
    auto* bytes = reinterpret_cast<std::uint8_t*>(report);
    bytes[kAutoStrengthFlagOffset] = 1;
    const std::int32_t value = strength;
    std::memcpy(bytes + kAutoStrengthOffset, &value, sizeof value);
}

// ---- One layer ----------------------------------------------------------------------------------

bool renderLayer(const ImageView& image, const AdjustmentLayer& original, EngineSession* session,
                 CorrectionReport* report, const std::uint8_t* sourcePixels, RenderState& state)
{
    PipelineRun& run = state.run;
    VXLPlatformWin* platform = run.platform;
    const bool bgrOrder = run.bgrOrder;
    const EngineCalls engine = engineCallsOf(platform);
    // The pre-passes switch parts of the layer off for the later steps; they work on a copy so the
    // caller's layer never changes.
    AdjustmentLayer layer = original;
    const LayerTables tables = resolveTables(platform, layer);
    bool rewritten = false;  // the pixels no longer match the session's analysis
    bool changed = false;    // a pre-pass changed the colours: the engine needs a fresh analysis

    // AI colour pre-pass.
    if (layer.dp2_bEnable && session) {
        VXLParams block{};
        block.dp2_iDensity = layer.dp2_iDensity;
        block.dp2_iDeltaR = layer.dp2_iDeltaR;
        block.dp2_iDeltaG = layer.dp2_iDeltaG;
        block.dp2_iDeltaB = layer.dp2_iDeltaB;
        block.dp2_fGamma = layer.dp2_fGamma;
        block.dp2_iContrast = layer.dp2_iContrast;
        block.dp2_iSaturation = layer.dp2_iSaturation;
        block.dp2_mode = 0;
        block.dp2_bAuto = layer.dp2_bAuto;
        block.dp2_bEnable = true;
        AdjustmentLayer colourLayer;
        initLayerDefaults(&colourLayer);
        fillLayerFromParams(&colourLayer, block);
        engineAdjust(engine, colourLayer, image, session->profile, nullptr, false, nullptr, bgrOrder);
        layer.dp2_bEnable = false;
        changed = true;
    }

    if (layer.bPreprocessEV) {
        inRowBands(image, [&](const ImageView& rows) {
            applyExposureCurve(rows.data[0], rows.rowBytes, rows.width, rows.height, isSixteenBit(rows), bgrOrder,
                               isFourChannel(rows), layer.iPreprocessEV);
        });
        rewritten = true;
    }
    state.progress();
    state.hostProgress();

    const std::vector<TableUse> firstGroup = firstTableGroup(tables, layer);
    if (!state.stopped && groupHasWork(firstGroup)) {
        rewritten = true;
        applyTableGroup(firstGroup, image, bgrOrder);
        state.progress();
    }

    // Dynamic colour model, from tables that describe the pixels as they are now.
    if (!state.stopped && layer.bDynamic && layer.iDynamic > 0 && session) {
        std::unique_ptr<EngineSession> current;
        if (rewritten)
            current = analyseCurrentPixels(*session, image, false, bgrOrder);
        const EngineSession& model = current ? *current : *session;
        applyDynamicColour(platform, model, layer, image, bgrOrder);
        changed = true;
    }

    // Noise pre-pass on a fresh analysis of the changed pixels.
    std::unique_ptr<EngineSession> engineSession;
    const bool noiseWasOn = layer.noiseRemovalOn != 0;
    bool noisePassRan = false;
    if (!state.stopped && changed && session) {
        engineSession = analyseCurrentPixels(*session, image, true, bgrOrder);
        if (layer.noiseRemovalOn) {
            AdjustmentLayer noiseLayer;
            initLayerDefaults(&noiseLayer);
            VXLParams zero{};
            fillLayerFromParams(&noiseLayer, zero);
            noiseLayer.noiseRemovalOn = layer.noiseRemovalOn;
            noiseLayer.presetNumber = layer.presetNumber;
            noiseLayer.noiseStrength = layer.noiseStrength;
            noiseLayer.noiseDetail = layer.noiseDetail;
            noiseLayer.noiseMode = layer.noiseMode;
            noiseLayer.vexoOpacity = layer.vexoOpacity;
            engineAdjust(engine, noiseLayer, image, session->profile, nullptr, false, nullptr, bgrOrder);
            layer.noiseRemovalOn = 0;
            noisePassRan = true;
        }
    }
    state.progress();
    state.hostProgress();

    // The correction engine.
    if (!state.stopped && hasEngineEffect(layer) && layer.vexoOpacity > 0 && session) {
        EngineSession* engineWork = engineSession ? engineSession.get() : session;
        const bool reportStrength = layer.exposureOn && layer.ASSOn;
        int strength = 0;
        const bool applied = engineAdjust(engine, layer, image, engineWork->profile, run.hostRecord, reportStrength,
                                          &strength, bgrOrder);
        if (layer.bPortraitLight && state.hooks.applyPortraitLight)
            state.hooks.applyPortraitLight(engineWork, image, bgrOrder, layer.iPortraitLight,
                                           layer.iPortraitLightDepth, layer.iPortraitLightFeather);
        engineSession.reset();
        if (applied && reportStrength && report)
            storeAutomaticStrength(report, strength);
        if (noisePassRan)
            layer.noiseRemovalOn = noiseWasOn ? 1 : 0;
        state.progress();
    }
    engineSession.reset();

    // Opacity: the unedited image shows through by (100 - vexoOpacity) %.
    state.hostProgress();
    if (!state.stopped && sourcePixels) {
        const ImageView source = viewWithPixels(image, const_cast<std::uint8_t*>(sourcePixels));
        maskedBlend(source, image, layer.vexoOpacity, nullptr, false);
        state.progress();
    }

    state.hostProgress();
    if (!state.stopped && layer.redEyeOn && session) {
        correctRedEyes(session, image, bgrOrder);
        state.progress();
    }

    state.hostProgress();
    if (!state.stopped && hasFaceEffect(layer) && session) {
        if (state.hooks.beautifyFaces) {
            const AdjustmentLayer faceLayer = layer;
            state.hooks.beautifyFaces(session, image, faceLayer, bgrOrder);
        }
        state.progress();
    }

    // From here on the steps run even after a stop: they are cheap and end the layer's look.
    state.hostProgress();
    applySecondTableGroup(tables, layer, image, bgrOrder);
    applyChannelOffsets(image, layer.iDeltaR, layer.iDeltaG, layer.iDeltaB, bgrOrder);
    applyFinishingTone(layer, image, bgrOrder);
    applyFinishingTables(&platform->luts(), layer, image, bgrOrder);
    state.hostProgress();
    return !state.stopped;
}

// ---- Further layers and the finishing steps -------------------------------------------------------

// The layer's mask placed on the image as one byte per pixel; empty without a rasteriser.
MaskPlane layerMaskPlane(const RenderState& state, const ImageView& image, const LayerMask& mask,
                         const MaskTransform& transform)
{
    if (!state.hooks.rasterizeMask || image.height < 1 || transform.scaleY == 0.0f)
        return MaskPlane();
    float aspect = transform.scaleX / transform.scaleY * float(image.width) / float(image.height);
    if (isOddQuarter(transform.angle))
        aspect = 1.0f / aspect;
    float scale = 1.0f;
    const std::vector<std::uint8_t> drawn = state.hooks.rasterizeMask(mask, aspect, &scale, kMaskSide);
    if (drawn.size() < size_t(kMaskSide) * kMaskSide * 3)
        return MaskPlane();
    const MaskPlane turned = transformMaskPlane(mask, drawn.data(), kMaskSide, aspect, scale, transform, kSampleBicubic);
    if (turned.pixels.empty())
        return MaskPlane();
    return placeMaskPlane(image.width, image.height, transform, mask, turned.pixels.data(), turned.width,
                          turned.height, false);
}

void blendThroughMask(const ImageView& working, const ImageView& image, const MaskPlane& plane, const LayerMask& mask)
{
    ImageView maskView{};
    maskView.format = kImageFormat8;
    maskView.width = plane.width;
    maskView.height = plane.height;
    maskView.rowBytes = plane.rowBytes;
    maskView.bytesPerPixel = 1;
    maskView.data[0] = const_cast<std::uint8_t*>(plane.pixels.data());
    // The ellipse is drawn as its outside, so its invert flag reads the other way round.
    const bool invert = (mask.invert != 0) != (mask.type == kMaskEllipse);
    maskedBlend(working, image, kFullStrength, &maskView, invert);
}

void syncBackground(const ImageView& image, const AdjustmentLayer& first, PipelineRun& run)
{
    VXLPlatformWin* platform = run.platform;
    const EngineEntryPoints& e = platform->engine();
    const bool force = run.report && run.report->force;
    if (!e.VXL_CreateBGProfile || !e.VXL_BGSyncCalc || !e.VXL_RGBFromBGProfile || !(force || first.bgmOn))
        return;
    VxlBGProfile* profile = e.VXL_CreateBGProfile();
    if (!profile)
        return;
    const VxlEngineImage record = engineImageRecord(image, run.bgrOrder);
    e.VXL_BGSyncCalc(&record, platform->engineHandle(), profile, kBackgroundSyncMode);
    double r = 0, g = 0, b = 0;
    e.VXL_RGBFromBGProfile(profile, &r, &g, &b);
    if (force) {
        const auto low = [](double v) { return std::uint32_t(std::int64_t(std::trunc(v)) & 0xff); };
        run.report->backgroundColour = std::int32_t(low(r) << 16 | low(g) << 8 | low(b));
        run.report->backgroundFound = 1;
    }
    if (first.bgmOn && e.VXL_BGSyncApply) {
        VXLParams block{};
        exportLayerToParams(first, &block);
        // A picture of its own brings its masks along; the open image's are sized by its facts.
        BackgroundMaskCache* cache = run.backgroundCache ? run.backgroundCache : platform->backgroundCache();
        bool isRaw = false;
        std::string camera, lens;
        int width = 0, height = 0, iso = 0;
        float aperture = 0, focal = 0, bias = 0, shutter = 0;
        bool fullSize = true;  // a picture of its own is rendered at its full size
        if (!run.backgroundCache) {
            if (platform->GetImageInfo(&isRaw, &camera, &lens, &width, &height, &iso, &aperture, &focal, &bias,
                                       &shutter) == 0)
                fullSize = image.width == width;
            else if (cache)
                fillBackgroundMask(cache, block, image.data[0], image.width, image.height, image.rowBytes,
                                   isSixteenBit(image), run.bgrOrder, isFourChannel(image));
        }
        const std::uint8_t* mask = cache ? getBackgroundMask(cache, block, fullSize) : nullptr;
        // A mask of another size than the image would be read past its end: go without one.
        if (mask && (fullSize ? cache->fullWidth != image.width || cache->fullHeight != image.height
                              : cache->displayWidth != image.width || cache->displayHeight != image.height))
            mask = nullptr;
        const std::uint32_t target = std::uint32_t(first.bgmMode);
        e.VXL_BGSyncApply(&record, mask, platform->engineHandle(), 0, double((target >> 16) & 0xff),
                          double((target >> 8) & 0xff), double(target & 0xff), first.bgm_iExposure, r, g, b,
                          first.bgm_iTolerance, first.bgm_iBG, first.bgm_iFG);
    }
    if (e.VXL_ReleaseBGProfile)
        e.VXL_ReleaseBGProfile(profile);
}

void finishWholeImage(const ImageView& image, const AdjustmentLayer& first, PipelineRun& run)
{
    const EngineCalls engine = engineCallsOf(run.platform);
    const VxlEngineImage record = engineImageRecord(image, run.bgrOrder);
    if (first.bLocalContrast)
        sharpen(engine, record, true, false, first.iLocalContrast,
                float(localContrastRadius(image.width, image.height)), 0);
    if (first.sharpenOn)
        sharpen(engine, record, true, false, int(std::trunc(first.shrp_scal_1 * 100.0f)), 1.0f, 0);
    syncBackground(image, first, run);
}

}  // namespace

// ---- Entries ------------------------------------------------------------------------------------

bool processImage(const ImageView& image, const AdjustmentLayer& layer, EngineSession* session,
                  CorrectionReport* report, const std::uint8_t* sourcePixels, PipelineRun& run)
{
    if (!usableImage(image) || !run.platform)
        return false;
    RenderState state(run);
    return renderLayer(image, layer, session, report, sourcePixels, state);
}

bool renderAdjustmentSet(const ImageView& image, PipelineRun& run)
{
    if (!run.set || isBypassed(*run.set) || run.set->layers.empty())
        return true;
    if (!usableImage(image) || !run.platform)
        return false;
    const AdjustmentSet& set = *run.set;
    RenderState state(run);
    const int passes = passCount(set);
    const std::uint8_t* source = run.source && run.source->pixels && run.source->rowBytes == image.rowBytes &&
                                         run.source->height == image.height
                                     ? run.source->pixels
                                     : nullptr;
    bool result = renderLayer(image, set.layers[0], run.session, run.report, source, state);
    if (passes < 2 || set.count() < 2) {
        finishWholeImage(image, set.layers[0], run);
        return result;
    }

    // The first layer's result feeds layers 1 and 2; layer 3 starts from the blended image; later
    // layers from what the one before left in the working copy.
    const size_t bytes = imageBytes(image);
    std::vector<std::uint8_t> firstResult, working;
    try {
        firstResult.assign(image.data[0], image.data[0] + bytes);
        working.resize(bytes);
    } catch (const std::bad_alloc&) {
        return false;  // no room for the further layers: the caller keeps its earlier result
    }
    const ImageView workingView = viewWithPixels(image, working.data());
    int renderedPasses = 1;
    for (int i = 1; i < set.count(); ++i) {
        const LayerMask& mask = i < int(set.masks.size()) ? set.masks[i] : defaultLayerMask();
        if (mask.type == kMaskNone)
            continue;
        if (i <= 2)
            std::copy(firstResult.begin(), firstResult.end(), working.begin());
        else if (i == 3)
            std::copy(image.data[0], image.data[0] + bytes, working.begin());
        // Progress continues from the passes already rendered, so it never runs backwards.
        if (run.step)
            *run.step = int(std::int64_t(renderedPasses) * run.total / passes);
        ++renderedPasses;
        const MaskPlane plane = layerMaskPlane(state, image, mask, set.transform);
        if (plane.pixels.empty())
            continue;
        result = renderLayer(workingView, set.layers[i], run.session, nullptr, nullptr, state);
        blendThroughMask(workingView, image, plane, mask);
    }
    finishWholeImage(image, set.layers[0], run);
    return result;
}

// ---- Steps --------------------------------------------------------------------------------------

void applyChannelOffsets(const ImageView& image, int red, int green, int blue, bool bgrOrder)
{
    if ((red == 0 && green == 0 && blue == 0) || !image.data[0])
        return;
    const int offsets[3] = {bgrOrder ? blue : red, green, bgrOrder ? red : blue};
    const bool four = isFourChannel(image);
    const int step = four ? 4 : 3;
    for (int y = 0; y < image.height; ++y) {
        std::uint8_t* row = image.data[0] + size_t(y) * size_t(image.rowBytes);
        if (isSixteenBit(image)) {
            for (int x = 0; x < image.width; ++x) {
                std::uint8_t* p = row + size_t(x) * step * 2;
                for (int c = 0; c < 3; ++c) {
                    std::uint16_t v;
                    std::memcpy(&v, p + c * 2, 2);
                    v = std::uint16_t(std::clamp(int(v) + offsets[c] * 256, 0, 65535));
                    std::memcpy(p + c * 2, &v, 2);
                }
            }
        } else {
            for (int x = 0; x < image.width; ++x) {
                std::uint8_t* p = row + size_t(x) * step;
                for (int c = 0; c < 3; ++c)
                    p[c] = std::uint8_t(std::clamp(int(p[c]) + offsets[c], 0, 255));
            }
        }
    }
}

bool correctRedEyes(EngineSession* session, const ImageView& image, bool bgrOrder)
{
    if (!session || !session->redEyeFound)
        return false;
    const ReImage record = redEyeImageRecord(image, bgrOrder);
    const ReListLink& regions = session->redEyeLists[0];
    if (regions.next == &regions)
        return true;
    const PFN_ReCorrectRegions correct = session->platform->libraries().redEye().ReCorrectRegions;
    if (!correct)
        return false;
    const RedEyeChannelOrder libraryOrder(image, bgrOrder);
    return correct(&record, &regions, nullptr, nullptr, nullptr) == RE_OK;
}

bool composeLut(Lut3D* target, const Lut3D* source, int strength)
{
    if (!source || strength <= 0)
        return true;
    return composeLutInto(target, source, strength) == 1;
}

bool applyLut(Lut3D* table, const ImageView& image, bool bgrOrder, int strength)
{
    return applyLutToPixels(table, image.data[0], image.rowBytes, image.width, image.height, isSixteenBit(image), bgrOrder,
                            isFourChannel(image), kLutTetrahedral, strength) == kLutOk;
}

int localContrastRadius(int width, int height)
{
    const double side = std::sqrt(double(width) * double(height));
    if (side < 800.0)
        return 25;
    if (side < 1360.0)
        return int(std::trunc(side * 0.0357));
    return 50;
}
