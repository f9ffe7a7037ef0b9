// Queries of the platform that change nothing: LUT keys, histogram, image facts, thumbnails of any
// file, the layers' mask overlays, the finishing curve and the fingerprint. Thumbnails and overlays
// are handed out until FreeThumbnail. Divisions: histogram helpers; the slots.
#include "vizoruv/platform/queries.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "vizoruv/adjust/layer_mask.h"
#include "vizoruv/adjust/mask_overlays.h"
#include "vizoruv/adjust/mask_planes.h"
#include "vizoruv/adjust/tone_curve.h"
#include "vizoruv/io/image_decoder.h"
#include "vizoruv/io/image_geometry.h"
#include "vizoruv/platform/engine_session.h"
#include "vizoruv/platform/file_processing.h"
#include "vizoruv/platform/raw_open.h"
#include "vizoruv/platform/vxl_platform_win.h"

namespace {

constexpr int kBins = 256;
constexpr int kHistogramCount = 4;  // red, green, blue, luminance
constexpr double kHistogramTop = 254.0;
constexpr int kThumbnailPreviewSide = 1200;
constexpr int kRawThumbnailDevelopSide = 500;  // larger thumbnails are developed in full
const std::vector<double> kSmoothingKernel = {0.006, 0.061, 0.242, 0.383, 0.242, 0.061, 0.006};

using Histogram = std::vector<double>;

uint8_t scaledByte(double value, double scale) {
    return uint8_t(std::min(255.0, value * scale));
}

// The largest sum of four neighbouring bins, a quarter of it: the level of a peak one bin wide
// after the display's own smoothing.
double peakLevel(const Histogram& bins) {
    double best = 0;
    for (int i = 0; i + 3 < kBins; ++i)
        best = std::max(best, bins[i] + bins[i + 1] + bins[i + 2] + bins[i + 3]);
    return best * 0.25;
}

// An 8-bit four-channel view of the overlay's pixels in a new malloc'ed block; false (view
// untouched) when memory is short.
bool handOutOverlay(const MaskOverlay& overlay, ImageView* view) {
    const size_t bytes = overlay.pixels.size();
    uint8_t* block = static_cast<uint8_t*>(std::malloc(bytes));
    if (!block)
        return false;
    std::memcpy(block, overlay.pixels.data(), bytes);
    *view = ImageView{};
    view->format = kImageFormat8;
    view->width = overlay.width;
    view->height = overlay.height;
    view->rowBytes = 4 * overlay.width;
    view->bytesPerPixel = 4;
    view->hasAlpha = 1;
    for (int c = 0; c < 3; ++c)
        view->data[c] = block + c;
    return true;
}

}  // namespace

std::vector<double> convolve1D(const std::vector<double>& input, const std::vector<double>& kernel,
                               ConvolveEdge edge) {
    const int n = int(input.size()), k = int(kernel.size());
    double sum = 0;
    for (double value : kernel)
        sum += value;
    std::vector<double> output;
    if (n == 0 || k == 0 || sum == 0)
        return output;
    if (edge == kConvolveClamp) {
        output.resize(n);
        for (int j = 0; j < n; ++j) {
            double value = 0;
            for (int t = 0; t < k; ++t)
                value += input[std::clamp(j - k / 2 + t, 0, n - 1)] * kernel[k - 1 - t];
            output[j] = value / sum;
        }
        return output;
    }
    for (int i = 0; i + k <= n; ++i) {
        double value = 0;
        for (int t = 0; t < k; ++t)
            value += input[i + t] * kernel[k - 1 - t];
        output.push_back(value / sum);
    }
    return output;
}

