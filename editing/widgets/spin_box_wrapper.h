// A QSpinBox that reports its changes as valueChanged(int, bool) and offers a silent setValue, the
// partner of SliderWrapper and ColorSlider in a slider + spin box pair.
//
// When an owner installs the spin box as an event filter on itself, a press selects the whole text
// and the mouse wheel no longer changes the value; without that the standard behaviour stays.
#pragma once

#include <QSpinBox>

class SpinBoxWrapper : public QSpinBox {
    Q_OBJECT

public:
    explicit SpinBoxWrapper(QWidget* parent = nullptr);
    ~SpinBoxWrapper() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

public slots:
    // Sets the value with this object's signals blocked: nothing is emitted.
    void setValue(int value);

signals:
    // Every change that is not silent; `moving` is always true.
    void valueChanged(int value, bool moving);
};
