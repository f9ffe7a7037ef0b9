// The preset manager: group order, insertion and removal, forwarded signals, preset file names.
#include "editing/model/preset_manager.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtDebug>

#include <algorithm>

#include "editing/model/preset_file.h"
#include "editing/model/preset_group.h"
#include "manager/app/environment.h"

namespace {

// Groups of a pack come before ordinary groups; develop groups after their packs.
enum GroupClass { PackGroup = 0, DevelopGroup = 1, OtherGroup = 2 };
// Among the other groups: system groups, then the imported group, then the user's.
enum GroupCategory { SystemGroup = 0, ImportedGroup = 1, UserGroup = 2 };

constexpr int kUnrankedPack = 1000000;

int groupClass(PresetGroup* group)
{
    if (!group->isPack())
        return OtherGroup;
    return group->isDevelop() ? DevelopGroup : PackGroup;
}

int groupCategory(PresetGroup* group)
{
    if (group->isSystem())
        return SystemGroup;
    return group->localisedName(QString()) == AppEnvironment::importedPresetsGroupName() ? ImportedGroup : UserGroup;
}

int packRank(PresetGroup* group, const QStringList& packOrder)
{
    const int index = packOrder.indexOf(group->localisedName(QStringLiteral("en")));
    return index < 0 ? kUnrankedPack : index;
}

int firstPresetPosition(PresetGroup* group, const QList<int>& uids)
{
    return uids.indexOf(group->presets().first()->uid);
}

} // namespace

GroupSortContext::GroupSortContext(const QList<PresetGroup*>& groups)
    : packOrder({QStringLiteral("Harrowgate"), QStringLiteral("Velmora"), QStringLiteral("Quennick"),
                 QStringLiteral("Stavewood"), QStringLiteral("Orrindale"), QStringLiteral("Pellucine"),
                 QStringLiteral("Tarnberry")})
{
    for (PresetGroup* group : groups) {
        if (!group->isPack() || group->isDevelop())
            continue;
        QList<int>& uids = uidsByUuid[group->uuid()];
        uids.clear();
        for (const SharedPreset& preset : group->presets())
            uids.append(preset->uid);
    }
}

bool compareGroups(PresetGroup* a, PresetGroup* b, const GroupSortContext& context)
{
    const int classA = groupClass(a), classB = groupClass(b);
    if (classA != classB)
        return classA < classB;

    if (classA == PackGroup)
        return a->uuid() < b->uuid();

    if (classA == DevelopGroup) {
        if (a->uuid() != b->uuid())
            return a->uuid() < b->uuid();
        if (!a->presets().isEmpty() && !b->presets().isEmpty()) {
            const QList<int> uids = context.uidsByUuid.value(a->uuid());
            const int ia = firstPresetPosition(a, uids), ib = firstPresetPosition(b, uids);
            if (ia != ib)
                return ia < ib;
        }
        if (a->type() != b->type())
            return a->type() < b->type();
        return a->localisedName(QString()) < b->localisedName(QString());
    }

    const int categoryA = groupCategory(a), categoryB = groupCategory(b);
    if (categoryA != categoryB)
        return categoryA < categoryB;
    if (categoryA == SystemGroup) {
        const int rankA = packRank(a, context.packOrder), rankB = packRank(b, context.packOrder);
        if (rankA != rankB)
            return rankA < rankB;
    }
    return a->localisedName(QString()) < b->localisedName(QString());
}

PresetManager::PresetManager(QObject* parent) : QObject(parent)
{
    registerPresetMetaTypes();
    qRegisterMetaType<PresetGroup*>("PresetGroup*");
    qRegisterMetaType<QList<PresetGroup*>>("QList<PresetGroup*>");
}

PresetManager::~PresetManager()
{
    qDeleteAll(m_groups);
}

void PresetManager::markPackOrLoose(PresetGroup* group)
{
    group->setLoose(group->uuid().isEmpty());
    group->setPack(!group->uuid().isEmpty());
}

void PresetManager::adoptGroup(PresetGroup* group, int position)
{
    m_groups.insert(position, group);
    connect(group, &PresetGroup::presetAboutToBeRemoved, this, &PresetManager::presetAboutToBeRemoved);
    connect(group, &PresetGroup::presetRemoved, this, &PresetManager::presetRemoved);
    connect(group, &PresetGroup::presetAdded, this, &PresetManager::presetAdded);
    connect(group, &PresetGroup::presetChanged, this, &PresetManager::presetChanged);
    connect(group, &PresetGroup::presetsAdded, this,
            [this, group](const QList<SharedPreset>& presets) { emit presetsAdded(group, presets); });
    markPackOrLoose(group);
}

void PresetManager::insertGroup(PresetGroup* group, int position)
{
    if (!group)
        return;
    adoptGroup(group, position);
    emit presetGroupAdded(group, position);
}

