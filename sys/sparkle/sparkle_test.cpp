#include "sys/sparkle/sparkle.h"

#include "sys/sparkle/updatedialog.h"
#include "tools/catalogserver/catalogserver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>

namespace {

QByteArray appcast(const QStringList& versions) {
    QByteArray items;
    for (const QString& version : versions)
        items += QStringLiteral("<item><title>Solvane Manager %1</title><version>%1</version>"
                                "<link>https://127.0.0.1/download/%1</link><description>Fixes.</description></item>")
                     .arg(version)
                     .toUtf8();
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\"><channel><title>Updates</title>" + items +
           "</channel></rss>\n";
}

TEST(SparkleVersions, CompareFieldByFieldWithMissingFieldsAsZero) {
    struct Case {
        const char* left;
        const char* right;
        int order;
        bool ok;
    } cases[] = {
        {"1.1.0.229", "1.1.0.229", 0, true}, {"1.1.0.230", "1.1.0.229", 1, true}, {"1.1", "1.1.0.0", 0, true},
        {"1.10", "1.9.9.9", 1, true},        {"2", "10", -1, true},               {"1.1.0.229.1", "1.1", 0, false},
        {"1.x", "1.1", 0, false},            {"", "1", 0, false},                 {"1..2", "1.0.2", 0, false},
        {"-1", "1", 0, false},
    };
    for (const Case& c : cases) {
        bool ok = !c.ok;
        EXPECT_EQ(sparkle::compareVersions(c.left, c.right, &ok), c.order) << c.left << " vs " << c.right;
        EXPECT_EQ(ok, c.ok) << c.left << " vs " << c.right;
    }
}

TEST(SparkleAppcast, NewestItemDecidesWhateverItsPosition) {
    const sparkle::CheckResult found = sparkle::evaluateAppcast(appcast({"1.0.9", "1.1.0.240", "1.1.0.230"}), "1.1.0.229");
    EXPECT_EQ(found.status, sparkle::CheckResult::UpdateFound);
    EXPECT_EQ(found.version, "1.1.0.240");
    EXPECT_EQ(found.link, "https://127.0.0.1/download/1.1.0.240");
    EXPECT_EQ(found.description, "Fixes.");

    EXPECT_EQ(sparkle::evaluateAppcast(appcast({"1.1.0.229"}), "1.1.0.229").status, sparkle::CheckResult::UpToDate);
    EXPECT_EQ(sparkle::evaluateAppcast(appcast({"1.0"}), "1.1.0.229").status, sparkle::CheckResult::UpToDate);
    EXPECT_EQ(sparkle::evaluateAppcast(appcast({}), "1.1.0.229").status, sparkle::CheckResult::UpToDate);
}

TEST(SparkleAppcast, DemoSiteFeedAnnouncesTheRunningVersion) {
    QFile feed(CatalogFixtures::demoSiteFolder() + "/windows/appcast.xml");
    ASSERT_TRUE(feed.open(QIODevice::ReadOnly));
    const sparkle::CheckResult result = sparkle::evaluateAppcast(feed.readAll(), "1.1.0.229");
    EXPECT_EQ(result.status, sparkle::CheckResult::UpToDate) << result.error.toStdString();
    EXPECT_EQ(result.version, "1.1.0.229");
}

TEST(SparkleAppcast, BrokenDocumentsFailWithTheReason) {
    struct Case {
        QByteArray document;
        const char* reason;
    } cases[] = {
        {"", "empty"},
        {"<rss><channel><item><version>1.2</version></item>", "not well-formed XML"},
        {"<rss><channel><item><version>1.2</version></itm></channel></rss>", "line 1"},
        {"<feed><entry/></feed>", "root element is <feed>"},
        {"<rss version=\"2.0\"/>", "no <channel>"},
        {"<rss><channel><item><title>x</title></item></channel></rss>", "item 1 (line 1) has no valid <version>"},
        {"<rss><channel><item><version>2.beta</version></item></channel></rss>", "\"2.beta\""},
    };
    for (const Case& c : cases) {
        const sparkle::CheckResult result = sparkle::evaluateAppcast(c.document, "1.1.0.229");
        EXPECT_EQ(result.status, sparkle::CheckResult::Failed) << c.document.constData();
        EXPECT_TRUE(result.error.contains(c.reason)) << result.error.toStdString();
    }
}

// The component against a real loopback server. Callbacks count their calls and note whether
// they ran off the GUI thread.
std::atomic<int> foundCalls{0};
std::atomic<int> cancelledCalls{0};
std::atomic<bool> callbackOnGuiThread{false};

void onFound() {
    ++foundCalls;
    callbackOnGuiThread = callbackOnGuiThread || QThread::currentThread() == qApp->thread();
}
void onCancelled() {
    ++cancelledCalls;
    callbackOnGuiThread = callbackOnGuiThread || QThread::currentThread() == qApp->thread();
}

class SparkleComponent : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.start());
        foundCalls = 0;
        cancelledCalls = 0;
        callbackOnGuiThread = false;
        setFeed(server.url("/windows/appcast.xml"));
        win_sparkle_set_did_find_update_callback(onFound);
        win_sparkle_set_update_cancelled_callback(onCancelled);
    }
    void TearDown() override {
        win_sparkle_set_automatic_check_for_updates(0);
        win_sparkle_cleanup();
    }

    static void setFeed(const QUrl& url) { win_sparkle_set_appcast_url(url.toString().toUtf8().constData()); }

    // Starts the component with automatic checks and waits for the first check's result.
    sparkle::CheckResult startAndWait() {
        const int before = sparkle::finishedCheckCount();
        win_sparkle_init();
        win_sparkle_set_automatic_check_for_updates(1);
        return waitForCheck(before);
    }

    static sparkle::CheckResult waitForCheck(int before) {
        QElapsedTimer timer;
        timer.start();
        while (sparkle::finishedCheckCount() == before && timer.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::processEvents();  // the dialog request
        return sparkle::lastCheckResult();
    }

    static UpdateDialog* shownDialog() {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<UpdateDialog*>(widget); dialog && dialog->isVisible())
                return dialog;
        }
        return nullptr;
    }

    CatalogServer server;
};

