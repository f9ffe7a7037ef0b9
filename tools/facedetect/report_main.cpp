// facereport: the engine's detection on the annotated photos of the face sources, with its
// figures: recall of faces at least --min-width pixels wide in the 320-pixel copy, false
// detections per photo, and eye-centre error over the inter-ocular distance, both of the eyes the
// detector reports and of the eyes the engine's fit places after it (as facedetect --landmarks
// reports them; the platform's face pass always fits after detecting).
//
//   facereport [--data DIR] [--split testing|training|made] [--count N] [--min-width PIXELS] [--draw DIR]
//
// --split made: N (default 200) 320 x 240 scenes of the face maker (seeded, never the test
// split's faces): three in four show one made face at one of the engine's rolls, the others a
// negative photograph alone. A validation set for choosing the detector's thresholds.
#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/engine/engine.h"
#include "tools/facedetect/face_report.h"

#include "tools/facedata/face_maker.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

/* The made scenes, written as PNG files into `folder`, with their faces as annotated faces. */
bool makeScenes(const facedata::FaceSources &sources, int count, const QString &folder, std::vector<facedata::Photo> *photos,
                std::string *error)
{
    facedata::FaceBank bank;
    if (!facedata::loadFaceBank(sources, &bank, error))
        return false;
    const facedata::FaceMaker maker(&bank, 424242);
    static const float kRolls[] = {0, 0, 0, 0, 0, 0, 30, -30, 45, -45, 90, -90};
    for (int i = 0; i < count; ++i) {
        facedata::Random rng(0x5eed0000ull + uint64_t(i));
        facedata::Photo photo;
        facedata::RgbImage image;
        if (rng.chance(0.75)) {
            facedata::FaceRequest request;
            request.width = 320;
            request.height = 240;
            request.boxSide = float(rng.uniform(28, 120));
            request.centreX = float(rng.uniform(request.boxSide * 0.6, 320 - request.boxSide * 0.6));
            request.centreY = float(rng.uniform(request.boxSide * 0.6, 240 - request.boxSide * 0.6));
            request.roll = kRolls[rng.below(int(sizeof kRolls / sizeof kRolls[0]))] + float(rng.uniform(-8, 8));
            request.yaw = float(rng.uniform(-25, 25));
            const facedata::MadeFace made = maker.make(uint64_t(i), request);
            image = made.image;
            photo.faces.push_back(facedata::Face{made.box, made.points});
        } else {
            image = maker.background(uint64_t(i), 320, 240);
        }
        photo.path = QDir(folder).filePath(QString("made-%1.png").arg(i, 4, 10, QChar('0'))).toStdString();
        if (!facedata::saveImage(image, photo.path, error))
            return false;
        photos->push_back(std::move(photo));
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString data = QString::fromStdString(facedata::defaultDataRoot()), split = "testing", drawDir;
    double minimumWidth = 30;
    int count = 200;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const bool more = i + 1 < args.size();
        if (args[i] == "--data" && more)
            data = args[++i];
        else if (args[i] == "--split" && more &&
                 (args[i + 1] == "testing" || args[i + 1] == "training" || args[i + 1] == "made"))
            split = args[++i];
        else if (args[i] == "--count" && more)
            count = std::max(1, args[++i].toInt());
        else if (args[i] == "--min-width" && more)
            minimumWidth = args[++i].toDouble();
        else if (args[i] == "--draw" && more)
            drawDir = args[++i];
        else {
            std::fprintf(stderr, "usage: facereport [--data DIR] [--split testing|training|made] [--count N] [--min-width PIXELS] "
                                 "[--draw DIR]\n");
            return 2;
        }
    }
    facedata::FaceSources sources;
    std::string error;
    if (!facedata::loadFaceSources(data.toStdString(), &sources, &error)) {
        std::fprintf(stderr, "facereport: %s\n", error.c_str());
        return 1;
    }
    if (!drawDir.isEmpty())
        QDir().mkpath(drawDir);
    BeautyEngine *engine = nullptr;
    if (engineCreate(&engine) != 0) {
        std::fprintf(stderr, "facereport: cannot create the engine\n");
        return 1;
    }
    const double eyeBound = 0.08;
    ReportFigures figures;
    double ms = 0;
    std::vector<facedata::Photo> made;
    QTemporaryDir folder;
    if (split == "made" && (!folder.isValid() || !makeScenes(sources, count, folder.path(), &made, &error))) {
        std::fprintf(stderr, "facereport: %s\n", error.empty() ? "cannot make a temporary folder" : error.c_str());
        engineDestroy(engine);
        return 1;
    }
    const std::vector<facedata::Photo> &photos = split == "testing" ? sources.testing : split == "made" ? made : sources.training;
    for (const facedata::Photo &photo : photos) {
        QImage picture;
        const ImageResult r = detectFile(engine, QString::fromStdString(photo.path), &picture, true);
        if (!r.error.isEmpty()) {
            std::fprintf(stderr, "facereport: %s\n", qPrintable(r.error));
            engineDestroy(engine);
            return 1;
        }
        const double copyScale = std::min(1.0, 320.0 / std::max(picture.width(), picture.height()));
        ReportFigures one;
        addPhotoFigures(photo.faces, r.faces, copyScale, minimumWidth, eyeBound, &one);
        std::printf("%-22s faces %2d found %2d  false %d  %6.1f ms\n", qPrintable(QFileInfo(r.file).fileName()),
                    one.allFaces, one.allFound, one.falseDetections, r.ms);
        figures += one;
        ms += r.ms;
        if (!drawDir.isEmpty())
            drawFaces(picture, r.faces).save(QDir(drawDir).filePath(QFileInfo(r.file).completeBaseName() + ".png"));
    }
    engineDestroy(engine);
    auto share = [](int a, int b) { return b ? 100.0 * a / b : 0.0; };
    std::printf("\n%s split: %d photos at the engine's 320-pixel copy\n", qPrintable(split), figures.photos);
    std::printf("recall, faces at least %.0f px wide: %d of %d (%.1f %%)\n", minimumWidth, figures.found, figures.faces,
                share(figures.found, figures.faces));
    std::printf("recall, every face: %d of %d (%.1f %%)\n", figures.allFound, figures.allFaces,
                share(figures.allFound, figures.allFaces));
    std::printf("false detections per photo: %.2f (%d)\n", figures.photos ? double(figures.falseDetections) / figures.photos : 0.0,
                figures.falseDetections);
    auto printEyes = [&](const char *what, const EyeFigures &eyes) {
        std::printf("%s: %d faces with both eyes, mean error %.3f of the inter-ocular distance, %d within %.0f %% (%.1f %%)\n",
                    what, eyes.measured, eyes.measured ? eyes.errorSum / eyes.measured : 0.0, eyes.within, eyeBound * 100,
                    share(eyes.within, eyes.measured));
    };
    printEyes("eye centres", figures.detectorEyes);
    printEyes("fitted eye centres", figures.fittedEyes);
    std::printf("detection time: %.1f ms per photo\n", figures.photos ? ms / figures.photos : 0.0);
    return 0;
}
