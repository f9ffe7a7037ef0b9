// The platform's side of a plug-in host's filter record (see host_filter_record.h).
//
// Divided into: host memory, reading the host's image, writing the result, conversions and
// geometry, the display copy.
#include "vizoruv/io/host_filter_record.h"

#include "vizoruv/io/image_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

bool wideCoordinatesInUse(const HostFilterRecord* record)
{
    return record->largeDocument && record->largeDocument->wideCoordinates != 0;
}

int32_t areaWidth(const HostArea& area)
{
    return area.right - area.left;
}

int32_t areaHeight(const HostArea& area)
{
    return area.bottom - area.top;
}

// The filter area becomes the input, output and mask areas.
void requestFilterArea(HostFilterRecord* record)
{
    const HostArea filter = getFilterRect(record);
    setInRect(record, filter);
    setOutRect(record, filter);
    setMaskRect(record, filter);
}

bool advance(HostFilterRecord* record)
{
    return record->advanceState && record->advanceState() == 0;
}

// What the host says it handed over for one area after advance-state: data, an area of at least
// rows x columns, and rows far enough apart for columns pixels of pixelBytes each. A host that
// reports less is refused, so the platform never reads or writes past what the host gave.
bool hostAreaHolds(const HostArea& given, const void* data, int32_t rowBytes, int32_t columns, int32_t rows,
                   int64_t pixelBytes)
{
    return data && areaWidth(given) >= columns && areaHeight(given) >= rows &&
           int64_t(rowBytes) >= int64_t(columns) * pixelBytes;
}

