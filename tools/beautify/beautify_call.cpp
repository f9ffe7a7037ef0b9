// Settings, the beautify call with statuses, and its report.
#include "tools/beautify/beautify_call.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/suggested_settings.h"

namespace {

struct Cell {
    const char *name;
    size_t offset;      // into BeautySettings
    bool colour;        // three low bytes, R first
    uint32_t strengthOf;  // the feature whose strength the cell holds, or 0
};

#define STRENGTH(field, bit) {#field, offsetof(BeautySettings, field), false, bit}
#define ARGUMENT(field) {#field, offsetof(BeautySettings, field), false, 0}
#define COLOUR(field) {#field, offsetof(BeautySettings, field), true, 0}
const Cell kCells[] = {
    STRENGTH(smoothingStrength, kFeatureSmoothing), ARGUMENT(smoothingRegionMode),
    ARGUMENT(smoothingLevel),
    STRENGTH(eyeToneStrength, kFeatureEyeTone),
    STRENGTH(teethStrength, kFeatureTeethWhitening),
    STRENGTH(skinToneStrength, kFeatureSkinTone), ARGUMENT(skinToneVariant), ARGUMENT(skinToneMode),
    COLOUR(skinToneColour),
    STRENGTH(eyeEnlargementStrength, kFeatureEyeEnlargement),
    STRENGTH(shineStrength, kFeatureShineReduction),
    STRENGTH(warpStrength, kFeatureFaceWarp),
    STRENGTH(overlayStrength, kFeatureTemplateOverlay), ARGUMENT(overlayTemplate),
    STRENGTH(cheekStrength, kFeatureCheekColour), COLOUR(cheekColour),
    STRENGTH(eyePairsStrength, kFeatureEyeTemplatePairs), ARGUMENT(eyePairsLevel1),
    ARGUMENT(eyePairsLevel2),
    STRENGTH(eyeLayersStrength, kFeatureEyeColourLayers), ARGUMENT(eyeLayersStyle),
    STRENGTH(contourFillStrength, kFeatureContourFillTint), COLOUR(contourFillColour),
    STRENGTH(eyeDarkStrength, kFeatureEyeDarkTemplate), ARGUMENT(eyeDarkLevel),
    STRENGTH(contourStrokeStrength, kFeatureContourStrokeTint), COLOUR(contourStrokeColour),
    STRENGTH(contourContrastStrength, kFeatureContourContrast), ARGUMENT(contourContrastLevel),
    STRENGTH(underEyeStrength, kFeatureUnderEyeBrighten),
    STRENGTH(softeningStrength, kFeatureSkinSoftening),
};
#undef STRENGTH
#undef ARGUMENT
#undef COLOUR

int32_t &cellAt(BeautySettings *settings, size_t offset)
{
    return *reinterpret_cast<int32_t *>(reinterpret_cast<char *>(settings) + offset);
}

bool parseCellValue(const QString &text, bool colour, int32_t *value)
{
    bool ok = false;
    if (colour && text.startsWith(QLatin1Char('#')) && text.size() == 7) {
        const uint rgb = text.mid(1).toUInt(&ok, 16);
        // R in the low byte, then G, then B.
        *value = int32_t(((rgb >> 16) & 0xff) | (rgb & 0xff00) | ((rgb & 0xff) << 16));
        return ok;
    }
    *value = text.toInt(&ok, 0);
    return ok;
}

}  // namespace

QStringList settingCellNames()
{
    QStringList names;
    for (const Cell &cell : kCells)
        names << QLatin1String(cell.name);
    return names;
}

bool buildSettings(const BeautifyRequest &request, BeautySettings *settings, QString *error)
{
    // Colours, modes and levels are the engine's suggestion for a face (the colour cells would
    // otherwise be 0, black); the strengths are the request's.
    BeautyParams suggestion;
    writeSuggestionDefaults(&suggestion);
    writeSuggestionStrengths(&suggestion);
    paramsToSettings(suggestion, settings);
    for (const Cell &cell : kCells)
        if (cell.strengthOf)
            cellAt(settings, cell.offset) = request.mask & cell.strengthOf ? request.strength : 0;
    // Levels the suggestion leaves at 0 with its stage off: the first one, which the parameter
    // check takes when the stage runs.
    for (int32_t *level : {&settings->eyePairsLevel1, &settings->eyePairsLevel2,
                           &settings->eyeLayersStyle, &settings->eyeDarkLevel,
                           &settings->contourContrastLevel})
        *level = std::max(*level, 1);

    for (const QString &assignment : request.cells) {
        const int equals = assignment.indexOf(QLatin1Char('='));
        const QString name = assignment.left(equals);
        const Cell *found = nullptr;
        for (const Cell &cell : kCells)
            if (name == QLatin1String(cell.name))
                found = &cell;
        if (equals < 0 || !found) {
            *error = QStringLiteral("unknown setting \"%1\"; settings are: %2")
                         .arg(assignment, settingCellNames().join(QLatin1String(", ")));
            return false;
        }
        int32_t value = 0;
        if (!parseCellValue(assignment.mid(equals + 1), found->colour, &value)) {
            *error = QStringLiteral("setting %1 needs a number%2")
                         .arg(name, found->colour ? QStringLiteral(" or #rrggbb") : QString());
            return false;
        }
        cellAt(settings, found->offset) = value;
    }
    return true;
}

BeautifyOutcome beautifyWithStatuses(BeautyEngine *engine, EngineImage *image, VXL_FACE *faces,
                                     int32_t count, const BeautySettings &settings,
                                     uint32_t flags)
{
    BeautifyOutcome outcome;
    if (!engine || !image || (count != 0 && !faces) || count < 0 ||
        count > kMaximumBeautifyFaces || uint32_t(image->width) < kMinimumImageSide ||
        uint32_t(image->height) < kMinimumImageSide) {
        outcome.result = kResultBadArgument;
        return outcome;
    }
    restorePointGroups(faces, count);
    std::vector<FaceWork> works(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i)
        toFaceWork(faces[i], &works[size_t(i)], image->width, image->height);
    BeautyParams block;
    settingsToParams(settings, &block);
    block.flags = flags;
    InnerEngine *inner = engine->inner;
    outcome.result = inner->ops->setParams(inner, &block);
    if (outcome.result != kResultOk)
        return outcome;
    FeatureStatus *status = nullptr;
    outcome.result = inner->ops->run(inner, nullptr, nullptr, image, works.empty() ? nullptr : works.data(),
                                     count, &status, nullptr, nullptr);
    if (status) {
        outcome.ran = true;
        for (int k = 0; k < kFeatureCount; ++k)
            outcome.statuses[k] = status->ops->ofFeature(status, 1u << k);
        status->ops->release(status);
    }
    return outcome;
}

QString formatOutcome(const BeautifyOutcome &outcome)
{
    QString text = QStringLiteral("result %1\n").arg(outcome.result);
    if (!outcome.ran)
        return text;
    for (int k = 0; k < kFeatureCount; ++k)
        text += QStringLiteral("0x%1 %2 %3\n")
                    .arg(1u << k, 5, 16, QLatin1Char('0'))
                    .arg(QLatin1String(kStageTable[k].stage), -24)
                    .arg(outcome.statuses[k]);
    return text;
}
