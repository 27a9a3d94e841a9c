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
        for (float h = 0; h <= c_fHeight + 1e-3f; h += 0.1f) {
            const CbVector3f sides[4] = {
                {c_fHalf, u, h}, {-c_fHalf, u, h}, {u, c_fHalf, h}, {u, -c_fHalf, h}};
            for (int k = 0; k < 4; ++k)
                if (faces & (ePlusX << k))
                    points.push_back(sides[k]);
        }
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
TEST(MeasuredSurface, EstimatesTheBlocksAreasHolesAndShadowsFromItsPointsAlone) {
    for (const auto& [faces, covered] : {std::pair{int{eAll}, c_dScannable}, {eTop | ePlusX, 150.0}}) {
        const MeasuredSurface surface = built(block(faces));
        EXPECT_NEAR(surface.ScannableArea(), c_dScannable, 12) << faces;
        EXPECT_NEAR(surface.CoveredArea(), covered, 15) << faces;
    }
    // A 4 mm hole is closed over; its patches hold its area short of the rim, deep inside at centroids.
    const MeasuredSurface holed = built(block(eAll, 4));
    MeasuredSurface rebuilt = built(block(eAll));
    EXPECT_NEAR(holed.ScannableArea(), rebuilt.ScannableArea(), 0.5);
    double area = 0;
    int whole = 0;
    // Offsets within half a column from the column centres 0.25 + k/2: centroids lie at 1/3 and 2/3.
    const auto offset = [](float c) { return 2 * (c - 0.25f) - std::floor(2 * (c - 0.25f)); };
    for (const MeasuredSurface::Patch& p : holed.UncoveredPatches()) {
        area += p.area;
        if (std::fabs(p.point.x) > 0.8f || std::fabs(p.point.y) > 0.8f)
            continue;
        const float fx = offset(p.point.x), fy = offset(p.point.y);
        EXPECT_NEAR(fx + fy, 1, 0.01f) << p.point.x << ", " << p.point.y;
        EXPECT_NEAR(std::fabs(fx - fy), 1 / 3.0f, 0.01f) << p.point.x << ", " << p.point.y;
        ++whole;
    }
    EXPECT_NEAR(area, 12.5, 3.5);
    EXPECT_GT(whole, 8);
    // A point beside the block is seen by a far eye on its side and a steep one, not by one behind the block.
    const auto sees = [&](const CbVector3f& eye) { return holed.Unobstructed({8, 0, 2}, eye) ? '1' : '0'; };
    EXPECT_EQ((std::string{sees({150, 0, 60}), sees({-8, 0, 200}), sees({-150, 0, 60})}), "110");
    // Rebuilt from nothing usable (not finite, under the plate, beyond reach), a relief forgets the block.
    rebuilt.Build({{NAN, 0, 1}, {0, INFINITY, 1}, {0, 0, -2}, {1e30f, 0, 1}, {0, 0, 1e30f}});
    EXPECT_EQ(std::make_tuple(rebuilt.Height(0, 0), rebuilt.ScannableArea(), rebuilt.Coverage()),
              std::make_tuple(MeasuredSurface::c_fClearance, 0.0, 0.0));
}

// Ramp z = 3 + 0.2 x + 0.3 y: the relief lies a column's top (0.075..0.125 mm) above it on both triangles.
TEST(MeasuredSurface, ReliefFollowsAMeasuredRamp) {
    const auto ramp = [](float step, float z0, float ax, float ay) {
        std::vector<CbVector3f> points;
        for (float x = -5; x <= 5.001f; x += step)
            for (float y = -5; y <= 5.001f; y += step)
                points.push_back({x, y, z0 + ax * x + ay * y});
        return built(points);
    };
    const MeasuredSurface surface = ramp(0.1f, 3, 0.2f, 0.3f), stepped = ramp(0.5f, 8, 1.2f, 0.4f);
    for (const auto& [x, y] : {std::pair{0.3f, 0.1f}, {0.1f, 0.3f}, {3.4f, -1.15f}, {0.475f, 0.49f}})
        EXPECT_NEAR(surface.Height(x, y) - (3 + 0.2f * x + 0.3f * y), 0.1f, 0.03f) << x << ", " << y;
    EXPECT_EQ(surface.Height(40, 0), MeasuredSurface::c_fClearance);
    // One point per column at its low corner: the plane lowered by a quarter column times the slopes (0.4).
    for (const auto& [x, y] : {std::pair{0.45f, 0.35f}, {0.35f, 0.45f}, {-2.3f, 1.8f}, {2.85f, -3.55f}})
        EXPECT_NEAR(stepped.Height(x, y), 8 + 1.2f * x + 0.4f * y - 0.4f, 1e-3f) << x << ", " << y;
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
    EXPECT_TRUE(near > 2 && near < 16) << near;
}

