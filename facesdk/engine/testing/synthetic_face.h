// A synthetic face for the shape tests: 62 fitted landmarks, eye boxes and a face box, turned by
// a roll angle about the face centre, and an image painted to match it (skin, two eyes with
// dark irises and a highlight, lips around a dark gap).
//
// Header only: tests of this folder include it without linking anything.
#pragma once

#include <cmath>
#include <cstring>

#include "facesdk/engine/face_records.h"
#include "facesdk/engine/image.h"
#include "facesdk/engine/testing/yuv_paint.h"

// Face-frame geometry, pixels from the face centre (y grows downwards).
constexpr double kEyeOffsetX = 45, kEyeOffsetY = -40;  // eyes at (+-45, -40)
constexpr double kMouthOffsetY = 60;                   // gap between the lips at (0, 60)
constexpr double kIrisRadius = 9;

struct SyntheticFace {
    VXL_POINT points[kFacePointSlots + 2] = {};  // point buffer with the class slot after it
    FaceWork work{};
    double cx = 0, cy = 0, roll = 0;             // centre and roll (degrees)

    // A face-frame point in image coordinates.
    void toImage(double u, double v, double *x, double *y) const
    {
        const double a = roll * M_PI / 180;
        *x = cx + u * std::cos(a) - v * std::sin(a);
        *y = cy + u * std::sin(a) + v * std::cos(a);
    }
    // An image point in the face frame.
    void toFace(double x, double y, double *u, double *v) const
    {
        const double a = roll * M_PI / 180, dx = x - cx, dy = y - cy;
        *u = dx * std::cos(a) + dy * std::sin(a);
        *v = -dx * std::sin(a) + dy * std::cos(a);
    }
    VXL_POINT imagePoint(double u, double v) const
    {
        double x = 0, y = 0;
        toImage(u, v, &x, &y);
        return {int32_t(std::lround(x)), int32_t(std::lround(y))};
    }
};

// Builds the face centred at (cx, cy) with a 200 x 200 box, for a width x height image.
inline void makeSyntheticFace(SyntheticFace *face, int32_t id, double cx, double cy, double roll,
                              int32_t width, int32_t height)
{
    face->cx = cx, face->cy = cy, face->roll = roll;
    VXL_POINT *p = face->points;
    std::memset(p, 0, sizeof face->points);
    // Eyes: corners 15 and 12 (first), 18 and 21 (second); upper lids 16, 17 and 19, 20.
    const double eyeShape[6][2] = {{15, 0}, {5, 5}, {-5, 5}, {-15, 0}, {-5, -5}, {5, -5}};
    for (int k = 0; k < 6; ++k)
        p[12 + k] = face->imagePoint(-kEyeOffsetX + eyeShape[k][0], kEyeOffsetY + eyeShape[k][1]);
    // Second eye: 18 (left corner), 19, 20 (upper lid), 21, 22, 23 (lower lid).
    const double secondEye[6][2] = {{-15, 0}, {-5, -5}, {5, -5}, {15, 0}, {5, 5}, {-5, 5}};
    for (int k = 0; k < 6; ++k)
        p[18 + k] = face->imagePoint(kEyeOffsetX + secondEye[k][0], kEyeOffsetY + secondEye[k][1]);
    // The lip contour: corners 32 and 38, upper 33..37, lower 39..43; pairs share columns.
    const double lips[12][2] = {{-40, 0}, {-30, -10}, {-15, -12}, {0, -11}, {15, -12}, {30, -10},
                                {40, 0},  {35, 8},    {30, 11},   {0, 14},  {-30, 11}, {-35, 8}};
    for (int k = 0; k < 12; ++k)
        p[32 + k] = face->imagePoint(lips[k][0], kMouthOffsetY + lips[k][1]);
    // The other fitted points: a jaw line, brows and a nose, all inside the face.
    for (int k = 0; k < 12; ++k)
        p[k] = face->imagePoint(-88 + 16 * k, 70 - std::abs(k - 5.5) * 8);
    for (int k = 24; k < 32; ++k)
        p[k] = face->imagePoint(-60 + 16 * (k - 24), -62);
    for (int k = 44; k < 62; ++k)
        p[k] = face->imagePoint(-20 + 2.5 * (k - 44), 0);

    FaceWork &w = face->work;
    w = FaceWork{};
    w.size = sizeof(FaceWork);
    w.id = id;
    w.box = {int32_t(cx) - 100, int32_t(cy) - 100, 200, 200};
    w.roll = int32_t(std::lround(roll));
    w.points = p;
    w.pointCount = kFacePointSlots;
    eyeBoxesFromEyes(face->imagePoint(-kEyeOffsetX, kEyeOffsetY),
                     face->imagePoint(kEyeOffsetX, kEyeOffsetY), width, height, &w.eye1Box,
                     &w.eye2Box);
}

