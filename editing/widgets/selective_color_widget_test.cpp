#include "editing/widgets/selective_color_widget.h"

#include "editing/model/hue_tables.h"
#include "editing/model/preset.h"
#include "editing/model/preset_correction_element.h"
#include "editing/model/qvxl_params.h"
#include "editing/widgets/color_slider.h"
#include "editing/widgets/four_handle_slider.h"
#include "editing/widgets/hue_dialog.h"
#include "editing/widgets/spin_box_wrapper.h"
#include "editing/widgets/tool_header_widget.h"
#include "editing/widgets/testing/widget_events.h"
#include "manager/app/testing/test_environment.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

namespace {

// A panel of one identity over a stack of four default layers. The owner adopts every stack the
// panel submits, as a host that applies it would; the hue tables start and end at their defaults.
class SelectiveColorFixture {
public:
    explicit SelectiveColorFixture(const QString& identity)
        : environment(identity), photo(AppEnvironment::isPhotoIdentity()), stack(4)
    {
        restoreHueTable(photo);
        widget = std::make_unique<SelectiveColorWidget>();
        widget->setSubmitHandler([this](QVXLParams* submitted) {
            submissions.push_back(submitted);
            widget->setParamStack(submitted);
        });
        widget->resize(360, 340);
        widget->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(widget.get()));
    }
    ~SelectiveColorFixture()
    {
        widget.reset();
        stack.releaseArrays();
        restoreHueTable(photo);
    }

    template <typename T>
    T* child(const char* name) const
    {
        return widget->findChild<T*>(QString::fromLatin1(name));
    }
    QPushButton* button(int index) const { return widget->hueButtons().at(index); }
    SelectiveColorRecord& record(int index) const
    {
        return widget->currentParamStack()->blocks[0].selectiveColor[index];
    }
    // Plain setting of the stack, without the adopting handler's echo.
    void show(QVXLParams* params) { widget->setParamStack(params); }

    TestEnvironment environment;
    bool photo;
    QVXLParams stack;
    std::unique_ptr<SelectiveColorWidget> widget;
    std::vector<QVXLParams*> submissions;
};

