// Decoding: read the file, its metadata facts and its frame; classify the pixel format; convert to
// sRGB; build the 16-bit and 8-bit full-size images, turn them upright; fit the preview; make the
// face-detector copy.
#include "vizoruv/io/image_decoder.h"

#include "vizoruv/io/colour_profiles.h"
#include "vizoruv/io/image_geometry.h"
#include "vizoruv/io/metadata.h"

#include <cstring>
#include <new>

namespace {

constexpr uint32_t kDetectorWidth = 320;
// The detector copy's rows at most: eight times its width. A picture many times taller than wide
// would otherwise be blown up into a copy of millions of pixels (a 1 x 64 preview, 320 x 20480)
// that no face search needs.
constexpr uint32_t kMostDetectorRows = 8 * kDetectorWidth;
constexpr size_t kLensTextLimit = 1023;  // wide characters of the lens text

int decodeFailure(std::string* error, const std::string& text) {
    if (error)
        *error = text;
    return -1;
}

// The first unsigned 16-bit number of a value: integers as they are, a list by its first element.
bool firstNumber(const MetaValue& v, uint32_t* number) {
    switch (v.type) {
    case MetaType::UInt8:
    case MetaType::UInt16:
    case MetaType::UInt32:
        *number = uint32_t(v.number);
        return true;
    case MetaType::Int16:
    case MetaType::Int32:
        *number = uint32_t(v.number) & 0xFFFF;
        return true;
    case MetaType::Blob:
        if (v.bytes.size() < 2)
            return false;
        *number = uint32_t(v.bytes[0] | (v.bytes[1] << 8));
        return true;
    default:
        return false;
    }
}

// The first of the paths that answers an 8-bit string; the EXIF sub-block's own path decides alone
// when it answers anything.
const MetaValue* firstString(const ImageMetadata& metadata, bool exifBlock, uint16_t tag, MetaValue* holder) {
    const std::string item = "/{ushort=" + std::to_string(tag) + "}";
    if (exifBlock) {
        *holder = metadata.query("/app1/ifd/exif" + item);
        if (!holder->is(MetaType::Empty))
            return holder->is(MetaType::String) ? holder : nullptr;
    }
    for (const char* block : {"/ifd", "/app1/ifd"}) {
        *holder = metadata.query(block + item);
        if (holder->is(MetaType::String))
            return holder;
    }
    return nullptr;
}

void describe(ImageBuffer* buffer, int bits, int channels, uint32_t width, uint32_t height, uint32_t rowBytes) {
    buffer->bitsPerChannel = uint8_t(bits);
    buffer->channels = uint8_t(channels);
    buffer->width = int32_t(width);
    buffer->height = int32_t(height);
    buffer->rowBytes = int32_t(rowBytes);
}

wic::BitmapRef refOf(const ImageBuffer& buffer, wic::PixelFormat format) {
    return wic::BitmapRef{format, uint32_t(buffer.width), uint32_t(buffer.height), uint32_t(buffer.rowBytes),
                          buffer.pixels};
}

wic::BitmapTarget targetOf(const ImageBuffer& buffer, wic::PixelFormat format) {
    return wic::BitmapTarget{format, uint32_t(buffer.width), uint32_t(buffer.height), uint32_t(buffer.rowBytes),
                             buffer.pixels};
}

// Gives the buffer a fresh block for a width x height picture of `bits` bits per pixel and
// describes it; the block holds the picture in either orientation plus a row when asked.
bool allocatePicture(ImageBuffer* buffer, int bitsPerChannel, int channels, uint32_t width, uint32_t height,
                     bool roomForRotation) {
    const uint32_t bits = uint32_t(bitsPerChannel * channels);
    const uint32_t rowBytes = rowStride(width, bits);
    const size_t length = roomForRotation ? rotatableByteLength(width, height, bits) : size_t(rowBytes) * height;
    if (!allocateBufferPixels(buffer, length))
        return false;
    describe(buffer, bitsPerChannel, channels, width, height, rowBytes);
    return true;
}

wic::PixelFormat straightAlpha(wic::PixelFormat format) {
    switch (format) {
    case wic::PixelFormat::Pbgra32: return wic::PixelFormat::Bgra32;
    case wic::PixelFormat::Prgba32: return wic::PixelFormat::Rgba32;
    case wic::PixelFormat::Pbgra64: return wic::PixelFormat::Bgra64;
    case wic::PixelFormat::Prgba64: return wic::PixelFormat::Rgba64;
    default: return format;
    }
}

// The 16-bit full-size image, R, G, B (, A), made from a picture of `channels` channels.
bool makeSixteenBit(const wic::BitmapRef& source, int channels, bool roomForRotation, ImageBuffer* out) {
    const bool four = channels == 4;
    return allocatePicture(out, 16, four ? 4 : 3, source.width, source.height, roomForRotation) &&
           wic::convertInto(source, targetOf(*out, four ? wic::PixelFormat::Rgba64 : wic::PixelFormat::Rgb48));
}

// A file whose decoder writes R, G, B, A itself (JPEG): the frame goes straight into the 8-bit
// full-size block and is converted to sRGB there. Its own format is 8-bit B, G, R, or grey, which
// counts as four channels as a converted grey frame does.
int decodeStraight(const std::string& path, const std::vector<uint8_t>& bytes, const DecodeRequest& request,
                   DecodedImage* image, std::string* error) {
    wic::Frame frame;
    std::string reason;
    const wic::PixelAllocator allocate = [&](uint32_t width, uint32_t height, uint32_t* stride) -> uint8_t* {
        if (!allocatePicture(&image->fullSize, 8, 4, width, height, request.roomForRotation))
            return nullptr;
        *stride = uint32_t(image->fullSize.rowBytes);
        return image->fullSize.pixels;
    };
    if (wic::decodeMemoryInto(bytes.data(), bytes.size(), wic::PixelFormat::Rgba32, allocate, &frame, &reason) !=
        wic::kWicOk)
        return decodeFailure(error, path + ": " + reason);
    image->container = frame.container;
    image->dpiX = frame.dpiX;
    image->dpiY = frame.dpiY;
    image->sourceProfile = frame.iccProfile;
    image->channels = frame.bitmap.format == wic::PixelFormat::Gray8 ? 4 : 3;
    image->bitsPerChannel = 8;
    if (!request.noColourManagement && !isSrgbContext(frame.iccProfile))
        transformBitmap(frame.iccProfile, {}, targetOf(image->fullSize, wic::PixelFormat::Rgba32));
    if (request.sixteenBit &&
        !makeSixteenBit(refOf(image->fullSize, wic::PixelFormat::Rgba32), image->channels, true, &image->sixteenBit))
        return decodeFailure(error, path + ": image too large for a 16-bit buffer");
    return 0;
}

// Any other file: decoded in its own format, which is made straight (or 32-bit B, G, R, A for
// grey and the unlisted layouts), converted to sRGB, then widened or narrowed into the buffers.
int decodeThroughFormat(const std::string& path, const std::vector<uint8_t>& bytes, const DecodeRequest& request,
                        DecodedImage* image, std::string* error) {
    wic::Frame frame;
    std::string reason;
    if (wic::decodeMemory(bytes.data(), bytes.size(), &frame, &reason) != wic::kWicOk)
        return decodeFailure(error, path + ": " + reason);
    image->container = frame.container;
    image->dpiX = frame.dpiX;
    image->dpiY = frame.dpiY;
    image->sourceProfile = frame.iccProfile;

    wic::Bitmap& source = frame.bitmap;
    const wic::PixelFormat format = source.format;
    const int formatChannels = wic::channelCount(format);
    if (format == wic::PixelFormat::Gray8 || format == wic::PixelFormat::Gray16 ||
        (formatChannels != 3 && formatChannels != 4)) {
        wic::Bitmap converted;
        if (!wic::convertFormat(wic::refOf(source), wic::PixelFormat::Bgra32, &converted))
            return decodeFailure(error, path + ": cannot convert the pixel format");
        source = std::move(converted);
    } else if (straightAlpha(format) != format) {
        wic::Bitmap converted;
        if (!wic::convertFormat(wic::refOf(source), straightAlpha(format), &converted))
            return decodeFailure(error, path + ": cannot convert the pixel format");
        source = std::move(converted);
    }
    image->channels = wic::channelCount(source.format);
    image->bitsPerChannel = wic::bitsPerChannel(source.format);

    // To sRGB; a profile that cannot be used leaves the pixels as they are.
    if (!request.noColourManagement && !isSrgbContext(frame.iccProfile))
        transformBitmap(frame.iccProfile, {}, &source);

    if (request.sixteenBit && !makeSixteenBit(wic::refOf(source), image->channels, true, &image->sixteenBit))
        return decodeFailure(error, path + ": image too large for a 16-bit buffer");
    if (!allocatePicture(&image->fullSize, 8, 4, source.width, source.height, request.roomForRotation) ||
        !wic::convertInto(wic::refOf(source), targetOf(image->fullSize, wic::PixelFormat::Rgba32)))
        return decodeFailure(error, path + ": image too large for an 8-bit buffer");
    return 0;
}

int decode(const std::string& path, const DecodeRequest& request, DecodedImage* image, std::string* error) {
    std::vector<uint8_t> bytes;
    std::string reason;
    if (wic::readFileBytes(path, &bytes, &reason) != wic::kWicOk)
        return decodeFailure(error, path + ": " + reason);
    const wic::Container container = wic::sniffContainer(bytes.data(), bytes.size());
    const int decoded = wic::decodesInto(container, wic::PixelFormat::Rgba32)
                            ? decodeStraight(path, bytes, request, image, error)
                            : decodeThroughFormat(path, bytes, request, image, error);
    if (decoded != 0)
        return decoded;
    ImageMetadata metadata;
    metadata.read(bytes.data(), bytes.size(), nullptr);  // unreadable metadata leaves the facts alone
    readImageFacts(metadata, &image->facts);
    bytes = std::vector<uint8_t>();

    // Upright, and the recorded size as the file says it.
    const uint32_t width = uint32_t(image->fullSize.width), height = uint32_t(image->fullSize.height);
    const int orientation = image->facts.orientation;
    const bool swaps = orientation >= 5 && orientation <= 8;
    image->facts.recordedWidth = int32_t(swaps ? height : width);
    image->facts.recordedHeight = int32_t(swaps ? width : height);
    if (image->sixteenBit.pixels)
        orientBuffer(orientation, &image->sixteenBit);
    orientBuffer(orientation, &image->fullSize);

    // Preview.
    const uint32_t fullWidth = uint32_t(image->fullSize.width), fullHeight = uint32_t(image->fullSize.height);
    const uint32_t maxSide = uint32_t(request.maxPreviewSide);
    const wic::BitmapRef full = refOf(image->fullSize, wic::PixelFormat::Rgba32);
    uint32_t previewWidth = fullWidth, previewHeight = fullHeight;
    const bool scaled = fullWidth > maxSide || fullHeight > maxSide;
    if (scaled) {
        const float side = float(maxSide);
        FitBox fit = aspectFitRect({0, 0, side, side}, float(fullWidth), float(fullHeight));
        previewWidth = fit.width < 1 ? 1 : uint32_t(fit.width);
        previewHeight = fit.height < 1 ? 1 : uint32_t(fit.height);
    }
    if (!allocatePicture(&image->preview, 8, 4, previewWidth, previewHeight, false))
        return decodeFailure(error, path + ": out of memory for the preview");
    const wic::BitmapTarget preview = targetOf(image->preview, wic::PixelFormat::Rgba32);
    if (!(scaled ? wic::scaleInto(full, wic::Interpolation::BoxThenCubic, preview) : wic::convertInto(full, preview)))
        return decodeFailure(error, path + ": cannot make the preview");

    // Face-detector copy: best effort.
    const uint32_t detectorHeight = uint32_t(double(previewHeight) * kDetectorWidth / previewWidth);
    if (request.detectorCopy && detectorHeight > 0 && detectorHeight <= kMostDetectorRows &&
        (!allocatePicture(&image->detector, 8, 3, kDetectorWidth, detectorHeight, false) ||
         !wic::scaleInto(refOf(image->preview, wic::PixelFormat::Rgba32), wic::Interpolation::HighQualityCubic,
                         targetOf(image->detector, wic::PixelFormat::Rgb24)))) {
        freeImageBuffer(&image->detector);
        image->detector = ImageBuffer();
    }
    if (!request.fullSize8)
        freeImageBuffer(&image->fullSize);
    return 0;
}

}  // namespace

