#include "manager/operations/filedownload.h"

#include "manager/operations/httpgetoperation.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

bool downloadToFile(const FileDownload &download)
{
    QDir().mkpath(QFileInfo(download.target).absolutePath());
    QTemporaryFile file(download.target + QStringLiteral(".XXXXXX"));
    if (!file.open())
        return false;
    file.close();
    {
        HttpGetOperation get(download.url, &file, true);
        get.setMaximumSize(download.maximumSize);
        if (download.progress)
            QObject::connect(&get, &Operation::progress, download.progress);
        if (get.exec(download.timeoutMs) != Operation::Success)
            return false;
    }
    if (download.accept && !download.accept(file.fileName()))
        return false;
    file.setAutoRemove(false);
    QFile::remove(download.target);
    if (!file.rename(download.target)) {
        QFile::remove(file.fileName());
        return false;
    }
    return true;
}
