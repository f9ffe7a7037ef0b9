// The warp mesh: a displacement grid over an image and the list of regions (items) in which the
// grid may differ from the identity, behind a table of seven operations.
//
// Every grid node holds the source position, in 1/256 pixel, from which the pixel at the node's
// rest position takes its value; pixels between nodes take positions interpolated from the
// nodes around them. With nc columns and nr rows the cells are
//     cellW = ((mesh width - 1) x 256) / (nc - 3),  cellH = ((mesh height - 1) x 256) / (nr - 3)
// (1/256 pixel, unsigned division), node (i, j) rests at ((j - 1) cellW, (i - 1) cellH), so
// columns 1 .. nc - 2 span the mesh and columns 0 and nc - 1 lie one cell outside it; rows alike.
// The grid is built lazily, by the source-rectangle and apply operations, for the size of the
// image they are given: rest positions, the faces of the current beautify run deform it
// (face_narrowing.h), and the outer ring is extrapolated from the interior.
//
// Divisions: records; creation and the item list; grid build; item regions; source positions and
// the source rectangle. Apply lives in warp_apply.h.
#pragma once

#include <cstdint>

#include "facesdk/base/allocator.h"
#include "facesdk/engine/image.h"

struct InnerEngine;
struct WarpMesh;

// ---- Records --------------------------------------------------------------------------------

struct WarpMeshConfig {
    int32_t width;    // pixels of the area the grid covers (the image the mesh is used on)
    int32_t height;   // pixels
    int32_t mode;     // 2: the source rectangle is estimated with cubic interpolation; else bilinear
    int32_t columns;  // node columns, at least kWarpGridMinimumLines
    int32_t rows;     // node rows, at least kWarpGridMinimumLines
};

constexpr int32_t kWarpModeCubic = 2;
constexpr int32_t kWarpGridMinimumLines = 4;  // node columns and rows a mesh needs at least
constexpr int32_t kWarpItemDirectional = 1;

// An item as given to add and update; 96 bytes of which the mesh reads the first 32.
struct WarpItem {
    int32_t type;        // 1: ellipse extended towards its direction; anything else: circle
    int32_t centreX;     // pixels, mesh coordinates
    int32_t centreY;
    int32_t radius;      // pixels
    int32_t directionX;  // pixels; a type-1 region extends towards (directionX, directionY)
    int32_t directionY;
    int32_t valueA;      // kept with the item and handed back by remove
    int32_t valueB;
    int32_t unused[16];
};
static_assert(sizeof(WarpItem) == 96, "items are 96-byte records");

// Ids that select an item by place instead of by id.
constexpr int32_t kWarpFirstItem = -1;
constexpr int32_t kWarpLastItem = -2;

// One item in the mesh's list.
struct WarpItemNode {
    int32_t type, centreX, centreY, radius, directionX, directionY, valueA, valueB;  // as given
    int32_t radiusSquared;   // pixels squared
    int32_t left, right;     // extents from the centre, 1/256 pixel
    int32_t top, bottom;
    int64_t leftTop, rightTop, rightBottom, leftBottom;  // squared limits of the four quadrants
    int32_t id;              // from 1, never reused
    WarpItemNode *next;
    WarpItemNode *previous;
};

struct WarpMeshOps {
    void (*destroy)(WarpMesh *mesh);                                                      // 0
    int (*addItem)(WarpMesh *mesh, const WarpItem *item, int32_t *id);                    // 1
    int (*updateItem)(WarpMesh *mesh, int32_t id, const WarpItem *item);                  // 2
    int (*removeItem)(WarpMesh *mesh, int32_t id, WarpItem *copy);                        // 3
    int (*clearItems)(WarpMesh *mesh);                                                    // 4
    int (*sourceRect)(InnerEngine *inner, WarpMesh *mesh, const int32_t size[2],
                      const EngineRect *destination, EngineRect *source);                // 5
    int (*apply)(InnerEngine *inner, WarpMesh *mesh, EngineImage *image, EngineImage *second,
                 int32_t reserved1, int32_t reserved2);                                   // 6
};