TEST_F(SparkleComponent, NewerVersionCallsTheFoundCallbackOnTheUpdateThread) {
    server.answerBody("/windows/appcast.xml", appcast({"1.1.0.230"}));
    const sparkle::CheckResult result = startAndWait();
    EXPECT_EQ(result.status, sparkle::CheckResult::UpdateFound);
    EXPECT_EQ(foundCalls, 1);
    EXPECT_EQ(cancelledCalls, 0);
    EXPECT_FALSE(callbackOnGuiThread);
    EXPECT_EQ(server.requestCount("/windows/appcast.xml"), 1);

    // The found update is offered in the dialog; closing it without downloading cancels.
    UpdateDialog* dialog = shownDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->shownStatus(), sparkle::CheckResult::UpdateFound);
    dialog->reject();
    QElapsedTimer timer;
    timer.start();
    while (cancelledCalls == 0 && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(cancelledCalls, 1);
    EXPECT_FALSE(callbackOnGuiThread);
}

TEST_F(SparkleComponent, CurrentVersionCallsNothingAndShowsNothing) {
    server.answerBody("/windows/appcast.xml", appcast({"1.1.0.229", "1.0.0.1"}));
    EXPECT_EQ(startAndWait().status, sparkle::CheckResult::UpToDate);
    EXPECT_EQ(foundCalls, 0);
    EXPECT_EQ(cancelledCalls, 0);
    EXPECT_EQ(shownDialog(), nullptr);
}

TEST_F(SparkleComponent, BrokenFeedsAreClearErrorsAndCallNothing) {
    struct Case {
        const char* name;
        std::function<void(CatalogServer&)> arrange;
        const char* reason;
    } cases[] = {
        {"malformed", [](CatalogServer& s) { s.answerBody("/windows/appcast.xml", "<rss><channel><item>"); },
         "not well-formed XML"},
        {"missing", [](CatalogServer& s) { s.answerStatus("/windows/appcast.xml", 404); }, "Can't read the appcast"},
        {"cut", [](CatalogServer& s) { s.cutBody("/windows/appcast.xml"); }, "appcast"},
    };
    for (const Case& c : cases) {
        server.clearBehaviours();
        server.answerBody("/windows/appcast.xml", appcast({"1.1.0.300"}));
        c.arrange(server);
        const sparkle::CheckResult result = startAndWait();
        EXPECT_EQ(result.status, sparkle::CheckResult::Failed) << c.name;
        EXPECT_TRUE(result.error.contains(c.reason)) << c.name << ": " << result.error.toStdString();
        EXPECT_TRUE(result.error.contains(server.url("/windows/appcast.xml").toString())) << c.name;
        EXPECT_EQ(foundCalls, 0) << c.name;
        win_sparkle_cleanup();
    }
}

