// A push button that tells which mouse button pressed it and which modifier keys were held.
#pragma once

#include <QPushButton>

class ModifierButton : public QPushButton {
    Q_OBJECT

public:
    explicit ModifierButton(QWidget* parent = nullptr);
    ~ModifierButton() override;

signals:
    // Emitted on every press of an enabled button, before the standard press handling.
    void clicked(Qt::MouseButton buttonClicked, Qt::KeyboardModifiers modifiersHeld);

private slots:
    // A slot as well, so that the press can be delivered through the meta-object system.
    void mousePressEvent(QMouseEvent* event) override;
};
