#include "manager/ui/productwidget.h"

#include "manager/app/testing/test_environment.h"
#include "manager/operations/controllerthread.h"
#include "manager/operations/operationfactory.h"
#include "manager/operations/productoperation.h"
#include "manager/ui/testing/widget_test_support.h"
#include "tools/catalogserver/catalogserver.h"

#include <QApplication>
#include <QBuffer>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProgressBar>
#include <QSignalSpy>
#include <QToolButton>
#include <QTranslator>

#include <gtest/gtest.h>

using uitest::actionRow;
using uitest::actionWidget;
using uitest::setInstalledVersion;
using uitest::waitUntil;

namespace {

// An install or uninstall that succeeds (marking the record installed or removed, as the real
// ones do) or fails, after reporting half of its progress.
class ScriptedOperation : public ProductOperation {
public:
    ScriptedOperation(const QSharedPointer<Product>& product, bool install, bool succeed)
        : ProductOperation(product, QString()), install_(install), succeed_(succeed) {}

    void perform() override {
        reportProgress(0.5f);
        if (!succeed_) {
            failWithText(FailureKind::Download, QStringLiteral("scripted failure"));
            return;
        }
        workingProduct().setState(install_ ? ProductInstalled : ProductNotInstalled, true);
        publishProduct();
        done(Success);
    }

private:
    bool install_;
    bool succeed_;
};

class ScriptedFactory : public OperationFactory {
public:
    explicit ScriptedFactory(bool succeed, int* made = nullptr) : succeed_(succeed), made_(made) {}
    Operation* createInstall(const QSharedPointer<Product>& product, QObject*) override {
        if (made_)
            ++*made_;
        return new ScriptedOperation(product, true, succeed_);
    }
    Operation* createInstall(const QSharedPointer<Product>& product, const QString&, QObject* parent) override {
        return createInstall(product, parent);
    }
    Operation* createUninstall(const QSharedPointer<Product>& product, QObject*) override {
        if (made_)
            ++*made_;
        return new ScriptedOperation(product, false, succeed_);
    }
    Operation* createUninstall(const QSharedPointer<Product>& product, const QString&, QObject* parent) override {
        return createUninstall(product, parent);
    }

private:
    bool succeed_;
    int* made_;
};

class ProductCard : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.start());
        server.answerBody("/help/tool/resources/icon.png", pngBytes());
        server.answerBody("/help/tool/resources/description.en_US.txt", "A tool.");
        server.answerBody("/help/tool/resources/description.C.txt", "A tool.");
    }

    static QByteArray pngBytes() {
        QImage image(16, 16, QImage::Format_ARGB32);
        image.fill(Qt::red);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    }

    // A catalog entry named "Tool" served by the loopback server; installedVersion empty for a
    // product that is not installed.
    Product product(int forSale, const QString& installedVersion = QString(), const QString& store = QString(),
                    const QString& verbose = QString()) {
        if (!installedVersion.isEmpty())
            setInstalledVersion(QStringLiteral("Tool"), installedVersion);
        return Product(QStringLiteral("Tool"), ProductVersion(2, 1, 0, 0), server.url("/installers/tool.msi"), QUrl(),
                       server.url("/help/tool"), QString(), forSale, store, verbose);
    }

    // Fresh resource files, as a download leaves them, so that a card downloads nothing.
    void writeFreshResources(const Product& record) {
        ASSERT_TRUE(QDir().mkpath(record.resourcesDir()));
        QFile icon(record.iconFile());
        ASSERT_TRUE(icon.open(QIODevice::WriteOnly));
        icon.write(pngBytes());
        icon.close();
        QFile description(record.descriptionFile());
        ASSERT_TRUE(description.open(QIODevice::WriteOnly));
        description.write("Cached text.");
    }

    static void age(const QString& path, qint64 seconds) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-seconds), QFileDevice::FileModificationTime));
    }

    TestEnvironment env;
    CatalogServer server;
    ControllerFactory<OperationController> controllerFactory;
    ControllerThread controllerThread{&controllerFactory};
};

