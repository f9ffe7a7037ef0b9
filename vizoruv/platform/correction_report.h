// CorrectionReport: what a render learnt about the image, handed to the caller of ApplyCorrection and
// kept by the platform for its last render. It crosses the interface, so its layout is fixed
// (404 bytes; bytes not named below are 0).
#pragma once

#include <cstddef>
#include <cstdint>

struct CorrectionReport {
    uint8_t valid;              //   0: set after a render
    uint8_t noiseLevel0;        //   1: noise flag of the engine analysis, level 0
    uint8_t noiseLevel4;        //   2: noise flag, level 4
    uint8_t tintDetected;       //   3: abnormal tint with the first layer's tint method
    uint8_t reserved4[8];
    uint8_t force;              //  12: caller: render even when the set is unchanged; platform: a forced render
    uint8_t backgroundFound;    //  13: background colour found (pipeline)
    uint8_t reserved14[2];
    int32_t backgroundColour;   //  16: red bits 16..23, green 8..15, blue 0..7
    float descriptors[90];      //  20: the profile's descriptors
    float descriptorA;          // 380
    float descriptorB;          // 384
    uint8_t bGreaterThanA;      // 388
    uint8_t reserved389[3];
    int32_t descriptorInt;      // 392
    uint8_t descriptorFlagIsOne;// 396
    uint8_t callerByte;         // 397: the caller's; never changed by the platform
    uint8_t reserved398[2];
    int32_t callerInt;          // 400: the caller's; never changed by the platform
};

static_assert(sizeof(CorrectionReport) == 404, "CorrectionReport is 404 bytes");
static_assert(offsetof(CorrectionReport, force) == 12 && offsetof(CorrectionReport, backgroundColour) == 16 &&
                  offsetof(CorrectionReport, descriptors) == 20 && offsetof(CorrectionReport, descriptorA) == 380 &&
                  offsetof(CorrectionReport, bGreaterThanA) == 388 && offsetof(CorrectionReport, descriptorInt) == 392 &&
                  offsetof(CorrectionReport, descriptorFlagIsOne) == 396 &&
                  offsetof(CorrectionReport, callerByte) == 397 && offsetof(CorrectionReport, callerInt) == 400,
              "CorrectionReport layout");

// Clears the report except the caller's two fields (byte 397, int 400).
void clearReportKeepingCallerFields(CorrectionReport* report);
