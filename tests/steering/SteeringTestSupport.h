// Fixtures of the steering suite: reference-device steerings, a scripted planning and jaw-line skeletons.
#pragma once

#include "AcquisitionPlanningStore.h"
#include "CapturingLogSink.h"
#include "ReferenceDevice.h"
#include "ZoOrbal2.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

using Sequence = ZoCOrbal2AxisChain::CJointPositionSequence;
using Request = ZoCOrbal2AxisChain::NSConfigurationRequest;
using Joints = ZoCOrbal2AxisChain::NCJointConfiguration;
using Proposal = ZoCOrbal2AcquisitionPlanning::NSDHAxisConfiguration;
using Evaluation = ZoCOrbal2AcquisitionPlanning::NSEvaluationResult;

// A base steering of any acquisition type on the reference device.
class TestSteering : public ZoCAcquisitionSteeringOrbal2 {
  public:
    explicit TestSteering(EAcquisitionType type = ZoCOrbal2AcquisitionPlanning::eTypeJaw)
        : ZoCAcquisitionSteeringOrbal2(ZoCOrbal2DeviceConfig().m_axisChain, type) {
        setCameraAndProjectorParameters(ZoCOrbal2DeviceConfig().m_camProjCalib);
        setJointParameters();
    }
};

// What a steering handed to its planning.
inline AcquisitionPlanningStore& store(const ZoCAcquisitionSteeringOrbal2& steering) {
    return dynamic_cast<AcquisitionPlanningStore&>(*steering.GetAcquisitionPlanning());
}

// Planning-frame coordinates of disc points (mm), raised by `dz`: the neutral camera frame by the chain's
// kinematics, y mirrored.
inline std::vector<float> planningOf(const ZoCAcquisitionSteeringOrbal2& steering,
                                     std::initializer_list<CbVector3f> disc, float dz = 0) {
    Joints neutral;
    steering.GetAxisChain().GetNeutralConfiguration(neutral);
    const CbMatrix4Rf toCamera =
        steering.GetAxisChain().GetCamToDiscTransformation(neutral, false).Inverted();
    std::vector<float> out;
    for (const CbVector3f& d : disc) {
        const CbVector3f c = toCamera.TransformPoint(d);
        out.insert(out.end(), {c.x, -c.y, c.z + dz});
    }
    return out;
}

// A planning that evaluates, proposes and solves as a test tells it to.
class ScriptedPlanning : public AcquisitionPlanningStore {
  public:
    NSEvaluationResult evaluation;
    int code = 0;
    std::vector<Proposal> proposals;
    std::vector<std::vector<float>> points;
    bool ready = true;
    std::vector<float> solvedPoint = {0, 0, 0};  // solved at the home joints

    void SolveJoints(const float*, const float*, float, float joints[5], float point[3], float direction[3],
                     int& status) override {
        std::copy_n(ReferenceDevice::Home().Data(), 5, joints);
        std::copy(solvedPoint.begin(), solvedPoint.end(), point);
        std::fill(direction, direction + 3, 0.0f);
        status = 0;
    }
    bool IsReadyToPlan(unsigned long, const Sequence&) override { return ready; }
    void Evaluate(NSEvaluationResult& result) override { result = evaluation; }
    int GetNumberOfProposals(NSComputationResult& result) override {
        result.code = code;
        result.numProposals = static_cast<int>(proposals.size());
        return code == 0 ? result.numProposals : 0;
    }
    void GetProposals(int n, NSDHAxisConfiguration* configs, NSProposalInfo*) override {
        std::copy_n(proposals.begin(), n, configs);
    }
    void GetProposalPoints(int n, std::vector<float>* lists) override {
        for (int i = 0; i < n; ++i)  // proposals beyond the scripted points have none
            lists[i] = static_cast<size_t>(i) < points.size() ? points[i] : std::vector<float>();
    }
};

// A jaw steering with access to its planning, its jaw line and its last request.
class TestJaw : public ZoCAcquisitionSteeringOrbal2Jaw {
  public:
    explicit TestJaw(bool tripleTray = false, bool extended = false, bool skipLimit = false,
                     const ZoCOrbal2DeviceConfig& device = ZoCOrbal2DeviceConfig())
        : ZoCAcquisitionSteeringOrbal2Jaw(device, tripleTray, extended, skipLimit) {}
    ScriptedPlanning& Script() {  // the worker is idle (no scans queued) while the planning is replaced
        m_pPlanning = std::make_unique<ScriptedPlanning>();
        return static_cast<ScriptedPlanning&>(*m_pPlanning);
    }
    void SetLastRequest(const Joints& c) { m_lastRequest.m_config = c; }
    std::vector<int> ROI(int n) const { return {GetROIIndices(), GetROIIndices() + n}; }
    void Refresh() {  // neutral values and limits, as every planner refreshes them first
        NCJointConfiguration neutral;
        refreshNeutralAndLimits(neutral);
    }
    CbVector3f LL(int i) const {
        std::vector<CbVector3f> all(m_ciMaxNumPts);
        GetLL(all.data());
        return all[static_cast<size_t>(i)];
    }
};

// An arch of the given radii (mm) about the disc centre from 40 to 320 degrees, at height
// `heightMm` above the plate, in image-area units (40 per mm); clockwise when `reversed`.
inline CyHermiteSpline arch(float rx = 22, float ry = 26, float heightMm = 18, bool reversed = false) {
    std::vector<CbVector3f> points;
    for (int i = 0; i < 13; ++i) {
        const float a = (40.0f + 280.0f * static_cast<float>(i) / 12.0f) * 0.017453292f;
        points.push_back({40 * rx * std::cos(a), 40 * ry * std::sin(a), -40 * heightMm});
    }
    if (reversed)
        std::reverse(points.begin(), points.end());
    return CyHermiteSpline(points);
}

// A straight skeleton along x of the given length in image-area units.
inline CyHermiteSpline straight(float length) {
    return CyHermiteSpline({{0, 0, 0}, {length / 2, 0, 0}, {length, 0, 0}});
}

// The part of a request's name after its number ("_U0_3"), and its five joint values.
inline std::wstring suffix(const Sequence& seq, int i) {
    return seq[i].m_strName.str().substr(seq[i].m_strName.str().find(L'_'));
}
inline std::vector<float> joints(const Request& r) {
    return {r.m_config.Data(), r.m_config.Data() + 5};
}
// Joint j of every request; a check that there are n requests named tag0 .. tag{n-1}.
inline std::vector<float> column(const Sequence& seq, int j) {
    std::vector<float> out;
    for (int k = 0; k < seq.GetCount(); ++k)
        out.push_back(seq[k].m_config[j]);
    return out;
}
inline void expectNumbered(const Sequence& seq, const std::wstring& tag, int n) {
    ASSERT_EQ(seq.GetCount(), n);
    for (int k = 0; k < n; ++k)
        EXPECT_EQ(suffix(seq, k), tag + std::to_wstring(k));
}
// The home configuration with the disc at `l5`; a matcher of a whole vector within `tolerance`.
inline Joints homeAt(float l5) {
    Joints c = ReferenceDevice::Home();
    c[4] = l5;
    return c;
}
inline auto near(const std::vector<float>& expected, float tolerance) {
    return testing::Pointwise(testing::FloatNear(tolerance), expected);
}
