// The imaging component: decoding an image file into one frame of pixels with its resolution and
// colour profile, converting between pixel formats, scaling, and encoding one frame into a JPEG,
// PNG, BMP or TIFF file image in memory.
//
// Divisions: pixel formats and bitmaps; format conversion and scaling; decoding; encoding.
// Metadata (EXIF, IPTC, XMP) is not read or written here; the platform's metadata layer works on the
// encoded bytes. The decoders refuse dimensions of 0, more than kWicMaxSide on a side or more than
// kWicMaxPixels in all, and a size that the file is too short to hold at its container's densest
// packing (deflate's 1032:1 over PNG rows, a JPEG's bit per 8 x 8 block, GIF's and LZW's 4096
// pixels per 12-bit code), before anything is allocated; they answer a result code with a readable
// error text for any bad input and let no exception out.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace wic {

// ---- Results ----

enum : int {
    kWicOk = 0,
    kWicNotFound = 1,       // the file does not exist or cannot be opened
    kWicUnknownFormat = 2,  // no decoder recognises the bytes
    kWicBadData = 3,        // corrupt or truncated data
    kWicTooLarge = 4,       // zero or oversized dimensions
    kWicUnsupported = 5,    // a variant of the format that no decoder or encoder here handles
    kWicBadArgument = 6,    // a caller's bitmap, option or property that does not fit
    kWicWriteFailed = 7,    // the encoder failed
};

constexpr uint32_t kWicMaxSide = 65535;
constexpr uint64_t kWicMaxPixels = 1ull << 28;

// ---- Pixel formats and bitmaps ----

enum class Container { Unknown, Jpeg, Png, Bmp, Tiff, Gif };

// Channel order is the order in memory; 16-bit samples are little-endian; P = premultiplied alpha.
enum class PixelFormat {
    Unknown,
    Gray8, Gray16,
    Bgr24, Rgb24,
    Bgr32,  // fourth byte unused
    Bgra32, Pbgra32, Rgba32, Prgba32,
    Rgb48, Bgr48,
    Rgba64, Bgra64, Prgba64, Pbgra64,
};

int bitsPerPixel(PixelFormat format);
int channelCount(PixelFormat format);     // samples per pixel, the unused one of Bgr32 included
int bitsPerChannel(PixelFormat format);   // 8 or 16
const char* formatName(PixelFormat format);

// Pixels owned by the bitmap; rows are `stride` bytes apart.
struct Bitmap {
    PixelFormat format = PixelFormat::Unknown;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t stride = 0;
    std::vector<uint8_t> pixels;
};

// Someone else's pixels, wrapped without a copy.
struct BitmapRef {
    PixelFormat format = PixelFormat::Unknown;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t stride = 0;
    const uint8_t* pixels = nullptr;
};

// Someone else's pixels to write into: rows `stride` bytes apart, at least width x bits per pixel.
struct BitmapTarget {
    PixelFormat format = PixelFormat::Unknown;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t stride = 0;
    uint8_t* pixels = nullptr;
};

BitmapRef refOf(const Bitmap& bitmap);

// Row bytes of a tightly packed row of the format, rounded up to 4 bytes.
uint32_t paddedStride(PixelFormat format, uint32_t width);

// Sizes the bitmap (zero-filled pixels, padded stride). False when the size is 0 or too large.
bool allocateBitmap(Bitmap* bitmap, PixelFormat format, uint32_t width, uint32_t height);

// ---- Conversion and scaling ----

// Converts to another pixel format. 8-bit samples widen as v * 257, 16-bit ones narrow with
// rounding; premultiplied formats are divided out; a missing alpha becomes opaque; grey fills all
// three colour channels. False for an unknown format or an empty source.
bool convertFormat(const BitmapRef& source, PixelFormat target, Bitmap* out);
// The same into the target's pixels and format; the target's size must be the source's.
bool convertInto(const BitmapRef& source, const BitmapTarget& target);

enum class Interpolation { Linear, Cubic, HighQualityCubic, BoxThenCubic };

// Scales to width x height in the source's format. HighQualityCubic widens the cubic kernel when
// shrinking so that every source pixel contributes (no aliasing); Cubic and Linear sample with the
// plain kernels. BoxThenCubic, for previews, first averages whole boxes of source pixels down to
// between one and two times the target size, then shrinks the rest as HighQualityCubic: nearly
// the same picture for a fraction of the work. Any format of 8 or 16 bits per channel. False for an empty source or target, or
// when memory runs short. Large pictures are scaled in bands of rows on threads of their own; the
// result is the same however the rows are banded.
bool scaleBitmap(const BitmapRef& source, uint32_t width, uint32_t height, Interpolation mode, Bitmap* out);
// Scales into the target's pixels, size and format: the same as converting the source into the
// target's format first and scaling after, but only the source rows that the filter reads are
// converted (a linear thumbnail of a large picture reads a few hundred rows).
bool scaleInto(const BitmapRef& source, Interpolation mode, const BitmapTarget& target);