void PresetManager::insertGroups(QList<PresetGroup*> groups, int position)
{
    for (int i = 0; i < groups.size(); ++i)
        adoptGroup(groups.at(i), position + i);
    emit presetGroupsAdded(groups, position);
}

bool PresetManager::isPinned(PresetGroup* group) const
{
    return group->localisedName(QString()) == AppEnvironment::favoritesGroupName() || group == m_pinnedGroup
        || group->isReadOnly();
}

int PresetManager::skipPinnedGroups() const
{
    int position = 0;
    while (position < m_groups.size() && isPinned(m_groups.at(position)))
        ++position;
    return position;
}

void PresetManager::sortedAddGroup(PresetGroup* group)
{
    if (!group)
        return;
    // The order asks whether the new group is a pack: mark it before looking for its place.
    markPackOrLoose(group);
    int position;
    if (AppEnvironment::isPhotoIdentity()) {
        const GroupSortContext context(m_groups);
        position = int(std::upper_bound(m_groups.begin(), m_groups.end(), group,
                                        [&context](PresetGroup* a, PresetGroup* b) { return compareGroups(a, b, context); })
                       - m_groups.begin());
    } else {
        const int firstUnpinned = skipPinnedGroups();
        if (group->isReadOnly()) {
            position = firstUnpinned;
        } else {
            const QString name = group->localisedName(QString());
            position = int(std::upper_bound(m_groups.begin() + firstUnpinned, m_groups.end(), name,
                                            [](const QString& n, PresetGroup* listed) {
                                                return n < listed->localisedName(QString());
                                            })
                           - m_groups.begin());
        }
    }
    insertGroup(group, position);
}

void PresetManager::removeGroup(PresetGroup* group)
{
    if (m_groups.isEmpty() || !m_groups.contains(group))
        return;
    emit presetGroupAboutToBeRemoved(group);

    // The host watches the preset folder through the notifier; deleting our own file is no news.
    QObject* notifier = m_notifier;
    const bool wasBlocked = notifier ? notifier->signalsBlocked() : false;
    if (notifier)
        notifier->blockSignals(true);
    const QString file = ownPresetFile(group);
    if (!file.isEmpty() && !QFile::remove(file))
        qWarning() << "Could not delete the preset file" << file << "of a removed group";
    m_groups.removeOne(group);
    if (m_pinnedGroup == group)
        m_pinnedGroup = nullptr;
    delete group;
    if (notifier)
        notifier->blockSignals(wasBlocked);
}

QString PresetManager::ownPresetFile(PresetGroup* group)
{
    if (!group || group->isReadOnly() || group->isSystem() || group->filePath().isEmpty())
        return QString();
    PresetFileContents contents = readPresetFile(group->filePath(), true, false, false);
    const bool alone = contents.errorString.isEmpty() && contents.groups.size() == 1 && contents.presets.isEmpty();
    contents.discard();
    return alone ? group->filePath() : QString();
}

SharedPreset PresetManager::composePreset(const SharedPreset& basePreset, const SharedPreset& persistentPreset)
{
    SharedPreset composed = makeSharedPreset();
    composed->copyFrom(persistentPreset);
    composed->setBasePreset(basePreset);
    composed->setPersistentPreset(persistentPreset);
    return composed;
}

QString PresetManager::presetFileName(const QString& name)
{
    static const QRegularExpression unsafe(
        QStringLiteral("[") + QRegularExpression::escape(QStringLiteral("'!*,?|¡¿<>\\/:;^")) + QStringLiteral("]"));
    QString stem = name.simplified();
    stem.remove(unsafe);
    if (stem.startsWith(QLatin1Char('.')))
        stem.remove(0, 1);
    if (stem.isEmpty())
        stem = AppEnvironment::isPhotoIdentity() ? QStringLiteral("solvane") : QStringLiteral("preset");
    return stem;
}

QString PresetManager::presetFilePath(PresetGroup* group, const QString& folder)
{
    QString path = folder.isEmpty() ? AppEnvironment::presetsPath() : folder;
    const QString stem = presetFileName(group->localisedName(QString()));
    QString prefix;
    if (AppEnvironment::isPhotoIdentity() && group->isDevelop()) {
        int uid = group->presets().isEmpty() ? group->sceneUid() : group->presets().first()->uid;
        if (uid == -1)
            uid = 0;
        prefix = QStringLiteral("develop_%1_%2_").arg(group->uuid()).arg(uid);
    }
    if (!path.endsWith(QDir::separator()))
        path += QDir::separator();
    return path + prefix + stem + AppEnvironment::presetFileExtension();
}

bool PresetManager::deletePresetFile(PresetGroup* group, const QString& folder)
{
    return group && QFile::remove(presetFilePath(group, folder));
}
