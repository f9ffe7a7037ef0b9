#include "manager/operations/helpupdateroperation.h"

#include "manager/app/environment.h"
#include "manager/product/productsettings.h"
#include "manager/operations/testing/operation_test_support.h"

#include <QSignalSpy>

using namespace optest;

namespace {

QByteArray bundle(const QString &page)
{
    QTemporaryDir dir;
    QString error;
    EXPECT_TRUE(CatalogFixtures::makeResourceBundle(dir.filePath("b.rcc"), {{"index.html", page.toUtf8()}}, &error))
        << error.toStdString();
    return readFile(dir.filePath("b.rcc"));
}

class HelpUpdaterTest : public OperationTestBase
{
protected:
    // A product of the catalog; installed and current when `installed` is set.
    QSharedPointer<Product> product(const QString &name, ProductState state)
    {
        if (state != ProductNotInstalled) {
            const QString version = state == ProductInstalled ? QStringLiteral("2.0.0.0") : QStringLiteral("1.0.0.0");
            writeSettingsGroup(name, {{QStringLiteral("version"), version}});
        }
        const QString folder = name.toLower().replace(' ', '-');
        return QSharedPointer<Product>::create(name, ProductVersion(2, 0, 0, 0), QUrl(), QUrl(),
                                               m_server.url("/help/" + folder + "/"), QString(), 3, QString(), QString());
    }

    void serve(const QString &product, const QString &file, const QByteArray &content)
    {
        writeFile(sitePath("help/" + product + "/" + file), content);
    }

    QString helpFile(const QString &product, const QString &file) const
    {
        return AppEnvironment::helpPath(product) + "/" + file;
    }

