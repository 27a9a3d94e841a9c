// `orbal2 tray`: a double-arch tray scanned stage by stage on the virtual scanner.
//
// The host's part is played here: it records every request on the virtual scanner, stores the
// recordings in the image database and hands them to the steering. Between the two sides the
// user turns the tray over, so the second side is recorded of the tray upside down. The jaw
// line (the host derives it from the overview) is taken from the tray's own arch.
#include "TrayCommand.h"

#include "SyntheticModels.h"
#include "VirtualScanner.h"
#include "ZoOrbal2.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <string>

namespace orbal2 {

namespace {

using Steering = ZoCAcquisitionSteeringOrbal2TripleTray;
using Sequence = ZoCOrbal2AxisChain::CJointPositionSequence;

constexpr float c_fImageAreaPerMm = 40.0f;

struct Options {
    std::string svgName = "orbal2_tray.svg";
    int width = 640;  // camera image size of the virtual scanner; the field of view stays
    int height = 512;
};

const char* stageName(const ZoCAcquisitionSteeringOrbal2StateBase& state) {
    if (state.IsEndState())
        return "End";
    if (state.IsFirstState())
        return "Side1";
    return state.GetAcquireMode() == 6 ? "Side2" : "SideTurnAround";
}

// The tray turned over about the arch's long axis (x), standing on the plate again.
Sim::TriangleMesh turnedOver(const Sim::TriangleMesh& mesh) {
    Sim::TriangleMesh turned = mesh;
    turned.Transform(CbMatrix4Rf::RotationX(3.14159265f));
    const CyBoundingBox3D box = turned.Bounds();
    turned.Transform(CbMatrix4Rf::Translation(0, 0, -box.GetMax().z));
    return turned;
}

// The arch's centre line in image-area units; turned over, y changes sign.
CyHermiteSpline jawLine(const Sim::ArchCurve& arch, bool turned) {
    std::vector<CbVector3f> points;
    const int n = 24;
    for (int i = 0; i <= n; ++i) {
        const CbVector3f p = arch.Position(arch.GetLength() * static_cast<float>(i) / n);
        points.emplace_back(p.x * c_fImageAreaPerMm, (turned ? -p.y : p.y) * c_fImageAreaPerMm, 0.0f);
    }
    return CyHermiteSpline(points);
}

// Records every request and hands the recordings over as a host does.
int recordSequence(Steering& steering, Sim::VirtualScanner& scanner, CImageArea& area, const Sequence& seq) {
    int measured = 0;
    for (int64_t i = 0; i < seq.GetCount(); ++i) {
        const Sim::RecordedImage image = scanner.Record(seq[i].m_config);
        const CImageSource source = Sim::MakeImageSource(image, seq[i].m_strName);
        area.AddImageSource(source);
        steering.AssociateRequestAndImageSourceID(seq[i].m_strName, source.GetID());
        steering.PutScan(image.coords, source.GetID());
        measured += image.measuredPixels > 0 ? 1 : 0;
    }
    return measured;
}

void printSequence(std::ostream& out, const Sequence& seq) {
    for (int64_t i = 0; i < seq.GetCount(); ++i) {
        out << "    "
            << std::string(seq[i].m_strName.GetString(),
                           seq[i].m_strName.GetString() + std::wcslen(seq[i].m_strName.GetString()));
        for (int j = 0; j < 5; ++j)
            out << ' ' << std::setw(8) << std::fixed << std::setprecision(3) << seq[i].m_config[j];
        out << '\n';
    }
}

struct StageBorder {
    std::string stage;
    bool turned = false;
    std::vector<CbVector3f> border;  // image-area units
};

void writeSvg(const std::string& name, const Sim::DoubleArchTrayModel& tray,
              const std::vector<StageBorder>& borders) {
    std::ofstream svg(name);
    // Millimetres on the disc, x right and y down as the disc's y axis; 4 px per mm.
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"400\" height=\"400\" viewBox=\"-50 -50 100 "
           "100\">\n"
        << "<circle cx=\"0\" cy=\"0\" r=\"50\" fill=\"#eeeeee\"/>\n";
    auto polyline = [&](const std::vector<CbVector3f>& points, float scale, bool mirror, const char* style) {
        svg << "<polyline " << style << " points=\"";
        for (const CbVector3f& p : points)
            svg << p.x * scale << ',' << (mirror ? -p.y : p.y) * scale << ' ';
        svg << "\"/>\n";
    };
    for (const float side : {-7.0f, 7.0f}) {  // the tray's outline: the arch widened to either side
        std::vector<CbVector3f> edge;
        for (int i = 0; i <= 100; ++i) {
            const float s = tray.arch.GetLength() * static_cast<float>(i) / 100;
            edge.push_back(tray.arch.Position(s) + tray.arch.Outward(s) * side);
        }
        polyline(edge, 1.0f, false, "fill=\"none\" stroke=\"#888888\" stroke-width=\"0.3\"");
    }
    const char* colours[] = {"#d62728", "#1f77b4", "#2ca02c"};
    for (size_t k = 0; k < borders.size(); ++k) {
        if (borders[k].border.empty())
            continue;
        std::vector<CbVector3f> closed = borders[k].border;
        closed.push_back(closed.front());
        // A turned-over side is drawn as the tray lies now, unturned.
        const std::string style =
            std::string("fill=\"none\" stroke-width=\"0.4\" stroke=\"") + colours[k % 3] + "\"";
        polyline(closed, 1.0f / c_fImageAreaPerMm, borders[k].turned, style.c_str());
    }
    svg << "</svg>\n";
}

bool parse(int argc, char** args, Options& options, std::ostream& err) {
    for (int i = 0; i < argc; ++i) {
        const std::string a = args[i];
        if (a == "--svg" && i + 1 < argc) {
            options.svgName = args[++i];
        } else if (a == "--size" && i + 2 < argc) {
            options.width = std::atoi(args[++i]);
            options.height = std::atoi(args[++i]);
            if (options.width < 16 || options.height < 16 || options.width > 4096 || options.height > 4096) {
                err << "orbal2 tray: --size wants two image sizes between 16 and 4096\n";
                return false;
            }
        } else {
            err << "orbal2 tray: unknown argument '" << a << "'\n"
                << "usage: orbal2 tray [--svg FILE] [--size WIDTH HEIGHT]\n";
            return false;
        }
    }
    return true;
}

}  // namespace

int RunTrayCommand(int argc, char** args, std::ostream& out, std::ostream& err) {
    Options options;
    if (!parse(argc, args, options, err))
        return 2;
    const ZoCOrbal2DeviceConfig device;
    const Sim::DoubleArchTrayModel tray = Sim::BuildDoubleArchTrayModel();
    Sim::VirtualScannerOptions scannerOptions;
    scannerOptions.width = options.width;
    scannerOptions.height = options.height;
    Sim::VirtualScanner upright(device, tray.mesh, scannerOptions);
    Sim::VirtualScanner upsideDown(device, turnedOver(tray.mesh), scannerOptions);
    if (!upright.IsValid() || !upsideDown.IsValid()) {
        err << "orbal2 tray: virtual scanner: " << upright.GetError() << upsideDown.GetError() << '\n';
        return 1;
    }
    ZoCImageDataBase database;
    Steering steering(device, eAreaTypeUpperJaw);
    std::vector<StageBorder> borders;
    out << "double-arch tray scan on the virtual scanner (" << options.width << " x " << options.height
        << ")\n";
    for (int stage = 0; stage < 4; ++stage) {
        const auto& state = *steering.GetStateContext().GetCurrentState();
        const bool side = state.GetAcquireMode() == 5 || state.GetAcquireMode() == 6;
        const bool turned = state.GetAcquireMode() == 6;
        const EAreaType area = steering.GetAreaType();
        out << "stage " << stageName(state) << ": area type " << area << ", acquire mode "
            << steering.GetAcquireMode() << ", next area type " << steering.GetNextAreaType() << '\n';
        Sim::VirtualScanner& scanner = turned ? upsideDown : upright;
        CImageArea& images = database.ProvideImageArea(area == eAreaTypeNone ? eAreaTypeStumps : area);
        if (side) {
            steering.ReInitScanPlan(steering.GetAcquireMode());
            Sequence overview;
            steering.GetJointConfigurationForOverview(overview);
            const int seen = recordSequence(steering, scanner, images, overview);
            out << "  overview: " << overview.GetCount() << " requests, " << seen
                << " with measured points\n";
            steering.setSkeletonRaw(jawLine(tray.arch, turned));
            steering.CalcInvalidJawRegionsFromJawLine(database, area, nullptr);
            steering.SetJawlineBorder();
            borders.push_back({stageName(state), turned, steering.GetJawBorderPoints()});
        }
        Sequence fixed;
        steering.GetJointConfigurationForFixed(fixed, 1);
        out << "  fixed sequence: " << fixed.GetCount() << " requests\n";
        printSequence(out, fixed);
        if (fixed.GetCount() > 0)
            recordSequence(steering, scanner, images, fixed);
        if (side) {
            Sequence along;
            steering.GetJointConfigurationForFixed(along, 0);
            out << "  along the jaw line: " << along.GetCount() << " requests\n";
        }
        out << "  jaw border: " << steering.GetJawBorderPoints().size() << " points\n";
        if (stage < 3)
            steering.SetNextState();
    }
    writeSvg(options.svgName, tray, borders);
    out << "tray from above with the jaw borders: " << options.svgName << '\n';
    return 0;
}

}  // namespace orbal2
