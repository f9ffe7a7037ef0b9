#include "editing/model/preset_correction_element.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <tuple>

#include "editing/model/params_fields.h"
#include "editing/model/testing/preset_environment.h"

namespace {

using preset_test::profileFromXml;

SharedPreset withCorrection(const QString& children, const QString& element = QStringLiteral("correction"))
{
    const SharedPreset preset = profileFromXml(
        QStringLiteral("<profile><%1>%2</%1></profile>").arg(element, children));
    EXPECT_TRUE(preset->params);
    return preset;
}

std::string fieldText(const VXLParams& block, const char* name)
{
    std::size_t count = 0;
    const ParamsField* fields = paramsFields(&count);
    for (std::size_t i = 0; i < count; ++i)
        if (std::strcmp(fields[i].name, name) == 0)
            return paramsFieldText(block, fields[i]);
    ADD_FAILURE() << "no field " << name;
    return {};
}

struct KeyCase {
    const char* children; // inside "correction"
    const char* field;
    const char* expected; // the field as paramsFieldText writes it
};

TEST(CorrectionElement, KeysConvertTheirText)
{
    const KeyCase cases[] = {
        {"<strength>80</strength>", "strength", "80"},
        {"<strength>abc</strength>", "strength", "0"},
        {"<tintScale>37.5</tintScale>", "tintScale", "0.375"},
        {"<contrast>20</contrast>", "contrast", "0.2"},
        {"<shrp_scal_1>1.25</shrp_scal_1>", "shrp_scal_1", "1.25"},
        {"<fbSmoothMode>1</fbSmoothMode>", "fbSmoothMode", "0"},
        {"<fbSkinToningType>3</fbSkinToningType>", "fbSkinToningType", "2"},
        {"<fbLipSharpType>2</fbLipSharpType>", "fbLipSharpType", "1"},
        {"<fbSmooth>true</fbSmooth>", "fbSmooth", "1"},
        {"<fbSmooth>42</fbSmooth>", "fbSmooth", "42"},
        {"<noiseDetails>4</noiseDetails><noiseDetail>7</noiseDetail>", "noiseDetail", "7"},
        {"<noiseDetail>7</noiseDetail><noiseDetails>4</noiseDetails>", "noiseDetail", "7"},
        {"<noiseDetails>4</noiseDetails>", "noiseDetail", "4"},
        {"<tintMethod>3</tintMethod><whiteBalanceType>2</whiteBalanceType>", "tintMethod", "3"},
        {"<whiteBalanceType>2</whiteBalanceType>", "tintMethod", "2"},
        {"<iDarkSkin>30</iDarkSkin>", "bDarkSkin", "true"},
        {"<iDarkSkin>30</iDarkSkin><bDarkSkin>false</bDarkSkin>", "bDarkSkin", "false"},
        {"<inLUT>0102030405060708090a0b0c0d0e0f</inLUT>", "inLUT", "00000000000000000000000000000000"},
        {"<inLUT>0102030405060708090a0b0c0d0e0f10</inLUT>", "inLUT", "0102030405060708090a0b0c0d0e0f10"},
        {"<boutLUT>TRUE</boutLUT>", "boutLUT", "true"},
        {"<ASSOn>False</ASSOn>", "ASSOn", "false"},
        {"<ASSOn>yes</ASSOn>", "ASSOn", "false"},
        {"<colorBlush>4294901760</colorBlush>", "colorBlush", "0xFFFF0000"},
        {"<colorBlush>red</colorBlush>", "colorBlush", "0x00000000"},
        {"<dp2_fGamma>2.2</dp2_fGamma>", "dp2_fGamma", "2.2"},
        {"<bGroupSelectiveColor>true</bGroupSelectiveColor>", "bGroupSelectiveColor", "true"},
        {"<strength>1</strength><strength>2</strength>", "strength", "2"},
        {"<unknown><strength>5</strength></unknown><strength>6</strength>", "strength", "6"},
    };
    for (const KeyCase& c : cases) {
        const SharedPreset preset = withCorrection(QString::fromUtf8(c.children));
        EXPECT_EQ(fieldText(preset->layerParams(0), c.field), c.expected) << c.children;
    }
}

TEST(CorrectionElement, KeyNamesAreCaseSensitive)
{
    VXLParams defaults;
    defaultParams(&defaults);
    const SharedPreset preset = withCorrection(QStringLiteral("<BOUTLUT>true</BOUTLUT><Strength>5</Strength>"));
    EXPECT_EQ(preset->layerParams(0).boutLUT, defaults.boutLUT);
    EXPECT_EQ(preset->layerParams(0).strength, defaults.strength);
}

TEST(CorrectionElement, GroupSwitchesAreDerivedUnlessTheElementNamesOne)
{
    const SharedPreset derived = withCorrection(QStringLiteral("<strength>80</strength>"));
    const VXLParams& d = derived->layerParams(0);
    EXPECT_EQ(d.strength, 80);
    EXPECT_TRUE(d.bGroupTone);
    EXPECT_FALSE(d.bGroupColor);
    EXPECT_TRUE(d.bGroupDetails);
    EXPECT_FALSE(d.bGroupFace);
    EXPECT_TRUE(d.bGroupEyes);
    EXPECT_TRUE(d.bGroupSkin);
    EXPECT_FALSE(d.bGroupMakeup);
    EXPECT_FALSE(d.bGroupLooks);
    EXPECT_FALSE(d.bGroupPreprocess);
    EXPECT_FALSE(d.bGroupQuickCorrect);
    EXPECT_TRUE(d.bGroupSkintone);

    for (const char* marking : {"<bGroupTone>false</bGroupTone>", "<bGroupGradfilter>false</bGroupGradfilter>"}) {
        const SharedPreset named = withCorrection(QString::fromLatin1(marking));
        const VXLParams& n = named->layerParams(0);
        EXPECT_FALSE(n.bGroupTone || n.bGroupDetails || n.bGroupEyes || n.bGroupSkin || n.bGroupSkintone) << marking;
    }
    // The selective-colour group switch does not stop the derivation.
    const SharedPreset unmarked = withCorrection(QStringLiteral("<bGroupSelectiveColor>true</bGroupSelectiveColor>"));
    EXPECT_TRUE(unmarked->layerParams(0).bGroupTone);
}

TEST(CorrectionElement, SelectiveColourAndBlackWhiteRecords)
{
    const SharedPreset preset = withCorrection(QStringLiteral(
        "<SelectiveColor3>337|352|7|22|5|-20|0</SelectiveColor3>"
        "<SelectiveColor4>1|2|3</SelectiveColor4>"
        "<BlackWhite0> 10| 20| 30| 40| 50| 60| 70</BlackWhite0>"
        "<BlackWhite1>10 |20|30|40|50|60|70</BlackWhite1>"
        "<SelectiveColor9>1|2|3|4|5|6|7</SelectiveColor9>"
        "<SelectiveColorX>1|2|3|4|5|6|7</SelectiveColorX>"));
    const VXLParams& p = preset->layerParams(0);
    EXPECT_EQ(p.selectiveColor[3], (SelectiveColorRecord{337, 352, 7, 22, 5, -20, 0}));
    EXPECT_EQ(p.selectiveColor[4], SelectiveColorRecord{});
    EXPECT_EQ(p.blackWhite[0], (SelectiveColorRecord{10, 20, 30, 40, 50, 60, 70}));
    EXPECT_EQ(p.blackWhite[1], SelectiveColorRecord{}); // the bar must follow the number directly
    // Index 9 addresses no record and "X" is no index: the other records keep their defaults.
    VXLParams defaults;
    defaultParams(&defaults);
    for (int i : {0, 1, 2, 5, 6, 7})
        EXPECT_EQ(p.selectiveColor[i], defaults.selectiveColor[i]) << i;
}

TEST(CorrectionElement, RangeIndicesGoToTheApplicationSettings)
{
    QSettings().remove(QStringLiteral("SelectiveColorIndex"));
    const SharedPreset preset = withCorrection(
        QStringLiteral("<iSelectiveColorIndex>5</iSelectiveColorIndex><iBlackWhiteIndex>2</iBlackWhiteIndex>"));
    EXPECT_EQ(QSettings().value(QStringLiteral("SelectiveColorIndex")).toInt(), 5);
    EXPECT_EQ(QSettings().value(QStringLiteral("BlackWhiteIndex")).toInt(), 2);
    VXLParams expected;
    defaultParams(&expected);
    EXPECT_EQ(fieldText(preset->layerParams(0), "bGroupTone"), "true"); // derived as for an empty element
    EXPECT_EQ(preset->layerParams(0).selectiveColor[5], expected.selectiveColor[5]);
}

// Most presets of a library carry the same indices; the settings file is written only when one
// changes; a write shows in the file's modification time.
TEST(CorrectionElement, UnchangedRangeIndicesLeaveTheSettingsFileAlone)
{
    const auto settingsFile = [] {
        QSettings settings;
        settings.sync();
        struct stat info {};
        EXPECT_EQ(::stat(QFile::encodeName(settings.fileName()).constData(), &info), 0);
        return std::make_tuple(info.st_ino, info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
    };
    withCorrection(QStringLiteral("<iSelectiveColorIndex>4</iSelectiveColorIndex><iBlackWhiteIndex>3</iBlackWhiteIndex>"));
    const auto written = settingsFile();
    for (int i = 0; i < 3; ++i)
        withCorrection(QStringLiteral("<iSelectiveColorIndex>4</iSelectiveColorIndex><iBlackWhiteIndex>3</iBlackWhiteIndex>"));
    EXPECT_EQ(settingsFile(), written);
    withCorrection(QStringLiteral("<iSelectiveColorIndex>6</iSelectiveColorIndex>"));
    EXPECT_EQ(QSettings().value(QStringLiteral("SelectiveColorIndex")).toInt(), 6);
    EXPECT_NE(settingsFile(), written);
}

TEST(CorrectionElement, LayerElementsFillTheirLayerAndMask)
{
    const SharedPreset preset = profileFromXml(QStringLiteral(
        "<profile><correctionLayer2>"
        "<mask.centerX>0.25</mask.centerX><mask.type>3</mask.type><mask.invert>True</mask.invert>"
        "<unknown><a>1</a><b/></unknown>"
        "<iFinishTemp>-12</iFinishTemp><bFinishTemp>true</bFinishTemp><bGroupFinishing>true</bGroupFinishing>"
        "<guidBuiltinInlutSky>ffeeddccbbaa99887766554433221100</guidBuiltinInlutSky>"
        "<strength>5</strength><iFinishPositiveContrast>9</iFinishPositiveContrast>"
        "</correctionLayer2></profile>"));
    const QVXLParams* stack = preset->qvxlParams();
    EXPECT_FLOAT_EQ(stack->masks[2].centerX, 0.25f);
    EXPECT_EQ(stack->masks[2].type, kMaskEdgeFromTop);
    EXPECT_EQ(stack->masks[2].invert, 1);
    const VXLParams& layer = stack->blocks[2];
    EXPECT_EQ(layer.iFinishTemp, -12);
    EXPECT_TRUE(layer.bFinishTemp);
    EXPECT_TRUE(layer.bGroupFinishing);
    EXPECT_EQ(guidHexText(layer.guidBuiltinInlutSky), "ffeeddccbbaa99887766554433221100");
    // Keys of layer 0 only are not read in a layer element.
    VXLParams defaults;
    defaultParams(&defaults);
    EXPECT_EQ(layer.strength, defaults.strength);
    EXPECT_EQ(layer.iFinishPositiveContrast, defaults.iFinishPositiveContrast);
    // Other layers are untouched.
    EXPECT_EQ(stack->masks[1].type, kMaskNone);
}

} // namespace
