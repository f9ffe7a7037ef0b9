// Model blobs: the grey artwork compiled into the engine, packed with LZW.
//
// Divisions: the blob and record layouts; the growable byte array; the LZW decoder; reading an
// unpacked record into images and mirroring masks; the catalogue; the records an engine keeps.
// The matching packer is in lzw_pack.h.
//
// The blob layout and its codes are described with the packer (lzw_pack.h). An unpacked
// record is {u32 width, u32 height, u32 hasImage, u32 hasMask, picture bytes, mask bytes},
// each image width x height bytes without padding.
#pragma once

#include <cstddef>
#include <cstdint>

#include "facesdk/base/allocator.h"
#include "facesdk/engine/image.h"
#include "facesdk/engine/lzw_pack.h"

struct InnerEngine;

// ---- Layouts --------------------------------------------------------------------------------

// A constant descriptor of one packed blob.
struct ModelBlob {
    uint64_t size;        // packed length in bytes; informational, never read
    const uint8_t *blob;  // the packed blob
};

// ---- Growable byte array --------------------------------------------------------------------

// The header just before the first element of a ByteArray; header and elements are one block.
struct ByteArrayHeader {
    uint32_t elementSize;  // bytes per element
    uint32_t capacity;     // elements
};
static_assert(sizeof(ByteArrayHeader) == 8, "the header precedes the elements");

inline ByteArrayHeader *byteArrayHeader(uint8_t *array)
{
    return reinterpret_cast<ByteArrayHeader *>(array - sizeof(ByteArrayHeader));
}
inline uint32_t byteArrayCapacity(const uint8_t *array)
{
    return reinterpret_cast<const ByteArrayHeader *>(array - sizeof(ByteArrayHeader))->capacity;
}

// A zeroed array of capacity elements; null when it cannot be allocated or sized.
uint8_t *byteArrayCreate(EngineAllocator *allocator, uint32_t elementSize, uint32_t capacity);
// A new block for newCapacity elements holding the old header and min(new, old) elements, the
// rest zeroed; the old block is freed. Null (and the old block kept) when it cannot be had.
uint8_t *byteArrayResize(EngineAllocator *allocator, uint8_t *array, uint32_t newCapacity);
// Frees the whole block; null is ignored.
void byteArrayFree(EngineAllocator *allocator, uint8_t *array);

// ---- Decoder --------------------------------------------------------------------------------

// Decodes the code stream at `codes` (blob + 8; its byte count is the u32 just before it) into
// a ByteArray of bytes whose capacity is the number of bytes produced. Null for an empty stream,
// a code beyond the next free code, a width above 16 bits, a stream without an end code, or a
// failed allocation; nothing is left allocated then. The caller frees the array.
uint8_t *lzwUnpack(EngineAllocator *allocator, const uint8_t *codes);

// As lzwUnpack, for a whole blob of blobLength bytes: the byte count in the header must fit in
// what follows it. Null otherwise.
uint8_t *unpackModelBlob(EngineAllocator *allocator, const uint8_t *blob, size_t blobLength);

// ---- Records into images --------------------------------------------------------------------

// Fills grey images from an unpacked record of recordLength bytes (picture and mask are each
// optional). An output that already holds a valid image is left as it is; one that is filled
// gets a copy. 97 for a null record or when nothing was filled; -4 for a record shorter than
// its header says; -3 when an image cannot be allocated.
int loadTemplateImages(InnerEngine *inner, const uint8_t *record, uint32_t recordLength,
                       EngineImage *picture, EngineImage *mask);

// Reverses every row of a grey image in place. -6 when the image is not a valid grey image.
int mirrorGreyRows(EngineImage *image);

// ---- Catalogue ------------------------------------------------------------------------------

enum ModelBlobGroup : int {
    kBlobsOverlay = 0,    // stage 0x80: 5 pictures with masks
    kBlobsFaceMask = 1,   // stage 0x8000: one 150 x 100 mask
    kBlobsEyePairs = 2,   // stage 0x200: 12 masks of 415 x 310 (two sets of six)
    kBlobsEyeDark = 3,    // stage 0x1000: 6 masks of 415 x 310
    kBlobsEyeLayers = 4,  // stage 0x400: 12 masks of 150 x 102 (four styles of three)
};
constexpr int kModelBlobGroups = 5;
constexpr int kModelBlobEntries = 5 + 1 + 12 + 6 + 12;  // of all groups together

// Entries of a group; 0 for an unknown group.
int modelBlobCount(int group);
// Entry `index` of a group; null for an unknown group or index.
const ModelBlob *modelBlobEntry(int group, int index);

// ---- Records an engine keeps ----------------------------------------------------------------

// The unpacked record (a ByteArray, as lzwUnpack makes it) of entry `index` of a group: unpacked
// through the engine's allocator at its first use and kept by the engine until it is released,
// so that runs do not decode the same artwork again. Callers only read it, on the thread of the
// engine's operation. Null for an unknown entry or when it cannot be unpacked; nothing is kept
// then, and a later call tries again.
const uint8_t *engineBlobRecord(InnerEngine *inner, int group, int index);
// Frees the records the engine keeps.
void releaseEngineBlobRecords(InnerEngine *inner);
