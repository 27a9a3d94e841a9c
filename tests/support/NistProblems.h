// The NIST StRD nonlinear regression problems: reader and models (templates, for automatic differentiation).
#pragma once

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace nist {

// One model per distinct NIST model line; problems sharing a line share the enumerator.
// clang-format off
enum class EModel { eUnknown, eMisra1a, eChwirut, eLanczos, eGauss, eDanWood, eMisra1b, eKirby2, eHahn1,
                    eNelson, eMGH17, eMisra1c, eMisra1d, eRoszman1, eENSO, eMGH09, eThurber, eBoxBOD,
                    eRat42, eMGH10, eEckerle4, eRat43, eBennett5 };
// clang-format on

struct NSProblem {
    std::string name;        // file name without extension
    std::string difficulty;  // "Lower", "Average" or "Higher"
    EModel model = EModel::eUnknown;
    std::vector<double> start1, start2, certified;
    double certifiedRss = 0.0;
    std::vector<double> response;  // y, or log(y) for Nelson whose model is written for log[y]
    std::vector<double> x1, x2;    // predictors; x2 only for Nelson
    int NumParams() const { return static_cast<int>(certified.size()); }
    int NumObservations() const { return static_cast<int>(response.size()); }
};

// The 27 problems and their model lines, lower difficulty first.
inline const std::vector<std::pair<std::string, EModel>>& Problems() {
    using M = EModel;
    static const std::vector<std::pair<std::string, EModel>> c_problems = {
        {"Misra1a", M::eMisra1a},   {"Chwirut2", M::eChwirut}, {"Chwirut1", M::eChwirut},
        {"Lanczos3", M::eLanczos},  {"Gauss1", M::eGauss},     {"Gauss2", M::eGauss},
        {"DanWood", M::eDanWood},   {"Misra1b", M::eMisra1b},  {"Kirby2", M::eKirby2},
        {"Hahn1", M::eHahn1},       {"Nelson", M::eNelson},    {"MGH17", M::eMGH17},
        {"Lanczos1", M::eLanczos},  {"Lanczos2", M::eLanczos}, {"Gauss3", M::eGauss},
        {"Misra1c", M::eMisra1c},   {"Misra1d", M::eMisra1d},  {"Roszman1", M::eRoszman1},
        {"ENSO", M::eENSO},         {"MGH09", M::eMGH09},      {"Thurber", M::eThurber},
        {"BoxBOD", M::eBoxBOD},     {"Rat42", M::eRat42},      {"MGH10", M::eMGH10},
        {"Eckerle4", M::eEckerle4}, {"Rat43", M::eRat43},      {"Bennett5", M::eBennett5}};
    return c_problems;
}

inline std::vector<std::string> AllProblemNames() {
    std::vector<std::string> names;
    for (const auto& problem : Problems())
        names.push_back(problem.first);
    return names;
}

// The problem's model value at one observation, for parameters b (b[0] is NIST's b1).
template <typename T>
T Predict(EModel model, const T* b, double x, double x2 = 0.0) {
    using std::atan, std::cos, std::exp, std::pow, std::sin;
    const double pi = 3.14159265358979323846, w = 2.0 * pi * x;
    // clang-format off
    switch (model) {
        case EModel::eMisra1a: case EModel::eBoxBOD: return b[0] * (1.0 - exp(-b[1] * x));
        case EModel::eChwirut: return exp(-b[0] * x) / (b[1] + b[2] * x);
        case EModel::eLanczos: return b[0] * exp(-b[1] * x) + b[2] * exp(-b[3] * x) + b[4] * exp(-b[5] * x);
        case EModel::eGauss:
            return b[0] * exp(-b[1] * x) + b[2] * exp(-(x - b[3]) * (x - b[3]) / (b[4] * b[4])) +
                   b[5] * exp(-(x - b[6]) * (x - b[6]) / (b[7] * b[7]));
        case EModel::eDanWood: return b[0] * pow(x, b[1]);
        case EModel::eMisra1b: return b[0] * (1.0 - 1.0 / ((1.0 + b[1] * x / 2.0) * (1.0 + b[1] * x / 2.0)));
        case EModel::eKirby2: return (b[0] + b[1] * x + b[2] * x * x) / (1.0 + b[3] * x + b[4] * x * x);
        case EModel::eHahn1: case EModel::eThurber:
            return (b[0] + b[1] * x + b[2] * x * x + b[3] * x * x * x) /
                   (1.0 + b[4] * x + b[5] * x * x + b[6] * x * x * x);
        case EModel::eNelson: return b[0] - b[1] * x * exp(-b[2] * x2);
        case EModel::eMGH17: return b[0] + b[1] * exp(-x * b[3]) + b[2] * exp(-x * b[4]);
        case EModel::eMisra1c: return b[0] * (1.0 - pow(1.0 + 2.0 * b[1] * x, -0.5));
        case EModel::eMisra1d: return b[0] * b[1] * x / (1.0 + b[1] * x);
        case EModel::eRoszman1: return b[0] - b[1] * x - atan(b[2] / (x - b[3])) / pi;
        case EModel::eENSO: return b[0] + b[1] * cos(w / 12.0) + b[2] * sin(w / 12.0) + b[4] * cos(w / b[3]) +
                                   b[5] * sin(w / b[3]) + b[7] * cos(w / b[6]) + b[8] * sin(w / b[6]);
        case EModel::eMGH09: return b[0] * (x * x + x * b[1]) / (x * x + x * b[2] + b[3]);
        case EModel::eRat42: return b[0] / (1.0 + exp(b[1] - b[2] * x));
        case EModel::eMGH10: return b[0] * exp(b[1] / (x + b[2]));
        case EModel::eEckerle4: return (b[0] / b[1]) * exp(-0.5 * ((x - b[2]) / b[1]) * ((x - b[2]) / b[1]));
        case EModel::eRat43: return b[0] / pow(1.0 + exp(b[1] - b[2] * x), 1.0 / b[3]);
        case EModel::eBennett5: return b[0] * pow(b[1] + x, -1.0 / b[2]);
        case EModel::eUnknown: break;
    }
    // clang-format on
    return T(0.0);
}

// The smallest log relative error over all parameters: the number of digits every estimate
// shares with its certified value (15 for agreement to the last digit).
inline double MinimumLogRelativeError(const NSProblem& p, const std::vector<double>& b) {
    double lowest = 15.0;
    for (int i = 0; i < p.NumParams(); ++i) {
        const double lre = -std::log10(std::abs(b[i] - p.certified[i]) / std::abs(p.certified[i]));
        lowest = std::min(lowest, std::isfinite(lre)       ? std::max(0.0, lre)
                                  : b[i] == p.certified[i] ? 15.0
                                                           : 0.0);
    }
    return lowest;
}

// Reads one .dat file: header lines 1 to 60 ("bi = start1 start2 certified stddev", the certified RSS,
// the difficulty), then observations "y x [x2]". False when the file is missing or malformed.
inline bool Load(const std::string& directory, const std::string& name, NSProblem& p) {
    static const std::string c_rss = "Residual Sum of Squares:";
    std::ifstream in(directory + "/" + name + ".dat");
    p = NSProblem();
    p.name = name;
    for (const auto& [fileName, model] : Problems())
        p.model = name == fileName ? model : p.model;
    std::string line;
    for (int lineNumber = 1; std::getline(in, line); ++lineNumber) {
        std::istringstream fields(line);
        std::string word, equals;
        double a = 0, b = 0, c = 0;
        if (lineNumber > 60) {
            if (!(fields >> a >> b))
                continue;
            p.response.push_back(p.model == EModel::eNelson ? std::log(a) : a);
            p.x1.push_back(b);
            if (fields >> c)
                p.x2.push_back(c);
        } else if (line.rfind(c_rss, 0) == 0) {
            p.certifiedRss = std::stod(line.substr(c_rss.size()));
        } else if (line.find(" Level of Difficulty") != std::string::npos) {
            fields >> p.difficulty;
        } else if (fields >> word >> equals >> a >> b >> c && word.size() >= 2 && word[0] == 'b' &&
                   equals == "=") {
            p.start1.push_back(a);
            p.start2.push_back(b);
            p.certified.push_back(c);
        }
    }
    // The stored file's b1 (1.20196866396) suits an atan2 form; NIST's published value suits the arctan.
    if (p.model == EModel::eRoszman1 && !p.certified.empty())
        p.certified[0] = 2.0196866396E-01;
    return p.model != EModel::eUnknown && !p.certified.empty() && !p.response.empty();
}

}  // namespace nist
