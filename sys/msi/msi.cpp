// The installer: configuration, the product database, install, enumeration, product
// information and removal. The message library is in messages.cpp.
#include "sys/msi/msi.h"

#include "sys/json/strict_json.h"
#include "sys/msi/package.h"
#include "sys/registry/registry.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>

namespace {

// --- Configuration -----------------------------------------------------------------------------

std::mutex g_configMutex;
QString g_rootFolder;    // msiSetRootFolder; empty: default
std::atomic<INSTALLUILEVEL> g_uiLevel{INSTALLUILEVEL_BASIC};

bool proceedWithoutAsking(MsiUserQuestion, const std::u16string&) { return true; }
std::atomic<MsiUserInterface> g_userInterface{&proceedWithoutAsking};

// Packages opened with MsiOpenPackageExW, by handle.
std::mutex g_packagesMutex;
std::map<MSIHANDLE, msipackage::Manifest> g_openPackages;
MSIHANDLE g_lastHandle = 0;

// Serialises installs and removals inside the process; the lock file does so between processes.
std::mutex g_installMutex;
constexpr int kLockWaitMs = 5000;

const char kDatabaseFile[] = "products.json";
const char kProgramsFolder[] = "Programs";
const char kExePathValue[] = "exePath";

QString rootFolder() {
    std::lock_guard<std::mutex> lock(g_configMutex);
    if (!g_rootFolder.isEmpty())
        return g_rootFolder;
    const QString fromEnvironment = qEnvironmentVariable("SOLVANE_MSI_ROOT");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/solvane-installer");
}

QString programsFolder() { return rootFolder() + QLatin1Char('/') + QLatin1String(kProgramsFolder); }

bool userGoesAhead(MsiUserQuestion question, const QString& productName) {
    if (g_uiLevel.load() == INSTALLUILEVEL_NONE)
        return true;
    return g_userInterface.load()(question, productName.toStdU16String());
}

// --- Product database --------------------------------------------------------------------------

struct InstalledProduct {
    QString productCode;
    QString upgradeCode;
    QString productName;
    QString publisher;
    QString versionString;
    QString installLocation;  // absolute
    QString registryKey;      // below HKEY_CURRENT_USER; empty: none
    QList<msipackage::PackageSetting> settings;  // registered by the package, removed with it
    QStringList files;        // relative to installLocation
};

// The native settings store a package setting lives in.
std::unique_ptr<QSettings> settingsStore(const msipackage::PackageSetting& setting) {
    return std::make_unique<QSettings>(QSettings::NativeFormat,
                                       setting.machine ? QSettings::SystemScope : QSettings::UserScope,
                                       setting.organization, setting.application);
}

bool sameSetting(const msipackage::PackageSetting& a, const msipackage::PackageSetting& b) {
    return a.machine == b.machine && a.organization == b.organization && a.application == b.application &&
           a.key == b.key;
}

void removeSetting(const msipackage::PackageSetting& setting) {
    std::unique_ptr<QSettings> store = settingsStore(setting);
    store->remove(setting.key);
    // A group the product's settings leave empty goes too.
    const int slash = setting.key.lastIndexOf(QLatin1Char('/'));
    if (slash > 0) {
        store->beginGroup(setting.key.left(slash));
        const bool empty = store->allKeys().isEmpty();
        store->endGroup();
        if (empty)
            store->remove(setting.key.left(slash));
    }
    store->sync();
}

QString userKeyPath(const QString& key) { return QStringLiteral("HKEY_CURRENT_USER\\") + key; }

// Loads the database; a missing file is an empty database. ERROR_BAD_CONFIGURATION when it is
// damaged: it is then never overwritten.
unsigned loadDatabase(QList<InstalledProduct>* products) {
    products->clear();
    QFile file(rootFolder() + QLatin1Char('/') + QLatin1String(kDatabaseFile));
    if (!file.exists())
        return ERROR_SUCCESS;
    if (!file.open(QIODevice::ReadOnly))
        return ERROR_BAD_CONFIGURATION;
    const QJsonDocument document = strictjson::parse(file.readAll());
    const QJsonValue list = document.object().value(QStringLiteral("Products"));
    if (!list.isArray())
        return ERROR_BAD_CONFIGURATION;
    for (const QJsonValue& value : list.toArray()) {
        const QJsonObject object = value.toObject();
        InstalledProduct product;
        product.productCode = object.value(QStringLiteral("ProductCode")).toString();
        product.upgradeCode = object.value(QStringLiteral("UpgradeCode")).toString();
        product.productName = object.value(QStringLiteral("ProductName")).toString();
        product.publisher = object.value(QStringLiteral("Publisher")).toString();
        product.versionString = object.value(QStringLiteral("VersionString")).toString();
        product.installLocation = object.value(QStringLiteral("InstallLocation")).toString();
        product.registryKey = object.value(QStringLiteral("RegistryKey")).toString();
        product.settings = msipackage::settingsFromJson(object.value(QStringLiteral("Settings")).toArray());
        for (const QJsonValue& path : object.value(QStringLiteral("Files")).toArray())
            product.files << path.toString();
        if (!msipackage::isProductCode(product.productCode) || !QDir::isAbsolutePath(product.installLocation))
            return ERROR_BAD_CONFIGURATION;
        for (const QString& path : product.files) {
            if (!msipackage::isSafeRelativePath(path))
                return ERROR_BAD_CONFIGURATION;
        }
        for (const msipackage::PackageSetting& setting : product.settings) {
            if (!msipackage::isSafeName(setting.organization) || !msipackage::isSafeName(setting.application))
                return ERROR_BAD_CONFIGURATION;
        }
        products->append(product);
    }
    return ERROR_SUCCESS;
}

bool saveDatabase(const QList<InstalledProduct>& products) {
    QJsonArray list;
    for (const InstalledProduct& product : products) {
        list.append(QJsonObject{{QStringLiteral("ProductCode"), product.productCode},
                                {QStringLiteral("UpgradeCode"), product.upgradeCode},
                                {QStringLiteral("ProductName"), product.productName},
                                {QStringLiteral("Publisher"), product.publisher},
                                {QStringLiteral("VersionString"), product.versionString},
                                {QStringLiteral("InstallLocation"), product.installLocation},
                                {QStringLiteral("RegistryKey"), product.registryKey},
                                {QStringLiteral("Settings"), msipackage::settingsToJson(product.settings)},
                                {QStringLiteral("Files"), QJsonArray::fromStringList(product.files)}});
    }
    if (!QDir().mkpath(rootFolder()))
        return false;
    QSaveFile file(rootFolder() + QLatin1Char('/') + QLatin1String(kDatabaseFile));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(QJsonObject{{QStringLiteral("Products"), list}}).toJson());
    return file.commit();
}

