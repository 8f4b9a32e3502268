// Tessellation side by side with OpenCASCADE's BRepMesh_IncrementalMesh at the same linear
// deflection (OCCT's angular deflection set loose, 1 rad, so that the linear one governs, as
// in ours). Workloads: the Maunga Whau volcano surface interpolated through its 61 x 87 grid
// (bicubic, 10 m spacing), a rational sphere (radius 100) and a wavy bicubic patch over 4 x 4
// knot spans. Counters: triangles and the maximum deviation measured the same way for both
// meshes (every triangle's centroid and edge midpoints projected onto the surface, Newton from
// the triangle's own (u, v)). Built only when OCCT is installed.
#include <VelSDK/Generators.h>
#include <VelSDK/SurfaceTessellation.h>
#include <VelSDK/V3dNurbsSurface.h>

#include <benchmark/benchmark.h>

#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRep_Tool.hxx>
#include <Geom_BSplineSurface.hxx>
#include <Poly_Triangulation.hxx>
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColStd_Array2OfReal.hxx>
#include <TColgp_Array2OfPnt.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Face.hxx>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsSurface;
using VelSDK::NURBS::VMatrix;
using P3 = point<double, 3>;
using P4 = point<double, 4>;

namespace {

V3dNurbsSurface Volcano() {
    std::ifstream in(VELSDK_DATA_DIR "/dem_volcano_61x87.csv");
    std::string line;
    VMatrix<P3> grid(61, 87, P3{});
    std::size_t k = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || line[0] == 'x') continue;
        std::istringstream s(line);
        char comma;
        double x, y, z;
        s >> x >> comma >> y >> comma >> z;
        grid(k / 87, k % 87) = P3{x, y, z};
        ++k;
    }
    const auto params = VelSDK::NURBS::UniformParameterization(61, 87);
    V3dNurbsSurface s;
    s.GlobalInterpolation(grid, params.first, params.second, VelSDK::NURBS::KnotAveraging(params.first, 3),
                          VelSDK::NURBS::KnotAveraging(params.second, 3), 3, 3);
    return s;
}

V3dNurbsSurface Sphere() {
    const double w = std::sqrt(0.5), r = 100.0;
    const double xy[9][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0}};
    const double rz[5][3] = {{0, -1, 1}, {1, -1, w}, {1, 0, 1}, {1, 1, w}, {0, 1, 1}};
    VMatrix<P4> net(9, 5, P4{});
    for (int i = 0; i < 9; ++i)
        for (int j = 0; j < 5; ++j) {
            const double wt = (i % 2 ? w : 1.0) * rz[j][2];
            net(i, j) = P4{r * rz[j][0] * xy[i][0] * wt, r * rz[j][0] * xy[i][1] * wt, r * rz[j][1] * wt, wt};
        }
    return V3dNurbsSurface(net, {0, 0, 0, 0.25, 0.25, 0.5, 0.5, 0.75, 0.75, 1, 1, 1}, {0, 0, 0, 0.5, 0.5, 1, 1, 1}, 2,
                           2);
}

V3dNurbsSurface Wavy() {
    VMatrix<P4> net(7, 7, P4{});
    for (int i = 0; i < 7; ++i)
        for (int j = 0; j < 7; ++j) net(i, j) = P4{10.0 * i, 10.0 * j, 8.0 * std::sin(1.3 * i) * std::cos(0.9 * j), 1};
    const std::vector<double> k = VelSDK::NURBS::UniformKnots(11, 3);
    return V3dNurbsSurface(net, k, k, 3, 3);
}

const V3dNurbsSurface& Workload(int i) {
    static const V3dNurbsSurface surfaces[3] = {Volcano(), Sphere(), Wavy()};
    return surfaces[i];
}
const char* kNames[3] = {"volcano", "sphere", "wavy"};

// OCCT's surface with our poles, weights and distinct knots.
Handle(Geom_BSplineSurface) ToOcct(const V3dNurbsSurface& s) {
    const auto& net = s.GetControlPoints();
    const int nu = static_cast<int>(net.RowCount()), nv = static_cast<int>(net.ColumnCount());
    TColgp_Array2OfPnt poles(1, nu, 1, nv);
    TColStd_Array2OfReal weights(1, nu, 1, nv);
    for (int i = 0; i < nu; ++i)
        for (int j = 0; j < nv; ++j) {
            const P4 h = net(static_cast<std::size_t>(i), static_cast<std::size_t>(j));
            poles(i + 1, j + 1) = gp_Pnt(h[0] / h[3], h[1] / h[3], h[2] / h[3]);
            weights(i + 1, j + 1) = h[3];
        }
    auto distinct = [](const std::vector<double>& k, TColStd_Array1OfReal*& values, TColStd_Array1OfInteger*& mults) {
        std::vector<double> v;
        std::vector<int> m;
        for (double x : k) {
            if (!v.empty() && v.back() == x) {
                ++m.back();
            } else {
                v.push_back(x);
                m.push_back(1);
            }
        }
        values = new TColStd_Array1OfReal(1, static_cast<int>(v.size()));
        mults = new TColStd_Array1OfInteger(1, static_cast<int>(v.size()));
        for (std::size_t i = 0; i < v.size(); ++i) {
            (*values)(static_cast<int>(i) + 1) = v[i];
            (*mults)(static_cast<int>(i) + 1) = m[i];
        }
    };
    TColStd_Array1OfReal *ku, *kv;
    TColStd_Array1OfInteger *mu, *mv;
    distinct(s.GetKnotsU(), ku, mu);
    distinct(s.GetKnotsV(), kv, mv);
    Handle(Geom_BSplineSurface) out = new Geom_BSplineSurface(
        poles, weights, *ku, *kv, *mu, *mv, static_cast<int>(s.GetDegreeU()), static_cast<int>(s.GetDegreeV()));
    delete ku;
    delete kv;
    delete mu;
    delete mv;
    return out;
}

