#include "manager/operations/productresourcedownloadoperation.h"

#include "manager/product/productsettings.h"
#include "manager/operations/testing/operation_test_support.h"

#include <QDateTime>
#include <QLocale>

using namespace optest;

namespace {

const char kBase[] = "/help/ambrel-set/resources";

class ProductResourceTest : public OperationTestBase
{
protected:
    void SetUp() override
    {
        OperationTestBase::SetUp();
        serve("icon.png", "PNG icon");
        serve("description.de_DE.txt", "Warme Filmlooks");
        serve("description.en_US.txt", "Warm film looks");
    }
    void TearDown() override
    {
        QLocale::setDefault(m_savedLocale);
        OperationTestBase::TearDown();
    }

    void serve(const QString &file, const QByteArray &content) { writeFile(sitePath(QString(kBase).mid(1) + "/" + file), content); }

    Product ambrel(ProductState state = ProductInstalled)
    {
        if (state != ProductNotInstalled)
            writeSettingsGroup("Ambrel Set", {{"version", state == ProductInstalled ? "1.0.0.0" : "0.9.0.0"}});
        else
            removeSettingsGroup("Ambrel Set", {});
        return Product("Ambrel Set", ProductVersion(1, 0, 0, 0), QUrl(), QUrl(), m_server.url("/help/ambrel-set/"),
                       QString(), 3, QString(), QString());
    }

    Outcome download(const Product &product)
    {
        return runOnController(QSharedPointer<Operation>(new ProductResourceDownloadOperation(product)));
    }

    QLocale m_savedLocale;
};

TEST_F(ProductResourceTest, FetchesTheIconAndTheDescriptionOfTheLanguage)
{
    const struct {
        const char *name;
        const char *locale;
        QStringList missing; // files the server does not have
        int result;
        QStringList requested;
        QByteArray description; // on disk afterwards
    } cases[] = {
        {"German", "de_DE", {}, Operation::Success, {"/icon.png", "/description.de_DE.txt"}, "Warme Filmlooks"},
        {"German missing", "de_DE", {"/description.de_DE.txt"}, Operation::Success,
         {"/icon.png", "/description.de_DE.txt", "/description.en_US.txt"}, "Warm film looks"},
        {"English missing", "en_US", {"/description.en_US.txt"}, Operation::Failure,
         {"/icon.png", "/description.en_US.txt", "/description.en_US.txt"}, "earlier text"},
        {"icon missing", "de_DE", {"/icon.png"}, Operation::Failure, {"/icon.png"}, "earlier text"},
    };
    for (const auto &testCase : cases) {
        SCOPED_TRACE(testCase.name);
        QLocale::setDefault(QLocale(testCase.locale));
        const Product product = ambrel();
        writeFile(product.iconFile(), "earlier icon");
        writeFile(product.descriptionFile(), "earlier text");
        m_server.clearBehaviours();
        m_server.clearRequests();
        for (const QString &file : testCase.missing)
            m_server.answerStatus(kBase + file, 404);

        const Outcome outcome = download(product);
        EXPECT_EQ(outcome.result, testCase.result);
        QStringList expected;
        for (const QString &file : testCase.requested)
            expected << kBase + file;
        EXPECT_EQ(m_server.requests(), expected);
        EXPECT_EQ(readFile(product.iconFile()), testCase.missing.contains("/icon.png") ? "earlier icon" : "PNG icon");
        EXPECT_EQ(readFile(product.descriptionFile()), testCase.description);
    }
}

// A product's resources folder is made by its first download, not by the record.
TEST_F(ProductResourceTest, FirstDownloadMakesTheFolder)
{
    const Product product = ambrel();
    ASSERT_FALSE(QFileInfo::exists(product.resourcesDir()));
    QLocale::setDefault(QLocale("en_US"));
    ASSERT_TRUE(download(product).succeeded);
    EXPECT_EQ(readFile(product.iconFile()), "PNG icon");
    EXPECT_EQ(readFile(product.descriptionFile()), "Warm film looks");
}

TEST_F(ProductResourceTest, ResourcesAreKeptSevenDaysThenFetchedAgain)
{
    const QDateTime now = QDateTime::currentDateTime();
    const Product product = ambrel();
    writeFile(product.iconFile(), "old icon");
    writeFile(product.descriptionFile(), "old text");
    auto age = [&](const QString &file, qint64 seconds) {
        QFile handle(file);
        ASSERT_TRUE(handle.open(QIODevice::ReadWrite));
        ASSERT_TRUE(handle.setFileTime(now.addSecs(-seconds), QFileDevice::FileModificationTime));
    };
    const qint64 day = 24 * 3600;

    age(product.iconFile(), 6 * day);
    age(product.descriptionFile(), 6 * day);
    EXPECT_TRUE(ProductResourceDownloadOperation::cachedResourcesAreFresh(product, now));
    EXPECT_FALSE(ProductResourceDownloadOperation::cachedResourcesAreFresh(ambrel(ProductUpdateAvailable), now));

    age(product.descriptionFile(), 7 * day);
    EXPECT_FALSE(ProductResourceDownloadOperation::cachedResourcesAreFresh(product, now));
    age(product.descriptionFile(), 6 * day);
    QFile::remove(product.iconFile());
    EXPECT_FALSE(ProductResourceDownloadOperation::cachedResourcesAreFresh(product, now));

    writeFile(product.iconFile(), "old icon");
    age(product.iconFile(), 8 * day);
    ASSERT_FALSE(ProductResourceDownloadOperation::cachedResourcesAreFresh(product));
    QLocale::setDefault(QLocale("en_US"));
    ASSERT_TRUE(download(product).succeeded);
    EXPECT_EQ(readFile(product.iconFile()), "PNG icon");
    EXPECT_EQ(readFile(product.descriptionFile()), "Warm film looks");
    EXPECT_TRUE(ProductResourceDownloadOperation::cachedResourcesAreFresh(product));
}

} // namespace
