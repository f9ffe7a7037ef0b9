// The face classifier and the landmark fitter on synthetic faces of grey pictures.
//
// landmarkFaceSizes fits a face of 240 pixels and one of 800 (box widths, 2.2 eye distances) in
// pictures of the same size at detail level 4, and copies the 800-pixel face's largest crop
// square as the floor, all in the same run; it reports the times (CPU time of all threads, and
// wall time, which here includes starting the coarse stage's three single workers per pass)
// and the ratios: 800 to 240 pixels (aim 1.5 at most) and 800 pixels to the floor.
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "facesdk/detect/classifier.h"
#include "facesdk/detect/landmark.h"
#include "facesdk/base/allocator.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/workers/single_worker.h"

namespace {

// A grey picture with one face drawn in it: a lit oval with dark eyes, brows, nostrils and
// mouth over a textured background. Eyes `eyeDistance` apart, level, centred at (cx, cy).
struct FacePicture {
    int side;
    std::vector<uint8_t> pixels;
    EngineImage image{};
    LandmarkFace face{};
    FacePicture(int pictureSide, int cx, int cy, double eyeDistance)
        : side(pictureSide), pixels(size_t(pictureSide) * pictureSide)
    {
        const double d = eyeDistance;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const double u = (x - cx) / d, v = (y - cy) / d;   // eye midpoint at (0, 0)
                double value = 110 + (x * 7 + y * 13) % 50;
                if (u * u / 0.9 + (v - 0.55) * (v - 0.55) / 1.7 < 1)
                    value = 170 + 20 * v;                                           // the face
                const double eye = std::min(std::hypot(u + 0.5, v), std::hypot(u - 0.5, v));
                if (eye < 0.13)
                    value = 40;
                else if (std::fabs(v + 0.28) < 0.05 && std::fabs(std::fabs(u) - 0.5) < 0.25)
                    value = 70;                                                     // brows
                else if (std::fabs(v - 0.75) < 0.05 && std::fabs(u) < 0.12)
                    value = 90;                                                     // nostrils
                else if (std::fabs(v - 1.12) < 0.06 + 0.04 * (1 - std::fabs(u) / 0.45) && std::fabs(u) < 0.45)
                    value = 80;                                                     // mouth
                pixels[size_t(y) * side + x] = uint8_t(value);
            }
        image.format = kFormatGrey8;
        image.width = side;
        image.height = side;
        image.planes[0] = {side, 0, pixels.data()};
        face.size = 60;
        face.width = face.height = int32_t(std::lround(2.2 * d));
        face.x = cx - face.width / 2;
        face.y = int32_t(cy - 0.4 * face.height);
        face.eye1X = int32_t(std::lround(cx - d / 2));
        face.eye2X = int32_t(std::lround(cx + d / 2));
        face.eye1Y = face.eye2Y = cy;
        face.id = 1;
    }
};

void classifierRun(benchmark::State &state)
{
    const FacePicture picture(640, 320, 280, 100);
    FaceClassifier *classifier = nullptr;
    const ClassifierOptions options{12, 3, 0};
    if (faceClassifierCreate(faceClassifierInterface(), defaultAllocator(), &options, &classifier) != kResultOk) {
        state.SkipWithError("create failed");
        return;
    }
    ClassifierFace face{};
    face.size = 64;
    face.x = picture.face.x;
    face.y = picture.face.y;
    face.width = picture.face.width;
    face.height = picture.face.height;
    face.eye1X = picture.face.eye1X;
    face.eye1Y = picture.face.eye1Y;
    face.eye2X = picture.face.eye2X;
    face.eye2Y = picture.face.eye2Y;
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

// One fit of the picture's face: add it and process.
bool fitOnce(LandmarkFitter *fitter, const FacePicture &picture)
{
    return landmarkAddFace(fitter, &picture.face) == kResultOk && landmarkProcess(fitter, &picture.image) >= 0;
}

// One still face of 240 pixels at detail level state.range(0), or (range 0) one tracking frame
// at level 2.
void landmarkFit(benchmark::State &state)
{
    const FacePicture picture(640, 320, 280, 240 / 2.2);
    const bool tracking = state.range(0) == 0;
    const LandmarkOptions options{12, tracking ? kLandmarkTracking : 0u, tracking ? 2u : uint32_t(state.range(0))};
    LandmarkFitter *fitter = nullptr;
    if (landmarkCreate(defaultAllocator(), &options, &fitter) != kResultOk) {
        state.SkipWithError("create failed");
        return;
    }
    for (auto _ : state)
        if (!fitOnce(fitter, picture)) {
            state.SkipWithError("fit failed");
            break;
        }
    landmarkDestroy(fitter);
}
BENCHMARK(landmarkFit)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);

double processSeconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

double wallSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Timing {
    double cpu = 0, wall = 0;
    template <typename Work>
    void add(Work work)
    {
        const double cpu0 = processSeconds(), wall0 = wallSeconds();
        work();
        cpu += processSeconds() - cpu0;
        wall += wallSeconds() - wall0;
    }
};

// The 240- and 800-pixel faces at detail level 4 in 1280 x 1280 pictures, and the floor: a plain
// copy of the 800-pixel face's largest crop square (twice the shape's extent, about 3.6 eye
// distances), and, for the wall times, starting and joining three single workers twice (the
// coarse stage's passes).
void landmarkFaceSizes(benchmark::State &state)
{
    const FacePicture small(1280, 640, 560, 240 / 2.2), large(1280, 640, 500, 800 / 2.2);
    const LandmarkOptions options{12, 0, 4};
    LandmarkFitter *fitter = nullptr;
    if (landmarkCreate(defaultAllocator(), &options, &fitter) != kResultOk) {
        state.SkipWithError("create failed");
        return;
    }
    const int floorSide = int(3.6 * 800 / 2.2);
    std::vector<uint8_t> copy(size_t(floorSide) * floorSide);
    Timing fit240, fit800, floorCopy, workers;
    for (auto _ : state) {
        bool fitted = true;
        fit240.add([&] { fitted = fitOnce(fitter, small) && fitted; });
        fit800.add([&] { fitted = fitOnce(fitter, large) && fitted; });
        floorCopy.add([&] {
            const int left = 640 - floorSide / 2, top = 500 - floorSide / 3;
            for (int y = 0; y < floorSide; ++y)
                std::memcpy(copy.data() + size_t(y) * floorSide, large.pixels.data() + size_t(top + y) * 1280 + left, floorSide);
            benchmark::DoNotOptimize(copy.data());
        });
        workers.add([&] {
            for (int pass = 0; pass < 2; ++pass) {
                SingleWorker *three[3] = {};
                for (SingleWorker *&worker : three)
                    workerCreate(&worker);
                for (SingleWorker *worker : three)
                    if (worker)
                        workerJoin(worker);
            }
        });
        if (!fitted) {
            state.SkipWithError("fit failed");
            break;
        }
    }
    landmarkDestroy(fitter);
    const double n = double(state.iterations());
    state.counters["fit240_cpu_ms"] = fit240.cpu / n * 1e3;
    state.counters["fit800_cpu_ms"] = fit800.cpu / n * 1e3;
    state.counters["ratio_800_to_240"] = fit800.cpu / fit240.cpu;
    state.counters["floor_copy_ms"] = floorCopy.cpu / n * 1e3;
    state.counters["ratio_800_to_floor"] = fit800.cpu / floorCopy.cpu;
    state.counters["fit240_wall_ms"] = fit240.wall / n * 1e3;
    state.counters["fit800_wall_ms"] = fit800.wall / n * 1e3;
    state.counters["worker_starts_wall_ms"] = workers.wall / n * 1e3;
}
BENCHMARK(landmarkFaceSizes)->Unit(benchmark::kMillisecond)->Iterations(200);

}  // namespace

BENCHMARK_MAIN();
