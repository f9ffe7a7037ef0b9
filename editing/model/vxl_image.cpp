#include "editing/model/vxl_image.h"

#include "editing/model/image_model.h"
#include "editing/model/params_equality.h"
#include "editing/model/qvxl_platform.h"

#include <QMutexLocker>
#include <QUndoStack>

#include <cstring>

namespace {

// The pictures in the order every loop over ImageTypes visits them.
constexpr VxlImage::ImageType kPictureOrder[] = {VxlImage::SOURCE_FULLRES, VxlImage::SOURCE_LOWRES,
                                                 VxlImage::RESULT_FULLRES, VxlImage::RESULT_LOWRES};
constexpr int kEveryImageType = 255;

bool isUnedited(VxlImage::ImageType type)
{
    return type == VxlImage::SOURCE_LOWRES || type == VxlImage::SOURCE_FULLRES;
}

bool isFullRes(VxlImage::ImageType type)
{
    return type == VxlImage::SOURCE_FULLRES || type == VxlImage::RESULT_FULLRES;
}

void registerDocumentMetaTypes()
{
    static const bool registered = [] {
        registerImageStateMetaTypes();
        registerFaceMetaTypes();
        qRegisterMetaType<VxlImage::ImageTypes>("VxlImage::ImageTypes");
        qRegisterMetaType<VxlImage::ImageTypes>("ImageTypes");
        qRegisterMetaType<VxlImage::StateProperties>("VxlImage::StateProperties");
        qRegisterMetaType<VxlImage::StateProperties>("StateProperties");
        qRegisterMetaType<VxlImage::LoadStatus>("VxlImage::LoadStatus");
        qRegisterMetaType<VxlImage::VisibilityStatus>("VxlImage::VisibilityStatus");
        qRegisterMetaType<VXLAIDetection>("VXLAIDetection");
        qRegisterMetaType<ImageModel*>("ImageModel*");
        qRegisterMetaType<QVXLPlatform*>("QVXLPlatform*");
        return true;
    }();
    Q_UNUSED(registered);
}

// Detector record fields, by offset (the record's layout belongs to the host's detector).
template <typename T>
T readField(const VXLDetector* record, int offset)
{
    T value;
    std::memcpy(&value, reinterpret_cast<const uint8_t*>(record) + offset, sizeof value);
    return value;
}

template <typename T>
void writeField(VXLDetector* record, int offset, T value)
{
    std::memcpy(reinterpret_cast<uint8_t*>(record) + offset, &value, sizeof value);
}

}  // namespace

VxlImage::VxlImage(QObject* parent) : Undoable(parent)
{
    registerDocumentMetaTypes();
}

VxlImage::~VxlImage() = default;

void VxlImage::setInitialState(const SharedVxlImageState& state)
{
    undoStack()->clear();
    applyState(state);
}

void VxlImage::applyState(const SharedVxlImageState& state)
{
    const SharedVxlImageState previous = m_state;
    m_state = state;
    StateProperties props;
    if (!previous || !state) {
        props = RAW | UBER | CORRECTIONS | CROP;
    } else {
        if (previous->raw != state->raw &&
            (!previous->raw || !state->raw || rawParamsDiffer(*previous->raw, *state->raw)))
            props |= RAW;
        if (previous->uber != state->uber &&
            (!previous->uber || !state->uber || previous->uber->uberValue != state->uber->uberValue ||
             previous->uber->uberBase != state->uber->uberBase ||
             paramsDiffer(previous->uber->params, state->uber->params)))
            props |= UBER;
        if (previous->preset != state->preset &&
            (!previous->preset || !state->preset ||
             !previous->preset->qvxlParams()->stackEquals(*state->preset->qvxlParams())))
            props |= CORRECTIONS;
        if (!cropSettingsEqual(previous->crop, state->crop))
            props |= CROP;
    }
    emit requestStateChange(m_state, props);
}

SharedPreset VxlImage::currentPreset() const
{
    return m_state ? m_state->preset : SharedPreset();
}

QSharedPointer<UberParams> VxlImage::currentUberParams() const
{
    return m_state ? m_state->uber : QSharedPointer<UberParams>();
}

// ---- Plain setters --------------------------------------------------------------------------

