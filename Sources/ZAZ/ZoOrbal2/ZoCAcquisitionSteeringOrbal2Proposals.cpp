// Proposals of the acquisition planning become configuration requests whose camera region
// frames the points each proposal is meant to capture.
#include "ZoCAcquisitionSteeringOrbal2.h"

#include "ZoCPlanningFrame.h"

#include <algorithm>
#include <cfloat>

namespace {

// Running pixel extremes of the points of one proposal.
struct PixelExtremes {
    float minU = FLT_MAX, minV = FLT_MAX, maxU = -FLT_MAX, maxV = -FLT_MAX;
    bool IsEmpty() const { return minU > maxU; }
    void Add(float u, float v) {
        minU = std::min(minU, u);
        maxU = std::max(maxU, u);
        minV = std::min(minV, v);
        maxV = std::max(maxV, v);
    }
};

}  // namespace

int ZoCAcquisitionSteeringOrbal2::computeAdditionalAxisConfigs(std::vector<NSConfigurationRequest>& out,
                                                               ZoCOrbal2AcquisitionPlanning::NSComputationResult& result) {
    const int n = m_pPlanning->GetNumberOfProposals(result);
    out.resize(static_cast<size_t>(std::max(n, 0)));
    if (n <= 0) return n;
    std::vector<ZoCOrbal2AcquisitionPlanning::NSDHAxisConfiguration> configs(static_cast<size_t>(n));
    std::vector<ZoCOrbal2AcquisitionPlanning::NSProposalInfo> infos(static_cast<size_t>(n));
    std::vector<std::vector<float>> pointLists(static_cast<size_t>(n));
    m_pPlanning->GetProposals(n, configs.data(), infos.data());
    m_pPlanning->GetProposalPoints(n, pointLists.data());

    long width = 0, height = 0;
    const ZoCCamProjCalib* calib = cameraCalibration();
    if (calib) calib->GetCameraImageSize(width, height);
    const CbMatrix4Rf planningInverse = m_planningTrafo.Inverted();
    for (int i = 0; i < n; ++i) {
        NSConfigurationRequest& request = out[static_cast<size_t>(i)];
        request.m_config = NCJointConfiguration(configs[static_cast<size_t>(i)].values);
        const CbMatrix4Rf discToCamera = m_axisChain.GetCamToDiscTransformation(request.m_config, false).Inverted();
        PixelExtremes extremes;
        const std::vector<float>& points = pointLists[static_cast<size_t>(i)];
        for (size_t k = 0; k + 2 < points.size(); k += 3) {
            const CbVector3f disc =
                ZoCPlanningFrame::PlanningToDisc(planningInverse, {points[k], points[k + 1], points[k + 2]});
            const CbVector3f r = discToCamera.TransformPoint(disc);
            const double camera[3] = {r.x, r.y, r.z};
            double pixel[3];
            if (calib && calib->ProjectToImage(camera, pixel))
                extremes.Add(static_cast<float>(pixel[0]), static_cast<float>(pixel[1]));
        }
        // A proposal without a visible point gets the whole image.
        CRect rect(0, 0, static_cast<int>(width) - 1, static_cast<int>(height) - 1);
        if (!extremes.IsEmpty())
            rect = CRect(static_cast<int>(extremes.minU + 0.5f), static_cast<int>(extremes.minV + 0.5f),
                         static_cast<int>(extremes.maxU + 0.5f), static_cast<int>(extremes.maxV + 0.5f));
        request.m_iROICenterX = (rect.left + rect.right) / 2;
        request.m_iROICenterY = (rect.top + rect.bottom) / 2;
        enlargeFrame(rect, m_iEnlargeGrowth, m_iEnlargeMinSize);
        request.m_rectCameraROI = rect;
    }
    return n;
}

bool ZoCAcquisitionSteeringOrbal2::checkAdditionalAxisConfigs(
    std::vector<ZoCOrbal2AcquisitionPlanning::NSDHAxisConfiguration>& configs) const {
    bool changed = false;
    for (auto& config : configs)
        for (int j = 0; j < 5; ++j) {
            const float lo = m_jointParams[j].minPosition, hi = m_jointParams[j].maxPosition;
            if (config.values[j] < lo) {
                config.values[j] = lo;
                changed = true;
            } else if (config.values[j] > hi) {
                config.values[j] = hi;
                changed = true;
            }
        }
    return changed;
}
