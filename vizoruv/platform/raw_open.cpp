// RAW development into the decoder's images.
#include "vizoruv/platform/raw_open.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "vizoruv/io/image_geometry.h"
#include "vizoruv/adjust/adjustment_layer.h"
#include "vizoruv/platform/correction_report.h"
#include "vizoruv/platform/engine_session.h"
#include "vizoruv/platform/file_processing.h"
#include "vizoruv/platform/pipeline.h"

namespace {

constexpr int kDetectorWidth = 320;

bool allocate(ImageBuffer* buffer, int width, int height, int channels, int bits, size_t length) {
    buffer->width = width;
    buffer->height = height;
    buffer->channels = uint8_t(channels);
    buffer->bitsPerChannel = uint8_t(bits);
    buffer->rowBytes = int32_t(rowStride(uint32_t(width), uint32_t(channels * bits)));
    return allocateBufferPixels(buffer, length ? length : size_t(buffer->rowBytes) * height);
}

// Copies an R, G, B(, A) view of 8 or 16 bits into an 8-bit R, G, B, A buffer (high bytes of
// 16-bit samples, alpha 255).
void copyToRgba(const ImageView& view, ImageBuffer* target) {
    const bool sixteen = view.format == kImageFormat16;
    const int sample = sixteen ? 2 : 1;
    for (int y = 0; y < view.height; ++y) {
        const uint8_t* in = view.data[0] + size_t(y) * view.rowBytes;
        uint8_t* out = target->pixels + size_t(y) * target->rowBytes;
        for (int x = 0; x < view.width; ++x, in += view.bytesPerPixel, out += 4) {
            for (int c = 0; c < 3; ++c)
                out[c] = in[c * sample + sample - 1];
            out[3] = 255;
        }
    }
}

ImageView viewOfRgba(const ImageBuffer& buffer) {
    return {kImageFormat8, buffer.width, buffer.height, buffer.rowBytes, 4, 1, 0,
            {buffer.pixels, buffer.pixels + 1, buffer.pixels + 2}};
}

// The record's embedded correction block over the developed image: one layer through the pipeline
// in a session of its own (no analysis, so the steps that need one leave the image alone).
void renderRawCorrection(void* owner, ImageView* image, const VXLParams& block) {
    AdjustmentLayer layer;
    initLayerDefaults(&layer);
    fillLayerFromParams(&layer, block);
    VXLPlatformWin* platform = static_cast<VXLPlatformWin*>(owner);
    EngineSession session(platform);
    CorrectionReport report{};
    int step = 0;
    PipelineRun run;
    run.session = &session;
    run.report = &report;
    run.step = &step;
    run.total = kStepsPerPass;
    run.platform = platform;
    processImage(*image, layer, &session, &report, nullptr, run);
}

}  // namespace

std::unique_ptr<VXLRawEngine> openRawFile(const char* path, void* librawModule) {
    if (!path || !librawModule || !isRawCandidate(path))
        return nullptr;
    auto engine = std::make_unique<VXLRawEngine>(kRawEngineLibRaw, librawModule);
    if (!engine->initWithFile(path))
        return nullptr;
    return engine;
}

int developRawImage(VXLRawEngine* engine, const RawDevelopRequest& request, DecodedImage* image) {
    ImageView developed{};
    const RawCorrectionPass pass{renderRawCorrection, request.platform};
    if (!engine || !engine->develop(request.mode, 0, &developed, request.params, request.platform ? &pass : nullptr) ||
        !developed.data[0] ||
        developed.width <= 0 || developed.height <= 0) {
        releaseRawView(&developed);
        return -1;
    }
    struct ViewGuard {
        ImageView* view;
        ~ViewGuard() { releaseRawView(view); }
    } guard{&developed};
    const int width = developed.width, height = developed.height;
    ImageFacts& facts = image->facts;
    engine->cameraName(&facts.camera);
    facts.iso = engine->iso() > 3200 ? 3200 : engine->iso();
    facts.recordedWidth = width;
    facts.recordedHeight = height;
    facts.orientation = 1;  // developed upright
    image->channels = 3;
    image->bitsPerChannel = developed.format == kImageFormat16 ? 16 : 8;

    const size_t fullLength = request.roomForRotation ? rotatableByteLength(width, height, 32) : 0;
    if (!allocate(&image->fullSize, width, height, 4, 8, fullLength))
        return -1;
    copyToRgba(developed, &image->fullSize);
    if (developed.format == kImageFormat16) {
        const size_t length = request.roomForRotation ? rotatableByteLength(width, height, 48) : 0;
        if (!allocate(&image->sixteenBit, width, height, 3, 16, length))
            return -1;
        for (int y = 0; y < height; ++y)
            std::memcpy(image->sixteenBit.pixels + size_t(y) * image->sixteenBit.rowBytes,
                        developed.data[0] + size_t(y) * developed.rowBytes, size_t(width) * 6);
    }

    int previewWidth = width, previewHeight = height;
    if (uint32_t(width) > uint32_t(request.maxPreviewSide) || uint32_t(height) > uint32_t(request.maxPreviewSide)) {
        const float side = float(request.maxPreviewSide);
        const FitBox fit = aspectFitRect({0, 0, side, side}, float(width), float(height));
        previewWidth = std::max(1, int(fit.width));
        previewHeight = std::max(1, int(fit.height));
    }
    ImageView scaled = scaleImageView(viewOfRgba(image->fullSize), previewWidth);
    if (!scaled.data[0])
        return -1;
    const bool madePreview = allocate(&image->preview, previewWidth, std::min(previewHeight, scaled.height), 4, 8, 0);
    if (madePreview)
        for (int y = 0; y < image->preview.height; ++y)
            std::memcpy(image->preview.pixels + size_t(y) * image->preview.rowBytes,
                        scaled.data[0] + size_t(y) * scaled.rowBytes, size_t(previewWidth) * 4);
    std::free(scaled.data[0]);
    if (!madePreview)
        return -1;

    if (request.detectorCopy) {
        ImageView small = scaleImageView(viewOfRgba(image->preview), kDetectorWidth);
        if (small.data[0] && allocate(&image->detector, kDetectorWidth, small.height, 3, 8, 0))
            for (int y = 0; y < small.height; ++y)
                for (int x = 0; x < kDetectorWidth; ++x)
                    std::memcpy(image->detector.pixels + size_t(y) * image->detector.rowBytes + size_t(x) * 3,
                                small.data[0] + size_t(y) * small.rowBytes + size_t(x) * 4, 3);
        std::free(small.data[0]);
    }
    return 0;
}
