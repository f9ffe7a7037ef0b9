// VXLPlatformWin: the imaging platform object behind IVXLPlatform.
//
// This file holds the object's data, its initialisation (with the loading of the outside libraries)
// and its shutdown. The operations live in files of their own: workers and corrections
// (platform_workers.cpp, corrections.cpp), opening an image (open_image.cpp), buffers and views
// (image_buffers.cpp), file processing (file_processing.cpp), the plug-in host's image
// (host_image.cpp) and the queries (queries.cpp).
#pragma once

#include "vizoruv/adjust/lut_catalogue.h"
#include "vizoruv/io/colour_profiles.h"
#include "vizoruv/io/image_buffer.h"
#include "vizoruv/io/raw_engine.h"
#include "vizoruv/platform/correction_report.h"
#include "vizoruv/platform/face_slots.h"
#include "vizoruv/platform/ivxl_platform.h"
#include "vizoruv/platform/libraries.h"
#include "vizoruv/platform/pipeline.h"
#include "vizoruv/platform/platform_workers.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

struct AdjustmentSet;
struct BackgroundMaskCache;
struct DibTileHolder;
struct EngineSession;

// The platform's seven image buffers.
enum PlatformBuffer : int {
    kFullSource = 0,      // full-size source, 8-bit R, G, B, A
    kPreviewSource = 1,   // the source fitted into the preview size
    kFullDisplay = 2,     // full-size unedited image, converted for display
    kPreviewDisplay = 3,  // preview unedited image, converted for display
    kFullResult = 4,      // full-size result
    kPreviewResult = 5,   // preview result
    kDetectorImage = 6,   // 320 pixels wide, for the face-detector library
    kPlatformBufferCount = 7,
};

// The three workers, in their order.
enum PlatformWorker : int { kAnalysisWorker = 0, kCorrectionWorker = 1, kRestartWorker = 2, kWorkerCount = 3 };

class VXLPlatformWin final : public IVXLPlatform {
public:
    // A platform whose renders run the given passes (face pass, portrait light, mask rasteriser);
    // VxlPlatformCreate hands every platform those of this library.
    explicit VXLPlatformWin(const PipelineHooks& passes);

    // Stores the folders and options, loads the outside libraries from binDir, creates the engine.
    // Answers false only when requireLibraries is non-zero and no library loaded.
    bool init(const char* productName, const char* binDir, const char* folder3, const char* userFolder,
              int requireLibraries, int previewOnly, int economyLevel);

    // Tears down everything init built; safe to run more than once.
    void shutdown();

    // ---- IVXLPlatform ----
    int OpenImageFile(const char* path, const CorrectionStack* stack, int previewSize, void* reserved,
                      void* librawModule, const VXLRAWParams* rawParams, VXLDetector* detector) override;
    int OpenHostImage(HostFilterRecord* record, const CorrectionStack* stack, int mode, void* reserved1,
                      void* reserved2, const char* expectedFingerprint, VXLDetector* detector) override;
    int GetImage(ImageView* view, bool unedited, bool fullSize) override;
    int ApplyCorrection(const CorrectionStack* stack, CorrectionReport* report, bool fullSize) override;
    int StartCorrection(const CorrectionStack* stack, VxlProgressCallback progress, void* progressData) override;
    int ConvertResultForDisplay(bool fullSize) override;
    int GetResizedImage(ImageView* view, bool unedited, int side, bool keepAspect) override;
    int ProcessFile(const char* inputPath, const char* outputPath, const CorrectionStack* stack, void* reserved,
                    const OutputSettings* settings, const MaskTransform* transform, int keepUpright,
                    const char* software, const ImageView* overlay, VxlProgressCallback progress,
                    void* progressData, void* reserved2, void* reserved3, void* librawModule,
                    const VXLRAWParams* rawParams, VXLDetector* detector, void* reserved4) override;
    int ProcessHostImage(HostFilterRecord* record, const CorrectionStack* stack, int mode, int flags,
                         const char* text, VXLDetector* detector) override;
    std::vector<std::string> GetLutKeys() override;
    int GetFaces(VXL_FACE** faces, int* count) override;
    int GetFaceLandmarks(const EngineFaceRecord** records, int* count) override;
    int SetFace(const VXL_FACE* face) override;
    int SetFaces(const VXL_FACE* faces, int count) override;
    int ResetFaces() override;
    int GetHistogram(uint8_t* table1024, const MaskTransform* region, bool unedited, int smoothing) override;
    int Reserved16() override;
    int Reserved17() override;
    int Reserved18() override;
    int Reserved19() override;
    int Reserved20() override;
    int GetImageInfo(bool* isRaw, std::string* camera, std::string* lens, int* width, int* height, int* iso,
                     float* aperture, float* focalLength, float* exposureBias, float* shutterSpeed) override;
    int GetThumbnail(const char* path, int size, ImageView* view, int* decoded, void* librawModule) override;
    int GetMaskOverlays(ImageView* overlayA, ImageView* overlayB, const CorrectionStack* stack, int layerB,
                        int layerC, float aspect, int side, int sampling) override;
    int FreeThumbnail(ImageView* view) override;
    int GetToneCurves(uint8_t* table1024, const VXLParams* params, int a, int b, int c, int d) override;
    int GetFingerprint(std::string* fingerprint) override;
    int CloseImage() override;
    void SetSingleThreaded(bool singleThreaded) override;
    void SetUserData(void* userData) override;
    void* GetUserData() override;
    std::string GetAutoSkintoneParameters(unsigned skinToneType, int* first, int* second) override;
    void SetMasks(const ImageView* first, const ImageView* second) override;
    void SetFaceMesh(int faceCount, const float* landmarks) override;
    void SetAIEngines(void* first, void* second, void* third) override;
    void Release() override;

