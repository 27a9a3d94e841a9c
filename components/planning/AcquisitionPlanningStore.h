// The acquisition planning component: it keeps everything the steerings hand it, so hosts and
// tests can read it back. Evaluation estimates the coverage from the measured points alone
// (MeasuredSurface.h) and proposes views into the holes of the measured surface, each scored by
// the new surface it is predicted to measure (ViewPrediction.h); the joint solver is JointSolver.h.
#pragma once

#include "AcquisitionPlanning.h"
#include "MeasuredSurface.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

class AcquisitionPlanningStore : public ZoCOrbal2AcquisitionPlanning {
public:
    // A scan as received, with its arrays copied.
    struct StoredScan {
        std::vector<float> points;
        std::vector<int> pixels;
        uint32_t numPixelInts = 0;
        float joints[5] = {0, 0, 0, 0, 0};
    };
    struct StoredCenterLine {
        std::vector<float> points;
        std::vector<int> roiIndices;
        std::vector<int> prepIndices;
        std::vector<int> prepFlags;
        float lowerThreshold = 0;
        bool modeFlag = false;
        bool roiPresent = false;
        bool prepsPresent = false;
    };

    void SetCameraParameters(const NSSensorParameters& camera) override;
    void SetProjectorParameters(const NSSensorParameters& projector) override;
    void SetJointParameters(const NSJointParameter joints[5]) override;
    void Update() override;
    bool IsReadyToPlan(unsigned long timeoutMs, const ZoCOrbal2AxisChain::CJointPositionSequence& sequence) override;
    void SetCollisionTree(AxisNode& tree) override;
    void SetModeFlag(bool flag) override;
    void SetAcquisitionType(EAcquisitionType type) override;
    void PutScan(const NSScanRecord& scan) override;
    void PutCenterLine(const NSCenterLineRecord& centerLine, bool modeFlag) override;
    void PutSawCuts(const float* data, int numFloats) override;
    void Evaluate(NSEvaluationResult& result) override;
    int GetNumberOfProposals(NSComputationResult& result) override;
    void GetProposals(int n, NSDHAxisConfiguration* configs, NSProposalInfo* infos) override;
    void ClearProposals() override;
    void GetProposalPoints(int n, std::vector<float>* pointLists) override;
    void SolveJoints(const float direction[3], const float point[3], float tolerance, float joints[5],
                     float solvedPoint[3], float solvedDirection[3], int& status) override;
    void SetProgressCallback(NSProgressCallback* callback) override;
    void SetPlanningTransformation(const CbMatrix4Rf& planning) override;
    void SetReferenceConfiguration(const float joints[5]) override;
    void PutJawBorder(const float* data, uint64_t numFloats) override;

    // Test hook: while a gate is set, PutScan first sets `arrived` (when given), then waits
    // until the gate is set (opened) before storing.
    void SetScanGate(CbEvent* gate, CbEvent* arrived = nullptr) {
        m_pScanArrived.store(arrived);
        m_pScanGate.store(gate);
    }

    // Forgets the scans received so far (long-running hosts and benchmarks).
    void ClearScans();

    // Read-back, each under the lock.
    std::optional<NSSensorParameters> Camera() const;
    std::optional<NSSensorParameters> Projector() const;
    std::optional<std::vector<NSJointParameter>> JointParameters() const;
    int JointParameterCalls() const;
    int UpdateCalls() const;
    std::optional<EAcquisitionType> AcquisitionType() const;
    std::optional<bool> ModeFlag() const;
    std::optional<CbMatrix4Rf> PlanningTransformation() const;
    std::optional<std::vector<float>> ReferenceConfiguration() const;
    NSProgressCallback* ProgressCallback() const;
    AxisNode* CollisionTree() const;
    std::vector<StoredScan> Scans() const;
    size_t ScanCount() const;
    std::optional<StoredCenterLine> CenterLine() const;
    std::vector<float> SawCuts() const;
    std::vector<float> JawBorder() const;

private:
    std::atomic<CbEvent*> m_pScanGate{nullptr};
    std::atomic<CbEvent*> m_pScanArrived{nullptr};
    mutable std::mutex m_mutex;  // guards everything below: scans arrive on the hand-off thread
    std::optional<NSSensorParameters> m_camera;
    std::optional<NSSensorParameters> m_projector;
    std::optional<std::vector<NSJointParameter>> m_joints;
    int m_jointParameterCalls = 0;
    int m_updateCalls = 0;
    std::optional<EAcquisitionType> m_type;
    std::optional<bool> m_modeFlag;
    std::optional<CbMatrix4Rf> m_planning;
    std::optional<std::vector<float>> m_reference;
    NSProgressCallback* m_progress = nullptr;
    AxisNode* m_collisionTree = nullptr;
    std::vector<StoredScan> m_scans;
    std::optional<StoredCenterLine> m_centerLine;
    std::vector<float> m_sawCuts;
    std::vector<float> m_jawBorder;

    // Coverage and proposals (under m_mutex).
    struct PlannedView {
        NSDHAxisConfiguration config;
        NSProposalInfo info;
        std::vector<float> points;  // planning frame
    };
    void updateProposalsUnlocked();
    void updateSurfaceUnlocked();
    MeasuredSurface m_surface;
    std::vector<PlannedView> m_proposals;
    float m_fBestGain = 0;   // mm^2, predicted for the first proposal
    float m_fBestShare = 0;  // of its target's uncovered surface
};
