#include "vizoruv/platform/vxl_platform_win.h"

#include "sys/dynlib/dynlib.h"
#include "vizoruv/platform/testing/module_folder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

VXLPlatformWin* create(const ModuleFolder& folder, int requireLibraries = 0, int previewOnly = 0,
                       int economyLevel = 0) {
    return static_cast<VXLPlatformWin*>(VxlPlatformCreate("Test Product", folder.path().c_str(), "/tmp/encoder",
                                                          "/tmp/user", requireLibraries, previewOnly, economyLevel));
}

// Which files a module folder holds.
enum Files : unsigned { kEngine = 1, kFace = 2, kRedEye = 4, kJunkEngine = 8 };

void fill(const ModuleFolder& folder, unsigned files) {
    if (files & kEngine)
        folder.addBuilt(VXL_ENGINE_FILE);
    if (files & kJunkEngine)
        folder.addJunk(VXL_ENGINE_FILE);
    if (files & kFace)
        folder.add(PLATFORM_FIXTURE_FACE, FD_LIBRARY_FILE);
    if (files & kRedEye)
        folder.addBuilt(RE_LIBRARY_FILE);
}

TEST(PlatformCreate, RequireLibrariesFailsOnlyWhenNoLibraryLoaded) {
    struct Case {
        unsigned files;
        int requireLibraries;
        bool created;
    } const cases[] = {
        {0, 0, true},
        {0, 1, false},
        {kJunkEngine, 1, false},  // a file that does not load counts as missing
        {kJunkEngine, 0, true},
        {kRedEye, 1, true},
        {kFace, 1, true},
        {kEngine | kFace | kRedEye, 1, true},
    };
    for (const Case& c : cases) {
        ModuleFolder folder;
        fill(folder, c.files);
        VXLPlatformWin* platform = create(folder, c.requireLibraries);
        EXPECT_EQ(platform != nullptr, c.created) << "files " << c.files << " require " << c.requireLibraries;
        if (platform)
            platform->Release();
    }
}

TEST(PlatformCreate, KeepsItsFoldersAndCreatesTheEngine) {
    ModuleFolder folder;
    fill(folder, kEngine | kFace | kRedEye);
    VXLPlatformWin* platform = create(folder, 1);
    ASSERT_NE(platform, nullptr);
    EXPECT_EQ(platform->productName(), "Test Product");
    EXPECT_EQ(platform->binDir(), folder.path());
    EXPECT_EQ(platform->encoderFolder(), "/tmp/encoder");
    EXPECT_EQ(platform->userFolder(), "/tmp/user");
    EXPECT_EQ(platform->previewSize(), 1200);
    EXPECT_FALSE(platform->hostMode());
    EXPECT_TRUE(platform->hostRecordHandOver());
    EXPECT_NE(platform->engineHandle(), nullptr);
    EXPECT_TRUE(platform->libraries().loaded(ModuleLibrary::FaceDetector));
    EXPECT_TRUE(platform->libraries().loaded(ModuleLibrary::RedEye));
    platform->Release();
}

TEST(PlatformCreate, NullOrEmptyFoldersLoadNothing) {
    IVXLPlatform* platform = VxlPlatformCreate(nullptr, nullptr, nullptr, nullptr, 0, 0, 0);
    ASSERT_NE(platform, nullptr);
    EXPECT_FALSE(static_cast<VXLPlatformWin*>(platform)->libraries().anyLoaded());
    platform->Release();
    EXPECT_EQ(VxlPlatformCreate("p", "", "", "", 1, 0, 0), nullptr);
}

