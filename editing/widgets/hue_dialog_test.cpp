#include "editing/widgets/color_slider.h"
#include "editing/widgets/hue_dialog.h"
#include "editing/widgets/spin_box_wrapper.h"
#include "manager/app/testing/test_environment.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>

#include <gtest/gtest.h>

// The style bundle's registration functions are global symbols.
static void unregisterStyleBundle()
{
    Q_CLEANUP_RESOURCE(style);
}
static void reregisterStyleBundle()
{
    Q_INIT_RESOURCE(style);
}

namespace {

QString resourceText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

struct DialogParts {
    ColorSlider* slider;
    SpinBoxWrapper* spinBox;
    QPushButton* ok;
    QPushButton* cancel;
};

DialogParts partsOf(HueDialog& dialog)
{
    return {dialog.findChild<ColorSlider*>(QStringLiteral("hueSlider")),
            dialog.findChild<SpinBoxWrapper*>(QStringLiteral("hueSpinBox")),
            dialog.findChild<QPushButton*>(QStringLiteral("okButton")),
            dialog.findChild<QPushButton*>(QStringLiteral("cancelButton"))};
}

TEST(HueDialog, FormAndTexts)
{
    TestEnvironment environment;
    HueDialog dialog(0);
    const DialogParts parts = partsOf(dialog);
    ASSERT_TRUE(parts.slider && parts.spinBox && parts.ok && parts.cancel);
    EXPECT_EQ(dialog.objectName(), QStringLiteral("HueDialog"));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Select Hue"));
    EXPECT_EQ(dialog.accessibleName(), QStringLiteral("hueDialog"));
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowContextHelpButtonHint);
    EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("hueLabel"))->text(), QStringLiteral("Hue"));
    EXPECT_EQ(parts.slider->minimum(), 0);
    EXPECT_EQ(parts.slider->maximum(), 360);
    EXPECT_EQ(parts.spinBox->maximum(), 360);
    EXPECT_EQ(parts.spinBox->suffix(), QString::fromUtf8("°"));
    EXPECT_GE(parts.spinBox->width(), 36);
    EXPECT_EQ(parts.ok->text(), QStringLiteral("OK"));
    EXPECT_TRUE(parts.ok->isDefault());
    EXPECT_EQ(parts.ok->property("buttonType").toString(), QStringLiteral("secondary"));
    EXPECT_EQ(parts.cancel->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(parts.cancel->property("buttonType").toString(), QStringLiteral("tertiary"));
    // The whole hue circle from red.
    EXPECT_EQ(parts.slider->gradientSpecSetting(), int(QColor::Hsl));
    EXPECT_EQ(parts.slider->gradientStartColor(), QColor::fromHsl(0, 255, 128));
    EXPECT_EQ(parts.slider->gradientEndColor(), QColor::fromHsl(0, 255, 128));
    EXPECT_EQ(parts.slider->gradientComponentSetting(), int(ColorSlider::Hue));
}

// The degree box is 36 pixels wide in the form; in the application's larger fonts "360°" did not
// fit and the degree sign was cut off.
TEST(HueDialog, TheWidestHueFitsItsBoxInEveryFont)
{
    TestEnvironment environment;
    const QFont before = QApplication::font();
    for (const int pointSize : {9, 12, 16, 22}) {
        SCOPED_TRACE(pointSize);
        QFont font = before;
        font.setPointSize(pointSize);
        QApplication::setFont(font);
        HueDialog dialog(0);
        const DialogParts parts = partsOf(dialog);
        parts.spinBox->setValue(360);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        auto* edit = parts.spinBox->findChild<QLineEdit*>();
        ASSERT_NE(edit, nullptr);
        ASSERT_EQ(edit->text(), QString::fromUtf8("360°"));
        // QLineEdit keeps two pixels free on each side of its text.
        EXPECT_GE(edit->contentsRect().width() - 4, edit->fontMetrics().horizontalAdvance(edit->text()));
        EXPECT_GE(parts.spinBox->width(), 36);
    }
    QApplication::setFont(before);
}

