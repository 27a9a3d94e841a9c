// The frames the steerings move points between, in one place:
//   image area --(image-area-to-disc transform, then x 0.025)--> disc (millimetres)
//   disc (x, y, -z) --(planning transformation)--> planning frame.
// The calibration model works in image-area units and scales DH translations by the inverse
// factor, c_fDiscToImageArea.
#pragma once

#include "Geometry.h"

class ZoCPlanningFrame {
public:
    static constexpr float c_fImageAreaToDisc = 0.025f;
    static constexpr double c_fDiscToImageArea = 40.0;

    // Image-area point to disc: homogeneous transform, divide by w, scale by 0.025.
    static CbVector3f ImageAreaToDisc(const CbMatrix4Rf& imageAreaToDisc, const CbVector3f& p) {
        return imageAreaToDisc.TransformPoint(p) * c_fImageAreaToDisc;
    }
    // Disc point to planning frame: (x, y, -z) through the planning transformation, divided by w.
    static CbVector3f DiscToPlanning(const CbMatrix4Rf& planning, const CbVector3f& p) {
        return planning.TransformPoint(CbVector3f(p.x, p.y, -p.z));
    }
    // Planning frame back to disc: inverse planning transformation, then z negated.
    static CbVector3f PlanningToDisc(const CbMatrix4Rf& planningInverse, const CbVector3f& p) {
        CbVector3f q = planningInverse.TransformPoint(p);
        q.z = -q.z;
        return q;
    }
    // The planning transformation of a camera-to-disc transformation T: row 2 and column 1
    // negated (their common element keeps its sign), then inverted. Throws
    // CyExceptionNotInvertible on a zero determinant.
    static CbMatrix4Rf PlanningTransformation(const CbMatrix4Rf& camToDisc);
    // The rotation part of a transformation with each column scaled to unit length (a column
    // too short to normalise becomes zero): turns directions without scaling them.
    static CbMatrix4Rf NormalisedRotation(const CbMatrix4Rf& m);
};
