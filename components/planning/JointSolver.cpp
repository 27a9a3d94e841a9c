// The planning's joint solver; JointSolver.h says what it solves and how.
#include "JointSolver.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

using Vec3 = Eigen::Vector3d;
using Vec5 = Eigen::Matrix<double, 5, 1>;
using Vec6 = Eigen::Matrix<double, 6, 1>;
using Mat4 = Eigen::Matrix4d;
using Mat5 = Eigen::Matrix<double, 5, 5>;
using Mat65 = Eigen::Matrix<double, 6, 5>;
using RowMajor4 = Eigen::Matrix<double, 4, 4, Eigen::RowMajor>;

constexpr double c_dDegToRad = 3.14159265358979323846 / 180.0;
constexpr int c_iMaxIterations = 30;  // the valley walk of refine() does the rest
constexpr int c_iMaxDampingTries = 12;
constexpr int c_iRefineSteps = 12;
constexpr int c_iRestoreSteps = 4;
constexpr double c_dRankThreshold = 1e-3;  // relative singular value below which a direction is dropped
constexpr int c_iGridSteps = 12;           // over each of L2 and L3
constexpr int c_iNumGridStarts = 6;
constexpr int c_iNumBisectionSteps = 12;
// Difference step of the Jacobian (mm or degrees): far above the spacing of float joint values.
constexpr double c_dDifferenceStep = 1e-2;
// Weight of the direction against the offset: the direction is held, the offset minimised.
constexpr double c_dDirectionWeight = 100.0;

Mat4 fromRowMajor(const std::array<double, 16>& a) {
    return Eigen::Map<const RowMajor4>(a.data());
}

std::array<double, 16> toRowMajor(const Mat4& m) {
    std::array<double, 16> a{};
    Eigen::Map<RowMajor4>(a.data()) = m;
    return a;
}

Mat4 fromMatrix4Rf(const CbMatrix4Rf& m) {
    Mat4 out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out(r, c) = m(r, c);
    return out;
}

Vec3 fromFloats(const float* v) {
    return Vec3(v[0], v[1], v[2]);
}

// Chord between unit vectors at an angle, and back; the chord stays smooth where the angle is 0.
double chordOfAngle(double degrees) {
    return 2.0 * std::sin(0.5 * degrees * c_dDegToRad);
}
double angleOfChord(double chord) {
    return 2.0 * std::asin(std::min(1.0, 0.5 * chord)) / c_dDegToRad;
}

// Minimum-norm least squares of a * x = b, singular values below `threshold` times the largest
// dropped; `nullSpace`, when given, receives the directions so dropped. The matrix is padded to a
// square one so that the SVD needs no QR preconditioning.
Eigen::VectorXd leastSquares(const Eigen::MatrixXd& a, const Eigen::VectorXd& b, double threshold,
                             Eigen::MatrixXd* nullSpace = nullptr) {
    const Eigen::Index n = a.cols(), size = std::max(a.rows(), a.cols());
    Eigen::MatrixXd square = Eigen::MatrixXd::Zero(size, size);
    square.topLeftCorner(a.rows(), n) = a;
    Eigen::VectorXd rhs = Eigen::VectorXd::Zero(size);
    rhs.head(b.size()) = b;
    const Eigen::JacobiSVD<Eigen::MatrixXd, Eigen::NoQRPreconditioner> svd(
        square, Eigen::ComputeFullU | Eigen::ComputeFullV);
    const Eigen::VectorXd& sv = svd.singularValues();
    Eigen::Index rank = 0;
    while (rank < std::min(a.rows(), n) && sv[rank] > threshold * sv[0])
        ++rank;
    const Eigen::VectorXd x = svd.matrixV().leftCols(rank) *
                              (svd.matrixU().leftCols(rank).transpose() * rhs).cwiseQuotient(sv.head(rank));
    if (nullSpace)
        *nullSpace = svd.matrixV().block(0, rank, n, n - rank);
    return x.head(n);
}

