// Choosing the decoder or encoder of a container, encoder options, whole-file reading and writing.
#include "sys/wic/codecs.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace wic {

int fail(std::string* error, int code, const std::string& text) {
    if (error)
        *error = text;
    return code;
}

int checkDimensions(uint64_t width, uint64_t height, std::string* error) {
    if (width == 0 || height == 0)
        return fail(error, kWicTooLarge,
                    "image has no pixels (" + std::to_string(width) + " x " + std::to_string(height) + ")");
    if (width > kWicMaxSide || height > kWicMaxSide || width * height > kWicMaxPixels)
        return fail(error, kWicTooLarge,
                    "image too large (" + std::to_string(width) + " x " + std::to_string(height) + ")");
    return kWicOk;
}

int checkFileHolds(uint64_t width, uint64_t height, uint64_t amount, uint64_t perFileByte, size_t fileBytes,
                   std::string* error) {
    if (amount / perFileByte > fileBytes || (amount / perFileByte == fileBytes && amount % perFileByte != 0))
        return fail(error, kWicTooLarge,
                    "image of " + std::to_string(width) + " x " + std::to_string(height) +
                        " pixels cannot be held by a file of " + std::to_string(fileBytes) + " bytes");
    return kWicOk;
}

Container sniffContainer(const uint8_t* b, size_t size) {
    if (size >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF)
        return Container::Jpeg;
    if (size >= 8 && std::memcmp(b, "\x89PNG\r\n\x1a\n", 8) == 0)
        return Container::Png;
    if (size >= 4 && (std::memcmp(b, "II*\0", 4) == 0 || std::memcmp(b, "MM\0*", 4) == 0 ||
                      std::memcmp(b, "II+\0", 4) == 0 || std::memcmp(b, "MM\0+", 4) == 0))
        return Container::Tiff;
    if (size >= 2 && b[0] == 'B' && b[1] == 'M')
        return Container::Bmp;
    if (size >= 6 && (std::memcmp(b, "GIF87a", 6) == 0 || std::memcmp(b, "GIF89a", 6) == 0))
        return Container::Gif;
    return Container::Unknown;
}

namespace {

int decodeWith(const uint8_t* bytes, size_t size, bool headerOnly, Frame* frame, std::string* error) {
    switch (sniffContainer(bytes, size)) {
    case Container::Jpeg: return decodeJpeg(bytes, size, headerOnly, frame, error);
    case Container::Png: return decodePng(bytes, size, headerOnly, frame, error);
    case Container::Tiff: return decodeTiff(bytes, size, headerOnly, frame, error);
    case Container::Bmp: return decodeBmp(bytes, size, headerOnly, frame, error);
    case Container::Gif: return decodeGif(bytes, size, headerOnly, frame, error);
    case Container::Unknown: break;
    }
    return fail(error, kWicUnknownFormat, "no decoder recognises the data");
}

}  // namespace

int decodeMemory(const uint8_t* bytes, size_t size, Frame* frame, std::string* error) {
    return decodeWith(bytes, size, false, frame, error);
}

int probeMemory(const uint8_t* bytes, size_t size, Frame* frame, std::string* error) {
    return decodeWith(bytes, size, true, frame, error);
}

bool decodesInto(Container container, PixelFormat format) {
    return container == Container::Jpeg && (format == PixelFormat::Rgba32 || format == PixelFormat::Bgra32);
}

int decodeMemoryInto(const uint8_t* bytes, size_t size, PixelFormat format, const PixelAllocator& allocate,
                     Frame* frame, std::string* error) {
    const Container container = sniffContainer(bytes, size);
    if (!decodesInto(container, format))
        return fail(error, kWicUnsupported, std::string("no decoder writes ") + formatName(format) + " itself");
    return decodeJpegInto(bytes, size, format, allocate, frame, error);
}

int readFileBytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return fail(error, kWicNotFound, "cannot open " + path + ": " + std::strerror(errno));
    bytes->clear();
    // A file of a known size is read in one go into a block of that size; the rest in chunks.
    struct stat status;
    if (fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
        bytes->resize(size_t(status.st_size));
        bytes->resize(std::fread(bytes->data(), 1, bytes->size(), file));
    }
    uint8_t chunk[65536];
    size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + count);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return fail(error, kWicNotFound, "cannot read " + path);
    return kWicOk;
}

