#include "manager/product/product.h"
#include "manager/product/productsettings.h"

#include "manager/app/testing/test_environment.h"

#include <QJsonDocument>
#include <QSettings>

#include <gtest/gtest.h>

namespace {

QString text(const ProductVersion &version)
{
    return version.toString();
}

// Writes a "version" for a product in one settings scope, as an installer would.
void storeInstalledVersion(const QString &name, const QString &version, QSettings::Scope scope)
{
    QSettings settings(QSettings::NativeFormat, scope, QCoreApplication::organizationName(),
                       QCoreApplication::applicationName());
    settings.setValue(name.toLower() + QStringLiteral("/version"), version);
    settings.sync();
}

Product makeProduct(const QString &name, const ProductVersion &catalogVersion, int forSale = 0,
                    const QUrl &helpUrl = QUrl())
{
    return Product(name, catalogVersion, QUrl("https://files.example/p.msi/"), QUrl(), helpUrl, QString(), forSale,
                   QString(), QString());
}

} // namespace

TEST(ProductVersion, ParsesTextAndJson)
{
    struct Case { const char *text; const char *expected; };
    for (const Case c : {Case{"2", "2.0.0.0"}, Case{"1.2.3.4.5", "1.2.3.4"}, Case{"1..3", "1.0.3.0"},
                         Case{"a.b", "0.0.0.0"}, Case{"", "0.0.0.0"}, Case{"10.-1.x.7", "10.-1.0.7"}})
        EXPECT_EQ(text(ProductVersion::fromString(c.text)), c.expected) << c.text;

    const auto json = [](const char *array) {
        return ProductVersion::fromJson(QJsonDocument::fromJson(array).array());
    };
    EXPECT_EQ(text(json("[2, 1]")), "2.1.0.0");
    EXPECT_EQ(text(json("[]")), "0.0.0.0");
    EXPECT_EQ(text(json("[1.5, \"2\", 3, 4, 5]")), "0.0.3.4");
}

TEST(ProductVersion, OrderAndSet)
{
    EXPECT_TRUE(ProductVersion(2, 0, 9, 9) < ProductVersion(2, 1, 0, 0));
    EXPECT_TRUE(ProductVersion(1, 2, 3, 4) < ProductVersion(1, 2, 3, 5));
    EXPECT_FALSE(ProductVersion(1, 2, 3, 4) < ProductVersion(1, 2, 3, 4));
    EXPECT_FALSE(ProductVersion(0, 0, 0, 7).isSet());
    EXPECT_TRUE(ProductVersion(0, 0, 1, 0).isSet());
}

