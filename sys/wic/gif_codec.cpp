// GIF frames through giflib: frame 0 drawn onto the logical screen as R, G, B, A (transparent
// where the frame does not cover the screen or uses its transparent colour).
//
// The records are read one by one up to the first frame, whose rows are drawn as giflib decodes
// them: nothing is allocated for the frame itself, so a frame header cannot make the decoder ask
// for more than the screen, which is bounded by what the file can hold.
#include "sys/wic/codecs.h"

#include <cstring>

#include <gif_lib.h>

namespace wic {
namespace {

// The densest GIF: 4096 pixels per 12-bit code.
constexpr uint64_t kGifMaxPixelsPerByte = 4096 * 8 / 12 + 1;

struct GifSource {
    const uint8_t* bytes;
    size_t size;
    size_t offset;
};

int readGif(GifFileType* gif, GifByteType* target, int length) {
    auto* source = static_cast<GifSource*>(gif->UserData);
    size_t count = length < 0 ? 0 : size_t(length);
    if (count > source->size - source->offset)
        count = source->size - source->offset;
    std::memcpy(target, source->bytes + source->offset, count);
    source->offset += count;
    return int(count);
}

// giflib answers no text for codes it does not know (nor for "no error": a file that ends in
// its trailer before any frame).
std::string gifErrorText(int code) {
    if (code == 0)
        return "no frame before the end of the file";
    const char* text = GifErrorString(code);
    return text ? text : "error " + std::to_string(code);
}

// Closes the file and answers the failure.
int failGif(GifFileType* gif, std::string* error, int code, const std::string& text) {
    int ignored = 0;
    DGifCloseFile(gif, &ignored);
    return fail(error, code, text);
}

// Reads the records before the first frame (keeping the graphic control of the last extension
// block that carries one) and the frame's descriptor. False at the end of the file or on an error.
bool readToFirstFrame(GifFileType* gif, GraphicsControlBlock* control) {
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) != GIF_OK)
            return false;
        if (type == IMAGE_DESC_RECORD_TYPE)
            return DGifGetImageDesc(gif) == GIF_OK;
        if (type == TERMINATE_RECORD_TYPE)
            return false;
        if (type != EXTENSION_RECORD_TYPE)
            continue;
        int function = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &function, &block) != GIF_OK)
            return false;
        if (function == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4)
            DGifExtensionToGCB(block[0], block + 1, control);
        while (block) {
            if (DGifGetExtensionNext(gif, &block) != GIF_OK)
                return false;
        }
    }
}

// The frame's row that the n-th decoded row is: interlaced frames come in four passes.
int frameRow(int n, int height, bool interlaced) {
    if (!interlaced)
        return n;
    const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        const int rows = starts[pass] < height ? (height - starts[pass] + steps[pass] - 1) / steps[pass] : 0;
        if (n < rows)
            return starts[pass] + n * steps[pass];
        n -= rows;
    }
    return -1;
}

}  // namespace

int decodeGif(const uint8_t* bytes, size_t size, bool headerOnly, Frame* frame, std::string* error) {
    GifSource source{bytes, size, 0};
    int gifError = 0;
    GifFileType* gif = DGifOpen(&source, readGif, &gifError);
    if (!gif)
        return fail(error, kWicBadData, "corrupt GIF data: " + gifErrorText(gifError));
    const uint64_t width = uint64_t(gif->SWidth < 0 ? 0 : gif->SWidth);
    const uint64_t height = uint64_t(gif->SHeight < 0 ? 0 : gif->SHeight);
    int code = checkDimensions(width, height, error);
    if (code == kWicOk)
        code = checkFileHolds(width, height, width * height, kGifMaxPixelsPerByte, size, error);
    if (code != kWicOk)
        return failGif(gif, nullptr, code, "");
    if (headerOnly) {
        Frame result;
        result.bitmap.width = uint32_t(width);
        result.bitmap.height = uint32_t(height);
        result.container = Container::Gif;
        DGifCloseFile(gif, &gifError);
        *frame = std::move(result);
        return kWicOk;
    }
    GraphicsControlBlock control;
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    if (!readToFirstFrame(gif, &control))
        return failGif(gif, error, kWicBadData, "corrupt or truncated GIF data: " + gifErrorText(gif->Error));
    const GifImageDesc d = gif->Image;
    if (d.Width <= 0 || d.Height <= 0)
        return failGif(gif, error, kWicBadData, "GIF frame without pixels");
    code = checkFileHolds(uint64_t(d.Width), uint64_t(d.Height), uint64_t(d.Width) * uint64_t(d.Height),
                          kGifMaxPixelsPerByte, size, error);
    if (code != kWicOk)
        return failGif(gif, nullptr, code, "");
    const ColorMapObject* colours = d.ColorMap ? d.ColorMap : gif->SColorMap;

    Frame result;
    if (!allocateBitmap(&result.bitmap, PixelFormat::Rgba32, uint32_t(width), uint32_t(height)))
        return failGif(gif, error, kWicTooLarge, "GIF screen too large");
    std::vector<GifPixelType> line(size_t(d.Width));
    for (int n = 0; n < d.Height; ++n) {
        if (DGifGetLine(gif, line.data(), d.Width) != GIF_OK)
            return failGif(gif, error, kWicBadData, "corrupt or truncated GIF data: " + gifErrorText(gif->Error));
        const int64_t screenY = int64_t(d.Top) + frameRow(n, d.Height, d.Interlace);
        if (screenY < 0 || screenY >= int64_t(height))
            continue;
        for (int x = 0; x < d.Width; ++x) {
            const int64_t screenX = int64_t(d.Left) + x;
            if (screenX < 0 || screenX >= int64_t(width))
                continue;
            const int index = line[size_t(x)];
            if (index == control.TransparentColor || !colours || index >= colours->ColorCount)
                continue;
            uint8_t* p = &result.bitmap.pixels[size_t(screenY) * result.bitmap.stride + size_t(screenX) * 4];
            p[0] = colours->Colors[index].Red;
            p[1] = colours->Colors[index].Green;
            p[2] = colours->Colors[index].Blue;
            p[3] = 255;
        }
    }
    DGifCloseFile(gif, &gifError);
    result.container = Container::Gif;
    *frame = std::move(result);
    return kWicOk;
}

}  // namespace wic
