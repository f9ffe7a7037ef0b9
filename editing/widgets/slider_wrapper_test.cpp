#include "editing/widgets/color_slider.h"
#include "editing/widgets/slider_wrapper.h"
#include "editing/widgets/spin_box_wrapper.h"
#include "editing/widgets/testing/widget_events.h"

#include <QLineEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// The slider as the user sees it: where the style draws its handle.
class ProbedSlider : public SliderWrapper {
public:
    using SliderWrapper::SliderWrapper;
    QRect handleRect() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    }
};

// A 200-pixel slider over 0..100, shown so that it takes presses and focus.
class SliderWrapperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        slider.setOrientation(Qt::Horizontal);
        slider.setRange(0, 100);
        slider.setFixedSize(200, 24);
        slider.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&slider));
    }

    void sendWheel(QWidget* target, int delta)
    {
        const QPoint at(target->width() / 2, target->height() / 2);
        QWheelEvent wheel(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &wheel);
    }

    // The handle sits under x, or at the end of the groove that x lies beyond.
    void expectHandleUnder(int x)
    {
        const QRect handle = slider.handleRect();
        if (slider.value() == slider.minimum() && x <= handle.center().x())
            return;
        if (slider.value() == slider.maximum() && x >= handle.center().x())
            return;
        EXPECT_LE(std::abs(handle.center().x() - x), 1) << "value " << slider.value();
    }

    ProbedSlider slider;
};

TEST_F(SliderWrapperTest, PressPutsTheHandleUnderThePointerWithOneChangeNotMoving)
{
    int previous = -1;
    for (const int x : {0, 3, 40, 100, 150, 190, 196, 199, 200}) {
        SCOPED_TRACE(x);
        slider.setValue(x < 100 ? 100 : 0);
        QSignalSpy changed(&slider, &SliderWrapper::valueChanged);
        QSignalSpy stopped(&slider, &SliderWrapper::slidingStopped);
        QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(x, 12));
        QTest::mouseRelease(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(x, 12));
        ASSERT_EQ(changed.count(), 1);
        EXPECT_EQ(changed.first().at(0).toInt(), slider.value());
        EXPECT_FALSE(changed.first().at(1).toBool());
        EXPECT_EQ(stopped.count(), 0);
        expectHandleUnder(x);
        EXPECT_GE(slider.value(), previous);
        previous = slider.value();
    }
    EXPECT_EQ(previous, 100);
    slider.setValue(50);
    QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(0, 12));
    EXPECT_EQ(slider.value(), 0);
}

TEST_F(SliderWrapperTest, DragReportsMovingAndStopsOnce)
{
    QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(100, 12));
    ASSERT_EQ(slider.value(), 50);
    QSignalSpy changed(&slider, &SliderWrapper::valueChanged);
    QSignalSpy stopped(&slider, &SliderWrapper::slidingStopped);
    for (int x = 110; x <= 150; x += 10) {
        dragTo(&slider, QPoint(x, 12));
        expectHandleUnder(x);
    }
    ASSERT_GE(changed.count(), 3);
    for (const QList<QVariant>& signal : changed)
        EXPECT_TRUE(signal.at(1).toBool());
    EXPECT_GT(slider.value(), 50);
    EXPECT_EQ(stopped.count(), 0);
    QTest::mouseRelease(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(150, 12));
    EXPECT_EQ(stopped.count(), 1);
    EXPECT_FALSE(slider.isMoving());
}

