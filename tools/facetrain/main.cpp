// facetrain: trains the face detector's cascade models from the face sources (tools/facedata)
// on the detector's own evaluators and writes them as a C++ source of tables.
//
//   facetrain [--data DIR] [--out FILE] [--seed N] [--threads N] [--models NAME,...]
//             [--positives N] [--negatives N] [--spending P] [--quick]
//
// --spending P: after t of the n classifiers of a cascade, (t / n)^P of its miss budget may be
// spent (default 0.3: most of it on the first classifiers, which reject early).
// --quick trains the eye model alone from a few hundred windows of the face library's examples
// (fetch.sh DIR libdlib19.1 is enough): a small table that a test reproduces from its seed.
#include "tools/facetrain/families.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: facetrain [--data DIR] [--out FILE] [--seed N] [--threads N] [--models NAME,...]\n"
                         "                 [--positives N] [--negatives N] [--spending P] [--quick]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    std::string data = facedata::defaultDataRoot(), out = "model_data.cpp", only;
    facetrain::TrainOptions options;
    std::string command = "facetrain";
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
        const char *v = nullptr;
        if (arg == "--data" && (v = value()))
            data = v;
        else if (arg == "--out" && (v = value()))
            out = v;
        else if (arg == "--seed" && (v = value()))
            options.seed = std::strtoull(v, nullptr, 10);
        else if (arg == "--threads" && (v = value()))
            options.threads = std::max(1, std::atoi(v));
        else if (arg == "--models" && (v = value()))
            only = v;
        else if (arg == "--positives" && (v = value()))
            options.positives = std::strtoull(v, nullptr, 10);
        else if (arg == "--negatives" && (v = value()))
            options.negatives = std::strtoull(v, nullptr, 10);
        else if (arg == "--spending" && (v = value()))
            options.spending = std::strtod(v, nullptr);
        else if (arg == "--quick")
            quick = true;
        else
            return usage();
        if (arg != "--data" && arg != "--out")
            command += " " + arg + (v ? std::string(" ") + v : std::string());
    }
    if (quick) {
        only = "eye";
        options.positives = 400;
        options.negatives = 400;
    }
    options.validation = options.positives / 4;
    options.log = [](const std::string &line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };
    const auto start = std::chrono::steady_clock::now();
    facedata::FaceSources sources;
    facedata::FaceBank bank;
    std::string error;
    const bool loaded = quick ? facedata::loadAnnotatedSources(data, &sources, &error)
                              : facedata::loadFaceSources(data, &sources, &error);
    if (!loaded || !facedata::loadFaceBank(sources, &bank, &error)) {
        std::fprintf(stderr, "facetrain: %s\n", error.c_str());
        return 1;
    }
    std::printf("face bank: %zu faces, %zu shapes, %zu negative photographs\n", bank.faces.size(), bank.shapes.size(),
                bank.backgrounds.size());
    std::vector<facetrain::ModelResult> results;
    for (const facetrain::ModelPlan &plan : facetrain::modelPlans()) {
        if (!only.empty() && ("," + only + ",").find(std::string(",") + plan.name + ",") == std::string::npos)
            continue;
        for (auto &r : facetrain::trainPlan(plan, bank, options))
            results.push_back(std::move(r));
        /* written after every model, so a long run leaves what it has */
        if (!facetrain::writeModelSource(out, results, command, &error)) {
            std::fprintf(stderr, "facetrain: %s\n", error.c_str());
            return 1;
        }
        const double minutes = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / 60;
        if (!quick)
            std::printf("%s done after %.1f minutes\n", plan.name, minutes);
    }
    std::printf("wrote %s\n", out.c_str());
    return 0;
}
