// Faces and landmarks for a beautify call, read from a JSON sidecar file:
//
//   {"faces": [{"id": 1, "box": [x, y, w, h], "roll": 0,
//               "eyes": [[x1, y1], [x2, y2]], "lower": [x, y],
//               "landmarks": [[x, y], ...]}]}
//
// Coordinates are pixels of the input picture. "id", "roll", "eyes", "lower" and "landmarks"
// may be left out: ids then stay 0 (the run numbers the faces), the eyes sit a third of the
// way down the box at a quarter from each side, and the lower-face point below them. Up to
// 250 landmark points go into the face's point buffer.
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

#include "facesdk/engine/face_records.h"

// The faces of one sidecar; their point buffers are freed with the list.
class FaceSidecar {
public:
    FaceSidecar() = default;
    ~FaceSidecar();
    FaceSidecar(const FaceSidecar &) = delete;
    FaceSidecar &operator=(const FaceSidecar &) = delete;

    // Parses the sidecar text. False with a message naming the face and field at fault; the list
    // is then empty.
    bool parse(const QByteArray &json, QString *error);
    bool load(const QString &path, QString *error);

    VXL_FACE *faces() { return faces_.empty() ? nullptr : faces_.data(); }
    int32_t count() const { return int32_t(faces_.size()); }

private:
    void clear();
    std::vector<VXL_FACE> faces_;
};

// Most faces one beautify call takes.
constexpr int kSidecarMaxFaces = 100;
