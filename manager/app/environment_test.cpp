#include "manager/app/environment.h"
#include "manager/app/testing/test_environment.h"

#include "sys/registry/registry.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QUrlQuery>

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

const QString kVersionKey = QStringLiteral("SOFTWARE\\Keltrix\\Vexilo Shared");

TEST(AppEnvironment, IdentityDecidesTheDependentValues) {
    struct Case {
        QString identity;  // null: none set
        QString kind, folderName, registryKey, presets, extension, host;
        QSize thumbnail;
    };
    const Case cases[] = {
        {"Solvane Photo 2", "photo", "/Solvane Photo 2", "SOFTWARE\\Solvane Vizoruv Labs\\Solvane Photo 2", "/Presets/", ".solvane", "brand", {112, 112}},
        {"Solvane Photo", "photo", "/Solvane Photo 2", "SOFTWARE\\Solvane Vizoruv Labs\\Solvane Photo 2", "/Presets/", ".solvane", "brand", {112, 112}},
        {"Solvane Manager", "manager", "/Solvane Photo 2", kVersionKey, "/Presets/", ".preset", "brand", {172, 112}},
        {"solvane manager", "other", "/Vexilo Shared", kVersionKey, "/presets-v3/", ".preset", "legacy", {172, 112}},
        {QString(), "other", "/Vexilo Shared", kVersionKey, "/presets-v3/", ".preset", "legacy", {172, 112}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.identity.toStdString());
        TestEnvironment env(c.identity);
        env.setEnv("SOLVANE_BRAND_HOST", "brand");
        env.setEnv("SOLVANE_LEGACY_HOST", "legacy");
        EXPECT_EQ(AppEnvironment::appIdentity(), c.identity.isNull() ? QString("unsupported") : c.identity);
        EXPECT_EQ(AppEnvironment::isPhotoIdentity(), c.kind == "photo");
        EXPECT_EQ(AppEnvironment::isManagerIdentity(), c.kind == "manager");
        EXPECT_EQ(AppEnvironment::sharedDataFolderName(), c.folderName);
        EXPECT_EQ(AppEnvironment::sharedDataRegistryKey(), c.registryKey);
        EXPECT_EQ(AppEnvironment::presetsPath(), AppEnvironment::sharedDataPath(false) + c.presets);
        EXPECT_EQ(AppEnvironment::presetFileExtension(), c.extension);
        EXPECT_EQ(AppEnvironment::serverHost(), c.host);
        EXPECT_EQ(AppEnvironment::thumbnailSize(), c.thumbnail);
        EXPECT_EQ(AppEnvironment::currentPresetVersion(), 6);
    }
}

TEST(AppEnvironment, FoldersFollowTheNamesAndStandardLocations) {
    TestEnvironment env;
    EXPECT_EQ(AppEnvironment::sharedDataPath(false), env.path("data/Solvane Vizoruv Labs/Solvane Photo 2"));
    EXPECT_EQ(AppEnvironment::sharedDataPath(true), env.path("machine-data/Solvane Vizoruv Labs/Solvane Photo 2"));
    EXPECT_EQ(AppEnvironment::looksPath(), env.path("data/Solvane Vizoruv Labs/Solvane Photo 2/Looks/"));
    EXPECT_EQ(AppEnvironment::rawEnginePath(), env.path("data/Solvane Vizoruv Labs/Solvane Photo 2/rawengine"));
    EXPECT_EQ(AppEnvironment::cachePath(), env.path("cache/Solvane Vizoruv Labs/Solvane Manager"));
    EXPECT_EQ(AppEnvironment::appTrackPath(), env.path("cache/Solvane Vizoruv Labs/apptrack/"));
    const QString help = AppEnvironment::helpPath("Servra");
    EXPECT_EQ(help, env.path("cache/Solvane Vizoruv Labs/help/Servra"));
    EXPECT_TRUE(QFileInfo(help).isDir());
    EXPECT_TRUE(QFileInfo(AppEnvironment::resourcesPath("Servra")).isDir());
}

