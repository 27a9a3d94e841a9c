// The main job on the virtual scanner: skeleton, limit and cache, a whole jaw scan, saw cuts. Tests are
// dealt to the suite's two shards in turn: in this order each takes one slow scan, the limit the shorter.
#include "../sim/SceneFixtures.h"
#include "CoverageLimit.h"
#include "JawScanSession.h"
#include "JawSkeleton.h"
#include "SimulatedHost.h"
#include "SyntheticModels.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <set>

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
    skeleton.SubdivideByLength();
    for (const Sim::ToothTruth& tooth : jaw.teeth) {
        float nearest = 1e9f;
        for (const CbVector3f& p : skeleton.GetSubdivision().Points())
            nearest = std::min(nearest, std::hypot(p.x * 0.025f - tooth.tip.x, p.y * 0.025f - tooth.tip.y));
        EXPECT_LT(nearest, 4.0f) << "tooth " << tooth.index;
    }
    EXPECT_GT(skeleton.GetSubdivision().ComputeClosedArea({0, 0, 1}), 0);
    EXPECT_EQ(Sim::DeriveJawSkeleton({ZoCFieldCoord(4, 4, {})}).GetNumControlPoints(), 0);
}

// A block hidden from no pose: the limit reaches almost all of it, kept per model and options.
TEST(CoverageLimit, ReachesAlmostAllOfABlocksScannableSurfaceAndIsKeptPerModel) {
    const Sim::TriangleMesh block = simtest::BoxMesh({-4, -4, -6}, {4, 4, 0});
    Sim::CoverageLimitOptions coarse;
    coarse.tiltStepDeg = 40;  // a coarse set keeps the test short; the walls still get views
    coarse.discStepDeg = 60;
    const Sim::CoverageLimit limit = Sim::ComputeCoverageLimit(block, coarse);
    ASSERT_TRUE(limit.ok) << limit.error;
    EXPECT_GT(limit.coverage, 0.98);
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
    std::ofstream(directory + "/limit-" + key + ".txt") << "orbal2-limit 1\n0.875 12 4\n10x1\n";
    EXPECT_FALSE(Sim::LoadLimit(directory, key, read));
}

TEST(RunJawScan, CoverageRisesWithEverySequence) {
    Sim::JawScanOptions options;
    options.imageWidth = 320;
    options.imageHeight = 256;
    options.maxGapRounds = 1;
    const Sim::JawScanReport report = Sim::RunJawScan(Sim::BuildJawModel().mesh, options);
    ASSERT_TRUE(report.ok && report.steps.size() >= 3) << report.error;
    // Overview, jaw line and buccal ring add coverage; a last gap-covering round may add none.
    for (size_t i = 1; i < report.steps.size(); ++i)
        EXPECT_GE(report.steps[i].coverage - report.steps[i - 1].coverage, i < 3 ? 1e-3 : 0) << i;
    EXPECT_GE(report.coverage, 0.80);
    // Points about 0.3 mm apart at this image size: about two thirds lie within 0.1 mm of one.
    EXPECT_GT(report.truth, 0.5);
}

// Cuts found in the overview lie on the model's true cuts; three of four at least (one seen twice).
TEST(RunJawScan, FindsTheSawCutsOfASectionedJawInItsOverview) {
    const Sim::SectionedJawModel sectioned = Sim::BuildSectionedJawModel();
    Sim::JawScanOptions options;
    options.findSawCuts = true;
    options.overviewOnly = true;
    const Sim::JawScanReport report = Sim::RunJawScan(sectioned.jaw.mesh, options);
    ASSERT_TRUE(report.ok && report.steps.size() == 1) << report.error;  // the job stops after its overview
    std::set<size_t> matched;
    for (const Sim::FoundSawCut& found : report.sawCuts) {
        std::vector<float> off;  // from each true cut's centre
        for (const auto& cut : sectioned.cuts)
            off.push_back(std::hypot(found.centre.x - cut.centre.x, found.centre.y - cut.centre.y));
        const size_t best = std::min_element(off.begin(), off.end()) - off.begin();
        EXPECT_LT(off[best], 1.5f);
        EXPECT_GT(std::fabs(found.across.Dot(sectioned.cuts[best].normal)), std::cos(15 * 3.14159265f / 180));
        matched.insert(best);
    }
    EXPECT_GE(matched.size() + 1, sectioned.cuts.size());
}
