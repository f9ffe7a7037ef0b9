// Eye template meshes: the four layouts as tables, the builders that read a mask from the
// model blobs and lay out the template side, the face-side placement in the eye's own frame,
// and the Catmull-Rom arc-length resampler.
#include "facesdk/engine/template_mesh.h"

#include <cstring>

#include "facesdk/base/integer_math.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/model_blob.h"

namespace {

// ---- Layouts --------------------------------------------------------------------------------

struct LandmarkConstant {
    uint8_t index;
    int16_t x, y;
};

// One of the four layouts. The vertex list is: border points first .. first + divisions + 1,
// the first corner, the upper curve, the second corner, the lower curve, then the remaining
// border points.
struct EyeLayout {
    int blobGroup;                  // ModelBlobGroup of the masks
    bool mirrored;                  // second eye: the mask mirrored left to right
    LandmarkConstant landmarks[6];  // template positions of the six eye points
    uint8_t upper[4], lower[4];     // curve through these points ...
    uint8_t upperOut, lowerOut;     // ... resampled from these indices
    uint8_t curvePoints;            // 6 or 3 per curve
    uint8_t firstBorder;            // index of the border's top-left point
    uint8_t divisions;              // 7 (sevenths) or 4 (quarters) along top and bottom
    bool middleRight;               // the middle border point sits on the right side
    uint8_t vertexRoom;             // entries allocated for the vertex list
    const int32_t *triangles;       // triples of vertex-list positions
    uint8_t triangleCount;
};

const int32_t kLargeFirstTriangles[42 * 3] = {
    0, 8, 9,    0, 9, 1,    1, 9, 10,   1, 10, 2,   2, 10, 11,  2, 11, 3,   3, 11, 12,
    3, 12, 4,   4, 12, 13,  4, 13, 5,   5, 13, 14,  5, 14, 6,   6, 14, 15,  6, 15, 7,
    7, 15, 16,  9, 10, 17,  10, 17, 11, 11, 17, 18, 11, 18, 12, 12, 18, 19, 12, 19, 13,
    13, 19, 20, 13, 20, 14, 14, 20, 21, 14, 21, 15, 15, 21, 22, 15, 16, 22, 8, 9, 23,
    9, 23, 24,  9, 17, 24,  17, 24, 25, 17, 18, 25, 18, 25, 26, 18, 19, 26, 19, 26, 27,
    19, 20, 27, 20, 27, 28, 20, 21, 28, 21, 28, 29, 21, 22, 29, 22, 29, 16, 16, 29, 30,
};
const int32_t kLargeSecondTriangles[42 * 3] = {
    0, 9, 10,   0, 10, 1,   1, 10, 11,  1, 11, 2,   2, 11, 12,  2, 12, 3,   3, 12, 13,
    3, 13, 4,   4, 13, 14,  4, 14, 5,   5, 14, 15,  5, 15, 6,   6, 15, 16,  6, 16, 7,
    7, 8, 16,   9, 10, 17,  10, 17, 11, 11, 17, 18, 11, 18, 12, 12, 18, 19, 12, 19, 13,
    13, 19, 20, 13, 20, 14, 14, 20, 21, 14, 21, 15, 15, 21, 22, 15, 16, 22, 9, 23, 24,
    9, 24, 17,  17, 24, 18, 18, 24, 25, 18, 25, 19, 19, 25, 26, 19, 26, 20, 20, 26, 27,
    20, 27, 21, 21, 27, 28, 21, 28, 22, 22, 28, 29, 22, 16, 29, 16, 29, 30, 16, 8, 30,
};
const int32_t kSmallFirstTriangles[25 * 3] = {
    0, 5, 6,    0, 6, 1,    1, 6, 7,    1, 7, 2,    2, 7, 8,    2, 8, 3,    3, 8, 9,
    3, 9, 4,    4, 9, 10,   6, 7, 11,   7, 11, 8,   8, 11, 12,  8, 12, 9,   9, 12, 13,
    9, 10, 13,  5, 6, 14,   6, 14, 15,  6, 11, 15,  11, 15, 16, 11, 12, 16, 12, 16, 17,
    12, 13, 17, 13, 17, 10, 10, 17, 18, 4, 10, 18,
};
const int32_t kSmallSecondTriangles[25 * 3] = {
    0, 6, 7,    0, 7, 1,    1, 7, 8,    1, 8, 2,    2, 8, 9,    2, 9, 3,    3, 9, 10,
    3, 10, 4,   4, 5, 10,   0, 6, 14,   6, 7, 11,   7, 11, 8,   8, 11, 12,  8, 12, 9,
    9, 12, 13,  9, 10, 13,  6, 14, 15,  6, 15, 11,  11, 15, 12, 12, 15, 16, 12, 16, 13,
    13, 16, 17, 13, 10, 17, 10, 17, 18, 10, 5, 18,
};

const EyeLayout kLargeFirst = {
    kBlobsEyePairs, false,
    {{15, 71, 192}, {16, 161, 149}, {17, 300, 151}, {12, 414, 215}, {13, 289, 215}, {14, 165, 213}},
    {15, 16, 17, 12}, {15, 14, 13, 12}, 100, 106, 6, 112, 7, false, 32,
    kLargeFirstTriangles, 42};
const EyeLayout kLargeSecond = {
    kBlobsEyePairs, true,
    {{18, 0, 215}, {19, 115, 151}, {20, 253, 149}, {21, 343, 192}, {22, 249, 213}, {23, 125, 215}},
    {18, 19, 20, 21}, {18, 23, 22, 21}, 150, 156, 6, 162, 7, true, 32,
    kLargeSecondTriangles, 42};
const EyeLayout kSmallFirst = {
    kBlobsEyeLayers, false,
    {{15, 52, 67}, {16, 71, 51}, {17, 108, 49}, {12, 131, 68}, {13, 104, 76}, {14, 77, 80}},
    {15, 16, 17, 12}, {15, 14, 13, 12}, 100, 103, 3, 106, 4, false, 20,
    kSmallFirstTriangles, 25};
const EyeLayout kSmallSecond = {
    kBlobsEyeLayers, true,
    {{18, 19, 68}, {19, 42, 49}, {20, 79, 51}, {21, 98, 67}, {22, 73, 80}, {23, 46, 76}},
    {18, 19, 20, 21}, {18, 23, 22, 21}, 150, 153, 3, 156, 4, true, 20,
    kSmallSecondTriangles, 25};

// 65536 / 7 and 65536 / 4: the step of sevenths and quarters in 16.16.
int32_t divisionStep(int divisions) { return divisions == 7 ? 9362 : 16384; }

// ---- Fixed-point helpers --------------------------------------------------------------------

// v / 65536 to the nearest integer, halves away from zero.
int32_t round16(int64_t v) { return int32_t((((v < 0 ? v - 1 : v) >> 15) + 1) >> 1); }

// Point at the fraction f (16.16) of the way from s to e, each coordinate rounded.
VXL_POINT fractionPoint(VXL_POINT s, VXL_POINT e, int64_t f)
{
    return {round16(int64_t(e.x) * f + int64_t(s.x) * (65536 - f)),
            round16(int64_t(e.y) * f + int64_t(s.y) * (65536 - f))};
}

// Fills points first+1 .. first+count-1 at even fractions between points first and last.
void fillDivisions(VXL_POINT *points, int first, int last, int divisions)
{
    for (int i = 1; i < divisions; ++i)
        points[first + i] = fractionPoint(points[first], points[last],
                                          int64_t(divisionStep(divisions)) * i);
}

// ---- Template side --------------------------------------------------------------------------

void writeTemplateBorder(const EyeLayout &layout, VXL_POINT *points, int32_t w, int32_t h)
{
    const int b = layout.firstBorder, k = layout.divisions;
    points[b] = {0, 0};
    points[b + k] = {w - 1, 0};
    points[b + k + 1] = {layout.middleRight ? w - 1 : 0, h / 2};
    points[b + k + 2] = {0, h - 1};
    points[b + 2 * k + 2] = {w - 1, h - 1};
    fillDivisions(points, b, b + k, k);
    fillDivisions(points, b + k + 2, b + 2 * k + 2, k);
}

int resampleInto(InnerEngine *inner, VXL_POINT *points, const uint8_t (&through)[4], int out,
                 int count)
{
    const VXL_POINT curve[4] = {points[through[0]], points[through[1]], points[through[2]],
                                points[through[3]]};
    return resamplePolyline(inner, curve, 4, points + out, count);
}

void buildFromLayout(InnerEngine *inner, TemplateMesh *mesh, const EyeLayout &layout, int entry)
{
    std::memset(mesh, 0, sizeof(TemplateMesh));
    if (!inner)
        return;
    EngineAllocator *allocator = inner->allocator;
    if (const uint8_t *record = engineBlobRecord(inner, layout.blobGroup, entry))
        loadTemplateImages(inner, record, byteArrayCapacity(record), nullptr, &mesh->mask);
    if (layout.mirrored)
        mirrorGreyRows(&mesh->mask);  // refuses an empty mask
    if (!imageValid(&mesh->mask))
        return;

    const uint32_t pointBytes = kTemplatePointSlots * sizeof(VXL_POINT);
    mesh->points = static_cast<VXL_POINT *>(allocatorAlloc(allocator, pointBytes));
    if (!mesh->points)
        return;
    std::memset(mesh->points, 0, pointBytes);
    for (const LandmarkConstant &c : layout.landmarks)
        mesh->points[c.index] = {c.x, c.y};
    if (resampleInto(inner, mesh->points, layout.upper, layout.upperOut, layout.curvePoints) ||
        resampleInto(inner, mesh->points, layout.lower, layout.lowerOut, layout.curvePoints))
        return;  // without its curves the mesh stays unpainted
    writeTemplateBorder(layout, mesh->points, mesh->mask.width, mesh->mask.height);

    mesh->vertices = static_cast<uint8_t *>(allocatorAlloc(allocator, layout.vertexRoom));
    mesh->triangles = static_cast<int32_t *>(
        allocatorAlloc(allocator, uint32_t(layout.triangleCount) * 3 * sizeof(int32_t)));
    if (!mesh->vertices || !mesh->triangles)
        return;
    uint8_t count = 0;
    const int b = layout.firstBorder, k = layout.divisions;
    for (int i = b; i <= b + k + 1; ++i)
        mesh->vertices[count++] = uint8_t(i);
    mesh->vertices[count++] = layout.upper[0];
    for (int i = 0; i < layout.curvePoints; ++i)
        mesh->vertices[count++] = uint8_t(layout.upperOut + i);
    mesh->vertices[count++] = layout.upper[3];
    for (int i = 0; i < layout.curvePoints; ++i)
        mesh->vertices[count++] = uint8_t(layout.lowerOut + i);
    for (int i = b + k + 2; i <= b + 2 * k + 2; ++i)
        mesh->vertices[count++] = uint8_t(i);
    std::memcpy(mesh->triangles, layout.triangles,
                size_t(layout.triangleCount) * 3 * sizeof(int32_t));
    mesh->triangleCount = layout.triangleCount;
    mesh->vertexCount = count;
}

int eyeDarkEntry(const InnerEngine *inner)
{
    const int level = inner ? int(inner->settings.eyeDark.level) : 0;
    const int entry = level - 1;
    return entry < 0 ? 0 : (entry > 5 ? 5 : entry);
}

// ---- Face side ------------------------------------------------------------------------------

// Offsets in the eye's frame (a along the corner line, b across it, negative b upwards)
// turned to the image by the frame's angle.
struct EyeFrame {
    int32_t sn, cs;  // 16.16

