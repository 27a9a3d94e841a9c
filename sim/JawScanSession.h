// A complete simulated scan of a jaw model on the reference device, as the host runs it:
// overview, skeleton and jaw line, scans along the jaw line, buccal ring, then gap-covering
// rounds until the planning has nothing to add or the round limit is reached.
#pragma once

#include "GroundTruth.h"
#include "TriangleMesh.h"
#include "VirtualScanner.h"

#include <functional>
#include <string>
#include <vector>

namespace Sim {

struct JawScanOptions {
    int imageWidth = 640;  // the camera binned 2 x 2: the same field of view, a quarter of the pixels
    int imageHeight = 512;
    int maxGapRounds = 4;
    float lowerThreshold = -500.0f;  // image-area units
    // A sectioned model: the saw cuts are found in the overview's images and handed to the jaw
    // steering with the jaw line, as a host does.
    bool findSawCuts = false;
    // Stops after the overview, its jaw line and saw cuts.
    bool overviewOnly = false;
};

// A saw cut the detector found (disc frame, mm).
struct FoundSawCut {
    CbVector3f centre;
    CbVector3f across;  // unit, across the cut
};

struct JawScanStep {
    std::string name;
    int images = 0;         // recorded in this step
    int totalImages = 0;    // recorded so far
    double coverage = 0;    // the planning's estimate after the step, from the measured points alone
    double truth = 0;       // share of the model's scannable surface measured so far (GroundTruth)
    double travelTime = 0;  // seconds the axes moved in this step
};

struct JawScanReport {
    bool ok = false;
    std::string error;
    std::vector<JawScanStep> steps;
    std::vector<CbVector3f> jawLine;                       // disc mm
    std::vector<CyRay> viewRays;                           // disc mm, eye to focus point
    std::vector<CbVector3f> overviewSample;                // some overview points, disc mm
    std::vector<FoundSawCut> sawCuts;                      // with findSawCuts
    int images = 0;
    double travelTime = 0;
    double coverage = 0;  // the planning's last estimate
    double truth = 0;     // the last ground truth
    // Every ground-truth sample with whether it was measured, for pictures.
    std::vector<GroundTruth::Sample> truthSamples;
    std::vector<uint8_t> truthCovered;
};

// Runs the scan; `progress` is told about every finished step.
JawScanReport RunJawScan(const TriangleMesh& model, const JawScanOptions& options,
                         const std::function<void(const JawScanStep&)>& progress = {});

}  // namespace Sim
