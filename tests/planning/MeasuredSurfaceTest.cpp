// The planning's estimate from measured points alone and its gap covering, on a block on the plate.
#include "AcquisitionPlanningStore.h"
#include "MeasuredSurface.h"
#include "ViewPrediction.h"
#include "ZoOrbal2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

namespace {

using Planning = ZoCOrbal2AcquisitionPlanning;

// A 10 x 10 x 6 mm block: scannable are its top and its sides above the 1 mm clearance, 300 mm^2.
constexpr float c_fHalf = 5, c_fHeight = 6;
constexpr double c_dScannable = 100 + 4 * 10 * (c_fHeight - 1);

enum Face { eTop = 1, ePlusX = 2, eMinusX = 4, ePlusY = 8, eMinusY = 16, eAll = 31 };

// Points every 0.1 mm on the chosen faces, optionally leaving a square hole of side `hole` in the top.
std::vector<CbVector3f> block(int faces, float hole = 0) {
    std::vector<CbVector3f> points;
    for (float u = -c_fHalf; u <= c_fHalf + 1e-3f; u += 0.1f) {
        for (float v = -c_fHalf; v <= c_fHalf + 1e-3f; v += 0.1f)
            if ((faces & eTop) && !(std::fabs(u) < hole / 2 && std::fabs(v) < hole / 2))
                points.push_back({u, v, c_fHeight});
        for (float h = 0; h <= c_fHeight + 1e-3f; h += 0.1f)
            for (const auto& [face, p] : {std::pair{ePlusX, CbVector3f(c_fHalf, u, h)},
                                          {eMinusX, {-c_fHalf, u, h}},
                                          {ePlusY, {u, c_fHalf, h}},
                                          {eMinusY, {u, -c_fHalf, h}}})
                if (faces & face)
                    points.push_back(p);
    }
    return points;
}

MeasuredSurface built(const std::vector<CbVector3f>& points) {
    MeasuredSurface s;
    s.Build(points);
    return s;
}

}  // namespace

// Closed form within a few per cent (sides one column wide; a measured rim covers 0.5 mm beyond).
TEST(MeasuredSurface, EstimatesTheBlocksScannableAndCoveredAreaFromItsPointsAlone) {
    const std::tuple<int, double, double> cases[] = {
        {eAll, c_dScannable, 12}, {eTop, 100, 15}, {eTop | ePlusX, 150, 15}};
    for (const auto& [faces, covered, tolerance] : cases) {
        const MeasuredSurface surface = built(block(faces));
        EXPECT_NEAR(surface.ScannableArea(), c_dScannable, 12) << faces;
        EXPECT_NEAR(surface.CoveredArea(), covered, tolerance) << faces;
    }
    // A 4 mm hole in the top is closed over: the same surface, less covered by the hole's area
    // short of the rim its measured edge covers (between (4 - 1)^2 and 4^2 mm^2).
    const MeasuredSurface whole = built(block(eAll)), holed = built(block(eAll, 4));
    EXPECT_NEAR(holed.ScannableArea(), whole.ScannableArea(), 0.5);
    EXPECT_NEAR(whole.CoveredArea() - holed.CoveredArea(), 12.5, 3.5);
    const MeasuredSurface empty =
        built({{NAN, 0, 1}, {0, INFINITY, 1}, {0, 0, -2}, {1e30f, 0, 1}, {0, 0, 1e30f}});
    EXPECT_EQ(empty.ScannableArea(), 0.0);
    EXPECT_EQ(empty.Coverage(), 0.0);
    // Rebuilt from nothing usable, a relief forgets the block it held: the plate's clearance everywhere.
    MeasuredSurface rebuilt = built(block(eAll));
    rebuilt.Build({{NAN, 0, 1}});
    EXPECT_EQ(std::make_pair(rebuilt.Height(0, 0), rebuilt.ScannableArea()),
              std::make_pair(MeasuredSurface::c_fClearance, 0.0));
}