TEST_F(ProductCard, RowAndLinkFollowStateAndSaleKind) {
    struct Case {
        const char* name;
        int forSale;
        const char* installed;
        const char* store;
        QStringList row;
        bool link;
    } cases[] = {
        {"for sale with store", 2, "", "https://store.example/tool", {"buyButton"}, true},
        {"for sale without store", 2, "", "", {}, true},
        {"free", 0, "", "https://store.example/tool", {"installButton"}, true},
        {"kind 3", 3, "", "https://store.example/tool", {"installButton"}, false},
        {"kind 5", 5, "", "https://store.example/tool", {"installButton"}, false},
        {"kind 4", 4, "", "", {}, false},
        {"kind 1", 1, "", "", {"installButton"}, false},
        {"installed current", 2, "2.1.0.0", "https://store.example/tool", {"versionLabel"}, false},
        {"installed older", 0, "2.0.0.0", "", {"updateButton"}, false},
    };
    for (const Case& c : cases) {
        QSettings(QSettings::SystemScope, QCoreApplication::organizationName(), QCoreApplication::applicationName())
            .clear();
        const Product record = product(c.forSale, c.installed, c.store);
        writeFreshResources(record);
        ProductWidget card(record, &controllerThread, false);
        EXPECT_EQ(actionRow(&card), c.row) << c.name;
        auto* link = card.findChild<QToolButton*>("statusLabel");
        EXPECT_EQ(!link->isHidden(), c.link) << c.name;
        if (c.link) {
            EXPECT_EQ(link->text(), "Learn more...") << c.name;
            EXPECT_TRUE(link->isEnabled()) << c.name;
        }
        EXPECT_TRUE(card.findChild<QProgressBar*>("progressBar")->isHidden()) << c.name;
        if (auto* version = actionWidget<QLabel>(&card, "versionLabel")) {
            EXPECT_EQ(version->text(), "v2.1.0.0\nup to date") << c.name;
        }
        if (auto* install = actionWidget<QPushButton>(&card, "installButton")) {
            EXPECT_EQ(install->text(), "Install") << c.name;
        }
        if (auto* update = actionWidget<QPushButton>(&card, "updateButton")) {
            EXPECT_EQ(update->text(), "Update") << c.name;
        }
        if (auto* buy = actionWidget<QPushButton>(&card, "buyButton")) {
            EXPECT_EQ(buy->text(), "Buy Now") << c.name;
        }
    }
}

TEST_F(ProductCard, TitleIconAndDescriptionComeFromTheRecordAndItsFiles) {
    Product record = product(0, QString(), QString(), "Tool Deluxe");
    {
        ProductWidget card(record, &controllerThread, false);
        EXPECT_EQ(card.findChild<QLabel*>("nameLabel")->text(), "Tool Deluxe");
        // Nothing on disk yet: "Icon" stays and the description is hidden until the download.
        EXPECT_EQ(card.findChild<QLabel*>("iconLabel")->text(), "Icon");
        EXPECT_TRUE(card.findChild<QLabel*>("descriptionLabel")->isHidden());
        ASSERT_TRUE(waitUntil([&] { return !card.findChild<QLabel*>("descriptionLabel")->isHidden(); }));
        EXPECT_EQ(card.findChild<QLabel*>("descriptionLabel")->text(), "A tool.");
        EXPECT_FALSE(card.findChild<QLabel*>("iconLabel")->pixmap(Qt::ReturnByValue).isNull());
    }
    record = product(0);
    ProductWidget plain(record, &controllerThread, false);
    EXPECT_EQ(plain.findChild<QLabel*>("nameLabel")->text(), "Tool");
}

