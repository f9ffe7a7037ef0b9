// The editor panel of the selective-colour correction.
//
// A row of hue buttons, one per entry of the identity's hue table (hue_tables.h), each standing for
// one SelectiveColorRecord of layer 0's selectiveColor array. Clicking a button selects that record
// and shows its hue, saturation and lightness adjustments and its hue range (four handles; outside
// the photo editor also as range width, feather and a text label). Double-clicking a button lets
// the user re-tune its hue in the hue dialog; the new hue is written into the hue table, which is
// shared by every panel of the application until the reset restores it.
//
// The selected button's index is also stored in the application's QSettings under
// "SelectiveColorIndex", so every panel and every later run starts from the last selection. The
// panel edits the record it shows, never the one the setting names: reading a preset rewrites the
// setting behind the panel's back.
//
// The owner gives the panel its parameter stack with setParamStack and receives every stack the
// panel changed or made through submitParams (setSubmitHandler). The reset makes a new stack of
// four default layers and submits it; the panel keeps that stack alive until its next reset or
// its own destruction, so an owner that wants to keep it longer copies it (QVXLParams::assignFrom).
#pragma once

#include "editing/widgets/generic_tool_widget.h"
#include "editing/widgets/params_submitter.h"

#include <QColor>
#include <QList>

#include <functional>
#include <memory>

class QPushButton;
struct QVXLParams;
struct SelectiveColorRecord;

namespace Ui {
class SelectiveColorWidget;
}

// Validity, range width and feather of the four hues of a selective-colour record.
struct HueRangeShape {
    bool valid;  // the hues run featherStart < rangeStart < rangeEnd < featherEnd round the circle
    int width;   // rangeEnd - rangeStart, degrees; 0 when not valid
    int feather; // mean of the two feather widths, degrees; 0 when not valid
};

// Measures the hues from featherStart: valid when 1 <= rangeStart' < rangeEnd' < featherEnd'.
HueRangeShape hueRangeOfRecord(int featherStart, int rangeStart, int rangeEnd, int featherEnd);

class SelectiveColorWidget : public GenericToolWidget, public ParamsSubmitter {
    Q_OBJECT

public:
    static constexpr const char* kIndexSetting = "SelectiveColorIndex";

    explicit SelectiveColorWidget(QWidget* parent = nullptr);
    ~SelectiveColorWidget() override;

    // The stack whose first block's records the panel shows and edits (not owned; may be null).
    // Shows the same record of the new stack, or the stored selection when nothing was shown yet.
    void setParamStack(QVXLParams* stack);
    QVXLParams* currentParamStack() const { return paramStack; }

    using SubmitHandler = std::function<void(QVXLParams*)>;
    void setSubmitHandler(SubmitHandler handler) { submitHandler = std::move(handler); }
    void submitParams(QVXLParams* params) override;

    // The hue buttons in the container's child order.
    QList<QPushButton*> hueButtons() const;
    QColor selectedColor() const { return currentColor; }
    // The stored "SelectiveColorIndex" (0 when absent).
    static int storedIndex();

signals:
    void changed(bool changed);
    void eyedropperclicked(bool checked, bool isSelective = true);
    void deactivateCurrentPreset();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void color_button_clicked();
    void colorButtonDoubleClicked(QPushButton* colorButton);
    void on_selectivColorCheckbox_clicked(bool checked);
    void on_resetParamsButton_clicked();

private:
    void createHueButtons();
    void connectControls();
    void updateHueGradient(int index);
    void updateSaturationGradient();
    void updateLightnessGradient();
    void restyleSelectedButton(int hue);
    void loadSelectiveRecord(int index);
    void storeHandlesToRecord();
    // Writes the hue, saturation and lightness controls into the selected record.
    void storeAdjustmentsToRecord();
    // Puts the handles round the current centre with the range-width and feather controls' values.
    void applyRangeShape();
    void showRangeLabel(const SelectiveColorRecord& record);
    // The record `index` of layer 0, or null without a stack or for an index past the records.
    SelectiveColorRecord* recordAt(int index) const;
    // Emits `clicked(true)` of the hue button with the stored index; false when there is none.
    bool clickStoredButton();
    void announceChange();

    Ui::SelectiveColorWidget* ui;             // owned; the panel's form
    QVXLParams* paramStack = nullptr;         // the owner's current stack (not owned)
    QColor currentColor;                      // HSL(table hue of the selected button, 255, 128)
    int shownIndex = -1;                      // the record shown and edited; -1 before the first
    bool photoIdentity;                       // the identity at construction: table and controls
    SubmitHandler submitHandler;              // the owner's receiver of submitted stacks
    std::unique_ptr<QVXLParams, void (*)(QVXLParams*)> resetStack; // the last stack the reset made
};