TEST_F(SparkleComponent, CheckWithUiShowsEveryOutcome) {
    server.answerBody("/windows/appcast.xml", appcast({"1.1.0.229"}));
    win_sparkle_init();
    int before = sparkle::finishedCheckCount();
    win_sparkle_check_update_with_ui();
    ASSERT_NE(shownDialog(), nullptr);  // "checking" at once
    EXPECT_EQ(waitForCheck(before).status, sparkle::CheckResult::UpToDate);
    ASSERT_NE(shownDialog(), nullptr);
    EXPECT_EQ(shownDialog()->shownStatus(), sparkle::CheckResult::UpToDate);
    shownDialog()->reject();
    QCoreApplication::processEvents();
    EXPECT_EQ(cancelledCalls, 0);  // nothing was offered, so nothing was declined

    server.answerStatus("/windows/appcast.xml", 500);
    before = sparkle::finishedCheckCount();
    win_sparkle_check_update_with_ui();
    waitForCheck(before);
    ASSERT_NE(shownDialog(), nullptr);
    EXPECT_EQ(shownDialog()->shownStatus(), sparkle::CheckResult::Failed);
    EXPECT_EQ(foundCalls, 0);

    // Cleanup closes the dialog.
    win_sparkle_cleanup();
    EXPECT_EQ(shownDialog(), nullptr);
}

TEST_F(SparkleComponent, HttpsFeedWithATrustedLoopbackCertificate) {
    QTemporaryDir folder;
    const CatalogFixtures::CertificateFiles files = CatalogFixtures::makeSelfSignedCertificate(folder.path());
    ASSERT_FALSE(files.certificate.isEmpty());
    CatalogServer tls;
    ASSERT_TRUE(tls.useTls(files.certificate, files.key));
    ASSERT_TRUE(tls.start());
    tls.answerBody("/windows/appcast.xml", appcast({"1.2"}));
    setFeed(tls.url("/windows/appcast.xml"));

    // Untrusted first: a clear TLS error.
    EXPECT_EQ(startAndWait().status, sparkle::CheckResult::Failed);
    win_sparkle_cleanup();

    qputenv("SOLVANE_UPDATE_CA_FILE", files.certificate.toUtf8());
    const sparkle::CheckResult result = startAndWait();
    qunsetenv("SOLVANE_UPDATE_CA_FILE");
    EXPECT_EQ(result.status, sparkle::CheckResult::UpdateFound) << result.error.toStdString();
    EXPECT_EQ(foundCalls, 1);
}

}  // namespace

namespace {

// The dialog first shows "checking" at the size that needs; the result's texts that follow are
// longer, and the dialog grows to show every line of them.
TEST(SparkleDialog, LaterStatesShowAllOfTheirLongerTexts) {
    UpdateDialog dialog;
    dialog.showChecking();
    QCoreApplication::processEvents();
    sparkle::CheckResult found;
    found.status = sparkle::CheckResult::UpdateFound;
    found.version = QStringLiteral("1.2.0.240");
    found.link = QStringLiteral("https://example.invalid/");
    found.description = QStringLiteral("Faster start-up, cards that show what failed, and every text in ten languages. ")
                            .repeated(3);
    for (const sparkle::CheckResult::Status status : {sparkle::CheckResult::UpdateFound, sparkle::CheckResult::Failed}) {
        found.status = status;
        found.error = found.description;
        dialog.showResult(found);
        QCoreApplication::processEvents();
        auto* details = dialog.findChild<QLabel*>(QStringLiteral("detailsLabel"));
        ASSERT_NE(details, nullptr);
        EXPECT_TRUE(details->text().contains(QStringLiteral("every text in ten languages")));
        EXPECT_GE(details->height(), details->heightForWidth(details->width())) << status;
        EXPECT_TRUE(dialog.rect().contains(details->geometry())) << status;
    }
}

}  // namespace
