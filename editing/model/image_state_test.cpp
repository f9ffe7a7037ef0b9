#include "editing/model/image_state.h"

#include "editing/model/testing/document_states.h"
#include "editing/model/params_equality.h"
#include "editing/model/preset_group.h"
#include "editing/model/preset_manager.h"
#include "editing/model/raw_defaults.h"
#include "editing/model/vxl_image.h"

#include <QSignalSpy>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <functional>

namespace {

SharedPreset presetWithStack(const QString& name)
{
    SharedPreset preset = makeSharedPreset();
    preset->names.insert(QStringLiteral("en"), name);
    preset->createPresetParams();
    return preset;
}

// A changed block that the equality test counts as different.
VXLParams changedBlock(VXLParams block)
{
    block.contrastOn = true;
    block.contrast += 0.5f;
    return block;
}

struct DocumentFixture : ::testing::Test {
    VxlImage document;
    SharedVxlImageState first;

    DocumentFixture()
    {
        first = document_test::plainState();
        document.setInitialState(first);
    }

    int steps() const { return document.undoStack()->count(); }
    const QUndoCommand* top() const { return document.undoStack()->command(document.undoStack()->index() - 1); }
};

using ImageUndo = DocumentFixture;
using ImageEdits = DocumentFixture;

}  // namespace

TEST(CropSettingsEquality, ComparesWhatFramesThePicture)
{
    const auto with = [](auto change) {
        CropSettings settings;
        change(settings);
        return settings;
    };
    const auto headCrop = [](auto change) {
        CropSettings settings;
        settings.headCrop = true;
        change(settings.headCropProperties);
        return settings;
    };
    struct Case {
        const char* name;
        CropSettings a, b;
        bool equal;
    } const cases[] = {
        {"defaults", CropSettings(), CropSettings(), true},
        {"aux fields never count", headCrop([](QHeadCropProperties& p) { p.auxInt = 3; p.auxDouble1 = 7; }),
         headCrop([](QHeadCropProperties&) {}), true},
        {"head crop switch", with([](CropSettings& s) { s.headCrop = true; }), CropSettings(), false},
        {"mirroring", with([](CropSettings& s) { s.flipV = true; }), CropSettings(), false},
        {"rotation", with([](CropSettings& s) { s.rotation = 90; }), CropSettings(), false},
        {"fuzzy straighten", with([](CropSettings& s) { s.straighten = 1.0; }),
         with([](CropSettings& s) { s.straighten = 1.0 + 1e-14; }), true},
        {"zero equals only zero", with([](CropSettings& s) { s.straighten = 1e-300; }), CropSettings(), false},
        {"crop rectangle", with([](CropSettings& s) { s.cropRect.setWidth(0.5); }), CropSettings(), false},
        {"head-crop fields ignored without head crop",
         with([](CropSettings& s) { s.headCropProperties.zoom = 9; }), CropSettings(), true},
        {"zoom", headCrop([](QHeadCropProperties& p) { p.zoom = 2; }), headCrop([](QHeadCropProperties&) {}),
         false},
        {"aspect compared as a ratio", headCrop([](QHeadCropProperties& p) { p.aspectWidth = 8; p.aspectHeight = 10; }),
         headCrop([](QHeadCropProperties&) {}), true},
        {"aspect ratio", headCrop([](QHeadCropProperties& p) { p.aspectWidth = 5; }),
         headCrop([](QHeadCropProperties&) {}), false},
        {"aspect height 0 equals itself", headCrop([](QHeadCropProperties& p) { p.aspectHeight = 0; }),
         headCrop([](QHeadCropProperties& p) { p.aspectHeight = 0; }), true},
        {"aspect 0 by 0 equals itself", headCrop([](QHeadCropProperties& p) { p.aspectWidth = p.aspectHeight = 0; }),
         headCrop([](QHeadCropProperties& p) { p.aspectWidth = p.aspectHeight = 0; }), true},
        {"aspect height 0 is no ratio", headCrop([](QHeadCropProperties& p) { p.aspectHeight = 0; }),
         headCrop([](QHeadCropProperties& p) { p.aspectWidth = 8; p.aspectHeight = 0; }), false},
        {"aspect 0 by 0 against a ratio", headCrop([](QHeadCropProperties& p) { p.aspectWidth = p.aspectHeight = 0; }),
         headCrop([](QHeadCropProperties&) {}), false},
        {"line ratio", headCrop([](QHeadCropProperties& p) { p.lineRatio = 0.3; }),
         headCrop([](QHeadCropProperties&) {}), false},
        {"mode", headCrop([](QHeadCropProperties& p) { p.mode = 3; }), headCrop([](QHeadCropProperties&) {}),
         false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cropSettingsEqual(c.a, c.b), c.equal) << c.name;
        EXPECT_EQ(cropSettingsEqual(c.b, c.a), c.equal) << c.name;
    }
}

