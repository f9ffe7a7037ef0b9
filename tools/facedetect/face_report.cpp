// Figures of the engine's detection on annotated photos.
#include "tools/facedetect/face_report.h"

#include <algorithm>
#include <cmath>

namespace {

double overlap(const facedata::BoxF &a, const int b[4])
{
    const double w = std::max(0.0, std::min<double>(a.x + a.width, b[0] + b[2]) - std::max<double>(a.x, b[0]));
    const double h = std::max(0.0, std::min<double>(a.y + a.height, b[1] + b[3]) - std::max<double>(a.y, b[1]));
    const double inter = w * h, uni = double(a.width) * a.height + double(b[2]) * b[3] - inter;
    return uni > 0 ? inter / uni : 0;
}

/* Adds the errors of two reported eye centres, taken in either order, whichever fits better. */
void measureEyes(const facedata::PointF &l, const facedata::PointF &r, const std::vector<QPoint> &eyes, double eyeBound,
                 EyeFigures *figures)
{
    const double iod = std::hypot(r.x - l.x, r.y - l.y);
    if (eyes.size() != 2 || iod <= 0)
        return;
    auto dist = [](const facedata::PointF &a, const QPoint &b) { return std::hypot(a.x - b.x(), a.y - b.y()); };
    const double straight = std::max(dist(l, eyes[0]), dist(r, eyes[1]));
    const double crossed = std::max(dist(l, eyes[1]), dist(r, eyes[0]));
    const bool swap = crossed < straight;
    const double e1 = dist(l, eyes[swap ? 1 : 0]) / iod, e2 = dist(r, eyes[swap ? 0 : 1]) / iod;
    ++figures->measured;
    figures->errorSum += (e1 + e2) / 2;
    figures->within += e1 <= eyeBound && e2 <= eyeBound;
}

} // namespace

void addPhotoFigures(const std::vector<facedata::Face> &annotated, const std::vector<FoundFace> &detected,
                     double copyScale, double minimumWidth, double eyeBound, ReportFigures *figures)
{
    ++figures->photos;
    struct Pair {
        double overlap;
        size_t face, detection;
    };
    std::vector<Pair> pairs;
    for (size_t i = 0; i < annotated.size(); ++i)
        for (size_t j = 0; j < detected.size(); ++j) {
            const double o = overlap(annotated[i].box, detected[j].box);
            if (o >= kMatchOverlap)
                pairs.push_back({o, i, j});
        }
    std::sort(pairs.begin(), pairs.end(), [](const Pair &a, const Pair &b) { return a.overlap > b.overlap; });
    std::vector<int> faceMatch(annotated.size(), -1), detectionMatched(detected.size(), 0);
    for (const Pair &p : pairs)
        if (faceMatch[p.face] < 0 && !detectionMatched[p.detection]) {
            faceMatch[p.face] = int(p.detection);
            detectionMatched[p.detection] = 1;
        }
    for (size_t i = 0; i < annotated.size(); ++i) {
        const bool counted = annotated[i].box.width * copyScale >= minimumWidth;
        ++figures->allFaces;
        figures->faces += counted;
        if (faceMatch[i] < 0)
            continue;
        ++figures->allFound;
        figures->found += counted;
        const FoundFace &d = detected[size_t(faceMatch[i])];
        const facedata::Shape &points = annotated[i].points;
        if (points.size() != size_t(facedata::kPointCount))
            continue;
        const facedata::PointF l = facedata::leftEyeCentre(points), r = facedata::rightEyeCentre(points);
        measureEyes(l, r, d.eyes, eyeBound, &figures->detectorEyes);
        measureEyes(l, r, d.fittedEyes, eyeBound, &figures->fittedEyes);
    }
    for (int m : detectionMatched)
        figures->falseDetections += m == 0;
}

EyeFigures &EyeFigures::operator+=(const EyeFigures &other)
{
    measured += other.measured;
    errorSum += other.errorSum;
    within += other.within;
    return *this;
}

ReportFigures &ReportFigures::operator+=(const ReportFigures &other)
{
    photos += other.photos;
    faces += other.faces;
    found += other.found;
    allFaces += other.allFaces;
    allFound += other.allFound;
    falseDetections += other.falseDetections;
    detectorEyes += other.detectorEyes;
    fittedEyes += other.fittedEyes;
    return *this;
}
