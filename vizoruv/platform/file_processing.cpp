// File processing (slot 7): decode a file into a buffer of its own, analyse and correct it, turn,
// straighten and crop it, stamp the overlay, size and sharpen it, and encode it with the source's
// metadata. Divisions: geometry helpers; overlay and scaling; engine helpers; ProcessFile.
#include "vizoruv/platform/file_processing.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <vector>

#include "vizoruv/adjust/adjustment_set.h"
#include "vizoruv/adjust/background_mask.h"
#include "vizoruv/adjust/engine_params.h"
#include "vizoruv/io/image_decoder.h"
#include "vizoruv/io/image_encoder.h"
#include "vizoruv/io/image_geometry.h"
#include "vizoruv/platform/correction_pipeline.h"
#include "vizoruv/platform/engine_session.h"
#include "vizoruv/platform/image_buffers.h"
#include "vizoruv/platform/raw_open.h"
#include "vizoruv/platform/vxl_platform_win.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kDefaultQuality = 0.93f;
constexpr int kFileProcessingPreviewSide = 1200;
constexpr int kFullOpacity = 100;

// A 2 x 2 matrix of whole numbers, applied to row vectors (x, y) and composed in append order.
struct Matrix {
    int m11, m12, m21, m22;
    Matrix then(const Matrix& n) const {
        return {m11 * n.m11 + m12 * n.m21, m11 * n.m12 + m12 * n.m22, m21 * n.m11 + m22 * n.m21,
                m21 * n.m12 + m22 * n.m22};
    }
    Matrix inverse() const { return {m11, m21, m12, m22}; }  // orthogonal: the transpose
    bool identity() const { return m11 == 1 && m12 == 0 && m21 == 0 && m22 == 1; }
};

constexpr Matrix kIdentity{1, 0, 0, 1};
constexpr Matrix kQuarterTurn{0, 1, -1, 0};  // a quarter turn clockwise
constexpr Matrix kFlipH{-1, 0, 0, 1};
constexpr Matrix kFlipV{1, 0, 0, -1};

Matrix orientationMatrix(int code) {
    const Matrix half = kQuarterTurn.then(kQuarterTurn);
    const Matrix threeQuarters = half.then(kQuarterTurn);
    switch (std::abs(code)) {
    case 2: return kFlipH;
    case 3: return half;
    case 4: return kFlipV;
    case 5: return kQuarterTurn.then(kFlipH);
    case 6: return kQuarterTurn;
    case 7: return threeQuarters.then(kFlipH);
    case 8: return threeQuarters;
    default: return kIdentity;
    }
}

int sourceIndex(int along, int across, int forAlong, int forAcross, int sizeAlong, int sizeAcross) {
    // One of forAlong, forAcross is non-zero: the source coordinate follows that output axis.
    if (forAlong)
        return forAlong > 0 ? along : sizeAlong - 1 - along;
    return forAcross > 0 ? across : sizeAcross - 1 - across;
}

// Where a point of the old picture lands in the new one (continuous coordinates).
void mapPoint(const Matrix& m, int newWidth, int newHeight, float sx, float sy, float* ox, float* oy) {
    if (m.m11 != 0) {
        *ox = m.m11 > 0 ? sx : newWidth - sx;
        *oy = m.m22 > 0 ? sy : newHeight - sy;
    } else {
        *oy = m.m12 > 0 ? sx : newHeight - sx;
        *ox = m.m21 > 0 ? sy : newWidth - sy;
    }
}

int pixelBytes(const ImageBuffer& buffer) {
    return buffer.channels * (buffer.bitsPerChannel == 16 ? 2 : 1);
}

// Bilinear sample of channel c at (x, y) in a picture of w x h; outside it the sample is 0.
double sampleBilinear(const uint8_t* pixels, int rowBytes, int w, int h, int pixel, bool sixteen, int c, double x,
                      double y) {
    const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    const double fx = x - x0, fy = y - y0;
    double value = 0;
    for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) {
            const int px = x0 + dx, py = y0 + dy;
            if (px < 0 || py < 0 || px >= w || py >= h)
                continue;
            const uint8_t* p = pixels + size_t(py) * rowBytes + size_t(px) * pixel;
            double sample;
            if (sixteen) {
                uint16_t s;
                std::memcpy(&s, p + 2 * c, 2);
                sample = s;
            } else {
                sample = p[c];
            }
            value += sample * (dx ? fx : 1 - fx) * (dy ? fy : 1 - fy);
        }
    return value;
}

