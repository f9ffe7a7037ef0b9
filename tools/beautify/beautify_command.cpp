// The beautify command line.
#include "tools/beautify/beautify_command.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>

#include <cstring>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/engine/engine.h"
#include "facesdk/engine/face_records.h"
#include "tools/beautify/beautify_call.h"
#include "tools/beautify/face_sidecar.h"
#include "tools/beautify/run_image.h"

namespace {

// The bytes of every plane of an image of a run format.
std::vector<uint8_t> planeBytes(const EngineImage &image)
{
    std::vector<uint8_t> bytes;
    for (int p = 0; p < formatPlaneCount(image.format); ++p) {
        const int rows = p > 0 && formatFamily(image.format) == kFamilyYuv420 ? image.height / 2
                                                                              : image.height;
        const uint8_t *start = image.planes[p].pixels;
        bytes.insert(bytes.end(), start, start + size_t(rows) * image.planes[p].stride);
    }
    return bytes;
}

// The detector's eye boxes are coarse, and the shape records the stages work on are built
// around the eyes of the face record (the lower face, where teeth are looked for, lies an eye
// distance below them). Each fitted face takes the eye centres of its fitted points, the eyes
// facedetect --landmarks reports; a second fit keeps the fitted points (a fitted face is not
// fitted again) and builds the records around those eyes. Answers how many faces moved.
int moveEyesToFittedCentres(VXL_FACE *faces, int32_t count)
{
    int moved = 0;
    for (int32_t i = 0; i < count; ++i) {
        VXL_FACE &f = faces[i];
        if (!f.points || !pointCountFitsBuffer(f) || f.pointCount < 24 || !fittedFlag(f))
            continue;
        const VXL_POINT first = fittedEyeCentre(f, kFirstEyePoints), second = fittedEyeCentre(f, kSecondEyePoints);
        f.eye1X = first.x;
        f.eye1Y = first.y;
        f.eye2X = second.x;
        f.eye2Y = second.y;
        ++moved;
    }
    return moved;
}

}  // namespace

int runBeautifyCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs one beautify call on a picture and prints the run result and the status of every "
        "feature (96: not run). Without faces given, the engine detects the faces and fits them first, "
        "then fits them again with the fitted eye centres as their eyes.\n"
        "Faces: {\"faces\": [{\"id\": 1, \"box\": [x, y, w, h], \"roll\": 0, "
        "\"eyes\": [[x, y], [x, y]], \"lower\": [x, y], \"landmarks\": [[x, y], ...]}]}"));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("input"), QStringLiteral("PNG or JPEG picture"));
    parser.addPositionalArgument(QStringLiteral("output"), QStringLiteral("result picture (PNG or JPEG by its suffix)"));
    const QCommandLineOption format({QStringLiteral("f"), QStringLiteral("format")},
        QStringLiteral("run format: i444, yuyv, uyvy, i422, nv12, nv21, i420 or a code"),
        QStringLiteral("format"), QStringLiteral("nv12"));
    const QCommandLineOption faces({QStringLiteral("faces")},
        QStringLiteral("JSON sidecar with the faces (default: <input>.faces.json when present)"),
        QStringLiteral("file"));
    const QCommandLineOption mask({QStringLiteral("m"), QStringLiteral("mask")},
        QStringLiteral("feature mask, e.g. 0x1ffff"), QStringLiteral("mask"), QStringLiteral("0x1ffff"));
    const QCommandLineOption strength({QStringLiteral("s"), QStringLiteral("strength")},
        QStringLiteral("strength of every feature in the mask, 1..255"), QStringLiteral("n"),
        QStringLiteral("50"));
    const QCommandLineOption set({QStringLiteral("set")},
        QStringLiteral("one setting, e.g. skinToneMode=2 or cheekColour=#e08080 (repeatable)"),
        QStringLiteral("name=value"));
    const QCommandLineOption flags({QStringLiteral("flags")},
        QStringLiteral("parameter flags: 1 run without faces, 2 keep small faces"),
        QStringLiteral("flags"), QStringLiteral("3"));
    parser.addOptions({format, faces, mask, strength, set, flags});
    if (!parser.parse(QStringList{QStringLiteral("beautify")} + arguments)) {
        err << parser.errorText() << "\n";
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        out << parser.helpText();
        return 0;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() != 2) {
        err << "usage: beautify [options] input output\n";
        return 2;
    }

    const PixelFormat runFormat = parseRunFormat(parser.value(format));
    BeautifyRequest request;
    bool maskOk = false;
    bool strengthOk = false;
    bool flagsOk = false;
    request.mask = parser.value(mask).toUInt(&maskOk, 0);
    request.strength = parser.value(strength).toInt(&strengthOk, 0);
    request.flags = parser.value(flags).toUInt(&flagsOk, 0);
    request.cells = parser.values(set);
    if (!runFormat) {
        err << "unknown format " << parser.value(format) << "\n";
        return 2;
    }
    if (!maskOk || (request.mask & ~kAllFeatures) || !strengthOk || request.strength < 1 ||
        request.strength > 255 || !flagsOk || request.flags > 3) {
        err << "the mask takes bits 0x1 to 0x10000, the strength 1 to 255 and the flags 0 to 3\n";
        return 2;
    }
    BeautySettings settings;
    QString error;
    if (!buildSettings(request, &settings, &error)) {
        err << error << "\n";
        return 2;
    }

    QImageReader reader(files[0]);
    const QImage picture = reader.read();
    if (picture.isNull()) {
        err << "cannot read " << files[0] << ": " << reader.errorString() << "\n";
        return 2;
    }
    RunImage image;
    if (!image.assign(picture, runFormat, &error)) {
        err << error << "\n";
        return 2;
    }
    FaceSidecar sidecar;
    const QString facesPath = parser.isSet(faces) ? parser.value(faces) : files[0] + QStringLiteral(".faces.json");
    if ((parser.isSet(faces) || QFileInfo::exists(facesPath)) && !sidecar.load(facesPath, &error)) {
        err << facesPath << ": " << error << "\n";
        return 2;
    }

    BeautyEngine *engine = nullptr;
    if (engineCreate(&engine) != kResultOk) {
        err << "cannot create the engine\n";
        return 1;
    }
    // Without faces given, the engine finds them and fits their landmarks, as a host would
    // before beautifying, and builds their shape records again around the fitted eyes.
    VXL_FACE *found = nullptr;
    int32_t foundCount = 0;
    if (sidecar.count() == 0) {
        const int detected = engineDetectFaces(engine, image.image(), &found, &foundCount);
        if (detected == kEngineNoFace) {  // an empty face list: the run goes on without faces
            out << "no face found\n";
        } else if (detected != kResultOk) {
            err << "face detection failed (" << detected << ")\n";
            engineDestroy(engine);
            return 1;
        } else if (foundCount > 0) {
            const int fitted = engineFitFaces(engine, image.image(), found, foundCount);
            out << foundCount << " faces found, fitting answered " << fitted << "\n";
            if (resultIsSuccess(fitted) && moveEyesToFittedCentres(found, foundCount) > 0) {
                const int again = engineFitFaces(engine, image.image(), found, foundCount);
                out << "eyes moved to the fitted eye centres, fitting again answered " << again << "\n";
            }
        }
    }
    VXL_FACE *runFaces = foundCount > 0 ? found : sidecar.faces();
    const int32_t count = foundCount > 0 ? foundCount : sidecar.count();
    const std::vector<uint8_t> before = planeBytes(image.record());
    const BeautifyOutcome outcome = beautifyWithStatuses(engine, image.image(), runFaces, count, settings, request.flags);
    if (found)
        engineFreeFaces(engine, found, foundCount);
    engineDestroy(engine);
    const std::vector<uint8_t> after = planeBytes(image.record());
    size_t changed = 0;
    for (size_t i = 0; i < before.size(); ++i)
        changed += before[i] != after[i];

    out << "image " << image.record().width << "x" << image.record().height << " "
        << runFormatName(runFormat) << ", " << count << " faces\n";
    out << formatOutcome(outcome);
    out << "changed " << changed << " of " << before.size() << " bytes\n";
    if (!image.toQImage().save(files[1])) {
        err << "cannot write " << files[1] << "\n";
        return 2;
    }
    const bool success = outcome.result == kResultOk || outcome.result == kResultNothingToDo ||
                         outcome.result == kResultRunIncomplete;
    return success ? 0 : 1;
}
