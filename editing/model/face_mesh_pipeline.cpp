// The face-mesh landmark pipeline. Divisions: index groups, helpers, box helpers, shear rotation,
// detection pass, fitting, coefficients and face records, the pipeline, the document's runner.
#include "editing/model/face_mesh_pipeline.h"

#include "editing/model/qvxl_platform.h"
#include "editing/model/vxl_image.h"
#include "manager/app/environment.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

// ---- Landmark index groups ----------------------------------------------------------------------

constexpr int kOutlineGroup[] = {10,  338, 297, 332, 284, 251, 389, 356, 454, 323, 361, 288,
                                 397, 365, 379, 378, 400, 377, 152, 148, 176, 149, 150, 136,
                                 172, 58,  132, 93,  234, 127, 162, 21,  54,  103, 67,  109};
constexpr int kMouthGroup[] = {61, 146, 91, 181, 84, 17, 314, 405, 321, 375,
                               291, 185, 40, 39, 37, 0, 267, 269, 270, 409};
constexpr int kEyeGroupA[] = {362, 382, 381, 380, 374, 373, 390, 249, 263, 466, 388, 387, 386, 385, 384, 398};
constexpr int kIrisGroupA[] = {474, 475, 476, 477};
constexpr int kEyeGroupB[] = {33, 7, 163, 144, 145, 153, 154, 155, 133, 173, 157, 158, 159, 160, 161, 246};
constexpr int kIrisGroupB[] = {469, 470, 471, 472};
constexpr int kCoefficientInput[kCoefficientInputPoints] = {
    0,   1,   4,   5,   6,   7,   8,   10,  13,  14,  17,  21,  33,  37,  39,  40,  46,  52,  53,  54,
    55,  58,  61,  63,  65,  66,  67,  70,  78,  80,  81,  82,  84,  87,  88,  91,  93,  95,  103, 105,
    107, 109, 127, 132, 133, 136, 144, 145, 146, 148, 149, 150, 152, 153, 154, 155, 157, 158, 159, 160,
    161, 162, 163, 168, 172, 173, 176, 178, 181, 185, 191, 195, 197, 234, 246, 249, 251, 263, 267, 269,
    270, 276, 282, 283, 284, 285, 288, 291, 293, 295, 296, 297, 300, 308, 310, 311, 312, 314, 317, 318,
    321, 323, 324, 332, 334, 336, 338, 356, 361, 362, 365, 373, 374, 375, 377, 378, 379, 380, 381, 382,
    384, 385, 386, 387, 388, 389, 390, 397, 398, 400, 402, 405, 409, 415, 454, 466, 468, 469, 470, 471,
    472, 473, 474, 475, 476, 477};

// ---- Helpers ------------------------------------------------------------------------------------

constexpr int kPass1Threshold = 85;
constexpr int kSingleFaceThreshold = 75;
constexpr int kPass2ThresholdSingleFace = 75;
constexpr int kPass2Threshold = 60;
constexpr float kPass1MinimumArea = 0.04f;
constexpr float kCropScale = 2.0f;
constexpr float kLevelledRollLimit = 8.0f;  // degrees; within it a crop is used unrotated
constexpr float kMaxOverlap = 0.3f;
constexpr double kDegreesPerRadian = 57.295776;
constexpr uint8_t kCanvasFill = 127;

int bytesPerPixel(const PipelineImage& image) { return image.channelKind == kChannelsRgba ? 4 : 3; }

PipelineImage subImage(const PipelineImage& image, int x, int y, int width, int height)
{
    return PipelineImage{width, height, image.rowBytes, image.channelKind,
                         image.pixels + size_t(y) * size_t(image.rowBytes) + size_t(x) * size_t(bytesPerPixel(image))};
}

// Runs a model with freshly lent result areas; answers whether it succeeded, area 2 copied into out.
struct ModelCall {
    std::unique_ptr<ModelResultAreas> areas{new (std::nothrow) ModelResultAreas()};

    bool run(FaceModel* model, const void* data, int width, int height, int rowBytes, int fourChannel)
    {
        if (!areas)
            return false;
        const ModelRunResult result =
            model->run(data, width, height, rowBytes, 0, 0, fourChannel, areas->area1, areas->area2, areas->area3);
        return result.succeeded != 0;
    }
    const uint8_t* area2() const { return areas->area2; }
};