TEST(HueRangeOfRecord, MeasuresFromTheFeatherStart)
{
    struct Case {
        int a, b, c, d;
        HueRangeShape expected;
    };
    const Case cases[] = {
        {337, 352, 7, 22, {true, 15, 15}},  {357, 12, 27, 42, {true, 15, 15}},
        {10, 10, 20, 30, {false, 0, 0}},    {0, 20, 20, 40, {false, 0, 0}},
        {0, 10, 40, 45, {true, 30, 7}},     {100, 50, 60, 70, {true, 10, 160}},
        {0, 30, 20, 40, {false, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a << " " << c.b << " " << c.c << " " << c.d);
        const HueRangeShape shape = hueRangeOfRecord(c.a, c.b, c.c, c.d);
        EXPECT_EQ(shape.valid, c.expected.valid);
        EXPECT_EQ(shape.width, c.expected.width);
        EXPECT_EQ(shape.feather, c.expected.feather);
    }
}

TEST(SelectiveColorWidget, MetaObjectInterface)
{
    const QMetaObject& meta = SelectiveColorWidget::staticMetaObject;
    EXPECT_STREQ(meta.className(), "SelectiveColorWidget");
    EXPECT_STREQ(meta.superClass()->className(), "GenericToolWidget");
    EXPECT_EQ(ownMethods(meta), (QStringList{"changed(bool)", "eyedropperclicked(bool,bool)", "eyedropperclicked(bool)",
                                "deactivateCurrentPreset()", "color_button_clicked()",
                                "colorButtonDoubleClicked(QPushButton*)", "on_selectivColorCheckbox_clicked(bool)",
                                "on_resetParamsButton_clicked()"}));
}

TEST(SelectiveColorWidget, OneButtonPerHueOfTheIdentity)
{
    for (const auto& [identity, count] : {std::pair{"Solvane Manager", 8}, std::pair{"Solvane Photo 2", 6}}) {
        SelectiveColorFixture f{QString::fromLatin1(identity)};
        SCOPED_TRACE(identity);
        ASSERT_EQ(f.widget->hueButtons().size(), count);
        for (int i = 0; i < count; ++i)
            EXPECT_EQ(f.button(i)->property("index").toInt(), i);
    }
}

TEST(SelectiveColorWidget, ClickSelectsAndShowsTheRecord)
{
    SelectiveColorFixture f{QStringLiteral("Solvane Manager")};
    f.stack.blocks[0].selectiveColor[1] = {357, 12, 27, 42, 25, -40, 10};
    f.show(&f.stack);
    QSignalSpy changed(f.widget.get(), &SelectiveColorWidget::changed);

    QTest::mouseClick(f.button(1), Qt::LeftButton);
    EXPECT_EQ(SelectiveColorWidget::storedIndex(), 1);
    EXPECT_EQ(QSettings().value("SelectiveColorIndex").toInt(), 1);
    EXPECT_EQ(f.widget->selectedColor(), QColor::fromHsl(20, 255, 128));
    EXPECT_EQ(f.button(1)->styleSheet(), QStringLiteral("background-color: hsl(20, 255, 128); margin: 7px; "
                                                        "border-radius: 3px; border: 3px solid #C6C6C7; "));
    EXPECT_EQ(f.button(0)->styleSheet(), QStringLiteral("background-color: hsl(0, 255, 128); margin: 7px; "
                                                        "border-radius: 3px; border: 3px solid #252730; "));
    EXPECT_EQ(f.child<ColorSlider>("hueSlider")->value(), 25);
    EXPECT_EQ(f.child<SpinBoxWrapper>("hueSpinBox")->value(), 25);
    EXPECT_EQ(f.child<ColorSlider>("saturationSlider")->value(), -40);
    EXPECT_EQ(f.child<SpinBoxWrapper>("lightnessSpinBox")->value(), 10);
    EXPECT_EQ(f.child<SpinBoxWrapper>("rangeWidthSpinBox")->value(), 15);
    EXPECT_EQ(f.child<SpinBoxWrapper>("featherSpinBox")->value(), 15);
    EXPECT_EQ(f.child<QLabel>("rangeLabel")->text(), QString::fromUtf8("357°/12° -- 27°\\42°"));
    auto* handles = f.child<FourHandleSlider>("fourHandleSlider");
    EXPECT_EQ(handles->featherStartHue(), 357);
    EXPECT_EQ(handles->rangeStartHue(), 12);
    EXPECT_EQ(handles->rangeEndHue(), 27);
    EXPECT_EQ(handles->featherEndHue(), 42);
    EXPECT_EQ(changed.count(), 0); // showing a record changes nothing

    // The gradients follow the button: hue 20 runs from 320 to 80.
    auto* hue = f.child<ColorSlider>("hueSlider");
    EXPECT_EQ(hue->gradientStartColor(), QColor::fromHsl(320, 255, 128));
    EXPECT_EQ(hue->gradientEndColor(), QColor::fromHsl(80, 255, 128));
    auto* saturation = f.child<ColorSlider>("saturationSlider");
    EXPECT_EQ(saturation->gradientStartColor(), QColor::fromHsl(20, 0, 128));
    EXPECT_EQ(saturation->gradientComponentSetting(), int(ColorSlider::Saturation));
    auto* lightness = f.child<ColorSlider>("lightnessSlider");
    EXPECT_EQ(lightness->gradientEndColor(), QColor::fromHsl(20, 255, 255));

    QTest::mouseClick(f.button(7), Qt::LeftButton); // hue 320: from 260 to 20
    EXPECT_EQ(hue->gradientStartColor(), QColor::fromHsl(260, 255, 128));
    EXPECT_EQ(hue->gradientEndColor(), QColor::fromHsl(20, 255, 128));
}

TEST(SelectiveColorWidget, InvalidRecordShowsNoWidthOrFeather)
{
    SelectiveColorFixture f{QStringLiteral("Solvane Manager")};
    f.stack.blocks[0].selectiveColor[2] = {10, 10, 20, 30, 0, 0, 0};
    f.show(&f.stack);
    f.child<SpinBoxWrapper>("rangeWidthSpinBox")->setValue(50);
    QTest::mouseClick(f.button(2), Qt::LeftButton);
    EXPECT_EQ(f.child<SpinBoxWrapper>("rangeWidthSpinBox")->value(), 0);
    EXPECT_EQ(f.child<SpinBoxWrapper>("featherSpinBox")->value(), 0);
    EXPECT_EQ(f.child<SliderWrapper>("featherSlider")->value(), 0);
}

TEST(SelectiveColorWidget, PhotoIdentityLeavesTheRangeControlsAlone)
{
    SelectiveColorFixture f{QStringLiteral("Solvane Photo 2")};
    f.show(&f.stack);
    auto* width = f.child<SpinBoxWrapper>("rangeWidthSpinBox");
    auto* label = f.child<QLabel>("rangeLabel");
    width->setValue(77);
    label->setText(QStringLiteral("untouched"));
    QTest::mouseClick(f.button(5), Qt::LeftButton);
    EXPECT_EQ(width->value(), 77);
    EXPECT_EQ(label->text(), QStringLiteral("untouched"));
    const SelectiveColorRecord& shown = f.stack.blocks[0].selectiveColor[5];
    auto* handles = f.child<FourHandleSlider>("fourHandleSlider");
    EXPECT_EQ(handles->featherStartHue(), shown.featherStart);
    EXPECT_EQ(handles->featherEndHue(), shown.featherEnd);
    EXPECT_EQ(f.widget->selectedColor(), QColor::fromHsl(300, 255, 128));
}

TEST(SelectiveColorWidget, AdjustmentsAreWrittenIntoTheSelectedRecord)
{
    SelectiveColorFixture f{QStringLiteral("Solvane Manager")};
    f.show(&f.stack);
    QTest::mouseClick(f.button(3), Qt::LeftButton);
    QSignalSpy changed(f.widget.get(), &SelectiveColorWidget::changed);
    QSignalSpy deactivate(f.widget.get(), &SelectiveColorWidget::deactivateCurrentPreset);
    auto* saturation = f.child<SpinBoxWrapper>("saturationSpinBox");
    saturation->setFocus();
    saturation->selectAll();
    QTest::keyClicks(saturation, QStringLiteral("-35"));
    EXPECT_EQ(f.stack.blocks[0].selectiveColor[3].saturation, -35);
    EXPECT_EQ(f.child<ColorSlider>("saturationSlider")->value(), -35);
    EXPECT_EQ(f.stack.blocks[0].selectiveColor[2].saturation, 0); // only the selected record
    ASSERT_FALSE(changed.isEmpty());
    EXPECT_FALSE(changed.last().at(0).toBool());
    EXPECT_EQ(deactivate.count(), changed.count());
    EXPECT_FALSE(f.submissions.empty());

    // Range width: the handles widen round the same centre and the record follows.
    auto* width = f.child<SpinBoxWrapper>("rangeWidthSpinBox");
    width->setFocus();
    width->selectAll();
    QTest::keyClicks(width, QStringLiteral("41"));
    const SelectiveColorRecord& r = f.stack.blocks[0].selectiveColor[3];
    EXPECT_EQ(hueRangeOfRecord(r.featherStart, r.rangeStart, r.rangeEnd, r.featherEnd).width, 41);
    EXPECT_EQ(r.rangeStart, 120 - 21);
    EXPECT_EQ(r.featherStart, 120 - 21 - 15);
}

// Reading a preset stores its "iSelectiveColorIndex" in the settings, which also remember the
// panel's selection for the next start: the panel must go on editing the record it shows.
TEST(SelectiveColorWidget, EditsTheShownRecordWhateverAPresetReadStored)
{
    SelectiveColorFixture f{QStringLiteral("Solvane Manager")};
    f.show(&f.stack);
    QTest::mouseClick(f.button(2), Qt::LeftButton);
    const SelectiveColorRecord before5 = f.stack.blocks[0].selectiveColor[5];

    const SharedPreset read = makeSharedPreset();
    read->createPresetParams();
    QXmlStreamReader reader(QStringLiteral("<correction><iSelectiveColorIndex>5</iSelectiveColorIndex></correction>"));
    reader.readNextStartElement();
    readCorrection(*read, reader);
    ASSERT_EQ(SelectiveColorWidget::storedIndex(), 5);

    auto* lightness = f.child<SpinBoxWrapper>("lightnessSpinBox");
    lightness->setFocus();
    lightness->selectAll();
    QTest::keyClicks(lightness, QStringLiteral("12"));
    auto* width = f.child<SpinBoxWrapper>("rangeWidthSpinBox");
    width->setFocus();
    width->selectAll();
    QTest::keyClicks(width, QStringLiteral("31"));

    const SelectiveColorRecord& shown = f.stack.blocks[0].selectiveColor[2];
    EXPECT_EQ(shown.lightness, 12);
    EXPECT_EQ(hueRangeOfRecord(shown.featherStart, shown.rangeStart, shown.rangeEnd, shown.featherEnd).width, 31);
    EXPECT_EQ(std::memcmp(&f.stack.blocks[0].selectiveColor[5], &before5, sizeof before5), 0);
}

TEST(SelectiveColorWidget, DraggedHandlesAreWrittenIntoTheRecord)
{
    SelectiveColorFixture f{QStringLiteral("Solvane Manager")};
    f.show(&f.stack);
    QTest::mouseClick(f.button(4), Qt::LeftButton); // hue 180: 157, 172, 187, 202
    auto* handles = f.child<FourHandleSlider>("fourHandleSlider");
    QSignalSpy changed(f.widget.get(), &SelectiveColorWidget::changed);
    f.submissions.clear();
    // Drag handle 3 (featherEnd) ten units up the circle.
    const QRect marker = handles->markerRect(3);
    const QPoint from(marker.center().x(), handles->height() / 2);
    const int unitsPerPixel = 360 / handles->width();
    const QPoint to(from.x() + 10 / std::max(1, unitsPerPixel), from.y());
    QTest::mousePress(handles, Qt::LeftButton, Qt::NoModifier, from);
    dragTo(handles, to);
    QTest::mouseRelease(handles, Qt::LeftButton, Qt::NoModifier, to);
    const SelectiveColorRecord& r = f.stack.blocks[0].selectiveColor[4];
    EXPECT_GT(r.featherEnd, 202);
    EXPECT_EQ(r.featherEnd, handles->featherEndHue());
    EXPECT_EQ(r.rangeStart, 172);
    EXPECT_FALSE(f.submissions.empty());
    ASSERT_FALSE(changed.isEmpty());
    EXPECT_FALSE(changed.last().at(0).toBool());
    EXPECT_EQ(f.child<QLabel>("rangeLabel")->text(),
              QString::fromUtf8("157°/172° -- 187°\\%1°").arg(r.featherEnd));
}

TEST(SelectiveColorWidget, DoubleClickRetunesTheSharedHue)
{
    SelectiveColorFixture f{QStringLiteral("Solvane Manager")};
    f.show(&f.stack);
    SelectiveColorWidget other; // a second panel shares the table
    QSignalSpy changed(f.widget.get(), &SelectiveColorWidget::changed);

    QTimer::singleShot(50, [] {
        auto* dialog = qobject_cast<HueDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->findChild<SpinBoxWrapper*>(QStringLiteral("hueSpinBox"))->QSpinBox::setValue(200);
        dialog->accept();
    });
    // A real double click is a click and then the double click.
    QTest::mouseClick(f.button(2), Qt::LeftButton);
    QTest::mouseDClick(f.button(2), Qt::LeftButton);
    QTRY_COMPARE(hueTable(false)[2], 200);
    EXPECT_EQ(SelectiveColorWidget::storedIndex(), 2);
    EXPECT_EQ(f.widget->selectedColor(), QColor::fromHsl(200, 255, 128));
    EXPECT_EQ(f.button(2)->styleSheet(), QStringLiteral("background-color: hsl(200, 255, 128); margin: 7px; "
                                                        "border-radius: 3px; border: 3px solid #C6C6C7"));
    // The record's range moved to the new hue, keeping its width and feathers.
    const SelectiveColorRecord& r = f.stack.blocks[0].selectiveColor[2];
    EXPECT_EQ(FourHandleSlider::midHue(r.rangeStart, r.rangeEnd), 200);
    EXPECT_EQ(hueRangeOfRecord(r.featherStart, r.rangeStart, r.rangeEnd, r.featherEnd).width, 15);
    EXPECT_EQ(hueRangeOfRecord(r.featherStart, r.rangeStart, r.rangeEnd, r.featherEnd).feather, 15);
    EXPECT_EQ(f.child<ColorSlider>("hueSlider")->gradientStartColor(), QColor::fromHsl(140, 255, 128));
    ASSERT_FALSE(changed.isEmpty());

    // Cancelling changes nothing.
    const SelectiveColorRecord before = r;
    QTimer::singleShot(50, [] {
        if (auto* dialog = qobject_cast<HueDialog*>(QApplication::activeModalWidget()))
            dialog->reject();
    });
    QTest::mouseDClick(f.button(2), Qt::LeftButton);
    QTest::qWait(200);
    EXPECT_EQ(hueTable(false)[2], 200);
    EXPECT_EQ(f.stack.blocks[0].selectiveColor[2], before);

    // The reset restores the shared table.
    QTest::mouseClick(f.child<QPushButton>("resetParamsButton"), Qt::LeftButton);
    EXPECT_EQ(hueTable(false)[2], 60);
}

TEST(SelectiveColorWidget, CheckBoxSelectsTheStoredButton)
{
    for (int stored : {-1, 4}) {
        SelectiveColorFixture f{QStringLiteral("Solvane Manager")};
        SCOPED_TRACE(stored);
        if (stored >= 0)
            QSettings().setValue("SelectiveColorIndex", stored);
        else
            QSettings().remove("SelectiveColorIndex");
        f.widget->setSubmitHandler({});
        f.show(&f.stack);
        for (QPushButton* b : f.widget->hueButtons())
            b->setStyleSheet(QString());
        auto* box = f.child<QCheckBox>("selectivColorCheckbox");
        QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(5, box->height() / 2));
        ASSERT_TRUE(box->isChecked());
        const int expected = stored < 0 ? 0 : stored;
        EXPECT_TRUE(f.button(expected)->styleSheet().contains(QStringLiteral("#C6C6C7"))) << expected;
        EXPECT_EQ(SelectiveColorWidget::storedIndex(), expected);
        // Unchecking does nothing.
        f.button(expected)->setStyleSheet(QString());
        QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(5, box->height() / 2));
        EXPECT_TRUE(f.button(expected)->styleSheet().isEmpty());
    }
}

