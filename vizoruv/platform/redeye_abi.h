/* The red-eye library as the platform sees it: its file name, its image record, its region list and
 * one pointer type per entry point.
 *
 * Divisions: file name and codes; image record; region list; entry points.
 */
#pragma once

#include <cstddef>
#include <cstdint>

/* ---- File name and codes ---- */
#define RE_LIBRARY_FILE "redeye.dll"

enum : int32_t {
    RE_OK = 0,            /* done; for detection: at least one region found */
    RE_NONE_FOUND = 1,    /* detection ran and found nothing (nothing was corrected) */
    RE_ERR_ARGUMENT = -1, /* a null or malformed record */
    RE_ERR_FORMAT = -2,   /* a pixel code the library does not take */
    RE_ERR_MEMORY = -3,
};

/* Pixel codes of the image record. */
enum RePixelCode : int32_t {
    RE_PIXEL_BGR8 = 2,
    RE_PIXEL_BGRA8 = 3,
    RE_PIXEL_RGB8 = 5,
    RE_PIXEL_RGB16 = 7,
    RE_PIXEL_BGR16 = 15,
    RE_PIXEL_RGBA8 = 21,
    RE_PIXEL_RGBA16 = 22,
};

/* Detection passes of ReDetectAutoEx's flags; RE_DETECT_ALL is what the platform asks. */
enum : uint32_t {
    RE_DETECT_REDNESS = 0x1000000,  /* strongly red, bright-enough pixels */
    RE_DETECT_SHAPE = 0x2000000,    /* keep compact, round blobs only */
    RE_DETECT_ISOLATED = 0x4000000, /* drop blobs inside larger red areas */
    RE_DETECT_ALL = 0x7000000,
};

/* ---- Image record (96 bytes) ---- */
struct ReImage {
    int32_t size;          /*  0: 96 */
    int32_t width;         /*  4: pixels */
    int32_t height;        /*  8: pixels */
    int32_t format;        /* 12: RePixelCode */
    int32_t rowBytes;      /* 16 */
    int32_t reserved20;
    void* pixels;          /* 24 */
    uint8_t reserved32[40];
    int32_t targetWidth;   /* 72: detection answers regions in a picture of this size (0 = own size) */
    int32_t targetHeight;  /* 76 */
    uint8_t reserved80[16];
};

/* Second argument of ReDetectAutoEx: the full-size picture beside the one scanned. */
struct ReRequest {
    int32_t size;          /* 16 */
    int32_t reserved4;
    const ReImage* full;   /* may be null */
};

/* ---- Region list ---- */
/* A list is a head link owned by the caller; empty, it points to itself both ways. The library
 * allocates the regions behind it and frees them in ReListEmpty. */
struct ReListLink {
    ReListLink* next;
    ReListLink* prev;
};

struct ReRegion {
    ReListLink link;       /* first: a region is reached through its link */
    int32_t x, y;          /* eye area, in pixels of the target picture */
    int32_t width, height;
    int32_t confidence;    /* 0..100 */
};

static inline void reListInit(ReListLink* head) {
    head->next = head->prev = head;
}

/* ---- Entry points ---- */
typedef int32_t (*PFN_ReCorrectAuto)(const ReImage* image, uint32_t flags);
typedef int32_t (*PFN_ReDetectAutoEx)(const ReImage* scanned, const ReRequest* request, void* reserved1,
                                      void* reserved2, void* reserved3, uint32_t flags, ReListLink* list);
typedef int32_t (*PFN_ReCorrectRegions)(const ReImage* image, const ReListLink* list, void* reserved1,
                                        void* reserved2, void* reserved3);
typedef const ReRegion* (*PFN_ReListNext)(const ReListLink* list, const ReRegion* previous);
typedef int32_t (*PFN_ReListInsert)(ReListLink* list, const ReRegion* region);
typedef void (*PFN_ReListEmpty)(ReListLink* list);

#define RE_ENTRY_POINTS(X) \
    X(ReCorrectAuto) X(ReDetectAutoEx) X(ReCorrectRegions) X(ReListNext) X(ReListInsert) X(ReListEmpty)

static_assert(sizeof(ReImage) == 96, "red-eye image record");
static_assert(offsetof(ReImage, pixels) == 24 && offsetof(ReImage, targetWidth) == 72 &&
                  offsetof(ReImage, targetHeight) == 76, "red-eye image record");
static_assert(sizeof(ReRequest) == 16, "red-eye request");
