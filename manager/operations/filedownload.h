// Downloads into a file without ever leaving a partial or unwanted file behind: the body goes
// into a temporary file next to the target, which replaces the target only when the transfer
// succeeded and the caller accepted what arrived. Runs an HttpGetOperation with exec(), so it
// waits in a nested event loop on the calling thread.
#pragma once

#include <QString>
#include <QUrl>

#include <functional>

struct FileDownload {
    QUrl url;
    QString target;                             // replaced on success only
    int timeoutMs = 0;                          // the whole transfer; 0: no limit
    qint64 maximumSize = 0;                     // most bytes expected; 0: no bound
    std::function<void(float)> progress;        // fraction of the body received; may be empty
    std::function<bool(const QString &)> accept; // checks the downloaded file; may be empty
};

// True when the target now holds the downloaded body. The target's folder is created when missing.
bool downloadToFile(const FileDownload &download);
