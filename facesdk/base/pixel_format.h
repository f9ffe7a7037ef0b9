// Pixel-format codes of the engine's image record.
//
// A code is 32 bits: the family in bits 28-31, 16-bit samples in bit 24, the number of planes
// less one in bits 20-21, variants and component order in bits 22-23 and the low bits.
#pragma once

#include <cstdint>

using PixelFormat = uint32_t;

enum PixelFamily : uint32_t {
    kFamilyYuv444 = 1,
    kFamilyYuv422 = 2,
    kFamilyYuv420 = 3,
    kFamilyGrey = 4,
    kFamilyRgb = 5,
};

// The codes the engine and the face libraries name.
constexpr PixelFormat kFormatYuv444Packed = 0x10000001;        // one plane, Y Cb Cr bytes
constexpr PixelFormat kFormatYuv444Packed4 = 0x10000002;       // one plane, 4 bytes a pixel
constexpr PixelFormat kFormatYuv444Packed4Alt = 0x10000003;    // one plane, 4 bytes, other order
constexpr PixelFormat kFormatYuv444TwoPlanes = 0x10100001;
constexpr PixelFormat kFormatYuv444TwoPlanesAlt = 0x10100002;
constexpr PixelFormat kFormatYuv444Planar = 0x10200001;        // planes Y, Cb, Cr
constexpr PixelFormat kFormatYuv444PlanarAlt = 0x10200002;     // three planes, second order
constexpr PixelFormat kFormatYuv444FourPlanes = 0x10300001;
constexpr PixelFormat kFormatYuv444Packed16 = 0x11000001;
constexpr PixelFormat kFormatYuv444TwoPlanes16 = 0x11100001;
constexpr PixelFormat kFormatYuv444Planar16 = 0x11200001;
constexpr PixelFormat kFormatYuv422Yuyv = 0x20000001;          // packed Y0 Cb Y1 Cr
constexpr PixelFormat kFormatYuv422Uyvy = 0x20000002;          // packed Cb Y0 Cr Y1
constexpr PixelFormat kFormatYuv422Packed3 = 0x20000003;       // packed, luma first in a pair
constexpr PixelFormat kFormatYuv422Packed4 = 0x20000004;
constexpr PixelFormat kFormatYuv422SemiPlanar = 0x20100001;    // Y plane, CbCr plane 2w wide
constexpr PixelFormat kFormatYuv422Planar = 0x20200001;        // Y, Cb, Cr; chroma w/2 x h
constexpr PixelFormat kFormatYuv422FourPlanes = 0x20300001;
constexpr PixelFormat kFormatYuv422PlanarVariant = 0x20d00001;
constexpr PixelFormat kFormatYuv422Packed16 = 0x21000001;
constexpr PixelFormat kFormatYuv422TwoPlanes16 = 0x21100001;
constexpr PixelFormat kFormatYuv422Planar16 = 0x21200001;
constexpr PixelFormat kFormatYuv420OnePlane = 0x30000001;
constexpr PixelFormat kFormatYuv420SemiPlanar = 0x30100001;    // Y plane, CbCr pairs w x h/2
constexpr PixelFormat kFormatYuv420SemiPlanarCrFirst = 0x30100002;  // as above, CrCb pairs
constexpr PixelFormat kFormatYuv420Planar = 0x30200001;        // Y, Cb, Cr; chroma w/2 x h/2
constexpr PixelFormat kFormatYuv420PlanarVariant = 0x30d00001;
constexpr PixelFormat kFormatYuv420TwoPlanes16 = 0x31100001;
constexpr PixelFormat kFormatYuv420Planar16 = 0x31200001;
constexpr PixelFormat kFormatGrey8 = 0x40000001;
constexpr PixelFormat kFormatGrey16 = 0x41000001;
constexpr PixelFormat kFormatRgb24 = 0x50000001;               // 3 bytes a pixel
constexpr PixelFormat kFormatRgb32First = 0x50000002;          // 4 bytes a pixel, 0x..02-0x..04
constexpr PixelFormat kFormatRgb32 = 0x50000003;
constexpr PixelFormat kFormatRgba32 = 0x50000004;
constexpr PixelFormat kFormatBgr24 = 0x50000009;               // 3 bytes, other component order
constexpr PixelFormat kFormatBgr32First = 0x5000000a;          // 4 bytes a pixel, 0x..0a-0x..0c
constexpr PixelFormat kFormatBgr32 = 0x5000000b;
constexpr PixelFormat kFormatBgra32 = 0x5000000c;
constexpr PixelFormat kFormatRgbPlanar = 0x50200001;
constexpr PixelFormat kFormatRgbaPlanar = 0x50300001;
constexpr PixelFormat kFormatRgb48 = 0x51000001;
constexpr PixelFormat kFormatBgr48 = 0x51000009;
constexpr PixelFormat kFormatRgba64 = 0x51000004;
constexpr PixelFormat kFormatRgbPlanar16 = 0x51200001;

constexpr uint32_t formatFamily(PixelFormat format) { return format >> 28; }
constexpr int formatPlaneCount(PixelFormat format) { return int((format >> 20) & 3) + 1; }
constexpr bool formatHas16BitSamples(PixelFormat format) { return (format >> 24) & 1; }

// Bytes per pixel of the first plane for every code named above; 0 for any other code.
uint8_t bytesPerPixel(PixelFormat format);
