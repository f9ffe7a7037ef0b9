// landmarktrain: trains the landmark fitter's model tables from the annotated training faces
// (tools/facedata) on the fitter's own code and writes them as a C++ source of tables.
//
//   landmarktrain [--data DIR] [--out FILE] [--seed N] [--threads N] [--samples N]
//                 [--detected SHARE] [--quick] [--preview DIR]
//
// --detected gives that share of the faces given eyes and a lower-face point the face record of
// the engine's own detection, where it finds the face. --quick trains the mean shape, the crops'
// reference shapes and the level-4 tables from a few faces and writes them as a text listing.
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/landmarktrain/model_tables.h"
#include "tools/landmarktrain/trainer.h"
#include "tools/landmarktrain/training_set.h"

namespace {

int usage()
{
    std::fprintf(stderr, "usage: landmarktrain [--data DIR] [--out FILE] [--seed N] [--threads N] [--samples N] [--detected SHARE]\n"
                         "                     [--quick] [--preview DIR]\n");
    return 2;
}

QImage picture(const landmarktrain::Sample &s)
{
    QImage image(s.width, s.height, QImage::Format_RGB32);
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            const int v = s.grey[size_t(y) * s.width + x];
            image.setPixel(x, y, qRgb(v, v, v));
        }
    return image;
}

void preview(const landmarktrain::TrainingSet &set, const std::string &dir)
{
    for (uint64_t i = 0; i < 12; ++i) {
        const landmarktrain::Sample s = set.make(i);
        QImage image = picture(s);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        for (int p = 0; p < landmarktrain::kFitterPoints; ++p) {
            painter.setPen(QPen(p >= 47 ? Qt::yellow : p >= 32 ? Qt::red : p >= 24 ? Qt::cyan : Qt::green, 1));
            painter.drawEllipse(QPointF(s.truth[size_t(2 * p)] + 0.5, s.truth[size_t(2 * p + 1)] + 0.5), 1.5, 1.5);
        }
        painter.setPen(QPen(Qt::magenta, 2));
        for (auto e : {QPointF(s.face.eye1X, s.face.eye1Y), QPointF(s.face.eye2X, s.face.eye2Y), QPointF(s.face.mouthX, s.face.mouthY)})
            if (e.x() != 0)
                painter.drawLine(e + QPointF(-4, 0), e + QPointF(4, 0)), painter.drawLine(e + QPointF(0, -4), e + QPointF(0, 4));
        painter.end();
        image.save(QString::fromStdString(dir + "/sample" + std::to_string(i) + ".png"));
        std::printf("sample %llu: %dx%d iod %.1f hintA %d mouth %d,%d\n", (unsigned long long)i, s.width, s.height, s.iod,
                    s.face.hintA, s.face.mouthX, s.face.mouthY);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    std::string data = facedata::defaultDataRoot(), previewDir, out = "landmark_tables.cpp";
    landmarktrain::TrainOptions options;
    landmarktrain::SampleOptions sampleOptions;
    std::string command = "landmarktrain";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--data" && v)
            data = argv[++i];
        else if (arg == "--out" && v)
            out = argv[++i];
        else if (arg == "--preview" && v)
            previewDir = argv[++i];
        else if (arg == "--seed" && v)
            options.seed = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--threads" && v)
            options.threads = std::clamp(std::atoi(argv[++i]), 1, 4);
        else if (arg == "--samples" && v)
            options.samples = std::max(10, std::atoi(argv[++i]));
        else if (arg == "--detected" && v)
            sampleOptions.detectedShare = std::clamp(std::atof(argv[++i]), 0.0, 1.0);
        else if (arg == "--quick")
            options.quick = true;
        else
            return usage();
        if (arg != "--data" && arg != "--out" && arg != "--preview")
            command += " " + arg + (arg == "--quick" ? std::string() : std::string(" ") + argv[i]);
    }
    if (options.quick) {
        options.samples = std::min(options.samples, 120);
        options.validation = 40;
        options.boostRounds = 4;
    }
    options.log = [start = std::chrono::steady_clock::now()](const std::string &line) {
        const double minutes = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / 60;
        std::printf("[%6.1f min] %s\n", minutes, line.c_str());
        std::fflush(stdout);
    };
    facedata::FaceSources sources;
    facedata::FaceBank bank;
    std::string error;
    if (!facedata::loadFaceSources(data, &sources, &error) || !landmarktrain::annotatedBank(sources, &bank, &error)) {
        std::fprintf(stderr, "landmarktrain: %s\n", error.c_str());
        return 1;
    }
    options.log("annotated faces: " + std::to_string(bank.faces.size()) + ", shapes " + std::to_string(bank.shapes.size()));
    const landmarktrain::TrainingSet train(&bank, options.seed, sampleOptions);
    if (!previewDir.empty()) {
        preview(train, previewDir);
        return 0;
    }
    const landmarktrain::TrainingSet validate(&bank, options.seed + 1000003, sampleOptions);
    landmarktrain::Trainer trainer(&train, &validate, options);
    landmarktrain::TrainedTables tables;
    if (options.quick) {
        trainer.trainShapes(&tables);
        trainer.trainLevel(&tables, 4);
    } else {
        trainer.trainAll(&tables);
    }
    const bool written = options.quick ? landmarktrain::writeQuickTables(tables, out, command, &error)
                                       : landmarktrain::writeTablesSource(tables, out, command, &error);
    if (!written) {
        std::fprintf(stderr, "landmarktrain: %s\n", error.c_str());
        return 1;
    }
    options.log("wrote " + out);
    return 0;
}
