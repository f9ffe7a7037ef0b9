// Log categories, the file message handler and the start-up of the log.
#include "manager/app/logging.h"

#include "manager/app/environment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <cstdio>
#include <cstdlib>
#include <vector>

Q_LOGGING_CATEGORY(managerLogCategory, "kivomanager.lib", QtDebugMsg)
Q_LOGGING_CATEGORY(coreLogCategory, "core.lib", QtDebugMsg)

namespace {

// Base name until `main` names the log.
QString g_logBaseName = QStringLiteral("Solvane");

const char* levelWord(QtMsgType type) {
    switch (type) {
    case QtDebugMsg: return "Debug";
    case QtWarningMsg: return "Warning";
    case QtCriticalMsg: return "Critical";
    case QtFatalMsg: return "Fatal";
    case QtInfoMsg: return "Info";
    }
    return "Debug";
}

// The C runtime's text for a null string argument, written explicitly so that the line does
// not depend on undefined printf behaviour.
const char* orNull(const char* text) { return text ? text : "(null)"; }

}  // namespace

void setLogBaseName(const QString& baseName) { g_logBaseName = baseName; }

QString logBaseName() { return g_logBaseName; }

QString logFilePath() {
    return AppEnvironment::sharedDataPath(false) + QLatin1Char('/') + g_logBaseName + QStringLiteral(".log");
}

QByteArray formatLogLine(QtMsgType type, const QMessageLogContext& context, const QString& message, const QDateTime& when) {
    const QByteArray time = when.toString(Qt::ISODate).toLatin1();
    const QByteArray text = message.toLocal8Bit();
    static const char kFormat[] = "%s %s: %s (%s:%u, %s)\n";
    const int length = std::snprintf(nullptr, 0, kFormat, time.constData(), levelWord(type), text.constData(),
                                     orNull(context.file), unsigned(context.line), orNull(context.function));
    if (length < 0)
        return QByteArray();
    std::vector<char> line(std::size_t(length) + 1);
    std::snprintf(line.data(), line.size(), kFormat, time.constData(), levelWord(type), text.constData(),
                  orNull(context.file), unsigned(context.line), orNull(context.function));
    return QByteArray(line.data(), length);
}

void logMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const QByteArray line = formatLogLine(type, context, message, QDateTime::currentDateTime());
    const QByteArray path = QDir::toNativeSeparators(logFilePath()).toUtf8();
    if (FILE* file = std::fopen(path.constData(), "a")) {
        std::fwrite(line.constData(), 1, std::size_t(line.size()), file);
        std::fclose(file);
    }
    if (type == QtFatalMsg)
        std::abort();
}

void initLogging() {
    const QFileInfo log(logFilePath());
    if (log.exists() && log.size() > kMaxLogFileSize)
        QFile::remove(log.absoluteFilePath());
    qInstallMessageHandler(logMessageHandler);

    const QPair<QString, QString> scope = AppEnvironment::languageSettingsScope();
    const QSettings languageSettings(scope.first, scope.second);
    if (languageSettings.contains(QStringLiteral("SelectedLocale")))
        qCDebug(managerLogCategory) << "LOCALE from settings" << languageSettings.value(QStringLiteral("SelectedLocale")).toString();
    qCDebug(managerLogCategory) << "Product Patchset" << "unknown";
}
