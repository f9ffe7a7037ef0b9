/*
 * The models the detector asks for and how each is trained.
 *
 * Divisions: model plans; pictures and the detector's tables; cutting positives; mining
 * negatives; training a plan; the trained set.
 */
#include "tools/facetrain/families.h"

#include "facesdk/detect/passes.h"
#include "facesdk/detect/window.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

namespace facetrain {

using facedata::BoxF;
using facedata::FaceBank;
using facedata::FaceMaker;
using facedata::FaceRequest;
using facedata::MadeFace;
using facedata::PointF;
using facedata::Random;
using facedata::RgbImage;

/* ---- model plans ---- */

const std::vector<ModelPlan> &modelPlans()
{
    static const std::vector<ModelPlan> plans = {
        {kModelFrontalUpright0, true, WindowKind::Scan, 22, 0, 0, 0, 15, 22, 66, "frontal-upright"},
        {kModelFrontalDiagonal0, true, WindowKind::Scan, 22, -45, 0, 0, 15, 22, 66, "frontal-diagonal"},
        {kModelFrontalThirty0, true, WindowKind::Scan, 22, -30, 0, 0, 15, 22, 66, "frontal-thirty"},
        /* the small frontal and the turned families asked for more votes: on the made scenes
         * (facereport --split made) and the training photos their windows on trees, grass and
         * clothes made nearly all the false faces; this costs no made face 30 pixels or wider
         * and no made face of the trained-detector test. On 600 made scenes (--count 600) the
         * turned families still made 18 of the 29 false faces, for 13 faces found, most of them
         * placed better by the frontal families; asking 38 and 29 votes of them instead of 42
         * and 34 left 13 false faces, all frontal, for 3 made faces fewer. */
        {kModelFrontalSmall0, true, WindowKind::Scan, 14, 0, 0, 0, 15, 14, 19, "frontal-small", 36},
        {kModelHalfProfile0, true, WindowKind::Scan, 22, 0, 45, 35, 55, 22, 66, "half-profile", 38},
        {kModelProfile0, true, WindowKind::Scan, 22, 0, 90, 75, 90, 22, 66, "profile", 29},
        {kModelFaceVerify, false, WindowKind::FaceScore, 14, 0, 0, 0, 15, 14, 16, "face-verify"},
        {kModelEye, false, WindowKind::Eye, 14, 0, 0, 0, 15, 14, 19, "eye"},
        {kModelEyeVerify, false, WindowKind::Eye, 14, 0, 0, 0, 15, 14, 19, "eye-verify"},
    };
    return plans;
}

/* ---- pictures and the detector's tables ---- */

namespace {

struct Luma {
    std::vector<uint8_t> pixels;
    int width = 0, height = 0;
};

Luma lumaOf(const RgbImage &image)
{
    return Luma{facedata::greyOf(image), image.width, image.height};
}

/* A cascade without records: every window that is not flat passes with score 1. */
const CascadeModel *acceptAll()
{
    static const CascadeGroup groups[2] = {{nullptr, 0, sizeof(RectFeatureRecord)}, {nullptr, 0, sizeof(BlockFeatureRecord)}};
    static const CascadeModel model{groups, 2, -1, 65536, 0};
    return &model;
}

/* The cascade tables of one ScanPicture's detector: the plan's model(s) at its roll and views. */
struct Tables {
    const CascadeModel *slots[kViewCount][kCascadeTableSize] = {};

