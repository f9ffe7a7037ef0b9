// The effect stages: one apply function per feature bit, each in its own file of this folder,
// gathered into the stage table that engines run. facesdk/beauty creates every engine with it.
#pragma once

#include "facesdk/engine/beautify_run.h"

// Every stage of this library, in feature-bit order.
extern const FeatureStageTable kEffectStageTable;
