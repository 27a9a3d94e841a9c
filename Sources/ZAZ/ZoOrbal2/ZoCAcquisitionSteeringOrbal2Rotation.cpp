#include "ZoCAcquisitionSteeringOrbal2Rotation.h"

#include <algorithm>

ZoCAcquisitionSteeringOrbal2Rotation::ZoCAcquisitionSteeringOrbal2Rotation(const ZoCOrbal2DeviceConfig& device)
    : ZoCAcquisitionSteeringOrbal2(device.m_axisChain, ZoCOrbal2AcquisitionPlanning::eTypeGyration),
      m_fM(m_cfM),
      m_fB(m_cfB) {
    m_iNumStumps = 1;
    m_fTiltAngle = c_fDefaultTilt;
    setCameraAndProjectorParameters(device.m_camProjCalib);
    setJointParameters();
    CalculateJointParamsForRotation();
}

int ZoCAcquisitionSteeringOrbal2Rotation::CalculateJointParamsForRotation() {
    m_fM = m_cfM;
    m_fB = m_cfB;
    m_iNumStumps = 1;
    for (int i = 0; i < m_iNumRotationImages; ++i) {
        m_afImageJoints[1][i] = m_afHomeJoints[1];
        m_afImageJoints[2][i] = m_afHomeJoints[2] - m_fTiltAngle;
    }
    m_fLowerZ = (m_afHomeJoints[2] - m_fTiltAngle) * m_fM + m_fB;
    return m_iNumRotationImages;
}

void ZoCAcquisitionSteeringOrbal2Rotation::SetJointParamsForRotation(int i, NSConfigurationRequest& request) const {
    request.m_config[1] = m_afImageJoints[1][0];
    request.m_config[2] = m_afImageJoints[2][0];
    request.m_config[3] = m_fLowerZ;
    request.m_config[4] = static_cast<float>(i * 360 / m_iNumRotationImages);
}

void ZoCAcquisitionSteeringOrbal2Rotation::addRotationRequest(int k, NSConfigurationRequest& request, uint8_t flag,
                                                              CJointPositionSequence& seq) {
    request.m_strName.Format(L"%03d_R%li_%li", k, static_cast<long>(m_iCurrStumpIndex.load()), static_cast<long>(k));
    request.m_byFlag = flag;
    seq.Add(request);
    AssociateRequestAndDHParameters(request.m_strName, request.m_config.Data());
}

bool ZoCAcquisitionSteeringOrbal2Rotation::GetJointConfigurationForRotation(ZoAOrbal2SmartCamera& camera,
                                                                             CJointPositionSequence& seq, float tilt) {
    for (int k = 0; k < c_iNumRotationRequests; ++k) {
        NSConfigurationRequest request;
        m_axisChain.GetNeutralConfiguration(request.m_config);
        request.m_config[2] -= std::clamp(tilt, 45.0f, 105.0f);
        request.m_config[4] += 45.0f * static_cast<float>(k);
        int32_t offsets[ZoAOrbal2SmartCamera::c_iNumAxisOffsets] = {};
        camera.GetAxisOffsets(offsets);
        for (int axis : {0, 3, 5}) request.m_config[axis] += camera.ConvertAxisOffset(axis, offsets[axis]);
        addRotationRequest(k, request, 1, seq);
    }
    ++m_iCurrStumpIndex;
    return true;
}

bool ZoCAcquisitionSteeringOrbal2Rotation::GetJointConfigurationForRotationMouse(ZoAOrbal2SmartCamera& camera,
                                                                                  CJointPositionSequence& seq) {
    for (int k = 0; k < c_iNumRotationRequests; ++k) {
        NSConfigurationRequest request;
        request.m_config[5] = k == 0 ? 0.0f : 45.0f;
        int32_t offsets[ZoAOrbal2SmartCamera::c_iNumAxisOffsets] = {};
        camera.GetAxisOffsets(offsets);
        for (int axis = 0; axis < 5; ++axis) request.m_config[axis] += camera.ConvertAxisOffset(axis, offsets[axis]);
        addRotationRequest(k, request, 0, seq);
    }
    ++m_iCurrStumpIndex;
    return true;
}

void ZoCAcquisitionSteeringOrbal2Rotation::setRotationScanParams() {
    m_iNumStumps = 1;
    m_fM = m_cfM;
    m_fB = m_cfB;
}