    Outcome update(const QList<Product> &products)
    {
        return runOnController(QSharedPointer<Operation>(new HelpUpdaterOperation(products)));
    }
};

TEST_F(HelpUpdaterTest, FetchesTheServersBundleWhenTheLocalOnesAreOlder)
{
    const QByteArray newest = bundle("<p>help 13</p>");
    const struct {
        const char *name;
        QStringList local;
        QByteArray version;
        QString fetched; // empty: nothing is fetched
    } cases[] = {
        {"server older than the newest local", {"3.rcc", "12.rcc"}, "7\n", ""},
        {"server equal to the local", {"13.rcc"}, "13\n", ""},
        {"server newer", {"12.rcc"}, "13\n", "13.rcc"},
        {"empty folder", {}, "1", "1.rcc"},
        {"carriage return and blanks", {}, " 12 \r\nnotes\n", "12.rcc"},
    };
    for (const auto &testCase : cases) {
        SCOPED_TRACE(testCase.name);
        QDir(AppEnvironment::helpPath("Ambrel Set")).removeRecursively();
        for (const QString &file : testCase.local)
            writeFile(helpFile("Ambrel Set", file), "local " + file.toUtf8());
        serve("ambrel-set", "version.txt", testCase.version);
        if (!testCase.fetched.isEmpty())
            serve("ambrel-set", testCase.fetched, newest);
        m_server.clearRequests();

        const Outcome outcome = update({*product("Ambrel Set", ProductInstalled)});
        EXPECT_TRUE(outcome.succeeded) << outcome.errorText.toStdString();
        const QStringList expectedRequests = testCase.fetched.isEmpty()
            ? QStringList{"/help/ambrel-set/version.txt"}
            : QStringList{"/help/ambrel-set/version.txt", "/help/ambrel-set/" + testCase.fetched};
        EXPECT_EQ(m_server.requests(), expectedRequests);
        for (const QString &file : testCase.local)
            EXPECT_EQ(readFile(helpFile("Ambrel Set", file)), "local " + file.toUtf8());
        if (!testCase.fetched.isEmpty()) {
            EXPECT_EQ(readFile(helpFile("Ambrel Set", testCase.fetched)), newest);
        }
    }
}

TEST_F(HelpUpdaterTest, OnlyInstalledCurrentProductsAreUpdatedAndAnUnchangedVersionIsNotFetchedAgain)
{
    for (const char *name : {"ambrel-set", "quorin-set", "tessily-set"}) {
        serve(name, "version.txt", "4\n");
        serve(name, "4.rcc", bundle(name));
    }
    const QList<Product> products = {*product("Ambrel Set", ProductInstalled),
                                     *product("Quorin Set", ProductNotInstalled),
                                     *product("Tessily Set", ProductUpdateAvailable)};
    ASSERT_TRUE(update(products).succeeded);
    ASSERT_TRUE(update(products).succeeded);

    EXPECT_EQ(m_server.requestCount("/help/ambrel-set/version.txt"), 2);
    EXPECT_EQ(m_server.requestCount("/help/ambrel-set/4.rcc"), 1);
    EXPECT_EQ(m_server.requestCount("/help/quorin-set/version.txt"), 0);
    EXPECT_EQ(m_server.requestCount("/help/tessily-set/version.txt"), 0);
    EXPECT_EQ(AppEnvironment::latestHelpArchive("Ambrel Set").first, 4);
}

TEST_F(HelpUpdaterTest, BrokenAnswersKeepTheOldBundleAndDoNotStopOtherProducts)
{
    const QByteArray oldBundle = bundle("<p>help 12</p>");
    const struct {
        const char *name;
        std::function<void(CatalogServer &)> breakIt;
        QByteArray version;
    } cases[] = {
        {"version file missing", [](CatalogServer &s) { s.answerStatus("/help/ambrel-set/version.txt", 500); }, "13"},
        {"version not a number", [](CatalogServer &) {}, "v13\n"},
        {"bundle missing", [](CatalogServer &s) { s.answerStatus("/help/ambrel-set/13.rcc", 404); }, "13"},
        {"bundle cut off", [](CatalogServer &s) { s.cutBody("/help/ambrel-set/13.rcc"); }, "13"},
        {"bundle that is empty", [](CatalogServer &s) { s.answerBody("/help/ambrel-set/13.rcc", ""); }, "13"},
        {"bundle whose tree lies past its end",
         [](CatalogServer &s) { s.answerBody("/help/ambrel-set/13.rcc", bundle("<p>help 13</p>").left(109)); }, "13"},
        {"bundle that is an error page",
         [](CatalogServer &s) { s.answerBody("/help/ambrel-set/13.rcc", "<html>Service unavailable</html>"); }, "13"},
    };
    serve("quorin-set", "version.txt", "2");
    serve("quorin-set", "2.rcc", bundle("quorin"));
    serve("ambrel-set", "13.rcc", bundle("<p>help 13</p>"));
    for (const auto &testCase : cases) {
        SCOPED_TRACE(testCase.name);
        QDir(AppEnvironment::helpPath("Ambrel Set")).removeRecursively();
        QDir(AppEnvironment::helpPath("Quorin Set")).removeRecursively();
        writeFile(helpFile("Ambrel Set", "12.rcc"), oldBundle);
        serve("ambrel-set", "version.txt", testCase.version);
        m_server.clearBehaviours();
        testCase.breakIt(m_server);

        const Outcome outcome = update({*product("Ambrel Set", ProductInstalled), *product("Quorin Set", ProductInstalled)});
        EXPECT_EQ(outcome.result, Operation::Failure);
        EXPECT_EQ(outcome.errorText, "Can't update help for Ambrel Set");
        EXPECT_EQ(QDir(AppEnvironment::helpPath("Ambrel Set")).entryList(QDir::Files | QDir::Hidden), QStringList{"12.rcc"});
        EXPECT_EQ(readFile(helpFile("Ambrel Set", "12.rcc")), oldBundle);
        EXPECT_TRUE(QFile::exists(helpFile("Quorin Set", "2.rcc")));
    }
}

TEST_F(HelpUpdaterTest, ScheduleRearmsAfterEachRunUntilStopped)
{
    serve("ambrel-set", "version.txt", "5");
    serve("ambrel-set", "5.rcc", bundle("five"));
    const QList<Product> products = {*product("Ambrel Set", ProductInstalled)};

    HelpUpdateSchedule schedule;
    EXPECT_EQ(schedule.interval(), 3600000);
    schedule.setInterval(40);
    // Wired as the main window wires it: runs go to the controller, a due run asks for a new one.
    QObject::connect(&schedule, &HelpUpdateSchedule::operationStart, m_controller.data(), &OperationController::doPerform);
    int runs = 0;
    QObject::connect(&schedule, &HelpUpdateSchedule::due, [&] {
        if (++runs < 3)
            schedule.run(products);
    });
    QSignalSpy performed(m_controller.data(), &OperationController::finished);
    QSignalSpy started(&schedule, &HelpUpdateSchedule::operationStart);

    schedule.run(products);
    EXPECT_TRUE(schedule.isArmed());
    QElapsedTimer clock;
    clock.start();
    while ((performed.count() < 3 || runs < 3) && clock.elapsed() < 10000)
        QTest::qWait(5);
    EXPECT_EQ(performed.count(), 3);
    EXPECT_EQ(started.count(), 3);
    EXPECT_EQ(m_server.requestCount("/help/ambrel-set/version.txt"), 3);
    EXPECT_EQ(m_server.requestCount("/help/ambrel-set/5.rcc"), 1);
    EXPECT_FALSE(schedule.isArmed()); // the third due run was declined

    schedule.run(products);
    schedule.stop();
    EXPECT_FALSE(schedule.isArmed());
    QTest::qWait(200);
    EXPECT_EQ(started.count(), 4);
    EXPECT_EQ(runs, 3);
}

} // namespace
