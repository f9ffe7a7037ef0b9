// File processing and its geometry helpers: orientation and quarter turns, the crop rectangle of a
// transform, straightening, the overlay stamp and view scaling. ProcessFile itself is the
// platform's slot 7 (file_processing.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "vizoruv/adjust/layer_mask.h"
#include "vizoruv/io/image_buffer.h"
#include "vizoruv/io/output_settings.h"
#include "vizoruv/platform/image_view.h"

struct CropRect {
    float x, y, width, height;
};

// The transform's angle in quarter turns: truncated, brought into 0..359 when negative and into
// 1..360 when above 360, divided by 90 (so 360 gives 4, a full turn).
int quarterTurns(const MaskTransform& transform);

// The straightening angle in degrees, kept in the transform's last word as a float (0 = none).
float straighteningAngle(const MaskTransform& transform);
void setStraighteningAngle(MaskTransform* transform, float degrees);

// Turns and mirrors the buffer in place by an EXIF orientation code (negative: its inverse), then by
// the transform's flips and quarter turns, and maps the rectangle (may be null) along. False, buffer
// unchanged, when the block cannot hold the turned picture.
bool applyOrientation(int code, const MaskTransform* transform, ImageBuffer* buffer, CropRect* rect);

// The crop rectangle of a transform on an a x b image scaled by factor.
CropRect cropRectFromTransform(const MaskTransform& transform, float a, float b, float factor);

// How far the crop must shrink so that the straightened crop stays inside an image of aspect r.
float straightenFitScale(const MaskTransform& transform, float aspect);

// Rotates the pixels by the straightening angle about the crop centre; the size stays and the
// uncovered corners become 0. Answers true.
bool rotateByAngle(const MaskTransform& transform, ImageBuffer* buffer);

// Blends the overlay (with alpha) into the bottom-right corner of the rectangle, a third of its size.
void stampOverlay(const ImageView* overlay, ImageBuffer* buffer, int x, int y, int width, int height);

// A copy of the view scaled to the width (height in proportion), in a new heap block the caller frees
// with std::free. A view without pixels or a width under 1 gives a view without pixels.
ImageView scaleImageView(const ImageView& view, int width);

// The output's MIME type by the path's extension: TIFF, PNG, PSD, BMP, else JPEG.
std::string outputTypeOfPath(const std::string& path);

// The output size for a rectangle of w x h under the settings (modes 6 and 7 excepted: they crop in
// the engine), and the quality. Answers whether the size changed.
bool outputSize(const OutputSettings& settings, float* width, float* height, float* quality);