TEST(MeasuredSurface, HolesAreFoundWhereTheyAreAndTheBlockCastsShadows) {
    const MeasuredSurface surface = built(block(eAll, 4));
    double area = 0;
    CbVector3f centre(0, 0, 0);
    for (const MeasuredSurface::Patch& p : surface.UncoveredPatches()) {
        area += p.area;
        centre += p.point * p.area;
    }
    EXPECT_NEAR(area, 12.5, 3.5);  // the hole less its covered rim, as above
    // Deep inside the hole every triangle of the relief is missed whole: its patch sits at the
    // triangle's centroid, a third or two thirds of a column from the column centres (x, y = 0.25 + k/2).
    int whole = 0;
    for (const MeasuredSurface::Patch& p : surface.UncoveredPatches()) {
        if (std::fabs(p.point.x) > 0.8f || std::fabs(p.point.y) > 0.8f)
            continue;
        const float fx = 2 * (p.point.x - 0.25f) - std::floor(2 * (p.point.x - 0.25f)),
                    fy = 2 * (p.point.y - 0.25f) - std::floor(2 * (p.point.y - 0.25f));
        EXPECT_NEAR(fx + fy, 1, 0.01f) << p.point.x << ", " << p.point.y;
        EXPECT_NEAR(std::fabs(fx - fy), 1 / 3.0f, 0.01f) << p.point.x << ", " << p.point.y;
        ++whole;
    }
    EXPECT_GT(whole, 8);
    centre = centre * static_cast<float>(1 / area);
    EXPECT_LT(std::hypot(centre.x, centre.y), 0.3f);
    EXPECT_NEAR(centre.z, c_fHeight, 0.1f);
    // Beside the block at 2 mm height: a far eye on the same side sees it, one behind the block not.
    const CbVector3f beside(8, 0, 2);
    EXPECT_TRUE(surface.Unobstructed(beside, {150, 0, 60}));
    EXPECT_FALSE(surface.Unobstructed(beside, {-150, 0, 60}));
    EXPECT_TRUE(surface.Unobstructed(beside, {-8, 0, 200}));  // steep enough to pass over it
}

// Ramp z = 3 + 0.2 x + 0.3 y: the relief is the plane raised by a column's top (0.075..0.125 mm),
// on both triangles of a square; beside it the clearance; nothing near far off the grids.
TEST(MeasuredSurface, ReliefFollowsAMeasuredRamp) {
    std::vector<CbVector3f> ramp;
    for (float x = -5; x <= 5.001f; x += 0.1f)
        for (float y = -5; y <= 5.001f; y += 0.1f)
            ramp.push_back({x, y, 3 + 0.2f * x + 0.3f * y});
    const MeasuredSurface surface = built(ramp);
    for (const auto& [x, y] :
         {std::pair{0.3f, 0.1f}, {0.1f, 0.3f}, {-2.2f, 3.35f}, {3.4f, -1.15f}, {0.475f, 0.49f}})
        EXPECT_NEAR(surface.Height(x, y) - (3 + 0.2f * x + 0.3f * y), 0.1f, 0.03f) << x << ", " << y;
    EXPECT_EQ(surface.Height(40, 0), MeasuredSurface::c_fClearance);
    // One point per column at its low corner (exact multiples of a column from the box's edge):
    // the relief is the plane lowered by a quarter column times the slopes, on both triangles.
    std::vector<CbVector3f> steep;
    for (float x = -5; x <= 5; x += 0.5f)
        for (float y = -5; y <= 5; y += 0.5f)
            steep.push_back({x, y, 8 + 1.2f * x + 0.4f * y});
    const MeasuredSurface stepped = built(steep);
    for (const auto& [x, y] : {std::pair{0.45f, 0.35f}, {0.35f, 0.45f}, {-2.3f, 1.8f}, {2.85f, -3.55f}})
        EXPECT_NEAR(stepped.Height(x, y), 8 + 1.2f * x + 0.4f * y - 0.25f * (1.2f + 0.4f), 1e-3f) << x << ", " << y;
    EXPECT_TRUE(surface.IsNearMeasured({1, 1, 3.5f}));
    for (const CbVector3f& far : {CbVector3f(1, 1, 4.5f), {0, 150, 3}, {0, 0, 150}})
        EXPECT_FALSE(surface.IsNearMeasured(far));
    // A point alone covers alike across x and across y (offsets by whole voxels of a quarter millimetre).
    const MeasuredSurface dot = built({{0, 0, 3}});
    int near = 0;
    for (float a = 0.125f; a < 1; a += 0.25f)
        for (float b = 0.125f; b < 1; b += 0.25f) {
            EXPECT_EQ(dot.IsNearMeasured({a, b, 3.06f}), dot.IsNearMeasured({b, a, 3.06f})) << a << ", " << b;
            near += dot.IsNearMeasured({a, b, 3.06f});
        }
    EXPECT_GT(near, 2);
    EXPECT_LT(near, 16);
}