bool histogramOfView(const ImageView& view, const MaskTransform* region, int smoothing, uint8_t* table1024) {
    if (!view.data[0] || view.width <= 0 || view.height <= 0)
        return false;
    int x0 = 0, y0 = 0, x1 = view.width, y1 = view.height;
    if (region) {
        const PixelRect rect = regionToPixelRect(*region, view.width, view.height);
        x0 = std::max(0, rect.x);
        y0 = std::max(0, rect.y);
        x1 = std::min(view.width, rect.x + rect.width);
        y1 = std::min(view.height, rect.y + rect.height);
    }
    Histogram bins[kHistogramCount];
    for (Histogram& h : bins)
        h.assign(kBins, 0.0);
    const int bytesPerPixel = view.bytesPerPixel >= 4 ? 4 : 3;
    const int red = view.hostOrder ? 2 : 0, blue = view.hostOrder ? 0 : 2;
    for (int y = y0; y < y1; ++y) {
        const uint8_t* p = view.data[0] + size_t(y) * view.rowBytes + size_t(x0) * bytesPerPixel;
        for (int x = x0; x < x1; ++x, p += bytesPerPixel) {
            const uint8_t r = p[red], g = p[1], b = p[blue];
            bins[0][r] += 1;
            bins[1][g] += 1;
            bins[2][b] += 1;
            bins[3][std::min(255, int(0.59 * g + 0.3 * r + 0.11 * b))] += 1;
        }
    }
    if (smoothing > 0) {
        double largest = 0;
        for (Histogram& h : bins) {
            h = convolve1D(h, kSmoothingKernel, kConvolveClamp);
            largest = std::max(largest, *std::max_element(h.begin(), h.end()));
        }
        const double scale = kHistogramTop / std::max(largest, 1.0);
        for (int c = 0; c < kHistogramCount; ++c)
            for (int i = 0; i < kBins; ++i)
                table1024[c * kBins + i] = scaledByte(bins[c][i], scale);
        return true;
    }
    const double colourLevel = std::min({peakLevel(bins[0]), peakLevel(bins[1]), peakLevel(bins[2])});
    const double lumaLevel = peakLevel(bins[3]);
    // An empty region has no peak: every byte stays 0.
    const double colourScale = colourLevel > 0 ? kHistogramTop / colourLevel : 0;
    const double lumaScale = lumaLevel > 0 ? kHistogramTop / lumaLevel : 0;
    for (int c = 0; c < kHistogramCount; ++c)
        for (int i = 0; i < kBins; ++i)
            table1024[c * kBins + i] = scaledByte(bins[c][i], c < 3 ? colourScale : lumaScale);
    return true;
}

// ---- Slots ----

std::vector<std::string> VXLPlatformWin::GetLutKeys() {
    return userLutKeys(&luts_);
}

int VXLPlatformWin::GetHistogram(uint8_t* table1024, const MaskTransform* region, bool unedited, int smoothing) {
    if (!table1024)
        return -1;
    // A render publishes into the result under the instance lock: reading under it too, the
    // histogram sees one whole result.
    std::lock_guard<std::recursive_mutex> instance(instanceMutex_);
    ImageView preview;
    GetImage(&preview, unedited, false);
    std::memset(table1024, 0, 1024);
    return histogramOfView(preview, region, smoothing, table1024) ? 0 : -1;
}

int VXLPlatformWin::GetImageInfo(bool* isRaw, std::string* camera, std::string* lens, int* width, int* height,
                                 int* iso, float* aperture, float* focalLength, float* exposureBias,
                                 float* shutterSpeed) {
    // The open image is a RAW file when the RAW engine developed it, whatever its metadata holds:
    // many RAW files name no lens.
    const bool rawFile = rawEngine_ != nullptr;
    if (isRaw)
        *isRaw = rawFile;
    if (camera)
        *camera = camera_;
    if (lens)
        *lens = lens_;
    const bool sizeKnown = sourceWidth_ > 0 && sourceHeight_ > 0;
    if (sizeKnown) {
        if (width)
            *width = sourceWidth_;
        if (height)
            *height = sourceHeight_;
    }
    if (iso)
        *iso = iso_;
    if (aperture)
        *aperture = aperture_;
    if (focalLength)
        *focalLength = focalLength_;
    if (exposureBias)
        *exposureBias = exposureBias_;
    if (shutterSpeed)
        *shutterSpeed = shutterSpeed_;
    return rawFile || sizeKnown ? 0 : -1;
}

