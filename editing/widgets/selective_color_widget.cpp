#include "editing/widgets/selective_color_widget.h"

#include "editing/model/hue_tables.h"
#include "editing/model/qvxl_params.h"
#include "editing/widgets/hue_dialog.h"
#include "manager/app/environment.h"
#include "ui_selective_color_widget.h"

#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>

namespace {

constexpr int kTurn = 360;
constexpr int kHueButtonSize = 40;

const char kNotSelectedStyle[] =
    "background-color: hsl(%1, 255, 128); margin: 7px; border-radius: 3px; border: 3px solid #252730; ";
const char kSelectedStyle[] =
    "background-color: hsl(%1, 255, 128); margin: 7px; border-radius: 3px; border: 3px solid #C6C6C7; ";
const char kSelectedAfterDialogStyle[] =
    "background-color: hsl(%1, 255, 128); margin: 7px; border-radius: 3px; border: 3px solid #C6C6C7";

int buttonIndex(const QObject* button)
{
    return button->property("index").toInt();
}

QColor fullColourOfHue(int hue)
{
    return QColor::fromHsl(hue, 255, 128);
}

// The slider + spin box pairs that show one value are kept in step without echoes.
template <typename Slider>
void keepInStep(Slider* slider, SpinBoxWrapper* spinBox)
{
    QObject::connect(slider, &SliderWrapper::valueChanged, spinBox, &SpinBoxWrapper::setValue);
    QObject::connect(spinBox, &SpinBoxWrapper::valueChanged, slider, &SliderWrapper::setValue);
}

void releaseStack(QVXLParams* stack)
{
    if (!stack)
        return;
    stack->releaseArrays();
    delete stack;
}

} // namespace

HueRangeShape hueRangeOfRecord(int featherStart, int rangeStart, int rangeEnd, int featherEnd)
{
    const auto fromStart = [featherStart](int hue) { return (hue - featherStart + kTurn) % kTurn; };
    const int b = fromStart(rangeStart);
    const int c = fromStart(rangeEnd);
    const int d = fromStart(featherEnd);
    if (!(1 <= b && b < c && c < d))
        return {false, 0, 0};
    return {true, c - b, (d + b - c) / 2};
}

SelectiveColorWidget::SelectiveColorWidget(QWidget* parent)
    : GenericToolWidget(parent),
      ui(new Ui::SelectiveColorWidget),
      photoIdentity(AppEnvironment::isPhotoIdentity()),
      resetStack(nullptr, releaseStack)
{
    ui->setupUi(this);
    attachHeader(ui->header);
    ui->header->setTitle(tr("Selective Color"));
    // The photo editor edits the range on the four handles only.
    ui->rangeControls->setVisible(!photoIdentity);
    ui->rangeLabel->setVisible(!photoIdentity);
    createHueButtons();
    connectControls();
    currentColor = fullColourOfHue(hueTable(photoIdentity)[0]);
}

SelectiveColorWidget::~SelectiveColorWidget()
{
    delete ui;
}

void SelectiveColorWidget::createHueButtons()
{
    const int* table = hueTable(photoIdentity);
    for (int i = 0; i < hueTableSize(photoIdentity); ++i) {
        auto* button = new QPushButton(ui->colorButtons);
        button->setProperty("index", i);
        button->setFixedSize(kHueButtonSize, kHueButtonSize);
        button->setCursor(Qt::PointingHandCursor);
        button->setToolTip(tr("Click to edit this colour range, double-click to choose its hue"));
        button->setStyleSheet(QString::fromLatin1(kNotSelectedStyle).arg(table[i]));
        button->installEventFilter(this);
        connect(button, &QPushButton::clicked, this, &SelectiveColorWidget::color_button_clicked);
        ui->colorButtonsLayout->addWidget(button);
    }
    ui->colorButtonsLayout->addStretch(1);
}

