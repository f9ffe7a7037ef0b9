// The installer's message library: a table of texts by result code, loaded as a data file.
#include "sys/msi/msi.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <mutex>

struct MsiModule {
    QHash<unsigned, std::u16string> texts;  // id -> text
};

namespace {

std::mutex g_systemFolderMutex;
QString g_systemFolder;  // msiSetSystemFolder; empty: default

constexpr qint64 kMaxLibrarySize = 1 << 20;

// Folders searched for a bare library name, in order.
QStringList systemFolders() {
    {
        std::lock_guard<std::mutex> lock(g_systemFolderMutex);
        if (!g_systemFolder.isEmpty())
            return {g_systemFolder};
    }
    const QString fromEnvironment = qEnvironmentVariable("SOLVANE_MSI_SYSTEM_DIR");
    if (!fromEnvironment.isEmpty())
        return {fromEnvironment};
    QStringList folders;
    if (QCoreApplication::instance())
        folders << QCoreApplication::applicationDirPath();
#ifdef SOLVANE_MSI_BUILD_DIR
    folders << QStringLiteral(SOLVANE_MSI_BUILD_DIR);
#endif
    return folders;
}

QString findLibrary(const QString& fileName) {
    if (fileName.contains(QLatin1Char('/')))
        return fileName;
    for (const QString& folder : systemFolders()) {
        const QString candidate = QDir(folder).filePath(fileName);
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return QString();
}

// Parses "<id> <text>" lines; false for anything else (a library of another kind).
bool parseTable(const QByteArray& content, MsiModule* module) {
    const QList<QByteArray> lines = content.split('\n');
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith('#'))
            continue;
        const int blank = line.indexOf(' ');
        bool isNumber = false;
        const unsigned id = line.left(blank).toUInt(&isNumber);
        if (blank <= 0 || !isNumber || module->texts.contains(id))
            return false;
        module->texts.insert(id, QString::fromUtf8(line.mid(blank + 1)).toStdU16String());
    }
    return !module->texts.isEmpty();
}

}  // namespace

void msiSetSystemFolder(const std::string& folder) {
    std::lock_guard<std::mutex> lock(g_systemFolderMutex);
    g_systemFolder = QString::fromStdString(folder);
}

MsiModule* LoadLibraryExW(const char16_t* fileName, void* reserved, std::uint32_t flags) {
    Q_UNUSED(reserved);
    if (!fileName || !(flags & LOAD_LIBRARY_AS_DATAFILE))
        return nullptr;
    const QString path = findLibrary(QDir::fromNativeSeparators(QString::fromUtf16(fileName)));
    QFile file(path);
    if (path.isEmpty() || file.size() > kMaxLibrarySize || !file.open(QIODevice::ReadOnly))
        return nullptr;
    auto* module = new MsiModule;
    if (!parseTable(file.readAll(), module)) {
        delete module;
        return nullptr;
    }
    return module;
}

int LoadStringW(MsiModule* module, unsigned id, char16_t* buffer, int bufferMax) {
    if (!module || !buffer || bufferMax < 0)
        return 0;
    const auto found = module->texts.constFind(id);
    if (found == module->texts.constEnd()) {
        if (bufferMax > 0)
            buffer[0] = u'\0';
        return 0;
    }
    const std::u16string& text = found.value();
    if (bufferMax == 0) {
        *reinterpret_cast<const char16_t**>(buffer) = text.data();
        return int(text.size());
    }
    const int copied = qMin(int(text.size()), bufferMax - 1);
    std::copy(text.begin(), text.begin() + copied, buffer);
    buffer[copied] = u'\0';
    return copied;
}

bool FreeLibrary(MsiModule* module) {
    if (!module)
        return false;
    delete module;
    return true;
}
