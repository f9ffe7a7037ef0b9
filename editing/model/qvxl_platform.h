// QVXLPlatform: the Qt-side handle on one imaging platform instance. The document, the face-list
// model and the face-mesh computation reach the platform only through it: it turns the platform's
// image descriptors into QImages or raw buffers and wraps the face operations with the rules the
// editing model needs. It owns no image data and neither creates nor releases the platform.
//
// Also here: scaleIntoBuffer, which makes model inputs for the face-mesh computation, and the
// process-wide default RAW development record.
#pragma once

#include <QFlags>
#include <QImage>
#include <QMetaType>
#include <QObject>
#include <QSharedPointer>

#include <cstdint>
#include <vector>

#include "vizoruv/io/raw_params.h"
#include "vizoruv/platform/ivxl_platform.h"

struct VXL_FACE;

class QVXLPlatform : public QObject {
    Q_OBJECT

public:
    // Start options of the platform, for the host; nothing here reads them.
    enum Mode {
        LOWRES_ONLY = 2,
        LOWRES_PRECALC = 4,
        SINGLETHREADED_VXL = 8,
        NO_PRECALC = 16,
    };
    Q_DECLARE_FLAGS(Modes, Mode)
    Q_FLAG(Modes)

    // Text key and values of the ownership mark that fetchImage puts on its images.
    static constexpr const char* kOwnedKey = "owned";
    static constexpr const char* kOwnedByPlatform = "platform";
    static constexpr const char* kOwnedByApp = "app";

    explicit QVXLPlatform(QObject* parent = nullptr);

    IVXLPlatform* platform() const { return m_platform; }
    void setPlatform(IVXLPlatform* platform) { m_platform = platform; }

    // One of the platform's four pictures: unedited (decoded source) or the corrected result, at
    // full or low resolution. An ordinary image shares the platform's pixels (mark "platform") and
    // stays valid only while the platform keeps that buffer; a plug-in host's image is an owned
    // copy with red and blue exchanged (mark "app"). 0, or the platform's failure (-1 when it gave
    // no pixels); out is unchanged on failure.
    int fetchImage(QImage* out, bool unedited, bool fullRes);
    // The source picture's first channel and geometry, no copy; null on failure (width set to 0).
    uint8_t* rawImage(int* width, int* height, int* rowBytes, int* hostOrder, int* hasAlpha, bool fullRes);
    // The platform holds a full-resolution source picture of at least 1 x 1 pixels.
    bool hasValidImage();
    // The platform's 52-byte face-region records; -3 without a valid image.
    int faceLandmarks(const EngineFaceRecord** records, int* count);
    // Appends one face (count must be 1, else -1), its box and roll computed from its eyes, and
    // writes into face->id the id the platform gave it. 0, the platform's failure, or -1 when the
    // platform's list does not show the new face.
    int addFace(VXL_FACE* face, int count);
    // Replaces the face with face's id: the platform's answer (0 or -1), and -1 without asking it
    // when its list holds no face of that id.
    int setFace(VXL_FACE* face);
    // Hands the face-mesh list to the platform; nothing without a platform.
    void setFaceMesh(int count, float* records, int pointsPerFace);
    void setMeshLineY(float value) { m_meshLineY = value; }
    float meshLineY() const { return m_meshLineY; }

    // A VxlProgressCallback for the platform's corrections: emits progress on the adapter passed
    // as userData (from the platform's worker thread; receivers on other threads get it queued)
    // and answers 0, never cancelling.
    static int progressCallback(int step, int total, void* userData);

signals:
    void progress(int current, int total);

private:
    // The ids of the platform's face list, in its order; false when the list cannot be read.
    bool platformFaceIds(std::vector<int32_t>* ids) const;

    IVXLPlatform* m_platform = nullptr; // not owned
    float m_meshLineY = 0;              // stored for the host with each face-mesh list
};

Q_DECLARE_OPERATORS_FOR_FLAGS(QVXLPlatform::Modes)
Q_DECLARE_METATYPE(QVXLPlatform*)

// Scales an 8-bit RGB (or RGBA when hasAlpha) picture smoothly to the destination size, ignoring
// the aspect ratio, and writes exactly destinationWidth x bytes-per-pixel bytes into each
// destination row, rows destinationRowBytes apart. refuse true: answers false and writes nothing.
bool scaleIntoBuffer(const uint8_t* source, uint8_t* destination, int sourceWidth, int sourceHeight,
                     int sourceRowBytes, int destinationWidth, int destinationHeight, int destinationRowBytes,
                     bool refuse, bool hasAlpha);

// The editing model's default RAW development settings, made before main runs.
extern const QSharedPointer<VXLRAWParams> defaultRawParamsInstance;
