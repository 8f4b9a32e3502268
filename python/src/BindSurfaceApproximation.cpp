// Bindings of grid approximation to a tolerance: velsdk_nurbs.approximate_surface and the
// SurfaceFitReport that the surface fits share (registered here once; other surface fits
// return the same class).
#include "Common.h"

#include <VelSDK/Generators.h>
#include <VelSDK/SurfaceApproximation.h>

#include <string>
#include <utility>
#include <vector>

namespace velsdk_py {

namespace {

namespace NURBS = VelSDK::NURBS;

const char* StatusName(NURBS::SurfaceFitStatus s) {
    switch (s) {
        case NURBS::SurfaceFitStatus::ToleranceMet:
            return "tolerance_met";
        case NURBS::SurfaceFitStatus::ToleranceNotMet:
            return "tolerance_not_met";
        case NURBS::SurfaceFitStatus::InvalidInput:
            break;
    }
    return "invalid_input";
}

std::vector<double> GivenParams(const py::object& given, std::size_t count, const char* name) {
    std::vector<double> t = ToVector(DoubleArray::ensure(given), name);
    if (t.size() != count) ThrowValue(std::string(name) + " must hold one value per grid row (column)");
    return t;
}

py::tuple ApproximateSurface(const DoubleArray& grid, double tolerance, std::size_t degreeU, std::size_t degreeV,
                             const py::object& params, const py::object& weights, std::size_t maxControlPoints,
                             std::size_t maxFits, bool removeKnots, long threads) {
    if (grid.ndim() != 3 || (grid.shape(2) != 3 && grid.shape(2) != 2))
        ThrowValue("grid must have shape (m, n, 3) or (m, n, 2) (z = 0)");
    const std::size_t m = static_cast<std::size_t>(grid.shape(0)), n = static_cast<std::size_t>(grid.shape(1));
    NURBS::VMatrix<Point3> Q(m, n, Point3{0.0, 0.0, 0.0});
    const DoubleArray flat = DoubleArray::ensure(grid.attr("reshape")(py::make_tuple(m * n, grid.shape(2))));
    if (m != 0 && n != 0) Q.Elements() = ToPoints3(flat, "grid");
    NURBS::SurfaceApproximationOptions o;
    o.degreeU = degreeU;
    o.degreeV = degreeV;
    if (py::isinstance<py::str>(params)) {
        const std::string kind = params.cast<std::string>();
        if (kind == "uniform") {
            o.paramsU = NURBS::UniformParameterization(m);
            o.paramsV = NURBS::UniformParameterization(n);
        } else if (kind != "chord") {
            ThrowValue("params must be 'chord', 'uniform' or a pair (params_u, params_v)");
        }
    } else {
        const py::tuple pair = params.cast<py::tuple>();
        if (pair.size() != 2) ThrowValue("params must be 'chord', 'uniform' or a pair (params_u, params_v)");
        o.paramsU = GivenParams(pair[0], m, "params_u");
        o.paramsV = GivenParams(pair[1], n, "params_v");
    }
    if (!weights.is_none()) {
        const DoubleArray w = DoubleArray::ensure(weights);
        if (w.ndim() != 2 || static_cast<std::size_t>(w.shape(0)) != m || static_cast<std::size_t>(w.shape(1)) != n)
            ThrowValue("weights must have shape (m, n), one per grid point");
        o.weights.assign(w.data(), w.data() + m * n);
    }
    o.maxControlPoints = maxControlPoints;
    o.maxFits = maxFits;
    o.removeKnots = removeKnots;
    o.threads = ToThreads(threads);
    NURBS::SurfaceFitResult r;
    {
        py::gil_scoped_release release;
        r = NURBS::ApproximateSurface(Q, tolerance, o);
    }
    if (r.report.status == NURBS::SurfaceFitStatus::InvalidInput) ThrowValue(r.report.message);
    return py::make_tuple(std::move(r.surface), std::move(r.report));
}

}  // namespace

void BindSurfaceFitReport(py::module_& m) {
    using R = NURBS::SurfaceFitReport;
    py::class_<R>(m, "SurfaceFitReport",
                  "What a surface fit achieved: the distance of every point to the surface and its foot parameters, "
                  "their largest value and rms, the worst point, the control-point counts, and whether the "
                  "tolerance was met.")
        .def_property_readonly(
            "status", [](const R& r) { return StatusName(r.status); }, "'tolerance_met' or 'tolerance_not_met'.")
        .def_property_readonly("tolerance_met",
                               [](const R& r) { return r.status == NURBS::SurfaceFitStatus::ToleranceMet; })
        .def_readonly("message", &R::message)
        .def_readonly("tolerance", &R::tolerance)
        .def_readonly("max_error", &R::maxError, "Largest distance of a point to the surface.")
        .def_readonly("rms", &R::rms, "Root mean square of the distances.")
        .def_readonly("worst_index", &R::worstIndex, "Index of the point at the largest distance (row-major).")
        .def_property_readonly(
            "errors", [](const R& r) { return FromVector(r.errors); }, "Distance of every point, (N,).")
        .def_property_readonly(
            "u", [](const R& r) { return FromVector(r.u); }, "u of every point's foot on the surface, (N,).")
        .def_property_readonly(
            "v", [](const R& r) { return FromVector(r.v); }, "v of every point's foot on the surface, (N,).")
        .def_readonly("control_points_u", &R::controlPointsU)
        .def_readonly("control_points_v", &R::controlPointsV)
        .def_readonly("fits", &R::fits, "Least-squares solves spent.")
        .def_readonly("smoothing", &R::smoothing, "Smoothing weight used (0 without smoothing).")
        .def_property_readonly("max_error_per_round", [](const R& r) { return FromVector(r.maxErrorPerRound); })
        .def_property_readonly("rms_per_round", [](const R& r) { return FromVector(r.rmsPerRound); })
        .def("__repr__", [](const R& r) {
            return "SurfaceFitReport(" + std::string(StatusName(r.status)) +
                   ", control_points=" + std::to_string(r.controlPointsU) + "x" + std::to_string(r.controlPointsV) +
                   ", max_error=" + py::repr(py::float_(r.maxError)).cast<std::string>() +
                   ", rms=" + py::repr(py::float_(r.rms)).cast<std::string>() +
                   ", worst_index=" + std::to_string(r.worstIndex) + ")";
        });
}

void BindSurfaceApproximation(py::module_& m) {
    m.def("approximate_surface", &ApproximateSurface, py::arg("grid"), py::arg("tol"), py::arg("degree_u") = 3,
          py::arg("degree_v") = 3, py::arg("params") = "chord", py::arg("weights") = py::none(),
          py::arg("max_control_points") = 1000000, py::arg("max_fits") = 400, py::arg("remove_knots") = true,
          py::arg("threads") = 0,
          "A B-spline surface within distance tol of every point of the grid (m, n, 3) (or (m, n, 2), z = 0) "
          "with as few control points per direction as the search finds: returns (NurbsSurface, "
          "SurfaceFitReport) with the true distance of every point (global projection).\n\n"
          "degree_u, degree_v 1..9; params 'chord' (averaged chord length), 'uniform' (right for a height field "
          "on an even grid) or a pair (params_u (m,), params_v (n,)) from 0 to 1; weights (m, n) > 0 pull "
          "harder; max_control_points bounds nu * nv; max_fits bounds the least-squares fits; remove_knots "
          "tries every interior knot out at the end. Raises ValueError for bad input (NaN points, fewer rows "
          "or columns than degree + 1, tol <= 0 or not finite, ...). A tol the bound or budget does not reach "
          "gives report.status == 'tolerance_not_met' with the best surface found.");
}

}  // namespace velsdk_py