// One configuration tried, with how well it views the target.
struct Candidate {
    Vec5 x = Vec5::Zero();
    double cost = std::numeric_limits<double>::max();
    double positionError = std::numeric_limits<double>::max();  // target to focus point, mm
    double angle = 180;                                         // degrees
    // The target within the measuring region and the direction within the allowed angle.
    bool Meets(double allowedDegrees, double region) const {
        return positionError <= region && angle <= allowedDegrees + JointSolver::c_dAngleAccuracy;
    }
};

// One solve: the target and the wanted direction carried into the disc, the chain and the camera.
class ViewProblem {
public:
    ViewProblem(const ZoCOrbal2AxisChain& chain, const Mat4& baseToCamera, const Vec3& view,
                const Vec3& focus, double workingDistance, const Vec3& target, const Vec3& direction)
        : m_chain(chain),
          m_baseToCamera(baseToCamera),
          m_view(view),
          m_focus(focus),
          m_dWorkingDistance(workingDistance),
          m_target(target),
          m_direction(direction) {
        ZoCOrbal2AxisChain::NCJointConfiguration home;
        m_chain.GetNeutralConfiguration(home);
        for (int j = 0; j < 5; ++j) {
            float lo = 0, hi = 0;
            m_chain.GetMinMaxPosition(j, lo, hi);
            m_lower[j] = std::min(lo, hi);
            m_upper[j] = std::max(lo, hi);
            m_home[j] = home[j];
        }
    }

    const Vec5& Lower() const { return m_lower; }
    const Vec5& Upper() const { return m_upper; }
    const Vec5& Home() const { return m_home; }
    double WorkingDistance() const { return m_dWorkingDistance; }
    Vec5 Clamp(const Vec5& x) const { return x.cwiseMax(m_lower).cwiseMin(m_upper); }

    // The chain's kinematics take float joint values, as requests carry them.
    Mat4 DiscToCamera(const Vec5& x) const {
        ZoCOrbal2AxisChain::NCJointConfiguration config;
        for (int j = 0; j < 5; ++j)
            config[j] = static_cast<float>(x[j]);
        return m_baseToCamera * fromRowMajor(m_chain.ForwardKinematics(config));
    }

    // The target's offset from the focus point (mm), and the weighted f times the chord between
    // the wanted and the camera's view direction, shrunk by `allowedChord` (zero inside the
    // allowed cone).
    Vec6 Residual(const Vec5& x, double allowedChord) const {
        const Mat4 m = DiscToCamera(x);
        const Vec3 offset = (m * m_target.homogeneous()).head<3>() - m_focus;
        const Vec3 miss = m.topLeftCorner<3, 3>() * m_direction - m_view;
        const double chord = miss.norm();
        const double shrink = chord > allowedChord ? (chord - allowedChord) / chord : 0.0;
        Vec6 r;
        r << offset, c_dDirectionWeight * m_dWorkingDistance * shrink * miss;
        return r;
    }

    // Central differences, one-sided at a limit; a joint without room keeps a zero column.
    Mat65 Jacobian(const Vec5& x, double allowedChord) const {
        Mat65 jac = Mat65::Zero();
        for (int j = 0; j < 5; ++j) {
            Vec5 plus = x, minus = x;
            plus[j] = std::min(x[j] + c_dDifferenceStep, m_upper[j]);
            minus[j] = std::max(x[j] - c_dDifferenceStep, m_lower[j]);
            const double span = plus[j] - minus[j];
            if (span <= 0)
                continue;
            jac.col(j) = (Residual(plus, allowedChord) - Residual(minus, allowedChord)) / span;
        }
        return jac;
    }

    Candidate Measure(const Vec5& x, double allowedChord) const {
        const Mat4 m = DiscToCamera(x);
        Candidate c;
        c.x = x;
        c.positionError = ((m * m_target.homogeneous()).head<3>() - m_focus).norm();
        c.angle = angleOfChord((m.topLeftCorner<3, 3>() * m_direction - m_view).norm());
        c.cost = Residual(x, allowedChord).squaredNorm();
        return c;
    }

