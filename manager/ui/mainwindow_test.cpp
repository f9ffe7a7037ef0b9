#include "manager/ui/mainwindow.h"

#include "manager/app/testing/test_environment.h"
#include "manager/catalog/messagecatalog.h"
#include "manager/catalog/productcatalog.h"
#include "manager/operations/helpupdateroperation.h"
#include "manager/operations/httpgetoperation.h"
#include "manager/ui/messageview.h"
#include "manager/ui/productwidget.h"
#include "manager/ui/settingsdialog.h"
#include "manager/ui/testing/widget_test_support.h"
#include "sys/msi/msi.h"
#include "sys/sparkle/updatedialog.h"
#include "tools/catalogserver/catalogserver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>
#include <QTranslator>

#include <gtest/gtest.h>

#include <memory>

using uitest::actionRow;
using uitest::actionWidget;
using uitest::setInstalledVersion;
using uitest::waitUntil;

namespace {

const QString kProductsPath = QStringLiteral("/products/1.1.0.229/windows/uid");
const QString kMessagesPath = QStringLiteral("/messages/1.1.0.229/");

// Runs the application's event loop until something ends it with QCoreApplication::exit, or
// answers 99 after timeoutMs. Every exit a test provokes must be taken up by such a loop: an exit
// outside one would end the nested loops of later downloads at once.
int runApplicationLoop(int timeoutMs) {
    QTimer fallback;
    fallback.setSingleShot(true);
    QObject::connect(&fallback, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    fallback.start(timeoutMs);
    return QCoreApplication::exec();
}

// The main window against the demo site on a loopback server; the catalog hosts and the update
// feed point there through the environment.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.start());
        const QString port = QString::number(server.baseUrl().port());
        env.setEnv("SOLVANE_BRAND_HOST", "127.0.0.1");
        env.setEnv("SOLVANE_LEGACY_HOST", "127.0.0.1");
        env.setEnv("SOLVANE_API_PORT", port);
        env.setEnv("SOLVANE_UPDATE_PORT", port);
        env.setEnv("KELTRIX_APP_MANAGER_SCHEME", "http");
        AppEnvironment::prepareFolders();  // as the start-up does
    }

    // A window whose first refresh (0 ms after construction) has finished.
    std::unique_ptr<MainWindow> open(KMCCommand command = CommandNone, const QString& productKey = QString()) {
        const int before = server.requestCount(kProductsPath);
        auto window = std::make_unique<MainWindow>(command, productKey);
        EXPECT_TRUE(waitUntil([&] { return server.requestCount(kProductsPath) > before; }));
        return window;
    }

    static ProductWidget* card(MainWindow& window, const QString& name) {
        for (const QSharedPointer<ProductWidget>& card : window.productWidgets()) {
            if (card->product().name() == name)
                return card.data();
        }
        return nullptr;
    }

    // Row of a widget in the product list, -1 when it is not placed.
    static int rowOf(MainWindow& window, QWidget* widget) {
        const int index = window.productListLayout()->indexOf(widget);
        if (index < 0)
            return -1;
        int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
        window.productListLayout()->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
        return row;
    }

    // Product names of the placed cards with their rows, top to bottom: "name@row". A placed card
    // that would not show with the window is marked "name@row hidden"; a card that would show
    // without a place follows the placed ones as "name unplaced".
    static QStringList placedCards(MainWindow& window) {
        QMap<int, QString> rows;
        QStringList strays;
        for (const QSharedPointer<ProductWidget>& card : window.productWidgets()) {
            const int row = rowOf(window, card.data());
            const bool shown = card->isVisibleTo(&window);
            if (row >= 0)
                rows.insert(row, QStringLiteral("%1@%2%3").arg(card->product().name()).arg(row).arg(shown ? "" : " hidden"));
            else if (shown)
                strays << card->product().name() + " unplaced";
        }
        return rows.values() + strays;
    }

    static QLabel* labelAt(MainWindow& window, int row) {
        QLayoutItem* item = window.productListLayout()->itemAtPosition(row, 0);
        return item ? qobject_cast<QLabel*>(item->widget()) : nullptr;
    }

    static MessageView* view(MainWindow& window) { return window.findChild<MessageView*>("messages"); }

