// Encoding: choose the container and frame format, take the source's metadata and profile, prepare
// the pixels (crop, flatten transparency for JPEG, colour transform, scale), encode them, then
// write the metadata into the encoded bytes and the bytes into the file.
#include "vizoruv/io/image_encoder.h"

#include "sys/wic/wic.h"
#include "vizoruv/io/image_geometry.h"
#include "vizoruv/io/metadata.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

const char kPngXmpPacket[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"XMP Core 6.0.0\">\n"
    "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
    "<rdf:Description rdf:about=\"\""
    " xmlns:x=\"adobe:ns:meta/\""
    " xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\""
    " xmlns:exif=\"http://ns.adobe.com/exif/1.0/\""
    " xmlns:aux=\"http://ns.adobe.com/exif/1.0/aux/\""
    " xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\""
    " xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\""
    " xmlns:exifEX=\"http://cipa.jp/exif/1.0/\""
    " xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\""
    " xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
    "<exif:ExifVersion>0231</exif:ExifVersion>\n"
    "</rdf:Description></rdf:RDF></x:xmpmeta>\n";

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kThumbnailSide = 256;
constexpr double kThumbnailQuality = 0.9;
constexpr uint64_t kJfifPerInch = 1;        // units of a JFIF density
constexpr uint64_t kJfifPerCentimetre = 2;

int encodeFailure(std::string* error, int code, const std::string& text) {
    if (error)
        *error = text;
    return code;
}

bool sameFile(const std::string& a, const std::string& b) {
    if (a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
            return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
        }))
        return true;
    std::error_code ignored;
    return fs::equivalent(a, b, ignored);
}

std::string newUuidText() {
    std::random_device device;
    std::mt19937_64 random((uint64_t(device()) << 32) ^ device());
    uint64_t hi = random(), lo = random();
    hi = (hi & ~0xF000ull) | 0x4000ull;                  // version 4
    lo = (lo & ~(0xC000ull << 48)) | (0x8000ull << 48);  // variant 1
    char text[40];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%012llx", unsigned(hi >> 32), unsigned((hi >> 16) & 0xFFFF),
                  unsigned(hi & 0xFFFF), unsigned(lo >> 48), static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFull));
    return text;
}

// The source about to be overwritten is read from a copy in the temporary folder, deleted at the end.
struct TemporaryCopy {
    std::string path;
    ~TemporaryCopy() {
        std::error_code ignored;
        if (!path.empty())
            fs::remove(path, ignored);
    }
};

std::string makeTemporaryCopy(const std::string& source, const std::string& folder, wic::Container output,
                              TemporaryCopy* copy) {
    std::error_code status;
    fs::create_directories(folder, status);
    const char* extension = output == wic::Container::Jpeg ? ".jpg" : output == wic::Container::Png ? ".png" : ".tif";
    std::string path = folder + "/" + newUuidText() + extension;
    fs::copy_file(source, path, fs::copy_options::overwrite_existing, status);
    if (status)
        return std::string();
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, status);
    copy->path = path;
    return path;
}

// The metadata source: its bytes' container, resolution, profile and metadata.
struct Source {
    bool present = false;  // a frame could be read
    wic::Container container = wic::Container::Unknown;
    double dpiX = 0, dpiY = 0;
    ProfileBytes profile;
    ImageMetadata metadata;
};

void openSource(const std::string& path, Source* source) {
    std::vector<uint8_t> bytes;
    wic::Frame frame;
    if (path.empty() || wic::readFileBytes(path, &bytes, nullptr) != wic::kWicOk ||
        wic::probeMemory(bytes.data(), bytes.size(), &frame, nullptr) != wic::kWicOk)
        return;  // a RAW file or no source: no source frame, which is no failure
    source->present = true;
    source->container = frame.container;
    source->dpiX = frame.dpiX;
    source->dpiY = frame.dpiY;
    source->profile.bytes = frame.iccProfile;
    source->metadata.read(bytes.data(), bytes.size(), nullptr);
}

