// The engine's face state: a blob a host stored and hands back, imported into a live engine and
// exported again from what the import produced.
//
// The blob ends in the MD5 of the bytes before it, which a mutated input almost never matches:
// the target writes the digest itself, so the fuzzer reaches the parser behind the check. An input
// whose first byte is odd keeps its own digest, so the check itself is fuzzed too.
#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/engine/engine.h"
#include "facesdk/engine/state_blob.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1u << 20))
        return 0;
    const bool keepDigest = data[0] & 1;
    std::vector<uint8_t> blob(data + 1, data + size);
    if (!keepDigest && blob.size() > kStateDigestBytes)
        stateDigest(blob.data(), uint32_t(blob.size() - kStateDigestBytes), blob.data() + blob.size() - kStateDigestBytes);

    static BeautyEngine* engine = [] {
        BeautyEngine* created = nullptr;
        return engineCreate(&created) == 0 ? created : nullptr;
    }();
    if (!engine)
        __builtin_trap();
    for (int32_t referenceSize : {1000, 317}) {
        VXL_FACE* faces = nullptr;
        int32_t count = 0;
        if (engineImportState(engine, blob.data(), uint32_t(blob.size()), referenceSize, &faces, &count) != 0)
            continue;
        uint32_t length = 0;
        if (engineExportState(engine, referenceSize, faces, count, nullptr, &length) == 0 && length > 0 &&
            length <= (1u << 24)) {
            std::vector<uint8_t> again(length);
            (void)engineExportState(engine, referenceSize, faces, count, again.data(), &length);
        }
        engineFreeFaces(engine, faces, count);
    }
    return 0;
}
