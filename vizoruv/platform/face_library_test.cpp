// The platform on the build's own module folder: it loads the face-detector library built there
// and the detector made through the bound entry point runs.
#include "vizoruv/platform/vxl_platform_win.h"

#include "facesdk/detect/detector.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(FaceLibrary, PlatformLoadsTheBuiltLibraryAndItsDetectorRuns) {
    IVXLPlatform* created = VxlPlatformCreate("Test Product", PLATFORM_MODULES_DIR, "/tmp/encoder", "/tmp/user", 1, 0, 0);
    ASSERT_NE(created, nullptr);
    VXLPlatformWin* platform = static_cast<VXLPlatformWin*>(created);
    ASSERT_TRUE(platform->libraries().loaded(ModuleLibrary::FaceDetector));
    const PFN_FdDetectorCreate create = platform->libraries().faceDetector().FdDetectorCreate;
    ASSERT_NE(create, nullptr);

    // the platform's request, and the one it falls back to
    for (uint32_t flags : {uint32_t(kDetectorFlagEyeBoxes | kDetectorFlagFaceScore | kDetectorFlagSkinPrefilter),
                           uint32_t(kDetectorFlagEyeBoxes | kDetectorFlagSkinPrefilter)}) {
        DetectorConfig config{};
        config.size = sizeof config;
        config.flags = flags;
        config.framesPerFullScan = 5;
        config.boxSmoothing = 50;
        void* made = nullptr;
        ASSERT_EQ(create(nullptr, &config, &made), kResultOk);
        FaceDetector* detector = static_cast<FaceDetector*>(made);
        const FaceDetectorMethods* ops = *reinterpret_cast<const FaceDetectorMethods* const*>(detector);
        std::vector<uint8_t> pixels(64 * 48 * 2, 128);
        DetectorImage image{};
        image.size = sizeof image;
        image.width = 64;
        image.height = 48;
        image.stride = 64 * 2;
        image.format = 4;  // UYVY, as the platform converts its detection copy
        image.pixels = pixels.data();
        EXPECT_EQ(ops->detect(detector, &image, nullptr, nullptr), kResultNotFound);
        EXPECT_EQ(ops->nextFace(detector, nullptr), nullptr);
        ops->destroy(detector);
    }
    platform->Release();
}

}  // namespace
