#include "ZoCPlanningFrame.h"

#include <cfloat>
#include <cmath>

CbMatrix4Rf ZoCPlanningFrame::PlanningTransformation(const CbMatrix4Rf& camToDisc) {
    CbMatrix4Rf t = camToDisc;
    t.NegateRow(2);
    t.NegateColumn(1);
    t.Invert();
    return t;
}

CbMatrix4Rf ZoCPlanningFrame::NormalisedRotation(const CbMatrix4Rf& m) {
    CbMatrix4Rf r;
    for (int c = 0; c < 3; ++c) {
        const CbVector3f column(m(0, c), m(1, c), m(2, c));
        const float squared = column.Dot(column);
        const CbVector3f unit = squared <= FLT_MIN ? CbVector3f() : column * (1.0f / std::sqrt(squared));
        for (int row = 0; row < 3; ++row) r(row, c) = unit[row];
    }
    return r;
}
