/*
 * The faces the landmark trainer learns from: faces made by the face maker from the annotated
 * training photos (only those: their points are hand-placed), each with its 62 points and the
 * face record a caller of the fitter would give for it.
 *
 * Divisions: samples; the set.
 *
 * Points here are in the fitter's pixel convention: pixel k's centre at k (the face sources put
 * it at k + 0.5).
 */
#ifndef TOOLS_LANDMARKTRAIN_TRAINING_SET_H
#define TOOLS_LANDMARKTRAIN_TRAINING_SET_H

#include <array>
#include <cstdint>
#include <vector>

#include "facesdk/detect/landmark.h"
#include "tools/facedata/face_maker.h"
#include "tools/landmarktrain/landmark_scheme.h"

namespace landmarktrain {

/* ---- samples ---- */

/* How a sample's face record is made. */
enum class Given {
    Detected,       /* the face record of the beautification engine's own detection of the face */
    EyesAndMouth,   /* eyes and the lower-face point, as the beautification engine passes them */
    Eyes,           /* eyes only */
    Box,            /* the box and roll only */
};

struct Sample {
    std::vector<uint8_t> grey;            /* width x height */
    int32_t width = 0;
    int32_t height = 0;
    std::array<double, 2 * kFitterPoints> truth{};   /* pixels, x then y per point */
    LandmarkFace face{};                  /* the record given to the fitter */
    double iod = 0;                       /* true inter-ocular distance, pixels */

    EngineImage image() const;
};

/* What varies over a set. */
struct SampleOptions {
    double minIod = 30;        /* inter-ocular distances, log-uniform between these */
    double maxIod = 260;
    double maxRoll = 40;       /* degrees, uniform within +- (the crops turn every face upright) */
    double maxYaw = 35;
    double eyeNoise = 0.03;    /* given eyes: normal noise, share of the inter-ocular distance */
    double eyesAndMouthShare = 0.7;   /* the rest: eyes only, and a few boxes only */
    double boxShare = 0.05;
    double plainShare = 0.3;   /* faces made by the warp alone, without the maker's blur, noise,
                                * lighting, colour and JPEG changes */
    double detectedShare = 0;  /* of the faces given eyes and the lower-face point: those the
                                * engine's detection finds keep its face record */
};

/* ---- the set ---- */

/* The face bank of the annotated training faces only (the maker's other sources carry points
 * placed by aligning a mean face, not annotated ones). */
bool annotatedBank(const facedata::FaceSources &sources, facedata::FaceBank *bank, std::string *error);

class TrainingSet {
public:
    TrainingSet(const facedata::FaceBank *bank, uint64_t seed, SampleOptions options);
    /* Sample number `index`: deterministic in (seed, index, options). */
    Sample make(uint64_t index) const;

private:
    const facedata::FaceBank *bank_;
    facedata::FaceMaker maker_;
    uint64_t seed_;
    SampleOptions options_;
};

/* The 62 points of the 68-point shape in the fitter's pixel convention. */
std::array<double, 2 * kFitterPoints> fitterTruth(const facedata::Shape &shape);

/* A face record from true points: eyes (rounded) with normal noise of `eyeNoise` inter-ocular
 * distances, the lower-face point the engine derives from them, the box of 2.2 eye distances
 * around them; what is given follows `given`. */
LandmarkFace faceRecordFor(const std::array<double, 2 * kFitterPoints> &truth, Given given, double eyeNoise,
                           int32_t hintA, facedata::Random &random);

}  // namespace landmarktrain

#endif
