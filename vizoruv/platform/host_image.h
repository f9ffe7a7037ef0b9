// The render-and-write-back step of a host-sized image buffer, shared by the plug-in host's
// processing operation (slot 8, host_image.cpp) and usable without a host record.
#pragma once

#include "vizoruv/io/image_buffer.h"
#include "vizoruv/platform/ivxl_platform.h"

struct AdjustmentSet;
struct EngineSession;
class VXLPlatformWin;

// Renders the set into the buffer in place (through runPipeline) and, with a host record, writes
// the result back into the host's output, blended through its selection mask when there is one.
// The buffer holds the host's pixels at the host's depth in R, G, B order (16-bit samples already
// in the platform's range); a 32-bit (floating-point) buffer is rendered through a 16-bit working
// copy. progressData equal to the record drives the host's own progress bar. Answers true when
// the render ran and, with a record, the host took the result; false leaves the host's output as
// it was.
bool processImageBuffer(HostFilterRecord* record, ImageBuffer* buffer, EngineSession* session,
                        const AdjustmentSet& set, VxlProgressCallback progress, void* progressData, bool bgrOrder,
                        VXLPlatformWin* platform);
