// Skin colour: the generic skin test in the Y Cb Cr plane with its chroma radius, the per-face
// colour model (means, covariance, principal axes and percentile limits) and the fixed-point
// 3 x 3 symmetric eigen-solver behind it.
//
// Divisions: the records; the generic test and the chroma radius; the per-face model; the
// eigen-solver; the face list's area.
//
// Colours are the bytes Y, U (Cb), V (Cr) of the small working copy (the run's detection image)
// or of the run image. Values said to be x 128 are carried in 1/128 units.
#pragma once

#include <cstdint>

#include "facesdk/engine/image.h"

struct FaceListEntry;
struct InnerEngine;

// ---- Records --------------------------------------------------------------------------------

// The two chroma lines of the generic test for a chroma radius m (at most 25).
struct SkinChromaLines {
    int32_t a;  // 30972 m
    int32_t b;  // 46747 m - 2213826
};

// A face's colour model as fitSkinModel makes it.
struct SkinModel {
    int32_t mean[3];           // mean Y, U, V, x 128
    int32_t covariance[3][3];  // symmetric, order Y U V, x 128
    int32_t eigenvalues[3];    // ascending, in the covariance's units
    int32_t axes[3][3];        // column k: unit eigenvector of eigenvalue k, rows Y U V, x 128
};

constexpr int32_t kInitialChromaRadius = 15;
constexpr int32_t kMaxChromaRadius = 25;

// ---- Generic test and chroma radius ---------------------------------------------------------

SkinChromaLines skinChromaLines(int32_t chromaRadius);

// The engine's chroma radius (kept across runs) and its lines.
int32_t chromaRadius(const InnerEngine *inner);
void setChromaRadius(InnerEngine *inner, int32_t radius);

// True unless the colour lies below either chroma line, is blue (V > 168 and U in 104..152),
// is darker than 40, has U below 90, or, with the grey test, is near grey (U and V in 119..137).
bool genericSkinTest(const SkinChromaLines &lines, int32_t y, int32_t u, int32_t v,
                     bool withGreyTest);

// The chroma radius from how colourful the small working copy is: over every 16th pixel of the
// whole copy (entry null) or every 2nd pixel of the entry's smallBox, the root mean square
// chroma distance r from grey gives m' = min(25, (53 r + 345) / 100). Without an entry the
// engine's radius becomes m' (21 when nothing was sampled); with one, m' goes to *radiusOut
// (11 when nothing was sampled) and the engine is unchanged. radiusOut may be null.
// 0; -4 when the small working copy is missing or empty; -6 for a format without chroma
// layout here.
int measureChromaRadius(InnerEngine *inner, const FaceListEntry *entry, int32_t *radiusOut);

// ---- Per-face model -------------------------------------------------------------------------

// Fits the model to a box (x, y, w, h even, at least 2 x 2) of the small working copy.
// 0; -4 for a missing copy or a box outside it; -6 for a format without a layout here.
// Formats: packed 4:2:2 (both orders), planar 4:4:4, 4:2:2 and 4:2:0, semi-planar 4:2:0.
int fitSkinModel(InnerEngine *inner, const EngineRect *box, SkinModel *model);

// The limit of the distance along axis k (0..2) under which the run's share of the box's own
// pixels lies (about 97.5 %, 92.5 % or 90 % by the run's skin-amount class 0, 1, 2).
// 0; -3 (no memory for the projections); -4 and -6 as fitSkinModel.
int skinModelThreshold(InnerEngine *inner, const EngineRect *box, const SkinModel *model,
                       int axis, int32_t *limit);

// True when the colour's distances from the mean along axes k1 and k2 are within l1 and l2.
bool skinModelMember(const SkinModel *model, int32_t y, int32_t u, int32_t v, int k1, int32_t l1,
                     int k2, int32_t l2);

// ---- Eigen-solver ---------------------------------------------------------------------------

// Eigenvalues (ascending) and unit eigenvectors (as columns) of a symmetric 3 x 3 matrix whose
// values carry s fractional bits, by Householder reduction to tridiagonal form and QL with
// implicit shifts, in fixed point.
void symmetricEigen3(const int64_t matrix[3][3], int s, int64_t eigenvalues[3],
                     int64_t vectors[3][3]);

// The two steps: v holds the matrix on entry and the vectors on exit, d the diagonal and e the
// off-diagonal (then the eigenvalues, unsorted from the first step, sorted from the second).
void householderTridiagonal(int64_t v[3][3], int64_t d[3], int64_t e[3], int s);
void tridiagonalQL(int64_t v[3][3], int64_t d[3], int64_t e[3], int s);

// sqrt(a^2 + b^2) with s fractional bits, without squaring the whole values; 1 for (0, 0) so
// that callers can divide by it.
int64_t hypot64(int64_t a, int64_t b, int s);

// ---- Face list ------------------------------------------------------------------------------

// Sum of w x h of the smallBox of every entry of the run's face list.
int32_t faceListTotalArea(const InnerEngine *inner);
