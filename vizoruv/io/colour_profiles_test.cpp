#include "vizoruv/io/colour_profiles.h"

#include "sys/colour/colour_system.h"
#include "vizoruv/io/testing/io_test_support.h"
#include "vizoruv/io/standard_profiles.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cstring>

using namespace io_test;

namespace {

// Points the colour folder at a scratch folder holding a system sRGB profile.
struct ColourSystemFixture : ::testing::Test {
    ScratchFolder folder;
    std::vector<uint8_t> systemSrgb = standardProfileBytes(StandardProfile::Srgb);
    void SetUp() override {
        colour_system::setColourDirectory(folder.path);
        ASSERT_EQ(wic::writeFileBytes(systemSrgbProfilePath(), systemSrgb, nullptr), wic::kWicOk);
    }
    void TearDown() override {
        colour_system::setColourDirectory("");
        colour_system::setDisplayProfilePath("");
    }
};

cmsHPROFILE openProfile(const std::vector<uint8_t>& bytes) {
    return bytes.empty() ? cmsCreate_sRGBProfile() : cmsOpenProfileFromMem(bytes.data(), cmsUInt32Number(bytes.size()));
}

// LittleCMS's own answer for one conversion of RGBA bytes (empty profile bytes: its built-in sRGB).
std::vector<uint8_t> lcmsAnswer(const std::vector<uint8_t>& from, const std::vector<uint8_t>& to,
                                const std::vector<uint8_t>& rgba) {
    cmsHPROFILE a = openProfile(from);
    cmsHPROFILE b = openProfile(to);
    cmsHTRANSFORM t = cmsCreateTransform(a, TYPE_RGBA_8, b, TYPE_RGBA_8, INTENT_PERCEPTUAL, cmsFLAGS_COPY_ALPHA);
    std::vector<uint8_t> out(rgba.size());
    cmsDoTransform(t, rgba.data(), out.data(), cmsUInt32Number(rgba.size() / 4));
    cmsDeleteTransform(t);
    cmsCloseProfile(a);
    cmsCloseProfile(b);
    return out;
}

}  // namespace

TEST_F(ColourSystemFixture, SystemSrgbIgnoresTheHeaderButNothingElse) {
    std::vector<uint8_t> sameButRedated = systemSrgb;
    sameButRedated[24] ^= 0x55;  // creation date
    sameButRedated[80] ^= 0x55;  // creator
    EXPECT_TRUE(isSystemSrgbProfile(sameButRedated.data(), sameButRedated.size()));
    std::vector<uint8_t> changedTag = systemSrgb;
    changedTag[200] ^= 1;
    EXPECT_FALSE(isSystemSrgbProfile(changedTag.data(), changedTag.size()));
    std::vector<uint8_t> adobe = standardProfileBytes(StandardProfile::AdobeRgb);
    EXPECT_FALSE(isSystemSrgbProfile(adobe.data(), adobe.size()));
    EXPECT_TRUE(isSrgbContext({}));
    EXPECT_TRUE(isSrgbContext(sameButRedated));
    EXPECT_FALSE(isSrgbContext(adobe));
    // Without a system profile every profile differs from sRGB.
    colour_system::setColourDirectory(folder.file("empty"));
    EXPECT_FALSE(isSystemSrgbProfile(systemSrgb.data(), systemSrgb.size()));
}

TEST_F(ColourSystemFixture, ShippedProfilePathsAndFiles) {
    EXPECT_EQ(shippedProfilePath("/opt/bin", kShippedProfileSrgb), "/opt/bin/supportfiles/Profiles/sRGB Color Space Profile.icm");
    EXPECT_EQ(shippedProfilePath("/opt/bin", kShippedProfileProPhoto), "/opt/bin/supportfiles/Profiles/ProPhotoRGB.icm");
    EXPECT_EQ(shippedProfilePath("/opt/bin", kShippedProfileAdobe), "/opt/bin/supportfiles/Profiles/Adobe.icm");
    EXPECT_EQ(shippedProfilePath("/opt/bin", 3), "/opt/bin");
    ProfileBytes profile{{1, 2, 3}};
    EXPECT_FALSE(loadProfileFile(&profile, folder.file("missing.icm")));
    EXPECT_TRUE(profile.empty());
    wic::writeFileBytes(folder.file("empty.icm"), {}, nullptr);
    EXPECT_FALSE(loadProfileFile(&profile, folder.file("empty.icm")));
    // The build ships real profiles that can serve as transform targets.
    for (int type : {kShippedProfileSrgb, kShippedProfileProPhoto, kShippedProfileAdobe}) {
        ASSERT_TRUE(loadProfileFile(&profile, shippedProfilePath(IO_SHIPPED_PROFILES_DIR, type))) << type;
        EXPECT_TRUE(canTransformToProfile(profile)) << type;
    }
    EXPECT_FALSE(canTransformToProfile(ProfileBytes{{1, 2, 3, 4, 5}}));
    EXPECT_FALSE(canTransformToProfile(ProfileBytes{}));
}

