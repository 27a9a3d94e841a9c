#include "ModelFile.h"

#include "PlyReader.h"
#include "StlReader.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>

namespace Sim {

namespace {
std::string lowerExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}
}  // namespace

bool ParseMeshWithAssimp(const std::string& bytes, const std::string& extension, TriangleMesh& mesh,
                         std::string& error) {
    mesh = {};
    if (bytes.empty()) {
        error = "the file is empty";
        return false;
    }
    Assimp::Importer importer;
    // Triangles only, with equal corners joined so that closed parts stay closed; points and
    // lines are dropped. No other processing: the geometry stays as the file has it.
    importer.SetPropertyInteger(AI_CONFIG_PP_SBP_REMOVE, aiPrimitiveType_POINT | aiPrimitiveType_LINE);
    const aiScene* scene =
        importer.ReadFileFromMemory(bytes.data(), bytes.size(),
                                    aiProcess_Triangulate | aiProcess_JoinIdenticalVertices | aiProcess_SortByPType,
                                    extension.c_str());
    if (!scene || !scene->mRootNode || (scene->mFlags & AI_SCENE_FLAGS_INCOMPLETE)) {
        error = "not a readable " + extension + " file: " + EscapeForMessage(importer.GetErrorString());
        return false;
    }
    // Every mesh instance the node tree places, with the nodes' transformations.
    bool ok = true;
    std::function<void(const aiNode*, const aiMatrix4x4&, int)> visit = [&](const aiNode* node,
                                                                         const aiMatrix4x4& parent, int depth) {
        if (!ok || depth > 64)
            return;
        const aiMatrix4x4 transform = parent * node->mTransformation;
        for (unsigned k = 0; k < node->mNumMeshes && ok; ++k) {
            if (node->mMeshes[k] >= scene->mNumMeshes)
                continue;
            const aiMesh* m = scene->mMeshes[node->mMeshes[k]];
            const auto base = static_cast<uint32_t>(mesh.vertices.size());
            for (unsigned v = 0; v < m->mNumVertices; ++v) {
                const aiVector3D p = transform * m->mVertices[v];
                if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
                    error = "a vertex coordinate is not a finite number";
                    ok = false;
                    return;
                }
                mesh.vertices.emplace_back(p.x, p.y, p.z);
            }
            for (unsigned f = 0; f < m->mNumFaces; ++f) {
                const aiFace& face = m->mFaces[f];
                if (face.mNumIndices != 3)
                    continue;
                if (face.mIndices[0] >= m->mNumVertices || face.mIndices[1] >= m->mNumVertices ||
                    face.mIndices[2] >= m->mNumVertices) {
                    error = "a face names a vertex the file does not hold";
                    ok = false;
                    return;
                }
                const std::array<uint32_t, 3> t = {base + face.mIndices[0], base + face.mIndices[1],
                                                   base + face.mIndices[2]};
                const CbVector3f n = (mesh.vertices[t[1]] - mesh.vertices[t[0]]).Cross(mesh.vertices[t[2]] - mesh.vertices[t[0]]);
                if (n.Dot(n) > 0)
                    mesh.triangles.push_back(t);  // zero-area triangles are of no use for ray casting
            }
        }
        for (unsigned c = 0; c < node->mNumChildren; ++c)
            visit(node->mChildren[c], transform, depth + 1);
    };
    visit(scene->mRootNode, aiMatrix4x4(), 0);
    if (ok && mesh.triangles.empty()) {
        error = "the model has no usable triangles";
        ok = false;
    }
    if (!ok)
        mesh = {};
    return ok;
}

bool ReadModelFile(const std::string& path, TriangleMesh& mesh, std::string& error) {
    mesh = {};
    const std::string ext = lowerExtension(path);
    if (ext != "stl" && ext != "ply" && ext != "obj") {
        error = QuoteForMessage(path) + ": unknown model format (STL, PLY or OBJ)";
        return false;
    }
    StlReader reader;
    if (ext == "stl") {
        if (reader.ReadFile(path, mesh))
            return true;
        error = reader.GetError();
        return false;
    }
    // The reader's file checks (regular file, size) serve the other formats too.
    std::string bytes;
    if (!reader.ReadBytes(path, bytes)) {
        error = reader.GetError();
        return false;
    }
    // PLY has a reader of its own: the importer hangs on a header cut short and crashes on a
    // binary body cut short.
    PlyReader ply;
    if (ext == "ply" ? ply.Parse(bytes, mesh) : ParseMeshWithAssimp(bytes, ext, mesh, error))
        return true;
    if (ext == "ply")
        error = ply.GetError();
    error = QuoteForMessage(path) + ": " + error;
    return false;
}

}  // namespace Sim