TEST(AppEnvironment, UrlsUseTheSchemeVariableButTheFeedStaysHttps) {
    TestEnvironment env;
    env.setEnv("SOLVANE_BRAND_HOST", "catalog.test");
    qunsetenv("KELTRIX_APP_MANAGER_SCHEME");
    EXPECT_EQ(AppEnvironment::productsUrl().toString(), "https://catalog.test:443/products/1.1.0.229/windows/uid");
    EXPECT_EQ(AppEnvironment::appcastUrl().toString(), "https://catalog.test:20080/windows/appcast.xml");

    env.setEnv("KELTRIX_APP_MANAGER_SCHEME", "");  // set but empty: a URL needs a scheme
    EXPECT_EQ(AppEnvironment::productsUrl().scheme(), "https");
    env.setEnv("KELTRIX_APP_MANAGER_SCHEME", "http");
    EXPECT_EQ(AppEnvironment::productsUrl().toString(), "http://catalog.test:443/products/1.1.0.229/windows/uid");
    const QUrl messages = AppEnvironment::messagesUrl();
    EXPECT_EQ(messages.scheme(), "http");
    EXPECT_EQ(messages.port(), 443);
    EXPECT_EQ(messages.path(), "/messages/1.1.0.229/");
    EXPECT_EQ(QUrlQuery(messages).queryItemValue("lang"), QLocale::system().name());
    EXPECT_EQ(AppEnvironment::appcastUrl().scheme(), "https");

    env.setEnv("SOLVANE_API_PORT", "8443");
    env.setEnv("SOLVANE_UPDATE_PORT", "not a port");
    EXPECT_EQ(AppEnvironment::apiEndpoint(), qMakePair(QString("catalog.test"), 8443));
    EXPECT_EQ(AppEnvironment::appcastUrl().port(), 20080);
}

TEST(AppEnvironment, InstalledExecutablePathPrefersTheUsersValue) {
    TestEnvironment env;
    const QString benchly = "SOFTWARE\\Keltrix\\Vexilo Benchly";
    ASSERT_TRUE(registry::writeValue("HKEY_LOCAL_MACHINE\\" + benchly, "exePath", "/machine/benchly"));
    EXPECT_EQ(AppEnvironment::installedExecutablePath("Vexilo Benchly v3"), "/machine/benchly");
    ASSERT_TRUE(registry::writeValue("HKEY_CURRENT_USER\\" + benchly, "exePath", "/user/benchly"));
    EXPECT_EQ(AppEnvironment::installedExecutablePath("Vexilo Benchly v3"), "/user/benchly");

    EXPECT_EQ(AppEnvironment::productRegistryKey("Vexilo Pellume v3"), "SOFTWARE\\Keltrix\\Vexilo Pellume v3");
    EXPECT_EQ(AppEnvironment::productRegistryKey("Mavrel Set"), "SOFTWARE\\Solvane Vizoruv Labs\\Mavrel Set");
    EXPECT_EQ(AppEnvironment::productRegistryKey("Vexilo Benchly"), "");
    EXPECT_EQ(AppEnvironment::installedExecutablePath("vexilo benchly v3"), "");
}

TEST(AppEnvironment, LatestHelpArchiveTakesTheHighestPositiveNumber) {
    TestEnvironment env;
    const QString help = AppEnvironment::helpPath("Servra");
    writeFile(help + "/x.rcc", "x");
    EXPECT_EQ(AppEnvironment::latestHelpArchive("Servra").first, 0);
    EXPECT_FALSE(AppEnvironment::latestHelpArchive("Servra").second.exists());
    for (const char* name : {"3.rcc", "12.rcc", "0.rcc", "-4.rcc", "40.txt"})
        writeFile(help + "/" + name, "x");
    QDir().mkpath(help + "/99.rcc");
    const auto latest = AppEnvironment::latestHelpArchive("Servra");
    EXPECT_EQ(latest.first, 12);
    EXPECT_EQ(latest.second.fileName(), "12.rcc");
}

