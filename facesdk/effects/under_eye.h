// Under-eye brightening stage (feature 0x8000): a band below each eye, turned with the eye line,
// is re-toned (a curve lifted from the band's mean applied to a strongly blurred copy, the fine
// detail added back) and blended in only where that is brighter, weighted by the soft face mask
// template and the strength. The two eyes of a face are worked on as two row bands (row_bands.h)
// when their regions cannot meet.
#pragma once

#include <cstdint>

#include "facesdk/engine/beautify_run.h"

// The stage: the caller's faces (run-image coordinates) and the run's face list (only whether it
// is empty). 0; 97 for an empty list; -3 when the template cannot be decoded, or the template
// read's code. Failures inside one eye's work end that eye silently.
int applyUnderEyeBrighten(InnerEngine *inner, FaceWork *faces, int32_t count);

// One eye: eye box in the stage image's coordinates, eye-line angle in degrees, the decoded
// 150 x 100 template mask. 0; negative when the eye's work could not be done.
int brightenUnderEye(InnerEngine *inner, int32_t angle, const EngineImage *templateMask,
                     const EngineRect &eyeBox);

// The region below an eye: the rectangle in image coordinates and its turned white mask
// (allocated, regionWidth x regionHeight, both even). 0; 97 when the box is too small; -3.
int underEyeRegion(EngineAllocator *allocator, const EngineRect &eyeBox, int32_t angle,
                   uint8_t **mask, EngineRect *rect);

// The lift curve of a region mean m: knots (0, 0), (d/2, 3d/4), (d, d), (255, 255) with
// d = min(255, (77143 m) >> 16); the identity when d < 2.
void toneCurveFromMean(int32_t mean, uint8_t *table);

// Blends the target luma (rect.width x rect.height) into the image's luma over the rectangle
// where it is brighter, weighted by the strength and the mask (mw x mh, stretched over the
// rectangle). 0; -4; -6 for a format without a luma layout here.
int blendBrightOnly(EngineImage *image, const EngineRect &rect, const uint8_t *target,
                    const uint8_t *mask, int32_t maskWidth, int32_t maskHeight,
                    int32_t strength);
