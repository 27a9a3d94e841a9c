// A host-side smart camera for simulations and tests: fixed axis offsets in motor increments,
// converted with the simulator's increments per joint unit.
#pragma once

#include "AxisChain.h"
#include "SmartCamera.h"

#include <array>

class SimulatedSmartCamera : public ZoAOrbal2SmartCamera {
public:
    SimulatedSmartCamera() = default;
    explicit SimulatedSmartCamera(const std::array<int32_t, c_iNumAxisOffsets>& offsets) : m_offsets(offsets) {}

    void GetAxisOffsets(int32_t offsets[c_iNumAxisOffsets]) override {
        for (int i = 0; i < c_iNumAxisOffsets; ++i) offsets[i] = m_offsets[static_cast<size_t>(i)];
    }
    float ConvertAxisOffset(int axis, int32_t offset) override {
        // The sixth axis has no motor of the chain; it counts in the disc's increments.
        const int motor = axis < 5 ? axis : 4;
        return static_cast<float>(offset) / SimulatorMotorPosition::c_afIncrementsPerUnit[motor];
    }

private:
    std::array<int32_t, c_iNumAxisOffsets> m_offsets{};
};
