#include "ZoCLinearProgram.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
// The auxiliary variable must vanish to this accuracy for the programme to count as feasible.
constexpr double c_dAuxiliaryTolerance = 2.220446049250313e-16;
}  // namespace

ZoCLinearProgram::ZoCLinearProgram(const ZoTMatrix<double>& A, const ZoTVector<double>& b,
                                   const ZoTVector<double>& c)
    : numRows(A.rows),
      numCols(A.cols),
      tableau(A.rows, A.cols + A.rows),
      rhs(b),
      cost(A.cols + A.rows),
      objective(A.cols + A.rows) {
    for (int r = 0; r < numRows; ++r) {
        for (int j = 0; j < numCols; ++j)
            tableau(r, j) = A(r, j);
        tableau(r, numCols + r) = 1.0;
    }
    for (int j = 0; j < numCols && j < c.size; ++j)
        objective[j] = c[j];
}

bool ZoCLinearProgram::Solve() {
    if (status != eNotSolved)
        return status == eOptimal || status == eUnbounded;
    if (!initialise())
        return false;
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
    pivot(lowest, tableau.cols - 1);
    iterate();
    if (status != eOptimal)
        return false;  // pivot limit reached: not solved
    const int auxiliary = tableau.cols - 1;
    double auxiliaryValue = 0.0;
    for (int r = 0; r < numRows; ++r)
        if (basic[r] == auxiliary)
            auxiliaryValue = rhs[r];
    if (std::abs(auxiliaryValue) >= c_dAuxiliaryTolerance) {
        status = eInfeasible;
        return false;
    }
    dropAuxiliaryColumn();
    priceOut(objective);
    status = eInProgress;
    return true;
}

void ZoCLinearProgram::addAuxiliaryColumn() {
    ZoTMatrix<double> widened(numRows, tableau.cols + 1);
    for (int c = 0; c < tableau.cols; ++c)
        for (int r = 0; r < numRows; ++r)
            widened(r, c) = tableau(r, c);
    for (int r = 0; r < numRows; ++r)
        widened(r, tableau.cols) = -1.0;
    tableau = std::move(widened);
    ++numCols;
    nonbasic.push_back(tableau.cols - 1);
    cost = ZoTVector<double>(tableau.cols);
    cost[tableau.cols - 1] = -1.0;
}

// A basic auxiliary variable (at value 0) leaves the basis by a degenerate pivot on the largest
// coefficient of its row; then its column is dropped.
void ZoCLinearProgram::dropAuxiliaryColumn() {
    const int auxiliary = tableau.cols - 1;
    for (int r = 0; r < numRows; ++r) {
        if (basic[r] != auxiliary)
            continue;
        int best = -1;
        for (int v : nonbasic)
            if (v != auxiliary && (best < 0 || std::abs(tableau(r, v)) > std::abs(tableau(r, best))))
                best = v;
        if (best >= 0 && tableau(r, best) != 0.0)
            pivot(r, best);
    }
    nonbasic.erase(std::remove(nonbasic.begin(), nonbasic.end(), auxiliary), nonbasic.end());
    ZoTMatrix<double> narrowed(numRows, auxiliary);
    for (int c = 0; c < auxiliary; ++c)
        for (int r = 0; r < numRows; ++r)
            narrowed(r, c) = tableau(r, c);
    tableau = std::move(narrowed);
    --numCols;
}

// Reduced costs of a cost vector in the current basis.
void ZoCLinearProgram::priceOut(const ZoTVector<double>& costs) {
    cost = ZoTVector<double>(tableau.cols);
    for (int j = 0; j < tableau.cols && j < costs.size; ++j)
        cost[j] = costs[j];
    for (int r = 0; r < numRows; ++r) {
        const double factor = cost[basic[r]];
        if (factor == 0.0)
            continue;
        for (int j = 0; j < tableau.cols; ++j)
            cost[j] -= factor * tableau(r, j);
    }
}

// The entering and leaving rules are first-index rules, which do not rule out cycling on
// degenerate programmes; the pivot limit keeps such a programme from running forever.
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

// Far above the pivots a programme of this size needs (typically 2 to 3 per row).
int ZoCLinearProgram::maxPivots() const {
    return 1000 + 100 * (numRows + tableau.cols);
}

int ZoCLinearProgram::enteringVariable() const {
    for (int v : nonbasic)
        if (cost[v] > 0)
            return v;
    return -1;
}

int ZoCLinearProgram::leavingRow(int entering) const {
    int best = -1;
    double bestRatio = std::numeric_limits<double>::infinity();
    for (int r = 0; r < numRows; ++r) {
        const double coefficient = tableau(r, entering);
        const double ratio = coefficient > 0 ? rhs[r] / coefficient : std::numeric_limits<double>::infinity();
        if (ratio < bestRatio) {
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
    std::replace(nonbasic.begin(), nonbasic.end(), entering, basic[row]);
    basic[row] = entering;
}
