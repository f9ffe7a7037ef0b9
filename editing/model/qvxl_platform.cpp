#include "editing/model/qvxl_platform.h"

#include "editing/model/records/face_box.h"
#include "editing/model/raw_defaults.h"
#include "facesdk/engine/face_records.h"

#include <QDebug>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

const QSharedPointer<VXLRAWParams> defaultRawParamsInstance = makeDefaultRawParams();

namespace {

void releaseView(void* view)
{
    delete static_cast<ImageView*>(view);
}

// Rows of a descriptor that a QImage of the given format can read without running past them.
bool viewFitsFormat(const ImageView& view, QImage::Format format)
{
    const int bytesPerPixel = format == QImage::Format_RGBA8888 ? 4 : 3;
    return view.format == kImageFormat8 && view.width > 0 && view.height > 0 &&
           int64_t(view.rowBytes) >= int64_t(view.width) * bytesPerPixel;
}

}  // namespace

QVXLPlatform::QVXLPlatform(QObject* parent) : QObject(parent)
{
    static const int registered = qRegisterMetaType<QVXLPlatform*>("QVXLPlatform*");
    Q_UNUSED(registered);
}

int QVXLPlatform::fetchImage(QImage* out, bool unedited, bool fullRes)
{
    if (!m_platform)
        return -1;
    auto view = std::make_unique<ImageView>();
    std::memset(view.get(), 0, sizeof(ImageView));
    const int status = m_platform->GetImage(view.get(), unedited, fullRes);
    if (status != 0 || !view->data[0]) {
        qInfo() << "GetImage failed status: " << status << "transfer->data[0]: " << static_cast<void*>(view->data[0]);
        return status != 0 ? status : -1;
    }

    const bool hostOrder = view->hostOrder != 0;
    const QImage::Format format = view->hasAlpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888;
    // The wrapper reads the descriptor's own row step; a descriptor whose rows are shorter than
    // its pixels (or that holds 16-bit samples) is refused rather than read past its buffer. The
    // last QImage sharing the pixels releases the descriptor.
    QImage wrapper;
    if (viewFitsFormat(*view, format)) {
        ImageView* shared = view.release();
        wrapper = QImage(shared->data[0], shared->width, shared->height, shared->rowBytes, format, releaseView,
                         shared);
    }
    if (wrapper.isNull()) {
        qInfo() << "imageBGR.isNull";
        return -1;
    }
    // The mark goes on before the picture is shared: setting text on a shared QImage detaches it
    // from the platform's pixels.
    if (hostOrder) {
        QImage copy = wrapper.rgbSwapped();
        copy.setText(QLatin1String(kOwnedKey), QLatin1String(kOwnedByApp));
        *out = copy;
    } else {
        wrapper.setText(QLatin1String(kOwnedKey), QLatin1String(kOwnedByPlatform));
        *out = wrapper;
    }
    return 0;
}

uint8_t* QVXLPlatform::rawImage(int* width, int* height, int* rowBytes, int* hostOrder, int* hasAlpha, bool fullRes)
{
    *width = 0;
    if (!m_platform)
        return nullptr;
    ImageView view;
    std::memset(&view, 0, sizeof view);
    if (m_platform->GetImage(&view, true, fullRes) != 0)
        return nullptr;
    *width = view.width;
    *height = view.height;
    *rowBytes = view.rowBytes;
    *hostOrder = view.hostOrder ? 1 : 0;
    *hasAlpha = view.hasAlpha ? 1 : 0;
    return view.data[0];
}

bool QVXLPlatform::hasValidImage()
{
    if (!m_platform)
        return false;
    ImageView view;
    std::memset(&view, 0, sizeof view);
    if (m_platform->GetImage(&view, true, true) != 0)
        view.width = view.height = 0;
    return view.width >= 1 && view.height >= 1;
}

int QVXLPlatform::faceLandmarks(const EngineFaceRecord** records, int* count)
{
    if (!hasValidImage())
        return -3;
    return m_platform->GetFaceLandmarks(records, count);
}

bool QVXLPlatform::platformFaceIds(std::vector<int32_t>* ids) const
{
    VXL_FACE* faces = nullptr;
    int count = 0;
    if (m_platform->GetFaces(&faces, &count) != 0 || count < 0 || (count > 0 && !faces))
        return false;
    ids->clear();
    for (int i = 0; i < count; ++i)
        ids->push_back(faces[i].id);
    return true;
}

int QVXLPlatform::addFace(VXL_FACE* face, int count)
{
    if (count != 1 || !face || !m_platform)
        return -1;
    std::vector<int32_t> before;
    if (!platformFaceIds(&before))
        before.clear(); // no list yet: every id after the append is new
    faceBoxFromEyes(face);
    const int answer = m_platform->SetFaces(face, 1);
    if (answer != 0)
        return answer;
    // The platform numbers an appended face itself; the model keys the face by that number, so
    // the one id the list did not hold before is the new face's.
    std::vector<int32_t> after;
    if (!platformFaceIds(&after))
        return -1;
    for (auto it = after.rbegin(); it != after.rend(); ++it) {
        if (std::find(before.begin(), before.end(), *it) == before.end()) {
            face->id = *it;
            return 0;
        }
    }
    return -1;
}

int QVXLPlatform::setFace(VXL_FACE* face)
{
    if (!m_platform || !face)
        return -1;
    // The platform replaces the face of that id and answers success even when it has none: a face
    // it does not know is refused here, so that the caller keeps its committed face.
    std::vector<int32_t> ids;
    if (!platformFaceIds(&ids) || std::find(ids.begin(), ids.end(), face->id) == ids.end())
        return -1;
    return m_platform->SetFace(face);
}

void QVXLPlatform::setFaceMesh(int count, float* records, int pointsPerFace)
{
    // The platform's list always holds 478 points per face; it takes the count and the records.
    Q_UNUSED(pointsPerFace);
    if (m_platform)
        m_platform->SetFaceMesh(count, records);
}

int QVXLPlatform::progressCallback(int step, int total, void* userData)
{
    if (auto* adapter = static_cast<QVXLPlatform*>(userData))
        emit adapter->progress(step, total);
    return 0;
}

bool scaleIntoBuffer(const uint8_t* source, uint8_t* destination, int sourceWidth, int sourceHeight,
                     int sourceRowBytes, int destinationWidth, int destinationHeight, int destinationRowBytes,
                     bool refuse, bool hasAlpha)
{
    if (refuse)
        return false;
    const QImage::Format format = hasAlpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888;
    const QImage wrapped(source, sourceWidth, sourceHeight, sourceRowBytes, format);
    const QImage scaled = wrapped.scaled(destinationWidth, destinationHeight, Qt::IgnoreAspectRatio,
                                         Qt::SmoothTransformation)
                              .convertToFormat(format);
    if (scaled.isNull())
        return false;
    const int rowLength = destinationWidth * (hasAlpha ? 4 : 3);
    for (int y = 0; y < destinationHeight; ++y, destination += destinationRowBytes)
        std::memcpy(destination, scaled.constScanLine(y), size_t(rowLength));
    return true;
}
