// VxlImage: the document of one image in the editing model. It knows the image's file and its
// place in the host's list, the platform adapter that renders it, the four pictures the platform
// hands out, the image and face-list models the views edit, the undoable correction state, the AI
// detector's results and colour values, the face framing data and the tool presets chosen for it.
//
// Views and tools talk to it through signals and slots only: every setter is a slot and every
// change a view must follow is announced by a signal whose name begins with "request". The host
// creates one document per open image and connects it; the document owns none of the objects it
// is handed (adapter, models, preset manager).
//
// Implementation files: vxl_image.cpp (pictures, detector, plain setters), vxl_image_edits.cpp
// (the editing slots that build new states), face_framing.cpp (face rectangle, head crop, face
// mesh, thumbnail).
#pragma once

#include <QFlags>
#include <QImage>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QMutex>
#include <QRectF>
#include <QSharedPointer>
#include <QSize>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>

#include "editing/model/face_list_model.h"
#include "editing/model/image_state.h"
#include "editing/model/vxl_params.h"
#include "facesdk/engine/face_records.h"
#include "vizoruv/io/raw_params.h"

class ImageModel;
class PresetManager;
class QVXLPlatform;
class VXLDetector;  // the host's 404-byte AI image-class detector record; touched here by offset

// Six ints handed in by the host's detector: 0 class id, 2 and 4 values, 5 a flag.
struct VXLAIDetection {
    int32_t values[6];
};

// Byte layout of VXLDetector as this layer reads and writes it.
constexpr int kDetectorRecordBytes = 404;
constexpr int kDetectorClearedByte = 12;    // byte, cleared when the document makes the record
constexpr int kDetectorFeaturesOffset = 20; // 90 float32 feature values
constexpr int kDetectorFeatureCount = 90;
constexpr int kDetectorClassNumber = 392;   // int32, first item of the specimen text
constexpr int kDetectorFlagByte = 397;      // 1 when int 5 of the last detection is non-zero
constexpr int kDetectorClassId = 400;       // int32, class id of the last detection

// What the face-mesh computation answers for one picture: per face its points as x, y, z floats
// (x and y normalised to the picture), and the reference box (centre x, centre y, height, width, 0).
struct FaceMeshOutput {
    QList<QVector<float>> faces;
    float referenceBox[5] = {0, 0, 0, 0, 0};
};
// The computation run in face-mesh mode: pixels, width, height, row bytes, host flag, alpha flag.
using FaceMeshRunner =
    std::function<bool(const uint8_t*, int, int, int, int, int, FaceMeshOutput*)>;

class VxlImage : public Undoable {
    Q_OBJECT

public:
    enum ImageType {
        SOURCE_LOWRES = 1,
        SOURCE_FULLRES = 2,
        RESULT_LOWRES = 4,
        RESULT_FULLRES = 8,
    };
    Q_DECLARE_FLAGS(ImageTypes, ImageType)
    Q_FLAG(ImageTypes)

    // Parts of a state that a change touches, announced with requestStateChange.
    enum StateProperty {
        RAW = 1,
        UBER = 2,
        CORRECTIONS = 4,
        CROP = 8,
        ORIGINAL = 16,
    };
    Q_DECLARE_FLAGS(StateProperties, StateProperty)
    Q_FLAG(StateProperties)

    // Host-defined states, stored and announced only.
    enum LoadStatus : int32_t { NotLoaded = 0, Loading = 1, Loaded = 2, LoadFailed = 3 };
    Q_ENUM(LoadStatus)
    enum VisibilityStatus : int32_t { Hidden = 0, Visible = 1 };
    Q_ENUM(VisibilityStatus)

    // Which rectangle doFaceCalc computes.
    enum FaceCalcMode : int32_t { FaceCalcDetector = 0, FaceCalcFaceList = 1, FaceCalcMesh = 2 };

    static constexpr int kMeshPointsPerFace = 478;

    explicit VxlImage(QObject* parent = nullptr);
    ~VxlImage() override;

    // ---- Set by the host ------------------------------------------------------------------
    QString filePath() const { return m_filePath; }
    void setFilePath(const QString& path) { m_filePath = path; }
    // The document's first state (preset, master amount and RAW records all set); starts a new
    // history.
    void setInitialState(const SharedVxlImageState& state);
    int faceCalcMode() const { return m_faceCalcMode; }
    void setFaceCalcMode(int mode) { m_faceCalcMode = mode; }
    // The face-mesh computation for every document; the default runs the face-mesh pipeline with
    // the application's three models (none are installed, so it answers false). Null restores it.
    static void setFaceMeshRunner(FaceMeshRunner runner);

