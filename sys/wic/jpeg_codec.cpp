// JPEG frames through libjpeg: decoding to Bgr24 or Gray8, or straight into a caller's Rgba32 or
// Bgra32 block, with the ICC profile of the APP2 segments and the JFIF density; encoding from
// Gray8 and the 8-bit colour formats that libjpeg reads itself.
#include "sys/wic/codecs.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

namespace wic {
namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool dataDamaged;  // a warning that the data is truncated or corrupt
};

void onError(j_common_ptr info) {
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    manager->base.format_message(info, manager->message);
    longjmp(manager->jump, 1);
}

void onMessage(j_common_ptr info, int level) {
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    if (level >= 0 || manager->dataDamaged)
        return;
    // Stray bytes between segments and a malformed profile segment (read as no profile) are
    // harmless; every other warning means damaged pixel data.
    if (manager->base.msg_code == JWRN_EXTRANEOUS_DATA || manager->base.msg_code == JWRN_BOGUS_ICC)
        return;
    manager->base.format_message(info, manager->message);
    manager->dataDamaged = true;
}

constexpr uint64_t kJpegMaxPixelsPerByte = 64 * 16 * 8;
// Each progressive scan runs over the whole picture again: a file of many small scans would take
// time far beyond its size. Real files have a few dozen at most.
constexpr int kJpegMaxScans = 500;

// Progress monitor of the decoder: stops a file past kJpegMaxScans scans.
void limitScans(j_common_ptr info) {
    if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number <= kJpegMaxScans)
        return;
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    std::snprintf(manager->message, sizeof manager->message, "more than %d scans", kJpegMaxScans);
    manager->base.msg_code = 0;
    longjmp(manager->jump, 1);
}

void installErrorManager(ErrorManager* manager) {
    jpeg_std_error(&manager->base);
    manager->base.error_exit = onError;
    manager->base.emit_message = onMessage;
    manager->message[0] = 0;
    manager->dataDamaged = false;
}

double densityToDpi(int unit, int density) {
    if (unit == 1)
        return density;
    if (unit == 2)
        return density * 2.54;
    return 0;
}

// Adobe CMYK / YCCK frames come out inverted; turned into colour by the naive formula, written as
// B, G, R (3 bytes a pixel) or as R, G, B, A or B, G, R, A with an opaque alpha (4 bytes).
void cmykRowToColour(const uint8_t* cmyk, uint32_t width, bool inverted, int pixelBytes, bool redFirst,
                     uint8_t* out) {
    const int red = redFirst ? 0 : 2, blue = redFirst ? 2 : 0;
    for (uint32_t x = 0; x < width; ++x, cmyk += 4, out += pixelBytes) {
        int c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        out[blue] = uint8_t(y * k / 255);
        out[1] = uint8_t(m * k / 255);
        out[red] = uint8_t(c * k / 255);
        if (pixelBytes == 4)
            out[3] = 255;
    }
}

enum class JpegRead { Header, Pixels, PixelsInto };

// Reads the header, and with Pixels the frame in its own format (Bgr24 or Gray8), with PixelsInto
// the frame in `format` (Rgba32 or Bgra32) into the caller's block.
int readJpeg(const uint8_t* bytes, size_t size, JpegRead read, PixelFormat format, const PixelAllocator* allocate,
             Frame* frame, std::string* error) {
    jpeg_decompress_struct info;
    ErrorManager manager;
    info.err = &manager.base;
    installErrorManager(&manager);
    Frame result;
    std::vector<uint8_t> cmykRow;
    JOCTET* icc = nullptr;
    unsigned int iccLength = 0;
    if (setjmp(manager.jump)) {
        jpeg_destroy_decompress(&info);
        std::free(icc);
        const int reason = manager.base.msg_code;
        if (reason == JERR_IMAGE_TOO_BIG || reason == JERR_EMPTY_IMAGE)
            return fail(error, kWicTooLarge, std::string("JPEG size refused: ") + manager.message);
        return fail(error, kWicBadData, std::string("corrupt JPEG data: ") + manager.message);
    }
    jpeg_create_decompress(&info);
    jpeg_progress_mgr progress{};
    progress.progress_monitor = limitScans;
    info.progress = &progress;
    jpeg_mem_src(&info, bytes, static_cast<unsigned long>(size));
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    // Every 8 x 8 block of a component takes at least one bit; a component may cover 1/16 of the
    // picture, so a file holds at most 64 x 16 x 8 pixels per byte.
    int code = checkDimensions(info.image_width, info.image_height, error);
    if (code == kWicOk)
        code = checkFileHolds(info.image_width, info.image_height, uint64_t(info.image_width) * info.image_height,
                              kJpegMaxPixelsPerByte, size, error);
    if (code != kWicOk) {
        jpeg_destroy_decompress(&info);
        return code;
    }
    const bool grey = info.jpeg_color_space == JCS_GRAYSCALE;
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    const bool redFirst = format == PixelFormat::Rgba32;
    if (read == JpegRead::PixelsInto)  // libjpeg writes grey as three equal colours itself
        info.out_color_space = cmyk ? JCS_CMYK : redFirst ? JCS_EXT_RGBA : JCS_EXT_BGRA;
    else
        info.out_color_space = grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_EXT_BGR;
    if (jpeg_read_icc_profile(&info, &icc, &iccLength) && icc != nullptr)
        result.iccProfile.assign(icc, icc + iccLength);
    std::free(icc);
    icc = nullptr;
    if (info.saw_JFIF_marker) {
        result.dpiX = densityToDpi(info.density_unit, info.X_density);
        result.dpiY = densityToDpi(info.density_unit, info.Y_density);
    }
    result.container = Container::Jpeg;
    if (read == JpegRead::Header) {
        result.bitmap.width = info.image_width;
        result.bitmap.height = info.image_height;
        jpeg_destroy_decompress(&info);
        *frame = std::move(result);
        return kWicOk;
    }
    jpeg_start_decompress(&info);
    uint8_t* pixels = nullptr;
    uint32_t stride = 0;
    int pixelBytes = 3;
    if (read == JpegRead::PixelsInto) {
        pixelBytes = 4;
        result.bitmap.format = grey ? PixelFormat::Gray8 : PixelFormat::Bgr24;
        result.bitmap.width = info.output_width;
        result.bitmap.height = info.output_height;
        try {
            pixels = (*allocate)(info.output_width, info.output_height, &stride);
        } catch (...) {
            pixels = nullptr;
        }
        if (!pixels || stride < info.output_width * 4u) {
            jpeg_destroy_decompress(&info);
            return fail(error, kWicTooLarge, "no memory for the picture");
        }
    } else {
        allocateBitmap(&result.bitmap, grey ? PixelFormat::Gray8 : PixelFormat::Bgr24, info.output_width,
                       info.output_height);
        pixels = result.bitmap.pixels.data();
        stride = result.bitmap.stride;
    }
    if (cmyk)
        cmykRow.resize(size_t(info.output_width) * 4);
    while (info.output_scanline < info.output_height) {
        uint8_t* row = pixels + size_t(info.output_scanline) * stride;
        JSAMPROW target = cmyk ? cmykRow.data() : row;
        jpeg_read_scanlines(&info, &target, 1);
        if (cmyk)
            cmykRowToColour(cmykRow.data(), info.output_width, info.saw_Adobe_marker, pixelBytes,
                            read == JpegRead::PixelsInto && redFirst, row);
        if (manager.dataDamaged)
            break;
    }
    if (!manager.dataDamaged)
        jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    if (manager.dataDamaged)
        return fail(error, kWicBadData, std::string("corrupt or truncated JPEG data: ") + manager.message);
    *frame = std::move(result);
    return kWicOk;
}

}  // namespace

