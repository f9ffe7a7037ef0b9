#include "sys/registry/registry.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(user.isValid() && machine.isValid());
        registry::setHiveFolder(registry::Hive::CurrentUser, user.path());
        registry::setHiveFolder(registry::Hive::LocalMachine, machine.path());
    }
    void TearDown() override {
        registry::setHiveFolder(registry::Hive::CurrentUser, QString());
        registry::setHiveFolder(registry::Hive::LocalMachine, QString());
    }
    QTemporaryDir user, machine;
};

TEST_F(RegistryTest, HivesAreSeparateFiles) {
    const QString key = QStringLiteral("SOFTWARE\\Keltrix\\Vexilo Shared");
    ASSERT_TRUE(registry::writeValue("HKEY_CURRENT_USER\\" + key, "version", "1.0.0.3"));
    ASSERT_TRUE(registry::writeValue("HKEY_LOCAL_MACHINE\\" + key, "version", "1.0.0.12"));
    EXPECT_EQ(registry::readValue("HKEY_CURRENT_USER\\" + key, "version"), "1.0.0.3");
    EXPECT_EQ(registry::readValue("HKEY_LOCAL_MACHINE\\" + key, "version"), "1.0.0.12");
    EXPECT_TRUE(QFile::exists(user.path() + "/HKEY_CURRENT_USER.ini"));
    EXPECT_TRUE(QFile::exists(machine.path() + "/HKEY_LOCAL_MACHINE.ini"));
}

TEST_F(RegistryTest, MissingOrMalformedReadsAsEmpty) {
    EXPECT_EQ(registry::readValue("HKEY_CURRENT_USER\\SOFTWARE\\Nothing", "exePath"), "");
    ASSERT_TRUE(registry::writeValue("HKEY_CURRENT_USER\\SOFTWARE\\A", "exePath", "/opt/a"));
    EXPECT_EQ(registry::readValue("HKEY_CURRENT_USER\\SOFTWARE\\A", "other"), "");
    EXPECT_EQ(registry::readValue("HKEY_CURRENT_USER\\SOFTWARE\\a", "exePath"), "");
    EXPECT_EQ(registry::readValue("HKEY_CLASSES_ROOT\\SOFTWARE\\A", "exePath"), "");
    EXPECT_FALSE(registry::writeValue("SOFTWARE\\A", "exePath", "x"));
    EXPECT_FALSE(registry::writeValue("HKEY_CURRENT_USER\\", "exePath", "x"));
}

TEST_F(RegistryTest, KeysDoNotLeakIntoEachOther) {
    ASSERT_TRUE(registry::writeValue("HKEY_CURRENT_USER\\SOFTWARE\\Keltrix\\Vexilo Pellume v3", "exePath", "/p3"));
    ASSERT_TRUE(registry::writeValue("HKEY_CURRENT_USER\\SOFTWARE\\Keltrix\\Vexilo Pellume", "exePath", "/p"));
    EXPECT_EQ(registry::readValue("HKEY_CURRENT_USER\\SOFTWARE\\Keltrix\\Vexilo Pellume v3", "exePath"), "/p3");
    EXPECT_EQ(registry::readValue("HKEY_CURRENT_USER\\SOFTWARE\\Keltrix\\Vexilo Pellume", "exePath"), "/p");
    ASSERT_TRUE(registry::removeValue("HKEY_CURRENT_USER\\SOFTWARE\\Keltrix\\Vexilo Pellume", "exePath"));
    EXPECT_EQ(registry::readValue("HKEY_CURRENT_USER\\SOFTWARE\\Keltrix\\Vexilo Pellume", "exePath"), "");
    EXPECT_EQ(registry::readValue("HKEY_CURRENT_USER\\SOFTWARE\\Keltrix\\Vexilo Pellume v3", "exePath"), "/p3");
}

TEST_F(RegistryTest, EnvironmentNamesTheDefaultFolders) {
    registry::setHiveFolder(registry::Hive::LocalMachine, QString());
    qputenv("SOLVANE_REGISTRY_MACHINE_DIR", machine.path().toUtf8() + "/env");
    EXPECT_EQ(registry::hiveFilePath(registry::Hive::LocalMachine), machine.path() + "/env/HKEY_LOCAL_MACHINE.ini");
    qunsetenv("SOLVANE_REGISTRY_MACHINE_DIR");
    EXPECT_TRUE(registry::hiveFilePath(registry::Hive::LocalMachine).endsWith("/solvane-registry/HKEY_LOCAL_MACHINE.ini"));
}

}  // namespace