TEST_F(SliderWrapperTest, WheelChangesValueNotMovingAndAlwaysStopsAfterTheChange)
{
    slider.setValue(50);
    QSignalSpy changed(&slider, &SliderWrapper::valueChanged);
    QStringList heard;
    QObject::connect(&slider, &SliderWrapper::valueChanged, [&](int value) { heard << QStringLiteral("value %1").arg(value); });
    QObject::connect(&slider, &SliderWrapper::slidingStopped,
                     [&] { heard << QStringLiteral("stopped at %1").arg(slider.value()); });
    sendWheel(&slider, 120);
    ASSERT_EQ(changed.count(), 1);
    const int turned = changed.first().at(0).toInt();
    EXPECT_NE(turned, 50);
    EXPECT_FALSE(changed.first().at(1).toBool());
    EXPECT_EQ(heard.join(", ").toStdString(), QStringLiteral("value %1, stopped at %1").arg(turned).toStdString());

    // At the end of the range the wheel changes nothing and still stops.
    slider.setValue(100);
    heard.clear();
    sendWheel(&slider, 120);
    EXPECT_EQ(heard.join(", ").toStdString(), "stopped at 100");
}

TEST_F(SliderWrapperTest, DoubleClickRestoresDefaultOnlyWhenSet)
{
    QTest::mouseClick(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(60, 12));
    const int pressed = slider.value();
    QSignalSpy changed(&slider, &SliderWrapper::valueChanged);
    QSignalSpy doubleClicked(&slider, &SliderWrapper::sliderDoubleClicked);
    QTest::mouseDClick(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(60, 12));
    EXPECT_EQ(slider.value(), pressed); // no default, no restore
    EXPECT_EQ(doubleClicked.count(), 1);

    slider.setDefaultValue(80);
    changed.clear();
    QTest::mouseDClick(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(60, 12));
    EXPECT_EQ(slider.value(), 80);
    EXPECT_EQ(doubleClicked.count(), 2);
    ASSERT_FALSE(changed.isEmpty());
    EXPECT_EQ(changed.last().at(0).toInt(), 80);
    EXPECT_FALSE(changed.last().at(1).toBool());
}

TEST_F(SliderWrapperTest, PressWhileDisabledTakesEffectWhenEnabled)
{
    slider.setValue(10);
    slider.setEnabled(false);
    QSignalSpy changed(&slider, &SliderWrapper::valueChanged);
    QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(150, 12));
    QTest::mouseRelease(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(150, 12));
    EXPECT_EQ(slider.value(), 10);
    EXPECT_EQ(changed.count(), 0);
    slider.setEnabled(true);
    expectHandleUnder(150);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.first().at(0).toInt(), slider.value());
    EXPECT_FALSE(changed.first().at(1).toBool());
    // Applied once only.
    slider.setEnabled(false);
    slider.setEnabled(true);
    EXPECT_EQ(changed.count(), 1);
}

TEST_F(SliderWrapperTest, KeysAndFocusAnnounce)
{
    QSignalSpy active(&slider, &SliderWrapper::becameActive);
    QSignalSpy inactive(&slider, &SliderWrapper::becameInactive);
    QSignalSpy changed(&slider, &SliderWrapper::valueChanged);
    slider.setValue(20);
    slider.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&slider));
    slider.clearFocus();
    active.clear();
    inactive.clear();
    slider.setFocus(Qt::TabFocusReason);
    EXPECT_EQ(active.count(), 1);
    QTest::keyClick(&slider, Qt::Key_Right);
    EXPECT_EQ(slider.value(), 21);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_FALSE(changed.first().at(1).toBool());
    slider.clearFocus();
    EXPECT_EQ(inactive.count(), 1);
}

// Built in code, a slider starts vertical; one turned horizontal in a row must take the row's
// width, not stay as wide as a vertical slider (and the other way round in a column).
TEST(SliderWrapperLayout, ASliderBuiltInCodeStretchesAlongItsOrientation)
{
    for (const Qt::Orientation orientation : {Qt::Horizontal, Qt::Vertical}) {
        SCOPED_TRACE(orientation);
        QWidget panel;
        QBoxLayout* layout = orientation == Qt::Horizontal ? static_cast<QBoxLayout*>(new QHBoxLayout(&panel))
                                                           : static_cast<QBoxLayout*>(new QVBoxLayout(&panel));
        layout->addWidget(new QLabel(QStringLiteral("Amount")));
        auto* slider = new SliderWrapper;
        slider->setOrientation(Qt::Vertical == orientation ? Qt::Horizontal : Qt::Vertical);
        slider->setOrientation(orientation);
        layout->addWidget(slider);
        layout->addWidget(new QSpinBox);
        panel.resize(420, 420);
        panel.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
        const int length = orientation == Qt::Horizontal ? slider->width() : slider->height();
        EXPECT_GT(length, 420 / 2);
    }
}

