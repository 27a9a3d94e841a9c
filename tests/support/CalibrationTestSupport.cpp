#include "CalibrationTestSupport.h"

#include "ReferenceDevice.h"
#include "TestSupport.h"

#include <fstream>
#include <sstream>

#include <unistd.h>

namespace calibtest {

ZoCOrbal2AxisChain SimulationTableChain() {
    using Joint = ZoCOrbal2DenavitHartenbergJoint;
    const auto& table = ZoCOrbal2AxisCalibrationObjFunction::m_simulationJointParams;
    std::array<Joint, 5> joints;
    for (int i = 0; i < 5; ++i)
        joints[static_cast<size_t>(i)] =
            Joint(static_cast<float>(table[i].theta), static_cast<float>(table[i].d),
                  static_cast<float>(table[i].a), static_cast<float>(table[i].alpha),
                  table[i].type == 'R' ? Joint::c_iRevolute : Joint::c_iTranslational,
                  ReferenceDevice::c_afMin[i], ReferenceDevice::c_afMax[i]);
    return ZoCOrbal2AxisChain(joints, ReferenceDevice::Home());
}

CbMatrix4Rf Registration(const ZoCOrbal2AxisChain& chain, const float joints[5],
                         const NSRegistrationNoise& noise, std::mt19937_64& rng) {
    const CbMatrix4Rf exact =
        chain.GetCamToDiscTransformation(ZoCOrbal2AxisChain::NCJointConfiguration(joints), true);
    std::normal_distribution<double> normal(0.0, 1.0);
    const double radians = noise.rotationDegrees * 3.14159265358979 / 180.0;
    float v[6];  // turns about x, y and z, then the translation
    for (int i = 0; i < 6; ++i)
        v[i] = static_cast<float>(normal(rng) * (i < 3 ? radians : noise.translationUnits));
    return exact * CbMatrix4Rf::Translation(v[3], v[4], v[5]) * CbMatrix4Rf::RotationX(v[0]) *
           CbMatrix4Rf::RotationY(v[1]) * CbMatrix4Rf::RotationZ(v[2]);
}

ZoTMatrix<double> ToMatrix(const CbMatrix4Rf& m) {
    ZoTMatrix<double> out(4);
    for (int i = 0; i < 16; ++i)
        out(i / 4, i % 4) = m(i / 4, i % 4);
    return out;
}

std::vector<uint8_t> DecodeBase64(const std::string& text) {
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/\n=";
    std::vector<uint8_t> bytes;
    uint32_t buffer = 0, bits = 0;
    for (char ch : text) {
        const size_t value = alphabet.find(ch);  // line feeds and padding carry no bits
        if (value == std::string::npos)
            return {};  // no character outside the alphabet may pass unnoticed
        if (value < 64)
            buffer = buffer << 6 | static_cast<uint32_t>(value), bits += 6;
        if (bits >= 8)
            bytes.push_back(static_cast<uint8_t>(buffer >> (bits -= 8)));
    }
    return bytes;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::string> Narrow(const std::vector<std::wstring>& lines) {
    std::vector<std::string> out;
    for (const std::wstring& line : lines)
        out.emplace_back(line.begin(), line.end());
    return out;
}

std::string FreshDirectory(const std::string& name) {
    const std::filesystem::path directory =
        std::filesystem::path(testsupport::ScratchDirectory()) / (name + "." + std::to_string(::getpid()));
    std::filesystem::remove_all(directory);
    std::filesystem::create_directories(directory);
    return directory.string();
}

std::string LogToFreshDirectory(ZoCOrbal2AxisCalibration& calibration, const std::string& name) {
    const std::string logFile = FreshDirectory(name) + "/calibration.log";
    calibration.SetLogfileName(std::wstring(logFile.begin(), logFile.end()).c_str());
    return logFile;
}

void AddDefaultSequence(ZoCOrbal2AxisCalibration& calibration, const ZoCOrbal2AxisChain& chain, int count) {
    std::mt19937_64 rng(1);
    for (int i = 0; i < count; ++i) {
        const float* joints = ZoCOrbal2AxisCalibration::c_defaultCalibrationSequence[i].values;
        calibration.AddInputResponse(joints, Registration(chain, joints, {}, rng));
    }
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        out.push_back(line);
    return out;
}

}  // namespace calibtest
