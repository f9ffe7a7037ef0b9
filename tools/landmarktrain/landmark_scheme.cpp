/*
 * The fitter's 62 points from the 68 annotated ones.
 */
#include "tools/landmarktrain/landmark_scheme.h"

#include <algorithm>
#include <cmath>

namespace landmarktrain {

using facedata::PointF;

/* Brow lines run from the outer end (17, 26) to the inner end (21, 22). Fractions on the brows
 * are from the outer end: upper edge at 0.30 and 0.78, lower edge at 0.32 and 0.70. */
const PointSource kPointSources[kFitterPoints] = {
    /* left brow */
    {kAlongLine, 17, 21, 1.00f, 0}, {kAlongLine, 17, 21, 0.70f, kBrowWidth}, {kAlongLine, 17, 21, 0.32f, kBrowWidth},
    {kAlongLine, 17, 21, 0.00f, 0}, {kAlongLine, 17, 21, 0.30f, 0}, {kAlongLine, 17, 21, 0.78f, 0},
    /* right brow */
    {kAlongLine, 26, 22, 1.00f, 0}, {kAlongLine, 26, 22, 0.78f, 0}, {kAlongLine, 26, 22, 0.30f, 0},
    {kAlongLine, 26, 22, 0.00f, 0}, {kAlongLine, 26, 22, 0.32f, kBrowWidth}, {kAlongLine, 26, 22, 0.70f, kBrowWidth},
    /* eyes: one to one */
    {kOnePoint, 39}, {kOnePoint, 40}, {kOnePoint, 41}, {kOnePoint, 36}, {kOnePoint, 37}, {kOnePoint, 38},
    {kOnePoint, 42}, {kOnePoint, 43}, {kOnePoint, 44}, {kOnePoint, 45}, {kOnePoint, 46}, {kOnePoint, 47},
    /* nose: the bridge's top, its middle (half-way from the top to the tip) and the tip; the base
     * one to one */
    {kOnePoint, 27}, {kBetween, 27, 30, 0.50f, 0}, {kOnePoint, 30},
    {kOnePoint, 35}, {kOnePoint, 34}, {kOnePoint, 33}, {kOnePoint, 32}, {kOnePoint, 31},
    /* outer lips: one to one */
    {kOnePoint, 48}, {kOnePoint, 49}, {kOnePoint, 50}, {kOnePoint, 51}, {kOnePoint, 52}, {kOnePoint, 53},
    {kOnePoint, 54}, {kOnePoint, 55}, {kOnePoint, 56}, {kOnePoint, 57}, {kOnePoint, 58}, {kOnePoint, 59},
    /* inner mouth: the corners, and half-way between the inner lips' centres */
    {kOnePoint, 60}, {kBetween, 62, 66, 0.50f, 0}, {kOnePoint, 64},
    /* outline: fifteen points evenly along the seventeen */
    {kAlongLine, 0, 16, 0 / 14.0f, 0},  {kAlongLine, 0, 16, 1 / 14.0f, 0},  {kAlongLine, 0, 16, 2 / 14.0f, 0},
    {kAlongLine, 0, 16, 3 / 14.0f, 0},  {kAlongLine, 0, 16, 4 / 14.0f, 0},  {kAlongLine, 0, 16, 5 / 14.0f, 0},
    {kAlongLine, 0, 16, 6 / 14.0f, 0},  {kAlongLine, 0, 16, 7 / 14.0f, 0},  {kAlongLine, 0, 16, 8 / 14.0f, 0},
    {kAlongLine, 0, 16, 9 / 14.0f, 0},  {kAlongLine, 0, 16, 10 / 14.0f, 0}, {kAlongLine, 0, 16, 11 / 14.0f, 0},
    {kAlongLine, 0, 16, 12 / 14.0f, 0}, {kAlongLine, 0, 16, 13 / 14.0f, 0}, {kAlongLine, 0, 16, 14 / 14.0f, 0},
};

const int kMirroredPoint[kFitterPoints] = {
    6, 11, 10, 9, 8, 7, 0, 5, 4, 3, 2, 1,                        /* brows */
    18, 23, 22, 21, 20, 19, 12, 17, 16, 15, 14, 13,              /* eyes */
    24, 25, 26, 31, 30, 29, 28, 27,                              /* nose */
    38, 37, 36, 35, 34, 33, 32, 43, 42, 41, 40, 39,              /* outer lips */
    46, 45, 44,                                                  /* inner mouth */
    61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47,  /* outline */
};

namespace {

/* The point at `fraction` of the polyline's length. */
PointF alongLine(const std::vector<PointF> &line, float fraction)
{
    float length = 0;
    for (size_t i = 1; i < line.size(); ++i)
        length += std::hypot(line[i].x - line[i - 1].x, line[i].y - line[i - 1].y);
    float wanted = fraction * length;
    for (size_t i = 1; i < line.size(); ++i) {
        const float piece = std::hypot(line[i].x - line[i - 1].x, line[i].y - line[i - 1].y);
        if (wanted <= piece || i + 1 == line.size()) {
            const float t = piece > 0 ? std::min(1.0f, wanted / piece) : 0;
            return PointF{line[i - 1].x + t * (line[i].x - line[i - 1].x), line[i - 1].y + t * (line[i].y - line[i - 1].y)};
        }
        wanted -= piece;
    }
    return line.front();
}

}  // namespace

std::vector<PointF> fitterPoints(const facedata::Shape &shape)
{
    std::vector<PointF> out(kFitterPoints);
    const PointF left = facedata::leftEyeCentre(shape), right = facedata::rightEyeCentre(shape);
    const float iod = std::hypot(right.x - left.x, right.y - left.y);
    /* "down" is perpendicular to the eye line, towards the mouth */
    const float downX = iod > 0 ? -(right.y - left.y) / iod : 0, downY = iod > 0 ? (right.x - left.x) / iod : 1;
    for (int i = 0; i < kFitterPoints; ++i) {
        const PointSource &s = kPointSources[i];
        std::vector<PointF> line;
        if (s.kind == kAlongLine)
            for (int k = s.first;; k += s.last >= s.first ? 1 : -1) {
                line.push_back(shape[size_t(k)]);
                if (k == s.last)
                    break;
            }
        else if (s.kind == kBetween)
            line = {shape[size_t(s.first)], shape[size_t(s.last)]};
        PointF p = s.kind == kOnePoint ? shape[size_t(s.first)] : alongLine(line, s.fraction);
        p.x += s.below * iod * downX;
        p.y += s.below * iod * downY;
        out[size_t(i)] = p;
    }
    return out;
}

PointF fitterEyeCentre(const std::vector<PointF> &points, int first)
{
    PointF c;
    for (int i = first; i < first + 6; ++i) {
        c.x += points[size_t(i)].x / 6;
        c.y += points[size_t(i)].y / 6;
    }
    return c;
}

}  // namespace landmarktrain