int decodeJpeg(const uint8_t* bytes, size_t size, bool headerOnly, Frame* frame, std::string* error) {
    return readJpeg(bytes, size, headerOnly ? JpegRead::Header : JpegRead::Pixels, PixelFormat::Bgr24, nullptr, frame,
                    error);
}

int decodeJpegInto(const uint8_t* bytes, size_t size, PixelFormat format, const PixelAllocator& allocate, Frame* frame,
                   std::string* error) {
    return readJpeg(bytes, size, JpegRead::PixelsInto, format, &allocate, frame, error);
}

bool jpegReadsDirectly(PixelFormat format) {
    switch (format) {
    case PixelFormat::Gray8:
    case PixelFormat::Bgr24:
    case PixelFormat::Rgb24:
    case PixelFormat::Bgr32:
    case PixelFormat::Bgra32:
    case PixelFormat::Rgba32:
        return true;
    default:
        return false;
    }
}

int encodeJpeg(const EncodeFrame& frame, float quality, std::vector<uint8_t>* out, std::string* error) {
    const BitmapRef& pixels = frame.pixels;
    jpeg_compress_struct info;
    ErrorManager manager;
    info.err = &manager.base;
    installErrorManager(&manager);
    unsigned char* buffer = nullptr;
    unsigned long bufferSize = 0;
    if (setjmp(manager.jump)) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        return fail(error, kWicWriteFailed, std::string("JPEG encoder: ") + manager.message);
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &bufferSize);
    info.image_width = pixels.width;
    info.image_height = pixels.height;
    switch (pixels.format) {
    case PixelFormat::Gray8: info.in_color_space = JCS_GRAYSCALE; break;
    case PixelFormat::Rgb24: info.in_color_space = JCS_EXT_RGB; break;
    case PixelFormat::Bgr32:
    case PixelFormat::Bgra32: info.in_color_space = JCS_EXT_BGRX; break;  // the fourth byte is not read
    case PixelFormat::Rgba32: info.in_color_space = JCS_EXT_RGBX; break;
    default: info.in_color_space = JCS_EXT_BGR; break;
    }
    info.input_components = bitsPerPixel(pixels.format) / 8;
    jpeg_set_defaults(&info);
    int percent = int(std::lround(quality * 100.0f));
    jpeg_set_quality(&info, percent < 1 ? 1 : percent > 100 ? 100 : percent, TRUE);
    info.write_JFIF_header = TRUE;
    info.density_unit = 1;
    info.X_density = uint16_t(std::lround(std::min(std::max(frame.dpiX, 1.0), 65535.0)));
    info.Y_density = uint16_t(std::lround(std::min(std::max(frame.dpiY, 1.0), 65535.0)));
    jpeg_start_compress(&info, TRUE);
    if (!frame.iccProfile.empty())
        jpeg_write_icc_profile(&info, frame.iccProfile.data(), unsigned(frame.iccProfile.size()));
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels.pixels + size_t(info.next_scanline) * pixels.stride);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    out->assign(buffer, buffer + bufferSize);
    std::free(buffer);
    return kWicOk;
}

}  // namespace wic