// The part of the rectangle that lies on a picture of width x height; no width or height when none.
CropRect insidePicture(const CropRect& rect, int width, int height) {
    const float left = std::max(rect.x, 0.0f), top = std::max(rect.y, 0.0f);
    const float right = std::min(rect.x + rect.width, float(width));
    const float bottom = std::min(rect.y + rect.height, float(height));
    return {left, top, std::max(right - left, 0.0f), std::max(bottom - top, 0.0f)};
}

void storeSample(uint8_t* p, bool sixteen, int c, double value) {
    if (sixteen) {
        const uint16_t s = uint16_t(std::clamp(std::lround(value), 0L, 65535L));
        std::memcpy(p + 2 * c, &s, 2);
    } else {
        p[c] = uint8_t(std::clamp(std::lround(value), 0L, 255L));
    }
}

}  // namespace

// ---- Geometry helpers ----

int quarterTurns(const MaskTransform& transform) {
    int angle = int(transform.angle);
    while (angle < 0)
        angle += 360;
    while (angle > 360)
        angle -= 360;
    return angle / 90;
}

float straighteningAngle(const MaskTransform& transform) {
    float degrees;
    std::memcpy(&degrees, &transform.spare, sizeof degrees);
    return std::isfinite(degrees) ? degrees : 0.0f;
}

void setStraighteningAngle(MaskTransform* transform, float degrees) {
    std::memcpy(&transform->spare, &degrees, sizeof degrees);
}

bool applyOrientation(int code, const MaskTransform* transform, ImageBuffer* buffer, CropRect* rect) {
    Matrix m = orientationMatrix(code);
    if (code < 0)
        m = m.inverse();
    if (transform) {
        if (transform->flipX)
            m = m.then(kFlipH);
        if (transform->flipY)
            m = m.then(kFlipV);
        for (int q = quarterTurns(*transform); q > 0; --q)
            m = m.then(kQuarterTurn);
    }
    const bool swap = m.m11 == 0;
    const int width = buffer->width, height = buffer->height;
    const int newWidth = swap ? height : width, newHeight = swap ? width : height;
    if (rect) {
        float x0, y0, x1, y1;
        mapPoint(m, newWidth, newHeight, rect->x, rect->y, &x0, &y0);
        mapPoint(m, newWidth, newHeight, rect->x + rect->width, rect->y + rect->height, &x1, &y1);
        *rect = {std::max(0.0f, std::min(x0, x1)), std::max(0.0f, std::min(y0, y1)), std::fabs(x1 - x0),
                 std::fabs(y1 - y0)};
    }
    if (m.identity())
        return true;
    if (!buffer->pixels || width <= 0 || height <= 0)
        return false;
    const int pixel = pixelBytes(*buffer);
    const int bits = pixel * 8;
    const int64_t newRowBytes = ((int64_t(newWidth) * bits + 31) / 32) * 4;
    if (int64_t(buffer->size) < newRowBytes * newHeight)
        return false;
    std::vector<uint8_t> old(buffer->pixels, buffer->pixels + size_t(buffer->rowBytes) * height);
    const int oldRowBytes = buffer->rowBytes;
    for (int i = 0; i < newHeight; ++i) {
        uint8_t* out = buffer->pixels + size_t(i) * newRowBytes;
        for (int j = 0; j < newWidth; ++j) {
            const int column = sourceIndex(j, i, m.m11, m.m12, newWidth, newHeight);
            const int row = sourceIndex(j, i, m.m21, m.m22, newWidth, newHeight);
            std::memcpy(out + size_t(j) * pixel, &old[size_t(row) * oldRowBytes + size_t(column) * pixel], pixel);
        }
    }
    buffer->width = newWidth;
    buffer->height = newHeight;
    buffer->rowBytes = int32_t(newRowBytes);
    return true;
}

