// A QSlider for the editing panels: a press puts the handle under the pointer (and starts dragging
// it), a double click restores a default, and every change reports whether it came from dragging.
// slidingStopped follows the release of a drag and every wheel turn, after its value change.
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
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // The value that puts the handle's centre under a point of the widget, as the style lays out
    // groove and handle (clamped to the range at the groove's ends).
    int valueAtPosition(const QPointF& position) const;
    // Sets `value` silently, clears `moving` and announces the (range-limited) value as not moving.
    void jumpTo(int value);

    bool moving = false;               // the user drags the handle (SliderMove seen)
    bool pressedWhileDisabled = false; // a press arrived while disabled; applied on enabling
    QPointF pressPosition{-1, -1};     // the last press, widget coordinates
    QVariant defaultValue;             // restored by a double click when valid
};
