// Inside of the correction engine library: the engine and profile records, pixel layouts and the
// small helpers that every entry point shares.
//
// Divisions: engine; profile; pixel layouts; tone helpers; row bands.
#pragma once

#include "modules/correction/colour_space.h"
#include "vizoruv/platform/engine_abi.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <new>

namespace vexilo {

// ---- Engine ----

constexpr uint32_t kEngineMagic = 0x56584c45;  // "VXLE"
constexpr int kEngineParamCount = 16;           // keys of VXL_SetParam

struct Engine {
    uint32_t magic = kEngineMagic;
    bool singleThreaded = false;
    void* aiEngines[3] = {};            // the host's, kept for the passes that can use them
    int32_t params[kEngineParamCount] = {};
};

// The engine behind a handle, or null for a null or foreign handle.
Engine* engineOf(VxlEngineHandle handle);

// ---- Profile ----

constexpr int kDescriptorCount = 90;
constexpr int kMaxFaceAreas = 32;   // faces a profile keeps, the largest ones

// The skin of the faces an analysis found: the medians of their skin pixels in Oklab.
struct SkinReading {
    bool valid = false;     // false: no face, or no skin-coloured pixels in the faces
    double lightness = 0;   // Oklab L, 0..1
    double chroma = 0;
    double hue = 0;         // degrees
    int faces = 0;          // faces the pixels came from
};

}  // namespace vexilo

// The analysis result. The first 64 bytes are the words the platform reads by offset.
struct VxlProfile {
    char magic[8];            //  0: "VXLPROF"
    int32_t width, height;    //  8: analysed image
    uint32_t mask;            // 16: analysis mask asked
    int32_t iso;              // 20: -1 when unknown
    int32_t extra;            // 24
    int32_t reserved28[3];
    int32_t status;           // 40: VXL_STATUS_*
    int32_t reserved44[3];
    int32_t flags;            // 56: VXL_PROFILE_* bits
    int32_t reserved60;

    // Tone (gamma-encoded luma, 0..1 unless said).
    double meanLuma;
    double keyLinear;         // log-average linear luminance
    double exposureEv;        // change that brings the key to middle grey, -2..+2
    double blackPoint;        // 0.5th percentile of luma
    double whitePoint;        // 99.5th percentile of luma
    uint32_t lumaHistogram[256];
    uint32_t channelHistogram[3][256];  // R, G, B
    uint32_t samples;

    // Colour: the p-norm mean of linear R, G, B over the unclipped pixels, and the cast's size.
    double channelMean[3];
    double castStrength;      // largest relative distance of a channel mean from their grey, 0..1
    bool colourValid;

    // Noise: standard deviation of the luma noise, in 8-bit steps.
    double noiseSigma;

    // Descriptors.
    bool descriptorsValid;
    float descriptors[vexilo::kDescriptorCount];
    float descriptorA;        // texture: mean luma gradient, 0..1
    float descriptorB;        // flatness: share of pixels in the 16 most common colours, 0..1
    int32_t colourCount;      // distinct colours at 4 bits per channel
    int32_t cartoonFlag;      // 1 when the picture has few colours and large flat areas

    char camera[64];

    // Faces (faces.h): areas in pixels of the analysed image, largest first, and their skin.
    int32_t faceCount;
    VxlFaceRect faces[vexilo::kMaxFaceAreas];
    vexilo::SkinReading skin;
};

static_assert(offsetof(VxlProfile, status) == VXL_PROFILE_STATUS_OFFSET, "profile status word");
static_assert(offsetof(VxlProfile, flags) == VXL_PROFILE_FLAGS_OFFSET, "profile flag word");

namespace vexilo {

bool isProfile(const VxlProfile* profile);

// ---- Pixel layouts ----

struct PixelLayout {
    int channels;        // 3 or 4
    int bytesPerSample;  // 1 or 2
    int red, green, blue;  // sample index of each colour within a pixel
    int bytesPerPixel() const { return channels * bytesPerSample; }
    int maxValue() const { return bytesPerSample == 1 ? 255 : 65535; }
};

// The layout of a pixel code, or false for a code outside VxlPixelCode.
bool layoutOf(int32_t code, PixelLayout* layout);

// Checks an image record: known code, positive size, pixels, row bytes that hold a row, and for
// 16-bit codes pixels and row bytes on 2-byte boundaries.
// Answers VXL_OK, VXL_ERR_ARGUMENT or VXL_ERR_FORMAT.
int32_t checkImage(const VxlEngineImage* image, PixelLayout* layout);

inline uint8_t* rowOf(const VxlEngineImage* image, int y) {
    return static_cast<uint8_t*>(image->pixels) + ptrdiff_t(y) * image->rowBytes;
}

// Reads the colour of pixel x of a row as R, G, B in 0..1.
inline void readRgb(const PixelLayout& layout, const uint8_t* row, int x, float rgb[3]) {
    if (layout.bytesPerSample == 1) {
        const uint8_t* p = row + x * layout.channels;
        rgb[0] = p[layout.red] * (1.0f / 255.0f);
        rgb[1] = p[layout.green] * (1.0f / 255.0f);
        rgb[2] = p[layout.blue] * (1.0f / 255.0f);
    } else {
        const uint16_t* p = reinterpret_cast<const uint16_t*>(row) + x * layout.channels;
        rgb[0] = p[layout.red] * (1.0f / 65535.0f);
        rgb[1] = p[layout.green] * (1.0f / 65535.0f);
        rgb[2] = p[layout.blue] * (1.0f / 65535.0f);
    }
}

// Writes R, G, B in 0..1 (clamped, rounded) into pixel x of a row; the fourth channel stays.
inline void writeRgb(const PixelLayout& layout, uint8_t* row, int x, const float rgb[3]) {
    const int index[3] = {layout.red, layout.green, layout.blue};
    for (int c = 0; c < 3; ++c) {
        const float v = rgb[c] < 0.0f ? 0.0f : (rgb[c] > 1.0f ? 1.0f : rgb[c]);
        if (layout.bytesPerSample == 1)
            row[x * layout.channels + index[c]] = uint8_t(v * 255.0f + 0.5f);
        else
            reinterpret_cast<uint16_t*>(row)[x * layout.channels + index[c]] = uint16_t(v * 65535.0f + 0.5f);
    }
}

// ---- Tone helpers ----

constexpr float kLumaR = 0.2126f, kLumaG = 0.7152f, kLumaB = 0.0722f;

inline float lumaOf(const float rgb[3]) {
    return kLumaR * rgb[0] + kLumaG * rgb[1] + kLumaB * rgb[2];
}

inline double clamp01(double v) {
    return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v);
}

// Runs work and answers its code; running out of memory answers VXL_ERR_MEMORY instead of letting
// the exception cross the library's C boundary.
template <typename Work>
int32_t answerOf(Work&& work) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return VXL_ERR_MEMORY;
    }
}

// ---- Row bands ----

// Runs work(firstRow, endRow) over [0, rows): on the calling thread when single is set or the
// image is small, else in bands on up to eight threads, and waits for all of them. Bands whose
// thread cannot start run on the calling thread; an exception of a band is thrown again here.
void forRowBands(bool single, int rows, int width, const std::function<void(int, int)>& work);

// Blurs a float plane in place with three box passes per direction (close to a Gaussian of the
// given standard deviation, in pixels).
void gaussianBlurPlane(float* plane, int width, int height, float sigma, bool single);

}  // namespace vexilo
