// File processing of a 24-megapixel (6000 x 4000) JPEG made at run time from a photograph of the
// face-data packages, each measured beside its floor in the same run:
//   - ProcessFile with exposure, contrast and saturation, written as JPEG at quality 90, beside
//     libjpeg-turbo reading, decoding (to R, G, B, A), encoding at quality 90 and writing the same
//     file; and the heap's peak during ProcessFile beside the size of the RGBA frame;
//   - the decode that ProcessFile asks for, beside libjpeg-turbo's decode of the same file.
// The times are medians of paired runs (wall clock: the platform may use several cores; the
// floor uses one); the counters whose names start with "ratio" are the figures to watch.
//
// The photograph comes from the folder of tools/facedata/fetch.sh ($SOLVANE_FACE_DATA, else
// ~/.cache/solvane-facedata); without it the benchmarks stop with an error that says so.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cerrno>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "sys/wic/wic.h"
#include "vizoruv/adjust/correction_stack.h"
#include "vizoruv/adjust/layer_mask.h"
#include "vizoruv/io/image_decoder.h"
#include "vizoruv/io/metadata.h"
#include "vizoruv/io/output_settings.h"
#include "vizoruv/platform/vxl_platform_win.h"

// ---- Counting allocator ----
// Every heap block of the process passes through these, so the live total and its peak are known
// at any moment (the sanitizers bring allocators of their own: there the peak reads 0).

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define FILES_BENCH_COUNTS_HEAP 1
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}
#endif

namespace {

std::atomic<int64_t> liveBytes{0};
std::atomic<int64_t> peakBytes{0};

#ifdef FILES_BENCH_COUNTS_HEAP
void counted(void* block, int64_t sign) {
    if (!block)
        return;
    const int64_t now = liveBytes.fetch_add(sign * int64_t(malloc_usable_size(block)), std::memory_order_relaxed) +
                        sign * int64_t(malloc_usable_size(block));
    int64_t peak = peakBytes.load(std::memory_order_relaxed);
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
}
#endif

}  // namespace

#ifdef FILES_BENCH_COUNTS_HEAP
extern "C" {
void* malloc(size_t size) {
    void* block = __libc_malloc(size);
    counted(block, 1);
    return block;
}
void* calloc(size_t count, size_t size) {
    void* block = __libc_calloc(count, size);
    counted(block, 1);
    return block;
}
void* realloc(void* old, size_t size) {
    counted(old, -1);
    void* block = __libc_realloc(old, size);
    counted(block ? block : (size ? old : nullptr), 1);
    return block;
}
void free(void* block) {
    counted(block, -1);
    __libc_free(block);
}
void* memalign(size_t alignment, size_t size) {
    void* block = __libc_memalign(alignment, size);
    counted(block, 1);
    return block;
}
void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }
int posix_memalign(void** out, size_t alignment, size_t size) {
    void* block = memalign(alignment, size);
    if (!block)
        return ENOMEM;
    *out = block;
    return 0;
}
void* valloc(size_t size) { return memalign(4096, size); }
}
#endif

namespace {

constexpr uint32_t kWidth = 6000;
constexpr uint32_t kHeight = 4000;
constexpr int kQuality = 90;
constexpr double kMiB = 1024.0 * 1024.0;

// The heap's growth above its level at the start.
struct HeapPeak {
    int64_t start = liveBytes.load();
    HeapPeak() { peakBytes.store(start); }
    double mib() const { return double(peakBytes.load() - start) / kMiB; }
};

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double cpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

struct Times {
    std::vector<double> wall, cpu;
    template <typename Work>
    void add(Work work) {
        const double wall0 = wallSeconds(), cpu0 = cpuSeconds();
        work();
        wall.push_back(wallSeconds() - wall0);
        cpu.push_back(cpuSeconds() - cpu0);
    }
    static double median(std::vector<double> v) {
        if (v.empty())
            return 0;
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    }
    double wallMs() const { return median(wall) * 1e3; }
    double cpuMs() const { return median(cpu) * 1e3; }
};

// ---- The floor: libjpeg-turbo alone ----

struct JpegError {
    jpeg_error_mgr base;
    jmp_buf jump;
};

void jumpOut(j_common_ptr info) { longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }

std::vector<uint8_t> readWhole(const std::string& path) {
    std::vector<uint8_t> bytes;
    wic::readFileBytes(path, &bytes, nullptr);
    return bytes;
}

// Decodes to R, G, B, A rows; false on any error.
bool floorDecode(const std::vector<uint8_t>& file, std::unique_ptr<uint8_t[]>* pixels, uint32_t* width,
                 uint32_t* height) {
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.base);
    error.base.error_exit = jumpOut;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_RGBA;
    jpeg_start_decompress(&info);
    *width = info.output_width;
    *height = info.output_height;
    pixels->reset(new uint8_t[size_t(*width) * *height * 4]);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels->get() + size_t(info.output_scanline) * *width * 4;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

bool floorEncode(const uint8_t* pixels, uint32_t width, uint32_t height, const std::string& path) {
    jpeg_compress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.base);
    error.base.error_exit = jumpOut;
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&info);
        std::free(out);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &out, &outSize);
    info.image_width = width;
    info.image_height = height;
    info.input_components = 4;
    info.in_color_space = JCS_EXT_RGBA;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, kQuality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels + size_t(info.next_scanline) * width * 4);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    FILE* file = std::fopen(path.c_str(), "wb");
    const bool written = file && std::fwrite(out, 1, outSize, file) == outSize;
    if (file)
        std::fclose(file);
    std::free(out);
    return written;
}

