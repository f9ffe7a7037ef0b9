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

// Weight 0..1 to a byte, in steps of 17.
uint8_t quantise(double weight)
{
    const double clamped = std::clamp(weight, 0.0, 1.0);
    return uint8_t(std::lround(clamped * 15.0) * 17);
}

// 1 inside [low, high], falling to 0 over `soft` pixels outside it (`softHigh` above high
// when given).
double softBand(double d, double low, double high, double soft, double softHigh = -1.0)
{
    const double upper = softHigh < 0 ? soft : softHigh;
    return smoothstep(low - soft, low, d) * (1.0 - smoothstep(high, high + upper, d));
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

struct EyeLayout {
    uint32_t width, height;
    double inner, outer;  // x of the inner and outer corner
    Lid upper, lower;
    double scale;         // lengths relative to the large layout
};

const EyeLayout &largeEye()
{
    static const EyeLayout layout{415, 310, 71, 414,
                                  Lid({{71, 192}, {161, 149}, {300, 151}, {414, 215}}),
                                  Lid({{71, 192}, {165, 213}, {289, 215}, {414, 215}}), 1.0};
    return layout;
}

const EyeLayout &smallEye()
{
    static const EyeLayout layout{150, 102, 52, 131,
                                  Lid({{52, 67}, {71, 51}, {108, 49}, {131, 68}}),
                                  Lid({{52, 67}, {77, 80}, {104, 76}, {131, 68}}), 0.23};
    return layout;
}

// 1 inside the eye opening (between the lids, between the corners).
bool insideOpening(const EyeLayout &eye, double x, double y)
{
    return x > eye.inner && x < eye.outer && y > eye.upper.y(x) && y < eye.lower.y(x);
}

// Height of the lid line at x: the upper lid, never below the lower one (the two curves
// cross slightly near the corners).
double lidTop(const EyeLayout &eye, double x) { return std::min(eye.upper.y(x), eye.lower.y(x)); }

// Fade in from the inner corner, and out over `fadeOut` pixels past the outer corner.
double alongLid(const EyeLayout &eye, double x, double fadeIn, double fadeOut = 6.0)
{
    return smoothstep(eye.inner - fadeIn * 0.3, eye.inner + fadeIn, x) *
           (1.0 - smoothstep(eye.outer, eye.outer + fadeOut, x));
}

// ---- Drawings -------------------------------------------------------------------------------

// Stage 0x1000: shadow over the upper lid, higher and denser with the level (1..6).
TemplateArt eyeDark(int level)
{
    const EyeLayout &eye = largeEye();
    const double height = 22.0 + 11.0 * level;
    const double density = 0.55 + 0.075 * level;
    return {eye.width, eye.height, {}, drawPlane(eye.width, eye.height, [&](double x, double y) {
                if (insideOpening(eye, x, y))
                    return 0.0;
                const double above = lidTop(eye, x) - y;
                const double band = softBand(above, 2.0, height * 0.45, 3.0, height * 0.55);
                return density * band * alongLid(eye, x, 70.0);
            })};
}

// Stage 0x200, first set: a line along the upper lid, thicker toward the outer corner.
TemplateArt upperLiner(int level)
{
    const EyeLayout &eye = largeEye();
    const double thickness = 2.0 + 1.6 * level;
    return {eye.width, eye.height, {}, drawPlane(eye.width, eye.height, [&](double x, double y) {
                const double along = (x - eye.inner) / (eye.outer - eye.inner);
                const double t = thickness * (0.35 + 0.65 * std::clamp(along, 0.0, 1.0));
                const double above = lidTop(eye, x) - y;
                return softBand(above, 0.0, t, 2.5) * alongLid(eye, x, 30.0, 1.0);
            })};
}

// Stage 0x200, second set: a lighter line under the lower lid, fading toward the inner corner.
TemplateArt lowerLiner(int level)
{
    const EyeLayout &eye = largeEye();
    const double thickness = 1.5 + 1.1 * level;
    return {eye.width, eye.height, {}, drawPlane(eye.width, eye.height, [&](double x, double y) {
                const double below = y - eye.lower.y(x);
                return 0.8 * softBand(below, 0.0, thickness, 2.5) * alongLid(eye, x, 90.0);
            })};
}

// Stage 0x400: lid colour, crease colour and outer-corner colour for four styles.
TemplateArt eyeLayer(int style, int layer)
{
    const EyeLayout &eye = smallEye();
    return {eye.width, eye.height, {}, drawPlane(eye.width, eye.height, [&](double x, double y) {
                if (insideOpening(eye, x, y))
                    return 0.0;
                const double above = lidTop(eye, x) - y;
                switch (layer) {
                case 0:  // lid, right above the lashes
                    return softBand(above, 0.5, 5.0 + 2.0 * style, 3.0) * alongLid(eye, x, 8.0);
                case 1:  // crease, a band higher up
                    return 0.85 * softBand(above, 9.0 + 2.0 * style, 15.0 + 3.0 * style, 4.0) *
                           alongLid(eye, x, 14.0);
                default: {  // outer corner, a soft spot reaching past the corner
                    const double dx = x - (eye.outer - 4.0), dy = y - (eye.upper.y(x) - 4.0);
                    const double r = std::sqrt(dx * dx + dy * dy);
                    return 0.9 * (1.0 - smoothstep(6.0 + 2.0 * style, 14.0 + 3.0 * style, r));
                }
                }
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

// Stage 0x80: light catch-light pictures (mean about 205) with soft elliptical masks.
TemplateArt overlay(int index)
{
    static const uint32_t kSizes[5][2] = {{81, 50}, {180, 130}, {206, 100}, {66, 97}, {137, 129}};
    const uint32_t w = kSizes[index][0], h = kSizes[index][1];
    const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
    auto radius = [=](double x, double y) {
        const double dx = (x - cx) / (w / 2.0), dy = (y - cy) / (h / 2.0);
        return std::sqrt(dx * dx + dy * dy);
    };
    TemplateArt art{w, h, {}, {}};
    art.picture = drawPlane(w, h, [&](double x, double y) {
        const double r = radius(x, y);
        const double angle = std::atan2(y - cy, x - cx);
        const double rays = std::cos(angle * (4 + 2 * index)) * std::exp(-2.5 * r);
        const double glow = std::exp(-6.0 * r * r);
        return (185.0 + 40.0 * glow + 18.0 * rays) / 255.0;
    });
    art.mask = drawPlane(w, h, [&](double x, double y) {
        return 1.0 - smoothstep(0.55, 1.0, radius(x, y));
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