int decodeFile(const std::string& path, Frame* frame, std::string* error) {
    std::vector<uint8_t> bytes;
    int code = readFileBytes(path, &bytes, error);
    if (code != kWicOk)
        return code;
    code = decodeMemory(bytes.data(), bytes.size(), frame, error);
    if (code != kWicOk && error)
        *error = path + ": " + *error;
    return code;
}

PixelFormat encoderPixelFormat(Container container, PixelFormat requested, const PropertyBag& options) {
    const int channels = channelCount(requested);
    const bool wide = bitsPerChannel(requested) == 16;
    const bool alpha = channels == 4 && requested != PixelFormat::Bgr32;
    switch (container) {
    case Container::Jpeg:
        return channels == 1 && !wide ? PixelFormat::Gray8 : PixelFormat::Bgr24;
    case Container::Bmp: {
        auto v5 = options.find("EnableV5Header32bppBGRA");
        if (channels == 4)
            return alpha && v5 != options.end() && v5->second != 0 ? PixelFormat::Bgra32 : PixelFormat::Bgr32;
        return PixelFormat::Bgr24;
    }
    case Container::Png:
    case Container::Tiff:
        if (channels == 1)
            return wide ? PixelFormat::Gray16 : PixelFormat::Gray8;
        if (alpha)
            return wide ? PixelFormat::Rgba64 : PixelFormat::Rgba32;
        return wide ? PixelFormat::Rgb48 : PixelFormat::Rgb24;
    default:
        return PixelFormat::Unknown;
    }
}

int encodeMemory(Container container, const EncodeFrame& frame, const PropertyBag& options,
                 std::vector<uint8_t>* out, std::string* error) {
    const char* known = container == Container::Jpeg   ? "ImageQuality"
                        : container == Container::Tiff ? "TiffCompressionMethod"
                        : container == Container::Bmp  ? "EnableV5Header32bppBGRA"
                                                       : "";
    if (container != Container::Jpeg && container != Container::Png && container != Container::Tiff &&
        container != Container::Bmp)
        return fail(error, kWicUnsupported, "no encoder for this container");
    for (const auto& option : options)
        if (option.first != known)
            return fail(error, kWicBadArgument, "the encoder has no option \"" + option.first + "\"");
    const BitmapRef& pixels = frame.pixels;
    if (!pixels.pixels || channelCount(pixels.format) == 0)
        return fail(error, kWicBadArgument, "no pixels to encode");
    int code = checkDimensions(pixels.width, pixels.height, error);
    if (code != kWicOk)
        return code;

    if (frame.thumbnail.pixels && container != Container::Tiff)
        return fail(error, kWicUnsupported, "this encoder takes no thumbnail");

    EncodeFrame converted = frame;
    Bitmap convertedPixels;
    const PixelFormat format = encoderPixelFormat(container, pixels.format, options);
    if (format != pixels.format && !(container == Container::Jpeg && jpegReadsDirectly(pixels.format))) {
        if (!convertFormat(pixels, format, &convertedPixels))
            return fail(error, kWicBadArgument, "cannot convert the pixels for the encoder");
        converted.pixels = refOf(convertedPixels);
    }
    auto option = [&](const char* name, double fallback) {
        auto found = options.find(name);
        return found == options.end() ? fallback : found->second;
    };
    switch (container) {
    case Container::Jpeg: {
        const double quality = option("ImageQuality", 0.9);
        if (!(quality >= 0 && quality <= 1))
            return fail(error, kWicBadArgument, "\"ImageQuality\" must lie in 0..1");
        return encodeJpeg(converted, float(quality), out, error);
    }
    case Container::Png: return encodePng(converted, out, error);
    case Container::Tiff: return encodeTiff(converted, int(option("TiffCompressionMethod", 0)), out, error);
    case Container::Bmp: return encodeBmp(converted, option("EnableV5Header32bppBGRA", 0) != 0, out, error);
    default: return kWicUnsupported;
    }
}

int writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
    // Written beside the target and renamed over it: a failed write leaves the old file as it was.
    const std::string partial = path + ".writing";
    FILE* file = std::fopen(partial.c_str(), "wb");
    if (!file)
        return fail(error, kWicWriteFailed, "cannot create " + path + ": " + std::strerror(errno));
    const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed || std::rename(partial.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(partial.c_str());
        return fail(error, kWicWriteFailed, "cannot write " + path + ": " + reason);
    }
    return kWicOk;
}

}  // namespace wic