// Scales a picture into a zero-filled N x N model input at the given offset and content size.
std::unique_ptr<uint8_t[]> makeModelInput(const PipelineImage& image, int side, int offsetX, int offsetY,
                                          int contentWidth, int contentHeight)
{
    const int bpp = bytesPerPixel(image);
    const size_t bytes = size_t(side) * size_t(side) * size_t(bpp);
    std::unique_ptr<uint8_t[]> input(new (std::nothrow) uint8_t[bytes]);
    if (!input)
        return nullptr;
    std::memset(input.get(), 0, bytes);
    uint8_t* target = input.get() + (size_t(offsetY) * size_t(side) + size_t(offsetX)) * size_t(bpp);
    if (!scaleIntoBuffer(image.pixels, target, image.width, image.height, image.rowBytes, contentWidth, contentHeight,
                         side * bpp, false, bpp == 4))
        return nullptr;
    return input;
}

float rollFromKeypoints(const int32_t a[2], const int32_t b[2])
{
    const float dx = float(b[0] - a[0]);
    if (!(dx > 0.1f))
        return 0.0f;
    return float(std::atan(double(b[1] - a[1]) / dx) * kDegreesPerRadian);
}

void setReferenceBox(FaceMeshResult* result, const FaceDetection& top)
{
    result->referenceBox[0] = top.x + top.width / 2;
    result->referenceBox[1] = top.y + top.height / 2;
    result->referenceBox[2] = top.height;
    result->referenceBox[3] = top.width;
    result->referenceBox[4] = 0;
}

void sortByScore(QList<FaceDetection>* list)
{
    std::stable_sort(list->begin(), list->end(),
                     [](const FaceDetection& a, const FaceDetection& b) { return a.score > b.score; });
}

enum class PassOutcome { NothingFound, BelowThreshold, Accepted };

PassOutcome runDetectorPass(FaceModel* detector, const PipelineImage& image, FaceDetection* top, int side,
                            int threshold, QList<FaceDetection>* list)
{
    if (!detector || side <= 0 || image.width <= 0 || image.height <= 0 || !image.pixels)
        return PassOutcome::NothingFound;
    const float aspect = float(image.width) / float(image.height);
    int contentWidth = side;
    int contentHeight = int(float(side) / aspect);
    if (aspect < 1) {
        contentWidth = int(float(side) * aspect);
        contentHeight = side;
    }
    // A picture so thin that it scales to no rows (or columns) gives the detector nothing to see.
    if (contentWidth <= 0 || contentHeight <= 0)
        return PassOutcome::NothingFound;
    const int offsetX = int((side - contentWidth) * 0.5);
    const int offsetY = int((side - contentHeight) * 0.5);
    const int bpp = bytesPerPixel(image);
    std::unique_ptr<uint8_t[]> input = makeModelInput(image, side, offsetX, offsetY, contentWidth, contentHeight);
    if (!input)
        return PassOutcome::NothingFound;
    ModelCall call;
    if (!call.run(detector, input.get(), side, side, side * bpp, bpp == 4 ? 1 : 0))
        return PassOutcome::NothingFound;
    int32_t count = 0;
    std::memcpy(&count, call.area2(), sizeof count);
    if (count <= 0)
        return PassOutcome::NothingFound;
    // A model cannot hand back more records than its area holds.
    count = std::min(count, kMaxDetectorRecords);
    std::vector<DetectorRecord> records(static_cast<size_t>(count));
    std::memcpy(records.data(), call.area2() + sizeof(int32_t), records.size() * sizeof(DetectorRecord));

    int topIndex = 0;
    for (int i = 1; i < count; ++i) {
        if (records[size_t(i)].score > records[size_t(topIndex)].score)
            topIndex = i;
    }
    bool accepted = false;
    for (int i = 0; i < count; ++i) {
        const DetectorRecord& record = records[size_t(i)];
        FaceDetection detection;
        const float relX = std::max(0.0f, float(record.x - offsetX));
        const float relY = std::max(0.0f, float(record.y - offsetY));
        const float right = std::min(float(record.x + record.width), float(offsetX + contentWidth));
        const float bottom = std::min(float(record.y + record.height), float(offsetY + contentHeight));
        detection.x = relX / float(contentWidth);
        detection.y = relY / float(contentHeight);
        detection.width = (right - float(offsetX) - relX) / float(contentWidth);
        detection.height = (bottom - float(offsetY) - relY) / float(contentHeight);
        detection.roll = (rollFromKeypoints(record.keypoints[0], record.keypoints[1]) +
                          rollFromKeypoints(record.keypoints[4], record.keypoints[5])) *
                         0.5f;
        detection.score = record.score;
        if (i == topIndex) {
            *top = detection;
            accepted = record.score > threshold;
        }
        if (list)
            list->append(detection);
    }
    if (list)
        sortByScore(list);
    return accepted ? PassOutcome::Accepted : PassOutcome::BelowThreshold;
}

