#include "manager/resources/resources.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>

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

// (context, source text) of every message of a translation source file.
QSet<QPair<QString, QString>> messagesOf(const QString& tsFile) {
    QFile file(tsFile);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << tsFile.toStdString();
    QSet<QPair<QString, QString>> messages;
    QXmlStreamReader xml(&file);
    QString context;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name"))
            context = xml.readElementText();
        else if (xml.name() == QLatin1String("source"))
            messages.insert({context, xml.readElementText()});
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return messages;
}

// Every text the manager's windows and dialogs show, as the translation tool finds it in the
// sources, is in the English list, and every language translates every one of them.
TEST(BuiltinResources, EveryLanguageTranslatesEveryText) {
    const QString source = qEnvironmentVariable("SOLVANE_SOURCE_DIR");
    ASSERT_FALSE(source.isEmpty());
    QTemporaryDir work;
    QProcess lupdate;
    lupdate.setProcessChannelMode(QProcess::MergedChannels);
    QStringList arguments{"-locations", "none", "-no-obsolete"};
    for (const char* folder : {"manager/app", "manager/ui", "manager/product", "manager/catalog", "manager/operations",
                               "sys/sparkle"})
        arguments << QDir(source).filePath(folder);
    lupdate.start(QStringLiteral(SOLVANE_LUPDATE_EXECUTABLE), arguments << "-ts" << work.filePath("found.ts"));
    ASSERT_TRUE(lupdate.waitForFinished(60000) && lupdate.exitCode() == 0) << lupdate.readAll().constData();
    const QSet<QPair<QString, QString>> found = messagesOf(work.filePath("found.ts"));
    const QSet<QPair<QString, QString>> english = messagesOf(source + "/manager/resources/translations/language_en.ts");
    ASSERT_GT(found.size(), 40);
    for (const auto& message : found)
        EXPECT_TRUE(english.contains(message)) << message.first.toStdString() << ": " << message.second.toStdString();

    for (const char* code : {"en", "de", "fr", "es", "zh", "ru", "ko", "ja", "nl", "pt"}) {
        QTranslator translator;
        ASSERT_TRUE(translator.load(QString(":/translations/language_%1.qm").arg(code))) << code;
        for (const auto& message : found) {
            EXPECT_FALSE(translator.translate(message.first.toUtf8(), message.second.toUtf8()).isEmpty())
                << code << " " << message.first.toStdString() << ": " << message.second.toStdString();
        }
    }
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
