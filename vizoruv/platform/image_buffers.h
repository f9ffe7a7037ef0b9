// Views of image buffers: the ImageView that describes an ImageBuffer's pixels.
#pragma once

#include "vizoruv/io/image_buffer.h"
#include "vizoruv/platform/image_view.h"

// The view of a buffer: its format by the bits per channel, alpha when the rows hold four samples
// per pixel, channel pointers at the first three samples (none for an empty buffer).
ImageView viewOfImageBuffer(const ImageBuffer& buffer, bool hostOrder);
