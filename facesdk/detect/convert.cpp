/*
 * Input conversion into the detector's working layout.
 *
 * Divisions: format facts; validation; source planes; the RGB product tables; the converters,
 * one per family of formats; the dispatch table and convertRegion.
 *
 * Every converter works on a ConvertJob whose region is even-rounded and inside both images:
 * it writes luma for every pixel of the region and one (Cb, Cr) pair per 2 x 2 block. Chroma
 * taken from a single pixel of the block comes from its bottom-right pixel for RGB and 4:4:4
 * input, as the formats' own subsampling would place it.
 */
#include "facesdk/detect/convert.h"

#include <algorithm>
#include <cstring>

/* ---- format facts ---- */

namespace {

constexpr int kFormatBits[18] = {0, 8, 16, 24, 16, 32, 24, 8, 8, 8, 24, 8, 24, 16, 8, 8, 8, 8};

bool usesPointerArray(uint32_t format)
{
    return format == kDetectorSemiPlanar422 || format == kDetectorPlanar422 || format == kDetectorPlanar420 ||
           format == kDetectorSemiPlanar420 || format == kDetectorSemiPlanar420CrCb;
}

bool acceptsPlaneRecords(uint32_t format)
{
    return format == kDetectorPlanar422 || format == kDetectorPlanar420 || format == kDetectorSemiPlanar420 ||
           format == kDetectorSemiPlanar420CrCb;
}

bool hasPlaneRecords(const DetectorImage *image)
{
    return image->size >= 48 && acceptsPlaneRecords(image->format) && image->planes[0].pixels &&
           image->planes[0].stride != 0;
}

int64_t rowBytes(const DetectorImage *image)
{
    return (int64_t(detectorFormatBits(image->format)) * image->width + 7) / 8;
}

} // namespace

int detectorFormatBits(uint32_t format) { return format >= 1 && format <= 17 ? kFormatBits[format] : 0; }

/* ---- validation ---- */

bool detectorImageValid(const DetectorImage *image, bool requireStrideBound)
{
    if (!image || image->size < 32 || image->width <= 0 || image->height <= 0 || detectorFormatBits(image->format) == 0)
        return false;
    const bool strideBound = image->stride > 0 && image->stride >= rowBytes(image);
    if (requireStrideBound && !strideBound)
        return false;
    if (hasPlaneRecords(image)) {
        const DetectorImagePlane *planes = image->planes;
        const int32_t width = image->width;
        if (planes[0].stride < width)
            return false;
        if (image->format == kDetectorPlanar422 || image->format == kDetectorPlanar420)
            return planes[1].pixels && planes[2].pixels && planes[1].stride >= width / 2 &&
                   planes[2].stride >= width / 2;
        return planes[1].pixels && planes[1].stride >= width;
    }
    if (!image->pixels || !strideBound)
        return false;
    if (usesPointerArray(image->format)) {
        void *const *array = static_cast<void *const *>(image->pixels);
        const int needed = image->format == kDetectorPlanar422 || image->format == kDetectorPlanar420 ? 3 : 2;
        for (int i = 0; i < needed; ++i)
            if (!array[i])
                return false;
    }
    return true;
}

/* ---- source planes ---- */

