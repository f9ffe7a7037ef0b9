#include "editing/model/face_list_model.h"

#include "editing/model/records/face_box.h"
#include "editing/model/image_model.h"
#include "editing/model/image_state.h"
#include "editing/model/testing/test_platform.h"
#include "editing/model/qvxl_platform.h"
#include "editing/model/vxl_image.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

using platform_test::TestPlatform;
using platform_test::faceWithEyes;

namespace {

VXL_POINT point(int x, int y)
{
    return VXL_POINT{x, y};
}

// A platform face: eyes and the box the platform computes from them.
VXL_FACE boxedFace(int id, int eye1X, int eye1Y, int eye2X, int eye2Y)
{
    VXL_FACE face = faceWithEyes(id, eye1X, eye1Y, eye2X, eye2Y);
    faceBoxFromEyes(&face);
    return face;
}

QList<int> ids(const QList<VXL_FACE>& faces)
{
    QList<int> result;
    for (const VXL_FACE& face : faces)
        result.append(face.id);
    return result;
}

struct FaceListFixture : ::testing::Test {
    TestPlatform platform;
    QVXLPlatform adapter;
    VxlImage document;
    SFBFacesModel model;

    FaceListFixture()
    {
        adapter.setPlatform(&platform);
        document.setPlatform(&adapter);
        model.setImage(&document);
        loadBothFaces();
    }

    // Face 1 at (40, 40, 220, 220); face 2 to the right at (540, 40, 220, 220), in the model as
    // in the platform.
    void loadBothFaces()
    {
        platform.faces = {boxedFace(1, 100, 100, 200, 100), boxedFace(2, 600, 100, 700, 100)};
        model.loadFaces(QList<VXL_FACE>(platform.faces.begin(), platform.faces.end()));
    }

    SFBFace face(int id) const
    {
        for (const SFBFace& record : model.allFaces()) {
            if (record.id == id)
                return record;
        }
        return SFBFace();
    }
};

using FaceListEdits = FaceListFixture;
using FaceListCreation = FaceListFixture;

}  // namespace

TEST_F(FaceListEdits, AnAcceptedEditIsCommittedAndSentToThePlatform)
{
    QSignalSpy changes(&model, &SFBFacesModel::requestFaceChange);
    QSignalSpy updates(&model, &SFBFacesModel::facesUpdated);
    model.startFaceEdit(1);
    EXPECT_TRUE(face(1).editing);
    model.moveEye(1, false, point(180, 120));
    EXPECT_EQ(changes.count(), 1);
    const SFBFace moved = changes[0][0].value<SFBFace>();
    EXPECT_EQ(moved.face.eye2X, 180);
    EXPECT_EQ(moved.face.width, 181) << "box follows the eyes: 2.2 x sqrt(80^2 + 20^2)";
    EXPECT_EQ(moved.committedFace.eye2X, 200) << "not committed while editing";

    model.endFaceEdit(1);
    ASSERT_EQ(platform.setFaceCalls.size(), 1u);
    EXPECT_EQ(platform.setFaceCalls[0].eye2X, 180);
    EXPECT_EQ(face(1).committedFace.eye2X, 180);
    EXPECT_FALSE(face(1).editing);
    EXPECT_EQ(changes.count(), 2);
    ASSERT_EQ(updates.count(), 1);
    const QList<VXL_FACE> listed = updates[0][0].value<QList<VXL_FACE>>();
    EXPECT_EQ(ids(listed), (QList<int>{1, 2}));
    EXPECT_EQ(listed[0].eye2Y, 120);
}

