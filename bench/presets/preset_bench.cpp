// First use of a preset library. The host lists a library by names only; each preset's stack is
// loaded the first time it is used. Using all 200 presets of one file costs at least one full
// reading of that file (the floor, measured on the same file in the same run); the ratio of the two
// is printed at the end.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QSaveFile>
#include <QTemporaryDir>

#include <cstdio>
#include <map>
#include <string>

#include "editing/model/preset.h"
#include "editing/model/preset_file.h"
#include "editing/model/preset_group.h"
#include "manager/app/environment.h"

namespace {

constexpr int kPresets = 200;

// A file of one group of kPresets presets with every setting written, as a shipped library holds
// them, each carrying the selective-colour and black-and-white indices that libraries store.
QString libraryFile()
{
    static QTemporaryDir folder;
    static const QString path = [] {
        const QString file = folder.filePath(QStringLiteral("Library.preset"));
        auto* group = new PresetGroup(QStringLiteral("Library"));
        for (int i = 0; i < kPresets; ++i) {
            const SharedPreset preset = makeSharedPreset();
            preset->names.insert(QStringLiteral("en"), QStringLiteral("Look %1").arg(i));
            preset->uid = i + 1;
            preset->layerParams(0).strength = i % 100;
            preset->layerParams(1).iFinishExposure = i % 50;
            group->appendPreset(preset);
        }
        QString error;
        if (!writePresetFile(file, {group}, {}, &error))
            qFatal("cannot write the library: %s", qPrintable(error));
        delete group;
        QFile written(file);
        written.open(QIODevice::ReadOnly);
        QByteArray text = written.readAll();
        text.replace("<correction>",
                     "<correction><iSelectiveColorIndex>2</iSelectiveColorIndex><iBlackWhiteIndex>1</iBlackWhiteIndex>");
        QSaveFile rewritten(file);
        rewritten.open(QIODevice::WriteOnly);
        rewritten.write(text);
        rewritten.commit();
        return file;
    }();
    return path;
}

// The floor: one full reading of the library's file.
void bareFullReading(benchmark::State& state)
{
    const QString path = libraryFile();
    for (auto _ : state) {
        PresetFileContents read = readPresetFile(path, false, false, true);
        benchmark::DoNotOptimize(read.groups.size());
        read.discard();
    }
}
BENCHMARK(bareFullReading)->Unit(benchmark::kMillisecond)->UseRealTime();

// Every preset of a names-only listing used once (the listing itself is not timed).
void firstUseOfEveryPreset(benchmark::State& state)
{
    const QString path = libraryFile();
    for (auto _ : state) {
        state.PauseTiming();
        PresetFileContents listed = readPresetFile(path, true, false, false);
        if (listed.groups.size() != 1 || listed.groups[0]->presets().size() != kPresets) {
            state.SkipWithError("the library did not list its presets");
            break;
        }
        state.ResumeTiming();
        for (const SharedPreset& preset : listed.groups[0]->presets())
            benchmark::DoNotOptimize(preset->layerParams(0).strength);
        state.PauseTiming();
        listed.discard();
        state.ResumeTiming();
    }
}
BENCHMARK(firstUseOfEveryPreset)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps the real time of every benchmark for the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                seconds[run.run_name.function_name] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
};

} // namespace

int main(int argc, char** argv)
{
    // Settings and the preset folder of a scratch home: reading presets writes settings.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
    QCoreApplication application(argc, argv);
    AppEnvironment::setApplicationNames(QStringLiteral("Solvane Vizoruv Labs"), QStringLiteral("Preset Bench"),
                                        QStringLiteral("1.0"));
    AppEnvironment::setLanguage(QStringLiteral("en"));
    registerPresetMetaTypes();

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto floor = reporter.seconds.find("bareFullReading");
    const auto measured = reporter.seconds.find("firstUseOfEveryPreset");
    if (floor != reporter.seconds.end() && measured != reporter.seconds.end() && floor->second > 0)
        std::printf("first use of %d presets / one full reading of their file: %.2f\n", kPresets,
                    measured->second / floor->second);
    benchmark::Shutdown();
    return 0;
}
