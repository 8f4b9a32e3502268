// Bindings of approximation to a tolerance: velsdk_nurbs.approximate_to_tolerance and its
// ApproximationReport.
#include "Common.h"

#include <VelSDK/ApproximateToTolerance.h>

#include <pybind11/stl.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace velsdk_py {

namespace {

namespace NURBS = VelSDK::NURBS;

const char* StatusName(NURBS::ApproximationStatus s) {
    switch (s) {
        case NURBS::ApproximationStatus::ToleranceMet:
            return "tolerance_met";
        case NURBS::ApproximationStatus::ToleranceNotMet:
            return "tolerance_not_met";
        case NURBS::ApproximationStatus::InvalidInput:
            break;
    }
    return "invalid_input";
}

py::tuple ApproximateToTolerance(const DoubleArray& points, double tolerance, std::size_t degree, bool closed,
                                 const py::object& weights, const py::object& interpolate,
                                 const py::object& startTangent, const py::object& endTangent,
                                 const std::string& method, const py::object& smoothing) {
    NURBS::ApproximationOptions o;
    const std::vector<Point3> Q = ToPoints3(points, "points");
    o.degree = degree;
    o.closed = closed;
    if (!weights.is_none()) o.weights = ToVector(DoubleArray(weights), "weights");
    if (!interpolate.is_none()) o.interpolate = interpolate.cast<std::vector<std::size_t>>();
    if (!startTangent.is_none()) {
        o.useStartTangent = true;
        o.startTangent = ToPoint3(startTangent, "start_tangent");
    }
    if (!endTangent.is_none()) {
        o.useEndTangent = true;
        o.endTangent = ToPoint3(endTangent, "end_tangent");
    }
    if (method == "smoothing") {
        o.method = NURBS::ApproximationMethod::Smoothing;
        o.smoothing = smoothing.is_none() ? -1.0 : smoothing.cast<double>();
        if (!smoothing.is_none() && !(o.smoothing >= 0.0)) ThrowValue("smoothing must be >= 0 (or None to choose it)");
    } else if (method != "knots") {
        ThrowValue("method must be 'knots' or 'smoothing'");
    }
    NURBS::ApproximationResult r;
    {
        py::gil_scoped_release release;
        r = NURBS::ApproximateToTolerance(Q, tolerance, o);
    }
    if (r.report.status == NURBS::ApproximationStatus::InvalidInput) ThrowValue(r.report.message);
    return py::make_tuple(std::move(r.curve), std::move(r.report));
}

}  // namespace

void BindApproximation(py::module_& m) {
    using R = NURBS::ApproximationReport;
    py::class_<R>(m, "ApproximationReport",
                  "What approximate_to_tolerance achieved: the distance of every point to the curve (at its foot "
                  "point, found by projection), their largest value and rms, the worst point, and whether the "
                  "tolerance was met.")
        .def_property_readonly(
            "status", [](const R& r) { return StatusName(r.status); },
            "'tolerance_met' or 'tolerance_not_met' (the best curve found, the interpolant "
            "when no fewer control points reach the tolerance).")
        .def_property_readonly("tolerance_met",
                               [](const R& r) { return r.status == NURBS::ApproximationStatus::ToleranceMet; })
        .def_readonly("message", &R::message)
        .def_readonly("tolerance", &R::tolerance)
        .def_readonly("max_error", &R::maxError, "Largest distance of a point to the curve.")
        .def_readonly("rms", &R::rms, "Root mean square of the distances.")
        .def_readonly("worst_index", &R::worstIndex, "Index of the point at the largest distance.")
        .def_property_readonly(
            "params", [](const R& r) { return FromVector(r.params); },
            "Parameter of every point's foot point on the curve, (N,).")
        .def_property_readonly(
            "errors", [](const R& r) { return FromVector(r.errors); }, "Distance of every point to the curve, (N,).")
        .def_readonly("control_points", &R::controlPoints,
                      "Distinct control points (a closed curve stores degree more, repeating the first).")
        .def_readonly("fits", &R::fits, "Least-squares solves spent.")
        .def_readonly("smoothing", &R::smoothing, "The smoothing weight used (method='smoothing').")
        .def("__repr__", [](const R& r) {
            return "ApproximationReport(" + std::string(StatusName(r.status)) +
                   ", control_points=" + std::to_string(r.controlPoints) +
                   ", max_error=" + py::repr(py::float_(r.maxError)).cast<std::string>() +
                   ", rms=" + py::repr(py::float_(r.rms)).cast<std::string>() +
                   ", worst_index=" + std::to_string(r.worstIndex) + ")";
        });
    m.def("approximate_to_tolerance", &ApproximateToTolerance, py::arg("points"), py::arg("tol"), py::arg("degree") = 3,
          py::arg("closed") = false, py::arg("weights") = py::none(), py::arg("interpolate") = py::none(),
          py::arg("start_tangent") = py::none(), py::arg("end_tangent") = py::none(), py::arg("method") = "knots",
          py::arg("smoothing") = py::none(),
          "A compact B-spline curve within distance tol of every point (N, 3) or (N, 2) (z = 0): returns "
          "(NurbsCurve, ApproximationReport).\n\n"
          "degree 1..5; closed=True gives a periodic curve (C^(degree-1) everywhere) on [0, 1]; weights (N,) > 0 "
          "pull harder; interpolate lists point indices met exactly; start_tangent/end_tangent are directions at "
          "the ends of an open curve. method='knots' searches the fewest control points (knot insertion, "
          "parameter correction, knot removal); method='smoothing' fits with a curvature penalty, smoothing = "
          "its weight or None to choose the largest that meets tol. Raises ValueError for bad input (fewer "
          "points than degree + 1, NaN or coincident points, tol <= 0 or not finite, ...). A tol no curve with "
          "fewer control points reaches gives report.status == 'tolerance_not_met'.");
}

}  // namespace velsdk_py
