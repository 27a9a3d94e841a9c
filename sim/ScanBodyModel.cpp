// An implant scan body standing in a jaw arch in place of the left first molar.
#include "JawBuilder.h"

#include <cmath>

namespace Sim {

namespace {
constexpr int c_iReplacedTooth = 1;  // left first molar
constexpr float c_fRadius = 2.4f;
constexpr float c_fLength = 12.5f;
constexpr float c_fTiltDeg = 8.0f;  // implants rarely stand upright; the tilt leans outwards
constexpr float c_fDepthInGum = 3.0f;
constexpr int c_iSegments = 96;
}  // namespace

ScanBodyModel BuildScanBodyModel() {
    using namespace JawBuilder;
    ScanBodyModel model;
    JawModel& jaw = model.jaw;
    const ArchCurve& arch = jaw.arch;
    const auto stations = static_cast<int>(arch.GetLength() / c_fStationSpacing) + 1;
    jaw.mesh =
        Sweep(ArchStations(arch, 0.0f, arch.GetLength(), stations), [](float) { return BaseSection(); });
    jaw.baseHeight = c_fBaseHeight;
    const std::vector<ToothSlot> slots = ToothSlots(arch);
    for (int i = 0; i < c_iNumTeeth; ++i) {
        if (i == c_iReplacedTooth)
            continue;
        ToothTruth truth;
        jaw.mesh.Append(Crown(arch, slots[static_cast<size_t>(i)], i, {}, truth));
        jaw.teeth.push_back(truth);
    }
    const float s = slots[c_iReplacedTooth].Centre();
    const float tilt = c_fTiltDeg * 3.14159265358979f / 180.0f;
    const CbVector3f direction = (Up() * std::cos(tilt) + arch.Outward(s) * std::sin(tilt)).Normalized();
    const CbVector3f bottom = arch.Position(s) + Up() * (c_fBaseHeight - c_fDepthInGum);
    // A cylinder with a narrower step on top: the step is what a design program aligns the
    // implant's rotation to.
    const std::vector<ProfilePoint> profile = {{0, 0},
                                               {c_fRadius, 0},
                                               {c_fRadius, c_fLength - 2.5f},
                                               {1.6f, c_fLength - 2.5f},
                                               {1.6f, c_fLength - 0.5f},
                                               {1.2f, c_fLength},
                                               {0, c_fLength}};
    jaw.mesh.Append(Lathe(profile, bottom, direction, c_iSegments));
    model.replacedTooth = c_iReplacedTooth;
    model.axis = CyRay(bottom, direction);
    model.top = bottom + direction * c_fLength;
    model.radius = c_fRadius;
    model.length = c_fLength;
    model.tiltDeg = c_fTiltDeg;
    return model;
}

}  // namespace Sim
