// Test fixture: a face-detector library with its one entry point; it finds no face.
#include "vizoruv/platform/facelib_abi.h"

extern "C" __attribute__((visibility("default"))) int32_t FdDetectorCreate(void* reserved, const void* configuration,
                                                                          void** detector) {
    if (detector)
        *detector = nullptr;
    return -1;
}
