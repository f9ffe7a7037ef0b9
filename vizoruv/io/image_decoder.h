// Decoding one picture file (JPEG, PNG, TIFF, BMP, GIF) into the platform's working images, with
// the photographic facts of its metadata. RAW files are developed by the RAW engine, not here; the
// caller picks the reader with isRawCandidate.
//
// What one decode gives: the 8-bit full-size image (R, G, B, A bytes, rows rowStride(width, 32)
// apart), its preview bounded by a longest side, optionally the 16-bit full-size image (R, G, B (, A)
// little-endian samples, rows rowStride(width, 48 or 64) apart) and the 320-pixel-wide copy for the
// face-detector library (R, G, B, rows rowStride(320, 24) apart). Every image is converted from its
// embedded colour profile to sRGB (an untagged image counts as sRGB) and turned upright by its EXIF
// orientation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sys/wic/wic.h"
#include "vizoruv/io/image_buffer.h"

class ImageMetadata;

// Facts of a picture that the platform reports.
struct ImageFacts {
    std::string camera;          // EXIF Make, a blank, EXIF Model (what is present)
    std::string lens;            // "System.Photo.LensModel", else EXIF LensModel
    int32_t iso = -1;            // EXIF ISOSpeedRatings, at most 3200; -1 when unknown
    bool flashNotFired = false;  // EXIF Flash present with bit 0 clear
    float aperture = 0;          // APEX aperture value
    float focalLength = 0;       // millimetres
    float exposureBias = 0;      // EV
    float shutterSpeed = 0;      // APEX shutter speed value
    int32_t recordedWidth = 0;   // the frame's size, swapped for orientations 5 to 8
    int32_t recordedHeight = 0;
    bool adobeRgbMark = false;   // EXIF ColorSpace 0xFFFF with interoperability index "R03"
    int32_t orientation = 1;     // EXIF orientation; 1 when none
};

// Reads the facts from a picture's metadata; facts without a source keep their values.
void readImageFacts(const ImageMetadata& metadata, ImageFacts* facts);

// The platform's callers choose: opening an image asks the 8-bit images and, unless economy mode
// says otherwise, the detector copy; file processing asks roomForRotation, and sixteenBit for 16-bit
// output (and for a file with a RAW extension that was decoded here, unless 8-bit output is asked).
struct DecodeRequest {
    int32_t maxPreviewSide = 1200;  // longest preview side (compared unsigned: negative means no limit)
    bool fullSize8 = true;          // make the 8-bit full-size image
    bool sixteenBit = false;        // make the 16-bit full-size image
    bool detectorCopy = false;      // make the 320-pixel-wide copy
    bool roomForRotation = false;   // full-size blocks hold the picture in either orientation plus a row
    bool noColourManagement = false;  // keep the file's colours (no conversion to sRGB)
};

// The result of one decode. Owns its buffers (freed by the destructor); a caller keeps one by
// moving it out with takeImageBuffer.
struct DecodedImage {
    DecodedImage() = default;
    ~DecodedImage();
    DecodedImage(const DecodedImage&) = delete;
    DecodedImage& operator=(const DecodedImage&) = delete;

    ImageFacts facts;
    wic::Container container = wic::Container::Unknown;
    double dpiX = 0, dpiY = 0;          // the file's resolution; 0 when it has none
    std::vector<uint8_t> sourceProfile; // the embedded ICC profile; empty when none
    int32_t channels = 0;               // of the file's pixels: 3 or 4
    int32_t bitsPerChannel = 0;         // of the file's pixels: 8 or 16
    ImageBuffer fullSize;    // 8-bit R, G, B, A
    ImageBuffer preview;     // 8-bit R, G, B, A, fitted into maxPreviewSide
    ImageBuffer sixteenBit;  // 16-bit R, G, B (, A)
    ImageBuffer detector;    // 8-bit R, G, B, 320 wide; empty when the preview is too flat or
                             // more than eight times taller than wide
};

// Hands the buffer over: answers it and leaves the source empty.
ImageBuffer takeImageBuffer(ImageBuffer* buffer);

// Decodes frame 0 of the file; grey frames become colour. Answers 0, or -1 with a readable reason in
// `error` (may be null) for a missing or unreadable file, an unknown format, corrupt or truncated
// data, zero or oversized dimensions, or memory that runs short.
int decodeImageFile(const std::string& path, const DecodeRequest& request, DecodedImage* image,
                    std::string* error);
