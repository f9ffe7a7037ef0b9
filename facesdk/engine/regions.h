// Connected regions of one byte value in grey masks: labelling, the region list, the size
// filter, painting back, hole filling and square dilation.
//
// Divisions: the records; labelling and the list; filters and painting; dilation; the internal
// steps of the labelling (exposed so that their parts can be tested on their own).
//
// Every buffer comes from the EngineAllocator passed in (the labeller's, or the engine's for
// the hole filling). Masks are grey images: one byte a pixel, rows at the image's stride.
#pragma once

#include <cstdint>

#include "facesdk/base/allocator.h"
#include "facesdk/engine/image.h"

struct FaceListEntry;
struct InnerEngine;

// ---- Records --------------------------------------------------------------------------------

// What the caller fills before labelling.
struct RegionLabeller {
    const EngineImage *image;    // grey image to scan (plane 0, one byte a pixel)
    int32_t x0, y0, x1, y1;      // box to scan, inclusive corners, inside the image
    int32_t value;               // byte value whose pixels form regions
    EngineAllocator *allocator;  // every buffer and region comes from here
};

// Bytes of a region's box map.
enum RegionMapByte : uint8_t {
    kMapOther = 0,      // a pixel without the value that does not touch the region
    kMapForeign = 1,    // a pixel with the value that belongs to another region
    kMapBorder = 2,     // a pixel without the value among the 8 neighbours of a region pixel
    kMapRegion = 3,     // a pixel of this region
};

// One 8-connected region.
struct MaskRegion {
    uint32_t count;              // pixels of the region
    uint32_t faceHits;           // 0 at creation; the smoothing stage's region selection
    int32_t x0, y0, x1, y1;      // bounding box, inclusive, image coordinates
    uint8_t *map;                // box map, (x1-x0+1) x (y1-y0+1) bytes, RegionMapByte values
    int32_t *points;             // count (x, y) pairs in flood-fill order, the seed first
    int32_t seedX, seedY;        // the region's last pixel in raster order
    MaskRegion *next, *prev;     // links of the region list
    MaskRegion *parent;          // during labelling: the region this one was merged into
    int32_t valid;               // 1 in a result list; 0 drops it from later steps
    int32_t kept;                // 1 once keepRegionsAboveSize selected it
    FaceListEntry *bestFace;     // null at creation; the smoothing stage's selection
};

// A circular doubly linked list of regions with a sentinel head that the caller owns. The list
// owns its regions, their maps and their point arrays.
struct RegionList {
    MaskRegion head;  // sentinel: only next and prev are used
};

// Makes the list empty (head linked to itself).
void regionListInit(RegionList *list);
// 1 when the list has no region.
int regionListEmpty(const RegionList *list);

// ---- Labelling and the list -----------------------------------------------------------------

// Appends every 8-connected region of labeller.value inside the box to the (empty) list, in the
// order in which the regions were closed. 0 when a region was found; 97 when none (also for a
// box of no height); -4 when the box is not at least one pixel wide (nothing allocated); -3
// when memory ran out (regions already closed stay in the list for freeRegionList).
int labelConnectedRegions(const RegionLabeller *labeller, RegionList *list);

// Unlinks and frees every region with its map and points; the head is left empty. 97 for a
// null list, else 0.
int freeRegionList(EngineAllocator *allocator, RegionList *list);

// ---- Filters and painting -------------------------------------------------------------------

// Keeps every valid region with more than threshold pixels (kept 1) and drops the others
// (valid 0). 97 when even the largest valid region is not above the threshold (nothing is
// changed then); otherwise 0, also for a null or empty list.
int keepRegionsAboveSize(RegionList *list, uint32_t threshold);

// The valid, unkept region with the greatest count (the first in list order among equals);
// null for a null list or when none qualifies.
MaskRegion *largestUnkeptRegion(RegionList *list);

// Writes value into every mask pixel whose map byte is kMapRegion, for every valid region.
// Answers the number of valid regions.
uint32_t paintRegions(EngineImage *mask, const RegionList *list, uint8_t value);

// Fills with 255 the 0-valued areas of the mask inside rect that do not touch the rect's
// border. Answers the labelling's result (0, 97, -3, -4).
int fillEnclosedMaskRegions(InnerEngine *inner, const EngineRect *rect, EngineImage *mask);

// ---- Dilation -------------------------------------------------------------------------------

// Square dilation: every output pixel is value when a source pixel equal to value lies within
// the (2 radius + 1) square around it, else background. src and dst are width x height planes
// with rows of width bytes; dst may be src. 0; -4 for null planes, sizes below 1 or a negative
// radius; -3 when the work plane cannot be allocated (dst unchanged).
int dilateMaskSquare(EngineAllocator *allocator, const uint8_t *src, int32_t width,
                     int32_t height, uint8_t *dst, int32_t radius, uint8_t value,
                     uint8_t background);

// ---- Internal steps of the labelling --------------------------------------------------------

// Writes 1 into map for every pixel of the box that equals value, else 0. map has
// (x1-x0+1) x (y1-y0+1) bytes.
void matchMapOfBox(const EngineImage *image, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                   int32_t value, uint8_t *map);

// Builds a closed region's map and points by a breadth-first fill from its seed (box and seed
// in image coordinates). 0, or -3 when the map or points cannot be allocated (nothing kept).
int floodFillRegion(EngineAllocator *allocator, const EngineImage *image, int32_t value,
                    MaskRegion *region);

// Unlinks one region and frees it with its map and points.
void freeRegion(EngineAllocator *allocator, MaskRegion *region);
