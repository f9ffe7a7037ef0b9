#include "manager/ui/messageview.h"

#include "manager/app/testing/test_environment.h"
#include "manager/catalog/messagecatalog.h"
#include "manager/ui/messagepager.h"
#include "tools/catalogserver/catalogserver.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFile>
#include <QResource>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

namespace {

constexpr int kLoadTimeoutMs = 30000;

// The waits below spin the event queue themselves (QTest::qWaitFor) rather than entering a
// nested event loop, so that they keep working after another test has ended the application's
// loops with QCoreApplication::exit.

// Runs action and waits until a page has loaded; false when none loads in time. A load that
// a newer one cancels ends with a failure first, so failures are waited past.
bool loadAfter(MessageView &view, const std::function<void()> &action)
{
    // Only a load that starts after the action counts: the end of one that was still running
    // (the view's start page, the page before) must not pass for the new one.
    bool started = false;
    bool loaded = false;
    const QMetaObject::Connection start =
        QObject::connect(&view, &QWebEngineView::loadStarted, [&started] { started = true; });
    const QMetaObject::Connection finish = QObject::connect(
        &view, &QWebEngineView::loadFinished, [&started, &loaded](bool ok) { loaded = loaded || (started && ok); });
    action();
    (void)QTest::qWaitFor([&loaded] { return loaded; }, kLoadTimeoutMs);
    QObject::disconnect(start);
    QObject::disconnect(finish);
    return loaded;
}

QVariant evaluate(MessageView &view, const QString &script)
{
    QVariant result;
    bool done = false;
    view.page()->runJavaScript(script, [&](const QVariant &value) {
        result = value;
        done = true;
    });
    (void)QTest::qWaitFor([&done] { return done; }, kLoadTimeoutMs);
    return result;
}

// The text of the shown page's first heading.
QString heading(MessageView &view)
{
    return evaluate(view, QStringLiteral("(document.querySelector('h1') || {textContent: ''}).textContent")).toString();
}

QList<int> indices(const QSignalSpy &spy)
{
    QList<int> values;
    for (const QList<QVariant> &arguments : spy)
        values << arguments.at(0).toInt();
    return values;
}


const QStringList kBuiltinPages = {QStringLiteral(":/default_message/"), QStringLiteral(":/solvane_message/"),
                                   QStringLiteral(":/install_message/")};

// The private world's data folders leave out the system's, where the MIME database that types
// the "qrc" pages lives: the view must find it all the same.
class MessageViewTest : public ::testing::Test
{
protected:
    TestEnvironment m_environment;
};

TEST(MessageViewStartTest, FirstPageIsTheBuiltInPageOfTheIdentity)
{
    const struct {
        const char *identity;
        const char *root;
        const char *heading;
    } cases[] = {
        {"Solvane Manager", ":/solvane_message/", "Solvane Photo 2"},
        {"Solvane Photo 2", ":/default_message/", "Welcome to Solvane Manager"},
        {"Keltrix Kivo Manager", ":/default_message/", "Welcome to Solvane Manager"},
    };
    for (const auto &c : cases) {
        TestEnvironment environment(QString::fromUtf8(c.identity));
        const auto view = std::make_unique<MessageView>();
        ASSERT_TRUE(loadAfter(*view, [] {})) << c.identity; // the constructor's load ends later
        EXPECT_EQ(view->messages(), QStringList{QString::fromUtf8(c.root)}) << c.identity;
        EXPECT_EQ(view->url(), QUrl(QStringLiteral("qrc") + c.root + "index.html")) << c.identity;
        EXPECT_EQ(heading(*view), QString::fromUtf8(c.heading)) << c.identity;
        EXPECT_EQ(view->contextMenuPolicy(), Qt::NoContextMenu);
        EXPECT_FALSE(view->isRotationPending()) << "one page does not rotate";
    }
}

TEST_F(MessageViewTest, BuiltInPagesLoadWithTheirImages)
{
    MessageView view;
    // The constructor's load ends later; were it still on its way, the first page's wait could
    // take its end and every later wait the end of the page before.
    ASSERT_TRUE(loadAfter(view, [] {}));
    // The pointer rests on the view, so no rotation tick moves the page while a slow machine
    // (a sanitizer build with other tests beside it) takes longer than a tick over the pages.
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(&view, &enter);
    view.setMessages(kBuiltinPages);
    for (int i = 0; i < kBuiltinPages.size(); ++i) {
        ASSERT_TRUE(loadAfter(view, [&] { view.setCurrentMessage(i); })) << kBuiltinPages[i].toStdString();
        EXPECT_FALSE(heading(view).isEmpty()) << kBuiltinPages[i].toStdString();
        // The background comes from the same root.
        const QString background = evaluate(view, "getComputedStyle(document.body).backgroundImage").toString();
        EXPECT_TRUE(background.startsWith("url(\"qrc" + kBuiltinPages[i])) << background.toStdString();
    }
}

TEST_F(MessageViewTest, ShowsTheIndexPagesOfDownloadedBundles)
{
    // The cache folder as a sync from the demo site leaves it: the catalog and its bundles.
    const QString site = CatalogFixtures::demoSiteFolder() + QStringLiteral("/messages/");
    QTemporaryDir cache;
    ASSERT_TRUE(QFile::copy(site + "1.1.0.229/index.json", cache.filePath("message_catalog.json")));
    for (const char *bundle : {"welcome.rcc", "tips.rcc", "looks-offer.rcc"})
        ASSERT_TRUE(QFile::copy(site + "bundles/" + bundle, cache.filePath(bundle))) << bundle;
    MessageCatalog catalog(QUrl(), cache.path());
    const QStringList pages = catalog.pages();
    ASSERT_EQ(pages, (QStringList{":/message_catalog/welcome.rcc/", ":/message_catalog/tips.rcc/"}));

    MessageView view;
    ASSERT_TRUE(loadAfter(view, [&] { view.setMessages(pages); }));
    EXPECT_EQ(view.url(), QUrl("qrc:/message_catalog/welcome.rcc/index.html"));
    EXPECT_EQ(heading(view), "Welcome");
    // The page's own style sheet comes from the bundle too.
    EXPECT_NE(evaluate(view, "getComputedStyle(document.body).fontFamily").toString(), QString());
    EXPECT_EQ(evaluate(view, "document.styleSheets.length").toInt(), 1);

    ASSERT_TRUE(loadAfter(view, [&] { view.rotate(); }));
    EXPECT_EQ(heading(view), "Tip of the day");
}

TEST_F(MessageViewTest, RotatesInOrderAndWrapsAroundExceptUnderTheMouse)
{
    MessageView view;
    QSignalSpy changed(&view, &MessageView::currentMessageChanged);
    view.setMessages(kBuiltinPages);
    EXPECT_TRUE(view.isRotationPending());

    view.rotate();
    view.rotate();
    view.rotate();
    EXPECT_EQ(indices(changed), (QList<int>{0, 1, 2, 0}));
    EXPECT_EQ(view.url(), MessageView::pageUrl(kBuiltinPages[0]));

    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(&view, &enter);
    EXPECT_FALSE(view.isRotationAllowed());
    changed.clear();
    view.rotate();
    EXPECT_TRUE(changed.isEmpty()) << "a tick under the mouse is skipped";
    EXPECT_TRUE(view.isRotationPending()) << "and the next tick still comes";

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&view, &leave);
    EXPECT_TRUE(view.isRotationAllowed());
    view.rotate();
    EXPECT_EQ(indices(changed), QList<int>{1});
    EXPECT_EQ(view.url(), MessageView::pageUrl(kBuiltinPages[1]));
}