TEST(ImageStateCopy, CopiesRecordsButNotLinksOrPristine)
{
    SharedVxlImageState source(new VxlImageState);
    source->preset = presetWithStack(QStringLiteral("p"));
    source->preset->pristine = true;
    source->preset->setOriginPreset(presetWithStack(QStringLiteral("origin")));
    source->uber.reset(new UberParams{});
    source->uber->uberValue = 42;
    source->crop.flipH = true;

    const SharedVxlImageState copy = copyImageState(source);
    EXPECT_NE(copy->preset, source->preset);
    EXPECT_EQ(copy->preset->presetDisplayName(), QStringLiteral("p"));
    EXPECT_FALSE(copy->preset->pristine);
    EXPECT_FALSE(copy->preset->originPreset());
    EXPECT_NE(copy->uber, source->uber);
    EXPECT_EQ(copy->uber->uberValue, 42);
    EXPECT_TRUE(copy->raw.isNull());
    EXPECT_TRUE(copy->crop.flipH);
}

TEST_F(ImageUndo, APushBecomesCurrentAndUndoRedoWalkTheHistoryWithSignals)
{
    QSignalSpy pushed(&document, &Undoable::stateChanged);
    QSignalSpy announced(&document, &VxlImage::requestStateChange);

    const VXLParams block = changedBlock(document.currentPreset()->layerParams(0));
    document.setCorrectionParams(block, QStringLiteral("tone"), PushNewStep);
    ASSERT_EQ(steps(), 1);
    ASSERT_EQ(pushed.count(), 1);
    EXPECT_EQ(pushed[0][0].value<QUndoCommand*>(), top());
    EXPECT_EQ(pushed[0][1].value<PushOption>(), PushNewStep);
    EXPECT_EQ(top()->text(), QStringLiteral("tone"));
    const SharedVxlImageState second = document.state();
    EXPECT_NE(second, first);
    EXPECT_FALSE(paramsDiffer(second->preset->layerParams(0), block));
    ASSERT_EQ(announced.count(), 1);
    EXPECT_EQ(announced[0][0].value<SharedVxlImageState>(), second);
    EXPECT_EQ(announced[0][1].value<VxlImage::StateProperties>(), VxlImage::StateProperties(VxlImage::CORRECTIONS));

    document.undoStack()->undo();
    EXPECT_EQ(document.state(), first);
    EXPECT_EQ(announced.count(), 2);
    document.undoStack()->redo();
    EXPECT_EQ(document.state(), second);
    EXPECT_EQ(announced.count(), 3);
}

TEST_F(ImageUndo, SuccessiveEditsOfOneIdMergeOnlyWhenAsked)
{
    document.setUberValue(60, PushMergeSameId);
    document.setUberValue(40, PushMergeSameId);
    EXPECT_EQ(steps(), 1);
    EXPECT_EQ(document.currentUberParams()->uberValue, 40);
    document.setCropSettings([] { CropSettings s; s.flipH = true; return s; }(), PushMergeSameId);
    EXPECT_EQ(steps(), 2);  // another id
    document.setUberValue(70, PushNewStep);
    EXPECT_EQ(steps(), 3);
    document.undoStack()->undo();
    document.undoStack()->undo();
    document.undoStack()->undo();
    EXPECT_EQ(document.state(), first);
}

// A host connects the editing slots before it hands the document its first state.
TEST(ImageEditsBeforeAState, DoNothing)
{
    VxlImage document;
    QSignalSpy pushed(&document, &Undoable::stateChanged);
    QSignalSpy announced(&document, &VxlImage::requestStateChange);
    const std::function<void()> edits[] = {
        [&] { document.setCorrectionParams(changedBlock(document_test::plainState()->preset->layerParams(0)), "p"); },
        [&] { document.setCorrectionParamsGF(*document_test::plainState()->preset->qvxlParams(), "gf"); },
        [&] { document.setCorrectionParamsRaw(makeDefaultRawParams()); },
        [&] { document.setUberValue(40, PushOption(0), true); },
        [&] { document.setCropSettings(CropSettings{true}); },
        [&] { document.setHeadCropSettings(QHeadCropProperties{}); },
        [&] { document.setPreset(presetWithStack("Any"), "preset"); },
    };
    for (const auto& edit : edits)
        edit();
    EXPECT_EQ(pushed.count(), 0);
    EXPECT_EQ(announced.count(), 0);
    EXPECT_EQ(document.undoStack()->count(), 0);
    EXPECT_FALSE(document.state());
}