    void install(FaceDetector *d, const ModelPlan &plan, const CascadeModel *variant0, const CascadeModel *variant1)
    {
        std::memset(slots, 0, sizeof slots);
        const int index = angleIndex(plan.roll) * 4 + (plan.base == 22 ? 2 : 0);
        std::vector<int> views;
        if (plan.view == 0)
            views = {kViewFrontal};
        else if (plan.view == 45)
            views = {kViewHalfPositive, kViewHalfNegative};
        else
            views = {kViewProfilePositive, kViewProfileNegative};
        for (int v : views) {
            slots[v][index] = variant0;
            slots[v][index + 1] = variant1;
        }
        for (int v = 0; v < kViewCount; ++v)
            d->cascades.tables[v] = slots[v];
        d->cascades.verify = d->cascades.eye = d->cascades.eyeVerify = nullptr;
    }
};

/* Asks a scan window the way the still pass does at a coarse position: variant 0 with its
 * view and roll checks, then (second) variant 1 without. True when it passes; the detector's
 * roll and view are then those the window was evaluated at. */
bool askScanWindow(ScanPicture &picture, const ModelPlan &plan, int32_t x, int32_t y, uint32_t scale, bool second)
{
    FaceDetector *d = picture.detector();
    picture.setWindow(plan.base, plan.roll, plan.view, scale);
    if (evaluateWindow(d, x + 1, y + 1, 10) < 1)
        return false;
    return !second || evaluateWindow(d, x + 1, y + 1, 9) >= 1;
}

/* Cuts the window (top-left x, y; 0-based) with the detector's current roll and view. */
bool cutWindow(ScanPicture &picture, int32_t x, int32_t y, SampleStore *out)
{
    WindowContext context;
    if (!picture.context(x, y, &context))
        return false;
    out->add(context, windowForScale(picture.detector()->scale, picture.detector()->modelBase) + 1);
    return true;
}

float intersectionOverUnion(float ax, float ay, float as, float bx, float by, float bs)
{
    const float w = std::max(0.0f, std::min(ax + as, bx + bs) - std::max(ax, bx));
    const float h = std::max(0.0f, std::min(ay + as, by + bs) - std::max(ay, by));
    const float inter = w * h;
    return inter / (as * as + bs * bs - inter);
}

/* A window too close to a made face to count as a negative: about the face's size (up to 1.1
 * times larger, or 1.2 times smaller) and overlapping it by 40 % or more. Larger windows around
 * the face are negatives from just above the largest positive (1.087 times the face), so that
 * the scan, which asks large windows first, stops at the face's own size: a box too large for
 * the face also puts the eye search's windows, a third of the box, beyond the eyes. */
bool nearTheFace(float x, float y, float u, float fx, float fy, float fs)
{
    return u < fs * 1.1f && u * 1.2f > fs && intersectionOverUnion(x, y, u, fx, fy, fs) > 0.4f;
}

/* A made face for a plan: the face's roll near the plan's, its turn within the plan's range. */
MadeFace makeFace(const FaceMaker &maker, const ModelPlan &plan, uint64_t index, Random &rng, float boxSide,
                  float pictureScale)
{
    FaceRequest request;
    request.boxSide = boxSide;
    request.width = request.height = std::max(24, int(std::ceil(boxSide * pictureScale)));
    request.centreX = request.width / 2.0f + float(rng.uniform(-0.05, 0.05)) * boxSide;
    request.centreY = request.height / 2.0f + float(rng.uniform(-0.05, 0.05)) * boxSide;
    const float spread = plan.kind == WindowKind::Scan ? 12.0f : 8.0f;
    request.roll = float(plan.roll) + float(rng.uniform(-spread, spread));
    const float yaw = float(rng.uniform(plan.yawLow, plan.yawHigh));
    request.yaw = plan.yawLow > 0 ? (rng.chance(0.5) ? yaw : -yaw) : (rng.chance(0.5) ? yaw : -yaw);
    return maker.make(index, request);
}

/* ---- eye and face-score crops, as the eye search and the face score cut them ---- */

struct Crop {
    Luma luma;
    float scale = 1;     /* crop pixels per picture pixel */
    float roll = 0;      /* degrees the crop is turned by */
    float originX = 0, originY = 0, centreX = 0, centreY = 0; /* resampling reference, picture pixels */
    int32_t eyeWindow = 17; /* E, the middle eye window */
};

DetectorPlane planeOf(Luma &luma)
{
    DetectorPlane p{};
    p.width = uint32_t(luma.width);
    p.height = uint32_t(luma.height);
    p.data = luma.pixels.data();
    return p;
}

/* Picture point -> crop pixel coordinates for a crop made by resampleRotated. */
PointF toCrop(const Crop &c, PointF p)
{
    const float r = -c.roll * float(M_PI) / 180;
    const float dx = p.x - c.centreX, dy = p.y - c.centreY;
    const float ux = std::cos(r) * dx - std::sin(r) * dy, uy = std::sin(r) * dx + std::cos(r) * dy;
    /* resampleRotated: source = centre + R(roll) (step x i + (origin - centre)) */
    return PointF{(ux - (c.originX - c.centreX)) * c.scale, (uy - (c.originY - c.centreY)) * c.scale};
}

/* The eye search's crop of a face box (crop mode, lighting class 0). */
Crop eyeCrop(Luma &picture, const int32_t box[4], int32_t roll)
{
    const int32_t width = box[2], height = box[3];
    int32_t f = 1024, step = 1024;
    if (width * height > 5202 || width < 51) {
        f = 52224 / width;
        step = width * 1024 / 51;
    }
    auto even = [](int32_t v) { return v + (v & 1); };
    Crop c;
    const int32_t wc = even((width * f + 512) >> 10), hc = even(((((height * 717 + 512) >> 10) * f) + 512) >> 10);
    c.luma.width = wc;
    c.luma.height = hc;
    c.luma.pixels.assign(size_t(wc) * hc, 0);
    const int32_t x0 = box[0], y0 = box[1] + ((height * 280 + 512) >> 10) - ((height * 717 + 512) >> 11);
    const int32_t cx = box[0] + width / 2, cy = box[1] + height / 2;
    DetectorPlane src = planeOf(picture), dst = planeOf(c.luma);
    resampleRotated(&src, &dst, roll, x0, y0, cx, cy, step);
    c.scale = 1024.0f / float(step);
    c.roll = float(roll);
    c.originX = float(x0);
    c.originY = float(y0);
    c.centreX = float(cx);
    c.centreY = float(cy);
    c.eyeWindow = f != 1024 ? 17 : (width * 341 + 512) >> 10;
    return c;
}

/* The face score's 22 x 22 crop of a face box. */
Crop faceScoreCrop(Luma &picture, const int32_t box[4], int32_t roll)
{
    const int32_t E = 3 * box[2] / 14;
    const int32_t x0 = std::max(0, box[0] - E), y0 = std::max(0, box[1] - E);
    const int32_t w0 = std::min(box[2] + 2 * E, picture.width - x0 - 1), h0 = std::min(box[3] + 2 * E, picture.height - y0 - 1);
    Crop c;
    c.luma.width = c.luma.height = 22;
    c.luma.pixels.assign(22 * 22, 0);
    DetectorPlane src = planeOf(picture), dst = planeOf(c.luma);
    resampleRotated(&src, &dst, roll, x0, y0, x0 + (w0 + 1) / 2, y0 + (h0 + 1) / 2, w0 * 1024 / 21);
    return c;
}

/* The eye-window scales of a crop: E grown by 1126/1024 once and shrunk by 931/1024 twice. */
std::vector<uint32_t> eyeScales(int32_t E)
{
    const uint32_t middle = uint32_t((int64_t(E) * 74898 + 512) >> 10);
    return {uint32_t((int64_t(middle) * 1126 + 512) >> 10), middle, uint32_t((int64_t(middle) * 931 + 512) >> 10),
            uint32_t((int64_t(((int64_t(middle) * 931 + 512) >> 10)) * 931 + 512) >> 10)};
}

/* A detected box around the made face: the box a detection would report, a little off. */
void jitteredBox(const MadeFace &face, Random &rng, float position, float size, int32_t out[4])
{
    const float side = face.box.width * float(rng.uniform(1 - size, 1 + size));
    const float cx = face.box.x + face.box.width / 2 + face.box.width * float(rng.uniform(-position, position));
    const float cy = face.box.y + face.box.height / 2 + face.box.width * float(rng.uniform(-position, position));
    out[0] = int32_t(std::lround(cx - side / 2));
    out[1] = int32_t(std::lround(cy - side / 2));
    out[2] = out[3] = int32_t(std::lround(side));
}

/* A box around the made face as the detector reports it, for the eye search: on the made scenes
 * and the annotated photos (facereport) the detector's boxes are about 1.1 times the face's
 * detector box, spread by about 0.15 of it, their centres within about 0.07 of it. The eye
 * windows are a third of this box, and the eye model has to find the eye centres in them. */
void reportedBox(const MadeFace &face, Random &rng, int32_t out[4])
{
    const float side = face.box.width * float(rng.uniform(0.9, 1.3));
    const float cx = face.box.x + face.box.width / 2 + face.box.width * float(rng.uniform(-0.1, 0.1));
    const float cy = face.box.y + face.box.height / 2 + face.box.width * float(rng.uniform(-0.1, 0.1));
    out[0] = int32_t(std::lround(cx - side / 2));
    out[1] = int32_t(std::lround(cy - side / 2));
    out[2] = out[3] = int32_t(std::lround(side));
}

bool boxInside(const int32_t box[4], int width, int height)
{
    return box[0] >= 0 && box[1] >= 0 && box[0] + box[2] <= width && box[1] + box[3] <= height && box[2] > 13;
}

/* ---- cutting positives ---- */

/* The positives of one made face: windows the model must accept. */
void cutPositives(const ModelPlan &plan, const FaceMaker &maker, uint64_t index, ScanPicture &picture, Tables &tables,
                  SampleStore *out)
{
    Random rng(maker.seed() * 7919 + index * 104729 + uint64_t(plan.first) * 15485863);
    FaceDetector *d = picture.detector();
    if (plan.kind == WindowKind::Scan) {
        const float window = float(std::exp(rng.uniform(std::log(plan.windowLow), std::log(plan.windowHigh))));
        /* the face in the window: 0.92 .. 1.06 of the window; the pairs of scales and the
         * coarse grid give each face several windows about this close, and the best of them
         * becomes the face's box */
        const float box = window * float(rng.uniform(0.92, 1.06));
        MadeFace face = makeFace(maker, plan, index, rng, box, 2.2f);
        Luma luma = lumaOf(face.image);
        if (!picture.load(luma.pixels.data(), luma.width, luma.height))
            return;
        const uint32_t scale = scaleForWindow(int32_t(std::lround(window)), plan.base);
        const float u = float(windowForScale(scale, plan.base));
        /* within about a third of the coarse grid's step of 5 pixels */
        const float slack = 1.0f + 0.02f * u;
        const int32_t x = int32_t(std::lround(face.box.x + face.box.width / 2 - u / 2 + rng.uniform(-slack, slack)));
        const int32_t y = int32_t(std::lround(face.box.y + face.box.height / 2 - u / 2 + rng.uniform(-slack, slack)));
        tables.install(d, plan, acceptAll(), acceptAll());
        if (!askScanWindow(picture, plan, x, y, scale, false))
            return; /* flat, outside, or sent to another roll by the roll checks */
        cutWindow(picture, x, y, out);
        return;
    }
    const float side = float(rng.uniform(plan.kind == WindowKind::Eye ? 40 : 24, plan.kind == WindowKind::Eye ? 110 : 80));
    MadeFace face = makeFace(maker, plan, index, rng, side, 2.0f);
    Luma luma = lumaOf(face.image);
    int32_t box[4];
    if (plan.kind == WindowKind::Eye)
        reportedBox(face, rng, box);
    else
        jitteredBox(face, rng, 0.05f, 0.1f, box);
    if (!boxInside(box, luma.width, luma.height))
        return;
    if (plan.kind == WindowKind::FaceScore) {
        Crop c = faceScoreCrop(luma, box, 0);
        if (!picture.load(c.luma.pixels.data(), 22, 22))
            return;
        const uint32_t scale = rng.chance(0.5) ? 1024 : 1126;
        const int32_t dd = std::max(1, int32_t(((scale + 512) >> 10) >> 1));
        const int32_t at[5][2] = {{4, 4}, {4 - dd, 4 - dd}, {4 + dd, 4 - dd}, {4 - dd, 4 + dd}, {4 + dd, 4 + dd}};
        const int k = rng.below(5);
        picture.setWindow(14, 0, 0, scale);
        cutWindow(picture, at[k][0] - 1, at[k][1] - 1, out);
        return;
    }
    Crop c = eyeCrop(luma, box, 0);
    if (!picture.load(c.luma.pixels.data(), c.luma.width, c.luma.height))
        return;
    const std::vector<uint32_t> scales = eyeScales(c.eyeWindow);
    for (PointF eye : {face.leftEye, face.rightEye}) {
        const PointF at = toCrop(c, eye);
        const uint32_t scale = scales[size_t(rng.below(int(scales.size())))];
        const float m = float(windowForScale(scale, 14));
        /* the eye centre within a few hundredths of the window (about the eye distance) of the
         * window's centre: the hits are to gather on the eye itself */
        const float jitter = 0.025f * m;
        const int32_t x = int32_t(std::lround(at.x - m / 2 + rng.uniform(-jitter, jitter)));
        const int32_t y = int32_t(std::lround(at.y - m / 2 + rng.uniform(-jitter, jitter)));
        picture.setWindow(14, 0, 0, scale);
        cutWindow(picture, x, y, out);
    }
}

/* ---- mining negatives ---- */

/* Mines windows that the model being trained lets through, frame after frame; frames are
 * numbered, so the windows found are the same whatever the threads. */
class Miner {
public:
    Miner(const ModelPlan &plan, const FaceMaker &maker, int threads) : plan_(plan), maker_(maker), threads_(threads) {}

