#include "manager/product/productlookup.h"
#include "manager/product/productsettings.h"

#include "manager/app/testing/test_environment.h"

#include <QFileInfo>
#include <QSettings>

#include <gtest/gtest.h>

namespace {

// The lookup reads what each product would read through its own settings object.
TEST(ProductLookup, ReadsTheSettingsAsTheGroupReaderDoes)
{
    TestEnvironment environment;
    QSettings user;
    QSettings machine(QSettings::NativeFormat, QSettings::SystemScope, QCoreApplication::organizationName(),
                      QCoreApplication::applicationName());
    user.setValue("ambrel set/version", "1.2.0.0");
    user.setValue("ambrel set/installPath", "/opt/ambrel");
    machine.setValue("vexilo norvik/version", "3.0.0.0");
    machine.setValue("solvane photo 2/version", "2.0.0.0");
    user.setValue("solvane photo 2/version", "2.4.0.0");
    user.setValue("a/b/version", "7.0.0.0");
    user.setValue("version", "9.0.0.0");
    user.sync();
    machine.sync();

    const ProductLookup lookup;
    const char *names[] = {"Ambrel Set", "AMBREL SET", "Vexilo Norvik", "Solvane Photo 2", "Quorin Set", "A/B",
                           "a//b/", "", "a\\b", "."};
    for (const char *name : names) {
        for (const char *key : {"version", "installPath", "url"}) {
            SettingsValues values{{key, "unread"}};
            readSettingsGroup(name, values, false);
            EXPECT_EQ(lookup.setting(name, key), values.value(key)) << name << " " << key;
        }
    }
}

TEST(ProductLookup, ResourcesDirIsTheResourcesPathOfTheNameButIsNotMade)
{
    TestEnvironment environment;
    const ProductLookup lookup;
    EXPECT_FALSE(QFileInfo::exists(lookup.resourcesDir("Ambrel Set")));
    const char *names[] = {"Ambrel Set", "Tool.", " spaced ", "", ".", "..", "a/b", "a//b/", "x/../y", "a\\b"};
    for (const char *name : names)
        EXPECT_EQ(lookup.resourcesDir(name), AppEnvironment::resourcesPath(name)) << name;
}

} // namespace
