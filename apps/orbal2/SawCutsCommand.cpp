#include "SawCutsCommand.h"

#include "AcquisitionPlanningStore.h"
#include "MeshPrimitives.h"
#include "SyntheticModels.h"
#include "VirtualScanner.h"
#include "ZoOrbal2.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <list>
#include <string>
#include <vector>

namespace orbal2 {
namespace {

using Config = ZoCOrbal2AxisChain::NCJointConfiguration;
using OverviewImage = ZoCSawCutDetector::ZoNOverviewImage;
constexpr float c_fImageAreaPerMm = Sim::VirtualScanner::c_fImageAreaPerMm;
constexpr EAreaType c_eArea = eAreaTypeLowerJaw;
constexpr double c_dPi = 3.14159265358979;

struct Options {
    bool extended = false;  // the extended overview ring of eight images
    int scale = 2;          // camera resolution against the reference camera's 1280 x 1024
    std::string svg = "sawcuts.svg";
};

int usage(std::ostream& out, int code) {
    out << "usage: orbal2 sawcuts [--extended] [--scale 1|2|3|4] [--svg FILE]\n"
           "  Records the overview ring of the built-in sectioned jaw on the virtual scanner,\n"
           "  finds the saw cuts, prints them beside the model's true cuts, hands them to the\n"
           "  jaw steering and writes an SVG of one range image with the guide line and the\n"
           "  cuts found (default sawcuts.svg in the working directory).\n"
           "  --extended   the extended ring of eight images instead of six\n"
           "  --scale N    camera resolution N times the reference camera's (default 2; a cut\n"
           "               must span 300 pixels, which the reference camera's 13 pixels per mm\n"
           "               rarely give)\n";
    return code;
}

// False (with a message on `err`) for words it does not know.
bool parse(int argc, char** args, Options& options, std::ostream& err) {
    for (int i = 0; i < argc; ++i) {
        const std::string word = args[i];
        if (word == "--extended") {
            options.extended = true;
        } else if (word == "--scale" || word == "--svg") {
            if (i + 1 >= argc) {
                err << "orbal2 sawcuts: " << word << " needs a value\n";
                return false;
            }
            const std::string value = args[++i];
            if (word == "--svg") {
                if (value.empty()) {
                    err << "orbal2 sawcuts: --svg needs a file name\n";
                    return false;
                }
                options.svg = value;
                continue;
            }
            char* end = nullptr;
            const long scale = std::strtol(value.c_str(), &end, 10);
            if (end == value.c_str() || *end != '\0' || scale < 1 || scale > 4) {
                err << "orbal2 sawcuts: --scale takes 1, 2, 3 or 4, not '" << value << "'\n";
                return false;
            }
            options.scale = static_cast<int>(scale);
        } else {
            err << "orbal2 sawcuts: unknown argument '" << word << "'\n";
            return false;
        }
    }
    return true;
}

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    char line[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(line, sizeof line, pattern, args);
    va_end(args);
    return line;
}

// The arch's centre line at the top of the base's ridge, in image-area units: the skeleton the
// host derives from the overview.
CyHermiteSpline skeletonOf(const Sim::JawModel& jaw) {
    std::vector<CbVector3f> points;
    for (int i = 0; i <= 30; ++i) {
        const float s = jaw.arch.GetLength() * static_cast<float>(i) / 30.0f;
        points.push_back((jaw.arch.Position(s) + Sim::Up() * jaw.baseHeight) * c_fImageAreaPerMm);
    }
    CyHermiteSpline skeleton(points);
    skeleton.SubdivideByLength();
    return skeleton;
}

// ---------------------------------------------------------------------------------------------
// The 2D view of one image: its guide line and the cuts the extractor finds along it.

class SawCutInspector : public ZoCSawCutDetector {
public:
    using ZoCSawCutDetector::listImages;
    using ZoCSawCutDetector::ZoCSawCutDetector;