    static void clearInstalled() {
        QSettings(QSettings::SystemScope, QCoreApplication::organizationName(), QCoreApplication::applicationName())
            .clear();
    }

    TestEnvironment env;
    CatalogServer server{CatalogFixtures::demoSiteFolder()};
};

TEST_F(MainWindowTest, LoadedCatalogShowsCardsInTwoGroupsWithVersionsAndStates) {
    setInstalledVersion("Solvane Photo 2", "2.4.1.310");
    std::unique_ptr<MainWindow> window = open();

    EXPECT_EQ(window->windowTitle(), "Solvane Manager");
    EXPECT_EQ(window->findChild<QLabel*>("versionLabel")->text(), "v1.1.0.229");
    EXPECT_EQ(window->width(), 600);
    EXPECT_TRUE(window->findChild<QFrame*>("headerFrame")->isHidden());
    EXPECT_FALSE(window->isOffline());
    EXPECT_TRUE(window->findChild<QPushButton*>("offlineButton")->isHidden());
    EXPECT_TRUE(window->findChild<QPushButton*>("refreshButton")->isHidden());

    EXPECT_EQ(window->productWidgets().keys(),
              QStringList({"0-Solvane Photo 2", "1-Ambrel Set", "2-Vexilo Norvik", "3-Vexilo Pellume"}));
    EXPECT_EQ(window->installedCount(), 1);
    EXPECT_EQ(placedCards(*window),
              QStringList({"Solvane Photo 2@1", "Vexilo Norvik@5", "Vexilo Pellume@6"}));
    ASSERT_NE(labelAt(*window, 0), nullptr);
    EXPECT_EQ(labelAt(*window, 0)->text(), "Your applications, plug-ins, workflows, and signature editions:");
    ASSERT_NE(labelAt(*window, 3), nullptr);
    EXPECT_EQ(labelAt(*window, 3)->text(), "Tools you might love:");

    // Each card draws its product's state.
    EXPECT_EQ(actionWidget<QLabel>(card(*window, "Solvane Photo 2"), "versionLabel")->text(),
              "v2.4.1.310\nup to date");
    EXPECT_EQ(actionRow(card(*window, "Vexilo Norvik")), QStringList{"installButton"});
    EXPECT_EQ(actionRow(card(*window, "Vexilo Pellume")), QStringList{"buyButton"});
    EXPECT_EQ(card(*window, "Vexilo Pellume")->displayName(), "Vexilo Pellume 3");

    // Online with an installed product: the message pages were synchronised and shown.
    EXPECT_EQ(server.requestCount(kMessagesPath), 1);
    EXPECT_FALSE(window->messageCatalog()->pages().isEmpty());
    EXPECT_EQ(view(*window)->messages(), window->messageCatalog()->pages());
}

TEST_F(MainWindowTest, CardListGroupsByInstallationAndSaleKind) {
    struct Case {
        const char* name;
        QList<QPair<QString, QString>> installed;
        QStringList placed;
        const char* firstHeading;  // null: none
        const char* secondHeading;
    } cases[] = {
        {"nothing installed", {}, {"Solvane Photo 2@4", "Vexilo Norvik@5", "Vexilo Pellume@6"}, nullptr,
         "Tools you might love:"},
        {"photo editor too old", {{"Solvane Photo 2", "2.0.0.9"}}, {"Vexilo Norvik@4", "Vexilo Pellume@5"}, nullptr,
         "Tools you might love:"},
        {"photo editor at the minimum", {{"Solvane Photo 2", "2.0.1.0"}},
         {"Solvane Photo 2@1", "Vexilo Norvik@5", "Vexilo Pellume@6"},
         "Your applications, plug-ins, workflows, and signature editions:", "Tools you might love:"},
        // An installed kind-3 product narrows the second group to kinds 3 and 4: nothing here.
        {"kind 3 installed", {{"Ambrel Set", "1.0.2.5"}}, {"Ambrel Set@1"},
         "Your applications, plug-ins, workflows, and signature editions:", ""},
    };
    for (const Case& c : cases) {
        clearInstalled();
        for (const auto& product : c.installed)
            setInstalledVersion(product.first, product.second);
        server.clearRequests();
        std::unique_ptr<MainWindow> window = open();
        EXPECT_EQ(placedCards(*window), c.placed) << c.name;
        EXPECT_EQ(window->installedCount(), c.firstHeading ? 1 : 0) << c.name;
        QLabel* first = labelAt(*window, 0);
        if (c.firstHeading) {
            ASSERT_NE(first, nullptr) << c.name;
            EXPECT_EQ(first->text(), c.firstHeading) << c.name;
        } else {
            EXPECT_EQ(first, nullptr) << c.name;
            EXPECT_EQ(server.requestCount(kMessagesPath), 0) << c.name;  // no pages without an installed card
        }
        QLabel* second = labelAt(*window, window->installedCount() + 2);
        ASSERT_NE(second, nullptr) << c.name;
        EXPECT_EQ(second->text(), c.secondHeading) << c.name;
        if (QString(c.secondHeading).isEmpty()) {
            EXPECT_EQ(second->sizePolicy().verticalPolicy(), QSizePolicy::Expanding) << c.name;
        }
    }
}

