// Encoding one ImageBuffer into a JPEG, PNG, BMP or TIFF file, carrying the source file's metadata
// over, rewriting the facts that processing changed, converting the sRGB pixels into the output's
// colour space and embedding its ICC profile, with a 256-pixel EXIF thumbnail in JPEG and TIFF files.
//
// PSD output needs an installed encoder that declares "image/photoshop"; none is installed, so it
// fails with kEncodeFailed.
#pragma once

#include <cstdint>
#include <string>

#include "vizoruv/io/colour_profiles.h"
#include "vizoruv/io/image_buffer.h"
#include "vizoruv/io/output_settings.h"

class VXLRawEngine;

// Results of encodeImage.
enum : int {
    kEncodeWritten = 0,
    kEncodeFailed = 1,
    kEncodeFailedWithMetadata = 2,   // failed while writing with carryMetadata: retry without it
    kEncodeSourceProfileUnusable = 3,  // no transform into the source's own profile: retry with mode 0
};

struct EncodeRequest {
    int32_t height = 0;              // size of the area to write, pixels
    int32_t width = 0;
    std::string sourcePath;          // the file the image came from (metadata source); may be empty
    std::string outputPath;          // the file to write
    bool bgrOrder = false;           // 8-bit four-channel pixels are B, G, R, A (host mode), else R, G, B, A
    std::string mimeType;            // "image/jpeg", "image/png", "image/bmp", "image/tiff",
                                     // "image/photoshop"; any other value writes TIFF
    float quality = 0.93f;           // JPEG quality, 0 to 1
    const ImageBuffer* buffer = nullptr;  // the pixels
    float cropX = 0, cropY = 0;      // top-left corner of the area in the buffer (truncated)
    bool resize = false;             // scale the area to outputWidth x outputHeight
    float outputWidth = 0, outputHeight = 0;  // truncated
    bool orientationApplied = false; // the pixels are upright: the orientation tag is written as 1
    std::string tempFolder;          // folder for the copy of a source that is being overwritten
    std::string software;            // EXIF Software text (UTF-8)
    const VXLRawEngine* rawEngine = nullptr;  // present when the source may be a RAW file
    OutputSettings settings = {};    // profileMode and defaultDpi are read
    std::string binDir;              // folder of the shipped profiles
    const ProfileBytes* proPhoto = nullptr;  // the platform's shipped profiles (may be null or empty)
    const ProfileBytes* adobe = nullptr;
    int32_t orientation = 1;         // EXIF orientation of the source
    bool adobeRgbMark = false;       // the source carries the Adobe RGB mark
    bool carryMetadata = true;       // carry metadata and honour profileMode; else plain sRGB
};

// Writes the file. Answers kEncodeWritten or one of the failures above; `error` (may be null) gets a
// readable reason. A failed write leaves no partial output file behind.
int encodeImage(const EncodeRequest& request, std::string* error = nullptr);

// The XMP packet a PNG output carries when its metadata could not be copied block by block.
extern const char kPngXmpPacket[];