wic::Container containerOf(const std::string& mimeType) {
    if (mimeType == "image/jpeg")
        return wic::Container::Jpeg;
    if (mimeType == "image/png")
        return wic::Container::Png;
    if (mimeType == "image/bmp")
        return wic::Container::Bmp;
    return wic::Container::Tiff;
}

wic::PixelFormat frameFormat(const ImageBuffer& buffer, bool bgrOrder) {
    if (buffer.channels == 4 && buffer.bitsPerChannel == 8)
        return bgrOrder ? wic::PixelFormat::Bgra32 : wic::PixelFormat::Rgba32;
    if (buffer.channels == 4 && buffer.bitsPerChannel == 16)
        return wic::PixelFormat::Rgba64;
    if (buffer.channels == 3 && buffer.bitsPerChannel == 16)
        return wic::PixelFormat::Rgb48;
    return wic::PixelFormat::Bgr24;
}

// The integer resolution of the source: XResolution, else the JFIF density in dots per inch; 0 when
// neither. A JFIF density without units is only the pixels' aspect ratio, no resolution.
uint32_t sourceResolution(const ImageMetadata& metadata) {
    for (const char* path : {"/{ushort=282}", "/ifd/{ushort=282}", "/app1/ifd/{ushort=282}"}) {
        const MetaValue v = metadata.query(path);
        if (!v.is(MetaType::Rational))
            continue;
        const uint32_t numerator = uint32_t(v.number), denominator = uint32_t(v.number >> 32);
        if (denominator != 0 && numerator / denominator > 0)
            return numerator / denominator;
        break;
    }
    const MetaValue density = metadata.query("/app0/{ushort=2}");
    if (!density.is(MetaType::UInt16))
        return 0;
    switch (metadata.query("/app0/{ushort=1}").number) {
    case kJfifPerInch: return uint32_t(density.number);
    case kJfifPerCentimetre: return uint32_t(std::lround(density.number * 2.54));
    default: return 0;
    }
}

// Pixels with alpha below 255 blended over white (JPEG has no alpha); the alpha stays.
void flattenOverWhite(wic::Bitmap* pixels) {
    for (uint32_t y = 0; y < pixels->height; ++y) {
        uint8_t* p = &pixels->pixels[size_t(y) * pixels->stride];
        for (uint32_t x = 0; x < pixels->width; ++x, p += 4) {
            const double a = p[3];
            if (p[3] == 255)
                continue;
            for (int c = 0; c < 3; ++c) {
                const double v = p[c] * a / 255.0 + (1.0 - a / 255.0) * 255.0;
                p[c] = uint8_t(std::clamp(int(v), 0, 255));
            }
        }
    }
}

bool anyTransparent(const wic::BitmapRef& pixels) {
    for (uint32_t y = 0; y < pixels.height; ++y) {
        const uint8_t* p = pixels.pixels + size_t(y) * pixels.stride;
        for (uint32_t x = 0; x < pixels.width; ++x)
            if (p[x * 4 + 3] != 255)
                return true;
    }
    return false;
}

// The thumbnail of the written pixels: 256 pixels on the longer side, 8-bit B, G, R, scaled with
// linear interpolation (which reads only the rows around its samples); empty when the picture is
// too flat for it.
wic::Bitmap thumbnailOf(const wic::BitmapRef& written) {
    const uint32_t longer = std::max(written.width, written.height);
    uint32_t width = kThumbnailSide, height = kThumbnailSide;
    if (written.width > written.height)
        height = uint32_t(uint64_t(written.height) * kThumbnailSide / longer);
    else if (written.height > written.width)
        width = uint32_t(uint64_t(written.width) * kThumbnailSide / longer);
    wic::Bitmap thumbnail;
    if (width == 0 || height == 0 || !wic::allocateBitmap(&thumbnail, wic::PixelFormat::Bgr24, width, height) ||
        !wic::scaleInto(written, wic::Interpolation::Linear,
                        wic::BitmapTarget{thumbnail.format, width, height, thumbnail.stride, thumbnail.pixels.data()}))
        return wic::Bitmap();
    return thumbnail;
}