    // Moves L1 and L4, both of which carry the disc along straight lines, so that the target
    // comes as near to the focus point as least squares allows; then clamps.
    Vec5 PlaceTranslations(Vec5 x) const {
        const Mat4 m = DiscToCamera(x);
        const Vec3 p0 = (m * m_target.homogeneous()).head<3>();
        Eigen::Matrix<double, 3, 2> a;
        for (int k = 0; k < 2; ++k) {
            Vec5 moved = x;
            moved[k == 0 ? 0 : 3] += 1.0;
            a.col(k) = (DiscToCamera(moved) * m_target.homogeneous()).head<3>() - p0;
        }
        const Eigen::VectorXd d = leastSquares(a, m_focus - p0, 1e-9);
        x[0] += d[0];
        x[3] += d[1];
        return Clamp(x);
    }

private:
    const ZoCOrbal2AxisChain& m_chain;
    Mat4 m_baseToCamera;
    Vec3 m_view;
    Vec3 m_focus;
    double m_dWorkingDistance;
    Vec3 m_target;
    Vec3 m_direction;
    Vec5 m_lower, m_upper, m_home;
};

// Gauss-Newton steps on the direction alone, of least joint motion: they take out the trace of
// direction error that the offset pulls into the weighted sum.
Vec5 restoreDirection(const ViewProblem& problem, Vec5 x, double allowedChord) {
    Vec3 r = problem.Residual(x, allowedChord).tail<3>();
    for (int step = 0; step < c_iRestoreSteps && r.norm() > 0; ++step) {
        const Eigen::MatrixXd jd = problem.Jacobian(x, allowedChord).bottomRows(3);
        // A unit vector's residual has two degrees of freedom: the third singular value is only
        // the curvature of the sphere and must not be inverted.
        const Vec5 next = problem.Clamp(x + leastSquares(jd, -r, c_dRankThreshold));
        const Vec3 rNext = problem.Residual(next, allowedChord).tail<3>();
        if (!(rNext.norm() < r.norm()))
            break;
        x = next;
        r = rNext;
    }
    return x;
}

// A step of the constrained problem at x over the free joints: first meet the linearised
// direction with the least motion, then move within what leaves it unchanged so that the target
// comes nearest the focus point.
Vec5 constrainedStep(const Mat65& jac, const Vec6& r, const std::vector<int>& free) {
    const int n = static_cast<int>(free.size());
    Eigen::MatrixXd jd(3, n), jp(3, n);
    for (int k = 0; k < n; ++k) {
        jd.col(k) = jac.block<3, 1>(3, free[static_cast<size_t>(k)]);
        jp.col(k) = jac.block<3, 1>(0, free[static_cast<size_t>(k)]);
    }
    Eigen::MatrixXd keep;
    const Eigen::VectorXd toward = leastSquares(jd, -r.tail<3>(), c_dRankThreshold, &keep);
    const Eigen::VectorXd z = leastSquares(jp * keep, -r.head<3>() - jp * toward, c_dRankThreshold);
    const Eigen::VectorXd step = toward + keep * z;
    Vec5 delta = Vec5::Zero();
    for (int k = 0; k < n; ++k)
        delta[free[static_cast<size_t>(k)]] = step[k];
    return delta;
}

