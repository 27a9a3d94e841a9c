#include "GyrationCommand.h"

#include "PlanPrinter.h"
#include "ZoOrbal2.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace orbal2 {
namespace {

using Sequence = ZoCOrbal2AxisChain::CJointPositionSequence;

// The holder's four positions: a quarter turn apart, stumps of different heights (thousandths
// of the L4 unit, as the smart camera reports them).
CbList<ZoAOrbal2SmartCamera::t_StumpInfo> holderStumps() {
    const float heights[4] = {50000, 52500, 48000, 55000};
    CbList<ZoAOrbal2SmartCamera::t_StumpInfo> stumps;
    for (int i = 0; i < 4; ++i) {
        ZoAOrbal2SmartCamera::t_StumpInfo info;
        info.m_fAzimuth = 90.0f * static_cast<float>(i);
        info.m_fHeight = heights[i];
        info.m_iReserved = i;
        info.m_bValid = true;
        stumps.AddTail(info);
    }
    return stumps;
}

bool wantsHelp(int argc, char** args) {
    return argc > 0 && (std::strcmp(args[0], "--help") == 0 || std::strcmp(args[0], "-h") == 0);
}

// Reads all words as numbers; false when one is not a number.
bool readNumbers(int argc, char** args, std::vector<float>& values) {
    for (int i = 0; i < argc; ++i) {
        char* end = nullptr;
        const float v = std::strtof(args[i], &end);
        if (end == args[i] || *end != '\0' || !std::isfinite(v))
            return false;
        values.push_back(v);
    }
    return true;
}

// Where the camera of the reference device sees a disc point at a request's joints: pixel and
// depth, and the angle between the view and a disc direction.
void printViewCheck(std::ostream& out, const ZoCOrbal2DeviceConfig& device, const Sequence& seq,
                    const CbVector3f& discPoint, const CbVector3f& discAxis) {
    out << "request            pixel u   pixel v   depth mm   view to axis deg\n";
    CCoordinate3<double> view;
    device.m_camProjCalib.GetCamera().GetViewDirection(view);
    for (int64_t i = 0; i < seq.GetCount(); ++i) {
        const CbMatrix4Rf discToCamera =
            device.m_axisChain.GetCamToDiscTransformation(seq[i].m_config, false).Inverted();
        const CbVector3f p = discToCamera.TransformPoint(discPoint);
        const CbVector3f a = discToCamera.TransformDirection(discAxis).Normalized();
        const double point[3] = {p.x, p.y, p.z};
        double pixel[3] = {0, 0, 0};
        device.m_camProjCalib.ProjectToImage(point, pixel);
        const double cosine = -(a.x * view.x + a.y * view.y + a.z * view.z);
        char line[160];
        std::snprintf(line, sizeof line, "%-16s %9.1f %9.1f %10.2f %18.2f\n",
                      seq[i].m_strName.ToUtf8().c_str(), pixel[0], pixel[1], pixel[2],
                      std::acos(std::fmax(-1.0, std::fmin(1.0, cosine))) * 57.29577951);
        out << line;
    }
}

}  // namespace

int RunGyrationCommand(int argc, char** args, std::ostream& out, std::ostream& err) {
    if (wantsHelp(argc, args) || argc > 0) {
        (argc > 0 && !wantsHelp(argc, args) ? err : out)
            << "usage: orbal2 gyration\n"
               "  Plans the gyration of four stumps in the multi-die holder of the reference device\n"
               "  (azimuths 0, 90, 180, 270 degrees; heights 50, 52.5, 48 and 55 thousand L4 units):\n"
               "  first the one image per stump, then the eight tilts of every stump.\n";
        return wantsHelp(argc, args) ? 0 : 2;
    }
    const ZoCOrbal2DeviceConfig device;
    ZoCAcquisitionSteeringOrbal2Gyration steering(device);
    Sequence phase1, gyration;
    steering.GetJointConfigurationForGyrationPhase1(phase1);
    const bool ok = steering.GetJointConfigurationForGyration(gyration, holderStumps());
    char line[160];
    std::snprintf(line, sizeof line, "Gyration plan (reference device, tilt %.0f degrees, L2 weight %.3f)\n",
                  steering.GetTiltAngle(), ZoCAcquisitionSteeringOrbal2Gyration::m_cfWeight);
    out << line << "Tilt order:";
    for (int i = 0; i < steering.GetNumberOfGyrationPositions(); ++i)
        out << ' ' << steering.GetGyrationOrder()[i];
    out << "\nOne image per stump\n";
    PrintSequence(out, phase1);
    out << "Gyration of four stumps" << (ok ? "" : " (no plan: the device has no neutral configuration)")
        << "\n";
    PrintSequence(out, gyration);
    ZoCOrbal2AxisChain::NCJointConfiguration start;
    device.m_axisChain.GetNeutralConfiguration(start);
    std::snprintf(line, sizeof line, "Travel time of the gyration: %.2f s (from the neutral configuration)\n",
                  SequenceTravelTime(gyration, start));
    out << line;
    return ok ? 0 : 1;
}

