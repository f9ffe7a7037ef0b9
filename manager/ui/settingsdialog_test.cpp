#include "manager/ui/settingsdialog.h"

#include "manager/app/testing/test_environment.h"

#include <QComboBox>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

const char kManager[] = "Solvane Manager";
const char kOther[] = "Keltrix Kivo Manager";

// "SelectedLocale" of the identity's settings scope; a null variant when none is stored.
QVariant storedLocale()
{
    const QPair<QString, QString> scope = AppEnvironment::languageSettingsScope();
    return QSettings(scope.first, scope.second).value(QStringLiteral("SelectedLocale"));
}

QComboBox *languageBox(SettingsDialog &dialog)
{
    auto *box = dialog.findChild<QComboBox *>(QStringLiteral("langComboBox"));
    EXPECT_NE(box, nullptr);
    return box;
}

QStringList items(const QComboBox &box)
{
    QStringList texts;
    for (int i = 0; i < box.count(); ++i)
        texts << box.itemText(i);
    return texts;
}

TEST(SettingsDialogTest, OffersTenLanguagesToTheManagerAndSixToOthers)
{
    const struct {
        const char *identity;
        int count;
        const char *last;
        const char *title;
    } cases[] = {
        {kManager, 10, "Português (Brasil)", "Solvane Manager settings"},
        {kOther, 6, "Русский", "Kivo Manager Menu"},
    };
    for (const auto &c : cases) {
        TestEnvironment environment(QString::fromUtf8(c.identity));
        SettingsDialog dialog;
        const QStringList offered = items(*languageBox(dialog));
        EXPECT_EQ(offered.size(), c.count) << c.identity;
        EXPECT_EQ(offered.mid(0, 6), (QStringList{"English", "Deutsch", "Français", "Español", "中文", "Русский"}));
        EXPECT_EQ(offered.last(), QString::fromUtf8(c.last)) << c.identity;
        EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8(c.title)) << c.identity;
        EXPECT_FALSE(dialog.windowFlags() & Qt::WindowContextHelpButtonHint);
    }
    TestEnvironment environment(QString::fromUtf8(kManager));
    SettingsDialog dialog;
    EXPECT_EQ(dialog.minimumHeight(), 200);
    EXPECT_EQ(dialog.maximumHeight(), 200);
    EXPECT_EQ(SettingsDialog::languageCodes(true),
              (QStringList{"en", "de", "fr", "es", "zh", "ru", "ko", "ja", "nl", "pt"}));
    // Every code offered is one the language store knows.
    for (const QString &code : SettingsDialog::languageCodes(true))
        EXPECT_TRUE(AppEnvironment::supportedLanguageCodes().contains(code)) << code.toStdString();
}

TEST(SettingsDialogTest, OpensOnTheStoredLanguageWhenItIsOffered)
{
    const struct {
        const char *identity;
        const char *stored;
        const char *shown; // empty: no selection
    } cases[] = {
        {kManager, "ja", "日本語"},  {kOther, "ja", ""},    {kManager, "de", "Deutsch"},
        {kOther, "ru", "Русский"},   {kManager, "en-GB", ""}, {kManager, "de-AT", ""},
        {kManager, "pt", "Português (Brasil)"}, {kManager, "it", ""},
    };
    for (const auto &c : cases) {
        TestEnvironment environment(QString::fromUtf8(c.identity));
        AppEnvironment::storeSelectedLocale(QLocale(QString::fromUtf8(c.stored)));
        SettingsDialog dialog;
        QComboBox *box = languageBox(dialog);
        EXPECT_EQ(box->currentText(), QString::fromUtf8(c.shown)) << c.identity << " with " << c.stored;
        EXPECT_EQ(box->currentIndex() < 0, !*c.shown) << c.identity << " with " << c.stored;
    }
}

TEST(SettingsDialogTest, OpeningAndClosingStoresNothing)
{
    for (const char *stored : {"", "ja", "en-GB"}) {
        TestEnvironment environment(QString::fromUtf8(kManager));
        if (*stored)
            AppEnvironment::storeSelectedLocale(QLocale(QString::fromUtf8(stored)));
        const QVariant before = storedLocale();

        SettingsDialog dialog;
        // Escape closes the modal dialog as its frame does.
        QTimer::singleShot(0, &dialog, [&dialog] { QTest::keyClick(&dialog, Qt::Key_Escape); });
        EXPECT_EQ(dialog.exec(), QDialog::Rejected);
        EXPECT_EQ(storedLocale(), before) << stored;
    }
}

TEST(SettingsDialogTest, ChoosingALanguageStoresItAtOnce)
{
    TestEnvironment environment(QString::fromUtf8(kManager));
    AppEnvironment::storeSelectedLocale(QLocale(QStringLiteral("en-GB")));
    SettingsDialog dialog;
    QComboBox *box = languageBox(dialog);
    ASSERT_EQ(box->currentIndex(), -1);

    const struct {
        const char *name;
        const char *stored;
    } choices[] = {{"Deutsch", "de"}, {"日本語", "ja"}, {"Português (Brasil)", "pt"}, {"English", "en"}};
    for (const auto &choice : choices) {
        box->setCurrentIndex(box->findText(QString::fromUtf8(choice.name)));
        EXPECT_EQ(storedLocale().toString(), QString::fromUtf8(choice.stored)) << choice.name;
    }
    // The running program keeps its language: nothing is retranslated.
    box->setCurrentIndex(1);
    EXPECT_EQ(dialog.windowTitle(), "Solvane Manager settings");
    EXPECT_EQ(QCoreApplication::translate("SettingsDialog", "Product display language:"), "Product display language:");
    EXPECT_EQ(AppEnvironment::selectedLocale().bcp47Name(), "de") << "but the next start reads the choice";
}

} // namespace
