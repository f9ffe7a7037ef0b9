// Face tone and colour measurements: what the face-guided tone and colour correction
// (tone_correction.h) and its scores (face_scores.h) measure on two small RGB copies, a crop of
// the largest face and a working copy of the whole image.
//
// Divisions: colour conversions and sample addressing; the RGB copies and their preparation as
// two row bands; black and white levels and the face tone curve; skin colour gains; what
// both face operations share (face checks, the largest face, the Cb-first scope).
//
// Everything here works on private copies; the caller's image is only read.
#pragma once

#include <array>
#include <cstdint>

#include "facesdk/base/allocator.h"
#include "facesdk/base/fixed_scale.h"
#include "facesdk/base/integer_math.h"
#include "facesdk/engine/face_records.h"
#include "facesdk/engine/image.h"
#include "facesdk/engine/inner_engine.h"

// ---- Colour conversions ---------------------------------------------------------------------
// 16.16 weights; every 8-bit result rounds with roundQ16 and is clamped to 0..255. Inputs may
// lie outside 0..255 (the colour gains overshoot before they are rescaled).

struct RgbValue {
    int32_t r, g, b;
};

inline RgbValue yuvToRgb(int32_t y, int32_t cb, int32_t cr)
{
    const int32_t base = 65536 * y;
    return {clampByte(roundQ16(base + 91881 * (cr - 128))),
            clampByte(roundQ16(base - 22554 * (cb - 128) - 46802 * (cr - 128))),
            clampByte(roundQ16(base + 116130 * (cb - 128)))};
}

// Luma with the engine's red weight 19654 (not 19595).
inline int32_t rgbLuma(int32_t r, int32_t g, int32_t b)
{
    return clampByte(roundQ16(19654 * r + 38470 * g + 7471 * b));
}
inline int32_t rgbCb(int32_t r, int32_t g, int32_t b)
{
    return clampByte(roundQ16(32768 * b - 11059 * r - 21709 * g) + 128);
}
inline int32_t rgbCr(int32_t r, int32_t g, int32_t b)
{
    return clampByte(roundQ16(32768 * r - 27439 * g - 5329 * b) + 128);
}

// Where the samples of one YCbCr layout sit. Luma of pixel x of a row is at byte
// lumaOffset + x * lumaStep of plane 0; its chroma sample is number x >> chromaShiftX of chroma
// row y >> chromaShiftY, whose Cb and Cr bytes are at sample * chromaStep + cbOffset (crOffset)
// of planes cbPlane and crPlane.
struct YuvAddressing {
    PixelFormat format;
    uint8_t lumaStep;
    uint8_t lumaOffset;
    uint8_t chromaShiftX;  // 0: a sample per pixel; 1: one per horizontal pair
    uint8_t chromaShiftY;  // 1: one chroma row per two rows (4:2:0)
    uint8_t cbPlane, crPlane;
    uint8_t chromaStep;    // bytes from one chroma sample to the next
    uint8_t cbOffset, crOffset;
    uint8_t packed;        // 1 for the packed 4:2:2 layouts
};

// One row of a YCbCr image under its addressing. Chroma sample indices past the last sample of
// the row (odd widths) and chroma rows past the last (odd heights of 4:2:0) are clamped.
struct YuvRow {
    uint8_t *luma;        // luma of pixel 0
    uint8_t *cb, *cr;     // Cb and Cr of chroma sample 0
    int32_t lumaStep;
    int32_t chromaStep;
    int32_t chromaShiftX;
    int32_t lastSample;   // index of the row's last chroma sample
    int32_t ownsChroma;   // 1 when this row writes the chroma row (every row but the even 4:2:0 ones)
};
YuvRow yuvRow(const YuvAddressing &addressing, const EngineImage &image, int32_t y);

// Chroma samples a row and chroma rows of an image under its addressing.
int32_t chromaSamplesPerRow(const YuvAddressing &addressing, int32_t width);
int32_t chromaRows(const YuvAddressing &addressing, int32_t height);

// The addressing of 0x10200001, 0x20200001, 0x30100001, 0x30100002, 0x30200001, 0x20000001 and
// 0x20000002; null for any other format.
const YuvAddressing *yuvAddressing(PixelFormat format);

// ---- RGB copies -----------------------------------------------------------------------------

constexpr uint32_t kFaceCopySide = 100;       // longer side of the face crop
constexpr uint32_t kWholeCopyMaxSide = 640;   // longest side of the whole-image copy

// Job block of one preparation.
struct RgbCopyJob {
    int32_t result;             // 96 until the job has run, then its code
    int32_t jobNumber;          // 0 the face crop, 1 the whole-image copy
    EngineAllocator *allocator; // of the copies
    const EngineImage *source;  // the caller's image, only read
    const EngineRect *rect;     // the face crop's rectangle; null for the whole-image copy
    EngineImage *output;        // the RGB copy (0x50000001); zero-filled when the job fails
};

// The preparations (argument: RgbCopyJob): the rectangle scaled to a longer side of 100, or
// the working copy of the whole image with a longer side of at most 640, converted to RGB.
int cropToRgbJob(void *job);
int workingCopyToRgbJob(void *job);

// The rectangle of the image resampled to a longer side of `longerSide` in the image's format
// (shorter side = longerSide x shorter / longer; width made even for 4:2:2 and 4:2:0, height for
// 4:2:0). 0; -4 invalid image or empty rectangle; -3; the resampler's code. *out is allocated
// only on success.
int cropScaled(EngineAllocator *allocator, const EngineRect *rect, const EngineImage *image,
               uint32_t longerSide, EngineImage *out);

