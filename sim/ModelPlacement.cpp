#include "ModelPlacement.h"

#include <cmath>
#include <cstdio>

namespace Sim {

namespace {
// The file's up direction as a unit axis.
CbVector3f direction(UpAxis up) {
    switch (up) {
    case UpAxis::PlusX: return {1, 0, 0};
    case UpAxis::MinusX: return {-1, 0, 0};
    case UpAxis::PlusY: return {0, 1, 0};
    case UpAxis::MinusY: return {0, -1, 0};
    case UpAxis::PlusZ: return {0, 0, 1};
    case UpAxis::MinusZ: return {0, 0, -1};
    }
    return {0, 0, 1};
}
}  // namespace

bool ParseUpAxis(const std::string& text, UpAxis& up) {
    static const std::pair<const char*, UpAxis> names[] = {{"x", UpAxis::PlusX},  {"-x", UpAxis::MinusX},
                                                           {"y", UpAxis::PlusY},  {"-y", UpAxis::MinusY},
                                                           {"z", UpAxis::PlusZ},  {"-z", UpAxis::MinusZ}};
    for (const auto& [name, axis] : names)
        if (text == name) {
            up = axis;
            return true;
        }
    return false;
}

void PlaceOnDisc(TriangleMesh& mesh, UpAxis up) {
    if (mesh.vertices.empty())
        return;
    // New basis (rows): x' and y' across, z' = -up. For each choice a cyclic pair keeps
    // x' x y' = z', so the map is a rotation and the triangles keep their winding.
    const CbVector3f z = -direction(up);
    const CbVector3f x = std::abs(z.x) > 0.5f ? CbVector3f(0, 1, 0) : CbVector3f(1, 0, 0);
    const CbVector3f y = z.Cross(x);
    for (CbVector3f& v : mesh.vertices)
        v = {x.Dot(v), y.Dot(v), z.Dot(v)};
    const CyBoundingBox3D box = mesh.Bounds();
    const CbVector3f shift(-0.5f * (box.GetMin().x + box.GetMax().x),
                           -0.5f * (box.GetMin().y + box.GetMax().y), -box.GetMax().z);
    for (CbVector3f& v : mesh.vertices)
        v += shift;
}

UpAxis ChooseUpAxis(const TriangleMesh& mesh) {
    const CyBoundingBox3D box = mesh.Bounds();
    if (box.IsEmpty())
        return UpAxis::PlusZ;
    const float extent[3] = {box.GetWidth(), box.GetHeight(), box.GetDepth()};
    int axis = 2;
    for (int a = 0; a < 2; ++a)
        if (extent[a] < extent[axis])
            axis = a;
    // Area of faces pointing within 25 degrees of +axis and of -axis.
    double plus = 0, minus = 0;
    for (const auto& t : mesh.triangles) {
        const CbVector3f n = (mesh.vertices[t[1]] - mesh.vertices[t[0]]).Cross(mesh.vertices[t[2]] - mesh.vertices[t[0]]);
        const float length = n.Length();
        if (!(length > 0))
            continue;
        const float c = n[axis] / length;
        if (c > 0.9063f)
            plus += 0.5 * length;
        else if (c < -0.9063f)
            minus += 0.5 * length;
    }
    static const UpAxis plusAxes[3] = {UpAxis::PlusX, UpAxis::PlusY, UpAxis::PlusZ};
    static const UpAxis minusAxes[3] = {UpAxis::MinusX, UpAxis::MinusY, UpAxis::MinusZ};
    return minus < plus ? minusAxes[axis] : plusAxes[axis];
}

bool FitsOnDisc(const TriangleMesh& mesh, std::string& error) {
    const CyBoundingBox3D box = mesh.Bounds();
    if (box.IsEmpty()) {
        error = "the model has no vertices";
        return false;
    }
    float reach = 0;
    for (const CbVector3f& v : mesh.vertices)
        reach = std::max(reach, std::hypot(v.x, v.y));
    const float height = -box.GetMin().z;
    if (reach <= c_fDiscRadiusMm && height <= c_fMaxModelHeightMm && box.GetMax().z <= 1e-3f)
        return true;
    char text[256];
    std::snprintf(text, sizeof text,
                  "the model is %.1f x %.1f x %.1f mm and does not fit on the disc (at most %.0f mm from its axis "
                  "and %.0f mm high)",
                  box.GetWidth(), box.GetHeight(), box.GetDepth(), c_fDiscRadiusMm, c_fMaxModelHeightMm);
    error = text;
    return false;
}

}  // namespace Sim
