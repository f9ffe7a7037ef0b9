/*
 * The face maker.
 *
 * Divisions: random numbers and sampling; the mesh (points, rings, triangles, depth); the bank;
 * rendering a face layer; appearance changes; the maker.
 */
#include "tools/facedata/face_maker.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

namespace facedata {

/* ---- random numbers and sampling ---- */

uint64_t Random::next()
{
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

double Random::normal()
{
    const double u = std::max(uniform(), 1e-12), v = uniform();
    return std::sqrt(-2 * std::log(u)) * std::cos(2 * M_PI * v);
}

void sampleRgb(const RgbImage &image, float x, float y, float out[3])
{
    x = std::clamp(x - 0.5f, 0.0f, float(image.width - 1));
    y = std::clamp(y - 0.5f, 0.0f, float(image.height - 1));
    const int x0 = std::min(int(x), image.width - 1), y0 = std::min(int(y), image.height - 1);
    const int x1 = std::min(x0 + 1, image.width - 1), y1 = std::min(y0 + 1, image.height - 1);
    const float fx = x - x0, fy = y - y0;
    const uint8_t *a = image.pixel(x0, y0), *b = image.pixel(x1, y0), *c = image.pixel(x0, y1), *d = image.pixel(x1, y1);
    for (int k = 0; k < 3; ++k)
        out[k] = (a[k] * (1 - fx) + b[k] * fx) * (1 - fy) + (c[k] * (1 - fx) + d[k] * fx) * fy;
}

RgbImage resizeImage(const RgbImage &image, int width, int height)
{
    RgbImage out(width, height);
    const float sx = float(image.width) / width, sy = float(image.height) / height;
    if (sx <= 1 && sy <= 1) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                float v[3];
                sampleRgb(image, (x + 0.5f) * sx, (y + 0.5f) * sy, v);
                for (int k = 0; k < 3; ++k)
                    out.pixel(x, y)[k] = uint8_t(std::lround(v[k]));
            }
        return out;
    }
    /* area average: every source pixel lands in one destination pixel */
    std::vector<float> sums(size_t(width) * height * 3, 0), weights(size_t(width) * height, 0);
    for (int y = 0; y < image.height; ++y) {
        const int dy = std::min(height - 1, int(y / sy));
        for (int x = 0; x < image.width; ++x) {
            const int dx = std::min(width - 1, int(x / sx));
            const size_t i = size_t(dy) * width + dx;
            for (int k = 0; k < 3; ++k)
                sums[i * 3 + k] += image.pixel(x, y)[k];
            weights[i] += 1;
        }
    }
    for (size_t i = 0; i < weights.size(); ++i)
        for (int k = 0; k < 3; ++k)
            out.rgb[i * 3 + k] = uint8_t(std::lround(weights[i] > 0 ? sums[i * 3 + k] / weights[i] : 0));
    return out;
}

/* ---- the mesh ---- */