    // ---- Plain accessors ------------------------------------------------------------------
    int index() const { return m_index; }
    QVXLPlatform* platform() const { return m_platform; }
    SharedVxlImageState state() const { return m_state; }
    SharedPreset currentPreset() const;
    QSharedPointer<UberParams> currentUberParams() const;
    SharedPreset latestPersistentPreset() const { return m_latestPersistentPreset; }
    QSize fullResSize() const { return m_fullResSize; }
    QSize lowResSize() const { return m_lowResSize; }
    LoadStatus loadStatus() const { return m_loadStatus; }
    VisibilityStatus visibilityStatus() const { return m_visibilityStatus; }
    int loadPriority() const { return m_loadPriority; }
    ImageTypes availableImages() const { return m_availableImages; }
    bool shouldComputeFullRes() const { return m_shouldComputeFullRes; }
    ImageModel* imageModel() const { return m_imageModel; }
    SFBFacesModel* sfbFacesModel() const { return m_sfbFacesModel; }
    QList<VXL_FACE> sfbFaces() const { return m_sfbFaces; }
    // The picture of one ImageTypes bit, and its owned copy made by cacheImages (null if none).
    QImage image(ImageType type) const;
    const QImage* cachedImage(ImageType type) const;
    VXLDetector* detector() const;
    QRectF faceRect() const { return m_faceRect; }
    bool meshComputed() const { return m_meshComputed; }
    bool meshAvailable() const { return m_meshAvailable; }
    const float* meshReferenceBox() const { return m_meshReferenceBox.get(); }
    float meshLineY() const { return m_meshLineY; }

    // ---- Face framing (face_framing.cpp) --------------------------------------------------
    // Shrinks rect to the square around the eyes when both lie inside it, above its middle and
    // in order; then clamps it to width x height.
    void refineFaceRect(QRectF& rect, QPointF eyeA, QPointF eyeB, int width, int height) const;
    // Adjusts zoom and offsets so that the head crop fits inside the image.
    void fitHeadCropToImage(QHeadCropProperties* hcp);
    // Runs doFaceCalc and answers the normalised rectangle of the head crop.
    QRectF headCropRect(QHeadCropProperties props, bool withFine);

    // The image's key in the thumbnail caches: filePath with native separators.
    QString thumbnailKey() const;

signals:
    void requestIndexChange(int newIndex);
    void requestStateChange(SharedVxlImageState state, VxlImage::StateProperties props);
    void requestLatestPersistentPresetChange(QSharedPointer<Preset> preset);
    void requestImageChange(VxlImage::ImageTypes changes);
    void requestLoadStatusChange(VxlImage::LoadStatus status);
    void requestImageModelChange(ImageModel* model);
    void requestSFBFacesModelChange(SFBFacesModel* model);
    void requestShouldComputeFullResChange(bool shouldCompute);
    void requestAvailableImagesChange(VxlImage::ImageTypes availableImages);
    void requestVisibilityStatusChange(VxlImage::VisibilityStatus status);
    void requestSfbFacesChange(QList<VXL_FACE> faces);
    void requestImageSizeChange();
    void showMask();
    void hideMask();
    void requestThumbChanged(QString filepath, bool bAspectChanged);
    void requestImageReadyForPrint();

public slots:
    void setIndex(int index);
    void setPlatform(QVXLPlatform* platform);
    void setCropSettings(CropSettings settings, PushOption opt);
    void setCropSettings(CropSettings settings) { setCropSettings(settings, PushOption(0)); }
    void setPreset(QSharedPointer<Preset> preset, QString cmdId, PushOption opt);
    void setPreset(QSharedPointer<Preset> preset, QString cmdId) { setPreset(preset, cmdId, PushOption(0)); }
    void setCorrectionParams(VXLParams params, QString cmdId, PushOption opt);
    void setCorrectionParams(VXLParams params, QString cmdId) { setCorrectionParams(params, cmdId, PushOption(0)); }
    void setCorrectionParamsGF(QVXLParams paramsStack, QString cmdId, PushOption opt);
    void setCorrectionParamsGF(QVXLParams paramsStack, QString cmdId)
    {
        setCorrectionParamsGF(paramsStack, cmdId, PushOption(0));
    }
    void setCorrectionParamsRaw(QSharedPointer<VXLRAWParams> params);
    void setUberValue(int value, PushOption opt, bool reset);
    void setUberValue(int value, PushOption opt) { setUberValue(value, opt, false); }
    void setImages(VxlImage::ImageTypes changedImages);
    void setImageSizes(QSize fullRes, QSize lowRes);
    void setLoadStatus(VxlImage::LoadStatus status);
    void setDetector(VXLDetector* detector, bool needsPostprocessBGinDetector);
    void setDetector(VXLDetector* detector) { setDetector(detector, false); }
    void setImageModel(ImageModel* model);
    void setSFBFacesModel(SFBFacesModel* model);
    void setShouldComputeFullRes(bool shouldCompute);
    void setAvailableImages(VxlImage::ImageTypes availableImages);
    void setVisibilityStatus(VxlImage::VisibilityStatus status);
    void cacheImages();
    void deleteCachedImages(VxlImage::ImageTypes imageTypes);
    void setSFBFaces(QList<VXL_FACE> sfbFaces);
    bool createAndCacheThumbnail();
    void setLoadPriority(int iLoadPriority) { m_loadPriority = iLoadPriority; }
    QString clipartDetectorSpecimen();
    void setDetectedClass(VXLAIDetection detectedClass);
    void setNeedsCategoryPreset(bool needsCategoryPreset) { m_needsCategoryPreset = needsCategoryPreset; }
    bool needsCategoryPreset() { return m_needsCategoryPreset; }
    void setDetectedAicolorParams(VXLParams vxlParams);
    bool fillWithDetectedAicolorParams(VXLParams* vxlParams);
    void setPresetManager(PresetManager* pm) { m_presetManager = pm; }
    PresetManager* presetManager() { return m_presetManager; }
    void setHeadCropSettings(QHeadCropProperties cp);
    void updateHeadCropPropertiesForCropRect(QHeadCropProperties* hcp, QRectF cropRect);
    void setIsInCropWidget(bool b) { m_isInCropWidget = b; }
    bool isInCropWidget() { return m_isInCropWidget; }
    QRectF getLargestFDFaceRect();
    bool doFaceCalc();
    float* getFacemesh(int* facemeshFacesCount, int* landmarksPerFace);
    QMap<QString, QString>& getToolPresetNames() { return m_toolPresetNames; }
    void setToolPresetNames(QMap<QString, QString> toolPresetNames) { m_toolPresetNames = toolPresetNames; }
    QString getToolPresetName(QString toolWidget) { return m_toolPresetNames.value(toolWidget); }
    void setToolPresetName(QString toolWidget, QString toolPresetName)
    {
        m_toolPresetNames.insert(toolWidget, toolPresetName);
    }
    void deleteToolPresetName(QString toolWidget) { m_toolPresetNames.remove(toolWidget); }

protected:
    SharedVxlImageState currentState() const override { return m_state; }
    void applyState(const SharedVxlImageState& state) override;

private:
    // A first state with its preset and master-amount record is there; the editing slots do
    // nothing until it is.
    bool hasEditableState() const;
    // Builds a new state from the current one with modifier applied to its preset and pushes it.
    void pushImageState(const std::function<void(const SharedPreset&)>& modifier, const QString& cmdId,
                        PushOption opt, const QSharedPointer<UberParams>& uber);
    QImage& pictureRef(ImageType type);
    std::unique_ptr<QImage>& cacheRef(ImageType type);
    // The framing rectangle of head-crop properties: the mesh's face rectangle in mode 3.
    QRectF framingRect(const QHeadCropProperties& props) const;
    void handMeshToPlatform();