int findProduct(const QList<InstalledProduct>& products, const QString& code) {
    for (int i = 0; i < products.size(); ++i) {
        if (products[i].productCode == code)
            return i;
    }
    return -1;
}

// Deletes the product's files and then the folders they leave empty, up to and including its
// install location; files it did not install stay.
void removeInstalledFiles(const InstalledProduct& product) {
    const QDir location(product.installLocation);
    QSet<QString> folders;
    for (const QString& path : product.files) {
        QFile::remove(location.filePath(path));
        for (QString folder = QFileInfo(path).path(); folder != QLatin1String("."); folder = QFileInfo(folder).path())
            folders.insert(folder);
    }
    QStringList deepestFirst = folders.values();
    std::sort(deepestFirst.begin(), deepestFirst.end(),
              [](const QString& a, const QString& b) { return a.count(QLatin1Char('/')) > b.count(QLatin1Char('/')); });
    for (const QString& folder : deepestFirst)
        location.rmdir(folder);
    QDir().rmdir(product.installLocation);
}

// --- Installation ------------------------------------------------------------------------------

// The value of ACTION in a command line of PROPERTY=VALUE pairs ("INSTALL" when not given);
// false for a malformed line.
bool parseCommandLine(const QString& commandLine, QString* action) {
    static const QRegularExpression pair(QStringLiteral("\\G\\s*([A-Za-z_][A-Za-z0-9_.]*)=(\"[^\"]*\"|[^\\s\"]*)\\s*"));
    *action = QStringLiteral("INSTALL");
    int position = 0;
    while (position < commandLine.size()) {
        const QRegularExpressionMatch match = pair.match(commandLine, position);
        if (!match.hasMatch() || match.capturedLength() == 0)
            return commandLine.midRef(position).trimmed().isEmpty();
        QString value = match.captured(2);
        if (value.startsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        if (match.captured(1) == QLatin1String("ACTION"))
            *action = value;
        position = match.capturedEnd();
    }
    return true;
}

// Keeps what an install replaces until the new product is in place, and puts it back when the
// install fails.
class InstallTransaction {
public:
    InstallTransaction(const QString& target, const QString& registryKey)
        : target_(target), registryKey_(registryKey) {
        if (!registryKey_.isEmpty())
            oldExePath_ = registry::readValue(userKeyPath(registryKey_), QLatin1String(kExePathValue));
    }

    ~InstallTransaction() {
        if (committed_)
            return;
        if (movedIn_)
            QDir(target_).removeRecursively();
        if (!backup_.isEmpty())
            QDir().rename(backup_, target_);
        if (registryWritten_) {
            if (oldExePath_.isEmpty())
                registry::removeValue(userKeyPath(registryKey_), QLatin1String(kExePathValue));
            else
                registry::writeValue(userKeyPath(registryKey_), QLatin1String(kExePathValue), oldExePath_);
        }
        // Settings go back to what they were, in reverse order of writing.
        for (auto it = oldSettings_.crbegin(); it != oldSettings_.crend(); ++it) {
            std::unique_ptr<QSettings> store = settingsStore(it->first);
            if (it->second.isValid())
                store->setValue(it->first.key, it->second);
            else
                removeSetting(it->first);
        }
    }

    // Moves the staged files to the target; an existing target is set aside first.
    bool moveIn(const QString& staged, const QString& scratch) {
        if (QFileInfo::exists(target_)) {
            backup_ = scratch + QStringLiteral("/previous");
            if (!QDir().rename(target_, backup_)) {
                backup_.clear();
                return false;
            }
        }
        if (!QDir().mkpath(QFileInfo(target_).absolutePath()) || !QDir().rename(staged, target_))
            return false;
        movedIn_ = true;
        return true;
    }

    bool writeExePath(const QString& exePath) {
        registryWritten_ = true;
        return registry::writeValue(userKeyPath(registryKey_), QLatin1String(kExePathValue), exePath);
    }

    bool writeSettings(const QList<msipackage::PackageSetting>& settings) {
        for (const msipackage::PackageSetting& setting : settings) {
            std::unique_ptr<QSettings> store = settingsStore(setting);
            oldSettings_.append({setting, store->value(setting.key)});
            store->setValue(setting.key, setting.value);
            store->sync();
            if (store->status() != QSettings::NoError)
                return false;
        }
        return true;
    }

    void commit() { committed_ = true; }

private:
    QString target_;
    QString registryKey_;
    QString oldExePath_;
    QString backup_;
    bool movedIn_ = false;
    bool registryWritten_ = false;
    QList<QPair<msipackage::PackageSetting, QVariant>> oldSettings_;  // invalid value: was absent
    bool committed_ = false;
};

unsigned installLocked(const QString& packagePath) {
    QList<InstalledProduct> products;
    const unsigned loaded = loadDatabase(&products);
    if (loaded != ERROR_SUCCESS)
        return loaded;

    msipackage::PackageReader package;
    QString reason;
    const unsigned opened = package.open(packagePath, &reason);
    if (opened != ERROR_SUCCESS)
        return opened;
    const msipackage::Manifest& manifest = package.manifest();
    if (!userGoesAhead(MsiUserQuestion::Install, manifest.productName))
        return ERROR_INSTALL_USEREXIT;

    const QString programs = programsFolder();
    if (!QDir().mkpath(programs))
        return ERROR_INSTALL_FAILURE;
    QTemporaryDir scratch(programs + QStringLiteral("/.install-XXXXXX"));
    const QString staged = scratch.path() + QStringLiteral("/files");
    if (!scratch.isValid() || !QDir().mkpath(staged))
        return ERROR_INSTALL_FAILURE;
    const unsigned extracted = package.extractTo(staged, &reason);
    if (extracted != ERROR_SUCCESS)
        return extracted;

    InstalledProduct installed;
    installed.productCode = manifest.productCode;
    installed.upgradeCode = manifest.upgradeCode;
    installed.productName = manifest.productName;
    installed.publisher = manifest.publisher;
    installed.versionString = manifest.productVersion;
    installed.installLocation = QDir(programs).absoluteFilePath(manifest.installFolder);
    installed.registryKey = manifest.registryKey;
    installed.settings = manifest.settings;
    for (const msipackage::PackageFile& file : manifest.files)
        installed.files << file.path;

    // The products this one replaces: the same product, or another of its upgrade family.
    QList<InstalledProduct> kept;
    QList<InstalledProduct> replaced;
    for (const InstalledProduct& product : products) {
        const bool sameFamily = !manifest.upgradeCode.isEmpty() && product.upgradeCode == manifest.upgradeCode;
        (product.productCode == manifest.productCode || sameFamily ? replaced : kept).append(product);
    }

    InstallTransaction transaction(installed.installLocation, installed.registryKey);
    if (!transaction.moveIn(staged, scratch.path()))
        return ERROR_INSTALL_FAILURE;
    if (!installed.registryKey.isEmpty() && !manifest.executablePath.isEmpty() &&
        !transaction.writeExePath(QDir::toNativeSeparators(QDir(installed.installLocation).filePath(manifest.executablePath))))
        return ERROR_INSTALL_FAILURE;
    if (!transaction.writeSettings(installed.settings))
        return ERROR_INSTALL_FAILURE;
    kept.append(installed);
    if (!saveDatabase(kept))
        return ERROR_INSTALL_FAILURE;
    transaction.commit();

    // What the replaced products had elsewhere goes; their registry values were overwritten or
    // belong to another key and are removed with them.
    for (const InstalledProduct& product : replaced) {
        if (QFileInfo(product.installLocation) != QFileInfo(installed.installLocation))
            removeInstalledFiles(product);
        if (!product.registryKey.isEmpty() && product.registryKey != installed.registryKey)
            registry::removeValue(userKeyPath(product.registryKey), QLatin1String(kExePathValue));
        for (const msipackage::PackageSetting& setting : product.settings) {
            const bool rewritten = std::any_of(installed.settings.cbegin(), installed.settings.cend(),
                                               [&](const msipackage::PackageSetting& s) { return sameSetting(s, setting); });
            if (!rewritten)
                removeSetting(setting);
        }
    }

    if (manifest.restart == QLatin1String("required"))
        return ERROR_SUCCESS_REBOOT_REQUIRED;
    if (manifest.restart == QLatin1String("initiated"))
        return ERROR_SUCCESS_REBOOT_INITIATED;
    return ERROR_SUCCESS;
}

// Runs `work` holding both the in-process and the cross-process installer lock.
template <class Work>
unsigned underInstallerLock(Work work) {
    std::lock_guard<std::mutex> lock(g_installMutex);
    if (!QDir().mkpath(rootFolder()))
        return ERROR_INSTALL_FAILURE;
    QLockFile lockFile(rootFolder() + QStringLiteral("/.installer.lock"));
    if (!lockFile.tryLock(kLockWaitMs))
        return ERROR_INSTALL_ALREADY_RUNNING;
    return work();
}

unsigned removeLocked(const QString& code) {
    QList<InstalledProduct> products;
    const unsigned loaded = loadDatabase(&products);
    if (loaded != ERROR_SUCCESS)
        return loaded;
    const int index = findProduct(products, code);
    if (index < 0)
        return ERROR_UNKNOWN_PRODUCT;
    const InstalledProduct product = products[index];
    if (!userGoesAhead(MsiUserQuestion::Remove, product.productName))
        return ERROR_INSTALL_USEREXIT;
    // The database goes first: a product it no longer lists is gone, even if a file stays behind.
    products.removeAt(index);
    if (!saveDatabase(products))
        return ERROR_INSTALL_FAILURE;
    removeInstalledFiles(product);
    if (!product.registryKey.isEmpty())
        registry::removeValue(userKeyPath(product.registryKey), QLatin1String(kExePathValue));
    for (const msipackage::PackageSetting& setting : product.settings)
        removeSetting(setting);
    return ERROR_SUCCESS;
}

// Copies text into a caller's buffer of *length units (terminator included).
unsigned copyOut(const QString& text, char16_t* buffer, std::uint32_t* length) {
    const std::uint32_t capacity = *length;
    *length = std::uint32_t(text.size());
    if (!buffer)
        return ERROR_SUCCESS;
    if (std::uint32_t(text.size()) >= capacity)
        return ERROR_MORE_DATA;
    std::copy(text.utf16(), text.utf16() + text.size(), buffer);
    buffer[text.size()] = u'\0';
    return ERROR_SUCCESS;
}

}  // namespace

