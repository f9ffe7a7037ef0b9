// VXLPlatformWin: factory, initialisation, shutdown and release, and the operations that only store
// or forward a value. Divisions: factory; lifecycle; small operations; the reserved slots.
#include "vizoruv/platform/vxl_platform_win.h"

#include "vizoruv/adjust/adjustment_set.h"
#include "vizoruv/adjust/background_mask.h"
#include "vizoruv/io/host_display.h"
#include "vizoruv/platform/engine_session.h"
#include "vizoruv/platform/face_glue.h"
#include "vizoruv/platform/mask_raster.h"
#include "vizoruv/platform/portrait_light.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr int kDefaultPreviewSize = 1200;
constexpr int kEconomyNoDetailBit = 1 << 1;

// Host-mode platforms are torn down one at a time.
std::mutex gReleaseMutex;

std::string textOrEmpty(const char* text) {
    return text ? std::string(text) : std::string();
}

}  // namespace

// ---- Factory ----

IVXLPlatform* VxlPlatformCreate(const char* productName, const char* binDir, const char* folder3,
                                const char* userFolder, int requireLibraries, int previewOnly, int economyLevel) {
    // The pipeline's passes of this library: the face glue's face pass, the portrait light over the
    // caller's face mesh, and the rasteriser that draws the layers' masks.
    const PipelineHooks passes{&pipelineFacePass, &portraitLightStep, &rasterizeMask};
    VXLPlatformWin* platform = new (std::nothrow) VXLPlatformWin(passes);
    if (!platform)
        return nullptr;
    if (!platform->init(productName, binDir, folder3, userFolder, requireLibraries, previewOnly, economyLevel)) {
        platform->Release();
        return nullptr;
    }
    return platform;
}

// ---- Lifecycle ----

VXLPlatformWin::VXLPlatformWin(const PipelineHooks& passes) : pipelineHooks_(passes) {}

VXLPlatformWin::~VXLPlatformWin() {
    shutdown();
}

bool VXLPlatformWin::init(const char* productName, const char* binDir, const char* folder3,
                          const char* userFolder, int requireLibraries, int previewOnly, int economyLevel) {
    productName_ = textOrEmpty(productName);
    folder3_ = textOrEmpty(folder3);
    binDir_ = textOrEmpty(binDir);
    userFolder_ = textOrEmpty(userFolder);
    hostRecord_ = nullptr;
    previewSize_ = kDefaultPreviewSize;
    hostRecordHandOver_ = true;
    iso_ = -1;
    flashNotFired_ = 0;
    decoderByte_ = 0;
    camera_.clear();
    lens_.clear();
    previewOnly_ = previewOnly != 0;
    noFullSizeSource_ = previewOnly != 0 && economyLevel > 0;
    economyNoDetail_ = (economyLevel & kEconomyNoDetailBit) != 0;
    analyseEngine_ = analyseNoise_ = analyseFaces_ = analyseRedEye_ = analyseFaceLibrary_ = 1;
    stopFlag_ = 0;
    singleThreaded_ = false;
    engineHandle_ = nullptr;
    userData_ = nullptr;

    // An empty module folder names no library: nothing is looked up relative to the working folder.
    if (!binDir_.empty())
        libraries_.load(binDir_);
    if (engine().VXL_CreateEngine)
        engineHandle_ = engine().VXL_CreateEngine();

    loadProfileFile(&proPhotoProfile_, shippedProfilePath(binDir_, kShippedProfileProPhoto));
    loadProfileFile(&adobeProfile_, shippedProfilePath(binDir_, kShippedProfileAdobe));
    for (ImageBuffer& buffer : buffers_)
        buffer = ImageBuffer();
    clearMasks();
    workers_[kAnalysisWorker] = std::make_unique<WorkerRecord>(this, &VXLPlatformWin::analysisWorker);
    workers_[kCorrectionWorker] = std::make_unique<WorkerRecord>(this, &VXLPlatformWin::correctionWorker);
    workers_[kRestartWorker] = std::make_unique<WorkerRecord>(this, &VXLPlatformWin::restartWorker);
    initLutCollection(&luts_, binDir_, userFolder_);
    return requireLibraries == 0 || libraries_.anyLoaded();
}

