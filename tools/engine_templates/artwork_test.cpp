#include "tools/engine_templates/artwork.h"

#include <gtest/gtest.h>

#include <cstring>

#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/engine/model_blob.h"

// The committed catalogue is what the generator draws today: a change of the artwork must be
// followed by running engine_templates again.
TEST(EngineTemplates, CommittedCatalogueMatchesTheArtwork)
{
    CountingAllocator counter;
    for (int group = 0; group < kArtGroups; ++group) {
        ASSERT_EQ(modelBlobCount(group), artEntryCount(group));
        for (int index = 0; index < artEntryCount(group); ++index) {
            const TemplateArt art = drawTemplateArt(group, index);
            const std::vector<uint8_t> expected = makeTemplateRecord(
                art.width, art.height, art.picture.empty() ? nullptr : art.picture.data(),
                art.mask.empty() ? nullptr : art.mask.data());
            uint8_t *record = lzwUnpack(counter.allocator(), modelBlobEntry(group, index)->blob + 8);
            ASSERT_NE(record, nullptr);
            ASSERT_EQ(byteArrayCapacity(record), expected.size());
            EXPECT_EQ(std::memcmp(record, expected.data(), expected.size()), 0)
                << group << "/" << index;
            byteArrayFree(counter.allocator(), record);
        }
    }
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

TEST(EngineTemplates, EyeMasksStayOutOfTheEyeOpening)
{
    // A point well inside the opening of each layout is 0 in the shadow and layer masks.
    for (int level = 0; level < 6; ++level) {
        const TemplateArt dark = drawTemplateArt(3, level);
        EXPECT_EQ(dark.mask[size_t(190) * dark.width + 240], 0);
        EXPECT_GT(dark.mask[size_t(140) * dark.width + 240], 0);  // just above the upper lid
    }
    for (int entry = 0; entry < 12; ++entry) {
        const TemplateArt layer = drawTemplateArt(4, entry);
        EXPECT_EQ(layer.mask[size_t(64) * layer.width + 90], 0);
    }
}
