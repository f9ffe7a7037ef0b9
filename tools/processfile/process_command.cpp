// The processfile command: arguments, the preset's stack, the platform's ProcessFile, and a reason
// for every failure.
#include "tools/processfile/process_command.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <string>

#include "editing/model/preset_file.h"
#include "editing/model/preset_group.h"
#include "manager/app/environment.h"
#include "sys/dynlib/dynlib.h"
#include "vizoruv/adjust/correction_stack.h"
#include "vizoruv/io/image_decoder.h"
#include "vizoruv/io/image_geometry.h"
#include "vizoruv/io/output_settings.h"
#include "vizoruv/io/raw_engine.h"
#include "vizoruv/platform/engine_session.h"
#include "vizoruv/platform/file_processing.h"
#include "vizoruv/platform/ivxl_platform.h"

namespace {

constexpr char kUsage[] = "usage: processfile [--preset FILE] [--mode N] IN OUT\n";
constexpr char kSoftware[] = "Solvane processfile";
constexpr int kLastProfileMode = 5;
constexpr int kKeepSourceDepth = -1;  // TIFF and PNG outputs keep the input's bits per channel
constexpr char kPhotoIdentity[] = "Solvane Photo 2";
constexpr char kOtherIdentity[] = "processfile";

// Correction blocks of one stack, owned here: the preset's, or blocks that change nothing.
class OwnedStack {
public:
    explicit OwnedStack(int layers) : m_params(layers) {}
    ~OwnedStack() { m_params.releaseArrays(); }
    OwnedStack(const OwnedStack&) = delete;
    OwnedStack& operator=(const OwnedStack&) = delete;

    QVXLParams& params() { return m_params; }
    CorrectionStack stack() const
    {
        return CorrectionStack{m_params.count, m_params.blocks, m_params.masks, m_params.transform, nullptr, 0};
    }

private:
    QVXLParams m_params;
};

// Every block off: the picture is written as it is.
void clearCorrections(QVXLParams* params)
{
    for (int i = 0; i < params->count; ++i) {
        params->blocks[i] = VXLParams{};
        params->blocks[i].version = AppEnvironment::currentPresetVersion();
    }
}

// The defaults a preset starts from follow the application identity, and the identity decides the
// root element a preset file has: take the identity the file was written for.
bool adoptIdentityOfPresetFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    QXmlStreamReader reader(&file);
    if (!reader.readNextStartElement()) {
        *error = path + QStringLiteral(": not an XML file (") + reader.errorString() + QStringLiteral(")");
        return false;
    }
    const bool photo = reader.name() == QLatin1String("solvaneProfiles");
    AppEnvironment::setAppIdentity(QString::fromLatin1(photo ? kPhotoIdentity : kOtherIdentity));
    return true;
}

// The file's first preset: the loose presets first, then the groups' in file order.
bool readPresetStack(const QString& path, QVXLParams* params, QString* error)
{
    if (!adoptIdentityOfPresetFile(path, error))
        return false;
    PresetFileContents contents = readPresetFile(path, false, false, false);
    SharedPreset first = contents.presets.value(0);
    for (int i = 0; !first && i < contents.groups.size(); ++i)
        first = contents.groups[i]->presets().value(0);
    if (first)
        params->assignFrom(*first->qvxlParams());
    else
        *error = contents.errorString.isEmpty() ? path + QStringLiteral(": holds no preset") : contents.errorString;
    contents.discard();
    return bool(first);
}

