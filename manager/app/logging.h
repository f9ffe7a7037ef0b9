// The manager's log: two logging categories and a message handler that appends one line per
// message to <per-user shared data folder>/<log base name>.log, opening and closing the file for
// every message (the file may be read, moved or deleted at any time).
//
// Line format: "<local time, ISO 8601> <Level>: <message> (<file>:<line>, <function>)\n", the
// level one of Debug, Warning, Critical, Fatal, Info; an absent file or function reads "(null)".
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QLoggingCategory>
#include <QString>

// "kivomanager.lib": every part of the manager logs its own messages here.
Q_DECLARE_LOGGING_CATEGORY(managerLogCategory)
// "core.lib": file helpers of the application environment.
Q_DECLARE_LOGGING_CATEGORY(coreLogCategory)

// A log file larger than this (in bytes) is deleted at start.
constexpr qint64 kMaxLogFileSize = 1000000;

void setLogBaseName(const QString& baseName);
QString logBaseName();
// <per-user shared data folder>/<log base name>.log
QString logFilePath();

// Deletes an oversized log file, installs logMessageHandler and writes the start-up lines.
void initLogging();

// The message handler: appends formatLogLine(…) to logFilePath(); a file that cannot be opened
// loses the message. A fatal message aborts the process once its line is written.
void logMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

// One log line, end of line included, for a message logged at `when` (local time).
QByteArray formatLogLine(QtMsgType type, const QMessageLogContext& context, const QString& message, const QDateTime& when);
