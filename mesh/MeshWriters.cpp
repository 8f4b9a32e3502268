// Mesh writers: binary STL (the 3D Systems format: 80-byte header, uint32 count, 50 bytes per
// facet), PLY 1.0 binary little endian (Turk, "The PLY polygon file format") and Wavefront
// OBJ. Binary numbers are written byte by byte in little-endian order.
#include <VelSDK/MeshWriters.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <ostream>
#include <sstream>

namespace VelSDK {
namespace Mesh {

using P3 = Math::point<double, 3>;

namespace {

template <typename T>
void PutLE(std::string& out, T value) {
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    // The byte order of the host is checked once: a big-endian host reverses.
    const std::uint16_t probe = 1;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    if (first == 0) std::reverse(bytes, bytes + sizeof(T));
    out.append(reinterpret_cast<const char*>(bytes), sizeof(T));
}

std::string Number(double x) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, 17);
    return std::string(buf, r.ptr);
}

bool Flush(std::ostream& out, const std::string& bytes) {
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace

bool WriteStl(std::ostream& out, const TriangleMesh& mesh) {
    if (mesh.triangles.size() > std::numeric_limits<std::uint32_t>::max()) return false;
    std::string b;
    b.reserve(84 + 50 * mesh.triangles.size());
    std::string header = "binary STL written by VelSDK.Nurbs";
    header.resize(80, ' ');
    b += header;
    PutLE<std::uint32_t>(b, static_cast<std::uint32_t>(mesh.triangles.size()));
    for (const auto& t : mesh.triangles) {
        const P3 &A = mesh.vertices[t[0]], &B = mesh.vertices[t[1]], &C = mesh.vertices[t[2]];
        const double e1[3] = {B[0] - A[0], B[1] - A[1], B[2] - A[2]}, e2[3] = {C[0] - A[0], C[1] - A[1], C[2] - A[2]};
        double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
        const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        for (double& v : n) v = len > 0 ? v / len : 0.0;
        for (double v : n) PutLE<float>(b, static_cast<float>(v));
        for (int k = 0; k < 3; ++k)
            for (int c = 0; c < 3; ++c) PutLE<float>(b, static_cast<float>(mesh.vertices[t[k]][c]));
        PutLE<std::uint16_t>(b, 0);
    }
    return Flush(out, b);
}

bool WritePly(std::ostream& out, const TriangleMesh& mesh) {
    std::ostringstream head;
    head << "ply\nformat binary_little_endian 1.0\ncomment written by VelSDK.Nurbs\n"
         << "element vertex " << mesh.vertices.size() << "\n"
         << "property double x\nproperty double y\nproperty double z\n"
         << "property double nx\nproperty double ny\nproperty double nz\n"
         << "property double u\nproperty double v\n"
         << "element face " << mesh.triangles.size() << "\n"
         << "property list uchar uint vertex_indices\nend_header\n";
    std::string b = head.str();
    b.reserve(b.size() + 64 * mesh.vertices.size() + 13 * mesh.triangles.size());
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
        for (int c = 0; c < 3; ++c) PutLE<double>(b, mesh.vertices[i][c]);
        for (int c = 0; c < 3; ++c) PutLE<double>(b, i < mesh.normals.size() ? mesh.normals[i][c] : 0.0);
        for (int c = 0; c < 2; ++c) PutLE<double>(b, i < mesh.parameters.size() ? mesh.parameters[i][c] : 0.0);
    }
    for (const auto& t : mesh.triangles) {
        b += static_cast<char>(3);
        for (int k = 0; k < 3; ++k) PutLE<std::uint32_t>(b, t[k]);
    }
    return Flush(out, b);
}

bool WriteObj(std::ostream& out, const TriangleMesh& mesh) {
    std::string b = "# written by VelSDK.Nurbs: vertices, surface parameters (vt), normals\n";
    for (const auto& v : mesh.vertices) b += "v " + Number(v[0]) + " " + Number(v[1]) + " " + Number(v[2]) + "\n";
    for (const auto& p : mesh.parameters) b += "vt " + Number(p[0]) + " " + Number(p[1]) + "\n";
    for (const auto& n : mesh.normals) b += "vn " + Number(n[0]) + " " + Number(n[1]) + " " + Number(n[2]) + "\n";
    const bool full = mesh.parameters.size() == mesh.vertices.size() && mesh.normals.size() == mesh.vertices.size();
    for (const auto& t : mesh.triangles) {
        b += "f";
        for (int k = 0; k < 3; ++k) {
            const std::string i = std::to_string(t[k] + 1);
            b += " " + (full ? i + "/" + i + "/" + i : i);
        }
        b += "\n";
    }
    return Flush(out, b);
}

bool SaveMesh(const std::string& path, const TriangleMesh& mesh, std::string& error) {
    const std::size_t dot = path.find_last_of('.');
    std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext != "stl" && ext != "ply" && ext != "obj") {
        error = "unknown mesh format '." + ext + "' (use .stl, .ply or .obj)";
        return false;
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        error = "cannot write " + path;
        return false;
    }
    const bool ok = ext == "stl" ? WriteStl(file, mesh) : ext == "ply" ? WritePly(file, mesh) : WriteObj(file, mesh);
    file.close();
    if (!ok || !file) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace Mesh
}  // namespace VelSDK