// The face drawn `scale` times larger: its points (kFacePointSlots + 2 of them) into `points`,
// and its record, with boxes scaled and pointing at `points`, into `work`.
inline void scaleSyntheticFace(const SyntheticFace &face, int32_t scale, VXL_POINT *points,
                               FaceWork *work)
{
    for (int k = 0; k < kFacePointSlots + 2; ++k)
        points[k] = {face.points[k].x * scale, face.points[k].y * scale};
    *work = face.work;
    work->points = points;
    for (EngineRect *r : {&work->box, &work->eye1Box, &work->eye2Box})
        *r = {r->x * scale, r->y * scale, r->width * scale, r->height * scale};
}

// The synthetic face of a picture `scale` times smaller than width x height, centred there at
// the roll, drawn `scale` times larger: its model, and its points and record at full size.
struct ScaledSyntheticFace {
    SyntheticFace model;
    VXL_POINT points[kFacePointSlots + 2] = {};
    FaceWork work{};

    ScaledSyntheticFace(int32_t scale, double roll, int32_t width, int32_t height)
    {
        makeSyntheticFace(&model, 1, width / scale / 2, height / scale / 2, roll, width / scale,
                          height / scale);
        scaleSyntheticFace(model, scale, points, &work);
    }
    ScaledSyntheticFace(const ScaledSyntheticFace &) = delete;
    ScaledSyntheticFace &operator=(const ScaledSyntheticFace &) = delete;
};

// The face's colour at an image point; background elsewhere.
inline YuvColour syntheticFaceColour(const SyntheticFace &face, double x, double y)
{
    double u = 0, v = 0;
    face.toFace(x, y, &u, &v);
    const auto sq = [](double a) { return a * a; };
    for (double side : {-1.0, 1.0}) {
        const double du = u - side * kEyeOffsetX, dv = v - kEyeOffsetY;
        if (sq(du + 3) + sq(dv + 3) <= 2.5)
            return {255, 128, 128};  // highlight
        if (sq(du) + sq(dv) <= sq(kIrisRadius))
            return {45, 120, 135};  // iris
        const double lid = sq(du / 20) + sq(dv / 9);
        if (lid < 1)
            return {235, 128, 128};  // white of the eye
        if (lid < 1.6)
            return dv < 0 ? YuvColour{30, 128, 128} : YuvColour{100, 120, 140};  // lids
    }
    const double dv = v - kMouthOffsetY;
    if (std::abs(u) < 40 && dv >= -12 && dv <= 14) {
        if (dv >= -2 && dv <= 2)
            return {60, 125, 135};  // the gap between the lips
        return {130, 115, 180};     // lips
    }
    if (sq(u / 95) + sq(v / 110) < 1)
        return {170, 110, 150};  // skin
    return {90, 128, 128};
}

inline void paintSyntheticFaces(EngineImage &image, const SyntheticFace *faces, int count)
{
    paintYuv(image, [&](int x, int y) {
        for (int k = 0; k < count; ++k) {
            const YuvColour c = syntheticFaceColour(faces[k], x, y);
            if (!(c.y == 90 && c.u == 128 && c.v == 128))
                return c;
        }
        return YuvColour{90, 128, 128};
    });
}
