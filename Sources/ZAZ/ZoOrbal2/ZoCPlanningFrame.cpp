#include "ZoCPlanningFrame.h"

CbMatrix4Rf ZoCPlanningFrame::PlanningTransformation(const CbMatrix4Rf& camToDisc) {
    CbMatrix4Rf t = camToDisc;
    t.NegateRow(2);
    t.NegateColumn(1);
    t.Invert();
    return t;
}
