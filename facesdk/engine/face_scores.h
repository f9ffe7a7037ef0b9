// Face tone and colour scores (inner slot 7, innerFaceMeasure in inner_engine.h): how much the
// largest face of an image would gain from the face-guided tone and colour correction, as two
// scores from 1 to 5 measured like the correction measures (face_measurements.h). The image's
// pixels are never changed.
#pragma once

#include <cstdint>

// Tone score 1..5 (5: a wide usable range) from the levels e, f (image black and white) and
// h, g (face black and white) and how far the two curves lie from the identity. 0.
int toneScore(int32_t e, int32_t f, int32_t h, int32_t g, const uint8_t *imageCurve,
              const uint8_t *faceCurve, uint8_t *score);

// Colour score 1..5 (5: no colour cast) from the mean deviation of the mid-tone gains (levels
// 50 to 219) from gain 1. 0.
int colourScore(const int32_t *gainR, const int32_t *gainG, const int32_t *gainB, uint8_t *score);
