// Picture files (JPEG, PNG, TIFF, BMP, GIF) through the platform's decode: the frame, its
// metadata facts, the conversion to sRGB by its profile, the 16- and 8-bit images turned upright,
// the preview and the face-detector copy.
#include "fuzz/fuzz_support.h"
#include "vizoruv/io/image_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The decoder picks the container by the bytes, not the name.
    const std::string path = fuzzing::writeInput(data, size, ".img");
    DecodeRequest request;
    request.maxPreviewSide = 64;
    request.sixteenBit = true;
    request.detectorCopy = true;
    request.roomForRotation = true;
    DecodedImage image;
    std::string error;
    if (decodeImageFile(path, request, &image, &error) != 0 && error.empty())
        __builtin_trap();  // a failure always says why
    return 0;
}
