#include "sys/msi/msi.h"

#include "sys/msi/package.h"
#include "sys/registry/registry.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <functional>

namespace {

const char kCode[] = "{11111111-2222-3333-4444-555555555555}";
const char kUpgradeCode[] = "{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}";
const char kRegistryKey[] = "SOFTWARE\\Solvane Vizoruv Labs\\Ambrel Set";

std::u16string wide(const QString& text) { return text.toStdU16String(); }

msipackage::Manifest ambrelManifest(const QString& version = QStringLiteral("1.0.2.5")) {
    msipackage::Manifest manifest;
    manifest.productCode = QLatin1String(kCode);
    manifest.upgradeCode = QLatin1String(kUpgradeCode);
    manifest.productName = QStringLiteral("Ambrel Set");
    manifest.publisher = QStringLiteral("Solvane Vizoruv Labs");
    manifest.productVersion = version;
    manifest.installFolder = QStringLiteral("Solvane Vizoruv Labs/Ambrel Set");
    manifest.registryKey = QLatin1String(kRegistryKey);
    manifest.executablePath = QStringLiteral("bin/ambrel");
    return manifest;
}

const QList<QPair<QString, QByteArray>> kAmbrelFiles = {{QStringLiteral("bin/ambrel"), "#!/bin/sh\necho ambrel\n"},
                                                       {QStringLiteral("looks/warm.cube"), "LUT_3D_SIZE 2\n"}};

// A private installer root, system folder and registry; the silent default interface.
class Installer : public ::testing::Test {
protected:
    void SetUp() override {
        msiSetRootFolder(path("root").toStdString());
        msiSetSystemFolder(path("system").toStdString());
        registry::setHiveFolder(registry::Hive::CurrentUser, path("registry"));
        registry::setHiveFolder(registry::Hive::LocalMachine, path("registry-machine"));
        msiSetUserInterface(nullptr);
        MsiSetInternalUI(INSTALLUILEVEL_FULL, nullptr);
    }
    void TearDown() override {
        msiSetRootFolder(std::string());
        msiSetSystemFolder(std::string());
        registry::setHiveFolder(registry::Hive::CurrentUser, QString());
        registry::setHiveFolder(registry::Hive::LocalMachine, QString());
        msiSetUserInterface(nullptr);
    }

    QString path(const QString& relative) const { return dir_.filePath(relative); }
    QString installFolder() const { return path("root/Programs/Solvane Vizoruv Labs/Ambrel Set"); }

    QString writePackage(const QString& name, const msipackage::Manifest& manifest,
                         const QList<QPair<QString, QByteArray>>& files = kAmbrelFiles) {
        QString error;
        EXPECT_TRUE(msipackage::writePackage(path(name), manifest, files, &error)) << error.toStdString();
        return path(name);
    }

    static unsigned install(const QString& package, const char16_t* commandLine = u"ACTION=INSTALL") {
        return MsiInstallProductW(wide(QDir::toNativeSeparators(package)).c_str(), commandLine);
    }

    static QStringList productCodes() {
        QStringList codes;
        char16_t code[kMsiProductCodeLength + 1];
        for (std::uint32_t index = 0; MsiEnumProductsW(index, code) == ERROR_SUCCESS; ++index)
            codes << QString::fromUtf16(code);
        return codes;
    }

    static QString info(const char* property, unsigned* result = nullptr) {
        char16_t value[259];
        std::uint32_t length = 259;
        const unsigned code = MsiGetProductInfoW(wide(QLatin1String(kCode)).c_str(),
                                                 wide(QLatin1String(property)).c_str(), value, &length);
        if (result)
            *result = code;
        return code == ERROR_SUCCESS ? QString::fromUtf16(value, int(length)) : QString();
    }

    static QString exePath() { return registry::readValue(QStringLiteral("HKEY_CURRENT_USER\\") + kRegistryKey, "exePath"); }

