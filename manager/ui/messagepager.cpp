#include "manager/ui/messagepager.h"

#include "manager/resources/resources.h"

#include <QMouseEvent>
#include <QPainter>
#include <QSvgRenderer>

MessageViewPager::MessageViewPager(QWidget *parent)
    : QWidget(parent)
{
    setMinimumHeight(14);
    setMinimumWidth(100);
    setAttribute(Qt::WA_MouseTracking);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    // The dot images live in the style bundle; registering it again changes nothing.
    registerStyleBundle();
}

int MessageViewPager::messageCount() const
{
    return m_count;
}

int MessageViewPager::currentMessage() const
{
    return m_current;
}

int MessageViewPager::hoveredMessage() const
{
    return m_hovered;
}

QList<QRect> MessageViewPager::dots() const
{
    return m_dots;
}

int MessageViewPager::dotAt(const QPoint &pos) const
{
    for (int i = 0; i < m_dots.size(); ++i) {
        if (m_dots.at(i).contains(pos))
            return i;
    }
    return -1;
}

void MessageViewPager::setMessageCount(int count)
{
    m_count = count < 1 ? 0 : count;
    layoutDots();
}

void MessageViewPager::setCurrentMessage(int index)
{
    m_current = m_count == 0 ? 0 : qBound(0, index, m_count - 1);
    update();
}

// The row of dots starts half its nominal length left of the middle; an odd count moves it a
// further half dot to the left.
void MessageViewPager::layoutDots()
{
    m_dots.clear();
    if (m_count == 1)
        return;
    double x = width() * 0.5 - m_count * kDotSpacing * 0.5;
    if (m_count % 2 == 1)
        x -= kDotSize * 0.5;
    const QRect first(static_cast<int>(x), 0, kDotSize, kDotSize);
    for (int i = 0; i < m_count; ++i)
        m_dots.append(first.translated(kDotSpacing * i, 0));
}

void MessageViewPager::mouseReleaseEvent(QMouseEvent *event)
{
    m_hovered = -1;
    const int index = dotAt(event->pos());
    if (index >= 0)
        emit messageSelected(index);
    update();
}

void MessageViewPager::mouseMoveEvent(QMouseEvent *event)
{
    m_hovered = dotAt(event->pos());
    update();
}

void MessageViewPager::leaveEvent(QEvent *event)
{
    m_hovered = -1;
    update();
    QWidget::leaveEvent(event);
}

void MessageViewPager::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QSvgRenderer orange(QStringLiteral(":/Style/Images/dot-orange.svg"));
    QSvgRenderer grey(QStringLiteral(":/Style/Images/dot-grey.svg"));
    for (int i = 0; i < m_dots.size(); ++i) {
        QSvgRenderer &image = (i == m_hovered || i == m_current) ? orange : grey;
        image.render(&painter, m_dots.at(i));
    }
}

void MessageViewPager::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutDots();
}
