// The areas of a plug-in host's filter record: the area to filter, the input, output and mask
// areas. The record and its large-document extension belong to the host and are reached by byte
// offset (64-bit host layout, fields packed on 4-byte boundaries). When the extension is present
// and its 32-bit-coordinates flag is non-zero, the accessors use its 32-bit areas; otherwise they
// use the record's 16-bit areas, widening on read and narrowing on write.
#pragma once

#include <cstdint>

struct HostFilterRecord; // the host's filter record, laid out by the host

// An area in the record's own order; bottom and right lie just outside the area.
struct HostArea {
    std::int32_t top;
    std::int32_t left;
    std::int32_t bottom;
    std::int32_t right;
};

// Byte offsets of the areas in the record (four int16 each) and in the extension (four int32 each).
constexpr int kHostFilterAreaOffset = 34;
constexpr int kHostInAreaOffset = 64;
constexpr int kHostOutAreaOffset = 76;
constexpr int kHostMaskAreaOffset = 116;
constexpr int kHostExtensionOffset = 504; // pointer to the large-document extension, or null
constexpr int kExtensionWideFlagOffset = 0;
constexpr int kExtensionFilterAreaOffset = 12;
constexpr int kExtensionInAreaOffset = 28;
constexpr int kExtensionOutAreaOffset = 44;
constexpr int kExtensionMaskAreaOffset = 60;

HostArea getFilterRect(const HostFilterRecord* record);
HostArea getInRect(const HostFilterRecord* record);
HostArea getOutRect(const HostFilterRecord* record);
HostArea getMaskRect(const HostFilterRecord* record);

// Writing a 16-bit area clamps each value to the int16 range.
void setInRect(HostFilterRecord* record, const HostArea& area);
void setOutRect(HostFilterRecord* record, const HostArea& area);
void setMaskRect(HostFilterRecord* record, const HostArea& area);
