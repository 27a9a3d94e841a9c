// Closed meshes the synthetic models are built from: solids of revolution, sweeps along an
// arch, and tooth crowns.
#pragma once

#include "ArchCurve.h"
#include "TriangleMesh.h"

#include <functional>

namespace Sim {

// A point of a profile or cross-section: (r, h) for a solid of revolution (distance from the
// axis, height along it), (n, h) for a sweep (offset along the outward normal, height above
// the plate).
struct ProfilePoint {
    float a = 0;
    float h = 0;
};

// Solid of revolution about `axis` (unit) through `base`. The profile runs from a point on the
// axis (r = 0) to another point on the axis, so the solid is closed. Heights count along the
// axis from `base`. `segments` around the axis (at least 3).
TriangleMesh Lathe(const std::vector<ProfilePoint>& profile, const CbVector3f& base, const CbVector3f& axis,
                   int segments);

// A station of a sweep: where the cross-section stands, and its frame (tangent, horizontal
// outward normal; heights count up, towards negative z). `s` is passed to the cross-section.
struct SweepStation {
    CbVector3f origin;
    CbVector3f tangent;
    CbVector3f outward;
    float s = 0;
};

// `count` (at least 2) evenly spaced stations on the arch from arc length s0 to s1.
std::vector<SweepStation> ArchStations(const ArchCurve& arch, float s0, float s1, int count);

// Sweeps a convex cross-section, counter-clockwise seen along the tangent, through the
// stations; each end is closed by a flat cap in its station's plane, so the part is a closed
// solid. The cross-section may depend on s but must always have the same number of points.
using CrossSection = std::function<std::vector<ProfilePoint>(float s)>;
TriangleMesh Sweep(const std::vector<SweepStation>& stations, const CrossSection& section);

// A tooth crown: a superellipsoid with half axes (along the arch, across it, up) in the frame
// (tangent, outward, up) centred at `centre`. `roundness` 1 gives an ellipsoid, smaller values
// a boxier crown (molars), larger values a pointed one (canines). The top pole, the crown's tip,
// is a vertex at centre + up * halfAxes.z.
TriangleMesh ToothCrown(const CbVector3f& centre, const CbVector3f& tangent, const CbVector3f& outward,
                        const CbVector3f& halfAxes, float roundness, int segments);

// The disc frame's up direction: towards the camera side of the plate.
inline CbVector3f Up() {
    return {0.0f, 0.0f, -1.0f};
}

}  // namespace Sim
