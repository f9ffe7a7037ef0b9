#include "editing/model/raw_defaults.h"

QSharedPointer<VXLRAWParams> makeDefaultRawParams()
{
    QSharedPointer<VXLRAWParams> raw(new VXLRAWParams{});
    defaultRawParams(raw);
    return raw;
}

void defaultRawParams(QSharedPointer<VXLRAWParams> raw)
{
    defaultRawParams(raw.data());
}