TEST_F(ImageEdits, EqualValuesPushNothing)
{
    QSignalSpy pushed(&document, &Undoable::stateChanged);
    document.setCorrectionParams(document.currentPreset()->layerParams(0), QStringLiteral("tone"), PushNewStep);
    document.setUberValue(100, PushNewStep, true);  // 100 with base 0 gives layer 0 unchanged
    document.setCorrectionParamsGF(*document.currentPreset()->qvxlParams(), QStringLiteral("gf"), PushNewStep);
    document.setCorrectionParamsRaw({});
    document.setCorrectionParamsRaw(makeDefaultRawParams());
    CropSettings auxOnly;
    auxOnly.headCropProperties.auxInt = 99;
    document.setCropSettings(auxOnly, PushNewStep);
    document.setPreset(document.currentPreset(), QStringLiteral("same"), PushNewStep);
    document.setPreset({}, QStringLiteral("none"), PushNewStep);
    EXPECT_EQ(pushed.count(), 0);
    EXPECT_EQ(steps(), 0);
    EXPECT_EQ(document.state(), first);
}

TEST_F(ImageEdits, ARepeatedHeadCropWithoutAnAspectHeightPushesOneStep)
{
    CropSettings settings;
    settings.headCrop = true;
    settings.headCropProperties.aspectHeight = 0;
    document.setCropSettings(settings);
    document.setCropSettings(settings);
    EXPECT_EQ(steps(), 1);
}

TEST_F(ImageEdits, MasterAmountPushesTheScaledBlockWithItsOwnRecord)
{
    document.setUberValue(40, PushNewStep, false);
    ASSERT_EQ(steps(), 1);
    EXPECT_EQ(top()->text(), QStringLiteral("uber"));
    const QSharedPointer<UberParams> uber = document.currentUberParams();
    EXPECT_NE(uber, first->uber);
    EXPECT_EQ(uber->uberValue, 40);
    EXPECT_EQ(first->uber->uberValue, 100) << "the earlier state's record is never changed";
    VXLParams expected;
    applyUberValue(*uber, &expected);
    EXPECT_FALSE(paramsDiffer(document.currentPreset()->layerParams(0), expected));
}

TEST_F(ImageEdits, ResetMovesTheBaseToZero)
{
    QSharedPointer<UberParams> shifted(new UberParams(*first->uber));
    shifted->uberBase = 30;
    first->uber = shifted;
    document.setUberValue(80, PushNewStep, true);
    ASSERT_EQ(steps(), 1);
    EXPECT_EQ(document.currentUberParams()->uberBase, 0);
}

TEST_F(ImageEdits, ALibraryPresetAppliesAtFullStrengthAndIsAnnouncedOnce)
{
    PresetGroup group(QStringLiteral("Library"));
    SharedPreset library = presetWithStack(QStringLiteral("lib"));
    library->group = &group;
    QSharedPointer<UberParams> weak(new UberParams(*first->uber));
    weak->uberValue = 30;
    first->uber = weak;
    document.setNeedsCategoryPreset(true);
    QSignalSpy latest(&document, &VxlImage::requestLatestPersistentPresetChange);

    document.setPreset(library, QStringLiteral("preset"), PushNewStep);
    EXPECT_FALSE(document.needsCategoryPreset());
    EXPECT_EQ(document.currentPreset(), library) << "placed without a copy";
    EXPECT_EQ(document.currentUberParams()->uberValue, 100);
    ASSERT_EQ(latest.count(), 1);
    EXPECT_EQ(latest[0][0].value<SharedPreset>(), library);
    EXPECT_EQ(document.latestPersistentPreset(), library);

    // An edit on the library preset works on a copy descending from it, outside every group.
    document.setCorrectionParams(changedBlock(library->layerParams(0)), QStringLiteral("tone"), PushNewStep);
    const SharedPreset edited = document.currentPreset();
    EXPECT_NE(edited, library);
    EXPECT_EQ(edited->originPreset(), library);
    EXPECT_EQ(edited->group, nullptr);
    EXPECT_EQ(library->group, &group);

    document.setPreset(library, QStringLiteral("preset"), PushNewStep);
    EXPECT_EQ(latest.count(), 1) << "already the latest persistent preset";
    document.setNeedsCategoryPreset(true);
    document.setPreset(library, QStringLiteral("preset"), PushNewStep);
    EXPECT_FALSE(document.needsCategoryPreset()) << "cleared even when nothing is pushed";
}

