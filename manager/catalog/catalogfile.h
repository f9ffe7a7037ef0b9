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

// The most bytes a catalog may have.
constexpr qint64 kMaxCatalogBytes = 8 << 20;

// Downloads url into a temporary file next to cacheFile; when the download succeeded and its
// body is a catalog (isCatalogDocument), atomically replaces cacheFile with it. A body that is
// not a catalog leaves cacheFile as it was and counts as a failure.
CatalogDownload downloadCatalogFile(const QUrl &url, const QString &cacheFile, const QString &rootKey,
                                    const QString &arrayKey);

// True for a document whose top level is an object holding the object rootKey, which holds the
// array arrayKey: the shape of both catalogs, whatever their entries say.
bool isCatalogDocument(const QJsonDocument &document, const QString &rootKey, const QString &arrayKey);

// The entries of a catalog: the array `arrayKey` of the object `rootKey` of the document.
// Empty when the object's "Version" is above maxVersion (logged: this manager is outdated).
QJsonArray catalogEntries(const QJsonDocument &document, const QString &rootKey, const QString &arrayKey,
                          int maxVersion);

// The whole file as a JSON document; an empty document when it is missing, does not parse or
// holds a key twice in one object (see sys/json/strict_json.h).
QJsonDocument readJsonFile(const QString &path, bool *opened = nullptr);
