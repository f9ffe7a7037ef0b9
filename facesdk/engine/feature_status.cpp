// The run's feature status object.
#include "facesdk/engine/feature_status.h"

#include "facesdk/base/result_codes.h"

namespace {

const FeatureStatusOps kFeatureStatusOps = {statusRelease, statusOfFeature, statusMaskEqual};

}  // namespace

int featureStatusCreate(EngineAllocator *allocator, FeatureStatus **out)
{
    if (!allocator || !out)
        return kResultBadArgument;
    *out = nullptr;
    auto *status = static_cast<FeatureStatus *>(allocatorAlloc(allocator, sizeof(FeatureStatus)));
    if (!status)
        return kResultNoMemory;
    status->ops = &kFeatureStatusOps;
    status->allocator = allocator;
    for (int32_t &value : status->statuses)
        value = kResultStageNotRun;
    *out = status;
    return kResultOk;
}

void statusRelease(FeatureStatus *status)
{
    if (status)
        allocatorFree(status->allocator, status);
}

int32_t statusOfFeature(const FeatureStatus *status, uint32_t bit)
{
    if (!status || bit == 0)
        return kResultBadArgument;
    const int index = 31 - __builtin_clz(bit);
    if (index >= kFeatureCount)
        return kResultBadArgument;
    return status->statuses[index];
}

uint32_t statusMaskEqual(const FeatureStatus *status, int32_t value)
{
    if (!status)
        return 0;
    uint32_t mask = 0;
    for (int k = 0; k < kFeatureCount; ++k) {
        const int32_t s = status->statuses[k];
        const bool selected = value == kStatusAnyNegative   ? s < 0
                              : value == kStatusAnyPositive ? s > 0
                                                            : s == value;
        if (selected)
            mask |= 1u << k;
    }
    return mask;
}

void statusSet(FeatureStatus *status, uint32_t bit, int32_t value)
{
    const int index = featureIndex(bit);
    if (status && index >= 0)
        status->statuses[index] = value;
}
