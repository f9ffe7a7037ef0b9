// Identity, folders, server addresses, registry values and the start-up folder preparation.
#include "manager/app/environment.h"

#include "manager/app/logging.h"
#include "sys/registry/registry.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QUrlQuery>

namespace {

const char kUnsupportedIdentity[] = "unsupported";
const char kManagerIdentity[] = "Solvane Manager";
const char kPhotoIdentity[] = "Solvane Photo";
const char kPhoto2Identity[] = "Solvane Photo 2";

const char kBrandHostDefault[] = "api.solvane-labs.example";
const char kLegacyHostDefault[] = "api.keltrix.example";
const int kApiPortDefault = 443;
const int kUpdatePortDefault = 20080;
const char kPlatformName[] = "windows";

const int kPresetFormatVersion = 6;
// Application mode number; modes 3 and 4 are the limited ones. Nothing in this program sets it.
const int kApplicationMode = 0;

// The identity as its own UTF-8 copy; empty until setAppIdentity.
QByteArray g_identity;
bool g_identitySet = false;

QString organisation() { return QCoreApplication::organizationName(); }

int portFromEnvironment(const char* name, int fallback) {
    bool ok = false;
    const int port = qEnvironmentVariableIntValue(name, &ok);
    return ok && port > 0 && port < 65536 ? port : fallback;
}

QString hostFromEnvironment(const char* name, const char* fallback) {
    const QString host = qEnvironmentVariable(name);
    return host.isEmpty() ? QString::fromLatin1(fallback) : host;
}

QString createdAbsolute(const QString& path) {
    QDir().mkpath(path);
    return QDir(path).absolutePath();
}

// Orders two dotted version texts field by field as decimal numbers (<0, 0, >0); a missing or
// unreadable field counts as 0, so "" is 0 and "2" equals "2.0.0.0".
int compareVersionTexts(const QString& left, const QString& right) {
    const QStringList a = left.split(QLatin1Char('.'));
    const QStringList b = right.split(QLatin1Char('.'));
    for (int i = 0; i < qMax(a.size(), b.size()); ++i) {
        const qlonglong x = a.value(i).toLongLong();
        const qlonglong y = b.value(i).toLongLong();
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

bool sameOrInside(const QString& path, const QString& folder) {
    const QString p = QFileInfo(path).absoluteFilePath();
    const QString f = QFileInfo(folder).absoluteFilePath();
    return p == f || p.startsWith(f + QLatin1Char('/'));
}

struct ProductRegistryEntry {
    const char* productKey;
    const char* parentKey;
    const char* subkey;
};

const ProductRegistryEntry kProductRegistryKeys[] = {
    {"Vexilo Pellume v3", "SOFTWARE\\Keltrix\\", "Vexilo Pellume v3"},
    {"Vexilo Benchly v3", "SOFTWARE\\Keltrix\\", "Vexilo Benchly"},
    {"Vexilo Deskra v3", "SOFTWARE\\Keltrix\\", "Vexilo Deskra"},
    {"Vexilo Norvik", "SOFTWARE\\Keltrix\\", "Vexilo Norvik"},
    {"Servra", "SOFTWARE\\Keltrix\\", "Servra"},
    {"Vexilo Fildra", "SOFTWARE\\Keltrix\\", "Vexilo Fildra"},
    {"Solvane Photo", "SOFTWARE\\Solvane Vizoruv Labs\\", "Solvane Photo"},
    {"Solvane Photo 2", "SOFTWARE\\Solvane Vizoruv Labs\\", "Solvane Photo 2"},
    {"Ambrel Set", "SOFTWARE\\Solvane Vizoruv Labs\\", "Ambrel Set"},
    {"Quorin Set", "SOFTWARE\\Solvane Vizoruv Labs\\", "Quorin Set"},
    {"Tessily Set", "SOFTWARE\\Solvane Vizoruv Labs\\", "Tessily Set"},
    {"Mavrel Set", "SOFTWARE\\Solvane Vizoruv Labs\\", "Mavrel Set"},
};

}  // namespace

// --- Identity and names ----------------------------------------------------------------------

void AppEnvironment::setAppIdentity(const QString& identity) {
    g_identity = identity.toUtf8();
    g_identitySet = true;
}

void AppEnvironment::clearAppIdentity() {
    g_identity.clear();
    g_identitySet = false;
}

QString AppEnvironment::appIdentity() {
    return g_identitySet ? QString::fromUtf8(g_identity) : QString::fromLatin1(kUnsupportedIdentity);
}

AppEnvironment::IdentityKind AppEnvironment::identityKind() {
    const QString identity = appIdentity();
    if (identity == QLatin1String(kPhoto2Identity) || identity == QLatin1String(kPhotoIdentity))
        return IdentityKind::Photo;
    if (identity == QLatin1String(kManagerIdentity))
        return IdentityKind::Manager;
    return IdentityKind::Other;
}

bool AppEnvironment::isPhotoIdentity() { return identityKind() == IdentityKind::Photo; }

bool AppEnvironment::isManagerIdentity() { return identityKind() == IdentityKind::Manager; }

void AppEnvironment::setApplicationNames(const QString& organisation, const QString& application, const QString& version) {
    QCoreApplication::setOrganizationName(organisation);
    QCoreApplication::setApplicationName(application);
    QCoreApplication::setApplicationVersion(version);
}

// --- Folders ---------------------------------------------------------------------------------

QString AppEnvironment::sharedDataFolderName() {
    return identityKind() == IdentityKind::Other ? QStringLiteral("/Vexilo Shared") : QStringLiteral("/Solvane Photo 2");
}

QString AppEnvironment::sharedDataPath(bool allUsers) {
    if (!allUsers) {
        const QString appData = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        return QFileInfo(appData).absolutePath() + sharedDataFolderName();
    }
    const QStringList appDataFolders = QStandardPaths::standardLocations(QStandardPaths::AppDataLocation);
    if (appDataFolders.size() < 2)
        return QString();
    const QString machineAppData = QDir(appDataFolders.at(1)).absolutePath();
    return machineAppData.left(machineAppData.lastIndexOf(QLatin1Char('/'))) + sharedDataFolderName();
}

QString AppEnvironment::presetsPath() {
    const QString folder = identityKind() == IdentityKind::Other ? QStringLiteral("/presets-v3/") : QStringLiteral("/Presets/");
    return sharedDataPath(false) + folder;
}

QString AppEnvironment::looksPath() { return sharedDataPath(false) + QStringLiteral("/Looks/"); }

QString AppEnvironment::rawEnginePath() { return sharedDataPath(false) + QStringLiteral("/rawengine"); }

QString AppEnvironment::pendingUploadsPath() { return sharedDataPath(false) + QStringLiteral("/PendingUploads/"); }

QString AppEnvironment::appTrackPath() { return genericCachePath() + QLatin1Char('/') + organisation() + QStringLiteral("/apptrack/"); }

QString AppEnvironment::helpPath(const QString& productName) {
    return createdAbsolute(genericCachePath() + QLatin1Char('/') + organisation() + QStringLiteral("/help/") + productName);
}

QString AppEnvironment::resourcesPath(const QString& productName) {
    return createdAbsolute(resourcesRoot() + QLatin1Char('/') + productName);
}

QString AppEnvironment::resourcesRoot() {
    return genericCachePath() + QLatin1Char('/') + organisation() + QStringLiteral("/resources");
}

QString AppEnvironment::cachePath() { return QStandardPaths::writableLocation(QStandardPaths::CacheLocation); }

QString AppEnvironment::genericCachePath() { return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation); }

QPair<int, QFileInfo> AppEnvironment::latestHelpArchive(const QString& productName) {
    const QFileInfoList bundles = QDir(helpPath(productName))
                                      .entryInfoList({QStringLiteral("*.rcc")}, QDir::Files, QDir::Time | QDir::Reversed);
    QPair<int, QFileInfo> best(0, QFileInfo());
    for (const QFileInfo& bundle : bundles) {
        bool ok = false;
        const int number = bundle.completeBaseName().toInt(&ok, 10);
        if (ok && number > best.first)
            best = qMakePair(number, bundle);
    }
    return best;
}

// --- Server addresses ------------------------------------------------------------------------

QString AppEnvironment::urlScheme() {
    const QString scheme = qEnvironmentVariable("KELTRIX_APP_MANAGER_SCHEME");
    return scheme.isEmpty() ? QStringLiteral("https") : scheme;
}

QString AppEnvironment::brandHost() { return hostFromEnvironment("SOLVANE_BRAND_HOST", kBrandHostDefault); }

QString AppEnvironment::legacyHost() { return hostFromEnvironment("SOLVANE_LEGACY_HOST", kLegacyHostDefault); }

QString AppEnvironment::serverHost() { return identityKind() == IdentityKind::Other ? legacyHost() : brandHost(); }

int AppEnvironment::apiPort() { return portFromEnvironment("SOLVANE_API_PORT", kApiPortDefault); }

int AppEnvironment::updatePort() { return portFromEnvironment("SOLVANE_UPDATE_PORT", kUpdatePortDefault); }

QPair<QString, int> AppEnvironment::apiEndpoint() { return qMakePair(serverHost(), apiPort()); }

static QUrl apiUrl(const QString& path) {
    const QPair<QString, int> endpoint = AppEnvironment::apiEndpoint();
    QUrl url;
    url.setScheme(AppEnvironment::urlScheme());
    url.setHost(endpoint.first);
    url.setPort(endpoint.second);
    url.setPath(path);
    return url;
}

QUrl AppEnvironment::productsUrl() {
    return apiUrl(QStringLiteral("/products/") + QCoreApplication::applicationVersion() + QLatin1Char('/') +
                  QLatin1String(kPlatformName) + QStringLiteral("/uid"));
}

QUrl AppEnvironment::messagesUrl() {
    QUrl url = apiUrl(QStringLiteral("/messages/") + QCoreApplication::applicationVersion() + QLatin1Char('/'));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("lang"), QLocale::system().name());
    url.setQuery(query);
    return url;
}

