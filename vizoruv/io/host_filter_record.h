// The filter record of a plug-in host, and the platform's side of the exchange with it: pixel
// memory from the host's buffer procedures, fetching the host's input, writing the result back
// (through the host's selection mask when there is one), the 16-bit range conversions, the view of
// a host-sized buffer, the 24-bit copy of host samples, the preview size and the display copy drawn
// by the host.
//
// The record belongs to the host, which keeps it valid during each call. It is laid out as a 64-bit
// host lays it out, fields packed on 4-byte boundaries (so 8-byte pointers may stand off their
// natural alignment); only the fields named here are read or written, the rest is the host's. The
// areas are reached through the accessors of vizoruv/io/host_rects.h, which switch to the 32-bit
// areas of the large-document extension when it is in use.
//
// The host's buffers interleave planes 0, 1, 2 (red, green, blue), three samples per pixel: bytes at
// depth 8, little-endian 16-bit values from 0 to 32768 at depth 16, 32-bit floats from 0 to 1 at
// depth 32. Inside the platform 16-bit samples run from 0 to 65535.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "sys/wic/wic.h"
#include "vizoruv/io/host_rects.h"
#include "vizoruv/io/host_display.h"
#include "vizoruv/io/image_buffer.h"
#include "vizoruv/platform/image_view.h"

#pragma pack(push, 4)

// The host's buffer procedures (the table is the host's).
struct HostBufferProcs {
    uint8_t reserved0[8];
    int16_t (*allocate)(int32_t size, uint64_t* bufferId);        // size in bytes; 0 on success
    void* (*lock)(uint64_t bufferId, uint8_t moveHigh);           // address of the buffer's bytes
    void (*unlock)(uint64_t bufferId);
    void (*free)(uint64_t bufferId);
};

// The large-document extension (the host's): 32-bit areas in place of the record's 16-bit ones.
struct HostLargeDocument {
    int32_t wideCoordinates;       // non-zero: the 32-bit areas below are in use
    uint8_t reserved4[8];
    int32_t filterArea[4];         // top, left, bottom, right
    int32_t inArea[4];
    int32_t outArea[4];
    int32_t maskArea[4];
};

struct HostFilterRecord {
    uint8_t reserved0[12];
    void (*progress)(int32_t done, int32_t total);
    uint8_t reserved20[14];
    int16_t filterArea[4];         // top, left, bottom, right; bottom and right lie just outside
    uint8_t reserved42[22];
    int16_t inArea[4];             // written before each advance-state call
    int16_t inLoPlane;             // first input plane
    int16_t inHiPlane;             // last input plane
    int16_t outArea[4];
    int16_t outLoPlane;
    int16_t outHiPlane;
    uint8_t* inData;               // the host's input pixels, after advance-state
    int32_t inRowBytes;
    uint8_t* outData;              // where the result goes, after advance-state
    int32_t outRowBytes;
    uint8_t reserved112[4];
    int16_t maskArea[4];
    const uint8_t* maskData;       // one byte per pixel, 0 to 255; null without a selection mask
    int32_t maskRowBytes;
    uint8_t reserved136[88];
    HostBufferProcs* bufferProcs;
    uint8_t reserved232[16];
    HostDisplayRoutine displayPixels;
    uint8_t reserved256[24];
    int16_t (*advanceState)();     // fills input, output and mask data for the areas set; 0 on success
    uint8_t reserved288[24];
    int32_t inputRate;             // 16.16 fixed point, 0x10000 is 1.0
    int32_t maskRate;              // 16.16 fixed point
    uint8_t reserved320[160];
    int32_t depth;                 // 8, 16 or 32 bits per sample
    uint8_t reserved484[20];
    HostLargeDocument* largeDocument;  // or null
};

#pragma pack(pop)

