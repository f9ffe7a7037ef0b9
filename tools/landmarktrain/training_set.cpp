/*
 * The faces the landmark trainer learns from.
 */
#include "tools/landmarktrain/training_set.h"

#include <algorithm>
#include <cmath>

#include <QImage>

#include "facesdk/base/pixel_format.h"
#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/engine/engine.h"
#include "facesdk/engine/face_records.h"
#include "tools/beautify/run_image.h"

namespace landmarktrain {

/* ---- samples ---- */

EngineImage Sample::image() const
{
    EngineImage image{};
    image.format = kFormatGrey8;
    image.width = width;
    image.height = height;
    image.planes[0] = {width, 0, const_cast<uint8_t *>(grey.data())};
    return image;
}

std::array<double, 2 * kFitterPoints> fitterTruth(const facedata::Shape &shape)
{
    const std::vector<facedata::PointF> points = fitterPoints(shape);
    std::array<double, 2 * kFitterPoints> truth{};
    for (int i = 0; i < kFitterPoints; ++i) {
        truth[size_t(2 * i)] = points[size_t(i)].x - 0.5;
        truth[size_t(2 * i + 1)] = points[size_t(i)].y - 0.5;
    }
    return truth;
}

namespace {

void eyeCentres(const std::array<double, 2 * kFitterPoints> &truth, double *e1x, double *e1y, double *e2x, double *e2y)
{
    *e1x = *e1y = *e2x = *e2y = 0;
    for (int i = 0; i < 6; ++i) {
        *e1x += truth[size_t(2 * (12 + i))] / 6;
        *e1y += truth[size_t(2 * (12 + i) + 1)] / 6;
        *e2x += truth[size_t(2 * (18 + i))] / 6;
        *e2y += truth[size_t(2 * (18 + i) + 1)] / 6;
    }
}

}  // namespace

LandmarkFace faceRecordFor(const std::array<double, 2 * kFitterPoints> &truth, Given given, double eyeNoise,
                           int32_t hintA, facedata::Random &random)
{
    double e1x, e1y, e2x, e2y;
    eyeCentres(truth, &e1x, &e1y, &e2x, &e2y);
    const double iod = std::hypot(e2x - e1x, e2y - e1y);
    LandmarkFace face{};
    face.size = 60;
    face.id = 1;
    const int32_t x1 = int32_t(std::lround(e1x + random.normal() * eyeNoise * iod));
    const int32_t y1 = int32_t(std::lround(e1y + random.normal() * eyeNoise * iod));
    const int32_t x2 = int32_t(std::lround(e2x + random.normal() * eyeNoise * iod));
    const int32_t y2 = int32_t(std::lround(e2y + random.normal() * eyeNoise * iod));
    const double d = std::max(1.0, std::hypot(x2 - x1, y2 - y1));
    const int32_t roll = int32_t(std::lround(std::atan2(y2 - y1, x2 - x1) * 180 / M_PI));
    /* The box: 2.2 eye distances around the eyes, the eye midpoint half an eye distance above
     * its centre. */
    const double side = 2.2 * d, cx = (x1 + x2) / 2.0 - (y2 - y1) / 2.0, cy = (y1 + y2) / 2.0 + (x2 - x1) / 2.0;
    face.x = int32_t(std::lround(cx - side / 2));
    face.y = int32_t(std::lround(cy - side / 2));
    face.width = face.height = int32_t(std::lround(side));
    if (given == Given::Box) {
        face.roll = roll;
        const double jitter = 0.08 * side;
        face.x += int32_t(std::lround(random.normal() * jitter));
        face.y += int32_t(std::lround(random.normal() * jitter));
        face.width = face.height = int32_t(std::lround(side * (1 + 0.08 * random.normal())));
        return face;
    }
    face.eye1X = x1;
    face.eye1Y = y1;
    face.eye2X = x2;
    face.eye2Y = y2;
    face.hintA = hintA;
    if (given == Given::EyesAndMouth) {
        /* The beautification engine's lower-face point from eye boxes around the eyes. */
        const int32_t r = std::max(1, int32_t(d / 4));
        const EngineRect box1{x1 - r, y1 - r, 2 * r + 1, 2 * r + 1}, box2{x2 - r, y2 - r, 2 * r + 1, 2 * r + 1};
        const EngineRect faceBox{face.x, face.y, face.width, face.height};
        VXL_POINT mouth{0, 0}, size{0, 0};
        lowerFacePointFromEyes(faceBox, box1, box2, roll, &mouth, &size);
        face.mouthX = mouth.x;
        face.mouthY = mouth.y;
    }
    return face;
}

/* ---- the engine's detection ---- */

namespace {

/* An engine per training thread, for its detection. */
struct ThreadEngine {
    BeautyEngine *engine = nullptr;
    ThreadEngine() { engineCreate(&engine); }
    ~ThreadEngine() { engineDestroy(engine); }
};

/* The face record the engine's detection gives for the face whose eyes lie nearest the true
 * ones, as the engine hands it to the fitter; false when it finds none within half an eye
 * distance of them. */
bool detectedRecord(const facedata::RgbImage &picture, const std::array<double, 2 * kFitterPoints> &truth,
                    LandmarkFace *out)
{
    thread_local ThreadEngine engine;
    if (!engine.engine)
        return false;
    QImage image(picture.rgb.data(), picture.width, picture.height, picture.width * 3, QImage::Format_RGB888);
    RunImage run;
    QString error;
    if (!run.assign(image, kFormatYuv420Planar, &error))
        return false;
    VXL_FACE *faces = nullptr;
    int32_t count = 0;
    if (engineDetectFaces(engine.engine, run.image(), &faces, &count) != 0 || count == 0)
        return false;
    double e1x, e1y, e2x, e2y;
    eyeCentres(truth, &e1x, &e1y, &e2x, &e2y);
    const double iod = std::hypot(e2x - e1x, e2y - e1y);
    double best = 1e300;
    int chosen = -1;
    for (int32_t i = 0; i < count; ++i) {
        const double d = std::hypot(faces[i].eye1X - e1x, faces[i].eye1Y - e1y) + std::hypot(faces[i].eye2X - e2x, faces[i].eye2Y - e2y);
        if (d < best) {
            best = d;
            chosen = i;
        }
    }
    const bool found = chosen >= 0 && best < iod;
    if (found) {
        toLandmarkFace(faces[chosen], out, 1024);
        out->id = 1;
    }
    engineFreeFaces(engine.engine, faces, count);
    return found;
}

}  // namespace

/* ---- the set ---- */

bool annotatedBank(const facedata::FaceSources &sources, facedata::FaceBank *bank, std::string *error)
{
    if (!facedata::loadFaceBank(sources, bank, error))
        return false;
    bank->faces.erase(std::remove_if(bank->faces.begin(), bank->faces.end(),
                                     [](const facedata::FacePicture &f) { return f.aligned; }),
                      bank->faces.end());
    if (bank->faces.empty()) {
        *error = "no annotated training faces";
        return false;
    }
    return true;
}

TrainingSet::TrainingSet(const facedata::FaceBank *bank, uint64_t seed, SampleOptions options)
    : bank_(bank), maker_(bank, seed), seed_(seed), options_(options)
{
}

Sample TrainingSet::make(uint64_t index) const
{
    facedata::Random random(seed_ * 0x9e3779b97f4a7c15ull + index * 0xbf58476d1ce4e5b9ull + 17);
    /* The box side the maker wants, from the inter-ocular distance: the mean shape has its
     * eyes 2 units apart. */
    const facedata::BoxF meanBox = facedata::detectorBoxFromShape(bank_->meanShape);
    const double iod = options_.minIod * std::pow(options_.maxIod / options_.minIod, random.uniform());
    const double boxSide = iod * meanBox.width / 2;
    facedata::FaceRequest request;
    request.width = request.height = int(std::ceil(5.2 * iod));
    request.centreX = float(request.width / 2.0 + random.normal() * 0.1 * iod);
    request.centreY = float(request.height / 2.0 + random.normal() * 0.1 * iod);
    request.boxSide = float(boxSide);
    request.roll = float(random.uniform(-options_.maxRoll, options_.maxRoll));
    request.yaw = float(random.chance(0.5) ? random.uniform(-options_.maxYaw, options_.maxYaw) : 0);
    request.plain = random.chance(options_.plainShare);
    const facedata::MadeFace made = maker_.make(index, request);

    Sample sample;
    sample.width = made.image.width;
    sample.height = made.image.height;
    sample.grey = facedata::greyOf(made.image);
    sample.truth = fitterTruth(made.points);
    double e1x, e1y, e2x, e2y;
    eyeCentres(sample.truth, &e1x, &e1y, &e2x, &e2y);
    sample.iod = std::hypot(e2x - e1x, e2y - e1y);
    const double kind = random.uniform();
    const Given given = kind < options_.boxShare ? Given::Box
                        : kind < options_.boxShare + options_.eyesAndMouthShare ? Given::EyesAndMouth
                                                                                 : Given::Eyes;
    /* The engine passes the detector's score (0 .. 100, clamped to 20) as pose hint A. */
    const double hint = random.uniform();
    const int32_t hintA = hint < 0.7 ? 20 : hint < 0.85 ? 0 : int32_t(random.below(21));
    const double noise = random.chance(0.1) ? 2.5 * options_.eyeNoise : options_.eyeNoise;
    if (given == Given::EyesAndMouth && options_.detectedShare > 0 && random.chance(options_.detectedShare) &&
        detectedRecord(made.image, sample.truth, &sample.face))
        return sample;
    sample.face = faceRecordFor(sample.truth, given, noise, hintA, random);
    return sample;
}

}  // namespace landmarktrain
