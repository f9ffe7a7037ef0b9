// Faces of the analysed picture: the search copy, the detector's run, the face-area records and the
// skin reading; the face-area entry points; the latest skin.
#include "modules/correction/faces.h"

#include "modules/correction/skin_tones.h"
#include "modules/correction/vexilo_exports.h"


#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

namespace vexilo {
namespace {

constexpr uint32_t kSearchFlags = kDetectorFlagSkinPrefilter | kDetectorFlagFaceScore | kDetectorFlagEyeBoxes;
constexpr double kSkinPatchDrop = 0.12;      // the skin patch's centre below the box's, in box sides
constexpr double kSkinPatchRadius = 0.25;    // in box sides: cheeks, nose and mouth
constexpr double kSkinLikenessFloor = 0.5;
constexpr double kSkinLightnessLow = 0.15;   // darker: shadow or hair, not measurable skin
constexpr double kSkinLightnessHigh = 0.97;  // lighter: a highlight
constexpr size_t kSkinSamplesPerFace = 12;   // fewer: the face adds nothing

// ---- The search copy ----

using SearchCopy = RgbSearchCopy;

SearchCopy makeSearchCopy(const PixelLayout& layout, const VxlEngineImage* image) {
    return rgbSearchCopy(image->width, image->height, kFaceSearchSide,
                         [&](int x, int y, float rgb[3]) { readRgb(layout, rowOf(image, y), x, rgb); });
}

// ---- The detector's run ----

// The faces the detector reports on the copy, in its order; none when it cannot be created or
// fails.
std::vector<DetectedFacePublic> detectFaces(const SearchCopy& copy) {
    return detectStillRgb(copy.rgb.data(), copy.width, copy.height, kSearchFlags, faceDetectorFactory());
}

// ---- Records and skin ----

int32_t scaled(int32_t v, double scale) {
    return int32_t(std::lround(v * scale));
}

// A box of the copy as a rectangle of the picture, kept inside it; all zero for an empty box.
void placeBox(const int32_t box[4], double scale, const VxlEngineImage* image, int32_t out[4]) {
    if (box[2] <= 0 || box[3] <= 0) {
        std::fill(out, out + 4, 0);
        return;
    }
    const int32_t x = std::clamp(scaled(box[0], scale), 0, image->width - 1);
    const int32_t y = std::clamp(scaled(box[1], scale), 0, image->height - 1);
    out[0] = x;
    out[1] = y;
    out[2] = std::clamp(scaled(box[2], scale), 1, image->width - x);
    out[3] = std::clamp(scaled(box[3], scale), 1, image->height - y);
}

int32_t percent(int32_t score) {
    return std::clamp(score, 0, 100);
}

// Adds the Oklab colours of the skin pixels in the face's patch below its eyes (turned with the
// face's roll); answers how many there were.
size_t collectSkin(const SearchCopy& copy, const DetectedFacePublic& face, std::vector<double>* lightness,
                   std::vector<double>* a, std::vector<double>* b) {
    const double side = face.box[2];
    const double roll = face.roll * kPi / 180.0;
    // Down the face: (0, 1) turned clockwise on screen by the roll.
    const double centreX = face.box[0] + side / 2 - std::sin(roll) * kSkinPatchDrop * side;
    const double centreY = face.box[1] + face.box[3] / 2.0 + std::cos(roll) * kSkinPatchDrop * side;
    const double radius = kSkinPatchRadius * side;
    const int x0 = std::max(0, int(centreX - radius)), x1 = std::min(copy.width - 1, int(centreX + radius));
    const int y0 = std::max(0, int(centreY - radius)), y1 = std::min(copy.height - 1, int(centreY + radius));
    const size_t before = lightness->size();
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            if ((x + 0.5 - centreX) * (x + 0.5 - centreX) + (y + 0.5 - centreY) * (y + 0.5 - centreY) > radius * radius)
                continue;
            const uint8_t* p = copy.at(x, y);
            const Oklab colour = oklabOfSrgb(p[0] / 255.0, p[1] / 255.0, p[2] / 255.0);
            if (colour.L < kSkinLightnessLow || colour.L > kSkinLightnessHigh ||
                skinLikeness(lchOf(colour)) < kSkinLikenessFloor)
                continue;
            lightness->push_back(colour.L);
            a->push_back(colour.a);
            b->push_back(colour.b);
        }
    return lightness->size() - before;
}

double median(std::vector<double>& values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

}  // namespace

// ---- The detector's creation ----

DetectorFactory& faceDetectorFactory() {
    static DetectorFactory factory = faceDetectorCreate;
    return factory;
}

// ---- The search ----

void findFaceAreas(VxlProfile* profile, const PixelLayout& layout, const VxlEngineImage* image) {
    profile->faceCount = 0;
    profile->skin = SkinReading();
    SearchCopy copy = makeSearchCopy(layout, image);
    std::vector<DetectedFacePublic> faces = detectFaces(copy);
    std::stable_sort(faces.begin(), faces.end(), [](const DetectedFacePublic& p, const DetectedFacePublic& q) {
        return int64_t(p.box[2]) * p.box[3] > int64_t(q.box[2]) * q.box[3];
    });
    if (faces.size() > size_t(kMaxFaceAreas))
        faces.resize(kMaxFaceAreas);

    std::vector<double> lightness, a, b;
    for (const DetectedFacePublic& face : faces) {
        VxlFaceRect& record = profile->faces[profile->faceCount++];
        std::memset(&record, 0, sizeof record);
        placeBox(face.box, copy.scale, image, &record.rects[0]);
        placeBox(face.firstEyeBox, copy.scale, image, &record.rects[4]);
        placeBox(face.secondEyeBox, copy.scale, image, &record.rects[8]);
        record.score1 = percent(face.score);
        record.score2 = percent(face.faceScore);
        record.analysedWidth = image->width;

        const size_t before = lightness.size();
        if (collectSkin(copy, face, &lightness, &a, &b) >= kSkinSamplesPerFace) {
            ++profile->skin.faces;
        } else {
            lightness.resize(before);
            a.resize(before);
            b.resize(before);
        }
    }
    if (profile->skin.faces > 0) {
        const Lch skin = lchOf(Oklab{median(lightness), median(a), median(b)});
        profile->skin.valid = true;
        profile->skin.lightness = skin.L;
        profile->skin.chroma = skin.C;
        profile->skin.hue = skin.hue;
    }
}

// ---- The latest skin ----

namespace {

std::mutex gSkinLock;
SkinReading gLatestSkin;

}  // namespace

void rememberSkin(const SkinReading& skin) {
    std::lock_guard<std::mutex> guard(gSkinLock);
    gLatestSkin = skin;
}

SkinReading latestSkin() {
    std::lock_guard<std::mutex> guard(gSkinLock);
    return gLatestSkin;
}

}  // namespace vexilo

using namespace vexilo;

int32_t VXL_FAEFaceCount(const VxlProfile* profile) {
    return isProfile(profile) ? profile->faceCount : 0;
}

const VxlFaceRect* VXL_EnumFAEFaceRect(const VxlProfile* profile, const VxlFaceRect* previous) {
    if (!isProfile(profile) || profile->faceCount <= 0)
        return nullptr;
    if (!previous)
        return &profile->faces[0];
    // Only a record of this profile has a next one.
    for (int32_t i = 0; i + 1 < profile->faceCount; ++i)
        if (previous == &profile->faces[i])
            return &profile->faces[i + 1];
    return nullptr;
}

const char* VXL_GetAutoSkintoneParameters(uint32_t type, int32_t* first, int32_t* second) {
    // Every type is answered alike: this engine has one choice, by the complexion of the skin.
    const SkinReading skin = latestSkin();
    if (first)
        *first = skin.valid ? int32_t(std::lround(skin.lightness * 100.0)) : 0;
    if (second)
        *second = skin.valid ? int32_t(std::lround(skin.hue)) : 0;
    return skin.valid ? skinToneTableFor(skin.lightness).key : "";
}
