// The portrait light. Divided into: the face geometry read from the mesh; the landmark check plane;
// the pass (mask, corrected copy, blend) and its pipeline step.
#include "vizoruv/platform/portrait_light.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "editing/model/records/vxl_params.h"
#include "vizoruv/adjust/adjustment_layer.h"
#include "vizoruv/adjust/engine_params.h"
#include "vizoruv/adjust/mask_planes.h"
#include "vizoruv/adjust/masked_blend.h"
#include "vizoruv/platform/engine_session.h"
#include "vizoruv/platform/mask_raster.h"
#include "vizoruv/platform/pipeline.h"
#include "vizoruv/platform/vxl_platform_win.h"

namespace {

// Landmarks of the face mesh the ellipse is built from.
constexpr int kOutlinePoints[] = {127, 143, 154, 6, 463, 380, 249, 446, 265, 356};
constexpr int kNoseBridge = 6, kChin = 152, kForehead = 10, kNoseTip = 5, kChinFront = 199;
constexpr int kRightEyeOuter = 33, kLeftEyeOuter = 263;

constexpr float kWidthMargin = 1.25f;
constexpr float kHeightMargin = 1.1f;
constexpr float kExposureGain = 1.5f;  // engine exposure strength per step of light
constexpr int kFullStrength = 100;

struct Point {
    float x, y, z;
};

Point point(const float* record, int k)
{
    return Point{record[3 * k], record[3 * k + 1], record[3 * k + 2]};
}

float planeDistance(const Point& a, const Point& b)
{
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y));
}

ImageView maskView(const MaskPlane& plane)
{
    ImageView view{};
    view.format = kImageFormat8;
    view.width = plane.width;
    view.height = plane.height;
    view.rowBytes = plane.rowBytes;
    view.bytesPerPixel = 1;
    view.data[0] = view.data[1] = view.data[2] = const_cast<std::uint8_t*>(plane.pixels.data());
    return view;
}

ImageView viewOn(const ImageView& image, std::uint8_t* pixels)
{
    ImageView view = image;
    for (int c = 0; c < 3; ++c)
        view.data[c] = pixels + (image.data[c] - image.data[0]);
    return view;
}

// One face's placed plane (0 inside the ellipse), or an empty plane when it cannot be drawn.
MaskPlane facePlane(const ImageView& image, const float* record, int feather, float aspect, float* scale)
{
    LayerMask ellipse;
    faceEllipseFromMesh(&ellipse, record, feather);
    const std::vector<std::uint8_t> raster = rasterizeMask(ellipse, aspect, scale, kPortraitMaskSide);
    if (raster.empty())
        return MaskPlane();
    const MaskTransform whole = defaultMaskTransform();
    const MaskPlane turned =
        transformMaskPlane(ellipse, raster.data(), kPortraitMaskSide, aspect, *scale, whole, kSampleBicubic);
    if (turned.pixels.empty())
        return MaskPlane();
    return placeMaskPlane(image.width, image.height, whole, ellipse, turned.pixels.data(), turned.width,
                          turned.height, false);
}

// The faces' planes folded into one: 0 inside any ellipse, 255 only where every plane is 255.
MaskPlane combinedFaceMask(const ImageView& image, int faceCount, const float* records, int feather)
{
    const float aspect = float(image.width) / float(image.height);
    float scale = 1.0f;
    MaskPlane combined;
    for (int i = 0; i < faceCount; ++i) {
        const MaskPlane plane = facePlane(image, records + size_t(i) * kFaceMeshRecordFloats, feather, aspect, &scale);
        if (plane.pixels.empty() || plane.width != image.width || plane.height != image.height)
            continue;
        if (combined.pixels.empty()) {
            combined = plane;
            continue;
        }
        for (size_t k = 0; k < combined.pixels.size() && k < plane.pixels.size(); ++k)
            combined.pixels[k] = std::uint8_t(std::max(0, plane.pixels[k] + combined.pixels[k] - 255));
    }
    return combined;
}

void correctExposure(const ImageView& copy, bool bgrOrder, EngineSession* session, int light, int depth)
{
    if (!session || !session->profile || !session->platform)
        return;
    VXLParams block{};
    block.ASSOn = false;
    block.bGroupTone = true;
    block.exposureOn = true;
    block.strength = int(std::trunc(light * kExposureGain));
    block.vexoOpacity = kFullStrength;
    if (depth > 0) {
        block.contrastOn = true;
        block.contrastMode = 0;
        block.contrast = float(depth) / 100.0f;
    }
    AdjustmentLayer layer;
    newLayer(&layer);
    fillLayerFromParams(&layer, block);
    const VXLPlatformWin* platform = session->platform;
    const EngineCalls engine{&platform->engine(), platform->engineHandle(), platform->hostRecordHandOver()};
    engineAdjust(engine, layer, copy, session->profile, nullptr, false, nullptr, bgrOrder);  // answer ignored
}

