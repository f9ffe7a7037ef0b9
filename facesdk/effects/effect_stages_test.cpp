// The stages' pictures, byte for byte: every stage alone and all seventeen together, on
// synthetic faces in every run format, at several sizes (odd ones too), with one and with two
// faces, with and without fitted shape records. Each run's picture, result and statuses are
// reduced to a digest and compared with the digests recorded here, so that work on how the
// stages' loops run (bands, worker threads, tables made once) cannot change a byte unnoticed;
// an engine that works on the calling thread alone gives the same digests.
//
// A stage whose arithmetic is changed on purpose changes digests here too: the failure message
// prints the entries that differ as they now are, to be pasted over their lines of kRecorded
// once the new pictures have been checked by the stage's own tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "facesdk/effects/testing/stage_run.h"
#include "facesdk/engine/md5.h"
#include "facesdk/engine/testing/every_stage.h"
#include "sys/threads/thread_faults.h"

namespace {

// ---- Settings -------------------------------------------------------------------------------


// The other levels, modes and templates, at other strengths.
BeautySettings everyStageOtherwise()
{
    BeautySettings s = everyStageSettings();
    s.smoothingStrength = 255;
    s.smoothingRegionMode = 2;
    s.smoothingLevel = 3;
    s.skinToneStrength = 120;
    s.skinToneVariant = 2;
    s.skinToneMode = 5;
    s.skinToneColour = 90 | (160 << 8) | (200 << 16);
    s.overlayTemplate = 4;
    s.eyePairsLevel1 = 5;
    s.eyePairsLevel2 = 6;
    s.eyeDarkLevel = 6;
    s.eyeLayersStyle = 3;
    s.contourContrastLevel = 3;
    s.eyeToneStrength = s.teethStrength = s.shineStrength = s.cheekStrength = 90;
    s.warpStrength = s.underEyeStrength = s.softeningStrength = 255;
    return s;
}

// The strength cell of each feature.
struct StrengthCell {
    uint32_t bit;
    int32_t BeautySettings::*strength;
};
constexpr StrengthCell kStrengths[kFeatureCount] = {
    {kFeatureSmoothing, &BeautySettings::smoothingStrength},
    {kFeatureEyeTone, &BeautySettings::eyeToneStrength},
    {kFeatureTeethWhitening, &BeautySettings::teethStrength},
    {kFeatureSkinTone, &BeautySettings::skinToneStrength},
    {kFeatureEyeEnlargement, &BeautySettings::eyeEnlargementStrength},
    {kFeatureShineReduction, &BeautySettings::shineStrength},
    {kFeatureFaceWarp, &BeautySettings::warpStrength},
    {kFeatureTemplateOverlay, &BeautySettings::overlayStrength},
    {kFeatureCheekColour, &BeautySettings::cheekStrength},
    {kFeatureEyeTemplatePairs, &BeautySettings::eyePairsStrength},
    {kFeatureEyeColourLayers, &BeautySettings::eyeLayersStrength},
    {kFeatureContourFillTint, &BeautySettings::contourFillStrength},
    {kFeatureEyeDarkTemplate, &BeautySettings::eyeDarkStrength},
    {kFeatureContourStrokeTint, &BeautySettings::contourStrokeStrength},
    {kFeatureContourContrast, &BeautySettings::contourContrastStrength},
    {kFeatureUnderEyeBrighten, &BeautySettings::underEyeStrength},
    {kFeatureSkinSoftening, &BeautySettings::softeningStrength},
};

// The settings with only the stages of `mask` left on.
BeautySettings only(BeautySettings s, uint32_t mask)
{
    for (const StrengthCell &cell : kStrengths)
        if (!(mask & cell.bit))
            s.*cell.strength = 0;
    return s;
}

// ---- Pictures -------------------------------------------------------------------------------

// Synthetic faces drawn `scale` times larger than their 200-pixel model, with a fine luma grain
// on the skin.
struct Scene {
    int32_t width, height, scale;
    std::vector<SyntheticFace> small;
    std::vector<std::vector<VXL_POINT>> points;
    std::vector<FaceWork> works;