    // False when the image gives no guide line (no rays, too little seen).
    bool Inspect(const OverviewImage& image, const CyHermiteSpline& skeleton,
                 ZoCSawCutExtractor::ZoNGuideLine& guide, std::vector<ZoCSawCutExtractor::ZoNSawCut>& cuts) {
        const ZoCFieldRay* rays = image.m_rangeImage.GetFieldRayPtr();
        if (!rays)
            return false;
        std::vector<CbVector3f> cameraPoints;
        std::vector<ZoNPixel> pixels;
        collectPoints(image, *rays, cameraPoints, pixels);
        if (!fitGuideLine(image, cameraPoints, pixels, skeleton, guide))
            return false;
        ZoCSawCutExtractor extractor(image.m_rangeImage, guide);
        extractor.detectSawCuts(cuts);
        return true;
    }
};

struct ImageView {
    const OverviewImage* image = nullptr;
    bool guided = false;
    ZoCSawCutExtractor::ZoNGuideLine guide;
    std::vector<ZoCSawCutExtractor::ZoNSawCut> cuts;
    int ValidCount() const {
        int n = 0;
        for (const auto& c : cuts)
            n += c.m_bValid ? 1 : 0;
        return n;
    }
};

// ---------------------------------------------------------------------------------------------
// SVG with the range image embedded as a PNG (stored, uncompressed deflate blocks).

uint32_t crc32(const uint8_t* data, size_t n, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void putBigEndian(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(static_cast<uint8_t>(v >> s));
}

void putChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
    putBigEndian(png, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    putBigEndian(png, crc32(body.data(), body.size()));
}

// An 8-bit grey PNG of width x height pixels.
std::vector<uint8_t> greyPng(const std::vector<uint8_t>& pixels, int width, int height) {
    std::vector<uint8_t> raw;  // each row after a filter byte 0
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), pixels.begin() + static_cast<ptrdiff_t>(y) * width,
                   pixels.begin() + static_cast<ptrdiff_t>(y + 1) * width);
    }
    std::vector<uint8_t> zlib = {0x78, 0x01};
    uint32_t a = 1, b = 0;
    for (uint8_t v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    for (size_t at = 0; at < raw.size() || at == 0; at += 65535) {
        const size_t n = std::min<size_t>(65535, raw.size() - at);
        zlib.push_back(at + n >= raw.size() ? 1 : 0);
        zlib.push_back(static_cast<uint8_t>(n));
        zlib.push_back(static_cast<uint8_t>(n >> 8));
        zlib.push_back(static_cast<uint8_t>(~n));
        zlib.push_back(static_cast<uint8_t>(~n >> 8));
        zlib.insert(zlib.end(), raw.begin() + static_cast<ptrdiff_t>(at),
                    raw.begin() + static_cast<ptrdiff_t>(at + n));
        if (raw.empty())
            break;
    }
    putBigEndian(zlib, (b << 16) | a);
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    putBigEndian(header, static_cast<uint32_t>(width));
    putBigEndian(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 0, 0, 0, 0});  // 8 bits, grey, deflate, no filter, no interlace
    putChunk(png, "IHDR", header);
    putChunk(png, "IDAT", zlib);
    putChunk(png, "IEND", {});
    return png;
}

std::string base64(const std::vector<uint8_t>& data) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < data.size(); i += 3) {
        const uint32_t v = (uint32_t(data[i]) << 16) |
                           (i + 1 < data.size() ? uint32_t(data[i + 1]) << 8 : 0) |
                           (i + 2 < data.size() ? uint32_t(data[i + 2]) : 0);
        out += digits[(v >> 18) & 63];
        out += digits[(v >> 12) & 63];
        out += i + 1 < data.size() ? digits[(v >> 6) & 63] : '=';
        out += i + 2 < data.size() ? digits[v & 63] : '=';
    }
    return out;
}

