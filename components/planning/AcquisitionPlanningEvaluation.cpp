// The planning's evaluation of the scans so far and its proposals for the largest gaps.
#include "AcquisitionPlanningStore.h"
#include "JointSolver.h"
#include "ViewPrediction.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

namespace {
constexpr int c_iMaxProposals = 10;      // the steering plans at most ten views per round
constexpr float c_fTargetCellMm = 3.0f;  // uncovered relief is gathered into cells this wide
constexpr int c_iMaxTargets = 16;        // the largest uncovered cells are aimed at
// A view predicted to add less new surface than this is not worth the travel to it.
constexpr float c_fMinGain = 8.0f;  // mm^2
constexpr float c_fViewToleranceDegrees = 10.0f;
constexpr float c_fMaxLookDegrees = 70.0f;  // a view looks into a target at most this far off its normal
constexpr size_t c_uMaxProposalPoints = 400;
constexpr double c_dCoveredShare = 0.995;
constexpr float c_fDegToRad = 0.017453292f;
// A view whose tilts and disc angle all lie within 2 degrees of an earlier one's, and whose
// linear joints within 1 mm, sees what that one saw: it is never proposed again.
constexpr float c_fSameViewDegrees = 2.0f;
constexpr float c_fSameViewMm = 1.0f;
constexpr float c_fLookLimitMargin = 1e-4f;
using Lock = std::lock_guard<std::mutex>;

bool sameView(const float a[5], const float b[5]) {
    return std::fabs(a[0] - b[0]) <= c_fSameViewMm && std::fabs(a[3] - b[3]) <= c_fSameViewMm &&
           std::fabs(a[1] - b[1]) <= c_fSameViewDegrees && std::fabs(a[2] - b[2]) <= c_fSameViewDegrees &&
           std::fabs(std::remainder(a[4] - b[4], 360.0f)) <= c_fSameViewDegrees;
}

// Uncovered relief gathered by cell: where the holes are and which way they face.
struct Target {
    CbVector3f point{0, 0, 0};
    CbVector3f normal{0, 0, 0};
    float area = 0;
};

std::vector<Target> targetsOf(const std::vector<MeasuredSurface::Patch>& patches) {
    std::map<std::array<int, 3>, Target> cells;
    for (const MeasuredSurface::Patch& p : patches) {
        const std::array<int, 3> key = {static_cast<int>(std::floor(p.point.x / c_fTargetCellMm)),
                                        static_cast<int>(std::floor(p.point.y / c_fTargetCellMm)),
                                        static_cast<int>(std::floor(p.point.z / c_fTargetCellMm))};
        Target& t = cells[key];
        t.point += p.point * p.area;
        t.normal += p.normal * p.area;
        t.area += p.area;
    }
    std::vector<Target> targets;
    for (auto& [key, t] : cells) {
        if (!(t.normal.Length() > 0)) continue;
        t.point = t.point * (1.0f / t.area);
        t.normal = t.normal.Normalized();
        targets.push_back(t);
    }
    std::stable_sort(targets.begin(), targets.end(), [](const Target& a, const Target& b) { return a.area > b.area; });
    if (targets.size() > static_cast<size_t>(c_iMaxTargets)) targets.resize(c_iMaxTargets);
    return targets;
}

// Ways of looking into a target (from the camera towards it, plate frame): from its normal's side
// at 20, 40 and 60 degrees above the plate and 40 degrees to either side, and straight down.
std::vector<CbVector3f> looksInto(const Target& t) {
    std::vector<CbVector3f> looks;
    const float azimuth = std::atan2(t.normal.y, t.normal.x);
    const float limit = std::cos(c_fMaxLookDegrees * c_fDegToRad);
    for (float elevation : {20.0f, 40.0f, 60.0f, 90.0f})
        for (float turn : {0.0f, -40.0f, 40.0f}) {
            if (elevation == 90.0f && turn != 0.0f) continue;
            const float e = elevation * c_fDegToRad, a = azimuth + turn * c_fDegToRad;
            const CbVector3f towardsCamera(std::cos(e) * std::cos(a), std::cos(e) * std::sin(a), std::sin(e));
            // A look exactly at the limit (20 degrees above an upright hole's plate, 70 off its
            // normal) is offered: the margin keeps rounding from deciding it.
            if (towardsCamera.Dot(t.normal) >= limit - c_fLookLimitMargin) looks.push_back(-towardsCamera);
        }
    return looks;
}
}  // namespace