// Why ProcessFile failed: the input when it cannot be read or decoded, else the output.
QString failureReason(const QString& input, const QString& output, int answer, bool rawModuleLoaded)
{
    if (answer == kAnalysisBadFormat)
        return input + QStringLiteral(": the correction engine does not take the picture's pixel format");
    if (answer == kAnalysisTooSmall)
        return input + QStringLiteral(": the correction engine finds the picture too small");
    const std::string in = QFile::encodeName(input).toStdString();
    if (!QFileInfo(input).isFile())
        return input + QStringLiteral(": no such file");
    if (isRawCandidate(in)) {
        return rawModuleLoaded ? input + QStringLiteral(": neither LibRaw nor the picture decoders can read it")
                               : input + QStringLiteral(": not a picture file, and LibRaw could not be loaded");
    }
    std::string reason;
    DecodedImage decoded;
    DecodeRequest probe;
    probe.fullSize8 = false;
    if (decodeImageFile(in, probe, &decoded, &reason) != 0)
        return QString::fromStdString(reason);
    const QFileInfo out(output);
    if (outputTypeOfPath(QFile::encodeName(output).toStdString()) == "image/photoshop")
        return output + QStringLiteral(": no installed encoder writes PSD files");
    if (!out.absoluteDir().exists())
        return output + QStringLiteral(": the folder does not exist");
    return output + QStringLiteral(": could not be written");
}

struct PlatformHandle {
    IVXLPlatform* platform = nullptr;
    ~PlatformHandle()
    {
        if (platform)
            platform->Release();
    }
};

} // namespace

int runProcessFileCommand(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Opens IN, applies the first preset of FILE (or no correction) and writes OUT in the format of its "
        "extension (.jpg, .png, .tif, .bmp; any other is JPEG) with IN's metadata, turned upright."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("IN"), QStringLiteral("picture or RAW file"));
    parser.addPositionalArgument(QStringLiteral("OUT"), QStringLiteral("file to write"));
    const QCommandLineOption preset(QStringLiteral("preset"), QStringLiteral("preset file whose first preset applies"),
                                    QStringLiteral("FILE"));
    const QCommandLineOption mode(QStringLiteral("mode"),
                                  QStringLiteral("colour-profile mode of OUT: 0 sRGB, 1 ProPhoto RGB, 2 Adobe RGB, "
                                                 "3 to 5 IN's own profile, else as 0 to 2 (default 0)"),
                                  QStringLiteral("N"), QStringLiteral("0"));
    parser.addOptions({preset, mode});
    if (!parser.parse(QStringList{QStringLiteral("processfile")} + arguments)) {
        err << parser.errorText() << "\n" << kUsage;
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        out << parser.helpText();
        return 0;
    }
    const QStringList files = parser.positionalArguments();
    bool modeIsNumber = false;
    const int profileMode = parser.value(mode).toInt(&modeIsNumber);
    if (files.size() != 2 || !modeIsNumber || profileMode < 0 || profileMode > kLastProfileMode) {
        err << kUsage;
        return 2;
    }
    const QString input = files[0], output = files[1];

    OwnedStack stack(Preset::kLayers);
    clearCorrections(&stack.params());
    if (parser.isSet(preset)) {
        QString error;
        if (!readPresetStack(parser.value(preset), &stack.params(), &error)) {
            err << error << "\n";
            return 1;
        }
    }

    PlatformHandle handle;
    handle.platform = VxlPlatformCreate("processfile", PROCESSFILE_MODULES_DIR, PROCESSFILE_MODULES_DIR,
                                        PROCESSFILE_MODULES_DIR, 0, 0, 0);
    if (!handle.platform) {
        err << "the imaging platform could not be created\n";
        return 1;
    }
    // LibRaw stays loaded to the end of the process: its worker threads outlive its calls.
    static void* const libraw = sysDynlibOpen(PROCESSFILE_LIBRAW_MODULE);
    setRawEngineLogSink([](const char*) {});  // the RAW engine's trace is no message for the user

    OutputSettings settings{};
    settings.profileMode = profileMode;
    settings.bitDepth = kKeepSourceDepth;
    const CorrectionStack correction = stack.stack();
    const QByteArray in = QFile::encodeName(input), outPath = QFile::encodeName(output);
    const int answer = handle.platform->ProcessFile(in.constData(), outPath.constData(), &correction, nullptr,
                                                    &settings, nullptr, 1, kSoftware, nullptr, nullptr, nullptr,
                                                    nullptr, nullptr, libraw, nullptr, nullptr, nullptr);
    if (answer != 0) {
        err << failureReason(input, output, answer, libraw != nullptr) << "\n";
        return 1;
    }
    return 0;
}
