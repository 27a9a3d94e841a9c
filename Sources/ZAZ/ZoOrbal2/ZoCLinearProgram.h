// Dense tableau simplex for small linear programmes:
//     maximise c^T x  subject to  A x <= b,  x >= 0
// with q rows and k variables. The slack of row i is variable k + i; problem variables and
// slacks share one numbering. Used to find a feasible start for the least-squares solver and
// to ask whether the inequalities bound a parameter.
#pragma once

#include "ZoTMatrix.h"
#include "ZoTVector.h"

#include <vector>

class ZoCLinearProgram {
  public:
    enum EStatus { eNotSolved = -2, eInfeasible = -1, eInProgress = 0, eOptimal = 1, eUnbounded = 2 };

    // b needs one entry per row of A (std::invalid_argument otherwise); c may be shorter than
    // the number of columns (missing costs are 0) but not longer.
    ZoCLinearProgram(const ZoTMatrix<double>& A, const ZoTVector<double>& b, const ZoTVector<double>& c);

    // Runs the initialisation phase and the simplex; true when the status is then optimal or
    // unbounded. Non-finite data leave it "not solved"; a programme that rounding drives past
    // the pivot limit stays "in progress".
    bool Solve();
    int GetStatus() const { return status; }
    // The k problem variables: the right-hand side of its row for a basic one, else 0.
    ZoTVector<double> GetSolution() const;

  private:
    int numRows;
    int numCols;                   // non-slack columns, one more while the auxiliary column exists
    std::vector<int> nonbasic;     // numCols entries
    std::vector<int> basic;        // numRows entries, the basic variable of each row
    ZoTMatrix<double> tableau;     // numRows x (all columns), unit columns for basic variables
    ZoTVector<double> rhs;         // numRows
    ZoTVector<double> initialRhs;  // b as given, the scale of the feasibility test
    ZoTVector<double> cost;        // reduced costs over all columns (0 for basic ones)
    ZoTVector<double> objective;   // the programme's own cost vector c, padded with zeros
    int status = eNotSolved;
    int auxiliary = -1;  // column of the initialisation phase's variable w, -1 without one
    bool finite = true;

    bool initialise();
    void iterate();
    void pivot(int row, int entering);
    void addAuxiliaryColumn();
    void dropAuxiliaryColumn();
    void priceOut(const ZoTVector<double>& costs);
    int enteringVariable() const;
    int leavingRow(int entering) const;
    int maxPivots() const;
};
