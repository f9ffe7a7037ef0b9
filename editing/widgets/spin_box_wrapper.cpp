#include "editing/widgets/spin_box_wrapper.h"

#include <QEvent>
#include <QTimer>

SpinBoxWrapper::SpinBoxWrapper(QWidget* parent) : QSpinBox(parent)
{
    connect(this, QOverload<int>::of(&QSpinBox::valueChanged), this, [this](int value) { emit valueChanged(value, true); });
}

SpinBoxWrapper::~SpinBoxWrapper() = default;

void SpinBoxWrapper::setValue(int value)
{
    const bool wasBlocked = blockSignals(true);
    QSpinBox::setValue(value);
    blockSignals(wasBlocked);
}

bool SpinBoxWrapper::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        // Select after the press has placed the cursor, or the press would undo the selection.
        if (isEnabled())
            QTimer::singleShot(0, this, &QAbstractSpinBox::selectAll);
        break;
    case QEvent::Wheel:
        event->ignore();
        return true;
    default:
        break;
    }
    return QSpinBox::eventFilter(watched, event);
}
