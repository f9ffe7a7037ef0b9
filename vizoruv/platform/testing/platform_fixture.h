// Test helpers of the platform's image operations: a platform over a module folder with the built
// engine and red-eye libraries, picture files made by the test, and correction stacks.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "vizoruv/adjust/correction_stack.h"
#include "vizoruv/adjust/layer_mask.h"
#include "vizoruv/io/testing/io_test_support.h"
#include "vizoruv/platform/testing/module_folder.h"
#include "vizoruv/platform/vxl_platform_win.h"

namespace platform_test {

// A correction stack of four blocks, as the editing model hands them over; the test fills the
// first, the others stay unrendered (mask type 0).
struct Stack {
    VXLParams blocks[4]{};
    VXLParams& block = blocks[0];
    LayerMask masks[4] = {defaultLayerMask(), defaultLayerMask(), defaultLayerMask(), defaultLayerMask()};
    MaskTransform transform = defaultMaskTransform();
    CorrectionStack stack{4, blocks, masks, &transform, nullptr, 0};

    Stack() {
        for (VXLParams& b : blocks)
            b.version = 6;
    }
    Stack(const Stack&) = delete;
    Stack& operator=(const Stack&) = delete;

    // The finishing exposure: brightens the picture without the engine library.
    Stack& finishExposure(int amount) {
        block.bGroupFinishing = true;
        block.bFinishExposure = amount != 0;
        block.iFinishExposure = amount;
        return *this;
    }
};

class PlatformFixture : public ::testing::Test {
protected:
    void SetUp() override {
        modules.addBuilt(VXL_ENGINE_FILE);
        modules.addBuilt(RE_LIBRARY_FILE);
        platform = static_cast<VXLPlatformWin*>(VxlPlatformCreate("Test", modules.path().c_str(),
                                                                  scratch.path.c_str(), scratch.path.c_str(), 1, 0, 0));
        ASSERT_NE(platform, nullptr);
    }
    void TearDown() override {
        if (platform)
            platform->Release();
    }

    // A smooth colour picture of the container's kind, written into the scratch folder.
    std::string picture(const std::string& name, wic::Container container, uint32_t width = 160,
                        uint32_t height = 120,
                        const std::function<void(ImageMetadata&)>& edit = {}) const {
        const std::string path = scratch.file(name);
        io_test::writePicture(path, container, io_test::smooth(width, height), edit);
        return path;
    }

    int open(const std::string& path, const CorrectionStack* stack = nullptr) {
        return platform->OpenImageFile(path.c_str(), stack, 1200, nullptr, nullptr, nullptr, nullptr);
    }

    // Sum of the first three channels over the view.
    static uint64_t brightness(const ImageView& view) {
        uint64_t sum = 0;
        for (int y = 0; y < view.height; ++y)
            for (int x = 0; x < view.width; ++x)
                for (int c = 0; c < 3; ++c)
                    sum += view.data[0][size_t(y) * view.rowBytes + size_t(x) * view.bytesPerPixel + c];
        return sum;
    }

    uint64_t previewBrightness(bool unedited, bool fullSize = false) {
        ImageView view;
        platform->GetImage(&view, unedited, fullSize);
        return view.data[0] ? brightness(view) : 0;
    }

    ModuleFolder modules;
    io_test::ScratchFolder scratch;
    VXLPlatformWin* platform = nullptr;
};

}  // namespace platform_test