uint16_t read16(const uint8_t* at)
{
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

void write16(uint8_t* at, uint16_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

// A platform 16-bit sample in the host's range.
uint16_t toHost16(uint16_t value)
{
    return value == 65535 ? kHostMax16 : static_cast<uint16_t>(value / 2);
}

// One host sample as a byte of the 24-bit copy.
uint8_t hostSampleToByte(int32_t depth, const uint8_t* sample)
{
    if (depth == 16)
        return static_cast<uint8_t>(std::min(255u, 2u * read16(sample) / 257u));
    float value;
    std::memcpy(&value, sample, sizeof value);
    if (!(value > 0.0f)) // also NaN
        return 0;
    return static_cast<uint8_t>(std::min(value, 1.0f) * 255.0f);
}

} // namespace

// ---- host memory ----

uint8_t* hostAllocateBlock(const HostFilterRecord* record, int64_t length, uint64_t* bufferId)
{
    *bufferId = 0;
    const HostBufferProcs* procs = record ? record->bufferProcs : nullptr;
    if (!procs || !procs->allocate || !procs->lock || length <= 0 || length > std::numeric_limits<int32_t>::max())
        return nullptr;
    uint64_t id = 0;
    if (procs->allocate(static_cast<int32_t>(length), &id) != 0 || id == 0)
        return nullptr;
    auto* address = static_cast<uint8_t*>(procs->lock(id, 1));
    if (!address) {
        if (procs->free)
            procs->free(id);
        return nullptr;
    }
    *bufferId = id;
    return address;
}

void hostFreeBlock(const HostFilterRecord* record, uint64_t bufferId)
{
    const HostBufferProcs* procs = record ? record->bufferProcs : nullptr;
    if (!procs || bufferId == 0)
        return;
    if (procs->unlock)
        procs->unlock(bufferId);
    if (procs->free)
        procs->free(bufferId);
}

bool allocateHostBufferPixels(const HostFilterRecord* record, ImageBuffer* buffer, int64_t length)
{
    freeImageBuffer(buffer);
    freeHostBufferPixels(record, buffer);
    uint64_t id = 0;
    uint8_t* pixels = hostAllocateBlock(record, length, &id);
    if (!pixels)
        return false;
    buffer->hostBufferId = id;
    buffer->pixels = pixels;
    buffer->size = static_cast<int32_t>(length);
    return true;
}

void freeHostBufferPixels(const HostFilterRecord* record, ImageBuffer* buffer)
{
    if (!record || buffer->hostBufferId == 0)
        return;
    hostFreeBlock(record, buffer->hostBufferId);
    buffer->hostBufferId = 0;
    buffer->pixels = nullptr;
    buffer->size = 0;
}

// ---- reading the host's image ----

int hostBytesPerSample(int32_t depth)
{
    return depth == 32 ? 4 : depth == 16 ? 2 : 1;
}

bool allocHostSizedBuffer(const HostFilterRecord* record, ImageBuffer* buffer)
{
    if (!record)
        return false;
    const HostArea filter = getFilterRect(record);
    const int32_t width = areaWidth(filter), height = areaHeight(filter);
    if (width <= 0 || height <= 0)
        return false;
    const int64_t length = int64_t(height) * width * 3 * hostBytesPerSample(record->depth);
    if (!allocateHostBufferPixels(record, buffer, length))
        return false;
    buffer->width = width;
    buffer->height = height;
    buffer->rowBytes = static_cast<int32_t>(length / height);
    return true;
}

bool readHostInput(HostFilterRecord* record, ImageBuffer* buffer)
{
    if (!record || !buffer->pixels)
        return false;
    requestFilterArea(record);
    record->inputRate = kHostRateOne;
    record->maskRate = kHostRateOne;
    record->inLoPlane = 0;
    record->inHiPlane = 2;
    if (!advance(record) || !record->inData)
        return false;

    const HostArea in = getInRect(record);
    const int32_t rows = areaHeight(in);
    const int64_t rowLength =
        int64_t(areaWidth(in)) * (record->inHiPlane - record->inLoPlane + 1) * (record->depth / 8);
    if (rows <= 0 || rowLength <= 0 || rows * rowLength > buffer->size || record->inRowBytes < rowLength)
        return false;
    for (int32_t y = 0; y < rows; ++y)
        std::memcpy(buffer->pixels + y * rowLength, record->inData + int64_t(y) * record->inRowBytes,
                    static_cast<size_t>(rowLength));
    return true;
}

bool fetchHostImage(HostFilterRecord* record, wic::Bitmap* bitmap)
{
    const int32_t width = record->filterArea[3] - record->filterArea[1];
    const int32_t height = record->filterArea[2] - record->filterArea[0];
    if (width <= 0 || height <= 0)
        return false;
    if (!wic::allocateBitmap(bitmap, wic::PixelFormat::Bgr24, uint32_t(width), uint32_t(height)))
        return false;

    requestFilterArea(record);
    record->inLoPlane = 0;
    record->inHiPlane = 2;
    if (wideCoordinatesInUse(record)) {
        record->inputRate = 1;
        record->maskRate = 1;
    } else {
        record->outLoPlane = 0;
        record->outHiPlane = 2;
        record->inputRate = kHostRateOne;
        record->maskRate = kHostRateOne;
    }
    if (!advance(record) ||
        !hostAreaHolds(getInRect(record), record->inData, record->inRowBytes, width, height,
                       3 * hostBytesPerSample(record->depth))) {
        *bitmap = wic::Bitmap{};
        return false;
    }
    copyHostSamplesToBgr24(record->depth, record->inData, record->inRowBytes, bitmap);
    return true;
}

namespace {

// One 24-bit image into a host-memory buffer with platform rows.
void fillHostSourceBuffer(const HostFilterRecord* record, const wic::Bitmap& image, ImageBuffer* buffer)
{
    const uint32_t rowBytes = rowStride(image.width, 24);
    buffer->bitsPerChannel = 8;
    buffer->channels = 3;
    buffer->width = int32_t(image.width);
    buffer->height = int32_t(image.height);
    buffer->rowBytes = int32_t(rowBytes);
    if (image.format != wic::PixelFormat::Bgr24 || image.pixels.empty() ||
        !allocateHostBufferPixels(record, buffer, int64_t(rowBytes) * image.height))
        return;
    const size_t used = std::min<size_t>(rowBytes, image.stride);
    for (uint32_t y = 0; y < image.height; ++y)
        std::memcpy(buffer->pixels + size_t(y) * rowBytes, image.pixels.data() + size_t(y) * image.stride, used);
}

} // namespace

void fillHostSourceBuffers(const HostFilterRecord* record, const wic::Bitmap& image, int32_t previewSize,
                           ImageBuffer* full, ImageBuffer* preview)
{
    fillHostSourceBuffer(record, image, full);
    int32_t previewWidth, previewHeight;
    hostPreviewSize(previewSize, int32_t(image.width), int32_t(image.height), &previewWidth, &previewHeight);
    if (previewWidth == int32_t(image.width) && previewHeight == int32_t(image.height)) {
        fillHostSourceBuffer(record, image, preview);
        return;
    }
    wic::Bitmap scaled;
    if (previewWidth <= 0 || previewHeight <= 0 ||
        !wic::scaleBitmap(wic::refOf(image), uint32_t(previewWidth), uint32_t(previewHeight),
                          wic::Interpolation::HighQualityCubic, &scaled)) {
        scaled = wic::Bitmap{};
        scaled.width = uint32_t(std::max(previewWidth, 0));
        scaled.height = uint32_t(std::max(previewHeight, 0));
    }
    fillHostSourceBuffer(record, scaled, preview);
}

// ---- writing the result ----

bool writeHostResult(HostFilterRecord* record, const ImageBuffer& result)
{
    if (!record || !result.pixels)
        return false;
    requestFilterArea(record);
    record->inputRate = kHostRateOne;
    record->maskRate = kHostRateOne;
    record->outLoPlane = 0;
    record->outHiPlane = 2;
    if (record->maskData) {
        record->inLoPlane = 0;
        record->inHiPlane = 2;
    }
    if (!advance(record) || !record->outData)
        return false;

    const HostArea out = getOutRect(record);
    const int32_t rows = areaHeight(out), columns = areaWidth(out);
    const int sampleBytes = record->depth / 8;
    const int64_t resultRow = int64_t(result.width) * sampleBytes * 3;
    // The output must cover the filter area: the range conversion afterwards runs over all of it.
    const HostArea filter = getFilterRect(record);
    if (rows <= 0 || columns <= 0 || sampleBytes <= 0 || rows > result.height || columns > result.width ||
        resultRow * result.height > result.size ||
        !hostAreaHolds(out, record->outData, record->outRowBytes, areaWidth(filter), areaHeight(filter),
                       int64_t(sampleBytes) * 3))
        return false;

    if (!record->maskData) {
        const int64_t rowLength = int64_t(columns) * sampleBytes * 3;
        for (int32_t y = 0; y < rows; ++y)
            std::memcpy(record->outData + int64_t(y) * record->outRowBytes, result.pixels + y * resultRow,
                        static_cast<size_t>(rowLength));
        fullToHost16(record);
        return true;
    }
    if (record->depth != 8 && record->depth != 16)
        return true; // floating-point samples are not blended
    if (!hostAreaHolds(getInRect(record), record->inData, record->inRowBytes, columns, rows, int64_t(sampleBytes) * 3) ||
        !hostAreaHolds(getMaskRect(record), record->maskData, record->maskRowBytes, columns, rows, 1))
        return false;
    for (int32_t y = 0; y < rows; ++y) {
        const uint8_t* mask = record->maskData + int64_t(y) * record->maskRowBytes;
        const uint8_t* input = record->inData + int64_t(y) * record->inRowBytes;
        uint8_t* output = record->outData + int64_t(y) * record->outRowBytes;
        const uint8_t* rendered = result.pixels + y * resultRow;
        for (int32_t x = 0; x < columns; ++x) {
            const uint32_t m = mask[x];
            if (m == 0)
                continue;
            for (int c = 0; c < 3; ++c) {
                const int64_t at = (int64_t(x) * 3 + c) * sampleBytes;
                if (record->depth == 8) {
                    output[at] = static_cast<uint8_t>((rendered[at] * m + input[at] * (255 - m)) / 255);
                } else {
                    const uint32_t value = toHost16(read16(rendered + at));
                    write16(output + at, static_cast<uint16_t>((value * m + read16(input + at) * (255 - m)) / 255));
                }
            }
        }
    }
    return true;
}

// ---- conversions and geometry ----

void copyHostSamplesToBgr24(int32_t depth, const uint8_t* source, int32_t sourceRowBytes, wic::Bitmap* bitmap)
{
    if (depth != 8 && depth != 16 && depth != 32)
        return;
    const int sampleBytes = hostBytesPerSample(depth);
    for (uint32_t y = 0; y < bitmap->height; ++y) {
        const uint8_t* in = source + int64_t(y) * sourceRowBytes;
        uint8_t* out = bitmap->pixels.data() + size_t(y) * bitmap->stride;
        for (uint32_t x = 0; x < bitmap->width; ++x, in += 3 * sampleBytes, out += 3) {
            if (depth == 8) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
            } else {
                out[0] = hostSampleToByte(depth, in + 2 * sampleBytes);
                out[1] = hostSampleToByte(depth, in + sampleBytes);
                out[2] = hostSampleToByte(depth, in);
            }
        }
    }
}