// Levenberg-Marquardt creeps along the narrow, curved valley that the weighted direction makes.
// Near its floor, steps of the constrained problem, each followed by restoring the direction,
// walk the valley; a joint at a limit that a step would push out stays at the limit.
Vec5 refine(const ViewProblem& problem, Vec5 x, double allowedChord) {
    x = restoreDirection(problem, x, allowedChord);
    Vec6 r = problem.Residual(x, allowedChord);
    const double directionSlack =
        c_dDirectionWeight * problem.WorkingDistance() * chordOfAngle(0.1 * JointSolver::c_dAngleAccuracy);
    for (int step = 0; step < c_iRefineSteps; ++step) {
        const Mat65 jac = problem.Jacobian(x, allowedChord);
        std::vector<int> free{0, 1, 2, 3, 4};
        Vec5 delta = constrainedStep(jac, r, free);
        free.clear();
        for (int j = 0; j < 5; ++j) {
            const bool pushedOut =
                (x[j] <= problem.Lower()[j] && delta[j] < 0) || (x[j] >= problem.Upper()[j] && delta[j] > 0);
            if (!pushedOut && problem.Lower()[j] < problem.Upper()[j])
                free.push_back(j);
        }
        if (free.empty())
            break;
        if (free.size() < 5)
            delta = constrainedStep(jac, r, free);
        bool improved = false;
        for (double scale = 1.0; scale > 0.2 && !improved; scale *= 0.5) {
            const Vec5 next = restoreDirection(problem, problem.Clamp(x + scale * delta), allowedChord);
            const Vec6 rNext = problem.Residual(next, allowedChord);
            if (rNext.head<3>().norm() < r.head<3>().norm() &&
                rNext.tail<3>().norm() <= std::max(r.tail<3>().norm(), directionSlack)) {
                x = next;
                r = rNext;
                improved = true;
            }
        }
        if (!improved || r.head<3>().norm() <= JointSolver::c_dPositionAccuracy)
            break;
    }
    return x;
}

// Bounded Levenberg-Marquardt with Marquardt's scaling. A joint at a limit that the gradient
// pushes further out is held there for the step.
Candidate minimize(const ViewProblem& problem, const Vec5& start, double allowedChord) {
    Vec5 x = problem.Clamp(start);
    Vec6 r = problem.Residual(x, allowedChord);
    double cost = r.squaredNorm();
    double lambda = 1e-3;
    int stalls = 0;
    for (int it = 0; it < c_iMaxIterations && cost > 1e-14 && stalls < 3; ++it) {
        const Mat65 jac = problem.Jacobian(x, allowedChord);
        Vec5 g = jac.transpose() * r;
        Mat5 a = jac.transpose() * jac;
        for (int j = 0; j < 5; ++j) {
            const bool held = (x[j] <= problem.Lower()[j] && g[j] > 0) ||
                              (x[j] >= problem.Upper()[j] && g[j] < 0) ||
                              problem.Lower()[j] == problem.Upper()[j];
            if (!held)
                continue;
            a.row(j).setZero();
            a.col(j).setZero();
            a(j, j) = 1;
            g[j] = 0;
        }
        bool improved = false;
        for (int t = 0; t < c_iMaxDampingTries && !improved; ++t) {
            Mat5 damped = a;
            damped.diagonal() += lambda * (a.diagonal().array() + 1e-9).matrix();
            const Vec5 next = problem.Clamp(x - damped.ldlt().solve(g));
            const Vec6 rNext = problem.Residual(next, allowedChord);
            const double costNext = rNext.squaredNorm();
            if (costNext < cost) {
                stalls = cost - costNext < 1e-12 * cost ? stalls + 1 : 0;
                x = next;
                r = rNext;
                cost = costNext;
                lambda = std::max(lambda / 3, 1e-12);
                improved = true;
            } else {
                lambda *= 4;
            }
        }
        if (!improved)
            break;
    }
    return problem.Measure(refine(problem, x, allowedChord), allowedChord);
}

// Unit axis of the disc joint (L5) in the disc frame, from two evaluations of the kinematics:
// turning the disc by 90 degrees rotates disc directions about it. Zero for a disc that is not
// revolute.
Vec3 discAxis(const ViewProblem& problem, const Vec5& x) {
    Vec5 turned = x;
    turned[4] += 90.0;
    const Eigen::Matrix3d m = problem.DiscToCamera(x).topLeftCorner<3, 3>().transpose() *
                              problem.DiscToCamera(turned).topLeftCorner<3, 3>();
    const Vec3 axis(m(2, 1) - m(1, 2), m(0, 2) - m(2, 0), m(1, 0) - m(0, 1));
    return axis.norm() > 1e-6 ? axis.normalized() : Vec3::Zero();
}

