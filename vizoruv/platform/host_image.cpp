// The plug-in host's two operations: opening the host's image into the platform's buffers (slot 1)
// and correcting it in place at the host's depth (slot 8), with the render-and-write-back step they
// share.
//
// Divided into: the render step (processImageBuffer); slot 1; slot 8.
#include "vizoruv/platform/host_image.h"

#include "vizoruv/adjust/adjustment_set.h"
#include "vizoruv/io/host_filter_record.h"
#include "vizoruv/platform/correction_pipeline.h"
#include "vizoruv/platform/engine_session.h"
#include "vizoruv/platform/vxl_platform_win.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

namespace {

constexpr int kFullOpacity = 100;
constexpr int kHostProgressTotal = 10;

// ---- the render step ----

// Warms the LUT cache with the first layer's user tables, so the render finds them loaded: its
// input table, and its output table when the input one gives nothing or has no strength.
void preloadUserTables(VXLPlatformWin* platform, const AdjustmentLayer& layer) {
    const Lut3D* input = loadLutById(&platform->luts(), layer.inLUT, false);
    if (!input || layer.iInLUTstrength <= 0)
        loadLutById(&platform->luts(), layer.outLUT, false);
}

// The pipeline has no floating-point samples, so a 32-bit host image is rendered as 16-bit
// samples (0..65535, packed R, G, B rows) and turned back into floats afterwards.
bool floatsTo16(const ImageBuffer& floats, ImageBuffer* sixteen) {
    const int64_t samples = int64_t(floats.width) * floats.height * 3;
    if (samples <= 0 || !allocateBufferPixels(sixteen, size_t(samples) * 2))
        return false;
    sixteen->bitsPerChannel = 16;
    sixteen->channels = 3;
    sixteen->width = floats.width;
    sixteen->height = floats.height;
    sixteen->rowBytes = floats.width * 6;
    for (int32_t y = 0; y < floats.height; ++y) {
        const uint8_t* from = floats.pixels + int64_t(y) * floats.rowBytes;
        uint16_t* to = reinterpret_cast<uint16_t*>(sixteen->pixels + int64_t(y) * sixteen->rowBytes);
        for (int32_t i = 0; i < floats.width * 3; ++i) {
            float v;
            std::memcpy(&v, from + size_t(i) * 4, 4);
            v = std::isnan(v) ? 0.0f : std::min(1.0f, std::max(0.0f, v));
            to[i] = uint16_t(v * 65535.0f + 0.5f);
        }
    }
    return true;
}

void sixteenToFloats(const ImageBuffer& sixteen, ImageBuffer* floats) {
    for (int32_t y = 0; y < floats->height; ++y) {
        const uint16_t* from = reinterpret_cast<const uint16_t*>(sixteen.pixels + int64_t(y) * sixteen.rowBytes);
        uint8_t* to = floats->pixels + int64_t(y) * floats->rowBytes;
        for (int32_t i = 0; i < floats->width * 3; ++i) {
            const float v = from[i] / 65535.0f;
            std::memcpy(to + size_t(i) * 4, &v, 4);
        }
    }
}

ImageView view16(const ImageBuffer& buffer) {
    ImageView view{};
    view.format = kImageFormat16;
    view.width = buffer.width;
    view.height = buffer.height;
    view.rowBytes = buffer.rowBytes;
    view.bytesPerPixel = 6;
    view.data[0] = buffer.pixels;
    view.data[1] = buffer.pixels + 2;
    view.data[2] = buffer.pixels + 4;
    return view;
}

// The unedited pixels of the view for the pipeline's opacity blend: a block of the host's with a
// record, our own without. False when no block can be had.
bool copySourcePixels(const HostFilterRecord* record, const ImageView& view, ImageBuffer* source) {
    const int64_t length = int64_t(view.rowBytes) * view.height;
    const bool allocated = record ? allocateHostBufferPixels(record, source, length)
                                  : length > 0 && allocateBufferPixels(source, size_t(length));
    if (!allocated)
        return false;
    std::memcpy(source->pixels, view.data[0], size_t(length));
    source->width = view.width;
    source->height = view.height;
    source->rowBytes = view.rowBytes;
    source->bitsPerChannel = view.format == kImageFormat16 ? 16 : 8;
    return true;
}

// The target takes the source's geometry and a copy of its pixels in a block of the host's.
void copyIntoHostBlock(const HostFilterRecord* record, const ImageBuffer& source, ImageBuffer* target) {
    freeHostBufferPixels(record, target);
    if (!allocateHostBufferPixels(record, target, source.size))
        return;
    std::memcpy(target->pixels, source.pixels, size_t(source.size));
    target->bitsPerChannel = source.bitsPerChannel;
    target->channels = source.channels;
    target->width = source.width;
    target->height = source.height;
    target->rowBytes = source.rowBytes;
}

// The selection mask over floating-point samples, which the shared write-back leaves to us: after
// it has asked the host for its output, input and mask, each masked pixel of the output becomes
// (result x m + input x (255 - m)) / 255; a mask byte of 0 keeps the host's pixel.
void blendFloatsThroughMask(const HostFilterRecord* record, const ImageBuffer& result) {
    if (record->depth != 32 || !record->maskData || !record->inData || !record->outData)
        return;
    const HostArea out = getOutRect(record);
    const int32_t rows = std::min(out.bottom - out.top, result.height);
    const int32_t columns = std::min(out.right - out.left, result.width);
    for (int32_t y = 0; y < rows; ++y) {
        const uint8_t* mask = record->maskData + int64_t(y) * record->maskRowBytes;
        const uint8_t* input = record->inData + int64_t(y) * record->inRowBytes;
        uint8_t* output = record->outData + int64_t(y) * record->outRowBytes;
        const uint8_t* rendered = result.pixels + int64_t(y) * result.rowBytes;
        for (int32_t i = 0; i < columns * 3; ++i) {
            const float m = mask[i / 3] / 255.0f;
            if (m == 0)
                continue;
            float r, in;
            std::memcpy(&r, rendered + size_t(i) * 4, 4);
            std::memcpy(&in, input + size_t(i) * 4, 4);
            const float v = r * m + in * (1 - m);
            std::memcpy(output + size_t(i) * 4, &v, 4);
        }
    }
}

void releaseBuffer(const HostFilterRecord* record, ImageBuffer* buffer) {
    freeHostBufferPixels(record, buffer);
    freeImageBuffer(buffer);
}

}  // namespace