// Runs the landmark model on one detection and, with a coefficient model, makes its face record.
bool fitAndRecord(FaceMeshResult* result, const PipelineImage& image, const FaceDetection& detection,
                  FaceModel* landmarkModel, FaceModel* coefficientModel)
{
    if (!fitFaceMesh(landmarkModel, detection, kCropScale, image, &result->faces))
        return false;
    if (coefficientModel) {
        QVector<float> coefficients;
        if (refineMeshCoefficients(coefficientModel, result->faces.last(), &coefficients) &&
            makeMeshFaceRecord(result, image.width, image.height, result->faces.last(), coefficients))
            result->records.last().fields[kDetectionScore] = detection.score;
    }
    return true;
}

bool modelDescribes(FaceModel* model, bool detector)
{
    const ModelInfo info = model->describe(true);
    if (info.kind != kModelKindImage || info.ready == 0)
        return false;
    return detector ? info.outputTag == kDetectorOutputTag : info.outputTag != kDetectorOutputTag;
}

// Maps a detection made on a part of the picture (at x0, y0 of size partWidth x partHeight pixels)
// to the whole picture.
FaceDetection toPicture(const FaceDetection& d, int x0, int y0, int partWidth, int partHeight, int width, int height)
{
    FaceDetection mapped = d;
    mapped.x = (float(partWidth) * d.x + float(x0)) / float(width);
    mapped.y = (float(partHeight) * d.y + float(y0)) / float(height);
    mapped.width = float(partWidth) * d.width / float(width);
    mapped.height = float(partHeight) * d.height / float(height);
    return mapped;
}

}  // namespace

// ---- Box helpers --------------------------------------------------------------------------------

bool boxOverlap(const FaceDetection& a, const FaceDetection& b, float* overlap)
{
    *overlap = 0;
    const bool inX = (b.x >= a.x && b.x <= a.x + a.width) || (a.x >= b.x && a.x <= b.x + b.width);
    const bool inY = (b.y >= a.y && b.y <= a.y + a.height) || (a.y >= b.y && a.y <= b.y + b.height);
    if (!inX || !inY)
        return false;
    const float w = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
    const float h = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
    const float intersection = w * h;
    const float unionArea = a.width * a.height + b.width * b.height - intersection;
    *overlap = unionArea > 0 ? intersection / unionArea : 0;
    return true;
}

void expandBox(FaceDetection* out, const FaceDetection& box, float scale)
{
    const float cx = box.x + box.width / 2;
    const float cy = box.y + box.height / 2;
    out->x = std::max(0.0f, cx - scale * box.width / 2);
    out->y = std::max(0.0f, cy - scale * box.height / 2);
    out->width = scale * box.width;
    if (out->x + out->width > 1)
        out->width = 1 - out->x;
    out->height = scale * box.height;
    if (out->y + out->height > 1)
        out->height = 1 - out->y;
    out->score = box.score;
}

// ---- Shear rotation -----------------------------------------------------------------------------