// ---- Decoding ----

// Frame 0 of an image file. The pixel format is the decoder's own: JPEG Bgr24 or Gray8; PNG Rgb24,
// Rgba32, Rgb48, Rgba64, Gray8 or Gray16 (palettes and grey with alpha expanded to Rgb24/Rgba32/
// Rgba64); TIFF Rgb24, Rgba32, Rgb48, Rgba64, Gray8 or Gray16, other layouts as Rgba32; BMP Bgr24,
// Bgr32 or Bgra32; GIF Rgba32.
struct Frame {
    Container container = Container::Unknown;
    Bitmap bitmap;
    double dpiX = 0;                  // 0 when the file does not say
    double dpiY = 0;
    std::vector<uint8_t> iccProfile;  // the embedded ICC profile; empty when none
};

Container sniffContainer(const uint8_t* bytes, size_t size);

// Decodes frame 0 of the bytes. `error` (may be null) receives a readable reason on failure.
int decodeMemory(const uint8_t* bytes, size_t size, Frame* frame, std::string* error);

// The caller's block for decodeMemoryInto, asked for once the picture's size is known: answers the
// first byte of row 0 and sets `stride` (at least width x bytes per pixel), or null when there is
// no memory for it.
using PixelAllocator = std::function<uint8_t*(uint32_t width, uint32_t height, uint32_t* stride)>;

// True when the container's decoder writes the format itself, so decodeMemoryInto takes it:
// JPEG (colour, grey and CMYK frames alike) into Rgba32 and Bgra32 (alpha 255).
bool decodesInto(Container container, PixelFormat format);

// Decodes frame 0 straight into the caller's block, in `format`; the pixels are those that
// decodeMemory and convertFormat into `format` give. The frame gets the container, resolution,
// profile, and in its bitmap the size and the format that decodeMemory would give (no pixels). kWicUnsupported, before anything is decoded, when
// decodesInto says no; kWicTooLarge when the allocator answers null. On any failure the block's
// contents are undefined (it stays the caller's).
int decodeMemoryInto(const uint8_t* bytes, size_t size, PixelFormat format, const PixelAllocator& allocate,
                     Frame* frame, std::string* error);

// Reads only what precedes the pixels: container, size (in the bitmap's width and height; no
// pixels), resolution and profile.
int probeMemory(const uint8_t* bytes, size_t size, Frame* frame, std::string* error);

// Reads the whole file and decodes it.
int decodeFile(const std::string& path, Frame* frame, std::string* error);

// Reads a whole file; kWicNotFound when it cannot be read.
int readFileBytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

// ---- Encoding ----

// Encoder options by their property names, written before the frame is set up:
//   "ImageQuality"            JPEG, 0..1 (default 0.9)
//   "TiffCompressionMethod"   TIFF: 0 encoder's choice (LZW), 1 none, 4 LZW, 6 deflate, 7 LZW with
//                             horizontal differencing (default 0); others are refused
//   "EnableV5Header32bppBGRA" BMP: 32-bit frames keep their alpha in a 124-byte header (default off)
// A name that the container's encoder does not know is refused (kWicBadArgument).
using PropertyBag = std::map<std::string, double>;

// The pixel format an encoder writes for a requested one (the nearest it supports): JPEG Bgr24 (or
// Gray8); PNG Rgb24, Rgba32, Rgb48, Rgba64 or Gray8/16; TIFF the same; BMP Bgr24, Bgr32 or
// Bgra32 (with "EnableV5Header32bppBGRA").
PixelFormat encoderPixelFormat(Container container, PixelFormat requested, const PropertyBag& options);

struct EncodeFrame {
    BitmapRef pixels;                 // in any format; converted to encoderPixelFormat first
    double dpiX = 72;
    double dpiY = 72;
    std::vector<uint8_t> iccProfile;  // embedded when non-empty (not in BMP)
    // The frame's thumbnail, in any format: TIFF writes it as 8-bit RGB in a reduced-resolution
    // sub-image of the frame (a SubIFD, which readers of the main image pass over); the other
    // containers take none (kWicUnsupported). None when it has no pixels.
    BitmapRef thumbnail;
};

// Encodes one frame into `out`. Containers: Jpeg, Png, Bmp, Tiff.
int encodeMemory(Container container, const EncodeFrame& frame, const PropertyBag& options,
                 std::vector<uint8_t>* out, std::string* error);

// Writes bytes to a file, replacing it; kWicWriteFailed when it cannot be written whole, and then
// the file is left as it was.
int writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);

}  // namespace wic
