#include "editing/widgets/slider_wrapper.h"

#include <QFocusEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>

#include <cmath>

SliderWrapper::SliderWrapper(QWidget* parent) : QSlider(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    // Expanding along the slider, Minimum across it. Like QSlider's own default the policy is not
    // marked as set by the owner, so that setOrientation turns it with the slider: a slider built
    // in code and then made horizontal stretches instead of keeping a vertical slider's width.
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    if (orientation() == Qt::Vertical)
        policy.transpose();
    setSizePolicy(policy);
    setAttribute(Qt::WA_WState_OwnSizePolicy, false);
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

int SliderWrapper::valueAtPosition(const QPointF& position) const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const bool horizontal = orientation() == Qt::Horizontal;
    const int handleLength = horizontal ? handle.width() : handle.height();
    const int first = horizontal ? groove.x() : groove.y();
    const int last = (horizontal ? groove.right() : groove.bottom()) - handleLength + 1;
    // The handle's centre goes under the pointer, the mapping QSlider itself uses for a drag.
    const double pointer = horizontal ? position.x() : position.y();
    const int offset = int(std::lround(pointer - handleLength / 2.0)) - first;
    return QStyle::sliderValueFromPosition(minimum(), maximum(), offset, last - first, option.upsideDown);
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
    pressPosition = event->localPos();
    pressedWhileDisabled = false;
    jumpTo(valueAtPosition(pressPosition));
    // The handle is under the pointer now: the base press starts a drag of it and changes nothing.
    QSlider::mousePressEvent(event);
}

void SliderWrapper::mouseDoubleClickEvent(QMouseEvent*)
{
    if (defaultValue.isValid() && defaultValue.toInt() != value())
        jumpTo(defaultValue.toInt());
    emit sliderDoubleClicked();
}

void SliderWrapper::wheelEvent(QWheelEvent* event)
{
    QSlider::wheelEvent(event);
    // After the wheel's value change: a listener told that sliding stopped reads the new value.
    emit slidingStopped();
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
                pressPosition = static_cast<QMouseEvent*>(event)->localPos();
            }
            moving = false;
            break;
        case QEvent::EnabledChange:
            if (isEnabled() && pressedWhileDisabled) {
                pressedWhileDisabled = false;
                jumpTo(valueAtPosition(pressPosition));
            }
            break;
        case QEvent::MouseButtonRelease:
            if (moving) {
                moving = false;
                emit slidingStopped();
            }
            break;
        default:
            break;
        }
    }
    return false;
}