TEST(PlatformCreate, OptionsFromPreviewOnlyAndEconomyLevel) {
    struct Case {
        int previewOnly, economyLevel;
        bool preview, noFullSize, noDetail;
    } const cases[] = {
        {0, 0, false, false, false}, {1, 0, true, false, false}, {1, 1, true, true, false},
        {0, 1, false, false, false}, {0, 2, false, false, true}, {1, 3, true, true, true},
        {1, -2, true, false, true},
    };
    ModuleFolder folder;
    for (const Case& c : cases) {
        VXLPlatformWin* platform = create(folder, 0, c.previewOnly, c.economyLevel);
        ASSERT_NE(platform, nullptr);
        EXPECT_EQ(platform->previewOnly(), c.preview) << c.previewOnly << "/" << c.economyLevel;
        EXPECT_EQ(platform->noFullSizeSource(), c.noFullSize) << c.previewOnly << "/" << c.economyLevel;
        EXPECT_EQ(platform->economyNoDetail(), c.noDetail) << c.previewOnly << "/" << c.economyLevel;
        platform->Release();
    }
}

// The partial engine fixture counts the calls the platform makes into it.
class PartialEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder.add(PLATFORM_FIXTURE_PARTIAL_ENGINE, VXL_ENGINE_FILE);
        // Holding the library open keeps its counters alive after the platform frees it.
        fixture = sysDynlibOpen(folder.file(VXL_ENGINE_FILE));
        ASSERT_NE(fixture, nullptr);
        createCalls = counter("fixtureCreateCalls");
        destroyCalls = counter("fixtureDestroyCalls");
        singleThreadedCalls = counter("fixtureSingleThreadedCalls");
        lastSingleThreaded = counter("fixtureLastSingleThreaded");
    }
    void TearDown() override { sysDynlibClose(fixture); }
    int* counter(const char* name) { return static_cast<int*>(sysDynlibSymbol(fixture, name)); }

    ModuleFolder folder;
    void* fixture = nullptr;
    int* createCalls = nullptr;
    int* destroyCalls = nullptr;
    int* singleThreadedCalls = nullptr;
    int* lastSingleThreaded = nullptr;
};

TEST_F(PartialEngineTest, EngineIsCreatedOnceAndDestroyedOnceThoughShutdownRunsTwice) {
    VXLPlatformWin* platform = create(folder, 1);
    ASSERT_NE(platform, nullptr);
    EXPECT_EQ(*createCalls, 1);
    VxlEngineHandle handle = platform->engineHandle();
    EXPECT_NE(handle, nullptr);

    platform->shutdown();
    platform->shutdown();
    EXPECT_EQ(*destroyCalls, 1);
    EXPECT_EQ(*static_cast<void**>(sysDynlibSymbol(fixture, "fixtureLastDestroyed")), handle);
    EXPECT_EQ(platform->engineHandle(), nullptr);
    EXPECT_FALSE(platform->libraries().anyLoaded());
    platform->Release();  // runs shutdown a third time: still one destroy
    EXPECT_EQ(*destroyCalls, 1);
}

TEST_F(PartialEngineTest, ForwardingOperationsSkipMissingEntryPoints) {
    VXLPlatformWin* platform = create(folder);
    ASSERT_NE(platform, nullptr);
    platform->SetSingleThreaded(true);
    EXPECT_TRUE(platform->singleThreaded());
    EXPECT_EQ(*singleThreadedCalls, 1);
    EXPECT_EQ(*lastSingleThreaded, 1);
    platform->SetSingleThreaded(false);
    EXPECT_EQ(*lastSingleThreaded, 0);

    int dummy;
    platform->SetAIEngines(&dummy, &dummy, &dummy);  // VXL_SetAIEngines is missing: skipped
    int first = 7, second = 7;
    EXPECT_EQ(platform->GetAutoSkintoneParameters(3, &first, &second), "");
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 0);
    platform->Release();
}

TEST(PlatformEngine, WithoutCreateEngineThereIsNoHandleAndNothingIsForwarded) {
    ModuleFolder folder;
    folder.add(PLATFORM_FIXTURE_FACE, VXL_ENGINE_FILE);  // loads, but has no "VXL_" names
    VXLPlatformWin* platform = create(folder, 1);
    ASSERT_NE(platform, nullptr);  // a loaded file counts even without its names
    EXPECT_EQ(platform->engineHandle(), nullptr);
    platform->SetSingleThreaded(true);
    platform->SetAIEngines(nullptr, nullptr, nullptr);
    EXPECT_TRUE(platform->singleThreaded());
    platform->Release();
}