// Converts a YCbCr image into an RGB image (0x50000001) of the same size. 0; -4 for a size
// mismatch, a missing plane, another target format or a source format without addressing.
int imageToRgb(const EngineImage *source, EngineImage *rgb);

// The two copies of one measurement.
struct FaceCopies {
    EngineImage face;   // RGB crop of the face's inner box, longer side 100
    EngineImage whole;  // RGB copy of the whole image, longer side <= 640
};

// Makes both copies at the same time, as two row bands (row_bands.h). 0. A copy whose job
// failed stays zero-filled; the measurements see that.
int makeFaceCopies(EngineAllocator *allocator, const EngineImage *image, const EngineRect &faceBox,
                   FaceCopies *copies);
void releaseFaceCopies(EngineAllocator *allocator, FaceCopies *copies);

// ---- Levels and tone curves -----------------------------------------------------------------

// lift[j] = j + a brightening of up to 15 levels in the mid-tones; lift[128] = 143.
extern const std::array<uint8_t, 256> kLiftCurve;

// round(tan((i + 3) degrees) x 1024) for i = 0..86; entry 87 is 100000.
extern const int32_t kTangentTable[88];

// Black and white levels of `length` bytes. Fractions are in 1/102400. Black: the smallest level
// k with at least low x length / 102400 bytes below it, at most 50. White: the highest level d
// with at most high x length / 102400 bytes at d and below, at least 230. 0; -4 null bytes or
// outputs, zero length or a fraction above 102400.
int histogramLevels(const uint8_t *bytes, uint32_t length, uint32_t lowFraction,
                    uint32_t highFraction, int32_t *black, int32_t *white);

// The face's curve: the lift pushed about a quarter further from the identity.
void faceBaseCurve(uint8_t curve[256]);

// Levels of the two copies. The identity image curve and the face base curve are allocated from
// the allocator and belong to the caller. e, f: the image's black and white; h, g: the face's,
// mapped through the face curve and pulled towards the image's. 0; -3; -4 (a copy that is not a
// valid image). Outputs are written only on success.
int faceToneLevels(EngineAllocator *allocator, const EngineImage *whole, const EngineImage *face,
                   uint8_t **imageCurve, uint8_t **faceCurve, int32_t *e, int32_t *f, int32_t *h,
                   int32_t *g);

// ---- Skin colour gains ----------------------------------------------------------------------

constexpr int kBrightnessBands = 6;
constexpr int32_t kGainOne = 1024;

// Colour statistics of an RGB image by brightness band.
struct BandColourStatistics {
    int32_t ratio[3][kBrightnessBands];  // channel mean over grey mean x 1024 (R, G, B)
    int32_t meanR, meanG;                // overall channel means, whole levels
};

// Band ratios and means of an RGB image (0x50000001). 0; -6 for another format.
int bandColourRatios(const EngineImage *rgb, BandColourStatistics *stats);

// Gain tables (256 entries, 1024 = gain 1) that would move the ratios to the reference skin
// ratios; the ratios are first limited to steps of 154 between bands.
void ratiosToGainTables(const BandColourStatistics &stats, int32_t *gains[3]);

// Applies gain tables (indexed by the grey level) to an RGB image, keeping each pixel's luma.
void applyGainsRgb(EngineImage *rgb, int32_t *const gains[3]);

// The cast weight (1024 = full) from the means before (r1, g1) and after (r2, g2) a correction.
int32_t castDirectionWeight(int32_t r1, int32_t g1, int32_t r2, int32_t g2);

// The final R, G and B gain tables of the face copy (which it changes); allocated from the
// engine's allocator, they belong to the caller. *castWeight is set from the direction of the
// first correction. 0; -3; -4 null arguments or an empty copy; -6 a copy that is not RGB.
int skinColourGains(InnerEngine *inner, EngineImage *face, int32_t **r, int32_t **g, int32_t **b,
                    int32_t *castWeight);

// ---- Shared by the face operations ----------------------------------------------------------

// 1 when the face ids are all 0 or all different and every face box and eye box passes
// faceRegionValid against the image; else 0.
int faceOperationFacesValid(InnerEngine *inner, const EngineImage *image, const FaceWork *faces,
                            int32_t count);

// Index of the face with the largest width x height (the first among equals); -1 when no face
// has a positive area.
int32_t largestFaceIndex(const FaceWork *faces, int32_t count);

// The box shrunk by q / 2 on each side, q = max(width, height) / divisor; x and width made even
// by clearing bit 0 for 4:2:2 and 4:2:0, y and height also for 4:2:0.
EngineRect innerFaceBox(const EngineRect &box, int32_t divisor, PixelFormat format);

// The run set-up on the image alone, for the duration of a face operation. A Cr-first
// semi-planar image (0x30100002) is swapped into Cb-first order by the set-up and labelled
// 0x30100001; leaving the scope swaps it back and labels it 0x30100002 again, on every path.
class RunImageScope {
public:
    RunImageScope(InnerEngine *inner, EngineImage *image);
    ~RunImageScope();
    RunImageScope(const RunImageScope &) = delete;
    RunImageScope &operator=(const RunImageScope &) = delete;
    int result() const { return result_; }  // the set-up's code

private:
    EngineImage *image_;
    bool converted_;
    int result_;
};
