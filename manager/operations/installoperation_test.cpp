#include "manager/operations/installoperation.h"

#include "manager/app/environment.h"
#include "manager/product/productsettings.h"
#include "manager/operations/httpgetoperation.h"
#include "manager/operations/operationfactory.h"
#include "manager/operations/testing/operation_test_support.h"
#include "manager/operations/uninstalloperation.h"
#include "sys/registry/registry.h"

#include <QDateTime>
#include <QSettings>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace optest;

namespace {

const char kInstallerPath[] = "/installers/ambrel-set.msi";
const char kCancelledText[] = "The installation was cancelled by the user.";

msipackage::Manifest ambrelManifest()
{
    msipackage::Manifest manifest;
    manifest.productCode = QStringLiteral("{5F1C0A53-7A0B-4E36-9D4B-2C1E3F5A6B70}");
    manifest.upgradeCode = QStringLiteral("{5F1C0A53-7A0B-4E36-9D4B-2C1E3F5A0000}");
    manifest.productName = QStringLiteral("Ambrel Set");
    manifest.publisher = QStringLiteral("Solvane Vizoruv Labs");
    manifest.productVersion = QStringLiteral("1.0.2.5");
    manifest.installFolder = QStringLiteral("Solvane Vizoruv Labs/Ambrel Set");
    manifest.registryKey = QStringLiteral("SOFTWARE\\Solvane Vizoruv Labs\\Ambrel Set");
    manifest.executablePath = QStringLiteral("bin/ambrel-set");
    return manifest;
}

QByteArray packageBytes(const msipackage::Manifest &manifest)
{
    QTemporaryDir dir;
    QString error;
    EXPECT_TRUE(msipackage::writePackage(dir.filePath("p.msi"), manifest,
                                         {{QStringLiteral("bin/ambrel-set"), QByteArray("ambrel program ").repeated(4000)},
                                          {QStringLiteral("looks/warm.cube"), "LUT_3D_SIZE 2\n"}},
                                         &error))
        << error.toStdString();
    return readFile(dir.filePath("p.msi"));
}

SettingsValues storedGroup()
{
    SettingsValues values{{"version", ""}, {"url", ""}, {"helpUrl", ""}, {"time-utc", ""}, {"installPath", ""}};
    readSettingsGroup(QStringLiteral("Ambrel Set"), values, false);
    return values;
}

QStringList installedCodes()
{
    QStringList codes;
    char16_t code[kMsiProductCodeLength + 1];
    for (std::uint32_t index = 0; MsiEnumProductsW(index, code) == ERROR_SUCCESS; ++index)
        codes << QString::fromUtf16(code);
    return codes;
}

bool cancelEverything(MsiUserQuestion, const std::u16string &)
{
    return false;
}

class InstallOperationTest : public OperationTestBase
{
protected:
    void SetUp() override
    {
        OperationTestBase::SetUp();
        m_package = packageBytes(ambrelManifest());
        writeFile(sitePath(QString(kInstallerPath).mid(1)), m_package);
    }

    QSharedPointer<Product> ambrel(const QString &sha1)
    {
        return QSharedPointer<Product>::create(QStringLiteral("Ambrel Set"), ProductVersion(1, 0, 2, 5),
                                               m_server.url(kInstallerPath), QUrl(), m_server.url("/help/ambrel-set/"),
                                               sha1, 3, QString(), QString());
    }

    Outcome install(const QSharedPointer<Product> &product, ProductOperation::FailureKind *kind = nullptr)
    {
        NormalOperationFactory factory;
        QSharedPointer<Operation> operation(factory.createInstall(product, installerCache()));
        const Outcome outcome = runOnController(operation, product);
        if (kind)
            *kind = qobject_cast<ProductOperation *>(operation.data())->failureKind();
        return outcome;
    }

    QString cachedInstaller() const { return installerCache() + "/Ambrel Set.msi"; }
    QString installFolder() const
    {
        return QString::fromStdString(msiRootFolder()) + "/Programs/Solvane Vizoruv Labs/Ambrel Set";
    }