namespace {

constexpr int kRingPoints = 20;

/* The warp's vertices: the 68 points, an inner ring just outside the face (hair, ears, neck)
 * and an outer ring where the face layer has faded into the background. */
struct Mesh {
    std::vector<PointF> units;            /* mean-shape units, 68 + 2 rings */
    std::vector<std::array<int, 3>> triangles;
    float ringCentreY = 0;
    float ringRadiusX = 0, ringRadiusY = 0; /* inner ring */
    float headRadiusX = 0, headDepth = 0;   /* the head as an ellipsoid, for turning */
};

bool circumcircleContains(const std::vector<PointF> &p, const std::array<int, 3> &t, PointF q)
{
    const double ax = p[t[0]].x - q.x, ay = p[t[0]].y - q.y;
    const double bx = p[t[1]].x - q.x, by = p[t[1]].y - q.y;
    const double cx = p[t[2]].x - q.x, cy = p[t[2]].y - q.y;
    const double det = (ax * ax + ay * ay) * (bx * cy - cx * by) - (bx * bx + by * by) * (ax * cy - cx * ay) +
                       (cx * cx + cy * cy) * (ax * by - bx * ay);
    const double orientation = (p[t[1]].x - p[t[0]].x) * (p[t[2]].y - p[t[0]].y) -
                               (p[t[1]].y - p[t[0]].y) * (p[t[2]].x - p[t[0]].x);
    return orientation > 0 ? det > 0 : det < 0;
}

/* Delaunay triangulation (Bowyer-Watson) of the points. */
std::vector<std::array<int, 3>> triangulate(std::vector<PointF> points)
{
    const int n = int(points.size());
    float lo = 1e9f, hi = -1e9f;
    for (const PointF &p : points)
        lo = std::min({lo, p.x, p.y}), hi = std::max({hi, p.x, p.y});
    const float span = (hi - lo) * 10;
    points.push_back(PointF{lo - span, lo - span});
    points.push_back(PointF{hi + span, lo - span});
    points.push_back(PointF{(lo + hi) / 2, hi + span});
    std::vector<std::array<int, 3>> triangles = {{n, n + 1, n + 2}};
    for (int i = 0; i < n; ++i) {
        std::vector<std::array<int, 2>> edges;
        std::vector<std::array<int, 3>> kept;
        for (const auto &t : triangles) {
            if (circumcircleContains(points, t, points[i])) {
                edges.push_back({t[0], t[1]});
                edges.push_back({t[1], t[2]});
                edges.push_back({t[2], t[0]});
            } else {
                kept.push_back(t);
            }
        }
        for (size_t a = 0; a < edges.size(); ++a) {
            bool shared = false;
            for (size_t b = 0; b < edges.size(); ++b)
                if (a != b && edges[a][0] == edges[b][1] && edges[a][1] == edges[b][0])
                    shared = true;
            if (!shared)
                kept.push_back({edges[a][0], edges[a][1], i});
        }
        triangles = std::move(kept);
    }
    std::vector<std::array<int, 3>> out;
    for (const auto &t : triangles)
        if (t[0] < n && t[1] < n && t[2] < n)
            out.push_back(t);
    return out;
}

Mesh buildMesh(const Shape &mean)
{
    Mesh m;
    m.units = mean;
    float top = 1e9f, chin = -1e9f, side = 0;
    for (int i = 0; i < kPointCount; ++i) {
        top = std::min(top, mean[i].y);
        chin = std::max(chin, mean[i].y);
        if (i <= 16)
            side = std::max(side, std::abs(mean[i].x));
    }
    top -= 1.2f; /* the forehead above the brows */
    m.ringCentreY = (top + chin) / 2;
    m.ringRadiusX = side * 1.12f;
    m.ringRadiusY = (chin - top) / 2 * 1.12f;
    m.headRadiusX = side * 1.05f;
    m.headDepth = m.headRadiusX * 0.85f;
    for (float grow : {1.0f, 1.4f})
        for (int k = 0; k < kRingPoints; ++k) {
            const float a = 2 * float(M_PI) * k / kRingPoints;
            m.units.push_back(PointF{m.ringRadiusX * grow * std::cos(a), m.ringCentreY + m.ringRadiusY * grow * std::sin(a)});
        }
    m.triangles = triangulate(m.units);
    return m;
}

const Mesh &meshFor(const Shape &mean)
{
    static const Mesh mesh = buildMesh(mean);
    return mesh;
}

/* Depth of a point of the face's front in mean-shape units (the head's axis at depth 0). */
float frontDepth(const Mesh &m, int index, PointF p)
{
    const float r = p.x / m.headRadiusX;
    float z = m.headDepth * std::sqrt(std::max(0.0f, 1 - r * r));
    static const float kNose[9] = {0.25f, 0.45f, 0.65f, 0.9f, 0.45f, 0.55f, 0.65f, 0.55f, 0.45f}; /* 27..35 */
    if (index >= 27 && index <= 35)
        z += kNose[index - 27];
    if (index >= 48)
        z += 0.15f; /* lips */
    return z;
}

/* ---- rendering a face layer ---- */

/* A face layer over the output picture: colour and coverage per pixel. */
struct Layer {
    int width, height;
    std::vector<float> rgb;   /* 3 per pixel */
    std::vector<float> alpha; /* 0..1 */
    Layer(int w, int h) : width(w), height(h), rgb(size_t(w) * h * 3, 0), alpha(size_t(w) * h, 0) {}
};

/* Draws the source picture warped from its vertices onto the destination vertices, triangle by
 * triangle in the given order; each vertex carries a coverage. Later triangles cover earlier. */
void renderWarp(Layer *layer, const RgbImage &source, bool mirrorSource, const std::vector<PointF> &from,
                const std::vector<PointF> &to, const std::vector<float> &coverage,
                const std::vector<std::array<int, 3>> &triangles, const std::vector<int> &order)
{
    for (int t : order) {
        const auto &tri = triangles[size_t(t)];
        const PointF a = to[tri[0]], b = to[tri[1]], c = to[tri[2]];
        const float det = (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
        if (std::abs(det) < 1e-6f)
            continue;
        const int x0 = std::max(0, int(std::floor(std::min({a.x, b.x, c.x}))));
        const int x1 = std::min(layer->width - 1, int(std::ceil(std::max({a.x, b.x, c.x}))));
        const int y0 = std::max(0, int(std::floor(std::min({a.y, b.y, c.y}))));
        const int y1 = std::min(layer->height - 1, int(std::ceil(std::max({a.y, b.y, c.y}))));
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                const float px = x + 0.5f, py = y + 0.5f;
                const float w1 = ((px - a.x) * (c.y - a.y) - (c.x - a.x) * (py - a.y)) / det;
                const float w2 = ((b.x - a.x) * (py - a.y) - (px - a.x) * (b.y - a.y)) / det;
                const float w0 = 1 - w1 - w2;
                const float eps = -1e-4f;
                if (w0 < eps || w1 < eps || w2 < eps)
                    continue;
                float sx = w0 * from[tri[0]].x + w1 * from[tri[1]].x + w2 * from[tri[2]].x;
                const float sy = w0 * from[tri[0]].y + w1 * from[tri[1]].y + w2 * from[tri[2]].y;
                if (mirrorSource)
                    sx = float(source.width) - sx;
                /* fade out towards the source picture's edges rather than smear its last pixels */
                const float edge = std::min(std::min(sx, float(source.width) - sx), std::min(sy, float(source.height) - sy));
                const float fade = std::clamp(edge / (0.06f * float(std::min(source.width, source.height))), 0.0f, 1.0f);
                const size_t i = size_t(y) * layer->width + x;
                layer->alpha[i] = fade * (w0 * coverage[tri[0]] + w1 * coverage[tri[1]] + w2 * coverage[tri[2]]);
                if (fade <= 0)
                    continue;
                float v[3];
                sampleRgb(source, sx, sy, v);
                for (int k = 0; k < 3; ++k)
                    layer->rgb[i * 3 + k] = v[k];
            }
    }
}

/* Where every mesh vertex of face `source` lies in its picture. */
std::vector<PointF> sourceVertices(const Mesh &mesh, const FacePicture &face, const Shape &mean, bool mirror)
{
    const Shape points = mirror ? mirrorShape(face.points, float(face.image.width)) : face.points;
    const Similarity toPicture = fitSimilarity(mean, points);
    std::vector<PointF> v(mesh.units.size());
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = i < size_t(kPointCount) ? points[i] : toPicture.apply(mesh.units[i]);
    return v;
}

/* The target shape turned by yaw: its vertices seen from the front, in units, and their depth. */
void turnVertices(const Mesh &mesh, const Shape &target, float yawDegrees, std::vector<PointF> *out,
                  std::vector<float> *depth)
{
    const float t = yawDegrees * float(M_PI) / 180, c = std::cos(t), s = std::sin(t);
    /* the silhouette of the turned head ellipsoid, for the rings */
    const float ratio = mesh.headDepth / mesh.headRadiusX;
    const float ringScale = std::sqrt(c * c + ratio * ratio * s * s);
    out->resize(mesh.units.size());
    depth->resize(mesh.units.size());
    for (size_t i = 0; i < mesh.units.size(); ++i) {
        if (i < size_t(kPointCount)) {
            const PointF p = target[i];
            const float z = frontDepth(mesh, int(i), p);
            (*out)[i] = PointF{p.x * c + z * s, p.y};
            (*depth)[i] = -p.x * s + z * c;
        } else {
            (*out)[i] = PointF{mesh.units[i].x * ringScale, mesh.units[i].y};
            (*depth)[i] = -mesh.headDepth * 2; /* behind the face */
        }
    }
}

/* ---- appearance changes ---- */

uint8_t toByte(float v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); }

