// landmarkreport: the landmark fitter's point error on the annotated test photos, through the
// beautification engine's fitting path.
//
//   landmarkreport [--data DIR] [--iod N] [--split testing|training|made] [--faces N] [--draw DIR]
//                  [--records]
//
// Each annotated face is cut from its photo and scaled to an inter-ocular distance of N pixels
// (default 100; 0 keeps the photo's scale), then fitted twice: given the annotated eye centres,
// and given the face the engine's detection finds. --split made takes instead --faces (default
// 200) faces the face maker makes from the training faces, as the trainer makes its validation
// faces but from a seed of their own (7), at their own sizes: a check apart from the photos. Prints the mean error over the inter-ocular
// distance of all 62 points, of the eye centres and of each point group. --draw writes each face
// with its annotated points (green) and the points fitted given the annotated eyes (red), and
// where the detection's face was fitted, faceN-detected.png with the points fitted from it.
// --records prints, for each face, the record each mode hands to the fitter, measured against
// the annotated points.
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/engine/engine.h"
#include "tools/landmarktrain/landmark_report.h"
#include "tools/landmarktrain/training_set.h"

namespace {

int usage()
{
    std::fprintf(stderr, "usage: landmarkreport [--data DIR] [--iod N] [--split testing|training|made] [--faces N] [--draw DIR]\n"
                         "                      [--records]\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    std::string data = facedata::defaultDataRoot(), split = "testing", drawDir;
    double iod = 100;
    int madeFaces = 200;
    bool records = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--records") {
            records = true;
            continue;
        }
        if (i + 1 >= argc)
            return usage();
        if (arg == "--data")
            data = argv[++i];
        else if (arg == "--iod")
            iod = std::atof(argv[++i]);
        else if (arg == "--split")
            split = argv[++i];
        else if (arg == "--faces")
            madeFaces = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--draw")
            drawDir = argv[++i];
        else
            return usage();
    }
    facedata::FaceSources sources;
    std::string error;
    if (!facedata::loadFaceSources(data, &sources, &error)) {
        std::fprintf(stderr, "landmarkreport: %s\n", error.c_str());
        return 1;
    }
    if (split != "testing" && split != "training" && split != "made")
        return usage();
    BeautyEngine *engine = nullptr;
    if (engineCreate(&engine) != 0) {
        std::fprintf(stderr, "landmarkreport: cannot create the engine\n");
        return 1;
    }
    landmarktrain::ReportTotals annotated, detected;
    int index = 0;
    auto measure = [&](const landmarktrain::FacePicture &cut) {
        const landmarktrain::FaceFigures a = landmarktrain::measureFace(engine, cut, landmarktrain::ReportEyes::Annotated);
        const landmarktrain::FaceFigures d = landmarktrain::measureFace(engine, cut, landmarktrain::ReportEyes::Detected);
        annotated.add(a);
        detected.add(d);
        std::printf("face %2d: annotated eyes %s %.4f / %.4f, detected %s %.4f / %.4f\n", index,
                    a.fitted ? "fitted" : "      ", a.allPoints, a.eyeCentres,
                    !d.found ? "missed" : d.fitted ? "fitted" : "      ", d.allPoints, d.eyeCentres);
        if (records)
            for (const landmarktrain::FaceFigures *f : {&a, &d})
                if (f->found)
                    std::printf("  %s record: eyes %+.3f %+.3f, %+.3f %+.3f; box centre %+.3f %+.3f side %.3f; "
                                "lower point %+.3f %+.3f; score %g\n",
                                f == &a ? "annotated" : "detected ", f->given[0], f->given[1], f->given[2],
                                f->given[3], f->given[4], f->given[5], f->given[8], f->given[6], f->given[7],
                                f->given[9]);
        if (!drawDir.empty()) {
            landmarktrain::drawFit(cut, a).save(QString::fromStdString(drawDir + "/face" + std::to_string(index) + ".png"));
            if (d.fitted)
                landmarktrain::drawFit(cut, d).save(
                    QString::fromStdString(drawDir + "/face" + std::to_string(index) + "-detected.png"));
        }
        ++index;
    };
    if (split == "made") {
        facedata::FaceBank bank;
        if (!landmarktrain::annotatedBank(sources, &bank, &error)) {
            std::fprintf(stderr, "landmarkreport: %s\n", error.c_str());
            engineDestroy(engine);
            return 1;
        }
        const landmarktrain::TrainingSet made(&bank, 7, landmarktrain::SampleOptions{});
        for (int k = 0; k < madeFaces; ++k) {
            const landmarktrain::Sample sample = made.make(uint64_t(k));
            landmarktrain::FacePicture cut;
            cut.picture = QImage(sample.width, sample.height, QImage::Format_RGB888);
            for (int y = 0; y < sample.height; ++y) {
                uchar *row = cut.picture.scanLine(y);
                for (int x = 0; x < sample.width; ++x)
                    row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = sample.grey[size_t(y) * sample.width + x];
            }
            for (int i = 0; i < landmarktrain::kFitterPoints; ++i)
                cut.truth.push_back({float(sample.truth[size_t(2 * i)]), float(sample.truth[size_t(2 * i + 1)])});
            measure(cut);
        }
    }
    const std::vector<facedata::Photo> none, &photos = split == "made" ? none : split == "training" ? sources.training : sources.testing;
    for (const facedata::Photo &photo : photos) {
        const QImage image(QString::fromStdString(photo.path));
        if (image.isNull()) {
            std::fprintf(stderr, "landmarkreport: cannot read %s\n", photo.path.c_str());
            engineDestroy(engine);
            return 1;
        }
        for (const facedata::Face &face : photo.faces)
            if (face.points.size() == size_t(facedata::kPointCount))
                measure(landmarktrain::cutFace(image.convertToFormat(QImage::Format_RGB888), face, iod));
    }
    engineDestroy(engine);
    std::printf("%s", annotated.text("given the annotated eye centres:").c_str());
    std::printf("%s", detected.text("given the engine's detection:").c_str());
    return 0;
}