// The range image's valid rectangle, shaded (near bright, far dark, no range black) and
// reduced by `step` in each direction.
std::vector<uint8_t> shadedRange(const OverviewImage& image, int step, int& width, int& height) {
    const ZoCRect2& r = image.m_rectValid;
    const ZoCFieldRange& range = image.m_fieldRange;
    float lo = 1e30f, hi = -1e30f;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            if (ZoCSawCutExtractor::IsRange(range.At(x, y))) {
                lo = std::min(lo, range.At(x, y));
                hi = std::max(hi, range.At(x, y));
            }
    width = (r.Width() + step - 1) / step;
    height = (r.Height() + step - 1) / step;
    std::vector<uint8_t> grey(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const float v = range.At(r.left + x * step, r.top + y * step);
            if (ZoCSawCutExtractor::IsRange(v))
                grey[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
                    static_cast<uint8_t>(70 + 185 * (hi > lo ? (hi - v) / (hi - lo) : 1.0f));
        }
    return grey;
}

bool writeSvg(const std::string& name, const ImageView& view, int step) {
    int w = 0, h = 0;
    const std::vector<uint8_t> grey = shadedRange(*view.image, step, w, h);
    const ZoCRect2& r = view.image->m_rectValid;
    std::ofstream svg(name);
    if (!svg)
        return false;
    svg << format(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\">\n",
        r.Width() / step, r.Height() / step, r.Width(), r.Height());
    svg << "<title>Saw cuts: range image (pixels of its valid rectangle), guide line (yellow), valid cuts "
           "(red), other facing edge pairs (cyan)</title>\n";
    svg << format(
               "<image x=\"0\" y=\"0\" width=\"%d\" height=\"%d\" preserveAspectRatio=\"none\" "
               "style=\"image-rendering:pixelated\" href=\"data:image/png;base64,",
               w * step, h * step)
        << base64(greyPng(grey, w, h)) << "\"/>\n";
    if (view.guided) {
        svg << "<polyline fill=\"none\" stroke=\"#ffd000\" stroke-width=\"6\" points=\"";
        for (int k = 0; k <= 100; ++k) {
            const CbVector2f p = view.guide.At(k / 100.0);
            svg << format("%.1f,%.1f ", p.x, p.y);
        }
        svg << "\"/>\n";
    }
    int index = 0;
    for (const auto& cut : view.cuts) {
        const char* colour = cut.m_bValid ? "#ff2020" : "#20d0ff";
        svg << format(
            "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" stroke-width=\"%d\"/>\n",
            cut.GetStart().x, cut.GetStart().y, cut.GetEnd().x, cut.GetEnd().y, colour, cut.m_bValid ? 8 : 4);
        svg << format("<text x=\"%.1f\" y=\"%.1f\" font-size=\"40\" fill=\"%s\">%d</text>\n",
                      cut.GetEnd().x + 10, cut.GetEnd().y, colour, index++);
    }
    svg << "</svg>\n";
    return static_cast<bool>(svg);
}

// ---------------------------------------------------------------------------------------------
// Comparison with the model's true cuts.

struct FoundCut {
    CbVector3f centre;  // mm
    CbVector3f across;
    double halfWidth = 0;
};

double angleBetweenDeg(const CbVector3f& a, const CbVector3f& b) {
    return std::acos(std::min(1.0, static_cast<double>(std::fabs(a.Dot(b))))) * 180.0 / c_dPi;
}

size_t nearestTrueCut(const FoundCut& cut, const std::vector<Sim::SawCutTruth>& truth) {
    size_t best = 0;
    for (size_t t = 1; t < truth.size(); ++t)
        if ((cut.centre - truth[t].centre).Length() < (cut.centre - truth[best].centre).Length())
            best = t;
    return best;
}

void printComparison(std::ostream& out, const std::vector<FoundCut>& found,
                     const std::vector<Sim::SawCutTruth>& truth) {
    out << "\nCuts found (disc frame, mm; normal across the cut)\n";
    out << "  #   centre x  centre y  centre z   normal x  normal y  normal z   half width px   true cut  "
           "position error mm  angle error deg\n";
    for (size_t i = 0; i < found.size(); ++i) {
        const FoundCut& f = found[i];
        const size_t t = nearestTrueCut(f, truth);
        out << format("%3zu  %8.2f  %8.2f  %8.2f   %8.3f  %8.3f  %8.3f   %13.1f   %8zu  %17.2f  %15.1f\n", i,
                      f.centre.x, f.centre.y, f.centre.z, f.across.x, f.across.y, f.across.z, f.halfWidth, t,
                      (f.centre - truth[t].centre).Length(), angleBetweenDeg(f.across, truth[t].normal));
    }
    if (found.empty())
        out << "  (none)\n";
    out << "\nThe model's true cuts\n";
    out << "  #   arc length mm  centre x  centre y  centre z   normal x  normal y   width mm   found\n";
    for (size_t t = 0; t < truth.size(); ++t) {
        const Sim::SawCutTruth& c = truth[t];
        std::string status = "no";
        double bestDistance = 1e30;
        for (size_t i = 0; i < found.size(); ++i)
            if (nearestTrueCut(found[i], truth) == t &&
                (found[i].centre - c.centre).Length() < bestDistance) {
                bestDistance = (found[i].centre - c.centre).Length();
                status = format("as #%zu: %.2f mm, %.1f deg", i, bestDistance,
                                angleBetweenDeg(found[i].across, c.normal));
            }
        out << format("%3zu   %12.2f  %8.2f  %8.2f  %8.2f   %8.3f  %8.3f   %8.2f   %s\n", t, c.arcLength,
                      c.centre.x, c.centre.y, c.centre.z, c.normal.x, c.normal.y, c.width, status.c_str());
    }
}

}  // namespace