// OCCT's triangulation of a face as our mesh type (nodes with their (u, v)).
VelSDK::Mesh::TriangleMesh FromOcct(const TopoDS_Face& face) {
    VelSDK::Mesh::TriangleMesh m;
    TopLoc_Location loc;
    const Handle(Poly_Triangulation) t = BRep_Tool::Triangulation(face, loc);
    if (t.IsNull()) return m;
    for (int i = 1; i <= t->NbNodes(); ++i) {
        const gp_Pnt p = t->Node(i);
        m.vertices.push_back(P3{p.X(), p.Y(), p.Z()});
        const gp_Pnt2d uv = t->HasUVNodes() ? t->UVNode(i) : gp_Pnt2d(0, 0);
        m.parameters.push_back({uv.X(), uv.Y()});
        m.normals.push_back(P3{0, 0, 1});
    }
    for (int i = 1; i <= t->NbTriangles(); ++i) {
        int a, b, c;
        t->Triangle(i).Get(a, b, c);
        m.triangles.push_back(
            {static_cast<std::uint32_t>(a - 1), static_cast<std::uint32_t>(b - 1), static_cast<std::uint32_t>(c - 1)});
    }
    return m;
}

// Deflection relative to the surface's size (the extent of its control net).
double Deflection(const V3dNurbsSurface& s, double relative) {
    double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (const auto& h : s.GetControlPoints().Elements())
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], h[k] / h[3]);
            hi[k] = std::max(hi[k], h[k] / h[3]);
        }
    return relative * std::sqrt((hi[0] - lo[0]) * (hi[0] - lo[0]) + (hi[1] - lo[1]) * (hi[1] - lo[1]) +
                                (hi[2] - lo[2]) * (hi[2] - lo[2]));
}

void Ours(benchmark::State& state) {
    const V3dNurbsSurface& s = Workload(static_cast<int>(state.range(0)));
    VelSDK::Mesh::TessellationOptions o;
    o.chordTolerance = Deflection(s, 1.0 / static_cast<double>(state.range(1)));
    VelSDK::Mesh::TriangleMesh mesh;
    for (auto _ : state) {
        VelSDK::Mesh::Tessellate(s, o, mesh);
        benchmark::DoNotOptimize(mesh.triangles.data());
    }
    state.counters["triangles"] = static_cast<double>(mesh.triangles.size());
    state.counters["deflection"] = o.chordTolerance;
    state.counters["max_dev"] = VelSDK::Mesh::MeasureDeviation(s, mesh);
    state.SetLabel(kNames[state.range(0)]);
}

void Occt(benchmark::State& state) {
    const V3dNurbsSurface& s = Workload(static_cast<int>(state.range(0)));
    const double deflection = Deflection(s, 1.0 / static_cast<double>(state.range(1)));
    const Handle(Geom_BSplineSurface) g = ToOcct(s);
    TopoDS_Face face;
    for (auto _ : state) {
        state.PauseTiming();
        face = BRepBuilderAPI_MakeFace(g, 1e-7).Face();
        state.ResumeTiming();
        BRepMesh_IncrementalMesh mesher(face, deflection, Standard_False, 1.0, Standard_False);
        benchmark::DoNotOptimize(&mesher);
    }
    const VelSDK::Mesh::TriangleMesh mesh = FromOcct(face);
    state.counters["triangles"] = static_cast<double>(mesh.triangles.size());
    state.counters["deflection"] = deflection;
    state.counters["max_dev"] = VelSDK::Mesh::MeasureDeviation(s, mesh);
    state.SetLabel(kNames[state.range(0)]);
}

// Arguments: workload (0 volcano, 1 sphere, 2 wavy), deflection = diagonal / N.
void Arguments(benchmark::internal::Benchmark* b) {
    for (int w = 0; w < 3; ++w)
        for (int n : {1000, 10000}) b->Args({w, n});
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(Ours)->Apply(Arguments);
BENCHMARK(Occt)->Apply(Arguments);

}  // namespace

BENCHMARK_MAIN();
