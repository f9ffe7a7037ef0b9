#include "manager/catalog/messagecatalog.h"

#include "manager/app/environment.h"
#include "manager/app/logging.h"
#include "manager/catalog/catalogfile.h"
#include "manager/catalog/safefilename.h"
#include "manager/operations/httpgetoperation.h"
#include "manager/operations/resourcebundle.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QResource>

namespace {

const QString kCatalogFileName = QStringLiteral("message_catalog.json");
const QString kRootKey = QStringLiteral("MessageCatalog");
const QString kArrayKey = QStringLiteral("Messages");
const QString kRootPrefix = QStringLiteral(":/message_catalog/");

// The most bytes a message bundle may have.
constexpr qint64 kMaxBundleBytes = 64 << 20;

constexpr int kOrdinaryPage = 1;
constexpr int kAlternativePage = 2;

} // namespace

Message::Message(const QString &id, const QString &url, int type)
    : url(url)
    , id(id)
    , type(type)
{
}

MessageCatalog::MessageCatalog(QObject *parent)
    : MessageCatalog(QUrl(), QString(), parent)
{
}

MessageCatalog::MessageCatalog(const QUrl &url, const QString &folder, QObject *parent)
    : QObject(parent)
    , m_url(url.isEmpty() ? AppEnvironment::messagesUrl() : url)
    , m_folder(folder.isEmpty() ? AppEnvironment::cachePath() : folder)
    , m_file(QDir(m_folder).absoluteFilePath(kCatalogFileName))
{
    m_pages = loadMessages(false);
}

MessageCatalog::~MessageCatalog()
{
    unloadMessages();
    for (const QString &path : m_registered.keys())
        unregisterBundle(path);
}

bool MessageCatalog::registerBundle(const QString &path, const QString &root)
{
    // Qt adds a registration on every call; a bundle registered again would stay mapped twice.
    if (m_registered.value(path) == root)
        return true;
    // Checked whole first: Qt trusts the offsets inside a bundle, and a page lookup in a damaged
    // one would read outside the file.
    QString why;
    if (!isWellFormedResourceBundleFile(path, &why)) {
        qCWarning(managerLogCategory) << "MSG bundle refused:" << path << why;
        return false;
    }
    if (!QResource::registerResource(path, root))
        return false;
    m_registered.insert(path, root);
    return true;
}

void MessageCatalog::unregisterBundle(const QString &path)
{
    const auto registered = m_registered.find(path);
    if (registered == m_registered.end())
        return;
    if (!QResource::unregisterResource(path, registered.value()))
        qCWarning(managerLogCategory) << "can't unload resource " << path;
    m_registered.erase(registered);
}

QString MessageCatalog::resourceRoot(const QString &id)
{
    return kRootPrefix + id + QLatin1Char('/');
}

QString MessageCatalog::bundlePath(const QString &id) const
{
    return QDir(m_folder).absoluteFilePath(id);
}

QList<Message> MessageCatalog::parseMessageCatalog(const QJsonDocument &document)
{
    QList<Message> messages;
    for (const QJsonValue &element : catalogEntries(document, kRootKey, kArrayKey, kFormatVersion)) {
        const QJsonObject entry = element.toObject();
        const QString id = entry.value(QStringLiteral("Id")).toString();
        QString why;
        if (!isSafeFileName(id, &why)) {
            // The Id becomes a file name in the cache folder.
            qCWarning(managerLogCategory) << "MSG skipping message" << id << "-" << why;
            continue;
        }
        bool ok = false;
        const int type = entry.value(QStringLiteral("Type")).toString().toInt(&ok, 10);
        messages.append(Message(id, entry.value(QStringLiteral("URL")).toString(), ok ? type : 0));
    }
    return messages;
}

QStringList MessageCatalog::loadMessages(bool type2)
{
    QStringList roots;
    for (const Message &message : parseMessageCatalog(readJsonFile(m_file.fileName()))) {
        const QString path = bundlePath(message.id);
        if (!QFileInfo::exists(path))
            continue;
        qCDebug(managerLogCategory) << "MSG loading: " << message.id << message.type << "from" << path;
        const QString root = resourceRoot(message.id);
        if (!registerBundle(path, root)) {
            qCWarning(managerLogCategory) << "can't load resource " << path;
            continue;
        }
        const int wanted = type2 ? kAlternativePage : kOrdinaryPage;
        if (message.type == wanted) {
            qCDebug(managerLogCategory) << (type2 ? "+++ADDING " : "++ADDING ") << message.id << message.type;
            roots.append(root);
        } else {
            qCDebug(managerLogCategory) << (type2 ? "---SKIPPING " : "--SKIPPING ") << message.id << message.type;
        }
    }
    return roots;
}

bool MessageCatalog::syncMessages(bool type2)
{
    const CatalogDownload download = downloadCatalogFile(m_url, m_file.fileName(), kRootKey, kArrayKey);
    if (download.result != 0) {
        emit syncError(download.errorText);
        return false;
    }

    bool opened = false;
    const QJsonDocument document = readJsonFile(m_file.fileName(), &opened);
    if (!opened)
        qCDebug(managerLogCategory) << "messages already open";
    QStringList wantedPaths;
    for (const Message &message : parseMessageCatalog(document)) {
        const QString path = bundlePath(message.id);
        wantedPaths.append(path);
        // A bundle never changes under its Id: one on disk is not fetched again.
        if (!QFileInfo::exists(path))
            downloadBundle(message);
    }
    removeStaleBundles(wantedPaths);

    m_pages = loadMessages(type2);
    qCDebug(managerLogCategory) << "MESSAGE COUNT " << m_pages.size();
    emit syncReady();
    return true;
}

void MessageCatalog::downloadBundle(const Message &message)
{
    const QUrl url(message.url, QUrl::TolerantMode);
    QFile bundle(bundlePath(message.id));
    // A failed transfer leaves no file: a bundle on disk is taken as complete.
    HttpGetOperation operation(url, &bundle, true);
    operation.setMaximumSize(kMaxBundleBytes);
    if (operation.exec() != 0) {
        qCWarning(managerLogCategory) << "MSG" << operation.errorText();
    } else {
        qCDebug(managerLogCategory) << "MSG" << "downloaded" << url.toString();
    }
}

void MessageCatalog::removeStaleBundles(const QStringList &wantedPaths)
{
    const QFileInfoList entries = QDir(m_folder).entryInfoList({QStringLiteral("*.rcc")}, QDir::Files);
    for (const QFileInfo &entry : entries) {
        if (wantedPaths.contains(entry.absoluteFilePath()))
            continue;
        const QString path = m_folder + QLatin1Char('/') + entry.fileName();
        unregisterBundle(entry.absoluteFilePath());
        const bool removed = QFile::remove(path);
        qCDebug(managerLogCategory) << "MSG removing" << path << (removed ? "worked" : "failed");
    }
}

QStringList MessageCatalog::pages() const
{
    return m_pages;
}

void MessageCatalog::unloadMessages()
{
    for (const QString &root : m_pages) {
        const QStringList parts = root.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        const QString path = bundlePath(parts.isEmpty() ? QString() : parts.last());
        if (QFileInfo::exists(path))
            unregisterBundle(path);
    }
}

QUrl MessageCatalog::url() const
{
    return m_url;
}

QString MessageCatalog::fileName() const
{
    return m_file.fileName();
}
