// The preset element "profile" of a preset file: names and descriptions by language, identity,
// flags, format version, icons and the correction settings of the four layers.
//
// Format versions: a preset of an older version is made read-only and its skin settings moved to
// the current grouping; a preset of a newer version than this program knows raises an error on the
// stream ("Skipping Too New Preset"), which ends the reading of its file.
#pragma once

#include "editing/model/preset.h"

class QXmlStreamReader;
class QXmlStreamWriter;

// The reader stands on the start of a "profile" element; on return it stands after its end element
// or is in an error state. The preset is returned in both cases; callers keep it only when the
// reader reports no error. namesOnly skips the correction settings (the preset then has no stack
// until first use); isSystem is stored in the preset; withIcons keeps the icons.
SharedPreset readPreset(QXmlStreamReader& reader, bool namesOnly, bool isSystem, bool withIcons);

// Reads the children named childName that carry a "lang" attribute into language code -> text (a
// later entry replaces an earlier one); other children are skipped. Used for "names" and
// "descriptions" of presets and groups.
QMap<QString, QString> readLanguageEntries(QXmlStreamReader& reader, const QString& childName);

// The whole "profile" element of a preset, its correction settings included (loaded first when
// the preset has none yet).
void writePreset(Preset& preset, QXmlStreamWriter& writer);