TEST_F(MessageViewTest, PointerOverThePagePausesRotation)
{
    QWidget window;
    window.resize(600, 300);
    auto *view = new MessageView(&window);
    view->setGeometry(0, 0, 600, 220);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    view->setMessages(kBuiltinPages);

    QCursor::setPos(view->mapToGlobal(QPoint(300, 110)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !view->isRotationAllowed(); }, 2000));
    QCursor::setPos(window.mapToGlobal(QPoint(300, 260)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->isRotationAllowed(); }, 2000));
}

// Real time: one tick ten seconds after the first list, however many lists follow.
TEST_F(MessageViewTest, TimerTicksEveryTenSecondsAndNewListsDoNotRestartIt)
{
    MessageView view;
    QSignalSpy changed(&view, &MessageView::currentMessageChanged);
    QElapsedTimer clock;
    clock.start();
    view.setMessages(kBuiltinPages);
    QTest::qWait(3000);
    view.setMessages(kBuiltinPages.mid(0, 2));
    changed.clear();

    ASSERT_TRUE(QTest::qWaitFor([&changed] { return !changed.isEmpty(); }, 12000));
    const qint64 elapsed = clock.elapsed();
    // Coarse timers may fire 5 % early or late; a restarted timer would need 12.5 s at least.
    EXPECT_GE(elapsed, MessageView::kRotationIntervalMs * 95 / 100);
    EXPECT_LT(elapsed, MessageView::kRotationIntervalMs + 2000);
    EXPECT_EQ(indices(changed), QList<int>{1});
    EXPECT_TRUE(view.isRotationPending());
}

TEST_F(MessageViewTest, IndicesAreClampedAndStepsWrap)
{
    MessageView view;
    view.setMessages(kBuiltinPages);
    QSignalSpy changed(&view, &MessageView::currentMessageChanged);
    const struct {
        std::function<void()> step;
        int current;
    } steps[] = {
        {[&] { view.setCurrentMessage(7); }, 2},  {[&] { view.nextMessage(); }, 0},
        {[&] { view.previousMessage(); }, 2},     {[&] { view.setCurrentMessage(-3); }, 0},
        {[&] { view.previousMessage(); }, 2},     {[&] { view.previousMessage(); }, 1},
        {[&] { view.setCurrentMessage(1); }, 1}, // the same page is loaded again
    };
    for (const auto &step : steps) {
        changed.clear();
        step.step();
        EXPECT_EQ(view.currentMessage(), step.current);
        EXPECT_EQ(indices(changed), QList<int>{step.current});
        EXPECT_EQ(view.url(), MessageView::pageUrl(kBuiltinPages[step.current]));
    }
}