namespace {

// One shear line: pixels step bytes apart in source and destination.
void shearLine(const uint8_t* source, int sourceStep, int length, uint8_t* destination, int destinationStep,
               int destinationLength, int bpp, int offset, double weight, const uint8_t* background)
{
    uint8_t bg[4] = {0, 0, 0, 0};
    if (background)
        std::memcpy(bg, background, 3);  // margins keep a zero fourth byte
    auto fill = [&](int from, int to) {
        for (int i = std::max(0, from); i < std::min(to, destinationLength); ++i)
            std::memcpy(destination + size_t(i) * size_t(destinationStep), bg, size_t(bpp));
    };
    fill(0, offset);
    uint8_t carry[3] = {bg[0], bg[1], bg[2]};
    for (int i = 0; i < length; ++i) {
        const uint8_t* p = source + size_t(i) * size_t(sourceStep);
        uint8_t shifted[3];
        for (int c = 0; c < 3; ++c) {
            const auto left = uint8_t(int((double(p[c]) - bg[c]) * weight + bg[c] + 0.5));
            shifted[c] = uint8_t(p[c] + (carry[c] - left));
            carry[c] = left;
        }
        const int at = i + offset;
        if (at >= 0 && at < destinationLength)
            std::memcpy(destination + size_t(at) * size_t(destinationStep), shifted, 3);
    }
    const int end = length + offset;
    if (end >= 0 && end < destinationLength)
        std::memcpy(destination + size_t(end) * size_t(destinationStep), carry, 3);
    fill(end + 1, destinationLength);
}

struct Canvas {
    PipelineImage image{};
    std::unique_ptr<uint8_t[]> bytes;

    bool allocate(int width, int height, int32_t channelKind)
    {
        const int bpp = channelKind == kChannelsRgba ? 4 : 3;
        const size_t size = size_t(width) * size_t(height) * size_t(bpp);
        bytes.reset(new (std::nothrow) uint8_t[std::max<size_t>(size, 1)]);
        if (!bytes)
            return false;
        std::memset(bytes.get(), kCanvasFill, size);
        image = PipelineImage{width, height, width * bpp, channelKind, bytes.get()};
        return true;
    }
};

}  // namespace

void shearRow(const PipelineImage& source, int sourceRow, PipelineImage* destination, int destinationRow,
              int offset, double weight, const uint8_t* background)
{
    const int bpp = bytesPerPixel(source);
    shearLine(source.pixels + size_t(sourceRow) * size_t(source.rowBytes), bpp, source.width,
              destination->pixels + size_t(destinationRow) * size_t(destination->rowBytes), bpp,
              destination->width, bpp, offset, weight, background);
}

void shearColumn(const PipelineImage& source, int sourceColumn, PipelineImage* destination,
                 int destinationColumn, int offset, double weight, const uint8_t* background)
{
    const int bpp = bytesPerPixel(source);
    shearLine(source.pixels + size_t(sourceColumn) * size_t(bpp), source.rowBytes, source.height,
              destination->pixels + size_t(destinationColumn) * size_t(bpp), destination->rowBytes,
              destination->height, bpp, offset, weight, background);
}

bool rotateByShears(const PipelineImage& image, PipelineImage* rotated, double angle, const uint8_t* background)
{
    const double theta = angle * M_PI / 180.0;
    const double s = std::sin(theta);
    const double t = std::tan(theta / 2);
    const double c = std::cos(theta);
    const int w = image.width;
    const int h = image.height;

    Canvas first;
    const int width1 = w + int(std::fabs(t) * h + 0.5);
    if (!first.allocate(width1, h, image.channelKind))
        return false;
    for (int i = 0; i < h; ++i) {
        const double f = ((t >= 0 ? i : i - h) + 0.5) * t;
        shearRow(image, i, &first.image, i, int(std::floor(f)), f - std::floor(f), background);
    }

    Canvas second;
    const int height2 = int(w * std::fabs(s) + h * c + 0.5) + 1;
    if (!second.allocate(width1, height2, image.channelKind))
        return false;
    double m = s > 0 ? (w - 1) * s : (width1 - w) * s;
    for (int u = 0; u < width1; ++u) {
        shearColumn(first.image, u, &second.image, u, int(std::floor(m)), m - std::floor(m), background);
        m -= s;
    }
    first = Canvas();

    Canvas third;
    const int width3 = int(w * c + h * std::fabs(s) + 0.5) + 1;
    if (!third.allocate(width3, height2, image.channelKind))
        return false;
    double r = s >= 0 ? -(w - 1) * s * t : (1 - height2 - (w - 1) * s) * t;
    for (int j = 0; j < height2; ++j) {
        shearRow(second.image, j, &third.image, j, int(std::floor(r)), r - std::floor(r), background);
        r += t;
    }
    *rotated = third.image;
    third.bytes.release();
    return true;
}