TEST(PlatformEngine, SkintoneParametersComeFromTheEngineLibrary) {
    ModuleFolder folder;
    fill(folder, kEngine);
    VXLPlatformWin* platform = create(folder);
    ASSERT_NE(platform, nullptr);
    int first = 5, second = 5;
    EXPECT_EQ(platform->GetAutoSkintoneParameters(1, &first, &second), "");
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 0);
    platform->GetAutoSkintoneParameters(1, nullptr, nullptr);  // outputs may be left out
    platform->Release();
}

// ---- Slot order ----

// The vtable index a pointer to a virtual member stands for (Itanium C++ ABI: 1 + byte offset).
template <typename Member>
long slotOf(Member member) {
    struct {
        uintptr_t pointer;
        ptrdiff_t adjust;
    } raw;
    static_assert(sizeof raw == sizeof member, "member pointer layout");
    std::memcpy(&raw, &member, sizeof raw);
    return (raw.pointer & 1) ? long((raw.pointer - 1) / sizeof(void*)) : -1;
}

TEST(PlatformInterface, OperationsKeepTheirSlots) {
    const long slots[] = {
        slotOf(&IVXLPlatform::OpenImageFile),   slotOf(&IVXLPlatform::OpenHostImage),
        slotOf(&IVXLPlatform::GetImage),        slotOf(&IVXLPlatform::ApplyCorrection),
        slotOf(&IVXLPlatform::StartCorrection), slotOf(&IVXLPlatform::ConvertResultForDisplay),
        slotOf(&IVXLPlatform::GetResizedImage), slotOf(&IVXLPlatform::ProcessFile),
        slotOf(&IVXLPlatform::ProcessHostImage), slotOf(&IVXLPlatform::GetLutKeys),
        slotOf(&IVXLPlatform::GetFaces),        slotOf(&IVXLPlatform::GetFaceLandmarks),
        slotOf(&IVXLPlatform::SetFace),         slotOf(&IVXLPlatform::SetFaces),
        slotOf(&IVXLPlatform::ResetFaces),      slotOf(&IVXLPlatform::GetHistogram),
        slotOf(&IVXLPlatform::Reserved16),      slotOf(&IVXLPlatform::Reserved17),
        slotOf(&IVXLPlatform::Reserved18),      slotOf(&IVXLPlatform::Reserved19),
        slotOf(&IVXLPlatform::Reserved20),      slotOf(&IVXLPlatform::GetImageInfo),
        slotOf(&IVXLPlatform::GetThumbnail),    slotOf(&IVXLPlatform::GetMaskOverlays),
        slotOf(&IVXLPlatform::FreeThumbnail),   slotOf(&IVXLPlatform::GetToneCurves),
        slotOf(&IVXLPlatform::GetFingerprint),  slotOf(&IVXLPlatform::CloseImage),
        slotOf(&IVXLPlatform::SetSingleThreaded), slotOf(&IVXLPlatform::SetUserData),
        slotOf(&IVXLPlatform::GetUserData),     slotOf(&IVXLPlatform::GetAutoSkintoneParameters),
        slotOf(&IVXLPlatform::SetMasks),        slotOf(&IVXLPlatform::SetFaceMesh),
        slotOf(&IVXLPlatform::SetAIEngines),    slotOf(&IVXLPlatform::Release),
    };
    static_assert(sizeof slots / sizeof slots[0] == kVxlPlatformSlotCount, "every slot listed");
    for (long i = 0; i < kVxlPlatformSlotCount; ++i)
        EXPECT_EQ(slots[i], i);
}