    struct Place {
        double cx, cy, roll;  // centre in picture pixels, roll in degrees
    };
    Scene(int32_t w, int32_t h, int32_t s, std::initializer_list<Place> places)
        : width(w), height(h), scale(s), small(places.size())
    {
        int id = 1;
        for (const Place &p : places) {
            SyntheticFace &face = small[id - 1];
            makeSyntheticFace(&face, id, p.cx / s, p.cy / s, p.roll, w / s, h / s);
            points.emplace_back(kFacePointSlots + 2);
            works.emplace_back();
            scaleSyntheticFace(face, s, points.back().data(), &works.back());
            ++id;
        }
        for (size_t k = 0; k < works.size(); ++k)
            works[k].points = points[k].data();
    }

    YuvColour colourAt(int32_t x, int32_t y) const
    {
        x = std::min(x, width - 1), y = std::min(y, height - 1);
        for (const SyntheticFace &face : small) {
            YuvColour c = syntheticFaceColour(face, double(x) / scale, double(y) / scale);
            if (c.y == 90 && c.u == 128 && c.v == 128)
                continue;
            if (c.y == 170 && c.u == 110 && c.v == 150) {
                const unsigned h = (unsigned(x) * 73856093u) ^ (unsigned(y) * 19349663u);
                c.y += int((h >> 7) % 17) - 8;
            }
            return c;
        }
        return {90, 128, 128};
    }

    // Every byte of every plane, odd sizes too: each sample takes the colour of its first pixel.
    void paint(EngineImage &image) const
    {
        PlaneLayout layout[4];
        const int planes = imagePlaneLayout(image.format, image.width, image.height, layout);
        const YuvAddressing *a = yuvAddressing(image.format == kFormatYuv420SemiPlanarCrFirst
                                                   ? kFormatYuv420SemiPlanar
                                                   : image.format);
        const bool crFirst = image.format == kFormatYuv420SemiPlanarCrFirst;
        for (int p = 0; p < planes; ++p)
            for (int32_t r = 0; r < layout[p].rows; ++r) {
                uint8_t *row = image.planes[p].pixels + size_t(r) * image.planes[p].stride;
                for (int32_t b = 0; b < layout[p].rowBytes; ++b) {
                    int32_t x = 0, y = r, channel = 0;  // 0 Y, 1 Cb, 2 Cr
                    if (a->packed) {
                        const int32_t pair = b / 4, slot = b % 4;
                        const bool uyvy = image.format == kFormatYuv422Uyvy;
                        const int32_t lumaSlot = uyvy ? 1 : 0;
                        if ((slot & 1) == lumaSlot)
                            x = 2 * pair + slot / 2;
                        else
                            x = 2 * pair, channel = (slot >> 1) + 1;
                    } else if (p == 0) {
                        x = b;
                    } else {
                        y = r << a->chromaShiftY;
                        if (a->chromaStep == 2)
                            x = b & ~1, channel = 1 + ((b & 1) ^ (crFirst ? 1 : 0));
                        else
                            x = b << a->chromaShiftX, channel = p;
                    }
                    const YuvColour c = colourAt(x, y);
                    row[b] = uint8_t(channel == 0 ? c.y : channel == 1 ? c.u : c.v);
                }
            }
    }
};

// The digest of a picture's planes, the run's result and every status, in hex.
std::string runDigest(const EngineImage &image, int result, const FeatureStatus *status)
{
    Md5Context md5;
    md5Init(&md5);
    PlaneLayout layout[4];
    const int planes = imagePlaneLayout(image.format, image.width, image.height, layout);
    for (int p = 0; p < planes; ++p)
        for (int32_t r = 0; r < layout[p].rows; ++r)
            md5Update(&md5, image.planes[p].pixels + size_t(r) * image.planes[p].stride,
                      size_t(layout[p].rowBytes));
    md5Update(&md5, &result, sizeof result);
    int32_t statuses[kFeatureCount] = {};
    for (int k = 0; k < kFeatureCount; ++k)
        statuses[k] = status ? statusOfFeature(status, 1u << k) : -1000;
    md5Update(&md5, statuses, sizeof statuses);
    uint8_t digest[kMd5DigestBytes];
    md5Final(&md5, digest);
    char hex[2 * kMd5DigestBytes + 1];
    for (size_t k = 0; k < kMd5DigestBytes; ++k)
        std::snprintf(hex + 2 * k, 3, "%02x", digest[k]);
    return hex;
}

// ---- The runs ----------------------------------------------------------------------------

enum GoldenGroup { kEveryStageGroup, kStageAloneGroup, kLargeFaceGroup };

struct GoldenRun {
    GoldenGroup group;
    std::string name;
    PixelFormat format;
    const Scene *scene;
    BeautySettings settings;
    bool fitFirst;  // shape records fitted before the run, or built by the run
};

std::string hexFormat(PixelFormat format)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08x", format);
    return text;
}

