// One beautify call as the command makes it: settings from a feature mask, a strength and
// per-cell overrides; the call itself with the seventeen stage statuses; their report.
#pragma once

#include <QString>
#include <QStringList>

#include "facesdk/engine/engine.h"
#include "facesdk/engine/params.h"

// What the command line asks for.
struct BeautifyRequest {
    FeatureMask mask = kAllFeatures;  // features to run
    int32_t strength = 50;            // strength of every feature in the mask, 1..255
    QStringList cells;                // "name=value" overrides of BeautySettings cells
    uint32_t flags = 3;               // parameter block flags: 1 run without faces, 2 keep small
};

// The settings of a request: every feature of the mask at the strength, the colours, modes and
// levels of the engine's suggested settings (levels the suggestion leaves at 0 are 1), then the
// overrides. A cell is named as in BeautySettings (e.g. "skinToneMode"); colour cells also take
// "#rrggbb". False with a message for an unknown cell or a value that is not a number.
bool buildSettings(const BeautifyRequest &request, BeautySettings *settings, QString *error);

// The names of the BeautySettings cells the overrides accept.
QStringList settingCellNames();

struct BeautifyOutcome {
    int result = 0;                      // the run's answer, or the argument check's
    bool ran = false;                    // the run was reached and statuses are filled
    int32_t statuses[kFeatureCount] = {};  // status of bit 1 << k at index k
};

// The engine's beautify operation (interface slot 6) with the parameter block's flags given and
// the run's feature statuses kept: the same argument checks, face conversion and parameter
// check, then the run.
BeautifyOutcome beautifyWithStatuses(BeautyEngine *engine, EngineImage *image, VXL_FACE *faces,
                                     int32_t count, const BeautySettings &settings,
                                     uint32_t flags);

// "result N" and one line per feature: bit, stage and status.
QString formatOutcome(const BeautifyOutcome &outcome);