    explicit EyeFrame(const VXL_POINT *points)
    {
        int32_t theta = 0;
        vectorAngleDegrees(points[15], points[12], &theta);
        const int32_t k = turnIndex5(theta);
        sn = sineTable5Fixed[k];
        cs = cosineTable5Fixed[k];
    }
    VXL_POINT at(VXL_POINT origin, int32_t a, int32_t b) const
    {
        return {origin.x + round16(int64_t(a) * cs) + round16(int64_t(b) * sn),
                origin.y + round16(int64_t(b) * cs) - round16(int64_t(a) * sn)};
    }
};

int32_t cornerDistance(VXL_POINT p, VXL_POINT q)
{
    const int64_t dx = p.x - q.x, dy = p.y - q.y;
    const uint64_t squared = uint64_t(dx * dx + dy * dy);
    return int32_t(squared > UINT32_MAX ? isqrt64(squared) : isqrt32(uint32_t(squared)));
}

}  // namespace

// ---- Builders -------------------------------------------------------------------------------

void buildEyeMeshLevelA(InnerEngine *inner, TemplateMesh *mesh)
{
    EyeLayout layout = kLargeFirst;
    layout.blobGroup = kBlobsEyeDark;
    buildFromLayout(inner, mesh, layout, eyeDarkEntry(inner));
}