    static unsigned remove(const char* code = kCode) {
        return MsiConfigureProductW(wide(QLatin1String(code)).c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
    }

    // Everything below the root except the lock file and an empty product list.
    QStringList leftovers() const {
        QStringList found;
        QDir programs(path("root/Programs"));
        for (const QString& entry : programs.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
            found << entry;
        return found;
    }

    QTemporaryDir dir_;
};

TEST_F(Installer, InstallsEnumeratesDescribesAndRemovesAProduct) {
    ASSERT_EQ(install(writePackage("ambrel.msi", ambrelManifest())), ERROR_SUCCESS);

    QFile program(installFolder() + "/bin/ambrel");
    ASSERT_TRUE(program.open(QIODevice::ReadOnly));
    EXPECT_EQ(program.readAll(), "#!/bin/sh\necho ambrel\n");
    EXPECT_TRUE(QFile::exists(installFolder() + "/looks/warm.cube"));
    EXPECT_EQ(productCodes(), QStringList{kCode});
    EXPECT_EQ(info("ProductName"), "Ambrel Set");
    EXPECT_EQ(info("Publisher"), "Solvane Vizoruv Labs");
    EXPECT_EQ(info("VersionString"), "1.0.2.5");
    EXPECT_EQ(info("InstallLocation"), installFolder());
    EXPECT_EQ(exePath(), installFolder() + "/bin/ambrel");

    unsigned result = 0;
    info("Language", &result);
    EXPECT_EQ(result, ERROR_UNKNOWN_PROPERTY);
    char16_t small[4];
    std::uint32_t length = 4;
    EXPECT_EQ(MsiGetProductInfoW(wide(kCode).c_str(), u"ProductName", small, &length), ERROR_MORE_DATA);
    EXPECT_EQ(length, 10u);
    EXPECT_EQ(MsiGetProductInfoW(u"{00000000-0000-0000-0000-000000000000}", u"ProductName", small, &length),
              ERROR_UNKNOWN_PRODUCT);
    EXPECT_EQ(MsiEnumProductsW(0, nullptr), ERROR_INVALID_PARAMETER);

    // A file the user added to the product's folder survives the removal.
    QFile userFile(installFolder() + "/looks/mine.cube");
    ASSERT_TRUE(userFile.open(QIODevice::WriteOnly));
    userFile.close();

    EXPECT_EQ(remove(), ERROR_SUCCESS);
    EXPECT_TRUE(productCodes().isEmpty());
    EXPECT_FALSE(QFile::exists(installFolder() + "/bin/ambrel"));
    EXPECT_FALSE(QFile::exists(installFolder() + "/bin"));
    EXPECT_TRUE(userFile.exists());
    EXPECT_TRUE(exePath().isEmpty());
    EXPECT_EQ(remove(), ERROR_UNKNOWN_PRODUCT);
    EXPECT_EQ(MsiConfigureProductW(wide(kCode).c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE(3)), ERROR_INVALID_PARAMETER);
}

TEST_F(Installer, BadPackagesAreRefusedAndLeaveNothingBehind) {
    const QString good = writePackage("good.msi", ambrelManifest());
    QFile goodFile(good);
    ASSERT_TRUE(goodFile.open(QIODevice::ReadOnly));
    const QByteArray bytes = goodFile.readAll();
    const int manifestEnd = 12 + int(qFromLittleEndian<quint32>(bytes.constData() + 8));

    auto withManifest = [&](const std::function<void(QByteArray&)>& edit) {
        QByteArray manifest = bytes.mid(12, manifestEnd - 12);
        edit(manifest);
        char size[4];
        qToLittleEndian<quint32>(quint32(manifest.size()), size);
        return bytes.left(8) + QByteArray(size, 4) + manifest + bytes.mid(manifestEnd);
    };
    QByteArray flipped = bytes;
    flipped[bytes.size() - 1] = char(flipped[bytes.size() - 1] ^ 0x20);
    QByteArray hugeManifest = bytes;
    qToLittleEndian<quint32>(0x7fffffff, hugeManifest.data() + 8);

    const struct {
        const char* name;
        QByteArray content;
        unsigned expected;
    } cases[] = {
        {"a text file", "demo installer package for ambrel-set\n", ERROR_INSTALL_PACKAGE_INVALID},
        {"an empty file", "", ERROR_INSTALL_PACKAGE_INVALID},
        {"cut inside the files", bytes.left(bytes.size() - 3), ERROR_INSTALL_PACKAGE_INVALID},
        {"cut inside the manifest", bytes.left(manifestEnd - 5), ERROR_INSTALL_PACKAGE_INVALID},
        {"bytes after the last file", bytes + "x", ERROR_INSTALL_PACKAGE_INVALID},
        {"a changed byte", flipped, ERROR_INSTALL_PACKAGE_INVALID},
        {"an oversized manifest size", hugeManifest, ERROR_INSTALL_PACKAGE_INVALID},
        {"a path out of the folder", withManifest([](QByteArray& m) { m.replace("looks/warm.cube", "../../../warm.cube"); }),
         ERROR_INSTALL_PACKAGE_INVALID},
        {"a negative size", withManifest([](QByteArray& m) { m.replace("\"Size\":14", "\"Size\":-14"); }),
         ERROR_INSTALL_PACKAGE_INVALID},
        {"a manifest that is not JSON", withManifest([](QByteArray& m) { m.replace("{", "["); }),
         ERROR_INSTALL_PACKAGE_INVALID},
        // Read by the last key it would name another product; such a manifest is refused whole.
        {"a key named twice", withManifest([](QByteArray& m) { m.replace("{\"Execut", "{\"ProductName\":\"Other\",\"Execut"); }),
         ERROR_INSTALL_PACKAGE_INVALID},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        QFile file(path("bad.msi"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(testCase.content);
        file.close();
        EXPECT_EQ(install(path("bad.msi")), testCase.expected);
        EXPECT_TRUE(productCodes().isEmpty());
        EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(", ").toStdString();
        EXPECT_FALSE(QFile::exists(path("warm.cube")));
    }
    EXPECT_EQ(install(path("missing.msi")), ERROR_INSTALL_PACKAGE_OPEN_FAILED);
    EXPECT_EQ(MsiInstallProductW(nullptr, u""), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(exePath().isEmpty());
}

TEST_F(Installer, CommandLineTakesPropertiesAndOnlyTheInstallAction) {
    const QString package = writePackage("ambrel.msi", ambrelManifest());
    EXPECT_EQ(install(package, u"ACTION=ADMIN"), ERROR_INVALID_COMMAND_LINE);
    EXPECT_EQ(install(package, u"ACTION=INSTALL /quiet"), ERROR_INVALID_COMMAND_LINE);
    EXPECT_EQ(install(package, u"ACTION=\"INSTALL"), ERROR_INVALID_COMMAND_LINE);
    EXPECT_TRUE(productCodes().isEmpty());
    EXPECT_EQ(install(package, u" REBOOT=ReallySuppress  ACTION=\"INSTALL\" "), ERROR_SUCCESS);
    EXPECT_EQ(install(package, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(productCodes().size(), 1);
}

bool g_asked = false;
bool cancelEverything(MsiUserQuestion, const std::u16string&) {
    g_asked = true;
    return false;
}

TEST_F(Installer, TheUserCanCancelUnlessTheInterfaceIsSilent) {
    const QString package = writePackage("ambrel.msi", ambrelManifest());
    msiSetUserInterface(&cancelEverything);
    g_asked = false;
    EXPECT_EQ(install(package), ERROR_INSTALL_USEREXIT);
    EXPECT_TRUE(g_asked);
    EXPECT_TRUE(productCodes().isEmpty());
    EXPECT_TRUE(leftovers().isEmpty());

    EXPECT_EQ(MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr), INSTALLUILEVEL_FULL);
    g_asked = false;
    EXPECT_EQ(install(package), ERROR_SUCCESS);
    EXPECT_FALSE(g_asked);

    EXPECT_EQ(MsiSetInternalUI(INSTALLUILEVEL_FULL, nullptr), INSTALLUILEVEL_NONE);
    EXPECT_EQ(remove(), ERROR_INSTALL_USEREXIT);
    EXPECT_EQ(productCodes().size(), 1);
    EXPECT_TRUE(QFile::exists(installFolder() + "/bin/ambrel"));
}

TEST_F(Installer, RestartRequestsAreSuccessCodes) {
    msipackage::Manifest manifest = ambrelManifest();
    manifest.restart = QStringLiteral("required");
    EXPECT_EQ(install(writePackage("required.msi", manifest)), ERROR_SUCCESS_REBOOT_REQUIRED);
    manifest.restart = QStringLiteral("initiated");
    EXPECT_EQ(install(writePackage("initiated.msi", manifest)), ERROR_SUCCESS_REBOOT_INITIATED);
    EXPECT_EQ(productCodes().size(), 1);
    EXPECT_TRUE(QFile::exists(installFolder() + "/bin/ambrel"));
}

TEST_F(Installer, ANewerPackageOfTheFamilyReplacesTheInstalledOne) {
    ASSERT_EQ(install(writePackage("v1.msi", ambrelManifest())), ERROR_SUCCESS);
    msipackage::Manifest newer = ambrelManifest(QStringLiteral("1.1.0.0"));
    newer.productCode = QStringLiteral("{11111111-2222-3333-4444-666666666666}");
    newer.installFolder = QStringLiteral("Solvane Vizoruv Labs/Ambrel Set 1.1");
    ASSERT_EQ(install(writePackage("v2.msi", newer, {{"bin/ambrel", "new"}})), ERROR_SUCCESS);

    EXPECT_EQ(productCodes(), QStringList{newer.productCode});
    EXPECT_FALSE(QFileInfo::exists(installFolder()));
    EXPECT_EQ(exePath(), installFolder() + " 1.1/bin/ambrel");
}

TEST_F(Installer, RegisteredSettingsComeWithTheProductAndGoWithIt) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, path("settings-machine"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path("settings-user"));
    auto setting = [](bool machine, const char* key, const char* value) {
        msipackage::PackageSetting entry;
        entry.machine = machine;
        entry.organization = QStringLiteral("Solvane Vizoruv Labs");
        entry.application = QStringLiteral("Solvane Manager");
        entry.key = QLatin1String(key);
        entry.value = QLatin1String(value);
        return entry;
    };
    auto value = [](QSettings::Scope scope, const char* key) {
        return QSettings(QSettings::NativeFormat, scope, "Solvane Vizoruv Labs", "Solvane Manager").value(key);
    };
    QSettings(QSettings::NativeFormat, QSettings::SystemScope, "Solvane Vizoruv Labs", "Solvane Manager")
        .setValue("ambrel set/time-utc", "kept");  // not the product's: survives it

    msipackage::Manifest first = ambrelManifest();
    first.settings = {setting(true, "ambrel set/version", "1.0.2.5"), setting(true, "ambrel set/channel", "beta"),
                      setting(false, "ambrel set/seen", "1")};
    ASSERT_EQ(install(writePackage("first.msi", first)), ERROR_SUCCESS);
    EXPECT_EQ(value(QSettings::SystemScope, "ambrel set/version"), "1.0.2.5");
    EXPECT_EQ(value(QSettings::SystemScope, "ambrel set/channel"), "beta");
    EXPECT_EQ(value(QSettings::UserScope, "ambrel set/seen"), "1");

    // An upgrade writes its own settings and takes away those only the old version had.
    msipackage::Manifest second = ambrelManifest("1.1.0.0");
    second.productCode = QStringLiteral("{11111111-2222-3333-4444-666666666666}");
    second.settings = {setting(true, "ambrel set/version", "1.1.0.0")};
    ASSERT_EQ(install(writePackage("second.msi", second)), ERROR_SUCCESS);
    EXPECT_EQ(value(QSettings::SystemScope, "ambrel set/version"), "1.1.0.0");
    EXPECT_FALSE(value(QSettings::SystemScope, "ambrel set/channel").isValid());
    EXPECT_FALSE(value(QSettings::UserScope, "ambrel set/seen").isValid());

    ASSERT_EQ(remove("{11111111-2222-3333-4444-666666666666}"), ERROR_SUCCESS);
    EXPECT_FALSE(value(QSettings::SystemScope, "ambrel set/version").isValid());
    EXPECT_EQ(value(QSettings::SystemScope, "ambrel set/time-utc"), "kept");
}

TEST_F(Installer, AFailedReinstallKeepsTheInstalledProduct) {
    ASSERT_EQ(install(writePackage("v1.msi", ambrelManifest())), ERROR_SUCCESS);
    const QString newer = writePackage("v2.msi", ambrelManifest(QStringLiteral("2.0.0.0")), {{"bin/ambrel", "new"}});

    // The user's hive cannot be written: its folder is a file.
    QFile blocker(path("blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    registry::setHiveFolder(registry::Hive::CurrentUser, path("blocked/registry"));
    EXPECT_EQ(install(newer), ERROR_INSTALL_FAILURE);
    registry::setHiveFolder(registry::Hive::CurrentUser, path("registry"));

    EXPECT_EQ(info("VersionString"), "1.0.2.5");
    QFile program(installFolder() + "/bin/ambrel");
    ASSERT_TRUE(program.open(QIODevice::ReadOnly));
    EXPECT_EQ(program.readAll(), "#!/bin/sh\necho ambrel\n");
    EXPECT_TRUE(QFile::exists(installFolder() + "/looks/warm.cube"));
    EXPECT_EQ(exePath(), installFolder() + "/bin/ambrel");
    EXPECT_EQ(leftovers(), QStringList{"Solvane Vizoruv Labs"});
}

TEST_F(Installer, ADamagedProductDatabaseIsReportedAndKept) {
    QDir().mkpath(path("root"));
    QFile database(path("root/products.json"));
    ASSERT_TRUE(database.open(QIODevice::WriteOnly));
    database.write("{\"Products\": [ {\"ProductCode\": ");
    database.close();

    char16_t code[kMsiProductCodeLength + 1];
    EXPECT_EQ(MsiEnumProductsW(0, code), ERROR_BAD_CONFIGURATION);
    EXPECT_EQ(install(writePackage("ambrel.msi", ambrelManifest())), ERROR_BAD_CONFIGURATION);
    ASSERT_TRUE(database.open(QIODevice::ReadOnly));
    EXPECT_EQ(database.readAll(), "{\"Products\": [ {\"ProductCode\": ");
}

TEST_F(Installer, SettingsThatWouldLeaveTheSettingsFolderAreRefused) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path("config/settings"));
    msipackage::PackageSetting setting;
    setting.organization = QStringLiteral("Solvane Vizoruv Labs");
    setting.application = QStringLiteral("Solvane Manager");
    setting.key = QStringLiteral("ambrel set/seen");
    setting.value = QStringLiteral("1");
    msipackage::Manifest manifest = ambrelManifest();
    manifest.settings = {setting};
    QFile good(writePackage("good.msi", manifest));
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    const QByteArray bytes = good.readAll();

    // A package made elsewhere: the names are patched in, keeping the manifest's size.
    const struct {
        const char* organization;
        const char* application;
    } stores[] = {{"../../outside-config", "Solvane Manager"}, {"Solvane Vizoruv Labs", "../../../../../outs"},
                  {"..", "Solvane Manager"}, {"Solvane/Vizoruv/Labs", "Solvane Manager"}};
    for (const auto& store : stores) {
        SCOPED_TRACE(store.organization + std::string(" / ") + store.application);
        QByteArray patched = bytes;
        patched.replace("\"Organization\":\"Solvane Vizoruv Labs\"",
                        QByteArray("\"Organization\":\"") + store.organization + "\"");
        patched.replace("\"Application\":\"Solvane Manager\"", QByteArray("\"Application\":\"") + store.application + "\"");
        const int delta = patched.size() - bytes.size();
        qToLittleEndian<quint32>(quint32(qFromLittleEndian<quint32>(bytes.constData() + 8) + delta), patched.data() + 8);
        QFile file(path("bad.msi"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(patched);
        file.close();
        EXPECT_EQ(install(path("bad.msi")), ERROR_INSTALL_PACKAGE_INVALID);
        EXPECT_TRUE(productCodes().isEmpty());

        msipackage::Manifest refused = manifest;
        refused.settings[0].organization = QLatin1String(store.organization);
        refused.settings[0].application = QLatin1String(store.application);
        QString error;
        EXPECT_FALSE(msipackage::writePackage(path("refused.msi"), refused, kAmbrelFiles, &error));
        EXPECT_TRUE(error.contains(QLatin1String(store.organization))) << error.toStdString();
    }
    // Nothing was written anywhere: not outside, not in the settings folder itself.
    QStringList written;
    for (QDirIterator it(dir_.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString file = QDir(dir_.path()).relativeFilePath(it.next());
        if (!file.endsWith(".msi") && !file.startsWith("root/"))
            written << file;
    }
    EXPECT_TRUE(written.isEmpty()) << written.join(", ").toStdString();

    ASSERT_EQ(install(good.fileName()), ERROR_SUCCESS);
    EXPECT_EQ(QSettings("Solvane Vizoruv Labs", "Solvane Manager").value("ambrel set/seen"), "1");
}

TEST_F(Installer, OpenedPackagesAnswerTheirPropertiesWithoutInstalling) {
    const QString package = writePackage("ambrel.msi", ambrelManifest());
    MSIHANDLE handle = 0;
    ASSERT_EQ(MsiOpenPackageExW(wide(package).c_str(), MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE, &handle), ERROR_SUCCESS);
    auto property = [&](const char16_t* name, unsigned expected = ERROR_SUCCESS) {
        char16_t value[64];
        std::uint32_t length = 64;
        EXPECT_EQ(MsiGetProductPropertyW(handle, name, value, &length), expected);
        return expected == ERROR_SUCCESS ? QString::fromUtf16(value, int(length)) : QString();
    };
    EXPECT_EQ(property(u"ProductName"), "Ambrel Set");
    EXPECT_EQ(property(u"ProductCode"), kCode);
    EXPECT_EQ(property(u"ProductVersion"), "1.0.2.5");
    EXPECT_EQ(property(u"Manufacturer"), "Solvane Vizoruv Labs");
    EXPECT_EQ(property(u"UpgradeCode"), kUpgradeCode);
    property(u"Language", ERROR_UNKNOWN_PROPERTY);
    EXPECT_TRUE(productCodes().isEmpty());
    EXPECT_EQ(MsiCloseHandle(handle), ERROR_SUCCESS);
    property(u"ProductName", ERROR_INVALID_HANDLE);
    EXPECT_EQ(MsiCloseHandle(handle), ERROR_INVALID_HANDLE);

    QFile text(path("text.msi"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a package");
    text.close();
    EXPECT_EQ(MsiOpenPackageExW(wide(text.fileName()).c_str(), 0, &handle), ERROR_INSTALL_PACKAGE_INVALID);
    EXPECT_EQ(MsiOpenPackageExW(wide(path("missing.msi")).c_str(), 0, &handle), ERROR_INSTALL_PACKAGE_OPEN_FAILED);
    EXPECT_EQ(MsiOpenPackageExW(wide(package).c_str(), 0, nullptr), ERROR_INVALID_PARAMETER);
}

TEST(InstallerPackage, WritingRefusesManifestsThatCouldNotBeInstalled) {
    QTemporaryDir dir;
    const struct {
        const char* name;
        std::function<void(msipackage::Manifest&)> edit;
        QList<QPair<QString, QByteArray>> files;
    } cases[] = {
        {"lower-case product code", [](msipackage::Manifest& m) { m.productCode = QString(kUpgradeCode).toLower(); }, kAmbrelFiles},
        {"absolute install folder", [](msipackage::Manifest& m) { m.installFolder = "/opt/ambrel"; }, kAmbrelFiles},
        {"executable not among the files", [](msipackage::Manifest& m) { m.executablePath = "bin/other"; }, kAmbrelFiles},
        {"a file listed twice", [](msipackage::Manifest&) {}, kAmbrelFiles + kAmbrelFiles},
        {"a file that is also a folder", [](msipackage::Manifest&) {}, kAmbrelFiles + QList<QPair<QString, QByteArray>>{{"bin", ""}}},
        {"a backslash path", [](msipackage::Manifest&) {}, {{"bin\\ambrel", ""}}},
        {"an unknown restart kind", [](msipackage::Manifest& m) { m.restart = "later"; }, kAmbrelFiles},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        msipackage::Manifest manifest = ambrelManifest();
        testCase.edit(manifest);
        QString error;
        EXPECT_FALSE(msipackage::writePackage(dir.filePath("p.msi"), manifest, testCase.files, &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_FALSE(QFile::exists(dir.filePath("p.msi")));
    }
}

// --- Message library -----------------------------------------------------------------------------

class MessageLibrary : public ::testing::Test {
protected:
    void TearDown() override { msiSetSystemFolder(std::string()); }
    void useSystemFolderWith(const QByteArray* library) {
        msiSetSystemFolder(dir_.path().toStdString());
        QFile::remove(dir_.filePath("msimsg.dll"));
        if (!library)
            return;
        QFile file(dir_.filePath("msimsg.dll"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(*library);
    }
    QTemporaryDir dir_;
};

TEST_F(MessageLibrary, LooksUpTextsByResultCode) {
    QFile built(QStringLiteral(SOLVANE_MSI_MESSAGE_LIBRARY));
    ASSERT_TRUE(built.open(QIODevice::ReadOnly));
    const QByteArray content = built.readAll();
    useSystemFolderWith(&content);

    MsiModule* library = LoadLibraryExW(u"msimsg.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(library, nullptr);
    const char16_t* text = nullptr;
    const int length = LoadStringW(library, ERROR_INSTALL_USEREXIT, reinterpret_cast<char16_t*>(&text), 0);
    EXPECT_EQ(QString::fromUtf16(text, length), "The installation was cancelled by the user.");
    char16_t buffer[8];
    EXPECT_EQ(LoadStringW(library, ERROR_INSTALL_USEREXIT, buffer, 8), 7);
    EXPECT_EQ(QString::fromUtf16(buffer), "The ins");
    for (unsigned code : {ERROR_INSTALL_FAILURE, ERROR_INSTALL_PACKAGE_OPEN_FAILED, ERROR_INSTALL_PACKAGE_INVALID,
                          ERROR_INSTALL_ALREADY_RUNNING, ERROR_BAD_CONFIGURATION, ERROR_INVALID_COMMAND_LINE})
        EXPECT_GT(LoadStringW(library, code, buffer, 8), 0) << code;
    EXPECT_EQ(LoadStringW(library, 4242, reinterpret_cast<char16_t*>(&text), 0), 0);
    EXPECT_TRUE(FreeLibrary(library));
    EXPECT_FALSE(FreeLibrary(nullptr));

    EXPECT_EQ(LoadLibraryExW(u"msimsg.dll", nullptr, 0), nullptr);  // not as a data file: no code to run
    MsiModule* byPath = LoadLibraryExW(wide(dir_.filePath("msimsg.dll")).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_NE(byPath, nullptr);
    FreeLibrary(byPath);
}

TEST_F(MessageLibrary, MissingOrForeignLibrariesDoNotLoad) {
    useSystemFolderWith(nullptr);
    EXPECT_EQ(LoadLibraryExW(u"msimsg.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
    for (const QByteArray& foreign : {QByteArray("\x7f" "ELF\x02\x01\x01"), QByteArray("1602 twice\n1602 again\n"),
                                      QByteArray("# only a comment\n"), QByteArray("text without a number\n")}) {
        useSystemFolderWith(&foreign);
        EXPECT_EQ(LoadLibraryExW(u"msimsg.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr) << foreign.constData();
    }
}

}  // namespace
