// MessageCatalog: the message pages the main window rotates. The server's catalog names one
// bundle per message, a binary Qt resource file holding the page's "index.html". Bundles are
// downloaded once into the cache folder, registered under ":/message_catalog/<Id>/", and
// deleted when the catalog no longer names them.
#pragma once

#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

struct Message {
    QString url;  // where the bundle is downloaded from
    QString id;   // bundle file name in the cache folder and name of its resource root
    int type = 0; // 1 ordinary page, 2 alternative page; others are never shown

    Message() = default;
    Message(const QString &id, const QString &url, int type);
};

class MessageCatalog : public QObject
{
    Q_OBJECT
public:
    // The format version this manager reads; newer catalogs yield no messages.
    static constexpr int kFormatVersion = 1;

    explicit MessageCatalog(QObject *parent = nullptr);
    // An empty url stands for AppEnvironment::messagesUrl(), an empty folder for the cache
    // folder. The pages of the cached catalog (type 1) are available at once.
    MessageCatalog(const QUrl &url, const QString &folder, QObject *parent = nullptr);
    // Unregisters every bundle it registered.
    ~MessageCatalog() override;

    // Registers every bundle on disk that the cached catalog names (each once for the life of
    // this catalog) and returns the roots of the wanted type (2 when type2, else 1), in catalog
    // order. Does not change pages().
    QStringList loadMessages(bool type2);
    // Downloads the catalog and the bundles not yet on disk, deletes ".rcc" files the catalog
    // no longer names, and sets pages() to loadMessages(type2). False, changing nothing, when
    // the catalog download fails or its answer is not a message catalog.
    bool syncMessages(bool type2);
    // The resource roots to show, ":/message_catalog/<Id>/".
    QStringList pages() const;
    // Unregisters the bundles of the current pages.
    void unloadMessages();

    QUrl url() const;
    QString fileName() const;

    // The catalog's messages in order; entries whose Id could not be a file name (empty, path
    // separators, "..") are skipped.
    static QList<Message> parseMessageCatalog(const QJsonDocument &document);
    // ":/message_catalog/" + id + "/".
    static QString resourceRoot(const QString &id);

signals:
    void syncReady();
    void syncError(const QString &text);

private:
    QString bundlePath(const QString &id) const;
    void downloadBundle(const Message &message);
    void removeStaleBundles(const QStringList &wantedPaths);
    bool registerBundle(const QString &path, const QString &root);
    void unregisterBundle(const QString &path);

    QUrl m_url;
    QString m_folder;    // catalog file and bundles
    QFile m_file;        // the catalog file, absolute
    QStringList m_pages; // resource roots to show, in catalog order
    QHash<QString, QString> m_registered; // bundle path -> the resource root it is registered under
};