TEST_F(ProductCard, ResourcesAreFetchedWhenMissingStaleOrTheProductHasAnUpdate) {
    struct Case {
        const char* name;
        const char* installed;
        qint64 ageSeconds;
        bool download;
    } cases[] = {
        {"six days old", "", 6 * 24 * 3600, false},
        {"seven days old", "", 7 * 24 * 3600 + 60, true},
        {"fresh but update available", "2.0.0.0", 60, true},
    };
    for (const Case& c : cases) {
        QSettings(QSettings::SystemScope, QCoreApplication::organizationName(), QCoreApplication::applicationName())
            .clear();
        server.clearRequests();
        const Product record = product(0, c.installed);
        writeFreshResources(record);
        age(record.iconFile(), c.ageSeconds);
        age(record.descriptionFile(), c.ageSeconds);
        ProductWidget card(record, &controllerThread, false);
        if (c.download) {
            EXPECT_TRUE(waitUntil([&] { return server.requestCount("/help/tool/resources/icon.png") == 1; })) << c.name;
        } else {
            uitest::spin(300);
            EXPECT_EQ(server.requestCount("/help/tool/resources/icon.png"), 0) << c.name;
            EXPECT_EQ(card.findChild<QLabel*>("descriptionLabel")->text(), "Cached text.") << c.name;
        }
    }
}

// In every language the action row shows its words whole: the buttons and the version label
// are as wide as their text needs ("Aktualisieren" does not fit the usual width).
TEST_F(ProductCard, ActionRowShowsItsWordsWholeInEveryLanguage) {
    QFile sheet(":/Style/ZyrStylesheet.css");
    ASSERT_TRUE(sheet.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
    for (const char* code : {"en", "de", "fr", "es", "zh", "ru", "ko", "ja", "nl", "pt"}) {
        QTranslator translator;
        ASSERT_TRUE(translator.load(QString(":/translations/language_%1.qm").arg(code)));
        QCoreApplication::installTranslator(&translator);
        for (const char* installed : {"", "2.0.0.0", "2.1.0.0"}) {
            QSettings(QSettings::SystemScope, QCoreApplication::organizationName(), QCoreApplication::applicationName())
                .clear();
            const Product record = product(0, installed);
            writeFreshResources(record);
            ProductWidget card(record, &controllerThread, false);
            card.show();
            QCoreApplication::processEvents();
            auto* row = card.findChild<QHBoxLayout*>(QStringLiteral("buttonLayout"));
            for (int i = 0; i < row->count(); ++i) {
                QWidget* widget = row->itemAt(i)->widget();
                if (auto* button = qobject_cast<QPushButton*>(widget)) {
                    EXPECT_GE(button->width(), button->sizeHint().width()) << code << " " << button->text().toStdString();
                } else if (auto* label = qobject_cast<QLabel*>(widget)) {
                    for (const QString& line : label->text().split('\n'))
                        EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(line)) << code << " " << line.toStdString();
                }
            }
        }
        QCoreApplication::removeTranslator(&translator);
    }
    qApp->setStyleSheet(QString());
}

TEST_F(ProductCard, OfflineDisablesButtonsAndLinkAndAnUnchangedFlagDoesNotRedraw) {
    const Product record = product(2, QString(), "https://store.example/tool");
    writeFreshResources(record);
    ProductWidget card(record, &controllerThread, false);
    QSignalSpy relayed(&card, &ProductWidget::connectionChanged);
    QPushButton* buy = actionWidget<QPushButton>(&card, "buyButton");
    ASSERT_NE(buy, nullptr);

    card.onConnectionChanged(false);  // unchanged: same widgets, still relayed
    EXPECT_EQ(actionWidget<QPushButton>(&card, "buyButton"), buy);
    ASSERT_EQ(relayed.count(), 1);
    EXPECT_FALSE(relayed.at(0).at(0).toBool());

    card.onConnectionChanged(true);
    EXPECT_FALSE(actionWidget<QPushButton>(&card, "buyButton")->isEnabled());
    EXPECT_FALSE(card.findChild<QToolButton*>("statusLabel")->isEnabled());
    EXPECT_TRUE(card.isOffline());
    card.onConnectionChanged(false);
    EXPECT_TRUE(actionWidget<QPushButton>(&card, "buyButton")->isEnabled());
    EXPECT_TRUE(card.findChild<QToolButton*>("statusLabel")->isEnabled());
    EXPECT_EQ(relayed.count(), 3);

    // The installed version is no button: offline leaves it as it is.
    setInstalledVersion("Tool", "2.1.0.0");
    ProductWidget installed(product(0), &controllerThread, true);
    EXPECT_TRUE(actionWidget<QLabel>(&installed, "versionLabel")->isEnabled());
}

