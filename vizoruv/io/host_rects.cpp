// Host area accessors (see host_rects.h). Fields are read and written with memcpy because the
// host's packing leaves 8-byte pointers and some areas off their natural alignment.
#include "vizoruv/io/host_rects.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

template <typename T>
T readAt(const unsigned char* base, int offset)
{
    T value;
    std::memcpy(&value, base + offset, sizeof value);
    return value;
}

template <typename T>
void writeAt(unsigned char* base, int offset, T value)
{
    std::memcpy(base + offset, &value, sizeof value);
}

// The extension when it is present and switched to 32-bit coordinates, else null.
unsigned char* wideExtension(const HostFilterRecord* record)
{
    auto* extension = readAt<unsigned char*>(reinterpret_cast<const unsigned char*>(record), kHostExtensionOffset);
    if (!extension || readAt<std::int32_t>(extension, kExtensionWideFlagOffset) == 0)
        return nullptr;
    return extension;
}

HostArea readArea(const HostFilterRecord* record, int narrowOffset, int wideOffset)
{
    if (!record)
        return {};
    if (const unsigned char* extension = wideExtension(record)) {
        return {readAt<std::int32_t>(extension, wideOffset), readAt<std::int32_t>(extension, wideOffset + 4),
                readAt<std::int32_t>(extension, wideOffset + 8), readAt<std::int32_t>(extension, wideOffset + 12)};
    }
    const auto* base = reinterpret_cast<const unsigned char*>(record);
    return {readAt<std::int16_t>(base, narrowOffset), readAt<std::int16_t>(base, narrowOffset + 2),
            readAt<std::int16_t>(base, narrowOffset + 4), readAt<std::int16_t>(base, narrowOffset + 6)};
}

// A value the host's 16-bit area can hold: out-of-range values are clamped rather than wrapped,
// so the host never receives an area turned inside out.
std::int16_t narrow(std::int32_t value)
{
    return static_cast<std::int16_t>(std::clamp<std::int32_t>(value, std::numeric_limits<std::int16_t>::min(),
                                                              std::numeric_limits<std::int16_t>::max()));
}

void writeArea(HostFilterRecord* record, int narrowOffset, int wideOffset, const HostArea& area)
{
    if (!record)
        return;
    const std::int32_t values[4] = {area.top, area.left, area.bottom, area.right};
    if (unsigned char* extension = wideExtension(record)) {
        for (int i = 0; i < 4; ++i)
            writeAt<std::int32_t>(extension, wideOffset + 4 * i, values[i]);
        return;
    }
    auto* base = reinterpret_cast<unsigned char*>(record);
    for (int i = 0; i < 4; ++i)
        writeAt<std::int16_t>(base, narrowOffset + 2 * i, narrow(values[i]));
}

} // namespace

HostArea getFilterRect(const HostFilterRecord* record)
{
    return readArea(record, kHostFilterAreaOffset, kExtensionFilterAreaOffset);
}

HostArea getInRect(const HostFilterRecord* record)
{
    return readArea(record, kHostInAreaOffset, kExtensionInAreaOffset);
}

HostArea getOutRect(const HostFilterRecord* record)
{
    return readArea(record, kHostOutAreaOffset, kExtensionOutAreaOffset);
}

HostArea getMaskRect(const HostFilterRecord* record)
{
    return readArea(record, kHostMaskAreaOffset, kExtensionMaskAreaOffset);
}

void setInRect(HostFilterRecord* record, const HostArea& area)
{
    writeArea(record, kHostInAreaOffset, kExtensionInAreaOffset, area);
}

void setOutRect(HostFilterRecord* record, const HostArea& area)
{
    writeArea(record, kHostOutAreaOffset, kExtensionOutAreaOffset, area);
}

void setMaskRect(HostFilterRecord* record, const HostArea& area)
{
    writeArea(record, kHostMaskAreaOffset, kExtensionMaskAreaOffset, area);
}