TEST(PlatformInterface, CallersReachOperationsByPosition) {
    ModuleFolder folder;
    IVXLPlatform* platform = create(folder);
    ASSERT_NE(platform, nullptr);
    void** table = *reinterpret_cast<void***>(platform);
    int marker = 0;
    reinterpret_cast<void (*)(IVXLPlatform*, void*)>(table[29])(platform, &marker);
    EXPECT_EQ(platform->GetUserData(), &marker);
    EXPECT_EQ(reinterpret_cast<void* (*)(IVXLPlatform*)>(table[30])(platform), &marker);
    EXPECT_EQ(reinterpret_cast<int (*)(IVXLPlatform*)>(table[27])(platform), 0);
    reinterpret_cast<void (*)(IVXLPlatform*)>(table[35])(platform);  // Release
}

TEST(PlatformInterface, OperationsWithoutAnImageAnswerAsDocumented) {
    ModuleFolder folder;
    fill(folder, kEngine | kRedEye);
    IVXLPlatform* platform = create(folder);
    ASSERT_NE(platform, nullptr);
    ImageView view = {};
    uint8_t table[1024];
    std::string text;
    int count = 0, decoded = 0, width = 0, height = 0;
    struct Answer {
        const char* operation;
        int answer;
        int expected;
    } const answers[] = {
        {"OpenImageFile", platform->OpenImageFile("/tmp/none.jpg", nullptr, 1200, nullptr, nullptr, nullptr, nullptr), -1},
        {"OpenHostImage", platform->OpenHostImage(nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr), -1},
        {"GetImage", platform->GetImage(&view, true, true), 0},
        {"ApplyCorrection", platform->ApplyCorrection(nullptr, nullptr, false), 0},
        {"StartCorrection", platform->StartCorrection(nullptr, nullptr, nullptr), 0},
        {"ConvertResultForDisplay", platform->ConvertResultForDisplay(false), 0},
        {"ProcessFile", platform->ProcessFile("a", "b", nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), -1},
        {"ProcessHostImage", platform->ProcessHostImage(nullptr, nullptr, 0, 0, nullptr, nullptr), -1},
        {"GetFaces", platform->GetFaces(nullptr, &count), -1},
        {"GetFaceLandmarks", platform->GetFaceLandmarks(nullptr, &count), -1},
        {"SetFace", platform->SetFace(nullptr), -1},
        {"SetFaces", platform->SetFaces(nullptr, 0), -1},
        {"ResetFaces", platform->ResetFaces(), -1},
        {"GetHistogram", platform->GetHistogram(table, nullptr, false, 0), -1},
        {"Reserved16", platform->Reserved16(), -1},
        {"Reserved17", platform->Reserved17(), -1},
        {"Reserved18", platform->Reserved18(), -1},
        {"Reserved19", platform->Reserved19(), -1},
        {"Reserved20", platform->Reserved20(), -1},
        {"GetImageInfo", platform->GetImageInfo(nullptr, nullptr, nullptr, &width, &height, nullptr, nullptr, nullptr,
                                                nullptr, nullptr), -1},
        {"GetThumbnail", platform->GetThumbnail("/tmp/none.jpg", 100, &view, &decoded, nullptr), -1},
        {"GetMaskOverlays", platform->GetMaskOverlays(&view, &view, nullptr, 0, 1, 1.0f, 256, 2), -1},
        {"FreeThumbnail", platform->FreeThumbnail(&view), 0},
        {"GetToneCurves", platform->GetToneCurves(table, nullptr, 0, 0, 0, 0), 0},
        {"GetFingerprint", platform->GetFingerprint(&text), -1},
    };
    for (const Answer& a : answers)
        EXPECT_EQ(a.answer, a.expected) << a.operation;
    EXPECT_EQ(view.width, 0);  // no image: an empty view
    EXPECT_EQ(view.data[0], nullptr);
    EXPECT_TRUE(platform->GetLutKeys().empty());
    platform->SetFaceMesh(0, nullptr);
    platform->Release();
}

// ---- Small operations ----

