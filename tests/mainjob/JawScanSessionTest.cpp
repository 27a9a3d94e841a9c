// The main job on the virtual scanner: limit and cache, skeleton, a whole jaw scan, saw cuts.
#include "../sim/SceneFixtures.h"
#include "CoverageLimit.h"
#include "JawScanSession.h"
#include "JawSkeleton.h"
#include "SimulatedHost.h"
#include "SyntheticModels.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <set>

// A block hidden from no pose: the limit reaches almost all of it, kept per model and options.
TEST(CoverageLimit, ReachesAlmostAllOfABlocksScannableSurfaceAndIsKeptPerModel) {
    const Sim::TriangleMesh block = simtest::BoxMesh({-4, -4, -6}, {4, 4, 0});
    Sim::CoverageLimitOptions coarse;
    coarse.tiltStepDeg = 40;  // a coarse set keeps the test short; the walls still get views
    coarse.discStepDeg = 60;
    const Sim::CoverageLimit limit = Sim::ComputeCoverageLimit(block, coarse);
    ASSERT_TRUE(limit.ok) << limit.error;
    EXPECT_GT(limit.poses, 20);
    EXPECT_GT(limit.coverage, 0.98);
    EXPECT_EQ(limit.reachable.size(), Sim::GroundTruth(block).GetSamples().size());

    const std::string directory = testsupport::ScratchDirectory() + "/limits",
                      key = Sim::LimitCacheKey(block, coarse);
    ASSERT_TRUE(Sim::StoreLimit(directory, key, limit));
    Sim::CoverageLimit read;
    ASSERT_TRUE(Sim::LoadLimit(directory, key, read));
    EXPECT_EQ(std::tie(read.coverage, read.poses, read.reachable),
              std::tie(limit.coverage, limit.poses, limit.reachable));
    Sim::TriangleMesh moved = block;
    moved.vertices[0].x += 0.5f;
    EXPECT_NE(Sim::LimitCacheKey(moved, coarse), key);
    EXPECT_NE(Sim::LimitCacheKey(block, {}), key);
    EXPECT_FALSE(Sim::LoadLimit(directory, Sim::LimitCacheKey(moved, coarse), read));
    std::ofstream(directory + "/limit-" + key + ".txt") << "orbal2-limit 1\n0.875 12 4\n10x1\n";
    EXPECT_FALSE(Sim::LoadLimit(directory, key, read));
}

// The skeleton passes near every tooth tip, counter-clockwise about the disc axis; no arch, none.
TEST(DeriveJawSkeleton, FollowsTheModelsArchOverTheCrowns) {
    const Sim::JawModel jaw = Sim::BuildJawModel();
    Sim::VirtualScanner scanner(ZoCOrbal2DeviceConfig(), jaw.mesh, simtest::SmallImage());
    ZoCAcquisitionSteeringOrbal2Jaw steering(ZoCOrbal2DeviceConfig(), false, false, false);
    ZoCOrbal2AxisChain::CJointPositionSequence overview;
    ASSERT_TRUE(steering.GetJointConfigurationForOverview(overview));
    std::vector<ZoCFieldCoord> fields;
    Sim::SimulatedHost(steering, scanner, eAreaTypeUpperJaw).Record(overview, &fields);
    CyHermiteSpline skeleton = Sim::DeriveJawSkeleton(fields);
    ASSERT_GE(skeleton.GetNumControlPoints(), 10);
    skeleton.SubdivideByLength();
    for (const Sim::ToothTruth& tooth : jaw.teeth) {
        float nearest = 1e9f;
        for (const CbVector3f& p : skeleton.GetSubdivision().Points())
            nearest = std::min(nearest, std::hypot(p.x * 0.025f - tooth.tip.x, p.y * 0.025f - tooth.tip.y));
        EXPECT_LT(nearest, 4.0f) << "tooth " << tooth.index;
    }
    EXPECT_GT(skeleton.GetSubdivision().ComputeClosedArea({0, 0, 1}), 0);
    EXPECT_EQ(Sim::DeriveJawSkeleton({}).GetNumControlPoints(), 0);
    EXPECT_EQ(Sim::DeriveJawSkeleton({ZoCFieldCoord(4, 4, {})}).GetNumControlPoints(), 0);
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
    for (size_t i = 1; i < report.steps.size(); ++i)
        if (i < 3)
            EXPECT_GT(report.steps[i].coverage, report.steps[i - 1].coverage) << report.steps[i].name;
        else
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

// Cuts found in the overview lie on the model's true cuts; three of four at least (one seen twice).
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
        auto off = [&](size_t t) {
            return std::hypot(found.centre.x - sectioned.cuts[t].centre.x,
                              found.centre.y - sectioned.cuts[t].centre.y);
        };
        size_t best = 0;
        for (size_t t = 1; t < sectioned.cuts.size(); ++t)
            best = off(t) < off(best) ? t : best;
        EXPECT_LT(off(best), 1.5f);
        EXPECT_GT(std::fabs(found.across.Dot(sectioned.cuts[best].normal)), std::cos(15 * 3.14159265f / 180));
        matched.insert(best);
    }
    EXPECT_GE(matched.size() + 1, sectioned.cuts.size());
}
