#include "editing/model/preset_file.h"

#include <gtest/gtest.h>

#include <QDir>

#include <set>

#include <csignal>
#include <cstring>
#include <sys/resource.h>

#include "editing/model/params_fields.h"
#include "editing/model/preset_group.h"
#include "editing/model/testing/preset_environment.h"

namespace {

using preset_test::IdentityScope;
using preset_test::readFile;
using preset_test::writeFile;

class PresetFiles : public ::testing::Test {
protected:
    QString file(const QString& name, const QByteArray& content)
    {
        const QString path = folder.filePath(name);
        EXPECT_TRUE(writeFile(path, content));
        return path;
    }
    QTemporaryDir folder;
};

// Every field the format carries, per layer: the finishing values live in the layer elements
// only, everything else of layer 0 in "correction".
bool carriedInLayer(const std::string& field, int layer)
{
    const bool finishing = (field.rfind("iFinish", 0) == 0 || field.rfind("bFinish", 0) == 0)
        && field.find("PositiveContrast") == std::string::npos;
    const bool builtinLut = field.find("BuiltinInLut") != std::string::npos || field.find("BuiltinInlut") != std::string::npos;
    if (layer > 0)
        return finishing || builtinLut || field == "bGroupFinishing";
    static const std::set<std::string> notInCorrection = {
        "skinToneMode", "noiseMode", "makeup1On", "makeup1", "makeup2On", "makeup2", "makeup3On", "makeup3",
        "makeup4On", "makeup4", "makeup5On", "makeup5", "makeup1Mode", "makeup2Mode", "makeup3Mode",
        "makeup4Mode", "makeupColor1", "makeupColor2", "makeupColor3", "makeupColor4", "makeupColor5",
        "bGroupFinishing", "bgmOn", "bgmMode", "bgmAmount", "bgmStrength", "bgmOption", "version"};
    return !finishing && !notInCorrection.count(field);
}

// A block in which every field differs from its default, with values every conversion carries
// exactly.
VXLParams distinctBlock()
{
    VXLParams block;
    defaultParams(&block);
    std::size_t count = 0;
    const ParamsField* fields = paramsFields(&count);
    auto* bytes = reinterpret_cast<unsigned char*>(&block);
    for (std::size_t i = 0; i < count; ++i) {
        unsigned char* at = bytes + fields[i].offset;
        const int n = int(i) + 3;
        switch (fields[i].kind) {
        case ParamsFieldKind::Bool:
            *at = *at ? 0 : 1;
            break;
        case ParamsFieldKind::Int32:
        case ParamsFieldKind::Colour: {
            std::int32_t value;
            std::memcpy(&value, at, sizeof value);
            value = value == n ? n + 1 : n;
            std::memcpy(at, &value, sizeof value);
            break;
        }
        case ParamsFieldKind::Float: {
            const float value = 0.25f * float(n % 9 + 1);
            std::memcpy(at, &value, sizeof value);
            break;
        }
        case ParamsFieldKind::LutId:
            for (int k = 0; k < 16; ++k)
                at[k] = static_cast<unsigned char>(n + k);
            break;
        case ParamsFieldKind::SelectiveColor: {
            auto* records = reinterpret_cast<SelectiveColorRecord*>(at);
            for (int r = 0; r < kSelectiveColorRecords; ++r)
                records[r] = {n + r, -r, 2 * r, 300 + r, -50 + r, 7, -7};
            break;
        }
        }
    }
    block.redeye = 0;
    return block;
}

TEST_F(PresetFiles, EveryCarriedSettingSurvivesARoundTrip)
{
    const SharedPreset written = makeSharedPreset();
    written->names = {{"user", "Mine"}, {"en", "Cool"}, {"de", "Kuehl"}};
    written->descriptions = {{"user", "my words"}, {"fr", "frais"}};
    written->uid = 3017;
    written->current = written->readOnly = written->readOnly4 = written->readOnly5 = written->pristine = true;
    written->icons = {Preset::Icon{"png", QByteArray("\x89PNG\0\1", 6)}, Preset::Icon{"svg", "<svg/>"}};
    QVXLParams* stack = written->qvxlParams();
    const VXLParams rich = distinctBlock();
    for (int layer = 0; layer < Preset::kLayers; ++layer) {
        stack->blocks[layer] = rich;
        stack->masks[layer] = {layer + 1, 0.125f, 0.25f * layer, 0.5f, 0.75f, 0.0625f, 0.375f, 45.0f, 0.5f, 1};
    }
    stack->setGroupGradfilter(true);

    const QString path = folder.filePath("rich.preset");
    QString error;
    ASSERT_TRUE(writePresetFile(path, {}, {written}, &error)) << error.toStdString();
    PresetFileContents read = readPresetFile(path, false, false, true);
    ASSERT_TRUE(read.errorString.isEmpty()) << read.errorString.toStdString();
    ASSERT_EQ(read.presets.size(), 1);
    const SharedPreset back = read.presets[0];

    EXPECT_EQ(back->names, written->names);
    EXPECT_EQ(back->descriptions, written->descriptions);
    EXPECT_EQ(back->uid, 3017);
    EXPECT_EQ(back->version, written->version);
    EXPECT_TRUE(back->current && back->readOnly && back->readOnly4 && back->readOnly5 && back->pristine);
    ASSERT_EQ(back->icons.size(), 2);
    EXPECT_EQ(back->icons[0].format, "png");
    EXPECT_EQ(back->icons[0].data, written->icons[0].data);
    EXPECT_EQ(back->icons[1].data, QByteArray("<svg/>"));

    VXLParams defaults;
    defaultParams(&defaults);
    std::size_t count = 0;
    const ParamsField* fields = paramsFields(&count);
    for (int layer = 0; layer < Preset::kLayers; ++layer) {
        const VXLParams& got = back->params->blocks[layer];
        for (std::size_t i = 0; i < count; ++i) {
            const std::string name = fields[i].name;
            if (name == "redeye")
                continue; // a profile child, checked below
            // Carried fields come back as written; the others keep the new stack's value.
            const std::string written = paramsFieldText(rich, fields[i]);
            const std::string actual = paramsFieldText(got, fields[i]);
            if (carriedInLayer(name, layer)) {
                EXPECT_EQ(actual, written) << "layer " << layer << " " << name;
            } else {
                EXPECT_NE(actual, written) << "layer " << layer << " " << name << " is not in the format";
            }
        }
        if (layer > 0) {
            EXPECT_TRUE(layerMaskEquals(back->params->masks[layer], stack->masks[layer])) << layer;
        }
    }
    EXPECT_EQ(back->params->blocks[0].redeye, 0);
    EXPECT_TRUE(back->params->bGroupGradfilter);
    read.discard();
}

TEST_F(PresetFiles, GroupsRoundTripWithTheirAttributesAndMappedPresets)
{
    IdentityScope identity(preset_test::kOtherIdentity);
    const QString source = file("source.preset", R"(<?xml version="1.0"?>
<profiles version="3">
  <group uuid="1100">
    <names><name lang="en">Portrait</name><name lang="de">Bildnis</name></names>
    <type>AddOn</type>
    <readonly5>true</readonly5>
    <default_uid>1101</default_uid>
    <scene_uid>1102</scene_uid>
    <develop>true</develop>
    <profile><names><name lang="en">Soft</name></names><uid>1101</uid><correction><strength>61</strength><ASSOn>false</ASSOn></correction></profile>
    <profile><uid>1150</uid><mapto>1101</mapto></profile>
    <profile><names><name lang="en">Hard</name></names><uid>1102</uid></profile>
  </group>
  <group><names><name lang="en">Plain</name></names></group>
  <profile><name>Loose</name><uid>4</uid></profile>
</profiles>)");
    PresetFileContents first = readPresetFile(source, true, true, true);
    ASSERT_EQ(first.groups.size(), 2);
    const QString copy = folder.filePath("copy.preset");
    QString error;
    ASSERT_TRUE(writePresetFile(copy, first.groups, first.presets, &error)) << error.toStdString();
    PresetFileContents second = readPresetFile(copy, true, true, true);
    ASSERT_EQ(second.groups.size(), 2);
    ASSERT_EQ(second.presets.size(), 1);
    EXPECT_EQ(second.presets[0]->presetDisplayName(), "Loose");

    for (int i = 0; i < 2; ++i) {
        PresetGroup* a = first.groups[i];
        PresetGroup* b = second.groups[i];
        EXPECT_EQ(b->uuid(), a->uuid());
        EXPECT_EQ(b->names(), a->names());
        EXPECT_EQ(b->type(), a->type());
        EXPECT_EQ(b->isReadOnly(), a->isReadOnly());
        EXPECT_EQ(b->defaultUid(), a->defaultUid());
        EXPECT_EQ(b->sceneUid(), a->sceneUid());
        EXPECT_EQ(b->isDevelop(), a->isDevelop());
        EXPECT_EQ(b->uidMap(), a->uidMap());
        ASSERT_EQ(b->presets().size(), a->presets().size());
        for (int k = 0; k < a->presets().size(); ++k)
            EXPECT_EQ(b->presets()[k]->names, a->presets()[k]->names);
    }
    PresetGroup* portrait = second.groups[0];
    EXPECT_EQ(portrait->type(), PresetGroup::AddOn);
    EXPECT_TRUE(portrait->isReadOnly());
    EXPECT_EQ(portrait->uidMap().value(1150), 1101);
    // Names-only presets were loaded before they were written: their settings were not lost.
    EXPECT_EQ(portrait->presets()[0]->layerParams(0).strength, 61);
    first.discard();
    second.discard();
}

TEST_F(PresetFiles, SavingOverTheFileItWasReadFromKeepsTheSettings)
{
    const QString path = file("self.preset",
        "<profiles><group><names><name lang='en'>G</name></names><profile><names><name lang='en'>P</name></names>"
        "<correction><iLocalContrast>33</iLocalContrast></correction></profile></group></profiles>");
    PresetFileContents listed = readPresetFile(path, true, false, false);
    ASSERT_EQ(listed.groups.size(), 1);
    ASSERT_TRUE(writePresetFile(path, listed.groups, {}));
    PresetFileContents reread = readPresetFile(path, false, false, false);
    ASSERT_EQ(reread.groups.size(), 1);
    EXPECT_EQ(reread.groups[0]->presets()[0]->layerParams(0).iLocalContrast, 33);
    listed.discard();
    reread.discard();
}

TEST_F(PresetFiles, EditorModeUsesItsOwnRoot)
{
    const SharedPreset preset = makeSharedPreset();
    preset->names.insert("user", "Editor");
    const QString path = folder.filePath("editor.solvane");
    {
        IdentityScope identity(preset_test::kPhotoIdentity);
        EXPECT_EQ(presetsRootElementName(), "solvaneProfiles");
        ASSERT_TRUE(writePresetFile(path, {}, {preset}));
        EXPECT_TRUE(readFile(path).contains("<solvaneProfiles>"));
        EXPECT_EQ(readPresetFile(path, true, false, false).presets.size(), 1);
    }
    IdentityScope identity(preset_test::kOtherIdentity);
    const PresetFileContents other = readPresetFile(path, true, false, false);
    EXPECT_TRUE(other.presets.isEmpty());
    EXPECT_TRUE(other.errorString.contains("solvaneProfiles")) << other.errorString.toStdString();
}

// Faulty files: reading stops at the fault with a clear error; whatever came before is kept.
TEST_F(PresetFiles, FaultyFilesAreRefusedWithAnError)
{
    IdentityScope identity(preset_test::kOtherIdentity);
    const QByteArray good = "<group><names><name lang='en'>First</name></names><profile><uid>1</uid></profile></group>";
    const struct {
        const char* what;
        QByteArray content;
        int groups;
        const char* error; // part of the error text; empty: no error
    } cases[] = {
        {"truncated", "<profiles>" + good + "<group><names><name lang='en'>Second</name></names><profile><u", 1, "line"},
        {"mismatched tags", "<profiles>" + good + "<group><names></group></profiles>", 1, "line"},
        {"too new preset", "<profiles>" + good + "<group><profile><VexoVersion>7</VexoVersion></profile></group>"
                           + good + "</profiles>", 1, "Skipping Too New Preset"},
        {"wrong root", "<solvaneProfiles>" + good + "</solvaneProfiles>", 0, "solvaneProfiles"},
        {"unrelated root", "<catalog>" + good + "</catalog>", 0, "catalog"},
        {"not XML", "just some text", 0, "line"},
        {"empty", "", 0, "line"},
        {"capitalised Group is skipped", "<profiles><Group>" + good + "</Group>" + good + "</profiles>", 1, ""},
        {"unknown file-level element", "<profiles><notes><x/></notes>" + good + "</profiles>", 1, ""},
    };
    for (const auto& c : cases) {
        const QString path = file(QStringLiteral("faulty.preset"), c.content);
        PresetFileContents read = readPresetFile(path, true, false, false);
        EXPECT_EQ(read.groups.size(), c.groups) << c.what;
        if (*c.error) {
            EXPECT_TRUE(read.errorString.contains(QString::fromUtf8(c.error))) << c.what << ": " << read.errorString.toStdString();
        } else {
            EXPECT_TRUE(read.errorString.isEmpty()) << c.what << ": " << read.errorString.toStdString();
        }
        EXPECT_EQ(readFile(path), c.content) << c.what << ": reading changed the file";
        read.discard();
    }
}

QStringList g_debugLines;
void collectDebug(QtMsgType, const QMessageLogContext&, const QString& text) { g_debugLines << text; }

TEST_F(PresetFiles, ADroppedGroupIsReportedInTheDebugLog)
{
    const QString path = file("new.preset", "<profiles><group><profile><VexoVersion>9</VexoVersion></profile></group></profiles>");
    g_debugLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectDebug);
    PresetFileContents read = readPresetFile(path, true, false, false);
    qInstallMessageHandler(previous);
    EXPECT_TRUE(read.groups.isEmpty());
    ASSERT_EQ(g_debugLines.size(), 5);
    EXPECT_TRUE(g_debugLines[0].startsWith("   Error Type:"));
    EXPECT_TRUE(g_debugLines[1].contains("Skipping Too New Preset"));
    EXPECT_TRUE(g_debugLines[2].startsWith("  Line Number:"));
    EXPECT_TRUE(g_debugLines[3].startsWith("Column Number:"));
    EXPECT_TRUE(g_debugLines[4].startsWith(" Char. Offset:"));
}

