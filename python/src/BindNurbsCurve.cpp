// Bindings of V3dNurbsCurve as velsdk_nurbs.NurbsCurve, and the module functions
// interpolate and approximate.
//
// A NurbsCurve is immutable from Python: knot operations return new curves. That is what
// lets the vectorised members run without the GIL: no Python thread can change the curve
// while another evaluates it.
#include "BindGenerators.h"
#include "Common.h"

#include <VelSDK/BatchEvaluation.h>
#include <VelSDK/BatchProjection.h>
#include <VelSDK/Generators.h>
#include <VelSDK/V3dNurbsCurve.h>

#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <sstream>

namespace velsdk_py {

using VelSDK::NURBS::V3dNurbsCurve;
namespace NURBS = VelSDK::NURBS;

namespace {

// A curve that Python code may evaluate: valid (n >= 1, n + p + 1 non-decreasing knots), at
// least p + 1 control points, finite knots. Weights were checked on conversion.
void CheckCurve(const V3dNurbsCurve& c) {
    if (c.GetControlPoints().empty()) ThrowValue("a curve needs at least one control point");
    const std::size_t n = c.GetControlPoints().size();
    const std::size_t p = c.GetDegree();
    if (p >= n) ThrowValue("a curve of degree p needs at least p + 1 control points");
    if (c.GetKnots().size() != n + p + 1) ThrowValue("knots must hold len(control_points) + degree + 1 values");
    if (!AllFinite(c.GetKnots())) ThrowValue("knots must be finite");
    if (!c.IsValid()) ThrowValue("knots must be non-decreasing");
    if (!(c.GetMinParam() < c.GetMaxParam())) ThrowValue("the domain [knots[p], knots[n]] must not be empty");
}

V3dNurbsCurve MakeCurve(const DoubleArray& controlPoints, const DoubleArray& knots, std::size_t degree,
                        const py::object& weights) {
    V3dNurbsCurve c(ToControlPoints(controlPoints, weights), ToVector(knots, "knots"), degree);
    CheckCurve(c);
    return c;
}

py::array_t<double> Evaluate(const V3dNurbsCurve& c, const DoubleArray& u, int dims, long threads) {
    CheckDims(dims);
    const std::size_t t = ToThreads(threads);
    py::array_t<double> out(ShapeWith(u, {3}));
    const double* in = u.data();
    double* o = out.mutable_data();
    const std::size_t count = static_cast<std::size_t>(u.size());
    {
        py::gil_scoped_release release;
        VelSDK::Batch::EvaluateMany(c, in, count, o, t);
    }
    return KeepDims(out, dims);
}

py::array_t<double> EvaluateH(const V3dNurbsCurve& c, const DoubleArray& u) {
    py::array_t<double> out(ShapeWith(u, {4}));
    const double* in = u.data();
    double* o = out.mutable_data();
    const std::size_t count = static_cast<std::size_t>(u.size());
    {
        py::gil_scoped_release release;
        for (std::size_t i = 0; i < count; ++i) {
            const Point4 p = c.EvaluateAtH(in[i]);
            for (std::size_t j = 0; j < 4; ++j) o[4 * i + j] = p[j];
        }
    }
    return out;
}

py::array_t<double> Derivatives(const V3dNurbsCurve& c, const DoubleArray& u, std::size_t order, int dims,
                                long threads) {
    if (order > 1000) ThrowValue("order must not exceed 1000");
    CheckDims(dims);
    const std::size_t t = ToThreads(threads);
    const py::ssize_t k1 = static_cast<py::ssize_t>(order + 1);
    py::array_t<double> out(ShapeWith(u, {k1, 3}));
    const double* in = u.data();
    double* o = out.mutable_data();
    const std::size_t count = static_cast<std::size_t>(u.size());
    {
        py::gil_scoped_release release;
        VelSDK::Batch::DeriveMany(c, in, count, order, o, t);
    }
    return KeepDims(out, dims);
}

py::tuple Project(const V3dNurbsCurve& c, const DoubleArray& points, std::size_t maxIterations, double tolerance,
                  int dims, long threads) {
    if (!(tolerance > 0.0) || !std::isfinite(tolerance)) ThrowValue("tolerance must be a positive number");
    CheckDims(dims);
    const std::size_t t = ToThreads(threads);
    const bool single = points.ndim() == 1;
    const std::vector<Point3> P = ToPoints3(points, "points", true);
    std::vector<double> params(P.size());
    std::vector<Point3> feet(P.size());
    {
        py::gil_scoped_release release;
        const auto r = VelSDK::Batch::ProjectMany(c, P, maxIterations, tolerance, t);
        for (std::size_t i = 0; i < P.size(); ++i) {
            feet[i] = r[i].first;
            params[i] = r[i].second;
        }
    }
    if (single) {
        py::array_t<double> foot(3);
        std::copy(feet[0].v, feet[0].v + 3, foot.mutable_data());
        return py::make_tuple(params[0], KeepDims(foot, dims));
    }
    return py::make_tuple(FromVector(params), KeepDims(FromPoints3(feet), dims));
}

// Knots to insert: sorted, inside the domain, and no knot above multiplicity p + 1.
V3dNurbsCurve InsertKnots(const V3dNurbsCurve& c, const DoubleArray& values) {
    std::vector<double> X = ToVector(values, "knots", true);
    if (X.empty()) return c;
    if (!AllFinite(X)) ThrowValue("knots to insert must be finite");
    if (!NonDecreasing(X)) ThrowValue("knots to insert must be sorted in ascending order");
    if (X.front() < c.GetMinParam() || X.back() > c.GetMaxParam())
        ThrowValue("knots to insert must lie inside the domain");
    const std::vector<double>& U = c.GetKnots();
    const std::size_t p = c.GetDegree();
    for (std::size_t i = 0; i < X.size();) {
        std::size_t j = i;
        while (j < X.size() && X[j] == X[i]) ++j;
        const std::size_t existing = static_cast<std::size_t>(std::count(U.begin(), U.end(), X[i]));
        if (existing + (j - i) > p + 1) ThrowValue("a knot would exceed multiplicity degree + 1");
        i = j;
    }
    V3dNurbsCurve r(c);
    {
        py::gil_scoped_release release;
        r.InsertKnots(X);
    }
    return r;
}

py::tuple Split(const V3dNurbsCurve& c, double u) {
    V3dNurbsCurve left, right;
    if (!c.SplitAt(u, left, right)) ThrowValue("the split parameter must lie strictly inside the domain");
    return py::make_tuple(std::move(left), std::move(right));
}

V3dNurbsCurve Clamped(const V3dNurbsCurve& c) {
    V3dNurbsCurve r(c);
    r.Clamp();
    return r;
}

bool IsRational(const V3dNurbsCurve& c) {
    for (const Point4& p : c.GetControlPoints())
        if (p[3] != 1.0) return true;
    return false;
}

std::string Repr(const V3dNurbsCurve& c) {
    std::ostringstream s;
    s.precision(17);
    s << "NurbsCurve(degree=" << c.GetDegree() << ", control_points=" << c.GetControlPoints().size() << ", domain=("
      << c.GetMinParam() << ", " << c.GetMaxParam() << ")" << (IsRational(c) ? ", rational" : "") << ")";
    return s.str();
}

bool Equal(const V3dNurbsCurve& a, const V3dNurbsCurve& b) {
    return a.GetDegree() == b.GetDegree() && a.GetKnots() == b.GetKnots() &&
           a.GetControlPoints() == b.GetControlPoints();
}

// --- Fitting --------------------------------------------------------------------------------

std::vector<double> CheckedParams(const py::object& params, std::size_t expected, const char* what) {
    std::vector<double> u = ToVector(DoubleArray::ensure(params), "params");
    if (u.size() != expected) ThrowValue(std::string("params must hold ") + what);
    if (!AllFinite(u) || !NonDecreasing(u)) ThrowValue("params must be finite and non-decreasing");
    return u;
}

std::vector<double> CheckedKnots(const py::object& knots, std::size_t expected, const char* what) {
    std::vector<double> U = ToVector(DoubleArray::ensure(knots), "knots");
    if (U.size() != expected) ThrowValue(std::string("knots must hold ") + what);
    if (!AllFinite(U) || !NonDecreasing(U)) ThrowValue("knots must be finite and non-decreasing");
    return U;
}

V3dNurbsCurve Interpolate(const DoubleArray& points, const py::object& params, const py::object& knots,
                          std::size_t degree, bool closed, const py::object& endDerivatives) {
    if (degree < 1) ThrowValue("degree must be at least 1");
    const std::vector<Point3> data = ToPoints3(points, "points");
    const std::size_t N = data.size();
    const std::size_t p = degree;
    V3dNurbsCurve c;
    bool ok = false;
    if (!endDerivatives.is_none()) {
        if (closed) ThrowValue("end_derivatives cannot be combined with closed=True");
        if (N < 2) ThrowValue("interpolation with end derivatives needs at least 2 points");
        if (p > N + 1) ThrowValue("interpolation with end derivatives needs at least degree - 1 points");
        const py::sequence ends = endDerivatives.cast<py::sequence>();
        if (py::len(ends) != 2) ThrowValue("end_derivatives must be a pair (start, end) of 3-vectors");
        const std::pair<Point3, Point3> D{ToPoint3(ends[0], "start derivative"), ToPoint3(ends[1], "end derivative")};
        const std::vector<double> u =
            params.is_none() ? ChordLengthParameters(data, p, false) : CheckedParams(params, N, "one value per point");
        std::vector<double> U;
        if (knots.is_none()) {
            U = NURBS::KnotAveragingWithEndDerivatives(u, p);
            if (U.size() != N + p + 3) ThrowValue("too few points for this degree");
        } else {
            U = CheckedKnots(knots, N + p + 3, "len(points) + degree + 3 values");
            // The derivative rows assume a knot vector clamped on [0, 1].
            if (U.front() != 0.0 || U.back() != 1.0)
                ThrowValue("with end_derivatives the knots must start at 0.0 and end at 1.0");
        }
        py::gil_scoped_release release;
        ok = c.GlobalInterpolationWithEndDerivatives(data, u, U, D, p);
    } else if (closed) {
        if (p >= N) ThrowValue("closed interpolation needs at least degree + 1 points");
        const std::vector<Point3> wrapped = WrapClosed(data, p);
        const std::vector<double> u = params.is_none()
                                          ? ChordLengthParameters(wrapped, p, true)
                                          : CheckedParams(params, N + p, "len(points) + degree values when closed");
        const std::vector<double> U = knots.is_none()
                                          ? NURBS::KnotAveragingClosed(u, p)
                                          : CheckedKnots(knots, N + 2 * p + 1, "len(points) + 2 degree + 1 values");
        py::gil_scoped_release release;
        ok = c.GlobalInterpolation(wrapped, u, U, p, true);
    } else {
        if (p >= N) ThrowValue("interpolation needs at least degree + 1 points");
        const std::vector<double> u =
            params.is_none() ? ChordLengthParameters(data, p, false) : CheckedParams(params, N, "one value per point");
        const std::vector<double> U = knots.is_none()
                                          ? NURBS::KnotAveraging(u, p)
                                          : CheckedKnots(knots, N + p + 1, "len(points) + degree + 1 values");
        py::gil_scoped_release release;
        ok = c.GlobalInterpolation(data, u, U, p, false);
    }
    if (!ok)
        ThrowNurbsError(
            "interpolation failed: the linear system is singular (every control point needs a parameter in the "
            "support of its basis function)");
    return c;
}

V3dNurbsCurve Approximate(const DoubleArray& points, const py::object& numControlPoints, const py::object& params,
                          const py::object& knots, std::size_t degree) {
    if (degree < 1) ThrowValue("degree must be at least 1");
    const std::vector<Point3> data = ToPoints3(points, "points");
    const std::size_t N = data.size();
    const std::size_t p = degree;
    const std::size_t nc = numControlPoints.is_none() ? N : numControlPoints.cast<std::size_t>();
    if (nc <= p) ThrowValue("num_control_points must be at least degree + 1");
    if (nc > N) ThrowValue("num_control_points must not exceed the number of points");
    const std::vector<double> u =
        params.is_none() ? ChordLengthParameters(data, p, false) : CheckedParams(params, N, "one value per point");
    std::vector<double> U;
    if (!knots.is_none())
        U = CheckedKnots(knots, nc + p + 1, "num_control_points + degree + 1 values");
    else
        U = nc == N ? NURBS::KnotAveraging(u, p) : NURBS::UniformKnots(nc + p + 1, p);
    V3dNurbsCurve c;
    bool ok;
    {
        py::gil_scoped_release release;
        ok = c.LeastSquaresApproximation(data, u, U, nc, p);
    }
    if (!ok)
        ThrowNurbsError(
            "approximation failed: the normal equations are singular (every interior control point needs interior "
            "parameters in its support)");
    return c;
}

}  // namespace

void BindNurbsCurve(py::module_& m) {
    py::class_<V3dNurbsCurve> cls(m, "NurbsCurve",
                                  "An immutable NURBS curve in 3-D: control points, knots and a degree.\n\n"
                                  "Evaluation outside the domain extrapolates the first or last polynomial piece. "
                                  "Knot operations return new curves.");
    cls.def(py::init(&MakeCurve), py::arg("control_points"), py::arg("knots"), py::arg("degree"),
            py::arg("weights") = py::none(),
            "Builds a curve from control points (n, 3) (or (n, 2), z = 0) with optional weights (n,), or "
            "homogeneous control "
            "points (n, 4) stored as (w*x, w*y, w*z, w); knots (n + degree + 1,), non-decreasing. "
            "Raises ValueError for data that does not form a curve.");

    cls.def_property_readonly(
        "degree", [](const V3dNurbsCurve& c) { return c.GetDegree(); }, "The degree p.");
    cls.def_property_readonly(
        "order", [](const V3dNurbsCurve& c) { return c.GetOrder(); }, "The order p + 1.");
    cls.def_property_readonly(
        "knots", [](const V3dNurbsCurve& c) { return FromVector(c.GetKnots()); }, "The knot vector, shape (m,).");
    cls.def_property_readonly(
        "control_points", [](const V3dNurbsCurve& c) { return CartesianOf(c.GetControlPoints()); },
        "Cartesian control points, shape (n, 3).");
    cls.def_property_readonly(
        "weights", [](const V3dNurbsCurve& c) { return WeightsOf(c.GetControlPoints()); }, "Weights, shape (n,).");
    cls.def_property_readonly(
        "homogeneous_control_points", [](const V3dNurbsCurve& c) { return HomogeneousOf(c.GetControlPoints()); },
        "Stored control points (w*x, w*y, w*z, w), shape (n, 4).");
    cls.def_property_readonly(
        "num_control_points", [](const V3dNurbsCurve& c) { return c.GetControlPoints().size(); },
        "The number n of control points.");
    cls.def_property_readonly(
        "domain", [](const V3dNurbsCurve& c) { return py::make_tuple(c.GetMinParam(), c.GetMaxParam()); },
        "The parameter range (knots[p], knots[n]).");
    cls.def_property_readonly("is_clamped", &V3dNurbsCurve::IsClamped,
                              "Whether both ends carry a knot of multiplicity degree + 1.");
    cls.def_property_readonly("is_rational", &IsRational, "Whether any weight differs from 1.");

    cls.def("evaluate", &Evaluate, py::arg("u"), py::arg("dims") = 3, py::arg("threads") = 1,
            "Points at the parameters u (scalar or array of any shape); returns u.shape + (3,), or "
            "u.shape + (2,) with dims=2 (x, y only: planar curves). threads: threads to spread the points "
            "over (0 = every hardware thread); the result is the same for any count.");
    cls.def("__call__", &Evaluate, py::arg("u"), py::arg("dims") = 3, py::arg("threads") = 1,
            "Same as evaluate(u, dims, threads).");
    cls.def("evaluate_homogeneous", &EvaluateH, py::arg("u"),
            "Homogeneous points (w*x, w*y, w*z, w) at u; returns u.shape + (4,).");
    cls.def("derivatives", &Derivatives, py::arg("u"), py::arg("order") = 1, py::arg("dims") = 3,
            py::arg("threads") = 1,
            "Point and derivatives 0..order at u; returns u.shape + (order + 1, 3) (last axis 2 with "
            "dims=2). Derivatives above the degree are zero. threads as for evaluate.");
    cls.def("project", &Project, py::arg("points"), py::arg("max_iterations") = 100, py::arg("tolerance") = 1e-9,
            py::arg("dims") = 3, py::arg("threads") = 1,
            "Nearest curve points by Newton iteration from the nearest knot value.\n\n"
            "points (3,) gives (u, point (3,)); points (k, 3) gives (u (k,), points (k, 3)); (2,) and (k, 2) "
            "are planar points (z = 0); dims=2 returns the feet as (x, y). The tolerance is "
            "a distance (point coincidence, parameter change) and a cosine (perpendicularity).");
    cls.def("insert_knots", &InsertKnots, py::arg("knots"),
            "A new curve with the knots (scalar or sorted 1-D array inside the domain) inserted; same shape.");
    cls.def("split", &Split, py::arg("u"),
            "(left, right): the pieces on [start, u] and [u, end], both clamped at u. u must lie strictly "
            "inside the domain.");
    cls.def("clamp", &Clamped, "A new curve with both ends clamped over the same domain and the same shape.");

    cls.def("__eq__", &Equal, py::arg("other"), "Exact equality of degree, knots and control points.");
    cls.def("__repr__", &Repr);
    cls.def(py::pickle(
        [](const V3dNurbsCurve& c) {
            return py::make_tuple(HomogeneousOf(c.GetControlPoints()), FromVector(c.GetKnots()), c.GetDegree());
        },
        [](const py::tuple& t) {
            if (t.size() != 3) ThrowValue("invalid NurbsCurve state");
            return MakeCurve(DoubleArray::ensure(t[0]), DoubleArray::ensure(t[1]), t[2].cast<std::size_t>(),
                             py::none());
        }));

    m.def("interpolate", &Interpolate, py::arg("points"), py::arg("params") = py::none(), py::arg("knots") = py::none(),
          py::arg("degree") = 3, py::arg("closed") = false, py::arg("end_derivatives") = py::none(),
          "Global interpolation of points (N, 3) or planar points (N, 2) (z = 0): a non-rational curve "
          "through every point.\n\n"
          "Open: params (N,) default to chord-length parameters, knots (N + degree + 1,) to averaged knots.\n"
          "closed=True: the first degree points are repeated at the end; params (N + degree,) default to "
          "chord_length_parameters(points, closed=True, degree), knots (N + 2 degree + 1,) to "
          "knot_averaging_closed. The curve has N + degree control points, the last degree equal to the "
          "first.\n"
          "end_derivatives=(start, end): first derivatives prescribed at both ends (knots clamped on [0, 1], "
          "default knot_averaging_with_end_derivatives); N + 2 control points.\n\n"
          "Raises NurbsError when the system is singular.");
    m.def("approximate", &Approximate, py::arg("points"), py::arg("num_control_points") = py::none(),
          py::arg("params") = py::none(), py::arg("knots") = py::none(), py::arg("degree") = 3,
          "Least-squares approximation of points (N, 3) or (N, 2) (z = 0) with fixed end points.\n\n"
          "num_control_points defaults to N; params (N,) default to chord-length parameters; knots "
          "(num_control_points + degree + 1,) default to averaged knots when num_control_points == N and "
          "to uniform clamped knots otherwise. Raises NurbsError when the normal equations are singular.");
}

}  // namespace velsdk_py