    // ---- For the platform's own parts, tools and tests ----
    const RuntimeLibraries& libraries() const { return libraries_; }
    const EngineEntryPoints& engine() const { return libraries_.engine(); }
    VxlEngineHandle engineHandle() const { return engineHandle_; }

    const std::string& productName() const { return productName_; }
    const std::string& binDir() const { return binDir_; }
    const std::string& encoderFolder() const { return folder3_; }
    const std::string& userFolder() const { return userFolder_; }

    bool hostMode() const { return hostRecord_ != nullptr; }
    bool previewOnly() const { return previewOnly_; }
    bool noFullSizeSource() const { return noFullSizeSource_; }  // previewOnly with economyLevel above 0
    bool economyNoDetail() const { return economyNoDetail_; }    // bit 1 of economyLevel
    bool singleThreaded() const { return singleThreaded_; }
    bool hostRecordHandOver() const { return hostRecordHandOver_; }
    int previewSize() const { return previewSize_; }
    const ImageView& maskCopy(int index) const { return masks_[index]; }
    // What the processing pipeline reads of the platform: the LUT catalogues and the background masks.
    LutCollection& luts() { return luts_; }
    // The caller's face mesh as slot 33 last set it (read by the portrait light).
    const FaceMeshList& faceMesh() const { return faceMesh_; }
    BackgroundMaskCache* backgroundCache() const { return backgroundCache_.get(); }

    // The passes the pipeline runs for this platform, and the render function of its corrections
    // (null: the processing pipeline, renderAdjustmentSet). A test puts its own in their place.
    PipelineHooks pipelineHooks() const;
    void setPipelineHooks(const PipelineHooks& hooks);
    PipelineFunction pipelineFunction() const;
    void setPipelineFunction(PipelineFunction render);

    // The open image, for the platform's own parts. Buffers are read under the instance lock.
    const ImageBuffer& buffer(PlatformBuffer which) const { return buffers_[which]; }
    EngineSession* session() const { return session_.get(); }
    WorkerRecord& worker(PlatformWorker which) { return *workers_[which]; }
    bool stopRequested() const { return stopFlag_.load() != 0; }
    const CorrectionReport& lastReport() const { return report_; }

    // Waits for A, sets the stop flag, waits for C and then B. The flag stays set.
    void stopWorkers();
    // Hands the full-size source to the background-mask cache when it wants it, then frees the
    // full-size buffers (source, display, result).
    void releaseSourceBuffers();
    // Stops the workers and drops the session, the sets, the report and every image buffer.
    void dropImage(bool keepRawEngine);

    // Thread functions of the three workers; the analysis also runs inline off the main thread.
    static void analysisWorker(VXLPlatformWin* platform);
    static void correctionWorker(VXLPlatformWin* platform);
    static void restartWorker(VXLPlatformWin* platform);

    // Renders a set into the full-size or preview result (see corrections.cpp). Answers true.
    bool runCorrection(const AdjustmentSet& set, CorrectionReport* report, bool fullSize);

private:
    ~VXLPlatformWin();

    void clearMasks();
    // The frame of slots 12 to 14: stops the workers, edits the session's face list with the
    // unedited full-size image, then fits and analyses the faces again (face_slots.cpp).
    int editFaces(const std::function<bool(EngineSession*, const ImageView&)>& edit);
    // Fresh render sets for a newly opened image, the open-time set filled from the caller's
    // stack, and the caller's detector (open_image.cpp).
    void startImageSets(const CorrectionStack* stack, VXLDetector* detector);
    // Decodes the file into the platform's buffers and starts the analysis (open_image.cpp).
    int decodeOpenImage(const char* path, const VXLRAWParams* rawParams);
    void startAnalysis();
    // Clears the hand-over flag for a record without the large-document extension (for good), then
    // hands the record to the engine library while the flag is set (host_image.cpp).
    void applyHandOverRule(HostFilterRecord* record);
    void copyReport(CorrectionReport* out);
    // Puts a render's pixels into a result buffer under the instance lock (corrections.cpp).
    void publishResult(ImageBuffer* result, ImageBuffer* pixels);
    // Takes the instance lock unless the render is asked to stop first (on the correction worker).
    bool lockInstanceForRender(std::unique_lock<std::recursive_mutex>* lock, bool onWorker);
    ImageView viewOfBuffer(const ImageBuffer& buffer) const;

