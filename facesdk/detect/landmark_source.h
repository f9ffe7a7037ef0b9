/*
 * The picture the landmark fitter crops from: the grey plane of one landmarkProcess call with
 * copies of it halved one to four times, and the area averaging that shrinks a square of it
 * into a crop.
 *
 * Divisions: planes; the crop source; area averaging.
 *
 * A crop shrinks a square around the face into 96 to 320 pixels. Averaging every pixel of the
 * square makes a crop's cost grow with the square of the face's size, so a crop that shrinks by
 * 4 or more averages the halved copy that still gives it 2 or more of its pixels per crop pixel.
 * The halved copies are filled tile by tile where a crop first needs them and are shared by all
 * crops of the call, so each picture pixel is read at most once for them.
 */
#ifndef FACESDK_DETECT_LANDMARK_SOURCE_H
#define FACESDK_DETECT_LANDMARK_SOURCE_H

#include <cstdint>

#include "facesdk/base/allocator.h"
#include "facesdk/base/image_record.h"

/* ---- planes ---- */

/* An 8-bit plane; pixels outside it read 0. */
struct GreyPlane {
    const uint8_t *pixels;
    int32_t stride;     /* bytes per row */
    int32_t width;      /* pixels */
    int32_t height;
};

/* ---- the crop source ---- */

constexpr int kSourceHalvings = 4;     /* halved copies: 1/2, 1/4, 1/8, 1/16 */
constexpr int kSourceTile = 32;        /* side of the tiles a halved copy is filled by, its pixels */

/* One halved copy: each pixel the rounded mean of the 2 x 2 pixels of the level below it
 * (pixels outside that level count as 0). */
struct HalvedCopy {
    uint8_t *pixels;        /* width x height, null until first needed */
    uint8_t *filled;        /* one flag per tile, tilesX x tilesY */
    int32_t width;          /* (width of the level below + 1) / 2 */
    int32_t height;
    int32_t tilesX;
    int32_t tilesY;
};

struct CropSource {
    GreyPlane picture;                    /* level 0: the caller's plane */
    EngineAllocator *allocator;           /* the halved copies come from it */
    HalvedCopy halved[kSourceHalvings];   /* level k + 1 */
};

/* A source over the first plane of `image` (8-bit); nothing is allocated yet. */
CropSource cropSourceOf(const EngineImage *image, EngineAllocator *allocator);
/* Frees the halved copies (a zero-filled source has none); the source reads only the picture
 * afterwards. */
void releaseCropSource(CropSource *source);
/* Hands the halved copies of `source` over to `kept` (whose own are freed first), for a later
 * source to reuse their memory: freeing and asking again for blocks this large each time makes
 * the heap give them back to the system and fault them in anew, page by page. */
void keepCropSource(CropSource *source, CropSource *kept);
/* Takes over the copies in `kept` whose sizes are this source's, to be filled again from its
 * picture as crops need them; frees the others. */
void reuseCropSource(CropSource *source, CropSource *kept);

/* Shrinks the side x side square whose top-left pixel is (x0, y0) into the size x size crop,
 * the square's pixels outside the picture counting as 0: area averaging with 8-bit fractional
 * weights, or with 6-bit ones when the 8-bit resampler refuses the ratio. 0; -101 when both
 * refuse it; -3 out of memory. A halved copy that cannot be allocated is done without. */
int shrinkSquare(CropSource *source, int32_t x0, int32_t y0, int32_t side, uint8_t *crop,
                 int32_t size);
/* The pixels [u0, u1) x [v0, v1) (clipped to the crop) of the crop shrinkSquare makes of the
 * same square, the same to the bit, written from `out` with rows outStride apart. Answers as
 * shrinkSquare. */
int shrinkSquarePart(CropSource *source, int32_t x0, int32_t y0, int32_t side, int32_t size, int32_t u0,
                     int32_t v0, int32_t u1, int32_t v1, uint8_t *out, int32_t outStride);

/* ---- area averaging ---- */

/* Area averaging of the side x side square at (x0, y0) of the grey plane into dst of
 * size x size with `bits` (8 or 6) fractional bits of weight. The 8-bit resampler needs a
 * shrink factor above 1 whose square is at most 257 (in its units); the 6-bit one a factor of
 * at least 1. 0; -101 when the ratio is refused; -3. */
int areaAverage(const EngineImage *image, int32_t x0, int32_t y0, int32_t side, uint8_t *dst,
                int32_t size, int bits, EngineAllocator *allocator);

#endif