static_assert(sizeof(HostBufferProcs) == 40);
static_assert(offsetof(HostBufferProcs, allocate) == 8 && offsetof(HostBufferProcs, lock) == 16);
static_assert(offsetof(HostBufferProcs, unlock) == 24 && offsetof(HostBufferProcs, free) == 32);
static_assert(sizeof(HostLargeDocument) == 76);
static_assert(offsetof(HostLargeDocument, filterArea) == kExtensionFilterAreaOffset);
static_assert(offsetof(HostLargeDocument, inArea) == kExtensionInAreaOffset);
static_assert(offsetof(HostLargeDocument, outArea) == kExtensionOutAreaOffset);
static_assert(offsetof(HostLargeDocument, maskArea) == kExtensionMaskAreaOffset);
static_assert(offsetof(HostFilterRecord, progress) == 12);
static_assert(offsetof(HostFilterRecord, filterArea) == kHostFilterAreaOffset);
static_assert(offsetof(HostFilterRecord, inArea) == kHostInAreaOffset);
static_assert(offsetof(HostFilterRecord, inLoPlane) == 72 && offsetof(HostFilterRecord, inHiPlane) == 74);
static_assert(offsetof(HostFilterRecord, outArea) == kHostOutAreaOffset);
static_assert(offsetof(HostFilterRecord, outLoPlane) == 84 && offsetof(HostFilterRecord, outHiPlane) == 86);
static_assert(offsetof(HostFilterRecord, inData) == 88 && offsetof(HostFilterRecord, inRowBytes) == 96);
static_assert(offsetof(HostFilterRecord, outData) == 100 && offsetof(HostFilterRecord, outRowBytes) == 108);
static_assert(offsetof(HostFilterRecord, maskArea) == kHostMaskAreaOffset);
static_assert(offsetof(HostFilterRecord, maskData) == 124 && offsetof(HostFilterRecord, maskRowBytes) == 132);
static_assert(offsetof(HostFilterRecord, bufferProcs) == 224);
static_assert(offsetof(HostFilterRecord, displayPixels) == 248);
static_assert(offsetof(HostFilterRecord, advanceState) == 280);
static_assert(offsetof(HostFilterRecord, inputRate) == 312 && offsetof(HostFilterRecord, maskRate) == 316);
static_assert(offsetof(HostFilterRecord, depth) == 480);
static_assert(offsetof(HostFilterRecord, largeDocument) == kHostExtensionOffset);
static_assert(sizeof(HostFilterRecord) == 512);

constexpr int32_t kHostRateOne = 0x10000;  // 1.0 in 16.16
constexpr int32_t kHostMax16 = 32768;      // white of a host's 16-bit sample

// ---- pixel memory from the host ----

// Allocates `length` bytes through the host and locks the new id (move-high 1). Answers the address
// and stores the id, or null (nothing kept: an id whose lock fails is freed again) when the record
// has no buffer procedures, the length is not positive or the host refuses.
uint8_t* hostAllocateBlock(const HostFilterRecord* record, int64_t length, uint64_t* bufferId);

// Unlocks and frees a block of the host; nothing for id 0.
void hostFreeBlock(const HostFilterRecord* record, uint64_t bufferId);

// The buffer takes a fresh host block of `length` bytes (pixels, size and host id; its own block of
// either kind is released first). False, buffer empty, when the host gives none.
bool allocateHostBufferPixels(const HostFilterRecord* record, ImageBuffer* buffer, int64_t length);

// Unlocks and frees the buffer's host block and clears id, pixels and size; the geometry stays.
// Nothing without a record or a host id.
void freeHostBufferPixels(const HostFilterRecord* record, ImageBuffer* buffer);

// ---- reading the host's image and writing the result ----

// Bytes per sample at a depth: 4 at 32, 2 at 16, 1 otherwise.
int hostBytesPerSample(int32_t depth);

