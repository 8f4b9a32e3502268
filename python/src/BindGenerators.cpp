// Bindings of the parameter and knot-vector generators, and the chord-length
// parameterization used by the module's fitting functions.
#include "BindGenerators.h"

#include <VelSDK/Generators.h>

#include <cmath>

namespace velsdk_py {

namespace NURBS = VelSDK::NURBS;

// Chord-length parameters, the same rule (and order of operations) as the fitted curve's:
// u[k] = d[k-1] / total + u[k-1] with d the Euclidean chord lengths and total the sum of the
// first m chords (m = n - 1 open, m = n - p closed, where the list is the wrapped one);
// k / m when the total is not above DBL_EPSILON; an open list ends at exactly 1.0.
std::vector<double> ChordLengthParameters(const std::vector<Point3>& Q, std::size_t p, bool closed) {
    const std::size_t n = Q.size();
    std::vector<double> u(n, 0.0);
    if (n < 2) return u;
    if (closed && n < p + 1) return u;
    std::vector<double> d(n - 1);
    for (std::size_t k = 0; k + 1 < n; ++k) {
        const double dx = Q[k][0] - Q[k + 1][0];
        const double dy = Q[k][1] - Q[k + 1][1];
        const double dz = Q[k][2] - Q[k + 1][2];
        d[k] = std::sqrt(dx * dx + dy * dy + dz * dz);
    }
    const std::size_t m = closed ? n - p : n - 1;
    double total = 0.0;
    for (std::size_t k = 0; k < m; ++k) total += d[k];
    if (m > 0 && total > 2.220446049250313e-16) {
        for (std::size_t k = 1; k < n; ++k) u[k] = d[k - 1] / total + u[k - 1];
    } else {
        for (std::size_t k = 1; k < n; ++k) u[k] = static_cast<double>(k) / static_cast<double>(m);
    }
    if (!closed) u[n - 1] = 1.0;
    return u;
}

std::vector<Point3> WrapClosed(const std::vector<Point3>& Q, std::size_t p) {
    std::vector<Point3> wrapped(Q);
    for (std::size_t i = 0; i < p; ++i) wrapped.push_back(Q[i]);
    return wrapped;
}

namespace {

void CheckDegree(std::size_t degree) {
    if (degree < 1) ThrowValue("degree must be at least 1");
}

std::vector<double> NonEmpty(std::vector<double> knots, const char* requirement) {
    if (knots.empty()) ThrowValue(requirement);
    return knots;
}

}  // namespace

void BindGenerators(py::module_& m) {
    m.def(
        "uniform_parameters", [](std::size_t count) { return FromVector(NURBS::UniformParameterization(count)); },
        py::arg("count"), "Equally spaced parameters i / (count - 1), shape (count,); count 1 gives [0.0].");

    m.def(
        "chord_length_parameters",
        [](const DoubleArray& points, bool closed, std::size_t degree) {
            std::vector<Point3> Q = ToPoints3(points, "points");
            if (closed) {
                CheckDegree(degree);
                if (degree >= Q.size()) ThrowValue("a closed list needs at least degree + 1 points");
                return FromVector(ChordLengthParameters(WrapClosed(Q, degree), degree, true));
            }
            return FromVector(ChordLengthParameters(Q, degree, false));
        },
        py::arg("points"), py::arg("closed") = false, py::arg("degree") = 3,
        "Chord-length parameters of points (k, 3), the rule the fitted curve uses.\n\n"
        "Open: shape (k,), from 0.0 to exactly 1.0, proportional to the accumulated distance "
        "between consecutive points. Closed: the points are taken as a loop and the first "
        "`degree` of them are repeated at the end; the result has k + degree values, where "
        "value k (the repeated first point) is 1.0 up to rounding. This is the parameter list "
        "that interpolate(..., closed=True) expects.");

    m.def(
        "uniform_knots",
        [](std::size_t knotCount, std::size_t degree) {
            return FromVector(
                NonEmpty(NURBS::UniformKnots(knotCount, degree), "knot_count must be at least 2 * degree + 1"));
        },
        py::arg("knot_count"), py::arg("degree"),
        "Clamped uniform knot vector of knot_count knots (knot_count - degree - 1 control points): "
        "degree + 1 zeros, equally spaced interior knots, degree + 1 ones.");

    m.def(
        "uniform_knots_closed",
        [](std::size_t knotCount, std::size_t degree) {
            return FromVector(
                NonEmpty(NURBS::UniformKnotsClosed(knotCount, degree), "knot_count must exceed 2 * degree + 1"));
        },
        py::arg("knot_count"), py::arg("degree"),
        "Periodic uniform knot vector: knot i = (i - degree) / (knot_count - 2 degree - 1), so the "
        "domain [knot degree, knot (knot_count - degree - 1)] is [0, 1].");

    m.def(
        "knot_averaging",
        [](const DoubleArray& params, std::size_t degree) {
            CheckDegree(degree);
            return FromVector(NonEmpty(NURBS::KnotAveraging(ToVector(params, "params"), degree),
                                       "knot_averaging needs at least degree parameters"));
        },
        py::arg("params"), py::arg("degree"),
        "Clamped knot vector by averaging degree consecutive parameters (The NURBS Book, eq. 9.8); "
        "n + degree + 1 knots for n parameters, for open interpolation.");

    m.def(
        "knot_averaging_closed",
        [](const DoubleArray& params, std::size_t degree) {
            CheckDegree(degree);
            return FromVector(NonEmpty(NURBS::KnotAveragingClosed(ToVector(params, "params"), degree),
                                       "knot_averaging_closed needs at least degree parameters"));
        },
        py::arg("params"), py::arg("degree"),
        "Periodic averaged knot vector (n + degree + 1 knots) for closed interpolation of the "
        "wrapped parameter list (the first degree points repeated at the end).");

    m.def(
        "knot_averaging_with_end_derivatives",
        [](const DoubleArray& params, std::size_t degree) {
            CheckDegree(degree);
            return FromVector(NonEmpty(NURBS::KnotAveragingWithEndDerivatives(ToVector(params, "params"), degree),
                                       "knot_averaging_with_end_derivatives needs at least degree - 1 parameters"));
        },
        py::arg("params"), py::arg("degree"),
        "Clamped averaged knot vector with two extra control points for prescribed end "
        "derivatives: n + degree + 3 knots for n parameters.");
}

}  // namespace velsdk_py