bool processImageBuffer(HostFilterRecord* record, ImageBuffer* buffer, EngineSession* session,
                        const AdjustmentSet& set, VxlProgressCallback progress, void* progressData, bool bgrOrder,
                        VXLPlatformWin* platform) {
    if (!buffer || !buffer->pixels || !platform)
        return false;
    const AdjustmentLayer* first = set.layers.empty() ? nullptr : &set.layers[0];
    if (first)
        preloadUserTables(platform, *first);

    const bool floats = record && record->depth == 32;
    ImageBuffer sixteen;
    if (floats && !floatsTo16(*buffer, &sixteen))
        return false;
    const ImageView view = floats ? view16(sixteen) : bufferGeometry(record, *buffer);

    ImageBuffer source;
    if (first && first->vexoOpacity < kFullOpacity && !copySourcePixels(record, view, &source)) {
        freeImageBuffer(&sixteen);
        return false;  // without the unedited pixels the opacity would be lost
    }

    std::atomic<uint8_t> stop{0};
    int step = 0;
    PipelineRun run;
    run.hostRecord = record;
    run.set = &set;
    run.session = session;
    if (session) {
        run.iso = session->iso;
        run.camera = session->camera;
    }
    run.source = source.pixels ? &source : nullptr;
    run.reportsProgress = true;  // this call's own progress and stop flag
    run.step = &step;
    run.total = kStepsPerPass;
    run.progress = progress;
    run.progressData = progressData;
    run.stopFlag = &stop;
    run.bgrOrder = bgrOrder;
    run.platform = platform;
    const bool rendered = runPipeline(view, run);
    releaseBuffer(record, &source);
    if (floats) {
        if (rendered)
            sixteenToFloats(sixteen, buffer);
        freeImageBuffer(&sixteen);
    }
    if (!rendered)
        return false;
    if (!record)
        return true;
    if (!writeHostResult(record, *buffer))
        return false;
    blendFloatsThroughMask(record, *buffer);
    return true;
}

// ---- slot 1: opening the host's image ----

void VXLPlatformWin::applyHandOverRule(HostFilterRecord* record) {
    if (!record->largeDocument)
        hostRecordHandOver_ = false;
    if (hostRecordHandOver_ && engine()._SetFilterRecord)
        engine()._SetFilterRecord(record);
}

int VXLPlatformWin::OpenHostImage(HostFilterRecord* record, const CorrectionStack* stack, int previewSize,
                                  void* /*reserved1*/, void* /*reserved2*/, const char* expectedFingerprint,
                                  VXLDetector* detector) {
    if (!record)
        return -1;
    std::lock_guard<std::recursive_mutex> lock(instanceMutex_);
    dropImage(false);
    // The blocks of an earlier host image go back to the host through the new record: the host
    // keeps a record valid only during its call, and its buffer procedures stay the same. dropImage
    // leaves host blocks alone.
    for (ImageBuffer& buffer : buffers_) {
        freeHostBufferPixels(record, &buffer);
        buffer = ImageBuffer();
    }
    for (ImageBuffer& retired : retiredResults_)
        freeHostBufferPixels(record, &retired);
    retiredResults_.clear();
    hostRecord_ = record;
    sourceWidth_ = sourceHeight_ = 0;
    startImageSets(stack, detector);
    if (expectedFingerprint)
        expectedFingerprint_ = expectedFingerprint;
    iso_ = -1;
    camera_.clear();
    flashNotFired_ = 0;
    applyHandOverRule(record);
    sourceWidth_ = int32_t(record->filterArea[3]) - record->filterArea[1];
    sourceHeight_ = int32_t(record->filterArea[2]) - record->filterArea[0];

    wic::Bitmap image;
    if (!fetchHostImage(record, &image))
        return -1;
    fillHostSourceBuffers(record, image, previewSize, &buffers_[kFullSource], &buffers_[kPreviewSource]);
    // Without the preview source there is nothing to analyse or show: the host refused its memory.
    if (!buffers_[kPreviewSource].pixels) {
        for (ImageBuffer& buffer : buffers_)
            freeHostBufferPixels(record, &buffer);
        return -1;
    }
    if (!hostTiles_)
        hostTiles_ = std::make_unique<DibTileHolder>();
    const struct {
        PlatformBuffer from, to;
    } copies[] = {{kPreviewSource, kPreviewDisplay},
                  {kFullSource, kFullDisplay},
                  {kPreviewSource, kPreviewResult},
                  {kFullSource, kFullResult}};
    for (const auto& copy : copies) {
        const ImageBuffer& from = buffers_[copy.from];
        if (!from.pixels)
            continue;
        // A host without a display routine (or whose drawing fails) shows the pixels unchanged.
        if (!makeHostDisplayCopy(record, from, displayMutex_, hostTiles_.get(), &buffers_[copy.to]))
            copyIntoHostBlock(record, from, &buffers_[copy.to]);
    }
    workers_[kAnalysisWorker]->start();
    return 0;
}

