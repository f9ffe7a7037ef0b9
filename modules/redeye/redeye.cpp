// Finding and correcting red pupils.
//
// A pupil lit by a flash is a small, round, strongly red and bright-enough blob whose surroundings
// (iris, white of the eye, skin) are not strongly red. "Red" is red well above both green and blue
// with a hue at pure red or a little towards magenta: brown hair, orange cloth and dark skin have
// red far above blue and often above green too, but lean to orange, and are never pupils. Detection marks red pixels, joins them into blobs, and keeps the compact, isolated
// ones that sit where eyes are: as the two pupils of a face the face detector finds, or, in a
// picture where it finds none, as the picture's only two such blobs when they are alike, side by
// side, each amid skin and darker than it. Correction replaces the red of
// each pupil pixel by the mean of green and blue, weighted by how red the pixel is, so skin at the
// area's edge stays.
#include "modules/redeye/redeye.h"

#include "facesdk/detect/still_detection.h"

#include <algorithm>
#include <cmath>

namespace redeye {
namespace {

constexpr float kMinRed = 0.27f;         // red sample, 0..1: darker pixels are not flash pupils
constexpr float kPupilRatio = 2.2f;      // red / max(green, blue) of a pupil pixel (brown irises stay under)
constexpr float kSkinRatio = 1.6f;       // at or below this a pixel is left alone in correction
// Hue of a pupil pixel, as (green - blue) / (red - min(green, blue)), a sixtieth of the hue angle:
// -30 to +6 degrees.
constexpr float kPupilHueLow = -0.5f, kPupilHueHigh = 0.1f;
constexpr int kMinBlobPixels = 4;
constexpr double kMaxBlobShare = 0.01;   // of the picture's pixels
constexpr double kMinFill = 0.4;         // blob pixels / box area (a disc fills ~0.79)
constexpr double kMaxAspect = 2.0;
constexpr double kMaxRingRed = 0.25;     // share of red pixels in the ring around the blob
constexpr double kAreaMargin = 0.5;      // eye area = blob box grown by this share on each side

// Where the eyes of a detected face are, in face sides from the box's centre along the face's own
// axes (across, and down the face): the detector's box puts them about a sixth of a side above
// its centre and a quarter to either side; brows lie about a fifth of a side above the eyes.
constexpr double kEyeBandAcross = 0.45;
constexpr double kEyeBandTop = -0.32, kEyeBandBottom = 0.05;
constexpr double kMaxPupilInFace = 0.15;  // pupil diameter, in face sides
// A flash reddens both pupils: in a face, red blobs count in pairs, 0.25..0.75 face sides apart
// across the face and level within 0.15 sides. (A reddish nostril or lid alone is no pupil.)
constexpr double kEyesApartLow = 0.25, kEyesApartHigh = 0.75, kEyesLevel = 0.15;

// Two pupils of one face without a detected face: sizes alike, centres 3.5..16 pupil sizes apart,
// the line between them within 27 degrees of level.
constexpr double kPairSizeRatio = 2.0;
constexpr double kPairMinApart = 3.5, kPairMaxApart = 16.0;
constexpr double kPairMaxSlope = 0.5;
// ... and each amid skin: of the pixels two to three blob sizes out, at least this share skin-like
// (red above green above blue, hue 6 to 54 degrees, red 1.05 to 2.6 times the larger of the two).
constexpr double kMinSkinShare = 0.5;
constexpr float kSkinMinRed = 0.2f, kSkinRatioLow = 1.05f, kSkinRatioHigh = 2.6f;
constexpr float kSkinHueLow = 0.1f, kSkinHueHigh = 0.9f;
constexpr double kMaxPupilLuma = 0.75;  // a flash pupil is darker than the skin around the eye
constexpr double kMaxIrisLuma = 0.85;   // and so is the iris around it

constexpr int kFaceSearchSide = 320;  // longer side of the copy the face detector looks at
constexpr uint32_t kFaceSearchFlags = kDetectorFlagSkinPrefilter | kDetectorFlagFaceScore;

void readRgb(const ReImage* image, const Layout& layout, int x, int y, float rgb[3]) {
    const uint8_t* row = static_cast<const uint8_t*>(image->pixels) + ptrdiff_t(y) * image->rowBytes;
    if (layout.bytesPerSample == 1) {
        const uint8_t* p = row + x * layout.channels;
        rgb[0] = p[layout.red] / 255.0f;
        rgb[1] = p[layout.green] / 255.0f;
        rgb[2] = p[layout.blue] / 255.0f;
    } else {
        const uint16_t* p = reinterpret_cast<const uint16_t*>(row) + x * layout.channels;
        rgb[0] = p[layout.red] / 65535.0f;
        rgb[1] = p[layout.green] / 65535.0f;
        rgb[2] = p[layout.blue] / 65535.0f;
    }
}

void writeRed(const ReImage* image, const Layout& layout, int x, int y, float red) {
    uint8_t* row = static_cast<uint8_t*>(image->pixels) + ptrdiff_t(y) * image->rowBytes;
    red = std::clamp(red, 0.0f, 1.0f);
    if (layout.bytesPerSample == 1)
        row[x * layout.channels + layout.red] = uint8_t(red * 255.0f + 0.5f);
    else
        reinterpret_cast<uint16_t*>(row)[x * layout.channels + layout.red] = uint16_t(red * 65535.0f + 0.5f);
}

float rednessOf(const float rgb[3]) {
    return rgb[0] / std::max(std::max(rgb[1], rgb[2]), 1.0f / 255.0f);
}

bool isPupilPixel(const float rgb[3], uint32_t flags) {
    if (!(flags & RE_DETECT_REDNESS))
        return false;
    if (rgb[0] < kMinRed || rednessOf(rgb) < kPupilRatio)
        return false;
    // The hue: a flash pupil is pure red to a little magenta; dark skin and brown hair, though far
    // redder than green, lean to orange.
    const float hue = (rgb[1] - rgb[2]) / (rgb[0] - std::min(rgb[1], rgb[2]));
    return hue >= kPupilHueLow && hue <= kPupilHueHigh;
}

}  // namespace

bool layoutOf(int32_t code, Layout* layout) {
    switch (code) {
    case RE_PIXEL_BGR8: *layout = {3, 1, 2, 1, 0}; return true;
    case RE_PIXEL_BGRA8: *layout = {4, 1, 2, 1, 0}; return true;
    case RE_PIXEL_RGB8: *layout = {3, 1, 0, 1, 2}; return true;
    case RE_PIXEL_RGBA8: *layout = {4, 1, 0, 1, 2}; return true;
    case RE_PIXEL_RGB16: *layout = {3, 2, 0, 1, 2}; return true;
    case RE_PIXEL_BGR16: *layout = {3, 2, 2, 1, 0}; return true;
    case RE_PIXEL_RGBA16: *layout = {4, 2, 0, 1, 2}; return true;
    default: return false;
    }
}

int32_t checkImage(const ReImage* image, Layout* layout) {
    if (!image || image->size != int32_t(sizeof(ReImage)) || !image->pixels || image->width <= 0 ||
        image->height <= 0)
        return RE_ERR_ARGUMENT;
    if (!layoutOf(image->format, layout))
        return RE_ERR_FORMAT;
    if (int64_t(image->rowBytes) < int64_t(image->width) * layout->channels * layout->bytesPerSample)
        return RE_ERR_ARGUMENT;
    // 16-bit samples are read in place: every row must start on a sample boundary.
    if (layout->bytesPerSample == 2 && ((image->rowBytes | reinterpret_cast<uintptr_t>(image->pixels)) & 1))
        return RE_ERR_ARGUMENT;
    return RE_OK;
}

namespace {

// A red blob that passed the pixel, shape and isolation tests.
struct Blob {
    Box area;            // the eye area around it
    double x, y;         // centre
    double size;         // the larger side of its box
};

// Where a blob lies in a face's own frame, in face sides from the box's centre.
struct InFace {
    double across, down;
};

InFace placeInFace(const FaceZone& face, const Blob& blob) {
    const double dx = blob.x - face.centreX, dy = blob.y - face.centreY;
    return {(dx * face.cosRoll + dy * face.sinRoll) / face.side, (-dx * face.sinRoll + dy * face.cosRoll) / face.side};
}

bool inEyeBand(const FaceZone& face, const Blob& blob) {
    const InFace at = placeInFace(face, blob);
    return std::abs(at.across) <= kEyeBandAcross && at.down >= kEyeBandTop && at.down <= kEyeBandBottom &&
           blob.size <= kMaxPupilInFace * face.side;
}

// Two blobs in a face's eye band that are its two pupils: sizes alike, one on either side at about
// the eyes' distance, level in the face's frame.
bool arePupilsOf(const FaceZone& face, const Blob& a, const Blob& b) {
    if (!inEyeBand(face, a) || !inEyeBand(face, b) || std::max(a.size, b.size) > kPairSizeRatio * std::min(a.size, b.size))
        return false;
    const InFace p = placeInFace(face, a), q = placeInFace(face, b);
    const double apart = std::abs(p.across - q.across);
    return apart >= kEyesApartLow && apart <= kEyesApartHigh && std::abs(p.down - q.down) <= kEyesLevel;
}

bool skinLike(const float rgb[3]) {
    if (rgb[0] < kSkinMinRed || !(rgb[0] > rgb[1] && rgb[1] >= rgb[2]))
        return false;
    const float ratio = rednessOf(rgb), hue = (rgb[1] - rgb[2]) / (rgb[0] - rgb[2]);
    return ratio >= kSkinRatioLow && ratio <= kSkinRatioHigh && hue >= kSkinHueLow && hue <= kSkinHueHigh;
}

float lumaOf(const float rgb[3]) {
    return 0.299f * rgb[0] + 0.587f * rgb[1] + 0.114f * rgb[2];
}

// Whether the square ring two to three blob sizes out from the blob's centre is mostly skin, and
// lighter than the blob and the ring around it: a face around a flash pupil and its iris, not a
// red object among others.
bool amidSkin(const ReImage* image, const Layout& layout, const Blob& blob) {
    const int inner = int(std::ceil(blob.size * 2.0)), outer = int(std::ceil(blob.size * 3.0));
    const int cx = int(blob.x), cy = int(blob.y);
    const int step = std::max(1, outer / 12);
    int ring = 0, skin = 0;
    double skinLuma = 0.0;
    for (int y = cy - outer; y <= cy + outer; y += step)
        for (int x = cx - outer; x <= cx + outer; x += step) {
            if (std::max(std::abs(x - cx), std::abs(y - cy)) < inner)
                continue;
            ++ring;
            if (x < 0 || y < 0 || x >= image->width || y >= image->height)
                continue;
            float rgb[3];
            readRgb(image, layout, x, y, rgb);
            if (skinLike(rgb)) {
                ++skin;
                skinLuma += lumaOf(rgb);
            }
        }
    if (ring == 0 || skin < kMinSkinShare * ring)
        return false;
    const double skinMean = skinLuma / skin;
    float centre[3];
    readRgb(image, layout, std::clamp(cx, 0, image->width - 1), std::clamp(cy, 0, image->height - 1), centre);
    if (lumaOf(centre) > kMaxPupilLuma * skinMean)
        return false;
    // The iris: the ring just outside the pupil, out to twice its radius, is darker than the skin
    // too (a red spot on a petal or a cloth has more of the same around it).
    double irisLuma = 0.0;
    int iris = 0;
    const double inside = blob.size * 0.6, outside = blob.size * 1.0;
    const int reach = int(std::ceil(outside));
    for (int y = cy - reach; y <= cy + reach; ++y)
        for (int x = cx - reach; x <= cx + reach; ++x) {
            const double d = std::hypot(x + 0.5 - blob.x, y + 0.5 - blob.y);
            if (d < inside || d > outside || x < 0 || y < 0 || x >= image->width || y >= image->height)
                continue;
            float rgb[3];
            readRgb(image, layout, x, y, rgb);
            irisLuma += lumaOf(rgb);
            ++iris;
        }
    return iris > 0 && irisLuma / iris <= kMaxIrisLuma * skinMean;
}

bool arePair(const Blob& a, const Blob& b) {
    const double small = std::min(a.size, b.size), large = std::max(a.size, b.size);
    if (large > kPairSizeRatio * small)
        return false;
    const double dx = std::abs(a.x - b.x), dy = std::abs(a.y - b.y);
    const double apart = std::hypot(dx, dy) / ((a.size + b.size) * 0.5);
    return apart >= kPairMinApart && apart <= kPairMaxApart && dy <= kPairMaxSlope * dx;
}

}  // namespace

std::vector<FaceZone> findFaces(const ReImage* image, const Layout& layout) {
    std::vector<FaceZone> zones;
    const RgbSearchCopy copy = rgbSearchCopy(image->width, image->height, kFaceSearchSide,
                                             [&](int x, int y, float rgb[3]) { readRgb(image, layout, x, y, rgb); });
    for (const DetectedFacePublic& r : detectStillRgb(copy.rgb.data(), copy.width, copy.height, kFaceSearchFlags)) {
        const double roll = r.roll * 3.14159265358979323846 / 180.0;
        zones.push_back({(r.box[0] + r.box[2] * 0.5) * copy.scale, (r.box[1] + r.box[3] * 0.5) * copy.scale,
                         r.box[2] * copy.scale, std::cos(roll), std::sin(roll)});
    }
    return zones;
}

std::vector<Box> findRedPupils(const ReImage* image, const Layout& layout, uint32_t flags) {
    return findRedPupils(image, layout, flags, findFaces(image, layout));
}

std::vector<Box> findRedPupils(const ReImage* image, const Layout& layout, uint32_t flags,
                               const std::vector<FaceZone>& faces) {
    const int w = image->width, h = image->height;
    std::vector<uint8_t> red(size_t(w) * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float rgb[3];
            readRgb(image, layout, x, y, rgb);
            red[size_t(y) * w + x] = isPupilPixel(rgb, flags);
        }

    std::vector<Blob> blobs;
    std::vector<int> stack;
    std::vector<uint8_t> seen(red.size(), 0);
    const double maxPixels = std::max<double>(kMinBlobPixels, kMaxBlobShare * w * h);
    for (size_t start = 0; start < red.size(); ++start) {
        if (!red[start] || seen[start])
            continue;
        // Gather the 4-connected blob.
        int minX = w, minY = h, maxX = -1, maxY = -1, pixels = 0;
        stack.assign(1, int(start));
        seen[start] = 1;
        while (!stack.empty()) {
            const int i = stack.back();
            stack.pop_back();
            const int x = i % w, y = i / w;
            ++pixels;
            minX = std::min(minX, x), maxX = std::max(maxX, x);
            minY = std::min(minY, y), maxY = std::max(maxY, y);
            const int neighbours[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
            for (const auto& n : neighbours) {
                if (n[0] < 0 || n[1] < 0 || n[0] >= w || n[1] >= h)
                    continue;
                const size_t j = size_t(n[1]) * w + n[0];
                if (red[j] && !seen[j]) {
                    seen[j] = 1;
                    stack.push_back(int(j));
                }
            }
        }
        const int bw = maxX - minX + 1, bh = maxY - minY + 1;
        if (pixels < kMinBlobPixels || pixels > maxPixels)
            continue;
        const double fill = double(pixels) / (double(bw) * bh);
        const double aspect = double(std::max(bw, bh)) / std::min(bw, bh);
        if ((flags & RE_DETECT_SHAPE) && (fill < kMinFill || aspect > kMaxAspect))
            continue;
        if (flags & RE_DETECT_ISOLATED) {
            // The ring one blob-size around the box must be mostly not red.
            int ring = 0, ringRed = 0;
            const int x0 = std::max(0, minX - bw), x1 = std::min(w - 1, maxX + bw);
            const int y0 = std::max(0, minY - bh), y1 = std::min(h - 1, maxY + bh);
            for (int y = y0; y <= y1; ++y)
                for (int x = x0; x <= x1; ++x) {
                    if (x >= minX && x <= maxX && y >= minY && y <= maxY)
                        continue;
                    ++ring;
                    ringRed += red[size_t(y) * w + x];
                }
            if (ring > 0 && double(ringRed) / ring > kMaxRingRed)
                continue;
        }
        const int mx = int(std::ceil(bw * kAreaMargin)), my = int(std::ceil(bh * kAreaMargin));
        const int confidence = int(std::lround(std::min(1.0, fill / 0.785) * 100.0));
        blobs.push_back({{minX - mx, minY - my, bw + 2 * mx, bh + 2 * my, confidence},
                         (minX + maxX + 1) * 0.5, (minY + maxY + 1) * 0.5, double(std::max(bw, bh))});
    }

    // Keep the blobs where eyes are.
    std::vector<Box> found;
    for (size_t i = 0; i < blobs.size(); ++i) {
        bool eye = false;
        if (!faces.empty()) {
            for (size_t j = 0; j < blobs.size() && !eye; ++j)
                eye = j != i && std::any_of(faces.begin(), faces.end(), [&](const FaceZone& f) {
                          return arePupilsOf(f, blobs[i], blobs[j]);
                      });
        } else if (blobs.size() == 2 && amidSkin(image, layout, blobs[i])) {
            // Without a face, only a picture's lone pair of red blobs can be a pair of pupils.
            const Blob& other = blobs[1 - i];
            eye = arePair(blobs[i], other) && amidSkin(image, layout, other);
        }
        if (eye)
            found.push_back(blobs[i].area);
    }
    return found;
}

int correctInBox(const ReImage* image, const Layout& layout, const Box& box) {
    const int x0 = std::max(0, box.x), y0 = std::max(0, box.y);
    const int x1 = std::min(image->width, box.x + box.width);
    const int y1 = std::min(image->height, box.y + box.height);
    if (x0 >= x1 || y0 >= y1)
        return 0;
    // The reddish pixels of the area, then only those joined to its middle half, where the pupil
    // is: a reddish shadow at the area's edge (a nostril, a lid) is not the pupil and stays.
    const int w = x1 - x0, h = y1 - y0;
    std::vector<float> weight(size_t(w) * h, 0.0f);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            float rgb[3];
            readRgb(image, layout, x, y, rgb);
            const float ratio = rednessOf(rgb);
            if (ratio <= kSkinRatio || rgb[0] < kMinRed * 0.5f)
                continue;
            // Weight rises smoothly from skin-like to pupil-like redness.
            float t = std::clamp((ratio - kSkinRatio) / (kPupilRatio - kSkinRatio), 0.0f, 1.0f);
            weight[size_t(y - y0) * w + (x - x0)] = std::max(t * t * (3.0f - 2.0f * t), 1e-6f);
        }
    // The pupil: the pupil-red pixels joined to the area's middle half; then its soft rim, the
    // reddish pixels at most a few steps out from it (a third of the pupil's radius, at least one).
    const int midX0 = box.x + box.width / 4, midX1 = box.x + box.width - box.width / 4;
    const int midY0 = box.y + box.height / 4, midY1 = box.y + box.height - box.height / 4;
    std::vector<uint8_t> joined(weight.size(), 0);
    std::vector<int> front, next;
    for (int y = std::max(y0, midY0); y < std::min(y1, midY1); ++y)
        for (int x = std::max(x0, midX0); x < std::min(x1, midX1); ++x) {
            const int i = (y - y0) * w + (x - x0);
            if (weight[i] >= 1.0f && !joined[i]) {
                joined[i] = 1;
                front.push_back(i);
            }
        }
    // Grows the marked set through pixels that pass, one ring of neighbours at a time; answers
    // how many were marked.
    auto grow = [&](int steps, auto passes) {
        size_t marked = front.size();
        std::vector<int> all = front;
        for (int step = 0; step != steps && !front.empty(); ++step) {
            next.clear();
            for (const int i : front) {
                const int x = i % w, y = i / w;
                for (int ny = std::max(0, y - 1); ny <= std::min(h - 1, y + 1); ++ny)
                    for (int nx = std::max(0, x - 1); nx <= std::min(w - 1, x + 1); ++nx) {
                        const int j = ny * w + nx;
                        if (!joined[j] && passes(j)) {
                            joined[j] = 1;
                            next.push_back(j);
                        }
                    }
            }
            marked += next.size();
            all.insert(all.end(), next.begin(), next.end());
            front.swap(next);
        }
        front = std::move(all);
        return marked;
    };
    const size_t pupil = grow(-1, [&](int j) { return weight[j] >= 1.0f; });
    const int rim = std::max(1, int(std::lround(std::sqrt(double(pupil) / 3.14159265358979323846) / 3.0)));
    grow(rim, [&](int j) { return weight[j] > 0.0f; });

    int changed = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const int i = (y - y0) * w + (x - x0);
            if (!joined[i])
                continue;
            float rgb[3];
            readRgb(image, layout, x, y, rgb);
            const float target = (rgb[1] + rgb[2]) * 0.5f;
            writeRed(image, layout, x, y, rgb[0] + (target - rgb[0]) * weight[i]);
            ++changed;
        }
    return changed;
}

}  // namespace redeye
