// For tests: puts other face-library entry points in the engine's table for the life of a scope
// and restores the libraries' own afterwards.
//
// Header only.
#pragma once

#include "facesdk/engine/face_libraries.h"

struct ScopedFaceLibraries {
    ScopedFaceLibraries() = default;
    ScopedFaceLibraries(const ScopedFaceLibraries &) = delete;
    ScopedFaceLibraries &operator=(const ScopedFaceLibraries &) = delete;
    ~ScopedFaceLibraries() { faceLibraryEntries() = defaultFaceLibraryEntries(); }

    FaceLibraryEntries &entries() { return faceLibraryEntries(); }
};
