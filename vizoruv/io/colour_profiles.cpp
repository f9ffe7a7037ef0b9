// Profile files, the sRGB test, the embedding rules, LittleCMS transforms and the display copy.
#include "vizoruv/io/colour_profiles.h"

#include "sys/colour/colour_system.h"

#include <lcms2.h>

#include <cstring>

namespace {

const char* const kShippedProfileFiles[] = {
    "/supportfiles/Profiles/sRGB Color Space Profile.icm",
    "/supportfiles/Profiles/ProPhotoRGB.icm",
    "/supportfiles/Profiles/Adobe.icm",
};

constexpr size_t kIccHeaderAndTagCount = 132;

// An opened LittleCMS profile, closed on scope exit.
struct Profile {
    cmsHPROFILE handle = nullptr;
    explicit Profile(const std::vector<uint8_t>& bytes)
        : handle(bytes.empty() ? cmsCreate_sRGBProfile()
                               : cmsOpenProfileFromMem(bytes.data(), cmsUInt32Number(bytes.size()))) {}
    ~Profile() {
        if (handle)
            cmsCloseProfile(handle);
    }
    Profile(const Profile&) = delete;
    Profile& operator=(const Profile&) = delete;
};

cmsUInt32Number lcmsFormat(wic::PixelFormat format) {
    switch (format) {
    case wic::PixelFormat::Bgr24: return TYPE_BGR_8;
    case wic::PixelFormat::Rgb24: return TYPE_RGB_8;
    case wic::PixelFormat::Bgr32:
    case wic::PixelFormat::Bgra32: return TYPE_BGRA_8;
    case wic::PixelFormat::Rgba32: return TYPE_RGBA_8;
    case wic::PixelFormat::Rgb48: return TYPE_RGB_16;
    case wic::PixelFormat::Bgr48: return TYPE_BGR_16;
    case wic::PixelFormat::Rgba64: return TYPE_RGBA_16;
    case wic::PixelFormat::Bgra64: return TYPE_BGRA_16;
    default: return 0;
    }
}

}  // namespace

std::string shippedProfilePath(const std::string& binDir, int type) {
    if (type < 0 || type > 2)
        return binDir;
    return binDir + kShippedProfileFiles[type];
}

bool loadProfileFile(ProfileBytes* profile, const std::string& path) {
    profile->bytes.clear();
    std::vector<uint8_t> bytes;
    if (wic::readFileBytes(path, &bytes, nullptr) != wic::kWicOk)
        return false;
    profile->bytes = std::move(bytes);
    return !profile->bytes.empty();
}

std::string systemSrgbProfilePath() {
    return colour_system::colourDirectory() + "/sRGB Color Space Profile.icm";
}

bool isSystemSrgbProfile(const uint8_t* bytes, size_t length) {
    ProfileBytes system;
    if (!bytes || !loadProfileFile(&system, systemSrgbProfilePath()) || system.bytes.size() != length)
        return false;
    const size_t from = length > kIccHeaderAndTagCount ? kIccHeaderAndTagCount : 0;
    return std::memcmp(bytes + from, system.bytes.data() + from, length - from) == 0;
}

bool isSrgbContext(const std::vector<uint8_t>& embeddedProfile) {
    if (embeddedProfile.empty())
        return true;
    return isSystemSrgbProfile(embeddedProfile.data(), embeddedProfile.size());
}

bool canTransformToProfile(const ProfileBytes& profile) {
    if (profile.empty())
        return false;
    Profile srgb({}), target(profile.bytes);
    if (!srgb.handle || !target.handle)
        return false;
    cmsHTRANSFORM transform =
        cmsCreateTransform(srgb.handle, TYPE_BGR_8, target.handle, TYPE_BGR_8, INTENT_PERCEPTUAL, 0);
    if (!transform)
        return false;
    cmsDeleteTransform(transform);
    return true;
}

int demoteProfileMode(int mode) { return mode > 2 ? mode - 3 : mode; }

