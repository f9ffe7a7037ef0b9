// IVXLPlatform: the imaging platform's abstract interface, and its factory VxlPlatformCreate.
//
// Callers reach the operations by position, so the order of the virtual operations below is the
// interface: every slot keeps its place, the reserved ones included, and no operation may be added
// in between (nor a virtual destructor, which would take slots of its own). Strings cross the
// interface as UTF-8. Operations that can fail answer 0 for success and -1 for failure unless the
// comment says otherwise.
//
// Slots 16 to 20 are reserved and always answer -1. The views that GetThumbnail and
// GetMaskOverlays fill stay the platform's until FreeThumbnail or Release.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vizoruv/platform/image_view.h"

// Records of the other platform and editing parts; the interface passes them by pointer only.
struct CorrectionStack;
struct CorrectionReport;
struct VXLRAWParams;
struct VXLParams;
struct VXL_FACE;
struct HostFilterRecord;
struct OutputSettings;
struct MaskTransform;
struct EngineFaceRecord;  // 52-byte face-region record: three x, y, w, h rectangles and two flags
class VXLDetector;

// Progress of a correction: step of total; answering non-zero cancels the run.
typedef int (*VxlProgressCallback)(int step, int total, void* userData);

class IVXLPlatform {
public:
    /* 0 */ virtual int OpenImageFile(const char* path, const CorrectionStack* stack, int previewSize,
                                      void* reserved, void* librawModule, const VXLRAWParams* rawParams,
                                      VXLDetector* detector) = 0;
    /* 1 */ virtual int OpenHostImage(HostFilterRecord* record, const CorrectionStack* stack, int mode,
                                      void* reserved1, void* reserved2, const char* expectedFingerprint,
                                      VXLDetector* detector) = 0;
    /* 2 */ virtual int GetImage(ImageView* view, bool unedited, bool fullSize) = 0;
    /* 3 */ virtual int ApplyCorrection(const CorrectionStack* stack, CorrectionReport* report, bool fullSize) = 0;
    /* 4 */ virtual int StartCorrection(const CorrectionStack* stack, VxlProgressCallback progress,
                                        void* progressData) = 0;
    /* 5 */ virtual int ConvertResultForDisplay(bool fullSize) = 0;
    /* 6 */ virtual int GetResizedImage(ImageView* view, bool unedited, int side, bool keepAspect) = 0;
    /* 7 */ virtual int ProcessFile(const char* inputPath, const char* outputPath, const CorrectionStack* stack,
                                    void* reserved, const OutputSettings* settings, const MaskTransform* transform,
                                    int keepUpright, const char* software, const ImageView* overlay,
                                    VxlProgressCallback progress, void* progressData, void* reserved2,
                                    void* reserved3, void* librawModule, const VXLRAWParams* rawParams,
                                    VXLDetector* detector, void* reserved4) = 0;
    /* 8 */ virtual int ProcessHostImage(HostFilterRecord* record, const CorrectionStack* stack, int mode,
                                         int flags, const char* text, VXLDetector* detector) = 0;
    /* 9 */ virtual std::vector<std::string> GetLutKeys() = 0;
    /* 10 */ virtual int GetFaces(VXL_FACE** faces, int* count) = 0;
    /* 11 */ virtual int GetFaceLandmarks(const EngineFaceRecord** records, int* count) = 0;
    /* 12 */ virtual int SetFace(const VXL_FACE* face) = 0;
    /* 13 */ virtual int SetFaces(const VXL_FACE* faces, int count) = 0;
    /* 14 */ virtual int ResetFaces() = 0;
    /* 15 */ virtual int GetHistogram(uint8_t* table1024, const MaskTransform* region, bool unedited,
                                      int smoothing) = 0;
    /* 16 */ virtual int Reserved16() = 0;
    /* 17 */ virtual int Reserved17() = 0;
    /* 18 */ virtual int Reserved18() = 0;
    /* 19 */ virtual int Reserved19() = 0;
    /* 20 */ virtual int Reserved20() = 0;
    /* 21 */ virtual int GetImageInfo(bool* isRaw, std::string* camera, std::string* lens, int* width, int* height,
                                      int* iso, float* aperture, float* focalLength, float* exposureBias,
                                      float* shutterSpeed) = 0;
    /* 22 */ virtual int GetThumbnail(const char* path, int size, ImageView* view, int* decoded,
                                      void* librawModule) = 0;
    /* 23 */ virtual int GetMaskOverlays(ImageView* overlayA, ImageView* overlayB, const CorrectionStack* stack,
                                         int layerB, int layerC, float aspect, int side, int sampling) = 0;
    /* 24 */ virtual int FreeThumbnail(ImageView* view) = 0;
    /* 25 */ virtual int GetToneCurves(uint8_t* table1024, const VXLParams* params, int a, int b, int c, int d) = 0;
    /* 26 */ virtual int GetFingerprint(std::string* fingerprint) = 0;
    /* 27 */ virtual int CloseImage() = 0;
    /* 28 */ virtual void SetSingleThreaded(bool singleThreaded) = 0;
    /* 29 */ virtual void SetUserData(void* userData) = 0;
    /* 30 */ virtual void* GetUserData() = 0;
    /* 31 */ virtual std::string GetAutoSkintoneParameters(unsigned skinToneType, int* first, int* second) = 0;
    /* 32 */ virtual void SetMasks(const ImageView* first, const ImageView* second) = 0;
    /* 33 */ virtual void SetFaceMesh(int faceCount, const float* landmarks) = 0;
    /* 34 */ virtual void SetAIEngines(void* first, void* second, void* third) = 0;
    /* 35 */ virtual void Release() = 0;

protected:
    // Not virtual and not public: the platform ends through Release (slot 35) only.
    ~IVXLPlatform() = default;
};

constexpr int kVxlPlatformSlotCount = 36;

// Creates a platform. productName, binDir (the module folder the outside libraries load from),
// folder3 (handed to the encoder) and userFolder (holding the "Input" and "Output" LUT folders) are
// UTF-8. requireLibraries non-zero: fail unless at least one outside library loaded. previewOnly
// non-zero: keep the full-size image only until it is analysed. economyLevel: above 0 with
// previewOnly keeps no full-size source at all; bit 1 (value 2) skips 16-bit RAW development and
// the face-detector image. Answers the platform, or null when initialisation fails.
IVXLPlatform* VxlPlatformCreate(const char* productName, const char* binDir, const char* folder3,
                                const char* userFolder, int requireLibraries, int previewOnly, int economyLevel);
