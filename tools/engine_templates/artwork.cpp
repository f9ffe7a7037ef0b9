// Procedural template artwork and the catalogue source made from it.
//
// Divisions: shaping helpers; the eye-lid curves of the two template layouts; one drawing per
// group; the catalogue source.
#include "tools/engine_templates/artwork.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

#include "facesdk/engine/lzw_pack.h"

namespace {

// ---- Shaping helpers ------------------------------------------------------------------------

double smoothstep(double edge0, double edge1, double x)
{
    const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// Weight 0..1 to a byte, in steps of kQuantum (full weight is 255).
constexpr int kQuantum = 8;
uint8_t quantise(double weight)
{
    const double clamped = std::clamp(weight, 0.0, 1.0);
    return uint8_t(std::min<long>(std::lround(clamped * (255.0 / kQuantum)) * kQuantum, 255));
}

// A bump of height 1 at `centre` falling off with the given spread (a Gaussian profile): the
// shape every stroke and band is made of, so that no mask has an edge finer than its spread.
double bump(double d, double centre, double spread)
{
    const double t = (d - centre) / spread;
    return std::exp(-0.5 * t * t);
}

std::vector<uint8_t> drawPlane(uint32_t width, uint32_t height,
                               const std::function<double(double, double)> &weight)
{
    std::vector<uint8_t> plane(size_t(width) * height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            plane[size_t(y) * width + x] = quantise(weight(x, y));
    return plane;
}

// ---- Lid curves -----------------------------------------------------------------------------

struct Point {
    double x, y;
};

// A lid as y(x): the Catmull-Rom curve through four points (ends doubled), sampled densely and
// read back by linear interpolation; outside the corners the curve holds its end values.
class Lid {
public:
    explicit Lid(const Point (&p)[4])
    {
        const Point ext[6] = {p[0], p[0], p[1], p[2], p[3], p[3]};
        for (int s = 1; s <= 3; ++s)
            for (int i = 0; i < 64; ++i) {
                const double t = i / 64.0, t2 = t * t, t3 = t2 * t;
                const double w0 = -t3 + 2 * t2 - t, w1 = 3 * t3 - 5 * t2 + 2;
                const double w2 = -3 * t3 + 4 * t2 + t, w3 = t3 - t2;
                samples_.push_back({0.5 * (w0 * ext[s - 1].x + w1 * ext[s].x + w2 * ext[s + 1].x +
                                           w3 * ext[s + 2].x),
                                    0.5 * (w0 * ext[s - 1].y + w1 * ext[s].y + w2 * ext[s + 1].y +
                                           w3 * ext[s + 2].y)});
            }
        samples_.push_back(p[3]);
    }
    double y(double x) const
    {
        if (x <= samples_.front().x)
            return samples_.front().y;
        for (size_t i = 1; i < samples_.size(); ++i)
            if (x <= samples_[i].x) {
                const Point a = samples_[i - 1], b = samples_[i];
                return b.x > a.x ? a.y + (b.y - a.y) * (x - a.x) / (b.x - a.x) : b.y;
            }
        return samples_.back().y;
    }

private:
    std::vector<Point> samples_;
};

// An eye layout in template pixels. The template draws the first eye with its outer corner
// (toward the ear) on the left and its inner corner (toward the nose) on the right.
struct EyeLayout {
    uint32_t width, height;
    double outer, inner;  // x of the outer and the inner corner
    Lid upper, lower;
    double feather;       // the least spread of a stroke: about one face pixel at the smallest eyes
};

// Eyes are 343 template pixels wide here and 12 to 200 pixels in photos: a face pixel spans up
// to about 28 template pixels, and nothing is drawn finer than half that.
const EyeLayout &largeEye()
{
    static const EyeLayout layout{415, 310, 71, 414,
                                  Lid({{71, 192}, {161, 149}, {300, 151}, {414, 215}}),
                                  Lid({{71, 192}, {165, 213}, {289, 215}, {414, 215}}), 14.0};
    return layout;
}

// 79 template pixels wide: a face pixel spans up to about 7, and strokes spread over 5 or more.
const EyeLayout &smallEye()
{
    static const EyeLayout layout{150, 102, 52, 131,
                                  Lid({{52, 67}, {71, 51}, {108, 49}, {131, 68}}),
                                  Lid({{52, 67}, {77, 80}, {104, 76}, {131, 68}}), 5.0};
    return layout;
}

// Height of the lid line at x: the upper lid, never below the lower one (the two curves
// cross slightly near the corners).
double lidTop(const EyeLayout &eye, double x) { return std::min(eye.upper.y(x), eye.lower.y(x)); }

// 1 outside the eye opening, falling to 0 within `soft` pixels inside the lid lines: strokes
// meet the lashes and never cover the eye itself.
double outsideOpening(const EyeLayout &eye, double x, double y, double soft)
{
    if (x <= eye.outer || x >= eye.inner)
        return 1.0;
    const double depth = std::min(y - eye.upper.y(x), eye.lower.y(x) - y);
    return 1.0 - smoothstep(0.0, soft, depth);
}

// Place along the eye, 0 at the outer corner and 1 at the inner one.
double along(const EyeLayout &eye, double x) { return (x - eye.outer) / (eye.inner - eye.outer); }

// Fades in over `in` pixels around the outer corner and out over `out` pixels toward the inner
// corner, both ends smooth and both done inside the template, so no stroke meets its border.
double alongEye(const EyeLayout &eye, double x, double in, double out)
{
    const double outerStart = std::max(eye.outer - in, eye.feather * 0.5);
    const double innerEnd = std::min(eye.inner + out * 0.2, eye.width - 1.0 - eye.feather * 0.5);
    return smoothstep(outerStart, eye.outer + in * 0.25, x) *
           (1.0 - smoothstep(eye.inner - out, innerEnd, x));
}

// ---- Drawings -------------------------------------------------------------------------------

// Stage 0x1000: shadow over the upper lid, higher and denser with the level (1..6), deepest
// toward the outer corner.
TemplateArt eyeDark(int level)
{
    const EyeLayout &eye = largeEye();
    const double height = 22.0 + 11.0 * level;
    const double density = 0.55 + 0.075 * level;
    return {eye.width, eye.height, {}, drawPlane(eye.width, eye.height, [&](double x, double y) {
                const double above = lidTop(eye, x) - y;
                const double rise = smoothstep(-eye.feather * 0.5, eye.feather, above);
                const double fall = 1.0 - smoothstep(0.3 * height, 1.2 * height + eye.feather, above);
                const double deeper = 0.75 + 0.25 * (1.0 - std::clamp(along(eye, x), 0.0, 1.0));
                return density * deeper * rise * fall * alongEye(eye, x, 40.0, 90.0) *
                       outsideOpening(eye, x, y, eye.feather * 0.7);
            })};
}

// Stage 0x200, first set: a line along the upper lid, thicker toward the outer corner.
TemplateArt upperLiner(int level)
{
    const EyeLayout &eye = largeEye();
    return {eye.width, eye.height, {}, drawPlane(eye.width, eye.height, [&](double x, double y) {
                const double outerness = 1.0 - std::clamp(along(eye, x), 0.0, 1.0);
                const double thickness = (6.0 + 4.0 * level) * (0.45 + 0.55 * outerness);
                const double above = lidTop(eye, x) - y;
                const double spread = std::max(thickness * 0.5, eye.feather);
                return 0.95 * bump(above, thickness * 0.5, spread) * alongEye(eye, x, 30.0, 70.0) *
                       outsideOpening(eye, x, y, eye.feather * 0.5);
            })};
}

// Stage 0x200, second set: a lighter line under the lower lid, fading toward the inner corner.
TemplateArt lowerLiner(int level)
{
    const EyeLayout &eye = largeEye();
    return {eye.width, eye.height, {}, drawPlane(eye.width, eye.height, [&](double x, double y) {
                const double thickness = 4.0 + 3.0 * level;
                const double below = y - eye.lower.y(x);
                const double spread = std::max(thickness * 0.5, eye.feather);
                // full over the outer third, a fifth of that at the inner corner
                const double fade = 1.0 - 0.8 * smoothstep(0.3, 1.0, along(eye, x));
                return 0.7 * fade * bump(below, thickness * 0.5, spread) *
                       alongEye(eye, x, 30.0, 60.0) * outsideOpening(eye, x, y, eye.feather * 0.5);
            })};
}

// Stage 0x400: lid colour, crease colour and outer-corner colour for four styles; each is a
// soft cloud of colour, never a flat band.
TemplateArt eyeLayer(int style, int layer)
{
    const EyeLayout &eye = smallEye();
    return {eye.width, eye.height, {}, drawPlane(eye.width, eye.height, [&](double x, double y) {
                const double above = lidTop(eye, x) - y;
                double w = 0.0;
                switch (layer) {
                case 0: {  // lid, right above the lashes
                    const double height = 4.0 + 1.5 * style;
                    w = 0.8 * bump(above, height * 0.5, std::max(height * 0.5, eye.feather)) *
                        alongEye(eye, x, 6.0, 18.0);
                    break;
                }
                case 1:  // crease, a band higher up
                    w = 0.7 * bump(above, 11.0 + 2.5 * style, eye.feather + style) *
                        alongEye(eye, x, 10.0, 22.0);
                    break;
                default: {  // outer corner, a soft spot reaching past the corner
                    const double dx = x - (eye.outer + 4.0), dy = y - (eye.upper.y(x) - 4.0);
                    w = 0.75 * bump(std::sqrt(dx * dx + dy * dy), 0.0, 5.0 + 2.0 * style);
                    break;
                }
                }
                return w * outsideOpening(eye, x, y, eye.feather * 0.7);
            })};
}

// Stage 0x8000: a soft face-sized ellipse, strongest in the middle.
TemplateArt faceMask()
{
    return {150, 100, {}, drawPlane(150, 100, [](double x, double y) {
                const double dx = (x - 74.5) / 70.0, dy = (y - 47.0) / 44.0;
                return 1.0 - smoothstep(0.45, 1.0, std::sqrt(dx * dx + dy * dy));
            })};
}

// Stage 0x80: light iris pictures (mean about 205) with fine rays and a catch-light up and to
// the outer side, and masks that leave the pupil and the iris rim alone: a faint ring over the
// iris and a firm catch-light, so the eye is brightened, not painted over.
TemplateArt overlay(int index)
{
    static const uint32_t kSizes[5][2] = {{81, 50}, {180, 130}, {206, 100}, {66, 97}, {137, 129}};
    const uint32_t w = kSizes[index][0], h = kSizes[index][1];
    const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
    // Distance from the centre in half sizes (1 at the middle of each side).
    auto radius = [=](double x, double y) {
        const double dx = (x - cx) / (w / 2.0), dy = (y - cy) / (h / 2.0);
        return std::sqrt(dx * dx + dy * dy);
    };
    auto catchLight = [=](double x, double y) {
        const double dx = (x - cx) / (w / 2.0) + 0.32, dy = (y - cy) / (h / 2.0) + 0.3;
        return bump(std::sqrt(dx * dx + dy * dy), 0.0, 0.13);
    };
    TemplateArt art{w, h, {}, {}};
    art.picture = drawPlane(w, h, [&](double x, double y) {
        const double r = radius(x, y);
        const double angle = std::atan2(y - cy, x - cx);
        const double rays = std::cos(angle * (4 + 2 * index)) * std::exp(-2.5 * r);
        const double glow = std::exp(-6.0 * r * r);
        return (185.0 + 40.0 * glow + 18.0 * rays + 40.0 * catchLight(x, y)) / 255.0;
    });
    art.mask = drawPlane(w, h, [&](double x, double y) {
        const double r = radius(x, y);
        const double ring = 0.3 * bump(r, 0.6, 0.16) * (1.0 - smoothstep(0.8, 0.98, r));
        return std::max(ring, 0.9 * catchLight(x, y));
    });
    return art;
}

// ---- Catalogue source -----------------------------------------------------------------------

struct GroupSource {
    const char *table;   // name of the descriptor table
    const char *prefix;  // name prefix of the blob arrays
    int count;
};

const GroupSource kGroupSources[kArtGroups] = {
    {"kOverlayTemplateBlobs", "kOverlay", 5}, {"kFaceMaskBlobs", "kFaceMask", 1},
    {"kEyePairBlobs", "kEyePair", 12},        {"kEyeDarkBlobs", "kEyeDark", 6},
    {"kEyeLayerBlobs", "kEyeLayer", 12},
};

}  // namespace

int artEntryCount(int group)
{
    return group >= 0 && group < kArtGroups ? kGroupSources[group].count : 0;
}

TemplateArt drawTemplateArt(int group, int index)
{
    if (index < 0 || index >= artEntryCount(group))
        return {0, 0, {}, {}};
    switch (group) {
    case 0:
        return overlay(index);
    case 1:
        return faceMask();
    case 2:
        return index < 6 ? upperLiner(index + 1) : lowerLiner(index - 5);
    case 3:
        return eyeDark(index + 1);
    default:
        return eyeLayer(index / 3 + 1, index % 3);
    }
}

std::string renderCatalogueSource()
{
    std::string out =
        "// Generated by tools/engine_templates from its procedural artwork; do not edit. Run\n"
        "// `engine_templates facesdk/engine/model_blob_data.cpp` to make it again.\n"
        "#include \"facesdk/engine/model_blob_catalogue.h\"\n\n"
        "namespace {\n\n";
    std::string tables;
    char line[160];
    for (int group = 0; group < kArtGroups; ++group) {
        const GroupSource &source = kGroupSources[group];
        std::snprintf(line, sizeof line, "const ModelBlob %s[%d] = {\n", source.table,
                      source.count);
        tables += line;
        for (int index = 0; index < source.count; ++index) {
            const TemplateArt art = drawTemplateArt(group, index);
            const std::vector<uint8_t> record = makeTemplateRecord(
                art.width, art.height, art.picture.empty() ? nullptr : art.picture.data(),
                art.mask.empty() ? nullptr : art.mask.data());
            const std::vector<uint8_t> blob = lzwPack(record.data(), record.size());
            std::snprintf(line, sizeof line, "const uint8_t %s%d[%zu] = {", source.prefix, index,
                          blob.size());
            out += line;
            for (size_t i = 0; i < blob.size(); ++i) {
                if (i % 24 == 0)
                    out += "\n   ";
                std::snprintf(line, sizeof line, " %u,", blob[i]);
                out += line;
            }
            out += "\n};\n\n";
            std::snprintf(line, sizeof line, "    {%zu, %s%d},\n", blob.size(), source.prefix,
                          index);
            tables += line;
        }
        tables += "};\n\n";
    }
    out += "}  // namespace\n\n";
    return out + tables;
}
