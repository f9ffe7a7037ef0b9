// TIFF frames through libtiff over memory: strips of contiguous grey, RGB or RGBA samples of 8 or
// 16 bits are read as they are; every other layout (palettes, CMYK, YCbCr, planes, tiles, 1-bit)
// through libtiff's RGBA reader. Encoding writes one contiguous frame, with its thumbnail as a
// reduced-resolution sub-image.
#include "sys/wic/codecs.h"

#include <algorithm>
#include <cstring>

#include <tiffio.h>

namespace wic {
namespace {

// A file image in memory that libtiff reads or writes through its client procedures.
struct MemoryFile {
    const uint8_t* readBytes = nullptr;  // decoding: the caller's bytes
    std::vector<uint8_t>* writeBytes = nullptr;  // encoding: grows as libtiff writes
    uint64_t size = 0;
    uint64_t offset = 0;
    std::string message;
};

tmsize_t memoryRead(thandle_t handle, void* target, tmsize_t length) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (length < 0 || file->offset >= file->size)
        return 0;
    uint64_t count = std::min<uint64_t>(uint64_t(length), file->size - file->offset);
    const uint8_t* source = file->readBytes ? file->readBytes : file->writeBytes->data();
    std::memcpy(target, source + file->offset, size_t(count));
    file->offset += count;
    return tmsize_t(count);
}

tmsize_t memoryWrite(thandle_t handle, void* data, tmsize_t length) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (!file->writeBytes || length < 0)
        return 0;
    uint64_t end = file->offset + uint64_t(length);
    if (end > file->writeBytes->size())
        file->writeBytes->resize(size_t(end));
    std::memcpy(file->writeBytes->data() + file->offset, data, size_t(length));
    file->offset = end;
    file->size = std::max(file->size, end);
    return length;
}

toff_t memorySeek(thandle_t handle, toff_t offset, int whence) {
    auto* file = static_cast<MemoryFile*>(handle);
    int64_t base = whence == SEEK_CUR ? int64_t(file->offset) : whence == SEEK_END ? int64_t(file->size) : 0;
    int64_t target = base + int64_t(offset);
    if (target < 0)
        return toff_t(-1);
    file->offset = uint64_t(target);
    return toff_t(target);
}

int memoryClose(thandle_t) { return 0; }
toff_t memorySize(thandle_t handle) { return static_cast<MemoryFile*>(handle)->size; }
int memoryMap(thandle_t, void**, toff_t*) { return 0; }
void memoryUnmap(thandle_t, void*, toff_t) {}

int onTiffMessage(TIFF*, void* userData, const char* module, const char* format, va_list arguments) {
    auto* file = static_cast<MemoryFile*>(userData);
    if (file->message.empty()) {
        char text[512];
        vsnprintf(text, sizeof text, format, arguments);
        file->message = text;
    }
    return 1;
}

int onTiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// The densest TIFF: 1-bit rows under LZW, 4096 bytes of 8 pixels per 12-bit code.
constexpr uint64_t kTiffMaxPixelsPerByte = 4096 * 8 * 8 / 12 + 1;

// maxSingleAllocation (0: none) bounds every block libtiff allocates for itself (strip and tile
// buffers, tag arrays), whatever the header claims.
TIFF* openMemory(MemoryFile* file, const char* mode, tmsize_t maxSingleAllocation = 0) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (maxSingleAllocation > 0)
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, maxSingleAllocation);
    TIFFOpenOptionsSetErrorHandlerExtR(options, onTiffMessage, file);
    TIFFOpenOptionsSetWarningHandlerExtR(options, onTiffWarning, file);
    TIFF* tiff = TIFFClientOpenExt("memory", mode, file, memoryRead, memoryWrite, memorySeek, memoryClose,
                                   memorySize, memoryMap, memoryUnmap, options);
    TIFFOpenOptionsFree(options);
    return tiff;
}

double toDpi(float resolution, uint16_t unit) {
    if (unit == RESUNIT_CENTIMETER)
        return resolution * 2.54;
    return unit == RESUNIT_INCH ? resolution : 0;
}