CropRect cropRectFromTransform(const MaskTransform& t, float a, float b, float k) {
    const int q = quarterTurns(t);
    const bool odd = q % 2 == 1;
    float width = t.scaleX * a * k, height = t.scaleY * b * k;
    if (odd)
        std::swap(width, height);
    float dx = (t.centerX - 0.5f) * a * k, dy = (t.centerY - 0.5f) * b * k;
    switch (q % 4) {
    case 1: std::tie(dx, dy) = std::make_pair(-dy, dx); break;
    case 2: std::tie(dx, dy) = std::make_pair(-dx, -dy); break;
    case 3: std::tie(dx, dy) = std::make_pair(dy, -dx); break;
    default: break;
    }
    const float f = odd ? b : a, g = odd ? a : b;
    return {f * k * 0.5f + dx - width * 0.5f, g * k * 0.5f + dy - height * 0.5f, width, height};
}

float straightenFitScale(const MaskTransform& t, float r) {
    const double theta = straighteningAngle(t) * kPi / 180.0;
    const double c = std::fabs(std::cos(theta)), s = std::fabs(std::sin(theta));
    const double cropWidth = double(r) * t.scaleX, cropHeight = t.scaleY;
    const double rotatedWidth = c * cropWidth + s * cropHeight;
    const double rotatedHeight = c * cropHeight + s * cropWidth;
    const double vertical = std::min(2.0 * t.centerY, 2.0 * (1.0 - t.centerY)) / rotatedHeight;
    const double horizontal = std::min(2.0 * r * t.centerX, 2.0 * (r - r * t.centerX)) / rotatedWidth;
    return float(std::min({vertical, horizontal, 1.0}));
}

bool rotateByAngle(const MaskTransform& t, ImageBuffer* buffer) {
    const float angle = straighteningAngle(t);
    if (angle == 0 || !buffer->pixels || buffer->width <= 0 || buffer->height <= 0)
        return true;
    const int w = buffer->width, h = buffer->height, pixel = pixelBytes(*buffer);
    const bool sixteen = buffer->bitsPerChannel == 16;
    const int samples = buffer->channels;
    std::vector<uint8_t> old(buffer->pixels, buffer->pixels + size_t(buffer->rowBytes) * h);
    const double theta = angle * kPi / 180.0, cs = std::cos(theta), sn = std::sin(theta);
    const double cx = w * double(t.centerX), cy = h * double(t.centerY);
    for (int y = 0; y < h; ++y) {
        uint8_t* out = buffer->pixels + size_t(y) * buffer->rowBytes;
        for (int x = 0; x < w; ++x) {
            // Positive angles turn clockwise on screen: read from the point turned back.
            const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
            const double sx = cx + dx * cs + dy * sn - 0.5, sy = cy - dx * sn + dy * cs - 0.5;
            for (int c = 0; c < samples; ++c)
                storeSample(out + size_t(x) * pixel, sixteen, c,
                            sampleBilinear(old.data(), buffer->rowBytes, w, h, pixel, sixteen, c, sx, sy));
        }
    }
    return true;
}

// ---- Overlay and scaling ----

ImageView scaleImageView(const ImageView& view, int width) {
    ImageView scaled = view;
    scaled.data[0] = scaled.data[1] = scaled.data[2] = nullptr;
    if (!view.data[0] || view.width <= 0 || view.height <= 0 || width < 1)
        return scaled;
    const bool sixteen = view.format == kImageFormat16;
    const int samples = view.hasAlpha ? 4 : 3;
    const int sampleBytes = sixteen ? 2 : 1;
    const int pixel = samples * sampleBytes;
    const int height = std::max(1, int(float(width) / view.width * view.height));
    const int rowBytes = ((width * pixel * 8 + 31) / 32) * 4;
    uint8_t* block = static_cast<uint8_t*>(std::calloc(size_t(rowBytes) * height, 1));
    if (!block)
        return scaled;
    const double fx = double(view.width) / width, fy = double(view.height) / height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double sx = std::min((x + 0.5) * fx - 0.5, view.width - 1.0);
            const double sy = std::min((y + 0.5) * fy - 0.5, view.height - 1.0);
            for (int c = 0; c < samples; ++c)
                storeSample(block + size_t(y) * rowBytes + size_t(x) * pixel, sixteen, c,
                            sampleBilinear(view.data[0], view.rowBytes, view.width, view.height, view.bytesPerPixel,
                                           sixteen, c, std::max(0.0, sx), std::max(0.0, sy)));
        }
    scaled.width = width;
    scaled.height = height;
    scaled.rowBytes = rowBytes;
    scaled.bytesPerPixel = pixel;
    for (int c = 0; c < 3; ++c)
        scaled.data[c] = block + c * sampleBytes;
    return scaled;
}

