// The planning's evaluation of the scans so far and its proposals for the largest gaps.
#include "AcquisitionPlanningStore.h"
#include "JointSolver.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
constexpr int c_iMaxProposals = 10;
constexpr float c_fMinGapArea = 10.0f;          // mm^2: smaller gaps are not worth a view
constexpr float c_fViewToleranceDegrees = 10.0f;
constexpr float c_fFacingCosine = 0.5f;         // a cell is faced within 60 degrees
constexpr double c_dCoveredShare = 0.995;
// A view whose tilts and disc angle all lie within 2 degrees of an earlier one's, and whose
// linear joints within 1 mm, sees what that one saw: it is never proposed again.
constexpr float c_fSameViewDegrees = 2.0f;
constexpr float c_fSameViewMm = 1.0f;
using Lock = std::lock_guard<std::mutex>;

bool sameView(const float a[5], const float b[5]) {
    return std::fabs(a[0] - b[0]) <= c_fSameViewMm && std::fabs(a[3] - b[3]) <= c_fSameViewMm &&
           std::fabs(a[1] - b[1]) <= c_fSameViewDegrees && std::fabs(a[2] - b[2]) <= c_fSameViewDegrees &&
           std::fabs(std::remainder(a[4] - b[4], 360.0f)) <= c_fSameViewDegrees;
}
}  // namespace

void AcquisitionPlanningStore::updateProposalsUnlocked() {
    m_proposals.clear();
    m_fLargestGapArea = 0;
    if (!m_coverage.HasSurface()) return;
    const std::vector<CoverageMap::Gap> gaps = m_coverage.Gaps(c_iMaxProposals);
    if (!gaps.empty()) m_fLargestGapArea = gaps.front().area;
    if (!m_camera || !m_joints || !m_planning) return;
    const JointSolver solver(*m_camera, m_joints->data(), *m_planning);
    if (!solver.IsSetUp()) return;
    const CbVector3f up =
        CbVector3f((*m_planning)(0, 2), (*m_planning)(1, 2), (*m_planning)(2, 2)).Normalized();
    for (const CoverageMap::Gap& gap : gaps) {
        if (gap.area < c_fMinGapArea) break;
        if (m_progress && !m_progress->GoOn()) break;
        // Look into the gap: half way between its outward direction and straight down, else
        // straight against it, else straight down.
        const CbVector3f candidates[3] = {-(gap.normal + up).Normalized(), -gap.normal, -up};
        for (const CbVector3f& look : candidates) {
            if (look.Length() < 0.5f) continue;
            const float direction[3] = {look.x, look.y, look.z};
            const float target[3] = {gap.target.x, gap.target.y, gap.target.z};
            const JointSolver::Result solved = solver.Solve(direction, target, c_fViewToleranceDegrees);
            if (solved.status != JointSolver::eSolved) continue;
            const bool seen =
                std::any_of(m_scans.begin(), m_scans.end(),
                            [&](const StoredScan& scan) { return sameView(scan.joints, solved.joints); }) ||
                std::any_of(m_proposals.begin(), m_proposals.end(),
                            [&](const PlannedView& p) { return sameView(p.config.values, solved.joints); });
            if (seen) continue;  // try the next way of looking into the gap
            PlannedView proposal;
            std::copy(solved.joints, solved.joints + 5, proposal.config.values);
            int facing = 0;
            for (const CbVector3f& p : gap.points) proposal.points.insert(proposal.points.end(), {p.x, p.y, p.z});
            for (int cell : gap.cells) {
                CbVector3f p, n;
                m_coverage.CellSurface(cell, p, n);
                facing += -n.Dot(look) >= c_fFacingCosine;
            }
            proposal.facingShare = static_cast<float>(facing) / static_cast<float>(gap.cells.size());
            proposal.info.expectedGain = gap.area * proposal.facingShare;
            std::memcpy(proposal.info.viewDirection, direction, sizeof direction);
            std::memcpy(proposal.info.target, target, sizeof target);
            proposal.info.numPoints = static_cast<int>(gap.points.size());
            m_proposals.push_back(std::move(proposal));
            break;
        }
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
    if (!m_coverage.HasSurface()) {
        result.status = 3;
        return;
    }
    if (m_progress && !m_progress->GoOn()) {
        result.status = 5;
        return;
    }
    updateProposalsUnlocked();
    result.q1 = m_fLargestGapArea / c_fMinGapArea;
    if (m_coverage.Coverage() >= c_dCoveredShare || m_proposals.empty()) {
        result.status = 2;
        return;
    }
    result.status = 0;
    result.q2 = m_proposals.front().facingShare;
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
