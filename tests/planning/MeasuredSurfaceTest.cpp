// The planning's estimate from measured points alone, and its gap covering, on a block standing on
// the plate whose areas are known in closed form.
#include "AcquisitionPlanningStore.h"
#include "MeasuredSurface.h"
#include "ViewPrediction.h"
#include "ZoOrbal2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

// A block of 10 x 10 mm and 6 mm high on the plate, centred on the disc. Its scannable surface is
// the top (100 mm^2) and the four sides above the 1 mm clearance (4 x 10 x 5 mm^2): 300 mm^2.
constexpr float c_fHalf = 5, c_fHeight = 6, c_fStep = 0.1f;
constexpr double c_dScannable = 100 + 4 * 10 * (c_fHeight - 1);

enum Face { eTop = 1, ePlusX = 2, eMinusX = 4, ePlusY = 8, eMinusY = 16, eAll = 31 };

// Points every 0.1 mm on the chosen faces, optionally leaving a square hole of side `hole` in the top.
std::vector<CbVector3f> block(int faces, float hole = 0) {
    std::vector<CbVector3f> points;
    for (float u = -c_fHalf; u <= c_fHalf + 1e-3f; u += c_fStep) {
        for (float v = -c_fHalf; v <= c_fHalf + 1e-3f; v += c_fStep)
            if ((faces & eTop) && !(std::fabs(u) < hole / 2 && std::fabs(v) < hole / 2))
                points.push_back({u, v, c_fHeight});
        for (float h = 0; h <= c_fHeight + 1e-3f; h += c_fStep) {
            if (faces & ePlusX) points.push_back({c_fHalf, u, h});
            if (faces & eMinusX) points.push_back({-c_fHalf, u, h});
            if (faces & ePlusY) points.push_back({u, c_fHalf, h});
            if (faces & eMinusY) points.push_back({u, -c_fHalf, h});
        }
    }
    return points;
}

}  // namespace

