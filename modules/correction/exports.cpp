// Engine lifetime and the small entry points (parameters, threading, host hand-over), and the
// check that every export matches the platform's pointer type.
#include "modules/correction/vexilo_exports.h"

#include "modules/correction/engine.h"

#include <atomic>
#include <new>
#include <type_traits>

#define VXL_CHECK_SIGNATURE(name) \
    static_assert(std::is_same<decltype(&name), PFN_##name>::value, #name " does not match its pointer type");
VXL_ENGINE_ENTRY_POINTS(VXL_CHECK_SIGNATURE)
#undef VXL_CHECK_SIGNATURE

namespace {

// The host filter record handed over by the platform; the engine keeps it for host-aware passes.
std::atomic<void*> gHostRecord{nullptr};

}  // namespace

VxlEngineHandle VXL_CreateEngine(void) {
    return new (std::nothrow) vexilo::Engine();
}

void VXL_DestroyEngine(VxlEngineHandle handle) {
    vexilo::Engine* engine = vexilo::engineOf(handle);
    if (!engine)
        return;
    engine->magic = 0;
    delete engine;
}

int32_t VXL_SetParam(VxlEngineHandle handle, int32_t key, int32_t value) {
    vexilo::Engine* engine = vexilo::engineOf(handle);
    if (!engine || key < 0 || key >= vexilo::kEngineParamCount)
        return VXL_ERR_ARGUMENT;
    engine->params[key] = value;
    return VXL_OK;
}

void VXL_SetSingleThreadedEngine(VxlEngineHandle handle, int32_t flag) {
    if (vexilo::Engine* engine = vexilo::engineOf(handle))
        engine->singleThreaded = flag != 0;
}

void VXL_SetAIEngines(VxlEngineHandle handle, void* first, void* second, void* third) {
    if (vexilo::Engine* engine = vexilo::engineOf(handle)) {
        engine->aiEngines[0] = first;
        engine->aiEngines[1] = second;
        engine->aiEngines[2] = third;
    }
}

void _SetFilterRecord(void* hostRecord) {
    gHostRecord.store(hostRecord);
}
