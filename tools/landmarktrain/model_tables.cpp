/*
 * The landmark fitter's model tables while they are trained.
 *
 * Divisions: tables; the walk over every table; part records; the generated source.
 */
#include "tools/landmarktrain/model_tables.h"

#include <cinttypes>
#include <cstdio>
#include <functional>
#include <sstream>

namespace landmarktrain {

/* ---- tables ---- */

ShapeModel ShapeTable::model() const
{
    return {uint32_t(points()), uint32_t(modeCount()), mean.data(), modes.data()};
}

ExpertTable::ExpertTable(int points)
    : kinds(size_t(points), 1), searcherFlags(size_t(points), 1), activeFlags(size_t(points), 1),
      regressionRecords(size_t(points) * 2 * kPatchFeatures, 0)
{
}

PointExperts ExpertTable::experts() const
{
    return {kinds.data(), searcherFlags.data(), activeFlags.data(), searchRecords.data(), searchWindows.data(),
            regressionRecords.data()};
}

namespace {

constexpr int kTrackFeatures = kTrackingPoints * kPatchFeatures;

/* The feature-subset regressors' points: the first moves the brows, eyes, nose and mouth
 * corners, the second the rest of the mouth and the outline; later passes the brows and eyes
 * and then the outline. Each reads the features of the points it moves. */
const std::vector<int32_t> kSubsetPoints[4] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 22},
    {19, 20, 21, 23, 24, 25, 26, 27, 28, 30, 32, 34, 36},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
    {28, 29, 30, 31, 32, 33, 34, 35},
};
const int32_t kSubsetDivisors[4] = {16, 256, 16, 16};

}  // namespace

TrainedTables::TrainedTables()
{
    meanShape.assign(2 * kLandmarkPoints, 0);
    deformationA.assign(2 * kLandmarkPoints, 0);
    deformationB.assign(2 * kLandmarkPoints, 0);
    for (auto &r : reference)
        r.assign(2 * kLandmarkPoints, 0);
    coefficientLimits.assign(kCoarseShapeModes, 1 << 30);
    incrementLimits.assign(kAppearanceModes, 1 << 30);
    appearance.assign(size_t(1 + kAppearanceModes) * kCoarseFeatures, 0);
    incrementRegressor.assign(size_t(kAppearanceModes) * kCoarseFeatures, 0);
    for (int r = 0; r < 4; ++r) {
        SubsetTable &s = subsets[r];
        s.points = kSubsetPoints[r];
        for (int32_t p : s.points)
            for (int f = 0; f < kPatchFeatures; ++f)
                s.features.push_back(p * kPatchFeatures + f);
        s.weights.assign(s.features.size() * s.points.size() * 2, 0);
        s.divisor = kSubsetDivisors[r];
    }
    shapeLimits2.assign(24, 1 << 30);
    shapeLimits3.assign(36, 1 << 30);
    for (auto &w : trackWeights)
        w.assign(size_t(kTrackingPoints) * 2 * kTrackFeatures, 0);
    for (auto &b : trackBiases)
        b.assign(size_t(kTrackingPoints) * 2, 0);
    scoreWeights.assign(kTrackFeatures, 0);
    PointDetector neutral{};
    neutral.window[0] = neutral.window[1] = 2;
    neutral.window[2] = neutral.window[3] = 5;
    for (auto &d : detectors)
        d.assign(kEyeListPoints + kMouthListPoints, neutral);
}

/* ---- the walk over every table ---- */

