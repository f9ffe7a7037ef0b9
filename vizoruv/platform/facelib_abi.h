/* The face-detector library as the platform sees it: its file name and its one entry point. */
#pragma once

#include <cstdint>

#define FD_LIBRARY_FILE "Face.dll"

/* Creates a detector from an 80-byte configuration; answers 0 and stores the detector, or an error. */
typedef int32_t (*PFN_FdDetectorCreate)(void* reserved, const void* configuration, void** detector);

#define FD_ENTRY_POINTS(X) X(FdDetectorCreate)