TEST_F(ColourSystemFixture, ProfileModesChooseKeepAndDemote) {
    const ProfileBytes proPhoto{{1, 1}}, adobe{{2, 2}}, source{{3, 3}}, none;
    struct Case { int mode; const ProfileBytes* source; bool mark; std::vector<uint8_t> embedded; } cases[] = {
        {0, &source, false, {}}, {1, &source, false, {1, 1}}, {2, &none, false, {2, 2}},
        {3, &source, true, {3, 3}}, {3, &none, true, {2, 2}}, {3, &none, false, {}},
        {4, &source, false, {3, 3}}, {4, &none, false, {1, 1}}, {5, &none, false, {2, 2}},
    };
    for (const Case& c : cases) {
        ProfileBytes profile = *c.source;
        EXPECT_EQ(chooseEmbeddedProfile(c.mode, &profile, proPhoto, adobe, c.mark), !c.embedded.empty()) << c.mode;
        EXPECT_EQ(profile.bytes, c.embedded) << "mode " << c.mode << " mark " << c.mark;
    }
    EXPECT_EQ(demoteProfileMode(3), 0);
    EXPECT_EQ(demoteProfileMode(5), 2);
    EXPECT_EQ(demoteProfileMode(2), 2);

    const ProfileBytes system{systemSrgb};
    EXPECT_TRUE(keepSourceProfile(0, wic::Container::Jpeg, system));
    EXPECT_FALSE(keepSourceProfile(0, wic::Container::Jpeg, source));
    EXPECT_FALSE(keepSourceProfile(1, wic::Container::Tiff, system));
    EXPECT_TRUE(keepSourceProfile(4, wic::Container::Tiff, none));
    EXPECT_FALSE(keepSourceProfile(4, wic::Container::Png, source));
    EXPECT_FALSE(keepSourceProfile(3, wic::Container::Unknown, source));
}

TEST_F(ColourSystemFixture, TransformsMatchLittleCmsInEveryDepth) {
    const std::vector<uint8_t> adobe = standardProfileBytes(StandardProfile::AdobeRgb);
    wic::Bitmap pixels = noise(wic::PixelFormat::Rgba32, 16, 4);
    std::vector<uint8_t> original = pixels.pixels;
    ASSERT_TRUE(transformBitmap(adobe, {}, &pixels));
    EXPECT_EQ(pixels.pixels, lcmsAnswer(adobe, {}, original));
    EXPECT_NE(pixels.pixels, original);
    for (size_t i = 3; i < original.size(); i += 4)
        ASSERT_EQ(pixels.pixels[i], original[i]);  // alpha untouched

    // 16 bits: the same colours, within two 8-bit steps of the 8-bit answer (which LittleCMS
    // computes through its faster 8-bit tables).
    wic::Bitmap wide;
    wic::Bitmap source = noise(wic::PixelFormat::Rgba32, 16, 4);
    ASSERT_TRUE(wic::convertFormat(wic::refOf(source), wic::PixelFormat::Rgba64, &wide));
    ASSERT_TRUE(transformBitmap(adobe, {}, &wide));
    wic::Bitmap narrowed;
    ASSERT_TRUE(wic::convertFormat(wic::refOf(wide), wic::PixelFormat::Rgba32, &narrowed));
    for (size_t i = 0; i < narrowed.pixels.size(); ++i)
        ASSERT_NEAR(narrowed.pixels[i], pixels.pixels[i], 2) << i;

    wic::Bitmap untouched = noise(wic::PixelFormat::Bgr24, 4, 4);
    const std::vector<uint8_t> before = untouched.pixels;
    EXPECT_FALSE(transformBitmap({1, 2, 3}, {}, &untouched));
    EXPECT_EQ(untouched.pixels, before);
}

TEST_F(ColourSystemFixture, DisplayCopyFollowsTheScreenProfile) {
    wic::Bitmap rgba = noise(wic::PixelFormat::Rgba32, 9, 5);
    ImageBuffer source;
    source.pixels = rgba.pixels.data();
    source.size = int32_t(rgba.pixels.size());
    source.bitsPerChannel = 8;
    source.channels = 4;
    source.width = 9;
    source.height = 5;
    source.rowBytes = int32_t(rgba.stride);

    ImageBuffer target;
    ASSERT_TRUE(makeDisplayCopy(source, &target));  // no screen profile: the working image itself
    EXPECT_EQ(std::vector<uint8_t>(target.pixels, target.pixels + target.size), rgba.pixels);

    const std::vector<uint8_t> adobe = standardProfileBytes(StandardProfile::AdobeRgb);
    wic::writeFileBytes(folder.file("screen.icc"), adobe, nullptr);
    colour_system::setDisplayProfilePath(folder.file("screen.icc"));
    ASSERT_TRUE(makeDisplayCopy(source, &target));
    EXPECT_EQ(std::vector<uint8_t>(target.pixels, target.pixels + target.size),
              lcmsAnswer({}, adobe, rgba.pixels));

    source.noColourManagement = 1;
    ASSERT_TRUE(makeDisplayCopy(source, &target));
    EXPECT_EQ(std::vector<uint8_t>(target.pixels, target.pixels + target.size), rgba.pixels);

    colour_system::setDisplayProfilePath(folder.file("missing.icc"));
    source.noColourManagement = 0;
    ASSERT_TRUE(makeDisplayCopy(source, &target));
    EXPECT_EQ(std::vector<uint8_t>(target.pixels, target.pixels + target.size), rgba.pixels);

    source.channels = 3;
    EXPECT_FALSE(makeDisplayCopy(source, &target));
    freeImageBuffer(&target);
}