TEST_F(MainWindowTest, ConflictReplacesTheCardsByTheUpdateButtonForGood) {
    server.answerStatus(kProductsPath, 409);
    std::unique_ptr<MainWindow> window = open();
    EXPECT_TRUE(window->isOutOfDate());
    EXPECT_TRUE(window->isOffline());
    EXPECT_TRUE(window->findChild<QPushButton*>("offlineButton")->isHidden());
    EXPECT_TRUE(window->findChild<QPushButton*>("refreshButton")->isHidden());

    const auto onlyItemIsTheUpdateButton = [&] {
        QGridLayout* list = window->productListLayout();
        if (list->count() != 1)
            return static_cast<QPushButton*>(nullptr);
        auto* button = qobject_cast<QPushButton*>(list->itemAt(0)->widget());
        EXPECT_NE(button, nullptr);
        if (button) {
            EXPECT_EQ(button->text(), "A new version of Solvane Manager is available.  Click to update.");
            EXPECT_TRUE(button->isVisibleTo(window.get()));
        }
        return button;
    };
    ASSERT_NE(onlyItemIsTheUpdateButton(), nullptr);
    EXPECT_TRUE(window->checkRequestedProduct("Vexilo Norvik"));
    QSignalSpy handedOn(window.get(), &MainWindow::operationStart);
    QMetaObject::invokeMethod(window.get(), "doUpdateProductHelp");
    EXPECT_EQ(handedOn.count(), 0);  // no help updates while out of date

    // A later refresh, even one that succeeds, keeps the button and shows no cards.
    server.clearBehaviours();
    window->findChild<QPushButton*>("refreshButton")->click();
    QPushButton* button = onlyItemIsTheUpdateButton();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(window->productWidgets().size(), 4);

    // Pressing it asks the update component for a check with its dialog.
    const auto updateDialogShown = [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<UpdateDialog*>(widget) && widget->isVisible())
                return true;
        }
        return false;
    };
    EXPECT_FALSE(updateDialogShown());
    emit button->pressed();
    EXPECT_TRUE(updateDialogShown());
    window.reset();  // stopping the self-update closes its dialog
    EXPECT_FALSE(updateDialogShown());
}