void SelectiveColorWidget::connectControls()
{
    keepInStep(ui->hueSlider, ui->hueSpinBox);
    keepInStep(ui->saturationSlider, ui->saturationSpinBox);
    keepInStep(ui->lightnessSlider, ui->lightnessSpinBox);
    keepInStep(ui->rangeWidthSlider, ui->rangeWidthSpinBox);
    keepInStep(ui->featherSlider, ui->featherSpinBox);

    for (SliderWrapper* slider : {ui->hueSlider, ui->saturationSlider, ui->lightnessSlider})
        connect(slider, &SliderWrapper::valueChanged, this, &SelectiveColorWidget::storeAdjustmentsToRecord);
    for (SpinBoxWrapper* spinBox : {ui->hueSpinBox, ui->saturationSpinBox, ui->lightnessSpinBox})
        connect(spinBox, &SpinBoxWrapper::valueChanged, this, &SelectiveColorWidget::storeAdjustmentsToRecord);
    for (SliderWrapper* slider : {ui->rangeWidthSlider, ui->featherSlider})
        connect(slider, &SliderWrapper::valueChanged, this, &SelectiveColorWidget::applyRangeShape);
    for (SpinBoxWrapper* spinBox : {ui->rangeWidthSpinBox, ui->featherSpinBox})
        connect(spinBox, &SpinBoxWrapper::valueChanged, this, &SelectiveColorWidget::applyRangeShape);

    // Handles dragged by the user go into the record; the slider's own operations do not.
    connect(ui->fourHandleSlider, QOverload<bool>::of(&FourHandleSlider::changed), this, [this](bool byMouseEvent) {
        if (!byMouseEvent)
            return;
        storeHandlesToRecord();
        if (const SelectiveColorRecord* record = recordAt(shownIndex); record && !photoIdentity)
            showRangeLabel(*record);
        announceChange();
    });
}

void SelectiveColorWidget::setParamStack(QVXLParams* stack)
{
    paramStack = stack;
    if (shownIndex < 0) {
        clickStoredButton();
        return;
    }
    for (QPushButton* button : hueButtons()) {
        if (buttonIndex(button) == shownIndex)
            emit button->clicked(true);
    }
}

void SelectiveColorWidget::submitParams(QVXLParams* params)
{
    if (submitHandler)
        submitHandler(params);
}

QList<QPushButton*> SelectiveColorWidget::hueButtons() const
{
    return ui->colorButtons->findChildren<QPushButton*>();
}

int SelectiveColorWidget::storedIndex()
{
    return QSettings().value(QLatin1String(kIndexSetting), 0).toInt();
}

SelectiveColorRecord* SelectiveColorWidget::recordAt(int index) const
{
    if (!paramStack || !paramStack->blocks || paramStack->count < 1 || index < 0 || index >= kSelectiveColorRecords)
        return nullptr;
    return &paramStack->blocks[0].selectiveColor[index];
}

void SelectiveColorWidget::announceChange()
{
    emit changed(false);
    emit deactivateCurrentPreset();
}

void SelectiveColorWidget::updateHueGradient(int index)
{
    if (index < 0 || index >= hueTableSize(photoIdentity))
        return;
    const int hue = hueTable(photoIdentity)[index];
    const int low = hue - 60 < 0 ? hue + 300 : hue - 60;
    const int high = hue + 60 >= kTurn ? hue - 300 : hue + 60;
    ui->hueSlider->setGradientSpec(QColor::Hsl);
    ui->hueSlider->setGradientColors(fullColourOfHue(low), fullColourOfHue(high));
    ui->hueSlider->setGradientComponent(ColorSlider::Hue);
}

void SelectiveColorWidget::updateSaturationGradient()
{
    const int hue = currentColor.hslHue();
    ui->saturationSlider->setGradientSpec(QColor::Hsl);
    ui->saturationSlider->setGradientColors(QColor::fromHsl(hue, 0, 128), QColor::fromHsl(hue, 255, 128));
    ui->saturationSlider->setGradientComponent(ColorSlider::Saturation);
}

