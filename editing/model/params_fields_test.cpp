#include "editing/model/params_fields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "editing/model/hue_tables.h"

namespace {

std::size_t alignmentOf(ParamsFieldKind kind)
{
    return kind == ParamsFieldKind::Bool || kind == ParamsFieldKind::LutId ? 1 : 4;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

} // namespace

// A field missing from the table leaves a gap wider than alignment padding.
TEST(ParamsFields, TableCoversTheWholeBlockInLayoutOrder)
{
    std::size_t count = 0;
    const ParamsField* fields = paramsFields(&count);
    ASSERT_EQ(count, 202u);
    std::size_t end = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const ParamsField& f = fields[i];
        ASSERT_GE(f.offset, end) << f.name;
        EXPECT_LT(f.offset - end, alignmentOf(f.kind)) << "gap before " << f.name;
        EXPECT_EQ(f.offset % alignmentOf(f.kind), 0u) << f.name;
        end = f.offset + f.size;
    }
    EXPECT_EQ(end, sizeof(VXLParams));
}

TEST(ParamsFields, DumpWritesOneLinePerFieldAndRecord)
{
    restoreHueTable(false);
    VXLParams block;
    defaultParams(&block, false);
    block.inLUT = parseGuidHex("00112233445566778899aabbccddeeff");
    block.iDeltaR = -7;
    const std::vector<std::string> out = lines(dumpParams(block));
    ASSERT_EQ(out.size(), 200u + 2 * 8);
    EXPECT_EQ(out.front(), "ASSOn=true");
    EXPECT_EQ(out.back(), "iPortraitLightFeather=25");
    const auto has = [&out](const std::string& line) {
        return std::find(out.begin(), out.end(), line) != out.end();
    };
    EXPECT_TRUE(has("tintScale=0"));
    EXPECT_TRUE(has("contrast=0.5"));
    EXPECT_TRUE(has("noiseMode=-1"));
    EXPECT_TRUE(has("iDeltaR=-7"));
    EXPECT_TRUE(has("binLUT=false"));
    EXPECT_TRUE(has("inLUT=00112233445566778899aabbccddeeff"));
    EXPECT_TRUE(has("colorSkinToning=0xFFF5BCA9"));
    EXPECT_TRUE(has("selectiveColor[0]=337|352|7|22|0|0|0"));
    EXPECT_TRUE(has("blackWhite[7]=297|312|327|342|0|-100|0"));
}

TEST(ParamsFields, FloatsAreWrittenShortestAndReadBackExactly)
{
    VXLParams block{};
    block.contrast = 0.2f;
    block.dp2_fGamma = 1.0f / 3.0f;
    std::size_t count = 0;
    const ParamsField* fields = paramsFields(&count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string name = fields[i].name;
        if (name == "contrast") {
            EXPECT_EQ(paramsFieldText(block, fields[i]), "0.2");
        } else if (name == "dp2_fGamma") {
            EXPECT_EQ(std::stof(paramsFieldText(block, fields[i])), 1.0f / 3.0f);
        }
    }
}