void buildEyeMeshLevelB(InnerEngine *inner, TemplateMesh *mesh)
{
    EyeLayout layout = kLargeSecond;
    layout.blobGroup = kBlobsEyeDark;
    buildFromLayout(inner, mesh, layout, eyeDarkEntry(inner));
}

void buildEyeMeshA(InnerEngine *inner, TemplateMesh *mesh, uint8_t index)
{
    buildFromLayout(inner, mesh, kLargeFirst, index > 11 ? 11 : index);
}

void buildEyeMeshB(InnerEngine *inner, TemplateMesh *mesh, uint8_t index)
{
    buildFromLayout(inner, mesh, kLargeSecond, index > 11 ? 11 : index);
}

void buildEyeMeshSmallA(InnerEngine *inner, TemplateMesh *mesh, uint8_t index)
{
    if (index >= 12) {
        std::memset(mesh, 0, sizeof(TemplateMesh));
        return;
    }
    buildFromLayout(inner, mesh, kSmallFirst, index);
}

void buildEyeMeshSmallB(InnerEngine *inner, TemplateMesh *mesh, uint8_t index)
{
    if (index >= 12) {
        std::memset(mesh, 0, sizeof(TemplateMesh));
        return;
    }
    buildFromLayout(inner, mesh, kSmallSecond, index);
}

