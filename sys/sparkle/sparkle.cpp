// The update-check component: process-wide state, the update thread's worker, the feed format
// and the C interface. See sparkle.h.

#include "sys/sparkle/sparkle.h"

#include "sys/sparkle/sparkle_p.h"
#include "sys/sparkle/updatedialog.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QXmlStreamReader>

#include <atomic>

Q_LOGGING_CATEGORY(sparkleLog, "sparkle")

namespace {

const int kAutomaticIntervalMs = 24 * 60 * 60 * 1000;
const int kTransferTimeoutMs = 30000;
const qint64 kMaxAppcastBytes = 1024 * 1024;
const char kTooLargeProperty[] = "appcastTooLarge";

// Everything the component keeps. The feed address, the last result and the count are shared
// with the update thread under the mutex; the callbacks and the generation are atomics; the
// thread, the worker and the dialog are touched on the GUI thread only.
struct Component {
    QMutex mutex;
    QString appcastUrl;
    sparkle::CheckResult last;
    int finishedChecks = 0;
    bool automatic = false;

    std::atomic<win_sparkle_did_find_update_callback_t> foundCallback{nullptr};
    std::atomic<win_sparkle_update_cancelled_callback_t> cancelledCallback{nullptr};
    // Grows with every init and cleanup; a dialog request of an earlier generation is dropped.
    std::atomic<int> generation{0};

    QThread* thread = nullptr;
    UpdateWorker* worker = nullptr;
    QPointer<UpdateDialog> dialog;
};

Component& component() {
    static Component instance;
    return instance;
}

QSslConfiguration sslConfiguration() {
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    const QString extra = qEnvironmentVariable("SOLVANE_UPDATE_CA_FILE");
    if (!extra.isEmpty())
        configuration.setCaCertificates(configuration.caCertificates() + QSslCertificate::fromPath(extra));
    return configuration;
}

sparkle::CheckResult failure(const QString& error) {
    sparkle::CheckResult result;
    result.status = sparkle::CheckResult::Failed;
    result.error = error;
    return result;
}

// GUI thread: the dialog, made on first use. Declining an update reaches the worker, which
// calls the cancelled callback on the update thread.
UpdateDialog* dialog() {
    Component& c = component();
    if (!c.dialog) {
        c.dialog = new UpdateDialog;
        c.dialog->setAttribute(Qt::WA_DeleteOnClose, false);
        QObject::connect(c.dialog.data(), &UpdateDialog::updateDeclined, [] {
            if (component().worker)
                QMetaObject::invokeMethod(component().worker, "userDeclined", Qt::QueuedConnection);
        });
    }
    return c.dialog;
}

bool hasWidgets() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

}  // namespace

// --- Update thread ---------------------------------------------------------------------------

void UpdateWorker::check(bool withUi) {
    QString address;
    {
        QMutexLocker lock(&component().mutex);
        address = component().appcastUrl;
    }
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) {
        report(failure(QStringLiteral("No valid appcast address is set (\"%1\").").arg(address)), withUi);
        return;
    }
    if (!network_)
        network_ = new QNetworkAccessManager(this);
    QNetworkRequest request(url);
    request.setTransferTimeout(kTransferTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setSslConfiguration(sslConfiguration());
    QNetworkReply* reply = network_->get(request);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received > kMaxAppcastBytes || total > kMaxAppcastBytes) {
            reply->setProperty(kTooLargeProperty, true);
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, withUi] { onReplyFinished(reply, withUi); });
}

void UpdateWorker::onReplyFinished(QNetworkReply* reply, bool withUi) {
    reply->deleteLater();
    if (!network_)
        return;  // shutting down
    const QString address = reply->url().toString();
    sparkle::CheckResult result;
    if (reply->property(kTooLargeProperty).toBool()) {
        result = failure(QStringLiteral("The appcast at %1 is larger than %2 bytes.").arg(address).arg(kMaxAppcastBytes));
    } else if (reply->error() != QNetworkReply::NoError) {
        result = failure(QStringLiteral("Can't read the appcast at %1: %2").arg(address, reply->errorString()));
    } else {
        result = sparkle::evaluateAppcast(reply->readAll(), QCoreApplication::applicationVersion());
        if (result.status == sparkle::CheckResult::Failed)
            result.error = QStringLiteral("The appcast at %1 can't be used: %2").arg(address, result.error);
    }
    report(result, withUi);
}

