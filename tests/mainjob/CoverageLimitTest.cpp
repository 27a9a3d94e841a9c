// The device's limit: what the dense pose set reaches of a model every side of which faces up or
// sideways, and the cache that keeps a limit per model.
#include "../sim/SceneFixtures.h"
#include "CoverageLimit.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {
// An 8 x 8 x 6 mm block on the plate: its top and its walls above the plate's clearance face
// the camera's side; nothing of it is hidden from every pose.
Sim::TriangleMesh block() {
    return simtest::BoxMesh({-4, -4, -6}, {4, 4, 0});
}
}  // namespace

TEST(CoverageLimit, ReachesAlmostAllOfABlocksScannableSurface) {
    Sim::CoverageLimitOptions options;
    options.tiltStepDeg = 40;  // a coarse set keeps the test short; the walls still get views
    options.discStepDeg = 60;
    const Sim::CoverageLimit limit = Sim::ComputeCoverageLimit(block(), options);
    ASSERT_TRUE(limit.ok) << limit.error;
    EXPECT_GT(limit.poses, 20);
    EXPECT_GT(limit.coverage, 0.98);
    EXPECT_EQ(limit.reachable.size(), Sim::GroundTruth(block()).GetSamples().size());
}

TEST(CoverageLimit, IsKeptPerModelContentAndRefusedWhenDamaged) {
    const std::string directory = testsupport::ScratchDirectory() + "/limits";
    Sim::CoverageLimit limit;
    limit.ok = true;
    limit.coverage = 0.875;
    limit.poses = 12;
    limit.reachable = {1, 0, 1, 1};
    const Sim::TriangleMesh model = block();
    const std::string key = Sim::LimitCacheKey(model, {});
    ASSERT_TRUE(Sim::StoreLimit(directory, key, limit));
    Sim::CoverageLimit read;
    ASSERT_TRUE(Sim::LoadLimit(directory, key, read));
    EXPECT_EQ(read.coverage, 0.875);
    EXPECT_EQ(read.poses, 12);
    EXPECT_EQ(read.reachable, limit.reachable);
    // Another placement or other options are another key; nothing kept for it.
    Sim::TriangleMesh moved = model;
    moved.vertices[0].x += 0.5f;
    Sim::CoverageLimitOptions finer;
    finer.discStepDeg = 10;
    EXPECT_NE(Sim::LimitCacheKey(moved, {}), key);
    EXPECT_NE(Sim::LimitCacheKey(model, finer), key);
    EXPECT_FALSE(Sim::LoadLimit(directory, Sim::LimitCacheKey(moved, {}), read));
    // A damaged file is not a limit.
    std::ofstream(directory + "/limit-" + key + ".txt") << "orbal2-limit 1\n0.875 12 4\n10x1\n";
    EXPECT_FALSE(Sim::LoadLimit(directory, key, read));
}