void gaussianBlur(RgbImage *image, float sigma)
{
    if (sigma < 0.2f)
        return;
    const int radius = int(std::ceil(sigma * 2.5f));
    std::vector<float> kernel(size_t(2 * radius + 1));
    float total = 0;
    for (int k = -radius; k <= radius; ++k)
        total += kernel[size_t(k + radius)] = std::exp(-0.5f * k * k / (sigma * sigma));
    for (float &k : kernel)
        k /= total;
    const int w = image->width, h = image->height;
    std::vector<float> tmp(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                float v = 0;
                for (int k = -radius; k <= radius; ++k)
                    v += kernel[size_t(k + radius)] * image->pixel(std::clamp(x + k, 0, w - 1), y)[c];
                tmp[(size_t(y) * w + x) * 3 + c] = v;
            }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                float v = 0;
                for (int k = -radius; k <= radius; ++k)
                    v += kernel[size_t(k + radius)] * tmp[(size_t(std::clamp(y + k, 0, h - 1)) * w + x) * 3 + c];
                image->pixel(x, y)[c] = toByte(v);
            }
}

/* Colour, contrast, gamma and a light falling across the face, on the face layer. */
void relight(Layer *layer, Random &rng, PointF centre, float side)
{
    float gain[3];
    for (float &g : gain)
        g = float(1 + 0.08 * rng.normal());
    const float brightness = float(12 * rng.normal());
    const float contrast = float(rng.uniform(0.6, 1.3));
    const float gamma = float(std::exp(rng.uniform(std::log(0.7), std::log(1.45))));
    const float light = float(rng.chance(0.6) ? rng.uniform(0, 0.6) : 0);
    const float angle = float(rng.uniform(0, 2 * M_PI));
    const float lx = std::cos(angle) * light / side, ly = std::sin(angle) * light / side;
    for (int y = 0; y < layer->height; ++y)
        for (int x = 0; x < layer->width; ++x) {
            const size_t i = size_t(y) * layer->width + x;
            if (layer->alpha[i] <= 0)
                continue;
            const float ramp = std::max(0.2f, 1 + (x + 0.5f - centre.x) * lx + (y + 0.5f - centre.y) * ly);
            for (int k = 0; k < 3; ++k) {
                float v = layer->rgb[i * 3 + k] / 255;
                v = std::pow(std::clamp(v, 0.0f, 1.0f), gamma) * 255;
                v = (v - 128) * contrast + 128 + brightness;
                layer->rgb[i * 3 + k] = v * gain[k] * ramp;
            }
        }
}

} // namespace

