// Geometry and text helpers that the whole platform shares: the row-stride rule, fitting a picture
// into a box, the EXIF orientation transform, file extensions and the RAW-candidate test, and
// UTF-8 / UTF-16 text.
#pragma once

#include <cstdint>
#include <string>

#include "vizoruv/io/image_buffer.h"

// Row bytes of `width` pixels of `bitsPerPixel` bits: width * (bitsPerPixel / 8) + 3, rounded down to
// a multiple of 4, in unsigned 32-bit arithmetic.
uint32_t rowStride(uint32_t width, uint32_t bitsPerPixel);

// Byte length of a full-size output buffer that leaves room for the picture in either orientation
// plus one row: with R = rowStride(width, bpp) and U = rowStride(height, bpp), U * (width + 1) when
// U * width > R * height, else R * (height + 1). 0 when that does not fit in an int32.
uint32_t rotatableByteLength(uint32_t width, uint32_t height, uint32_t bitsPerPixel);

struct FitBox {
    float x, y, width, height;
};

// The largest box of the image's aspect ratio inside `box`, centred on the free axis; the box itself
// when the ratios are equal. Sizes and offsets are truncated to whole pixels.
FitBox aspectFitRect(const FitBox& box, float imageWidth, float imageHeight);

// Rotates and mirrors pixels by an EXIF orientation (2 mirror left-right, 3 rotate 180°, 4 mirror
// top-bottom, 5 rotate 90° clockwise then mirror, 6 rotate 90° clockwise, 7 rotate 270° clockwise
// then mirror, 8 rotate 270° clockwise; any other value changes nothing). Works in place on the
// buffer: for 5 to 8 the width and height swap and the row bytes become rowStride(new width, bpp),
// which must fit in the buffer's block. False (buffer unchanged) when it does not fit or memory is
// short.
bool orientImageBuffer(int orientation, ImageBuffer* buffer);

// Orientation 1 answers 1 at once; any other value orients the buffer and answers 1 when that
// worked, else the orientation unchanged.
int orientBuffer(int orientation, ImageBuffer* buffer);

// The path's extension from its last "." on (empty without one), lower-cased.
std::string lowerExtension(const std::string& path);

// True when the file is read as RAW: its lowerExtension is none of ".jpg", ".jpeg", ".tif",
// ".tiff", ".bmp", ".png" and ".gif".
bool isRawCandidate(const std::string& path);

// UTF-8 to UTF-16 (invalid sequences become U+FFFD; cut at the first NUL; null gives empty) and back.
std::u16string utf8ToWide(const char* text);
std::string wideToUtf8(const std::u16string& wide);
