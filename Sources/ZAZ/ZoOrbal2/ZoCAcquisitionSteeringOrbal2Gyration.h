// Gyration steering: scans single stumps (dies) standing in the positions of a multi-die holder.
// Each stump is looked at from eight tilts on a cone around the vertical, visited in the order of
// least tilt travel, and the disc turns each stump under the camera in turn.
#pragma once

#include "SmartCamera.h"
#include "ZoCAcquisitionSteeringOrbal2.h"

class ZoCAcquisitionSteeringOrbal2Gyration : public ZoCAcquisitionSteeringOrbal2 {
public:
    static constexpr int m_ciNumOfStumps = 4;
    static constexpr int c_iNumGyrationPositions = 8;
    static constexpr float m_cfWeight = 0.6666667f;  // L2 share of the travel the order minimises
    static constexpr float c_fDefaultTiltAngle = 60.0f;
    // A holder position's height, in thousandths of the L4 unit, becomes L4 after this shift.
    static constexpr float c_fStumpHeightScale = 0.001f;
    static constexpr float c_fStumpHeightShift = -10.0f - 30.0f;

    explicit ZoCAcquisitionSteeringOrbal2Gyration(const ZoCOrbal2DeviceConfig& device);

    // Lays the eight tilts on the cone and finds their visiting order; returns the position count.
    int CalculateGyrationAngles();
    // One request per enabled stump and position; the host's stump list enables the stumps.
    bool GetJointConfigurationForGyration(CJointPositionSequence& seq,
                                          const CbList<ZoAOrbal2SmartCamera::t_StumpInfo>& stumps);
    // `enabled`, `l5` and `l4` hold one entry per stump.
    bool GetJointConfigurationForGyration(CJointPositionSequence& seq, const bool* enabled, const float* l5,
                                          const float* l4);
    // One request per stump at the first tilt of the order; the stump index does not advance.
    bool GetJointConfigurationForGyrationPhase1(CJointPositionSequence& seq);
    int GetCurrStumpIndex() const { return m_iCurrStumpIndex.load(); }
    // Joint 1: L2 of position `index`; joint 2: its L3; joint 4: index * 90 (the stump's disc
    // angle); any other joint 0.
    float getGyrationAngles(int joint, int index) const;
    void setGyrationScanParams();
    // The base's scan parameters L2, L3 of `position` and L5 of `stump`; the overload sets the
    // same joints of a request.
    void setJointParamsForGyration(int position, int stump);
    void setJointParamsForGyration(int position, int stump, NSConfigurationRequest& request) const;
    const int* GetGyrationOrder() const { return m_aiRotationOrder; }
    int GetNumberOfGyrationPositions() const { return m_iNumRotationImages; }
    float GetTiltAngle() const { return m_fTiltAngle; }

protected:
    // Names the request "%03d_T%li_%li" (request counter, stump, position), sets its flag,
    // appends it and registers its joints.
    void appendGyrationRequest(long stump, long position, NSConfigurationRequest& request,
                               CJointPositionSequence& seq);
    bool isPosition(int index) const { return index >= 0 && index < m_iNumRotationImages; }
};