// ---- Steps --------------------------------------------------------------------------------------

bool detectFacesPass(FaceModel* detector, const PipelineImage& image, FaceDetection* top, int inputSide,
                     int threshold, QList<FaceDetection>* list)
{
    return runDetectorPass(detector, image, top, inputSide, threshold, list) == PassOutcome::Accepted;
}

bool fitFaceMesh(FaceModel* landmarkModel, const FaceDetection& detection, float cropScale,
                 const PipelineImage& image, QList<QVector<MeshPoint>>* faces)
{
    FaceDetection expanded = detection;
    expandBox(&expanded, detection, cropScale);
    const int side = int(std::min(double(image.width) * expanded.width, double(image.height) * expanded.height));
    if (side <= 0)
        return false;
    // The crop stays inside the picture even where rounding would push it out.
    const int cropX = std::clamp(int((double(expanded.x) + double(expanded.width) * 0.5) * image.width - side * 0.5),
                                 0, image.width - side);
    const int cropY = std::clamp(int((double(expanded.y) + double(expanded.height) * 0.5) * image.height - side * 0.5),
                                 0, image.height - side);
    const PipelineImage crop = subImage(image, cropX, cropY, side, side);
    const int inputSide = landmarkModel->describe(false).inputSide;
    if (inputSide <= 0)
        return false;

    PipelineImage square = crop;
    PipelineImage rotatedCanvas{};
    std::unique_ptr<uint8_t[]> rotatedBytes;
    bool rotated = false;
    if (detection.roll > kLevelledRollLimit || detection.roll < -kLevelledRollLimit) {
        if (rotateByShears(crop, &rotatedCanvas, detection.roll, nullptr)) {
            rotatedBytes.reset(rotatedCanvas.pixels);
            const int offset = (rotatedCanvas.width - side) / 2;
            square = subImage(rotatedCanvas, offset, offset, side, side);
            rotated = true;
        }
    }
    const int bpp = bytesPerPixel(image);
    std::unique_ptr<uint8_t[]> input = makeModelInput(square, inputSide, 0, 0, inputSide, inputSide);
    rotatedBytes.reset();
    if (!input)
        return false;
    ModelCall call;
    if (!call.run(landmarkModel, input.get(), inputSide, inputSide, inputSide * bpp, bpp == 4 ? 1 : 0))
        return false;

    QVector<MeshPoint> points(kMeshLandmarkCount);
    std::memcpy(points.data(), call.area2(), sizeof(MeshPoint) * kMeshLandmarkCount);
    const float half = float(inputSide) / 2;
    const float angle = detection.roll * 0.017453292f;
    const float cosA = std::cos(angle);
    const float sinA = std::sin(angle);
    const float q = float(side) / float(inputSide);
    for (MeshPoint& p : points) {
        float x = p.x;
        float y = p.y;
        if (rotated) {
            x = cosA * (p.x - half) - sinA * (p.y - half) + half;
            y = cosA * (p.y - half) + sinA * (p.x - half) + half;
        }
        p.x = (x * q + float(cropX)) / float(image.width);
        p.y = (y * q + float(cropY)) / float(image.height);
        p.z = p.z * q / float(image.width);
    }
    faces->append(points);
    return true;
}

bool refineMeshCoefficients(FaceModel* coefficientModel, const QVector<MeshPoint>& points, QVector<float>* out)
{
    if (points.size() < kMeshLandmarkCount)
        return false;
    float pairs[kCoefficientInputPoints * 2];
    for (int i = 0; i < kCoefficientInputPoints; ++i) {
        pairs[2 * i] = points[kCoefficientInput[i]].x;
        pairs[2 * i + 1] = points[kCoefficientInput[i]].y;
    }
    ModelCall call;
    if (!call.areas)
        return false;
    const ModelRunResult result = coefficientModel->run(pairs, kCoefficientInputPoints, 0, 0, 0, 0, 0,
                                                        call.areas->area1, call.areas->area2, call.areas->area3);
    if (result.succeeded == 0)
        return false;
    float values[kMeshCoefficientCount];
    std::memcpy(values, call.area2(), sizeof values);
    for (float value : values)
        out->append(value);
    return true;
}

