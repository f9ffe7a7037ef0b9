// Camera RAW files through the platform's RAW path with Debian's LibRaw: the file opened, the
// camera facts read, the embedded thumbnail taken and the picture developed into the decoder's
// images.
#include "fuzz/fuzz_support.h"
#include "sys/dynlib/dynlib.h"
#include "vizoruv/platform/raw_open.h"

#include <cstdlib>

#ifndef FUZZ_LIBRAW_MODULE
#error "FUZZ_LIBRAW_MODULE names Debian's LibRaw"
#endif

namespace {

void quiet(const char*) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setRawEngineLogSink(quiet);
    // LibRaw's OpenMP workers would spin between the small developments and take most of the
    // time; one thread that sleeps when idle keeps the fuzzer on our code.
    setenv("OMP_NUM_THREADS", "1", 1);
    setenv("OMP_WAIT_POLICY", "passive", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static void* const libraw = sysDynlibOpen(FUZZ_LIBRAW_MODULE);
    if (!libraw)
        __builtin_trap();
    const std::string path = fuzzing::writeInput(data, size, ".dng");
    std::unique_ptr<VXLRawEngine> engine = openRawFile(path.c_str(), libraw);
    if (!engine)
        return 0;
    std::string camera, lens;
    (void)engine->cameraAndLens(&camera, &lens);
    ImageView thumbnail{};
    (void)engine->develop(kRawDevelopThumbnail, 320, &thumbnail, nullptr, nullptr);
    releaseRawView(&thumbnail);
    RawDevelopRequest request;
    request.maxPreviewSide = 64;
    request.detectorCopy = true;
    DecodedImage image;
    (void)developRawImage(engine.get(), request, &image);
    return 0;
}