// --- Configuration -------------------------------------------------------------------------------

void msiSetRootFolder(const std::string& folder) {
    std::lock_guard<std::mutex> lock(g_configMutex);
    g_rootFolder = QString::fromStdString(folder);
}

std::string msiRootFolder() { return rootFolder().toStdString(); }

MsiUserInterface msiSetUserInterface(MsiUserInterface ui) {
    return g_userInterface.exchange(ui ? ui : &proceedWithoutAsking);
}

// --- Installer -----------------------------------------------------------------------------------

INSTALLUILEVEL MsiSetInternalUI(INSTALLUILEVEL level, void** window) {
    Q_UNUSED(window);
    if (level == INSTALLUILEVEL_NOCHANGE)
        return g_uiLevel.load();
    if (level < INSTALLUILEVEL_DEFAULT || level > INSTALLUILEVEL_FULL)
        return INSTALLUILEVEL_NOCHANGE;
    return g_uiLevel.exchange(level == INSTALLUILEVEL_DEFAULT ? INSTALLUILEVEL_BASIC : level);
}

unsigned MsiInstallProductW(const char16_t* packagePath, const char16_t* commandLine) {
    if (!packagePath || !*packagePath)
        return ERROR_INVALID_PARAMETER;
    QString action;
    if (!parseCommandLine(commandLine ? QString::fromUtf16(commandLine) : QString(), &action))
        return ERROR_INVALID_COMMAND_LINE;
    if (action.compare(QLatin1String("INSTALL"), Qt::CaseInsensitive) != 0)
        return ERROR_INVALID_COMMAND_LINE;
    const QString path = QDir::fromNativeSeparators(QString::fromUtf16(packagePath));
    return underInstallerLock([&] { return installLocked(path); });
}

