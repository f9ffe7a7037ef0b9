#include "manager/resources/resources.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QTranslator>

namespace {

TEST(BuiltinResources, EveryBundleIsRegisteredBeforeMain) {
    const char* files[] = {
        ":/Style/ZyrStylesheet.css",       ":/Style/stylesheet.css",          ":/Style/Fonts/Gilroy-Light.ttf",
        ":/Style/Fonts/Inconsolata-Light.ttf", ":/Style/Images/KivoMgrTitle.png", ":/Style/Images/dot-grey.svg",
        ":/Style/Images/dot-orange.svg",   ":/default_message/index.html",    ":/default_message/background.svg",
        ":/solvane_message/index.html",    ":/solvane_message/background.svg", ":/install_message/index.html",
        ":/install_message/background.svg",
    };
    for (const char* file : files)
        EXPECT_TRUE(QFile::exists(file)) << file;
    for (const char* code : {"en", "de", "fr", "es", "zh", "ru", "ko", "ja", "nl", "pt"}) {
        QTranslator translator;
        EXPECT_TRUE(translator.load(QString(":/translations/language_%1.qm").arg(code))) << code;
    }
}

TEST(BuiltinResources, RegisteringAgainChangesNothing) {
    registerBuiltinResources();
    registerBuiltinResources();
    QFile page(":/install_message/index.html");
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    EXPECT_TRUE(page.readAll().contains("background.svg"));
}

TEST(BuiltinResources, GermanTranslatesTheCardAndWindowTexts) {
    QTranslator german;
    ASSERT_TRUE(german.load(":/translations/language_de.qm"));
    EXPECT_EQ(german.translate("Product", "Install"), "Installieren");
    EXPECT_EQ(german.translate("ProductWidget", "v%1\nup to date"), "v%1\naktuell");
    EXPECT_EQ(german.translate("MainWindow", "Tools you might love:"), QString::fromUtf8("Werkzeuge, die Ihnen gefallen könnten:"));
    EXPECT_EQ(german.translate("AppEnvironment", "Favorites"), "Favoriten");
}

TEST(BuiltinResources, FontsLoad) {
    int argc = 1;
    char name[] = "resources_test";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    const int light = QFontDatabase::addApplicationFont(":/Style/Fonts/Gilroy-Light.ttf");
    const int mono = QFontDatabase::addApplicationFont(":/Style/Fonts/Inconsolata-Light.ttf");
    ASSERT_NE(light, -1);
    ASSERT_NE(mono, -1);
    EXPECT_FALSE(QFontDatabase::applicationFontFamilies(light).isEmpty());
    EXPECT_FALSE(QFontDatabase::applicationFontFamilies(mono).isEmpty());
}

}  // namespace