TEST(HueDialog, OpensSilentlyOnTheInitialHue)
{
    TestEnvironment environment;
    HueDialog dialog(200);
    const DialogParts parts = partsOf(dialog);
    EXPECT_EQ(parts.slider->value(), 200);
    EXPECT_EQ(parts.spinBox->value(), 200);
    EXPECT_EQ(dialog.selectedHue(), 200);
}

TEST(HueDialog, ControlsKeptInStepAndTheEndReadsAsRed)
{
    TestEnvironment environment;
    HueDialog dialog(200);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const DialogParts parts = partsOf(dialog);
    QSignalSpy sliderChanged(parts.slider, &SliderWrapper::valueChanged);

    parts.spinBox->setFocus();
    parts.spinBox->selectAll();
    QTest::keyClicks(parts.spinBox, QStringLiteral("360"));
    EXPECT_EQ(parts.spinBox->value(), 360);
    EXPECT_EQ(parts.slider->value(), 360);
    EXPECT_EQ(sliderChanged.count(), 0); // set silently: no echo back to the spin box
    EXPECT_EQ(dialog.selectedHue(), 0);

    parts.slider->setFocus();
    QTest::keyClick(parts.slider, Qt::Key_Home);
    EXPECT_EQ(parts.spinBox->value(), 0);
}

TEST(HueDialog, OkAcceptsCancelEscapeAndCloseReject)
{
    TestEnvironment environment;
    struct Case {
        const char* name;
        std::function<void(HueDialog&)> act;
        int result;
    };
    const Case cases[] = {
        {"ok", [](HueDialog& d) { partsOf(d).ok->click(); }, QDialog::Accepted},
        {"return", [](HueDialog& d) { QTest::keyClick(&d, Qt::Key_Return); }, QDialog::Accepted},
        {"cancel", [](HueDialog& d) { partsOf(d).cancel->click(); }, QDialog::Rejected},
        {"escape", [](HueDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }, QDialog::Rejected},
        {"close", [](HueDialog& d) { d.close(); }, QDialog::Rejected},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HueDialog dialog(40);
        QTimer::singleShot(0, &dialog, [&] { c.act(dialog); });
        EXPECT_EQ(dialog.exec(), c.result);
    }
}

TEST(HueDialog, StyleSheetFollowsTheIdentity)
{
    for (const char* identity : {"Solvane Manager", "Solvane Photo 2", "Solvane Photo"}) {
        TestEnvironment environment(QString::fromLatin1(identity));
        SCOPED_TRACE(identity);
        const bool photo = AppEnvironment::isPhotoIdentity();
        const QString resource =
            photo ? QStringLiteral(":/Style/solvane-dialog-styles.css") : QStringLiteral(":/Style/dialog-styles.css");
        EXPECT_EQ(HueDialog::styleSheetResource(), resource);
        HueDialog dialog(0);
        EXPECT_FALSE(dialog.styleSheet().isEmpty());
        EXPECT_EQ(dialog.styleSheet(), resourceText(resource));
    }
    EXPECT_NE(resourceText(QStringLiteral(":/Style/dialog-styles.css")),
              resourceText(QStringLiteral(":/Style/solvane-dialog-styles.css")));
}

TEST(HueDialog, MissingStyleSheetGivesNone)
{
    TestEnvironment environment(QStringLiteral("Solvane Photo 2"));
    unregisterStyleBundle();
    const bool gone = !QFile::exists(HueDialog::styleSheetResource());
    HueDialog dialog(10);
    const QString styleSheet = dialog.styleSheet();
    reregisterStyleBundle();
    ASSERT_TRUE(gone);
    EXPECT_TRUE(styleSheet.isEmpty());
    dialog.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
}

} // namespace
