// The engine's detection path on image files.
#include "tools/facedetect/face_run.h"

#include "facesdk/engine/engine.h"
#include "facesdk/engine/face_records.h"
#include "facesdk/base/pixel_format.h"
#include "tools/beautify/run_image.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>

namespace {

constexpr int kFittedPoints = 62;

QPoint eyeCentre(const VXL_FACE &f, int first)
{
    const VXL_POINT centre = fittedEyeCentre(f, first);
    return QPoint(centre.x, centre.y);
}

} // namespace

ImageResult detectFile(BeautyEngine *engine, const QString &file, QImage *picture, bool landmarks)
{
    ImageResult result;
    result.file = file;
    QImageReader reader(file);
    reader.setAutoTransform(true);
    const QImage decoded = reader.read();
    if (decoded.isNull()) {
        result.error = QStringLiteral("cannot read %1: %2").arg(file, reader.errorString());
        return result;
    }
    // The engine looks for faces only in pictures whose sides both reach its minimum.
    if (uint32_t(decoded.width()) < kMinimumImageSide || uint32_t(decoded.height()) < kMinimumImageSide) {
        result.error = QStringLiteral("%1 is too small to search for faces: %2 x %3 pixels (each side needs %4)")
                           .arg(file)
                           .arg(decoded.width())
                           .arg(decoded.height())
                           .arg(kMinimumImageSide);
        return result;
    }
    const QImage rgb = decoded.convertToFormat(QImage::Format_RGB888);
    if (picture)
        *picture = rgb;
    // The platform hands the engine planar YUV 4:2:0; so do we.
    RunImage image;
    QString why;
    if (!image.assign(rgb, kFormatYuv420Planar, &why)) {
        result.error = QStringLiteral("cannot convert %1: %2").arg(file, why);
        return result;
    }
    VXL_FACE *faces = nullptr;
    int32_t count = 0;
    QElapsedTimer timer;
    timer.start();
    const int code = engineDetectFaces(engine, image.image(), &faces, &count);
    result.ms = double(timer.nsecsElapsed()) / 1e6;
    if (code == kEngineNoFace)  // an empty face list
        return result;
    if (code != 0) {
        result.error = QStringLiteral("detection failed on %1 (%2)").arg(file).arg(code);
        return result;
    }
    // The fitting path takes the faces as detection left them; a failing fit leaves every face
    // unfitted, which the faces then show by having no landmarks.
    if (landmarks && count > 0)
        engineFitFaces(engine, image.image(), faces, count);
    for (int32_t i = 0; i < count; ++i) {
        const VXL_FACE &f = faces[i];
        FoundFace found;
        found.box[0] = f.x;
        found.box[1] = f.y;
        found.box[2] = f.width;
        found.box[3] = f.height;
        found.score = f.detectorValue;
        found.roll = f.roll;
        // an eye the detector did not find has no box, and its centre comes out as (0, 0)
        for (const QPoint eye : {QPoint(f.eye1X, f.eye1Y), QPoint(f.eye2X, f.eye2Y)})
            if (eye != QPoint(0, 0))
                found.eyes.push_back(eye);
        if (landmarks && f.points && f.pointCount >= kFittedPoints && pointCountFitsBuffer(f) &&
            fittedFlag(const_cast<VXL_FACE &>(f))) {
            for (int k = 0; k < kFittedPoints; ++k)
                found.landmarks.push_back(QPoint(f.points[k].x, f.points[k].y));
            found.fittedEyes = {eyeCentre(f, kFirstEyePoints), eyeCentre(f, kSecondEyePoints)};
        }
        result.faces.push_back(found);
    }
    if (faces)
        engineFreeFaces(engine, faces, count);
    return result;
}

const std::vector<QPoint> &shownEyes(const FoundFace &face)
{
    return face.fittedEyes.empty() ? face.eyes : face.fittedEyes;
}

QByteArray resultsJson(const std::vector<ImageResult> &results)
{
    QJsonArray images;
    for (const ImageResult &r : results) {
        QJsonArray faces;
        for (const FoundFace &f : r.faces) {
            QJsonArray eyes;
            for (const QPoint &e : shownEyes(f))
                eyes.append(QJsonArray{e.x(), e.y()});
            QJsonObject face{{"box", QJsonArray{f.box[0], f.box[1], f.box[2], f.box[3]}},
                             {"score", f.score},
                             {"eyes", eyes}};
            if (!f.landmarks.empty()) {
                QJsonArray points;
                for (const QPoint &p : f.landmarks)
                    points.append(QJsonArray{p.x(), p.y()});
                face.insert("landmarks", points);
            }
            faces.append(face);
        }
        images.append(QJsonObject{{"file", r.file}, {"faces", faces}, {"ms", qRound(r.ms * 1000) / 1000.0}});
    }
    return QJsonDocument(QJsonObject{{"images", images}}).toJson(QJsonDocument::Indented);
}

QImage drawFaces(const QImage &picture, const std::vector<FoundFace> &faces)
{
    QImage out = picture.convertToFormat(QImage::Format_RGB32);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::Antialiasing);
    const int pen = std::max(2, std::max(out.width(), out.height()) / 300);
    for (const FoundFace &f : faces) {
        painter.setPen(QPen(QColor(40, 220, 60), pen));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(f.box[0], f.box[1], f.box[2], f.box[3]);
        painter.setPen(QPen(QColor(240, 40, 40), pen));
        const int r = std::max(2, f.box[2] / 30);
        for (const QPoint &e : shownEyes(f))
            painter.drawEllipse(e, r, r);
        painter.setPen(QPen(QColor(250, 220, 40), std::max(1, pen / 2)));
        const int dot = std::max(1, f.box[2] / 80);
        for (const QPoint &p : f.landmarks)
            painter.drawEllipse(p, dot, dot);
    }
    return out;
}
