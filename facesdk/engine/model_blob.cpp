// Model blobs: the growable byte array, the LZW decoder, reading unpacked records into grey
// images, the row mirror, and the catalogue lookup. The packed artwork itself is generated into
// model_blob_data.cpp by tools/engine_templates with the packer of lzw_pack.h.
#include "facesdk/engine/model_blob.h"

#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/model_blob_catalogue.h"

// ---- Growable byte array --------------------------------------------------------------------

namespace {

// Largest element area a ByteArray may have: the allocator takes 32-bit sizes.
constexpr uint64_t kMaxArrayBytes = 0x7fffffffu;

uint32_t readU32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

uint8_t *byteArrayCreate(EngineAllocator *allocator, uint32_t elementSize, uint32_t capacity)
{
    const uint64_t bytes = uint64_t(elementSize) * capacity;
    if (bytes > kMaxArrayBytes)
        return nullptr;
    auto *block = static_cast<uint8_t *>(
        allocatorAlloc(allocator, uint32_t(bytes) + sizeof(ByteArrayHeader)));
    if (!block)
        return nullptr;
    auto *header = reinterpret_cast<ByteArrayHeader *>(block);
    header->elementSize = elementSize;
    header->capacity = capacity;
    std::memset(block + sizeof(ByteArrayHeader), 0, size_t(bytes));
    return block + sizeof(ByteArrayHeader);
}

uint8_t *byteArrayResize(EngineAllocator *allocator, uint8_t *array, uint32_t newCapacity)
{
    const ByteArrayHeader old = *byteArrayHeader(array);
    uint8_t *grown = byteArrayCreate(allocator, old.elementSize, newCapacity);
    if (!grown)
        return nullptr;
    const uint32_t keep = newCapacity < old.capacity ? newCapacity : old.capacity;
    std::memcpy(grown, array, size_t(keep) * old.elementSize);
    byteArrayFree(allocator, array);
    return grown;
}

void byteArrayFree(EngineAllocator *allocator, uint8_t *array)
{
    if (array)
        allocatorFree(allocator, array - sizeof(ByteArrayHeader));
}

// ---- Decoder --------------------------------------------------------------------------------

namespace {

// One dictionary entry: the string of its prefix code followed by `byte`; `link` is the next
// code on the path being emitted (0: none).
struct LzwEntry {
    uint16_t prefix;
    uint16_t link;
    uint8_t byte;
    uint8_t unused;
};
static_assert(sizeof(LzwEntry) == 6, "dictionary entries are 6 bytes");

void resetDictionary(LzwEntry *dictionary, uint32_t capacity)
{
    std::memset(dictionary, 0, size_t(capacity) * sizeof(LzwEntry));
    for (uint32_t k = 0; k < 256; ++k)
        dictionary[k].byte = uint8_t(k);
}

struct LzwReader {
    const uint8_t *next;  // next code byte
    uint32_t left;        // code bytes not yet read
    uint32_t buffer;      // buffered bits, the oldest highest
    uint32_t buffered;    // number of buffered bits
};

uint32_t readCode(LzwReader &in, uint32_t width)
{
    while (in.buffered < width) {
        if (in.left == 0) {
            // Past the end the stream reads as zeros.
            in.buffer <<= (width - in.buffered);
            in.buffered = width;
            break;
        }
        in.buffer = (in.buffer << 8) | *in.next++;
        --in.left;
        in.buffered += 8;
    }
    in.buffered -= width;
    const uint32_t code = (in.buffer >> in.buffered) & ((1u << width) - 1);
    in.buffer &= (1u << in.buffered) - 1;
    return code;
}

}  // namespace

uint8_t *lzwUnpack(EngineAllocator *allocator, const uint8_t *codes)
{
    if (!allocator || !codes)
        return nullptr;
    LzwReader in{codes, readU32(codes - 4), 0, 0};
    if (in.left == 0)
        return nullptr;
    uint8_t *out = byteArrayCreate(allocator, 1, 4);
    uint8_t *dictionaryBytes = byteArrayCreate(allocator, sizeof(LzwEntry), 512);
    if (!out || !dictionaryBytes) {
        byteArrayFree(allocator, out);
        byteArrayFree(allocator, dictionaryBytes);
        return nullptr;
    }
    auto *dictionary = reinterpret_cast<LzwEntry *>(dictionaryBytes);
    resetDictionary(dictionary, 512);

    uint32_t nextCode = kLzwFirstFreeCode;
    uint32_t limit = 512;
    uint32_t width = kLzwMinWidth;
    uint32_t length = 0;
    for (;;) {
        const uint32_t code = readCode(in, width);
        if (code == kLzwEndCode) {
            uint8_t *exact = byteArrayResize(allocator, out, length);
            byteArrayFree(allocator, dictionaryBytes);
            if (!exact)
                byteArrayFree(allocator, out);
            return exact;
        }
        if (code == kLzwClearCode) {
            resetDictionary(dictionary, byteArrayCapacity(dictionaryBytes));
            nextCode = kLzwFirstFreeCode;
            limit = 512;
            width = kLzwMinWidth;
        } else {
            if (code >= nextCode)
                break;
            // The new entry starts with this code's string; the walk down the prefix chain
            // links the path from the root back up to the code.
            dictionary[nextCode].prefix = uint16_t(code);
            uint32_t root = code;
            while (root >= 256) {
                const uint32_t prefix = dictionary[root].prefix;
                dictionary[prefix].link = uint16_t(root);
                root = prefix;
            }
            dictionary[nextCode - 1].byte = uint8_t(root);
            bool failed = false;
            for (uint32_t at = root;;) {
                if (length == byteArrayCapacity(out)) {
                    uint8_t *grown = uint64_t(length) * 2 <= kMaxArrayBytes
                                         ? byteArrayResize(allocator, out, length * 2)
                                         : nullptr;
                    if (!grown) {
                        failed = true;
                        break;
                    }
                    out = grown;
                }
                out[length++] = dictionary[at].byte;
                const uint32_t link = dictionary[at].link;
                dictionary[at].link = 0;
                if (!link)
                    break;
                at = link;
            }
            if (failed)
                break;
            if (++nextCode == limit) {
                if (++width > kLzwMaxWidth)
                    break;
                limit *= 2;
                uint8_t *grown = byteArrayResize(allocator, dictionaryBytes, limit);
                if (!grown)
                    break;
                dictionaryBytes = grown;
                dictionary = reinterpret_cast<LzwEntry *>(dictionaryBytes);
            }
        }
        if (in.left == 0)
            break;  // a stream ends with its end code
    }
    byteArrayFree(allocator, out);
    byteArrayFree(allocator, dictionaryBytes);
    return nullptr;
}

uint8_t *unpackModelBlob(EngineAllocator *allocator, const uint8_t *blob, size_t blobLength)
{
    if (!blob || blobLength < kBlobHeaderBytes ||
        readU32(blob + 4) > blobLength - kBlobHeaderBytes)
        return nullptr;
    return lzwUnpack(allocator, blob + kBlobHeaderBytes);
}

// ---- Records into images --------------------------------------------------------------------

namespace {

// One output of loadTemplateImages: 97 when nothing was filled, else the allocation's code.
int fillGreyOutput(EngineAllocator *allocator, EngineImage *out, bool present, uint32_t width,
                   uint32_t height, const uint8_t *pixels, bool *allocated)
{
    *allocated = false;
    if (!out || imageValid(out))
        return kResultNothingToDo;
    *out = EngineImage{};
    if (!present)
        return kResultNothingToDo;
    *allocated = true;
    const int result = imageAllocate(allocator, out, int32_t(width), int32_t(height), kFormatGrey8);
    if (result != kResultOk)
        return result;
    for (uint32_t y = 0; y < height; ++y)
        std::memcpy(out->planes[0].pixels + size_t(y) * out->planes[0].stride,
                    pixels + size_t(y) * width, width);
    return kResultOk;
}

}  // namespace

int loadTemplateImages(InnerEngine *inner, const uint8_t *record, uint32_t recordLength,
                       EngineImage *picture, EngineImage *mask)
{
    if (!record)
        return kResultNothingToDo;
    if (!inner || recordLength < kTemplateHeaderBytes)
        return kResultBadArgument;
    const uint32_t width = readU32(record);
    const uint32_t height = readU32(record + 4);
    const bool hasImage = readU32(record + 8) != 0;
    const bool hasMask = readU32(record + 12) != 0;
    const uint64_t area = uint64_t(width) * height;
    const uint64_t needed = kTemplateHeaderBytes + area * (uint64_t(hasImage) + hasMask);
    if ((hasImage || hasMask) && (width == 0 || height == 0 || width > INT32_MAX ||
                                  height > INT32_MAX || needed > recordLength))
        return kResultBadArgument;

    const uint8_t *picturePixels = record + kTemplateHeaderBytes;
    const uint8_t *maskPixels = picturePixels + (hasImage ? area : 0);
    bool pictureAllocated = false;
    bool maskAllocated = false;
    const int pictureResult = fillGreyOutput(inner->allocator, picture, hasImage, width, height,
                                             picturePixels, &pictureAllocated);
    const int maskResult = fillGreyOutput(inner->allocator, mask, hasMask, width, height,
                                          maskPixels, &maskAllocated);
    if ((pictureResult == kResultOk || pictureResult == kResultNothingToDo) && maskAllocated)
        return maskResult;
    return pictureResult;
}

int mirrorGreyRows(EngineImage *image)
{
    if (!image || image->format != kFormatGrey8 || !imageValid(image) ||
        !image->planes[0].pixels)
        return kResultUnsupported;
    const int32_t width = image->width;
    for (int32_t y = 0; y < image->height; ++y) {
        uint8_t *row = image->planes[0].pixels + size_t(y) * image->planes[0].stride;
        for (int32_t x = 0; x < width / 2; ++x) {
            const uint8_t swap = row[x];
            row[x] = row[width - 1 - x];
            row[width - 1 - x] = swap;
        }
    }
    return kResultOk;
}

// ---- Catalogue ------------------------------------------------------------------------------

namespace {

struct BlobGroupTable {
    const ModelBlob *entries;
    int count;
};

constexpr BlobGroupTable kBlobGroups[kModelBlobGroups] = {
    {kOverlayTemplateBlobs, 5}, {kFaceMaskBlobs, 1}, {kEyePairBlobs, 12},
    {kEyeDarkBlobs, 6},         {kEyeLayerBlobs, 12},
};
static_assert(kBlobGroups[0].count + kBlobGroups[1].count + kBlobGroups[2].count +
                      kBlobGroups[3].count + kBlobGroups[4].count ==
                  kModelBlobEntries,
              "an engine keeps a record slot for every entry");

}  // namespace

int modelBlobCount(int group)
{
    return group >= 0 && group < kModelBlobGroups ? kBlobGroups[group].count : 0;
}

const ModelBlob *modelBlobEntry(int group, int index)
{
    if (index < 0 || index >= modelBlobCount(group))
        return nullptr;
    return &kBlobGroups[group].entries[index];
}

// ---- Records an engine keeps ----------------------------------------------------------------

namespace {

// Slot of an entry among the entries of all groups; -1 for an unknown entry.
int blobSlot(int group, int index)
{
    if (index < 0 || index >= modelBlobCount(group))
        return -1;
    int slot = index;
    for (int g = 0; g < group; ++g)
        slot += kBlobGroups[g].count;
    return slot;
}

}  // namespace

const uint8_t *engineBlobRecord(InnerEngine *inner, int group, int index)
{
    const int slot = blobSlot(group, index);
    if (!inner || slot < 0)
        return nullptr;
    uint8_t *&record = inner->blobRecords[slot];
    if (!record)
        record = lzwUnpack(inner->allocator, kBlobGroups[group].entries[index].blob + kBlobHeaderBytes);
    return record;
}

void releaseEngineBlobRecords(InnerEngine *inner)
{
    for (uint8_t *&record : inner->blobRecords) {
        byteArrayFree(inner->allocator, record);
        record = nullptr;
    }
}
