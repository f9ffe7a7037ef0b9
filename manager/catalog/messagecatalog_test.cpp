#include "manager/catalog/messagecatalog.h"

#include "manager/app/testing/test_environment.h"
#include "tools/catalogserver/catalogserver.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const char kCatalogPath[] = "/messages/1.1.0.229/";

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

// One message entry of a catalog.
QByteArray entry(const QString &id, const QString &path, const char *type)
{
    return QStringLiteral(R"({"Id": "%1", "URL": "@BASE@%2", "Type": %3})").arg(id, path, QLatin1String(type)).toUtf8();
}

QByteArray catalogOf(const QList<QByteArray> &entries)
{
    return R"({"MessageCatalog": {"Version": 1, "Messages": [)" + entries.toVector().toList().join(',') + "]}}";
}

class MessageCatalogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_site.isValid() && m_cache.isValid());
        QDir(m_site.path()).mkpath("messages/1.1.0.229");
        QDir(m_site.path()).mkpath("bundles");
        m_server.setRoot(m_site.path());
        ASSERT_TRUE(m_server.start());
    }

    // A bundle on the server whose index.html says `text`; its URL path.
    QString makeBundle(const QString &name, const QByteArray &text)
    {
        const QString path = "/bundles/" + name;
        QString error;
        EXPECT_TRUE(CatalogFixtures::makeResourceBundle(m_site.path() + path, {{"index.html", text}}, &error))
            << error.toStdString();
        return path;
    }

    void publish(const QByteArray &catalog) { writeFile(m_site.path() + kCatalogPath + QStringLiteral("index.json"), catalog); }

    QString cached(const QString &name) const { return m_cache.path() + '/' + name; }
    QStringList cachedFiles() const { return QDir(m_cache.path()).entryList(QDir::Files, QDir::Name); }

    TestEnvironment m_environment;
    QTemporaryDir m_site;
    QTemporaryDir m_cache;
    CatalogServer m_server;
};

QByteArray page(const QString &root)
{
    return readFile(root + "index.html");
}

} // namespace

TEST_F(MessageCatalogTest, SyncRegistersBundlesAndReturnsPagesOfTheWantedType)
{
    publish(catalogOf({entry("t1-a.rcc", makeBundle("a.rcc", "page A"), "\"1\""),
                       entry("t1-alt.rcc", makeBundle("alt.rcc", "page alt"), "\"2\""),
                       entry("t1-other.rcc", makeBundle("other.rcc", "page other"), "\"3\""),
                       entry("t1-number.rcc", makeBundle("number.rcc", "page number"), "2"),
                       entry("t1-b.rcc", makeBundle("b.rcc", "page B"), "\"1\"")}));

    MessageCatalog catalog(m_server.url(kCatalogPath + QStringLiteral("?lang=de_DE")), m_cache.path());
    EXPECT_TRUE(catalog.pages().isEmpty());
    ASSERT_TRUE(catalog.syncMessages(false));
    EXPECT_EQ(catalog.pages(), QStringList({":/message_catalog/t1-a.rcc/", ":/message_catalog/t1-b.rcc/"}));
    EXPECT_EQ(page(catalog.pages().at(0)), "page A");
    // Every bundle on disk is registered, also those of other types.
    EXPECT_EQ(page(":/message_catalog/t1-other.rcc/"), "page other");
    EXPECT_EQ(page(":/message_catalog/t1-number.rcc/"), "page number");

    ASSERT_TRUE(catalog.syncMessages(true));
    EXPECT_EQ(catalog.pages(), QStringList({":/message_catalog/t1-alt.rcc/"}));
    EXPECT_EQ(catalog.loadMessages(false).size(), 2);
    EXPECT_EQ(catalog.pages().size(), 1); // loadMessages() leaves pages() alone
}

