// Jaw steering: the buccal ring, gap covering from the planning's proposals in the fastest
// order, a scan along a ray the user chose, the joint test, and focusing a ray on a measured
// point cloud.
#include "ZoCAcquisitionSteeringOrbal2Jaw.h"

#include "ZoCJawScanJointSequenceGenerator.h"
#include "ZoCPlanningFrame.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace {
constexpr int c_iNumBuccalImages = 7;
constexpr float c_fBuccalL1 = 48.0f;
constexpr float c_fBuccalL2 = 50.0f;
constexpr int c_iMaxGapCoveringRequests = 10;
constexpr int c_iNumJointTestRequests = 15;
constexpr float c_fUserRayTolerance = 17.0f;
constexpr int c_iUserRayFrameCount = 30;
constexpr int c_iUserRayHalfRegion = 240;
constexpr float c_fVisibilityCone = 0.17453294f;  // 10 degrees
constexpr float c_fVisibilityRadius = 20.0f;
constexpr int c_iMinFocusPoints = 100;
}  // namespace

// ---------------------------------------------------------------------------------------------
// Buccal ring

bool ZoCAcquisitionSteeringOrbal2Jaw::GetJointConfigurationBukkal(CJointPositionSequence& seq) {
    seq.RemoveAll();
    NCJointConfiguration neutral;
    if (!refreshNeutralAndLimits(neutral)) return false;
    NSConfigurationRequest req;
    req.m_config = neutral;
    req.m_config[0] = c_fBuccalL1;
    req.m_config[1] = c_fBuccalL2;
    for (int k = 0; k < c_iNumBuccalImages; ++k) {
        req.m_config[4] = static_cast<float>(k) * 360.0f / c_iNumBuccalImages;
        appendRequest(L"%03d_U0_%d", k, req, seq);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Gap covering

bool ZoCAcquisitionSteeringOrbal2Jaw::GetJointConfigurationForGapCovering(const CbEvent& cancel,
                                                                         CJointPositionSequence& seq) {
    if (!m_pPlanning->IsReadyToPlan(c_dwTimeoutWaitBuild, seq)) return false;
    seq.RemoveAll();
    if (cancel.IsSet()) return true;
    ZoCOrbal2AcquisitionPlanning::NSEvaluationResult evaluation;
    Evaluate(evaluation);
    switch (evaluation.status) {
        case 1:
        case 2:
        case 3:
        case 5:
            return true;  // nothing to add
        case 4:
            return false;
        default:
            break;
    }
    if (evaluation.q2 < 0.25f || evaluation.q1 < 1.0f || cancel.IsSet()) return true;
    std::vector<NSConfigurationRequest> proposals;
    ZoCOrbal2AcquisitionPlanning::NSComputationResult computation;
    computeAdditionalAxisConfigs(proposals, computation);
    if (computation.code == 0) return getJointConfigurationAP(proposals, seq);
    return computation.code == 1 || computation.code == 3;
}

bool ZoCAcquisitionSteeringOrbal2Jaw::getJointConfigurationAP(std::vector<NSConfigurationRequest>& list,
                                                             CJointPositionSequence& seq) {
    if (list.empty()) return false;
    seq.RemoveAll();
    NCJointConfiguration neutral;
    if (!refreshNeutralAndLimits(neutral)) return false;
    NSConfigurationRequest req;
    req.m_config = neutral;
    optimizeSequence(list, seq, req);
    m_lastRequest = req;
    return true;
}

void ZoCAcquisitionSteeringOrbal2Jaw::optimizeSequence(std::vector<NSConfigurationRequest>& list,
                                                      CJointPositionSequence& seq, NSConfigurationRequest& req) {
    if (list.size() > static_cast<size_t>(c_iMaxGapCoveringRequests)) list.resize(c_iMaxGapCoveringRequests);
    const int n = static_cast<int>(list.size());
    ZoCJawScanJointSequenceGenerator generator(n, 60.0f);
    for (int i = 0; i < n; ++i) {
        const NCJointConfiguration& c = list[static_cast<size_t>(i)].m_config;
        setJointParamsForOptimization(c[0], c[1], c[2], c[3], c[4], i);
        m_aImageROI[i] = list[static_cast<size_t>(i)].m_rectCameraROI;
        m_aiImageROICenter[i][0] = list[static_cast<size_t>(i)].m_iROICenterX;
        m_aiImageROICenter[i][1] = list[static_cast<size_t>(i)].m_iROICenterY;
        const float values[5] = {m_afImageJoints[0][i], m_afImageJoints[1][i], m_afImageJoints[2][i],
                                 m_afImageJoints[3][i], m_afImageJoints[4][i]};
        generator.SetPositionValues(i, values);
    }
    // The axes start where the last sequence left them.
    std::vector<int> order;
    if (!generator.FindLeastTimeOrder(m_lastRequest.m_config, order)) return;
    for (int i = 0; i < n; ++i) {
        const int entry = order[static_cast<size_t>(i)];
        m_aiRotationOrder[i] = entry;
        for (int j = 0; j < 5; ++j) req.m_config[j] = m_afImageJoints[j][entry];
        req.m_rectCameraROI = m_aImageROI[entry];
        req.m_iROICenterX = m_aiImageROICenter[entry][0];
        req.m_iROICenterY = m_aiImageROICenter[entry][1];
        appendRequest(L"%03d_UG_%d", i, req, seq);
    }
}

void ZoCAcquisitionSteeringOrbal2Jaw::addRequestToJointPositions(
    CJointPositionSequence& seq, ZoCOrbal2AcquisitionPlanning::NSDHAxisConfiguration& config) {
    NSConfigurationRequest req;
    req.m_config = NCJointConfiguration(config.values);
    appendRequest(L"%03d_UU_%d", 0, req, seq);
}

// ---------------------------------------------------------------------------------------------
// User-defined ray

CyRay ZoCAcquisitionSteeringOrbal2Jaw::rayToPlanning(const CyRay& ray) const {
    const CbVector3f point = ZoCPlanningFrame::DiscToPlanning(m_planningTrafo, toDisc(ray.origin));
    const CbVector3f d = ZoCPlanningFrame::NormalisedRotation(m_trafoImageAreaToDisc).TransformDirection(ray.direction);
    const CbVector3f direction =
        ZoCPlanningFrame::NormalisedRotation(m_planningTrafo).TransformDirection({d.x, d.y, -d.z}).Normalized();
    return CyRay(point, direction);
}

bool ZoCAcquisitionSteeringOrbal2Jaw::GetSequenceForUserDefinedRay(const CyRay& ray, CJointPositionSequence& seq) {
    if (!m_pPlanning->IsReadyToPlan(c_dwTimeoutWaitBuild, seq)) return false;
    seq.RemoveAll();
    const CyRay planningRay = rayToPlanning(ray);
    const float direction[3] = {planningRay.direction.x, planningRay.direction.y, planningRay.direction.z};
    const float point[3] = {planningRay.origin.x, planningRay.origin.y, planningRay.origin.z};
    float joints[5], solvedPoint[3], solvedDirection[3];
    int status = -1;
    m_pPlanning->SolveJoints(direction, point, c_fUserRayTolerance, joints, solvedPoint, solvedDirection, status);
    if (status != 0) return false;
    NSConfigurationRequest req;
    req.m_config = NCJointConfiguration(joints);

    // Image check: the ray point must be in the picture and the solved point near it.
    const ZoCCamProjCalib* calib = cameraCalibration();
    long width = 0, height = 0;
    if (!calib || !calib->GetCameraImageSize(width, height)) return false;
    const CbMatrix4Rf planningInverse = m_planningTrafo.Inverted();
    const CbMatrix4Rf discToCamera = m_axisChain.GetCamToDiscTransformation(req.m_config, false).Inverted();
    auto project = [&](const CbVector3f& planningPoint, double pixel[3]) {
        const CbVector3f c = discToCamera.TransformPoint(ZoCPlanningFrame::PlanningToDisc(planningInverse, planningPoint));
        const double camera[3] = {c.x, c.y, c.z};
        return calib->ProjectToImage(camera, pixel);
    };
    double p[3], q[3];
    if (!project(planningRay.origin, p) || !project({solvedPoint[0], solvedPoint[1], solvedPoint[2]}, q)) return false;
    const double w = static_cast<double>(width), h = static_cast<double>(height);
    if (std::fabs(q[0] - p[0]) > w / 2 || std::fabs(q[1] - p[1]) > h / 2 || p[0] < 0 || p[0] > w || p[1] < 0 ||
        p[1] > h)
        return false;

    if (!m_bSkipLimit && GetFrameCount() > c_iUserRayFrameCount) {
        // Late in a scan the camera only needs the region around the chosen point.
        const int u = static_cast<int>(std::lround(p[0])), v = static_cast<int>(std::lround(p[1]));
        CRect region(u - c_iUserRayHalfRegion, v - c_iUserRayHalfRegion, u + c_iUserRayHalfRegion,
                     v + c_iUserRayHalfRegion);
        enlargeFrame(region, 0, 256);
        req.m_rectCameraROI = region;
        req.m_iROICenterX = (region.left + region.right) / 2;
        req.m_iROICenterY = (region.top + region.bottom) / 2;
    }
    appendRequest(L"%03d_UU_%d", 0, req, seq);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Joint test

bool ZoCAcquisitionSteeringOrbal2Jaw::jointTestCandidates(int joint, float candidates[3], float& minimum,
                                                          float& maximum) const {
    if (joint < 0 || joint > 4) return false;
    minimum = m_afLowerLimits[joint];
    maximum = m_afUpperLimits[joint];
    if (minimum == maximum) return false;
    const float s = (maximum - minimum) * 0.05f;
    candidates[0] = m_afHomeJoints[joint] + 2 * s;
    candidates[1] = minimum + s;
    candidates[2] = maximum - s;
    return true;
}

float ZoCAcquisitionSteeringOrbal2Jaw::setJointParamsForTestOfJointNr(int joint, int candidate, int,
                                                                     NSConfigurationRequest& req) {
    float candidates[3], minimum, maximum;
    if (candidate < 0 || candidate > 2 || !jointTestCandidates(joint, candidates, minimum, maximum)) return 0;
    const float value = candidates[candidate];
    if (value < minimum || value > maximum) return 0;  // the joint keeps its value
    req.m_config[joint] = value;
    return value;
}

bool ZoCAcquisitionSteeringOrbal2Jaw::GetJointConfigurationForTestOfJointNr(CJointPositionSequence& seq, int joint) {
    seq.RemoveAll();
    NCJointConfiguration neutral;
    if (!refreshNeutralAndLimits(neutral)) return false;
    if (joint < 0 || joint > 4) return false;
    // The three candidates in turn, five times: the joint swings between them.
    for (int k = 0; k < c_iNumJointTestRequests; ++k) {
        NSConfigurationRequest req;
        req.m_config = neutral;
        setJointParamsForTestOfJointNr(joint, k % 3, 0, req);
        appendRequest(L"%03d_UT_%d", k, req, seq);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Ray focusing

void ZoCAcquisitionSteeringOrbal2Jaw::checkVisibility(std::vector<std::pair<CbVector3f, CbVector3f>>& cloud,
                                                      const CyRay& ray, float angle, float radius) {
    const CbVector3f d = ray.direction.Normalized();
    std::stable_sort(cloud.begin(), cloud.end(),
                     [&](const auto& a, const auto& b) { return d.Dot(a.first) < d.Dot(b.first); });
    const float cos2 = std::cos(angle) * std::cos(angle);
    const float r2 = radius * radius;
    // Occluders lie within `radius` of the line through a point along d: bucket the points by
    // their position across d, in cells of the radius, so only neighbouring cells are tried.
    CbVector3f e1 = std::fabs(d.x) < 0.9f ? CbVector3f(1, 0, 0).Cross(d) : CbVector3f(0, 1, 0).Cross(d);
    e1 = e1.Normalized();
    const CbVector3f e2 = d.Cross(e1);
    const float cell = radius > 0 ? radius : 1.0f;
    auto key = [&](int a, int b) { return (static_cast<int64_t>(a) << 32) ^ static_cast<uint32_t>(b); };
    std::unordered_map<int64_t, std::vector<size_t>> cells;
    std::vector<std::pair<int, int>> cellOf(cloud.size());
    for (size_t i = 0; i < cloud.size(); ++i) {
        const int a = static_cast<int>(std::floor(e1.Dot(cloud[i].first) / cell));
        const int b = static_cast<int>(std::floor(e2.Dot(cloud[i].first) / cell));
        cellOf[i] = {a, b};
        cells[key(a, b)].push_back(i);
    }
    std::vector<char> removed(cloud.size(), 0);
    int removedCount = 0;
    for (size_t i = cloud.size(); i-- > 0;) {
        const CbVector3f& p = cloud[i].first;
        bool hidden = d.Dot(cloud[i].second) >= 0;
        for (int da = -1; da <= 1 && !hidden; ++da)
            for (int db = -1; db <= 1 && !hidden; ++db) {
                const auto it = cells.find(key(cellOf[i].first + da, cellOf[i].second + db));
                if (it == cells.end()) continue;
                for (size_t j : it->second) {
                    if (j >= i) break;  // only earlier points (smaller d . point) occlude
                    const CbVector3f delta = p - cloud[j].first;
                    const float len2 = delta.Dot(delta), along = d.Dot(delta);
                    if (len2 > 1.1920929e-07f && along * along > len2 * cos2 && len2 - along * along < r2) {
                        hidden = true;
                        break;
                    }
                }
            }
        if (hidden) {
            removed[i] = 1;
            ++removedCount;
        }
    }
    size_t kept = 0;
    for (size_t i = 0; i < cloud.size(); ++i)
        if (!removed[i]) cloud[kept++] = cloud[i];
    cloud.resize(kept);
    if (logger().IsLogLevelEnabled(Logging::Info))
        logger().Info(__FILE__, __LINE__, __func__, L"Removed %04i Samples", removedCount);
}

bool ZoCAcquisitionSteeringOrbal2Jaw::AdjustRayFocusToPointCloud(std::vector<std::pair<CbVector3f, CbVector3f>>& cloud,
                                                                 const CyRay& ray, const CbMatrix4Rf& m, float radius,
                                                                 CyRay& out) {
    checkVisibility(cloud, ray, c_fVisibilityCone, c_fVisibilityRadius);
    const CbVector3f o = ray.origin, d = ray.direction;
    std::vector<float> values, weights;
    for (const auto& sample : cloud) {
        const CbVector3f v = sample.first - o;
        values.push_back(v.Dot(d));
        const float w = std::max(0.0f, 1.0f - v.Cross(d).Length() / radius);
        weights.push_back(w * w);
    }
    float t = 0, deviation = 0;
    RobustMean<float, float, float>(values.data(), weights.data(), static_cast<int>(values.size()), t, deviation);
    out = CyRay(m.TransformPoint(o + d * t), m.TransformDirection(d));
    return static_cast<int>(cloud.size()) > c_iMinFocusPoints;
}

bool ZoCAcquisitionSteeringOrbal2Jaw::convSurfelCollectionToPointCloud(const ZoCSurfelCollection& surfels,
                                                                      CArray<CbVector3f>& out) const {
    out.SetSize(static_cast<int64_t>(surfels.size()));
    for (size_t i = 0; i < surfels.size(); ++i) out[static_cast<int64_t>(i)] = surfels[i].m_position;
    return true;
}
