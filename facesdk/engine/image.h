// The routines every part of the engine uses on its image record (the 80-byte EngineImage of
// facesdk/base/image_record.h).
//
// Contents: validity and plane layout; allocation, release, clone, crop and the working copy;
// sampling one component into a grey image; the chroma byte swap of semi-planar images;
// rectangle predicates and the face-region check.
//
// An image made by these routines owns its planes (allocated through the allocator passed in);
// an image handed in by a caller is only borrowed.
#pragma once

#include <cstdint>

#include "facesdk/base/allocator.h"
#include "facesdk/base/image_record.h"
#include "facesdk/base/pixel_format.h"

// Row bytes and rows of one plane of an image that imageAllocate makes.
struct PlaneLayout {
    int32_t rowBytes;
    int32_t rows;
};

// ---- Records and layout -------------------------------------------------------------------

// 1 when the record is non-null, width, height and format are non-zero and at least one plane
// has both a pointer and a non-zero stride; else 0.
int imageValid(const EngineImage *image);

// The planes of a width x height image of the format as imageAllocate lays them out. Answers
// the number of planes, or kResultBadArgument for a format that cannot be allocated or sizes
// that are not positive or whose planes would not fit a 32-bit allocation.
int imagePlaneLayout(PixelFormat format, int32_t width, int32_t height, PlaneLayout layout[4]);

// ---- Allocation -----------------------------------------------------------------------------

// Allocates every plane of a width x height image of the format (memory not cleared).
// 0; -4 for a null out record, a size that is not positive or too large, or a format that
// cannot be allocated; -3 when memory runs out. A failure leaves *out zero-filled.
int imageAllocate(EngineAllocator *allocator, EngineImage *out, int32_t width, int32_t height,
                  PixelFormat format);

// A grey (0x40000001) image of width x height with every pixel set to value. 0, -3, -4 as
// imageAllocate.
int allocateGreyFilled(EngineAllocator *allocator, EngineImage *out, int32_t width, int32_t height,
                       uint8_t value);

// Frees every plane the format counts and zero-fills the record. Null image: nothing.
void imageRelease(EngineAllocator *allocator, EngineImage *image);

// A newly allocated copy of the source; every row copies the smaller of the two strides.
// 0, -3, -4 (invalid source, a missing plane or a format that cannot be allocated).
int imageClone(EngineAllocator *allocator, const EngineImage *source, EngineImage *out);

// A copy whose longer side is at most maxSide: a clone when the image is within it, else a
// resampled image of the same format. 0, -3, -4, -6 (a format the resampler does not handle).
int makeWorkingCopy(EngineAllocator *allocator, const EngineImage *image, uint32_t maxSide,
                    EngineImage *out);

// A newly allocated copy of a rectangle of the image. The rectangle is made even where the
// format's chroma needs it (4:2:2: x and width; 4:2:0: all four). 0; -4 invalid image or
// rectangle; -6 a format crop does not handle (nothing allocated); -3.
int cropImage(EngineAllocator *allocator, const EngineRect *rect, const EngineImage *image,
              EngineImage *out);

// ---- Sampling into grey ---------------------------------------------------------------------

enum PlaneSelector : int { kSelectLuma = 0, kSelectCb = 1, kSelectCr = 2 };

// Samples one component of a rectangle of a planar or semi-planar image into the grey image
// (whose buffer it writes densely, grey width x grey height bytes), stepping rect / grey size
// source pixels per output pixel. 0; -4 for null records, an empty grey image or a rectangle
// outside the image; -6 for other formats, whose grey image is filled with zeros.
int copyPlaneToGrey(const EngineImage *image, int selector, const EngineRect *rect,
                    EngineImage *grey);

// The same for the packed 4:2:2 formats 0x20000001 and 0x20000002.
int copyPackedPlaneToGrey(const EngineImage *image, int selector, const EngineRect *rect,
                          EngineImage *grey);

// Swaps the two bytes of every byte pair of `rows` rows (stride / 2 pairs a row, padding
// included). Answers 1; 0 without doing anything for a null plane, a zero or odd stride or
// zero rows.
int swapChromaBytes(uint8_t *pixels, int32_t stride, int32_t rows);

// ---- Rectangles -----------------------------------------------------------------------------

// 1 when the rectangle is non-empty and lies wholly in a W x H image.
int rectInsideImage(const EngineRect &rect, int32_t width, int32_t height);
// 1 when the rectangles overlap; rectangles that only touch count as overlapping.
int rectsOverlap(const EngineRect &a, const EngineRect &b);
// 0 when x lies in 0..W-1, y in 0..H-1, width in 0..W-x and height in 0..H-y; else 1.
int rectNeedsClamp(const EngineRect &rect, int32_t width, int32_t height);
// 1 when the face box needs no clamp and each present eye box (non-zero width and height) lies
// inside the image and overlaps the face box; 0 otherwise and when any pointer is null.
int faceRegionValid(const EngineRect *face, const EngineRect *eye1, const EngineRect *eye2,
                    int32_t width, int32_t height);

// ---- Chroma evening -------------------------------------------------------------------------
// A 4:2:2 or 4:2:0 image keeps whole chroma samples: x and widths are made even for both
// families, y and heights for 4:2:0 too; other families are left as they are. The helpers say
// which way they round.

// 1 when the family's chroma is shared by pixel pairs across (4:2:2, 4:2:0).
constexpr bool chromaPairsAcross(PixelFormat format)
{
    return formatFamily(format) == kFamilyYuv422 || formatFamily(format) == kFamilyYuv420;
}
// 1 when the family's chroma is shared by row pairs too (4:2:0).
constexpr bool chromaPairsDown(PixelFormat format) { return formatFamily(format) == kFamilyYuv420; }

// The chroma pair (4:2:2, 4:2:0) and the chroma row (4:2:0) that serve pixel (x, y). A picture of
// odd width or height has luma alone in its last column or row: those pixels take the last whole
// pair or row.
constexpr int32_t chromaPairOf(const EngineImage &image, int32_t x)
{
    return (x >> 1) < image.width / 2 || image.width < 2 ? x >> 1 : image.width / 2 - 1;
}
constexpr int32_t chromaRowOf(const EngineImage &image, int32_t y)
{
    return (y >> 1) < image.height / 2 || image.height < 2 ? y >> 1 : image.height / 2 - 1;
}

// Every side and position rounded down to even.
void evenRectForFamily(EngineRect *rect, PixelFormat format);

// The rectangle with every side and position rounded down to even whatever the family, for the
// routines that work in 2 x 2 blocks.
constexpr EngineRect evenRect(const EngineRect &r)
{
    return EngineRect{r.x & ~1, r.y & ~1, r.width & ~1, r.height & ~1};
}

// x and y rounded down, width and height rounded up to even.
void evenRectGrownForFamily(EngineRect *rect, PixelFormat format);

// A size rounded down (evenSizeForFamily) or up (evenSizeUpForFamily) to even.
template <class Side>
void evenSizeForFamily(PixelFormat format, Side *width, Side *height)
{
    if (chromaPairsAcross(format))
        *width &= ~Side(1);
    if (chromaPairsDown(format))
        *height &= ~Side(1);
}
template <class Side>
void evenSizeUpForFamily(PixelFormat format, Side *width, Side *height)
{
    if (chromaPairsAcross(format))
        *width = (*width + 1) & ~Side(1);
    if (chromaPairsDown(format))
        *height = (*height + 1) & ~Side(1);
}