    QByteArray m_package;
};

TEST_F(InstallOperationTest, DownloadsVerifiesInstallsAndRecordsTheProduct)
{
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    auto product = ambrel(sha1Hex(m_package));
    const Outcome outcome = install(product);

    ASSERT_TRUE(outcome.succeeded) << outcome.errorText.toStdString();
    EXPECT_EQ(outcome.result, Operation::Success);
    EXPECT_EQ(m_server.requestCount(kInstallerPath), 1);
    EXPECT_FALSE(outcome.progress.isEmpty());
    EXPECT_FLOAT_EQ(outcome.progress.last(), 1.0f);

    // The receiver on the main thread already saw the changed record.
    EXPECT_EQ(outcome.seen.productState(), ProductInstalled);
    EXPECT_EQ(outcome.seen.installedVersion().toString(), "1.0.2.5");
    const QString program = installFolder() + "/bin/ambrel-set";
    EXPECT_EQ(outcome.seen.installPath(), program);
    EXPECT_EQ(outcome.seen.downloadUrl(), m_server.url(kInstallerPath).toString());

    EXPECT_EQ(readFile(program), QByteArray("ambrel program ").repeated(4000));
    EXPECT_EQ(installedCodes(), QStringList{ambrelManifest().productCode});
    EXPECT_FALSE(QFile::exists(cachedInstaller()));

    const SettingsValues group = storedGroup();
    EXPECT_EQ(group["version"], "1.0.2.5");
    EXPECT_EQ(group["url"], m_server.url(kInstallerPath).toString());
    EXPECT_EQ(group["helpUrl"], m_server.url("/help/ambrel-set").toString());
    EXPECT_EQ(group["installPath"], program);
    const QDateTime written = QDateTime::fromString(group["time-utc"], Qt::TextDate);
    EXPECT_TRUE(written.isValid() && written >= before.addSecs(-1)) << group["time-utc"].toStdString();
}

TEST_F(InstallOperationTest, CachedInstallerIsReusedOnlyWhenItsChecksumMatches)
{
    const QByteArray stale = packageBytes([] {
        msipackage::Manifest older = ambrelManifest();
        older.productVersion = QStringLiteral("0.9.0.0");
        return older;
    }());
    const struct {
        const char *name;
        QByteArray cached;     // empty: no cached file
        QString sha1;
        int downloads;
    } cases[] = {
        {"matching cache", m_package, sha1Hex(m_package), 0},
        {"no cache", QByteArray(), sha1Hex(m_package), 1},
        {"other package in the cache", stale, sha1Hex(m_package), 1},
        {"damaged cache", m_package.left(100), sha1Hex(m_package), 1},
        {"upper-case catalog checksum", m_package, sha1Hex(m_package).toUpper(), 1},
    };
    for (const auto &testCase : cases) {
        SCOPED_TRACE(testCase.name);
        m_server.clearRequests();
        QFile::remove(cachedInstaller());
        if (!testCase.cached.isEmpty())
            writeFile(cachedInstaller(), testCase.cached);

        const Outcome outcome = install(ambrel(testCase.sha1));
        ASSERT_TRUE(outcome.succeeded) << outcome.errorText.toStdString();
        EXPECT_EQ(m_server.requestCount(kInstallerPath), testCase.downloads);
        const QString expectedUrl = testCase.downloads ? m_server.url(kInstallerPath).toString() : QString();
        EXPECT_EQ(storedGroup()["url"], expectedUrl);
        char16_t version[32];
        std::uint32_t length = 32;
        ASSERT_EQ(MsiGetProductInfoW(reinterpret_cast<const char16_t *>(ambrelManifest().productCode.utf16()),
                                     u"VersionString", version, &length),
                  ERROR_SUCCESS);
        EXPECT_EQ(QString::fromUtf16(version), "1.0.2.5");
        EXPECT_FALSE(QFile::exists(cachedInstaller()));
    }
}

TEST_F(InstallOperationTest, FailuresGiveResultOneWithTheirTextAndLoseNothing)
{
    using Kind = ProductOperation::FailureKind;
    const QByteArray oldCache = "an earlier, unfinished installer";
    const QByteArray corrupt = "<html>gateway error</html>";
    const QByteArray otherProduct = packageBytes([] {
        msipackage::Manifest quorin = ambrelManifest();
        quorin.productCode = QStringLiteral("{5F1C0A53-7A0B-4E36-9D4B-2C1E3F5A6B71}");
        quorin.upgradeCode = QStringLiteral("{5F1C0A53-7A0B-4E36-9D4B-2C1E3F5A0001}");
        quorin.productName = QStringLiteral("Quorin Set");
        quorin.installFolder = QStringLiteral("Solvane Vizoruv Labs/Quorin Set");
        return quorin;
    }());
    const QByteArray missing = "<missing>";
    const QString cannotInstall = QStringLiteral("Can't install product Ambrel Set error: ");
    const QString cannotDownload = QStringLiteral("Can't download installer for product Ambrel Set");
    const struct {
        const char *name;
        std::function<void(InstallOperationTest *)> arrange;
        QByteArray served;     // what the catalog's checksum names; empty: no checksum
        QUrl address;          // the installer's address; empty: the loopback server's
        QString error;
        Kind kind;
        int requests;
        QByteArray cacheAfter; // what the cached installer holds afterwards
    } cases[] = {
        {"not found", [](InstallOperationTest *t) { t->m_server.answerStatus(kInstallerPath, 404); }, m_package, {},
         cannotDownload, Kind::Download, 1, oldCache},
        {"cut transfer", [](InstallOperationTest *t) { t->m_server.cutBody(kInstallerPath); }, m_package, {},
         cannotDownload, Kind::Download, 1, oldCache},
        {"stalled transfer", [](InstallOperationTest *t) { t->m_server.stallBody(kInstallerPath); }, m_package, {},
         cannotDownload, Kind::Download, 1, oldCache},
        {"download not matching the catalog",
         [corrupt](InstallOperationTest *t) { t->m_server.answerBody(kInstallerPath, corrupt); }, m_package, {},
         cannotDownload, Kind::Checksum, 1, oldCache},
        // The catalog's checksum is all a package brings: without one nothing is fetched or run.
        {"no checksum in the catalog", [](InstallOperationTest *) {}, QByteArray(), {},
         cannotInstall + "the catalog gives no checksum for its installer", Kind::Unverifiable, 0, oldCache},
        {"plain http from elsewhere", [](InstallOperationTest *) {}, m_package, QUrl("http://files.example/ambrel.msi"),
         cannotInstall + "its installer's address http://files.example/ambrel.msi is not an https address",
         Kind::Unverifiable, 0, oldCache},
        // Another product's package with its own checksum in the catalog's entry.
        {"another product's package",
         [otherProduct](InstallOperationTest *t) { t->m_server.answerBody(kInstallerPath, otherProduct); }, otherProduct,
         {}, cannotInstall + "its installer installs \"Quorin Set\"", Kind::WrongProduct, 1, missing},
        {"corrupt package", [corrupt](InstallOperationTest *t) { t->m_server.answerBody(kInstallerPath, corrupt); },
         corrupt, {},
         cannotInstall + "The installation package could not be opened because it is damaged or is not an installer "
                         "package. Download it again or contact the product's maker.",
         Kind::Installer, 1, corrupt},
        // A cancelled install keeps the verified package for the next attempt.
        {"user cancels", [](InstallOperationTest *) { msiSetUserInterface(&cancelEverything); }, m_package, {},
         cannotInstall + kCancelledText, Kind::Installer, 1, m_package},
        {"no message library",
         [corrupt](InstallOperationTest *t) {
             t->m_server.answerBody(kInstallerPath, corrupt);
             msiSetSystemFolder(t->m_env.path("empty-system").toStdString());
         },
         corrupt, {}, cannotInstall + "Cannot query MSI error status.", Kind::Installer, 1, corrupt},
    };
    const HttpGetOperation::Timeouts saved = HttpGetOperation::setDefaultTimeouts({2000, 300});
    for (const auto &testCase : cases) {
        SCOPED_TRACE(testCase.name);
        m_server.clearBehaviours();
        m_server.clearRequests();
        msiSetUserInterface(nullptr);
        msiSetSystemFolder(std::string());
        writeFile(cachedInstaller(), oldCache);
        testCase.arrange(this);

        auto product = QSharedPointer<Product>::create(
            QStringLiteral("Ambrel Set"), ProductVersion(1, 0, 2, 5),
            testCase.address.isEmpty() ? m_server.url(kInstallerPath) : testCase.address, QUrl(),
            m_server.url("/help/ambrel-set/"), testCase.served.isEmpty() ? QString() : sha1Hex(testCase.served), 3,
            QString(), QString());
        Kind kind = Kind::None;
        const Outcome outcome = install(product, &kind);
        EXPECT_FALSE(outcome.succeeded);
        EXPECT_EQ(outcome.result, Operation::Failure);
        EXPECT_EQ(outcome.errorText, testCase.error);
        EXPECT_EQ(kind, testCase.kind);
        EXPECT_EQ(m_server.requestCount(kInstallerPath), testCase.requests);
        EXPECT_EQ(product->productState(), ProductNotInstalled);
        EXPECT_FALSE(product->installedVersion().isSet());
        EXPECT_EQ(storedGroup()["version"], "");
        EXPECT_TRUE(installedCodes().isEmpty());
        EXPECT_FALSE(QFileInfo::exists(installFolder()));
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(msiRootFolder()) + "/Programs/Solvane Vizoruv Labs/Quorin Set"));
        EXPECT_EQ(readFile(cachedInstaller()), testCase.cacheAfter);
    }
    HttpGetOperation::setDefaultTimeouts(saved);
}