// The out-of-date message stays inside the list in every language: a long one takes two lines.
TEST_F(MainWindowTest, UpdateButtonMessageFitsTheListInEveryLanguage) {
    QFile sheet(":/Style/ZyrStylesheet.css");
    ASSERT_TRUE(sheet.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
    server.answerStatus(kProductsPath, 409);
    for (const char* code : {"en", "de", "fr", "es", "zh", "ru", "ko", "ja", "nl", "pt"}) {
        QTranslator translator;
        ASSERT_TRUE(translator.load(QString(":/translations/language_%1.qm").arg(code)));
        QCoreApplication::installTranslator(&translator);
        std::unique_ptr<MainWindow> window = open();
        window->show();
        QCoreApplication::processEvents();
        auto* button = qobject_cast<QPushButton*>(window->productListLayout()->itemAt(0)->widget());
        ASSERT_NE(button, nullptr) << code;
        EXPECT_EQ(button->text().remove('\n').remove(' '),
                  translator.translate("MainWindow", "A new version of Solvane Manager is available.  Click to update.")
                      .remove(' '))
            << code;
        EXPECT_GE(button->width(), button->sizeHint().width()) << code;
        EXPECT_LE(button->geometry().right(), window->findChild<QWidget*>("scrollAreaWidgetContents")->width()) << code;
        QCoreApplication::removeTranslator(&translator);
    }
    qApp->setStyleSheet(QString());
}

TEST_F(MainWindowTest, FailedDownloadWorksOfflineFromTheCachedCatalogAndOffersToReconnect) {
    setInstalledVersion("Solvane Photo 2", "2.4.1.310");
    open().reset();  // caches the catalog

    server.answerStatus(kProductsPath, 500);
    server.clearRequests();
    std::unique_ptr<MainWindow> window = open();
    EXPECT_TRUE(window->isOffline());
    EXPECT_FALSE(window->isOutOfDate());
    EXPECT_EQ(placedCards(*window), QStringList({"Solvane Photo 2@1", "Vexilo Norvik@5", "Vexilo Pellume@6"}));
    EXPECT_EQ(server.requestCount(kMessagesPath), 0);
    auto* offlineButton = window->findChild<QPushButton*>("offlineButton");
    EXPECT_FALSE(offlineButton->isHidden());
    EXPECT_EQ(offlineButton->text(), "offline, click to re-connect");
    EXPECT_FALSE(window->findChild<QPushButton*>("refreshButton")->isHidden());
    ProductWidget* norvik = card(*window, "Vexilo Norvik");
    EXPECT_TRUE(norvik->isOffline());
    EXPECT_FALSE(actionWidget<QPushButton>(norvik, "installButton")->isEnabled());

    // The offer re-runs the refresh; the cards hear the new connection state.
    server.clearBehaviours();
    QSignalSpy changed(window.get(), &MainWindow::connectionChanged);
    offlineButton->click();
    ASSERT_EQ(changed.count(), 1);
    EXPECT_FALSE(changed.at(0).at(0).toBool());
    EXPECT_FALSE(window->isOffline());
    EXPECT_TRUE(offlineButton->isHidden());
    EXPECT_FALSE(norvik->isOffline());
    EXPECT_TRUE(actionWidget<QPushButton>(norvik, "installButton")->isEnabled());
    EXPECT_EQ(server.requestCount(kMessagesPath), 1);

    // The refresh button does the same, and a failure takes the window offline again.
    server.answerStatus(kProductsPath, 500);
    window->findChild<QPushButton*>("refreshButton")->click();
    ASSERT_EQ(changed.count(), 2);
    EXPECT_TRUE(changed.at(1).at(0).toBool());
    EXPECT_TRUE(norvik->isOffline());
}

TEST_F(MainWindowTest, InstallCommands) {
    enum Outcome { Unchanged, CatalogPages, InstallStarted };
    struct Case {
        const char* name;
        const char* key;
        Outcome outcome;
    } cases[] = {
        {"empty key", "", Unchanged},
        {"installed and current", "Solvane Photo 2", CatalogPages},
        {"not in the catalog", "Vexilo Benchly v3", CatalogPages},
        {"card not installed", "Vexilo Norvik", InstallStarted},
    };
    setInstalledVersion("Solvane Photo 2", "2.4.1.310");
    server.answerStatus("/installers/vexilo-norvik.msi", 404);
    std::unique_ptr<MainWindow> window = open();
    const QStringList catalogPages = window->messageCatalog()->pages();
    ASSERT_FALSE(catalogPages.isEmpty());
    const QStringList sentinel{":/default_message/"};

    for (const Case& c : cases) {
        view(*window)->setMessages(sentinel);
        ProductWidget* norvik = card(*window, "Vexilo Norvik");
        QSignalSpy failed(norvik, &ProductWidget::productInstallFailed);
        window->doCommand(CommandInstall, c.key);
        switch (c.outcome) {
        case Unchanged:
            EXPECT_EQ(view(*window)->messages(), sentinel) << c.name;
            break;
        case CatalogPages:
            EXPECT_EQ(view(*window)->messages(), catalogPages) << c.name;
            break;
        case InstallStarted:
            EXPECT_EQ(view(*window)->messages(), QStringList{":/install_message/"}) << c.name;
            EXPECT_TRUE(norvik->installRequested()) << c.name;
            EXPECT_EQ(rowOf(*window, norvik), 5) << c.name;
            EXPECT_EQ(actionRow(norvik), QStringList{"versionLabel"}) << c.name;  // "Downloading..."
            ASSERT_TRUE(waitUntil([&] { return failed.count() == 1; })) << c.name;
            EXPECT_EQ(server.requestCount("/installers/vexilo-norvik.msi"), 1) << c.name;
            EXPECT_FALSE(norvik->installRequested()) << c.name;
            EXPECT_EQ(actionRow(norvik), QStringList{"installButton"}) << c.name;
            // The card says what failed; the page announcing the install goes.
            EXPECT_EQ(norvik->failureText(), "The download failed. Check the connection and try again.") << c.name;
            EXPECT_FALSE(norvik->findChild<QLabel*>("errorLabel")->isHidden()) << c.name;
            EXPECT_EQ(view(*window)->messages(), catalogPages) << c.name;
            break;
        }
        if (c.outcome != InstallStarted) {
            EXPECT_EQ(server.requestCount("/installers/vexilo-norvik.msi"), 0) << c.name;
        }
    }
    EXPECT_EQ(window->productWidgets().size(), 4);
}

// The start's own install command is carried out by every refresh until an install finishes,
// but never while one runs: a refresh meanwhile starts no second download.
TEST_F(MainWindowTest, PendingInstallRunsOnceAtATimeAndAgainAfterAFailure) {
    server.answerStatus("/installers/vexilo-norvik.msi", 404);
    server.delayAnswer("/installers/vexilo-norvik.msi", 1000);
    std::unique_ptr<MainWindow> window = open(CommandInstall, "Vexilo Norvik");
    ProductWidget* norvik = card(*window, "Vexilo Norvik");
    QSignalSpy failed(norvik, &ProductWidget::productInstallFailed);
    ASSERT_TRUE(waitUntil([&] { return server.requestCount("/installers/vexilo-norvik.msi") == 1; }));
    window->findChild<QPushButton*>("refreshButton")->click();
    ASSERT_TRUE(waitUntil([&] { return failed.count() == 1; }));
    EXPECT_EQ(server.requestCount("/installers/vexilo-norvik.msi"), 1);
    EXPECT_EQ(window->pendingCommand(), CommandInstall);

    window->findChild<QPushButton*>("refreshButton")->click();
    ASSERT_TRUE(waitUntil([&] { return server.requestCount("/installers/vexilo-norvik.msi") == 2; }));
    EXPECT_EQ(window->pendingCommand(), CommandInstall);

    window->doTrackProductInstalled(nullptr);
    EXPECT_EQ(window->pendingCommand(), CommandNone);
}

// A command forwarded twice while the first install downloads, a refresh and a connection change
// meanwhile: one download, one installer run, and the card shows the download throughout. When
// it has installed, the card is among the installed ones and the catalog's pages are back.
TEST_F(MainWindowTest, ForwardedInstallRunsOnceAndEndsAmongTheInstalledProducts) {
    setInstalledVersion("Solvane Photo 2", "2.4.1.310");
    server.delayAnswer("/installers/vexilo-norvik.msi", 1000);
    std::unique_ptr<MainWindow> window = open();
    const QStringList catalogPages = window->messageCatalog()->pages();
    ASSERT_FALSE(catalogPages.isEmpty());
    ProductWidget* norvik = card(*window, "Vexilo Norvik");
    QSignalSpy installed(norvik, &ProductWidget::productInstalled);

    window->doCommand(CommandInstall, "Vexilo Norvik");
    EXPECT_EQ(view(*window)->messages(), QStringList{":/install_message/"});
    window->doCommand(CommandInstall, "Vexilo Norvik");
    window->findChild<QPushButton*>("refreshButton")->click();
    emit window->connectionChanged(true);
    emit window->connectionChanged(false);
    EXPECT_EQ(actionRow(norvik), QStringList{"versionLabel"});  // "Downloading...", no Install button
    EXPECT_EQ(actionWidget<QLabel>(norvik, "versionLabel")->text(), "Downloading...");

    ASSERT_TRUE(waitUntil([&] { return installed.count() == 1; }));
    uitest::spin(200);
    EXPECT_EQ(installed.count(), 1);
    EXPECT_EQ(server.requestCount("/installers/vexilo-norvik.msi"), 1);
    char16_t code[kMsiProductCodeLength + 1];
    EXPECT_EQ(MsiEnumProductsW(0, code), ERROR_SUCCESS);
    EXPECT_EQ(MsiEnumProductsW(1, code), ERROR_NO_MORE_ITEMS);

    EXPECT_EQ(norvik->product().productState(), ProductInstalled);
    EXPECT_EQ(actionWidget<QLabel>(norvik, "versionLabel")->text(), "v1.8.0.0\nup to date");
    EXPECT_EQ(placedCards(*window), QStringList({"Solvane Photo 2@1", "Vexilo Norvik@2", "Vexilo Pellume@6"}));
    EXPECT_EQ(labelAt(*window, 4)->text(), "Tools you might love:");
    EXPECT_EQ(view(*window)->messages(), catalogPages);
}

// The first product installed by a command: the message catalog has no pages yet, and the view
// goes back to its start page instead of keeping the install page.
TEST_F(MainWindowTest, InstallPageGivesWayToTheStartPageWithoutCatalogPages) {
    std::unique_ptr<MainWindow> window = open();
    ASSERT_TRUE(window->messageCatalog()->pages().isEmpty());
    ProductWidget* norvik = card(*window, "Vexilo Norvik");
    QSignalSpy installed(norvik, &ProductWidget::productInstalled);
    window->doCommand(CommandInstall, "Vexilo Norvik");
    EXPECT_EQ(view(*window)->messages(), QStringList{":/install_message/"});
    ASSERT_TRUE(waitUntil([&] { return installed.count() == 1; }));
    EXPECT_EQ(view(*window)->messages(), QStringList{":/solvane_message/"});
    EXPECT_EQ(placedCards(*window), QStringList({"Vexilo Norvik@1", "Solvane Photo 2@5", "Vexilo Pellume@6"}));
}

// Several catalog names share one key (every "Servra" name has the key of "Vexilo Deskra"): an
// install command for the key starts the first such card only.
TEST_F(MainWindowTest, InstallCommandStartsTheFirstCardOfItsKeyOnly) {
    const QByteArray entry = R"({"Product": "%1", "Version": [1, 0], "URL": "@BASE@/installers/%2.msi",
                                 "HelpURL": "@BASE@/help/%2", "sha1": "0000000000000000000000000000000000000000",
                                 "forSale": "0"})";
    QStringList entries;
    for (const char* name : {"Vexilo Deskra", "Servra Studio", "Servra Lite"})
        entries << QString::fromUtf8(entry).arg(name, QString(name).toLower().replace(' ', '-'));
    server.answerBody(kProductsPath, (R"({"ProductCatalog": {"Version": 1, "Products": [)" + entries.join(',') + "]}}")
                                         .toUtf8()
                                         .replace("@BASE@", server.baseUrl().toString().toUtf8()));
    std::unique_ptr<MainWindow> window = open();
    ASSERT_EQ(window->productWidgets().size(), 3);
    int failures = 0;
    for (const QSharedPointer<ProductWidget>& each : window->productWidgets())
        QObject::connect(each.data(), &ProductWidget::productInstallFailed, [&failures] { ++failures; });

    window->doCommand(CommandInstall, "Vexilo Deskra v3");
    ASSERT_TRUE(waitUntil([&] { return failures == 1; }));
    uitest::spin(300);
    EXPECT_EQ(failures, 1);
    QStringList fetched;
    for (const QString& request : server.requests()) {
        if (request.startsWith("/installers/"))
            fetched << request;
    }
    EXPECT_EQ(fetched, QStringList{"/installers/servra-lite.msi"});  // the first card in the list's order
}