TEST(Product, KeyTableFirstMatchWins)
{
    struct Case { const char *name; const char *key; };
    const Case cases[] = {
        {"Vexilo Pellume", "Vexilo Pellume v3"},
        {"Vexilo Pellume Pro", ""}, // rows 1 to 4 test equality
        {"Vexilo Benchly", "Vexilo Benchly v3"},
        {"Vexilo Norvik", "Vexilo Norvik"},
        {"Vexilo Deskra", "Vexilo Deskra v3"},
        {"Servra Studio", "Vexilo Deskra v3"},
        {"The Vexilo Fildra 2", "Vexilo Fildra"},
        {"Solvane Photo 2 Pro", "Solvane Photo 2"},
        {"Solvane Photo", "Solvane Photo"},
        {"Ambrel Set", "Ambrel Set"},
        {"Quorin Set Vol 2", "Quorin Set"},
        {"Tessily Set", "Tessily Set"},
        {"Mavrel Set", "Mavrel Set"},
        {"solvane photo 2", ""}, // case-sensitive
        {"Something Else", ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(productKey(c.name), QString(c.key)) << c.name;
        EXPECT_EQ(isKnownProduct(c.name), *c.key != 0) << c.name;
    }
}

TEST(Product, DisplayGroupFromNameAndSaleKind)
{
    EXPECT_EQ(productDisplayGroup("Solvane Photo 2", 3), 0);
    EXPECT_EQ(productDisplayGroup("Solvane Photo", 0), 1);
    const int expected[] = {4, 2, 3, 1, 3, 5};
    for (int kind = 0; kind < 6; ++kind)
        EXPECT_EQ(productDisplayGroup("Ambrel Set", kind), expected[kind]) << kind;
    EXPECT_EQ(productDisplayGroup("Ambrel Set", 17), 5);
}

TEST(Product, StateComesFromTheInstalledVersionOfEitherScope)
{
    TestEnvironment environment;
    struct Case {
        const char *name;
        const char *installed; // nullptr: nothing stored
        QSettings::Scope scope;
        ProductVersion catalog;
        ProductState state;
    };
    const Case cases[] = {
        {"Vexilo Norvik", nullptr, QSettings::SystemScope, {1, 0, 0, 0}, ProductNotInstalled},
        {"Vexilo Benchly", "0.0.0.7", QSettings::SystemScope, {1, 0, 0, 0}, ProductNotInstalled},
        {"Vexilo Deskra", "2.1.0.0", QSettings::SystemScope, {2, 0, 9, 9}, ProductInstalled},
        {"Vexilo Pellume", "2.0.0.0", QSettings::SystemScope, {2, 0, 0, 1}, ProductUpdateAvailable},
        // Every product reads the user's scope, where the manager records installations; it
        // falls back to the all-users values of an installation made for every user.
        {"Solvane Photo", "3.0.0.0", QSettings::UserScope, {3, 0, 0, 0}, ProductInstalled},
        {"Ambrel Set", "1.0.0.0", QSettings::UserScope, {1, 0, 0, 0}, ProductInstalled},
        {"Quorin Set", "1.0.0.0", QSettings::SystemScope, {1, 1, 0, 0}, ProductUpdateAvailable},
    };
    for (const Case &c : cases) {
        if (c.installed)
            storeInstalledVersion(c.name, c.installed, c.scope);
        const Product product = makeProduct(c.name, c.catalog);
        EXPECT_EQ(product.productState(), c.state) << c.name;
        EXPECT_EQ(product.isInstalled(), c.state != ProductNotInstalled) << c.name;
    }
}

TEST(Product, ActionsByStateAndSaleKind)
{
    TestEnvironment environment;
    storeInstalledVersion("Vexilo Norvik", "1.0.0.0", QSettings::SystemScope);
    storeInstalledVersion("Vexilo Deskra", "1.0.0.0", QSettings::SystemScope);
    using Actions = QList<ProductAction>;
    struct Case { const char *name; int forSale; Actions actions; };
    const Case cases[] = {
        {"Unknown A", 0, {ProductActionInstall}},
        {"Unknown B", 2, {}},
        {"Unknown C", 4, {}},
        {"Unknown D", 3, {ProductActionInstall}},
        {"Vexilo Norvik", 2, {ProductActionOpen, ProductActionUninstall}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(makeProduct(c.name, {1, 0, 0, 0}, c.forSale).actions(), c.actions) << c.name;
    EXPECT_EQ(makeProduct("Vexilo Deskra", {1, 2, 0, 0}).actions(), Actions({ProductActionUpdate, ProductActionUninstall}));

    EXPECT_EQ(Product::actionName(ProductActionInstall), "Install");
    EXPECT_EQ(Product::actionName(ProductActionOpen), "Open");
    EXPECT_EQ(Product::actionName(ProductActionUpdate), "Update");
    EXPECT_EQ(Product::actionName(ProductActionUninstall), "Uninstall");
    EXPECT_EQ(Product::actionName(0), "");
}

TEST(Product, AddressesAndFiles)
{
    TestEnvironment environment;
    const Product product = makeProduct("Ambrel Set", {1, 0, 0, 0}, 0, QUrl("https://help.example/ambrel/"));
    EXPECT_EQ(product.helpUrl(), QUrl("https://help.example/ambrel"));
    EXPECT_EQ(product.url(), QUrl("https://files.example/p.msi"));
    EXPECT_EQ(product.resourcesUrl(), "https://help.example/ambrel/resources");
    EXPECT_EQ(product.resourcesDir(), environment.path("cache/Solvane Vizoruv Labs/resources/Ambrel Set"));
    EXPECT_EQ(product.iconFile(), product.resourcesDir() + "/icon.png");
    EXPECT_EQ(product.descriptionFile(), product.resourcesDir() + "/description.txt");

    EXPECT_EQ(Product::learnMoreUrl("  Solvane   Photo 2 ").toString(),
              "https://www.solvane-labs.example/redirect/SolvanePhoto2-learn.html");
    AppEnvironment::setAppIdentity("Solvane Photo 2");
    EXPECT_EQ(Product::learnMoreUrl("Ambrel Set").toString(),
              "https://www.keltrix.example/assets/redirect/AmbrelSet-learn.html");
    AppEnvironment::setAppIdentity("Solvane Manager");
}

TEST(Product, PersistedStateIsWrittenAndRemovedInTheUserScope)
{
    TestEnvironment environment;
    QSettings user;
    QSettings machine(QSettings::NativeFormat, QSettings::SystemScope, QCoreApplication::organizationName(),
                      QCoreApplication::applicationName());

    // The next start reads back what was persisted.
    Product addOn = makeProduct("Ambrel Set", {1, 2, 0, 0}, 3, QUrl("https://help.example/ambrel"));
    addOn.setDownloadUrl("https://files.example/ambrel.msi");
    addOn.setState(ProductInstalled, true);
    addOn.setInstallPath("C:/Programs/Ambrel/ambrel.exe");
    EXPECT_EQ(text(addOn.installedVersion()), "1.2.0.0");
    user.sync();
    EXPECT_EQ(user.value("ambrel set/version").toString(), "1.2.0.0");
    EXPECT_EQ(user.value("ambrel set/url").toString(), "https://files.example/ambrel.msi");
    EXPECT_EQ(user.value("ambrel set/helpUrl").toString(), "https://help.example/ambrel");
    EXPECT_TRUE(QDateTime::fromString(user.value("ambrel set/time-utc").toString(), Qt::TextDate).isValid());
    EXPECT_FALSE(machine.contains("ambrel set/version"));
    const Product reread = makeProduct("Ambrel Set", {1, 2, 0, 0});
    EXPECT_EQ(reread.productState(), ProductInstalled);
    EXPECT_EQ(reread.installPath(), "C:/Programs/Ambrel/ambrel.exe");

    addOn.setState(ProductNotInstalled, true);
    EXPECT_EQ(text(addOn.installedVersion()), "0.0.0.0");
    user.sync();
    EXPECT_FALSE(user.childGroups().contains("ambrel set"));

    // Without a help address no "helpUrl" is written; a product that is no add-on is read back
    // from the user's scope as well, where its installation was recorded.
    Product photo = makeProduct("Solvane Photo 2", {2, 0, 0, 0});
    photo.setState(ProductInstalled, true);
    user.sync();
    EXPECT_TRUE(user.contains("solvane photo 2/version"));
    EXPECT_FALSE(user.contains("solvane photo 2/helpUrl"));
    EXPECT_FALSE(machine.contains("solvane photo 2/version"));
    EXPECT_EQ(makeProduct("Solvane Photo 2", {2, 0, 0, 0}).productState(), ProductInstalled);

    // State 2 and unpersisted changes write nothing.
    Product norvik = makeProduct("Vexilo Norvik", {1, 0, 0, 0});
    norvik.setState(ProductUpdateAvailable, true);
    norvik.setState(ProductInstalled, false);
    user.sync();
    EXPECT_FALSE(user.childGroups().contains("vexilo norvik"));
}

TEST(ProductSettings, GroupFunctionsAtTopLevelAndInGroups)
{
    TestEnvironment environment;
    EXPECT_TRUE(writeSettingsGroup("Group", {{"a", "1"}, {"b", "2"}}));
    EXPECT_TRUE(writeSettingsGroup(QString(), {{"top", "x"}}));
    SettingsValues values{{"a", "old"}, {"missing", "old"}};
    EXPECT_TRUE(readSettingsGroup("GROUP", values, false));
    EXPECT_EQ(values, SettingsValues({{"a", "1"}, {"missing", ""}}));

    EXPECT_TRUE(removeSettingsGroup(QString(), {{"top", ""}}));
    EXPECT_TRUE(removeSettingsGroup("group", {}));
    QSettings user;
    EXPECT_TRUE(user.allKeys().isEmpty()) << user.allKeys().join(',').toStdString();
}
