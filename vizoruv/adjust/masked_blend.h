// Masked blend: a layer rendered on a copy of the image is blended back into the image, through a
// mask plane or with a fixed amount, in row bands that run on threads of their own.
#pragma once

#include "vizoruv/platform/image_view.h"

// Bands for an image of `rows` rows: 8 from 2048 rows on, else one per 256 rows, at least one.
// Every band has rows / n rows; the last also takes the remainder.
int maskedBlendBandCount(int rows);

// Blends the source into the target, in place, channels 0 to 2 (a fourth channel is not touched).
// With a mask (one sample per pixel, 8- or 16-bit by its format, rows by its own row bytes) the
// mask value is the share of the source: 255 (65535) takes the source, 0 keeps the target; invert
// turns that round, and the amount is ignored. Without a mask the amount (0..100, limited to that
// range) is the share of the target that stays: 100 keeps the target and returns at once, 0 takes
// the source. Source and target must have the same sample size and pixel layout, and source and
// mask at least the target's size. Answers 0, or -1 for a bad geometry (nothing is changed then).
int maskedBlend(const ImageView& source, const ImageView& target, int amount, const ImageView* mask, bool invert);

// The blend with a chosen number of bands (1 runs on the caller's thread); the result does not
// depend on the band count. maskedBlend uses maskedBlendBandCount of the target's height.
int maskedBlendInBands(const ImageView& source, const ImageView& target, int amount, const ImageView* mask,
                       bool invert, int bands);
