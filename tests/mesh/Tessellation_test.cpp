// Tessellation: every mesh of every fixture surface at several tolerances is within the chord
// tolerance (measured by projection), watertight where the surface is closed and without
// T-junctions everywhere (edges shared by exactly two triangles after welding coincident
// points, except on open borders), with vertices on the surface and normals equal to the
// independently computed Su x Sv; curves: every polyline piece within tolerance by dense
// sampling; writers: the binary STL read back field by field.
#include "exchange/ExchangeFixtures.h"

#include <cstdio>
#include <map>
#include <sstream>

#include <unistd.h>

using namespace exchange_test;
using namespace VelSDK::Mesh;

namespace {

struct Case {
    std::string name;
    V3dNurbsSurface surface;
    bool closedU, closedV;  // watertight along that direction after welding
};

std::vector<Case> Cases() {
    std::vector<Case> out;
    const CadModel all = AllObjects();
    for (std::size_t i = 0; i < all.surfaces.size(); ++i)
        out.push_back({all.SurfaceName(i), all.surfaces[i], i == 0, false});
    out.push_back({"sphere", Sphere(), true, true});
    VMatrix<P4> plane(2, 2, H(0, 0, 0));
    plane(1, 0) = H(2, 0, 1), plane(0, 1) = H(0, 3, 0), plane(1, 1) = H(2, 3, 1);
    out.push_back({"plane", V3dNurbsSurface(plane, {0, 0, 1, 1}, {0, 0, 1, 1}, 1, 1), false, false});
    return out;
}

// Welds points that agree to 1e-9 of the model size.
std::vector<std::size_t> Weld(const TriangleMesh& m) {
    std::map<std::array<long long, 3>, std::size_t> ids;
    std::vector<std::size_t> out(m.vertices.size());
    for (std::size_t i = 0; i < m.vertices.size(); ++i) {
        std::array<long long, 3> key;
        for (int k = 0; k < 3; ++k) key[k] = std::llround(m.vertices[i][k] * 1e9);
        out[i] = ids.emplace(key, ids.size()).first->second;
    }
    return out;
}

P3 Cross(const P3& a, const P3& b) {
    return P3{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

void CheckMesh(const Case& c, const TriangleMesh& m, double tol) {
    const auto& s = c.surface;
    ASSERT_FALSE(m.triangles.empty());
    ASSERT_TRUE(m.normals.size() == m.vertices.size() && m.parameters.size() == m.vertices.size());
    // Vertices on the surface, normals of the surface (except where Su x Sv vanishes).
    for (std::size_t i = 0; i < m.vertices.size(); ++i) {
        const double u = m.parameters[i][0], v = m.parameters[i][1];
        EXPECT_LE(Distance(m.vertices[i], s.EvaluateAt(u, v)), 1e-12 * 5) << c.name;
        const auto d = s.DeriveAt(u, v, 1);
        const P3 n = Cross(d(1, 0), d(0, 1));
        EXPECT_TRUE(Dot(n, n) == 0 || Dot(n, m.normals[i]) > (1 - 1e-9) * std::sqrt(Dot(n, n))) << c.name << " " << i;
        EXPECT_NEAR(Dot(m.normals[i], m.normals[i]), 1.0, 1e-12) << c.name;
    }
    // Within the tolerance, measured by projection (and not far below it where the surface curves).
    const double measured = VelSDK::Mesh::MeasureDeviation(s, m);
    EXPECT_TRUE(measured <= tol && (c.name == "plane" || measured > tol / 4)) << c.name << ": " << measured;
    // No T-junction: after welding, an edge has two triangles, or one on an open border.
    const std::vector<std::size_t> w = Weld(m);
    std::map<std::pair<std::size_t, std::size_t>, std::pair<int, std::array<std::uint32_t, 2>>> uses;  // count, an edge
    for (const auto& t : m.triangles) {
        for (int k = 0; k < 3; ++k) {
            const std::size_t a = w[t[k]], b = w[t[(k + 1) % 3]];
            ASSERT_NE(a, b) << c.name << ": degenerate triangle kept";
            auto& use = uses[std::minmax(a, b)];
            use = {use.first + 1, {t[k], t[(k + 1) % 3]}};
        }
        // Triangles face the side of the normals.
        const P3 f = Cross(m.vertices[t[1]] - m.vertices[t[0]], m.vertices[t[2]] - m.vertices[t[0]]);
        EXPECT_GT(Dot(f, m.normals[t[0]] + m.normals[t[1]] + m.normals[t[2]]), 0) << c.name;
    }
    const double ua = s.GetMinParamU(), ub = s.GetMaxParamU(), va = s.GetMinParamV(), vb = s.GetMaxParamV();
    for (const auto& kv : uses) {
        ASSERT_LE(kv.second.first, 2) << c.name;
        if (kv.second.first == 2) continue;
        const auto &pa = m.parameters[kv.second.second[0]], &pb = m.parameters[kv.second.second[1]];
        const bool onU = (pa[0] == ua && pb[0] == ua) || (pa[0] == ub && pb[0] == ub);
        const bool onV = (pa[1] == va && pb[1] == va) || (pa[1] == vb && pb[1] == vb);
        EXPECT_TRUE((onU && !c.closedU) || (onV && !c.closedV))
            << c.name << ": edge used once inside the domain or on a closed seam at " << pa[0] << "," << pa[1];
    }
}

TEST(Tessellation, WithinToleranceAndAngleAndCrackFree) {
    for (const Case& c : Cases()) {
        std::size_t previous = 0;
        for (double tol : {0.05, 0.004, 0.0006}) {
            TriangleMesh m;
            const TessellationReport r = VelSDK::Mesh::Tessellate(c.surface, TessellationOptions{tol}, m);
            ASSERT_TRUE(r.ok) << r.error;
            EXPECT_TRUE(!r.budgetReached && r.triangles == m.triangles.size() && r.estimatedDeviation <= tol);
            CheckMesh(c, m, tol);
            EXPECT_TRUE(m.triangles.size() >= previous && (c.name != "plane" || m.triangles.size() == 2)) << c.name;
            previous = m.triangles.size();
        }
        // With an angle tolerance, the normals of a triangle's corners differ by at most that angle
        // (up to the finer neighbours' points on a cell edge, which only bring the normals closer).
        TriangleMesh m;
        ASSERT_TRUE(VelSDK::Mesh::Tessellate(c.surface, TessellationOptions{1.0, 0.2}, m).ok);
        for (const auto& t : m.triangles)
            for (int k = 0; k < 3; ++k)
                EXPECT_GT(Dot(m.normals[t[k]], m.normals[t[(k + 1) % 3]]), std::cos(0.2) - 1e-12) << c.name;
    }
}

TEST(Tessellation, BadInputAndBudget) {
    TriangleMesh m;
    for (double tol : {0.0, -1.0, double(NAN), double(INFINITY)}) {
        EXPECT_FALSE(VelSDK::Mesh::Tessellate(Sphere(), TessellationOptions{tol}, m).ok || !m.triangles.empty()) << tol;
    }
    EXPECT_FALSE(VelSDK::Mesh::Tessellate(Sphere(), TessellationOptions{0.01, -1.0}, m).ok);
    const V3dNurbsSurface invalid(VMatrix<P4>(2, 2, P4{0, 0, 0, 1}), {0, 0, 1}, {0, 0, 1, 1}, 1, 1);
    EXPECT_FALSE(VelSDK::Mesh::Tessellate(invalid, TessellationOptions(), m).ok);
    const TessellationReport r = VelSDK::Mesh::Tessellate(Sphere(), TessellationOptions{1e-300, 0.0, 1000}, m);
    EXPECT_TRUE(r.ok && r.budgetReached && m.triangles.size() <= 4u * 1000u);
    EXPECT_TRUE(std::isnan(VelSDK::Mesh::MeasureDeviation(Sphere(), TriangleMesh())));
}

// Polylines: between consecutive points the curve stays within the tolerance of the chord
// (dense sampling), the ends are the curve's ends, parameters increase.
TEST(CurveTessellation, WithinToleranceByDenseSampling) {
    const CadModel all = AllObjects();
    for (std::size_t n = 0; n < all.curves.size(); ++n) {
        const V3dNurbsCurve& c = all.curves[n];
        if (all.CurveName(n) == "line") continue;
        for (double tol : {0.1, 0.001}) {
            const auto poly = VelSDK::Mesh::TessellateCurve(c, tol, 0.0);
            ASSERT_GE(poly.points.size(), 2u) << all.CurveName(n);
            EXPECT_TRUE(poly.parameters.front() == c.GetMinParam() && poly.parameters.back() == c.GetMaxParam());
            double worst = 0;
            for (std::size_t i = 0; i + 1 < poly.points.size(); ++i) {
                ASSERT_LT(poly.parameters[i], poly.parameters[i + 1]);
                EXPECT_EQ(poly.points[i], c.EvaluateAt(poly.parameters[i]));
                const P3 a = poly.points[i], b = poly.points[i + 1];
                for (int k = 1; k < 32; ++k) {
                    const double t = poly.parameters[i] + (poly.parameters[i + 1] - poly.parameters[i]) * k / 32.0;
                    const P3 x = c.EvaluateAt(t);
                    const P3 ab = b - a;
                    const double f = std::min(1.0, std::max(0.0, Dot(x - a, ab) / Dot(ab, ab)));
                    worst = std::max(worst, Distance(x, a + f * ab));
                }
            }
            EXPECT_LE(worst, tol) << all.CurveName(n);
        }
    }
    EXPECT_TRUE(VelSDK::Mesh::TessellateCurve(all.curves[0], 0.0).points.empty());
    EXPECT_TRUE(VelSDK::Mesh::TessellateCurve(V3dNurbsCurve(), 0.1).points.empty());
    EXPECT_LE(VelSDK::Mesh::TessellateCurve(all.curves[1], 1e-300, 0, 50).points.size(), 50u);
}

// Binary STL read back: header, count, and per facet the unit normal, the vertices as floats
// and a zero attribute.
TEST(MeshWriters, BinaryStlFields) {
    TriangleMesh m;
    ASSERT_TRUE(VelSDK::Mesh::Tessellate(Sphere(), TessellationOptions{0.05}, m).ok);
    std::ostringstream out;
    ASSERT_TRUE(VelSDK::Mesh::WriteStl(out, m));
    const std::string b = out.str();
    ASSERT_EQ(b.size(), 84 + 50 * m.triangles.size());
    std::uint32_t n;
    std::memcpy(&n, b.data() + 80, 4);
    ASSERT_EQ(n, m.triangles.size());
    for (std::size_t t = 0; t < n; ++t) {
        float f[12];
        std::memcpy(f, b.data() + 84 + 50 * t, sizeof f);
        EXPECT_NEAR(f[0] * f[0] + f[1] * f[1] + f[2] * f[2], 1.0, 1e-5);
        for (int k = 0; k < 3; ++k)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(f[3 + 3 * k + c], static_cast<float>(m.vertices[m.triangles[t][k]][c]));
        EXPECT_TRUE(b[84 + 50 * t + 48] == 0 && b[84 + 50 * t + 49] == 0);
    }
    std::ostringstream ply;
    ASSERT_TRUE(VelSDK::Mesh::WritePly(ply, m));
    const std::string header = "ply\nformat binary_little_endian 1.0\n";
    EXPECT_EQ(ply.str().compare(0, header.size(), header), 0);
    const std::size_t end = ply.str().find("end_header\n") + 11;
    EXPECT_EQ(ply.str().size(), end + 64 * m.vertices.size() + 13 * m.triangles.size());
    std::string error;
    EXPECT_FALSE(VelSDK::Mesh::SaveMesh("/tmp/x.vrml", m, error));
    EXPECT_NE(error.find("unknown mesh format"), std::string::npos);
    EXPECT_FALSE(VelSDK::Mesh::SaveMesh("/nonexistent-dir/x.stl", m, error));
    EXPECT_EQ(error, "cannot write /nonexistent-dir/x.stl");
    // A device that is full: the file opens, the writing fails.
    const std::string full = ::testing::TempDir() + "velsdk_mesh_full.stl";
    std::remove(full.c_str());
    if (::symlink("/dev/full", full.c_str()) == 0) {
        EXPECT_FALSE(VelSDK::Mesh::SaveMesh(full, m, error));
        EXPECT_EQ(error, "cannot write " + full);
        std::remove(full.c_str());
    }
}

}  // namespace
