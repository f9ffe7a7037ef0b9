// VXLRawEngine (see raw_engine.h). LibRaw is reached only through entry points looked up by name in
// the caller's module; its headers give the record layouts (libraw_data_t and the records that its
// getters answer), which belong to the LibRaw build the module comes from.
//
// Divided into: entry-point types and the log sink, the view block, opening and the camera facts,
// full development, thumbnails.
#include "vizoruv/io/raw_engine.h"

#include <libraw/libraw.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "sys/dynlib/dynlib.h"

namespace {

using InitFn = libraw_data_t* (*)(unsigned int flags);
using OpenFileFn = int (*)(libraw_data_t*, const char*);
using ContextFn = int (*)(libraw_data_t*);
using CloseFn = void (*)(libraw_data_t*);
using IParamsFn = libraw_iparams_t* (*)(libraw_data_t*);
using LensInfoFn = libraw_lensinfo_t* (*)(libraw_data_t*);
using ImgOtherFn = libraw_imgother_t* (*)(libraw_data_t*);
using MakeMemFn = libraw_processed_image_t* (*)(libraw_data_t*, int* errorCode);
using UnpackThumbExFn = int (*)(libraw_data_t*, int index);
using ClearMemFn = void (*)(libraw_processed_image_t*);

constexpr float kMinExposureShift = 0.25f; // LibRaw's accepted range of exp_shift
constexpr float kMaxExposureShift = 8.0f;
constexpr double kLibRawGammaPower = 0.45; // LibRaw's own output curve (BT.709)
constexpr double kLibRawGammaSlope = 4.5;

void standardErrorSink(const char* text)
{
    std::fputs(text, stderr);
}

std::atomic<RawEngineLogSink> g_logSink{standardErrorSink};

void logLine(const char* format, const char* argument = nullptr)
{
    char line[2048];
    std::snprintf(line, sizeof line, format, argument ? argument : "");
    g_logSink.load()(line);
}

bool shiftInRange(float shift)
{
    return shift >= kMinExposureShift && shift <= kMaxExposureShift;
}

// LibRaw's flip code (bit 0 mirror left-right, bit 1 mirror top-bottom, bit 2 transpose) as the
// EXIF orientation that it stands for; the inverse of LibRaw's own EXIF-to-flip table.
int exifOrientationOfFlip(int flip)
{
    static const int kOrientation[8] = {1, 2, 4, 3, 5, 8, 6, 7};
    return kOrientation[flip & 7];
}

// Makes room for `length` bytes in the view's block, reusing it when its present geometry covers
// the length. False (view untouched) when a new block cannot be allocated.
bool prepareViewBlock(ImageView* view, size_t length)
{
    const size_t present = view->data[0] && view->rowBytes > 0 && view->height > 0
                               ? static_cast<size_t>(view->rowBytes) * static_cast<size_t>(view->height)
                               : 0;
    if (present >= length)
        return true;
    auto* block = static_cast<uint8_t*>(std::malloc(length));
    if (!block)
        return false;
    std::free(view->data[0]);
    view->data[0] = block;
    return true;
}

// Copies a LibRaw bitmap (3 colours, 8 or 16 bits) into the view as packed R, G, B rows.
int copyBitmapIntoView(const libraw_processed_image_t* image, ImageView* view)
{
    if (image->type != LIBRAW_IMAGE_BITMAP || image->colors != 3 || (image->bits != 8 && image->bits != 16) ||
        image->width == 0 || image->height == 0)
        return kRawErrorNotBitmap;
    const int bytesPerPixel = 3 * (image->bits / 8);
    const size_t rowBytes = static_cast<size_t>(image->width) * bytesPerPixel;
    const size_t length = rowBytes * image->height;
    if (length > image->data_size || length > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        return kRawErrorNotBitmap;
    if (!prepareViewBlock(view, length))
        return kRawErrorNoMemory;
    std::memcpy(view->data[0], image->data, length);
    const int sampleBytes = image->bits / 8;
    view->format = image->bits == 16 ? kImageFormat16 : kImageFormat8;
    view->width = image->width;
    view->height = image->height;
    view->rowBytes = static_cast<int32_t>(rowBytes);
    view->bytesPerPixel = bytesPerPixel;
    view->hasAlpha = 0;
    view->hostOrder = 0;
    view->data[1] = view->data[0] + sampleBytes;
    view->data[2] = view->data[0] + 2 * sampleBytes;
    return 0;
}

// A thumbnail into the view: a bitmap like a developed image; a JPEG's bytes into a fresh block
// with the byte count as width, answered as kRawErrorJpegThumbnail (the caller decodes it).
int copyThumbnail(const libraw_processed_image_t* thumb, ImageView* view)
{
    if (thumb->type != LIBRAW_IMAGE_JPEG)
        return copyBitmapIntoView(thumb, view);
    auto* block = static_cast<uint8_t*>(std::malloc(thumb->data_size ? thumb->data_size : 1));
    if (!block)
        return kRawErrorNoMemory;
    std::memcpy(block, thumb->data, thumb->data_size);
    std::free(view->data[0]);
    *view = ImageView{};
    view->data[0] = block;
    view->width = static_cast<int32_t>(thumb->data_size);
    view->height = 1;
    view->rowBytes = static_cast<int32_t>(thumb->data_size);
    view->bytesPerPixel = 1;
    return kRawErrorJpegThumbnail;
}

} // namespace

struct VXLRawEngine::Facts {
    std::string make;
    std::string model;
    std::string lens;
    float focalLength = 0;
    float isoSpeed = 0;
    float aperture = 0;
    float shutter = 0;
};

void setRawEngineLogSink(RawEngineLogSink sink)
{
    g_logSink = sink ? sink : standardErrorSink;
}

void releaseRawView(ImageView* view)
{
    if (!view)
        return;
    std::free(view->data[0]);
    *view = ImageView{};
}

VXLRawEngine::VXLRawEngine(int kind, void* librawModule) : kind_(kind), module_(librawModule)
{
    fillDefaultRawParams(&last_);
}

VXLRawEngine::~VXLRawEngine()
{
    releaseImages();
    if (context_) {
        if (auto close = reinterpret_cast<CloseFn>(entry("libraw_close")))
            close(static_cast<libraw_data_t*>(context_));
    }
    delete facts_;
}

void* VXLRawEngine::entry(const char* name) const
{
    return module_ ? sysDynlibSymbol(module_, name) : nullptr;
}

void VXLRawEngine::releaseImages()
{
    auto clear = reinterpret_cast<ClearMemFn>(entry("libraw_dcraw_clear_mem"));
    if (clear) {
        if (image_)
            clear(static_cast<libraw_processed_image_t*>(image_));
        if (thumbnail_)
            clear(static_cast<libraw_processed_image_t*>(thumbnail_));
    }
    image_ = nullptr;
    thumbnail_ = nullptr;
    thumbnailIndex_ = -1;
    developed_ = false;
}

// ---- opening and the camera facts ----

bool VXLRawEngine::initWithFile(const char* path)
{
    path_ = path ? path : "";
    fillDefaultRawParams(&last_);
    logLine("VXLRawEngine::initWithFile:\n%s\n", path_.c_str());

    // A second file in the same engine starts from a clean context.
    releaseImages();
    unpacked_ = false;
    if (context_) {
        if (auto close = reinterpret_cast<CloseFn>(entry("libraw_close")))
            close(static_cast<libraw_data_t*>(context_));
        context_ = nullptr;
    }
    delete facts_;
    facts_ = nullptr;

    auto init = reinterpret_cast<InitFn>(entry("libraw_init"));
    auto openFile = reinterpret_cast<OpenFileFn>(entry("libraw_open_file"));
    if (kind_ != kRawEngineLibRaw || !init || !openFile || !path) {
        lastResult_ = kRawErrorNoLibRaw;
        logLine("libraw_open_file FAILS\n");
        return false;
    }
    auto* context = init(0);
    if (!context) {
        lastResult_ = LIBRAW_UNSUFFICIENT_MEMORY;
        logLine("libraw_open_file FAILS\n");
        return false;
    }
    context_ = context;
    lastResult_ = openFile(context, path);
    if (lastResult_ != 0) {
        logLine("libraw_open_file FAILS\n");
        // The context stays with the engine (closed on destruction); without an opened file every
        // query answers as for no file.
        if (auto close = reinterpret_cast<CloseFn>(entry("libraw_close")))
            close(context);
        context_ = nullptr;
        return false;
    }
    logLine("libraw_open_file OK\n");

    auto getIParams = reinterpret_cast<IParamsFn>(entry("libraw_get_iparams"));
    auto getLensInfo = reinterpret_cast<LensInfoFn>(entry("libraw_get_lensinfo"));
    auto getImgOther = reinterpret_cast<ImgOtherFn>(entry("libraw_get_imgother"));
    const libraw_iparams_t* iparams = getIParams ? getIParams(context) : nullptr;
    const libraw_lensinfo_t* lensInfo = getLensInfo ? getLensInfo(context) : nullptr;
    const libraw_imgother_t* other = getImgOther ? getImgOther(context) : nullptr;
    if (iparams && lensInfo && other) {
        facts_ = new Facts;
        facts_->make.assign(iparams->make, strnlen(iparams->make, sizeof iparams->make));
        facts_->model.assign(iparams->model, strnlen(iparams->model, sizeof iparams->model));
        // The maker-note lens name; files without maker notes (DNG) name the lens in EXIF only.
        const char* lens = lensInfo->makernotes.Lens[0] ? lensInfo->makernotes.Lens : lensInfo->Lens;
        facts_->lens.assign(lens, strnlen(lens, sizeof lensInfo->Lens));
        facts_->focalLength = other->focal_len;
        facts_->isoSpeed = other->iso_speed;
        facts_->aperture = other->aperture;
        facts_->shutter = other->shutter;
    }
    return true;
}

bool VXLRawEngine::cameraName(std::string* out) const
{
    if (!context_ || !facts_ || !out)
        return false;
    *out = facts_->make + " " + facts_->model;
    return true;
}

bool VXLRawEngine::cameraAndLens(std::string* camera, std::string* lens) const
{
    if (!context_)
        return false;
    if (camera)
        *camera = facts_ ? facts_->make + " " + facts_->model : std::string();
    if (lens)
        *lens = facts_ ? facts_->lens : std::string();
    return true;
}

int VXLRawEngine::width() const
{
    if (kind_ != kRawEngineLibRaw)
        return 0;
    if (image_)
        return static_cast<const libraw_processed_image_t*>(image_)->width;
    auto getWidth = reinterpret_cast<ContextFn>(entry("libraw_get_iwidth"));
    return context_ && getWidth ? getWidth(static_cast<libraw_data_t*>(context_)) : 0;
}

int VXLRawEngine::height() const
{
    if (kind_ != kRawEngineLibRaw)
        return 0;
    if (image_)
        return static_cast<const libraw_processed_image_t*>(image_)->height;
    auto getHeight = reinterpret_cast<ContextFn>(entry("libraw_get_iheight"));
    return context_ && getHeight ? getHeight(static_cast<libraw_data_t*>(context_)) : 0;
}

int VXLRawEngine::iso() const
{
    return facts_ && facts_->isoSpeed > 0 ? static_cast<int>(std::lround(facts_->isoSpeed)) : -1;
}

float VXLRawEngine::aperture() const
{
    return facts_ ? facts_->aperture : 0.0f;
}

float VXLRawEngine::shutterSeconds() const
{
    return facts_ ? facts_->shutter : 0.0f;
}

float VXLRawEngine::focalLength() const
{
    return facts_ ? facts_->focalLength : 0.0f;
}

int VXLRawEngine::storedOrientation() const
{
    if (!context_)
        return 1;
    return exifOrientationOfFlip(static_cast<const libraw_data_t*>(context_)->sizes.flip);
}

bool VXLRawEngine::extraCameraData(void*) const
{
    return false;
}

// ---- full development ----

bool VXLRawEngine::develop(int mode, int size, ImageView* out, const VXLRAWParams* params,
                           const RawCorrectionPass* pass)
{
    if (!context_) {
        lastResult_ = kRawErrorNotOpen;
        return false;
    }
    if (!out)
        return false;
    if (mode != kRawDevelopReduced && mode != kRawDevelopFull)
        return developThumbnail(size, out);

    VXLRAWParams merged;
    fillDefaultRawParams(&merged);
    if (params && params->useSettings) {
        const VXLRAWParams defaults = merged;
        merged = *params;
        if (!merged.exposureCorrectionOn)
            merged.exposureShift = defaults.exposureShift;
        if (!merged.value28On)
            merged.value28 = defaults.value28;
        if (!merged.value40On)
            merged.value40 = defaults.value40;
        if (!merged.value68On)
            merged.value68 = defaults.value68;
    } else if (params) {
        merged.outputDepth = params->outputDepth;
    }
    // A shift LibRaw would not accept switches the correction off; the caller's record is left as
    // it is (it may be a shared, undoable image state).
    if (merged.exposureShift != 0 && !shiftInRange(merged.exposureShift))
        merged.exposureCorrectionOn = 0;

    const bool same = developed_ && merged.exposureCorrectionOn == last_.exposureCorrectionOn &&
                      (!merged.exposureCorrectionOn || merged.exposureShift == last_.exposureShift) &&
                      merged.outputCurve == last_.outputCurve && merged.outputDepth == last_.outputDepth;
    if (!same && !developFull(merged))
        return false;

    lastResult_ = copyBitmapIntoView(static_cast<const libraw_processed_image_t*>(image_), out);
    if (lastResult_ != 0)
        return false;
    last_ = merged;
    if (pass && pass->run)
        pass->run(pass->platform, out, merged.params);
    return lastResult_ == 0;
}

bool VXLRawEngine::developFull(const VXLRAWParams& merged)
{
    auto* context = static_cast<libraw_data_t*>(context_);
    // The raw data is read once per file; LibRaw processes it again for every new setting.
    if (!unpacked_) {
        if (auto unpack = reinterpret_cast<ContextFn>(entry("libraw_unpack"))) {
            lastResult_ = unpack(context);
            if (lastResult_ != 0)
                return false;
        }
        unpacked_ = true;
    }
    libraw_output_params_t& out = context->params;
    out.exp_correc = 0;
    out.exp_shift = 1.0f;
    if (merged.exposureCorrectionOn && shiftInRange(merged.exposureShift)) {
        out.exp_correc = 1;
        out.exp_shift = merged.exposureShift;
    }
    // The context keeps its settings between developments: every one is written each time.
    out.output_color = 1;
    out.gamm[0] = kLibRawGammaPower;
    out.gamm[1] = kLibRawGammaSlope;
    if (merged.outputCurve == kRawCurveSrgb) {
        out.gamm[0] = 1.0 / 2.4;
        out.gamm[1] = 12.92;
    }
    out.use_camera_wb = 1;
    out.output_bps = merged.outputDepth == kRawDepth16 ? 16 : 8;

    // The earlier result goes first: LibRaw makes a new block for every image it hands out.
    auto clear = reinterpret_cast<ClearMemFn>(entry("libraw_dcraw_clear_mem"));
    if (image_ && clear)
        clear(static_cast<libraw_processed_image_t*>(image_));
    image_ = nullptr;
    developed_ = false;

    if (auto process = reinterpret_cast<ContextFn>(entry("libraw_dcraw_process"))) {
        lastResult_ = process(context);
        if (lastResult_ != 0)
            return false;
    }
    auto makeImage = reinterpret_cast<MakeMemFn>(entry("libraw_dcraw_make_mem_image"));
    if (!makeImage) {
        lastResult_ = kRawErrorNotBitmap;
        return false;
    }
    int error = 0;
    libraw_processed_image_t* image = makeImage(context, &error);
    if (!image) {
        lastResult_ = error != 0 ? error : LIBRAW_UNSPECIFIED_ERROR;
        return false;
    }
    image_ = image;
    lastResult_ = error;
    if (image->type != LIBRAW_IMAGE_BITMAP || image->colors != 3) {
        lastResult_ = kRawErrorNotBitmap;
        return false;
    }
    developed_ = lastResult_ == 0;
    return developed_;
}

// ---- thumbnails ----

bool VXLRawEngine::developThumbnail(int size, ImageView* out)
{
    auto* context = static_cast<libraw_data_t*>(context_);
    int index = 0;
#if LIBRAW_COMPILE_CHECK_VERSION_NOTLESS(0, 21)
    for (int i = 0; i < context->thumbs_list.thumbcount; ++i) {
        const auto& item = context->thumbs_list.thumblist[i];
        if (item.twidth < size && item.theight < size) {
            index = i;
            break;
        }
    }
#endif
    // LibRaw unpacks a thumbnail once per file: the one made earlier serves again.
    if (thumbnail_ && thumbnailIndex_ == index) {
        lastResult_ = copyThumbnail(static_cast<const libraw_processed_image_t*>(thumbnail_), out);
        return lastResult_ == 0;
    }
    // Modules older than the thumbnail list hold one thumbnail, unpacked without an index.
    if (auto unpackEx = reinterpret_cast<UnpackThumbExFn>(entry("libraw_unpack_thumb_ex"))) {
        lastResult_ = unpackEx(context, index);
    } else if (auto unpack = reinterpret_cast<ContextFn>(entry("libraw_unpack_thumb"))) {
        lastResult_ = unpack(context);
    }
    if (lastResult_ != 0)
        return false;

    auto makeThumb = reinterpret_cast<MakeMemFn>(entry("libraw_dcraw_make_mem_thumb"));
    if (!makeThumb) {
        lastResult_ = LIBRAW_NO_THUMBNAIL;
        return false;
    }
    int error = 0;
    libraw_processed_image_t* thumb = makeThumb(context, &error);
    if (!thumb) {
        lastResult_ = error != 0 ? error : LIBRAW_NO_THUMBNAIL;
        return false;
    }
    if (auto clear = reinterpret_cast<ClearMemFn>(entry("libraw_dcraw_clear_mem")); clear && thumbnail_)
        clear(static_cast<libraw_processed_image_t*>(thumbnail_));
    thumbnail_ = thumb;
    thumbnailIndex_ = index;
    if (error != 0) {
        lastResult_ = error;
        return false;
    }
    lastResult_ = copyThumbnail(thumb, out);
    return lastResult_ == 0;
}
