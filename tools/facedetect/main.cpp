// facedetect: runs the engine's detection path on image files and writes the faces as JSON;
// with --landmarks each face is also fitted by the engine's fitting path and carries its 62
// landmarks (and the eye centres of the fitted eyes).
//
//   facedetect [--json OUT] [--draw DIR] [--landmarks] IMAGE...
#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/engine/engine.h"
#include "tools/facedetect/face_run.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString jsonPath, drawDir;
    bool landmarks = false;
    QStringList files;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--json" && i + 1 < args.size())
            jsonPath = args[++i];
        else if (args[i] == "--draw" && i + 1 < args.size())
            drawDir = args[++i];
        else if (args[i] == "--landmarks")
            landmarks = true;
        else if (args[i].startsWith("--")) {
            std::fprintf(stderr, "usage: facedetect [--json OUT] [--draw DIR] [--landmarks] IMAGE...\n");
            return 2;
        } else
            files << args[i];
    }
    if (files.isEmpty()) {
        std::fprintf(stderr, "usage: facedetect [--json OUT] [--draw DIR] [--landmarks] IMAGE...\n");
        return 2;
    }
    if (!drawDir.isEmpty() && !QDir().mkpath(drawDir)) {
        std::fprintf(stderr, "facedetect: cannot make %s\n", qPrintable(drawDir));
        return 1;
    }
    BeautyEngine *engine = nullptr;
    if (engineCreate(&engine) != 0) {
        std::fprintf(stderr, "facedetect: cannot create the engine\n");
        return 1;
    }
    std::vector<ImageResult> results;
    int failures = 0;
    for (const QString &file : files) {
        QImage picture;
        ImageResult r = detectFile(engine, file, &picture, landmarks);
        if (!r.error.isEmpty()) {
            std::fprintf(stderr, "facedetect: %s\n", qPrintable(r.error));
            ++failures;
        } else if (!drawDir.isEmpty()) {
            const QString out = QDir(drawDir).filePath(QFileInfo(file).completeBaseName() + ".png");
            if (!drawFaces(picture, r.faces).save(out)) {
                std::fprintf(stderr, "facedetect: cannot write %s\n", qPrintable(out));
                ++failures;
            }
        }
        results.push_back(r);
    }
    engineDestroy(engine);
    const QByteArray json = resultsJson(results);
    if (jsonPath.isEmpty()) {
        std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
    } else {
        QFile out(jsonPath);
        if (!out.open(QIODevice::WriteOnly) || out.write(json) != json.size()) {
            std::fprintf(stderr, "facedetect: cannot write %s\n", qPrintable(jsonPath));
            return 1;
        }
    }
    return failures ? 1 : 0;
}
