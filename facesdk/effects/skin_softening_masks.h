// The masks of the skin softening stage, built around each face at a reduced resolution: a
// flatness map (little fine detail), a skin map (the region's own skin colour), a blotch mask
// (smooth skin whose chroma stands out from its neighbourhood) and a face-core weight that fades
// the mask out away from the face; and the small image operations only this stage uses.
//
// Every map is a grey image (0x40000001, stride = width) from the engine's allocator.
//
// buildFlatnessMap hands its images to the plane copy and the resizers through one image header
// private to skin_softening_masks.cpp that lives for the whole process, so two calls must never
// run at the same time anywhere in the process: the imaging platform holds its process-wide
// face-engine lock around every beautify call that enables skin softening.
#pragma once

#include <cstdint>

#include "facesdk/engine/face_records.h"
#include "facesdk/engine/image.h"

struct InnerEngine;

// The rectangle of the image reduced by `factor` into a new image of the image's format (width
// rect.width / factor, height rect.height / factor, evened for the chroma). 0, -3, -4, -6.
int cropResample(EngineAllocator *allocator, const EngineImage *image, const EngineRect &rect,
                 int32_t factor, EngineImage *out);

// 255 where the luma has no fine detail, falling to 0 where the detail (mean absolute
// difference from a box mean of `window`, at a reduced size) reaches the threshold. The map has
// the image's size. 0, 97 (invalid image), -3, -4, -6.
int buildFlatnessMap(InnerEngine *inner, const EngineImage *image, int32_t window,
                     int32_t threshold, EngineImage *out);

// 1 where the likelihood of the colour model learnt from the whole image is above the
// threshold, else 0. Uses the inner engine's two scratch records and leaves both empty.
// 0, 97 (invalid image or no sample counted), -3, -6.
int buildSkinBinaryMap(InnerEngine *inner, const EngineImage *image, EngineImage *out,
                       int32_t threshold);

// The blotch mask: flat skin whose Cr differs from its neighbourhood's by at least the
// threshold, stretched, blurred and doubled. 0, 97, -3, -4, -6.
int buildBlotchMask(InnerEngine *inner, const EngineImage *image, const EngineImage *skin,
                    const EngineImage *flatness, int32_t threshold, EngineImage *out);

// Moves the mask (size of inner, the inner region) onto a grid of the outer region's size and
// multiplies it by a blurred face-core rectangle. 0, 97 (invalid mask), -3, -4, or the blur's
// code (the mask then keeps its unweighted values).
int weightByFaceCore(InnerEngine *inner, EngineImage *mask, const EngineRect &innerRegion,
                     const EngineRect &outer, const FaceWork &face, PixelFormat format);

// The face box grown by a quarter of its height along the face's vertical axis (turned by the
// roll), 3 more on every side for boxes under 12 wide, clipped to width x height and evened by
// family. Nothing is written for a null out.
void faceCoreRect(PixelFormat format, const FaceWork &face, int32_t width, int32_t height,
                  EngineRect *out);

// Maps the smallest value to low and the largest to high; an image of one value becomes all 0.
void stretchGreyRange(EngineImage *image, int32_t low, int32_t high);

// Each plane of the image (rectangle or the whole) copied into its own grey image and blurred
// `passes` times: Y at the rectangle's size, Cb and Cr at the format's chroma size.
// 0, 97 (invalid image), -3, -4, -6. Images made before a failure stay with the caller.
int splitBlurredPlanes(InnerEngine *inner, const EngineImage *image, const EngineRect *rect,
                       int32_t window, int32_t passes, EngineImage *y, EngineImage *cb,
                       EngineImage *cr);

// One component (0 Y, 1 Cb, 2 Cr) at full image resolution, each chroma sample repeated over
// the pixels it covers. 0, -3, -4, -6.
int extractPlaneFullSize(EngineAllocator *allocator, const EngineImage *image, int plane,
                         const EngineRect *rect, EngineImage *out);

// Chroma divisors of the formats the stage works on; false for any other.
bool chromaDivisors(PixelFormat format, int32_t *dx, int32_t *dy);
