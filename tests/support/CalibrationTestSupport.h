// Fixtures of the axis calibration suites: chains that register, noise, internals, files.
#pragma once

#include "AxisChain.h"
#include "CapturingLogSink.h"
#include "ZoCOrbal2AxisCalibration.h"
#include "ZoCOrbal2AxisCalibrationObjFunction.h"

#include <eigen3/Eigen/Dense>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <numeric>
#include <random>

class ZoCOrbal2AxisCalibrationObjFunctionTestAccess {
  public:
    using Objective = ZoCOrbal2AxisCalibrationObjFunction;
    static ZoTMatrix<double> getRelativeTransformation(const Objective& o,
                                                       const Objective::ZoSJointParams& joint, double value) {
        return o.getRelativeTransformation(joint, value);
    }
    static ZoTVector<double> trafoDist(const Objective& o, const ZoTMatrix<double>& p,
                                       const ZoTMatrix<double>& m) {
        return o.trafoDist(p, m);
    }
    static void setErrorsPerSample(Objective& o, int errors) { o.m_errorsPerSample = errors; }
};

class ZoCOrbal2AxisCalibrationTestAccess {
  public:
    static void log(const ZoCOrbal2AxisCalibration& c, const char* text) { c.log("%s", text); }
    static bool checkTrafos(const ZoCOrbal2AxisCalibration& c) { return c.checkTrafos(); }
    static std::string correlationEntryText(double value) {
        return ZoCOrbal2AxisCalibration::correlationEntryText(value);
    }
};

namespace calibtest {

// The chain whose calibrated parameters, as the driver reports them, are the simulation table.
ZoCOrbal2AxisChain SimulationTableChain();

// Normally distributed translation and turns about x, y, z after each registration (units, degrees).
struct NSRegistrationNoise {
    double rotationDegrees = 0.0, translationUnits = 0.0;
};

// camera -> disc of `chain` at `joints`, image-area units, with noise drawn from `rng`.
CbMatrix4Rf Registration(const ZoCOrbal2AxisChain& chain, const float joints[5],
                         const NSRegistrationNoise& noise, std::mt19937_64& rng);

ZoTMatrix<double> ToMatrix(const CbMatrix4Rf& m);  // element (r, c) = m(r, c)
inline ZoTVector<double> VectorOf(const std::vector<double>& values) {
    ZoTVector<double> v(static_cast<int>(values.size()));
    std::copy(values.begin(), values.end(), v.data);
    return v;
}
// The entries of a vector, or of a matrix in its storage order.
template <class T>
std::vector<T> Entries(const ZoTVector<T>& v) {
    return std::vector<T>(v.data, v.data + v.size);
}
inline std::vector<double> Entries(const ZoTMatrix<double>& m) {
    return std::vector<double>(m.data, m.data + m.rows * m.cols);
}
// A matrix as Eigen sees it (both store columns one after the other).
inline Eigen::Map<const Eigen::MatrixXd> AsEigen(const ZoTMatrix<double>& m) {
    return {m.data, m.rows, m.cols};
}
// The entries of `x` at the objective's free indices: the point its Jacobian takes.
inline ZoTVector<double> FreeOf(const ZoCNLSObjectiveFunction& o, const ZoTVector<double>& x) {
    ZoTVector<double> z(o.GetFreeVariablesIndices().size);
    for (int j = 0; j < z.size; ++j)
        z[j] = x[o.GetFreeVariablesIndices()[j]];
    return z;
}

// Decodes standard Base64 (line feeds skipped); independent of the library's encoder.
std::vector<uint8_t> DecodeBase64(const std::string& text);

// The fixed local time of the report tests: 2024-03-05 07:08:09.
inline std::tm FixedTime() {
    std::tm time{};
    time.tm_year = 124, time.tm_mon = 2, time.tm_mday = 5, time.tm_hour = 7, time.tm_min = 8, time.tm_sec = 9;
    return time;
}

std::string ReadFile(const std::string& path);
std::vector<std::string> Narrow(const std::vector<std::wstring>& lines);

// Changes into a directory for the lifetime of the object.
struct ScopedCurrentDirectory {
    explicit ScopedCurrentDirectory(const std::string& folder) { std::filesystem::current_path(folder); }
    ~ScopedCurrentDirectory() { std::filesystem::current_path(previous, ignored); }
    const std::filesystem::path previous = std::filesystem::current_path();
    std::error_code ignored;  // a previous folder gone by then is no failure of the test
};

// A fresh, empty scratch folder for one test, one per process (suites may run side by side);
// a log file `calibration.log` in one, set as the calibration's log.
std::string FreshDirectory(const std::string& name);
std::string LogToFreshDirectory(ZoCOrbal2AxisCalibration& calibration, const std::string& name);

// The first `count` entries of the default sequence, registered by `chain` without noise.
void AddDefaultSequence(ZoCOrbal2AxisCalibration& calibration, const ZoCOrbal2AxisChain& chain,
                        int count = 26);
inline ZoTVector<double> SequenceInput(int i) {
    const float* values = ZoCOrbal2AxisCalibration::c_defaultCalibrationSequence[i].values;
    return VectorOf(std::vector<double>(values, values + 5));
}

std::vector<std::string> Lines(const std::string& text);

}  // namespace calibtest
