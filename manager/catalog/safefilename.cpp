#include "manager/catalog/safefilename.h"

bool isSafeFileName(const QString &name, QString *why)
{
    const char *reason = nullptr;
    if (name.isEmpty())
        reason = "empty name";
    else if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        reason = "path separator in name";
    else if (name.contains(QLatin1String("..")) || name == QLatin1String("."))
        reason = "dot name";
    else if (name.contains(QChar(0)))
        reason = "NUL in name";
    if (reason && why)
        *why = QString::fromLatin1(reason);
    return !reason;
}