void SelectiveColorWidget::updateLightnessGradient()
{
    const int hue = currentColor.hslHue();
    ui->lightnessSlider->setGradientSpec(QColor::Hsl);
    ui->lightnessSlider->setGradientColors(QColor::fromHsl(hue, 255, 0), QColor::fromHsl(hue, 255, 255));
    ui->lightnessSlider->setGradientComponent(ColorSlider::ValueOrLightness);
}

void SelectiveColorWidget::showRangeLabel(const SelectiveColorRecord& record)
{
    const HueRangeShape shape =
        hueRangeOfRecord(record.featherStart, record.rangeStart, record.rangeEnd, record.featherEnd);
    ui->rangeWidthSpinBox->setValue(shape.width);
    ui->rangeWidthSlider->setValue(shape.width);
    ui->featherSpinBox->setValue(shape.feather);
    ui->featherSlider->setValue(shape.feather);
    ui->rangeLabel->setText(QStringLiteral("%1°/%2° -- %3°\\%4°")
                                .arg(record.featherStart)
                                .arg(record.rangeStart)
                                .arg(record.rangeEnd)
                                .arg(record.featherEnd));
}

void SelectiveColorWidget::loadSelectiveRecord(int index)
{
    const SelectiveColorRecord* record = recordAt(index);
    if (!record)
        return;
    ui->hueSlider->setValue(record->hue);
    ui->hueSpinBox->setValue(record->hue);
    ui->saturationSlider->setValue(record->saturation);
    ui->saturationSpinBox->setValue(record->saturation);
    ui->lightnessSlider->setValue(record->lightness);
    ui->lightnessSpinBox->setValue(record->lightness);
    // The handles always take the record's own hues: centring the previous record's handles on
    // this record's range would write the previous shape into this record on the next store.
    ui->fourHandleSlider->setHandleHues(record->featherStart, record->rangeStart, record->rangeEnd,
                                        record->featherEnd);
    if (photoIdentity)
        return;
    showRangeLabel(*record);
    ui->fourHandleSlider->moveCentreTo(FourHandleSlider::midHue(record->rangeStart, record->rangeEnd));
}

void SelectiveColorWidget::storeHandlesToRecord()
{
    SelectiveColorRecord* record = recordAt(shownIndex);
    if (!record)
        return;
    record->featherStart = ui->fourHandleSlider->featherStartHue();
    record->rangeStart = ui->fourHandleSlider->rangeStartHue();
    record->rangeEnd = ui->fourHandleSlider->rangeEndHue();
    record->featherEnd = ui->fourHandleSlider->featherEndHue();
    submitParams(paramStack);
}

void SelectiveColorWidget::storeAdjustmentsToRecord()
{
    SelectiveColorRecord* record = recordAt(shownIndex);
    if (!record)
        return;
    record->hue = ui->hueSlider->value();
    record->saturation = ui->saturationSlider->value();
    record->lightness = ui->lightnessSlider->value();
    submitParams(paramStack);
    announceChange();
}

void SelectiveColorWidget::applyRangeShape()
{
    const SelectiveColorRecord* record = recordAt(shownIndex);
    if (!record || photoIdentity)
        return;
    // The centre the record's range was built around (the inverse of hueRangeAround), so that
    // changing the width or feather keeps the range where it is.
    const HueRangeShape old = hueRangeOfRecord(record->featherStart, record->rangeStart, record->rangeEnd,
                                               record->featherEnd);
    const int centre = record->rangeStart + (old.width + 1) / 2;
    const HueHandles handles =
        hueRangeAroundHue(centre, ui->rangeWidthSlider->value(), ui->featherSlider->value());
    ui->fourHandleSlider->setHandleHues(handles.featherStart, handles.rangeStart, handles.rangeEnd,
                                        handles.featherEnd);
    storeHandlesToRecord();
    showRangeLabel(*record);
    announceChange();
}