namespace {

struct SourcePlanes {
    const uint8_t *plane[3]; /* luma (or the packed pixels), then chroma or Cb, then Cr */
    int32_t stride[3];       /* bytes per row of each */
};

bool resolveSource(const DetectorImage *image, SourcePlanes *source)
{
    std::memset(source, 0, sizeof *source);
    const uint32_t format = image->format;
    if (hasPlaneRecords(image)) {
        for (int i = 0; i < 3; ++i) {
            source->plane[i] = image->planes[i].pixels;
            source->stride[i] = image->planes[i].stride;
        }
        return true;
    }
    if (!image->pixels)
        return false; /* plane records the format cannot take, and no pixels */
    const int32_t stride = image->stride;
    if (usesPointerArray(format)) {
        uint8_t *const *array = static_cast<uint8_t *const *>(image->pixels);
        const bool threePlanes = format == kDetectorPlanar422 || format == kDetectorPlanar420;
        source->plane[0] = array[0];
        source->stride[0] = stride;
        source->plane[1] = array[1];
        source->stride[1] = threePlanes ? stride / 2 : stride;
        if (threePlanes) {
            source->plane[2] = array[2];
            source->stride[2] = stride / 2;
        }
        return true;
    }
    const uint8_t *pixels = static_cast<const uint8_t *>(image->pixels);
    source->plane[0] = pixels;
    source->stride[0] = stride;
    if (format == kDetectorNative || format == kDetectorNativeCrCb) {
        /* the working layout is addressed by its width alone */
        source->stride[0] = image->width;
        source->plane[1] = pixels + size_t(image->width) * size_t(image->height);
        source->stride[1] = image->width;
    } else if (format == kDetectorPlanar420OneBuffer) {
        const size_t lumaBytes = size_t(stride) * size_t(image->height);
        source->plane[1] = pixels + lumaBytes;
        source->plane[2] = pixels + lumaBytes * 5 / 4;
        source->stride[1] = source->stride[2] = stride / 2;
    }
    return true;
}

/* One conversion: an even region of the source into the destination. */
struct ConvertJob {
    SourcePlanes source;
    int32_t x, y, width, height; /* region of the source, all even */
    uint8_t *luma;               /* destination luma of the region's first pixel */
    uint8_t *chroma;             /* destination pair of the region's first block */
    int32_t destinationStride;   /* destination row length (its width) */
};

inline const uint8_t *sourceRow(const ConvertJob &job, int plane, int32_t row)
{
    return job.source.plane[plane] + size_t(row) * size_t(job.source.stride[plane]);
}

inline uint8_t *lumaRow(const ConvertJob &job, int32_t j) { return job.luma + size_t(j) * job.destinationStride; }
inline uint8_t *chromaRow(const ConvertJob &job, int32_t blockRow)
{
    return job.chroma + size_t(blockRow) * job.destinationStride;
}

/* ---- the RGB product tables ---- */

struct RgbTables {
    int32_t yR[256], yG[256], yB[256];   /* 19595 v, 38470 v, 7471 v + 32768 */
    int32_t cbR[256], cbG[256];          /* -11059 v, -21709 v */
    int32_t half[256];                   /* 32768 v + 8421375: Cb's B and Cr's R */
    int32_t crG[256], crB[256];          /* -27439 v, -5329 v */
    RgbTables()
    {
        for (int32_t v = 0; v < 256; ++v) {
            yR[v] = 19595 * v;
            yG[v] = 38470 * v;
            yB[v] = 7471 * v + 32768;
            cbR[v] = -11059 * v;
            cbG[v] = -21709 * v;
            half[v] = 32768 * v + 8421375; /* 128.5 x 65536 - 1 */
            crG[v] = -27439 * v;
            crB[v] = -5329 * v;
        }
    }
};

const RgbTables &rgbTables()
{
    static const RgbTables tables;
    return tables;
}

/* ---- the converters ---- */

/* RGB with the byte offsets of R, G and B within a pixel of `bytes` bytes. */
template <int Bytes, int R, int G, int B>
void convertRgb(const ConvertJob &job)
{
    const RgbTables &t = rgbTables();
    for (int32_t j = 0; j < job.height; ++j) {
        const uint8_t *src = sourceRow(job, 0, job.y + j) + size_t(job.x) * Bytes;
        uint8_t *luma = lumaRow(job, j);
        for (int32_t i = 0; i < job.width; ++i, src += Bytes)
            luma[i] = uint8_t((t.yR[src[R]] + t.yG[src[G]] + t.yB[src[B]]) >> 16);
        if (j & 1) {
            src = sourceRow(job, 0, job.y + j) + size_t(job.x) * Bytes;
            uint8_t *pairs = chromaRow(job, j >> 1);
            for (int32_t i = 1; i < job.width; i += 2) {
                const uint8_t *p = src + size_t(i) * Bytes;
                pairs[i - 1] = uint8_t((t.cbR[p[R]] + t.cbG[p[G]] + t.half[p[B]]) >> 16);
                pairs[i] = uint8_t((t.half[p[R]] + t.crG[p[G]] + t.crB[p[B]]) >> 16);
            }
        }
    }
}

void copyLumaRows(const ConvertJob &job)
{
    for (int32_t j = 0; j < job.height; ++j)
        std::memcpy(lumaRow(job, j), sourceRow(job, 0, job.y + j) + job.x, size_t(job.width));
}

void convertGrey(const ConvertJob &job)
{
    copyLumaRows(job);
    for (int32_t b = 0; b < job.height / 2; ++b)
        std::memset(chromaRow(job, b), 128, size_t(job.width));
}

/* Packed 4:2:2: byte offsets of the two lumas, Cb and Cr in a 4-byte group, and which row of a
 * row pair gives the chroma (0 first, 1 second). */
template <int Y0, int Y1, int Cb, int Cr, int ChromaRow>
void convertPacked422(const ConvertJob &job)
{
    for (int32_t j = 0; j < job.height; ++j) {
        const uint8_t *src = sourceRow(job, 0, job.y + j) + size_t(job.x) * 2;
        uint8_t *luma = lumaRow(job, j);
        for (int32_t i = 0; i < job.width; i += 2, src += 4) {
            luma[i] = src[Y0];
            luma[i + 1] = src[Y1];
        }
        if ((j & 1) == ChromaRow) {
            src = sourceRow(job, 0, job.y + j) + size_t(job.x) * 2;
            uint8_t *pairs = chromaRow(job, j >> 1);
            for (int32_t i = 0; i < job.width; i += 2, src += 4) {
                pairs[i] = src[Cb];
                pairs[i + 1] = src[Cr];
            }
        }
    }
}

/* Packed 4:4:4, bytes Y, Cb, Cr. */
void convertYuv444(const ConvertJob &job)
{
    for (int32_t j = 0; j < job.height; ++j) {
        const uint8_t *src = sourceRow(job, 0, job.y + j) + size_t(job.x) * 3;
        uint8_t *luma = lumaRow(job, j);
        for (int32_t i = 0; i < job.width; ++i)
            luma[i] = src[i * 3];
        if (j & 1) {
            uint8_t *pairs = chromaRow(job, j >> 1);
            for (int32_t i = 1; i < job.width; i += 2) {
                pairs[i - 1] = src[i * 3 + 1];
                pairs[i] = src[i * 3 + 2];
            }
        }
    }
}

/* Interleaved chroma plane: rows of pairs at `stepRows` source rows per block row (1 for 4:2:0
 * planes of half height, 2 for full-height 4:2:2 planes, starting at the pair's second row). */
template <bool Swap, bool FullHeight>
void convertInterleaved(const ConvertJob &job)
{
    copyLumaRows(job);
    for (int32_t b = 0; b < job.height / 2; ++b) {
        const int32_t row = FullHeight ? job.y + 2 * b + 1 : job.y / 2 + b;
        const uint8_t *src = sourceRow(job, 1, row) + job.x;
        uint8_t *pairs = chromaRow(job, b);
        if (!Swap) {
            std::memcpy(pairs, src, size_t(job.width));
            continue;
        }
        for (int32_t i = 0; i < job.width; i += 2) {
            pairs[i] = src[i + 1];
            pairs[i + 1] = src[i];
        }
    }
}

/* Separate Cb and Cr planes of half width: half height (4:2:0) or full height (4:2:2, taken
 * from each pair's second row). */
template <bool FullHeight>
void convertPlanar(const ConvertJob &job)
{
    copyLumaRows(job);
    for (int32_t b = 0; b < job.height / 2; ++b) {
        const int32_t row = FullHeight ? job.y + 2 * b + 1 : job.y / 2 + b;
        const uint8_t *cb = sourceRow(job, 1, row) + job.x / 2;
        const uint8_t *cr = sourceRow(job, 2, row) + job.x / 2;
        uint8_t *pairs = chromaRow(job, b);
        for (int32_t i = 0; i < job.width / 2; ++i) {
            pairs[2 * i] = cb[i];
            pairs[2 * i + 1] = cr[i];
        }
    }
}

/* ---- the dispatch table and convertRegion ---- */

typedef void (*Converter)(const ConvertJob &job);

const Converter kConverters[18] = {
    nullptr,
    convertGrey,                              /* 1 */
    convertPacked422<0, 2, 1, 3, 1>,          /* 2: Y0 Cb Y1 Cr, second row */
    convertRgb<3, 2, 1, 0>,                   /* 3: B G R */
    convertPacked422<1, 3, 0, 2, 0>,          /* 4: Cb Y0 Cr Y1, first row */
    convertRgb<4, 2, 1, 0>,                   /* 5: B G R x */
    convertRgb<3, 0, 1, 2>,                   /* 6: R G B */
    convertInterleaved<false, true>,          /* 7 */
    convertPlanar<true>,                      /* 8 */
    convertPlanar<false>,                     /* 9 */
    convertYuv444,                            /* 10 */
    convertPlanar<false>,                     /* 11 */
    convertYuv444,                            /* 12 */
    convertPacked422<2, 0, 3, 1, 0>,          /* 13: Y1 Cr Y0 Cb, first row */
    convertInterleaved<false, false>,         /* 14 */
    convertInterleaved<false, false>,         /* 15 */
    convertInterleaved<true, false>,          /* 16 */
    convertInterleaved<true, false>,          /* 17 */
};

} // namespace

