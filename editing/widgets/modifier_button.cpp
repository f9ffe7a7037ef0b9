#include "editing/widgets/modifier_button.h"

#include <QMouseEvent>

ModifierButton::ModifierButton(QWidget* parent) : QPushButton(parent) {}

ModifierButton::~ModifierButton() = default;

void ModifierButton::mousePressEvent(QMouseEvent* event)
{
    if (event && isEnabled())
        emit clicked(event->button(), event->modifiers());
    if (event)
        QPushButton::mousePressEvent(event);
}
