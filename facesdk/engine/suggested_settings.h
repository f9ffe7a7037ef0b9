// Per-face suggested settings (inner slot 5, innerAnalyzeFaces in inner_engine.h): one
// 200-byte parameter block per face with the engine's fixed suggestion, which switches on
// smoothing, eye tone, teeth whitening, skin tone, face warp, under-eye brightening and skin
// softening. The result code reports whether the last face's box can be worked on.
#pragma once

#include <cstdint>

#include "facesdk/engine/image.h"
#include "facesdk/engine/params.h"

// The block's layout with every sub-block's size, arguments and colours of the suggestion and
// all strengths 0 (the whole block is written).
void writeSuggestionDefaults(BeautyParams *block);

// The suggestion's strengths and the levels and modes that go with them.
void writeSuggestionStrengths(BeautyParams *block);

// 0 when the face box lies inside the image and its inner box (half the larger side narrower in
// each direction, made even for the format's chroma, clamped into the image) is not empty;
// else -4. An invalid image gives -4.
int checkSuggestionBox(const EngineImage *image, const EngineRect &box);
