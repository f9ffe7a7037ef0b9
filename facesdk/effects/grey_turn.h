// Turning a grey byte buffer about its centre, for the stages that place upright masks onto a
// tilted face.
#pragma once

#include <cstdint>

#include "facesdk/base/allocator.h"

// A new buffer (from the allocator) of the turned bounding box, row after row, in which the
// sample at offset (X, Y) from the centre reads the source at (X cos - Y sin, X sin + Y cos)
// from the source's centre, nearest sample, 0 outside; sine and cosine in 16.16. 0; -4 for an
// empty source; -3.
int turnGrey(EngineAllocator *allocator, const uint8_t *source, int32_t width, int32_t height,
             int32_t sine, int32_t cosine, uint8_t **out, int32_t *outWidth, int32_t *outHeight);
