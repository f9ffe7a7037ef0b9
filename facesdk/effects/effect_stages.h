// The effect stages: one apply function per feature bit, each in its own file of this folder.
// installEffectStages() hands every built stage to the engine's driver; engineCreate calls it
// once per process, so any program that creates an engine runs the stages.
#pragma once

#include "facesdk/engine/beautify_run.h"

// Installs every stage of the table below into the driver (setFeatureStage). Safe to call again.
void installEffectStages();

// The stage of a feature bit that this library provides, or null when it has none.
FeatureStageFn effectStage(uint32_t bit);
