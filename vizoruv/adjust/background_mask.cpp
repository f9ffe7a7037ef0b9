// BackgroundMaskCache: request, fill through the engine, lookup with recompute.
#include "vizoruv/adjust/background_mask.h"

#include <cstring>

#include "vizoruv/adjust/engine_params.h"
#include "vizoruv/adjust/mask_planes.h"
#include "vizoruv/platform/image_view.h"
#include "vizoruv/platform/ivxl_platform.h"

namespace {

// 8-bit RGB copy of a 16-bit image: the high byte of each sample, red first.
std::vector<std::uint8_t> narrowToRgb8(const std::uint8_t* pixels, int width, int height, int rowBytes, bool bgrOrder,
                                       bool is4ch)
{
    std::vector<std::uint8_t> copy(static_cast<std::size_t>(width) * height * 3);
    const int step = is4ch ? 4 : 3;
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const std::uint16_t*>(pixels + static_cast<std::ptrdiff_t>(y) * rowBytes);
        std::uint8_t* out = &copy[static_cast<std::size_t>(y) * width * 3];
        for (int x = 0; x < width; ++x, row += step, out += 3) {
            out[0] = static_cast<std::uint8_t>(row[bgrOrder ? 2 : 0] >> 8);
            out[1] = static_cast<std::uint8_t>(row[1] >> 8);
            out[2] = static_cast<std::uint8_t>(row[bgrOrder ? 0 : 2] >> 8);
        }
    }
    return copy;
}

bool sameKey(const VXLParams& a, const VXLParams& b)
{
    return a.bgmAmount == b.bgmAmount && a.bgmStrength == b.bgmStrength;
}

} // namespace

VxlBGMaskRequest backgroundMaskRequest(const VXLParams& block)
{
    VxlBGMaskRequest request;
    std::memset(&request, 0, sizeof request);
    request.kind = 7;
    request.amount = block.bgmAmount;
    request.scale = 100;
    request.smooth = 1;
    request.eightBit = 1;
    request.strength = block.bgmStrength;
    request.bytesPerMaskPixel = 4;
    return request;
}

void createBackgroundMaskCache(BackgroundMaskCache* cache, IVXLPlatform* platform, const BackgroundMaskEngine& session)
{
    *cache = BackgroundMaskCache();
    cache->platform = platform;
    cache->session = session;
}

void destroyBackgroundMaskCache(BackgroundMaskCache* cache)
{
    *cache = BackgroundMaskCache();
}

void keepSource(BackgroundMaskCache* cache, const std::uint8_t* pixels, int rowBytes, int width, int height)
{
    if (!pixels || rowBytes <= 0 || width <= 0 || height <= 0)
        return;
    cache->keptSource.assign(pixels, pixels + static_cast<std::size_t>(rowBytes) * height);
    cache->keptRowBytes = rowBytes;
    cache->fullWidth = width;
    cache->fullHeight = height;
}

bool fillBackgroundMask(BackgroundMaskCache* cache, const VXLParams& block, const std::uint8_t* pixels, int width,
                        int height, int rowBytes, bool is16, bool bgrOrder, bool is4ch)
{
    if (!pixels || width <= 0 || height <= 0 || !cache->session.fillMask)
        return false;
    std::vector<std::uint8_t> narrowed;
    VxlEngineImage image{width, height, rowBytes, enginePixelCode(false, is4ch, bgrOrder), const_cast<std::uint8_t*>(pixels)};
    if (is16) {
        narrowed = narrowToRgb8(pixels, width, height, rowBytes, bgrOrder, is4ch);
        image = {width, height, width * 3, VXL_PIXEL_RGB8, narrowed.data()};
    }
    cache->params = block;
    cache->fullMask.assign(static_cast<std::size_t>(width) * height, 0);
    cache->fullWidth = width;
    cache->fullHeight = height;
    const VxlBGMaskRequest request = backgroundMaskRequest(block);
    if (cache->session.fillMask(&image, cache->session.engine, cache->session.profile, cache->fullMask.data(),
                                &request) != 0) {
        // A failed mask is never handed out: the next request computes it again.
        cache->fullMask.clear();
        return false;
    }
    return true;
}

const std::uint8_t* getBackgroundMask(BackgroundMaskCache* cache, const VXLParams& block, bool fullSize)
{
    if (!cache->fullMask.empty() && sameKey(block, cache->params))
        return fullSize ? cache->fullMask.data() : (cache->displayMask.empty() ? nullptr : cache->displayMask.data());

    cache->params = block;
    if (!cache->platform)
        return nullptr;
    ImageView full{};
    if (cache->platform->GetImage(&full, true, true) != 0)
        return nullptr;
    int width = 0, height = 0;
    cache->platform->GetImageInfo(nullptr, nullptr, nullptr, &width, &height, nullptr, nullptr, nullptr, nullptr, nullptr);
    cache->fullWidth = width;
    cache->fullHeight = height;
    const bool bgrOrder = full.hostOrder != 0;
    bool filled = false;
    if (width == full.width && height <= full.height) {
        filled = fillBackgroundMask(cache, block, full.data[0], width, height, full.rowBytes,
                                    full.format == kImageFormat16, bgrOrder, full.hasAlpha != 0);
        cache->keptSource.clear();
        cache->keptSource.shrink_to_fit();
    } else {
        // The full-size pixels are gone (preview-only platform): use the copy kept at release.
        if (cache->keptSource.empty() || width <= 0 || height <= 0 ||
            static_cast<std::size_t>(cache->keptRowBytes) * height > cache->keptSource.size() ||
            cache->keptRowBytes < 3 * width)
            return nullptr;
        filled = fillBackgroundMask(cache, block, cache->keptSource.data(), width, height, cache->keptRowBytes, false,
                                    bgrOrder, cache->keptRowBytes >= 4 * width);
    }
    if (!filled)
        return nullptr;

    ImageView display{};
    if (cache->platform->GetImage(&display, true, false) != 0)
        return nullptr;
    if (display.width <= 0 || display.height <= 0)
        return nullptr;
    cache->displayWidth = display.width;
    cache->displayHeight = display.height;
    cache->displayMask.resize(static_cast<std::size_t>(display.width) * display.height);
    resampleNearest(cache->displayMask.data(), cache->fullMask.data(), display.width, display.height, cache->fullWidth,
                    cache->fullHeight);
    return fullSize ? cache->fullMask.data() : cache->displayMask.data();
}
