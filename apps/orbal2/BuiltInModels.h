// Built-in inputs of the program's plans.
#pragma once

#include "Geometry.h"

namespace orbal2 {
// A horseshoe-shaped skeleton of a dental arch around the disc centre, in image-area
// coordinates (40 per millimetre): 22 by 26 mm, opening towards +x, teeth 18 mm high.
CyHermiteSpline HorseshoeSkeleton();
}  // namespace orbal2