namespace {

// Decodes the file's preview (longest side 1200) into a view whose pixels are a heap block.
bool decodeThumbnail(const char* path, bool hostOrder, ImageView* view) {
    DecodeRequest request;
    request.maxPreviewSide = kThumbnailPreviewSide;
    request.fullSize8 = false;
    DecodedImage image;
    if (decodeImageFile(path, request, &image, nullptr) != 0 || !image.preview.pixels)
        return false;
    const ImageBuffer& preview = image.preview;
    const size_t bytes = size_t(preview.rowBytes) * size_t(preview.height);
    uint8_t* copy = static_cast<uint8_t*>(std::malloc(bytes));
    if (!copy)
        return false;
    std::memcpy(copy, preview.pixels, bytes);
    *view = ImageView{};
    view->format = kImageFormat8;
    view->width = preview.width;
    view->height = preview.height;
    view->rowBytes = preview.rowBytes;
    view->bytesPerPixel = preview.channels;
    view->hasAlpha = preview.channels > 3;
    view->hostOrder = hostOrder;
    view->data[0] = copy;
    return true;
}

}  // namespace

int VXLPlatformWin::GetThumbnail(const char* path, int size, ImageView* view, int* decoded, void* librawModule) {
    if (!path || !view)
        return -1;
    const std::string extension = lowerExtension(path);
    bool made = false, fromDecoder = false;
    if (extension == ".jpg" || extension == ".jpeg")
        made = fromDecoder = decodeThumbnail(path, hostMode(), view);
    if (!made) {
        // A RAW file: the full development for large thumbnails, else its embedded bitmap thumbnail.
        // An embedded JPEG thumbnail answers false and the file goes to the decoder below.
        if (std::unique_ptr<VXLRawEngine> raw = openRawFile(path, librawModule)) {
            ImageView developed{};
            made = raw->develop(size > kRawThumbnailDevelopSide ? kRawDevelopFull : kRawDevelopThumbnail, size,
                                &developed, nullptr, nullptr) &&
                   developed.data[0];
            if (made)
                *view = developed;
            else
                releaseRawView(&developed);
        }
    }
    if (!made)
        made = fromDecoder = decodeThumbnail(path, hostMode(), view);
    if (!made)
        return -1;
    if (fromDecoder && decoded)
        *decoded = 1;
    std::lock_guard<std::mutex> lock(thumbnailMutex_);
    thumbnails_.push_back({view, view->data[0]});
    return 0;
}

int VXLPlatformWin::GetMaskOverlays(ImageView* overlayA, ImageView* overlayB, const CorrectionStack* stack,
                                    int layerB, int layerC, float aspect, int side, int sampling) {
    const MaskRasterizer rasterize = pipelineHooks().rasterizeMask;
    if (!overlayA || !overlayB || !stack)
        return -1;
    MaskOverlay a, b;
    if (renderMaskOverlays(&a, &b, *stack, layerB, layerC, aspect, side, sampling, rasterize) != 0)
        return -1;
    ImageView viewA, viewB;
    if (!handOutOverlay(a, &viewA))
        return -1;
    if (!handOutOverlay(b, &viewB)) {
        std::free(viewA.data[0]);
        return -1;
    }
    *overlayA = viewA;
    *overlayB = viewB;
    std::lock_guard<std::mutex> lock(thumbnailMutex_);
    thumbnails_.push_back({overlayA, overlayA->data[0]});
    thumbnails_.push_back({overlayB, overlayB->data[0]});
    return 0;
}

int VXLPlatformWin::FreeThumbnail(ImageView* view) {
    std::lock_guard<std::mutex> lock(thumbnailMutex_);
    for (auto it = thumbnails_.begin(); it != thumbnails_.end();) {
        if (it->view == view) {
            if (view->data[0] == it->block)
                view->data[0] = nullptr;
            std::free(it->block);
            it = thumbnails_.erase(it);
        } else {
            ++it;
        }
    }
    return 0;
}

int VXLPlatformWin::GetToneCurves(uint8_t* table1024, const VXLParams* params, int, int, int, int) {
    if (!table1024)
        return 0;
    const ToneCurve curve = params ? composeFinishingCurve(*params) : identityCurve();
    for (int quarter = 0; quarter < 4; ++quarter)
        std::memcpy(table1024 + quarter * kBins, curve.entry, kBins);
    return 0;
}

int VXLPlatformWin::GetFingerprint(std::string* fingerprint) {
    if (!fingerprint)
        return -1;
    workers_[kAnalysisWorker]->wait();
    if (!session_)
        return -1;
    fingerprint->append(session_->fingerprint);
    return 0;
}