// Gives the buffer the filter area's size at the host's depth (W x H pixels of 3 samples, rows
// packed), allocated through the host. Bits and channels stay as the buffer has them. False (and
// nothing allocated) without a record, with an empty area, a size beyond 2 GB or a refusing host.
bool allocHostSizedBuffer(const HostFilterRecord* record, ImageBuffer* buffer);

// Asks the host for its input over the filter area (planes 0 to 2, rates 1.0) and copies it into
// the buffer, rows packed. False, nothing copied, without a record, without pixels, when
// advance-state fails or the input does not fit the buffer.
bool readHostInput(HostFilterRecord* record, ImageBuffer* buffer);

// Fetches the host's input over the filter area (for opening: the rates are 1 instead of 1.0 when
// the large-document extension is in use, and its output planes are then left alone) and copies it
// into `bitmap` as a 24-bit B, G, R image of the filter area's size. False with an empty area, when
// the bitmap cannot be made or advance-state fails.
bool fetchHostImage(HostFilterRecord* record, wic::Bitmap* bitmap);

// Opening a host image: fills the full-size source `full` from the fetched 24-bit image and
// `preview` from its copy scaled (high-quality bicubic) to hostPreviewSize: 8 bits, 3 channels
// B, G, R, rows rowStride(width, 24) apart, blocks from the host. A buffer whose block the host
// refuses stays without pixels (its geometry is set all the same).
void fillHostSourceBuffers(const HostFilterRecord* record, const wic::Bitmap& image, int32_t previewSize,
                           ImageBuffer* full, ImageBuffer* preview);

// Writes a rendered host-sized buffer back: asks the host for its output (and input and mask), then
// copies the result into the output data, or with a selection mask blends it over the input pixel
// by pixel (mask 0 keeps the host's output pixel; at depth 32 nothing is blended). 16-bit results
// go back to the host's range. False, host output untouched, when advance-state fails or the
// output area does not fit the buffer.
bool writeHostResult(HostFilterRecord* record, const ImageBuffer& result);

// ---- conversions and geometry ----

// The 24-bit copy of host samples: each pixel of `source` (3 samples at `depth`, rows
// `sourceRowBytes` apart) becomes B, G, R bytes in the Bgr24 bitmap (which has the size to fill).
// Depth 16: floor(2v / 257); depth 32: clamped to 0..1, times 255, truncated; other depths copy
// nothing.
void copyHostSamplesToBgr24(int32_t depth, const uint8_t* source, int32_t sourceRowBytes, wic::Bitmap* bitmap);

// 16-bit host samples to the platform's range in place: 32768 becomes 65535, any other v becomes
// 2v (kept to 16 bits). Only with a record of depth 16.
void hostToFull16(const HostFilterRecord* record, uint8_t* pixels, int32_t width, int32_t height, int32_t rowBytes);

// The host's output data back to its own range in place: 65535 becomes 32768, any other v
// becomes v / 2. Only with a record of depth 16 and output data.
void fullToHost16(HostFilterRecord* record);

// The view of a buffer: with a record, the host's depth and packed rows (format 1 at depth 16);
// without, the buffer's own bits and rows. Alpha and host flags are left 0.
ImageView bufferGeometry(const HostFilterRecord* record, const ImageBuffer& buffer);

// The preview size for a host image of width x height and a longest side of previewSize.
void hostPreviewSize(int32_t previewSize, int32_t width, int32_t height, int32_t* previewWidth,
                     int32_t* previewHeight);

// Fills `target` with the display copy of a 24-bit B, G, R source drawn by the host's display
// routine (convertForDisplayInHost). A target without pixels gets the copy's geometry (3 channels,
// rows of the copy) and a block allocated through the host; a target with pixels must have the
// copy's size. False when the record has no display routine, the copy cannot be made, or the
// target cannot take it.
bool makeHostDisplayCopy(const HostFilterRecord* record, const ImageBuffer& source, std::mutex& displayLock,
                         DibTileHolder* holder, ImageBuffer* target);