namespace {

/* Calls the visitor for every table and constant of the four parts, in the parts' order: the
 * name of its field, the name of its array in the generated source, the data, and how to set
 * the field. Both the part records over the trainer's tables and the generated source come
 * from this one walk. */
template <typename Visitor>
void walk(const TrainedTables &t, Visitor &v)
{
    using P = TrainedParts;
    v.array(1, "meanShape", "kMeanShape", t.meanShape, [](P &p, const int32_t *a) { p.part1.meanShape = a; });
    v.array(1, "deformationA", "kDeformationA", t.deformationA, [](P &p, const int32_t *a) { p.part1.deformationA = a; });
    v.array(1, "deformationB", "kDeformationB", t.deformationB, [](P &p, const int32_t *a) { p.part1.deformationB = a; });
    v.scalar(1, "eyeDistance", 4728, [](P &p, int64_t x) { p.part1.eyeDistance = int32_t(x); });
    v.scalar(1, "eyeMouthDistance", 5197, [](P &p, int64_t x) { p.part1.eyeMouthDistance = int32_t(x); });
    v.array(1, "referenceShape", "kReference1", t.reference[1], [](P &p, const int32_t *a) { p.part1.referenceShape = a; });
    v.shape(1, "coarseShape", "kCoarseShape", t.coarse, [](P &p, ShapeModel m) { p.part1.coarseShape = m; });
    v.scalar(1, "referenceCentre[0]", t.coarseCentre[0], [](P &p, int64_t x) { p.part1.referenceCentre[0] = int32_t(x); });
    v.scalar(1, "referenceCentre[1]", t.coarseCentre[1], [](P &p, int64_t x) { p.part1.referenceCentre[1] = int32_t(x); });
    v.array(1, "coefficientLimits", "kCoefficientLimits", t.coefficientLimits, [](P &p, const int32_t *a) { p.part1.coefficientLimits = a; });
    v.array(1, "incrementLimits", "kIncrementLimits", t.incrementLimits, [](P &p, const int32_t *a) { p.part1.incrementLimits = a; });
    v.array(1, "appearance", "kAppearance", t.appearance, [](P &p, const int32_t *a) { p.part1.appearance = a; });
    v.array(1, "incrementRegressor", "kIncrementRegressor", t.incrementRegressor, [](P &p, const int32_t *a) { p.part1.incrementRegressor = a; });
    v.experts(1, "experts", "kCoarseExperts", t.coarseExperts, [](P &p, PointExperts e) { p.part1.experts = e; });
    v.shape(1, "group1", "kGroup1", t.group1, [](P &p, ShapeModel m) { p.part1.group1 = m; });
    v.shape(1, "group2", "kGroup2", t.group2, [](P &p, ShapeModel m) { p.part1.group2 = m; });
    for (int r = 0; r < 4; ++r)
        v.subset(1, r, t.subsets[r], [r](P &p, SubsetRegressor s) { p.part1.subsets[r] = s; });

    v.shape(2, "shape", "kShape2", t.shape2, [](P &p, ShapeModel m) { p.part2.shape = m; });
    v.array(2, "shapeLimits", "kShapeLimits2", t.shapeLimits2, [](P &p, const int32_t *a) { p.part2.shapeLimits = a; });
    v.shape(2, "eyes", "kEyes2", t.eyes2, [](P &p, ShapeModel m) { p.part2.eyes = m; });
    v.shape(2, "mouth", "kMouth2", t.mouth2, [](P &p, ShapeModel m) { p.part2.mouth = m; });
    v.experts(2, "experts", "kExperts2", t.experts2, [](P &p, PointExperts e) { p.part2.experts = e; });
    v.array(2, "referenceShape", "kReference2", t.reference[2], [](P &p, const int32_t *a) { p.part2.referenceShape = a; });
    for (int s = 0; s < 2; ++s) {
        const std::string n = std::to_string(s);
        v.array(2, "trackWeights[" + n + "]", "kTrackWeights" + n, t.trackWeights[s],
                [s](P &p, const int16_t *a) { p.part2.trackWeights[s] = a; });
        v.array(2, "trackBiases[" + n + "]", "kTrackBiases" + n, t.trackBiases[s],
                [s](P &p, const int16_t *a) { p.part2.trackBiases[s] = a; });
    }
    v.array(2, "scoreWeights", "kScoreWeights", t.scoreWeights, [](P &p, const int16_t *a) { p.part2.scoreWeights = a; });
    v.scalar(2, "scoreBias", t.scoreBias, [](P &p, int64_t x) { p.part2.scoreBias = int32_t(x); });
    v.refinement(2, 0, t.detectors[0], [](P &p) { p.part2.refinement = &p.refinement[0]; });

    v.shape(3, "shape", "kShape3", t.shape3, [](P &p, ShapeModel m) { p.part3.shape = m; });
    v.array(3, "shapeLimits", "kShapeLimits3", t.shapeLimits3, [](P &p, const int32_t *a) { p.part3.shapeLimits = a; });
    v.shape(3, "eyes", "kEyes3", t.eyes3, [](P &p, ShapeModel m) { p.part3.eyes = m; });
    v.shape(3, "mouth", "kMouth3", t.mouth3, [](P &p, ShapeModel m) { p.part3.mouth = m; });
    v.shape(3, "nose", "kNose3", t.nose3, [](P &p, ShapeModel m) { p.part3.nose = m; });
    v.experts(3, "experts", "kExperts3", t.experts3, [](P &p, PointExperts e) { p.part3.experts = e; });
    v.array(3, "referenceShape", "kReference3", t.reference[3], [](P &p, const int32_t *a) { p.part3.referenceShape = a; });
    v.refinement(3, 1, t.detectors[1], [](P &p) { p.part3.refinement = &p.refinement[1]; });

    v.shape(4, "eyes", "kEyes4", t.eyes4, [](P &p, ShapeModel m) { p.part4.eyes = m; });
    v.shape(4, "mouth", "kMouth4", t.mouth4, [](P &p, ShapeModel m) { p.part4.mouth = m; });
    v.experts(4, "experts", "kExperts4", t.experts4, [](P &p, PointExperts e) { p.part4.experts = e; });
    v.array(4, "referenceShape", "kReference4", t.reference[4], [](P &p, const int32_t *a) { p.part4.referenceShape = a; });
    v.refinement(4, 2, t.detectors[2], [](P &p) { p.part4.refinement = &p.refinement[2]; });
}

/* ---- part records ---- */

struct PartFiller {
    const TrainedTables &tables;
    TrainedParts &parts;
    template <typename T, typename Set>
    void array(int, const std::string &, const std::string &, const std::vector<T> &data, Set set)
    {
        set(parts, data.data());
    }
    template <typename Set>
    void scalar(int, const std::string &, int64_t value, Set set)
    {
        set(parts, value);
    }
    template <typename Set>
    void shape(int, const std::string &, const std::string &, const ShapeTable &table, Set set)
    {
        set(parts, table.model());
    }
    template <typename Set>
    void experts(int, const std::string &, const std::string &, const ExpertTable &table, Set set)
    {
        set(parts, table.experts());
    }
    template <typename Set>
    void subset(int, int, const SubsetTable &s, Set set)
    {
        set(parts, SubsetRegressor{uint32_t(s.points.size()), uint32_t(s.features.size()), s.points.data(),
                                   s.features.data(), s.weights.data(), s.divisor});
    }
    template <typename Set>
    void refinement(int, int index, const std::vector<PointDetector> &detectors, Set set)
    {
        parts.refinement[index] = {detectors.data(), detectors.data() + kEyeListPoints};
        set(parts);
    }
};

}  // namespace

