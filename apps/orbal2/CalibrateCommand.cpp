#include "CalibrateCommand.h"

#include "ReferenceDevice.h"
#include "ZoOrbal2.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>

namespace orbal2 {
namespace {

constexpr const char* c_szLogFile = "orbal2-calibration.log";
constexpr uint64_t c_uNoiseSeed = 4711;
constexpr double c_dPi = 3.14159265358979;

using Objective = ZoCOrbal2AxisCalibrationObjFunction;

int usage(std::ostream& out, int code) {
    out << "usage: orbal2 calibrate [--noise SIZE]\n"
           "  Records the default calibration sequence on a perturbed device, calibrates the\n"
           "  reference device's steering with the registrations and prints true and estimated\n"
           "  joint parameters with their standard deviations. SIZE (default 0) is the\n"
           "  registration noise per axis: SIZE millimetres of translation and SIZE degrees of\n"
           "  rotation (normal, fixed seed). Writes "
        << c_szLogFile
        << " (new) and the checker file\n"
           "  CaliQ7-000000-\?\?\?-<time>.log into the working directory.\n";
    return code;
}

// Parses the arguments after "calibrate"; false with a message on anything else.
bool parseArguments(int argc, const char* const* args, double& noise, bool& help, std::ostream& err) {
    noise = 0.0;
    help = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = args[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--noise") {
            if (i + 1 >= argc) {
                err << "orbal2 calibrate: --noise needs a size\n";
                return false;
            }
            const char* text = args[++i];
            char* end = nullptr;
            errno = 0;
            noise = std::strtod(text, &end);
            if (end == text || *end != '\0' || errno != 0 || !std::isfinite(noise) || noise < 0.0) {
                err << "orbal2 calibrate: the noise size must be a non-negative number, not '" << text
                    << "'\n";
                return false;
            }
        } else {
            err << "orbal2 calibrate: unknown argument '" << arg << "'\n";
            return false;
        }
    }
    return true;
}

// The perturbed device: the simulation table's records at the home configuration, so that
// its calibrated parameters, counted from home as the calibration reports them, are the table.
ZoCOrbal2AxisChain perturbedDevice() {
    using Joint = ZoCOrbal2DenavitHartenbergJoint;
    std::array<Joint, 5> joints;
    for (int i = 0; i < 5; ++i) {
        const Objective::ZoSJointParams& p = Objective::m_simulationJointParams[i];
        joints[static_cast<size_t>(i)] =
            Joint(static_cast<float>(p.theta), static_cast<float>(p.d), static_cast<float>(p.a),
                  static_cast<float>(p.alpha), p.type == 'R' ? Joint::c_iRevolute : Joint::c_iTranslational,
                  ReferenceDevice::c_afMin[i], ReferenceDevice::c_afMax[i]);
    }
    return ZoCOrbal2AxisChain(joints, ReferenceDevice::Home());
}

// The registration, followed by a small rigid motion: rotation about a normally distributed
// rotation vector (degrees per axis), normally distributed translation (mm per axis).
CbMatrix4Rf noisyRegistration(const ZoCOrbal2AxisChain& device, const float joints[5], double noise,
                              std::mt19937_64& rng) {
    const CbMatrix4Rf exact =
        device.GetCamToDiscTransformation(ZoCOrbal2AxisChain::NCJointConfiguration(joints), true);
    if (noise == 0.0)
        return exact;
    std::normal_distribution<double> normal(0.0, noise);
    const float rx = static_cast<float>(normal(rng) * c_dPi / 180.0);
    const float ry = static_cast<float>(normal(rng) * c_dPi / 180.0);
    const float rz = static_cast<float>(normal(rng) * c_dPi / 180.0);
    const float tx = static_cast<float>(normal(rng) * 40.0);
    const float ty = static_cast<float>(normal(rng) * 40.0);
    const float tz = static_cast<float>(normal(rng) * 40.0);
    return exact * CbMatrix4Rf::Translation(tx, ty, tz) * CbMatrix4Rf::RotationZ(rz) *
           CbMatrix4Rf::RotationY(ry) * CbMatrix4Rf::RotationX(rx);
}

void recordCalibrationScan(ZoCAcquisitionSteeringOrbal2& steering, double noise) {
    const ZoCOrbal2AxisChain device = perturbedDevice();
    std::mt19937_64 rng(c_uNoiseSeed);
    ZoCOrbal2AxisChain::CJointPositionSequence sequence;
    steering.GetDefaultCalibrationSequence(sequence);
    for (int i = 0; i < sequence.GetCount(); ++i) {
        CString name;
        name.Format(L"%03d_K0_%d", ZoCAcquisitionSteeringOrbal2::GetNewRequestNumber(), i);
        steering.AssociateRequestAndDHParameters(name, sequence[i].m_config.Data());
        const GUID image = CreateGuid();
        steering.AssociateRequestAndImageSourceID(name, image);
        steering.AddToCalibrationSet(image,
                                     noisyRegistration(device, sequence[i].m_config.Data(), noise, rng));
    }
}

void printParameters(ZoCOrbal2AxisCalibration& calibration, std::ostream& out) {
    static const char* const c_names[4] = {"theta", "d", "a", "alpha"};
    char line[160];
    std::snprintf(line, sizeof line, "%-6s %-6s %12s %12s %12s %9s\n", "joint", "param", "true", "estimated",
                  "stddev", "dev/sd");
    out << line;
    for (int j = 0; j < 5; ++j) {
        const Objective::ZoSJointParams& p = Objective::m_simulationJointParams[j];
        const double truth[4] = {p.theta, p.d, p.a, p.alpha};
        double value[4], deviation[4];
        calibration.GetJointParameters(j, value[0], value[1], value[2], value[3]);
        calibration.GetJointParametersStdDev(j, deviation[0], deviation[1], deviation[2], deviation[3]);
        for (int k = 0; k < 4; ++k) {
            if (deviation[k] > 0.0)
                std::snprintf(line, sizeof line, "L%-5d %-6s %12.5f %12.5f %12.5f %9.2f\n", j + 1, c_names[k],
                              truth[k], value[k], deviation[k], (value[k] - truth[k]) / deviation[k]);
            else
                std::snprintf(line, sizeof line, "L%-5d %-6s %12.5f %12.5f %12s %9s\n", j + 1, c_names[k],
                              truth[k], value[k], "fixed", "");
            out << line;
        }
    }
}

}  // namespace