void AcquisitionPlanningStore::updateProposalsUnlocked() {
    m_proposals.clear();
    m_fBestGain = 0;
    m_fBestShare = 0;
    if (!m_centerLine || !m_camera || !m_projector || !m_joints || !m_planning) return;
    const JointSolver solver(*m_camera, m_joints->data(), *m_planning);
    const ViewPrediction prediction(*m_camera, *m_projector, m_joints->data());
    if (!solver.IsSetUp() || !prediction.IsSetUp()) return;
    const std::vector<MeasuredSurface::Patch>& patches = m_surface.UncoveredPatches();
    double uncovered = 0;
    for (const MeasuredSurface::Patch& p : patches) uncovered += p.area;

    // Every solved way of looking into the largest holes, with the uncovered patches it would measure.
    struct Candidate {
        float joints[5];
        CbVector3f look, target;
        float targetArea;
        std::vector<uint32_t> sees;
    };
    std::vector<Candidate> candidates;
    for (const Target& target : targetsOf(patches)) {
        for (const CbVector3f& look : looksInto(target)) {
            if (m_progress && !m_progress->GoOn()) return;
            const CbVector3f d = m_planning->TransformDirection(look), t = m_planning->TransformPoint(target.point);
            const float direction[3] = {d.x, d.y, d.z}, point[3] = {t.x, t.y, t.z};
            const JointSolver::Result solved = solver.Solve(direction, point, c_fViewToleranceDegrees);
            if (solved.status != JointSolver::eSolved) continue;
            if (std::any_of(m_scans.begin(), m_scans.end(),
                            [&](const StoredScan& scan) { return sameView(scan.joints, solved.joints); }))
                continue;
            ViewPrediction::Pose pose;
            if (!prediction.PoseAt(solved.joints, pose)) continue;
            Candidate c{{}, look, target.point, target.area, {}};
            std::copy(solved.joints, solved.joints + 5, c.joints);
            for (size_t i = 0; i < patches.size(); ++i)
                if (prediction.Measures(pose, m_surface, patches[i].point, patches[i].normal))
                    c.sees.push_back(static_cast<uint32_t>(i));
            candidates.push_back(std::move(c));
        }
    }

    // Greedy: the view that adds the most surface not yet claimed by an earlier pick, until the
    // best adds less than c_fMinGain.
    std::vector<uint8_t> claimed(patches.size(), 0);
    auto gainOf = [&](const Candidate& c) {
        float gain = 0;
        for (uint32_t i : c.sees)
            if (!claimed[i]) gain += patches[i].area;
        return gain;
    };
    std::vector<uint8_t> used(candidates.size(), 0);
    while (m_proposals.size() < static_cast<size_t>(c_iMaxProposals)) {
        size_t best = candidates.size();
        float bestGain = 0;
        for (size_t k = 0; k < candidates.size(); ++k) {
            if (used[k]) continue;
            const float gain = gainOf(candidates[k]);
            if (gain > bestGain) best = k, bestGain = gain;
        }
        if (best == candidates.size() || bestGain < c_fMinGain) break;
        used[best] = 1;
        const Candidate& c = candidates[best];
        if (std::any_of(m_proposals.begin(), m_proposals.end(),
                        [&](const PlannedView& p) { return sameView(p.config.values, c.joints); }))
            continue;
        if (m_proposals.empty()) {
            m_fBestGain = bestGain;
            m_fBestShare = std::min(1.0f, bestGain / c.targetArea);
        }
        PlannedView proposal;
        std::copy(c.joints, c.joints + 5, proposal.config.values);
        // The patches it is meant to measure frame the camera's region of interest.
        std::vector<uint32_t> fresh;
        for (uint32_t i : c.sees)
            if (!claimed[i]) fresh.push_back(i), claimed[i] = 1;
        const size_t stride = fresh.size() / c_uMaxProposalPoints + 1;
        for (size_t k = 0; k < fresh.size(); k += stride) {
            const CbVector3f p = m_planning->TransformPoint(patches[fresh[k]].point);
            proposal.points.insert(proposal.points.end(), {p.x, p.y, p.z});
        }
        proposal.info.expectedGain = uncovered > 0 ? static_cast<float>(bestGain / uncovered) : 0.0f;
        const CbVector3f d = m_planning->TransformDirection(c.look), t = m_planning->TransformPoint(c.target);
        const float direction[3] = {d.x, d.y, d.z}, target[3] = {t.x, t.y, t.z};
        std::memcpy(proposal.info.viewDirection, direction, sizeof direction);
        std::memcpy(proposal.info.target, target, sizeof target);
        proposal.info.numPoints = static_cast<int>(proposal.points.size() / 3);
        m_proposals.push_back(std::move(proposal));
    }
}