TEST(SelectiveColorWidget, ResetSubmitsDefaultsPerButtonAndKeepsTheSelection)
{
    SelectiveColorFixture f{QStringLiteral("Solvane Manager")};
    f.stack.blocks[0].selectiveColor[5] = {1, 2, 3, 4, 50, 50, 50};
    f.show(&f.stack);
    QTest::mouseClick(f.button(5), Qt::LeftButton);
    auto* header = f.child<ToolHeaderWidget>("header");
    header->headerToggleButton()->setChecked(false);
    header->setEnablerButtonVisibility(false);
    header->enablerButton()->setVisible(true); // changed behind the header's back
    QSignalSpy changed(f.widget.get(), &SelectiveColorWidget::changed);
    QSignalSpy deactivate(f.widget.get(), &SelectiveColorWidget::deactivateCurrentPreset);

    QTest::mouseClick(f.child<QPushButton>("resetParamsButton"), Qt::LeftButton);
    ASSERT_EQ(f.submissions.size(), 8u);
    QVXLParams* fresh = f.submissions.front();
    for (QVXLParams* submitted : f.submissions)
        EXPECT_EQ(submitted, fresh);
    EXPECT_NE(fresh, &f.stack);
    EXPECT_EQ(fresh->count, 4);
    EXPECT_EQ(changed.count(), 9);
    EXPECT_EQ(deactivate.count(), 9);
    EXPECT_EQ(SelectiveColorWidget::storedIndex(), 5);
    EXPECT_EQ(f.child<ColorSlider>("hueSlider")->value(), 0); // the new stack's default record
    const HueHandles expected = hueRangeAround(false, 5, 15, 15);
    EXPECT_EQ(f.child<FourHandleSlider>("fourHandleSlider")->featherStartHue(), expected.featherStart);
    EXPECT_FALSE(header->headerToggleButton()->isChecked());
    EXPECT_FALSE(header->enablerButton()->isVisibleTo(f.widget.get()));

    // A second reset releases the first one's stack only after handing over its own.
    f.submissions.clear();
    QTest::mouseClick(f.child<QPushButton>("resetParamsButton"), Qt::LeftButton);
    ASSERT_EQ(f.submissions.size(), 8u);
    EXPECT_EQ(f.widget->currentParamStack(), f.submissions.back());
}

TEST(SelectiveColorWidget, StoredIndexPastTheRecordsIsHarmless)
{
    SelectiveColorFixture f{QStringLiteral("Solvane Manager")};
    QSettings().setValue("SelectiveColorIndex", 12);
    f.show(&f.stack);
    const VXLParams before = f.stack.blocks[0];
    QTest::mouseClick(f.child<QPushButton>("resetParamsButton"), Qt::LeftButton);
    // No button has index 12: the last button stays selected, nothing was written out of bounds.
    EXPECT_EQ(SelectiveColorWidget::storedIndex(), 7);
    EXPECT_EQ(0, std::memcmp(&before, &f.stack.blocks[0], sizeof(VXLParams)));
}

TEST(SelectiveColorWidget, WithoutAStackNothingIsWritten)
{
    SelectiveColorFixture f{QStringLiteral("Solvane Manager")};
    f.widget->setSubmitHandler({});
    QTest::mouseClick(f.button(1), Qt::LeftButton);
    auto* saturation = f.child<ColorSlider>("saturationSlider");
    saturation->QSlider::setValue(30);
    EXPECT_EQ(f.widget->currentParamStack(), nullptr);
    EXPECT_EQ(SelectiveColorWidget::storedIndex(), 1);
}

} // namespace
