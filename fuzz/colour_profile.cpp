// Embedded ICC profiles: the checks a decode and an encode make on a file's profile, and the
// conversions into and out of sRGB through it, on a small picture of 8 and 16 bits with alpha.
#include "vizoruv/io/colour_profiles.h"

#include <vector>

namespace {

wic::Bitmap rampBitmap(wic::PixelFormat format) {
    wic::Bitmap bitmap;
    wic::allocateBitmap(&bitmap, format, 16, 4);
    for (size_t i = 0; i < bitmap.pixels.size(); ++i)
        bitmap.pixels[i] = uint8_t(i * 29);
    return bitmap;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    (void)isSrgbContext(bytes);
    (void)isSystemSrgbProfile(bytes.data(), bytes.size());
    ProfileBytes profile{bytes};
    const bool output = canTransformToProfile(profile);
    for (wic::PixelFormat format : {wic::PixelFormat::Rgb24, wic::PixelFormat::Bgra32, wic::PixelFormat::Rgba64}) {
        wic::Bitmap pixels = rampBitmap(format);
        (void)transformBitmap(bytes, {}, &pixels);
        if (output)
            (void)transformBitmap({}, bytes, &pixels);
    }
    return 0;
}
