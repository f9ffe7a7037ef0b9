// Stage 0x80, eye overlay.
//
// Sub-block: strength 1..255 and template number 1..5 (entry 0..4 of the overlay blobs).
//
// Divisions: the bright-end percentile; the patch; one face; the stage.
#include "facesdk/effects/eye_overlay.h"

#include <algorithm>
#include <cstring>

#include "facesdk/base/pixel_format.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/effects/grey_turn.h"
#include "facesdk/effects/stage_target.h"
#include "facesdk/engine/box_blur.h"
#include "facesdk/engine/face_measurements.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/lzw_pack.h"
#include "facesdk/engine/model_blob.h"
#include "facesdk/engine/resample.h"
#include "facesdk/engine/shape_prepare.h"
#include "facesdk/engine/warp_anchor.h"

namespace {

constexpr int32_t kBrightPercent = 4;     // the eyes' brightest values: the top 4 percent
constexpr size_t kRefinedWidthOffset = 92;  // box width stored with the refined part
constexpr size_t kRefinedBlocksOffset = 4;
constexpr int32_t kBandBlurPasses = 4;

// ---- Refined eyes ---------------------------------------------------------------------------

// The refined part's blocks scaled to the face's current box and moved to image pixels.
void rescaleRefinedEyes(const FaceShapeRecord &record, const FaceWork &face, EyeBlock out[2])
{
    std::memcpy(out, record.refinedEyePart + kRefinedBlocksOffset, 2 * sizeof(EyeBlock));
    int32_t stored = 0;
    std::memcpy(&stored, record.refinedEyePart + kRefinedWidthOffset, sizeof stored);
    const int32_t k = stored ? int32_t(int64_t(face.box.width) * 1024 / stored) : 0;
    for (int e = 0; e < 2; ++e) {
        EyeBlock &b = out[e];
        for (int32_t *v : {&b.region.x, &b.region.y, &b.region.width, &b.region.height, &b.darkRow,
                           &b.irisX, &b.irisY, &b.irisRadius, &b.upperLid, &b.lowerLid})
            *v = scaleQ10(*v, k);
        b.irisX += face.box.x;
        for (int32_t *v : {&b.darkRow, &b.irisY, &b.upperLid, &b.lowerLid})
            *v += face.box.y;
    }
}

// The square of half-side r around the eye's iris, clipped to the image and evened for chroma.
void eyeSquare(EyeBlock *eye, int32_t r, const EngineImage &image)
{
    const int32_t x0 = std::max(0, eye->irisX - r), y0 = std::max(0, eye->irisY - r);
    eye->region = {x0, y0, std::min(eye->irisX + r, image.width - 1) - x0,
                   std::min(eye->irisY + r, image.height - 1) - y0};
    evenRectForFamily(&eye->region, image.format);
}

EngineImage greyView(uint8_t *pixels, int32_t width, int32_t height)
{
    EngineImage image{};
    image.format = kFormatGrey8;
    image.width = width;
    image.height = height;
    image.planes[0].pixels = pixels;
    image.planes[0].stride = width;
    return image;
}

// The band of the eye opening in template rows, 255 inside, softened.
int eyeOpeningBand(InnerEngine *inner, const OverlayEyeSquare eyes[2], int32_t pw, int32_t ph,
                   EngineImage *band)
{
    const int32_t side = std::min({eyes[0].region.width, eyes[1].region.width,
                                   eyes[0].region.height, eyes[1].region.height});
    if (side <= 0)
        return kResultBadArgument;
    if (int r = allocateGreyFilled(inner->allocator, band, pw, ph, 0); r != kResultOk)
        return r;
    const int32_t l = std::min(pw, ph) * 1024 / side;
    int32_t up = INT32_MAX, down = INT32_MAX;
    for (int e = 0; e < 2; ++e) {
        const int32_t iris = scaleQ10(eyes[e].irisY, l);
        up = std::min(up, std::abs(iris - scaleQ10(eyes[e].upperLid, l)));
        down = std::min(down, std::abs(scaleQ10(eyes[e].lowerLid, l) - iris));
    }
    const int32_t top = std::max(ph / 2 - up, 0);
    const int32_t bottom = int32_t(std::min<int64_t>(int64_t(ph / 2) + down, ph - 1));
    for (int32_t y = top; y <= bottom; ++y)
        std::memset(band->planes[0].pixels + size_t(y) * pw, 255, size_t(pw));
    if (ph > 7) {
        const EngineRect whole = {0, 0, pw, ph};
        return boxBlurRepeat(inner->allocator, band, &whole, ph / 4, kBandBlurPasses);
    }
    return kResultOk;
}

} // namespace