// A catalog server that accepts and never answers: the window falls back to its cached catalog
// within the time limit and offers to reconnect.
TEST_F(MainWindowTest, StalledCatalogFallsBackToTheCacheAndOffersToReconnect) {
    open().reset();  // caches the catalog
    server.stallAnswer(kProductsPath);
    const HttpGetOperation::Timeouts saved = HttpGetOperation::setDefaultTimeouts({500, 500});
    auto window = std::make_unique<MainWindow>(CommandNone, QString());
    ASSERT_TRUE(waitUntil([&] { return window->isOffline(); }, 10000));
    HttpGetOperation::setDefaultTimeouts(saved);
    EXPECT_EQ(placedCards(*window), QStringList({"Solvane Photo 2@4", "Vexilo Norvik@5", "Vexilo Pellume@6"}));
    EXPECT_FALSE(window->findChild<QPushButton*>("offlineButton")->isHidden());
    EXPECT_FALSE(window->findChild<QPushButton*>("refreshButton")->isHidden());
    for (QLabel* label : window->findChildren<QLabel*>())
        EXPECT_FALSE(label->isVisibleTo(window.get()) && label->text() == "Updating...");

    server.clearBehaviours();
    window->findChild<QPushButton*>("offlineButton")->click();
    EXPECT_FALSE(window->isOffline());
}