// The pixel format of a layout read scanline by scanline, or Unknown for the RGBA reader.
PixelFormat directFormat(TIFF* tiff, uint16_t samples, uint16_t bits, uint16_t photometric) {
    uint16_t planar = PLANARCONFIG_CONTIG, sampleFormat = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    if (TIFFIsTiled(tiff) || planar != PLANARCONFIG_CONTIG || sampleFormat != SAMPLEFORMAT_UINT ||
        (bits != 8 && bits != 16))
        return PixelFormat::Unknown;
    const bool wide = bits == 16;
    uint16_t extraCount = 0;
    uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    if (photometric == PHOTOMETRIC_MINISBLACK && samples == 1)
        return wide ? PixelFormat::Gray16 : PixelFormat::Gray8;
    if (photometric == PHOTOMETRIC_RGB && samples == 3)
        return wide ? PixelFormat::Rgb48 : PixelFormat::Rgb24;
    if (photometric == PHOTOMETRIC_RGB && samples == 4 && extraCount == 1) {
        if (extra[0] == EXTRASAMPLE_ASSOCALPHA)
            return wide ? PixelFormat::Prgba64 : PixelFormat::Prgba32;
        return wide ? PixelFormat::Rgba64 : PixelFormat::Rgba32;
    }
    return PixelFormat::Unknown;
}

}  // namespace

int decodeTiff(const uint8_t* bytes, size_t size, bool headerOnly, Frame* frame, std::string* error) {
    MemoryFile file;
    file.readBytes = bytes;
    file.size = size;
    // No block of libtiff's needs more than the 64-bit pixels of the largest picture the file holds.
    const uint64_t allocationLimit = std::min<uint64_t>(kWicMaxPixels, size * kTiffMaxPixelsPerByte) * 8 + (1u << 20);
    TIFF* tiff = openMemory(&file, "rm", tmsize_t(allocationLimit));
    if (!tiff)
        return fail(error, kWicBadData, "corrupt TIFF data: " + file.message);
    Frame result;
    uint32_t width = 0, height = 0;
    uint16_t samples = 1, bits = 1, photometric = PHOTOMETRIC_MINISBLACK;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    int code = checkDimensions(width, height, error);
    if (code == kWicOk)
        code = checkFileHolds(width, height, uint64_t(width) * height, kTiffMaxPixelsPerByte, size, error);
    if (code != kWicOk) {
        TIFFClose(tiff);
        return code;
    }
    uint32_t profileLength = 0;
    void* profile = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &profileLength, &profile) && profile)
        result.iccProfile.assign(static_cast<uint8_t*>(profile), static_cast<uint8_t*>(profile) + profileLength);
    float resX = 0, resY = 0;
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &resX) && TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &resY)) {
        result.dpiX = toDpi(resX, unit);
        result.dpiY = toDpi(resY, unit);
    }

    if (headerOnly) {
        TIFFClose(tiff);
        result.bitmap.width = width;
        result.bitmap.height = height;
        result.container = Container::Tiff;
        *frame = std::move(result);
        return kWicOk;
    }
    const PixelFormat format = directFormat(tiff, samples, bits, photometric);
    bool read = true;
    if (format != PixelFormat::Unknown) {
        allocateBitmap(&result.bitmap, format, width, height);
        if (uint64_t(TIFFScanlineSize64(tiff)) > result.bitmap.stride) {
            read = false;
        } else {
            for (uint32_t y = 0; y < height && read; ++y)
                read = TIFFReadScanline(tiff, &result.bitmap.pixels[size_t(y) * result.bitmap.stride], y, 0) >= 0;
        }
    } else {
        char reason[1024] = "";
        if (!TIFFRGBAImageOK(tiff, reason)) {
            TIFFClose(tiff);
            return fail(error, kWicUnsupported, std::string("TIFF layout not supported: ") + reason);
        }
        allocateBitmap(&result.bitmap, PixelFormat::Rgba32, width, height);
        // Packed as A, B, G, R in a 32-bit word: R, G, B, A bytes on this little-endian machine.
        read = TIFFReadRGBAImageOriented(tiff, width, height,
                                         reinterpret_cast<uint32_t*>(result.bitmap.pixels.data()),
                                         ORIENTATION_TOPLEFT, 0) != 0;
    }
    TIFFClose(tiff);
    if (!read || !file.message.empty())
        return fail(error, kWicBadData, "corrupt or truncated TIFF data: " +
                                            (file.message.empty() ? std::string("unreadable rows") : file.message));
    result.container = Container::Tiff;
    *frame = std::move(result);
    return kWicOk;
}

