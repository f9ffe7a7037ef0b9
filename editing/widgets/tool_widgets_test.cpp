#include "editing/widgets/generic_tool_widget.h"
#include "editing/widgets/look_group.h"
#include "editing/widgets/modifier_button.h"
#include "editing/widgets/tool_header_widget.h"
#include "editing/widgets/tool_preset_manager.h"
#include "editing/widgets/testing/widget_events.h"
#include "manager/app/testing/test_environment.h"

#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

TEST(ToolWidgetInterfaces, MetaObjectsAsHostsConnectToThem)
{
    struct Case {
        const QMetaObject* meta;
        const char* className;
        const char* superClass;
        QStringList methods;
    };
    const Case cases[] = {
        {&GenericToolWidget::staticMetaObject, "GenericToolWidget", "QWidget",
         {"toolOpenChanged(bool)", "toolEnabledChanged(bool)"}},
        {&ToolHeaderWidget::staticMetaObject, "ToolHeaderWidget", "QFrame",
         {"showButtonToggled(bool)", "enablerButtonToggled(bool)"}},
        {&ModifierButton::staticMetaObject, "ModifierButton", "QPushButton",
         {"clicked(Qt::MouseButton,Qt::KeyboardModifiers)", "mousePressEvent(QMouseEvent*)"}},
        {&LookGroup::staticMetaObject, "LookGroup", "ExpandableGroup", {"lookAdded(Look*)", "lookRemoved(QModelIndex)"}},
        {&ToolPresetManager::staticMetaObject, "ToolPresetManager", "QObject",
         {"presetAdded(QString)", "presetRemoved(QString)", "presetUpdated(QString)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.className);
        EXPECT_STREQ(c.meta->className(), c.className);
        EXPECT_STREQ(c.meta->superClass()->className(), c.superClass);
        EXPECT_EQ(ownMethods(*c.meta), c.methods);
        EXPECT_EQ(c.meta->propertyCount(), c.meta->propertyOffset());
        EXPECT_EQ(c.meta->enumeratorCount(), c.meta->enumeratorOffset());
    }
    const int slot = ModifierButton::staticMetaObject.indexOfMethod("mousePressEvent(QMouseEvent*)");
    ASSERT_GE(slot, 0);
    EXPECT_EQ(ModifierButton::staticMetaObject.method(slot).access(), QMetaMethod::Private);
    EXPECT_EQ(ModifierButton::staticMetaObject.method(slot).methodType(), QMetaMethod::Slot);
}

TEST(ToolWidgetInterfaces, HeaderDrivesTheToolsSignals)
{
    GenericToolWidget tool;
    auto* header = new ToolHeaderWidget(&tool);
    tool.attachHeader(header);
    QSignalSpy open(&tool, &GenericToolWidget::toolOpenChanged);
    QSignalSpy enabled(&tool, &GenericToolWidget::toolEnabledChanged);
    tool.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tool));
    QTest::mouseClick(header->headerToggleButton(), Qt::LeftButton);
    QTest::mouseClick(header->enablerButton(), Qt::LeftButton);
    ASSERT_EQ(open.count(), 1);
    EXPECT_FALSE(open.first().at(0).toBool());
    ASSERT_EQ(enabled.count(), 1);
    EXPECT_FALSE(enabled.first().at(0).toBool());

    header->setShowButtonVisibility(false);
    header->headerToggleButton()->show();
    header->restoreHeaderVisibility();
    EXPECT_FALSE(header->headerToggleButton()->isVisible());
    EXPECT_TRUE(header->enablerButton()->isVisible());
}

