// VXLPlatformWin: the imaging platform object behind IVXLPlatform.
//
// This file holds the object's data, its initialisation (with the loading of the outside libraries)
// and its shutdown; the operations of later parts join the object as they land.
#pragma once

#include "vizoruv/platform/ivxl_platform.h"
#include "vizoruv/platform/libraries.h"

#include <mutex>
#include <string>

class VXLPlatformWin final : public IVXLPlatform {
public:
    VXLPlatformWin();

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

private:
    ~VXLPlatformWin();

    void clearMasks();
    // Joins the workers and frees the full-size buffers once those parts land; nothing to do before.
    void stopWorkers() {}
    void releaseSourceBuffers() {}

    // Entry points of the outside libraries, their handles and the engine created from them.
    RuntimeLibraries libraries_;
    VxlEngineHandle engineHandle_ = nullptr;  // from VXL_CreateEngine; null when there is none

    std::mutex displayMutex_;                 // display conversion
    HostFilterRecord* hostRecord_ = nullptr;  // null for a standalone platform

    std::string productName_;  // kept; read by no operation
    std::string folder3_;      // handed to the encoder
    std::string binDir_;       // module folder
    std::string userFolder_;   // holds the "Input" and "Output" LUT folders
    std::string lastPath_;     // image last opened

    uint8_t stopFlag_ = 0;
    // Analysis switches; init sets all five and nothing clears them.
    uint8_t analyseEngine_ = 0, analyseNoise_ = 0, analyseFaces_ = 0, analyseRedEye_ = 0, analyseFaceLibrary_ = 0;

    // Facts the decoder records about the open image.
    int iso_ = -1;                 // capped at 3200; -1 when unknown
    uint8_t flashNotFired_ = 0;
    std::string camera_;           // make and model joined by a blank
    uint8_t decoderByte_ = 0;
    std::string lens_;

    std::mutex thumbnailMutex_;    // guards the thumbnail list
    uint8_t shutDown_ = 0;

    // Options from the factory; previewOnly only ever goes from off to on.
    bool previewOnly_ = false;
    bool noFullSizeSource_ = false;
    bool economyNoDetail_ = false;
    bool singleThreaded_ = false;

    int previewSize_ = 0;          // longer side of the preview; 1200 after init
    std::mutex instanceMutex_;
    bool hostRecordHandOver_ = false;
    void* userData_ = nullptr;     // the caller's; never freed here
    ImageView masks_[2] = {};      // data[0] of each is a private copy of the caller's pixels, or null
};
