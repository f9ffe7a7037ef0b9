// Warp mesh apply: resamples the run image through the mesh's grid, in place, face by face.
//
// For every face of the current beautify run, the rectangle its warp anchor covers is cut into
// bands of rows (about 4 MiB of pixels each, less twice the warp margin); for each band a
// working copy keeps the source rows it may read (the band plus the warp margin above and
// below, a sliding window over the face's bands), and the band's rows are rewritten from it as
// row bands of the engine's worker pool (row_bands.h). Each destination pixel takes the bilinear sample of luma and the nearest
// chroma sample at the position the grid gives for it.
//
// Positions between nodes are interpolated exactly within each cell (the fraction of the cell
// in units of the cell size, stepped along a row in 16.16), so a grid at its rest positions
// reproduces the image bit for bit.
#pragma once

#include <cstdint>

#include "facesdk/engine/image.h"
#include "facesdk/engine/warp_mesh.h"

struct InnerEngine;

// One job's share of a band: a 56-byte record.
struct WarpRowJob {
    int32_t firstRow;     // image row
    int32_t endRow;       // exclusive
    WarpMesh *mesh;
    EngineImage *copy;    // the mesh's working copy (origin in the mesh)
    EngineImage *image;   // written
    int32_t firstColumn;
    int32_t endColumn;    // exclusive
    int32_t index;        // the job's number within the band
    int32_t reserved1;    // passed on from apply, not read
    int32_t reserved2;
};
static_assert(sizeof(WarpRowJob) == 56, "the pool copies 56 bytes per band job");

// Slot 6. 0; -4 for a null mesh, image or second image (the second is not otherwise used), for
// an image whose size gives no grid, or for a format without a warp (0x20000001, 0x20000002,
// 0x20200001, 0x30100001 and 0x30200001 have one); -3, -4 or -6 from making the working copy.
// A failure ends the call at once; faces and bands already done stay warped.
int warpMeshApply(InnerEngine *inner, WarpMesh *mesh, EngineImage *image, EngineImage *second,
                  int32_t reserved1, int32_t reserved2);

// Prepares the working copy for the band and rewrites the band's rows, its jobs shared out as
// row bands. 0, the working copy's error, or -4 for a format without a warp.
int warpBand(InnerEngine *inner, WarpMesh *mesh, EngineImage *image, const EngineRect *band,
             int32_t reserved1, int32_t reserved2);

// Rows of a band for a rectangle `width` pixels wide: about 4 MiB of pixel data less twice the
// warp margin, even, at least 10.
int32_t warpBandHeight(PixelFormat format, int32_t width, int32_t warpMargin);

// How the rows y .. y + height - 1 of a band are shared out: the number of jobs (4 quarters,
// or jobs of 75 rows for 0x30100001; 0 for a format without a warp) and the rows of job k.
// Every job of a 4:2:0 band starts at an even distance from y.
int32_t warpBandJobCount(PixelFormat format, int32_t height);
void warpBandJobRows(PixelFormat format, int32_t y, int32_t height, int32_t job, int32_t *first,
                     int32_t *end);

// The row worker: rewrites the job's rows and columns of the image from the working copy.
// 0, or -4 for a format without a warp.
int warpRows(void *job);