void stampOverlay(const ImageView* overlay, ImageBuffer* buffer, int x, int y, int w, int h) {
    if (!overlay || !overlay->hasAlpha || !overlay->data[0] || overlay->width <= 0 || overlay->height <= 0)
        return;
    if (!buffer->pixels || w <= 0 || h <= 0 || int64_t(buffer->width) * buffer->height < int64_t(w) * h)
        return;
    const bool wider = int64_t(overlay->width) * h > int64_t(w) * overlay->height;
    const int targetWidth = wider ? w / 3 : int(int64_t(h) * overlay->width / (int64_t(overlay->height) * 3));
    ImageView scaled = scaleImageView(*overlay, targetWidth);
    if (!scaled.data[0])
        return;
    const bool sixteen = buffer->bitsPerChannel == 16;
    const int pixel = pixelBytes(*buffer);
    const int left = x + w - scaled.width, top = y + h - scaled.height;
    for (int row = 0; row < scaled.height; ++row) {
        const int by = top + row;
        if (by < 0 || by >= buffer->height)
            continue;
        const uint8_t* o = scaled.data[0] + size_t(row) * scaled.rowBytes;
        uint8_t* p = buffer->pixels + size_t(by) * buffer->rowBytes;
        for (int column = 0; column < scaled.width; ++column) {
            const int bx = left + column;
            if (bx < 0 || bx >= buffer->width)
                continue;
            const uint8_t* op = o + size_t(column) * scaled.bytesPerPixel;
            uint8_t* bp = p + size_t(bx) * pixel;
            const int a = op[3] * 100 / 255;
            for (int c = 0; c < 3; ++c) {
                if (sixteen) {
                    uint16_t v;
                    std::memcpy(&v, bp + 2 * c, 2);
                    v = uint16_t(((100 - a) * int64_t(v) + int64_t(a) * op[c] * 256) / 100);
                    std::memcpy(bp + 2 * c, &v, 2);
                } else {
                    bp[c] = uint8_t((a * op[c] + (100 - a) * bp[c]) / 100);
                }
            }
        }
    }
    std::free(scaled.data[0]);
}

std::string outputTypeOfPath(const std::string& path) {
    const std::string extension = lowerExtension(path);
    if (extension == ".tif" || extension == ".tiff")
        return "image/tiff";
    if (extension == ".png")
        return "image/png";
    if (extension == ".psd")
        return "image/photoshop";
    if (extension == ".bmp")
        return "image/bmp";
    return "image/jpeg";
}

bool outputSize(const OutputSettings& settings, float* width, float* height, float* quality) {
    const bool qualityInRange = settings.quality >= 0.1f && settings.quality <= 1.0f;
    *quality = qualityInRange ? settings.quality : kDefaultQuality;
    if (!settings.resizeOn || settings.sizeMode < 0)
        return false;
    float w = *width, h = *height;
    const float ratio = h > 0 ? w / h : 1.0f;
    auto budget = [&](double pixels) {
        if (double(w) * h > pixels) {
            h = float(std::sqrt(pixels / ratio));
            w = h * ratio;
        }
    };
    auto longest = [&](float limit) {
        if (ratio > 1) {
            if (w > limit) {
                w = limit;
                h = limit / ratio;
            }
        } else if (h > limit) {
            h = limit;
            w = limit * ratio;
        }
    };
    switch (settings.sizeMode) {
    case 0: budget(10e6); break;
    case 1: budget(5e6); break;
    case 2: budget(2e6); break;
    case 3: budget(1e6); break;
    case 12: budget(24e6); break;
    case 13: budget(12e6); break;
    case 14: budget(6e6); break;
    case 15: budget(2e6); break;
    case 4:
        longest(2048);
        if (!qualityInRange)
            *quality = 0.85f;
        break;
    case 5:
        longest(1024);
        if (!qualityInRange)
            *quality = 0.8f;
        break;
    case 8: w /= 2; h /= 2; break;
    case 9: w /= 4; h /= 4; break;
    case 10:
        if (h > settings.targetHeight && settings.targetHeight > 0) {
            w = w * settings.targetHeight / h;
            h = float(settings.targetHeight);
        }
        break;
    case 11:
        if (w > settings.targetWidth && settings.targetWidth > 0) {
            h = h * settings.targetWidth / w;
            w = float(settings.targetWidth);
        }
        break;
    default: break;
    }
    w = std::trunc(w);
    h = std::trunc(h);
    const bool changed = w != std::trunc(*width) || h != std::trunc(*height);
    *width = w;
    *height = h;
    return changed;
}