TEST(MeasuredSurface, EstimatesTheBlocksScannableAndCoveredAreaFromItsPointsAlone) {
    struct Case {
        const char* name;
        int faces;
        double covered;  // mm^2 in closed form
        double tolerance;
    };
    // The relief's sides are one column wide, so areas are right to a few per cent; a rim of
    // measured points covers half a millimetre into an unmeasured side.
    const Case cases[] = {
        {"every face", eAll, c_dScannable, 12},
        {"top only", eTop, 100, 15},
        {"top and one side", eTop | ePlusX, 150, 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MeasuredSurface surface;
        surface.Build(block(c.faces));
        EXPECT_NEAR(surface.ScannableArea(), c_dScannable, 12);
        EXPECT_NEAR(surface.CoveredArea(), c.covered, c.tolerance);
    }
    // A 4 mm hole in the top is closed over: the same surface, less covered by the hole's area
    // short of the rim its measured edge covers (between (4 - 1)^2 and 4^2 mm^2).
    MeasuredSurface whole, holed;
    whole.Build(block(eAll));
    holed.Build(block(eAll, 4));
    EXPECT_NEAR(holed.ScannableArea(), whole.ScannableArea(), 0.5);
    EXPECT_GT(whole.CoveredArea() - holed.CoveredArea(), 9);
    EXPECT_LT(whole.CoveredArea() - holed.CoveredArea(), 16);
    MeasuredSurface empty;
    empty.Build({{NAN, 0, 1}, {0, INFINITY, 1}, {0, 0, -2}, {1e30f, 0, 1}, {0, 0, 1e30f}});
    EXPECT_EQ(empty.ScannableArea(), 0.0);
    EXPECT_EQ(empty.Coverage(), 0.0);
}

TEST(MeasuredSurface, HolesAreFoundWhereTheyAreAndTheBlockCastsShadows) {
    MeasuredSurface surface;
    surface.Build(block(eAll, 4));
    double area = 0;
    CbVector3f centre(0, 0, 0);
    for (const MeasuredSurface::Patch& p : surface.UncoveredPatches()) {
        area += p.area;
        centre += p.point * p.area;
    }
    // The 4 mm hole less the rim its measured edge covers: between (4 - 1)^2 and 4^2 mm^2.
    EXPECT_GT(area, 9);
    EXPECT_LT(area, 16);
    centre = centre * static_cast<float>(1 / area);
    EXPECT_LT(std::hypot(centre.x, centre.y), 0.3f);
    EXPECT_NEAR(centre.z, c_fHeight, 0.1f);
    // Beside the block at 2 mm height: a far eye on the same side sees it, one behind the block not.
    const CbVector3f beside(8, 0, 2);
    EXPECT_TRUE(surface.Unobstructed(beside, {150, 0, 60}));
    EXPECT_FALSE(surface.Unobstructed(beside, {-150, 0, 60}));
    EXPECT_TRUE(surface.Unobstructed(beside, {-8, 0, 200}));  // steep enough to pass over it
}

// A measured ramp z = 3 + 0.2 x + 0.3 y: every column carries the top of its points, so the closed
// relief is the plane raised by the rise from a column's centre to its highest point (between
// 0.075 and 0.125 mm, as the 0.1 mm point grid meets the columns), on both triangles of every
// square (the last point lies near the far corner of an upper one); beside it lies the
// clearance, and nothing is near a point far off the grids.
TEST(MeasuredSurface, ReliefFollowsAMeasuredRamp) {
    std::vector<CbVector3f> ramp;
    for (float x = -5; x <= 5.001f; x += 0.1f)
        for (float y = -5; y <= 5.001f; y += 0.1f) ramp.push_back({x, y, 3 + 0.2f * x + 0.3f * y});
    MeasuredSurface surface;
    surface.Build(ramp);
    for (const auto& [x, y] : {std::pair{0.3f, 0.1f}, {0.1f, 0.3f}, {-2.2f, 3.35f}, {3.4f, -1.15f}, {0.475f, 0.49f}})
        EXPECT_NEAR(surface.Height(x, y) - (3 + 0.2f * x + 0.3f * y), 0.1f, 0.03f) << x << ", " << y;
    EXPECT_EQ(surface.Height(40, 0), MeasuredSurface::c_fClearance);
    EXPECT_TRUE(surface.IsNearMeasured({1, 1, 3.5f}));
    EXPECT_FALSE(surface.IsNearMeasured({1, 1, 4.5f}));
    EXPECT_FALSE(surface.IsNearMeasured({0, 150, 3}));
    EXPECT_FALSE(surface.IsNearMeasured({0, 0, 150}));
}

TEST(GapCovering, AimsAtTheUnmeasuredSideAndNeverRepeatsAView) {
    const ZoCOrbal2DeviceConfig device;
    ZoCAcquisitionSteeringOrbal2Jaw steering(device, false, false, false);
    auto* store = dynamic_cast<AcquisitionPlanningStore*>(steering.GetAcquisitionPlanning());
    ASSERT_NE(store, nullptr);
    const CbMatrix4Rf planning = store->PlanningTransformation().value();
    const CbMatrix4Rf toPlate = planning.Inverted();
    // Everything but the +x side measured, in the planning frame.
    std::vector<float> xyz;
    for (const CbVector3f& p : block(eAll & ~ePlusX)) {
        const CbVector3f q = planning.TransformPoint(p);
        xyz.insert(xyz.end(), {q.x, q.y, q.z});
    }
    const float line[6] = {-10, 0, 6, 10, 0, 6};
    ZoCOrbal2AcquisitionPlanning::NSCenterLineRecord record;
    record.points = line;
    record.numPointFloats = 6;
    store->PutCenterLine(record, false);
    ZoCOrbal2AcquisitionPlanning::NSScanRecord scan;
    scan.points = xyz.data();
    scan.numPointFloats = static_cast<uint32_t>(xyz.size());
    scan.numPixelInts = 0xFFFFFFFFu;
    store->PutScan(scan);

    ZoCOrbal2AcquisitionPlanning::NSEvaluationResult result;
    store->Evaluate(result);
    ASSERT_EQ(result.status, 0);
    EXPECT_NEAR(result.coverage, 250.0 / c_dScannable, 0.05);
    EXPECT_GE(result.q1, 1.0f);
    EXPECT_GE(result.q2, 0.25f);
    EXPECT_LE(result.q2, 1.0f);
    ZoCOrbal2AcquisitionPlanning::NSComputationResult computation;
    const int n = store->GetNumberOfProposals(computation);
    ASSERT_GE(n, 1);
    ZoCOrbal2AcquisitionPlanning::NSDHAxisConfiguration best;
    best.values[0] = 12345;
    store->GetProposals(0, &best, nullptr);  // asked for none, nothing is written
    EXPECT_EQ(best.values[0], 12345);
    ZoCOrbal2AcquisitionPlanning::NSProposalInfo info;
    std::vector<float> points;
    store->GetProposals(1, &best, &info);
    store->GetProposalPoints(1, &points);
    // It looks at the +x side from the +x side, and the points it is to measure lie on that side.
    const CbVector3f look = toPlate.TransformDirection({info.viewDirection[0], info.viewDirection[1], info.viewDirection[2]});
    EXPECT_LT(look.x, -0.3f);
    ASSERT_FALSE(points.empty());
    for (size_t k = 0; k < points.size(); k += 3)
        EXPECT_NEAR(toPlate.TransformPoint({points[k], points[k + 1], points[k + 2]}).x, c_fHalf, 0.5f);

    // Once recorded from there (without measuring anything new), no proposal comes within 2
    // degrees and 1 mm of that view.
    std::copy(best.values, best.values + 5, scan.joints);
    store->PutScan(scan);
    store->Evaluate(result);
    const int again = store->GetNumberOfProposals(computation);
    std::vector<ZoCOrbal2AcquisitionPlanning::NSDHAxisConfiguration> later(static_cast<size_t>(again));
    store->GetProposals(again, later.data(), nullptr);
    for (const auto& c : later) {
        const bool near = std::fabs(c.values[0] - best.values[0]) <= 1 && std::fabs(c.values[3] - best.values[3]) <= 1 &&
                          std::fabs(c.values[1] - best.values[1]) <= 2 && std::fabs(c.values[2] - best.values[2]) <= 2 &&
                          std::fabs(std::remainder(c.values[4] - best.values[4], 360.0f)) <= 2;
        EXPECT_FALSE(near);
    }
    // A host that asks to stop gets "interrupted" from both operations.
    struct Stop : ZoCOrbal2AcquisitionPlanning::NSProgressCallback {
        bool GoOn() override { return false; }
    } stop;
    store->SetProgressCallback(&stop);
    store->Evaluate(result);
    EXPECT_EQ(result.status, 5);
    EXPECT_EQ(store->GetNumberOfProposals(computation), 0);
    EXPECT_EQ(computation.code, 3);
    store->SetProgressCallback(nullptr);
    // A sensor with a coordinate that is not a number gives a prediction that is not set up.
    ZoCOrbal2AcquisitionPlanning::NSSensorParameters broken = store->Camera().value();
    broken.eye[1] = NAN;
    const auto records = store->JointParameters().value();
    EXPECT_TRUE(ViewPrediction(store->Camera().value(), store->Projector().value(), records.data()).IsSetUp());
    EXPECT_FALSE(ViewPrediction(broken, store->Projector().value(), records.data()).IsSetUp());
    EXPECT_FALSE(ViewPrediction(store->Camera().value(), broken, records.data()).IsSetUp());
}
