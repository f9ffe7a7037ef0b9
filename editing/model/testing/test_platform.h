// Test helper: a small IVXLPlatform whose picture, face list and face-region records the test
// sets, and which records what the adapter sends it. Its face list behaves as the platform's: an
// appended face is numbered by the list (one more than the largest id), not by the caller, and a
// replaced face is found by its id. Slots the editing model does not call answer -1.
#pragma once

#include <QImage>
#include <QList>
#include <QVector>

#include <algorithm>
#include <cstring>
#include <vector>

#include "facesdk/engine/face_records.h"
#include "vizoruv/platform/testing/eye_face.h" // faceWithEyes: a face given by its id and eyes
#include "vizoruv/platform/ivxl_platform.h"

namespace platform_test {

// One 52-byte face-region record as the platform hands it out.
struct FaceRegionRecord {
    int32_t face[4];
    int32_t eyeA[4];
    int32_t eyeB[4];
    uint8_t flags[2];
    uint8_t padding[2];
};
static_assert(sizeof(FaceRegionRecord) == 52, "the platform's face-region records are 52 bytes");

class TestPlatform : public IVXLPlatform {
public:
    // ---- What the test sets ----
    int getImageStatus = 0;
    // Per picture (unedited, fullRes) the pixels handed out; empty: no pixels.
    QImage pictures[2][2];
    bool hostOrder = false;
    int getFacesStatus = 0;
    std::vector<VXL_FACE> faces;
    int landmarksStatus = 0;
    std::vector<FaceRegionRecord> regions;
    int setFaceAnswer = 0;
    int setFacesAnswer = 0;

    // ---- What the adapter sent ----
    int getImageCalls = 0;
    std::vector<VXL_FACE> setFaceCalls;
    std::vector<std::vector<VXL_FACE>> setFacesCalls;
    int getFacesCalls = 0;
    int landmarksCalls = 0;
    int setFaceMeshCalls = 0;
    int lastMeshCount = -1;
    const float* lastMesh = nullptr;

    int GetImage(ImageView* view, bool unedited, bool fullSize) override
    {
        ++getImageCalls;
        if (getImageStatus != 0)
            return getImageStatus;
        QImage& picture = pictures[unedited ? 1 : 0][fullSize ? 1 : 0];
        std::memset(view, 0, sizeof *view);
        if (picture.isNull())
            return 0;
        view->format = kImageFormat8;
        view->width = picture.width();
        view->height = picture.height();
        view->rowBytes = picture.bytesPerLine();
        view->hasAlpha = picture.format() == QImage::Format_RGBA8888;
        view->bytesPerPixel = view->hasAlpha ? 4 : 3;
        view->hostOrder = hostOrder;
        view->data[0] = picture.bits();
        view->data[1] = picture.bits() + 1;
        view->data[2] = picture.bits() + 2;
        return 0;
    }
    int GetFaces(VXL_FACE** out, int* count) override
    {
        ++getFacesCalls;
        if (getFacesStatus != 0)
            return getFacesStatus;
        *out = faces.empty() ? nullptr : faces.data();
        *count = int(faces.size());
        return 0;
    }
    int GetFaceLandmarks(const EngineFaceRecord** records, int* count) override
    {
        ++landmarksCalls;
        if (landmarksStatus != 0)
            return landmarksStatus;
        *records = reinterpret_cast<const EngineFaceRecord*>(regions.data());
        *count = int(regions.size());
        return 0;
    }
    int SetFace(const VXL_FACE* face) override
    {
        setFaceCalls.push_back(*face);
        if (setFaceAnswer != 0)
            return setFaceAnswer;
        for (VXL_FACE& listed : faces)
            if (listed.id == face->id)
                listed = *face;
        return 0;
    }
    int SetFaces(const VXL_FACE* list, int count) override
    {
        setFacesCalls.emplace_back(list, list + count);
        if (setFacesAnswer != 0)
            return setFacesAnswer;
        int32_t largest = 0;
        for (const VXL_FACE& listed : faces)
            largest = std::max(largest, listed.id);
        for (int i = 0; i < count; ++i) {
            faces.push_back(list[i]);
            faces.back().id = ++largest;
        }
        return 0;
    }
    void SetFaceMesh(int faceCount, const float* landmarks) override
    {
        ++setFaceMeshCalls;
        lastMeshCount = faceCount;
        lastMesh = landmarks;
    }

