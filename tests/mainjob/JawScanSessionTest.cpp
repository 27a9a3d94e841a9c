// The main job on the virtual scanner: the host's skeleton from the overview, and a whole jaw
// scan whose coverage rises with every sequence.
#include "JawScanSession.h"
#include "JawSkeleton.h"
#include "SimulatedHost.h"
#include "SyntheticModels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace {

Sim::VirtualScannerOptions smallImages() {
    Sim::VirtualScannerOptions o;
    o.width = 320;
    o.height = 256;
    return o;
}

}  // namespace

TEST(DeriveJawSkeleton, FollowsTheModelsArchOverTheCrowns) {
    const Sim::JawModel jaw = Sim::BuildJawModel();
    Sim::VirtualScanner scanner(ZoCOrbal2DeviceConfig(), jaw.mesh, smallImages());
    ZoCAcquisitionSteeringOrbal2Jaw steering(ZoCOrbal2DeviceConfig(), false, false, false);
    ZoCOrbal2AxisChain::CJointPositionSequence overview;
    ASSERT_TRUE(steering.GetJointConfigurationForOverview(overview));
    Sim::SimulatedHost host(steering, scanner, eAreaTypeUpperJaw);
    std::vector<ZoCFieldCoord> fields;
    host.Record(overview, &fields);
    const CyHermiteSpline skeleton = Sim::DeriveJawSkeleton(fields);
    ASSERT_GE(skeleton.GetNumControlPoints(), 10);
    // Every tooth's tip lies within a few millimetres (across the arch) of the skeleton.
    CyHermiteSpline copy = skeleton;
    copy.SubdivideByLength();
    for (const Sim::ToothTruth& tooth : jaw.teeth) {
        float nearest = 1e9f;
        for (const CbVector3f& p : copy.GetSubdivision().Points()) {
            const CbVector3f d = p * 0.025f - tooth.tip;
            nearest = std::min(nearest, std::hypot(d.x, d.y));
        }
        EXPECT_LT(nearest, 4.0f) << "tooth " << tooth.index;
    }
    // Counter-clockwise about the disc axis, as the jaw steering expects from a host.
    EXPECT_GT(copy.GetSubdivision().ComputeClosedArea({0, 0, 1}), 0);
}

TEST(DeriveJawSkeleton, NoArchNoSkeleton) {
    EXPECT_EQ(Sim::DeriveJawSkeleton({}).GetNumControlPoints(), 0);
    const ZoCFieldCoord empty(4, 4, {});
    EXPECT_EQ(Sim::DeriveJawSkeleton({empty}).GetNumControlPoints(), 0);
}

TEST(RunJawScan, CoverageRisesWithEverySequence) {
    Sim::JawScanOptions options;
    options.imageWidth = 320;
    options.imageHeight = 256;
    options.maxGapRounds = 1;
    const Sim::JawScanReport report = Sim::RunJawScan(Sim::BuildJawModel().mesh, options);
    ASSERT_TRUE(report.ok) << report.error;
    ASSERT_GE(report.steps.size(), 3u);
    // Every sequence adds coverage, except a last gap-covering round that ends the scan.
    for (size_t i = 1; i < 3; ++i)
        EXPECT_GT(report.steps[i].coverage, report.steps[i - 1].coverage) << report.steps[i].name;
    for (size_t i = 3; i < report.steps.size(); ++i)
        EXPECT_GE(report.steps[i].coverage, report.steps[i - 1].coverage) << report.steps[i].name;
    EXPECT_GE(report.coverage, 0.80);
    // At a quarter of the main job's pixels the measured points lie about 0.3 mm apart, so the
    // truth's 0.1 mm rule finds about two thirds covered where the main job finds nine tenths.
    EXPECT_GT(report.truth, 0.5);
    EXPECT_EQ(report.truth, report.steps.back().truth);
    EXPECT_EQ(report.truthCovered.size(), report.truthSamples.size());
    EXPECT_EQ(report.viewRays.size(), static_cast<size_t>(report.images));
    EXPECT_GT(report.travelTime, 0);
}

// The saw cuts the job finds in the overview of the sectioned jaw lie on the model's true cuts,
// across the plate and in direction.
TEST(RunJawScan, FindsTheSawCutsOfASectionedJawInItsOverview) {
    const Sim::SectionedJawModel sectioned = Sim::BuildSectionedJawModel();
    Sim::JawScanOptions options;
    options.findSawCuts = true;
    options.overviewOnly = true;
    const Sim::JawScanReport report = Sim::RunJawScan(sectioned.jaw.mesh, options);
    ASSERT_TRUE(report.ok) << report.error;
    ASSERT_EQ(report.steps.size(), 1u);
    ASSERT_FALSE(report.sawCuts.empty());
    std::set<size_t> matched;
    for (const Sim::FoundSawCut& found : report.sawCuts) {
        auto off = [&](const Sim::SawCutTruth& t) {
            return std::hypot(found.centre.x - t.centre.x, found.centre.y - t.centre.y);
        };
        size_t best = 0;
        for (size_t t = 1; t < sectioned.cuts.size(); ++t)
            if (off(sectioned.cuts[t]) < off(sectioned.cuts[best])) best = t;
        EXPECT_LT(off(sectioned.cuts[best]), 1.5f);
        EXPECT_GT(std::fabs(found.across.Dot(sectioned.cuts[best].normal)), std::cos(15 * 3.14159265f / 180));
        matched.insert(best);
    }
    // Three of the four cuts at least: the detector may see one cut twice and miss another.
    EXPECT_GE(matched.size() + 1, sectioned.cuts.size());
}
