// The platform's bridge to the beautification engine: the face state of an EngineSession, the
// conversions between platform images and the engine's planar YUV 4:2:0 form, face detection and
// fitting during the analysis, the face-list edits and the face pass of the pipeline.
//
// Divisions: the locks; conversions; face records; session operations; the analysis' face
// detection; the pipeline's face pass.
//
// Session operations answer true on success and never throw. Lock order: instance lock, session lock
// (EngineSession::lock), face-engine lock. The face-engine lock is held only around detection during
// the analysis and around a per-face beautify call that runs stage 0x10000.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "facesdk/engine/face_records.h"
#include "facesdk/engine/params.h"
#include "vizoruv/platform/facelib_abi.h"
#include "vizoruv/platform/image_view.h"

struct AdjustmentLayer;
struct EngineImage;
struct EngineSession;

// ---- Locks ------------------------------------------------------------------------------------

// The process-wide lock that keeps the calls of all engines apart where they share state.
std::mutex& faceEngineLock();

// ---- Conversions ------------------------------------------------------------------------------

// Bytes of the planar YUV 4:2:0 form of a width x height image: Y plane, then Cb, then Cr.
size_t yuv420Size(int width, int height);
// Describes a buffer of yuv420Size bytes as the engine's planar 4:2:0 image.
void describeYuv420(EngineImage* image, uint8_t* buffer, int width, int height);
// Writes the 8- or 16-bit image (three or four channels) into buffer in planar YUV 4:2:0 (studio
// range; chroma from the top-left pixel of each 2 x 2 block). bgrOrder: channel 0 is blue.
void toYuv420(const ImageView& image, uint8_t* buffer, bool bgrOrder);
// Writes back into image every pixel whose Y, Cb or Cr differs between processed and reference;
// pixels the engine left alone keep their exact (16-bit) values; the fourth channel stays.
void fromYuv420(const ImageView& image, const uint8_t* processed, bool bgrOrder, const uint8_t* reference);
// Rewrites an 8-bit image in place as packed 4:2:2 (U, Y, V, Y per pixel pair), row bytes kept.
void toUyvyInPlace(uint8_t* pixels, int width, int height, int rowBytes, bool bgrOrder, bool hasAlpha);

// ---- Face records -----------------------------------------------------------------------------

// Fills the missing eye points of the faces (an eye counts as present when x or y is non-zero)
// from their landmarks, the other eye or the box; an estimate outside the box is not stored.
void estimateEyes(VXL_FACE* faces, int count);
// A copy of faces with every position scaled by toSide / fromSide and landmark buffers of their own
// (the second buffer is shared). False when memory is short (nothing is left allocated).
bool scaleFaceCopies(const VXL_FACE* faces, int count, VXL_FACE** out, int fromSide, int toSide);
void freeFaceCopies(int count, VXL_FACE* copies);
// The engine's suggestion a (0..255) moved by the user's value v: 128 keeps a, 0 gives 0, 255 gives 255.
int blendAutoValue(int autoValue, int userValue);
// The settings of a layer as the engine takes them. withColours: the colour and make-up words too
// (per face); without them those words stay 0 (whole image). With base, the blended words move base's
// values; without it the words take the layer's values.
void buildBeautySettings(const AdjustmentLayer& layer, bool withColours, const BeautySettings* base,
                         BeautySettings* out);

// ---- Session operations -----------------------------------------------------------------------

// (Re)builds the session's YUV copy of image.
bool makeYuvCopy(EngineSession* session, const ImageView& image, bool bgrOrder);
// Detection (or adoption of the caller's faces), fitting and, with analyse, the per-face analysis
// into the session, on the session's YUV copy.
bool detectFaces(bool analyse, EngineSession* session, const VXL_FACE* callerFaces, int callerCount);
// The analysis entry: releases the previous face state, builds the YUV copy and runs detectFaces.
bool runFaceDetection(const ImageView& image, bool analyse, bool bgrOrder, EngineSession* session,
                      const VXL_FACE* callerFaces, int callerCount);
// The face-detector library pass over the analysis' 320-pixel detection copy, which it converts to
// packed 4:2:2 in place (the copy is used up): up to 100 of the library's face records, each
// re-examined on the session's YUV copy, go into detectorFaces. Changes nothing else.
void runFaceLibraryPass(EngineSession* session, const ImageView& detectorImage, bool bgrOrder,
                        PFN_FdDetectorCreate create);
// Appends copies of the caller's faces (id and eye points; box and roll from the eyes); the engine
// numbers them on from the largest id.
bool appendFaces(EngineSession* session, const VXL_FACE* faces, int count);
// Fits the current faces again and, with analyse, analyses them again. A fit failure keeps the faces.
bool refitFaces(EngineSession* session, bool analyse, const ImageView& image, bool bgrOrder);
// Replaces the list with the engine's detection. The caller makes sure an engine exists.
bool redetectFaces(EngineSession* session, const ImageView& image, bool bgrOrder);
// Replaces the face with face's id by one placed by its eyes and rebuilds the others from their eyes
// on a new engine. Nothing changes when the new engine cannot be made.
bool replaceFace(EngineSession* session, const VXL_FACE& face);
// Empties the list and the attributes and swaps the engine for a new one; false (nothing changed)
// when the new engine cannot be made.
bool renewFaceEngine(EngineSession* session);
// Gives the face array back to the engine and empties the list.
void clearFaces(EngineSession* session);
// Drops the whole face state: attributes, faces, engine and YUV copy.
void releaseFaceState(EngineSession* session);
// The session's own array and its length (not a copy), missing eyes filled in first.
bool getSessionFaces(EngineSession* session, VXL_FACE** faces, int* count);

// ---- The analysis' face detection --------------------------------------------------------------

// Face detection of the analysis (analyseImage): runFaceDetection on the full view with the
// caller's faces (null unless the fingerprint matched), then, when asked and faces are wanted, the
// face-detector library's pass over the face view.
void detectFacesForAnalysis(EngineSession* session, const ImageView& full, const ImageView& faceView, bool bgrOrder,
                            bool useFaceLibrary, const VXL_FACE* callerFaces, int32_t callerFaceCount);

// ---- The pipeline's face pass -----------------------------------------------------------------

// Beautifies the faces of the session in image (once over the whole image when there are none) with
// the layer's face settings. True when there is nothing to do or the pass ran.
bool beautifyFaces(const AdjustmentLayer& layer, const ImageView& image, bool bgrOrder, bool usePerFaceAttributes,
                   bool blendWithAuto, EngineSession* session);

// The pipeline's face pass (PipelineHooks::beautifyFaces of every platform): beautifyFaces with
// per-face attributes and automatic values on; true without a session.
bool pipelineFacePass(EngineSession* session, const ImageView& image, const AdjustmentLayer& layer, bool bgrOrder);
