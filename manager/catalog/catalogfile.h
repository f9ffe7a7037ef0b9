// Replacing a cached catalog file with a fresh download, only when the download holds a
// catalog: a broken answer must not destroy the copy that serves when offline.
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QString>
#include <QUrl>

struct CatalogDownload {
    int result = 1;           // the download's result code (0 success)
    int networkError = 0;     // QNetworkReply::NetworkError of a failed reply
    QString errorText;
    bool replaced = false;    // the cached file now holds the new catalog
};

// Downloads url into a temporary file next to cacheFile; when the download succeeded and its
// body is a JSON object whose member rootKey is an object, atomically replaces cacheFile with
// it. A body that is not a catalog leaves cacheFile as it was and counts as a failure.
CatalogDownload downloadCatalogFile(const QUrl &url, const QString &cacheFile, const QString &rootKey);

// The entries of a catalog: the array `arrayKey` of the object `rootKey` of the document.
// Empty when the object's "Version" is above maxVersion (logged: this manager is outdated).
QJsonArray catalogEntries(const QJsonDocument &document, const QString &rootKey, const QString &arrayKey,
                          int maxVersion);

// The whole file as a JSON document; an empty document when it is missing or does not parse.
QJsonDocument readJsonFile(const QString &path, bool *opened = nullptr);