// The disc angle that turns the wanted direction's azimuth about the disc axis onto that of the
// camera's view, for the tilts of x; the tilts alone decide whether the polar angles match.
double matchingDiscAngle(const ViewProblem& problem, const Vec5& x, const Vec3& axis, const Vec3& wanted,
                         const Vec3& view) {
    const Vec3 w = problem.DiscToCamera(x).topLeftCorner<3, 3>().transpose() * view;
    const Vec3 a = wanted - axis * axis.dot(wanted), b = w - axis * axis.dot(w);
    if (a.norm() < 1e-9 || b.norm() < 1e-9)
        return x[4];
    // Turning the disc by t multiplies its rotation from the right by Rot(axis, t), so the wanted
    // direction must be turned onto w about the axis.
    const double t = std::atan2(axis.dot(a.cross(b)), a.dot(b)) / c_dDegToRad;
    // Of the equivalent disc angles within the limits, the one nearest the disc's home.
    const double lo = problem.Lower()[4], hi = problem.Upper()[4], home = problem.Home()[4];
    double best = x[4] + t;
    for (int k = -2; k <= 2; ++k) {
        const double candidate = x[4] + t + 360.0 * k;
        if (candidate < lo || candidate > hi)
            continue;
        if (best < lo || best > hi || std::fabs(candidate - home) < std::fabs(best - home))
            best = candidate;
    }
    return best;
}

// The home configuration, then grid points over L2 and L3, each with the matching disc angle and
// with L1 and L4 placed, best first and no two in neighbouring grid cells.
std::vector<Vec5> startingPoints(const ViewProblem& problem, const Vec3& wanted, const Vec3& view) {
    struct Scored {
        Vec5 x;
        double cost;
        int i, k;
    };
    const Vec5 home = problem.Clamp(problem.Home());
    const Vec3 axis = discAxis(problem, home);
    std::vector<Scored> grid;
    for (int i = 0; i < c_iGridSteps; ++i)
        for (int k = 0; k < c_iGridSteps; ++k) {
            Vec5 x = home;
            x[1] = problem.Lower()[1] + (problem.Upper()[1] - problem.Lower()[1]) * (i + 0.5) / c_iGridSteps;
            x[2] = problem.Lower()[2] + (problem.Upper()[2] - problem.Lower()[2]) * (k + 0.5) / c_iGridSteps;
            if (axis.norm() > 0)
                x[4] = matchingDiscAngle(problem, x, axis, wanted, view);
            const Vec5 placed = problem.PlaceTranslations(problem.Clamp(x));
            grid.push_back({placed, problem.Residual(placed, 0).squaredNorm(), i, k});
        }
    std::stable_sort(grid.begin(), grid.end(),
                     [](const Scored& a, const Scored& b) { return a.cost < b.cost; });
    std::vector<Vec5> starts{problem.PlaceTranslations(home)};
    std::vector<const Scored*> taken;
    for (const Scored& s : grid) {
        if (static_cast<int>(taken.size()) == c_iNumGridStarts)
            break;
        const bool neighbour = std::any_of(taken.begin(), taken.end(), [&](const Scored* t) {
            return std::abs(t->i - s.i) <= 1 && std::abs(t->k - s.k) <= 1;
        });
        if (neighbour)
            continue;
        taken.push_back(&s);
        starts.push_back(s.x);
    }
    return starts;
}