std::vector<uint8_t> jpegBytesOf(const wic::Bitmap& thumbnail) {
    std::vector<uint8_t> jpeg;
    if (thumbnail.pixels.empty())
        return jpeg;
    wic::EncodeFrame frame;
    frame.pixels = wic::refOf(thumbnail);
    wic::encodeMemory(wic::Container::Jpeg, frame, {{"ImageQuality", kThumbnailQuality}}, &jpeg, nullptr);
    return jpeg;
}

// Rewrites what processing changed in the output's metadata (which holds the source's by now).
void rewriteFacts(const EncodeRequest& request, int mode, uint32_t resolution, uint32_t width, uint32_t height,
                  ImageMetadata* out) {
    out->remove("/xmp/crs:PaintBasedCorrections");
    out->remove("/app1/ifd/exif/{ushort=37500}");
    for (const char* path : {"/app1/ifd/{ushort=50706}", "/ifd/{ushort=50706}", "/{ushort=50706}"})
        if (out->remove(path))
            break;
    if (resolution > 0) {
        out->set("/app0/{ushort=2}", MetaValue::ofUInt16(uint16_t(std::min<uint32_t>(resolution, 65535))));
        out->set("/app0/{ushort=3}", MetaValue::ofUInt16(uint16_t(std::min<uint32_t>(resolution, 65535))));
    }
    const MetaValue software = MetaValue::ofWide(utf8ToWide(request.software.c_str()));
    for (const char* path : {"/app1/ifd/{ushort=305}", "/ifd/{ushort=305}", "/{ushort=305}"})
        if (out->set(path, software))
            break;
    const uint16_t orientation = uint16_t(request.orientationApplied ? 1 : request.orientation);
    out->set("System.Photo.Orientation", MetaValue::ofUInt16(orientation));
    // The XMP copy of the orientation, when the source has one, must not contradict the EXIF one.
    if (!out->query("/xmp/tiff:Orientation").is(MetaType::Empty))
        out->set("/xmp/tiff:Orientation", MetaValue::ofString(std::to_string(orientation)));
    const bool exifBlock = out->query("/app1/ifd/exif").is(MetaType::Object);
    out->set("/app1/ifd/{ushort=256}", MetaValue::ofUInt32(width));
    out->set("/app1/ifd/{ushort=257}", MetaValue::ofUInt32(height));
    if (exifBlock) {
        out->set("/app1/ifd/exif/{ushort=40962}", MetaValue::ofUInt32(width));
        out->set("/app1/ifd/exif/{ushort=40963}", MetaValue::ofUInt32(height));
    }
    if (exifBlock && request.adobeRgbMark) {
        out->remove("/app1/ifd/exif/interop/{ushort=1}");
        if (mode != 0)
            out->remove("/app1/ifd/exif/{ushort=40961}");
        else
            out->set("/app1/ifd/exif/{ushort=40961}", MetaValue::ofUInt16(1));
    }
    if (resolution > 0) {
        out->set("/ifd/{ushort=282}", MetaValue::ofRational(resolution, 1));
        out->set("/ifd/{ushort=283}", MetaValue::ofRational(resolution, 1));
    }
}

