// What a scan of a model really covers, judged against the model itself (the planning never
// sees this; it exists to tell how good the planning's own estimate and its choice of views are).
//
// What counts as scannable surface:
//   - the model's surface is sampled by area: every triangle gets ceil(area / spacing^2) points
//     (spacing 0.2 mm, so about one sample per 0.04 mm^2), drawn uniformly over the triangle from
//     a fixed seed, each weighing area / count, so that coverage is a share of surface area;
//   - left out are faces pointing more than 60 degrees below the horizontal (their outward
//     normal, counter-clockwise winding seen from outside, makes less than 30 degrees with the
//     straight-down direction: undersides that no view from above the plate reaches) and samples
//     less than 1 mm above the plate (the model's base and what rests in the plate's shadow);
//   - a model built of overlapping closed parts (crowns set into a base) has surface inside other
//     parts that no light reaches; samples of a closed part (every edge shared by exactly two
//     of its triangles, by vertex index) that lie inside another closed part are left out;
//   - a mesh open underneath (crowns set into a gum shell cut off below, as intraoral scans give
//     teeth) hides surface between itself and the plate: a sample is left out when every
//     direction above the plate that leaves its face (straight up, and eight around it at 55 and
//     at 20 degrees above the plate) runs into the model;
//   - a sample is covered when some recorded image measured a point within 0.1 mm of it.
// Coverage is the covered weight over the weight of all samples that count.
#pragma once

#include "TriangleMesh.h"

#include <cstdint>
#include <vector>

namespace Sim {

struct GroundTruthOptions {
    float spacing = 0.2f;          // mm between samples
    float tolerance = 0.1f;        // mm: a measured point this close covers a sample
    float maxDownDeg = 60.0f;      // faces pointing further below the horizontal are left out
    float plateClearance = 1.0f;   // mm: surface lower than this above the plate is left out
    uint64_t seed = 20240611;
};

class GroundTruth {
public:
    struct Sample {
        CbVector3f point;  // disc frame, mm
        float weight;      // mm^2
    };

    // Changes whenever the samples' order for a given model changes (kept limits follow it).
    static constexpr int c_iLayout = 3;

    explicit GroundTruth(const TriangleMesh& model, const GroundTruthOptions& options = {});

    // Marks the samples within the tolerance of the measured points (disc frame, mm).
    void AddPoints(const std::vector<CbVector3f>& points);
    // Share of the scannable surface covered so far, 0..1 (0 when nothing counts).
    double Coverage() const;
    // Scannable surface in mm^2.
    double ScannableArea() const { return m_totalWeight; }
    const std::vector<Sample>& GetSamples() const { return m_samples; }
    bool IsCovered(size_t sample) const { return m_covered[sample] != 0; }
    // Forgets what was measured.
    void Reset();

private:
    uint64_t cellKey(int x, int y, int z) const;

    GroundTruthOptions m_options;
    std::vector<Sample> m_samples;  // sorted by cell
    std::vector<uint8_t> m_covered;
    // Cells of side 2 x `tolerance`: the samples of cell k are m_samples[m_cellStart[i] ..
    // m_cellStart[i + 1]) where cell i has key k; an open-addressing table finds i from k.
    int64_t findCell(uint64_t key) const;
    std::vector<uint32_t> m_cellStart;
    std::vector<uint64_t> m_tableKeys;   // key + 1, 0 for an empty slot
    std::vector<uint32_t> m_tableCells;
    uint64_t m_tableMask = 0;
    double m_totalWeight = 0;
    double m_coveredWeight = 0;
};

}  // namespace Sim
