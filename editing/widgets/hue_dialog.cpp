#include "editing/widgets/hue_dialog.h"

#include "manager/app/environment.h"
#include "ui_hue_dialog.h"

#include <QEvent>

HueDialog::HueDialog(int initialHue, QWidget* parent) : QDialog(parent), ui(new Ui::HueDialog())
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    // readWholeFile answers an empty text for a missing resource: the dialog then has no style.
    setStyleSheet(AppEnvironment::readWholeFile(styleSheetResource()));
    fitSpinBoxToItsText();

    const QColor red = QColor::fromHsl(0, 255, 128);
    ui->hueSlider->setGradientSpec(QColor::Hsl);
    ui->hueSlider->setGradientColors(red, red);
    ui->hueSlider->setGradientComponent(ColorSlider::Hue);
    ui->hueSlider->setValue(initialHue);
    ui->hueSpinBox->setValue(initialHue);

    connect(ui->hueSlider, &SliderWrapper::valueChanged, ui->hueSpinBox, &SpinBoxWrapper::setValue);
    connect(ui->hueSpinBox, &SpinBoxWrapper::valueChanged, ui->hueSlider, &SliderWrapper::setValue);
    connect(ui->okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

HueDialog::~HueDialog()
{
    delete ui;
}

void HueDialog::fitSpinBoxToItsText()
{
    // The form's 36 pixels hold "360°" in small fonts only; in the application's font the degree
    // sign would be cut off. The box takes the width its widest text needs in the font and style
    // sheet it is shown with, and never less than the form's.
    SpinBoxWrapper* box = ui->hueSpinBox;
    if (!box)
        return; // a change event while the form is being built
    box->ensurePolished();
    const int fitting = box->sizeHint().width();
    if (fitting > box->minimumWidth())
        box->setFixedWidth(fitting);
}

void HueDialog::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        fitSpinBoxToItsText();
}

int HueDialog::selectedHue() const
{
    return ui->hueSlider->value() % 360;
}

QString HueDialog::styleSheetResource()
{
    return AppEnvironment::isPhotoIdentity() ? QStringLiteral(":/Style/solvane-dialog-styles.css")
                                             : QStringLiteral(":/Style/dialog-styles.css");
}
