// Building blocks shared by the arch models: the base's cross-section, the tooth layout and
// the crowns.
#pragma once

#include "MeshPrimitives.h"
#include "SyntheticModels.h"

namespace Sim::JawBuilder {

constexpr int c_iNumTeeth = 14;
constexpr float c_fBaseHeight = 14.0f;
constexpr float c_fStationSpacing = 0.25f;  // mm between sweep stations along the arch

// Where each tooth starts and ends along the arch (arc lengths), index 0 .. 13.
struct ToothSlot {
    float s0 = 0, s1 = 0;
    float Centre() const { return 0.5f * (s0 + s1); }
};
std::vector<ToothSlot> ToothSlots(const ArchCurve& arch);

// The base's cross-section: a plinth slightly wider at the plate, rounded to a gum ridge.
std::vector<ProfilePoint> BaseSection();

// A plane the crowns must keep clear of: no crown vertex lies less than 0.15 mm before it on
// the side its unit normal points to (the inside of a saw cut).
struct KeepOutPlane {
    CbVector3f point;
    CbVector3f normal;
};
// The crown of tooth `index` in its slot, narrowed until it keeps clear of every plane.
TriangleMesh Crown(const ArchCurve& arch, const ToothSlot& slot, int index,
                   const std::vector<KeepOutPlane>& keepOut, ToothTruth& truth);

}  // namespace Sim::JawBuilder