LandmarkModels TrainedParts::models(int level) const
{
    return {&part1, level >= 2 ? &part2 : nullptr, level >= 3 ? &part3 : nullptr, level >= 4 ? &part4 : nullptr};
}

void fillParts(const TrainedTables &tables, TrainedParts *parts)
{
    *parts = TrainedParts{};
    PartFiller filler{tables, *parts};
    walk(tables, filler);
}

/* ---- the generated source ---- */

namespace {

const char *typeName(int32_t) { return "int32_t"; }
const char *typeName(int16_t) { return "int16_t"; }
const char *typeName(uint8_t) { return "uint8_t"; }
const char *typeName(int64_t) { return "int64_t"; }

template <typename T>
void writeValues(std::ostringstream &out, const std::vector<T> &values)
{
    int column = 0;
    for (size_t i = 0; i < values.size(); ++i) {
        const std::string text = std::to_string(int64_t(values[i])) + (sizeof(T) == 8 ? "ll" : "") + ",";
        if (column + int(text.size()) > 100) {
            out << "\n";
            column = 0;
        }
        out << text;
        column += int(text.size());
    }
}

struct SourceWriter {
    std::ostringstream arrays;
    std::ostringstream fills[5];

    template <typename T>
    std::string emit(const std::string &given, const std::vector<T> &data)
    {
        if (data.empty())
            return "nullptr";
        /* kName -> kTrainedName: clear of the layout constants of landmark_models.h */
        const std::string name = "kTrained" + given.substr(1);
        arrays << "const " << typeName(T{}) << " " << name << "[" << data.size() << "] = {\n";
        writeValues(arrays, data);
        arrays << "\n};\n\n";
        return name;
    }
    template <typename T, typename Set>
    void array(int part, const std::string &field, const std::string &name, const std::vector<T> &data, Set)
    {
        fills[part] << "    part->" << field << " = " << emit(name, data) << ";\n";
    }
    template <typename Set>
    void scalar(int part, const std::string &field, int64_t value, Set)
    {
        fills[part] << "    part->" << field << " = " << value << ";\n";
    }
    template <typename Set>
    void shape(int part, const std::string &field, const std::string &name, const ShapeTable &table, Set)
    {
        fills[part] << "    part->" << field << " = {" << table.points() << ", " << table.modeCount() << ", "
                    << emit(name + "Mean", table.mean) << ", " << emit(name + "Modes", table.modes) << "};\n";
    }
    template <typename Set>
    void experts(int part, const std::string &field, const std::string &name, const ExpertTable &t, Set)
    {
        fills[part] << "    part->" << field << " = {" << emit(name + "Kinds", t.kinds) << ", "
                    << emit(name + "Searchers", t.searcherFlags) << ", " << emit(name + "Active", t.activeFlags) << ", "
                    << emit(name + "SearchRecords", t.searchRecords) << ", " << emit(name + "SearchWindows", t.searchWindows)
                    << ", " << emit(name + "RegressionRecords", t.regressionRecords) << "};\n";
    }
    template <typename Set>
    void subset(int part, int index, const SubsetTable &s, Set)
    {
        const std::string name = "kSubset" + std::to_string(index);
        fills[part] << "    part->subsets[" << index << "] = {" << s.points.size() << ", " << s.features.size() << ", "
                    << emit(name + "Points", s.points) << ", " << emit(name + "Features", s.features) << ", "
                    << emit(name + "Weights", s.weights) << ", " << s.divisor << "};\n";
    }
    template <typename Set>
    void refinement(int part, int index, const std::vector<PointDetector> &detectors, Set)
    {
        static const int kSizes[3] = {128, 192, 320};
        const std::string name = "kTrainedDetectors" + std::to_string(kSizes[index]);
        arrays << "/* " << kSizes[index] << "-pixel crop: the eye list, then the mouth list. Each detector: its 35\n"
               << " * weak learners {x, y, width, height, type, {}, threshold, vote}, bias, window. */\n";
        arrays << "const PointDetector " << name << "[" << detectors.size() << "] = {\n";
        for (const PointDetector &d : detectors) {
            arrays << "{{";
            for (const WeakLearner &l : d.learners)
                arrays << "{" << l.x << "," << l.y << "," << l.width << "," << l.height << "," << int(l.type) << ",{},"
                       << l.threshold << "," << l.vote << "},";
            arrays << "},\n " << d.bias << ", {" << d.window[0] << "," << d.window[1] << "," << d.window[2] << ","
                   << d.window[3] << "}},\n";
        }
        arrays << "};\n\n";
        refinements << "    {" << name << ", " << name << " + " << kEyeListPoints << "},\n";
        fills[part] << "    part->refinement = &kRefinement[" << index << "];\n";
    }
    std::ostringstream refinements;
};

}  // namespace

