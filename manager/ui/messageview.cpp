#include "manager/ui/messageview.h"

#include "manager/app/environment.h"
#include "manager/resources/resources.h"
#include "manager/ui/messageviewpage.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace {

// The web engine types the "qrc" pages through the system's MIME database, which Qt finds in the
// XDG data folders: a process whose XDG_DATA_DIRS leaves out the system's folders would get
// untyped, blank pages. The folders the XDG rules name by default are added behind the given
// ones, so that every folder of the environment keeps its place and meaning.
void reachSystemMimeDatabase()
{
    for (const QString &folder : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        if (QFileInfo::exists(folder + QStringLiteral("/mime/mime.cache")))
            return;
    }
    QByteArray folders = qgetenv("XDG_DATA_DIRS");
    for (const QByteArray &fallback : {QByteArrayLiteral("/usr/local/share"), QByteArrayLiteral("/usr/share")}) {
        if (!folders.split(':').contains(fallback))
            folders += (folders.isEmpty() ? QByteArray() : QByteArrayLiteral(":")) + fallback;
    }
    qputenv("XDG_DATA_DIRS", folders);
}

} // namespace

MessageView::MessageView(QWidget *parent)
    : QWebEngineView(parent)
{
    setContextMenuPolicy(Qt::NoContextMenu);
    setPage(new MessageViewPage(this));
    setAttribute(Qt::WA_Hover);

    m_rotationTimer.setSingleShot(true);
    m_rotationTimer.setInterval(kRotationIntervalMs);
    connect(&m_rotationTimer, &QTimer::timeout, this, &MessageView::rotate);

    reachSystemMimeDatabase();
    // The built-in pages must be there before the first one is shown; registering a bundle
    // again changes nothing.
    registerMessagePagesBundle();
    registerInstallPageBundle();

    setMessages({startPage()});
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

QString MessageView::startPage()
{
    return AppEnvironment::isManagerIdentity() ? QStringLiteral(":/solvane_message/") : QStringLiteral(":/default_message/");
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
