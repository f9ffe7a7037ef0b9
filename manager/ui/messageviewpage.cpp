#include "manager/ui/messageviewpage.h"

#include "manager/app/logging.h"

#include <QDesktopServices>

MessageViewPage::MessageViewPage(QObject *parent)
    : QWebEnginePage(parent)
{
}

bool MessageViewPage::opensInBrowser(const QUrl &url)
{
    const QString scheme = url.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("mailto");
}

bool MessageViewPage::acceptNavigationRequest(const QUrl &url, NavigationType, bool)
{
    if (url.scheme() == QLatin1String("qrc"))
        return true;
    if (opensInBrowser(url))
        QDesktopServices::openUrl(url);
    else
        qCWarning(managerLogCategory) << "message page: refused to open" << url.toString();
    return false;
}