int RunScanbodyCommand(int argc, char** args, std::ostream& out, std::ostream& err) {
    std::vector<float> v;
    if (wantsHelp(argc, args) || !readNumbers(argc, args, v) ||
        (v.size() != 0 && v.size() != 3 && v.size() != 6)) {
        (wantsHelp(argc, args) ? out : err)
            << "usage: orbal2 scanbody [X Y H [AX AY AZ]]\n"
               "  Plans the scans of a scan body on the disc of the reference device: eight views on a\n"
               "  cone around its axis, then one view straight along the axis for its orientation.\n"
               "  X, Y: position on the disc (mm, default 0 0); H: height of the body's top above the\n"
               "  disc (mm, default 10); AX AY AZ: axis direction, AZ pointing up from the disc\n"
               "  (default 0 0 1).\n";
        return wantsHelp(argc, args) ? 0 : 2;
    }
    if (v.empty())
        v = {0, 0, 10};
    if (v.size() == 3)
        v.insert(v.end(), {0, 0, 1});
    // The disc's z axis points into the disc: a height above it is a negative z.
    const CbVector3f discPoint(v[0], v[1], -v[2]), discAxis(v[3], v[4], -v[5]);
    const float toImageArea = static_cast<float>(ZoCPlanningFrame::c_fDiscToImageArea);
    const CyRay ray(discPoint * toImageArea, discAxis);

    const ZoCOrbal2DeviceConfig device;
    ZoCAcquisitionSteeringOrbal2Scanbody steering(device);
    Sequence gyration, orientation;
    const bool planned = steering.GetGyrationSequenceForUserDefinedRay(ray, gyration);
    CbMatrix4Rf trafo;
    CyRay solved;
    const bool oriented =
        steering.GetJointConfigurationForScanbodyOrientation(ray, orientation, trafo, 0.0f, solved);

    char line[200];
    std::snprintf(line, sizeof line,
                  "Scan-body plan (reference device): body top at (%.1f, %.1f) mm, %.1f mm above the disc, "
                  "axis (%.3f, %.3f, %.3f)\n",
                  v[0], v[1], v[2], v[3], v[4], v[5]);
    out << line;
    out << "Views on the cone around the axis" << (planned ? "" : " (the planning cannot plan)")
        << (planned && gyration.GetCount() < 8 ? " (ended early: a view is out of reach)" : "") << "\n";
    PrintSequence(out, gyration);
    printViewCheck(out, device, gyration, discPoint, discAxis);
    out << "Orientation view along the axis" << (oriented ? "" : " (out of reach)") << "\n";
    PrintSequence(out, orientation);
    if (oriented) {
        printViewCheck(out, device, orientation, discPoint, discAxis);
        std::snprintf(line, sizeof line,
                      "Solved view: from (%.1f, %.1f, %.1f) along (%.3f, %.3f, %.3f), image-area units\n",
                      solved.origin.x, solved.origin.y, solved.origin.z, solved.direction.x,
                      solved.direction.y, solved.direction.z);
        out << line;
    }
    return planned && oriented ? 0 : 1;
}

}  // namespace orbal2
