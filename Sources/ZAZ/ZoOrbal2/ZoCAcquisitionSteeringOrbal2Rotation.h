// Rotation scan: eight images around the disc axis at one tilt.
#pragma once

#include "SmartCamera.h"
#include "ZoCAcquisitionSteeringOrbal2.h"

class ZoCAcquisitionSteeringOrbal2Rotation : public ZoCAcquisitionSteeringOrbal2 {
public:
    static constexpr float m_cfM = 0.436f;   // lower z per degree of joint 2
    static constexpr float m_cfB = -3.531f;  // lower z at joint 2 = 0
    static constexpr float c_fDefaultTilt = 45.0f;  // degrees, until a caller sets another
    static constexpr int c_iNumRotationRequests = 8;

    explicit ZoCAcquisitionSteeringOrbal2Rotation(const ZoCOrbal2DeviceConfig& device);

    int CalculateJointParamsForRotation();
    void SetJointParamsForRotation(int i, NSConfigurationRequest& request) const;
    int GetNumberOfRotationImages() const { return m_iNumRotationImages; }
    bool GetJointConfigurationForRotation(ZoAOrbal2SmartCamera& camera, CJointPositionSequence& seq, float tilt);
    bool GetJointConfigurationForRotationMouse(ZoAOrbal2SmartCamera& camera, CJointPositionSequence& seq);
    void setRotationScanParams();
    float GetTiltAngle() const { return m_fTiltAngle; }
    void SetTiltAngle(float degrees) { m_fTiltAngle = degrees; }
    float GetLowerZ() const { return m_fLowerZ; }

private:
    // Names, flags, appends and registers request k of a rotation sequence.
    void addRotationRequest(int k, NSConfigurationRequest& request, uint8_t flag, CJointPositionSequence& seq);

    float m_fM;
    float m_fB;
};