// ---- The bright-end percentile --------------------------------------------------------------

int lumaPercentileFromTop(InnerEngine *, const EngineImage *image, const EngineRect *rect,
                          int32_t percent, int32_t *value)
{
    if (!image || !rect || !value || !imageValid(image) || !rectInsideImage(*rect, image->width, image->height))
        return kResultBadArgument;
    const YuvAddressing *a = yuvAddressing(image->format);
    uint32_t histogram[256] = {};
    if (image->format == kFormatGrey8) {
        for (int32_t y = rect->y; y < rect->y + rect->height; ++y) {
            const uint8_t *row = image->planes[0].pixels + size_t(y) * image->planes[0].stride;
            for (int32_t x = rect->x; x < rect->x + rect->width; ++x)
                ++histogram[row[x]];
        }
    } else if (a) {
        for (int32_t y = rect->y; y < rect->y + rect->height; ++y) {
            const YuvRow row = yuvRow(*a, *image, y);
            for (int32_t x = rect->x; x < rect->x + rect->width; ++x)
                ++histogram[row.luma[x * row.lumaStep]];
        }
    } else {
        return kResultUnsupported;
    }
    const int64_t needed = int64_t(percent) * rect->width * rect->height;
    if (needed == 0) {
        *value = 255;
        return kResultOk;
    }
    int64_t count = 0;
    for (int32_t bin = 255; bin > 0; --bin) {
        count += histogram[bin];
        if (100 * count >= needed) {
            *value = bin - 1;
            return kResultOk;
        }
    }
    *value = 0;
    return kResultOk;
}

uint32_t overlayBlendWeight(int32_t bright1, int32_t bright2, int32_t strength)
{
    return uint32_t(((bright1 + bright2) * std::min(strength, 255)) >> 9);
}

// ---- The patch ------------------------------------------------------------------------------

int prepareOverlayPatch(InnerEngine *inner, const EngineImage *picture, const EngineImage *mask,
                        const OverlayEyeSquare &first, const OverlayEyeSquare &second,
                        EngineImage *patch, EngineImage *patchMask)
{
    *patch = EngineImage{};
    *patchMask = EngineImage{};
    const int32_t pw = picture->width, ph = picture->height;
    if (pw <= 0 || ph <= 0 || mask->width != pw || mask->height != ph)
        return kResultBadArgument;
    const OverlayEyeSquare eyes[2] = {first, second};
    EngineImage band{};
    int result = eyeOpeningBand(inner, eyes, pw, ph, &band);
    if (result != kResultOk) {
        imageRelease(inner->allocator, &band);
        return result;
    }
    // The template mask limited to the eye opening (the mask's rows may be padded).
    for (int32_t y = 0; y < ph; ++y) {
        const uint8_t *m = mask->planes[0].pixels + size_t(y) * mask->planes[0].stride;
        uint8_t *b = band.planes[0].pixels + size_t(y) * band.planes[0].stride;
        for (int32_t x = 0; x < pw; ++x)
            b[x] = uint8_t((m[x] * b[x]) >> 8);
    }
    int32_t angle = 0, distance = 0;
    rectCentreAngle(first.region, second.region, 0, &angle, &distance);
    // Turned by -angle: the 5-degree entry of angle, read as a turn toward the eye line.
    const int32_t k = turnIndex5(-angle);
    uint8_t *turnedPicture = nullptr, *turnedBand = nullptr;
    int32_t n = 0, q = 0, n2 = 0, q2 = 0;
    result = picture->planes[0].stride == pw ? kResultOk : kResultBadArgument;
    if (result == kResultOk)
        result = turnGrey(inner->allocator, picture->planes[0].pixels, pw, ph,
                          -sineTable5Fixed[k], cosineTable5Fixed[k], &turnedPicture, &n, &q);
    if (result == kResultOk)
        result = turnGrey(inner->allocator, band.planes[0].pixels, pw, ph, -sineTable5Fixed[k],
                          cosineTable5Fixed[k], &turnedBand, &n2, &q2);
    if (result == kResultOk) {
        int32_t width = 0, height = 0;
        if (q < n) {
            width = std::min(first.region.width, second.region.width) & ~1;
            height = int32_t(int64_t(q) * width / n) & ~1;
        } else {
            height = std::min(first.region.height, second.region.height) & ~1;
            width = int32_t(int64_t(n) * height / q) & ~1;
        }
        if (width <= 0 || height <= 0)
            result = kResultBadArgument;
        if (result == kResultOk)
            result = imageAllocate(inner->allocator, patch, width, height, kFormatGrey8);
        if (result == kResultOk)
            result = imageAllocate(inner->allocator, patchMask, width, height, kFormatGrey8);
        if (result == kResultOk) {
            const EngineImageView pictureView = wholeEngineImageView(greyView(turnedPicture, n, q));
            const EngineImageView bandView = wholeEngineImageView(greyView(turnedBand, n2, q2));
            const EngineRect wholePicture = {0, 0, n, q}, wholeBand = {0, 0, n2, q2};
            result = resizeGreyRegion(&pictureView, &wholePicture, patch);
            if (result == kResultOk)
                result = resizeGreyRegion(&bandView, &wholeBand, patchMask);
        }
    }
    allocatorFree(inner->allocator, turnedPicture);
    allocatorFree(inner->allocator, turnedBand);
    imageRelease(inner->allocator, &band);
    if (result != kResultOk) {
        imageRelease(inner->allocator, patch);
        imageRelease(inner->allocator, patchMask);
    }
    return result;
}