struct WarpMesh {
    const WarpMeshOps *ops;       // table of operations; always the first entry
    EngineAllocator *allocator;   // the record, the planes and the item nodes come from here
    int32_t meshWidth;            // pixels, from the config
    int32_t meshHeight;
    int32_t columns;              // node columns
    int32_t rows;                 // node rows
    int32_t gridValid;            // 1 after a build; 0 at creation and after item changes
    int32_t builtWidth;           // image size the grid was last built for
    int32_t builtHeight;
    int32_t *planeX;              // columns x rows source x, 1/256 pixel, row by row
    int32_t *planeY;              // columns x rows source y
    int32_t inverseCellWidth;     // 2^28 / cell width of the built size (1/256 pixel)
    int32_t inverseCellHeight;
    int32_t cubicT0[256];         // cubic weights, 1/256 (mode != 0)
    int32_t cubicT1[256];
    int32_t cubicT2[256];
    WarpItemNode *items;          // first item, in insertion order
    int32_t mode;                 // from the config
    int32_t nextId;               // id of the next added item, from 1
    EngineImage workingCopy;      // source rows of the band apply works on; empty otherwise
    int32_t workingX;             // image position of the working copy's top-left pixel
    int32_t workingY;
    int32_t cellWidth;            // cell size of the built image size, 1/256 pixel
    int32_t cellHeight;
};

extern const WarpMeshOps kWarpMeshOps;

// ---- Creation and the item list -------------------------------------------------------------

// A new mesh for the config. 0; -4 for a null allocator, config or out pointer, fewer than 4
// columns or rows, a size below 2 pixels, a grid finer than 1/256 pixel per cell, or planes too
// large to allocate; -3 with nothing left allocated.
int warpMeshCreate(EngineAllocator *allocator, const WarpMeshConfig *config, WarpMesh **out);

void warpMeshDestroy(WarpMesh *mesh);
// 0; -4 null mesh or item; -3 (the list unchanged). The new id goes through `id` when given.
int warpMeshAddItem(WarpMesh *mesh, const WarpItem *item, int32_t *id);
// Refills the selected item. 0; 97 for an empty list; -4 null mesh or item.
int warpMeshUpdateItem(WarpMesh *mesh, int32_t id, const WarpItem *item);
// Unlinks and frees the selected item, first copying its first 32 bytes to `copy` when given.
// 0; 97 for an empty list or a null mesh.
int warpMeshRemoveItem(WarpMesh *mesh, int32_t id, WarpItem *copy);
// 0.
int warpMeshClearItems(WarpMesh *mesh);

// ---- Grid build -----------------------------------------------------------------------------

// Builds the grid for an image of the size when the size differs from the built size or the
// grid is not valid. 1 when the grid is valid afterwards; 0 for a size whose cells would be
// empty (the grid is then left invalid).
int warpMeshEnsureGrid(InnerEngine *inner, WarpMesh *mesh, int32_t width, int32_t height);

// ---- Item regions ---------------------------------------------------------------------------

// 1 when some item's region meets the image row segment x0 .. x1 at row y (row test) or the
// image column segment y0 .. y1 at column x (column test); else 0. The grid must be built.
int warpMeshRowHitsItem(const WarpMesh *mesh, int32_t x0, int32_t x1, int32_t y);
int warpMeshColumnHitsItem(const WarpMesh *mesh, int32_t x, int32_t y0, int32_t y1);

// ---- Source positions and the source rectangle ----------------------------------------------

// Source position, in whole pixels, of the destination pixel (x, y) of the built grid, with
// the 8-bit fractions of the inverse cell sizes: bilinear, or Catmull-Rom through the 4 x 4
// nodes around the cell.
void warpMeshSourceBilinear(const WarpMesh *mesh, int32_t x, int32_t y, int32_t *sx, int32_t *sy);
void warpMeshSourceCubic(const WarpMesh *mesh, int32_t x, int32_t y, int32_t *sx, int32_t *sy);

// The part of the source image that a destination rectangle draws from, estimated along the
// rectangle's edges where items lie, widened by a margin and clipped to the image. Always 0.
int warpMeshSourceRect(InnerEngine *inner, WarpMesh *mesh, const int32_t size[2],
                       const EngineRect *destination, EngineRect *source);