namespace {

struct NormalisedBox {
    float left, top, right, bottom;

    template <size_t N>
    static NormalisedBox around(const QVector<MeshPoint>& points, const int (&group)[N])
    {
        NormalisedBox box{points[group[0]].x, points[group[0]].y, points[group[0]].x, points[group[0]].y};
        for (int index : group) {
            box.left = std::min(box.left, points[index].x);
            box.top = std::min(box.top, points[index].y);
            box.right = std::max(box.right, points[index].x);
            box.bottom = std::max(box.bottom, points[index].y);
        }
        return box;
    }
    bool holds(float x, float y) const { return x >= left && x <= right && y >= top && y <= bottom; }
};

int32_t toPixels(float normalised, int size) { return int32_t(std::lround(double(normalised) * size)); }

void storeBox(int32_t* fields, const NormalisedBox& box, int width, int height)
{
    fields[0] = toPixels(box.left, width);
    fields[1] = toPixels(box.top, height);
    fields[2] = toPixels(box.right - box.left, width);
    fields[3] = toPixels(box.bottom - box.top, height);
}

template <size_t N>
MeshPoint meanOf(const QVector<MeshPoint>& points, const int (&group)[N])
{
    MeshPoint mean{0, 0, 0};
    for (int index : group) {
        mean.x += points[index].x;
        mean.y += points[index].y;
    }
    mean.x /= float(N);
    mean.y /= float(N);
    return mean;
}

FaceDetection boxOfFields(const int32_t* fields)
{
    return FaceDetection{float(fields[0]), float(fields[1]), float(fields[2]), float(fields[3]), 0, 0};
}

}  // namespace

bool makeMeshFaceRecord(FaceMeshResult* result, int width, int height, const QVector<MeshPoint>& points,
                        const QVector<float>& coefficients)
{
    if (points.size() < kMeshLandmarkCount || coefficients.size() < kMeshCoefficientCount)
        return false;
    MeshFaceRecord record{};
    int32_t* fields = record.fields;
    const NormalisedBox eyeA = NormalisedBox::around(points, kEyeGroupA);
    const NormalisedBox eyeB = NormalisedBox::around(points, kEyeGroupB);
    storeBox(fields + kOutlineBox, NormalisedBox::around(points, kOutlineGroup), width, height);
    storeBox(fields + kEyeBoxA, eyeA, width, height);
    storeBox(fields + kEyeBoxB, eyeB, width, height);
    storeBox(fields + kMouthBox, NormalisedBox::around(points, kMouthGroup), width, height);

    MeshPoint centreA = meanOf(points, kIrisGroupA);
    MeshPoint centreB = meanOf(points, kIrisGroupB);
    if (!eyeA.holds(centreA.x, centreA.y) || !eyeB.holds(centreB.x, centreB.y)) {
        centreA = MeshPoint{(eyeA.left + eyeA.right) / 2, (eyeA.top + eyeA.bottom) / 2, 0};
        centreB = MeshPoint{(eyeB.left + eyeB.right) / 2, (eyeB.top + eyeB.bottom) / 2, 0};
    }
    fields[kEyeCentreA] = toPixels(centreA.x, width);
    fields[kEyeCentreA + 1] = toPixels(centreA.y, height);
    fields[kEyeCentreB] = toPixels(centreB.x, width);
    fields[kEyeCentreB + 1] = toPixels(centreB.y, height);
    const double dx = fields[kEyeCentreA] - fields[kEyeCentreB];
    const double dy = fields[kEyeCentreA + 1] - fields[kEyeCentreB + 1];
    // Eyes in one pixel column: a vertical line, or no line at all when they coincide.
    fields[kRoll] = dx != 0 ? int32_t(std::atan(dy / dx) * kDegreesPerRadian) : (dy > 0 ? 90 : dy < 0 ? -90 : 0);

    fields[kCoefficient9] = int32_t(coefficients[9] * 100);
    fields[kCoefficient10] = int32_t(coefficients[10] * 100);
    fields[kCoefficientMean] = (fields[kCoefficient9] + fields[kCoefficient10]) / 2;
    fields[kCoefficient44And45] = int32_t((coefficients[44] + coefficients[45]) * 100 * 0.5);
    fields[kPictureWidth] = width;
    fields[kPictureHeight] = height;

    const FaceDetection outline = boxOfFields(fields + kOutlineBox);
    for (const MeshFaceRecord& other : result->records) {
        float overlap = 0;
        if (boxOverlap(outline, boxOfFields(other.fields + kOutlineBox), &overlap) && overlap > kMaxOverlap)
            return false;
    }
    result->records.append(record);
    return true;
}