// ---- slot 8: correcting the host's image ----

int VXLPlatformWin::ProcessHostImage(HostFilterRecord* record, const CorrectionStack* stack, int analyseAnew,
                                     int previewSize, const char* text, VXLDetector* detector) {
    if (!record || !stack)
        return -1;
    AdjustmentSet set;
    createAdjustmentSet(&set, kLayersPerSet);
    updateFromStack(&set, *stack);
    // The analysis worker of the last opening writes the session and reads the detector; a fresh
    // analysis replaces the session, so the worker is waited for either way, and so are the
    // corrections that may be reading it.
    workers_[kAnalysisWorker]->wait();
    if (analyseAnew) {
        workers_[kRestartWorker]->wait();
        workers_[kCorrectionWorker]->wait();
    }
    detector_ = detector;
    const AdjustmentLayer& first = set.layers[0];
    const bool opaque = first.vexoOpacity > 0;
    const bool redEye = first.redEyeOn != 0 && opaque;
    const bool noise = first.noiseRemovalOn != 0 && opaque;
    const bool engineWork = hasEngineEffect(first) && opaque;
    const bool faces = hasFaceEffect(first);
    applyHandOverRule(record);
    if (record->progress)
        record->progress(0, kHostProgressTotal);

    ImageBuffer buffer;
    buffer.channels = 3;
    buffer.displayReady = 1;
    if (!allocHostSizedBuffer(record, &buffer))
        return -1;
    // Without the host's pixels there is nothing to correct: the host's output stays as it is.
    if (!readHostInput(record, &buffer)) {
        freeHostBufferPixels(record, &buffer);
        return -1;
    }

    if (analyseAnew) {
        iso_ = -1;
        camera_.clear();
        flashNotFired_ = 0;
        wic::Bitmap full, preview;
        if (wic::allocateBitmap(&full, wic::PixelFormat::Bgr24, uint32_t(buffer.width), uint32_t(buffer.height))) {
            copyHostSamplesToBgr24(record->depth, buffer.pixels, buffer.rowBytes, &full);
            int32_t previewWidth = 0, previewHeight = 0;
            hostPreviewSize(previewSize, buffer.width, buffer.height, &previewWidth, &previewHeight);
            if (!wic::scaleBitmap(wic::refOf(full), uint32_t(previewWidth), uint32_t(previewHeight),
                                  wic::Interpolation::HighQualityCubic, &preview))
                preview = full;
            const auto viewOf = [](wic::Bitmap& bitmap) {
                ImageView view{};
                view.format = kImageFormat8;
                view.width = int32_t(bitmap.width);
                view.height = int32_t(bitmap.height);
                view.rowBytes = int32_t(bitmap.stride);
                view.bytesPerPixel = 3;
                view.hostOrder = 1;
                for (int c = 0; c < 3; ++c)
                    view.data[c] = bitmap.pixels.data() + c;
                return view;
            };
            session_.reset();
            session_ = std::make_unique<EngineSession>(this);
            AnalysisRequest request;
            request.engineAnalysis = engineWork && libraries_.loaded(ModuleLibrary::Engine);
            request.noiseDetection = noise && libraries_.loaded(ModuleLibrary::Engine);
            request.redEyeDetection = redEye && libraries_.loaded(ModuleLibrary::RedEye);
            request.faceDetection = faces;
            request.bgrOrder = true;  // the bitmaps are B, G, R
            request.callerFaces = set.faces.get();
            request.callerFaceCount = set.faceCount;
            request.expectedFingerprint = text ? text : "";
            request.detector = detector;
            analyseImage(session_.get(), viewOf(full), viewOf(preview), ImageView{}, -1, std::string(), false, record,
                         request);
        }
    }

    hostToFull16(record, buffer.pixels, buffer.width, buffer.height, buffer.rowBytes);
    const bool written =
        processImageBuffer(record, &buffer, session_.get(), set, nullptr, record, false, this);
    freeHostBufferPixels(record, &buffer);
    return written ? 0 : -1;
}
