// SFBFacesModel: the editable face list of one image document, behind the face tools. A user
// drags an eye, places two eyes to add a face the detector missed, or deletes a face. Every face
// is kept as edited and as last accepted by the platform, so that a refused edit falls back;
// edits that make boxes overlap are refused; accepted faces go to the platform through the
// document's adapter, and views follow through the signals.
//
// Ids: faces the platform knows have positive ids; a face under creation has a negative
// temporary id (-1, -2, ...) until the platform accepts it under a positive one.
#pragma once

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QObject>

#include "facesdk/engine/face_records.h"

class ImageModel;
class QVXLPlatform;
class VxlImage;

struct SFBFace {
    VXL_FACE face{};           // as currently edited
    VXL_FACE committedFace{};  // as last accepted; restored when an edit is refused
    bool editing = false;      // an edit or creation of this face is under way
    bool created = false;      // a created face the platform accepted
    int32_t id = -1;           // equal to the face's key in the model
};

class SFBFacesModel : public QObject {
    Q_OBJECT

public:
    // Answers of addEye.
    enum EyePlacement : ushort { LeftEyePlaced = 0, RightEyePlaced = 1, EyeRefused = 2 };

    explicit SFBFacesModel(QObject* parent = nullptr);

    // The document whose adapter receives accepted faces, and the image's geometry (may be null).
    void setImage(VxlImage* image) { m_image = image; }
    void setImageModel(ImageModel* imageModel) { m_imageModel = imageModel; }
    // Fills the model with the platform's faces: each as edited and committed, flags clear.
    void loadFaces(const QList<VXL_FACE>& faces);

    bool isCreating() const { return m_creating; }
    int creatingFaceId() const { return m_creatingFaceId; }

    QList<SFBFace> allFaces() const { return m_faces.values(); }
    // Faces with an edited eye inside the crop (all faces without a valid crop), in id order.
    QList<SFBFace> facesInCrop() const;
    // Zero-filled records carrying id, box, roll and eyes of facesInCrop's committed faces.
    QList<VXL_FACE> committedFacesInCrop() const;

signals:
    void requestFacelistChange();
    void requestFaceChange(SFBFace face);
    void requestFaceAdd(SFBFace face);
    void requestFaceDelete(int faceId);
    void requestFaceCreationChange(bool isCreating);
    void facesUpdated(QList<VXL_FACE> faces);

public slots:
    void startFaceEdit(int faceId);
    void moveEye(int faceId, bool isLeft, VXL_POINT newPos);
    void endFaceEdit(int faceId);
    void startFaceCreation();
    ushort addEye(VXL_POINT pos);
    void endFaceCreation(int faceId, bool accept);
    void removeFace(int faceId);

private:
    QVXLPlatform* platformAdapter() const;

    VxlImage* m_image = nullptr;
    ImageModel* m_imageModel = nullptr;
    QMap<int, SFBFace> m_faces;
    bool m_creating = false;
    int32_t m_creatingFaceId = 0;
    int32_t m_nextTemporaryId = 0;
};

// Registers the face types for queued signals and spies.
void registerFaceMetaTypes();

Q_DECLARE_METATYPE(VXL_POINT)
Q_DECLARE_METATYPE(VXL_FACE)
Q_DECLARE_METATYPE(SFBFace)
Q_DECLARE_METATYPE(SFBFacesModel*)
