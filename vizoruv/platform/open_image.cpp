// Opening an image file (slot 0): decoding into the platform's buffers, the display copies, and the
// start of the analysis on worker A (from the main thread) or on the calling thread.
#include "vizoruv/platform/vxl_platform_win.h"

#include "vizoruv/adjust/adjustment_set.h"
#include "vizoruv/adjust/background_mask.h"
#include "vizoruv/io/image_decoder.h"
#include "vizoruv/io/image_geometry.h"
#include "vizoruv/platform/engine_session.h"
#include "vizoruv/platform/raw_open.h"

void VXLPlatformWin::startImageSets(const CorrectionStack* stack, VXLDetector* detector) {
    lastPreviewSet_ = makeAdjustmentSet(kLayersPerSet);
    lastFullSet_ = makeAdjustmentSet(kLayersPerSet);
    openSet_ = makeAdjustmentSet(kLayersPerSet);
    detector_ = detector;
    if (stack)
        updateFromStack(openSet_.get(), *stack);
}

int VXLPlatformWin::OpenImageFile(const char* path, const CorrectionStack* stack, int previewSize, void* reserved,
                                  void* librawModule, const VXLRAWParams* rawParams, VXLDetector* detector) {
    std::lock_guard<std::recursive_mutex> lock(instanceMutex_);
    // Without a path the open RAW file is developed again (with the new RAW parameters).
    if (!path && !rawEngine_)
        return -1;
    dropImage(path == nullptr);
    if (engine()._SetFilterRecord)
        engine()._SetFilterRecord(nullptr);
    startImageSets(stack, detector);
    previewSize_ = previewSize;
    if (path)
        rawEngine_ = openRawFile(path, librawModule);
    return decodeOpenImage(path, rawParams) == 0 ? 0 : -1;
}

int VXLPlatformWin::decodeOpenImage(const char* path, const VXLRAWParams* rawParams) {
    sourceWidth_ = sourceHeight_ = 0;
    if (path)
        lastPath_ = path;

    const bool detectorCopy =
        !economyNoDetail_ && analyseFaceLibrary_ && libraries_.loaded(ModuleLibrary::FaceDetector);
    DecodedImage image;
    if (rawEngine_) {
        RawDevelopRequest request;
        request.mode = noFullSizeSource_ ? kRawDevelopReduced : kRawDevelopFull;
        request.params = rawParams;
        request.platform = this;
        request.maxPreviewSide = previewSize_;
        request.detectorCopy = detectorCopy;
        if (developRawImage(rawEngine_.get(), request, &image) != 0)
            return -1;
        if (noFullSizeSource_)
            freeImageBuffer(&image.fullSize);
    } else {
        DecodeRequest request;
        request.maxPreviewSide = previewSize_;
        request.fullSize8 = !noFullSizeSource_;
        request.detectorCopy = detectorCopy;
        if (decodeImageFile(path, request, &image, nullptr) != 0)
            return -1;
    }
    if (!image.preview.pixels)
        return -1;

    const ImageFacts& facts = image.facts;
    iso_ = facts.iso;
    camera_ = facts.camera;
    flashNotFired_ = facts.flashNotFired;
    lens_ = facts.lens;
    aperture_ = facts.aperture;
    focalLength_ = facts.focalLength;
    exposureBias_ = facts.exposureBias;
    shutterSpeed_ = facts.shutterSpeed;
    decoderByte_ = facts.adobeRgbMark;
    orientation_ = facts.orientation;
    sourceWidth_ = facts.recordedWidth;
    sourceHeight_ = facts.recordedHeight;

    buffers_[kFullSource] = takeImageBuffer(&image.fullSize);
    buffers_[kPreviewSource] = takeImageBuffer(&image.preview);
    buffers_[kDetectorImage] = takeImageBuffer(&image.detector);
    // The results start as the display copies of the unedited image.
    makeDisplayCopy(buffers_[kPreviewSource], &buffers_[kPreviewDisplay]);
    copyImageBuffer(&buffers_[kPreviewResult], buffers_[kPreviewDisplay]);
    if (buffers_[kFullSource].pixels) {
        makeDisplayCopy(buffers_[kFullSource], &buffers_[kFullDisplay]);
        copyImageBuffer(&buffers_[kFullResult], buffers_[kFullDisplay]);
    }
    startAnalysis();
    return 0;
}

void VXLPlatformWin::startAnalysis() {
    bool isMain = false;
    const bool known = isMainThread(&isMain);
    if (!known || isMain)
        workers_[kAnalysisWorker]->start();
    else
        analysisWorker(this);
}

void VXLPlatformWin::analysisWorker(VXLPlatformWin* platform) {
    const ImageView preview = platform->viewOfBuffer(platform->buffers_[kPreviewSource]);
    const ImageView full =
        platform->noFullSizeSource_ ? preview : platform->viewOfBuffer(platform->buffers_[kFullSource]);
    const ImageBuffer& detectorImage = platform->buffers_[kDetectorImage];
    const ImageView faceView = detectorImage.pixels ? platform->viewOfBuffer(detectorImage) : ImageView{};

    platform->backgroundCache_.reset();
    platform->session_ = std::make_unique<EngineSession>(platform);
    EngineSession* session = platform->session_.get();
    auto cache = std::make_unique<BackgroundMaskCache>();
    createBackgroundMaskCache(cache.get(), platform,
                              {platform->engine().VXL_FillBGMask, platform->engineHandle_, nullptr});
    platform->backgroundCache_ = std::move(cache);

    const bool engineLoaded = platform->libraries_.loaded(ModuleLibrary::Engine);
    AnalysisRequest request;
    request.engineAnalysis = platform->analyseEngine_ && engineLoaded;
    request.noiseDetection = platform->analyseNoise_ && engineLoaded;
    request.redEyeDetection = platform->analyseRedEye_ && platform->libraries_.loaded(ModuleLibrary::RedEye);
    request.faceDetection = platform->analyseFaces_;
    request.faceLibrary = platform->analyseFaceLibrary_ && platform->libraries_.loaded(ModuleLibrary::FaceDetector);
    request.bgrOrder = platform->hostMode();
    if (platform->openSet_) {
        request.callerFaces = platform->openSet_->faces.get();
        request.callerFaceCount = platform->openSet_->faceCount;
    }
    request.expectedFingerprint = platform->expectedFingerprint_;
    request.detector = platform->detector_;
    analyseImage(session, full, preview, faceView, platform->iso_, platform->camera_, platform->flashNotFired_,
                 platform->hostRecord_, request);
    platform->backgroundCache_->session.profile = session->profile;

    if (platform->previewOnly_)
        platform->releaseSourceBuffers();
}
