// Fixtures of the steering suite: a reference-device steering and its recording planning.
#pragma once

#include "AcquisitionPlanningStore.h"
#include "ZoOrbal2.h"

#include <gtest/gtest.h>

// A base steering of any acquisition type on the reference device.
class TestSteering : public ZoCAcquisitionSteeringOrbal2 {
public:
    explicit TestSteering(EAcquisitionType type = ZoCOrbal2AcquisitionPlanning::eTypeJaw,
                          const ZoCOrbal2DeviceConfig& device = ZoCOrbal2DeviceConfig())
        : ZoCAcquisitionSteeringOrbal2(device.m_axisChain, type), m_device(device) {
        setCameraAndProjectorParameters(m_device.m_camProjCalib);
        setJointParameters();
    }
    AcquisitionPlanningStore& Store() { return dynamic_cast<AcquisitionPlanningStore&>(*GetAcquisitionPlanning()); }
    const ZoCOrbal2DeviceConfig& Device() const { return m_device; }

private:
    ZoCOrbal2DeviceConfig m_device;
};
