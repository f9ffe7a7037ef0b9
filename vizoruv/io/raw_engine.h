// VXLRawEngine: one camera RAW file developed through LibRaw.
//
// The caller hands the engine the LibRaw module it loaded (a handle from sysDynlibOpen); the engine
// looks every LibRaw entry point up by name when it needs it, and a step whose entry point the
// module lacks is skipped. An engine serves one file: construct, initWithFile, any number of
// develop calls (a repeated full development with unchanged relevant settings reuses the first
// result), the camera queries, destroy.
//
// Divided into: the result codes, the pass that renders the record's corrections, the engine.
#pragma once

#include <cstdint>
#include <string>

#include "vizoruv/io/raw_params.h"
#include "vizoruv/platform/image_view.h"

// The engine kind that develops through LibRaw; an engine of any other kind opens nothing.
constexpr int kRawEngineLibRaw = 2;

// Development modes of develop: 1 and 2 develop the full image (2 is the usual one; the record's
// developModeOverride makes it act as 1, and both behave the same); any other mode extracts an
// embedded thumbnail.
constexpr int kRawDevelopReduced = 1;
constexpr int kRawDevelopFull = 2;
constexpr int kRawDevelopThumbnail = 0;

// lastResult codes: 0 ok, LibRaw's own negative codes (LIBRAW_FILE_UNSUPPORTED -2, LIBRAW_NO_THUMBNAIL
// -5, LIBRAW_IO_ERROR -100009, ...) as LibRaw answered them, and these of the engine.
constexpr int kRawErrorNoLibRaw = -200001;     // wrong engine kind, no module, or no libraw_init/open_file
constexpr int kRawErrorNotOpen = -200002;      // no file opened (or opening failed)
constexpr int kRawErrorNotBitmap = -200003;    // LibRaw delivered no 3-colour bitmap of 8 or 16 bits
constexpr int kRawErrorNoMemory = -200004;     // the output block could not be allocated
constexpr int kRawErrorJpegThumbnail = -200005;  // the thumbnail is a JPEG: its bytes are in the view

// Renders the record's embedded correction block over the developed image: one adjustment layer
// (layer defaults, then filled from the block) through the processing pipeline, in a temporary
// engine session of the platform. The platform supplies it; without one the step is skipped.
struct RawCorrectionPass {
    void (*run)(void* platform, ImageView* image, const VXLParams& block);
    void* platform;
};

class VXLRawEngine {
public:
    // Nothing is opened yet. The module is not owned and must outlive the engine.
    VXLRawEngine(int kind, void* librawModule);
    ~VXLRawEngine();
    VXLRawEngine(const VXLRawEngine&) = delete;
    VXLRawEngine& operator=(const VXLRawEngine&) = delete;

    int kind() const { return kind_; }

    // Opens the file (UTF-8 path) and reads the camera facts. False when the engine is not of kind 2,
    // has no module, or LibRaw cannot open the file (lastResult says why). Logs the path and whether
    // libraw_open_file succeeded.
    bool initWithFile(const char* path);

    // "make model"; false when no file is open or no camera facts were read.
    bool cameraName(std::string* out) const;

    // "make model" and the lens name (maker-note lens); either output may be null. Both empty when no
    // facts were read; false when no file is open.
    bool cameraAndLens(std::string* camera, std::string* lens) const;

    // Size of the developed (upright) image when there is one, else LibRaw's output size as stored
    // (libraw_get_iwidth / libraw_get_iheight); 0 for an engine that is not of kind 2 or has no file.
    int width() const;
    int height() const;

    // Shot facts that LibRaw read from the file; -1 / 0 when unknown or no file is open.
    int iso() const;               // ISO speed, rounded
    float aperture() const;        // f-number
    float shutterSeconds() const;  // exposure time in seconds
    float focalLength() const;     // millimetres

    // The EXIF orientation (1..8) in which the file stores its picture. The developed image is
    // already turned upright by LibRaw, so developed pixels must not be oriented by this again.
    int storedOrientation() const;

    // Develops into `out` (mode, see above). Full development: an 8-bit (format 0, 3 bytes per pixel)
    // or 16-bit (format 1, 6 bytes per pixel, little-endian) R, G, B image, rows packed at width x
    // bytes per pixel, then `pass` over it with the record's embedded block. Thumbnail: the first
    // embedded thumbnail whose width and height are both below `size` (else the first one); a bitmap
    // thumbnail is copied like a developed 8-bit image and answers true; a JPEG thumbnail's bytes are
    // copied into the block with the byte count as width (height 1) and the answer is false.
    //
    // The view's block (data[0]) is a malloc block owned by the caller (free it with std::free or
    // releaseRawView). Hand in a zeroed view (ImageView{}) or one that holds such a block: a block
    // already in the view is reused when its present rowBytes x height covers the new image, else
    // freed and replaced. `params` may be null (engine defaults). On
    // failure the view keeps what it held. Answers true when the last LibRaw answer was 0.
    bool develop(int mode, int size, ImageView* out, const VXLRAWParams* params, const RawCorrectionPass* pass);

    // Kept for callers that ask for more camera data: answers false and does nothing.
    bool extraCameraData(void* data) const;

    // The settings of the last full development (engine defaults until then).
    const VXLRAWParams& lastSettings() const { return last_; }

    // 0, a LibRaw code or a kRawError code: the answer of the last step that ran.
    int lastResult() const { return lastResult_; }

private:
    struct Facts;
    void* entry(const char* name) const;
    void releaseImages();
    bool developFull(const VXLRAWParams& merged);
    bool developThumbnail(int size, ImageView* out);

    int kind_;
    void* module_;
    void* context_ = nullptr;       // libraw_data_t, owned; closed on destruction
    void* image_ = nullptr;         // developed libraw_processed_image_t, owned
    void* thumbnail_ = nullptr;     // thumbnail libraw_processed_image_t, owned
    int thumbnailIndex_ = -1;       // the thumbnail list's entry that thumbnail_ holds
    Facts* facts_ = nullptr;        // camera facts made by initWithFile, or null
    std::string path_;
    bool unpacked_ = false;         // libraw_unpack ran for this file
    bool developed_ = false;        // image_ holds the result of last_
    VXLRAWParams last_;
    int lastResult_ = 0;
};

// Frees a view's block and clears its pointers and geometry; nothing for null.
void releaseRawView(ImageView* view);

// Where the engine's log lines go (null restores the default, standard error).
using RawEngineLogSink = void (*)(const char* text);
void setRawEngineLogSink(RawEngineLogSink sink);