void VXLPlatformWin::shutdown() {
    if (shutDown_)
        return;
    dropImage(false);
    faceMesh_.set(0, nullptr);
    for (ImageBuffer& buffer : buffers_)
        freeImageBuffer(&buffer);
    for (std::unique_ptr<WorkerRecord>& worker : workers_)
        worker.reset();
    {
        std::lock_guard<std::mutex> lock(luts_.lock);
        luts_.loaded.clear();
    }
    {
        std::lock_guard<std::mutex> lock(thumbnailMutex_);
        for (const Thumbnail& thumbnail : thumbnails_)
            std::free(thumbnail.block);
        thumbnails_.clear();
    }
    proPhotoProfile_.bytes.clear();
    adobeProfile_.bytes.clear();
    clearMasks();
    if (engineHandle_ && engine().VXL_DestroyEngine)
        engine().VXL_DestroyEngine(engineHandle_);
    engineHandle_ = nullptr;
    libraries_.unload();
    shutDown_ = 1;
}

void VXLPlatformWin::Release() {
    if (hostMode()) {
        std::lock_guard<std::mutex> lock(gReleaseMutex);
        shutdown();
        delete this;
        return;
    }
    {
        std::lock_guard<std::recursive_mutex> lock(instanceMutex_);
        shutdown();
    }
    delete this;
}

// ---- Small operations ----

int VXLPlatformWin::CloseImage() {
    if (hostMode() || previewOnly_)
        return 0;
    stopWorkers();
    releaseSourceBuffers();
    previewOnly_ = true;
    return 0;
}

void VXLPlatformWin::SetSingleThreaded(bool singleThreaded) {
    singleThreaded_ = singleThreaded;
    if (engineHandle_ && engine().VXL_SetSingleThreadedEngine)
        engine().VXL_SetSingleThreadedEngine(engineHandle_, singleThreaded ? 1 : 0);
}

void VXLPlatformWin::SetUserData(void* userData) {
    userData_ = userData;
}

void* VXLPlatformWin::GetUserData() {
    return userData_;
}

std::string VXLPlatformWin::GetAutoSkintoneParameters(unsigned skinToneType, int* first, int* second) {
    int32_t a = 0, b = 0;
    std::string key;
    if (engine().VXL_GetAutoSkintoneParameters) {
        const char* text = engine().VXL_GetAutoSkintoneParameters(skinToneType, &a, &b);
        key = textOrEmpty(text);
    }
    if (first)
        *first = a;
    if (second)
        *second = b;
    return key;
}

PipelineHooks VXLPlatformWin::pipelineHooks() const {
    std::lock_guard<std::mutex> lock(passesMutex_);
    return pipelineHooks_;
}

void VXLPlatformWin::setPipelineHooks(const PipelineHooks& hooks) {
    std::lock_guard<std::mutex> lock(passesMutex_);
    pipelineHooks_ = hooks;
}

PipelineFunction VXLPlatformWin::pipelineFunction() const {
    std::lock_guard<std::mutex> lock(passesMutex_);
    return pipelineFunction_;
}

void VXLPlatformWin::setPipelineFunction(PipelineFunction render) {
    std::lock_guard<std::mutex> lock(passesMutex_);
    pipelineFunction_ = render;
}

void VXLPlatformWin::clearMasks() {
    for (ImageView& mask : masks_) {
        std::free(mask.data[0]);
        mask = ImageView();
    }
}

void VXLPlatformWin::SetMasks(const ImageView* first, const ImageView* second) {
    clearMasks();
    const ImageView* given[2] = {first, second};
    for (int i = 0; i < 2; ++i) {
        const ImageView* mask = given[i];
        if (!mask || !mask->data[0])
            continue;
        // A mask whose geometry gives no pixel block is refused, not copied past its end.
        if (mask->rowBytes <= 0 || mask->height <= 0)
            continue;
        const size_t bytes = size_t(mask->rowBytes) * size_t(mask->height);
        uint8_t* copy = static_cast<uint8_t*>(std::malloc(bytes));
        if (!copy)
            continue;
        std::memcpy(copy, mask->data[0], bytes);
        masks_[i] = *mask;
        masks_[i].data[0] = copy;
    }
}

void VXLPlatformWin::SetAIEngines(void* first, void* second, void* third) {
    if (engineHandle_ && engine().VXL_SetAIEngines)
        engine().VXL_SetAIEngines(engineHandle_, first, second, third);
}

// ---- The reserved slots: they keep their places in the interface and always answer -1 ----

int VXLPlatformWin::Reserved16() {
    return -1;
}

int VXLPlatformWin::Reserved17() {
    return -1;
}

int VXLPlatformWin::Reserved18() {
    return -1;
}

int VXLPlatformWin::Reserved19() {
    return -1;
}

int VXLPlatformWin::Reserved20() {
    return -1;
}


