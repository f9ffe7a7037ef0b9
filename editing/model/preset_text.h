// The text of plain true/false values in preset files: written as "true" or "false"; read
// leniently, any letter case of "true" being true. (The profile-level flags of a preset element are
// stricter and want exactly "true": see preset_profile_element.cpp.)
#pragma once

#include <QString>

inline QString presetBoolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

inline bool isPresetTrueText(const QString& text)
{
    return text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}