TEST_F(InstallOperationTest, RestartCodesCountAsSuccess)
{
    for (const char *restart : {"required", "initiated"}) {
        SCOPED_TRACE(restart);
        msipackage::Manifest manifest = ambrelManifest();
        manifest.restart = QLatin1String(restart);
        const QByteArray package = packageBytes(manifest);
        m_server.answerBody(kInstallerPath, package);
        const Outcome outcome = install(ambrel(sha1Hex(package)));
        EXPECT_TRUE(outcome.succeeded) << outcome.errorText.toStdString();
        EXPECT_EQ(outcome.seen.productState(), ProductInstalled);
        EXPECT_FALSE(QFile::exists(cachedInstaller()));
    }
}

TEST_F(InstallOperationTest, UninstallRemovesTheProductAndItsSettingsGroup)
{
    auto product = ambrel(sha1Hex(m_package));
    ASSERT_TRUE(install(product).succeeded);
    ASSERT_EQ(product->productState(), ProductInstalled);

    NormalOperationFactory factory;
    const Outcome outcome = runOnController(QSharedPointer<Operation>(factory.createUninstall(product)), product);
    ASSERT_TRUE(outcome.succeeded) << outcome.errorText.toStdString();
    EXPECT_EQ(outcome.seen.productState(), ProductNotInstalled);
    EXPECT_FALSE(outcome.seen.installedVersion().isSet());
    EXPECT_TRUE(installedCodes().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(installFolder()));
    EXPECT_TRUE(registry::readValue("HKEY_CURRENT_USER\\SOFTWARE\\Solvane Vizoruv Labs\\Ambrel Set", "exePath").isEmpty());
    EXPECT_EQ(storedGroup()["version"], "");
    EXPECT_EQ(storedGroup()["installPath"], "");

    QSharedPointer<Operation> repeated(factory.createUninstall(product));
    const Outcome again = runOnController(repeated, product);
    EXPECT_EQ(again.result, Operation::Failure);
    EXPECT_EQ(again.errorText, "Can't uninstall product Ambrel Set error: Can't find product Ambrel Set");
    EXPECT_EQ(qobject_cast<ProductOperation *>(repeated.data())->failureKind(),
              ProductOperation::FailureKind::NotInstalled);
}