TEST(AppEnvironment, ReadWholeFileDecodesUtf8AndAnswersEmptyWhenMissing) {
    TestEnvironment env;
    writeFile(env.path("text.txt"), "Gr\xc3\xbc\xc3\x9f" "e");
    EXPECT_EQ(AppEnvironment::readWholeFile(env.path("text.txt")), QString::fromUtf8("Grüße"));
    EXPECT_EQ(AppEnvironment::readWholeFile(env.path("missing.txt")), "");
}

TEST(AppEnvironment, FixedValuesOfTheEditingModel) {
    EXPECT_EQ(AppEnvironment::favoritesGroupName(), "Favorites");
    EXPECT_EQ(AppEnvironment::importedPresetsGroupName(), "Imported Presets");
    EXPECT_EQ(AppEnvironment::faceCalcModelA(), nullptr);
    EXPECT_EQ(AppEnvironment::faceCalcModelC(), nullptr);
    EXPECT_FALSE(AppEnvironment::bgmParamsIgnored());
    EXPECT_FALSE(AppEnvironment::isLimitedMode());
    EXPECT_DOUBLE_EQ(AppEnvironment::thumbnailAspectRatios().value(QString()), 1.5);
}

// --- prepareFolders ------------------------------------------------------------------------

class PrepareFolders : public ::testing::Test {
protected:
    void SetUp() override {
        machine = AppEnvironment::sharedDataPath(true);
        user = AppEnvironment::sharedDataPath(false);
        writeFile(machine + "/Presets/Portrait.preset", "machine portrait");
        writeFile(machine + "/Presets/Deep/inner.preset", "machine inner");
        writeFile(machine + "/Looks/warm.look", "machine warm");
        writeFile(machine + "/loose.txt", "loose");
    }
    void setVersions(const QString& userVersion, const QString& machineVersion) {
        if (!userVersion.isNull()) {
            ASSERT_TRUE(registry::writeValue("HKEY_CURRENT_USER\\" + kVersionKey, "version", userVersion));
        }
        if (!machineVersion.isNull()) {
            ASSERT_TRUE(registry::writeValue("HKEY_LOCAL_MACHINE\\" + kVersionKey, "version", machineVersion));
        }
    }
    QString userVersion() const { return registry::readValue("HKEY_CURRENT_USER\\" + kVersionKey, "version"); }

    TestEnvironment env;
    QString machine, user;
};

TEST_F(PrepareFolders, CreatesTheWorkingFolders) {
    AppEnvironment::prepareFolders();
    for (const QString& folder : {AppEnvironment::cachePath(), AppEnvironment::genericCachePath(), AppEnvironment::appTrackPath(),
                                  AppEnvironment::presetsPath(), AppEnvironment::looksPath(), AppEnvironment::rawEnginePath()})
        EXPECT_TRUE(QFileInfo(folder).isDir()) << folder.toStdString();
    EXPECT_FALSE(QFileInfo::exists(AppEnvironment::pendingUploadsPath()));
}

TEST_F(PrepareFolders, RefreshOnlyWhenTheMachinesWholeVersionIsNewer) {
    struct Case {
        QString user, machine;  // null: value missing
        bool refreshed;
    };
    const Case cases[] = {
        {"1.0.0.3", "1.0.0.12", true},
        {"9.9.9.20", "1.0.0.12", false},
        // A newer user copy keeps its presets and its version, whatever the last numbers say.
        {"2.0.0.5", "1.9.9.7", false},
        {"1.10", "1.9.0.0", false},
        {"1.9", "1.10", true},
        {"2", "1.9.9.9", false},
        {QString(), "5", true},
        {"1.0.0.3", QString(), false},
        {"1.0.0.12", "1.0.0.12", false},
        {"1.0.0.x", "1.0.0.1", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.user + " / " + c.machine).toStdString());
        registry::removeValue("HKEY_CURRENT_USER\\" + kVersionKey, "version");
        registry::removeValue("HKEY_LOCAL_MACHINE\\" + kVersionKey, "version");
        QDir(user).removeRecursively();
        setVersions(c.user, c.machine);
        AppEnvironment::prepareFolders();
        EXPECT_EQ(QFile::exists(user + "/Presets/Portrait.preset"), c.refreshed);
        EXPECT_EQ(userVersion(), c.refreshed ? c.machine : c.user);
    }
}

