// Developing a RAW file into the same images a picture decode gives (DecodedImage): the 8-bit
// full-size R, G, B, A image, its preview, the 16-bit image when the development was 16-bit, and
// the 320-pixel-wide face-detector copy. The RAW engine turns the picture upright itself.
#pragma once

#include <memory>

#include "vizoruv/io/image_decoder.h"
#include "vizoruv/io/raw_engine.h"

class VXLPlatformWin;

struct RawDevelopRequest {
    VXLPlatformWin* platform = nullptr; // renders the record's embedded correction block; null skips it
    int mode = kRawDevelopFull;         // kRawDevelopReduced or kRawDevelopFull
    const VXLRAWParams* params = nullptr;
    int32_t maxPreviewSide = 1200;
    bool roomForRotation = false;       // full-size blocks hold either orientation plus a row
    bool detectorCopy = false;
};

// Develops the engine's open file. Answers 0, or -1 when the development fails or memory is short.
int developRawImage(VXLRawEngine* engine, const RawDevelopRequest& request, DecodedImage* image);

// The engine opened on the file when it is a RAW candidate and the module can open it; else null.
std::unique_ptr<VXLRawEngine> openRawFile(const char* path, void* librawModule);
