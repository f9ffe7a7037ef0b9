// Shine reduction, the stage of feature bit 0x20: each face's skin is found by colour on an
// eighth-scale mask, skin brighter than its own bright level is marked on a quarter-scale map,
// the marks become a smooth weight map scaled by the strength (eyes and mouth cleared), and the
// marked pixels are darkened toward a smoothed, compressed luma while their chroma moves halfway
// toward the face's mean skin colour.
#pragma once

#include <cstdint>

struct InnerEngine;
struct FaceWork;

// The stage. 0 done; 97 no face with both eye boxes, or a face whose skin was not found; -3
// memory; -4 an empty map or area; -6 a format without a blender; -8 a format the skin mask
// does not read.
int applyShineReduction(InnerEngine *inner, FaceWork *faces, int32_t count);

// ---- Parts exposed for tests ----------------------------------------------------------------
// The shine map, with its strength table, has a file of its own: shine_reduction_map.h.

// The fixed curves: the gain of blurred shine, the luma compression for faces whose brightest
// skin is below 184 and 184..224, and the Cr S-curves below 200 and 200..224.
enum class ShineCurve { Gain, LumaLow, LumaHigh, CrLow, CrHigh };
const uint8_t *shineCurve(ShineCurve which);

// Blend of one pixel: luma moves only down toward p; chroma moves halfway toward the target.
uint8_t shineBlendLuma(int32_t c, int32_t p, int32_t w);
uint8_t shineBlendChroma(int32_t c, int32_t p, int32_t t, int32_t w);
