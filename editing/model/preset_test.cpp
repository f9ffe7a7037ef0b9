#include "editing/model/preset.h"

#include <gtest/gtest.h>

#include <functional>

#include "editing/model/preset_file.h"
#include "editing/model/preset_group.h"
#include "editing/model/preset_manager.h"
#include "editing/model/testing/preset_environment.h"

namespace {

using preset_test::writeFile;

TEST(Preset, DisplayNameByLanguage)
{
    const struct {
        QMap<QString, QString> names;
        QString language;
        QString expected;
    } cases[] = {
        {{{"user", "  Mine "}, {"en", "English"}}, "de", "Mine"},
        {{{"en", " English "}, {"de", "Deutsch"}}, "de", "Deutsch"},
        {{{"en", "English"}, {"de", "Deutsch"}}, "es", "English"},
        {{{"fr", "Francais"}, {"de", "Deutsch"}}, "es", "Deutsch"},
        {{{"en", "English"}, {"de", "Deutsch"}}, QString(), "English"}, // the UI language of the tests
        {{}, "en", ""},
    };
    for (const auto& c : cases) {
        Preset preset;
        preset.names = c.names;
        EXPECT_EQ(preset.presetDisplayName(c.language), c.expected) << c.expected.toStdString();
    }
}

TEST(Preset, WithoutGroupTheStackIsTheDefaultOne)
{
    const SharedPreset preset = makeSharedPreset();
    EXPECT_EQ(preset->params, nullptr);
    const QVXLParams* stack = preset->qvxlParams();
    ASSERT_EQ(stack->layerCount(), Preset::kLayers);
    EXPECT_FALSE(stack->bGroupGradfilter);
    EXPECT_FALSE(stack->blocks[1].bGroupFinishing);
    EXPECT_FALSE(stack->blocks[2].bGroupFinishing);
    VXLParams defaults;
    defaultParams(&defaults);
    EXPECT_EQ(std::memcmp(&stack->blocks[0], &defaults, sizeof defaults), 0);
    EXPECT_EQ(preset->qvxlParams(), stack); // created once, never replaced
}

class LazyLoading : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        path = folder.filePath("looks.preset");
        ASSERT_TRUE(writeFile(path, fileWithStrength("Soft", 42)));
        contents = readPresetFile(path, true, false, false);
        ASSERT_EQ(contents.groups.size(), 1);
        listed = contents.groups[0]->presets().value(0);
        ASSERT_TRUE(listed);
        ASSERT_EQ(listed->params, nullptr);
    }
    void TearDown() override { contents.discard(); }

    static QByteArray fileWithStrength(const char* name, int strength)
    {
        return QStringLiteral("<profiles><group><names><name lang='en'>G</name></names>"
                              "<profile><names><name lang='en'>Other</name></names></profile>"
                              "<profile><names><name lang='en'>%1</name></names><correction><ASSOn>false</ASSOn>"
                              "<strength>%2</strength></correction><correctionLayer1><mask.type>2</mask.type>"
                              "</correctionLayer1></profile></group></profiles>")
            .arg(QString::fromLatin1(name))
            .arg(strength)
            .toUtf8();
    }

    QTemporaryDir folder;
    QString path;
    PresetFileContents contents;
    SharedPreset listed;
};

TEST_F(LazyLoading, FirstUseReadsTheGroupFileOnce)
{
    listed = contents.groups[0]->presets().value(1);
    EXPECT_EQ(listed->layerParams(0).strength, 42);
    EXPECT_EQ(listed->qvxlParams()->masks[1].type, kMaskEllipse);
    // A second use does not read again.
    ASSERT_TRUE(writeFile(path, fileWithStrength("Soft", 7)));
    EXPECT_EQ(listed->layerParams(0).strength, 42);
}

