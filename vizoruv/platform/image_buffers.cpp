// The open image's buffers: views of them, reading a result (slot 2) or a resized copy (slot 6),
// releasing the full-size buffers and dropping the whole image.
#include "vizoruv/platform/image_buffers.h"
#include "vizoruv/platform/vxl_platform_win.h"

#include <algorithm>

#include "vizoruv/adjust/adjustment_set.h"
#include "vizoruv/adjust/background_mask.h"
#include "vizoruv/adjust/engine_params.h"
#include "vizoruv/platform/engine_session.h"

ImageView viewOfImageBuffer(const ImageBuffer& buffer, bool hostOrder) {
    ImageView view{};
    const bool sixteen = buffer.bitsPerChannel == 16;
    view.format = sixteen ? kImageFormat16 : kImageFormat8;
    view.width = buffer.width;
    view.height = buffer.height;
    view.rowBytes = buffer.rowBytes;
    const int sampleBytes = sixteen ? 2 : 1;
    view.hasAlpha = buffer.rowBytes >= 4 * sampleBytes * buffer.width;
    view.bytesPerPixel = (view.hasAlpha ? 4 : 3) * sampleBytes;
    view.hostOrder = hostOrder;
    if (buffer.pixels)
        for (int c = 0; c < 3; ++c)
            view.data[c] = buffer.pixels + c * sampleBytes;
    return view;
}

ImageView VXLPlatformWin::viewOfBuffer(const ImageBuffer& buffer) const {
    return viewOfImageBuffer(buffer, hostMode());
}

void VXLPlatformWin::releaseSourceBuffers() {
    ImageBuffer& full = buffers_[kFullSource];
    if (backgroundCache_ && openSet_ && !openSet_->layers.empty() && openSet_->layers[0].bgmOn && full.pixels)
        keepSource(backgroundCache_.get(), full.pixels, full.rowBytes, full.width, full.height);
    freeImageBuffer(&buffers_[kFullSource]);
    freeImageBuffer(&buffers_[kFullDisplay]);
    freeImageBuffer(&buffers_[kFullResult]);
}

void VXLPlatformWin::dropImage(bool keepRawEngine) {
    stopFlag_.store(1);
    workers_[kAnalysisWorker]->wait();
    workers_[kRestartWorker]->wait();
    workers_[kCorrectionWorker]->wait();
    session_.reset();
    lastPreviewSet_.reset();
    lastFullSet_.reset();
    {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        pendingSet_.reset();
    }
    openSet_.reset();
    report_ = CorrectionReport{};
    freeImageBuffer(&buffers_[kPreviewSource]);
    freeImageBuffer(&buffers_[kPreviewDisplay]);
    freeImageBuffer(&buffers_[kPreviewResult]);
    freeImageBuffer(&buffers_[kDetectorImage]);
    releaseSourceBuffers();
    // Blocks of a host stay listed: they go back through the host's next record.
    for (ImageBuffer& retired : retiredResults_)
        freeImageBuffer(&retired);
    retiredResults_.erase(std::remove_if(retiredResults_.begin(), retiredResults_.end(),
                                         [](const ImageBuffer& retired) { return !retired.pixels; }),
                          retiredResults_.end());
    if (!keepRawEngine)
        rawEngine_.reset();
    backgroundCache_.reset();
}

int VXLPlatformWin::GetImage(ImageView* view, bool unedited, bool fullSize) {
    std::unique_lock<std::recursive_mutex> lock(instanceMutex_);
    if (!view)
        return 0;
    const bool full = fullSize && !previewOnly_;
    const ImageBuffer& geometry = buffers_[full ? kFullSource : kPreviewSource];
    const ImageBuffer& pixels =
        buffers_[full ? (unedited ? kFullDisplay : kFullResult) : (unedited ? kPreviewDisplay : kPreviewResult)];
    *view = ImageView{};
    view->format = kImageFormat8;
    view->bytesPerPixel = 4;
    view->hostOrder = hostMode();
    view->width = geometry.width;
    view->height = geometry.height;
    view->rowBytes = pixels.rowBytes;
    if (view->rowBytes < 4 * view->width)
        view->bytesPerPixel = 3;
    view->hasAlpha = view->rowBytes >= 4 * view->width;
    if (pixels.pixels)
        for (int c = 0; c < 3; ++c)
            view->data[c] = pixels.pixels + c;
    return 0;
}

int VXLPlatformWin::GetResizedImage(ImageView* view, bool unedited, int side, bool keepAspect) {
    if (!view)
        return -1;
    ImageView preview;
    GetImage(&preview, unedited, false);
    const PFN_VXL_Resize resize = engine().VXL_Resize;
    if (!resize)
        return -1;
    int width = side, height = side;
    if (keepAspect && preview.width > 0 && preview.height > 0) {
        if (preview.width >= preview.height)
            width = int(double(side) * preview.width / preview.height);
        else
            height = int(double(side) * preview.height / preview.width);
    }
    uint8_t* target = view->data[0];
    view->format = kImageFormat8;
    view->width = width;
    view->height = height;
    view->hasAlpha = preview.hasAlpha;
    view->hostOrder = preview.hostOrder;
    view->bytesPerPixel = preview.hasAlpha ? 4 : 3;
    view->rowBytes = view->bytesPerPixel * width;
    if (!target)
        return 0;
    // An empty image or a non-positive side gives nothing to resize from or into.
    if (!preview.data[0] || width <= 0 || height <= 0)
        return -1;
    // The resize treats the channels alike, so their order need not be named.
    const int32_t code = enginePixelCode(false, preview.hasAlpha != 0, false);
    const VxlEngineImage source{preview.width, preview.height, preview.rowBytes, code, preview.data[0]};
    const VxlEngineImage destination{width, height, view->rowBytes, code, target};
    return resize(&source, &destination) == VXL_OK ? 0 : -1;
}
