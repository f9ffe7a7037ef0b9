// Eye tone stage (feature 0x2): brighter, clearer eyes. Each eye box of each face gets its luma
// brightened through a fixed curve after a local-contrast stretch against its blurred
// surroundings, and its Cb and Cr stretched away from neutral; the change fades out from the
// eye's centre over a soft weight window built at reduced scale. The strength blends the
// curves from the identity.
//
// applyCurvesThreshold, the curve application with a contrast threshold, is shared with the
// contour contrast stage.
#pragma once

#include <array>
#include <cstdint>

#include "facesdk/engine/beautify_run.h"

// The stage. Reads the eye tone strength; works on runStageTarget's image. 0 when an eye was
// toned last, 97 when nothing was done, -3, -4, -6.
int applyEyeToneCurves(InnerEngine *inner, FaceWork *faces, int32_t count);

// The curve (i x (4096 - alpha) + alpha x source[i]) / 4096 of the identity and a source curve.
void curveFromIdentity(int32_t alpha, uint8_t *out, const uint8_t *source);

// Applies the three curves over the area of the image through a weight window of
// weightWidth x weightHeight (read by nearest lookup across the area). Luma is first stretched
// against `blur` (a grey image of the area's size) with the threshold; 0 means no stretch.
// Chroma takes the weight of its first luma pixel. 0; -4 for a missing image, curve or weight,
// or an area that is empty or leaves the image; -6 for a format outside 0x10200001,
// 0x20200001, 0x30100001, 0x30200001, 0x20000001 and 0x20000002.
int applyCurvesThreshold(EngineImage *image, const EngineImage *blur, const EngineRect &area,
                         const uint8_t *curveY, const uint8_t *curveCb, const uint8_t *curveCr,
                         const uint8_t *weight, int32_t weightWidth, int32_t weightHeight,
                         int32_t threshold);

// The local-contrast stretch of pixel p against its blurred value b with threshold t > 0.
int32_t contrastStretch(int32_t p, int32_t b, int32_t t);

// The stage's fixed source curves.
extern const std::array<uint8_t, 256> eyeLumaCurve;
extern const std::array<uint8_t, 256> eyeCbCurve;
extern const std::array<uint8_t, 256> eyeCrCurve;