void UpdateWorker::report(const sparkle::CheckResult& result, bool withUi) {
    if (result.status == sparkle::CheckResult::UpdateFound) {
        qCInfo(sparkleLog) << "update found:" << result.version;
        if (auto callback = component().foundCallback.load())
            callback();
    } else if (result.status == sparkle::CheckResult::Failed) {
        qCWarning(sparkleLog).noquote() << result.error;
    }
    if (withUi || result.status == sparkle::CheckResult::UpdateFound) {
        const int generation = generation_;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [generation, result] {
                if (generation != component().generation.load() || !hasWidgets())
                    return;
                dialog()->showResult(result);
            },
            Qt::QueuedConnection);
    }
    // Counted last, so that whoever waits on the count finds the dialog request queued.
    QMutexLocker lock(&component().mutex);
    component().last = result;
    ++component().finishedChecks;
}

void UpdateWorker::setAutomatic(bool on) {
    if (!on) {
        if (automaticTimer_)
            automaticTimer_->stop();
        return;
    }
    if (!automaticTimer_) {
        automaticTimer_ = new QTimer(this);
        automaticTimer_->setInterval(kAutomaticIntervalMs);
        connect(automaticTimer_, &QTimer::timeout, this, [this] { check(false); });
    }
    if (!automaticTimer_->isActive()) {
        automaticTimer_->start();
        check(false);
    }
}

void UpdateWorker::userDeclined() {
    qCInfo(sparkleLog) << "update declined";
    if (auto callback = component().cancelledCallback.load())
        callback();
}

void UpdateWorker::shutdown() {
    delete automaticTimer_;
    automaticTimer_ = nullptr;
    QNetworkAccessManager* network = network_;
    network_ = nullptr;  // replies aborted from here on report nothing
    delete network;
}

// --- Feed format -----------------------------------------------------------------------------

namespace sparkle {

int compareVersions(const QString& left, const QString& right, bool* ok) {
    const auto fields = [](const QString& text, bool* valid) {
        QList<uint> numbers;
        const QStringList parts = text.trimmed().split(QLatin1Char('.'));
        *valid = !parts.isEmpty() && parts.size() <= 4;
        for (const QString& part : parts) {
            bool digits = !part.isEmpty();
            for (const QChar ch : part)
                digits = digits && ch >= QLatin1Char('0') && ch <= QLatin1Char('9');
            bool converted = false;
            const uint value = part.toUInt(&converted, 10);
            *valid = *valid && digits && converted;
            numbers.append(value);
        }
        while (numbers.size() < 4)
            numbers.append(0);
        return numbers;
    };
    bool leftValid = false;
    bool rightValid = false;
    const QList<uint> a = fields(left, &leftValid);
    const QList<uint> b = fields(right, &rightValid);
    if (ok)
        *ok = leftValid && rightValid;
    if (!leftValid || !rightValid)
        return 0;
    for (int i = 0; i < 4; ++i) {
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

CheckResult evaluateAppcast(const QByteArray& document, const QString& currentVersion) {
    if (document.trimmed().isEmpty())
        return failure(QStringLiteral("the document is empty"));
    QXmlStreamReader xml(document);
    if (!xml.readNextStartElement()) {
        if (xml.hasError())
            return failure(QStringLiteral("not well-formed XML: %1 (line %2, column %3)")
                               .arg(xml.errorString())
                               .arg(xml.lineNumber())
                               .arg(xml.columnNumber()));
        return failure(QStringLiteral("the document has no element"));
    }
    if (xml.name() != QLatin1String("rss"))
        return failure(QStringLiteral("the root element is <%1>, not <rss>").arg(xml.name().toString()));

    bool hasChannel = false;
    QString itemError;
    CheckResult newest;
    int items = 0;
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("channel")) {
            xml.skipCurrentElement();
            continue;
        }
        hasChannel = true;
        while (xml.readNextStartElement()) {
            if (xml.name() != QLatin1String("item")) {
                xml.skipCurrentElement();
                continue;
            }
            ++items;
            const qint64 line = xml.lineNumber();
            CheckResult item;
            while (xml.readNextStartElement()) {
                const QStringRef name = xml.name();
                if (name == QLatin1String("version"))
                    item.version = xml.readElementText().trimmed();
                else if (name == QLatin1String("title"))
                    item.title = xml.readElementText().trimmed();
                else if (name == QLatin1String("link"))
                    item.link = xml.readElementText().trimmed();
                else if (name == QLatin1String("description"))
                    item.description = xml.readElementText().trimmed();
                else
                    xml.skipCurrentElement();
            }
            bool valid = false;
            compareVersions(item.version, item.version, &valid);
            if (!valid) {
                if (itemError.isEmpty())
                    itemError = QStringLiteral("item %1 (line %2) has no valid <version> (\"%3\")")
                                    .arg(items)
                                    .arg(line)
                                    .arg(item.version);
                continue;
            }
            if (newest.version.isEmpty() || compareVersions(item.version, newest.version) > 0)
                newest = item;
        }
    }
    if (xml.hasError())
        return failure(QStringLiteral("not well-formed XML: %1 (line %2, column %3)")
                           .arg(xml.errorString())
                           .arg(xml.lineNumber())
                           .arg(xml.columnNumber()));
    if (!hasChannel)
        return failure(QStringLiteral("<rss> has no <channel>"));
    if (!itemError.isEmpty())
        return failure(itemError);

    bool comparable = false;
    const int order = newest.version.isEmpty() ? 0 : compareVersions(newest.version, currentVersion, &comparable);
    if (!newest.version.isEmpty() && !comparable)
        return failure(QStringLiteral("the running version \"%1\" can't be compared").arg(currentVersion));
    newest.status = order > 0 ? CheckResult::UpdateFound : CheckResult::UpToDate;
    return newest;
}

CheckResult lastCheckResult() {
    QMutexLocker lock(&component().mutex);
    return component().last;
}

int finishedCheckCount() {
    QMutexLocker lock(&component().mutex);
    return component().finishedChecks;
}

}  // namespace sparkle