// ---- The pipeline -------------------------------------------------------------------------------

bool runFaceMeshPipeline(FaceMeshResult* result, uint8_t* pixels, int width, int height, int rowBytes,
                         int reserved, int hostFlag, int alphaFlag, FaceModel* firstDetector,
                         FaceModel* secondDetector, FaceModel* landmarkModel, FaceModel* coefficientModel,
                         uint8_t singleFaceMode)
{
    if (reserved != 0 || hostFlag != 0 || !firstDetector || !secondDetector || !landmarkModel)
        return false;
    if (!modelDescribes(firstDetector, true) || !modelDescribes(secondDetector, true) ||
        !modelDescribes(landmarkModel, false) || (coefficientModel && !modelDescribes(coefficientModel, false)))
        return false;
    // Rows shorter than a row of pixels would make every crop read past the picture.
    const int bytesPerPixel = alphaFlag > 0 ? 4 : 3;
    if (!result || !pixels || width <= 0 || height <= 0 || rowBytes < width * bytesPerPixel)
        return false;

    const PipelineImage image{width, height, rowBytes, bytesPerPixel == 4 ? kChannelsRgba : kChannelsRgb, pixels};
    FaceDetection top{0, 0, 1, 1, 0, 0};
    const int threshold2 = singleFaceMode ? kPass2ThresholdSingleFace : kPass2Threshold;
    const int firstSide = firstDetector->describe(true).inputSide;
    const int secondSide = secondDetector->describe(true).inputSide;

    // Pass 1: the first detector on the whole picture.
    QList<FaceDetection> list1;
    const bool pass1 = detectFacesPass(firstDetector, image, &top, firstSide, kPass1Threshold, &list1) &&
                       top.width * top.height > kPass1MinimumArea;

    if (singleFaceMode) {
        result->singleFacePoints.clear();
        FaceDetection d{0, 0, 1, 1, 0, 0};
        QList<FaceDetection> ownList;
        QList<QVector<MeshPoint>> ownFaces;
        if (detectFacesPass(secondDetector, image, &d, secondSide, kSingleFaceThreshold, &ownList) &&
            fitFaceMesh(landmarkModel, d, kCropScale, image, &ownFaces)) {
            for (const MeshPoint& p : ownFaces.first())
                result->singleFacePoints.append(MeshPoint{(p.x - 0.25f) * 2, (p.y - 0.25f) * 2, p.z * 2});
            result->referenceBox[0] = (d.x + d.width / 2 - 0.25f) * 2;
            result->referenceBox[1] = (d.y + d.height / 2 - 0.25f) * 2;
            result->referenceBox[2] = 2 * d.height;
            result->referenceBox[3] = 2 * d.width;
            result->referenceBox[4] = 0;
        }
        return !result->singleFacePoints.isEmpty();
    }

    if (pass1) {
        result->faces.clear();
        bool any = false;
        for (const FaceDetection& detection : list1) {
            if (detection.score >= kPass1Threshold)
                any |= fitAndRecord(result, image, detection, landmarkModel, coefficientModel);
        }
        if (any) {
            setReferenceBox(result, top);
            return true;
        }
    }

    // Pass 2: the second detector, on two squares of a wide or tall picture.
    QList<FaceDetection> list2;
    bool pass2 = false;
    const float aspect = float(width) / float(height);
    auto runPart = [&](int x0, int y0, int partWidth, int partHeight) {
        QList<FaceDetection> found;
        FaceDetection partTop = top;
        const PipelineImage part = subImage(image, x0, y0, partWidth, partHeight);
        const PassOutcome outcome = runDetectorPass(secondDetector, part, &partTop, secondSide, threshold2, &found);
        if (outcome == PassOutcome::NothingFound)
            return;
        pass2 |= outcome == PassOutcome::Accepted;
        top = toPicture(partTop, x0, y0, partWidth, partHeight, width, height);
        for (const FaceDetection& d : found)
            list2.append(toPicture(d, x0, y0, partWidth, partHeight, width, height));
    };
    if (aspect > 1.2f) {
        runPart(0, 0, height, height);
        runPart(width - height - 1, 0, height, height);
    } else if (aspect < 0.8f) {
        runPart(0, 0, width, width);
        runPart(0, height - width - 1, width, width);
    } else {
        runPart(0, 0, width, height);
    }
    sortByScore(&list2);
    for (int i = 0; i < list2.size(); ++i) {
        for (int j = list2.size() - 1; j > i; --j) {
            float overlap = 0;
            if (boxOverlap(list2[i], list2[j], &overlap) && overlap > kMaxOverlap)
                list2.removeAt(j);
        }
    }

    if (pass2) {
        top = list2.first();
        result->faces.clear();
        result->records.clear();
        bool any = false;
        for (const FaceDetection& detection : list2) {
            if (detection.score >= threshold2)
                any |= fitAndRecord(result, image, detection, landmarkModel, coefficientModel);
        }
        setReferenceBox(result, top);
        return any;
    }

    // Pass 3: the first detector on the neighbourhood of the best guess so far.
    FaceDetection expanded = top;
    expandBox(&expanded, top, kCropScale);
    const int cropX = int(width * expanded.x);
    const int cropY = int(height * expanded.y);
    const int cropW = std::min(int(width * expanded.width), width - cropX);
    const int cropH = std::min(int(height * expanded.height), height - cropY);
    list2.clear();
    FaceDetection cropTop = top;
    const PipelineImage crop = subImage(image, cropX, cropY, cropW, cropH);
    const PassOutcome outcome = runDetectorPass(firstDetector, crop, &cropTop, firstSide, threshold2, &list2);
    if (outcome != PassOutcome::NothingFound)
        top = toPicture(cropTop, cropX, cropY, cropW, cropH, width, height);
    if (outcome != PassOutcome::Accepted) {
        setReferenceBox(result, top);
        return false;
    }
    result->faces.clear();
    result->records.clear();
    bool any = false;
    for (const FaceDetection& d : list2) {
        if (d.score >= kPass1Threshold)
            any |= fitAndRecord(result, image, toPicture(d, cropX, cropY, cropW, cropH, width, height),
                                landmarkModel, coefficientModel);
    }
    setReferenceBox(result, top);
    return any;
}