bool writeTablesSource(const TrainedTables &tables, const std::string &path, const std::string &command,
                       std::string *error)
{
    SourceWriter writer;
    walk(tables, writer);
    std::ostringstream out;
    out << "/*\n * The landmark fitter's model tables, generated by tools/landmarktrain from the annotated faces\n"
        << " * of tools/facedata and faces made from them. Do not edit; make them again from the face\n"
        << " * sources that tools/facedata/fetch.sh fetches with\n *\n *   "
        << command << "\n *\n * Layouts: facesdk/detect/landmark_models.h.\n */\n"
        << "#include \"facesdk/detect/landmark_tables.h\"\n\nnamespace {\n\n"
        << writer.arrays.str() << "const RefinementTables kRefinement[3] = {\n"
        << writer.refinements.str() << "};\n\n}  // namespace\n";
    for (int part = 1; part <= 4; ++part)
        out << "\nvoid fillLandmarkPart" << part << "(ModelPart" << part << " *part)\n{\n" << writer.fills[part].str() << "}\n";
    out << "\nconst RefinementTables *landmarkRefinement(int index)\n{\n    return &kRefinement[index];\n}\n";
    FILE *file = std::fopen(path.c_str(), "w");
    if (!file) {
        *error = "cannot write " + path;
        return false;
    }
    const std::string text = out.str();
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace landmarktrain

namespace landmarktrain {

bool writeQuickTables(const TrainedTables &t, const std::string &path, const std::string &command, std::string *error)
{
    std::ostringstream out;
    out << "# landmark tables of the trainer's quick mode, made by\n#   " << command << "\n";
    auto list = [&](const char *name, const auto &values) {
        out << name << " " << values.size() << "\n";
        std::vector<int64_t> wide(values.begin(), values.end());
        writeValues(out, wide);
        out << "\n";
    };
    list("meanShape", t.meanShape);
    for (int type = 1; type <= 4; ++type)
        list(("reference" + std::to_string(type)).c_str(), t.reference[type]);
    list("eyes4.mean", t.eyes4.mean);
    list("eyes4.modes", t.eyes4.modes);
    list("mouth4.mean", t.mouth4.mean);
    list("mouth4.modes", t.mouth4.modes);
    list("experts4.regressionRecords", t.experts4.regressionRecords);
    std::vector<int64_t> detectors;
    for (const PointDetector &d : t.detectors[2]) {
        for (const WeakLearner &l : d.learners)
            detectors.insert(detectors.end(), {l.x, l.y, l.width, l.height, l.type, l.threshold, l.vote});
        detectors.insert(detectors.end(), {d.bias, d.window[0], d.window[1], d.window[2], d.window[3]});
    }
    list("detectors320", detectors);
    FILE *file = std::fopen(path.c_str(), "w");
    const std::string text = out.str();
    if (!file || std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
        if (file)
            std::fclose(file);
        *error = "cannot write " + path;
        return false;
    }
    if (std::fclose(file) != 0) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace landmarktrain