int releaseTemplateMesh(InnerEngine *inner, TemplateMesh *mesh)
{
    if (!inner || !mesh)
        return kResultOk;
    imageRelease(inner->allocator, &mesh->picture);
    imageRelease(inner->allocator, &mesh->mask);
    allocatorFree(inner->allocator, mesh->points);
    allocatorFree(inner->allocator, mesh->vertices);
    allocatorFree(inner->allocator, mesh->triangles);
    std::memset(mesh, 0, sizeof(TemplateMesh));
    return kResultOk;
}

// ---- Face side ------------------------------------------------------------------------------

void placeRegionPointsA(InnerEngine *, VXL_POINT *p)
{
    const EyeFrame frame(p);
    const int32_t d = cornerDistance(p[15], p[12]);
    const int32_t a0 = -23 * d / 100, top = -58 * d / 100, bottom = 35 * d / 100;
    p[112] = frame.at(p[15], a0, top);
    p[119] = frame.at(p[12], 0, top);
    p[120] = frame.at(p[15], a0, 0);
    p[121] = frame.at(p[15], a0, bottom);
    p[128] = frame.at(p[12], 0, bottom);

    const int32_t d2 = cornerDistance(p[18], p[21]);
    const int32_t a1 = 23 * d2 / 100, top2 = -58 * d2 / 100, bottom2 = 35 * d2 / 100;
    p[162] = frame.at(p[18], 0, top2);
    p[169] = frame.at(p[21], a1, top2);
    p[170] = frame.at(p[21], a1, 0);
    p[171] = frame.at(p[18], 0, bottom2);
    p[178] = frame.at(p[21], a1, bottom2);

    fillDivisions(p, 112, 119, 7);
    fillDivisions(p, 121, 128, 7);
    fillDivisions(p, 162, 169, 7);
    fillDivisions(p, 171, 178, 7);
}

void placeRegionPointsB(InnerEngine *, VXL_POINT *p)
{
    const EyeFrame frame(p);
    const int32_t d = cornerDistance(p[15], p[12]);
    const int32_t k1 = -200 * d / 313, k2 = -280 * d / 313, k3 = 80 * d / 313,
                  k4 = 140 * d / 313;
    p[106] = frame.at(p[15], k1, k2);
    p[110] = frame.at(p[12], k3, k2);
    p[111] = frame.at(p[15], k1, 0);
    p[112] = frame.at(p[15], k1, k4);
    p[116] = frame.at(p[12], k3, k4);

    const int32_t e = cornerDistance(p[18], p[21]);
    const int32_t m1 = 200 * e / 313, m2 = -280 * e / 313, m3 = -80 * e / 313,
                  m4 = 140 * e / 313;
    p[156] = frame.at(p[18], m3, m2);
    p[160] = frame.at(p[21], m1, m2);
    p[161] = frame.at(p[21], m1, 0);
    p[162] = frame.at(p[18], m3, m4);
    p[166] = frame.at(p[21], m1, m4);

    fillDivisions(p, 106, 110, 4);
    fillDivisions(p, 112, 116, 4);
    fillDivisions(p, 156, 160, 4);
    fillDivisions(p, 162, 166, 4);
}