// Of the runs from the starts that view the target within `allowedDegrees` and the region, the
// one that brings it nearest the focus point (a run that centres it ends the search); when none
// does, the run of least cost.
Candidate bestOf(const ViewProblem& problem, const std::vector<Vec5>& starts, double allowedDegrees,
                 double region) {
    const double allowedChord = allowedDegrees > 0 ? chordOfAngle(allowedDegrees) : 0.0;
    Candidate best, bestMeeting;
    bool meeting = false;
    for (const Vec5& start : starts) {
        const Candidate c = minimize(problem, start, allowedChord);
        if (c.Meets(allowedDegrees, region)) {
            if (!meeting || c.positionError < bestMeeting.positionError)
                bestMeeting = c;
            meeting = true;
            if (c.positionError <= JointSolver::c_dPositionAccuracy)
                break;
        } else if (c.cost < best.cost) {
            best = c;
        }
    }
    return meeting ? bestMeeting : best;
}

// When the wanted direction cannot be combined with the target in the region: the least angle,
// up to `tolerance`, at which it can. Bisection, each step warm-started from the last
// configuration that met its angle.
Candidate nearestReachable(const ViewProblem& problem, std::vector<Vec5> starts, const Candidate& exact,
                           double tolerance, double region) {
    starts.insert(starts.begin(), exact.x);
    Candidate found = bestOf(problem, starts, tolerance, region);
    if (!found.Meets(tolerance, region))
        return exact.cost <= found.cost ? exact : found;
    double lo = 0, hi = tolerance;
    for (int step = 0; step < c_iNumBisectionSteps; ++step) {
        const double mid = 0.5 * (lo + hi);
        const Candidate c = bestOf(problem, {found.x, starts[1]}, mid, region);
        if (c.Meets(mid, region)) {
            hi = mid;
            found = c;
        } else {
            lo = mid;
        }
    }
    return found;
}

}  // namespace

ZoCOrbal2AxisChain JointSolver::ChainFromRecords(
    const ZoCOrbal2AcquisitionPlanning::NSJointParameter records[5]) {
    std::array<ZoCOrbal2DenavitHartenbergJoint, 5> joints;
    float home[5];
    for (int j = 0; j < 5; ++j) {
        const ZoCOrbal2AcquisitionPlanning::NSJointParameter& r = records[j];
        joints[static_cast<size_t>(j)] = ZoCOrbal2DenavitHartenbergJoint(
            r.dh[0], r.dh[1], r.dh[2], r.dh[3], r.kind, r.minPosition, r.maxPosition);
        home[j] = r.kind == ZoCOrbal2DenavitHartenbergJoint::c_iRevolute ? r.dh[0] : r.dh[1];
    }
    return ZoCOrbal2AxisChain(joints, ZoCOrbal2AxisChain::NCJointConfiguration(home), true);
}

JointSolver::JointSolver(const ZoCOrbal2AcquisitionPlanning::NSSensorParameters& camera,
                         const ZoCOrbal2AcquisitionPlanning::NSJointParameter records[5],
                         const CbMatrix4Rf& planning)
    : m_chain(ChainFromRecords(records)) {
    setUp(camera, planning);
}

JointSolver::JointSolver(const ZoCOrbal2AxisChain& chain,
                         const ZoCOrbal2AcquisitionPlanning::NSSensorParameters& camera,
                         const CbMatrix4Rf& planning)
    : m_chain(chain) {
    setUp(camera, planning);
}

