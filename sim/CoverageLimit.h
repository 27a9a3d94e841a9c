// The best coverage any plan can reach on a device: the union of what the virtual scanner
// measures from a dense set of reachable poses, judged by the same ground truth as a scan.
//
// The pose set. The tilts L2 and L3 run across their limits every `tiltStepDeg`, the disc L5
// round every `discStepDeg`; a second grid is shifted by half a step in all three. For each
// pair of tilts the translational joints L1 and L4 (both move the disc along straight lines)
// are set by least squares so that the camera's focus point lies on a target, clamped to their
// limits: the model's centre at half its height, and a point 12 mm off the axis (the disc's
// turns carry it round). Poses whose eye lies below the plate see nothing past the disc and
// poses that leave the target farther than the measuring region's radius from the focus point
// are skipped. With the defaults this is about 2100 poses: two minutes of computing on one core,
// which is why the main job only uses a limit that was computed before (LimitCache).
#pragma once

#include "GroundTruth.h"
#include "TriangleMesh.h"
#include "VirtualScanner.h"

#include <functional>
#include <string>
#include <vector>

namespace Sim {

struct CoverageLimitOptions {
    int imageWidth = 640;  // the main job's image size
    int imageHeight = 512;
    float tiltStepDeg = 15.0f;
    float discStepDeg = 30.0f;
};

struct CoverageLimit {
    bool ok = false;
    std::string error;
    double coverage = 0;  // ground truth of the union, 0..1
    int poses = 0;
    std::vector<uint8_t> reachable;  // per ground-truth sample (GroundTruth::GetSamples order)
};

// The poses of the set described above for `model` on the reference device.
std::vector<ZoCOrbal2AxisChain::NCJointConfiguration> LimitPoses(const TriangleMesh& model,
                                                               const CoverageLimitOptions& options);

// Records every pose and unites what was measured; `progress` hears (done, total) now and then.
CoverageLimit ComputeCoverageLimit(const TriangleMesh& model, const CoverageLimitOptions& options = {},
                                   const std::function<void(int, int)>& progress = {});

// A computed limit kept per model, keyed by the placed model's content and the options, in
// `directory` (created when missing). Load gives false when no limit was kept for the key.
std::string LimitCacheKey(const TriangleMesh& model, const CoverageLimitOptions& options);
bool LoadLimit(const std::string& directory, const std::string& key, CoverageLimit& limit);
bool StoreLimit(const std::string& directory, const std::string& key, const CoverageLimit& limit);
// $XDG_CACHE_HOME/orbal2, else $HOME/.cache/orbal2, else ./.orbal2-cache.
std::string DefaultLimitCacheDirectory();

}  // namespace Sim