// ---- Engine helpers ----

namespace {

int32_t engineCode(const ImageBuffer& buffer, bool bgrOrder) {
    return enginePixelCode(buffer.bitsPerChannel == 16, buffer.channels > 3, bgrOrder);
}

bool sharpenBuffer(const EngineEntryPoints& engine, ImageBuffer* buffer, bool automatic, int strength,
                   bool bgrOrder) {
    const VxlEngineImage image{buffer->width, buffer->height, buffer->rowBytes, engineCode(*buffer, bgrOrder),
                               buffer->pixels};
    return sharpen(EngineCalls{&engine, nullptr, false}, image, true, automatic, strength, 1.0f, 0);
}

// Crops (mode 6) or fits (mode 7) the rectangle's region into a square of the given side through the
// engine; on success the buffer holds the result alone.
bool cropToSquare(const EngineEntryPoints& engine, ImageBuffer* buffer, const CropRect& rect, int side, bool crop,
                  bool bgrOrder) {
    if (!engine.VXL_Sharpen || !engine.VXL_Resize || !engine.VXL_CropToFill || !engine.VXL_CalcAutoSharpness)
        return false;
    const int x = std::max(0, int(rect.x)), y = std::max(0, int(rect.y));
    const int w = std::min(int(rect.width), buffer->width - x), h = std::min(int(rect.height), buffer->height - y);
    if (w <= 0 || h <= 0 || side <= 0)
        return false;
    const int pixel = pixelBytes(*buffer);
    VxlEngineImage source{w, h, buffer->rowBytes, engineCode(*buffer, bgrOrder),
                          buffer->pixels + size_t(y) * buffer->rowBytes + size_t(x) * pixel};
    int32_t targetWidth = side, targetHeight = side;
    VxlEngineImage region = source;
    if (crop) {
        if (engine.VXL_CropToFill(&source, &region, &targetWidth, &targetHeight) != VXL_OK)
            return false;
    } else {
        const float e = float(w) / h;
        float f = float(targetWidth) / targetHeight;
        if ((e < 1 && f > 1) || (e > 1 && f < 1))
            f = 1 / f;
        if (f > e)
            targetWidth = int32_t(targetHeight * e);
        else
            targetHeight = int32_t(targetWidth / e);
    }
    if (targetWidth <= 0 || targetHeight <= 0)
        return false;
    ImageBuffer result;
    result.bitsPerChannel = buffer->bitsPerChannel;
    result.channels = buffer->channels;
    result.width = targetWidth;
    result.height = targetHeight;
    result.rowBytes = targetWidth * pixel;
    if (!allocateBufferPixels(&result, size_t(result.rowBytes) * targetHeight))
        return false;
    const VxlEngineImage target{targetWidth, targetHeight, result.rowBytes, source.format, result.pixels};
    if (engine.VXL_Resize(&region, &target) != VXL_OK) {
        freeImageBuffer(&result);
        return false;
    }
    freeImageBuffer(buffer);
    *buffer = result;
    return true;
}

}  // namespace

// ---- ProcessFile ----

