// The built-in dental models, as closed triangle meshes in the disc frame (millimetres, z down,
// the model on the plate at z <= 0), each with the ground truth a test or a host needs. Every
// builder is deterministic.
#pragma once

#include "ArchCurve.h"
#include "TriangleMesh.h"

#include <array>
#include <vector>

namespace Sim {

// One tooth crown of an arch: where it stands on the arch and its tip (the crown's highest
// point, a vertex of the mesh).
struct ToothTruth {
    int index = 0;        // 0 .. 13 from the left last molar over the incisors to the right one
    float arcLength = 0;  // of its centre along the arch
    CbVector3f centre;    // crown centre
    CbVector3f tip;       // highest point of the crown
};

// A jaw arch: a horseshoe base (gum and plinth) with 14 tooth crowns, about 52 x 46 mm and
// 20 to 23 mm high.
struct JawModel {
    TriangleMesh mesh;
    ArchCurve arch = DefaultArch();
    std::vector<ToothTruth> teeth;
    float baseHeight = 0;  // top of the base's ridge above the plate
};

// A saw cut of a sectioned model: a slot of `width` through the base down to the plate. The
// two faces are the planes through centre -/+ normal * width / 2 with normal `normal`.
struct SawCutTruth {
    float arcLength = 0;  // where the cut crosses the arch's centre line
    CbVector3f centre;    // on the centre line, at the top of the base's ridge
    CbVector3f normal;    // across the cut: the arch's tangent there (unit, horizontal)
    CbVector3f along;     // along the cut, across the arch (unit, horizontal, outwards)
    float width = 0;
    float depth = 0;  // the base's height: the slot reaches the plate
};

struct SectionedJawModel {
    JawModel jaw;  // its mesh has the slots; teeth next to a cut are narrowed to keep clear
    std::vector<SawCutTruth> cuts;
};

// A stump on the four-position holder. Azimuths count from the disc's x axis towards its y axis.
struct StumpTruth {
    float azimuthDeg = 0;
    CbVector3f base;  // on the axis, at the holder's top
    CbVector3f tip;   // highest point
    float heightAbovePlate = 0;
    float radius = 0;  // of the stump's root
};

struct StumpHolderModel {
    TriangleMesh mesh;
    std::array<StumpTruth, 4> stumps;  // at azimuths 0, 90, 180, 270
    float holderHeight = 0;
};

// An implant scan body (a cylinder with a narrower top step) standing in a jaw arch in place of
// the left first molar, tilted from the vertical.
struct ScanBodyModel {
    JawModel jaw;  // without the replaced tooth in `teeth`
    int replacedTooth = 0;
    CyRay axis;      // origin: centre of the cylinder's bottom; direction: unit, up the body
    CbVector3f top;  // centre of the top face
    float radius = 0;
    float length = 0;   // from the bottom to the top face along the axis
    float tiltDeg = 0;  // angle between the axis and the vertical
};

// A double-arch bite tray: a U-shaped plate along the arch, raised above the disc on two posts,
// with the impressions of the upper teeth in its top face and of the lower teeth in its bottom.
struct DoubleArchTrayModel {
    TriangleMesh mesh;
    ArchCurve arch = DefaultArch();
    float topZ = 0;                            // z of the top face (outside the impressions)
    float bottomZ = 0;                         // z of the bottom face
    std::vector<CbVector3f> upperImpressions;  // deepest point of each impression in the top face
    std::vector<CbVector3f> lowerImpressions;  // in the bottom face
};

JawModel BuildJawModel();
SectionedJawModel BuildSectionedJawModel();
StumpHolderModel BuildStumpHolderModel();
ScanBodyModel BuildScanBodyModel();
DoubleArchTrayModel BuildDoubleArchTrayModel();

}  // namespace Sim