// The reader in memory, for callers that hold a document rather than a file.
TEST_F(PresetFiles, BytesReadAsTheSameFile)
{
    const QByteArray document = "<profiles><group uuid='7'><names><name lang='en'>G</name></names>"
                                "<profile><name>P</name><uid>3</uid><correction><strength>9</strength></correction>"
                                "</profile></group><profile><name>Loose</name></profile></profiles>";
    PresetFileContents fromFile = readPresetFile(file("same.preset", document), false, false, true);
    PresetFileContents fromBytes = readPresetData(document, false, false, true);
    ASSERT_EQ(fromBytes.groups.size(), 1);
    ASSERT_EQ(fromBytes.groups[0]->presets().size(), 1);
    EXPECT_EQ(fromBytes.groups[0]->uuid(), fromFile.groups[0]->uuid());
    EXPECT_EQ(fromBytes.groups[0]->presets()[0]->layerParams(0).strength, 9);
    EXPECT_EQ(fromBytes.presets.size(), fromFile.presets.size());
    EXPECT_TRUE(fromBytes.groups[0]->filePath().isEmpty());
    EXPECT_TRUE(fromBytes.errorString.isEmpty());
    EXPECT_FALSE(readPresetData("<profiles><group>", true, false, false).errorString.isEmpty());
    fromFile.discard();
    fromBytes.discard();
}

