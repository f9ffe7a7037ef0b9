#include "editing/model/preset_manager.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QSignalSpy>

#include <memory>

#include "editing/model/preset_file.h"
#include "editing/model/preset_group.h"
#include "editing/model/testing/preset_environment.h"

namespace {

using preset_test::IdentityScope;
using preset_test::writeFile;

// Groups are made the way the host gets them: read from a file.
struct GroupSpec {
    GroupSpec(QString name, bool readOnly = false, bool isSystem = false, QString uuid = QString(),
              bool develop = false, int type = PresetGroup::UserDefined, QList<int> uids = {})
        : name(name), readOnly(readOnly), isSystem(isSystem), uuid(uuid), develop(develop), type(type), uids(uids)
    {
    }
    QString name;    // "en" name
    bool readOnly;
    bool isSystem;
    QString uuid;
    bool develop;
    int type;
    QList<int> uids; // presets, one per uid
};

PresetGroup* makeGroup(const GroupSpec& spec)
{
    QString xml = QStringLiteral("<group%1><names><name lang='en'>%2</name></names><type>%3</type>"
                                 "<readonly5>%4</readonly5><develop>%5</develop>")
                      .arg(spec.uuid.isEmpty() ? QString() : QStringLiteral(" uuid='%1'").arg(spec.uuid), spec.name,
                           groupTypeWord(spec.type), spec.readOnly ? "true" : "false", spec.develop ? "true" : "false");
    for (int uid : spec.uids)
        xml += QStringLiteral("<profile><name>P%1</name><uid>%1</uid></profile>").arg(uid);
    xml += QStringLiteral("</group>");
    QXmlStreamReader reader(xml);
    reader.readNextStartElement();
    // "readonly5" decides only in system files outside editor mode, so read-only groups are read as
    // system groups (the name order looks at read-only only, the editor order at system only).
    IdentityScope other(preset_test::kOtherIdentity);
    PresetGroup* group = readPresetGroup(reader, true, spec.isSystem || spec.readOnly, false);
    EXPECT_FALSE(reader.hasError());
    return group;
}

QStringList order(const PresetManager& manager)
{
    QStringList names;
    for (PresetGroup* group : manager.groups())
        names << group->localisedName(QStringLiteral("en"));
    return names;
}

class PresetManagerTest : public ::testing::Test {
protected:
    void add(const GroupSpec& spec) { manager.insertGroup(makeGroup(spec), manager.groups().size()); }
    PresetManager manager;
};

TEST_F(PresetManagerTest, NameOrderKeepsPinnedGroupsFirst)
{
    IdentityScope identity(preset_test::kOtherIdentity);
    manager.insertGroup(new PresetGroup(AppEnvironment::favoritesGroupName()), 0);
    add({"R1", true});
    add({"Bay"});
    add({"Fen"});

    manager.sortedAddGroup(makeGroup({"Dell"}));
    EXPECT_EQ(order(manager), (QStringList{"Favorites", "R1", "Bay", "Dell", "Fen"}));
    manager.sortedAddGroup(makeGroup({"R2", true}));
    EXPECT_EQ(order(manager), (QStringList{"Favorites", "R1", "R2", "Bay", "Dell", "Fen"}));
    manager.sortedAddGroup(makeGroup({"Ash"}));
    EXPECT_EQ(order(manager), (QStringList{"Favorites", "R1", "R2", "Ash", "Bay", "Dell", "Fen"}));
    // Names compare by code unit: capitals before small letters.
    manager.sortedAddGroup(makeGroup({"zed"}));
    manager.sortedAddGroup(makeGroup({"Zed"}));
    EXPECT_EQ(order(manager).mid(7), (QStringList{"Zed", "zed"}));
}

TEST_F(PresetManagerTest, PinnedRunEndsAtTheFirstOrdinaryGroup)
{
    IdentityScope identity(preset_test::kOtherIdentity);
    add({"Mid"});
    add({"Locked", true});
    PresetGroup* pinned = makeGroup({"Pinned"});
    manager.setPinnedGroup(pinned);
    manager.insertGroup(pinned, 0);
    // Pinned, Mid, Locked: the run ends at Mid, so a read-only group goes right after Pinned.
    manager.sortedAddGroup(makeGroup({"Another lock", true}));
    EXPECT_EQ(order(manager), (QStringList{"Pinned", "Another lock", "Mid", "Locked"}));
    manager.sortedAddGroup(makeGroup({"Aaa"}));
    EXPECT_EQ(order(manager).at(2), "Aaa");
}

TEST_F(PresetManagerTest, EditorModeOrder)
{
    IdentityScope identity(preset_test::kPhotoIdentity);
    const QList<GroupSpec> specs = {
        {"User B"},
        {"Imported Presets"},
        {"Velmora", false, true},
        {"Harrowgate", false, true},
        {"Unlisted system", false, true},
        {"Pack 1200", false, false, "1200"},
        {"Pack 999", false, false, "999"},
        {"Pack 1100", false, false, "1100", false, PresetGroup::UserDefined, {1103, 1101, 1102}},
        {"Dev late", false, false, "1100", true, PresetGroup::UserDefined, {1102}},
        {"Dev early", false, false, "1100", true, PresetGroup::UserDefined, {1101}},
        {"Dev empty B", false, false, "1100", true, PresetGroup::SignatureEdition},
        {"Dev empty A", false, false, "1100", true, PresetGroup::SignatureEdition},
        {"Dev builtin", false, false, "1100", true, PresetGroup::BuiltIn},
        {"User A"},
    };
    for (const GroupSpec& spec : specs)
        manager.sortedAddGroup(makeGroup(spec));
    EXPECT_EQ(order(manager), (QStringList{"Pack 1100", "Pack 1200", "Pack 999", "Dev builtin", "Dev early",
                                           "Dev late", "Dev empty A", "Dev empty B", "Harrowgate", "Velmora",
                                           "Unlisted system", "Imported Presets", "User A", "User B"}));
}

TEST_F(PresetManagerTest, InsertionMarksPacksAndAnnounces)
{
    QSignalSpy added(&manager, &PresetManager::presetGroupAdded);
    QSignalSpy addedMany(&manager, &PresetManager::presetGroupsAdded);
    add({"A"});
    add({"B"});
    ASSERT_EQ(added.count(), 2);
    EXPECT_EQ(added.at(1).at(1).toInt(), 1);

    PresetGroup* pack = makeGroup({"Pack", false, false, "1100", false, PresetGroup::UserDefined, {2042}});
    const QList<PresetGroup*> three = {makeGroup({"X"}), pack, makeGroup({"Z"})};
    manager.insertGroups(three, 2);
    EXPECT_EQ(order(manager), (QStringList{"A", "B", "X", "Pack", "Z"}));
    EXPECT_EQ(added.count(), 2); // no single announcements for a list
    ASSERT_EQ(addedMany.count(), 1);
    EXPECT_EQ(addedMany.at(0).at(0).value<QList<PresetGroup*>>(), three);
    EXPECT_EQ(addedMany.at(0).at(1).toInt(), 2);

    EXPECT_TRUE(pack->isPack());
    EXPECT_FALSE(pack->isLoose());
    EXPECT_EQ(pack->presets()[0]->uidSeries, 2);
    EXPECT_TRUE(three[0]->isLoose());
    EXPECT_FALSE(three[0]->isPack());
}

TEST_F(PresetManagerTest, ForwardsTheSignalsOfListedGroups)
{
    PresetGroup* group = makeGroup({"G", false, false, QString(), false, PresetGroup::UserDefined, {1}});
    manager.insertGroup(group, 0);
    QSignalSpy changed(&manager, &PresetManager::presetChanged);
    QSignalSpy added(&manager, &PresetManager::presetAdded);
    QSignalSpy addedMany(&manager, &PresetManager::presetsAdded);
    QSignalSpy aboutToRemove(&manager, &PresetManager::presetAboutToBeRemoved);
    QSignalSpy removed(&manager, &PresetManager::presetRemoved);

    const SharedPreset first = group->presets()[0];
    emit first->changed();
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).value<SharedPreset>(), first);

    const SharedPreset second = makeSharedPreset();
    group->appendPreset(second);
    ASSERT_EQ(added.count(), 1);
    EXPECT_EQ(added.at(0).at(0).value<SharedPreset>(), second);

    emit group->presetsAdded({second});
    ASSERT_EQ(addedMany.count(), 1);
    EXPECT_EQ(addedMany.at(0).at(0).value<PresetGroup*>(), group);
    EXPECT_EQ(addedMany.at(0).at(1).value<QList<SharedPreset>>(), QList<SharedPreset>{second});

    // The host announces removals through the group; the manager passes them on.
    emit group->presetAboutToBeRemoved(second);
    group->presets().removeOne(second);
    emit group->presetRemoved(second);
    EXPECT_EQ(aboutToRemove.count(), 1);
    EXPECT_EQ(removed.count(), 1);
}

