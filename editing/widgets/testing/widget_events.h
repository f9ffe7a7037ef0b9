// Test helpers: the signals and slots a class declares itself, and mouse moves with the left button held. QTest's own mouseMove moves the cursor only,
// which an offscreen platform never turns into a move event, so drags are sent directly.
#pragma once

#include <QApplication>
#include <QMetaMethod>
#include <QStringList>
#include <QMouseEvent>
#include <QWidget>

inline void dragTo(QWidget* widget, const QPoint& position)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(position), QPointF(widget->mapToGlobal(position)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

// Signatures of the methods the class itself declares, in meta-object order.
inline QStringList ownMethods(const QMetaObject& meta)
{
    QStringList methods;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        methods << QString::fromLatin1(meta.method(i).methodSignature());
    return methods;
}