    /* variant0: the finished variant 0 when mining for variant 1, else null */
    uint64_t mine(const CascadeModel *partial, const CascadeModel *variant0, size_t wanted, SampleStore *out)
    {
        uint64_t examined = 0;
        const uint64_t batch = 16; /* frames per round, whatever the threads */
        /* a bounded search: the cascade may already reject nearly everything */
        const uint64_t limit = frame_ + 6000;
        while (out->size() < wanted && frame_ < limit) {
            std::vector<SampleStore> found(batch);
            std::vector<uint64_t> counts(batch, 0);
            std::atomic<uint64_t> next{0};
            std::vector<std::thread> pool;
            for (int t = 0; t < threads_; ++t)
                pool.emplace_back([&] {
                    ScanPicture picture;
                    Tables tables;
                    for (uint64_t k; (k = next.fetch_add(1)) < batch;)
                        counts[k] = mineFrame(frame_ + k, picture, tables, partial, variant0, &found[k]);
                });
            for (auto &th : pool)
                th.join();
            for (uint64_t k = 0; k < batch; ++k) {
                examined += counts[k];
                if (out->size() < wanted)
                    out->append(found[k]);
            }
            frame_ += batch;
        }
        return examined;
    }

private:
    uint64_t mineFrame(uint64_t frame, ScanPicture &picture, Tables &tables, const CascadeModel *partial,
                       const CascadeModel *variant0, SampleStore *out)
    {
        Random rng(maker_.seed() * 31 + frame * 2654435761ull + uint64_t(plan_.first) * 97);
        FaceDetector *d = picture.detector();
        const size_t cap = 24;
        uint64_t examined = 0;
        if (plan_.kind == WindowKind::Scan) {
            /* a negative photograph, a training photo away from its faces, or a made face
             * whose own windows are left out */
            Luma luma;
            std::vector<BoxF> avoid;
            float fx = -1e9f, fy = 0, fs = 0;
            const double pick = rng.uniform();
            const int width = int(rng.uniform(plan_.base * 6, plan_.base * 18));
            const int height = int(width * rng.uniform(0.6, 1.2));
            if (pick < 0.55) {
                luma = lumaOf(maker_.background(frame, width, height));
            } else if (pick < 0.75 && plan_.base == 22) {
                luma = lumaOf(maker_.scene(frame, width, height, &avoid));
            } else {
                const float side = float(rng.uniform(plan_.windowLow, plan_.windowHigh * 1.3));
                MadeFace face = makeFace(maker_, plan_, frame + (1ull << 40), rng, side, float(rng.uniform(2.5, 4.0)));
                luma = lumaOf(face.image);
                fx = face.box.x, fy = face.box.y, fs = face.box.width;
            }
            if (luma.pixels.empty())
                return 0;
            if (!picture.load(luma.pixels.data(), luma.width, luma.height))
                return 0;
            tables.install(d, plan_, variant0 ? variant0 : partial, variant0 ? partial : nullptr);
            /* every window of the frame is asked; up to cap of those that pass are kept, chosen
             * at random so that no part of the frame is favoured */
            struct Passed {
                int32_t x, y;
                uint32_t scale;
            };
            std::vector<Passed> passed;
            const float sizes = float(rng.uniform(0, 1));
            for (float window = plan_.windowLow * (1 + 0.19f * sizes); window <= plan_.windowHigh * 1.2f; window *= 1.19f) {
                const uint32_t scale = scaleForWindow(int32_t(std::lround(window)), plan_.base);
                const int32_t u = windowForScale(scale, plan_.base);
                const int32_t step = std::max(2, u / 7);
                for (int32_t y = rng.below(step); y + u < luma.height; y += step)
                    for (int32_t x = rng.below(step); x + u < luma.width; x += step) {
                        if (fs > 0 && nearTheFace(float(x), float(y), float(u), fx, fy, fs))
                            continue;
                        bool clear = true;
                        for (const BoxF &a : avoid)
                            clear &= x >= a.x + a.width || x + u <= a.x || y >= a.y + a.height || y + u <= a.y;
                        if (!clear)
                            continue;
                        ++examined;
                        if (askScanWindow(picture, plan_, x, y, scale, variant0 != nullptr))
                            passed.push_back(Passed{x, y, scale});
                    }
            }
            for (size_t i = 0; i < passed.size() && i < cap; ++i) {
                std::swap(passed[i], passed[i + size_t(rng.below(int(passed.size() - i)))]);
                /* asked again, so that the detector's roll and view are this window's */
                askScanWindow(picture, plan_, passed[i].x, passed[i].y, passed[i].scale, variant0 != nullptr);
                cutWindow(picture, passed[i].x, passed[i].y, out);
            }
            return examined;
        }
        if (plan_.kind == WindowKind::FaceScore) {
            /* boxes that are not faces: in a photograph, or off a made face */
            Luma luma;
            int32_t box[4];
            if (rng.chance(0.6)) {
                const int width = int(rng.uniform(80, 300));
                luma = lumaOf(maker_.background(frame, width, int(width * rng.uniform(0.6, 1.2))));
                const int side = int(rng.uniform(16, std::min(luma.width, luma.height) * 0.8));
                box[0] = rng.below(luma.width - side);
                box[1] = rng.below(luma.height - side);
                box[2] = box[3] = side;
            } else {
                MadeFace face = makeFace(maker_, plan_, frame + (1ull << 40), rng, float(rng.uniform(24, 70)), 3.0f);
                luma = lumaOf(face.image);
                const float dx = float(rng.uniform(0.45, 0.9)) * (rng.chance(0.5) ? 1 : -1);
                const float dy = float(rng.uniform(-0.9, 0.9));
                const float size = float(rng.uniform(0.5, 1.6));
                box[2] = box[3] = int32_t(face.box.width * size);
                box[0] = int32_t(face.box.x + face.box.width * (0.5f + dx) - box[2] / 2.0f);
                box[1] = int32_t(face.box.y + face.box.height * (0.5f + dy) - box[3] / 2.0f);
            }
            if (!boxInside(box, luma.width, luma.height))
                return 0;
            Crop c = faceScoreCrop(luma, box, 0);
            if (!picture.load(c.luma.pixels.data(), 22, 22))
                return 0;
            d->cascades.verify = partial;
            for (uint32_t scale : {1024u, 1126u}) {
                const int32_t dd = std::max(1, int32_t(((scale + 512) >> 10) >> 1));
                const int32_t at[5][2] = {{4, 4}, {4 - dd, 4 - dd}, {4 + dd, 4 - dd}, {4 - dd, 4 + dd}, {4 + dd, 4 + dd}};
                for (auto &p : at) {
                    picture.setWindow(14, 0, 0, scale);
                    ++examined;
                    if (evaluateVerifyWindow(d, p[0], p[1]) >= 1)
                        cutWindow(picture, p[0] - 1, p[1] - 1, out);
                }
            }
            return examined;
        }
        /* eyes: the eye crop of a made face, windows away from both eyes */
        const float side = float(rng.uniform(40, 110));
        MadeFace face = makeFace(maker_, plan_, frame + (1ull << 40), rng, side, 2.0f);
        Luma luma = lumaOf(face.image);
        int32_t box[4];
        reportedBox(face, rng, box);
        if (rng.chance(0.25)) { /* or a box off the face */
            box[0] += int32_t(box[2] * rng.uniform(-0.6, 0.6));
            box[1] += int32_t(box[3] * rng.uniform(-0.6, 0.6));
        }
        if (!boxInside(box, luma.width, luma.height))
            return 0;
        Crop c = eyeCrop(luma, box, 0);
        if (!picture.load(c.luma.pixels.data(), c.luma.width, c.luma.height))
            return 0;
        const PointF eyes[2] = {toCrop(c, face.leftEye), toCrop(c, face.rightEye)};
        /* Every window whose centre is a tenth of the window from both eyes is a negative. Those
         * beside an eye are the ones that pull its hits, and the eye placed at their mean, off
         * its centre (the more so as the search keeps the second eye 0.4 of the box from the
         * first, beyond the other eye in a box reported wider than 2.5 eye distances, and takes
         * the hits around that point): four in five negatives are chosen among the windows
         * within 0.7 of a window of an eye, the rest elsewhere, all at random. */
        const float nearShare = 0.1f, besideShare = 0.7f, besideTake = 0.8f;
        struct Passed {
            int32_t x, y;
            uint32_t scale;
        };
        std::vector<Passed> passed[2]; /* beside an eye, elsewhere */
        d->cascades.eye = d->cascades.eyeVerify = partial;
        for (uint32_t scale : eyeScales(c.eyeWindow)) {
            const int32_t m = windowForScale(scale, 14);
            picture.setWindow(14, 0, 0, scale);
            for (int32_t y = rng.below(2); y + m <= c.luma.height; y += 2)
                for (int32_t x = rng.below(2); x + m <= c.luma.width; x += 2) {
                    const float cx = x + m / 2.0f, cy = y + m / 2.0f;
                    float nearest = 1e9f;
                    for (const PointF &e : eyes)
                        nearest = std::min(nearest, std::hypot(cx - e.x, cy - e.y));
                    if (nearest < nearShare * m)
                        continue;
                    ++examined;
                    if (evaluateEyeWindow(d, x + 1, y + 1, 0) >= 1)
                        passed[nearest < besideShare * m ? 0 : 1].push_back(Passed{x, y, scale});
                }
        }
        /* up to cap of the windows that pass: beside the eyes first, the rest from elsewhere (or
         * beside, when elsewhere has too few) */
        const size_t besideWanted = std::min(passed[0].size(), size_t(std::lround(float(cap) * besideTake)));
        const size_t wanted[2] = {std::max(besideWanted, cap - std::min(cap, passed[1].size())), cap};
        for (int k = 0; k < 2; ++k) {
            std::vector<Passed> &list = passed[k];
            const size_t take = std::min({list.size(), wanted[k], cap - out->size()});
            for (size_t i = 0; i < take; ++i) {
                const size_t left = list.size() - i;
                std::swap(list[i], list[i + std::min(left - 1, size_t(rng.uniform(0, double(left))))]);
                picture.setWindow(14, 0, 0, list[i].scale);
                cutWindow(picture, list[i].x, list[i].y, out);
            }
        }
        return examined;
    }

