#include "manager/catalog/catalogfile.h"

#include "manager/app/logging.h"
#include "manager/operations/httpgetoperation.h"
#include "sys/json/strict_json.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QSaveFile>
#include <QTemporaryFile>

bool isCatalogDocument(const QJsonDocument &document, const QString &rootKey, const QString &arrayKey)
{
    const QJsonValue catalog = document.object().value(rootKey);
    return catalog.isObject() && catalog.toObject().value(arrayKey).isArray();
}

CatalogDownload downloadCatalogFile(const QUrl &url, const QString &cacheFile, const QString &rootKey,
                                    const QString &arrayKey)
{
    CatalogDownload download;
    QTemporaryFile part(cacheFile + QStringLiteral(".XXXXXX.part"));
    if (!part.open()) {
        download.errorText = QStringLiteral("Can't create %1: %2").arg(part.fileTemplate(), part.errorString());
        qCWarning(managerLogCategory) << download.errorText;
        return download;
    }
    part.close();

    HttpGetOperation operation(url, &part, true);
    operation.setMaximumSize(kMaxCatalogBytes);
    download.result = operation.exec();
    download.networkError = operation.networkError();
    download.errorText = operation.errorText();
    if (download.result != 0)
        return download;

    const QJsonDocument document = readJsonFile(part.fileName());
    if (!isCatalogDocument(document, rootKey, arrayKey)) {
        download.result = 1;
        download.errorText = QStringLiteral("The answer from %1 is not a catalog").arg(url.toString());
        qCWarning(managerLogCategory) << download.errorText << "- keeping the cached" << cacheFile;
        return download;
    }

    QFile body(part.fileName());
    QSaveFile target(cacheFile);
    if (!body.open(QIODevice::ReadOnly) || !target.open(QIODevice::WriteOnly)
        || target.write(body.readAll()) != body.size() || !target.commit()) {
        download.result = 1;
        download.errorText = QStringLiteral("Can't replace %1: %2").arg(cacheFile, target.errorString());
        qCWarning(managerLogCategory) << download.errorText;
        return download;
    }
    download.replaced = true;
    return download;
}

QJsonArray catalogEntries(const QJsonDocument &document, const QString &rootKey, const QString &arrayKey,
                          int maxVersion)
{
    const QJsonObject catalog = document.object().value(rootKey).toObject();
    if (catalog.value(QStringLiteral("Version")).toInt(0) > maxVersion) {
        qCWarning(managerLogCategory) << "KivoManager supposed to be up to date";
        return {};
    }
    return catalog.value(arrayKey).toArray();
}

QJsonDocument readJsonFile(const QString &path, bool *opened)
{
    QFile file(path);
    const bool ok = file.open(QIODevice::ReadOnly | QIODevice::Text);
    if (opened)
        *opened = ok;
    QString error;
    // No more than one byte past the bound, enough for the parser to refuse a longer file; no
    // buffer of the bound's size for a file that is smaller.
    const qint64 bound = (file.isSequential() ? kMaxCatalogBytes : qMin(file.size(), kMaxCatalogBytes)) + 1;
    const QJsonDocument document = strictjson::parse(ok ? file.read(bound) : QByteArray(), &error);
    if (ok && document.isNull())
        qCWarning(managerLogCategory) << "can't read" << path << "-" << error;
    return document;
}