// Every preset holds a parameter stack of some kilobytes whatever its element's size: a file of
// empty elements must not make the reader build millions of them.
TEST_F(PresetFiles, WhatAFileCanMakeTheReaderBuildIsBounded)
{
    const auto repeated = [](const QByteArray& element, int count) {
        QByteArray text;
        for (int i = 0; i < count; ++i)
            text += element;
        return text;
    };
    const struct {
        const char* name;
        QByteArray document;
        int groups;     // read before the budget ran out
        int presets;    // in those groups and loose
        const char* error;
    } cases[] = {
        {"presets at the limit", "<profiles><group>" + repeated("<profile/>", kMaxPresetsPerFile) + "</group></profiles>",
         1, kMaxPresetsPerFile, ""},
        {"one preset too many in a group",
         "<profiles><group/><group>" + repeated("<profile/>", kMaxPresetsPerFile + 1) + "</group></profiles>", 1, 0,
         "More than 10000 presets"},
        {"loose presets count as well",
         "<profiles><group><profile/></group>" + repeated("<profile/>", kMaxPresetsPerFile) + "</profiles>", 1,
         kMaxPresetsPerFile, "More than 10000 presets"},
        {"groups", "<profiles>" + repeated("<group/>", kMaxGroupsPerFile + 5) + "</profiles>", kMaxGroupsPerFile, 0,
         "More than 1000 groups"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool namesOnly : {true, false}) {
            PresetFileContents read = readPresetData(c.document, namesOnly, false, false);
            int presets = read.presets.size();
            for (PresetGroup* group : read.groups)
                presets += group->presets().size();
            EXPECT_EQ(read.groups.size(), c.groups);
            EXPECT_EQ(presets, c.presets);
            EXPECT_TRUE(read.errorString.contains(QLatin1String(c.error))) << read.errorString.toStdString();
            read.discard();
        }
    }

    // A file larger than any preset file is refused before it is read.
    const QString huge = folder.filePath("huge.preset");
    QFile sparse(huge);
    ASSERT_TRUE(sparse.open(QIODevice::WriteOnly));
    ASSERT_TRUE(sparse.write("<profiles>") > 0);
    ASSERT_TRUE(sparse.resize(kMaxPresetFileBytes + 1));
    sparse.close();
    const PresetFileContents refused = readPresetFile(huge, true, false, false);
    EXPECT_TRUE(refused.groups.isEmpty());
    EXPECT_TRUE(refused.errorString.contains(QLatin1String("more than"))) << refused.errorString.toStdString();
}

