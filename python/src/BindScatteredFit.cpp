// Bindings of the scattered-data fits: velsdk_nurbs.fit_scattered (height fields and point
// clouds), returning the surface and the SurfaceFitReport shared with approximate_surface.
#include "Common.h"

#include <VelSDK/ScatteredFit.h>

#include <pybind11/stl.h>

#include <string>
#include <utility>
#include <vector>

namespace velsdk_py {

namespace {

namespace NURBS = VelSDK::NURBS;

py::tuple FitScattered(const DoubleArray& points, const py::object& tol, const std::string& kind,
                       const py::object& params, const py::object& smoothing, std::size_t degreeU, std::size_t degreeV,
                       const py::object& controlPoints, const py::object& weights, std::size_t correctionRounds,
                       std::size_t maxControlPoints, const std::string& solver, long threads) {
    NURBS::ScatteredFitOptions o;
    const std::vector<Point3> Q = ToPoints3(points, "points");
    o.degreeU = degreeU;
    o.degreeV = degreeV;
    o.tolerance = tol.is_none() ? 0.0 : tol.cast<double>();
    if (!smoothing.is_none()) {
        o.smoothing = smoothing.cast<double>();
        if (!(o.smoothing >= 0.0)) ThrowValue("smoothing must be >= 0 (or None to choose it)");
    }
    if (!controlPoints.is_none()) {
        const auto counts = controlPoints.cast<std::pair<std::size_t, std::size_t>>();
        o.controlPointsU = counts.first;
        o.controlPointsV = counts.second;
    }
    if (!weights.is_none()) o.weights = ToVector(DoubleArray(weights), "weights");
    o.correctionRounds = correctionRounds;
    o.maxControlPoints = maxControlPoints;
    o.threads = ToThreads(threads);
    if (solver == "cg")
        o.solver = NURBS::ScatteredSolver::ConjugateGradient;
    else if (solver == "banded")
        o.solver = NURBS::ScatteredSolver::BandedCholesky;
    else if (solver != "ldlt")
        ThrowValue("solver must be 'ldlt', 'cg' or 'banded'");
    std::vector<VelSDK::Math::point<double, 2>> uv;
    if (!params.is_none()) {
        const DoubleArray a(params);
        if (a.ndim() != 2 || a.shape(1) != 2) ThrowValue("params must have shape (N, 2)");
        const auto r = a.unchecked<2>();
        for (py::ssize_t k = 0; k < a.shape(0); ++k) uv.push_back({r(k, 0), r(k, 1)});
    }
    const bool cloud = kind == "cloud" || !uv.empty();
    if (kind != "cloud" && kind != "height") ThrowValue("kind must be 'height' or 'cloud'");
    NURBS::SurfaceFitResult r;
    {
        py::gil_scoped_release release;
        r = cloud ? NURBS::FitPointCloud(Q, uv, o) : NURBS::FitHeightField(Q, o);
    }
    if (r.report.status == NURBS::SurfaceFitStatus::InvalidInput) ThrowValue(r.report.message);
    return py::make_tuple(std::move(r.surface), std::move(r.report));
}

}  // namespace

void BindScatteredFit(py::module_& m) {
    m.def("fit_scattered", &FitScattered, py::arg("points"), py::arg("tol") = py::none(), py::arg("kind") = "height",
          py::arg("params") = py::none(), py::arg("smoothing") = py::none(), py::arg("degree_u") = 3,
          py::arg("degree_v") = 3, py::arg("control_points") = py::none(), py::arg("weights") = py::none(),
          py::arg("correction_rounds") = 3, py::arg("max_control_points") = 40000, py::arg("solver") = "ldlt",
          py::arg("threads") = 0,
          "A B-spline surface fitted to scattered points (N, 3): returns (NurbsSurface, SurfaceFitReport).\n\n"
          "kind='height': z = f(x, y) over the bounding rectangle of (x, y), parametrised by x and y; the "
          "report's errors are vertical distances. kind='cloud' (implied by params (N, 2)): a surface "
          "through a 3-D cloud, parameters given or found on the least-squares plane, then corrected "
          "correction_rounds times; errors are true distances. tol: knots are inserted until every point is "
          "within tol (None: one fit on control_points = (nu, nv), picked from the point count when None). "
          "smoothing: the weight of the thin-plate energy, None to choose it (cross-validation without tol). "
          "solver 'ldlt' (sparse LDL^T), 'cg' or 'banded'. Raises ValueError for bad input (NaN points, all "
          "points on one line, lambda < 0, fewer points than control points without smoothing, ...).");
}

}  // namespace velsdk_py