QUrl AppEnvironment::appcastUrl() {
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(serverHost());
    url.setPort(updatePort());
    url.setPath(QLatin1Char('/') + QLatin1String(kPlatformName) + QStringLiteral("/appcast.xml"));
    return url;
}

// --- Registry --------------------------------------------------------------------------------

QString AppEnvironment::sharedDataRegistryKey() {
    return identityKind() == IdentityKind::Photo ? QStringLiteral("SOFTWARE\\Solvane Vizoruv Labs\\Solvane Photo 2")
                                                 : QStringLiteral("SOFTWARE\\Keltrix\\Vexilo Shared");
}

static QString hiveRoot(bool machine) {
    return registry::hiveName(machine ? registry::Hive::LocalMachine : registry::Hive::CurrentUser) + QLatin1Char('\\');
}

QString AppEnvironment::registryValue(const QString& key, const QString& valueName, bool machine) {
    return registry::readValue(hiveRoot(machine) + key, valueName);
}

QString AppEnvironment::productRegistryKey(const QString& productKey) {
    for (const ProductRegistryEntry& entry : kProductRegistryKeys) {
        if (productKey == QLatin1String(entry.productKey))
            return QLatin1String(entry.parentKey) + QLatin1String(entry.subkey);
    }
    return QString();
}

