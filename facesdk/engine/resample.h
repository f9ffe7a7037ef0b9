// Image resampling: the nearest-neighbour samplers in 16.16 fixed point, the bilinear sampler for
// grey planes, the two format dispatchers, the rotated grey patch and curve resampling.
//
// Contents: the sampler job record and step helper; the samplers, one per sample layout; the
// dispatchers imageResize (whole image into whole image) and resampleImage (a rectangle of a
// view into a whole image); the grey-plane helpers; the rotated extraction; resampleCurve.
//
// Positions advance by adding a 16.16 step and are truncated, never rounded, so halving keeps
// every second sample starting with the first. Every sampler clamps a position that would fall
// past the last source row or column to that row or column; in-range positions are untouched.
#pragma once

#include <cstdint>

#include "facesdk/engine/image.h"

// Parameters of one sampler call. The source sizes are the extent of the source rectangle.
struct ResampleJob {
    int32_t srcWidth;    // source extent, samples
    int32_t srcHeight;   // source extent, rows
    int32_t dstWidth;    // destination samples a row
    int32_t dstHeight;   // destination rows
    int32_t srcStride;   // bytes per source row
    int32_t dstStride;   // bytes per destination row
    uint32_t startX;     // 16.16, first source column position
    uint32_t startY;     // 16.16, first source row position
    int32_t stepX;       // 16.16 source columns per destination column
    int32_t stepY;       // 16.16 source rows per destination row
    int32_t invStepX;    // 16.16 destination columns per source column (bilinear only)
    int32_t invStepY;    // 16.16 destination rows per source row (bilinear only)
};

// A source for resampleImage and the rotated extraction: an image whose planes may be a window
// of a larger image, with the window's origin in that image and that image's size.
struct EngineImageView {
    EngineImage image;    // the window; its width and height are the window's
    int32_t originX;      // window origin in the larger image
    int32_t originY;
    int32_t fullWidth;    // larger image's size; 0 means the window's own
    int32_t fullHeight;
};

// A view of a whole image: origin 0, sizes its own.
EngineImageView wholeEngineImageView(const EngineImage &image);

// extent x 65536 / destination extent, truncated (as extent x 2^26 / (destination x 1024));
// 0 for a destination extent that is not positive.
int32_t resampleStep(int32_t extent, int32_t destinationExtent);

// ---- Samplers -------------------------------------------------------------------------------
// Each writes job.dstHeight rows of job.dstWidth samples, row r at dst + r x dstStride.

// One byte a sample: grey and luma planes, every plane of 4:4:4, planar chroma.
void sampleNearest(const uint8_t *src, uint8_t *dst, const ResampleJob &job);
// One byte from each of two planes at the same position (the chroma planes of the planar
// 4:2:2 and 4:2:0 formats). Each plane keeps its own strides.
void sampleNearestTwoPlanes(const uint8_t *src1, int32_t srcStride1, uint8_t *dst1,
                            int32_t dstStride1, const uint8_t *src2, int32_t srcStride2,
                            uint8_t *dst2, int32_t dstStride2, const ResampleJob &job);
// Three bytes a sample (0x10000001 and RGB of 3 bytes).
void sampleNearest3(const uint8_t *src, uint8_t *dst, const ResampleJob &job);
// Four bytes a sample (RGB of 4 bytes).
void sampleNearest4(const uint8_t *src, uint8_t *dst, const ResampleJob &job);
// Packed 4:2:2 with luma in bytes 0 and 2 of each 4-byte group (0x20000001, 0x20000003): per
// destination pair, byte 0 from the source group of the first pixel's column, byte 2 from the
// group of the second pixel's column, chroma bytes 1 and 3 from the first pixel's group.
void sampleNearestYuyv(const uint8_t *src, uint8_t *dst, const ResampleJob &job);
// As sampleNearestYuyv with luma in bytes 1 and 3 and chroma in bytes 0 and 2 (0x20000002).
void sampleNearestUyvy(const uint8_t *src, uint8_t *dst, const ResampleJob &job);
// Bilinear on one grey plane; needs the inverse steps. Columns and rows at or past the last
// source column or row repeat it.
void sampleBilinear(const uint8_t *src, uint8_t *dst, const ResampleJob &job);

// ---- Dispatchers ----------------------------------------------------------------------------

// Resamples the whole source into the whole destination of the same format. Formats:
// 0x10200001, 0x20200001, 0x30200001, 0x20000001, 0x20000002, 0x30100001, 0x30100002,
// 0x50000001, 0x50000004. 0; -4 for invalid images or different formats; -6 for any other
// format (the destination is left untouched).
int imageResize(const EngineImage *source, EngineImage *destination);

// Resamples a rectangle of the view (in the larger image's coordinates) into the whole
// destination, which has the view's format. Formats 0x10000001, 0x10200001, 0x20000001 ..
// 0x20000003, 0x20200001, 0x30100001, 0x30100002, 0x30200001, 0x40000001. 0; -4 for invalid
// records or a rectangle outside the view's window; -6 for any other format.
int resampleImage(const EngineImageView *view, const EngineRect *rect, EngineImage *destination);

// The nearest sampler on plane 0 of a grey view: rectangle into the whole destination.
// 0, -4 (invalid records, rectangle outside the window).
int resizeGreyRegion(const EngineImageView *view, const EngineRect *rect, EngineImage *destination);

// The bilinear sampler on plane 0 of a grey view: rectangle into the whole destination.
// 0, -4 (invalid records, rectangle outside the window).
int resizePlaneBilinear(const EngineImageView *view, const EngineRect *rect, EngineImage *destination);

// ---- Rotated grey patch ---------------------------------------------------------------------

// A grey patch of a rectangle of the luma plane of a planar, semi-planar or grey view, turned
// by 0, 90, -90 or 180 degrees into the whole grey destination. For 90 and -90 destination row
// i follows a source column and destination column j a source row. 0; -4 for invalid records,
// a rectangle outside the window or any other angle (nothing written); -6 for other formats.
int extractRotatedGrey(const EngineImageView *view, const EngineRect *rect, EngineImage *destination,
                       int angle);
// The same for packed 4:2:2 views (luma at byte 1 of each pixel for 0x20000002, else byte 0).
int extractRotatedGreyPacked(const EngineImageView *view, const EngineRect *rect,
                             EngineImage *destination, int angle);

// ---- Curves ---------------------------------------------------------------------------------

// An integer curve resampled to another number of points: equal counts copy; a shorter
// destination picks the nearest source points; a longer one interpolates linearly within the
// source segment that spans each destination point. Counts below 1 (or below 2 for a source
// that must be interpolated) leave the destination untouched.
void resampleCurve(const int32_t *source, int32_t sourceCount, int32_t *destination,
                   int32_t destinationCount);
