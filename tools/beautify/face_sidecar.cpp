// The JSON sidecar of faces and landmarks.
#include "tools/beautify/face_sidecar.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

#include "facesdk/base/allocator.h"
#include "facesdk/base/result_codes.h"

namespace {

// Coordinates beyond this are no picture's.
constexpr double kMaxCoordinate = 1 << 20;

bool readInt(const QJsonValue &value, int32_t *out)
{
    if (!value.isDouble())
        return false;
    const double v = value.toDouble();
    if (v != std::floor(v) || std::fabs(v) > kMaxCoordinate)
        return false;
    *out = int32_t(v);
    return true;
}

bool readPoint(const QJsonValue &value, VXL_POINT *out)
{
    const QJsonArray pair = value.toArray();
    return value.isArray() && pair.size() == 2 && readInt(pair[0], &out->x) &&
           readInt(pair[1], &out->y);
}

}  // namespace

FaceSidecar::~FaceSidecar()
{
    clear();
}

void FaceSidecar::clear()
{
    for (VXL_FACE &face : faces_)
        freeFaceBuffers(defaultAllocator(), &face);
    faces_.clear();
}

bool FaceSidecar::load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    return parse(file.readAll(), error);
}

bool FaceSidecar::parse(const QByteArray &json, QString *error)
{
    clear();
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = QStringLiteral("not JSON: %1 at offset %2")
                     .arg(parseError.errorString())
                     .arg(parseError.offset);
        return false;
    }
    const QJsonValue list = document.object().value(QStringLiteral("faces"));
    if (!document.isObject() || !list.isArray()) {
        *error = QStringLiteral("expected an object with a \"faces\" array");
        return false;
    }
    const QJsonArray entries = list.toArray();
    if (entries.size() > kSidecarMaxFaces) {
        *error = QStringLiteral("%1 faces; a beautify call takes at most %2")
                     .arg(entries.size())
                     .arg(kSidecarMaxFaces);
        return false;
    }
    auto fail = [&](int index, const char *what) {
        *error = QStringLiteral("face %1: %2").arg(index).arg(QLatin1String(what));
        clear();
        return false;
    };
    for (int i = 0; i < entries.size(); ++i) {
        const QJsonObject entry = entries[i].toObject();
        if (!entries[i].isObject())
            return fail(i, "not an object");
        VXL_FACE face{};
        faces_.push_back(face);
        VXL_FACE &f = faces_.back();
        const QJsonArray box = entry.value(QStringLiteral("box")).toArray();
        if (box.size() != 4 || !readInt(box[0], &f.x) || !readInt(box[1], &f.y) ||
            !readInt(box[2], &f.width) || !readInt(box[3], &f.height))
            return fail(i, "\"box\" must be four whole numbers [x, y, width, height]");
        if (f.width <= 0 || f.height <= 0)
            return fail(i, "\"box\" needs a positive width and height");
        if (entry.contains(QStringLiteral("id")) && !readInt(entry.value(QStringLiteral("id")), &f.id))
            return fail(i, "\"id\" must be a whole number");
        if (entry.contains(QStringLiteral("roll")) &&
            (!readInt(entry.value(QStringLiteral("roll")), &f.roll) || f.roll < -179 || f.roll > 180))
            return fail(i, "\"roll\" must be whole degrees from -179 to 180");
        VXL_POINT eye1{f.x + f.width / 4, f.y + f.height / 3};
        VXL_POINT eye2{f.x + f.width - f.width / 4, f.y + f.height / 3};
        if (entry.contains(QStringLiteral("eyes"))) {
            const QJsonArray eyes = entry.value(QStringLiteral("eyes")).toArray();
            if (eyes.size() != 2 || !readPoint(eyes[0], &eye1) || !readPoint(eyes[1], &eye2))
                return fail(i, "\"eyes\" must be two points [[x, y], [x, y]]");
        }
        f.eye1X = eye1.x;
        f.eye1Y = eye1.y;
        f.eye2X = eye2.x;
        f.eye2Y = eye2.y;
        VXL_POINT lower{(eye1.x + eye2.x) / 2, f.y + f.height * 3 / 4};
        if (entry.contains(QStringLiteral("lower")) &&
            !readPoint(entry.value(QStringLiteral("lower")), &lower))
            return fail(i, "\"lower\" must be a point [x, y]");
        f.lowerX = lower.x;
        f.lowerY = lower.y;
        if (entry.contains(QStringLiteral("landmarks"))) {
            const QJsonValue value = entry.value(QStringLiteral("landmarks"));
            const QJsonArray points = value.toArray();
            if (!value.isArray() || points.size() > kFacePointSlots)
                return fail(i, "\"landmarks\" must be a list of at most 250 points");
            if (ensureFaceBuffers(defaultAllocator(), &f) != kResultOk)
                return fail(i, "out of memory for the landmark buffers");
            for (int k = 0; k < points.size(); ++k)
                if (!readPoint(points[k], &f.points[k]))
                    return fail(i, "every landmark must be a point [x, y]");
            // Landmarks handed in count as fitted; the saved groups mirror them, as after a fit.
            fittedFlag(f) = points.isEmpty() ? 0 : 1;
            savePointGroups(&f, 1);
        }
    }
    return true;
}
