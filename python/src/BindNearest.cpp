// Global nearest points: NurbsCurve.nearest, NurbsSurface.nearest and the reusable
// CurveLocator / SurfaceLocator search structures.
#include "Common.h"

#include <VelSDK/CurveLocator.h>
#include <VelSDK/SurfaceLocator.h>

#include <algorithm>
#include <string>
#include <vector>

namespace velsdk_py {

namespace {

using VelSDK::NURBS::CurveLocator;
using VelSDK::NURBS::CurveNearest;
using VelSDK::NURBS::NearestStatus;
using VelSDK::NURBS::SurfaceLocator;
using VelSDK::NURBS::SurfaceNearest;
using VelSDK::NURBS::V3dNurbsCurve;
using VelSDK::NURBS::V3dNurbsSurface;

void CheckSearchable(NearestStatus s, const char* what) {
    if (s != NearestStatus::Found)
        ThrowValue(std::string(what) +
                   " cannot be searched (not valid, a weight that is not positive, a non-finite value, an empty "
                   "range or a degree above the locator's limit)");
}

// (3,) -> (u, point (3,), distance); (k, 3) -> (u (k,), points (k, 3), distances (k,)).
py::tuple CurveNearestOf(const CurveLocator& loc, const DoubleArray& points, int dims, long threads) {
    CheckSearchable(loc.GetStatus(), "curve");
    CheckDims(dims);
    const std::size_t t = ToThreads(threads);
    const bool single = points.ndim() == 1;
    const std::vector<Point3> P = ToPoints3(points, "points", true);
    std::vector<CurveNearest> r(P.size());
    {
        py::gil_scoped_release release;
        loc.Nearest(P.data(), P.size(), r.data(), t);
    }
    std::vector<double> u(P.size()), d(P.size());
    std::vector<Point3> feet(P.size());
    for (std::size_t i = 0; i < P.size(); ++i) u[i] = r[i].parameter, d[i] = r[i].distance, feet[i] = r[i].point;
    if (single) {
        py::array_t<double> foot(3);
        std::copy(feet[0].v, feet[0].v + 3, foot.mutable_data());
        return py::make_tuple(u[0], KeepDims(foot, dims), d[0]);
    }
    return py::make_tuple(FromVector(u), KeepDims(FromPoints3(feet), dims), FromVector(d));
}

// (3,) -> (u, v, point (3,), distance); (k, 3) -> (uv (k, 2), points (k, 3), distances (k,)).
py::tuple SurfaceNearestOf(const SurfaceLocator& loc, const DoubleArray& points, long threads) {
    CheckSearchable(loc.GetStatus(), "surface");
    const std::size_t t = ToThreads(threads);
    const bool single = points.ndim() == 1;
    const std::vector<Point3> P = ToPoints3(points, "points", true);
    std::vector<SurfaceNearest> r(P.size());
    {
        py::gil_scoped_release release;
        loc.Nearest(P.data(), P.size(), r.data(), t);
    }
    std::vector<Point3> feet(P.size());
    std::vector<double> d(P.size());
    py::array_t<double> uv({static_cast<py::ssize_t>(P.size()), py::ssize_t{2}});
    double* w = uv.mutable_data();
    for (std::size_t i = 0; i < P.size(); ++i) {
        w[2 * i] = r[i].u;
        w[2 * i + 1] = r[i].v;
        feet[i] = r[i].point;
        d[i] = r[i].distance;
    }
    if (single) {
        py::array_t<double> foot(3);
        std::copy(feet[0].v, feet[0].v + 3, foot.mutable_data());
        return py::make_tuple(r[0].u, r[0].v, foot, d[0]);
    }
    return py::make_tuple(uv, FromPoints3(feet), FromVector(d));
}

py::list AllNearest(const CurveLocator& loc, const py::handle& point, double relTol) {
    CheckSearchable(loc.GetStatus(), "curve");
    if (!(relTol >= 0.0)) ThrowValue("rel_tol must be a number >= 0");
    const Point3 q = ToPoint3(point, "point");
    std::vector<CurveNearest> r;
    {
        py::gil_scoped_release release;
        r = loc.AllNearest(q, relTol);
    }
    py::list out;
    for (const CurveNearest& c : r) {
        py::array_t<double> foot(3);
        std::copy(c.point.v, c.point.v + 3, foot.mutable_data());
        out.append(py::make_tuple(c.parameter, foot, c.distance));
    }
    return out;
}

py::list AllNearestSurface(const SurfaceLocator& loc, const py::handle& point, double relTol) {
    CheckSearchable(loc.GetStatus(), "surface");
    if (!(relTol >= 0.0)) ThrowValue("rel_tol must be a number >= 0");
    const Point3 q = ToPoint3(point, "point");
    std::vector<SurfaceNearest> r;
    {
        py::gil_scoped_release release;
        r = loc.AllNearest(q, relTol);
    }
    py::list out;
    for (const SurfaceNearest& c : r) {
        py::array_t<double> foot(3);
        std::copy(c.point.v, c.point.v + 3, foot.mutable_data());
        out.append(py::make_tuple(c.u, c.v, foot, c.distance));
    }
    return out;
}

const char* kCurveDoc =
    "Global nearest points: the point of the whole curve nearest to each query (ends included), "
    "unlike project, which refines from one start value and can stop on another branch.\n\n"
    "points (3,) gives (u, point (3,), distance); points (k, 3) gives (u (k,), points (k, 3), "
    "distances (k,)); (2,), (k, 2) are planar (z = 0); dims=2 returns the points as (x, y). "
    "threads: 0 = every hardware thread, results identical for any count. Builds the search "
    "structure on every call: keep a CurveLocator to query one curve repeatedly.";

const char* kSurfaceDoc =
    "Global nearest points on the surface (edges and corners included), unlike project, which "
    "refines from the nearest knot pair.\n\npoints (3,) gives (u, v, point (3,), distance); points "
    "(k, 3) gives (uv (k, 2), points (k, 3), distances (k,)). threads as for NurbsCurve.nearest. "
    "Keep a SurfaceLocator to query one surface repeatedly.";

}  // namespace

void BindNearest(py::module_& m) {
    auto curve = py::reinterpret_borrow<py::class_<V3dNurbsCurve>>(m.attr("NurbsCurve"));
    curve.def(
        "nearest",
        [](const V3dNurbsCurve& c, const DoubleArray& points, int dims, long threads) {
            const CurveLocator loc(c);
            return CurveNearestOf(loc, points, dims, threads);
        },
        py::arg("points"), py::arg("dims") = 3, py::arg("threads") = 1, kCurveDoc);
    auto surface = py::reinterpret_borrow<py::class_<V3dNurbsSurface>>(m.attr("NurbsSurface"));
    surface.def(
        "nearest",
        [](const V3dNurbsSurface& s, const DoubleArray& points, long threads) {
            const SurfaceLocator loc(s);
            return SurfaceNearestOf(loc, points, threads);
        },
        py::arg("points"), py::arg("threads") = 1, kSurfaceDoc);

    py::class_<CurveLocator>(m, "CurveLocator",
                             "Search structure of one curve for global nearest points (built once, "
                             "queried many times, from any number of threads).")
        .def(py::init<const V3dNurbsCurve&>(), py::arg("curve"))
        .def("nearest", &CurveNearestOf, py::arg("points"), py::arg("dims") = 3, py::arg("threads") = 1,
             "As NurbsCurve.nearest, without rebuilding the search structure.")
        .def("all_nearest", &AllNearest, py::arg("point"), py::arg("rel_tol") = 1e-9,
             "Every local minimum of the distance within rel_tol (relative) of the global one, as a list "
             "of (u, point (3,), distance) in increasing u: both ends of a closed curve's seam, both "
             "branches at equal distance.")
        .def_property_readonly("piece_count", &CurveLocator::GetPieceCount);
    py::class_<SurfaceLocator>(m, "SurfaceLocator", "Search structure of one surface for global nearest points.")
        .def(py::init<const V3dNurbsSurface&>(), py::arg("surface"))
        .def("nearest", &SurfaceNearestOf, py::arg("points"), py::arg("threads") = 1,
             "As NurbsSurface.nearest, without rebuilding the search structure.")
        .def("all_nearest", &AllNearestSurface, py::arg("point"), py::arg("rel_tol") = 1e-9,
             "Every local minimum of the distance within rel_tol (relative) of the global one, as a list "
             "of (u, v, point (3,), distance) in increasing (u, v): both sheets at equal distance, both "
             "sides of a seam; representatives of a continuum of minima (a sphere's centre).")
        .def_property_readonly("patch_count", &SurfaceLocator::GetPatchCount);
}

}  // namespace velsdk_py