bool keepSourceProfile(int mode, wic::Container sourceContainer, const ProfileBytes& sourceProfile) {
    if (sourceContainer != wic::Container::Jpeg && sourceContainer != wic::Container::Tiff)
        return false;
    if (mode == 0)
        return isSystemSrgbProfile(sourceProfile.bytes.data(), sourceProfile.bytes.size());
    return mode >= 3 && mode <= 5;
}

bool chooseEmbeddedProfile(int mode, ProfileBytes* profile, const ProfileBytes& proPhoto, const ProfileBytes& adobe,
                           bool adobeRgbMark) {
    if (mode >= 0 && mode <= 2)
        profile->bytes.clear();
    switch (mode) {
    case 1: profile->bytes = proPhoto.bytes; break;
    case 2: profile->bytes = adobe.bytes; break;
    case 3:
        if (adobeRgbMark && profile->empty())
            profile->bytes = adobe.bytes;
        break;
    case 4:
        if (profile->empty())
            profile->bytes = proPhoto.bytes;
        break;
    case 5:
        if (profile->empty())
            profile->bytes = adobe.bytes;
        break;
    default: break;
    }
    return !profile->empty();
}

namespace {

bool transformPixels(const std::vector<uint8_t>& fromProfile, const std::vector<uint8_t>& toProfile,
                     wic::PixelFormat pixelFormat, uint32_t width, uint32_t height, uint32_t stride, uint8_t* pixels) {
    const cmsUInt32Number format = lcmsFormat(pixelFormat);
    if (!format || !pixels)
        return false;
    Profile from(fromProfile), to(toProfile);
    if (!from.handle || !to.handle)
        return false;
    cmsHTRANSFORM transform =
        cmsCreateTransform(from.handle, format, to.handle, format, INTENT_PERCEPTUAL, cmsFLAGS_COPY_ALPHA);
    if (!transform)
        return false;
    cmsDoTransformLineStride(transform, pixels, pixels, width, height, stride, stride, 0, 0);
    cmsDeleteTransform(transform);
    return true;
}

}  // namespace

bool transformBitmap(const std::vector<uint8_t>& fromProfile, const std::vector<uint8_t>& toProfile,
                     wic::Bitmap* pixels) {
    if (pixels->pixels.empty())
        return false;
    return transformPixels(fromProfile, toProfile, pixels->format, pixels->width, pixels->height, pixels->stride,
                           pixels->pixels.data());
}

bool transformBitmap(const std::vector<uint8_t>& fromProfile, const std::vector<uint8_t>& toProfile,
                     const wic::BitmapTarget& pixels) {
    return transformPixels(fromProfile, toProfile, pixels.format, pixels.width, pixels.height, pixels.stride,
                           pixels.pixels);
}

bool makeDisplayCopy(const ImageBuffer& source, ImageBuffer* target) {
    if (!source.pixels || source.bitsPerChannel != 8 || source.channels != 4 || source.width <= 0 ||
        source.height <= 0 || source.rowBytes < source.width * 4 ||
        int64_t(source.rowBytes) * source.height > int64_t(source.size))
        return false;
    const uint32_t stride = uint32_t(source.width) * 4;
    const size_t length = size_t(stride) * uint32_t(source.height);
    if (!target->pixels || size_t(target->size) != length) {
        if (!allocateBufferPixels(target, length))
            return false;
    }
    target->bitsPerChannel = 8;
    target->channels = 4;
    target->width = source.width;
    target->height = source.height;
    target->rowBytes = int32_t(stride);
    for (int32_t y = 0; y < source.height; ++y)
        std::memcpy(target->pixels + size_t(y) * stride, source.pixels + size_t(y) * source.rowBytes, stride);

    const std::string displayProfile = colour_system::displayProfilePath();
    if (source.noColourManagement || displayProfile.empty())
        return true;
    ProfileBytes display;
    if (!loadProfileFile(&display, displayProfile))
        return true;
    transformPixels({}, display.bytes, wic::PixelFormat::Rgba32, uint32_t(source.width), uint32_t(source.height),
                    stride, target->pixels);
    return true;
}