    QString m_filePath;
    int32_t m_index = 0;
    SharedPreset m_latestPersistentPreset;
    QVXLPlatform* m_platform = nullptr;
    QSize m_fullResSize;
    QSize m_lowResSize;
    LoadStatus m_loadStatus = NotLoaded;
    QImage m_sourceLowRes;
    QImage m_sourceFullRes;
    QImage m_resultLowRes;
    QImage m_resultFullRes;
    VXLDetector* m_detector = nullptr;
    ImageModel* m_imageModel = nullptr;
    SFBFacesModel* m_sfbFacesModel = nullptr;
    ImageTypes m_availableImages;
    VisibilityStatus m_visibilityStatus = Hidden;
    int32_t m_loadPriority = 0;
    SharedVxlImageState m_state;
    QList<VXL_FACE> m_sfbFaces;
    bool m_detectorFlag = false;
    mutable QMutex m_detectorMutex;
    bool m_shouldComputeFullRes = false;
    std::unique_ptr<QImage> m_cachedSourceLowRes;
    std::unique_ptr<QImage> m_cachedSourceFullRes;
    std::unique_ptr<QImage> m_cachedResultLowRes;
    std::unique_ptr<QImage> m_cachedResultFullRes;
    bool m_needsPostprocessBGinDetector = false;
    int32_t m_detection0 = 0;
    int32_t m_detection2 = 0;
    int32_t m_detection4 = 0;
    int32_t m_detection5 = 0;
    bool m_hasDetectedAicolor = false;
    int32_t m_detectedDeltaR = 0;
    int32_t m_detectedDeltaB = 0;
    bool m_needsCategoryPreset = false;
    PresetManager* m_presetManager = nullptr;
    bool m_aicolorLatched = false;
    int32_t m_latchedDeltaR = 0;
    int32_t m_latchedDeltaG = 0;
    int32_t m_latchedDeltaB = 0;
    bool m_isInCropWidget = false;
    // Face framing.
    int32_t m_faceCalcMode = FaceCalcDetector;
    bool m_meshComputed = false;
    bool m_meshAvailable = false;
    std::unique_ptr<float[]> m_meshReferenceBox; // five floats
    std::unique_ptr<float[]> m_facemesh;         // faces x 478 x 3 floats
    int32_t m_facemeshFacesCount = 0;
    QRectF m_faceRect;
    QRectF m_meshFaceRect;
    float m_meshLineY = 0;
    QMap<QString, QString> m_toolPresetNames;
    // A detector record the document made itself (setDetectedClass without a detector).
    std::unique_ptr<uint8_t[]> m_ownDetectorRecord;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(VxlImage::ImageTypes)
Q_DECLARE_OPERATORS_FOR_FLAGS(VxlImage::StateProperties)
Q_DECLARE_METATYPE(VXLAIDetection)