/* ---- the bank ---- */

bool loadFaceBank(const FaceSources &sources, FaceBank *bank, std::string *error)
{
    FaceBank b;
    if (!loadTrainingFaces(sources, &b.faces, error))
        return false;
    b.meanShape = meanTrainingShape(sources);
    for (const FacePicture &f : b.faces) {
        if (f.aligned)
            continue;
        b.shapes.push_back(transformShape(f.points, fitSimilarity(f.points, b.meanShape)));
        const Shape mirrored = mirrorShape(f.points, float(f.image.width));
        b.shapes.push_back(transformShape(mirrored, fitSimilarity(mirrored, b.meanShape)));
    }
    for (const Photo &photo : sources.training) {
        RgbImage image;
        if (!loadImage(photo.path, &image, error))
            return false;
        std::vector<BoxF> faces;
        for (const Face &f : photo.faces) /* the head around the box: hair above, ears beside */
            faces.push_back(BoxF{f.box.x - f.box.width * 0.5f, f.box.y - f.box.height * 0.8f, f.box.width * 2.0f,
                                 f.box.height * 2.2f});
        b.scenes.push_back(std::move(image));
        b.sceneFaces.push_back(std::move(faces));
    }
    b.backgrounds.resize(sources.negatives.size());
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::string firstError;
    auto work = [&] {
        for (size_t i; (i = next++) < sources.negatives.size();) {
            RgbImage image;
            std::string why;
            if (!loadImage(sources.negatives[i], &image, &why)) {
                if (!failed.exchange(true))
                    firstError = why;
                continue;
            }
            const float shrink = 1024.0f / float(std::max(image.width, image.height));
            b.backgrounds[i] = shrink < 1 ? resizeImage(image, std::max(1, int(image.width * shrink)),
                                                        std::max(1, int(image.height * shrink)))
                                          : std::move(image);
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(work);
    for (auto &t : threads)
        t.join();
    if (failed) {
        if (error)
            *error = firstError;
        return false;
    }
    *bank = std::move(b);
    return true;
}

/* ---- the maker ---- */

FaceMaker::FaceMaker(const FaceBank *bank, uint64_t seed) : bank_(bank), seed_(seed) {}

namespace {

uint64_t mix(uint64_t seed, uint64_t index, uint64_t salt)
{
    Random r(seed ^ (index * 0x9e3779b97f4a7c15ull) ^ (salt << 56));
    r.next();
    return r.next();
}

/* A background crop that fills width x height. */
void fillBackground(const FaceBank &bank, Random &rng, int which, RgbImage *out)
{
    if (bank.backgrounds.empty()) {
        std::fill(out->rgb.begin(), out->rgb.end(), uint8_t(128));
        return;
    }
    const RgbImage &bg = bank.backgrounds[size_t(which >= 0 ? which % int(bank.backgrounds.size())
                                                             : rng.below(int(bank.backgrounds.size())))];
    /* a crop of 0.3 to 1 of the photo's shorter side, resampled to the picture */
    const float fit = std::min(float(bg.width) / out->width, float(bg.height) / out->height);
    const float scale = fit * float(rng.uniform(0.25, 1.0)); /* background pixels per picture pixel */
    const float cw = out->width * scale, ch = out->height * scale;
    const float x0 = float(rng.uniform(0, std::max(0.0f, bg.width - cw)));
    const float y0 = float(rng.uniform(0, std::max(0.0f, bg.height - ch)));
    const bool flip = rng.chance(0.5);
    for (int y = 0; y < out->height; ++y)
        for (int x = 0; x < out->width; ++x) {
            float v[3];
            const float sx = flip ? x0 + cw - (x + 0.5f) * scale : x0 + (x + 0.5f) * scale;
            sampleRgb(bg, sx, y0 + (y + 0.5f) * scale, v);
            for (int k = 0; k < 3; ++k)
                out->pixel(x, y)[k] = toByte(v[k]);
        }
}

void addNoiseBlurJpeg(RgbImage *image, Random &rng, float side)
{
    if (rng.chance(0.5))
        gaussianBlur(image, float(rng.uniform(0.2, 1.0) * std::max(0.6f, side / 40)));
    if (rng.chance(0.6)) {
        const float sigma = float(rng.uniform(1, 7));
        for (uint8_t &v : image->rgb)
            v = toByte(v + sigma * float(rng.normal()));
    }
    if (rng.chance(0.5))
        *image = jpegRoundTrip(*image, int(rng.uniform(35, 92)));
}

/* A bank face, weighted towards the annotated faces; LFW crops only for small faces. */
int chooseSource(const FaceBank &bank, Random &rng, float boxSide)
{
    std::vector<int> annotated, johns, lfw;
    for (size_t i = 0; i < bank.faces.size(); ++i) {
        const FacePicture &f = bank.faces[i];
        if (!f.aligned)
            annotated.push_back(int(i));
        else if (f.image.width <= 32)
            lfw.push_back(int(i));
        else
            johns.push_back(int(i));
    }
    const double u = rng.uniform();
    const std::vector<int> *pick = u < 0.4 ? &annotated : u < 0.8 ? &johns : &lfw;
    if (pick == &lfw && boxSide > 60)
        pick = &johns;
    if (pick->empty())
        pick = !annotated.empty() ? &annotated : !johns.empty() ? &johns : &lfw;
    return pick->empty() ? -1 : (*pick)[size_t(rng.below(int(pick->size())))];
}

} // namespace

RgbImage FaceMaker::background(uint64_t index, int width, int height) const
{
    Random rng(mix(seed_, index, 1));
    RgbImage out(width, height);
    fillBackground(*bank_, rng, -1, &out);
    return out;
}

RgbImage FaceMaker::scene(uint64_t index, int width, int height, std::vector<BoxF> *avoid) const
{
    avoid->clear();
    if (bank_->scenes.empty())
        return RgbImage();
    Random rng(mix(seed_, index, 2));
    const size_t which = size_t(rng.below(int(bank_->scenes.size())));
    const RgbImage &photo = bank_->scenes[which];
    const float fit = std::min(float(photo.width) / width, float(photo.height) / height);
    const float scale = fit * float(rng.uniform(0.3, 1.0)); /* photo pixels per crop pixel */
    const float x0 = float(rng.uniform(0, std::max(0.0f, photo.width - width * scale)));
    const float y0 = float(rng.uniform(0, std::max(0.0f, photo.height - height * scale)));
    RgbImage out(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            float v[3];
            sampleRgb(photo, x0 + (x + 0.5f) * scale, y0 + (y + 0.5f) * scale, v);
            for (int k = 0; k < 3; ++k)
                out.pixel(x, y)[k] = toByte(v[k]);
        }
    for (const BoxF &f : bank_->sceneFaces[which])
        avoid->push_back(BoxF{(f.x - x0) / scale, (f.y - y0) / scale, f.width / scale, f.height / scale});
    return out;
}

MadeFace FaceMaker::make(uint64_t index, const FaceRequest &request) const
{
    const FaceBank &bank = *bank_;
    Random rng(mix(seed_, index, 0));
    MadeFace made;
    made.image = RgbImage(std::max(1, request.width), std::max(1, request.height));
    fillBackground(bank, rng, request.background, &made.image);
    made.mirrored = rng.chance(0.5);
    const Mesh &mesh = meshFor(bank.meanShape);
    const int source = chooseSource(bank, rng, request.boxSide);
    if (source < 0)
        return made;
    made.source = source;
    const FacePicture &face = bank.faces[size_t(source)];

    /* the target shape: the source's own shape moved part of the way to another face's */
    const Shape own = transformShape(face.points, fitSimilarity(face.points, bank.meanShape));
    Shape target = own;
    if (!bank.shapes.empty()) {
        made.shapeSource = rng.below(int(bank.shapes.size()));
        const Shape &other = bank.shapes[size_t(made.shapeSource)];
        const float t = request.plain ? 0.5f : float(rng.uniform(0, 1.1));
        for (int i = 0; i < kPointCount; ++i)
            target[i] = PointF{own[i].x + t * (other[i].x - own[i].x), own[i].y + t * (other[i].y - own[i].y)};
    }

    /* render as if unmirrored; the picture is mirrored at the end */
    const float roll = made.mirrored ? -request.roll : request.roll;
    const float yaw = made.mirrored ? -request.yaw : request.yaw;
    const float centreX = made.mirrored ? float(made.image.width) - request.centreX : request.centreX;
    std::vector<PointF> turned;
    std::vector<float> depth;
    turnVertices(mesh, target, yaw, &turned, &depth);
    const BoxF frontal = detectorBoxFromShape(target);
    float shift = 0;
    if (yaw != 0) {
        float lo = 1e9f, hi = -1e9f, flo = 1e9f, fhi = -1e9f;
        for (int i = 0; i < kPointCount; ++i) {
            lo = std::min(lo, turned[i].x), hi = std::max(hi, turned[i].x);
            flo = std::min(flo, target[i].x), fhi = std::max(fhi, target[i].x);
        }
        shift = (lo + hi) / 2 - (flo + fhi) / 2;
    }
    const float unitsCentreX = frontal.x + frontal.width / 2 + shift, unitsCentreY = frontal.y + frontal.height / 2;
    const float k = request.boxSide / std::max(1e-3f, frontal.width);
    const float r = roll * float(M_PI) / 180, cr = std::cos(r) * k, sr = std::sin(r) * k;
    std::vector<PointF> to(turned.size());
    for (size_t i = 0; i < to.size(); ++i) {
        const float dx = turned[i].x - unitsCentreX, dy = turned[i].y - unitsCentreY;
        to[i] = PointF{centreX + cr * dx - sr * dy, request.centreY + sr * dx + cr * dy};
    }
    std::vector<float> coverage(to.size(), 1.0f);
    for (size_t i = kPointCount + kRingPoints; i < coverage.size(); ++i)
        coverage[i] = 0;
    std::vector<int> order(mesh.triangles.size());
    for (size_t t = 0; t < order.size(); ++t)
        order[t] = int(t);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const auto &ta = mesh.triangles[size_t(a)], &tb = mesh.triangles[size_t(b)];
        return depth[ta[0]] + depth[ta[1]] + depth[ta[2]] < depth[tb[0]] + depth[tb[1]] + depth[tb[2]];
    });

    const bool mirrorSource = !request.plain && rng.chance(0.5);
    Layer layer(made.image.width, made.image.height);
    renderWarp(&layer, face.image, mirrorSource, sourceVertices(mesh, face, bank.meanShape, mirrorSource), to,
               coverage, mesh.triangles, order);
    if (!request.plain && rng.chance(0.3)) {
        const int partner = chooseSource(bank, rng, request.boxSide);
        if (partner >= 0 && partner != source) {
            made.partner = partner;
            const FacePicture &other = bank.faces[size_t(partner)];
            const bool mirrorPartner = rng.chance(0.5);
            Layer second(layer.width, layer.height);
            renderWarp(&second, other.image, mirrorPartner, sourceVertices(mesh, other, bank.meanShape, mirrorPartner),
                       to, coverage, mesh.triangles, order);
            const float a = float(rng.uniform(0.25, 0.5));
            for (size_t i = 0; i < layer.rgb.size(); ++i)
                layer.rgb[i] = layer.rgb[i] * (1 - a) + second.rgb[i] * a;
        }
    }
    if (!request.plain)
        relight(&layer, rng, PointF{centreX, request.centreY}, request.boxSide);
    for (size_t i = 0; i < layer.alpha.size(); ++i) {
        const float a = std::clamp(layer.alpha[i], 0.0f, 1.0f);
        if (a <= 0)
            continue;
        for (int c = 0; c < 3; ++c) {
            uint8_t &v = made.image.rgb[i * 3 + c];
            v = toByte(v * (1 - a) + layer.rgb[i * 3 + c] * a);
        }
    }
    if (!request.plain)
        addNoiseBlurJpeg(&made.image, rng, request.boxSide);

    made.points.assign(to.begin(), to.begin() + kPointCount);
    if (made.mirrored) {
        made.image = [&] {
            RgbImage m(made.image.width, made.image.height);
            for (int y = 0; y < m.height; ++y)
                for (int x = 0; x < m.width; ++x)
                    std::memcpy(m.pixel(x, y), made.image.pixel(m.width - 1 - x, y), 3);
            return m;
        }();
        made.points = mirrorShape(made.points, float(made.image.width));
    }
    made.box = BoxF{request.centreX - request.boxSide / 2, request.centreY - request.boxSide / 2, request.boxSide,
                    request.boxSide};
    made.leftEye = leftEyeCentre(made.points);
    made.rightEye = rightEyeCentre(made.points);
    return made;
}

} // namespace facedata