// Groups as the host lists them at start: read from their files in the preset folder.
class PresetManagerRemoval : public PresetManagerTest {
protected:
    void TearDown() override { AppEnvironment::setLanguage(QStringLiteral("en")); }

    static QString presetFile(const QString& name)
    {
        return QDir(AppEnvironment::presetsPath()).filePath(name + AppEnvironment::presetFileExtension());
    }
    static QByteArray groupXml(const char* en, const char* de, const char* readOnly = "false")
    {
        return QStringLiteral("<group><names><name lang='en'>%1</name><name lang='de'>%2</name></names>"
                              "<readonly5>%3</readonly5><profile><name>P</name></profile></group>")
            .arg(QLatin1String(en), QLatin1String(de), QLatin1String(readOnly))
            .toUtf8();
    }
    // Writes the file and lists its groups; answers the first.
    PresetGroup* list(const QString& path, const QByteArray& groups, bool isSystem = false)
    {
        EXPECT_TRUE(writeFile(path, "<profiles>" + groups + "</profiles>"));
        PresetFileContents contents = readPresetFile(path, true, isSystem, false);
        EXPECT_FALSE(contents.groups.isEmpty());
        for (PresetGroup* group : contents.groups)
            manager.insertGroup(group, manager.groups().size());
        return contents.groups.value(0);
    }
};

