// The planning's joint solver: the configuration of L1..L5, within the joint limits, at which the
// camera looks at a target point along a wanted view direction.
//
// What "looks at" means. Let f = -(eye . view) be the depth of the tilt centre (the origin of
// the camera frame) along the optical axis, the distance the sensor is set up to see sharp
// (150 mm on the reference device), F = eye + f * view the focus point, and r the measuring
// region's radius, a quarter of the smaller extent of the camera's field at depth f (19.5 mm on
// the reference device). At configuration q the camera looks at the target t along the direction
// v (both in the planning frame, carried into the disc) when
//  1. the view direction, carried into the disc at q, makes an angle of at most
//     max(tolerance, c_dAngleAccuracy) degrees with v; and
//  2. t lies within r of F: it appears in the central half of the image, within r of the
//     sharpest depth.
// The solver looks, within the joint limits, for the exact direction v with t as near to F as the
// limits allow (on F whenever they allow it). When v cannot be combined with t inside the region,
// it finds the least angle at which it can (bisection, to within tolerance / 4096); it succeeds
// when that angle is within the tolerance.
//
// Method. Bounded Levenberg-Marquardt over the five joints on six residuals: the target's offset
// from F (mm) and, weighted 100 times, f times the chord between the wanted and the camera's view
// direction, the chord shrunk by the allowed angle; then Gauss-Newton steps of the constrained
// problem (the direction first, the offset within what keeps it) finish near the floor of the
// narrow valley the weighting makes. Joints held at a limit by the gradient stay there. The kinematics are the axis chain's own. Runs start from the home configuration, then
// from the best of a 12 x 12 grid over L2 and L3, each with the disc angle that matches the
// wanted azimuth in closed form and with L1 and L4 placed by least squares (both move the disc
// along straight lines). Of the runs that meet the conditions, the one with t nearest F wins; a
// run that puts t on F ends the search.
#pragma once

#include "AcquisitionPlanning.h"
#include "AxisChain.h"

#include <array>

class JointSolver {
public:
    enum EStatus : int {
        eSolved = 0,
        eOutOfReach = 1,    // no configuration within the limits looks at the target within the tolerance
        eInvalidInput = 2,  // a non-finite value or a zero direction
        eNotSetUp = 3,      // camera, joint records or planning transformation missing or unusable
    };
    static constexpr double c_dPositionAccuracy = 1e-3;  // mm: a target this near F counts as on it
    static constexpr double c_dAngleAccuracy = 1e-3;     // degrees

    struct Result {
        int status = eNotSetUp;
        // The solved configuration; for a target out of reach, the nearest one found.
        float joints[5] = {0, 0, 0, 0, 0};
        float point[3] = {0, 0, 0};      // the camera's focus point F at the joints, planning frame
        float direction[3] = {0, 0, 0};  // the camera's view direction at the joints, planning frame
        double angleDegrees = 0;         // between the wanted and the solved direction
        double positionError = 0;        // mm, between the target and F
    };

    // From what the planning was handed. The chain is rebuilt from the five joint records: their
    // DH values are those at home, and the home value of each joint is the record's own joint
    // variable (theta of a revolute joint, d of a translational one), as on the reference device.
    JointSolver(const ZoCOrbal2AcquisitionPlanning::NSSensorParameters& camera,
                const ZoCOrbal2AcquisitionPlanning::NSJointParameter records[5], const CbMatrix4Rf& planning);
    // From a chain directly; the limits are the chain's.
    JointSolver(const ZoCOrbal2AxisChain& chain,
                const ZoCOrbal2AcquisitionPlanning::NSSensorParameters& camera, const CbMatrix4Rf& planning);

    bool IsSetUp() const { return m_bSetUp; }
    double GetWorkingDistance() const { return m_dWorkingDistance; }
    double GetRegionRadius() const { return m_dRegionRadius; }
    // `toleranceDegrees` below c_dAngleAccuracy (or not a number) asks for the exact direction.
    Result Solve(const float direction[3], const float point[3], float toleranceDegrees) const;

    // The chain the planning was given, as rebuilt from its records.
    static ZoCOrbal2AxisChain ChainFromRecords(
        const ZoCOrbal2AcquisitionPlanning::NSJointParameter records[5]);

private:
    void setUp(const ZoCOrbal2AcquisitionPlanning::NSSensorParameters& camera, const CbMatrix4Rf& planning);

    ZoCOrbal2AxisChain m_chain;
    bool m_bSetUp = false;
    std::array<double, 16> m_baseToCamera{};    // row-major
    std::array<double, 16> m_planningToDisc{};  // row-major, z of the disc already negated back
    std::array<double, 16> m_discToPlanning{};  // row-major
    std::array<double, 3> m_view{};
    std::array<double, 3> m_focus{};
    double m_dWorkingDistance = 0;
    double m_dRegionRadius = 0;
};