namespace {

// Fields and rows of one directory; the caller writes the directory. False when a row fails.
bool writeImage(TIFF* tiff, const BitmapRef& pixels, uint16_t compression, bool predictor, double dpiX,
                double dpiY) {
    const int channels = channelCount(pixels.format);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, pixels.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, pixels.height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, uint16_t(channels));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, uint16_t(bitsPerChannel(pixels.format)));
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, channels >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression);
    if (predictor)
        TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (channels == 4) {
        uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, uint16_t(1), extra);
    }
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, float(dpiX));
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, float(dpiY));
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
    bool written = true;
    // The rows may lie inside a wider picture: only each row's own bytes are read.
    const size_t rowBytes = size_t(pixels.width) * bitsPerPixel(pixels.format) / 8;
    std::vector<uint8_t> row(rowBytes);
    for (uint32_t y = 0; y < pixels.height && written; ++y) {
        std::memcpy(row.data(), pixels.pixels + size_t(y) * pixels.stride, rowBytes);  // libtiff may touch it
        written = TIFFWriteScanline(tiff, row.data(), y, 0) >= 0;
    }
    return written;
}

}  // namespace

int encodeTiff(const EncodeFrame& frame, int compressionMethod, std::vector<uint8_t>* out, std::string* error) {
    uint16_t compression;
    bool predictor = false;
    switch (compressionMethod) {
    case 0:
    case 4: compression = COMPRESSION_LZW; break;
    case 1: compression = COMPRESSION_NONE; break;
    case 6: compression = COMPRESSION_ADOBE_DEFLATE; break;
    case 7: compression = COMPRESSION_LZW; predictor = true; break;
    default: return fail(error, kWicBadArgument, "TIFF compression method " + std::to_string(compressionMethod));
    }
    Bitmap thumbnail;
    if (frame.thumbnail.pixels && !convertFormat(frame.thumbnail, PixelFormat::Rgb24, &thumbnail))
        return fail(error, kWicBadArgument, "TIFF encoder: unusable thumbnail");
    std::vector<uint8_t> bytes;
    MemoryFile file;
    file.writeBytes = &bytes;
    TIFF* tiff = openMemory(&file, "w");
    if (!tiff)
        return fail(error, kWicWriteFailed, "TIFF encoder could not start: " + file.message);
    if (!thumbnail.pixels.empty()) {
        uint64_t subImageOffsets[1] = {0};  // filled in when the sub-image is written
        TIFFSetField(tiff, TIFFTAG_SUBIFD, uint16_t(1), subImageOffsets);
    }
    if (!frame.iccProfile.empty())
        TIFFSetField(tiff, TIFFTAG_ICCPROFILE, uint32_t(frame.iccProfile.size()), frame.iccProfile.data());
    bool written = writeImage(tiff, frame.pixels, compression, predictor, frame.dpiX, frame.dpiY) &&
                   TIFFWriteDirectory(tiff);
    // The directory written next is the sub-image that the frame's SubIFD tag points to.
    if (written && !thumbnail.pixels.empty()) {
        TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
        written = writeImage(tiff, refOf(thumbnail), compression, predictor, frame.dpiX, frame.dpiY) &&
                  TIFFWriteDirectory(tiff);
    }
    TIFFClose(tiff);
    if (!written)
        return fail(error, kWicWriteFailed, "TIFF encoder: " + file.message);
    *out = std::move(bytes);
    return kWicOk;
}

}  // namespace wic
