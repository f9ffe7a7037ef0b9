#include "editing/model/preset_group.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <cstring>
#include <memory>

#include "editing/model/testing/preset_environment.h"

namespace {

using preset_test::IdentityScope;

std::unique_ptr<PresetGroup> groupFromXml(const QString& xml, bool isSystem, QString* error = nullptr)
{
    QXmlStreamReader reader(xml);
    reader.readNextStartElement();
    std::unique_ptr<PresetGroup> group(readPresetGroup(reader, true, isSystem, false));
    if (error)
        *error = reader.errorString();
    return group;
}

SharedPreset named(const QString& name, int uid = 0)
{
    const SharedPreset preset = makeSharedPreset();
    preset->names.insert("en", name);
    preset->uid = uid;
    return preset;
}

TEST(PresetGroup, ChildNamesAreMatchedInLowerCase)
{
    const auto group = groupFromXml(QStringLiteral(
        "<group uuid='1100'><Names><name lang='en'>Portrait</name><name lang='de'>Portraet</name></Names>"
        "<TYPE>signatureEdition</TYPE><Default_UID>3</Default_UID><scene_uid>x</scene_uid>"
        "<DEVELOP>True</DEVELOP><PROFILE><uid>5</uid></PROFILE><unknown><x/></unknown></group>"),
        false);
    EXPECT_EQ(group->uuid(), "1100");
    EXPECT_EQ(group->localisedName("de"), "Portraet");
    EXPECT_EQ(group->type(), PresetGroup::SignatureEdition);
    EXPECT_EQ(group->defaultUid(), 3);
    EXPECT_EQ(group->sceneUid(), 0);
    EXPECT_TRUE(group->isDevelop());
    ASSERT_EQ(group->presets().size(), 1);
    EXPECT_EQ(group->presets()[0]->group, group.get());
}

TEST(PresetGroup, TypeWords)
{
    const struct {
        const char* word;
        int type;
    } cases[] = {{"builtIn", 0}, {"userDefined", 1}, {"signatureEdition", 2}, {"AddOn", 3}, {"addon", 1}, {"", 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(parseGroupType(QString::fromLatin1(c.word)), c.type) << c.word;
        if (c.type != 1 || std::strcmp(c.word, "userDefined") == 0) {
            EXPECT_EQ(groupTypeWord(c.type), QString::fromLatin1(c.word));
        }
    }
}

TEST(PresetGroup, ReadOnlyRules)
{
    const struct {
        const char* identity;
        bool isSystem;
        const char* children;
        bool readOnly;
    } cases[] = {
        // The user's files: built-in and add-on groups are protected in editor mode only.
        {preset_test::kPhotoIdentity, false, "<type>AddOn</type><readonly5>false</readonly5>", true},
        {preset_test::kOtherIdentity, false, "<type>AddOn</type><readonly5>true</readonly5>", false},
        {preset_test::kPhotoIdentity, false, "<type>userDefined</type><readonly5>true</readonly5>", false},
        // System files outside editor mode: "readonly5" decides, in any case of letters.
        {preset_test::kOtherIdentity, true, "<readonly5>TRUE</readonly5><default_uid>2</default_uid>", true},
        {preset_test::kOtherIdentity, true, "<readonly5>no</readonly5>", false},
        // System files in editor mode: the type read before "readonly5" decides.
        {preset_test::kPhotoIdentity, true, "<readonly5>true</readonly5><type>builtIn</type>", false},
        {preset_test::kPhotoIdentity, true, "<type>builtIn</type><readonly5>false</readonly5>", true},
        {preset_test::kPhotoIdentity, true, "<type>builtIn</type>", false},
    };
    for (const auto& c : cases) {
        IdentityScope identity(c.identity);
        const auto group = groupFromXml(QStringLiteral("<group>%1</group>").arg(QString::fromLatin1(c.children)),
                                        c.isSystem);
        EXPECT_EQ(group->isReadOnly(), c.readOnly) << c.identity << " system " << c.isSystem << " " << c.children;
    }
}

TEST(PresetGroup, MappedPresetsAreNotListed)
{
    const auto group = groupFromXml(QStringLiteral(
        "<group><profile><uid>7</uid><mapto>12</mapto></profile><profile><uid>8</uid></profile>"
        "<names><name>no language</name><name lang='en'>Still read</name></names>"
        "<profile><uid>9</uid></profile></group>"),
        false);
    EXPECT_EQ(group->uidMap(), (QMap<int, int>{{7, 12}, {8, 8}, {9, 9}}));
    ASSERT_EQ(group->presets().size(), 2);
    EXPECT_EQ(group->presets()[0]->uid, 8);
    EXPECT_EQ(group->localisedName("en"), "Still read");
}

TEST(PresetGroup, AGroupWithATooNewPresetLeavesTheReaderInError)
{
    QString error;
    groupFromXml(QStringLiteral("<group><profile><uid>1</uid></profile>"
                                "<profile><VexoVersion>7</VexoVersion></profile></group>"),
                 false, &error);
    EXPECT_EQ(error, "Skipping Too New Preset");
}

TEST(PresetGroup, LocalisedNameIsNotTrimmed)
{
    PresetGroup mine(QStringLiteral(" Mine "));
    EXPECT_EQ(mine.localisedName("fr"), " Mine ");
    PresetGroup empty;
    EXPECT_EQ(empty.localisedName("en"), "");
}

TEST(PresetGroup, InsertPresetClampsAndAnnounces)
{
    PresetGroup group(QStringLiteral("G"));
    QSignalSpy added(&group, &PresetGroup::presetAdded);
    for (const char* name : {"a", "b", "c"})
        group.appendPreset(named(name));
    const SharedPreset late = named("late"), early = named("early");
    group.insertPreset(late, 99);
    EXPECT_EQ(group.presets().indexOf(late), 3);
    group.insertPreset(early, -5);
    EXPECT_EQ(group.presets().indexOf(early), 0);
    ASSERT_EQ(added.count(), 5);
    EXPECT_EQ(added.last().at(0).value<SharedPreset>(), early);

    // A preset keeps the first group that listed it.
    PresetGroup other(QStringLiteral("Other"));
    other.appendPreset(early);
    EXPECT_EQ(early->group, &group);
}

TEST(PresetGroup, ChangedPresetBecomesPresetChanged)
{
    const SharedPreset preset = named("p");
    {
        PresetGroup group(QStringLiteral("G"));
        group.appendPreset(preset);
        QSignalSpy changed(&group, &PresetGroup::presetChanged);
        emit preset->changed();
        ASSERT_EQ(changed.count(), 1);
        EXPECT_EQ(changed.at(0).at(0).value<SharedPreset>(), preset);
    }
    // The group is gone; the preset outlives it and may still change.
    emit preset->changed();
}

TEST(PresetGroup, FindPresetByNameKnowsTheRenamedAutomaticPreset)
{
    PresetGroup group(QStringLiteral("G"));
    group.appendPreset(named("Sunforge Heritage"));
    group.appendPreset(named("Plain"));
    EXPECT_EQ(group.findPresetByName("Plain", "en"), group.presets()[1]);
    EXPECT_EQ(group.findPresetByName("Sunforge", "en"), group.presets()[0]);
    EXPECT_FALSE(group.findPresetByName("Missing", "en"));
    group.appendPreset(named("Sunforge"));
    EXPECT_EQ(group.findPresetByName("Sunforge", "en"), group.presets()[2]);
}

TEST(PresetGroup, PackNumbersPresetsInSeriesOfAThousand)
{
    PresetGroup group;
    group.appendPreset(named("a", 2042));
    group.appendPreset(named("b", 999));
    group.setPack(false);
    EXPECT_EQ(group.presets()[0]->uidSeries, 0);
    group.setPack(true);
    EXPECT_TRUE(group.isPack());
    EXPECT_EQ(group.presets()[0]->uidSeries, 2);
    EXPECT_EQ(group.presets()[1]->uidSeries, 0);
}

} // namespace