TEST_F(FaceListEdits, RefusedEditsFallBackToTheCommittedFaceWithTheSameSignals)
{
    struct Case {
        const char* name;
        VXL_POINT left, right;  // new eyes of face 1
        int platformAnswer;
        bool accepted;
        size_t platformCalls;
    } const cases[] = {
        {"moved onto face 2", {500, 100}, {600, 100}, 0, false, 0},
        {"platform refuses", {110, 100}, {210, 100}, -1, false, 1},
        // Face 1's box becomes (320, 40, 220, 220): its right edge 540 touches face 2's left edge.
        {"touching edges do not overlap", {380, 100}, {480, 100}, 0, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        loadBothFaces();
        platform.setFaceCalls.clear();
        platform.setFaceAnswer = c.platformAnswer;
        QSignalSpy changes(&model, &SFBFacesModel::requestFaceChange);
        QSignalSpy updates(&model, &SFBFacesModel::facesUpdated);
        model.startFaceEdit(1);
        model.moveEye(1, true, c.left);
        model.moveEye(1, false, c.right);
        model.endFaceEdit(1);
        EXPECT_EQ(platform.setFaceCalls.size(), c.platformCalls);
        const SFBFace result = face(1);
        EXPECT_EQ(result.face.eye1X, c.accepted ? c.left.x : 100);
        EXPECT_EQ(result.committedFace.eye1X, c.accepted ? c.left.x : 100);
        EXPECT_EQ(changes.count(), 3);
        EXPECT_EQ(updates.count(), 1);
    }
}

TEST_F(FaceListEdits, UnknownIdsChangeNothingAndEmitNothing)
{
    QSignalSpy changes(&model, &SFBFacesModel::requestFaceChange);
    QSignalSpy updates(&model, &SFBFacesModel::facesUpdated);
    model.startFaceEdit(9);
    model.moveEye(9, true, point(1, 1));
    model.endFaceEdit(9);
    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(updates.count(), 0);
    EXPECT_TRUE(platform.setFaceCalls.empty());
}

TEST_F(FaceListEdits, WithoutAnAdapterAnEditFallsBack)
{
    VxlImage detached;
    model.setImage(&detached);
    model.startFaceEdit(1);
    model.moveEye(1, true, point(90, 100));
    model.endFaceEdit(1);
    EXPECT_EQ(face(1).face.eye1X, 100);
    model.setImage(nullptr);
    model.moveEye(1, true, point(90, 100));
    model.endFaceEdit(1);
    EXPECT_EQ(face(1).face.eye1X, 100);
}

TEST_F(FaceListCreation, TwoEyesMakeAFaceThatThePlatformNumbers)
{
    QSignalSpy creating(&model, &SFBFacesModel::requestFaceCreationChange);
    QSignalSpy added(&model, &SFBFacesModel::requestFaceAdd);
    QSignalSpy deleted(&model, &SFBFacesModel::requestFaceDelete);
    QSignalSpy updates(&model, &SFBFacesModel::facesUpdated);

    model.startFaceCreation();
    EXPECT_TRUE(model.isCreating());
    EXPECT_EQ(model.creatingFaceId(), -1);
    ASSERT_EQ(creating.count(), 1);
    EXPECT_TRUE(creating[0][0].toBool());
    ASSERT_EQ(added.count(), 1);
    EXPECT_EQ(added[0][0].value<SFBFace>().id, -1);

    EXPECT_EQ(model.addEye(point(150, 150)), SFBFacesModel::EyeRefused) << "inside face 1";
    EXPECT_EQ(model.addEye(point(0, 0)), SFBFacesModel::LeftEyePlaced);
    EXPECT_EQ(model.addEye(point(1000, 500)), SFBFacesModel::LeftEyePlaced) << "(0, 0) counts as not set";
    EXPECT_EQ(model.addEye(point(1100, 500)), SFBFacesModel::RightEyePlaced);
    EXPECT_EQ(model.addEye(point(1200, 500)), SFBFacesModel::EyeRefused);
    const SFBFace temporary = face(-1);
    EXPECT_EQ(temporary.face.width, 220) << "the box follows the second eye";

    model.endFaceCreation(-1, true);
    EXPECT_FALSE(model.isCreating());
    ASSERT_EQ(platform.setFacesCalls.size(), 1u);
    EXPECT_EQ(platform.faces.back().id, 3) << "numbered by the platform";
    const SFBFace created = face(3);
    EXPECT_EQ(created.id, 3);
    EXPECT_TRUE(created.created);
    EXPECT_FALSE(created.editing);
    EXPECT_EQ(created.committedFace.eye1X, 1000);
    EXPECT_EQ(face(-1).id, -1) << "gone: the default record";
    EXPECT_EQ(model.allFaces().size(), 3);
    EXPECT_EQ(added.count(), 2);
    EXPECT_EQ(added[1][0].value<SFBFace>().id, 3);
    EXPECT_EQ(deleted.count(), 1);
    EXPECT_EQ(deleted[0][0].toInt(), -1);
    ASSERT_EQ(updates.count(), 1);
    EXPECT_EQ(ids(updates[0][0].value<QList<VXL_FACE>>()), (QList<int>{1, 2, 3}));
}

TEST_F(FaceListCreation, CancelledAndRefusedCreationsDropTheTemporaryFace)
{
    struct Case {
        bool accept;
        int platformAnswer;
    } const cases[] = {{false, 0}, {true, -1}};
    for (const Case& c : cases) {
        platform.setFacesAnswer = c.platformAnswer;
        QSignalSpy added(&model, &SFBFacesModel::requestFaceAdd);
        QSignalSpy deleted(&model, &SFBFacesModel::requestFaceDelete);
        QSignalSpy updates(&model, &SFBFacesModel::facesUpdated);
        model.startFaceCreation();
        const int temporaryId = model.creatingFaceId();
        model.addEye(point(1000, 500));
        model.addEye(point(1100, 500));
        model.endFaceCreation(temporaryId, c.accept);
        EXPECT_EQ(added.count(), 1) << "only the temporary face";
        ASSERT_EQ(deleted.count(), 1);
        EXPECT_EQ(deleted[0][0].toInt(), temporaryId);
        EXPECT_EQ(updates.count(), 1);
        EXPECT_EQ(model.allFaces().size(), 2);
    }
}

TEST_F(FaceListCreation, TemporaryIdsCountDownAcrossCancelledCreations)
{
    model.startFaceCreation();
    EXPECT_EQ(model.creatingFaceId(), -1);
    model.endFaceCreation(-1, false);
    model.startFaceCreation();
    EXPECT_EQ(model.creatingFaceId(), -2);
}

TEST_F(FaceListCreation, EndingAnUnknownCreationLeavesItRunningSilently)
{
    model.startFaceCreation();
    QSignalSpy creating(&model, &SFBFacesModel::requestFaceCreationChange);
    QSignalSpy updates(&model, &SFBFacesModel::facesUpdated);
    model.endFaceCreation(-7, true);
    EXPECT_TRUE(model.isCreating());
    EXPECT_EQ(creating.count(), 0);
    EXPECT_EQ(updates.count(), 0);
    EXPECT_EQ(model.addEye(point(0, 0)), SFBFacesModel::LeftEyePlaced);
}

TEST_F(FaceListCreation, AddEyeOutsideACreationIsRefused)
{
    EXPECT_EQ(model.addEye(point(1000, 1000)), SFBFacesModel::EyeRefused);
    EXPECT_EQ(model.allFaces().size(), 2);
}

TEST_F(FaceListEdits, RemovingAFaceAlwaysAnnouncesIt)
{
    QSignalSpy deleted(&model, &SFBFacesModel::requestFaceDelete);
    model.removeFace(2);
    model.removeFace(42);
    ASSERT_EQ(deleted.count(), 2);
    EXPECT_EQ(deleted[1][0].toInt(), 42);
    EXPECT_EQ(model.allFaces().size(), 1);
    EXPECT_TRUE(platform.setFacesCalls.empty()) << "the platform is not told";
}

TEST_F(FaceListEdits, FacesInCropFollowTheImageModelsCrop)
{
    ImageModel geometry;
    geometry.setSize({100, 50}, {1000, 500});
    model.setImageModel(&geometry);
    struct Case {
        const char* name;
        CropSettings crop;
        QList<int> expected;
    };
    CropSettings none;
    none.cropRect = QRectF();
    CropSettings leftHalf;
    leftHalf.cropRect = QRectF(0, 0, 0.5, 1);
    CropSettings rightEdge;
    rightEdge.cropRect = QRectF(0.65, 0, 0.35, 1);  // from x = 650: only face 2's right eye (700)
    CropSettings mirrored = leftHalf;               // the mirrored left half shows the right half
    mirrored.flipH = true;
    const Case cases[] = {
        {"no valid crop: every face", none, {1, 2}},
        {"left half", leftHalf, {1}},
        {"one eye inside is enough", rightEdge, {2}},
        {"mirrored picture", mirrored, {2}},
    };
    for (const Case& c : cases) {
        geometry.applyCropSettings(c.crop);
        EXPECT_EQ(ids(model.committedFacesInCrop()), c.expected) << c.name;
    }
}

TEST_F(FaceListEdits, CommittedFacesCarryOnlyTheFramingFields)
{
    VXL_FACE rich = boxedFace(5, 100, 100, 200, 100);
    rich.score = 77;
    rich.lowerX = 123;
    rich.pointCount = 62;
    model.loadFaces({rich});
    const QList<VXL_FACE> faces = model.committedFacesInCrop();
    ASSERT_EQ(faces.size(), 1);
    EXPECT_EQ(faces[0].id, 5);
    EXPECT_EQ(faces[0].width, rich.width);
    EXPECT_EQ(faces[0].eye2X, 200);
    EXPECT_EQ(faces[0].score, 0);
    EXPECT_EQ(faces[0].lowerX, 0);
    EXPECT_EQ(faces[0].pointCount, 0);
}

// The platform numbers the faces it is given: the model must key a face it creates by that number,
// or every later edit of the face goes to a face the platform does not have.
TEST(FaceListOnThePlatform, ACreatedFaceIsKeyedAndEditedByThePlatformsId)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("plain.png"));
    ASSERT_TRUE(platform_test::filledPicture(320, 240, QImage::Format_RGB888, QColor(90, 120, 150)).save(path));
    const std::unique_ptr<IVXLPlatform, void (*)(IVXLPlatform*)> platform(
        VxlPlatformCreate("Face List Test", EDITING_MODULES_DIR, "", "", 0, 0, 0),
        [](IVXLPlatform* p) { p->Release(); });
    ASSERT_NE(platform, nullptr);
    ASSERT_EQ(platform->OpenImageFile(path.toUtf8().constData(), nullptr, 1200, nullptr, nullptr, nullptr, nullptr), 0);
    const auto platformFaces = [&platform] {
        VXL_FACE* list = nullptr;
        int count = -1;
        EXPECT_EQ(platform->GetFaces(&list, &count), 0);
        return std::vector<VXL_FACE>(list, list + std::max(count, 0));
    };
    ASSERT_TRUE(platformFaces().empty()) << "a plain picture has no face to detect";

    QVXLPlatform adapter;
    adapter.setPlatform(platform.get());
    VxlImage document;
    document.setPlatform(&adapter);
    SFBFacesModel model;
    model.setImage(&document);

    model.startFaceCreation();
    ASSERT_EQ(model.addEye(point(100, 100)), SFBFacesModel::LeftEyePlaced);
    ASSERT_EQ(model.addEye(point(160, 100)), SFBFacesModel::RightEyePlaced);
    model.endFaceCreation(model.creatingFaceId(), true);
    std::vector<VXL_FACE> listed = platformFaces();
    ASSERT_EQ(listed.size(), 1u);
    const int id = listed[0].id;
    ASSERT_EQ(model.allFaces().size(), 1);
    EXPECT_EQ(model.allFaces()[0].id, id);
    EXPECT_EQ(model.allFaces()[0].face.id, id);

    // Dragging an eye of the new face moves the platform's face.
    model.startFaceEdit(id);
    model.moveEye(id, false, point(170, 104));
    model.endFaceEdit(id);
    listed = platformFaces();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].eye2X, 170);
    EXPECT_EQ(listed[0].eye2Y, 104);
    EXPECT_EQ(model.allFaces()[0].committedFace.eye2X, 170);

    // A face the platform does not have cannot be edited: the edit falls back.
    VXL_FACE stranger = boxedFace(id + 7, 250, 150, 290, 150); // clear of the first face
    model.loadFaces({listed[0], stranger});
    model.startFaceEdit(stranger.id);
    model.moveEye(stranger.id, true, point(252, 151));
    model.endFaceEdit(stranger.id);
    SFBFace kept;
    for (const SFBFace& record : model.allFaces())
        if (record.id == stranger.id)
            kept = record;
    EXPECT_EQ(kept.face.eye1X, 250);
    EXPECT_EQ(kept.committedFace.eye1X, 250);
    ASSERT_EQ(platformFaces().size(), 1u);
    EXPECT_EQ(platformFaces()[0].eye1X, 100);
}
