#include "manager/ui/messageview.h"

#include "manager/app/environment.h"
#include "manager/resources/resources.h"
#include "manager/ui/messageviewpage.h"

MessageView::MessageView(QWidget *parent)
    : QWebEngineView(parent)
{
    setContextMenuPolicy(Qt::NoContextMenu);
    setPage(new MessageViewPage(this));
    setAttribute(Qt::WA_Hover);

    m_rotationTimer.setSingleShot(true);
    m_rotationTimer.setInterval(kRotationIntervalMs);
    connect(&m_rotationTimer, &QTimer::timeout, this, &MessageView::rotate);

    // The built-in pages must be there before the first one is shown; registering a bundle
    // again changes nothing.
    registerMessagePagesBundle();
    registerInstallPageBundle();

    setMessages({AppEnvironment::isManagerIdentity() ? QStringLiteral(":/solvane_message/")
                                                     : QStringLiteral(":/default_message/")});
}

void MessageView::setMessages(const QStringList &pages)
{
    m_pages = pages;
    if (!m_pages.isEmpty())
        setCurrentMessage(0);
    if (m_pages.size() > 1 && !m_rotationTimer.isActive())
        m_rotationTimer.start();
}

QStringList MessageView::messages() const
{
    return m_pages;
}

int MessageView::currentMessage() const
{
    return m_current;
}

bool MessageView::isRotationAllowed() const
{
    return m_rotationAllowed;
}

bool MessageView::isRotationPending() const
{
    return m_rotationTimer.isActive();
}

QUrl MessageView::pageUrl(const QString &root)
{
    return QUrl(QStringLiteral("qrc") + root + QStringLiteral("index.html"));
}

void MessageView::nextMessage()
{
    if (!m_pages.isEmpty())
        setCurrentMessage((m_current + 1) % m_pages.size());
}

void MessageView::previousMessage()
{
    if (m_pages.isEmpty())
        return;
    int index = m_current - 1;
    if (index < 0)
        index += m_pages.size();
    setCurrentMessage(index);
}

void MessageView::setCurrentMessage(int index)
{
    if (m_pages.isEmpty())
        return;
    m_current = qBound(0, index, m_pages.size() - 1);
    setUrl(pageUrl(m_pages.at(m_current)));
    emit currentMessageChanged(m_current);
}

void MessageView::rotate()
{
    if (m_rotationAllowed && !m_pages.isEmpty())
        setCurrentMessage((m_current + 1) % m_pages.size());
    // Restarting keeps a single tick pending also when rotate is called from outside the timer.
    m_rotationTimer.start();
}

void MessageView::enterEvent(QEvent *event)
{
    m_rotationAllowed = false;
    QWebEngineView::enterEvent(event);
}

void MessageView::leaveEvent(QEvent *event)
{
    m_rotationAllowed = true;
    QWebEngineView::leaveEvent(event);
}
