// facedetect as a command: one JSON document for all files, an unreadable file or one too small
// to search reported on standard error with an entry of no faces while the others (TIFF too)
// still run, drawings on request;
// and the report's matching of detections to annotated faces.
#include "tools/facedetect/face_report.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <cmath>

TEST(FaceDetectCommand, OneDocumentAndUnreadableFilesReported)
{
    QTemporaryDir dir;
    QImage picture(160, 120, QImage::Format_RGB32);
    picture.fill(QColor(120, 130, 140));
    const QString good = dir.filePath("plain.png"), bad = dir.filePath("broken.jpg");
    const QString tiff = dir.filePath("photo.tif"), small = dir.filePath("small.png");
    ASSERT_TRUE(picture.save(good));
    ASSERT_TRUE(picture.save(tiff)) << "Qt's TIFF plug-in (qt5-image-formats-plugins) is missing";
    ASSERT_TRUE(picture.copy(0, 0, 40, 90).save(small)); /* narrower than the engine's smallest picture */
    QFile broken(bad);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a picture");
    broken.close();
    const QString json = dir.filePath("out.json"), draw = dir.filePath("drawn");

    QProcess run;
    run.start(FACEDETECT_EXECUTABLE, {"--json", json, "--draw", draw, bad, good, tiff, small});
    ASSERT_TRUE(run.waitForFinished(60000));
    EXPECT_EQ(run.exitCode(), 1); /* two files could not be searched */
    const QString errors = QString::fromUtf8(run.readAllStandardError());
    EXPECT_TRUE(errors.contains("broken.jpg"));
    EXPECT_TRUE(errors.contains("small.png is too small to search for faces: 40 x 90 pixels")) << qPrintable(errors);
    EXPECT_FALSE(errors.contains("photo.tif")) << qPrintable(errors);

    QFile out(json);
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    const QJsonArray images = QJsonDocument::fromJson(out.readAll()).object().value("images").toArray();
    ASSERT_EQ(images.size(), 4);
    EXPECT_EQ(images[0].toObject().value("file").toString(), bad);
    EXPECT_TRUE(images[0].toObject().value("faces").toArray().isEmpty());
    EXPECT_EQ(images[1].toObject().value("file").toString(), good);
    EXPECT_TRUE(images[1].toObject().value("faces").isArray());
    EXPECT_GE(images[1].toObject().value("ms").toDouble(), 0.0);
    EXPECT_TRUE(QFile::exists(QDir(draw).filePath("plain.png")));
    EXPECT_TRUE(QFile::exists(QDir(draw).filePath("photo.png")));
    EXPECT_EQ(images[2].toObject().value("file").toString(), tiff);
    EXPECT_EQ(images[3].toObject().value("file").toString(), small);
    EXPECT_TRUE(images[3].toObject().value("faces").toArray().isEmpty());
    EXPECT_FALSE(QFile::exists(QDir(draw).filePath("small.png")));
    EXPECT_FALSE(QFile::exists(QDir(draw).filePath("broken.png")));

    QProcess toStdout;
    toStdout.start(FACEDETECT_EXECUTABLE, {good});
    ASSERT_TRUE(toStdout.waitForFinished(60000));
    EXPECT_EQ(toStdout.exitCode(), 0);
    EXPECT_EQ(QJsonDocument::fromJson(toStdout.readAllStandardOutput()).object().value("images").toArray().size(), 1);
}

TEST(FaceReportFigures, MatchesEachFaceOnceAndMeasuresEyes)
{
    facedata::Face near, far;
    near.box = {100, 100, 40, 40};
    near.points.assign(facedata::kPointCount, facedata::PointF{});
    for (int i = 36; i < 42; ++i)
        near.points[size_t(i)] = facedata::PointF{110, 115};
    for (int i = 42; i < 48; ++i)
        near.points[size_t(i)] = facedata::PointF{130, 115};
    far.box = {300, 300, 20, 20};
    FoundFace hit, second, stray;
    hit.box[0] = 102, hit.box[1] = 98, hit.box[2] = 40, hit.box[3] = 40;
    hit.eyes = {QPoint(131, 116), QPoint(110, 115)}; /* reported in the other order */
    hit.fittedEyes = {QPoint(110, 115), QPoint(133, 115)}; /* the second eye 3 px off: 0.15 of the eye distance */
    second.box[0] = 104, second.box[1] = 104, second.box[2] = 38, second.box[3] = 38; /* the same face again */
    stray.box[0] = 0, stray.box[1] = 0, stray.box[2] = 30, stray.box[3] = 30;
    ReportFigures figures;
    addPhotoFigures({near, far}, {second, hit, stray}, 0.5, 15, 0.08, &figures);
    EXPECT_EQ(figures.photos, 1);
    EXPECT_EQ(figures.allFaces, 2);
    EXPECT_EQ(figures.faces, 1);  /* the far face is 10 px wide in the copy */
    EXPECT_EQ(figures.found, 1);
    EXPECT_EQ(figures.allFound, 1);
    EXPECT_EQ(figures.falseDetections, 2); /* the duplicate and the stray */
    EXPECT_EQ(figures.detectorEyes.measured, 1);
    EXPECT_NEAR(figures.detectorEyes.errorSum, (std::sqrt(2.0) / 20) / 2, 1e-9);
    EXPECT_EQ(figures.detectorEyes.within, 1);
    EXPECT_EQ(figures.fittedEyes.measured, 1);
    EXPECT_NEAR(figures.fittedEyes.errorSum, (3.0 / 20) / 2, 1e-9);
    EXPECT_EQ(figures.fittedEyes.within, 0);

    /* a face the fit left without points has no fitted eyes to measure */
    hit.fittedEyes.clear();
    ReportFigures unfitted;
    addPhotoFigures({near, far}, {second, hit, stray}, 0.5, 15, 0.08, &unfitted);
    EXPECT_EQ(unfitted.detectorEyes.measured, 1);
    EXPECT_EQ(unfitted.fittedEyes.measured, 0);
    figures += unfitted;
    EXPECT_EQ(figures.photos, 2);
    EXPECT_EQ(figures.detectorEyes.measured, 2);
    EXPECT_EQ(figures.fittedEyes.measured, 1);
}
