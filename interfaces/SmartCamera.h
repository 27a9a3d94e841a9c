// The host's smart camera, as the steerings see it: axis offsets of the device and their
// conversion into joint values, and the stumps placed in the multi-die holder.
#pragma once

#include <cstdint>

class ZoAOrbal2SmartCamera {
public:
    static constexpr int c_iNumAxisOffsets = 6;

    // One position of the multi-die holder (16 bytes).
    struct t_StumpInfo {
        float m_fAzimuth = 0;     // degrees; becomes L5
        float m_fHeight = 0;      // thousandths of the L4 unit
        int32_t m_iReserved = 0;  // holder slot as the host numbers it; not read by the steerings
        bool m_bValid = false;
    };

    virtual ~ZoAOrbal2SmartCamera() = default;
    // Fills the six axis offsets (axes 0..5).
    virtual void GetAxisOffsets(int32_t offsets[c_iNumAxisOffsets]) = 0;
    // Joint value (in the joint's unit) that an offset of `axis` adds to that joint.
    virtual float ConvertAxisOffset(int axis, int32_t offset) = 0;
};