void markLandmarksOn(const ImageView& image, int faceCount, const float* records)
{
    int rowBytes = 0;
    std::vector<std::uint8_t> marks = stampLandmarkMask(image.width, image.height, faceCount, records, &rowBytes);
    if (marks.empty())
        return;
    std::vector<std::uint8_t> black;
    try {
        black.assign(size_t(image.rowBytes) * size_t(image.height), 0);
    } catch (const std::bad_alloc&) {
        return;
    }
    MaskPlane plane;
    plane.pixels = std::move(marks);
    plane.width = image.width;
    plane.height = image.height;
    plane.rowBytes = rowBytes;
    const ImageView markView = maskView(plane);
    maskedBlend(viewOn(image, black.data()), image, kFullStrength, &markView, false);
}

}  // namespace

// ---- Face geometry ------------------------------------------------------------------------------

void faceWidthExtent(const float* record, float* minX, float* maxX)
{
    float lo = 1.0f, hi = 0.0f;
    for (int k : kOutlinePoints) {
        lo = std::min(lo, record[3 * k]);
        hi = std::max(hi, record[3 * k]);
    }
    *minX = lo;
    *maxX = hi;
}

void faceEllipseFromMesh(LayerMask* out, const float* record, int feather)
{
    float minX = 1.0f, maxX = 0.0f;
    faceWidthExtent(record, &minX, &maxX);
    const Point bridge = point(record, kNoseBridge), forehead = point(record, kForehead);
    const Point chinFront = point(record, kChinFront);
    const float height = (planeDistance(bridge, point(record, kChin)) + planeDistance(bridge, forehead)) * kHeightMargin;
    // The face leans back or forward: its centre moves along the tilt of the forehead-to-chin line.
    const float tiltLength = planeDistance(forehead, chinFront);
    const float tilt = tiltLength > 0.0f ? (chinFront.z - forehead.z) / tiltLength : 0.0f;
    const Point eyeA = point(record, kRightEyeOuter), eyeB = point(record, kLeftEyeOuter);
    const float eyeDistance = planeDistance(eyeA, eyeB);
    const float sine = eyeDistance > 0.0f ? std::clamp((eyeB.y - eyeA.y) / eyeDistance, -1.0f, 1.0f) : 0.0f;

    std::memset(out, 0, sizeof *out);
    out->type = kMaskEllipse;
    out->width = (maxX - minX) * kWidthMargin;
    out->centerX = minX + (maxX - minX) * 0.5f;
    out->height = height;
    out->centerY = (1.0f - point(record, kNoseTip).y) + tilt * height * 0.25f;
    out->angle = std::asin(sine) * 180.0f / 3.1415926f;
    out->feather = float(feather) * 0.8f / 100.0f + 0.2f;
}

// ---- Landmark check plane -----------------------------------------------------------------------

std::vector<std::uint8_t> stampLandmarkMask(int width, int height, int faceCount, const float* records,
                                            int* rowBytes)
{
    if (rowBytes)
        *rowBytes = std::max(width, 0);
    if (width < 1 || height < 1)
        return {};
    std::vector<std::uint8_t> plane(size_t(width) * size_t(height), 0);
    if (!records)
        return plane;
    // A square side larger than the image is cut to it.
    const int side = std::min({std::max(2, int(std::trunc(width * 0.005))), width, height});
    for (int f = 0; f < faceCount; ++f) {
        const float* record = records + size_t(f) * kFaceMeshRecordFloats;
        for (int k = 0; k < kStampedMeshPoints; ++k) {
            const Point p = point(record, k);
            if (!std::isfinite(p.x) || !std::isfinite(p.y))
                continue;
            const int x0 = int(std::clamp(std::trunc(double(width) * p.x - side), 0.0, double(width - side)));
            const int y0 = int(std::clamp(std::trunc(double(height) * p.y - side), 0.0, double(height - side)));
            for (int y = y0; y < y0 + side; ++y)
                std::memset(plane.data() + size_t(y) * width + x0, 255, size_t(side));
        }
    }
    return plane;
}

// ---- The pass -----------------------------------------------------------------------------------

bool applyPortraitLight(const ImageView& image, bool bgrOrder, EngineSession* session, int faceCount,
                        const float* records, int light, int depth, int feather, bool markLandmarks)
{
    if (faceCount < 1 || !records || light < 1 || image.width < 1 || image.height < 1 || image.rowBytes < 1 ||
        !image.data[0])
        return true;
    const MaskPlane mask = combinedFaceMask(image, faceCount, records, feather);
    if (!mask.pixels.empty()) {
        std::vector<std::uint8_t> pixels;
        try {
            pixels.assign(image.data[0], image.data[0] + size_t(image.rowBytes) * size_t(image.height));
        } catch (const std::bad_alloc&) {
            pixels.clear();
        }
        if (!pixels.empty()) {
            const ImageView copy = viewOn(image, pixels.data());
            correctExposure(copy, bgrOrder, session, light, depth);
            const ImageView faces = maskView(mask);
            // The ellipses are drawn as their outside: 0 takes the corrected copy.
            maskedBlend(copy, image, kFullStrength, &faces, true);
        }
    }
    if (markLandmarks)
        markLandmarksOn(image, faceCount, records);
    return true;
}

bool portraitLightStep(EngineSession* session, const ImageView& image, bool bgrOrder, int light, int depth,
                       int feather)
{
    if (!session || !session->platform)
        return true;
    const FaceMeshList& mesh = session->platform->faceMesh();
    return applyPortraitLight(image, bgrOrder, session, mesh.count(), mesh.record(0), light, depth, feather, false);
}
