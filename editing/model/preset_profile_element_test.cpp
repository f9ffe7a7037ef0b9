#include "editing/model/preset_profile_element.h"

#include <gtest/gtest.h>

#include "editing/model/testing/preset_environment.h"

namespace {

using preset_test::profileFromXml;

TEST(ProfileElement, NamesDescriptionsAndFlags)
{
    const SharedPreset preset = profileFromXml(QStringLiteral(
        "<profile>"
        "<names><name lang='en'>Warm</name><name>no language</name><name lang='de'>Warm DE</name>"
        "<other lang='fr'>x</other></names>"
        "<name>Mine</name>"
        "<descriptions><description lang='en'>A warm look</description></descriptions>"
        "<description>My own</description>"
        "<uid>1203</uid><mapto>x</mapto><current>True</current><readonly>true</readonly>"
        "<readonly4>TRUE</readonly4><readonly5>true</readonly5><pristine>true</pristine>"
        "<unknown><nested/></unknown>"
        "</profile>"));
    EXPECT_EQ(preset->names.keys(), (QStringList{"de", "en", "user"}));
    EXPECT_EQ(preset->names.value("de"), "Warm DE");
    EXPECT_EQ(preset->descriptions.value("en"), "A warm look");
    EXPECT_EQ(preset->descriptions.value("user"), "My own");
    EXPECT_EQ(preset->uid, 1203);
    EXPECT_EQ(preset->mapTo, 0); // not a number
    EXPECT_FALSE(preset->current); // profile flags need the exact text "true"
    EXPECT_TRUE(preset->readOnly);
    EXPECT_FALSE(preset->readOnly4);
    EXPECT_TRUE(preset->readOnly5);
    EXPECT_TRUE(preset->pristine);
    EXPECT_EQ(preset->version, AppEnvironment::currentPresetVersion());
}

TEST(ProfileElement, IconsNeedAFormatAndTheCallersConsent)
{
    const QString xml = QStringLiteral(
        "<profile><icons><icon>AAAA</icon><icon format='png'>aGVsbG8=</icon><other format='x'/>"
        "<icon format='jpg'>d29ybGQ=</icon></icons></profile>");
    const SharedPreset with = profileFromXml(xml, false, true);
    ASSERT_EQ(with->icons.size(), 2);
    EXPECT_EQ(with->icons[0].format, "png");
    EXPECT_EQ(with->icons[0].data, QByteArray("hello"));
    EXPECT_EQ(with->icons[1].data, QByteArray("world"));
    EXPECT_TRUE(profileFromXml(xml, false, false)->icons.isEmpty());
}

TEST(ProfileElement, NamesOnlySkipsEverySetting)
{
    const SharedPreset preset = profileFromXml(
        QStringLiteral("<profile><name>N</name><redeye>0</redeye><correction><strength>5</strength></correction>"
                       "<correctionLayer1><iFinishTemp>3</iFinishTemp></correctionLayer1><uid>4</uid></profile>"),
        true);
    EXPECT_EQ(preset->params, nullptr);
    EXPECT_EQ(preset->uid, 4);
    // Without a group the first use gives the default stack.
    EXPECT_EQ(preset->layerParams(1).iFinishTemp, 0);
}

TEST(ProfileElement, FullReadingFillsLayersAndRedEye)
{
    const SharedPreset preset = profileFromXml(QStringLiteral(
        "<profile><redeye>0</redeye><correction><strength>5</strength></correction>"
        "<correctionLayer3><iFinishTint>8</iFinishTint></correctionLayer3></profile>"));
    ASSERT_NE(preset->params, nullptr);
    EXPECT_EQ(preset->params->blocks[0].redeye, 0);
    EXPECT_EQ(preset->params->blocks[0].strength, 5);
    EXPECT_EQ(preset->params->blocks[3].iFinishTint, 8);
    EXPECT_FALSE(preset->params->blocks[1].bGroupFinishing);
}

// Older presets become read-only and have their skin switches moved to the Skintone grouping.
TEST(ProfileElement, OlderVersionsAreUpgraded)
{
    const struct {
        const char* correction;
        bool skinToneOn, skinDepthOn, skintoneGroup;
    } cases[] = {
        // Skin group off: skin-tone correction does not survive; Tone on keeps skin depth.
        {"<skinToneCorrectionOn>true</skinToneCorrectionOn><bGroupSkin>false</bGroupSkin>"
         "<skinDepthOn>true</skinDepthOn><bGroupTone>true</bGroupTone>", false, true, true},
        {"<skinToneCorrectionOn>true</skinToneCorrectionOn><bGroupSkin>true</bGroupSkin>"
         "<skinDepthOn>false</skinDepthOn><bGroupTone>true</bGroupTone>", true, false, true},
        {"<skinToneCorrectionOn>true</skinToneCorrectionOn><bGroupSkin>false</bGroupSkin>"
         "<skinDepthOn>true</skinDepthOn><bGroupTone>false</bGroupTone>", false, false, false},
    };
    for (const auto& c : cases) {
        const SharedPreset preset = profileFromXml(
            QStringLiteral("<profile><VexoVersion>5</VexoVersion><correction>%1</correction></profile>")
                .arg(QString::fromLatin1(c.correction)));
        EXPECT_EQ(preset->version, 5);
        EXPECT_TRUE(preset->readOnly);
        const VXLParams& p = preset->layerParams(0);
        EXPECT_EQ(p.skinToneCorrectionOn, c.skinToneOn) << c.correction;
        EXPECT_EQ(p.skinDepthOn, c.skinDepthOn) << c.correction;
        EXPECT_EQ(p.bGroupSkintone, c.skintoneGroup) << c.correction;
    }

    // The current version and a preset without a version are neither read-only nor migrated.
    for (const char* version : {"<VexoVersion>6</VexoVersion>", ""}) {
        const SharedPreset preset = profileFromXml(QStringLiteral(
            "<profile>%1<correction><skinToneCorrectionOn>true</skinToneCorrectionOn><bGroupSkin>false</bGroupSkin>"
            "</correction></profile>").arg(QString::fromLatin1(version)));
        EXPECT_FALSE(preset->readOnly) << version;
        EXPECT_TRUE(preset->layerParams(0).skinToneCorrectionOn) << version;
    }
}

TEST(ProfileElement, TooNewVersionStopsTheStream)
{
    QString error;
    const SharedPreset preset =
        profileFromXml(QStringLiteral("<profile><VexoVersion>7</VexoVersion><uid>3</uid></profile>"), false, true, &error);
    ASSERT_TRUE(preset); // built all the same; the caller drops it
    EXPECT_EQ(preset->uid, 3);
    EXPECT_EQ(error, "Skipping Too New Preset");
}

TEST(ProfileElement, MalformedXmlEndsTheElementWithAnError)
{
    QString error;
    const SharedPreset preset = profileFromXml(
        QStringLiteral("<profile><uid>3</uid><name>a<b>c</b></name><uid>4</uid></profile>"), false, true, &error);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(preset->uid, 3);
}

} // namespace
