/*
 * The landmark fitter's error on annotated photos.
 */
#include "tools/landmarktrain/landmark_report.h"

#include <QPainter>

#include <cmath>
#include <cstdio>

#include "facesdk/base/pixel_format.h"
#include "facesdk/engine/engine.h"
#include "facesdk/engine/face_records.h"
#include "tools/beautify/run_image.h"

namespace landmarktrain {

const char *const kReportGroupNames[kReportGroups] = {"brows", "eyes", "nose", "outer lips", "inner mouth", "outline",
                                                      "eye centres"};

namespace {

int groupOf(int point)
{
    return point < 12 ? 0 : point < 24 ? 1 : point < 32 ? 2 : point < 44 ? 3 : point < 47 ? 4 : 5;
}

facedata::PointF centre(const std::vector<facedata::PointF> &p, int first)
{
    return fitterEyeCentre(p, first);
}

/* A point's offset from a reference along (x) and across (y) the annotated eye line, in
 * inter-ocular distances. */
void offsetInFace(double px, double py, const facedata::PointF &ref, double ux, double uy, double iod, double *out)
{
    const double dx = px - ref.x, dy = py - ref.y;
    out[0] = (dx * ux + dy * uy) / iod;
    out[1] = (-dx * uy + dy * ux) / iod;
}

void describeRecord(const VXL_FACE &r, const std::vector<facedata::PointF> &truth, double iod, double *out)
{
    const facedata::PointF e1 = centre(truth, 12), e2 = centre(truth, 18);
    const double ux = (e2.x - e1.x) / iod, uy = (e2.y - e1.y) / iod;
    facedata::PointF mouth{0, 0}, mid{float((e1.x + e2.x) / 2), float((e1.y + e2.y) / 2)};
    for (int i = 32; i < 44; ++i) {
        mouth.x += truth[size_t(i)].x / 12;
        mouth.y += truth[size_t(i)].y / 12;
    }
    offsetInFace(r.eye1X, r.eye1Y, e1, ux, uy, iod, out);
    offsetInFace(r.eye2X, r.eye2Y, e2, ux, uy, iod, out + 2);
    offsetInFace(r.x + r.width / 2.0, r.y + r.height / 2.0, mid, ux, uy, iod, out + 4);
    offsetInFace(r.lowerX, r.lowerY, mouth, ux, uy, iod, out + 6);
    out[8] = r.width / iod;
    out[9] = r.score;
}

}  // namespace

FacePicture cutFace(const QImage &photo, const facedata::Face &face, double iod)
{
    const facedata::PointF l = facedata::leftEyeCentre(face.points), r = facedata::rightEyeCentre(face.points);
    const double own = std::hypot(r.x - l.x, r.y - l.y);
    const double scale = iod > 0 ? iod / own : 1.0;
    const int side = int(std::ceil(6 * own));
    const int left = int(std::floor((l.x + r.x) / 2 - side / 2.0)), top = int(std::floor((l.y + r.y) / 2 - side / 2.5));
    QImage cut(side, side, QImage::Format_RGB888);
    cut.fill(Qt::black);
    {
        QPainter painter(&cut);
        painter.drawImage(QPoint(-left, -top), photo);
    }
    FacePicture out;
    const int scaled = int(std::lround(side * scale));
    out.picture = scale == 1.0 ? cut : cut.scaled(scaled, scaled, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const double s = double(out.picture.width()) / side;
    for (const facedata::PointF &p : fitterPoints(face.points))
        out.truth.push_back({float((p.x - left) * s - 0.5), float((p.y - top) * s - 0.5)});
    return out;
}

FaceFigures measureFace(BeautyEngine *engine, const FacePicture &face, ReportEyes eyes)
{
    FaceFigures figures;
    RunImage image;
    QString why;
    if (!image.assign(face.picture, kFormatYuv420Planar, &why))
        return figures;
    const facedata::PointF e1 = centre(face.truth, 12), e2 = centre(face.truth, 18);
    const double iod = std::hypot(e2.x - e1.x, e2.y - e1.y);
    VXL_FACE record{};
    VXL_FACE *detected = nullptr;
    int32_t detectedCount = 0;
    if (eyes == ReportEyes::Annotated) {
        record.id = 1;
        record.eye1X = int32_t(std::lround(e1.x));
        record.eye1Y = int32_t(std::lround(e1.y));
        record.eye2X = int32_t(std::lround(e2.x));
        record.eye2Y = int32_t(std::lround(e2.y));
        const double d = std::hypot(record.eye2X - record.eye1X, record.eye2Y - record.eye1Y);
        record.roll = int32_t(std::lround(std::atan2(record.eye2Y - record.eye1Y, record.eye2X - record.eye1X) * 180 / M_PI));
        record.width = record.height = int32_t(std::lround(2.2 * d));
        record.x = int32_t(std::lround((record.eye1X + record.eye2X) / 2.0 - (record.eye2Y - record.eye1Y) / 2.0 - record.width / 2.0));
        record.y = int32_t(std::lround((record.eye1Y + record.eye2Y) / 2.0 + (record.eye2X - record.eye1X) / 2.0 - record.height / 2.0));
        record.score = 100;
        EngineRect box1{}, box2{};
        eyeBoxesFromEyes({record.eye1X, record.eye1Y}, {record.eye2X, record.eye2Y}, face.picture.width(),
                         face.picture.height(), &box1, &box2);
        VXL_POINT lower{0, 0}, size{0, 0};
        lowerFacePointFromEyes({record.x, record.y, record.width, record.height}, box1, box2, record.roll, &lower, &size);
        record.lowerX = lower.x;
        record.lowerY = lower.y;
    } else {
        if (engineDetectFaces(engine, image.image(), &detected, &detectedCount) != 0 || detectedCount == 0) {
            figures.found = false;
            return figures;
        }
        /* the detection whose eyes lie nearest the annotated ones */
        double best = 1e300;
        for (int32_t i = 0; i < detectedCount; ++i) {
            const VXL_FACE &f = detected[i];
            const double d = std::hypot(f.eye1X - e1.x, f.eye1Y - e1.y) + std::hypot(f.eye2X - e2.x, f.eye2Y - e2.y);
            if (d < best) {
                best = d;
                record = f;
            }
        }
        record.points = nullptr;
        record.savedPoints = nullptr;
        record.pointCount = 0;
        engineFreeFaces(engine, detected, detectedCount);
        if (best > iod) {   /* the eyes are more than an eye distance off: not this face */
            figures.found = false;
            return figures;
        }
    }
    describeRecord(record, face.truth, iod, figures.given);
    const int code = engineFitFaces(engine, image.image(), &record, 1);
    if ((code == 0 || code == 97) && record.points && record.pointCount >= kFitterPoints && fittedFlag(record)) {
        figures.fitted = true;
        std::vector<facedata::PointF> &fitted = figures.points;
        for (int i = 0; i < kFitterPoints; ++i)
            fitted.push_back({float(record.points[i].x), float(record.points[i].y)});
        std::array<int, kReportGroups> counts{};
        for (int i = 0; i < kFitterPoints; ++i) {
            const double e = std::hypot(fitted[size_t(i)].x - face.truth[size_t(i)].x, fitted[size_t(i)].y - face.truth[size_t(i)].y) / iod;
            figures.allPoints += e / kFitterPoints;
            figures.groups[size_t(groupOf(i))] += e;
            ++counts[size_t(groupOf(i))];
        }
        for (int first : {12, 18}) {
            const facedata::PointF f = centre(fitted, first), t = centre(face.truth, first);
            figures.eyeCentres += std::hypot(f.x - t.x, f.y - t.y) / iod / 2;
        }
        for (int g = 0; g + 1 < kReportGroups; ++g)
            figures.groups[size_t(g)] /= counts[size_t(g)];
        figures.groups[kReportGroups - 1] = figures.eyeCentres;
    }
    freeFaceBuffers(engine->allocator, &record);
    return figures;
}

QImage drawFit(const FacePicture &face, const FaceFigures &figures)
{
    QImage out = face.picture.convertToFormat(QImage::Format_RGB32);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::Antialiasing);
    const double r = std::max(1.5, out.width() / 250.0);
    painter.setPen(QPen(QColor(40, 220, 60), 1));
    for (const facedata::PointF &p : face.truth)
        painter.drawEllipse(QPointF(p.x + 0.5, p.y + 0.5), r, r);
    painter.setPen(QPen(QColor(240, 40, 40), 1));
    for (const facedata::PointF &p : figures.points)
        painter.drawEllipse(QPointF(p.x + 0.5, p.y + 0.5), r, r);
    return out;
}

void ReportTotals::add(const FaceFigures &f)
{
    ++faces;
    found += f.found;
    if (!f.fitted)
        return;
    ++fitted;
    allPoints += f.allPoints;
    eyeCentres += f.eyeCentres;
    for (int g = 0; g < kReportGroups; ++g)
        groups[size_t(g)] += f.groups[size_t(g)];
}

std::string ReportTotals::text(const std::string &title) const
{
    char line[256];
    std::string out = title + "\n";
    std::snprintf(line, sizeof line, "  faces %d, found %d, fitted %d\n", faces, found, fitted);
    out += line;
    if (fitted == 0)
        return out;
    std::snprintf(line, sizeof line, "  mean error / inter-ocular distance: all 62 points %.4f, eye centres %.4f\n",
                  allPoints / fitted, eyeCentres / fitted);
    out += line;
    for (int g = 0; g + 1 < kReportGroups; ++g) {
        std::snprintf(line, sizeof line, "    %-12s %.4f\n", kReportGroupNames[g], groups[size_t(g)] / fitted);
        out += line;
    }
    return out;
}

}  // namespace landmarktrain
