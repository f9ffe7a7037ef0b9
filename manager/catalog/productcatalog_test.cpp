#include "manager/catalog/productcatalog.h"

#include "manager/app/testing/test_environment.h"
#include "tools/catalogserver/catalogserver.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const char kCatalogPath[] = "/products/1.1.0.229/windows/uid";

const QByteArray kCatalog = R"({
  "ProductCatalog": {
    "Version": 1,
    "Products": [
      {"Product": "Vexilo Norvik", "Version": [2, 1], "URL": "http://files.example/norvik.msi",
       "HelpURL": "http://help.example/norvik/", "sha1": null, "forSale": "3",
       "fsProduct": "https://store.example/norvik", "fsProductVerbose": "Norvik Batch"},
      {"Product": "Ambrel Set", "forSale": 3, "sha1": "ab12"},
      "a string is no product",
      {"Product": "../../escape", "forSale": "1"},
      {"Product": "Quorin/Set", "forSale": "1"},
      {"Product": "Tessily Set", "Version": [1, 2, 3, 4, 5], "forSale": "x"}
    ]
  }
})";

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList names(const QList<Product> &products)
{
    QStringList result;
    for (const Product &product : products)
        result.append(product.name());
    return result;
}

class ProductCatalogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_server.answerBody(kCatalogPath, kCatalog);
        ASSERT_TRUE(m_server.start());
    }

    // Downloads kCatalog once, so that the cache holds it.
    void primeCache(ProductCatalog &catalog)
    {
        ASSERT_TRUE(catalog.updateCatalog());
        ASSERT_EQ(catalog.products().size(), 3);
        m_cached = readFile(catalog.fileName());
        ASSERT_FALSE(m_cached.isEmpty());
    }

    TestEnvironment m_environment;
    QTemporaryDir m_cache;
    CatalogServer m_server;
    QByteArray m_cached;
};

} // namespace

TEST_F(ProductCatalogTest, DownloadsAndParsesEntries)
{
    ProductCatalog catalog(m_server.url(kCatalogPath), m_cache.path());
    EXPECT_TRUE(catalog.products().isEmpty());
    EXPECT_EQ(catalog.fileName(), m_cache.path() + "/product_catalog.json");
    ASSERT_TRUE(catalog.updateCatalog());

    // Non-object elements and names that would leave their folder are skipped; order is kept.
    const QList<Product> products = catalog.products();
    ASSERT_EQ(names(products), QStringList({"Vexilo Norvik", "Ambrel Set", "Tessily Set"}));
    const Product &norvik = products[0];
    EXPECT_EQ(norvik.catalogVersion().toString(), "2.1.0.0");
    EXPECT_EQ(norvik.url(), QUrl("http://files.example/norvik.msi"));
    EXPECT_EQ(norvik.helpUrl(), QUrl("http://help.example/norvik"));
    EXPECT_EQ(norvik.sha1(), "");
    EXPECT_EQ(norvik.forSale(), 3);
    EXPECT_EQ(norvik.fsProduct(), "https://store.example/norvik");
    EXPECT_EQ(norvik.fsProductVerbose(), "Norvik Batch");

    const Product &ambrel = products[1];
    EXPECT_EQ(ambrel.catalogVersion().toString(), "0.0.0.0");
    EXPECT_EQ(ambrel.forSale(), 0); // a JSON number is not the expected text
    EXPECT_EQ(ambrel.sha1(), "ab12");
    EXPECT_TRUE(ambrel.url().isEmpty());

    const Product &tessily = products[2];
    EXPECT_EQ(tessily.catalogVersion().toString(), "1.2.3.4");
    EXPECT_EQ(tessily.forSale(), 0);

    // A catalog made later reads the cached file at construction.
    ProductCatalog offline(QUrl("http://127.0.0.1:1/nothing"), m_cache.path());
    EXPECT_EQ(names(offline.products()), names(products));
}

// Debug messages logged while it lives, one text each.
class LogCapture
{
public:
    LogCapture() { s_lines = &m_lines; m_previous = qInstallMessageHandler(capture); }
    ~LogCapture() { qInstallMessageHandler(m_previous); s_lines = nullptr; }
    QStringList lines() const { return m_lines; }

private:
    static void capture(QtMsgType type, const QMessageLogContext &, const QString &message)
    {
        if (type == QtDebugMsg)
            s_lines->append(message);
    }
    static QStringList *s_lines;
    QStringList m_lines;
    QtMessageHandler m_previous;
};
QStringList *LogCapture::s_lines = nullptr;

// Every product reads its installation from the settings, in either scope; the read logs one
// line that names every product with its versions (and a warning for each entry it refuses).
TEST_F(ProductCatalogTest, ReadsInstallationsAndLogsOneLine)
{
    QSettings user;
    user.setValue("vexilo norvik/version", "2.0.0.0");
    user.setValue("vexilo norvik/installPath", "/opt/norvik/norvik");
    user.sync();
    QSettings machine(QSettings::NativeFormat, QSettings::SystemScope, QCoreApplication::organizationName(),
                      QCoreApplication::applicationName());
    machine.setValue("tessily set/version", "1.2.3.4");
    machine.sync();

    ProductCatalog catalog(m_server.url(kCatalogPath), m_cache.path());
    primeCache(catalog);
    LogCapture log;
    ASSERT_TRUE(catalog.readCatalog());
    const QList<Product> products = catalog.products();
    ASSERT_EQ(products.size(), 3);
    EXPECT_EQ(products[0].productState(), ProductUpdateAvailable);
    EXPECT_EQ(products[0].installedVersion().toString(), "2.0.0.0");
    EXPECT_EQ(products[0].installPath(), "/opt/norvik/norvik");
    EXPECT_EQ(products[1].productState(), ProductNotInstalled);
    EXPECT_EQ(products[1].installPath(), "");
    EXPECT_EQ(products[2].productState(), ProductInstalled);

    ASSERT_EQ(log.lines().size(), 1) << log.lines().join('\n').toStdString();
    for (const char *product : {"Vexilo Norvik 2.1.0.0 (installed 2.0.0.0)", "Ambrel Set 0.0.0.0,",
                                "Tessily Set 1.2.3.4 (installed 1.2.3.4)"})
        EXPECT_TRUE(log.lines().first().contains(product)) << product;
}

