// The beautify command: reads a picture, converts it to a run format, takes faces from a JSON
// sidecar (or, without one, from the engine's detection and fitting), makes one beautify call,
// writes the result and reports the seventeen statuses.
#pragma once

#include <QStringList>
#include <QTextStream>

// Runs the command on its arguments (without the program name). Answers the exit code: 0 when
// the run answered 0, 97 or 99; 1 when it failed; 2 for bad arguments or unreadable input.
int runBeautifyCommand(const QStringList &arguments, QTextStream &out, QTextStream &err);