QString AppEnvironment::installedExecutablePath(const QString& productKey) {
    const QString key = productRegistryKey(productKey);
    if (key.isEmpty())
        return QString();
    const QString userPath = registryValue(key, QStringLiteral("exePath"), false);
    return userPath.isEmpty() ? registryValue(key, QStringLiteral("exePath"), true) : userPath;
}

// --- Files and folders -----------------------------------------------------------------------

void AppEnvironment::prepareFolders() {
    QStringList folders = {cachePath(),     QStandardPaths::writableLocation(QStandardPaths::AppDataLocation),
                           genericCachePath(), appTrackPath(), presetsPath(), looksPath(), rawEnginePath()};
    if (identityKind() == IdentityKind::Other)
        folders << pendingUploadsPath();
    for (const QString& folder : folders)
        QDir().mkpath(folder);

    if (!g_identitySet)
        return;
    const QString key = sharedDataRegistryKey();
    const QString userVersion = registryValue(key, QStringLiteral("version"), false);
    const QString machineVersion = registryValue(key, QStringLiteral("version"), true);
    if (compareVersionTexts(userVersion, machineVersion) >= 0)
        return;
    const QString machineFolder = sharedDataPath(true);
    const QString userFolder = sharedDataPath(false);
    // Where both copies are one folder (a data path listed twice), copying would remove each
    // file before reading it.
    if (machineFolder.isEmpty() || !QFileInfo(machineFolder).isDir() ||
        QFileInfo(machineFolder).canonicalFilePath() == QFileInfo(userFolder).canonicalFilePath())
        return;
    const QFileInfoList subfolders = QDir(machineFolder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QFileInfo& subfolder : subfolders)
        copyFolder(subfolder.absoluteFilePath(), userFolder, true, true);
    registry::writeValue(hiveRoot(false) + key, QStringLiteral("version"), machineVersion);
}

