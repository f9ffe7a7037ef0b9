#include "editing/model/records/face_box.h"

#include <cmath>

void faceBoxFromEyes(VXL_FACE* face)
{
    const float dx = float(face->eye2X - face->eye1X);
    const float dy = float(face->eye1Y - face->eye2Y);
    float a = float(std::atan2(double(dy), double(dx)) * 360.0 / 6.2831853);
    if (a < 0)
        a += 360.0f;
    face->roll = int32_t(a <= 180.0f ? -a : 360.0f - a);
    const float side = float(std::sqrt(dx * dx + dy * dy) * 2.2f);
    const float cx = float(face->eye1X) + (dx + dy) / 2;
    const float cy = float(face->eye1Y) - (dy - dx) / 2;
    face->x = int32_t(cx - side / 2);
    face->y = int32_t(cy - side / 2);
    face->width = int32_t(side);
    face->height = int32_t(side);
}
