// Qt images to and from the run formats.
#include "tools/beautify/run_image.h"

#include <algorithm>

#include "facesdk/base/allocator.h"
#include "facesdk/base/fixed_scale.h"
#include "facesdk/base/integer_math.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/engine/params.h"

const RunFormatName kRunFormatNames[7] = {
    {"i444", kFormatYuv444Planar},  {"yuyv", kFormatYuv422Yuyv},
    {"uyvy", kFormatYuv422Uyvy},    {"i422", kFormatYuv422Planar},
    {"nv12", kFormatYuv420SemiPlanar}, {"nv21", kFormatYuv420SemiPlanarCrFirst},
    {"i420", kFormatYuv420Planar},
};

bool isRunFormat(PixelFormat format)
{
    for (const RunFormatName &entry : kRunFormatNames)
        if (entry.format == format)
            return true;
    return false;
}

PixelFormat parseRunFormat(const QString &text)
{
    for (const RunFormatName &entry : kRunFormatNames)
        if (text.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0)
            return entry.format;
    bool ok = false;
    const uint code = text.toUInt(&ok, 0);
    return ok && isRunFormat(code) ? code : 0;
}

QString runFormatName(PixelFormat format)
{
    for (const RunFormatName &entry : kRunFormatNames)
        if (entry.format == format)
            return QLatin1String(entry.name);
    return QStringLiteral("0x%1").arg(format, 8, 16, QLatin1Char('0'));
}

namespace {

// How one run format lays out its samples: chroma block size and where each sample lives.
struct Layout {
    int blockW;  // luma columns per chroma sample
    int blockH;  // luma rows per chroma sample
};

Layout layoutOf(PixelFormat format)
{
    switch (format) {
    case kFormatYuv444Planar:
        return {1, 1};
    case kFormatYuv420SemiPlanar:
    case kFormatYuv420SemiPlanarCrFirst:
    case kFormatYuv420Planar:
        return {2, 2};
    default:
        return {2, 1};
    }
}

uint8_t *at(const EngineImage &image, int plane, int x, int y)
{
    return image.planes[plane].pixels + int64_t(y) * image.planes[plane].stride + x;
}

// Where the luma of pixel (x, y) and the chroma of block (bx, by) are stored.
uint8_t *lumaAt(const EngineImage &image, int x, int y)
{
    switch (image.format) {
    case kFormatYuv422Yuyv:
        return at(image, 0, 2 * x, y);
    case kFormatYuv422Uyvy:
        return at(image, 0, 2 * x + 1, y);
    default:
        return at(image, 0, x, y);
    }
}

void chromaAt(const EngineImage &image, int bx, int by, uint8_t **cb, uint8_t **cr)
{
    switch (image.format) {
    case kFormatYuv422Yuyv:
        *cb = at(image, 0, 4 * bx + 1, by);
        *cr = at(image, 0, 4 * bx + 3, by);
        return;
    case kFormatYuv422Uyvy:
        *cb = at(image, 0, 4 * bx, by);
        *cr = at(image, 0, 4 * bx + 2, by);
        return;
    case kFormatYuv420SemiPlanar:
        *cb = at(image, 1, 2 * bx, by);
        *cr = at(image, 1, 2 * bx + 1, by);
        return;
    case kFormatYuv420SemiPlanarCrFirst:
        *cr = at(image, 1, 2 * bx, by);
        *cb = at(image, 1, 2 * bx + 1, by);
        return;
    default:
        *cb = at(image, 1, bx, by);
        *cr = at(image, 2, bx, by);
        return;
    }
}

}  // namespace

RunImage::~RunImage()
{
    imageRelease(defaultAllocator(), &image_);
}

bool RunImage::assign(const QImage &picture, PixelFormat format, QString *error)
{
    imageRelease(defaultAllocator(), &image_);
    if (picture.isNull()) {
        *error = QStringLiteral("the picture is empty");
        return false;
    }
    if (!isRunFormat(format)) {
        *error = QStringLiteral("0x%1 is not a format the beautify run accepts").arg(format, 0, 16);
        return false;
    }
    const Layout layout = layoutOf(format);
    // Subsampled formats need whole chroma blocks: an odd last column or row is dropped.
    const int width = picture.width() - picture.width() % layout.blockW;
    const int height = picture.height() - picture.height() % layout.blockH;
    const int result = imageAllocate(defaultAllocator(), &image_, width, height, format);
    if (result != kResultOk) {
        *error = QStringLiteral("cannot make a %1 x %2 image (%3)").arg(width).arg(height).arg(result);
        return false;
    }
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    for (int by = 0; by < height / layout.blockH; ++by)
        for (int bx = 0; bx < width / layout.blockW; ++bx) {
            int32_t cbSum = 0;
            int32_t crSum = 0;
            for (int dy = 0; dy < layout.blockH; ++dy) {
                const uchar *row = rgb.constScanLine(by * layout.blockH + dy);
                for (int dx = 0; dx < layout.blockW; ++dx) {
                    const int x = bx * layout.blockW + dx;
                    const YCbCr yuv = rgbToYCbCr({row[3 * x], row[3 * x + 1], row[3 * x + 2]});
                    *lumaAt(image_, x, by * layout.blockH + dy) = yuv.y;
                    cbSum += yuv.cb;
                    crSum += yuv.cr;
                }
            }
            const int32_t samples = layout.blockW * layout.blockH;
            uint8_t *cb = nullptr;
            uint8_t *cr = nullptr;
            chromaAt(image_, bx, by, &cb, &cr);
            *cb = uint8_t((cbSum + samples / 2) / samples);
            *cr = uint8_t((crSum + samples / 2) / samples);
        }
    return true;
}

QImage RunImage::toQImage() const
{
    if (!image_.planes[0].pixels)
        return QImage();
    const Layout layout = layoutOf(image_.format);
    QImage picture(image_.width, image_.height, QImage::Format_RGB888);
    for (int y = 0; y < image_.height; ++y) {
        uchar *row = picture.scanLine(y);
        for (int x = 0; x < image_.width; ++x) {
            uint8_t *cbByte = nullptr;
            uint8_t *crByte = nullptr;
            chromaAt(image_, x / layout.blockW, y / layout.blockH, &cbByte, &crByte);
            const int32_t luma = *lumaAt(image_, x, y);
            const int32_t cb = *cbByte - 128;
            const int32_t cr = *crByte - 128;
            // 1.402, 0.344136, 0.714136 and 1.772 in 16.16.
            row[3 * x] = clampByte(luma + roundQ16(91881 * cr));
            row[3 * x + 1] = clampByte(luma - roundQ16(22554 * cb + 46802 * cr));
            row[3 * x + 2] = clampByte(luma + roundQ16(116130 * cb));
        }
    }
    return picture;
}
