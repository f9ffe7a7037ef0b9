// Face framing of VxlImage: where the face is (detector records, face-list model or face mesh),
// the conversions between a crop rectangle and head-crop properties, and the thumbnail, which
// follows the crop and the head crop.
#include "editing/model/vxl_image.h"

#include "editing/model/face_mesh_pipeline.h"
#include "editing/model/image_model.h"
#include "editing/model/qvxl_platform.h"
#include "manager/app/environment.h"

#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The platform's 52-byte face-region record: face box, first eye region, second eye region
// (x, y, width, height each), then two flag bytes.
constexpr int kFaceRegionRecordBytes = 52;

struct FaceRegions {
    int32_t face[4];
    int32_t eyeA[4];
    int32_t eyeB[4];
};

FaceRegions readFaceRegions(const EngineFaceRecord* records, int index)
{
    FaceRegions regions;
    std::memcpy(&regions, reinterpret_cast<const uint8_t*>(records) + index * kFaceRegionRecordBytes,
                sizeof regions);
    return regions;
}

QPointF centreOf(const int32_t box[4])
{
    return QPointF(box[0] + box[2] / 2.0, box[1] + box[3] / 2.0);
}

// Eye distances per face-rectangle side: the mesh's faces are framed a little wider.
constexpr double kFaceSidePerEyeDistance = 2.63;
constexpr double kMeshFaceSidePerEyeDistance = 2.9456;

FaceMeshRunner& faceMeshRunner()
{
    static FaceMeshRunner runner = runDocumentFaceMesh;
    return runner;
}

// Two values within 1 % of the smaller one count as equal; 0 and 0 are equal.
bool nearlyEqualRatio(double a, double b)
{
    return !(std::fabs(a - b) * 100 > std::min(std::fabs(a), std::fabs(b)));
}

}  // namespace

void VxlImage::setFaceMeshRunner(FaceMeshRunner runner)
{
    faceMeshRunner() = runner ? std::move(runner) : FaceMeshRunner(runDocumentFaceMesh);
}

QString VxlImage::thumbnailKey() const
{
    return QDir::toNativeSeparators(m_filePath);
}

QRectF VxlImage::framingRect(const QHeadCropProperties& props) const
{
    return props.mode == 3 ? m_meshFaceRect : m_faceRect;
}

// ---- Face rectangle -------------------------------------------------------------------------

bool VxlImage::doFaceCalc()
{
    switch (m_faceCalcMode) {
    case FaceCalcDetector:
        m_faceRect = getLargestFDFaceRect();
        break;
    case FaceCalcFaceList: {
        m_faceRect = QRectF();
        const QList<SFBFace> faces = m_sfbFacesModel ? m_sfbFacesModel->facesInCrop() : QList<SFBFace>();
        if (!faces.isEmpty()) {
            const VXL_FACE& face = faces.first().face;
            m_faceRect = QRectF(face.x, face.y, face.width, face.height);
        }
        break;
    }
    case FaceCalcMesh: {
        if (!m_platform || m_meshComputed)
            break;
        m_faceRect = QRectF();
        m_meshFaceRect = QRectF();
        m_meshLineY = 0;
        m_meshComputed = true;
        int width = 0, height = 0, rowBytes = 0, hostOrder = 0, hasAlpha = 0;
        const uint8_t* pixels = m_platform->rawImage(&width, &height, &rowBytes, &hostOrder, &hasAlpha, false);
        FaceMeshOutput output;
        if (pixels && faceMeshRunner()(pixels, width, height, rowBytes, hostOrder, hasAlpha, &output)) {
            m_meshReferenceBox.reset(new float[5]);
            std::copy(output.referenceBox, output.referenceBox + 5, m_meshReferenceBox.get());
            constexpr int kFloatsPerFace = kMeshPointsPerFace * 3;
            QList<const QVector<float>*> complete;
            for (const QVector<float>& face : output.faces) {
                if (face.size() == kFloatsPerFace)
                    complete.append(&face);
            }
            m_facemeshFacesCount = complete.size();
            m_facemesh.reset(new float[size_t(m_facemeshFacesCount) * kFloatsPerFace]);
            for (int i = 0; i < complete.size(); ++i)
                std::copy(complete[i]->begin(), complete[i]->end(), m_facemesh.get() + i * kFloatsPerFace);
            m_meshAvailable = true;
        }
        handMeshToPlatform();
        break;
    }
    default:
        return false;
    }
    return !m_faceRect.isEmpty();
}