TEST_F(ProductCard, ProgressIsAPercentageTruncated) {
    const Product record = product(0);
    writeFreshResources(record);
    ProductWidget card(record, &controllerThread, false);
    auto* bar = card.findChild<QProgressBar*>("progressBar");
    const std::pair<float, int> cases[] = {{0.5f, 50}, {1.0f, 100}, {0.999f, 99}, {0.0f, 0}};
    for (const auto& [fraction, percent] : cases) {
        card.onOperationProgress(fraction);
        EXPECT_EQ(bar->value(), percent) << fraction;
    }
}

TEST_F(ProductCard, InstallShowsDownloadingThenTheInstalledVersion) {
    const Product record = product(0);
    writeFreshResources(record);
    ProductWidget card(record, &controllerThread, false, new ScriptedFactory(true));
    QSignalSpy installed(&card, &ProductWidget::productInstalled);
    QSignalSpy failed(&card, &ProductWidget::productInstallFailed);
    card.setInstallRequested(true);

    actionWidget<QPushButton>(&card, "installButton")->click();
    EXPECT_EQ(actionRow(&card), QStringList{"versionLabel"});
    EXPECT_EQ(actionWidget<QLabel>(&card, "versionLabel")->text(), "Downloading...");
    EXPECT_FALSE(card.findChild<QProgressBar*>("progressBar")->isHidden());
    EXPECT_EQ(card.findChild<QProgressBar*>("progressBar")->value(), 0);

    ASSERT_TRUE(waitUntil([&] { return installed.count() == 1; }));
    EXPECT_EQ(failed.count(), 0);
    EXPECT_EQ(installed.at(0).at(0).value<const Product*>(), &card.product());
    EXPECT_EQ(card.product().productState(), ProductInstalled);
    EXPECT_FALSE(card.installRequested());
    EXPECT_TRUE(card.findChild<QProgressBar*>("progressBar")->isHidden());
    EXPECT_EQ(actionRow(&card), QStringList{"versionLabel"});
    EXPECT_EQ(actionWidget<QLabel>(&card, "versionLabel")->text(), "v2.1.0.0\nup to date");
}

TEST_F(ProductCard, UpdateRunsTheSameInstall) {
    setInstalledVersion("Tool", "2.0.0.0");
    const Product record = product(0);
    writeFreshResources(record);
    ProductWidget card(record, &controllerThread, false, new ScriptedFactory(true));
    QSignalSpy installed(&card, &ProductWidget::productInstalled);
    actionWidget<QPushButton>(&card, "updateButton")->click();
    ASSERT_TRUE(waitUntil([&] { return installed.count() == 1; }));
    EXPECT_EQ(actionWidget<QLabel>(&card, "versionLabel")->text(), "v2.1.0.0\nup to date");
}

TEST_F(ProductCard, FailedInstallOrUninstallBringsTheRowBackAndReportsInstallFailed) {
    const Product record = product(0);
    writeFreshResources(record);
    ProductWidget card(record, &controllerThread, false, new ScriptedFactory(false));
    QSignalSpy failed(&card, &ProductWidget::productInstallFailed);
    QSignalSpy uninstalled(&card, &ProductWidget::productUninstalled);
    card.setInstallRequested(true);
    card.startInstall();
    ASSERT_TRUE(waitUntil([&] { return failed.count() == 1; }));
    EXPECT_FALSE(card.installRequested());
    EXPECT_EQ(actionRow(&card), QStringList{"installButton"});
    EXPECT_TRUE(card.findChild<QProgressBar*>("progressBar")->isHidden());
    EXPECT_EQ(card.product().productState(), ProductNotInstalled);
    // What went wrong stays on the card, whatever redraws it, until the next attempt.
    auto* error = card.findChild<QLabel*>("errorLabel");
    card.onConnectionChanged(true);
    card.onConnectionChanged(false);
    EXPECT_FALSE(error->isHidden());
    EXPECT_EQ(error->text(), "The download failed. Check the connection and try again.");
    EXPECT_EQ(error->toolTip(), "scripted failure");

    // An uninstall disables the row while it runs; its failure is an install failure too.
    QMetaObject::invokeMethod(&card, "onUninstallPressed");
    EXPECT_FALSE(actionWidget<QPushButton>(&card, "installButton")->isEnabled());
    EXPECT_TRUE(error->isHidden());
    ASSERT_TRUE(waitUntil([&] { return failed.count() == 2; }));
    EXPECT_EQ(uninstalled.count(), 0);
    EXPECT_TRUE(actionWidget<QPushButton>(&card, "installButton")->isEnabled());
}

