// The face-list slots of the platform (10 to 14, 33) and the face-mesh list.
//
// The edits stop the workers instead of taking the instance or session lock; the session operations
// of the face glue take the session lock where they need it.
#include "vizoruv/platform/face_slots.h"

#include <new>

#include "vizoruv/platform/engine_session.h"
#include "vizoruv/platform/face_glue.h"
#include "vizoruv/platform/vxl_platform_win.h"

namespace {

constexpr int kSlotOk = 0;
constexpr int kSlotFailed = -1;

int slotAnswer(bool ok) {
    return ok ? kSlotOk : kSlotFailed;
}

}  // namespace

// ---- FaceMeshList ----

void FaceMeshList::set(int count, const float* records) {
    records_.clear();
    records_.shrink_to_fit();
    count_ = 0;
    if (count <= 0 || !records)
        return;
    try {
        records_.assign(records, records + size_t(count) * kFaceMeshRecordFloats);
    } catch (const std::bad_alloc&) {
        return;
    }
    count_ = count;
}

const float* FaceMeshList::record(int index) const {
    return index >= 0 && index < count_ ? records_.data() + size_t(index) * kFaceMeshRecordFloats : nullptr;
}

// ---- Slots ----

int VXLPlatformWin::GetFaces(VXL_FACE** faces, int* count) {
    workers_[kAnalysisWorker]->wait();
    EngineSession* session = session_.get();
    if (!faces || !count || !session || !session->face.engine)
        return kSlotFailed;
    return slotAnswer(getSessionFaces(session, faces, count));
}

int VXLPlatformWin::GetFaceLandmarks(const EngineFaceRecord** records, int* count) {
    workers_[kAnalysisWorker]->wait();
    EngineSession* session = session_.get();
    if (!records || !count || !session)
        return kSlotFailed;
    *records = session->engineFaces.empty() ? nullptr : session->engineFaces.data();
    *count = int(session->engineFaces.size());
    return kSlotOk;
}

int VXLPlatformWin::editFaces(const std::function<bool(EngineSession*, const ImageView&)>& edit) {
    stopWorkers();
    EngineSession* session = session_.get();
    ImageView image{};
    if (!session || GetImage(&image, true, true) != kSlotOk)
        return kSlotFailed;
    if (!edit(session, image))
        return kSlotFailed;
    return slotAnswer(refitFaces(session, true, image, image.hostOrder != 0));
}

int VXLPlatformWin::SetFace(const VXL_FACE* face) {
    if (!face)
        return kSlotFailed;
    return editFaces([face](EngineSession* session, const ImageView&) {
        replaceFace(session, *face);
        return true;
    });
}

int VXLPlatformWin::SetFaces(const VXL_FACE* faces, int count) {
    return editFaces([faces, count](EngineSession* session, const ImageView&) {
        appendFaces(session, faces, count);
        return true;
    });
}

int VXLPlatformWin::ResetFaces() {
    return editFaces([](EngineSession* session, const ImageView& image) {
        return renewFaceEngine(session) && redetectFaces(session, image, image.hostOrder != 0);
    });
}

void VXLPlatformWin::SetFaceMesh(int faceCount, const float* landmarks) {
    faceMesh_.set(faceCount, landmarks);
}