    const ModelPlan &plan_;
    const FaceMaker &maker_;
    int threads_;
    uint64_t frame_ = 0;
};

/* Positives of a plan, made in parallel, kept in index order. */
SampleStore makePositives(const ModelPlan &plan, const FaceMaker &maker, uint64_t first, size_t count, int threads)
{
    SampleStore all;
    uint64_t index = first;
    while (all.size() < count) {
        const size_t batch = 256; /* faces per round, whatever the threads */
        std::vector<SampleStore> parts(batch);
        std::atomic<size_t> next{0};
        std::vector<std::thread> pool;
        for (int t = 0; t < threads; ++t)
            pool.emplace_back([&] {
                ScanPicture picture;
                Tables tables;
                for (size_t k; (k = next.fetch_add(1)) < batch;)
                    cutPositives(plan, maker, index + k, picture, tables, &parts[k]);
            });
        for (auto &th : pool)
            th.join();
        for (auto &p : parts) {
            SampleStore trimmed;
            if (all.size() >= count)
                break;
            all.append(p);
        }
        index += batch;
    }
    return all;
}

/* The Q16 score scale that gives the median validation positive the target score. */
uint32_t scaleForTarget(const TrainedModel &model, const SampleStore &validation, int32_t target)
{
    std::vector<int64_t> margins;
    for (size_t i = 0; i < validation.size(); ++i) {
        bool passes = true;
        int64_t s = 0;
        model.walkSums(validation.context(i), [&](size_t, int64_t sum, int32_t threshold) {
            passes &= sum >= threshold;
            s = sum;
        });
        if (passes && s > model.lastThreshold())
            margins.push_back(s - model.lastThreshold());
    }
    if (margins.empty())
        return 65536;
    std::nth_element(margins.begin(), margins.begin() + ptrdiff_t(margins.size() / 2), margins.end());
    const int64_t median = std::max<int64_t>(1, margins[margins.size() / 2]);
    return uint32_t(std::clamp<int64_t>(int64_t(target) * 65536 / median, 1, 1 << 24));
}

/* The eye model's Q16 score scale. The eye search keeps a window as a hit from score 100 and
 * places each eye at the middle of the hits around the strongest cluster: the scale puts score
 * 100 at the margin that only a tenth of the windows away from the eyes that pass the cascade
 * reach (most of them beside the eyes, as the negatives are chosen), so that the hits gather on
 * the eyes rather than spread around them. */
uint32_t eyeHitScale(const ModelPlan &plan, const FaceMaker &maker, TrainedModel &model, const TrainOptions &options)
{
    SampleStore passing;
    Miner miner(plan, maker, options.threads);
    miner.mine(model.finished(65536), nullptr, 4000, &passing);
    std::vector<int64_t> margins;
    for (size_t i = 0; i < passing.size(); ++i)
        margins.push_back(std::max<int64_t>(1, modelSum(model, passing.context(i)) - model.lastThreshold()));
    if (margins.empty())
        return 65536;
    const size_t at = std::min(margins.size() - 1, margins.size() * 9 / 10);
    std::nth_element(margins.begin(), margins.begin() + ptrdiff_t(at), margins.end());
    const int64_t margin = margins[at];
    if (options.log)
        options.log("  eye hits from margin " + std::to_string(margin) + " (" + std::to_string(passing.size()) +
                    " windows away from the eyes pass)");
    return uint32_t(std::clamp<int64_t>(int64_t(100) * 65536 / margin, 1, 1 << 24));
}

/* Keeps the samples the cascade passes. */
SampleStore passing(const SampleStore &samples, const CascadeModel *model)
{
    SampleStore out;
    std::vector<char> keep(samples.size(), 0);
    for (size_t i = 0; i < samples.size(); ++i) {
        const WindowContext c = samples.context(i);
        keep[i] = evaluateCascade(&c, model) >= 1;
    }
    out = samples;
    out.keep(keep);
    return out;
}

} // namespace

/* ---- training a plan ---- */

std::vector<ModelResult> trainPlan(const ModelPlan &plan, const FaceBank &bank, const TrainOptions &options)
{
    auto log = [&](const std::string &line) {
        if (options.log)
            options.log(line);
    };
    const uint64_t seed = options.seed * 1000003 + uint64_t(plan.first) * 7777;
    FaceMaker maker(&bank, seed);
    log(std::string("model ") + plan.name + ": making positives");
    SampleStore positives = makePositives(plan, maker, 0, options.positives, options.threads);
    SampleStore validation = makePositives(plan, maker, 1ull << 32, options.validation, options.threads);
    log("  " + std::to_string(positives.size()) + " positives, " + std::to_string(validation.size()) + " to set thresholds");

    Miner miner(plan, maker, options.threads);
    BoostOptions boost;
    const DetectorModelShape shape = detectorModelShape(plan.first);
    boost.rectangles = shape.rectangles;
    boost.blocks = shape.blocks;
    boost.base = plan.base;
    /* the turned views are found less surely by their synthetic faces: their cascades are kept
     * stricter, so that they find little where nothing is */
    boost.missBudget = plan.view == 0 ? options.missBudget : options.missBudget * 2;
    boost.spending = options.spending;
    boost.negatives = options.negatives;
    boost.threads = options.threads;
    boost.seed = seed;
    boost.log = options.log;

    std::vector<ModelResult> results;
    SampleStore negatives;
    miner.mine(acceptAll(), nullptr, options.negatives, &negatives);
    log("  " + std::to_string(negatives.size()) + " starting negatives");
    TrainedModel first = trainCascade(positives, validation, std::move(negatives),
                                      [&](const CascadeModel *partial, size_t wanted, SampleStore *out) {
                                          return miner.mine(partial, nullptr, wanted, out);
                                      },
                                      boost);
    /* the scores: variant 0 only has to pass; the others are summed against their thresholds */
    const int32_t target = plan.kind == WindowKind::Eye ? 160
                           : plan.kind == WindowKind::FaceScore ? 220
                           : plan.twoVariants ? 1
                                              : 100;
    const uint32_t scale = plan.first == kModelEye ? eyeHitScale(plan, maker, first, options)
                           : plan.twoVariants              ? 65536
                                                           : scaleForTarget(first, validation, target);
    first.finished(scale);
    results.push_back(ModelResult{plan.first, first});
    if (!plan.twoVariants)
        return results;

    log(std::string("model ") + plan.name + " variant 1");
    TrainedModel variant0 = first;
    const CascadeModel *v0 = variant0.finished(65536);
    SampleStore positives1 = passing(positives, v0), validation1 = passing(validation, v0);
    Miner miner1(plan, maker, options.threads);
    SampleStore negatives1;
    miner1.mine(acceptAll(), v0, options.negatives, &negatives1);
    log("  " + std::to_string(positives1.size()) + " positives pass variant 0; " + std::to_string(negatives1.size()) +
        " negatives");
    TrainedModel second = trainCascade(positives1, validation1, std::move(negatives1),
                                       [&](const CascadeModel *partial, size_t wanted, SampleStore *out) {
                                           return miner1.mine(partial, v0, wanted, out);
                                       },
                                       boost);
    second.finished(scaleForTarget(second, validation1, plan.voteTarget));
    results.push_back(ModelResult{DetectorModelId(plan.first + 1), second});
    /* Once variant 1 has learnt from what variant 0 let through as trained, variant 0 turns a
     * window away at the first record where no validation positive that both variants pass was
     * as low (the scan asks variant 1 where variant 0 passes, and a window variant 1 fails
     * counts for nothing): every window is asked variant 0, and most of its time went to
     * windows that would fail later anyway. Variant 1 keeps its thresholds: its windows' scores
     * are the votes that place a face. */
    const size_t raised = results[0].model.tightenThresholds(validation, second.finished(second.scale()));
    log("  variant 0: " + std::to_string(raised) + " thresholds raised to the passing positives' lowest sums");
    return results;
}

/* ---- the trained set ---- */

bool writeModelSource(const std::string &path, const std::vector<ModelResult> &models, const std::string &command,
                      std::string *error)
{
    std::ostringstream s;
    s << "/*\n * Trained values of the detector's cascade models.\n *\n * Generated by tools/facetrain from the face "
         "sources of tools/facedata (fetched with\n * tools/facedata/fetch.sh); train again rather than edit:\n *\n *   "
      << command << "\n */\n#include \"facesdk/detect/models.h\"\n\nnamespace {\n\n";
    std::vector<std::string> names(kModelCount, "kEmpty");
    s << "const DetectorModelData kEmpty = {nullptr, 0, nullptr, 0, 0, 65536};\n\n";
    for (const ModelResult &m : models) {
        const std::string id = std::to_string(int(m.id));
        const TrainedModel &t = m.model;
        s << "/* model " << id << " */\nconst int16_t kVotes" << id << "[] = {";
        size_t n = 0;
        auto votes = [&](const std::vector<int16_t> &v) {
            for (int16_t x : v) {
                s << (n % 24 == 0 ? "\n    " : " ") << x << ",";
                ++n;
            }
        };
        for (const auto &v : t.rectangleVotes())
            votes(v);
        for (const auto &v : t.blockVotes())
            votes(v);
        s << "\n};\nconst RectFeatureRecord kRectangles" << id << "[] = {\n";
        size_t offset = 0;
        for (const RectFeatureRecord &r : t.rectangles()) {
            s << "    {" << r.threshold << ", " << int(r.kind) << ", " << int(r.anchorX) << ", " << int(r.anchorY) << ", "
              << int(r.unitWidth) << ", " << int(r.unitHeight) << ", " << int(r.shift) << ", {}, kVotes" << id << " + "
              << offset << "},\n";
            offset += 64;
        }
        s << "};\nconst BlockFeatureRecord kBlocks" << id << "[] = {\n";
        for (const BlockFeatureRecord &b : t.blocks()) {
            s << "    {" << b.threshold << ", " << int(b.kind) << ", " << int(b.anchorX) << ", " << int(b.anchorY)
              << ", 0, kVotes" << id << " + " << offset << "},\n";
            offset += 256;
        }
        s << "};\nconst DetectorModelData kModel" << id << " = {kRectangles" << id << ", " << t.rectangles().size()
          << ", kBlocks" << id << ", " << t.blocks().size() << ", " << t.lastThreshold() << ", " << t.scale() << "};\n\n";
        names[size_t(m.id)] = "kModel" + id;
    }
    s << "} // namespace\n\nconst DetectorModelData &detectorModelData(DetectorModelId id)\n{\n    static const "
         "DetectorModelData *const kModels[kModelCount] = {\n";
    for (int i = 0; i < kModelCount; ++i)
        s << "        &" << names[size_t(i)] << ",\n";
    s << "    };\n    return *kModels[id >= 0 && id < kModelCount ? id : 0];\n}\n";
    std::ofstream file(path);
    file << s.str();
    if (!file) {
        if (error)
            *error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace facetrain