TEST_F(PresetManagerRemoval, OnlyTheGroupsOwnFileGoes)
{
    IdentityScope identity(preset_test::kOtherIdentity);
    // In German "Soft" shows as "Weich", the name of another group's file.
    const QString soft = presetFile("Soft"), weich = presetFile("Weich");
    PresetGroup* group = list(soft, groupXml("Soft", "Weich"));
    list(weich, groupXml("Weich", "Weich"));
    AppEnvironment::setLanguage(QStringLiteral("de"));
    QPointer<PresetGroup> watch(group);

    QObject notifier;
    manager.setNotifier(&notifier);
    QSignalSpy aboutToRemove(&manager, &PresetManager::presetGroupAboutToBeRemoved);
    bool fileExistedWhenAnnounced = false;
    bool notifierBlockedWhileDeleting = false;
    QObject::connect(&manager, &PresetManager::presetGroupAboutToBeRemoved, [&] {
        fileExistedWhenAnnounced = QFile::exists(soft);
    });
    QObject::connect(watch, &QObject::destroyed, [&] { notifierBlockedWhileDeleting = notifier.signalsBlocked(); });

    manager.removeGroup(group);
    EXPECT_TRUE(fileExistedWhenAnnounced);
    EXPECT_EQ(aboutToRemove.count(), 1);
    EXPECT_FALSE(QFile::exists(soft));
    EXPECT_TRUE(QFile::exists(weich));
    EXPECT_TRUE(watch.isNull()); // deleted
    EXPECT_TRUE(notifierBlockedWhileDeleting);
    EXPECT_FALSE(notifier.signalsBlocked()); // restored
    EXPECT_EQ(order(manager), QStringList{"Weich"});

    // A group that is not listed: nothing happens.
    PresetGroup stranger(QStringLiteral("Stranger"));
    manager.removeGroup(&stranger);
    EXPECT_EQ(aboutToRemove.count(), 1);
    EXPECT_EQ(manager.groups().size(), 1);
}