TEST_F(MessageCatalogTest, BundlesAreFetchedOnceAndStaleOnesRemoved)
{
    const QString keep = makeBundle("keep.rcc", "keep");
    publish(catalogOf({entry("t2-keep.rcc", keep, "\"1\""), entry("t2-gone.rcc", makeBundle("gone.rcc", "gone"), "\"1\"")}));
    writeFile(cached("product_catalog.json"), "{}");
    writeFile(cached("installer.msi"), "msi");
    writeFile(cached("stranger.rcc"), "not named by the catalog");

    MessageCatalog catalog(m_server.url(kCatalogPath), m_cache.path());
    ASSERT_TRUE(catalog.syncMessages(false));
    EXPECT_EQ(cachedFiles(), QStringList({"installer.msi", "message_catalog.json", "product_catalog.json",
                                          "t2-gone.rcc", "t2-keep.rcc"}));

    // The next catalog drops one bundle and moves the other: only stale ".rcc" files go, and a
    // bundle already on disk is not fetched again even from a new address.
    const QString moved = makeBundle("moved.rcc", "moved");
    publish(catalogOf({entry("t2-keep.rcc", moved, "\"1\""), entry("t2-plain", makeBundle("plain.bin", "plain"), "\"1\"")}));
    ASSERT_TRUE(catalog.syncMessages(false));
    EXPECT_EQ(cachedFiles(), QStringList({"installer.msi", "message_catalog.json", "product_catalog.json",
                                          "t2-keep.rcc", "t2-plain"}));
    EXPECT_EQ(m_server.requestCount(keep), 1);
    EXPECT_EQ(m_server.requestCount(moved), 0);
    EXPECT_EQ(catalog.pages(), QStringList({":/message_catalog/t2-keep.rcc/", ":/message_catalog/t2-plain/"}));

    // A catalog without messages removes every ".rcc" bundle but never other files.
    publish(catalogOf({}));
    ASSERT_TRUE(catalog.syncMessages(false));
    EXPECT_EQ(cachedFiles(), QStringList({"installer.msi", "message_catalog.json", "product_catalog.json", "t2-plain"}));
    EXPECT_TRUE(catalog.pages().isEmpty());
}

TEST_F(MessageCatalogTest, FailedSyncKeepsPagesFilesAndCache)
{
    publish(catalogOf({entry("t3-a.rcc", makeBundle("a.rcc", "page A"), "\"1\"")}));
    MessageCatalog catalog(m_server.url(kCatalogPath), m_cache.path());
    ASSERT_TRUE(catalog.syncMessages(false));
    const QStringList pages = catalog.pages();
    const QByteArray cachedCatalog = readFile(catalog.fileName());

    struct Case { const char *what; int status; QByteArray body; };
    for (const Case &c : {Case{"server error", 500, {}}, Case{"not found", 404, {}},
                          Case{"not a catalog", 0, "<html>proxy login</html>"},
                          Case{"other JSON", 0, R"({"ProductCatalog": {}})"},
                          Case{"messages not a list", 0, R"({"MessageCatalog": {"Version": 1, "Messages": "none"}})"},
                          Case{"a key twice", 0, R"({"MessageCatalog": {"Messages": [], "Messages": []}})"}}) {
        m_server.clearBehaviours();
        if (c.status)
            m_server.answerStatus(kCatalogPath, c.status);
        else
            m_server.answerBody(kCatalogPath, c.body);
        EXPECT_FALSE(catalog.syncMessages(true)) << c.what;
        EXPECT_EQ(catalog.pages(), pages) << c.what;
        EXPECT_EQ(readFile(catalog.fileName()), cachedCatalog) << c.what;
        EXPECT_TRUE(QFile::exists(cached("t3-a.rcc"))) << c.what;
    }

    // A bundle that fails to download leaves nothing behind and is tried again next time.
    m_server.clearBehaviours();
    publish(catalogOf({entry("t3-a.rcc", "/bundles/a.rcc", "\"1\""), entry("t3-late.rcc", "/bundles/late.rcc", "\"1\"")}));
    m_server.cutBody("/bundles/late.rcc");
    makeBundle("late.rcc", QByteArray("late page ").repeated(100));
    ASSERT_TRUE(catalog.syncMessages(false));
    EXPECT_FALSE(QFile::exists(cached("t3-late.rcc")));
    EXPECT_EQ(catalog.pages(), QStringList({":/message_catalog/t3-a.rcc/"}));
    m_server.clearBehaviours();
    ASSERT_TRUE(catalog.syncMessages(false));
    EXPECT_EQ(catalog.pages().size(), 2);
}