TEST_F(MainWindowTest, RequestedCardIsShownWhateverItsKindAndScrolledTo) {
    server.answerStatus("/installers/ambrel-set.msi", 404);
    std::unique_ptr<MainWindow> window = open();
    window->resize(600, 560);
    window->show();
    ProductWidget* ambrel = card(*window, "Ambrel Set");
    EXPECT_EQ(rowOf(*window, ambrel), -1);  // kind 3 is not offered while nothing is installed
    auto* scrollBar = window->findChild<QScrollArea*>("scrollArea")->verticalScrollBar();
    EXPECT_EQ(scrollBar->value(), 0);

    QSignalSpy failed(ambrel, &ProductWidget::productInstallFailed);
    window->doCommand(CommandInstall, "Ambrel Set");
    EXPECT_EQ(placedCards(*window),
              QStringList({"Solvane Photo 2@4", "Ambrel Set@5", "Vexilo Norvik@6", "Vexilo Pellume@7"}));
    ASSERT_TRUE(waitUntil([&] { return failed.count() == 1; }));
    // The failure sentence makes the card taller; once the list has laid it out again, the card
    // is brought into view whole. Waited for as a state: the scroll follows a timer, which a busy
    // machine may run late.
    QWidget* viewport = window->findChild<QScrollArea*>("scrollArea")->viewport();
    const auto inView = [&] {
        const QRect visible(QPoint(0, scrollBar->value()), viewport->size());
        return ambrel->height() >= ambrel->minimumSizeHint().height() && visible.contains(ambrel->geometry());
    };
    EXPECT_FALSE(ambrel->findChild<QLabel*>("errorLabel")->isHidden());
    EXPECT_TRUE(waitUntil(inView)) << scrollBar->value();
    EXPECT_GT(scrollBar->value(), 0);

    // Once the install has failed, the next pass follows the ordinary rules again.
    window->findChild<QPushButton*>("refreshButton")->click();
    EXPECT_EQ(placedCards(*window), QStringList({"Solvane Photo 2@4", "Vexilo Norvik@5", "Vexilo Pellume@6"}));
}

