// The face-detector library's one export: FdDetectorCreate, the face detector's create function
// under the name the platform looks up. The detector it hands out carries its own table of
// operations as its first field, so the caller needs no other export.
#include "facesdk/detect/detector.h"
#include "vizoruv/platform/facelib_abi.h"

#include <new>
#include <type_traits>

#define FD_CHECK_SIGNATURE(name) \
    static_assert(std::is_same<decltype(&name), PFN_##name>::value, #name " does not match its pointer type");

// The first argument is the allocator the detector takes its memory from; null means the
// process-wide default allocator. The configuration is a DetectorConfig; the answers are those
// of faceDetectorCreate (0, or 1 with kDetectorFlagAnswerOne, else a negative code and a null
// detector).
extern "C" __attribute__((visibility("default"))) int32_t FdDetectorCreate(void* reserved, const void* configuration,
                                                                          void** detector) {
    if (!detector)
        return kResultBadArgument;
    EngineAllocator* allocator = reserved ? static_cast<EngineAllocator*>(reserved) : defaultAllocator();
    FaceDetector* created = nullptr;
    int32_t result;
    try {
        result = faceDetectorCreate(allocator, static_cast<const DetectorConfig*>(configuration), &created);
    } catch (const std::bad_alloc&) {
        result = kResultNoMemory;
        created = nullptr;
    }
    *detector = created;
    return result;
}

FD_ENTRY_POINTS(FD_CHECK_SIGNATURE)
#undef FD_CHECK_SIGNATURE