unsigned MsiEnumProductsW(std::uint32_t index, char16_t* productCode) {
    if (!productCode)
        return ERROR_INVALID_PARAMETER;
    QList<InstalledProduct> products;
    const unsigned loaded = loadDatabase(&products);
    if (loaded != ERROR_SUCCESS)
        return loaded;
    if (index >= std::uint32_t(products.size()))
        return ERROR_NO_MORE_ITEMS;
    std::uint32_t length = kMsiProductCodeLength + 1;
    return copyOut(products[int(index)].productCode, productCode, &length);
}

unsigned MsiGetProductInfoW(const char16_t* productCode, const char16_t* property, char16_t* value,
                            std::uint32_t* valueLength) {
    if (!productCode || !property || (value && !valueLength))
        return ERROR_INVALID_PARAMETER;
    QList<InstalledProduct> products;
    const unsigned loaded = loadDatabase(&products);
    if (loaded != ERROR_SUCCESS)
        return loaded;
    const int index = findProduct(products, QString::fromUtf16(productCode));
    if (index < 0)
        return ERROR_UNKNOWN_PRODUCT;
    const InstalledProduct& product = products[index];
    const QString name = QString::fromUtf16(property);
    QString text;
    if (name == QLatin1String("ProductName"))
        text = product.productName;
    else if (name == QLatin1String("Publisher"))
        text = product.publisher;
    else if (name == QLatin1String("VersionString"))
        text = product.versionString;
    else if (name == QLatin1String("InstallLocation"))
        text = QDir::toNativeSeparators(product.installLocation);
    else
        return ERROR_UNKNOWN_PROPERTY;
    if (!valueLength)
        return ERROR_SUCCESS;
    return copyOut(text, value, valueLength);
}