void JointSolver::setUp(const ZoCOrbal2AcquisitionPlanning::NSSensorParameters& camera,
                        const CbMatrix4Rf& planning) {
    const Vec3 eye = fromFloats(camera.eye);
    const Vec3 rawView = fromFloats(camera.view);
    ZoCOrbal2AxisChain::NCJointConfiguration home;
    const Mat4 p = fromMatrix4Rf(planning);
    if (!eye.allFinite() || !rawView.allFinite() || !(rawView.norm() > 0) || !p.allFinite() ||
        !m_chain.GetNeutralConfiguration(home))
        return;
    const Vec3 view = rawView.normalized();
    const double f = -eye.dot(view);
    // A camera that faces away from the tilt centre has no working distance.
    if (!(f > 0) || std::fabs(p.determinant()) < 1e-12)
        return;
    const double halfFov = 0.5 * camera.fov * c_dDegToRad;
    if (!(camera.width > 0 && camera.height > 0 && halfFov > 0 && halfFov < 1.5))
        return;
    const double focalPixels = 0.5 * camera.width / std::tan(halfFov);
    m_dRegionRadius = f * std::min(camera.width, camera.height) / (4.0 * focalPixels);

    // Camera to base: what the chain's camera-to-disc transformation adds to its kinematics.
    const Mat4 camToBase = fromRowMajor(m_chain.ForwardKinematics(home)) *
                           fromMatrix4Rf(m_chain.GetCamToDiscTransformation(home, false));
    // The planning transformation takes disc points as (x, y, -z).
    const Mat4 flipZ = Eigen::Vector4d(1, 1, -1, 1).asDiagonal();
    m_baseToCamera = toRowMajor(camToBase.inverse());
    m_discToPlanning = toRowMajor(p * flipZ);
    m_planningToDisc = toRowMajor(flipZ * p.inverse());
    for (int i = 0; i < 3; ++i) {
        m_view[static_cast<size_t>(i)] = view[i];
        m_focus[static_cast<size_t>(i)] = eye[i] + f * view[i];
    }
    m_dWorkingDistance = f;
    m_bSetUp = true;
}

JointSolver::Result JointSolver::Solve(const float direction[3], const float point[3],
                                       float toleranceDegrees) const {
    Result result;
    if (!m_bSetUp)
        return result;
    const Vec3 wantedDirection = fromFloats(direction), target = fromFloats(point);
    result.status = eInvalidInput;
    if (!wantedDirection.allFinite() || !target.allFinite() || !(wantedDirection.norm() > 0))
        return result;

    const Mat4 planningToDisc = fromRowMajor(m_planningToDisc);
    const Vec3 targetDisc = (planningToDisc * target.homogeneous()).head<3>();
    const Vec3 directionDisc = (planningToDisc.topLeftCorner<3, 3>() * wantedDirection).normalized();
    const Vec3 view(m_view[0], m_view[1], m_view[2]), focus(m_focus[0], m_focus[1], m_focus[2]);
    const ViewProblem problem(m_chain, fromRowMajor(m_baseToCamera), view, focus, m_dWorkingDistance,
                              targetDisc, directionDisc);
    const double tolerance = std::isfinite(toleranceDegrees)
                                 ? std::max(static_cast<double>(toleranceDegrees), c_dAngleAccuracy)
                                 : c_dAngleAccuracy;

    const std::vector<Vec5> starts = startingPoints(problem, directionDisc, view);
    Candidate best = bestOf(problem, starts, 0.0, m_dRegionRadius);
    if (!best.Meets(0.0, m_dRegionRadius) && tolerance > c_dAngleAccuracy)
        best = nearestReachable(problem, starts, best, tolerance, m_dRegionRadius);

    // The answer is given, and judged, at the float joint values a request carries.
    Vec5 solved;
    for (int j = 0; j < 5; ++j) {
        result.joints[j] = static_cast<float>(best.x[j]);
        solved[j] = result.joints[j];
    }
    const Candidate measured = problem.Measure(solved, 0.0);
    result.status = measured.Meets(tolerance, m_dRegionRadius) ? eSolved : eOutOfReach;
    result.angleDegrees = measured.angle;
    result.positionError = measured.positionError;

    const Mat4 cameraToDisc = problem.DiscToCamera(solved).inverse();
    const Mat4 discToPlanning = fromRowMajor(m_discToPlanning);
    const Vec3 pointPlanning = (discToPlanning * (cameraToDisc * focus.homogeneous())).head<3>();
    const Vec3 directionPlanning =
        (discToPlanning.topLeftCorner<3, 3>() * (cameraToDisc.topLeftCorner<3, 3>() * view)).normalized();
    for (int i = 0; i < 3; ++i) {
        result.point[i] = static_cast<float>(pointPlanning[i]);
        result.direction[i] = static_cast<float>(directionPlanning[i]);
    }
    return result;
}
