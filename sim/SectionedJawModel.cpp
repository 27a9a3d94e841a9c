// A sectioned jaw: the arch's base sawn into dies between teeth.
#include "JawBuilder.h"

namespace Sim {

namespace {
// Cuts after these teeth: first molar | second premolar and canine | lateral incisor on
// each side, so the incisors and premolars stand on dies of their own.
constexpr int c_aCutAfterTooth[4] = {1, 4, 8, 11};
constexpr float c_fCutWidth = 0.8f;  // a saw blade's kerf, several camera pixels wide

SawCutTruth cutAt(const ArchCurve& arch, float s) {
    SawCutTruth cut;
    cut.arcLength = s;
    cut.normal = arch.Tangent(s);
    cut.along = arch.Outward(s);
    cut.centre = arch.Position(s) + Up() * JawBuilder::c_fBaseHeight;
    cut.width = c_fCutWidth;
    cut.depth = JawBuilder::c_fBaseHeight;
    return cut;
}

// The stations of the die between two cuts (or an end of the arch): the end stations stand
// exactly in the cut's faces, which are parallel planes perpendicular to the tangent at the
// cut's centre line.
std::vector<SweepStation> dieStations(const ArchCurve& arch, const SawCutTruth* before,
                                      const SawCutTruth* after) {
    const float half = 0.5f * c_fCutWidth;
    const float s0 = before ? before->arcLength + half : 0.0f;
    const float s1 = after ? after->arcLength - half : arch.GetLength();
    const auto count = static_cast<int>((s1 - s0) / JawBuilder::c_fStationSpacing) + 1;
    std::vector<SweepStation> stations = ArchStations(arch, s0, s1, count);
    const CbVector3f plate = -Up() * JawBuilder::c_fBaseHeight;  // from the ridge down to the plate
    if (before)
        stations.front() = {before->centre + plate + before->normal * half, before->normal, before->along,
                            s0};
    if (after)
        stations.back() = {after->centre + plate - after->normal * half, after->normal, after->along, s1};
    return stations;
}
}  // namespace

SectionedJawModel BuildSectionedJawModel() {
    using namespace JawBuilder;
    SectionedJawModel model;
    JawModel& jaw = model.jaw;
    const ArchCurve& arch = jaw.arch;
    const std::vector<ToothSlot> slots = ToothSlots(arch);
    std::vector<KeepOutPlane> keepOut;
    for (int after : c_aCutAfterTooth) {
        const SawCutTruth cut = cutAt(arch, slots[static_cast<size_t>(after)].s1);
        model.cuts.push_back(cut);
        // Each face keeps the crowns on its own die.
        keepOut.push_back({cut.centre - cut.normal * (0.5f * cut.width), cut.normal});
        keepOut.push_back({cut.centre + cut.normal * (0.5f * cut.width), -cut.normal});
    }
    for (size_t die = 0; die <= model.cuts.size(); ++die) {
        const SawCutTruth* before = die > 0 ? &model.cuts[die - 1] : nullptr;
        const SawCutTruth* after = die < model.cuts.size() ? &model.cuts[die] : nullptr;
        jaw.mesh.Append(Sweep(dieStations(arch, before, after), [](float) { return BaseSection(); }));
    }
    jaw.baseHeight = c_fBaseHeight;
    for (int i = 0; i < c_iNumTeeth; ++i) {
        // A tooth keeps clear of its own die's face at each cut nearby; a cut far along the
        // curved arch has a plane that may pass through unrelated teeth, so it is left out.
        std::vector<KeepOutPlane> near;
        const float s = slots[static_cast<size_t>(i)].Centre();
        for (size_t c = 0; c < model.cuts.size(); ++c)
            if (std::abs(model.cuts[c].arcLength - s) < 12.0f) {
                near.push_back(keepOut[2 * c]);
                near.push_back(keepOut[2 * c + 1]);
            }
        std::vector<KeepOutPlane> facing;
        for (const KeepOutPlane& p : near)
            if ((arch.Position(s) - p.point).Dot(p.normal) < 0)
                facing.push_back(p);
        ToothTruth truth;
        jaw.mesh.Append(Crown(arch, slots[static_cast<size_t>(i)], i, facing, truth));
        jaw.teeth.push_back(truth);
    }
    return model;
}

}  // namespace Sim