void VxlImage::handMeshToPlatform()
{
    m_platform->setFaceMesh(m_facemeshFacesCount, m_facemesh.get(), kMeshPointsPerFace);
    m_platform->setMeshLineY(m_meshLineY);
}

float* VxlImage::getFacemesh(int* facemeshFacesCount, int* landmarksPerFace)
{
    *facemeshFacesCount = m_facemeshFacesCount;
    *landmarksPerFace = kMeshPointsPerFace;
    return m_facemesh.get();
}

QRectF VxlImage::getLargestFDFaceRect()
{
    const EngineFaceRecord* records = nullptr;
    int count = 0;
    if (!m_platform || m_platform->faceLandmarks(&records, &count) != 0 || count < 1 || !records)
        return QRectF(0, 0, 0, 0);
    int32_t best = 0;
    QRectF rect(0, 0, 0, 0);
    QPointF eyeA, eyeB;
    for (int i = 0; i < count; ++i) {
        const FaceRegions regions = readFaceRegions(records, i);
        if (regions.face[2] > best) {
            best = regions.face[2];
            rect = QRectF(regions.face[0], regions.face[1], regions.face[2], regions.face[3]);
            eyeA = centreOf(regions.eyeA);
            eyeB = centreOf(regions.eyeB);
        }
    }
    refineFaceRect(rect, eyeA, eyeB, m_fullResSize.width(), m_fullResSize.height());
    return rect;
}

void VxlImage::refineFaceRect(QRectF& rect, QPointF eyeA, QPointF eyeB, int width, int height) const
{
    const double k = m_faceCalcMode == FaceCalcMesh ? kMeshFaceSidePerEyeDistance : kFaceSidePerEyeDistance;
    const double middle = rect.top() + rect.height() / 2;
    if (rect.contains(eyeA) && rect.contains(eyeB) && eyeA.y() < middle && eyeB.y() < middle && eyeA.x() < eyeB.x()) {
        // A square whose centre lies half an eye distance below the eyes.
        const double d = std::hypot(eyeB.x() - eyeA.x(), eyeB.y() - eyeA.y());
        const double side = d * k;
        const QPointF m = (eyeA + eyeB) / 2;
        rect = QRectF(m.x() - side / 2, m.y() + d / 2 - side / 2, side, side);
    }
    if (rect.left() < 0)
        rect.setLeft(0);
    if (rect.right() > width)
        rect.setRight(width);
    if (rect.top() < 0)
        rect.setTop(0);
    if (rect.bottom() > height)
        rect.setBottom(height);
}

// ---- Head crop ------------------------------------------------------------------------------

QRectF VxlImage::headCropRect(QHeadCropProperties props, bool withFine)
{
    Q_UNUSED(props);
    Q_UNUSED(withFine);
    doFaceCalc();
    return QRectF(0, 0, 1, 1);
}

void VxlImage::fitHeadCropToImage(QHeadCropProperties* hcp)
{
    doFaceCalc();
    const QRectF f = framingRect(*hcp);
    const QSizeF s(m_fullResSize);
    // An empty face, image or aspect ratio gives nothing to fit: the properties stay.
    if (f.isEmpty() || s.isEmpty() || hcp->aspectWidth <= 0 || hcp->aspectHeight <= 0)
        return;
    const double r = double(hcp->aspectWidth) / double(hcp->aspectHeight);
    double z = hcp->zoom;
    const double kH = f.width() * z / s.height();
    const double kW = f.width() * z * r / s.width();
    const double faceCx = f.left() + f.width() / 2;
    const double faceCy = f.top() + f.height() / 2;
    double cx = faceCx + f.width() * (hcp->offsetX * z) * r / 100;
    double cy = faceCy + f.height() * (z * hcp->offsetY) / 100;
    if (kH > 1 || kW > 1) {
        if (kH > kW) {
            z = z / kH;
            cy = s.height() / 2;
        } else {
            z = z / kW;
            cx = s.width() / 2;
        }
        hcp->zoom = z;
    }
    const double left = cx - f.width() * z * r / 2;
    const double right = cx + f.width() * z * r / 2;
    const double top = cy - f.height() * z / 2;
    const double bottom = cy + f.height() * z / 2;
    if (top < 0)
        cy -= top;
    else if (bottom > s.height())
        cy -= bottom - s.height();
    if (left < 0)
        cx -= left;
    else if (right > s.width())
        cx -= right - s.width();
    hcp->offsetX = (cx - faceCx) * 100 / (f.width() * z * r);
    hcp->offsetY = (cy - faceCy) * 100 / (f.height() * z);
}