void hostToFull16(const HostFilterRecord* record, uint8_t* pixels, int32_t width, int32_t height, int32_t rowBytes)
{
    if (!record || record->depth != 16 || !pixels)
        return;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = pixels + int64_t(y) * rowBytes;
        for (int64_t i = 0; i < int64_t(width) * 3; ++i) {
            const uint16_t value = read16(row + 2 * i);
            write16(row + 2 * i, value == kHostMax16 ? 65535 : static_cast<uint16_t>(2 * value));
        }
    }
}

void fullToHost16(HostFilterRecord* record)
{
    if (!record || record->depth != 16 || !record->outData)
        return;
    int32_t width, height;
    if (wideCoordinatesInUse(record)) {
        const int32_t* area = record->largeDocument->outArea;
        width = area[3] - area[1];
        height = area[2] - area[0];
    } else {
        width = record->filterArea[3] - record->filterArea[1];
        height = record->filterArea[2] - record->filterArea[0];
    }
    const int64_t samples = int64_t(width) * (record->outHiPlane - record->outLoPlane + 1);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = record->outData + int64_t(y) * record->outRowBytes;
        for (int64_t i = 0; i < samples; ++i)
            write16(row + 2 * i, toHost16(read16(row + 2 * i)));
    }
}

ImageView bufferGeometry(const HostFilterRecord* record, const ImageBuffer& buffer)
{
    ImageView view{};
    view.width = buffer.width;
    view.height = buffer.height;
    int step;
    if (record) {
        const int sampleBytes = hostBytesPerSample(record->depth);
        view.format = record->depth == 16 ? kImageFormat16 : kImageFormat8;
        view.rowBytes = buffer.width * sampleBytes * 3;
        view.bytesPerPixel = 3 * sampleBytes;
        step = record->depth == 16 ? 2 : 1;
    } else {
        const int sampleBytes = buffer.bitsPerChannel == 16 ? 2 : 1;
        view.format = sampleBytes == 2 ? kImageFormat16 : kImageFormat8;
        view.rowBytes = buffer.rowBytes;
        view.bytesPerPixel = buffer.channels * sampleBytes;
        step = sampleBytes;
    }
    for (int c = 0; c < 3; ++c)
        view.data[c] = buffer.pixels ? buffer.pixels + c * step : nullptr;
    return view;
}