TEST_F(InstallOperationTest, UninstallFindsTheProductByItsWholeNameAndPublisher)
{
    struct Installed {
        const char *code;
        const char *name;
        const char *publisher;
    };
    const Installed products[] = {
        {"{00000000-0000-0000-0000-000000000001}", "Solvane Photo 2", "Solvane Vizoruv Labs"},
        {"{00000000-0000-0000-0000-000000000002}", "Solvane Photo", "Some Other Maker"},
        {"{00000000-0000-0000-0000-000000000003}", "Solvane Photo", "Solvane Vizoruv Labs Ltd."},
    };
    for (const Installed &installed : products) {
        msipackage::Manifest manifest = ambrelManifest();
        manifest.productCode = QLatin1String(installed.code);
        manifest.upgradeCode.clear();
        manifest.productName = QLatin1String(installed.name);
        manifest.publisher = QLatin1String(installed.publisher);
        manifest.installFolder = QLatin1String(installed.code).mid(1, 36);
        const QString file = m_env.path("p.msi");
        writeFile(file, packageBytes(manifest));
        ASSERT_EQ(installPackage(file).first, true);
    }
    // "Solvane Photo" is not a part of "Solvane Photo 2": the name must be the whole name.
    EXPECT_EQ(findInstalledProductCode("Solvane Photo"), "{00000000-0000-0000-0000-000000000003}");
    EXPECT_EQ(findInstalledProductCode("Solvane"), "");
    EXPECT_EQ(findInstalledProductCode("solvane photo"), "");
    EXPECT_EQ(uninstallProduct("Solvane Photo"), qMakePair(true, QString()));
    EXPECT_EQ(installedCodes(), QStringList({"{00000000-0000-0000-0000-000000000001}",
                                             "{00000000-0000-0000-0000-000000000002}"}));
    EXPECT_EQ(uninstallProduct("Solvane Photo"), qMakePair(false, QString("Can't find product Solvane Photo")));

    msiSetUserInterface(&cancelEverything);
    EXPECT_EQ(uninstallProduct("Solvane Photo 2"), qMakePair(false, QString("error uninstallingSolvane Photo 2")));
    EXPECT_EQ(installedCodes().size(), 2);
}

