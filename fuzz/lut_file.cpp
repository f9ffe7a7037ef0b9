// One LUT reader (LUT_TYPE_WORD names it: each reader is its own target) as the catalogue loads a
// user's table, then the table put to every use the pipeline makes of it: applied to 8- and
// 16-bit pixels by each interpolation at several strengths, composed into another table, and
// passed through the curve and saturation step.
#include "fuzz/fuzz_support.h"
#include "vizoruv/adjust/lut_apply.h"
#include "vizoruv/adjust/lut_readers.h"

#include <cstring>
#include <string>
#include <vector>

#ifndef LUT_TYPE_WORD
#error "LUT_TYPE_WORD names the reader"
#endif

namespace {

// Every 8-bit level of each channel once, in 16 rows of 16 pixels.
std::vector<uint8_t> rampPixels(bool sixteenBit) {
    std::vector<uint8_t> pixels(16 * 16 * 3 * (sixteenBit ? 2 : 1));
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c) {
            const int level = (i * (c + 1) * 37) & 255;
            if (sixteenBit) {
                pixels[(i * 3 + c) * 2] = uint8_t(level);
                pixels[(i * 3 + c) * 2 + 1] = uint8_t(level);
            } else {
                pixels[i * 3 + c] = uint8_t(level);
            }
        }
    return pixels;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzzing::writeInput(data, size, std::string(".") + LUT_TYPE_WORD);
    std::unique_ptr<Lut3D> lut = createLut3D();
    std::memcpy(lut->path, path.c_str(), path.size() + 1);
    if (readLutFile(lut.get(), LUT_TYPE_WORD) != kLutOk)
        return 0;
    for (bool sixteenBit : {false, true})
        for (int kind : {kLutNearest, kLutTrilinear, kLutTetrahedral})
            for (int strength : {50, 100, 200}) {
                std::vector<uint8_t> pixels = rampPixels(sixteenBit);
                (void)applyLutToPixelsSliced(lut.get(), pixels.data(), 16 * 3 * (sixteenBit ? 2 : 1), 16, 16,
                                             sixteenBit, kind == kLutTrilinear, false, kind, strength, 1);
            }
    std::unique_ptr<Lut3D> composed = createLut3D();
    (void)composeLutInto(composed.get(), lut.get(), 150);
    (void)composeLutInto(lut.get(), lut.get(), 100);
    uint8_t curve[256];
    for (int i = 0; i < 256; ++i)
        curve[i] = uint8_t(255 - i);
    applyCurveAndSaturation(lut.get(), curve, 40);
    applyCurveAndSaturation(composed.get(), nullptr, -30);
    return 0;
}
