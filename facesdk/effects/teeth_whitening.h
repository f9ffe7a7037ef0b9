// Teeth whitening stage (feature 0x4): the visible teeth between the lips get brighter, less
// yellow and less red. The lower-face patch is sampled upright around the face's lower-face
// point, the teeth are marked between the lower-face curves of the face's shape record, and the
// mark, turned back to the image's orientation and softened, weights three tone curves blended
// from the identity by the strength.
#pragma once

#include <array>
#include <cstdint>

#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/shape_record.h"

// The stage. Reads the teeth strength; works on runStageTarget's image. 0 when a face was
// whitened, 97 when none was, or the first failing face's code (-3, -4, -6).
int applyTeethWhitening(InnerEngine *inner, FaceWork *faces, int32_t count);

// One face, its record in image coordinates; `curves` is the face's shape record or null.
// 0, 97 (no ready curves, the patch leaves the image, too few teeth samples), -3, -4, -6.
int whitenFaceTeeth(InnerEngine *inner, EngineImage *image, const FaceWork &face,
                    const FaceListEntry &entry, const FaceShapeRecord *curves, int32_t strength);

// The blend table t[i] = (K[i] x 16 s + i x (4096 - 16 s)) >> 12 of a curve K at strength s.
void teethBlendTable(const uint8_t *curve, int32_t strength, uint8_t *out);

// Applies tY, tCb, tCr over the rectangle (image coordinates) through the mask. With scale 1
// the mask covers the rectangle sample for sample (the rectangle is first made even); with a
// larger scale each mask sample stands for a scale x scale cell and the weight is interpolated
// bilinearly between the samples around the cell. 0; -4 for a missing argument or a rectangle
// outside the image; -6 for a format outside the run formats.
int blendTeethMask(EngineImage *image, const EngineRect &rect, int32_t scale, const uint8_t *tY,
                   const uint8_t *tCb, const uint8_t *tCr, const uint8_t *mask,
                   int32_t maskWidth, int32_t maskHeight);

// The stage's fixed curves.
extern const std::array<uint8_t, 256> teethLumaCurve;
extern const std::array<uint8_t, 256> teethCbCurve;
extern const std::array<uint8_t, 256> teethCrCurve;