TEST_F(PrepareFolders, RefreshCopiesSubfoldersOverNewerFilesButNotLooseFiles) {
    writeFile(user + "/Presets/Portrait.preset", "user's newer copy");
    writeFile(user + "/Presets/mine.preset", "user only");
    setVersions("1", "2");
    AppEnvironment::prepareFolders();
    EXPECT_EQ(readFile(user + "/Presets/Portrait.preset"), "machine portrait");
    EXPECT_EQ(readFile(user + "/Presets/Deep/inner.preset"), "machine inner");
    EXPECT_EQ(readFile(user + "/Presets/mine.preset"), "user only");
    EXPECT_EQ(readFile(user + "/Looks/warm.look"), "machine warm");
    EXPECT_FALSE(QFile::exists(user + "/loose.txt"));
}

TEST_F(PrepareFolders, MissingMachineFolderLeavesTheUsersVersion) {
    ASSERT_TRUE(QDir(machine).removeRecursively());
    setVersions("1", "2");
    AppEnvironment::prepareFolders();
    EXPECT_EQ(userVersion(), "1");
}

TEST_F(PrepareFolders, FailedSubfolderStopsOnlyItself) {
    // A folder where a file should go cannot be removed, so that file's copy fails.
    ASSERT_TRUE(QDir().mkpath(user + "/Presets/Portrait.preset/blocker"));
    writeFile(machine + "/Presets/Zz.preset", "after the failure");
    setVersions("1", "2");
    AppEnvironment::prepareFolders();
    EXPECT_EQ(readFile(user + "/Looks/warm.look"), "machine warm");
    EXPECT_EQ(userVersion(), "2");
}

TEST_F(PrepareFolders, SameFolderForBothCopiesLosesNothing) {
    env.setEnv("XDG_DATA_DIRS", env.path("data"));
    machine = user;
    writeFile(user + "/Presets/Portrait.preset", "the only copy");
    setVersions("1", "2");
    AppEnvironment::prepareFolders();
    EXPECT_EQ(readFile(user + "/Presets/Portrait.preset"), "the only copy");
}

TEST(CopyFolder, RefusesMissingSourcesAndCopiesIntoItself) {
    TestEnvironment env;
    EXPECT_FALSE(AppEnvironment::copyFolder(env.path("missing"), env.path("out"), true, true));
    writeFile(env.path("tree/a.txt"), "a");
    EXPECT_FALSE(AppEnvironment::copyFolder(env.path("tree"), env.path("tree"), true, true));
    EXPECT_FALSE(AppEnvironment::copyFolder(env.path("tree"), env.path("tree/sub"), true, true));
    EXPECT_TRUE(AppEnvironment::copyFolder(env.path("tree"), env.path("out"), true, true));
    EXPECT_EQ(readFile(env.path("out/tree/a.txt")), "a");
    // Without overwrite an existing file stays and the copy reports the failure when asked to stop.
    writeFile(env.path("tree/a.txt"), "changed");
    EXPECT_FALSE(AppEnvironment::copyFolder(env.path("tree"), env.path("out"), false, true));
    EXPECT_TRUE(AppEnvironment::copyFolder(env.path("tree"), env.path("out"), false, false));
    EXPECT_EQ(readFile(env.path("out/tree/a.txt")), "a");
}

}  // namespace