void VxlImage::setIndex(int index)
{
    if (index == m_index)
        return;
    m_index = index;
    emit requestIndexChange(index);
}

void VxlImage::setPlatform(QVXLPlatform* platform)
{
    if (platform == m_platform)
        return;
    m_platform = platform;
    if (m_platform && m_meshComputed)
        m_platform->setFaceMesh(m_facemeshFacesCount, m_facemesh.get(), kMeshPointsPerFace);
}

void VxlImage::setImageSizes(QSize fullRes, QSize lowRes)
{
    if (fullRes == m_fullResSize && lowRes == m_lowResSize)
        return;
    m_fullResSize = fullRes;
    m_lowResSize = lowRes;
    emit requestImageSizeChange();
}

void VxlImage::setLoadStatus(LoadStatus status)
{
    if (status == m_loadStatus)
        return;
    m_loadStatus = status;
    emit requestLoadStatusChange(status);
}

void VxlImage::setImageModel(ImageModel* model)
{
    if (model == m_imageModel)
        return;
    m_imageModel = model;
    if (m_imageModel) {
        // Connections to an earlier model stay: the host keeps one model per document.
        connect(m_imageModel, &ImageModel::requestCropChange, this, [this] { createAndCacheThumbnail(); });
        connect(m_imageModel, &ImageModel::requestTransformChange, this, [this] { createAndCacheThumbnail(); });
    }
    emit requestImageModelChange(m_imageModel);
}

void VxlImage::setSFBFacesModel(SFBFacesModel* model)
{
    if (model == m_sfbFacesModel)
        return;
    m_sfbFacesModel = model;
    emit requestSFBFacesModelChange(model);
}

void VxlImage::setShouldComputeFullRes(bool shouldCompute)
{
    if (m_isInCropWidget || shouldCompute == m_shouldComputeFullRes)
        return;
    m_shouldComputeFullRes = shouldCompute;
    emit requestShouldComputeFullResChange(shouldCompute);
}

void VxlImage::setAvailableImages(ImageTypes availableImages)
{
    if (availableImages == m_availableImages)
        return;
    m_availableImages = availableImages;
    emit requestAvailableImagesChange(availableImages);
}

void VxlImage::setVisibilityStatus(VisibilityStatus status)
{
    if (status == m_visibilityStatus)
        return;
    m_visibilityStatus = status;
    emit requestVisibilityStatusChange(status);
}

void VxlImage::setSFBFaces(QList<VXL_FACE> sfbFaces)
{
    m_sfbFaces = sfbFaces;
    emit requestSfbFacesChange(m_sfbFaces);
}

// ---- Pictures -------------------------------------------------------------------------------

QImage& VxlImage::pictureRef(ImageType type)
{
    switch (type) {
    case SOURCE_LOWRES:
        return m_sourceLowRes;
    case SOURCE_FULLRES:
        return m_sourceFullRes;
    case RESULT_LOWRES:
        return m_resultLowRes;
    case RESULT_FULLRES:
        break;
    }
    return m_resultFullRes;
}

std::unique_ptr<QImage>& VxlImage::cacheRef(ImageType type)
{
    switch (type) {
    case SOURCE_LOWRES:
        return m_cachedSourceLowRes;
    case SOURCE_FULLRES:
        return m_cachedSourceFullRes;
    case RESULT_LOWRES:
        return m_cachedResultLowRes;
    case RESULT_FULLRES:
        break;
    }
    return m_cachedResultFullRes;
}

QImage VxlImage::image(ImageType type) const
{
    return const_cast<VxlImage*>(this)->pictureRef(type);
}

const QImage* VxlImage::cachedImage(ImageType type) const
{
    return const_cast<VxlImage*>(this)->cacheRef(type).get();
}

void VxlImage::setImages(ImageTypes changedImages)
{
    for (ImageType type : kPictureOrder) {
        if (!changedImages.testFlag(type))
            continue;
        if (!m_platform) {
            pictureRef(type) = QImage();
            continue;
        }
        // A failed fetch keeps the previous picture.
        m_platform->fetchImage(&pictureRef(type), isUnedited(type), isFullRes(type));
        if (type == RESULT_LOWRES)
            createAndCacheThumbnail();
    }
    deleteCachedImages(changedImages);
    emit requestImageChange(changedImages);
    if (changedImages.testFlag(SOURCE_FULLRES))
        emit requestImageReadyForPrint();
}

