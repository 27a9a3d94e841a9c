#include "MainJobCommand.h"

#include "JawScanSession.h"
#include "StlReader.h"
#include "SyntheticModels.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace orbal2 {

namespace {

const char* const c_topViewFile = "jaw_scan_top.svg";
const char* const c_coverageFile = "jaw_scan_coverage.svg";

// The model from above (disc x to the right, disc y up), with the jaw line and the view rays.
bool writeTopView(const Sim::JawScanReport& report, const char* path) {
    std::ofstream svg(path);
    if (!svg) return false;
    const float scale = 8.0f, half = 40.0f;  // 80 x 80 mm around the disc centre
    auto px = [&](float x) { return (x + half) * scale; };
    auto py = [&](float y) { return (half - y) * scale; };
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"640\" height=\"640\" viewBox=\"0 0 640 640\">\n"
        << "<rect width=\"640\" height=\"640\" fill=\"white\"/>\n"
        << "<circle cx=\"" << px(0) << "\" cy=\"" << py(0) << "\" r=\"3\" fill=\"black\"/>\n";
    for (const CbVector3f& p : report.overviewSample)
        svg << "<circle cx=\"" << px(p.x) << "\" cy=\"" << py(p.y) << "\" r=\"0.8\" fill=\"#b0b0b0\"/>\n";
    for (const CyRay& ray : report.viewRays) {
        // The last 40 mm of each ray before the focus point, so that the rays stay in the picture.
        const CbVector3f focus = ray.origin + ray.direction;
        const CbVector3f from = focus - ray.direction.Normalized() * 40.0f;
        svg << "<line x1=\"" << px(from.x) << "\" y1=\"" << py(from.y) << "\" x2=\"" << px(focus.x) << "\" y2=\""
            << py(focus.y) << "\" stroke=\"#3070c0\" stroke-width=\"0.7\" opacity=\"0.6\"/>\n";
    }
    svg << "<polyline fill=\"none\" stroke=\"#d03020\" stroke-width=\"2\" points=\"";
    for (const CbVector3f& p : report.jawLine) svg << px(p.x) << ',' << py(p.y) << ' ';
    svg << "\"/>\n</svg>\n";
    return static_cast<bool>(svg);
}

// Coverage (0..1) against the number of images, one point per sequence.
bool writeCoveragePlot(const Sim::JawScanReport& report, const char* path) {
    std::ofstream svg(path);
    if (!svg) return false;
    const int last = report.coverageByImages.empty() ? 1 : std::max(1, report.coverageByImages.back().first);
    auto px = [&](int images) { return 60.0 + 520.0 * images / last; };
    auto py = [](double coverage) { return 360.0 - 320.0 * coverage; };
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"640\" height=\"400\" viewBox=\"0 0 640 400\">\n"
        << "<rect width=\"640\" height=\"400\" fill=\"white\"/>\n"
        << "<line x1=\"60\" y1=\"360\" x2=\"580\" y2=\"360\" stroke=\"black\"/>\n"
        << "<line x1=\"60\" y1=\"40\" x2=\"60\" y2=\"360\" stroke=\"black\"/>\n"
        << "<text x=\"320\" y=\"390\" text-anchor=\"middle\" font-size=\"14\">images</text>\n"
        << "<text x=\"20\" y=\"200\" font-size=\"14\" transform=\"rotate(-90 20 200)\">surface coverage</text>\n";
    for (int k = 0; k <= 4; ++k)
        svg << "<text x=\"54\" y=\"" << py(k / 4.0) + 4 << "\" text-anchor=\"end\" font-size=\"11\">" << k * 25
            << "%</text>\n";
    svg << "<polyline fill=\"none\" stroke=\"#3070c0\" stroke-width=\"2\" points=\"" << px(0) << ',' << py(0) << ' ';
    for (const auto& [images, coverage] : report.coverageByImages) svg << px(images) << ',' << py(coverage) << ' ';
    svg << "\"/>\n</svg>\n";
    return static_cast<bool>(svg);
}

int usage(std::ostream& out, int code) {
    out << "usage: orbal2 [--model FILE.stl]\n"
           "  Scans the built-in jaw model (or the given STL model, z up, placed on the disc) on the\n"
           "  reference device with the virtual scanner, as the host would.\n";
    return code;
}

}  // namespace

int RunMainJobCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
    Sim::TriangleMesh model;
    std::string modelName = "built-in jaw";
    if (argc >= 1) {
        if (std::strcmp(argv[0], "--model") != 0 || argc != 2) return usage(err, 2);
        Sim::StlReader reader;
        if (!reader.ReadFile(argv[1], model)) {
            err << "orbal2: cannot read model '" << argv[1] << "': " << reader.GetError() << "\n";
            return 1;
        }
        Sim::PlaceOnDisc(model);
        modelName = argv[1];
    } else {
        model = Sim::BuildJawModel().mesh;
    }
    const auto start = std::chrono::steady_clock::now();
    out << "Scanning the " << modelName << " on the reference device\n";
    const Sim::JawScanReport report = Sim::RunJawScan(model, Sim::JawScanOptions(), [&](const Sim::JawScanStep& s) {
        char line[160];
        std::snprintf(line, sizeof line, "  %-20s %3d images  (%3d in all)  coverage %5.1f %%  axes %6.2f s\n",
                      s.name.c_str(), s.images, s.totalImages, 100 * s.coverage, s.travelTime);
        out << line << std::flush;
    });
    if (!report.ok) {
        err << "orbal2: the scan failed: " << report.error << "\n";
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char table[400];
    std::snprintf(table, sizeof table,
                  "\n  images              %d\n  joint travel time   %.2f s\n  surface coverage    %.1f %%\n"
                  "  computing time      %.2f s\n",
                  report.images, report.travelTime, 100 * report.coverage, seconds);
    out << table;
    if (!writeTopView(report, c_topViewFile) || !writeCoveragePlot(report, c_coverageFile)) {
        err << "orbal2: cannot write the pictures into the working directory\n";
        return 1;
    }
    out << "  pictures            " << c_topViewFile << ", " << c_coverageFile << "\n";
    return 0;
}

}  // namespace orbal2