int RunCalibrateCommand(int argc, const char* const* args, std::ostream& out, std::ostream& err) {
    double noise = 0.0;
    bool help = false;
    if (!parseArguments(argc, args, noise, help, err))
        return usage(err, 2);
    if (help)
        return usage(out, 0);

    std::error_code ignored;
    std::filesystem::remove(c_szLogFile, ignored);
    const ZoCOrbal2DeviceConfig reference;
    ZoCAcquisitionSteeringOrbal2Rotation steering(reference);
    recordCalibrationScan(steering, noise);
    ZoCOrbal2AxisCalibration& calibration = *steering.GetAxisCalibration();
    // One time for the whole calibration, so that the checker file's name is known here.
    const std::tm now = ZoCOrbal2AxisCalibration::LocalTimeNow();
    calibration.SetClock([now] { return now; });
    const CString logFile(std::wstring(c_szLogFile, c_szLogFile + std::strlen(c_szLogFile)));
    calibration.SetLogfileName(logFile);  // the run's own comparison goes to the log as well
    steering.RunAxisCalibration(logFile, nullptr);

    char checker[64];
    std::strftime(checker, sizeof checker, "CaliQ7-000000-\?\?\?-%Y%m%d_%H%M%S.log", &now);
    const ZoCNLSSolver::EResult result = calibration.GetResult();
    out << "Axis calibration of the reference device against a perturbed device ("
        << calibration.GetCalibrationSet().size() << " registrations, noise " << noise
        << " mm and degrees per axis)\n";
    out << "solver: " << ZoCNLSSolver::ResultText(result) << ", residual RMSE " << calibration.GetRMSE()
        << " image-area units\n\n";
    printParameters(calibration, out);
    out << "\nwritten: " << c_szLogFile << ", " << checker << "\n";
    const bool success = result == ZoCNLSSolver::eSmallGradient || result == ZoCNLSSolver::eSmallStepSize ||
                         result == ZoCNLSSolver::eLSFailed;
    if (!success)
        err << "orbal2 calibrate: the calibration failed\n";
    return success ? 0 : 1;
}

}  // namespace orbal2
