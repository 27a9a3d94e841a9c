// The host's skeleton of a dental arch, derived from the registered overview images.
#pragma once

#include "Geometry.h"
#include "ImageDatabase.h"

#include <vector>

namespace Sim {

// How: the overview's points (image-area coordinates, disc frame x 40) are turned into
// millimetres; only the crowns are kept, the points within 6 mm of the model's top (the 99th
// percentile of height above the plate, so a few stray points do not set it). Around the disc
// axis these points are binned by azimuth in 6 degree steps; every bin with at least 20
// points gives one control point, the mean of its points. The arch is open on one side: the
// control points run by increasing azimuth, starting after the widest empty stretch of
// azimuths, so the skeleton runs counter-clockwise from one end of the arch to the other.
// Returned in image-area coordinates; empty when fewer than four bins are occupied.
CyHermiteSpline DeriveJawSkeleton(const std::vector<ZoCFieldCoord>& overview);

}  // namespace Sim
