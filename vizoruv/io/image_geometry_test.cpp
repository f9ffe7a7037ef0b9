#include "vizoruv/io/image_geometry.h"

#include <gtest/gtest.h>

#include <vector>

TEST(ImageGeometryTest, RowStrideAndRotatableLength) {
    EXPECT_EQ(rowStride(101, 48), 608u);
    EXPECT_EQ(rowStride(50, 48), 300u);
    EXPECT_EQ(rowStride(5, 24), 16u);
    EXPECT_EQ(rowStride(5, 32), 20u);
    EXPECT_EQ(rowStride(320, 24), 960u);
    // Room for either orientation plus one row.
    EXPECT_EQ(rotatableByteLength(101, 50, 48), 608u * 51);
    EXPECT_EQ(rotatableByteLength(50, 101, 48), 608u * 51);
    EXPECT_EQ(rotatableByteLength(60000, 60000, 64), 0u);  // does not fit in an int32
}

TEST(ImageGeometryTest, AspectFitRectFitsAndCentres) {
    struct Case { float w, h; FitBox expected; } cases[] = {
        {6000, 4000, {0, 200, 1200, 800}},
        {4000, 6000, {200, 0, 800, 1200}},
        {1200, 1200, {0, 0, 1200, 1200}},
        {1201, 3, {0, 599, 1200, 2}},
    };
    for (const Case& c : cases) {
        FitBox fit = aspectFitRect({0, 0, 1200, 1200}, c.w, c.h);
        EXPECT_EQ(fit.x, c.expected.x) << c.w << "x" << c.h;
        EXPECT_EQ(fit.y, c.expected.y) << c.w << "x" << c.h;
        EXPECT_EQ(fit.width, c.expected.width) << c.w << "x" << c.h;
        EXPECT_EQ(fit.height, c.expected.height) << c.w << "x" << c.h;
    }
}

namespace {

// A 3 x 2 picture of one-byte "pixels" a b c / d e f, in a buffer with room for both orientations.
struct Labels {
    std::vector<uint8_t> block;
    ImageBuffer buffer;
    Labels() : block(64, 0) {
        const char rows[2][4] = {"abc", "def"};
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                block[y * 4 + x] = uint8_t(rows[y][x]);
        buffer.pixels = block.data();
        buffer.size = int32_t(block.size());
        buffer.bitsPerChannel = 8;
        buffer.channels = 1;  // one byte per pixel: the transform is format-blind
        buffer.width = 3;
        buffer.height = 2;
        buffer.rowBytes = 4;
    }
    std::string rows() const {
        std::string text;
        for (int y = 0; y < buffer.height; ++y) {
            if (y)
                text += "/";
            for (int x = 0; x < buffer.width; ++x)
                text += char(block[y * buffer.rowBytes + x]);
        }
        return text;
    }
};

}  // namespace

TEST(ImageGeometryTest, OrientationsTurnAndMirrorAsExifSays) {
    const char* expected[] = {"abc/def", "abc/def", "cba/fed", "fed/cba", "def/abc",
                              "ad/be/cf", "da/eb/fc", "fc/eb/da", "cf/be/ad"};
    for (int orientation = 0; orientation <= 8; ++orientation) {
        Labels labels;
        EXPECT_EQ(orientBuffer(orientation, &labels.buffer), 1);
        EXPECT_EQ(labels.rows(), expected[orientation]) << "orientation " << orientation;
    }
}

TEST(ImageGeometryTest, OrientationRefusesABlockTooSmallForTheTurn) {
    Labels labels;
    labels.buffer.size = 8;  // 3 x 2 fits, 2 rows of 4 bytes; the turned 2 x 3 needs 3 rows of 4
    EXPECT_EQ(orientBuffer(6, &labels.buffer), 6);
    EXPECT_EQ(labels.rows(), "abc/def");
    EXPECT_EQ(labels.buffer.width, 3);
}

TEST(ImageGeometryTest, RawCandidatesByExtension) {
    struct Case { const char* path; bool raw; } cases[] = {
        {"a.JPG", false}, {"a.jpeg", false}, {"b.TiFf", false}, {"c.bmp", false}, {"d.png", false},
        {"e.gif", false}, {"f.tif", false}, {"g.CR2", true}, {"h.dng", true}, {"noextension", true},
        {"dir.jpg/file", true}, {"x.jpe", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isRawCandidate(c.path), c.raw) << c.path;
}

TEST(ImageGeometryTest, TextConversions) {
    EXPECT_EQ(utf8ToWide(nullptr), u"");
    EXPECT_EQ(utf8ToWide("Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80"), u"Grüße \U0001F600");
    EXPECT_EQ(utf8ToWide("a\xFF" "b\xC3"), u"a\uFFFDb\uFFFD");
    EXPECT_EQ(utf8ToWide("\xED\xA0\x80"), u"\uFFFD");  // an encoded surrogate
    EXPECT_EQ(wideToUtf8(u"Grüße \U0001F600"), "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80");
    EXPECT_EQ(wideToUtf8(std::u16string(u"a\xD800" "b")), "a\xEF\xBF\xBD" "b");
}