void hostPreviewSize(int32_t previewSize, int32_t width, int32_t height, int32_t* previewWidth,
                     int32_t* previewHeight)
{
    *previewWidth = width;
    *previewHeight = height;
    if ((width <= previewSize && height <= previewSize) || width <= 0 || height <= 0)
        return;
    const double p = previewSize, w = width, h = height;
    if (w / h > 1) {
        *previewWidth = previewSize;
        *previewHeight = static_cast<int32_t>(std::trunc(p / w * h));
    } else if (w / h < 1) {
        *previewWidth = static_cast<int32_t>(std::trunc(p / h * w));
        *previewHeight = previewSize;
    } else {
        *previewWidth = previewSize;
        *previewHeight = previewSize;
    }
}

// ---- the display copy ----

bool makeHostDisplayCopy(const HostFilterRecord* record, const ImageBuffer& source, std::mutex& displayLock,
                         DibTileHolder* holder, ImageBuffer* target)
{
    if (!record || !record->displayPixels)
        return false;
    wic::Bitmap copy;
    if (!convertForDisplayInHost(source, record->displayPixels, displayLock, holder, &copy))
        return false;
    const int64_t length = int64_t(copy.height) * copy.stride;
    if (!target->pixels) {
        if (!allocateHostBufferPixels(record, target, length))
            return false;
        target->bitsPerChannel = 8;
        target->channels = 3;
        target->width = int32_t(copy.width);
        target->height = int32_t(copy.height);
        target->rowBytes = int32_t(copy.stride);
    } else if (target->width != int32_t(copy.width) || target->height != int32_t(copy.height) ||
               target->rowBytes != int32_t(copy.stride) || target->size < length) {
        return false;
    }
    std::memcpy(target->pixels, copy.pixels.data(), static_cast<size_t>(length));
    return true;
}