TEST_F(ProductCatalogTest, FormatVersions)
{
    struct Case { const char *document; int products; };
    const Case cases[] = {
        {R"({"ProductCatalog": {"Products": [{"Product": "A"}]}})", 1},
        {R"({"ProductCatalog": {"Version": 1, "Products": [{"Product": "A"}]}})", 1},
        {R"({"ProductCatalog": {"Version": 2, "Products": [{"Product": "A"}]}})", 0},
        {R"({"ProductCatalog": {"Version": "2", "Products": [{"Product": "A"}]}})", 1},
        {R"({"Other": {"Products": [{"Product": "A"}]}})", 0},
        {R"([1, 2])", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ProductCatalog::parseProductCatalog(QJsonDocument::fromJson(c.document)).size(), c.products)
            << c.document;

    m_server.answerBody(kCatalogPath, cases[2].document);
    ProductCatalog catalog(m_server.url(kCatalogPath), m_cache.path());
    EXPECT_TRUE(catalog.updateCatalog());
    EXPECT_TRUE(catalog.products().isEmpty());
}

TEST_F(ProductCatalogTest, ConflictMeansOutOfDateAndKeepsTheList)
{
    ProductCatalog catalog(m_server.url(kCatalogPath), m_cache.path());
    primeCache(catalog);
    QSignalSpy needsUpgrade(&catalog, &ProductCatalog::needsUpgrade);

    m_server.answerStatus(kCatalogPath, 409);
    EXPECT_FALSE(catalog.updateCatalog());
    EXPECT_EQ(needsUpgrade.count(), 1);
    EXPECT_EQ(catalog.products().size(), 3);
    EXPECT_EQ(readFile(catalog.fileName()), m_cached);

    m_server.answerStatus(kCatalogPath, 404); // other failures are no upgrade
    EXPECT_FALSE(catalog.updateCatalog());
    EXPECT_EQ(needsUpgrade.count(), 1);
}

TEST_F(ProductCatalogTest, FailedOrBrokenAnswersKeepTheCache)
{
    ProductCatalog catalog(m_server.url(kCatalogPath), m_cache.path());
    primeCache(catalog);

    struct Case { const char *what; QByteArray body; bool cut; };
    const Case cases[] = {
        {"not JSON", "<html>upstream error</html>", false},
        {"empty", "", false},
        {"other JSON", R"({"MessageCatalog": {}})", false},
        // Valid JSON, but no list of products: it would empty the window.
        {"products not a list", R"({"ProductCatalog": {"Version": 1, "Products": {"Product": "Ambrel Set"}}})", false},
        {"no products", R"({"ProductCatalog": {"Version": 1}})", false},
        // Read by its last key it is an empty catalog; it says two things and is refused whole.
        {"a key twice", R"({"ProductCatalog": {"Version": 1, "Products": [{"Product": "Ambrel Set"}], "Products": []}})",
         false},
        {"cut mid-transfer", kCatalog, true},
    };
    for (const Case &c : cases) {
        m_server.clearBehaviours();
        m_server.answerBody(kCatalogPath, c.body);
        if (c.cut)
            m_server.cutBody(kCatalogPath);
        EXPECT_FALSE(catalog.updateCatalog()) << c.what;
        EXPECT_EQ(catalog.products().size(), 3) << c.what;
        EXPECT_EQ(readFile(catalog.fileName()), m_cached) << c.what;
    }
    // No temporary download is left next to the cache.
    EXPECT_EQ(QDir(m_cache.path()).entryList(QDir::Files), QStringList({"product_catalog.json"}));
}

TEST_F(ProductCatalogTest, OfflineReturnsAtOnceAndTheCacheServes)
{
    ProductCatalog catalog(m_server.url(kCatalogPath), m_cache.path());
    primeCache(catalog);
    const QUrl gone = m_server.url(kCatalogPath);
    m_server.close();

    ProductCatalog offline(gone, m_cache.path());
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(offline.updateCatalog());
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(names(offline.products()), QStringList({"Vexilo Norvik", "Ambrel Set", "Tessily Set"}));

    // No cache at all: nothing to read.
    QTemporaryDir empty;
    ProductCatalog first(gone, empty.path());
    EXPECT_FALSE(first.readCatalog());
    EXPECT_FALSE(first.updateCatalog());
    EXPECT_TRUE(first.products().isEmpty());
}

TEST_F(ProductCatalogTest, DemoSiteCatalogParses)
{
    CatalogServer demo(CatalogFixtures::demoSiteFolder());
    ASSERT_TRUE(demo.start());
    ProductCatalog catalog(demo.url(kCatalogPath), m_cache.path());
    ASSERT_TRUE(catalog.updateCatalog());
    const QList<Product> products = catalog.products();
    ASSERT_EQ(products.size(), 4);
    for (const Product &product : products) {
        EXPECT_EQ(product.helpUrl().authority(), demo.baseUrl().authority()) << product.name().toStdString();
        EXPECT_TRUE(isKnownProduct(product.name())) << product.name().toStdString();
    }
}
