// Building matrices and vectors from literal values, for the numerics tests.
#pragma once

#include "ZoCNLSObjectiveFunction.h"
#include "ZoTMatrix.h"
#include "ZoTVector.h"

#include <functional>
#include <utility>
#include <vector>

namespace testsupport {

inline ZoTMatrix<double> fromRows(const std::vector<std::vector<double>>& rows) {
    ZoTMatrix<double> m(static_cast<int>(rows.size()), static_cast<int>(rows.front().size()));
    for (int r = 0; r < m.rows; ++r)
        for (int c = 0; c < m.cols; ++c)
            m(r, c) = rows[r][c];
    return m;
}

inline ZoTVector<double> vectorOf(const std::vector<double>& values) {
    ZoTVector<double> v(static_cast<int>(values.size()));
    for (int i = 0; i < v.size; ++i)
        v[i] = values[i];
    return v;
}

// A least-squares problem whose residuals a test gives as a function.
class LambdaObjective : public ZoCNLSObjectiveFunction {
  public:
    using Residuals = std::function<ZoTVector<double>(const ZoTVector<double>&)>;
    LambdaObjective(int n, int m, Residuals f) : ZoCNLSObjectiveFunction(n, m), m_f(std::move(f)) {}
    ZoTVector<double> Error(const ZoTVector<double>& x) override { return m_f(x); }

  private:
    Residuals m_f;
};

}  // namespace testsupport
