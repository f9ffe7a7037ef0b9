// The modal dialog in which the user picks one hue (0..359 degrees) for a hue button of the
// selective-colour editor: a hue gradient slider and a degree spin box kept in step, OK and Cancel.
// Its style sheet comes from the style bundle (manager/resources), which the host registers;
// without it the dialog shows unstyled.
#pragma once

#include <QDialog>

namespace Ui {
class HueDialog;
}

class HueDialog : public QDialog {
    Q_OBJECT

public:
    explicit HueDialog(int initialHue, QWidget* parent = nullptr);
    ~HueDialog() override;

    // The chosen hue, 0..359 (the slider's end, 360, reads as 0). Meaningful after acceptance.
    int selectedHue() const;

    // The style-sheet resource of the running identity (the photo editor has its own).
    static QString styleSheetResource();

protected:
    void changeEvent(QEvent* event) override;

private:
    // Widens the degree spin box to its widest text, "360°", in the current font and style.
    void fitSpinBoxToItsText();

    Ui::HueDialog* ui; // owned; deleted with the dialog
};
