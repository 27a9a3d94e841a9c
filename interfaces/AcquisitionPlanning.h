// Acquisition planning component: receives the device description and every recorded scan,
// evaluates how well the model is covered and proposes further joint configurations.
// The virtual operations below are declared in the component's own order.
#pragma once

#include "AxisChain.h"
#include "Geometry.h"

#include <cstdint>
#include <vector>

// Acquisition modes of the host, 0..23.
enum ECAIAcquireMode : int {
    eAcquireModeNone = 0,
    eAcquireModeLast = 23,
};

class AxisNode;  // node of the joint collision tree (triple tray)

class ZoCOrbal2AcquisitionPlanning {
public:
    enum EAcquisitionType : int { eTypeJaw = 0, eTypeGyration = 1, eTypeTripleTray = 2 };

    // Asked during long computations whether to go on.
    struct NSProgressCallback {
        virtual ~NSProgressCallback() = default;
        virtual bool GoOn() = 0;
    };

    // Camera or projector: view, up and eye (camera frame, mm), field of view (degrees), size.
    struct NSSensorParameters {
        float view[3] = {0, 0, 0};
        float up[3] = {0, 0, 0};
        float eye[3] = {0, 0, 0};
        float fov = 0;
        int width = 0;
        int height = 0;
    };

    // One joint: its four DH values, kind (0 translational, 1 revolute) and position limits.
    struct NSJointParameter {
        float dh[4] = {0, 0, 0, 0};
        int kind = 0;
        float minPosition = 0;
        float maxPosition = 0;
    };

    // One recorded scan in the planning frame. `numPixelInts` is 0 for an eight-field rotation
    // scan without pixels and 0xFFFFFFFF for any other scan without pixels.
    struct NSScanRecord {
        const float* points = nullptr;  // three floats per point
        uint32_t numPointFloats = 0;
        const int* pixels = nullptr;  // column, row per point
        uint32_t numPixelInts = 0;
        float joints[5] = {0, 0, 0, 0, 0};
    };

    struct NSCenterLineRecord {
        const float* points = nullptr;  // jaw line in the planning frame, three floats per point
        int numPointFloats = 0;
        const int* roiIndices = nullptr;
        int numRoiIndices = 0;
        const int* prepIndices = nullptr;
        const int* prepFlags = nullptr;
        int numPreps = 0;
        float lowerThreshold = 0;  // planning units
    };

    // Result of an evaluation. Status: 0 the planning has proposals to offer; 1 nothing has
    // been recorded yet; 2 the model is covered; 3 no surface to cover is known; 4 the
    // evaluation failed; 5 interrupted. q1 and q2 are described with the planning component.
    struct NSEvaluationResult {
        int status = 1;
        float q1 = 0;
        float q2 = 0;
        float coverage = 0;  // covered share of the model surface, 0..1
        int numPoints = 0;   // points received so far
    };

    // Result of a proposal computation. Code: 0 proposals available; 1 nothing to propose;
    // 3 interrupted; others: failure.
    struct NSComputationResult {
        int code = 1;
        int numProposals = 0;
    };

    struct NSDHAxisConfiguration {
        float values[5] = {0, 0, 0, 0, 0};
    };

    // Per proposal: what the planning knows about it; not interpreted by the steerings.
    struct NSProposalInfo {
        float expectedGain = 0;  // share of the uncovered surface the view is expected to see
        float viewDirection[3] = {0, 0, 0};
        float target[3] = {0, 0, 0};
        int numPoints = 0;
        uint8_t reserved[20] = {};
    };
    static_assert(sizeof(NSProposalInfo) == 52, "proposal information record is 52 bytes");

    virtual ~ZoCOrbal2AcquisitionPlanning() = default;                                       // 1
    virtual void SetCameraParameters(const NSSensorParameters& camera) = 0;                   // 2
    virtual void SetProjectorParameters(const NSSensorParameters& projector) = 0;             // 3
    virtual void SetJointParameters(const NSJointParameter joints[5]) = 0;                     // 4
    virtual void Update() = 0;                                                                 // 5
    virtual bool IsReadyToPlan(unsigned long timeoutMs,
                               const ZoCOrbal2AxisChain::CJointPositionSequence& sequence) = 0;  // 6
    virtual void SetCollisionTree(AxisNode& tree) = 0;                                         // 7
    virtual void SetModeFlag(bool flag) = 0;                                                   // 8
    virtual void SetAcquisitionType(EAcquisitionType type) = 0;                                // 9
    virtual void PutScan(const NSScanRecord& scan) = 0;                                        // 10
    virtual void PutCenterLine(const NSCenterLineRecord& centerLine, bool modeFlag) = 0;       // 11
    virtual void PutSawCuts(const float* data, int numFloats) = 0;                             // 12
    virtual void Evaluate(NSEvaluationResult& result) = 0;                                     // 13
    virtual int GetNumberOfProposals(NSComputationResult& result) = 0;                         // 14
    virtual void GetProposals(int n, NSDHAxisConfiguration* configs, NSProposalInfo* infos) = 0;  // 15
    virtual void ClearProposals() = 0;                                                          // 16
    virtual void GetProposalPoints(int n, std::vector<float>* pointLists) = 0;                 // 17
    // Joints that make the camera look at `point` along `direction` (planning frame).
    virtual void SolveJoints(const float direction[3], const float point[3], float tolerance, float joints[5],
                             float solvedPoint[3], float solvedDirection[3], int& status) = 0;  // 18
    virtual void SetProgressCallback(NSProgressCallback* callback) = 0;                        // 19
    virtual void SetPlanningTransformation(const CbMatrix4Rf& planning) = 0;                   // 20
    virtual void SetReferenceConfiguration(const float joints[5]) = 0;                         // 21
    virtual void PutJawBorder(const float* data, uint64_t numFloats) = 0;                      // 22
};

// Creates a planning object; the caller owns it.
ZoCOrbal2AcquisitionPlanning* GetZoCOrbal2AcquisitionPlanning();