TEST(CollisionTree, CountsEveryNodeBelowItsRoot) {
    AxisNode root, leaf(3.0f);
    AxisNode& l1 = root.CreateNewChild();
    root.CreateNewChild();
    l1.CreateNewChild(), l1.CreateNewChild();
    EXPECT_EQ(std::pair(root.CountDescendants(), l1.CountDescendants()), std::pair(size_t{4}, size_t{2}));
    EXPECT_EQ(leaf.CountDescendants(), 0u);
}

// A jaw steering's planning holding one scan of `points` (plate frame) and a centre line along x.
struct Scanned {
    ZoCAcquisitionSteeringOrbal2Jaw steering{ZoCOrbal2DeviceConfig(), false, false, false};
    AcquisitionPlanningStore* store =
        dynamic_cast<AcquisitionPlanningStore*>(steering.GetAcquisitionPlanning());
    CbMatrix4Rf planning = store->PlanningTransformation().value(), toPlate = planning.Inverted();
    std::vector<float> xyz;
    Planning::NSScanRecord scan;
    explicit Scanned(const std::vector<CbVector3f>& points) {
        for (const CbVector3f& p : points) {
            const CbVector3f q = planning.TransformPoint(p);
            xyz.insert(xyz.end(), {q.x, q.y, q.z});
        }
        const float line[6] = {-10, 0, 6, 10, 0, 6};
        store->PutCenterLine({line, 6}, false);
        scan.points = xyz.data();
        scan.numPointFloats = static_cast<uint32_t>(xyz.size());
        scan.numPixelInts = 0xFFFFFFFFu;
        store->PutScan(scan);
    }
    CbVector3f plate(const float v[3], bool direction) const {
        return direction ? toPlate.TransformDirection({v[0], v[1], v[2]})
                         : toPlate.TransformPoint({v[0], v[1], v[2]});
    }
};

// A hole in the flat top faces straight up: the first view aims into it, turned about no side of its own.
TEST(GapCovering, LooksIntoAHoleInTheTopAlongItsUnbiasedNormal) {
    Scanned s(block(eAll, 4));
    Planning::NSEvaluationResult result;
    s.store->Evaluate(result);
    Planning::NSComputationResult computation;
    ASSERT_GE(s.store->GetNumberOfProposals(computation), 1);
    Planning::NSDHAxisConfiguration view;
    Planning::NSProposalInfo info;
    s.store->GetProposals(1, &view, &info);
    const CbVector3f target = s.plate(info.target, false), look = s.plate(info.viewDirection, true);
    EXPECT_TRUE(std::fabs(target.x) < 2 && std::fabs(target.y) < 2 && std::fabs(target.z - c_fHeight) < 0.1f);
    EXPECT_LT(std::fabs(look.y), 0.05f);
    EXPECT_LT(look.z, -0.3f);
}

