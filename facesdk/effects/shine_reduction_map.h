// The shine map of the shine reduction stage: where the blend darkens and by how much.
#pragma once

#include <cstdint>

#include "facesdk/effects/shine_reduction_run.h"

// The eighth-scale skin mask (run.skinMask8): each face's skin samples by colour (their means
// are stored in the face's list entry), grown, cut to the large regions near faces, holes
// filled and grown back. 0; -3; -4 an empty mask; -8 a format the mask does not read.
int buildEighthScaleRegionMap(ShineRun &run);

// The quarter-scale shine map (run.shineMap4): skin of the mask brighter than its face's own
// bright level, read from the eighth-scale luma. 0; -3; -4 an empty map.
int buildQuarterScaleShineMap(ShineRun &run, const EngineImage &luma8);

// Turns the shine map into a smooth weight map scaled by the strength, with the eyes and the
// mouth of every face cleared. 0; -3; -4 an empty map.
int buildShineWeightMap(ShineRun &run, int32_t strength);

// The strength table: i x floor(S x 4096 / 340) / 4096, rounded.
uint8_t shineStrengthWeight(int32_t strength, int32_t i);