// --- C interface (GUI thread) ------------------------------------------------------------------

extern "C" {

void win_sparkle_set_appcast_url(const char* url) {
    QMutexLocker lock(&component().mutex);
    component().appcastUrl = url ? QString::fromUtf8(url) : QString();
}

void win_sparkle_init() {
    Component& c = component();
    if (c.thread || !QCoreApplication::instance())
        return;
    const int generation = ++c.generation;
    c.thread = new QThread;
    c.thread->setObjectName(QStringLiteral("update thread"));
    c.worker = new UpdateWorker(generation);
    c.worker->moveToThread(c.thread);
    c.thread->start();
    bool automatic = false;
    {
        QMutexLocker lock(&c.mutex);
        automatic = c.automatic;
    }
    if (automatic)
        QMetaObject::invokeMethod(c.worker, "setAutomatic", Qt::QueuedConnection, Q_ARG(bool, true));
}

void win_sparkle_set_did_find_update_callback(win_sparkle_did_find_update_callback_t callback) {
    component().foundCallback.store(callback);
}

void win_sparkle_set_update_cancelled_callback(win_sparkle_update_cancelled_callback_t callback) {
    component().cancelledCallback.store(callback);
}

void win_sparkle_set_automatic_check_for_updates(int state) {
    Component& c = component();
    {
        QMutexLocker lock(&c.mutex);
        c.automatic = state != 0;
    }
    if (c.worker)
        QMetaObject::invokeMethod(c.worker, "setAutomatic", Qt::QueuedConnection, Q_ARG(bool, state != 0));
}

void win_sparkle_check_update_with_ui() {
    Component& c = component();
    if (!c.worker)
        return;
    if (hasWidgets())
        dialog()->showChecking();
    QMetaObject::invokeMethod(c.worker, "check", Qt::QueuedConnection, Q_ARG(bool, true));
}

void win_sparkle_cleanup() {
    Component& c = component();
    if (!c.thread)
        return;
    ++c.generation;
    QMetaObject::invokeMethod(c.worker, "shutdown", Qt::BlockingQueuedConnection);
    c.thread->quit();
    c.thread->wait();
    delete c.worker;
    delete c.thread;
    c.worker = nullptr;
    c.thread = nullptr;
    delete c.dialog.data();
}

}  // extern "C"
