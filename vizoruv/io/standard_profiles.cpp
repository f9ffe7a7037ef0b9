// sRGB from LittleCMS's built-in profile; Adobe RGB (1998) and ProPhoto RGB from their published
// primaries, white points and gamma curves.
#include "vizoruv/io/standard_profiles.h"

#include <lcms2.h>

namespace {

cmsHPROFILE makeMatrixProfile(const cmsCIExyY& white, const cmsCIExyYTRIPLE& primaries, double gamma,
                              const char* description) {
    cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
    if (!curve)
        return nullptr;
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    if (!profile)
        return nullptr;
    cmsMLU* text = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(text, "en", "US", description);
    cmsWriteTag(profile, cmsSigProfileDescriptionTag, text);
    cmsMLUfree(text);
    return profile;
}

}  // namespace

std::vector<uint8_t> standardProfileBytes(StandardProfile which) {
    cmsHPROFILE profile = nullptr;
    switch (which) {
    case StandardProfile::Srgb:
        profile = cmsCreate_sRGBProfile();
        break;
    case StandardProfile::AdobeRgb:
        profile = makeMatrixProfile({0.3127, 0.3290, 1.0},
                                    {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}},
                                    563.0 / 256.0, "Adobe RGB (1998) compatible");
        break;
    case StandardProfile::ProPhotoRgb:
        profile = makeMatrixProfile({0.3457, 0.3585, 1.0},
                                    {{0.7347, 0.2653, 1.0}, {0.1596, 0.8404, 1.0}, {0.0366, 0.0001, 1.0}},
                                    1.8, "ProPhoto RGB compatible");
        break;
    }
    std::vector<uint8_t> bytes;
    if (!profile)
        return bytes;
    cmsUInt32Number size = 0;
    if (cmsSaveProfileToMem(profile, nullptr, &size) && size > 0) {
        bytes.resize(size);
        if (!cmsSaveProfileToMem(profile, bytes.data(), &size))
            bytes.clear();
    }
    cmsCloseProfile(profile);
    return bytes;
}
