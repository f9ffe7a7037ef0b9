// Turning a grey byte buffer about its centre.
#include "facesdk/effects/grey_turn.h"

#include <algorithm>
#include <cstdlib>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/row_bands.h"

int turnGrey(EngineAllocator *allocator, const uint8_t *source, int32_t width, int32_t height,
             int32_t sine, int32_t cosine, uint8_t **out, int32_t *outWidth, int32_t *outHeight)
{
    if (!source || width <= 0 || height <= 0 || !out || !outWidth || !outHeight)
        return kResultBadArgument;
    const int64_t s = std::abs(sine), c = std::abs(cosine);
    const int32_t rw = std::max<int32_t>(1, int32_t((c * width + s * height + 65535) >> 16));
    const int32_t rh = std::max<int32_t>(1, int32_t((s * width + c * height + 65535) >> 16));
    auto *turned = static_cast<uint8_t *>(allocatorAlloc(allocator, uint32_t(rw) * rh));
    if (!turned)
        return kResultNoMemory;
    // A turned pixel costs about four of the simplest loops' pixels.
    forEachRowBand(0, rh, 4 * int64_t(rw), [&](int32_t firstRow, int32_t endRow) {
        for (int32_t y = firstRow; y < endRow; ++y) {
            const int64_t Y = y - rh / 2;
            for (int32_t x = 0; x < rw; ++x) {
                const int64_t X = x - rw / 2;
                const int64_t u = X * cosine - Y * sine, v = X * sine + Y * cosine;
                const int32_t j = int32_t((u + 32768) >> 16) + width / 2;
                const int32_t i = int32_t((v + 32768) >> 16) + height / 2;
                turned[size_t(y) * rw + x] =
                    j >= 0 && j < width && i >= 0 && i < height ? source[size_t(i) * width + j] : 0;
            }
        }
    });
    *out = turned;
    *outWidth = rw;
    *outHeight = rh;
    return kResultOk;
}
