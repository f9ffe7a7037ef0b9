// GIF frames through giflib: frame 0 drawn onto the logical screen as R, G, B, A (transparent
// where the frame does not cover the screen or uses its transparent colour).
#include "sys/wic/codecs.h"

#include <cstring>

#include <gif_lib.h>

namespace wic {
namespace {

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

}  // namespace

int decodeGif(const uint8_t* bytes, size_t size, bool headerOnly, Frame* frame, std::string* error) {
    GifSource source{bytes, size, 0};
    int gifError = 0;
    GifFileType* gif = DGifOpen(&source, readGif, &gifError);
    if (!gif)
        return fail(error, kWicBadData, std::string("corrupt GIF data: ") + GifErrorString(gifError));
    int code = checkDimensions(uint64_t(gif->SWidth < 0 ? 0 : gif->SWidth), uint64_t(gif->SHeight < 0 ? 0 : gif->SHeight), error);
    if (code != kWicOk) {
        DGifCloseFile(gif, &gifError);
        return code;
    }
    if (headerOnly) {
        Frame result;
        result.bitmap.width = uint32_t(gif->SWidth);
        result.bitmap.height = uint32_t(gif->SHeight);
        result.container = Container::Gif;
        DGifCloseFile(gif, &gifError);
        *frame = std::move(result);
        return kWicOk;
    }
    if (DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1) {
        std::string reason = GifErrorString(gif->Error);
        DGifCloseFile(gif, &gifError);
        return fail(error, kWicBadData, "corrupt or truncated GIF data: " + reason);
    }
    const SavedImage& image = gif->SavedImages[0];
    const ColorMapObject* colours = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
    GraphicsControlBlock control;
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    DGifSavedExtensionToGCB(gif, 0, &control);
    Frame result;
    allocateBitmap(&result.bitmap, PixelFormat::Rgba32, uint32_t(gif->SWidth), uint32_t(gif->SHeight));
    const GifImageDesc& d = image.ImageDesc;
    for (int y = 0; y < d.Height; ++y) {
        const int screenY = d.Top + y;
        if (screenY < 0 || screenY >= gif->SHeight)
            continue;
        for (int x = 0; x < d.Width; ++x) {
            const int screenX = d.Left + x;
            if (screenX < 0 || screenX >= gif->SWidth)
                continue;
            const int index = image.RasterBits[size_t(y) * d.Width + x];
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