TEST_F(MainWindowTest, ShowCheckUpdateAndUploadEventsCommands) {
    const KMCCommand none = CommandNone;
    struct Case {
        const char* name;
        KMCCommand started;  // the window's own command line, carried out by its refresh
        KMCCommand then;     // a later doCommand, CommandNone for none
        KMCCommand pending;  // the pending command afterwards
        int exits;           // how many times the event loop is ended with 0, a second later
    } cases[] = {
        {"show", none, CommandShow, none, 0},
        {"checkupdate start", CommandCheckUpdate, none, none, 0},
        {"checkupdate later", none, CommandCheckUpdate, none, 0},
        {"uploadevents start", CommandUploadEvents, none, CommandUploadEvents, 1},
        {"uploadevents later", none, CommandUploadEvents, CommandUploadEvents, 1},
        // The upload start armed its exit, and the checkupdate one more, before clearing it.
        {"checkupdate after uploadevents", CommandUploadEvents, CommandCheckUpdate, none, 2},
    };
    for (const Case& c : cases) {
        std::unique_ptr<MainWindow> window = open(c.started, QString());
        QElapsedTimer timer;
        timer.start();
        // Two exits armed at nearly the same moment could end one loop together; space them.
        if (c.exits > 1)
            uitest::spin(400);
        if (c.then != CommandNone)
            window->doCommand(c.then, "Vexilo Norvik");
        EXPECT_EQ(window->pendingCommand(), c.pending) << c.name;
        EXPECT_FALSE(card(*window, "Vexilo Norvik")->installRequested()) << c.name;
        for (int i = 0; i < c.exits; ++i)
            EXPECT_EQ(runApplicationLoop(1500), 0) << c.name;
        if (c.exits > 0) {
            EXPECT_GE(timer.elapsed(), 900) << c.name;
        }
        EXPECT_EQ(runApplicationLoop(c.exits > 0 ? 300 : 1300), 99) << c.name;  // and no more
    }
}

