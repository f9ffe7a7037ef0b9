// Eye template meshes: a grey eye mask drawn once around six fixed eye points, triangulated
// together with its border, and the same vertices placed on a face from its eye landmarks so
// that the mask can be painted onto the eye (template_paint.h).
//
// Divisions: the mesh record; the template-side builders; the face-side placement; the
// arc-length curve resampler and the angle routine they use; release.
//
// Point numbering in a 250-point buffer: 12..17 the first eye (corners 15 and 12, 16 and 17 on
// the upper lid, 14 and 13 on the lower), 18..23 the second (corners 18 and 21, 19 and 20
// upper, 23 and 22 lower); 100..111 and 150..161 resampled lid curves; 106..128 and 156..178
// border points. Large layouts (415 x 310 masks) serve stages 0x200 and 0x1000, small layouts
// (150 x 102) stage 0x400.
#pragma once

#include <cstdint>

#include "facesdk/engine/face_records.h"
#include "facesdk/engine/image.h"

struct InnerEngine;

// ---- Mesh record ----------------------------------------------------------------------------

struct TemplateMesh {
    EngineImage picture;     // unused by the eye meshes; stays empty
    EngineImage mask;        // grey template mask
    VXL_POINT *points;       // 250 points, template coordinates
    uint8_t *vertices;       // point indices of the mesh's vertices
    uint8_t vertexCount;     // 0: the mesh is never painted
    int32_t *triangles;      // triples of positions in the vertex list
    uint8_t triangleCount;
};

constexpr int kTemplatePointSlots = 250;

// ---- Template side --------------------------------------------------------------------------
// Each builder zeroes the record first; a mesh whose blob, mask or buffers cannot be had stays
// empty or without vertices.

// Large layouts with the eye-dark masks; the entry is the stored stage-0x1000 level less one,
// kept within 0..5.
void buildEyeMeshLevelA(InnerEngine *inner, TemplateMesh *mesh);
void buildEyeMeshLevelB(InnerEngine *inner, TemplateMesh *mesh);
// Large layouts with the eye-pair masks; entries above 11 are taken as 11.
void buildEyeMeshA(InnerEngine *inner, TemplateMesh *mesh, uint8_t index);
void buildEyeMeshB(InnerEngine *inner, TemplateMesh *mesh, uint8_t index);
// Small layouts with the eye-layer masks; entries from 12 on leave the mesh empty.
void buildEyeMeshSmallA(InnerEngine *inner, TemplateMesh *mesh, uint8_t index);
void buildEyeMeshSmallB(InnerEngine *inner, TemplateMesh *mesh, uint8_t index);

// Frees the picture and mask planes, the points, vertices and triangles; the record is left
// zeroed. 0.
int releaseTemplateMesh(InnerEngine *inner, TemplateMesh *mesh);

// ---- Face side ------------------------------------------------------------------------------

// The border points of both large (A) or both small (B) layouts in a face's point buffer, in
// the eye frame given by corners 15 and 12.
void placeRegionPointsA(InnerEngine *inner, VXL_POINT *points);
void placeRegionPointsB(InnerEngine *inner, VXL_POINT *points);

// Resamples the curve through points i0..i3 of the buffer into 6 (or 3) points stored from
// index `out` of the same buffer.
void resampleCurve6(InnerEngine *inner, VXL_POINT *points, int i0, int i1, int i2, int i3,
                    int out);
void resampleCurve3(InnerEngine *inner, VXL_POINT *points, int i0, int i1, int i2, int i3,
                    int out);

// ---- Curves and angles ----------------------------------------------------------------------

// m points at arc lengths step, 2 step, ... m step (step = length / (m + 1)) along the
// Catmull-Rom curve through the n points (end points doubled). Nothing is written for a curve
// of zero length. 0; -1 when n < 2; -3 when the working array cannot be had (nothing written).
int resamplePolyline(InnerEngine *inner, const VXL_POINT *points, int n, VXL_POINT *out, int m);

// The direction of b - a in whole degrees, -180..180, clockwise positive (rows grow
// downwards). Coinciding points answer 0.
void vectorAngleDegrees(VXL_POINT a, VXL_POINT b, int32_t *angle);