TEST(CollisionTree, CountsEveryNodeBelowItsRoot) {
    AxisNode root;
    AxisNode& l1 = root.CreateNewChild();
    root.CreateNewChild();
    l1.CreateNewChild(), l1.CreateNewChild();
    EXPECT_EQ(std::pair(root.CountDescendants(), l1.CountDescendants()), std::pair(size_t{4}, size_t{2}));
}

// Region indices sent though empty, then preparations alone: the planning keeps which lists came.
TEST(CenterLineRecord, KeepsWhichIndexListsTheHostSent) {
    const int indices[2] = {0, 3};
    AcquisitionPlanningStore store;
    store.PutCenterLine({nullptr, 0, indices, 0}, false);
    const bool roiAlone = store.CenterLine()->roiPresent && !store.CenterLine()->prepsPresent;
    store.PutCenterLine({nullptr, 0, nullptr, 0, indices, indices, 1}, false);
    EXPECT_TRUE(roiAlone && !store.CenterLine()->roiPresent && store.CenterLine()->prepsPresent);
}

// A jaw steering's planning holding one scan of `points` (plate frame) and a centre line along x, evaluated.
struct Scanned {
    ZoCAcquisitionSteeringOrbal2Jaw steering{ZoCOrbal2DeviceConfig(), false, false, false};
    AcquisitionPlanningStore* store =
        dynamic_cast<AcquisitionPlanningStore*>(steering.GetAcquisitionPlanning());
    CbMatrix4Rf planning = store->PlanningTransformation().value(), toPlate = planning.Inverted();
    std::vector<float> xyz;
    Planning::NSScanRecord scan;
    Planning::NSEvaluationResult result;
    Planning::NSComputationResult computation;
    Planning::NSDHAxisConfiguration best;
    Planning::NSProposalInfo info;
    explicit Scanned(const std::vector<CbVector3f>& points) {
        for (const CbVector3f& p : points)
            for (int k = 0; k < 3; ++k)
                xyz.push_back(planning.TransformPoint(p)[k]);
        const float line[6] = {-10, 0, 6, 10, 0, 6};
        store->PutCenterLine({line, 6}, false);
        scan.points = xyz.data();
        scan.numPointFloats = static_cast<uint32_t>(xyz.size());
        store->PutScan(scan);
        store->Evaluate(result);
        store->GetNumberOfProposals(computation);
        store->GetProposals(1, &best, &info);
    }
    CbVector3f point(const float* v) const { return toPlate.TransformPoint({v[0], v[1], v[2]}); }
    CbVector3f direction(const float* v) const { return toPlate.TransformDirection({v[0], v[1], v[2]}); }
};

// A hole in the flat top faces straight up: the first view aims into it, turned about no side of its own.
TEST(GapCovering, LooksIntoAHoleInTheTopAlongItsUnbiasedNormal) {
    const Scanned s(block(eAll, 4));
    ASSERT_GE(s.computation.numProposals, 1);
    const CbVector3f target = s.point(s.info.target), look = s.direction(s.info.viewDirection);
    EXPECT_TRUE(std::fabs(target.x) < 2 && std::fabs(target.y) < 2 && std::fabs(target.z - c_fHeight) < 0.1f);
    EXPECT_TRUE(std::fabs(look.y) < 0.05f && look.z < -0.3f) << look.y << ", " << look.z;
}