// ---- The scene ----

std::string faceDataRoot() {
    if (const char* root = std::getenv("SOLVANE_FACE_DATA"); root && *root)
        return root;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.cache/solvane-facedata";
}

// A 6000 x 4000 JPEG at quality 90 with a camera's EXIF block, made from the middle 3:2 part of a
// photograph scaled up (a 6028 x 3391 photograph of lomiri-wallpapers, else the astronaut).
struct Scene {
    std::filesystem::path folder;
    std::string input, output, error;
    VXLPlatformWin* platform = nullptr;

    Scene() {
        char pattern[] = "/tmp/files-bench-XXXXXX";
        folder = mkdtemp(pattern);
        input = (folder / "photo.jpg").string();
        output = (folder / "out.jpg").string();
        const std::string root = faceDataRoot() + "/root";
        wic::Frame photo;
        std::string reason;
        if (wic::decodeFile(root + "/usr/share/backgrounds/Kleiber_by_Lukas_Baubkus.jpg", &photo, &reason) != wic::kWicOk &&
            wic::decodeFile(root + "/usr/lib/python3/dist-packages/skimage/data/astronaut.png", &photo, &reason) !=
                wic::kWicOk) {
            error = "no photograph in " + faceDataRoot() + " (run tools/facedata/fetch.sh): " + reason;
            return;
        }
        const wic::Bitmap& p = photo.bitmap;
        uint32_t cropWidth = p.width, cropHeight = p.height;
        if (uint64_t(p.width) * 2 > uint64_t(p.height) * 3)
            cropWidth = p.height * 3 / 2;
        else
            cropHeight = p.width * 2 / 3;
        const int pixel = wic::bitsPerPixel(p.format) / 8;
        const wic::BitmapRef middle{p.format, cropWidth, cropHeight, p.stride,
                                    p.pixels.data() + size_t((p.height - cropHeight) / 2) * p.stride +
                                        size_t((p.width - cropWidth) / 2) * pixel};
        wic::Bitmap large;
        wic::EncodeFrame frame;
        std::vector<uint8_t> bytes;
        if (!wic::scaleBitmap(middle, kWidth, kHeight, wic::Interpolation::Cubic, &large)) {
            error = "cannot scale the photograph";
            return;
        }
        frame.pixels = wic::refOf(large);
        if (wic::encodeMemory(wic::Container::Jpeg, frame, {{"ImageQuality", kQuality / 100.0}}, &bytes, &reason) !=
            wic::kWicOk) {
            error = "cannot encode the photograph: " + reason;
            return;
        }
        ImageMetadata metadata;
        metadata.read(bytes.data(), bytes.size(), nullptr);
        metadata.set("/app1/ifd/{ushort=271}", MetaValue::ofString("Bench"));
        metadata.set("/app1/ifd/{ushort=272}", MetaValue::ofString("Camera 24"));
        metadata.set("/app1/ifd/{ushort=274}", MetaValue::ofUInt16(1));
        metadata.set("/app1/ifd/exif/{ushort=34855}", MetaValue::ofUInt16(200));
        metadata.writeInto(&bytes, nullptr);
        wic::writeFileBytes(input, bytes, nullptr);

        const std::string user = folder.string();
        platform = static_cast<VXLPlatformWin*>(
            VxlPlatformCreate("Bench", FILES_BENCH_MODULES_DIR, user.c_str(), user.c_str(), 1, 0, 0));
        if (!platform)
            error = "no platform";
    }
    ~Scene() {
        if (platform)
            platform->Release();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

Scene& scene() {
    static Scene s;
    return s;
}

// Exposure, contrast and saturation of the finishing group, over the whole picture.
struct Corrections {
    VXLParams blocks[4]{};
    LayerMask masks[4] = {defaultLayerMask(), defaultLayerMask(), defaultLayerMask(), defaultLayerMask()};
    MaskTransform transform = defaultMaskTransform();
    CorrectionStack stack{4, blocks, masks, &transform, nullptr, 0};
    Corrections() {
        for (VXLParams& b : blocks)
            b.version = 6;
        VXLParams& p = blocks[0];
        p.vexoOpacity = 100;
        p.bGroupFinishing = true;
        p.bFinishExposure = p.bFinishContrast = p.bFinishSaturation = true;
        p.iFinishExposure = 15;
        p.iFinishContrast = 20;
        p.iFinishSaturation = 25;
    }
};

constexpr double kFrameMiB = double(kWidth) * kHeight * 4 / kMiB;

// Paired runs of the floor and of our work, each answering whether it succeeded; the heap's peak is
// taken over our work. Prints our median as `<name>_ms` (and its CPU time), the floor's, the ratio
// of the two and the peak beside the RGBA frame.
template <typename Floor, typename Ours>
void measureBesideTheFloor(benchmark::State& state, const std::string& name, Floor floorWork, Ours ourWork) {
    Times ours, floor;
    double peakMiB = 0;
    for (auto _ : state) {
        bool ok = true;
        floor.add([&] { ok = floorWork(); });
        const HeapPeak heap;
        ours.add([&] { ok = ourWork() && ok; });
        peakMiB = std::max(peakMiB, heap.mib());
        if (!ok) {
            state.SkipWithError((name + " or its floor failed").c_str());
            return;
        }
    }
    state.counters[name + "_ms"] = ours.wallMs();
    state.counters[name + "_cpu_ms"] = ours.cpuMs();
    state.counters["floor_ms"] = floor.wallMs();
    state.counters["ratio_to_floor"] = ours.wallMs() / floor.wallMs();
    state.counters["peak_heap_mib"] = peakMiB;
    state.counters["rgba_frame_mib"] = kFrameMiB;
    state.counters["ratio_peak_to_frame"] = peakMiB / kFrameMiB;
}

void BM_ProcessFile24MP(benchmark::State& state) {
    Scene& s = scene();
    if (!s.error.empty()) {
        state.SkipWithError(s.error.c_str());
        return;
    }
    const Corrections corrections;
    OutputSettings settings{};
    settings.quality = kQuality / 100.0f;
    const std::string floorOutput = (s.folder / "floor.jpg").string();
    measureBesideTheFloor(
        state, "processfile",
        [&] {
            std::unique_ptr<uint8_t[]> pixels;
            uint32_t width = 0, height = 0;
            return floorDecode(readWhole(s.input), &pixels, &width, &height) &&
                   floorEncode(pixels.get(), width, height, floorOutput);
        },
        [&] {
            return s.platform->ProcessFile(s.input.c_str(), s.output.c_str(), &corrections.stack, nullptr, &settings,
                                           nullptr, 1, "bench", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, nullptr) == 0;
        });
}
BENCHMARK(BM_ProcessFile24MP)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(7);

void BM_Decode24MP(benchmark::State& state) {
    Scene& s = scene();
    if (!s.error.empty()) {
        state.SkipWithError(s.error.c_str());
        return;
    }
    // What ProcessFile asks for a JPEG output.
    DecodeRequest request;
    request.maxPreviewSide = 1200;
    request.fullSize8 = true;
    request.roomForRotation = true;
    measureBesideTheFloor(
        state, "decode",
        [&] {
            std::unique_ptr<uint8_t[]> pixels;
            uint32_t width = 0, height = 0;
            return floorDecode(readWhole(s.input), &pixels, &width, &height);
        },
        [&] {
            DecodedImage decoded;
            return decodeImageFile(s.input, request, &decoded, nullptr) == 0;
        });
}
BENCHMARK(BM_Decode24MP)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(7);

}  // namespace