unsigned MsiOpenPackageExW(const char16_t* packagePath, std::uint32_t options, MSIHANDLE* product) {
    if (!packagePath || !*packagePath || !product || (options & ~MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE))
        return ERROR_INVALID_PARAMETER;
    msipackage::PackageReader package;
    QString reason;
    const unsigned opened = package.open(QDir::fromNativeSeparators(QString::fromUtf16(packagePath)), &reason);
    if (opened != ERROR_SUCCESS)
        return opened;
    std::lock_guard<std::mutex> lock(g_packagesMutex);
    do
        ++g_lastHandle;
    while (g_lastHandle == 0 || g_openPackages.count(g_lastHandle));
    g_openPackages[g_lastHandle] = package.manifest();
    *product = g_lastHandle;
    return ERROR_SUCCESS;
}

unsigned MsiGetProductPropertyW(MSIHANDLE product, const char16_t* property, char16_t* value,
                                std::uint32_t* valueLength) {
    if (!property || (value && !valueLength))
        return ERROR_INVALID_PARAMETER;
    msipackage::Manifest manifest;
    {
        std::lock_guard<std::mutex> lock(g_packagesMutex);
        const auto found = g_openPackages.find(product);
        if (found == g_openPackages.end())
            return ERROR_INVALID_HANDLE;
        manifest = found->second;
    }
    const QString name = QString::fromUtf16(property);
    QString text;
    if (name == QLatin1String("ProductName"))
        text = manifest.productName;
    else if (name == QLatin1String("ProductCode"))
        text = manifest.productCode;
    else if (name == QLatin1String("ProductVersion"))
        text = manifest.productVersion;
    else if (name == QLatin1String("Manufacturer"))
        text = manifest.publisher;
    else if (name == QLatin1String("UpgradeCode"))
        text = manifest.upgradeCode;
    else
        return ERROR_UNKNOWN_PROPERTY;
    if (!valueLength)
        return ERROR_SUCCESS;
    return copyOut(text, value, valueLength);
}

unsigned MsiCloseHandle(MSIHANDLE handle) {
    std::lock_guard<std::mutex> lock(g_packagesMutex);
    return g_openPackages.erase(handle) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

unsigned MsiConfigureProductW(const char16_t* productCode, int installLevel, INSTALLSTATE state) {
    Q_UNUSED(installLevel);
    if (!productCode || state != INSTALLSTATE_ABSENT)
        return ERROR_INVALID_PARAMETER;
    const QString code = QString::fromUtf16(productCode);
    return underInstallerLock([&] { return removeLocked(code); });
}
