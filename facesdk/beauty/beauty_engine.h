// The beautification engine with its seventeen effect stages: the create functions programs
// call. The engine (facesdk/engine) runs whatever stage table it is created with; this library
// creates every engine with the effect stages of facesdk/effects, so a program that links it
// runs them all, and a program that links only the engine cannot call these functions.
#pragma once

#include "facesdk/engine/engine.h"

// Creates an engine with the process-wide default allocator. 0; -4 null out-pointer; -3.
// On failure *engine is null.
int engineCreate(BeautyEngine **engine);

// Creates an engine with the given allocator (null: the default one). 0, -3, -4.
int engineCreateWithAllocator(EngineAllocator *allocator, BeautyEngine **engine);
