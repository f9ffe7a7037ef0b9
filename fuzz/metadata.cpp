// Metadata of an encoded picture: read, the facts the platform takes from it, every item listed,
// and the picture's items copied into a new JPEG and written there, as file processing does.
#include "vizoruv/io/image_decoder.h"
#include "vizoruv/io/metadata.h"

#include <vector>

namespace {

// A small JPEG to write into (made once by the platform's own encoder).
const std::vector<uint8_t>& targetJpeg() {
    static const std::vector<uint8_t> jpeg = [] {
        wic::Bitmap pixels;
        wic::allocateBitmap(&pixels, wic::PixelFormat::Bgr24, 8, 8);
        wic::EncodeFrame frame;
        frame.pixels = wic::refOf(pixels);
        std::vector<uint8_t> out;
        if (wic::encodeMemory(wic::Container::Jpeg, frame, {}, &out, nullptr) != wic::kWicOk)
            __builtin_trap();
        return out;
    }();
    return jpeg;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ImageMetadata metadata;
    std::string error;
    if (!metadata.read(data, size, &error))
        return 0;
    ImageFacts facts;
    readImageFacts(metadata, &facts);
    for (const std::string& key : metadata.keys())
        (void)key.size();
    ImageMetadata copy;
    std::vector<uint8_t> target = targetJpeg();
    if (!copy.read(target.data(), target.size(), &error))
        __builtin_trap();
    copy.copyFrom(metadata);
    (void)copy.writeInto(&target, &error);
    return 0;
}
