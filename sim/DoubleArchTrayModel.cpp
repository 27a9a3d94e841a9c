// A double-arch bite tray with the impressions of both jaws.
#include "JawBuilder.h"

#include <cmath>

namespace Sim {

namespace {
constexpr float c_fHalfWidth = 7.0f;  // across the arch
constexpr float c_fBottom = 10.0f;    // height of the tray's bottom face above the plate
constexpr float c_fThickness = 8.0f;
constexpr float c_fImpressionDepth = 2.2f;
constexpr int c_iAcross = 29;  // cross-section points per face
constexpr float c_fPostRadius = 3.0f;

// A smooth dip: 1 at 0, falling to 0 at |x| = 1 with zero slope.
float dip(float x) {
    const float q = 1.0f - x * x;
    return q > 0 ? q * q : 0.0f;
}

struct Impression {
    float s, halfLength, halfWidth;
};

float depthAt(const std::vector<Impression>& impressions, float s, float n) {
    float d = 0;
    for (const Impression& i : impressions)
        d = std::max(d, c_fImpressionDepth * dip((s - i.s) / i.halfLength) * dip(n / i.halfWidth));
    return d;
}
}  // namespace

DoubleArchTrayModel BuildDoubleArchTrayModel() {
    using namespace JawBuilder;
    DoubleArchTrayModel model;
    const ArchCurve& arch = model.arch;
    std::vector<Impression> impressions;
    for (const ToothSlot& slot : ToothSlots(arch))
        impressions.push_back({slot.Centre(), 0.45f * (slot.s1 - slot.s0), 4.5f});
    // The lower teeth bite half a cusp further back: their impressions are shifted along the arch.
    std::vector<Impression> lower = impressions;
    for (Impression& i : lower)
        i.s += (i.s < 0.5f * arch.GetLength() ? 1.0f : -1.0f);

    const CrossSection section = [&](float s) {
        std::vector<ProfilePoint> points;
        for (int k = 0; k < c_iAcross; ++k) {  // bottom face, inside to outside; dips push up into the tray
            const float n = -c_fHalfWidth + 2 * c_fHalfWidth * static_cast<float>(k) / (c_iAcross - 1);
            points.push_back({n, c_fBottom + depthAt(lower, s, n)});
        }
        for (int k = 0; k < c_iAcross; ++k) {  // top face, outside to inside; dips push down
            const float n = c_fHalfWidth - 2 * c_fHalfWidth * static_cast<float>(k) / (c_iAcross - 1);
            points.push_back({n, c_fBottom + c_fThickness - depthAt(impressions, s, n)});
        }
        return points;
    };
    const auto stations = static_cast<int>(arch.GetLength() / 0.2f) + 1;
    model.mesh = Sweep(ArchStations(arch, 0.0f, arch.GetLength(), stations), section);
    // Two posts under the ends of the U carry the tray; they reach into it so the parts overlap.
    for (const float s : {0.8f, arch.GetLength() - 0.8f})
        model.mesh.Append(
            Lathe({{0, 0}, {c_fPostRadius, 0}, {c_fPostRadius, c_fBottom + 1}, {0, c_fBottom + 1}},
                  arch.Position(s), Up(), 48));
    model.topZ = -(c_fBottom + c_fThickness);
    model.bottomZ = -c_fBottom;
    for (const Impression& i : impressions)
        model.upperImpressions.push_back(arch.Position(i.s) +
                                         Up() * (c_fBottom + c_fThickness - c_fImpressionDepth));
    for (const Impression& i : lower)
        model.lowerImpressions.push_back(arch.Position(i.s) + Up() * (c_fBottom + c_fImpressionDepth));
    return model;
}

}  // namespace Sim