TEST(OperationFactory, DefaultFolderIsTheApplicationCache)
{
    TestEnvironment env;
    NormalOperationFactory factory;
    auto product = QSharedPointer<Product>::create(QStringLiteral("Ambrel Set"), ProductVersion(1, 0, 0, 0), QUrl(), QUrl(), QUrl(),
                                                   QString(), 3, QString(), QString());
    QScopedPointer<Operation> install(factory.createInstall(product));
    QScopedPointer<Operation> uninstall(factory.createUninstall(product));
    ASSERT_TRUE(qobject_cast<InstallOperation *>(install.data()));
    ASSERT_TRUE(qobject_cast<UninstallOperation *>(uninstall.data()));
    EXPECT_EQ(qobject_cast<InstallOperation *>(install.data())->installerFile(),
              QDir(AppEnvironment::cachePath()).absoluteFilePath("Ambrel Set.msi"));
    EXPECT_EQ(qobject_cast<UninstallOperation *>(uninstall.data())->folder(), AppEnvironment::cachePath());
}

} // namespace

namespace {

// The demo site's installers are real packages whose checksums are the demo catalog's: every
// product has one, installs (reusing nothing, verified against its "sha1"), records its program
// path and uninstalls again. The packages record nothing in the settings themselves: the
// manager's own record is what a later start reads.
TEST_F(InstallOperationTest, DemoCatalogInstallersInstallAndUninstall)
{
    m_server.setRoot(CatalogFixtures::demoSiteFolder());
    const QByteArray catalog = readFile(CatalogFixtures::demoSiteFolder() + "/products/1.1.0.229/windows/uid")
                                   .replace("@BASE@", m_server.baseUrl().toString().toUtf8());
    const QJsonArray entries =
        QJsonDocument::fromJson(catalog).object()["ProductCatalog"].toObject()["Products"].toArray();
    ASSERT_EQ(entries.size(), 4);
    NormalOperationFactory factory;
    for (const QJsonValue &value : entries) {
        const QJsonObject entry = value.toObject();
        SCOPED_TRACE(entry["Product"].toString().toStdString());
        const QString sha1 = entry["sha1"].toString();
        EXPECT_FALSE(sha1.isEmpty());
        auto product = QSharedPointer<Product>::create(
            entry["Product"].toString(), ProductVersion::fromJson(entry["Version"].toArray()), QUrl(entry["URL"].toString()),
            QUrl(), QUrl(entry["HelpURL"].toString()), sha1, entry["forSale"].toString().toInt(), QString(), QString());

        const Outcome installed = runOnController(QSharedPointer<Operation>(factory.createInstall(product, installerCache())), product);
        ASSERT_TRUE(installed.succeeded) << installed.errorText.toStdString();
        EXPECT_TRUE(QFile::exists(installed.seen.installPath())) << installed.seen.installPath().toStdString();
        EXPECT_EQ(installed.seen.installPath(), AppEnvironment::installedExecutablePath(productKey(product->name())));
        // A later start reads the product as installed and current.
        EXPECT_EQ(readInstalledVersion(product->name()), product->catalogVersion());
        EXPECT_EQ(Product(product->name(), product->catalogVersion(), product->url(), QUrl(), product->helpUrl(), sha1,
                          product->forSale(), QString(), QString())
                      .productState(),
                  ProductInstalled);
        EXPECT_TRUE(QSettings(QSettings::SystemScope, QCoreApplication::organizationName(),
                              QCoreApplication::applicationName())
                        .allKeys()
                        .isEmpty());

        const Outcome removed = runOnController(QSharedPointer<Operation>(factory.createUninstall(product)), product);
        EXPECT_TRUE(removed.succeeded) << removed.errorText.toStdString();
        EXPECT_FALSE(QFile::exists(installed.seen.installPath()));
    }
    EXPECT_TRUE(installedCodes().isEmpty());
}

} // namespace

namespace {

TEST(InstallerMessage, ComesFromTheMessageLibraryWhenThereIsOne)
{
    QTemporaryDir emptySystem;
    msiSetSystemFolder(std::string());
    EXPECT_EQ(installerMessage(ERROR_INSTALL_USEREXIT), kCancelledText);
    EXPECT_EQ(installerMessage(4242), ""); // a code without a text
    msiSetSystemFolder(emptySystem.path().toStdString());
    EXPECT_EQ(installerMessage(ERROR_INSTALL_USEREXIT), "Cannot query MSI error status.");
    msiSetSystemFolder(std::string());
}

} // namespace