// While an install runs the card shows it, whatever redraws the card, and starts nothing else:
// a second request, a connection change or an uninstall leave the one operation alone.
TEST_F(ProductCard, OneOperationAtATimeStaysOnTheCardWhateverRedrawsIt) {
    const Product record = product(0);
    writeFreshResources(record);
    int made = 0;
    ProductWidget card(record, &controllerThread, false, new ScriptedFactory(true, &made));
    QSignalSpy installed(&card, &ProductWidget::productInstalled);
    ASSERT_TRUE(card.startInstall());
    EXPECT_TRUE(card.isBusy());
    const auto showsTheDownload = [&] {
        return actionRow(&card) == QStringList{"versionLabel"} &&
               actionWidget<QLabel>(&card, "versionLabel")->text() == "Downloading..." &&
               !card.findChild<QProgressBar*>("progressBar")->isHidden();
    };
    EXPECT_FALSE(card.startInstall());
    card.onConnectionChanged(true);
    EXPECT_TRUE(showsTheDownload());
    card.onConnectionChanged(false);
    EXPECT_TRUE(showsTheDownload());
    QMetaObject::invokeMethod(&card, "onUninstallPressed");
    card.updateState();
    EXPECT_TRUE(showsTheDownload());

    ASSERT_TRUE(waitUntil([&] { return installed.count() == 1; }));
    uitest::spin(100);
    EXPECT_EQ(made, 1);
    EXPECT_EQ(installed.count(), 1);
    EXPECT_FALSE(card.isBusy());
    EXPECT_EQ(actionRow(&card), QStringList{"versionLabel"});
    EXPECT_EQ(actionWidget<QLabel>(&card, "versionLabel")->text(), "v2.1.0.0\nup to date");
}

TEST_F(ProductCard, SuccessfulUninstallReportsUninstalled) {
    setInstalledVersion("Tool", "2.1.0.0");
    const Product record = product(0);
    writeFreshResources(record);
    ProductWidget card(record, &controllerThread, false, new ScriptedFactory(true));
    QSignalSpy uninstalled(&card, &ProductWidget::productUninstalled);
    QMetaObject::invokeMethod(&card, "onUninstallPressed");
    ASSERT_TRUE(waitUntil([&] { return uninstalled.count() == 1; }));
    EXPECT_EQ(card.product().productState(), ProductNotInstalled);
    EXPECT_EQ(actionRow(&card), QStringList{"installButton"});
}

TEST_F(ProductCard, BuyAndLearnMoreOpenTheirAddresses) {
    uitest::UrlRecorder recorder;
    QDesktopServices::setUrlHandler("https", &recorder, "open");
    QDesktopServices::setUrlHandler("http", &recorder, "open");

    const Product record = product(2, QString(), "https://store.example/tool?ref=manager");
    writeFreshResources(record);
    ProductWidget card(record, &controllerThread, false);
    actionWidget<QPushButton>(&card, "buyButton")->click();
    card.findChild<QToolButton*>("statusLabel")->click();
    ASSERT_EQ(recorder.opened.size(), 2);
    EXPECT_EQ(recorder.opened[0], QUrl("https://store.example/tool?ref=manager"));
    EXPECT_EQ(recorder.opened[1], Product::learnMoreUrl("Tool"));

    // A store address that is not a web address opens nothing.
    ProductWidget other(product(2, QString(), "store:tool"), &controllerThread, false);
    actionWidget<QPushButton>(&other, "buyButton")->click();
    EXPECT_EQ(recorder.opened.size(), 2);

    // Without the link shown, a click on the status label opens nothing.
    ProductWidget free(product(1), &controllerThread, false);
    free.on_statusLabel_clicked();
    EXPECT_EQ(recorder.opened.size(), 2);

    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("http");
}

}  // namespace
