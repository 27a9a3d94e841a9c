// The jaw arch with teeth, and the pieces the other arch models share with it.
#include "JawBuilder.h"

#include <algorithm>
#include <cmath>

namespace Sim {

namespace JawBuilder {

namespace {
// Per tooth from the midline to the back: central and lateral incisor, canine, two premolars,
// two molars. Widths along the arch (relative), crown half-depth across it and half-height (mm),
// and the crown's roundness (boxy molars, pointed canines).
struct ToothKind {
    float width, halfDepth, halfHeight, roundness;
};
constexpr ToothKind c_aKinds[7] = {
    {8.5f, 3.2f, 5.0f, 0.8f}, {6.5f, 3.0f, 4.6f, 0.8f},  {7.5f, 4.0f, 5.5f, 1.25f}, {7.0f, 4.4f, 4.5f, 0.7f},
    {6.5f, 4.4f, 4.4f, 0.7f}, {10.0f, 5.2f, 4.0f, 0.5f}, {9.5f, 5.0f, 3.8f, 0.5f}};
constexpr float c_fEndMargin = 1.5f;  // base beyond the last molars
constexpr float c_fSink = 2.0f;       // crowns stand this deep in the gum ridge
constexpr float c_fClearance = 0.15f;
constexpr int c_iCrownSegments = 64;

const ToothKind& kindOf(int index) {
    return c_aKinds[index < 7 ? 6 - index : index - 7];
}
}  // namespace

std::vector<ToothSlot> ToothSlots(const ArchCurve& arch) {
    float total = 0;
    for (int i = 0; i < c_iNumTeeth; ++i)
        total += kindOf(i).width;
    // The teeth fill the arch between the end margins; widths scale to the arch's length.
    const float scale = (arch.GetLength() - 2 * c_fEndMargin) / total;
    std::vector<ToothSlot> slots;
    float s = c_fEndMargin;
    for (int i = 0; i < c_iNumTeeth; ++i) {
        const float w = kindOf(i).width * scale;
        slots.push_back({s, s + w});
        s += w;
    }
    return slots;
}

std::vector<ProfilePoint> BaseSection() {
    // Counter-clockwise seen along the arch: inner foot, outer foot, up the buccal side, over the
    // ridge, down the lingual side.
    return {{-6.5f, 0.0f},         {6.5f, 0.0f},   {6.0f, 9.0f},   {5.0f, 11.5f}, {3.0f, 13.3f},
            {0.0f, c_fBaseHeight}, {-3.0f, 13.3f}, {-5.0f, 11.5f}, {-6.0f, 9.0f}};
}

TriangleMesh Crown(const ArchCurve& arch, const ToothSlot& slot, int index,
                   const std::vector<KeepOutPlane>& keepOut, ToothTruth& truth) {
    const ToothKind& kind = kindOf(index);
    const float s = slot.Centre();
    const CbVector3f t = arch.Tangent(s), n = arch.Outward(s);
    const CbVector3f centre = arch.Position(s) + Up() * (c_fBaseHeight - c_fSink + kind.halfHeight);
    CbVector3f half(0.47f * (slot.s1 - slot.s0), kind.halfDepth, kind.halfHeight);
    TriangleMesh crown;
    // Narrow the crown (along and across the arch, not in height) until it clears every plane;
    // a handful of steps suffices, the bound only guards against a plane through the centre.
    for (int attempt = 0; attempt < 60; ++attempt) {
        crown = ToothCrown(centre, t, n, half, kind.roundness, c_iCrownSegments);
        const bool clear =
            std::all_of(crown.vertices.begin(), crown.vertices.end(), [&](const CbVector3f& v) {
                return std::all_of(keepOut.begin(), keepOut.end(), [&](const KeepOutPlane& p) {
                    return (v - p.point).Dot(p.normal) <= -c_fClearance;
                });
            });
        if (clear)
            break;
        half.x *= 0.95f;
        half.y *= 0.97f;
    }
    truth = {index, s, centre, centre + Up() * half.z};
    return crown;
}

}  // namespace JawBuilder

JawModel BuildJawModel() {
    using namespace JawBuilder;
    JawModel model;
    const ArchCurve& arch = model.arch;
    const auto stations = static_cast<int>(arch.GetLength() / c_fStationSpacing) + 1;
    model.mesh =
        Sweep(ArchStations(arch, 0.0f, arch.GetLength(), stations), [](float) { return BaseSection(); });
    model.baseHeight = c_fBaseHeight;
    const std::vector<ToothSlot> slots = ToothSlots(arch);
    for (int i = 0; i < c_iNumTeeth; ++i) {
        ToothTruth truth;
        model.mesh.Append(Crown(arch, slots[static_cast<size_t>(i)], i, {}, truth));
        model.teeth.push_back(truth);
    }
    return model;
}

}  // namespace Sim