// ---- One face -------------------------------------------------------------------------------

int overlayEyes(InnerEngine *inner, EngineImage *image, const FaceListEntry &entry,
                const EngineImage *picture, const EngineImage *mask)
{
    if (!inner->rowHelpers.lightenBlendPatch)
        return kResultNothingToDo;
    const FaceWork &face = entry.face;
    if (!faceRegionValid(&face.box, &face.eye1Box, &face.eye2Box, image->width, image->height))
        return kResultBadArgument;
    const FaceShapeRecord *record = findShapeRecord(inner, face.id);
    if (!record || record->refinedEyeReady != 1 || !entry.inUse || !face.eye1Box.width ||
        !face.eye1Box.height || !face.eye2Box.width || !face.eye2Box.height)
        return kResultNothingToDo;
    EyeBlock eyes[2];
    rescaleRefinedEyes(*record, face, eyes);
    if (eyes[0].found != 1 || eyes[1].found != 1)
        return kResultNothingToDo;
    const int32_t r = (eyes[0].irisRadius + eyes[1].irisRadius) >> 1;
    eyeSquare(&eyes[0], r, *image);
    eyeSquare(&eyes[1], r, *image);

    EngineImage patch{}, patchMask{};
    int result = prepareOverlayPatch(inner, picture, mask, eyes[0], eyes[1], &patch, &patchMask);
    if (result != kResultOk)
        return result;
    int32_t b1 = 0, b2 = 0;
    result = lumaPercentileFromTop(inner, image, &eyes[0].region, kBrightPercent, &b1);
    if (result == kResultOk)
        result = lumaPercentileFromTop(inner, image, &eyes[1].region, kBrightPercent, &b2);
    if (result == kResultOk) {
        const uint32_t weight = overlayBlendWeight(b1, b2, inner->settings.overlay.strength);
        inner->rowHelpers.lightenBlendPatch(image, &patch, &patchMask, &eyes[0].region, weight);
        inner->rowHelpers.lightenBlendPatch(image, &patch, &patchMask, &eyes[1].region, weight);
    }
    imageRelease(inner->allocator, &patch);
    imageRelease(inner->allocator, &patchMask);
    return result;
}

// ---- The stage ------------------------------------------------------------------------------

int applyTemplateOverlay(InnerEngine *inner, FaceWork *, int32_t)
{
    if (inner->settings.overlay.strength == 0 || !inner->faceList || inner->faceListCount == 0)
        return kResultNothingToDo;
    const int32_t number = inner->settings.overlay.templateNumber;
    if (number < 1 || number > modelBlobCount(kBlobsOverlay))
        return kResultBadArgument;
    const uint8_t *record = engineBlobRecord(inner, kBlobsOverlay, number - 1);
    if (!record)
        return kResultNoMemory;
    EngineImage picture{}, mask{};
    int result = loadTemplateImages(inner, record, byteArrayCapacity(record), &picture, &mask);
    if (result == kResultOk) {
        WorkingSizeFromTargetScope target(inner);
        for (uint32_t k = 0; k < inner->faceListCount; ++k) {
            FaceListEntry entry = inner->faceList[k];
            scaleFaceRecord(inner->faceList[k].face, &entry.face, target.fx(), target.fy());
            const int face = overlayEyes(inner, target.image(), entry, &picture, &mask);
            if (face != kResultOk && face != kResultNothingToDo) {
                result = face;
                break;
            }
        }
    }
    imageRelease(inner->allocator, &picture);
    imageRelease(inner->allocator, &mask);
    return result;
}