void SelectiveColorWidget::color_button_clicked()
{
    const QObject* clicked = sender();
    if (!clicked)
        return;
    const int selected = buttonIndex(clicked);
    const int* table = hueTable(photoIdentity);
    for (QPushButton* button : hueButtons()) {
        const int index = buttonIndex(button);
        const char* style = index == selected ? kSelectedStyle : kNotSelectedStyle;
        button->setStyleSheet(QString::fromLatin1(style).arg(table[index]));
    }
    currentColor = fullColourOfHue(table[selected]);
    shownIndex = selected;
    QSettings().setValue(QLatin1String(kIndexSetting), selected);
    updateHueGradient(selected);
    updateSaturationGradient();
    updateLightnessGradient();
    loadSelectiveRecord(selected);
}

void SelectiveColorWidget::colorButtonDoubleClicked(QPushButton* colorButton)
{
    if (!colorButton)
        return;
    const int index = buttonIndex(colorButton);
    int* table = hueTable(photoIdentity);
    HueDialog dialog(table[index], nullptr);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const int hue = dialog.selectedHue();
    ui->fourHandleSlider->moveCentreTo(hue);
    storeHandlesToRecord();
    table[index] = hue;
    currentColor = fullColourOfHue(hue);
    restyleSelectedButton(hue);
    if (const SelectiveColorRecord* record = recordAt(shownIndex); record && !photoIdentity)
        showRangeLabel(*record);
    announceChange();
}

void SelectiveColorWidget::restyleSelectedButton(int hue)
{
    const int selected = shownIndex;
    for (QPushButton* button : hueButtons()) {
        if (buttonIndex(button) == selected)
            button->setStyleSheet(QString::fromLatin1(kSelectedAfterDialogStyle).arg(hue));
    }
    updateHueGradient(selected);
    updateSaturationGradient();
    updateLightnessGradient();
}

bool SelectiveColorWidget::clickStoredButton()
{
    const int selected = storedIndex();
    for (QPushButton* button : hueButtons()) {
        if (buttonIndex(button) == selected) {
            emit button->clicked(true);
            return true;
        }
    }
    return false;
}

void SelectiveColorWidget::on_selectivColorCheckbox_clicked(bool checked)
{
    if (!checked)
        return;
    bool anyUnderMouse = false;
    for (QPushButton* button : hueButtons()) {
        if (button->underMouse()) {
            emit button->clicked(true);
            anyUnderMouse = true;
        }
    }
    if (!anyUnderMouse)
        clickStoredButton();
}

void SelectiveColorWidget::on_resetParamsButton_clicked()
{
    restoreHueTable(photoIdentity);
    QPushButton* toggle = ui->header->headerToggleButton();
    const bool toggleChecked = toggle->isChecked();
    std::unique_ptr<QVXLParams, void (*)(QVXLParams*)> fresh(new QVXLParams(4), releaseStack);
    const int selected = storedIndex();
    QPushButton* selectedButton = nullptr;
    for (QPushButton* button : hueButtons()) {
        emit button->clicked(true);
        submitParams(fresh.get());
        announceChange();
        if (buttonIndex(button) == selected)
            selectedButton = button;
    }
    if (selectedButton)
        emit selectedButton->clicked(true);
    // The previous reset's stack is released only now, after the owner has had the new one.
    resetStack = std::move(fresh);
    toggle->setChecked(toggleChecked);
    announceChange();
    ui->header->restoreHeaderVisibility();
}

bool SelectiveColorWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (auto* button = qobject_cast<QPushButton*>(watched); button && button->parent() == ui->colorButtons) {
            // Opened once the double click's own press and release are through.
            QMetaObject::invokeMethod(
                this, [this, button] { colorButtonDoubleClicked(button); }, Qt::QueuedConnection);
        }
    }
    return GenericToolWidget::eventFilter(watched, event);
}