TEST_F(MessageViewTest, AnEmptyListKeepsTheLastPage)
{
    MessageView view;
    view.setMessages(kBuiltinPages);
    view.setCurrentMessage(2);
    QSignalSpy changed(&view, &MessageView::currentMessageChanged);

    view.setMessages({});
    view.setCurrentMessage(1);
    view.nextMessage();
    view.previousMessage();
    view.rotate();
    EXPECT_TRUE(changed.isEmpty());
    EXPECT_EQ(view.currentMessage(), 2);
    EXPECT_EQ(view.url(), MessageView::pageUrl(kBuiltinPages[2]));

    // A new list starts at its first page.
    view.setMessages(kBuiltinPages.mid(1));
    EXPECT_EQ(indices(changed), QList<int>{0});
    EXPECT_EQ(view.url(), MessageView::pageUrl(kBuiltinPages[1]));
}

TEST_F(MessageViewTest, PagerAndViewFollowEachOther)
{
    MessageView view;
    MessageViewPager pager;
    pager.resize(600, 14);
    QObject::connect(&view, &MessageView::currentMessageChanged, &pager, &MessageViewPager::setCurrentMessage);
    QObject::connect(&pager, &MessageViewPager::messageSelected, &view, &MessageView::setCurrentMessage);
    pager.setMessageCount(kBuiltinPages.size());
    pager.setCurrentMessage(0);
    view.setMessages(kBuiltinPages);

    const QPoint third = pager.dots().at(2).center();
    QTest::mouseClick(&pager, Qt::LeftButton, Qt::NoModifier, third);
    EXPECT_EQ(view.currentMessage(), 2);
    EXPECT_EQ(pager.currentMessage(), 2);

    view.rotate();
    EXPECT_EQ(pager.currentMessage(), 0);
}

// Receives the addresses that the page hands to the desktop.
class UrlReceiver : public QObject
{
    Q_OBJECT
public:
    QStringList opened;
public slots:
    void open(const QUrl &url) { opened << url.toString(); }
};

class MessageViewLinkTest : public MessageViewTest
{
protected:
    void SetUp() override
    {
        for (const char *scheme : {"http", "https", "file", "ftp"})
            QDesktopServices::setUrlHandler(scheme, &m_receiver, "open");
        const QByteArray index = R"(<html><body><h1>First</h1>
            <a id="web" href="http://127.0.0.1:9/offer">offer</a>
            <a id="file" href="file:///etc/hostname">file</a>
            <a id="ftp" href="ftp://127.0.0.1:9/x">ftp</a>
            <a id="next" href="second.html">next</a></body></html>)";
        ASSERT_TRUE(CatalogFixtures::makeResourceBundle(m_bundle, {{"index.html", index},
                                                                   {"second.html", "<h1>Second</h1>"}}));
        ASSERT_TRUE(QResource::registerResource(m_bundle, m_root));
    }

    void TearDown() override
    {
        for (const char *scheme : {"http", "https", "file", "ftp"})
            QDesktopServices::unsetUrlHandler(scheme);
        QResource::unregisterResource(m_bundle, m_root);
    }

    void click(MessageView &view, const char *id)
    {
        evaluate(view, QStringLiteral("document.getElementById('%1').click()").arg(QLatin1String(id)));
    }

    UrlReceiver m_receiver;
    QTemporaryDir m_folder;
    const QString m_bundle = m_folder.filePath(QStringLiteral("links.rcc"));
    const QString m_root = QStringLiteral("/message_catalog/links.rcc/");
};

TEST_F(MessageViewLinkTest, WebLinksGoToTheBrowserOtherSchemesNowhere)
{
    MessageView view;
    ASSERT_TRUE(loadAfter(view, [&] { view.setMessages({":" + m_root}); }));
    ASSERT_EQ(heading(view), "First");

    click(view, "file");
    click(view, "ftp");
    click(view, "web");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_receiver.opened.isEmpty(); }, 10000));
    QTest::qWait(300);
    EXPECT_EQ(m_receiver.opened, QStringList{"http://127.0.0.1:9/offer"});
    EXPECT_EQ(view.url(), QUrl("qrc:" + m_root + "index.html"));
    EXPECT_EQ(heading(view), "First");
}

TEST_F(MessageViewLinkTest, LinksInsideTheResourceSchemeNavigateInTheView)
{
    MessageView view;
    ASSERT_TRUE(loadAfter(view, [&] { view.setMessages({":" + m_root}); }));
    ASSERT_TRUE(loadAfter(view, [&] { click(view, "next"); }));
    EXPECT_EQ(view.url(), QUrl("qrc:" + m_root + "second.html"));
    EXPECT_EQ(heading(view), "Second");
    EXPECT_TRUE(m_receiver.opened.isEmpty());
}

} // namespace

#include "messageview_test.moc"