int convertRegion(FaceDetector *, const DetectorImage *image, DetectorPlane *destination, const int32_t *region,
                  bool partial)
{
    if (!image || !destination || !destination->data || detectorFormatBits(image->format) == 0)
        return kResultBadArgument;
    ConvertJob job;
    if (!resolveSource(image, &job.source))
        return kResultBadArgument;
    const int32_t destinationWidth = int32_t(destination->width);
    const int32_t destinationHeight = int32_t(destination->height);
    int32_t x = 0, y = 0, width, height;
    if (region) {
        x = region[0];
        y = region[1];
        width = region[2];
        height = region[3];
    } else {
        width = std::min(image->width, destinationWidth);
        height = std::min(image->height, destinationHeight);
    }
    x &= ~1;
    y &= ~1;
    width &= ~1;
    height &= ~1;
    /* Keep the region inside the image and its output inside the destination. */
    if (x < 0) {
        width += x;
        x = 0;
    }
    if (y < 0) {
        height += y;
        y = 0;
    }
    const int32_t outX = partial ? x : 0, outY = partial ? y : 0;
    width = std::min({width, (image->width & ~1) - x, destinationWidth - outX});
    height = std::min({height, (image->height & ~1) - y, destinationHeight - outY});
    if (width <= 0 || height <= 0)
        return kResultOk;
    job.x = x;
    job.y = y;
    job.width = width & ~1;
    job.height = height & ~1;
    job.destinationStride = destinationWidth;
    job.luma = destination->data + size_t(outY) * destinationWidth + outX;
    job.chroma = destination->data + size_t(destinationWidth) * destinationHeight + size_t(outY / 2) * destinationWidth + outX;
    kConverters[image->format](job);
    return kResultOk;
}
