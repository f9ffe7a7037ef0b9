// catalogserver: serves the demo catalog site (or any folder) on loopback for the manager.
//   catalogserver [--root DIR] [--port N] [--url-file FILE] [--tls CERT KEY]
//                 [--status PATH=CODE]... [--cut PATH]... [--delay PATH=MS]...
//                 [--stall PATH]... [--stall-body PATH]...
// Prints the base URL once it listens, writes it to --url-file too, and runs until killed.

#include "tools/catalogserver/catalogserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

namespace {

bool splitAssignment(const QString &text, QString *path, int *value)
{
    const int at = text.lastIndexOf(QLatin1Char('='));
    bool ok = false;
    if (at > 0) {
        *path = text.left(at);
        *value = text.mid(at + 1).toInt(&ok);
    }
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Loopback catalog server for tests and the demo."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("root"), QStringLiteral("Folder to serve (default: the built demo site)."), QStringLiteral("dir")},
        {QStringLiteral("port"), QStringLiteral("Port on 127.0.0.1 (default: any free one)."), QStringLiteral("n"), QStringLiteral("0")},
        {QStringLiteral("url-file"), QStringLiteral("Write the base URL to this file once listening."), QStringLiteral("file")},
        {QStringLiteral("tls-cert"), QStringLiteral("Speak HTTPS with this PEM certificate."), QStringLiteral("file")},
        {QStringLiteral("tls-key"), QStringLiteral("PEM key of --tls-cert."), QStringLiteral("file")},
        {QStringLiteral("status"), QStringLiteral("Answer PATH with status CODE."), QStringLiteral("path=code")},
        {QStringLiteral("cut"), QStringLiteral("Cut the body of PATH in the middle."), QStringLiteral("path")},
        {QStringLiteral("delay"), QStringLiteral("Answer PATH after MS milliseconds."), QStringLiteral("path=ms")},
        {QStringLiteral("stall"), QStringLiteral("Read requests for PATH and never answer."), QStringLiteral("path")},
        {QStringLiteral("stall-body"), QStringLiteral("Send half the answer for PATH, then nothing."), QStringLiteral("path")},
    });
    parser.process(app);

    QTextStream err(stderr);
    CatalogServer server(parser.isSet(QStringLiteral("root")) ? parser.value(QStringLiteral("root"))
                                                              : CatalogFixtures::demoSiteFolder());
    if (parser.isSet(QStringLiteral("tls-cert"))
        && !server.useTls(parser.value(QStringLiteral("tls-cert")), parser.value(QStringLiteral("tls-key")))) {
        err << "catalogserver: can't load the certificate or key\n";
        return 2;
    }
    // --status and --delay take PATH=NUMBER.
    const auto applyRules = [&](const QString &option, void (CatalogServer::*apply)(const QString &, int)) {
        for (const QString &rule : parser.values(option)) {
            QString path;
            int number = 0;
            if (!splitAssignment(rule, &path, &number)) {
                err << "catalogserver: bad --" << option << ' ' << rule << '\n';
                return false;
            }
            (server.*apply)(path, number);
        }
        return true;
    };
    if (!applyRules(QStringLiteral("status"), &CatalogServer::answerStatus)
        || !applyRules(QStringLiteral("delay"), &CatalogServer::delayAnswer))
        return 2;
    for (const QString &path : parser.values(QStringLiteral("cut")))
        server.cutBody(path);
    for (const QString &path : parser.values(QStringLiteral("stall")))
        server.stallAnswer(path);
    for (const QString &path : parser.values(QStringLiteral("stall-body")))
        server.stallBody(path);

    if (!server.start(quint16(parser.value(QStringLiteral("port")).toUInt()))) {
        err << "catalogserver: can't listen: " << server.errorString() << '\n';
        return 1;
    }
    const QByteArray base = server.baseUrl().toString().toUtf8();
    if (parser.isSet(QStringLiteral("url-file"))) {
        QFile file(parser.value(QStringLiteral("url-file")));
        if (!file.open(QIODevice::WriteOnly) || file.write(base + '\n') != base.size() + 1) {
            err << "catalogserver: can't write " << file.fileName() << '\n';
            return 1;
        }
    }
    QTextStream(stdout) << "catalogserver: serving " << server.root() << " at " << base << Qt::endl;
    QObject::connect(&server, &CatalogServer::requestReceived, [&err](const QString &target) {
        err << "catalogserver: GET " << target << Qt::endl;
    });
    return app.exec();
}
