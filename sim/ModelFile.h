// Reads a user's model file: STL and PLY with the project's own strict readers, OBJ through
// Assimp. The format follows the file name's extension (any case). Only regular files up to
// StlReader::c_uMaxFileBytes are read; the model must hold triangles with finite coordinates.
// A material library an OBJ file names is not read: only the geometry matters here.
#pragma once

#include "TriangleMesh.h"

#include <string>

namespace Sim {

// Reads `path` into `mesh` (replaced; empty on failure); `error` says why it failed, naming the
// file with its control bytes escaped.
bool ReadModelFile(const std::string& path, TriangleMesh& mesh, std::string& error);

// Parses the bytes of an OBJ file (`extension` "obj") through Assimp. It is not fit for damaged
// PLY files: it hangs on a header cut short.
bool ParseMeshWithAssimp(const std::string& bytes, const std::string& extension, TriangleMesh& mesh,
                         std::string& error);

}  // namespace Sim
