// The fields of a correction parameter block by name: a table in layout order with each field's
// offset and kind, and a text form of a block as key=value lines.
#pragma once

#include <cstddef>
#include <string>

#include "editing/model/vxl_params.h"

enum class ParamsFieldKind {
    Bool,          // "true" / "false"
    Int32,         // decimal
    Colour,        // uint32 0xAARRGGBB, written as "0x" and eight upper-case hex digits
    Float,         // shortest text that reads back as the same float
    LutId,         // 32 lower-case hex digits
    SelectiveColor // an array of kSelectiveColorRecords records, each seven numbers joined by "|"
};

struct ParamsField {
    const char* name;     // the field's name in VXLParams
    std::size_t offset;   // byte offset in the block
    std::size_t size;     // bytes the field takes
    ParamsFieldKind kind;
};

// Every field of VXLParams, in layout order.
const ParamsField* paramsFields(std::size_t* count);

// The value of one field as text (array fields: the records joined by ";" in index order).
std::string paramsFieldText(const VXLParams& block, const ParamsField& field);

// One "name=value" line per field in layout order; a selective-colour array gives one line per
// record, "name[i]=featherStart|rangeStart|rangeEnd|featherEnd|hue|saturation|lightness".
std::string dumpParams(const VXLParams& block);

// The text of one selective-colour record: its seven fields in order, as decimal numbers joined by
// "|" (the scanf and printf format below). Preset files store records this way.
constexpr char kSelectiveColorRecordFormat[] = "%d|%d|%d|%d|%d|%d|%d";
std::string selectiveColorRecordText(const SelectiveColorRecord& record);

// The shortest text that reads back as the same float.
std::string shortestFloatText(float value);
