// MessageView: the web view at the top of the main window that shows one message page at a time
// and moves on to the next every 10 seconds while the mouse is not over it.
//
// A page is named by its resource root (":/default_message/", ":/message_catalog/<Id>/"); the
// view loads the root's "index.html" from the "qrc" scheme. Links that leave that scheme go to
// the system's browser (MessageViewPage).
//
// How the main window drives it, together with a MessageViewPager under it:
//   connect(view, &MessageView::currentMessageChanged, pager, &MessageViewPager::setCurrentMessage);
//   connect(pager, &MessageViewPager::messageSelected, view, &MessageView::setCurrentMessage);
//   // for every new list: the pager's count first, then the view's list
//   pager->setMessageCount(pages.size());
//   pager->setCurrentMessage(0);
//   view->setMessages(pages);
// The view starts on the built-in page of the identity (":/solvane_message/" for the manager,
// ":/default_message/" otherwise); a designer form embeds it as a promoted QWebEngineView with
// the header "manager/ui/messageview.h".
#pragma once

#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QWebEngineView>

class MessageView : public QWebEngineView
{
    Q_OBJECT
public:
    // Time between two pages of a rotating list.
    static constexpr int kRotationIntervalMs = 10000;

    explicit MessageView(QWidget *parent = nullptr);

    // Replaces the page list and shows its first page; an empty list keeps the page shown.
    // The first list of more than one page starts the rotation, which then runs for the life
    // of the view (one tick every kRotationIntervalMs, however many lists follow).
    void setMessages(const QStringList &pages);

    QStringList messages() const;
    // Index of the page shown (0 before any page).
    int currentMessage() const;
    // False while the mouse is over the view: rotation ticks are skipped, not delayed.
    bool isRotationAllowed() const;
    bool isRotationPending() const;

    // "qrc" + root + "index.html".
    static QUrl pageUrl(const QString &root);
    // The built-in page the view starts on: ":/solvane_message/" for the manager identity,
    // ":/default_message/" otherwise.
    static QString startPage();

signals:
    void currentMessageChanged(int index);

public slots:
    void nextMessage();
    void previousMessage();
    // Shows the page at index, clamped to the list; does nothing on an empty list.
    void setCurrentMessage(int index);
    // One rotation tick: the next page unless the mouse is over the view; then the next tick.
    void rotate();

protected:
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    int m_current = 0;
    QStringList m_pages;
    bool m_rotationAllowed = true;
    QTimer m_rotationTimer; // single shot; at most one rotation is pending
};
