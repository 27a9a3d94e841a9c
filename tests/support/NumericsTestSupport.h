// Shared helpers of the numerics tests: literal matrices and vectors, log lines, objectives as lambdas.
#pragma once

#include "CapturingLogSink.h"
#include "ZoCNLSObjectiveFunction.h"
#include "ZoCNLSSolver.h"
#include "ZoTMatrix.h"
#include "ZoTVector.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

using Vec = ZoTVector<double>;
using Mat = ZoTMatrix<double>;
using Rows = std::vector<std::vector<double>>;
using Reals = std::vector<double>;
inline const double c_dInf = std::numeric_limits<double>::infinity();

inline Mat fromRows(const Rows& rows) {
    Mat m(static_cast<int>(rows.size()), rows.empty() ? 0 : static_cast<int>(rows.front().size()));
    for (int r = 0; r < m.rows; ++r)
        for (int c = 0; c < m.cols; ++c)
            m(r, c) = rows[r][c];
    return m;
}

inline Vec vectorOf(const Reals& values) {
    Vec v(static_cast<int>(values.size()));
    std::copy(values.begin(), values.end(), v.data);
    return v;
}

template <typename T>
std::vector<T> values(const ZoTVector<T>& v) {
    return std::vector<T>(v.data, v.data + v.size);
}

// Largest elementwise difference of two matrices (equal infinities differ by 0); 1e300 when their
// shapes differ or an entry is NaN.
inline double maxDifference(const Mat& a, const Mat& b) {
    double largest = a.rows != b.rows || a.cols != b.cols ? 1e300 : 0;
    for (int i = 0; largest < 1e300 && i < a.rows * a.cols; ++i) {
        const double d = a.data[i] == b.data[i] ? 0 : std::abs(a.data[i] - b.data[i]);
        largest = std::isnan(d) ? 1e300 : std::max(largest, d);
    }
    return largest;
}

// The solver's and the debug print's log entries, as narrow strings.
inline std::vector<std::string> logLines(ScopedLogCapture& capture) {
    std::vector<std::string> lines;
    for (const auto& m : capture.Sink().Messages("ZoCWinLog"))
        lines.emplace_back(m.begin(), m.end());
    return lines;
}

// A least-squares problem whose residuals a test gives as a function; counts the evaluations.
class LambdaObjective : public ZoCNLSObjectiveFunction {
  public:
    LambdaObjective(int n, int m, std::function<Vec(const Vec&)> f)
        : ZoCNLSObjectiveFunction(n, m), m_f(std::move(f)) {}
    LambdaObjective(int n, int m, const Rows& bounds, std::function<Vec(const Vec&)> f)
        : LambdaObjective(n, m, std::move(f)) {
        for (const auto& b : bounds)  // {index, lower, upper}
            AddBounds(static_cast<int>(b[0]), b[1], b[2]);
    }
    Vec Error(const Vec& x) override { return ++evaluations, m_f(x); }
    // Residual standard deviations when given, the base's default otherwise.
    Vec StdDev() override { return stdDev.empty() ? ZoCNLSObjectiveFunction::StdDev() : vectorOf(stdDev); }
    using ZoCNLSObjectiveFunction::errorFDDerivatives;
    using ZoCNLSObjectiveFunction::getCovariance;
    Reals stdDev;
    int evaluations = 0;

  private:
    std::function<Vec(const Vec&)> m_f;
};

}  // namespace testsupport
