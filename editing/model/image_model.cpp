#include "editing/model/image_model.h"

#include "editing/model/image_state.h"

#include <cmath>

CropOrientation CropOrientation::fromCropSettings(const CropSettings& settings)
{
    CropOrientation orientation;
    orientation.mirrorX = settings.flipH;
    orientation.mirrorY = settings.flipV;
    // Reduced once only: 730 stays 370.
    float angle = float(settings.rotation);
    if (angle >= 360.0f)
        angle -= 360.0f;
    else if (angle <= -360.0f)
        angle += 360.0f;
    orientation.angle = angle;
    orientation.fine = float(settings.straighten);
    return orientation;
}

QTransform CropOrientation::transform(bool withFine) const
{
    static const QTransform mirrorLeftRight = QTransform::fromScale(-1, 1);
    static const QTransform mirrorTopBottom = QTransform::fromScale(1, -1);
    QTransform t;
    if (mirrorX)
        t = t * mirrorLeftRight;
    if (mirrorY)
        t = t * mirrorTopBottom;
    QTransform rotation;
    rotation.rotate(withFine ? angle + fine : angle);
    return t * rotation;
}

ImageModel::ImageModel(QObject* parent) : QObject(parent)
{
    static const int registered = qRegisterMetaType<ImageModel*>("ImageModel*");
    Q_UNUSED(registered);
}

void ImageModel::applyCropSettings(const CropSettings& settings)
{
    const CropOrientation orientation = CropOrientation::fromCropSettings(settings);
    m_straighten = orientation.fine;
    m_baseTransform = orientation.transform(false);
    const QTransform t = orientation.transform(true);
    if (t != m_transform)
        changeTransform(t);
    m_cropRect = settings.cropRect;
    recomputeCropRects();
    emit requestCropChange();
}

void ImageModel::setCrop(QRectF cropRect)
{
    m_cropRect = cropRect;
    recomputeCropRects();
    emit requestCropChange();
}

void ImageModel::setTransform(QTransform transform)
{
    if (transform == m_transform)
        return;
    changeTransform(transform);
}

void ImageModel::setSize(QSize lowRes, QSize fullRes)
{
    if (lowRes == m_lowResSize && fullRes == m_fullResSize)
        return;
    m_lowResSize = lowRes;
    m_fullResSize = fullRes;
    recomputeNormalizedTransform();
    emit requestTransformChange();
    recomputeCropRects();
    emit requestCropChange();
}

void ImageModel::changeTransform(const QTransform& t)
{
    m_transform = t;
    recomputeNormalizedTransform();
    emit requestTransformChange();
    recomputeCropRects();
    emit requestCropChange();
}

void ImageModel::recomputeNormalizedTransform()
{
    const QRectF r = m_transform.mapRect(QRectF(QPointF(0, 0), QSizeF(m_fullResSize)));
    m_normalizedTransform = m_transform * QTransform::fromTranslate(-r.left(), -r.top());
}

void ImageModel::recomputeCropRects()
{
    if (m_fullResSize.isEmpty() || m_lowResSize.isEmpty())
        return;
    if (m_cropRect.isValid()) {
        m_fullResCropRect = cropRectFor(m_fullResSize);
        m_lowResCropRect = cropRectFor(m_lowResSize);
        return;
    }
    const auto whole = [this](const QSize& size) {
        return QRectF(QPointF(0, 0), QSizeF(m_baseTransform.mapRect(QRect(QPoint(0, 0), size)).size()));
    };
    m_fullResCropRect = whole(m_fullResSize);
    m_lowResCropRect = whole(m_lowResSize);
}

QRectF ImageModel::cropRectFor(const QSize& size) const
{
    QRectF b = m_baseTransform.mapRect(QRectF(QPointF(0, 0), QSizeF(size)));
    b.moveTopLeft(QPointF(0, 0));
    const QPointF centre = m_cropRect.center();
    const double cx = b.width() * centre.x();
    const double cy = b.height() * centre.y();
    const double w = m_cropRect.width() * b.width();
    const double h = m_cropRect.height() * b.height();
    if (std::fabs(m_straighten) <= 0.00001f)
        return QRectF(cx - w / 2, cy - h / 2, w, h);
    // The crop in the coordinates of the straightened picture's bounding box.
    QTransform aboutCentre;
    aboutCentre.translate(cx, cy);
    aboutCentre.rotate(m_straighten);
    aboutCentre.translate(-cx, -cy);
    const QRectF r = aboutCentre.mapRect(b);
    return QRectF(cx - r.left() - w / 2, cy - r.top() - h / 2, w, h);
}
