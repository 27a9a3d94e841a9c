// Plans a rotation scan on the reference device, as a host would after linking the library.
// Exits 0 when the plan holds requests whose joints lie within the device's limits.
#include "ZoOrbal2.h"

#include <cstdio>

namespace {
// A camera whose axes carry no offsets: the device as it left the factory.
class UncalibratedCamera : public ZoAOrbal2SmartCamera {
public:
    void GetAxisOffsets(int32_t offsets[c_iNumAxisOffsets]) override {
        for (int i = 0; i < c_iNumAxisOffsets; ++i) offsets[i] = 0;
    }
    float ConvertAxisOffset(int, int32_t) override { return 0.0f; }
};
}  // namespace

int main() {
    ZoCOrbal2DeviceConfig device;
    ZoCAcquisitionSteeringOrbal2Rotation steering(device);
    UncalibratedCamera camera;
    ZoCOrbal2AxisChain::CJointPositionSequence plan;
    if (!steering.GetJointConfigurationForRotation(camera, plan, 60.0f) || plan.GetCount() == 0) {
        std::puts("consumer: no rotation plan");
        return 1;
    }
    for (int64_t i = 0; i < plan.GetCount(); ++i) {
        auto config = plan[i].m_config;
        if (device.m_axisChain.ClampToLimits(config)) {
            std::printf("consumer: request %lld lies outside the joint limits\n", static_cast<long long>(i));
            return 1;
        }
    }
    std::printf("consumer: rotation plan with %lld requests\n", static_cast<long long>(plan.GetCount()));
    return 0;
}
