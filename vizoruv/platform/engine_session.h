// EngineSession: the result of analysing one image once, kept for every later correction of it.
//
// Divisions: the face state (filled by the face glue, face_glue.h); the session record; the analysis
// and its parts (fingerprint, detector model); accessors; the release of the face state.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vizoruv/platform/engine_abi.h"
#include "vizoruv/platform/image_view.h"
#include "vizoruv/platform/redeye_abi.h"

class VXLPlatformWin;
class VXLDetector;
struct CorrectionReport;
struct HostFilterRecord;
struct VXL_FACE;

// Face state of an image. The face glue fills and releases it (face_glue.h); the session only
// holds it. Pointers stay null until face detection has run.
struct SessionFaceState {
    void* engine = nullptr;          // the beautification engine of this image
    VXL_FACE* faces = nullptr;       // face array of the engine's allocator
    int32_t faceCount = 0;
    void* faceAttributes = nullptr;  // per-face analysis records
    int32_t detectionSide = 0;       // side of the image the faces were found on
    std::vector<uint8_t> yuvImage;   // planar YUV 4:2:0 copy the engine works on
    int32_t yuvWidth = 0;            // size of the image yuvImage holds; 0 while there is none
    int32_t yuvHeight = 0;
    void* detectorFaces = nullptr;   // records of the optional face-detector library
    int32_t detectorFaceCount = 0;
};

// One face area that the engine library's analysis found, in full-size pixels.
struct EngineFaceRecord {
    int32_t rects[12];  // three rectangles x, y, width, height
    uint8_t firstScoreHigh;   // first score above 50
    uint8_t secondScoreHigh;  // second score above 50
    uint8_t reserved[2];
};
static_assert(sizeof(EngineFaceRecord) == 52, "engine face record is 52 bytes");

constexpr const char kEmptyFingerprint[] = "00000000000000000000000000000000";
constexpr int kFingerprintLength = 32;
constexpr int kDescriptorCount = 90;

// Answers of analyseImage.
enum : int {
    kAnalysisOk = 0,
    kAnalysisFailed = -1,       // image under 32 pixels on a side, or the engine analysis failed
    kAnalysisBadFormat = -10,   // the engine did not take the pixel format
    kAnalysisTooSmall = -9,     // the engine found the image too small
};

struct EngineSession {
    explicit EngineSession(VXLPlatformWin* owner);
    ~EngineSession();
    EngineSession(const EngineSession&) = delete;
    EngineSession& operator=(const EngineSession&) = delete;

    SessionFaceState face;
    std::vector<EngineFaceRecord> engineFaces;   // the engine library's face areas
    VXLPlatformWin* platform;
    int32_t iso = -1;                            // as given to the analysis; -1 when unknown
    std::string camera;                          // make and model
    std::mutex lock;                             // the session lock (face glue)
    std::vector<int32_t> tableA;                 // detector tables; empty until a detector run succeeds
    std::vector<int32_t> tableB;
    std::vector<uint8_t> tableC;
    bool flashNotFired = false;
    HostFilterRecord* hostRecord = nullptr;
    VxlProfile* profile = nullptr;               // from VXL_Calc; released with the session
    bool noiseLevel0 = false;
    bool noiseLevel4 = false;
    ReListLink redEyeLists[2];                   // the red-eye library's region lists
    bool redEyeListsReady = false;
    bool redEyeFound = false;
    // Sticky request flags: only ever switched on.
    bool redEyeAsked = false, noiseAsked = false, facesWanted = false, faceLibraryAsked = false;
    std::string fingerprint = kEmptyFingerprint;
    std::vector<float> descriptors;              // empty or 90 floats
    float descriptorA = 0, descriptorB = 0;
    int32_t descriptorInt = 0, descriptorFlag = 0;
    VXLDetector* detector = nullptr;

    // The level-4 flag for levels 3 and 4, else the level-0 flag.
    bool noiseFlag(int level) const { return level == 3 || level == 4 ? noiseLevel4 : noiseLevel0; }
    // VXL_AbnormalTintDetected of the profile with the tint method; false without a profile.
    bool tintDetected(int method) const;
    // The host record for the engine library, when it may be handed over; else null.
    HostFilterRecord* hostRecordForEngine() const;
    // Fills the descriptor fields of a report (zeros and both flags 1 when there are none).
    void readDescriptors(CorrectionReport* report) const;
};

// What analyseImage is asked to do besides the fingerprint.
struct AnalysisRequest {
    bool engineAnalysis = false;
    bool noiseDetection = false;
    bool redEyeDetection = false;
    bool faceDetection = false;
    bool faceLibrary = false;
    bool bgrOrder = false;           // channel order of the views: blue first (host mode)
    int32_t extra = 0;               // extra int of the engine analysis
    const VXL_FACE* callerFaces = nullptr;
    int32_t callerFaceCount = 0;
    std::string expectedFingerprint; // compared in host mode
    VXLDetector* detector = nullptr;
};

// Analyses the image into the session: fingerprint, engine profile with noise flags, face areas and
// descriptors, red-eye regions, face detection (through the face glue) and the detector model.
int analyseImage(EngineSession* session, const ImageView& full, const ImageView& preview, const ImageView& faceView,
                 int iso, const std::string& camera, bool flashNotFired, HostFilterRecord* hostRecord,
                 const AnalysisRequest& request);

// Difference hash on an 8 x 8 grid with the image size: "%08x%08x%16llx" cut to 32 characters.
std::string computeFingerprint(const ImageView& view);
// Same size and fewer than 3 differing hash bits; a text that is not 32 characters never matches.
bool fingerprintMatches(const std::string& ours, const std::string& text);

// Asks the caller's detector for its request and runs it; keeps its tables on success.
void runDetectorModel(EngineSession* session, const ImageView& full, bool bgrOrder);

// The engine image record the analysis hands over: 8-bit views in their channel order, 16-bit views
// always red first (engineImageRecord otherwise).
VxlEngineImage analysisEngineImage(const ImageView& view, bool bgrOrder);