bool AppEnvironment::copyFolder(const QString& source, const QString& destinationParent, bool overwrite, bool stopOnError) {
    const QFileInfo sourceInfo(source);
    if (!sourceInfo.isDir())
        return false;
    const QString destination = destinationParent + QLatin1Char('/') + sourceInfo.fileName();
    // A copy into the source itself would never end (and would replace files by themselves).
    if (sameOrInside(destination, sourceInfo.absoluteFilePath()))
        return false;
    if (!QDir().mkpath(destination))
        return false;
    const QFileInfoList entries = QDir(source).entryInfoList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir()) {
            if (!copyFolder(entry.absoluteFilePath(), destination, overwrite, true))
                return false;
            continue;
        }
        const QString target = destination + QLatin1Char('/') + entry.fileName();
        if (overwrite && QFileInfo::exists(target))
            QFile::remove(target);
        if (!QFile::copy(entry.absoluteFilePath(), target) && stopOnError)
            return false;
    }
    return true;
}

QString AppEnvironment::readWholeFile(const QString& path) {
    QFile file(path);
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (!file.exists()) {
        qCWarning(coreLogCategory) << "Can't find file:" << absolute;
        return QString();
    }
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(coreLogCategory) << "Can't open file:" << absolute;
        return QString();
    }
    return QString::fromUtf8(file.readAll());
}

// --- Fixed values ----------------------------------------------------------------------------

int AppEnvironment::currentPresetVersion() { return kPresetFormatVersion; }

QString AppEnvironment::presetFileExtension() { return isPhotoIdentity() ? QStringLiteral(".solvane") : QStringLiteral(".preset"); }

QSize AppEnvironment::thumbnailSize() { return isPhotoIdentity() ? QSize(112, 112) : QSize(172, 112); }

QString AppEnvironment::favoritesGroupName() { return tr("Favorites"); }

QString AppEnvironment::importedPresetsGroupName() { return tr("Imported Presets"); }

FaceModel* AppEnvironment::faceCalcModelA() { return nullptr; }

FaceModel* AppEnvironment::faceCalcModelB() { return nullptr; }

FaceModel* AppEnvironment::faceCalcModelC() { return nullptr; }

bool AppEnvironment::bgmParamsIgnored() { return false; }

bool AppEnvironment::isLimitedMode() { return kApplicationMode == 3 || kApplicationMode == 4; }

QHash<QString, double>& AppEnvironment::thumbnailAspectRatios() {
    static QHash<QString, double> ratios{{QString(), 1.5}};
    return ratios;
}