TEST(GapCovering, AimsAtTheUnmeasuredSideAndNeverRepeatsAView) {
    Scanned s(block(eAll & ~ePlusX));  // everything but the +x side measured
    AcquisitionPlanningStore* store = s.store;
    Planning::NSScanRecord& scan = s.scan;
    Planning::NSEvaluationResult result;
    store->Evaluate(result);
    ASSERT_EQ(result.status, 0);
    EXPECT_NEAR(result.coverage, 250.0 / c_dScannable, 0.05);
    EXPECT_GE(result.q1, 1.0f);
    EXPECT_TRUE(result.q2 >= 0.25f && result.q2 <= 1.0f) << result.q2;
    Planning::NSComputationResult computation;
    ASSERT_GE(store->GetNumberOfProposals(computation), 1);
    Planning::NSDHAxisConfiguration best;
    best.values[0] = 12345;
    store->GetProposals(0, &best, nullptr);  // asked for none, nothing is written
    EXPECT_EQ(best.values[0], 12345);
    Planning::NSProposalInfo info;
    std::vector<float> points;
    store->GetProposals(1, &best, &info);
    store->GetProposalPoints(1, &points);
    // It looks at the +x side from the +x side, and the points it is to measure lie on that side.
    EXPECT_LT(s.plate(info.viewDirection, true).x, -0.3f);
    ASSERT_FALSE(points.empty());
    for (size_t k = 0; k < points.size(); k += 3)
        EXPECT_NEAR(s.plate(&points[k], false).x, c_fHalf, 0.5f);

    // Once recorded from there (measuring nothing new), no proposal comes within 2 degrees and 1 mm.
    std::copy(best.values, best.values + 5, scan.joints);
    store->PutScan(scan);
    store->Evaluate(result);
    std::vector<Planning::NSDHAxisConfiguration> later(
        static_cast<size_t>(store->GetNumberOfProposals(computation)));
    store->GetProposals(static_cast<int>(later.size()), later.data(), nullptr);
    for (const auto& c : later) {
        const float* v = c.values;
        EXPECT_FALSE(std::fabs(v[0] - best.values[0]) <= 1 && std::fabs(v[3] - best.values[3]) <= 1 &&
                     std::fabs(v[1] - best.values[1]) <= 2 && std::fabs(v[2] - best.values[2]) <= 2 &&
                     std::fabs(std::remainder(v[4] - best.values[4], 360.0f)) <= 2);
    }
    // A host that asks to stop gets "interrupted" from both operations.
    struct Stop : Planning::NSProgressCallback {
        bool GoOn() override { return false; }
    } stop;
    store->SetProgressCallback(&stop);
    store->Evaluate(result);
    EXPECT_EQ(result.status, 5);
    EXPECT_EQ(store->GetNumberOfProposals(computation), 0);
    EXPECT_EQ(computation.code, 3);
    store->SetProgressCallback(nullptr);

    // A sensor with a coordinate that is not a number gives no prediction; one whose up vector is
    // three times as long predicts the same view (a wide plane, partly inside the field).
    const Planning::NSSensorParameters camera = store->Camera().value(),
                                       projector = store->Projector().value();
    Planning::NSSensorParameters broken = camera, longUp = camera;
    broken.eye[1] = NAN;
    for (float& u : longUp.up)
        u *= 3;
    const auto records = store->JointParameters().value();
    const ViewPrediction exact(camera, projector, records.data()), scaled(longUp, projector, records.data());
    EXPECT_TRUE(exact.IsSetUp());
    EXPECT_FALSE(ViewPrediction(broken, projector, records.data()).IsSetUp());
    EXPECT_FALSE(ViewPrediction(camera, broken, records.data()).IsSetUp());
    const MeasuredSurface nothing;
    ViewPrediction::Pose pose;
    ASSERT_TRUE(exact.PoseAt(best.values, pose));
    std::string seen, seenScaled;  // '1' where the view measures the plane's point
    for (float x = -90; x <= 90; x += 3)
        for (float y = -90; y <= 90; y += 3) {
            seen += exact.Measures(pose, nothing, {x, y, 2}, {0, 0, 1}) ? '1' : '0';
            seenScaled += scaled.Measures(pose, nothing, {x, y, 2}, {0, 0, 1}) ? '1' : '0';
        }
    EXPECT_EQ(seenScaled, seen);
    EXPECT_TRUE(std::count(seen.begin(), seen.end(), '1') > 20 &&
                std::count(seen.begin(), seen.end(), '0') > 20);
}
