#include "ZoCAcquisitionSteeringOrbal2Gyration.h"

#include "ZoCRotScanJointSequenceGenerator.h"

#include <cmath>

ZoCAcquisitionSteeringOrbal2Gyration::ZoCAcquisitionSteeringOrbal2Gyration(
    const ZoCOrbal2DeviceConfig& device)
    : ZoCAcquisitionSteeringOrbal2(device.m_axisChain, ZoCOrbal2AcquisitionPlanning::eTypeGyration) {
    setGyrationScanParams();
    setCameraAndProjectorParameters(device.m_camProjCalib);
    setJointParameters();
    CalculateGyrationAngles();
}

void ZoCAcquisitionSteeringOrbal2Gyration::setGyrationScanParams() {
    m_iNumRotationImages = c_iNumGyrationPositions;
    m_iNumStumps = m_ciNumOfStumps;
    m_fTiltAngle =
        m_settings.m_fGyrationTiltAngle > 0 ? m_settings.m_fGyrationTiltAngle : c_fDefaultTiltAngle;
    m_fWeight = m_cfWeight;
}

int ZoCAcquisitionSteeringOrbal2Gyration::CalculateGyrationAngles() {
    ZoCRotScanJointSequenceGenerator generator(m_fTiltAngle);
    // Without an order (all tilts coincide) the previous angles stay.
    if (generator.Optimize(m_fWeight)) {
        for (int i = 0; i < m_iNumRotationImages; ++i)
            generator.GetPosition(i, m_afImageJoints[1][i], m_afImageJoints[2][i]);
    }
    generator.GetBestOrder(m_aiRotationOrder);
    return m_iNumRotationImages;
}

float ZoCAcquisitionSteeringOrbal2Gyration::getGyrationAngles(int joint, int index) const {
    switch (joint) {
        case 1:
            return isPosition(index) ? m_afImageJoints[1][index] : 0.0f;
        case 2:
            return isPosition(index) ? m_afImageJoints[2][index] : 0.0f;
        case 4:
            return static_cast<float>(index) * 90.0f;
        default:
            return 0.0f;
    }
}

void ZoCAcquisitionSteeringOrbal2Gyration::setJointParamsForGyration(int position, int stump) {
    if (!isPosition(position))
        return;
    setJointParamsL2L3L5(m_afImageJoints[1][position], m_afImageJoints[2][position],
                         static_cast<float>(stump) * 90.0f);
}

void ZoCAcquisitionSteeringOrbal2Gyration::setJointParamsForGyration(int position, int stump,
                                                                     NSConfigurationRequest& request) const {
    if (!isPosition(position))
        return;
    request.m_config[1] = m_afImageJoints[1][position];
    request.m_config[2] = m_afImageJoints[2][position];
    request.m_config[4] = static_cast<float>(stump) * 90.0f;
}

void ZoCAcquisitionSteeringOrbal2Gyration::appendGyrationRequest(long stump, long position,
                                                                 NSConfigurationRequest& request,
                                                                 CJointPositionSequence& seq) {
    request.m_strName.Format(L"%03d_T%li_%li", GetNewRequestNumber(), stump, position);
    request.m_byFlag = 1;
    seq.Add(request);
    AssociateRequestAndDHParameters(request.m_strName, request.m_config.Data());
}

bool ZoCAcquisitionSteeringOrbal2Gyration::GetJointConfigurationForGyration(
    CJointPositionSequence& seq, const CbList<ZoAOrbal2SmartCamera::t_StumpInfo>& stumps) {
    bool enabled[m_ciNumOfStumps] = {};
    float l5[m_ciNumOfStumps] = {};
    float l4[m_ciNumOfStumps] = {};
    // Entries beyond the holder's positions have nowhere to stand.
    int i = 0;
    for (const ZoAOrbal2SmartCamera::t_StumpInfo& info : stumps) {
        if (i >= m_iNumStumps || i >= m_ciNumOfStumps)
            break;
        if (info.m_bValid) {
            enabled[i] = true;
            l5[i] = info.m_fAzimuth;
            l4[i] = info.m_fHeight * c_fStumpHeightScale + c_fStumpHeightShift;
        }
        ++i;
    }
    return GetJointConfigurationForGyration(seq, enabled, l5, l4);
}

bool ZoCAcquisitionSteeringOrbal2Gyration::GetJointConfigurationForGyration(CJointPositionSequence& seq,
                                                                            const bool* enabled,
                                                                            const float* l5,
                                                                            const float* l4) {
    seq.RemoveAll();
    NCJointConfiguration neutral;
    if (!m_axisChain.GetNeutralConfiguration(neutral))
        return false;
    for (int j = 0; j < 5; ++j)
        m_afHomeJoints[j] = neutral[j];
    NSConfigurationRequest request;
    request.m_config = neutral;

    const int n = m_iNumStumps;
    const int count = m_iNumRotationImages;
    const float cosTilt = std::cos(m_fTiltAngle * 0.017453292f);
    const int firstStumpIndex = m_iCurrStumpIndex.load();
    // Each position starts at the stump the previous one ended on, so the disc turns least.
    int start = 0;
    for (int p = 0; n > 0 && p < count; ++p) {
        int k = start;
        for (int visit = 0; visit < n; ++visit) {
            k = (start + visit) % n;
            if (!enabled[k])
                continue;
            request.m_config[0] = l4[k] * cosTilt;
            request.m_config[1] = m_afImageJoints[1][p];
            request.m_config[2] = m_afImageJoints[2][p];
            request.m_config[3] = l4[k];
            request.m_config[4] = l5[k];
            const long position = (m_aiRotationOrder[p] - m_aiRotationOrder[0] + count) % count;
            appendGyrationRequest(firstStumpIndex + k, position, request, seq);
        }
        start = k;
    }
    m_iCurrStumpIndex += n;
    return true;
}

bool ZoCAcquisitionSteeringOrbal2Gyration::GetJointConfigurationForGyrationPhase1(
    CJointPositionSequence& seq) {
    seq.RemoveAll();
    NCJointConfiguration neutral;
    if (!m_axisChain.GetNeutralConfiguration(neutral))
        return false;
    const int firstStumpIndex = m_iCurrStumpIndex.load();
    for (int k = 0; k < m_iNumStumps; ++k) {
        NSConfigurationRequest request;
        request.m_config = neutral;
        request.m_config[1] = m_afImageJoints[1][0];
        request.m_config[2] = m_afImageJoints[2][0];
        request.m_config[4] = static_cast<float>(k) * 90.0f;
        appendGyrationRequest(firstStumpIndex + k, m_aiRotationOrder[0], request, seq);
    }
    return true;
}
