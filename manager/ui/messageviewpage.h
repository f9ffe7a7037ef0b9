// MessageViewPage: the web page of the message view. Navigation stays inside the built-in
// resource scheme "qrc"; a link, script or redirect to a web or mail address is handed to the
// system's browser (QDesktopServices) and the view stays on its page. Any other scheme (file,
// data, javascript, custom handlers) is refused outright: the pages come from downloaded
// bundles, and handing such addresses to the desktop could open local files or programs.
#pragma once

#include <QWebEnginePage>

class MessageViewPage : public QWebEnginePage
{
    Q_OBJECT
public:
    explicit MessageViewPage(QObject *parent = nullptr);

    // The schemes that the system's browser is asked to open: "http", "https", "mailto".
    static bool opensInBrowser(const QUrl &url);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
};
