// A plug-in host's filter record, as the platform meets it when it runs inside a host: the image
// fetched over the filter area, the source and preview blocks taken from the host's buffer
// procedures, the input read into a host-sized buffer and the result written back (blended
// through the host's selection mask when it has one).
//
// The fuzzer plays the host: its depth, areas (16-bit or the large-document extension), the area
// and row bytes it reports after each advance-state call, whether a call or an allocation fails.
// The host gives exactly the bytes it reports (row bytes x rows of the reported area), so the
// address sanitizer catches every read or write past what the host handed over.
#include "vizoruv/io/host_filter_record.h"
#include "vizoruv/io/host_rects.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr int64_t kHostLimit = 1 << 22;  // bytes the simulated host hands out per buffer

struct Host {
    FuzzedDataProvider* input = nullptr;
    HostFilterRecord* record = nullptr;
    std::vector<uint8_t> in, out, mask;
    std::map<uint64_t, std::vector<uint8_t>> blocks;
    uint64_t nextId = 1;
};

Host host;

// The host's own view of one plane buffer: the area it reports and its row bytes.
bool handOver(HostArea* area, int32_t* rowBytes, std::vector<uint8_t>* bytes, int sampleBytes, int planes) {
    FuzzedDataProvider& fuzz = *host.input;
    if (fuzz.ConsumeBool()) {  // the host reports another area than the one asked for
        area->top += fuzz.ConsumeIntegralInRange<int32_t>(-2, 2);
        area->left += fuzz.ConsumeIntegralInRange<int32_t>(-2, 2);
        area->bottom += fuzz.ConsumeIntegralInRange<int32_t>(-2, 2);
        area->right += fuzz.ConsumeIntegralInRange<int32_t>(-2, 2);
    }
    const int64_t width = std::max<int64_t>(0, int64_t(area->right) - area->left);
    const int64_t height = std::max<int64_t>(0, int64_t(area->bottom) - area->top);
    const int64_t row = width * planes * sampleBytes + fuzz.ConsumeIntegralInRange<int32_t>(-4, 4);
    *rowBytes = int32_t(std::max<int64_t>(row, 0));
    const int64_t length = int64_t(*rowBytes) * height;
    if (length > kHostLimit)
        return false;
    bytes->assign(size_t(length), 0);
    for (auto& byte : *bytes)
        byte = fuzz.ConsumeIntegral<uint8_t>();
    return true;
}

int16_t advanceState() {
    FuzzedDataProvider& fuzz = *host.input;
    HostFilterRecord* record = host.record;
    if (fuzz.ConsumeBool())
        return -1;
    const int sampleBytes = hostBytesPerSample(record->depth);
    const int inPlanes = std::max(0, record->inHiPlane - record->inLoPlane + 1);
    const int outPlanes = std::max(0, record->outHiPlane - record->outLoPlane + 1);
    HostArea in = getInRect(record), out = getOutRect(record);
    if (!handOver(&in, &record->inRowBytes, &host.in, sampleBytes, inPlanes) ||
        !handOver(&out, &record->outRowBytes, &host.out, sampleBytes, outPlanes))
        return -1;
    setInRect(record, in);
    setOutRect(record, out);
    record->inData = host.in.empty() ? nullptr : host.in.data();
    record->outData = host.out.empty() ? nullptr : host.out.data();
    record->maskData = nullptr;
    if (fuzz.ConsumeBool()) {
        HostArea mask = in;
        int32_t rowBytes = 0;
        if (!handOver(&mask, &rowBytes, &host.mask, 1, 1))
            return -1;
        setMaskRect(record, mask);
        record->maskRowBytes = rowBytes;
        record->maskData = host.mask.empty() ? nullptr : host.mask.data();
    }
    return 0;
}

int16_t allocateBlock(int32_t size, uint64_t* id) {
    if (size > kHostLimit || host.input->ConsumeBool())
        return -1;
    *id = host.nextId++;
    host.blocks[*id].assign(size_t(size), 0);
    return 0;
}

void* lockBlock(uint64_t id, uint8_t) {
    auto found = host.blocks.find(id);
    return found == host.blocks.end() ? nullptr : found->second.data();
}

void unlockBlock(uint64_t) {}

void freeBlock(uint64_t id) {
    host.blocks.erase(id);
}

HostBufferProcs procs{{}, allocateBlock, lockBlock, unlockBlock, freeBlock};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fuzz(data, size);
    auto record = std::make_unique<HostFilterRecord>();
    std::memset(record.get(), 0, sizeof *record);
    HostLargeDocument large{};
    host = Host{};
    host.input = &fuzz;
    host.record = record.get();

    const int32_t depths[] = {8, 16, 32, 0, 24};
    record->depth = depths[fuzz.ConsumeIntegralInRange<int>(0, 4)];
    for (int16_t& side : record->filterArea)
        side = fuzz.ConsumeIntegralInRange<int16_t>(-4, 80);
    if (fuzz.ConsumeBool()) {
        large.wideCoordinates = fuzz.ConsumeIntegralInRange<int32_t>(0, 1);
        for (int32_t& side : large.filterArea)
            side = fuzz.ConsumeIntegralInRange<int32_t>(-4, 80);
        record->largeDocument = &large;
    }
    record->bufferProcs = &procs;
    record->advanceState = advanceState;

    wic::Bitmap image;
    if (fetchHostImage(record.get(), &image)) {
        ImageBuffer full{}, preview{};
        fillHostSourceBuffers(record.get(), image, fuzz.ConsumeIntegralInRange<int32_t>(1, 64), &full, &preview);
        freeHostBufferPixels(record.get(), &full);
        freeHostBufferPixels(record.get(), &preview);
    }
    ImageBuffer working{};
    if (allocHostSizedBuffer(record.get(), &working)) {
        const ImageView view = bufferGeometry(record.get(), working);
        (void)view;
        if (readHostInput(record.get(), &working)) {
            hostToFull16(record.get(), working.pixels, working.width, working.height, working.rowBytes);
            (void)writeHostResult(record.get(), working);
        }
        freeHostBufferPixels(record.get(), &working);
    }
    return 0;
}
