// BackgroundMaskCache: the engine's background mask of the open image, kept at full size and at the
// display image's size, recomputed only when the block's two background values change.
//
// The platform makes a new cache with the engine session of each image it opens, and hands it the
// source pixels to keep when it releases its source buffers. File processing makes one of its own,
// without a platform, and fills it from the file's unedited pixels. The cache has no lock of its own.
#pragma once

#include <cstdint>
#include <vector>

#include "editing/model/records/vxl_params.h"
#include "vizoruv/platform/engine_abi.h"

class IVXLPlatform;

// What the cache needs of the image's engine session: the engine's mask entry point (null when the
// library offers none), the engine handle and the session's analysis profile.
struct BackgroundMaskEngine {
    PFN_VXL_FillBGMask fillMask;
    VxlEngineHandle engine;
    const VxlProfile* profile;
};

struct BackgroundMaskCache {
    IVXLPlatform* platform = nullptr;   // reads the unedited image and its facts
    BackgroundMaskEngine session{};     // the engine side of the image's session
    std::vector<std::uint8_t> fullMask;    // one byte per pixel at full size; empty: none
    std::vector<std::uint8_t> displayMask; // the same at the display size; empty: none
    std::int32_t fullWidth = 0;
    std::int32_t fullHeight = 0;
    std::int32_t displayWidth = 0;
    std::int32_t displayHeight = 0;
    VXLParams params{};                   // the block the mask was computed with
    std::vector<std::uint8_t> keptSource; // private copy of the source, kept when it was released
    std::int32_t keptRowBytes = 0;
};

void createBackgroundMaskCache(BackgroundMaskCache* cache, IVXLPlatform* platform, const BackgroundMaskEngine& session);
// Frees the masks and the kept source.
void destroyBackgroundMaskCache(BackgroundMaskCache* cache);

// Copies the source (rowBytes x height bytes) and records its row bytes and size.
void keepSource(BackgroundMaskCache* cache, const std::uint8_t* pixels, int rowBytes, int width, int height);

// The full-size or display-size mask for the block's bgmAmount and bgmStrength, recomputed from
// the unedited image (or the kept source) when those changed; null when the platform cannot give
// the images, there is no source at the full size, or the engine fails.
const std::uint8_t* getBackgroundMask(BackgroundMaskCache* cache, const VXLParams& block, bool fullSize);

// Computes the full-size mask of an image through the engine; 16-bit images go as 8-bit RGB copies.
// Answers whether the engine answered 0 (false without pixels, a size or the engine's entry point);
// after a failure the cache holds no full-size mask.
bool fillBackgroundMask(BackgroundMaskCache* cache, const VXLParams& block, const std::uint8_t* pixels, int width,
                        int height, int rowBytes, bool is16, bool bgrOrder, bool is4ch);

// The request the engine gets for a block.
VxlBGMaskRequest backgroundMaskRequest(const VXLParams& block);
