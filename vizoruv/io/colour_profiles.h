// Colour management around image input and output: the ICC profile bytes that travel with an
// image, the profiles that ship with the platform, the test against the system's sRGB profile, the
// choice of the embedded profile by the output's profile mode (OutputSettings::profileMode), pixel
// transforms between profiles (LittleCMS), and the display copy of a working image.
//
// Working images are sRGB: decoding converts every tagged image to sRGB, an untagged image counts
// as sRGB, and encoding converts from sRGB into the profile the output carries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sys/wic/wic.h"
#include "vizoruv/io/image_buffer.h"

// One ICC profile in memory; empty when there is none.
struct ProfileBytes {
    std::vector<uint8_t> bytes;
    bool empty() const { return bytes.empty(); }
};

// Profiles that ship with the platform, by type, under binDir (shippedProfilePath).
enum : int {
    kShippedProfileSrgb = 0,      // "/supportfiles/Profiles/sRGB Color Space Profile.icm"
    kShippedProfileProPhoto = 1,  // "/supportfiles/Profiles/ProPhotoRGB.icm"
    kShippedProfileAdobe = 2,     // "/supportfiles/Profiles/Adobe.icm"
};

// binDir followed by the shipped file of the type; any other type gives binDir unchanged.
std::string shippedProfilePath(const std::string& binDir, int type);

// Replaces the bytes with the whole file's; an absent, empty or unreadable file leaves the profile
// empty. Answers whether the profile now holds bytes.
bool loadProfileFile(ProfileBytes* profile, const std::string& path);

// The system's sRGB profile: "sRGB Color Space Profile.icm" in the colour folder (sys/colour).
std::string systemSrgbProfilePath();

// True when the bytes are the system's sRGB profile: the same length and the same bytes after the
// 128-byte header and the tag count (132 bytes; the header holds dates and the creator). Profiles of
// at most 132 bytes are compared whole. False when the system profile cannot be read.
bool isSystemSrgbProfile(const uint8_t* bytes, size_t length);

// Decoding: true when a frame with this embedded profile (empty: none, so sRGB or an EXIF colour
// space only) needs no conversion to sRGB.
bool isSrgbContext(const std::vector<uint8_t>& embeddedProfile);

// True when a transform from sRGB into the profile can be set up (the profile can be an output).
bool canTransformToProfile(const ProfileBytes& profile);

// Modes 3, 4 and 5 fall back to 0, 1 and 2.
int demoteProfileMode(int mode);

// Encoding: whether the source's own profile stays with the output. False without a source or for a
// source that is neither JPEG nor TIFF; mode 0 keeps a system sRGB profile only, modes 1 and 2 never
// keep, modes 3 to 5 always keep.
bool keepSourceProfile(int mode, wic::Container sourceContainer, const ProfileBytes& sourceProfile);

// Encoding: fills `profile` (holding the source's profile on entry) with the profile to embed for the
// mode; true when it then holds bytes. Modes 0 to 2 start empty; 1 takes ProPhoto RGB, 2 Adobe RGB;
// 3 takes Adobe RGB when the source has no profile and carries the Adobe RGB mark; 4 and 5 keep the
// source's profile, else take ProPhoto RGB or Adobe RGB.
bool chooseEmbeddedProfile(int mode, ProfileBytes* profile, const ProfileBytes& proPhoto, const ProfileBytes& adobe,
                           bool adobeRgbMark);

// Converts the pixels in place from one profile to another (empty bytes: sRGB), keeping alpha.
// Formats: 24-, 32-, 48- and 64-bit RGB orders without premultiplied alpha. False, pixels unchanged,
// when a profile cannot be read or the transform cannot be set up.
bool transformBitmap(const std::vector<uint8_t>& fromProfile, const std::vector<uint8_t>& toProfile,
                     wic::Bitmap* pixels);
bool transformBitmap(const std::vector<uint8_t>& fromProfile, const std::vector<uint8_t>& toProfile,
                     const wic::BitmapTarget& pixels);

// Fills `target` with the display copy of an 8-bit four-channel sRGB image (R, G, B, A): converted
// to the screen's profile, or copied unchanged when the screen has none, its profile cannot be read
// or the source's no-colour-management flag is set. The target takes the source's geometry with
// row bytes 4 x width; an existing block of another size is replaced. False when the source is not
// such an image or memory is short.
bool makeDisplayCopy(const ImageBuffer& source, ImageBuffer* target);
