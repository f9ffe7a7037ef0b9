// The LZW packer that matches lzwUnpack, and the unpacked template record. Tools use it to
// make the engine's model blobs and tests to make blobs of their own; it depends on nothing
// else of the engine, so the artwork generator builds it on its own.
#include "facesdk/engine/lzw_pack.h"

#include <unordered_map>

namespace {

void appendU32(std::vector<uint8_t> &out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

}  // namespace

// ---- Packer ---------------------------------------------------------------------------------

namespace {

struct BitWriter {
    std::vector<uint8_t> &out;
    uint64_t buffer = 0;
    uint32_t bits = 0;

    void put(uint32_t code, uint32_t width)
    {
        buffer = (buffer << width) | code;
        bits += width;
        while (bits >= 8) {
            bits -= 8;
            out.push_back(uint8_t(buffer >> bits));
        }
        buffer &= (uint64_t(1) << bits) - 1;
    }
    void flush()
    {
        if (bits)
            out.push_back(uint8_t(buffer << (8 - bits)));
        bits = 0;
        buffer = 0;
    }
};

}  // namespace

std::vector<uint8_t> lzwPack(const uint8_t *data, size_t length, uint32_t clearEvery)
{
    std::vector<uint8_t> blob;
    appendU32(blob, kBlobFormatTag);
    appendU32(blob, 0);  // code byte count, patched below
    BitWriter writer{blob};

    // (prefix code << 8 | byte) -> code of that string.
    std::unordered_map<uint32_t, uint32_t> dictionary;
    uint32_t nextCode = kLzwFirstFreeCode;
    uint32_t width = kLzwMinWidth;
    uint32_t sinceClear = 0;
    auto clear = [&] {
        writer.put(kLzwClearCode, width);
        dictionary.clear();
        nextCode = kLzwFirstFreeCode;
        width = kLzwMinWidth;
        sinceClear = 0;
    };
    // Emits a data code; the entry for string + next byte gets nextCode (the decoder makes it
    // when it reads the code, so both count codes alike and change width together).
    auto emit = [&](uint32_t code, int nextByte) {
        writer.put(code, width);
        if (nextByte >= 0)
            dictionary.emplace(code << 8 | uint32_t(nextByte), nextCode);
        if (++nextCode == (1u << width))
            ++width;
        ++sinceClear;
        // The decoder refuses a data code that would take the next free code to 65536.
        if (nextCode == (1u << kLzwMaxWidth) - 1 || (clearEvery && sinceClear == clearEvery))
            clear();
    };

    if (length > 0) {
        uint32_t current = data[0];
        for (size_t i = 1; i < length; ++i) {
            const uint32_t key = current << 8 | data[i];
            auto found = dictionary.find(key);
            if (found != dictionary.end()) {
                current = found->second;
                continue;
            }
            emit(current, data[i]);
            current = data[i];
        }
        emit(current, -1);
    }
    writer.put(kLzwEndCode, width);
    writer.flush();
    const uint32_t codeBytes = uint32_t(blob.size() - kBlobHeaderBytes);
    for (int i = 0; i < 4; ++i)
        blob[4 + i] = uint8_t(codeBytes >> (8 * i));
    return blob;
}

std::vector<uint8_t> makeTemplateRecord(uint32_t width, uint32_t height, const uint8_t *picture,
                                        const uint8_t *mask)
{
    std::vector<uint8_t> record;
    appendU32(record, width);
    appendU32(record, height);
    appendU32(record, picture ? 1 : 0);
    appendU32(record, mask ? 1 : 0);
    const size_t area = size_t(width) * height;
    if (picture)
        record.insert(record.end(), picture, picture + area);
    if (mask)
        record.insert(record.end(), mask, mask + area);
    return record;
}

