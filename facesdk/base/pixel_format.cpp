// Bytes per pixel of the named pixel formats.
#include "facesdk/base/pixel_format.h"

namespace {

struct FormatBytes {
    PixelFormat format;
    uint8_t bytes;  // bytes per pixel of the first plane
};

constexpr FormatBytes kFormatBytes[] = {
    {kFormatYuv444Packed, 3},        {kFormatYuv444Packed4, 4},
    {kFormatYuv444Packed4Alt, 4},    {kFormatYuv444TwoPlanes, 1},
    {kFormatYuv444TwoPlanesAlt, 1},  {kFormatYuv444Planar, 1},
    {kFormatYuv444PlanarAlt, 1},     {kFormatYuv444FourPlanes, 4},
    {kFormatYuv444Packed16, 6},      {kFormatYuv444TwoPlanes16, 2},
    {kFormatYuv444Planar16, 2},      {kFormatYuv422Yuyv, 2},
    {kFormatYuv422Uyvy, 2},          {kFormatYuv422Packed3, 2},
    {kFormatYuv422Packed4, 2},       {kFormatYuv422SemiPlanar, 1},
    {kFormatYuv422Planar, 1},        {kFormatYuv422FourPlanes, 1},
    {kFormatYuv422PlanarVariant, 1}, {kFormatYuv422Packed16, 4},
    {kFormatYuv422TwoPlanes16, 2},   {kFormatYuv422Planar16, 2},
    {kFormatYuv420OnePlane, 1},      {kFormatYuv420SemiPlanar, 1},
    {kFormatYuv420SemiPlanarCrFirst, 1}, {kFormatYuv420Planar, 1},
    {kFormatYuv420PlanarVariant, 1}, {kFormatYuv420TwoPlanes16, 2},
    {kFormatYuv420Planar16, 2},      {kFormatGrey8, 1},
    {kFormatGrey16, 2},              {kFormatRgb24, 3},
    {kFormatBgr24, 3},               {kFormatRgb32First, 4},
    {kFormatRgb32, 4},               {kFormatRgba32, 4},
    {kFormatBgr32First, 4},          {kFormatBgr32, 4},
    {kFormatBgra32, 4},              {kFormatRgbPlanar, 1},
    {kFormatRgbaPlanar, 1},          {kFormatRgb48, 6},
    {kFormatBgr48, 6},               {kFormatRgba64, 8},
    {kFormatRgbPlanar16, 2},
};

}  // namespace

uint8_t bytesPerPixel(PixelFormat format)
{
    for (const FormatBytes &entry : kFormatBytes)
        if (entry.format == format)
            return entry.bytes;
    return 0;
}
