#include "editing/widgets/slider_wrapper.h"

#include <QFocusEvent>
#include <QMouseEvent>

#include <cmath>

SliderWrapper::SliderWrapper(QWidget* parent) : QSlider(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy(sizePolicy().horizontalPolicy(), QSizePolicy::Minimum));
    connect(this, &QAbstractSlider::actionTriggered, this, [this](int action) {
        // The wheel triggers SliderMove as well; only a drag of the pressed handle counts.
        if (action == QAbstractSlider::SliderMove && isSliderDown())
            moving = true;
    });
    connect(this, &QAbstractSlider::valueChanged, this, [this](int value) { emit valueChanged(value, moving); });
    installEventFilter(this);
}

SliderWrapper::~SliderWrapper() = default;

void SliderWrapper::setValue(int value)
{
    const bool wasBlocked = blockSignals(true);
    QSlider::setValue(value);
    blockSignals(wasBlocked);
}

int SliderWrapper::valueAtX(float x) const
{
    if (width() <= 0)
        return minimum();
    const float span = float(maximum() - minimum());
    return int(std::trunc(float(minimum()) + x / float(width()) * span));
}

void SliderWrapper::jumpTo(int value)
{
    setValue(value);
    moving = false;
    // The slider limits the value to its range; listeners hear the value it really took.
    emit QAbstractSlider::valueChanged(this->value());
}

void SliderWrapper::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::OtherFocusReason);
    pressX = float(event->localPos().x());
    pressedWhileDisabled = false;
    jumpTo(valueAtX(pressX));
    QSlider::mousePressEvent(event);
}

void SliderWrapper::mouseDoubleClickEvent(QMouseEvent*)
{
    if (defaultValue.isValid() && defaultValue.toInt() != value())
        jumpTo(defaultValue.toInt());
    emit sliderDoubleClicked();
}

void SliderWrapper::focusInEvent(QFocusEvent* event)
{
    QSlider::focusInEvent(event);
    emit becameActive();
}

void SliderWrapper::focusOutEvent(QFocusEvent* event)
{
    QSlider::focusOutEvent(event);
    emit becameInactive();
}

bool SliderWrapper::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == this) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
            if (!isEnabled()) {
                pressedWhileDisabled = true;
                pressX = float(static_cast<QMouseEvent*>(event)->localPos().x());
            }
            moving = false;
            break;
        case QEvent::EnabledChange:
            if (isEnabled() && pressedWhileDisabled) {
                pressedWhileDisabled = false;
                jumpTo(valueAtX(pressX));
            }
            break;
        case QEvent::MouseButtonRelease:
            if (moving) {
                moving = false;
                emit slidingStopped();
            }
            break;
        case QEvent::Wheel:
            emit slidingStopped();
            break;
        default:
            break;
        }
    }
    return false;
}
