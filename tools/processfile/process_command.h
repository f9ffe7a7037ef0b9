// The processfile command line: `processfile [--preset FILE] [--mode N] IN OUT`.
//
// IN is opened as the platform opens any file (RAW files through LibRaw), corrected with the first
// preset of FILE (or left as it is), and written to OUT in the format of OUT's extension (".jpg",
// ".png", ".tif", ".bmp"; anything else is JPEG) with IN's metadata, upright, in the colour space of
// profile mode N (0 sRGB, the default; 1 ProPhoto RGB; 2 Adobe RGB; 3 to 5 keep IN's own profile,
// else 0 to 2).
#pragma once

#include <QStringList>
#include <QTextStream>

// Runs the command (arguments without the program's name). Answers the exit code: 0 written,
// 1 failed (one line on err says why), 2 wrong arguments (the usage on err).
int runProcessFileCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);
