// The processing pipeline: renders an AdjustmentSet into an image in place. The first layer is
// rendered over the whole image, every further masked layer on a working copy that is blended back
// through the layer's mask, and then local contrast, sharpening and the background sync of the first
// layer run over the whole image.
//
// One layer runs, in this order: the lookup tables of the first group, the exposure pre-pass, the
// colour model, the correction engine (with the portrait light), the opacity blend, red-eye
// correction, the face pass, and then, even after a stop, the second group of tables with the output
// tone curves, the channel offsets, the finishing curve and the finishing tables.
//
// Divided into: the passes built elsewhere (hooks) and the caller's user object; the entries; the
// small steps the entries are made of.
//
// The hooks belong to the platform of the run (run.platform): VxlPlatformCreate builds every
// platform with this library's face pass, portrait light and mask rasteriser, and a test may put
// passes of its own in their place (VXLPlatformWin::setPipelineHooks). Nothing is process-wide.
#pragma once

#include <cstdint>

#include "vizoruv/adjust/adjustment_layer.h"
#include "vizoruv/adjust/lut_readers.h"
#include "vizoruv/adjust/mask_overlays.h"
#include "vizoruv/platform/correction_pipeline.h"

struct CorrectionReport;
struct EngineSession;

// ---- Passes built elsewhere -------------------------------------------------------------------
// A null hook's step does nothing.

// The face pass over the image with a copy of the layer (per-face attributes and automatic values
// on). Answers false when it failed; the pipeline goes on either way.
using FacePassFn = bool (*)(EngineSession* session, const ImageView& image, const AdjustmentLayer& layer,
                            bool bgrOrder);
// The portrait light: amount, depth and feather of the layer, no landmark marks, in the run's channel
// order.
using PortraitLightFn = bool (*)(EngineSession* session, const ImageView& image, bool bgrOrder, int amount, int depth,
                                 int feather);

struct PipelineHooks {
    FacePassFn beautifyFaces = nullptr;
    PortraitLightFn applyPortraitLight = nullptr;
    // Draws a layer's mask for the blend of a further layer; without it further layers are not
    // rendered (there is no mask to blend them through).
    MaskRasterizer rasterizeMask = nullptr;
};

// The object a caller hands to SetUserData may take over the dynamic colour-model step: its first
// virtual operation gets the pixels and the analysis tables and answers true when it has rewritten
// the pixels itself.
class PipelineUserObject {
public:
    virtual bool applyDynamicColour(std::uint8_t* pixels, bool is16, bool bgrOrder, bool is4ch, int width, int height,
                                    int rowBytes, const std::int32_t* globalTable, const std::int32_t* regionalTable,
                                    const std::uint8_t* weightTable, int amount, int whiteBalance) = 0;

protected:
    ~PipelineUserObject() = default;
};

// ---- Entries ----------------------------------------------------------------------------------

// Renders run.set into the image in place (the PipelineFunction of the correction run). Answers
// true for a bypassed set, else whether the last layer that ran finished without being stopped.
bool renderAdjustmentSet(const ImageView& image, PipelineRun& run);

// Renders one layer into the image in place, with run's session, progress and stop flag (run.set
// and run.report are not read). sourcePixels, when given, hold the unedited image in the image's
// geometry for the opacity blend. False when the run was cancelled or stopped.
bool processImage(const ImageView& image, const AdjustmentLayer& layer, EngineSession* session,
                  CorrectionReport* report, const std::uint8_t* sourcePixels, PipelineRun& run);

// ---- Steps ------------------------------------------------------------------------------------

// Adds a per-colour offset to every pixel (16-bit images: offset x 256), clamped; the fourth
// channel stays. With bgrOrder channel 0 takes the blue offset.
void applyChannelOffsets(const ImageView& image, int red, int green, int blue, bool bgrOrder);

// The red-eye library's correction of the regions the analysis found (record: red_eye.h). False when the analysis
// found no red eyes or the library failed; true when there is nothing to correct.
bool correctRedEyes(EngineSession* session, const ImageView& image, bool bgrOrder);

// target := source after target at strength. A missing source or a strength of 0 or below
// composes as nothing and answers true; false when the tables cannot be composed.
bool composeLut(Lut3D* target, const Lut3D* source, int strength);
// The table on the image at strength (tetrahedral); true when the application succeeded.
bool applyLut(Lut3D* table, const ImageView& image, bool bgrOrder, int strength);

// Radius of the local-contrast pass for an image of width x height: 25 below a geometric mean side
// of 800, 3.57 % of it below 1360, else 50.
int localContrastRadius(int width, int height);
