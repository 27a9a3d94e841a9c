// Puts a user's model onto the disc and says whether the device can scan it there.
#pragma once

#include "TriangleMesh.h"

#include <string>

namespace Sim {

// Which of the file's axes points up, out of the model's occlusal side.
enum class UpAxis { PlusX, MinusX, PlusY, MinusY, PlusZ, MinusZ };

// Parses "x", "-x", ..., "z", "-z"; false for anything else.
bool ParseUpAxis(const std::string& text, UpAxis& up);

// Turns a model as scanners and design programs store it (`up` pointing up, anywhere in space)
// into the disc frame: rotated so that `up` becomes -z (the disc frame's z points down) by a
// proper rotation (handedness kept), centred on the disc axis and set down on the plate
// (highest z = 0). The default is the usual z-up file: a turn by pi about x.
void PlaceOnDisc(TriangleMesh& mesh, UpAxis up = UpAxis::PlusZ);

// The chosen axis of a model whose file does not say which way is up. A dental model is a
// horseshoe of crowns on a base: seen along the right axis its arch spreads wide and flat, so
// the up axis is the one along which the model is thinnest (smallest bounding-box extent); the
// sign is where the surface faces: the occlusal side is rough with crowns and cusps, the base a
// flat face, so the side whose outward faces carry less area pointing straight at it (a flat
// base is mostly one big face pointing straight down) is up. Ties keep +z.
UpAxis ChooseUpAxis(const TriangleMesh& mesh);

// The disc's radius and the highest model the device brings into the sensor's view (the disc
// lifts by at most 45 mm).
constexpr float c_fDiscRadiusMm = 50.0f;
constexpr float c_fMaxModelHeightMm = 45.0f;

// Whether a placed model fits on the disc: every vertex within the disc's radius of the axis and
// not higher than c_fMaxModelHeightMm. When it does not, `error` says the model's size.
bool FitsOnDisc(const TriangleMesh& mesh, std::string& error);

}  // namespace Sim
