// detectdebug <image> [output folder]: writes the face detector's working image, skin map and
// integral image of one picture as PNG files next to it (or into the folder).
#include "tools/detectdebug/detect_debug.h"

#include <QFileInfo>
#include <QCoreApplication>
#include <QImage>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout), err(stderr);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.size() > 3) {
        err << "usage: detectdebug <image> [output folder]\n";
        return 2;
    }
    const QFileInfo input(args.at(1));
    QImage frame(input.filePath());
    if (frame.isNull()) {
        err << "cannot read " << input.filePath() << "\n";
        return 1;
    }
    const QString outputDir = args.size() == 3 ? args.at(2) : input.absolutePath();
    DetectDebugResult result;
    QString error;
    const int rc = writeDetectDebugImages(frame, outputDir, input.completeBaseName(), &result, &error);
    if (rc != 0) {
        err << "detectdebug failed (" << rc << ")" << (error.isEmpty() ? QString() : ": " + error) << "\n";
        return 1;
    }
    out << result.workingPath << "\n" << result.skinPath << "\n" << result.integralPath << "\n";
    return 0;
}