TEST_F(ImageEdits, AComposedPresetIsComposedAnewFromAnEditedCopyOfItsPersistentPart)
{
    const SharedPreset base = presetWithStack(QStringLiteral("base"));
    const SharedPreset persistent = presetWithStack(QStringLiteral("persistent"));
    const VXLParams persistentBlock = persistent->layerParams(0);
    SharedVxlImageState composed = copyImageState(first);
    composed->preset = PresetManager::composePreset(base, persistent);
    document.setInitialState(composed);

    document.setCorrectionParams(changedBlock(persistentBlock), QStringLiteral("tone"), PushNewStep);
    const SharedPreset result = document.currentPreset();
    EXPECT_EQ(result->basePreset(), base);
    ASSERT_TRUE(result->persistentPreset());
    EXPECT_NE(result->persistentPreset(), persistent);
    EXPECT_EQ(result->persistentPreset()->originPreset(), persistent);
    EXPECT_FALSE(paramsDiffer(result->layerParams(0), changedBlock(persistentBlock)));
    EXPECT_FALSE(paramsDiffer(persistent->layerParams(0), persistentBlock)) << "the persistent preset is unchanged";
}

TEST_F(ImageEdits, CropChangesKeepThePresetsLinks)
{
    const SharedPreset origin = presetWithStack(QStringLiteral("origin"));
    first->preset->setOriginPreset(origin);
    CropSettings turned;
    turned.rotation = 90;
    document.setCropSettings(turned, PushNewStep);
    ASSERT_EQ(steps(), 1);
    EXPECT_EQ(top()->text(), QStringLiteral("crop"));
    EXPECT_EQ(document.currentPreset()->originPreset(), origin);
    EXPECT_DOUBLE_EQ(document.state()->crop.rotation, 90);
}

TEST_F(ImageEdits, AHeadCropReplacesMirroringRotationAndCrop)
{
    CropSettings mirrored;
    mirrored.flipH = true;
    mirrored.rotation = 90;
    mirrored.cropRect = QRectF(0.1, 0.1, 0.5, 0.5);
    document.setCropSettings(mirrored, PushNewStep);
    QHeadCropProperties properties;
    properties.zoom = 2.5;
    document.setHeadCropSettings(properties);
    ASSERT_EQ(steps(), 2);
    const CropSettings& crop = document.state()->crop;
    EXPECT_TRUE(crop.headCrop);
    EXPECT_FALSE(crop.flipH);
    EXPECT_DOUBLE_EQ(crop.rotation, 0);
    EXPECT_EQ(crop.cropRect, QRectF(0, 0, 1, 1));
    EXPECT_DOUBLE_EQ(crop.headCropProperties.zoom, 2.5);
}

TEST_F(ImageEdits, RawSettingsArePlacedWithoutACopy)
{
    QSignalSpy announced(&document, &VxlImage::requestStateChange);
    QSharedPointer<VXLRAWParams> raw = makeDefaultRawParams();
    raw->exposureCorrectionOn = !raw->exposureCorrectionOn;
    raw->exposureShift = 2.0f;
    document.setCorrectionParamsRaw(raw);
    ASSERT_EQ(steps(), 1);
    EXPECT_EQ(top()->text(), QStringLiteral("RAWParams"));
    EXPECT_EQ(document.state()->raw, raw);
    ASSERT_EQ(announced.count(), 1);
    EXPECT_TRUE(announced[0][1].value<VxlImage::StateProperties>().testFlag(VxlImage::RAW));
}

TEST_F(ImageEdits, AStackWithFewerLayersThanThePresetIsRefused)
{
    QVXLParams shorter(2);
    shorter.blocks[0] = changedBlock(shorter.blocks[0]);
    document.setCorrectionParamsGF(shorter, QStringLiteral("gf"), PushNewStep);
    EXPECT_EQ(steps(), 0);
    shorter.releaseArrays();

    QVXLParams full(4);
    full.blocks[0] = changedBlock(full.blocks[0]);
    document.setCorrectionParamsGF(full, QStringLiteral("gf"), PushNewStep);
    EXPECT_EQ(steps(), 1);
    EXPECT_FALSE(paramsDiffer(document.currentPreset()->layerParams(0), full.blocks[0]));
    full.releaseArrays();
}
