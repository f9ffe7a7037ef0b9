// The table of face-library entry points, filled with the libraries' own functions.
#include "facesdk/engine/face_libraries.h"

#include "facesdk/detect/classifier.h"
#include "facesdk/detect/detector.h"
#include "facesdk/detect/landmark.h"

const FaceLibraryEntries &defaultFaceLibraryEntries()
{
    static const FaceLibraryEntries entries = {faceDetectorCreate, faceClassifierInterface,
                                               landmarkInterface};
    return entries;
}

FaceLibraryEntries &faceLibraryEntries()
{
    static FaceLibraryEntries entries = defaultFaceLibraryEntries();
    return entries;
}
