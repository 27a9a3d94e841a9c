#include "ZoCLinearProgram.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace {
// The auxiliary variable must vanish to this accuracy, relative to the largest right-hand side
// (at least 1), for the programme to count as feasible. Deliberately not the bare machine
// epsilon: a few pivots on integer data already leave w at one or two units of rounding on a
// programme whose feasible set is a single point, and an absolute 2.2e-16 then calls it
// infeasible. A truly infeasible programme with small integer data keeps w far above this.
constexpr double c_dAuxiliaryTolerance = 1000 * 2.220446049250313e-16;
// Tableau coefficients and reduced costs this close to zero are rounding noise of earlier
// pivots: a pivot on such a coefficient would divide by noise and throw the basis off the
// polytope, and a reduced cost of that size does not improve the objective.
constexpr double c_dPivotTolerance = 1e-11;
constexpr double c_dInfinity = std::numeric_limits<double>::infinity();

bool allFinite(const double* values, int count) {
    return std::all_of(values, values + count, [](double v) { return std::isfinite(v); });
}
}  // namespace

ZoCLinearProgram::ZoCLinearProgram(const ZoTMatrix<double>& A, const ZoTVector<double>& b,
                                   const ZoTVector<double>& c)
    : numRows(A.rows), numCols(A.cols) {
    if (b.size != A.rows)
        throw std::invalid_argument("ZoCLinearProgram: b must have one entry per row of A");
    if (c.size > A.cols)
        throw std::invalid_argument("ZoCLinearProgram: c has more entries than A has columns");
    tableau = ZoTMatrix<double>(numRows, numCols + numRows);
    rhs = b;
    initialRhs = b;
    cost = ZoTVector<double>(numCols + numRows);
    objective = ZoTVector<double>(numCols + numRows);
    for (int r = 0; r < numRows; ++r) {
        for (int j = 0; j < numCols; ++j)
            tableau(r, j) = A(r, j);
        tableau(r, numCols + r) = 1.0;
    }
    for (int j = 0; j < c.size; ++j)
        objective[j] = c[j];
    // A non-finite coefficient leaves the programme unsolvable; Solve() then reports false.
    finite = allFinite(A.data, A.rows * A.cols) && allFinite(b.data, b.size) && allFinite(c.data, c.size);
}

bool ZoCLinearProgram::Solve() {
    if (status == eNotSolved && finite && initialise())
        iterate();
    return status == eOptimal || status == eUnbounded;
}

ZoTVector<double> ZoCLinearProgram::GetSolution() const {
    const int numVariables = objective.size - numRows;
    ZoTVector<double> x(numVariables);
    if (static_cast<int>(basic.size()) != numRows)
        return x;  // not solved yet: all nonbasic
    for (int r = 0; r < numRows; ++r)
        if (basic[r] < numVariables)
            x[basic[r]] = rhs[r];
    return x;
}

// Starts from the slack basis when it is feasible (every right-hand side positive); otherwise
// solves the auxiliary programme "maximise -w" with w subtracted from every row, whose optimum
// is 0 exactly when the original programme has a feasible point, and continues from its basis.
// That programme is bounded (-w <= 0), so its simplex always ends optimal.
bool ZoCLinearProgram::initialise() {
    nonbasic.clear();
    basic.clear();
    for (int j = 0; j < numCols; ++j)
        nonbasic.push_back(j);
    for (int r = 0; r < numRows; ++r)
        basic.push_back(numCols + r);
    int lowest = -1;
    for (int r = 0; r < numRows; ++r)
        if (lowest < 0 || rhs[r] < rhs[lowest])
            lowest = r;
    if (lowest < 0 || rhs[lowest] > 0) {
        priceOut(objective);
        return true;
    }
    addAuxiliaryColumn();
    pivot(lowest, auxiliary);
    iterate();
    double auxiliaryValue = 0.0;
    for (int r = 0; r < numRows; ++r)
        if (basic[r] == auxiliary)
            auxiliaryValue = rhs[r];
    if (status != eOptimal) {
        status = eInProgress;  // pivot limit: the programme stays unsolved
        return false;
    }
    double scale = 1.0;
    for (int r = 0; r < numRows; ++r)
        scale = std::max(scale, std::abs(initialRhs[r]));
    if (std::abs(auxiliaryValue) >= c_dAuxiliaryTolerance * scale) {
        status = eInfeasible;
        return false;
    }
    dropAuxiliaryColumn();
    priceOut(objective);
    return true;
}

