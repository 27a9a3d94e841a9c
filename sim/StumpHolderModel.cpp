// The four-position stump holder with four prepared stumps of different heights.
#include "MeshPrimitives.h"
#include "SyntheticModels.h"

#include <cmath>

namespace Sim {

namespace {
constexpr float c_fHolderRadius = 24.0f;
constexpr float c_fHolderHeight = 6.0f;
constexpr float c_fStumpCircle = 14.0f;  // distance of the stumps' axes from the disc axis
constexpr float c_fStumpRadius = 4.5f;
// Stump heights above the holder: distinct, so a host can tell the positions apart.
constexpr float c_aStumpHeight[4] = {8.0f, 10.0f, 12.0f, 14.0f};
constexpr int c_iSegments = 96;

// A prepared stump: a root cylinder, the preparation margin's shoulder, a tapered preparation
// and a rounded top.
std::vector<ProfilePoint> stumpProfile(float h) {
    return {{0.0f, 0.0f},     {c_fStumpRadius, 0.0f}, {c_fStumpRadius, h - 5.0f}, {3.8f, h - 4.5f},
            {3.0f, h - 1.5f}, {2.0f, h - 0.4f},       {1.0f, h - 0.08f},          {0.0f, h}};
}
}  // namespace

StumpHolderModel BuildStumpHolderModel() {
    StumpHolderModel model;
    model.holderHeight = c_fHolderHeight;
    model.mesh = Lathe({{0, 0},
                        {c_fHolderRadius, 0},
                        {c_fHolderRadius, c_fHolderHeight - 1},
                        {c_fHolderRadius - 1, c_fHolderHeight},
                        {0, c_fHolderHeight}},
                       {0, 0, 0}, Up(), c_iSegments);
    for (int i = 0; i < 4; ++i) {
        StumpTruth& stump = model.stumps[static_cast<size_t>(i)];
        stump.azimuthDeg = 90.0f * static_cast<float>(i);
        const float a = stump.azimuthDeg * 3.14159265358979f / 180.0f;
        stump.base = CbVector3f(c_fStumpCircle * std::cos(a), c_fStumpCircle * std::sin(a), 0) +
                     Up() * c_fHolderHeight;
        const float h = c_aStumpHeight[i];
        // The root reaches 1 mm into the holder so that the two closed parts overlap.
        model.mesh.Append(Lathe(stumpProfile(h + 1.0f), stump.base - Up() * 1.0f, Up(), c_iSegments));
        stump.tip = stump.base + Up() * h;
        stump.heightAbovePlate = c_fHolderHeight + h;
        stump.radius = c_fStumpRadius;
    }
    return model;
}

}  // namespace Sim