TEST(ToolWidgetInterfaces, ModifierButtonTellsButtonAndModifiers)
{
    ModifierButton button;
    button.resize(80, 30);
    button.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&button));
    std::vector<std::pair<Qt::MouseButton, Qt::KeyboardModifiers>> pressed;
    QObject::connect(&button, QOverload<Qt::MouseButton, Qt::KeyboardModifiers>::of(&ModifierButton::clicked),
                     [&pressed](Qt::MouseButton which, Qt::KeyboardModifiers held) { pressed.emplace_back(which, held); });
    QSignalSpy plainClicked(&button, QOverload<bool>::of(&QPushButton::clicked));
    QTest::mouseClick(&button, Qt::LeftButton, Qt::ShiftModifier | Qt::AltModifier, QPoint(10, 10));
    QTest::mouseClick(&button, Qt::RightButton, Qt::ControlModifier, QPoint(10, 10));
    ASSERT_EQ(pressed.size(), 2u);
    EXPECT_EQ(pressed[0].first, Qt::LeftButton);
    EXPECT_EQ(pressed[0].second, Qt::ShiftModifier | Qt::AltModifier);
    EXPECT_EQ(pressed[1].first, Qt::RightButton);
    EXPECT_EQ(pressed[1].second, Qt::ControlModifier);
    EXPECT_EQ(plainClicked.count(), 1); // the standard click still works for the left button

    // The override is a slot: invoking it through the meta-object system runs the press.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), Qt::MiddleButton, Qt::MiddleButton, Qt::MetaModifier);
    ASSERT_TRUE(QMetaObject::invokeMethod(&button, "mousePressEvent", Q_ARG(QMouseEvent*, &press)));
    ASSERT_EQ(pressed.size(), 3u);
    EXPECT_EQ(pressed[2].first, Qt::MiddleButton);
    EXPECT_EQ(pressed[2].second, Qt::MetaModifier);
}

TEST(ToolWidgetInterfaces, LookGroupNamesByLanguage)
{
    TestEnvironment environment;
    LookGroup group;
    EXPECT_TRUE(group.localisedName(QStringLiteral("de")).isEmpty());
    group.setName(QStringLiteral("fr"), QStringLiteral("Portraits (fr)"));
    EXPECT_EQ(group.localisedName(QStringLiteral("de")), QStringLiteral("Portraits (fr)"));
    group.setName(QStringLiteral("en"), QStringLiteral("Portraits"));
    group.setName(QStringLiteral("de"), QStringLiteral("Porträts"));
    EXPECT_EQ(group.localisedName(QStringLiteral("de")), QStringLiteral("Porträts"));
    EXPECT_EQ(group.localisedName(QStringLiteral("ja")), QStringLiteral("Portraits"));
    EXPECT_EQ(group.localisedName(QString()), group.localisedName(AppEnvironment::uiLanguageCode()));
    QSignalSpy status(&group, &ExpandableGroup::statusChanged);
    emit group.statusChanged(true);
    EXPECT_EQ(status.count(), 1);
}

TEST(ToolWidgetInterfaces, ToolPresetManagerAnnouncesByFileName)
{
    QTemporaryDir dir;
    ToolPresetManager manager(dir.filePath(QStringLiteral("tool-presets")));
    QSignalSpy added(&manager, &ToolPresetManager::presetAdded);
    QSignalSpy updated(&manager, &ToolPresetManager::presetUpdated);
    QSignalSpy removed(&manager, &ToolPresetManager::presetRemoved);

    EXPECT_TRUE(manager.savePreset(QStringLiteral("warm.preset"), "a"));
    EXPECT_TRUE(manager.savePreset(QStringLiteral("warm.preset"), "b"));
    EXPECT_EQ(manager.presetData(QStringLiteral("warm.preset")), QByteArray("b"));
    EXPECT_EQ(manager.presetFileNames(), QStringList{QStringLiteral("warm.preset")});
    EXPECT_TRUE(manager.removePreset(QStringLiteral("warm.preset")));
    EXPECT_FALSE(manager.removePreset(QStringLiteral("warm.preset")));
    for (const char* bad : {"", "..", "../escape.preset", "sub/dir.preset"})
        EXPECT_FALSE(manager.savePreset(QString::fromLatin1(bad), "x")) << bad;

    ASSERT_EQ(added.count(), 1);
    EXPECT_EQ(added.first().at(0).toString(), QStringLiteral("warm.preset"));
    EXPECT_EQ(updated.count(), 1);
    EXPECT_EQ(removed.count(), 1);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("escape.preset"))));
}

} // namespace
