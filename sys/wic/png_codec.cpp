// PNG frames through libpng: decoding with palettes, low bit depths and transparency expanded,
// 16-bit samples turned little-endian; encoding from grey, RGB and RGBA of 8 or 16 bits.
#include "sys/wic/codecs.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>

#include <png.h>

namespace wic {
namespace {

struct PngContext {
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    size_t offset = 0;
    std::vector<uint8_t>* out = nullptr;
    std::string message;
};

void onPngError(png_structp png, png_const_charp message) {
    auto* context = static_cast<PngContext*>(png_get_error_ptr(png));
    context->message = message ? message : "unknown error";
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

void readFromMemory(png_structp png, png_bytep target, png_size_t length) {
    auto* context = static_cast<PngContext*>(png_get_io_ptr(png));
    if (context->size - context->offset < length)
        png_error(png, "the file ends early");
    std::memcpy(target, context->bytes + context->offset, length);
    context->offset += length;
}

void writeToMemory(png_structp png, png_bytep data, png_size_t length) {
    auto* context = static_cast<PngContext*>(png_get_io_ptr(png));
    context->out->insert(context->out->end(), data, data + length);
}

void flushMemory(png_structp) {}

constexpr double kInchesPerMetre = 39.3700787;
constexpr uint64_t kDeflateMaxRatio = 1032;  // decoded bytes per deflate byte, at most

// The ICC profile and the resolution (both come before the pixel data).
void readPngExtras(png_structp png, png_infop info, Frame* frame) {
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileLength = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &profileLength) && profile)
        frame->iccProfile.assign(profile, profile + profileLength);
    png_uint_32 resX = 0, resY = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER) {
        frame->dpiX = resX / kInchesPerMetre;
        frame->dpiY = resY / kInchesPerMetre;
    }
}

}  // namespace

int decodePng(const uint8_t* bytes, size_t size, bool headerOnly, Frame* frame, std::string* error) {
    PngContext context;
    context.bytes = bytes;
    context.size = size;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context, onPngError, onPngWarning);
    if (!png)
        return fail(error, kWicBadData, "PNG decoder could not start");
    png_infop info = png_create_info_struct(png);
    Frame result;
    std::vector<png_bytep> rows;
    volatile int code = kWicOk;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        if (code != kWicOk)
            return code;
        return fail(error, kWicBadData, "corrupt or truncated PNG data: " + context.message);
    }
    png_set_read_fn(png, &context, readFromMemory);
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colourType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colourType, &interlace, nullptr, nullptr);
    // The rows as stored (a filter byte each) come out of deflate, which expands at most 1032:1.
    const uint64_t storedRowBytes = (uint64_t(width) * png_get_channels(png, info) * depth + 7) / 8 + 1;
    code = checkDimensions(width, height, error);
    if (code == kWicOk)
        code = checkFileHolds(width, height, storedRowBytes * height, kDeflateMaxRatio, size, error);
    if (code != kWicOk) {
        png_destroy_read_struct(&png, &info, nullptr);
        return code;
    }
    if (headerOnly) {
        result.bitmap.width = width;
        result.bitmap.height = height;
        readPngExtras(png, info, &result);
        png_destroy_read_struct(&png, &info, nullptr);
        result.container = Container::Png;
        *frame = std::move(result);
        return kWicOk;
    }
    const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (colourType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (colourType == PNG_COLOR_TYPE_GRAY && depth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (transparency)
        png_set_tRNS_to_alpha(png);
    const bool greyAlpha = colourType == PNG_COLOR_TYPE_GRAY_ALPHA ||
                           (colourType == PNG_COLOR_TYPE_GRAY && transparency);
    if (greyAlpha)
        png_set_gray_to_rgb(png);
    if (depth == 16)
        png_set_swap(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const int channels = png_get_channels(png, info);
    const bool wide = png_get_bit_depth(png, info) == 16;
    PixelFormat format;
    switch (channels) {
    case 1: format = wide ? PixelFormat::Gray16 : PixelFormat::Gray8; break;
    case 3: format = wide ? PixelFormat::Rgb48 : PixelFormat::Rgb24; break;
    case 4: format = wide ? PixelFormat::Rgba64 : PixelFormat::Rgba32; break;
    default: code = fail(error, kWicUnsupported, "PNG layout with " + std::to_string(channels) + " channels");
             png_error(png, "unsupported layout");
    }
    allocateBitmap(&result.bitmap, format, width, height);
    rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y)
        rows[y] = &result.bitmap.pixels[size_t(y) * result.bitmap.stride];
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);

    readPngExtras(png, info, &result);
    png_destroy_read_struct(&png, &info, nullptr);
    result.container = Container::Png;
    *frame = std::move(result);
    return kWicOk;
}

int encodePng(const EncodeFrame& frame, std::vector<uint8_t>* out, std::string* error) {
    const BitmapRef& pixels = frame.pixels;
    const int channels = channelCount(pixels.format);
    if (channels != 1 && channels != 3 && channels != 4)
        return fail(error, kWicBadArgument, "PNG encoder: no pixels");
    const int colourType = channels == 1 ? PNG_COLOR_TYPE_GRAY
                           : channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA;
    const int depth = bitsPerChannel(pixels.format);
    PngContext context;
    std::vector<uint8_t> bytes;
    context.out = &bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &context, onPngError, onPngWarning);
    if (!png)
        return fail(error, kWicWriteFailed, "PNG encoder could not start");
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return fail(error, kWicWriteFailed, "PNG encoder: " + context.message);
    }
    png_set_write_fn(png, &context, writeToMemory, flushMemory);
    png_set_IHDR(png, info, pixels.width, pixels.height, depth, colourType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!frame.iccProfile.empty())
        png_set_iCCP(png, info, "ICC Profile", PNG_COMPRESSION_TYPE_BASE, frame.iccProfile.data(),
                     png_uint_32(frame.iccProfile.size()));
    png_set_pHYs(png, info, png_uint_32(std::lround(frame.dpiX * kInchesPerMetre)),
                 png_uint_32(std::lround(frame.dpiY * kInchesPerMetre)), PNG_RESOLUTION_METER);
    png_write_info(png, info);
    if (depth == 16)
        png_set_swap(png);
    for (uint32_t y = 0; y < pixels.height; ++y)
        png_write_row(png, const_cast<png_bytep>(pixels.pixels + size_t(y) * pixels.stride));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    *out = std::move(bytes);
    return kWicOk;
}

}  // namespace wic
