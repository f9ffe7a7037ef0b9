// The face classifier and the landmark fitter on one synthetic face of a 640 x 640 grey image.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "facesdk/base/allocator.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/detect/classifier.h"
#include "facesdk/detect/landmark.h"

namespace {

struct FacePicture {
    std::vector<uint8_t> pixels = std::vector<uint8_t>(640 * 640);
    EngineImage image{};
    FacePicture()
    {
        for (int y = 0; y < 640; ++y)
            for (int x = 0; x < 640; ++x) {
                uint8_t v = uint8_t(110 + (x * 7 + y * 13) % 50);
                if (std::hypot(x - 270, y - 280) < 14 || std::hypot(x - 370, y - 280) < 14)
                    v = 25;
                else if (std::abs(x - 320) < 45 && std::abs(y - 400) < 8)
                    v = 40;
                pixels[size_t(y) * 640 + x] = v;
            }
        image.format = kFormatGrey8;
        image.width = 640;
        image.height = 640;
        image.planes[0] = {640, 0, pixels.data()};
    }
};

void classifierRun(benchmark::State &state)
{
    FacePicture picture;
    FaceClassifier *classifier = nullptr;
    const ClassifierOptions options{12, 3, 0};
    if (faceClassifierCreate(faceClassifierInterface(), defaultAllocator(), &options, &classifier) != kResultOk) {
        state.SkipWithError("create failed");
        return;
    }
    ClassifierFace face{};
    face.size = 64;
    face.x = 200;
    face.y = 200;
    face.width = 240;
    face.height = 240;
    face.eye1X = 270;
    face.eye1Y = 280;
    face.eye2X = 370;
    face.eye2Y = 280;
    for (auto _ : state) {
        const ClassifierResult *result = nullptr;
        if (faceClassifierRun(classifier, &face, &picture.image, &result) != kResultOk) {
            state.SkipWithError("run failed");
            break;
        }
        benchmark::DoNotOptimize(result);
    }
    faceClassifierDestroy(classifier);
}
BENCHMARK(classifierRun)->Unit(benchmark::kMicrosecond);

// One still face at detail level state.range(0), or (range 0) one tracking frame at level 2.
void landmarkFit(benchmark::State &state)
{
    FacePicture picture;
    const bool tracking = state.range(0) == 0;
    const LandmarkOptions options{12, tracking ? kLandmarkTracking : 0u, tracking ? 2u : uint32_t(state.range(0))};
    LandmarkFitter *fitter = nullptr;
    if (landmarkCreate(defaultAllocator(), &options, &fitter) != kResultOk) {
        state.SkipWithError("create failed");
        return;
    }
    LandmarkFace face{};
    face.size = 60;
    face.x = 200;
    face.y = 200;
    face.width = 240;
    face.height = 240;
    face.eye1X = 270;
    face.eye1Y = 280;
    face.eye2X = 370;
    face.eye2Y = 280;
    face.id = 1;
    for (auto _ : state) {
        if (landmarkAddFace(fitter, &face) != kResultOk || landmarkProcess(fitter, &picture.image) < 0) {
            state.SkipWithError("fit failed");
            break;
        }
    }
    landmarkDestroy(fitter);
}
BENCHMARK(landmarkFit)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
