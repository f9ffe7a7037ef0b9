// A horizontal-first QSlider for the editing panels: a press jumps to the pressed position, a
// double click restores a default, and every change reports whether it came from dragging.
//
// valueChanged(int, bool) carries the `moving` flag: true while the user drags the handle, false
// for presses, wheel turns, keys and default restores. setValue(int) is silent, so two controls
// that show one value can be kept in step by connecting each one's valueChanged to the other's
// setValue without echoes.
#pragma once

#include <QSlider>
#include <QVariant>

class SliderWrapper : public QSlider {
    Q_OBJECT

public:
    explicit SliderWrapper(QWidget* parent = nullptr);
    ~SliderWrapper() override;

    // Restored by a double click when valid; invalid (no restore) until an owner sets one.
    void setDefaultValue(const QVariant& value) { defaultValue = value; }
    QVariant defaultValueSetting() const { return defaultValue; }

    bool isMoving() const { return moving; }

public slots:
    // Sets the value with this object's signals blocked: nothing is emitted.
    void setValue(int value);

signals:
    void valueChanged(int value, bool moving);
    void sliderDoubleClicked();
    void slidingStopped();
    void becameActive();
    void becameInactive();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // trunc(minimum + x / width * (maximum - minimum)) in single precision over the whole width.
    int valueAtX(float x) const;
    // Sets `value` silently, clears `moving` and announces the (range-limited) value as not moving.
    void jumpTo(int value);

    bool moving = false;               // the user drags the handle (SliderMove seen)
    bool pressedWhileDisabled = false; // a press arrived while disabled; applied on enabling
    float pressX = -1.0f;              // x of the last press, widget coordinates
    QVariant defaultValue;             // restored by a double click when valid
};