TEST(PlatformOperations, CloseImageSwitchesToPreviewOnlyOnce) {
    ModuleFolder folder;
    VXLPlatformWin* platform = create(folder);
    ASSERT_NE(platform, nullptr);
    EXPECT_FALSE(platform->previewOnly());
    EXPECT_EQ(platform->CloseImage(), 0);
    EXPECT_TRUE(platform->previewOnly());
    EXPECT_EQ(platform->CloseImage(), 0);
    EXPECT_TRUE(platform->previewOnly());
    platform->Release();

    VXLPlatformWin* previewPlatform = create(folder, 0, 1, 1);
    ASSERT_NE(previewPlatform, nullptr);
    EXPECT_EQ(previewPlatform->CloseImage(), 0);
    EXPECT_TRUE(previewPlatform->previewOnly());
    EXPECT_TRUE(previewPlatform->noFullSizeSource());
    previewPlatform->Release();
}

TEST(PlatformOperations, UserDataIsStoredAndNeverFreed) {
    ModuleFolder folder;
    IVXLPlatform* platform = create(folder);
    ASSERT_NE(platform, nullptr);
    EXPECT_EQ(platform->GetUserData(), nullptr);
    int owned = 0;
    platform->SetUserData(&owned);  // a stack object: freeing it would crash
    EXPECT_EQ(platform->GetUserData(), &owned);
    platform->Release();
}

ImageView maskView(std::vector<uint8_t>& pixels, int width, int height, int rowBytes) {
    ImageView view = {};
    view.width = width;
    view.height = height;
    view.rowBytes = rowBytes;
    view.bytesPerPixel = 1;
    pixels.assign(size_t(rowBytes > 0 ? rowBytes : 0) * (height > 0 ? height : 0), 0);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(i * 7);
    view.data[0] = pixels.data();
    view.data[1] = reinterpret_cast<uint8_t*>(0x10);  // other channel pointers are kept as given
    return view;
}

TEST(PlatformOperations, SetMasksKeepsPrivateCopies) {
    ModuleFolder folder;
    VXLPlatformWin* platform = create(folder);
    ASSERT_NE(platform, nullptr);
    std::vector<uint8_t> pixelsA, pixelsB;
    ImageView a = maskView(pixelsA, 10, 6, 12);
    ImageView b = maskView(pixelsB, 4, 4, 4);
    b.data[0] = nullptr;  // the second mask has no pixels: it stays cleared

    platform->SetMasks(&a, &b);
    const ImageView& copy = platform->maskCopy(0);
    ASSERT_NE(copy.data[0], nullptr);
    EXPECT_NE(copy.data[0], pixelsA.data());
    EXPECT_EQ(copy.width, 10);
    EXPECT_EQ(copy.rowBytes, 12);
    EXPECT_EQ(copy.data[1], a.data[1]);
    const std::vector<uint8_t> original = pixelsA;
    std::fill(pixelsA.begin(), pixelsA.end(), 0xff);  // the caller's later changes do not reach the copy
    EXPECT_EQ(std::memcmp(copy.data[0], original.data(), original.size()), 0);
    EXPECT_EQ(platform->maskCopy(1).data[0], nullptr);

    platform->SetMasks(&b, nullptr);  // no pixels anywhere: the earlier copies go
    EXPECT_EQ(platform->maskCopy(0).data[0], nullptr);
    EXPECT_EQ(platform->maskCopy(1).data[0], nullptr);
    platform->Release();
}

TEST(PlatformOperations, SetMasksRefusesMasksWithoutAPixelBlock) {
    ModuleFolder folder;
    VXLPlatformWin* platform = create(folder);
    ASSERT_NE(platform, nullptr);
    std::vector<uint8_t> pixels;
    ImageView good = maskView(pixels, 8, 8, 8);
    for (const std::pair<int, int>& geometry : {std::pair<int, int>{-8, 8}, {8, -8}, {0, 8}, {8, 0}}) {
        ImageView bad = good;
        bad.rowBytes = geometry.first;
        bad.height = geometry.second;
        platform->SetMasks(&bad, &good);
        EXPECT_EQ(platform->maskCopy(0).data[0], nullptr) << geometry.first << "x" << geometry.second;
        EXPECT_NE(platform->maskCopy(1).data[0], nullptr);
    }
    platform->Release();
}

}  // namespace