TEST(SilentSetValue, NeitherWrapperEmits)
{
    SliderWrapper slider;
    slider.setRange(0, 100);
    SpinBoxWrapper spinBox;
    spinBox.setRange(0, 100);
    QSignalSpy sliderChanged(&slider, &SliderWrapper::valueChanged);
    QSignalSpy sliderBaseChanged(&slider, &QAbstractSlider::valueChanged);
    QSignalSpy spinChanged(&spinBox, &SpinBoxWrapper::valueChanged);
    slider.setValue(42);
    spinBox.setValue(42);
    EXPECT_EQ(slider.value(), 42);
    EXPECT_EQ(spinBox.value(), 42);
    EXPECT_EQ(sliderChanged.count() + sliderBaseChanged.count() + spinChanged.count(), 0);
    // A caller that had blocked the signals keeps them blocked.
    slider.blockSignals(true);
    slider.setValue(43);
    EXPECT_TRUE(slider.signalsBlocked());
}

TEST(SpinBoxWrapper, ReportsUserChangesAsMoving)
{
    SpinBoxWrapper spinBox;
    spinBox.setRange(0, 360);
    spinBox.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&spinBox));
    QSignalSpy changed(&spinBox, &SpinBoxWrapper::valueChanged);
    spinBox.setFocus();
    QTest::keyClick(&spinBox, Qt::Key_Up);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.first().at(0).toInt(), 1);
    EXPECT_TRUE(changed.first().at(1).toBool());
}

TEST(SpinBoxWrapper, FilteringItselfIgnoresTheWheelAndSelectsOnPress)
{
    SpinBoxWrapper spinBox;
    spinBox.setRange(0, 360);
    spinBox.setValue(100);
    spinBox.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&spinBox));

    // Without the filter the standard wheel behaviour stays.
    const QPoint at(spinBox.width() / 2, spinBox.height() / 2);
    QWheelEvent up(at, spinBox.mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(&spinBox, &up);
    EXPECT_EQ(spinBox.value(), 101);

    spinBox.installEventFilter(&spinBox);
    QWheelEvent again(at, spinBox.mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&spinBox, &again);
    EXPECT_EQ(spinBox.value(), 101);

    auto* edit = spinBox.findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    edit->deselect();
    QTest::mouseClick(&spinBox, Qt::LeftButton, Qt::NoModifier, at);
    QTest::qWait(0);
    QApplication::processEvents();
    EXPECT_EQ(edit->selectedText(), edit->text());
    EXPECT_FALSE(edit->selectedText().isEmpty());
}

TEST(SliderPair, KeptInStepWithoutEchoes)
{
    ColorSlider slider;
    slider.setRange(0, 360);
    SpinBoxWrapper spinBox;
    spinBox.setRange(0, 360);
    QObject::connect(&slider, &SliderWrapper::valueChanged, &spinBox, &SpinBoxWrapper::setValue);
    QObject::connect(&spinBox, &SpinBoxWrapper::valueChanged, &slider, &SliderWrapper::setValue);
    QSignalSpy sliderChanged(&slider, &SliderWrapper::valueChanged);
    QSignalSpy spinChanged(&spinBox, &SpinBoxWrapper::valueChanged);
    spinBox.QSpinBox::setValue(200);
    EXPECT_EQ(slider.value(), 200);
    slider.QSlider::setValue(120);
    EXPECT_EQ(spinBox.value(), 120);
    EXPECT_EQ(spinChanged.count(), 1);
    EXPECT_EQ(sliderChanged.count(), 1);
}

} // namespace