void ZoCLinearProgram::addAuxiliaryColumn() {
    auxiliary = tableau.cols;
    ZoTMatrix<double> widened(numRows, tableau.cols + 1);
    std::copy(tableau.data, tableau.data + numRows * tableau.cols, widened.data);
    for (int r = 0; r < numRows; ++r)
        widened(r, auxiliary) = -1.0;
    tableau = std::move(widened);
    ++numCols;
    nonbasic.push_back(auxiliary);
    cost = ZoTVector<double>(tableau.cols);
    cost[auxiliary] = -1.0;
}

// A basic auxiliary variable (at value 0) leaves the basis by a degenerate pivot on the largest
// coefficient of its row. A row without any such coefficient is a redundant constraint (0 = 0):
// the auxiliary variable stays basic there at 0, and no later pivot can move it because its row
// has no entry in any entering column. Its column is never priced in again.
void ZoCLinearProgram::dropAuxiliaryColumn() {
    for (int r = 0; r < numRows; ++r) {
        if (basic[r] != auxiliary)
            continue;
        int best = -1;
        for (int v : nonbasic)
            if (v != auxiliary && (best < 0 || std::abs(tableau(r, v)) > std::abs(tableau(r, best))))
                best = v;
        if (best >= 0 && std::abs(tableau(r, best)) > c_dPivotTolerance)
            pivot(r, best);
    }
    nonbasic.erase(std::remove(nonbasic.begin(), nonbasic.end(), auxiliary), nonbasic.end());
    --numCols;
}

// Reduced costs of a cost vector in the current basis.
void ZoCLinearProgram::priceOut(const ZoTVector<double>& costs) {
    cost = ZoTVector<double>(tableau.cols);
    for (int j = 0; j < costs.size; ++j)
        cost[j] = costs[j];
    for (int r = 0; r < numRows; ++r) {
        const double factor = cost[basic[r]];
        for (int j = 0; j < tableau.cols; ++j)
            cost[j] -= factor * tableau(r, j);
    }
}

// The entering variable has the smallest index among the improving ones (nonbasic is kept in
// increasing order) and ties of the ratio test go to the smallest basic index: Bland's rule,
// which cannot cycle on degenerate programmes. The pivot limit is a guard for rounding only.
void ZoCLinearProgram::iterate() {
    status = eInProgress;
    for (int pivots = 0; pivots < maxPivots(); ++pivots) {
        const int entering = enteringVariable();
        if (entering < 0) {
            status = eOptimal;
            return;
        }
        const int row = leavingRow(entering);
        if (row < 0) {
            status = eUnbounded;
            return;
        }
        pivot(row, entering);
    }
}

int ZoCLinearProgram::maxPivots() const {
    return 1000 + 100 * (numRows + tableau.cols);
}

int ZoCLinearProgram::enteringVariable() const {
    for (int v : nonbasic)
        if (cost[v] > c_dPivotTolerance)
            return v;
    return -1;
}

// Smallest ratio rhs / coefficient over the rows with a positive coefficient. On a tie the
// auxiliary variable leaves first (so that it ends nonbasic at exactly 0), then the smallest
// basic index.
int ZoCLinearProgram::leavingRow(int entering) const {
    auto leavingRank = [this](int r) { return basic[r] == auxiliary ? -1 : basic[r]; };
    int best = -1;
    double bestRatio = c_dInfinity;
    for (int r = 0; r < numRows; ++r) {
        const double coefficient = tableau(r, entering);
        if (!(coefficient > c_dPivotTolerance))
            continue;
        const double ratio = std::max(rhs[r], 0.0) / coefficient;
        if (ratio < bestRatio || (ratio == bestRatio && leavingRank(r) < leavingRank(best))) {
            bestRatio = ratio;
            best = r;
        }
    }
    return best;
}

void ZoCLinearProgram::pivot(int row, int entering) {
    const int width = tableau.cols;
    const double pivotValue = tableau(row, entering);
    for (int j = 0; j < width; ++j)
        tableau(row, j) /= pivotValue;
    rhs[row] /= pivotValue;
    tableau(row, entering) = 1.0;
    for (int r = 0; r < numRows; ++r) {
        const double factor = tableau(r, entering);
        if (r == row || factor == 0.0)
            continue;
        for (int j = 0; j < width; ++j)
            tableau(r, j) -= factor * tableau(row, j);
        rhs[r] -= factor * rhs[row];
        tableau(r, entering) = 0.0;
    }
    const double factor = cost[entering];
    for (int j = 0; j < width; ++j)
        cost[j] -= factor * tableau(row, j);
    cost[entering] = 0.0;
    // The leaving variable takes the entering one's place, keeping the list sorted.
    const int leaving = basic[row];
    nonbasic.erase(std::find(nonbasic.begin(), nonbasic.end(), entering));
    nonbasic.insert(std::lower_bound(nonbasic.begin(), nonbasic.end(), leaving), leaving);
    basic[row] = entering;
}
