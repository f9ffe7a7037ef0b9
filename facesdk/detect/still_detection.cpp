#include "facesdk/detect/still_detection.h"

#include "facesdk/base/allocator.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/detect/convert.h"
#include "facesdk/detect/detector_object.h"

#include <cstring>

std::vector<DetectedFacePublic> detectStillRgb(const uint8_t* rgb, int width, int height, uint32_t flags,
                                               DetectorFactory create) {
    std::vector<DetectedFacePublic> faces;
    DetectorConfig config;
    std::memset(&config, 0, sizeof config);
    config.size = sizeof config;
    config.flags = flags;
    FaceDetector* detector = nullptr;
    if (create(defaultAllocator(), &config, &detector) != kResultOk || !detector) {
        if (detector)
            detector->methods->destroy(detector);
        return faces;
    }
    DetectorImage picture;
    std::memset(&picture, 0, sizeof picture);
    picture.size = sizeof picture;
    picture.width = width;
    picture.height = height;
    picture.stride = width * 3;
    picture.format = kDetectorRgb;
    picture.pixels = const_cast<uint8_t*>(rgb);  // the detector only reads its image
    try {
        if (detector->methods->detect(detector, &picture, nullptr, nullptr) == kResultOk)
            for (DetectedFace* face = detector->methods->nextFace(detector, nullptr); face;
                 face = detector->methods->nextFace(detector, face))
                faces.push_back(face->report);
    } catch (...) {
        detector->methods->destroy(detector);
        throw;
    }
    detector->methods->destroy(detector);
    return faces;
}