TEST(GapCovering, AimsAtTheUnmeasuredSideAndNeverRepeatsAView) {
    Scanned s(block(eAll & ~ePlusX));  // everything but the +x side measured
    AcquisitionPlanningStore* store = s.store;
    Planning::NSEvaluationResult& result = s.result;
    ASSERT_EQ(result.status, 0);
    EXPECT_NEAR(result.coverage, 250.0 / c_dScannable, 0.05);
    EXPECT_TRUE(result.q1 >= 1.0f && result.q2 >= 0.25f && result.q2 <= 1.0f);
    ASSERT_GE(s.computation.numProposals, 1);
    Planning::NSDHAxisConfiguration untouched{{12345}};
    store->GetProposals(0, &untouched, nullptr);  // asked for none, nothing is written
    EXPECT_EQ(untouched.values[0], 12345);
    std::vector<float> points;
    store->GetProposalPoints(1, &points);
    // It looks at the +x side from the +x side, and the points it is to measure lie on that side.
    EXPECT_LT(s.direction(s.info.viewDirection).x, -0.3f);
    ASSERT_FALSE(points.empty());
    for (size_t k = 0; k < points.size(); k += 3)
        EXPECT_NEAR(s.point(&points[k]).x, c_fHalf, 0.5f);
    // They are every uncovered patch (all on that side) of the relief of the points as stored (under 400).
    std::vector<CbVector3f> stored;
    for (size_t k = 0; k < s.xyz.size(); k += 3)
        stored.push_back(s.point(&s.xyz[k]));
    EXPECT_EQ(points.size(), 3 * built(stored).UncoveredPatches().size());

    // Once recorded from there (measuring nothing new), no proposal comes within 2 degrees and 1 mm.
    const float* best = s.best.values;
    std::copy(best, best + 5, s.scan.joints);
    store->PutScan(s.scan);
    store->Evaluate(result);
    std::vector<Planning::NSDHAxisConfiguration> later(
        static_cast<size_t>(store->GetNumberOfProposals(s.computation)));
    store->GetProposals(static_cast<int>(later.size()), later.data(), nullptr);
    for (const auto& c : later) {
        const float* v = c.values;
        EXPECT_FALSE(std::fabs(v[0] - best[0]) <= 1 && std::fabs(v[3] - best[3]) <= 1 &&
                     std::fabs(v[1] - best[1]) <= 2 && std::fabs(v[2] - best[2]) <= 2 &&
                     std::fabs(std::remainder(v[4] - best[4], 360.0f)) <= 2);
    }
    // A host that asks to stop gets "interrupted" from both operations.
    struct Stop : Planning::NSProgressCallback {
        bool GoOn() override { return false; }
    } stop;
    store->SetProgressCallback(&stop);
    store->Evaluate(result);
    const int interrupted = store->GetNumberOfProposals(s.computation);
    EXPECT_EQ(std::make_tuple(result.status, interrupted, s.computation.code), std::make_tuple(5, 0, 3));
    store->SetProgressCallback(nullptr);

    // A sensor at NaN predicts nothing; an up vector three times as long predicts the same view of a plane.
    const auto camera = store->Camera().value(), projector = store->Projector().value();
    Planning::NSSensorParameters broken = camera, longUp = camera;
    broken.eye[1] = NAN;
    for (float& u : longUp.up)
        u *= 3;
    const auto records = store->JointParameters().value();
    const ViewPrediction exact(camera, projector, records.data()), scaled(longUp, projector, records.data());
    EXPECT_TRUE(exact.IsSetUp() && !ViewPrediction(broken, projector, records.data()).IsSetUp() &&
                !ViewPrediction(camera, broken, records.data()).IsSetUp());
    const MeasuredSurface nothing;
    ViewPrediction::Pose pose;
    ASSERT_TRUE(exact.PoseAt(best, pose));
    int seen = 0;  // of the plane's 61 x 61 points
    for (float x = -90; x <= 90; x += 3)
        for (float y = -90; y <= 90; y += 3) {
            const bool measured = exact.Measures(pose, nothing, {x, y, 2}, {0, 0, 1});
            EXPECT_EQ(scaled.Measures(pose, nothing, {x, y, 2}, {0, 0, 1}), measured) << x << ", " << y;
            seen += measured;
        }
    EXPECT_TRUE(seen > 20 && seen < 61 * 61 - 20) << seen;
}
