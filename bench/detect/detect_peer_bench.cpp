// The engine's still request (its flags, its twelve rolls and turned views, the trained
// cascades) on a 320 x 320 photograph, against OpenCV's LBP frontal-face cascade on the same
// photograph (detectMultiScale, scale 1.1, one thread), measured in the same run. The ratio
// counter is our time over OpenCV's.
//
// The photograph is the astronaut of the face sources (tools/facedata/fetch.sh), scaled to
// 320 x 320.
#include "facesdk/detect/convert.h"
#include "facesdk/detect/detector.h"
#include "facesdk/engine/face_detection.h"
#include "tools/facedata/face_maker.h"

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/objdetect.hpp>

#include <chrono>
#include <vector>

namespace {

struct Photograph {
    facedata::RgbImage rgb;    /* 320 x 320 */
    std::vector<uint8_t> grey; /* for OpenCV */
    std::string error;

    Photograph()
    {
        facedata::FaceSources sources;
        facedata::RgbImage full;
        if (!facedata::loadFaceSources(facedata::defaultDataRoot(), &sources, &error) ||
            !facedata::loadImage(sources.astronaut, &full, &error))
            return;
        rgb = facedata::resizeImage(full, 320, 320);
        grey = facedata::greyOf(rgb);
    }
};

double seconds(std::chrono::steady_clock::time_point from)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

void BM_EngineRequestAgainstOpenCvLbp(benchmark::State &state)
{
    static const Photograph photo;
    if (!photo.error.empty()) {
        state.SkipWithError(photo.error.c_str());
        return;
    }
    cv::setNumThreads(1);
    cv::CascadeClassifier lbp;
    if (!lbp.load(SOLVANE_LBP_CASCADE)) {
        state.SkipWithError("cannot load the LBP cascade");
        return;
    }
    const cv::Mat grey(320, 320, CV_8UC1, const_cast<uint8_t *>(photo.grey.data()));

    DetectorImage image{};
    image.size = sizeof image;
    image.width = image.height = 320;
    image.stride = 320 * 3;
    image.format = kDetectorRgb;
    image.pixels = const_cast<uint8_t *>(photo.rgb.rgb.data());
    DetectorConfig config{};
    config.size = sizeof config;
    config.flags = kDetectionConfigFlags;
    config.searchWidthPercent = config.searchHeightPercent = kDetectionSearchPercent;
    config.rollAngles = kDetectionRollAngles;

    double ours = 0, theirs = 0;
    int64_t oursFaces = 0, theirFaces = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        FaceDetector *detector = nullptr;
        faceDetectorCreate(defaultAllocator(), &config, &detector);
        if (faceDetectorDetect(detector, &image, nullptr, nullptr) == kResultOk)
            for (DetectedFace *f = faceDetectorNextFace(detector, nullptr); f; f = faceDetectorNextFace(detector, f))
                ++oursFaces;
        faceDetectorDestroy(detector);
        ours += seconds(start);

        start = std::chrono::steady_clock::now();
        std::vector<cv::Rect> faces;
        lbp.detectMultiScale(grey, faces, 1.1);
        theirs += seconds(start);
        theirFaces += int64_t(faces.size());
    }
    const double n = double(state.iterations());
    state.counters["ours_ms"] = ours / n * 1e3;
    state.counters["opencv_ms"] = theirs / n * 1e3;
    state.counters["ratio"] = theirs > 0 ? ours / theirs : 0;
    state.counters["ours_faces"] = double(oursFaces) / n;
    state.counters["opencv_faces"] = double(theirFaces) / n;
}
BENCHMARK(BM_EngineRequestAgainstOpenCvLbp)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace
