// MessageViewPager: the thin strip under the message view with one dot per page. The current
// page's dot and the dot under the mouse are orange, the others grey (both drawn from the SVG
// images ":/Style/Images/dot-orange.svg" and ":/Style/Images/dot-grey.svg"); a click on a dot
// emits messageSelected with its index. A single page has no dot.
//
// See messageview.h for how the main window connects the two. A designer form embeds it as a
// promoted QWidget with the header "manager/ui/messagepager.h".
#pragma once

#include <QList>
#include <QRect>
#include <QWidget>

class MessageViewPager : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kDotSize = 10;    // pixels, square
    static constexpr int kDotSpacing = 20; // pixels from one dot's left edge to the next

    explicit MessageViewPager(QWidget *parent = nullptr);

    int messageCount() const;
    int currentMessage() const;  // -1 before the first setCurrentMessage
    int hoveredMessage() const;  // -1 when the mouse is over no dot
    QList<QRect> dots() const;   // in widget coordinates, one per page
    // Index of the first dot containing pos (edges included), -1 for none.
    int dotAt(const QPoint &pos) const;

signals:
    void messageSelected(int index);

public slots:
    // Number of pages; values below 1 give 0. Lays the dots out again; the current index stays.
    void setMessageCount(int count);
    // Marks the page at index, clamped to the dots (0 without pages).
    void setCurrentMessage(int index);

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void layoutDots();

    int m_count = 0;
    int m_current = -1;
    int m_hovered = -1;
    QList<QRect> m_dots;
};