TEST_F(PresetManagerRemoval, FilesThatAreNotTheGroupsAloneStay)
{
    IdentityScope identity(preset_test::kOtherIdentity);
    const struct {
        const char* name;
        QByteArray groups;
        bool isSystem;
    } cases[] = {
        {"read-only", groupXml("Locked", "Gesperrt", "true"), true},
        {"system", groupXml("Shipped", "Mitgeliefert"), true},
        {"shared with another group", groupXml("First", "Erste") + groupXml("Second", "Zweite"), false},
        {"shared with a loose preset", groupXml("Grouped", "Gruppe") + "<profile><name>Loose</name></profile>", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = presetFile(QString::fromLatin1(c.name));
        PresetGroup* group = list(path, c.groups, c.isSystem);
        const QByteArray before = preset_test::readFile(path);
        manager.removeGroup(group);
        EXPECT_FALSE(manager.groups().contains(group));
        EXPECT_EQ(preset_test::readFile(path), before);
    }

    // A group the host made itself has no file: the file its name would give is someone else's.
    const QString namesake = presetFile("Made Here");
    ASSERT_TRUE(writeFile(namesake, "<profiles/>"));
    auto* made = new PresetGroup(QStringLiteral("Made Here"));
    manager.insertGroup(made, 0);
    manager.removeGroup(made);
    EXPECT_TRUE(QFile::exists(namesake));
}

TEST_F(PresetManagerTest, RemovalKeepsANotifierBlockedThatWasBlocked)
{
    add({"Gone"});
    QObject notifier;
    notifier.blockSignals(true);
    manager.setNotifier(&notifier);
    manager.removeGroup(manager.groups()[0]);
    EXPECT_TRUE(notifier.signalsBlocked());
    EXPECT_TRUE(manager.groups().isEmpty());
}

TEST(PresetFileName, SanitisesDisplayNames)
{
    const struct {
        const char* identity;
        QString name;
        QString stem;
    } cases[] = {
        {preset_test::kOtherIdentity, "  .My: look?  ", "My look"},
        {preset_test::kOtherIdentity, "..x", ".x"},
        {preset_test::kOtherIdentity, "???", "preset"},
        {preset_test::kPhotoIdentity, "???", "solvane"},
        {preset_test::kOtherIdentity, QString::fromUtf8("a'b!c*d,e|f¡g¿h<i>j\\k/l;m^n"), "abcdefghijklmn"},
        {preset_test::kOtherIdentity, "Tab\tand\n new line", "Tab and new line"},
        {preset_test::kOtherIdentity, "Keep-these_(1)&", "Keep-these_(1)&"},
    };
    for (const auto& c : cases) {
        IdentityScope identity(c.identity);
        EXPECT_EQ(PresetManager::presetFileName(c.name), c.stem) << c.name.toStdString();
    }
}

TEST(PresetFileName, DevelopGroupsGetAPrefixInEditorMode)
{
    QTemporaryDir folder;
    const GroupSpec soft{"Soft", false, false, "1100", true, PresetGroup::UserDefined, {17, 18}};
    {
        IdentityScope identity(preset_test::kPhotoIdentity);
        std::unique_ptr<PresetGroup> group(makeGroup(soft));
        const QString path = folder.filePath("develop_1100_17_Soft.solvane");
        ASSERT_TRUE(writeFile(path, "x"));
        EXPECT_EQ(PresetManager::presetFilePath(group.get(), folder.path()), path);
        EXPECT_TRUE(PresetManager::deletePresetFile(group.get(), folder.path()));
        EXPECT_FALSE(QFile::exists(path));
        EXPECT_FALSE(PresetManager::deletePresetFile(group.get(), folder.path())); // nothing left to remove

        // Without presets the scene uid stands in, 0 when it is unset.
        std::unique_ptr<PresetGroup> empty(makeGroup({"Soft", false, false, "1100", true}));
        EXPECT_EQ(PresetManager::presetFilePath(empty.get(), folder.path() + "/"),
                  folder.filePath("develop_1100_0_Soft.solvane"));
    }
    IdentityScope identity(preset_test::kOtherIdentity);
    std::unique_ptr<PresetGroup> group(makeGroup(soft));
    EXPECT_EQ(PresetManager::presetFilePath(group.get(), folder.path()), folder.filePath("Soft.preset"));
    EXPECT_TRUE(PresetManager::presetFilePath(group.get(), QString()).startsWith(AppEnvironment::presetsPath()));
}

TEST(ComposePreset, CopiesThePersistentPresetAndLinksBoth)
{
    const SharedPreset base = makeSharedPreset();
    const SharedPreset persistent = makeSharedPreset();
    persistent->names.insert("en", "Kept");
    persistent->uid = 12;
    persistent->layerParams(1).iFinishWhites = 9;
    const SharedPreset composed = PresetManager::composePreset(base, persistent);
    EXPECT_NE(composed, persistent);
    EXPECT_EQ(composed->presetDisplayName("en"), "Kept");
    EXPECT_EQ(composed->uid, 12);
    EXPECT_EQ(composed->layerParams(1).iFinishWhites, 9);
    EXPECT_EQ(composed->basePreset(), base);
    EXPECT_EQ(composed->persistentPreset(), persistent);
}

// The host's start: every preset file of a folder tree read into the manager in sorted order.
TEST(PresetManagerLibrary, LoadsAFolderTree)
{
    IdentityScope identity(preset_test::kOtherIdentity);
    QTemporaryDir root;
    ASSERT_TRUE(writeFile(root.filePath("system/Velmora.preset"),
                          "<profiles><group uuid='2000'><names><name lang='en'>Velmora</name></names><readonly5>true</readonly5>"
                          "<profile><name>V1</name><uid>2001</uid></profile></group></profiles>"));
    ASSERT_TRUE(writeFile(root.filePath("user/Mine.preset"),
                          "<profiles><group><names><name lang='en'>Mine</name></names>"
                          "<profile><name>M1</name><uid>1</uid><correction><strength>3</strength></correction></profile>"
                          "</group><group><names><name lang='en'>Also mine</name></names></group></profiles>"));
    ASSERT_TRUE(writeFile(root.filePath("user/deeper/Broken.preset"), "<profiles><group><names>"));

    PresetManager manager;
    QSignalSpy added(&manager, &PresetManager::presetGroupAdded);
    for (const char* sub : {"system", "user"}) {
        QDirIterator files(root.filePath(sub), {"*.preset"}, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            PresetFileContents contents = readPresetFile(files.next(), true, QLatin1String(sub) == "system", false);
            for (PresetGroup* group : contents.groups)
                manager.sortedAddGroup(group);
        }
    }
    EXPECT_EQ(order(manager), (QStringList{"Velmora", "Also mine", "Mine"}));
    EXPECT_EQ(added.count(), 3);
    PresetGroup* mine = manager.groups()[2];
    EXPECT_EQ(mine->filePath(), root.filePath("user/Mine.preset"));
    EXPECT_EQ(mine->presets()[0]->layerParams(0).strength, 3); // loaded on first use
    EXPECT_TRUE(manager.groups()[0]->isPack());
}

} // namespace