namespace {

void freeDecodedBuffers(DecodedImage* image) {
    freeImageBuffer(&image->fullSize);
    freeImageBuffer(&image->preview);
    freeImageBuffer(&image->sixteenBit);
    freeImageBuffer(&image->detector);
}

}  // namespace

DecodedImage::~DecodedImage() { freeDecodedBuffers(this); }

ImageBuffer takeImageBuffer(ImageBuffer* buffer) {
    ImageBuffer taken = *buffer;
    *buffer = ImageBuffer();
    return taken;
}

void readImageFacts(const ImageMetadata& metadata, ImageFacts* facts) {
    MetaValue v = metadata.query("System.Photo.Orientation");
    if (v.is(MetaType::UInt16))
        facts->orientation = int32_t(int16_t(v.number));
    struct { const char* path; float* fact; } exposure[] = {
        {"System.Photo.ShutterSpeed", &facts->shutterSpeed},
        {"System.Photo.Aperture", &facts->aperture},
        {"System.Photo.ExposureBias", &facts->exposureBias},
        {"System.Photo.FocalLength", &facts->focalLength},
    };
    for (const auto& e : exposure) {
        v = metadata.query(e.path);
        if (v.is(MetaType::Double))
            *e.fact = float(v.real);
    }
    v = metadata.query("System.Photo.LensModel");
    if (v.is(MetaType::WideString))
        facts->lens = wideToUtf8(v.wide.substr(0, kLensTextLimit));

    const bool exifBlock = metadata.query("/app1/ifd/exif").is(MetaType::Object);
    if (exifBlock) {
        uint32_t number = 0;
        // ISO speed is an unsigned 16-bit count; high values are capped, never wrapped negative.
        if (firstNumber(metadata.query("/app1/ifd/exif/{ushort=34855}"), &number))
            facts->iso = int32_t(number >= 3200 ? 3200 : number);
        if (firstNumber(metadata.query("/app1/ifd/exif/{ushort=37385}"), &number) && !(number & 1))
            facts->flashNotFired = true;
    }
    MetaValue holder;
    if (const MetaValue* make = firstString(metadata, exifBlock, 271, &holder))
        facts->camera += make->text + " ";
    if (const MetaValue* model = firstString(metadata, exifBlock, 272, &holder))
        facts->camera += model->text;
    if (facts->lens.empty())
        if (const MetaValue* lens = firstString(metadata, exifBlock, 42036, &holder))
            facts->lens += lens->text;
    if (exifBlock) {
        const MetaValue index = metadata.query("/app1/ifd/exif/interop/{ushort=1}");
        const MetaValue space = metadata.query("/app1/ifd/exif/{ushort=40961}");
        if (index.is(MetaType::String) && index.text == "R03" && space.is(MetaType::UInt16) && space.number == 0xFFFF)
            facts->adobeRgbMark = true;
    }
}

int decodeImageFile(const std::string& path, const DecodeRequest& request, DecodedImage* image, std::string* error) {
    try {
        int result = decode(path, request, image, error);
        if (result != 0)
            freeDecodedBuffers(image);
        return result;
    } catch (const std::bad_alloc&) {
        freeDecodedBuffers(image);
        return decodeFailure(error, path + ": out of memory");
    }
}
