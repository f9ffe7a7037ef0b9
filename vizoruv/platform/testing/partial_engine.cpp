// Test fixture: a correction engine library that offers only some of its entry points and counts
// the calls the platform makes. Tests read the counters through the fixture* names.
#include "vizoruv/platform/engine_abi.h"

#define FIXTURE_EXPORT extern "C" __attribute__((visibility("default")))

#define FIXTURE_COUNTER __attribute__((visibility("default")))

extern "C" {
FIXTURE_COUNTER int fixtureCreateCalls = 0;
FIXTURE_COUNTER int fixtureDestroyCalls = 0;
FIXTURE_COUNTER int fixtureSingleThreadedCalls = 0;
FIXTURE_COUNTER int fixtureLastSingleThreaded = -1;
FIXTURE_COUNTER void* fixtureLastDestroyed = nullptr;
}

static int gEngine;  // the handle: its address

FIXTURE_EXPORT VxlEngineHandle VXL_CreateEngine(void) {
    ++fixtureCreateCalls;
    return &gEngine;
}

FIXTURE_EXPORT void VXL_DestroyEngine(VxlEngineHandle engine) {
    ++fixtureDestroyCalls;
    fixtureLastDestroyed = engine;
}

FIXTURE_EXPORT void VXL_SetSingleThreadedEngine(VxlEngineHandle engine, int32_t flag) {
    ++fixtureSingleThreadedCalls;
    fixtureLastSingleThreaded = flag;
}
