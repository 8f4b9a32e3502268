// Writers of triangle meshes: binary STL, PLY with normals and parameters, Wavefront OBJ.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/SurfaceTessellation.h>

#include <iosfwd>
#include <string>

namespace VelSDK {
namespace Mesh {

/// Binary STL: 80-byte header, triangle count, per triangle the unit facet normal (from the
/// vertices, counter-clockwise), three vertices as 32-bit floats and a zero attribute word.
/// Returns false when the stream fails or the mesh has more than 2^32 - 1 triangles.
VELSDK_NURBS_API bool WriteStl(std::ostream& out, const TriangleMesh& mesh);
/// PLY 1.0, binary little endian: vertices with x y z nx ny nz u v as doubles, faces as
/// lists of three 32-bit indices.
VELSDK_NURBS_API bool WritePly(std::ostream& out, const TriangleMesh& mesh);
/// Wavefront OBJ: v (17 significant digits), vt (u v), vn, and faces "f a/a/a b/b/b c/c/c".
VELSDK_NURBS_API bool WriteObj(std::ostream& out, const TriangleMesh& mesh);

/// Writes by file extension (.stl, .ply, .obj, case-insensitive) into a new file; false with
/// `error` set for another extension or a file that cannot be written.
VELSDK_NURBS_API bool SaveMesh(const std::string& path, const TriangleMesh& mesh, std::string& error);

}  // namespace Mesh
}  // namespace VelSDK
