// Helpers the skin stages share.
#include "facesdk/effects/stage_helpers.h"

#include <cstring>

#include "facesdk/engine/result_codes.h"

int allocateGreyZeroed(EngineAllocator *allocator, EngineImage *out, int32_t width, int32_t height)
{
    const int result = imageAllocate(allocator, out, width, height, kFormatGrey8);
    if (result == kResultOk)
        fillGrey(*out, 0);
    return result;
}

void fillGrey(EngineImage &image, uint8_t value)
{
    for (int32_t y = 0; y < image.height; ++y)
        std::memset(greyRow(image, y), value, size_t(image.width));
}
