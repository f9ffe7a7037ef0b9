// Default RAW development records.
#include "vizoruv/io/raw_params.h"

#include <cstring>

namespace {

// Everything the two default sets share; every other byte is zero.
void fillCommonRawDefaults(VXLRAWParams& raw)
{
    std::memset(static_cast<void*>(&raw), 0, sizeof raw);
    raw.secondFlag = 1;
    raw.setting32 = 25;
    raw.setting48 = 0.25;
    raw.setting60 = 3;
    raw.outputCurve = kRawCurveSrgb;
    raw.colourTemperature = 6500;
}

} // namespace

void fillDefaultRawParams(VXLRAWParams* raw)
{
    if (!raw)
        return;
    fillCommonRawDefaults(*raw);
    raw->useSettings = 1;
}

void defaultRawParams(VXLRAWParams* raw)
{
    if (!raw)
        return;
    fillCommonRawDefaults(*raw);
    raw->useSettings = 0;
    raw->exposureCorrectionOn = 1;
    raw->value28On = 1;
    raw->value40On = 1;
    raw->value68On = 1;
}
