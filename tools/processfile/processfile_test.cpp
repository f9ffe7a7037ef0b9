// processfile run as a program on pictures the tests write, its outputs read back by programs that
// share no code with ours: libtiff's tiffinfo, Exiv2's exiv2 and ImageMagick's identify (Debian
// packages libtiff-tools, exiv2 and imagemagick).
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "vizoruv/io/image_decoder.h"
#include "vizoruv/io/testing/io_test_support.h"
#include "vizoruv/io/testing/raw_test_files.h"

namespace {

struct Outcome {
    int status = -1;  // the exit status; -1 when the program could not be run
    std::string out;
    std::string err;
};

std::string quoted(const std::string& text) {
    std::string q = "'";
    for (char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class ProcessFileTool : public ::testing::Test {
protected:
    // Runs a program with the arguments; its standard error goes through a file of the scratch folder.
    Outcome run(const std::string& program, const std::vector<std::string>& arguments) const {
        std::string command = quoted(program);
        for (const std::string& a : arguments)
            command += " " + quoted(a);
        const std::string errors = scratch.file("stderr.txt");
        command += " 2>" + quoted(errors);
        Outcome outcome;
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe)
            return outcome;
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            outcome.out.append(buffer, n);
        const int status = pclose(pipe);
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        outcome.err = fileText(errors);
        return outcome;
    }

    Outcome processfile(const std::vector<std::string>& arguments) const {
        return run(PROCESSFILE_EXECUTABLE, arguments);
    }

    // The reader ran, answered 0 and said nothing on its error output.
    void expectReadsClean(const std::string& reader, const std::vector<std::string>& arguments) const {
        const Outcome read = run(reader, arguments);
        ASSERT_NE(read.status, 127) << reader << " is not installed (scripts/packages.txt lists it)";
        EXPECT_EQ(read.status, 0) << reader << ": " << read.err;
        EXPECT_EQ(read.err, "") << reader;
    }

    std::string picture(const std::string& name, wic::Container container, const wic::Bitmap& pixels,
                        const std::function<void(ImageMetadata&)>& edit = {}) const {
        const std::string path = scratch.file(name);
        io_test::writePicture(path, container, pixels, edit);
        return path;
    }

    // Width and height as identify reports them.
    std::string identifiedSize(const std::string& path) const {
        return run("identify", {"-format", "%w %h", path}).out;
    }

    io_test::ScratchFolder scratch;
};

// A camera's facts, a comment-free EXIF block and XMP.
void cameraFacts(ImageMetadata& m) {
    m.set("/app1/ifd/{ushort=271}", MetaValue::ofString("Solvane Optics"));
    m.set("/app1/ifd/{ushort=272}", MetaValue::ofString("Model 7"));
    m.set("/app1/ifd/exif/{ushort=36867}", MetaValue::ofString("2024:05:17 10:11:12"));
    m.set("/app1/ifd/gps/{ushort=1}", MetaValue::ofString("N"));
    m.set("/iptc/Keywords", MetaValue::ofString("harbour"));
    m.set("/xmp/xmp:CreatorTool", MetaValue::ofWide(u"Camera firmware"));
}

TEST_F(ProcessFileTool, WrittenFilesReadCleanInLibtiffExiv2AndImageMagick) {
    const std::string jpeg = picture("camera.jpg", wic::Container::Jpeg, io_test::smooth(90, 60), cameraFacts);
    wic::Bitmap wide;
    ASSERT_TRUE(wic::convertFormat(wic::refOf(io_test::smooth(90, 60)), wic::PixelFormat::Rgb48, &wide));
    const std::string png16 = picture("deep.png", wic::Container::Png, wide, cameraFacts);
    rawtest::DngOptions dng;
    dng.width = 90;
    dng.height = 60;
    const std::string raw = scratch.file("camera.dng");
    rawtest::writeFile(raw, rawtest::makeDng(dng));
    struct Case {
        const std::string& input;
        const char* output;
        const char* mode;
        const char* make;
    } const cases[] = {
        {jpeg, "out.jpg", "0", "Solvane Optics"},   {jpeg, "out.png", "0", "Solvane Optics"},
        {jpeg, "out.tif", "0", "Solvane Optics"},   {jpeg, "out.bmp", "0", ""},
        {jpeg, "prophoto.tif", "1", "Solvane Optics"}, {jpeg, "adobe.jpg", "2", "Solvane Optics"},
        {png16, "deep.tif", "0", "Solvane Optics"}, {png16, "deep-out.png", "0", "Solvane Optics"},
        {raw, "raw.tif", "0", "Keltrix"},           {raw, "raw.jpg", "0", "Keltrix"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        const std::string out = scratch.file(c.output);
        const Outcome written = processfile({"--mode", c.mode, c.input, out});
        ASSERT_EQ(written.status, 0) << written.err;
        EXPECT_EQ(written.err, "");
        expectReadsClean("identify", {"-verbose", out});
        EXPECT_EQ(identifiedSize(out), "90 60");
        const std::string name = c.output;
        if (name.find(".bmp") != std::string::npos)
            continue;  // BMP carries no metadata
        expectReadsClean("exiv2", {"-pa", out});
        const Outcome make = run("exiv2", {"-Pv", "-K", "Exif.Image.Make", out});
        EXPECT_EQ(make.out, std::string(c.make) + "\n");
        if (name.find(".tif") != std::string::npos)
            expectReadsClean("tiffinfo", {"-D", out});
    }
}

TEST_F(ProcessFileTool, AnEightBitGreyJpegConverts) {
    wic::Bitmap grey;
    ASSERT_TRUE(wic::convertFormat(wic::refOf(io_test::smooth(64, 48)), wic::PixelFormat::Gray8, &grey));
    const std::string in = picture("grey.jpg", wic::Container::Jpeg, grey);
    for (const char* name : {"grey-out.jpg", "grey-out.png", "grey-out.tif"}) {
        SCOPED_TRACE(name);
        const std::string out = scratch.file(name);
        const Outcome written = processfile({in, out});
        ASSERT_EQ(written.status, 0) << written.err;
        expectReadsClean("identify", {"-verbose", out});
        EXPECT_EQ(identifiedSize(out), "64 48");
    }
}

// EXIF and XMP both say "turn a quarter clockwise to view": the output is turned upright and both
// say "normal". The stored picture is red on the left and blue on the right, so the upright one is
// red at the top.
TEST_F(ProcessFileTool, ARotatedFileComesOutUprightWithBothTagsNormal) {
    wic::Bitmap halves;
    wic::allocateBitmap(&halves, wic::PixelFormat::Rgb24, 60, 40);
    for (uint32_t y = 0; y < 40; ++y)
        for (uint32_t x = 0; x < 60; ++x)
            halves.pixels[y * halves.stride + x * 3 + (x < 30 ? 0 : 2)] = 255;
    const std::string in = picture("turned.jpg", wic::Container::Jpeg, halves, [](ImageMetadata& m) {
        m.set("System.Photo.Orientation", MetaValue::ofUInt16(6));
        m.set("/xmp/tiff:Orientation", MetaValue::ofString("6"));
    });
    for (const char* name : {"upright.jpg", "upright.tif", "upright.png"}) {
        SCOPED_TRACE(name);
        const std::string out = scratch.file(name);
        const Outcome written = processfile({in, out});
        ASSERT_EQ(written.status, 0) << written.err;
        EXPECT_EQ(identifiedSize(out), "40 60");
        for (const char* key : {"Exif.Image.Orientation", "Xmp.tiff.Orientation"})
            EXPECT_EQ(run("exiv2", {"-Pv", "-K", key, out}).out, "1\n") << key;
        DecodedImage upright;
        ASSERT_EQ(decodeImageFile(out, DecodeRequest(), &upright, nullptr), 0);
        const uint8_t* top = upright.fullSize.pixels + 5 * upright.fullSize.rowBytes + 20 * 4;
        const uint8_t* bottom = upright.fullSize.pixels + 55 * upright.fullSize.rowBytes + 20 * 4;
        EXPECT_GT(top[0], 200);
        EXPECT_LT(top[2], 60);
        EXPECT_GT(bottom[2], 200);
        EXPECT_LT(bottom[0], 60);
    }
}

TEST_F(ProcessFileTool, APresetsCorrectionsApply) {
    const std::string in = picture("plain.png", wic::Container::Png, io_test::smooth(40, 30));
    const std::string preset = scratch.file("brighter.preset");
    std::ofstream(preset) << "<profiles><profile><names><name lang='en'>Brighter</name></names><correction>"
                             "<iDeltaR>40</iDeltaR><iDeltaG>40</iDeltaG><iDeltaB>40</iDeltaB>"
                             "</correction></profile></profiles>";
    const std::string plain = scratch.file("plain-out.png"), brighter = scratch.file("brighter-out.png");
    ASSERT_EQ(processfile({in, plain}).status, 0);
    const Outcome corrected = processfile({"--preset", preset, in, brighter});
    ASSERT_EQ(corrected.status, 0) << corrected.err;
    DecodedImage source, unchanged, bright;
    ASSERT_EQ(decodeImageFile(in, DecodeRequest(), &source, nullptr), 0);
    ASSERT_EQ(decodeImageFile(plain, DecodeRequest(), &unchanged, nullptr), 0);
    ASSERT_EQ(decodeImageFile(brighter, DecodeRequest(), &bright, nullptr), 0);
    const size_t bytes = size_t(source.fullSize.rowBytes) * source.fullSize.height;
    EXPECT_EQ(std::vector<uint8_t>(unchanged.fullSize.pixels, unchanged.fullSize.pixels + bytes),
              std::vector<uint8_t>(source.fullSize.pixels, source.fullSize.pixels + bytes));  // no preset: as it was
    uint64_t before = 0, after = 0;
    for (size_t i = 0; i < bytes; ++i) {
        before += source.fullSize.pixels[i];
        after += bright.fullSize.pixels[i];
    }
    EXPECT_GT(after, before + bytes * 5);
}

// Every failure ends with status 1 and one line that names the file at fault; a file already at
// OUT stays as it was. Wrong arguments end with status 2 and the usage.
TEST_F(ProcessFileTool, FailuresSayWhyInOneLine) {
    const std::string good = picture("good.png", wic::Container::Png, io_test::smooth(40, 30));
    const std::string junk = scratch.file("junk.jpg");
    std::ofstream(junk) << "not a picture";
    const std::string notPreset = scratch.file("notes.preset");
    std::ofstream(notPreset) << "<notes/>";
    const std::string kept = scratch.file("kept.jpg");
    std::ofstream(kept) << "an older file";
    struct Case {
        std::vector<std::string> arguments;
        std::string named;  // the line names it
    } const cases[] = {
        {{scratch.file("missing.jpg"), kept}, scratch.file("missing.jpg")},
        {{junk, kept}, junk},
        {{"--preset", scratch.file("missing.preset"), good, kept}, scratch.file("missing.preset")},
        {{"--preset", notPreset, good, kept}, notPreset},
        {{good, scratch.file("no/such/folder/out.jpg")}, scratch.file("no/such/folder/out.jpg")},
        {{good, scratch.file("out.psd")}, scratch.file("out.psd")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.named);
        const Outcome failed = processfile(c.arguments);
        EXPECT_EQ(failed.status, 1);
        EXPECT_NE(failed.err.find(c.named), std::string::npos) << failed.err;
        ASSERT_FALSE(failed.err.empty());
        EXPECT_EQ(failed.err.find('\n'), failed.err.size() - 1) << failed.err;
        EXPECT_EQ(fileText(kept), "an older file");
    }
    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{good}, {"--mode", "9", good, kept}, {"--mode", "x", good, kept}, {"--what", good, kept}}) {
        const Outcome refused = processfile(wrong);
        EXPECT_EQ(refused.status, 2);
        EXPECT_NE(refused.err.find("usage: processfile"), std::string::npos) << refused.err;
    }
}

}  // namespace