// The scenes live as long as the test binary: the runs point at them.
const Scene kOneFace(640, 480, 1, {{320, 240, 0}});
const Scene kOddOneFace(643, 483, 1, {{330, 236, 7}});
const Scene kTwoFaces(1280, 720, 2, {{420, 380, -8}, {900, 340, 12}});
const Scene kOddTwoFaces(961, 601, 2, {{300, 300, 4}, {690, 310, -11}});
const Scene kLargeFace(2400, 1800, 5, {{1180, 920, -6}});

std::vector<GoldenRun> goldenRuns(GoldenGroup group)
{
    std::vector<GoldenRun> runs;
    const BeautySettings every = everyStageSettings();
    const BeautySettings otherwise = everyStageOtherwise();
    for (PixelFormat format : kStageRunFormats) {
        const std::string f = hexFormat(format);
        runs.push_back({kEveryStageGroup, "every " + f, format, &kOneFace, every, true});
        runs.push_back({kEveryStageGroup, "every odd " + f, format, &kOddOneFace, every, true});
        runs.push_back({kEveryStageGroup, "every two faces " + f, format, &kTwoFaces, every, true});
    }
    for (PixelFormat format : {kFormatYuv420Planar, kFormatYuv422Yuyv, kFormatYuv420SemiPlanar}) {
        const std::string f = hexFormat(format);
        runs.push_back({kEveryStageGroup, "otherwise " + f, format, &kOneFace, otherwise, true});
        runs.push_back({kEveryStageGroup, "every unfitted " + f, format, &kOneFace, every, false});
        runs.push_back({kEveryStageGroup, "every odd two faces " + f, format, &kOddTwoFaces, every, true});
    }
    for (const StrengthCell &cell : kStrengths) {
        char name[32];
        std::snprintf(name, sizeof name, "alone %x", cell.bit);
        runs.push_back({kStageAloneGroup, name, kFormatYuv420Planar, &kTwoFaces, only(every, cell.bit), true});
        runs.push_back({kStageAloneGroup, std::string(name) + " otherwise", kFormatYuv422Uyvy, &kOneFace,
                        only(otherwise, cell.bit), true});
    }
    runs.push_back({kLargeFaceGroup, "every large", kFormatYuv420Planar, &kLargeFace, every, true});
    runs.push_back({kLargeFaceGroup, "every large packed", kFormatYuv422Yuyv, &kLargeFace, every, true});
    runs.erase(std::remove_if(runs.begin(), runs.end(),
                              [group](const GoldenRun &run) { return run.group != group; }),
               runs.end());
    return runs;
}

struct EffectStagesGolden : StageRunFixture {
    // A fresh engine for every run, so that no shape records carry over; without workers, an
    // engine whose worker threads could not be started.
    void renewEngine(bool workers)
    {
        innerFreeFaceData(inner);
        inner = nullptr;
        if (!workers) {
            sys::ThreadFaults faults;
            faults.failStartAt = 1;
            faults.failEveryStartFrom = true;
            sys::armThreadFaults(faults);
        }
        BeautyParams block{};
        settingsToParams(BeautySettings{}, &block);
        EXPECT_EQ(innerEngineCreate(counter.allocator(), &block, &kEffectStageTable, &inner), kResultOk);
        sys::disarmThreadFaults();
        EXPECT_EQ(inner->workers != nullptr, workers);
    }

    std::string digestOf(const GoldenRun &run, bool workers)
    {
        renewEngine(workers);
        return digestOnThisEngine(run);
    }

    std::string digestOnThisEngine(const GoldenRun &run)
    {
        const Scene &scene = *run.scene;
        OwnedImage image(scene.width, scene.height, run.format);
        scene.paint(image.image);
        use(run.settings);
        // The faces' point buffers are the run's own: fitting writes the fitted points into
        // them, and the beautify run reads them there.
        std::vector<std::vector<VXL_POINT>> points = scene.points;
        std::vector<FaceWork> works = scene.works;
        for (size_t k = 0; k < works.size(); ++k)
            works[k].points = points[k].data();
        if (run.fitFirst) {
            EXPECT_EQ(innerFitFaces(inner, &image.image, works.data(), int32_t(works.size()), nullptr),
                      kResultOk) << run.name;
        }
        for (size_t k = 0; k < works.size(); ++k) {
            works[k] = scene.works[k];
            works[k].points = points[k].data();
        }
        FeatureStatus *status = nullptr;
        const int result = innerRun(inner, nullptr, nullptr, &image.image, works.data(),
                                    int32_t(works.size()), &status, nullptr, nullptr);
        const std::string digest = runDigest(image.image, result, status);
        if (status)
            status->ops->release(status);
        return digest;
    }