TEST_F(LazyLoading, OneReadingLoadsTheWholeGroup)
{
    const auto file = [](int soft, int other) {
        return QStringLiteral("<profiles><group><names><name lang='en'>G</name></names>"
                              "<profile><name>Other</name><correction><strength>%2</strength></correction></profile>"
                              "<profile><name>Soft</name><correction><strength>%1</strength></correction></profile>"
                              "<profile><name>Later</name></profile></group></profiles>")
            .arg(soft)
            .arg(other)
            .toUtf8();
    };
    ASSERT_TRUE(writeFile(path, file(21, 22)));
    contents.discard();
    contents = readPresetFile(path, true, false, false);
    const QList<SharedPreset> presets = contents.groups[0]->presets();
    ASSERT_EQ(presets.size(), 3);
    EXPECT_EQ(presets[1]->layerParams(0).strength, 21);
    ASSERT_TRUE(writeFile(path, file(31, 32)));
    EXPECT_EQ(presets[0]->layerParams(0).strength, 22) << "loaded by the first reading";
    VXLParams defaults;
    defaultParams(&defaults);
    EXPECT_EQ(presets[2]->layerParams(0).strength, defaults.strength);
}

TEST_F(LazyLoading, RenamedPresetKeepsTheDefaultStack)
{
    listed = contents.groups[0]->presets().value(1);
    ASSERT_TRUE(writeFile(path, fileWithStrength("Renamed", 42)));
    VXLParams defaults;
    defaultParams(&defaults);
    EXPECT_EQ(listed->layerParams(0).strength, defaults.strength);
}

TEST_F(LazyLoading, MissingFileKeepsTheDefaultStack)
{
    listed = contents.groups[0]->presets().value(1);
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_EQ(listed->qvxlParams()->masks[1].type, kMaskNone);
}

// A preset may be held anywhere (a view, a document's state) after the group that listed it is
// gone; it must then behave as a preset without a group, never reach into the deleted group.
TEST_F(LazyLoading, APresetOutlivesItsGroup)
{
    const struct {
        const char* name;
        std::function<void(PresetFileContents&)> endGroup;
    } cases[] = {
        {"the reading is discarded", [](PresetFileContents& contents) { contents.discard(); }},
        {"the manager removes the group",
         [](PresetFileContents& contents) {
             PresetManager manager;
             manager.insertGroup(contents.groups.takeFirst(), 0);
             manager.removeGroup(manager.groups().first());
         }},
        {"the manager is destroyed",
         [](PresetFileContents& contents) {
             PresetManager manager;
             manager.insertGroup(contents.groups.takeFirst(), 0);
         }},
    };
    VXLParams defaults;
    defaultParams(&defaults);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        contents.discard();
        SetUp();
        const SharedPreset survivor = contents.groups[0]->presets().value(1);
        ASSERT_TRUE(survivor->hasGroup());
        c.endGroup(contents);
        EXPECT_FALSE(survivor->hasGroup());
        const SharedPreset copy = makeSharedPreset();
        copy->copyFrom(survivor);
        EXPECT_FALSE(copy->hasGroup());
        EXPECT_EQ(survivor->layerParams(0).strength, defaults.strength);
    }
}

TEST(Preset, CopyFromTakesDataAndStackButNotPristineOrLinks)
{
    const SharedPreset source = makeSharedPreset();
    source->names.insert("en", "Source");
    source->uid = 2042;
    source->mapTo = 5;
    source->uidSeries = 2;
    source->readOnly4 = true;
    source->pristine = true;
    source->icons.append(Preset::Icon{"png", "x"});
    source->layerParams(2).iFinishContrast = 17;

    const SharedPreset link = makeSharedPreset();
    const SharedPreset target = makeSharedPreset();
    target->setBasePreset(link);
    target->copyFrom(source);
    EXPECT_EQ(target->names, source->names);
    EXPECT_EQ(target->uid, 2042);
    EXPECT_EQ(target->mapTo, 5);
    EXPECT_EQ(target->uidSeries, 2);
    EXPECT_TRUE(target->readOnly4);
    EXPECT_EQ(target->icons.size(), 1);
    EXPECT_FALSE(target->pristine);
    EXPECT_EQ(target->basePreset(), link);
    EXPECT_FALSE(target->originPreset());
    EXPECT_EQ(target->layerParams(2).iFinishContrast, 17);
    EXPECT_NE(target->params->blocks, source->params->blocks); // a copy, not a shared stack
}

} // namespace