TEST_F(PresetFiles, MissingFileGivesNothing)
{
    const PresetFileContents read = readPresetFile(folder.filePath("absent.preset"), true, false, false);
    EXPECT_TRUE(read.groups.isEmpty());
    EXPECT_TRUE(read.path.isEmpty());
    EXPECT_FALSE(read.errorString.isEmpty());
}

TEST_F(PresetFiles, FindPresetLooksAtLoosePresetsFirst)
{
    const QString path = file("find.preset",
        "<profiles><group><profile><name>Twin</name><uid>1</uid></profile>"
        "<profile><name>Sunforge Heritage</name><uid>2</uid></profile></group>"
        "<profile><name>Twin</name><uid>3</uid></profile></profiles>");
    PresetFileContents read = readPresetFile(path, true, false, false);
    EXPECT_EQ(read.findPreset("Twin")->uid, 3);
    EXPECT_EQ(read.findPreset("Sunforge")->uid, 2);
    EXPECT_FALSE(read.findPreset("None"));
    read.discard();
}

// A save that cannot be completed leaves the existing file as it was.
TEST_F(PresetFiles, FailedSaveNeverTouchesTheExistingFile)
{
    const QByteArray original = "<profiles><profile><name>Keep me</name></profile></profiles>";
    const QString path = file("keep.preset", original);
    const SharedPreset preset = makeSharedPreset();
    preset->names.insert("user", "Replacement");

    // Let the file system refuse every byte past the first kilobyte of any file.
    struct rlimit previous;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = previous;
    limited.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    QString error;
    const bool saved = writePresetFile(path, {}, {preset}, &error);
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(saved);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(readFile(path), original);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{"keep.preset"}) << "no temporary file left";

    // Nor is a file made where no folder exists.
    EXPECT_FALSE(writePresetFile(folder.filePath("missing/folder/x.preset"), {}, {preset}, &error));
    EXPECT_TRUE(error.contains("missing/folder")) << error.toStdString();
}

} // namespace
