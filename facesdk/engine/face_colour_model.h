// Face colour model and skin likelihood: the mean and covariance of (Y, Cb, Cr) over a sample
// rectangle, the principal axes of the covariance, and a likelihood byte per pixel from the
// colour's distance to the model.
//
// Divisions: the model record and the default model; the two model operations; their steps
// (statistics, axes, the three likelihood maps, the per-pixel value).
//
// The model reads the inner engine's colour source image (scratch[0]) and writes the likelihood
// image (scratch[1], grey, allocated and zeroed by the calling stage). Nothing is allocated.
#pragma once

#include <cstdint>

#include "facesdk/engine/face_records.h"
#include "facesdk/engine/image.h"

struct InnerEngine;

// ---- Model ----------------------------------------------------------------------------------

struct FaceColourModel {
    int32_t mean[3];           // mean Y, Cb, Cr over the counted samples
    int32_t covariance[3][3];  // symmetric, order Y Cb Cr
    int32_t axes[3][3];        // unit eigenvectors as columns in 1/128, ascending eigenvalues
    int64_t lumaTerm;          // meanY x 4096
    int64_t chromaTerm;        // ((meanCb - 128)^2 + (meanCr - 128)^2) x 4096
};

// The model used when no face is given.
extern const FaceColourModel kDefaultFaceColourModel;

// The likelihood ramp: 1 up to 29, rising smoothly to 255 from 246 on.
extern const uint8_t kLikelihoodRamp[256];

// Index of the colour source and likelihood images among the inner engine's scratch images.
constexpr int kColourSourceScratch = 0;
constexpr int kLikelihoodScratch = 1;

// ---- Operations -----------------------------------------------------------------------------

// Learns the model from the central part of the face's box (working coordinates) in the colour
// source image, or takes the default model without a face, and fills the likelihood image.
// The int argument is not read. 0; 97 when no sample passes the filter or every sample is at
// distance 0; -6 for a source format without a layout here; -4 for missing images.
int faceColourLikelihood(InnerEngine *inner, const FaceWork *face, int32_t unused,
                         int64_t *lumaTerm, int64_t *chromaTerm);

// The same with the whole colour source as the sample rectangle.
int regionColourLikelihood(InnerEngine *inner, const FaceWork *face, int32_t unused,
                           int64_t *lumaTerm, int64_t *chromaTerm);

// ---- Steps ----------------------------------------------------------------------------------

// Means and covariance of the samples in the rectangle, leaving out blue (Cb >= 169 and Cr in
// 104..152) and near-grey (Cb and Cr both in 119..137) colours.
// Planar 4:4:4, 4:2:2, 4:2:0 and semi-planar 4:2:0: 0, 97 (nothing counted), -8 (format).
int colourStatsPlanar(const EngineImage *source, const EngineRect *rect, int32_t means[3],
                      int32_t covariance[3][3]);
// Packed 4:2:2 (both orders), each pair tested once for both pixels: 0, 97, -4 (format).
int colourStatsPacked422(const EngineImage *source, const EngineRect *rect, int32_t means[3],
                         int32_t covariance[3][3]);

// Eigen-decomposition of covariance x 4096 with 12 fractional bits; the vectors in 1/128 as
// the columns of axes (ascending eigenvalues).
void colourModelAxes(const int32_t covariance[3][3], int64_t eigenvalues[3], int32_t axes[3][3]);

// The likelihood image from a model: semi-planar 4:2:0 (-6 for another format), packed 4:2:2
// (-4 for another format) and planar (-6 for another format). 0; 97 when every source sample
// is at distance 0.
int colourLikelihoodSemiPlanar(InnerEngine *inner, const EngineImage *source,
                               const int32_t means[3], const int32_t axes[3][3],
                               int64_t chromaTerm);
int colourLikelihoodPacked422(InnerEngine *inner, const EngineImage *source,
                              const int32_t means[3], const int32_t axes[3][3],
                              int64_t chromaTerm);
int colourLikelihoodPlanar(InnerEngine *inner, const EngineImage *source, const int32_t means[3],
                           const int32_t axes[3][3], int64_t chromaTerm);

// The likelihood byte of a sample at distance d (< dMax) from the model, weakened below the
// luma threshold b and graded by the chroma triangles (full, half, a quarter). The strong
// variant serves models whose mean lies far from grey.
uint8_t skinLikelihoodValue(int32_t d, int32_t dMax, int32_t b, int32_t y, int32_t cb,
                            int32_t cr);
uint8_t skinLikelihoodValueStrong(int32_t d, int32_t dMax, int32_t b, int32_t y, int32_t cb,
                                  int32_t cr);