int VXLPlatformWin::ProcessFile(const char* inputPath, const char* outputPath, const CorrectionStack* stack,
                                void* reserved, const OutputSettings* settings, const MaskTransform* transform,
                                int keepUpright, const char* software, const ImageView* overlay,
                                VxlProgressCallback progress, void* progressData, void* reserved2, void* reserved3,
                                void* librawModule, const VXLRAWParams* rawParams, VXLDetector* detector,
                                void* reserved4) {
    if (!stack || !inputPath || !outputPath || !settings || stack->count < 1)
        return -1;
    AdjustmentSet set;
    createAdjustmentSet(&set, kLayersPerSet);
    updateFromStack(&set, *stack);

    const std::string mimeType = outputTypeOfPath(outputPath);
    const bool depthChoice = mimeType == "image/tiff" || mimeType == "image/png";
    DecodeRequest request;
    request.maxPreviewSide = kFileProcessingPreviewSide;
    request.fullSize8 = true;
    request.roomForRotation = true;
    request.sixteenBit = depthChoice && settings->bitDepth != 0;
    DecodedImage decoded;
    std::unique_ptr<VXLRawEngine> raw = openRawFile(inputPath, librawModule);
    if (raw) {
        RawDevelopRequest develop;
        develop.params = rawParams;
        develop.platform = this;
        develop.roomForRotation = true;
        if (developRawImage(raw.get(), develop, &decoded) != 0)
            return -1;
    } else if (decodeImageFile(inputPath, request, &decoded, nullptr) != 0) {
        return -1;
    }
    if (!decoded.fullSize.pixels || !decoded.preview.pixels)
        return -1;
    // bitDepth 1 asks 16 bits; other values except 0 keep the file's depth.
    const bool sixteen = decoded.sixteenBit.pixels &&
                         (settings->bitDepth == 1 || decoded.bitsPerChannel == 16);

    // The analysis runs on the 8-bit images in a session of this call's own.
    EngineSession session(this);
    {
        const ImageView full = viewOfImageBuffer(decoded.fullSize, false);
        const ImageView preview = viewOfImageBuffer(decoded.preview, false);
        AnalysisRequest analysis;
        const bool engineLoaded = libraries_.loaded(ModuleLibrary::Engine);
        analysis.engineAnalysis = needsEngineWork(set) && engineLoaded;
        analysis.noiseDetection = needsNoiseRemoval(set) && engineLoaded;
        analysis.redEyeDetection = needsRedEye(set) && libraries_.loaded(ModuleLibrary::RedEye);
        analysis.faceDetection = needsFaceWork(set);
        analysis.extra = settings->analysisValue;
        analysis.callerFaces = set.faces.get();
        analysis.callerFaceCount = set.faceCount;
        analysis.detector = detector;
        const ImageFacts& facts = decoded.facts;
        const int answer = analyseImage(&session, full, preview, ImageView{}, facts.iso, facts.camera,
                                        facts.flashNotFired, nullptr, analysis);
        if (answer == kAnalysisBadFormat || answer == kAnalysisTooSmall)
            return answer;
    }
    const AdjustmentLayer* first = set.layers.empty() ? nullptr : &set.layers[0];

    // The background masks come from this file's own unedited pixels: the platform's cache and image
    // facts belong to the open image, which may be another picture or none at all.
    BackgroundMaskCache backgroundMasks;
    createBackgroundMaskCache(&backgroundMasks, nullptr, {engine().VXL_FillBGMask, engineHandle(), session.profile});
    if (first && first->bgmOn) {
        VXLParams block{};
        exportLayerToParams(*first, &block);
        const ImageBuffer& full = decoded.fullSize;
        fillBackgroundMask(&backgroundMasks, block, full.pixels, full.width, full.height, full.rowBytes, false, false,
                           full.channels > 3);
    }

    ImageBuffer working = takeImageBuffer(sixteen ? &decoded.sixteenBit : &decoded.fullSize);
    ImageBuffer unedited;  // for the opacity blend, which the render's own pixels cannot serve
    struct BufferGuard {
        ImageBuffer* buffers[2];
        ~BufferGuard() {
            for (ImageBuffer* buffer : buffers)
                freeImageBuffer(buffer);
        }
    } guard{{&working, &unedited}};
    if (first && first->vexoOpacity < kFullOpacity && !copyImageBuffer(&unedited, working))
        return -1;

    // Correct.
    const int total = passCount(set) * kStepsPerPass;
    int step = 0;
    PipelineRun run;
    run.set = &set;
    run.session = &session;
    run.iso = decoded.facts.iso;
    run.camera = decoded.facts.camera;
    CorrectionReport report{};
    run.report = &report;
    run.source = unedited.pixels ? &unedited : nullptr;
    run.reportsProgress = progress != nullptr;  // the caller's callback is asked, and may cancel
    run.step = &step;
    run.total = total;
    run.progress = progress;
    run.progressData = progressData;
    run.platform = this;
    run.backgroundCache = &backgroundMasks;
    if (progress && progress(0, total, progressData) != 0)
        return -1;
    step = 2;
    if (!runPipeline(viewOfImageBuffer(working, false), run))
        return -1;
    if (progress)
        progress(total, total, progressData);

    // Geometry.
    const MaskTransform t = transform ? *transform : defaultMaskTransform();
    const int turns = quarterTurns(t);
    applyOrientation(1, &t, &working, nullptr);
    const float a = turns % 2 ? working.height : working.width;
    const float b = turns % 2 ? working.width : working.height;
    CropRect rect = cropRectFromTransform(t, a, b, 1);
    if (straighteningAngle(t) != 0) {
        const float w = working.width, h = working.height;
        MaskTransform s = defaultMaskTransform();
        s.centerX = (rect.width * 0.5f + rect.x) / w;
        s.centerY = (rect.height * 0.5f + rect.y) / h;
        s.scaleX = rect.width / w;
        s.scaleY = rect.height / h;
        setStraighteningAngle(&s, straighteningAngle(t));
        const float k = straightenFitScale(s, w / h);
        s.scaleX *= k;
        s.scaleY *= k;
        rotateByAngle(s, &working);
        rect = cropRectFromTransform(s, w, h, 1);
    }
    // A crop reaching past the picture's edges takes the part on the picture.
    rect = insidePicture(rect, working.width, working.height);
    if (rect.width < 1 || rect.height < 1)
        return -1;
    const int orientation = decoded.facts.orientation;
    if (!keepUpright && orientation != 1)
        applyOrientation(-orientation, nullptr, &working, &rect);
    stampOverlay(overlay, &working, int(rect.x), int(rect.y), int(rect.width), int(rect.height));

    // Output size.
    float outputWidth = rect.width, outputHeight = rect.height, quality = kDefaultQuality;
    bool resized = false;
    if (settings->resizeOn && (settings->sizeMode == 6 || settings->sizeMode == 7)) {
        outputSize(*settings, &outputWidth, &outputHeight, &quality);
        if (cropToSquare(engine(), &working, rect, settings->targetWidth, settings->sizeMode == 6, false)) {
            rect = {0, 0, float(working.width), float(working.height)};
            outputWidth = rect.width;
            outputHeight = rect.height;
        }
    } else {
        resized = outputSize(*settings, &outputWidth, &outputHeight, &quality);
    }
    if (!working.pixels)
        return -1;
    if (settings->sharpenOn &&
        !sharpenBuffer(engine(), &working, settings->autoSharpen != 0, settings->sharpenAmount, false))
        return -1;

    EncodeRequest encode;
    encode.height = int32_t(rect.height);
    encode.width = int32_t(rect.width);
    encode.sourcePath = inputPath;
    encode.outputPath = outputPath;
    encode.mimeType = mimeType;
    encode.quality = quality;
    encode.buffer = &working;
    encode.cropX = rect.x;
    encode.cropY = rect.y;
    encode.resize = resized;
    encode.outputWidth = outputWidth;
    encode.outputHeight = outputHeight;
    encode.orientationApplied = keepUpright != 0;
    encode.tempFolder = folder3_;
    encode.software = software ? software : "";
    encode.settings = *settings;
    encode.binDir = binDir_;
    encode.rawEngine = raw.get();
    encode.proPhoto = &proPhotoProfile_;
    encode.adobe = &adobeProfile_;
    encode.orientation = orientation;
    encode.adobeRgbMark = decoded.facts.adobeRgbMark;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int answer = encodeImage(encode);
        if (answer == kEncodeWritten)
            return 0;
        if (answer == kEncodeFailedWithMetadata && encode.carryMetadata)
            encode.carryMetadata = false;
        else if (answer == kEncodeSourceProfileUnusable && encode.settings.profileMode > 2)
            encode.settings.profileMode = kProfileModeSrgb;
        else
            break;
    }
    return -1;
}