// ---- The image document's runner ----------------------------------------------------------------

bool runDocumentFaceMeshWith(const uint8_t* pixels, int width, int height, int rowBytes, int hostFlag,
                             int alphaFlag, FaceModel* firstDetector, FaceModel* secondDetector,
                             FaceModel* landmarkModel, FaceMeshOutput* output)
{
    FaceMeshResult result;
    // The pipeline only reads the picture; its crops point into it.
    if (!runFaceMeshPipeline(&result, const_cast<uint8_t*>(pixels), width, height, rowBytes, 0, hostFlag,
                             alphaFlag, firstDetector, secondDetector, landmarkModel, nullptr, 0))
        return false;
    for (const QVector<MeshPoint>& face : result.faces) {
        QVector<float> floats;
        floats.reserve(face.size() * 3);
        for (const MeshPoint& p : face)
            floats << p.x << p.y << p.z;
        output->faces.append(floats);
    }
    std::copy(result.referenceBox, result.referenceBox + 5, output->referenceBox);
    return true;
}

bool runDocumentFaceMesh(const uint8_t* pixels, int width, int height, int rowBytes, int hostFlag, int alphaFlag,
                         FaceMeshOutput* output)
{
    return runDocumentFaceMeshWith(pixels, width, height, rowBytes, hostFlag, alphaFlag,
                                   AppEnvironment::faceCalcModelA(), AppEnvironment::faceCalcModelB(),
                                   AppEnvironment::faceCalcModelC(), output);
}
