// ImageModel: the geometry of one image as the views see it. Orientation (mirroring, coarse and
// fine rotation), the crop rectangle normalised to the oriented picture, the sizes of the low- and
// full-resolution pictures, and what follows from them: the transforms from source pixels into
// the oriented picture and the crop in low- and full-resolution pixels.
#pragma once

#include <QMetaType>
#include <QObject>
#include <QRectF>
#include <QSize>
#include <QTransform>

struct CropSettings;

// The orientation part of crop settings, as the model builds its transforms from it.
struct CropOrientation {
    bool mirrorX = false;
    bool mirrorY = false;
    float angle = 0; // coarse rotation, degrees, reduced once into (-360, 360)
    float fine = 0;  // fine rotation, degrees

    static CropOrientation fromCropSettings(const CropSettings& settings);
    // Mirrors first, then rotates by angle (and fine when withFine).
    QTransform transform(bool withFine) const;
};

class ImageModel : public QObject {
    Q_OBJECT

public:
    explicit ImageModel(QObject* parent = nullptr);

    // Orientation and crop rectangle from crop settings.
    void applyCropSettings(const CropSettings& settings);

    QTransform baseTransform() const { return m_baseTransform; }
    QTransform transform() const { return m_transform; }
    QTransform normalizedTransform() const { return m_normalizedTransform; }
    QRectF cropRect() const { return m_cropRect; }
    QRectF lowResCropRect() const { return m_lowResCropRect; }
    QRectF fullResCropRect() const { return m_fullResCropRect; }
    QSize lowResSize() const { return m_lowResSize; }
    QSize fullResSize() const { return m_fullResSize; }
    float straighten() const { return m_straighten; }
    bool hasValidCrop() const { return m_cropRect.isValid(); }

signals:
    void requestCropChange();
    void requestTransformChange();

public slots:
    void setCrop(QRectF cropRect);
    void setTransform(QTransform transform);
    void setSize(QSize lowRes, QSize fullRes);

private:
    // Stores t as the transform and announces it with everything that follows from it.
    void changeTransform(const QTransform& t);
    void recomputeNormalizedTransform();
    void recomputeCropRects();
    QRectF cropRectFor(const QSize& size) const;

    float m_straighten = 0;
    QTransform m_baseTransform;
    QTransform m_transform;
    QTransform m_normalizedTransform;
    QRectF m_cropRect;
    QRectF m_lowResCropRect;
    QRectF m_fullResCropRect;
    QSize m_lowResSize;
    QSize m_fullResSize;
};

Q_DECLARE_METATYPE(ImageModel*)
