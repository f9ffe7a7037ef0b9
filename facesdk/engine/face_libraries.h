// The entry points of the face libraries that the engine's detection and fitting call: the
// face detector's create function and the interface getters of the classifier and the landmark
// fitter. They are reached through one table so that a test can put its own in their place
// (a detector with test cascades installed, a classifier answering chosen classes, a fitter
// that fails); the engine itself never changes the table.
#pragma once

#include "facesdk/base/allocator.h"

struct DetectorConfig;
struct FaceDetector;
struct ClassifierInterface;
struct LandmarkInterface;

struct FaceLibraryEntries {
    // faceDetectorCreate: 0 with a new detector, else a detector code.
    int (*createDetector)(EngineAllocator *allocator, const DetectorConfig *config,
                          FaceDetector **detector);
    // faceClassifierInterface: the classifier library's interface record.
    const ClassifierInterface *(*classifierInterface)();
    // landmarkInterface: the landmark library's pair of functions.
    const LandmarkInterface *(*landmarkInterface)();
};

// The table in use; starts with the libraries' own functions.
FaceLibraryEntries &faceLibraryEntries();

// The libraries' own functions, for a test to restore or to call from its replacement.
const FaceLibraryEntries &defaultFaceLibraryEntries();