    // Every run of the group against its recorded digest; the entries that differ are printed
    // as they now are.
    void expectRecorded(GoldenGroup group, bool workers);
};

// Recorded from the stages as they were before their loops were banded.
const char *const kRecorded[][2] = {
    {"every 10200001", "1cb1681a10c4dda4f7aaea0e560ed9a0"},
    {"every odd 10200001", "5e4cba795bd8cb144f78b790445f6e8f"},
    {"every two faces 10200001", "187163fd3d6937bdc173a2203d3b9d9d"},
    {"every 20000001", "a9ccdcb22cdce58bfbf843606ca67dfb"},
    {"every odd 20000001", "ca8fc4c7933361d29817ebed1af4486c"},
    {"every two faces 20000001", "14e0f2995ba07a6b8918bb364f8a6e2a"},
    {"every 20000002", "f3db62a3cfb66f083861fdd1c68fc0dd"},
    {"every odd 20000002", "ce4a7c3a302e1ffcdc4de6276babd028"},
    {"every two faces 20000002", "40d2d03d8a9931f6211132ea11f818a2"},
    {"every 20200001", "0ad08ea42088b3053dd90c644a0fc1bd"},
    {"every odd 20200001", "0f39995b6cd6884fd41e975765b3dc4c"},
    {"every two faces 20200001", "ce0722a0e7d3628c76ef2510f352a1b3"},
    {"every 30100001", "544d7a1f6f1fa035230f9df39d3175c2"},
    {"every odd 30100001", "aae83b5dda1152eee6ca782299e8575d"},
    {"every two faces 30100001", "8495659d7304cfe6742d49c1b95358d9"},
    {"every 30100002", "1b74ebb2530cfbea03c7133405e3bf58"},
    {"every odd 30100002", "994670127a600c207827036d6c045368"},
    {"every two faces 30100002", "7282d74eb6daa91a31e67368e1074f23"},
    {"every 30200001", "0f8ebd88bf5360841a1666bc553096c1"},
    {"every odd 30200001", "d8d4ea0a95b92837fee9cb048c31f74c"},
    {"every two faces 30200001", "3133376cea4779150746fd0fcfca891e"},
    {"otherwise 30200001", "5e93d13ed60fecf179e115041d7afdac"},
    {"every unfitted 30200001", "0f8ebd88bf5360841a1666bc553096c1"},
    {"every odd two faces 30200001", "357193989588f7342720ed5c0f3be1b3"},
    {"otherwise 20000001", "7badd612e9bbfdad0c427719508febc1"},
    {"every unfitted 20000001", "a9ccdcb22cdce58bfbf843606ca67dfb"},
    {"every odd two faces 20000001", "252d54ff50a3ddd69fee3486f810954b"},
    {"otherwise 30100001", "b6c6c4290f6384975816a4fcc40224a0"},
    {"every unfitted 30100001", "544d7a1f6f1fa035230f9df39d3175c2"},
    {"every odd two faces 30100001", "fabfe745f63d50ec77562579653827eb"},
    {"alone 1", "9dd6f1ff370322741714106037bde946"},
    {"alone 1 otherwise", "055df671628c7dc273f7c801d5a6fe79"},
    {"alone 2", "73b375be80aea06447cd52cf7eb6e548"},
    {"alone 2 otherwise", "07a9bce73eea13b96bcddbc820008ab2"},
    {"alone 4", "e77119ba786196c9bc140a8dc2c1cd37"},
    {"alone 4 otherwise", "82eb0e04f61b745db4cda0ea3b3f12a9"},
    {"alone 8", "2398503b4d1d5fdd9e8d700fd5307ef7"},
    {"alone 8 otherwise", "7f2b510b978f12fd790944b0a204f1ae"},
    {"alone 10", "000cfdec1f1c20113075914376f8401b"},
    {"alone 10 otherwise", "11aab0bb7881d175a883117473dedf18"},
    {"alone 20", "bb088f6da00c7998833c69f2332ffaf7"},
    {"alone 20 otherwise", "719f8551fa308a50fb984d1e0a8c4991"},
    {"alone 40", "fb6bd853bcb60e71e1ba5ed18beb4624"},
    {"alone 40 otherwise", "1eb3ba52090c2b958cbe01071b2aada1"},
    {"alone 80", "a94b6e35e17d636f2d911aa57fb4cc96"},
    {"alone 80 otherwise", "7a64d6bacfa4343c23078d1fe93f6cda"},
    {"alone 100", "ce1bd6995b26f28fc05e3273366f47bd"},
    {"alone 100 otherwise", "75ec89e18aa45687b537393580aed21d"},
    {"alone 200", "6dea2e56222a10e27c14fbbd471bbdbd"},
    {"alone 200 otherwise", "5011a6f779679ae152d2289c87f13489"},
    {"alone 400", "5695daa58b99abf4f38cd8ab824f1a83"},
    {"alone 400 otherwise", "51cdede130fc5f4b9fae3be583ad2b5d"},
    {"alone 800", "594902279891f48fb70a6ff01c5c1729"},
    {"alone 800 otherwise", "0b6e4c75d8bcd1979b033576d40b1c75"},
    {"alone 1000", "81b21dbb8ec32e879f6fb445afe27bd1"},
    {"alone 1000 otherwise", "091dafaccc823462ebbcf66deee17aeb"},
    {"alone 2000", "8cfc4dca711acb4168ba3894723b54f9"},
    {"alone 2000 otherwise", "2f269ae630fa004448abebca07580472"},
    {"alone 4000", "86b4d7d5f69722e8d9eef3df9939b2cd"},
    {"alone 4000 otherwise", "329f85c99ef44401016b229ebe5d25f1"},
    {"alone 8000", "2311ea722c4a50bf3fede5981c19d32a"},
    {"alone 8000 otherwise", "ffc98adb3cf0f86f3173c1cf3a11e1eb"},
    {"alone 10000", "89d94d5805ccc24d45a9e5022ab5d91e"},
    {"alone 10000 otherwise", "1d012968dd4fb692ed4a215fccbb86a3"},
    {"every large", "881bdd8faf66d45c51bfd32fa73967ac"},
    {"every large packed", "0bb8c7790c5d13fdc51b1631525aef59"},
};