    // Entry points of the outside libraries, their handles and the engine created from them.
    RuntimeLibraries libraries_;
    VxlEngineHandle engineHandle_ = nullptr;  // from VXL_CreateEngine; null when there is none

    std::mutex displayMutex_;                 // display conversion
    std::unique_ptr<DibTileHolder> hostTiles_;  // the section the host's display routine draws into
    HostFilterRecord* hostRecord_ = nullptr;  // null for a standalone platform

    std::string productName_;  // kept; read by no operation
    std::string folder3_;      // handed to the encoder
    std::string binDir_;       // module folder
    std::string userFolder_;   // holds the "Input" and "Output" LUT folders
    std::string lastPath_;     // image last opened

    std::unique_ptr<EngineSession> session_;  // of the open image, or null
    std::unique_ptr<WorkerRecord> workers_[kWorkerCount];
    std::atomic<uint8_t> stopFlag_{0};        // asks a running correction to end
    // Analysis switches; init sets all five and nothing clears them.
    uint8_t analyseEngine_ = 0, analyseNoise_ = 0, analyseFaces_ = 0, analyseRedEye_ = 0, analyseFaceLibrary_ = 0;

    // Facts the decoder records about the open image.
    int iso_ = -1;                 // capped at 3200; -1 when unknown
    uint8_t flashNotFired_ = 0;
    std::string camera_;           // make and model joined by a blank
    uint8_t decoderByte_ = 0;
    std::string lens_;
    float aperture_ = 0, focalLength_ = 0, exposureBias_ = 0, shutterSpeed_ = 0;
    int32_t sourceWidth_ = 0, sourceHeight_ = 0;  // after orientation; 0 when unknown
    int32_t orientation_ = 1;                     // EXIF orientation of the open image

    // Adjustment sets: last preview render, last full-size render, pending (slot 4), open-time.
    std::unique_ptr<AdjustmentSet> lastPreviewSet_, lastFullSet_, pendingSet_, openSet_;
    std::mutex pendingMutex_;                     // keeps slot 4's replacement apart from B's copy
    std::string expectedFingerprint_;
    CorrectionReport report_{};
    VxlProgressCallback progress_ = nullptr;
    void* progressData_ = nullptr;

    ImageBuffer buffers_[kPlatformBufferCount];
    // Result blocks too small for a later render's pixels: views of them handed out earlier stay
    // readable until the image is dropped, so they are freed with it rather than at once.
    std::vector<ImageBuffer> retiredResults_;
    LutCollection luts_;                          // catalogues and the loaded LUTs
    // Views handed out by GetThumbnail with their pixel blocks. The block is kept here too, so that
    // shutdown frees it without reading a caller's view that may be gone by then.
    struct Thumbnail {
        ImageView* view;
        uint8_t* block;
    };
    std::vector<Thumbnail> thumbnails_;
    ProfileBytes proPhotoProfile_, adobeProfile_; // shipped profiles of the module folder
    std::unique_ptr<BackgroundMaskCache> backgroundCache_;
    VXLDetector* detector_ = nullptr;             // the caller's
    std::unique_ptr<VXLRawEngine> rawEngine_;     // of the open RAW file, or null

    std::mutex thumbnailMutex_;    // guards the thumbnail list
    mutable std::mutex passesMutex_;              // guards the two below: renders read them on the workers
    PipelineHooks pipelineHooks_;
    PipelineFunction pipelineFunction_ = nullptr;
    uint8_t shutDown_ = 0;

    // Options from the factory; previewOnly only ever goes from off to on.
    bool previewOnly_ = false;
    bool noFullSizeSource_ = false;
    bool economyNoDetail_ = false;
    bool singleThreaded_ = false;

    int previewSize_ = 0;          // longer side of the preview; 1200 after init
    // Recursive only for the render: it holds the lock while the background-mask cache reads the
    // image back through GetImage. Everything else takes it once.
    std::recursive_mutex instanceMutex_;
    bool hostRecordHandOver_ = false;
    void* userData_ = nullptr;     // the caller's; never freed here
    ImageView masks_[2] = {};      // data[0] of each is a private copy of the caller's pixels, or null
    FaceMeshList faceMesh_;        // the caller's face mesh (slot 33); kept across images
};