TEST_F(MainWindowTest, CheckRequestedProductAnswersForProductsWithAnUpdate) {
    std::unique_ptr<MainWindow> window = open();
    EXPECT_FALSE(window->checkRequestedProduct("Vexilo Norvik"));  // not installed
    EXPECT_FALSE(window->checkRequestedProduct("Unknown Product"));
    setInstalledVersion("Vexilo Norvik", "1.8");
    EXPECT_FALSE(window->checkRequestedProduct("Vexilo Norvik"));  // current
    setInstalledVersion("Vexilo Norvik", "1.7");
    EXPECT_TRUE(window->checkRequestedProduct("Vexilo Norvik"));
}

TEST_F(MainWindowTest, HelpUpdateIsHandedToTheControllerWithTheCatalogsProducts) {
    setInstalledVersion("Vexilo Norvik", "1.8");
    std::unique_ptr<MainWindow> window = open();
    QSignalSpy handedOn(window.get(), &MainWindow::operationStart);
    QMetaObject::invokeMethod(window.get(), "doUpdateProductHelp");
    ASSERT_EQ(handedOn.count(), 1);
    EXPECT_NE(qobject_cast<HelpUpdaterOperation*>(handedOn.at(0).at(0).value<QSharedPointer<Operation>>().data()),
              nullptr);
    // The controller runs it: the installed, current product's help bundle is fetched.
    EXPECT_TRUE(waitUntil([&] { return server.requestCount("/help/vexilo-norvik/version.txt") == 1; }));
}

TEST_F(MainWindowTest, StatusBarSettingsButtonRunsTheDialogAndRedrawsTheCards) {
    std::unique_ptr<MainWindow> window = open();
    ProductWidget* norvik = card(*window, "Vexilo Norvik");
    QPointer<QPushButton> install = actionWidget<QPushButton>(norvik, "installButton");
    bool dialogRan = false;
    QTimer::singleShot(100, [&] {
        auto* dialog = qobject_cast<SettingsDialog*>(QApplication::activeModalWidget());
        dialogRan = dialog && dialog->parentWidget() == window.get();
        if (dialog)
            dialog->reject();
    });
    window->findChild<QPushButton*>("settingsButton2")->click();
    EXPECT_TRUE(dialogRan);
    EXPECT_TRUE(install.isNull());  // redrawn
    EXPECT_NE(actionWidget<QPushButton>(norvik, "installButton"), nullptr);
    EXPECT_TRUE(window->findChildren<SettingsDialog*>().isEmpty());         // and deleted
}

TEST_F(MainWindowTest, FinishedUploadEndsAHiddenUploadStartAtOnce) {
    std::unique_ptr<MainWindow> window = open(CommandUploadEvents);
    window->setTransientInstance(true);
    // Nothing in the manager makes one; a finished upload is all the window looks at.
    struct Upload : UploadFilesOperation {
        void perform() override { done(Success); }
    };
    QSharedPointer<Operation> upload(new Upload);
    QElapsedTimer timer;
    timer.start();
    QTimer::singleShot(0, [&] { window->onOperationFinished(upload); });
    EXPECT_EQ(runApplicationLoop(5000), 0);
    EXPECT_LT(timer.elapsed(), 900);  // before the one-second exit of the command itself
    EXPECT_EQ(runApplicationLoop(1500), 0);  // which still comes
}

}  // namespace
