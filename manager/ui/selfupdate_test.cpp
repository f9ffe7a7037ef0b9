#include "manager/ui/selfupdate.h"

#include "manager/app/environment.h"
#include "manager/app/testing/test_environment.h"
#include "manager/ui/mainwindow.h"
#include "manager/ui/testing/widget_test_support.h"
#include "sys/sparkle/sparkle.h"
#include "sys/sparkle/updatedialog.h"
#include "tools/catalogserver/catalogserver.h"

#include <QApplication>
#include <QGridLayout>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using uitest::waitUntil;

namespace {

UpdateDialog* shownUpdateDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<UpdateDialog*>(widget); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

// The whole road: the window starts the self-update on the HTTPS feed of a loopback server
// (trusted through SOLVANE_UPDATE_CA_FILE), the API host answers 409, and the update button
// forces a check only while no update has been found.
TEST(SelfUpdate, OutOfDateButtonForcesACheckOnlyWhileNoUpdateIsFound) {
    TestEnvironment env;
    QTemporaryDir folder;
    const CatalogFixtures::CertificateFiles certificate = CatalogFixtures::makeSelfSignedCertificate(folder.path());
    ASSERT_FALSE(certificate.certificate.isEmpty());
    CatalogServer feed;
    ASSERT_TRUE(feed.useTls(certificate.certificate, certificate.key));
    ASSERT_TRUE(feed.start());
    feed.answerBody("/windows/appcast.xml",
                    "<rss version=\"2.0\"><channel><item><title>Solvane Manager 1.1.1.300</title>"
                    "<version>1.1.1.300</version><link>https://127.0.0.1/download</link></item></channel></rss>");
    CatalogServer api(CatalogFixtures::demoSiteFolder());
    ASSERT_TRUE(api.start());
    api.answerStatus("/products/1.1.0.229/windows/uid", 409);
    env.setEnv("SOLVANE_BRAND_HOST", "127.0.0.1");
    env.setEnv("SOLVANE_API_PORT", QString::number(api.baseUrl().port()));
    env.setEnv("SOLVANE_UPDATE_PORT", QString::number(feed.baseUrl().port()));
    env.setEnv("SOLVANE_UPDATE_CA_FILE", certificate.certificate);
    env.setEnv("KELTRIX_APP_MANAGER_SCHEME", "http");
    AppEnvironment::prepareFolders();

    // The feed address is the environment's appcast address, HTTPS on the update port.
    EXPECT_EQ(AppEnvironment::appcastUrl(), feed.url("/windows/appcast.xml"));
    ASSERT_EQ(selfUpdateFoundFlag(), 0);

    auto window = std::make_unique<MainWindow>(CommandNone, QString());
    // The automatic check finds the newer version and offers it.
    ASSERT_TRUE(waitUntil([] { return selfUpdateFoundFlag() == 1 && shownUpdateDialog(); }));
    EXPECT_EQ(feed.requestCount("/windows/appcast.xml"), 1);
    ASSERT_TRUE(waitUntil([&] { return window->isOutOfDate(); }));
    auto* button = qobject_cast<QPushButton*>(window->productListLayout()->itemAt(0)->widget());
    ASSERT_NE(button, nullptr);

    // Found and not cancelled: pressing does nothing; the offer stays as it is.
    UpdateDialog* offer = shownUpdateDialog();
    emit button->pressed();
    uitest::spin(300);
    EXPECT_EQ(feed.requestCount("/windows/appcast.xml"), 1);
    EXPECT_EQ(offer->shownStatus(), sparkle::CheckResult::UpdateFound);

    // The user declines the update: the flag drops and the button checks again, with the dialog.
    const int checks = sparkle::finishedCheckCount();
    offer->reject();
    ASSERT_TRUE(waitUntil([] { return selfUpdateFoundFlag() == 0; }));
    emit button->pressed();
    ASSERT_NE(shownUpdateDialog(), nullptr);  // "checking" at once
    ASSERT_TRUE(waitUntil([&] { return sparkle::finishedCheckCount() > checks; }));
    EXPECT_EQ(feed.requestCount("/windows/appcast.xml"), 2);
    ASSERT_TRUE(waitUntil([] { return selfUpdateFoundFlag() == 1; }));

    // Closing the window stops the component (and its dialog); the flag outlives it.
    window.reset();
    EXPECT_EQ(shownUpdateDialog(), nullptr);
    EXPECT_EQ(selfUpdateFoundFlag(), 1);

    // Leave the process as it started: a new start whose offer is declined clears the flag.
    QUrl* kept = startSelfUpdate(nullptr, feed.url("/windows/appcast.xml"));
    ASSERT_TRUE(waitUntil([] { return shownUpdateDialog() != nullptr; }));
    shownUpdateDialog()->reject();
    EXPECT_TRUE(waitUntil([] { return selfUpdateFoundFlag() == 0; }));
    stopSelfUpdate(kept);
}

}  // namespace
