// The correction engine library's side of a render: the parameter block of VXL_Apply made from one
// adjustment layer, the engine adjustment itself, the engine's sharpening and scaled copy, and the
// small pixel routines every caller of an outside library needs (pixel-format codes, the
// four-channel test, red/blue swaps, the 16-to-8-bit copy).
//
// Divided into: the engine the calls go to; pixel formats; the parameter block and the adjustment;
// sharpening and the scaled copy; channel swaps and copies.
//
// Every operation answers false when an entry point it needs is missing or the engine answers
// non-zero; the image is then left as the failed call left it.
#pragma once

#include <cstdint>

#include "vizoruv/adjust/adjustment_layer.h"
#include "vizoruv/platform/engine_abi.h"
#include "vizoruv/platform/image_view.h"
#include "vizoruv/platform/libraries.h"

// ---- The engine ------------------------------------------------------------------------------

// What the calls below use of the loaded engine library; the platform fills it from its libraries.
struct EngineCalls {
    const EngineEntryPoints* entries;  // the library's entry points (a null one is missing)
    VxlEngineHandle handle;            // from VXL_CreateEngine
    bool hostRecordHandOver;           // the platform may hand a host record to _SetFilterRecord
};

// ---- Pixel formats ---------------------------------------------------------------------------

// Row bytes of at least 4 x width (8-bit) or 8 x width (16-bit): the pixels carry a fourth channel.
bool isFourChannel(const ImageView& image);
// The engine's VxlPixelCode of pixels of that sample size, channel count and channel order.
int32_t enginePixelCode(bool sixteenBit, bool fourChannels, bool bgrOrder);
// The engine's VxlPixelCode of the image in the given channel order (four channels by isFourChannel).
int32_t engineFormatCode(const ImageView& image, bool bgrOrder);
// Bytes per pixel of an engine pixel code: 4 for RGBA8/BGRA8, 6 for the 16-bit three-channel codes,
// 8 for the 16-bit four-channel ones, else 3.
int engineBytesPerPixel(int32_t code);
// The engine image record of the image: its size, row bytes, engineFormatCode and first pixel.
VxlEngineImage engineImageRecord(const ImageView& image, bool bgrOrder);

// ---- The parameter block and the adjustment --------------------------------------------------

// Fills all 804 bytes of the block from the layer (zero where the layer has nothing to say).
void buildEngineBlock(VxlEngineParams* block, const AdjustmentLayer& layer);

// Runs VXL_Apply with the layer's block on the image in place, against the analysis profile. A
// host record goes to _SetFilterRecord first when the library has it and the platform allows the
// hand-over. False without a profile or VXL_Apply (nothing changed) or when the engine fails. On
// success with reportStrength, *strengthOut receives the exposure strength the engine used.
bool engineAdjust(const EngineCalls& engine, const AdjustmentLayer& layer, const ImageView& image,
                  const VxlProfile* profile, void* hostRecord, bool reportStrength, int* strengthOut, bool bgrOrder);

// ---- Sharpening and the scaled copy ----------------------------------------------------------

// The engine's strength for an automatic amount x and a caller strength -100..100: x moves towards
// 150 for positive strengths and towards 0 for negative ones (trunc of the result).
int automaticSharpenStrength(float amount, int strength);

// VXL_Sharpen on the image. Disabled answers true at once; automatic first asks
// VXL_CalcAutoSharpness for the picture's amount and bends it by the strength.
bool sharpen(const EngineCalls& engine, const VxlEngineImage& image, bool enable, bool automatic, int strength,
             float radius, int mode);

// The target size of a source fitted into a box without cropping, keeping its aspect.
void fitIntoBox(int sourceWidth, int sourceHeight, int* targetWidth, int* targetHeight);

// A resized copy of the source through VXL_Resize, fitted into targetWidth x targetHeight (or
// cropped to fill it through VXL_CropToFill). The target's pixels are allocated with malloc and
// belong to the caller (free); on failure they are null. False unless the library offers
// VXL_Sharpen, VXL_Resize, VXL_CropToFill and VXL_CalcAutoSharpness, for a box without area, when
// the pixels cannot be allocated, or when the engine fails.
bool scaledCopy(const EngineCalls& engine, const VxlEngineImage& source, VxlEngineImage* target, int targetWidth,
                int targetHeight, bool cropToFill);

// ---- Channel swaps and copies ----------------------------------------------------------------

// Swaps channels 0 and 2 of every pixel of an 8-bit view once and sets its host flag, so the view
// then reads blue first. A 16-bit view, or one whose host flag is set, stays as it is.
void swapRedBlue8Once(ImageView* view);
// For a 16-bit four-channel image in bgrOrder, swaps samples 0 and 2 of every pixel; any other
// image stays as it is. Its own inverse.
void swapRedBlue16(const ImageView& image, bool bgrOrder);
// A new 8-bit three-channel view (row bytes 3 x width, no alpha, format 0) of the high bytes of
// samples 0 to 2 of a 16-bit source (4 samples a pixel when the source has alpha). The target's
// data[0] is malloc'ed and belongs to the caller. False (target cleared) for a source that is not
// 16-bit or has no pixels, or when the buffer cannot be allocated.
bool copy16To8(ImageView* target, const ImageView& source);
