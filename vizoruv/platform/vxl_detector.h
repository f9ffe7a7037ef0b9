// VXLDetector: the optional colour-model detector a caller hands to OpenImageFile or ProcessFile. The
// platform asks it what it wants (operation 5) and runs it once per analysed image (operation 0);
// what it computes is the caller's.
#pragma once

#include <cstdint>

// What the detector asks for before a run.
struct VxlDetectorRequest {
    int32_t status;  // 1: run me; anything else: do not
    int32_t side;    // side of the image to run on, when resize is set
    int32_t resize;  // non-zero: resize the image first
    int32_t square;  // non-zero: resize to side x side; else the shorter side becomes side
};

// Result of a run; ok at byte 16 is non-zero on success.
struct VxlDetectorResult {
    int32_t reserved[4];
    int32_t ok;
    int32_t reserved20[3];
};

constexpr int kDetectorTableAWords = 54;                     // table A: one record of 54 words
constexpr int kDetectorTableBRecords = 256;                  // table B: 16 x 16 such records
constexpr int kDetectorTableCBytes = 1024;                   // table C

class VXLDetector {
public:
    /* 0 */ virtual const VxlDetectorResult* run(VxlDetectorResult* result, const uint8_t* pixels, int width,
                                                 int height, int rowBytes, bool sixteenBit, bool bgrOrder,
                                                 bool hasAlpha, int32_t* tableA, int32_t* tableB,
                                                 uint8_t* tableC) = 0;
    /* 1 */ virtual void reserved1() {}
    /* 2 */ virtual void reserved2() {}
    /* 3 */ virtual void reserved3() {}
    /* 4 */ virtual void reserved4() {}
    /* 5 */ virtual void request(VxlDetectorRequest* request) = 0;

protected:
    ~VXLDetector() = default;
};