std::map<std::string, std::string> recordedDigests()
{
    std::map<std::string, std::string> recorded;
    for (const auto &entry : kRecorded)
        recorded[entry[0]] = entry[1];
    return recorded;
}

void EffectStagesGolden::expectRecorded(GoldenGroup group, bool workers)
{
    const std::map<std::string, std::string> recorded = recordedDigests();
    std::string table;
    for (const GoldenRun &run : goldenRuns(group)) {
        const std::string digest = digestOf(run, workers);
        const auto found = recorded.find(run.name);
        if (found != recorded.end() && found->second == digest)
            continue;
        ADD_FAILURE() << run.name << ": " << digest << ", recorded "
                      << (found == recorded.end() ? "nothing" : found->second);
        table += "    {\"" + run.name + "\", \"" + digest + "\"},\n";
    }
    EXPECT_TRUE(table.empty()) << "The runs that differ, as they now are:\n" << table;
}

TEST_F(EffectStagesGolden, EveryStageInEveryFormatAndSize) { expectRecorded(kEveryStageGroup, true); }
TEST_F(EffectStagesGolden, EachStageAlone) { expectRecorded(kStageAloneGroup, true); }
TEST_F(EffectStagesGolden, EveryStageOnALargeFace) { expectRecorded(kLargeFaceGroup, true); }

// The pictures do not depend on the threads: an engine that works on the calling thread alone
// gives every picture that one with its workers gives.
TEST_F(EffectStagesGolden, WithoutWorkerThreads)
{
    expectRecorded(kEveryStageGroup, false);
    expectRecorded(kLargeFaceGroup, false);
}

// The engine's workers are started with it: fitting and a run of every stage start no thread.
TEST_F(EffectStagesGolden, RunsStartNoThreads)
{
    renewEngine(true);
    sys::armThreadFaults(sys::ThreadFaults{});  // no fault: counts the thread starts
    const GoldenRun run = goldenRuns(kLargeFaceGroup).front();
    const std::string digest = digestOnThisEngine(run);
    EXPECT_EQ(sys::threadStartsSinceArming(), 0);
    sys::disarmThreadFaults();
    EXPECT_EQ(digest, recordedDigests()[run.name]);
}

}  // namespace