void VxlImage::cacheImages()
{
    deleteCachedImages(ImageTypes(kEveryImageType));
    bool copied = false;
    for (ImageType type : kPictureOrder) {
        const QImage& picture = pictureRef(type);
        if (picture.text(QLatin1String(QVXLPlatform::kOwnedKey)) == QLatin1String(QVXLPlatform::kOwnedByPlatform)) {
            cacheRef(type).reset(new QImage(picture.copy()));
            copied = true;
        }
    }
    if (copied)
        emit requestImageChange(ImageTypes(-1));
}

void VxlImage::deleteCachedImages(ImageTypes imageTypes)
{
    for (ImageType type : kPictureOrder) {
        if (imageTypes.testFlag(type))
            cacheRef(type).reset();
    }
}

// ---- Detector -------------------------------------------------------------------------------

VXLDetector* VxlImage::detector() const
{
    QMutexLocker lock(&m_detectorMutex);
    return m_detector;
}

void VxlImage::setDetector(VXLDetector* detector, bool needsPostprocessBGinDetector)
{
    QMutexLocker lock(&m_detectorMutex);
    m_detector = detector;
    m_detectorFlag = false;
    m_needsPostprocessBGinDetector = needsPostprocessBGinDetector;
}

void VxlImage::setDetectedClass(VXLAIDetection detectedClass)
{
    QMutexLocker lock(&m_detectorMutex);
    m_detection0 = detectedClass.values[0];
    m_detection2 = detectedClass.values[2];
    m_detection4 = detectedClass.values[4];
    m_detection5 = detectedClass.values[5];
    if (!m_detector) {
        // A record of the host's layout that only holds the detection values; never handed to
        // the platform as a detector. The document keeps it until it is destroyed.
        m_ownDetectorRecord.reset(new uint8_t[kDetectorRecordBytes]());
        m_detector = reinterpret_cast<VXLDetector*>(m_ownDetectorRecord.get());
        writeField<uint8_t>(m_detector, kDetectorClearedByte, 0);
    }
    writeField<uint8_t>(m_detector, kDetectorFlagByte, m_detection5 != 0 ? 1 : 0);
    writeField<int32_t>(m_detector, kDetectorClassId, m_detection0);
}

QString VxlImage::clipartDetectorSpecimen()
{
    // Read without the lock: the host calls this while its detector is idle.
    if (!m_detector)
        return QString();
    QString specimen;
    specimen.reserve(900);
    specimen += QString::number(readField<int32_t>(m_detector, kDetectorClassNumber));
    for (int i = 0; i < kDetectorFeatureCount; ++i) {
        specimen += QLatin1Char(',');
        specimen += QString::number(readField<float>(m_detector, kDetectorFeaturesOffset + 4 * i), 'g', 6);
    }
    return specimen;
}

// ---- AI colour ------------------------------------------------------------------------------

void VxlImage::setDetectedAicolorParams(VXLParams vxlParams)
{
    m_hasDetectedAicolor = true;
    m_detectedDeltaR = vxlParams.dp2_iDeltaR;
    m_detectedDeltaB = vxlParams.dp2_iDeltaB;
}

bool VxlImage::fillWithDetectedAicolorParams(VXLParams* vxlParams)
{
    if (!m_hasDetectedAicolor)
        return false;
    vxlParams->dp2_bEnable = true;
    vxlParams->dp2_iDensity = 0;
    vxlParams->dp2_fGamma = 1.0f;
    vxlParams->dp2_iContrast = 0;
    vxlParams->dp2_iSaturation = 0;
    if (!m_aicolorLatched) {
        // The first values written stay: later detections no longer change the correction.
        m_aicolorLatched = true;
        m_latchedDeltaR = m_detectedDeltaR;
        m_latchedDeltaG = 0;
        m_latchedDeltaB = m_detectedDeltaB;
    }
    vxlParams->dp2_iDeltaR = m_latchedDeltaR;
    vxlParams->dp2_iDeltaG = m_latchedDeltaG;
    vxlParams->dp2_iDeltaB = m_latchedDeltaB;
    return true;
}