TEST_F(MessageCatalogTest, RepeatedSyncsRegisterEachBundleOnce)
{
    publish(catalogOf({entry("t6-a.rcc", makeBundle("a.rcc", "page A"), "\"1\""),
                       entry("t6-gone.rcc", makeBundle("gone.rcc", "gone"), "\"2\"")}));
    MessageCatalog catalog(m_server.url(kCatalogPath), m_cache.path());
    for (int sync = 0; sync < 3; ++sync)
        ASSERT_TRUE(catalog.syncMessages(sync % 2 == 1));
    ASSERT_TRUE(catalog.syncMessages(false));
    // One unregistration takes a bundle away: it was registered once, not once per sync.
    catalog.unloadMessages();
    EXPECT_FALSE(QFile::exists(":/message_catalog/t6-a.rcc/index.html"));
    EXPECT_EQ(catalog.loadMessages(false), QStringList({":/message_catalog/t6-a.rcc/"}));
    EXPECT_EQ(page(":/message_catalog/t6-a.rcc/"), "page A");

    // A bundle the catalog drops is unregistered before its file goes.
    EXPECT_EQ(page(":/message_catalog/t6-gone.rcc/"), "gone");
    publish(catalogOf({entry("t6-a.rcc", "/bundles/a.rcc", "\"1\"")}));
    ASSERT_TRUE(catalog.syncMessages(false));
    EXPECT_FALSE(QFile::exists(cached("t6-gone.rcc")));
    EXPECT_FALSE(QFile::exists(":/message_catalog/t6-gone.rcc/index.html"));
}

TEST_F(MessageCatalogTest, IdsThatWouldLeaveTheFolderAreSkipped)
{
    const QString bundle = makeBundle("a.rcc", "page");
    publish(catalogOf({entry("../t4-escape.rcc", bundle, "\"1\""), entry("sub/t4.rcc", bundle, "\"1\""),
                       entry("..", bundle, "\"1\""), entry("", bundle, "\"1\""), entry("t4-fine.rcc", bundle, "\"1\"")}));
    QTemporaryDir parent;
    const QString folder = parent.filePath("cache");
    QDir().mkpath(folder);
    MessageCatalog catalog(m_server.url(kCatalogPath), folder);
    ASSERT_TRUE(catalog.syncMessages(false));
    EXPECT_EQ(catalog.pages(), QStringList({":/message_catalog/t4-fine.rcc/"}));
    EXPECT_EQ(m_server.requestCount(bundle), 1);
    EXPECT_EQ(QDir(parent.path()).entryList(QDir::Files), QStringList());
}

TEST_F(MessageCatalogTest, CachedPagesServeAtConstructionAndUnloadOnDestruction)
{
    publish(catalogOf({entry("t5-a.rcc", makeBundle("a.rcc", "page A"), "\"1\""),
                       entry("t5-alt.rcc", makeBundle("alt.rcc", "page alt"), "\"2\"")}));
    {
        MessageCatalog online(m_server.url(kCatalogPath), m_cache.path());
        ASSERT_TRUE(online.syncMessages(false));
    }
    // Every bundle it registered goes with it, also those of the other type.
    EXPECT_FALSE(QFile::exists(":/message_catalog/t5-a.rcc/index.html"));
    EXPECT_FALSE(QFile::exists(":/message_catalog/t5-alt.rcc/index.html"));

    m_server.close();
    {
        MessageCatalog offline(m_server.url(kCatalogPath), m_cache.path());
        EXPECT_EQ(offline.pages(), QStringList({":/message_catalog/t5-a.rcc/"}));
        EXPECT_EQ(page(offline.pages().at(0)), "page A");
        EXPECT_FALSE(offline.syncMessages(false));
        EXPECT_EQ(offline.pages().size(), 1);
    }
    EXPECT_FALSE(QFile::exists(":/message_catalog/t5-a.rcc/index.html"));
}

TEST_F(MessageCatalogTest, DemoSiteBundlesRegister)
{
    CatalogServer demo(CatalogFixtures::demoSiteFolder());
    ASSERT_TRUE(demo.start());
    MessageCatalog catalog(demo.url(kCatalogPath + QStringLiteral("?lang=en_US")), m_cache.path());
    ASSERT_TRUE(catalog.syncMessages(false));
    ASSERT_EQ(catalog.pages().size(), 2);
    for (const QString &root : catalog.pages())
        EXPECT_TRUE(page(root).contains("<h1>")) << root.toStdString();
    ASSERT_TRUE(catalog.syncMessages(true));
    EXPECT_EQ(catalog.pages(), QStringList({":/message_catalog/looks-offer.rcc/"}));
}