void resampleCurve6(InnerEngine *inner, VXL_POINT *points, int i0, int i1, int i2, int i3,
                    int out)
{
    const uint8_t through[4] = {uint8_t(i0), uint8_t(i1), uint8_t(i2), uint8_t(i3)};
    resampleInto(inner, points, through, out, 6);
}

void resampleCurve3(InnerEngine *inner, VXL_POINT *points, int i0, int i1, int i2, int i3,
                    int out)
{
    const uint8_t through[4] = {uint8_t(i0), uint8_t(i1), uint8_t(i2), uint8_t(i3)};
    resampleInto(inner, points, through, out, 3);
}

// ---- Curves and angles ----------------------------------------------------------------------

int resamplePolyline(InnerEngine *inner, const VXL_POINT *points, int n, VXL_POINT *out, int m)
{
    if (n < 2)
        return kResultFailed;
    if (!inner || !points || !out || m < 1)
        return kResultBadArgument;
    // Segment lengths in 1/1024 pixel; the extended array doubles both end points.
    const uint32_t extendedBytes = uint32_t(n + 2) * sizeof(VXL_POINT);
    const uint32_t lengthBytes = uint32_t(n) * sizeof(int64_t);
    auto *extended = static_cast<VXL_POINT *>(allocatorAlloc(inner->allocator, extendedBytes));
    auto *lengths = static_cast<int64_t *>(allocatorAlloc(inner->allocator, lengthBytes));
    if (!extended || !lengths) {
        allocatorFree(inner->allocator, extended);
        allocatorFree(inner->allocator, lengths);
        return kResultNoMemory;
    }
    int64_t total = 0;
    for (int s = 1; s < n; ++s) {
        const int64_t dx = points[s].x - points[s - 1].x, dy = points[s].y - points[s - 1].y;
        lengths[s] = int64_t(isqrt64(uint64_t(dx * dx + dy * dy) << 20));
        total += lengths[s];
    }
    extended[0] = points[0];
    for (int i = 0; i < n; ++i)
        extended[i + 1] = points[i];
    extended[n + 1] = points[n - 1];

    const int64_t step = total / (m + 1);
    int64_t pos = 0;
    int written = 0;
    for (int s = 1; s < n && written < m && step > 0; ++s) {
        const int64_t length = lengths[s];
        pos += step;
        while (pos < length && written < m) {
            const int64_t t = pos * 1024 / length;
            const int64_t t2 = (t * t) >> 10, t3 = (t2 * t) >> 10;
            const int64_t w0 = 2 * t2 - t3 - t, w1 = 2048 - 5 * t2 + 3 * t3;
            const int64_t w2 = t + 4 * t2 - 3 * t3, w3 = t3 - t2;
            const VXL_POINT &a = extended[s - 1], &b = extended[s], &c = extended[s + 1],
                            &d = extended[s + 2];
            const int64_t x = (w0 * a.x + w1 * b.x + w2 * c.x + w3 * d.x) / 2;
            const int64_t y = (w0 * a.y + w1 * b.y + w2 * c.y + w3 * d.y) / 2;
            out[written++] = {roundQ10(int32_t(x)), roundQ10(int32_t(y))};
            pos += step;
        }
        pos -= length + step;
    }
    allocatorFree(inner->allocator, extended);
    allocatorFree(inner->allocator, lengths);
    return kResultOk;
}

void vectorAngleDegrees(VXL_POINT a, VXL_POINT b, int32_t *angle)
{
    const int64_t dx = int64_t(a.x) - b.x, dy = int64_t(a.y) - b.y;
    const int64_t distance = dx * dx + dy * dy;
    if (distance == 0) {
        *angle = 0;
        return;
    }
    auto degrees = [distance](int64_t q) {
        const uint32_t ratio = uint32_t(uint64_t(q) * 65536 / uint64_t(distance));
        return nearestIndexSorted(kSineTableDegrees, 91, int32_t(isqrt32(ratio) * 256));
    };
    if (dx <= 0 && dy <= 0)
        *angle = degrees(dy * dy);
    else if (dy > 0)
        *angle = dx < 0 ? degrees(dx * dx) - 90 : degrees(dy * dy) - 180;
    else
        *angle = degrees(dx * dx) + 90;
}
