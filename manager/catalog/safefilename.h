// Names that come from the server and become file or folder names must stay inside their
// folder: no path separators, no "..", not empty.
#pragma once

#include <QString>

// True when `name` may be used as one file or folder name below a folder of ours; otherwise
// false with the reason in *why.
bool isSafeFileName(const QString &name, QString *why = nullptr);
