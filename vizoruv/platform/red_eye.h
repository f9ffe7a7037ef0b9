// The red-eye library's view of a picture: the 96-byte image record with its pixel code, and the
// channel order the library reads. The analysis (engine_session.cpp) describes the pictures it
// scans here and the pipeline (correctRedEyes) the picture it corrects, so both passes hand the
// library the same record.
#pragma once

#include <cstdint>

#include "vizoruv/platform/image_view.h"
#include "vizoruv/platform/redeye_abi.h"

// The library's pixel code of the image in the given channel order. Four channels means row bytes
// of at least 4 x width (8-bit) or 8 x width (16-bit), whatever the view's alpha flag says. There is
// no blue-first 16-bit four-channel code: such pixels are described red first and must be put in
// that order for the call (RedEyeChannelOrder).
int32_t redEyeFormatCode(const ImageView& image, bool bgrOrder);

// The record of the image: size, width, height, redEyeFormatCode, row bytes and first pixel; every
// other byte zero.
ReImage redEyeImageRecord(const ImageView& image, bool bgrOrder);

// Puts a blue-first 16-bit four-channel image red first for as long as it lives, and back again;
// any other image is left as it is.
class RedEyeChannelOrder {
public:
    RedEyeChannelOrder(const ImageView& image, bool bgrOrder);
    ~RedEyeChannelOrder();
    RedEyeChannelOrder(const RedEyeChannelOrder&) = delete;
    RedEyeChannelOrder& operator=(const RedEyeChannelOrder&) = delete;

private:
    ImageView image_;
    bool bgrOrder_;
};
