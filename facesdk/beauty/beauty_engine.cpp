// Engines created with the effect stages.
#include "facesdk/beauty/beauty_engine.h"

#include "facesdk/effects/effect_stages.h"

int engineCreate(BeautyEngine **engine)
{
    return engineCreateWithStages(nullptr, &kEffectStageTable, engine);
}

int engineCreateWithAllocator(EngineAllocator *allocator, BeautyEngine **engine)
{
    return engineCreateWithStages(allocator, &kEffectStageTable, engine);
}
