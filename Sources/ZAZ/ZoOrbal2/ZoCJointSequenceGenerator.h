// Base of the joint sequence generators: a set of up to ten joint positions, the visiting
// order of least joint travel, and each joint's travel time over a distance.
#pragma once

#include "AxisChain.h"

class ZoCJointSequenceGenerator {
public:
    static constexpr int c_iMaxPositions = 10;
    static constexpr float c_fDegToRad = 0.017453292f;
    static constexpr float c_fRadToDeg = 57.295776f;
    static constexpr float c_fMaxConeTilt = 1.0471976f;  // 60 degrees

    ZoCJointSequenceGenerator(int numPositions, float tiltDegrees);
    virtual ~ZoCJointSequenceGenerator() = default;

    int GetNumPositions() const { return m_iNumPositions; }
    float GetTilt() const { return m_fTilt; }
    void SetTiltDegrees(float tiltDegrees) { m_fTilt = tiltDegrees * c_fDegToRad; }

    // Lays the positions on a cone around the vertical: component 1 (L2) or 2 (L3), degrees.
    void FillComponent(int component);
    // Finds the visiting order of least weighted travel of L2 (weight) and L3 (1 - weight) and
    // rearranges the positions into it. False when no order has a positive cost.
    bool Optimize(float weight);

    // L2 and L3 of position i; both 0 outside the positions.
    void GetPosition(int i, float& joint1, float& joint2) const;
    const float* GetPositionValues(int i) const { return m_afPositions[i]; }
    void SetPositionValues(int i, const float values[5]);
    void GetBestOrder(int* out) const;

    // Time joint 1..5 needs to travel `distance` (joint units); 0 for other joint numbers. The
    // disc (joint 5) takes its distance modulo a full turn, then the short way round.
    static float TravelTime(int joint, float distance);
    // Time of joint index j to reach position order[k] from position order[k-1] (from `start`
    // for k = 0); 0 for negative k.
    double StepTime(const int* order, int k, int j, ZoCOrbal2AxisChain::NSConfigurationRequest start) const;
    // Sum of |difference| of one component along an order of all positions.
    float TravelCost(const int* order, int component) const;

protected:
    int m_iNumPositions;
    int m_aiOrder[c_iMaxPositions];
    int m_aiBestOrder[c_iMaxPositions];
    float m_fTilt;  // largest tilt angle, radians
    float m_afPositions[c_iMaxPositions][5] = {};
};