int RunSawCutsCommand(int argc, char** args, std::ostream& out, std::ostream& err) {
    if (argc > 0 && (std::strcmp(args[0], "--help") == 0 || std::strcmp(args[0], "-h") == 0))
        return usage(out, 0);
    Options options;
    if (!parse(argc, args, options, err))
        return usage(err, 2);

    const ZoCOrbal2DeviceConfig device;
    const Sim::SectionedJawModel model = Sim::BuildSectionedJawModel();
    Sim::VirtualScannerOptions scannerOptions;
    scannerOptions.width = 1280 * options.scale;
    scannerOptions.height = 1024 * options.scale;
    Sim::VirtualScanner scanner(device, model.jaw.mesh, scannerOptions);
    if (!scanner.IsValid()) {
        err << "orbal2 sawcuts: the virtual scanner failed: " << scanner.GetError() << "\n";
        return 1;
    }

    // The jaw steering's overview ring, recorded and stored as the host stores its images.
    ZoCAcquisitionSteeringOrbal2Jaw steering(device, false, options.extended, false);
    ZoCOrbal2AxisChain::CJointPositionSequence ring;
    if (!steering.GetJointConfigurationForOverview(ring)) {
        err << "orbal2 sawcuts: the jaw steering planned no overview\n";
        return 1;
    }
    CImageArea& area = ZAZComponentFactory::GetImageDatabase(eAcquireDeviceOrbal2).ProvideImageArea(c_eArea);
    area.RemoveAll();
    for (int64_t i = 0; i < ring.GetCount(); ++i)
        area.AddImageSource(Sim::MakeImageSource(scanner.Record(ring[i].m_config), ring[i].m_strName));

    const CyHermiteSpline skeleton = skeletonOf(model.jaw);
    ZoCSawCutDetector detector(c_eArea, skeleton, c_matIdentity);
    try {
        detector.Run();
    } catch (const CbException& e) {
        err << "orbal2 sawcuts: " << e.what() << "\n";
        return 1;
    }
    const std::vector<CbVector3f>& data = detector.GetSawCutData();

    out << "Saw cuts of the built-in sectioned jaw: overview ring of " << ring.GetCount()
        << " images on the reference device, camera " << scannerOptions.width << " x "
        << scannerOptions.height << " pixels\n";
    SawCutInspector inspector(c_eArea, skeleton, c_matIdentity);
    std::list<OverviewImage> images;
    inspector.listImages(images);
    std::vector<ImageView> views;
    out << "image  request      L5 deg   guide line   gaps paired   valid cuts\n";
    for (const OverviewImage& image : images) {
        ImageView view;
        view.image = &image;
        view.guided = inspector.Inspect(image, skeleton, view.guide, view.cuts);
        out << format("%5zu  %-10ls  %6.1f   %-10s   %11zu   %10d\n", views.size(),
                      image.m_pImageSource->GetName().GetString(),
                      ring[static_cast<int64_t>(views.size())].m_config[4], view.guided ? "fitted" : "none",
                      view.cuts.size(), view.ValidCount());
        views.push_back(std::move(view));
    }

    std::vector<FoundCut> found;
    for (size_t i = 0; i + 3 < data.size(); i += 4)
        found.push_back({(data[i] + data[i + 2]) * (0.5f / c_fImageAreaPerMm), data[i + 3],
                         (data[i] - data[i + 2]).Length() * 0.5});
    printComparison(out, found, model.cuts);

    // The main job's hand-over: the jaw line from the skeleton, then the cuts.
    steering.ExtractLLFromSkeleton(skeleton, -500.0f);
    steering.PutSawCuts(data);
    if (const auto* store = dynamic_cast<const AcquisitionPlanningStore*>(steering.GetAcquisitionPlanning()))
        out << "\nHanded to the jaw steering: " << data.size() / 2 << " saw-cut faces ("
            << store->SawCuts().size() << " floats in the planning)\n";

    size_t shown = 0;
    for (size_t i = 1; i < views.size(); ++i)
        if (views[i].ValidCount() > views[shown].ValidCount())
            shown = i;
    if (views.empty() || !writeSvg(options.svg, views[shown], options.scale)) {
        err << "orbal2 sawcuts: could not write " << options.svg << "\n";
        return 1;
    }
    out << "SVG: " << options.svg << " (image " << shown << ": range image, guide line, cuts)\n";
    area.RemoveAll();
    return 0;
}

}  // namespace orbal2
