#include "MainJobCommand.h"

#include "CoverageLimit.h"
#include "JawScanSession.h"
#include "ModelPlacement.h"
#include "ModelFile.h"
#include "StlReader.h"
#include "SyntheticModels.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <fstream>
#include <string>

namespace orbal2 {

namespace {

const char* const c_topViewFile = "jaw_scan_top.svg";
const char* const c_coverageFile = "jaw_scan_coverage.svg";

// The model from above (disc x to the right, disc y up), each 0.5 mm cell coloured by its
// topmost ground-truth sample: measured, missed though some reachable view sees it, or beyond
// what the device reaches (known only when the limit is). A legend and a 10 mm scale bar.
bool writeTopView(const Sim::JawScanReport& report, const std::vector<uint8_t>* reachable, const char* path) {
    std::ofstream svg(path);
    if (!svg) return false;
    const float scale = 8.0f, half = 40.0f, cell = 0.5f;  // 80 x 80 mm around the disc centre
    const int cells = static_cast<int>(2 * half / cell);
    auto px = [&](float x) { return (x + half) * scale; };
    auto py = [&](float y) { return (half - y) * scale; };
    // Per cell: the index of the topmost sample (smallest z: z points down into the disc).
    std::vector<int> top(static_cast<size_t>(cells * cells), -1);
    for (size_t i = 0; i < report.truthSamples.size(); ++i) {
        const CbVector3f& p = report.truthSamples[i].point;
        const int cx = static_cast<int>(std::floor((p.x + half) / cell));
        const int cy = static_cast<int>(std::floor((half - p.y) / cell));
        if (cx < 0 || cy < 0 || cx >= cells || cy >= cells) continue;
        int& t = top[static_cast<size_t>(cy * cells + cx)];
        if (t < 0 || p.z < report.truthSamples[static_cast<size_t>(t)].point.z) t = static_cast<int>(i);
    }
    const char* const colours[3] = {"#2e9e4f", "#e8912c", "#9a9a9a"};  // measured, missed, beyond
    auto kind = [&](int i) {
        if (report.truthCovered[static_cast<size_t>(i)]) return 0;
        return reachable && !(*reachable)[static_cast<size_t>(i)] ? 2 : 1;
    };
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"640\" height=\"700\" viewBox=\"0 0 640 700\">\n"
        << "<rect width=\"640\" height=\"700\" fill=\"white\"/>\n"
        << "<circle cx=\"" << px(0) << "\" cy=\"" << py(0) << "\" r=\"" << 50 * scale
        << "\" fill=\"#f2f2f2\" stroke=\"#d0d0d0\"/>\n";
    // Runs of equal colour along each row keep the picture small.
    for (int cy = 0; cy < cells; ++cy)
        for (int cx = 0; cx < cells;) {
            const int t = top[static_cast<size_t>(cy * cells + cx)];
            int end = cx + 1;
            if (t >= 0)
                while (end < cells && top[static_cast<size_t>(cy * cells + end)] >= 0 &&
                       kind(top[static_cast<size_t>(cy * cells + end)]) == kind(t))
                    ++end;
            if (t >= 0)
                svg << "<rect x=\"" << cx * cell * scale << "\" y=\"" << cy * cell * scale << "\" width=\""
                    << (end - cx) * cell * scale << "\" height=\"" << cell * scale << "\" fill=\"" << colours[kind(t)]
                    << "\"/>\n";
            cx = end;
        }
    svg << "<polyline fill=\"none\" stroke=\"#3050b0\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\" points=\"";
    for (const CbVector3f& p : report.jawLine) svg << px(p.x) << ',' << py(p.y) << ' ';
    svg << "\"/>\n";
    // Legend and scale bar below the view.
    const char* const names[3] = {"measured", "missed, reachable", "beyond the device"};
    for (int k = 0; k < (reachable ? 3 : 2); ++k)
        svg << "<rect x=\"" << 20 + 170 * k << "\" y=\"655\" width=\"14\" height=\"14\" fill=\"" << colours[k]
            << "\"/><text x=\"" << 40 + 170 * k << "\" y=\"667\" font-size=\"13\">"
            << (k == 1 && !reachable ? "missed" : names[k]) << "</text>\n";
    svg << "<line x1=\"520\" y1=\"662\" x2=\"" << 520 + 10 * scale
        << "\" y2=\"662\" stroke=\"black\" stroke-width=\"3\"/><text x=\"" << 520 + 5 * scale
        << "\" y=\"684\" text-anchor=\"middle\" font-size=\"13\">10 mm</text>\n"
        << "<text x=\"20\" y=\"24\" font-size=\"14\">Top view, ground truth: " << std::fixed
        << std::setprecision(1) << 100 * report.truth << " % of the scannable surface measured</text>\n"
        << "</svg>\n";
    return static_cast<bool>(svg);
}

// Coverage after each step, the step names on the x axis: ground truth and the planning's
// estimate as two lines, the limit of the device dashed when it is known.
bool writeCoveragePlot(const Sim::JawScanReport& report, double limit, const char* path) {
    std::ofstream svg(path);
    if (!svg) return false;
    const size_t n = report.steps.size();
    auto px = [&](size_t i) { return 80.0 + (n > 1 ? 500.0 * static_cast<double>(i) / static_cast<double>(n - 1) : 0.0); };
    auto py = [](double coverage) { return 340.0 - 300.0 * coverage; };
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"640\" height=\"460\" viewBox=\"0 0 640 460\">\n"
        << "<rect width=\"640\" height=\"460\" fill=\"white\"/>\n"
        << "<line x1=\"80\" y1=\"340\" x2=\"580\" y2=\"340\" stroke=\"black\"/>\n"
        << "<line x1=\"80\" y1=\"40\" x2=\"80\" y2=\"340\" stroke=\"black\"/>\n"
        << "<text x=\"24\" y=\"190\" font-size=\"14\" transform=\"rotate(-90 24 190)\" text-anchor=\"middle\">"
           "surface coverage</text>\n";
    for (int k = 0; k <= 4; ++k)
        svg << "<text x=\"74\" y=\"" << py(k / 4.0) + 4 << "\" text-anchor=\"end\" font-size=\"11\">" << k * 25
            << "%</text><line x1=\"80\" y1=\"" << py(k / 4.0) << "\" x2=\"580\" y2=\"" << py(k / 4.0)
            << "\" stroke=\"#e4e4e4\"/>\n";
    for (size_t i = 0; i < n; ++i)
        svg << "<text x=\"" << px(i) << "\" y=\"354\" font-size=\"11\" text-anchor=\"end\" transform=\"rotate(-40 "
            << px(i) << " 354)\">" << report.steps[i].name << " (" << report.steps[i].totalImages << ")</text>\n";
    const char* const colours[2] = {"#2e9e4f", "#3070c0"};
    for (int line = 0; line < 2; ++line) {
        svg << "<polyline fill=\"none\" stroke=\"" << colours[line] << "\" stroke-width=\"2\" points=\"";
        for (size_t i = 0; i < n; ++i)
            svg << px(i) << ',' << py(line == 0 ? report.steps[i].truth : report.steps[i].coverage) << ' ';
        svg << "\"/>\n";
    }
    if (limit > 0)
        svg << "<line x1=\"80\" y1=\"" << py(limit) << "\" x2=\"580\" y2=\"" << py(limit)
            << "\" stroke=\"#c03030\" stroke-width=\"1.5\" stroke-dasharray=\"8 5\"/>\n";
    const char* const names[3] = {"ground truth", "planning's estimate", "limit of the device"};
    const char* const legend[3] = {colours[0], colours[1], "#c03030"};
    for (int k = 0; k < (limit > 0 ? 3 : 2); ++k)
        svg << "<line x1=\"" << 100 + 170 * k << "\" y1=\"20\" x2=\"" << 124 + 170 * k << "\" y2=\"20\" stroke=\""
            << legend[k] << "\" stroke-width=\"2\"" << (k == 2 ? " stroke-dasharray=\"8 5\"" : "")
            << "/><text x=\"" << 130 + 170 * k << "\" y=\"24\" font-size=\"12\">" << names[k] << "</text>\n";
    svg << "</svg>\n";
    return static_cast<bool>(svg);
}

int usage(std::ostream& out, int code) {
    out << "usage: orbal2 [--sectioned] [--model FILE.stl|.ply|.obj [--up x|y|z|-x|-y|-z]]\n"
           "       orbal2 limit [--sectioned] [--model FILE [--up AXIS]]\n"
           "  Scans the built-in jaw model (or the given model, placed on the disc) on the reference\n"
           "  device with the virtual scanner, as the host would. Without --up the model's up axis is\n"
           "  chosen from its shape: the thinnest extent, towards the side without a flat base.\n"
           "  --sectioned: the model is sawn into segments (without --model: the built-in sectioned jaw);\n"
           "  the saw cuts are found in the overview and handed to the jaw steering.\n"
           "  limit: records the model from a dense set of reachable poses and keeps the best coverage\n"
           "  any plan can reach (two minutes of computing); later scans of the same model print their share.\n";
    return code;
}

// Reads the model the arguments name (the built-in jaw without --model) and places it on the
// disc. Returns -1 when the model is ready, else the exit code.
int loadModel(int argc, char** argv, Sim::TriangleMesh& model, std::string& name, std::ostream& err,
              bool* sectioned = nullptr, std::vector<Sim::SawCutTruth>* cuts = nullptr) {
    std::string modelPath, upText;
    for (int i = 0; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return usage(std::cout, 0);
    for (int i = 0; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--sectioned") == 0 && sectioned && !*sectioned)
            *sectioned = true;
        else if (std::strcmp(argv[i], "--model") == 0 && hasValue && modelPath.empty())
            modelPath = argv[++i];
        else if (std::strcmp(argv[i], "--up") == 0 && hasValue && upText.empty())
            upText = argv[++i];
        else
            return usage(err, 2);
    }
    Sim::UpAxis up = Sim::UpAxis::PlusZ;
    if ((!upText.empty() && !Sim::ParseUpAxis(upText, up)) || (!upText.empty() && modelPath.empty()))
        return usage(err, 2);
    if (modelPath.empty() && sectioned && *sectioned) {
        const Sim::SectionedJawModel built = Sim::BuildSectionedJawModel();
        model = built.jaw.mesh;
        if (cuts) *cuts = built.cuts;
        name = "built-in sectioned jaw";
        return -1;
    }
    if (modelPath.empty()) {
        model = Sim::BuildJawModel().mesh;
        name = "built-in jaw";
        return -1;
    }
    std::string why;
    if (!Sim::ReadModelFile(modelPath, model, why)) {
        err << "orbal2: cannot read the model: " << why << "\n";
        return 1;
    }
    if (upText.empty()) up = Sim::ChooseUpAxis(model);
    Sim::PlaceOnDisc(model, up);
    if (!Sim::FitsOnDisc(model, why)) {
        err << "orbal2: cannot scan " << Sim::QuoteForMessage(modelPath) << ": " << why << "\n";
        return 1;
    }
    name = "model " + Sim::QuoteForMessage(modelPath);
    return -1;
}

}  // namespace

int RunLimitCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
    Sim::TriangleMesh model;
    std::string modelName;
    bool sectioned = false;
    if (const int code = loadModel(argc, argv, model, modelName, err, &sectioned); code >= 0) return code;
    const Sim::CoverageLimitOptions options;
    const auto start = std::chrono::steady_clock::now();
    out << "Limit of the reference device for the " << modelName << " ("
        << Sim::LimitPoses(model, options).size() << " poses)\n" << std::flush;
    const Sim::CoverageLimit limit = Sim::ComputeCoverageLimit(model, options, [&](int done, int total) {
        if (done % 200 == 0 || done == total) out << "  " << done << " of " << total << " poses\n" << std::flush;
    });
    if (!limit.ok) {
        err << "orbal2: the limit failed: " << limit.error << "\n";
        return 1;
    }
    const std::string directory = Sim::DefaultLimitCacheDirectory();
    const bool stored = Sim::StoreLimit(directory, Sim::LimitCacheKey(model, options), limit);
    char line[200];
    std::snprintf(line, sizeof line, "\n  best coverage       %.1f %% of the scannable surface\n  computing time      %.1f s\n",
                  100 * limit.coverage, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    out << line << "  kept in             " << (stored ? directory : std::string("(not kept: cannot write ") + directory + ")")
        << "\n";
    return 0;
}

// Each cut found against the model's true cuts (when the model has them): the nearest true cut,
// the horizontal distance of the centres (the found centre lies on the jaw line over the crowns,
// the true one on the base's ridge, so heights differ by design) and the angle between the
// directions across the cuts.
void printSawCuts(std::ostream& out, const std::vector<Sim::FoundSawCut>& found, const std::vector<Sim::SawCutTruth>& truth) {
    out << "\n  saw cuts found      " << found.size() << (truth.empty() ? "" : " (the model has ")
        << (truth.empty() ? "" : std::to_string(truth.size()) + ")") << "\n";
    for (size_t i = 0; i < found.size(); ++i) {
        char line[200];
        int n = std::snprintf(line, sizeof line, "    cut %zu at (%6.2f, %6.2f, %6.2f) mm", i, found[i].centre.x,
                              found[i].centre.y, found[i].centre.z);
        auto off = [&](size_t t) {
            return std::hypot(found[i].centre.x - truth[t].centre.x, found[i].centre.y - truth[t].centre.y);
        };
        size_t best = truth.size();
        for (size_t t = 0; t < truth.size(); ++t)
            if (best == truth.size() || off(t) < off(best)) best = t;
        if (best < truth.size()) {
            const double c = std::min(1.0, static_cast<double>(std::fabs(found[i].across.Dot(truth[best].normal))));
            std::snprintf(line + n, sizeof line - static_cast<size_t>(n),
                          "  true cut %zu: %.2f mm off across the plate, %.1f degrees", best, off(best),
                          std::acos(c) * 180.0 / 3.14159265358979);
        }
        out << line << "\n";
    }
}

int RunMainJobCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
    Sim::TriangleMesh model;
    std::string modelName;
    bool sectioned = false;
    std::vector<Sim::SawCutTruth> trueCuts;
    if (const int code = loadModel(argc, argv, model, modelName, err, &sectioned, &trueCuts); code >= 0) return code;
    // The limit is only used when it was computed before: computing it takes two minutes.
    Sim::CoverageLimit limit;
    const bool haveLimit =
        Sim::LoadLimit(Sim::DefaultLimitCacheDirectory(), Sim::LimitCacheKey(model, Sim::CoverageLimitOptions()), limit) &&
        limit.coverage > 0;
    const auto start = std::chrono::steady_clock::now();
    out << "Scanning the " << modelName << " on the reference device\n";
    Sim::JawScanOptions options;
    options.findSawCuts = sectioned;
    const Sim::JawScanReport report = Sim::RunJawScan(model, options, [&](const Sim::JawScanStep& s) {
        char line[160];
        std::snprintf(line, sizeof line,
                      "  %-20s %3d images  (%3d in all)  estimate %5.1f %%  truth %5.1f %%  axes %6.2f s\n",
                      s.name.c_str(), s.images, s.totalImages, 100 * s.coverage, 100 * s.truth, s.travelTime);
        out << line << std::flush;
    });
    if (!report.ok) {
        err << "orbal2: the scan failed: " << report.error << "\n";
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char table[400];
    std::snprintf(table, sizeof table,
                  "\n  images              %d\n  joint travel time   %.2f s\n  estimated coverage  %.1f %%\n"
                  "  true coverage       %.1f %%\n  computing time      %.2f s\n",
                  report.images, report.travelTime, 100 * report.coverage, 100 * report.truth, seconds);
    out << table;
    if (sectioned) printSawCuts(out, report.sawCuts, trueCuts);
    const bool limitFits = haveLimit && limit.reachable.size() == report.truthSamples.size();
    if (limitFits) {
        std::snprintf(table, sizeof table, "  limit of the device %.1f %%\n  share of the limit  %.1f %%\n",
                      100 * limit.coverage, 100 * report.truth / limit.coverage);
        out << table;
    } else {
        out << "  limit of the device unknown (orbal2 limit" << (argc > 0 ? " ..." : "") << " computes it)\n";
    }
    if (!writeTopView(report, limitFits ? &limit.reachable : nullptr, c_topViewFile) ||
        !writeCoveragePlot(report, limitFits ? limit.coverage : 0, c_coverageFile)) {
        err << "orbal2: cannot write the pictures into the working directory\n";
        return 1;
    }
    out << "  pictures            " << c_topViewFile << ", " << c_coverageFile << "\n";
    return 0;
}

}  // namespace orbal2