int encode(const EncodeRequest& request, std::string* error) {
    const ImageBuffer* buffer = request.buffer;
    if (!buffer || !buffer->pixels)
        return encodeFailure(error, kEncodeFailed, "no pixels to write");
    if (request.mimeType == "image/photoshop")
        return encodeFailure(error, kEncodeFailed, "no installed encoder declares \"image/photoshop\"");
    const wic::Container container = containerOf(request.mimeType);
    const bool carry = request.carryMetadata && container != wic::Container::Bmp;
    int mode = carry ? request.settings.profileMode : 0;

    // The area to write must lie inside the buffer.
    const wic::PixelFormat format = frameFormat(*buffer, request.bgrOrder);
    const int bytesPerPixel = wic::bitsPerPixel(format) / 8;
    const int64_t cropX = int64_t(request.cropX), cropY = int64_t(request.cropY);
    const int64_t width = request.width, height = request.height;
    if (width <= 0 || height <= 0 || cropX < 0 || cropY < 0 || buffer->rowBytes <= 0 ||
        (cropX + width) * bytesPerPixel > buffer->rowBytes ||
        (cropY + height - 1) * buffer->rowBytes + (cropX + width) * bytesPerPixel > buffer->size)
        return encodeFailure(error, kEncodeFailed, "the area to write lies outside the image");
    uint32_t frameWidth = uint32_t(width), frameHeight = uint32_t(height);
    if (request.resize) {
        if (request.outputWidth < 1 || request.outputHeight < 1)
            return encodeFailure(error, kEncodeFailed, "output size below one pixel");
        frameWidth = uint32_t(request.outputWidth);
        frameHeight = uint32_t(request.outputHeight);
    }

    // The metadata source: the source itself, or a copy when it is about to be overwritten.
    Source source;
    TemporaryCopy temporary;
    if (carry && !request.sourcePath.empty()) {
        std::string path = request.sourcePath;
        if (sameFile(request.sourcePath, request.outputPath))
            path = makeTemporaryCopy(request.sourcePath, request.tempFolder, container, &temporary);
        openSource(path, &source);
    }

    // Profile decisions.
    ProfileBytes embedded;
    bool keepSource = false;
    if (carry) {
        if (!source.profile.empty() && !canTransformToProfile(source.profile))
            mode = demoteProfileMode(mode);
        keepSource = !buffer->noSourceContexts &&
                     keepSourceProfile(mode, source.present ? source.container : wic::Container::Unknown, source.profile);
        embedded = source.profile;
        static const ProfileBytes kNone;
        chooseEmbeddedProfile(mode, &embedded, request.proPhoto ? *request.proPhoto : kNone,
                              request.adobe ? *request.adobe : kNone, request.adobeRgbMark);
        // A JPEG or TIFF copied block by block takes the source's own profile along (a JPEG with the
        // Adobe RGB mark gets the chosen profile instead).
        if (keepSource && !source.profile.empty() && container == source.container &&
            (container == wic::Container::Tiff || (container == wic::Container::Jpeg && !request.adobeRgbMark)))
            embedded = source.profile;
    }

    // Pixels: the area of the buffer as it is, or an owned copy when they must change on the way:
    // transparency flattened for JPEG, sRGB turned into the colour space of the embedded profile,
    // then the size.
    const wic::BitmapRef area{format, uint32_t(width), uint32_t(height), uint32_t(buffer->rowBytes),
                              buffer->pixels + size_t(cropY) * buffer->rowBytes + size_t(cropX) * bytesPerPixel};
    const bool rawWithoutFrame = !source.present && request.rawEngine;
    const bool flatten = container == wic::Container::Jpeg && bytesPerPixel == 4 &&
                         source.container != wic::Container::Jpeg && !rawWithoutFrame && anyTransparent(area);
    const bool transform =
        !embedded.empty() && !rawWithoutFrame && !isSystemSrgbProfile(embedded.bytes.data(), embedded.bytes.size());
    wic::BitmapRef pixels = area;
    wic::Bitmap owned;
    if (flatten || transform) {
        if (!wic::convertFormat(area, format, &owned))
            return encodeFailure(error, kEncodeFailed, "cannot copy the pixels");
        if (flatten)
            flattenOverWhite(&owned);
        if (transform && !transformBitmap({}, embedded.bytes, &owned)) {
            if (mode >= 3 && embedded.bytes == source.profile.bytes)
                return encodeFailure(error, kEncodeSourceProfileUnusable, "no transform into the source's profile");
            return encodeFailure(error, kEncodeFailed, "no transform into the output profile");
        }
        pixels = wic::refOf(owned);
    }
    if (request.resize) {
        wic::Bitmap scaled;
        if (!wic::scaleBitmap(pixels, frameWidth, frameHeight, wic::Interpolation::HighQualityCubic, &scaled))
            return encodeFailure(error, carry ? kEncodeFailedWithMetadata : kEncodeFailed, "cannot scale the pixels");
        owned = std::move(scaled);
        pixels = wic::refOf(owned);
    }

    // Frame resolution and the integer resolution of the source.
    uint32_t resolution = 0;
    double dpi = 72;
    if (carry && source.present) {
        resolution = sourceResolution(source.metadata);
        if (source.dpiX > 0 && source.dpiY > 0)
            dpi = source.dpiX;
        else if (request.settings.defaultDpi > 0)
            dpi = request.settings.defaultDpi;
    }
    if ((container == wic::Container::Jpeg || container == wic::Container::Tiff) && resolution > 0)
        dpi = resolution;  // the JFIF density, or the TIFF's own resolution tags

    wic::PropertyBag options;
    if (container == wic::Container::Jpeg)
        options["ImageQuality"] = request.quality;
    else if (container == wic::Container::Tiff)
        options["TiffCompressionMethod"] = 1;
    else if (container == wic::Container::Bmp && buffer->channels == 4)
        options["EnableV5Header32bppBGRA"] = 1;
    wic::EncodeFrame frame;
    frame.pixels = pixels;
    frame.dpiX = frame.dpiY = dpi;
    if (container != wic::Container::Bmp)
        frame.iccProfile = embedded.bytes;
    // A JPEG carries its thumbnail in the EXIF block (below); a TIFF as a sub-image of the frame,
    // since a TIFF's second directory is a page of its own.
    const wic::Bitmap thumbnail =
        container == wic::Container::Jpeg || container == wic::Container::Tiff ? thumbnailOf(pixels) : wic::Bitmap();
    if (container == wic::Container::Tiff && !thumbnail.pixels.empty())
        frame.thumbnail = wic::refOf(thumbnail);
    std::vector<uint8_t> bytes;
    std::string reason;
    if (wic::encodeMemory(container, frame, options, &bytes, &reason) != wic::kWicOk)
        return encodeFailure(error, carry ? kEncodeFailedWithMetadata : kEncodeFailed, reason);

    if (container != wic::Container::Bmp) {
        ImageMetadata out;
        if (!out.read(bytes.data(), bytes.size(), &reason))
            return encodeFailure(error, carry ? kEncodeFailedWithMetadata : kEncodeFailed, reason);
        if (carry) {
            out.copyFrom(source.metadata);
            if (container == wic::Container::Png && source.container != wic::Container::Png)
                out.setXmpPacket(kPngXmpPacket);  // no block copy: the packet stands for the missing XMP
            rewriteFacts(request, mode, resolution, frameWidth, frameHeight, &out);
        }
        if (container == wic::Container::Jpeg) {
            const std::vector<uint8_t> jpeg = jpegBytesOf(thumbnail);
            if (!jpeg.empty())
                out.setJpegThumbnail(jpeg);
        }
        if (!out.writeInto(&bytes, &reason))
            return encodeFailure(error, carry ? kEncodeFailedWithMetadata : kEncodeFailed, reason);
    }
    if (wic::writeFileBytes(request.outputPath, bytes, &reason) != wic::kWicOk)
        return encodeFailure(error, kEncodeFailed, reason);
    return kEncodeWritten;
}

}  // namespace

int encodeImage(const EncodeRequest& request, std::string* error) {
    try {
        return encode(request, error);
    } catch (const std::bad_alloc&) {
        return encodeFailure(error, request.carryMetadata ? kEncodeFailedWithMetadata : kEncodeFailed,
                             "out of memory");
    }
}