void AcquisitionPlanningStore::updateSurfaceUnlocked() {
    // The relief is built over the plate: planning-frame points are carried back to the disc,
    // whose third coordinate in the planning's convention (x, y, -z) is the height above the plate.
    CbMatrix4Rf toPlate;
    if (m_planning) {
        try {
            toPlate = m_planning->Inverted();
        } catch (const CyExceptionNotInvertible&) {
            m_surface.Build({});
            return;
        }
    }
    std::vector<CbVector3f> points;
    for (const StoredScan& s : m_scans)
        for (size_t k = 0; k + 2 < s.points.size(); k += 3) {
            const CbVector3f p(s.points[k], s.points[k + 1], s.points[k + 2]);
            points.push_back(m_planning ? toPlate.TransformPoint(p) : p);
        }
    m_surface.Build(points);
}

void AcquisitionPlanningStore::Evaluate(NSEvaluationResult& result) {
    Lock lock(m_mutex);
    result = NSEvaluationResult();
    int points = 0;
    for (const StoredScan& s : m_scans) points += static_cast<int>(s.points.size() / 3);
    result.numPoints = points;
    updateSurfaceUnlocked();
    result.coverage = static_cast<float>(m_surface.Coverage());
    if (m_scans.empty()) {
        result.status = 1;
        return;
    }
    if (!m_centerLine) {
        result.status = 3;
        return;
    }
    if (m_progress && !m_progress->GoOn()) {
        result.status = 5;
        return;
    }
    updateProposalsUnlocked();
    // q1: the best view's predicted new surface in units of the least worth a view; q2: the share
    // of its target's uncovered surface it is predicted to measure.
    result.q1 = m_fBestGain / c_fMinGain;
    if (m_surface.Coverage() >= c_dCoveredShare || m_proposals.empty()) {
        result.status = 2;
        return;
    }
    result.status = 0;
    result.q2 = m_fBestShare;
}

int AcquisitionPlanningStore::GetNumberOfProposals(NSComputationResult& result) {
    Lock lock(m_mutex);
    result = NSComputationResult();
    if (m_progress && !m_progress->GoOn()) {
        result.code = 3;
        return 0;
    }
    result.numProposals = static_cast<int>(m_proposals.size());
    result.code = m_proposals.empty() ? 1 : 0;
    return result.numProposals;
}

void AcquisitionPlanningStore::GetProposals(int n, NSDHAxisConfiguration* configs, NSProposalInfo* infos) {
    Lock lock(m_mutex);
    for (int i = 0; i < n && i < static_cast<int>(m_proposals.size()); ++i) {
        if (configs) configs[i] = m_proposals[static_cast<size_t>(i)].config;
        if (infos) infos[i] = m_proposals[static_cast<size_t>(i)].info;
    }
}

void AcquisitionPlanningStore::GetProposalPoints(int n, std::vector<float>* pointLists) {
    Lock lock(m_mutex);
    for (int i = 0; i < n && i < static_cast<int>(m_proposals.size()); ++i)
        if (pointLists) pointLists[i] = m_proposals[static_cast<size_t>(i)].points;
}
