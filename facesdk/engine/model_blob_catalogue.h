// The generated tables of the model-blob catalogue (model_blob_data.cpp, written by
// tools/engine_templates). Only model_blob.cpp and the generated file include this.
#pragma once

#include "facesdk/engine/model_blob.h"

extern const ModelBlob kOverlayTemplateBlobs[5];  // stage 0x80
extern const ModelBlob kFaceMaskBlobs[1];         // stage 0x8000
extern const ModelBlob kEyePairBlobs[12];         // stage 0x200
extern const ModelBlob kEyeDarkBlobs[6];          // stage 0x1000
extern const ModelBlob kEyeLayerBlobs[12];        // stage 0x400
