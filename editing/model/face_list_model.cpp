#include "editing/model/face_list_model.h"

#include "editing/model/records/face_box.h"
#include "editing/model/image_model.h"
#include "editing/model/qvxl_platform.h"
#include "editing/model/vxl_image.h"

#include <QPointF>
#include <QRectF>

namespace {

QRectF boxOf(const VXL_FACE& face)
{
    return QRectF(face.x, face.y, face.width, face.height);
}

bool leftEyeSet(const VXL_FACE& face)
{
    return !QPointF(face.eye1X, face.eye1Y).isNull();
}

bool rightEyeSet(const VXL_FACE& face)
{
    return !QPointF(face.eye2X, face.eye2Y).isNull();
}

}  // namespace

void registerFaceMetaTypes()
{
    static const bool registered = [] {
        qRegisterMetaType<VXL_POINT>("VXL_POINT");
        qRegisterMetaType<VXL_FACE>("VXL_FACE");
        qRegisterMetaType<QList<VXL_FACE>>("QList<VXL_FACE>");
        qRegisterMetaType<SFBFace>("SFBFace");
        qRegisterMetaType<SFBFacesModel*>("SFBFacesModel*");
        return true;
    }();
    Q_UNUSED(registered);
}

SFBFacesModel::SFBFacesModel(QObject* parent) : QObject(parent)
{
    registerFaceMetaTypes();
}

void SFBFacesModel::loadFaces(const QList<VXL_FACE>& faces)
{
    m_faces.clear();
    for (const VXL_FACE& face : faces) {
        SFBFace record;
        record.face = face;
        record.committedFace = face;
        record.id = face.id;
        m_faces.insert(face.id, record);
    }
}

QList<SFBFace> SFBFacesModel::facesInCrop() const
{
    if (!m_imageModel || !m_imageModel->hasValidCrop())
        return allFaces();
    const QTransform toOriented = m_imageModel->normalizedTransform();
    const QRectF crop = m_imageModel->fullResCropRect();
    QList<SFBFace> inside;
    for (const SFBFace& record : m_faces) {
        const QPointF left = toOriented.map(QPointF(record.face.eye1X, record.face.eye1Y));
        const QPointF right = toOriented.map(QPointF(record.face.eye2X, record.face.eye2Y));
        if (crop.contains(left) || crop.contains(right))
            inside.append(record);
    }
    return inside;
}

QList<VXL_FACE> SFBFacesModel::committedFacesInCrop() const
{
    QList<VXL_FACE> faces;
    for (const SFBFace& record : facesInCrop()) {
        const VXL_FACE& committed = record.committedFace;
        VXL_FACE face{};
        face.id = committed.id;
        face.x = committed.x;
        face.y = committed.y;
        face.width = committed.width;
        face.height = committed.height;
        face.roll = committed.roll;
        face.eye1X = committed.eye1X;
        face.eye1Y = committed.eye1Y;
        face.eye2X = committed.eye2X;
        face.eye2Y = committed.eye2Y;
        faces.append(face);
    }
    return faces;
}

QVXLPlatform* SFBFacesModel::platformAdapter() const
{
    return m_image ? m_image->platform() : nullptr;
}

void SFBFacesModel::startFaceEdit(int faceId)
{
    auto it = m_faces.find(faceId);
    if (it != m_faces.end())
        it->editing = true;
}

void SFBFacesModel::moveEye(int faceId, bool isLeft, VXL_POINT newPos)
{
    auto it = m_faces.find(faceId);
    if (it == m_faces.end())
        return;
    VXL_FACE& face = it->face;
    if (isLeft) {
        face.eye1X = newPos.x;
        face.eye1Y = newPos.y;
    } else {
        face.eye2X = newPos.x;
        face.eye2Y = newPos.y;
    }
    if (leftEyeSet(face) && rightEyeSet(face))
        faceBoxFromEyes(&face);
    emit requestFaceChange(*it);
}

void SFBFacesModel::endFaceEdit(int faceId)
{
    auto it = m_faces.find(faceId);
    if (it == m_faces.end())
        return;
    const QRectF box = boxOf(it->face);
    bool accepted = true;
    for (const SFBFace& other : m_faces) {
        if (other.id != faceId && boxOf(other.face).intersects(box)) {
            accepted = false;
            break;
        }
    }
    if (accepted && faceId >= 0) {
        // Without a document or adapter nothing can accept the face: the edit falls back.
        QVXLPlatform* adapter = platformAdapter();
        accepted = adapter && adapter->setFace(&it->face) == 0;
    }
    if (accepted)
        it->committedFace = it->face;
    else
        it->face = it->committedFace;
    it->editing = false;
    emit requestFaceChange(*it);
    emit facesUpdated(committedFacesInCrop());
}

void SFBFacesModel::startFaceCreation()
{
    const int32_t temporaryId = --m_nextTemporaryId;
    SFBFace record;
    record.editing = true;
    record.id = temporaryId;
    m_faces.insert(temporaryId, record);
    m_creatingFaceId = temporaryId;
    m_creating = true;
    emit requestFaceCreationChange(true);
    emit requestFaceAdd(record);
}

ushort SFBFacesModel::addEye(VXL_POINT pos)
{
    if (!m_creating)
        return EyeRefused;
    const QPointF point(pos.x, pos.y);
    for (const SFBFace& other : m_faces) {
        if (other.id != m_creatingFaceId && boxOf(other.face).contains(point))
            return EyeRefused;
    }
    auto it = m_faces.find(m_creatingFaceId);
    if (it == m_faces.end())
        it = m_faces.insert(m_creatingFaceId, SFBFace{});
    if (!leftEyeSet(it->face)) {
        moveEye(m_creatingFaceId, true, pos);
        return LeftEyePlaced;
    }
    if (!rightEyeSet(it->face)) {
        moveEye(m_creatingFaceId, false, pos);
        return RightEyePlaced;
    }
    return EyeRefused;
}

void SFBFacesModel::endFaceCreation(int faceId, bool accept)
{
    auto it = m_faces.find(faceId);
    if (it == m_faces.end())
        return;
    m_creating = false;
    emit requestFaceCreationChange(false);
    if (accept) {
        SFBFace record = *it;
        QVXLPlatform* adapter = platformAdapter();
        if (adapter && adapter->addFace(&record.face, 1) == 0) {
            record.committedFace = record.face;
            record.editing = false;
            record.created = true;
            record.id = record.face.id;
            m_faces.insert(record.id, record);
            emit requestFaceAdd(record);
        }
    }
    removeFace(faceId);
    emit facesUpdated(committedFacesInCrop());
}

void SFBFacesModel::removeFace(int faceId)
{
    m_faces.remove(faceId);
    emit requestFaceDelete(faceId);
}
