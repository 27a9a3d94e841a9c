// orbal2: plans scans for the reference device and prints them. A thin front over the library.
#include "BuiltInModels.h"
#include "MainJobCommand.h"
#include "CalibrateCommand.h"
#include "GyrationCommand.h"
#include "PlanPrinter.h"
#include "SawCutsCommand.h"
#include "SimulatedSmartCamera.h"
#include "TrayCommand.h"
#include "ZoOrbal2.h"

#include <cstring>
#include <iostream>
#include <string>

namespace {

void printRotationPlan(std::ostream& out) {
    const ZoCOrbal2DeviceConfig device;
    ZoCAcquisitionSteeringOrbal2Rotation steering(device);
    SimulatedSmartCamera camera;
    ZoCOrbal2AxisChain::CJointPositionSequence seq;
    steering.GetJointConfigurationForRotation(camera, seq, 60.0f);
    out << "Rotation scan plan (reference device, tilt 60 degrees)\n";
    orbal2::PrintSequence(out, seq);
}

void printGyrationOrder(std::ostream& out) {
    ZoCRotScanJointSequenceGenerator generator(60.0f);
    const bool found = generator.Optimize(0.6666667f);
    int order[ZoCRotScanJointSequenceGenerator::c_iNumPositions];
    generator.GetBestOrder(order);
    out << "\nGyration order of the rotation-scan generator (tilt 60, L2 weight 2/3)"
        << (found ? "" : " - no order found") << "\n";
    out << "step  position      L2      L3\n";
    for (int i = 0; i < ZoCRotScanJointSequenceGenerator::c_iNumPositions; ++i) {
        float l2, l3;
        generator.GetPosition(i, l2, l3);
        char line[64];
        std::snprintf(line, sizeof line, "%4d  %8d  %6.1f  %6.1f\n", i, order[i], l2, l3);
        out << line;
    }
}

void printJawPlan(std::ostream& out) {
    const ZoCOrbal2DeviceConfig device;
    ZoCAcquisitionSteeringOrbal2Jaw steering(device, false, false, false);
    ZoCOrbal2AxisChain::CJointPositionSequence overview, alongLL;
    steering.GetJointConfigurationForOverview(overview);
    const ZoCOrbal2AxisChain::NCJointConfiguration start = steering.GetLastRequest().m_config;
    const float area = steering.ExtractLLFromSkeleton(orbal2::HorseshoeSkeleton(), -500.0f);
    bool tooHigh = false;
    const bool ok = steering.GetJointConfigurationAlongLL(alongLL, tooHigh);
    out << "\nJaw plan (built-in horseshoe skeleton: " << steering.GetNumberOfUsedPoints()
        << " jaw-line points, enclosed area " << area / 1600.0f << " mm^2)\n";
    out << "Overview ring\n";
    orbal2::PrintSequence(out, overview);
    out << "Scans along the jaw line" << (ok ? "" : (tooHigh ? " (model too high)" : " (no plan)")) << "\n";
    orbal2::PrintSequence(out, alongLL);
    char line[128];
    std::snprintf(line, sizeof line, "Travel time along the jaw line: %.2f s (from the end of the overview)\n",
                  orbal2::SequenceTravelTime(alongLL, start));
    out << line;
}

int usage(std::ostream& out, int code) {
    out << "usage: orbal2 [--sectioned] [--model FILE [--up AXIS]] | limit [...] | plans | calibrate | sawcuts |\n"
           "              gyration | scanbody | tray | --help\n"
           "  (no command)  a complete simulated scan of the built-in jaw model (or FILE: STL, PLY, OBJ;\n"
           "                orbal2 --model --help says more)\n"
           "  limit         the best coverage any plan reaches on the reference device (two minutes)\n"
           "  plans         the rotation scan plan, the gyration order and the jaw plans of a\n"
           "                built-in horseshoe-shaped arch on the reference device\n";
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "gyration") == 0)
        return orbal2::RunGyrationCommand(argc - 2, argv + 2, std::cout, std::cerr);
    if (argc > 1 && std::strcmp(argv[1], "scanbody") == 0)
        return orbal2::RunScanbodyCommand(argc - 2, argv + 2, std::cout, std::cerr);
    if (argc > 1 && std::strcmp(argv[1], "calibrate") == 0)
        return orbal2::RunCalibrateCommand(argc - 2, argv + 2, std::cout, std::cerr);
    if (argc > 1 && std::strcmp(argv[1], "sawcuts") == 0)
        return orbal2::RunSawCutsCommand(argc - 2, argv + 2, std::cout, std::cerr);
    if (argc > 1 && std::strcmp(argv[1], "tray") == 0)
        return orbal2::RunTrayCommand(argc - 2, argv + 2, std::cout, std::cerr);
    if (argc > 1 && std::strcmp(argv[1], "limit") == 0)
        return orbal2::RunLimitCommand(argc - 2, argv + 2, std::cout, std::cerr);
    if (argc == 1 || std::strcmp(argv[1], "--model") == 0 || std::strcmp(argv[1], "--sectioned") == 0)
        return orbal2::RunMainJobCommand(argc - 1, argv + 1, std::cout, std::cerr);
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) return usage(std::cout, 0);
    if (std::strcmp(argv[1], "plans") != 0) {
        std::cerr << "orbal2: unknown argument '" << argv[1] << "'\n";
        return usage(std::cerr, 2);
    }
    try {
        printRotationPlan(std::cout);
        printGyrationOrder(std::cout);
        printJawPlan(std::cout);
    } catch (const std::exception& e) {
        std::cerr << "orbal2: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
