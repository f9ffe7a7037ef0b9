#include "vizoruv/platform/red_eye.h"

#include "vizoruv/adjust/engine_params.h"

int32_t redEyeFormatCode(const ImageView& image, bool bgrOrder)
{
    // Rows: four channels, then bgrOrder; columns: 8-bit, 16-bit.
    static const int32_t kCodes[2][2][2] = {
        {{RE_PIXEL_RGB8, RE_PIXEL_RGB16}, {RE_PIXEL_BGR8, RE_PIXEL_BGR16}},
        {{RE_PIXEL_RGBA8, RE_PIXEL_RGBA16}, {RE_PIXEL_BGRA8, RE_PIXEL_RGBA16}},
    };
    return kCodes[isFourChannel(image)][bgrOrder][isSixteenBit(image)];
}

ReImage redEyeImageRecord(const ImageView& image, bool bgrOrder)
{
    ReImage record{};
    record.size = sizeof record;
    record.width = image.width;
    record.height = image.height;
    record.format = redEyeFormatCode(image, bgrOrder);
    record.rowBytes = image.rowBytes;
    record.pixels = image.data[0];
    return record;
}

RedEyeChannelOrder::RedEyeChannelOrder(const ImageView& image, bool bgrOrder) : image_(image), bgrOrder_(bgrOrder)
{
    swapRedBlue16(image_, bgrOrder_);
}

RedEyeChannelOrder::~RedEyeChannelOrder()
{
    swapRedBlue16(image_, bgrOrder_);
}