    // ---- Slots the editing model does not call ----
    int OpenImageFile(const char*, const CorrectionStack*, int, void*, void*, const VXLRAWParams*,
                      VXLDetector*) override { return -1; }
    int OpenHostImage(HostFilterRecord*, const CorrectionStack*, int, void*, void*, const char*,
                      VXLDetector*) override { return -1; }
    int ApplyCorrection(const CorrectionStack*, CorrectionReport*, bool) override { return -1; }
    int StartCorrection(const CorrectionStack*, VxlProgressCallback, void*) override { return -1; }
    int ConvertResultForDisplay(bool) override { return -1; }
    int GetResizedImage(ImageView*, bool, int, bool) override { return -1; }
    int ProcessFile(const char*, const char*, const CorrectionStack*, void*, const OutputSettings*,
                    const MaskTransform*, int, const char*, const ImageView*, VxlProgressCallback, void*, void*,
                    void*, void*, const VXLRAWParams*, VXLDetector*, void*) override { return -1; }
    int ProcessHostImage(HostFilterRecord*, const CorrectionStack*, int, int, const char*,
                         VXLDetector*) override { return -1; }
    std::vector<std::string> GetLutKeys() override { return {}; }
    int ResetFaces() override { return -1; }
    int GetHistogram(uint8_t*, const MaskTransform*, bool, int) override { return -1; }
    int Reserved16() override { return -1; }
    int Reserved17() override { return -1; }
    int Reserved18() override { return -1; }
    int Reserved19() override { return -1; }
    int Reserved20() override { return -1; }
    int GetImageInfo(bool*, std::string*, std::string*, int*, int*, int*, float*, float*, float*,
                     float*) override { return -1; }
    int GetThumbnail(const char*, int, ImageView*, int*, void*) override { return -1; }
    int GetMaskOverlays(ImageView*, ImageView*, const CorrectionStack*, int, int, float, int, int) override
    {
        return -1;
    }
    int FreeThumbnail(ImageView*) override { return -1; }
    int GetToneCurves(uint8_t*, const VXLParams*, int, int, int, int) override { return -1; }
    int GetFingerprint(std::string*) override { return -1; }
    int CloseImage() override { return -1; }
    void SetSingleThreaded(bool) override {}
    void SetUserData(void*) override {}
    void* GetUserData() override { return nullptr; }
    std::string GetAutoSkintoneParameters(unsigned, int*, int*) override { return {}; }
    void SetMasks(const ImageView*, const ImageView*) override {}
    void SetAIEngines(void*, void*, void*) override {}
    void Release() override {}
};

// A face-region record: face box, then the two eye regions.
inline FaceRegionRecord regionRecord(QRect face, QRect eyeA, QRect eyeB)
{
    FaceRegionRecord record{};
    const QRect boxes[3] = {face, eyeA, eyeB};
    int32_t* targets[3] = {record.face, record.eyeA, record.eyeB};
    for (int i = 0; i < 3; ++i) {
        targets[i][0] = boxes[i].x();
        targets[i][1] = boxes[i].y();
        targets[i][2] = boxes[i].width();
        targets[i][3] = boxes[i].height();
    }
    return record;
}

// A picture filled with one colour.
inline QImage filledPicture(int width, int height, QImage::Format format, QColor colour)
{
    QImage picture(width, height, format);
    picture.fill(colour);
    return picture;
}

}  // namespace platform_test