void VxlImage::updateHeadCropPropertiesForCropRect(QHeadCropProperties* hcp, QRectF cropRect)
{
    doFaceCalc();
    const QRectF f = framingRect(*hcp);
    if (f.isEmpty())
        return;
    const QSizeF s(m_fullResSize);
    const int fh = int(f.height());
    // A face under one pixel high or a zero aspect part would divide by zero: the properties stay.
    if (fh < 1 || hcp->aspectHeight == 0)
        return;
    const double zoom = cropRect.height() * s.height() / fh;
    const int gh = int(zoom * fh);
    const int gw = hcp->aspectWidth * gh / hcp->aspectHeight;
    if (gh == 0 || gw == 0)
        return;
    hcp->zoom = zoom;
    const QPointF cropCentre = cropRect.center();
    hcp->offsetX = (s.width() * cropCentre.x() - (f.left() + f.width() / 2)) * 100 / gw;
    hcp->offsetY = (s.height() * cropCentre.y() - (f.top() + f.height() / 2)) * 100 / gh;
    fitHeadCropToImage(hcp);
    const QRectF r = headCropRect(*hcp, false);
    const double t = (m_meshLineY - r.top()) / r.height();
    if (!nearlyEqualRatio(hcp->lineRatio, t))
        hcp->lineRatio = t;
}

// ---- Thumbnail ------------------------------------------------------------------------------

bool VxlImage::createAndCacheThumbnail()
{
    if (m_resultLowRes.isNull() || m_resultLowRes.size().isEmpty() || !m_imageModel || m_filePath.isEmpty() ||
        !m_state)
        return false;
    ImageModel model;
    model.setSize(m_lowResSize, m_fullResSize);
    model.applyCropSettings(m_state->crop);
    CropSettings crop = m_state->crop;
    if (crop.headCrop) {
        doFaceCalc();
        if (!framingRect(crop.headCropProperties).isEmpty())
            crop.cropRect = headCropRect(crop.headCropProperties, false);
        model.applyCropSettings(crop);
    }

    const QImage& img = m_resultLowRes;
    const QRectF mapped = model.normalizedTransform().mapRect(QRectF(img.rect()));
    const QRectF cropRect = model.lowResCropRect();
    // Without sizes the model has no crop rectangle to draw.
    if (cropRect.isEmpty())
        return false;

    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;
    QSize size = AppEnvironment::thumbnailSize() * ratio;
    const bool photo = AppEnvironment::isPhotoIdentity();
    if (!photo) {
        const float a = float(cropRect.width() / cropRect.height());
        if (double(size.width()) / size.height() > a)
            size = QSize(int(size.height() * a), size.height());
        else
            size = QSize(size.width(), int(size.width() / a));
    }
    if (size.isEmpty())
        return false;

    QPixmap pixmap(size);
    pixmap.fill(QColor(0, 0, 0, 0));
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);

        const QSizeF target =
            cropRect.size().scaled(QSizeF(size), photo ? Qt::KeepAspectRatioByExpanding : Qt::KeepAspectRatio);
        const double scale = target.width() / cropRect.width();
        const QRectF scaledCrop = QTransform::fromScale(scale, scale).mapRect(cropRect);
        QTransform t;
        t.translate(size.width() / 2.0 - scaledCrop.center().x(), size.height() / 2.0 - scaledCrop.center().y());
        t.scale(scale, scale);

        const QRectF visible = t.mapRect(cropRect);
        painter.setClipRect(QRect(visible.topLeft().toPoint(), visible.size().toSize()), Qt::ReplaceClip);

        t.translate(-mapped.left(), -mapped.top());
        t = m_imageModel->normalizedTransform() * t;
        const QRectF dst = t.mapRect(QRectF(img.rect()));
        const QImage oriented = img.transformed(m_imageModel->baseTransform(), Qt::FastTransformation)
                                    .scaled(dst.size().toSize(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
        painter.drawImage(dst.topLeft(), oriented);
    }
    pixmap.setDevicePixelRatio(ratio);
    const double aspect = double(pixmap.width()) / pixmap.height();

    const QString key = thumbnailKey();
    QHash<QString, double>& aspects = AppEnvironment::thumbnailAspectRatios();
    const double previous = aspects.value(key, aspect);
    aspects.insert(key, aspect);
    if (QPixmapCache::insert(key, pixmap))
        emit requestThumbChanged(m_filePath, !qFuzzyCompare(previous, aspect));
    return true;
}
